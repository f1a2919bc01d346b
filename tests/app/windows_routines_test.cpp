// What only the Windows routines do: wide and long paths, and files that
// stay deletable while open.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "app/windows_routines.h"

namespace vantorel::app {
namespace {

std::wstring converted(const std::string& path, int* error_number) {
  wchar_t* wide = windows_path(path.c_str(), error_number);
  if (wide == nullptr) return L"(null)";
  std::wstring out(wide);
  std::free(wide);
  return out;
}

TEST(WindowsRoutines, PathsBecomeWideAndLongOnesAbsolute) {
  const std::string long_leaf(300, 'x');
  const std::wstring wide_leaf(300, L'x');
  struct Case {
    std::string path;
    std::wstring expected;
  };
  const Case cases[] = {
      {"C:\\short\\name.mp4", L"C:\\short\\name.mp4"},
      {"relative/name.mp4", L"relative/name.mp4"},  // short: left to the system as given
      {"\xc3\xa9t\xc3\xa9.mp4", L"\u00e9t\u00e9.mp4"},
      {"\xf0\x9f\x8e\xac", L"\U0001F3AC"},  // beyond the basic plane: a surrogate pair
      {"C:\\dir\\" + long_leaf, L"\\\\?\\C:\\dir\\" + wide_leaf},
      {"C:/dir/./sub/../" + long_leaf, L"\\\\?\\C:\\dir\\" + wide_leaf},
      {"\\\\server\\share\\" + long_leaf, L"\\\\?\\UNC\\server\\share\\" + wide_leaf},
      {"\\\\?\\C:\\dir\\" + long_leaf, L"\\\\?\\C:\\dir\\" + wide_leaf},  // already in that form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 40));
    int error_number = -1;
    EXPECT_TRUE(converted(c.path, &error_number) == c.expected);
    EXPECT_EQ(error_number, 0);
  }
  // A relative long path is made absolute against the current directory.
  int error_number = 0;
  std::wstring relative = converted("sub\\" + long_leaf, &error_number);
  EXPECT_EQ(relative.rfind(L"\\\\?\\", 0), 0u);
  EXPECT_EQ(relative.size() > 4 + 4 + 300 && relative.compare(relative.size() - 304, 304, L"sub\\" + wide_leaf) == 0,
            true);
  // Bytes that are not UTF-8 name nothing.
  for (const char* bad : {"\xff.mp4", "caf\xc3", "\xc0\xaf"}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(converted(bad, &error_number) == L"(null)");
    EXPECT_EQ(error_number, EILSEQ);
  }
}

// A file open for writing can still be deleted (an interrupt removes the
// temporary files while the remux writes them) and renamed over.
TEST(WindowsRoutines, OpenFilesShareDeletion) {
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  char* base = utf8_from_wide(folder);
  ASSERT_NE(base, nullptr);
  const std::string path = std::string(base) + "vantorel-share-" + std::to_string(GetCurrentProcessId());
  std::free(base);
  void* h = nullptr;
  ASSERT_EQ(windows_open(path.c_str(), &h, kOpenCreate, nullptr), ErrorCode::Ok);
  ASSERT_EQ(buffered_write(h, "abc", 3, nullptr), ErrorCode::Ok);
  EXPECT_EQ(remove_file(path.c_str()), 0);
  EXPECT_EQ(buffered_close(h, nullptr), ErrorCode::Ok);
  EXPECT_FALSE(path_present(path.c_str()));
}

}  // namespace
}  // namespace vantorel::app
