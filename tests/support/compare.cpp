#include "support/compare.h"

#include <algorithm>

#include "io/io_routines.h"
#include "mediafile/mediafile.h"
#include "support/md5.h"

namespace vantorel::test {

namespace {

std::string fourcc_string(FourCC f) {
  std::string s;
  for (char c : f.c) s += c == 0 ? '.' : c;
  return s;
}

void md5_append(std::vector<uint8_t>* all, const uint8_t* data, uint32_t size) {
  all->insert(all->end(), data, data + size);
}

}  // namespace

bool read_with_library(const std::string& path, std::vector<LibraryTrack>* out, std::string* error) {
  out->clear();
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  ErrorCode e = media_open(&file, &params, kOpenRead);
  if (e != ErrorCode::Ok) {
    *error = "open failed with " + std::to_string(code_value(e));
    return false;
  }
  bool ok = true;
  TrackIterator* it = track_iterator_new(file, 0, 0);
  TrackInfo info;
  while (ok && track_iterator_next(it, &info) == ErrorCode::Ok) {
    LibraryTrack t;
    t.track_id = info.track_id;
    t.kind = info.kind;
    t.fourcc = fourcc_string(info.fourcc);
    t.timescale = info.timescale;
    t.width = info.width;
    t.height = info.height;
    t.nal_length_size = info.nal_length_size;
    t.sample_rate = info.sample_rate;
    t.sample_bits = info.sample_bits;
    t.channel_count = info.channel_count;
    t.media_duration = info.media_duration;
    t.start_delay = info.start_delay;
    t.sample_count = info.sample_count;
    std::vector<uint8_t> buffer(info.max_sample_size + 1);
    std::vector<uint8_t> all;
    uint32_t index = 0;
    uint64_t time = 0;
    e = track_seek(file, info.track_id, 0, &index, &time, 0, 0);
    int64_t dts = 0;
    while (e == ErrorCode::Ok) {
      SampleRead s{};
      s.buffer = buffer.data();
      s.capacity = static_cast<uint32_t>(buffer.size());
      e = read_next_sample(file, info.track_id, &s);
      if (e == ErrorCode::NoMore) break;
      if (e != ErrorCode::Ok) {
        *error = "reading track " + std::to_string(info.track_id) + " failed with " + std::to_string(code_value(e));
        ok = false;
        break;
      }
      LibraryPacket p;
      p.size = s.size;
      p.md5 = md5_hex(s.buffer, s.size);
      p.dts = dts;
      p.pts = dts + s.composition_offset;
      p.duration = s.duration;
      p.key = s.sync != 0;
      dts += s.duration;
      md5_append(&all, s.buffer, s.size);
      t.total_bytes += s.size;
      t.packets.push_back(p);
    }
    if (e != ErrorCode::NoMore && e != ErrorCode::Ok && ok) {
      *error = "seeking track " + std::to_string(info.track_id) + " failed with " + std::to_string(code_value(e));
      ok = false;
    }
    t.all_data_md5 = md5_hex(all.data(), all.size());
    out->push_back(std::move(t));
  }
  track_iterator_free(it);
  media_close(file);
  return ok;
}

::testing::AssertionResult packets_equal(const LibraryTrack& ours, const std::vector<ProbePacket>& theirs,
                                         const CompareOptions& options) {
  std::vector<LibraryPacket> mine;
  for (const LibraryPacket& p : ours.packets)
    if (!(options.skip_empty && p.size == 0)) mine.push_back(p);
  if (options.pcm) {
    uint64_t their_bytes = 0;
    int64_t their_duration = 0, our_duration = 0;
    for (const ProbePacket& p : theirs) {
      their_bytes += p.size;
      their_duration += p.duration;
    }
    for (const LibraryPacket& p : mine) our_duration += p.duration;
    if (their_bytes != ours.total_bytes)
      return ::testing::AssertionFailure() << "track " << ours.track_id << ": " << ours.total_bytes
                                           << " bytes, ffprobe " << their_bytes;
    if (their_duration != our_duration)
      return ::testing::AssertionFailure() << "track " << ours.track_id << ": duration " << our_duration
                                           << ", ffprobe " << their_duration;
    return ::testing::AssertionSuccess();
  }
  if (mine.size() != theirs.size())
    return ::testing::AssertionFailure() << "track " << ours.track_id << ": " << mine.size() << " packets, ffprobe "
                                         << theirs.size();
  int64_t our_base = options.relative && !mine.empty() ? mine[0].dts : 0;
  int64_t their_base = options.relative && !theirs.empty() ? theirs[0].dts : 0;
  for (size_t i = 0; i < mine.size(); ++i) {
    const LibraryPacket& a = mine[i];
    const ProbePacket& b = theirs[i];
    auto fail = [&]() -> ::testing::AssertionResult {
      return ::testing::AssertionFailure() << "track " << ours.track_id << " packet " << i << ": ";
    };
    if (a.size != b.size) return fail() << "size " << a.size << " vs " << b.size;
    if (!b.data_hash.empty() && "MD5:" + a.md5 != b.data_hash) return fail() << "data differs";
    if (b.has_dts && a.dts - our_base != b.dts - their_base)
      return fail() << "dts " << a.dts - our_base << " vs " << b.dts - their_base;
    if (b.has_pts && a.pts - our_base != b.pts + options.pts_shift - their_base)
      return fail() << "pts " << a.pts - our_base << " vs " << b.pts + options.pts_shift - their_base;
    if (a.key != b.key) return fail() << "key " << a.key << " vs " << b.key;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult probe_packets_equal(const std::vector<ProbePacket>& input,
                                               const std::vector<ProbePacket>& output, const CompareOptions& options) {
  if (options.pcm) {
    uint64_t in_bytes = 0, out_bytes = 0;
    int64_t in_duration = 0, out_duration = 0;
    for (const ProbePacket& p : input) {
      in_bytes += p.size;
      in_duration += p.duration;
    }
    for (const ProbePacket& p : output) {
      out_bytes += p.size;
      out_duration += p.duration;
    }
    if (in_bytes != out_bytes) return ::testing::AssertionFailure() << out_bytes << " bytes, input " << in_bytes;
    if (in_duration != out_duration)
      return ::testing::AssertionFailure() << "duration " << out_duration << ", input " << in_duration;
    return ::testing::AssertionSuccess();
  }
  if (input.size() != output.size())
    return ::testing::AssertionFailure() << output.size() << " packets, input " << input.size();
  int64_t in_base = options.relative && !input.empty() ? input[0].dts : 0;
  int64_t out_base = options.relative && !output.empty() ? output[0].dts : 0;
  for (size_t i = 0; i < input.size(); ++i) {
    const ProbePacket& a = input[i];
    const ProbePacket& b = output[i];
    auto fail = [&]() -> ::testing::AssertionResult { return ::testing::AssertionFailure() << "packet " << i << ": "; };
    if (a.size != b.size) return fail() << "size " << b.size << ", input " << a.size;
    if (a.data_hash != b.data_hash) return fail() << "data differs";
    if (a.dts - in_base != b.dts - out_base) return fail() << "dts " << b.dts - out_base << ", input " << a.dts - in_base;
    if (a.pts - in_base + options.pts_shift != b.pts - out_base)
      return fail() << "pts " << b.pts - out_base << ", input " << a.pts - in_base;
    if (a.key != b.key) return fail() << "key " << b.key << ", input " << a.key;
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> top_level_types(const std::string& path) {
  std::vector<std::string> types;
  std::vector<uint8_t> b = read_whole_file(path);
  uint64_t at = 0;
  while (at + 8 <= b.size()) {
    uint64_t size = (uint64_t{b[at]} << 24) | (uint64_t{b[at + 1]} << 16) | (uint64_t{b[at + 2]} << 8) | b[at + 3];
    types.emplace_back(reinterpret_cast<const char*>(&b[at + 4]), 4);
    if (size == 1 && at + 16 <= b.size()) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | b[at + i];
    }
    if (size < 8) break;
    at += size;
  }
  return types;
}

bool probe_split_packets(const std::vector<std::string>& paths, std::vector<std::vector<ProbePacket>>* streams,
                         std::string* error) {
  streams->clear();
  std::vector<int64_t> next_start;
  for (const std::string& path : paths) {
    std::vector<ProbePacket> packets;
    if (!probe_packets(path, &packets, "-ignore_editlist 1", true, error)) return false;
    int max_index = -1;
    for (const ProbePacket& p : packets) max_index = std::max(max_index, p.stream_index);
    if (static_cast<int>(streams->size()) <= max_index) {
      streams->resize(static_cast<size_t>(max_index) + 1);
      next_start.resize(static_cast<size_t>(max_index) + 1, 0);
    }
    for (int s = 0; s <= max_index; ++s) {
      std::vector<ProbePacket> mine = packets_of(packets, s);
      if (mine.empty()) continue;
      int64_t base = mine[0].dts;
      int64_t shift = next_start[static_cast<size_t>(s)] - base;
      for (ProbePacket& p : mine) {
        p.dts += shift;
        p.pts += shift;
        next_start[static_cast<size_t>(s)] = p.dts + p.duration;
        (*streams)[static_cast<size_t>(s)].push_back(p);
      }
    }
  }
  return true;
}

::testing::AssertionResult split_parts_hold_input(const std::string& input, const std::vector<std::string>& parts,
                                                  int stream_count) {
  std::vector<ProbePacket> packets;
  std::string error;
  if (!probe_packets(input, &packets, "-ignore_editlist 1", true, &error))
    return ::testing::AssertionFailure() << "ffprobe on " << input << ": " << error;
  std::vector<std::vector<ProbePacket>> joined;
  if (!probe_split_packets(parts, &joined, &error)) return ::testing::AssertionFailure() << error;
  int input_streams = 0;
  for (const ProbePacket& p : packets) input_streams = std::max(input_streams, p.stream_index + 1);
  if (static_cast<int>(joined.size()) != input_streams || stream_count > input_streams)
    return ::testing::AssertionFailure() << "the parts hold " << joined.size() << " streams, the input "
                                         << input_streams;
  CompareOptions options;
  options.relative = true;
  for (int s = 0; s < stream_count; ++s) {
    ::testing::AssertionResult same = probe_packets_equal(packets_of(packets, s), joined[static_cast<size_t>(s)], options);
    if (!same) return ::testing::AssertionFailure() << "stream " << s << ": " << same.message();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vantorel::test
