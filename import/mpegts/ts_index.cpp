#include "import/mpegts/ts_index.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace vantorel {

namespace {

// A PAT PID, a PMT and a PCR PID per program, and the streams.
constexpr uint32_t kMaxSlots = 1 + 2 * kTsMaxPrograms + kTsMaxStreams;
constexpr uint32_t kDefaultUnitBytes = 64u << 20;
constexpr uint32_t kDefaultReadSize = 1u << 20;
// Below this a PID is reserved for tables (PAT, CAT, network information).
constexpr uint16_t kFirstFreePid = 0x10;

const char* const kDiagNames[kTsDiagKinds] = {
    "lost sync",          "cut packet",          "continuity gap",         "repeated packet",
    "transport error",    "scrambled packet",    "bad adaptation field",   "CRC mismatch",
    "bad table section",  "PMT version change",  "PID used twice",         "unit without PES header",
    "bad PES header",     "unit cut short",      "payload past unit end",  "bad timestamp markers",
    "discontinuity",      "too many programs",   "too many streams",       "too many table changes",
    "unit too large",
};

// Pass-only state of a tracked PID, beside its TsPid.
struct Slot {
  TsContinuity cc;
  bool pending_discontinuity;
  bool gather;
  bool units;  // a stream on the PID is media: its units are followed (splice cues and tables are not PES)
  bool too_large;
  bool ended_at_length;  // the last unit ended at its announced length: bytes after it are left over
  bool lost;             // packets were lost since the current unit began
  TsSectionBuffer* section;  // table PIDs
  PesAssembly* pes;          // stream PIDs
  PesRecord current;
  GrowArray<uint8_t> gathered;
};

struct Pass {
  TsIndex* index;
  TsIndexOptions options;
  TsWindow window;
  GrowArray<Slot> slots;  // parallel to index->pids; reserved in full so addresses stay put
  uint16_t slot_of[kTsPidCount];  // slot + 1; 0: not tracked
  bool pat_seen;
  bool pat_crc_ok;
  uint8_t pat_version;
  uint32_t pat_sections[8];  // sections of the PAT version in use already read
  uint32_t pat_changes;
  TsPatEntry pat[kTsMaxPatEntries];
  TsPmt pmt;
};

void diag(Pass* s, TsDiag kind, uint16_t pid, uint64_t offset, uint32_t value = 0) {
  TsIndex* x = s->index;
  uint32_t k = static_cast<uint32_t>(kind);
  if (x->diagnostic_counts[k] != UINT32_MAX) ++x->diagnostic_counts[k];
  // Reserved in full: appending never allocates.
  if (x->diagnostics.count < kTsMaxDiagnostics) x->diagnostics.append(TsDiagnostic{offset, value, pid, kind});
}

// A diagnostic that only the first time is worth a record.
void diag_once(Pass* s, TsDiag kind, uint16_t pid, uint64_t offset) {
  if (s->index->diagnostic_counts[static_cast<uint32_t>(kind)] == 0) diag(s, kind, pid, offset);
}

// Keeps a descriptor loop in the index's pool, while the pool has room.
void keep_descriptors(Pass* s, const uint8_t* p, uint32_t n, uint32_t* at, uint32_t* length) {
  GrowArray<uint8_t>& pool = s->index->descriptor_bytes;
  *at = pool.count;
  *length = 0;
  if (pool.count + n > kTsMaxDescriptorBytes || ts_append_bytes(&pool, p, n) != ErrorCode::Ok) return;
  *length = n;
}

// The slot of a PID, made with `role` when it has none. NoMore when every
// slot is taken.
ErrorCode track_pid(Pass* s, uint16_t pid, uint8_t role, uint32_t* out) {
  if (s->slot_of[pid] != 0) {
    *out = s->slot_of[pid] - 1u;
    return ErrorCode::Ok;
  }
  TsIndex* x = s->index;
  if (x->pids.count >= kMaxSlots) return ErrorCode::NoMore;
  TsPid entry{};
  entry.pid = pid;
  entry.role = role;
  Slot slot{};
  slot.cc = kTsContinuityStart;
  VT_TRY(x->pids.append(entry));
  VT_TRY(s->slots.append(slot));
  s->slot_of[pid] = static_cast<uint16_t>(x->pids.count);
  *out = x->pids.count - 1;
  return ErrorCode::Ok;
}

TsProgram* find_program(TsIndex* x, uint16_t number) {
  for (TsProgram& p : x->programs)
    if (p.program_number == number) return &p;
  return nullptr;
}

// A table PID the PAT names: reserved PIDs and PIDs with another role are refused.
bool take_pmt_pid(Pass* s, uint16_t pid, uint64_t offset) {
  uint32_t slot = 0;
  if (pid < kFirstFreePid || pid == kTsNullPid ||
      (s->slot_of[pid] != 0 && s->index->pids[s->slot_of[pid] - 1u].role != kTsRolePmt)) {
    diag(s, TsDiag::TablePidConflict, pid, offset);
    return false;
  }
  if (track_pid(s, pid, kTsRolePmt, &slot) != ErrorCode::Ok) {
    diag_once(s, TsDiag::TooManyPrograms, pid, offset);
    return false;
  }
  return true;
}

void on_pat(Pass* s, const uint8_t* sec, uint32_t n, uint64_t offset) {
  TsSectionHeader h;
  if (!ts_section_header(sec, n, &h) || h.table_id != kTsTablePat) {
    diag(s, TsDiag::BadSection, kTsPatPid, offset);
    return;
  }
  if (!h.current) return;
  if (!h.crc_ok) {
    diag(s, TsDiag::CrcMismatch, kTsPatPid, offset, kTsTablePat);
    if (s->pat_seen) return;  // used only while nothing better is known
  }
  bool same_version = s->pat_seen && h.version == s->pat_version;
  uint32_t bit = 1u << (h.section_number & 31);
  uint32_t& word = s->pat_sections[h.section_number >> 5];
  if (same_version && (word & bit) != 0 && (s->pat_crc_ok || !h.crc_ok)) return;  // a repetition
  if (s->pat_seen && !same_version) {
    if (s->pat_changes >= kTsMaxTableChanges) {
      diag_once(s, TsDiag::TooManyChanges, kTsPatPid, offset);
      return;
    }
    ++s->pat_changes;
    std::memset(s->pat_sections, 0, sizeof s->pat_sections);
  }
  uint32_t count = 0;
  if (!ts_pat_parse(sec, n, s->pat, &count)) {
    diag(s, TsDiag::BadSection, kTsPatPid, offset);
    return;
  }
  s->pat_seen = true;
  s->pat_version = h.version;
  s->pat_crc_ok = h.crc_ok;
  s->pat_sections[h.section_number >> 5] |= bit;
  TsIndex* x = s->index;
  for (uint32_t i = 0; i < count; ++i) {
    const TsPatEntry& e = s->pat[i];
    TsProgram* program = find_program(x, e.program_number);
    if (program != nullptr) {
      if (program->pmt_pid != e.pmt_pid && take_pmt_pid(s, e.pmt_pid, offset)) program->pmt_pid = e.pmt_pid;
      continue;
    }
    if (x->programs.count >= kTsMaxPrograms) {
      diag_once(s, TsDiag::TooManyPrograms, kTsPatPid, offset);
      continue;
    }
    if (!take_pmt_pid(s, e.pmt_pid, offset)) continue;
    TsProgram p{};
    p.program_number = e.program_number;
    p.pmt_pid = e.pmt_pid;
    p.pcr_pid = kTsNullPid;
    if (x->programs.append(p) != ErrorCode::Ok) return;
  }
}

// Takes a PMT into its program: streams it lists that were not listed
// before are added, streams no longer listed are marked gone.
void apply_pmt(Pass* s, uint32_t program_index, const TsPmt& pmt, const uint8_t* sec, uint64_t offset) {
  TsIndex* x = s->index;
  TsProgram* program = &x->programs[program_index];
  bool first = !program->has_pmt;
  program->pcr_pid = pmt.pcr_pid;
  program->registration = pmt.program.registration;
  if (first) keep_descriptors(s, sec + pmt.info_at, pmt.info_length, &program->info_at, &program->info_length);
  bool hdmv = x->layout.stride == 192 || ts_is_hdmv_registration(pmt.program.registration);
  for (uint32_t i = 0; i < pmt.stream_count; ++i)
    hdmv = hdmv || ts_is_hdmv_registration(pmt.streams[i].descriptors.registration);
  program->hdmv = hdmv;
  uint32_t slot = 0;
  if (pmt.pcr_pid >= kFirstFreePid && pmt.pcr_pid != kTsNullPid && s->slot_of[pmt.pcr_pid] == 0)
    (void)track_pid(s, pmt.pcr_pid, kTsRolePcr, &slot);

  bool listed[kTsMaxStreams] = {};
  for (uint32_t i = 0; i < pmt.stream_count; ++i) {
    const TsPmtStream& e = pmt.streams[i];
    uint16_t at = s->slot_of[e.pid];
    uint8_t role = at != 0 ? x->pids[at - 1u].role : uint8_t{kTsRoleNone};
    if (e.pid < kFirstFreePid || e.pid == kTsNullPid || role == kTsRolePat || role == kTsRolePmt) {
      diag(s, TsDiag::TablePidConflict, e.pid, offset);
      continue;
    }
    bool known = false;
    for (uint32_t k = 0; k < x->streams.count && !known; ++k) {
      const TsStream& t = x->streams[k];
      if (t.program == program_index && t.removed_at == kTsStillListed && t.pid == e.pid &&
          t.stream_type == e.stream_type)
        known = listed[k] = true;
    }
    if (known) continue;
    if (x->streams.count >= kTsMaxStreams || track_pid(s, e.pid, kTsRoleStream, &slot) != ErrorCode::Ok) {
      diag_once(s, TsDiag::TooManyStreams, e.pid, offset);
      continue;
    }
    x->pids[slot].role = kTsRoleStream;
    TsStream t{};
    t.program = program_index;
    t.pid_index = slot;
    t.order = program->streams++;
    t.pid = e.pid;
    t.stream_type = e.stream_type;
    t.added_version = pmt.version;
    t.descriptors = e.descriptors;
    t.cls = ts_classify(e.stream_type, e.descriptors, hdmv);
    t.added_at = offset;
    t.removed_at = kTsStillListed;
    keep_descriptors(s, sec + e.info_at, e.info_length, &t.info_at, &t.info_length);
    if (x->streams.append(t) != ErrorCode::Ok) continue;
    listed[x->streams.count - 1] = true;
    if (t.cls->disposition != TsDisposition::Skipped) s->slots[slot].units = true;
    if (s->options.on_unit != nullptr &&
        (t.cls->disposition == TsDisposition::Carried || t.cls->disposition == TsDisposition::NotYet ||
         t.cls->disposition == TsDisposition::Probe))
      s->slots[slot].gather = true;
  }
  for (uint32_t k = 0; k < x->streams.count; ++k) {
    TsStream& t = x->streams[k];
    if (t.program == program_index && t.removed_at == kTsStillListed && !listed[k]) t.removed_at = offset;
  }
  program->version = pmt.version;
  program->has_pmt = true;
  program->pmt_crc_ok = pmt.crc_ok;
}

void on_pmt(Pass* s, uint16_t pid, const uint8_t* sec, uint32_t n, uint64_t offset) {
  TsSectionHeader h;
  if (!ts_section_header(sec, n, &h)) {
    diag(s, TsDiag::BadSection, pid, offset);
    return;
  }
  if (h.table_id != kTsTablePmt || !h.current) return;  // other tables may share the PID
  TsIndex* x = s->index;
  uint32_t program_index = UINT32_MAX;
  for (uint32_t i = 0; i < x->programs.count; ++i)
    if (x->programs[i].pmt_pid == pid && x->programs[i].program_number == h.id_extension) program_index = i;
  if (program_index == UINT32_MAX) return;  // a program the PAT does not list
  TsProgram& program = x->programs[program_index];
  if (h.section_number != 0) {
    diag(s, TsDiag::BadSection, pid, offset);
    return;
  }
  if (!h.crc_ok) {
    diag(s, TsDiag::CrcMismatch, pid, offset, kTsTablePmt);
    if (program.has_pmt) return;  // used only while nothing better is known
  }
  bool change = program.has_pmt && h.version != program.version;
  if (program.has_pmt && !change && (program.pmt_crc_ok || !h.crc_ok)) return;  // a repetition
  if (change && program.changes >= kTsMaxTableChanges) {
    diag_once(s, TsDiag::TooManyChanges, pid, offset);
    return;
  }
  if (!ts_pmt_parse(sec, n, &s->pmt)) {
    diag(s, TsDiag::BadSection, pid, offset);
    return;
  }
  if (change) {
    ++program.changes;
    diag(s, TsDiag::PmtVersion, pid, offset, (uint32_t{program.program_number} << 8) | h.version);
  }
  apply_pmt(s, program_index, s->pmt, sec, offset);
}

ErrorCode on_table_packet(Pass* s, uint32_t si, const TsPacket& pkt, const uint8_t* p, uint64_t offset) {
  Slot& slot = s->slots[si];
  if (slot.section == nullptr) {
    slot.section = static_cast<TsSectionBuffer*>(std::calloc(1, sizeof(TsSectionBuffer)));
    if (slot.section == nullptr) return ErrorCode::OutOfMemory;
  }
  switch (ts_continuity(&slot.cc, pkt)) {
    case TsAdmit::Skip:
      return ErrorCode::Ok;
    case TsAdmit::GapPayload:
      diag(s, TsDiag::ContinuityGap, pkt.pid, offset);
      ts_section_reset(slot.section);
      break;
    case TsAdmit::Unusable:
      ts_section_reset(slot.section);
      return ErrorCode::Ok;
    case TsAdmit::Payload:
      break;
  }
  uint16_t pid = pkt.pid;
  uint8_t role = s->index->pids[si].role;
  TsSectionFeed feed = ts_section_feed(p + pkt.payload_at, kTsPacketSize - pkt.payload_at, pkt.unit_start);
  for (;;) {
    const uint8_t* section = nullptr;
    uint32_t length = 0;
    TsSectionStep step = ts_section_next(slot.section, &feed, &section, &length);
    if (step == TsSectionStep::Done) return ErrorCode::Ok;
    if (step != TsSectionStep::Section) {
      diag(s, TsDiag::BadSection, pid, offset);
      continue;
    }
    if (role == kTsRolePat)
      on_pat(s, section, length, offset);
    else
      on_pmt(s, pid, section, length, offset);
  }
}

ErrorCode finish_unit(Pass* s, uint32_t si, bool at_end) {
  Slot& slot = s->slots[si];
  PesAssembly& a = *slot.pes;
  TsPid& pid = s->index->pids[si];
  a.active = false;
  if (!a.header_done) {
    diag(s, TsDiag::BadPesHeader, pid.pid, slot.current.offset);
    return ErrorCode::Ok;
  }
  PesRecord r = slot.current;
  r.length = a.payload;
  if (a.declared == kPesUnbounded) {
    if (at_end) r.flags |= kPesOpenAtEnd;
  } else if (a.payload < a.declared && (r.flags & kPesBroken) == 0) {  // a broken one is short already
    if (at_end) {
      r.flags |= kPesCutAtEnd;
    } else {
      r.flags |= kPesShort;
      diag(s, TsDiag::PesShort, pid.pid, r.offset);
    }
  }
  if (slot.too_large) r.flags |= kPesTooLarge;
  const PesRecord* kept = &r;
  if (!s->options.drop_units) {
    VT_TRY(pid.pes.append_doubling(r));
    kept = &pid.pes.back();
  }
  uint32_t unit = pid.units;
  if (pid.units != UINT32_MAX) ++pid.units;
  if (slot.gather) {
    TsUnitEvent event{s->index, si, unit, kept, slot.too_large ? nullptr : slot.gathered.items,
                      slot.too_large ? nullptr : &slot.gathered};
    VT_TRY(s->options.on_unit(s->options.user, &event));
  }
  slot.gathered.clear();
  slot.too_large = false;
  return ErrorCode::Ok;
}

// Marks the unit in progress as missing bytes.
void break_unit(Slot* slot) {
  if (slot->pes->active) slot->current.flags |= kPesBroken;
}

// A unit's payload bytes from one packet: gathered, and the unit finished
// when they reach its announced length.
ErrorCode take_payload(Pass* s, uint32_t si, uint16_t pid, uint64_t offset, const uint8_t* data, uint32_t count,
                       uint32_t extra) {
  Slot& slot = s->slots[si];
  if (extra > 0) {
    slot.current.flags |= kPesOverrun;
    diag(s, TsDiag::PesOverrun, pid, offset);
  }
  if (slot.gather && !slot.too_large && count > 0) {
    if (uint64_t{slot.gathered.count} + count > s->options.max_unit_bytes) {
      slot.too_large = true;
      diag(s, TsDiag::UnitTooLarge, pid, slot.current.offset);
      slot.gathered.clear();
    } else {
      VT_TRY(ts_append_bytes(&slot.gathered, data, count));
    }
  }
  if (!slot.pes->active) {  // complete at its announced length
    slot.ended_at_length = true;
    return finish_unit(s, si, false);
  }
  return ErrorCode::Ok;
}

ErrorCode on_stream_packet(Pass* s, uint32_t si, const TsPacket& pkt, const uint8_t* p, uint64_t offset) {
  Slot& slot = s->slots[si];
  if (slot.pes == nullptr) {
    slot.pes = static_cast<PesAssembly*>(std::calloc(1, sizeof(PesAssembly)));
    if (slot.pes == nullptr) return ErrorCode::OutOfMemory;
  }
  PesAssembly& a = *slot.pes;
  if (pkt.discontinuity) {
    slot.pending_discontinuity = true;
    diag(s, TsDiag::Discontinuity, pkt.pid, offset);
  }
  if (!slot.units) return ErrorCode::Ok;
  switch (ts_continuity(&slot.cc, pkt)) {
    case TsAdmit::Skip:
      return ErrorCode::Ok;
    case TsAdmit::GapPayload:
      diag(s, TsDiag::ContinuityGap, pkt.pid, offset);
      break_unit(&slot);
      slot.lost = true;
      break;
    case TsAdmit::Unusable:
      diag(s,
           pkt.error          ? TsDiag::TransportError
           : pkt.malformed    ? TsDiag::BadAdaptation
           : pkt.scrambling   ? TsDiag::Scrambled
                              : TsDiag::RepeatedPacket,
           pkt.pid, offset);
      break_unit(&slot);
      slot.lost = true;
      // A unit that began here is lost from its start.
      if (pkt.unit_start && a.active) return finish_unit(s, si, false);
      return ErrorCode::Ok;
    case TsAdmit::Payload:
      break;
  }
  if (pkt.unit_start) {
    if (a.active) VT_TRY(finish_unit(s, si, false));
    pes_begin(&a);
    slot.current = PesRecord{};
    slot.current.offset = offset;
    if (pkt.random_access) slot.current.flags |= kPesRandomAccess;
    // Lost packets may have held the end of the unit before, or whole units.
    if (slot.lost) slot.current.flags |= kPesGapBefore;
    slot.lost = false;
    if (slot.pending_discontinuity) slot.current.flags |= kPesDiscontinuity;
    slot.pending_discontinuity = false;
  } else if (!a.active) {
    // Bytes before the first unit, after a unit that ended at its length
    // (left out), or of a unit whose start was lost.
    if (slot.ended_at_length) diag(s, TsDiag::PesOverrun, pkt.pid, offset);
    return ErrorCode::Ok;
  }
  slot.ended_at_length = false;
  bool had_header = a.header_done;
  const uint8_t* data = nullptr;
  uint32_t count = 0;
  uint32_t extra = 0;
  PesFeed fed = pes_feed(&a, p + pkt.payload_at, kTsPacketSize - pkt.payload_at, &data, &count, &extra);
  if (fed != PesFeed::Payload) {
    diag(s, fed == PesFeed::NotPes ? TsDiag::NotPes : TsDiag::BadPesHeader, pkt.pid, slot.current.offset);
    a.header_done = false;  // nothing of it is kept
    return ErrorCode::Ok;
  }
  if (!had_header && a.header_done) {
    pes_record_set_times(&slot.current, a.parsed);
    slot.current.stream_id = a.parsed.stream_id;
    if (a.parsed.stream_id == 0xFD && a.parsed.stream_id_extension != 0) {
      slot.current.stream_id = a.parsed.stream_id_extension;
      slot.current.flags |= kPesExtendedId;
    }
    if (a.parsed.aligned) slot.current.flags |= kPesAligned;
    if (a.parsed.marker_error) diag(s, TsDiag::MarkerBits, pkt.pid, slot.current.offset);
  }
  return take_payload(s, si, pkt.pid, offset, data, count, extra);
}

// Most packets of a stream: payload only, no error, no unit start, the
// next counter, inside a unit whose header is read. What on_stream_packet
// makes of them, without parsing the header again; false for any other.
bool plain_stream_packet(Pass* s, uint32_t si, const uint8_t* p, uint64_t offset, ErrorCode* e) {
  Slot& slot = s->slots[si];
  PesAssembly* a = slot.pes;
  const uint8_t counter = p[3] & 0x0F;
  if ((p[1] & 0xC0) != 0 || (p[3] & 0xF0) != 0x10 || a == nullptr || !slot.units || !a->active || !a->header_done ||
      slot.cc.last >= 0x10 || counter != ((slot.cc.last + 1) & 0x0F))
    return false;
  slot.cc.last = counter;
  slot.cc.repeats = 0;
  slot.ended_at_length = false;
  uint32_t count = kTsPacketSize - 4;
  uint32_t extra = 0;
  if (a->declared != kPesUnbounded && count > a->declared - a->payload) {
    extra = count - (a->declared - a->payload);
    count = a->declared - a->payload;
  }
  a->payload += count;
  if (pes_complete(*a)) a->active = false;
  *e = take_payload(s, si, ts_pid_of(p), offset, p + 4, count, extra);
  return true;
}

void on_pcr_packet(Pass* s, const TsPacket& pkt, uint64_t offset) {
  if (pkt.discontinuity) diag(s, TsDiag::Discontinuity, pkt.pid, offset);
}

ErrorCode walk(Pass* s) {
  TsIndex* x = s->index;
  TsWalker walker{&s->window, x->layout, x->layout.first};
  for (;;) {
    const uint8_t* p = nullptr;
    uint64_t offset = 0;
    TsStep step;
    TsStepNote note;
    VT_TRY(ts_walk_next(&walker, &p, &offset, &step, &note));
    if (step != TsStep::Packet) {
      if (note.skipped > 0)
        diag(s, TsDiag::LostSync, kTsNullPid, note.lost_at, note.skipped > UINT32_MAX ? UINT32_MAX
                                                                                        : static_cast<uint32_t>(note.skipped));
      if (step == TsStep::End) {
        if (note.cut > 0) diag(s, TsDiag::CutPacket, kTsNullPid, walker.next, note.cut);
        return ErrorCode::Ok;
      }
    }
    ++x->packets;
    uint16_t at = s->slot_of[ts_pid_of(p)];
    if (at == 0) {
      ++x->untracked_packets;
      continue;
    }
    uint32_t si = at - 1u;
    TsPid& pid = x->pids[si];
    ++pid.packets;
    ErrorCode e = ErrorCode::Ok;
    if (pid.role == kTsRoleStream && plain_stream_packet(s, si, p, offset, &e)) {
      VT_TRY(e);
      continue;
    }
    TsPacket pkt;
    ts_packet_parse(p, &pkt);
    if (pkt.has_pcr) {
      if (pid.pcr_count == 0) pid.first_pcr = pkt.pcr;
      ++pid.pcr_count;
    }
    switch (pid.role) {
      case kTsRoleStream:
        VT_TRY(on_stream_packet(s, si, pkt, p, offset));
        break;
      case kTsRolePat:
      case kTsRolePmt:
        VT_TRY(on_table_packet(s, si, pkt, p, offset));
        break;
      default:
        on_pcr_packet(s, pkt, offset);
        break;
    }
  }
}

void count_program_packets(TsIndex* x) {
  for (uint32_t i = 0; i < x->programs.count; ++i) {
    uint64_t total = 0;
    for (uint32_t k = 0; k < x->streams.count; ++k) {
      const TsStream& t = x->streams[k];
      if (t.program != i) continue;
      bool counted = false;
      for (uint32_t j = 0; j < k && !counted; ++j)
        counted = x->streams[j].program == i && x->streams[j].pid_index == t.pid_index;
      if (!counted) total += x->pids[t.pid_index].packets;
    }
    x->programs[i].packets = total;
  }
}

void release_pass(Pass* s) {
  if (s == nullptr) return;
  for (Slot& slot : s->slots) {
    std::free(slot.section);
    std::free(slot.pes);
    slot.gathered.release();
  }
  s->slots.release();
  ts_window_release(&s->window);
  std::free(s);
}

struct PassDeleter {
  void operator()(Pass* s) const { release_pass(s); }
};

}  // namespace

