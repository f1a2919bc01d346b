#pragma once
// What the front end needs from the operating system, behind one interface:
// platform_posix.cpp implements it over POSIX, platform_windows.cpp over the
// Win32 API, and only one of the two is built. Paths are UTF-8 throughout.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "io/io_routines.h"

namespace vantorel::app {

struct OutputSet;

// The output name of standard output. Created (mode 2) it is written in
// order: a seek elsewhere than the current position, a read and a size fail.
// Standard output's own names (/dev/stdout, /dev/fd/1, /proc/self/fd/1) are
// taken as "-" is, whatever file descriptor 1 is: reopening them fails for
// a socket and would start a file that `>>` appends to at its beginning.
constexpr const char* kStandardOutputName = "-";
bool is_standard_output_name(const char* name);

// The file routines of this system (posix_routines or windows_routines).
const IoRoutines& platform_routines();

// System calls a handle of the platform routines has made for data, to
// check the buffering.
struct PlatformFileStats {
  uint32_t system_reads;
  uint32_t system_writes;
};
ErrorCode platform_file_stats(const void* handle, PlatformFileStats* out);

// What makes a file itself, whatever name reaches it: device and inode, or
// volume serial number and file index.
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
};
// False when `path` names nothing that can be asked.
bool file_identity(const char* path, FileIdentity* out);
// Whether `path` names the file `stream` writes to (/dev/stdout, or the
// file standard output was redirected to).
bool names_stream_file(const char* path, std::FILE* stream);

// The last character of `path` that separates directories ('/', and on
// Windows '\\' as well), or null.
const char* last_path_separator(const char* path);

// A pipe, FIFO, socket or character device: something read only in order.
bool is_stream_path(const char* path);
// Whether anything exists under `path` (a dangling symbolic link included).
bool path_present(const char* path);
// Whether `stream` is a terminal or console.
bool stream_is_terminal(std::FILE* stream);

// Every line the program shows passes here: on a console it is shown as the
// UTF-8 text it is (not as bytes in the console's code page); anywhere else
// the bytes are written unchanged. The return value is fprintf's.
#if defined(__MINGW_PRINTF_FORMAT)
#define VT_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define VT_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
void console_write(std::FILE* stream, const char* text, size_t length);
int console_printf(std::FILE* stream, const char* format, ...) VT_PRINTF_FORMAT(2, 3);
int console_puts(const char* text, std::FILE* stream);
int console_putc(int c, std::FILE* stream);

// ---- For the all-or-nothing outputs (output_commit.cpp) ----

// The file `path` names with every symbolic link followed; a copy of the
// path itself when it is none. Null without memory.
char* resolve_links(const char* path);
// What `path` names now, symbolic links followed: Empty is a regular file
// of no bytes, Regular one with bytes (or one that cannot be asked).
enum class PathKind { Missing, Regular, Empty, Other };
PathKind path_kind(const char* path);
// Creates `path`, empty, with the mode a new file gets; 0, or an errno value
// (EEXIST when something has that name).
int create_new_file(const char* path);
// Cuts the regular file `path` back to no bytes: 0 or an errno value. Safe
// in the interrupt cleanup.
int empty_file(const char* path);
// Puts `from` in the place of `to`, replacing it in one step: 0 or an errno value.
int replace_file(const char* from, const char* to);
// 0 or an errno value.
int remove_file(const char* path);

// ---- For the temporary files' names (temporary_files.cpp) ----

// This process's id, and whether process `pid` runs on this machine (true
// also when that cannot be told).
uint64_t current_process_id();
bool process_running(uint64_t pid);
// This machine's name, as the system gives it ("" when it gives none).
void host_name(char* out, size_t capacity);
// Calls `visit` with the name of each entry of the directory `dir` ("." and
// ".." left out); false when the directory cannot be read.
bool list_directory(const char* dir, void (*visit)(const char* name, void* user), void* user);

// ---- For the closing line ----

// From now on a write to a pipe nobody reads fails (EPIPE) instead of
// ending the program, so the run can still say what became of its outputs.
void broken_pipe_fails_writes();

// While installed, an interrupt (SIGINT, SIGTERM, SIGHUP; on Windows a
// console control event) removes the temporary files of `set`, says so on
// standard error and ends the program as the interrupt would have.
void interrupt_cleanup_install(OutputSet* set, const char* program_name);
void interrupt_cleanup_restore();
// Between these the interrupt cleanup waits: the set is being changed.
void interrupt_cleanup_hold();
void interrupt_cleanup_release();
// Detaches `set` from the interrupt cleanup, if it is the one attached.
void interrupt_cleanup_forget(OutputSet* set);

}  // namespace vantorel::app
