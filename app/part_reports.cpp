#include "app/part_reports.h"

#include <cstdlib>

#include "app/banner.h"
#include "app/output_namer.h"
#include "app/platform.h"
#include "app/track_list.h"
#include "remux/remux.h"

namespace vantorel::app {

namespace {

// "123 bytes" or "6.000 s".
void print_amount(std::FILE* out, uint32_t mode, uint64_t value) {
  if (mode == kSplitBySize) {
    console_printf(out, "%llu bytes", static_cast<unsigned long long>(value));
  } else {
    console_printf(out, "%llu.%03llu s", static_cast<unsigned long long>(value / 1000),
                   static_cast<unsigned long long>(value % 1000));
  }
}

void print_part_name(std::FILE* out, const RunState* state, uint32_t index) {
  char* name = output_part_name(state->names.output_path, static_cast<int32_t>(index));
  console_printf(out, "%u ('%s'", index + 1, name != nullptr ? name : "?");
  std::free(name);
}

}  // namespace

void record_part_over_limit(RunState* state, uint32_t index, uint32_t split_mode, uint64_t value, uint64_t limit) {
  if (state->over_limit_count < kOverLimitShown) state->over_limit[state->over_limit_count] = {index, value};
  if (state->over_limit_count < UINT32_MAX) ++state->over_limit_count;
  state->over_limit_mode = split_mode;
  state->over_limit_limit = limit;
}

void print_over_limit_warning(std::FILE* out, const RunState* state) {
  const uint32_t count = state->over_limit_count;
  if (out == nullptr || count == 0) return;
  const uint32_t mode = state->over_limit_mode;
  const char* option = mode == kSplitBySize ? "--split-size" : "--split-duration";
  console_printf(out, "%s: warning: ", kProgramName);
  if (count == 1) {
    console_puts("part ", out);
    print_part_name(out, state, state->over_limit[0].index);
    console_puts(mode == kSplitBySize ? ") is " : ") lasts ", out);
    print_amount(out, mode, state->over_limit[0].value);
    console_puts(", above", out);
  } else {
    const uint32_t shown = count < kOverLimitShown ? count : kOverLimitShown;
    console_puts("parts ", out);
    for (uint32_t i = 0; i < shown; ++i) {
      if (i > 0) console_puts(i + 1 == count ? " and " : ", ", out);
      print_part_name(out, state, state->over_limit[i].index);
      console_puts(", ", out);
      print_amount(out, mode, state->over_limit[i].value);
      console_puts(")", out);
    }
    if (shown < count) console_printf(out, " and %u more", count - shown);
    console_puts(" are above", out);
  }
  console_printf(out, " the %s limit of ", option);
  print_amount(out, mode, state->over_limit_limit);
  console_puts(": the input has no video sync sample to cut at sooner\n", out);
}

void print_selection_fault(std::FILE* out, const RunState* state, const char* option, const char* list) {
  if (state->selection_fault == kSelectionUnknownId) {
    const char* item = nullptr;
    size_t length = 0;
    if (!track_list_item(list, state->selection_pick, &item, &length)) {
      item = list;
      length = 0;
    }
    console_printf(out, "%s: '%s' has no track %.*s (%s %s): --info lists its tracks\n", kProgramName,
                   state->input_path, static_cast<int>(length > 40 ? 40 : length), item, option, list);
    return;
  }
  console_printf(out, "%s: %s %s leaves no track of '%s' to write\n", kProgramName, option, list, state->input_path);
}

}  // namespace vantorel::app
