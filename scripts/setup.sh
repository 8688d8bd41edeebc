#!/usr/bin/env bash
# Installs the Debian packages Zarquill needs to build, run and test.
# Idempotent: packages already present are left alone. Uses sudo when not root.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  libx11-dev libxext-dev libxxf86vm-dev libxtst-dev
  libgl-dev libgl1-mesa-dev libglx-mesa0 libgl1-mesa-dri
  libfreetype-dev libpng-dev zlib1g-dev
  libogg-dev libvorbis-dev libopenal-dev libopenal1
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-xserver-utils
  python3
  fonts-dejavu-core
)
# Packaging and its checks: the Debian package build, lintian, and the validators of the
# desktop entry, the AppStream metadata and the manual page.
PACKAGING_PACKAGES=(
  debhelper dpkg-dev lintian desktop-file-utils appstream man-db
)
# The board server: HTTP, JSON, hashes, SQLite and PostgreSQL (the tests start a cluster of
# their own from the server package), and wrk and curl for its load benchmark.
BOARD_PACKAGES=(
  libboost-dev nlohmann-json3-dev libssl-dev libsqlite3-dev libpq-dev postgresql
  wrk curl
)
# The board page's browser test: headless Chromium driven through its WebDriver.
BROWSER_PACKAGES=(
  chromium chromium-driver python3-selenium
)
# The WebAssembly build of the game's rules (a second toolchain of the same CMake project) and
# node, which runs that build's replay checker in the tests.
WASM_PACKAGES=(
  emscripten nodejs
)
# Sharing runs with a board from the game: HTTP(S) client and the system's certificates.
SHARE_PACKAGES=(
  libcurl4-openssl-dev ca-certificates
)
# Fonts shipped as the game's typefaces (copied into Files/Common at build time).
FONT_PACKAGES=(
  fonts-open-sans fonts-cantarell fonts-bebas-neue fonts-jura
)

missing=()
for p in "${PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}" "${BOARD_PACKAGES[@]}" "${BROWSER_PACKAGES[@]}" \
         "${WASM_PACKAGES[@]}" "${SHARE_PACKAGES[@]}" "${FONT_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
