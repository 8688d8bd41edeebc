#!/usr/bin/env bash
# Installs what Zarquill needs, builds it with warnings as errors and runs the
# whole test suite. Tests that need a display start their own Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh -DZQ_WERROR=ON -DZQ_BUILD_TESTS=ON
ctest --test-dir build --output-on-failure -j 2 --timeout 600
