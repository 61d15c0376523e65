#!/usr/bin/env bash
# The main job: builds the component, the reference host program and the
# loopback sink, starts the sink, runs the host on the examples over
# loopback TCP, then shows the host's summary and the first events that
# arrived. Everything it writes goes to a fresh temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target edr_telemetry tlsbridge_1_1 edr-telemetry-host edr-siem-sink

work=$(mktemp -d)
sink_pid=
cleanup() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

build/bin/edr-siem-sink --tcp 0 --output "$work/received.ndjson" --ready-file "$work/sink-ready.json" \
  --summary-json "$work/sink-summary.json" 2>"$work/sink.log" &
sink_pid=$!
for _ in $(seq 100); do
  [ -s "$work/sink-ready.json" ] && break
  sleep 0.1
done
port=$(grep -o '"tcp": *[0-9]*' "$work/sink-ready.json" | grep -o '[0-9]*$')
if [ -z "$port" ]; then
  echo "demo: the sink did not start; see $work/sink.log" >&2
  exit 1
fi

# The example configuration, sending to the sink's port, with its data folder
# in the temporary folder.
sed "s/\"port\": *[0-9]*/\"port\": $port/" examples/config.json >"$work/config.json"

echo "== edr-telemetry-host: examples/events.ndjson to the sink on 127.0.0.1:$port"
build/bin/edr-telemetry-host --config "$work/config.json" --events examples/events.ndjson \
  --summary-json "$work/summary.json" --trace-level 500 --trace-file "$work/trace.log"

kill -TERM "$sink_pid"
wait "$sink_pid" || true
sink_pid=
echo "== the sink: $(tr -d '\n' <"$work/sink-summary.json")"
echo "== the first events that arrived ($work/received.ndjson):"
head -n 3 "$work/received.ndjson" | cut -c 1-200
echo "== traces: $work/trace.log"
