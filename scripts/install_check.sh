#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what users get:
# the program, the library found by CMake and by pkg-config from another
# project, the manual page, and the .deb's file list.
# Usage: scripts/install_check.sh [build dir]   (default build/test)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sample=samples/sample.mp4

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
"$tmp/prefix/bin/vantorel" --version
for f in share/man/man1/vantorel.1 share/bash-completion/completions/vantorel include/vantorel/mediafile/mediafile.h \
         include/vantorel/remux/remux.h; do
  test -f "$tmp/prefix/$f" || { echo "install_check: $f not installed" >&2; exit 1; }
done
# Only the public interface: the two headers and the io/ headers they include.
headers=$(cd "$tmp/prefix/include/vantorel" && find . -name '*.h' | sort)
count=$(wc -l <<<"$headers")
if [ "$count" -gt 8 ]; then
  echo "install_check: $count headers installed, at most 8 are public:" $headers >&2
  exit 1
fi
groff -ww -z -man doc/vantorel.1

# Another project, through the CMake package.
cmake -S examples/consumer -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/track_count" "$sample"
# And through pkg-config.
libdir=$(ls -d "$tmp"/prefix/lib*/pkgconfig | head -1)
PKG_CONFIG_PATH="$libdir" c++ examples/consumer/main.cpp -o "$tmp/track_count_pc" \
  $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs vantorel)
"$tmp/track_count_pc" "$sample"

# The Debian package holds the same files under /usr.
(cd "$build" && cpack -G DEB -B "$tmp/deb" >/dev/null)
deb=$(ls "$tmp"/deb/*.deb)
listing=$(dpkg-deb -c "$deb")
for f in ./usr/bin/vantorel ./usr/share/man/man1/vantorel.1 ./usr/share/bash-completion/completions/vantorel \
         include/vantorel/mediafile/mediafile.h cmake/Vantorel/VantorelConfig.cmake pkgconfig/vantorel.pc libvantorel.a; do
  grep -q -- "$f" <<<"$listing" || { echo "install_check: $f missing from $(basename "$deb")" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q zlib1g
echo "install_check: installed, consumed by CMake and pkg-config, packaged as $(basename "$deb")"
