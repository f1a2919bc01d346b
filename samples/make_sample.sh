#!/usr/bin/env bash
# Makes samples/sample.mp4, the embedded default input: 4 s of 320x240 H.264
# (with B-frames, a sync sample every second) and stereo AAC, with two chapters.
set -euo pipefail
cd "$(dirname "$0")"
meta=$(mktemp)
trap 'rm -f "$meta"' EXIT
cat > "$meta" <<'META'
;FFMETADATA1
title=Vantorel sample
[CHAPTER]
TIMEBASE=1/1000
START=0
END=2000
title=Opening
[CHAPTER]
TIMEBASE=1/1000
START=2000
END=4000
title=Closing
META
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i testsrc=size=320x240:rate=25:duration=4 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 \
  -i "$meta" -map 0:v -map 1:a -map_metadata 2 -map_chapters 2 \
  -c:v libx264 -preset veryfast -g 25 -bf 2 -pix_fmt yuv420p -b:v 300k \
  -c:a aac -b:a 64k -ac 2 \
  sample.mp4
ls -l sample.mp4
