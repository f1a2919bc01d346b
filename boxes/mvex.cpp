#include "boxes/mvex.h"

#include "boxes/mvhd.h"

namespace vantorel {

namespace {

MvexRecord* mvex_of(void* context) { return movie_record<MvexRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Mvex); }

ErrorCode read_mehd(BoxFile* file, const BoxHeader* box, FileBoxes* root) {
  uint8_t version = read_u8(file);
  read_u24be(file);
  if (!box_holds(file, box, 1, version == 1 ? 8 : 4)) return malformed(file, "'mehd' shorter than its duration");
  uint64_t duration = version == 1 ? read_u64be(file) : read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  MvhdRecord* mvhd = movie_record<MvhdRecord>(root, BoxTypeId::Mvhd);
  if (mvhd != nullptr) mvhd->duration = duration;
  return ErrorCode::Ok;
}

ErrorCode read_trex(BoxFile* file, const BoxHeader* box, MvexRecord* mvex) {
  if (!box_holds(file, box, 1, 24)) return malformed(file, "'trex' shorter than its fields");
  TrexEntry* t = nullptr;
  VT_TRY(mvex->trex.append_zeroed(&t));
  t->version = read_u8(file);
  t->flags = read_u24be(file);
  t->track_id = read_u32be(file);
  t->default_sample_description_index = read_u32be(file);
  t->default_sample_duration = read_u32be(file);
  t->default_sample_size = read_u32be(file);
  t->default_sample_flags = read_u32be(file);
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

}  // namespace

TrexEntry* find_track_extends(FileBoxes* root, uint32_t track_id) {
  MvexRecord* mvex = movie_record<MvexRecord>(root, BoxTypeId::Mvex);
  if (mvex == nullptr) return nullptr;
  for (TrexEntry& t : mvex->trex)
    if (t.track_id == track_id) return &t;
  return nullptr;
}

void mvex_release(BoxFile*, void* context) {
  MvexRecord* mvex = mvex_of(context);
  if (mvex != nullptr) mvex->trex.release();
}

ErrorCode mvex_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  auto* root = static_cast<FileBoxes*>(context);
  MvexRecord* mvex = mvex_of(root);
  if (mvex == nullptr) return ErrorCode::Missing;
  while (box_bytes_left(file, header) >= 8 && !io_failed(file)) {
    BoxHeader child;
    VT_TRY(read_box_header(file, &child));
    if (io_failed(file)) break;
    if (child.end > header->end) child.end = header->end;  // cut at the parent's end, as the tree does
    if (child.type == "mehd") {
      VT_TRY(read_mehd(file, &child, root));
    } else if (child.type == "trex") {
      VT_TRY(read_trex(file, &child, mvex));
    }
    VT_TRY(file_seek(file, child.end));
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
