#include "app/path_split.h"

#include <cstring>

#include "app/platform.h"

namespace vantorel::app {

PathParts path_split(const char* path) {
  PathParts parts{};
  parts.length = std::strlen(path);
  const char* slash = last_path_separator(path);
  parts.stem_start = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
  parts.extension_start = parts.length;
  const char* name = path + parts.stem_start;
  const char* dot = std::strrchr(name, '.');
  // Leading dots belong to the name, so ".mp4" and ".." have no extension.
  size_t leading = std::strspn(name, ".");
  if (dot != nullptr && static_cast<size_t>(dot - name) >= leading) {
    parts.extension_start = static_cast<size_t>(dot - path);
  }
  return parts;
}

}  // namespace vantorel::app
