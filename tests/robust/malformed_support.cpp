#include "robust/malformed_support.h"

#include <gtest/gtest.h>

#include "mediafile/mediafile.h"

namespace vantorel::test {

namespace {

bool is_container(const std::string& t) {
  for (const char* c : {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts", "udta", "mvex", "moof", "traf"})
    if (t == c) return true;
  return false;
}

// Where a box's children begin, past its header and fixed fields.
size_t children_offset(const std::string& t) {
  if (t == "stsd" || t == "dref") return 8;
  if (t == "mp4v" || t == "avc1" || t == "s263" || t == "jpeg") return 78;
  if (t == "mp4a" || t == "twos" || t == "samr" || t == "ac-3") return 28;
  return 0;
}

bool descends(const std::string& t) { return is_container(t) || children_offset(t) != 0; }

bool header_at(const Bytes& b, size_t at, size_t end, BoxAt* out) {
  if (at + 8 > end) return false;
  out->start = at;
  out->type = std::string(b.begin() + static_cast<long>(at) + 4, b.begin() + static_cast<long>(at) + 8);
  uint32_t size = get_u32(b, at);
  out->header = 8;
  if (size == 1) {
    if (at + 16 > end) return false;
    out->size = (size_t{get_u32(b, at + 8)} << 32) | get_u32(b, at + 12);
    out->header = 16;
  } else if (size == 0) {
    out->size = end - at;
  } else {
    out->size = size;
  }
  return out->size >= out->header && at + out->size <= end;
}

void walk(const Bytes& b, size_t start, size_t end, std::vector<BoxAt>* out) {
  BoxAt box;
  for (size_t at = start; header_at(b, at, end, &box); at += box.size) {
    out->push_back(box);
    if (descends(box.type)) walk(b, box.start + box.header + children_offset(box.type), box.start + box.size, out);
  }
}

}  // namespace

void put_u32(Bytes* b, size_t at, uint32_t v) {
  Bytes x = u32(v);
  std::copy(x.begin(), x.end(), b->begin() + static_cast<long>(at));
}

uint32_t get_u32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

std::vector<BoxAt> all_boxes(const Bytes& file) {
  std::vector<BoxAt> out;
  walk(file, 0, file.size(), &out);
  return out;
}

BoxAt locate(const Bytes& file, const std::vector<std::string>& path, std::vector<BoxAt>* ancestors) {
  size_t start = 0, end = file.size();
  BoxAt found;
  for (size_t level = 0; level < path.size(); ++level) {
    std::string want = path[level];
    int nth = 1;
    if (size_t hash = want.find('#'); hash != std::string::npos) {
      nth = std::stoi(want.substr(hash + 1));
      want = want.substr(0, hash);
    }
    bool hit = false;
    BoxAt box;
    for (size_t at = start; header_at(file, at, end, &box); at += box.size) {
      if (box.type == want && --nth == 0) {
        hit = true;
        break;
      }
    }
    if (!hit) {
      ADD_FAILURE() << "no box '" << path[level] << "' at level " << level;
      return BoxAt{};
    }
    if (level + 1 < path.size() && ancestors != nullptr) ancestors->push_back(box);
    found = box;
    start = box.start + box.header + children_offset(box.type);
    end = box.start + box.size;
  }
  return found;
}

Bytes replace_box(const Bytes& file, const std::vector<std::string>& path, const Bytes& replacement) {
  std::vector<BoxAt> parents;
  BoxAt target = locate(file, path, &parents);
  Bytes out(file.begin(), file.begin() + static_cast<long>(target.start));
  out = cat({out, replacement, Bytes(file.begin() + static_cast<long>(target.start + target.size), file.end())});
  auto delta = static_cast<int64_t>(replacement.size()) - static_cast<int64_t>(target.size);
  for (const BoxAt& p : parents) {
    EXPECT_EQ(p.header, 8u) << "a parent with a 64-bit size";
    put_u32(&out, p.start, static_cast<uint32_t>(static_cast<int64_t>(p.size) + delta));
  }
  if (delta == 0) return out;
  // Move the chunk offsets when the movie box lies before the media data.
  std::vector<BoxAt> boxes = all_boxes(out);
  size_t moov_at = SIZE_MAX, mdat_at = SIZE_MAX;
  for (const BoxAt& b : boxes) {
    if (b.type == "moov" && moov_at == SIZE_MAX) moov_at = b.start;
    if (b.type == "mdat" && mdat_at == SIZE_MAX) mdat_at = b.start;
  }
  if (moov_at > mdat_at || mdat_at == SIZE_MAX) return out;
  for (const BoxAt& b : boxes) {
    if (b.type != "stco" || b.start == target.start) continue;
    uint32_t count = get_u32(out, b.start + 12);
    for (uint32_t i = 0; i < count && b.start + 16 + 4 * (i + 1) <= b.start + b.size; ++i) {
      size_t at = b.start + 16 + 4 * i;
      put_u32(&out, at, static_cast<uint32_t>(static_cast<int64_t>(get_u32(out, at)) + delta));
    }
  }
  return out;
}

Bytes with_u32(const Bytes& file, const std::vector<std::string>& path, size_t offset, uint32_t value) {
  BoxAt b = locate(file, path);
  Bytes out = file;
  put_u32(&out, b.start + b.header + offset, value);
  return out;
}

ReadOutcome read_everything(const Bytes& file, uint32_t mode) {
  ReadOutcome o;
  MemoryPair pair{file.data(), static_cast<uint32_t>(file.size())};
  OpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  ErrorDetail detail{};
  params.failure_detail = &detail;
  MediaFile* f = nullptr;
  o.open = media_open(&f, &params, mode);
  if (detail.reason != nullptr) o.reason = detail.reason;
  if (detail.set != 0) o.path = detail.path;
  if (o.open != ErrorCode::Ok) return o;
  MovieInfo movie{};
  o.movie = movie_info(f, &movie);
  o.timescale = movie.timescale;
  TrackIterator* it = track_iterator_new(f, 0, 0);
  EXPECT_NE(it, nullptr);
  TrackInfo info{};
  while (it != nullptr && track_iterator_next(it, &info) == ErrorCode::Ok) {
    TrackRead t;
    t.track_id = info.track_id;
    uint32_t capacity = info.max_sample_size < file.size() ? info.max_sample_size : static_cast<uint32_t>(file.size());
    Bytes buffer(capacity + 1);
    uint32_t index = 0;
    uint64_t time = 0;
    t.end = track_seek(f, info.track_id, 0, &index, &time, 0, 0);
    // Every sample read costs at least a step; a bound keeps a faulty
    // reader from hanging the test.
    for (uint32_t n = 0; t.end == ErrorCode::Ok && n < 1000000; ++n) {
      SampleRead s{};
      s.buffer = buffer.data();
      s.capacity = static_cast<uint32_t>(buffer.size());
      t.end = read_next_sample(f, info.track_id, &s);
      if (t.end == ErrorCode::Ok) t.samples.emplace_back(buffer.begin(), buffer.begin() + s.size);
    }
    o.tracks.push_back(std::move(t));
  }
  track_iterator_free(it);
  EXPECT_EQ(media_close(f), ErrorCode::Ok);
  return o;
}

std::vector<Bytes> hand_made_samples(const std::vector<uint32_t>& sizes) {
  std::vector<Bytes> out;
  for (size_t i = 0; i < sizes.size(); ++i) out.emplace_back(sizes[i], static_cast<uint8_t>(i + 1));
  return out;
}

}  // namespace vantorel::test
