#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "boxes/hdlr.h"
#include "sampletables/sound_format.h"
#include "sampletables/stsd.h"
#include "boxes/tree_helpers.h"
#include "mediafile/box_registry.h"
#include "stsd_support.h"

namespace vantorel {
namespace {

using namespace test;

Bytes write_stsd(TrackBoxes* track, uint32_t flags = 0, ErrorCode expect = ErrorCode::Ok) {
  MemoryFile sizing({}, kOpenCreate);
  sizing->flags = flags;
  return write_one("stsd", stsd_size(sizing.get(), track), stsd_write, track, flags, expect);
}

void load(MemoryFile& f, TrackBoxes** out) {
  *out = nullptr;
  ASSERT_EQ(read_tree(f), ErrorCode::Ok);
  *out = first_track(f);
  ASSERT_NE(*out, nullptr);
  ASSERT_NE(track_record<SampleDescriptionTable>(*out, BoxTypeId::Stsd), nullptr);
}

SampleDescriptionTable* table(TrackBoxes* t) { return track_record<SampleDescriptionTable>(t, BoxTypeId::Stsd); }

Bytes compressor(const std::string& name) {
  Bytes b = cat({u8(static_cast<uint8_t>(name.size())), text(name)});
  b.resize(32, 0);
  return b;
}

// The 78 fixed bytes of a visual entry.
Bytes visual_fixed(uint16_t width, uint16_t height, const std::string& name = "") {
  return cat({zeros(6), u16(1), u16(0), u16(0), u32(0), u32(0), u32(0), u16(width), u16(height), u32(0x00480000),
              u32(0x00480000), u32(0), u16(1), compressor(name), u16(0x18), u16(0xFFFF)});
}

// The 28 fixed bytes of a sound entry.
Bytes sound_fixed(uint16_t version, uint16_t channels, uint16_t bits, uint32_t rate, uint16_t compression = 0) {
  return cat({zeros(6), u16(1), u16(version), u16(0), u32(0), u16(channels), u16(bits), u16(compression), u16(0),
              u32(rate)});
}

Bytes generic_fixed() { return cat({zeros(6), u16(1)}); }

const uint8_t kExtUuid[16] = {0x6b, 0x68, 0x40, 0xf2, 0x5f, 0x24, 0x4f, 0xc5,
                              0xba, 0x39, 0xa5, 0x1b, 0xcf, 0x03, 0x23, 0xf3};

const char* const kAacEsdsLong =
    "00000000 03 80808022 0002 00 04 80808014 40 15 001800 0001f400 0001f39e 05 80808002 1210 06 80808001 02";
const char* const kAacEsds = "00000000 03 19 0002 00 04 11 40 15 001800 0001f400 0001f39e 05 02 1210 06 01 02";
const char* const kHighAvcc =
    "01 64 00 0a ff e1 0018 6764000aacd942c4ec0840000003004000000503c4896580 01 0006 68ebe3cb22c0 fdf8f800";

Bytes v2_structure(uint64_t rate_bits, uint32_t channels) {
  return cat({u32(72), u64(rate_bits), u32(channels), u32(0x7F000000), u32(16), u32(0x0C), u32(12), u32(1)});
}

// ---- Entries read and written back unchanged --------------------------------------------

struct RoundTrip {
  const char* name;
  const char* handler;
  Bytes entries;
  uint32_t count;
  uint32_t flags;
};

TEST(Stsd, EntriesRoundTripByteForByte) {
  const RoundTrip cases[] = {
      {"avc1 with High-profile avcC and btrt", "vide",
       box("avc1", cat({visual_fixed(176, 144, "AVC Coding"), box("avcC", hex(kHighAvcc)),
                        box("btrt", hex("00000000 000084c0 000084c0"))})),
       1, 0},
      {"two avc1 entries", "vide",
       cat({box("avc1", cat({visual_fixed(16, 16), box("avcC", hex(kHighAvcc))})),
            box("avc1", cat({visual_fixed(32, 32), box("avcC", hex(kHighAvcc))}))}),
       2, 0},
      {"s263 with uuid, btrt, d263 and fiel", "vide",
       box("s263", cat({visual_fixed(176, 144), uuid_box(kExtUuid, hex("00000001")),
                        box("btrt", hex("00000100 00000200 00000300")), box("d263", hex("6d346176 01 0a 00")),
                        box("fiel", hex("02 0e"))})),
       1, 0},
      {"vc-1 advanced", "vide",
       box("vc-1", cat({visual_fixed(640, 480), box("dvc1", hex("c6 b02a 00000019 0000010f1122 33"))})), 1, 0},
      {"mp4v with esds", "vide",
       box("mp4v", cat({visual_fixed(176, 144),
                        box("esds", hex("00000000 03 19 0001 00 04 11 20 11 000000 00000000 00000000 05 02 0001 06 01 02"))})),
       1, 0},
      {"mp4a with 4-byte descriptor lengths", "soun",
       box("mp4a", cat({sound_fixed(0, 2, 16, 44100u << 16), box("esds", hex(kAacEsdsLong))})), 1,
       kFlagLongDescriptorLengths},
      {"QuickTime version 1 sound", "soun",
       box("mp4a", cat({sound_fixed(1, 2, 16, 48000u << 16, 0xFFFE), u32(1024), u32(0), u32(2), u32(2),
                        box("esds", hex(kAacEsds))})),
       1, 0},
      {"QuickTime version 2 sound", "soun",
       box("mp4a", cat({sound_fixed(2, 3, 16, 0x00010000, 0xFFFE), v2_structure(0x40F7700000000000ull, 6),
                        box("esds", hex(kAacEsds))})),
       1, 0},
      {"samr with damr", "soun", box("samr", cat({sound_fixed(0, 1, 16, 8000u << 16), box("damr", hex("46464d50 00 81ff 00 01"))})), 1, 0},
      {"sawp with dawp", "soun", box("sawp", cat({sound_fixed(0, 1, 16, 16000u << 16), box("dawp", hex("46464d50 02"))})), 1, 0},
      {"ac-3 with dac3", "soun", box("ac-3", cat({sound_fixed(0, 2, 16, 48000u << 16), box("dac3", hex("101140"))})), 1, 0},
      {"sac3 with the short dac3", "soun", box("sac3", cat({sound_fixed(0, 2, 16, 48000u << 16), box("dac3", hex("0108"))})), 1, 0},
      {"ec-3 with five substreams", "soun",
       box("ec-3", cat({sound_fixed(0, 2, 16, 48000u << 16), box("dec3", hex("1f44 200f00 61a403ab 2004a1 20041eff 200400 0110"))})),
       1, 0},
      {"generic mp4s with esds", "subp",
       box("mp4s", cat({generic_fixed(), box("esds", hex("00000000 03 15 0001 00 04 0d e0 e1 000000 00000000 00000000 06 01 02"))})),
       1, 0},
      {"hint entry kept as it was", "hint", box("rtp ", cat({generic_fixed(), hex("0001 0001 00000578"), box("tims", u32(90000))})), 1, 0},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes payload = stsd_payload(c.count, c.entries);
    MemoryFile f(track_file(c.handler, payload));
    TrackBoxes* t = nullptr;
    load(f, &t);
    ASSERT_EQ(table(t)->entry_count, c.count);
    EXPECT_EQ(write_stsd(t, c.flags), box("stsd", payload));
  }
}

// ---- What is kept in memory ------------------------------------------------------------

TEST(Stsd, VisualEntryFieldsAndOpaqueBlock) {
  Bytes pasp = box("pasp", hex("00000001 00000001"));
  Bytes fixed = visual_fixed(176, 144, "Lavc jpeg");
  Bytes entry = box("jpeg", cat({fixed, pasp}));
  MemoryFile f(track_file("vide", stsd_payload(1, entry)));
  TrackBoxes* t = nullptr;
  load(f, &t);
  VisualSampleEntry* v = visual_entry(f.get(), t, 0);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->format == "jpeg");
  EXPECT_EQ(v->width, 176);
  EXPECT_EQ(v->height, 144);
  EXPECT_EQ(v->compressorname[0], 9);
  EXPECT_EQ(v->depth, 24);
  EXPECT_EQ(v->color_table_id, -1);
  // Nothing configured it: the unknown child is kept beside the fields, and
  // a rebuilt entry leaves it out; the entry as read is kept whole, 'pasp'
  // and all, for a track carried as it is.
  ASSERT_EQ(v->opaque.length, pasp.size());
  EXPECT_EQ(Bytes(v->opaque.bytes, v->opaque.bytes + v->opaque.length), pasp);
  EXPECT_EQ(write_stsd(t), box("stsd", stsd_payload(1, box("jpeg", fixed))));
  EXPECT_EQ(Bytes(table(t)->whole_entries.bytes, table(t)->whole_entries.bytes + table(t)->whole_entries.length),
            entry);

