#!/usr/bin/env bash
# Times the remux of a generated H.264 + AAC transport stream (~1 GB at the
# default length) to MP4 against ffmpeg's stream copy of it, and reports
# peak memory. Run by hand, never by CI.
#
# The input is made once in the work directory (default bench/data, never
# committed) and kept: 720p H.264 at ~7 Mbit/s with AAC, as ffmpeg writes a
# transport stream. A shorter one for a quick look: TS_SECONDS=120.
#
# Three rounds, each command once a round (output removed before each run);
# each figure is the median of its three times.
# Usage: bench/ts.sh [work-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-bench/data}
seconds=${TS_SECONDS:-1100}
rounds=3
mkdir -p "$work"
input="$work/large-avc-$seconds.ts"
if [ ! -f "$input" ]; then
  echo "making $input..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=sample_rate=48000" \
    -t "$seconds" -c:v libx264 -preset ultrafast -b:v 7000k -maxrate 7000k -bufsize 14000k -g 50 -pix_fmt yuv420p \
    -c:a aac -b:a 128k -f mpegts "$input"
fi
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
cmake --build build/bench --target vantorel -j"$(nproc)" >/dev/null
exe=build/bench/vantorel
out="$work/ts-out.mp4"
ls -l "$input"
cat "$input" > /dev/null

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
run() {  # label, command...
  local label=$1
  shift
  local times=() peak=0
  for _ in $(seq "$rounds"); do
    rm -f "$out" "$work/time.txt"
    local line
    # The report goes to a file: the command's own output is thrown away.
    /usr/bin/time -o "$work/time.txt" -f "%e %M" "$@" >/dev/null 2>/dev/null
    line=$(tail -n 1 "$work/time.txt")
    times+=("${line% *}")
    peak=${line#* }
  done
  printf '%-16s %6s s, peak %6.1f MiB\n' "$label" "$(printf '%s\n' "${times[@]}" | median)" "$(echo "$peak / 1024" | bc -l)"
}
run "cat" sh -c "cat '$input' > '$out'"
run "vantorel" "$exe" -y --quiet "$input" "$out"
run "ffmpeg -c copy" ffmpeg -nostdin -v error -y -i "$input" -c copy -f mp4 "$out"
rm -f "$out" "$work/time.txt"
