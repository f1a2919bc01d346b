#pragma once
// The engine's records and the steps its files share.
#include <cstdint>

#include "codecs/ac3.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"
#include "remux/stream_routines.h"

namespace vantorel {

struct TrackSurvey {
  uint32_t input_track_id;
  uint32_t output_track_id;  // in the current output file; 0 before
  uint64_t batch_start_time;  // track units: decode time of the batch's first sample
  uint64_t next_time;         // track units: decode time of the next sample to queue
  uint64_t start_time;        // track units: where the track starts (its start delay)
  uint32_t timescale;
  uint32_t queued_count;
  uint32_t sample_count;  // the samples the tables and the file can deliver
  uint32_t video;
  uint32_t audio;
  uint32_t subpicture;
  uint32_t continuation;
  TimeToSampleTable* stts;
  uint32_t stts_entry;
  uint32_t stts_in_entry;
  SampleSizeTable* sizes;
  uint32_t size_index;
  SyncSampleTable* stss;
  uint32_t stss_index;
  // Composition offsets, walked beside 'stts', so the scheduler knows where
  // the presentation of the samples of the current output file ends (track
  // units, absolute; 0 when none): of those flushed into it, and of those
  // pending.
  CompositionOffsetTable* ctts;
  uint32_t ctts_entry;
  uint32_t ctts_in_entry;
  int64_t flushed_presentation_end;
  int64_t pending_presentation_end;
  // Derived once, in the survey, so both passes build the same tracks.
  uint32_t ac3_packed;  // 'dac3' fields of an AC-3 track (from its first frame when needed)
  uint32_t derived_config;  // a missing configuration record was derived
  uint32_t carried_whole;   // the track's sample entries go out as read
  uint32_t follows_groups;  // its samples carry sample groups, dependencies or sub-samples
  uint64_t start_delay;     // leading empty edit (and later first fragment), movie units
  // Media time at which the track's presentation starts (its first edit plus
  // what normalising its composition offsets added), media units; and the
  // same for continuation files, relative to the earliest track.
  int64_t media_time;
  int64_t continuation_media_time;
  int64_t media_end;  // the input's presentation end in its media time; 0: the samples' end
};

// One input range of a window: `size` bytes at input `offset`, due at
// `at` in the window.
struct PlannedRead {
  uint64_t offset;
  uint32_t size;
  uint32_t at;
};

// At most this much of a group is held at once (more only for a larger sample).
constexpr uint32_t kWindowBytes = 4u << 20;

struct PendingSample {
  uint32_t track;  // survey row, or kPlaced once in the write order
  uint64_t time;   // movie units
};
constexpr uint32_t kPlaced = 0xFFFFFFFF;

struct OutputMeasure {
  uint64_t total_sample_bytes;
  uint32_t header_reserve;
  uint64_t file_size;      // the whole file: 'ftyp', movie header, 'mdat'
  uint64_t duration_ms;    // its movie header's duration
  HeaderBlock header;      // its movie header, as the writing pass puts it first
};

struct RemuxJob {
  StreamContext stream;  // pass flag, the caller's routines and user value
  uint32_t split_mode;
  GrowArray<uint64_t> limits;
  uint32_t per_file_limits;
  uint32_t measure_headers;
  MediaFile* input;
  MediaFile* output;
  uint32_t movie_timescale;
  uint64_t movie_duration;
  // Running values of a pass (movie units, except the byte counts).
  uint64_t file_start_end_time;
  uint64_t file_start_time;
  uint64_t file_start_bytes;
  uint64_t last_cut_end_time;
  uint64_t last_cut_time;
  uint64_t last_cut_bytes;
  uint64_t queued_end_time;
  uint64_t queued_bytes;
  GrowArray<TrackSurvey> survey;
  GrowArray<PendingSample> pending;
  GrowArray<uint32_t> write_order;
  OutputNamer namer;
  ProgressCallback progress;
  uint8_t* sample_buffer;
  uint32_t sample_buffer_size;
  uint32_t no_video;
  GrowArray<OutputMeasure> measures;
  GrowArray<char*> written_names;  // the writing pass's output names, in order (owned)
  const RemuxEvents* events;
  const void* input_name;
  uint32_t output_form;  // OutputForm
  HeaderBlock captured_header;  // filled by closing a measuring-pass output
  // Planned reads: the bytes of a stretch of the write order, read into the
  // window where they are written from.
  uint32_t per_sample;
  uint8_t* window;
  uint32_t window_size;
  uint32_t window_used;
  GrowArray<PlannedRead> reads;
  uint8_t* staging;  // a dense stretch of input, read at once (as large as the window)
  // A dense stretch read straight into place: the window's ranges in input
  // order, and where the bytes between them go.
  GrowArray<PlannedRead> sorted_reads;
  GrowArray<IoPiece> pieces;
  uint8_t* gap_sink;
};

inline uint32_t pass_flag(const RemuxJob* job) { return job->stream.pass_flag; }

// Survey and reset (remux_run.cpp).
ErrorCode survey_input(RemuxJob* job);
ErrorCode reset_tracks(RemuxJob* job);
// Positions every kept track's cursor at its first sample.
ErrorCode rewind_tracks(RemuxJob* job);

// Output files (output_files.cpp).
ErrorCode open_output(RemuxJob* job, uint32_t index, uint32_t continuation);
ErrorCode close_output(RemuxJob* job, uint32_t index);

// Whether an input track is carried (a drop reason, or 0) and what the
// survey derives for it.
ErrorCode classify_track(RemuxJob* job, const TrackInfo* info, TrackSurvey* row, uint32_t* drop_reason);
// How a kept track is rebuilt: the TrackSpec of its codec, or a drop reason.
ErrorCode build_track_spec(RemuxJob* job, const TrackSurvey* row, const TrackInfo* info, TrackSpec* track_spec,
                           uint32_t* drop_reason);

// The pass loop (pass_loop.cpp).
ErrorCode run_pass(RemuxJob* job);
// The movie header duration (movie units) output file `index` would have
// with its flushed samples, and with the pending ones too when `pending`.
uint64_t part_duration(const RemuxJob* job, uint32_t index, bool pending);
// Tells the caller, in the writing pass, when output file `index` (closed
// now) went past the split limit: the input had no cut point to keep it.
void report_part_over_limit(RemuxJob* job, uint32_t index);

}  // namespace vantorel
