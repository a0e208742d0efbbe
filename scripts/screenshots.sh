#!/usr/bin/env bash
# Renders the real window offscreen into docs/screenshots/<page>.png for the README.
# Usage: scripts/screenshots.sh [PAGE...]   (PAGE: Settings Requests Responses Detail About Splash;
# default Settings). Rerun whenever the look of a page changes. Requests shows real traffic:
# headless Chromium browses a local site through the window (tests/e2e/viewer_e2e_test). Detail
# shows HTTPS decrypted: with inspection on in the window, curl fetches a local TLS site through
# it trusting the window's CA, and once without that trust, so a refused handshake shows too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/packages.sh"
"$root/scripts/build.sh" none "$root/build" >/dev/null
mkdir -p "$root/docs/screenshots"

# detail_scene OUT: a local TLS site (its own certificate, trusted by the window for servers), and
# curl through the window as the traffic; ends the site by the PID it was given.
detail_scene() {
  local work site_pid status=0
  work=$(mktemp -d)
  mkdir "$work/site"
  printf '<!doctype html>\n<title>Inspected</title>\n<h1>Decrypted</h1>\n' > "$work/site/index.html"
  printf 'body { font-family: sans-serif; }\n' > "$work/site/style.css"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
  python3 "$root/tests/e2e/origin.py" "$work/site" "$work/ports" "$work/cert.pem" \
    "$work/key.pem" &
  site_pid=$!
  for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
  [ -s "$work/ports" ] || { kill "$site_pid"; echo "the TLS site did not start" >&2; return 1; }
  read -r _ tls_port < "$work/ports"
  local site="https://127.0.0.1:$tls_port" proxy='--proxy http://127.0.0.1:$RELAYWATCH_PORT'
  QT_QPA_PLATFORM=offscreen "$root/build/bin/rw_screenshot" \
    --setting HttpPort=$((20000 + RANDOM % 40000)) --setting InspectHttps=1 \
    --setting UpstreamCaFile="$work/cert.pem" \
    --traffic "curl -sS $proxy --cacert \"\$RELAYWATCH_CA\" -o /dev/null -o /dev/null \
      $site/ $site/style.css && curl -sS $proxy --cacert \"\$RELAYWATCH_CA\" -o /dev/null \
      -d 'q=relay' $site/echo && ! curl -sS $proxy -o /dev/null $site/ 2>/dev/null" \
    Detail "$1" 1100 520 || status=$?
  kill "$site_pid"
  rm -rf "$work"
  return "$status"
}

pages=("$@")
[ ${#pages[@]} -gt 0 ] || pages=(Settings)
for page in "${pages[@]}"; do
  name=$(echo "$page" | tr '[:upper:]' '[:lower:]')
  out="$root/docs/screenshots/$name.png"
  if [ "$name" = detail ]; then
    detail_scene "$out"
  elif [ "$name" = requests ]; then
    shots=$(mktemp -d)
    RELAYWATCH_SCREENSHOT_DIR="$shots" QT_QPA_PLATFORM=offscreen \
      "$root/build/tests/viewer_e2e_tests" > /dev/null
    cp "$shots/$name.png" "$out"
    rm -rf "$shots"
  else
    QT_QPA_PLATFORM=offscreen "$root/build/bin/rw_screenshot" "$page" "$out"
  fi
  echo "$out"
done
