// The system interface of the front end, on whichever system this is.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/output_commit.h"
#include "app/platform.h"
#include "app/run_state.h"
#include "app/temporary_files.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace vantorel::app {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
constexpr const char* kCharacterDevice = "NUL";
#else
constexpr bool kWindows = false;
constexpr const char* kCharacterDevice = "/dev/null";
#endif

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Platform, FileIdentityFollowsTheFileNotTheName) {
  test::TempDir dir;
  const std::string file = dir.path("input.mp4");
  const std::string twin = dir.path("twin.mp4");
  const std::string link = dir.path("link.mp4");
  write_text(file, "same bytes");
  write_text(twin, "same bytes");
  std::error_code ec;
  std::filesystem::create_hard_link(file, link, ec);
  ASSERT_FALSE(ec) << ec.message();
  struct Case {
    std::string other;
    bool known;  // the other name can be asked about
    bool same;
  };
  const Case cases[] = {
      {file, true, true},
      {dir.dir() + "/./input.mp4", true, true},
      {dir.dir() + "//input.mp4", true, true},
      {link, true, true},
      {twin, true, false},
      {dir.dir(), true, false},
      {dir.path("missing.mp4"), false, false},
  };
  FileIdentity input{};
  ASSERT_TRUE(file_identity(file.c_str(), &input));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.other);
    FileIdentity other{};
    ASSERT_EQ(file_identity(c.other.c_str(), &other), c.known);
    if (c.known) {
      EXPECT_EQ(other.volume == input.volume && other.index == input.index, c.same);
    }
  }
  EXPECT_FALSE(file_identity(nullptr, &input));
}

TEST(Platform, AStreamKnowsTheFileItWritesTo) {
  test::TempDir dir;
  const std::string path = dir.path("out.txt");
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  write_text(dir.path("other.txt"), "");
  EXPECT_TRUE(names_stream_file(path.c_str(), stream));
  EXPECT_TRUE(names_stream_file((dir.dir() + "/./out.txt").c_str(), stream));
  EXPECT_FALSE(names_stream_file(dir.path("other.txt").c_str(), stream));
  EXPECT_FALSE(names_stream_file(dir.path("missing.txt").c_str(), stream));
  EXPECT_FALSE(names_stream_file(path.c_str(), nullptr));
  ASSERT_EQ(std::fclose(stream), 0);
}

TEST(Platform, KindsOfPath) {
  test::TempDir dir;
  const std::string file = dir.path("file");
  write_text(file, "x");
  write_text(dir.path("empty"), "");
  struct Case {
    std::string path;
    PathKind kind;
    bool stream;
    bool present;
  };
  const Case cases[] = {
      {file, PathKind::Regular, false, true},
      {dir.path("empty"), PathKind::Empty, false, true},
      {dir.dir(), PathKind::Other, false, true},
      {dir.path("missing"), PathKind::Missing, false, false},
      {dir.path("missing/below"), PathKind::Missing, false, false},
      {kCharacterDevice, PathKind::Other, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(path_kind(c.path.c_str()), c.kind);
    EXPECT_EQ(is_stream_path(c.path.c_str()), c.stream);
    // Whether Windows lists its devices as present varies with the version.
    if (c.path != kCharacterDevice || !kWindows) {
      EXPECT_EQ(path_present(c.path.c_str()), c.present);
    }
  }
#ifndef _WIN32
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(is_stream_path(fifo.c_str()));
  EXPECT_EQ(path_kind(fifo.c_str()), PathKind::Other);
#endif
}

TEST(Platform, PathSeparators) {
  struct Case {
    const char* path;
    int posix;    // offset of the last separator, -1 for none
    int windows;
  };
  const Case cases[] = {
      {"name.mp4", -1, -1},    {"dir/name.mp4", 3, 3},     {"dir\\name.mp4", -1, 3},
      {"a\\b/c.mp4", 3, 3},    {"a/b\\c.mp4", 1, 3},       {"C:\\x.y\\out", -1, 6},
      {"/", 0, 0},             {"", -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const char* found = last_path_separator(c.path);
    int expected = kWindows ? c.windows : c.posix;
    EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found - c.path), expected);
  }
}

