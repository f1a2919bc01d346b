#pragma once
// A strict JSON reader for tests: it refuses anything RFC 8259 does not
// allow (raw control characters in strings, invalid UTF-8, bad escapes,
// trailing text), so a test that parses the program's output also checks
// that the output is valid.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::test {

struct Json {
  enum Type { Null, Bool, Number, String, Array, Object };
  Type type = Null;
  bool boolean = false;
  std::string text;  // a string's value (UTF-8), or a number as written
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  // The member of that name, or null when absent or not an object.
  const Json* get(const std::string& key) const;
  // A member that must exist: a shared Null value when it does not.
  const Json& operator[](const std::string& key) const;
  bool is_null() const { return type == Null; }
  // A number's value; 0 for anything else.
  uint64_t u64() const;
  double number() const;
};

bool json_parse(const std::string& text, Json* out, std::string* error);

}  // namespace vantorel::test
