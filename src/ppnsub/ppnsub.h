// Unit-numbered file input and output: the unit table over the platform's
// streams, file-name composition and path search, console helpers, and the
// single stop routine through which every run ends.
#pragma once

#include <array>
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

struct unit_table_t {
    std::array<int, MAXUNIT + 1> status{};  // 41 reserved, 1 free, -1 opened
    std::array<int, MAXUNIT + 1> access{};  // 0 closed, 30 read, 31 write
    std::array<std::FILE*, MAXUNIT + 1> stream{};
    std::array<std::array<char, UNIT_BUFFER_SIZE>, MAXUNIT + 1> buffer;
    int input_unit_number = 5;
    int tty_unit_number = 6;
    int message_unit_number = 7;
    int null_unit_number = NO_UNIT;
};
extern unit_table_t unit_table;

void init_units(int& status);
void open_unit(int& u, std::string_view name, int st, int form, int& status);
void filclo(int& u, int& status);
void filuwr(int u, std::string_view text, int& status);
void filwri(int u, std::string_view text, int& status);
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

[[noreturn]] void stop_run(int code);
// Test hook: when set, stop_run closes the units and then calls the hook
// instead of exiting; the hook is expected not to return (a harness unwinds
// from it). Nothing in the program sets it; a hook that returns is followed by
// the usual exit.
void set_stop_hook(void (*hook)(int code));

// Stream slots under the unit table. Mode index into stream_mode_names:
// 0 "rb", 1 "r", 2 "wb", 3 "w". Status 0 or -1; byte counts transferred.
extern const std::array<const char*, 4> stream_mode_names;
int open_stream(std::FILE*& slot, std::string_view name, int mode_index);
int rewind_stream(std::FILE* stream);
int close_stream(std::FILE* stream);
std::size_t read_stream_bytes(std::FILE* stream, void* buffer, std::size_t count);
std::size_t write_stream_bytes(std::FILE* stream, const void* buffer, std::size_t count);

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
