#!/usr/bin/env bash
# Installs what heat2d needs on Debian (only what is missing) and builds it.
# Usage: scripts/setup.sh [BUILD_DIR [CMAKE_OPTION...]]    (default build dir: build)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

PACKAGES=(g++ cmake make pkg-config openmpi-bin libopenmpi-dev libgtest-dev valgrind util-linux
          time python3 python3-numpy python3-matplotlib python3-pil python3-pytest python3-tqdm
          nlohmann-json3-dev zlib1g-dev libisal-dev)

source "$ROOT/scripts/packages.sh"
install_missing "${PACKAGES[@]}"

BUILD="${1:-$ROOT/build}"
shift || true
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release "$@" > /dev/null
cmake --build "$BUILD" -j "$(nproc)"
