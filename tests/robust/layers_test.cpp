// The library's folders are layers, and a file may include only from its own
// layer or the ones below it. This reads every include of every source and
// header and names each one that reaches upwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vantorel {
namespace {

const std::vector<std::string> kLayers = {"io", "boxes", "codecs", "sampletables", "meta", "headerforms", "import", "mediafile", "remux", "app"};

int layer_of(const std::string& folder) {
  for (size_t i = 0; i < kLayers.size(); ++i)
    if (kLayers[i] == folder) return static_cast<int>(i);
  return -1;
}

// The includes in `text` that name a folder above `folder`'s layer.
std::vector<std::string> upward_includes(const std::string& folder, const std::string& text) {
  static const std::regex include(R"(^\s*#\s*include\s*[<"]([^/">]+)/[^">]*[">])");
  std::vector<std::string> found;
  int own = layer_of(folder);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, include)) continue;
    int named = layer_of(m[1].str());
    if (named > own) found.push_back(m[0].str());
  }
  return found;
}

// The includes in `text` (of a file in `folder`) that pass the library's
// interface: app/ reaches the floors below remux/ only through
// mediafile/mediafile.h and io/, and the engine through remux/remux.h; the
// engine reaches the library only through mediafile/mediafile.h and io/; no
// folder includes another folder's internal.h.
std::vector<std::string> interface_breaches(const std::string& folder, const std::string& text) {
  static const std::regex include(R"(^\s*#\s*include\s*[<"](([^/">]+)/([^">]*))[">])");
  std::vector<std::string> found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, include)) continue;
    const std::string path = m[1].str();
    const std::string named = m[2].str();
    const std::string file = m[3].str();
    if (layer_of(named) < 0 || named == folder) continue;
    bool internal = file.size() >= 10 && file.compare(file.size() - 10, 10, "internal.h") == 0;
    bool breach = internal;
    if (folder == "app")
      breach = breach || !(named == "io" || path == "mediafile/mediafile.h" || path == "remux/remux.h");
    if (folder == "remux") breach = breach || !(named == "io" || path == "mediafile/mediafile.h");
    if (breach) found.push_back(m[0].str());
  }
  return found;
}

TEST(Layers, TheCheckFindsUpwardIncludes) {
  struct Case {
    const char* folder;
    const char* text;
    size_t upward;
  };
  const Case cases[] = {
      {"boxes", "#include \"io/byte_io.h\"\n#include \"boxes/mvhd.h\"\n", 0},
      {"boxes", "#include \"meta/chapters.h\"\n", 1},
      {"io", "  #  include \"app/main.h\"\n#include <vector>\n", 1},
      {"meta", "#include \"import/avi_import.h\"\n#include \"sampletables/stsd.h\"\n", 1},
      {"import", "#include \"meta/tags.h\"\n", 0},
      {"mediafile", "#include \"remux/remux.h\"\n#include <remux/x.h>\n", 2},
      {"app", "#include \"remux/remux.h\"\n#include \"support/box_builder.h\"\n", 0},
      {"sampletables", "// #include \"mediafile/mediafile.h\" in a comment\n", 0},
      {"sampletables", "#include \"codecs/h264.h\"\n", 0},
      {"codecs", "#include \"boxes/fields.h\"\n#include \"sampletables/stsd.h\"\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(upward_includes(c.folder, c.text).size(), c.upward);
  }
}

TEST(Layers, TheInterfaceCheckFindsIncludesPastTheInterface) {
  struct Case {
    const char* folder;
    const char* text;
    size_t breaches;
  };
  const Case cases[] = {
      {"app", "#include \"mediafile/mediafile.h\"\n#include \"remux/remux.h\"\n#include \"io/fourcc.h\"\n", 0},
      {"app", "#include \"app/json_writer.h\"\n#include <cstdio>\n", 0},
      {"app", "#include \"mediafile/media_file.h\"\n", 1},
      {"app", "#include \"remux/verify.h\"\n#include \"boxes/hdlr.h\"\n", 2},
      {"app", "  #  include <meta/tag_record.h>\n", 1},
      {"app", "#include \"app/internal.h\"\n", 0},  // its own folder's
      {"remux", "#include \"mediafile/internal.h\"\n", 1},
      {"remux", "#include \"remux/read_plan_internal.h\"\n", 0},
      {"remux", "#include \"mediafile/mediafile.h\"\n#include \"io/value64.h\"\n", 0},
      {"remux", "#include \"mediafile/media_file.h\"\n#include \"sampletables/stsd.h\"\n", 2},
      {"remux", "#include \"codecs/timecode.h\"\n#include <boxes/elst.h>\n", 2},
      {"meta", "#include \"boxes/internal.h\"\n#include \"boxes/hdlr.h\"\n", 1},
      {"app", "// #include \"boxes/mdhd.h\" in a comment\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(interface_breaches(c.folder, c.text).size(), c.breaches);
  }
}

TEST(Layers, NoSourceIncludesAHigherLayer) {
  namespace fs = std::filesystem;
  const fs::path root = VANTOREL_SOURCE_DIR;
  size_t files = 0;
  for (const std::string& folder : kLayers) {
    ASSERT_TRUE(fs::is_directory(root / folder)) << folder;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      std::ifstream in(entry.path());
      std::stringstream text;
      text << in.rdbuf();
      ++files;
      for (const std::string& include : upward_includes(folder, text.str()))
        ADD_FAILURE() << entry.path().lexically_relative(root).string() << ": " << include;
      for (const std::string& include : interface_breaches(folder, text.str()))
        ADD_FAILURE() << entry.path().lexically_relative(root).string() << " passes the interface: " << include;
    }
  }
  EXPECT_GT(files, 100u);  // the walk found the sources
}

}  // namespace
}  // namespace vantorel