const char* ts_diag_name(TsDiag kind) {
  uint32_t k = static_cast<uint32_t>(kind);
  return k < kTsDiagKinds ? kDiagNames[k] : "unknown";
}

void ts_stream_units(const TsIndex* index, const TsStream* stream, uint32_t* first, uint32_t* count) {
  const GrowArray<PesRecord>& pes = index->pids[stream->pid_index].pes;
  // The first unit at or after an offset, by halving: units are in file order.
  auto at_or_after = [&pes](uint64_t offset) {
    uint32_t lo = 0;
    uint32_t hi = pes.count;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2;
      if (pes[mid].offset < offset)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  };
  uint32_t begin = at_or_after(stream->added_at);
  uint32_t end = stream->removed_at == kTsStillListed ? pes.count : at_or_after(stream->removed_at);
  *first = begin;
  *count = end > begin ? end - begin : 0;
}

ErrorCode ts_choose_program(const TsIndex* index, uint16_t program_number, uint32_t* out) {
  if (index == nullptr || out == nullptr) return ErrorCode::BadArgument;
  uint32_t best = UINT32_MAX;
  for (uint32_t i = 0; i < index->programs.count; ++i) {
    const TsProgram& p = index->programs[i];
    if (!p.has_pmt) continue;
    if (program_number != 0) {
      if (p.program_number == program_number) best = i;
    } else if (best == UINT32_MAX || p.packets > index->programs[best].packets) {
      best = i;
    }
  }
  if (best == UINT32_MAX) return ErrorCode::Missing;
  *out = best;
  return ErrorCode::Ok;
}

