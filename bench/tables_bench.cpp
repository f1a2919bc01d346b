// Appends, writes, reads back and walks the sample tables of a track of a
// million samples, and prints how long each step took.
//   cmake -S . -B build-bench -G Ninja -DVANTOREL_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target vantorel_bench_tables && build-bench/bench/vantorel_bench_tables
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boxes/box_tree.h"
#include "boxes/hdlr.h"
#include "io/byte_io.h"
#include "sampletables/ctts.h"
#include "sampletables/stbl.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"
#include "sampletables/table_fixups.h"

using namespace vantorel;

namespace {

constexpr uint32_t kSamples = 1000000;
constexpr uint32_t kPerChunk = 16;
constexpr uint32_t kGop = 12;
constexpr uint32_t kDelta = 1001;

using Clock = std::chrono::steady_clock;
double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

void fail(const char* what, ErrorCode e) {
  std::fprintf(stderr, "%s failed: %s\n", what, error_name(e));
  std::exit(1);
}
void check(const char* what, ErrorCode e) {
  if (e != ErrorCode::Ok) fail(what, e);
}

// A MediaFile over a memory stream: writable (empty) or a view of `data`.
void open_memory(MediaFile* file, const void* data, uint32_t length, uint32_t mode) {
  static MemoryPair pair;
  pair = MemoryPair{data, length};
  OpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  check("attach", attach(file, &params, mode));
}

TrackBoxes* make_track(MediaFile* file) {
  check("root", create_root(file));
  check("moov", add_movie_box(file, BoxTypeId::Moov));
  TrackBoxes* track = add_track(file, 0);
  if (track == nullptr) fail("track", ErrorCode::OutOfMemory);
  for (BoxTypeId id : {BoxTypeId::Mdia, BoxTypeId::Hdlr, BoxTypeId::Minf, BoxTypeId::Stbl})
    check("track box", add_track_box(file, track, id));
  track->mdia->hdlr->kind = kHandlerVideo;
  return track;
}

// Frame sizes: a large sync frame every 12, smaller frames that vary.
uint32_t frame_size(uint32_t i) { return i % kGop == 0 ? 40000 + (i * 7919u) % 5000 : 3000 + (i * 104729u) % 2000; }
// Composition offsets of a stream with two B-frames between references.
int32_t frame_offset(uint32_t i) { return i % 3 == 0 ? 2 * kDelta : 0; }

}  // namespace

