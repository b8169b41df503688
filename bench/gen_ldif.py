#!/usr/bin/env python3
"""Writes a large Active Directory style LDIF directory for load and walk tests.

One domain, corp.example.test (NetBIOS CORP), with OU=Groups and OU=People.
The groups hang below one top group, "Top" (CORP\\Top):

  --shape tree   Top is the root of a complete tree: group i holds groups
                 i*F+1 .. i*F+F (F = --fanout), so N groups are about
                 log_F(N) levels deep.
  --shape chain  group i holds group i+1 only: N levels deep.

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

Output goes to --output (default standard output). Generation is linear in
the size of the result.
"""
import argparse
import sys

BASE = "DC=corp,DC=example,DC=test"
GROUPS = "OU=Groups," + BASE
PEOPLE = "OU=People," + BASE


def group_dn(index):
    return "CN=Top," + GROUPS if index == 0 else "CN=G%06d,%s" % (index, GROUPS)


def user_dn(index):
    return "CN=U%06d,%s" % (index, PEOPLE)


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
    parser.add_argument("--shape", choices=("tree", "chain"), default="tree")
    parser.add_argument("--fanout", type=int, default=10)
    parser.add_argument("--users", type=int, default=0)
    parser.add_argument("--probe", choices=("none", "last", "top"), default="none")
    parser.add_argument("--loop", action="store_true")
    parser.add_argument("--huge", type=int, default=0)
    parser.add_argument("--long-dn", type=int, default=0)
    parser.add_argument("--output", default="-")
    args = parser.parse_args()
    if args.groups < 1 or args.fanout < 1:
        parser.error("--groups and --fanout must be at least 1")
    long_rest = "," + GROUPS
    if args.long_dn and args.long_dn < len("CN=") + 1 + len(long_rest):
        parser.error("--long-dn is too short to hold a DN under OU=Groups")

    out = sys.stdout if args.output == "-" else open(args.output, "w", encoding="utf-8", buffering=1 << 20)
    write_header(out)

    users = max(args.users, args.huge)
    probe = "CN=Probe User," + PEOPLE
    out.write("dn: %s\nobjectClass: top\nobjectClass: person\nobjectClass: user\ncn: Probe User\n"
              "sAMAccountName: probe\nuserPrincipalName: probe@corp.example.test\n\n" % probe)
    for index in range(users):
        out.write("dn: %s\nobjectClass: user\nsAMAccountName: u%06d\n\n" % (user_dn(index), index))

    count = args.groups
    last = count - 1
    for index in range(count):
        lines = ["dn: %s" % group_dn(index), "objectClass: top", "objectClass: group",
                 "sAMAccountName: %s" % ("Top" if index == 0 else "G%06d" % index)]
        if args.shape == "chain":
            children = [index + 1] if index + 1 < count else []
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
