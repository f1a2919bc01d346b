#include "robust/damaged_support.h"

#include <sys/stat.h>

#include <cstdio>

#include "support/ffprobe.h"
#include "support/run_program.h"

namespace vantorel::test {

namespace {

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Words that say nothing about what is wrong in a file the program reads.
constexpr const char* kVagueRefusals[] = {"bad argument", "not a file Vantorel reads", "input/output error",
                                          "is a Matroska file", "is Matroska element", "is an AVI file"};

}  // namespace

int stream_count(const std::string& path) {
  std::string out;
  if (run_command("ffprobe -v error -show_entries stream=index -of csv=p=0 " + shell_quote(path), &out) != 0)
    return -1;
  return static_cast<int>(count_of(out, "\n"));
}

Remuxed remux_file(const TempDir& dir, const std::string& input, bool salvage) {
  static int counter = 0;
  const std::string output = dir.path("out-" + std::to_string(++counter) + ".mp4");
  std::remove(output.c_str());
  std::vector<std::string> args;
  if (salvage) args.push_back("--salvage");
  args.push_back(input);
  args.push_back(output);
  RunResult run = run_program(dir, args);
  Remuxed r;
  r.status = run.status;
  r.err = run.err;
  r.output = output;
  struct stat info {};
  r.written = stat(output.c_str(), &info) == 0;
  if (!r.written) return r;
  r.size = static_cast<uint64_t>(info.st_size);
  std::string said;
  run_command("ffprobe -v error -show_packets -of csv " + shell_quote(output) + " 2>&1 >/dev/null", &said);
  r.probe_errors = said;
  r.streams = stream_count(output);
  return r;
}

std::string judge(const Remuxed& r, uint64_t input_size, int input_streams) {
  if (r.status == 1) {
    if (r.written) return "refused, yet an output was left behind";
    if (r.err.find("Vantorel: ") == std::string::npos) return "refused without a message";
    for (const char* vague : kVagueRefusals)
      if (r.err.find(vague) != std::string::npos) return "refused with a vague message: " + r.err;
    return "";
  }
  if (r.status != 0) return "status " + std::to_string(r.status) + ": " + r.err;
  if (!r.written) return "status 0 without an output";
  if (!r.probe_errors.empty()) return "ffprobe cannot read the output: " + r.probe_errors;
  // Headers of a small file: far less than this.
  if (r.size > input_size + 64 * 1024)
    return "output of " + std::to_string(r.size) + " bytes from " + std::to_string(input_size);
  const int missing = input_streams - r.streams;
  if (missing > 0 && count_of(r.err, "left out") < static_cast<size_t>(missing))
    return std::to_string(missing) + " tracks left out without a word: " + r.err;
  return "";
}

// ---- AVI --------------------------------------------------------------------

uint32_t get_le32(const FileBytes& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

void set_le32(FileBytes* b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4 && at + i < b->size(); ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

namespace {

void walk_riff(const FileBytes& b, size_t from, size_t end, int depth, std::vector<RiffChunk>* out) {
  size_t at = from;
  while (at + 8 <= end && at + 8 <= b.size()) {
    RiffChunk c;
    c.id = std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
    c.at = at;
    c.size = get_le32(b, at + 4);
    c.depth = depth;
    const bool list = c.id == "LIST" || c.id == "RIFF";
    if (list && at + 12 <= b.size())
      c.id = std::string(b.begin() + static_cast<long>(at) + 8, b.begin() + static_cast<long>(at) + 12);
    out->push_back(c);
    if (list && c.id != "movi") walk_riff(b, at + 12, at + 8 + c.size, depth + 1, out);
    at += 8 + c.size + (c.size & 1);
  }
}

}  // namespace

std::vector<RiffChunk> riff_chunks(const FileBytes& b) {
  std::vector<RiffChunk> out;
  walk_riff(b, 0, b.size(), 0, &out);
  return out;
}

const RiffChunk* riff_find(const std::vector<RiffChunk>& chunks, const std::string& id, int nth) {
  for (const RiffChunk& c : chunks)
    if (c.id == id && nth-- == 0) return &c;
  return nullptr;
}

// ---- Matroska ---------------------------------------------------------------

namespace {

bool master(uint32_t id) {
  switch (id) {
    case 0x1A45DFA3:  // EBML header
    case 0x18538067:  // Segment
    case 0x114D9B74:  // SeekHead
    case 0x4DBB:      // Seek
    case 0x1549A966:  // Info
    case 0x1654AE6B:  // Tracks
    case 0xAE:        // TrackEntry
    case 0xE0:        // Video
    case 0xE1:        // Audio
    case 0x1F43B675:  // Cluster
    case 0xA0:        // BlockGroup
    case 0x1C53BB6B:  // Cues
    case 0xBB:        // CuePoint
    case 0xB7:        // CueTrackPositions
      return true;
  }
  return false;
}

void walk_ebml(const FileBytes& b, size_t from, size_t end, int depth, std::vector<Element>* out) {
  size_t at = from;
  while (at < end && at < b.size()) {
    Element e;
    e.at = at;
    uint32_t id_length = 1;
    while (id_length <= 4 && (b[at] & (0x80u >> (id_length - 1))) == 0) ++id_length;
    if (id_length > 4 || at + id_length >= b.size()) return;
    for (uint32_t i = 0; i < id_length; ++i) e.id = (e.id << 8) | b[at + i];
    e.size_at = at + id_length;
    const uint8_t first = b[e.size_at];
    uint32_t n = 1;
    while (n <= 8 && (first & (0x80u >> (n - 1))) == 0) ++n;
    if (n > 8 || e.size_at + n > b.size()) return;
    e.size_length = n;
    uint64_t size = first & ((0x80u >> (n - 1)) - 1);
    for (uint32_t i = 1; i < n; ++i) size = (size << 8) | b[e.size_at + i];
    e.size = size;
    e.data = e.size_at + n;
    e.depth = depth;
    out->push_back(e);
    const bool unknown = size == (uint64_t{1} << (7 * n)) - 1;
    const size_t stop = unknown || e.data + size > end ? end : static_cast<size_t>(e.data + size);
    if (master(e.id)) walk_ebml(b, e.data, stop, depth + 1, out);
    if (unknown) return;
    at = stop;
  }
}

}  // namespace

std::vector<Element> ebml_elements(const FileBytes& b) {
  std::vector<Element> out;
  walk_ebml(b, 0, b.size(), 0, &out);
  return out;
}

const Element* ebml_find(const std::vector<Element>& elements, uint32_t id, int nth) {
  for (const Element& e : elements)
    if (e.id == id && nth-- == 0) return &e;
  return nullptr;
}

void ebml_set_uint(FileBytes* b, const Element& e, uint64_t value) {
  for (uint64_t i = 0; i < e.size && e.data + i < b->size(); ++i)
    (*b)[e.data + e.size - 1 - i] = i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
}

uint64_t ebml_size_max(const Element& e) { return (uint64_t{1} << (7 * e.size_length)) - 2; }

void ebml_set_size(FileBytes* b, const Element& e, uint64_t size) {
  const uint32_t n = e.size_length;
  for (uint32_t i = 0; i < n; ++i) (*b)[e.size_at + n - 1 - i] = static_cast<uint8_t>(size >> (8 * i));
  (*b)[e.size_at] = static_cast<uint8_t>(((*b)[e.size_at] & ((0x80u >> (n - 1)) - 1)) | (0x80u >> (n - 1)));
}

}  // namespace vantorel::test