int main() {
  std::printf("sample tables of a track of %u samples (chunks of %u, a sync sample every %u)\n", kSamples, kPerChunk,
              kGop);

  // ---- Appending one sample at a time, as the writer does.
  MediaFile out{};
  open_memory(&out, nullptr, 0, kOpenCreate);
  TrackBoxes* track = make_track(&out);
  for (BoxTypeId id : {BoxTypeId::Stts, BoxTypeId::Ctts, BoxTypeId::Stsc, BoxTypeId::Stsz, BoxTypeId::Stco,
                       BoxTypeId::Stss})
    check("table", add_track_box(&out, track, id));
  auto t0 = Clock::now();
  uint64_t offset = 48;
  for (uint32_t i = 0; i < kSamples; ++i) {
    if (i % kPerChunk == 0) {
      check("stco_append", stco_append(&out, track, offset));
      if (i == 0) check("stsc_append", stsc_append(&out, track, 1, kPerChunk, 1));
    }
    check("stts_append", stts_append(&out, track, 1, kDelta));
    check("ctts_append", ctts_append(&out, track, 1, frame_offset(i)));
    check("stsz_append", stsz_append(&out, track, frame_size(i), 1));
    if (i % kGop == 0) check("stss_append", stss_append(&out, track, i + 1));
    offset += frame_size(i);
  }
  double append_ms = ms_since(t0);

  // ---- Writing the 'stbl' into a memory stream.
  t0 = Clock::now();
  BoxHeader h;
  uint64_t payload = stbl_size(&out, track);
  check("write stbl", write_box(&out, FourCC::of("stbl"), nullptr, payload, stbl_write, track));
  double write_ms = ms_since(t0);
  auto* stream = static_cast<MemoryStream*>(out.base.handle);
  std::vector<uint8_t> bytes(stream->data, stream->data + stream->size);

  // ---- Reading it back.
  MediaFile in{};
  open_memory(&in, bytes.data(), static_cast<uint32_t>(bytes.size()), kOpenRead);
  TrackBoxes* back = make_track(&in);
  t0 = Clock::now();
  check("header", read_box_header(&in, &h));
  check("read stbl", stbl_read(&in, &h, back));
  double read_ms = ms_since(t0);

  auto* stts = track_record<TimeToSampleTable>(back, BoxTypeId::Stts);
  auto* ctts = track_record<CompositionOffsetTable>(back, BoxTypeId::Ctts);
  auto* stsc = track_record<SampleToChunkTable>(back, BoxTypeId::Stsc);
  auto* sizes = track_record<SampleSizeTable>(back, BoxTypeId::Stsz);
  auto* offsets = track_record<ChunkOffsetTable>(back, BoxTypeId::Stco);
  auto* stss = track_record<SyncSampleTable>(back, BoxTypeId::Stss);
  if (sizes->sample_count != kSamples || offsets->offsets.count != (kSamples + kPerChunk - 1) / kPerChunk)
    fail("read back", ErrorCode::Malformed);

  // ---- A sequential walk over every sample, as a read cursor steps.
  t0 = Clock::now();
  uint32_t chunk = 0, in_chunk = 0, stsc_entry = 0, stts_entry = 0, stts_in = 0, ctts_entry = 0, ctts_in = 0;
  uint32_t next_sync = 0, syncs = 0;
  uint64_t time = 0, at = offsets->offsets[0], checksum = 0;
  for (uint32_t k = 1; k <= kSamples; ++k) {
    uint32_t size = stsz_sample_size(sizes, k - 1);
    int32_t composition = ctts->entries[ctts_entry].sample_offset;
    bool sync = next_sync < stss->samples.count && stss->samples[next_sync] == k;
    checksum += at + time + static_cast<uint32_t>(composition) + size;
    if (sync) {
      ++syncs;
      ++next_sync;
    }
    at += size;
    if (++in_chunk == stsc->entries[stsc_entry].samples_per_chunk && k < kSamples) {
      in_chunk = 0;
      at = offsets->offsets[++chunk];
      if (stsc_entry + 1 < stsc->entries.count && chunk + 1 >= stsc->entries[stsc_entry + 1].first_chunk) ++stsc_entry;
    }
    time += stts->entries[stts_entry].sample_delta;
    if (++stts_in == stts->entries[stts_entry].sample_count && stts_entry + 1 < stts->entries.count) {
      ++stts_entry;
      stts_in = 0;
    }
    if (++ctts_in == ctts->entries[ctts_entry].sample_count && ctts_entry + 1 < ctts->entries.count) {
      ++ctts_entry;
      ctts_in = 0;
    }
  }
  double walk_ms = ms_since(t0);
  if (at != offset || syncs != stss->samples.count || time != stts_total_duration(back))
    fail("sequential walk", ErrorCode::Malformed);

  // ---- Seeks: every lookup from the first entry, at spread-out samples.
  constexpr uint32_t kSeeks = 1000;
  t0 = Clock::now();
  uint64_t seek_sum = 0;
  for (uint32_t s = 0; s < kSeeks; ++s) {
    uint32_t k = 1 + static_cast<uint32_t>((uint64_t{s} * 2654435761u) % kSamples);
    uint32_t sync = stss_sync_at_or_before(back, k);
    uint64_t when = stts_decode_time(back, sync);
    uint32_t found = stts_sample_at_time(back, when);
    uint32_t e = 0, i = 0;
    check("stts_locate", stts_locate(back, found, &e, &i));
    check("ctts_locate", ctts_locate(back, found, &e, &i));
    ChunkPosition p;
    check("stsc_locate", stsc_locate(&in, back, found, &p));
    seek_sum += p.chunk_index + stss_index_of(back, sync) + e + i;
    if (found != sync) fail("seek", ErrorCode::Malformed);
  }
  double seek_ms = ms_since(t0);

  t0 = Clock::now();
  int64_t shift = 0;
  check("ctts_normalise", ctts_normalise(&in, back, &shift));
  check("stss_drop_if_redundant", stss_drop_if_redundant(&in, back));
  double fixup_ms = ms_since(t0);

  std::printf("  tables: stts %u runs, ctts %u runs, stsc %u, stsz %u sizes, stco %u chunks, stss %u\n",
              stts->entries.count, ctts->entries.count, stsc->entries.count, sizes->sample_count,
              offsets->offsets.count, stss->samples.count);
  std::printf("  append %u samples one at a time  %8.1f ms\n", kSamples, append_ms);
  std::printf("  write stbl (%zu bytes)       %8.1f ms\n", bytes.size(), write_ms);
  std::printf("  read stbl back                     %8.1f ms\n", read_ms);
  std::printf("  sequential walk over every sample  %8.1f ms\n", walk_ms);
  std::printf("  %u seeks (six lookups each)      %8.1f ms  (%.3f ms a seek)\n", kSeeks, seek_ms, seek_ms / kSeeks);
  std::printf("  normalise + drop fix-ups           %8.1f ms\n", fixup_ms);
  std::printf("  (checksums %llu %llu)\n", static_cast<unsigned long long>(checksum),
              static_cast<unsigned long long>(seek_sum));

  release_root(&out);
  release_root(&in);
  detach(&out);
  detach(&in);
  return 0;
}
