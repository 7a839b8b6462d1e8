#!/usr/bin/env bash
# Configures and builds every target into $BUILD (default: build/) and installs the deliverables into dist/.
# BUILD_TARGETS="a b" builds only those targets (and skips the install): for working on one part.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
      -DCMAKE_INSTALL_PREFIX="${DIST:-$ROOT/dist}" >/dev/null
if [ -n "${BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$BUILD" -j "$(nproc)" --target $BUILD_TARGETS
else
  cmake --build "$BUILD" -j "$(nproc)"
  cmake --install "$BUILD" >/dev/null
fi
