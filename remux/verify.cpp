#include "remux/verify.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "io/byte_io.h"
#include "io/value64.h"
#include "mediafile/mediafile.h"
#include "remux/read_plan.h"
#include "remux/remux.h"
#include "remux/track_selection.h"
#include "remux/verify_join.h"
#include "remux/verify_reader.h"

namespace vantorel {

namespace {

// The empty subpicture a continuation part starts with: the engine's own, not the input's.
constexpr uint8_t kEmptySubpicture[9] = {0x00, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0xFF};

uint64_t hash_bytes(uint64_t h, const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001B3ull;  // FNV-1a
  return h;
}
constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;

struct Track {
  uint32_t input_id;
  bool pcm;
  bool timed_media;  // video, sound or subpicture: durations are compared to the last sample
  bool subpicture;
  uint32_t next;     // input samples compared so far
  uint32_t count;    // input samples
  uint64_t input_bytes_hash, output_bytes_hash;  // PCM
  uint64_t input_duration, output_duration;
  const VerifySpan* span;  // a range cut's, or null
  const VerifySpan* joined_span;  // a range cut of joined inputs: its edit and first sample, or null
  // A join's: segments [first_segment, first_segment + segment_count), the
  // one compared and its samples left.
  uint32_t first_segment;
  uint32_t segment_count;
  uint32_t segment;
  uint32_t left;
};

// The segment of a joined track the next input sample comes from (null
// without a join), moving on once a segment is done.
const VerifySegment* next_segment(const VerifyJoin* join, Track* t) {
  if (join == nullptr || t->segment_count == 0) return nullptr;
  while (t->left == 0 && t->segment + 1 < t->segment_count) {
    ++t->segment;
    const SampleSource& s = join->segments[t->first_segment + t->segment].source;
    t->left = s.end_sample - s.first_sample;
  }
  if (t->left > 0) --t->left;
  return &join->segments[t->first_segment + t->segment];
}

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

// The first edit that shows media: its media time and duration; false without one.
bool shown_edit(const GrowArray<TrackEdit>& edits, int64_t* media_time, uint64_t* duration) {
  for (const TrackEdit& e : edits)
    if (e.media_time >= 0) {
      *media_time = e.media_time;
      *duration = e.duration;
      return true;
    }
  return false;
}

// Whether the output track's edit shows the span: from its media time for
// as long as [media_time, media_end) lasts, give or take a unit of rounding.
ErrorCode edit_shows_span(MediaFile* out, uint32_t track_id, const VerifySpan& span, bool* shows) {
  *shows = false;
  GrowArray<TrackEdit> edits{};
  ErrorCode e = edits_of(out, track_id, &edits);
  int64_t media_time = 0;
  uint64_t duration = 0;
  const bool shown = e == ErrorCode::Ok && shown_edit(edits, &media_time, &duration);
  edits.release();
  VT_TRY(e);
  if (!shown) {
    *shows = span.media_time == 0 && span.media_end == 0;
    return ErrorCode::Ok;
  }
  TrackInfo info;
  MovieInfo movie;
  if (media_time != span.media_time || track_info(out, track_id, &info) != ErrorCode::Ok ||
      movie_info(out, &movie) != ErrorCode::Ok || span.media_end <= span.media_time)
    return ErrorCode::Ok;
  const uint64_t expected =
      rescale(static_cast<uint64_t>(span.media_end - span.media_time), info.timescale, movie.timescale);
  *shows = duration + 1 >= expected && duration <= expected + 1;
  return ErrorCode::Ok;
}

class Verifier {
 public:
  Verifier(VerifyReport* r) : report_(r) {}
  ErrorCode differs(uint32_t part, uint32_t track, uint32_t sample, const char* field) {
    report_->part = part;
    report_->track_id = track;
    report_->sample = sample;
    report_->field = field;
    return ErrorCode::Differs;
  }
  VerifyReport* report_;
};

}  // namespace

ErrorCode verify_remux(const void* input_name, const char* const* outputs, uint32_t output_count,
                       const IoRoutines* routines, void* user, uint32_t salvage, VerifyReport* report,
                       const TrackSelection* selection, uint32_t program_number, const VerifyRange* range,
                       const VerifyJoin* join) {
  if (input_name == nullptr || outputs == nullptr || output_count == 0 || report == nullptr) return ErrorCode::BadArgument;
  *report = VerifyReport{};
  Verifier v(report);
  VerifyReader in;
  VT_TRY(in.open(input_name, routines, user, program_number));
  GrowArray<Track> tracks{};
  struct Release {
    GrowArray<Track>* t;
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
  auto reader_of = [&](const VerifySegment* segment) -> VerifyReader& {
    return segment == nullptr || segment->input == 0 ? in : readers[segment->input];
  };
  for (uint32_t i = 0; join != nullptr && i < join->segment_count;) {
    const VerifySegment& first = join->segments[i];
    TrackInfo info;
    VT_TRY(track_info(in.file, first.source.track_id, &info));
    Track t{};
    t.input_id = first.source.track_id;
    t.pcm = format_counts_frames(info.fourcc);
    t.subpicture = info.kind == kHandlerSubpicture;
    t.timed_media = handler_is_video_like(info.kind) || info.kind == kHandlerSound || t.subpicture;
    t.input_bytes_hash = t.output_bytes_hash = kHashStart;
    t.first_segment = i;
    t.left = first.source.end_sample - first.source.first_sample;
    // A range of joined inputs: the spans follow the planned tracks' order.
    if (range != nullptr) {
      if (first.track >= range->count) return ErrorCode::BadArgument;
      t.joined_span = &range->spans[first.track];
    }
    for (; i < join->segment_count && join->segments[i].track == first.track; ++i) {
      t.count += join->segments[i].source.end_sample - join->segments[i].source.first_sample;
      ++t.segment_count;
    }
    VT_TRY(tracks.append(t));
  }
  for (uint32_t i = 0; range != nullptr && join == nullptr && i < range->count; ++i) {
    const VerifySpan& span = range->spans[i];
    TrackInfo info;
    VT_TRY(track_info(in.file, span.input_track_id, &info));
    Track t{};
    t.input_id = span.input_track_id;
    t.pcm = format_counts_frames(info.fourcc);
    t.subpicture = info.kind == kHandlerSubpicture;
    t.timed_media = handler_is_video_like(info.kind) || info.kind == kHandlerSound || t.subpicture;
    t.next = span.first_sample;
    t.count = span.end_sample;
    t.input_bytes_hash = t.output_bytes_hash = kHashStart;
    t.span = &span;
    uint32_t index = span.first_sample;
    uint64_t time = 0;
    ErrorCode e = track_seek(in.file, t.input_id, 0, &index, &time, 0, 0);
    if (e != ErrorCode::Ok && e != ErrorCode::NoMore) return e;
    VT_TRY(tracks.append(t));
  }
  MovieInfo in_movie;
  VT_TRY(movie_info(in.file, &in_movie));
  for (uint32_t i = 0; range == nullptr && join == nullptr && i < in_movie.track_count; ++i) {
    uint32_t id = movie_track_id(in.file, i);
    if (!selection_check_track(&check, id, track_handler_kind(in.file, id))) continue;
    uint32_t reason = 0;
    if (remux_track_verdict(in.file, id, &reason) != ErrorCode::Ok || reason != 0) continue;
    TrackInfo info;
    VT_TRY(track_info(in.file, id, &info));
    Track t{};
    t.input_id = id;
    t.pcm = format_counts_frames(info.fourcc);
    t.subpicture = info.kind == kHandlerSubpicture;
    t.timed_media = handler_is_video_like(info.kind) || info.kind == kHandlerSound || t.subpicture;
    t.count = info.sample_count;
    t.input_bytes_hash = t.output_bytes_hash = kHashStart;
    VT_TRY(tracks.append(t));
  }
  report->tracks = tracks.count;
  uint64_t movie_metadata = carried_metadata_hash(in.file, 0);

  for (uint32_t part = 0; part < output_count; ++part) {
    VerifyReader out;
    VT_TRY(out.open(outputs[part], routines, user));
    MovieInfo out_movie;
    VT_TRY(movie_info(out.file, &out_movie));
    if (out_movie.track_count != tracks.count) return v.differs(part, 0, 0, "track count");
    if (carried_metadata_hash(out.file, 0) != movie_metadata) return v.differs(part, 0, 0, "metadata");
    // Every track's samples in the order the output holds them, so that
    // each file is read once from start to end, not once a track.
    struct Lane {
      uint32_t out_id;
      uint32_t n;      // output samples compared
      uint32_t count;  // output samples
      bool first;
      bool located;    // `next` and `at` hold its next sample
      SampleRead next;
      uint64_t at;
    };
    GrowArray<Lane> lanes{};
    struct ReleaseLanes {
      GrowArray<Lane>* l;
      ~ReleaseLanes() { l->release(); }
    } release_lanes{&lanes};
    uint32_t largest_out = 0;
    for (uint32_t k = 0; k < tracks.count; ++k) {
      Track& t = tracks[k];
      uint32_t out_id = movie_track_id(out.file, k);
      if (carried_metadata_hash(out.file, out_id) != carried_metadata_hash(in.file, t.input_id))
        return v.differs(part, t.input_id, 0, "track metadata");
      TrackInfo in_info, out_info;
      VT_TRY(track_info(in.file, t.input_id, &in_info));
      VT_TRY(track_info(out.file, out_id, &out_info));
      if (!(in_info.fourcc == out_info.fourcc)) return v.differs(part, t.input_id, 0, "format");
      const VerifySpan* edited = t.span != nullptr ? t.span : t.joined_span;
      if (edited != nullptr && edited->edited) {
        bool shows = false;
        VT_TRY(edit_shows_span(out.file, out_id, *edited, &shows));
        if (!shows) return v.differs(part, t.input_id, 0, "edit");
      }
      if (join == nullptr) VT_TRY(in.reserve(in_info.max_sample_size));
      if (out_info.max_sample_size > largest_out) largest_out = out_info.max_sample_size;
      VT_TRY(lanes.append(Lane{out_id, 0, out_info.sample_count, true, false, SampleRead{}, 0}));
    }
    VT_TRY(out.reserve(largest_out));
    for (;;) {
      uint32_t k = UINT32_MAX;
      for (uint32_t j = 0; j < lanes.count; ++j) {
        Lane& l = lanes[j];
        if (l.n >= l.count) continue;
        if (!l.located) {
          l.next = SampleRead{};
          VT_TRY(locate_next_sample(out.file, l.out_id, &l.next, &l.at));
          l.located = true;
        }
        if (k == UINT32_MAX || l.at < lanes[k].at) k = j;
      }
      if (k == UINT32_MAX) break;
      Track& t = tracks[k];
      Lane& lane = lanes[k];
      const uint32_t n = lane.n++;
      lane.located = false;
      SampleRead o = lane.next;
      // Written by the engine as one stretch: seen or read where it lies.
      if (o.size > out.capacity) return v.differs(part, t.input_id, n + 1, "size");
      const uint8_t* o_bytes = out.seen(lane.at, o.size);
      if (o_bytes == nullptr) {
        o_bytes = out.buffer;
        if (o.size > 0) VT_TRY(read_bytes_at(media_io(out.file), lane.at, out.buffer, o.size));
      }
      if (t.pcm) {
        t.output_bytes_hash = hash_bytes(t.output_bytes_hash, o_bytes, o.size);
        t.output_duration += o.duration;
        continue;
      }
      // A continuation part's subpicture track opens with the engine's empty unit.
      bool filler = lane.first && part > 0 && t.subpicture && o.size == sizeof kEmptySubpicture &&
                    std::memcmp(o_bytes, kEmptySubpicture, o.size) == 0;
      lane.first = false;
      if (filler) continue;
      if (t.next >= t.count) return v.differs(part, t.input_id, t.next + 1, "sample count");
      SampleRead i;
      const uint8_t* i_bytes = nullptr;
      const VerifySegment* segment = next_segment(join, &t);
      const bool first_of_segment =
          segment != nullptr && t.left + 1 == segment->source.end_sample - segment->source.first_sample;
      VT_TRY(reader_of(segment).next(segment != nullptr ? segment->source.track_id : t.input_id, &i, &i_bytes));
      ++t.next;
      ++report->samples;
      uint32_t number = t.next;
      // A range cut shortens the text samples that straddle it and
      // re-counts the first time code sample.
      uint32_t duration = i.duration;
      bool replaced = false;
      // A join counts the input's times in the output's units, shifts its
      // offsets, lengthens a time code sample, and numbers its descriptions.
      if (segment != nullptr) {
        const SampleSource& source = segment->source;
        duration = static_cast<uint32_t>(source_units(source, i.duration));
        // Trims come of joining or of a range; a single segment's trims of a range.
        const bool trimmed = t.segment_count > 1 || t.joined_span != nullptr;
        if (first_of_segment && trimmed && source.head_trim > 0)
          duration = source.head_trim < duration ? duration - source.head_trim : 1;
        if (t.left == 0 && trimmed) {
          if (source.tail_trim > 0) duration = source.tail_trim < duration ? duration - source.tail_trim : 1;
          duration += source.tail_extend;
        }
        replaced = t.joined_span != nullptr && t.next == 1 && t.joined_span->first_replaced;
        i.composition_offset = source_offset(source, i.composition_offset);
        const uint32_t description =
            source_description(source, join->description_map, join->description_map_count, i.description_index);
        if ((description != 0 ? description : 1) != (o.description_index != 0 ? o.description_index : 1))
          return v.differs(part, t.input_id, number, "description");
      }
      if (t.span != nullptr) {
        const VerifySpan& span = *t.span;
        const bool first_of_span = i.index == span.first_sample, last_of_span = i.index + 1 == span.end_sample;
        if (first_of_span && span.head_trim > 0) duration = span.head_trim < duration ? duration - span.head_trim : 1;
        if (last_of_span && span.tail_trim > 0) duration = span.tail_trim < duration ? duration - span.tail_trim : 1;
        replaced = first_of_span && span.first_replaced;
      }
      const char* field = nullptr;
      if (i.size != o.size)
        field = "size";
      else if (!replaced && std::memcmp(i_bytes, o_bytes, i.size) != 0)
        field = "data";
      else if ((i.sync != 0) != (o.sync != 0))
        field = "sync";
      else if (i.composition_offset != o.composition_offset)
        field = "composition offset";
      else if (duration != o.duration && (t.timed_media || n + 1 < lane.count))
        field = "duration";  // a text track's last sample in a part ends with the part
      if (field != nullptr) return v.differs(part, t.input_id, number, field);
    }
  }
  for (Track& t : tracks) {
    // A cut PCM track: the input's bytes of its span.
    if (t.pcm && t.span != nullptr) {
      TrackInfo info;
      VT_TRY(track_info(in.file, t.input_id, &info));
      VT_TRY(in.reserve(info.max_sample_size));
      for (;;) {
        SampleRead i;
        ErrorCode e = in.read(t.input_id, &i);
        if (e == ErrorCode::NoMore || i.index >= t.span->end_sample) break;
        VT_TRY(e);
        t.input_bytes_hash = hash_bytes(t.input_bytes_hash, i.buffer, i.size);
        ++report->samples;
      }
      if (t.input_bytes_hash != t.output_bytes_hash) return v.differs(0, t.input_id, 0, "data");
      continue;
    }
    if (t.pcm && t.segment_count > 0) {
      // Each joined input's bytes in turn.
      for (uint32_t k = 0; k < t.segment_count; ++k) {
        const VerifySegment& segment = join->segments[t.first_segment + k];
        VerifyReader& r = reader_of(&segment);
        for (uint32_t n = segment.source.first_sample; n < segment.source.end_sample; ++n) {
          SampleRead i;
          VT_TRY(r.read(segment.source.track_id, &i));
          t.input_bytes_hash = hash_bytes(t.input_bytes_hash, i.buffer, i.size);
          t.input_duration += static_cast<uint64_t>(source_units(segment.source, i.duration));
          ++report->samples;
        }
      }
      if (t.input_bytes_hash != t.output_bytes_hash) return v.differs(output_count - 1, t.input_id, 0, "data");
      if (t.input_duration != t.output_duration) return v.differs(output_count - 1, t.input_id, 0, "duration");
      continue;
    }
    if (t.pcm) {
      // The input's bytes, all of them.
      TrackInfo info;
      VT_TRY(track_info(in.file, t.input_id, &info));
      VT_TRY(in.reserve(info.max_sample_size));
      for (uint32_t n = 0; n < t.count; ++n) {
        SampleRead i;
        ErrorCode e = in.read(t.input_id, &i);
        if (e == ErrorCode::NoMore || (e != ErrorCode::Ok && salvage)) break;
        VT_TRY(e);
        t.input_bytes_hash = hash_bytes(t.input_bytes_hash, i.buffer, i.size);
        t.input_duration += i.duration;
        ++report->samples;
      }
      if (t.input_bytes_hash != t.output_bytes_hash) return v.differs(output_count - 1, t.input_id, 0, "data");
      if (t.input_duration != t.output_duration) return v.differs(output_count - 1, t.input_id, 0, "duration");
      continue;
    }
    if (t.next < t.count && !salvage) return v.differs(output_count - 1, t.input_id, t.next + 1, "sample count");
  }
  // A whole joined movie: its sound's own edits against their rule.
  if (join != nullptr && range == nullptr && output_count == 1) {
    VerifyReader out;
    VT_TRY(out.open(outputs[0], routines, user));
    uint32_t track_id = 0;
    VT_TRY(check_joined_sound(*join, in, readers, out.file, &track_id));
    if (track_id != 0) return v.differs(0, track_id, 0, "sound placement (edit list)");
    bool placed = true;
    VT_TRY(check_joined_chapters(*join, in, readers, out.file, &placed));
    if (!placed) return v.differs(0, 0, 0, "chapters");
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
