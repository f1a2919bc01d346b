// Sample descriptions of transport-stream video: one H.264 configuration
// as the entry record; several, and HEVC, written out as bytes and read
// back through the sample description reader, so that a configuration box
// the entry record has no field for travels as the tree carries any box.
#include "import/mpegts/ts_entries.h"

#include <cstring>

#include "codecs/h264.h"
#include "codecs/hevc.h"
#include "import/stream_tracks.h"
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

// The picture size a sequence parameter set gives, 0 when it does not fit an entry.
uint32_t entry_dimension(uint32_t v) { return v <= 0xFFFF ? v : 0; }

ErrorCode hevc_config(const TsNalConfig& c, GrowArray<uint8_t>* out, uint32_t* width, uint32_t* height) {
  VT_TRY(hvcc_build(c.sets.items, c.sets.count, out));
  HevcSpsInfo sps{};
  for (uint32_t k = 0; k < c.sets.count; ++k) {
    const OwnedBlock& b = c.sets[k];
    if (hevc_nal_type(b.bytes) == kHevcNalSps && hevc_parse_sps(b.bytes, b.length, &sps) == ErrorCode::Ok) break;
  }
  *width = entry_dimension(sps.width);
  *height = entry_dimension(sps.height);
  return ErrorCode::Ok;
}

// An 'avcC' record for samples with 4-byte lengths: the sets in the order
// first met.
ErrorCode avc_config(const TsNalConfig& c, AvcConfigRecord* avc, uint32_t* width, uint32_t* height) {
  GrowArray<uint8_t> sps{}, pps{};
  uint32_t sps_count = 0, pps_count = 0;
  AvcSpsInfo info{};
  bool sized = false;
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t k = 0; k < c.sets.count && e == ErrorCode::Ok; ++k) {
    const OwnedBlock& b = c.sets[k];
    const bool is_sps = (c.keys[k] >> 8) == kH264NalSps;
    e = avc_append_parameter_set(is_sps ? &sps : &pps, b.bytes, b.length);
    ++(is_sps ? sps_count : pps_count);
    if (is_sps && !sized) sized = h264_parse_sps(b.bytes, b.length, &info) == ErrorCode::Ok;
  }
  // Without both kinds no picture decodes: the stream is left out.
  if (e == ErrorCode::Ok && (sps_count == 0 || pps_count == 0)) e = ErrorCode::BadArgument;
  const AvcParameterSets sets{sps.items, sps.count, sps_count, pps.items, pps.count, pps_count, 3};
  if (e == ErrorCode::Ok) e = avcc_build(avc, &sets);
  sps.release();
  pps.release();
  *width = sized ? entry_dimension(info.width) : 0;
  *height = sized ? entry_dimension(info.height) : 0;
  return e;
}

// H.264 of one configuration: the track's own entry record ('avc3' when
// some sample carries a set of its own), as every importer makes it.
ErrorCode avc_entry(ImportFile* file, TrackBoxes* track, const TsNalConfigs* configs, uint32_t used, uint32_t* width,
                    uint32_t* height) {
  VisualSampleEntry* entry = visual_entry(file, track, 0);
  if (entry == nullptr) return ErrorCode::Missing;
  entry->format = FourCC::of(configs->in_band ? "avc3" : "avc1");
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Avcc));
  entry = visual_entry(file, track, 0);
  if (entry == nullptr || entry->avcC == nullptr) return ErrorCode::Missing;
  VT_TRY(avc_config(configs->configs[used], entry->avcC, width, height));
  entry->width = static_cast<uint16_t>(*width);
  entry->height = static_cast<uint16_t>(*height);
  return ErrorCode::Ok;
}

