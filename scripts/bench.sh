#!/usr/bin/env bash
# The benchmark: sets up, builds, starts a fresh Wine prefix and times the main road over repeated
# runs in both key modes: removal notice -> Porter's start, and the key's return -> ReportResult;
# and the control panel's start -> its first window painted.
# Prints min / median / max of each. Usage: scripts/bench.sh [runs]   (default 10)
# It runs the 32-bit build where this machine runs 32-bit programs, else the 64-bit test build.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-10}
"$ROOT/scripts/setup.sh"
# ARCH=i686 or ARCH=x64 chooses; by default the machine decides.
if [ -z "${ARCH:-}" ]; then
  . "$ROOT/scripts/arch.sh"
  if runs_32bit; then ARCH=i686; else ARCH=x64; fi
  unset BUILD
fi
. "$ROOT/scripts/arch.sh"
echo "bench: $ARCH build ($BUILD)"
BUILD_TARGETS="road_bench" "$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
trap wine_bed_stop EXIT
echo "Starting a fresh Wine prefix..."
wine_bed_start
"$WINE" "$BUILD/bin/road_bench.exe" --runs "$RUNS" | tr -d '\r'
