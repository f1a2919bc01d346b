#include "boxes/fields.h"

#include <cstring>

#include "boxes/box_tree.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

// Width of one value of the field in the file.
uint32_t value_width(FieldType type, bool wide) {
  switch (type) {
    case FieldType::Version:
    case FieldType::U8:
    case FieldType::Bytes:
    case FieldType::Reserved: return 1;
    case FieldType::U16:
    case FieldType::Language: return 2;
    case FieldType::Flags: return 3;
    case FieldType::U32: return 4;
    case FieldType::U64: return 8;
    case FieldType::Time:
    case FieldType::SignedTime: return wide ? 8 : 4;
  }
  return 0;
}

// What decides the shape of the rest: the version and the flags, once met.
struct Shape {
  bool wide = false;
  uint32_t flags = 0;
  bool present(const Field& f) const { return f.when_flags == 0 || (flags & f.when_flags) != 0; }
};

template <class T>
T load(const void* record, uint32_t offset, uint32_t index) {
  T v;
  std::memcpy(&v, static_cast<const uint8_t*>(record) + offset + index * sizeof(T), sizeof(T));
  return v;
}

template <class T>
void store(void* record, uint32_t offset, uint32_t index, T v) {
  std::memcpy(static_cast<uint8_t*>(record) + offset + index * sizeof(T), &v, sizeof(T));
}

}  // namespace

ErrorCode short_box(BoxFile* file, const char* reason) {
  ++file->short_boxes;
  return malformed(file, reason);
}

