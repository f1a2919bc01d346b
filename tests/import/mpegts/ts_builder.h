#pragma once
// Transport streams by hand for the tests: packets with any header and
// adaptation field, table sections with a right or wrong CRC, PES packets
// with timestamps, and a writer that cuts them into packets with running
// continuity counters and lays the packets out as 188-, 192- or 204-byte
// units with garbage wherever a test wants it.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "io/file_io.h"

namespace vantorel::test::ts {

using Bytes = std::vector<uint8_t>;

struct PacketFields {
  uint16_t pid = 0x100;
  bool unit_start = false;
  uint8_t cc = 0;
  bool error = false;
  uint8_t scrambling = 0;
  bool discontinuity = false;
  bool random_access = false;
  bool adaptation_only = false;  // no payload at all
  int adaptation_length = -1;    // -1: as the payload needs (stuffing); else the length field as given
  int64_t pcr = -1;              // 27 MHz; -1: none
  Bytes payload;                 // at most what fits
};

// One 188-byte packet. A payload shorter than the room is padded by
// adaptation-field stuffing, as muxers do.
Bytes packet(const PacketFields& fields);

// A long-form section with its CRC (`good_crc` false: the CRC is off by one).
Bytes section(uint8_t table_id, uint16_t id_extension, uint8_t version, const Bytes& body, bool good_crc = true,
              uint8_t section_number = 0, bool current = true);

struct PatEntry {
  uint16_t program;
  uint16_t pmt_pid;
};
Bytes pat(const std::vector<PatEntry>& programs, uint8_t version = 0, bool good_crc = true);

struct EsEntry {
  uint8_t stream_type;
  uint16_t pid;
  Bytes descriptors;
};
Bytes pmt(uint16_t program, uint16_t pcr_pid, const std::vector<EsEntry>& streams, const Bytes& program_info = {},
          uint8_t version = 0, bool good_crc = true);

Bytes descriptor(uint8_t tag, const Bytes& body);
Bytes registration(const char* format);
Bytes language(const char* code, uint8_t audio_type = 0);

struct PesFields {
  uint8_t stream_id = 0xE0;
  int64_t pts = -1;  // 33-bit; -1: none
  int64_t dts = -1;  // -1: none (only with a PTS)
  bool bounded = true;  // PES_packet_length given; false: 0, running to the next start
  bool bad_marker = false;
  uint32_t extra_header = 0;  // stuffing bytes in the header
  int stream_id_extension = -1;  // in a PES extension (with stream id 0xFD); -1: none
};
Bytes pes(const PesFields& fields, const Bytes& payload);

Bytes cat(std::initializer_list<Bytes> parts);

// Payload bytes that tell units apart.
Bytes pattern(uint32_t size, uint8_t seed);

class Writer {
 public:
  // A table: sections back to back, cut into packets with a pointer field 0.
  void table(uint16_t pid, const Bytes& sections);
  // A PES packet cut into packets; the first carries the unit start (and
  // the random access flag when asked).
  void unit(uint16_t pid, const Bytes& pes_bytes, bool random_access = false);
  // A packet as given (its counter is the fields's, not the running one).
  void raw_packet(const Bytes& packet188);
  // A packet whose counter is the next of its PID.
  void packet(PacketFields fields);
  // Bytes that are not packets.
  void garbage(const Bytes& bytes);
  // Advances a PID's counter as if a packet had been lost.
  void lose(uint16_t pid, uint8_t count = 1);
  uint8_t next_cc(uint16_t pid);

  // The file: each packet with a 4-byte arrival stamp before it (192) or
  // 16 check bytes after it (204).
  Bytes bytes(uint32_t stride = 188) const;
  // Offset of packet `k` (counting packets only) in the file of that stride.
  uint64_t offset_of(uint32_t k, uint32_t stride = 188) const;
  uint32_t packet_count() const;

 private:
  struct Piece {
    Bytes bytes;
    bool is_packet;
  };
  std::vector<Piece> pieces_;
  uint8_t cc_[8192] = {};
};

// A FileIo over memory.
class MemoryIo {
 public:
  explicit MemoryIo(Bytes bytes);
  ~MemoryIo();
  MemoryIo(const MemoryIo&) = delete;
  MemoryIo& operator=(const MemoryIo&) = delete;
  FileIo* get() { return &file_; }

 private:
  Bytes bytes_;
  MemoryPair pair_{};
  FileIo file_{};
};

}  // namespace vantorel::test::ts
