#pragma once
// AAC in LOAS/LATM (ISO/IEC 14496-3, 1.7), as broadcasts carry it: the LOAS
// sync layer's frames, the StreamMuxConfig's AudioSpecificConfig and the
// payload of each AudioMuxElement, which is one raw AAC frame. One program,
// one layer and one subframe per element, payload lengths given in bytes
// (frame length type 0): what broadcasters and encoders write.
#include <cstdint>

#include "io/error.h"

namespace vantorel {

constexpr uint32_t kLoasHeaderSize = 3;

// The length of the LOAS frame at `p` (its 3-byte header included); false
// without the sync word or with fewer than 3 bytes.
bool loas_frame_length(const uint8_t* p, uint32_t n, uint32_t* length);

// A stream's configuration as its last StreamMuxConfig gave it.
struct LatmConfig {
  bool known;
  uint32_t audio_mux_version;
  uint8_t asc[32];  // the AudioSpecificConfig, padded to whole bytes
  uint32_t asc_size;
  uint32_t sample_rate;    // Hz
  uint32_t channels;
  uint32_t frame_samples;  // 1024 or 960
};

// Reads one AudioMuxElement (with its config present, as LOAS carries it:
// `p` and `n` are the frame after its header). A StreamMuxConfig in it
// replaces `*config` and sets `*config_changed` when it differs; a payload
// before any config is Malformed. The payload goes to `out` (may be null:
// its size only) and its size to `*size`. Unsupported for the forms named
// above as not read; Malformed when the element is cut or its lengths run
// past it.
ErrorCode latm_read_element(const uint8_t* p, uint32_t n, LatmConfig* config, bool* config_changed, uint8_t* out,
                            uint32_t* size);

}  // namespace vantorel
