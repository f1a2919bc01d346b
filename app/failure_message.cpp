#include "app/failure_message.h"

#include <cstring>

#include "app/banner.h"

namespace vantorel::app {

namespace {

const char* or_unknown(const char* path) { return path != nullptr ? path : "(unknown file)"; }

bool has_detail(const ErrorDetail* detail) {
  return detail != nullptr && (detail->set || detail->reason != nullptr);
}

// " at offset 1234 in moov/trak[2]/mdia: reason"
void print_detail(std::FILE* out, const ErrorDetail* detail) {
  if (detail->set) {
    std::fprintf(out, " at offset %llu", static_cast<unsigned long long>(detail->offset));
    // The record is fixed-size; never read past it, terminated or not.
    size_t length = strnlen(detail->path, sizeof detail->path);
    if (length != 0) std::fprintf(out, " in %.*s", static_cast<int>(length), detail->path);
  }
  if (detail->reason != nullptr) std::fprintf(out, ": %s", detail->reason);
}

const char* io_reason(int error_number, const char* operation) {
  if (error_number != 0) return std::strerror(error_number);
  return std::strcmp(operation, "read") == 0 ? "unexpected end of file" : "incomplete transfer";
}

}  // namespace

void print_failure_message(std::FILE* out, ErrorCode code, const RunState* state, const ErrorDetail* detail) {
  if (out == nullptr || code == ErrorCode::Ok) return;
  std::fprintf(out, "%s: ", kProgramName);
  const char* input = state != nullptr ? state->input_path : nullptr;

  if (state != nullptr && state->names.refused) {
    std::fprintf(out, "refusing to write '%s': it is the input file '%s'\n", or_unknown(state->names.refused_name),
                 or_unknown(input));
    return;
  }
  if (code == ErrorCode::Io && state != nullptr && state->failure.set) {
    const IoFailure& failure = state->failure;
    const char* operation = failure.operation != nullptr ? failure.operation : "access";
    std::fprintf(out, "cannot %s '%s': %s", operation, or_unknown(failure.path),
                 io_reason(failure.error_number, operation));
  } else if (code == ErrorCode::NoName && state != nullptr) {
    std::fprintf(out, "no name for output file %d from '%s'", static_cast<int>(state->names.counter) + 1,
                 or_unknown(state->names.output_path));
  } else {
    std::fprintf(out, "'%s': %s", or_unknown(input), error_name(code));
  }
  if (has_detail(detail)) print_detail(out, detail);
  std::fputc('\n', out);
}

}  // namespace vantorel::app