TEST(Platform, TemporaryFilesReplaceTheirTarget) {
  test::TempDir dir;
  const std::string target = dir.path("movie.mp4");
  write_text(target, "old");
  int error_number = 0;
  char* first = create_temporary_beside(target.c_str(), 2, &error_number);
  ASSERT_NE(first, nullptr) << error_number;
  char* second = create_temporary_beside(target.c_str(), 2, &error_number);
  ASSERT_NE(second, nullptr) << error_number;
  // Beside the target, hidden by its leading dot, distinct, empty, and
  // naming this host and process.
  const std::string prefix = dir.path(".movie.mp4.vantorel-" + std::string(temporary_host()) + "-" +
                                      std::to_string(current_process_id()) + "-");
  EXPECT_EQ(std::string(first).rfind(prefix, 0), 0u) << first;
  EXPECT_EQ(std::string(second).rfind(prefix, 0), 0u) << second;
  EXPECT_STRNE(first, second);
  EXPECT_EQ(read_text(first), "");

  write_text(first, "new");
  EXPECT_EQ(replace_file(first, target.c_str()), 0);
  EXPECT_EQ(read_text(target), "new");
  EXPECT_FALSE(path_present(first));
  EXPECT_EQ(remove_file(second), 0);
  EXPECT_FALSE(path_present(second));

  // Failures carry the system's reason.
  EXPECT_EQ(remove_file(second), ENOENT);
  EXPECT_EQ(replace_file(first, target.c_str()), ENOENT);
  EXPECT_EQ(replace_file(target.c_str(), dir.path("no/such/dir").c_str()), ENOENT);
  EXPECT_EQ(read_text(target), "new");
  EXPECT_EQ(create_temporary_beside(dir.path("no/such/dir/out.mp4").c_str(), 0, &error_number), nullptr);
  EXPECT_EQ(error_number, ENOENT);
  std::free(first);
  std::free(second);
}

TEST(Platform, TemporaryNamesTellTheirHostAndProcess) {
  const std::string host = temporary_host();
  ASSERT_FALSE(host.empty());
  EXPECT_EQ(host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._"), std::string::npos);
  struct Case {
    const char* leaf;
    bool ours;
    const char* host;
    uint64_t pid;
  };
  const Case cases[] = {
      {".out.mp4.vantorel-box-123-0", true, "box", 123},
      {".out.mp4.vantorel-my_box.lan-4194303-100", true, "my_box.lan", 4194303},
      {".a.vantorel-b.mp4.vantorel-h-7-201", true, "h", 7},  // the output's own name holds the marker
      {".out.mp4.vantorel-123-0", false, "", 0},              // the earlier form, without a host
      {".out.mp4.vantorel--123-0", false, "", 0},
      {".out.mp4.vantorel-box-12a-0", false, "", 0},
      {".out.mp4.vantorel-box-123-", false, "", 0},
      {".out.mp4.vantorel-b:x-123-0", false, "", 0},
      {"out.mp4.vantorel-box-123-0", false, "", 0},
      {"..vantorel-box-1-0", false, "", 0},
      {".out.mp4", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.leaf);
    TemporaryOwner owner{};
    ASSERT_EQ(parse_temporary_name(c.leaf, &owner), c.ours);
    if (c.ours) {
      EXPECT_STREQ(owner.host, c.host);
      EXPECT_EQ(owner.pid, c.pid);
    }
  }
  // What this process makes reads back as this host and process.
  test::TempDir dir;
  int error_number = 0;
  char* made = create_temporary_beside(dir.path("clip.mp4").c_str(), 0, &error_number);
  ASSERT_NE(made, nullptr) << error_number;
  const char* separator = last_path_separator(made);
  TemporaryOwner owner{};
  ASSERT_TRUE(parse_temporary_name(separator != nullptr ? separator + 1 : made, &owner));
  EXPECT_EQ(host, owner.host);
  EXPECT_EQ(owner.pid, current_process_id());
  EXPECT_EQ(remove_file(made), 0);
  std::free(made);
}

TEST(Platform, StaleTemporariesOfThisHostAreRemovedOthersKept) {
  test::TempDir dir;
  const std::string host = temporary_host();
  // No process has this id: Linux's ids stay below 2^22, Windows' are small.
  const std::string dead = "2147483000";
  const std::string live = std::to_string(current_process_id());
  struct Case {
    std::string leaf;
    bool removed;
  };
  const Case cases[] = {
      {".out.mp4.vantorel-" + host + "-" + dead + "-0", true},
      {".out_1.mp4.vantorel-" + host + "-" + dead + "-100", true},  // a part of an earlier split
      {".out.mp4.vantorel-" + host + "-" + live + "-0", false},     // a run still writing
      {".out.mp4.vantorel-another" + host + "-" + dead + "-0", false},  // another machine's
      {".out.mp4.vantorel-" + dead + "-0", false},                  // no host: whose it is cannot be told
      {"notes.txt", false},
  };
  for (const Case& c : cases) write_text(dir.path(c.leaf), "partial");
  const std::string report_path = dir.path("report.txt");
  std::FILE* report = std::fopen(report_path.c_str(), "wb");
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(remove_stale_temporaries(dir.path("out.mp4").c_str(), report), 2u);
  ASSERT_EQ(std::fclose(report), 0);
  std::string said = read_text(report_path);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.leaf);
    EXPECT_EQ(path_present(dir.path(c.leaf).c_str()), !c.removed);
    EXPECT_EQ(said.find(c.leaf) != std::string::npos, c.removed) << said;
  }
  EXPECT_NE(said.find("removed '" + dir.path(cases[0].leaf) + "'"), std::string::npos) << said;
  // Once removed, gone: a second search finds nothing.
  EXPECT_EQ(remove_stale_temporaries(dir.path("out.mp4").c_str(), nullptr), 0u);
}

