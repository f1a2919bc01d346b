#include "support/memory_remux.h"

#include <cstring>

#include "remux/remux.h"

namespace vantorel::test {

namespace {

struct Output {
  std::vector<uint8_t> data;  // data.size() is the file's size
  uint64_t position = 0;
};

struct Run {
  MemoryPair input{};
  Output output;
  uint64_t bound = 0;
  MemoryRemuxResult* result = nullptr;
};

Run* run_of(void* user) { return static_cast<Run*>(user); }
bool is_output(void* handle, void* user) { return handle == &run_of(user)->output; }

ErrorCode o_open(const void* name, void** out, uint32_t mode, void* user) {
  if (out == nullptr || user == nullptr) return ErrorCode::BadArgument;
  Run* run = run_of(user);
  if (mode == kOpenRead || mode == kOpenInspect) return mem_open(&run->input, out, mode, nullptr);
  if (name == nullptr) return ErrorCode::BadArgument;
  run->result->outputs_opened++;
  run->output = Output{};
  *out = &run->output;
  return ErrorCode::Ok;
}

ErrorCode o_close(void* handle, void* user) {
  return is_output(handle, user) ? ErrorCode::Ok : mem_close(handle, nullptr);
}

ErrorCode o_seek(void* handle, const uint64_t* position, void* user) {
  if (!is_output(handle, user)) return mem_seek(handle, position, nullptr);
  static_cast<Output*>(handle)->position = *position;
  return ErrorCode::Ok;
}

ErrorCode o_tell(void* handle, uint64_t* out, void* user) {
  if (!is_output(handle, user)) return mem_tell(handle, out, nullptr);
  *out = static_cast<Output*>(handle)->position;
  return ErrorCode::Ok;
}

ErrorCode o_size(void* handle, uint64_t* out, void* user) {
  if (!is_output(handle, user)) return mem_size(handle, out, nullptr);
  *out = static_cast<Output*>(handle)->data.size();
  return ErrorCode::Ok;
}

ErrorCode o_read(void* handle, void* buffer, uint32_t count, void* user) {
  if (!is_output(handle, user)) return mem_read(handle, buffer, count, nullptr);
  Output* o = static_cast<Output*>(handle);
  if (o->position > o->data.size() || count > o->data.size() - o->position) return ErrorCode::Io;
  if (count != 0) std::memcpy(buffer, o->data.data() + o->position, count);
  o->position += count;
  return ErrorCode::Ok;
}

ErrorCode o_write(void* handle, const void* buffer, uint32_t count, void* user) {
  if (!is_output(handle, user)) return mem_write(handle, buffer, count, nullptr);
  Output* o = static_cast<Output*>(handle);
  uint64_t bound = run_of(user)->bound;
  if (o->position > bound || count > bound - o->position) return ErrorCode::Io;  // the disk is full
  uint64_t end = o->position + count;
  if (end > o->data.size()) o->data.resize(end);
  if (count != 0) std::memcpy(o->data.data() + o->position, buffer, count);
  o->position = end;
  return ErrorCode::Ok;
}

constexpr IoRoutines kRoutines{o_open, o_close, o_seek, o_tell, o_size, o_read, o_write, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

uint32_t namer(char* name, uint32_t* byte_count, void*) {
  static const char kName[] = "out.mp4";
  if (name == nullptr) {
    if (byte_count == nullptr) return 0;
    *byte_count = sizeof kName;
    return 1;
  }
  std::memcpy(name, kName, sizeof kName);
  return 1;
}

void dropped(uint32_t, FourCC, FourCC, uint32_t, void* user) { run_of(user)->result->tracks_dropped++; }

}  // namespace

MemoryRemuxResult remux_in_memory(const uint8_t* data, size_t size, uint64_t output_bound, bool salvage) {
  MemoryRemuxResult result{};
  if (size > UINT32_MAX) {
    result.result = ErrorCode::BadArgument;
    return result;
  }
  Run run;
  run.input = MemoryPair{data, static_cast<uint32_t>(size)};
  run.bound = output_bound;
  run.result = &result;
  RemuxOptions options{};
  options.salvage = salvage;
  RemuxEvents events{};
  events.track_dropped = dropped;
  RemuxResult outcome{};
  result.result = remux_run(&run.input, namer, &kRoutines, &options, &events, &run, &outcome);
  result.failure = outcome.input_failure;
  result.output = std::move(run.output.data);
  return result;
}

}  // namespace vantorel::test
