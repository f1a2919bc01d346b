// AudioMuxElements built bit by bit: the StreamMuxConfig's AudioSpecificConfig
// and each element's payload, an element that reuses the config, and the
// forms that are malformed or not read.
#include <gtest/gtest.h>

#include <functional>

#include "codecs/bit_writer.h"
#include "codecs/latm.h"

namespace vantorel {
namespace {

using test::BitWriter;
using test::Bytes;

// A StreamMuxConfig of version 0 with one program, layer and subframe (or
// `subframes`), the AAC LC config of 48 kHz and `channel_config`.
void mux_config(BitWriter* w, uint32_t channel_config, uint32_t subframes = 0) {
  w->bits(0, 1);  // useSameStreamMux
  w->bits(0, 1);  // audioMuxVersion
  w->bits(1, 1);  // allStreamsSameTimeFraming
  w->bits(subframes, 6);
  w->bits(0, 4);  // numProgram
  w->bits(0, 3);  // numLayer
  w->bits(2, 5);  // AAC LC
  w->bits(3, 4);  // 48 kHz
  w->bits(channel_config, 4);
  w->bits(0, 3);     // frameLengthFlag, dependsOnCoreCoder, extensionFlag
  w->bits(0, 3);     // frameLengthType
  w->bits(0xFF, 8);  // latmBufferFullness
  w->bits(0, 2);     // otherDataPresent, crcCheckPresent
}

void payload(BitWriter* w, const Bytes& bytes, uint32_t said_length) {
  w->bits(said_length, 8);
  for (uint8_t b : bytes) w->bits(b, 8);
}

TEST(Latm, ElementsGiveTheConfigAndTheirPayloads) {
  struct Case {
    const char* name;
    std::function<void(BitWriter*)> build;
    ErrorCode result;
    Bytes payload;
    bool changed;
  };
  const Bytes frame = {0xAA, 0xBB, 0xCC};
  // One stream, element after element.
  const Case cases[] = {
      {"a payload before any config", [&](BitWriter* w) { w->bits(1, 1); payload(w, frame, 3); },
       ErrorCode::Malformed, {}, false},
      {"config and payload", [&](BitWriter* w) { mux_config(w, 2); payload(w, frame, 3); }, ErrorCode::Ok, frame,
       false},
      {"the same config again", [&](BitWriter* w) { w->bits(1, 1); payload(w, {0x01, 0x02}, 2); }, ErrorCode::Ok,
       {0x01, 0x02}, false},
      {"a length past the element", [&](BitWriter* w) { w->bits(1, 1); payload(w, frame, 9); }, ErrorCode::Malformed,
       {}, false},
      {"several subframes", [&](BitWriter* w) { mux_config(w, 2, 1); payload(w, frame, 3); }, ErrorCode::Unsupported,
       {}, false},
      {"channels in a program config element", [&](BitWriter* w) { mux_config(w, 0); payload(w, frame, 3); },
       ErrorCode::Unsupported, {}, false},
      {"a changed config", [&](BitWriter* w) { mux_config(w, 1); payload(w, frame, 3); }, ErrorCode::Ok, frame, true},
  };
  LatmConfig config{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    c.build(&w);
    const Bytes element = w.padded();
    uint32_t size = 0;
    bool changed = false;
    ASSERT_EQ(latm_read_element(element.data(), static_cast<uint32_t>(element.size()), &config, &changed, nullptr,
                                &size),
              c.result);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(changed, c.changed);
    Bytes out(size);
    ASSERT_EQ(latm_read_element(element.data(), static_cast<uint32_t>(element.size()), &config, nullptr, out.data(),
                                &size),
              ErrorCode::Ok);
    EXPECT_EQ(out, c.payload);
  }
  // The last config: mono AAC LC at 48 kHz, its two bytes as an 'esds' holds them.
  EXPECT_EQ(Bytes(config.asc, config.asc + config.asc_size), (Bytes{0x11, 0x88}));
  EXPECT_EQ(config.sample_rate, 48000u);
  EXPECT_EQ(config.channels, 1u);
  EXPECT_EQ(config.frame_samples, 1024u);

  uint32_t length = 0;
  const uint8_t header[] = {0x56, 0xE1, 0x28};
  ASSERT_TRUE(loas_frame_length(header, 3, &length));
  EXPECT_EQ(length, 3u + 0x128);
  EXPECT_FALSE(loas_frame_length(header, 2, &length));
}

}  // namespace
}  // namespace vantorel
