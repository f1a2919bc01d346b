// Hand-made Matroska files: the three lacings, unknown and 8-byte sizes, a
// cluster that runs to the end of the file, elements larger than their
// parents, and files cut inside a cluster.
#include <gtest/gtest.h>

#include <cstdio>
#include <zlib.h>
#include <string>
#include <vector>

#include "import/matroska/matroska_builder.h"
#include "mediafile/media_file.h"
#include "mediafile/mediafile.h"
#include "meta/tags.h"
#include "support/compare.h"
#include "support/md5.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;
using namespace test::mkv;
std::string write(const TempDir& dir, const std::string& name, const Bytes& b) {
  std::string path = dir.path(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
  return path;
}

// The file at `path` opened through the C stream routines; null on failure.
MediaFile* open_file(const std::string& path, uint32_t mode) {
  OpenParams params{};
  params.routines = std_routines();
  params.path = path.c_str();
  MediaFile* file = nullptr;
  return media_open(&file, &params, mode) == ErrorCode::Ok ? file : nullptr;
}

struct Expect {
  std::vector<Bytes> frames;
};

void expect_frames(const std::string& path, const std::vector<Bytes>& frames) {
  std::vector<LibraryTrack> read;
  std::string error;
  ASSERT_TRUE(read_with_library(path, &read, &error)) << error;
  ASSERT_EQ(read.size(), 1u);
  ASSERT_EQ(read[0].packets.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(read[0].packets[i].size, frames[i].size()) << i;
    EXPECT_EQ(read[0].packets[i].md5, md5_hex(frames[i].data(), frames[i].size())) << i;
  }
}

TEST(MatroskaImport, EachLacingGivesItsFrames) {
  TempDir dir;
  const Bytes a = frame(300, 1), b = frame(2, 2), c = frame(7, 3);
  const Bytes e1 = frame(10, 4), e2 = frame(8, 5), e3 = frame(12, 6);
  const Bytes f1 = frame(4, 7), f2 = frame(4, 8), f3 = frame(4, 9);
  struct Case {
    const char* name;
    Bytes block;
    std::vector<Bytes> frames;
  };
  const Case cases[] = {
      {"no lacing", simple_block(0, 0x80, a), {a}},
      // Xiph: 300 is 255 + 45.
      {"Xiph", simple_block(0, 0x82, cat({{2, 255, 45, 2}, a, b, c})), {a, b, c}},
      // EBML: 10, then 8 as a difference of -2 (0xBD is 61, less the bias of 63).
      {"EBML", simple_block(0, 0x86, cat({{2, 0x8A, 0xBD}, e1, e2, e3})), {e1, e2, e3}},
      {"fixed", simple_block(0, 0x84, cat({{2}, f1, f2, f3})), {f1, f2, f3}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes file = cat({header(), el(0x18538067, cat({info(), tracks(), el(0x1F43B675, cat({uint_el(0xE7, 0), k.block}))}))});
    expect_frames(write(dir, "lace.mkv", file), k.frames);
  }
}

TEST(MatroskaImport, SizesUnknownLongOrRunningToTheEnd) {
  TempDir dir;
  const Bytes a = frame(20, 1), b = frame(30, 2), c = frame(40, 3);
  const Bytes blocks1 = cat({uint_el(0xE7, 0), simple_block(0, 0x80, a), simple_block(24, 0x80, b)});
  const Bytes blocks2 = cat({uint_el(0xE7, 48), simple_block(0, 0x80, c)});
  struct Case {
    const char* name;
    Bytes segment;
  };
  const Case cases[] = {
      {"unknown-size segment and clusters, each ended by the next",
       unknown(0x18538067, cat({info(), tracks(), unknown(0x1F43B675, blocks1), unknown(0x1F43B675, blocks2)}))},
      {"8-byte sizes", el(0x18538067, cat({info(), tracks(), el(0x1F43B675, blocks1, 8), el(0x1F43B675, blocks2, 8)}), 8)},
      {"a last cluster that never ends",
       el(0x18538067, cat({info(), tracks(), el(0x1F43B675, blocks1), unknown(0x1F43B675, blocks2)}))},
      {"a cluster ended by Cues", unknown(0x18538067, cat({info(), tracks(), unknown(0x1F43B675, blocks1),
                                                             el(0x1C53BB6B, {}), el(0x1F43B675, blocks2)}))},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    expect_frames(write(dir, "sizes.mkv", cat({header(), k.segment})), {a, b, c});
  }
}

TEST(MatroskaImport, MalformedElementsAreRefused) {
  TempDir dir;
  const Bytes a = frame(20, 1);
  Bytes block = simple_block(0, 0x80, a);
  Bytes too_large = block;
  too_large[1] = static_cast<uint8_t>(too_large[1] + 5);  // claims five bytes more than its cluster holds
  Bytes bad_lace = simple_block(0, 0x82, cat({{1, 200}, frame(10, 1)}));  // a first frame larger than the block
  Bytes uneven = simple_block(0, 0x84, cat({{2}, frame(10, 1)}));          // 10 bytes in three equal frames
  struct Case {
    const char* name;
    Bytes cluster;
  };
  const Case cases[] = {
      {"a block larger than its cluster", el(0x1F43B675, cat({uint_el(0xE7, 0), too_large, block}))},
      {"Xiph sizes past the block", el(0x1F43B675, cat({uint_el(0xE7, 0), bad_lace}))},
      {"fixed lacing that does not divide", el(0x1F43B675, cat({uint_el(0xE7, 0), uneven}))},
      {"an id of five bytes", el(0x1F43B675, cat({{0x08, 0x01, 0x02, 0x03, 0x04, 0x80}, block}))},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes file = cat({header(), el(0x18538067, cat({info(), tracks(), k.cluster}))});
    std::vector<LibraryTrack> read;
    std::string error;
    EXPECT_FALSE(read_with_library(write(dir, "bad.mkv", file), &read, &error));
    EXPECT_EQ(error, "open failed with 6");
  }
}

// A recording cut inside its last cluster: refused, naming --salvage; with
// --salvage every complete frame is carried.
TEST(MatroskaImport, ACutRecordingIsRefusedUnlessSalvaged) {
  TempDir dir;
  const Bytes a = frame(20, 1), b = frame(30, 2), c = frame(40, 3);
  Bytes whole = cat({header(), unknown(0x18538067, cat({info(), tracks(),
                                                          unknown(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, a),
                                                                                   simple_block(24, 0x80, b),
                                                                                   simple_block(48, 0x80, c)}))}))});
  for (size_t cut : {size_t{10}, size_t{38}, size_t{43}}) {  // inside the last frame, at its start, in its header
    SCOPED_TRACE(cut);
    Bytes file(whole.begin(), whole.end() - static_cast<long>(cut));
    std::string in = write(dir, "cut.mkv", file);
    std::remove(dir.path("out.mp4").c_str());  // the last cut's, which a new run does not replace
    RunResult refused = run_program(dir, {in, dir.path("out.mp4")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("truncated"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--salvage"), std::string::npos) << refused.err;
    RunResult salvaged = run_program(dir, {"--salvage", in, dir.path("out.mp4")});
    ASSERT_EQ(salvaged.status, 0) << salvaged.err;
    expect_frames(dir.path("out.mp4"), {a, b});
  }
  // A last block whose 8-byte size claims a gigabyte the file never got.
  {
    Bytes huge = {0xA3, 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x81, 0x00, 48, 0x80};
    Bytes part = frame(10, 3);
    huge.insert(huge.end(), part.begin(), part.end());
    Bytes file(whole.begin(), whole.end() - static_cast<long>(c.size() + 6));
    file.insert(file.end(), huge.begin(), huge.end());
    std::string in = write(dir, "huge.mkv", file);
    std::remove(dir.path("out.mp4").c_str());
    RunResult refused = run_program(dir, {in, dir.path("out.mp4")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("--salvage"), std::string::npos) << refused.err;
    RunResult salvaged = run_program(dir, {"--salvage", in, dir.path("out.mp4")});
    ASSERT_EQ(salvaged.status, 0) << salvaged.err;
    expect_frames(dir.path("out.mp4"), {a, b});
  }
  // Ending on an element boundary, the same unknown-size segment is whole.
  RunResult whole_run = run_program(dir, {write(dir, "whole.mkv", whole), dir.path("whole.mp4")});
  EXPECT_EQ(whole_run.status, 0) << whole_run.err;
  expect_frames(dir.path("whole.mp4"), {a, b, c});
}

// The old AAC ids name the profile: the AudioSpecificConfig is built from
// it, the rate and the channel count.
TEST(MatroskaImport, OldAacIdsBuildTheirConfiguration) {
  TempDir dir;
  struct Case {
    const char* id;
    Bytes rate;  // SamplingFrequency as a 4-byte float
    uint64_t channels;
    Bytes config;
  };
  const Case cases[] = {
      {"A_AAC/MPEG2/MAIN", {0x47, 0x3B, 0x80, 0x00}, 2, {0x09, 0x90}},    // 48000 Hz
      {"A_AAC/MPEG4/LC", {0x47, 0x2C, 0x44, 0x00}, 1, {0x12, 0x08}},      // 44100 Hz
      {"A_AAC/MPEG4/LC/SBR", {0x46, 0xBB, 0x80, 0x00}, 2, {0x13, 0x10}},  // 24000 Hz
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    Bytes audio = el(0xE1, cat({el(0xB5, c.rate), uint_el(0x9F, c.channels)}));
    Bytes tracks = el(0x1654AE6B, el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, 2), text_el(0x86, c.id), audio})));
    Bytes file = cat({header(), el(0x18538067, cat({info(), tracks,
                                                    el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, frame(9, 1)),
                                                                        simple_block(21, 0x80, frame(9, 2))}))}))});
    MediaFile* in = open_file(write(dir, "aac.mkv", file), kOpenRead);
    ASSERT_NE(in, nullptr);
    TrackInfo info;
    ASSERT_EQ(track_info(in, 1, &info), ErrorCode::Ok);
    EXPECT_EQ(std::string(info.fourcc.c, 4), "mp4a");
    EXPECT_EQ(info.object_type, 0x40u);
    EXPECT_EQ(Bytes(info.decoder_info, info.decoder_info + info.decoder_info_size), c.config);
    EXPECT_EQ(info.sample_count, 2u);
    media_close(in);
  }
}

