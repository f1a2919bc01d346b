#pragma once
// The remux engine's entry point and the callbacks its caller provides.
#include <cstdint>

#include "io/error.h"
#include "io/io_routines.h"

namespace vantorel {

// Hands out output file names. Called with a null name and a byte-count
// pointer, it stores the size of the next name with its terminator; called
// with a buffer (of that size) and a null count, it writes the name and
// advances to the next one. Returns 1 when it produced a name or a length.
using OutputNamer = uint32_t (*)(char* name, uint32_t* byte_count, void* user);

// Progress of a pass in tenths of a per cent (0 to 1000). Returns 1 to go on,
// 0 to stop the pass.
using ProgressCallback = uint32_t (*)(uint32_t permille, void* user);

enum SplitMode : uint32_t { kSplitNone = 0, kSplitBySize = 1, kSplitByDuration = 2 };

}  // namespace vantorel
