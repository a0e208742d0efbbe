#!/usr/bin/env bash
# End to end: curl through `relaywatch --headless` to a local origin. A text page, a chunked page,
# a 256 MiB binary (checksum identical) and an HTTPS page through CONNECT; a chained instance; the
# start-up checks and reports; SIGUSR1, SIGUSR2, SIGHUP (and nohup) and Ctrl+C with the logs and
# the stop summary, also with a connection still busy at the stop; a
# HAR file of five known exchanges read back by an independent checker.
# Usage: headless_e2e.sh PATH/TO/relaywatch [BIG_MIB]   (RELAYWATCH_VERSION: the version --version
# must print; ctest passes the project version)
set -euo pipefail
binary=$1
big_mib=${2:-256}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/rw-e2e.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${RW_E2E_KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# start_proxy NAME [OPTION...]: starts an instance on a free port, its output in $work/NAME.out and
# .err, its settings in $work/config-NAME. A candidate port is tried and, when the program reports
# it busy, another: no port is bound and released first, which another process could take in the
# gap. Sets started_port and started_pid.
start_proxy() {
  local name=$1 port pid attempt
  shift
  for attempt in $(seq 20); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    RELAYWATCH_CONFIG_DIR="$work/config-$name" "$binary" --headless --port "$port" "$@" \
      > "$work/$name.out" 2> "$work/$name.err" &
    pid=$!
    for _ in $(seq 200); do
      if grep -q "listening on 127.0.0.1:$port" "$work/$name.out" 2>/dev/null; then
        started_port=$port
        started_pid=$pid
        pids+=("$pid")
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    grep -q "cannot listen on 127.0.0.1:$port: Address already in use" "$work/$name.err" ||
      fail "$name did not start: $(cat "$work/$name.err")"
  done
  fail "$name: no free port in 20 tries"
}

# Exchange lines: local time with milliseconds, then the exchange's id.
line='[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} #[0-9]+'
# wait_lines FILE N: until FILE holds N exchange lines (each is printed as its exchange completes).
wait_lines() {
  for _ in $(seq 200); do
    [ "$(grep -Ec "^$line " "$1" || true)" -ge "$2" ] && return 0
    sleep 0.05
  done
  fail "$1: fewer than $2 exchange lines: $(cat "$1")"
}

# stop_proxy PID SIGNAL: sends the signal and sets stop_status to the exit status.
stop_proxy() {
  kill -"$2" "$1"
  stop_status=0
  wait "$1" || stop_status=$?
}

mkdir -p "$work/site" "$work/logs" "$work/harlogs"
python3 - "$work/site" <<'PY'
import os, struct, sys, zlib
root = sys.argv[1]
words = "Gr\u00fc\u00dfe \u2013 it\u2019s a caf\u00e9 \u20ac5 \u043f\u0440\u0438\u0432\u0435\u0442 "
page = "<html><body>" + "".join("<p>%d %s</p>\n" % (i, words) for i in range(600)) + "</body></html>\n"
with open(os.path.join(root, "text.html"), "w", encoding="utf-8") as f:
    f.write(page)
# ASCII only: chunk framing that falls inside a UTF-8 sequence ends the capture of that read.
with open(os.path.join(root, "ascii.html"), "w") as f:
    f.write("<html><body>" + "".join("<p>line %d</p>\n" % i for i in range(1500)) + "</body></html>\n")
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)) +
       chunk(b"IDAT", zlib.compress(b"\x00\xff\x00\x00")) + chunk(b"IEND", b""))
with open(os.path.join(root, "pixel.png"), "wb") as f:
    f.write(png)
PY
head -c $((big_mib * 1048576)) /dev/urandom > "$work/site/big.bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=127.0.0.1" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

python3 "$here/origin.py" "$work/site" "$work/ports" "$work/cert.pem" "$work/key.pem" &
pids+=($!)
for _ in $(seq 100); do [ -f "$work/ports" ] && break; sleep 0.1; done
read -r http_port https_port < "$work/ports"
origin="http://127.0.0.1:$http_port"

