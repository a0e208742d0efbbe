#!/usr/bin/env bash
# The one list of Debian packages that building, running and testing need.
# Sourced or run: installs whatever of the list is missing (needs root for apt-get).
set -euo pipefail

RELAYWATCH_PACKAGES=(
  g++ cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl
  nlohmann-json3-dev
  curl python3 coreutils procps clang-format clang-tidy
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core xdg-utils
  chromium
  dpkg-dev desktop-file-utils man-db groff-base
)

missing=()
for p in "${RELAYWATCH_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
