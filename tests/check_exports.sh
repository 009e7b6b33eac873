#!/usr/bin/env bash
# The module must export vtn_main and nothing else.
# Usage: check_exports.sh MODULE [OBJDUMP]   (OBJDUMP reads a Windows module's export table)
set -euo pipefail
module=$1
case $(head -c 4 "$module" | od -An -tx1 | tr -d ' \n') in
  7f454c46)  # ELF
    exports=$(nm -D --defined-only "$module" | awk '{print $3}') ;;
  4d5a*)  # PE: the names of the export table
    exports=$("${2:?a Windows module needs the MinGW objdump}" -p "$module" |
      awk '/^\[Ordinal\/Name Pointer\] Table/ {t = 1; next} t && NF == 0 {t = 0} t {print $NF}') ;;
  cffaedfe)  # Mach-O, 64-bit
    exports=$(nm -gU "$module" | awk '{print $3}' | sed 's/^_//') ;;
  *)
    echo "FAIL: $module is not a module this check knows"
    exit 1 ;;
esac
if [ "$exports" != "vtn_main" ]; then
  echo "unexpected exports of $module:"
  echo "$exports"
  exit 1
fi
echo "exports: vtn_main"
