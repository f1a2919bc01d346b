#!/usr/bin/env bash
# Builds BASE (a git revision) and the current tree, remuxes a set of inputs
# like the ones the integration tests generate with each build, and compares
# the outputs byte for byte, and the --info --json descriptions. For changes
# that must not change behaviour. Run by hand, never by CI.
#
# Needs ffmpeg (inputs whose encoder is missing are skipped and named),
# mkvmerge for the zlib-compressed Matroska inputs, and python3 for the AVI
# files no muxer writes (packed B-frames, frames straddling chunks, stripped
# Huffman tables, OpenDML indexes only). Header stripping has no producer
# left (mkvmerge dropped it); the Matroska tests build such files by hand.
# Usage: scripts/same_outputs.sh BASE     (JOBS=n for the build, default 2)
# Prints one line per input and output, then a summary; exits 1 when any
# output differs.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 BASE" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
root=$(pwd)
rev=$(git rev-parse --verify "$1^{commit}")
tmp=$(mktemp -d)
cleanup() {
  git -C "$root" worktree remove --force "$tmp/base-src" >/dev/null 2>&1 || true
  git -C "$root" worktree prune
  rm -rf "$tmp"
}
trap cleanup EXIT

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build() {  # source dir, build dir
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOREL_TESTS=OFF "${launcher[@]}" >/dev/null
  cmake --build "$2" --target vantorel -j"${JOBS:-2}" >/dev/null
}
echo "building $rev (BASE) and the current tree..."
git worktree add --detach -q "$tmp/base-src" "$rev"
build "$tmp/base-src" "$tmp/base-build"
build "$root" "$tmp/head-build"
base_exe=$tmp/base-build/vantorel
head_exe=$tmp/head-build/vantorel

in=$tmp/in
mkdir -p "$in"
skipped=()
encoders=$(ffmpeg -v error -hide_banner -encoders 2>/dev/null || true)
have_encoder() { grep -q " $1 " <<< "$encoders"; }
make() {  # name, needed encoders ("" for none), ffmpeg arguments...
  local name=$1 needs=$2
  shift 2
  for e in $needs; do
    if ! have_encoder "$e"; then
      skipped+=("$name (no $e)")
      return
    fi
  done
  ffmpeg -nostdin -v error -y "$@" "$in/$name"
}

# AVI files rewritten chunk by chunk: what no muxer writes.
cat > "$tmp/avi_edit.py" <<'PY'
import struct, sys

def chunks(d, start, end):
    p = start
    while p + 8 <= end:
        cid, size = d[p:p + 4], struct.unpack('<I', d[p + 4:p + 8])[0]
        yield cid, p, size
        p += 8 + size + (size & 1)

