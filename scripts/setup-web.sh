#!/usr/bin/env bash
# What the studio's page needs: node and npm, and the pinned npm packages of
# web/package-lock.json (three.js; puppeteer-core for the tests) in
# web/node_modules. With --browser also Debian's Chromium, for the browser tests.
# Debian packages and the npm registry only; no browser download of any tool's own.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=()
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
if [ "${1:-}" = "--browser" ] && [ ! -x /usr/bin/chromium ]; then
  packages+=(chromium)
fi
if [ ${#packages[@]} -gt 0 ]; then
  echo "setup-web: installing ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync fails some lists; the ones at hand still install.
  apt-get update -qq || echo "setup-web: warning: apt-get update reported errors; installing from the lists at hand" >&2
  apt-get install -y -qq --no-install-recommends "${packages[@]}"
fi

# npm writes node_modules/.package-lock.json on install: older than the lock file
# means the pinned set changed since.
if [ ! -f web/node_modules/.package-lock.json ] || [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; then
  echo "setup-web: npm ci in web/"
  (cd web && npm ci --no-audit --no-fund --loglevel=error)
fi
