// The number formatter of the block writer: decimal point, leading and
// trailing zeros, sign modes, fixed and natural fields, point and field
// styles, zero texts and exponent notation.
#include <gtest/gtest.h>

#include <string>

#include "output/output.h"

using namespace kv;

namespace {

struct styles {
    int point_style = 0;   // intsp(51)
    int field_style = 0;   // intsp(53)
    int special_zero = 0;  // intsp(38)
    char point = '.';
};

std::string format(int v, int width, int zero_flags, int sign_mode, int point_flag, int decimals,
                   int exponent_width = 0, std::string_view zero_text = "0.", styles st = {}) {
    configuration_store.intsp[51] = st.point_style;
    configuration_store.intsp[53] = st.field_style;
    configuration_store.intsp[38] = st.special_zero;
    derived_settings.decimal_point_char = st.point;
    text<BLOCK_LINE_LENGTH> line;
    int written = -1;
    EXPECT_EQ(format_word_value(line.span(), 5, width, written, v, zero_flags, sign_mode, point_flag, decimals,
                                exponent_width, zero_text),
              0);
    // Nothing is placed before the column or after the characters written.
    EXPECT_EQ(trimmed_length(line.view().substr(0, 4)), 0);
    EXPECT_EQ(trimmed_length(line.view().substr(static_cast<std::size_t>(4 + written))), 0);
    return std::string(line.view().substr(4, static_cast<std::size_t>(written)));
}

}  // namespace

// Three decimals, point flag, sign when negative, width 8.
TEST(NumberFormat, ZeroFlagsAndFixedFields) {
    struct row {
        int v;
        const char* by_flags[4];
        const char* fixed;
    };
    const row rows[] = {
        {12345, {"12.345", "012.345", "12.345", "012.345"}, "  12.345"},
        {-12345, {"-12.345", "-012.345", "-12.345", "-012.345"}, " -12.345"},
        {1200, {"1.2", "00001.2", "1.200", "001.200"}, "     1.2"},
        {5, {".005", "000.005", ".005", "000.005"}, "    .005"},
    };
    for (const row& r : rows) {
        for (int flags = 0; flags < 4; ++flags)
            EXPECT_EQ(format(r.v, 8, flags, 1, 1, 3), r.by_flags[flags]) << r.v << " flags " << flags;
        EXPECT_EQ(format(r.v, -8, 0, 1, 1, 3), r.fixed) << r.v;
    }
}

TEST(NumberFormat, ImpliedDecimalsSignsAndStyles) {
    struct row {
        int v, width, flags, sign, point, decimals;
        styles st;
        const char* want;
    };
    const row rows[] = {
        {12345, 8, 0, 1, 0, 3, {}, "12345"},
        {1200, 8, 0, 1, 0, 3, {}, "1200"},         // implied decimals keep their trailing zeros
        {12345, 8, 1, 1, 0, 3, {}, "0012345"},
        {1200, 8, 1, 1, 0, 3, {}, "0001200"},
        {100000, 8, 1, 1, 0, 3, {}, "0100000"},    // Z100 with 3 implied decimals reads back as 100
        {0, 8, 0, 1, 0, 3, {}, "0"},               // no point, no special zero: one digit
        {12345, 8, 0, 2, 1, 3, {}, "+12.345"},
        {12345, 8, 1, 2, 1, 3, {}, "+012.345"},
        {-12345, 8, 0, 0, 1, 3, {}, "-12.345"},    // a negative value keeps its sign in every sign mode
        {5, 8, 0, 1, 1, 3, {4}, "0.005"},
        {5, 8, 0, 1, 1, 3, {2}, "0.005"},
        {12000, 8, 0, 1, 1, 3, {3}, "12.0"},       // a trailing point gets a zero
        {12000, 8, 0, 1, 1, 0, {3}, "12000.0"},
        {12000, 8, 0, 1, 1, 3, {6}, "12"},         // a trailing point is dropped
        {12345, 8, 0, 1, 1, 3, {0, 2}, "  12.345 "},  // full width and a blank after
        {-5, 8, 0, 1, 1, 3, {0, 2}, "   -.005 "},
        {12345, 8, 0, 1, 1, 3, {0, 0, 0, ','}, "12,345"},
        {123456789, 4, 0, 1, 1, 3, {}, "123456.789"},  // a body wider than the field widens it
        {-2147483647 - 1, 4, 0, 1, 0, 0, {}, "-2147483648"},
    };
    for (const row& r : rows)
        EXPECT_EQ(format(r.v, r.width, r.flags, r.sign, r.point, r.decimals, 0, "0.", r.st), r.want) << r.v;
}

