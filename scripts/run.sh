#!/usr/bin/env bash
# Installs what is missing, builds the program (only: tests and benchmarks wait for test.sh), and
# runs Relaywatch with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/packages.sh"
"$root/scripts/build.sh" none "$root/build" relaywatch >&2
exec "$root/build/bin/relaywatch" "$@"
