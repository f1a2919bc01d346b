#include "app/json_writer.h"

#include <cstring>

#include "app/platform.h"

namespace vantorel::app {

namespace {

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes), or 0.
size_t utf8_sequence(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (left < length) return 0;
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return length;
}

void json_newline(JsonWriter* w) {
  console_putc('\n', w->out);
  for (uint32_t i = 0; i < w->depth; ++i) console_puts("  ", w->out);
}

}  // namespace

void json_item(JsonWriter* w) {
  if (w->after_key) {
    w->after_key = false;
    return;
  }
  if (w->depth == 0) return;
  if (w->has_items[w->depth - 1]) console_putc(',', w->out);
  w->has_items[w->depth - 1] = true;
  json_newline(w);
}

void json_open(JsonWriter* w, char bracket) {
  json_item(w);
  console_putc(bracket, w->out);
  if (w->depth < JsonWriter::kMaxDepth) {
    w->has_items[w->depth] = false;
    ++w->depth;
  }
}

void json_close(JsonWriter* w, char bracket) {
  bool had_items = w->depth > 0 && w->has_items[w->depth - 1];
  if (w->depth > 0) --w->depth;
  if (had_items) json_newline(w);
  console_putc(bracket, w->out);
}

void json_key(JsonWriter* w, const char* key) {
  json_item(w);
  json_print_string(w->out, key, std::strlen(key));
  console_puts(": ", w->out);
  w->after_key = true;
}

void json_string(JsonWriter* w, const char* key, const char* data, size_t length) {
  if (key != nullptr) json_key(w, key);
  json_item(w);
  json_print_string(w->out, data, length);
}

void json_text(JsonWriter* w, const char* key, const char* text) { json_string(w, key, text, std::strlen(text)); }

void json_u64(JsonWriter* w, const char* key, uint64_t value) {
  if (key != nullptr) json_key(w, key);
  json_item(w);
  console_printf(w->out, "%llu", static_cast<unsigned long long>(value));
}

void json_i64(JsonWriter* w, const char* key, int64_t value) {
  if (key != nullptr) json_key(w, key);
  json_item(w);
  console_printf(w->out, "%lld", static_cast<long long>(value));
}

void json_null(JsonWriter* w, const char* key) {
  json_key(w, key);
  json_item(w);
  console_puts("null", w->out);
}

void json_bool(JsonWriter* w, const char* key, bool value) {
  json_key(w, key);
  json_item(w);
  console_puts(value ? "true" : "false", w->out);
}

void json_code(JsonWriter* w, const char* key, FourCC f) {
  if (f.is_zero()) {
    json_null(w, key);
  } else {
    json_string(w, key, f.c, 4);
  }
}

void json_print_string(std::FILE* out, const char* data, size_t length) {
  console_putc('"', out);
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  while (i < length) {
    unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      console_putc('\\', out);
      console_putc(c, out);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      console_printf(out, "\\u%04x", c);
      ++i;
    } else {
      size_t n = utf8_sequence(p + i, length - i);
      if (n == 0) {
        console_puts("\\ufffd", out);
        ++i;
      } else {
        console_write(out, reinterpret_cast<const char*>(p + i), n);
        i += n;
      }
    }
  }
  console_putc('"', out);
}

}  // namespace vantorel::app
