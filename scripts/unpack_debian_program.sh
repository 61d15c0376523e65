#!/usr/bin/env bash
# Unpacks a Debian package and the libraries it needs that this machine lacks
# into a private folder, without installing anything: for a program whose
# package conflicts with one installed here (syslog-ng with rsyslog), or
# whose installation would start a service (nginx on port 80).
#
#   scripts/unpack_debian_program.sh PACKAGE CACHE_DIR [FILE...]
#
# Downloads PACKAGE's .deb (apt-get download) into CACHE_DIR/debs once, and
# the packages of its dependencies named lib* that are not installed, then
# unpacks them afresh into CACHE_DIR/PACKAGE. Each FILE (a path inside the
# unpacked tree, e.g. usr/sbin/nginx) must then find every library it links.
# Prints the folders to put in LD_LIBRARY_PATH, colon-separated. Exits 1,
# saying why, when a download fails (no network, no package lists) or a
# library is still missing.
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
fi
package="$1"
cache="$2"
shift 2
mkdir -p "$cache/debs"
debs=$(cd "$cache/debs" && pwd)

updated=0
download() {  # PACKAGE: its .deb into the cache, unless there already
  if ls "$debs/$1"_*.deb >/dev/null 2>&1; then
    return 0
  fi
  if (cd "$debs" && apt-get download "$1") >"$debs/download.log" 2>&1; then
    return 0
  fi
  # The package lists may name a version the mirror no longer has, or be
  # missing on a fresh machine: read them once more, then try again.
  if [ "$updated" = 0 ] && [ "$(id -u)" -eq 0 ]; then
    updated=1
    apt-get update -q >>"$debs/download.log" 2>&1 || true
    if (cd "$debs" && apt-get download "$1") >>"$debs/download.log" 2>&1; then
      return 0
    fi
  fi
  echo "unpack_debian_program: cannot download the Debian package $1:" >&2
  cat "$debs/download.log" >&2
  return 1
}

download "$package"
wanted=()
# The libraries it depends on (of alternatives, the first) that are not
# installed here.
for dependency in $(dpkg-deb -f "$debs/$package"_*.deb Depends | tr ',' '\n' |
                    sed 's/|.*//; s/(.*)//; s/ //g' | grep '^lib' || true); do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$dependency" 2>/dev/null || true)
  [ "$status" = installed ] || wanted+=("$dependency")
done
for dependency in "${wanted[@]}"; do
  download "$dependency"
done

# Unpacked beside the old tree and swapped in: a tree is whole or absent.
root="$cache/$package"
fresh=$(mktemp -d "$cache/.$package.XXXXXX")
for name in "$package" "${wanted[@]}"; do
  for deb in "$debs/$name"_*.deb; do
    dpkg -x "$deb" "$fresh"
  done
done
rm -rf "$root"
mv "$fresh" "$root"
chmod 755 "$root"

# Every folder of the tree that holds a shared library.
library_path=$(find "$root" -name 'lib*.so*' -printf '%h\n' | sort -u | paste -sd: -)
missing=
for file in "$@"; do
  [ -e "$root/$file" ] || { echo "unpack_debian_program: $package has no $file" >&2; exit 1; }
  missing+=$(LD_LIBRARY_PATH="$library_path" ldd "$root/$file" | grep 'not found' || true)
done
if [ -n "$missing" ]; then
  echo "unpack_debian_program: $package still lacks libraries:" >&2
  echo "$missing" >&2
  exit 1
fi
echo "$library_path"
