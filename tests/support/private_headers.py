#!/usr/bin/env python3
"""The backends' headers are private: compiled as a framework file is
(corvel/util/qztimer.cpp's command in compile_commands.json), a file that
includes a backend's own header fails to find it, while one that includes
the framework's and the backend's public headers compiles.

    private_headers.py BUILD_DIR
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

build = sys.argv[1]
commands = json.load(open(os.path.join(build, "compile_commands.json")))
entry = next(c for c in commands if c["file"].endswith("corvel/util/qztimer.cpp"))
words = shlex.split(entry["command"])
flags = [w for w in words if w.startswith(("-I", "-std", "-D"))]


def compiles(include):
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as probe:
        probe.write('#include "%s"\n' % include)
    try:
        run = subprocess.run([words[0], *flags, "-fsyntax-only", probe.name],
                             capture_output=True, text=True, cwd=entry["directory"])
    finally:
        os.unlink(probe.name)
    return run.returncode == 0, run.stderr


failures = 0
for header in ["corvel/util/qzauthenticator.h", "corvel/platform/directory/dir_service.h"]:
    ok, err = compiles(header)
    if not ok:
        print("FAIL: the framework cannot include its own %s:\n%s" % (header, err))
        failures += 1
for header in ["corvel/platform/directory/ldap/ldap_connection.h",
               "corvel/platform/directory/ldap/ldap_backend.h",
               "corvel/platform/directory/ldif/ldif_directory.h",
               "corvel/platform/directory/libldap_log.h"]:
    ok, err = compiles(header)
    if ok or "No such file" not in err:
        print("FAIL: a framework file can include %s" % header)
        failures += 1
print("backend headers are private" if failures == 0 else "%d failures" % failures)
sys.exit(1 if failures else 0)
