#!/usr/bin/env bash
# The main job: build the plug-in, the stand-in host and the morvexer tool,
# then bind, pose and picture the bundled meshes into ./morvexer-demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/apps/morvexer/morvexer demo --out morvexer-demo
