#include "boxes/hdlr.h"

#include "boxes/fields.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

namespace {

struct HandlerRow {
  const char* type;  // null: no handler type
  const char* name;
};

constexpr HandlerRow kHandlers[kHandlerKindCount] = {
    {nullptr, "Default Media Handler"},       {"vide", "Video Media Handler"},
    {"soun", "Sound Media Handler"},          {"hint", "Hint Media Handler"},
    {"odsm", "Default Media Handler"},        {"crsm", "Default Media Handler"},
    {"sdsm", "Default Media Handler"},        {"m7sm", "Default Media Handler"},
    {"ocsm", "Default Media Handler"},        {"ipsm", "Default Media Handler"},
    {"mjsm", "Default Media Handler"},        {"subp", "Subpicture Media Handler"},
    {"subt", "Subtitle Media Handler"},       {nullptr, "Interleaved Media Handler"},
    {"strx", "Streaming Extension Media Handler"},
    {"text", "Text Media Handler"},          {"sbtl", "Subtitle Media Handler"},
    {"tmcd", "Time Code Media Handler"},
    {nullptr, "Default Media Handler"},
};

// Names longer than this are cut; the rest of the box is skipped.
constexpr uint64_t kMaxHandlerName = 4096;

HdlrRecord* hdlr_of(void* context) { return track_record<HdlrRecord>(static_cast<TrackBoxes*>(context), BoxTypeId::Hdlr); }

}  // namespace

FourCC handler_type_of(uint32_t kind) {
  if (kind >= kHandlerKindCount || kHandlers[kind].type == nullptr) return FourCC{};
  return FourCC::of(kHandlers[kind].type);
}

uint32_t handler_kind_from_type(FourCC type) {
  for (uint32_t k = 0; k < kHandlerKindCount; ++k)
    if (kHandlers[k].type != nullptr && type == kHandlers[k].type) return k;
  return kHandlerUnknown;
}

const char* handler_default_name(uint32_t kind) {
  return kind < kHandlerKindCount ? kHandlers[kind].name : kHandlers[0].name;
}

uint32_t handler_kind_of(TrackBoxes* track) {
  HdlrRecord* h = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
  return h != nullptr ? h->kind : kHandlerUnknown;
}

ErrorCode set_handler_name(BoxFile* file, TrackBoxes* track, const char* text) {
  if (file == nullptr || track == nullptr || text == nullptr) return ErrorCode::BadArgument;
  HdlrRecord* h = track_record<HdlrRecord>(track, BoxTypeId::Hdlr);
  if (h == nullptr) return ErrorCode::Missing;
  size_t n = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy == nullptr) return ErrorCode::OutOfMemory;
  std::memcpy(copy, text, n + 1);
  std::free(h->name);
  h->name = copy;
  return ErrorCode::Ok;
}

void hdlr_release(BoxFile*, void* context) {
  HdlrRecord* h = hdlr_of(context);
  if (h == nullptr) return;
  std::free(h->name);
  h->name = nullptr;
}

namespace {

constexpr Field kHdlrLayout[] = {
    version_field(offsetof(HdlrRecord, version)),
    flags_field(offsetof(HdlrRecord, flags)),
    reserved(4),  // pre-defined (QuickTime: component type)
    bytes_field(offsetof(HdlrRecord, handler_type), 4),
    bytes_field(offsetof(HdlrRecord, manufacturer), 4),
    reserved(8),
};

}  // namespace

ErrorCode hdlr_read(BoxFile* file, const BoxHeader* header, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  HdlrRecord* h = hdlr_of(context);
  if (h == nullptr) return ErrorCode::Missing;
  VT_TRY(read_fields(file, header, kHdlrLayout, h, "'hdlr' shorter than its fields"));
  h->kind = handler_kind_from_type(h->handler_type);
  uint64_t remaining = box_bytes_left(file, header);
  if (remaining == 0) return ErrorCode::Ok;
  uint64_t take = remaining < kMaxHandlerName ? remaining : kMaxHandlerName;
  auto* bytes = static_cast<uint8_t*>(std::malloc(take + 1));
  if (bytes == nullptr) return ErrorCode::OutOfMemory;
  if (read_bytes(file, bytes, static_cast<uint32_t>(take)) != ErrorCode::Ok) {
    std::free(bytes);
    return ErrorCode::Io;
  }
  bytes[take] = 0;
  // A counted name (a length byte, then the name) is taken as counted when
  // the maker says so, and whenever the length byte matches what follows:
  // writers put counted names into boxes without the "appl" maker too.
  size_t start = 0;
  size_t length;
  if (h->manufacturer == "appl" || bytes[0] == remaining - 1) {
    start = 1;
    length = bytes[0];
    if (length > take - 1) length = take - 1;
  } else {
    length = take;
  }
  char* name = static_cast<char*>(std::malloc(length + 1));
  if (name == nullptr) {
    std::free(bytes);
    return ErrorCode::OutOfMemory;
  }
  std::memcpy(name, bytes + start, length);
  name[length] = '\0';
  std::free(bytes);
  std::free(h->name);
  h->name = name;  // a C string: whatever follows an embedded NUL is dropped
  return ErrorCode::Ok;
}

ErrorCode hdlr_write(BoxFile* file, void* context) {
  if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
  HdlrRecord* h = hdlr_of(context);
  if (h == nullptr) return ErrorCode::Missing;
  FourCC type = h->kind == kHandlerOther ? h->handler_type : handler_type_of(h->kind);
  if (type.is_zero()) return ErrorCode::Missing;
  // The type follows the kind; no maker is named.
  HdlrRecord out = *h;
  out.handler_type = type;
  out.manufacturer = FourCC{};
  VT_TRY(write_fields(file, kHdlrLayout, &out));
  if (h->name == nullptr) return ErrorCode::Ok;
  size_t n = std::strlen(h->name);
  if ((file->flags & kFlagQuickTimeForms) != 0) {
    // QuickTime counts its names: a length byte, then at most 255 letters.
    if (n > 255) n = 255;
    VT_TRY(write_u8(file, static_cast<uint8_t>(n)));
    return write_bytes(file, h->name, static_cast<uint32_t>(n));
  }
  return write_bytes(file, h->name, static_cast<uint32_t>(n + 1));
}

uint64_t hdlr_size(BoxFile* file, void* context) {
  HdlrRecord* h = hdlr_of(context);
  if (h == nullptr) return 0;
  uint64_t name = 0;
  if (h->name != nullptr) {
    size_t n = std::strlen(h->name);
    bool counted = file != nullptr && (file->flags & kFlagQuickTimeForms) != 0;
    name = counted ? 1 + (n > 255 ? 255 : n) : n + 1;
  }
  return size_fields(kHdlrLayout, h) + name;
}

}  // namespace vantorel
