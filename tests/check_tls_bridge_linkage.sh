#!/usr/bin/env bash
# The TLS library binding: the files given after "--" (the module, and
# anything else built from the component) must not need libssl or libcrypto,
# since the component reaches OpenSSL only through the TLS library; the TLS
# library itself must need both, since the component finds OpenSSL's
# functions through its handle.
#   check_tls_bridge_linkage.sh TLS_LIBRARY -- FILE...
set -euo pipefail
bridge="$1"
shift
[ "${1:-}" = "--" ] || { echo "usage: $0 TLS_LIBRARY -- FILE..."; exit 2; }
shift

needed() { readelf -d "$1" | awk '/\(NEEDED\)/ { gsub(/[][]/, "", $5); print $5 }'; }

status=0
for file in "$@"; do
  if needed "$file" | grep -E '^lib(ssl|crypto)\.so' >/dev/null; then
    echo "$file links OpenSSL:"
    needed "$file" | grep -E '^lib(ssl|crypto)\.so'
    status=1
  fi
done
for library in libssl libcrypto; do
  if ! needed "$bridge" | grep -E "^${library}\.so" >/dev/null; then
    echo "$bridge does not need $library"
    status=1
  fi
done
if ! nm -D --defined-only "$bridge" | grep -w tlsbridge_1_1_bridge >/dev/null; then
  echo "$bridge does not export tlsbridge_1_1_bridge"
  status=1
fi
[ "$status" -eq 0 ] && echo "OpenSSL needed by $(basename "$bridge") only"
exit "$status"
