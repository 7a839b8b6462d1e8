#!/usr/bin/env bash
# The main job: sets up, builds the deliverables, installs them into a fresh Wine prefix and walks the
# system's road there, printing each step and what it observed. It runs the 32-bit deliverables (dist/)
# where this machine runs 32-bit programs, else the 64-bit test build of the same sources.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
# ARCH=i686 or ARCH=x64 chooses; by default the machine decides.
if [ -z "${ARCH:-}" ]; then
  . "$ROOT/scripts/arch.sh"
  if runs_32bit; then ARCH=i686; else ARCH=x64; fi
  unset BUILD
fi
. "$ROOT/scripts/arch.sh"
"$ROOT/scripts/build.sh"
if [ "$ARCH" = i686 ]; then
  FROM=${DIST:-$ROOT/dist}
  echo "demo: running the 32-bit deliverables of $FROM"
else
  FROM=$BUILD/dist
  echo "demo: this machine runs no 32-bit program; running the 64-bit test build of the same sources ($FROM)"
fi
. "$ROOT/scripts/wine-env.sh"
trap wine_bed_stop EXIT
echo "Starting a fresh Wine prefix..."
wine_bed_start
INSTALL="$WINEPREFIX/drive_c/Program Files/Tolven"
mkdir -p "$INSTALL/wine-test-builds"
cp "$FROM"/* "$INSTALL"/
# The demo itself, the enrolment stand-in for the control panel's device page, LogonUI's stand-in and
# the stand-in token library.
cp "$BUILD/bin/tolven_demo.exe" "$BUILD/bin/RoadEnrol.exe" "$BUILD/bin/LogonUiHost.exe" "$BUILD/bin/FT_ND_API.dll" \
   "$INSTALL"/
# Test builds of the two deliverables that Wine cannot run as they are; the demo puts them in place.
cp "$BUILD/bin/PorterRecorder.exe" "$BUILD/bin/LogontileTest.dll" "$INSTALL/wine-test-builds"/
echo "Installed: $(cd "$INSTALL" && ls -p | grep -v / | tr '\n' ' ')"
"$WINE" "$INSTALL/tolven_demo.exe" | tr -d '\r'
