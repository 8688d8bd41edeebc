#!/usr/bin/env bash
# Installs what Zarquill needs, builds it and starts the game.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
cd build/dist
exec ./zarquill "$@"
