#include "remux/verify.h"

#include <new>

#include "mediafile/mediafile.h"
#include "remux/track_selection.h"
#include "remux/verify_join.h"
#include "remux/verify_reader.h"
#include "remux/verify_samples.h"
#include "remux/verify_tracks.h"

namespace vantorel {

namespace {

// Every input of a join open, each track at its segment's first sample.
ErrorCode open_joined(const VerifyJoin& join, VerifyReader* first, VerifyReader* readers, const IoRoutines* routines, void* user,
                      uint32_t program_number) {
  for (uint32_t k = 1; k < join.input_count; ++k)
    VT_TRY(readers[k].open(join.inputs[k], routines, user, program_number));
  for (uint32_t i = 0; i < join.segment_count; ++i) {
    const VerifySegment& segment = join.segments[i];
    if (segment.input >= join.input_count) return ErrorCode::BadArgument;
    VerifyReader& r = segment.input == 0 ? *first : readers[segment.input];
    TrackInfo info;
    VT_TRY(track_info(r.file, segment.source.track_id, &info));
    VT_TRY(r.reserve(info.max_sample_size));
    uint32_t index = segment.source.first_sample;
    uint64_t time = 0;
    ErrorCode e = track_seek(r.file, segment.source.track_id, 0, &index, &time, 0, 0);
    if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
  }
  return ErrorCode::Ok;
}

// A whole joined movie's own edits and chapters against their rules.
ErrorCode verify_joined_movie(const VerifyInputs& inputs, const char* output, const IoRoutines* routines, void* user,
                              VerifyReport* report) {
  VerifyReader out;
  VT_TRY(out.open(output, routines, user));
  uint32_t track_id = 0;
  VT_TRY(check_joined_sound(*inputs.join, *inputs.first, inputs.joined, out.file, &track_id));
  if (track_id != 0) return verify_differs(report, 0, track_id, 0, "sound placement (edit list)");
  bool placed = true;
  VT_TRY(check_joined_chapters(*inputs.join, *inputs.first, inputs.joined, out.file, &placed));
  if (!placed) return verify_differs(report, 0, 0, 0, "chapters");
  return ErrorCode::Ok;
}

// One output's tracks and samples against the input's.
ErrorCode verify_part(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks, const char* output, uint32_t part,
                      const IoRoutines* routines, void* user, VerifyReport* report) {
  VerifyReader out;
  VT_TRY(out.open(output, routines, user));
  // Its samples are compared in the order they lie in it: none is looked
  // for behind the window, which then moves on without copying any back.
  out.keep = 0;
  GrowArray<VerifyLane> lanes{};
  ErrorCode e = verify_match_tracks(inputs, *tracks, out, part, &lanes, report);
  if (e == ErrorCode::Ok) e = verify_part_samples(inputs, tracks, out, part, &lanes, report);
  lanes.release();
  return e;
}

}  // namespace

ErrorCode verify_remux(const void* input_name, const char* const* outputs, uint32_t output_count,
                       const IoRoutines* routines, void* user, uint32_t salvage, VerifyReport* report,
                       const TrackSelection* selection, uint32_t program_number, const VerifyRange* range,
                       const VerifyJoin* join) {
  if (input_name == nullptr || outputs == nullptr || output_count == 0 || report == nullptr) return ErrorCode::BadArgument;
  *report = VerifyReport{};
  VerifyReader in;
  VT_TRY(in.open(input_name, routines, user, program_number));
  GrowArray<VerifyTrack> tracks{};
  struct Release {
    GrowArray<VerifyTrack>* t;
    ~Release() { t->release(); }
  } release{&tracks};
  const TrackSelection every{};
  SelectionCheck check{};
  struct ReleaseCheck {
    SelectionCheck* c;
    ~ReleaseCheck() { selection_check_release(c); }
  } release_check{&check};
  VT_TRY(selection_check_start(&check, selection != nullptr ? *selection : every, in.file));
  if (range != nullptr && output_count != 1) return ErrorCode::BadArgument;
  if (join != nullptr && join->input_count == 0) return ErrorCode::BadArgument;
  VerifyReader* readers = join != nullptr ? new (std::nothrow) VerifyReader[join->input_count] : nullptr;
  struct ReleaseReaders {
    VerifyReader* r;
    ~ReleaseReaders() { delete[] r; }
  } release_readers{readers};
  if (join != nullptr && readers == nullptr) return ErrorCode::OutOfMemory;
  if (join != nullptr) VT_TRY(open_joined(*join, &in, readers, routines, user, program_number));
  VerifyInputs inputs;
  inputs.first = &in;
  inputs.joined = readers;
  inputs.join = join;
  inputs.range = range;
  VT_TRY(verify_list_tracks(inputs, &check, &tracks));
  report->tracks = tracks.count;
  inputs.movie_metadata = carried_metadata_hash(in.file, 0);
  for (uint32_t part = 0; part < output_count; ++part)
    VT_TRY(verify_part(inputs, &tracks, outputs[part], part, routines, user, report));
  VT_TRY(verify_track_ends(inputs, &tracks, output_count, salvage, report));
  if (join != nullptr && range == nullptr && output_count == 1)
    VT_TRY(verify_joined_movie(inputs, outputs[0], routines, user, report));
  return ErrorCode::Ok;
}

}  // namespace vantorel
