#include "app/command_line.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "app/chapter_set.h"
#include "app/path_split.h"
#include "app/platform.h"
#include "app/track_list.h"
#include "remux/remux.h"

namespace vantorel::app {

namespace {

using ErrorText = char (&)[kCommandErrorCapacity];

// Digits of a fraction beyond this are checked but do not change the value:
// a nanosecond or a billionth of a byte is below anything a limit can mean.
constexpr uint32_t kFractionDigits = 9;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// `text` up to `end` as a decimal number (digits, optionally a point and
// more digits) times `unit`, truncated to a whole number.
bool scaled_decimal(const char* text, const char* end, uint64_t unit, uint64_t* out) {
  *out = 0;
  uint64_t whole = 0;
  uint64_t fraction = 0;
  uint64_t fraction_scale = 1;
  uint32_t digits = 0;
  const char* p = text;
  for (; p < end && is_digit(*p); ++p, ++digits) {
    uint64_t d = static_cast<uint64_t>(*p - '0');
    if (whole > (UINT64_MAX - d) / 10) return false;
    whole = whole * 10 + d;
  }
  if (p < end && *p == '.') {
    ++p;
    uint32_t kept = 0;
    for (; p < end && is_digit(*p); ++p, ++digits) {
      if (kept == kFractionDigits) continue;
      fraction = fraction * 10 + static_cast<uint64_t>(*p - '0');
      fraction_scale *= 10;
      ++kept;
    }
  }
  if (p != end || digits == 0) return false;
  if (whole > UINT64_MAX / unit) return false;
  uint64_t value = whole * unit;
  // fraction < 10^9 and unit <= 2^30, so the product stays below 2^60.
  uint64_t part = fraction * unit / fraction_scale;
  if (value > UINT64_MAX - part) return false;
  *out = value + part;
  return true;
}

struct OptionRow;
using OptionApply = bool (*)(const OptionRow& row, const char* value, CommandLine* line, ErrorText error);

struct OptionRow {
  const char* name;
  const char* short_name;  // null for none
  uint32_t takes_value;
  const char* value_name;  // for the usage text
  const char* help;
  OptionApply apply;
};

bool set_split(uint32_t mode, uint64_t limit, const OptionRow& row, CommandLine* line, ErrorText error) {
  if (line->split_mode != kSplitNone) {
    std::snprintf(error, kCommandErrorCapacity, "give one split option, once: %s came after another", row.name);
    return false;
  }
  line->split_mode = mode;
  line->split_limit = limit;
  return true;
}

bool apply_split_size(const OptionRow& row, const char* value, CommandLine* line, ErrorText error) {
  uint64_t bytes = 0;
  if (!parse_byte_size(value, &bytes)) {
    std::snprintf(error, kCommandErrorCapacity,
                  "bad size '%s' for %s: give a number of bytes above 0, optionally with K, M or G", value, row.name);
    return false;
  }
  return set_split(kSplitBySize, bytes, row, line, error);
}

bool apply_split_duration(const OptionRow& row, const char* value, CommandLine* line, ErrorText error) {
  uint64_t ms = 0;
  if (!parse_seconds_as_ms(value, &ms)) {
    std::snprintf(error, kCommandErrorCapacity, "bad duration '%s' for %s: give seconds, at least 0.001", value,
                  row.name);
    return false;
  }
  return set_split(kSplitByDuration, ms, row, line, error);
}

// --help and --version: the first one given decides.
bool apply_help(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  if (line->action == kActionBanner) line->action = kActionHelp;
  return true;
}
bool apply_version(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  if (line->action == kActionBanner) line->action = kActionVersion;
  return true;
}
bool apply_quiet(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->quiet = 1;
  return true;
}
bool apply_json(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->json = 1;
  return true;
}
bool apply_salvage(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->salvage = 1;
  return true;
}

// A program number of a transport stream: 1 to 65535.
bool apply_program(const OptionRow& row, const char* value, CommandLine* line, ErrorText error) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(value, &end, 10);
  if (value[0] < '0' || value[0] > '9' || *end != '\0' || number == 0 || number > 65535) {
    std::snprintf(error, kCommandErrorCapacity, "bad program '%s' for %s: give a program number from 1 to 65535", value,
                  row.name);
    return false;
  }
  line->program_number = static_cast<uint32_t>(number);
  return true;
}

bool apply_join(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->join = 1;
  return true;
}

bool apply_join_chapters(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->join_chapters = 1;
  return true;
}

bool apply_verify(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->verify = 1;
  return true;
}
bool apply_force(const OptionRow&, const char*, CommandLine* line, ErrorText) {
  line->force = 1;
  return true;
}

// --tracks and --drop: one of them, once; the list is checked now and read
// again when the run starts.
bool apply_track_list(const OptionRow& row, const char* value, CommandLine* line, ErrorText error) {
  const bool drop = std::strcmp(row.name, "--drop") == 0;
  if (line->track_list != nullptr) {
    std::snprintf(error, kCommandErrorCapacity, "give --tracks or --drop, once: %s came after %s", row.name,
                  line->track_list_drop ? "--drop" : "--tracks");
    return false;
  }
  TrackList list;
  if (!parse_track_list(value, row.name, &list, error)) return false;
  line->track_list = value;
  line->track_list_drop = drop ? 1 : 0;
  return true;
}

// --range: one more output of a stretch of the input.
bool apply_range(const OptionRow& row, const char* value, CommandLine* line, ErrorText error) {
  if (line->range_count == kMaxRanges) {
    std::snprintf(error, kCommandErrorCapacity, "give at most %u %s options", kMaxRanges, row.name);
    return false;
  }
  RangeValue range;
  switch (parse_range_value(value, &range)) {
    case RangeParse::Ok: break;
    case RangeParse::Backwards:
      std::snprintf(error, kCommandErrorCapacity, "bad range '%.80s' for %s: its end is not after its start", value,
                    row.name);
      return false;
    default:
      std::snprintf(error, kCommandErrorCapacity,
                    "bad range '%.80s' for %s: give START-END as seconds (3.5), [hh:]mm:ss[.fff] or frames (f90-f210)",
                    value, row.name);
      return false;
  }
  line->ranges[line->range_count++] = range;
  return true;
}

bool apply_range_mode(const OptionRow& row, const char* value, CommandLine* line, ErrorText error) {
  const bool keyframe = std::strcmp(value, "keyframe") == 0;
  if (!keyframe && std::strcmp(value, "exact") != 0) {
    std::snprintf(error, kCommandErrorCapacity, "bad mode '%.80s' for %s: give exact or keyframe", value, row.name);
    return false;
  }
  line->range_keyframe = keyframe ? 1 : 0;
  line->range_mode_given = 1;
  return true;
}

constexpr OptionRow kOptions[] = {
    {"--split-size", nullptr, 1, "SIZE", "start a new output file before this many bytes (K, M, G: powers of 1024)",
     apply_split_size},
    {"--split-duration", nullptr, 1, "SECONDS", "start a new output file before this many seconds",
     apply_split_duration},
    {"--tracks", nullptr, 1, "LIST", "keep only these tracks (ids as --info shows them; video, audio, subtitle, data)",
     apply_track_list},
    {"--drop", nullptr, 1, "LIST", "leave these tracks out (ids or kinds, as for --tracks)", apply_track_list},
    {"--quiet", nullptr, 0, nullptr, "print nothing on success: no progress, no closing line", apply_quiet},
    {"--salvage", nullptr, 0, nullptr, "carry what a truncated input still holds (with a warning) instead of failing",
     apply_salvage},
    {"--verify", nullptr, 0, nullptr, "read each output back and compare it with the input before keeping it",
     apply_verify},
    {"--force", "-y", 0, nullptr, "replace existing files; accept any output name", apply_force},
    {"--range", nullptr, 1, "START-END",
     "write only this stretch, to the frame (seconds, [hh:]mm:ss[.fff] or frames fA-fB); repeat for more outputs",
     apply_range},
    {"--range-mode", nullptr, 1, "MODE",
     "exact (default: edit lists hide the lead-in) or keyframe (start at the key frame before)", apply_range_mode},
    {"--join", nullptr, 0, nullptr, "play the inputs back to back in one output: --join <in1> <in2> [...] <out>",
     apply_join},
    {"--join-chapters", nullptr, 0, nullptr, "with --join: a chapter at each input's start, named after its file",
     apply_join_chapters},
    {"--program", nullptr, 1, "N", "read program N of a transport stream (default: the one with the most packets)",
     apply_program},
    {"--info", nullptr, 0, nullptr, "describe <file> instead of remuxing it", nullptr},
    {"--json", nullptr, 0, nullptr, "with --info: print one JSON document", apply_json},
    {"--help", "-h", 0, nullptr, "print this text", apply_help},
    {"--version", nullptr, 0, nullptr, "print the name and version", apply_version},
};

// The row whose name is the text before any "=", and where the value after
// it starts (null without "=").
const OptionRow* find_option(const char* arg, const char** inline_value) {
  *inline_value = nullptr;
  const char* equals = std::strchr(arg, '=');
  size_t length = equals != nullptr ? static_cast<size_t>(equals - arg) : std::strlen(arg);
  for (const OptionRow& row : kOptions) {
    bool long_match = std::strlen(row.name) == length && std::strncmp(row.name, arg, length) == 0;
    bool short_match = row.short_name != nullptr && equals == nullptr && std::strcmp(row.short_name, arg) == 0;
    if (long_match || short_match) {
      if (equals != nullptr) *inline_value = equals + 1;
      return &row;
    }
  }
  return nullptr;
}

bool check_combination(CommandLine* line, uint32_t info, uint32_t plain_count, ErrorText error) {
  if (line->json && !info) {
    std::snprintf(error, kCommandErrorCapacity, "--json goes with --info");
    return false;
  }
  if (info && line->salvage) {
    std::snprintf(error, kCommandErrorCapacity, "--info writes nothing, so it takes no --salvage");
    return false;
  }
  if (info && line->verify) {
    std::snprintf(error, kCommandErrorCapacity, "--info writes nothing, so it takes no --verify");
    return false;
  }
  if (info && line->split_mode != kSplitNone) {
    std::snprintf(error, kCommandErrorCapacity, "--info writes nothing, so it takes no split option");
    return false;
  }
  if (line->range_count > 0 && line->split_mode != kSplitNone) {
    std::snprintf(error, kCommandErrorCapacity, "--range '%.80s' writes one output per range, so it takes no split option",
                  line->ranges[0].text);
    return false;
  }
  if (line->range_mode_given && line->range_count == 0) {
    std::snprintf(error, kCommandErrorCapacity, "--range-mode goes with --range");
    return false;
  }
  if (info && line->range_count > 0) {
    std::snprintf(error, kCommandErrorCapacity, "--info writes nothing, so it takes no --range");
    return false;
  }
  if (info && line->track_list != nullptr) {
    std::snprintf(error, kCommandErrorCapacity, "--info describes every track, so it takes no %s",
                  line->track_list_drop ? "--drop" : "--tracks");
    return false;
  }
  if (line->join && info) {
    std::snprintf(error, kCommandErrorCapacity, "--info describes one file, so it takes no --join");
    return false;
  }
  if (line->join_chapters && !line->join) {
    std::snprintf(error, kCommandErrorCapacity, "--join-chapters goes with --join");
    return false;
  }
  if (line->join) {
    // One input named as a camera's chapter file: its chapters are found beside it.
    ChapterName chapter{};
    if (plain_count == 2 && camera_chapter_name(line->input_path, &chapter)) {
      line->action = kActionRemux;
      return true;
    }
    if (plain_count < 3) {
      line->wrong_name_count = 1;
      std::snprintf(error, kCommandErrorCapacity,
                    "--join takes two or more inputs (or a camera's first chapter file) and an output file name, got "
                    "%u file name%s",
                    plain_count, plain_count == 1 ? "" : "s");
      return false;
    }
    if (plain_count > kMaxJoined + 2) {
      std::snprintf(error, kCommandErrorCapacity, "--join takes at most %u inputs, got %u", kMaxJoined + 1,
                    plain_count - 1);
      return false;
    }
    line->action = kActionRemux;
    return true;
  }
  if (info) {
    if (plain_count != 1) {
      line->wrong_name_count = 1;
      std::snprintf(error, kCommandErrorCapacity, "--info takes one file name, got %u", plain_count);
      return false;
    }
    line->action = kActionInfo;
    return true;
  }
  if (plain_count != 2) {
    line->wrong_name_count = 1;
    std::snprintf(error, kCommandErrorCapacity, "expected an input and an output file name, got %u file name%s",
                  plain_count, plain_count == 1 ? "" : "s");
    return false;
  }
  line->action = kActionRemux;
  return true;
}

// "-" names standard output, and only as the output: the input is read
// twice and sought in, and a split writes several files. Standard output's
// other names (/dev/stdout) are taken as "-" is.
bool check_standard_streams(const CommandLine* line, ErrorText error) {
  auto is_dash = [](const char* name) { return name != nullptr && std::strcmp(name, "-") == 0; };
  bool dash_joined = false;
  for (uint32_t i = 0; i < line->joined_count; ++i) dash_joined = dash_joined || is_dash(line->joined[i]);
  if (is_dash(line->input_path) || dash_joined) {
    std::snprintf(error, kCommandErrorCapacity,
                  "the input cannot be standard input ('-'): it is read twice, which needs a file");
    return false;
  }
  const char* output = line->output_path;
  if (!is_standard_output_name(output)) return true;
  if (line->split_mode != kSplitNone) {
    std::snprintf(error, kCommandErrorCapacity,
                  "a split writes several files, so it cannot go to standard output ('%s')", output);
    return false;
  }
  if (line->range_count > 1) {
    std::snprintf(error, kCommandErrorCapacity,
                  "%u ranges write %u files, so they cannot go to standard output ('%s')", line->range_count,
                  line->range_count, output);
    return false;
  }
  if (line->verify) {
    std::snprintf(error, kCommandErrorCapacity, "--verify reads the output back, which standard output ('%s') cannot be",
                  output);
    return false;
  }
  return true;
}

}  // namespace

