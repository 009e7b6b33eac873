#!/usr/bin/env bash
# The 32-bit x86 build computes in SSE2, not on the x87 stack, whose excess
# precision would make results depend on register spills. x87 loads and stores
# remain (doubles are returned in st(0) on i386), arithmetic must not.
# Usage: check_sse2.sh OBJDUMP OBJECT...
set -euo pipefail
objdump=$1
shift
[ $# -gt 0 ] || { echo "FAIL: no object files given"; exit 1; }
x87=$("$objdump" -d --no-show-raw-insn "$@" |
  grep -E '^\s+[0-9a-f]+:\s+f(add|sub|subr|mul|div|divr|sqrt|prem|prem1|rndint|scale|sin|cos|sincos|patan|ptan|yl2x|yl2xp1|2xm1|iadd|isub|imul|idiv|isubr|idivr)[lps]*\b' || true)
if [ -n "$x87" ]; then
  echo "FAIL: x87 arithmetic in the module's code:"
  echo "$x87" | head -20
  exit 1
fi
echo "no x87 arithmetic in $# object files"
