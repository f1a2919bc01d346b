#include "app/output_checks.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "app/banner.h"
#include "app/platform.h"
#include "app/temporary_files.h"
#include "mediafile/mediafile.h"
#include "remux/remux.h"

namespace vantorel::app {

namespace {

const char* flavour_phrase(uint32_t flavour) {
  switch (flavour) {
    case kFlavourMp4: return "an MP4 file";
    case kFlavourQuickTime: return "a QuickTime movie";
    case kFlavourAvi: return "an AVI file";
    case kFlavourAsf: return "an ASF (WMV or WMA) file";
    case kFlavourMatroska: return "a Matroska file";
    case kFlavourMpegTs: return "an MPEG transport stream";
    case kFlavourMpegPs: return "an MPEG program stream";
    default: return "";
  }
}

bool has_extension(const char* name, const char* extension) {
  size_t n = std::strlen(name), m = std::strlen(extension);
  if (n < m) return false;
  for (size_t i = 0; i < m; ++i)
    if (std::tolower(static_cast<unsigned char>(name[n - m + i])) != extension[i]) return false;
  return true;
}

// Opens `path` in inspect mode (headers and tables, no sample reading).
ErrorCode inspect(const char* path, const IoRoutines* routines, ErrorDetail* detail, MediaFile** out) {
  OpenParams params{};
  params.routines = *routines;
  params.path = path;
  params.failure_detail = detail;
  return media_open(out, &params, kOpenInspect);
}

}  // namespace

void describe_existing_file(const char* path, const IoRoutines* routines, char* out, size_t capacity) {
  if (capacity == 0) return;
  out[0] = '\0';
  if (path == nullptr || routines == nullptr) return;
  ErrorDetail detail{};
  MediaFile* file = nullptr;
  ErrorCode e = inspect(path, routines, &detail, &file);
  const char* phrase = "";
  if (e == ErrorCode::Ok) {
    MovieInfo movie{};
    if (movie_info(file, &movie) == ErrorCode::Ok) phrase = flavour_phrase(movie.flavour);
    media_close(file);
  } else if (e == ErrorCode::Unsupported) {
    // Not a kind the library reads: its first bytes may still say what it is.
    phrase = detail.reason != nullptr ? detail.reason : "";
  } else if (e == ErrorCode::Io) {
    phrase = "a file that cannot be read";
  } else {
    // A kind the library reads, but cut short or damaged.
    phrase = "a damaged or incomplete media file";
  }
  std::snprintf(out, capacity, "%s", phrase);
}

ErrorCode refuse_existing_output(RunState* state, const char* name) {
  if (state == nullptr || name == nullptr || state->force) return ErrorCode::Ok;
  if (is_standard_output_name(name) || path_kind(name) != PathKind::Regular) return ErrorCode::Ok;
  if (state->existing_name == nullptr) {
    state->existing_name = strdup(name);
    if (state->existing_name == nullptr) return ErrorCode::OutOfMemory;
    describe_existing_file(name, &platform_routines(), state->existing_kind, sizeof state->existing_kind);
  }
  return ErrorCode::Exists;
}

void remove_stale_temporaries_for(RunState* state, const char* name) {
  if (state == nullptr || name == nullptr || is_standard_output_name(name)) return;
  if (path_kind(name) == PathKind::Other) return;  // a device or FIFO: written in place, no temporary
  char* target = resolve_links(name);
  if (target == nullptr) return;
  const char* separator = last_path_separator(target);
  size_t length = separator != nullptr ? static_cast<size_t>(separator - target) + 1 : 0;
  bool searched = state->scanned_directory != nullptr && std::strlen(state->scanned_directory) == length &&
                  std::strncmp(state->scanned_directory, target, length) == 0;
  if (!searched) {
    remove_stale_temporaries(target, state->warnings);
    std::free(state->scanned_directory);
    state->scanned_directory = static_cast<char*>(std::malloc(length + 1));
    if (state->scanned_directory != nullptr) {
      std::memcpy(state->scanned_directory, target, length);
      state->scanned_directory[length] = '\0';
    }
  }
  std::free(target);
}

void warn_audio_name_with_video(RunState* state, const char* input_path, const char* output_path,
                                const IoRoutines* routines, const TrackSelection* selection) {
  if (state == nullptr || state->warnings == nullptr || input_path == nullptr || output_path == nullptr ||
      routines == nullptr)
    return;
  if (!has_extension(output_path, ".m4a") && !has_extension(output_path, ".m4b")) return;
  MediaFile* file = nullptr;
  ErrorDetail detail{};
  // An input that does not open is reported by the run itself.
  if (inspect(input_path, routines, &detail, &file) != ErrorCode::Ok) return;
  // A video track the selection leaves out is no video of the output.
  const TrackSelection every{};
  const TrackSelection& kept = selection != nullptr ? *selection : every;
  bool video = false;
  if (TrackIterator* it = track_iterator_new(file, 0, 0)) {
    TrackInfo info;
    while (!video && track_iterator_next(it, &info) == ErrorCode::Ok)
      video = track_kind_bit(info.kind) == kTrackVideo && track_selection_keeps(kept, info.track_id, info.kind, false);
    track_iterator_free(it);
  }
  media_close(file);
  if (video)
    console_printf(state->warnings,
                   "%s: warning: '%s' is named for audio, but '%s' has video, which it will hold too (--drop video "
                   "leaves the video out)\n",
                   kProgramName, output_path, input_path);
}

}  // namespace vantorel::app
