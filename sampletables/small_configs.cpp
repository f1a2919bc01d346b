#include "sampletables/small_configs.h"

#include "boxes/fields.h"

namespace vantorel {

const uint8_t kVisualExtensionUuid[16] = {0x6b, 0x68, 0x40, 0xf2, 0x5f, 0x24, 0x4f, 0xc5,
                                          0xba, 0x39, 0xa5, 0x1b, 0xcf, 0x03, 0x23, 0xf3};

namespace {

ErrorCode check(BoxFile* file, const BoxHeader* header, const void* record, uint64_t size, const char* reason) {
  if (file == nullptr || header == nullptr || record == nullptr) return ErrorCode::BadArgument;
  if (!box_has(file, header, size)) return short_box(file, reason);
  return ErrorCode::Ok;
}

ErrorCode done(BoxFile* file) { return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok; }

}  // namespace

ErrorCode btrt_read(BoxFile* file, const BoxHeader* header, BtrtRecord* r) {
  VT_TRY(check(file, header, r, kBtrtSize, "'btrt' shorter than 12 bytes"));
  r->bufferSizeDB = read_u32be(file);
  r->maxBitrate = read_u32be(file);
  r->avgBitrate = read_u32be(file);
  return done(file);
}

ErrorCode btrt_write(BoxFile* file, const BtrtRecord* r) {
  if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, r->bufferSizeDB));
  VT_TRY(write_u32be(file, r->maxBitrate));
  return write_u32be(file, r->avgBitrate);
}

ErrorCode d263_read(BoxFile* file, const BoxHeader* header, D263Record* r) {
  VT_TRY(check(file, header, r, kD263Size, "'d263' shorter than 7 bytes"));
  r->vendor = read_u32be(file);
  r->decoder_version = read_u8(file);
  r->H263_Level = read_u8(file);
  r->H263_Profile = read_u8(file);
  return done(file);
}

ErrorCode d263_write(BoxFile* file, const D263Record* r) {
  if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, r->vendor));
  VT_TRY(write_u8(file, r->decoder_version));
  VT_TRY(write_u8(file, r->H263_Level));
  return write_u8(file, r->H263_Profile);
}

ErrorCode fiel_read(BoxFile* file, const BoxHeader* header, FielRecord* r) {
  VT_TRY(check(file, header, r, kFielSize, "'fiel' shorter than 2 bytes"));
  r->field_count = read_u8(file);
  r->field_ordering = read_u8(file);
  return done(file);
}

ErrorCode fiel_write(BoxFile* file, const FielRecord* r) {
  if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u8(file, r->field_count));
  return write_u8(file, r->field_ordering);
}

ErrorCode uuid_extension_read(BoxFile* file, const BoxHeader* header, UuidExtensionRecord* r) {
  VT_TRY(check(file, header, r, kUuidExtensionSize, "extension 'uuid' box shorter than its value"));
  r->value = read_u32be(file);
  return done(file);
}

ErrorCode uuid_extension_write(BoxFile* file, const UuidExtensionRecord* r) {
  if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
  return write_u32be(file, r->value);
}

ErrorCode damr_read(BoxFile* file, const BoxHeader* header, DamrRecord* r) {
  VT_TRY(check(file, header, r, kDamrSize, "'damr' shorter than 9 bytes"));
  r->vendor = read_u32be(file);
  r->decoder_version = read_u8(file);
  r->mode_set = read_u16be(file);
  r->mode_change_period = read_u8(file);
  r->frames_per_sample = read_u8(file);
  return done(file);
}

ErrorCode damr_write(BoxFile* file, const DamrRecord* r) {
  if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, r->vendor));
  VT_TRY(write_u8(file, r->decoder_version));
  VT_TRY(write_u16be(file, r->mode_set));
  VT_TRY(write_u8(file, r->mode_change_period));
  return write_u8(file, r->frames_per_sample);
}

ErrorCode dawp_read(BoxFile* file, const BoxHeader* header, DawpRecord* r) {
  VT_TRY(check(file, header, r, kDawpSize, "'dawp' shorter than 5 bytes"));
  r->vendor = read_u32be(file);
  r->decoder_version = read_u8(file);
  return done(file);
}

ErrorCode dawp_write(BoxFile* file, const DawpRecord* r) {
  if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, r->vendor));
  return write_u8(file, r->decoder_version);
}

}  // namespace vantorel
