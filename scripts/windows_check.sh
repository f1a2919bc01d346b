#!/usr/bin/env bash
# Cross-builds vantorel.exe and the Windows test executable with mingw-w64
# (warnings as errors), runs the tests under wine, and checks that the
# Windows program writes byte for byte what the Linux one writes, for an
# ASCII and a non-ASCII file name and on standard output.
#
# Needs g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev, wine and wine64,
# and the Linux build of scripts/test.sh (build/test/vantorel).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

build=build/windows
linux_exe=${VANTOREL_LINUX_EXE:-build/test/vantorel}
jobs=$(nproc 2>/dev/null || echo 2)
fail() {
  echo "windows_check: $*" >&2
  exit 1
}
[ -x "$linux_exe" ] || fail "no Linux build at $linux_exe (scripts/test.sh makes it)"

# -O1: the check compares behaviour, not speed, and -O3 doubles the build.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DVANTOREL_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs"
built=$SECONDS

# A prefix of our own, made without asking for Mono or Gecko (nothing is
# downloaded), and no wine chatter in the output.
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix $WINEPREFIX"
  wineserver -w
fi

wine "$build/tests/vantorel_tests.exe" --gtest_brief=1
tested=$SECONDS

work="$build/check"
rm -rf "$work"
mkdir -p "$work"
export SOURCE_DATE_EPOCH=1700000000
"$linux_exe" --quiet samples/sample.mp4 "$work/linux.mp4"
wine "$build/vantorel.exe" --quiet samples/sample.mp4 "$work/windows.mp4"
cmp "$work/linux.mp4" "$work/windows.mp4" || fail "vantorel.exe wrote other bytes than the Linux build"

# Names beyond ASCII pass through the UTF-16 command line and wide file calls.
input="échantillon-ü.mp4"
output="résultat-ß 日本.mp4"
cp samples/sample.mp4 "$work/$input"
(cd "$work" && wine ../vantorel.exe --quiet "$input" "$output")
[ -f "$work/$output" ] || fail "no output under the name '$output': $(ls "$work")"
cmp "$work/linux.mp4" "$work/$output" || fail "the output for a non-ASCII name differs"

# Standard output is binary: not one byte changed on the way.
wine "$build/vantorel.exe" --quiet samples/sample.mp4 - >"$work/stdout.mp4"
cmp "$work/linux.mp4" "$work/stdout.mp4" || fail "the output written to standard output differs"

# The environment reaches the Windows program: a bad value is refused.
status=0
SOURCE_DATE_EPOCH=soon wine "$build/vantorel.exe" --quiet samples/sample.mp4 "$work/epoch.mp4" 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "SOURCE_DATE_EPOCH=soon gave status $status, not 2"

# The input is never overwritten, whatever the spelling of its name.
status=0
(cd "$work" && wine ../vantorel.exe --quiet "$input" ".\\$input" 2>/dev/null) || status=$?
[ "$status" -eq 1 ] || fail "writing over the input gave status $status, not 1"
cmp samples/sample.mp4 "$work/$input" || fail "the input was changed"

echo "windows_check: passed (build $((built - started)) s, tests $((tested - built)) s, total $((SECONDS - started)) s)"
