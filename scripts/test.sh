#!/usr/bin/env bash
# Sets up the machine, builds everything and runs all tests under Wine.
# Usage: scripts/test.sh [ctest arguments...]
#   Both builds are made: build/ (i686, the shipping deliverables, installed into dist/) and build-x64/
#   (the 64-bit test build). The x64 suite runs under wine64 on every machine; the i686 suite runs under
#   Wine's 32-bit loader wherever this machine runs 32-bit programs, and elsewhere the i686 build gets
#   its static checks (the XP import check and its canary), which need no Wine.
#   ARCH=i686 or ARCH=x64 (with BUILD=dir if wanted) builds and tests that one architecture only.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"

ONLY=${ARCH:-}
[ -n "$ONLY" ] || unset BUILD

# Runs one suite in its own prefix and display; ctest's arguments follow the architecture.
run_suite() {
  local arch=$1; shift
  (
    export ARCH=$arch
    [ -n "$ONLY" ] || unset BUILD
    . "$ROOT/scripts/arch.sh"
    . "$ROOT/scripts/wine-env.sh"
    trap wine_bed_stop EXIT
    wine_bed_start
    cd "$BUILD"
    local rc=0
    ctest --output-on-failure --timeout 300 "$@" || rc=$?
    # What the programs looked like in this run: one folder of screenshots per program.
    local shots
    for shots in "$BUILD"/bin/screenshots/*/; do
      [ -d "$shots" ] && echo "test: screenshots: ${shots%/}"
    done
    exit $rc
  )
}

# The i686 checks that need no Wine: the XP import check and its canary.
run_static() {
  (
    export ARCH=i686
    unset BUILD
    . "$ROOT/scripts/arch.sh"
    cd "$BUILD/tests/xpcheck"
    ctest --output-on-failure
  )
}

if [ -n "$ONLY" ]; then
  ARCH=$ONLY "$ROOT/scripts/build.sh"
  echo "test: suite: $ONLY only"
  run_suite "$ONLY" "$@"
  exit $?
fi

ARCH=i686 "$ROOT/scripts/build.sh"
ARCH=x64 "$ROOT/scripts/build.sh"

status=0
if (ARCH=i686; . "$ROOT/scripts/arch.sh"; runs_32bit); then
  echo "test: this machine runs 32-bit programs: the i686 suite runs under wine32, then the x64 suite under wine64"
  echo "test: suite 1 of 2: i686 (build/, whole suite, win32 prefix)"
  run_suite i686 "$@" || { status=1; echo "test: the i686 suite FAILED"; }
else
  echo "test: this machine runs no 32-bit program (Wine's 32-bit loader cannot start): the i686 build gets its"
  echo "test: static checks only (XP imports and the check's canary); the whole suite runs as x64 under wine64"
  echo "test: suite 1 of 2: i686 static checks (build/, no Wine)"
  run_static || { status=1; echo "test: the i686 static checks FAILED"; }
fi
echo "test: suite 2 of 2: x64 (build-x64/, whole suite, win64 prefix)"
run_suite x64 "$@" || status=1
exit $status
