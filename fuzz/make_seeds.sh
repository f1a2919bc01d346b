#!/usr/bin/env bash
# Regenerates the seed corpora under fuzz/corpus/<target>/: tiny files made by
# ffmpeg, and the hand-made files of the test suite's builders (written by the
# FuzzSeeds test when VANTOREL_SEED_DIR is set).
# Usage: fuzz/make_seeds.sh [path to vantorel_tests]   (default build/tests/vantorel_tests)
set -euo pipefail
cd "$(dirname "$0")/.."
tests=${1:-build/tests/vantorel_tests}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

f="ffmpeg -hide_banner -loglevel error -y"
v="-f lavfi -i testsrc=size=16x16:rate=10:duration=0.3"
a="-f lavfi -i sine=sample_rate=8000:duration=0.3"
$f $v $a -c:v libx264 -preset ultrafast -g 2 -bf 1 -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 "$tmp/h264_aac.mp4"
$f $v $a -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 -metadata title=seed \
  -movflags +faststart "$tmp/faststart.mp4"
$f $v $a -c:v libx264 -preset ultrafast -g 2 -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 \
  -movflags frag_keyframe+empty_moov "$tmp/fragmented.mp4"
$f $v $a -c:v mjpeg -q:v 31 -c:a pcm_s16be -ac 1 "$tmp/mjpeg_pcm.mov"
$f $v -c:v h263 -s 128x96 -q:v 31 -g 3 "$tmp/h263.3gp"
$f $a -c:a ac3 -b:a 32k -ac 1 -ar 32000 "$tmp/ac3.mp4"
$f $v $a -c:v mpeg4 -q:v 31 -g 2 -c:a libmp3lame -b:a 8k -ac 1 -ar 8000 "$tmp/mpeg4_mp3.avi"
$f $v $a -c:v wmv2 -c:a wmav2 -b:a 24k -ac 1 "$tmp/wmv.asf"
# AVI streams the import turns into MP4 forms.
$f $v $a -c:v mpeg4 -vtag XVID -q:v 31 -bf 2 -c:a libmp3lame -q:a 9 -ac 1 -ar 8000 "$tmp/xvid_bframes_vbr_mp3.avi"
$f $v $a -c:v mjpeg -q:v 31 -c:a pcm_s16le -ac 1 "$tmp/mjpeg_pcm.avi"
$f $v $a -c:v mpeg4 -vtag DX50 -q:v 31 -c:a aac -b:a 8k -ac 1 "$tmp/dx50_aac.avi"
$f $v $a -c:v mpeg4 -q:v 31 -c:a ac3 -b:a 32k -ac 1 -ar 32000 "$tmp/mpeg4_ac3.avi"
$f $v $a -c:v mpeg4 -q:v 31 -c:a mp2 -b:a 32k -ac 1 -ar 16000 "$tmp/mpeg4_mp2.avi"
# Matroska and WebM, with B-frames and laced audio.
$f $v $a -c:v libx264 -preset ultrafast -g 2 -bf 1 -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 "$tmp/h264_aac.mkv"
$f $v $a -c:v libvpx-vp9 -deadline realtime -c:a libopus -b:a 8k -ac 1 -ar 48000 "$tmp/vp9_opus.webm"
# Matroska subtitles and PCM, converted at import.
printf '1\n00:00:00,000 --> 00:00:00,100\n<i>Hi</i>\n\n2\n00:00:00,150 --> 00:00:00,250\nthere\n\n' > "$tmp/cues.srt"
printf 'WEBVTT\n\n00:00:00.000 --> 00:00:00.100\nHi\n\n' > "$tmp/cues.vtt"
$f $v -i "$tmp/cues.srt" -map 0 -map 1 -c:v mpeg4 -q:v 31 -c:s srt "$tmp/mpeg4_srt.mkv"
$f $v -i "$tmp/cues.vtt" -map 0 -map 1 -c:v libvpx -deadline realtime -c:s webvtt "$tmp/vp8_webvtt.webm"
$f $a -c:a pcm_s16le -ac 1 "$tmp/pcm.mkv"
rm "$tmp/cues.srt" "$tmp/cues.vtt"
# Codecs carried with their sample entries whole, text, time code, sample groups.
$f $v $a -c:v libx265 -x265-params log-level=none -tag:v hvc1 -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 "$tmp/hevc_aac.mov"
$f $v $a -c:v libaom-av1 -cpu-used 8 -c:a libopus -b:a 8k -ac 1 -ar 48000 "$tmp/av1_opus.mp4"
$f $v $a -c:v libvpx-vp9 -deadline realtime -c:a flac -ac 1 -strict -2 "$tmp/vp9_flac.mp4"
$f $a -c:a alac -ac 1 "$tmp/alac.m4a"
$f $v $a -c:v prores_ks -profile:v 0 -c:a pcm_s24le -ac 1 "$tmp/prores_pcm24.mov"
# Carried as read from an MP4, and PCM with its channel layout (short: the
# streams are large).
a="-f lavfi -i sine=sample_rate=8000:duration=0.05"
$f $a -c:a truehd -strict -2 -ac 2 -ar 48000 "$tmp/truehd.mp4"
$f $a -c:a dca -strict -2 -ac 2 -ar 48000 "$tmp/dts.mp4"
six="pan=5.1(side)|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0"
$f $a -af "$six" -c:a pcm_s16be "$tmp/pcm51_chan.mov"
$f $a -af "$six" -c:a pcm_s24le "$tmp/pcm24_six.avi"
a="-f lavfi -i sine=sample_rate=8000:duration=0.3"
printf '1\n00:00:00,000 --> 00:00:00,200\nHi\n\n' > "$tmp/subs.srt"
$f $v -i "$tmp/subs.srt" -map 0 -map 1 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:s mov_text \
  -timecode 01:00:00:00 "$tmp/text_timecode.mp4"
