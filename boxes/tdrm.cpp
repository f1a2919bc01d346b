#include "boxes/tdrm.h"

namespace vantorel {

namespace {

TdrmRecord* tdrm_of(void* context) { return movie_record<TdrmRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Tdrm); }

}  // namespace

void tdrm_init(BoxFile*, void* context) {
  TdrmRecord* t = tdrm_of(context);
  if (t != nullptr) t->value = 1;
}

ErrorCode tdrm_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TdrmRecord* t = tdrm_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  t->value = read_u32be(file);
  for (uint8_t& b : t->bytes) b = read_u8(file);
  return ErrorCode::Ok;
}

ErrorCode tdrm_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  TdrmRecord* t = tdrm_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u32be(file, 1));
  return write_bytes(file, t->bytes, 3);
}

uint64_t tdrm_size(BoxFile*, void* context) { return tdrm_of(context) != nullptr ? 7 : 0; }

}  // namespace vantorel
