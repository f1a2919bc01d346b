#include "boxes/tree_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "boxes/moov.h"

namespace vantorel::test {

Bytes wrap_at(Level level, const Bytes& b) {
  switch (level) {
    case Level::Top: return b;
    case Level::Movie: return box("moov", b);
    case Level::Udta: return box("moov", box("udta", b));
    case Level::MovieUsmt: return box("moov", uuid_box(kUsmtUuid, b));
    case Level::Trak: return box("moov", box("trak", b));
    case Level::TrackUsmt: return wrap_at(Level::Trak, uuid_box(kUsmtUuid, b));
    case Level::Edts: return wrap_at(Level::Trak, box("edts", b));
    case Level::Mdia: return wrap_at(Level::Trak, box("mdia", b));
    case Level::Minf: return wrap_at(Level::Mdia, box("minf", b));
    case Level::Dinf: return wrap_at(Level::Minf, box("dinf", b));
  }
  return b;
}

const ChildList* list_at(Level level) {
  switch (level) {
    case Level::Top: return &kTopList;
    case Level::Movie: return &kMoovList;
    case Level::Udta: return &kUdtaList;
    case Level::MovieUsmt: return &kMovieUsmtList;
    case Level::Trak: return &kTrakList;
    case Level::TrackUsmt: return &kTrackUsmtList;
    case Level::Edts: return &kEdtsList;
    case Level::Mdia: return &kMdiaList;
    case Level::Minf: return &kMinfList;
    case Level::Dinf: return &kDinfList;
  }
  return nullptr;
}

bool is_track_level(Level level) {
  return level != Level::Top && level != Level::Movie && level != Level::Udta && level != Level::MovieUsmt;
}

ParsedTree parse_file(const Bytes& bytes, uint32_t mode) {
  ParsedTree t;
  t.file = std::make_unique<MemoryFile>(bytes, mode);
  MediaFile* f = t.file->get();
  t.result = create_root(f);
  if (t.result != ErrorCode::Ok) return t;
  BoxHeader whole;
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, bytes.size(), bytes.size());
  file_seek(f, 0);
  t.result = read_top_level(f, &whole);
  return t;
}

Bytes write_row(const BoxDescriptor& row, void* context, ErrorCode* error) {
  MemoryFile out({}, kOpenCreate);
  if (row.write == nullptr || row.size == nullptr) {
    *error = ErrorCode::BadArgument;
    return {};
  }
  *error = write_box(out.get(), row.type, row.extended_type, row.size(out.get(), context), row.write, context);
  return out.contents();
}

Bytes rewrite_box(Level level, const Bytes& b, ErrorCode* error) {
  ParsedTree t = parse_file(wrap_at(level, b));
  *error = t.result;
  if (t.result != ErrorCode::Ok) return {};
  void* context = is_track_level(level) ? static_cast<void*>(t.track()) : static_cast<void*>(t.root());
  if (context == nullptr) {
    *error = ErrorCode::Missing;
    return {};
  }
  // The row that reads this box writes it.
  MemoryFile probe(b);
  BoxHeader h;
  *error = read_box_header(probe.get(), &h);
  if (*error != ErrorCode::Ok) return {};
  const ChildList* list = list_at(level);
  for (uint32_t i = 0; i < list->count; ++i) {
    const BoxDescriptor& row = list->first[i];
    if (box_matches(&h, row.type, row.extended_type)) return write_row(row, context, error);
  }
  *error = ErrorCode::BadArgument;
  return {};
}

Bytes write_movie(FileBoxes* root, ErrorCode* error) {
  MemoryFile out({}, kOpenCreate);
  *error = write_box(out.get(), FourCC::of("moov"), nullptr, moov_size(out.get(), root), moov_write, root);
  return out.contents();
}

const BoxDescriptor* top_row(BoxTypeId id) {
  for (uint32_t i = 0; i < kTopList.count; ++i)
    if (kTopList.first[i].id == id) return &kTopList.first[i];
  return nullptr;
}

void expect_malformed(const MalformedCase& c) {
  SCOPED_TRACE(c.name);
  ParsedTree t = parse_file(wrap_at(c.level, c.box));
  EXPECT_EQ(t.result, ErrorCode::Malformed);
  ASSERT_NE(t.reason(), nullptr);
  EXPECT_NE(std::strstr(t.reason(), c.reason), nullptr) << t.reason();
}

Bytes identity_matrix() {
  return cat({u32(0x00010000), u32(0), u32(0), u32(0), u32(0x00010000), u32(0), u32(0), u32(0), u32(0x40000000)});
}

Bytes mvhd_v0(uint32_t timescale, uint32_t duration, uint32_t next_track_id) {
  return full_box("mvhd", 0, 0,
                  cat({u32(100), u32(200), u32(timescale), u32(duration), u32(0x00010000), u16(0x0100), zeros(10),
                       identity_matrix(), zeros(24), u32(next_track_id)}));
}

}  // namespace vantorel::test