bool output_name_accepted(const char* path) {
  if (path == nullptr) return false;
  if (is_standard_output_name(path)) return true;
  PathParts parts = path_split(path);
  const char* extension = path + parts.extension_start;
  size_t length = parts.length - parts.extension_start;
  // No extension, or a lone dot ("out."): nothing promised.
  if (length <= 1) return true;
  static const char* const kAccepted[] = {".mp4", ".m4v", ".m4a", ".m4b", ".mov", ".qt", ".3gp", ".3g2"};
  for (const char* accepted : kAccepted) {
    if (std::strlen(accepted) != length) continue;
    bool same = true;
    for (size_t i = 0; i < length && same; ++i) same = std::tolower(static_cast<unsigned char>(extension[i])) == accepted[i];
    if (same) return true;
  }
  return false;
}

void format_output_name_mistake(const char* output_path, char (&error)[kCommandErrorCapacity]) {
  const char* name = output_path != nullptr ? output_path : "";
  PathParts parts = path_split(name);
  std::snprintf(error, kCommandErrorCapacity,
                "the output is an MP4 or QuickTime file, not '%.16s': name it .mp4, .m4v, .m4a, .m4b, .mov, .qt, .3gp "
                "or .3g2, or give --force to keep the name '%.80s'",
                name + parts.extension_start, name);
}

