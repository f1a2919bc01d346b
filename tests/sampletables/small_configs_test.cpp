#include <gtest/gtest.h>

#include "codecs/config_support.h"
#include "sampletables/small_configs.h"

namespace vantorel {
namespace {

using namespace test;

// ---- small boxes ------------------------------------------------------------------------

template <class R>
struct SmallBox {
  ErrorCode (*read)(BoxFile*, const BoxHeader*, R*);
  ErrorCode (*write)(BoxFile*, const R*);
  uint64_t size;
};

template <class R>
void check_small(const char* type, SmallBox<R> ops, const Bytes& payload) {
  SCOPED_TRACE(type);
  MemoryFile in(in_file(type, payload));
  R r{};
  ASSERT_EQ(read_config(in, &r, ops.read), ErrorCode::Ok);
  EXPECT_EQ(payload.size(), ops.size);
  MemoryFile out({}, kOpenCreate);
  ASSERT_EQ(ops.write(out.get(), &r), ErrorCode::Ok);
  EXPECT_EQ(out.contents(), payload);
  Bytes cut(payload.begin(), payload.end() - 1);
  MemoryFile short_in(in_file(type, cut));
  R s{};
  EXPECT_EQ(read_config(short_in, &s, ops.read), ErrorCode::Malformed);
}

TEST(SmallConfigs, RoundTripAndRejectShortBoxes) {
  check_small<BtrtRecord>("btrt", {btrt_read, btrt_write, kBtrtSize}, hex("00010203 04050607 08090a0b"));
  check_small<D263Record>("d263", {d263_read, d263_write, kD263Size}, hex("6d346176 01 0a 00"));
  check_small<FielRecord>("fiel", {fiel_read, fiel_write, kFielSize}, hex("02 0e"));
  check_small<UuidExtensionRecord>("free", {uuid_extension_read, uuid_extension_write, kUuidExtensionSize},
                                   hex("deadbeef"));
  check_small<DamrRecord>("damr", {damr_read, damr_write, kDamrSize}, hex("46464d50 00 81ff 00 01"));
  check_small<DawpRecord>("dawp", {dawp_read, dawp_write, kDawpSize}, hex("46464d50 02"));
}

}  // namespace
}  // namespace vantorel
