#!/usr/bin/env bash
# The module's export table holds its two entry points and nothing else, at
# the ordinals hosts import them by: oruCanUnloadModule 1, oruCreateObject 2.
# The TLS library exports every OpenSSL function the component forwards to,
# and its mark. Both are single files: they import system libraries only,
# never the compiler's runtime.
#   check_windows_exports.sh OBJDUMP MODULE TLS_LIBRARY OPENSSL_FUNCTIONS_HEADER
set -euo pipefail
objdump="$1" module="$2" bridge="$3" functions="$4"

# "ordinal name" per export.
exports() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
    table && /^\t\[/ { gsub(/[][]/, ""); print $1 + base, $2; next }
    table { table = 0 }'
}

imports() {
  "$objdump" -p "$1" | awk '/DLL Name:/ { print toupper($3) }' | sort -u
}

status=0
module_exports=$(exports "$module")
expected=$(printf '%s\n' "1 oruCanUnloadModule" "2 oruCreateObject")
if [ "$module_exports" != "$expected" ]; then
  echo "module: unexpected export table:"
  echo "$module_exports"
  status=1
else
  echo "module exports: $(echo "$module_exports" | paste -sd ',' | sed 's/,/, /g')"
fi

bridge_exports=$(exports "$bridge" | awk '{ print $2 }' | sort)
wanted=$( (grep -o 'X([A-Za-z0-9_]*)' "$functions" | sed 's/^X(//; s/)$//'; echo tlsbridge_1_1_bridge) | sort -u)
if [ "$bridge_exports" != "$wanted" ]; then
  echo "TLS library: exports differ from the forwarded names (< exported, > forwarded):"
  diff <(echo "$bridge_exports") <(echo "$wanted") || true
  status=1
else
  echo "TLS library exports: $(echo "$bridge_exports" | wc -l) names"
fi

system='^(ADVAPI32|BCRYPT|CRYPT32|KERNEL32|MSVCRT|MSWSOCK|USER32|WS2_32)\.DLL$'
for library in "$module" "$bridge"; do
  others=$(imports "$library" | grep -Ev "$system" || true)
  if [ -n "$others" ]; then
    echo "$(basename "$library") imports libraries a host does not have: $others"
    status=1
  fi
done
exit $status
