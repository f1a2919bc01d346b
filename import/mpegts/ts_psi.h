#pragma once
// Program tables: sections gathered from the packets of one PID (pointer
// field, sections across packets, several in one packet), their CRC, the
// program association and program map sections, and the descriptors the
// import reads from them.
#include <cstdint>

#include "io/fourcc.h"

namespace vantorel {

// A program association or map section is at most 1024 bytes (a
// section_length of at most 1021).
constexpr uint32_t kTsMaxSection = 1024;

// CRC-32 of MPEG-2 sections: polynomial 0x04C11DB7, initial value all ones,
// no reflection, no final inversion. Over a whole section, CRC included,
// it is 0 when the section is intact.
uint32_t ts_crc32(const uint8_t* p, uint32_t n, uint32_t crc = 0xFFFFFFFFu);

// The section being gathered on one PID.
struct TsSectionBuffer {
  uint8_t bytes[kTsMaxSection];
  uint32_t have;  // bytes gathered
  uint32_t want;  // length of the section in progress; 0 when none is
};

// One packet's payload, handed out section by section.
struct TsSectionFeed {
  const uint8_t* p;  // bytes where new sections begin
  uint32_t n;
  const uint8_t* tail;  // bytes that continue the section in progress
  uint32_t tail_n;
  bool unit_start;  // the payload begins with a pointer field
  bool started;     // the pointer field has been read
};

enum class TsSectionStep : uint8_t {
  Section,    // a complete section in (*section, *length)
  Done,       // the payload is used up
  Dropped,    // the section in progress was not complete where the next one begins: it is
              // dropped, and the feed goes on
  Malformed,  // a pointer field past the payload, or a section longer than kTsMaxSection:
              // what was in progress is dropped and the rest of the payload with it
};

inline TsSectionFeed ts_section_feed(const uint8_t* payload, uint32_t n, bool unit_start) {
  return TsSectionFeed{payload, n, nullptr, 0, unit_start, false};
}

// The next complete section of a packet's payload. A section in progress
// is continued from the bytes before the pointer field's target, a new one
// begins there; stuffing (0xFF where a table id would be) ends the payload.
// A section that is not complete at the end of the payload stays in the
// buffer for the next packet. A payload without a unit start only
// continues a section in progress.
TsSectionStep ts_section_next(TsSectionBuffer* buffer, TsSectionFeed* feed, const uint8_t** section, uint32_t* length);

// Packets were lost on the PID: the section in progress is dropped.
inline void ts_section_reset(TsSectionBuffer* buffer) { buffer->have = buffer->want = 0; }

// The long-form header shared by the program tables.
struct TsSectionHeader {
  uint8_t table_id;
  uint16_t section_length;
  uint16_t id_extension;  // transport_stream_id or program_number
  uint8_t version;
  bool current;
  uint8_t section_number;
  uint8_t last_section_number;
  bool crc_ok;
};

// Reads the header of a complete section of `n` bytes and checks its CRC.
// False when it is not a long-form section that holds its header and CRC.
bool ts_section_header(const uint8_t* s, uint32_t n, TsSectionHeader* out);

constexpr uint8_t kTsTablePat = 0x00;
constexpr uint8_t kTsTablePmt = 0x02;

struct TsPatEntry {
  uint16_t program_number;
  uint16_t pmt_pid;
};
constexpr uint32_t kTsMaxPatEntries = 253;  // what a section can hold

// The programs of a PAT section (the network PID of program 0 left out).
// False when it is not a PAT section.
bool ts_pat_parse(const uint8_t* s, uint32_t n, TsPatEntry* out, uint32_t* count);

// Descriptor tags read.
enum : uint8_t {
  kTsDescRegistration = 0x05,
  kTsDescLanguage = 0x0A,
  kTsDescVbiData = 0x45,
  kTsDescVbiTeletext = 0x46,
  kTsDescTeletext = 0x56,
  kTsDescSubtitling = 0x59,
  kTsDescAc3 = 0x6A,
  kTsDescEac3 = 0x7A,
  kTsDescDts = 0x7B,
  kTsDescAac = 0x7C,
  kTsDescExtension = 0x7F,
  kTsDescExtensionOpus = 0x80,  // a descriptor_tag_extension: Opus's channel configuration
};

// What a descriptor loop says, in the fields the import uses; the loop's
// bytes themselves are kept by whoever holds the table.
struct TsDescriptors {
  FourCC registration;  // format_identifier of the first registration descriptor; zero when none
  char language[4];     // ISO 639 code of the first language entry (language, teletext or subtitling), NUL-ended
  uint8_t audio_type;   // of that language entry (language descriptor only)
  uint8_t extension_tag;  // descriptor_tag_extension of the first extension descriptor
  bool has_opus_channels;  // an extension descriptor 0x80 (Opus) gave
  uint8_t opus_channels;   // its channel configuration code
  uint16_t count;       // descriptors in the loop
  bool cut;             // a descriptor ran past the loop; the ones before it were read
  uint32_t tags[8];     // one bit per descriptor tag seen
};

inline bool ts_has_tag(const TsDescriptors& d, uint8_t tag) { return (d.tags[tag >> 5] >> (tag & 31) & 1) != 0; }

// Reads a descriptor loop of `n` bytes.
void ts_descriptors_parse(const uint8_t* d, uint32_t n, TsDescriptors* out);
// The first extension descriptor with `extension_tag` in a loop of `n`
// bytes: its bytes after that tag. False when the loop holds none whole.
bool ts_find_extension(const uint8_t* d, uint32_t n, uint8_t extension_tag, const uint8_t** body, uint32_t* length);

struct TsPmtStream {
  uint8_t stream_type;
  uint16_t pid;
  uint16_t info_at;      // ES_info descriptors: offset in the section
  uint16_t info_length;  // and length
  TsDescriptors descriptors;
};

// Enough for a PMT that lists only streams without descriptors.
constexpr uint32_t kTsMaxPmtStreams = 202;

struct TsPmt {
  uint16_t program_number;
  uint8_t version;
  bool current;
  bool crc_ok;
  uint16_t pcr_pid;
  uint16_t info_at;  // program_info descriptors: offset in the section
  uint16_t info_length;
  TsDescriptors program;
  uint32_t stream_count;
  TsPmtStream streams[kTsMaxPmtStreams];
};

// Reads a PMT section: every length is checked against the section. False
// when it is not a PMT section or a length runs past it.
bool ts_pmt_parse(const uint8_t* s, uint32_t n, TsPmt* out);

}  // namespace vantorel
