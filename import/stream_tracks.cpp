#include "import/stream_tracks.h"

#include <cstdlib>
#include <cstring>

#include "boxes/hdlr.h"
#include "boxes/tkhd.h"
#include "codecs/es_descriptor.h"
#include "io/byte_io.h"
#include "io/file_io.h"
#include "sampletables/stsd.h"

namespace vantorel {

ErrorCode fill_stream_entry(ImportFile* file, TrackBoxes* track, const StreamEntry* stream) {
  if (file == nullptr || track == nullptr || stream == nullptr) return ErrorCode::BadArgument;
  auto* tkhd = track_record<TkhdRecord>(track, BoxTypeId::Tkhd);
  if (tkhd == nullptr) return ErrorCode::Missing;
  if (stream->kind == kHandlerSound) {
    SoundSampleEntry* entry = sound_entry(file, track, 0);
    if (entry == nullptr || stream->wave == nullptr) return ErrorCode::Missing;
    const WaveFormat& w = *stream->wave;
    entry->format = format_tag_fourcc(w.format_tag);
    entry->channel_count = w.channels;
    entry->sample_size = w.bits_per_sample;
    // The track summary takes an imported track's sample rate from here.
    entry->samples_per_packet = w.samples_per_sec;
  } else {
    VisualSampleEntry* entry = visual_entry(file, track, 0);
    if (entry == nullptr) return ErrorCode::Missing;
    entry->format = stream->format;
    entry->width = stream->width;
    entry->height = stream->height;
    entry->depth = stream->depth;
    tkhd->width = uint32_t{stream->width} << 16;
    tkhd->height = uint32_t{stream->height} << 16;
  }
  VT_TRY(entry_add_config(file, track, 0, ConfigBoxId::Esds));
  EsDescriptorRecord* esds = entry_esds(file, track, 0);
  if (esds == nullptr) return ErrorCode::Missing;
  const OwnedBlock* data = stream->codec_data;
  if (data != nullptr && data->length > 0) VT_TRY(esds_copy_decoder_info(esds, data->bytes, data->length));
  return ErrorCode::Ok;
}

ErrorCode set_entries_from_bytes(ImportFile* file, TrackBoxes* track, const uint8_t* entries, uint32_t size,
                                 uint32_t count) {
  auto* stsd = track_record<SampleDescriptionTable>(track, BoxTypeId::Stsd);
  if (stsd == nullptr) return ErrorCode::Missing;
  if (size > UINT32_MAX - 16) return ErrorCode::BadArgument;
  while (stsd->entry_count > 0) VT_TRY(stsd_remove_entry(file, track, stsd->entry_count - 1));
  // The 'stsd' box around them: size, type, version and flags, count.
  const uint32_t total = 16 + size;
  auto* box = static_cast<uint8_t*>(std::malloc(total));
  if (box == nullptr) return ErrorCode::OutOfMemory;
  store_u32be(box, total);
  std::memcpy(box + 4, "stsd", 4);
  store_u32be(box + 8, 0);
  store_u32be(box + 12, count);
  if (size > 0) std::memcpy(box + 16, entries, size);
  BoxHeader h;
  make_box_header(&h, FourCC::of("stsd"), nullptr, 0, total, total);
  ScopedMemoryStream view(file);
  ErrorCode e = view.open_view(box, total);
  if (e == ErrorCode::Ok) e = file_seek(file, 8);
  if (e == ErrorCode::Ok) e = stsd_read(file, &h, track);
  view.close();
  std::free(box);
  return e;
}

}  // namespace vantorel
