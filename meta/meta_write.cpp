#include "meta/meta_write.h"

#include <cstring>

#include "boxes/carried_boxes.h"
#include "meta/ilst_items.h"
#include "meta/tag_record.h"

namespace vantorel {

namespace {

using Sink = GrowArray<uint8_t>;

ErrorCode put(Sink* out, const void* bytes, size_t length) {
  if (out->count + uint64_t{length} > UINT32_MAX) return ErrorCode::Overrun;
  VT_TRY(out->reserve(static_cast<uint32_t>(out->count + length)));
  if (length > 0) std::memcpy(out->items + out->count, bytes, length);
  out->count += static_cast<uint32_t>(length);
  return ErrorCode::Ok;
}
ErrorCode put_u32(Sink* out, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v)};
  return put(out, b, 4);
}
ErrorCode put_type(Sink* out, FourCC type) { return put(out, type.c, 4); }

// A box is opened with a size to be filled in when it is closed.
ErrorCode open_box(Sink* out, FourCC type, uint32_t* at) {
  *at = out->count;
  VT_TRY(put_u32(out, 0));
  return put_type(out, type);
}
void close_box(Sink* out, uint32_t at) {
  uint32_t size = out->count - at;
  out->items[at] = static_cast<uint8_t>(size >> 24);
  out->items[at + 1] = static_cast<uint8_t>(size >> 16);
  out->items[at + 2] = static_cast<uint8_t>(size >> 8);
  out->items[at + 3] = static_cast<uint8_t>(size);
}

// A full box of version 0 holding one string, as 'mean' and 'name' are.
ErrorCode put_text_box(Sink* out, const char* type, const char* text) {
  uint32_t at = 0;
  VT_TRY(open_box(out, FourCC::of(type), &at));
  VT_TRY(put_u32(out, 0));
  VT_TRY(put(out, text, std::strlen(text)));
  close_box(out, at);
  return ErrorCode::Ok;
}

bool belongs(const TagRecord& tag, bool keyed) {
  if (keyed) return !tag.key_space.is_zero() && tag.key != nullptr;
  return !tag.item.is_zero() && tag.key_space.is_zero();
}

ErrorCode put_item(Sink* out, const TagRecord& tag, FourCC type) {
  uint32_t item = 0;
  VT_TRY(open_box(out, type, &item));
  if (tag.item == "----" && tag.key_space.is_zero()) {
    VT_TRY(put_text_box(out, "mean", tag.mean != nullptr ? tag.mean : kFreeformMean));
    VT_TRY(put_text_box(out, "name", tag.key != nullptr ? tag.key : tag.name));
  }
  bool text = (tag.flags & kTagRaw) == 0;
  for (uint32_t v = 0; v < tag.values.count && v < tag.value_sizes.count; ++v) {
    uint32_t length = tag_value_length(tag, v);
    uint32_t data_type = v < tag.value_types.count ? tag.value_types[v]
                                                   : default_data_type(tag.item, text, tag.values[v], length);
    uint32_t data = 0;
    VT_TRY(open_box(out, FourCC::of("data"), &data));
    VT_TRY(put_u32(out, data_type));
    VT_TRY(put_u32(out, v < tag.value_locales.count ? tag.value_locales[v] : 0));
    VT_TRY(put(out, tag.values[v], length));
    close_box(out, data);
  }
  close_box(out, item);
  return ErrorCode::Ok;
}

ErrorCode put_ilst(MetaFile* file, bool keyed, Sink* out) {
  uint32_t at = 0;
  VT_TRY(open_box(out, FourCC::of("ilst"), &at));
  uint32_t index = 0;
  for (const TagRecord& tag : file->meta.tags) {
    if (!belongs(tag, keyed) || tag.values.count == 0) continue;
    VT_TRY(put_item(out, tag, keyed ? FourCC::from_u32(++index) : tag.item));
  }
  close_box(out, at);
  return ErrorCode::Ok;
}

