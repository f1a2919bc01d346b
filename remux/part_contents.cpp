// What each part carries of the input: its brands, the presentation and
// metadata of the movie, and the planned tracks with their references,
// presentation and metadata.
#include <cstring>

#include "boxes/ftyp.h"
#include "boxes/mdhd.h"
#include "boxes/mvhd.h"
#include "boxes/tkhd.h"
#include "boxes/tref.h"
#include "mediafile/media_file.h"
#include "remux/parts.h"
#include "sampletables/formats.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

bool has_brand(const GrowArray<FourCC>& brands, FourCC brand) {
  for (const FourCC& b : brands)
    if (b == brand) return true;
  return false;
}

}  // namespace

// The output's brands: the input's, except that an MP4 never keeps
// QuickTime's 'qt  ' (nor does a movie without 'ftyp' get it): those get the
// MP4 defaults. Each carried format adds the brand its binding asks for.
ErrorCode part_brands(const OutputParts& parts, std::span<const PlannedTrack> tracks, OpenParams* params,
                      GrowArray<FourCC>* brands) {
  static const FourCC kDefaultBrands[] = {FourCC::of("isom"), FourCC::of("iso2"), FourCC::of("mp41")};
  if (parts.options->output_form == kOutputQuickTime) {
    params->major_brand = FourCC::of("qt  ");
    params->minor_version = 0x200;
    VT_TRY(brands->append(FourCC::of("qt  ")));
    params->compatible_brand_count = brands->count;
    params->compatible_brands = brands->items;
    return ErrorCode::Ok;
  }
  auto* ftyp = movie_record<FileTypeRecord>(parts.input->root, BoxTypeId::Ftyp);
  if (ftyp == nullptr || ftyp->major_brand == "qt  ") {
    params->major_brand = FourCC::of("isom");
    params->minor_version = 0x200;
    for (const FourCC& b : kDefaultBrands) VT_TRY(brands->append(b));
  } else {
    params->major_brand = ftyp->major_brand;
    params->minor_version = ftyp->minor_version;
    // An 'ftyp' without compatible brands lists its major brand.
    if (ftyp->brand_count == 0) VT_TRY(brands->append(ftyp->major_brand));
    for (uint32_t i = 0; i < ftyp->brand_count; ++i)
      if (!(ftyp->compatible_brands[i] == "qt  ")) VT_TRY(brands->append(ftyp->compatible_brands[i]));
  }
  for (const PlannedTrack& row : tracks) {
    FourCC brand = format_brand(row.fourcc);
    if (!brand.is_zero() && !has_brand(*brands, brand)) VT_TRY(brands->append(brand));
  }
  // An audio file named .m4a says so in its major brand.
  bool sound_only = !tracks.empty();
  for (const PlannedTrack& row : tracks) sound_only = sound_only && row.audio;
  if (parts.options->output_form == kOutputAudioMp4 && sound_only) {
    params->major_brand = FourCC::of("M4A ");
    params->minor_version = 0x200;
    if (!has_brand(*brands, params->major_brand)) VT_TRY(brands->append(params->major_brand));
  }
  params->compatible_brand_count = brands->count;
  params->compatible_brands = brands->items;
  return ErrorCode::Ok;
}

