#!/usr/bin/env bash
# Builds the bench preset and runs every benchmark; compare rows of one run only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench
for b in build/bench/bench/bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
