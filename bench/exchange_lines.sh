#!/usr/bin/env bash
# Does printing a line per exchange cost the relay anything? Runs `relaywatch --headless` twice,
# with the exchange lines written to a file and with --quiet, and measures both with the shared
# proxy bench, alternating, ROUNDS times each, so that the machine's drift hits both alike.
# Usage: bench/exchange_lines.sh      (the shared bench's origin must be running: origin.sh)
# Env: BENCH_HOME (default ../shared/bench beside the repository), ROUNDS (2), RW_PORT (18020;
#      the quiet instance uses the next port), and those of the shared bench (DURATION, ...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench_home=${BENCH_HOME:-$root/../shared/bench}
port=${RW_PORT:-18020}
rounds=${ROUNDS:-2}
"$root/scripts/build.sh" none "$root/build" relaywatch >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/rw-lines.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
start() { # start NAME PORT [OPTION...]
  local name=$1 p=$2
  shift 2
  RELAYWATCH_CONFIG_DIR="$work/config-$name" "$root/build/bin/relaywatch" --headless --port "$p" \
    --log-dir "$work" "$@" > "$work/$name.out" 2> "$work/$name.err" &
  pids+=($!)
  for _ in $(seq 50); do grep -q "listening on" "$work/$name.out" && return 0; sleep 0.1; done
  cat "$work/$name.err" >&2
  exit 1
}
start lines "$port"
start quiet "$((port + 1))" --quiet

header=-H
for round in $(seq "$rounds"); do
  "$bench_home/measure.sh" $header "127.0.0.1:$port" "lines-on/$round"
  header=
  "$bench_home/measure.sh" "127.0.0.1:$((port + 1))" "lines-off/$round"
done
echo "exchange lines written: $(grep -c ' #' "$work/lines.out")" >&2
