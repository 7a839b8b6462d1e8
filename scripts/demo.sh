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
mkdir -p "$INSTALL/wine-test-builds"
cp "${DIST:-$ROOT/dist}"/* "$INSTALL"/
# The demo itself, the enrolment stand-in for the control panel's device page, LogonUI's stand-in and
# the stand-in token library.
cp "$BUILD/bin/tolven_demo.exe" "$BUILD/bin/RoadEnrol.exe" "$BUILD/bin/LogonUiHost.exe" "$BUILD/bin/FT_ND_API.dll" \
   "$INSTALL"/
# Test builds of the two deliverables that Wine cannot run as they are; the demo puts them in place.
cp "$BUILD/bin/PorterRecorder.exe" "$BUILD/bin/LogontileTest.dll" "$INSTALL/wine-test-builds"/
echo "Installed: $(cd "$INSTALL" && ls -p | grep -v / | tr '\n' ' ')"
wine "$INSTALL/tolven_demo.exe" | tr -d '\r'
