#!/usr/bin/env bash
# Installs what is missing, builds, and runs Relaywatch with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/packages.sh"
"$root/scripts/build.sh" none "$root/build" >&2
exec "$root/build/bin/relaywatch" "$@"
