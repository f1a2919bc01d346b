#include "app/output_namer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/path_split.h"
#include "app/platform.h"

namespace vantorel::app {

namespace {

constexpr size_t kSuffixCapacity = 16;  // "_" and any int32 value

// The suffix for the counter's name: empty for the first file.
void format_suffix(int32_t counter, char (&suffix)[kSuffixCapacity]) {
  suffix[0] = '\0';
  if (counter != 0) std::snprintf(suffix, sizeof suffix, "_%d", static_cast<int>(counter));
}

}  // namespace

void name_state_init(OutputNameState* names, const char* input_path, const char* output_path) {
  *names = OutputNameState{};
  names->output_path = output_path;
  FileIdentity input{};
  if (input_path != nullptr && file_identity(input_path, &input)) {
    names->input_known = 1;
    names->input_device = input.volume;
    names->input_inode = input.index;
  }
}

void name_state_release(OutputNameState* names) {
  if (names == nullptr) return;
  std::free(names->refused_name);
  names->refused_name = nullptr;
}

namespace {

// The joined input `path` names (same device and inode), or null.
const char* joined_input_named(const OutputNameState* names, const char* path) {
  FileIdentity named{}, joined{};
  if (names->joined_count == 0 || is_standard_output_name(path) || !file_identity(path, &named)) return nullptr;
  for (uint32_t i = 0; i < names->joined_count; ++i)
    if (file_identity(names->joined[i], &joined) && joined.volume == named.volume && joined.index == named.index)
      return names->joined[i];
  return nullptr;
}

}  // namespace

bool names_input(const OutputNameState* names, const char* path) {
  if (names == nullptr || path == nullptr) return false;
  if (joined_input_named(names, path) != nullptr) return true;
  if (!names->input_known) return false;
  if (is_standard_output_name(path)) return false;  // standard output, not a file of that name
  FileIdentity named{};
  if (!file_identity(path, &named)) return false;
  return named.volume == names->input_device && named.index == names->input_inode;
}

bool is_standard_output_name(const char* name) {
  if (name == nullptr) return false;
  if (std::strcmp(name, kStandardOutputName) == 0) return true;
#ifndef _WIN32
  for (const char* own : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"})
    if (std::strcmp(name, own) == 0) return true;
#endif
  return false;
}

void name_state_refuse(OutputNameState* names, const char* name) {
  if (names == nullptr || names->refused) return;
  names->refused = 1;
  names->refused_name = name != nullptr ? strdup(name) : nullptr;
  names->refused_input = name != nullptr ? joined_input_named(names, name) : nullptr;
}

char* output_part_name(const char* path, int32_t counter) {
  if (path == nullptr || counter < 0) return nullptr;
  char suffix[kSuffixCapacity];
  format_suffix(counter, suffix);
  PathParts parts = path_split(path);
  size_t suffix_length = std::strlen(suffix);
  size_t length = parts.length + suffix_length;
  auto* name = static_cast<char*>(std::malloc(length + 1));
  if (name == nullptr) return nullptr;
  std::memcpy(name, path, parts.extension_start);
  std::memcpy(name + parts.extension_start, suffix, suffix_length);
  std::memcpy(name + parts.extension_start + suffix_length, path + parts.extension_start,
              parts.length - parts.extension_start);
  name[length] = '\0';
  return name;
}

uint32_t output_namer(char* name, uint32_t* byte_count, void* user) {
  auto* state = static_cast<RunState*>(user);
  if (state == nullptr || state->names.output_path == nullptr) return 0;
  if (name == nullptr && byte_count == nullptr) return 0;
  OutputNameState* names = &state->names;
  if (names->counter == INT32_MAX) return 0;  // no further distinct name
  char* part = output_part_name(names->output_path, names->counter);
  if (part == nullptr) return 0;
  if (names_input(names, part)) {
    // Creating it would truncate the input before it is read.
    name_state_refuse(names, part);
    std::free(part);
    if (name != nullptr) name[0] = '\0';
    return 0;
  }
  // The program writes each output to a temporary file first: that is the
  // name the engine opens. The entry for this counter is made once.
  const char* handed = part;
  OutputSet* outputs = &state->outputs;
  if (outputs->atomic) {
    if (outputs->count <= static_cast<uint32_t>(names->counter)) {
      if (output_set_add(outputs, part, &state->failure) != ErrorCode::Ok) {
        std::free(part);
        return 0;
      }
    }
    handed = outputs->items[names->counter].write_name;
  }
  size_t length = std::strlen(handed);
  if (length >= UINT32_MAX) {
    std::free(part);
    return 0;
  }
  if (name == nullptr) {
    *byte_count = static_cast<uint32_t>(length + 1);
  } else {
    std::memcpy(name, handed, length + 1);
    names->counter++;
  }
  std::free(part);
  return 1;
}

}  // namespace vantorel::app
