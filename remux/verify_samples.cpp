// Verify's sample comparison: each output sample against the input sample
// it should be, field by field; PCM as its whole bytes and duration.
#include "remux/verify_samples.h"

#include <cstring>

#include "io/byte_io.h"
#include "mediafile/mediafile.h"
#include "remux/track_source.h"

namespace vantorel {

namespace {

// The empty subpicture a continuation part starts with: the engine's own, not the input's.
constexpr uint8_t kEmptySubpicture[9] = {0x00, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0xFF};

uint64_t hash_bytes(uint64_t h, const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001B3ull;  // FNV-1a
  return h;
}

// The segment of a joined track the next input sample comes from (null
// without a join), moving on once a segment is done.
const VerifySegment* next_segment(const VerifyJoin* join, VerifyTrack* t) {
  if (join == nullptr || t->segment_count == 0) return nullptr;
  while (t->left == 0 && t->segment + 1 < t->segment_count) {
    ++t->segment;
    const SampleSource& s = join->segments[t->first_segment + t->segment].source;
    t->left = s.end_sample - s.first_sample;
  }
  if (t->left > 0) --t->left;
  return &join->segments[t->first_segment + t->segment];
}

// The lane whose next sample lies first in the output (UINT32_MAX when all are done).
ErrorCode next_lane(MediaFile* out, GrowArray<VerifyLane>* lanes, uint32_t* next) {
  uint32_t k = UINT32_MAX;
  for (uint32_t j = 0; j < lanes->count; ++j) {
    VerifyLane& l = (*lanes)[j];
    if (l.n >= l.count) continue;
    if (!l.located) {
      l.next = SampleRead{};
      VT_TRY(locate_next_sample(out, l.out_id, &l.next, &l.at));
      l.located = true;
    }
    if (k == UINT32_MAX || l.at < (*lanes)[k].at) k = j;
  }
  *next = k;
  return ErrorCode::Ok;
}

// An output sample of a part, its bytes and its place among its track's.
struct OutputSample {
  uint32_t part;
  uint32_t n;  // 0-based in its track in the part
  uint32_t count;
  const SampleRead* read;
  const uint8_t* bytes;
};

// The next input sample of track `t` against output sample `o`.
ErrorCode compare_sample(const VerifyInputs& inputs, VerifyTrack& t, const OutputSample& o, VerifyReport* report) {
  const VerifyJoin* join = inputs.join;
  if (t.next >= t.count) return verify_differs(report, o.part, t.input_id, t.next + 1, "sample count");
  SampleRead i;
  const uint8_t* i_bytes = nullptr;
  const VerifySegment* segment = next_segment(join, &t);
  const bool first_of_segment =
      segment != nullptr && t.left + 1 == segment->source.end_sample - segment->source.first_sample;
  VT_TRY(inputs.reader_of(segment).next(segment != nullptr ? segment->source.track_id : t.input_id, &i, &i_bytes));
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
    if ((description != 0 ? description : 1) != (o.read->description_index != 0 ? o.read->description_index : 1))
      return verify_differs(report, o.part, t.input_id, number, "description");
  }
  if (t.span != nullptr) {
    const VerifySpan& span = *t.span;
    const bool first_of_span = i.index == span.first_sample, last_of_span = i.index + 1 == span.end_sample;
    if (first_of_span && span.head_trim > 0) duration = span.head_trim < duration ? duration - span.head_trim : 1;
    if (last_of_span && span.tail_trim > 0) duration = span.tail_trim < duration ? duration - span.tail_trim : 1;
    replaced = first_of_span && span.first_replaced;
  }
  const SampleRead& out = *o.read;
  const char* field = nullptr;
  if (i.size != out.size)
    field = "size";
  else if (!replaced && std::memcmp(i_bytes, o.bytes, i.size) != 0)
    field = "data";
  else if ((i.sync != 0) != (out.sync != 0))
    field = "sync";
  else if (i.composition_offset != out.composition_offset)
    field = "composition offset";
  else if (duration != out.duration && (t.timed_media || o.n + 1 < o.count))
    field = "duration";  // a text track's last sample in a part ends with the part
  if (field != nullptr) return verify_differs(report, o.part, t.input_id, number, field);
  return ErrorCode::Ok;
}

// A cut PCM track's input bytes: those of its span.
ErrorCode hash_span_input(VerifyReader& in, VerifyTrack& t, VerifyReport* report) {
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
  return ErrorCode::Ok;
}

// A joined PCM track's input bytes and duration: each input's in turn.
ErrorCode hash_joined_input(const VerifyInputs& inputs, VerifyTrack& t, VerifyReport* report) {
  for (uint32_t k = 0; k < t.segment_count; ++k) {
    const VerifySegment& segment = inputs.join->segments[t.first_segment + k];
    VerifyReader& r = inputs.reader_of(&segment);
    for (uint32_t n = segment.source.first_sample; n < segment.source.end_sample; ++n) {
      SampleRead i;
      VT_TRY(r.read(segment.source.track_id, &i));
      t.input_bytes_hash = hash_bytes(t.input_bytes_hash, i.buffer, i.size);
      t.input_duration += static_cast<uint64_t>(source_units(segment.source, i.duration));
      ++report->samples;
    }
  }
  return ErrorCode::Ok;
}

// A whole PCM track's input bytes and duration, up to where a salvaged input fails.
ErrorCode hash_whole_input(VerifyReader& in, VerifyTrack& t, uint32_t salvage, VerifyReport* report) {
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
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode verify_part_samples(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks, VerifyReader& out, uint32_t part,
                              GrowArray<VerifyLane>* lanes, VerifyReport* report) {
  for (;;) {
    uint32_t k = UINT32_MAX;
    VT_TRY(next_lane(out.file, lanes, &k));
    if (k == UINT32_MAX) return ErrorCode::Ok;
    VerifyTrack& t = (*tracks)[k];
    VerifyLane& lane = (*lanes)[k];
    const uint32_t n = lane.n++;
    lane.located = false;
    SampleRead o = lane.next;
    // Written by the engine as one stretch: seen or read where it lies.
    if (o.size > out.capacity) return verify_differs(report, part, t.input_id, n + 1, "size");
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
    VT_TRY(compare_sample(inputs, t, OutputSample{part, n, lane.count, &o, o_bytes}, report));
  }
}

ErrorCode verify_track_ends(const VerifyInputs& inputs, GrowArray<VerifyTrack>* tracks, uint32_t output_count, uint32_t salvage,
                            VerifyReport* report) {
  for (VerifyTrack& t : *tracks) {
    if (t.pcm && t.span != nullptr) {
      VT_TRY(hash_span_input(*inputs.first, t, report));
      if (t.input_bytes_hash != t.output_bytes_hash) return verify_differs(report, 0, t.input_id, 0, "data");
      continue;
    }
    if (t.pcm) {
      if (t.segment_count > 0) {
        VT_TRY(hash_joined_input(inputs, t, report));
      } else {
        VT_TRY(hash_whole_input(*inputs.first, t, salvage, report));
      }
      if (t.input_bytes_hash != t.output_bytes_hash) return verify_differs(report, output_count - 1, t.input_id, 0, "data");
      if (t.input_duration != t.output_duration)
        return verify_differs(report, output_count - 1, t.input_id, 0, "duration");
      continue;
    }
    if (t.next < t.count && !salvage)
      return verify_differs(report, output_count - 1, t.input_id, t.next + 1, "sample count");
  }
  return ErrorCode::Ok;
}

}  // namespace vantorel