// A picture attachment becomes the cover, the one named cover.* first; a
// picture too large to hold, and a font, are left out without costing the file.
TEST(MatroskaImport, CoverFromThePictureAttachments) {
  TempDir dir;
  auto attached = [](const std::string& name, const std::string& type, const Bytes& data) {
    return el(0x61A7, cat({text_el(0x466E, name), text_el(0x4660, type), el(0x465C, data)}));
  };
  const Bytes small = frame(300, 7), named = frame(200, 9), font = frame(50, 3);
  const Bytes huge((16u << 20) + 1, 0xD8);
  struct Case {
    const char* name;
    Bytes attachments;
    Bytes cover;  // empty: no cover
  };
  const Case cases[] = {
      {"the first picture", cat({attached("font.ttf", "font/ttf", font), attached("a.png", "image/png", small)}), small},
      {"cover.* over the first picture",
       cat({attached("a.png", "image/png", small), attached("cover.jpg", "image/jpeg", named)}), named},
      {"a picture too large", attached("cover.jpg", "image/jpeg", huge), {}},
      {"a font only", attached("font.ttf", "font/ttf", font), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> frames;
    Bytes file = cat({header(), el(0x18538067, cat({info(), tracks(), el(0x1941A469, c.attachments),
                                                    el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, frame(9, 1))}))}))});
    MediaFile* in = open_file(write(dir, "cover.mkv", file), kOpenRead);
    ASSERT_NE(in, nullptr);
    TagRecord* tag = nullptr;
    uint32_t index = 0;
    ErrorCode found = find_tag(in, "cover", kMovieTags, &tag, &index);
    if (c.cover.empty()) {
      EXPECT_EQ(found, ErrorCode::Missing);
    } else {
      ASSERT_EQ(found, ErrorCode::Ok);
      ASSERT_EQ(tag->values.count, 1u);
      EXPECT_EQ(Bytes(tag->values[0], tag->values[0] + tag_value_length(*tag, 0)), c.cover);
    }
    media_close(in);
  }
}


