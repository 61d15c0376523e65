#!/usr/bin/env bash
# The marker probes of provider edr_telemetry are in the USDT notes of the
# component's objects, where tracing tools find them.
set -euo pipefail
notes=$(readelf -n "$1")
for probe in queue_full pass_begin pass_end; do
  if ! grep -A2 'Provider: edr_telemetry' <<<"$notes" | grep -q "Name: $probe\$"; then
    echo "probe edr_telemetry:$probe missing"
    exit 1
  fi
done
echo "probes: edr_telemetry:{queue_full,pass_begin,pass_end}"
