// MCD file lines: the record checksums, the packing of character runs, the
// repeat lines that stand for copies of the line above, in both directions,
// and the checksum of the whole file that covers their order.
#include <cstdio>

#include "control/control.h"
#include "ppnsub/ppnsub.h"

namespace kv {

mcd_line_state_t mcd_line_state;

const std::array<std::uint32_t, 32> checksum_table = {
    0xFFFFFFFFu, 0x09073096u, 0x120E612Cu, 0x1B0951BAu,
    0xFF6DC419u, 0xF66AF48Fu, 0xED63A535u, 0xE46495A3u,
    0xFEDB8832u, 0xF7DCB8A4u, 0xECD5E91Eu, 0xE5D2D988u,
    0x01B64C2Bu, 0x08B17CBDu, 0x13B82D07u, 0x1ABF1D91u,
    0xFDB71064u, 0xF4B020F2u, 0xEFB97148u, 0xE6BE41DEu,
    0x02DAD47Du, 0x0BDDE4EBu, 0x10D4B551u, 0x19D385C7u,
    0x036C9856u, 0x0A6BA8C0u, 0x1162F97Au, 0x1865C9ECu,
    0xFC015C4Fu, 0xF5066CD9u, 0xEE0F3D63u, 0xE7080DF5u,
};

namespace {

constexpr std::uint32_t CHECKSUM_MASK = 0xFFFFFFu;
constexpr int RUN_MAX = 27;      // longest run one marker stands for
constexpr char RUN_BASE = '@';   // the marker of a run of n is the character of code 64 + n
constexpr char REPEAT_MARK = '+';
constexpr int REPEAT_DIGITS = 4;

std::uint32_t checksum_step(std::uint32_t a, std::uint32_t v) {
    return checksum_table[(v ^ a) & 31u] ^ ((a >> 8) & CHECKSUM_MASK);
}

// The whole file's checksum is the usual 32-bit cyclic redundancy check
// (reflected polynomial 0xEDB88320), one table entry per byte value. Unlike
// the record checksums, which see five bits of each value, it changes with
// every byte and with the order of the lines.
constexpr std::uint32_t FILE_CHECKSUM_POLYNOMIAL = 0xEDB88320u;
constexpr std::array<std::uint32_t, 256> make_file_checksum_table() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? FILE_CHECKSUM_POLYNOMIAL ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> FILE_CHECKSUM_TABLE = make_file_checksum_table();

// A line as it stands in the file, with its end of line.
void add_file_line(std::string_view line) {
    std::uint32_t& c = mcd_line_state.file_checksum;
    c = continue_file_checksum(c, line);
    c = continue_file_checksum(c, "\n");
}


void write_text(int unit, std::string_view line) {
    add_file_line(line);
    int status = 0;
    filwri(unit, line, status);
    if (status != IO_OK) mcd_line_state.write_failed = 1;
}

void write_repeat_line(int unit, int count) {
    char line[16];
    std::snprintf(line, sizeof line, "%c%*d", REPEAT_MARK, REPEAT_DIGITS, count);
    write_text(unit, line);
}

}  // namespace

int checksum_ints(std::span<const int> values) {
    std::uint32_t a = 0;
    for (int v : values) a = checksum_step(a, static_cast<std::uint32_t>(v));
    return static_cast<int>(a & CHECKSUM_MASK);
}

int checksum_chars(std::string_view chars) {
    std::uint32_t a = 0;
    for (char ch : chars) {
        const int v = static_cast<signed char>(ch);
        a = checksum_step(a, static_cast<std::uint32_t>(v));
    }
    return static_cast<int>(a & CHECKSUM_MASK);
}

void reset_mcd_lines() { mcd_line_state = mcd_line_state_t{}; }

int pack_runs(std::string_view line, std::span<char> packed) {
    const std::size_t cap = packed.size();
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        const char ch = line[i];
        std::size_t run = 1;
        while (i + run < line.size() && line[i + run] == ch && run < static_cast<std::size_t>(RUN_MAX)) ++run;
        if (run == 1) {
            if (out + 1 > cap) return -1;
            packed[out++] = ch;
        } else {
            if (out + 2 > cap) return -1;
            packed[out++] = static_cast<char>(RUN_BASE + static_cast<int>(run));
            packed[out++] = ch;
        }
        i += run;
    }
    return static_cast<int>(out);
}

int expand_repeat_codes(std::string_view packed, std::span<char> line) {
    const std::size_t cap = line.size();
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < packed.size()) {
        const char ch = packed[i];
        if (is_digit(ch)) {
            if (out + 1 > cap) return -1;
            line[out++] = ch;
            ++i;
            continue;
        }
        // A marker stands for 2..27 copies of the digit after it; anything
        // else is not a line of this file, and must not run past the buffer.
        const int copies = ch - RUN_BASE;
        if (copies < 2 || copies > RUN_MAX || i + 1 >= packed.size() || !is_digit(packed[i + 1])) return -1;
        if (out + static_cast<std::size_t>(copies) > cap) return -1;
        for (int k = 0; k < copies; ++k) line[out++] = packed[i + 1];
        i += 2;
    }
    return static_cast<int>(out);
}