// One MP3 track whose entry ends with `extra` (ContentEncodings), and a
// cluster holding `stored` as its frames.
Bytes encoded_file(const Bytes& extra, const std::vector<Bytes>& stored, const char* codec = "A_MPEG/L3",
                   uint64_t type = 2) {
  Bytes audio = el(0xE1, cat({el(0xB5, {0x47, 0x3B, 0x80, 0x00}), uint_el(0x9F, 2)}));
  Bytes entry = el(0xAE, cat({uint_el(0xD7, 1), uint_el(0x83, type), text_el(0x86, codec), audio, extra}));
  Bytes cluster = uint_el(0xE7, 0);
  for (size_t i = 0; i < stored.size(); ++i)
    cluster = cat({cluster, simple_block(static_cast<int16_t>(500 * i + 100), 0x80, stored[i])});
  return cat({header(), el(0x18538067, cat({info(), el(0x1654AE6B, entry), el(0x1F43B675, cluster)}))});
}

Bytes deflated(const Bytes& plain) {
  uLongf n = compressBound(static_cast<uLong>(plain.size()));
  Bytes out(n);
  EXPECT_EQ(compress2(out.data(), &n, plain.data(), static_cast<uLong>(plain.size()), 9), Z_OK);
  out.resize(n);
  return out;
}

