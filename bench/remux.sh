#!/usr/bin/env bash
# Times a remux of generated inputs against copying them and against
# ffmpeg's stream copy; reports peak memory, the bytes the remux reads and
# the write calls it makes. Run by hand, never by CI.
#
# The inputs are made once in the work directory (default bench/data, never
# committed) and kept; A, B and B4 are timed, the others with ALL_INPUTS=1:
#   large-avc.mp4, large-mp4v.mp4: 720p H.264 at ~7 Mbit/s or MPEG-4 Visual at ~8
#     with AAC, interleaved as ffmpeg writes them (~800 MB, ~65,000 samples
#     at the default length)
#   small.mp4: 160x90 video with mono AAC (an hour: ~260,000 samples)
#   A.mp4: 720p MPEG-4 Visual with B-frames and key frames 10 s apart, noisy,
#     with stereo AAC, 15 minutes (~800 MB, ~65,000 samples)
#   B.mp4: 160x90 MPEG-4 Visual with AAC, an hour (~76 MB, ~259,000 samples);
#     B4.mp4 the same over four hours (over a million samples), to show that
#     time and memory grow linearly
# Shorter inputs for a quick look: LARGE_SECONDS=120 SMALL_SECONDS=600.
#
# One round runs every command once, in turn, removing the output before
# each run; five rounds, and each figure is the median of its five times.
# Beside the wall time, the CPU time (user + system) of each command: on a
# machine that other work loads, it varies far less than the wall time. The
# commands run in an order drawn afresh each round; VERBOSE=1 prints every run.
# Usage: bench/remux.sh [work-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-bench/data}
large_seconds=${LARGE_SECONDS:-915}
small_seconds=${SMALL_SECONDS:-3600}
rounds=5
mkdir -p "$work"

make_input() {  # name, video codec options, seconds
  local path="$work/$1"
  if [ ! -f "$path" ]; then
    echo "making $path..."
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=sample_rate=48000" \
      -t "$3" $2 -g 50 -pix_fmt yuv420p -c:a aac -b:a 128k "$path"
  fi
}
if [ -n "${ALL_INPUTS:-}" ]; then
  make_input "large-avc-$large_seconds.mp4" "-c:v libx264 -preset ultrafast -b:v 7000k -maxrate 7000k -bufsize 14000k" \
    "$large_seconds"
  make_input "large-mp4v-$large_seconds.mp4" "-c:v mpeg4 -b:v 8000k -maxrate 8000k -bufsize 16000k" "$large_seconds"
  small="$work/small-$small_seconds.mp4"
  if [ ! -f "$small" ]; then
    echo "making $small..."
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=160x90:rate=25" -f lavfi -i "sine=sample_rate=48000" \
      -t "$small_seconds" -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -c:a aac -ac 1 -b:a 32k "$small"
  fi
fi
if [ ! -f "$work/A.mp4" ]; then
  echo "making $work/A.mp4..."
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
    -f lavfi -i "aevalsrc=0.25*sin(440*2*PI*t)|0.25*sin(660*2*PI*t):s=48000:c=stereo" -t 900 -map 0:v -map 1:a \
    -vf noise=alls=6:allf=t -c:v mpeg4 -b:v 7000k -maxrate 9000k -bufsize 4000k -g 250 -bf 2 -c:a aac -b:a 128k \
    "$work/A.mp4"
fi
for hours in 1 4; do
  name=B.mp4
  [ "$hours" = 4 ] && name=B4.mp4
  if [ ! -f "$work/$name" ]; then
    echo "making $work/$name..."
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=160x90:rate=25 \
      -f lavfi -i sine=frequency=440:sample_rate=48000 -t $((hours * 3600)) -map 0:v -map 1:a -c:v mpeg4 -q:v 12 \
      -g 50 -bf 0 -c:a aac -b:a 24k "$work/$name"
  fi
done

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
cmake --build build/bench --target vantorel -j2 >/dev/null
program=build/bench/vantorel
out="$work/out.mp4"

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {print int($2/1024) " MiB"}' /proc/meminfo)," \
  "$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
echo "filesystem of $work: $(df -T "$work" | awk 'NR==2 {print $2 " (" $1 ")"}')"

names=(vantorel vantorel-verify vantorel-pipe cat cat-pipe ffmpeg)
command_for() {  # name, input
  case $1 in
    vantorel) echo "$program --quiet '$2' '$out'" ;;
    vantorel-verify) echo "$program --quiet --verify '$2' '$out'" ;;
    vantorel-pipe) echo "$program --quiet '$2' - | cat > '$out'" ;;
    cat) echo "cat '$2' > '$out'" ;;
    cat-pipe) echo "cat '$2' | cat > '$out'" ;;
    ffmpeg) echo "ffmpeg -nostdin -v error -y -i '$2' -map 0 -c copy -movflags +faststart '$out'" ;;
  esac
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

