#include "import/matroska/matroska_ebml.h"

#include <cstring>

#include "boxes/box_tree.h"

namespace vantorel {

namespace {

// A malformed element, named with the offset of its header.
ErrorCode malformed_at(ImportFile* file, uint64_t at, const char* reason) {
  set_error_at(file, at, reason);
  return ErrorCode::Malformed;
}

}  // namespace

bool ebml_vint(const uint8_t* b, uint32_t n, bool keep_marker, uint64_t* value, uint32_t* length) {
  if (n == 0 || b[0] == 0) return false;
  uint32_t len = 1;
  while ((b[0] & (0x80u >> (len - 1))) == 0) ++len;
  if (len > n) return false;
  uint64_t v = keep_marker ? b[0] : (b[0] & ((0x80u >> (len - 1)) - 1));
  for (uint32_t i = 1; i < len; ++i) v = (v << 8) | b[i];
  *value = v;
  *length = len;
  return true;
}

ErrorCode ebml_next(ImportFile* file, uint64_t parent_end, bool parent_open, EbmlElement* out, bool* got) {
  *got = false;
  std::memset(out, 0, sizeof *out);
  const uint64_t at = file_tell(file);
  const uint64_t file_end = file_size(file);
  if (parent_end > file_end) parent_end = file_end;
  if (at >= parent_end) return ErrorCode::Ok;
  uint8_t b[12];
  uint64_t left = parent_end - at;
  uint32_t n = left < sizeof b ? static_cast<uint32_t>(left) : sizeof b;
  VT_TRY(read_bytes(file, b, n));
  uint64_t id = 0, size = 0;
  uint32_t id_length = 0, size_length = 0;
  if (!ebml_vint(b, n, true, &id, &id_length) || id_length > 4) {
    // A header cut by the end of an open parent is the end of a cut file.
    if (parent_open && n < sizeof b) return ErrorCode::Ok;
    return malformed_at(file, at, "Matroska element with an invalid id");
  }
  if (!ebml_vint(b + id_length, n - id_length, false, &size, &size_length)) {
    if (parent_open && n < sizeof b) return ErrorCode::Ok;
    return malformed_at(file, at, "Matroska element with an invalid size");
  }
  out->id = static_cast<uint32_t>(id);
  out->start = at;
  out->data = at + id_length + size_length;
  const uint64_t all_ones = (uint64_t{1} << (7 * size_length)) - 1;
  const uint64_t room = parent_end - out->data;
  out->declared = size;
  if (size == all_ones) {
    out->unknown_size = true;
    out->declared = room;
    out->size = room;
  } else if (size > room) {
    if (!parent_open) return malformed_at(file, at, "Matroska element larger than the element it lies in");
    out->cut = true;
    out->size = room;
  } else {
    out->size = size;
  }
  out->end = out->data + out->size;
  VT_TRY(file_seek(file, out->data));
  *got = true;
  return ErrorCode::Ok;
}

ErrorCode ebml_uint(ImportFile* file, const EbmlElement* e, uint64_t* out) {
  *out = 0;
  if (e->size > 8 || e->cut) return malformed(file, "Matroska integer of more than 8 bytes");
  if (e->size == 0) return ErrorCode::Ok;
  uint8_t b[8];
  VT_TRY(file_seek(file, e->data));
  VT_TRY(read_bytes(file, b, static_cast<uint32_t>(e->size)));
  uint64_t v = 0;
  for (uint64_t i = 0; i < e->size; ++i) v = (v << 8) | b[i];
  *out = v;
  return ErrorCode::Ok;
}

ErrorCode ebml_float(ImportFile* file, const EbmlElement* e, double* out) {
  *out = 0;
  if (e->size == 0) return ErrorCode::Ok;
  if ((e->size != 4 && e->size != 8) || e->cut) return malformed(file, "Matroska float of neither 4 nor 8 bytes");
  uint64_t bits = 0;
  VT_TRY(ebml_uint(file, e, &bits));
  if (e->size == 4) {
    uint32_t b32 = static_cast<uint32_t>(bits);
    float f;
    std::memcpy(&f, &b32, sizeof f);
    *out = f;
  } else {
    std::memcpy(out, &bits, sizeof *out);
  }
  return ErrorCode::Ok;
}

ErrorCode ebml_text(ImportFile* file, const EbmlElement* e, char* out, uint32_t capacity) {
  if (capacity == 0) return ErrorCode::BadArgument;
  out[0] = '\0';
  uint64_t n = e->size < capacity - 1 ? e->size : capacity - 1;
  VT_TRY(file_seek(file, e->data));
  VT_TRY(read_bytes(file, out, static_cast<uint32_t>(n)));
  out[n] = '\0';
  return ErrorCode::Ok;
}

}  // namespace vantorel
