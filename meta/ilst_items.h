#pragma once
// The 'ilst' items the library knows by name, and the type indicators of
// their 'data' boxes.
#include <cstddef>
#include <cstdint>

#include "io/fourcc.h"

namespace vantorel {

// Type indicators of a 'data' box (its type word without the type-set byte).
enum DataType : uint32_t {
  kDataImplicit = 0,
  kDataUtf8 = 1,
  kDataUtf16 = 2,
  kDataJpeg = 13,
  kDataPng = 14,
  kDataSigned = 21,
  kDataUnsigned = 22,
  kDataFloat32 = 23,
  kDataFloat64 = 24,
  kDataBmp = 27,
};

// How a known item's value reads.
enum ItemKind : uint8_t {
  kItemText,     // UTF-8
  kItemPair,     // track or disc number: "3/12"
  kItemInteger,  // big-endian signed integer
  kItemImage,    // cover art
  kItemGenreId,  // 16-bit genre number, one above the ID3 genre's
};

struct KnownItem {
  FourCC item;
  const char* name;
  ItemKind kind;
  uint8_t width;  // integers written by the library: bytes
};

const KnownItem* known_item(FourCC item);
// By name (letter case ignored); "tool" is kept as another name of the encoder.
const KnownItem* known_item_named(const char* name);

// Whole strings equal ignoring ASCII letter case.
bool equal_ignoring_case(const char* a, const char* b);

// The name an item without a table row goes by: its type, 0xA9 shown as the
// copyright sign. False when the type is not printable.
bool item_type_name(FourCC item, char* out, size_t capacity);

// The freeform items' usual namespace, used for names the table does not know.
extern const char kFreeformMean[];

// The type indicator a value gets when a caller adds it without one.
uint32_t default_data_type(FourCC item, bool text, const uint8_t* value, uint32_t size);

}  // namespace vantorel
