#!/usr/bin/env bash
# Builds and runs the unit tests twice: a normal build (build/), then a build
# with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

jobs=$(nproc)
run() {  # build folder, extra cmake arguments...
  local dir="$1"
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== tests"
run build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests with AddressSanitizer and UndefinedBehaviorSanitizer"
run build-asan -DCMAKE_BUILD_TYPE=Debug -DEDR_SANITIZE=address
