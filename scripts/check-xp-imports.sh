#!/usr/bin/env bash
# Fails when a module that must load on Windows XP imports a function XP lacks.
# Usage: check-xp-imports.sh <bin folder> [module...]  checks the XP deliverables found there; each
#                                                      named module must be among them
#        check-xp-imports.sh --expect-failure <file>  passes only when <file> is caught
set -uo pipefail
# objdump answers in the locale; the patterns below read its English output.
export LC_ALL=C
HERE=$(cd "$(dirname "$0")" && pwd)
LIST="$HERE/xp-forbidden-imports.txt"
OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}
XP_MODULES="Corelib.dll Gatehook.dll Sentry.exe Porter.exe Warden.exe Refresher.exe"

# Prints "dll function" for every import of one module.
imports_of() {
  "$OBJDUMP" -p "$1" | awk '
    /^[ \t]*DLL Name:/ { dll = tolower($3); print dll " -"; next }
    /^[ \t]*vma:/ { inlist = 1; next }
    inlist && NF == 0 { inlist = 0; next }
    inlist && dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 2 { print dll " " $NF }'
}

check_module() {
  local f=$1 bad=0
  local forbidden
  forbidden=$(grep -v '^#' "$LIST" | grep -v '^$')
  while read -r dll fn; do
    for name in $forbidden; do
      case "$name" in
        dll:*) [ "$fn" = "-" ] && [ "$dll" = "$(echo "${name#dll:}" | tr 'A-Z' 'a-z')" ] && { echo "$(basename "$f"): imports Vista-only $dll"; bad=1; } ;;
        *) [ "$fn" = "$name" ] && { echo "$(basename "$f"): imports Vista-only $dll!$fn"; bad=1; } ;;
      esac
    done
  done < <(imports_of "$f")
  return $bad
}

if [ "${1:-}" = "--expect-failure" ]; then
  if check_module "$2" >/dev/null; then echo "the check let a Vista-only import through: $2"; exit 1; fi
  echo "Vista-only import detected as expected"; exit 0
fi

BIN=$1; shift; status=0; checked=0
# A module the build made but the check cannot find would otherwise pass unchecked.
for m in "$@"; do
  [ -f "$BIN/$m" ] || { echo "$m was built but is not in $BIN"; status=1; }
  case " $XP_MODULES " in *" $m "*) ;; *) echo "$m is not in the list of XP modules"; status=1 ;; esac
done
for m in $XP_MODULES; do
  [ -f "$BIN/$m" ] || continue
  checked=$((checked + 1))
  check_module "$BIN/$m" || status=1
done
[ $checked -gt 0 ] || { echo "no XP module found in $BIN"; exit 1; }
[ $status -eq 0 ] && echo "$checked XP modules import nothing Vista-only"
exit $status
