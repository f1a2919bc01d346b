#pragma once
// The importer's records for one AVI file, shared by the RIFF walk and the
// index readers. They live only while the file is imported.
#include <cstdint>

#include "boxes/box_tree.h"
#include "import/import_file.h"
#include "import/format_headers.h"
#include "boxes/owned_block.h"

namespace vantorel {

// Streams beyond this many take a stream index but are not imported.
constexpr uint32_t kAviMaxStreams = 64;

enum AviMainFlags : uint32_t { kAviHasIndex = 0x10 };
enum AviStreamFlags : uint32_t { kAviStreamDisabled = 0x1 };
enum AviIndexFlags : uint32_t { kAviKeyFrame = 0x10, kAviNoTime = 0x100 };

struct AviMainHeader {
  uint32_t micro_sec_per_frame;
  uint32_t max_bytes_per_sec;
  uint32_t padding_granularity;
  uint32_t flags;
  uint32_t total_frames;
  uint32_t initial_frames;
  uint32_t streams;
  uint32_t suggested_buffer_size;
  uint32_t width;
  uint32_t height;
  uint32_t reserved[4];
};

struct AviStreamHeader {
  FourCC type;
  FourCC handler;
  uint32_t flags;
  uint16_t priority;
  uint16_t language;
  uint32_t initial_frames;
  uint32_t scale;
  uint32_t rate;
  uint32_t start;
  uint32_t length;
  uint32_t suggested_buffer_size;
  uint32_t quality;
  uint32_t sample_size;
  int16_t frame[4];  // left, top, right, bottom
};

// One chunk as the indexes list it.
struct AviChunk {
  uint64_t offset;  // of its data
  uint32_t size;
  uint32_t key;     // a key frame; every chunk of sound is one
};

struct AviStream {
  AviStreamHeader strh;
  BitmapInfoHeader bitmap;
  WaveFormat wave;
  char* name;         // owned, NUL-terminated, or null
  OwnedBlock format;  // the whole 'strf' payload: the decoder-specific data
  uint32_t import_sample_size;  // 'strh' sample size for video, block align for sound
  uint32_t done;      // it cannot be used: no track
  uint32_t odml;      // its track was built from an 'indx' ('idx1' entries are not its own)
  GrowArray<AviChunk> chunks;  // as the indexes list them
};

struct AviImport {
  ImportFile* file;
  FileBoxes* root;
  AviMainHeader avih;
  AviStream* streams[kAviMaxStreams];
  uint32_t stream_count;  // stream indices taken, including streams not kept
  uint32_t movi_start;    // low 32 bits of the offset of the 'movi' list's "LIST"
  uint64_t file_size;
  uint32_t max_samples;   // no track can have more chunks than the file has room for
};

// A chunk header read inside a parent that ends at `parent_end`. False when
// fewer bytes than a header are left, so that no read runs off the file.
bool avi_next_chunk(AviImport* imp, uint64_t parent_end, BoxHeader* out);
// The smaller of a chunk's end and the file's end.
uint64_t avi_clamped_end(const AviImport* imp, const BoxHeader* chunk);

// One AVI chunk of `stream`, from an index entry.
ErrorCode avi_add_chunk(AviImport* imp, AviStream* stream, uint64_t offset, uint32_t size, bool key);
// How long a chunk of `size` bytes lasts, in the stream's time scale; false
// when that does not fit 32 bits.
bool avi_chunk_duration(const AviStream* stream, uint32_t size, uint32_t* duration);
// The legacy index, from the payload of the 'idx1' chunk.
ErrorCode avi_read_legacy_index(AviImport* imp, const BoxHeader* chunk);
// Turns the kept streams into the forms an MP4 file holds, once their
// indexes are read, and gives their tracks the samples (avi_convert.cpp).
ErrorCode avi_convert_streams(AviImport* imp);
// An OpenDML index ('indx' or a standard index it points at), from its payload.
ErrorCode avi_read_odml_index(AviImport* imp, AviStream* stream, const BoxHeader* chunk);

}  // namespace vantorel
