#!/usr/bin/env python3
"""Writes a large Active Directory style LDIF directory for load and walk tests.

One domain, corp.example.test (NetBIOS CORP), with OU=Groups and OU=People.
The groups hang below one top group, "Top" (CORP\\Top):

  --shape tree   Top is the root of a complete tree: group i holds groups
                 i*F+1 .. i*F+F (F = --fanout), so N groups are about
                 log_F(N) levels deep.
  --shape chain  group i holds group i+1 only: N levels deep.
  --shape levels Top and then --depth levels whose widths grow by one
                 factor, from 1 to what N needs; each group is held by
                 exactly one group of the level above, so the tree is
                 --depth levels below Top whatever N is.

Every user account lives in OU=People; the probe user "probe"
(probe@corp.example.test) is where --probe puts it: in no group ("none",
the worst case: a walk from Top visits every group), in the last group
("last"), or in Top itself ("top").

Options for the hard cases:
  --loop          the last group holds Top again, closing a loop
  --huge K        a group "Huge" (CORP\\Huge) with K user members, held by Top
  --long-dn L     a group "Long" (sAMAccountName Long) whose DN is L
                  characters long, holding the probe user, held by Top
  --users M       M ordinary users besides the probe, spread over the groups
  --ad            entries as an Active Directory export writes them: cn and
                  name, objectSid and objectGUID in binary (base64), the
                  group type; users have primaryGroupID 513, the RID of a
                  "Domain Users" group outside the tree

Output goes to --output (default standard output). Generation is linear in
the size of the result.
"""
import argparse
import base64
import struct
import sys

BASE = "DC=corp,DC=example,DC=test"
GROUPS = "OU=Groups," + BASE
PEOPLE = "OU=People," + BASE
DOMAIN_USERS = "CN=Domain Users,CN=Users," + BASE
DOMAIN_SUBS = (21, 1111111111, 2222222222, 3333333333)
GROUP_RID = 100000   # group i has RID GROUP_RID + i, user i USER_RID + i
USER_RID = 5000000
GLOBAL_SECURITY_GROUP = -2147483646


def group_dn(index):
    return "CN=Top," + GROUPS if index == 0 else "CN=G%06d,%s" % (index, GROUPS)


def user_dn(index):
    return "CN=U%06d,%s" % (index, PEOPLE)


def sid_b64(rid):
    """The domain SID and a RID, as binary objectSid in base64."""
    subs = DOMAIN_SUBS + (rid,)
    raw = struct.pack("<BB", 1, len(subs)) + (5).to_bytes(6, "big") + struct.pack("<%dI" % len(subs), *subs)
    return base64.b64encode(raw).decode("ascii")


def guid_b64(rid):
    return base64.b64encode(struct.pack("<IHH", rid, 0x1234, 0x4000) + b"\x80\x00corvel").decode("ascii")


def ad_lines(args, cn, rid, group):
    if not args.ad:
        return []
    lines = ["cn: " + cn, "name: " + cn, "objectSid:: " + sid_b64(rid), "objectGUID:: " + guid_b64(rid)]
    lines.append("groupType: %d" % GLOBAL_SECURITY_GROUP if group else "primaryGroupID: 513")
    return lines


