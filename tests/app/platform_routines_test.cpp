// The platform file routines, POSIX or Windows: one set of cases for both.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/run_state.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

#include "app/windows_routines.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include "app/posix_routines.h"
#endif

namespace vantorel::app {
namespace {

#ifdef _WIN32
constexpr uint32_t kReadBuffer = kWindowsReadBuffer;
constexpr uint32_t kWriteBuffer = kWindowsWriteBuffer;
constexpr uint64_t kWriteCall = UINT64_MAX;  // a write is one call however large
#else
constexpr uint32_t kReadBuffer = kPosixReadBuffer;
constexpr uint32_t kWriteBuffer = kPosixWriteBuffer;
constexpr uint64_t kWriteCall = kPosixWriteCall;
#endif

// System calls for `bytes` written in one go.
uint32_t calls_for(uint64_t bytes) { return static_cast<uint32_t>(bytes / kWriteCall + (bytes % kWriteCall != 0)); }

// System calls for a write of a whole buffer or more after `waiting` bytes:
// on Windows the buffer topped up and sent, then the rest (no gathering
// write); elsewhere both in gathered writes.
uint32_t waiting_then_large(uint64_t waiting, uint64_t size) {
#ifdef _WIN32
  (void)waiting;
  (void)size;
  return 2;
#else
  return calls_for(waiting + size);
#endif
}

const IoRoutines& io = platform_routines();

std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 rng(seed);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Paths are UTF-8, as the routines take them.
std::filesystem::path fs_path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(fs_path(path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.is_open()) << path;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good());
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(fs_path(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t disk_size(const std::string& path) {
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(fs_path(path), ec);
  EXPECT_FALSE(ec) << path;
  return size;
}

// A RunState to receive the routines' failure records.
struct Recorder {
  RunState state;
  Recorder() { run_state_init(&state, nullptr, nullptr, nullptr); }
  ~Recorder() { run_state_release(&state); }
  const IoFailure& failure() const { return state.failure; }
};

ErrorCode seek_to(void* h, uint64_t position, void* user) { return io.seek(h, &position, user); }

PlatformFileStats stats_of(void* h) {
  PlatformFileStats s{};
  EXPECT_EQ(platform_file_stats(h, &s), ErrorCode::Ok);
  return s;
}

TEST(PlatformRoutines, NullPointersAndUnknownModes) {
  test::TempDir dir;
  std::string path = dir.path("f");
  write_file(path, {1, 2, 3});
  void* h = nullptr;
  uint64_t value = 0;
  uint8_t byte = 0;
  EXPECT_EQ(io.open(nullptr, &h, kOpenRead, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.open(path.c_str(), nullptr, kOpenRead, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.open(path.c_str(), &h, 4, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(io.close(nullptr, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.seek(nullptr, &value, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.tell(nullptr, &value, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.size(nullptr, &value, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.read(nullptr, &byte, 1, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.write(nullptr, &byte, 1, nullptr), ErrorCode::BadArgument);
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, nullptr), ErrorCode::Ok);
  EXPECT_EQ(io.seek(h, nullptr, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.tell(h, nullptr, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.size(h, nullptr, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.read(h, nullptr, 1, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.write(h, nullptr, 1, nullptr), ErrorCode::BadArgument);
  // Beyond what an off_t can hold.
  EXPECT_EQ(seek_to(h, uint64_t{1} << 63, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(io.close(h, nullptr), ErrorCode::Ok);
}

TEST(PlatformRoutines, OpenModes) {
  test::TempDir dir;
  const std::vector<uint8_t> original = {10, 11, 12, 13, 14, 15, 16, 17};
  const uint8_t patch[2] = {0xAA, 0xBB};

  for (uint32_t mode : {kOpenRead, kOpenInspect}) {
    SCOPED_TRACE(mode);
    std::string path = dir.path("read" + std::to_string(mode));
    write_file(path, original);
    Recorder rec;
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, mode, &rec.state), ErrorCode::Ok);
    uint8_t got[8];
    ASSERT_EQ(io.read(h, got, 8, &rec.state), ErrorCode::Ok);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 8), original);
    EXPECT_EQ(io.write(h, patch, 2, &rec.state), ErrorCode::Io);
    EXPECT_EQ(rec.failure().error_number, EBADF);
    EXPECT_EQ(io.close(h, &rec.state), ErrorCode::Ok);
    EXPECT_EQ(read_file(path), original);
  }

  {  // Update mode keeps the contents and changes only what is written.
    std::string path = dir.path("update");
    write_file(path, original);
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenUpdate, nullptr), ErrorCode::Ok);
    uint64_t size = 0;
    ASSERT_EQ(io.size(h, &size, nullptr), ErrorCode::Ok);
    EXPECT_EQ(size, 8u);
    ASSERT_EQ(seek_to(h, 3, nullptr), ErrorCode::Ok);
    ASSERT_EQ(io.write(h, patch, 2, nullptr), ErrorCode::Ok);
    ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
    EXPECT_EQ(read_file(path), (std::vector<uint8_t>{10, 11, 12, 0xAA, 0xBB, 15, 16, 17}));
    Recorder rec;
    EXPECT_EQ(io.open(dir.path("absent").c_str(), &h, kOpenUpdate, &rec.state), ErrorCode::Io);
    EXPECT_EQ(rec.failure().error_number, ENOENT);
  }

  {  // Create truncates an existing file and makes new ones 0666 less the umask.
    std::string path = dir.path("create");
    write_file(path, original);
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
    EXPECT_EQ(disk_size(path), 0u);
    ASSERT_EQ(io.write(h, patch, 2, nullptr), ErrorCode::Ok);
    ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
    EXPECT_EQ(read_file(path), (std::vector<uint8_t>{0xAA, 0xBB}));

#ifndef _WIN32
    mode_t old_mask = umask(022);
    std::string fresh = dir.path("fresh");
    ASSERT_EQ(io.open(fresh.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
    ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
    umask(old_mask);
    struct stat info {};
    ASSERT_EQ(stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
#endif
  }
}

TEST(PlatformRoutines, FailedOpensRecordPathAndCause) {
  test::TempDir dir;
  struct Case {
    std::string path;
    uint32_t mode;
    int error_number;
  };
  const Case cases[] = {
      {dir.path("missing.mp4"), kOpenRead, ENOENT},
      {dir.path("no/such/dir/out.mp4"), kOpenCreate, ENOENT},
      {dir.dir(), kOpenRead, EISDIR},
      {dir.dir(), kOpenCreate, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Recorder rec;
    void* h = reinterpret_cast<void*>(1);
    EXPECT_EQ(io.open(c.path.c_str(), &h, c.mode, &rec.state), ErrorCode::Io);
    EXPECT_EQ(h, nullptr);
    ASSERT_EQ(rec.failure().set, 1u);
    EXPECT_STREQ(rec.failure().operation, "open");
    ASSERT_NE(rec.failure().path, nullptr);
    EXPECT_EQ(rec.failure().path, c.path);
    EXPECT_EQ(rec.failure().error_number, c.error_number);
  }
  // Without a state the failure is still reported, just not recorded.
  void* h = nullptr;
  EXPECT_EQ(io.open(dir.path("missing.mp4").c_str(), &h, kOpenRead, nullptr), ErrorCode::Io);
}

TEST(PlatformRoutines, ShortReadsFail) {
  test::TempDir dir;
  std::string path = dir.path("ten");
  write_file(path, pattern(10, 1));
  struct Case {
    uint64_t at;
    uint32_t count;
  };
  // Buffered and direct reads alike; the last starts past the end.
  const Case cases[] = {{0, 16}, {8, 4}, {0, kReadBuffer + 1}, {20, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    Recorder rec;
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, &rec.state), ErrorCode::Ok);
    std::vector<uint8_t> buffer(c.count < 8 ? 8 : c.count);
    ASSERT_EQ(seek_to(h, c.at, &rec.state), ErrorCode::Ok);
    EXPECT_EQ(io.read(h, buffer.data(), c.count, &rec.state), ErrorCode::Io);
    EXPECT_STREQ(rec.failure().operation, "read");
    EXPECT_EQ(rec.failure().error_number, 0);
    EXPECT_EQ(rec.failure().path, path);
    // What is there can still be read.
    ASSERT_EQ(seek_to(h, 2, &rec.state), ErrorCode::Ok);
    EXPECT_EQ(io.read(h, buffer.data(), 8, &rec.state), ErrorCode::Ok);
    EXPECT_EQ(io.close(h, &rec.state), ErrorCode::Ok);
  }
}

TEST(PlatformRoutines, SmallTransfersAreBufferedLargeOnesGoStraight) {
  test::TempDir dir;
  std::string path = dir.path("data");
  const std::vector<uint8_t> data = pattern(3 * kWriteBuffer + 12345, 2);

  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
  // Small pieces of varied size, then one piece larger than the buffer.
  size_t at = 0;
  uint32_t piece = 1;
  while (at < kWriteBuffer) {
    ASSERT_EQ(io.write(h, data.data() + at, piece, nullptr), ErrorCode::Ok);
    at += piece;
    piece = piece % 97 + 1;
  }
  uint32_t writes_after_small = stats_of(h).system_writes;
  EXPECT_LE(writes_after_small, 2 * calls_for(kWriteBuffer));
  ASSERT_EQ(io.write(h, data.data() + at, 2 * kWriteBuffer, nullptr), ErrorCode::Ok);
  at += 2 * kWriteBuffer;
  ASSERT_EQ(io.write(h, data.data() + at, static_cast<uint32_t>(data.size() - at), nullptr), ErrorCode::Ok);
  EXPECT_LE(stats_of(h).system_writes, writes_after_small + 2 + calls_for(data.size()));
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
  ASSERT_EQ(read_file(path), data);

  ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, nullptr), ErrorCode::Ok);
  std::vector<uint8_t> back(data.size());
  at = 0;
  piece = 1;
  while (at < kReadBuffer * 2) {
    ASSERT_EQ(io.read(h, back.data() + at, piece, nullptr), ErrorCode::Ok);
    at += piece;
    piece = piece % 89 + 1;
  }
  // About one system call per buffer, not one per read.
  EXPECT_LE(stats_of(h).system_reads, 4u);
  ASSERT_EQ(io.read(h, back.data() + at, static_cast<uint32_t>(data.size() - at), nullptr), ErrorCode::Ok);
  EXPECT_EQ(back, data);
  uint64_t value = 0;
  ASSERT_EQ(io.tell(h, &value, nullptr), ErrorCode::Ok);
  EXPECT_EQ(value, data.size());
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
}

// Transfers that end just short of, exactly at and just past a buffer's end.
TEST(PlatformRoutines, TransfersAroundTheBufferSize) {
  test::TempDir dir;
  const uint32_t w = kWriteBuffer;
  const uint32_t r = kReadBuffer;
  const std::vector<std::vector<uint32_t>> write_sequences = {
      {w - 1, 2}, {w - 1, 1, 1}, {w, 1}, {1, w - 1, 1}, {1, w}, {w + 1, 3}, {3, w - 3, w - 1, 5}};
  const std::vector<std::vector<uint32_t>> read_sequences = {
      {r - 1, 2}, {r - 1, 1, 1}, {r, 1}, {1, r - 1, 1}, {1, r}, {r + 1, 3}, {3, r - 3, r - 1, 5}};
  for (size_t i = 0; i < write_sequences.size(); ++i) {
    SCOPED_TRACE(i);
    size_t total = 0;
    for (uint32_t n : write_sequences[i]) total += n;
    const std::vector<uint8_t> data = pattern(total + 2 * r, static_cast<uint32_t>(i));
    std::string path = dir.path("edge" + std::to_string(i));
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
    size_t at = 0;
    for (uint32_t n : write_sequences[i]) {
      ASSERT_EQ(io.write(h, data.data() + at, n, nullptr), ErrorCode::Ok);
      at += n;
    }
    ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
    EXPECT_TRUE(read_file(path) == std::vector<uint8_t>(data.begin(), data.begin() + static_cast<long>(total)));

    write_file(path, data);
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, nullptr), ErrorCode::Ok);
    at = 0;
    for (uint32_t n : read_sequences[i]) {
      std::vector<uint8_t> got(n);
      ASSERT_EQ(io.read(h, got.data(), n, nullptr), ErrorCode::Ok);
      ASSERT_EQ(0, std::memcmp(got.data(), data.data() + at, n));
      at += n;
    }
    ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
  }
}

TEST(PlatformRoutines, SeekInsideTheReadBufferKeepsIt) {
  test::TempDir dir;
  std::string path = dir.path("data");
  const std::vector<uint8_t> data = pattern(3 * kReadBuffer, 3);
  write_file(path, data);
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, nullptr), ErrorCode::Ok);
  uint8_t got[64];
  auto read_at = [&](uint64_t at, uint32_t count) {
    EXPECT_EQ(seek_to(h, at, nullptr), ErrorCode::Ok);
    ASSERT_EQ(io.read(h, got, count, nullptr), ErrorCode::Ok);
    EXPECT_EQ(0, std::memcmp(got, data.data() + at, count)) << "at " << at;
  };
  read_at(100, 16);
  uint32_t reads = stats_of(h).system_reads;
  // Inside the buffer, back and forth: no system call.
  for (uint64_t at : {5000u, 100u, 200000u, 150u, 100u + kReadBuffer - 64}) read_at(at, 64);
  EXPECT_EQ(stats_of(h).system_reads, reads);
  // Before the buffer and beyond it: fresh data from the file.
  read_at(50, 16);
  EXPECT_GT(stats_of(h).system_reads, reads);
  reads = stats_of(h).system_reads;
  read_at(2 * kReadBuffer + 7, 64);
  EXPECT_GT(stats_of(h).system_reads, reads);
  // A read straddling the buffer's end is served from both.
  read_at(3 * kReadBuffer - 40, 40);
  read_at(2 * kReadBuffer + 7 + kReadBuffer - 80, 64);
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
}

// Random seeks, reads and writes in update mode, checked against a model of
// the file, so stale read buffers or lost pending writes show up.
TEST(PlatformRoutines, UpdateModeReadsSeeWhatWasWritten) {
  test::TempDir dir;
  std::string path = dir.path("update");
  std::vector<uint8_t> model = pattern(2 * kReadBuffer + 999, 4);
  write_file(path, model);
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenUpdate, nullptr), ErrorCode::Ok);

  std::mt19937 rng(5);
  uint64_t position = 0;
  std::vector<uint8_t> buffer;
  auto random_count = [&]() -> uint32_t {
    switch (rng() % 8) {
      case 0: return kReadBuffer + rng() % 1000;  // straight to the file
      case 1: return 1 + rng() % 70000;
      default: return 1 + rng() % 300;
    }
  };
  for (int step = 0; step < 2000; ++step) {
    SCOPED_TRACE(step);
    switch (rng() % 4) {
      case 0: {  // seek, mostly near where we are, sometimes past the end
        uint64_t target = rng() % 2 ? (position > 500 ? position - rng() % 500 : 0) + rng() % 1000
                                    : rng() % (model.size() + 2000);
        ASSERT_EQ(seek_to(h, target, nullptr), ErrorCode::Ok);
        position = target;
        break;
      }
      case 1:
      case 2: {
        uint32_t count = random_count();
        buffer.resize(count);
        ErrorCode result = io.read(h, buffer.data(), count, nullptr);
        if (position + count > model.size()) {
          EXPECT_EQ(result, ErrorCode::Io);
          ASSERT_EQ(seek_to(h, position, nullptr), ErrorCode::Ok);
        } else {
          ASSERT_EQ(result, ErrorCode::Ok);
          ASSERT_EQ(0, std::memcmp(buffer.data(), model.data() + position, count));
          position += count;
        }
        break;
      }
      case 3: {
        uint32_t count = random_count() / (rng() % 2 ? 1 : 4) + 1;
        buffer = pattern(count, static_cast<uint32_t>(step));
        ASSERT_EQ(io.write(h, buffer.data(), count, nullptr), ErrorCode::Ok);
        if (position + count > model.size()) model.resize(position + count, 0);
        std::memcpy(model.data() + position, buffer.data(), count);
        position += count;
        break;
      }
    }
    if (step % 97 == 0) {
      uint64_t value = 0;
      ASSERT_EQ(io.tell(h, &value, nullptr), ErrorCode::Ok);
      EXPECT_EQ(value, position);
      ASSERT_EQ(io.size(h, &value, nullptr), ErrorCode::Ok);
      EXPECT_EQ(value, model.size());
    }
  }
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
  EXPECT_TRUE(read_file(path) == model);
}

TEST(PlatformRoutines, SizeFlushesPendingWritesAndTellDoesNot) {
  test::TempDir dir;
  std::string path = dir.path("out");
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
  const std::vector<uint8_t> data = pattern(150, 6);
  ASSERT_EQ(io.write(h, data.data(), 100, nullptr), ErrorCode::Ok);
  EXPECT_EQ(disk_size(path), 0u);  // still buffered
  uint64_t value = 0;
  ASSERT_EQ(io.size(h, &value, nullptr), ErrorCode::Ok);
  EXPECT_EQ(value, 100u);
  EXPECT_EQ(disk_size(path), 100u);
  ASSERT_EQ(io.write(h, data.data() + 100, 50, nullptr), ErrorCode::Ok);
  ASSERT_EQ(io.tell(h, &value, nullptr), ErrorCode::Ok);
  EXPECT_EQ(value, 150u);
  EXPECT_EQ(disk_size(path), 100u);  // the handle knows its position: asking costs no write
  // Seeking back to patch a header is flushed too, and lands where asked.
  ASSERT_EQ(seek_to(h, 10, nullptr), ErrorCode::Ok);
  EXPECT_EQ(read_file(path), data);
  ASSERT_EQ(io.write(h, "\x01\x02", 2, nullptr), ErrorCode::Ok);
  ASSERT_EQ(seek_to(h, 150, nullptr), ErrorCode::Ok);
  EXPECT_EQ(read_file(path)[11], 2);
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
}

TEST(PlatformRoutines, PositionsBeyondFourGiB) {
  test::TempDir dir;
  std::string path = dir.path("sparse");
  const uint64_t size = uint64_t{5} << 30;
  const uint64_t marker_at = (uint64_t{4} << 30) + 12345;
  const char marker[] = "past four GiB";
  write_file(path, {});
  std::error_code ec;
  std::filesystem::resize_file(fs_path(path), size, ec);
  if (ec) GTEST_SKIP() << "no large sparse files here";
  {
    std::fstream file(fs_path(path), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(marker_at));
    file.write(marker, sizeof marker);
    ASSERT_TRUE(file.good());
  }
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenUpdate, nullptr), ErrorCode::Ok);
  uint64_t value = 0;
  ASSERT_EQ(io.size(h, &value, nullptr), ErrorCode::Ok);
  EXPECT_EQ(value, size);
  ASSERT_EQ(seek_to(h, marker_at, nullptr), ErrorCode::Ok);
  ASSERT_EQ(io.tell(h, &value, nullptr), ErrorCode::Ok);
  EXPECT_EQ(value, marker_at);
  char got[sizeof marker] = {};
  ASSERT_EQ(io.read(h, got, sizeof got, nullptr), ErrorCode::Ok);
  EXPECT_STREQ(got, marker);
  // A write there lands at the true offset, not wrapped below 4 GiB.
  ASSERT_EQ(seek_to(h, size - 4, nullptr), ErrorCode::Ok);
  ASSERT_EQ(io.write(h, "tail", 4, nullptr), ErrorCode::Ok);
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
  std::ifstream file(fs_path(path), std::ios::binary);
  char tail[4] = {};
  file.seekg(static_cast<std::streamoff>(size - 4));
  EXPECT_TRUE(file.read(tail, 4));
  char low[4] = {};
  file.seekg(static_cast<std::streamoff>((size - 4) & 0xFFFFFFFFu));
  EXPECT_TRUE(file.read(low, 4));
  EXPECT_EQ(std::string(tail, 4), "tail");
  EXPECT_EQ(std::string(low, 4), std::string(4, '\0'));
}

// Output leaves in whole blocks of the buffer's size, whatever the sizes
// written, and the bytes arrive as written; only the last block is short.
TEST(PlatformRoutines, WritesLeaveInWholeBlocks) {
  test::TempDir dir;
  std::string path = dir.path("blocks");
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
  struct Step {
    uint32_t size;
    uint32_t system_writes_after;
    uint64_t on_disk_after;
  };
  const uint32_t block = kWriteBuffer;
  const uint32_t waiting = 2 * (block / 3) + block / 2 - block;
  const uint32_t first = calls_for(block);
  const uint32_t second = first + waiting_then_large(waiting, 3 * uint64_t{block});
  const Step steps[] = {
      {block / 3, 0, 0},          // buffered
      {block / 3, 0, 0},          // buffered
      {block / 2, first, block},  // fills the block, which leaves; the rest waits
      // A write of a block or more leaves at once, with the bytes waiting
      // before it (in one gathered write where the system has them, cut
      // into calls of at most kWriteCall bytes).
      {3 * block, second, 2 * uint64_t{block / 3} + block / 2 + 3 * uint64_t{block}},
      {17, second, 2 * uint64_t{block / 3} + block / 2 + 3 * uint64_t{block}},
      {block, second + waiting_then_large(17, block), 2 * uint64_t{block / 3} + block / 2 + 4 * uint64_t{block} + 17},
  };
  std::vector<uint8_t> all;
  uint8_t seed = 1;
  for (const Step& s : steps) {
    std::vector<uint8_t> data = pattern(s.size, seed++);
    all.insert(all.end(), data.begin(), data.end());
    ASSERT_EQ(io.write(h, data.data(), s.size, nullptr), ErrorCode::Ok);
    PlatformFileStats stats{};
    ASSERT_EQ(platform_file_stats(h, &stats), ErrorCode::Ok);
    EXPECT_EQ(stats.system_writes, s.system_writes_after) << s.size;
    EXPECT_EQ(disk_size(path), s.on_disk_after) << s.size;
  }
  ASSERT_EQ(io.close(h, nullptr), ErrorCode::Ok);
  EXPECT_EQ(read_file(path), all);
}

// A directory of any name length; false when it cannot be made.
bool make_directory(const std::string& path) {
#ifdef _WIN32
  int error_number = 0;
  wchar_t* wide = windows_path(path.c_str(), &error_number);
  bool made = wide != nullptr && CreateDirectoryW(wide, nullptr);
  std::free(wide);
  return made;
#else
  return mkdir(path.c_str(), 0777) == 0;
#endif
}

// Names reach the system as the UTF-8 they are, whatever their letters and
// however long the path (Windows: beyond its classic 260 characters).
TEST(PlatformRoutines, NamesBeyondAsciiAndPastTheClassicLength) {
  test::TempDir dir;
  const std::string deep = dir.path(std::string(120, 'd')) + "/" + std::string(120, 'e');
  ASSERT_TRUE(make_directory(dir.path(std::string(120, 'd'))));
  ASSERT_TRUE(make_directory(deep));
  struct Case {
    std::string folder;
    std::string leaf;
    bool list_folder;  // the folder is listed to find the name as given
  };
  const Case cases[] = {
      {dir.dir(), "\xc3\xa9" "chantillon-\xc3\xbc.mp4", true},
      {dir.dir(), "\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xac.mov", true},
      {deep, std::string(60, 'f') + ".mp4", false},
      {deep, "\xc3\x9f" + std::string(60, 'g'), false},
  };
  for (const Case& c : cases) {
    const std::string path = c.folder + "/" + c.leaf;
    SCOPED_TRACE(path);
    const std::vector<uint8_t> data = pattern(3000, static_cast<uint32_t>(path.size()));
    Recorder rec;
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, &rec.state), ErrorCode::Ok);
    ASSERT_EQ(io.write(h, data.data(), static_cast<uint32_t>(data.size()), &rec.state), ErrorCode::Ok);
    ASSERT_EQ(io.close(h, &rec.state), ErrorCode::Ok);
    EXPECT_TRUE(path_present(path.c_str()));
    FileIdentity identity{};
    EXPECT_TRUE(file_identity(path.c_str(), &identity));
    if (c.list_folder) {
      bool found = false;
      for (const auto& entry : std::filesystem::directory_iterator(fs_path(c.folder))) {
        std::u8string leaf = entry.path().filename().u8string();
        found = found || std::string(leaf.begin(), leaf.end()) == c.leaf;
      }
      EXPECT_TRUE(found) << "no file under the name given";
    }
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, &rec.state), ErrorCode::Ok);
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(io.read(h, back.data(), static_cast<uint32_t>(back.size()), &rec.state), ErrorCode::Ok);
    ASSERT_EQ(io.close(h, &rec.state), ErrorCode::Ok);
    EXPECT_EQ(back, data);
    EXPECT_EQ(remove_file(path.c_str()), 0);
    EXPECT_FALSE(path_present(path.c_str()));
  }
}

