#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/byte_io.h"
#include "io/io_routines.h"
#include "mediafile/media_file.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

TEST(MemoryStream, ReadOnlyViewBoundsAndClamping) {
  uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  MemoryPair pair{bytes, sizeof bytes};
  void* h = nullptr;
  ASSERT_EQ(mem_open(&pair, &h, kOpenRead, nullptr), ErrorCode::Ok);
  uint64_t pos = 8;
  ASSERT_EQ(mem_seek(h, &pos, nullptr), ErrorCode::Ok);
  uint8_t out[4];
  EXPECT_EQ(mem_read(h, out, 4, nullptr), ErrorCode::Io);
  EXPECT_EQ(mem_read(h, out, 2, nullptr), ErrorCode::Ok);
  EXPECT_EQ(out[0], 8);
  pos = 20;
  mem_seek(h, &pos, nullptr);
  uint64_t at = 0;
  mem_tell(h, &at, nullptr);
  EXPECT_EQ(at, 10u);
  // A view is never written to.
  EXPECT_EQ(mem_write(h, out, 1, nullptr), ErrorCode::BadArgument);
  // A count near 2^32 must fail, not wrap past the bounds check.
  pos = 4;
  mem_seek(h, &pos, nullptr);
  EXPECT_EQ(mem_read(h, out, 0xFFFFFFFEu, nullptr), ErrorCode::Io);
  EXPECT_EQ(mem_close(h, nullptr), ErrorCode::Ok);
  EXPECT_EQ(bytes[9], 9);  // the caller's buffer survives the close
}

TEST(MemoryStream, GrowsByDoublingFrom256KiB) {
  MemoryPair pair{nullptr, 0};
  void* h = nullptr;
  ASSERT_EQ(mem_open(&pair, &h, kOpenCreate, nullptr), ErrorCode::Ok);
  auto* s = static_cast<MemoryStream*>(h);
  EXPECT_EQ(s->capacity, 262144u);
  std::vector<uint8_t> data(300000, 0xAB);
  ASSERT_EQ(mem_write(h, data.data(), 300000, nullptr), ErrorCode::Ok);
  EXPECT_EQ(s->capacity, 524288u);
  EXPECT_EQ(s->size, 300000u);
  EXPECT_EQ(s->position, 300000u);
  uint64_t pos = 10;
  mem_seek(h, &pos, nullptr);
  uint8_t small[3] = {1, 2, 3};
  mem_write(h, small, 3, nullptr);
  EXPECT_EQ(s->size, 300000u);  // overwriting inside keeps the high-water mark
  EXPECT_EQ(s->data[11], 2);
  // A write whose end would pass 2^32 is refused before anything is copied.
  pos = 300000;
  mem_seek(h, &pos, nullptr);
  EXPECT_EQ(mem_write(h, small, 0xFFFFFFF0u, nullptr), ErrorCode::OutOfMemory);
  EXPECT_EQ(s->size, 300000u);
  mem_close(h, nullptr);
}

