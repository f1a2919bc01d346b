#include "meta/user_data.h"

#include <cstring>

namespace vantorel {

namespace {

void copy_cut(const uint8_t* text, uint64_t length, char* out, size_t capacity) {
  size_t n = length < capacity - 1 ? static_cast<size_t>(length) : capacity - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  // A text that ends with its own NUL is shorter than its box.
  out[std::strlen(out)] = '\0';
}

}  // namespace

bool quicktime_text(const uint8_t* payload, uint64_t length, const uint8_t** text, uint32_t* text_length) {
  // A counted string: 16-bit length, 16-bit language, the bytes.
  if (length < 4) return false;
  uint32_t n = (uint32_t{payload[0]} << 8) | payload[1];
  if (n > length - 4) return false;
  *text = payload + 4;
  *text_length = n;
  return true;
}

bool track_title(const CarriedBoxes* carried, char* out, size_t capacity) {
  if (carried == nullptr || out == nullptr || capacity == 0) return false;
  bool found = false;
  for (const OwnedBlock& block : carried->boxes) {
    BlockBox udta{};
    if (found || !block_box(block.bytes, block.length, &udta) || !(udta.type == "udta")) continue;
    walk_block(block.bytes, udta.payload, block.length, [&](FourCC type, uint64_t payload, uint64_t, uint64_t end) {
      const uint8_t* p = block.bytes + payload;
      uint64_t length = end - payload;
      const uint8_t* text = nullptr;
      uint32_t text_length = 0;
      if (type == "name") {
        copy_cut(p, length, out, capacity);
        found = true;
      } else if (type == "\xA9" "nam" && quicktime_text(p, length, &text, &text_length)) {
        copy_cut(text, text_length, out, capacity);
        found = true;
      } else if (type == "titl" && length >= 6) {  // version, flags, language, text
        copy_cut(p + 6, length - 6, out, capacity);
        found = true;
      }
      return !found;
    });
  }
  return found;
}

}  // namespace vantorel
