#pragma once
// Splits a path into directory, stem and extension by offsets, so a suffix
// can be put between stem and extension without touching the directory.
#include <cstddef>

namespace vantorel::app {

// The path is [0, stem_start) directory (with its final '/'),
// [stem_start, extension_start) stem, [extension_start, length) extension
// (with its dot, or empty).
struct PathParts {
  size_t stem_start;
  size_t extension_start;
  size_t length;
};

// A dot in a directory name is not an extension; neither is the dot of a
// name that starts with one (".mp4", "..").
PathParts path_split(const char* path);

}  // namespace vantorel::app
