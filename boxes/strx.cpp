#include "boxes/strx.h"

namespace vantorel {

namespace {

StrxRecord* strx_of(void* context) { return movie_record<StrxRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Strx); }

}  // namespace

void strx_init(BoxFile*, void* context) {
  StrxRecord* s = strx_of(context);
  if (s != nullptr) s->value = 1;
}

ErrorCode strx_read(BoxFile* file, const BoxHeader*, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StrxRecord* s = strx_of(context);
  if (s == nullptr) return ErrorCode::Missing;
  s->value = read_u32be(file);
  return ErrorCode::Ok;
}

ErrorCode strx_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  if (strx_of(context) == nullptr) return ErrorCode::Missing;
  return write_u32be(file, 1);  // players expect 1 whatever was read
}

uint64_t strx_size(BoxFile*, void* context) { return strx_of(context) != nullptr ? 4 : 0; }

}  // namespace vantorel
