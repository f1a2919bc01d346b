#pragma once
// 'moof': movie fragments folded into the ordinary sample tables of the
// tracks in 'moov', so a fragmented file reads as one movie. Each track run
// becomes one chunk; what a run leaves out comes from the track fragment
// header or the track's 'trex'. Nothing is read in inspect mode.
#include <cstdint>

#include "boxes/box_tree.h"
#include "meta/meta_file.h"

namespace vantorel {

// Flags of 'tfhd'.
constexpr uint32_t kTfhdBaseDataOffset = 0x000001;
constexpr uint32_t kTfhdDescriptionIndex = 0x000002;
constexpr uint32_t kTfhdDefaultDuration = 0x000008;
constexpr uint32_t kTfhdDefaultSize = 0x000010;
constexpr uint32_t kTfhdDefaultFlags = 0x000020;
constexpr uint32_t kTfhdDefaultBaseIsMoof = 0x020000;

// Flags of 'trun'.
constexpr uint32_t kTrunDataOffset = 0x000001;
constexpr uint32_t kTrunFirstSampleFlags = 0x000004;
constexpr uint32_t kTrunDuration = 0x000100;
constexpr uint32_t kTrunSize = 0x000200;
constexpr uint32_t kTrunFlags = 0x000400;
constexpr uint32_t kTrunCompositionOffset = 0x000800;

// sample_is_non_sync_sample in a sample's flags.
constexpr uint32_t kSampleNonSync = 0x10000;

// A run whose samples take no bytes, neither in the box nor in the file,
// costs nothing to declare: above this many samples it is refused. It is also
// the margin of empty samples by which all fragments together may pass one
// sample per byte of the file. Every sample declared costs time in each
// reader and in the remux, so the margin stays well below what a file of a
// few bytes could otherwise make everyone walk (256 Ki: an empty sample per
// frame of more than an hour of 60-frame video).
constexpr uint32_t kMaxEmptyRunSamples = 256u << 10;

// Row operation of the top level; the context is the root. Missing when a track
// fragment names a track that is not in the movie or has no 'trex', when a
// run comes before its 'tfhd' or its track lacks a table; Malformed when a count or
// field does not fit its box or a run's data lies beyond the file.
ErrorCode moof_read(MetaFile* file, const BoxHeader* header, void* context);

}  // namespace vantorel
