#include "import/converted_samples.h"

#include "import/import_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vantorel {

// DHT with the four tables of the JPEG standard's annex K.3.
const uint8_t kStandardJpegTables[] = {
    0xFF, 0xC4, 0x01, 0xA2,
    // Luminance DC.
    0x00, 0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    // Chrominance DC.
    0x01, 0x00, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    // Luminance AC.
    0x10, 0x00, 0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7D,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3,
    0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3,
    0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
    // Chrominance AC.
    0x11, 0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04, 0x07, 0x05, 0x04, 0x04, 0x00, 0x01, 0x02, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1,
    0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A,
    0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA,
    0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA,
    0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
};
const uint32_t kStandardJpegTablesSize = sizeof kStandardJpegTables;

uint32_t piece_output_size(const SamplePiece& piece) {
  switch (piece.kind) {
    case kPieceLength32: return 4;
    case kPieceLength16: return 2;
    case kPieceJpegTables: return kStandardJpegTablesSize;
    default: return piece.length;
  }
}

ErrorCode converted_add_sample(ConvertedTrack* track, const SamplePiece* pieces, uint32_t count) {
  VT_TRY(track->first_piece.append_doubling(track->pieces.count));
  for (uint32_t i = 0; i < count; ++i) VT_TRY(track->pieces.append_doubling(pieces[i]));
  return ErrorCode::Ok;
}

ErrorCode converted_hold(ConvertedTrack* track, const uint8_t* bytes, uint32_t count, uint32_t* at) {
  if (count > kMaxHeldBytes - track->held.count) return ErrorCode::Malformed;
  GrowArray<uint8_t>& held = track->held;
  const uint32_t need = held.count + count;
  if (need > held.capacity) {
    uint64_t grown = std::max<uint64_t>({need, uint64_t{held.capacity} * 2, 4096});
    VT_TRY(held.reserve(static_cast<uint32_t>(std::min<uint64_t>(grown, kMaxHeldBytes))));
  }
  *at = held.count;
  if (count > 0) std::memcpy(held.items + held.count, bytes, count);
  held.count = need;
  return ErrorCode::Ok;
}

namespace {

// The pieces of sample `index`: [*first, *end). False past the last sample.
bool sample_pieces(const ConvertedTrack* track, uint32_t index, uint32_t* first, uint32_t* end) {
  if (index >= track->first_piece.count) return false;
  *first = track->first_piece[index];
  *end = index + 1 < track->first_piece.count ? track->first_piece[index + 1] : track->pieces.count;
  return true;
}

// Puts the first `n` bytes of a piece that is not read from the file as it
// lies (a length, the tables, held or expanded bytes) into `out`.
ErrorCode fill_made_piece(FileIo* file, const ConvertedTrack* track, const SamplePiece& piece, uint8_t* out,
                          uint32_t n) {
  const uint32_t whole = piece_output_size(piece);
  if (piece.kind == kPieceLength32 || piece.kind == kPieceLength16) {
    uint8_t value[4] = {static_cast<uint8_t>(piece.length >> 24), static_cast<uint8_t>(piece.length >> 16),
                        static_cast<uint8_t>(piece.length >> 8), static_cast<uint8_t>(piece.length)};
    for (uint32_t i = 0; i < n; ++i) out[i] = value[4 - whole + i];
  } else if (piece.kind == kPieceJpegTables) {
    for (uint32_t i = 0; i < n; ++i) out[i] = kStandardJpegTables[i];
  } else if (piece.kind == kPieceLocated) {
    if (track->expander.expand == nullptr) return ErrorCode::Malformed;
    if (n > 0) VT_TRY(track->expander.expand(track->expander.state, file, piece.offset, out, n));
  } else if (piece.kind == kPieceHeld) {
    // Held pieces were made inside the held bytes; a piece outside is ours.
    if (piece.offset > track->held.count || n > track->held.count - piece.offset) return ErrorCode::Malformed;
    for (uint32_t i = 0; i < n; ++i) out[i] = track->held[static_cast<uint32_t>(piece.offset) + i];
  }
  return ErrorCode::Ok;
}

bool read_as_it_lies(const SamplePiece& piece) { return piece.kind == kPieceCopy || piece.kind == kPieceSwap16; }

// The bytes sample `index`'s pieces make: its size in the tables, which
// were made from them; a mismatch is ours.
bool pieces_make(const ConvertedTrack* track, uint32_t first, uint32_t end, uint32_t size) {
  uint64_t total = 0;
  for (uint32_t p = first; p < end; ++p) total += piece_output_size(track->pieces[p]);
  return total == size;
}

}  // namespace