TEST(MemoryStream, NullArguments) {
  void* h = nullptr;
  EXPECT_EQ(mem_open(nullptr, &h, 0, nullptr), ErrorCode::BadArgument);
  uint64_t v = 0;
  EXPECT_EQ(mem_tell(nullptr, &v, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(mem_close(nullptr, nullptr), ErrorCode::Ok);
}

std::string write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  // An empty vector's data may be null, which fwrite must not be given.
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(StdStream, ModesAndShortReads) {
  test::TempDir dir;
  std::string path = write_file(dir.path("a.bin"), {1, 2, 3, 4, 5});
  void* h = nullptr;
  EXPECT_EQ(std_open(path.c_str(), &h, 4, nullptr), ErrorCode::BadArgument);
  EXPECT_EQ(std_open(dir.path("missing").c_str(), &h, kOpenRead, nullptr), ErrorCode::Io);
  ASSERT_EQ(std_open(path.c_str(), &h, kOpenRead, nullptr), ErrorCode::Ok);
  uint64_t size = 0;
  EXPECT_EQ(std_size(h, &size, nullptr), ErrorCode::Ok);
  EXPECT_EQ(size, 5u);
  uint8_t buf[8];
  EXPECT_EQ(std_read(h, buf, 8, nullptr), ErrorCode::Io);  // short read
  EXPECT_EQ(std_write(h, buf, 1, nullptr), ErrorCode::Io);  // read-only stream
  [[maybe_unused]] ErrorCode closed = std_close(h, nullptr);
#ifndef _WIN32
  // The Windows C library reports the refused write once more at the close.
  EXPECT_EQ(closed, ErrorCode::Ok);
#endif

  ASSERT_EQ(std_open(path.c_str(), &h, kOpenUpdate, nullptr), ErrorCode::Ok);
  uint64_t pos = 2;
  std_seek(h, &pos, nullptr);
  uint8_t nine = 9;
  EXPECT_EQ(std_write(h, &nine, 1, nullptr), ErrorCode::Ok);
  std_close(h, nullptr);
  FILE* f = std::fopen(path.c_str(), "rb");
  std::fread(buf, 1, 5, f);
  std::fclose(f);
  EXPECT_EQ(buf[2], 9);
  EXPECT_EQ(buf[4], 5);
}

// A 5 GiB sparse file: true size, and seeks and reads past 4 GiB.
TEST(StdStream, SeeksPastFourGiBOnSparseFile) {
  test::TempDir dir;
  std::string path = dir.path("sparse.bin");
  const uint64_t size = 5ull << 30;
  const uint64_t marker_at = (4ull << 30) + 12345;
  uint8_t marker[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  write_file(path, {});
  std::filesystem::resize_file(path, size);
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(marker_at));
    file.write(reinterpret_cast<const char*>(marker), 4);
    ASSERT_TRUE(file.good());
  }

  void* h = nullptr;
  ASSERT_EQ(std_open(path.c_str(), &h, kOpenRead, nullptr), ErrorCode::Ok);
  uint64_t got = 0;
  ASSERT_EQ(std_size(h, &got, nullptr), ErrorCode::Ok);
  EXPECT_EQ(got, size);
  ASSERT_EQ(std_seek(h, &marker_at, nullptr), ErrorCode::Ok);
  uint8_t buf[4] = {0};
  ASSERT_EQ(std_read(h, buf, 4, nullptr), ErrorCode::Ok);
  EXPECT_EQ(0, std::memcmp(buf, marker, 4));
  ASSERT_EQ(std_tell(h, &got, nullptr), ErrorCode::Ok);
  EXPECT_EQ(got, marker_at + 4);
  std_close(h, nullptr);
}

// A routine table whose open records the mode it was given.
uint32_t g_open_mode = 99;
ErrorCode fake_open(const void*, void** out, uint32_t mode, void*) {
  g_open_mode = mode;
  *out = &g_open_mode;
  return ErrorCode::Ok;
}
ErrorCode fake_close(void*, void*) { return ErrorCode::Ok; }
ErrorCode fake_pos(void*, const uint64_t*, void*) { return ErrorCode::Ok; }
ErrorCode fake_out(void*, uint64_t* out, void*) {
  *out = 0;
  return ErrorCode::Ok;
}
ErrorCode fake_read(void*, void*, uint32_t, void*) { return ErrorCode::Io; }
ErrorCode fake_write(void*, const void*, uint32_t, void*) { return ErrorCode::Ok; }

TEST(Attach, IncompleteTablesFallBackAsAWhole) {
  test::TempDir dir;
  std::string path = write_file(dir.path("f.bin"), {1, 2, 3});
  IoOpenParams params{};
  params.routines = IoRoutines{fake_open, fake_close, fake_pos, nullptr, fake_out, fake_read, fake_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  params.path = path.c_str();
  FileIo file{};
  g_open_mode = 99;
  ASSERT_EQ(attach(&file, &params, kOpenRead), ErrorCode::Ok);
  EXPECT_EQ(g_open_mode, 99u);  // the caller's open was not used
  EXPECT_EQ(file.base.routines.read, std_routines().read);
  EXPECT_EQ(file.base.routines.write, std_routines().write);
  EXPECT_STREQ(file.writer_name, "tq4f ");
  EXPECT_EQ(read_u8(&file), 1);
  EXPECT_EQ(detach(&file), ErrorCode::Ok);

  // Creating without a write routine also takes the whole default table.
  params.routines = IoRoutines{fake_open, fake_close, fake_pos, fake_out, fake_out, fake_read, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  params.path = dir.path("new.bin").c_str();
  std::string created = dir.path("new.bin");
  params.path = created.c_str();
  params.writer_name = "me";
  FileIo out{};
  ASSERT_EQ(attach(&out, &params, kOpenCreate), ErrorCode::Ok);
  EXPECT_EQ(out.base.routines.write, std_routines().write);
  EXPECT_STREQ(out.writer_name, "me");
  detach(&out);

  // A complete table is used as it is.
  params.routines = IoRoutines{fake_open, fake_close, fake_pos, fake_out, fake_out, fake_read, fake_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  FileIo mine{};
  ASSERT_EQ(attach(&mine, &params, kOpenUpdate), ErrorCode::Ok);
  EXPECT_EQ(g_open_mode, 3u);
  detach(&mine);
}

TEST(ByteIo, EndianReadersAndWriters) {
  FileIo file{};
  ScopedMemoryStream out(&file);
  ASSERT_EQ(out.open_writable(), ErrorCode::Ok);
  EXPECT_EQ(write_u64be(&file, (uint64_t{1} << 32) + 2), ErrorCode::Ok);
  write_u24be(&file, 0x010203);
  write_u16be(&file, 0xBEEF);
  write_u8(&file, 0x7F);
  write_u32be(&file, 0x01020304);
  MemoryStream* s = out.stream();
  const uint8_t expect[] = {0, 0, 0, 1, 0, 0, 0, 2, 1, 2, 3, 0xBE, 0xEF, 0x7F, 1, 2, 3, 4};
  ASSERT_EQ(s->size, sizeof expect);
  EXPECT_EQ(0, std::memcmp(s->data, expect, sizeof expect));

  std::vector<uint8_t> copy(s->data, s->data + s->size);
  out.close();
  ScopedMemoryStream in(&file);
  ASSERT_EQ(in.open_view(copy.data(), static_cast<uint32_t>(copy.size())), ErrorCode::Ok);
  EXPECT_EQ(read_u64be(&file), (uint64_t{1} << 32) + 2);
  EXPECT_EQ(read_u24be(&file), 66051u);
  EXPECT_EQ(read_u16be(&file), 0xBEEF);
  EXPECT_EQ(read_u8(&file), 0x7F);
  file_seek(&file, 14);
  EXPECT_EQ(read_u32le(&file), 0x04030201u);
  file_seek(&file, 14);
  EXPECT_EQ(read_u32be(&file), 0x01020304u);
  file_seek(&file, 0);
  EXPECT_EQ(read_u64le(&file), 0x0200000001000000ull);
  EXPECT_EQ(file.io_error, 0u);
  // Reading past the end latches the error and yields the zeroed value.
  file_seek(&file, 16);
  EXPECT_EQ(read_u32be(&file), 0u);
  EXPECT_EQ(file.io_error, 1u);
  EXPECT_EQ(file_size(&file), 18u);
}

TEST(ByteIo, RedirectsNestAndRestoreThePreviousTable) {
  FileIo file{};
  uint8_t outer_bytes[2] = {0x11, 0x22};
  uint8_t inner_bytes[1] = {0x99};
  ScopedMemoryStream outer(&file);
  ASSERT_EQ(outer.open_view(outer_bytes, 2), ErrorCode::Ok);
  EXPECT_EQ(read_u8(&file), 0x11);
  {
    ScopedMemoryStream inner(&file);
    ASSERT_EQ(inner.open_view(inner_bytes, 1), ErrorCode::Ok);
    EXPECT_EQ(read_u8(&file), 0x99);
  }
  // Back on the outer stream, where it left off.
  EXPECT_EQ(read_u8(&file), 0x22);
  outer.close();
  EXPECT_EQ(file.current.handle, nullptr);
}

}  // namespace
}  // namespace vantorel