def read(path):
    d = open(path, 'rb').read()
    hdrl, movi, keys = None, [], []
    for cid, p, size in chunks(d, 12, 8 + struct.unpack('<I', d[4:8])[0]):
        kind = d[p + 8:p + 12]
        if cid == b'LIST' and kind == b'hdrl':
            hdrl = bytearray(d[p:p + 8 + size])
        elif cid == b'LIST' and kind == b'movi':
            movi = [[c, d[q + 8:q + 8 + s]] for c, q, s in chunks(d, p + 12, p + 8 + size) if c[2:4] in (b'dc', b'db', b'wb')]
        elif cid == b'idx1':
            keys = [struct.unpack('<I', d[p + 12 + 16 * i:p + 16 + 16 * i])[0] & 0x10 != 0 for i in range(size // 16)]
    return hdrl, movi, keys

def chunk(cid, payload):
    return cid + struct.pack('<I', len(payload)) + payload + (b'\0' if len(payload) & 1 else b'')

def write(path, hdrl, movi, keys, odml=False):
    body = b''.join(chunk(c, p) for c, p in movi)
    movi_list = b'LIST' + struct.pack('<I', 4 + len(body)) + b'movi' + body
    movi_at = 12 + len(hdrl)
    at, offsets = movi_at + 12, []
    for c, p in movi:
        offsets.append(at)
        at += 8 + len(p) + (len(p) & 1)
    tail = b''
    if not odml:
        tail = chunk(b'idx1', b''.join(c + struct.pack('<III', 0x10 if k else 0, o - movi_at - 8, len(p))
                                       for (c, p), k, o in zip(movi, keys, offsets)))
    else:
        hdrl[32:36] = struct.pack('<I', struct.unpack('<I', hdrl[32:36])[0] & ~0x10)  # avih flags: no 'idx1'
        tail_at = movi_at + len(movi_list)
        strls = [q for c, q, s in chunks(hdrl, 12, len(hdrl)) if c == b'LIST' and hdrl[q + 8:q + 12] == b'strl']
        for n, strl in enumerate(strls):
            sid = b'%02d' % n
            mine = [(c, o, p, k) for (c, p), k, o in zip(movi, keys, offsets) if c[:2] == sid]
            base = min(o for c, o, p, k in mine)
            entries = b''.join(struct.pack('<II', o + 8 - base, len(p) | (0 if k else 0x80000000)) for c, o, p, k in mine)
            ix = chunk(b'ix' + sid, struct.pack('<HBBI4sQI', 2, 0, 1, len(mine), mine[0][0], base, 0) + entries)
            strl_end = strl + 8 + struct.unpack('<I', hdrl[strl + 4:strl + 8])[0]
            junk = [q for c, q, s in chunks(hdrl, strl + 12, strl_end) if c == b'JUNK'][0]
            size = struct.unpack('<I', hdrl[junk + 4:junk + 8])[0]
            indx = struct.pack('<HBBI4s3I', 4, 0, 0, 1, mine[0][0], 0, 0, 0)
            indx += struct.pack('<QII', tail_at + len(tail), len(ix) - 8, len(mine))
            hdrl[junk:junk + 8 + size] = b'indx' + struct.pack('<I', size) + indx + b'\0' * (size - len(indx))
            tail += ix
    riff = b'AVI ' + bytes(hdrl) + movi_list + tail
    open(path, 'wb').write(b'RIFF' + struct.pack('<I', len(riff)) + riff)

def vop_type(b):
    i = b.find(b'\0\0\1\xb6')
    return b[i + 4] >> 6 if i >= 0 and i + 4 < len(b) else -1

def strip_tables(b):
    i = 2
    while i + 4 <= len(b) and b[i] == 0xFF and b[i + 1] != 0xDA:
        n = 2 + (b[i + 2] << 8 | b[i + 3])
        if b[i + 1] == 0xC4:
            b = b[:i] + b[i + n:]
        else:
            i += n
    return b

op, src, dst = sys.argv[1:4]
hdrl, movi, keys = read(src)
if op == 'pack':  # an anchor VOP and the B-VOP after it in one chunk, a not-coded VOP in the next
    video = [i for i, (c, p) in enumerate(movi) if c == b'00dc']
    j = 0
    while j + 1 < len(video):
        a, b = video[j], video[j + 1]
        if vop_type(movi[a][1]) == 1 and vop_type(movi[b][1]) == 2:
            movi[a][1] += movi[b][1]
            movi[b][1] = b'\0\0\1\xb6\x50\x4f'
            keys[a] = keys[b] = False
            j += 2
        else:
            j += 1
elif op == 'nodht':
    movi = [[c, strip_tables(p) if c == b'00dc' else p] for c, p in movi]
elif op == 'straddle':  # the sound re-cut into chunks of 1000 bytes
    sound = b''.join(p for c, p in movi if c == b'01wb')
    keys = [k for (c, p), k in zip(movi, keys) if c != b'01wb']
    movi = [m for m in movi if m[0] != b'01wb']
    for at in range(0, len(sound), 1000):
        movi.append([b'01wb', sound[at:at + 1000]])
        keys.append(True)
write(dst, hdrl, movi, keys, odml=(op == 'odml'))
PY
avi_edit() {  # operation, input, output
  python3 "$tmp/avi_edit.py" "$1" "$in/$2" "$in/$3" || skipped+=("$3 (python3 failed)")
}

echo "making the inputs..."
v25="-f lavfi -i testsrc2=size=160x120:rate=25:duration=3"
v30="-f lavfi -i testsrc2=size=160x120:rate=30000/1001:duration=3"
a44="-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3"
a48="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3"
x264="-c:v libx264 -pix_fmt yuv420p"
x265="-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p"
printf '1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:02,000 --> 00:00:02,800\n<i>world</i>\n' > "$in/subs.srt"
printf 'WEBVTT\n\n00:00.500 --> 00:01.500\nHello\n\n00:02.000 --> 00:02.800\nworld\n' > "$in/subs.vtt"
printf ';FFMETADATA1\ntitle=Same outputs\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Two\n' > "$in/chapters.txt"

# MP4 and QuickTime.
make h264_aac.mp4 "libx264" $v25 $a48 $x264 -bf 0 -c:a aac
make h264_bframes.mp4 "libx264" $v30 $a48 $x264 -bf 2 -g 30 -c:a aac
make chapters.mp4 "libx264" $v25 $a48 -i "$in/chapters.txt" -map 0 -map 1 -map_metadata 2 -map_chapters 2 $x264 -c:a aac
make tx3g.mp4 "libx264" $v25 -i "$in/subs.srt" $x264 -c:s mov_text
make fragments.mp4 "libx264" $v25 $a48 $x264 -c:a aac -movflags frag_keyframe+empty_moov
make pcm.mov "libx264" $v25 $a48 $x264 -c:a pcm_s16le
make mpeg4.mov "" $v25 $a44 -c:v mpeg4 -c:a aac
cp samples/sample.mp4 "$in/sample.mp4"
# AVI.
make mpeg4_mp3.avi "libmp3lame" $v25 $a44 -c:v mpeg4 -vtag XVID -bf 2 -c:a libmp3lame -q:a 4
make mpeg4_plain.avi "libmp3lame" -f lavfi -i testsrc=size=160x120:rate=25:duration=2 $a44 -c:v mpeg4 -bf 1 -g 12 \
  -c:a libmp3lame
[ -f "$in/mpeg4_plain.avi" ] && avi_edit pack mpeg4_plain.avi mpeg4_packed.avi
[ -f "$in/mpeg4_plain.avi" ] && avi_edit straddle mpeg4_plain.avi mp3_straddling.avi
[ -f "$in/mpeg4_mp3.avi" ] && avi_edit odml mpeg4_mp3.avi odml_only.avi
make h264_ac3.avi "libx264" $v25 $a48 $x264 -bf 2 -c:a ac3
make dx50_aac.avi "" $v25 $a48 -c:v mpeg4 -vtag DX50 -c:a aac
make mp2.avi "" $v25 $a48 -c:v mpeg4 -c:a mp2
make mjpeg_pcm16.avi "" $v25 $a48 -c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le
[ -f "$in/mjpeg_pcm16.avi" ] && avi_edit nodht mjpeg_pcm16.avi mjpeg_no_tables.avi
make pcm24.avi "" $v25 $a48 -c:v mpeg4 -c:a pcm_s24le
make pcm32.avi "" $v25 $a48 -c:v mpeg4 -c:a pcm_s32le
make f32.avi "" $v25 $a48 -c:v mpeg4 -c:a pcm_f32le
make pcm8.avi "" $a44 -c:a pcm_u8
make ffv1_adpcm.avi "" $v25 $a48 -c:v ffv1 -c:a adpcm_ima_wav
# Matroska and WebM.
make h264_aac.mkv "libx264" $v30 $a48 $x264 -bf 2 -g 30 -c:a aac
make hevc_opus.mkv "libx265 libopus" $v25 $a48 $x265 -c:a libopus
make vp9_opus.webm "libvpx-vp9 libopus" $v25 $a48 -c:v libvpx-vp9 -deadline realtime -color_primaries bt709 \
  -color_trc bt709 -colorspace bt709 -c:a libopus
make av1_opus.webm "libaom-av1 libopus" $v25 $a48 -c:v libaom-av1 -cpu-used 8 -c:a libopus
make vp8_vorbis.webm "libvpx libvorbis" $v25 $a48 -c:v libvpx -deadline realtime -c:a libvorbis
make mpeg4_mp3_eac3.mkv "libmp3lame" $v25 $a48 $a48 -map 0 -map 1 -map 2 -c:v mpeg4 -c:a:0 libmp3lame -c:a:1 eac3 \
  -metadata:s:a:0 language=eng -metadata:s:a:1 language=ger -disposition:a:1 0
make mjpeg_alac.mkv "" $v25 $a48 -c:v mjpeg -c:a alac
make h264_ac3_flac.mkv "libx264" $v25 $a48 $a48 -map 0 -map 1 -map 2 $x264 -c:a:0 ac3 -c:a:1 flac
make pcm16.mkv "" $a48 -c:a pcm_s16le
make pcm24.mkv "" $a48 -c:a pcm_s24le
make pcmf32.mkv "" $a48 -c:a pcm_f32le
make pcm16be.mkv "" $a48 -c:a pcm_s16be
make subrip.mkv "libx264" $v25 -i "$in/subs.srt" $x264 -c:s srt
make webvtt.mkv "libx264" $v25 -i "$in/subs.vtt" $x264 -c:s webvtt
if command -v mkvmerge >/dev/null && [ -f "$in/subrip.mkv" ] && [ -f "$in/h264_aac.mkv" ]; then
  mkvmerge -q -o "$in/zlib.mkv" --compression 0:zlib --compression 1:zlib "$in/subrip.mkv" ||
    skipped+=("zlib.mkv (mkvmerge failed)")
  mkvmerge -q -o "$in/zlib_av.mkv" --compression 0:zlib --compression 1:zlib "$in/h264_aac.mkv" ||
    skipped+=("zlib_av.mkv (mkvmerge failed)")
else
  skipped+=("zlib.mkv, zlib_av.mkv (no mkvmerge)")
fi

# Both builds remux each input into the same path in turn, so that what they
# print may be compared too.
export SOURCE_DATE_EPOCH=1700000000
inputs=0 compared=0 differ=0
compare() {  # input, output name
  local input=$1 name=$2 out=$tmp/out/$2
  mkdir -p "$tmp/out" "$tmp/base-out"
  local base_status=0 head_status=0
  rm -f "$out"
  "$base_exe" --quiet "$input" "$out" > "$tmp/base.txt" 2>&1 || base_status=$?
  [ -f "$out" ] && mv "$out" "$tmp/base-out/$name"
  "$head_exe" --quiet "$input" "$out" > "$tmp/head.txt" 2>&1 || head_status=$?
  compared=$((compared + 1))
  local verdict=same
  if [ "$base_status" != "$head_status" ] || ! cmp -s "$tmp/base.txt" "$tmp/head.txt"; then
    verdict="DIFFERENT (status $base_status / $head_status)"
  elif [ -f "$out" ] && [ ! -f "$tmp/base-out/$name" ] || [ ! -f "$out" ] && [ -f "$tmp/base-out/$name" ]; then
    verdict="DIFFERENT (one build wrote no output)"
  elif [ -f "$out" ] && ! cmp -s "$out" "$tmp/base-out/$name"; then
    verdict="DIFFERENT ($(cmp "$out" "$tmp/base-out/$name" | head -1 || true))"
  elif [ ! -f "$out" ]; then
    verdict="same (both refused: $(head -c 120 "$tmp/head.txt" | tr '\n' ' '))"
  fi
  case $verdict in DIFF*)
    differ=$((differ + 1))
    # Kept for a look when KEEP is set: both outputs of the input.
    if [ -n "${KEEP:-}" ] && [ -f "$out" ]; then
      mkdir -p "$KEEP"
      cp "$out" "$KEEP/$(basename "$input")-head-$name"
      [ -f "$tmp/base-out/$name" ] && cp "$tmp/base-out/$name" "$KEEP/$(basename "$input")-base-$name"
    fi
    ;;
  esac
  printf '%-26s -> %-10s %s\n' "$(basename "$input")" "$name" "$verdict"
  rm -f "$out" "$tmp/base-out/$name"
}
compare_info() {  # input
  local input=$1 verdict=same
  "$base_exe" --info --json "$input" > "$tmp/base.txt" 2>&1 || true
  "$head_exe" --info --json "$input" > "$tmp/head.txt" 2>&1 || true
  compared=$((compared + 1))
  if ! cmp -s "$tmp/base.txt" "$tmp/head.txt"; then
    verdict=DIFFERENT
    differ=$((differ + 1))
  fi
  printf '%-26s -> %-10s %s\n' "$(basename "$input")" "--info" "$verdict"
}

echo
for input in "$in"/*.mp4 "$in"/*.mov "$in"/*.avi "$in"/*.mkv "$in"/*.webm; do
  [ -f "$input" ] || continue
  inputs=$((inputs + 1))
  compare "$input" out.mp4
  case $(basename "$input") in
    *.mov | pcm* | f32* | mjpeg* | chapters* | tx3g* | subrip* | webvtt*) compare "$input" out.mov ;;
  esac
  compare_info "$input"
done
echo
for s in "${skipped[@]+"${skipped[@]}"}"; do echo "skipped: $s"; done
echo "$inputs inputs, $compared comparisons: $((compared - differ)) the same, $differ different"
[ "$differ" -eq 0 ]
