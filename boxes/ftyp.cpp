#include "boxes/ftyp.h"

#include <cstdlib>
#include <cstring>

#include "boxes/owned_block.h"

namespace vantorel {

namespace {

FileTypeRecord* ftyp_of(void* context) { return movie_record<FileTypeRecord>(static_cast<FileBoxes*>(context), BoxTypeId::Ftyp); }

}  // namespace

void ftyp_release(BoxFile*, void* context) {
  FileTypeRecord* f = ftyp_of(context);
  if (f == nullptr) return;
  std::free(f->compatible_brands);
  f->compatible_brands = nullptr;
  f->brand_count = 0;
}

ErrorCode ftyp_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  FileTypeRecord* f = ftyp_of(context);
  if (f == nullptr) return ErrorCode::BadArgument;
  // Updating a file: its header space starts after the file type box.
  if (file->mode == kOpenUpdate) set_last_region_start(file, header->end);
  // A box too short for a field leaves it zero rather than reading the next box.
  if (box_has(file, header, 4)) f->major_brand = read_fourcc(file);
  if (box_has(file, header, 4)) f->minor_version = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  uint64_t n = box_bytes_left(file, header) / 4;
  if (n > kMaxBrands) return malformed(file, "'ftyp' with more than 65536 brands");
  if (n == 0) return ErrorCode::Ok;
  auto* brands = static_cast<FourCC*>(std::calloc(n, sizeof(FourCC)));
  if (brands == nullptr) return ErrorCode::OutOfMemory;
  if (read_bytes(file, brands, static_cast<uint32_t>(n * 4)) != ErrorCode::Ok) {
    std::free(brands);
    return ErrorCode::Io;
  }
  std::free(f->compatible_brands);
  f->compatible_brands = brands;
  f->brand_count = static_cast<uint32_t>(n);
  return ErrorCode::Ok;
}

uint64_t ftyp_size(BoxFile*, void* context) {
  FileTypeRecord* f = ftyp_of(context);
  if (f == nullptr) return 0;
  return 8 + uint64_t{f->brand_count} * 4;
}

ErrorCode ftyp_write(BoxFile* file, FileBoxes* root) {
  if (file == nullptr || root == nullptr) return ErrorCode::BadArgument;
  FileTypeRecord* f = ftyp_of(root);
  if (f == nullptr) return ErrorCode::Missing;
  VT_TRY(write_fourcc(file, f->major_brand));
  VT_TRY(write_u32be(file, f->minor_version));
  for (uint32_t i = 0; i < f->brand_count; ++i) VT_TRY(write_fourcc(file, f->compatible_brands[i]));
  return ErrorCode::Ok;
}

ErrorCode ftyp_set_brands(BoxFile* file, FileBoxes* root, const FourCC* brands, uint32_t count) {
  if (file == nullptr || root == nullptr || brands == nullptr || count == 0) return ErrorCode::BadArgument;
  FileTypeRecord* f = ftyp_of(root);
  if (f == nullptr) return ErrorCode::Missing;
  if (count > kMaxBrands) return ErrorCode::BadArgument;
  auto* copy = static_cast<FourCC*>(std::malloc(size_t{count} * sizeof(FourCC)));
  if (copy == nullptr) return ErrorCode::OutOfMemory;
  std::memcpy(copy, brands, size_t{count} * sizeof(FourCC));
  std::free(f->compatible_brands);
  f->compatible_brands = copy;
  f->brand_count = count;
  return ErrorCode::Ok;
}

}  // namespace vantorel
