#!/usr/bin/env bash
# End to end: how `relaywatch --headless` starts with HTTPS inspection asked for. The banner line,
# the certificate authority's files and modes, the same authority on the next start, the stored
# InspectHttps value, and exit 2 naming the file for a key others can read, a damaged key and a
# missing --upstream-ca file. Interception itself is not exercised here.
# Usage: inspection_start_e2e.sh PATH/TO/relaywatch
set -euo pipefail
binary=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/rw-tls-e2e.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

config="$work/config"
ca="$config/HKEY_LOCAL_MACHINE/Software/Quillon/Relaywatch/ca"

# run_until_banner NAME [OPTION...]: starts on a free port, waits for the banner, stops it with
# SIGTERM and checks the orderly exit. Output in $work/NAME.out and .err.
run_until_banner() {
  local name=$1 port pid
  shift
  for _ in $(seq 20); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    RELAYWATCH_CONFIG_DIR="$config" "$binary" --headless -q --port "$port" "$@" \
      > "$work/$name.out" 2> "$work/$name.err" &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 200); do
      grep -q "^Press Ctrl+C" "$work/$name.out" 2>/dev/null && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if grep -q "^Press Ctrl+C" "$work/$name.out"; then
      kill -TERM "$pid"
      wait "$pid" || fail "$name: exit status $? after SIGTERM: $(cat "$work/$name.err")"
      return 0
    fi
    wait "$pid" 2>/dev/null || true
    grep -q "Address already in use" "$work/$name.err" ||
      fail "$name did not start: $(cat "$work/$name.err")"
  done
  fail "$name: no free port in 20 tries"
}

# expect_exit2 NAME TEXT [OPTION...]: the start fails with status 2 and TEXT on stderr.
expect_exit2() {
  local name=$1 text=$2 status=0
  shift 2
  # A start that wrongly went ahead would listen: the time limit ends it.
  RELAYWATCH_CONFIG_DIR="$config" timeout 10 "$binary" --headless -q --port 1 "$@" \
    > "$work/$name.out" 2> "$work/$name.err" || status=$?
  [ "$status" = 2 ] || fail "$name: exit status $status, not 2: $(cat "$work/$name.err")"
  grep -qF -- "$text" "$work/$name.err" || fail "$name: no \"$text\" in: $(cat "$work/$name.err")"
}

mode() { stat -c %a "$1"; }

# Off: no line about inspection and no certificate authority.
run_until_banner off
! grep -q "HTTPS inspection" "$work/off.out" || fail "off: $(cat "$work/off.out")"
[ ! -e "$ca" ] || fail "off: $ca was created"

run_until_banner first --inspect-https
grep -qxF "HTTPS inspection: on (CA certificate: $ca/relaywatch-ca.pem)" "$work/first.out" ||
  fail "first: banner: $(cat "$work/first.out")"
[ "$(mode "$ca")" = 700 ] || fail "ca folder mode $(mode "$ca")"
[ "$(mode "$ca/relaywatch-ca.key")" = 600 ] || fail "key mode $(mode "$ca/relaywatch-ca.key")"
[ "$(mode "$ca/relaywatch-ca.pem")" = 644 ] || fail "certificate mode $(mode "$ca/relaywatch-ca.pem")"
openssl x509 -in "$ca/relaywatch-ca.pem" -noout -subject | grep -q "CN *= *Relaywatch" ||
  fail "subject: $(openssl x509 -in "$ca/relaywatch-ca.pem" -noout -subject)"
openssl x509 -in "$ca/relaywatch-ca.pem" -noout -ext basicConstraints,keyUsage > "$work/ext"
grep -A1 "Basic Constraints: critical" "$work/ext" | grep -q "CA:TRUE" || fail "$(cat "$work/ext")"
grep -A1 "Key Usage: critical" "$work/ext" | grep -q "Certificate Sign" || fail "$(cat "$work/ext")"
cp "$ca/relaywatch-ca.pem" "$work/first.pem"
cp "$ca/relaywatch-ca.key" "$work/first.key"

# Without inspection a named --upstream-ca file is still checked.
expect_exit2 upstream-off "$work/missing.pem: No such file" --upstream-ca "$work/missing.pem"

# The stored value turns it on too, and the same authority is used again.
printf '1' > "$config/HKEY_LOCAL_MACHINE/Software/Quillon/Relaywatch/InspectHttps"
run_until_banner stored
grep -qxF "HTTPS inspection: on (CA certificate: $ca/relaywatch-ca.pem)" "$work/stored.out" ||
  fail "stored: banner: $(cat "$work/stored.out")"
cmp -s "$ca/relaywatch-ca.pem" "$work/first.pem" || fail "the certificate was replaced"
cmp -s "$ca/relaywatch-ca.key" "$work/first.key" || fail "the key was replaced"

expect_exit2 upstream "$work/missing.pem" --upstream-ca "$work/missing.pem"
printf 'no certificates here\n' > "$work/text.pem"
expect_exit2 upstream-text "$work/text.pem: holds no PEM certificate" --upstream-ca "$work/text.pem"

chmod 644 "$ca/relaywatch-ca.key"
expect_exit2 open-key "$ca/relaywatch-ca.key: is readable by group or others" --inspect-https
chmod 600 "$ca/relaywatch-ca.key"
printf 'garbage\n' > "$ca/relaywatch-ca.key"
expect_exit2 bad-key "$ca/relaywatch-ca.key: is not a valid private key" --inspect-https
cmp -s "$ca/relaywatch-ca.pem" "$work/first.pem" || fail "the certificate was replaced"
[ "$(cat "$ca/relaywatch-ca.key")" = garbage ] || fail "the damaged key was replaced"

echo "inspection start: all checks passed"
