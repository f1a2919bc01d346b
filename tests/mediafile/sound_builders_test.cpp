// Adding sound and other non-visual tracks: their sample entries and
// configuration boxes as they are read back from the written file.
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

TEST(AddTrack, SoundAndGenericEntries) {
  TempDir dir;
  reset_size_mismatch_count();
  DecoderConfigVc1 simple{};
  simple.profile = kVc1Main;
  simple.level = 2;
  simple.sequence_header = 0x4A0BF2C1;
  simple.hrd_level = 3;
  simple.cbr = 1;
  simple.hrd_buffer = 0x123456;
  simple.hrd_rate = 0x789ABC;
  simple.frame_rate = 0xFFFFFFFF;
  DecoderConfigVc1 advanced{};
  advanced.profile = kVc1Advanced;
  advanced.level = 3;
  advanced.advanced_level = 4;
  advanced.advanced_cbr = 1;
  advanced.advanced_flags = 0x15;
  advanced.frame_rate = 25;
  const Bytes sequence = {0x00, 0x00, 0x01, 0x0F, 0xCA, 0xFE, 0x00, 0x00, 0x01, 0x0E, 0x42};
  Dec3Record dec3{};
  dec3.data_rate = 640;
  dec3.num_ind_sub = 1;
  dec3.substreams[0] = {1, 16, 0, 0, 2, 7, 1, 0, 1, 0x1FF};
  dec3.substreams[1] = {0, 16, 0, 1, 0, 2, 0, 0, 0, 0};
  const uint8_t dec3_tail[3] = {0x01, 0x02, 0x03};
  dec3.trailing.bytes = const_cast<uint8_t*>(dec3_tail);
  dec3.trailing.length = 3;
  const Bytes subpicture_info = {0x10, 0x20, 0x30};

  struct Case {
    const char* name;
    std::function<void(TrackSpec&)> fill;
    std::function<void(MediaFile*, TrackBoxes*)> check;
  };
  std::vector<Case> cases = {
      {"MPEG-1 audio", [](TrackSpec& s) { s = spec_of(kKindMpeg1Audio, 44100, 1, 44100); },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "mp4a");
         EXPECT_EQ(e->channel_count, 1);
         EXPECT_EQ(e->sample_rate, 44100u << 16);
         ASSERT_NE(e->esds, nullptr);
         EXPECT_EQ(e->esds->objectTypeIndication, 0x6B);
         EXPECT_EQ(e->esds->streamType, 5);
         EXPECT_EQ(e->esds->decoder_info.length, 0u);
       }},
      {"PCM", [](TrackSpec& s) { s = spec_of(kKindPcm, 48000, 6, 48000); },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "twos");
         EXPECT_EQ(e->channel_count, 6);
         EXPECT_EQ(e->esds, nullptr);
       }},
      // The 16.16 rate cannot hold 96 kHz: it stays 0, never a wrapped value.
      {"AAC at 96 kHz", [](TrackSpec& s) { s = spec_of(kKindMpeg4Audio, 96000, 2, 96000); },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->sample_rate, 0u);
         TrackInfo info{};
         ASSERT_EQ(track_info(f, track_id_of(t), &info), ErrorCode::Ok);
         EXPECT_EQ(info.sample_rate, 96000u);
         ASSERT_NE(e->esds, nullptr);
         EXPECT_EQ(e->esds->objectTypeIndication, 0x40);
       }},
      {"AMR narrow band",
       [](TrackSpec& s) {
         s = spec_of(kKindAmr, 8000, 1, 8000);
         s.codec.amr = {0, 0x56414E54, 1, 0x81FF, 2, 1};
       },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "samr");
         EXPECT_EQ(e->channel_count, 2);  // the entry's default
         ASSERT_NE(e->damr, nullptr);
         EXPECT_EQ(e->damr->vendor, 0x56414E54u);
         EXPECT_EQ(e->damr->decoder_version, 1);
         EXPECT_EQ(e->damr->mode_set, 0x81FF);
         EXPECT_EQ(e->damr->mode_change_period, 2);
         EXPECT_EQ(e->damr->frames_per_sample, 1);
       }},
      {"AMR wide band",
       [](TrackSpec& s) {
         s = spec_of(kKindAmr, 16000, 1, 16000);
         s.codec.amr.variant = 1;
       },
       [](MediaFile* f, TrackBoxes* t) {
         EXPECT_EQ(sound_entry(f, t, 0)->format, "sawb");
         EXPECT_NE(sound_entry(f, t, 0)->damr, nullptr);
       }},
      {"AMR-WB+",
       [](TrackSpec& s) {
         s = spec_of(kKindAmr, 16000, 1, 16000);
         s.codec.amr.variant = 2;
         s.codec.amr.vendor = 7;
         s.codec.amr.decoder_version = 3;
       },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "sawp");
         EXPECT_EQ(e->damr, nullptr);
         ASSERT_NE(e->dawp, nullptr);
         EXPECT_EQ(e->dawp->vendor, 7u);
         EXPECT_EQ(e->dawp->decoder_version, 3);
       }},
      {"AC-3",
       [](TrackSpec& s) {
         s = spec_of(kKindAc3, 48000, 6, 48000);
         s.codec.ac3.packed = 0x3FFFF;
       },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "ac-3");
         EXPECT_EQ(e->channel_count, 2);
         ASSERT_NE(e->dac3, nullptr);
         EXPECT_EQ(dac3_packed(e->dac3), 0x3FFFFu);
       }},
      {"AC-3 short form",
       [](TrackSpec& s) {
         s = spec_of(kKindAc3, 48000, 6, 48000);
         s.codec.ac3.variant = 1;
         s.codec.ac3.packed = 0x3FFFF;
       },
       [](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "sac3");
         EXPECT_EQ(e->channel_count, 6);
         ASSERT_NE(e->dac3, nullptr);
         EXPECT_EQ(dac3_packed(e->dac3), 0x7Cu);
       }},
      {"E-AC-3",
       [&](TrackSpec& s) {
         s = spec_of(kKindEac3, 48000, 6, 48000);
         s.codec.eac3.config = &dec3;
       },
       [&](MediaFile* f, TrackBoxes* t) {
         SoundSampleEntry* e = sound_entry(f, t, 0);
         EXPECT_EQ(e->format, "ec-3");
         ASSERT_NE(e->dec3, nullptr);
         EXPECT_EQ(e->dec3->data_rate, 640);
         EXPECT_EQ(e->dec3->num_ind_sub, 1);
         EXPECT_EQ(e->dec3->substreams[0].chan_loc, 0x1FF);
         EXPECT_EQ(e->dec3->substreams[0].acmod, 7);
         EXPECT_EQ(e->dec3->substreams[1].asvc, 1);
         EXPECT_EQ(block(e->dec3->trailing), (Bytes{1, 2, 3}));
       }},
      {"subpicture",
       [&](TrackSpec& s) {
         s = spec_of(kKindSubpicture, 720, 576, 90000);
         s.codec.subpicture.decoder_info = subpicture_info.data();
         s.codec.subpicture.decoder_info_size = 3;
       },
       [&](MediaFile* f, TrackBoxes* t) {
         EXPECT_EQ(handler_kind_of(t), kHandlerSubpicture);
         GenericSampleEntry* e = generic_entry(f, t, 0);
         EXPECT_EQ(e->format, "mp4s");
         ASSERT_NE(e->esds, nullptr);
         EXPECT_EQ(e->esds->objectTypeIndication, 0xE0);
         EXPECT_EQ(e->esds->streamType, 0x38);
         EXPECT_EQ(block(e->esds->decoder_info), subpicture_info);
         auto* tkhd = track_record<TkhdRecord>(t, BoxTypeId::Tkhd);
         EXPECT_EQ(tkhd->width, 720u << 16);
         EXPECT_EQ(tkhd->height, 576u << 16);
       }},
      {"Streaming Extension", [](TrackSpec& s) { s = spec_of(kKindStreamingExtension, 0, 0, 90000); },
       [](MediaFile* f, TrackBoxes* t) {
         EXPECT_EQ(handler_kind_of(t), kHandlerStreamingExtension);
         GenericSampleEntry* e = generic_entry(f, t, 0);
         ASSERT_NE(e->esds, nullptr);
         EXPECT_EQ(e->esds->objectTypeIndication, 0xE2);
         EXPECT_EQ(e->esds->streamType, 0x39);
         EXPECT_EQ(e->esds->decoder_info.length, 0u);
       }},
      {"H.263",
       [](TrackSpec& s) {
         s = spec_of(kKindH263, 176, 144);
         s.codec.h263 = {0x4D4F4B41, 2, 10, 0};
       },
       [](MediaFile* f, TrackBoxes* t) {
         VisualSampleEntry* e = visual_entry(f, t, 0);
         EXPECT_EQ(e->format, "s263");
         ASSERT_NE(e->d263, nullptr);
         EXPECT_EQ(e->d263->vendor, 0x4D4F4B41u);
         EXPECT_EQ(e->d263->decoder_version, 2);
         EXPECT_EQ(e->d263->H263_Level, 10);
         EXPECT_EQ(e->d263->H263_Profile, 0);
       }},
      {"VC-1 main",
       [&](TrackSpec& s) {
         s = spec_of(kKindVc1, 352, 288);
         s.codec.vc1.config = &simple;
       },
       [&](MediaFile* f, TrackBoxes* t) {
         VisualSampleEntry* e = visual_entry(f, t, 0);
         EXPECT_EQ(e->format, "vc-1");
         ASSERT_NE(e->dvc1, nullptr);
         EXPECT_EQ(e->dvc1->profile, kVc1Main);
         EXPECT_EQ(e->dvc1->level, 2);
         // The reserved bits of the sequence header word are fixed on writing.
         EXPECT_EQ(e->dvc1->sequence_header, (0x4A0BF2C1u & ~((1u << 18) | (1u << 10))) | (1u << 16) | 1u);
         EXPECT_EQ(e->dvc1->hrd_level, 3);
         EXPECT_EQ(e->dvc1->cbr, 1);
         EXPECT_EQ(e->dvc1->hrd_buffer, 0x123456u);
         EXPECT_EQ(e->dvc1->hrd_rate, 0x789ABCu);
         EXPECT_EQ(e->dvc1->frame_rate, 0xFFFFFFFFu);
       }},
      {"VC-1 advanced",
       [&](TrackSpec& s) {
         s = spec_of(kKindVc1, 1280, 720);
         s.codec.vc1.config = &advanced;
         s.codec.vc1.header = sequence.data();
         s.codec.vc1.header_size = static_cast<uint32_t>(sequence.size());
       },
       [&](MediaFile* f, TrackBoxes* t) {
         VisualSampleEntry* e = visual_entry(f, t, 0);
         ASSERT_NE(e->dvc1, nullptr);
         EXPECT_EQ(e->dvc1->profile, kVc1Advanced);
         EXPECT_EQ(e->dvc1->level, 3);
         EXPECT_EQ(e->dvc1->advanced_level, 4);
         EXPECT_EQ(e->dvc1->advanced_cbr, 1);
         EXPECT_EQ(e->dvc1->advanced_flags, 0x15);
         EXPECT_EQ(e->dvc1->frame_rate, 25u);
         EXPECT_EQ(block(e->dvc1->header_block), sequence);
         TrackInfo info{};
         ASSERT_EQ(track_info(f, track_id_of(t), &info), ErrorCode::Ok);
         EXPECT_EQ(Bytes(info.decoder_info, info.decoder_info + info.decoder_info_size), sequence);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrackSpec track_spec{};
    c.fill(track_spec);
    Built b = build(dir, c.name, track_spec);
    ASSERT_NE(b.id, 0u);
    ReadBack r(b.path);
    ASSERT_EQ(r.result(), ErrorCode::Ok);
    TrackBoxes* t = r.track(b.id);
    ASSERT_NE(t, nullptr);
    c.check(r.file(), t);
  }
  EXPECT_EQ(size_mismatch_count(), 0u);
}

}  // namespace
}  // namespace vantorel