// ContentEncoding > ContentCompression with the algorithm and its settings;
// `more` is added to the ContentEncoding (type, scope, encryption).
Bytes compression(uint64_t algo, const Bytes& settings, const Bytes& more = {}) {
  Bytes comp = uint_el(0x4254, algo);
  if (!settings.empty()) comp = cat({comp, el(0x4255, settings)});
  return el(0x6D80, el(0x6240, cat({el(0x5034, comp), more})));
}

// Encoded frames come out as they were before the encoding: the stripped
// header put back, or the frame inflated; encodings not undone leave the
// track out with a note naming why.
TEST(MatroskaImport, ContentEncodingsUndoneOrNamed) {
  TempDir dir;
  const Bytes a = frame(40, 1), b = frame(300, 2), strip = {0xFF, 0xFB, 0x90};
  auto tail = [](const Bytes& f) { return Bytes(f.begin() + 3, f.end()); };
  Bytes with_a = cat({strip, tail(a)}), with_b = cat({strip, tail(b)});
  struct Case {
    const char* name;
    Bytes file;
    std::vector<Bytes> frames;  // what the MP4 holds; empty: left out
    const char* note;           // part of the note when left out
  };
  const Case cases[] = {
      {"header stripping", encoded_file(compression(3, strip), {tail(with_a), tail(with_b)}), {with_a, with_b}, ""},
      {"zlib", encoded_file(compression(0, {}), {deflated(a), deflated(b)}), {a, b}, ""},
      {"zlib, the default algorithm",
       encoded_file(el(0x6D80, el(0x6240, el(0x5034, Bytes{}))), {deflated(a)}), {a}, ""},
      {"encrypted", encoded_file(el(0x6D80, el(0x6240, cat({uint_el(0x5033, 1), el(0x5035, {})}))), {a}), {},
       "encrypted"},
      {"bzlib", encoded_file(compression(1, {}), {a}), {}, "neither zlib nor header stripping"},
      {"two encodings", encoded_file(el(0x6D80, cat({el(0x6240, el(0x5034, Bytes{})), el(0x6240, el(0x5034, Bytes{}))})),
                                     {a}),
       {}, "neither zlib nor header stripping"},
      {"a frame that does not inflate", encoded_file(compression(0, {}), {frame(30, 5)}), {}, "does not inflate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string in = write(dir, "encoded.mkv", c.file);
    if (!c.frames.empty()) {
      RunResult run = run_program(dir, {"--force", in, dir.path("encoded.mp4")});
      ASSERT_EQ(run.status, 0) << run.err;
      expect_frames(dir.path("encoded.mp4"), c.frames);
      continue;
    }
    MediaFile* file = open_file(in, kOpenInspect);
    ASSERT_NE(file, nullptr);
    MovieInfo movie;
    ASSERT_EQ(movie_info(file, &movie), ErrorCode::Ok);
    EXPECT_EQ(movie.track_count, 0u);
    const char* note = import_note(file, 0);
    ASSERT_NE(note, nullptr);
    EXPECT_NE(std::string(note).find(c.note), std::string::npos) << note;
    media_close(file);
  }
}

// SubRip cues become 'tx3g' samples without their styling, each after an
// empty sample covering the time since the last one; with zlib too.
TEST(MatroskaImport, SubRipCuesFillTheTimeline) {
  TempDir dir;
  const std::string one = "<i>Ça va</i>\r\n{\\an8}bien", two = "<font color=\"red\">x</font> < y";
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  auto sample = [](const std::string& s) {
    Bytes b = {static_cast<uint8_t>(s.size() >> 8), static_cast<uint8_t>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    return b;
  };
  // Cues at 100 and 600 ms, the first lasting until the second, the last 1 s.
  const std::vector<Bytes> expected = {sample(""), sample("Ça va\nbien"), sample("x < y")};
  const int64_t durations[] = {100, 500, 1000};
  const Bytes plain = encoded_file({}, {text(one), text(two)}, "S_TEXT/UTF8", 17);
  const Bytes zlib = encoded_file(compression(0, {}), {deflated(text(one)), deflated(text(two))}, "S_TEXT/UTF8", 17);
  for (const Bytes* file : {&plain, &zlib}) {
    std::string in = write(dir, "subtitles.mkv", *file);
    std::vector<LibraryTrack> read;
    std::string error;
    ASSERT_TRUE(read_with_library(in, &read, &error)) << error;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].fourcc, "tx3g");
    ASSERT_EQ(read[0].packets.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(read[0].packets[i].md5, md5_hex(expected[i].data(), expected[i].size()));
      EXPECT_EQ(read[0].packets[i].duration, durations[i]);
    }
  }
}

