#!/usr/bin/env bash
# Runs a Windows program of the cross builds under Wine (the emulator ctest
# uses): Wine's own chatter off, no Mono or Gecko installers, and the Wine
# prefix inside the build folder unless WINEPREFIX names one. 32-bit programs
# need i386 code to run here (scripts/test-windows.sh sees to it).
# Usage: wine-run.sh PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
  echo "wine-run: FAIL: $wine is missing (scripts/test-windows.sh installs wine64 and wine32)" >&2
  exit 127
fi
# wine64 hands a 32-bit program over to the 32-bit loader itself.
exec "$wine" "$@"
