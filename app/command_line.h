#pragma once
// The command line as the user typed it, turned into one record: what to do,
// on which files, with which split limit. Parsing prints nothing, so every
// good and bad line can be checked by the tests.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "app/range_option.h"

namespace vantorel::app {

enum CommandAction : uint32_t {
  kActionBanner = 0,   // no arguments at all: banner and usage, status 0
  kActionRemux = 1,    // <in> <out.mp4>
  kActionInfo = 2,     // --info <file>
  kActionHelp = 3,     // --help, -h
  kActionVersion = 4,  // --version
};

// The --range options one command line takes.
constexpr uint32_t kMaxRanges = 64;
// The inputs --join plays after the first.
constexpr uint32_t kMaxJoined = 255;

struct CommandLine {
  uint32_t action;  // CommandAction
  const char* input_path;
  const char* output_path;  // remux only
  uint32_t split_mode;      // SplitMode of the engine
  uint64_t split_limit;     // bytes for split mode 1, milliseconds for split mode 2
  uint32_t quiet;           // no progress line
  uint32_t json;            // --info as one JSON document
  uint32_t options_given;   // 1 when any argument was an option (a lone "--" included)
  uint32_t salvage;         // carry what a truncated input holds instead of failing
  uint32_t verify;          // read the outputs back and compare them with the input before keeping them
  uint32_t wrong_name_count;  // set, also on failure, when the line fails on its count of file names
  uint32_t force;           // replace existing files, and write under any name
  const char* track_list;   // the LIST of --tracks or --drop as given (checked); null: every track
  uint32_t track_list_drop; // 1: --drop, the listed tracks are left out; 0: --tracks, only they are kept
  uint32_t program_number;  // a transport stream's program to read; 0: the one with the most packets
  // --range, each one output (named as split parts are); --range-mode keyframe.
  RangeValue ranges[kMaxRanges];
  uint32_t range_count;
  uint32_t range_keyframe;
  uint32_t range_mode_given;
  // --join: the inputs played after `input_path`, back to back, in order.
  uint32_t join;
  const char* joined[kMaxJoined];
  uint32_t joined_count;
  uint32_t join_chapters;  // --join-chapters: a chapter per input, named after its file
};

// A message for the user about a bad command line, without the program's
// name or a line feed.
constexpr size_t kCommandErrorCapacity = 256;

// Parses `argv[1..argc)`. True with `out` filled; false with `out` zeroed
// (but for wrong_name_count) and the reason in `error`. Arguments that begin with "-" are options,
// anywhere on the line, until a lone "--"; a value is the next argument or
// follows "=" ("--split-size=700M").
bool parse_command_line(int argc, const char* const* argv, CommandLine* out, char (&error)[kCommandErrorCapacity]);

// Whether `path` is a name an output may have without --force: one ending
// in .mp4, .m4v, .m4a, .m4b, .mov, .qt, .3gp or .3g2 (any letter case), one
// without an extension, or standard output's. The output is an MP4 or
// QuickTime file whatever its name: a name that promises another kind
// (.mkv, .webm, .avi) would mislead every later reader.
bool output_name_accepted(const char* path);
// The message for an output name that is not accepted.
void format_output_name_mistake(const char* output_path, char (&error)[kCommandErrorCapacity]);

// "700M" -> 734003200: a decimal number of bytes, fractions allowed, with an
// optional K, M or G (powers of 1024, either letter case). False for
// anything else, for 0 bytes and for more than 64 bits hold.
bool parse_byte_size(const char* text, uint64_t* out);

// "90", "1.5" seconds -> milliseconds (fractions below a millisecond are
// dropped). False for anything that is not a plain decimal number, for less
// than 1 ms and for more than 64 bits hold.
bool parse_seconds_as_ms(const char* text, uint64_t* out);

// The usage lines with the options, for --help and after a bad command line;
// `program` is the name the program was called by.
void print_options(std::FILE* out, const char* program);

}  // namespace vantorel::app
