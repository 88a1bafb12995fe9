// Unit-numbered file input and output: the unit table over the platform's
// streams, file-name composition and path search, console helpers, and the
// single stop routine through which every run ends.
#pragma once

#include <array>
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

#include "runtime/runtime.h"

namespace kv {

constexpr int MAXUNIT = 99;         // units 0..MAXUNIT
constexpr int FIRST_FREE_UNIT = 11; // units below are reserved
constexpr int NO_UNIT = -999;       // a unit variable after a close or failed open
constexpr int RESERVED_UNIT = 41;   // unit_status of units 0..10
constexpr int FREE_UNIT = 1;        // unit_status of a unit that may be opened
constexpr int OPENED_UNIT = -1;     // unit_status of a unit opened by open_unit
constexpr int ACCESS_CLOSED = 0;
constexpr int ACCESS_READ = 30;
constexpr int ACCESS_WRITE = 31;
// Each opened stream gets a buffer of its own, large enough that tape lines
// and cutfile records reach the system in big writes and reads.
constexpr std::size_t UNIT_BUFFER_SIZE = 65536;
// The platform's null device, behind null_unit and the job-file name "none".
constexpr const char* NULL_DEVICE_NAME = "/dev/null";
// The platform's folder of devices; its links (/dev/stdout) name streams.
constexpr std::string_view DEVICE_FOLDER = "/dev/";
// An output file is written under its final name followed by this mark, the
// process number and the number of the output in the run
// ("job.tap.kelvaron-unfinished-812-3"), and takes its final name only when
// it is finished. The number keeps the names of two outputs apart also where
// their final names are cut short alike. Such a file left behind by a run that
// was killed outright is removed by the next run that writes in its folder.
constexpr std::string_view UNFINISHED_MARK = ".kelvaron-unfinished-";
// The record of an output set (the tapes of a split) is kept beside its first
// output, under that output's name followed by this mark ("job.tap.kelvaron-set").
constexpr std::string_view SET_RECORD_MARK = ".kelvaron-set";
// Folders of outputs whose leftovers a run looks for once, not once an output.
constexpr std::size_t MAX_SCANNED_FOLDERS = 8;
constexpr std::size_t CONSOLE_HOLD_SIZE = 4096;  // console text held back before its end of line
constexpr std::size_t OUTPUT_NAME_LEN = 1280;  // final and unfinished names of an output, terminated
// Exit code of a run whose output could not be written whole (message 221).
constexpr int EXIT_WRITE_FAILED = 4;

// Open status codes of open_unit, and the form code of a binary file.
constexpr int OPEN_READ = 30;
constexpr int OPEN_WRITE = 31;
constexpr int OPEN_READ_OLD = 32;
constexpr int OPEN_WRITE_NEW = 33;
constexpr int FORM_BINARY = 36;
constexpr int FORM_TEXT = 35;

// io_status values.
constexpr int IO_OK = 0;
constexpr int IO_NOT_FOUND = 1;
constexpr int IO_FAILED = -2;
constexpr int IO_BAD_LENGTH = -3;
constexpr int IO_MISSING = -5;
constexpr int IO_NOT_WRITABLE = -9;
constexpr int IO_BAD_UNIT = -10;
constexpr int IO_END = -26;

// An output closed but not finished (a numbered tape of a split): it stays
// under its unfinished name until the run finishes all such outputs
// together. Each is made whole before it is linked into the list, so that
// the interrupt handler may walk the list at any moment.
struct set_aside_output {
    std::atomic<set_aside_output*> next{nullptr};
    char* final_name = nullptr;
    char* unfinished_name = nullptr;
};

struct unit_table_t {
    std::array<int, MAXUNIT + 1> status{};  // 41 reserved, 1 free, -1 opened
    std::array<int, MAXUNIT + 1> access{};  // 0 closed, 30 read, 31 write
    std::array<std::FILE*, MAXUNIT + 1> stream{};
    std::array<std::array<char, UNIT_BUFFER_SIZE>, MAXUNIT + 1> buffer;
    // An output written under an unfinished name: the name it takes when it is
    // finished and the name it has until then. unfinished is 1 while the
    // second may exist; the interrupt handler reads it, so it is set after
    // the names and cleared before them.
    // Without an initializer: the one table lives in zero-filled storage, and
    // its start-up does not write these names.
    std::array<std::array<char, OUTPUT_NAME_LEN>, MAXUNIT + 1> final_name;
    std::array<std::array<char, OUTPUT_NAME_LEN>, MAXUNIT + 1> unfinished_name;
    std::array<volatile std::sig_atomic_t, MAXUNIT + 1> unfinished{};
    // The outputs set aside, in the order they were set aside.
    std::atomic<set_aside_output*> set_aside_first{nullptr};
    set_aside_output* set_aside_last = nullptr;
    // Text written to standard error without an end of line while standard
    // error is not a terminal (the progress dots, a count before its dots):
    // it goes out with the next write to the console, so that a long job's
    // progress costs a write a line instead of one a dot. The interrupt
    // handler writes it out too, so it reads the count as a signal-safe value.
    std::array<char, CONSOLE_HOLD_SIZE> console_hold{};
    volatile std::sig_atomic_t console_held = 0;
    bool console_hold_on = false;
    // Standard output was closed when the program started (and now writes to
    // the null device): a file named "tty" would go nowhere.
    bool output_closed_at_start = false;
    // Outputs opened so far (each unfinished name takes the next number), and
    // the folders (device, file number) already cleared of leftovers.
    int outputs_opened = 0;
    std::array<std::array<unsigned long long, 2>, MAX_SCANNED_FOLDERS> scanned_folders{};
    std::size_t scanned_folder_count = 0;
    int input_unit_number = 5;
    int tty_unit_number = 6;
    int message_unit_number = 7;
    int null_unit_number = NO_UNIT;
};
extern unit_table_t unit_table;

void init_units(int& status);
// A unit opened for writing on a regular file writes under an unfinished name
// in the file's folder (an open that cannot make that file fails, -2);
// filclo finishes it (everything written reaches the disk, then the file
// replaces the final name) and reports -2 when any of that failed, in which
// case the unfinished file is removed and the final name is left as it was.
// Devices, pipes and the like are written directly.
void open_unit(int& u, std::string_view name, int st, int form, int& status);
void filclo(int& u, int& status);
// Closes a unit without finishing it: an output's unfinished file is removed.
void discard_unit(int& u, int& status);
// Closes a unit open for writing with everything written reaching its file
// (-2 when not, the unfinished file then removed), but does not finish it:
// an output written under an unfinished name keeps that name, set aside
// until finish_set_aside_outputs gives it its final name together with the
// others, or until the run ends without finishing (the stop routine with an
// exit code other than 0, a signal) and removes it.
void set_unit_aside(int& u, int& status);
// Renames every output set aside into place, in the order set aside, with
// signals held off meanwhile so that the set goes in whole; -2 when one
// could not be renamed (the rest are then removed).
void finish_set_aside_outputs(int& status);
// Finishes the outputs set aside as one set whose first output is named
// first (the tapes of a split): under a lock on the set's record, renames
// them into place as finish_set_aside_outputs does, removes the files the
// record names that this run did not write again (the further tapes of a
// longer run before), and records the files of this run. A file is removed
// only while it is the very file the record names (by device and file
// number): a file of that name that another job wrote since stays. So runs of
// one set at once leave one run's whole set, and a set never removes a file
// by its name alone.
void finish_output_set(std::string_view first, int& status);
// Removes the unfinished files of the outputs set aside.
void discard_set_aside_outputs();
// Removes the regular file of that name: 0 removed, 1 no regular file
// there, -2 it could not be removed.
int remove_output_file(std::string_view name);
// Writes out what a unit open for writing holds in its buffer (standard
// output and standard error included); -2 when any write to it has failed.
void flush_unit(int u, int& status);
void filuwr(int u, std::string_view text, int& status);
void filwri(int u, std::string_view text, int& status);
// Writes out the console text held back without its end of line; called
// before anything else reaches standard output or standard error, before
// standard input is read and when the run ends, so the console receives the
// same bytes in the same order as if nothing were held. The second form is
// safe inside a signal handler.
void flush_console_hold();
void write_console_hold_on_signal();
int irasc(int u, std::span<char> field, int limit);
void read_text_line(int u, std::span<char> field, int& n, int& status);
int read_unit_bytes(int u, void* buffer, int count);
int unit_at_end(int u);
void rewind_unit(int u, int& status);
int tty_unit();
int null_unit();
int is_null_unit(int u);
int message_unit();
int input_unit();

void build_file_name(std::span<char> result, std::string_view name, std::string_view ext,
                     std::string_view dir, int& status);
void build_unc_file_name(std::span<char> result, std::string_view name, std::string_view ext,
                         std::string_view dir, int& status);
void find_file_on_path(std::string_view name, std::string_view list, int mode,
                       std::span<char> result, int& status);
void file_usable_for(std::string_view name, int mode, int& status);
int check_file_access(std::string_view name, int mode);
void file_name_part(std::span<char> result, std::string_view name);
void strip_extension(std::span<char> result, std::string_view name);

// Ends the run. With code 0 every output is flushed and finished first, and
// standard output is checked: a failure there issues message 221 and the run
// ends with EXIT_WRITE_FAILED instead. With any other code the outputs are
// discarded, so that the files of an earlier run stay as they were.
[[noreturn]] void stop_run(int code);
// Removes the unfinished files of the run's outputs when the run is ended by
// a signal from outside (SIGINT, SIGTERM, SIGQUIT, SIGALRM, SIGXCPU and every
// other whose default ends the process; it then ends as the signal would),
// and at any exit that did not finish them. Signals the caller ignores stay
// ignored. SIGXFSZ is ignored: a write past a file-size limit fails instead.
void install_interrupt_cleanup();
// Removes the unfinished files of every output, those set aside included;
// safe inside a signal handler.
void remove_unfinished_outputs();
// Test hook: when set, stop_run closes the units and then calls the hook
// instead of exiting; the hook is expected not to return (a harness unwinds
// from it). Nothing in the program sets it; a hook that returns is followed by
// the usual exit.
void set_stop_hook(void (*hook)(int code));

// The file behind a name or an open unit, by device and file number, so that
// two names of one file (links, "./" and the like) are seen to be one. Only
// regular files are known; known is 0 for anything else or a missing file.
struct file_identity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    int known = 0;
};
file_identity identity_of_file(std::string_view name);
file_identity identity_of_unit(int u);
bool same_file(const file_identity& a, const file_identity& b);

