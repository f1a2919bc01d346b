#!/usr/bin/env bash
# Times a remux of generated inputs against copying them and against
# ffmpeg's stream copy; reports peak memory, the bytes the remux reads and
# the write calls it makes. Run by hand, never by CI.
#
# The inputs are made once in the work directory (default bench/data, never
# committed) and kept:
#   large-avc.mp4, large-mp4v.mp4: 720p H.264 at ~7 Mbit/s or MPEG-4 Visual at ~8
#     with AAC, interleaved as ffmpeg writes them (~800 MB, ~65,000 samples
#     at the default length)
#   small.mp4: 160x90 video with mono AAC (an hour: ~260,000 samples)
# Shorter inputs for a quick look: LARGE_SECONDS=120 SMALL_SECONDS=600.
#
# One round runs every command once, in turn, removing the output before
# each run; five rounds, and each figure is the median of its five times.
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
make_input "large-avc-$large_seconds.mp4" "-c:v libx264 -preset ultrafast -b:v 7000k -maxrate 7000k -bufsize 14000k" \
  "$large_seconds"
make_input "large-mp4v-$large_seconds.mp4" "-c:v mpeg4 -b:v 8000k -maxrate 8000k -bufsize 16000k" "$large_seconds"
small="$work/small-$small_seconds.mp4"
if [ ! -f "$small" ]; then
  echo "making $small..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=160x90:rate=25" -f lavfi -i "sine=sample_rate=48000" \
    -t "$small_seconds" -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -c:a aac -ac 1 -b:a 32k "$small"
fi

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
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

for input in "$work/large-avc-$large_seconds.mp4" "$work/large-mp4v-$large_seconds.mp4" "$small"; do
  size=$(stat -c %s "$input")
  samples=$(ffprobe -v error -show_entries stream=nb_frames -of csv=p=0 "$input" | paste -sd+ | bc)
  echo
  echo "== $(basename "$input"): $size bytes, $samples samples"
  cat "$input" > /dev/null  # warm cache
  declare -A times=() peak=()
  for name in "${names[@]}"; do times[$name]=""; peak[$name]=0; done
  for _ in $(seq "$rounds"); do
    for name in "${names[@]}"; do
      rm -f "$out"
      # Every command starts with no dirty pages of an earlier run's output
      # to write back.
      sync
      /usr/bin/time -f "%e %M" -o "$work/time.txt" sh -c "$(command_for "$name" "$input")" >/dev/null 2>&1
      read -r t m < "$work/time.txt"
      times[$name]="${times[$name]} $t"
      [ "$m" -gt "${peak[$name]}" ] && peak[$name]=$m
    done
  done
  printf '%-14s %10s %10s\n' command "median s" "peak MiB"
  for name in "${names[@]}"; do
    # shellcheck disable=SC2086
    printf '%-14s %10s %10.1f\n' "$name" "$(median ${times[$name]})" "$(echo "${peak[$name]} / 1024" | bc -l)"
  done
  # shellcheck disable=SC2086
  t_v=$(median ${times[vantorel]}); t_cat=$(median ${times[cat]}); t_ff=$(median ${times[ffmpeg]})
  ratio() { if [ "$(echo "$2 > 0" | bc)" = 1 ]; then echo "scale=2; $1 / $2" | bc; else echo "n/a"; fi; }
  echo "vantorel / cat: $(ratio "$t_v" "$t_cat")   vantorel / ffmpeg: $(ratio "$t_v" "$t_ff")"
  # shellcheck disable=SC2086
  echo "to a pipe: vantorel / cat: $(ratio "$(median ${times[vantorel-pipe]})" "$(median ${times[cat-pipe]})")"
  # shellcheck disable=SC2086
  echo "--verify costs: $(ratio "$(median ${times[vantorel-verify]})" "$t_v") x the remux"

  # What the remux reads and how often it writes, counted by strace.
  if command -v strace >/dev/null; then
    rm -f "$out"
    strace -f -qq -e trace=read,pread64,preadv,copy_file_range,write,pwrite64 -o "$work/trace.txt" \
      "$program" --quiet "$input" "$out"
    read_bytes=$(grep -E '^[0-9]+ +(read|pread64|preadv|copy_file_range)\(' "$work/trace.txt" |
      awk -F'= ' '$NF ~ /^[0-9]+/ {s += $NF} END {print s + 0}')
    writes=$(grep -cE '^[0-9]+ +(write|pwrite64)\(' "$work/trace.txt" || true)
    out_size=$(stat -c %s "$out")
    echo "bytes read: $read_bytes ($(echo "scale=3; $read_bytes / $size" | bc) x the input)"
    echo "write calls: $writes (target at most $(( out_size / 1048576 + 16 )))"
  fi
done
rm -f "$out" "$work/time.txt" "$work/trace.txt"
