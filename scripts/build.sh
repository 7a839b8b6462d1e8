#!/usr/bin/env bash
# Configures and builds every target into $BUILD (default: build/) and installs the deliverables into dist/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_INSTALL_PREFIX="$ROOT/dist" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
cmake --install "$BUILD" >/dev/null
