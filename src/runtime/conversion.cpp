// Field conversion: reals and integers read from fixed-width text fields in
// the manner of formatted input, and reals written with fixed decimals.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/runtime.h"

namespace kv {

namespace {
constexpr int MAX_REAL_TEXT = 254;  // longest real text after the leading blanks

// The characters of a field up to column w with the leading blanks skipped.
std::string_view field_text(std::string_view field, int w) {
    std::size_t n = w < 0 ? 0 : static_cast<std::size_t>(w);
    if (n > field.size()) n = field.size();
    std::string_view s = field.substr(0, n);
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

// Standard decimal conversion, independent of the locale; stops at the first
// character that cannot continue a number.
double convert_decimal(const std::string& s) {
    // strtod follows the C locale, which the program never changes.
    return std::strtod(s.c_str(), nullptr);
}
}  // namespace

double read_real_field(std::string_view field, int w, int d, int& error, int blank_zero) {
    error = 0;
    // Implied decimals below zero mean nothing; they would place the point
    // beyond the end of the text.
    if (d < 0) d = 0;
    const std::string_view src = field_text(field, w);
    if (src.size() > static_cast<std::size_t>(MAX_REAL_TEXT)) {
        error = 1;
        return 0.0;
    }
    std::string s;
    s.reserve(src.size() + 2);
    bool has_point = false;
    for (char ch : src) {
        if (ch == ' ') {
            if (blank_zero) s.push_back('0');
            continue;
        }
        if (ch == '.') has_point = true;
        s.push_back(ch);
    }
    if (s.empty()) return 0.0;

    std::size_t start = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    std::size_t mantissa_end = s.size();
    for (std::size_t i = start; i < s.size(); ++i) {
        const char ch = s[i];
        if (ch == 'D' || ch == 'E') {
            s[i] = 'E';
            mantissa_end = i;
            break;
        }
        if (ch == '+') {
            s[i] = 'E';
            mantissa_end = i;
            break;
        }
        if (ch == '-') {
            s.insert(i, 1, 'E');
            mantissa_end = i;
            break;
        }
    }
    if (has_point) return convert_decimal(s);

    const int m = static_cast<int>(mantissa_end - start);
    if (m >= d) {
        s.insert(mantissa_end - static_cast<std::size_t>(d), 1, '.');
        return convert_decimal(s);
    }
    s.insert(start, 1, '.');
    return convert_decimal(s) / real_int_power(10.0, d - m);
}

int read_int_field(std::string_view field, int w, int& error, int blank_zero) {
    error = 0;
    const std::string_view s = field_text(field, w);
    if (s.empty()) return 0;
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        i = 1;
    }
    long long value = 0;
    for (; i < s.size(); ++i) {
        const char ch = s[i];
        int digit;
        if (ch >= '0' && ch <= '9') {
            digit = ch - '0';
        } else if (ch == ' ') {
            if (!blank_zero) continue;
            digit = 0;
        } else {
            error = 2;
            return 0;
        }
        value = value * 10 + digit;
        // A value outside the 32-bit range is an error, not a wrapped number.
        if (value > static_cast<long long>(INT_MAX) + (negative ? 1 : 0)) {
            error = 2;
            return 0;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

std::string format_real_fixed_text(int w, int d, double x) {
    const double p = real_int_power(10.0, d);
    const double t = x * p;
    double k = t >= 0 ? std::floor(t + 0.5) : std::ceil(t - 0.5);
    // k is held as a 32-bit integer; beyond that range the value saturates.
    if (!(k < 2147483647.0)) k = 2147483647.0;
    if (!(k > -2147483648.0)) k = -2147483648.0;
    double v = static_cast<double>(static_cast<int>(k)) / p;
    if (v == 0.0) v = 0.0;  // no minus sign for a value that rounds to zero
    const int places = d < 0 ? 0 : d;
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%#*.*f", w, places, v);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
    // A wide field or many decimals: the whole text, never a cut one.
    std::string wide(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(wide.data(), wide.size(), "%#*.*f", w, places, v);
    wide.resize(static_cast<std::size_t>(n));
    return wide;
}

int format_real_fixed(std::span<char> target, int w, int d, double x) {
    assign_text(target, format_real_fixed_text(w, d, x));
    return 0;
}

}  // namespace kv
