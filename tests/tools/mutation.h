// The damage done to an input file for the robustness runs: one to three
// byte, line or number mutations, the same for the same seed on every
// platform. Used by mutate_input (one copy) and robust_runs (whole groups).
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace mutation {

// splitmix64: small, fast and the same on every platform.
struct random_source {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A value in 0..n-1 (0 when n is 0).
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
};

// Texts that stand in for a number: out of range, negative, NaN-like, long.
inline const char* const number_swaps[] = {
    "0", "-1", "-0", "2147483647", "2147483648", "-2147483648", "-2147483649",
    "4294967296", "99999999999999999999", "1e308", "-1e308", "1e999", "1e-320",
    "NaN", "nan", "-nan", "inf", "-Infinity", ".", "-", "+", "1.2.3", "0x7f",
    "1E", "1e+", "--5", "65535", "32768", "-32769", "256", "1000000", "999",
};

// Characters that often have a meaning of their own in the inputs.
inline const char special_chars[] = {'\0', '\t', '\r', '\n', '"', '\'', '(', ')', '$', '\\', '#',
                              ',', '=', '%', '+', '-', '.', '_', ' ', '\x7f', '\xff', 'E'};

// Byte patterns for binary layouts: extreme 32-bit and 64-bit values and NaNs.
inline const std::uint64_t word_swaps[] = {
    0x0, 0xFFFFFFFFull, 0x7FFFFFFFull, 0x80000000ull, 0x7FC00000ull, 0x7F800000ull,
    0xFFFFFFFFFFFFFFFFull, 0x7FF8000000000000ull, 0x7FF0000000000000ull, 0x0000000100000000ull,
    0x7FEFFFFFFFFFFFFFull, 0x00000000000000FFull, 0x0000FFFFull, 0x00010000ull,
};

inline std::vector<std::size_t> line_starts(const std::string& s) {
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == '\n' && i + 1 < s.size()) starts.push_back(i + 1);
    return starts;
}

