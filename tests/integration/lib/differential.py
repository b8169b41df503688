#!/usr/bin/env python3
"""A generated directory for the differential test of the two backends.

    differential.py ldif BASE DNS_DOMAIN SEED     the entries, for ldapadd
    differential.py questions BASE DNS_DOMAIN SEED   USER<TAB>GROUP lines

Groups nest at random, loops included; names hold every character RFC 4514
escapes, '/' and UTF-8; some display names hold '@'. Everything lives in
OU=Differential under BASE. The same seed gives the same directory and the
same questions, each name in every form a person may type: DOMAIN\\name,
user principal name, DN, canonical name and display name.
"""
import base64
import random
import sys

GROUPS = 30
USERS = 20
SPECIALS = [',', '+', '"', '\\', '<', '>', ';', '=', '/', '#', ' ']
UTF8 = ['\u00e9', '\u00df', '\u4e2d', '\u00c5', '\u0416']


def escape_value(value):
    """RFC 4514 escaping of one attribute value."""
    out = []
    for index, char in enumerate(value):
        if char in ',+"\\<>;=':
            out.append('\\' + char)
        elif char == '#' and index == 0:
            out.append('\\#')
        elif char == ' ' and (index == 0 or index == len(value) - 1):
            out.append('\\ ')
        else:
            out.append(char)
    return ''.join(out)


def canonical_part(value):
    return value.replace('\\', '\\\\').replace('/', '\\/')


def make(seed, base):
    rnd = random.Random(seed)
    ou = 'OU=Differential,' + base

    def name(kind, index):
        # A plain name, or one with a special character or UTF-8 inside.
        word = '%s%02d' % (kind, index)
        choice = index % 4
        if choice == 0:
            return word
        if choice == 1:
            special = SPECIALS[index % len(SPECIALS)]
            if special in '# ':
                return word + ' x' + special + 'y'  # inside, where no escape is needed
            return word + special + 'z'
        if choice == 2:
            return UTF8[index % len(UTF8)] + word
        return 'Smith, ' + word + ' (R/D)'

    users = []
    for index in range(USERS):
        cn = name('User', index)
        display = ('Ann @ Sales %02d' % index) if index % 3 == 0 else cn
        users.append({'cn': cn, 'sam': 'du%02d' % index, 'display': display,
                      'dn': 'CN=%s,%s' % (escape_value(cn), ou)})
    groups = []
    for index in range(GROUPS):
        cn = name('Group', index)
        groups.append({'cn': cn, 'sam': 'dg%02d' % index, 'dn': 'CN=%s,%s' % (escape_value(cn), ou),
                       'display': 'Team @ %02d' % index if index % 5 == 0 else None,
                       'members': []})
    # Nesting: each group gets a few users and a few groups, loops allowed.
    for group in groups:
        for user in rnd.sample(users, rnd.randint(0, 3)):
            group['members'].append(user['dn'])
        for other in rnd.sample(groups, rnd.randint(0, 2)):
            if other is not group:
                group['members'].append(other['dn'])
    return ou, users, groups


def b64(text):
    return base64.b64encode(text.encode('utf-8')).decode('ascii')


def write_ldif(seed, base, dns_domain):
    ou, users, groups = make(seed, base)
    lines = ['dn: ' + ou, 'objectClass: organizationalUnit', '']
    for user in users:
        lines += ['dn:: ' + b64(user['dn']), 'objectClass: user', 'sAMAccountName: ' + user['sam'],
                  'userPrincipalName: %s@%s' % (user['sam'], dns_domain),
                  'displayName:: ' + b64(user['display']), '']
    # Groups first without members, then the members: loops need both ends.
    for group in groups:
        lines += ['dn:: ' + b64(group['dn']), 'objectClass: group', 'sAMAccountName: ' + group['sam']]
        if group['display']:
            lines.append('displayName:: ' + b64(group['display']))
        lines.append('')
    for group in groups:
        if not group['members']:
            continue
        lines += ['dn:: ' + b64(group['dn']), 'changetype: modify', 'add: member']
        lines += ['member:: ' + b64(member) for member in group['members']]
        lines += ['-', '']
    sys.stdout.write('\n'.join(lines) + '\n')


def write_questions(seed, base, dns_domain, netbios):
    ou, users, groups = make(seed, base)
    domain_canonical = dns_domain + '/Differential/'
    rnd = random.Random(seed + 1)

    def user_forms(user):
        return ['%s\\%s' % (netbios, user['sam']), '%s@%s' % (user['sam'], dns_domain), user['dn'],
                domain_canonical + canonical_part(user['cn']), user['display']]

    def group_forms(group):
        forms = ['%s\\%s' % (netbios, group['sam']), group['dn'],
                 domain_canonical + canonical_part(group['cn'])]
        if group['display']:
            forms.append(group['display'])
        return forms

    for _ in range(150):
        user = rnd.choice(users)
        group = rnd.choice(groups)
        sys.stdout.write('%s\t%s\n' % (rnd.choice(user_forms(user)), rnd.choice(group_forms(group))))


def main():
    mode, base, dns_domain, seed = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    if mode == 'ldif':
        write_ldif(seed, base, dns_domain)
    else:
        write_questions(seed, base, dns_domain, sys.argv[5] if len(sys.argv) > 5 else 'CORP')


if __name__ == '__main__':
    main()
