#pragma once
// 'mvhd': the movie header.
#include "boxes/box_tree.h"

namespace vantorel {

struct MvhdRecord {
  uint8_t version;
  uint32_t flags;
  uint64_t creation_time;      // seconds since 1904
  uint64_t modification_time;
  uint32_t timescale;
  uint64_t duration;           // movie time scale
  uint32_t rate;               // 16.16
  uint16_t volume;             // 8.8
  uint32_t matrix[9];
  uint32_t next_track_id;
};

// The four time fields that open 'mvhd' and 'mdhd' after version and flags:
// creation and modification times, time scale, duration; 64-bit times in
// version 1, 32-bit ones otherwise.
struct HeaderTimes {
  uint64_t creation_time;
  uint64_t modification_time;
  uint32_t timescale;
  uint64_t duration;
};
void read_header_times(BoxFile* file, bool wide, HeaderTimes* out);
ErrorCode write_header_times(BoxFile* file, bool wide, const HeaderTimes& times);

// The same fields straight into and out of a header record of either box.
template <class Record>
void read_record_times(BoxFile* file, Record* r) {
  HeaderTimes times;
  read_header_times(file, r->version == 1, &times);
  r->creation_time = times.creation_time;
  r->modification_time = times.modification_time;
  r->timescale = times.timescale;
  r->duration = times.duration;
}
template <class Record>
ErrorCode write_record_times(BoxFile* file, const Record& r) {
  return write_header_times(file, r.version == 1, {r.creation_time, r.modification_time, r.timescale, r.duration});
}

void mvhd_init(BoxFile* file, void* context);
ErrorCode mvhd_read(BoxFile* file, const BoxHeader* header, void* context);
ErrorCode mvhd_write(BoxFile* file, void* context);
uint64_t mvhd_size(BoxFile* file, void* context);

}  // namespace vantorel