rm "$tmp/subs.srt"
# Metadata: 'ilst' tags with cover art, QuickTime user data and track names,
# 'mdta' keys, chapters with their text track.
$f $v -frames:v 1 "$tmp/cover.png"
$f $a -i "$tmp/cover.png" -map 0 -map 1 -c:a aac -b:a 8k -ac 1 -c:v copy -disposition:v attached_pic \
  -metadata title=T -metadata artist=A -metadata track=3/12 -metadata disc=1/2 -metadata genre=G "$tmp/tagged.m4a"
rm "$tmp/cover.png"
$f $v -c:v mpeg4 -q:v 31 -metadata title=T -metadata comment=C -metadata:s:v title=V "$tmp/user_data.mov"
$f $v -c:v mpeg4 -q:v 31 -movflags use_metadata_tags -metadata com.apple.quicktime.make=M "$tmp/keys.mov"
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=100\ntitle=A\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=100\nEND=300\ntitle=B\n' \
  > "$tmp/chapters.txt"
$f $v -i "$tmp/chapters.txt" -map 0 -map_metadata 1 -c:v mpeg4 -q:v 31 -g 1 "$tmp/chapters.mp4"
rm "$tmp/chapters.txt"

# Transport streams: 188-byte packets with AAC, 192-byte (M2TS) with AC-3.
$f $v $a -c:v libx264 -preset ultrafast -g 2 -bf 1 -pix_fmt yuv420p -c:a aac -b:a 8k -ac 1 -t 0.2 -f mpegts \
  "$tmp/h264_aac.ts"
$f $v $a -c:v libx264 -preset ultrafast -g 2 -pix_fmt yuv420p -c:a ac3 -b:a 32k -ac 1 -ar 32000 -t 0.2 \
  -mpegts_m2ts_mode 1 -f mpegts "$tmp/h264_ac3.m2ts"
# Blu-ray LPCM (5.0: a padding channel) and DTS in transport streams.
$f $v $a -c:v libx264 -preset ultrafast -pix_fmt yuv420p -af "pan=5.0|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0" \
  -c:a pcm_bluray -ar 48000 -t 0.1 -mpegts_m2ts_mode 1 -f mpegts "$tmp/h264_lpcm.m2ts"
$f $a -c:a dca -strict -2 -ac 2 -ar 48000 -t 0.1 -f mpegts "$tmp/dts.ts"
# Opus in a transport stream (control headers, a channel configuration descriptor).
$f $a -c:a libopus -b:a 16k -ac 2 -ar 48000 -t 0.1 -f mpegts "$tmp/opus.ts"
# Program streams: an MPEG-1 system stream, and DVD VOBs with AC-3 and LPCM
# (MPEG video needs a standard frame rate).
p="-f lavfi -i testsrc=size=16x16:rate=25:duration=0.2"
$f $p $a -c:v mpeg1video -bf 1 -g 3 -c:a mp2 -b:a 32k -ac 1 -ar 16000 -f mpeg "$tmp/mpeg1_mp2.mpg"
$f $p $a -c:v mpeg2video -bf 1 -g 3 -c:a ac3 -b:a 32k -ac 1 -ar 48000 -t 0.2 -f vob "$tmp/mpeg2_ac3.vob"
$f $p $a -c:v mpeg2video -g 3 -c:a pcm_dvd -sample_fmt s32 -ac 2 -ar 48000 -t 0.1 -f vob "$tmp/mpeg2_lpcm24.vob"

VANTOREL_SEED_DIR="$tmp" "$tests" --gtest_filter='FuzzSeeds.*' >/dev/null

for target in read inspect remux; do
  dir="fuzz/corpus/$target"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$tmp"/* "$dir"/
done
# ASF is taken only in inspect mode.
rm -f fuzz/corpus/read/*.asf fuzz/corpus/remux/*.asf
# The Matroska target gets only Matroska and WebM files.
rm -rf fuzz/corpus/matroska
mkdir -p fuzz/corpus/matroska
cp "$tmp"/*.mkv "$tmp"/*.webm fuzz/corpus/matroska/
# The AVI target gets only AVI files, with the damaged files of the tests
# (cut, lying sizes and indexes) beside them; the Matroska target those too.
rm -rf fuzz/corpus/avi
mkdir -p fuzz/corpus/avi
cp "$tmp"/*.avi tests/robust/damaged/*.avi fuzz/corpus/avi/
cp tests/robust/damaged/*.mkv fuzz/corpus/matroska/
# The transport stream target gets only transport streams. (fuzz/kept/<target>
# holds seeds laid out by hand that this script does not make; fuzz/run.sh
# reads them beside these.)
rm -rf fuzz/corpus/ts
mkdir -p fuzz/corpus/ts
cp "$tmp"/*.ts "$tmp"/*.m2ts fuzz/corpus/ts/
du -sh fuzz/corpus