inputs=("$work/A.mp4" "$work/B.mp4" "$work/B4.mp4")
[ -n "${ALL_INPUTS:-}" ] && inputs+=("$work/large-avc-$large_seconds.mp4" "$work/large-mp4v-$large_seconds.mp4" "$small")
# Peak anonymous memory of one run (the pages of a view of the input are
# the file's, in the page cache: not counted).
peak_anon() {  # input
  rm -f "$out"
  "$program" --quiet "$1" "$out" &
  local pid=$! peak=0 now
  while kill -0 "$pid" 2>/dev/null; do
    now=$(awk '/^RssAnon/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ -n "$now" ] && [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.005
  done
  wait "$pid"
  echo "$peak"
}

for input in "${inputs[@]}"; do
  size=$(stat -L -c %s "$input")
  samples=$(ffprobe -v error -show_entries stream=nb_frames -of csv=p=0 "$input" | paste -sd+ | bc)
  echo
  echo "== $(basename "$input"): $size bytes, $samples samples"
  cat "$input" > /dev/null  # warm cache
  declare -A times=() cpu=() peak=()
  for name in "${names[@]}"; do times[$name]=""; cpu[$name]=""; peak[$name]=0; done
  for _ in $(seq "$rounds"); do
    # A new order each round: on this machine the place in a fixed order
    # weighs (a run after one that removed and synced a large output can
    # take several times as long), so it falls on every command alike.
    mapfile -t order < <(printf '%s\n' "${names[@]}" | shuf)
    for name in "${order[@]}"; do
      rm -f "$out"
      # Every command starts with no dirty pages of an earlier run's output
      # to write back.
      sync
      /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" sh -c "$(command_for "$name" "$input")" >/dev/null 2>&1
      read -r t m u s < "$work/time.txt"
      [ -n "${VERBOSE:-}" ] && echo "  $name: $t s (user $u, sys $s)"
      times[$name]="${times[$name]} $t"
      cpu[$name]="${cpu[$name]} $(awk -v u="$u" -v s="$s" 'BEGIN {printf "%.2f", u + s}')"
      [ "$m" -gt "${peak[$name]}" ] && peak[$name]=$m
    done
  done
  printf '%-14s %10s %10s %10s\n' command "median s" "cpu s" "peak MiB"
  for name in "${names[@]}"; do
    # shellcheck disable=SC2086
    printf '%-14s %10s %10s %10.1f\n' "$name" "$(median ${times[$name]})" "$(median ${cpu[$name]})" \
      "$(echo "${peak[$name]} / 1024" | bc -l)"
  done
  # shellcheck disable=SC2086
  t_v=$(median ${times[vantorel]}); t_cat=$(median ${times[cat]}); t_ff=$(median ${times[ffmpeg]})
  ratio() { if [ "$(echo "$2 > 0" | bc)" = 1 ]; then echo "scale=2; $1 / $2" | bc; else echo "n/a"; fi; }
  echo "vantorel / cat: $(ratio "$t_v" "$t_cat")   vantorel / ffmpeg: $(ratio "$t_v" "$t_ff")"
  # shellcheck disable=SC2086
  c_v=$(median ${cpu[vantorel]}); c_cat=$(median ${cpu[cat]}); c_ff=$(median ${cpu[ffmpeg]})
  echo "in CPU time: vantorel / cat: $(ratio "$c_v" "$c_cat")   vantorel / ffmpeg: $(ratio "$c_v" "$c_ff")"
  # shellcheck disable=SC2086
  echo "to a pipe: vantorel / cat: $(ratio "$(median ${times[vantorel-pipe]})" "$(median ${times[cat-pipe]})")"
  # shellcheck disable=SC2086
  echo "--verify costs: $(ratio "$(median ${times[vantorel-verify]})" "$t_v") x the remux"

  # What the remux reads and how often it writes, counted by strace.
  if command -v strace >/dev/null; then
    rm -f "$out"
    strace -f -qq -e trace=read,pread64,preadv,copy_file_range,write,pwrite64,pwritev,mmap -o "$work/trace.txt" \
      "$program" --quiet "$input" "$out"
    # (A grep that finds nothing is no failure: an input may be read, or viewed, only;
    # the remux reads, but a build before it viewed.)
    read_bytes=$({ grep -E '^[0-9]+ +(read|pread64|preadv|copy_file_range)\(' "$work/trace.txt" || true; } |
      awk -F'= ' '$NF ~ /^[0-9]+/ {s += $NF} END {print s + 0}')
    reads=$(grep -cE '^[0-9]+ +(read|pread64|preadv|copy_file_range)\(' "$work/trace.txt" || true)
    # Views of the input: mappings of its descriptor, read once as the remux writes them.
    viewed=$({ grep -E '^[0-9]+ +mmap\(NULL, [0-9]+, PROT_READ, MAP_SHARED' "$work/trace.txt" || true; } |
      awk -F', ' '{s += $2} END {print s + 0}')
    read_bytes=$((read_bytes + viewed))
    writes=$(grep -cE '^[0-9]+ +(write|pwrite64|pwritev)\(' "$work/trace.txt" || true)
    out_size=$(stat -L -c %s "$out")
    echo "bytes read: $read_bytes ($(echo "scale=3; $read_bytes / $size" | bc) x the input; $viewed of them viewed in place), read calls: $reads"
    # Writes to a file go in calls of at most 256 KiB (app/posix_routines.cpp says why).
    echo "write calls: $writes ($(( out_size / (writes > 0 ? writes : 1) / 1024 )) KiB each on average; 256 KiB at most)"
  fi
  echo "peak anonymous memory: $(echo "scale=1; $(peak_anon "$input") / 1024" | bc) MiB"
done
rm -f "$out" "$work/time.txt" "$work/trace.txt"
