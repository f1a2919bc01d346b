#pragma once
// Chapter files a camera splits one recording into, found from the first:
// GoPro names them GH, GX or GL, a 2-digit chapter number and a 4-digit
// recording number ("GX010001.MP4", "GX020001.MP4", ...).
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantorel::app {

struct ChapterName {
  size_t stem_start;  // where the file name starts in the path
  uint32_t chapter;   // 1 to 99
};

// Whether the file name of `path` follows the scheme; its chapter number.
bool camera_chapter_name(const char* path, ChapterName* out);

// The path of chapter `chapter` of the same recording: same directory,
// prefix, recording number and extension.
std::string camera_chapter_path(const char* path, const ChapterName& name, uint32_t chapter);

}  // namespace vantorel::app
