#pragma once
// The program's name, version and the banner printed with the usage.
#include <cstdio>

namespace vantorel::app {

constexpr const char* kProgramName = "Vantorel";
constexpr const char* kProgramVersion = VANTOREL_VERSION;

// The name the program was called by: the base name of `argv0` ("vantorel"
// when there is none). The usage lines show it.
void banner_set_invoked_name(const char* argv0);
const char* banner_invoked_name();

// The date this program was built, "Dec 7 2026".
const char* banner_build_date();

// Title, what the tool does, build line, empty line, usage.
void print_banner_and_usage(std::FILE* out);

// --help: the banner and usage, then the other forms and every option.
void print_help(std::FILE* out);

// After a bad command line: the usage and the options, without the banner.
void print_usage(std::FILE* out);

// --version: "Vantorel 1.0.0", the same name and version as the banner's.
void print_version(std::FILE* out);

}  // namespace vantorel::app
