#pragma once
// Result codes shared by every operation of the library and the engine.
#include <cstdint>

namespace vantorel {

enum class ErrorCode : uint32_t {
  Ok = 0,
  BadArgument = 1,      // null pointer, unknown mode or kind, split mode without limits
  OutOfMemory = 2,      // also a caller's sample buffer too small for the sample
  Io = 3,               // a routine failed, short read or write, latch set
  Unsupported = 4,      // not MP4, QuickTime or AVI (ASF only when inspecting)
  AviNoIndex = 5,       // AVI stream without index and no has-index flag
  Malformed = 6,        // malformed or unsupported box content
  Exists = 7,           // a child box or configuration record of that kind exists
  CompressionType = 8,  // 'cmov' compression other than "zlib"
  Inflate = 9,          // inflating a compressed movie header failed
  Missing = 10,         // a required box, record, track or configuration is missing
  ReadOnly = 11,        // a write on a file opened for reading
  NoName = 12,          // the output namer produced no name
  NoMore = 13,          // end of samples, of an enumeration, index out of range
  Overrun = 14,         // a box written past the space measured for it
  Truncated = 15,       // samples lie past the end of the input
  Differs = 16,         // an output is not what the input holds
};

constexpr bool is_ok(ErrorCode e) { return e == ErrorCode::Ok; }
constexpr uint32_t code_value(ErrorCode e) { return static_cast<uint32_t>(e); }

// Short English name of a code, for messages.
const char* error_name(ErrorCode e);

}  // namespace vantorel

// Returns the error of `expr` from the enclosing function when it is not Ok.
#define VT_TRY(expr)                                          \
  do {                                                        \
    ::vantorel::ErrorCode vt_try_err_ = (expr);               \
    if (vt_try_err_ != ::vantorel::ErrorCode::Ok) return vt_try_err_; \
  } while (0)