// Elements after the last cluster (Cues, Tags) cut short by the end of the
// file cost no frame: the recording is whole.
TEST(MatroskaImport, ACutAfterTheLastClusterIsWhole) {
  TempDir dir;
  const Bytes a = frame(20, 1), b = frame(30, 2);
  const Bytes cluster = el(0x1F43B675, cat({uint_el(0xE7, 0), simple_block(0, 0x80, a), simple_block(24, 0x80, b)}));
  const Bytes cues =
      el(0x1C53BB6B, el(0xBB, cat({uint_el(0xB3, 0), el(0xB7, cat({uint_el(0xF7, 1), uint_el(0xF1, 60)}))})));
  const Bytes tags =
      el(0x1254C367, el(0x7373, el(0x67C8, cat({text_el(0x45A3, "TITLE"), text_el(0x4487, "A long title")}))));
  for (const Bytes& after : {cues, tags}) {
    const Bytes whole = cat({header(), el(0x18538067, cat({info(), tracks(), cluster, after}))});
    for (size_t cut : {size_t{2}, after.size() - 3}) {
      SCOPED_TRACE(cut);
      Bytes cut_file(whole.begin(), whole.end() - static_cast<long>(cut));
      RunResult run = run_program(dir, {"--force", write(dir, "cut.mkv", cut_file), dir.path("cut.mp4")});
      ASSERT_EQ(run.status, 0) << run.err;
      expect_frames(dir.path("cut.mp4"), {a, b});
    }
  }
}


// The track's language for 'mdhd': LanguageBCP47 over Language, its two- or
// three-letter language taken, "und" for what 'mdhd' cannot say.
TEST(MatroskaImport, LanguageFromEitherElement) {
  TempDir dir;
  struct Case {
    Bytes elements;
    const char* language;
  };
  const Case cases[] = {
      {text_el(0x22B59C, "ger"), "ger"},
      {cat({text_el(0x22B59C, "eng"), text_el(0x22B59D, "fr-CA")}), "fre"},
      {text_el(0x22B59D, "pt-BR"), "por"},
      {text_el(0x22B59D, "yue-Hant"), "yue"},
      {text_el(0x22B59D, "x-klingon"), "und"},
      {text_el(0x22B59D, "zz"), "und"},
      {text_el(0x22B59C, "toolong"), "und"},
      {{}, "eng"},  // Matroska's default
  };
  for (const Case& c : cases) {
    std::string in = write(dir, "language.mkv", encoded_file(c.elements, {frame(20, 1)}));
    MediaFile* file = open_file(in, kOpenRead);
    ASSERT_NE(file, nullptr);
    TrackInfo info;
    ASSERT_EQ(track_info(file, 1, &info), ErrorCode::Ok);
    EXPECT_STREQ(info.language, c.language);
    media_close(file);
  }
}

}  // namespace
}  // namespace vantorel
