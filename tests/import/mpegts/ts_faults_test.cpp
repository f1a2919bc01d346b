// Hand-made transport streams with the faults recordings have: tables with
// a wrong CRC, lost packets, a cut last packet, units without a length, a
// PMT that names itself, a program asked for that is not there. Each is a
// warning naming the PID and offset, or a clean error; never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "import/mpegts/ts_builder.h"
#include "mediafile/mediafile.h"

namespace vantorel {
namespace {

using namespace test::ts;

constexpr uint16_t kAudio = 0x101;

// AC-3 frames of 128 bytes at 48 kHz, told apart by their pattern.
Bytes ac3_frames(uint32_t count) {
  Bytes all;
  for (uint32_t i = 0; i < count; ++i) {
    Bytes f = pattern(128, static_cast<uint8_t>(i * 40 + 1));
    f[0] = 0x0B, f[1] = 0x77, f[2] = 0, f[3] = 0, f[4] = 0x00, f[5] = 8 << 3, f[6] = 0x40;
    for (size_t k = 7; k < f.size(); ++k)
      if (f[k] == 0x0B) f[k] = 0x0C;
    all.insert(all.end(), f.begin(), f.end());
  }
  return all;
}

struct Opened {
  ErrorCode result = ErrorCode::Io;
  uint32_t samples = 0;  // of track 1
  uint32_t samples_2 = 0;  // of track 2
  uint32_t tracks = 0;
  std::string notes;
};

Opened open_memory(const Bytes& bytes, uint32_t program = 0) {
  Opened o;
  MemoryPair pair{bytes.data(), static_cast<uint32_t>(bytes.size())};
  OpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  params.program_number = program;
  MediaFile* file = nullptr;
  o.result = media_open(&file, &params, kOpenRead);
  if (o.result != ErrorCode::Ok) return o;
  for (uint32_t i = 0; const char* note = import_note(file, i); ++i) o.notes += std::string(note) + "\n";
  TrackInfo info{};
  if (track_info(file, 1, &info) == ErrorCode::Ok) o.samples = info.sample_count;
  if (track_info(file, 2, &info) == ErrorCode::Ok) o.samples_2 = info.sample_count;
  MovieInfo movie{};
  if (movie_info(file, &movie) == ErrorCode::Ok) o.tracks = movie.track_count;
  // Every sample reads back whole.
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    SampleRead s{};
    s.buffer = buffer.data();
    s.capacity = static_cast<uint32_t>(buffer.size());
    ErrorCode e = read_next_sample(file, 1, &s);
    if (e == ErrorCode::NoMore) break;
    EXPECT_EQ(e, ErrorCode::Ok);
    if (e != ErrorCode::Ok) break;
  }
  media_close(file);
  return o;
}

enum class Fault { None, PmtCrc, PatCrc, LostPacket, CutAtEnd, Unbounded, PmtNamesItself, WithSubtitles, WithDtsExpress };

// Ten frames in five units of two; program 1 at PMT PID 0x1000.
Bytes make_stream(Fault fault) {
  Writer w;
  w.table(0, pat({{1, 0x1000}}, 0, fault != Fault::PatCrc));
  std::vector<EsEntry> streams = {{0x81, kAudio, {}}};
  if (fault == Fault::PmtNamesItself) streams.insert(streams.begin(), EsEntry{0x81, 0x1000, {}});
  if (fault == Fault::WithSubtitles) streams.push_back(EsEntry{0x06, 0x102, descriptor(0x59, Bytes(8, 0x20))});
  if (fault == Fault::WithDtsExpress) streams.push_back(EsEntry{0xA2, 0x102, {}});
  w.table(0x1000, pmt(1, kAudio, streams, fault == Fault::WithDtsExpress ? registration("HDMV") : Bytes{}, 0,
                      fault != Fault::PmtCrc));
  const Bytes frames = ac3_frames(10);
  for (uint32_t k = 0; k < 5; ++k) {
    PesFields fields;
    fields.stream_id = 0xBD;
    fields.pts = 90000 + k * 5760;
    fields.bounded = fault != Fault::Unbounded;
    Bytes unit = pes(fields, Bytes(frames.begin() + k * 256, frames.begin() + (k + 1) * 256));
    if (fault == Fault::LostPacket && k == 2) {
      PacketFields first;
      first.pid = kAudio;
      first.unit_start = true;
      first.payload = Bytes(unit.begin(), unit.begin() + 184);
      w.packet(first);
      w.lose(kAudio);
      continue;
    }
    w.unit(kAudio, unit);
  }
  Bytes file = w.bytes();
  if (fault == Fault::CutAtEnd) file.resize(file.size() - 100);
  return file;
}

TEST(TsFaults, FaultsAreWarningsOrCleanErrors) {
  struct Case {
    const char* name;
    Fault fault;
    uint32_t program;
    ErrorCode result;
    uint32_t samples;
    const char* note;  // a note that contains this; null: no note
  };
  const Case cases[] = {
      {"whole", Fault::None, 0, ErrorCode::Ok, 10, nullptr},
      {"PMT with a wrong CRC", Fault::PmtCrc, 0, ErrorCode::Ok, 10, "CRC mismatch on PID 0x1000 at byte 188"},
      {"PAT with a wrong CRC", Fault::PatCrc, 0, ErrorCode::Ok, 10, "CRC mismatch on PID 0x0000 at byte 0"},
      // Unit 2's last packet lost: its frames and the one running into it are dropped.
      {"a packet lost", Fault::LostPacket, 0, ErrorCode::Ok, 8, "continuity gap on PID 0x0101 at byte"},
      {"last packet cut", Fault::CutAtEnd, 0, ErrorCode::Ok, 9, "cut packet at byte"},
      {"units without a length", Fault::Unbounded, 0, ErrorCode::Ok, 10, nullptr},
      {"a PMT that names itself", Fault::PmtNamesItself, 0, ErrorCode::Ok, 10, "PID used twice on PID 0x1000"},
      {"a program that is not there", Fault::None, 7, ErrorCode::Missing, 0, nullptr},
      {"the program asked for", Fault::None, 1, ErrorCode::Ok, 10, nullptr},
      // A stream left out is named, after the program and what it holds.
      {"DVB subtitles beside", Fault::WithSubtitles, 0, ErrorCode::Ok, 10,
       "transport stream program 1 of 1 (PMT PID 0x1000): PID 0x0101 AC-3 (type 0x81) PID 0x0102 DVB subtitles "
       "(type 0x06)\nPID 0x0102 (DVB subtitles, stream type 0x06) is left out: "},
      {"DTS Express beside", Fault::WithDtsExpress, 0, ErrorCode::Ok, 10,
       "PID 0x0102 (DTS Express, stream type 0xA2) is left out: DTS Express is a DTS-HD substream without a core"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opened o = open_memory(make_stream(c.fault), c.program);
    ASSERT_EQ(o.result, c.result) << o.notes;
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(o.tracks, 1u);
    EXPECT_EQ(o.samples, c.samples) << o.notes;
    if (c.note != nullptr) EXPECT_NE(o.notes.find(c.note), std::string::npos) << o.notes;
    else EXPECT_EQ(o.notes, "");
  }
}

// Two programs: the one with more packets is taken unless another is asked
// for; tracks are numbered from 1 in the taken program's order.
TEST(TsFaults, TheProgramWithMostPacketsOrTheOneAskedFor) {
  Writer w;
  w.table(0, pat({{1, 0x1000}, {2, 0x1100}}));
  w.table(0x1000, pmt(1, 0x101, {{0x81, 0x101, {}}}));
  w.table(0x1100, pmt(2, 0x201, {{0x81, 0x201, {}}}));
  const Bytes frames = ac3_frames(6);
  for (uint32_t k = 0; k < 3; ++k) {
    PesFields fields;
    fields.stream_id = 0xBD;
    fields.pts = 90000 + k * 5760;
    const Bytes two(frames.begin() + k * 256, frames.begin() + (k + 1) * 256);
    w.unit(0x201, pes(fields, two));
    if (k == 0) w.unit(0x101, pes(fields, two));
  }
  const Bytes file = w.bytes();
  struct Case {
    uint32_t program;
    ErrorCode result;
    uint32_t samples;
  };
  const Case cases[] = {{0, ErrorCode::Ok, 6}, {2, ErrorCode::Ok, 6}, {1, ErrorCode::Ok, 2}, {3, ErrorCode::Missing, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    Opened o = open_memory(file, c.program);
    ASSERT_EQ(o.result, c.result);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(o.tracks, 1u);
    EXPECT_EQ(o.samples, c.samples);
    // With a choice to make, the program taken is named.
    const std::string named = "transport stream program " + std::to_string(c.program == 1 ? 1 : 2) + " of 2";
    EXPECT_EQ(o.notes.find(named), 0u) << o.notes;
  }
}

// TrueHD: a unit of 28 bytes, or 110 with a major sync (48 kHz stereo).
Bytes truehd(bool sync, uint8_t seed) {
  Bytes u = pattern(sync ? 110 : 28, seed);
  const Bytes head = sync ? Bytes{0x80, 0x37, 0xFF, 0xD8, 0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x00, 0x80, 0x01,
                                  0xB7, 0x52, 0x00, 0x00, 0x00, 0x00, 0x8C, 0x7F}
                          : Bytes{0xA0, 0x0E, 0x12, 0x34};
  std::copy(head.begin(), head.end(), u.begin());
  return u;
}

// TrueHD and Opus units with what damage does to them: units before the
// first major sync, control headers cut, sizes past the file's end. What
// is whole is kept and reads back; the rest is passed over.
TEST(TsFaults, TrueHdAndOpusUnitsThatDoNotHold) {
  // Opus: a control header and a 20 ms CELT packet of `size` bytes.
  auto opus = [](uint32_t size, uint8_t seed) {
    Bytes u = {0x7F, 0xE0, static_cast<uint8_t>(size), 0xFC};
    const Bytes rest = pattern(size - 1, seed);
    u.insert(u.end(), rest.begin(), rest.end());
    return u;
  };
  struct Case {
    const char* name;
    bool is_opus;
    std::vector<Bytes> units;
    uint32_t samples;
  };
  const Bytes cut_header = {0x7F, 0xE0, 0xFF, 0xFF};
  Bytes past_end = opus(40, 9);
  past_end[2] = 0xC8;  // 200 bytes, where 39 follow
  Bytes truehd_past_end = truehd(false, 9);
  truehd_past_end[1] = 0xFF;  // 510 bytes
  const Case cases[] = {
      {"TrueHD from its first major sync", false,
       {cat({truehd(false, 1), truehd(false, 2)}), cat({truehd(true, 3), truehd(false, 4)}), truehd(false, 5)}, 3},
      {"TrueHD whose last unit runs past the end", false, {cat({truehd(true, 1), truehd(false, 2)}), truehd_past_end},
       2},
      {"Opus whole", true, {cat({opus(40, 1), opus(40, 2)}), opus(30, 3), opus(40, 4)}, 4},
      {"Opus whose last packet runs past the end", true, {cat({opus(40, 1), opus(40, 2)}), past_end}, 2},
      {"Opus with a control header cut at the end", true, {cat({opus(40, 1), opus(40, 2)}), cut_header}, 2},
      {"Opus without a control header", true, {cat({opus(40, 1), pattern(50, 7)}), opus(40, 3)}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.table(0, pat({{1, 0x1000}}));
    const EsEntry entry = c.is_opus ? EsEntry{0x06, kAudio, cat({registration("Opus"), descriptor(0x7F, {0x80, 2})})}
                                    : EsEntry{0x83, kAudio, {}};
    w.table(0x1000, pmt(1, kAudio, {entry}, c.is_opus ? Bytes{} : registration("HDMV")));
    for (size_t k = 0; k < c.units.size(); ++k) {
      PesFields fields;
      fields.stream_id = 0xBD;
      fields.pts = 90000 + static_cast<int64_t>(k) * 1800;
      w.unit(kAudio, pes(fields, c.units[k]));
    }
    Opened o = open_memory(w.bytes());
    ASSERT_EQ(o.result, ErrorCode::Ok) << o.notes;
    EXPECT_EQ(o.tracks, 1u);
    EXPECT_EQ(o.samples, c.samples) << o.notes;
  }
}

// TrueHD and its AC-3 core on one PID: units whose PES header names them
// (stream id extensions 0x72 and 0x76) go where it says, even a core unit
// that begins inside a frame; units without the name go by their first bytes.
TEST(TsFaults, TrueHdAndItsCoreGoWhereTheirPesHeaderSays) {
  const Bytes core = ac3_frames(4);  // 128 bytes each
  struct Case {
    const char* name;
    bool labelled;
    std::vector<uint32_t> core_cuts;  // where the core's units begin
  };
  const Case cases[] = {
      {"labelled, a core frame across two units", true, {0, 188, 384}},
      {"labelled, whole frames", true, {0, 128, 256, 384}},
      {"not labelled, whole frames", false, {0, 128, 256, 384}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.table(0, pat({{1, 0x1000}}));
    w.table(0x1000, pmt(1, kAudio, {{0x83, kAudio, {}}}, registration("HDMV")));
    for (size_t k = 0; k < c.core_cuts.size(); ++k) {
      PesFields fields;
      fields.stream_id = c.labelled ? 0xFD : 0xBD;
      fields.stream_id_extension = c.labelled ? 0x76 : -1;
      fields.pts = 90000 + int64_t{(c.core_cuts[k] + 127) / 128} * 2880;  // of the first frame that begins in it
      const uint32_t end = k + 1 < c.core_cuts.size() ? c.core_cuts[k + 1] : static_cast<uint32_t>(core.size());
      w.unit(kAudio, pes(fields, Bytes(core.begin() + c.core_cuts[k], core.begin() + end)));
      fields.stream_id_extension = c.labelled ? 0x72 : -1;
      w.unit(kAudio, pes(fields, cat({truehd(k == 0, static_cast<uint8_t>(2 * k)), truehd(false, static_cast<uint8_t>(2 * k + 1))})));
    }
    Opened o = open_memory(w.bytes());
    ASSERT_EQ(o.result, ErrorCode::Ok) << o.notes;
    EXPECT_EQ(o.tracks, 2u) << o.notes;
    EXPECT_EQ(o.samples, 2 * c.core_cuts.size()) << o.notes;  // TrueHD units
    EXPECT_EQ(o.samples_2, 4u) << o.notes;                    // AC-3 frames
  }
}

// Opus descriptors that give no layout: the stream is left out with the
// reason, and an Opus stream beside it is carried.
TEST(TsFaults, OpusDescriptorsWithoutALayoutLeaveTheirStreamOut) {
  constexpr uint16_t kOther = 0x102;
  struct Case {
    const char* name;
    Bytes descriptors;
    const char* note;
  };
  const char* kCut = "explicit channel configuration is cut or out of range";
  const Case cases[] = {
      {"explicit, ending at its code", descriptor(0x7F, {0x80, 0x81}), kCut},
      {"explicit, cut in its mapping", descriptor(0x7F, {0x80, 0x81, 0x06, 0x01, 0x68, 0x42}), kCut},
      {"a reserved code", descriptor(0x7F, {0x80, 0x09}), "code is a reserved one"},
      {"the loop cut in the descriptor", Bytes{0x7F, 0x06, 0x80, 0x81, 0x02}, "no Opus channel configuration"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.table(0, pat({{1, 0x1000}}));
    w.table(0x1000, pmt(1, kAudio,
                        {{0x06, kAudio, cat({registration("Opus"), descriptor(0x7F, {0x80, 2})})},
                         {0x06, kOther, cat({registration("Opus"), c.descriptors})}}));
    for (uint32_t k = 0; k < 4; ++k) {
      PesFields fields;
      fields.stream_id = 0xBD;
      fields.pts = 90000 + static_cast<int64_t>(k) * 1800;
      // A control header and a 20 ms CELT packet.
      const Bytes unit = cat({Bytes{0x7F, 0xE0, 40, 0xFC}, pattern(39, static_cast<uint8_t>(k + 1))});
      w.unit(kAudio, pes(fields, unit));
      w.unit(kOther, pes(fields, unit));
    }
    Opened o = open_memory(w.bytes());
    ASSERT_EQ(o.result, ErrorCode::Ok) << o.notes;
    EXPECT_EQ(o.tracks, 1u);
    EXPECT_EQ(o.samples, 4u);
    EXPECT_NE(o.notes.find("PID 0x0102 (Opus, stream type 0x06) is left out: "), std::string::npos) << o.notes;
    EXPECT_NE(o.notes.find(c.note), std::string::npos) << o.notes;
  }
}

// Nothing but garbage after a PAT, or a PMT without a carried stream: no
// track, a clean refusal.
TEST(TsFaults, NothingToCarryIsRefused) {
  Writer w;
  w.table(0, pat({{1, 0x1000}}));
  w.table(0x1000, pmt(1, 0x102, {{0x06, 0x102, descriptor(0x59, Bytes(8, 0x20))}}));  // DVB subtitles
  PesFields fields;
  fields.stream_id = 0xBD;
  fields.pts = 90000;
  w.unit(0x102, pes(fields, pattern(300, 3)));
  Opened o = open_memory(w.bytes());
  EXPECT_EQ(o.result, ErrorCode::Unsupported);
}

}  // namespace
}  // namespace vantorel
