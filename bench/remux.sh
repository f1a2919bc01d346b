#!/usr/bin/env bash
# Times a remux of two generated inputs against copying them and against
# ffmpeg's stream copy, and reports peak memory. The inputs are made once in
# the work directory (default bench/data, never committed) and kept.
#   large: ~800 MB of 720p H.264 at ~7 Mbit/s with AAC (~65,000 samples)
#   small: an hour of 160x90 video with mono AAC (~260,000 samples)
# Usage: bench/remux.sh [work-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-bench/data}
mkdir -p "$work"

large="$work/large.mp4"
small="$work/small.mp4"
if [ ! -f "$large" ]; then
  echo "making $large (several minutes)..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=sample_rate=48000" \
    -t 915 -c:v libx264 -preset ultrafast -b:v 7000k -maxrate 7000k -bufsize 14000k -g 50 -pix_fmt yuv420p \
    -c:a aac -b:a 128k "$large"
fi
if [ ! -f "$small" ]; then
  echo "making $small..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=160x90:rate=25" -f lavfi -i "sine=sample_rate=48000" \
    -t 3600 -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -c:a aac -ac 1 -b:a 32k "$small"
fi

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
cmake --build build/bench --target vantorel -j"$(nproc)" >/dev/null
program=build/bench/vantorel
out="$work/out.mp4"

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {print int($2/1024) " MiB"}' /proc/meminfo)"
echo "filesystem of $work: $(df -T "$work" | awk 'NR==2 {print $2 " (" $1 ")"}')"

# Median wall time (s) of three runs, and the largest peak memory (KiB).
measure() {
  local times=() peak=0
  for _ in 1 2 3; do
    rm -f "$out"
    /usr/bin/time -f "%e %M" -o "$work/time.txt" sh -c "$1" >/dev/null 2>&1
    read -r t m < "$work/time.txt"
    times+=("$t")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
  echo "$median $peak"
}

for input in "$large" "$small"; do
  samples=$(ffprobe -v error -show_entries stream=nb_frames -of csv=p=0 "$input" | paste -sd+ | bc)
  echo
  echo "== $(basename "$input"): $(du -h "$input" | cut -f1), $samples samples"
  cat "$input" > /dev/null  # warm cache
  printf '%-12s %10s %12s\n' tool "median s" "peak MiB"
  read -r t_v m_v < <(measure "$program '$input' '$out'")
  read -r t_cat m_cat < <(measure "cat '$input' > '$out'")
  read -r t_cp m_cp < <(measure "cp '$input' '$out'")
  read -r t_ff m_ff < <(measure "ffmpeg -nostdin -v error -y -i '$input' -map 0 -c copy -movflags +faststart '$out'")
  for row in "vantorel $t_v $m_v" "cat $t_cat $m_cat" "cp $t_cp $m_cp" "ffmpeg $t_ff $m_ff"; do
    set -- $row
    printf '%-12s %10s %12.1f\n' "$1" "$2" "$(echo "$3 / 1024" | bc -l)"
  done
  echo "vantorel / cat: $(echo "scale=2; $t_v / $t_cat" | bc)   vantorel / ffmpeg: $(echo "scale=2; $t_v / $t_ff" | bc)"
done
rm -f "$out" "$work/time.txt"
