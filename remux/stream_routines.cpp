#include "remux/stream_routines.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

namespace {

StreamContext* ctx(void* c) { return static_cast<StreamContext*>(c); }
StreamHandle* handle_of(void* h) { return static_cast<StreamHandle*>(h); }

}  // namespace

ErrorCode stream_open(const void* name, void** out, uint32_t mode, void* context) {
  if (out == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamContext* c = ctx(context);
  if (c->pass == Pass::Measure && mode != kOpenCreate) return ErrorCode::BadArgument;
  auto* h = static_cast<StreamHandle*>(std::calloc(1, sizeof(StreamHandle)));
  if (h == nullptr) return ErrorCode::OutOfMemory;
  if (c->pass != Pass::Measure) {
    ErrorCode e = c->routines.open(name, &h->platform, mode, c->user);
    if (e != ErrorCode::Ok) {
      std::free(h);
      return e;
    }
    uint64_t size = 0;
    // A created file starts empty: it is not asked, since it may be a pipe,
    // which has no size. Of any other, a size that cannot be learnt is an
    // error, not an empty file.
    if (mode != kOpenCreate) e = c->routines.size(h->platform, &size, c->user);
    if (e != ErrorCode::Ok) {
      c->routines.close(h->platform, c->user);
      std::free(h);
      return e;
    }
    h->size = size;
  }
  *out = h;
  return ErrorCode::Ok;
}

ErrorCode stream_close(void* handle, void* context) {
  if (handle == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  ErrorCode result = ErrorCode::Ok;
  if (h->platform != nullptr) {
    // Buffered writes may fail only now: the result reaches the caller.
    result = ctx(context)->routines.close(h->platform, ctx(context)->user);
    h->platform = nullptr;
  }
  std::free(h);
  return result;
}

ErrorCode stream_seek(void* handle, const uint64_t* position, void* context) {
  if (handle == nullptr || position == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  uint64_t target = *position > h->size ? h->size : *position;
  StreamContext* c = ctx(context);
  if (c->pass != Pass::Measure) VT_TRY(c->routines.seek(h->platform, &target, c->user));
  h->position = target;
  return ErrorCode::Ok;
}

ErrorCode stream_tell(void* handle, uint64_t* out, void* context) {
  if (handle == nullptr || out == nullptr || context == nullptr) return ErrorCode::BadArgument;
  // Every seek, read and write moves the record's position, so it is known
  // without asking: asking may cost a flush, and a pipe cannot answer.
  *out = handle_of(handle)->position;
  return ErrorCode::Ok;
}

ErrorCode stream_size(void* handle, uint64_t* out, void* context) {
  if (handle == nullptr || out == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  if (ctx(context)->pass == Pass::Measure) {
    *out = h->size;
    return ErrorCode::Ok;
  }
  VT_TRY(ctx(context)->routines.size(h->platform, out, ctx(context)->user));
  h->size = *out;
  return ErrorCode::Ok;
}

ErrorCode stream_read(void* handle, void* buffer, uint32_t count, void* context) {
  if (handle == nullptr || buffer == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  if (h->position > h->size || count > h->size - h->position) return ErrorCode::Io;
  if (ctx(context)->pass == Pass::Measure) {
    std::memset(buffer, 0, count);
  } else {
    VT_TRY(ctx(context)->routines.read(h->platform, buffer, count, ctx(context)->user));
  }
  h->position += count;
  return ErrorCode::Ok;
}

ErrorCode stream_write(void* handle, const void* buffer, uint32_t count, void* context) {
  if (handle == nullptr || buffer == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  StreamContext* c = ctx(context);
  if (c->pass != Pass::Measure) VT_TRY(c->routines.write(h->platform, buffer, count, c->user));
  h->position += count;
  if (h->position > h->size) h->size = h->position;
  return ErrorCode::Ok;
}

ErrorCode stream_read_at(void* handle, uint64_t position, void* buffer, uint32_t count, void* context) {
  if (handle == nullptr || buffer == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  StreamContext* c = ctx(context);
  if (position > h->size || count > h->size - position) return ErrorCode::Io;
  if (c->pass == Pass::Measure) {
    std::memset(buffer, 0, count);
    return ErrorCode::Ok;
  }
  if (c->routines.read_at != nullptr) return c->routines.read_at(h->platform, position, buffer, count, c->user);
  // Without one, a seek and a read; the record's position follows them.
  VT_TRY(c->routines.seek(h->platform, &position, c->user));
  h->position = position;
  VT_TRY(c->routines.read(h->platform, buffer, count, c->user));
  h->position += count;
  return ErrorCode::Ok;
}

ErrorCode stream_read_pieces_at(void* handle, uint64_t position, const IoPiece* pieces, uint32_t count,
                                void* context) {
  if (handle == nullptr || (pieces == nullptr && count > 0) || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  StreamContext* c = ctx(context);
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) total += pieces[i].count;
  if (position > h->size || total > h->size - position) return ErrorCode::Io;
  if (c->pass != Pass::Measure && c->routines.read_pieces_at != nullptr)
    return c->routines.read_pieces_at(h->platform, position, pieces, count, c->user);
  for (uint32_t i = 0; i < count; ++i) {
    VT_TRY(stream_read_at(handle, position, pieces[i].buffer, pieces[i].count, context));
    position += pieces[i].count;
  }
  return ErrorCode::Ok;
}

ErrorCode stream_view_at(void* handle, uint64_t position, uint64_t count, IoView* out, void* context) {
  if (handle == nullptr || out == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  StreamContext* c = ctx(context);
  if (position > h->size || count > h->size - position) return ErrorCode::Io;
  if (c->pass == Pass::Measure || c->routines.view_at == nullptr || c->routines.unview == nullptr)
    return ErrorCode::Unsupported;
  return c->routines.view_at(h->platform, position, count, out, c->user);
}

ErrorCode stream_unview(void* handle, IoView* view, void* context) {
  if (handle == nullptr || view == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamContext* c = ctx(context);
  if (c->routines.unview == nullptr) return ErrorCode::Unsupported;
  return c->routines.unview(handle_of(handle)->platform, view, c->user);
}

ErrorCode stream_write_pieces(void* handle, const IoConstPiece* pieces, uint32_t count, void* context) {
  if (handle == nullptr || (pieces == nullptr && count > 0) || context == nullptr) return ErrorCode::BadArgument;
  StreamHandle* h = handle_of(handle);
  StreamContext* c = ctx(context);
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) total += pieces[i].count;
  if (c->pass != Pass::Measure) {
    if (c->routines.write_pieces != nullptr) {
      VT_TRY(c->routines.write_pieces(h->platform, pieces, count, c->user));
    } else {
      for (uint32_t i = 0; i < count; ++i)
        if (pieces[i].count > 0) VT_TRY(c->routines.write(h->platform, pieces[i].buffer, pieces[i].count, c->user));
    }
  }
  h->position += total;
  if (h->position > h->size) h->size = h->position;
  return ErrorCode::Ok;
}

ErrorCode stream_reserve(void* handle, uint64_t size, void* context) {
  if (handle == nullptr || context == nullptr) return ErrorCode::BadArgument;
  StreamContext* c = ctx(context);
  if (c->pass == Pass::Measure || c->routines.reserve == nullptr) return ErrorCode::Ok;
  return c->routines.reserve(handle_of(handle)->platform, size, c->user);
}

const IoRoutines& stream_routines() {
  static constexpr IoRoutines table{stream_open,    stream_close,  stream_seek,         stream_tell,
                                    stream_size,    stream_read,   stream_write,        stream_read_at,
                                    stream_read_pieces_at, stream_view_at, stream_unview, stream_write_pieces,
                                    stream_reserve};
  return table;
}

}  // namespace vantorel
