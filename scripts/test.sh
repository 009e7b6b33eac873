#!/usr/bin/env bash
# Every test: the default build, then the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows builds
# under Wine (scripts/test-windows.sh; it fails loudly when it cannot run).
# The benchmarks are built too (not run): code no test compiles rots unseen.
# The studio's tests run node and a headless Chromium (Debian's).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Without them the studio's tests fail and say why; the rest still runs.
scripts/setup-web.sh --browser || echo "test: cannot set up the studio's browser tests (see above); they will fail" >&2
for preset in default asan-ubsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "== benchmarks build"
cmake --preset bench >/dev/null
cmake --build --preset bench
echo "== Windows"
scripts/test-windows.sh
