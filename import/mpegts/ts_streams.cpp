#include "import/mpegts/ts_streams.h"

namespace vantorel {

namespace {

using D = TsDisposition;
using M = TsMedia;
constexpr uint8_t H = kTsHdmvOnly;
constexpr uint8_t O = kTsOutsideHdmv;
constexpr uint8_t A = kTsAnyContext;
constexpr FourCC F(const char* s) { return FourCC::of(s); }

// Stream types from the systems standard, ATSC, DVB and the Blu-ray
// formats. Rows are kinds; the order of the rows is the order in which a
// registration or descriptor is looked up.
const TsStreamClass kClasses[] = {
    {TsKind::Unknown, "unknown stream", M::Data, D::LeftOut, {}, {}, {}, "its stream type is not known"},
    {TsKind::Mpeg1Video, "MPEG-1 video", M::Video, D::Carried, {{0x01, A}}, {}, {}, nullptr},
    {TsKind::Mpeg2Video, "MPEG-2 video", M::Video, D::Carried, {{0x02, A}}, {}, {}, nullptr},
    {TsKind::Mpeg4Video, "MPEG-4 Part 2 video", M::Video, D::LeftOut, {{0x10, A}}, {}, {},
     "MPEG-4 Part 2 video is not read from transport streams"},
    {TsKind::H264, "H.264", M::Video, D::Carried, {{0x1B, A}}, {}, {}, nullptr},
    {TsKind::Hevc, "HEVC", M::Video, D::Carried, {{0x24, A}}, {F("HEVC")}, {}, nullptr},
    {TsKind::Vc1, "VC-1", M::Video, D::Carried, {{0xEA, A}}, {F("VC-1")}, {}, nullptr},
    {TsKind::MpegAudio, "MPEG audio", M::Audio, D::Carried, {{0x03, A}, {0x04, A}}, {}, {}, nullptr},
    {TsKind::AacAdts, "AAC (ADTS)", M::Audio, D::Carried, {{0x0F, A}}, {}, {}, nullptr},
    {TsKind::AacLatm, "AAC (LATM)", M::Audio, D::Carried, {{0x11, A}}, {}, {}, nullptr},
    {TsKind::Ac3, "AC-3", M::Audio, D::Carried, {{0x81, A}}, {F("AC-3")}, {kTsDescAc3}, nullptr},
    // Blu-ray secondary audio (0xA1) is E-AC-3 as the primary is.
    {TsKind::Eac3, "E-AC-3", M::Audio, D::Carried, {{0x87, O}, {0x84, H}, {0xA1, H}}, {F("EAC3")}, {kTsDescEac3},
     nullptr},
    {TsKind::Dts, "DTS", M::Audio, D::Carried, {{0x82, A}, {0x85, H}, {0x86, H}},
     {F("DTS1"), F("DTS2"), F("DTS3")}, {kTsDescDts}, nullptr},
    {TsKind::DtsExpress, "DTS Express", M::Audio, D::LeftOut, {{0xA2, H}}, {}, {},
     "DTS Express is a DTS-HD substream without a core, which a core 'dtsc' entry cannot describe"},
    {TsKind::TrueHd, "TrueHD", M::Audio, D::Carried, {{0x83, H}}, {}, {}, nullptr},
    {TsKind::Lpcm, "Blu-ray LPCM", M::Audio, D::Carried, {{0x80, H}}, {}, {}, nullptr},
    {TsKind::Opus, "Opus", M::Audio, D::Carried, {}, {F("Opus")}, {}, nullptr},
    {TsKind::Aes3, "AES3 audio", M::Audio, D::LeftOut, {}, {F("BSSD")}, {},
     "AES3 (SMPTE 302M) audio is not read from transport streams"},
    {TsKind::DvbSubtitle, "DVB subtitles", M::Subtitle, D::LeftOut, {}, {}, {kTsDescSubtitling},
     "DVB subtitles are bitmaps MP4 has no place for"},
    {TsKind::Teletext, "teletext", M::Subtitle, D::LeftOut, {}, {}, {kTsDescTeletext, kTsDescVbiTeletext},
     "teletext is not carried into MP4"},
    {TsKind::Vbi, "VBI data", M::Data, D::LeftOut, {}, {}, {kTsDescVbiData}, "VBI data is not carried into MP4"},
    {TsKind::Pgs, "Blu-ray subtitles (PGS)", M::Subtitle, D::LeftOut, {{0x90, H}}, {}, {},
     "PGS subtitles are bitmaps MP4 has no place for"},
    {TsKind::HdmvInteractive, "Blu-ray menus", M::Data, D::LeftOut, {{0x91, H}}, {}, {},
     "Blu-ray interactive graphics are not carried into MP4"},
    {TsKind::HdmvText, "Blu-ray text subtitles", M::Subtitle, D::LeftOut, {{0x92, H}}, {}, {},
     "Blu-ray text subtitles are not imported"},
    {TsKind::Scte35, "SCTE-35 cues", M::Data, D::Skipped, {{0x86, O}}, {F("CUEI")}, {}, "splice cues are not media"},
    {TsKind::Metadata, "timed metadata", M::Data, D::Skipped, {{0x15, A}}, {F("ID3 "), F("KLVA")}, {},
     "timed metadata is not carried"},
    {TsKind::Sections, "private sections", M::Data, D::Skipped, {{0x05, A}, {0x0B, A}, {0x0C, A}, {0x0D, A}}, {}, {},
     "table sections are not media"},
    {TsKind::PrivateData, "private data", M::Data, D::Probe, {{kTsPrivateData, A}}, {}, {},
     "private data that no descriptor names"},
    {TsKind::DvdLpcm, "DVD LPCM", M::Audio, D::Carried, {}, {}, {}, nullptr},
    {TsKind::DvdSubpicture, "DVD subpictures", M::Subtitle, D::LeftOut, {}, {}, {},
     "DVD subpictures are bitmaps whose palette lives in the disc's IFO files"},
};

bool context_fits(uint8_t context, bool hdmv) {
  return context == kTsAnyContext || (context == kTsHdmvOnly) == hdmv;
}

}  // namespace

const TsStreamClass* ts_stream_class(TsKind kind) {
  for (const TsStreamClass& c : kClasses)
    if (c.kind == kind) return &c;
  return &kClasses[0];
}

bool ts_is_hdmv_registration(FourCC registration) { return registration == "HDMV" || registration == "HDPR"; }

const TsStreamClass* ts_classify(uint8_t stream_type, const TsDescriptors& d, bool hdmv) {
  if (!d.registration.is_zero()) {
    for (const TsStreamClass& c : kClasses)
      for (const FourCC& r : c.registrations)
        if (!r.is_zero() && r == d.registration) return &c;
  }
  if (stream_type == kTsPrivateData) {
    for (const TsStreamClass& c : kClasses)
      for (uint8_t tag : c.tags)
        if (tag != 0 && ts_has_tag(d, tag)) return &c;
  }
  for (const TsStreamClass& c : kClasses)
    for (const TsTypeMatch& t : c.types) {
      if (t.stream_type == 0) break;
      if (t.stream_type == stream_type && context_fits(t.context, hdmv)) return &c;
    }
  return &kClasses[0];
}

}  // namespace vantorel
