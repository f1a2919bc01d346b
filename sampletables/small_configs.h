#pragma once
// The small fixed-layout configuration boxes of sample entries: 'btrt',
// 'd263', 'fiel', the visual 'uuid' extension, and the 3GPP audio boxes
// 'damr' and 'dawp'. Each record mirrors its fields; a new one is zero.
#include <cstdint>

#include "boxes/owned_block.h"

namespace vantorel {

struct BtrtRecord {
  uint32_t bufferSizeDB;
  uint32_t maxBitrate;
  uint32_t avgBitrate;
};

struct D263Record {
  uint32_t vendor;
  uint8_t decoder_version;
  uint8_t H263_Level;
  uint8_t H263_Profile;
};

struct FielRecord {
  uint8_t field_count;
  uint8_t field_ordering;
};

// The 'uuid' box with extended type 6b6840f2-5f24-4fc5-ba39-a51bcf0323f3.
extern const uint8_t kVisualExtensionUuid[16];
struct UuidExtensionRecord {
  uint32_t value;
};

struct DamrRecord {
  uint32_t vendor;
  uint8_t decoder_version;
  uint16_t mode_set;
  uint8_t mode_change_period;
  uint8_t frames_per_sample;
};

struct DawpRecord {
  uint32_t vendor;
  uint8_t decoder_version;
};

// 'devc', 'dqcp' and 'dsmv' are only recorded as present.
struct PresenceRecord {
  uint8_t unused[8];
};

// Payload operations; the uuid box's payload is its 32-bit value (the
// extended type belongs to the header).
ErrorCode btrt_read(BoxFile* file, const BoxHeader* header, BtrtRecord* r);
ErrorCode btrt_write(BoxFile* file, const BtrtRecord* r);
ErrorCode d263_read(BoxFile* file, const BoxHeader* header, D263Record* r);
ErrorCode d263_write(BoxFile* file, const D263Record* r);
ErrorCode fiel_read(BoxFile* file, const BoxHeader* header, FielRecord* r);
ErrorCode fiel_write(BoxFile* file, const FielRecord* r);
ErrorCode uuid_extension_read(BoxFile* file, const BoxHeader* header, UuidExtensionRecord* r);
ErrorCode uuid_extension_write(BoxFile* file, const UuidExtensionRecord* r);
ErrorCode damr_read(BoxFile* file, const BoxHeader* header, DamrRecord* r);
ErrorCode damr_write(BoxFile* file, const DamrRecord* r);
ErrorCode dawp_read(BoxFile* file, const BoxHeader* header, DawpRecord* r);
ErrorCode dawp_write(BoxFile* file, const DawpRecord* r);

constexpr uint64_t kBtrtSize = 12;
constexpr uint64_t kD263Size = 7;
constexpr uint64_t kFielSize = 2;
constexpr uint64_t kUuidExtensionSize = 4;  // 28 bytes with its header
constexpr uint64_t kDamrSize = 9;
constexpr uint64_t kDawpSize = 5;

}  // namespace vantorel
