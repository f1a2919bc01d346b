// How a tag's value reads to a person: text as it is, numbers and track
// numbers formatted, pictures and other binary values by kind and size.
#include <cstdio>
#include <cstring>

#include "mediafile/internal.h"
#include "mediafile/mediafile.h"
#include "meta/ilst_items.h"
#include "meta/tag_record.h"

namespace vantorel {

namespace {

// Big-endian integers of 1 to 8 bytes, signed or not.
bool format_integer(const uint8_t* v, uint32_t n, bool is_signed, char* out, size_t capacity) {
  if (n == 0 || n > 8) return false;
  uint64_t u = 0;
  for (uint32_t i = 0; i < n; ++i) u = (u << 8) | v[i];
  if (is_signed && n < 8 && (v[0] & 0x80) != 0) u |= ~uint64_t{0} << (8 * n);
  if (is_signed)
    std::snprintf(out, capacity, "%lld", static_cast<long long>(u));
  else
    std::snprintf(out, capacity, "%llu", static_cast<unsigned long long>(u));
  return true;
}

// UTF-16 (big-endian) to UTF-8, cut to what fits.
size_t utf16_to_utf8(const uint8_t* v, uint32_t n, char* out, size_t capacity) {
  size_t k = 0;
  for (uint32_t i = 0; i + 1 < n;) {
    uint32_t c = (uint32_t{v[i]} << 8) | v[i + 1];
    i += 2;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      uint32_t low = (uint32_t{v[i]} << 8) | v[i + 1];
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c == 0) break;
    char b[4];
    size_t m = 0;
    if (c < 0x80) {
      b[m++] = static_cast<char>(c);
    } else if (c < 0x800) {
      b[m++] = static_cast<char>(0xC0 | (c >> 6));
      b[m++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      b[m++] = static_cast<char>(0xE0 | (c >> 12));
      b[m++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      b[m++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      b[m++] = static_cast<char>(0xF0 | (c >> 18));
      b[m++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      b[m++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      b[m++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (k + m >= capacity) break;
    std::memcpy(out + k, b, m);
    k += m;
  }
  out[k] = '\0';
  return k;
}

}  // namespace

namespace {

void value_text(const TagRecord& tag, uint32_t index, TagValueText* out) {
  *out = TagValueText{};
  const uint8_t* v = tag.values[index];
  uint32_t n = tag_value_length(tag, index);
  out->bytes = n;
  uint32_t type = index < tag.value_types.count ? tag.value_types[index] : UINT32_MAX;
  if ((tag.flags & kTagRaw) == 0) {
    out->kind = "text";
    out->text = reinterpret_cast<const char*>(v);
    const void* nul = std::memchr(v, 0, n);
    out->length = nul != nullptr ? static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - v) : n;
    return;
  }
  const KnownItem* known = tag.key_space.is_zero() ? known_item(tag.item) : nullptr;
  auto formatted = [&](const char* kind) {
    out->kind = kind;
    out->text = out->buffer;
    out->length = static_cast<uint32_t>(std::strlen(out->buffer));
  };
  if (type == kDataUtf16) {
    utf16_to_utf8(v, n, out->buffer, sizeof out->buffer);
    return formatted("utf16");
  }
  if (type == kDataJpeg || type == kDataPng || type == kDataBmp) {
    out->kind = type == kDataJpeg ? "jpeg" : type == kDataPng ? "png" : "bmp";
    return;
  }
  if ((type == kDataSigned || type == kDataUnsigned) &&
      format_integer(v, n, type == kDataSigned, out->buffer, sizeof out->buffer))
    return formatted("integer");
  if (known != nullptr && (type == kDataImplicit || type == UINT32_MAX)) {
    if (known->kind == kItemPair && n >= 6) {
      unsigned number = (unsigned{v[2]} << 8) | v[3];
      unsigned total = (unsigned{v[4]} << 8) | v[5];
      if (total != 0)
        std::snprintf(out->buffer, sizeof out->buffer, "%u/%u", number, total);
      else
        std::snprintf(out->buffer, sizeof out->buffer, "%u", number);
      return formatted("number");
    }
    if ((known->kind == kItemGenreId || known->kind == kItemInteger) &&
        format_integer(v, n, known->kind == kItemInteger, out->buffer, sizeof out->buffer))
      return formatted("integer");
    if (known->kind == kItemImage) {
      uint32_t guessed = default_data_type(tag.item, false, v, n);
      out->kind = guessed == kDataPng ? "png" : guessed == kDataBmp ? "bmp" : "jpeg";
      return;
    }
  }
  out->kind = "binary";
}

}  // namespace

uint32_t movie_tag_count(MediaFile* file) { return file != nullptr ? file->meta.tags.count : 0; }

ErrorCode movie_tag(MediaFile* file, uint32_t index, TagFacts* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = TagFacts{};
  if (index >= file->meta.tags.count) return ErrorCode::NoMore;
  const TagRecord& tag = file->meta.tags[index];
  out->name = tag.name;
  out->key = tag.key;
  out->mean = tag.mean;
  out->full_name = tag.key != nullptr ? tag.key : tag.name;
  if (!tag.key_space.is_zero() || !item_type_name(tag.item, out->item, sizeof out->item)) out->item[0] = '\0';
  out->value_count = tag.values.count < tag.value_sizes.count ? tag.values.count : tag.value_sizes.count;
  return ErrorCode::Ok;
}

ErrorCode movie_tag_value(MediaFile* file, uint32_t index, uint32_t value, TagValueText* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  *out = TagValueText{};
  if (index >= file->meta.tags.count) return ErrorCode::NoMore;
  const TagRecord& tag = file->meta.tags[index];
  if (value >= tag.values.count || value >= tag.value_sizes.count) return ErrorCode::NoMore;
  value_text(tag, value, out);
  return ErrorCode::Ok;
}

}  // namespace vantorel
