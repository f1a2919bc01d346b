#pragma once
// E-AC-3 sync frames built for tests: a header up to the custom channel map.
#include <cstdint>

#include "codecs/bit_writer.h"

namespace vantorel::test {

// An E-AC-3 sync frame of `words` 16-bit words at 48 kHz, six blocks: its
// header up to the custom channel map (`chanmap` < 0: none), then zeros.
inline Bytes eac3_frame(uint32_t strmtyp, uint32_t id, uint32_t words, uint32_t acmod, uint32_t lfeon,
                        int32_t chanmap = -1) {
  BitWriter w;
  w.put(0x0B77, 16), w.put(strmtyp, 2), w.put(id, 3), w.put(words - 1, 11);
  w.put(0, 2), w.put(3, 2), w.put(acmod, 3), w.put(lfeon, 1);
  w.put(16, 5), w.put(27, 5), w.put(0, 1);  // bsid, dialnorm, no compr
  if (acmod == 0) w.put(27, 5), w.put(0, 1);
  if (strmtyp == 1) {
    w.put(chanmap >= 0, 1);
    if (chanmap >= 0) w.put(static_cast<uint32_t>(chanmap), 16);
  }
  Bytes out = w.padded();
  out.resize(words * 2);
  return out;
}

}  // namespace vantorel::test