// Standard output is a stream: only where it is may be sought, and it can
// be neither read nor measured. Nothing is written to it here.
TEST(PlatformRoutines, StandardOutputIsWrittenInOrder) {
  Recorder rec;
  void* h = nullptr;
  ASSERT_EQ(io.open(kStandardOutputName, &h, kOpenCreate, &rec.state), ErrorCode::Ok);
  EXPECT_EQ(seek_to(h, 0, &rec.state), ErrorCode::Ok);
  uint8_t byte = 0;
  uint64_t value = 0;
  struct Case {
    const char* operation;
    std::function<ErrorCode()> run;
  };
  const Case cases[] = {
      {"seek", [&] { return seek_to(h, 10, &rec.state); }},
      {"read", [&] { return io.read(h, &byte, 1, &rec.state); }},
      {"read", [&] { return io.read_at(h, 0, &byte, 1, &rec.state); }},
      {"size", [&] { return io.size(h, &value, &rec.state); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    rec.state.failure.set = 0;
    EXPECT_EQ(c.run(), ErrorCode::Io);
    ASSERT_EQ(rec.failure().set, 1u);
    EXPECT_STREQ(rec.failure().operation, c.operation);
    EXPECT_EQ(rec.failure().error_number, ESPIPE);
    EXPECT_EQ(rec.failure().path, std::string("standard output"));
  }
  EXPECT_EQ(io.close(h, &rec.state), ErrorCode::Ok);
}

#ifndef _WIN32
TEST(PlatformRoutines, FullDiskIsAFailureUpToTheClose) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const uint8_t small[100] = {};
  struct Case {
    const char* name;
    bool fill_first;  // fail when the buffer fills, before the close
  };
  for (const Case& c : {Case{"at close", false}, Case{"when the buffer fills, then at close", true}}) {
    SCOPED_TRACE(c.name);
    Recorder rec;
    void* h = nullptr;
    ASSERT_EQ(io.open("/dev/full", &h, kOpenCreate, &rec.state), ErrorCode::Ok);
    ASSERT_EQ(io.write(h, small, sizeof small, &rec.state), ErrorCode::Ok);  // buffered
    if (c.fill_first) {
      std::vector<uint8_t> rest(kWriteBuffer);
      EXPECT_EQ(io.write(h, rest.data(), kWriteBuffer - 50, &rec.state), ErrorCode::Io);
    }
    // The data never reached the device, so the close must not succeed.
    EXPECT_EQ(io.close(h, &rec.state), ErrorCode::Io);
    ASSERT_EQ(rec.failure().set, 1u);
    EXPECT_STREQ(rec.failure().operation, "write");
    EXPECT_EQ(rec.failure().path, std::string("/dev/full"));
    EXPECT_EQ(rec.failure().error_number, ENOSPC);
  }
  // A write too large to buffer fails at once.
  Recorder rec;
  void* h = nullptr;
  ASSERT_EQ(io.open("/dev/full", &h, kOpenCreate, &rec.state), ErrorCode::Ok);
  std::vector<uint8_t> large(kWriteBuffer);
  EXPECT_EQ(io.write(h, large.data(), kWriteBuffer, &rec.state), ErrorCode::Io);
  EXPECT_EQ(rec.failure().error_number, ENOSPC);
  EXPECT_EQ(io.close(h, &rec.state), ErrorCode::Io);
}
#endif

// A scattered read fills its pieces in turn from one stretch of the file:
// empty pieces, more pieces than one system call takes, and a stretch that
// runs past the end (a failure naming the file).
TEST(PlatformRoutines, ScatteredReadsFillTheirPiecesInTurn) {
  if (io.read_pieces_at == nullptr) GTEST_SKIP() << "the platform reads no pieces";
  test::TempDir dir;
  const std::string path = dir.path("pieces.bin");
  const std::vector<uint8_t> bytes = pattern(64 * 1024, 9);
  write_file(path, bytes);
  struct Case {
    const char* name;
    uint64_t position;
    std::vector<uint32_t> sizes;
    bool fits;
  };
  std::vector<uint32_t> many(1500, 7);
  many[700] = 0;
  const Case cases[] = {
      {"one piece", 10, {100}, true},
      {"empty pieces among others", 0, {0, 5, 0, 0, 9, 0}, true},
      {"more pieces than a call takes", 3, many, true},
      {"past the end", 64 * 1024 - 10, {5, 6}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder r;
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, &r.state), ErrorCode::Ok);
    std::vector<std::vector<uint8_t>> buffers;
    for (uint32_t n : c.sizes) buffers.emplace_back(n, 0xEE);
    std::vector<IoPiece> pieces;
    for (auto& b : buffers) pieces.push_back(IoPiece{b.data(), static_cast<uint32_t>(b.size())});
    ErrorCode e = io.read_pieces_at(h, c.position, pieces.data(), static_cast<uint32_t>(pieces.size()), &r.state);
    if (!c.fits) {
      EXPECT_EQ(e, ErrorCode::Io);
      EXPECT_NE(std::string(r.failure().path).find("pieces.bin"), std::string::npos);
    } else {
      ASSERT_EQ(e, ErrorCode::Ok);
      uint64_t at = c.position;
      for (const auto& b : buffers) {
        EXPECT_TRUE(std::equal(b.begin(), b.end(), bytes.begin() + static_cast<long>(at)));
        at += b.size();
      }
      // The handle's own position stays where it was.
      uint64_t position = 1;
      EXPECT_EQ(io.tell(h, &position, &r.state), ErrorCode::Ok);
      EXPECT_EQ(position, 0u);
    }
    EXPECT_EQ(io.close(h, &r.state), ErrorCode::Ok);
  }
}

