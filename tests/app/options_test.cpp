// The command line turned into a record: good and bad lines, sizes and
// durations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/front_end.h"
#include "remux/remux.h"

namespace vantorel::app {
namespace {

struct Parsed {
  bool ok;
  CommandLine line;
  std::string error;
};

Parsed parse(const std::vector<const char*>& args) {
  std::vector<const char*> argv = {"vantorel"};
  argv.insert(argv.end(), args.begin(), args.end());
  Parsed p{};
  char error[kCommandErrorCapacity];
  std::memset(error, 'x', sizeof error);
  p.ok = parse_command_line(static_cast<int>(argv.size()), argv.data(), &p.line, error);
  p.error = error;
  return p;
}

std::string text_or_null(const char* s) { return s != nullptr ? s : "(null)"; }

TEST(Options, GoodCommandLines) {
  struct Case {
    std::vector<const char*> args;
    uint32_t action;
    const char* input;
    const char* output;
    uint32_t split_mode;
    uint64_t split_limit;
    uint32_t quiet, json;
  };
  const Case cases[] = {
      // Without options: two names remux, no argument at all shows the banner
      // (a wrong count of names is a mistake: see BadCommandLinesSayWhy).
      {{"in.avi", "out.mp4"}, kActionRemux, "in.avi", "out.mp4", kSplitNone, 0, 0, 0},
      {{}, kActionBanner, nullptr, nullptr, kSplitNone, 0, 0, 0},
      // Options before, between and after the names, in both spellings.
      {{"--split-size", "700M", "in", "out.mp4"}, kActionRemux, "in", "out.mp4", kSplitBySize, 700ull << 20, 0, 0},
      {{"in", "--split-size=1.5G", "out.mp4"}, kActionRemux, "in", "out.mp4", kSplitBySize, 1610612736ull, 0, 0},
      {{"in", "out.mp4", "--split-duration", "90"}, kActionRemux, "in", "out.mp4", kSplitByDuration, 90000, 0, 0},
      {{"--split-duration=0.25", "in", "out.mp4"}, kActionRemux, "in", "out.mp4", kSplitByDuration, 250, 0, 0},
      {{"--quiet", "in", "out.mp4"}, kActionRemux, "in", "out.mp4", kSplitNone, 0, 1, 0},
      // Any output name parses: whether it is a mistake depends on the file.
      {{"in", "out.mkv"}, kActionRemux, "in", "out.mkv", kSplitNone, 0, 0, 0},
      {{"-y", "in", "out.mkv"}, kActionRemux, "in", "out.mkv", kSplitNone, 0, 0, 0},
      // "--" ends the options: names may then begin with "-".
      {{"--", "-in.mp4", "--out.mp4"}, kActionRemux, "-in.mp4", "--out.mp4", kSplitNone, 0, 0, 0},
      {{"--quiet", "--", "--help", "-"}, kActionRemux, "--help", "-", kSplitNone, 0, 1, 0},
      // --help and --version win over everything that parses.
      {{"--help"}, kActionHelp, nullptr, nullptr, kSplitNone, 0, 0, 0},
      {{"-h", "a", "b", "c"}, kActionHelp, "a", "b", kSplitNone, 0, 0, 0},
      {{"--version", "--help"}, kActionVersion, nullptr, nullptr, kSplitNone, 0, 0, 0},
      {{"--json", "--help"}, kActionHelp, nullptr, nullptr, kSplitNone, 0, 0, 1},
      // --info takes one name.
      {{"--info", "movie.mov"}, kActionInfo, "movie.mov", nullptr, kSplitNone, 0, 0, 0},
      {{"movie.mov", "--json", "--info"}, kActionInfo, "movie.mov", nullptr, kSplitNone, 0, 0, 1},
      {{"--info", "--", "-movie.mov"}, kActionInfo, "-movie.mov", nullptr, kSplitNone, 0, 0, 0},
      {{"in.mov", "-"}, kActionRemux, "in.mov", "-", kSplitNone, 0, 0, 0},
      {{"--quiet", "in.mov", "--", "-"}, kActionRemux, "in.mov", "-", kSplitNone, 0, 1, 0},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const char* a : c.args) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    Parsed p = parse(c.args);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.line.action, c.action);
    EXPECT_EQ(text_or_null(p.line.input_path), text_or_null(c.input));
    EXPECT_EQ(text_or_null(p.line.output_path), text_or_null(c.output));
    EXPECT_EQ(p.line.split_mode, c.split_mode);
    EXPECT_EQ(p.line.split_limit, c.split_limit);
    EXPECT_EQ(p.line.quiet, c.quiet);
    EXPECT_EQ(p.line.json, c.json);
  }
}

