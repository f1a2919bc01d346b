#!/usr/bin/env bash
# Times the remux of a generated H.264 + AAC transport stream (~1 GB at the
# default length) to MP4 against ffmpeg's stream copy of it, and reports
# peak memory. Run by hand, never by CI.
#
# The input is made once in the work directory (default bench/data, never
# committed) and kept: 720p H.264 at ~7 Mbit/s with AAC, as ffmpeg writes a
# transport stream. A shorter one for a quick look: TS_SECONDS=120.
#
# ROUNDS rounds (default 5), each command once a round in an order drawn
# afresh each round, so that the load of a shared machine and what the run
# before left fall on all of them alike (a sync before each run); VERBOSE=1
# prints every run. Each figure is the median of
# its runs: wall time, user and system CPU time, and peak memory. BASE_EXE
# names another vantorel binary (a build of an earlier revision, say) to
# time in the same rounds. The load average is printed before and after.
# Usage: bench/ts.sh [work-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-bench/data}
seconds=${TS_SECONDS:-1100}
rounds=${ROUNDS:-5}
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
ls -lL "$input"
cat "$input" > /dev/null

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
labels=()
declare -A walls users systems peaks
run() {  # label, command...
  local label=$1
  shift
  rm -f "$out" "$work/time.txt"
  # Each run writes a gigabyte: without a sync the next one would start
  # under the write-back of the last and pay for it.
  sync
  # The report goes to a file: the command's own output is thrown away.
  /usr/bin/time -o "$work/time.txt" -f "%e %U %S %M" "$@" >/dev/null 2>/dev/null
  local wall user system peak
  read -r wall user system peak < <(tail -n 1 "$work/time.txt")
  [ -n "${VERBOSE:-}" ] && echo "    $wall s, user $user s, sys $system s"
  walls[$label]+="$wall "
  users[$label]+="$user "
  systems[$label]+="$system "
  peaks[$label]+="$peak "
}
labels=("cat" "vantorel")
[ -n "${BASE_EXE:-}" ] && labels+=("vantorel (base)")
labels+=("ffmpeg -c copy")
run_label() {
  case $1 in
    "cat") run "cat" sh -c "cat '$input' > '$out'" ;;
    "vantorel") run "vantorel" "$exe" -y --quiet "$input" "$out" ;;
    "vantorel (base)") run "vantorel (base)" "$BASE_EXE" -y --quiet "$input" "$out" ;;
    *) run "ffmpeg -c copy" ffmpeg -nostdin -v error -y -i "$input" -c copy -f mp4 "$out" ;;
  esac
}
# A new order each round: on this machine the place in the round weighs
# (the same binary, timed as both vantorel and its base in fixed order,
# measured 2-3x slower in one place than in the other).
for _ in $(seq "$rounds"); do
  mapfile -t order < <(printf '%s\n' "${labels[@]}" | shuf)
  for label in "${order[@]}"; do
    [ -n "${VERBOSE:-}" ] && echo "  $label..."
    run_label "$label"
  done
done
rm -f "$out" "$work/time.txt"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
med() { tr ' ' '\n' | grep -v '^$' | median; }
ff_wall=$(echo "${walls["ffmpeg -c copy"]}" | med)
ff_cpu=$(echo "$(echo "${users["ffmpeg -c copy"]}" | med) + $(echo "${systems["ffmpeg -c copy"]}" | med)" | bc -l)
printf '%-16s %7s %7s %7s %10s %16s\n' "" "wall s" "user s" "sys s" "peak MiB" "wall, CPU/ffmpeg"
for label in "${labels[@]}"; do
  wall=$(echo "${walls[$label]}" | med)
  user=$(echo "${users[$label]}" | med)
  system=$(echo "${systems[$label]}" | med)
  peak=$(echo "${peaks[$label]}" | tr ' ' '\n' | grep -v '^$' | sort -n | tail -n 1)
  printf '%-16s %7s %7s %7s %10.1f %7.2f, %6.2f\n' "$label" "$wall" "$user" "$system" "$(echo "$peak / 1024" | bc -l)" \
    "$(echo "$wall / $ff_wall" | bc -l)" "$(echo "($user + $system) / $ff_cpu" | bc -l)"
done
