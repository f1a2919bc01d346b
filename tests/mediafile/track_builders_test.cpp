// Adding tracks of every codec kind: the sample entries and configuration
// boxes as they are read back from the written file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/mdhd.h"
#include "boxes/prof.h"
#include "boxes/tkhd.h"
#include "boxes/usmt.h"
#include "mediafile/track_builders_support.h"
#include "mediafile/writer_support.h"
#include "sampletables/stsd.h"
#include "support/ffprobe.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

constexpr uint32_t k72 = 0x00480000;

Bytes with_length(const Bytes& set) { return cat({u16(static_cast<uint16_t>(set.size())), set}); }

// A Baseline sequence parameter set (NAL header included) whose VUI gives
// aspect_ratio_idc `aspect`.
Bytes baseline_sps(uint32_t aspect) {
  BitWriter b;
  b.ue(0);  // seq_parameter_set_id
  b.ue(0);  // log2_max_frame_num_minus4
  b.ue(2);  // pic_order_cnt_type
  b.ue(1);  // num_ref_frames
  b.put(0, 1);
  b.ue(9);      // 160 pixels
  b.ue(7);      // 128 pixels
  b.put(1, 1);  // frame_mbs_only
  b.put(1, 1);  // direct_8x8_inference
  b.put(0, 1);  // no cropping
  b.put(1, 1);  // vui
  b.put(1, 1);  // aspect ratio info
  b.put(aspect, 8);
  b.put(1, 1);
  return cat({Bytes{0x67, 66, 0xC0, 30}, b.finish()});
}

// A High-profile set that ends before the probe is through.
Bytes cut_high_sps() { return Bytes{0x67, 100, 0x00, 31, 0xAC}; }

Bytes pps_with_entropy(uint32_t entropy) {
  BitWriter b;
  b.ue(0);
  b.ue(0);
  b.put(entropy, 1);
  b.put(1, 1);
  return cat({Bytes{0x68}, b.finish()});
}

Bytes vos(uint8_t level) { return cat({u32(0x000001B0), u8(level)}); }
// A layer header: simple object, no identifier, the aspect info, then padding.
Bytes vol(uint8_t aspect) {
  BitWriter b;
  b.put(0, 1);
  b.put(1, 8);
  b.put(0, 1);
  b.put(aspect, 4);
  b.put(0x3FF, 10);
  return cat({u32(0x00000120), b.finish()});
}
Bytes user_data(const std::string& s) { return cat({u32(0x000001B2), text(s)}); }

std::string compressor(const VisualSampleEntry* e) {
  return std::string(reinterpret_cast<const char*>(e->compressorname) + 1, e->compressorname[0]);
}


