#include "mediafile/writer_support.h"

#include "boxes/box_tree.h"
#include "io/io_routines.h"

namespace vantorel::test {

std::vector<TopBox> top_boxes(const Bytes& b, bool* complete) {
  std::vector<TopBox> out;
  uint64_t at = 0;
  bool whole = true;
  while (at < b.size()) {
    if (b.size() - at < 8) {
      whole = false;
      break;
    }
    uint64_t size = load_u32be(&b[at]);
    if (size == 1) {
      if (b.size() - at < 16) {
        whole = false;
        break;
      }
      size = (uint64_t{load_u32be(&b[at + 8])} << 32) | load_u32be(&b[at + 12]);
    }
    if (size < 8 || size > b.size() - at) {
      whole = false;
      break;
    }
    out.push_back(
        {std::string(b.begin() + static_cast<long>(at) + 4, b.begin() + static_cast<long>(at) + 8), at, size});
    at += size;
  }
  if (complete != nullptr) *complete = whole;
  return out;
}

std::string top_box_types(const std::vector<TopBox>& boxes) {
  std::string s;
  for (const TopBox& t : boxes) s += (s.empty() ? "" : " ") + t.type;
  return s;
}

MediaFile* create_file(const std::string& path, const CreateOptions& options) {
  static const FourCC brands[] = {FourCC::of("isom"), FourCC::of("mp42")};
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  p.major_brand = FourCC::of("isom");
  p.compatible_brand_count = 2;
  p.compatible_brands = brands;
  p.movie_timescale = options.movie_timescale;
  p.flags = options.flags;
  p.reserved_header_space = options.reserve;
  p.samples_per_chunk = options.samples_per_chunk;
  p.writer_name = options.writer_name;
  p.header_first = options.header_first;
  p.header_out = options.header_out;
  if (options.stored_header != nullptr) {
    p.stored_header = options.stored_header->data;
    p.stored_header_size = options.stored_header->size;
  }
  p.planned_mdat_size = options.planned_mdat_size;
  MediaFile* file = nullptr;
  if (media_open(&file, &p, kOpenCreate) != ErrorCode::Ok) return nullptr;
  return file;
}

ReadBack::ReadBack(const std::string& path, uint32_t mode) {
  OpenParams p{};
  p.routines = std_routines();
  p.path = path.c_str();
  result_ = media_open(&file_, &p, mode);
}

ReadBack::~ReadBack() {
  if (file_ != nullptr) media_close(file_);
}

TrackBoxes* ReadBack::track(uint32_t id) const { return file_ != nullptr ? find_track(file_->root, id) : nullptr; }

SampleWrite sample_of(const Bytes& data, uint32_t duration, int32_t offset, uint32_t flags, uint64_t start_delay) {
  SampleWrite s{};
  s.data = data.data();
  s.size = static_cast<uint32_t>(data.size());
  s.duration = duration;
  s.composition_offset = offset;
  s.flags = flags;
  s.start_delay = start_delay;
  return s;
}

void BitWriter::put(uint32_t value, uint32_t n) {
  for (uint32_t i = n; i-- > 0;) {
    current_ = static_cast<uint8_t>((current_ << 1) | ((value >> i) & 1));
    if (++used_ == 8) {
      bytes_.push_back(current_);
      current_ = 0;
      used_ = 0;
    }
  }
}

void BitWriter::ue(uint32_t value) {
  uint64_t v = uint64_t{value} + 1;
  uint32_t bits = 0;
  while ((v >> bits) > 1) ++bits;
  put(0, bits);
  put(static_cast<uint32_t>(v), bits + 1);
}

Bytes BitWriter::finish() const {
  Bytes out = bytes_;
  if (used_ != 0) out.push_back(static_cast<uint8_t>(current_ << (8 - used_)));
  return out;
}

Bytes pattern(uint32_t n, uint8_t seed) {
  Bytes b(n);
  for (uint32_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i);
  return b;
}

}  // namespace vantorel::test
