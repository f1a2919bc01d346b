// Video for Windows frames from another container through the AVI video
// conversions: the frames stand for a stream's chunks, one slot each, with
// empty chunks where slots have no frame (dropped frames).
#include "import/avi/vfw_frames.h"

#include "boxes/hdlr.h"
#include "import/avi/avi_convert.h"
#include "import/stream_tracks.h"

namespace vantorel {

ErrorCode vfw_convert_frames(ImportFile* file, TrackBoxes* track, const VfwVideoFrames* in, const char** failure) {
  *failure = nullptr;
  if (in->format == nullptr || in->format_size < kBitmapInfoHeaderSize || in->scale == 0) return ErrorCode::BadArgument;
  for (uint32_t i = 0; i < in->count; ++i)
    if (in->frames[i].slot >= in->slots || (i > 0 && in->frames[i].slot <= in->frames[i - 1].slot))
      return ErrorCode::BadArgument;
  AviImport imp{};
  imp.file = file;
  AviStream stream{};
  parse_bitmap(in->format, &stream.bitmap);
  stream.format = OwnedBlock{const_cast<uint8_t*>(in->format), in->format_size};  // a view, never released
  stream.strh.type = FourCC::of("vids");
  stream.strh.scale = in->scale;
  StreamEntry entry{};
  entry.kind = kHandlerVideo;
  entry.format = stream.bitmap.compression;
  const int32_t w = stream.bitmap.width, h = stream.bitmap.height;
  // A negative height only says the rows are stored top-down.
  entry.width = clamp16(w < 0 ? 0u - static_cast<uint32_t>(w) : static_cast<uint32_t>(w));
  entry.height = clamp16(h < 0 ? 0u - static_cast<uint32_t>(h) : static_cast<uint32_t>(h));
  entry.depth = stream.bitmap.bit_count;
  VT_TRY(fill_stream_entry(file, track, &entry));
  GrowArray<AviChunk> chunks{};
  ErrorCode e = chunks.reserve(in->slots > 0 ? in->slots : 1);
  for (uint32_t i = 0, slot = 0; e == ErrorCode::Ok && slot < in->slots; ++slot) {
    const bool here = i < in->count && in->frames[i].slot == slot;
    chunks.items[chunks.count++] = here ? AviChunk{in->frames[i].offset, in->frames[i].size, in->frames[i].key}
                                        : AviChunk{0, 0, 0};
    i += here ? 1 : 0;
  }
  avi::Rebuild rb{};
  rb.imp = &imp;
  rb.track = track;
  bool mapped = false;
  if (e == ErrorCode::Ok) e = avi::convert_video(&rb, &stream, chunks, &mapped);
  // A frame that reads short is the track's fault, as a chunk is a stream's.
  if (e == ErrorCode::Malformed || (e == ErrorCode::Io && !io_failed(file))) {
    rb.failure = "a frame of the track cannot be read";
    e = ErrorCode::Ok;
  }
  if (e == ErrorCode::Ok && rb.failure == nullptr && !mapped) rb.failure = "its FOURCC has no MP4 form Vantorel writes";
  if (e == ErrorCode::Ok && rb.failure == nullptr) e = avi::write_tables(&rb);
  *failure = rb.failure;
  avi::rebuild_release(&rb);
  chunks.release();
  return e;
}

}  // namespace vantorel
