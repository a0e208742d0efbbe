#!/usr/bin/env bash
# End to end: `relaywatch --headless --open-browser` with a stand-in Chromium first on PATH. The
# stand-in records its arguments; the run prints the command it started, the browser gets the
# proxy and a private profile that is removed when it exits; a browser that fails at once is
# reported on stderr and the run goes on.
# Usage: open_browser_e2e.sh PATH/TO/relaywatch
set -euo pipefail
binary=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/rw-browser-e2e.XXXXXX")
pids=()
cleanup() {
  touch "$work/stop"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir "$work/bin"

# install_stand_in EXIT: a "chromium" that records its arguments and its profile's mode, then
# runs until $work/stop exists (EXIT empty) or says something and exits with EXIT.
install_stand_in() {
  cat > "$work/bin/chromium" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" > "$work/arguments"
for a in "\$@"; do case "\$a" in --user-data-dir=*) d="\${a#--user-data-dir=}";; esac; done
stat -c %a "\$d" > "$work/profile-mode"
if [ -n "$1" ]; then echo "stand-in refuses to start" >&2; exit $1; fi
while [ ! -e "$work/stop" ]; do sleep 0.05; done
SCRIPT
  chmod 755 "$work/bin/chromium"
}

# start NAME: a headless run on a free port with --open-browser; waits until WAIT_FOR appears in
# $work/NAME.out or .err. Sets $pid and $port.
start() {
  local name=$1 wait_for=$2
  for _ in $(seq 20); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    PATH="$work/bin:/usr/bin:/bin" RELAYWATCH_CONFIG_DIR="$work/config" \
      "$binary" --headless -q --port "$port" --open-browser \
      > "$work/$name.out" 2> "$work/$name.err" &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 200); do
      grep -qF -- "$wait_for" "$work/$name.out" "$work/$name.err" 2>/dev/null && return 0
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    wait "$pid" 2>/dev/null || true
    grep -q "Address already in use" "$work/$name.err" ||
      fail "$name did not start: $(cat "$work/$name.err")"
  done
  fail "$name: no free port in 20 tries"
}

install_stand_in ""
start opened "Opened browser: "
grep -qxF -- "--proxy-server=http://127.0.0.1:$port" "$work/arguments" ||
  fail "no proxy argument: $(cat "$work/arguments")"
grep -qxF -- "--proxy-bypass-list=<-loopback>" "$work/arguments" || fail "loopback bypassed"
grep -qF "Opened browser: $work/bin/chromium --proxy-server=http://127.0.0.1:$port" \
  "$work/opened.out" || fail "command line: $(cat "$work/opened.out")"
[ "$(cat "$work/profile-mode")" = 700 ] || fail "profile mode $(cat "$work/profile-mode")"
profile=$(sed -n 's/^--user-data-dir=//p' "$work/arguments")
[ -d "$profile" ] || fail "profile $profile gone while the browser runs"
touch "$work/stop"
for _ in $(seq 100); do [ -d "$profile" ] || break; sleep 0.05; done
[ ! -d "$profile" ] || fail "profile $profile left after the browser exited"
kill -TERM "$pid"
wait "$pid" || fail "exit status $? after SIGTERM"
rm "$work/stop"

install_stand_in 3
start refused "stand-in refuses to start"
grep -qF "exited with status 3" "$work/refused.err" || fail "no exit status: $(cat "$work/refused.err")"
kill -0 "$pid" || fail "the run ended with the browser"
grep -q "^Press Ctrl+C" "$work/refused.out" || fail "no banner"
kill -TERM "$pid"
wait "$pid" || fail "exit status $? after SIGTERM"
echo "open_browser_e2e: ok"
