#pragma once
// The rows that describe each configuration record a sample entry can own:
// its box, record, where each entry layout keeps it, and its operations.
// Shared by the entry operations and the 'stsd' reader and writer.
#include <cstddef>

#include "sampletables/stsd.h"

namespace vantorel {

struct ConfigRow {
  ConfigBoxId id;
  FourCC type;
  const uint8_t* extended_type;  // "uuid" rows only
  uint32_t record_size;
  size_t visual_slot;  // offset of the pointer in each layout; kNoSlot: not allowed
  size_t sound_slot;
  size_t generic_slot;
  bool configures;  // found on reading, it marks the entry as configured
  void (*init)(void* record);
  void (*release)(void* record);
  // Null read: the record only says the box was there. Null write: never written.
  ErrorCode (*read)(BoxFile* file, const BoxHeader* header, void* record, FourCC format);
  ErrorCode (*write)(BoxFile* file, const void* record, FourCC format);
  uint64_t (*size)(BoxFile* file, const void* record, FourCC format);
};

const ConfigRow* config_row(ConfigBoxId id);
// The row whose box the header is, among those the layout allows; null if none.
const ConfigRow* config_row_matching(const BoxHeader* header, uint32_t layout);
// The slot of the row's record in an entry of the layout; null when not allowed.
void** config_slot(void* entry, uint32_t layout, const ConfigRow* row);
// Allocates, initialises and stores the record; Exists when the slot is taken.
ErrorCode config_create(void* entry, uint32_t layout, const ConfigRow* row, void** out);
void config_destroy(void* entry, uint32_t layout, const ConfigRow* row);
// Frees every configuration record and owned block of an entry.
void entry_release(void* entry, uint32_t layout);

// The configuration boxes each layout writes, in writing order.
struct ConfigOrder {
  const ConfigBoxId* ids;
  uint32_t count;
};
ConfigOrder config_write_order(uint32_t layout);

// The entry at an index of the table's array, or null.
void* table_entry(SampleDescriptionTable* table, uint32_t index);

}  // namespace vantorel