TEST(AddTrack, Mpeg4VisualEntries) {
  TempDir dir;
  struct Case {
    const char* name;
    Bytes info;
    uint8_t object_type;
    uint32_t flags;
    uint32_t horizontal, vertical;
    uint8_t written_oti;
    Bytes written_info;
  };
  Bytes head = cat({vos(3), u32(0x000001B5), u8(0x09)});
  std::vector<Case> cases = {
      {"12:11", cat({head, vol(2)}), 0, 0, k72, static_cast<uint32_t>(uint64_t{k72} * 12 / 11), 0x20,
       cat({head, vol(2)})},
      {"10:11", cat({head, vol(3)}), 0, 0, static_cast<uint32_t>(uint64_t{k72} * 11 / 10), k72, 0x20,
       cat({head, vol(3)})},
      {"user data cut when asked", cat({head, vol(1), user_data("enc 1.0")}), 0, kFlagStripVisualUserData, k72, k72, 0x20,
       cat({head, vol(1)})},
      {"user data kept otherwise", cat({head, vol(1), user_data("enc 1.0")}), 0, 0, k72, k72, 0x20,
       cat({head, vol(1), user_data("enc 1.0")})},
      {"level lowered", cat({vos(3), vol(1)}), 0, kFlagLowerSimpleLevel, k72, k72, 0x20, cat({vos(1), vol(1)})},
      // MPEG-1 video in 'mp4v': its bytes are no MPEG-4 headers to read or trim.
      {"MPEG-1 video untouched", cat({vos(3), vol(2), user_data("x")}), 0x6A, kFlagStripVisualUserData | kFlagLowerSimpleLevel,
       k72, k72, 0x6A, cat({vos(3), vol(2), user_data("x")})},
      {"no decoder info", Bytes{}, 0, 0, k72, k72, 0x20, Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrackSpec track_spec = spec_of(kKindMpeg4Visual, 320, 240);
    track_spec.codec.mpeg4_visual.decoder_info = c.info.empty() ? nullptr : c.info.data();
    track_spec.codec.mpeg4_visual.decoder_info_size = static_cast<uint32_t>(c.info.size());
    track_spec.codec.mpeg4_visual.object_type = c.object_type;
    Built b = build(dir, c.name, track_spec, c.flags);
    ASSERT_NE(b.id, 0u);
    ReadBack r(b.path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    TrackBoxes* t = r.track(b.id);
    VisualSampleEntry* e = visual_entry(r.file(), t, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->format, "mp4v");
    EXPECT_EQ(e->width, 320);
    EXPECT_EQ(e->height, 240);
    EXPECT_EQ(track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->width, 320u << 16);
    EXPECT_EQ(e->horizresolution, c.horizontal);
    EXPECT_EQ(e->vertresolution, c.vertical);
    ASSERT_NE(e->esds, nullptr);
    EXPECT_EQ(e->esds->objectTypeIndication, c.written_oti);
    EXPECT_EQ(e->esds->streamType, 4);
    EXPECT_EQ(block(e->esds->decoder_info), c.written_info);
  }
}

TEST(AddTrack, FailingBuildersLeaveNoTrack) {
  TempDir dir;
  Bytes cut_layer = cat({vos(1), u32(0x00000120), u8(0)});
  Bytes bad_sps_block = cat({u16(10), Bytes{0x67, 66}});  // claims 10 bytes, holds 2
  DecoderConfigVc1 advanced{};
  advanced.profile = kVc1Advanced;
  struct Case {
    const char* name;
    std::function<void(TrackSpec&)> fill;
  };
  std::vector<Case> cases = {
      {"layer header cut short",
       [&](TrackSpec& s) {
         s.kind = kKindMpeg4Visual;
         s.codec.mpeg4_visual.decoder_info = cut_layer.data();
         s.codec.mpeg4_visual.decoder_info_size = static_cast<uint32_t>(cut_layer.size());
       }},
      {"Motion JPEG variant 3",
       [](TrackSpec& s) {
         s.kind = kKindMotionJpeg;
         s.codec.mjpeg.variant = 3;
       }},
      {"AMR variant 3",
       [](TrackSpec& s) {
         s.kind = kKindAmr;
         s.codec.amr.variant = 3;
       }},
      {"parameter set longer than its block",
       [&](TrackSpec& s) {
         s.kind = kKindAvc;
         s.codec.avc.sps_count = 1;
         s.codec.avc.sps = bad_sps_block.data();
         s.codec.avc.sps_size = static_cast<uint32_t>(bad_sps_block.size());
       }},
      {"VC-1 advanced without header",
       [&](TrackSpec& s) {
         s.kind = kKindVc1;
         s.codec.vc1.config = &advanced;
       }},
      {"VC-1 without configuration", [](TrackSpec& s) { s.kind = kKindVc1; }},
      {"E-AC-3 without configuration", [](TrackSpec& s) { s.kind = kKindEac3; }},
      {"unknown kind", [](TrackSpec& s) { s.kind = 13; }},
      {"negative media time",
       [](TrackSpec& s) {
         s.kind = kKindPcm;
         s.media_time = -5;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.path("fail.mp4");
    MediaFile* file = create_file(path);
    ASSERT_NE(file, nullptr);
    TrackSpec good = spec_of(kKindPcm, 44100, 2, 44100);
    uint32_t first = media_add_track(file, &good);
    ASSERT_EQ(first, 1u);
    TrackSpec track_spec = spec_of(0, 64, 48);
    c.fill(track_spec);
    EXPECT_EQ(media_add_track(file, &track_spec), 0u);
    EXPECT_EQ(track_count(file->root), 1u);
    // The id the failed track took is handed out again.
    EXPECT_EQ(media_add_track(file, &good), 2u);
    EXPECT_EQ(media_close(file), ErrorCode::Ok);
  }
}

TEST(AddTrack, AvcEntries) {
  TempDir dir;
  Bytes sps = with_length(baseline_sps(2));
  Bytes pps = with_length(pps_with_entropy(1));
  Bytes high_cut = with_length(cut_high_sps());
  Bytes trailing = {0xFD, 0xF8, 0xF8, 0x01, 0x00, 0x02, 0xAB, 0xCD};
  struct Case {
    const char* name;
    Bytes sps;
    uint8_t sps_count;
    Bytes trailing;
    uint32_t flags;
    uint32_t vertical;
    bool btrt;
    Bytes avcc_head;  // the first four bytes
  };
  std::vector<Case> cases = {
      {"12:11 with btrt", sps, 1, {}, 0, static_cast<uint32_t>(uint64_t{k72} * 12 / 11), true, {1, 66, 0xC0, 30}},
      {"trailing bytes kept",
       sps,
       1,
       trailing,
       0,
       static_cast<uint32_t>(uint64_t{k72} * 12 / 11),
       true,
       {1, 66, 0xC0, 30}},
      {"profiled: no btrt",
       sps,
       1,
       {},
       kFlagPsp,
       static_cast<uint32_t>(uint64_t{k72} * 12 / 11),
       false,
       {1, 66, 0xC0, 30}},
      {"probe cannot follow the set: square", high_cut, 1, {}, 0, k72, true, {1, 100, 0, 31}},
      {"no sequence parameter set", {}, 0, {}, 0, k72, true, {1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrackSpec track_spec = spec_of(kKindAvc, 160, 128);
    auto& a = track_spec.codec.avc;
    a.nal_length_minus_one = 3;
    a.sps_count = c.sps_count;
    a.sps = c.sps.empty() ? nullptr : c.sps.data();
    a.sps_size = static_cast<uint32_t>(c.sps.size());
    a.pps_count = 1;
    a.pps = pps.data();
    a.pps_size = static_cast<uint32_t>(pps.size());
    a.trailing = c.trailing.empty() ? nullptr : c.trailing.data();
    a.trailing_size = static_cast<uint32_t>(c.trailing.size());
    Built b = build(dir, c.name, track_spec, c.flags);
    ASSERT_NE(b.id, 0u);
    ReadBack r(b.path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    TrackBoxes* t = r.track(b.id);
    VisualSampleEntry* e = visual_entry(r.file(), t, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->format, "avc1");
    EXPECT_EQ(compressor(e), "AVC Coding");
    EXPECT_EQ(e->horizresolution, k72);
    EXPECT_EQ(e->vertresolution, c.vertical);
    EXPECT_EQ(e->btrt != nullptr, c.btrt);
    EXPECT_EQ(e->uuid, nullptr);
    ASSERT_NE(e->avcC, nullptr);
    const AvcConfigRecord* avc = e->avcC;
    EXPECT_EQ((Bytes{avc->configurationVersion, avc->AVCProfileIndication, avc->profile_compatibility,
                     avc->AVCLevelIndication}),
              c.avcc_head);
    EXPECT_EQ(avc->lengthSizeMinusOne, 3);
    EXPECT_EQ(avc->numOfSequenceParameterSets, c.sps_count);
    EXPECT_EQ(avc->numOfPictureParameterSets, 1);
    EXPECT_EQ(Bytes(avc->parameter_sets, avc->parameter_sets + avc->sps_length + avc->pps_length), cat({c.sps, pps}));
    if (!c.trailing.empty()) {
      EXPECT_EQ(block(avc->trailing), c.trailing);
    }
    if (c.flags & kFlagPsp) {
      auto* prof = movie_record<ProfRecord>(r.file()->root, BoxTypeId::Prof);
      ASSERT_NE(prof, nullptr);
      ASSERT_EQ(prof->video_profiles.count, 1u);
      const VideoProfile& p = prof->video_profiles[0];
      EXPECT_EQ(p.track_id, b.id);
      EXPECT_EQ(p.codec, "avc1");
      EXPECT_EQ(p.codec_word, (1u << 24) | (66u << 16) | (0xC0u << 8) | 30u);
      EXPECT_EQ(p.picture_size, (160u << 16) | 128u);
      EXPECT_EQ(p.pixel_aspect, (12u << 16) | 11u);
      EXPECT_EQ(p.profile_flags & kProfileBitratesFilled, kProfileBitratesFilled);
    }
  }
}

TEST(AddTrack, AvcExtensionBoxOnRequest) {
  TempDir dir;
  Bytes sps = with_length(baseline_sps(1));
  TrackSpec track_spec = spec_of(kKindAvc, 160, 128);
  track_spec.codec.avc.sps_count = 1;
  track_spec.codec.avc.sps = sps.data();
  track_spec.codec.avc.sps_size = static_cast<uint32_t>(sps.size());
  Built b = build(dir, "uuid", track_spec, kFlagAvcUuidExtension);
  ReadBack r(b.path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  VisualSampleEntry* e = visual_entry(r.file(), r.track(b.id), 0);
  ASSERT_NE(e, nullptr);
  EXPECT_NE(e->uuid, nullptr);
  MovieInfo info{};
  ASSERT_EQ(movie_info(r.file(), &info), ErrorCode::Ok);
  EXPECT_EQ(info.flags & kMovieHasAvcUuid, kMovieHasAvcUuid);
}

TEST(AddTrack, ProfiledMpeg4AudioAndVisual) {
  TempDir dir;
  const Bytes asc = {0x12, 0x10};  // AAC LC
  struct Case {
    const char* name;
    Bytes info;
    uint32_t codec_word;
  };
  std::vector<Case> cases = {{"AAC", asc, (2u << 8) | 15u}, {"no decoder info", {}, 15u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.path("psp.mp4");
    CreateOptions o;
    o.flags = kFlagPsp;
    MediaFile* file = create_file(path, o);
    ASSERT_NE(file, nullptr);
    TrackSpec audio = spec_of(kKindMpeg4Audio, 48000, 2, 48000);
    audio.codec.mpeg4_audio.audio_level = 15;
    audio.codec.mpeg4_audio.decoder_info = c.info.empty() ? nullptr : c.info.data();
    audio.codec.mpeg4_audio.decoder_info_size = static_cast<uint32_t>(c.info.size());
    uint32_t a = media_add_track(file, &audio);
    ASSERT_NE(a, 0u);
    Bytes visual_info = cat({vos(8), vol(2), user_data("strip me")});
    TrackSpec video = spec_of(kKindMpeg4Visual, 176, 144);
    video.codec.mpeg4_visual.decoder_info = visual_info.data();
    video.codec.mpeg4_visual.decoder_info_size = static_cast<uint32_t>(visual_info.size());
    uint32_t v = media_add_track(file, &video);
    ASSERT_NE(v, 0u);
    Bytes frame = pattern(100, 3);
    for (int i = 0; i < 4; ++i) {
      SampleWrite s = sample_of(frame, 1024);
      ASSERT_EQ(write_sample(file, a, &s), ErrorCode::Ok);
      s = sample_of(frame, 100);
      ASSERT_EQ(write_sample(file, v, &s), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);

    ReadBack r(path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    auto* prof = movie_record<ProfRecord>(r.file()->root, BoxTypeId::Prof);
    ASSERT_NE(prof, nullptr);
    ASSERT_EQ(prof->audio_profiles.count, 1u);
    const AudioProfile& ap = prof->audio_profiles[0];
    EXPECT_EQ(ap.track_id, a);
    EXPECT_EQ(ap.codec, "mp4a");
    EXPECT_EQ(ap.codec_word, c.codec_word);
    EXPECT_EQ(ap.sample_rate, 48000u);
    EXPECT_EQ(ap.channel_count, 2u);
    ASSERT_EQ(prof->video_profiles.count, 1u);
    const VideoProfile& vp = prof->video_profiles[0];
    EXPECT_EQ(vp.track_id, v);
    EXPECT_EQ(vp.codec_word, (1u << 8) | 8u);
    EXPECT_EQ(vp.pixel_aspect, (12u << 16) | 11u);
    // Four frames of 100 ms: 10 frames a second, constant.
    EXPECT_EQ(vp.average_frame_rate, 10u << 16);
    EXPECT_EQ(vp.maximum_frame_rate, 10u << 16);
    EXPECT_EQ(vp.profile_flags, static_cast<uint32_t>(kProfileBitratesFilled));
    // Profiled files strip user data from the visual headers.
    VisualSampleEntry* e = visual_entry(r.file(), r.track(v), 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(block(e->esds->decoder_info), cat({vos(8), vol(2)}));
    for (uint32_t id : {a, v}) {
      TrackBoxes* t = r.track(id);
      auto* elst = track_record<ElstRecord>(t, BoxTypeId::Elst);
      ASSERT_NE(elst, nullptr);
      ASSERT_EQ(elst->entries.count, 1u);
      EXPECT_EQ(elst->entries[0].media_time, 0);
      EXPECT_EQ(elst->entries[0].segment_duration, track_record<TkhdRecord>(t, BoxTypeId::Tkhd)->duration);
      EXPECT_GT(elst->entries[0].segment_duration, 0u);
      auto* mtdt = track_record<MtdtRecord>(t, BoxTypeId::Mtdt);
      ASSERT_NE(mtdt, nullptr);
      ASSERT_EQ(mtdt->entries.count, 1u);
      const MtdtEntry& m = mtdt->entries[0];
      EXPECT_EQ(m.entry_size, 18);
      EXPECT_EQ(m.type, 10u);
      EXPECT_STREQ(m.language, "und");
      EXPECT_EQ(Bytes(m.data, m.data + 8), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));
    }
  }
}

// The 'stsd' box of the file's only track, as written.
Bytes written_stsd(const std::string& path) {
  Bytes b = read_whole_file(path);
  const std::string tag = "stsd";
  auto at = std::search(b.begin(), b.end(), tag.begin(), tag.end());
  if (at == b.end() || at - b.begin() < 4) return {};
  size_t start = static_cast<size_t>(at - b.begin()) - 4;
  uint32_t size = load_u32be(&b[start]);
  if (size > b.size() - start) return {};
  return Bytes(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(start + size));
}

TEST(AddTrack, EntryBytesAsLaidOut) {
  TempDir dir;
  Bytes visual_fixed = cat({zeros(6), u16(1), u16(0), u16(0), u32(0), u32(0), u32(0), u16(176), u16(144),
                            u32(k72), u32(k72), u32(0), u16(1), zeros(32), u16(0x18), u16(0xFFFF)});
  // Two samples of 40 bytes, 1152 ticks each at 44100 Hz: a buffer of 40,
  // 640 bit/s at most, 80 * 44100 / 2304 * 8 = 12248 bit/s on average.
  Bytes esds = full_box("esds", 0, 0,
                        cat({u8(0x03), u8(21), u16(0), u8(0),                                //
                             u8(0x04), u8(13), u8(0x6B), u8(0x15), u24(40), u32(640), u32(12248),  //
                             u8(0x06), u8(1), u8(2)}));
  struct Case {
    const char* name;
    TrackSpec track_spec;
    Bytes entry;
  };
  TrackSpec h263 = spec_of(kKindH263, 176, 144);
  h263.codec.h263 = {0x12345678, 1, 45, 3};
  TrackSpec pcm = spec_of(kKindPcm, 48000, 1, 48000);
  TrackSpec mp3 = spec_of(kKindMpeg1Audio, 44100, 2, 44100);
  std::vector<Case> cases = {
      {"H.263", h263, box("s263", cat({visual_fixed, box("d263", cat({u32(0x12345678), u8(1), u8(45), u8(3)}))}))},
      {"PCM", pcm, box("twos", cat({zeros(6), u16(1), zeros(8), u16(1), u16(16), u16(0), u16(0), u32(48000u << 16)}))},
      {"MPEG-1 audio", mp3,
       box("mp4a", cat({zeros(6), u16(1), zeros(8), u16(2), u16(16), u16(0), u16(0), u32(44100u << 16), esds}))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrackSpec track_spec = c.track_spec;
    std::string path = dir.path("entry.mp4");
    MediaFile* file = create_file(path);
    ASSERT_NE(file, nullptr);
    uint32_t id = media_add_track(file, &track_spec);
    ASSERT_NE(id, 0u);
    Bytes data = pattern(40, 1);
    for (int i = 0; i < 2; ++i) {
      SampleWrite w = sample_of(data, track_spec.kind == kKindPcm ? 10 : 1152);
      ASSERT_EQ(write_sample(file, id, &w), ErrorCode::Ok);
    }
    ASSERT_EQ(media_close(file), ErrorCode::Ok);
    EXPECT_EQ(written_stsd(path), full_box("stsd", 0, 0, cat({u32(1), c.entry})));
  }
}

TEST(AddTrack, MotionJpegVariantsAndFields) {
  TempDir dir;
  struct Case {
    uint32_t variant;
    uint8_t interlaced, a, b;
    const char* format;
    const char* name;
    uint8_t count, ordering;
  };
  const Case cases[] = {
      {0, 0, 1, 1, "jpeg", "Motion JPEG", 1, 0},    {1, 1, 1, 1, "mjpa", "Motion JPEG A", 2, 1},
      {2, 1, 1, 0, "mjpb", "Motion JPEG B", 2, 14}, {0, 1, 0, 1, "jpeg", "Motion JPEG", 2, 9},
      {1, 1, 0, 0, "mjpa", "Motion JPEG A", 2, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.a) + std::to_string(c.b));
    TrackSpec track_spec = spec_of(kKindMotionJpeg, 640, 480);
    track_spec.codec.mjpeg = {c.variant, c.interlaced, c.a, c.b};
    Built b = build(dir, "mjpeg", track_spec);
    ASSERT_NE(b.id, 0u);
    ReadBack r(b.path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    VisualSampleEntry* e = visual_entry(r.file(), r.track(b.id), 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->format, c.format);
    EXPECT_EQ(compressor(e), c.name);
    ASSERT_NE(e->fiel, nullptr);
    EXPECT_EQ(e->fiel->field_count, c.count);
    EXPECT_EQ(e->fiel->field_ordering, c.ordering);
  }
}

TEST(AddTrack, IdLanguageHandlerNameAndReference) {
  TempDir dir;
  std::string path = dir.path("common.mp4");
  MediaFile* file = create_file(path);
  ASSERT_NE(file, nullptr);
  TrackSpec video = spec_of(kKindH263, 176, 144, 30000);
  video.track_id = 7;
  std::memcpy(video.language, "fra", 3);
  video.handler_name = "Camera";
  ASSERT_EQ(media_add_track(file, &video), 7u);
  EXPECT_EQ(media_add_track(file, &video), 0u);  // the id is taken
  const uint32_t refs[] = {7};
  TrackSpec hint = spec_of(kKindPcm, 8000, 1, 8000);
  hint.reference_type = 6;  // "sync"
  hint.reference_count = 1;
  hint.reference_ids = refs;
  ASSERT_EQ(media_add_track(file, &hint), 8u);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);

  ReadBack r(path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  TrackInfo info{};
  ASSERT_EQ(track_info(r.file(), 7, &info), ErrorCode::Ok);
  EXPECT_STREQ(info.language, "fra");
  EXPECT_STREQ(info.handler_name, "Camera");
  EXPECT_EQ(info.timescale, 30000u);
  ASSERT_EQ(track_info(r.file(), 8, &info), ErrorCode::Ok);
  EXPECT_STREQ(info.language, "und");
  EXPECT_STREQ(info.handler_name, "Sound Media Handler");
  EXPECT_NE(find_box(r.track(8), BoxTypeId::Tref), nullptr);
}

TEST(AddTrack, RefusedOutsideWritingModes) {
  EXPECT_EQ(media_add_track(nullptr, nullptr), 0u);
  TempDir dir;
  std::string path = dir.path("r.mp4");
  MediaFile* file = create_file(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(media_add_track(file, nullptr), 0u);
  ASSERT_EQ(media_close(file), ErrorCode::Ok);
  ReadBack r(path);
  ASSERT_EQ(r.result(), ErrorCode::Ok);
  TrackSpec track_spec = spec_of(kKindPcm, 8000, 1, 8000);
  EXPECT_EQ(media_add_track(r.file(), &track_spec), 0u);
}

}  // namespace
}  // namespace vantorel
