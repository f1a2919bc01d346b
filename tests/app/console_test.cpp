#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "app/failure_message.h"
#include "app/output_namer.h"
#include "app/progress.h"
#include "app/run_state.h"
#include "capture.h"

namespace vantorel::app {
namespace {

TEST(Progress, PrintsTenthsAndSkipsRepeats) {
  struct Case {
    std::vector<uint32_t> values;
    const char* printed;
  };
  const Case cases[] = {
      {{1000}, "100.0 % \r"},
      {{5}, "0.5 % \r"},
      {{473}, "47.3 % \r"},
      {{0}, "0.0 % \r"},
      {{5, 5, 5}, "0.5 % \r"},
      {{0, 0, 10, 10, 999, 1000, 1000}, "0.0 % \r1.0 % \r99.9 % \r100.0 % \r"},
      // The second pass starts again at 0, which differs from the last value.
      {{1000, 0, 0}, "100.0 % \r0.0 % \r"},
  };
  for (const Case& c : cases) {
    test::Capture out;
    ProgressState progress{};
    for (uint32_t v : c.values) progress_print(out.stream(), v, &progress);
    EXPECT_EQ(out.text(), c.printed);
  }
}

TEST(Progress, PassesAreLabelledAndTheLineIsClearedAtTheEnd) {
  test::Capture out;
  ProgressState progress{};
  progress.out = out.stream();
  progress_begin_pass(&progress, 0);
  progress_print(out.stream(), 0, &progress);
  progress_print(out.stream(), 1000, &progress);
  progress_begin_pass(&progress, 1);
  progress_print(out.stream(), 1000, &progress);  // printed again: a new pass
  progress_print(out.stream(), 1000, &progress);
  progress_clear(&progress);
  progress_clear(&progress);  // nothing left to clear
  EXPECT_EQ(out.text(), "analysing 0.0 % \ranalysing 100.0 % \rwriting 100.0 % \r" + std::string(18, ' ') + "\r");

  test::Capture silent;
  ProgressState unused{};
  unused.out = silent.stream();
  progress_clear(&unused);  // nothing was shown: nothing to blank
  EXPECT_EQ(silent.text(), "");
}

uint64_t g_fake_ms = 0;
uint64_t fake_clock() { return g_fake_ms; }

TEST(Progress, RepaintsAtMostOncePerInterval) {
  struct Case {
    const char* name;
    uint32_t step_ms;  // clock advance between values
    size_t at_most;    // paints of the 1001 values of one pass
    size_t at_least;
  };
  const Case cases[] = {
      {"a fast pass: its first value only", 0, 1, 1},
      {"a second in all: ten a second", 1, 11, 10},
      {"a slow pass: every value", 100, 1001, 1001},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Capture out;
    ProgressState progress{};
    progress.interval_ms = kProgressIntervalMs;
    progress.clock_ms = fake_clock;
    g_fake_ms = 5000;
    progress_begin_pass(&progress, 1);
    for (uint32_t v = 0; v <= 1000; ++v) {
      progress_print(out.stream(), v, &progress);
      g_fake_ms += c.step_ms;
    }
    std::string text = out.text();
    size_t paints = 0;
    for (char ch : text) paints += ch == '\r';
    EXPECT_LE(paints, c.at_most);
    EXPECT_GE(paints, c.at_least);
    EXPECT_EQ(text.rfind("writing 0.0 % \r", 0), 0u);  // the pass's first value is shown at once
    // A new pass shows its first value however soon it comes.
    progress_begin_pass(&progress, 0);
    progress_print(out.stream(), 0, &progress);
    EXPECT_NE(out.text().find("analysing 0.0 % \r"), std::string::npos);
  }
}

TEST(Progress, ShownOnlyOnATerminal) {
  test::Capture out, err;
  // Memory streams are no terminal, and quiet shows nothing anyway.
  EXPECT_EQ(progress_stream(out.stream(), err.stream(), false), nullptr);
  EXPECT_EQ(progress_stream(out.stream(), err.stream(), true), nullptr);
  EXPECT_EQ(progress_stream(nullptr, nullptr, false), nullptr);
}

TEST(Progress, CallbackPrintsToTheStateStreamAndGoesOn) {
  test::Capture out;
  RunState state;
  run_state_init(&state, "in.mp4", "out.mp4", out.stream());
  EXPECT_EQ(progress_report(250, &state), 1u);
  EXPECT_EQ(progress_report(250, &state), 1u);
  EXPECT_EQ(progress_report(1000, nullptr), 1u);  // no state: nothing to print, still go on
  EXPECT_EQ(out.text(), "25.0 % \r");
  print_done(out.stream());
  // No blanks after it: the progress line is cleared before, and a file
  // or pipe gets the word alone.
  EXPECT_EQ(out.text(), "25.0 % \rDone.\n");
  run_state_release(&state);
}

struct MessageCase {
  const char* name;
  ErrorCode code;
  const char* operation;  // null: no recorded I/O failure
  const char* failure_path;
  int error_number;
  bool refused;
  ErrorDetail detail;
  std::string expected;
};

TEST(FailureMessage, NamesTheProblemTheFileAndTheCause) {
  auto detail = [](uint32_t set, uint64_t offset, const char* path, const char* reason) {
    ErrorDetail d{};
    d.set = set;
    d.offset = offset;
    std::snprintf(d.path, sizeof d.path, "%s", path);
    d.reason = reason;
    return d;
  };
  const std::string enoent = std::strerror(ENOENT);
  const std::string enospc = std::strerror(ENOSPC);
  const MessageCase cases[] = {
      {"missing input", ErrorCode::Io, "open", "in.mp4", ENOENT, false, {},
       "Vantorel: cannot open 'in.mp4': " + enoent + "\n"},
      {"disk full", ErrorCode::Io, "write", "out.mp4", ENOSPC, false, {},
       "Vantorel: cannot write 'out.mp4': " + enospc + "\n"},
      {"truncated input", ErrorCode::Io, "read", "in.mp4", 0, false, {},
       "Vantorel: cannot read 'in.mp4': unexpected end of file\n"},
      {"truncated input, located", ErrorCode::Io, "read", "in.mp4", 0, false,
       detail(1, 4096, "moov/trak[1]/mdia", nullptr),
       "Vantorel: cannot read 'in.mp4': unexpected end of file at offset 4096 in moov/trak[1]/mdia\n"},
      {"copy of the path failed", ErrorCode::Io, "open", nullptr, ENOENT, false, {},
       "Vantorel: cannot open '(unknown file)': " + enoent + "\n"},
      {"latch without routine failure", ErrorCode::Io, nullptr, nullptr, 0, false, {},
       "Vantorel: 'in.mp4': input/output error\n"},
      {"not a media file", ErrorCode::Unsupported, nullptr, nullptr, 0, false, {},
       "Vantorel: 'in.mp4' is not a file Vantorel reads (MP4, QuickTime, AVI, Matroska, MPEG-TS or MPEG-PS)\n"},
      {"a file of another kind", ErrorCode::Unsupported, nullptr, nullptr, 0, false,
       detail(0, 0, "", "an Ogg file"), "Vantorel: 'in.mp4' is an Ogg file; Vantorel reads MP4, QuickTime, AVI, Matroska, MPEG-TS and MPEG-PS\n"},
      {"no movie header", ErrorCode::Missing, nullptr, nullptr, 0, false,
       detail(0, 0, "", "no movie header ('moov'): the file may be truncated or still being written"),
       "Vantorel: 'in.mp4': no movie header ('moov'): the file may be truncated or still being written\n"},
      // A stale routine failure does not explain a code other than 3.
      {"unsupported after a benign short read", ErrorCode::Unsupported, "read", "in.mp4", 0, false, {},
       "Vantorel: 'in.mp4' is not a file Vantorel reads (MP4, QuickTime, AVI, Matroska, MPEG-TS or MPEG-PS)\n"},
      {"malformed box", ErrorCode::Malformed, nullptr, nullptr, 0, false,
       detail(1, 1234, "moov/trak[2]/mdia/minf/stbl/stsz", "sample count larger than the box"),
       "Vantorel: 'in.mp4': malformed file at offset 1234 in moov/trak[2]/mdia/minf/stbl/stsz: "
       "sample count larger than the box\n"},
      {"reason only", ErrorCode::Malformed, nullptr, nullptr, 0, false, detail(0, 0, "", "bad descriptor tag"),
       "Vantorel: 'in.mp4': malformed file: bad descriptor tag\n"},
      {"offset outside the tree", ErrorCode::Io, nullptr, nullptr, 0, false, detail(1, 77, "", "sample beyond the end"),
       "Vantorel: 'in.mp4': input/output error at offset 77: sample beyond the end\n"},
      {"output is the input", ErrorCode::NoName, nullptr, nullptr, 0, true, {},
       "Vantorel: refusing to write 'in.mp4': it is the input file 'in.mp4'\n"},
      {"refusal explains any code", ErrorCode::Io, "open", "x", EACCES, true, {},
       "Vantorel: refusing to write 'in.mp4': it is the input file 'in.mp4'\n"},
      {"namer gave nothing", ErrorCode::NoName, nullptr, nullptr, 0, false, {},
       "Vantorel: no name for output file 1 from 'out.mp4'\n"},
      {"temporary file not created", ErrorCode::NoName, "create", "out.mp4", EACCES, false, {},
       "Vantorel: cannot create 'out.mp4': " + std::string(std::strerror(EACCES)) + "\n"},
      {"a stale read failure does not explain a withheld name", ErrorCode::NoName, "read", "in.mp4", 0, false, {},
       "Vantorel: no name for output file 1 from 'out.mp4'\n"},
      {"out of memory", ErrorCode::OutOfMemory, nullptr, nullptr, 0, false, {},
       "Vantorel: 'in.mp4': out of memory\n"},
      {"success", ErrorCode::Ok, "read", "in.mp4", 0, false, {}, ""},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunState state;
    run_state_init(&state, "in.mp4", "out.mp4", nullptr);
    if (c.operation != nullptr) io_failure_record(&state.failure, c.operation, c.failure_path, c.error_number);
    if (c.refused) name_state_refuse(&state.names, "in.mp4");
    test::Capture err;
    print_failure_message(err.stream(), c.code, &state, &c.detail);
    EXPECT_EQ(err.text(), c.expected);
    run_state_release(&state);
  }
}

TEST(FailureMessage, EveryCodeGivesOneLineEvenWithoutState) {
  for (uint32_t v = 1; v <= 14; ++v) {
    auto code = static_cast<ErrorCode>(v);
    SCOPED_TRACE(v);
    test::Capture err;
    print_failure_message(err.stream(), code, nullptr, nullptr);
    std::string text = err.text();
    EXPECT_EQ(text.rfind("Vantorel: ", 0), 0u);
    EXPECT_NE(text.find(error_name(code)), std::string::npos);
    EXPECT_EQ(text.find('\n'), text.size() - 1);
  }
}

TEST(FailureMessage, UnterminatedDetailPathStaysInItsRecord) {
  RunState state;
  run_state_init(&state, "in.mp4", "out.mp4", nullptr);
  ErrorDetail detail{};
  detail.set = 1;
  std::memset(detail.path, 'a', sizeof detail.path);
  detail.reason = nullptr;
  test::Capture err;
  print_failure_message(err.stream(), ErrorCode::Malformed, &state, &detail);
  std::string text = err.text();
  EXPECT_EQ(text, "Vantorel: 'in.mp4': malformed file at offset 0 in " + std::string(sizeof detail.path, 'a') + "\n");
  run_state_release(&state);
}

}  // namespace
}  // namespace vantorel::app
