#pragma once
// Helpers for the sample description tests: a movie with one track around a
// given 'stsd' payload, reading it, and writing boxes back out.
#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>

#include "boxes/box_tree.h"
#include "boxes/moov.h"
#include "support/box_builder.h"

namespace vantorel::test {

inline Bytes hdlr_payload(const char* handler) {
  return cat({u8(0), u24(0), u32(0), text(handler), zeros(12), cstr("h")});
}

// moov/trak/mdia(hdlr, minf/stbl/stsd) around the payload.
inline Bytes track_file(const char* handler, const Bytes& stsd_payload) {
  Bytes stbl = box("stbl", box("stsd", stsd_payload));
  Bytes mdia = box("mdia", cat({box("hdlr", hdlr_payload(handler)), box("minf", stbl)}));
  return box("moov", box("trak", mdia));
}

inline Bytes stsd_payload(uint32_t count, const Bytes& entries) { return cat({u32(0), u32(count), entries}); }

inline ErrorCode read_tree(MemoryFile& f) {
  VT_TRY(create_root(f.get()));
  BoxHeader whole;
  uint64_t length = file_size(f.get());
  make_box_header(&whole, FourCC::of("mp4 "), nullptr, 0, length, length);
  return read_top_level(f.get(), &whole);
}

inline TrackBoxes* first_track(MemoryFile& f) { return track_at(f->root, 0); }

// Writes one box through its payload operations into a fresh stream whose
// file flags are `flags`; fails the test when the size operation was wrong.
template <class Write>
Bytes write_one(const char* type, uint64_t payload_size, Write write, void* context, uint32_t flags = 0,
                ErrorCode expect = ErrorCode::Ok) {
  MemoryFile out({}, kOpenCreate);
  out->flags = flags;
  reset_size_mismatch_count();
  EXPECT_EQ(write_box(out.get(), FourCC::of(type), nullptr, payload_size, write, context), expect);
  if (expect == ErrorCode::Ok) {
    EXPECT_EQ(size_mismatch_count(), 0u) << "size operation disagrees with write";
  }
  return out.contents();
}

// Bytes from hexadecimal text; spaces are ignored.
inline Bytes hex(const char* s) {
  Bytes out;
  int high = -1;
  for (; *s != '\0'; ++s) {
    if (std::isspace(static_cast<unsigned char>(*s))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(*s))) throw std::invalid_argument("not a hex digit");
    int v = std::isdigit(static_cast<unsigned char>(*s)) ? *s - '0' : std::tolower(static_cast<unsigned char>(*s)) - 'a' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return out;
}

}  // namespace vantorel::test
