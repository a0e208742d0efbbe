#!/usr/bin/env bash
# Starts `relaywatch --headless --inspect-https` and compares it with direct TLS and mitmdump in
# one run, using the shared bench's HTTPS part (https.sh). The origin runs first, so that its
# certificate authority exists for --upstream-ca.
# Usage: bench/https_compare.sh [--install]   (--install: apt-get the bench's packages first)
# Env: BENCH_HOME (the shared bench folder, default ../shared/bench beside the repository),
#      BENCH_DIR (the bench's state, default $TMPDIR/proxybench.$UID), RW_PORT (18010),
#      RW_MAX_MB (8), and those of the shared bench (DURATION, CURL_RUNS, NEWCONN_CONNS, PEERS, ...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench_home=${BENCH_HOME:-$root/../shared/bench}
port=${RW_PORT:-18010}
export BENCH_DIR=${BENCH_DIR:-${TMPDIR:-/tmp}/proxybench.$UID}

if [ "${1:-}" = --install ]; then
  "$root/scripts/packages.sh"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends wrk nginx curl mitmproxy python3
fi
"$root/scripts/build.sh" none "$root/build" relaywatch >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/rw-https-bench.XXXXXX")
rw_pid=
origin_pid=
cleanup() {
  if [ -n "$rw_pid" ]; then kill -INT "$rw_pid" 2>/dev/null || true; wait "$rw_pid" 2>/dev/null || true; fi
  if [ -n "$origin_pid" ]; then "$bench_home/stop.sh" origin >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A running origin (with its TLS site) is reused and left running.
if origin_pid=$("$bench_home/origin.sh" 2>"$work/origin.err"); then :; else
  origin_pid=
  grep -q "origin already running" "$work/origin.err" || { cat "$work/origin.err"; exit 1; }
fi
ca_dir="$work/config"
RELAYWATCH_CONFIG_DIR="$ca_dir" "$root/build/bin/relaywatch" --headless --port "$port" -q \
  --max-mb "${RW_MAX_MB:-8}" --log-dir "$work" \
  --inspect-https --upstream-ca "$BENCH_DIR/tls/origin-ca.pem" > "$work/relaywatch.out" 2>&1 &
rw_pid=$!
for _ in $(seq 100); do grep -q "^HTTPS inspection: on" "$work/relaywatch.out" && break; sleep 0.1; done
banner=$(grep "^HTTPS inspection: on" "$work/relaywatch.out") || { cat "$work/relaywatch.out"; exit 1; }
ca=${banner#*CA certificate: }
ca=${ca%)}
for _ in $(seq 50); do grep -q "listening on" "$work/relaywatch.out" && break; sleep 0.1; done

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$bench_home/https.sh" "127.0.0.1:$port=relaywatch" "relaywatch_CA=$ca"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "relaywatch (pid $rw_pid) resident set after the run: $(ps -o rss= -p "$rw_pid") KiB"