# --- Start-up checks: an unusable log directory stops the start before listening (status 2).
for case in "missing:$work/nowhere:it does not exist" "file:$work/ports:it is not a directory"; do
  IFS=: read -r what dir message <<< "$case"
  status=0
  RELAYWATCH_CONFIG_DIR="$work/config-bad" timeout 20 "$binary" --headless --port 1 --auto-log \
    --log-dir "$dir" > "$work/bad.out" 2> "$work/bad.err" || status=$?
  [ "$status" = 2 ] || fail "log directory $what: exit status $status"
  grep -q "cannot use the log directory $dir: $message" "$work/bad.err" ||
    fail "log directory $what: $(cat "$work/bad.err")"
  ! grep -q "listening on" "$work/bad.out" || fail "log directory $what: it listened"
done

# --- An upstream proxy that is this instance's own address is refused before listening.
for upstream in 127.0.0.1 localhost; do
  status=0
  RELAYWATCH_CONFIG_DIR="$work/config-loop" timeout 20 "$binary" --headless --port 1 \
    --proxy "$upstream:1" > "$work/loop.out" 2> "$work/loop.err" || status=$?
  [ "$status" = 2 ] || fail "upstream $upstream: exit status $status"
  grep -q "The upstream proxy $upstream:1 is this program's own address" "$work/loop.err" ||
    fail "upstream $upstream: $(cat "$work/loop.err")"
  ! grep -q "listening on" "$work/loop.out" || fail "upstream $upstream: it listened"
done

# --- The main instance: auto-logging, the limit raised to its floor.
start_proxy main --auto-log --log-dir "$work/logs" --max-mb 1
proxy_port=$started_port
proxy_pid=$started_pid
out="$work/main.out"
grep -qx "Memory limit: 4 MB (raised from 1 MB: 4 MB is the lowest limit)" "$out" || fail "banner: limit"
grep -qx "Log directory: $work/logs" "$out" || fail "banner: log directory"
grep -Eq "^Log files: $work/logs/rwlog_[0-9]{8}_[0-9]{6}\.txt \(full text\), .*\.csv \(stats\)$" "$out" ||
  fail "banner: log files"
grep -q "^Auto-logging: on" "$out" || fail "banner: auto-logging"

# A second instance on the same port cannot listen: the window's message, then the reason.
status=0
RELAYWATCH_CONFIG_DIR="$work/config2" timeout 20 "$binary" --headless --port "$proxy_port" \
  > /dev/null 2> "$work/second.err" || status=$?
[ "$status" = 1 ] || fail "second instance exited with $status"
grep -q "Error creating listen socket." "$work/second.err" || fail "no listen error: $(cat "$work/second.err")"
grep -qx "relaywatch: cannot listen on 127.0.0.1:$proxy_port: Address already in use" "$work/second.err" ||
  fail "no listen reason: $(cat "$work/second.err")"
# The same port from the stored settings: the report names the setting.
key=$(dirname "$(find "$work/config-main" -name HttpPort)")
mkdir -p "$work/config-stored" && cp -r "$work/config-main/." "$work/config-stored/"
stored_key=${key/config-main/config-stored}
printf '%s' "$proxy_port" > "$stored_key/HttpPort"
status=0
RELAYWATCH_CONFIG_DIR="$work/config-stored" timeout 20 "$binary" --headless > /dev/null \
  2> "$work/stored.err" || status=$?
[ "$status" = 1 ] || fail "stored-port instance exited with $status"
grep -q "Address already in use (the port is the stored setting HttpPort in $stored_key;" \
  "$work/stored.err" || fail "stored setting not named: $(cat "$work/stored.err")"
if [ -n "${RELAYWATCH_VERSION:-}" ]; then
  "$binary" --version | grep -qxF "relaywatch $RELAYWATCH_VERSION" || fail "--version"
