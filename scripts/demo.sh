#!/usr/bin/env bash
# The main job: sets up, builds the deliverables into dist/, installs them into a fresh Wine prefix
# and walks the system's road there, printing each step and what it observed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=${BUILD:-$ROOT/build}
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
. "$ROOT/scripts/wine-env.sh"
trap wine_bed_stop EXIT
echo "Starting a fresh Wine prefix..."
wine_bed_start
INSTALL="$WINEPREFIX/drive_c/Program Files/Tolven"
mkdir -p "$INSTALL"
cp "${DIST:-$ROOT/dist}"/* "$INSTALL"/
cp "$BUILD/bin/tolven_demo.exe" "$INSTALL"/
echo "Installed: $(cd "$INSTALL" && ls | tr '\n' ' ')"
wine "$INSTALL/tolven_demo.exe" | tr -d '\r'
