#include "boxes/media_headers.h"

#include "boxes/fields.h"
#include "boxes/hdlr.h"

namespace vantorel {

namespace {

constexpr Field kVmhdLayout[] = {version_field(offsetof(VmhdRecord, version)), flags_field(offsetof(VmhdRecord, flags)),
                                 u16_field(offsetof(VmhdRecord, graphics_mode)),
                                 u16_field(offsetof(VmhdRecord, opcolor), 3)};

constexpr Field kSmhdLayout[] = {version_field(offsetof(SmhdRecord, version)), flags_field(offsetof(SmhdRecord, flags)),
                                 u16_field(offsetof(SmhdRecord, balance)), reserved(2)};

constexpr Field kHmhdLayout[] = {
    version_field(offsetof(HmhdRecord, version)), flags_field(offsetof(HmhdRecord, flags)),
    u16_field(offsetof(HmhdRecord, max_pdu_size)), u16_field(offsetof(HmhdRecord, avg_pdu_size)),
    u32_field(offsetof(HmhdRecord, max_bitrate)),  u32_field(offsetof(HmhdRecord, avg_bitrate)),
    reserved(4),
};

constexpr Field kNmhdLayout[] = {version_field(offsetof(NmhdRecord, version)), flags_field(offsetof(NmhdRecord, flags))};

// The three operations of a media header of type R, from its layout.
template <class R, BoxTypeId Id>
struct MediaHeader {
  static R* of(void* context) { return track_record<R>(static_cast<TrackBoxes*>(context), Id); }
  static ErrorCode read(BoxFile* file, const BoxHeader* header, Layout layout, void* context, const char* reason) {
    if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
    R* r = of(context);
    if (r == nullptr) return ErrorCode::Missing;
    return read_fields(file, header, layout, r, reason);
  }
  static ErrorCode write(BoxFile* file, Layout layout, void* context) {
    if (file == nullptr || context == nullptr) return ErrorCode::BadArgument;
    R* r = of(context);
    if (r == nullptr) return ErrorCode::Missing;
    return write_fields(file, layout, r);
  }
  static uint64_t size(Layout layout, void* context) {
    R* r = of(context);
    return r != nullptr ? size_fields(layout, r) : 0;
  }
};

using Vmhd = MediaHeader<VmhdRecord, BoxTypeId::Vmhd>;
using Smhd = MediaHeader<SmhdRecord, BoxTypeId::Smhd>;
using Hmhd = MediaHeader<HmhdRecord, BoxTypeId::Hmhd>;
using Nmhd = MediaHeader<NmhdRecord, BoxTypeId::Nmhd>;

}  // namespace

BoxTypeId media_header_for_kind(uint32_t kind) {
  if (handler_is_video_like(kind)) return BoxTypeId::Vmhd;
  if (kind == kHandlerSound) return BoxTypeId::Smhd;
  if (kind == kHandlerHint) return BoxTypeId::Hmhd;
  return BoxTypeId::Nmhd;
}

void vmhd_init(BoxFile*, void* context) {
  VmhdRecord* v = Vmhd::of(context);
  if (v != nullptr) v->flags = 1;  // "no lean ahead", set on every video header
}

ErrorCode vmhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  return Vmhd::read(file, header, kVmhdLayout, context, "'vmhd' shorter than its fields");
}
ErrorCode vmhd_write(BoxFile* file, void* context) { return Vmhd::write(file, kVmhdLayout, context); }
uint64_t vmhd_size(BoxFile*, void* context) { return Vmhd::size(kVmhdLayout, context); }

ErrorCode smhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  return Smhd::read(file, header, kSmhdLayout, context, "'smhd' shorter than its fields");
}
ErrorCode smhd_write(BoxFile* file, void* context) { return Smhd::write(file, kSmhdLayout, context); }
uint64_t smhd_size(BoxFile*, void* context) { return Smhd::size(kSmhdLayout, context); }

ErrorCode hmhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  return Hmhd::read(file, header, kHmhdLayout, context, "'hmhd' shorter than its fields");
}
ErrorCode hmhd_write(BoxFile* file, void* context) { return Hmhd::write(file, kHmhdLayout, context); }
uint64_t hmhd_size(BoxFile*, void* context) { return Hmhd::size(kHmhdLayout, context); }

ErrorCode nmhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  return Nmhd::read(file, header, kNmhdLayout, context, "'nmhd' shorter than its fields");
}
ErrorCode nmhd_write(BoxFile* file, void* context) { return Nmhd::write(file, kNmhdLayout, context); }
uint64_t nmhd_size(BoxFile*, void* context) { return Nmhd::size(kNmhdLayout, context); }

namespace {

// A media header carried as its payload bytes.
template <BoxTypeId Id>
struct RawHeader {
  static RawBoxRecord* of(void* context) { return track_record<RawBoxRecord>(static_cast<TrackBoxes*>(context), Id); }
  static void release(void* context) {
    if (RawBoxRecord* r = of(context)) block_release(&r->payload);
  }
  static ErrorCode read(BoxFile* file, const BoxHeader* header, void* context, const char* reason) {
    RawBoxRecord* r = of(context);
    if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
    return block_read_rest(file, header, &r->payload, reason);
  }
  static ErrorCode write(BoxFile* file, void* context) {
    RawBoxRecord* r = of(context);
    if (file == nullptr || r == nullptr) return ErrorCode::BadArgument;
    return block_write(file, &r->payload);
  }
  static uint64_t size(void* context) {
    RawBoxRecord* r = of(context);
    return r != nullptr ? r->payload.length : 0;
  }
};

using Gmhd = RawHeader<BoxTypeId::Gmhd>;
using Sthd = RawHeader<BoxTypeId::Sthd>;

}  // namespace

void gmhd_release(BoxFile*, void* context) { Gmhd::release(context); }
ErrorCode gmhd_read(BoxFile* file, const BoxHeader* header, void* context) {
  return Gmhd::read(file, header, context, "'gmhd' larger than 16 MiB");
}
ErrorCode gmhd_write(BoxFile* file, void* context) { return Gmhd::write(file, context); }
uint64_t gmhd_size(BoxFile*, void* context) { return Gmhd::size(context); }

void sthd_release(BoxFile*, void* context) { Sthd::release(context); }
ErrorCode sthd_read(BoxFile* file, const BoxHeader* header, void* context) {
  return Sthd::read(file, header, context, "'sthd' larger than 16 MiB");
}
ErrorCode sthd_write(BoxFile* file, void* context) { return Sthd::write(file, context); }
uint64_t sthd_size(BoxFile*, void* context) { return Sthd::size(context); }

}  // namespace vantorel