bool parse_byte_size(const char* text, uint64_t* out) {
  if (text == nullptr || out == nullptr) return false;
  *out = 0;
  const char* end = text + std::strlen(text);
  uint64_t unit = 1;
  if (end != text) {
    switch (end[-1]) {
      case 'K': case 'k': unit = uint64_t{1} << 10; break;
      case 'M': case 'm': unit = uint64_t{1} << 20; break;
      case 'G': case 'g': unit = uint64_t{1} << 30; break;
      default: break;
    }
    if (unit != 1) --end;
  }
  uint64_t value = 0;
  if (!scaled_decimal(text, end, unit, &value) || value == 0) return false;
  *out = value;
  return true;
}

bool parse_seconds_as_ms(const char* text, uint64_t* out) {
  if (text == nullptr || out == nullptr) return false;
  *out = 0;
  uint64_t value = 0;
  if (!scaled_decimal(text, text + std::strlen(text), 1000, &value) || value == 0) return false;
  *out = value;
  return true;
}

bool parse_command_line(int argc, const char* const* argv, CommandLine* out, ErrorText error) {
  error[0] = '\0';
  *out = CommandLine{};
  if (argv == nullptr) argc = 0;
  CommandLine line{};
  // Every name a --join can take, and one more to tell too many.
  const char* plain[kMaxJoined + 3] = {};
  uint32_t plain_count = 0;
  uint32_t info = 0;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr) break;
    // A lone "-" is a name: standard output.
    if (options_end || arg[0] != '-' || arg[1] == '\0') {
      if (plain_count < kMaxJoined + 3) plain[plain_count] = arg;
      if (plain_count < UINT32_MAX) ++plain_count;
      continue;
    }
    line.options_given = 1;
    if (std::strcmp(arg, "--") == 0) {
      options_end = true;
      continue;
    }
    const char* value = nullptr;
    const OptionRow* row = find_option(arg, &value);
    if (row == nullptr) {
      // Most often a file name that begins with '-': say how to give one.
      std::snprintf(error, kCommandErrorCapacity,
                    "unknown option '%.80s' (a name that begins with '-' goes after '--', or as './%.80s')", arg,
                    arg);
      return false;
    }
    if (row->takes_value && value == nullptr) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        std::snprintf(error, kCommandErrorCapacity, "%s needs a value", row->name);
        return false;
      }
      value = argv[++i];
    } else if (!row->takes_value && value != nullptr) {
      std::snprintf(error, kCommandErrorCapacity, "%s takes no value", row->name);
      return false;
    }
    if (row->apply == nullptr) {
      info = 1;  // --info: decided once every option is known
    } else if (!row->apply(*row, value, &line, error)) {
      return false;
    }
  }
  line.input_path = plain[0];
  line.output_path = plain[1];
  // --join: the last name is the output, those between the inputs after the first.
  if (line.join && plain_count >= 2 && plain_count <= kMaxJoined + 2) {
    line.output_path = plain[plain_count - 1];
    line.joined_count = plain_count - 2;
    for (uint32_t i = 0; i < line.joined_count; ++i) line.joined[i] = plain[i + 1];
  }
  if (line.action == kActionHelp || line.action == kActionVersion) {
    *out = line;
    return true;
  }
  if (!line.options_given && plain_count == 0) {
    // No arguments at all: the banner and usage, not a mistake.
    line.action = kActionBanner;
    *out = line;
    return true;
  }
  if (!check_combination(&line, info, plain_count, error)) {
    out->wrong_name_count = line.wrong_name_count;
    return false;
  }
  if (line.action == kActionInfo) line.output_path = nullptr;
  if (!check_standard_streams(&line, error)) return false;
  *out = line;
  return true;
}

