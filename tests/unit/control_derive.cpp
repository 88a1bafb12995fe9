// Derived settings of a loaded control: the mirrored integer settings, word
// scales, state flags, translation texts, decimal point and numbering starts.
#include <climits>

#include "kinematics/kinematics.h"
#include "store_printer.h"

using namespace kv;
using namespace kv_test;

TEST(DeriveSettings, FromTheDefaults) {
    reset_store();
    configuration_store_t& cs = configuration_store;
    cs.NGPS = 7;
    for (int flag : {20, 22, 23, 24, 31}) cs.state_flags[flag] = 1;
    cs.word_formats[3][WRDFAC] = 5;
    cs.word_formats[3][SCALE_DIVISOR] = 0;
    cs.word_formats[4][WRDFAC] = 3;
    cs.word_formats[4][SCALE_DIVISOR] = 4;
    derive_settings();

    const derived_settings_t& d = derived_settings;
    EXPECT_EQ(cs.active_word_count, 7);
    for (int flag : {20, 22, 23, 24, 31}) EXPECT_EQ(cs.state_flags[flag], 0) << flag;
    EXPECT_EQ(cs.state_flags[21], 1);  // "coordinates" defaults to absolute
    EXPECT_EQ(cs.state_flags[5], 0);
    // A divisor of 0 becomes 1 in the store as well.
    EXPECT_EQ(cs.word_formats[3][SCALE_DIVISOR], 1);
    EXPECT_DOUBLE_EQ(d.word_scale[3], 5.0);
    EXPECT_DOUBLE_EQ(d.word_scale[4], 0.75);
    EXPECT_DOUBLE_EQ(d.word_scale[MAXWORDS], 1.0);
    for (int n : {6, 7, 10, 11, 12, 13, 20, 26, 27, 28, 34, 35, 36, 37}) EXPECT_EQ(cs.intsp[n], 1) << n;
    EXPECT_EQ(d.decimal_point_char, '.');
    EXPECT_EQ(d.sequence_number_max, 9999);
    EXPECT_EQ(d.sequence_number, 1);
    EXPECT_EQ(d.counter, 0);
    EXPECT_EQ(d.program_id_number, 1);
    EXPECT_EQ(machine_model.machine_type, MACHINE_NO_ROTARY);
}

TEST(DeriveSettings, FromAControl) {
    reset_store();
    configuration_store_t& cs = configuration_store;
    cs.intsp[40] = 11;  // incremental coordinates
    cs.intsp[5] = 10;
    cs.intsp[56] = 500;
    cs.intsp[61] = 7;
    cs.intsp[22] = 10;
    cs.intsp[33] = 42;
    cs.spchar[3].set(",");
    cs.spchar[5].set("abc");
    cs.spchar[6].set("xyz");
    // A control that sets the integer directly keeps it over its list.
    cs.intsp[10] = 3;
    avals(1, 9) = 2.0;
    avals(2, 9) = -2.7;
    avals(3, 9) = 1e12;
    avals(4, 9) = -1e12;
    avals(1, 10) = 4.9;
    avals(2, 10) = 6.0;
    derive_settings();

    const derived_settings_t& d = derived_settings;
    EXPECT_EQ(cs.state_flags[21], 0);
    EXPECT_EQ(cs.state_flags[5], 1);
    EXPECT_EQ(cs.intsp[10], 3);
    EXPECT_EQ(cs.intsp[11], -2);  // truncated toward zero
    EXPECT_EQ(cs.intsp[12], INT_MAX);  // beyond the integer range: saturated
    EXPECT_EQ(cs.intsp[13], INT_MIN);
    EXPECT_EQ(cs.intsp[26], 4);   // circle output: element 1 to 26, element 2 to 20
    EXPECT_EQ(cs.intsp[20], 6);
    EXPECT_EQ(d.decimal_point_char, ',');
    EXPECT_EQ(trimmed_copy(d.translate_from.view()), "abc");
    EXPECT_EQ(trimmed_copy(d.translate_to.view()), "xyz");
    EXPECT_EQ(d.sequence_number_max, 500);
    EXPECT_EQ(d.counter, 7);
    EXPECT_EQ(d.sequence_number, 10);
    EXPECT_EQ(d.program_id_number, 42);
}

// A word that writes a value but whose format cannot write a length (every
// value 0, or none within a word integer) refuses the control before a job,
// naming the word; a word that writes no value is left alone.
TEST(WordFormatChecks, FormatsThatCannotWriteALength) {
    struct row {
        const char* statements;
        const char* message;  // nullptr: accepted
    };
    const row rows[] = {
        {" decimal places = 3\n", nullptr},
        {" decimal places = 9\n scale factor = -1\n", nullptr},
        {" decimal places = -7\n", "Error: word XA cannot write a length: decimal places -7\n"},
        {"imperial formats\n decimal places = 10\n", "Error: word XA cannot write a length: decimal places 10\n"},
        {" scale factor = 0\n", "Error: word XA cannot write a length: scale factor 0\n"},
        {" field width = 0\n decimal places = -1\n", nullptr},
    };
    for (const row& r : rows) {
        const std::string text = std::string("machine m\ndefine word XA\n address letter = \"X\"\n field width = 8\n") +
                                 r.statements + "end define\nend\n";
        const compile_result compiled = compile(text);
        ASSERT_EQ(compiled.exit_code, -1) << r.statements << compiled.messages;
        int code = -1;
        testing::internal::CaptureStderr();
        try {
            check_word_formats();
        } catch (const run_stopped& s) {
            code = s.code;
        }
        const std::string messages = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, r.message != nullptr ? 4 : -1) << r.statements;
        EXPECT_EQ(messages, r.message != nullptr ? r.message : "") << r.statements;
    }
}
