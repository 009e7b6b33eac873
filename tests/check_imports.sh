#!/usr/bin/env bash
# Windows binaries load nothing but system DLLs: the C and C++ runtimes, libgcc,
# winpthread and the libraries the host uses are linked in.
# Usage: check_imports.sh OBJDUMP BINARY...
set -euo pipefail
objdump=$1
shift
status=0
for binary in "$@"; do
  dlls=$("$objdump" -p "$binary" | awk '/^\tDLL Name: / {print $3}' | sort -u)
  if [ -z "$dlls" ]; then
    echo "FAIL: no import table found in $binary"
    status=1
    continue
  fi
  for dll in $dlls; do
    case ${dll,,} in
      kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | advapi32.dll | shell32.dll | user32.dll | ws2_32.dll | bcrypt.dll) ;;
      *) echo "FAIL: $(basename "$binary") imports $dll, which is not a system DLL"; status=1 ;;
    esac
  done
  echo "$(basename "$binary") imports:" $dlls
done
exit $status