ErrorCode converted_peek(FileIo* file, const ConvertedTrack* track, uint32_t index, uint8_t* buffer, uint32_t capacity,
                         uint32_t* got) {
  *got = 0;
  uint32_t first = 0, end = 0;
  if (!sample_pieces(track, index, &first, &end)) return ErrorCode::NoMore;
  uint32_t at = 0;
  for (uint32_t p = first; p < end && at < capacity; ++p) {
    const SamplePiece& piece = track->pieces[p];
    const uint32_t whole = piece_output_size(piece);
    const uint32_t n = whole < capacity - at ? whole : capacity - at;
    uint8_t* out = buffer + at;
    if (!read_as_it_lies(piece)) {
      VT_TRY(fill_made_piece(file, track, piece, out, n));
    } else if (n > 0) {
      VT_TRY(file_seek(file, piece.offset));
      VT_TRY(read_bytes(file, out, n));
      if (piece.kind == kPieceSwap16) swap_pairs(out, n);
    }
    at += n;
  }
  *got = at;
  return ErrorCode::Ok;
}

void swap_pairs(uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i + 1 < count; i += 2) {
    uint8_t t = bytes[i];
    bytes[i] = bytes[i + 1];
    bytes[i + 1] = t;
  }
}

ErrorCode converted_lay_out(FileIo* file, const ConvertedTrack* track, uint32_t index, uint64_t offset, uint8_t* out,
                            uint32_t size, FileStretchSink sink, void* user) {
  if (track->first_piece.count == 0 && track->expander.expand != nullptr)
    return track->expander.expand(track->expander.state, file, offset, out, size);
  uint32_t first = 0, end = 0;
  if (!sample_pieces(track, index, &first, &end)) return ErrorCode::NoMore;
  if (!pieces_make(track, first, end, size)) return ErrorCode::Malformed;
  uint32_t at = 0;
  for (uint32_t p = first; p < end; ++p) {
    const SamplePiece& piece = track->pieces[p];
    const uint32_t n = piece_output_size(piece);
    if (!read_as_it_lies(piece)) {
      VT_TRY(fill_made_piece(file, track, piece, out + at, n));
    } else if (n > 0) {
      VT_TRY(sink(user, FileStretch{piece.offset, n, at, piece.kind == kPieceSwap16}));
    }
    at += n;
  }
  return ErrorCode::Ok;
}

ErrorCode converted_read(FileIo* file, const ConvertedTrack* track, uint32_t index, uint64_t offset, uint8_t* buffer,
                         uint32_t size) {
  if (track->first_piece.count == 0 && track->expander.expand != nullptr)
    return track->expander.expand(track->expander.state, file, offset, buffer, size);
  uint32_t first = 0, end = 0;
  if (!sample_pieces(track, index, &first, &end)) return ErrorCode::NoMore;
  if (!pieces_make(track, first, end, size)) return ErrorCode::Malformed;
  uint32_t got = 0;
  VT_TRY(converted_peek(file, track, index, buffer, size, &got));
  return got == size ? ErrorCode::Ok : ErrorCode::Malformed;
}

void converted_release(ConvertedTrack* track) {
  track->first_piece.release();
  track->pieces.release();
  track->held.release();
  if (track->expander.release != nullptr) track->expander.release(track->expander.state);
  track->expander = SampleExpander{};
}

const ConvertedTrack* find_converted(const ImportFile* file, uint32_t track_id) {
  for (const ConvertedTrack& t : file->converted)
    if (t.track_id == track_id) return &t;
  return nullptr;
}

void import_note_add(ImportFile* file, const char* format, ...) {
  if (file == nullptr || file->note_count >= kMaxImportNotes) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(file->notes[file->note_count++].text, sizeof file->notes[0].text, format, args);
  va_end(args);
}

const ImportCut* import_cut_of(const ImportFile* file, uint32_t track_id) {
  for (uint32_t i = 0; i < file->cut_count && i < kMaxImportCuts; ++i)
    if (file->cuts[i].track_id == track_id) return &file->cuts[i];
  return nullptr;
}

void release_converted(ImportFile* file) {
  for (ConvertedTrack& t : file->converted) converted_release(&t);
  file->converted.release();
}

}  // namespace vantorel
