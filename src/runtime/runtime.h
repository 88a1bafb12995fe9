// Runtime support: fixed-length text fields, numeric intrinsics, field
// conversion, host services, assertion reports and the numbered message system.
#pragma once

#include <array>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>

namespace kv {

// ---------------------------------------------------------------------------
// 1-based fixed arrays. The design numbers every table from 1; this type keeps
// that numbering at every use instead of translating indices by hand.
// Bounds are checked in debug and sanitizer builds.
#if defined(KELVARON_CHECKED)
#define KV_INDEX_CHECK(cond) assert(cond)
#else
#define KV_INDEX_CHECK(cond) ((void)0)
#endif

template <class T, int N>
struct array1 {
    std::array<T, N> a{};
    T& operator[](int i) {
        KV_INDEX_CHECK(i >= 1 && i <= N);
        return a[static_cast<std::size_t>(i - 1)];
    }
    const T& operator[](int i) const {
        KV_INDEX_CHECK(i >= 1 && i <= N);
        return a[static_cast<std::size_t>(i - 1)];
    }
    static constexpr int size() { return N; }
    void fill(const T& v) { a.fill(v); }
    T* data() { return a.data(); }
    const T* data() const { return a.data(); }
};

// ---------------------------------------------------------------------------
// Text fields. A field is an address and a declared length, blank-padded,
// never terminated. Read-only fields are passed as std::string_view, writable
// ones as std::span<char>. Positions are 1-based; 0 means "not found".

// A fixed-length blank-padded field of N characters.
template <std::size_t N>
struct text {
    std::array<char, N> c;
    text() { c.fill(' '); }
    text(std::string_view s) { set(s); }
    void set(std::string_view s) {
        std::size_t n = s.size() < N ? s.size() : N;
        for (std::size_t i = 0; i < n; ++i) c[i] = s[i];
        for (std::size_t i = n; i < N; ++i) c[i] = ' ';
    }
    void clear() { c.fill(' '); }
    std::string_view view() const { return {c.data(), N}; }
    std::span<char> span() { return {c.data(), N}; }
    operator std::string_view() const { return view(); }
    operator std::span<char>() { return span(); }
    char& operator[](int pos) {  // 1-based
        KV_INDEX_CHECK(pos >= 1 && pos <= static_cast<int>(N));
        return c[static_cast<std::size_t>(pos - 1)];
    }
    char operator[](int pos) const {
        KV_INDEX_CHECK(pos >= 1 && pos <= static_cast<int>(N));
        return c[static_cast<std::size_t>(pos - 1)];
    }
    static constexpr int size() { return static_cast<int>(N); }
    std::string str() const;  // trimmed copy, for the standard library
};

// Tables whose entries are laid down when first written. The entries laid so
// far hold their values; the others have never been written and read as a
// default entry (a blank text, a zero number). The empty state is all zero
// bytes, so a program-wide table of this kind sits in zero-filled memory and
// costs no start-up time and no memory for the entries a run never writes,
// and emptying it touches only its counts. Reading through a const table or a
// row view never lays anything down.
namespace laid {
template <class T>
const T& default_entry() {
    static const T e{};
    return e;
}
template <class T>
T* entries_at(unsigned char* raw) { return std::launder(reinterpret_cast<T*>(raw)); }
template <class T>
const T* entries_at(const unsigned char* raw) { return std::launder(reinterpret_cast<const T*>(raw)); }
// Lays entries down to index k (0-based) and returns it.
template <class T>
T& lay(int& count, T* entries, int k) {
    while (count <= k) std::construct_at(entries + count++);
    return entries[k];
}
}  // namespace laid

// A 1-based table of N entries (from LO when given) laid down when first written.
template <class T, int N, int LO = 1>
struct laid_array1 {
    const T& operator[](int i) const {
        KV_INDEX_CHECK(i >= LO && i < LO + N);
        return i - LO < laid_count_ ? laid::entries_at<T>(raw.data())[i - LO] : laid::default_entry<T>();
    }
    T& operator[](int i) {
        KV_INDEX_CHECK(i >= LO && i < LO + N);
        return laid::lay(laid_count_, laid::entries_at<T>(raw.data()), i - LO);
    }
    // Every entry back to its default.
    void clear() {
        if (laid_count_ != 0) laid_count_ = 0;
    }
    static constexpr int size() { return N; }

private:
    int laid_count_ = 0;
    alignas(T) std::array<unsigned char, sizeof(T) * N> raw{};
};

// One row of a laid_rows table as its readers see it: 1-based entries.
template <class T, int N>
class laid_row_view {
public:
    laid_row_view(const int& count, const T* entries) : count_(&count), entries_(entries) {}
    const T& operator[](int i) const {
        KV_INDEX_CHECK(i >= 1 && i <= N);
        return i <= *count_ ? entries_[i - 1] : laid::default_entry<T>();
    }
    // The entries laid down, from the first: every entry past them is a default one.
    std::span<const T> laid_entries() const { return {entries_, static_cast<std::size_t>(*count_)}; }

private:
    const int* count_;
    const T* entries_;
};

// One row of a laid_rows table, to write: an entry is laid down when reached.
template <class T, int N>
class laid_row {
public:
    laid_row(int& count, T* entries) : count_(&count), entries_(entries) {}
    T& operator[](int i) const {
        KV_INDEX_CHECK(i >= 1 && i <= N);
        return laid::lay(*count_, entries_, i - 1);
    }
    operator laid_row_view<T, N>() const { return {*count_, entries_}; }

private:
    int* count_;
    T* entries_;
};

// ROWS rows of N entries each, 1-based [row][entry], every row laid down on its
// own; the counts of all rows lie together, so emptying the table touches none
// of the rows. Construction leaves the table as zero-initialisation made it,
// every row empty, without touching it: a table of this kind lives in
// program-wide storage or in an object value-initialised as a whole.
template <class T, int ROWS, int N>
struct laid_rows {
    laid_rows() {}
    laid_row<T, N> operator[](int r) {
        KV_INDEX_CHECK(r >= 1 && r <= ROWS);
        return {counts[static_cast<std::size_t>(r - 1)], row_entries(r)};
    }
    laid_row_view<T, N> operator[](int r) const {
        KV_INDEX_CHECK(r >= 1 && r <= ROWS);
        return {counts[static_cast<std::size_t>(r - 1)], laid::entries_at<T>(raw.data()) + (r - 1) * N};
    }
    // Row r back to default entries.
    void clear(int r) {
        int& c = counts[static_cast<std::size_t>(r - 1)];
        if (c != 0) c = 0;
    }

private:
    T* row_entries(int r) { return laid::entries_at<T>(raw.data()) + (r - 1) * N; }
    std::array<int, ROWS> counts;
    alignas(T) std::array<unsigned char, sizeof(T) * N * ROWS> raw;
};

void assign_text(std::span<char> dst, std::string_view src);
void assign_text_range(std::span<char> dst, int a, int b, std::string_view src, int c, int d);
void copy_forward(char* destination, const char* source, int n);
int compare_texts(std::string_view x, std::string_view y);
int text_equals(std::string_view x, std::string_view y);
int find_char(std::string_view f, char ch);
int find_last_char(std::string_view f, char ch);
int trimmed_length(std::string_view f);
int trimmed_length_ws(std::string_view f);
int trimmed_length_blanks(std::string_view f);
int trimmed_length_min1(std::string_view f);
void convert_case(std::span<char> f, int mode);

inline bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// The field without its trailing blanks and NULs.
inline std::string_view trimmed(std::string_view f) { return f.substr(0, static_cast<std::size_t>(trimmed_length(f))); }
inline std::string trimmed_copy(std::string_view f) { return std::string(trimmed(f)); }

template <std::size_t N>
std::string text<N>::str() const { return trimmed_copy(view()); }

// ---------------------------------------------------------------------------
// Numeric and bit intrinsics (32-bit integers, doubles).
int int_mod(int a, int b);
double real_mod_int(double x, int a);
double real_mod(double a, double b);
// x truncated toward zero into the 32-bit range, saturating at its ends; NaN gives 0.
inline int truncate_to_int(double t) {
    if (std::isnan(t)) return 0;
    if (t >= 2147483647.0) return INT_MAX;
    if (t <= -2147483648.0) return INT_MIN;
    return static_cast<int>(t);
}
// x rounded to the nearest integer, halves away from zero, saturating like truncate_to_int.
inline int nearest_int(double x) { return truncate_to_int(x >= 0 ? x + 0.5 : x - 0.5); }
// The powers of ten that a double holds exactly: a table gives them without
// a library call, and equal to what std::pow gives for them.
inline constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// 10 to the power n.
inline double power_of_ten(int n) {
    constexpr int exact = static_cast<int>(std::size(EXACT_POWERS_OF_TEN));
    if (n >= 0 && n < exact) return EXACT_POWERS_OF_TEN[n];
    return std::pow(10.0, n);
}
double real_sign(double a, double b);
double real_int_power(double x, int n);
double real_int_power_binary(double x, int n);
double safe_acos(double x);
int bit_or(int a, int b);
int bit_and(int a, int b);
int bit_xor(int a, int b);
int bit_not(int a);
int bit_shift_left(int a, int n);
int bit_shift_right(int a, int n);

// ---------------------------------------------------------------------------
// Field conversion: formatted reads of fixed-width fields, fixed-decimal writes.
double read_real_field(std::string_view field, int w, int d, int& error, int blank_zero);
int read_int_field(std::string_view field, int w, int& error, int blank_zero = 0);
int format_real_fixed(std::span<char> target, int w, int d, double x);
// The text that format_real_fixed writes, as a string (the caller places it).
std::string format_real_fixed_text(int w, int d, double x);

// ---------------------------------------------------------------------------
// Host services.
constexpr int DATE_TIME_LENGTH = 20;  // "09 Jan 2026 14.05.33"
constexpr int ARG_FIELD_LENGTH = 1024; // one command-line argument in get_command_line_text

// The command line as the entry point received it, kept for the whole run.
struct stored_command_line_t {
    int argc = 0;
    char** argv = nullptr;
};
extern stored_command_line_t stored_command_line;

void store_command_line(int argc, char** argv);
void arg_count(int& count);
void get_arg(int i, char* out, int capacity, int& length);
void get_command_line_text(std::span<char> field, int& status);
void quote_if_blanks(std::span<char> field);
void get_env_text(std::string_view name, std::span<char> field);
void add_program_drive(std::span<char> result, std::string_view name);
std::string get_login_name();
void get_user_name(std::span<char> field);
// "Fri Jan 09 14:05:33 2026": weekday, month, day, time and year. The clock is
// the current local time, or SOURCE_DATE_EPOCH (seconds) when that is set, so
// that runs can be reproduced byte for byte.
std::string get_time_text();
void make_date_time_text(std::span<char> field);
// make_date_time_text from a given time text (the weekday, month, day, time and
// year separated by blanks).
void date_time_text_from(std::string_view time_text, std::span<char> field);
void get_date_time_text(std::span<char> field);
std::string concat_strings(std::initializer_list<std::string_view> texts);
void get_long_path_name(std::string_view path, std::span<char> result);

// ---------------------------------------------------------------------------
// Assertion reports: internal consistency failures end the run with a short
// report routed by QLOR_ASSERT.
// assert_state: 0 no report in progress, 1 pop-up (standard error here),
// 2 a log file, 3 standard error. The handlers, when set, are called by
// assert_fail instead of a report; nothing in the program sets them.
struct assertion_state_t {
    int assert_state = 0;
    void (*plain_handler)() = nullptr;
    void (*located_handler)(const char* file, int line, const char* message) = nullptr;
};
extern assertion_state_t assertion_state;
constexpr int ASSERT_REPORT_LENGTH = 1024;

// Returns only when a report is already in progress in state 1; otherwise the
// process ends with exit code 1 (2 when a report was being written).
void assert_fail(const char* file, int line, const char* message);
void report_assertion(const char* prefix, const char* message, const char* file, int line);
void clear_assert_handlers();

// ---------------------------------------------------------------------------
// Numbered message system.
constexpr int MAXMSG = 400;       // message numbers 1..MAXMSG
constexpr int MAXMSGLINES = 500;  // lines in the message table
constexpr int MSGLEN = 132;       // characters a message line
constexpr int MAXMSGARGS = 10;    // arguments of each type
constexpr int WARNING_TEXT_LEN = 5000;  // characters of the recorded warning texts
constexpr int MSGARG_INTEGER = 1;  // the three argument cursors, by type
constexpr int MSGARG_REAL = 2;
constexpr int MSGARG_STRING = 3;

// Message lines 1..MAXMSGLINES and, per message number, where its lines stand.
// A message's lines are consecutive; a line count of 0 means undefined.
struct message_table_t {
    array1<text<MSGLEN>, MAXMSGLINES> message_lines;
    array1<int, MAXMSGLINES> message_line_format_pos;  // first '%', 0 when none
    array1<int, MAXMSG> message_line_count;
    array1<int, MAXMSG> message_first_line;
    int message_next_line = 1;
    int message_last_number = -1;  // the message a continuation line extends
};
extern message_table_t message_table;

// The arguments of the next message; they persist until overwritten.
struct message_args_t {
    array1<text<MSGLEN>, MAXMSGARGS> message_string_args;
    array1<int, MAXMSGARGS> message_int_args;
    array1<double, MAXMSGARGS> message_real_args;
    array1<int, 3> message_arg_cursors;  // next integer, real and string argument
};
extern message_args_t message_args;

// Progress of the two passes over the cutfile, and the open line of dots.
struct cldata_progress_t {
    int records_read = 0;       // record requests of pass 1
    int records_processed = 0;  // record requests of pass 2
    int next_report_at = 0;     // processed count of the next pass-2 report
    int pass1_running = 0;
    int progress_on = 0;        // nothing is shown before pass 1 starts
    int progress_line_open = 0; // a line of dots without its end of line
};
extern cldata_progress_t cldata_progress;

// The texts of the warnings recorded during the run, printed at its end.
// Position 1 of warning_text stays blank; a message's text lies in
// warning_text_start(n)+1 .. warning_text_end(n).
struct warning_summary_t {
    text<WARNING_TEXT_LEN> warning_text;
    int warning_text_used = 1;
    int warnings_issued = 0;
    array1<int, MAXMSG> warning_recorded;
    array1<int, MAXMSG> warning_text_start;
    array1<int, MAXMSG> warning_text_end;
};
extern warning_summary_t warning_summary;

void init_message_table(int& status);
void register_builtin_messages();
void register_message_line(int n, std::string_view line);
void register_message_text(int n, const char* text);
void set_message_int_arg(int i, int value);
void set_message_real_arg(int i, double value);
void set_message_string_arg(int i, std::string_view value);
void format_next_message_line(int n, std::span<char> target, int& remaining);
int format_message_line(std::string_view line, std::span<char> target, array1<int, 3>& cursors);
void format_message_first_line(int n, std::span<char> target);
void write_message(int unit, int n);
void issue_message(int n);
void set_progress_dots(int on);
void report_cldata_progress(int mode);
void record_warning(int n, int show);
void append_warning_text(int n);
void print_warning_summary();
void clear_warning_summary();
void read_message_file(int unit, int& status);
void set_message_output(int n, int on);

// The built-in message texts: number (0 for a continuation line) and text,
// in registration order.
struct builtin_message_line {
    int number;
    const char* text;
};
std::span<const builtin_message_line> builtin_messages();

}  // namespace kv