void write_mcd_line(int unit, std::string_view line) {
    mcd_line_state_t& s = mcd_line_state;
    char packed[MCD_LINE_LIMIT];
    const int n = pack_runs(line, packed);
    if (n < 0) {
        issue_message(207);
        stop_run(4);
    }
    const std::string_view p(packed, static_cast<std::size_t>(n));
    if (s.previous_packed_length == n && std::string_view(s.previous_packed.c.data(), static_cast<std::size_t>(n)) == p) {
        // A count wider than its four columns would not read back: a full
        // count is written and the copies go on under a second repeat line.
        if (s.write_repeats == MCD_REPEAT_MAX) {
            write_repeat_line(unit, s.write_repeats);
            s.write_repeats = 0;
        }
        ++s.write_repeats;
        return;
    }
    flush_mcd_repeats(unit);
    write_text(unit, p);
    assign_text(s.previous_packed, p);
    s.previous_packed_length = n;
}

void flush_mcd_repeats(int unit) {
    mcd_line_state_t& s = mcd_line_state;
    if (s.write_repeats > 0) write_repeat_line(unit, s.write_repeats);
    s.write_repeats = 0;
}

int read_mcd_line(int unit, std::span<char> line, int& length) {
    mcd_line_state_t& s = mcd_line_state;
    length = 0;
    auto previous = [&]() {
        if (s.previous_line_length < 0 || static_cast<std::size_t>(s.previous_line_length) > line.size()) return 1;
        for (int k = 0; k < s.previous_line_length; ++k) line[static_cast<std::size_t>(k)] = s.previous_line.c[static_cast<std::size_t>(k)];
        length = s.previous_line_length;
        return 0;
    };
    if (s.read_repeats > 0) {
        --s.read_repeats;
        return previous();
    }
    text<MCD_LINE_LIMIT> raw;
    const int n = irasc(unit, raw, MCD_LINE_LIMIT);
    if (n < 0 || (n == 0 && unit_at_end(unit) == 1)) return 1;
    add_file_line(raw.view().substr(0, static_cast<std::size_t>(n)));
    if (n > 0 && raw[1] == REPEAT_MARK) {
        int error = 0;
        const int count = read_int_field(raw.view().substr(1, REPEAT_DIGITS), REPEAT_DIGITS, error);
        if (error != 0 || count < 1 || n > 1 + REPEAT_DIGITS) return 1;
        s.read_repeats = count - 1;
        return previous();
    }
    const int m = expand_repeat_codes(raw.view().substr(0, static_cast<std::size_t>(n)), s.previous_line);
    if (m < 0) {
        s.previous_line_length = -1;
        return 1;
    }
    s.previous_line_length = m;
    return previous();
}

std::uint32_t continue_file_checksum(std::uint32_t so_far, std::string_view text) {
    std::uint32_t c = so_far;
    for (char ch : text) c = FILE_CHECKSUM_TABLE[(c ^ static_cast<unsigned char>(ch)) & 0xFFu] ^ (c >> 8);
    return c;
}

std::uint32_t mcd_file_checksum() { return ~mcd_line_state.file_checksum; }

void write_mcd_file_checksum(int unit) {
    char line[MCD_FILE_CHECKSUM_DIGITS + 2];
    std::snprintf(line, sizeof line, "%c%0*lu", MCD_FILE_CHECKSUM_MARK, MCD_FILE_CHECKSUM_DIGITS,
                  static_cast<unsigned long>(mcd_file_checksum()));
    // The file's checksum counts in the line itself too, harmlessly: it is the last.
    write_text(unit, line);
}

int check_mcd_file_checksum(int unit) {
    text<MCD_LINE_LIMIT> raw;
    bool overlong = false;  // a line no writer makes: it cannot match a checksum
    for (;;) {
        // Every MCD file ends with its checksum line: a file without one has
        // lost its end, or been edited.
        const int n = irasc(unit, raw, MCD_LINE_LIMIT);
        if (n < 0) {
            if (unit_at_end(unit) == 1) return MCD_BAD_CHECK;
            overlong = true;
            continue;
        }
        if (n == 0 && unit_at_end(unit) == 1) return MCD_BAD_CHECK;
        const std::string_view line = raw.view().substr(0, static_cast<std::size_t>(n));
        if (n == 0 || line[0] != MCD_FILE_CHECKSUM_MARK) {
            add_file_line(line);
            continue;
        }
        const std::uint32_t computed = mcd_file_checksum();
        if (n != 1 + MCD_FILE_CHECKSUM_DIGITS) return MCD_BAD_FIELD;
        unsigned long long stored = 0;
        for (char ch : line.substr(1)) {
            if (!is_digit(ch)) return MCD_BAD_FIELD;
            stored = stored * 10 + static_cast<unsigned>(ch - '0');
        }
        if (overlong || stored != computed) return MCD_BAD_CHECK;
        // The checksum line is the last: nothing may follow it.
        const int after = irasc(unit, raw, MCD_LINE_LIMIT);
        return after == 0 && unit_at_end(unit) == 1 ? 0 : MCD_BAD_CHECK;
    }
}

}  // namespace kv
