// Text fields, intrinsics and field conversion.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "runtime/runtime.h"

using namespace kv;

TEST(TextFields, Compare) {
    EXPECT_EQ(compare_texts("AB", "AB "), 0);
    EXPECT_EQ(compare_texts("AB", "ABC"), 32 - 67);
    EXPECT_EQ(compare_texts("ABC", "AB"), 67 - 32);
    EXPECT_EQ(compare_texts("b", "a"), 1);
    EXPECT_EQ(text_equals("fanuc", "fanuc      "), 1);
    EXPECT_EQ(text_equals("Fanuc", "fanuc"), 0);
    // Characters compare as signed bytes: a byte above 127 sorts before 'A'.
    EXPECT_LT(compare_texts("\xE9", "A"), 0);
}

TEST(TextFields, TrimmedLengths) {
    const std::string f("AB\0 ", 4);
    EXPECT_EQ(trimmed_length(f), 2);
    EXPECT_EQ(trimmed_length_blanks(f), 3);
    EXPECT_EQ(trimmed_length_ws("AB\t \0"), 2);
    EXPECT_EQ(trimmed_length_min1("     "), 1);
    EXPECT_EQ(trimmed_length_min1("x"), 1);
    EXPECT_EQ(trimmed_length_min1(" b  "), 2);
    EXPECT_EQ(trimmed_length(""), 0);
}

// Long fields are trimmed eight bytes at a time: the last character may stand
// anywhere in a word, after padding of blanks and NULs mixed, and bytes that
// differ from a blank or a NUL in one bit only (0x60 '`', 0x21 '!', 0xA0) are
// characters.
TEST(TextFields, TrimmedLengthsOfLongFields) {
    for (const char last : {'x', '`', '!', '\xA0', '\x01'}) {
        for (int len = 0; len <= 40; ++len) {
            for (int pos = 0; pos <= len; ++pos) {  // pos 0: padding only
                std::string f(static_cast<std::size_t>(len), ' ');
                for (int i = 0; i < len; i += 3) f[static_cast<std::size_t>(i)] = '\0';
                if (pos > 0) f[static_cast<std::size_t>(pos - 1)] = last;
                EXPECT_EQ(trimmed_length(f), pos) << len << " " << pos;
                const std::string blanks = std::string(static_cast<std::size_t>(pos), last) +
                                           std::string(static_cast<std::size_t>(len - pos), ' ');
                EXPECT_EQ(trimmed_length_blanks(blanks), pos) << len << " " << pos;
            }
        }
    }
    // A NUL is not padding for trimmed_length_blanks.
    EXPECT_EQ(trimmed_length_blanks(std::string(20, ' ') + std::string(1, '\0') + std::string(20, ' ')), 21);
}

TEST(TextFields, FindAndCase) {
    EXPECT_EQ(find_char("abc", 'z'), 0);
    EXPECT_EQ(find_char("a/b/c", '/'), 2);
    EXPECT_EQ(find_last_char("a/b/c", '/'), 4);
    text<6> t("aBc-Z");
    convert_case(t, 1);
    EXPECT_EQ(t.str(), "ABC-Z");
    convert_case(t, 0);
    EXPECT_EQ(t.str(), "abc-z");
}

TEST(TextFields, AssignRange) {
    struct Case { int a, b; const char* src; int c, d; const char* want; };
    const Case cases[] = {
        {5, 4, "xyz", 1, 3, "abcdefgh"},   // empty destination span: nothing changes
        {3, 7, "xyz", 1, 2, "abxy   h"},   // two characters and three blanks
        {3, 7, "123456789", 1, 9, "ab12345h"},
        {0, 2, "xyz", 0, 9, "xycdefgh"},   // ends are clamped to the fields
        {7, 20, "xyz", 2, 3, "abcdefyz"},
    };
    for (const Case& k : cases) {
        text<8> t("abcdefgh");
        assign_text_range(t, k.a, k.b, k.src, k.c, k.d);
        EXPECT_EQ(std::string(t.view()), k.want) << k.a << ":" << k.b;
    }
    text<4> t;
    assign_text(t, "toolong");
    EXPECT_EQ(std::string(t.view()), "tool");
    assign_text(t, "a");
    EXPECT_EQ(std::string(t.view()), "a   ");
}