fi
"$binary" --help | grep -q -- "--headless" || fail "--help"

via=(curl -sS --fail --max-time 120 -x "127.0.0.1:$proxy_port")

"${via[@]}" "$origin/text.html" -o "$work/text.out"
cmp "$work/site/text.html" "$work/text.out" || fail "text page differs"

"${via[@]}" -D "$work/chunked.hdr" "$origin/chunked/text.html" -o "$work/chunked.out"
cmp "$work/site/text.html" "$work/chunked.out" || fail "chunked page differs"
grep -qi '^content-length:' "$work/chunked.hdr" || fail "held chunked page was not re-sent with a length"

# SIGUSR1 writes the logs now and says so.
wait_lines "$out" 2
kill -USR1 "$proxy_pid"
for _ in $(seq 100); do grep -q "^Logged and cleared" "$out" && break; sleep 0.05; done
grep -q "^Logged and cleared 2 exchanges: $work/logs/rwlog_.*\.txt (full text), .*\.csv (stats)$" "$out" ||
  fail "SIGUSR1: $(cat "$out")"
grep -q "GET $origin/chunked/text.html" "$work"/logs/rwlog_*.csv || fail "SIGUSR1 did not log"

# SIGUSR2 is how the store asks for an early upkeep: it runs one and goes on relaying.
kill -USR2 "$proxy_pid"
sleep 0.2
kill -0 "$proxy_pid" 2>/dev/null || fail "SIGUSR2 ended the proxy"

"${via[@]}" "$origin/big.bin" -o "$work/big.out"
[ "$(sha256sum < "$work/site/big.bin")" = "$(sha256sum < "$work/big.out")" ] || fail "binary checksum differs"

"${via[@]}" --cacert "$work/cert.pem" "https://127.0.0.1:$https_port/text.html" -o "$work/tls.out"
cmp "$work/site/text.html" "$work/tls.out" || fail "HTTPS page differs"

# Chained: a second instance forwards through the first as its upstream proxy.
start_proxy chain --proxy "127.0.0.1:$proxy_port" -q
chain_port=$started_port
chain_pid=$started_pid
grep -q "upstream proxy at 127.0.0.1:$proxy_port" "$work/chain.out" || fail "chained instance: $(cat "$work/chain.err")"
grep -qx "Exchange lines: off (--quiet)" "$work/chain.out" || fail "chained instance: --quiet"
curl -sS --fail --max-time 60 -x "127.0.0.1:$chain_port" "$origin/text.html?chained" -o "$work/chain.html"
cmp "$work/site/text.html" "$work/chain.html" || fail "page through the chain differs"
stop_proxy "$chain_pid" TERM
[ "$stop_status" = 0 ] || fail "chained instance did not stop cleanly"
# Quiet: no exchange lines, but the summary still counts, and says the data was not kept.
! grep -q " #[0-9]* GET " "$work/chain.out" || fail "--quiet printed exchange lines"
grep -qx "Captured 1 exchange." "$work/chain.out" || fail "chained summary: $(cat "$work/chain.out")"
grep -qx "Not written to log files: auto-logging is off (--auto-log or --har FILE keeps them)." \
  "$work/chain.out" || fail "chained summary does not say the data was dropped"

