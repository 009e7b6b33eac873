#!/usr/bin/env bash
# The main job: build the plug-in and the stand-in host, load the plug-in as
# the application does, and show what it registered.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/apps/plugin-info/morvexer-plugin-info
