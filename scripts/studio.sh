#!/usr/bin/env bash
# The studio on the bundled scanned model: installs what is missing, builds,
# makes the demo's box cage around the bunny, and serves the page until Ctrl-C.
# Open the address it prints; saves go to ./morvexer-studio.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/setup-web.sh
cmake --preset default >/dev/null
cmake --build --preset default
tool=build/default/apps/morvexer/morvexer
[ -f morvexer-demo/bunny_cage.obj ] || "$tool" --quiet demo --out morvexer-demo
exec "$tool" studio --cage morvexer-demo/bunny_cage.obj --mesh samples/bunny.obj --out morvexer-studio "$@"