// The program of a transport stream goes with a remux and with --info.
TEST(Options, ProgramNumbers) {
  struct Case {
    std::vector<const char*> args;
    uint32_t action;
    uint32_t program;
  };
  const Case cases[] = {
      {{"in.ts", "out.mp4"}, kActionRemux, 0},
      {{"--program", "2", "in.ts", "out.mp4"}, kActionRemux, 2},
      {{"in.ts", "out.mp4", "--program=65535"}, kActionRemux, 65535},
      {{"--info", "--program", "7", "in.ts"}, kActionInfo, 7},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.args);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.line.action, c.action);
    EXPECT_EQ(p.line.program_number, c.program);
  }
}

TEST(Options, BadCommandLinesSayWhy) {
  struct Case {
    std::vector<const char*> args;
    const char* in_message;
  };
  const Case cases[] = {
      {{"--frobnicate", "in", "out.mp4"}, "unknown option '--frobnicate'"},
      {{"-x", "in", "out.mp4"}, "unknown option '-x'"},
      // Most often a name that begins with '-': the message says how to give one.
      {{"-take1.webm", "out.mp4"}, "unknown option '-take1.webm' (a name that begins with '-' goes after '--', or "
                                   "as './-take1.webm')"},
      {{"--verify", "in", "/dev/stdout"}, "which standard output ('/dev/stdout') cannot be"},
      {{"--split-size", "1M", "in", "/proc/self/fd/1"}, "cannot go to standard output ('/proc/self/fd/1')"},
      // A lone "-" is standard output, and only as the output.
      {{"-", "out.mp4"}, "the input cannot be standard input ('-')"},
      {{"--info", "-"}, "the input cannot be standard input"},
      {{"--split-size", "1M", "in", "-"}, "cannot go to standard output ('-')"},
      {{"in", "-", "--split-duration=60"}, "cannot go to standard output"},
      {{"--split", "1M", "in", "out.mp4"}, "unknown option '--split'"},
      {{"--split-size=", "in", "out.mp4"}, "bad size ''"},
      {{"--split-size", "0", "in", "out.mp4"}, "bad size '0'"},
      {{"--split-size", "0.0001K", "in", "out.mp4"}, "bad size '0.0001K'"},
      {{"--split-size", "-5M", "in", "out.mp4"}, "bad size '-5M'"},
      {{"--split-size", "12X", "in", "out.mp4"}, "bad size '12X'"},
      {{"--split-size", "1MB", "in", "out.mp4"}, "bad size '1MB'"},
      {{"--split-size", "1e6", "in", "out.mp4"}, "bad size '1e6'"},
      {{"--split-size", "18446744073709551616", "in", "out.mp4"}, "bad size"},
      {{"--split-size", "17179869184G", "in", "out.mp4"}, "bad size"},
      {{"--split-duration", "0", "in", "out.mp4"}, "bad duration '0'"},
      {{"--split-duration", "0.0004", "in", "out.mp4"}, "bad duration"},
      {{"--split-duration", "-3", "in", "out.mp4"}, "bad duration '-3'"},
      {{"--split-duration", "ten", "in", "out.mp4"}, "bad duration 'ten'"},
      {{"--split-duration", "1:30", "in", "out.mp4"}, "bad duration '1:30'"},
      {{"--split-duration", "18446744073709552", "in", "out.mp4"}, "bad duration"},
      {{"in", "out.mp4", "--split-size"}, "--split-size needs a value"},
      {{"--split-size", "1M", "--split-duration", "10", "in", "out.mp4"}, "one split option"},
      {{"--split-size", "1M", "--split-size", "2M", "in", "out.mp4"}, "one split option"},
      {{"--quiet=yes", "in", "out.mp4"}, "--quiet takes no value"},
      {{"in.avi"}, "expected an input and an output file name, got 1 file name"},
      {{"a", "b", "c"}, "expected an input and an output file name, got 3 file names"},
      {{"--salvage", "--info", "a"}, "no --salvage"},
      {{"--quiet", "in"}, "got 1 file name"},
      {{"--quiet", "a", "b", "c"}, "got 3 file names"},
      {{"--", "in"}, "got 1 file name"},
      {{"--split-size", "1M"}, "got 0 file names"},
      {{"--json", "in", "out.mp4"}, "--json goes with --info"},
      {{"--info"}, "--info takes one file name, got 0"},
      {{"--info", "a", "b"}, "--info takes one file name, got 2"},
      {{"--info", "--split-size", "1M", "a"}, "no split option"},
      {{"--help", "--bogus"}, "unknown option '--bogus'"},
      {{"--program", "0", "in.ts", "out.mp4"}, "bad program '0' for --program"},
      {{"--program", "65536", "in.ts", "out.mp4"}, "bad program '65536'"},
      {{"--program=-1", "in.ts", "out.mp4"}, "bad program '-1'"},
      {{"--program", "+2", "in.ts", "out.mp4"}, "bad program '+2'"},
      {{"--program", "2x", "in.ts", "out.mp4"}, "bad program '2x'"},
      {{"--program=", "in.ts", "out.mp4"}, "bad program ''"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const char* a : c.args) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    Parsed p = parse(c.args);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(c.in_message), std::string::npos) << p.error;
    EXPECT_EQ(p.error.find('\n'), std::string::npos);  // one line
    // A wrong count of names is told apart: it shows the banner too.
    EXPECT_EQ(p.line.wrong_name_count, std::string(c.in_message).find("file name") != std::string::npos ? 1u : 0u);
    EXPECT_EQ(p.line.action, kActionBanner);           // nothing half-filled
    EXPECT_EQ(p.line.input_path, nullptr);
    EXPECT_EQ(p.line.split_limit, 0u);
  }
}