# Ctrl+C: an orderly stop that writes every exchange to the logs.
stop_proxy "$proxy_pid" INT
[ "$stop_status" = 0 ] || fail "proxy exited with $stop_status: $(cat "$work/main.err")"
csv=$(ls "$work"/logs/rwlog_*.csv)
txt=$(ls "$work"/logs/rwlog_*.txt)
[ "$(stat -c %a "$csv")" = 600 ] || fail "CSV log is not private"
grep -q "GET $origin/text.html HTTP/1.1" "$csv" || fail "text page missing from the CSV log"
grep -q "GET $origin/chunked/text.html" "$csv" || fail "chunked page missing from the CSV log"
grep -q "GET $origin/big.bin" "$csv" || fail "binary missing from the CSV log"
grep -q "CONNECT 127.0.0.1:$https_port" "$csv" || fail "tunnel missing from the CSV log"
# The upstream received the chained request unchanged, in absolute form.
grep -q "GET $origin/text.html?chained HTTP/1.1" "$csv" || fail "chained request missing upstream"
grep -q "it’s a café €5 привет" "$txt" || fail "UTF-8 page text not captured whole"
# One line per exchange, and the summary.
grep -Eq "^$line GET $origin/text.html 200 req=[0-9]+B rsp=[0-9]+B [0-9]+\.[0-9]{3}s$" "$out" ||
  fail "no exchange line for the text page: $(cat "$out")"
grep -Eq "^$line GET $origin/big.bin 200 req=[0-9]+B rsp=[0-9]{7,}B" "$out" ||
  fail "no exchange line for the binary"
grep -Eq "^$line CONNECT 127.0.0.1:$https_port 200 req=[0-9]+B rsp=[0-9]+B" "$out" ||
  fail "no exchange line for the tunnel"
grep -Eq "^Captured [0-9]+ exchanges\.$" "$out" || fail "no stop summary"
grep -q "^Log files: $txt (full text), $csv (stats)$" "$out" || fail "summary does not name the logs"

# --- SIGHUP (the terminal closed) stops in order too: the logs are written.
start_proxy hup --auto-log --log-dir "$work/harlogs"
curl -sS --fail --max-time 60 -x "127.0.0.1:$started_port" "$origin/text.html?hup" -o /dev/null
stop_proxy "$started_pid" HUP
[ "$stop_status" = 0 ] || fail "SIGHUP: exit status $stop_status"
grep -q "GET $origin/text.html?hup" "$work"/harlogs/rwlog_*.csv || fail "SIGHUP: nothing logged"
rm -f "$work"/harlogs/rwlog_*

# --- Under nohup (SIGHUP ignored from the start) SIGHUP leaves it running; SIGTERM still stops it.
relaywatch=$binary
binary="$work/nohup-relaywatch"
printf '#!/bin/sh\nexec nohup "%s" "$@"\n' "$relaywatch" > "$binary"
chmod 700 "$binary"
start_proxy nohup
binary=$relaywatch
kill -HUP "$started_pid"
curl -sS --fail --max-time 60 -x "127.0.0.1:$started_port" "$origin/text.html?nohup" -o /dev/null ||
  fail "nohup: SIGHUP stopped the proxy"
kill -0 "$started_pid" 2>/dev/null || fail "nohup: SIGHUP ended the proxy"
stop_proxy "$started_pid" TERM
[ "$stop_status" = 0 ] || fail "nohup: exit status $stop_status"

# --- A final log pass that fails is reported as failed: no success line, exit status 1.
mkdir "$work/vanishing"
start_proxy vanish --auto-log --log-dir "$work/vanishing"
curl -sS --fail --max-time 60 -x "127.0.0.1:$started_port" "$origin/text.html?lost" -o /dev/null
rm -rf "$work/vanishing"
stop_proxy "$started_pid" TERM
[ "$stop_status" = 1 ] || fail "failed final log pass: exit status $stop_status"
! grep -q "^Log files:" <(sed -n '/^Stopping/,$p' "$work/vanish.out") ||
  fail "failed final log pass printed a success line"
grep -q "Log File failed: the final log pass did not write .*; 1 exchange not saved" \
  "$work/vanish.err" || fail "failed final log pass: $(cat "$work/vanish.err")"

# --- A stop while a connection thread waits in connect: the stop ends the connect at once, so the
# process stops in order, and that exchange (answered with the connection-failure page) is in the
# logs. The connect goes to a loopback listener whose accept queue is full: SYNs go unanswered.
python3 -c '
import socket, sys, time
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(0)
port = listener.getsockname()[1]
queued = []
for _ in range(3):
    s = socket.socket(); s.setblocking(False); s.connect_ex(("127.0.0.1", port)); queued.append(s)