void print_options(std::FILE* out, const char* program) {
  console_printf(out, "       %s [options] <in> <out.mp4>\n", program);
  console_printf(out, "       %s [options] --join <in1> <in2> [...] <out.mp4>\n", program);
  console_printf(out, "       %s --info [--json] <file>\n", program);
  console_printf(out, "\n");
  console_printf(out, "Options:\n");
  for (const OptionRow& row : kOptions) {
    char left[48];
    if (row.short_name != nullptr) {
      std::snprintf(left, sizeof left, "%s, %s", row.short_name, row.name);
    } else if (row.value_name != nullptr) {
      std::snprintf(left, sizeof left, "%s %s", row.name, row.value_name);
    } else {
      std::snprintf(left, sizeof left, "%s", row.name);
    }
    console_printf(out, "  %-26s %s\n", left, row.help);
  }
  console_printf(out, "  %-26s %s\n", "--", "end of options: later names may begin with '-'");
  console_printf(out, "  %-26s %s\n", "-", "as the output name: write the MP4 to standard output");
  console_printf(out, "\n");
  console_printf(out, "Inputs: MP4, QuickTime, AVI, Matroska, WebM, MPEG transport streams (.ts, .m2ts, .mts) and\n");
  console_printf(out, "program streams (.mpg, .vob). The output is an MP4 file, or a QuickTime\n");
  console_printf(out, "movie when named .mov or .qt; an existing file is not replaced without --force.\n");
}

}  // namespace vantorel::app
