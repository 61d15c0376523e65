# Sourced by the install and package checks: runs what a prefix holds.
#   start_sink PREFIX WORK      starts PREFIX/bin/edr-siem-sink on a free TCP
#                               port; sets sink_pid and sink_port
#   stop_sink                   stops it and waits
#   examples_to_sink PREFIX WORK
#                               runs PREFIX/bin/edr-telemetry-host on the
#                               installed examples to the sink and checks
#                               that the 323 events it hands over arrive

sink_pid=
sink_port=

start_sink() {
  local prefix="$1" work="$2"
  rm -f "$work/sink-ready.json" "$work/received.ndjson"
  "$prefix/bin/edr-siem-sink" --tcp 0 --output "$work/received.ndjson" --ready-file "$work/sink-ready.json" \
    2>"$work/sink.log" &
  sink_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/sink-ready.json" ] && break
    sleep 0.1
  done
  sink_port=$(grep -o '"tcp": *[0-9]*' "$work/sink-ready.json" | grep -o '[0-9]*$' || true)
  [ -n "$sink_port" ] || { echo "FAIL: the installed sink did not start: $(cat "$work/sink.log")"; exit 1; }
}

stop_sink() {
  if [ -n "$sink_pid" ]; then
    kill -TERM "$sink_pid" 2>/dev/null || true
    wait "$sink_pid" 2>/dev/null || true
    sink_pid=
  fi
}

examples_to_sink() {
  local prefix="$1" work="$2"
  local examples="$prefix/share/doc/edr-telemetry/examples"
  start_sink "$prefix" "$work"
  sed "s/\"port\": *[0-9]*/\"port\": $sink_port/" "$examples/config.json" >"$work/config.json"
  # No --component: the program finds the module where it is installed.
  "$prefix/bin/edr-telemetry-host" --config "$work/config.json" --events "$examples/events.ndjson" \
    --summary-json "$work/summary.json" >"$work/host.out" 2>"$work/host.err" ||
    { echo "FAIL: the installed host program failed: $(cat "$work/host.err")"; exit 1; }
  stop_sink
  grep -q '"handedOver": *323' "$work/summary.json" ||
    { echo "FAIL: expected 323 events handed over: $(cat "$work/summary.json")"; exit 1; }
  local received
  received=$(wc -l <"$work/received.ndjson")
  [ "$received" -eq 323 ] || { echo "FAIL: the sink received $received of 323 events"; exit 1; }
}
