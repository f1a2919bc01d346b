#include "app/temporary_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/banner.h"
#include "app/platform.h"

namespace vantorel::app {

namespace {

constexpr const char* kMarker = ".vantorel-";
// Bytes of the output's own name kept in the temporary's: with the host,
// two numbers and the marker the name stays within a directory entry (255).
constexpr size_t kBaseKept = 150;
constexpr size_t kHostCapacity = sizeof(TemporaryOwner::host);

char g_host[kHostCapacity] = "";

bool host_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
}

// The length of `base` cut to `limit` bytes without splitting a UTF-8 character.
size_t cut_length(const char* base, size_t limit) {
  size_t length = std::strlen(base);
  if (length <= limit) return length;
  length = limit;
  while (length > 0 && (static_cast<unsigned char>(base[length]) & 0xC0) == 0x80) --length;
  return length;
}

// Up to and including the last separator of `path`; 0 when it has none.
size_t directory_length(const char* path) {
  const char* separator = last_path_separator(path);
  return separator != nullptr ? static_cast<size_t>(separator - path) + 1 : 0;
}

bool all_digits(const char* text, size_t length, size_t most) {
  if (length == 0 || length > most) return false;
  for (size_t i = 0; i < length; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

struct StaleScan {
  const char* directory;  // as a prefix of the names: "" or ending in a separator
  size_t directory_length;
  std::FILE* report;
  uint32_t removed;
};

void visit_entry(const char* leaf, void* user) {
  auto* scan = static_cast<StaleScan*>(user);
  TemporaryOwner owner{};
  if (!parse_temporary_name(leaf, &owner)) return;
  if (std::strcmp(owner.host, temporary_host()) != 0) return;  // another machine's: its process is not ours to ask
  if (owner.pid == current_process_id() || process_running(owner.pid)) return;
  size_t leaf_length = std::strlen(leaf);
  auto* path = static_cast<char*>(std::malloc(scan->directory_length + leaf_length + 1));
  if (path == nullptr) return;
  std::memcpy(path, scan->directory, scan->directory_length);
  std::memcpy(path + scan->directory_length, leaf, leaf_length + 1);
  // Only files: a directory of that name is no temporary of ours.
  PathKind kind = path_kind(path);
  if ((kind == PathKind::Regular || kind == PathKind::Empty) && remove_file(path) == 0) {
    ++scan->removed;
    if (scan->report != nullptr)
      console_printf(scan->report,
                     "%s: removed '%s', a temporary file left by process %llu of an earlier run, which no longer "
                     "runs\n",
                     kProgramName, path, static_cast<unsigned long long>(owner.pid));
  }
  std::free(path);
}

}  // namespace

const char* temporary_host() {
  if (g_host[0] == '\0') {
    char name[256];
    host_name(name, sizeof name);
    size_t length = 0;
    for (; name[length] != '\0' && length + 1 < kHostCapacity; ++length)
      g_host[length] = host_character(name[length]) ? name[length] : '_';
    g_host[length] = '\0';
    if (length == 0) std::snprintf(g_host, sizeof g_host, "host");
  }
  return g_host;
}

char* create_temporary_beside(const char* target, uint32_t index, int* error_number) {
  size_t dir_length = directory_length(target);
  const char* base = target + dir_length;
  size_t base_length = cut_length(base, kBaseKept);
  for (uint32_t attempt = 0; attempt < 100; ++attempt) {
    char leaf[256];
    std::snprintf(leaf, sizeof leaf, ".%.*s%s%s-%llu-%u", static_cast<int>(base_length), base, kMarker,
                  temporary_host(), static_cast<unsigned long long>(current_process_id()), index * 100 + attempt);
    size_t leaf_length = std::strlen(leaf);
    auto* name = static_cast<char*>(std::malloc(dir_length + leaf_length + 1));
    if (name == nullptr) {
      *error_number = ENOMEM;
      return nullptr;
    }
    std::memcpy(name, target, dir_length);
    std::memcpy(name + dir_length, leaf, leaf_length + 1);
    int failed = create_new_file(name);
    if (failed == 0) return name;
    std::free(name);
    if (failed != EEXIST) {
      *error_number = failed;
      return nullptr;
    }
  }
  *error_number = EEXIST;
  return nullptr;
}

bool parse_temporary_name(const char* leaf, TemporaryOwner* out) {
  if (leaf == nullptr || out == nullptr || leaf[0] != '.') return false;
  // The last marker: the output's own name may hold one.
  const char* marker = nullptr;
  for (const char* at = std::strstr(leaf, kMarker); at != nullptr; at = std::strstr(at + 1, kMarker)) marker = at;
  if (marker == nullptr || marker == leaf + 1) return false;
  const char* host = marker + std::strlen(kMarker);
  const char* last = std::strrchr(host, '-');
  if (last == nullptr || last == host) return false;
  const char* middle = last - 1;
  while (middle > host && *middle != '-') --middle;
  if (*middle != '-' || middle == host) return false;
  // <host>-<pid>-<n>: a host of the characters temporary_host keeps, two numbers.
  size_t host_length = static_cast<size_t>(middle - host);
  if (host_length >= kHostCapacity) return false;
  for (size_t i = 0; i < host_length; ++i)
    if (!host_character(host[i])) return false;
  if (!all_digits(middle + 1, static_cast<size_t>(last - middle - 1), 19)) return false;
  if (!all_digits(last + 1, std::strlen(last + 1), 10)) return false;
  std::memcpy(out->host, host, host_length);
  out->host[host_length] = '\0';
  out->pid = std::strtoull(middle + 1, nullptr, 10);
  return true;
}

uint32_t remove_stale_temporaries(const char* target, std::FILE* report) {
  if (target == nullptr) return 0;
  size_t dir_length = directory_length(target);
  char* directory = static_cast<char*>(std::malloc(dir_length + 1));
  if (directory == nullptr) return 0;
  std::memcpy(directory, target, dir_length);
  directory[dir_length] = '\0';
  StaleScan scan{directory, dir_length, report, 0};
  list_directory(dir_length != 0 ? directory : ".", visit_entry, &scan);
  std::free(directory);
  return scan.removed;
}

}  // namespace vantorel::app
