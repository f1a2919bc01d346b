#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "boxes/hdlr.h"
#include "boxes/mvhd.h"
#include "meta/chapters.h"
#include "headerforms/cmov.h"
#include "io/zlib_inflate.h"
#include "support/box_builder.h"
#include "support/read_tree.h"

namespace vantorel {
namespace {

using namespace test;

Bytes matrix() {
  return cat({u32(0x10000), u32(0), u32(0), u32(0), u32(0x10000), u32(0), u32(0), u32(0), u32(0x40000000)});
}

Bytes mvhd_box() {
  return full_box("mvhd", 0, 0,
                  cat({u32(100), u32(200), u32(600), u32(1200), u32(0x10000), u16(0x100), zeros(10), matrix(),
                       zeros(24), u32(3)}));
}

Bytes trak_box(uint32_t id, const char* handler, const std::string& name) {
  Bytes tkhd = full_box("tkhd", 0, 3,
                        cat({u32(100), u32(200), u32(id), u32(0), u32(1200), zeros(8), u16(0), u16(0), u16(0x100),
                             u16(0), matrix(), u32(0), u32(0)}));
  Bytes mdhd = full_box("mdhd", 0, 0, cat({u32(100), u32(200), u32(44100), u32(88200), u16(0x55C4), u16(0)}));
  Bytes hdlr = full_box("hdlr", 0, 0, cat({u32(0), text(handler), zeros(12), cstr(name)}));
  return box("trak", cat({tkhd, box("mdia", cat({mdhd, hdlr, box("minf", box("stbl", {}))}))}));
}

// A plain movie: header, two tracks, and user data with a chapter.
Bytes plain_movie() {
  return box("moov", cat({mvhd_box(), trak_box(1, "soun", "Sound"), trak_box(2, "vide", "Video"),
                          box("udta", box("chpl", cat({u8(1), u32(0), u32(1), u64(5), u8(2), text("c1")})))}));
}

Bytes deflate(const Bytes& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  EXPECT_EQ(compress(out.data(), &size, in.data(), static_cast<uLong>(in.size())), Z_OK);
  out.resize(size);
  return out;
}

Bytes cmov_box(const std::string& kind, uint32_t declared, const Bytes& stream) {
  return box("cmov", cat({box("dcom", text(kind)), box("cmvd", cat({u32(declared), stream}))}));
}

// The movie box holding only the compressed form of `inner`.
Bytes compressed_movie(const Bytes& inner, int32_t declared_delta = 0, const std::string& kind = "zlib") {
  auto declared = static_cast<uint32_t>(static_cast<int64_t>(inner.size()) + declared_delta);
  return box("moov", cmov_box(kind, declared, deflate(inner)));
}

struct Outcome {
  ErrorCode result;
  Bytes movie;  // the tree written back
};

Outcome read_movie(const Bytes& file, uint32_t buffering_off = 0) {
  MemoryFile f(file);
  f->header_buffering_off = buffering_off;
  Outcome o{read_tree(f.get()), {}};
  // Whatever happened, the file's own routines are current again.
  EXPECT_EQ(f->current.handle, f->base.handle);
  if (o.result == ErrorCode::Ok) o.movie = movie_bytes(f.get());
  return o;
}

TEST(Cmov, InflatesToTheSameTreeAsThePlainMovie) {
  Bytes plain = cat({box("ftyp", text("qt  ")), plain_movie(), box("mdat", zeros(16))});
  Outcome expect = read_movie(plain);
  ASSERT_EQ(expect.result, ErrorCode::Ok);
  ASSERT_FALSE(expect.movie.empty());
  EXPECT_EQ(expect.movie, plain_movie());  // the hand-made movie is in the library's own form

  for (int32_t delta : {0, 1, 100000}) {  // a declared size larger than the output works
    for (uint32_t buffering_off : {0u, 1u}) {
      SCOPED_TRACE(testing::Message() << "declared +" << delta << " buffering off " << buffering_off);
      Bytes packed = cat({box("ftyp", text("qt  ")), compressed_movie(plain_movie(), delta), box("mdat", zeros(16))});
      Outcome got = read_movie(packed, buffering_off);
      ASSERT_EQ(got.result, ErrorCode::Ok);
      EXPECT_EQ(got.movie, expect.movie);
    }
  }

  MemoryFile f(cat({compressed_movie(plain_movie())}));
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(track_count(f->root), 2u);
  EXPECT_EQ(handler_kind_of(track_at(f->root, 1)), kHandlerVideo);
  EXPECT_EQ(movie_record<MvhdRecord>(f->root, BoxTypeId::Mvhd)->timescale, 600u);
  ASSERT_EQ(f->meta.chapters.count, 1u);
  EXPECT_STREQ(f->meta.chapters[0].title, "c1");
}

TEST(Cmov, FailuresOfTheCompressedForm) {
  Bytes stream = deflate(plain_movie());
  auto size = static_cast<uint32_t>(plain_movie().size());
  Bytes corrupt = stream;
  for (size_t i = 2; i < corrupt.size() - 4; i += 3) corrupt[i] ^= 0x5A;
  Bytes truncated(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(stream.size() / 2));
  Bytes not_a_movie = deflate(box("free", zeros(40)));
  Bytes nested = deflate(box("moov", cmov_box("zlib", size, stream)));
  struct Case {
    const char* what;
    Bytes moov;
    ErrorCode want;
  };
  const Case cases[] = {
      {"compression type", box("moov", cmov_box("gzip", size, stream)), ErrorCode::CompressionType},
      {"corrupt stream", box("moov", cmov_box("zlib", size, corrupt)), ErrorCode::Inflate},
      {"stream ends early", box("moov", cmov_box("zlib", size, truncated)), ErrorCode::Inflate},
      {"declared size smaller than the output", box("moov", cmov_box("zlib", size - 1, stream)), ErrorCode::Inflate},
      {"declared size 0", box("moov", cmov_box("zlib", 0, stream)), ErrorCode::Inflate},
      {"empty stream", box("moov", cmov_box("zlib", size, {})), ErrorCode::Inflate},
      {"no dcom", box("moov", box("cmov", box("cmvd", cat({u32(size), stream})))), ErrorCode::Malformed},
      {"no cmvd", box("moov", box("cmov", box("dcom", text("zlib")))), ErrorCode::Malformed},
      {"dcom without type", box("moov", box("cmov", cat({box("dcom", {}), box("cmvd", u32(0))}))), ErrorCode::Malformed},
      {"cmvd without size", box("moov", box("cmov", cat({box("dcom", text("zlib")), box("cmvd", {})}))),
       ErrorCode::Malformed},
      {"inflates to something else", box("moov", cmov_box("zlib", 48, not_a_movie)), ErrorCode::Malformed},
      {"compressed movie inside a compressed movie", box("moov", cmov_box("zlib", 4096, nested)), ErrorCode::Malformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome got = read_movie(cat({box("ftyp", text("qt  ")), c.moov}));
    EXPECT_EQ(got.result, c.want);
  }
}

TEST(Cmov, BoxesAfterItJoinTheInflatedMovie) {
  // Neither first in its movie box (so the movie is fetched into memory
  // first) nor alone: what follows it lands in the fresh movie record, where
  // a second 'udta' is a duplicate like any other.
  Bytes moov = box("moov", cat({box("free", zeros(4)),
                                cmov_box("zlib", static_cast<uint32_t>(plain_movie().size()), deflate(plain_movie())),
                                trak_box(3, "soun", "Extra"),
                                box("udta", box("chpl", cat({u8(1), u32(0), u32(1), u64(9), u8(1), text("z")})))}));
  MemoryFile f(moov);
  ASSERT_EQ(read_tree(f.get()), ErrorCode::Ok);
  ASSERT_EQ(track_count(f->root), 3u);
  auto* hdlr = track_record<HdlrRecord>(track_at(f->root, 2), BoxTypeId::Hdlr);
  ASSERT_NE(hdlr, nullptr);
  EXPECT_STREQ(hdlr->name, "Extra");
  ASSERT_EQ(f->meta.chapters.count, 1u);
  EXPECT_STREQ(f->meta.chapters[0].title, "c1");
}

TEST(Cmov, CompressedSizeIsTakenFromTheBoxNotItsClaim) {
  // A 'cmvd' claiming 2 GiB at the end of the file is cut at the end: the
  // stream is what is there and it inflates as usual.
  Bytes stream = deflate(plain_movie());
  Bytes cmov_payload = cat({box("dcom", text("zlib")),
                            box_sized(0x7FFFFFF0u, "cmvd", cat({u32(static_cast<uint32_t>(plain_movie().size())), stream}))});
  Bytes file = box_sized(0x7FFFFFF8u, "moov", box_sized(0x7FFFFFF0u, "cmov", cmov_payload));
  Outcome got = read_movie(file);
  ASSERT_EQ(got.result, ErrorCode::Ok);
  EXPECT_EQ(got.movie, read_movie(plain_movie()).movie);
}

TEST(CmovInflate, OutputIsBoundedByTheDeclaredSizeAndTheCap) {
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 13);
  Bytes stream = deflate(data);
  struct Case {
    uint32_t declared;
    uint32_t cap;
    ErrorCode want;
  };
  const Case cases[] = {
      {5000, 5000, ErrorCode::Ok},      {0xFFFFFFFFu, 5000, ErrorCode::Ok}, {5000, 4999, ErrorCode::Inflate},
      {0xFFFFFFFFu, 4999, ErrorCode::Inflate}, {4999, 1u << 20, ErrorCode::Inflate}, {1u << 30, 1u << 20, ErrorCode::Ok},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.declared << " / " << c.cap);
    uint8_t* out = reinterpret_cast<uint8_t*>(1);
    uint32_t out_size = 77;
    ASSERT_EQ(zlib_inflate(stream.data(), static_cast<uint32_t>(stream.size()), c.declared, c.cap, &out, &out_size),
              c.want);
    if (c.want != ErrorCode::Ok) {
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(out_size, 0u);
      continue;
    }
    ASSERT_EQ(out_size, 5000u);
    EXPECT_EQ(Bytes(out, out + out_size), data);
    std::free(out);
  }
}

}  // namespace
}  // namespace vantorel
