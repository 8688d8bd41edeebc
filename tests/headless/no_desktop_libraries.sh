#!/bin/sh
# Fails when a program links a desktop library (X11, GL, GLX, OpenAL, Vorbis),
# directly or through another library: what ldd lists is what would load.
set -u
if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: no_desktop_libraries.sh PROGRAM" >&2
  exit 2
fi
libs=$(ldd "$1") || { echo "ldd failed on $1" >&2; exit 2; }
found=$(printf '%s\n' "$libs" | grep -E 'lib(X11|xcb|GL|GLX|OpenGL|EGL|openal|vorbis)[^ ]*\.so' || true)
if [ -n "$found" ]; then
  echo "$1 links desktop libraries:" >&2
  printf '%s\n' "$found" >&2
  exit 1
fi
echo "$1: no desktop libraries"
