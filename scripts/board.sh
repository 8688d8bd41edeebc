#!/usr/bin/env bash
# Installs what Zarquill needs, builds the board server and starts a local board
# on SQLite (data in ~/.local/share/zarquill-board unless --data says otherwise).
# Options are passed to the server: ./scripts/board.sh --listen 127.0.0.1:8300
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
if [ ! -f build/CMakeCache.txt ]; then
  generator=()
  if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
  cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j "$(nproc)" --target zarquill-board
echo "board: the page is at the address of the 'listening on' line below; Ctrl+C stops the server"
exec ./build/board/zarquill-board "$@"
