#!/usr/bin/env bash
# The module must export vtn_main and nothing else.
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '{print $3}')
if [ "$exports" != "vtn_main" ]; then
  echo "unexpected exports of $1:"
  echo "$exports"
  exit 1
fi
echo "exports: vtn_main"
