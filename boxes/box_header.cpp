// Box headers: reading, writing with a size estimate fixed up afterwards, and
// the bounds every payload reader checks against.
#include "boxes/box_tree.h"

#include <cstring>

namespace vantorel {

namespace {

// Writes whose estimate was wrong: counted for the tests.
uint32_t g_size_mismatches = 0;

}  // namespace

// ---- Headers -------------------------------------------------------------

ErrorCode read_box_header(BoxFile* file, BoxHeader* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  std::memset(out, 0, sizeof *out);
  out->start = file_tell(file);
  uint32_t field = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Ok;  // the caller's loop ends on the latch
  uint64_t header_length = 8;
  if (field == 1) {
    VT_TRY(read_bytes(file, out->type.c, 4));
    uint8_t b[8];
    VT_TRY(read_bytes(file, b, 8));
    out->size = be64_from_bytes(b);
    if (out->size == 0) return malformed(file, "64-bit box size of 0");
    header_length = 16;
  } else if (field == 0) {
    uint64_t length = file_size(file);
    out->size = length > out->start ? length - out->start : 0;
    if (out->size >= 8) {
      VT_TRY(read_bytes(file, out->type.c, 4));
    } else {
      // Too short to hold a type: it matches nothing and is skipped.
      if (out->size < 4) out->size = 4;
      out->end = out->start + out->size;
      return ErrorCode::Ok;
    }
  } else {
    VT_TRY(read_bytes(file, out->type.c, 4));
    out->size = field;
  }
  if (out->type == "uuid") {
    VT_TRY(read_bytes(file, out->extended_type, 16));
    header_length += 16;
  }
  if (out->size < header_length) return malformed(file, "box smaller than its header");
  if (out->start + out->size < out->start) return malformed(file, "box size overflows");
  out->end = out->start + out->size;
  return ErrorCode::Ok;
}

uint64_t box_header_length(FourCC type, uint64_t payload_size) {
  uint64_t base = 8;
  if (type == "uuid") base += 16;
  return fits_u32(payload_size + base) ? base : base + 8;
}

ErrorCode begin_box(BoxFile* file, BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  header->start = file_tell(file);
  header->end = header->start + header->size;
  if (fits_u32(header->size)) {
    VT_TRY(write_u32be(file, static_cast<uint32_t>(header->size)));
    VT_TRY(write_fourcc(file, header->type));
  } else {
    VT_TRY(write_u32be(file, 1));
    VT_TRY(write_fourcc(file, header->type));
    VT_TRY(write_u64be(file, header->size));
  }
  if (header->type == "uuid") VT_TRY(write_bytes(file, header->extended_type, 16));
  return ErrorCode::Ok;
}

ErrorCode finish_box(BoxFile* file, BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  uint64_t at = file_tell(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (at == header->end) return ErrorCode::Ok;
  header->end = at;
  header->size = at - header->start;
  VT_TRY(file_seek(file, header->start));
  if (fits_u32(header->size)) {
    VT_TRY(write_u32be(file, static_cast<uint32_t>(header->size)));
  } else {
    // Widened in place: the 8 bytes after the type hold the 64-bit size.
    VT_TRY(write_u32be(file, 1));
    VT_TRY(file_seek(file, header->start + 8));
    VT_TRY(write_u64be(file, header->size));
  }
  return file_seek(file, header->end);
}

void make_box_header(BoxHeader* out, FourCC type, const uint8_t* extended_type, uint64_t start, uint64_t end,
                     uint64_t size) {
  std::memset(out, 0, sizeof *out);
  out->type = type;
  if (extended_type != nullptr) std::memcpy(out->extended_type, extended_type, 16);
  out->start = start;
  out->end = end;
  out->size = size;
}

ErrorCode skip_to_box_end(BoxFile* file, const BoxHeader* header) {
  if (file == nullptr || header == nullptr) return ErrorCode::BadArgument;
  return file_seek(file, header->end);
}

bool box_type_is(const BoxHeader* header, FourCC type) { return header != nullptr && header->type == type; }

bool box_matches(const BoxHeader* header, FourCC type, const uint8_t* extended_type) {
  if (header == nullptr || !(header->type == type)) return false;
  if (type == "uuid") return extended_type != nullptr && std::memcmp(header->extended_type, extended_type, 16) == 0;
  return true;
}

uint64_t box_bytes_left(BoxFile* file, const BoxHeader* header) {
  uint64_t at = file_tell(file);
  return at < header->end ? header->end - at : 0;
}

bool box_holds(BoxFile* file, const BoxHeader* header, uint64_t count, uint64_t entry_size) {
  uint64_t left = box_bytes_left(file, header);
  if (entry_size == 0) return true;
  return count <= left / entry_size;
}

ErrorCode malformed(BoxFile* file, const char* reason) {
  set_error_reason(file, reason);
  return ErrorCode::Malformed;
}

ErrorCode write_box(BoxFile* file, FourCC type, const uint8_t* extended_type, uint64_t payload_estimate,
                    BoxWriteOp write, void* context) {
  BoxHeader h;
  uint64_t size = box_header_length(type, payload_estimate) + payload_estimate;
  make_box_header(&h, type, extended_type, 0, 0, size);
  VT_TRY(begin_box(file, &h));
  uint64_t expected_end = h.end;
  VT_TRY(write(file, context));
  VT_TRY(finish_box(file, &h));
  if (h.end != expected_end) ++g_size_mismatches;
  return ErrorCode::Ok;
}

uint32_t size_mismatch_count() { return g_size_mismatches; }
void reset_size_mismatch_count() { g_size_mismatches = 0; }

}  // namespace vantorel