// The byte range [begin, end) of line k, its end of line included.
inline void line_range(const std::string& s, const std::vector<std::size_t>& starts, std::size_t k,
                std::size_t& begin, std::size_t& end) {
    begin = starts[k];
    end = k + 1 < starts.size() ? starts[k + 1] : s.size();
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Replaces a run of digits (with its sign and decimal point) by an awkward text.
inline void swap_number(std::string& s, random_source& rnd) {
    std::vector<std::size_t> numbers;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (is_digit(s[i]) && (i == 0 || !is_digit(s[i - 1]))) numbers.push_back(i);
    if (numbers.empty()) return;
    std::size_t b = numbers[rnd.below(numbers.size())];
    std::size_t e = b;
    while (e < s.size() && (is_digit(s[e]) || s[e] == '.')) ++e;
    if (b > 0 && (s[b - 1] == '-' || s[b - 1] == '+')) --b;
    std::string with;
    switch (rnd.below(4)) {
    case 0: with = std::string(1 + rnd.below(400), '9'); break;
    case 1:
        with.assign(1, '-');
        with.append(1 + rnd.below(40), '9');
        break;
    default: with = number_swaps[rnd.below(std::size(number_swaps))]; break;
    }
    s.replace(b, e - b, with);
}

inline void mutate_once(std::string& s, random_source& rnd) {
    const std::size_t n = s.size();
    switch (rnd.below(14)) {
    case 0:  // flip bits of one byte
        if (n) s[rnd.below(n)] ^= static_cast<char>(1u << rnd.below(8));
        break;
    case 1: {  // insert a few random bytes
        std::string add(1 + rnd.below(8), ' ');
        for (char& c : add) c = static_cast<char>(rnd.below(256));
        s.insert(rnd.below(n + 1), add);
        break;
    }
    case 2:  // delete a short range
        if (n) {
            const std::size_t at = rnd.below(n);
            s.erase(at, 1 + rnd.below(16));
        }
        break;
    case 3:  // duplicate a range
        if (n) {
            const std::size_t at = rnd.below(n);
            const std::string piece = s.substr(at, 1 + rnd.below(64));
            s.insert(rnd.below(n + 1), piece);
        }
        break;
    case 4:  // truncate
        s.resize(rnd.below(n + 1));
        break;
    case 5: {  // delete a line
        const auto starts = line_starts(s);
        std::size_t b, e;
        line_range(s, starts, rnd.below(starts.size()), b, e);
        s.erase(b, e - b);
        break;
    }
    case 6: {  // duplicate a line, possibly many times
        const auto starts = line_starts(s);
        std::size_t b, e;
        line_range(s, starts, rnd.below(starts.size()), b, e);
        const std::string line = s.substr(b, e - b);
        const std::size_t times = rnd.below(4) == 0 ? 1 + rnd.below(300) : 1;
        std::string add;
        for (std::size_t k = 0; k < times; ++k) add += line;
        s.insert(b, add);
        break;
    }
    case 7: {  // swap two lines
        const auto starts = line_starts(s);
        if (starts.size() < 2) break;
        std::size_t k1 = rnd.below(starts.size()), k2 = rnd.below(starts.size());
        if (k1 == k2) break;
        if (k1 > k2) std::swap(k1, k2);
        std::size_t b1, e1, b2, e2;
        line_range(s, starts, k1, b1, e1);
        line_range(s, starts, k2, b2, e2);
        const std::string l1 = s.substr(b1, e1 - b1), l2 = s.substr(b2, e2 - b2);
        s = s.substr(0, b1) + l2 + s.substr(e1, b2 - e1) + l1 + s.substr(e2);
        break;
    }
    case 8:
    case 9:  // numbers swapped for awkward texts
        swap_number(s, rnd);
        break;
    case 10: {  // a very long text
        const char fill = "A9 -.,("[rnd.below(7)];
        s.insert(rnd.below(n + 1), std::string(100 + rnd.below(3000), fill));
        break;
    }
    case 11:  // a character with a meaning of its own
        if (n && rnd.below(2)) s[rnd.below(n)] = special_chars[rnd.below(std::size(special_chars))];
        else s.insert(rnd.below(n + 1), 1, special_chars[rnd.below(std::size(special_chars))]);
        break;
    case 12: {  // an extreme binary word, little or big endian, 4 or 8 bytes
        if (n < 4) break;
        const std::uint64_t v = word_swaps[rnd.below(std::size(word_swaps))];
        const std::size_t size = (rnd.below(2) && n >= 8) ? 8 : 4;
        const bool big = rnd.below(2);
        const std::size_t at = rnd.below(n - size + 1) & ~static_cast<std::size_t>(3);
        for (std::size_t k = 0; k < size && at + k < s.size(); ++k) {
            const std::size_t shift = big ? 8 * (size - 1 - k) : 8 * k;
            s[at + k] = static_cast<char>((v >> shift) & 0xFF);
        }
        break;
    }
    default:  // cut the end of the last line or the line end itself
        if (n && (s[n - 1] == '\n')) s.pop_back();
        else if (n) s.resize(n - 1 - rnd.below(n < 8 ? n : 8));
        break;
    }
}

// The kinds of copy: damaged anywhere, or damaged only as a cutfile may be
// that is still whole (blank lines in a text cutfile) or that was cut short
// (an interrupted CAM run or copy). A run on a copy of the last two kinds
// must write what the whole file gives, or fail.
enum class copy_kind { damaged, blank_lines, cut_short };

inline const char* const blank_lines[] = {"\n", "   \n", "\t\n", "\r\n", " \t \r\n"};

// One to four blank lines put in at the starts of lines.
inline void insert_blank_lines(std::string& s, random_source& rnd) {
    const std::size_t count = 1 + rnd.below(4);
    for (std::size_t k = 0; k < count; ++k) {
        const auto starts = line_starts(s);
        s.insert(starts[rnd.below(starts.size())], blank_lines[rnd.below(std::size(blank_lines))]);
    }
}

// The copy of s of the given kind that seed gives.
inline std::string mutated(std::string s, std::uint64_t seed, copy_kind kind = copy_kind::damaged) {
    random_source rnd{seed * 0x2545F4914F6CDD1Dull + 1};
    switch (kind) {
    case copy_kind::blank_lines: insert_blank_lines(s, rnd); return s;
    case copy_kind::cut_short: {
        // At the start of a line (between the records of a text cutfile,
        // where a reader sees a clean end) or at any byte.
        const auto starts = line_starts(s);
        s.resize(rnd.below(2) != 0 ? starts[rnd.below(starts.size())] : rnd.below(s.size()));
        return s;
    }
    case copy_kind::damaged: break;
    }
    const std::size_t count = 1 + rnd.below(3);
    for (std::size_t k = 0; k < count; ++k) mutate_once(s, rnd);
    return s;
}

}  // namespace mutation
