#include "io/error.h"

namespace vantorel {

const char* error_name(ErrorCode e) {
  switch (e) {
    case ErrorCode::Ok: return "success";
    case ErrorCode::BadArgument: return "bad argument";
    case ErrorCode::OutOfMemory: return "out of memory";
    case ErrorCode::Io: return "input/output error";
    case ErrorCode::Unsupported: return "not a supported file";
    case ErrorCode::AviNoIndex: return "AVI stream without index";
    case ErrorCode::Malformed: return "malformed file";
    case ErrorCode::Exists: return "duplicate box or record";
    case ErrorCode::CompressionType: return "unsupported movie header compression";
    case ErrorCode::Inflate: return "compressed movie header cannot be inflated";
    case ErrorCode::Missing: return "required box or record missing";
    case ErrorCode::ReadOnly: return "file is open for reading only";
    case ErrorCode::NoName: return "no output name";
    case ErrorCode::NoMore: return "no further item";
    case ErrorCode::Overrun: return "box larger than the space measured for it";
    case ErrorCode::Truncated: return "input truncated";
    case ErrorCode::Differs: return "output differs from the input";
  }
  return "unknown error";
}

}  // namespace vantorel
