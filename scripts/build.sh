#!/usr/bin/env bash
# Configures and builds one variant: build.sh [none|address|thread] [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${1:-none}
dir=${2:-$root/build}
if [ "$sanitize" = none ]; then type=RelWithDebInfo; tests=ON; else type=Debug; tests=ON; fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DRELAYWATCH_SANITIZE="$sanitize" -DRELAYWATCH_TESTS="$tests" >/dev/null
cmake --build "$dir" -j "$(nproc)"
