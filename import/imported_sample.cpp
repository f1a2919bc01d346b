#include "import/imported_sample.h"

namespace vantorel {

namespace {

enum class Access { kWhole, kPieces, kLocated };

// Whether every sample's pieces make its size, with no piece the reader
// could not serve.
bool pieces_fit(const ImportedSample* samples, uint32_t count, const ConvertedTrack* source) {
  const uint32_t pieces = source->pieces.count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t first = source->first_piece[i];
    const uint32_t end = i + 1 < count ? source->first_piece[i + 1] : pieces;
    if (first > end || end > pieces) return false;
    uint64_t size = 0;
    for (uint32_t p = first; p < end; ++p) {
      const SamplePiece& piece = source->pieces[p];
      if (piece.kind > kPieceLocated) return false;
      if (piece.kind == kPieceLocated && source->expander.expand == nullptr) return false;
      size += piece_output_size(piece);
    }
    if (size != samples[i].size) return false;
  }
  return true;
}

ErrorCode access_of(const ImportedSample* samples, uint32_t count, const ConvertedTrack* source, Access* out) {
  bool whole = true, located = count > 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (samples[i].where != kSampleRange) whole = false;
    if (samples[i].where != kSampleLocated) located = false;
  }
  *out = Access::kWhole;
  if (whole) return ErrorCode::Ok;
  if (source == nullptr) return ErrorCode::BadArgument;
  if (source->first_piece.count == 0) {
    if (!located || source->expander.expand == nullptr) return ErrorCode::BadArgument;
    *out = Access::kLocated;
    return ErrorCode::Ok;
  }
  if (source->first_piece.count != count || !pieces_fit(samples, count, source)) return ErrorCode::BadArgument;
  *out = Access::kPieces;
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode import_track_samples(ImportFile* file, TrackBoxes* track, const ImportedSample* samples, uint32_t count,
                               ConvertedTrack* source) {
  ConvertedTrack taken{};
  if (source != nullptr) {
    taken = *source;
    *source = ConvertedTrack{};
  }
  const bool given = file != nullptr && track != nullptr && (samples != nullptr || count == 0);
  ErrorCode e = given ? ErrorCode::Ok : ErrorCode::BadArgument;
  Access access = Access::kWhole;
  if (e == ErrorCode::Ok) e = access_of(samples, count, source != nullptr ? &taken : nullptr, &access);
  if (e == ErrorCode::Ok) e = tables_from_samples(file, track, samples, count);
  if (e == ErrorCode::Ok && access != Access::kWhole) {
    taken.track_id = track_id_of(track);
    e = file->converted.append(taken);
    if (e == ErrorCode::Ok) return ErrorCode::Ok;  // now the file's
  }
  converted_release(&taken);
  return e;
}

}  // namespace vantorel
