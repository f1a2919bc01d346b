#pragma once
// Access units of the carried streams, found during the first pass: the
// handler of ts_index_build splits each stream's units into frames (audio)
// or gathers them into pictures (video), and keeps per access unit a
// locator of its elementary-stream bytes, its times and its size as the MP4
// sample holds it. The codec configuration comes from the first frames.
#include <cstdint>

#include "boxes/owned_block.h"
#include "codecs/h264.h"
#include "codecs/latm.h"
#include "codecs/vc1.h"
#include "import/mpegts/ts_hevc.h"
#include "import/mpegts/ts_index.h"
#include "import/mpegts/ts_nal_layout.h"
#include "import/mpegts/ts_time.h"

namespace vantorel {

enum : uint8_t {
  kTsAuSync = 1u << 0,           // decoding may start here
  kTsAuBroken = 1u << 1,         // bytes were lost inside it: dropped
  kTsAuDiscontinuity = 1u << 2,  // a discontinuity indicator came before it
  kTsAuOpenAtEnd = 1u << 3,      // the end of the file ended it
  kTsAuLeading = 1u << 4,        // a picture that references pictures before the sync sample it follows
  kTsAuSplice = 1u << 5,         // a sync sample whose leading pictures cannot be decoded (HEVC BLA)
  kTsAuLaidOut = 1u << 6,        // H.264: its layout is the next in the stream's `layouts`
};

// One access unit: 48 bytes while the file is indexed.
struct TsAccessUnit {
  EsLocator where;  // its elementary-stream bytes, before any conversion
  int64_t dts;      // 90 kHz, unwrapped on the program's line
  int64_t pts;
  uint32_t size;     // bytes of the MP4 sample
  uint32_t samples;  // audio: samples per channel; 0 for video
  uint8_t flags;     // kTsAu*
  uint8_t description;  // H.264 and HEVC: index of the parameter sets it is read by; VC-1: of its headers
  uint16_t roll;        // H.264, HEVC: a recovery point's frame count (not a sync sample), 0 for none
  uint16_t order;       // MPEG-1/2 video: temporal_reference; kTsAuGopStart when a GOP header leads it
  // H.264 and HEVC: how many of its description's sets there were when it
  // was measured; it is read back against those (ts_nal_config_holds).
  uint16_t sets_held;
};
constexpr uint16_t kTsAuGopStart = 0x8000;

// One stream being split. Its record lives as long as the import.
struct TsStreamAccess {
  uint32_t pid_index;
  // Its stream in TsIndex::streams (UINT32_MAX: none): units that begin
  // after a PMT version drops it are not its own.
  uint32_t listing;
  // TrueHD: the AC-3 core interleaved on its PID, split as a stream of its own.
  TsStreamAccess* core;
  TsKind kind;
  bool probed;  // private data whose kind its first bytes told
  GrowArray<TsAccessUnit> units;
  const char* failure;  // why it cannot be carried, or null
  // Configuration from the first frame: its header bytes.
  uint8_t first_frame[64];
  uint32_t first_frame_size;
  uint32_t rate;  // audio sample rate of the first frame
  // E-AC-3: the frames of the first access unit (its independent and
  // dependent substreams), which 'dec3' describes.
  GrowArray<uint8_t> first_unit;
  // Opus: samples of the first packet and of the last that are not played.
  uint32_t start_trim;
  uint32_t end_trim;
  // PCM: the samples as the reader hands them out (big-endian, 16 or 24 bits).
  uint16_t pcm_channels;
  uint16_t pcm_bits;
  TsNalConfigs* configs;      // H.264 and HEVC: each description's parameter sets
  GrowArray<uint8_t> layouts;  // H.264: the layouts of the pictures marked kTsAuLaidOut, in order
  H264ParameterSets* parsed;  // H.264: what slice headers are read by
  LatmConfig* latm;           // AAC in LATM: the stream's configuration
  // MPEG-1/2 video: the first sequence header with its extensions, and the
  // temporal reference of the last I picture (leading B pictures come before it).
  OwnedBlock sequence_headers;
  uint32_t last_i_reference;
  bool seen_i;
  // VC-1: what the stream showed ('dvc1' tells it; `sequence_headers` holds
  // the first sequence header and entry point), the interlace flag frames
  // are read by, an entry point that came in a unit of its own (the next
  // frame follows it), and B frames after an open entry point's I frame
  // that reference the frames before it (until the next P frame).
  Vc1StreamFacts vc1;
  OwnedBlock vc1_sequence;  // the last whole sequence header, until the entry point after it
  // A later sequence header that differs from the one in use starts a
  // sample description: each one's header block, as `sequence_headers`
  // holds the first's. Units are read by the last one (`description`).
  GrowArray<OwnedBlock> vc1_later;
  bool vc1_interlace;
  bool vc1_entry_pending;
  bool vc1_entry_closed;
  bool vc1_leading;
  // Program streams: the picture being split off `pending`.
  uint32_t head;        // where its first start code is; UINT32_MAX before one
  uint32_t picture_at;  // where its picture header is; UINT32_MAX before one
  uint32_t scan_at;     // where the search for start codes goes on
  bool slices_seen;
  // Bytes not yet split: a picture being gathered, or audio bytes that do
  // not yet make a whole frame, with where each unit's part of them begins.
  GrowArray<uint8_t> pending;
  struct Part {
    uint32_t at;       // in `pending`
    uint64_t offset;   // the unit's first packet
    uint32_t skip;     // of the unit's payload, where its part begins
    int64_t pts;       // the unit's presentation time; INT64_MIN when it has none
    int64_t dts;
    uint8_t flags;     // kTsAuDiscontinuity, kTsAuOpenAtEnd
  };
  GrowArray<Part> parts;
  uint32_t next_unit;  // the unit number expected next on the PID
  bool started;
  TsUnwrap unwrap;
  int64_t last_pts;     // audio: of the last frame, for frames without their own
  uint32_t last_samples;
  uint64_t resyncs;     // audio bytes passed over to find a frame
};

// The state of the handler for one pass.
struct TsAccessPass {
  TsStreamAccess* streams[kTsMaxStreams];
  uint32_t count;
  int64_t anchor;  // the first timestamp of the file: every line is unwrapped near it
  bool anchored;
  uint32_t max_units;  // no stream keeps more access units than the file has packets
  // Program streams: packets cut MPEG video anywhere, so pictures are split
  // at their start codes; a timestamp belongs to the first picture whose
  // header starts in its packet, and pictures without one get times from
  // their temporal references and neighbours.
  bool split_pictures;
};

// The handler ts_index_build calls for each finished unit; `user` is a
// TsAccessPass.
ErrorCode ts_access_on_unit(void* user, const TsUnitEvent* event);
// PCM streams, whose frames the layer that reads their units counts: the
// stream's record (made on first use; null with Ok when no more fit), and
// one access unit of `frames` frames at `where`, `size` bytes as the sample
// holds them, at the time of unit `r` (or following the unit before).
ErrorCode ts_access_pcm_stream(TsAccessPass* pass, uint32_t pid_index, TsKind kind, TsStreamAccess** out);
ErrorCode ts_access_add_pcm(TsAccessPass* pass, TsStreamAccess* s, const PesRecord& r, const EsLocator& where,
                            uint32_t frames, uint32_t size);
// Splits what the end of the file left pending.
ErrorCode ts_access_finish(TsAccessPass* pass, const TsIndex* index);
// The stream record of a PID, or null.
TsStreamAccess* ts_access_of(TsAccessPass* pass, uint32_t pid_index);
void ts_access_release(TsAccessPass* pass);

}  // namespace vantorel
