#!/usr/bin/env bash
# Configures and builds every target of one architecture into $BUILD.
#   ARCH=i686 (default): the shipping build, build/; its deliverables are installed into dist/.
#   ARCH=x64: the 64-bit test build, build-x64/; its deliverables go into build-x64/dist/ for the demo
#   on machines that run no 32-bit program (dist/ holds the 32-bit deliverables only).
# BUILD_TARGETS="a b" builds only those targets (and skips the install): for working on one part.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/arch.sh"
if [ "$ARCH" = i686 ]; then PREFIX=${DIST:-$ROOT/dist}; else PREFIX=$BUILD/dist; fi
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TOOLCHAIN" \
      -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
if [ -n "${BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$BUILD" -j "$(nproc)" --target $BUILD_TARGETS
else
  cmake --build "$BUILD" -j "$(nproc)"
  cmake --install "$BUILD" >/dev/null
fi
