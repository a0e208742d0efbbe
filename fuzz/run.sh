#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz and runs each in turn for the given seconds (default 30).
# Corpora grown by a run and any crash inputs stay under build-fuzz/; the seeds here are read-only.
set -euo pipefail

seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
targets=(fuzz_request fuzz_response fuzz_chunk_decoder fuzz_capture fuzz_host_name)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRELAYWATCH_SANITIZE=address -DRELAYWATCH_FUZZ=ON \
  -DRELAYWATCH_TESTS=OFF -DRELAYWATCH_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target for ${seconds}s"
  # One process at a time: the machine is shared. New inputs go to the first corpus directory only.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$root/fuzz/corpus/$target"; then
    echo "!! $target failed; inputs in $artifacts"
    status=1
  fi
done
exit "$status"
