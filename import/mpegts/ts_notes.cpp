#include "import/mpegts/ts_notes.h"

#include <cstdarg>
#include <cstdio>

namespace vantorel {

namespace {

void note(ImportFile* file, const char* format, ...) {
  if (file->note_count >= kMaxImportNotes) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(file->notes[file->note_count++].text, sizeof file->notes[0].text, format, args);
  va_end(args);
}

// The faults worth telling, in the order they are told.
constexpr TsDiag kTold[] = {TsDiag::ContinuityGap, TsDiag::CrcMismatch,    TsDiag::LostSync,   TsDiag::CutPacket,
                            TsDiag::TransportError, TsDiag::Scrambled,     TsDiag::BadPesHeader, TsDiag::PesShort,
                            TsDiag::BadSection,     TsDiag::TablePidConflict, TsDiag::UnitTooLarge};

const char* consequence(TsDiag kind) {
  switch (kind) {
    case TsDiag::ContinuityGap:
    case TsDiag::TransportError:
    case TsDiag::Scrambled:
    case TsDiag::BadPesHeader:
    case TsDiag::UnitTooLarge: return ": the access units it broke are dropped";
    case TsDiag::CrcMismatch: return ": the table was used as nothing better was known";
    case TsDiag::CutPacket: return ": the last access unit it cut is dropped";
    default: return "";
  }
}

}  // namespace

void ts_note_program(ImportFile* file, const TsIndex* index) {
  const TsProgram& p = index->programs[index->chosen];
  char text[sizeof file->notes[0].text];
  int at = index->program_stream ? std::snprintf(text, sizeof text, "program stream:")
                                 : std::snprintf(text, sizeof text, "transport stream program %u of %u (PMT PID 0x%04X):",
                                                 p.program_number, index->programs.count, p.pmt_pid);
  for (const TsStream& s : index->streams) {
    if (s.program != index->chosen || at < 0 || static_cast<size_t>(at) >= sizeof text) continue;
    if (!index->program_stream)
      at += std::snprintf(text + at, sizeof text - at, " PID 0x%04X %s (type 0x%02X)", s.pid, s.cls->name, s.stream_type);
    else if ((s.pid & 0xFF) != 0)
      at += std::snprintf(text + at, sizeof text - at, " 0x%02X 0x%02X %s", s.pid >> 8, s.pid & 0xFF, s.cls->name);
    else
      at += std::snprintf(text + at, sizeof text - at, " 0x%02X %s", s.pid >> 8, s.cls->name);
  }
  // First, before the notes already made.
  if (file->note_count == kMaxImportNotes) --file->note_count;
  for (uint32_t i = file->note_count; i > 0; --i) file->notes[i] = file->notes[i - 1];
  ++file->note_count;
  std::snprintf(file->notes[0].text, sizeof file->notes[0].text, "%s", text);
}

ErrorCode ts_note_left_out(ImportFile* file, const TsIndex* index, const TsStream* stream, const char* why) {
  if (!index->program_stream)
    note(file, "PID 0x%04X (%s, stream type 0x%02X) is left out: %s", stream->pid, stream->cls->name,
         stream->stream_type, why);
  else if ((stream->pid & 0xFF) != 0)
    note(file, "stream 0x%02X 0x%02X (%s) is left out: %s", stream->pid >> 8, stream->pid & 0xFF, stream->cls->name,
         why);
  else
    note(file, "stream 0x%02X (%s) is left out: %s", stream->pid >> 8, stream->cls->name, why);
  return ErrorCode::Ok;
}

ErrorCode ts_note_stream(ImportFile* file, const TsIndex* index, const TsStream* stream) {
  const TsStreamClass* c = stream->cls;
  if (c->disposition == TsDisposition::Skipped) return ErrorCode::Ok;
  const char* why = c->reason != nullptr ? c->reason : "Vantorel does not carry it from transport streams yet";
  if (c->disposition == TsDisposition::Probe) why = "private data that no descriptor names";
  return ts_note_left_out(file, index, stream, why);
}

void ts_note_jump(ImportFile* file, uint64_t offset, bool back, uint32_t jumps) {
  note(file, "timestamps jump %s at byte %llu (%u jump%s in all): the stretches are joined end to end",
       back ? "back" : "ahead", static_cast<unsigned long long>(offset), jumps, jumps == 1 ? "" : "s");
}

void ts_note_diagnostics(ImportFile* file, const TsIndex* index, TsStreamAccess* const* streams, uint32_t count) {
  for (TsDiag kind : kTold) {
    const uint32_t n = index->diagnostic_counts[static_cast<uint32_t>(kind)];
    if (n == 0) continue;
    const TsDiagnostic* first = nullptr;
    for (const TsDiagnostic& d : index->diagnostics)
      if (d.kind == kind && first == nullptr) first = &d;
    if (first == nullptr) continue;
    if (first->pid == kTsNullPid)
      note(file, "%s at byte %llu (%u in all)%s", ts_diag_name(kind), static_cast<unsigned long long>(first->offset), n,
           consequence(kind));
    else
      note(file, "%s on PID 0x%04X at byte %llu (%u in all)%s", ts_diag_name(kind), first->pid,
           static_cast<unsigned long long>(first->offset), n, consequence(kind));
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (streams[i]->resyncs == 0) continue;
    const uint16_t pid = index->pids[streams[i]->pid_index].pid;
    if (index->program_stream)
      note(file, "%llu bytes of stream 0x%02X were passed over to find frames",
           static_cast<unsigned long long>(streams[i]->resyncs), pid >> 8);
    else
      note(file, "%llu bytes of PID 0x%04X were passed over to find frames",
           static_cast<unsigned long long>(streams[i]->resyncs), pid);
  }
}

}  // namespace vantorel