print(port, flush=True)
time.sleep(60)
' > "$work/full.port" &
pids+=("$!")
for _ in $(seq 100); do [ -s "$work/full.port" ] && break; sleep 0.05; done
full_port=$(cat "$work/full.port")
[ -n "$full_port" ] || fail "no listener with a full queue"
sleep 0.3  # the queue fills
mkdir -p "$work/stucklogs"
start_proxy stuck --auto-log --log-dir "$work/stucklogs"
curl -sS --fail --max-time 60 -x "127.0.0.1:$started_port" "$origin/text.html?before-stuck" -o /dev/null
curl -s --max-time 30 -x "127.0.0.1:$started_port" "http://127.0.0.1:$full_port/never" -o /dev/null &
stuck_curl=$!
pids+=("$stuck_curl")
sleep 0.5  # its connection thread is now waiting in connect
stop_started=$(date +%s)
stop_proxy "$started_pid" INT
[ "$stop_status" = 0 ] || fail "stuck stop: exit status $stop_status: $(cat "$work/stuck.err")"
[ $(( $(date +%s) - stop_started )) -lt 5 ] || fail "stuck stop waited for the connect"
! grep -q "some connections did not end in time" "$work/stuck.err" ||
  fail "stuck stop: the connect was not ended: $(cat "$work/stuck.err")"
grep -q "GET $origin/text.html?before-stuck" "$work"/stucklogs/rwlog_*.csv ||
  fail "stuck stop: the logs were not written"
grep -q "GET http://127.0.0.1:$full_port/never" "$work"/stucklogs/rwlog_*.csv ||
  fail "stuck stop: the exchange that was connecting is not in the logs"
grep -q "^Log files: " <(sed -n '/^Stopping/,$p' "$work/stuck.out") || fail "stuck stop: no summary"
kill "$stuck_curl" 2>/dev/null || true

# --- HAR: five known exchanges, read back by an independent checker.
post_body='name=Gr%C3%BC%C3%9Fe&note=caf%C3%A9+au+lait'
start_proxy har --har "$work/harlogs/run.har"
[ -s "$work/harlogs/run.har" ] || fail "HAR file not written at start"
hvia=(curl -sS --max-time 60 -x "127.0.0.1:$started_port" -o /dev/null)
"${hvia[@]}" --fail "$origin/text.html"
"${hvia[@]}" --fail "$origin/pixel.png?size=1&name=dot#fragment"
"${hvia[@]}" --fail -b "session=abc123" --data "$post_body" "$origin/echo"
"${hvia[@]}" "$origin/missing.html"
"${hvia[@]}" --fail "$origin/chunked/ascii.html"
stop_proxy "$started_pid" TERM
[ "$stop_status" = 0 ] || fail "HAR instance: exit status $stop_status: $(cat "$work/har.err")"
grep -qx "HAR file: $work/harlogs/run.har (5 entries)" "$work/har.out" || fail "HAR summary: $(cat "$work/har.out")"
python3 "$here/check_har.py" "$work/harlogs/run.har" "$work/site" "$origin" "$post_body" ||
  fail "HAR file"
# The checker itself bites: a copy with one required field gone, or times that do not add up, fails.
for mutation in "del e['response']['content']" "e['time'] += 1" "del e['request']['headers']"; do
  python3 -c "import json,sys; d=json.load(open(sys.argv[1])); e=d['log']['entries'][2]; $mutation
json.dump(d, open(sys.argv[2], 'w'))" "$work/harlogs/run.har" "$work/harlogs/bad.har"
  ! python3 "$here/check_har.py" "$work/harlogs/bad.har" "$work/site" "$origin" "$post_body" \
    > /dev/null || fail "HAR checker accepted: $mutation"
done
echo "e2e: all checks passed"
