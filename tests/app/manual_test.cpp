// The manual page and the shell completion name the options --help names.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "support/ffprobe.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vantorel {
namespace {

using namespace test;

std::set<std::string> options_in(const std::string& text, const std::regex& pattern) {
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1].str());
  return names;
}

TEST(Manual, NamesEveryOptionOfTheHelpAndNoOther) {
  TempDir dir;
  RunResult help = run_program(dir, {"--help"});
  ASSERT_EQ(help.status, 0);
  // "  --split-size SIZE   ..." and "  -h, --help   ...".
  std::set<std::string> from_help = options_in(help.out, std::regex(R"((?:\n  |, )(--?[a-z][a-z-]*|--)(?=[ ,]))"));
  from_help.erase("-");
  ASSERT_GE(from_help.size(), 8u) << help.out;

  std::string page = slurp(std::string(VANTOREL_SOURCE_DIR) + "/doc/vantorel.1");
  size_t options = page.find(".SH OPTIONS");
  size_t next = page.find(".SH", options + 1);
  ASSERT_NE(options, std::string::npos);
  std::string section = page.substr(options, next - options);
  // Each option is a .TP paragraph's first line: ".B \-\-quiet", ".BR \-h ", " \-\-help".
  std::string plain = std::regex_replace(section, std::regex(R"(\\-)"), "-");
  std::set<std::string> from_page = options_in(plain, std::regex(R"(\.TP\n\.B[IR]? (--?[a-z][a-z-]*))"));
  for (const std::string& both : options_in(plain, std::regex(R"(\.TP\n\.BR -[a-z] ", " (--[a-z-]+))")))
    from_page.insert(both);
  from_page.insert("--");  // the end of options has a paragraph of its own
  EXPECT_EQ(from_page, from_help);

  std::string completion = slurp(std::string(VANTOREL_SOURCE_DIR) + "/packaging/vantorel.bash-completion");
  for (const std::string& option : from_help) {
    if (option.size() <= 2 || option[1] != '-') continue;
    EXPECT_TRUE(std::regex_search(completion, std::regex(option + R"([ "])"))) << option;
  }
}

// The completion offers names with blanks and parentheses whole, however
// the part typed so far is quoted.
TEST(Manual, CompletionKeepsNamesWithBlanksAndParenthesesWhole) {
  TempDir dir;
  for (const char* name : {"my clip (1).webm", "my clip (2).mkv", "other.mp4", "notes.txt"})
    std::ofstream(dir.path(name)) << "x";
  struct Case {
    const char* typed;
    const char* offered;  // one per line, sorted
  };
  const Case cases[] = {
      {"my", "my clip (1).webm\nmy clip (2).mkv\n"},
      {"my\\ clip\\ \\(1", "my clip (1).webm\n"},
      {"'my clip (2", "my clip (2).mkv\n"},
      {"\"my clip", "my clip (1).webm\nmy clip (2).mkv\n"},
      {"o", "other.mp4\n"},
      {"n", ""},
      {"--fo", "--force\n"},
  };
  const std::string completion = std::string(VANTOREL_SOURCE_DIR) + "/packaging/vantorel.bash-completion";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    std::string script = "cd " + shell_quote(dir.dir()) + " && source " + shell_quote(completion) +
                         " && COMP_WORDS=(vantorel " + shell_quote(c.typed) +
                         ") && COMP_CWORD=1 && _vantorel && { [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\\n' "
                         "\"${COMPREPLY[@]}\" | LC_ALL=C sort; }";
    std::string said;
    ASSERT_EQ(run_command("bash -c " + shell_quote(script), &said), 0) << said;
    EXPECT_EQ(said, c.offered);
  }
}

}  // namespace
}  // namespace vantorel
