#include "support/json.h"

#include <cstdlib>

namespace vantorel::test {

namespace {

struct Parser {
  explicit Parser(const std::string& text) : s(text) {}
  const std::string& s;
  size_t i = 0;
  std::string error;
  int depth = 0;

  bool fail(const std::string& why) {
    if (error.empty()) error = why + " at byte " + std::to_string(i);
    return false;
  }
  void space() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  bool literal(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (s.compare(i, n, word) != 0) return fail("bad literal");
    i += n;
    return true;
  }
  static void put_utf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  bool hex4(uint32_t* out) {
    if (i + 4 > s.size()) return fail("short \\u escape");
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s[i++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return fail("bad hex digit");
    }
    *out = v;
    return true;
  }
  // One valid UTF-8 sequence copied to out.
  bool utf8(std::string* out) {
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = at(i);
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; if (c == 0xE0) lo = 0xA0; if (c == 0xED) hi = 0x9F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; if (c == 0xF0) lo = 0x90; if (c == 0xF4) hi = 0x8F; }
    else return fail("invalid UTF-8 lead byte");
    if (i + n > s.size()) return fail("cut UTF-8 sequence");
    if (at(i + 1) < lo || at(i + 1) > hi) return fail("invalid UTF-8 sequence");
    for (size_t k = 2; k < n; ++k)
      if (at(i + k) < 0x80 || at(i + k) > 0xBF) return fail("invalid UTF-8 continuation");
    out->append(s, i, n);
    i += n;
    return true;
  }
  bool string(std::string* out) {
    if (i >= s.size() || s[i] != '"') return fail("expected a string");
    ++i;
    while (true) {
      if (i >= s.size()) return fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '"') {
        ++i;
        return true;
      }
      if (c < 0x20) return fail("raw control character in a string");
      if (c >= 0x80) {
        if (!utf8(out)) return false;
        continue;
      }
      ++i;
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      if (i >= s.size()) return fail("cut escape");
      char e = s[i++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          uint32_t cp;
          if (!hex4(&cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low;
            if (s.compare(i, 2, "\\u") != 0) return fail("lone high surrogate");
            i += 2;
            if (!hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("bad low surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return fail("lone low surrogate");
          }
          put_utf8(cp, out);
          break;
        }
        default: return fail("bad escape");
      }
    }
  }
  bool digits() {
    size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i > start;
  }
  bool number(Json* out) {
    size_t start = i;
    if (s[i] == '-') ++i;
    if (i < s.size() && s[i] == '0') {
      ++i;
    } else if (!digits()) {
      return fail("bad number");
    }
    if (i < s.size() && s[i] == '.') {
      ++i;
      if (!digits()) return fail("bad fraction");
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      ++i;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
      if (!digits()) return fail("bad exponent");
    }
    out->type = Json::Number;
    out->text = s.substr(start, i - start);
    return true;
  }
  bool value(Json* out) {
    if (++depth > 64) return fail("too deep");
    space();
    if (i >= s.size()) return fail("expected a value");
    char c = s[i];
    bool ok;
    if (c == '{') {
      out->type = Json::Object;
      ++i;
      space();
      ok = true;
      if (i < s.size() && s[i] == '}') {
        ++i;
      } else {
        while (ok) {
          space();
          std::pair<std::string, Json> member;
          if (!string(&member.first)) { ok = false; break; }
          space();
          if (i >= s.size() || s[i] != ':') { ok = fail("expected ':'"); break; }
          ++i;
          if (!value(&member.second)) { ok = false; break; }
          for (const auto& m : out->members)
            if (m.first == member.first) ok = fail("duplicate key " + member.first);
          out->members.push_back(std::move(member));
          space();
          if (i < s.size() && s[i] == ',') { ++i; continue; }
          if (i < s.size() && s[i] == '}') { ++i; break; }
          ok = fail("expected ',' or '}'");
        }
      }
    } else if (c == '[') {
      out->type = Json::Array;
      ++i;
      space();
      ok = true;
      if (i < s.size() && s[i] == ']') {
        ++i;
      } else {
        while (ok) {
          Json item;
          if (!value(&item)) { ok = false; break; }
          out->items.push_back(std::move(item));
          space();
          if (i < s.size() && s[i] == ',') { ++i; continue; }
          if (i < s.size() && s[i] == ']') { ++i; break; }
          ok = fail("expected ',' or ']'");
        }
      }
    } else if (c == '"') {
      out->type = Json::String;
      ok = string(&out->text);
    } else if (c == 't') {
      out->type = Json::Bool;
      out->boolean = true;
      ok = literal("true");
    } else if (c == 'f') {
      out->type = Json::Bool;
      ok = literal("false");
    } else if (c == 'n') {
      ok = literal("null");
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      ok = number(out);
    } else {
      ok = fail("unexpected character");
    }
    --depth;
    return ok;
  }
};

}  // namespace

const Json* Json::get(const std::string& key) const {
  if (type != Object) return nullptr;
  for (const auto& m : members)
    if (m.first == key) return &m.second;
  return nullptr;
}

const Json& Json::operator[](const std::string& key) const {
  static const Json kNull;
  const Json* found = get(key);
  return found != nullptr ? *found : kNull;
}

uint64_t Json::u64() const { return type == Number ? std::strtoull(text.c_str(), nullptr, 10) : 0; }
double Json::number() const { return type == Number ? std::strtod(text.c_str(), nullptr) : 0.0; }

bool json_parse(const std::string& text, Json* out, std::string* error) {
  *out = Json{};
  Parser p(text);
  bool ok = p.value(out);
  if (ok) {
    p.space();
    if (p.i != text.size()) ok = p.fail("text after the document");
  }
  if (!ok && error != nullptr) *error = p.error;
  return ok;
}

}  // namespace vantorel::test
