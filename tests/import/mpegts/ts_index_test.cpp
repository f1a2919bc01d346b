#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "import/mpegts/ts_builder.h"
#include "import/mpegts/ts_index.h"

namespace vantorel {
namespace {

using namespace test::ts;

constexpr uint16_t kPmtPid = 0x1000;
constexpr uint16_t kVideo = 0x100;
constexpr uint16_t kAudio = 0x101;

// The payloads each PID's unit handler saw, in order, with their records.
struct Seen {
  std::map<uint16_t, std::vector<Bytes>> payloads;
  std::map<uint16_t, std::vector<PesRecord>> records;
};

ErrorCode collect(void* user, const TsUnitEvent* e) {
  Seen* seen = static_cast<Seen*>(user);
  uint16_t pid = e->index->pids[e->pid_index].pid;
  seen->records[pid].push_back(*e->record);
  seen->payloads[pid].push_back(e->payload == nullptr ? Bytes() : Bytes(e->payload, e->payload + e->record->length));
  return ErrorCode::Ok;
}

struct Indexed {
  MemoryIo io;
  TsIndex index{};
  Seen seen;
  ErrorCode result;
  Indexed(const Bytes& bytes, TsIndexOptions options = {}) : io(bytes) {
    options.on_unit = collect;
    options.user = &seen;
    result = ts_index_build(io.get(), &options, &index);
  }
  ~Indexed() { ts_index_release(&index); }
  const TsPid* pid(uint16_t p) const {
    for (const TsPid& x : index.pids)
      if (x.pid == p) return &x;
    return nullptr;
  }
  uint32_t count(TsDiag kind) const { return index.diagnostic_counts[static_cast<uint32_t>(kind)]; }
  const TsDiagnostic* first(TsDiag kind) const {
    for (const TsDiagnostic& d : index.diagnostics)
      if (d.kind == kind) return &d;
    return nullptr;
  }
};

void tables(Writer* w, const Bytes& pmt_section = pmt(1, kVideo, {{0x1B, kVideo, {}}, {0x0F, kAudio, language("eng")}})) {
  w->table(0, pat({{1, kPmtPid}}));
  w->table(kPmtPid, pmt_section);
}

PesFields video_spec(int64_t pts, int64_t dts) {
  PesFields s;
  s.stream_id = 0xE0;
  s.pts = pts;
  s.dts = dts;
  s.bounded = false;
  return s;
}

PesFields audio_spec(int64_t pts) {
  PesFields s;
  s.stream_id = 0xC0;
  s.pts = pts;
  return s;
}

TEST(TsIndex, ProgramsStreamsAndUnitsOfAPlainStream) {
  Writer w;
  // With splice cues, which are sections, not units.
  tables(&w, pmt(1, kVideo, {{0x1B, kVideo, {}}, {0x0F, kAudio, language("eng")}, {0x86, 0x102, {}}}));
  w.table(0x102, section(0xFC, 0, 0, Bytes(20, 0)));
  std::vector<Bytes> video, audio;
  for (uint8_t i = 0; i < 6; ++i) {
    video.push_back(pattern(1000 + i * 300, i));
    audio.push_back(pattern(200 + i, static_cast<uint8_t>(100 + i)));
    w.unit(kVideo, pes(video_spec(9000 + i * 3003, i == 0 ? -1 : 6000 + i * 3003), video.back()), i % 3 == 0);
    w.unit(kAudio, pes(audio_spec(9000 + i * 1920), audio.back()));
  }
  Indexed x(w.bytes());
  ASSERT_EQ(x.result, ErrorCode::Ok);
  EXPECT_EQ(x.index.layout.stride, 188u);
  EXPECT_EQ(x.index.packets, w.packet_count());
  ASSERT_EQ(x.index.programs.size(), 1u);
  const TsProgram& p = x.index.programs[0];
  EXPECT_EQ(p.program_number, 1);
  EXPECT_EQ(p.pcr_pid, kVideo);
  EXPECT_TRUE(p.has_pmt);
  EXPECT_EQ(x.index.chosen, 0u);
  ASSERT_EQ(x.index.streams.size(), 3u);
  EXPECT_EQ(x.index.streams[2].cls->kind, TsKind::Scte35);
  EXPECT_EQ(x.pid(0x102)->packets, 1u);
  EXPECT_EQ(x.pid(0x102)->pes.size(), 0u);
  EXPECT_EQ(x.index.streams[0].cls->kind, TsKind::H264);
  EXPECT_EQ(x.index.streams[1].cls->kind, TsKind::AacAdts);
  EXPECT_STREQ(x.index.streams[1].descriptors.language, "eng");
  EXPECT_EQ(x.index.streams[0].order, 0u);
  EXPECT_EQ(x.index.streams[1].order, 1u);
  const TsPid* v = x.pid(kVideo);
  const TsPid* a = x.pid(kAudio);
  ASSERT_TRUE(v != nullptr && a != nullptr);
  ASSERT_EQ(v->pes.size(), 6u);
  ASSERT_EQ(a->pes.size(), 6u);
  EXPECT_EQ(p.packets, v->packets + a->packets + 1);
  for (uint32_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const PesRecord& r = v->pes[i];
    EXPECT_EQ(r.length, video[i].size());
    EXPECT_EQ(pes_record_pts(r), 9000u + i * 3003);
    EXPECT_EQ(pes_record_dts(r), i == 0 ? 9000u : 6000u + i * 3003);
    EXPECT_EQ((r.flags & kPesHasDts) != 0, i != 0);
    EXPECT_EQ((r.flags & kPesRandomAccess) != 0, i % 3 == 0);
    EXPECT_EQ(r.stream_id, 0xE0);
    // The last unbounded unit is ended by the end of the file.
    EXPECT_EQ(r.flags & (kPesBroken | kPesShort | kPesOpenAtEnd), i == 5 ? kPesOpenAtEnd : 0);
    EXPECT_EQ(a->pes[i].length, audio[i].size());
    EXPECT_EQ(a->pes[i].flags & (kPesBroken | kPesShort | kPesCutAtEnd), 0);
  }
  EXPECT_EQ(x.seen.payloads[kVideo], video);
  EXPECT_EQ(x.seen.payloads[kAudio], audio);
  EXPECT_EQ(x.index.diagnostics.size(), 0u);
}

TEST(TsIndex, DamageIsReportedAndTheUnitsItTouchesAreMarked) {
  struct Case {
    const char* name;
    TsDiag diag;
    uint16_t flags;  // on the audio unit of index 1
  };
  const Case cases[] = {
      {"a lost packet", TsDiag::ContinuityGap, kPesBroken},
      {"a duplicate", TsDiag::Count, 0},
      {"an errored packet", TsDiag::TransportError, kPesBroken},
      {"a scrambled packet", TsDiag::Scrambled, kPesBroken},
      {"a unit cut by the next", TsDiag::PesShort, kPesShort},
      {"a discontinuity indicator", TsDiag::Discontinuity, kPesDiscontinuity},
      {"bad timestamp markers", TsDiag::MarkerBits, kPesMarkerError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    Writer w;
    tables(&w);
    Bytes payload = pattern(600, 7);  // four packets
    uint64_t damage_at = 0;
    for (int i = 0; i < 3; ++i) {
      PesFields fields = audio_spec(1000 + i * 1920);
      fields.bad_marker = i == 1 && name == "bad timestamp markers";
      Bytes unit = pes(fields, payload);
      if (i != 1) {
        w.unit(kAudio, unit);
        continue;
      }
      // Unit 1 goes packet by packet so that one of them can be damaged.
      for (size_t at = 0, k = 0, n = 0; at < unit.size(); at += n, ++k) {
        PacketFields s;
        s.pid = kAudio;
        s.unit_start = at == 0;
        s.discontinuity = k == 0 && name == "a discontinuity indicator";
        n = std::min(unit.size() - at, size_t{s.discontinuity ? 182u : 184u});
        s.payload.assign(unit.begin() + static_cast<long>(at), unit.begin() + static_cast<long>(at + n));
        if (k == 2 && name == "a unit cut by the next") break;
        if (k == 2) {
          damage_at = w.offset_of(w.packet_count());
          if (name == "a lost packet") {
            w.lose(kAudio);
            continue;
          }
          s.error = name == "an errored packet";
          s.scrambling = name == "a scrambled packet" ? 2 : 0;
        }
        uint8_t cc = w.next_cc(kAudio);
        s.cc = cc;
        w.raw_packet(packet(s));
        if (k == 2 && name == "a duplicate") w.raw_packet(packet(s));
      }
    }
    Indexed x(w.bytes());
    ASSERT_EQ(x.result, ErrorCode::Ok);
    const TsPid* a = x.pid(kAudio);
    ASSERT_TRUE(a != nullptr);
    ASSERT_EQ(a->pes.size(), 3u);
    uint16_t damage = kPesBroken | kPesShort | kPesDiscontinuity | kPesMarkerError;
    EXPECT_EQ(a->pes[0].flags & damage, 0);
    EXPECT_EQ(a->pes[1].flags & damage, c.flags);
    EXPECT_EQ(a->pes[2].flags & damage, 0);
    EXPECT_EQ(a->pes[2].length, payload.size());
    if ((c.flags & (kPesBroken | kPesShort)) == 0) {
      EXPECT_EQ(x.seen.payloads[kAudio][1], payload);  // a duplicate is passed over
    }
    if (c.diag == TsDiag::Count) {
      EXPECT_EQ(x.index.diagnostics.size(), 0u);
      continue;
    }
    const TsDiagnostic* d = x.first(c.diag);
    ASSERT_TRUE(d != nullptr);
    EXPECT_EQ(d->pid, kAudio);
    // A gap is found at the packet after the lost one, which stands where it stood.
    if (c.diag == TsDiag::ContinuityGap || c.diag == TsDiag::TransportError || c.diag == TsDiag::Scrambled) {
      EXPECT_EQ(d->offset, damage_at);
    }
  }
}

TEST(TsIndex, GarbageAndCutPacketsAreNamedWithTheirOffsets) {
  for (uint32_t stride : {188u, 192u}) {
    SCOPED_TRACE(stride);
    Writer w;
    w.garbage(Bytes(50, 0x01));
    tables(&w);
    w.unit(kAudio, pes(audio_spec(9000), pattern(400, 1)));
    uint32_t k = w.packet_count();
    w.garbage(Bytes(333, 0x02));
    w.unit(kAudio, pes(audio_spec(10920), pattern(400, 2)));
    Bytes b = w.bytes(stride);
    uint64_t lost_at = w.offset_of(k, stride) - 333;
    b.resize(b.size() - 40);  // the last packet cut
    Indexed x(b);
    ASSERT_EQ(x.result, ErrorCode::Ok);
    ASSERT_EQ(x.count(TsDiag::LostSync), 2u);
    EXPECT_EQ(x.index.diagnostics[0].kind, TsDiag::LostSync);
    EXPECT_EQ(x.index.diagnostics[0].offset, 0u);
    EXPECT_EQ(x.index.diagnostics[0].value, 50u);
    EXPECT_EQ(x.index.diagnostics[1].kind, TsDiag::LostSync);
    EXPECT_EQ(x.index.diagnostics[1].offset, lost_at);
    EXPECT_EQ(x.index.diagnostics[1].value, 333u);
    const TsDiagnostic* cut = x.first(TsDiag::CutPacket);
    ASSERT_TRUE(cut != nullptr);
    EXPECT_EQ(cut->value, 148u);
    // The first unit is whole; the second lost its last packet to the cut.
    const TsPid* a = x.pid(kAudio);
    ASSERT_EQ(a->pes.size(), 2u);
    EXPECT_EQ(a->pes[0].flags & (kPesBroken | kPesShort | kPesCutAtEnd), 0);
    EXPECT_EQ(a->pes[1].flags & kPesCutAtEnd, kPesCutAtEnd);
    EXPECT_EQ(x.seen.payloads[kAudio][0], pattern(400, 1));
  }
}

TEST(TsIndex, TablesWithWrongCrcsAreUsedWithAWarning) {
  Writer w;
  w.table(0, pat({{1, kPmtPid}}, 0, false));
  w.table(kPmtPid, pmt(1, kVideo, {{0x1B, kVideo, {}}}, {}, 0, false));
  w.unit(kVideo, pes(video_spec(9000, -1), pattern(300, 1)));
  // The right tables follow; they replace what the damaged ones said.
  w.table(0, pat({{1, kPmtPid}}));
  w.table(kPmtPid, pmt(1, kVideo, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}));
  w.unit(kAudio, pes(audio_spec(9000), pattern(100, 2)));
  Indexed x(w.bytes());
  ASSERT_EQ(x.result, ErrorCode::Ok);
  EXPECT_EQ(x.count(TsDiag::CrcMismatch), 2u);
  EXPECT_EQ(x.first(TsDiag::CrcMismatch)->pid, 0);
  ASSERT_EQ(x.index.streams.size(), 2u);
  EXPECT_TRUE(x.index.programs[0].pmt_crc_ok);
  EXPECT_EQ(x.index.streams[1].pid, kAudio);
  EXPECT_EQ(x.pid(kVideo)->pes.size(), 1u);
  EXPECT_EQ(x.pid(kAudio)->pes.size(), 1u);
}

TEST(TsIndex, TablesThatPointAtTablesAreRefused) {
  struct Case {
    const char* name;
    Bytes pat_section;
    Bytes pmt_section;
    uint32_t conflicts;
    uint32_t streams;
  };
  const Case cases[] = {
      {"a PMT listing itself", pat({{1, kPmtPid}}), pmt(1, kPmtPid, {{0x1B, kPmtPid, {}}, {0x0F, kAudio, {}}}), 1, 1},
      {"a PMT listing the PAT", pat({{1, kPmtPid}}), pmt(1, kVideo, {{0x1B, 0, {}}, {0x0F, kAudio, {}}}), 1, 1},
      {"a PAT pointing at itself", pat({{1, 0}, {2, kPmtPid}}), pmt(2, kVideo, {{0x0F, kAudio, {}}}), 1, 1},
      {"a PMT at the null PID", pat({{1, 0x1FFF}}), pmt(1, kVideo, {{0x0F, kAudio, {}}}), 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    for (int i = 0; i < 3; ++i) {
      w.table(0, c.pat_section);
      w.table(kPmtPid, c.pmt_section);
      w.unit(kAudio, pes(audio_spec(9000 + i * 1920), pattern(100, 2)));
    }
    Indexed x(w.bytes());
    EXPECT_EQ(x.count(TsDiag::TablePidConflict), c.conflicts);  // repeated tables are not read again
    EXPECT_EQ(x.index.streams.size(), c.streams);
    if (c.streams == 0) {
      EXPECT_EQ(x.result, ErrorCode::Missing);
      continue;
    }
    ASSERT_EQ(x.result, ErrorCode::Ok);
    EXPECT_EQ(x.index.streams[0].pid, kAudio);
    EXPECT_EQ(x.pid(kAudio)->pes.size(), 3u);
  }
}

TEST(TsIndex, PmtVersionsAddAndRemoveStreams) {
  Writer w;
  tables(&w, pmt(1, kVideo, {{0x1B, kVideo, {}}}));
  w.unit(kVideo, pes(video_spec(9000, -1), pattern(300, 1)));
  uint32_t k = w.packet_count();
  tables(&w, pmt(1, kVideo, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}, {}, 1));
  uint64_t second = w.offset_of(k + 1);  // the PMT, after the PAT
  w.unit(kAudio, pes(audio_spec(9000), pattern(100, 2)));
  k = w.packet_count();
  tables(&w, pmt(1, kAudio, {{0x0F, kAudio, {}}}, {}, 2));
  uint64_t third = w.offset_of(k + 1);
  w.unit(kAudio, pes(audio_spec(12000), pattern(100, 3)));
  // The video PID comes back as MPEG-2 video.
  tables(&w, pmt(1, kAudio, {{0x0F, kAudio, {}}, {0x02, kVideo, {}}}, {}, 3));
  w.unit(kVideo, pes(video_spec(15000, -1), pattern(300, 4)));
  Indexed x(w.bytes());
  ASSERT_EQ(x.result, ErrorCode::Ok);
  ASSERT_EQ(x.index.streams.size(), 3u);
  const TsStream& video = x.index.streams[0];
  const TsStream& audio = x.index.streams[1];
  const TsStream& again = x.index.streams[2];
  EXPECT_EQ(again.cls->kind, TsKind::Mpeg2Video);
  EXPECT_EQ(again.pid_index, video.pid_index);
  EXPECT_EQ(again.order, 2u);
  // Each stream has the units of its PID from its own time.
  struct Units {
    const TsStream* stream;
    uint32_t first, count;
  };
  for (const Units& u : {Units{&video, 0, 1}, Units{&audio, 0, 2}, Units{&again, 1, 1}}) {
    uint32_t first = 99, count = 99;
    ts_stream_units(&x.index, u.stream, &first, &count);
    EXPECT_EQ(first, u.first);
    EXPECT_EQ(count, u.count);
  }
  EXPECT_EQ(video.added_version, 0);
  EXPECT_EQ(video.removed_at, third);
  EXPECT_EQ(audio.added_at, second);
  EXPECT_EQ(audio.added_version, 1);
  EXPECT_EQ(audio.removed_at, kTsStillListed);
  EXPECT_EQ(x.index.programs[0].changes, 3u);
  EXPECT_EQ(x.index.programs[0].version, 3);
  EXPECT_EQ(x.count(TsDiag::PmtVersion), 3u);
  EXPECT_EQ(x.first(TsDiag::PmtVersion)->value, (1u << 8) | 1u);
}

TEST(TsIndex, TheProgramWithMostPacketsIsTakenUnlessOneIsNamed) {
  Writer w;
  w.table(0, pat({{1, kPmtPid}, {2, kPmtPid + 1}}));
  w.table(kPmtPid, pmt(1, kAudio, {{0x0F, kAudio, {}}}));
  w.table(kPmtPid + 1, pmt(2, kVideo, {{0x1B, kVideo, {}}}));
  w.unit(kAudio, pes(audio_spec(9000), pattern(100, 1)));
  w.unit(kVideo, pes(video_spec(9000, -1), pattern(1000, 2)));
  struct Case {
    uint16_t program_number;
    ErrorCode result;
    uint32_t chosen;
  };
  const Case cases[] = {{0, ErrorCode::Ok, 1}, {1, ErrorCode::Ok, 0}, {2, ErrorCode::Ok, 1}, {3, ErrorCode::Missing, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program_number);
    TsIndexOptions options{};
    options.program_number = c.program_number;
    Indexed x(w.bytes(), options);
    ASSERT_EQ(x.result, c.result);
    EXPECT_EQ(x.index.programs.size(), 2u);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(x.index.chosen, c.chosen);
    // The units of the program not taken are let go.
    EXPECT_EQ(x.pid(kAudio)->pes.size(), c.chosen == 0 ? 1u : 0u);
    EXPECT_EQ(x.pid(kVideo)->pes.size(), c.chosen == 1 ? 1u : 0u);
  }
}

TEST(TsIndex, UnitsLargerThanTheLimitArriveWithoutPayload) {
  Writer w;
  tables(&w);
  w.unit(kVideo, pes(video_spec(9000, -1), pattern(5000, 1)));
  w.unit(kVideo, pes(video_spec(12003, -1), pattern(500, 2)));
  TsIndexOptions options{};
  options.max_unit_bytes = 1000;
  options.drop_units = true;
  Indexed x(w.bytes(), options);
  ASSERT_EQ(x.result, ErrorCode::Ok);
  EXPECT_EQ(x.pid(kVideo)->pes.size(), 0u);  // dropped: the handler has them
  EXPECT_EQ(x.pid(kVideo)->units, 2u);
  ASSERT_EQ(x.seen.records[kVideo].size(), 2u);
  EXPECT_NE(x.seen.records[kVideo][0].flags & kPesTooLarge, 0);
  EXPECT_EQ(x.seen.records[kVideo][0].length, 5000u);
  EXPECT_TRUE(x.seen.payloads[kVideo][0].empty());
  EXPECT_EQ(x.seen.payloads[kVideo][1], pattern(500, 2));
  EXPECT_EQ(x.count(TsDiag::UnitTooLarge), 1u);
}

TEST(TsIndex, ArbitraryDamageNeverBreaksThePass) {
  // A small valid stream, then many damaged copies of it: bytes flipped,
  // cut, shifted. Each must finish cleanly (the sanitizers watch memory).
  Writer w;
  tables(&w, pmt(1, kVideo, {{0x1B, kVideo, {}}, {0x0F, kAudio, language("eng")}, {0x06, 0x102, registration("AC-3")}}));
  for (uint8_t i = 0; i < 8; ++i) {
    w.unit(kVideo, pes(video_spec(9000 + i * 3003, 6000 + i * 3003), pattern(700 + i * 50, i)), i == 0);
    w.unit(kAudio, pes(audio_spec(9000 + i * 1920), pattern(300, i)));
    if (i % 3 == 0) tables(&w, pmt(1, kVideo, {{0x1B, kVideo, {}}, {0x0F, kAudio, {}}}, {}, i));
  }
  const Bytes clean = w.bytes();
  std::mt19937 rng(34);
  for (int round = 0; round < 300; ++round) {
    Bytes b = clean;
    int edits = 1 + static_cast<int>(rng() % 20);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % b.size();
      switch (rng() % 4) {
        case 0: b[at] = static_cast<uint8_t>(rng()); break;
        case 1: b[at] ^= 0x40; break;  // unit start flags
        case 2: b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(std::min(b.size(), at + rng() % 300))); break;
        default: b.resize(std::max<size_t>(1, at)); break;
      }
      if (b.empty()) b.push_back(0x47);
    }
    Indexed x(b);
    EXPECT_TRUE(x.result == ErrorCode::Ok || x.result == ErrorCode::Missing || x.result == ErrorCode::Unsupported)
        << error_name(x.result);
    EXPECT_LE(x.index.packets, b.size() / 188);
    for (const TsPid& p : x.index.pids) EXPECT_LE(p.pes.size(), p.packets);
  }
}

}  // namespace
}  // namespace vantorel
