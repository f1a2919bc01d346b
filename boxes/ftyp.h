#pragma once
// 'ftyp': the file type box. Read as a top-level row; written by the code
// that creates a file, ahead of everything else.
#include <cstdint>

#include "boxes/box_tree.h"

namespace vantorel {

struct FileTypeRecord {
  FourCC major_brand;
  uint32_t minor_version;
  uint32_t brand_count;
  FourCC* compatible_brands;  // owned
};

// More brands than this make the box malformed rather than a large allocation.
constexpr uint32_t kMaxBrands = 65536;

void ftyp_release(BoxFile* file, void* context);
ErrorCode ftyp_read(BoxFile* file, const BoxHeader* header, void* context);
uint64_t ftyp_size(BoxFile* file, void* context);
// Writes the payload: major brand, minor version, the brands.
ErrorCode ftyp_write(BoxFile* file, FileBoxes* root);
// Replaces the brand list with a copy of `count` brands.
ErrorCode ftyp_set_brands(BoxFile* file, FileBoxes* root, const FourCC* brands, uint32_t count);

}  // namespace vantorel
