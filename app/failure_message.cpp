#include "app/failure_message.h"

#include <cstring>

#include "app/banner.h"
#include "app/platform.h"

namespace vantorel::app {

namespace {

const char* or_unknown(const char* path) { return path != nullptr ? path : "(unknown file)"; }

bool has_detail(const ErrorDetail* detail) {
  return detail != nullptr && (detail->set || detail->reason != nullptr);
}

// " at offset 1234 in moov/trak[2]/mdia: reason"
void print_detail(std::FILE* out, const ErrorDetail* detail) {
  if (detail->set) {
    console_printf(out, " at offset %llu", static_cast<unsigned long long>(detail->offset));
    // The record is fixed-size; never read past it, terminated or not.
    size_t length = strnlen(detail->path, sizeof detail->path);
    if (length != 0) console_printf(out, " in %.*s", static_cast<int>(length), detail->path);
  }
  if (detail->reason != nullptr) console_printf(out, ": %s", detail->reason);
}

const char* io_reason(int error_number, const char* operation) {
  if (error_number != 0) return std::strerror(error_number);
  return std::strcmp(operation, "read") == 0 ? "unexpected end of file" : "incomplete transfer";
}

// The name the user gave for a file the routines know by its temporary name.
const char* user_name_of(const RunState* state, const char* path) {
  if (state == nullptr || path == nullptr) return path;
  for (uint32_t i = 0; i < state->outputs.count; ++i) {
    const OutputEntry& e = state->outputs.items[i];
    if (e.write_name != nullptr && std::strcmp(e.write_name, path) == 0) return e.final_name;
  }
  return path;
}

void print_handler(std::FILE* out, FourCC handler) {
  bool printable = true;
  for (char c : handler.c) printable = printable && c >= 0x20 && c < 0x7F;
  if (printable && !handler.is_zero()) {
    console_printf(out, " (%.4s)", handler.c);
  }
}

}  // namespace

void print_truncated_track(std::FILE* out, const TruncatedTrack* track) {
  console_printf(out, "track %u", track->track_id);
  print_handler(out, track->handler);
  // A track whose every listed sample is there still lacks what the file
  // declares beyond them.
  if (track->missing == 0) console_puts(" lacks its last", out);
  else console_printf(out, " lacks its last %u of %u samples", track->missing, track->total);
  console_printf(out, " (%llu.%03llu s)", static_cast<unsigned long long>(track->missing_ms / 1000),
                 static_cast<unsigned long long>(track->missing_ms % 1000));
}

void print_failure_message(std::FILE* out, ErrorCode code, const RunState* state, const ErrorDetail* detail) {
  if (out == nullptr || code == ErrorCode::Ok) return;
  console_printf(out, "%s: ", kProgramName);
  const char* input = state != nullptr ? state->input_path : nullptr;

  if (state != nullptr && state->names.refused) {
    const char* named = state->names.refused_input != nullptr ? state->names.refused_input : input;
    console_printf(out, "refusing to write '%s': it is the input file '%s'\n", or_unknown(state->names.refused_name),
                 or_unknown(named));
    return;
  }
  if (state != nullptr && state->existing_name != nullptr) {
    console_printf(out, "'%s' exists", state->existing_name);
    if (state->existing_kind[0] != '\0') console_printf(out, " (%s)", state->existing_kind);
    console_puts(": not replaced; use --force\n", out);
    return;
  }
  if (state != nullptr && state->input_not_seekable) {
    console_printf(out, "'%s': the input must be seekable (a file, not a pipe)\n", or_unknown(input));
    return;
  }
  if (code == ErrorCode::Truncated && state != nullptr) {
    console_printf(out, "'%s' is truncated", or_unknown(input));
    console_puts(state->truncated_count > 0 ? ": " : " (it ends before what it declares)", out);
    uint32_t shown = state->truncated_count < kTruncatedShown ? state->truncated_count : kTruncatedShown;
    for (uint32_t i = 0; i < shown; ++i) {
      if (i > 0) console_puts(", ", out);
      print_truncated_track(out, &state->truncated[i]);
    }
    if (state->truncated_count > shown) console_printf(out, " and %u more tracks", state->truncated_count - shown);
    console_puts("; nothing was written (--salvage writes what it holds)\n", out);
    return;
  }
  if (code == ErrorCode::Unsupported && detail != nullptr && !detail->set) {
    // The probe named what the file is, or found nothing it knows.
    if (detail->reason != nullptr) {
      console_printf(out, "'%s' is %s; Vantorel reads MP4, QuickTime, AVI, Matroska, MPEG-TS and MPEG-PS\n", or_unknown(input), detail->reason);
    } else {
      console_printf(out, "'%s' is not a file Vantorel reads (MP4, QuickTime, AVI, Matroska, MPEG-TS or MPEG-PS)\n", or_unknown(input));
    }
    return;
  }
  if (code == ErrorCode::Missing && detail != nullptr && !detail->set && detail->reason != nullptr) {
    console_printf(out, "'%s': %s\n", or_unknown(input), detail->reason);
    return;
  }
  // A name withheld because its temporary file could not be created is
  // explained by that failure; any other stale failure explains only Io.
  bool create_failed = code == ErrorCode::NoName && state != nullptr && state->failure.set &&
                       state->failure.operation != nullptr && std::strcmp(state->failure.operation, "create") == 0;
  if ((code == ErrorCode::Io || create_failed) && state != nullptr && state->failure.set) {
    const IoFailure& failure = state->failure;
    const char* operation = failure.operation != nullptr ? failure.operation : "access";
    console_printf(out, "cannot %s '%s': %s", operation, or_unknown(user_name_of(state, failure.path)),
                 io_reason(failure.error_number, operation));
  } else if (code == ErrorCode::NoName && state != nullptr) {
    console_printf(out, "no name for output file %d from '%s'", static_cast<int>(state->names.counter) + 1,
                 or_unknown(state->names.output_path));
  } else {
    console_printf(out, "'%s': %s", or_unknown(input), error_name(code));
  }
  if (has_detail(detail)) print_detail(out, detail);
  console_putc('\n', out);
}

}  // namespace vantorel::app
