#!/usr/bin/env bash
# Renders the real window offscreen into docs/screenshots/<page>.png for the README.
# Usage: scripts/screenshots.sh [PAGE...]   (PAGE: Settings Requests Responses Detail About Splash;
# default Settings). Rerun whenever the look of a page changes. Requests and Detail show real
# traffic: headless Chromium browses a local site through the window (tests/e2e/viewer_e2e_test).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/packages.sh"
"$root/scripts/build.sh" none "$root/build" >/dev/null
mkdir -p "$root/docs/screenshots"
pages=("$@")
[ ${#pages[@]} -gt 0 ] || pages=(Settings)
for page in "${pages[@]}"; do
  name=$(echo "$page" | tr '[:upper:]' '[:lower:]')
  out="$root/docs/screenshots/$name.png"
  if [ "$name" = requests ] || [ "$name" = detail ]; then
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
