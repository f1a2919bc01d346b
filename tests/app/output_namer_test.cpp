#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/output_namer.h"
#include "app/run_state.h"
#include "support/temp_dir.h"

namespace vantorel::app {
namespace {

// Asks for a name the way the engine does: length first, then the name in
// a buffer of exactly that size. Returns "" when either call refuses.
std::string next_name(RunState* state) {
  uint32_t bytes = 0;
  if (output_namer(nullptr, &bytes, state) != 1) return "";
  std::vector<char> buffer(bytes, '\x7f');
  if (output_namer(buffer.data(), nullptr, state) != 1) return "";
  EXPECT_EQ(std::strlen(buffer.data()) + 1, bytes) << "byte count must be the name's length + 1";
  return std::string(buffer.data());
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

TEST(OutputNamer, NumbersFurtherNamesBeforeTheExtension) {
  struct Case {
    const char* output;
    const char* names[3];
  };
  const Case cases[] = {
      {"out.mp4", {"out.mp4", "out_1.mp4", "out_2.mp4"}},
      {"dir/out.mp4", {"dir/out.mp4", "dir/out_1.mp4", "dir/out_2.mp4"}},
      {"/v/out", {"/v/out", "/v/out_1", "/v/out_2"}},
      {"a.b/out", {"a.b/out", "a.b/out_1", "a.b/out_2"}},
      {"x.y/c.d.mp4", {"x.y/c.d.mp4", "x.y/c.d_1.mp4", "x.y/c.d_2.mp4"}},
      {"dir/.mp4", {"dir/.mp4", "dir/.mp4_1", "dir/.mp4_2"}},
      {"dir/.hidden.mp4", {"dir/.hidden.mp4", "dir/.hidden_1.mp4", "dir/.hidden_2.mp4"}},
      {"..", {"..", ".._1", ".._2"}},
      {"out.", {"out.", "out_1.", "out_2."}},
      {"dir/", {"dir/", "dir/_1", "dir/_2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    RunState state;
    run_state_init(&state, nullptr, c.output, nullptr);
    for (const char* expected : c.names) EXPECT_EQ(next_name(&state), expected);
    EXPECT_EQ(state.names.counter, 3);
    run_state_release(&state);
  }
}

TEST(OutputNamer, OnlyTheNameCallAdvances) {
  RunState state;
  run_state_init(&state, nullptr, "out.mp4", nullptr);
  uint32_t bytes = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(output_namer(nullptr, &bytes, &state), 1u);
    EXPECT_EQ(bytes, 8u);  // "out.mp4" and its terminator
    EXPECT_EQ(state.names.counter, 0);
  }
  char name[8];
  ASSERT_EQ(output_namer(name, nullptr, &state), 1u);
  EXPECT_EQ(state.names.counter, 1);
  ASSERT_EQ(output_namer(nullptr, &bytes, &state), 1u);
  EXPECT_EQ(bytes, 10u);  // "out_1.mp4"
  // Counts past one digit grow the name.
  state.names.counter = 10;
  ASSERT_EQ(output_namer(nullptr, &bytes, &state), 1u);
  EXPECT_EQ(bytes, 11u);  // "out_10.mp4"
  run_state_release(&state);
}

TEST(OutputNamer, NoStateOrNoPointersGiveNothing) {
  uint32_t bytes = 77;
  char name[16];
  EXPECT_EQ(output_namer(nullptr, &bytes, nullptr), 0u);
  EXPECT_EQ(output_namer(name, nullptr, nullptr), 0u);
  EXPECT_EQ(bytes, 77u);
  RunState state;
  run_state_init(&state, nullptr, "out.mp4", nullptr);
  EXPECT_EQ(output_namer(nullptr, nullptr, &state), 0u);
  EXPECT_EQ(state.names.counter, 0);
  run_state_release(&state);
  run_state_init(&state, nullptr, nullptr, nullptr);
  EXPECT_EQ(output_namer(nullptr, &bytes, &state), 0u);
  run_state_release(&state);
}

TEST(OutputNamer, PathsLongerThanTheOldLimit) {
  std::string output = std::string(300, 'd') + "/" + std::string(300, 'n') + ".mp4";
  RunState state;
  run_state_init(&state, nullptr, output.c_str(), nullptr);
  EXPECT_EQ(next_name(&state), output);
  EXPECT_EQ(next_name(&state), std::string(300, 'd') + "/" + std::string(300, 'n') + "_1.mp4");
  run_state_release(&state);
}

TEST(OutputNamer, RefusesAnyNameThatIsTheInput) {
  test::TempDir dir;
  std::string input = dir.path("in.mp4");
  write_file(input, "input bytes");
  ASSERT_EQ(link(input.c_str(), dir.path("hard.mp4").c_str()), 0);
  ASSERT_EQ(symlink(input.c_str(), dir.path("soft.mp4").c_str()), 0);
  ASSERT_EQ(link(input.c_str(), dir.path("later_1.mp4").c_str()), 0);
  write_file(dir.path("other.mp4"), "another file");

  struct Case {
    std::string output;
    int accepted_before_refusal;  // -1: never refused in three names
  };
  const Case cases[] = {
      {input, 0},
      {dir.path("hard.mp4"), 0},
      {dir.path("soft.mp4"), 0},
      {dir.path("./in.mp4"), 0},
      {dir.path("later.mp4"), 1},
      {dir.path("fresh.mp4"), -1},
      {dir.path("other.mp4"), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    RunState state;
    run_state_init(&state, input.c_str(), c.output.c_str(), nullptr);
    ASSERT_EQ(state.names.input_known, 1u);
    int accepted = 0;
    while (accepted < 3 && !next_name(&state).empty()) ++accepted;
    if (c.accepted_before_refusal < 0) {
      EXPECT_EQ(accepted, 3);
      EXPECT_EQ(state.names.refused, 0u);
    } else {
      EXPECT_EQ(accepted, c.accepted_before_refusal);
      EXPECT_EQ(state.names.refused, 1u);
      ASSERT_NE(state.names.refused_name, nullptr);
      EXPECT_TRUE(names_input(&state.names, state.names.refused_name));
      EXPECT_EQ(state.names.counter, accepted);  // a refused name is not counted
    }
    run_state_release(&state);
  }
  // The input is untouched by all of this.
  std::ifstream in(input, std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents, "input bytes");
}

TEST(OutputNamer, MissingInputRefusesNothing) {
  test::TempDir dir;
  std::string input = dir.path("gone.mp4");
  RunState state;
  run_state_init(&state, input.c_str(), input.c_str(), nullptr);
  EXPECT_EQ(state.names.input_known, 0u);
  EXPECT_EQ(next_name(&state), input);
  run_state_release(&state);
}

}  // namespace
}  // namespace vantorel::app
