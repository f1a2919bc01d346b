// Fuzz target: the first pass over a transport stream, the splitting of its
// units into access units, and the expansion of every unit and access unit
// it records, all over memory. Each unit is also gathered whole by the
// pass, so both ways of reaching a unit's bytes run on every input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "import/mpegts/ts_access.h"
#include "import/mpegts/ts_index.h"
#include "io/byte_io.h"

namespace {

using namespace vantorel;

struct Touched {
  uint32_t sum;
  TsAccessPass pass;
};

ErrorCode touch(void* user, const TsUnitEvent* event) {
  auto* t = static_cast<Touched*>(user);
  if (event->payload != nullptr)
    for (uint32_t i = 0; i < event->record->length; ++i) t->sum += event->payload[i];
  return ts_access_on_unit(&t->pass, event);
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
  static Touched touched;
  touched = Touched{};
  touched.pass.max_units = static_cast<uint32_t>(size);
  TsIndexOptions options{};
  options.keep_other_programs = true;
  options.on_unit = touch;
  options.user = &touched;
  options.max_unit_bytes = 1u << 20;
  options.read_size = 0x10000;  // the smallest window: inputs are small
  TsIndex index{};
  ErrorCode e = ts_index_build(&file, &options, &index);
  if (e == ErrorCode::Ok || e == ErrorCode::Missing) e = ts_access_finish(&touched.pass, &index);
  if (e == ErrorCode::Ok) {
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
      for (uint32_t i = 0; i < touched.pass.count; ++i) {
        const TsStreamAccess* s = touched.pass.streams[i];
        for (const TsAccessUnit& u : s->units) {
          if (u.where.length > (1u << 20)) continue;
          buffer.resize(u.where.length);
          if (ts_expand(&window, index.layout, index.pids[s->pid_index].pid, u.where, buffer.data()) == ErrorCode::Ok &&
              s->configs != nullptr && s->configs->count > u.description) {
            uint32_t sample = 0;
            ts_nal_sample(s->configs->codec, buffer.data(), u.where.length, &s->configs->configs[u.description],
                          nullptr, 0, &sample);
          }
        }
      }
      ts_window_release(&window);
    }
  }
  ts_access_release(&touched.pass);
  ts_index_release(&index);
  detach(&file);
  return 0;
}
