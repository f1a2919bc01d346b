// What a description of a file shows beyond what reading and writing need:
// brands, each track's measured bit rates, turn, played duration and colour
// boxes, its name, the chapters and the QuickTime text entries.
#include <cmath>
#include <cstring>

#include "boxes/elst.h"
#include "boxes/ftyp.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "io/byte_io.h"
#include "mediafile/internal.h"
#include "mediafile/mediafile.h"
#include "meta/chapters.h"
#include "meta/ilst_items.h"
#include "meta/user_data.h"
#include "sampletables/formats.h"

namespace vantorel {

namespace {

// Bits per second over the media duration, not rounded to whole bytes.
uint32_t average_bit_rate(uint64_t bytes, uint32_t timescale, uint64_t duration) {
  if (duration == 0 || bytes == 0) return 0;
  unsigned __int128 rate = static_cast<unsigned __int128>(bytes) * 8 * timescale / duration;
  return rate > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(rate);
}

// The turn ffprobe reports for a display matrix: the angle of the picture's
// first column, counter-clockwise, computed in the same steps and cut to
// whole degrees the same way, so both tools agree to the degree.
int32_t matrix_rotation(const uint32_t* m) {
  constexpr double kPi = 3.14159265358979323846;
  auto fixed = [](uint32_t v) { return static_cast<double>(static_cast<int32_t>(v)) / 65536.0; };
  double scale_x = std::hypot(fixed(m[0]), fixed(m[3]));
  double scale_y = std::hypot(fixed(m[1]), fixed(m[4]));
  if (scale_x == 0 || scale_y == 0) return 0;
  double degrees = std::atan2(fixed(m[1]) / scale_y, fixed(m[0]) / scale_x) * 180 / kPi;
  return static_cast<int32_t>(-degrees);
}

void read_colour(TrackBoxes* track, ColourFacts* out) {
  uint32_t n = 0;
  const uint8_t* p = entry_child(track, "colr", &n);
  if (p == nullptr || n < 4) return;
  out->colour_type = FourCC::from_u32(load_u32be(p));
  if ((out->colour_type == "nclx" || out->colour_type == "nclc") && n >= 10) {
    out->primaries = load_u16be(p + 4);
    out->transfer = load_u16be(p + 6);
    out->matrix = load_u16be(p + 8);
    if (out->colour_type == "nclx" && n >= 11) {
      out->range_known = 1;
      out->full_range = p[10] >> 7;
    }
  } else if (out->colour_type == "prof" || out->colour_type == "rICC") {
    out->profile_size = n - 4;
  } else if (out->colour_type == "nclx" || out->colour_type == "nclc") {
    out->colour_type = FourCC{};  // cut inside its fields: nothing to tell
  }
}

void read_mastering_display(TrackBoxes* track, MasteringDisplayFacts* out) {
  uint32_t n = 0;
  const uint8_t* p = entry_child(track, "mdcv", &n);
  if (p == nullptr || n < 24) return;
  out->present = 1;
  for (int i = 0; i < 3; ++i) {
    out->primary_x[i] = load_u16be(p + 4 * i);
    out->primary_y[i] = load_u16be(p + 4 * i + 2);
  }
  out->white_x = load_u16be(p + 12);
  out->white_y = load_u16be(p + 14);
  out->max_luminance = load_u32be(p + 16);
  out->min_luminance = load_u32be(p + 20);
}

void read_light_level(TrackBoxes* track, LightLevelFacts* out) {
  uint32_t n = 0;
  const uint8_t* p = entry_child(track, "clli", &n);
  if (p == nullptr || n < 4) return;
  out->present = 1;
  out->max_content = load_u16be(p);
  out->max_frame_average = load_u16be(p + 2);
}

void read_dolby_vision(TrackBoxes* track, DolbyVisionFacts* out) {
  for (const char* type : {"dvcC", "dvvC", "dvwC"}) {
    uint32_t n = 0;
    const uint8_t* p = entry_child(track, type, &n);
    if (p == nullptr || n < 5) continue;
    out->box = FourCC::of(type);
    out->version_major = p[0];
    out->version_minor = p[1];
    out->profile = p[2] >> 1;
    out->level = static_cast<uint8_t>(((p[2] & 1) << 5) | (p[3] >> 3));
    out->rpu_present = (p[3] >> 2) & 1;
    out->el_present = (p[3] >> 1) & 1;
    out->bl_present = p[3] & 1;
    out->compatibility_id = p[4] >> 4;
    return;
  }
}

// The edits that show media, in movie units; the media duration (at the
// movie's scale) without a list.
uint64_t played_duration(TrackBoxes* track, const MdhdRecord* mdhd, uint32_t movie_timescale, uint32_t* edits) {
  auto* elst = track_record<ElstRecord>(track, BoxTypeId::Elst);
  *edits = elst != nullptr ? elst->entries.count : 0;
  if (elst == nullptr || elst->entries.count == 0) {
    if (mdhd->timescale == 0) return 0;
    unsigned __int128 t = static_cast<unsigned __int128>(mdhd->duration) * movie_timescale / mdhd->timescale;
    return t > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(t);
  }
  uint64_t total = 0;
  for (const ElstEntry& e : elst->entries) {
    if (e.media_time == kEmptyEdit) continue;
    total = e.segment_duration > UINT64_MAX - total ? UINT64_MAX : total + e.segment_duration;
  }
  return total;
}

}  // namespace

void media_failure_detail(MediaFile* file, ErrorDetail* out) {
  if (out == nullptr) return;
  *out = file != nullptr ? file->detail : ErrorDetail{};
}

uint32_t movie_track_id(MediaFile* file, uint32_t index) {
  if (file == nullptr || index >= track_count(file->root)) return 0;
  TrackBoxes* track = track_at(file->root, index);
  return track != nullptr ? track_id_of(track) : 0;
}

ErrorCode file_brands(MediaFile* file, FileBrands* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = FileBrands{};
  auto* ftyp = movie_record<FileTypeRecord>(file->root, BoxTypeId::Ftyp);
  if (ftyp == nullptr) return ErrorCode::Missing;
  out->major_brand = ftyp->major_brand;
  out->minor_version = ftyp->minor_version;
  out->brand_count = ftyp->brand_count;
  out->compatible_brands = ftyp->compatible_brands;
  return ErrorCode::Ok;
}

ErrorCode track_details(MediaFile* file, uint32_t track_id, TrackDetails* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = TrackDetails{};
  TrackBoxes* track = find_track(file->root, track_id);
  if (track == nullptr) return ErrorCode::Missing;
  if (auto* hdlr = track_record<HdlrRecord>(track, BoxTypeId::Hdlr)) {
    // Tracks built by an importer have a kind but no stored type.
    out->handler_type = hdlr->handler_type.is_zero() ? handler_type_of(hdlr->kind) : hdlr->handler_type;
  }
  TrackInfo info;
  VT_TRY(track_info(file, track_id, &info));
  out->codec_name = format_codec_name(info.fourcc, info.object_type);
  out->has_picture = handler_is_video_like(info.kind) || info.kind == kHandlerSubpicture ? 1 : 0;
  out->is_sound = info.kind == kHandlerSound ? 1 : 0;
  out->counts_frames = out->is_sound && pcm_counts_frames(info.fourcc) ? 1 : 0;
  auto* mdhd = track_record<MdhdRecord>(track, BoxTypeId::Mdhd);
  auto* mvhd = movie_record<MvhdRecord>(file->root, BoxTypeId::Mvhd);
  if (mdhd == nullptr || mvhd == nullptr) return ErrorCode::Missing;
  out->played_duration = played_duration(track, mdhd, mvhd->timescale, &out->edit_count);
  if (file->mode == kOpenRead) {
    out->total_bytes = track_total_bytes(track);
    out->avg_bitrate = average_bit_rate(out->total_bytes, mdhd->timescale, mdhd->duration);
    out->max_bitrate = track_max_bitrate(track);
    // A track shorter than the one-second window has its whole rate as its
    // highest: the window's bits over a second would understate it.
    if (out->max_bitrate < out->avg_bitrate) out->max_bitrate = out->avg_bitrate;
  }
  if (auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd)) out->rotation = matrix_rotation(tkhd->matrix);
  if (out->has_picture) {
    read_colour(track, &out->colour);
    read_mastering_display(track, &out->mastering_display);
    read_light_level(track, &out->light_level);
    read_dolby_vision(track, &out->dolby_vision);
  }
  return ErrorCode::Ok;
}

