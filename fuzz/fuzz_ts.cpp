// Fuzz target: the first pass over a transport stream and the expansion of
// every unit it records, all over memory. Each unit is also gathered whole
// by the pass, so both ways of reaching a unit's bytes run on every input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "import/mpegts/ts_index.h"
#include "io/byte_io.h"

namespace {

using namespace vantorel;

ErrorCode touch(void* user, const TsUnitEvent* event) {
  uint32_t* sum = static_cast<uint32_t*>(user);
  if (event->payload != nullptr)
    for (uint32_t i = 0; i < event->record->length; ++i) *sum += event->payload[i];
  return ErrorCode::Ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  MemoryPair pair{data, static_cast<uint32_t>(size)};
  IoOpenParams params{};
  params.routines = memory_routines();
  params.path = &pair;
  FileIo file{};
  if (attach(&file, &params, kOpenRead) != ErrorCode::Ok) return 0;
  uint32_t sum = 0;
  TsIndexOptions options{};
  options.keep_other_programs = true;
  options.on_unit = touch;
  options.user = &sum;
  options.max_unit_bytes = 1u << 20;
  options.read_size = 0x10000;  // the smallest window: inputs are small
  TsIndex index{};
  ErrorCode e = ts_index_build(&file, &options, &index);
  if (e == ErrorCode::Ok || e == ErrorCode::Missing) {
    TsWindow window;
    if (ts_window_open(&window, &file, 0x10000, 0x1000) == ErrorCode::Ok) {
      std::vector<uint8_t> buffer;
      for (const TsPid& pid : index.pids) {
        for (const PesRecord& r : pid.pes) {
          if (r.length > (1u << 20)) continue;
          buffer.resize(r.length);
          // The whole unit, then a range from its middle through whatever follows.
          ts_expand(&window, index.layout, pid.pid, EsLocator{r.offset, 0, r.length}, buffer.data());
          ts_expand(&window, index.layout, pid.pid, EsLocator{r.offset, r.length / 2, r.length}, buffer.data());
        }
      }
      ts_window_release(&window);
    }
  }
  ts_index_release(&index);
  detach(&file);
  return 0;
}