ErrorCode put_keys(MetaFile* file, Sink* out) {
  uint32_t at = 0;
  VT_TRY(open_box(out, FourCC::of("keys"), &at));
  VT_TRY(put_u32(out, 0));
  uint32_t count_at = out->count;
  VT_TRY(put_u32(out, 0));
  uint32_t count = 0;
  for (const TagRecord& tag : file->meta.tags) {
    if (!belongs(tag, true) || tag.values.count == 0) continue;
    uint32_t key = 0;
    VT_TRY(open_box(out, tag.key_space, &key));  // a key entry is laid out as a box is
    VT_TRY(put(out, tag.key, std::strlen(tag.key)));
    close_box(out, key);
    ++count;
  }
  const uint8_t c[4] = {static_cast<uint8_t>(count >> 24), static_cast<uint8_t>(count >> 16),
                        static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
  std::memcpy(out->items + count_at, c, 4);
  close_box(out, at);
  return ErrorCode::Ok;
}

ErrorCode put_hdlr(Sink* out, bool keyed) {
  uint32_t at = 0;
  VT_TRY(open_box(out, FourCC::of("hdlr"), &at));
  VT_TRY(put_u32(out, 0));  // version, flags
  VT_TRY(put_u32(out, 0));  // pre-defined
  VT_TRY(put_type(out, FourCC::of(keyed ? "mdta" : "mdir")));
  VT_TRY(put_type(out, FourCC::of(keyed ? "\0\0\0\0" : "appl")));
  VT_TRY(put_u32(out, 0));
  VT_TRY(put_u32(out, 0));
  VT_TRY(put(out, "", 1));  // empty name
  close_box(out, at);
  return ErrorCode::Ok;
}

// The handler of a carried 'meta' box: its 'hdlr' child's handler type, or
// zero when it has none. *payload is where its children start.
FourCC meta_handler(const OwnedBlock& block, uint64_t* children) {
  BlockBox box{};
  if (!block_box(block.bytes, block.length, &box) || !(box.type == "meta")) return FourCC{};
  // A full box, unless a child header starts right away (as some writers do).
  uint64_t at = box.payload;
  bool child_first = false;
  if (block.length - at >= 8)
    for (const char* t : {"hdlr", "ilst", "keys"}) child_first = child_first || std::memcmp(block.bytes + at + 4, t, 4) == 0;
  if (!child_first) at += 4;
  *children = at;
  FourCC handler = FourCC::of("\0\0\0\0");
  walk_block(block.bytes, at, block.length, [&](FourCC type, uint64_t payload, uint64_t, uint64_t end) {
    if (type == "hdlr" && end - payload >= 12) {
      handler = FourCC::from_u32((uint32_t{block.bytes[payload + 8]} << 24) | (uint32_t{block.bytes[payload + 9]} << 16) |
                                 (uint32_t{block.bytes[payload + 10]} << 8) | block.bytes[payload + 11]);
      return false;
    }
    return true;
  });
  return handler;
}

// Rebuilds one carried 'meta': its children as they were, 'keys' and 'ilst'
// from the tags.
ErrorCode rebuild(MetaFile* file, OwnedBlock* block, uint64_t children, bool keyed) {
  Sink out{};
  BlockBox box{};
  block_box(block->bytes, block->length, &box);
  uint32_t at = 0;
  ErrorCode e = open_box(&out, FourCC::of("meta"), &at);
  if (e == ErrorCode::Ok) e = put(&out, block->bytes + box.payload, children - box.payload);
  bool wrote_ilst = false;
  walk_block(block->bytes, children, block->length, [&](FourCC type, uint64_t, uint64_t start, uint64_t end) {
    if (e != ErrorCode::Ok) return false;
    if (type == "ilst" || (keyed && type == "keys")) {
      if (!wrote_ilst) {
        if (keyed) e = put_keys(file, &out);
        if (e == ErrorCode::Ok) e = put_ilst(file, keyed, &out);
        wrote_ilst = true;
      }
      return true;
    }
    e = put(&out, block->bytes + start, end - start);
    return true;
  });
  if (e == ErrorCode::Ok && !wrote_ilst) {
    if (keyed) e = put_keys(file, &out);
    if (e == ErrorCode::Ok) e = put_ilst(file, keyed, &out);
  }
  if (e == ErrorCode::Ok) {
    close_box(&out, at);
    e = block_assign(block, out.items, out.count);
  }
  out.release();
  return e;
}

bool has_tags(MetaFile* file, bool keyed) {
  for (const TagRecord& tag : file->meta.tags)
    if (belongs(tag, keyed) && tag.values.count > 0) return true;
  return false;
}

// Rebuilds the carried 'meta' boxes of one kind; false in *found when there is none.
ErrorCode rebuild_in(MetaFile* file, CarriedBoxes* carried, bool keyed, bool* found) {
  if (carried == nullptr) return ErrorCode::Ok;
  for (OwnedBlock& block : carried->boxes) {
    BlockBox box{};
    if (!block_box(block.bytes, block.length, &box) || !(box.type == "meta")) continue;
    uint64_t children = 0;
    FourCC handler = meta_handler(block, &children);
    // Other handlers' 'meta' boxes (ID3 tags, say) are not the tags' to rewrite.
    bool ours = keyed ? handler == "mdta" : (handler == "mdir" || handler.is_zero());
    if (!ours) continue;
    VT_TRY(rebuild(file, &block, children, keyed));
    *found = true;
  }
  return ErrorCode::Ok;
}

}  // namespace

ErrorCode build_meta_box(MetaFile* file, bool keyed, GrowArray<uint8_t>* out) {
  if (file == nullptr || out == nullptr) return ErrorCode::BadArgument;
  uint32_t at = 0;
  VT_TRY(open_box(out, FourCC::of("meta"), &at));
  VT_TRY(put_u32(out, 0));
  VT_TRY(put_hdlr(out, keyed));
  if (keyed) VT_TRY(put_keys(file, out));
  VT_TRY(put_ilst(file, keyed, out));
  close_box(out, at);
  return ErrorCode::Ok;
}

ErrorCode metadata_write_back(MetaFile* file) {
  if (file == nullptr) return ErrorCode::BadArgument;
  if (file->meta.tags_changed == 0 || file->root == nullptr || file->root->moov == nullptr) return ErrorCode::Ok;
  MoovRecord* moov = file->root->moov;
  for (bool keyed : {false, true}) {
    bool found = false;
    if (moov->udta != nullptr) VT_TRY(rebuild_in(file, moov->udta->carried, keyed, &found));
    VT_TRY(rebuild_in(file, moov->carried, keyed, &found));
    if (found || !has_tags(file, keyed)) continue;
    if (moov->udta == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Udta));
    CarriedBoxes* carried = carried_list(&moov->udta->carried);
    if (carried == nullptr) return ErrorCode::OutOfMemory;
    Sink fresh{};
    ErrorCode e = build_meta_box(file, keyed, &fresh);
    if (e == ErrorCode::Ok) e = carry_bytes(carried, fresh.items, fresh.count);
    fresh.release();
    VT_TRY(e);
  }
  file->meta.tags_changed = 0;
  return ErrorCode::Ok;
}

}  // namespace vantorel
