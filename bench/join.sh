#!/usr/bin/env bash
# Times --join of three chapter files against a remux of the one file they
# were cut from (the same bytes and samples), with each run's peak memory.
# Run by hand, never by CI. Peak memory is the largest resident set, which
# counts the input pages the program maps while it copies them: a join maps
# one part at a time, a remux the whole file.
#
# The source (720p H.264 with AAC, ~900 MB at the default length) and its
# three parts (ffmpeg's segment muxer, stream copy) are made once in the
# work directory (default bench/data, never committed) and kept. A shorter
# source for a quick look: SECONDS_LONG=120.
# Usage: bench/join.sh [work-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-bench/data}
seconds=${SECONDS_LONG:-1000}
rounds=5
mkdir -p "$work"

source="$work/join-source-$seconds.mp4"
if [ ! -f "$source" ]; then
  echo "making $source..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=sample_rate=48000" \
    -t "$seconds" -c:v libx264 -preset ultrafast -b:v 7000k -maxrate 7000k -bufsize 14000k -g 50 -pix_fmt yuv420p \
    -c:a aac -b:a 128k "$source"
fi
part_seconds=$(( (seconds + 2) / 3 ))
if [ ! -f "$work/join-part-$seconds-2.mp4" ]; then
  echo "cutting $source into three..."
  ffmpeg -nostdin -v error -y -i "$source" -map 0 -c copy -f segment -segment_time "$part_seconds" \
    -reset_timestamps 1 "$work/join-part-$seconds-%d.mp4"
fi
parts=("$work/join-part-$seconds-0.mp4" "$work/join-part-$seconds-1.mp4" "$work/join-part-$seconds-2.mp4")

# PROGRAM names a build to time instead of a fresh release build.
program=${PROGRAM:-build/bench/vantorel}
if [ -z "${PROGRAM:-}" ]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
  cmake --build build/bench --target vantorel -j2 >/dev/null
fi
out="$work/out.mp4"

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
run() {  # name, command
  rm -f "$out"
  sync
  /usr/bin/time -f "%e %M" -o "$work/time.txt" sh -c "$2" >/dev/null 2>&1
  read -r t m < "$work/time.txt"
  times[$1]="${times[$1]} $t"
  if [ "$m" -gt "${peak[$1]}" ]; then peak[$1]=$m; fi
}

cat "$source" "${parts[@]}" > /dev/null  # warm cache
echo "source: $(stat -c %s "$source") bytes; parts: $(stat -c %s "${parts[@]}" | paste -sd' ')"
declare -A times=([remux]="" [join]="") peak=([remux]=0 [join]=0)
for _ in $(seq "$rounds"); do
  run remux "$program --quiet '$source' '$out'"
  run join "$program --quiet --join '${parts[0]}' '${parts[1]}' '${parts[2]}' '$out'"
done
printf '%-8s %10s %10s\n' command "median s" "peak MiB"
for name in remux join; do
  # shellcheck disable=SC2086
  printf '%-8s %10s %10.1f\n' "$name" "$(median ${times[$name]})" "$(echo "${peak[$name]} / 1024" | bc -l)"
done
# shellcheck disable=SC2086
echo "join / remux: $(echo "scale=2; $(median ${times[join]}) / $(median ${times[remux]})" | bc)"
rm -f "$out" "$work/time.txt"