TEST(Intrinsics, Remainders) {
    EXPECT_EQ(int_mod(-7, 3), -1);
    EXPECT_EQ(int_mod(7, 0), 0);
    EXPECT_EQ(int_mod(INT_MIN, -1), 0);
    EXPECT_DOUBLE_EQ(real_mod(-7.5, 2.0), -1.5);
    EXPECT_DOUBLE_EQ(real_mod(7.5, -2.0), 1.5);
    EXPECT_DOUBLE_EQ(real_mod(7.5, 2.0), 1.5);
    EXPECT_DOUBLE_EQ(real_mod(1.0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(real_mod_int(725.0, 360), 5.0);
    EXPECT_DOUBLE_EQ(real_mod_int(-725.0, 360), -5.0);
}

TEST(Intrinsics, RoundingAndPowers) {
    EXPECT_EQ(nearest_int(-2.5), -3);
    EXPECT_EQ(nearest_int(2.5), 3);
    EXPECT_EQ(nearest_int(1e20), INT_MAX);
    EXPECT_EQ(nearest_int(-1e20), INT_MIN);
    EXPECT_DOUBLE_EQ(real_sign(3.0, -0.0), 3.0);
    EXPECT_DOUBLE_EQ(real_sign(3.0, -1.0), -3.0);
    EXPECT_DOUBLE_EQ(real_int_power(10.0, 3), 1000.0);
    EXPECT_DOUBLE_EQ(real_int_power(10.0, 6), 1e6);
    EXPECT_DOUBLE_EQ(real_int_power(2.0, -3), 0.125);
    EXPECT_DOUBLE_EQ(real_int_power_binary(3.0, 0), 1.0);
    EXPECT_DOUBLE_EQ(safe_acos(1.5), 0.0);
}

TEST(Intrinsics, Bits) {
    EXPECT_EQ(bit_shift_left(1, 33), 2);
    EXPECT_EQ(bit_shift_right(-8, 1), -4);
    EXPECT_EQ(bit_shift_left(1, 31), INT_MIN);
    EXPECT_EQ(bit_or(5, 2), 7);
    EXPECT_EQ(bit_and(6, 3), 2);
    EXPECT_EQ(bit_xor(6, 3), 5);
    EXPECT_EQ(bit_not(0), -1);
}

TEST(FieldConversion, ReadReal) {
    struct Case { const char* field; int d; int blank_zero; double want; };
    const Case cases[] = {
        {"     ", 2, 0, 0.0},
        {"1.5E3", 0, 0, 1500.0},
        {"1.5E3", 4, 0, 1500.0},
        {"1 2", 0, 0, 12.0},
        {"1 2", 0, 1, 102.0},
        {"12345", 2, 0, 123.45},
        {"5", 3, 0, 0.005},
        {"-5", 3, 0, -0.005},
        {"15D2", 1, 0, 150.0},
        {"123-2", 0, 0, 1.23},
        {"  -2.5", 3, 0, -2.5},
        {"125", -2, 0, 125.0},  // implied decimals below zero count as none
    };
    for (const Case& k : cases) {
        int error = -1;
        const std::string f(k.field);
        EXPECT_DOUBLE_EQ(read_real_field(f, static_cast<int>(f.size()), k.d, error, k.blank_zero), k.want) << k.field;
        EXPECT_EQ(error, 0);
    }
    int error = 0;
    const std::string ok = "  " + std::string(254, '1');
    read_real_field(ok, static_cast<int>(ok.size()), 0, error, 0);
    EXPECT_EQ(error, 0);
    const std::string bad(255, '1');
    EXPECT_EQ(read_real_field(bad, 255, 0, error, 0), 0.0);
    EXPECT_EQ(error, 1);
}

TEST(FieldConversion, ReadInt) {
    int error = -1;
    EXPECT_EQ(read_int_field("-42", 3, error), -42);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(read_int_field("4x", 2, error), 0);
    EXPECT_EQ(error, 2);
    EXPECT_EQ(read_int_field("    ", 4, error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(read_int_field("1 0", 3, error, 0), 10);
    EXPECT_EQ(read_int_field("1 0", 3, error, 1), 100);
    EXPECT_EQ(read_int_field("-2147483648", 11, error), INT_MIN);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(read_int_field("2147483648", 10, error), 0);  // overflow is an error
    EXPECT_EQ(error, 2);
    EXPECT_EQ(read_int_field("12345", 3, error), 123);      // only w columns count
}

TEST(FieldConversion, FormatFixed) {
    EXPECT_EQ(format_real_fixed_text(6, 0, 2.5), "    3.");
    EXPECT_EQ(format_real_fixed_text(4, 0, -2.5), " -3.");
    EXPECT_EQ(format_real_fixed_text(8, 3, -0.0004), "   0.000");
    EXPECT_EQ(format_real_fixed_text(8, 1, 1.25), "     1.3");
    EXPECT_EQ(format_real_fixed_text(3, 2, 123.456), "123.46");  // wider than w: not cut
    EXPECT_EQ(format_real_fixed_text(500, 1, 2.0), std::string(497, ' ') + "2.0");  // a wide field whole
    text<10> t;
    EXPECT_EQ(format_real_fixed(t, 6, 2, 1.005), 0);  // 1.005 * 100 is just below 100.5
    EXPECT_EQ(std::string(t.view()), "  1.00    ");
}
