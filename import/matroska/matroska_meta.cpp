// Matroska metadata: movie tags, chapters of the first edition and a cover
// picture among the attachments.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/moov.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "boxes/tref.h"
#include "import/imported_sample.h"
#include "import/matroska/matroska_internal.h"
#include "io/file_io.h"
#include "io/value64.h"
#include "meta/chapters.h"
#include "sampletables/movie_upkeep.h"
#include "sampletables/track_builder.h"

namespace vantorel {

namespace {

// Tag names of Matroska and the MP4 items they become, by slot.
struct TagItem {
  const char* matroska;
  const char* item;
};
constexpr TagItem kTagItems[] = {
    {"TITLE", "\xA9nam"},      {"ARTIST", "\xA9" "ART"}, {"ALBUM", "\xA9" "alb"},   {"DATE_RELEASED", "\xA9" "day"},
    {"COMMENT", "\xA9" "cmt"}, {"GENRE", "\xA9gen"},     {"ENCODER", "\xA9too"},   {"ALBUM_ARTIST", "aART"},
    {"COMPOSER", "\xA9wrt"},   {"DESCRIPTION", "desc"},  {"COPYRIGHT", "cprt"},    {"DATE_RECORDED", "\xA9" "day"},
    {"DATE", "\xA9" "day"},
};
constexpr uint32_t kTagItemCount = sizeof kTagItems / sizeof kTagItems[0];
static_assert(kTagItemCount <= 16);

constexpr uint32_t kTargetIds[] = {0x63C5, 0x63C4, 0x63C9, 0x63C6};  // track, chapter, edition, attachment UIDs

bool same_text(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
    char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// A SimpleTag of the movie: its value in the item's slot.
ErrorCode read_simple_tag(MkvImport* imp, const EbmlElement* simple) {
  char name[64] = "";
  char value[256] = "";
  VT_TRY(mkv_walk(imp, simple, [&](const EbmlElement* e) {
    if (e->id == kTagName) return ebml_text(imp->file, e, name, sizeof name);
    if (e->id == kTagString) return ebml_text(imp->file, e, value, sizeof value);
    return ErrorCode::Ok;
  }));
  if (value[0] == '\0') return ErrorCode::Ok;
  if (same_text(name, "PART_NUMBER")) {
    imp->part_number = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    return ErrorCode::Ok;
  }
  for (uint32_t i = 0; i < kTagItemCount; ++i)
    if (same_text(name, kTagItems[i].matroska) && imp->tags[i][0] == '\0') std::memcpy(imp->tags[i], value, sizeof value);
  return ErrorCode::Ok;
}

// Two bytes of a 16-bit big-endian value.
void put16(GrowArray<uint8_t>* b, ErrorCode* e, uint32_t v) {
  if (*e == ErrorCode::Ok) *e = b->append_doubling(static_cast<uint8_t>(v >> 8), 256);
  if (*e == ErrorCode::Ok) *e = b->append_doubling(static_cast<uint8_t>(v), 256);
}
void put_bytes(GrowArray<uint8_t>* b, ErrorCode* e, const void* p, uint32_t n) {
  for (uint32_t i = 0; i < n && *e == ErrorCode::Ok; ++i) *e = b->append_doubling(static_cast<const uint8_t*>(p)[i], 256);
}
void put32(GrowArray<uint8_t>* b, ErrorCode* e, uint32_t v) {
  put16(b, e, v >> 16);
  put16(b, e, v);
}
uint32_t open_box(GrowArray<uint8_t>* b, ErrorCode* e, const char* type) {
  uint32_t at = b->count;
  put32(b, e, 0);
  put_bytes(b, e, type, 4);
  return at;
}
void close_box(GrowArray<uint8_t>* b, ErrorCode* e, uint32_t at) {
  if (*e == ErrorCode::Ok) store_u32be(b->items + at, b->count - at);
}
// An 'ilst' item holding one 'data' box.
void put_item(GrowArray<uint8_t>* b, ErrorCode* e, const char* type, uint32_t data_type, const void* value, uint32_t n) {
  uint32_t item = open_box(b, e, type);
  uint32_t data = open_box(b, e, "data");
  put32(b, e, data_type);
  put32(b, e, 0);
  put_bytes(b, e, value, n);
  close_box(b, e, data);
  close_box(b, e, item);
}

}  // namespace

ErrorCode mkv_read_tags(MkvImport* imp, const EbmlElement* tags) {
  return mkv_walk(imp, tags, [&](const EbmlElement* tag) {
    if (tag->id != kTag) return ErrorCode::Ok;
    // Only tags whose targets name no track, chapter, edition or attachment
    // describe the movie.
    bool movie = true;
    VT_TRY(mkv_walk(imp, tag, [&](const EbmlElement* e) {
      if (e->id != kTargets) return ErrorCode::Ok;
      return mkv_walk(imp, e, [&](const EbmlElement* t) {
        for (uint32_t id : kTargetIds) {
          uint64_t uid = 0;
          if (t->id == id) VT_TRY(ebml_uint(imp->file, t, &uid));
          if (uid != 0) movie = false;
        }
        return ErrorCode::Ok;
      });
    }));
    if (!movie) return ErrorCode::Ok;
    return mkv_walk(imp, tag, [&](const EbmlElement* e) {
      return e->id == kSimpleTag ? read_simple_tag(imp, e) : ErrorCode::Ok;
    });
  });
}

ErrorCode mkv_read_chapters(MkvImport* imp, const EbmlElement* chapters) {
  return mkv_walk(imp, chapters, [&](const EbmlElement* edition) {
    if (edition->id != kEditionEntry || imp->chapters_read) return ErrorCode::Ok;
    imp->chapters_read = 1;
    return mkv_walk(imp, edition, [&](const EbmlElement* atom) {
      if (atom->id != kChapterAtom) return ErrorCode::Ok;
      uint64_t start = 0, end = 0;
      char title[256] = "";
      VT_TRY(mkv_walk(imp, atom, [&](const EbmlElement* e) {
        if (e->id == kChapterTimeStart) return ebml_uint(imp->file, e, &start);
        if (e->id == kChapterTimeEnd) return ebml_uint(imp->file, e, &end);
        if (e->id != kChapterDisplay || title[0] != '\0') return ErrorCode::Ok;
        return mkv_walk(imp, e, [&](const EbmlElement* d) {
          return d->id == kChapString ? ebml_text(imp->file, d, title, sizeof title) : ErrorCode::Ok;
        });
      }));
      // Chapter times count 100 ns.
      imp->last_chapter_end = end > start ? end / 100 : 0;
      return add_chapter(imp->file, start / 100, title);
    });
  });
}

ErrorCode mkv_read_attachments(MkvImport* imp, const EbmlElement* attachments) {
  return mkv_walk(imp, attachments, [&](const EbmlElement* attached) {
    if (attached->id != kAttachedFile || imp->cover_named) return ErrorCode::Ok;
    char name[256] = "";
    char type[64] = "";
    EbmlElement data{};
    VT_TRY(mkv_walk(imp, attached, [&](const EbmlElement* e) {
      if (e->id == kFileName) return ebml_text(imp->file, e, name, sizeof name);
      if (e->id == kFileMediaType) return ebml_text(imp->file, e, type, sizeof type);
      if (e->id == kFileData) data = *e;
      return ErrorCode::Ok;
    }));
    uint32_t kind = std::strcmp(type, "image/jpeg") == 0 ? 13 : std::strcmp(type, "image/png") == 0 ? 14 : 0;
    // A picture too large to hold is left out, as fonts and other files are.
    if (kind == 0 || data.size == 0 || data.cut || data.size > kMaxOwnedBlock) return ErrorCode::Ok;
    const bool named = std::strncmp(name, "cover.", 6) == 0;
    // A picture named cover.* wins over the first picture.
    if (imp->cover_type != 0 && !named) return ErrorCode::Ok;
    block_release(&imp->cover);
    VT_TRY(file_seek(imp->file, data.data));
    VT_TRY(block_read(imp->file, &imp->cover, data.size, "Matroska cover picture too large"));
    imp->cover_type = kind;
    imp->cover_named = named ? 1 : 0;
    return ErrorCode::Ok;
  });
}

ErrorCode mkv_add_movie_tags(MkvImport* imp) {
  ImportFile* file = imp->file;
  if (imp->tags[0][0] == '\0' && imp->title[0] != '\0') std::memcpy(imp->tags[0], imp->title, sizeof imp->title);
  bool any = imp->part_number != 0 || imp->cover_type != 0;
  for (uint32_t i = 0; i < kTagItemCount; ++i) any = any || imp->tags[i][0] != '\0';
  if (!any) return ErrorCode::Ok;

  GrowArray<uint8_t> b{};
  ErrorCode e = ErrorCode::Ok;
  uint32_t udta = open_box(&b, &e, "udta");
  uint32_t meta = open_box(&b, &e, "meta");
  put32(&b, &e, 0);
  uint32_t hdlr = open_box(&b, &e, "hdlr");
  put32(&b, &e, 0);
  put32(&b, &e, 0);
  put_bytes(&b, &e, "mdirappl", 8);
  put32(&b, &e, 0);
  put32(&b, &e, 0);
  put_bytes(&b, &e, "", 1);
  close_box(&b, &e, hdlr);
  uint32_t ilst = open_box(&b, &e, "ilst");
  const char* done[kTagItemCount] = {};
  for (uint32_t i = 0; i < kTagItemCount; ++i) {
    if (imp->tags[i][0] == '\0') continue;
    bool repeated = false;  // several Matroska dates make one MP4 year
    for (uint32_t k = 0; k < i; ++k) repeated = repeated || (done[k] != nullptr && std::strcmp(done[k], kTagItems[i].item) == 0);
    if (repeated) continue;
    done[i] = kTagItems[i].item;
    put_item(&b, &e, kTagItems[i].item, 1, imp->tags[i], static_cast<uint32_t>(std::strlen(imp->tags[i])));
  }
  if (imp->part_number != 0 && imp->part_number <= 0xFFFF) {
    const uint8_t track[8] = {0, 0, static_cast<uint8_t>(imp->part_number >> 8), static_cast<uint8_t>(imp->part_number), 0, 0, 0, 0};
    put_item(&b, &e, "trkn", 0, track, sizeof track);
  }
  if (imp->cover_type != 0) put_item(&b, &e, "covr", imp->cover_type, imp->cover.bytes, imp->cover.length);
  close_box(&b, &e, ilst);
  close_box(&b, &e, meta);
  close_box(&b, &e, udta);
  if (e == ErrorCode::Ok && imp->root->moov->udta == nullptr) e = add_movie_box(file, BoxTypeId::Udta);
  if (e == ErrorCode::Ok) {
    BoxHeader h;
    make_box_header(&h, FourCC::of("udta"), nullptr, 0, b.count, b.count);
    ScopedMemoryStream view(file);
    e = view.open_view(b.items, b.count);
    if (e == ErrorCode::Ok) e = file_seek(file, 8);
    if (e == ErrorCode::Ok) e = udta_read(file, &h, imp->root);
  }
  b.release();
  return e;
}

}  // namespace vantorel

namespace vantorel {

namespace {

// A QuickTime text entry as chapter tracks use it: no display flags,
// black text on white, the default box and font.
void chapter_text_entry(MkvBytes* o) {
  uint32_t entry = o->open("text");
  o->zeros(6);
  o->u16(1);
  o->u32(0);           // display flags
  o->u32(0);           // justification
  o->u16(0xFFFF), o->u16(0xFFFF), o->u16(0xFFFF);  // background
  o->zeros(8);         // text box
  o->zeros(8);
  o->u16(0);           // font number
  o->u16(0);           // face
  o->zeros(3);
  o->zeros(6);         // foreground
  o->u8(0);            // font name
  o->close(entry);
}

}  // namespace

ErrorCode mkv_add_chapter_track(MkvImport* imp) {
  ImportFile* file = imp->file;
  MetadataCounts counts{};
  VT_TRY(metadata_counts(file, &counts));
  auto* mvhd = movie_record<MvhdRecord>(imp->root, BoxTypeId::Mvhd);
  const uint32_t tracks = track_count(imp->root);
  if (counts.chapter_count == 0 || mvhd == nullptr || mvhd->timescale == 0 || tracks == 0) return ErrorCode::Ok;
  // Chapter times count 100 ns; the track counts 10 us, so that a sample
  // spans hours.
  constexpr uint32_t kTimescale = 100000;
  const uint64_t movie_end = rescale(mvhd->duration, mvhd->timescale, kTimescale);
  ConvertedTrack text{};
  GrowArray<ImportedSample> samples{};
  ErrorCode e = ErrorCode::Ok;
  uint64_t first_start = 0;
  for (uint32_t i = 0; e == ErrorCode::Ok && i < counts.chapter_count; ++i) {
    ChapterInfo chapter{};
    e = get_chapter(file, i, &chapter);
    if (e != ErrorCode::Ok) break;
    const uint64_t start = chapter.start_time / 100;
    // The last chapter ends where it says, else with the movie.
    uint64_t end = movie_end;
    if (i + 1 == counts.chapter_count && imp->last_chapter_end != 0)
      end = std::min(end, imp->last_chapter_end / 100);
    if (i + 1 < counts.chapter_count) {
      ChapterInfo next{};
      e = get_chapter(file, i + 1, &next);
      end = std::min(end, next.start_time / 100);
    }
    const uint64_t expected = samples.count > 0 ? samples.back().decode_time + samples.back().duration : start;
    // Chapters out of order or past the end stay in the list only.
    if (e != ErrorCode::Ok || end <= start || start != expected || end - start > UINT32_MAX) continue;
    if (samples.count == 0) first_start = start;
    // The title, then an 'encd' box saying it is UTF-8.
    const uint32_t n = static_cast<uint32_t>(std::strlen(chapter.title));
    uint8_t bytes[2 + kMaxChapterTitle + 12];
    bytes[0] = static_cast<uint8_t>(n >> 8), bytes[1] = static_cast<uint8_t>(n);
    std::memcpy(bytes + 2, chapter.title, n);
    const uint8_t encd[12] = {0, 0, 0, 12, 'e', 'n', 'c', 'd', 0, 0, 1, 0};
    std::memcpy(bytes + 2 + n, encd, sizeof encd);
    uint32_t at = 0;
    e = converted_hold(&text, bytes, 2 + n + 12, &at);
    SamplePiece piece{at, 2 + n + 12, kPieceHeld};
    if (e == ErrorCode::Ok) e = converted_add_sample(&text, &piece, 1);
    ImportedSample s{};
    s.decode_time = start - first_start;
    s.size = 2 + n + 12;
    s.duration = static_cast<uint32_t>(end - start);
    s.description = 1;
    s.where = kSamplePieces;
    s.sync = true;
    if (e == ErrorCode::Ok) e = samples.append_doubling(s, 16);
  }
  if (e != ErrorCode::Ok || samples.count == 0) {
    converted_release(&text);
    samples.release();
    return e;
  }
  // Every track names the chapter track, which itself is never shown.
  const uint32_t track_id = mvhd->next_track_id;
  TrackSetup setup{};
  setup.kind = kHandlerText;
  setup.timescale = kTimescale;
  setup.track_id = track_id;
  TrackBoxes* track = create_track(file, &setup);
  if (track == nullptr) e = ErrorCode::Missing;
  MkvBytes entry{};
  if (e == ErrorCode::Ok) {
    chapter_text_entry(&entry);
    e = entry.e;
  }
  if (e == ErrorCode::Ok) e = mkv_set_entry(imp, track, entry);
  entry.b.release();
  if (e == ErrorCode::Ok) {
    // An empty edit when the first chapter starts late; the track ends
    // with its last chapter.
    e = add_track_box(file, track, BoxTypeId::Edts);
    if (e == ErrorCode::Ok) e = add_track_box(file, track, BoxTypeId::Elst);
    if (e == ErrorCode::Ok && first_start > 0)
      e = add_edit(file, track, rescale(first_start, kTimescale, mvhd->timescale), kEmptyEdit, 1, 0);
    const uint64_t last = samples.back().decode_time + samples.back().duration;
    if (e == ErrorCode::Ok) e = add_edit(file, track, rescale(last, kTimescale, mvhd->timescale), 0, 1, 0);
  }
  if (e == ErrorCode::Ok) {
    auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
    if (tkhd != nullptr) tkhd->flags &= ~uint32_t{kTrackEnabled};
    e = import_track_samples(file, track, samples.items, samples.count, &text);
  } else {
    converted_release(&text);
  }
  samples.release();
  if (e != ErrorCode::Ok) {
    if (track != nullptr) remove_track(file, find_track(imp->root, track_id));
    return e;
  }
  for (uint32_t i = 0; i < tracks; ++i) {
    TrackBoxes* other = track_at(imp->root, i);
    if (other == nullptr || other->tref != nullptr) continue;
    VT_TRY(add_track_box(file, other, BoxTypeId::Tref));
    VT_TRY(set_reference_type(other, kReferenceChap));
    VT_TRY(add_reference(file, other, track_id));
  }
  VT_TRY(update_durations(file, imp->root));
  return set_next_track_id(imp->root);
}

}  // namespace vantorel