ErrorCode ts_index_build(FileIo* file, const TsIndexOptions* options, TsIndex* index) {
  if (file == nullptr || index == nullptr) return ErrorCode::BadArgument;
  *index = TsIndex{};
  index->chosen = UINT32_MAX;
  std::unique_ptr<Pass, PassDeleter> pass(alloc_record<Pass>());
  if (pass == nullptr) return ErrorCode::OutOfMemory;
  Pass* s = pass.get();
  s->index = index;
  if (options != nullptr) s->options = *options;
  if (s->options.max_unit_bytes == 0) s->options.max_unit_bytes = kDefaultUnitBytes;
  if (s->options.read_size == 0) s->options.read_size = kDefaultReadSize;
  VT_TRY(ts_window_open(&s->window, file, s->options.read_size, 0));
  index->file_size = s->window.file_size;

  const uint8_t* head = nullptr;
  uint32_t got = 0;
  uint64_t size = index->file_size;
  VT_TRY(ts_window_fill(&s->window, 0, size < s->window.capacity ? static_cast<uint32_t>(size) : s->window.capacity,
                        &head, &got));
  if (!ts_find_layout(head, got, got == size, &index->layout)) return ErrorCode::Unsupported;

  VT_TRY(index->pids.reserve(kMaxSlots));
  VT_TRY(s->slots.reserve(kMaxSlots));
  VT_TRY(index->diagnostics.reserve(kTsMaxDiagnostics));
  uint32_t slot = 0;
  VT_TRY(track_pid(s, kTsPatPid, kTsRolePat, &slot));
  uint64_t lead = index->layout.first - (index->layout.stride == 192 && index->layout.first >= 4 ? 4 : 0);
  if (lead > 0) diag(s, TsDiag::LostSync, kTsNullPid, 0, static_cast<uint32_t>(lead));
  VT_TRY(walk(s));
  for (uint32_t i = 0; i < s->slots.count; ++i)
    if (s->slots[i].pes != nullptr && s->slots[i].pes->active) VT_TRY(finish_unit(s, i, true));

  count_program_packets(index);
  uint32_t chosen = 0;
  ErrorCode e = ts_choose_program(index, s->options.program_number, &chosen);
  if (e != ErrorCode::Ok) return e;
  index->chosen = chosen;
  if (!s->options.keep_other_programs) {
    for (uint32_t i = 0; i < index->pids.count; ++i) {
      bool used = false;
      for (const TsStream& t : index->streams) used = used || (t.program == chosen && t.pid_index == i);
      if (!used) index->pids[i].pes.release();
    }
  }
  return ErrorCode::Ok;
}

void ts_index_release(TsIndex* index) {
  if (index == nullptr) return;
  for (TsPid& p : index->pids) p.pes.release();
  index->programs.release();
  index->streams.release();
  index->pids.release();
  index->descriptor_bytes.release();
  index->diagnostics.release();
}

}  // namespace vantorel
