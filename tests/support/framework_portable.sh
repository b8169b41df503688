#!/usr/bin/env bash
# The framework (every folder of corvel/ but platform/) is portable C++: no
# operating-system or directory header, no platform conditionals. Those
# belong to the porting layer. Prints each offending line.
set -uo pipefail
root=${1:?usage: framework_portable.sh CORVEL_DIR}
found=$(grep -rnE '#[[:space:]]*include[[:space:]]*<(windows|winsock2|ws2tcpip|pthread|ldap|lber|sasl/sasl|krb5|unistd|dlfcn|iads|activeds)\.h>|#[[:space:]]*if(def)?[[:space:]].*_WIN32' \
  "$root/debug" "$root/messages" "$root/threads" "$root/util" "$root/dns")
if [ -n "$found" ]; then
  echo "framework code that belongs in corvel/platform:"
  echo "$found"
  exit 1
fi
echo "framework is portable"
