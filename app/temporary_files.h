#pragma once
// The temporary files outputs are written to before they take their names:
// ".<name>.vantorel-<host>-<pid>-<n>" beside the file they will replace. The
// host and the process in the name let a later run tell the files of a
// killed run (SIGKILL, a crash, a power cut) from those of one still
// writing, and remove the former.
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vantorel::app {

// The host part of the names: this machine's name with every character but
// letters, digits, '.' and '_' made '_' (so '-' only separates the fields),
// at most 63 characters; "host" when the system gives no name.
const char* temporary_host();

// ".<base>.vantorel-<host>-<pid>-<n>" beside `target`, created empty and
// new (n from `index` * 100, the next one when taken); null with
// *error_number (an errno value) when it cannot be.
char* create_temporary_beside(const char* target, uint32_t index, int* error_number);

// Who made a temporary file, read from its name.
struct TemporaryOwner {
  char host[64];
  uint64_t pid;
};

// Whether `leaf` (a name in a directory, no separators) is the name of a
// temporary file this program makes; its host and process in `out` if so.
// Names of the earlier form without a host are not.
bool parse_temporary_name(const char* leaf, TemporaryOwner* out);

// Removes the temporary files in the directory of `target` that a process
// of this host made which no longer runs (the files of other hosts and of
// running processes are kept), each named in a line on `report` (none when
// null). Returns how many were removed.
uint32_t remove_stale_temporaries(const char* target, std::FILE* report);

}  // namespace vantorel::app
