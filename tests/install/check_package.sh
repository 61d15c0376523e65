#!/usr/bin/env bash
# Builds the Debian package from a build folder with scripts/package.sh,
# checks that its dependencies were computed from its files, unpacks it with
# dpkg -x into a scratch root and runs its host program on its examples to
# its receiver.
#   check_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir="$1"
build="$2"
source "$(dirname "$0")/installed_programs.sh"
work="$(mktemp -d)"
trap 'stop_sink; rm -rf "$work"' EXIT

package=$("$source_dir/scripts/package.sh" --build-dir "$build" --output "$work" 2>"$work/package.log") ||
  { echo "FAIL: scripts/package.sh failed: $(tail -n 20 "$work/package.log")"; exit 1; }
depends=$(dpkg-deb -f "$package" Depends)
# One library of each file's own: the module (SQLite), the TLS library
# (OpenSSL), the host program (libcurl).
for needed in libsqlite3-0 libssl3 libcurl4 libc6; do
  grep -q "\\b$needed\\b" <<<"$depends" || { echo "FAIL: Depends lacks $needed: $depends"; exit 1; }
done
dpkg-deb -c "$package" >"$work/contents.txt"
grep -q '\./usr/include/edr_telemetry/component/oru/i_object.h$' "$work/contents.txt" ||
  { echo "FAIL: the package lacks the headers"; exit 1; }

dpkg -x "$package" "$work/root"
examples_to_sink "$work/root/usr" "$work"
echo "$(basename "$package"): Depends: $depends"
