#!/usr/bin/env bash
# The module's dynamic symbol table defines exactly the two entry points
# among its functions and objects: everything else stays hidden.
set -euo pipefail
module="$1"
defined=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TtWwDdBbVvRr]$/ { print $3 }' | sort)
expected=$(printf '%s\n' oruCanUnloadModule oruCreateObject)
if [ "$defined" != "$expected" ]; then
  echo "unexpected exported symbols:"
  echo "$defined"
  exit 1
fi
echo "exports: $(echo $defined)"