ErrorCode read_fields(BoxFile* file, const BoxHeader* header, Layout layout, void* record, const char* short_reason,
                      uint8_t version) {
  if (file == nullptr || header == nullptr || record == nullptr) return ErrorCode::BadArgument;
  Shape shape;
  shape.wide = version == 1;
  for (const Field& f : layout) {
    if (!shape.present(f)) continue;
    uint64_t width = uint64_t{value_width(f.type, shape.wide)} * f.count;
    if (box_bytes_left(file, header) < width) return short_box(file, short_reason);
    for (uint32_t i = 0; i < (f.type == FieldType::Bytes || f.type == FieldType::Reserved ? 1u : f.count); ++i) {
      switch (f.type) {
        case FieldType::Version: {
          uint8_t v = read_u8(file);
          store(record, f.offset, 0, v);
          shape.wide = v == 1;
          break;
        }
        case FieldType::Flags:
          shape.flags = read_u24be(file);
          store(record, f.offset, 0, shape.flags);
          break;
        case FieldType::U8: store(record, f.offset, i, read_u8(file)); break;
        case FieldType::U16: store(record, f.offset, i, read_u16be(file)); break;
        case FieldType::U32: store(record, f.offset, i, read_u32be(file)); break;
        case FieldType::U64: store(record, f.offset, i, read_u64be(file)); break;
        case FieldType::Time:
          store<uint64_t>(record, f.offset, i, shape.wide ? read_u64be(file) : read_u32be(file));
          break;
        case FieldType::SignedTime:
          store<int64_t>(record, f.offset, i,
                         shape.wide ? static_cast<int64_t>(read_u64be(file))
                                    : static_cast<int64_t>(static_cast<int32_t>(read_u32be(file))));
          break;
        case FieldType::Bytes: VT_TRY(read_bytes(file, static_cast<uint8_t*>(record) + f.offset, f.count)); break;
        case FieldType::Reserved: VT_TRY(file_skip(file, f.count)); break;
        case FieldType::Language:
          read_language(read_u16be(file), reinterpret_cast<char*>(static_cast<uint8_t*>(record) + f.offset));
          break;
      }
    }
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

ErrorCode write_fields(FileIo* file, Layout layout, const void* record, uint8_t version) {
  if (file == nullptr || record == nullptr) return ErrorCode::BadArgument;
  Shape shape;
  shape.wide = version == 1;
  for (const Field& f : layout) {
    if (!shape.present(f)) continue;
    if (f.type == FieldType::Bytes) {
      VT_TRY(write_bytes(file, static_cast<const uint8_t*>(record) + f.offset, f.count));
      continue;
    }
    if (f.type == FieldType::Reserved) {
      VT_TRY(write_zeros(file, f.count));
      continue;
    }
    for (uint32_t i = 0; i < f.count; ++i) {
      switch (f.type) {
        case FieldType::Version: {
          uint8_t v = load<uint8_t>(record, f.offset, 0);
          shape.wide = v == 1;
          VT_TRY(write_u8(file, v));
          break;
        }
        case FieldType::Flags:
          shape.flags = load<uint32_t>(record, f.offset, 0);
          VT_TRY(write_u24be(file, shape.flags));
          break;
        case FieldType::U8: VT_TRY(write_u8(file, load<uint8_t>(record, f.offset, i))); break;
        case FieldType::U16: VT_TRY(write_u16be(file, load<uint16_t>(record, f.offset, i))); break;
        case FieldType::U32: VT_TRY(write_u32be(file, load<uint32_t>(record, f.offset, i))); break;
        case FieldType::U64: VT_TRY(write_u64be(file, load<uint64_t>(record, f.offset, i))); break;
        case FieldType::Time:
        case FieldType::SignedTime: {
          uint64_t v = load<uint64_t>(record, f.offset, i);
          VT_TRY(shape.wide ? write_u64be(file, v) : write_u32be(file, low32(v)));
          break;
        }
        case FieldType::Language:
          VT_TRY(write_u16be(file, pack_language(reinterpret_cast<const char*>(record) + f.offset)));
          break;
        case FieldType::Bytes:
        case FieldType::Reserved: break;
      }
    }
  }
  return ErrorCode::Ok;
}

uint64_t size_fields(Layout layout, const void* record, uint8_t version) {
  if (record == nullptr) return 0;
  Shape shape;
  shape.wide = version == 1;
  uint64_t total = 0;
  for (const Field& f : layout) {
    if (!shape.present(f)) continue;
    if (f.type == FieldType::Version) shape.wide = load<uint8_t>(record, f.offset, 0) == 1;
    if (f.type == FieldType::Flags) shape.flags = load<uint32_t>(record, f.offset, 0);
    total += uint64_t{value_width(f.type, shape.wide)} * f.count;
  }
  return total;
}

uint16_t pack_language(const char* language) {
  uint16_t packed = 0;
  for (int i = 0; i < 3; ++i) {
    uint8_t c = language != nullptr ? static_cast<uint8_t>(language[i]) : 0;
    packed = static_cast<uint16_t>((packed << 5) | (c & 0x1F));
  }
  return packed;
}

void unpack_language(uint16_t packed, char* language) {
  language[0] = static_cast<char>(((packed >> 10) & 0x1F) + 0x60);
  language[1] = static_cast<char>(((packed >> 5) & 0x1F) + 0x60);
  language[2] = static_cast<char>((packed & 0x1F) + 0x60);
  language[3] = '\0';
}

namespace {

// Macintosh language codes 0 to 94 and 128 to 151, in the ISO 639-2 codes
// files and tools use for them (the bibliographic forms); null where no
// code fits.
constexpr const char* kMacLanguages[] = {
    "eng", "fre", "ger", "ita", "dut", "swe", "spa", "dan", "por", "nor", "heb", "jpn", "ara", "fin", "gre", "ice",
    "mlt", "tur", "hrv", "chi", "urd", "hin", "tha", "kor", "lit", "pol", "hun", "est", "lav", "sme", "fao", "per",
    "rus", "chi", "dut", "gle", "alb", "rum", "cze", "slo", "slv", "yid", "srp", "mac", "bul", "ukr", "bel", "uzb",
    "kaz", "aze", "aze", "arm", "geo", "mol", "kir", "tgk", "tuk", "mon", "mon", "pus", "kur", "kas", "snd", "tib",
    "nep", "san", "mar", "ben", "asm", "guj", "pan", "ori", "mal", "kan", "tam", "tel", "sin", "bur", "khm", "lao",
    "vie", "ind", "tgl", "may", "may", "amh", "tir", "orm", "som", "swa", "kin", "run", "nya", "mlg", "epo",
};
constexpr const char* kMacLanguagesFrom128[] = {
    "wel", "baq", "cat", "lat", "que", "grn", "aym", "tat", "uig", "dzo", "jav", "sun",
    "glg", "afr", "bre", "iku", "gla", "glv", "gle", "ton", "gre", "kal", "aze", "nno",
};

}  // namespace

void read_language(uint16_t value, char* language) {
  constexpr uint16_t kUnspecified = 0x7FFF;
  constexpr uint16_t kFirstPacked = 0x400;
  const char* code = nullptr;
  if (value == kUnspecified) {
    code = "und";
  } else if (value < kFirstPacked) {
    constexpr uint32_t kLow = sizeof kMacLanguages / sizeof kMacLanguages[0];
    constexpr uint32_t kHigh = sizeof kMacLanguagesFrom128 / sizeof kMacLanguagesFrom128[0];
    if (value < kLow) code = kMacLanguages[value];
    else if (value >= 128 && value - 128u < kHigh) code = kMacLanguagesFrom128[value - 128];
    else code = "und";
  }
  if (code == nullptr) {
    unpack_language(value, language);
    return;
  }
  for (int i = 0; i < 4; ++i) language[i] = code[i];
}

}  // namespace vantorel
