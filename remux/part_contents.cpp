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

// The input track's references to carried tracks, into `ids`.
ErrorCode carried_references(MediaFile* input, std::span<const PlannedTrack> tracks, uint32_t track_id,
                             uint32_t* type, GrowArray<uint32_t>* ids) {
  *type = kReferenceNone;
  TrackBoxes* track = find_track(input->root, track_id);
  auto* tref = track_record<TrefRecord>(track, BoxTypeId::Tref);
  if (tref == nullptr || tref->reference_type == kReferenceNone) return ErrorCode::Ok;
  for (uint32_t id : tref->track_ids)
    if (is_carried(tracks, id)) VT_TRY(ids->append(id));
  // A reference left without tracks is not written.
  if (ids->count > 0) *type = tref->reference_type;
  return ErrorCode::Ok;
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
    if (row.spec_drop != 0) return ErrorCode::Missing;
    TrackSpec track_spec = row.spec;
    track_spec.media_time = continuation ? row.continuation_media_time : row.media_time;
    // A later part's media time starts again: the input's end is its own.
    track_spec.media_end = continuation ? 0 : row.media_end;
    GrowArray<uint32_t> ids{};
    uint32_t& output_track_id = parts->output_track_ids[i];
    ErrorCode e = carried_references(input, tracks, row.input_track_id, &track_spec.reference_type, &ids);
    if (e == ErrorCode::Ok) {
      track_spec.reference_count = ids.count;
      track_spec.reference_ids = ids.data();
      output_track_id = media_add_track(output, &track_spec);
      if (output_track_id == 0) e = ErrorCode::Missing;
    }
    ids.release();
    VT_TRY(e);
    if (row.follows_groups)
      VT_TRY(sample_groups_start(find_track(output->root, output_track_id), find_track(input->root, row.input_track_id)));
    copy_track_presentation(parts, row.input_track_id, output_track_id);
    VT_TRY(copy_track_metadata(input, row.input_track_id, output, output_track_id));
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
