// Sample descriptions written out as bytes and read back through the
// sample description reader, so that a configuration box the entry record
// has no field for travels as the tree carries any box.
#include "import/mpegts/ts_entries.h"

#include "codecs/hevc.h"
#include "io/byte_io.h"
#include "io/file_io.h"
#include "sampletables/stsd.h"

namespace vantorel {

namespace {

struct Bytes {
  GrowArray<uint8_t> b{};
  ErrorCode e = ErrorCode::Ok;
  void put(const void* p, uint32_t n) {
    const auto* q = static_cast<const uint8_t*>(p);
    for (uint32_t i = 0; i < n && e == ErrorCode::Ok; ++i) e = b.append_doubling(q[i], 256);
  }
  void u16(uint32_t v) {
    const uint8_t q[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    put(q, 2);
  }
  void u32(uint32_t v) {
    uint8_t q[4];
    store_u32be(q, v);
    put(q, 4);
  }
  void zeros(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) put("", 1);
  }
  uint32_t open(const char* type) {
    const uint32_t at = b.count;
    u32(0);
    put(type, 4);
    return at;
  }
  void close(uint32_t at) {
    if (e == ErrorCode::Ok) store_u32be(b.items + at, b.count - at);
  }
};

void visual_fields(Bytes* o, uint32_t width, uint32_t height) {
  o->zeros(6);
  o->u16(1);  // data_reference_index
  o->zeros(16);
  o->u16(width);
  o->u16(height);
  o->u32(0x00480000);  // 72 dpi
  o->u32(0x00480000);
  o->u32(0);
  o->u16(1);  // frame_count
  o->zeros(32);
  o->u16(0x18);
  o->u16(0xFFFF);
}

// The track's descriptions become the entries in `entries` (whole boxes).
ErrorCode replace_entries(ImportFile* file, TrackBoxes* track, const Bytes& entries, uint32_t count) {
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd == nullptr) return ErrorCode::Missing;
  while (stsd->entry_count > 0) VT_TRY(stsd_remove_entry(file, track, stsd->entry_count - 1));
  Bytes box;
  const uint32_t at = box.open("stsd");
  box.u32(0);
  box.u32(count);
  box.put(entries.b.items, entries.b.count);
  box.close(at);
  ErrorCode e = box.e;
  if (e == ErrorCode::Ok) {
    BoxHeader h;
    make_box_header(&h, FourCC::of("stsd"), nullptr, 0, box.b.count, box.b.count);
    ScopedMemoryStream view(file);
    e = view.open_view(box.b.items, box.b.count);
    if (e == ErrorCode::Ok) e = file_seek(file, 8);
    if (e == ErrorCode::Ok) e = stsd_read(file, &h, track);
  }
  box.b.release();
  return e;
}

}  // namespace

ErrorCode ts_set_hevc_entries(ImportFile* file, TrackBoxes* track, const TsHevcConfigs* configs, const uint32_t* used,
                              uint32_t count, uint32_t* width, uint32_t* height) {
  Bytes entries;
  GrowArray<uint8_t> hvcc{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < count && e == ErrorCode::Ok; ++i) {
    if (used[i] >= configs->count) {
      e = ErrorCode::BadArgument;
      break;
    }
    const TsHevcConfig& c = configs->configs[used[i]];
    e = hvcc_build(c.sets.items, c.sets.count, &hvcc);
    if (e != ErrorCode::Ok) break;
    HevcSpsInfo sps{};
    for (uint32_t k = 0; k < c.sets.count; ++k) {
      const OwnedBlock& b = c.sets[k];
      if (hevc_nal_type(b.bytes) == kHevcNalSps && hevc_parse_sps(b.bytes, b.length, &sps) == ErrorCode::Ok) break;
    }
    const uint32_t w = sps.width <= 0xFFFF ? sps.width : 0;
    const uint32_t h = sps.height <= 0xFFFF ? sps.height : 0;
    if (i == 0) {
      *width = w;
      *height = h;
    }
    // 'hvc1' promises every parameter set is in the entry.
    const uint32_t entry = entries.open(configs->in_band ? "hev1" : "hvc1");
    visual_fields(&entries, w, h);
    const uint32_t box = entries.open("hvcC");
    entries.put(hvcc.items, hvcc.count);
    entries.close(box);
    entries.close(entry);
    e = entries.e;
  }
  if (e == ErrorCode::Ok) e = replace_entries(file, track, entries, count);
  hvcc.release();
  entries.b.release();
  return e;
}

}  // namespace vantorel
