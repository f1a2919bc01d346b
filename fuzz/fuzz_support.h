#pragma once
// What the fuzz targets share: opening a buffer as a media file and reading
// every sample of every track, the way a player or the remux engine would.
#include <cstddef>
#include <cstdint>

namespace vantorel::fuzz {

// Opens `data` in `mode` (read or inspect) from memory, reads every sample of
// every track, seeks each track to its middle and reads on from there, then
// closes the file.
void read_everything(const uint8_t* data, size_t size, uint32_t mode);

}  // namespace vantorel::fuzz
