// What --info gathers and prints: JSON strings that stay valid whatever a
// file holds, both printers over one record, and the gathering over
// hand-made files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/file_info.h"
#include "app/json_writer.h"
#include "capture.h"
#include "mediafile/hand_made.h"
#include "mediafile/media_file.h"
#include "mediafile/mediafile.h"
#include "meta/tag_record.h"
#include "remux/remux.h"
#include "support/asf_builder.h"
#include "support/json.h"

namespace vantorel::app {
namespace {

std::string json_of(const std::string& bytes) {
  test::Capture out;
  json_print_string(out.stream(), bytes.data(), bytes.size());
  return out.text();
}

TEST(FileInfo, JsonStringsAreEscapedAndStayValid) {
  struct Case {
    const char* name;
    std::string in;
    std::string printed;
    std::string parsed;  // what a JSON reader gets back
  };
  const Case cases[] = {
      {"plain", "Opening", "\"Opening\"", "Opening"},
      {"empty", "", "\"\"", ""},
      {"quote and backslash", "say \"hi\" \\o/", "\"say \\\"hi\\\" \\\\o/\"", "say \"hi\" \\o/"},
      {"control characters", std::string("a\nb\tc\x01\x1f", 7) + std::string(1, '\0') + "d\x7f",
       "\"a\\u000ab\\u0009c\\u0001\\u001f\\u0000d\\u007f\"",
       std::string("a\nb\tc\x01\x1f", 7) + std::string(1, '\0') + "d\x7f"},
      {"valid UTF-8 kept", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"",
       "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"stray bytes", "a\xFF" "b\x80", "\"a\\ufffdb\\ufffd\"", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
      {"overlong encoding", "\xC0\x80", "\"\\ufffd\\ufffd\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong three-byte", "\xE0\x80\xAF", "\"\\ufffd\\ufffd\\ufffd\"",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"sequence cut by the end", "x\xE2\x82", "\"x\\ufffd\\ufffd\"", "x\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"lead byte before ASCII", "\xC3" "A", "\"\\ufffdA\"", "\xEF\xBF\xBD" "A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string printed = json_of(c.in);
    EXPECT_EQ(printed, c.printed);
    test::Json parsed;
    std::string error;
    ASSERT_TRUE(test::json_parse(printed, &parsed, &error)) << error;
    EXPECT_EQ(parsed.text, c.parsed);
  }
}

TEST(FileInfo, EveryByteValueGivesAValidString) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (int i = 255; i >= 0; --i) all.push_back(static_cast<char>(i));
  test::Json parsed;
  std::string error;
  EXPECT_TRUE(test::json_parse(json_of(all), &parsed, &error)) << error;
}

TEST(FileInfo, SecondsWithSixPlaces) {
  struct Case {
    uint64_t ticks;
    uint32_t scale;
    bool ok;
    const char* text;
  };
  const Case cases[] = {
      {0, 1000, true, "0.000000"},
      {4011, 1000, true, "4.011000"},
      {1, 3, true, "0.333333"},
      {2, 3, true, "0.666667"},  // rounded to the nearest microsecond, as ffprobe rounds
      {90000, 90000, true, "1.000000"},
      {UINT64_MAX, 1, true, "18446744073709551615.000000"},
      {UINT64_MAX, UINT32_MAX, true, "4294967297.000000"},
      {UINT64_MAX - 1, UINT32_MAX, true, "4294967297.000000"},  // .99999999977 rounds up into the whole seconds
      {5, 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    char text[32];
    EXPECT_EQ(format_seconds(c.ticks, c.scale, text), c.ok);
    EXPECT_STREQ(text, c.text);
  }
}

// A description made by hand, so both printers can be checked field by
// field, with texts no well-behaved file has.
struct HandDescription {
  FileDescription d{};
  FileBrands ftyp{};
  MediaFile file{};  // holds the tags, which the printers read through the library
  FourCC brands[2] = {FourCC::of("isom"), FourCC::of("mp41")};
  TagRecord tags[5]{};

  HandDescription() {
    d.path = "dir/\"odd\" name.mp4";
    d.open_mode = kOpenRead;
    d.flavour = kFlavourMp4;
    ftyp.major_brand = FourCC::of("M4V ");
    ftyp.minor_version = 512;
    ftyp.brand_count = 2;
    ftyp.compatible_brands = brands;
    d.ftyp = &ftyp;
    d.movie_timescale = 600;
    d.movie_duration = 2400;

    TrackDescription video{};
    video.track_id = 1;
    video.handler = FourCC::of("vide");
    video.has_picture = 1;
    video.fourcc = FourCC::of("avc1");
    video.codec = "H.264";
    video.entry_boxes[0] = FourCC::of("avcC");
    video.entry_boxes[1] = FourCC::of("pas\x01");  // a byte that does not print
    video.entry_box_count = 2;
    video.width = 320;
    video.height = 240;
    video.timescale = 12800;
    video.media_duration = 51200;
    video.played_duration = 2100;  // 3.5 s at the movie's scale
    video.counts_known = 1;
    video.sample_count = 100;
    video.avg_bitrate = 301234;
    video.max_bitrate = 512345;
    video.start_delay = 300;
    std::memcpy(video.language, "und", 4);
    video.verdict_known = 1;
    video.carried = 1;
    EXPECT_EQ(d.tracks.append(video), ErrorCode::Ok);

    TrackDescription audio{};
    audio.track_id = 2;
    audio.handler = FourCC::of("soun");
    audio.is_sound = 1;
    audio.fourcc = FourCC::from_u32(0x0161);
    audio.sample_rate = 44100;
    audio.sample_bits = 16;
    audio.channels = 2;
    audio.timescale = 1000;
    audio.media_duration = 57000;
    audio.played_duration = 34200;
    std::memcpy(audio.language, "eng", 4);
    audio.verdict_known = 1;
    audio.left_out_because = "a codec the remux does not carry";
    EXPECT_EQ(d.tracks.append(audio), ErrorCode::Ok);

    TrackDescription broken{};
    broken.track_id = 7;
    broken.failure = ErrorCode::Missing;
    EXPECT_EQ(d.tracks.append(broken), ErrorCode::Ok);

    ChapterMark first{};
    std::strcpy(first.title, "Intro \"one\"");
    ChapterMark second{};
    std::strcpy(second.title, "Bad \xFF byte\x1b[2J");
    second.start_time = 25000000;  // 2.5 s in 100 ns units
    EXPECT_EQ(d.chapters.append(first), ErrorCode::Ok);
    EXPECT_EQ(d.chapters.append(second), ErrorCode::Ok);

    add_tag(&tags[0], "title", 0, {"Line one\nline two"});
    add_tag(&tags[1], "cover", kTagRaw, {std::string(1234, '\xFF')});
    tags[1].item = FourCC::of("covr");  // untyped: told by its first bytes
    add_tag(&tags[2], "comment", 0, {"a", "b\\c"});
    // As the 'ilst' reader leaves them: a track number, a keyed tag.
    add_tag(&tags[3], "track", kTagRaw, {std::string("\0\0\0\x03\0\x0C\0\0", 8)});
    tags[3].item = FourCC::of("trkn");
    add_tag(&tags[4], "make", 0, {"Acme"});
    tags[4].key_space = FourCC::of("mdta");
    tags[4].key = strdup("com.apple.quicktime.make");
    for (const TagRecord& t : tags) EXPECT_EQ(file.meta.tags.append(t), ErrorCode::Ok);
    d.file = &file;
  }
  ~HandDescription() {
    file.meta.tags.release();
    for (TagRecord& t : tags) tag_record_release(&t);
    d.tracks.release();
    d.chapters.release();
  }
  // Values as the readers store them: text with its terminator.
  static void add_tag(TagRecord* tag, const char* name, uint32_t flags, std::vector<std::string> values) {
    std::strcpy(tag->name, name);
    tag->flags = flags;
    for (std::string v : values) {
      if ((flags & kTagRaw) == 0) v.push_back('\0');
      auto* copy = static_cast<uint8_t*>(std::malloc(v.size()));
      std::memcpy(copy, v.data(), v.size());
      EXPECT_EQ(tag->values.append(copy), ErrorCode::Ok);
      EXPECT_EQ(tag->value_sizes.append(static_cast<uint32_t>(v.size())), ErrorCode::Ok);
    }
  }
};

TEST(FileInfo, JsonCarriesEveryFact) {
  HandDescription h;
  test::Capture out;
  print_description_json(out.stream(), &h.d);
  test::Json doc;
  std::string error;
  ASSERT_TRUE(test::json_parse(out.text(), &doc, &error)) << error << "\n" << out.text();
  EXPECT_EQ(doc["file"].text, "dir/\"odd\" name.mp4");
  EXPECT_EQ(doc["flavour"].text, "mp4");
  EXPECT_FALSE(doc["headers_only"].boolean);
  EXPECT_EQ(doc["major_brand"].text, "M4V ");
  EXPECT_EQ(doc["minor_version"].u64(), 512u);
  ASSERT_EQ(doc["compatible_brands"].items.size(), 2u);
  EXPECT_EQ(doc["compatible_brands"].items[1].text, "mp41");
  EXPECT_EQ(doc["movie"]["time_scale"].u64(), 600u);
  EXPECT_EQ(doc["movie"]["duration"].u64(), 2400u);
  EXPECT_EQ(doc["movie"]["duration_seconds"].text, "4.000000");

  const auto& tracks = doc["tracks"].items;
  ASSERT_EQ(tracks.size(), 3u);
  const test::Json& v = tracks[0];
  EXPECT_EQ(v["id"].u64(), 1u);
  EXPECT_EQ(v["handler"].text, "vide");
  EXPECT_EQ(v["format"].text, "avc1");
  EXPECT_EQ(v["codec"].text, "H.264");
  ASSERT_EQ(v["entry_boxes"].items.size(), 2u);
  EXPECT_EQ(v["entry_boxes"].items[0].text, "avcC");
  EXPECT_EQ(v["entry_boxes"].items[1].text, std::string("pas\x01"));
  EXPECT_EQ(v.get("format_tag"), nullptr);
  EXPECT_EQ(v["width"].u64(), 320u);
  EXPECT_EQ(v["height"].u64(), 240u);
  EXPECT_EQ(v.get("sample_rate"), nullptr);
  EXPECT_EQ(v["time_scale"].u64(), 12800u);
  EXPECT_EQ(v["duration"].u64(), 51200u);
  EXPECT_EQ(v["duration_seconds"].text, "4.000000");
  EXPECT_EQ(v["played_duration"].u64(), 2100u);  // movie units
  EXPECT_EQ(v["played_duration_seconds"].text, "3.500000");
  EXPECT_EQ(v["sample_count"].u64(), 100u);
  EXPECT_EQ(v["average_bit_rate"].u64(), 301234u);
  EXPECT_EQ(v["maximum_bit_rate"].u64(), 512345u);
  EXPECT_EQ(v["start_delay"].u64(), 300u);
  EXPECT_EQ(v["start_delay_seconds"].text, "0.500000");  // movie units
  EXPECT_EQ(v["language"].text, "und");
  EXPECT_TRUE(v["carried"].boolean);
  EXPECT_EQ(v.get("left_out_because"), nullptr);

  const test::Json& a = tracks[1];
  EXPECT_EQ(a["format"].text, std::string("\0\0\x01\x61", 4));  // the code exactly as stored
  EXPECT_EQ(a["format_tag"].u64(), 0x161u);
  EXPECT_EQ(a.get("width"), nullptr);
  EXPECT_EQ(a["sample_rate"].u64(), 44100u);
  EXPECT_EQ(a["channels"].u64(), 2u);
  EXPECT_EQ(a["sample_bits"].u64(), 16u);
  // Not read: unknown, which is not zero.
  ASSERT_NE(a.get("sample_count"), nullptr);
  EXPECT_TRUE(a["sample_count"].is_null());
  EXPECT_TRUE(a["average_bit_rate"].is_null());
  EXPECT_TRUE(a["maximum_bit_rate"].is_null());
  EXPECT_EQ(a["carried"].type, test::Json::Bool);
  EXPECT_FALSE(a["carried"].boolean);
  EXPECT_EQ(a["left_out_because"].text, "a codec the remux does not carry");

  const test::Json& b = tracks[2];
  EXPECT_EQ(b["id"].u64(), 7u);
  EXPECT_TRUE(b["handler"].is_null());
  EXPECT_EQ(b["error"].text, error_name(ErrorCode::Missing));
  EXPECT_EQ(b.get("format"), nullptr);

  const auto& chapters = doc["chapters"].items;
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_EQ(chapters[0]["title"].text, "Intro \"one\"");
  EXPECT_EQ(chapters[1]["title"].text, "Bad \xEF\xBF\xBD byte\x1b[2J");
  EXPECT_EQ(chapters[1]["start"].u64(), 25000000u);
  EXPECT_EQ(chapters[1]["start_seconds"].text, "2.500000");

  const auto& tags = doc["tags"].items;
  ASSERT_EQ(tags.size(), 5u);
  EXPECT_EQ(tags[0]["name"].text, "title");
  ASSERT_EQ(tags[0]["values"].items.size(), 1u);
  EXPECT_EQ(tags[0]["values"].items[0].text, "Line one\nline two");  // without the terminator
  EXPECT_EQ(tags[1]["name"].text, "cover");
  ASSERT_EQ(tags[1]["values"].items.size(), 1u);
  EXPECT_EQ(tags[1]["values"].items[0]["raw_bytes"].u64(), 1234u);
  EXPECT_EQ(tags[1]["values"].items[0]["type"].text, "jpeg");
  EXPECT_EQ(tags[1]["item"].text, "covr");
  ASSERT_EQ(tags[2]["values"].items.size(), 2u);
  EXPECT_EQ(tags[2]["values"].items[1].text, "b\\c");
  ASSERT_EQ(tags[3]["values"].items.size(), 1u);
  EXPECT_EQ(tags[3]["values"].items[0]["text"].text, "3/12");
  EXPECT_EQ(tags[4]["key"].text, "com.apple.quicktime.make");
  EXPECT_EQ(tags[4]["values"].items[0].text, "Acme");
}

TEST(FileInfo, TextShowsTheSameFacts) {
  HandDescription h;
  test::Capture out;
  print_description_text(out.stream(), &h.d);
  std::string text = out.text();
  const char* expected[] = {
      "File: dir/\"odd\" name.mp4\n",
      "Format: MP4, major brand M4V  (minor version 512), compatible brands isom mp41\n",
      "Movie: time scale 600, duration 2400 (4.000000 s), 3 tracks\n",
      "Track 1: handler vide, format avc1 (H.264), entry boxes avcC pas\\x01, 320x240, time scale 12800, duration 51200 (4.000000 s), "
      "played 2100 (3.500000 s), 100 samples, "
      "301234 bit/s average, 512345 bit/s maximum, start delay 300 (0.500000 s), language und: carried\n",
      "Track 2: handler soun, format \\x00\\x00\\x01a (format tag 0x0161), 44100 Hz, 2 channels, 16 bits, time scale 1000, duration 57000 "
      "(57.000000 s), played 34200 (57.000000 s), sample count and bit rates unknown, start delay 0 (0.000000 s), language eng: left out, a codec "
      "the remux does not carry\n",
      "Track 7: handler none, cannot be described: ",
      "Chapters: 2\n  0.000000 s  Intro \"one\"\n  2.500000 s  Bad \xFF byte\\x1B[2J\n",
      "Tags: 5\n  title: Line one\\x0Aline two\n  cover: jpeg, 1234 bytes\n  comment: a | b\\c\n  track: 3/12\n"
      "  com.apple.quicktime.make: Acme\n",
  };
  for (const char* e : expected) EXPECT_NE(text.find(e), std::string::npos) << e << "\n---\n" << text;
  // No control character reaches the terminal but the line feeds.
  for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20);
}

ErrorCode describe_bytes(const test::Bytes& bytes, FileDescription* out) {
  MemoryPair pair{bytes.data(), static_cast<uint32_t>(bytes.size())};
  return describe_file(&pair, nullptr, &memory_routines(), nullptr, nullptr, out);
}

TEST(FileInfo, GathersTracksWithTheRemuxVerdict) {
  test::HandTrack video;
  video.sizes = {100, 200, 300, 400};
  video.stts = {{4, 250}};
  video.stss = {1, 3};
  test::HandTrack sound;
  sound.handler = "soun";
  sound.track_id = 2;
  sound.timescale = 48000;
  sound.sizes = {10, 10, 10};
  sound.stts = {{3, 1024}};
  test::HandTrack text;
  text.handler = "text";
  text.track_id = 3;
  text.sizes = {5};
  text.stts = {{1, 1000}};
  text.edits = {{300, -1}, {600, 0}};
  test::Bytes bytes = test::hand_made_file({video, sound, text});

  FileDescription d;
  ASSERT_EQ(describe_bytes(bytes, &d), ErrorCode::Ok);
  EXPECT_EQ(d.open_mode, kOpenRead);
  EXPECT_EQ(d.flavour, kFlavourMp4);
  ASSERT_NE(d.ftyp, nullptr);
  EXPECT_TRUE(d.ftyp->major_brand == "isom");
  EXPECT_EQ(d.movie_timescale, 600u);
  ASSERT_EQ(d.tracks.count, 3u);

  struct Expected {
    uint32_t id;
    const char* handler;
    const char* fourcc;
    uint32_t sample_count;
    uint64_t duration;
    uint32_t avg_bitrate;
    uint32_t max_bitrate;
    uint64_t start_delay;
  };
  const Expected expected[] = {
      {1, "vide", "mp4v", 4, 1000, 8000, 8000, 0},
      // 30 bytes over 3072 / 48000 s: 3750 bit/s, not rounded down to whole bytes.
      // The track lasts 64 ms: its maximum is its whole rate, not the 240 bits
      // that fall in one second, which put the maximum below the average.
      {2, "soun", "mp4a", 3, 3072, 30 * 8 * 48000 / 3072, 30 * 8 * 48000 / 3072, 0},
      // A timed text entry, known by its format.
      {3, "text", "tx3g", 1, 1000, 40, 40, 300},
  };
  for (uint32_t i = 0; i < 3; ++i) {
    const TrackDescription& t = d.tracks[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.id);
    EXPECT_EQ(t.failure, ErrorCode::Ok);
    EXPECT_EQ(t.track_id, e.id);
    EXPECT_TRUE(t.handler == e.handler);
    if (e.fourcc != nullptr) {
      EXPECT_TRUE(t.fourcc == e.fourcc);
    } else {
      EXPECT_TRUE(t.fourcc.is_zero());
    }
    EXPECT_EQ(t.counts_known, 1u);
    EXPECT_EQ(t.sample_count, e.sample_count);
    EXPECT_EQ(t.media_duration, e.duration);
    EXPECT_EQ(t.avg_bitrate, e.avg_bitrate);
    EXPECT_EQ(t.max_bitrate, e.max_bitrate);
    EXPECT_EQ(t.start_delay, e.start_delay);
    EXPECT_STREQ(t.language, "und");
    // The engine's own decision, word for word.
    uint32_t reason = 99;
    ASSERT_EQ(remux_track_verdict(d.file, e.id, &reason), ErrorCode::Ok);
    EXPECT_EQ(t.verdict_known, 1u);
    EXPECT_EQ(t.carried, reason == 0 ? 1u : 0u);
    if (reason != 0) {
      EXPECT_STREQ(t.left_out_because, drop_reason_text(reason));
    }
  }
  EXPECT_EQ(d.tracks[2].carried, 1u);  // text is carried with its entry as read
  file_description_release(&d);
  EXPECT_EQ(d.file, nullptr);
  EXPECT_EQ(d.tracks.count, 0u);
}

TEST(FileInfo, AsfHeadersAreDescribedInInspectMode) {
  FileDescription d;
  ASSERT_EQ(describe_bytes(test::asf_file(), &d), ErrorCode::Ok);
  EXPECT_EQ(d.open_mode, kOpenInspect);
  EXPECT_EQ(d.flavour, kFlavourAsf);
  EXPECT_EQ(d.ftyp, nullptr);
  ASSERT_EQ(d.tracks.count, 2u);
  const TrackDescription& audio = d.tracks[0];
  EXPECT_EQ(audio.track_id, 1u);
  EXPECT_TRUE(audio.handler == "soun");
  EXPECT_EQ(audio.sample_rate, 44100u);
  EXPECT_EQ(audio.channels, 2u);
  EXPECT_EQ(audio.media_duration, 57000u);
  const TrackDescription& video = d.tracks[1];
  EXPECT_TRUE(video.fourcc == "WMV2");
  EXPECT_EQ(video.width, 320u);
  EXPECT_EQ(video.height, 240u);
  for (const TrackDescription& t : d.tracks) {
    EXPECT_EQ(t.counts_known, 0u);
    EXPECT_EQ(t.carried, 0u);
    EXPECT_NE(t.left_out_because, nullptr);
  }
  file_description_release(&d);
}

TEST(FileInfo, UnreadableInputsFailWithTheirCode) {
  struct Case {
    const char* name;
    test::Bytes bytes;
    ErrorCode result;
  };
  const Case cases[] = {
      {"not a media file", test::text("just some text, not a movie at all"), ErrorCode::Unsupported},
      {"empty", {}, ErrorCode::Unsupported},
      {"ASF header object with a lying packet size", test::header_object(test::file_properties([] {
         test::FileProps p;
         p.min_packet = 1;
         return p;
       }())),
       ErrorCode::Unsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescription d;
    EXPECT_EQ(describe_bytes(c.bytes, &d), c.result);
    EXPECT_EQ(d.file, nullptr);
    EXPECT_EQ(d.tracks.items, nullptr);
  }
  FileDescription d;
  EXPECT_EQ(describe_file(nullptr, nullptr, &memory_routines(), nullptr, nullptr, &d), ErrorCode::BadArgument);
  EXPECT_EQ(describe_file("x", nullptr, &memory_routines(), nullptr, nullptr, nullptr), ErrorCode::BadArgument);
}

}  // namespace
}  // namespace vantorel::app
