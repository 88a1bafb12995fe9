// Formats a word's integer value for the tape: implied or written decimal
// point, leading and trailing zeros, sign, fixed or natural field width and
// exponent notation, with the control's zero text for a zero value.
#include <algorithm>
#include <cstring>

#include "output/output.h"

namespace kv {

namespace {

constexpr int SPECIAL_ZERO = 38;   // intsp: 2 writes the zero text also without a point
constexpr int POINT_STYLE = 51;    // intsp: 2/4 "0" before a leading point, 3/4/5 "0" after a trailing one, 6 no trailing point
constexpr int FIELD_STYLE = 53;    // intsp: 2 fields of their full width followed by a blank
constexpr int BODY_CAPACITY = 64;  // digits, point, fill and exponent of one value
constexpr long long WIDTH_LIMIT = 1000000;  // wider than any tape line

struct body_text {
    char c[BODY_CAPACITY];
    int n = 0;
    void push(char ch) {
        if (n < BODY_CAPACITY) c[n++] = ch;
    }
    void append(const char* from, int count) {
        count = std::min(count, BODY_CAPACITY - n);
        if (count <= 0) return;
        std::memcpy(c + n, from, static_cast<std::size_t>(count));
        n += count;
    }
    void append_zeros(int count) {
        count = std::min(count, BODY_CAPACITY - n);
        if (count <= 0) return;
        std::memset(c + n, '0', static_cast<std::size_t>(count));
        n += count;
    }
};

// The decimal digits of m (at least one), written backwards so that they end
// just before `end`; returns where they begin.
char* digits_ending_at(char* end, unsigned long long m) {
    do {
        *--end = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m > 0);
    return end;
}

// The decimal digits of m (not negative; at least one), most significant
// first; returns how many.
int digits_of(long long m, char* out) {
    char digits[24];
    char* const end = digits + sizeof digits;
    const char* const first = digits_ending_at(end, static_cast<unsigned long long>(m));
    const int n = static_cast<int>(end - first);
    std::memcpy(out, first, static_cast<std::size_t>(n));
    return n;
}

}  // namespace

int format_word_value(std::span<char> line, int column, int width, int& written, int v, int zero_flags,
                      int sign_mode, int point_flag, int decimals, int exponent_width,
                      std::string_view zero_text) {
    const configuration_store_t& cs = configuration_store;
    const char point = derived_settings.decimal_point_char;
    const int point_style = cs.intsp[POINT_STYLE];
    const int field_style = cs.intsp[FIELD_STYLE];
    written = 0;
    const bool fixed = width < 0;
    // A width beyond any line cannot fit anyway; holding it there keeps the
    // field arithmetic below within range for widths near the integer limit.
    const int field_width = std::min(width < 0 ? -static_cast<long long>(width) : width, WIDTH_LIMIT);
    if (field_width == 0) return 0;
    const bool lz = (zero_flags & 1) != 0;
    const bool tz = (zero_flags & 2) != 0;
    const char fill = lz ? '0' : ' ';
    const bool negative = v < 0;
    const long long magnitude = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    if (decimals < 0) decimals = 0;
    if (decimals > 18) decimals = 18;
    const bool exponent = exponent_width >= 1;
    const bool sign_shown = sign_mode == 2 || negative;

    body_text body;      // the mantissa in exponent notation
    body_text exponent_part;
    const bool zero_text_body = v == 0 && (point_flag != 0 || cs.intsp[SPECIAL_ZERO] == 2);
    if (zero_text_body) {
        const int n = trimmed_length(zero_text);
        for (int i = 0; i < n; ++i) body.push(zero_text[static_cast<std::size_t>(i)]);
        // The exponent part stands also after a blank zero text (an empty body).
        if (exponent) {
            constexpr std::string_view zero_exponent = "E+00";
            const int exponent_length = std::min(exponent_width, BODY_CAPACITY) + 2;  // the body holds no more
            for (int i = 0; i < exponent_length; ++i)
                exponent_part.push(i < 4 ? zero_exponent[static_cast<std::size_t>(i)] : ' ');
        }
        // A zero text keeps its zeros, but the point styles still act on a
        // zero text that ends with the decimal point ("0." gives "0.0" or "0").
        if (point_flag != 0 && (point_style == 3 || point_style == 4 || point_style == 5) && body.n > 0 &&
            body.c[body.n - 1] == point)
            body.push('0');
        if (point_style == 6 && body.n > 0 && body.c[body.n - 1] == point) --body.n;
    } else if (!exponent) {
        char digits[24];
        char* const digits_end = digits + sizeof digits;
        const char* const d = digits_ending_at(digits_end, static_cast<unsigned long long>(magnitude));
        const int nd = static_cast<int>(digits_end - d);
        if (point_flag != 0) {
            if (nd > decimals) {
                body.append(d, nd - decimals);
                body.push(point);
                body.append(d + nd - decimals, decimals);
            } else {
                if (point_style == 2 || point_style == 4) body.push('0');
                body.push(point);
                body.append_zeros(decimals - nd);
                body.append(d, nd);
            }
        } else {
            body.append(d, nd);
        }
        // Trailing zeros of the fraction. An implied-decimal number keeps
        // them: without the point they are what places its digits, and 1200
        // written as 12 would be read back as a hundredth of the value.
        if (!tz && point_flag != 0)
            while (body.n > 1 && body.c[body.n - 1] == '0') --body.n;
        if (point_flag != 0 && (point_style == 3 || point_style == 4 || point_style == 5) && body.n > 0 &&
            body.c[body.n - 1] == point)
            body.push('0');
        if (point_style == 6 && body.n > 0 && body.c[body.n - 1] == point) --body.n;
    } else {
        // Exponent notation: d.ddd with the exponent of the implied decimals.
        char d[24];
        int nd = digits_of(magnitude, d);
        int power = nd - 1 - decimals;
        int nkeep = nd;
        if (!tz)
            while (nkeep > 1 && d[nkeep - 1] == '0') --nkeep;
        const int exponent_digits = exponent_width >= 2 ? 2 : 1;
        // The field width bounds the mantissa (sign, digits and point); the
        // exponent part follows it. Only digits that do not fit are dropped,
        // the last kept one rounded half up; a carry into a new digit raises
        // the exponent.
        const int mantissa_width = field_width - (sign_shown ? 1 : 0);
        const int room = std::max(mantissa_width - 1, 1);
        if (nkeep > room) {
            const bool round_up = d[room] >= '5';
            nkeep = room;
            if (round_up) {
                int i = nkeep - 1;
                while (i >= 0 && d[i] == '9') d[i--] = '0';
                if (i >= 0) {
                    ++d[i];
                } else {
                    for (int j = nkeep - 1; j > 0; --j) d[j] = d[j - 1];
                    d[0] = '1';
                    ++power;
                }
            }
            if (!tz)
                while (nkeep > 1 && d[nkeep - 1] == '0') --nkeep;
        }
        body.push(d[0]);
        body.push(point);
        for (int i = 1; i < nkeep; ++i) body.push(d[i]);
        if (tz)
            while (body.n < mantissa_width && body.n < BODY_CAPACITY) body.push('0');
        if (point_style == 3 || point_style == 4 || point_style == 5)
            if (body.c[body.n - 1] == point) body.push('0');
        if (point_style == 6 && body.c[body.n - 1] == point) --body.n;
        exponent_part.push('E');
        exponent_part.push(power < 0 ? '-' : '+');
        char e[4];
        const int ne = digits_of(power < 0 ? -power : power, e);
        for (int i = ne; i < exponent_digits; ++i) exponent_part.push('0');
        for (int i = 0; i < ne; ++i) exponent_part.push(e[i]);
    }

    // The field: the sign position and the body (the mantissa in exponent
    // notation), in natural length or filled out to the width; an exponent
    // part follows the field. The empty sign position of a zero-filled field
    // takes a position only where the field has room left of the body, so
    // that no digit is ever given up for it.
    const int body_length = body.n;
    int field = field_width;
    if (field < body_length + (sign_shown ? 1 : 0)) field = body_length + (sign_shown ? 1 : 0);
    int lead_fill = 0;      // fill characters between the sign position and the body
    int lead_blanks = 0;    // blanks at the left of a fixed field
    bool sign_at_left = false;
    const bool natural = !lz && field_style != 2;
    if (natural) {
        const int natural_length = body_length + (sign_shown ? 1 : 0);
        if (fixed) lead_blanks = field - natural_length;
    } else {
        // The field ends at the body's end; positions left of it take the fill.
        int positions = field - body_length;  // includes the sign position
        if (sign_shown) {
            sign_at_left = lz;
            lead_fill = positions - 1;
            if (!lz) {
                lead_blanks = lead_fill;
                lead_fill = 0;
            }
        } else if (lz && sign_mode == 1 && positions > 0) {
            // The empty sign position: blank in a fixed field, dropped otherwise.
            if (fixed) {
                lead_blanks = 1;
            } else {
                --field;
            }
            lead_fill = positions - 1;
        } else {
            lead_fill = positions;
        }
    }
    const int trailing_blank = field_style == 2 ? 1 : 0;
    const int total =
        (natural && !fixed ? body_length + (sign_shown ? 1 : 0) : field) + exponent_part.n + trailing_blank;
    if (column < 1 || static_cast<long long>(column) - 1 + total > static_cast<long long>(line.size())) return 1;

    char* out = line.data() + (column - 1);
    int k = 0;
    for (int i = 0; i < lead_blanks; ++i) out[k++] = ' ';
    if (sign_shown && sign_at_left) out[k++] = negative ? '-' : '+';
    for (int i = 0; i < lead_fill; ++i) out[k++] = fill;
    if (sign_shown && !sign_at_left) out[k++] = negative ? '-' : '+';
    for (int i = 0; i < body.n; ++i) out[k++] = body.c[i];
    for (int i = 0; i < exponent_part.n; ++i) out[k++] = exponent_part.c[i];
    if (trailing_blank) out[k++] = ' ';
    written = k;
    return 0;
}

}  // namespace kv
