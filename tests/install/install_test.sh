#!/usr/bin/env bash
# Installs the build into a temporary root, as a distribution would, and checks what the desktop
# sees: the program, its data, entry, metadata, icons and manual page in their places, the
# validators clean, and none of the files the game writes at run time; and the board server
# beside it with its web page, manual page and systemd unit (below the prefix, or in the absolute
# folder the build names, as the Debian package's /lib/systemd/system).
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
id=example.wekkaplay.zarquill
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

DESTDIR=$root/sys cmake --install "$build" --prefix /usr >/dev/null
DESTDIR=$root/opt cmake --install "$build" --prefix /opt/zq >/dev/null
usr=$root/sys/usr
# The unit's folder as the build was configured: relative to the prefix, or absolute.
unitdir=$(sed -n 's/^ZQ_SYSTEMD_UNITDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
unitdir=${unitdir:-lib/systemd/system}
unit_in() {  # DESTDIR PREFIX: prints where that install put the unit
  case $unitdir in
    /*) echo "$1$unitdir/zarquill-board.service" ;;
    *) echo "$1$2/$unitdir/zarquill-board.service" ;;
  esac
}

for f in games/zarquill share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/man/man6/zarquill.6 share/games/zarquill/Files/Common/icons.png \
         "share/games/zarquill/Files/Common/Blue Highway.ttf" \
         share/games/zarquill/Files/274/ship.png share/games/zarquill/Files/274/MicrobesLight.ogg; do
  [ -f "$usr/$f" ] || fail "not installed: $f"
done
[ -x "$usr/games/zarquill" ] || fail "games/zarquill is not executable"
for f in bin/zarquill-board share/man/man1/zarquill-board.1 \
         share/zarquill-board/web/index.html share/zarquill-board/web/board.css \
         share/zarquill-board/web/board.js share/zarquill-board/web/icon.svg \
         share/zarquill-board/web/play.html share/zarquill-board/web/play.js; do
  [ -f "$usr/$f" ] || fail "not installed: $f"
done
# The unit starts the server by its installed path.
[ -f "$(unit_in "$root/sys" /usr)" ] || fail "not installed: the systemd unit in $unitdir"
grep -qx 'ExecStart=/usr/bin/zarquill-board' "$(unit_in "$root/sys" /usr)" \
  || fail "ExecStart under /usr"
grep -qx 'ExecStart=/opt/zq/bin/zarquill-board' "$(unit_in "$root/opt" /opt/zq)" \
  || fail "ExecStart under /opt/zq"
# A run of the portable build/dist leaves its own files in Files/: they must never ship.
leaked=$(find "$usr/share/games/zarquill" \( -name Setup.ini -o -name Debug.txt -o -name 'nuscores*' \
         -o -name crash.dat -o -name '*.lock' -o -name 'Vantrelle*.png' \) -print)
[ -z "$leaked" ] || fail "run-time files installed: $leaked"

# Each icon is a PNG of the size its folder names (width and height sit at bytes 16..23).
for size in 16 32 48 64 128 256; do
  icon=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  if [ ! -f "$icon" ]; then fail "icon ${size}x${size} missing"; continue; fi
  dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size} is $dims"
done

# The menu entry starts the game by name under /usr and by full path elsewhere.
grep -qx 'Exec=zarquill' "$usr/share/applications/$id.desktop" || fail "Exec under /usr"
grep -qx 'Exec=/opt/zq/games/zarquill' "$root/opt/opt/zq/share/applications/$id.desktop" \
  || fail "Exec under /opt/zq"

for entry in "$usr/share/applications/$id.desktop" "$root/opt/opt/zq/share/applications/$id.desktop"; do
  out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
done

# Notes (I:) are allowed: the site's .example domain is not a known top-level domain.
out=$(appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" 2>&1) \
  && ! grep -qE '^[EW]:' <<<"$out" || fail "appstreamcli: $out"

for page in man6/zarquill.6 man1/zarquill-board.1; do
  out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$usr/share/man/$page" 2>&1 >/dev/null) \
    && [ -z "$out" ] || fail "man --warnings on $page: $out"
done

[ "$failures" -eq 0 ] || exit 1
echo "install: all checks passed"
