// MCD file records: integer, real and string records as digit lines that
// carry the record's count and checksum, and their readers, which refuse a
// record whose lines, counts or checksums do not agree.
#include <cmath>

#include "control/control.h"

namespace kv {

namespace {

// Field widths of the three line kinds.
constexpr int SUM_WIDTH = 8;
constexpr int INT_COUNT_WIDTH = 4;
constexpr int SIGN_WIDTH = 2;
constexpr int MAGNITUDE_WIDTH = 10;
constexpr int REAL_COUNT_WIDTH = 8;
constexpr int EXPONENT_WIDTH_MCD = 4;
constexpr int MANTISSA_WIDTH = 10;
constexpr int STRING_LENGTH_WIDTH = 4;
constexpr int PACKED_CHARS_WIDTH = 10;
constexpr int CHARS_PER_FIELD = 4;

// Sign codes of an integer value and the filling of an unused field.
constexpr int SIGN_POSITIVE = 1;
constexpr int SIGN_NEGATIVE = 3;
constexpr int UNUSED_SIGN = 11;
constexpr long long UNUSED_MAGNITUDE = 1111111111LL;
// Exponent codes of a real value and the filling of an unused field.
constexpr int EXPONENT_POSITIVE = 1000;
constexpr int EXPONENT_NEGATIVE = 3000;
constexpr int NEGATIVE_EXPONENT_BIAS = 200;
constexpr int EXPONENT_LIMIT = 99;
constexpr int UNUSED_EXPONENT = 2222;
constexpr long long UNUSED_MANTISSA = 1222222222LL;
constexpr double MANTISSA_SCALE = 1.0e8;
constexpr double MANTISSA_LIMIT = 9999999999.0;
// A character is stored with bit 6 inverted; a position past the field holds 5.
constexpr unsigned CHAR_FLIP = 64u;
constexpr unsigned PAST_FIELD = 5u;

// Writes value as `width` zero-padded digits at line[at..].
void put_digits(char* line, int at, int width, long long value) {
    for (int k = width - 1; k >= 0; --k) {
        line[at + k] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// A field of up to 18 digits at line[at..]: read in parts of at most nine
// digits, each by read_int_field, so that a ten-digit magnitude reads whole.
long long read_digits(std::string_view line, int at, int width, int& error) {
    long long value = 0;
    int done = 0;
    while (done < width) {
        // The first part takes the digits over a multiple of nine.
        const int part = (width - done) % 9 == 0 ? 9 : (width - done) % 9;
        int e = 0;
        const int v = read_int_field(line.substr(static_cast<std::size_t>(at + done), static_cast<std::size_t>(part)), part, e);
        if (e != 0) error = 1;
        long long scale = 1;
        for (int k = 0; k < part; ++k) scale *= 10;
        value = value * scale + v;
        done += part;
    }
    return value;
}

// A line of the kind's exact length holding nothing but digits.
bool digits_only(std::string_view line, int length) {
    if (static_cast<int>(line.size()) != length) return false;
    for (char ch : line)
        if (ch < '0' || ch > '9') return false;
    return true;
}

int lines_for(int count, int per_line) { return (count - 1) / per_line + 1; }

// The value 32 bits hold of a field, as the checksums take it.
int low_word(long long v) { return static_cast<int>(static_cast<std::uint32_t>(static_cast<unsigned long long>(v))); }

// The exponent code and mantissa of one real value.
void real_fields(double x, long long& code, long long& mantissa) {
    const double a = std::fabs(x);
    if (!std::isfinite(x)) {
        // Nothing finite to write: the value's place holds a zero.
        issue_message(209);
        code = EXPONENT_POSITIVE;
        mantissa = 0;
        return;
    }
    const int e = x == 0.0 ? 0 : truncate_to_int(std::log10(a));
    if (e < -EXPONENT_LIMIT || e > EXPONENT_LIMIT) issue_message(209);
    double m = MANTISSA_SCALE / real_int_power(10.0, e) * a;
    if (!(m <= MANTISSA_LIMIT)) m = MANTISSA_LIMIT;
    mantissa = static_cast<long long>(m);
    code = (e >= 0 ? e : NEGATIVE_EXPONENT_BIAS + e) + (x >= 0.0 ? EXPONENT_POSITIVE : EXPONENT_NEGATIVE);
}

// Reads the next line of a record: status MCD_BAD_FIELD when there is none.
int next_line(int unit, text<MCD_LINE_LIMIT>& buffer, std::string_view& line) {
    int length = 0;
    if (read_mcd_line(unit, buffer, length) != 0) return MCD_BAD_FIELD;
    line = buffer.view().substr(0, static_cast<std::size_t>(length));
    return 0;
}

}  // namespace

// --- writers ---------------------------------------------------------------------

void write_mcd_integers(int unit, std::span<const int> values) {
    const int n = static_cast<int>(values.size());
    const long long sum = n + checksum_ints(values);
    const int lines = lines_for(n, MCD_INT_FIELDS);
    char line[MCD_INT_LINE_LENGTH];
    for (int j = 0; j < lines; ++j) {
        put_digits(line, 0, SUM_WIDTH, sum);
        put_digits(line, SUM_WIDTH, INT_COUNT_WIDTH, n);
        for (int f = 0; f < MCD_INT_FIELDS; ++f) {
            const int at = SUM_WIDTH + INT_COUNT_WIDTH + f * (SIGN_WIDTH + MAGNITUDE_WIDTH);
            const int k = j * MCD_INT_FIELDS + f;
            if (k < n) {
                const long long v = values[static_cast<std::size_t>(k)];
                put_digits(line, at, SIGN_WIDTH, v < 0 ? SIGN_NEGATIVE : SIGN_POSITIVE);
                put_digits(line, at + SIGN_WIDTH, MAGNITUDE_WIDTH, v < 0 ? -v : v);
            } else {
                put_digits(line, at, SIGN_WIDTH, UNUSED_SIGN);
                put_digits(line, at + SIGN_WIDTH, MAGNITUDE_WIDTH, UNUSED_MAGNITUDE);
            }
        }
        write_mcd_line(unit, std::string_view(line, MCD_INT_LINE_LENGTH));
    }
}

void write_mcd_reals(int unit, std::span<const double> values) {
    const int n = static_cast<int>(values.size());
    const int lines = lines_for(n, MCD_REAL_FIELDS);
    char line[MCD_REAL_LINE_LENGTH];
    for (int j = 0; j < lines; ++j) {
        std::array<int, 2 * MCD_REAL_SUMMED_FIELDS> summed{};
        put_digits(line, SUM_WIDTH, REAL_COUNT_WIDTH, n);
        for (int f = 0; f < MCD_REAL_FIELDS; ++f) {
            const int at = SUM_WIDTH + REAL_COUNT_WIDTH + f * (EXPONENT_WIDTH_MCD + MANTISSA_WIDTH);
            const int k = j * MCD_REAL_FIELDS + f;
            long long code = UNUSED_EXPONENT;
            long long mantissa = UNUSED_MANTISSA;
            if (k < n) real_fields(values[static_cast<std::size_t>(k)], code, mantissa);
            put_digits(line, at, EXPONENT_WIDTH_MCD, code);
            put_digits(line, at + EXPONENT_WIDTH_MCD, MANTISSA_WIDTH, mantissa);
            if (f < MCD_REAL_SUMMED_FIELDS) {
                summed[static_cast<std::size_t>(2 * f)] = low_word(code);
                summed[static_cast<std::size_t>(2 * f + 1)] = low_word(mantissa);
            }
        }
        put_digits(line, 0, SUM_WIDTH, n + checksum_ints(summed));
        write_mcd_line(unit, std::string_view(line, MCD_REAL_LINE_LENGTH));
    }
}

void write_mcd_string(int unit, std::string_view field) {
    const int L = static_cast<int>(field.size());
    const int t = trimmed_length(field);
    const long long sum = t + checksum_chars(field);
    const int lines = lines_for(t, MCD_STRING_LINE_CHARS);
    char line[MCD_STRING_LINE_LENGTH];
    for (int j = 0; j < lines; ++j) {
        put_digits(line, 0, SUM_WIDTH, sum);
        put_digits(line, SUM_WIDTH, STRING_LENGTH_WIDTH, t);
        for (int f = 0; f < MCD_STRING_FIELDS; ++f) {
            long long packed = 0;
            for (int c = 0; c < CHARS_PER_FIELD; ++c) {
                const int p = j * MCD_STRING_LINE_CHARS + f * CHARS_PER_FIELD + c + 1;  // field position
                const unsigned byte = p <= L ? (static_cast<unsigned char>(field[static_cast<std::size_t>(p - 1)]) ^ CHAR_FLIP)
                                             : PAST_FIELD;
                packed = packed * 256 + byte;
            }
            put_digits(line, SUM_WIDTH + STRING_LENGTH_WIDTH + f * PACKED_CHARS_WIDTH, PACKED_CHARS_WIDTH, packed);
        }
        write_mcd_line(unit, std::string_view(line, MCD_STRING_LINE_LENGTH));
    }
}

// --- line splitters --------------------------------------------------------------

int split_mcd_integers_line(std::string_view line, mcd_int_line& out) {
    if (!digits_only(line, MCD_INT_LINE_LENGTH)) return MCD_BAD_FIELD;
    int error = 0;
    out.sum = read_digits(line, 0, SUM_WIDTH, error);
    out.count = read_digits(line, SUM_WIDTH, INT_COUNT_WIDTH, error);
    for (int f = 0; f < MCD_INT_FIELDS; ++f) {
        const int at = SUM_WIDTH + INT_COUNT_WIDTH + f * (SIGN_WIDTH + MAGNITUDE_WIDTH);
        out.sign[static_cast<std::size_t>(f)] = read_digits(line, at, SIGN_WIDTH, error);
        out.magnitude[static_cast<std::size_t>(f)] = read_digits(line, at + SIGN_WIDTH, MAGNITUDE_WIDTH, error);
    }
    return error != 0 ? MCD_BAD_FIELD : 0;
}

int split_mcd_reals_line(std::string_view line, mcd_real_line& out) {
    if (!digits_only(line, MCD_REAL_LINE_LENGTH)) return MCD_BAD_FIELD;
    int error = 0;
    out.sum = read_digits(line, 0, SUM_WIDTH, error);
    out.count = read_digits(line, SUM_WIDTH, REAL_COUNT_WIDTH, error);
    for (int f = 0; f < MCD_REAL_FIELDS; ++f) {
        const int at = SUM_WIDTH + REAL_COUNT_WIDTH + f * (EXPONENT_WIDTH_MCD + MANTISSA_WIDTH);
        out.code[static_cast<std::size_t>(f)] = read_digits(line, at, EXPONENT_WIDTH_MCD, error);
        out.mantissa[static_cast<std::size_t>(f)] = read_digits(line, at + EXPONENT_WIDTH_MCD, MANTISSA_WIDTH, error);
    }
    return error != 0 ? MCD_BAD_FIELD : 0;
}

int split_mcd_string_line(std::string_view line, mcd_string_line& out) {
    if (!digits_only(line, MCD_STRING_LINE_LENGTH)) return MCD_BAD_FIELD;
    int error = 0;
    out.sum = read_digits(line, 0, SUM_WIDTH, error);
    out.length = read_digits(line, SUM_WIDTH, STRING_LENGTH_WIDTH, error);
    for (int f = 0; f < MCD_STRING_FIELDS; ++f)
        out.packed[static_cast<std::size_t>(f)] =
            read_digits(line, SUM_WIDTH + STRING_LENGTH_WIDTH + f * PACKED_CHARS_WIDTH, PACKED_CHARS_WIDTH, error);
    return error != 0 ? MCD_BAD_FIELD : 0;
}

// --- readers ---------------------------------------------------------------------

void read_mcd_integers(int unit, std::span<int> values, int at_least, int& count, int& status) {
    count = 0;
    text<MCD_LINE_LIMIT> buffer;
    std::string_view line;
    mcd_int_line first;
    status = next_line(unit, buffer, line);
    if (status == 0) status = split_mcd_integers_line(line, first);
    if (status != 0) return;
    // The record must hold the values asked for: a count that differs would
    // leave values unread or fill them from unused fields.
    const long long c = first.count;
    if (c < at_least || c > static_cast<long long>(values.size())) {
        status = MCD_BAD_CHECK;
        return;
    }
    const int n = static_cast<int>(c);
    const int lines = lines_for(n, MCD_INT_FIELDS);
    mcd_int_line cur = first;
    int stored = 0;
    for (int j = 1; j <= lines; ++j) {
        if (j > 1) {
            status = next_line(unit, buffer, line);
            if (status == 0) status = split_mcd_integers_line(line, cur);
            if (status != 0) return;
            if (cur.sum != first.sum || cur.count != first.count) {
                status = MCD_BAD_CHECK;
                return;
            }
        }
        const int k = n - stored < MCD_INT_FIELDS ? n - stored : MCD_INT_FIELDS;
        for (int f = 0; f < k; ++f) {
            const long long sign = cur.sign[static_cast<std::size_t>(f)];
            const long long v = (2 - sign) * cur.magnitude[static_cast<std::size_t>(f)];
            // Only the two sign codes make a value, and it must be a 32-bit one.
            if ((sign != SIGN_POSITIVE && sign != SIGN_NEGATIVE) || v > INT32_MAX || v < INT32_MIN) {
                status = MCD_BAD_CHECK;
                return;
            }
            values[static_cast<std::size_t>(stored++)] = static_cast<int>(v);
        }
    }
    if (checksum_ints(values.first(static_cast<std::size_t>(n))) != first.sum - first.count) {
        status = MCD_BAD_CHECK;
        return;
    }
    count = n;
}

void read_mcd_integers(int unit, std::span<int> values, int& status) {
    int count = 0;
    read_mcd_integers(unit, values, static_cast<int>(values.size()), count, status);
}

void read_mcd_reals(int unit, std::span<double> values, int& status) {
    text<MCD_LINE_LIMIT> buffer;
    std::string_view line;
    mcd_real_line cur;
    status = next_line(unit, buffer, line);
    if (status == 0) status = split_mcd_reals_line(line, cur);
    if (status != 0) return;
    const long long c = cur.count;
    if (c != static_cast<long long>(values.size())) {
        status = MCD_BAD_CHECK;
        return;
    }
    const int n = static_cast<int>(c);
    const int lines = lines_for(n, MCD_REAL_FIELDS);
    int stored = 0;
    for (int j = 1; j <= lines; ++j) {
        if (j > 1) {
            status = next_line(unit, buffer, line);
            if (status == 0) status = split_mcd_reals_line(line, cur);
            if (status != 0) return;
            if (cur.count != c) {
                status = MCD_BAD_CHECK;
                return;
            }
        }
        std::array<int, 2 * MCD_REAL_SUMMED_FIELDS> summed{};
        for (int f = 0; f < MCD_REAL_SUMMED_FIELDS; ++f) {
            summed[static_cast<std::size_t>(2 * f)] = low_word(cur.code[static_cast<std::size_t>(f)]);
            summed[static_cast<std::size_t>(2 * f + 1)] = low_word(cur.mantissa[static_cast<std::size_t>(f)]);
        }
        if (cur.sum - cur.count != checksum_ints(summed)) {
            status = MCD_BAD_CHECK;
            return;
        }
        const int k = n - stored < MCD_REAL_FIELDS ? n - stored : MCD_REAL_FIELDS;
        for (int f = 0; f < k; ++f) {
            const long long code = cur.code[static_cast<std::size_t>(f)];
            const long long sign_code = code / 1000;
            if (sign_code != EXPONENT_POSITIVE / 1000 && sign_code != EXPONENT_NEGATIVE / 1000) {
                status = MCD_BAD_CHECK;
                return;
            }
            int e = static_cast<int>(code % 1000);
            if (e > 100) e -= NEGATIVE_EXPONENT_BIAS;
            const double m = static_cast<double>(cur.mantissa[static_cast<std::size_t>(f)]);
            const double v = m / (MANTISSA_SCALE / real_int_power(10.0, e)) * static_cast<double>(2 - sign_code);
            // An exponent code far out of the written range (the fifth field
            // of a line is outside the line's sum) makes no number: refuse it
            // rather than hand an infinity or NaN to the store.
            if (!std::isfinite(v)) {
                status = MCD_BAD_CHECK;
                return;
            }
            values[static_cast<std::size_t>(stored++)] = v;
        }
    }
}

void read_mcd_string(int unit, std::span<char> field, int& status) {
    const int L = static_cast<int>(field.size());
    text<MCD_LINE_LIMIT> buffer;
    std::string_view line;
    mcd_string_line first;
    status = next_line(unit, buffer, line);
    if (status == 0) status = split_mcd_string_line(line, first);
    if (status != 0) return;
    const int t = static_cast<int>(first.length);
    const int lines = lines_for(t, MCD_STRING_LINE_CHARS);
    mcd_string_line cur = first;
    for (int j = 0; j < lines; ++j) {
        if (j > 0) {
            status = next_line(unit, buffer, line);
            if (status == 0) status = split_mcd_string_line(line, cur);
            if (status != 0) return;
            if (cur.sum != first.sum || cur.length != first.length) {
                status = MCD_BAD_CHECK;
                return;
            }
        }
        for (int f = 0; f < MCD_STRING_FIELDS; ++f) {
            long long packed = cur.packed[static_cast<std::size_t>(f)];
            if (packed > 0xFFFFFFFFLL) {
                status = MCD_BAD_CHECK;
                return;
            }
            // The four bytes from the lowest, which is the field's last position.
            for (int c = CHARS_PER_FIELD - 1; c >= 0; --c) {
                const unsigned byte = static_cast<unsigned>(packed % 256);
                packed /= 256;
                const int p = j * MCD_STRING_LINE_CHARS + f * CHARS_PER_FIELD + c + 1;
                if (p <= L) {
                    field[static_cast<std::size_t>(p - 1)] = static_cast<char>(byte ^ CHAR_FLIP);
                } else if (byte != PAST_FIELD) {
                    status = MCD_BAD_CHECK;
                    return;
                }
            }
        }
    }
    // Past the lines the writer's field was blank: clear what an earlier
    // source left there, rather than let it stand beside the text just read.
    for (int p = lines * MCD_STRING_LINE_CHARS + 1; p <= L; ++p) field[static_cast<std::size_t>(p - 1)] = ' ';
    if (checksum_chars(std::string_view(field.data(), field.size())) != first.sum - first.length) status = MCD_BAD_CHECK;
}

}  // namespace kv