// A gathered write leaves its pieces in turn after what was buffered before
// it, whatever their count and size; the result is the file a write a piece
// would have made.
TEST(PlatformRoutines, GatheredWritesKeepOrderAfterBufferedBytes) {
  if (io.write_pieces == nullptr) GTEST_SKIP() << "the platform gathers no writes";
  test::TempDir dir;
  struct Case {
    const char* name;
    uint32_t before;  // bytes written (and buffered) first
    std::vector<uint32_t> sizes;
  };
  std::vector<uint32_t> many(2500, 301);  // more pieces than a call takes, past the buffering threshold
  many[1000] = 0;
  const Case cases[] = {
      {"small: buffered", 10, {100, 0, 7}},
      {"large after buffered bytes", 1000, {700 * 1024, 5, 300 * 1024}},
      {"large alone", 0, {2 * kWriteBuffer}},
      {"many pieces", 33, many},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.path("gathered.bin");
    Recorder r;
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, &r.state), ErrorCode::Ok);
    std::vector<uint8_t> expected = pattern(c.before, 1);
    if (c.before > 0) {
      ASSERT_EQ(io.write(h, expected.data(), c.before, &r.state), ErrorCode::Ok);
    }
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<IoConstPiece> pieces;
    for (uint32_t n : c.sizes) buffers.push_back(pattern(n, static_cast<uint32_t>(buffers.size()) + 2));
    for (const auto& b : buffers) {
      pieces.push_back(IoConstPiece{b.data(), static_cast<uint32_t>(b.size())});
      expected.insert(expected.end(), b.begin(), b.end());
    }
    ASSERT_EQ(io.write_pieces(h, pieces.data(), static_cast<uint32_t>(pieces.size()), &r.state), ErrorCode::Ok);
    const std::vector<uint8_t> tail = pattern(17, 99);
    ASSERT_EQ(io.write(h, tail.data(), 17, &r.state), ErrorCode::Ok);  // the position moved past the pieces
    expected.insert(expected.end(), tail.begin(), tail.end());
    ASSERT_EQ(io.close(h, &r.state), ErrorCode::Ok);
    EXPECT_EQ(read_file(path), expected);
  }
}

