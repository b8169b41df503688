#!/usr/bin/env python3
"""A generated directory for the test of qzIsMember's three ways of deciding.

    methods.py ldif BASE DNS_DOMAIN SEED        the entries, for ldapadd
    methods.py primaries BASE SEED              USER_DN<TAB>GROUP_DN lines: the
                                                users to give another primary group
    methods.py questions BASE SEED              USER_DN<TAB>GROUP_DN lines
    methods.py check EXPORT ANSWERS...          compares the answers (JSON lines
                                                of qzIsMember --json --batch) and
                                                checks every member's path

Security and distribution groups of every scope nest at random, loops
included; a distribution group sits inside security groups, and security
groups inside distribution ones; a group holds a crowd of 2,000 users; names
hold '/', quotes, RFC 4514 specials and UTF-8. Everything lives in
OU=Methods under BASE.
"""
import base64
import json
import random
import sys

from differential import b64, escape_value

GROUPS = 24
USERS = 16
CROWD = 2000
SECURITY = [-2147483646, -2147483640, -2147483644]  # global, universal, domain-local
DISTRIBUTION = [2, 8, 4]


def make(seed, base):
    rnd = random.Random(seed)
    ou = 'OU=Methods,' + base
    odd = ['Sales/Marketing', 'Q"uoted" one', 'Caf\u00e9 \u4e2d', 'Plus+Comma, Ltd', 'Back\\slash']

    def group_name(index):
        return odd[index] if index < len(odd) else 'MG%02d' % index

    users = [{'cn': 'MU%02d%s' % (i, '/x' if i % 5 == 0 else ''), 'sam': 'mu%02d' % i}
             for i in range(USERS)]
    for user in users:
        user['dn'] = 'CN=%s,%s' % (escape_value(user['cn']), ou)
    groups = []
    for index in range(GROUPS):
        security = index % 3 != 2
        kinds = SECURITY if security else DISTRIBUTION
        groups.append({'cn': group_name(index), 'sam': 'mg%02d' % index,
                       'type': kinds[rnd.randrange(3)], 'members': []})
    for group in groups:
        group['dn'] = 'CN=%s,%s' % (escape_value(group['cn']), ou)
    for group in groups:
        for user in rnd.sample(users, rnd.randint(0, 2)):
            group['members'].append(user['dn'])
        for other in rnd.sample(groups, rnd.randint(0, 2)):
            if other is not group:
                group['members'].append(other['dn'])
    crowd = ['CN=MC%04d,%s' % (i, ou) for i in range(CROWD)]
    groups[7]['members'] += crowd
    return ou, users, groups, crowd


def write_ldif(seed, base, dns_domain):
    ou, users, groups, crowd = make(seed, base)
    lines = ['dn: ' + ou, 'objectClass: organizationalUnit', '']
    for user in users:
        lines += ['dn:: ' + b64(user['dn']), 'objectClass: user', 'sAMAccountName: ' + user['sam'],
                  'userPrincipalName: %s@%s' % (user['sam'], dns_domain), '']
    for dn in crowd:
        lines += ['dn: ' + dn, 'objectClass: user', 'sAMAccountName: ' + dn[3:9].lower(), '']
    for group in groups:
        lines += ['dn:: ' + b64(group['dn']), 'objectClass: group', 'sAMAccountName: ' + group['sam'],
                  'groupType: %d' % group['type'], '']
    for group in groups:
        if group['members']:
            lines += ['dn:: ' + b64(group['dn']), 'changetype: modify', 'add: member']
            lines += ['member:: ' + b64(member) for member in group['members']]
            lines += ['-', '']
    sys.stdout.write('\n'.join(lines) + '\n')


def write_primaries(seed, base):
    """Three users given a global security group of theirs as primary group."""
    ou, users, groups, _ = make(seed, base)
    rnd = random.Random(seed + 2)
    globals_ = [g for g in groups if g['type'] == SECURITY[0]]
    for user in rnd.sample(users, 3):
        sys.stdout.write('%s\t%s\n' % (user['dn'], rnd.choice(globals_)['dn']))


def write_questions(seed, base):
    ou, users, groups, _ = make(seed, base)
    for user in users:
        for group in groups:
            sys.stdout.write('%s\t%s\n' % (user['dn'], group['dn']))


def read_ldif(path):
    """Entries of an ldapsearch export (no wrapping): DN -> {attr: [values]}."""
    entries = {}
    current = None
    with open(path, encoding='utf-8') as file:
        for line in file:
            line = line.rstrip('\n')
            if not line:
                current = None
                continue
            if line.startswith('#') or ':' not in line:
                continue
            name, _, value = line.partition(':')
            raw = value.startswith(':')
            value = value[1:].strip() if raw else value.strip()
            data = base64.b64decode(value) if raw else value.encode('utf-8')
            if name.lower() == 'dn':
                current = {}
                entries[key(data.decode('utf-8'))] = current
            elif current is not None:
                current.setdefault(name.lower(), []).append(data)
    return entries


def key(dn):
    """A DN compared the way the directory compares: case folded."""
    return dn.lower().replace(', ', ',')


def sid_text(data):
    count = data[1]
    authority = int.from_bytes(data[2:8], 'big')
    subs = [int.from_bytes(data[8 + 4 * i:12 + 4 * i], 'little') for i in range(count)]
    return 'S-%d-%d-' % (data[0], authority) + '-'.join(str(s) for s in subs)


def check(export, answer_files):
    entries = read_ldif(export)
    answers = []
    for path in answer_files:
        with open(path, encoding='utf-8') as file:
            answers.append([json.loads(line) for line in file])
    problems = 0
    members = 0
    for index, first in enumerate(answers[0]):
        verdicts = [a[index]['member'] for a in answers]
        if len(set(verdicts)) != 1 or verdicts[0] is None:
            problems += 1
            print('FAIL: %s in %s: %s' % (first['user'], first['group'],
                                           [(a[index]['member'], a[index]['error']) for a in answers]))
            continue
        if not verdicts[0]:
            continue
        members += 1
        for which, answer in enumerate(answers):
            path = answer[index]['path']
            for upper, lower in zip(path, path[1:]):
                group = entries.get(key(upper), {})
                held = {key(m.decode('utf-8')) for m in group.get('member', [])}
                child = entries.get(key(lower), {})
                primary = False
                if 'objectsid' in child and 'primarygroupid' in child and 'objectsid' in group:
                    own = sid_text(child['objectsid'][0])
                    wanted = own[:own.rfind('-')] + '-' + child['primarygroupid'][0].decode()
                    primary = wanted == sid_text(group['objectsid'][0])
                if key(lower) not in held and not primary:
                    problems += 1
                    print('FAIL: answer %d: %s is no member of %s' % (which, lower, upper))
    print('%d questions, %d members, %d problems' % (len(answers[0]), members, problems))
    return problems == 0 and 0 < members < len(answers[0])


def main():
    mode = sys.argv[1]
    if mode == 'ldif':
        write_ldif(int(sys.argv[4]), sys.argv[2], sys.argv[3])
    elif mode == 'primaries':
        write_primaries(int(sys.argv[3]), sys.argv[2])
    elif mode == 'questions':
        write_questions(int(sys.argv[3]), sys.argv[2])
    else:
        sys.exit(0 if check(sys.argv[2], sys.argv[3:]) else 1)


if __name__ == '__main__':
    main()
