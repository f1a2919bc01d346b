#pragma once
// What an elementary stream of a program map is: one table with a row per
// kind, matched from its stream_type, its registration descriptor and, for
// private data, the descriptors that name it.
#include <cstdint>

#include "import/mpegts/ts_psi.h"
#include "io/fourcc.h"

namespace vantorel {

enum class TsKind : uint8_t {
  Unknown,
  Mpeg1Video,
  Mpeg2Video,
  Mpeg4Video,
  H264,
  Hevc,
  Vc1,
  MpegAudio,
  AacAdts,
  AacLatm,
  Ac3,
  Eac3,
  Dts,
  DtsExpress,
  TrueHd,
  Lpcm,
  Opus,
  Aes3,
  DvbSubtitle,
  Teletext,
  Vbi,
  Pgs,
  HdmvInteractive,
  HdmvText,
  Scte35,
  Metadata,
  Sections,
  PrivateData,
  // Program-stream forms, named by their private stream 1 sub-stream ids.
  DvdLpcm,
  DvdSubpicture,
};

enum class TsMedia : uint8_t { Video, Audio, Subtitle, Data };

// What the import does with a kind.
enum class TsDisposition : uint8_t {
  Carried,  // becomes a track
  NotYet,   // will become a track; for now left out with its reason
  LeftOut,  // MP4 gets no track of it; a warning names it
  Skipped,  // not media: passed over without a warning
  Probe,    // private data that no descriptor names (Blu-ray muxers write AAC so): what it is
            // can only be told from its first units' bytes
};

// Where a stream type means this kind: Blu-ray ('HDMV') streams give the
// types from 0x80 on meanings of their own.
enum TsContext : uint8_t { kTsAnyContext = 0, kTsHdmvOnly = 1, kTsOutsideHdmv = 2 };

struct TsTypeMatch {
  uint8_t stream_type;  // 0 ends the list (0 is a reserved stream type)
  uint8_t context;      // TsContext
};

struct TsStreamClass {
  TsKind kind;
  const char* name;  // for messages: "H.264", "DVB subtitles"
  TsMedia media;
  TsDisposition disposition;
  TsTypeMatch types[4];
  FourCC registrations[3];  // format identifiers that name the kind on any stream type
  uint8_t tags[2];          // descriptor tags that name it on private data (stream type 0x06); 0 ends
  const char* reason;       // why it is not carried; null when it is
};

constexpr uint8_t kTsPrivateData = 0x06;

// The row that describes a stream. In order: a registration descriptor
// that names a kind; on private data, a descriptor that names one; the
// stream type in its context. Never null: unknown streams get the Unknown row.
const TsStreamClass* ts_classify(uint8_t stream_type, const TsDescriptors& descriptors, bool hdmv);

// The row of a kind.
const TsStreamClass* ts_stream_class(TsKind kind);

// Whether a program's descriptors (or a stream's) mark Blu-ray streams.
bool ts_is_hdmv_registration(FourCC registration);

}  // namespace vantorel
