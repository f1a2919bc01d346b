#pragma once
// What a transport stream import tells the user beside its tracks: the
// program taken with its PIDs and stream types, the streams left out and
// why, timestamp jumps, and what went wrong in the packets, each with its
// PID and byte offset. They become the file's import notes, which --info
// lists and a remux reports.
#include <cstdint>

#include "import/import_file.h"
#include "import/mpegts/ts_access.h"
#include "import/mpegts/ts_index.h"

namespace vantorel {

// "program 1 of 2 (PMT PID 0x1000): PID 0x0100 H.264 (type 0x1B), ...",
// put before the other notes.
void ts_note_program(ImportFile* file, const TsIndex* index);
// A stream that gets no track: its reason, or the one its kind gives.
// A program stream's streams are named by their stream ids ("stream 0xBD
// 0x80" for a private stream's sub-stream), a transport stream's by PID.
ErrorCode ts_note_left_out(ImportFile* file, const TsIndex* index, const TsStream* stream, const char* why);
ErrorCode ts_note_stream(ImportFile* file, const TsIndex* index, const TsStream* stream);
void ts_note_jump(ImportFile* file, uint64_t offset, bool back, uint32_t jumps);
// One note per kind of fault found in the packets, with the first one's
// PID and offset and how many there were; and audio bytes passed over.
void ts_note_diagnostics(ImportFile* file, const TsIndex* index, TsStreamAccess* const* streams, uint32_t count);

}  // namespace vantorel
