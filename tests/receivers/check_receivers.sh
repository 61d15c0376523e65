#!/usr/bin/env bash
# Runs the receiver configurations of examples/receivers as they are, only
# their @PLACEHOLDERS@ replaced, against edr-telemetry-host: a private
# rsyslogd and syslog-ng (TCP, UDP, TLS) and nginx (HTTP) on loopback ports,
# each with its own folder. Every event the host counts as delivered must be
# in the receiver's file, byte for byte the line edr-siem-sink writes for
# the same input (the compact JSON of the event), one line each.
#   check_receivers.sh SOURCE_DIR BIN_DIR
# syslog-ng and nginx are unpacked from Debian's packages into
# SOURCE_DIR/.cache/debian (scripts/unpack_debian_program.sh). When that is
# impossible (no network) the test fails under CI (CI=true); elsewhere it
# runs the rest and ends as skipped (exit 77).
set -euo pipefail
source_dir=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
receivers="$source_dir/examples/receivers"
cache="$source_dir/.cache/debian"
work=$(mktemp -d "${TMPDIR:-/tmp}/edr-receivers.XXXXXX")
# nginx's workers (user nobody) enter it for their socket.
chmod 755 "$work"
started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
[ -n "${KEEP_WORK:-}" ] || trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
missing_programs=()
unavailable() {  # WHAT
  if [ "${CI:-}" = true ]; then
    fail "$1 cannot be had, and CI must test it (see above)"
  fi
  echo "SKIP: $1 cannot be had here (no network?); its cases are left out" >&2
  missing_programs+=("$1")
}

wait_until() {  # SECONDS COMMAND...: polls every 0.1 s
  local deadline=$(( $(date +%s) + $1 ))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

free_port() {  # TYPE (tcp|udp): a port the kernel just gave and took back
  python3 -c 'import socket, sys
kind = socket.SOCK_STREAM if sys.argv[1] == "tcp" else socket.SOCK_DGRAM
s = socket.socket(socket.AF_INET, kind)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])' "$1"
}

listening() {  # PORT: a TCP connect succeeds
  python3 -c 'import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()' "$1" 2>/dev/null
}