// A view shows the file's bytes from any position; one past the end is a
// failure naming the file, never a mapping that faults when touched.
TEST(PlatformRoutines, ViewsShowTheFileInPlace) {
  if (io.view_at == nullptr) GTEST_SKIP() << "the platform has no views";
  test::TempDir dir;
  const std::string path = dir.path("view.bin");
  const std::vector<uint8_t> bytes = pattern(100 * 1024, 5);
  write_file(path, bytes);
  Recorder r;
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, &r.state), ErrorCode::Ok);
  for (uint64_t position : {uint64_t{0}, uint64_t{1}, uint64_t{4095}, uint64_t{4096}, uint64_t{70001}}) {
    IoView view{};
    ASSERT_EQ(io.view_at(h, position, 1000, &view, &r.state), ErrorCode::Ok) << position;
    EXPECT_TRUE(std::equal(view.data, view.data + 1000, bytes.begin() + static_cast<long>(position))) << position;
    EXPECT_EQ(io.unview(h, &view, &r.state), ErrorCode::Ok);
    EXPECT_EQ(view.base, nullptr);
  }
  IoView past{};
  EXPECT_EQ(io.view_at(h, bytes.size() - 10, 11, &past, &r.state), ErrorCode::Io);
  EXPECT_EQ(past.base, nullptr);
  EXPECT_NE(std::string(r.failure().path).find("view.bin"), std::string::npos);
  EXPECT_EQ(io.close(h, &r.state), ErrorCode::Ok);
}

