#!/usr/bin/env bash
# Renders the real window offscreen into docs/screenshots/<page>.png for the README.
# Usage: scripts/screenshots.sh [PAGE...]   (PAGE: Settings Requests Responses Detail About Splash;
# default Settings). Rerun whenever the look of a page changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/packages.sh"
"$root/scripts/build.sh" none "$root/build" >/dev/null
mkdir -p "$root/docs/screenshots"
pages=("$@")
[ ${#pages[@]} -gt 0 ] || pages=(Settings)
for page in "${pages[@]}"; do
  out="$root/docs/screenshots/$(echo "$page" | tr '[:upper:]' '[:lower:]').png"
  QT_QPA_PLATFORM=offscreen "$root/build/bin/rw_screenshot" "$page" "$out"
  echo "$out"
done
