// What each part carries of the input: its brands, the presentation and
// metadata of the movie, and the planned tracks with their references,
// presentation and metadata.
#include <cstring>

#include "mediafile/mediafile.h"
#include "remux/parts.h"

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
  FileBrands ftyp{};
  if (file_brands(parts.input, &ftyp) != ErrorCode::Ok || ftyp.major_brand == "qt  ") {
    params->major_brand = FourCC::of("isom");
    params->minor_version = 0x200;
    for (const FourCC& b : kDefaultBrands) VT_TRY(brands->append(b));
  } else {
    params->major_brand = ftyp.major_brand;
    params->minor_version = ftyp.minor_version;
    // An 'ftyp' without compatible brands lists its major brand.
    if (ftyp.brand_count == 0) VT_TRY(brands->append(ftyp.major_brand));
    for (uint32_t i = 0; i < ftyp.brand_count; ++i)
      if (!(ftyp.compatible_brands[i] == "qt  ")) VT_TRY(brands->append(ftyp.compatible_brands[i]));
  }
  for (const PlannedTrack& row : tracks) {
    FourCC brand = carried_format_brand(row.fourcc);
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

// The track that hosts them names the chapter tracks the selection left
// without a referrer in its 'chap' reference (a new one if it has none).
ErrorCode host_orphan_chapters(OutputParts* parts, std::span<const PlannedTrack> tracks, const PlannedTrack& row,
                               uint32_t output_track_id) {
  if (!row.chapter_host) return ErrorCode::Ok;
  GrowArray<uint32_t> orphans{};
  ErrorCode e = ErrorCode::Ok;
  for (const PlannedTrack& other : tracks)
    if (other.chapter_orphan && e == ErrorCode::Ok) e = orphans.append(other.input_track_id);
  if (e == ErrorCode::Ok) e = add_track_chapter_ids(parts->output, output_track_id, orphans.data(), orphans.count);
  orphans.release();
  return e;
}

// The output track keeps every reference of the input track's, in order,
// without the ids of the input's tracks this part leaves out. Ids stay as
// read: a carried track keeps its id.
ErrorCode carry_references(OutputParts* parts, std::span<const PlannedTrack> tracks, const PlannedTrack& row,
                           uint32_t output_track_id) {
  if (!track_has_references(parts->input, row.input_track_id))
    return host_orphan_chapters(parts, tracks, row, output_track_id);
  GrowArray<uint32_t> kept{};
  ErrorCode e = ErrorCode::Ok;
  for (const PlannedTrack& other : tracks)
    if (e == ErrorCode::Ok) e = kept.append(other.input_track_id);
  if (e == ErrorCode::Ok)
    e = copy_track_references(parts->input, row.input_track_id, parts->output, output_track_id, kept.data(),
                              kept.count);
  kept.release();
  return e;
}

}  // namespace

ErrorCode part_carry(OutputParts* parts, bool continuation, std::span<const PlannedTrack> tracks) {
  MediaFile* input = parts->input;
  MediaFile* output = parts->output;
  copy_movie_presentation(input, output);
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
    if (row.follows_groups) VT_TRY(start_sample_groups(input, row.input_track_id, output, output_track_id));
    // A 'colr' the import built takes the output's form; one read travels as it is.
    if (row.carried_whole && parts->options->output_form == kOutputQuickTime)
      carry_built_colour_as_quicktime(input, row.input_track_id, output, output_track_id);
    copy_track_presentation(input, row.input_track_id, output, output_track_id);
    VT_TRY(copy_track_metadata(input, row.input_track_id, output, output_track_id));
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
