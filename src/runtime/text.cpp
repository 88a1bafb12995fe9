// Operations on fixed-length blank-padded text fields: assignment, comparison,
// character search, trimmed lengths and case conversion.
#include <cstdint>
#include <cstring>

#include "runtime/runtime.h"

namespace kv {

void assign_text(std::span<char> dst, std::string_view src) {
    std::size_t n = dst.size() < src.size() ? dst.size() : src.size();
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
    for (std::size_t i = n; i < dst.size(); ++i) dst[i] = ' ';
}

void assign_text_range(std::span<char> dst, int a, int b, std::string_view src, int c, int d) {
    const int dlen = static_cast<int>(dst.size());
    const int slen = static_cast<int>(src.size());
    if (a < 1) a = 1;
    if (c < 1) c = 1;
    if (b > dlen) b = dlen;
    if (d > slen) d = slen;
    const int e = a <= b + 1 ? b - a + 1 : 0;
    const int s = c <= d + 1 ? d - c + 1 : 0;
    const int n = e < s ? e : s;
    for (int i = 0; i < n; ++i) dst[static_cast<std::size_t>(a - 1 + i)] = src[static_cast<std::size_t>(c - 1 + i)];
    for (int i = n; i < e; ++i) dst[static_cast<std::size_t>(a - 1 + i)] = ' ';
}

void copy_forward(char* destination, const char* source, int n) {
    for (int i = 0; i < n; ++i) destination[i] = source[i];
}

int compare_texts(std::string_view x, std::string_view y) {
    const std::size_t common = x.size() < y.size() ? x.size() : y.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto xi = static_cast<signed char>(x[i]);
        const auto yi = static_cast<signed char>(y[i]);
        if (xi != yi) return xi - yi;
    }
    for (std::size_t i = common; i < x.size(); ++i)
        if (x[i] != ' ') return static_cast<signed char>(x[i]) - 32;
    for (std::size_t i = common; i < y.size(); ++i)
        if (y[i] != ' ') return 32 - static_cast<signed char>(y[i]);
    return 0;
}

int text_equals(std::string_view x, std::string_view y) { return compare_texts(x, y) == 0 ? 1 : 0; }

int find_char(std::string_view f, char ch) {
    for (std::size_t i = 0; i < f.size(); ++i)
        if (f[i] == ch) return static_cast<int>(i) + 1;
    return 0;
}

int find_last_char(std::string_view f, char ch) {
    for (std::size_t i = f.size(); i > 0; --i)
        if (f[i - 1] == ch) return static_cast<int>(i);
    return 0;
}

namespace {
template <class Skip>
int trim_back(std::string_view f, Skip skip) {
    int n = static_cast<int>(f.size());
    while (n > 0 && skip(f[static_cast<std::size_t>(n - 1)])) --n;
    return n;
}

// Fields are long and mostly padding at their end: eight bytes are tested at
// a time while all of them are padding, and only the last word that is not
// goes byte by byte. `padding` tells whether all eight bytes of a word are.
template <class Skip, class Padding>
int trim_back_by_words(std::string_view f, Skip skip, Padding padding) {
    std::size_t n = f.size();
    while (n >= 8) {
        std::uint64_t word;
        std::memcpy(&word, f.data() + n - 8, 8);
        if (!padding(word)) break;
        n -= 8;
    }
    return trim_back(f.substr(0, n), skip);
}
}  // namespace

int trimmed_length(std::string_view f) {
    // A byte is a blank (0x20) or a NUL exactly when it has no bit outside 0x20.
    return trim_back_by_words(
        f, [](char ch) { return ch == ' ' || ch == '\0'; },
        [](std::uint64_t w) { return (w & 0xDFDFDFDFDFDFDFDFull) == 0; });
}

int trimmed_length_ws(std::string_view f) {
    return trim_back(f, [](char ch) { return ch == ' ' || ch == '\t' || ch == '\0'; });
}

int trimmed_length_blanks(std::string_view f) {
    return trim_back_by_words(
        f, [](char ch) { return ch == ' '; }, [](std::uint64_t w) { return w == 0x2020202020202020ull; });
}

int trimmed_length_min1(std::string_view f) {
    const int n = static_cast<int>(f.size());
    if (n <= 1) return 1;
    for (int i = n; i >= 2; --i)
        if (f[static_cast<std::size_t>(i - 1)] != ' ') return i;
    return 1;
}

void convert_case(std::span<char> f, int mode) {
    for (char& ch : f) {
        if (mode == 1) {
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        } else if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
}

}  // namespace kv
