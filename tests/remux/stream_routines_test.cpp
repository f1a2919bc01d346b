#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "remux/stream_routines.h"

namespace vantorel {
namespace {

// A caller's routine table over one in-memory file that logs every call.
struct FakePlatform {
  std::vector<uint8_t> data;
  uint64_t position = 0;
  std::vector<std::string> calls;
  ErrorCode close_result = ErrorCode::Ok;
};

FakePlatform* fp(void* user) { return static_cast<FakePlatform*>(user); }
ErrorCode f_open(const void*, void** out, uint32_t, void* user) {
  fp(user)->calls.push_back("open");
  *out = user;
  return ErrorCode::Ok;
}
ErrorCode f_close(void*, void* user) {
  fp(user)->calls.push_back("close");
  return fp(user)->close_result;
}
ErrorCode f_seek(void*, const uint64_t* p, void* user) {
  fp(user)->calls.push_back("seek " + std::to_string(*p));
  fp(user)->position = *p;
  return ErrorCode::Ok;
}
ErrorCode f_tell(void*, uint64_t* out, void* user) {
  fp(user)->calls.push_back("tell");
  *out = fp(user)->position;
  return ErrorCode::Ok;
}
ErrorCode f_size(void*, uint64_t* out, void* user) {
  fp(user)->calls.push_back("size");
  *out = fp(user)->data.size();
  return ErrorCode::Ok;
}
ErrorCode f_read(void*, void* buffer, uint32_t count, void* user) {
  FakePlatform* p = fp(user);
  p->calls.push_back("read " + std::to_string(count));
  for (uint32_t i = 0; i < count; ++i) static_cast<uint8_t*>(buffer)[i] = p->data[p->position + i];
  p->position += count;
  return ErrorCode::Ok;
}
ErrorCode f_write(void*, const void*, uint32_t count, void* user) {
  fp(user)->calls.push_back("write " + std::to_string(count));
  return ErrorCode::Ok;
}

StreamContext context_for(FakePlatform* p, Pass pass) {
  return StreamContext{pass, IoRoutines{f_open, f_close, f_seek, f_tell, f_size, f_read, f_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}, p};
}

TEST(StreamRoutines, MeasuringPassSimulatesOutputs) {
  FakePlatform platform;
  StreamContext c = context_for(&platform, Pass::Measure);
  void* h = nullptr;
  EXPECT_EQ(stream_open("x", &h, kOpenRead, &c), ErrorCode::BadArgument);
  ASSERT_EQ(stream_open("x", &h, kOpenCreate, &c), ErrorCode::Ok);
  uint8_t block[100] = {0};
  ASSERT_EQ(stream_write(h, block, 100, &c), ErrorCode::Ok);
  uint64_t p = 50;
  ASSERT_EQ(stream_seek(h, &p, &c), ErrorCode::Ok);
  ASSERT_EQ(stream_write(h, block, 10, &c), ErrorCode::Ok);
  uint64_t size = 0, at = 0;
  stream_size(h, &size, &c);
  stream_tell(h, &at, &c);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(at, 60u);
  p = 500;
  stream_seek(h, &p, &c);
  stream_tell(h, &at, &c);
  EXPECT_EQ(at, 100u);  // clamped to the size
  EXPECT_EQ(stream_close(h, &c), ErrorCode::Ok);
  EXPECT_TRUE(platform.calls.empty());  // nothing touched the platform
}

TEST(StreamRoutines, InputOpenedForRealReadsZerosWhileMeasuring) {
  FakePlatform platform;
  platform.data = std::vector<uint8_t>(20, 0x5A);
  StreamContext c = context_for(&platform, Pass::Write);
  void* h = nullptr;
  ASSERT_EQ(stream_open("in", &h, kOpenRead, &c), ErrorCode::Ok);
  c.pass = Pass::Measure;
  uint8_t buf[16];
  ASSERT_EQ(stream_read(h, buf, 16, &c), ErrorCode::Ok);
  for (uint8_t b : buf) EXPECT_EQ(b, 0);
  uint64_t at = 0;
  stream_tell(h, &at, &c);
  EXPECT_EQ(at, 16u);
  EXPECT_EQ(stream_read(h, buf, 5, &c), ErrorCode::Io);  // past the size
  c.pass = Pass::Write;
  uint64_t p = 2;
  ASSERT_EQ(stream_seek(h, &p, &c), ErrorCode::Ok);
  ASSERT_EQ(stream_read(h, buf, 4, &c), ErrorCode::Ok);
  EXPECT_EQ(buf[0], 0x5A);
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"open", "size", "seek 2", "read 4"}));
  platform.close_result = ErrorCode::Io;  // a failed final flush is reported
  EXPECT_EQ(stream_close(h, &c), ErrorCode::Io);
}

TEST(StreamRoutines, RealPassClampsSeeksBeforeForwarding) {
  FakePlatform platform;
  platform.data = std::vector<uint8_t>(10, 1);
  StreamContext c = context_for(&platform, Pass::Write);
  void* h = nullptr;
  ASSERT_EQ(stream_open("in", &h, kOpenUpdate, &c), ErrorCode::Ok);
  uint64_t p = 1000;
  ASSERT_EQ(stream_seek(h, &p, &c), ErrorCode::Ok);
  EXPECT_EQ(platform.calls.back(), "seek 10");
  uint8_t b[3] = {0};
  ASSERT_EQ(stream_write(h, b, 3, &c), ErrorCode::Ok);
  uint64_t size = 0;
  stream_tell(h, &size, &c);
  EXPECT_EQ(static_cast<StreamHandle*>(h)->size, 13u);
  EXPECT_EQ(stream_open(nullptr, nullptr, 0, &c), ErrorCode::BadArgument);
  EXPECT_EQ(stream_read(h, nullptr, 1, &c), ErrorCode::BadArgument);
  stream_close(h, &c);
}

// An output may be a pipe: creating and writing it never asks the platform
// for a size or a position, and the position told is the bytes written.
TEST(StreamRoutines, CreatedOutputIsWrittenWithoutTellOrSize) {
  FakePlatform platform;
  StreamContext c = context_for(&platform, Pass::Write);
  void* h = nullptr;
  ASSERT_EQ(stream_open("out", &h, kOpenCreate, &c), ErrorCode::Ok);
  uint8_t b[7] = {0};
  ASSERT_EQ(stream_write(h, b, 7, &c), ErrorCode::Ok);
  ASSERT_EQ(stream_write(h, b, 5, &c), ErrorCode::Ok);
  uint64_t at = 0;
  ASSERT_EQ(stream_tell(h, &at, &c), ErrorCode::Ok);
  EXPECT_EQ(at, 12u);
  stream_close(h, &c);
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"open", "write 7", "write 5", "close"}));
}

}  // namespace
}  // namespace vantorel
