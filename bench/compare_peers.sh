#!/usr/bin/env bash
# Starts `relaywatch --headless` and compares it with direct access and the peer proxies
# (tinyproxy, squid, mitmdump, privoxy) in one run, using the shared proxy bench.
# Usage: bench/compare_peers.sh [--install]   (--install: apt-get the bench's packages first)
# Env: BENCH_HOME (the shared bench folder, default ../shared/bench beside the repository),
#      RW_PORT (18010), RW_MAX_MB (8), RW_EARLIER (another relaywatch binary, e.g. a build of an
#      earlier commit: measured in the same run on RW_PORT+1 as relaywatch_earlier), and those of
#      the shared bench (DURATION, PEERS, ...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench_home=${BENCH_HOME:-$root/../shared/bench}
port=${RW_PORT:-18010}

if [ "${1:-}" = --install ]; then
  "$root/scripts/packages.sh"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends wrk nginx curl tinyproxy squid mitmproxy privoxy
fi
"$root/scripts/build.sh" none "$root/build" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/rw-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# start NAME BINARY PORT: one headless instance with its own settings and log directory.
start() {
  mkdir -p "$work/$1"
  RELAYWATCH_CONFIG_DIR="$work/$1/config" "$2" --headless --port "$3" \
    --max-mb "${RW_MAX_MB:-8}" --log-dir "$work/$1" > "$work/$1.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q "listening on" "$work/$1.out" && break; sleep 0.1; done
  grep -q "listening on" "$work/$1.out" || { cat "$work/$1.out"; exit 1; }
}
targets=()
if [ -n "${RW_EARLIER:-}" ]; then
  start relaywatch_earlier "$RW_EARLIER" $((port + 1))
  targets+=("127.0.0.1:$((port + 1))=relaywatch_earlier")
fi
start relaywatch "$root/build/bin/relaywatch" "$port"
targets+=("127.0.0.1:$port=relaywatch")

"$bench_home/compare.sh" "${targets[@]}"
# The store must have kept its limit under full load: its resident size stays bounded.
for pid in "${pids[@]}"; do echo "relaywatch (pid $pid) resident set after the run: $(ps -o rss= -p "$pid") KiB"; done
