#include "app/output_commit.h"

#include <cstdlib>
#include <cstring>

#include "app/platform.h"
#include "app/run_state.h"
#include "app/temporary_files.h"

namespace vantorel::app {

namespace {

char* copy_of(const char* text) { return text != nullptr ? strdup(text) : nullptr; }

}  // namespace

ErrorCode output_set_add(OutputSet* set, const char* final_name, IoFailure* failure) {
  if (set == nullptr || final_name == nullptr) return ErrorCode::BadArgument;
  OutputEntry entry{};
  entry.final_name = copy_of(final_name);
  entry.target = resolve_links(final_name);
  if (entry.final_name == nullptr || entry.target == nullptr) {
    std::free(entry.final_name);
    std::free(entry.target);
    return ErrorCode::OutOfMemory;
  }
  // The name itself is asked, not the link's target: /dev/fd/63 of a
  // process substitution points to "pipe:[1234]", a name of no directory.
  PathKind kind = is_standard_output_name(final_name) ? PathKind::Other : path_kind(final_name);
  if (kind == PathKind::Other) {
    // Standard output, /dev/null, a terminal, a FIFO: written where it is,
    // never renamed over.
    entry.in_place = 1;
    entry.write_name = copy_of(final_name);
  } else if (kind == PathKind::Empty) {
    // Nothing to lose: written where it is (keeping its owner, mode and
    // links), and emptied again should the run fail.
    entry.in_place = 1;
    entry.empty_on_failure = 1;
    entry.write_name = copy_of(entry.target);
  } else {
    int error_number = 0;
    entry.write_name = create_temporary_beside(entry.target, set->count, &error_number);
    if (entry.write_name == nullptr) {
      std::free(entry.final_name);
      std::free(entry.target);
      io_failure_record(failure, "create", final_name, error_number);
      return ErrorCode::Io;
    }
  }
  if (entry.write_name == nullptr) {
    std::free(entry.final_name);
    std::free(entry.target);
    return ErrorCode::OutOfMemory;
  }
  interrupt_cleanup_hold();
  ErrorCode e = ErrorCode::Ok;
  if (set->count == set->capacity) {
    uint32_t capacity = set->capacity == 0 ? 4 : set->capacity * 2;
    auto* grown = static_cast<OutputEntry*>(std::realloc(set->items, sizeof(OutputEntry) * capacity));
    if (grown == nullptr) {
      e = ErrorCode::OutOfMemory;
    } else {
      set->items = grown;
      set->capacity = capacity;
    }
  }
  if (e == ErrorCode::Ok) set->items[set->count++] = entry;
  interrupt_cleanup_release();
  if (e != ErrorCode::Ok) {
    if (!entry.in_place) remove_file(entry.write_name);
    if (entry.empty_on_failure) empty_file(entry.write_name);
    std::free(entry.final_name);
    std::free(entry.target);
    std::free(entry.write_name);
  }
  return e;
}

ErrorCode output_set_commit(OutputSet* set, IoFailure* failure) {
  if (set == nullptr) return ErrorCode::BadArgument;
  // An interrupt now would find some parts renamed: it waits until all are.
  interrupt_cleanup_hold();
  ErrorCode e = ErrorCode::Ok;
  for (uint32_t i = 0; i < set->count; ++i) {
    OutputEntry& entry = set->items[i];
    if (entry.in_place) continue;
    int error_number = replace_file(entry.write_name, entry.target);
    if (error_number != 0) {
      io_failure_record(failure, "rename a temporary file to", entry.final_name, error_number);
      e = ErrorCode::Io;
      break;
    }
    entry.in_place = 1;  // nothing left to remove
  }
  if (e != ErrorCode::Ok) {
    output_set_abort(set);
  } else {
    // Complete now: an interrupt from here on must leave them be.
    for (uint32_t i = 0; i < set->count; ++i) set->items[i].empty_on_failure = 0;
  }
  interrupt_cleanup_release();
  return e;
}

void output_set_abort(OutputSet* set) {
  if (set == nullptr) return;
  for (uint32_t i = 0; i < set->count; ++i) {
    OutputEntry& entry = set->items[i];
    if (entry.write_name == nullptr) continue;
    if (entry.empty_on_failure) {
      empty_file(entry.write_name);
      entry.empty_on_failure = 0;
    }
    if (entry.in_place) continue;
    remove_file(entry.write_name);
    entry.in_place = 1;
  }
}

void output_set_release(OutputSet* set) {
  if (set == nullptr) return;
  interrupt_cleanup_hold();
  interrupt_cleanup_forget(set);
  for (uint32_t i = 0; i < set->count; ++i) {
    std::free(set->items[i].final_name);
    std::free(set->items[i].target);
    std::free(set->items[i].write_name);
  }
  std::free(set->items);
  set->items = nullptr;
  set->count = set->capacity = 0;
  interrupt_cleanup_release();
}

void cleanup_signals_install(OutputSet* set, const char* program_name) {
  interrupt_cleanup_install(set, program_name);
}

void cleanup_signals_restore() { interrupt_cleanup_restore(); }

}  // namespace vantorel::app
