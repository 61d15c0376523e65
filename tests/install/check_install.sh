#!/usr/bin/env bash
# Installs a build into a scratch prefix and uses the prefix alone, as a
# host's developer would: every installed header compiles on its own with
# the flags pkg-config gives; the embedding example, copied from the
# installed documentation, builds with find_package against the prefix and
# its events reach the installed receiver; the installed host program runs
# the installed examples.
#   check_install.sh BUILD_DIR CXX_COMPILER
set -euo pipefail
build="$1"
cxx="$2"
source "$(dirname "$0")/installed_programs.sh"
work="$(mktemp -d)"
trap 'stop_sink; rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in lib/libedr_telemetry.so lib/tlsbridge_1_1.so bin/edr-telemetry-host bin/edr-siem-sink \
  lib/cmake/edr_telemetry/edr_telemetryConfig.cmake lib/pkgconfig/edr_telemetry.pc \
  share/doc/edr-telemetry/README.md share/doc/edr-telemetry/examples/embedding/embedding_host.cpp; do
  [ -e "$prefix/$file" ] || { echo "FAIL: $file is not installed"; exit 1; }
done

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cflags=$(pkg-config --cflags edr_telemetry)
module=$(pkg-config --variable=module edr_telemetry)
[ "$(realpath "$module")" = "$(realpath "$prefix/lib/libedr_telemetry.so")" ] ||
  { echo "FAIL: pkg-config names $module as the module"; exit 1; }
include="$prefix/include/edr_telemetry"
headers=0
while IFS= read -r header; do
  # shellcheck disable=SC2086
  echo "#include \"${header#"$include"/}\"" |
    "$cxx" -std=c++20 $cflags -fsyntax-only -Wall -Wextra -Werror -x c++ - ||
    { echo "FAIL: ${header#"$include"/} does not compile with the installed headers alone"; exit 1; }
  headers=$((headers + 1))
done < <(find "$include" -name '*.h' | sort)
[ "$headers" -gt 0 ] || { echo "FAIL: no header installed"; exit 1; }
if find "$include" -path '*detail*' -o -name '*_impl.h' | grep -q .; then
  echo "FAIL: a header of the component's inside is installed"
  exit 1
fi

cp -r "$prefix/share/doc/edr-telemetry/examples/embedding" "$work/embedding"
cmake -S "$work/embedding" -B "$work/embedding-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/embedding-build" >/dev/null
start_sink "$prefix" "$work"
"$work/embedding-build/embedding_host" 127.0.0.1 "$sink_port" "$work/embedding-data" >"$work/embedding.out" ||
  { echo "FAIL: the embedding example failed: $(cat "$work/embedding.out")"; exit 1; }
stop_sink
grep -q '^module unloaded$' "$work/embedding.out" || { echo "FAIL: the module was not unloaded"; exit 1; }
arrived=$(grep -c '"eventType":"ProcessCreate"' "$work/received.ndjson" || true)
[ "$arrived" -eq 5 ] || { echo "FAIL: $arrived of the example's 5 events arrived"; exit 1; }

examples_to_sink "$prefix" "$work"
echo "installed: $headers headers compile alone; the embedding example's 5 events and the host program's 323 arrived"
