#!/usr/bin/env bash
# Starts `relaywatch --headless` and compares it with direct access and the peer proxies
# (tinyproxy, squid, mitmdump, privoxy) in one run, using the shared proxy bench.
# Usage: bench/compare_peers.sh [--install]   (--install: apt-get the bench's packages first)
# Env: BENCH_HOME (the shared bench folder, default ../shared/bench beside the repository),
#      RW_PORT (18010), RW_MAX_MB (8), and those of the shared bench (DURATION, PEERS, ...).
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
RELAYWATCH_CONFIG_DIR="$work/config" "$root/build/bin/relaywatch" --headless --port "$port" \
  --max-mb "${RW_MAX_MB:-8}" --log-dir "$work" > "$work/relaywatch.out" 2>&1 &
rw_pid=$!
cleanup() { kill -INT "$rw_pid" 2>/dev/null || true; wait "$rw_pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 50); do grep -q "listening on" "$work/relaywatch.out" && break; sleep 0.1; done
grep -q "listening on" "$work/relaywatch.out" || { cat "$work/relaywatch.out"; exit 1; }

"$bench_home/compare.sh" "127.0.0.1:$port=relaywatch"
# The store must have kept its limit under full load: its resident size stays bounded.
echo "relaywatch resident set after the run: $(ps -o rss= -p "$rw_pid") KiB"
