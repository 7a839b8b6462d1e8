#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests under Wine.
# Usage: scripts/test.sh [ctest arguments...]   (BUILD=dir selects another build folder)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=${BUILD:-$ROOT/build}
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
trap wine_bed_stop EXIT
wine_bed_start
cd "$BUILD"
ctest --output-on-failure --timeout 300 "$@"
