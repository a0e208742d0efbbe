#!/usr/bin/env bash
# End to end: headless Chromium browses a local HTTPS site through `relaywatch --headless
# --inspect-https`, trusting the program's certificate authority through a temporary profile only
# (its key's SPKI hash). The page and the script it loads arrive decrypted in the exchange lines and
# the HAR file with status 200; without the SPKI hash the browser refuses the certificate, the page
# does not load and the exchange line says why. Last, `--open-browser` runs the real browser with
# the launcher's own arguments: the page decrypted, its profile gone after it exits, HOME untouched.
# Usage: inspection_chromium_e2e.sh PATH/TO/relaywatch   (RELAYWATCH_CHROMIUM: another browser;
# exit status 77, a skip for ctest, when the browser is not installed)
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)
chromium=${RELAYWATCH_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  echo "SKIP: $chromium is not installed (apt-get install chromium), the test is skipped"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/rw-tls-chromium.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${RW_E2E_KEEP:-}" ] && trap - EXIT   # keep the folder (and processes) to look at
fail() { echo "FAIL: $*" >&2; exit 1; }

# The origin's own authority and its certificate for 127.0.0.1.
tls="$work/tls"
mkdir -p "$tls"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj "/CN=Relaywatch test origin CA" -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -subj "/CN=127.0.0.1" -keyout "$tls/site.key" -out "$tls/site.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
  > "$tls/site.ext"
openssl x509 -req -in "$tls/site.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial \
  -days 2 -extfile "$tls/site.ext" -out "$tls/site.pem" 2>/dev/null

# A page whose script, a second resource, writes a marker into it: the dumped DOM holds the
# marker only when both arrived.
site="$work/site"
mkdir -p "$site"
cat > "$site/index.html" <<'HTML'
<!DOCTYPE html>
<html><head><title>inspected page</title><script src="/app.js"></script></head>
<body><p id="mark">script not run</p>
<script>document.getElementById("mark").textContent = window.appMark || "script missing";</script>
</body></html>
HTML
echo 'window.appMark = "inspected script ran";' > "$site/app.js"

python3 "$here/origin.py" "$site" "$work/ports" "$tls/site.pem" "$tls/site.key" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
[ -s "$work/ports" ] || fail "the origin did not start"
read -r _ origin_port < "$work/ports"
origin="https://127.0.0.1:$origin_port"

# start_proxy NAME [OPTION...]: an instance on a free port (another candidate when the port is
# busy), output in $work/NAME.out and .err. Sets proxy_port and proxy_pid.
start_proxy() {
  local name=$1 port pid
  shift
  for _ in $(seq 20); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    RELAYWATCH_CONFIG_DIR="$work/config-$name" "$binary" --headless --port "$port" \
      --log-dir "$work" "$@" \
      > "$work/$name.out" 2> "$work/$name.err" &
    pid=$!
    for _ in $(seq 200); do
      if grep -q "listening on 127.0.0.1:$port" "$work/$name.out" 2>/dev/null; then
        proxy_port=$port
        proxy_pid=$pid
        pids+=("$pid")
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    grep -q "Address already in use" "$work/$name.err" ||
      fail "$name did not start: $(cat "$work/$name.err")"
  done
  fail "$name: no free port in 20 tries"
}

# stop_proxy NAME: Ctrl+C, and the orderly exit within 20 s.
stop_proxy() {
  kill -INT "$proxy_pid"
  for _ in $(seq 400); do kill -0 "$proxy_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$proxy_pid" 2>/dev/null && fail "$1 still runs 20 s after SIGINT"
  wait "$proxy_pid" || fail "$1: exit status $? after SIGINT: $(cat "$work/$1.err")"
}

# browse NAME [OPTION...]: the browser's dumped DOM of the origin's page in $work/NAME.dom, in a
# fresh profile, through the proxy, within 60 s.
browse() {
  local name=$1 status=0
  shift
  timeout -k 5 60 "$chromium" --headless=new --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile-$name" --proxy-server="http://127.0.0.1:$proxy_port" \
    --proxy-bypass-list='<-loopback>' \
    --host-resolver-rules='MAP * ~NOTFOUND , EXCLUDE 127.0.0.1' \
    "$@" --dump-dom "$origin/" > "$work/$name.dom" 2> "$work/$name.browser-err" || status=$?
  [ "$status" = 124 ] && fail "$name: the browser did not finish within 60 s"
  return 0
}

# The authority's key as the browser's SPKI pin: trusted in this profile only.
start_proxy trusted --inspect-https --upstream-ca "$tls/ca.pem" --har "$work/trusted.har"
banner=$(grep "^HTTPS inspection: on (CA certificate: " "$work/trusted.out") ||
  fail "no inspection banner: $(cat "$work/trusted.out")"
ca=${banner#*CA certificate: }
ca=${ca%)}
[ -f "$ca" ] || fail "no CA certificate at $ca"
spki=$(openssl x509 -in "$ca" -pubkey -noout | openssl pkey -pubin -outform der |
  openssl dgst -sha256 -binary | base64)
browse trusted --ignore-certificate-errors-spki-list="$spki"
grep -q "inspected script ran" "$work/trusted.dom" ||
  fail "the page did not load through inspection: $(cat "$work/trusted.dom" "$work/trusted.browser-err")"
stop_proxy trusted

# Both resources decrypted in the exchange lines: the https URL and status 200.
for path in / /app.js; do
  grep -E "GET $origin$path .*200" "$work/trusted.out" > /dev/null ||
    fail "no exchange line for GET $origin$path with 200: $(cat "$work/trusted.out")"
done
python3 - "$work/trusted.har" "$origin" <<'PY' || fail "HAR check failed"
import json, sys
har, origin = sys.argv[1:3]
with open(har, encoding="utf-8") as f:
    entries = json.load(f)["log"]["entries"]
seen = {(e["request"]["method"], e["request"]["url"]): e["response"]["status"] for e in entries}
bad = []
for url, text in ((origin + "/", "inspected page"), (origin + "/app.js", "inspected script ran")):
    if seen.get(("GET", url)) != 200:
        bad.append("GET %s: %r" % (url, seen.get(("GET", url))))
        continue
    entry = next(e for e in entries if e["request"]["url"] == url)
    if text not in entry["response"]["content"].get("text", ""):
        bad.append("%s: the body is not the decrypted text" % url)
for line in bad:
    print("HAR:", line, "; entries:", sorted(seen), file=sys.stderr)
sys.exit(1 if bad else 0)
PY

# Without the pin the browser refuses the leaf: no page, and the exchange line says so.
start_proxy untrusted --inspect-https --upstream-ca "$tls/ca.pem"
browse untrusted
! grep -q "inspected script ran" "$work/untrusted.dom" ||
  fail "the page loaded without trusting the authority: $(cat "$work/untrusted.dom")"
for _ in $(seq 100); do
  grep -q "TLS handshake with the browser failed" "$work/untrusted.out" && break
  sleep 0.05
done
stop_proxy untrusted
grep -q "TLS handshake with the browser failed" "$work/untrusted.out" ||
  fail "no handshake failure in the exchange lines: $(cat "$work/untrusted.out")"
! grep -E "GET $origin/ " "$work/untrusted.out" ||
  fail "an exchange reached the origin without the browser's trust"

# The one-click browser for real: --open-browser starts a "chromium" that runs the real browser
# with the launcher's own arguments (profile, proxy, SPKI pin, --no-sandbox as root), adding only
# what makes it fetch the page and exit. It starts once the launcher has counted it as up, so its
# quick exit is the page done, not a failed start. The user's own profile and configuration stay as
# they were (the desktop's caches in ~/.cache are not the browser's to keep out).
mkdir -p "$work/bin" "$work/home/.config/chromium" "$work/tmp"
echo untouched > "$work/home/.config/chromium/Local State"
home_list() {
  (cd "$work/home" && find . -mindepth 1 -path ./.cache -prune -o -printf '%p %s %T@\n' | sort)
}
home_before=$(home_list)
cat > "$work/bin/chromium" <<SCRIPT
#!/bin/sh
echo \$\$ > "$work/browser.pid"
printf '%s\n' "\$@" > "$work/browser.args"
for _ in \$(seq 400); do grep -q "^Opened browser: " "$work/launched.out" && break; sleep 0.05; done
exec "$chromium" "\$@" --headless=new --dump-dom "$origin/"
SCRIPT
chmod 755 "$work/bin/chromium"
HOME="$work/home" TMPDIR="$work/tmp" PATH="$work/bin:$PATH" \
  start_proxy launched --inspect-https --upstream-ca "$tls/ca.pem" --open-browser
for _ in $(seq 400); do [ -s "$work/browser.pid" ] && grep -q "^Opened browser: " \
  "$work/launched.out" && break; sleep 0.05; done
grep -q "^Opened browser: " "$work/launched.out" ||
  fail "no browser opened: $(cat "$work/launched.out" "$work/launched.err")"
browser_pid=$(cat "$work/browser.pid")
pids+=("$browser_pid")
profile=$(sed -n 's/^--user-data-dir=//p' "$work/browser.args")
[ -n "$profile" ] || fail "no profile in $(cat "$work/browser.args")"
for _ in $(seq 1200); do kill -0 "$browser_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$browser_pid" 2>/dev/null && fail "the browser still runs after 60 s"
for _ in $(seq 100); do [ -e "$profile" ] || break; sleep 0.05; done
[ ! -e "$profile" ] || fail "profile $profile left after the browser exited"
stop_proxy launched
for path in / /app.js; do
  grep -E "GET $origin$path .*200" "$work/launched.out" > /dev/null ||
    fail "launched browser: no GET $origin$path with 200: $(cat "$work/launched.out")"
done
[ -z "$(ls -A "$work/tmp")" ] || fail "left in the temporary folder: $(ls -A "$work/tmp")"
[ "$(home_list)" = "$home_before" ] || fail "the home folder changed: $(home_list)"
echo "PASS: inspection_chromium_e2e"
