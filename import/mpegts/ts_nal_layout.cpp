#include "import/mpegts/ts_nal_layout.h"

#include <cstring>

#include "io/byte_io.h"

namespace vantorel {

namespace {

void put_number(uint8_t** p, uint32_t v) {
  while (v >= 0x80) {
    *(*p)++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *(*p)++ = static_cast<uint8_t>(v);
}

// False when the bytes end first or the number passes 32 bits.
bool get_number(const uint8_t** p, const uint8_t* end, uint32_t* v) {
  uint64_t value = 0;
  for (uint32_t shift = 0; shift < 35; shift += 7) {
    if (*p == end) return false;
    const uint8_t b = *(*p)++;
    value |= uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) {
      if (value > UINT32_MAX) return false;
      *v = static_cast<uint32_t>(value);
      return true;
    }
  }
  return false;
}

constexpr uint32_t kMaxNumberBytes = 5;

}  // namespace

ErrorCode ts_layout_append(GrowArray<uint8_t>* notes, const TsNalSpan* spans, uint32_t count, uint32_t n,
                           uint32_t sample_size, uint32_t* at) {
  *at = kTsNoLayout;
  if (count == 0 || count > kTsLayoutMaxUnits) return ErrorCode::Ok;
  uint64_t total = 0;
  uint32_t from = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (spans[i].begin < from || spans[i].end <= spans[i].begin || spans[i].end > n) return ErrorCode::Ok;
    total += 4 + uint64_t{spans[i].end - spans[i].begin};
    from = spans[i].end;
  }
  if (total != sample_size) return ErrorCode::Ok;
  const uint32_t most = (1 + 2 * count) * kMaxNumberBytes;
  if (notes->count > kTsLayoutMaxBytes - most) return ErrorCode::Ok;
  if (notes->capacity - notes->count < most) {
    uint64_t want = notes->capacity == 0 ? 4096 : uint64_t{notes->capacity} * 2;
    if (want < uint64_t{notes->count} + most) want = uint64_t{notes->count} + most;
    VT_TRY(notes->reserve(static_cast<uint32_t>(want)));
  }
  uint8_t* p = notes->items + notes->count;
  put_number(&p, count);
  from = 0;
  for (uint32_t i = 0; i < count; ++i) {
    put_number(&p, spans[i].begin - from);
    put_number(&p, spans[i].end - spans[i].begin);
    from = spans[i].end;
  }
  *at = notes->count;
  notes->count = static_cast<uint32_t>(p - notes->items);
  return ErrorCode::Ok;
}

bool ts_layout_read(const uint8_t* notes, uint32_t size, uint32_t at, uint32_t* end, uint32_t* sample_size) {
  if (notes == nullptr || at >= size) return false;
  const uint8_t* p = notes + at;
  const uint8_t* stop = notes + size;
  uint32_t units = 0;
  if (!get_number(&p, stop, &units) || units == 0 || units > kTsLayoutMaxUnits) return false;
  uint64_t total = 0;
  for (uint32_t i = 0; i < units; ++i) {
    uint32_t gap = 0, length = 0;
    if (!get_number(&p, stop, &gap) || !get_number(&p, stop, &length) || length == 0) return false;
    total += 4 + uint64_t{length};
  }
  if (total > UINT32_MAX) return false;
  *end = static_cast<uint32_t>(p - notes);
  *sample_size = static_cast<uint32_t>(total);
  return true;
}

void ts_layout_writer_start(TsLayoutWriter* w, const uint8_t* notes, uint32_t size, uint32_t at, uint8_t* out,
                            uint32_t capacity) {
  *w = TsLayoutWriter{};
  w->out = out;
  w->out_end = out + capacity;
  w->failed = notes == nullptr || at >= size || out == nullptr;
  if (w->failed) return;
  w->next = notes + at;
  w->end = notes + size;
  w->failed = !get_number(&w->next, w->end, &w->units) || w->units == 0;
}

bool ts_layout_take(void* writer, const uint8_t* data, uint32_t count) {
  auto* w = static_cast<TsLayoutWriter*>(writer);
  while (!w->failed) {
    if (w->skip > 0 || w->copy > 0) {
      if (count == 0) return true;
      if (w->skip > 0) {
        const uint32_t step = w->skip < count ? w->skip : count;
        w->skip -= step;
        data += step;
        count -= step;
        continue;
      }
      const uint32_t step = w->copy < count ? w->copy : count;
      std::memcpy(w->out, data, step);
      w->out += step;
      w->copy -= step;
      data += step;
      count -= step;
      continue;
    }
    if (w->units == 0) return false;  // the sample is whole: no more bytes wanted
    uint32_t gap = 0, length = 0;
    if (!get_number(&w->next, w->end, &gap) || !get_number(&w->next, w->end, &length) || length == 0 ||
        static_cast<uint64_t>(w->out_end - w->out) < 4 + uint64_t{length}) {
      w->failed = true;
      break;
    }
    store_u32be(w->out, length);
    w->out += 4;
    w->skip = gap;
    w->copy = length;
    --w->units;
  }
  return false;
}

}  // namespace vantorel
