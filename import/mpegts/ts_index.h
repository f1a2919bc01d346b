#pragma once
// The first pass over a transport stream: every packet read once, in large
// blocks; the program tables followed; each unit of each elementary stream
// recorded in 24 bytes (or handed whole to a caller that splits it into
// access units); and what went wrong, with its PID and byte offset. Memory
// and time are bounded for any input: the programs, streams, PMT changes
// and diagnostics kept are capped, a unit is gathered only up to a limit,
// and no count read from the file is trusted beyond the packets it has.
#include <cstdint>

#include "import/mpegts/ts_packet.h"
#include "import/mpegts/ts_pes.h"
#include "import/mpegts/ts_psi.h"
#include "import/mpegts/ts_streams.h"
#include "io/file_io.h"
#include "io/grow_array.h"

namespace vantorel {

constexpr uint32_t kTsMaxPrograms = 64;
constexpr uint32_t kTsMaxStreams = 256;       // over all programs and PMT versions
constexpr uint32_t kTsMaxTableChanges = 64;   // PAT or PMT versions taken, per table
constexpr uint32_t kTsMaxDiagnostics = 256;   // kept in full; beyond, only counted
constexpr uint32_t kTsMaxDescriptorBytes = 1u << 20;

// What went wrong (or, for Discontinuity and PmtVersion, what happened).
enum class TsDiag : uint8_t {
  LostSync,          // offset: where a sync byte was expected; value: bytes passed over
  CutPacket,         // offset: the cut packet; value: its bytes
  ContinuityGap,     // packets lost on the PID before this one
  RepeatedPacket,    // a continuity counter repeated more than once
  TransportError,    // transport_error_indicator
  Scrambled,         // scrambled payload
  BadAdaptation,     // adaptation field longer than the packet, or a reserved control
  CrcMismatch,       // value: table id; the section was used if nothing better was known
  BadSection,        // a section that does not parse, or lost between packets
  PmtVersion,        // value: program_number << 8 | version
  TablePidConflict,  // a table or stream named at a PID that has another role, or a reserved one
  NotPes,            // a unit that does not start with a PES header
  BadPesHeader,      // a PES header that contradicts itself, or a unit cut before its header ended
  PesShort,          // a unit ended before its announced length
  PesOverrun,        // payload past a unit's announced length
  MarkerBits,        // timestamps with wrong marker bits
  Discontinuity,     // a discontinuity indicator
  TooManyPrograms,
  TooManyStreams,
  TooManyChanges,    // a table changed more often than kTsMaxTableChanges
  UnitTooLarge,      // a unit larger than the gathering limit
  Count,
};
constexpr uint32_t kTsDiagKinds = static_cast<uint32_t>(TsDiag::Count);

// Short English words for messages ("continuity gap").
const char* ts_diag_name(TsDiag kind);

struct TsDiagnostic {
  uint64_t offset;  // sync byte of the packet where it was found
  uint32_t value;
  uint16_t pid;
  TsDiag kind;
};

enum TsPidRole : uint8_t { kTsRoleNone = 0, kTsRolePat, kTsRolePmt, kTsRolePcr, kTsRoleStream };

struct TsProgram {
  uint16_t program_number;
  uint16_t pmt_pid;
  uint16_t pcr_pid;
  uint8_t version;    // of the PMT in use
  bool has_pmt;
  bool pmt_crc_ok;    // the PMT in use had a correct CRC
  bool hdmv;          // a Blu-ray registration on the program or a stream, or 192-byte packets
  FourCC registration;
  uint32_t changes;   // PMT versions taken after the first
  uint32_t streams;   // streams it has listed, over all versions
  uint32_t info_at;   // program_info descriptors of its first PMT, in descriptor_bytes
  uint32_t info_length;
  uint64_t packets;   // packets on its streams' PIDs
};

constexpr uint64_t kTsStillListed = UINT64_MAX;

// One elementary stream of a program. A stream that a later PMT version
// drops keeps its record with the offset where it went; one that a later
// version adds gets a record with the offset where it came.
struct TsStream {
  uint32_t program;    // index in TsIndex::programs
  uint32_t pid_index;  // index in TsIndex::pids
  uint32_t order;      // in the program, in the order the PMTs list them
  uint16_t pid;
  uint8_t stream_type;
  uint8_t added_version;
  const TsStreamClass* cls;
  TsDescriptors descriptors;
  uint32_t info_at;  // ES_info descriptors in descriptor_bytes
  uint32_t info_length;
  uint64_t added_at;    // packet that completed the PMT first listing it
  uint64_t removed_at;  // packet that completed the PMT that dropped it; kTsStillListed
};

struct TsPid {
  uint16_t pid;
  uint8_t role;  // TsPidRole
  uint64_t packets;
  uint64_t pcr_count;
  uint64_t first_pcr;  // 27 MHz; valid when pcr_count > 0
  uint32_t units;      // units finished (kept or not)
  GrowArray<PesRecord> pes;
};

struct TsIndex {
  TsLayout layout;
  uint64_t file_size;
  uint64_t packets;            // whole packets read
  uint64_t untracked_packets;  // on PIDs no table had named yet (or ever), and null packets
  GrowArray<TsProgram> programs;  // in the order the PAT lists them
  GrowArray<TsStream> streams;
  GrowArray<TsPid> pids;
  GrowArray<uint8_t> descriptor_bytes;
  GrowArray<TsDiagnostic> diagnostics;
  uint32_t diagnostic_counts[kTsDiagKinds];
  uint32_t chosen;  // index in programs; UINT32_MAX when no program has a PMT
  // Filled from a program stream's packs: one program, a stream per stream
  // id (and private sub-stream), each PID the id in its high byte and the
  // sub-stream id in its low one.
  bool program_stream;
};

// A finished unit of a stream that is carried (or will be, or has to be
// looked at to tell), with its payload gathered, for the layer that splits
// it into access units.
struct TsUnitEvent {
  const TsIndex* index;
  uint32_t pid_index;
  uint32_t unit;            // its number on the PID, from 0 (its record when units are kept)
  const PesRecord* record;  // flags, times, offset and payload length
  const uint8_t* payload;   // record->length bytes; null when kPesTooLarge
  // The storage `payload` lies in: a handler may take it whole, leaving an
  // empty array of its own in its place, rather than copy the bytes.
  GrowArray<uint8_t>* storage;
};
using TsUnitHandler = ErrorCode (*)(void* user, const TsUnitEvent* event);

struct TsIndexOptions {
  uint16_t program_number;   // 0: the program with the most packets
  bool keep_other_programs;  // keep the unit records of PIDs outside the chosen program
  bool drop_units;           // keep no PesRecord (the handler keeps what it needs)
  TsUnitHandler on_unit;     // null: no payload is gathered
  void* user;
  uint32_t max_unit_bytes;   // 0: 64 MiB
  uint32_t read_size;        // 0: 1 MiB
};

// Runs the first pass over `file`. Unsupported when no packets are found
// at its start; Missing when the program asked for is not there (the index
// is filled nonetheless, for a listing); Io, OutOfMemory, or a handler's
// error otherwise. The index is released by ts_index_release in every case.
ErrorCode ts_index_build(FileIo* file, const TsIndexOptions* options, TsIndex* index);
void ts_index_release(TsIndex* index);

// The units of a stream: those of its PID that begin while the PMT lists
// it, [*first, *first + *count) of pids[stream->pid_index].pes (a PID that
// a later PMT version gives another stream type has units of both).
void ts_stream_units(const TsIndex* index, const TsStream* stream, uint32_t* first, uint32_t* count);

// The program the pass would take: `program_number`'s, or when it is 0 the
// one with the most packets (the first of them on a tie). Missing when
// there is no such program or none has a PMT.
ErrorCode ts_choose_program(const TsIndex* index, uint16_t program_number, uint32_t* out);

}  // namespace vantorel
