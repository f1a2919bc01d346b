// The configurations importers build from raw codec data, over golden bytes:
// 'vpcC' from a VP9 frame, 'dOps' from an OpusHead, 'dfLa' from a FLAC
// stream header, AudioSpecificConfig, 'av1C' and the 'esds' of a stream;
// and the frame durations read from the frames themselves.
#include <gtest/gtest.h>

#include <string>

#include "codecs/aac.h"
#include "codecs/av1.h"
#include "codecs/bit_writer.h"
#include "codecs/config_support.h"
#include "codecs/es_descriptor.h"
#include "codecs/flac.h"
#include "codecs/mpeg_audio.h"
#include "codecs/opus.h"
#include "codecs/vp9.h"

namespace vantorel {
namespace {

using namespace test;

struct Vp9Frame {
  uint32_t profile;
  bool key;
  uint32_t twelve_bit;  // profiles 2 and 3
  uint32_t colour_space;  // 7: sRGB
  uint32_t full_range;
  uint32_t subsampling_x, subsampling_y;  // profiles 1 and 3
};

Bytes vp9_frame(const Vp9Frame& f) {
  BitWriter w;
  w.bits(2, 2);  // frame_marker
  w.bit(f.profile & 1);
  w.bit(f.profile >> 1);
  if (f.profile == 3) w.bit(0);
  w.bit(0);              // show_existing_frame
  w.bit(f.key ? 0 : 1);  // frame_type
  w.bit(1);              // show_frame
  w.bit(0);              // error_resilient_mode
  if (f.key) {
    w.bits(0x498342, 24);
    if (f.profile >= 2) w.bit(f.twelve_bit);
    w.bits(f.colour_space, 3);
    if (f.colour_space != 7) {
      w.bit(f.full_range);
      if (f.profile == 1 || f.profile == 3) {
        w.bit(f.subsampling_x);
        w.bit(f.subsampling_y);
        w.bit(0);
      }
    } else if (f.profile == 1 || f.profile == 3) {
      w.bit(0);
    }
  }
  w.bits(0x55, 8);
  return w.padded();
}

TEST(Vp9, ConfigurationFromTheFrameHeader) {
  struct Case {
    const char* name;
    Bytes frame;
    bool parses;
    const char* vpcc;
  };
  const Case cases[] = {
      {"profile 0, full range", vp9_frame({0, true, 0, 2, 1, 0, 0}), true, "01000000 00 00 83 000000 0000"},
      {"profile 1, 4:2:2", vp9_frame({1, true, 0, 2, 0, 1, 0}), true, "01000000 01 00 84 000000 0000"},
      {"profile 2, 10 bits", vp9_frame({2, true, 0, 1, 0, 0, 0}), true, "01000000 02 00 a2 000000 0000"},
      // The reserved bit of profile 3 comes before show_existing_frame.
      {"profile 3, 12 bits, 4:4:4", vp9_frame({3, true, 1, 2, 1, 0, 0}), true, "01000000 03 00 c7 000000 0000"},
      {"profile 1, sRGB", vp9_frame({1, true, 0, 7, 0, 0, 0}), true, "01000000 01 00 87 000000 0000"},
      {"an inter frame gives the profile alone", vp9_frame({2, false, 1, 2, 1, 0, 0}), true,
       "01000000 02 00 82 000000 0000"},
      {"no frame marker", hex("0282"), false, ""},
      {"one byte", hex("82"), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VpcConfigRecord v;
    vpcc_init(&v);
    ASSERT_EQ(vp9_config_from_frame(c.frame.data(), static_cast<uint32_t>(c.frame.size()), &v), c.parses);
    if (c.parses) {
      EXPECT_EQ(write_config(&v, vpcc_write, vpcc_size), hex(c.vpcc));
    }
  }
  VpcConfigRecord vp8;
  vpcc_init(&vp8);
  vp8.colourPrimaries = 1;
  vp8.transferCharacteristics = 1;
  vp8.matrixCoefficients = 1;
  EXPECT_EQ(write_config(&vp8, vpcc_write, vpcc_size), hex("01000000 00 00 82 010101 0000"));
}

TEST(Opus, PacketDurationsAndTheDopsFromItsHead) {
  struct Packet {
    const char* name;
    Bytes toc;
    uint32_t samples;
  };
  const Packet packets[] = {
      {"SILK 10 ms, one frame", hex("00"), 480},    {"SILK 60 ms, two frames", hex("19"), 5760},
      {"hybrid 20 ms, two frames", hex("6a"), 1920}, {"CELT 2.5 ms, five frames", hex("83 05"), 600},
      {"frame count cut off", hex("fb"), 0},         {"empty", Bytes{}, 0},
  };
  for (const Packet& p : packets) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(opus_packet_samples(p.toc.data(), static_cast<uint32_t>(p.toc.size())), p.samples);
  }

  struct Head {
    const char* name;
    Bytes head;
    bool parses;
    const char* dops;
    uint32_t pre_skip;
  };
  const Bytes magic = cat({text("OpusHead"), u8(1)});
  const Head heads[] = {
      {"stereo, family 0", cat({magic, hex("02 3801 80bb0000 0000 00")}), true, "00 02 0138 0000bb80 0000 00", 312},
      {"5.1, family 1 with its mapping", cat({magic, hex("06 3801 80bb0000 00fe 01 04 02 000401020305")}), true,
       "00 06 0138 0000bb80 fe00 01 04 02 000401020305", 312},
      {"family 1 without its mapping", cat({magic, hex("06 3801 80bb0000 0000 01 04 02 0004")}), false, "", 0},
      {"not an OpusHead", cat({text("OpusTags"), hex("01 02 3801 80bb0000 0000 00")}), false, "", 0},
  };
  for (const Head& h : heads) {
    SCOPED_TRACE(h.name);
    OpusConfigRecord d;
    ASSERT_EQ(dops_from_opus_head(h.head.data(), static_cast<uint32_t>(h.head.size()), &d), h.parses);
    if (!h.parses) continue;
    EXPECT_EQ(d.PreSkip, h.pre_skip);
    const Bytes dops = write_config(&d, dops_write, dops_size);
    EXPECT_EQ(dops, hex(h.dops));
    EXPECT_EQ(dops_payload_channels(dops.data(), static_cast<uint32_t>(dops.size())), d.OutputChannelCount);
    EXPECT_EQ(dops_payload_pre_skip(dops.data(), static_cast<uint32_t>(dops.size())), h.pre_skip);
    EXPECT_EQ(dops_payload_pre_skip(dops.data(), 3), 0u);  // cut before it
  }
}

// A transport stream's Opus descriptor, from its channel configuration
// code on; the explicit form's fields are packed in as few bits as their
// ranges need.
TEST(Opus, TheDopsOfATransportStreamDescriptor) {
  struct Case {
    const char* name;
    Bytes body;
    ErrorCode result;
    const char* after_header;  // the 'dOps' after its version, channels, pre-skip, rate and gain
    uint32_t channels;
  };
  const Case cases[] = {
      {"stereo", hex("02"), ErrorCode::Ok, "00", 2},
      {"5.1", hex("06"), ErrorCode::Ok, "01 04 02 000401020305", 6},
      {"dual mono in one coupled stream", hex("00"), ErrorCode::Ok, "ff 01 01 0001", 2},
      {"dual mono in two streams", hex("80"), ErrorCode::Ok, "ff 02 00 0001", 2},
      {"three uncoupled streams", hex("83"), ErrorCode::Ok, "01 03 00 000102", 3},
      {"eight uncoupled streams", hex("88"), ErrorCode::Ok, "01 08 00 0001020304050607", 8},
      {"explicit mono, family 0", hex("81 01 00"), ErrorCode::Ok, "00", 1},
      // 0 in 1 bit, 1 in 1 bit, then 0 and 1 in 2 bits each.
      {"explicit two channels in a coupled stream", hex("81 02 ff 44"), ErrorCode::Ok, "ff 01 01 0001", 2},
      // 3 in 3 bits, 2 in 3 bits, then the mapping in 3 bits each.
      {"explicit 5.1", hex("81 06 01 68429d"), ErrorCode::Ok, "01 04 02 000401020305", 6},
      {"explicit 5.1 cut in its mapping", hex("81 06 01 6842"), ErrorCode::Malformed, "", 0},
      {"explicit without its fields", hex("81 06"), ErrorCode::Malformed, "", 0},
      {"explicit with no channels", hex("81 00 01"), ErrorCode::Malformed, "", 0},
      {"explicit family 0 with three channels", hex("81 03 00"), ErrorCode::Malformed, "", 0},
      {"explicit mapping past the decoded channels", hex("81 02 ff 10"), ErrorCode::Malformed, "", 0},
      {"explicit with more coupled streams than streams", hex("81 03 01 70"), ErrorCode::Malformed, "", 0},
      {"reserved code 9", hex("09"), ErrorCode::Unsupported, "", 0},
      {"reserved code 0x89", hex("89"), ErrorCode::Unsupported, "", 0},
      {"no code", Bytes{}, ErrorCode::Malformed, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpusConfigRecord d;
    ASSERT_EQ(dops_from_ts_descriptor(c.body.data(), static_cast<uint32_t>(c.body.size()), &d), c.result);
    if (c.result != ErrorCode::Ok) continue;
    EXPECT_EQ(write_config(&d, dops_write, dops_size), cat({u8(0), u8(static_cast<uint8_t>(c.channels)),
                                                            hex("0000 0000bb80 0000"), hex(c.after_header)}));
  }
}

TEST(Flac, FrameBlockSizesAndTheDfla) {
  struct Frame {
    const char* name;
    Bytes header;
    uint32_t samples;
  };
  const Frame frames[] = {
      {"192", hex("fff8 1000 00"), 192},
      {"576 times 2", hex("fff8 3000 00"), 1152},
      {"256 times 16", hex("fff8 c000 00"), 4096},
      {"an 8-bit size after the frame number", hex("fff8 6000 00 ff"), 256},
      {"a 16-bit size after a two-byte frame number", hex("fff8 7000 c280 1000"), 4097},
      {"the size cut off", hex("fff8 7000 c280 10"), 0},
      {"reserved code 0", hex("fff8 0000 00"), 0},
      {"no sync code", hex("fff0 1000 00"), 0},
  };
  for (const Frame& f : frames) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(flac_frame_samples(f.header.data(), static_cast<uint32_t>(f.header.size())), f.samples);
  }

  Bytes streaminfo(34, 0);
  streaminfo[12] = 0x0A;  // six channels
  const Bytes blocks = cat({hex("80 000022"), streaminfo});
  const Bytes header = cat({text("fLaC"), blocks});
  FlacConfigRecord d{};
  ASSERT_EQ(dfla_from_stream_header(header.data(), static_cast<uint32_t>(header.size()), &d), ErrorCode::Ok);
  const Bytes dfla = write_config(&d, dfla_write, dfla_size);
  EXPECT_EQ(dfla, cat({hex("00000000"), blocks}));
  EXPECT_EQ(dfla_payload_channels(dfla.data(), static_cast<uint32_t>(dfla.size())), 6u);
  dfla_release(&d);
  FlacConfigRecord bad{};
  EXPECT_EQ(dfla_from_stream_header(header.data(), static_cast<uint32_t>(header.size()) - 1, &bad), ErrorCode::Malformed);
  const Bytes no_marker = cat({text("fLaX"), blocks});
  EXPECT_EQ(dfla_from_stream_header(no_marker.data(), static_cast<uint32_t>(no_marker.size()), &bad),
            ErrorCode::Malformed);
  EXPECT_EQ(dfla_payload_channels(cat({hex("00000000 01 000022"), streaminfo}).data(), 42), 0u);  // not STREAMINFO
}

TEST(Aac, AudioSpecificConfigs) {
  struct Case {
    uint32_t object_type, rate, channels;
    bool built;
    const char* config;
  };
  const Case cases[] = {
      {2, 44100, 2, true, "1210"}, {1, 48000, 1, true, "0988"}, {2, 7350, 7, true, "1638"},
      {2, 44000, 2, false, ""},    {2, 48000, 8, false, ""},    {2, 48000, 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.object_type) + " " + std::to_string(c.rate) + " " + std::to_string(c.channels));
    uint8_t out[2] = {};
    ASSERT_EQ(aac_config_build(c.object_type, c.rate, c.channels, out), c.built);
    if (c.built) {
      EXPECT_EQ(Bytes(out, out + 2), hex(c.config));
    }
  }
  struct Frame {
    Bytes config;
    uint32_t samples, object_type;
  };
  const Frame frames[] = {
      {hex("1210"), 1024, 2}, {hex("1214"), 960, 2}, {hex("f82c"), 1024, 31}, {hex("12"), 1024, 2}, {Bytes{}, 1024, 0}};
  for (const Frame& f : frames) {
    const auto n = static_cast<uint32_t>(f.config.size());
    EXPECT_EQ(aac_config_frame_samples(f.config.data(), n), f.samples);
    EXPECT_EQ(aac_config_object_type(f.config.data(), n), f.object_type);
  }
  EXPECT_EQ(aac_rate_index(22050), 7u);
  EXPECT_EQ(aac_sample_rate(7), 22050u);
  EXPECT_EQ(aac_rate_index(22000), 13u);
  EXPECT_EQ(aac_sample_rate(13), 0u);
}

TEST(Av1, FixedFieldsOfTheConfiguration) {
  struct Case {
    const char* name;
    Bytes payload;
    bool valid;
    uint32_t profile, level, depth, x, y;
  };
  const Case cases[] = {
      {"main, 10 bits, 4:4:4 flags clear", hex("810c4000"), true, 0, 12, 10, 0, 0},
      {"professional, 12 bits, 4:2:0", hex("81486c00 0a0b"), true, 2, 8, 12, 1, 1},
      {"version 0", hex("010c4000"), false, 0, 0, 0, 0, 0},
      {"three bytes", hex("810c40"), false, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.payload.size());
    Av1ConfigInfo info;
    ASSERT_EQ(av1c_parse(c.payload.data(), n, &info), c.valid);
    EXPECT_EQ(av1c_payload_valid(c.payload.data(), n), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(info.seq_profile, c.profile);
    EXPECT_EQ(info.seq_level_idx_0, c.level);
    EXPECT_EQ(info.bit_depth, c.depth);
    EXPECT_EQ(info.chroma_subsampling_x, c.x);
    EXPECT_EQ(info.chroma_subsampling_y, c.y);
  }
}

TEST(MpegAudio, SamplesPerFrameFromAnyHeader) {
  struct Case {
    const char* name;
    Bytes header;
    uint32_t samples;
    bool splittable;  // a frame the stream is split at
    bool valid;       // what a stream may start with
  };
  const Case cases[] = {
      {"MPEG-1 layer III", hex("fffb9000"), 1152, true, true},
      {"MPEG-2 layer III", hex("fff38000"), 576, true, true},
      {"layer II", hex("fffda400"), 1152, true, true},
      {"layer I", hex("ffff1800"), 384, true, true},
      {"free format still says", hex("fffb0000"), 1152, false, true},
      {"bit rate index 15", hex("fffbf000"), 1152, false, false},
      {"reserved version still says", hex("ffeb9000"), 576, false, false},
      {"reserved rate", hex("fffb9c00"), 1152, false, false},
      {"reserved layer", hex("fff99000"), 0, false, false},
      {"three bytes", hex("fffb90"), 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.header.size());
    EXPECT_EQ(mpeg_audio_frame_samples(c.header.data(), n), c.samples);
    MpegAudioHeader h;
    EXPECT_EQ(mpeg_audio_parse_frame(c.header.data(), n, &h), c.splittable);
    EXPECT_EQ(mpeg_audio_header_valid(c.header.data(), n), c.valid);
  }
  EXPECT_TRUE(adts_sync_word(hex("fff1").data(), 2));
  EXPECT_TRUE(adts_sync_word(hex("fff9").data(), 2));   // MPEG-2 ID
  EXPECT_FALSE(adts_sync_word(hex("fffb").data(), 2));  // layer bits of MPEG audio
  EXPECT_FALSE(adts_sync_word(hex("ff").data(), 1));
}

TEST(EsDescriptor, StreamDescriptionsWrittenWhole) {
  struct Case {
    const char* name;
    uint8_t object_type, stream_type;
    Bytes info;
    const char* esds;
  };
  const Case cases[] = {
      {"AAC with its configuration", kObjectTypeMpeg4Audio, kStreamTypeAudio, hex("1190"),
       "00000000 03 19 0000 00 04 11 40 15 000000 00000000 00000000 05 02 1190 06 01 02"},
      {"MPEG-1 audio without one", kObjectTypeMpeg1Audio, kStreamTypeAudio, Bytes{},
       "00000000 03 15 0000 00 04 0d 6b 15 000000 00000000 00000000 06 01 02"},
      {"MPEG-4 Visual", kObjectTypeMpeg4Visual, kStreamTypeVisual, hex("000001b0 01"),
       "00000000 03 1c 0000 00 04 14 20 11 000000 00000000 00000000 05 05 000001b001 06 01 02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EsDescriptorRecord esds;
    esds_init(&esds);
    ASSERT_EQ(esds_set_stream(&esds, c.object_type, c.stream_type, c.info.data(), static_cast<uint32_t>(c.info.size())),
              ErrorCode::Ok);
    EXPECT_EQ(write_config(&esds, esds_write, esds_size), hex(c.esds));
    // A second description replaces the first.
    ASSERT_EQ(esds_set_stream(&esds, c.object_type, c.stream_type, nullptr, 0), ErrorCode::Ok);
    EXPECT_EQ(esds.decoder_info.length, 0u);
    esds_release(&esds);
  }
  EXPECT_TRUE(is_aac_object_type(0x67));
  EXPECT_FALSE(is_aac_object_type(0x69));
  EXPECT_TRUE(is_mpeg_audio_object_type(0x69));
  EXPECT_FALSE(is_mpeg_audio_object_type(0x40));
}

}  // namespace
}  // namespace vantorel
