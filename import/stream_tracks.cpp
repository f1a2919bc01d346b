#include "import/stream_tracks.h"

#include "boxes/hdlr.h"
#include "boxes/tkhd.h"
#include "codecs/es_descriptor.h"
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

}  // namespace vantorel
