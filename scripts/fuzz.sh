#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (build-fuzz/) and runs the rules fuzzer.
#   scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh --fuzz
seconds="${1:-60}"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DEDR_SANITIZE=address -DEDR_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target rules_fuzzer
work=build-fuzz/corpus/rules
mkdir -p "$work"
# The seed files hold a rules document and an event, one per line. The
# fuzzer reads the document up to a backslash and another byte (a doubled
# backslash is one), the event after it, and its mode from the last byte.
for seed in fuzz/corpus/rules/*.json; do
  { head -n 1 "$seed" | sed 's/\\/\\\\/g'; printf '\\\n'; tail -n +2 "$seed"; printf '\0'; } \
    >"$work/seed-$(basename "$seed")"
done
build-fuzz/bin/rules_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work"
