#!/usr/bin/env bash
# Counts what one relayed 1 KiB page costs the proxy in instructions (callgrind) and in system
# calls (strace), for one or more builds. Both counts barely move with the machine's load, so two
# builds can be compared where processor-time figures swing by tens of percent from run to run.
# Usage: bench/instructions.sh LABEL=BINARY [LABEL=BINARY...]
#   e.g. bench/instructions.sh earlier=/tmp/relaywatch-earlier now=build/bin/relaywatch
# Env: CONNS (connection counts, "1 32"), SECONDS_EACH (wrk seconds under callgrind, 10),
#      BENCH_HOME (the shared bench folder, default ../shared/bench beside the repository).
# Needs valgrind, strace and wrk; starts the shared bench's origin unless it is running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench_home=${BENCH_HOME:-$root/../shared/bench}
conns_list=${CONNS:-1 32}
seconds=${SECONDS_EACH:-10}
port=18030
origin=http://127.0.0.1:18080
[ $# -gt 0 ] || { sed -n '2,9p' "$0"; exit 2; }
for tool in valgrind callgrind_control strace wrk; do
  command -v "$tool" >/dev/null || { echo "instructions.sh: $tool not installed" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/rw-instr.XXXXXX")
proxy_pid=
started_origin=
cleanup() {
  [ -n "$proxy_pid" ] && kill -INT "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null
  [ -n "$started_origin" ] && "$bench_home/stop.sh" origin >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
if ! curl -s -o /dev/null "$origin/small.html"; then
  "$bench_home/origin.sh" >/dev/null
  started_origin=1
fi

# start_proxy DIR [WRAPPER...]: one headless instance on $port with its own settings and logs.
start_proxy() {
  local dir=$1
  shift
  mkdir -p "$dir"
  RELAYWATCH_CONFIG_DIR="$dir/config" "$@" --headless --port "$port" --max-mb 8 \
    --log-dir "$dir" >"$dir/out" 2>"$dir/err" &
  proxy_pid=$!
  for _ in $(seq 300); do grep -q "listening on" "$dir/out" && return; sleep 0.1; done
  cat "$dir/out" "$dir/err" >&2
  exit 1
}
stop_proxy() {
  kill -INT "$proxy_pid"
  wait "$proxy_pid" || true
  proxy_pid=
}
# load CONNS SECONDS: wrk through the proxy; prints the number of requests.
load() {
  wrk -t1 -c"$1" -d"$2s" --timeout 10s -s "$bench_home/request.lua" "http://127.0.0.1:$port/" \
    -- "$origin/small.html" | awk -F'\t' '/^WRKRESULT/ { print $2 }'
}

# instructions BINARY CONNS: instructions per request, counted only while the load runs.
instructions() {
  local dir="$work/cg"
  rm -rf "$dir"
  start_proxy "$dir" valgrind --tool=callgrind --instr-atstart=no \
    --callgrind-out-file="$dir/callgrind.out" "$1"
  load "$2" 2 >/dev/null # warm-up: threads and buffers exist before counting starts
  callgrind_control -i on "$proxy_pid" >/dev/null 2>&1
  local requests
  requests=$(load "$2" "$seconds")
  callgrind_control -i off "$proxy_pid" >/dev/null 2>&1
  stop_proxy
  local total
  total=$(awk '/Collected :/ { print $NF }' "$dir/err")
  echo $((total / requests))
}

# system_calls BINARY CONNS: system calls per request, by name, the commonest first.
system_calls() {
  local dir="$work/sc"
  rm -rf "$dir"
  start_proxy "$dir" "$1"
  load "$2" 1 >/dev/null
  strace -f -c -p "$proxy_pid" -o "$dir/strace" 2>/dev/null &
  local strace_pid=$!
  sleep 0.5
  local requests
  requests=$(load "$2" 5)
  kill -INT "$strace_pid"
  wait "$strace_pid" || true
  stop_proxy
  awk -v r="$requests" 'NR > 2 && $NF != "total" && $4 + 0 > 0 && $4 / r >= 0.005 {
      printf "%s %.2f\n", $NF, $4 / r }' "$dir/strace" | sort -k2 -nr | tr '\n' ' '
  echo
}

printf '%-12s %-6s %-14s %s\n' build conns "instr/request" "system calls/request"
for build in "$@"; do
  label=${build%%=*}
  binary=${build#*=}
  for conns in $conns_list; do
    printf '%-12s %-6s %-14s %s\n' "$label" "$conns" "$(instructions "$binary" "$conns")" \
      "$(system_calls "$binary" "$conns")"
  done
done