TEST(Options, OutputNamesThatNeedNoForce) {
  struct Case {
    const char* name;
    bool accepted;
  };
  const Case cases[] = {
      {"out.mp4", true},   {"OUT.MP4", true},      {"a.m4v", true},        {"a.m4a", true},
      {"a.M4B", true},     {"a.mov", true},        {"a.Qt", true},         {"a.3gp", true},
      {"a.3g2", true},     {"out", true},          {"out.", true},         {"dir.d/out", true},
      {".mp4", true},      {"-", true},            {"/dev/null", true},    {"x.mkv", false},
      {"x.webm", false},   {"x.avi", false},       {"x.mp4.tmp", false},   {"x.mp", false},
      {"x.mp44", false},   {"dir.mkv/x.MKV", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(output_name_accepted(c.name), c.accepted);
  }
  EXPECT_FALSE(output_name_accepted(nullptr));
  for (const char* force : {"--force", "-y"}) {
    Parsed p = parse({force, "in", "out.mkv"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.line.force, 1u);
  }
  EXPECT_EQ(parse({"in", "out.mp4"}).line.force, 0u);
  // The forms they give: QuickTime for .mov and .qt, audio MP4 for .m4a and .m4b.
  EXPECT_EQ(output_form_of("a.QT"), kOutputQuickTime);
  EXPECT_EQ(output_form_of("a.mov"), kOutputQuickTime);
  EXPECT_EQ(output_form_of("a.m4b"), kOutputAudioMp4);
  EXPECT_EQ(output_form_of("a.M4A"), kOutputAudioMp4);
  EXPECT_EQ(output_form_of("a.3gp"), kOutputMp4);
  EXPECT_EQ(output_form_of("-"), kOutputMp4);
}

TEST(Options, AnOverlongValueIsCutInTheMessageNotOverflowed) {
  std::string value(4000, '7');
  value += "Q";
  Parsed p = parse({"--split-size", value.c_str(), "in", "out.mp4"});
  EXPECT_FALSE(p.ok);
  EXPECT_LT(p.error.size(), kCommandErrorCapacity);
  EXPECT_EQ(p.error.rfind("bad size '777", 0), 0u);
}

TEST(Options, ByteSizes) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t bytes;
  };
  const Case cases[] = {
      {"1", true, 1},
      {"4096", true, 4096},
      {"1K", true, 1024},
      {"1k", true, 1024},
      {"2m", true, 2u << 20},
      {"700M", true, 700ull << 20},
      {"1.5G", true, 1610612736ull},
      {"0.5K", true, 512},
      {".5K", true, 512},
      {"3.K", true, 3072},
      {"1.9", true, 1},  // whole bytes only
      {"0.001K", true, 1},
      {"1.0000000001K", true, 1024},  // digits past the ninth are dropped
      {"17179869183G", true, 17179869183ull << 30},
      {"18446744073709551615", true, UINT64_MAX},
      {"17179869184G", false, 0},  // 2^64
      {"18446744073709551616", false, 0},
      {"0", false, 0},
      {"0K", false, 0},
      {"0.0009K", false, 0},
      {"", false, 0},
      {"K", false, 0},
      {".", false, 0},
      {".K", false, 0},
      {"1..5M", false, 0},
      {"1.5.5M", false, 0},
      {" 1M", false, 0},
      {"1M ", false, 0},
      {"+1M", false, 0},
      {"1T", false, 0},
      {"1KK", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t bytes = 77;
    EXPECT_EQ(parse_byte_size(c.text, &bytes), c.ok);
    EXPECT_EQ(bytes, c.bytes);
  }
  EXPECT_FALSE(parse_byte_size(nullptr, nullptr));
}

TEST(Options, DurationsInMilliseconds) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t ms;
  };
  const Case cases[] = {
      {"1", true, 1000},
      {"90", true, 90000},
      {"1.5", true, 1500},
      {"0.001", true, 1},
      {"0.0019", true, 1},
      {"2.", true, 2000},
      {".25", true, 250},
      {"18446744073709551", true, 18446744073709551000ull},
      {"18446744073709551.615", true, UINT64_MAX},
      {"18446744073709551.616", false, 0},
      {"18446744073709552", false, 0},
      {"0", false, 0},
      {"0.0", false, 0},
      {"0.0009", false, 0},
      {"-1", false, 0},
      {"1s", false, 0},
      {"1K", false, 0},
      {"", false, 0},
      {"nan", false, 0},
      {"inf", false, 0},
      {"1e3", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t ms = 77;
    EXPECT_EQ(parse_seconds_as_ms(c.text, &ms), c.ok);
    EXPECT_EQ(ms, c.ms);
  }
}

TEST(Options, SourceDateEpochIsPlainDecimalSeconds) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t seconds;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"1700000000", true, 1700000000},
      {"4611686018427387903", true, 4611686018427387903ull},  // the largest taken
      {"4611686018427387904", false, 0},
      {"", false, 0},
      {"-1", false, 0},
      {"+5", false, 0},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"1.5", false, 0},
      {"12a", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t seconds = 0;
    EXPECT_EQ(parse_source_date_epoch(c.text, &seconds), c.ok);
    if (c.ok) {
      EXPECT_EQ(seconds, c.seconds);
    }
  }
}

}  // namespace
}  // namespace vantorel::app
