#!/usr/bin/env bash
# Builds the Debian package: the program alone (no tests or benchmarks) in its own build directory
# for the prefix /usr, then relaywatch_<version>_<arch>.deb there with CPack. Prints the package's
# path on the last line. Usage: scripts/package.sh [build-dir]   (default build-pkg)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-pkg}
"$root/scripts/packages.sh" >&2

# ccache hands back the objects of an earlier package build, from any checkout: paths are taken
# relative to the source tree, and the build directory is left out of the hash, since the packaged
# binary is stripped of the debug information that names it.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=1
# Installing (and so packaging) builds nothing but what the package holds, named below.
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DRELAYWATCH_SANITIZE=none -DRELAYWATCH_TESTS=OFF -DRELAYWATCH_BENCH=OFF -DRELAYWATCH_FUZZ=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
cmake --build "$dir" -j "$(nproc)" --target relaywatch rw_icons rw_man_page >&2

rm -f "$dir"/relaywatch_*.deb
(cd "$dir" && cpack -G DEB >&2)
packages=("$dir"/relaywatch_*.deb)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
  echo "package.sh: CPack made no relaywatch_*.deb in $dir" >&2
  exit 1
fi
echo "${packages[0]}"