namespace {

bool is_carried(std::span<const PlannedTrack> tracks, uint32_t track_id) {
  for (const PlannedTrack& row : tracks)
    if (row.input_track_id == track_id) return true;
  return false;
}

// The track that hosts them names the chapter tracks the selection left
// without a referrer, in its 'chap' reference box (a new one if it has none).
ErrorCode host_orphan_chapters(OutputParts* parts, std::span<const PlannedTrack> tracks, const PlannedTrack& row,
                               TrackBoxes* to) {
  if (!row.chapter_host) return ErrorCode::Ok;
  bool any = false;
  for (const PlannedTrack& other : tracks) any = any || other.chapter_orphan;
  if (!any) return ErrorCode::Ok;
  if (track_record<TrefRecord>(to, BoxTypeId::Tref) == nullptr)
    VT_TRY(add_track_box(parts->output, to, BoxTypeId::Tref));
  auto* tref = track_record<TrefRecord>(to, BoxTypeId::Tref);
  if (tref == nullptr) return ErrorCode::Missing;
  const FourCC chap = reference_box_type(kReferenceChap);
  TrefEntry* box = nullptr;
  for (TrefEntry& r : tref->references)
    if (r.type == chap && box == nullptr) box = &r;
  if (box == nullptr) {
    VT_TRY(tref->references.append_zeroed(&box));
    box->type = chap;
  }
  for (const PlannedTrack& other : tracks) {
    if (!other.chapter_orphan) continue;
    bool listed = false;
    for (uint32_t id : box->track_ids) listed = listed || id == other.input_track_id;
    if (!listed) VT_TRY(box->track_ids.append(other.input_track_id));
  }
  return ErrorCode::Ok;
}

// The output track keeps every reference box of the input track's, in
// order, without the ids of the input's tracks this part leaves out. Ids
// stay as read: a carried track keeps its id.
ErrorCode carry_references(OutputParts* parts, std::span<const PlannedTrack> tracks, const PlannedTrack& row,
                           uint32_t output_track_id) {
  FileBoxes* in = parts->input->root;
  TrackBoxes* from = find_track(in, row.input_track_id);
  TrackBoxes* to = find_track(parts->output->root, output_track_id);
  if (from == nullptr || to == nullptr) return ErrorCode::Ok;
  if (track_record<TrefRecord>(from, BoxTypeId::Tref) == nullptr) return host_orphan_chapters(parts, tracks, row, to);
  GrowArray<uint32_t> left_out{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < track_count(in) && e == ErrorCode::Ok; ++i) {
    uint32_t id = track_id_of(track_at(in, i));
    if (!is_carried(tracks, id)) e = left_out.append(id);
  }
  if (e == ErrorCode::Ok) e = tref_copy(parts->output, to, from);
  if (e == ErrorCode::Ok) tref_remove_ids(parts->output, to, left_out.data(), left_out.count);
  left_out.release();
  return e;
}

// How the input presents a track survives the remux: orientation, alternate
// group, enabled flags, layer, volume, display size and creation time. The
// modification times stay "now".
void copy_track_presentation(OutputParts* parts, uint32_t input_track_id, uint32_t output_track_id) {
  TrackBoxes* in = find_track(parts->input->root, input_track_id);
  TrackBoxes* out = find_track(parts->output->root, output_track_id);
  auto* from = track_record<TkhdRecord>(in, BoxTypeId::Tkhd);
  auto* to = track_record<TkhdRecord>(out, BoxTypeId::Tkhd);
  if (from != nullptr && to != nullptr) {
    std::memcpy(to->matrix, from->matrix, sizeof to->matrix);
    to->alternate_group = from->alternate_group;
    to->flags = (to->flags & ~uint32_t{kTrackEnabled | kTrackInMovie | kTrackInPreview}) |
                (from->flags & (kTrackEnabled | kTrackInMovie | kTrackInPreview));
    to->layer = from->layer;
    to->volume = from->volume;
    if (from->width != 0 && from->height != 0) {
      to->width = from->width;
      to->height = from->height;
    }
    to->creation_time = from->creation_time;
    if (!fits_u32(to->creation_time)) to->version = 1;
  }
  auto* media_from = track_record<MdhdRecord>(in, BoxTypeId::Mdhd);
  auto* media_to = track_record<MdhdRecord>(out, BoxTypeId::Mdhd);
  if (media_from != nullptr && media_to != nullptr) {
    media_to->creation_time = media_from->creation_time;
    if (!fits_u32(media_to->creation_time)) media_to->version = 1;
  }
}

void copy_movie_presentation(OutputParts* parts) {
  auto* from = movie_record<MvhdRecord>(parts->input->root, BoxTypeId::Mvhd);
  auto* to = movie_record<MvhdRecord>(parts->output->root, BoxTypeId::Mvhd);
  if (from == nullptr || to == nullptr) return;
  std::memcpy(to->matrix, from->matrix, sizeof to->matrix);
  to->creation_time = from->creation_time;
  if (!fits_u32(to->creation_time)) to->version = 1;
}

}  // namespace

ErrorCode part_carry(OutputParts* parts, bool continuation, std::span<const PlannedTrack> tracks) {
  MediaFile* input = parts->input;
  MediaFile* output = parts->output;
  copy_movie_presentation(parts);
  // Every part carries the movie's metadata whole.
  VT_TRY(copy_movie_metadata(input, output));
  for (uint32_t i = 0; i < tracks.size(); ++i) {
    const PlannedTrack& row = tracks[i];
    if (row.shape_drop != 0) return ErrorCode::Missing;
    TrackSpec track_spec = row.shape;
    track_spec.media_time = continuation ? row.continuation_media_time : row.media_time;
    // A later part's media time starts again: the input's end is its own.
    track_spec.media_end = continuation ? 0 : row.media_end;
    uint32_t& output_track_id = parts->output_track_ids[i];
    output_track_id = media_add_track(output, &track_spec);
    if (output_track_id == 0) return ErrorCode::Missing;
    VT_TRY(carry_references(parts, tracks, row, output_track_id));
    if (row.follows_groups)
      VT_TRY(sample_groups_start(find_track(output->root, output_track_id), find_track(input->root, row.input_track_id)));
    // A 'colr' the import built takes the output's form; one read travels as it is.
    const TrackBoxes* from = find_track(input->root, row.input_track_id);
    if (row.carried_whole && parts->options->output_form == kOutputQuickTime && from != nullptr &&
        from->extra != nullptr && from->extra->colour_built != 0)
      whole_entries_colour_as_nclc(find_track(output->root, output_track_id));
    copy_track_presentation(parts, row.input_track_id, output_track_id);
    VT_TRY(copy_track_metadata(input, row.input_track_id, output, output_track_id));
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
