#pragma once
// Reading and writing one configuration box through its record's
// operations, for the configuration record tests.
#include <gtest/gtest.h>

#include "sampletables/stsd_support.h"

namespace vantorel::test {

// A box followed by a marker box, so a reader that strays past its box
// would read the marker's bytes.
inline Bytes in_file(const char* type, const Bytes& payload) { return cat({box(type, payload), box("free", Bytes(16, 0xEE))}); }

template <class R, class Read>
ErrorCode read_config(MemoryFile& f, R* record, Read read) {
  BoxHeader h;
  VT_TRY(read_box_header(f.get(), &h));
  return read(f.get(), &h, record);
}

// Writes the record into a fresh stream with the given file flags; checks the
// size operation against what was written.
template <class R, class Write, class Size>
Bytes write_config(const R* record, Write write, Size size, uint32_t flags = 0, ErrorCode expect = ErrorCode::Ok) {
  MemoryFile out({}, kOpenCreate);
  out->flags = flags;
  EXPECT_EQ(write(out.get(), record), expect);
  Bytes got = out.contents();
  if (expect == ErrorCode::Ok) {
    EXPECT_EQ(size(out.get(), record), got.size());
  }
  return got;
}

}  // namespace vantorel::test