def level_children(count, depth):
    """For --shape levels: a function giving the children of group i, in
    a tree whose level widths are 1, r, r^2 ... r^depth (rounded down, the
    rest to the last level), adding up to count."""
    low, high = 1.0, float(count)
    for _ in range(200):
        ratio = (low + high) / 2
        if sum(ratio ** level for level in range(depth + 1)) > count:
            high = ratio
        else:
            low = ratio
    widths = [int(low ** level) for level in range(depth + 1)]
    widths[-1] += count - sum(widths)
    first = [0]
    for width in widths:
        first.append(first[-1] + width)
    # Child j of a level hangs below parent j * pw // cw of the level above,
    # so each parent holds one run of numbers and every level is no narrower
    # than the one above it.
    runs = [(0, 0)] * count
    for level in range(depth):
        pw, cw = widths[level], widths[level + 1]
        for parent in range(pw):
            runs[first[level] + parent] = (first[level + 1] + -(-parent * cw // pw),
                                           first[level + 1] + -(-(parent + 1) * cw // pw))
    return lambda index: range(*runs[index])


def write_header(out):
    out.write(
        "version: 1\n\n"
        "dn: %s\nobjectClass: top\nobjectClass: domain\nobjectClass: domainDNS\ndc: corp\n\n"
        "dn: CN=Partitions,CN=Configuration,%s\nobjectClass: crossRefContainer\ncn: Partitions\n\n"
        "dn: CN=CORP,CN=Partitions,CN=Configuration,%s\nobjectClass: crossRef\ncn: CORP\n"
        "nCName: %s\ndnsRoot: corp.example.test\nnETBIOSName: CORP\n\n"
        "dn: %s\nobjectClass: organizationalUnit\nou: Groups\n\n"
        "dn: %s\nobjectClass: organizationalUnit\nou: People\n\n"
        % (BASE, BASE, BASE, BASE, GROUPS, PEOPLE))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--groups", type=int, default=1000, help="number of groups, Top included")
    parser.add_argument("--shape", choices=("tree", "chain", "levels"), default="tree")
    parser.add_argument("--fanout", type=int, default=10)
    parser.add_argument("--depth", type=int, default=50, help="levels below Top, for --shape levels")
    parser.add_argument("--users", type=int, default=0)
    parser.add_argument("--probe", choices=("none", "last", "top"), default="none")
    parser.add_argument("--loop", action="store_true")
    parser.add_argument("--huge", type=int, default=0)
    parser.add_argument("--long-dn", type=int, default=0)
    parser.add_argument("--ad", action="store_true")
    parser.add_argument("--output", default="-")
    args = parser.parse_args()
    if args.groups < 1 or args.fanout < 1:
        parser.error("--groups and --fanout must be at least 1")
    if args.shape == "levels" and not 1 <= args.depth < args.groups:
        parser.error("--shape levels needs 1 <= --depth < --groups")
    long_rest = "," + GROUPS
    if args.long_dn and args.long_dn < len("CN=") + 1 + len(long_rest):
        parser.error("--long-dn is too short to hold a DN under OU=Groups")

    out = sys.stdout if args.output == "-" else open(args.output, "w", encoding="utf-8", buffering=1 << 20)
    write_header(out)
    if args.ad:
        out.write("dn: CN=Users,%s\nobjectClass: container\ncn: Users\n\n" % BASE)
        out.write("\n".join(["dn: " + DOMAIN_USERS, "objectClass: top", "objectClass: group",
                             "sAMAccountName: Domain Users"] + ad_lines(args, "Domain Users", 513, True)) + "\n\n")

    users = max(args.users, args.huge)
    probe = "CN=Probe User," + PEOPLE
    out.write("\n".join(["dn: " + probe, "objectClass: top", "objectClass: person", "objectClass: user",
                         "sAMAccountName: probe", "userPrincipalName: probe@corp.example.test"]
                        + ad_lines(args, "Probe User", USER_RID - 1, False)) + "\n\n")
    for index in range(users):
        out.write("\n".join(["dn: " + user_dn(index), "objectClass: user", "sAMAccountName: u%06d" % index]
                            + ad_lines(args, "U%06d" % index, USER_RID + index, False)) + "\n\n")

    count = args.groups
    last = count - 1
    children_of = level_children(count, args.depth) if args.shape == "levels" else None
    for index in range(count):
        name = "Top" if index == 0 else "G%06d" % index
        lines = ["dn: %s" % group_dn(index), "objectClass: top", "objectClass: group",
                 "sAMAccountName: %s" % name] + ad_lines(args, name, GROUP_RID + index, True)
        if args.shape == "chain":
            children = [index + 1] if index + 1 < count else []
        elif children_of:
            children = children_of(index)
        else:
            first = index * args.fanout + 1
            children = range(first, min(first + args.fanout, count))
        lines.extend("member: " + group_dn(child) for child in children)
        # Ordinary users spread round the groups, after the nested groups.
        if args.users and args.huge == 0:
            lines.extend("member: " + user_dn(user) for user in range(index, args.users, count))
        if args.loop and index == last and last != 0:
            lines.append("member: " + group_dn(0))
        if (args.probe == "last" and index == last) or (args.probe == "top" and index == 0):
            lines.append("member: " + probe)
        if index == 0 and args.huge:
            lines.append("member: CN=Huge," + GROUPS)
        if index == 0 and args.long_dn:
            lines.append("member: CN=%s%s" % ("L" * (args.long_dn - 3 - len(long_rest)), long_rest))
        out.write("\n".join(lines) + "\n\n")

    if args.huge:
        out.write("dn: CN=Huge,%s\nobjectClass: group\nsAMAccountName: Huge\n" % GROUPS)
        out.write("".join("member: %s\n" % user_dn(user) for user in range(args.huge)))
        out.write("\n")
    if args.long_dn:
        name = "L" * (args.long_dn - 3 - len(long_rest))
        out.write("dn: CN=%s%s\nobjectClass: group\nsAMAccountName: Long\nmember: %s\n\n"
                  % (name, long_rest, probe))
    if out is not sys.stdout:
        out.close()


if __name__ == "__main__":
    main()