// The outputs of a run, through the system's temporary files and renames.
TEST(Platform, OutputSetCommitsOrLeavesEverythingAsItWas) {
  test::TempDir dir;
  const std::string existing = dir.path("existing.mp4");
  const std::string fresh = dir.path("fresh.mp4");
  write_text(existing, "before");
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "abort");
    OutputSet set{};
    set.atomic = 1;
    IoFailure failure{};
    ASSERT_EQ(output_set_add(&set, existing.c_str(), &failure), ErrorCode::Ok);
    ASSERT_EQ(output_set_add(&set, fresh.c_str(), &failure), ErrorCode::Ok);
    ASSERT_EQ(output_set_add(&set, kCharacterDevice, &failure), ErrorCode::Ok);
    ASSERT_EQ(set.count, 3u);
    EXPECT_EQ(set.items[2].in_place, 1u);  // a device is written where it is
    for (uint32_t i = 0; i < 2; ++i) {
      EXPECT_EQ(set.items[i].in_place, 0u);
      write_text(set.items[i].write_name, "after");
    }
    EXPECT_EQ(read_text(existing), "before");
    EXPECT_FALSE(path_present(fresh.c_str()));
    if (commit) {
      ASSERT_EQ(output_set_commit(&set, &failure), ErrorCode::Ok);
      EXPECT_EQ(read_text(existing), "after");
      EXPECT_EQ(read_text(fresh), "after");
    } else {
      output_set_abort(&set);
      EXPECT_EQ(read_text(existing), "before");
      EXPECT_FALSE(path_present(fresh.c_str()));
    }
    for (uint32_t i = 0; i < 2; ++i) EXPECT_FALSE(path_present(set.items[i].write_name));
    output_set_release(&set);
    std::free(failure.path);
  }
}

// Away from a console the bytes pass unchanged, a character cut between
// two writes included.
TEST(Platform, ConsoleTextToAFileIsTheBytesGiven) {
  test::TempDir dir;
  const std::string path = dir.path("text");
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  const std::string expected = "caf\xc3\xa9 42 \xe2\x82\xac \xf0\x9f\x8e\xac\n";
  EXPECT_EQ(console_printf(stream, "caf\xc3\xa9 %d ", 42), 9);
  console_write(stream, "\xe2\x82", 2);
  EXPECT_EQ(console_putc(0xAC, stream), 0xAC);
  EXPECT_GE(console_puts(" \xf0\x9f\x8e\xac\n", stream), 0);
  ASSERT_EQ(std::fclose(stream), 0);
  EXPECT_EQ(read_text(path), expected);
  EXPECT_FALSE(stream_is_terminal(nullptr));
}

}  // namespace
}  // namespace vantorel::app
