#!/usr/bin/env bash
# End to end: curl through `relaywatch --headless` to a local origin. A text page, a chunked page,
# a 256 MiB binary (checksum identical) and an HTTPS page through CONNECT; then Ctrl+C and the
# log files. Usage: headless_e2e.sh PATH/TO/relaywatch [BIG_MIB]
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
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/site" "$work/logs" "$work/config"
python3 - "$work/site" <<'PY'
import os, sys
root = sys.argv[1]
words = "Gr\u00fc\u00dfe \u2013 it\u2019s a caf\u00e9 \u20ac5 \u043f\u0440\u0438\u0432\u0435\u0442 "
page = "<html><body>" + "".join("<p>%d %s</p>\n" % (i, words) for i in range(600)) + "</body></html>\n"
with open(os.path.join(root, "text.html"), "w", encoding="utf-8") as f:
    f.write(page)
PY
head -c $((big_mib * 1048576)) /dev/urandom > "$work/site/big.bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=127.0.0.1" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

python3 "$here/origin.py" "$work/site" "$work/ports" "$work/cert.pem" "$work/key.pem" &
pids+=($!)
for _ in $(seq 100); do [ -f "$work/ports" ] && break; sleep 0.1; done
read -r http_port https_port < "$work/ports"

# A free port for the proxy: bind 0, read it, release it.
proxy_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
RELAYWATCH_CONFIG_DIR="$work/config" "$binary" --headless --port "$proxy_port" --auto-log \
  --log-dir "$work/logs" > "$work/proxy.out" 2> "$work/proxy.err" &
proxy_pid=$!
pids+=($proxy_pid)
for _ in $(seq 100); do grep -q "listening on" "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done
grep -q "listening on 127.0.0.1:$proxy_port" "$work/proxy.out" || fail "proxy did not start: $(cat "$work/proxy.err")"

# A second instance on the same port cannot listen: it says why and exits with status 1.
status=0
RELAYWATCH_CONFIG_DIR="$work/config2" timeout 20 "$binary" --headless --port "$proxy_port" \
  > /dev/null 2> "$work/second.err" || status=$?
[ "$status" = 1 ] || fail "second instance exited with $status"
grep -q "Error creating listen socket." "$work/second.err" || fail "no listen error: $(cat "$work/second.err")"
"$binary" --version | grep -qx "relaywatch 3.0.2" || fail "--version"
"$binary" --help | grep -q -- "--headless" || fail "--help"

origin="http://127.0.0.1:$http_port"
via=(curl -sS --fail --max-time 120 -x "127.0.0.1:$proxy_port")

"${via[@]}" "$origin/text.html" -o "$work/text.out"
cmp "$work/site/text.html" "$work/text.out" || fail "text page differs"

"${via[@]}" -D "$work/chunked.hdr" "$origin/chunked/text.html" -o "$work/chunked.out"
cmp "$work/site/text.html" "$work/chunked.out" || fail "chunked page differs"
grep -qi '^content-length:' "$work/chunked.hdr" || fail "held chunked page was not re-sent with a length"

"${via[@]}" "$origin/big.bin" -o "$work/big.out"
[ "$(sha256sum < "$work/site/big.bin")" = "$(sha256sum < "$work/big.out")" ] || fail "binary checksum differs"

"${via[@]}" --cacert "$work/cert.pem" "https://127.0.0.1:$https_port/text.html" -o "$work/tls.out"
cmp "$work/site/text.html" "$work/tls.out" || fail "HTTPS page differs"

# Chained: a second instance forwards through the first as its upstream proxy.
chain_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
RELAYWATCH_CONFIG_DIR="$work/config3" "$binary" --headless --port "$chain_port" \
  --proxy "127.0.0.1:$proxy_port" > "$work/chain.out" 2> "$work/chain.err" &
chain_pid=$!
pids+=($chain_pid)
for _ in $(seq 100); do grep -q "listening on" "$work/chain.out" 2>/dev/null && break; sleep 0.1; done
grep -q "upstream proxy at 127.0.0.1:$proxy_port" "$work/chain.out" || fail "chained instance: $(cat "$work/chain.err")"
curl -sS --fail --max-time 60 -x "127.0.0.1:$chain_port" "$origin/text.html?chained" -o "$work/chain.html"
cmp "$work/site/text.html" "$work/chain.html" || fail "page through the chain differs"
kill -TERM "$chain_pid"
wait "$chain_pid" || fail "chained instance did not stop cleanly"

# Ctrl+C: an orderly stop that writes every exchange to the logs.
kill -INT "$proxy_pid"
status=0
wait "$proxy_pid" || status=$?
[ "$status" = 0 ] || fail "proxy exited with $status: $(cat "$work/proxy.err")"
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
echo "e2e: all checks passed"
