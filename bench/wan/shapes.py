#!/usr/bin/env python3
"""Writes the LDIF of the WAN benchmark's group shapes, for ldapadd.

    shapes.py [--base DN] [--dns-domain NAME] [--users N]

Everything lives in OU=WanBench under the base:

  chain 10    WanC10-00 holds WanC10-01 ... WanC10-09 holds the user wan-c10
  chain 200   WanC200-000 ... WanC200-199 holds the user wan-c200
  bushy       WanB holds WanB-1 .. WanB-6, each of those six more, down to
              depth 4: 1 + 6 + 36 + 216 + 1296 = 1,555 groups, leaves named
              by their path (WanB-3-1-6-2)
  wan-bushy   the user found at the far end of the bushy tree; this LDIF
              puts it in no group: which leaf comes last depends on the order
              the directory returns member values in, so the loader adds it
              afterwards (see run.sh)
  wan-outsider  a user in no group of the tree: the non-member question
  --users N   N more users, wan-u00001 ..., spread round-robin over the
              leaves as member values of the leaf entries themselves, so one
              ldapadd loads them with no modify pass

Entries come in an order the directory accepts: users first, then groups
from the bottom up, so that every member value names an existing entry.
"""
import argparse
import sys

FANOUT = 6
DEPTH = 4


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--base", default="DC=corp,DC=example,DC=test")
    parser.add_argument("--dns-domain", default="corp.example.test")
    parser.add_argument("--users", type=int, default=0, help="extra users over the leaves")
    args = parser.parse_args()

    ou = "OU=WanBench," + args.base
    out = sys.stdout
    write = out.write

    def user(name):
        write("dn: CN=%s,%s\nobjectClass: user\nsAMAccountName: %s\n"
              "userPrincipalName: %s@%s\n\n" % (name, ou, name, name, args.dns_domain))

    def group(name, members):
        write("dn: CN=%s,%s\nobjectClass: group\nsAMAccountName: %s\n" % (name, ou, name))
        for member in members:
            write("member: %s\n" % member)
        write("\n")

    def dn(name):
        return "CN=%s,%s" % (name, ou)

    write("dn: %s\nobjectClass: organizationalUnit\nou: WanBench\n\n" % ou)
    for name in ("wan-c10", "wan-c200", "wan-bushy", "wan-outsider"):
        user(name)
    extra = ["wan-u%05d" % i for i in range(1, args.users + 1)]
    for name in extra:
        user(name)

    for length, width in ((10, 2), (200, 3)):
        names = ["WanC%d-%0*d" % (length, width, i) for i in range(length)]
        group(names[-1], [dn("wan-c%d" % length)])
        for i in range(length - 2, -1, -1):
            group(names[i], [dn(names[i + 1])])

    # Paths of every level, the leaves first.
    levels = [[()]]
    for _ in range(DEPTH):
        levels.append([p + (c,) for p in levels[-1] for c in range(1, FANOUT + 1)])

    def name(path):
        return "-".join(["WanB"] + [str(c) for c in path])

    leaves = levels[-1]
    members = {path: [] for path in leaves}
    for i, user_name in enumerate(extra):
        members[leaves[i % len(leaves)]].append(dn(user_name))
    for path in leaves:
        group(name(path), members[path])
    for level in reversed(levels[:-1]):
        for path in level:
            group(name(path), [dn(name(path + (c,))) for c in range(1, FANOUT + 1)])


if __name__ == "__main__":
    main()
