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

// Big-endian fields of `Width` bytes in and out of values of type `Value`,
// through a block on the stack.
template <uint32_t Width, typename Value>
ErrorCode read_fields(BoxFile* file, Value* out, uint64_t count) {
  uint8_t block[kBlockBytes];
  while (count > 0) {
    uint32_t n = count < kBlockBytes / Width ? static_cast<uint32_t>(count) : kBlockBytes / Width;
    VT_TRY(read_bytes(file, block, n * Width));
    for (uint32_t i = 0; i < n; ++i) out[i] = Width == 8 ? load_u64be(block + 8 * i) : load_u32be(block + 4 * i);
    out += n;
    count -= n;
  }
  return ErrorCode::Ok;
}

// A null `values` writes zeros.
template <uint32_t Width, typename Value>
ErrorCode write_fields(BoxFile* file, const Value* values, uint64_t count) {
  uint8_t block[kBlockBytes];
  if (values == nullptr) std::memset(block, 0, sizeof block);
  while (count > 0) {
    uint32_t n = count < kBlockBytes / Width ? static_cast<uint32_t>(count) : kBlockBytes / Width;
    if (values != nullptr) {
      for (uint32_t i = 0; i < n; ++i) {
        if constexpr (Width == 8)
          store_u64be(block + 8 * i, values[i]);
        else
          store_u32be(block + 4 * i, static_cast<uint32_t>(values[i]));
      }
      values += n;
    }
    VT_TRY(write_bytes(file, block, n * Width));
    count -= n;
  }
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode read_u32_block(BoxFile* file, uint32_t* out, uint64_t count) { return read_fields<4>(file, out, count); }
ErrorCode read_u64_block(BoxFile* file, uint64_t* out, uint64_t count) { return read_fields<8>(file, out, count); }
ErrorCode read_u32_block_wide(BoxFile* file, uint64_t* out, uint64_t count) {
  return read_fields<4>(file, out, count);
}

ErrorCode write_u32_block(BoxFile* file, const uint32_t* values, uint64_t count) {
  return write_fields<4>(file, values, count);
}
ErrorCode write_u64_block(BoxFile* file, const uint64_t* values, uint64_t count) {
  return write_fields<8>(file, values, count);
}
ErrorCode write_u32_block_narrow(BoxFile* file, const uint64_t* values, uint64_t count) {
  return write_fields<4>(file, values, count);
}

ErrorCode read_table_head(BoxFile* file, const BoxHeader* header, uint64_t fixed, TableHead* out) {
  std::memset(out, 0, sizeof *out);
  if (box_bytes_left(file, header) < fixed) return malformed(file, "table box shorter than its fixed fields");
  out->version = read_u8(file);
  out->flags = read_u24be(file);
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

}  // namespace vantorel
