#!/usr/bin/env bash
# Builds the Debian package: the module and its TLS library, the host's
# headers with their CMake and pkg-config files, the host program, the
# loopback receiver and the examples, under /usr. Its dependencies are
# computed from the files by dpkg-shlibdeps.
#   scripts/package.sh [--build-dir DIR] [--output DIR]
# DIR defaults to build-package/ (configured as a Release build when it is
# not a build folder yet) and the output folder to the current one. Prints
# the package's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-package"
output="$PWD"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build="$(realpath -m "$2")"; shift 2 ;;
    --output) output="$(realpath -m "$2")"; shift 2 ;;
    *) echo "usage: scripts/package.sh [--build-dir DIR] [--output DIR]" >&2; exit 2 ;;
  esac
done
"$root/scripts/bootstrap.sh"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >&2
fi
if grep -q '^EDR_SANITIZE:STRING=.\+' "$build/CMakeCache.txt"; then
  echo "package: $build is a sanitizer build; a package is made of a plain one" >&2
  exit 1
fi
cmake --build "$build" -j "$(nproc)" --target edr_telemetry tlsbridge_1_1 edr-telemetry-host edr-siem-sink >&2
mkdir -p "$output"
# CPack's own folder holds the staged files; only the package leaves it.
staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$staging" >&2
package="$(find "$staging" -maxdepth 1 -name '*.deb' | head -n 1)"
[ -n "$package" ] || { echo "package: cpack made no .deb" >&2; exit 1; }
mv "$package" "$output/"
echo "$output/$(basename "$package")"