# Fills a receiver's configuration from examples/receivers: NAME=VALUE...
configure() {  # SOURCE TARGET NAME=VALUE...
  local source="$1" target="$2"
  shift 2
  cp "$source" "$target"
  local pair
  for pair in "$@"; do
    local name="${pair%%=*}" value="${pair#*=}"
    value=${value//\\/\\\\}
    value=${value//|/\\|}
    value=${value//&/\\&}
    sed -i "s|@$name@|$value|g" "$target"
  done
  if grep -o '@[A-Z_]*@' "$target" | grep -v '^@version' >/dev/null; then
    fail "$(basename "$source") has placeholders the test does not fill: $(grep -o '@[A-Z_]*@' "$target" | sort -u)"
  fi
}

# ---- input, certificates, the reference ----------------------------------

# The example events, and one of 60 KB: above rsyslog's default message
# size, within a UDP datagram.
python3 - "$source_dir/examples/events.ndjson" "$work/events.ndjson" <<'PY'
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
big = json.loads(lines[1])
big["event"]["padding"] = "x" * 60000
lines.append(json.dumps(big))
open(sys.argv[2], "w", encoding="utf-8").write("\n".join(lines) + "\n")
PY

openssl_log="$work/openssl.log"
{
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=receivers test CA" \
    -keyout "$work/ca.key" -out "$work/ca.pem"
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$work/server.key" -out "$work/server.csr"
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$work/server.ext"
  openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
    -days 2 -extfile "$work/server.ext" -out "$work/server.pem"
} >"$openssl_log" 2>&1 || { cat "$openssl_log" >&2; fail "openssl could not make the certificates"; }

# Writes RUN/config.json: the example configuration with ENDPOINT (JSON).
host_config() {  # RUN ENDPOINT_JSON
  python3 - "$source_dir/examples/config.json" "$1" "$2" "$work/ca.pem" <<'PY'
import json, sys
base, run, endpoint, ca = sys.argv[1:]
config = json.load(open(base))
config["endpoints"] = [json.loads(endpoint)]
config["dataFolder"] = run + "/data"
config["maximumDataTransferTime"] = 1
# A pass over TCP or TLS waits up to timeoutRequest for the receiver to
# close its side: the linger below leaves room for a few such waits.
config["timeoutConnection"] = 1000
config["timeoutRequest"] = 1000
config["serverCertificatesFile"] = ca
json.dump(config, open(run + "/config.json", "w"), indent=2)
PY
}

json_get() {  # FILE KEY
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$1" "$2"
}

# Runs the host on the input to ENDPOINT; sets delivered. Every event handed
# over must be delivered: none lost, none left in the spool.
run_host() {  # NAME ENDPOINT_JSON [host options...]
  local name="$1" endpoint="$2"
  shift 2
  local run="$work/runs/$name"
  mkdir -p "$run"
  host_config "$run" "$endpoint"
  "$bin/edr-telemetry-host" --config "$run/config.json" --events "$work/events.ndjson" --linger 6 \
    --summary-json "$run/summary.json" "$@" >"$run/host.out" 2>"$run/host.err" ||
    fail "$name: the host program exited with $?: $(cat "$run/host.err")"
  delivered=$(json_get "$run/summary.json" delivered)
  local handed
  handed=$(json_get "$run/summary.json" handedOver)
  [ "$delivered" = "$handed" ] || fail "$name: $delivered of $handed events delivered: $(cat "$run/summary.json")"
}

reference="$work/reference.ndjson"
"$bin/edr-siem-sink" --tcp 0 --output "$reference" --ready-file "$work/sink-ready.json" 2>"$work/sink.log" &
sink=$!
started+=("$sink")
wait_until 10 test -s "$work/sink-ready.json" || fail "edr-siem-sink did not start: $(cat "$work/sink.log")"
run_host reference "{\"host\": \"127.0.0.1\", \"port\": $(json_get "$work/sink-ready.json" tcp), \"protocol\": \"TCP\"}"
expected=$delivered
lines_of() { if [ -e "$1" ]; then wc -l <"$1"; else echo 0; fi; }
reference_complete() { [ "$(lines_of "$reference")" -ge "$expected" ]; }
wait_until 10 reference_complete || fail "edr-siem-sink wrote $(lines_of "$reference") of $expected events"
kill -TERM "$sink"
wait "$sink" || true
[ "$expected" -gt 300 ] || fail "only $expected events delivered to edr-siem-sink"
grep -q '"padding":"x' "$reference" || fail "the large event is not among the delivered"

# Checks that OUTPUT grew by the reference's events since OFFSET: in order
# for a stream, in any order for datagrams.
check_arrived() {  # NAME OUTPUT OFFSET ORDERED(1|0)
  local name="$1" output="$2" offset="$3" ordered="$4"
  arrived() { [ "$(tail -c +"$(( offset + 1 ))" "$output" 2>/dev/null | wc -l)" -ge "$expected" ]; }
  wait_until 15 arrived || true
  tail -c +"$(( offset + 1 ))" "$output" >"$work/$name.arrived"
  if [ "$ordered" = 1 ]; then
    cmp -s "$reference" "$work/$name.arrived" ||
      fail "$name: what arrived is not what edr-siem-sink got: $(diff <(cut -c 1-200 "$reference") \
        <(cut -c 1-200 "$work/$name.arrived") | head -n 8)"
  else
    cmp -s <(LC_ALL=C sort "$reference") <(LC_ALL=C sort "$work/$name.arrived") ||
      fail "$name: what arrived is not what edr-siem-sink got: $(diff <(LC_ALL=C sort "$reference" | cut -c 1-200) \
        <(LC_ALL=C sort "$work/$name.arrived" | cut -c 1-200) | head -n 8)"
  fi
  echo "$name: $expected events arrived as sent"
}

size_of() { if [ -e "$1" ]; then stat -c %s "$1"; else echo 0; fi; }

# The three syslog endpoints of one receiver, one host run each.
syslog_cases() {  # RECEIVER OUTPUT TCP_PORT UDP_PORT TLS_PORT
  local receiver="$1" output="$2" offset
  offset=$(size_of "$output")
  run_host "$receiver-tcp" "{\"host\": \"127.0.0.1\", \"port\": $3, \"protocol\": \"TCP\"}"
  check_arrived "$receiver-tcp" "$output" "$offset" 1
  offset=$(size_of "$output")
  run_host "$receiver-udp" "{\"host\": \"127.0.0.1\", \"port\": $4, \"protocol\": \"UDP\"}"
  check_arrived "$receiver-udp" "$output" "$offset" 0
  offset=$(size_of "$output")
  run_host "$receiver-tls" "{\"host\": \"127.0.0.1\", \"port\": $5, \"protocol\": \"TCP_TLS\"}"
  check_arrived "$receiver-tls" "$output" "$offset" 1
}

# ---- rsyslog ----------------------------------------------------------------

[ -x /usr/sbin/rsyslogd ] || fail "/usr/sbin/rsyslogd is missing: scripts/bootstrap.sh installs rsyslog and rsyslog-openssl"
dir="$work/rsyslog"
mkdir -p "$dir"
tcp=$(free_port tcp); udp=$(free_port udp); tls=$(free_port tcp)
configure "$receivers/rsyslog.conf" "$dir/rsyslog.conf" WORK_DIR="$dir" OUTPUT_FILE="$dir/events.ndjson" \
  LISTEN_ADDRESS=127.0.0.1 TCP_PORT="$tcp" UDP_PORT="$udp" TLS_PORT="$tls" \
  CA_FILE="$work/ca.pem" CERT_FILE="$work/server.pem" KEY_FILE="$work/server.key"
/usr/sbin/rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" >"$dir/rsyslogd.out" 2>&1 &
started+=($!)
wait_until 10 listening "$tcp" && wait_until 10 listening "$tls" ||
  fail "rsyslogd did not start: $(cat "$dir/rsyslogd.out")"
syslog_cases rsyslog "$dir/events.ndjson" "$tcp" "$udp" "$tls"

# ---- syslog-ng --------------------------------------------------------------

if syslog_ng_libs=$("$source_dir/scripts/unpack_debian_program.sh" syslog-ng-core "$cache" usr/sbin/syslog-ng \
                    usr/lib/syslog-ng/3.38/libaffile.so usr/lib/syslog-ng/3.38/libafsocket.so); then
  root="$cache/syslog-ng-core"
  dir="$work/syslog-ng"
  mkdir -p "$dir"
  tcp=$(free_port tcp); udp=$(free_port udp); tls=$(free_port tcp)
  configure "$receivers/syslog-ng.conf" "$dir/syslog-ng.conf" WORK_DIR="$dir" OUTPUT_FILE="$dir/events.ndjson" \
    LISTEN_ADDRESS=127.0.0.1 TCP_PORT="$tcp" UDP_PORT="$udp" TLS_PORT="$tls" \
    CERT_FILE="$work/server.pem" KEY_FILE="$work/server.key"
  LD_LIBRARY_PATH="$syslog_ng_libs" "$root/usr/sbin/syslog-ng" -F --no-caps -f "$dir/syslog-ng.conf" \
    -R "$dir/syslog-ng.persist" -p "$dir/syslog-ng.pid" -c "$dir/syslog-ng.ctl" \
    --module-path="$root/usr/lib/syslog-ng/3.38" >"$dir/syslog-ng.out" 2>&1 &
  started+=($!)
  wait_until 10 listening "$tcp" && wait_until 10 listening "$tls" ||
    fail "syslog-ng did not start: $(cat "$dir/syslog-ng.out")"
  syslog_cases syslog-ng "$dir/events.ndjson" "$tcp" "$udp" "$tls"
else
  unavailable syslog-ng
fi

# ---- nginx ------------------------------------------------------------------

if nginx_libs=$("$source_dir/scripts/unpack_debian_program.sh" nginx "$cache" usr/sbin/nginx); then
  dir="$work/nginx"
  mkdir -p "$dir"
  chmod 755 "$dir"
  port=$(free_port tcp)
  token="Bearer receivers-test-$RANDOM$RANDOM"
  configure "$receivers/nginx.conf" "$dir/nginx.conf" STATE_DIR="$dir" OUTPUT_FILE="$dir/events.ndjson" \
    LISTEN_ADDRESS=127.0.0.1 PORT="$port" TOKEN="$token"
  LD_LIBRARY_PATH="$nginx_libs" "$cache/nginx/usr/sbin/nginx" -p "$dir" -c "$dir/nginx.conf" -g 'daemon off;' \
    >"$dir/nginx.out" 2>&1 &
  started+=($!)
  wait_until 10 listening "$port" || fail "nginx did not start: $(cat "$dir/nginx.out")"

  # What it answers, before the host: a package is taken only on /ingest,
  # by POST, with the token; nothing else is written.
  answer() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
  url="http://127.0.0.1:$port/ingest"
  [ "$(answer --data-binary '{"refused":1}' "$url")" = 401 ] || fail "nginx took a package without the token"
  [ "$(answer -H "Authorization: Bearer wrong" --data-binary '{"refused":2}' "$url")" = 401 ] ||
    fail "nginx took a package with a wrong token"
  [ "$(answer -H "Authorization: $token" --data-binary '{"refused":3}' "http://127.0.0.1:$port/other")" = 404 ] ||
    fail "nginx did not answer 404 on another path"
  [ "$(answer -H "Authorization: $token" "$url")" = 405 ] || fail "nginx did not refuse a GET"
  [ ! -s "$dir/events.ndjson" ] || fail "nginx wrote a refused request: $(head -c 200 "$dir/events.ndjson")"

  offset=$(size_of "$dir/events.ndjson")
  run_host nginx-http "{\"url\": \"$url\", \"protocol\": \"HTTP\", \"headers\": {\"Authorization\": \"$token\"}}" \
    --trace-file "$work/runs/nginx-http.trace" --trace-level 1000
  check_arrived nginx-http "$dir/events.ndjson" "$offset" 1
  [ -s "$work/runs/nginx-http.trace" ] || fail "the host wrote no trace"
  if grep -qF "${token#Bearer }" "$work/runs/nginx-http.trace"; then
    fail "the Authorization token is in the host's trace"
  fi
else
  unavailable nginx
fi

if [ "${#missing_programs[@]}" -gt 0 ]; then
  echo "receivers: skipped ${missing_programs[*]}"
  exit 77
fi
echo "receivers: rsyslog and syslog-ng (TCP, UDP, TLS) and nginx (HTTP) received every event delivered"