  // A configuring child means no opaque block, even with unknown children.
  Bytes configured = box("jpeg", cat({fixed, pasp, box("fiel", hex("0100"))}));
  MemoryFile g(track_file("vide", stsd_payload(1, configured)));
  load(g, &t);
  v = visual_entry(g.get(), t, 0);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(v->fiel, nullptr);
  EXPECT_EQ(v->fiel->field_count, 1);
  EXPECT_EQ(v->opaque.length, 0u);
  // btrt and the uuid box do not configure an entry.
  Bytes bitrate_only = box("jpeg", cat({fixed, box("btrt", zeros(12))}));
  MemoryFile h(track_file("vide", stsd_payload(1, bitrate_only)));
  load(h, &t);
  v = visual_entry(h.get(), t, 0);
  ASSERT_NE(v, nullptr);
  EXPECT_NE(v->btrt, nullptr);
  EXPECT_EQ(v->opaque.length, 20u);
}

TEST(Stsd, SoundVersionsKeepTheirFields) {
  Bytes v1 = box("twos", cat({sound_fixed(1, 2, 16, 22050u << 16), u32(1), u32(2), u32(4), u32(2), box("chan", zeros(12))}));
  MemoryFile f(track_file("soun", stsd_payload(1, v1)));
  TrackBoxes* t = nullptr;
  load(f, &t);
  SoundSampleEntry* s = sound_entry(f.get(), t, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->version, 1);
  EXPECT_EQ(s->samples_per_packet, 1u);
  EXPECT_EQ(s->bytes_per_packet, 2u);
  EXPECT_EQ(s->bytes_per_frame, 4u);
  EXPECT_EQ(s->bytes_per_sample, 2u);
  EXPECT_EQ(s->sample_rate, 22050u << 16);
  EXPECT_EQ(s->opaque.length, 20u);  // the 'chan' box, after the version 1 fields
  EXPECT_EQ(Bytes(table(t)->whole_entries.bytes, table(t)->whole_entries.bytes + table(t)->whole_entries.length),
            v1);  // kept whole, 'chan' and all
  SoundFormatInfo info;
  ASSERT_EQ(sound_format_of(t, &info), ErrorCode::Ok);
  EXPECT_TRUE(info.format == "twos");
  EXPECT_EQ(info.version, 1);
  EXPECT_EQ(info.channel_count, 2);
  EXPECT_EQ(info.samples_per_packet, 1u);
  EXPECT_EQ(info.bytes_per_frame, 4u);
  // The version 1 fields are written back with the entry.
  EXPECT_EQ(write_stsd(t), box("stsd", stsd_payload(1, box("twos", cat({sound_fixed(1, 2, 16, 22050u << 16), u32(1),
                                                                          u32(2), u32(4), u32(2)})))));

  struct Rate {
    uint64_t bits;
    uint32_t hz;
  };
  const Rate rates[] = {{0x40F7700000000000ull, 96000},  // 96000.0
                        {0x40E5889000000000ull, 44100},  // 44100.5 truncates
                        {0x3FE0000000000000ull, 0},      // 0.5
                        {0x41F0000000000000ull, 0},      // 2^32
                        {0x7FF8000000000000ull, 0}};     // NaN
  for (const Rate& r : rates) {
    SCOPED_TRACE(r.hz);
    Bytes v2 = box("lpcm", cat({sound_fixed(2, 3, 16, 0x00010000, 0xFFFE), v2_structure(r.bits, 6), box("chan", zeros(12))}));
    MemoryFile g(track_file("soun", stsd_payload(1, v2)));
    load(g, &t);
    s = sound_entry(g.get(), t, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->sample_rate, r.hz);
    EXPECT_EQ(s->channel_count, 6);
    EXPECT_EQ(s->v2_fields.length, 36u);
    EXPECT_EQ(s->opaque.length, 20u);  // after the structure, not after the version 0 fields
  }
}

TEST(Stsd, WaveAtomIsEnteredAndTheFirstConfigurationWins) {
  Bytes wave = box("wave", cat({box("frma", text("mp4a")), box("mp4a", zeros(4)), box("esds", hex(kAacEsds)),
                                Bytes{0, 0, 0, 8, 0, 0, 0, 0}}));
  Bytes other_esds = hex("00000000 03 15 0009 00 04 0d 6b 15 000000 00000000 00000000 06 01 02");
  Bytes entry = box("mp4a", cat({sound_fixed(1, 2, 16, 44100u << 16, 0xFFFE), u32(1024), u32(0), u32(2), u32(2), wave,
                                 box("esds", other_esds)}));
  MemoryFile f(track_file("soun", stsd_payload(1, entry)));
  TrackBoxes* t = nullptr;
  load(f, &t);  // a duplicate esds does not end the reading
  EsDescriptorRecord* esds = entry_esds(f.get(), t, 0);
  ASSERT_NE(esds, nullptr);
  EXPECT_EQ(esds->ES_ID, 2);  // the one inside 'wave', which came first
  EXPECT_EQ(esds->objectTypeIndication, 0x40);
  ASSERT_EQ(esds->decoder_info.length, 2u);
  EXPECT_EQ(sound_entry(f.get(), t, 0)->opaque.length, 0u);
  // Written without the 'wave': its esds becomes the entry's own.
  EXPECT_EQ(write_stsd(t), box("stsd", stsd_payload(1, box("mp4a", cat({sound_fixed(1, 2, 16, 44100u << 16, 0xFFFE),
                                                                          u32(1024), u32(0), u32(2), u32(2),
                                                                          box("esds", hex(kAacEsds))})))));

  // A second btrt in a visual entry is skipped too.
  Bytes visual = box("avc1", cat({visual_fixed(8, 8), box("avcC", hex(kHighAvcc)), box("btrt", hex("00000001 00000002 00000003")),
                                  box("btrt", hex("00000009 00000009 00000009"))}));
  MemoryFile g(track_file("vide", stsd_payload(1, visual)));
  load(g, &t);
  ASSERT_NE(visual_entry(g.get(), t, 0)->btrt, nullptr);
  EXPECT_EQ(visual_entry(g.get(), t, 0)->btrt->avgBitrate, 3u);
}

TEST(Stsd, CodecDataOfMsFormatsBecomesDecoderInfoOfEveryEntry) {
  const std::string ms_ima("ms\0\x11", 4);
  auto ms_entry = [&](const Bytes& data, bool in_wave) {
    Bytes child = box(ms_ima, data);
    return box(ms_ima, cat({sound_fixed(0, 1, 4, 8000u << 16), in_wave ? box("wave", child) : child}));
  };
  Bytes entries = cat({ms_entry(hex("0102"), false), ms_entry(hex("030405"), false), ms_entry(hex("06"), true)});
  MemoryFile f(track_file("soun", stsd_payload(3, entries)));
  TrackBoxes* t = nullptr;
  load(f, &t);
  const Bytes expect[] = {hex("0102"), hex("030405"), hex("06")};
  for (uint32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EsDescriptorRecord* esds = entry_esds(f.get(), t, i);
    ASSERT_NE(esds, nullptr);
    EXPECT_EQ(Bytes(esds->decoder_info.bytes, esds->decoder_info.bytes + esds->decoder_info.length), expect[i]);
    EXPECT_EQ(sound_entry(f.get(), t, i)->opaque.length, 0u);
  }
  // ".mp3" works the same way; an "ms" entry without codec data keeps no opaque block.
  Bytes mp3 = box(".mp3", cat({sound_fixed(0, 2, 16, 44100u << 16), box(".mp3", hex("aabb")), box("chan", zeros(4))}));
  Bytes bare = box(ms_ima, cat({sound_fixed(0, 1, 4, 8000u << 16), box("chan", zeros(4))}));
  MemoryFile g(track_file("soun", stsd_payload(1, mp3)));
  load(g, &t);
  ASSERT_NE(entry_esds(g.get(), t, 0), nullptr);
  EXPECT_EQ(entry_esds(g.get(), t, 0)->decoder_info.length, 2u);
  MemoryFile h(track_file("soun", stsd_payload(1, bare)));
  load(h, &t);
  EXPECT_EQ(entry_esds(h.get(), t, 0), nullptr);
  EXPECT_EQ(sound_entry(h.get(), t, 0)->opaque.length, 0u);
}

TEST(Stsd, PresenceBoxesAreRecordedNotWritten) {
  Bytes fixed = sound_fixed(0, 1, 16, 8000u << 16);
  Bytes entry = box("sevc", cat({fixed, box("devc", zeros(9)), box("dqcp", zeros(2)), box("dsmv", {})}));
  MemoryFile f(track_file("soun", stsd_payload(1, entry)));
  TrackBoxes* t = nullptr;
  load(f, &t);
  SoundSampleEntry* s = sound_entry(f.get(), t, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(s->devc, nullptr);
  EXPECT_NE(s->dqcp, nullptr);
  EXPECT_NE(s->dsmv, nullptr);
  EXPECT_EQ(s->opaque.length, 35u);  // they do not configure the entry
  EXPECT_EQ(write_stsd(t), box("stsd", stsd_payload(1, box("sevc", fixed))));
}

TEST(Stsd, TrackWithoutHandlerKindTakesTheLayoutFromItsFirstEntry) {
  Bytes sound = box("ac-3", cat({sound_fixed(0, 2, 16, 48000u << 16), box("dac3", hex("101140"))}));
  MemoryFile f(track_file("zzzz", stsd_payload(1, sound)));
  TrackBoxes* t = nullptr;
  load(f, &t);
  EXPECT_EQ(handler_kind_of(t), kHandlerUnknown);
  ASSERT_NE(sound_entry(f.get(), t, 0), nullptr);
  EXPECT_NE(sound_entry(f.get(), t, 0)->dac3, nullptr);

  // Every format the remux carries is known here too.
  MemoryFile j(track_file("zzzz", stsd_payload(1, box("jpeg", visual_fixed(8, 8)))));
  load(j, &t);
  ASSERT_NE(visual_entry(j.get(), t, 0), nullptr);
  EXPECT_EQ(visual_entry(j.get(), t, 0)->width, 8u);

  Bytes unknown = box("qqqq", visual_fixed(8, 8));
  MemoryFile g(track_file("zzzz", stsd_payload(1, unknown)));
  load(g, &t);
  EXPECT_EQ(table(t)->entry_count, 0u);
  EXPECT_EQ(visual_entry(g.get(), t, 0), nullptr);
}

// ---- Malformed input ---------------------------------------------------------------

struct Bad {
  const char* name;
  const char* handler;
  Bytes payload;
  const char* path;  // where the failure is reported
};

TEST(Stsd, MalformedEntriesFailWithTheirPlace) {
  Bytes nested = box("esds", hex(kAacEsds));
  for (int i = 0; i < 6; ++i) nested = box("wave", nested);
  const Bad cases[] = {
      {"entry count larger than the box", "soun", stsd_payload(1000, box("mp4a", sound_fixed(0, 2, 16, 0))),
       "moov/trak[1]/mdia/minf/stbl/stsd"},
      {"version 2 structure below 72", "soun",
       stsd_payload(1, box("mp4a", cat({sound_fixed(2, 3, 16, 0x10000), u32(71), zeros(40)}))),
       "moov/trak[1]/mdia/minf/stbl/stsd/mp4a"},
      {"version 2 structure beyond its entry", "soun",
       stsd_payload(1, box("mp4a", cat({sound_fixed(2, 3, 16, 0x10000), u32(200), zeros(40)}))),
       "moov/trak[1]/mdia/minf/stbl/stsd/mp4a"},
      {"wave nested too deeply", "soun", stsd_payload(1, box("mp4a", cat({sound_fixed(0, 2, 16, 0), nested}))),
       "moov/trak[1]/mdia/minf/stbl/stsd/mp4a/wave/wave/wave/wave/wave"},
      {"avcC set longer than its box", "vide",
       stsd_payload(1, box("avc1", cat({visual_fixed(8, 8), box("avcC", hex("01640000 ffe1 ffff 00"))}))),
       "moov/trak[1]/mdia/minf/stbl/stsd/avc1/avcC"},
      {"child size below its header", "vide",
       stsd_payload(1, box("avc1", cat({visual_fixed(8, 8), box_sized(4, "btrt", zeros(12))}))),
       "moov/trak[1]/mdia/minf/stbl/stsd/avc1/btrt"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f(track_file(c.handler, c.payload));
    EXPECT_EQ(read_tree(f), ErrorCode::Malformed);
    EXPECT_STREQ(f->detail.path, c.path);
    EXPECT_NE(f->detail.reason, nullptr);
  }
}

// An entry or configuration cut inside its fixed fields costs its track,
// not the file; nothing after the cut is read as its fields.
TEST(Stsd, EntriesCutInsideTheirFieldsDropTheirTrack) {
  const Bad cases[] = {
      {"version 1 fields cut", "soun", stsd_payload(1, box("mp4a", cat({sound_fixed(1, 2, 16, 0), zeros(8)}))),
       "version 1 sound entry shorter than its fields"},
      {"visual entry shorter than its fields", "vide", stsd_payload(1, box("avc1", zeros(70))),
       "visual sample entry shorter than its fixed fields"},
      {"sound entry shorter than its fields", "soun", stsd_payload(1, box("mp4a", zeros(20))),
       "sound sample entry shorter than its fixed fields"},
      {"generic entry shorter than its fields", "subp", stsd_payload(1, box("mp4s", zeros(6))),
       "sample entry shorter than 8 bytes"},
      {"short btrt", "vide", stsd_payload(1, box("avc1", cat({visual_fixed(8, 8), box("btrt", zeros(8))}))),
       "'btrt' shorter than 12 bytes"},
      {"avcC cut in its fixed fields", "vide",
       stsd_payload(1, box("avc1", cat({visual_fixed(8, 8), box("avcC", hex("01640000"))}))),
       "'avcC' shorter than its fixed fields"},
      {"dac3 cut", "soun", stsd_payload(1, box("ac-3", cat({sound_fixed(0, 2, 16, 0), box("dac3", hex("1008"))}))),
       "'dac3' shorter than 3 bytes"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile f(track_file(c.handler, c.payload));
    ASSERT_EQ(read_tree(f), ErrorCode::Ok);
    EXPECT_EQ(track_count(f->root), 0u);
    ASSERT_EQ(f->dropped_tracks.count, 1u);
    EXPECT_STREQ(f->dropped_tracks[0].reason, c.path);
    EXPECT_EQ(f->detail.set, 0u);
  }
}

TEST(Stsd, ChildrenAreCutAtTheirEntrysEnd) {
  // An esds that claims 900 bytes, inside an entry that ends after 24 of
  // them: its decoder config (54 bytes) would run into the next entry.
  Bytes esds = cat({u32(900), text("esds"), hex("00000000 03 7f 0001 00 04 36 40 15 000000 00000000 00000000 05 28")});
  Bytes first = cat({u32(static_cast<uint32_t>(8 + 28 + esds.size())), text("mp4a"), sound_fixed(0, 2, 16, 0), esds});
  Bytes second = box("mp4a", cat({sound_fixed(0, 2, 16, 0), box("esds", hex(kAacEsds))}));
  // Cut there, it costs its track.
  MemoryFile f(track_file("soun", stsd_payload(2, cat({first, second}))));
  EXPECT_EQ(read_tree(f), ErrorCode::Ok);
  EXPECT_EQ(track_count(f->root), 0u);
  ASSERT_EQ(f->dropped_tracks.count, 1u);
  EXPECT_STREQ(f->dropped_tracks[0].reason, "decoder config descriptor runs past the 'esds' box");

  // An entry that claims more than the stsd holds is read within the stsd,
  // and the boxes after the stsd are still found.
  Bytes lying = cat({u32(5000), text("mp4a"), sound_fixed(0, 2, 16, 44100u << 16), box("esds", hex(kAacEsds))});
  Bytes stbl = box("stbl", box("stsd", stsd_payload(1, lying)));
  Bytes track = box("trak", box("mdia", cat({box("hdlr", hdlr_payload("soun")), box("minf", stbl)})));
  MemoryFile g(box("moov", cat({track, box("trak", box("mdia", box("hdlr", hdlr_payload("vide"))))})));
  TrackBoxes* t = nullptr;
  load(g, &t);
  ASSERT_NE(entry_esds(g.get(), t, 0), nullptr);
  EXPECT_EQ(entry_esds(g.get(), t, 0)->decoder_info.length, 2u);
  ASSERT_EQ(track_count(g->root), 2u);
  EXPECT_EQ(handler_kind_of(track_at(g->root, 1)), kHandlerVideo);
}

// ---- Building entries ----------------------------------------------------------------

TEST(Stsd, NewEntriesHaveTheirDefaults) {
  struct Case {
    const char* handler;
    uint32_t kind;
    const char* format;
    Bytes expect_payload;  // entry payload
  };
  const Case cases[] = {
      {"vide", kHandlerVideo, "avc1", visual_fixed(0, 0)},
      {"soun", kHandlerSound, "mp4a", sound_fixed(0, 2, 16, 0)},
      {"subp", kHandlerSubpicture, "mp4s", generic_fixed()},
      {"hint", kHandlerHint, "rtp ", generic_fixed()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handler);
    MemoryFile f(track_file(c.handler, stsd_payload(0, {})));
    TrackBoxes* t = nullptr;
    load(f, &t);
    ASSERT_EQ(stsd_add_entry(f.get(), t, c.kind), ErrorCode::Ok);
    SampleDescriptionTable* tab = table(t);
    ASSERT_EQ(tab->entry_count, 1u);
    switch (tab->layout) {
      case kLayoutVisual: tab->visual[0].format = FourCC::of(c.format); break;
      case kLayoutSound: tab->sound[0].format = FourCC::of(c.format); break;
      case kLayoutGeneric: tab->generic[0].format = FourCC::of(c.format); break;
      default: tab->hint[0].format = FourCC::of(c.format); break;
    }
    Bytes written = write_stsd(t);
    EXPECT_EQ(written, box("stsd", stsd_payload(1, box(c.format, c.expect_payload))));
  }
  EXPECT_EQ(visual_fixed(0, 0).size(), 78u);
  EXPECT_EQ(sound_fixed(0, 2, 16, 0).size(), 28u);
}

TEST(Stsd, EntryOperations) {
  MemoryFile f(track_file("vide", stsd_payload(0, {})));
  TrackBoxes* t = nullptr;
  load(f, &t);
  ASSERT_EQ(stsd_add_entry(f.get(), t, kHandlerVideo), ErrorCode::Ok);
  ASSERT_EQ(stsd_add_entry(f.get(), t, kHandlerInterleaved), ErrorCode::Ok);  // visual as well
  EXPECT_EQ(stsd_add_entry(f.get(), t, kHandlerSound), ErrorCode::BadArgument);  // layouts do not mix
  EXPECT_EQ(table(t)->entry_count, 2u);

  EXPECT_EQ(entry_add_config(f.get(), t, 0, ConfigBoxId::Avcc), ErrorCode::Ok);
  EXPECT_EQ(entry_add_config(f.get(), t, 0, ConfigBoxId::Avcc), ErrorCode::Exists);
  EXPECT_EQ(entry_add_config(f.get(), t, 0, ConfigBoxId::Dac3), ErrorCode::BadArgument);  // sound only
  EXPECT_EQ(entry_add_config(f.get(), t, 5, ConfigBoxId::Esds), ErrorCode::BadArgument);
  EXPECT_EQ(entry_add_config(f.get(), t, 0, static_cast<ConfigBoxId>(4200)), ErrorCode::BadArgument);
  ASSERT_EQ(entry_add_config(f.get(), t, 1, ConfigBoxId::Esds), ErrorCode::Ok);
  ASSERT_EQ(entry_add_config(f.get(), t, 1, ConfigBoxId::UuidExtension), ErrorCode::Ok);

  VisualSampleEntry* v = visual_entry(f.get(), t, 0);
  ASSERT_NE(v, nullptr);
  ASSERT_NE(v->avcC, nullptr);
  EXPECT_EQ(v->avcC->configurationVersion, 1);  // created with its defaults
  EXPECT_EQ(entry_config(f.get(), t, 0, ConfigBoxId::Avcc), v->avcC);
  EXPECT_EQ(entry_esds(f.get(), t, 0), nullptr);
  ASSERT_NE(entry_esds(f.get(), t, 1), nullptr);
  EXPECT_EQ(entry_esds(f.get(), t, 1)->predefined, 2);
  EXPECT_EQ(sound_entry(f.get(), t, 0), nullptr);
  EXPECT_EQ(generic_entry(f.get(), t, 0), nullptr);
  EXPECT_EQ(visual_entry(f.get(), t, 2), nullptr);

  // The uuid box counts 28 bytes with its header, the esds 35.
  visual_entry(f.get(), t, 1)->format = FourCC::of("mp4v");
  v->format = FourCC::of("avc1");
  EXPECT_EQ(stsd_size(f.get(), t), 8u + (86 + 15) + (86 + 35 + 28));
  Bytes written = write_stsd(t);
  EXPECT_EQ(written.size(), 8u + stsd_size(f.get(), t));

  // Removing the first entry moves the second down with its records.
  EsDescriptorRecord* esds = entry_esds(f.get(), t, 1);
  ASSERT_EQ(stsd_remove_entry(f.get(), t, 0), ErrorCode::Ok);
  EXPECT_EQ(table(t)->entry_count, 1u);
  EXPECT_EQ(entry_esds(f.get(), t, 0), esds);
  EXPECT_EQ(stsd_remove_entry(f.get(), t, 1), ErrorCode::BadArgument);
  EXPECT_EQ(entry_remove_config(f.get(), t, 0, ConfigBoxId::Esds), ErrorCode::Ok);
  EXPECT_EQ(entry_esds(f.get(), t, 0), nullptr);
  EXPECT_EQ(entry_remove_config(f.get(), t, 0, ConfigBoxId::Esds), ErrorCode::Ok);  // absent: ignored
  ASSERT_EQ(stsd_remove_entry(f.get(), t, 0), ErrorCode::Ok);
  // Empty again: another layout may start.
  ASSERT_EQ(stsd_add_entry(f.get(), t, kHandlerSound), ErrorCode::Ok);
  ASSERT_NE(sound_entry(f.get(), t, 0), nullptr);
  EXPECT_EQ(entry_add_config(f.get(), t, 0, ConfigBoxId::Dec3), ErrorCode::Ok);
  EXPECT_EQ(entry_add_config(f.get(), t, 0, ConfigBoxId::Avcc), ErrorCode::BadArgument);

  SoundFormatInfo info;
  EXPECT_EQ(sound_format_of(t, &info), ErrorCode::Ok);
  EXPECT_EQ(info.channel_count, 2);
  EXPECT_EQ(sound_format_of(nullptr, &info), ErrorCode::BadArgument);
  ASSERT_EQ(stsd_remove_entry(f.get(), t, 0), ErrorCode::Ok);
  EXPECT_EQ(sound_format_of(t, &info), ErrorCode::Missing);

  // A track without an 'stsd' record.
  TrackBoxes bare{};
  EXPECT_EQ(stsd_add_entry(f.get(), &bare, kHandlerVideo), ErrorCode::BadArgument);
  EXPECT_EQ(visual_entry(f.get(), &bare, 0), nullptr);
  write_one("stsd", 8, stsd_write, &bare, 0, ErrorCode::Missing);
}

TEST(Stsd, ConfigurationsWrittenInTheirOrder) {
  // Added in any order, written esds, avcC, dvc1, uuid, btrt, d263, fiel for
  // visual entries and esds, damr, dawp, dac3, dec3 for sound entries.
  MemoryFile f(track_file("vide", stsd_payload(0, {})));
  TrackBoxes* t = nullptr;
  load(f, &t);
  ASSERT_EQ(stsd_add_entry(f.get(), t, kHandlerVideo), ErrorCode::Ok);
  for (ConfigBoxId id : {ConfigBoxId::Fiel, ConfigBoxId::D263, ConfigBoxId::Btrt, ConfigBoxId::UuidExtension,
                         ConfigBoxId::Avcc, ConfigBoxId::Esds})
    ASSERT_EQ(entry_add_config(f.get(), t, 0, id), ErrorCode::Ok);
  visual_entry(f.get(), t, 0)->format = FourCC::of("avc1");
  Bytes expect = box("avc1", cat({visual_fixed(0, 0), box("esds", hex("00000000 03 15 0000 00 04 0d 00 01 000000 00000000 00000000 06 01 02")),
                                  box("avcC", hex("01000000 fc e0 00")), uuid_box(kExtUuid, u32(0)), box("btrt", zeros(12)),
                                  box("d263", zeros(7)), box("fiel", zeros(2))}));
  EXPECT_EQ(write_stsd(t), box("stsd", stsd_payload(1, expect)));

  MemoryFile g(track_file("soun", stsd_payload(0, {})));
  load(g, &t);
  ASSERT_EQ(stsd_add_entry(g.get(), t, kHandlerSound), ErrorCode::Ok);
  for (ConfigBoxId id : {ConfigBoxId::Dec3, ConfigBoxId::Dac3, ConfigBoxId::Dsmv, ConfigBoxId::Dawp, ConfigBoxId::Damr})
    ASSERT_EQ(entry_add_config(g.get(), t, 0, id), ErrorCode::Ok);
  sound_entry(g.get(), t, 0)->format = FourCC::of("sac3");
  Bytes sound = box("sac3", cat({sound_fixed(0, 2, 16, 0), box("damr", zeros(9)), box("dawp", zeros(5)),
                                 box("dac3", hex("0100")), box("dec3", zeros(5))}));
  EXPECT_EQ(write_stsd(t), box("stsd", stsd_payload(1, sound)));
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

using namespace test;

// Every cut and every single-byte change of a description with one entry of
// each family either reads or fails with an error; the sanitizer build
// turns any stray read or leak into a failure.
TEST(Stsd, DamagedDescriptionsNeverCrash) {
  const Bytes visual = box("avc1", cat({visual_fixed(8, 8), box("avcC", hex(kHighAvcc)), box("btrt", zeros(12)),
                                        box("dvc1", hex("c6 b02a 00000019 0000010f1122 33")),
                                        box("esds", hex(kAacEsds))}));
  const Bytes wave = box("wave", cat({box("frma", text("mp4a")), box("esds", hex(kAacEsdsLong)), zeros(8)}));
  const Bytes sound = cat({box("mp4a", cat({sound_fixed(2, 3, 16, 0x10000, 0xFFFE), v2_structure(0x40F7700000000000ull, 2), wave,
                                            box("dec3", hex("1f44 200f00 61a403ab 2004a1 20041eff 200400 0110")),
                                            box("dac3", hex("101140"))}))});
  struct Case {
    const char* handler;
    Bytes entries;
  };
  const Case cases[] = {{"vide", visual}, {"soun", sound}};
  uint32_t failures = 0;
  for (const Case& c : cases) {
    Bytes file = track_file(c.handler, stsd_payload(1, c.entries));
    for (size_t cut = 0; cut < file.size(); ++cut) {
      MemoryFile f(Bytes(file.begin(), file.begin() + static_cast<long>(cut)));
      if (read_tree(f) != ErrorCode::Ok) ++failures;
    }
    for (size_t at = 0; at < file.size(); ++at) {
      for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
        Bytes damaged = file;
        damaged[at] = value;
        MemoryFile f(damaged);
        if (read_tree(f) != ErrorCode::Ok) {
          ++failures;
          continue;
        }
        // Whatever was read can be written back.
        if (track_count(f->root) > 0 && table(first_track(f)) != nullptr) {
          MemoryFile out({}, kOpenCreate);
          write_box(out.get(), FourCC::of("stsd"), nullptr, stsd_size(out.get(), first_track(f)), stsd_write,
                    first_track(f));
        }
      }
    }
  }
  EXPECT_GT(failures, 0u);  // the sweep did reach the error paths
}

// Entries kept whole: read as they are, given to a track with their data
// reference index set to 1, their 'btrt' refilled, and refused when their
// boxes do not fill the bytes.
TEST(Stsd, WholeEntriesTravelAsReadWithTheirBitRatesRefilled) {
  Bytes hvcc = box("hvcC", zeros(23));
  Bytes entry = box("hvc1", cat({visual_fixed(64, 48), hvcc, box("btrt", cat({u32(1), u32(2), u32(3)})),
                                 box("pasp", cat({u32(4), u32(3)}))}));
  entry[15] = 7;  // data reference index 7
  MemoryFile in(track_file("vide", stsd_payload(1, entry)));
  TrackBoxes* t = nullptr;
  load(in, &t);
  ASSERT_EQ(table(t)->whole_entry_count, 1u);
  ASSERT_EQ(Bytes(table(t)->whole_entries.bytes, table(t)->whole_entries.bytes + table(t)->whole_entries.length),
            entry);

  MemoryFile out({}, kOpenCreate);
  ASSERT_EQ(create_root(out.get()), ErrorCode::Ok);
  ASSERT_EQ(add_movie_box(out.get(), BoxTypeId::Moov), ErrorCode::Ok);
  TrackBoxes* track = add_track(out.get(), 1);
  ASSERT_NE(track, nullptr);
  for (BoxTypeId id : {BoxTypeId::Mdia, BoxTypeId::Hdlr, BoxTypeId::Minf, BoxTypeId::Stbl, BoxTypeId::Stsd})
    ASSERT_EQ(add_track_box(out.get(), track, id), ErrorCode::Ok);
  track_record<HdlrRecord>(track, BoxTypeId::Hdlr)->kind = kHandlerVideo;
  const uint8_t* bytes = table(t)->whole_entries.bytes;
  uint32_t size = table(t)->whole_entries.length;
  struct Bad {
    const char* name;
    uint32_t size;
    uint32_t count;
  };
  for (const Bad& b : {Bad{"one entry more than the bytes hold", size, 2}, Bad{"bytes after the entries", size, 0},
                       Bad{"an entry cut short", size - 1, 1}}) {
    SCOPED_TRACE(b.name);
    EXPECT_EQ(stsd_set_whole_entries(out.get(), track, bytes, b.size, b.count), ErrorCode::Malformed);
  }
  ASSERT_EQ(stsd_set_whole_entries(out.get(), track, bytes, size, 1), ErrorCode::Ok);
  whole_entries_set_bit_rates(track, 100, 200, 300);
  Bytes expected = box("hvc1", cat({visual_fixed(64, 48), hvcc, box("btrt", cat({u32(100), u32(200), u32(300)})),
                                    box("pasp", cat({u32(4), u32(3)}))}));
  ErrorCode e;
  Bytes written = write_row(kStblList.first[0], track, &e);
  ASSERT_EQ(e, ErrorCode::Ok);
  EXPECT_EQ(written, box("stsd", stsd_payload(1, expected)));
}

}  // namespace
}  // namespace vantorel