#ifndef _WIN32
// Room set aside for a file being written leaves its size and bytes as
// written, and what goes unwritten is given back at the close. Where the file
// system sets nothing aside, the same holds trivially.
TEST(PlatformRoutines, ReservedRoomLeavesTheFileAsWritten) {
  ASSERT_NE(io.reserve, nullptr);
  test::TempDir dir;
  const std::string path = dir.path("reserved.bin");
  struct Case {
    const char* name;
    uint64_t reserve;
    size_t written;
  };
  const Case cases[] = {{"as much as written", 1u << 20, 1u << 20},
                        {"more than written", 8u << 20, 100 * 1024 + 7},
                        {"less than written", 10 * 1024, 300 * 1024 + 3},
                        {"nothing written", 4u << 20, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = pattern(c.written, 3);
    Recorder r;
    void* h = nullptr;
    ASSERT_EQ(io.open(path.c_str(), &h, kOpenCreate, &r.state), ErrorCode::Ok);
    ASSERT_EQ(io.reserve(h, c.reserve, &r.state), ErrorCode::Ok);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    if (!bytes.empty()) {
      ASSERT_EQ(io.write(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &r.state), ErrorCode::Ok);
    }
    ASSERT_EQ(io.close(h, &r.state), ErrorCode::Ok);
    EXPECT_EQ(read_file(path), bytes);
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    // Its blocks: those its bytes fill, and one the file system may keep for
    // the file's own records (extended attributes).
    const uint64_t block = static_cast<uint64_t>(info.st_blksize);
    EXPECT_LE(static_cast<uint64_t>(info.st_blocks) * 512, (bytes.size() + block - 1) / block * block + block);
  }
  // Nothing is set aside for a file opened to be read or for a stream.
  Recorder r;
  void* h = nullptr;
  ASSERT_EQ(io.open(path.c_str(), &h, kOpenRead, &r.state), ErrorCode::Ok);
  EXPECT_EQ(io.reserve(h, 1u << 20, &r.state), ErrorCode::Ok);
  EXPECT_EQ(io.close(h, &r.state), ErrorCode::Ok);
  ASSERT_EQ(io.open(kStandardOutputName, &h, kOpenCreate, &r.state), ErrorCode::Ok);
  EXPECT_EQ(io.reserve(h, 1u << 20, &r.state), ErrorCode::Ok);
  EXPECT_EQ(io.close(h, &r.state), ErrorCode::Ok);
  EXPECT_EQ(r.failure().set, 0u);
}
#endif

}  // namespace
}  // namespace vantorel::app