// The same as an 'avcC' payload, as the record's own writer lays it out,
// for an entry written as bytes (several configurations).
ErrorCode avc_config_bytes(const TsNalConfig& c, GrowArray<uint8_t>* out, uint32_t* width, uint32_t* height) {
  AvcConfigRecord avc{};
  avcc_init(&avc);
  ErrorCode e = avc_config(c, &avc, width, height);
  BoxFile scratch{};
  ScopedMemoryStream memory(&scratch);
  if (e == ErrorCode::Ok) e = memory.open_writable();
  if (e == ErrorCode::Ok) e = avcc_write(&scratch, &avc);
  out->count = 0;
  const MemoryStream* written = memory.stream();
  if (e == ErrorCode::Ok) e = out->reserve(written->size > 0 ? written->size : 1);
  if (e == ErrorCode::Ok) {
    std::memcpy(out->items, written->data, written->size);
    out->count = written->size;
  }
  avcc_release(&avc);
  return e;
}

}  // namespace

ErrorCode ts_set_nal_entries(ImportFile* file, TrackBoxes* track, const TsNalConfigs* configs, const uint32_t* used,
                             uint32_t count, uint32_t* width, uint32_t* height) {
  for (uint32_t i = 0; i < count; ++i)
    if (used[i] >= configs->count) return ErrorCode::BadArgument;
  const bool avc = configs->codec == TsNalCodec::H264;
  if (avc && count == 1) return avc_entry(file, track, configs, used[0], width, height);
  Bytes entries;
  GrowArray<uint8_t> config_bytes{};
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < count && e == ErrorCode::Ok; ++i) {
    const TsNalConfig& c = configs->configs[used[i]];
    uint32_t w = 0, h = 0;
    e = avc ? avc_config_bytes(c, &config_bytes, &w, &h) : hevc_config(c, &config_bytes, &w, &h);
    if (e != ErrorCode::Ok) break;
    if (i == 0) {
      *width = w;
      *height = h;
    }
    // 'avc1' and 'hvc1' promise every parameter set is in the entry.
    const uint32_t entry = entries.open(avc ? (configs->in_band ? "avc3" : "avc1") : (configs->in_band ? "hev1" : "hvc1"));
    visual_fields(&entries, w, h);
    const uint32_t box = entries.open(avc ? "avcC" : "hvcC");
    entries.put(config_bytes.items, config_bytes.count);
    entries.close(box);
    entries.close(entry);
    e = entries.e;
  }
  if (e == ErrorCode::Ok) e = set_entries_from_bytes(file, track, entries.b.items, entries.b.count, count);
  config_bytes.release();
  entries.b.release();
  return e;
}

ErrorCode ts_set_vc1_entries(ImportFile* file, TrackBoxes* track, const OwnedBlock* const* blocks, uint32_t count,
                             const Vc1StreamFacts& facts, uint32_t* width, uint32_t* height) {
  Bytes entries;
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < count && e == ErrorCode::Ok; ++i) {
    const OwnedBlock& h = *blocks[i];
    Vc1Sequence sequence;
    DecoderConfigVc1 config{};
    if (h.length == 0 || vc1_parse_sequence(h.bytes, vc1_unit_end(h.bytes, h.length, 0), &sequence) != ErrorCode::Ok ||
        dvc1_from_headers(h.bytes, h.length, facts, &config) != ErrorCode::Ok) {
      e = ErrorCode::BadArgument;
      break;
    }
    if (i == 0) {
      *width = sequence.display ? sequence.display_width : sequence.coded_width;
      *height = sequence.display ? sequence.display_height : sequence.coded_height;
    }
    BoxFile scratch{};
    ScopedMemoryStream memory(&scratch);
    e = memory.open_writable();
    if (e == ErrorCode::Ok) e = dvc1_write(&scratch, &config);
    if (e == ErrorCode::Ok) {
      const uint32_t entry = entries.open("vc-1");
      visual_fields(&entries, sequence.coded_width, sequence.coded_height);
      const uint32_t box = entries.open("dvc1");
      entries.put(memory.stream()->data, static_cast<uint32_t>(memory.stream()->size));
      entries.close(box);
      entries.close(entry);
      e = entries.e;
    }
    dvc1_release(&config);
  }
  if (e == ErrorCode::Ok) e = set_entries_from_bytes(file, track, entries.b.items, entries.b.count, count);
  entries.b.release();
  return e;
}

}  // namespace vantorel
