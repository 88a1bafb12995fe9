// Runtime support: fixed-length text fields, numeric intrinsics, field
// conversion, host services, assertion reports and the numbered message system.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
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
int nearest_int(double x);
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
void store_command_line(int argc, char** argv);
void arg_count(int& count);
void get_arg(int i, char* out, int capacity, int& length);
void get_command_line_text(std::span<char> field, int& status);
void quote_if_blanks(std::span<char> field);
void get_env_text(std::string_view name, std::span<char> field);
void add_program_drive(std::span<char> result, std::string_view name);
std::string get_login_name();
void get_user_name(std::span<char> field);
std::string get_time_text();
void make_date_time_text(std::span<char> field);
void get_date_time_text(std::span<char> field);
void get_long_path_name(std::string_view path, std::span<char> result);

// ---------------------------------------------------------------------------
// Assertion reports: internal consistency failures end the run with a short
// report routed by QLOR_ASSERT.
void assert_fail(const char* file, int line, const char* message);
[[noreturn]] void report_assertion(const char* prefix, const char* message, const char* file, int line);
void clear_assert_handlers();

// ---------------------------------------------------------------------------
// Numbered message system.
constexpr int MAXMSG = 400;       // message numbers 1..MAXMSG
constexpr int MAXMSGLINES = 500;  // lines in the message table
constexpr int MSGLEN = 132;       // characters a message line
constexpr int MAXMSGARGS = 10;    // arguments of each type

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
