#include "sampletables/stsz.h"

#include "sampletables/runs.h"
#include "sampletables/table_io.h"

namespace vantorel {

namespace {

SampleSizeTable* stsz_of(void* context) {
  return track_record<SampleSizeTable>(static_cast<TrackBoxes*>(context), BoxTypeId::Stsz);
}

ErrorCode read_stz2_sizes(BoxFile* file, uint32_t field_size, uint32_t* out, uint32_t count) {
  uint8_t block[4096];
  uint32_t done = 0;
  if (field_size == 4) {
    while (done < count) {
      uint32_t pairs = (count - done + 1) / 2;
      uint32_t n = pairs < sizeof block ? pairs : static_cast<uint32_t>(sizeof block);
      VT_TRY(read_bytes(file, block, n));
      for (uint32_t i = 0; i < n && done < count; ++i) {
        out[done++] = block[i] >> 4;  // the earlier sample is in the high nibble
        if (done < count) out[done++] = block[i] & 0x0F;
      }
    }
  } else {
    uint32_t width = field_size / 8;
    while (done < count) {
      uint32_t left = count - done;
      uint32_t n = left < sizeof block / width ? left : static_cast<uint32_t>(sizeof block / width);
      VT_TRY(read_bytes(file, block, n * width));
      for (uint32_t i = 0; i < n; ++i) out[done++] = width == 1 ? block[i] : load_u16be(block + 2 * i);
    }
  }
  return ErrorCode::Ok;
}

}  // namespace

uint64_t sample_limit(TrackBoxes* track) {
  SampleSizeTable* t = stsz_of(track);
  return t != nullptr ? t->sample_count : UINT32_MAX;
}

void stsz_release(BoxFile*, void* context) {
  SampleSizeTable* t = stsz_of(context);
  if (t != nullptr) t->sizes.release();
}

ErrorCode stsz_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleSizeTable* t = stsz_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  TableHead head;
  VT_TRY(read_table_head(file, header, 12, &head));
  t->version = head.version;
  t->flags = head.flags;
  uint32_t sample_size = read_u32be(file);
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  t->sample_size = sample_size;
  if (sample_size != 0 || count == 0) {
    // One size for every sample: no list, whatever the count.
    t->sample_count = count;
    return ErrorCode::Ok;
  }
  if (!box_holds(file, header, count, 4)) return malformed(file, "'stsz' sample count larger than the box");
  VT_TRY(t->sizes.reserve(count));
  VT_TRY(read_u32_block(file, t->sizes.items, count));
  t->sizes.count = count;
  t->sample_count = count;
  return ErrorCode::Ok;
}

ErrorCode stz2_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || header == nullptr || context == nullptr) return ErrorCode::BadArgument;
  SampleSizeTable* t = stsz_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  if (tables_skipped(file)) return ErrorCode::Ok;
  TableHead head;
  VT_TRY(read_table_head(file, header, 12, &head));
  t->version = head.version;
  t->flags = head.flags;
  read_u24be(file);  // reserved
  uint32_t field_size = read_u8(file);
  uint32_t count = read_u32be(file);
  if (io_failed(file)) return ErrorCode::Io;
  if (field_size != 4 && field_size != 8 && field_size != 16)
    return malformed(file, "'stz2' field size other than 4, 8 or 16");
  uint64_t bytes = field_size == 4 ? (uint64_t{count} + 1) / 2 : uint64_t{count} * (field_size / 8);
  if (!box_holds(file, header, bytes, 1)) return malformed(file, "'stz2' sample count larger than the box");
  t->sample_size = 0;
  if (count == 0) return ErrorCode::Ok;
  VT_TRY(t->sizes.reserve(count));
  VT_TRY(read_stz2_sizes(file, field_size, t->sizes.items, count));
  t->sizes.count = count;
  t->sample_count = count;
  return ErrorCode::Ok;
}

ErrorCode stsz_write(BoxFile* file, void* context) {
  if (file == nullptr) return ErrorCode::BadArgument;
  SampleSizeTable* t = stsz_of(context);
  if (t == nullptr) return ErrorCode::Missing;
  VT_TRY(write_u8(file, t->version));
  VT_TRY(write_u24be(file, t->flags));
  VT_TRY(write_u32be(file, t->sample_size));
  VT_TRY(write_u32be(file, t->sample_count));
  if (t->sample_size != 0) return ErrorCode::Ok;
  // Listed sizes, then zeros for samples the list does not hold (a constant
  // size of 0 has no list at all).
  uint32_t listed = stsz_is_listed(t) ? t->sizes.count : 0;
  if (listed > t->sample_count) listed = t->sample_count;
  VT_TRY(write_u32_block(file, t->sizes.items, listed));
  return write_u32_block(file, nullptr, t->sample_count - listed);
}

uint64_t stsz_size(BoxFile*, void* context) {
  SampleSizeTable* t = stsz_of(context);
  if (t == nullptr) return 0;
  return t->sample_size != 0 ? 12 : 12 + 4 * uint64_t{t->sample_count};
}

ErrorCode stsz_append(BoxFile* file, TrackBoxes* track, uint32_t s, uint32_t n) {
  if (file == nullptr || track == nullptr) return ErrorCode::BadArgument;
  return stsz_append(stsz_of(track), s, n);
}

ErrorCode stsz_append(SampleSizeTable* t, uint32_t s, uint32_t n) {
  if (t == nullptr) return ErrorCode::BadArgument;
  if (n == 0) return ErrorCode::Ok;
  if (n > UINT32_MAX - t->sample_count) return ErrorCode::OutOfMemory;
  const uint32_t total = t->sample_count + n;
  if (!stsz_is_listed(t)) {
    if (s == t->sample_size || t->sample_count == 0) {
      t->sample_size = s;
      t->sample_count = total;
      return ErrorCode::Ok;
    }
    // The first differing size: list every sample, the earlier ones at the
    // common size.
    VT_TRY(t->sizes.reserve(total));
    for (uint32_t i = 0; i < t->sample_count; ++i) t->sizes.items[i] = t->sample_size;
    t->sizes.count = t->sample_count;
    t->sample_size = 0;
  } else if (total > t->sizes.capacity) {
    uint64_t want = 2 * (uint64_t{t->sizes.capacity} + n);
    VT_TRY(t->sizes.reserve(want > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(want)));
  }
  for (uint32_t i = 0; i < n; ++i) t->sizes.items[t->sizes.count + i] = s;
  t->sizes.count = total;
  t->sample_count = total;
  return ErrorCode::Ok;
}

uint32_t stsz_sample_size(const SampleSizeTable* table, uint32_t i) {
  if (table == nullptr || i >= table->sample_count) return 0;
  if (!stsz_is_listed(table)) return table->sample_size;
  return i < table->sizes.count ? table->sizes.items[i] : 0;
}

uint32_t sample_count(TrackBoxes* track) {
  SampleSizeTable* t = stsz_of(track);
  return t != nullptr ? t->sample_count : 0;
}

}  // namespace vantorel
