#!/usr/bin/env bash
# Reads every sample of a large generated file through the library and
# compares with `cat file > /dev/null` on the same (warm) file.
# Usage: bench/read.sh [work-dir]   (the generated file is kept there, never committed)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-bench/data}
mkdir -p "$work"
input="$work/read-input.mp4"
if [ ! -f "$input" ]; then
  # ~100,000 samples: 30 min of 25 fps video at a low size plus 48 kHz AAC.
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x180:rate=25 -f lavfi -i sine=sample_rate=48000 \
    -t 1200 -c:v libx264 -preset ultrafast -g 50 -b:v 1500k -c:a aac -b:a 128k "$input"
fi
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVANTOREL_BENCH=ON -DVANTOREL_TESTS=OFF >/dev/null
cmake --build build/bench --target vantorel_bench_read -j"$(nproc)" >/dev/null
ls -l "$input"
cat "$input" > /dev/null
echo "cat:"
/usr/bin/time -f "  %e s, peak %M KiB" sh -c "cat '$input' > /dev/null"
echo "library:"
/usr/bin/time -f "  %e s, peak %M KiB" build/bench/bench/vantorel_bench_read "$input"
