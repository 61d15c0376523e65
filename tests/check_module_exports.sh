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
# A thread-local with a destructor would hold the module loaded for as long
# as any thread that ever ran its code lives: a host's dlclose would not
# unload it.
undefined=$(nm -D --undefined-only "$module")
if [[ "$undefined" == *__cxa_thread_atexit* ]]; then
  echo "the module registers thread-local destructors"
  exit 1
fi
