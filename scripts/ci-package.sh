#!/usr/bin/env bash
# CI stage: builds the Debian package from a clean copy of the sources, checks it with lintian
# (no errors allowed), unpacks it into a temporary root and runs the unpacked game's --version
# and --scores there. The package's own test run is skipped (DEB_BUILD_OPTIONS=nocheck and the
# nocheck profile): the stage before this one has just run the whole suite.
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
echo "ci-package: built $(basename "$deb")"

# Errors fail the stage; warnings are printed (debian/ explains each one we keep).
lintian --fail-on error --info "$work"/zarquill_*.changes

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
mkdir -p "$root/home"
export HOME=$root/home XDG_CONFIG_HOME= XDG_DATA_HOME= XDG_STATE_HOME=
"$root/usr/games/zarquill" --version
"$root/usr/games/zarquill" --scores
# Unpacked, the game finds its data beside itself and uses the installed layout.
"$root/usr/games/zarquill" --help | grep -q "installed layout" ||
  { echo "ci-package: the unpacked game does not use the installed layout" >&2; exit 1; }
echo "ci-package: passed in $(( $(date +%s) - start )) s"
