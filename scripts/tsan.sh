#!/usr/bin/env bash
# Builds the unit tests with ThreadSanitizer (build-tsan/) and runs them.
# Run by hand before landing concurrency work. The host torture test runs
# among them for a shorter time than in the other builds (tests/CMakeLists.txt);
# `ctest --test-dir build-tsan -R host_torture` runs it alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs=$(nproc)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DEDR_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" "$@"
