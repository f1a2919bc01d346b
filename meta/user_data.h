#pragma once
// Reading what the carried user data says, for describing a file: a track's
// title and the movie's QuickTime text entries.
#include <cstddef>
#include <cstdint>

#include "boxes/carried_boxes.h"

namespace vantorel {

// A track's title from its carried 'udta': 'name' (the text as it is),
// QuickTime's '©nam' (counted strings) or 3GPP's 'titl'. Cut to fit `out`,
// NUL-terminated; false when there is none.
bool track_title(const CarriedBoxes* carried, char* out, size_t capacity);

// The text entries ('©' followed by three letters) of a QuickTime 'udta':
// visit(type, text, length) for the first string of each.
template <class Visit>
void user_data_texts(const CarriedBoxes* carried, Visit visit);

// The first string of a QuickTime text entry's payload; false when the
// payload is not one.
bool quicktime_text(const uint8_t* payload, uint64_t length, const uint8_t** text, uint32_t* text_length);

template <class Visit>
void user_data_texts(const CarriedBoxes* carried, Visit visit) {
  if (carried == nullptr) return;
  for (const OwnedBlock& block : carried->boxes) {
    BlockBox box{};
    if (!block_box(block.bytes, block.length, &box) || static_cast<uint8_t>(box.type.c[0]) != 0xA9) continue;
    const uint8_t* text = nullptr;
    uint32_t length = 0;
    if (quicktime_text(block.bytes + box.payload, block.length - box.payload, &text, &length))
      visit(box.type, text, length);
  }
}

}  // namespace vantorel
