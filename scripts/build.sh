#!/usr/bin/env bash
# Configures and builds one variant: build.sh [none|address|thread] [build-dir] [target...]
# (every target when none is named).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${1:-none}
dir=${2:-$root/build}
shift $(($# < 2 ? $# : 2))
targets=()
for target in "$@"; do targets+=(--target "$target"); done
if [ "$sanitize" = none ]; then type=RelWithDebInfo; tests=ON; else type=Debug; tests=ON; fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DRELAYWATCH_SANITIZE="$sanitize" -DRELAYWATCH_TESTS="$tests" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
