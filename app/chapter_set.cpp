#include "app/chapter_set.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/path_split.h"

namespace vantorel::app {

bool camera_chapter_name(const char* path, ChapterName* out) {
  if (path == nullptr || out == nullptr) return false;
  const PathParts parts = path_split(path);
  const char* stem = path + parts.stem_start;
  // Two letters, then six digits, then the extension.
  if (parts.extension_start - parts.stem_start != 8) return false;
  const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(stem[0])));
  const char b = static_cast<char>(std::toupper(static_cast<unsigned char>(stem[1])));
  if (a != 'G' || (b != 'H' && b != 'X' && b != 'L')) return false;
  for (int i = 2; i < 8; ++i)
    if (!std::isdigit(static_cast<unsigned char>(stem[i]))) return false;
  const uint32_t chapter = static_cast<uint32_t>((stem[2] - '0') * 10 + (stem[3] - '0'));
  if (chapter == 0) return false;
  out->stem_start = parts.stem_start;
  out->chapter = chapter;
  return true;
}

std::string camera_chapter_path(const char* path, const ChapterName& name, uint32_t chapter) {
  std::string next(path);
  if (chapter > 99 || name.stem_start + 4 > next.size()) return next;
  next[name.stem_start + 2] = static_cast<char>('0' + chapter / 10);
  next[name.stem_start + 3] = static_cast<char>('0' + chapter % 10);
  return next;
}

}  // namespace vantorel::app
