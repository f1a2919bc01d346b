#pragma once
// Fixed-field layouts described once. A layout is a list of fields in file
// order, each naming where its value sits in the record; one walker reads a
// record from a box, one writes it and one sizes it, so the three cannot
// drift apart. Every read is checked against the end of its box first: a box
// cut inside its fields is refused, never read into its neighbour.
#include <cstddef>
#include <cstdint>
#include <span>

#include "boxes/box_file.h"

namespace vantorel {

enum class FieldType : uint8_t {
  Version,   // u8 into uint8_t; a value of 1 makes the Time fields after it 64-bit
  Flags,     // u24 into uint32_t; the Optional fields test it
  U8,        // into uint8_t (count: array length)
  U16,       // big-endian into uint16_t or int16_t (count: array length)
  U32,       // big-endian into uint32_t or int32_t (count: array length)
  U64,       // big-endian into uint64_t or int64_t
  Time,      // u32, or u64 after a version of 1, into uint64_t
  SignedTime,  // the same into int64_t, a u32 sign-extended
  Bytes,     // `count` raw bytes into an array (a FourCC, a name)
  Reserved,  // `count` bytes skipped on reading, written as zeros
  Language,  // a media language code in a u16 (see read_language), into char[4]
};

struct Field {
  FieldType type;
  uint16_t count;      // array length or byte count; 1 for a single value
  uint32_t offset;     // of the value in the record
  uint32_t when_flags;  // nonzero: present only when the record's flags share a bit with it
};

constexpr Field version_field(size_t offset) { return {FieldType::Version, 1, static_cast<uint32_t>(offset), 0}; }
constexpr Field flags_field(size_t offset) { return {FieldType::Flags, 1, static_cast<uint32_t>(offset), 0}; }
constexpr Field u8_field(size_t offset, uint16_t count = 1) { return {FieldType::U8, count, static_cast<uint32_t>(offset), 0}; }
constexpr Field u16_field(size_t offset, uint16_t count = 1) { return {FieldType::U16, count, static_cast<uint32_t>(offset), 0}; }
constexpr Field u32_field(size_t offset, uint16_t count = 1) { return {FieldType::U32, count, static_cast<uint32_t>(offset), 0}; }
constexpr Field u64_field(size_t offset) { return {FieldType::U64, 1, static_cast<uint32_t>(offset), 0}; }
constexpr Field time_field(size_t offset) { return {FieldType::Time, 1, static_cast<uint32_t>(offset), 0}; }
constexpr Field signed_time_field(size_t offset) { return {FieldType::SignedTime, 1, static_cast<uint32_t>(offset), 0}; }
constexpr Field bytes_field(size_t offset, uint16_t count) { return {FieldType::Bytes, count, static_cast<uint32_t>(offset), 0}; }
constexpr Field reserved(uint16_t count) { return {FieldType::Reserved, count, 0, 0}; }
constexpr Field language_field(size_t offset) { return {FieldType::Language, 1, static_cast<uint32_t>(offset), 0}; }
// The field only when the record's flags have one of `bits` set.
constexpr Field optional(Field f, uint32_t bits) {
  f.when_flags = bits;
  return f;
}

using Layout = std::span<const Field>;

// Reads the fields at the current position of the box `header`. A field the
// box cannot hold is refused through short_box() with `short_reason`; the
// record's fields before it are filled.
// `version` is the one in force before the layout's own Version field, for
// the entries of a versioned box.
ErrorCode read_fields(BoxFile* file, const BoxHeader* header, Layout layout, void* record, const char* short_reason,
                      uint8_t version = 0);
ErrorCode write_fields(FileIo* file, Layout layout, const void* record, uint8_t version = 0);
// Bytes the fields take for this record (its version and flags).
uint64_t size_fields(Layout layout, const void* record, uint8_t version = 0);

// Refuses a box cut inside its fixed fields: Malformed, with the reason
// recorded and the file's count of short boxes raised, so that a track
// holding one can be left out rather than the whole file.
ErrorCode short_box(BoxFile* file, const char* reason);

// Three 5-bit letters (code - 0x60), first in bits 14-10; bit 15 clear.
uint16_t pack_language(const char* language);
void unpack_language(uint16_t packed, char* language /* 4 bytes */);
// A media header's language value as three ISO 639-2 letters: values from
// 0x400 up are packed letters, values below are Macintosh language codes (0
// is English), and 0x7FFF is QuickTime's "unspecified", read as "und".
void read_language(uint16_t value, char* language /* 4 bytes */);

}  // namespace vantorel
