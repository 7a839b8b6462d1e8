#!/usr/bin/env bash
# The benchmark: sets up, builds, starts a fresh Wine prefix and times the main road over repeated
# runs in both key modes: removal notice -> Porter's start, and the key's return -> ReportResult.
# Prints min / median / max of each. Usage: scripts/bench.sh [runs]   (default 10; BUILD=dir as usual)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=${BUILD:-$ROOT/build}
RUNS=${1:-10}
"$ROOT/scripts/setup.sh"
BUILD_TARGETS="road_bench" "$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
trap wine_bed_stop EXIT
echo "Starting a fresh Wine prefix..."
wine_bed_start
wine "$BUILD/bin/road_bench.exe" --runs "$RUNS" | tr -d '\r'
