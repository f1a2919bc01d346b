#pragma once
// What the front end says about the parts of a split and the tracks a
// selection keeps, once the survey or the passes know it.
#include <cstdint>
#include <cstdio>

#include "app/run_state.h"

namespace vantorel::app {

// Records part `index` above the split limit (the engine's event).
void record_part_over_limit(RunState* state, uint32_t index, uint32_t split_mode, uint64_t value, uint64_t limit);
// One warning naming every part above the limit, with its size or
// duration; nothing when all parts kept it.
void print_over_limit_warning(std::FILE* out, const RunState* state);

// Why --tracks or --drop (`list`, the option's value) cannot be met on
// `input_path`: a status-2 message naming the value.
void print_selection_fault(std::FILE* out, const RunState* state, const char* option, const char* list);

}  // namespace vantorel::app
