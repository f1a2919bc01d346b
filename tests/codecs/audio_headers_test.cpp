#include <gtest/gtest.h>

#include <vector>

#include "codecs/aac.h"
#include "codecs/mpeg_audio.h"

namespace vantorel {
namespace {

TEST(AudioHeaders, AacConfigurationChannels) {
  struct Case {
    const char* name;
    std::vector<uint8_t> config;
    uint32_t channels;
  };
  const Case cases[] = {
      {"AAC LC 44.1 kHz stereo", {0x12, 0x10}, 2},
      {"AAC LC 48 kHz mono", {0x11, 0x88}, 1},
      {"5.1", {0x11, 0xB0}, 6},
      {"7.1 (configuration 7)", {0x11, 0xB8}, 8},
      {"configuration 0: left to a program element", {0x11, 0x80}, 0},
      {"escaped object type 32+", {0xF8, 0x28, 0x40}, 2},  // object 31, escape 1; index 4; channels 2
      {"explicit 24-bit rate", {0x17, 0x80, 0x5D, 0xC0, 0x10}, 2},  // 48000 Hz written out
      {"cut before the channels", {0x12}, 0},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(aac_config_channels(c.config.data(), static_cast<uint32_t>(c.config.size())), c.channels);
  }
  EXPECT_EQ(aac_config_channels(nullptr, 2), 0u);
}

TEST(AudioHeaders, MpegAudioFrameChannels) {
  struct Case {
    std::vector<uint8_t> frame;
    uint32_t channels;
  };
  const Case cases[] = {
      {{0xFF, 0xFB, 0x90, 0x00}, 2},  // layer 3, stereo
      {{0xFF, 0xFB, 0x90, 0xC0}, 1},  // single channel
      {{0xFF, 0xFD, 0x90, 0x40}, 2},  // layer 2, joint stereo
      {{0xFF, 0xF9, 0x90, 0xC0}, 0},  // reserved layer
      {{0xFE, 0xFB, 0x90, 0xC0}, 0},  // no sync word
      {{0xFF, 0xFB, 0x90}, 0},        // cut short
  };
  for (const Case& c : cases)
    EXPECT_EQ(mpeg_audio_frame_channels(c.frame.data(), static_cast<uint32_t>(c.frame.size())), c.channels);
}

}  // namespace
}  // namespace vantorel
