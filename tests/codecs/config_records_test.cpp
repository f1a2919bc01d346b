#include <gtest/gtest.h>

#include <cstring>

#include "codecs/ac3.h"
#include "codecs/config_support.h"
#include "codecs/eac3.h"
#include "codecs/es_descriptor.h"
#include "codecs/h264.h"
#include "codecs/vc1.h"

namespace vantorel {
namespace {

using namespace test;

// ---- esds ---------------------------------------------------------------------------

struct EsdsCase {
  const char* name;
  Bytes payload;
  uint32_t out_flags;
  Bytes expect;   // written payload
  bool long_lengths_seen;
  uint8_t object_type;
  uint32_t info_length;
};

TEST(Esds, RoundTripsEachLengthFormAndOptionalField) {
  const Bytes four_byte = hex(
      "00000000 03 80808022 0001 00"
      " 04 80808014 40 15 001800 00010000 0000c000"
      " 05 80808002 1190"
      " 06 80808001 02");
  const Bytes one_byte = hex(
      "00000000 03 19 0001 00"
      " 04 11 40 15 001800 00010000 0000c000"
      " 05 02 1190"
      " 06 01 02");
  const Bytes optional = hex(
      "00000000 03 1f 0007 e3 0005 03 616263 0009"
      " 04 0f 20 11 000100 00000200 00000300"
      " 05 00"
      " 06 01 02");
  const Bytes optional_out = hex(
      "00000000 03 1d 0007 e3 0005 03 616263 0009"
      " 04 0d 20 11 000100 00000200 00000300"
      " 06 01 02");
  const EsdsCase cases[] = {
      {"4-byte lengths kept with the flag", four_byte, kFlagLongDescriptorLengths, four_byte, true, 0x40, 2},
      {"4-byte lengths shortened without it", four_byte, 0, one_byte, true, 0x40, 2},
      {"1-byte lengths", one_byte, 0, one_byte, false, 0x40, 2},
      {"1-byte lengths widened with the flag", one_byte, kFlagLongDescriptorLengths, four_byte, false, 0x40, 2},
      {"dependency, URL and OCR; an empty decoder info is dropped", optional, 0, optional_out, false, 0x20, 0},
  };
  for (const EsdsCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile in(in_file("esds", c.payload));
    EsDescriptorRecord r;
    esds_init(&r);
    ASSERT_EQ(read_config(in, &r, esds_read), ErrorCode::Ok);
    EXPECT_EQ((in->flags & kFlagLongDescriptorLengths) != 0, c.long_lengths_seen);
    EXPECT_EQ(r.objectTypeIndication, c.object_type);
    EXPECT_EQ(r.decoder_info.length, c.info_length);
    EXPECT_EQ(r.predefined, 2);
    EXPECT_EQ(r.useTimeStampsFlag, 1);
    EXPECT_EQ(write_config(&r, esds_write, esds_size, c.out_flags), c.expect);
    esds_release(&r);
  }
  MemoryFile in(in_file("esds", optional));
  EsDescriptorRecord r;
  esds_init(&r);
  ASSERT_EQ(read_config(in, &r, esds_read), ErrorCode::Ok);
  EXPECT_EQ(r.ES_ID, 7);
  EXPECT_EQ(r.streamPriority, 3);
  EXPECT_EQ(r.dependsOn_ES_ID, 5);
  EXPECT_STREQ(r.URLstring, "abc");
  EXPECT_EQ(r.OCR_ES_Id, 9);
  EXPECT_EQ(r.streamType, 4);
  EXPECT_EQ(r.upStream, 0);
  EXPECT_EQ(r.bufferSizeDB, 0x100u);
  EXPECT_EQ(r.maxBitrate, 0x200u);
  EXPECT_EQ(r.avgBitrate, 0x300u);
  esds_release(&r);
}

TEST(Esds, DecoderInfoOnlyInsideALongerDecoderConfig) {
  // Length 13: no decoder info, whatever the descriptor is followed by.
  const Bytes exact = hex("00000000 03 15 0001 00 04 0d 6b 15 000000 00000000 00000000 06 01 02");
  // Length 15 whose extra bytes are not a decoder info descriptor: skipped.
  const Bytes other = hex("00000000 03 17 0001 00 04 0f 6b 15 000000 00000000 00000000 07 00 06 01 02");
  for (const Bytes& payload : {exact, other}) {
    MemoryFile in(in_file("esds", payload));
    EsDescriptorRecord r;
    esds_init(&r);
    ASSERT_EQ(read_config(in, &r, esds_read), ErrorCode::Ok);
    EXPECT_EQ(r.decoder_info.length, 0u);
    EXPECT_EQ(r.decoder_info.bytes, nullptr);
    EXPECT_EQ(write_config(&r, esds_write, esds_size), exact);
    esds_release(&r);
  }
}

TEST(Esds, NewRecordIsTwentySevenBytes) {
  EsDescriptorRecord r;
  esds_init(&r);
  Bytes out = write_config(&r, esds_write, esds_size);
  EXPECT_EQ(out, hex("00000000 03 15 0000 00 04 0d 00 01 000000 00000000 00000000 06 01 02"));
  EXPECT_EQ(out.size(), 27u);

  // Setting decoder info grows every enclosing length; a count of 0 clears it.
  uint8_t* info = nullptr;
  ASSERT_EQ(esds_set_decoder_info(&r, 2, &info), ErrorCode::Ok);
  ASSERT_NE(info, nullptr);
  info[0] = 0x12;
  info[1] = 0x10;
  EXPECT_EQ(write_config(&r, esds_write, esds_size),
            hex("00000000 03 19 0000 00 04 11 00 01 000000 00000000 00000000 05 02 1210 06 01 02"));
  const uint8_t bytes[3] = {1, 2, 3};
  ASSERT_EQ(esds_copy_decoder_info(&r, bytes, 3), ErrorCode::Ok);
  EXPECT_EQ(Bytes(r.decoder_info.bytes, r.decoder_info.bytes + 3), hex("010203"));
  EXPECT_EQ(esds_copy_decoder_info(&r, nullptr, 3), ErrorCode::BadArgument);
  ASSERT_EQ(esds_set_decoder_info(&r, 0, &info), ErrorCode::Ok);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(write_config(&r, esds_write, esds_size).size(), 27u);
  esds_release(&r);
}

TEST(Esds, SlConfigForms) {
  // predefined 0 with durations and 16-bit start stamps.
  const Bytes full = hex(
      "00000000 03 30 0001 00 04 0d 40 15 000000 00000000 00000000"
      " 06 1c 00 81 000003e8 00000000 10 00 00 00 0000 000003e8 0028 0028 0001 0002");
  MemoryFile in(in_file("esds", full));
  EsDescriptorRecord r;
  esds_init(&r);
  ASSERT_EQ(read_config(in, &r, esds_read), ErrorCode::Ok);
  EXPECT_EQ(r.predefined, 0);
  EXPECT_EQ(r.useAccessUnitStartFlag, 1);
  EXPECT_EQ(r.durationFlag, 1);
  EXPECT_EQ(r.useTimeStampsFlag, 0);
  EXPECT_EQ(r.timeStampResolution, 1000u);
  EXPECT_EQ(r.timeStampLength, 16);
  EXPECT_EQ(r.timeScale, 1000u);
  EXPECT_EQ(r.accessUnitDuration, 40);
  EXPECT_EQ(r.startDecodingTimeStamp, 1u);
  EXPECT_EQ(r.startCompositionTimeStamp, 2u);
  // Only the MP4 form can be written.
  write_config(&r, esds_write, esds_size, 0, ErrorCode::Missing);
  esds_release(&r);

  // predefined 1: 32-bit time stamps of resolution 1000 follow.
  const Bytes one = hex("00000000 03 1d 0001 00 04 0d 40 15 000000 00000000 00000000 06 09 01 00000005 00000006");
  MemoryFile in1(in_file("esds", one));
  esds_init(&r);
  ASSERT_EQ(read_config(in1, &r, esds_read), ErrorCode::Ok);
  EXPECT_EQ(r.timeStampResolution, 1000u);
  EXPECT_EQ(r.timeStampLength, 32);
  EXPECT_EQ(r.startDecodingTimeStamp, 5u);
  EXPECT_EQ(r.startCompositionTimeStamp, 6u);
  esds_release(&r);
}

TEST(Esds, MalformedDescriptorsAreRejected) {
  struct Case {
    const char* name;
    Bytes payload;
  };
  const Case cases[] = {
      {"ES tag", hex("00000000 04 12 0001 00 04 0d 40 15 000000 00000000 00000000 06 01 02")},
      {"decoder config tag", hex("00000000 03 12 0001 00 05 0d 40 15 000000 00000000 00000000 06 01 02")},
      {"SL tag", hex("00000000 03 12 0001 00 04 0d 40 15 000000 00000000 00000000 07 01 02")},
      {"no SL descriptor", hex("00000000 03 12 0001 00 04 0d 40 15 000000 00000000 00000000")},
      {"decoder config shorter than 13", hex("00000000 03 12 0001 00 04 05 40 15 000000 00000000 00000000 06 01 02")},
      {"decoder config past the box", hex("00000000 03 12 0001 00 04 7f 40 15 000000 00000000 00000000 06 01 02")},
      {"decoder info past the box", hex("00000000 03 12 0001 00 04 11 40 15 000000 00000000 00000000 05 ff 0102 06 01 02")},
      {"decoder info of 2^28 - 1 bytes", hex("00000000 03 12 0001 00 04 11 40 15 000000 00000000 00000000 05 ffffff7f 06 01 02")},
      {"length runs past the box", hex("00000000 03 80 80")},
      {"URL past the box", hex("00000000 03 12 0001 40 ff 6162")},
      {"too short for version and flags", hex("0000")},
      {"SL stamps past the box", hex("00000000 03 16 0001 00 04 0d 40 15 000000 00000000 00000000 06 05 01 00000005")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile in(in_file("esds", c.payload));
    EsDescriptorRecord r;
    esds_init(&r);
    EXPECT_EQ(read_config(in, &r, esds_read), ErrorCode::Malformed);
    EXPECT_NE(in->detail.reason, nullptr);
    esds_release(&r);
  }
}

// ---- avcC ---------------------------------------------------------------------------

// From libx264 through ffmpeg: High profile, one SPS, one PPS, then
// chroma_format 1, 8-bit depths and no extensions (fd f8 f8 00).
const char* const kHighAvcc =
    "01 64 00 0a ff e1 0018 6764000aacd942c4ec0840000003004000000503c4896580"
    " 01 0006 68ebe3cb22c0 fdf8f800";

TEST(Avcc, KeepsAndWritesTheBytesAfterThePictureParameterSets) {
  const Bytes high = hex(kHighAvcc);
  const Bytes baseline = hex("01 42 c0 1e ff e1 0004 6742c01e 02 0002 68ce 0003 68ce3c");
  struct Case {
    const Bytes* payload;
    uint32_t sps, pps, trailing;
    uint8_t sps_count, pps_count, length_size;
  };
  const Case cases[] = {{&high, 26, 8, 4, 1, 1, 3}, {&baseline, 6, 9, 0, 1, 2, 3}};
  for (const Case& c : cases) {
    MemoryFile in(in_file("avcC", *c.payload));
    AvcConfigRecord r;
    avcc_init(&r);
    ASSERT_EQ(read_config(in, &r, avcc_read), ErrorCode::Ok);
    EXPECT_EQ(r.sps_length, c.sps);
    EXPECT_EQ(r.pps_length, c.pps);
    EXPECT_EQ(r.trailing.length, c.trailing);
    EXPECT_EQ(r.numOfSequenceParameterSets, c.sps_count);
    EXPECT_EQ(r.numOfPictureParameterSets, c.pps_count);
    EXPECT_EQ(r.lengthSizeMinusOne, c.length_size);
    EXPECT_EQ(write_config(&r, avcc_write, avcc_size), *c.payload);
    avcc_release(&r);
  }
}

TEST(Avcc, SettingParameterSetsDerivesTheHighProfileBytes) {
  const Bytes high = hex(kHighAvcc);
  AvcConfigRecord r;
  avcc_init(&r);
  r.AVCProfileIndication = 0x64;
  r.AVCLevelIndication = 0x0a;
  r.lengthSizeMinusOne = 3;
  r.numOfSequenceParameterSets = 1;
  r.numOfPictureParameterSets = 1;
  const Bytes sps = hex("0018 6764000aacd942c4ec0840000003004000000503c4896580");
  const Bytes pps = hex("0006 68ebe3cb22c0");
  ASSERT_EQ(avc_set_parameter_sets(&r, sps.data(), 26, pps.data(), 8), ErrorCode::Ok);
  EXPECT_EQ(write_config(&r, avcc_write, avcc_size), high);  // the record ffmpeg writes

  // Main profile: nothing follows the picture parameter sets.
  const Bytes main_sps = hex("0004 674d401e");
  ASSERT_EQ(avc_set_parameter_sets(&r, main_sps.data(), 6, pps.data(), 8), ErrorCode::Ok);
  EXPECT_EQ(r.trailing.length, 0u);
  EXPECT_EQ(avcc_size(nullptr, &r), 7u + 6 + 8);
  EXPECT_EQ(avc_set_parameter_sets(&r, nullptr, 4, pps.data(), 8), ErrorCode::BadArgument);
  avcc_release(&r);

  AvcConfigRecord fresh;
  avcc_init(&fresh);
  EXPECT_EQ(write_config(&fresh, avcc_write, avcc_size), hex("01 00 00 00 fc e0 00"));
  avcc_release(&fresh);
}

TEST(Avcc, ParameterSetsAreBoundedByTheBox) {
  const char* const cases[] = {
      "01 64 00 0a ff e1 0040 6764000a",          // SPS longer than the box
      "01 64 00 0a ff ff 0002 6764",              // 31 SPS announced, one present
      "01 64 00 0a ff e1 0002 6764",              // no PPS count
      "01 64 00 0a ff e0 05 0002 68ee",           // five PPS, one present
      "01 64 00 0a",                              // fixed fields cut
  };
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    MemoryFile in(in_file("avcC", hex(c)));
    AvcConfigRecord r;
    avcc_init(&r);
    EXPECT_EQ(read_config(in, &r, avcc_read), ErrorCode::Malformed);
    avcc_release(&r);
  }
}

// ---- dec3, dac3 -----------------------------------------------------------------------

TEST(Dec3, FiveSubstreamsAndTrailingBytesRoundTrip) {
  // data_rate 1000, num_ind_sub 4; substreams with and without dependent
  // substreams, reserved bits set, and two extension bytes after them.
  const Bytes payload = hex("1f44 200f00 61a403ab 2004a1 20041eff 200400 0110");
  MemoryFile in(in_file("dec3", payload));
  Dec3Record r{};
  ASSERT_EQ(read_config(in, &r, dec3_read), ErrorCode::Ok);
  EXPECT_EQ(r.data_rate, 1000);
  EXPECT_EQ(r.num_ind_sub, 4);
  EXPECT_EQ(r.substreams[0].bsid, 16);
  EXPECT_EQ(r.substreams[0].acmod, 7);
  EXPECT_EQ(r.substreams[0].lfeon, 1);
  EXPECT_EQ(r.substreams[1].fscod, 1);
  EXPECT_EQ(r.substreams[1].asvc, 1);
  EXPECT_EQ(r.substreams[1].bsmod, 2);
  EXPECT_EQ(r.substreams[1].num_dep_sub, 1);
  EXPECT_EQ(r.substreams[1].chan_loc, 0x1ab);
  EXPECT_EQ(r.substreams[3].num_dep_sub, 15);
  EXPECT_EQ(r.substreams[3].chan_loc, 0xff);
  EXPECT_EQ(r.trailing.length, 2u);
  EXPECT_EQ(write_config(&r, dec3_write, dec3_size), payload);

  Dec3Record copy{};
  ASSERT_EQ(dec3_copy(&copy, &r), ErrorCode::Ok);
  EXPECT_NE(copy.trailing.bytes, r.trailing.bytes);
  EXPECT_EQ(write_config(&copy, dec3_write, dec3_size), payload);
  dec3_release(&copy);
  dec3_release(&r);

  // Eight substreams announced, two present; a dependent substream cut short.
  for (const char* bad : {"1f47 200f00 200f00", "1f40 200f02", "1f"}) {
    SCOPED_TRACE(bad);
    MemoryFile b(in_file("dec3", hex(bad)));
    Dec3Record d{};
    EXPECT_EQ(read_config(b, &d, dec3_read), ErrorCode::Malformed);
    dec3_release(&d);
  }
}

TEST(Dac3, ThreeBytesOrTwoInShortFormEntries) {
  const Bytes payload = hex("101140");  // 48 kHz, bsid 8, 2/0, 192 kbit/s
  MemoryFile in(in_file("dac3", payload));
  Dac3Record r{};
  BoxHeader h;
  ASSERT_EQ(read_box_header(in.get(), &h), ErrorCode::Ok);
  ASSERT_EQ(dac3_read(in.get(), &h, &r, false), ErrorCode::Ok);
  EXPECT_EQ(r.fscod, 0);
  EXPECT_EQ(r.bsid, 8);
  EXPECT_EQ(r.acmod, 2);
  EXPECT_EQ(r.bit_rate_code, 10);
  auto write_long = [](MediaFile* f, const Dac3Record* d) { return dac3_write(f, d, false); };
  auto size_long = [](MediaFile* f, const Dac3Record* d) { return dac3_size(f, d, false); };
  auto write_short = [](MediaFile* f, const Dac3Record* d) { return dac3_write(f, d, true); };
  auto size_short = [](MediaFile* f, const Dac3Record* d) { return dac3_size(f, d, true); };
  EXPECT_EQ(write_config(&r, write_long, size_long), payload);
  EXPECT_EQ(write_config(&r, write_short, size_short), hex("01 08"));

  // The short form: its first byte is not read, bsid is the low 5 bits.
  MemoryFile s(in_file("dac3", hex("7f e9")));
  Dac3Record d{};
  ASSERT_EQ(read_box_header(s.get(), &h), ErrorCode::Ok);
  ASSERT_EQ(dac3_read(s.get(), &h, &d, true), ErrorCode::Ok);
  EXPECT_EQ(d.bsid, 9);
  EXPECT_EQ(write_config(&d, write_short, size_short), hex("01 09"));

  // The packed word builders hand over: bsid is mask 0x7C.
  Dac3Record p{};
  dac3_set_packed(&p, dac3_packed(&r));
  EXPECT_EQ(std::memcmp(&p, &r, sizeof p), 0);
  EXPECT_EQ(dac3_packed(&r) & 0x7C, uint32_t{8} << 2);

  MemoryFile shortbox(in_file("dac3", hex("1011")));
  ASSERT_EQ(read_box_header(shortbox.get(), &h), ErrorCode::Ok);
  EXPECT_EQ(dac3_read(shortbox.get(), &h, &d, false), ErrorCode::Malformed);
}

// ---- dvc1 ---------------------------------------------------------------------------

TEST(Dvc1, ProfilesRoundTripWithReservedBitsAsWritten) {
  struct Case {
    const char* name;
    Bytes payload;
    Bytes expect;
  };
  const Case cases[] = {
      // Main profile: STRUCT_C with bits 18 and 10 set and 16 and 0 clear
      // is written with 18 and 10 clear and 16 and 0 set; the reserved low
      // nibble of the level byte is written 0.
      {"main", hex("44 40040400 7f 123456 00abcdef 0000001e"), hex("44 40010001 70 123456 00abcdef 0000001e")},
      {"simple, already clean", hex("00 4e290a01 20 000100 00000200 00000019"),
       hex("00 4e290a01 20 000100 00000200 00000019")},
      {"simple, all reserved bits clear", hex("00 00000000 00 000000 00000000 00000000"),
       hex("00 00010001 00 000000 00000000 00000000")},
      // Advanced: reserved bits 11-6 and 0 of the word written 0, the
      // headers kept.
      {"advanced", hex("c6 bfeb 00000019 0000010f1122 33"), hex("c6 b02a 00000019 0000010f1122 33")},
      {"other profile", hex("81 aabbcc"), hex("80")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile in(in_file("dvc1", c.payload));
    DecoderConfigVc1 r{};
    ASSERT_EQ(read_config(in, &r, dvc1_read), ErrorCode::Ok);
    EXPECT_EQ(write_config(&r, dvc1_write, dvc1_size), c.expect);
    dvc1_release(&r);
  }
  DecoderConfigVc1 adv{};
  adv.profile = kVc1Advanced;
  write_config(&adv, dvc1_write, dvc1_size, 0, ErrorCode::Missing);  // no sequence header
  for (const char* bad : {"44 40040400 7f", "c6 bfeb 0000", ""}) {
    SCOPED_TRACE(bad);
    MemoryFile in(in_file("dvc1", hex(bad)));
    DecoderConfigVc1 r{};
    EXPECT_EQ(read_config(in, &r, dvc1_read), ErrorCode::Malformed);
    dvc1_release(&r);
  }
}

}  // namespace
}  // namespace vantorel
