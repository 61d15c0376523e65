#!/usr/bin/env bash
# Builds one libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (build-fuzz/) and runs it on a working copy of
# its seeds, build-fuzz/corpus/NAME (seeds in fuzz/corpus/NAME, NAME being the
# target without "_fuzzer"): what the run adds never reaches the seeds in git.
# Exits non-zero when the run found something; the input that shows it is
# then in build-fuzz/artifacts/NAME/.
#   scripts/fuzz.sh TARGET [seconds]   (default 60)
#   scripts/fuzz.sh [--list]           lists the targets
set -euo pipefail
cd "$(dirname "$0")/.."

targets=$(cd fuzz && ls -- *_fuzzer.cpp | sed 's/\.cpp$//')
if [ $# -eq 0 ] || [ "$1" = "--list" ]; then
  echo "$targets"
  exit 0
fi
target="${1%_fuzzer}_fuzzer"
if ! grep -qx -- "$target" <<<"$targets"; then
  echo "fuzz.sh: no target '$1'; the targets are:" >&2
  echo "$targets" >&2
  exit 2
fi
name="${target%_fuzzer}"
seconds="${2:-60}"

scripts/bootstrap.sh --fuzz
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DEDR_SANITIZE=address -DEDR_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "$target"

work="build-fuzz/corpus/$name"
artifacts="build-fuzz/artifacts/$name"
mkdir -p "$work" "$artifacts"
if [ "$target" = rules_fuzzer ]; then
  # The seed files hold a rules document and an event, one per line. The
  # fuzzer reads the document up to a backslash and another byte (a doubled
  # backslash is one), the event after it, and its mode from the last byte.
  for seed in fuzz/corpus/rules/*.json; do
    { head -n 1 "$seed" | sed 's/\\/\\\\/g'; printf '\\\n'; tail -n +2 "$seed"; printf '\0'; } \
      >"$work/seed-$(basename "$seed")"
  done
else
  cp -- fuzz/corpus/"$name"/* "$work/"
fi

status=0
"build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzz.sh: $target found something (exit code $status); see $artifacts/" >&2
fi
exit "$status"
