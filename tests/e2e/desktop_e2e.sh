#!/usr/bin/env bash
# End to end through the real program with its window, offscreen: without a display it points to
# --headless; with one it listens as its window opens, relays a request, and on SIGTERM closes the
# window in order, writing the logs (auto-logging) before it exits 0.
# Usage: desktop_e2e.sh PATH/TO/relaywatch
set -euo pipefail
binary=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/rw-desktop-e2e.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# No display: one line, a pointer to --headless, status 2, and no window toolkit abort.
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" -eq 2 ] || fail "without a display the exit status was $status"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "without a display: $(cat "$work/err")"
grep -q -- '--headless' "$work/err" || fail "no pointer to --headless: $(cat "$work/err")"

# Settings as a previous run would have saved them.
key="$work/config/HKEY_LOCAL_MACHINE/Software/Quillon/Relaywatch"
mkdir -p "$key" "$work/logs" "$work/site"
port=$(free_port)
printf '%s' "$port" >"$key/HttpPort"
printf '1' >"$key/AutoLog"
printf '%s' "$work/logs" >"$key/LogDir"
printf '3' >"$key/RunCount"  # past the first runs: no help page opens
echo "hello through the window" >"$work/site/page.txt"

origin_port=$(free_port)
python3 -m http.server "$origin_port" --bind 127.0.0.1 --directory "$work/site" \
  >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  curl -s --max-time 2 "http://127.0.0.1:$origin_port/page.txt" >/dev/null 2>&1 && break
  sleep 0.1
done
QT_QPA_PLATFORM=offscreen RELAYWATCH_CONFIG_DIR="$work/config" "$binary" \
  >"$work/app.out" 2>"$work/app.err" &
app=$!
pids+=("$app")

body=""
for _ in $(seq 1 100); do
  if body=$(curl -s --max-time 5 -x "http://127.0.0.1:$port" \
              "http://127.0.0.1:$origin_port/page.txt" 2>/dev/null) &&
     [ "$body" = "hello through the window" ]; then
    break
  fi
  sleep 0.1
done
[ "$body" = "hello through the window" ] || fail "relayed body was '$body'"

kill -TERM "$app"
set +e
wait "$app"
status=$?
set -e
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM: $(cat "$work/app.err")"
grep -q "GET /page.txt HTTP/1.1" "$work"/logs/rwlog_*.txt ||
  grep -q "page.txt" "$work"/logs/rwlog_*.txt || fail "the logs do not hold the request"
grep -q "page.txt" "$work"/logs/rwlog_*.csv || fail "the statistics log does not hold the request"
echo "desktop end-to-end: ok"
