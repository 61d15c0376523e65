#!/usr/bin/env bash
# Cross-builds the module (edr_telemetry.dll) and the TLS library it loads
# (tlsbridge_1_1.dll) for Windows with MinGW-w64, against libraries built from
# Debian's sources once per version (scripts/windows-deps.sh, which installs
# what is missing through scripts/bootstrap.sh --windows).
#   scripts/build-windows.sh [i686|x86_64] [--tests]
# i686 (32-bit) unless told otherwise. --tests also builds the unit tests and
# runs them under Wine, in a Wine prefix of the build folder's own.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=i686
tests=0
for argument in "$@"; do
  case "$argument" in
    i686 | x86_64) arch="$argument" ;;
    --tests) tests=1 ;;
    *)
      echo "usage: scripts/build-windows.sh [i686|x86_64] [--tests]" >&2
      exit 2
      ;;
  esac
done

triplet="$arch-w64-mingw32"
build="build-windows-$arch"
deps=$(scripts/windows-deps.sh "$arch" | tail -n 1)

targets=(edr_telemetry tlsbridge_1_1)
[ "$tests" = 1 ] && targets+=(unit_tests)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$triplet.cmake" -DEDR_WINDOWS_DEPS="$deps" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# The shipped files: without the debugging information, which stays in the
# build folder's copies.
mkdir -p "$build/dist"
for dll in edr_telemetry tlsbridge_1_1; do
  "$triplet-strip" -o "$build/dist/$dll.dll" "$build/bin/$dll.dll"
done

tests/check_windows_exports.sh "$triplet-objdump" "$build/dist/edr_telemetry.dll" "$build/dist/tlsbridge_1_1.dll" \
  component/tlsbridge/include/component/tlsbridge/openssl_functions.h

if [ "$tests" = 1 ]; then
  export WINEPREFIX="$PWD/$build/wine" WINEDEBUG=-all
  if [ ! -d "$WINEPREFIX" ]; then
    echo "build-windows: making the Wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1
  fi
  ctest --test-dir "$build" --output-on-failure
  wineserver --kill || true
fi

echo "build-windows: $build/dist/edr_telemetry.dll and $build/dist/tlsbridge_1_1.dll ($triplet)"
