#include "sampletables/table_io.h"

#include <cstring>

namespace vantorel {

namespace {

constexpr uint32_t kBlockBytes = 16384;

uint64_t load_u64be(const uint8_t* p) { return (uint64_t{load_u32be(p)} << 32) | load_u32be(p + 4); }

void store_u64be(uint8_t* p, uint64_t v) {
  store_u32be(p, static_cast<uint32_t>(v >> 32));
  store_u32be(p + 4, static_cast<uint32_t>(v));
}

}  // namespace

ErrorCode read_u32_block(MediaFile* file, uint32_t* out, uint64_t count) {
  uint8_t block[kBlockBytes];
  while (count > 0) {
    uint32_t n = count < kBlockBytes / 4 ? static_cast<uint32_t>(count) : kBlockBytes / 4;
    VT_TRY(read_bytes(file, block, n * 4));
    for (uint32_t i = 0; i < n; ++i) out[i] = load_u32be(block + 4 * i);
    out += n;
    count -= n;
  }
  return ErrorCode::Ok;
}

ErrorCode read_u64_block(MediaFile* file, uint64_t* out, uint64_t count) {
  uint8_t block[kBlockBytes];
  while (count > 0) {
    uint32_t n = count < kBlockBytes / 8 ? static_cast<uint32_t>(count) : kBlockBytes / 8;
    VT_TRY(read_bytes(file, block, n * 8));
    for (uint32_t i = 0; i < n; ++i) out[i] = load_u64be(block + 8 * i);
    out += n;
    count -= n;
  }
  return ErrorCode::Ok;
}

ErrorCode read_u32_block_wide(MediaFile* file, uint64_t* out, uint64_t count) {
  uint8_t block[kBlockBytes];
  while (count > 0) {
    uint32_t n = count < kBlockBytes / 4 ? static_cast<uint32_t>(count) : kBlockBytes / 4;
    VT_TRY(read_bytes(file, block, n * 4));
    for (uint32_t i = 0; i < n; ++i) out[i] = load_u32be(block + 4 * i);
    out += n;
    count -= n;
  }
  return ErrorCode::Ok;
}

ErrorCode write_u32_block(MediaFile* file, const uint32_t* values, uint64_t count) {
  uint8_t block[kBlockBytes];
  if (values == nullptr) std::memset(block, 0, sizeof block);
  while (count > 0) {
    uint32_t n = count < kBlockBytes / 4 ? static_cast<uint32_t>(count) : kBlockBytes / 4;
    if (values != nullptr) {
      for (uint32_t i = 0; i < n; ++i) store_u32be(block + 4 * i, values[i]);
      values += n;
    }
    VT_TRY(write_bytes(file, block, n * 4));
    count -= n;
  }
  return ErrorCode::Ok;
}

ErrorCode write_u64_block(MediaFile* file, const uint64_t* values, uint64_t count) {
  uint8_t block[kBlockBytes];
  if (values == nullptr) std::memset(block, 0, sizeof block);
  while (count > 0) {
    uint32_t n = count < kBlockBytes / 8 ? static_cast<uint32_t>(count) : kBlockBytes / 8;
    if (values != nullptr) {
      for (uint32_t i = 0; i < n; ++i) store_u64be(block + 8 * i, values[i]);
      values += n;
    }
    VT_TRY(write_bytes(file, block, n * 8));
    count -= n;
  }
  return ErrorCode::Ok;
}

ErrorCode write_u32_block_narrow(MediaFile* file, const uint64_t* values, uint64_t count) {
  uint8_t block[kBlockBytes];
  while (count > 0) {
    uint32_t n = count < kBlockBytes / 4 ? static_cast<uint32_t>(count) : kBlockBytes / 4;
    for (uint32_t i = 0; i < n; ++i) store_u32be(block + 4 * i, static_cast<uint32_t>(values[i]));
    values += n;
    VT_TRY(write_bytes(file, block, n * 4));
    count -= n;
  }
  return ErrorCode::Ok;
}

ErrorCode read_table_head(MediaFile* file, const BoxHeader* header, uint64_t fixed, TableHead* out) {
  std::memset(out, 0, sizeof *out);
  if (box_bytes_left(file, header) < fixed) return malformed(file, "table box shorter than its fixed fields");
  out->version = read_u8(file);
  out->flags = read_u24be(file);
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

}  // namespace vantorel
