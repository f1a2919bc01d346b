#pragma once
// Tools for the damaged-file tests: remuxing a file with the program as a
// user would and judging the outcome, and finding the chunks of an AVI file
// and the elements of a Matroska file so that a test can patch them.
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vantorel::test {

using FileBytes = std::vector<uint8_t>;

struct Remuxed {
  int status = -1;
  std::string err;
  bool written = false;
  std::string output;
  uint64_t size = 0;            // of the output
  std::string probe_errors;     // what ffprobe says reading the output's packets
  int streams = 0;              // the output's streams, as ffprobe counts them
};

// Runs the program on `input` (a file in `dir`) into a fresh output.
Remuxed remux_file(const TempDir& dir, const std::string& input, bool salvage);
int stream_count(const std::string& path);

// What every outcome must be: a refusal naming what is wrong (never a
// generic word), or an output ffprobe reads, no larger than the input plus
// its headers, whose left-out tracks are each named in a warning. Empty when
// it is; else what is not.
std::string judge(const Remuxed& r, uint64_t input_size, int input_streams);

// ---- AVI --------------------------------------------------------------------

struct RiffChunk {
  std::string id;    // the list type for a 'LIST'
  size_t at = 0;     // of its header
  size_t size = 0;   // as its size field says
  int depth = 0;
};
// Every chunk of the file, depth first ('movi' is not entered).
std::vector<RiffChunk> riff_chunks(const FileBytes& b);
const RiffChunk* riff_find(const std::vector<RiffChunk>& chunks, const std::string& id, int nth = 0);
uint32_t get_le32(const FileBytes& b, size_t at);
void set_le32(FileBytes* b, size_t at, uint32_t v);

// ---- Matroska ---------------------------------------------------------------

struct Element {
  uint32_t id = 0;
  size_t at = 0;           // of its id
  size_t size_at = 0;      // of its size field
  uint32_t size_length = 0;
  size_t data = 0;
  uint64_t size = 0;       // as its size field says (unknown: all ones)
  int depth = 0;
};
// Every element of the file, depth first, entering only the master
// elements a remux reads.
std::vector<Element> ebml_elements(const FileBytes& b);
const Element* ebml_find(const std::vector<Element>& elements, uint32_t id, int nth = 0);
// Writes `value` into the element's payload, big-endian, in the payload's width.
void ebml_set_uint(FileBytes* b, const Element& e, uint64_t value);
// Writes the element's size field, in its width (all ones: unknown).
void ebml_set_size(FileBytes* b, const Element& e, uint64_t size);
uint64_t ebml_size_max(const Element& e);  // the largest known size its field can hold

}  // namespace vantorel::test
