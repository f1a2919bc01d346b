#pragma once
// The program's name, version and the banner printed with the usage.
#include <cstdio>

namespace vantorel::app {

constexpr const char* kProgramName = "Vantorel";
constexpr const char* kProgramVersion = VANTOREL_VERSION;

// Title, what the tool does, build line, empty line, usage.
void print_banner_and_usage(std::FILE* out);

}  // namespace vantorel::app