TEST(NumberFormat, ZeroTexts) {
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 0, "0."), "0.");
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 0, "          "), "");       // a blank zero text writes nothing
    EXPECT_EQ(format(0, 8, 2, 1, 1, 3, 0, "0.000"), "0.000");       // zeros of a zero text stay
    EXPECT_EQ(format(0, -6, 0, 1, 1, 3, 0, "0."), "    0.");
    EXPECT_EQ(format(0, 8, 0, 1, 0, 3, 0, "ZERO", {0, 0, 2}), "ZERO");  // special zero without a point
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 2, "0."), "0.E+00");
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 1, "0."), "0.E+0");
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 2, "          "), "E+00");     // the exponent part stays
    // The point styles act on a zero text that ends with the point.
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 0, "0.", {3}), "0.0");
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 0, "0.", {6}), "0");
    EXPECT_EQ(format(0, 8, 0, 1, 1, 3, 0, "0", {3}), "0");
    EXPECT_EQ(format(0, 8, 0, 1, 0, 3, 0, "0.", {3, 0, 2}), "0.");    // point style 3 needs the point flag
}

TEST(NumberFormat, ExponentNotation) {
    EXPECT_EQ(format(12345, 12, 0, 1, 1, 3, 2), "1.2345E+01");
    EXPECT_EQ(format(5, 12, 0, 1, 1, 3, 2), "5.E-03");
    EXPECT_EQ(format(1200, 12, 0, 1, 1, 3, 2), "1.2E+00");
    EXPECT_EQ(format(1200, 12, 0, 1, 1, 3, 1), "1.2E+0");
    EXPECT_EQ(format(-12345, 12, 0, 1, 1, 3, 2), "-1.2345E+01");
    // The field width bounds the mantissa; the exponent part follows it.
    EXPECT_EQ(format(12345, 8, 0, 1, 1, 3, 2), "1.2345E+01");
    EXPECT_EQ(format(-12345, 8, 0, 1, 1, 3, 2), "-1.2345E+01");
    EXPECT_EQ(format(1200, 8, 2, 1, 1, 3, 2), "1.200000E+00");  // trailing zeros fill the mantissa to the field
    EXPECT_EQ(format(-1200, 8, 2, 1, 1, 3, 2), "-1.20000E+00");
    EXPECT_EQ(format(12345, -8, 0, 1, 1, 3, 2), "  1.2345E+01");
    // Only a mantissa that does not fit is shortened, the last kept digit
    // rounded half up; a carry raises the exponent.
    EXPECT_EQ(format(123456789, 8, 0, 1, 1, 3, 2), "1.234568E+05");
    EXPECT_EQ(format(123456749, 8, 0, 1, 1, 3, 2), "1.234567E+05");
    EXPECT_EQ(format(99999999, 8, 0, 1, 1, 3, 2), "1.E+05");
    EXPECT_EQ(format(99999999, 8, 2, 1, 1, 3, 2), "1.000000E+05");
    EXPECT_EQ(format(12355, 4, 0, 1, 1, 3, 2), "1.24E+01");
}

// A zero-filled value as wide as its field keeps every digit: the empty sign
// position is only taken where the field has room for it.
TEST(NumberFormat, LeadingZerosNeverCostADigit) {
    EXPECT_EQ(format(12345, 6, 1, 1, 1, 3), "12.345");
    EXPECT_EQ(format(12345, -6, 1, 1, 1, 3), "12.345");
    EXPECT_EQ(format(12345, 7, 1, 1, 1, 3), "12.345");
    EXPECT_EQ(format(12345, -7, 1, 1, 1, 3), " 12.345");
    EXPECT_EQ(format(12345, -8, 1, 1, 1, 3), " 012.345");
}

TEST(NumberFormat, FieldPastTheLineIsRefused) {
    text<BLOCK_LINE_LENGTH> line;
    int written = -1;
    configuration_store.intsp[53] = 0;
    EXPECT_EQ(format_word_value(line.span(), 250, 8, written, 12345678, 1, 1, 1, 3, 0, "0."), 1);
    EXPECT_EQ(trimmed_length(line.view()), 0);
    EXPECT_EQ(format_word_value(line.span(), 250, 0, written, 12345678, 1, 1, 1, 3, 0, "0."), 0);
    EXPECT_EQ(written, 0);  // a width of 0 writes nothing
    EXPECT_EQ(format_word_value(line.span(), 253, 4, written, 1234, 0, 1, 0, 0, 0, "0."), 0);
    EXPECT_EQ(std::string(line.view().substr(252, 4)), "1234");
}