// Whether a name names a device, a pipe or a socket, or a link of the device
// folder (/dev/stdout): an output of that name is written directly, under the
// name as it is given.
bool is_device_name(std::string_view name);
// Output streams of open_unit: open under an unfinished name (or directly for
// a device), and close, finishing (renaming into place), discarding, or
// setting aside (CLOSE_SET_ASIDE). Both return 0 or -1. An output whose
// unfinished file cannot be made is not opened. Finishing makes the file
// reach the disk before it takes its name, and then its name; setting aside
// makes it reach the disk and leaves the name to finish_set_aside_outputs.
constexpr int CLOSE_DISCARD = 0;
constexpr int CLOSE_FINISH = 1;
constexpr int CLOSE_SET_ASIDE = 2;
int open_output_stream(int u, std::string_view name, int mode_index);
int close_output_stream(int u, int finish);
// Whether two units of this run will take one final name when finished, so
// that the one finished last would replace the other.
bool same_final_name(int a, int b);

// Stream slots under the unit table. Mode index into stream_mode_names:
// 0 "rb", 1 "r", 2 "wb", 3 "w". Status 0 or -1; byte counts transferred.
extern const std::array<const char*, 4> stream_mode_names;
int open_stream(std::FILE*& slot, std::string_view name, int mode_index);
int rewind_stream(std::FILE* stream);
// Whether the file of a name can be read through again from its start (a
// file or a disk): not a pipe, a socket or a terminal, whose data is gone
// once read.
bool is_rereadable_file(std::string_view name);
int close_stream(std::FILE* stream);
std::size_t read_stream_bytes(std::FILE* stream, void* buffer, std::size_t count);
std::size_t write_stream_bytes(std::FILE* stream, const void* buffer, std::size_t count);

// Opens the null device on standard input, output or error when the process
// was started with that descriptor closed, so that no file opened later
// takes its place and receives messages meant for the console.
void guard_standard_streams();

// Console helpers: each field at its trimmed length.
void print_line(std::string_view field);
void print_field(std::string_view field);
void print_prefixed_line(const char* prefix, std::string_view field);
void print_prefixed_field(const char* prefix, std::string_view field);
void print_cstring_line(const char* text);
void print_two_cstrings_line(const char* a, const char* b);
void print_error_line(std::string_view field);
void print_error_cstring(const char* text);

}  // namespace kv