ErrorCode track_display_name(MediaFile* file, uint32_t track_id, char* out, uint32_t capacity) {
  ErrorCode e = track_name(file, track_id, out, capacity);
  if (e != ErrorCode::Missing || out == nullptr || capacity == 0) return e;
  TrackBoxes* track = find_track(file->root, track_id);
  auto* hdlr = track != nullptr ? track_record<HdlrRecord>(track, BoxTypeId::Hdlr) : nullptr;
  if (hdlr == nullptr || hdlr->name == nullptr || hdlr->name[0] == '\0') return ErrorCode::Missing;
  size_t n = strnlen(hdlr->name, capacity - 1);
  std::memcpy(out, hdlr->name, n);
  out[n] = '\0';
  return ErrorCode::Ok;
}

uint32_t movie_chapter_count(MediaFile* file) { return file != nullptr ? file->meta.chapters.count : 0; }

ErrorCode movie_chapter(MediaFile* file, uint32_t index, ChapterMark* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = ChapterMark{};
  ChapterInfo chapter;
  VT_TRY(get_chapter(file, index, &chapter));
  static_assert(sizeof out->title == sizeof chapter.title);
  std::memcpy(out->title, chapter.title, sizeof out->title);
  out->start_time = chapter.start_time;
  return ErrorCode::Ok;
}

ErrorCode movie_user_texts(MediaFile* file, bool (*visit)(const UserDataText& text, void* user), void* user) {
  if (file == nullptr || visit == nullptr) return ErrorCode::BadArgument;
  MoovRecord* moov = file->root != nullptr ? file->root->moov : nullptr;
  if (moov == nullptr || moov->udta == nullptr) return ErrorCode::Ok;
  bool going = true;
  user_data_texts(moov->udta->carried, [&](FourCC type, const uint8_t* text, uint32_t length) {
    if (!going) return;
    UserDataText entry{};
    entry.type = type;
    if (!item_type_name(type, entry.type_name, sizeof entry.type_name)) entry.type_name[0] = '\0';
    entry.text = reinterpret_cast<const char*>(text);
    entry.length = length;
    going = visit(entry, user);
  });
  return ErrorCode::Ok;
}

}  // namespace vantorel
