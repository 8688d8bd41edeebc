#!/usr/bin/env bash
# CI stage: builds the Debian packages (zarquill and zarquill-board) from a clean copy of the
# sources, checks them with lintian (no errors allowed), unpacks them into a temporary root and
# runs the unpacked game's --version and --scores there, then starts the unpacked board server
# briefly: its health check and page answer, and SIGTERM ends it with status 0. The board's
# systemd unit is checked with systemd-analyze when systemd is installed. The packages' own
# test run is skipped (DEB_BUILD_OPTIONS=nocheck and the nocheck profile): the stage before this
# one has just run the whole suite; what differs in the packaged configuration (the install
# layout: /usr, font links, the unit in /lib/systemd/system) is checked by running the install
# test against the package build's own tree.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

# A fixed place inside build/, so that repeated runs compile the same paths and ccache hits.
work=$PWD/build/package
rm -rf "$work"
mkdir -p "$work/src"
# Every file git knows or would add (so uncommitted work is packaged as it stands).
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null --no-recursion -T - -cf - | tar -xf - -C "$work/src"

# debhelper points HOME at a scratch folder during the build: keep ccache's own cache.
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
fi
(cd "$work/src" && DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage -us -uc -b -Pnocheck) \
  >"$work/build.log" 2>&1 || { tail -n 60 "$work/build.log"; echo "ci-package: dpkg-buildpackage failed" >&2; exit 1; }
deb=$(ls "$work"/zarquill_*.deb)
board_deb=$(ls "$work"/zarquill-board_*.deb)
echo "ci-package: built $(basename "$deb") and $(basename "$board_deb")"

# The install test, on the tree the packages were made from (configured as debian/rules does).
pkg_build=$(ls -d "$work"/src/obj-*/)
tests/install/install_test.sh "$pkg_build" ||
  { echo "ci-package: the install test fails on the package build" >&2; exit 1; }

# Errors fail the stage; warnings are printed (debian/ explains each one we keep).
lintian --fail-on error --info "$work"/zarquill_*.changes

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$board_deb" "$root"
mkdir -p "$root/home"
export HOME=$root/home XDG_CONFIG_HOME= XDG_DATA_HOME= XDG_STATE_HOME=
"$root/usr/games/zarquill" --version
"$root/usr/games/zarquill" --scores
# Unpacked, the game finds its data beside itself and uses the installed layout.
"$root/usr/games/zarquill" --help | grep -q "installed layout" ||
  { echo "ci-package: the unpacked game does not use the installed layout" >&2; exit 1; }

# The unpacked board server: started on a free port, it finds its page in the installed layout.
board_log=$root/board.log
"$root/usr/bin/zarquill-board" --version
"$root/usr/bin/zarquill-board" --listen 127.0.0.1:0 --data "$root/board-data" --workers 1 \
  2>"$board_log" &
board_pid=$!
port=""
for _ in $(seq 1 200); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$board_log")
  [ -n "$port" ] || ! kill -0 "$board_pid" 2>/dev/null && break
  sleep 0.05
done
http_get() {  # PATH: prints the status line of a GET
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' "$1" >&3
  timeout 10 head -n 1 <&3 | tr -d '\r'
  exec 3<&-
}
board_failed() {
  kill -KILL "$board_pid" 2>/dev/null || true
  cat "$board_log" >&2
  echo "ci-package: the unpacked board server $*" >&2
  exit 1
}
[ -n "$port" ] || board_failed "did not start listening"
[ "$(http_get /healthz)" = "HTTP/1.1 200 OK" ] || board_failed "fails its health check"
[ "$(http_get /)" = "HTTP/1.1 200 OK" ] || board_failed "does not serve its page"
[ "$(http_get /play)" = "HTTP/1.1 200 OK" ] || board_failed "does not serve the game's page"
# The bundle (the viewer and the game) is in the package and served.
[ "$(http_get /viewer/files.json)" = "HTTP/1.1 200 OK" ] || board_failed "does not serve its bundle"
for f in zarquill-play.wasm zarquill-play.js zarquill-viewer-data.bin; do
  [ -f "$root/usr/share/zarquill-board/web/viewer/$f" ] || board_failed "lacks its bundle's $f"
done
grep -q "web page: $root/usr/share/zarquill-board/web" "$board_log" ||
  board_failed "does not use the installed web folder"
grep -q "verification: $root/usr/libexec/zarquill-board/zarquill-board-verify" "$board_log" ||
  board_failed "does not use the installed verifier"
kill -TERM "$board_pid"
status=0
wait "$board_pid" || status=$?
[ "$status" -eq 0 ] || board_failed "ended with status $status on SIGTERM"
echo "ci-package: the unpacked board server answered on port $port and stopped cleanly"

if command -v systemd-analyze >/dev/null; then
  unit=$root/lib/systemd/system/zarquill-board.service
  # Checked against the unpacked program (the unit names it by its installed path); the manual
  # page it points to is in the package, not installed here.
  sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$root/zarquill-board.service"
  out=$(systemd-analyze verify --man=no "$root/zarquill-board.service" 2>&1) && [ -z "$out" ] ||
    { echo "$out" >&2; echo "ci-package: systemd-analyze verify failed on the unit" >&2; exit 1; }
  echo "ci-package: systemd-analyze verify passed on the unit"
fi
echo "ci-package: passed in $(( $(date +%s) - start )) s"
