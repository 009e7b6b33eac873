#!/usr/bin/env bash
# Compiles every boundary header on its own with the given C++ compiler, so the
# layout asserts are checked for that compiler's pointer size and ABI.
# Usage: check_abi_headers.sh COMPILER ABI_DIR
set -euo pipefail
compiler=$1
abi_dir=$2
if ! command -v "$compiler" >/dev/null; then
  echo "FAIL: $compiler is not installed (scripts/setup.sh installs it); the boundary was not checked for it" >&2
  exit 1
fi
for header in "$abi_dir"/abi/*.h; do
  name=abi/$(basename "$header")
  echo "#include \"$name\"" | "$compiler" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -I "$abi_dir" -x c++ - \
    || { echo "FAIL: $name does not compile alone with $compiler" >&2; exit 1; }
done
echo "every boundary header compiles alone with $compiler ($("$compiler" -dumpmachine))"
