// Expressions and conditions of block items, and the system variables they
// read: left-to-right arithmetic, texts, statuses, index levels, relations
// with the X word's tolerance, and the variables with side effects.
#include <cmath>

#include "kinematics/kinematics.h"
#include "output/output.h"
#include "store_printer.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int X_WORD = 3;

struct ExpressionTest : testing::Test {
    void SetUp() override {
        static bool ready = false;
        if (!ready) {
            int status = 0;
            init_units(status);
            init_message_table(status);
            register_builtin_messages();
            set_stop_hook(throw_on_stop);
            ready = true;
        }
        reset_store();
        configuration_store_t& cs = configuration_store;
        cs.NGPS = 4;
        cs.gpnams[1].set("N");
        cs.gpnams[X_WORD].set("X");
        cs.key[8] = X_WORD;
        cs.word_formats[X_WORD][WRDPRN] = 3;
        word_output_state = word_output_state_t();
        block_interpreter = block_interpreter_t();
        system_variable_state = system_variable_state_t();
        derived_settings = derived_settings_t();
        pass1_results = pass1_results_t();
        toolpath_tables.toolpath_index = 0;
        command_switches.continue_after_error = 0;
    }
};

struct result {
    double value = 0.0;
    int type = -99;
    int status = -99;
    std::string text;
    std::string messages;
};

result evaluate(const std::string& expression, int evaluate_flag = 1) {
    result r;
    text<EXPRESSION_RESULT_LENGTH> t;
    testing::internal::CaptureStderr();
    evaluate_expression(expression, evaluate_flag, t.span(), r.value, r.type, r.status);
    r.messages = testing::internal::GetCapturedStderr();
    r.text = t.str();
    return r;
}

struct condition_result {
    int value = -1;
    int status = -99;
};

condition_result condition(const std::string& text_in, int evaluate_flag = 1) {
    condition_result r;
    r.value = evaluate_condition(text_in, evaluate_flag, r.status);
    return r;
}

}  // namespace

TEST_F(ExpressionTest, ArithmeticRunsLeftToRight) {
    struct Case {
        const char* expression;
        double value;
        int type;
    } cases[] = {
        {"10 - 2 - 3", 5, VALUE_INTEGER},
        {"2 + 3 * 4", 20, VALUE_INTEGER},
        {"1 + 2 * 3", 9, VALUE_INTEGER},
        {"0 - 5", -5, VALUE_INTEGER},
        {"7 % 3", 1, VALUE_INTEGER},
        {"0 - 7 % 3", -1, VALUE_INTEGER},
        {"7 / 2", 3.5, VALUE_INTEGER},          // the type is the last operand's
        {"1 + 2.5", 3.5, VALUE_REAL_LITERAL},
        {"2.5 * 2", 5, VALUE_INTEGER},
        {"42", 42, VALUE_INTEGER},
        {"0.25", 0.25, VALUE_REAL_LITERAL},
    };
    for (const Case& c : cases) {
        const result r = evaluate(c.expression);
        EXPECT_EQ(r.status, EXPR_OK) << c.expression;
        EXPECT_DOUBLE_EQ(r.value, c.value) << c.expression;
        EXPECT_EQ(r.type, c.type) << c.expression;
    }
}

TEST_F(ExpressionTest, StatusesOfBadExpressions) {
    struct Case {
        const char* expression;
        int status;
    } cases[] = {
        {"-5", EXPR_INCOMPLETE},  // a leading minus is the operator
        {"1 +", EXPR_INCOMPLETE},
        {"7 / 0", EXPR_DIVIDE_BY_ZERO},
        {"7 % 0.0000000000001", EXPR_DIVIDE_BY_ZERO},
        {"1 + \"a\"", EXPR_TYPE_MISMATCH},
        {"\"a\" - 1", EXPR_TYPE_MISMATCH},
        {"\"a\" * \"b\"", EXPR_BAD_OPERATOR},
        {"\"a\" - \"b\"", EXPR_BAD_OPERATOR},
        {"(1)", EXPR_NOT_OPERAND},
        {"\"open", EXPR_NOT_OPERAND},
        {"[1]", EXPR_BAD_INDEX},
        {"word{NOSUCH}", EXPR_BAD_INDEX},
        {"word{X", EXPR_BAD_INDEX},
        {"toolnumber[1", EXPR_NO_BRACKET},
        {"toolnumber[toolnumber[toolnumber[toolnumber[1]]]]", EXPR_OK},  // five levels, the number included
        {"toolnumber[toolnumber[toolnumber[toolnumber[toolnumber[1]]]]]", EXPR_TOO_DEEP},
    };
    for (const Case& c : cases) EXPECT_EQ(evaluate(c.expression).status, c.status) << c.expression;
    // Checking alone applies no operator, so a division by zero passes.
    EXPECT_EQ(evaluate("7 / 0", 0).status, EXPR_OK);
    EXPECT_EQ(evaluate("1 + \"a\"", 0).status, EXPR_TYPE_MISMATCH);
}

TEST_F(ExpressionTest, TextsConcatenateAndKeepQuotedBlanks) {
    result r = evaluate("\"ab  \" + \"cd\" + \"e\"");
    EXPECT_EQ(r.status, EXPR_OK);
    EXPECT_EQ(r.type, VALUE_TEXT);
    EXPECT_EQ(r.text, "ab  cde");
    // An empty first text does not make the second one twice.
    r = evaluate("\"\" + \"B\"");
    EXPECT_EQ(r.text, "B");
    // A quoted operator sign is a text, not an operator.
    r = evaluate("\"A\" + \"-\" + \"B\"");
    EXPECT_EQ(r.status, EXPR_OK);
    EXPECT_EQ(r.text, "A-B");
}

TEST_F(ExpressionTest, NilAndEmptyExpressions) {
    result r = evaluate("nil");
    EXPECT_EQ(r.type, VALUE_NIL);
    EXPECT_EQ(r.status, EXPR_OK);
    r = evaluate("toolnumber[]");
    EXPECT_EQ(r.type, VALUE_NIL);
    EXPECT_EQ(r.status, EXPR_OK);
    // No tokens: value 0, type and status as the caller left them.
    text<EXPRESSION_RESULT_LENGTH> t;
    double value = 5.0;
    int type = 77;
    int status = 88;
    evaluate_expression("   ", 1, t.span(), value, type, status);
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(status, 88);
}

TEST_F(ExpressionTest, ConditionsCompareWithinATenthOfTheXResolution) {
    block_interpreter.switches[1] = 1;
    struct Case {
        const char* text;
        int value;
        int status;
    } cases[] = {
        {"1 eq 1.00004", 1, EXPR_OK},
        {"1 eq 1.0002", 0, EXPR_OK},
        {"1 ne 1.0002", 1, EXPR_OK},
        {"1 = 1", 1, EXPR_OK},
        {"2 > 1", 1, EXPR_OK},
        {"1 gt 1.00004", 0, EXPR_OK},
        {"1 ge 1.00004", 1, EXPR_OK},
        {"1.00004 lt 1", 0, EXPR_OK},
        {"1 le 0.99996", 1, EXPR_OK},
        {"1 <> 1", 0, EXPR_OK},
        {"not 2 gt 1 and 1 lt 2", 0, EXPR_OK},  // (not (2 > 1)) and (1 < 2)
        {"~ 0 gt 1 and 1 lt 2", 1, EXPR_OK},
        {"1 eq 1 or 1 eq 2 and 1 eq 3", 0, EXPR_OK},  // (a or b) and c
        {"\"abc\" lt \"abd\"", 1, EXPR_OK},
        {"\"abc\" eq \"abc  \"", 1, EXPR_OK},
        {"\"abc\" eq \"ABC\"", 0, EXPR_OK},
        {"swa", 1, EXPR_OK},  // a logical variable alone is a relation
        {"swb", 0, EXPR_OK},
        {"swa and swb", 0, EXPR_OK},
        {"1 eq 1 and", 1, EXPR_BAD_CONDITION},
        {"1 xx 1", 0, EXPR_BAD_CONDITION},
        {"1 eq", 0, EXPR_BAD_CONDITION},
        {"1 eq 1 xor 2 eq 2", 1, EXPR_BAD_CONDITION},
        {"1 + 2 eq 3", 0, EXPR_BAD_CONDITION},  // an operand is a single token
    };
    for (const Case& c : cases) {
        const condition_result r = condition(c.text);
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(r.status, c.status) << c.text;
    }
    EXPECT_EQ(condition(std::string(250, ' ') + "1 eq 1").status, EXPR_OK);
    EXPECT_EQ(condition("1 eq 1" + std::string(250, ' ') + "x").status, EXPR_BAD_CONDITION);  // over 256 characters
}

TEST_F(ExpressionTest, SystemVariableLookupFailures) {
    result r = evaluate("nosuchvariable");
    EXPECT_EQ(r.status, EXPR_BAD_VARIABLE);
    EXPECT_EQ(r.messages, "Bad var - nosuchvariable\n");
    r = evaluate("tool");  // ambiguous abbreviation
    EXPECT_EQ(r.status, EXPR_BAD_VARIABLE);
    r = evaluate("feedrate[2]");
    EXPECT_EQ(r.status, EXPR_BAD_CONDITION);
    EXPECT_EQ(r.messages, "Can not index feedrate\n");
    // Abbreviations and upper case are accepted.
    feed_state.feedrate = 12.5;
    r = evaluate("FEED");
    EXPECT_EQ(r.status, EXPR_OK);
    EXPECT_DOUBLE_EQ(r.value, 12.5);
    EXPECT_EQ(r.type, VALUE_REAL);
    // The workplane mode is checked even when only checking.
    configuration_store.intsp[82] = 4000;
    r = evaluate("workplanea", 0);
    EXPECT_EQ(r.status, EXPR_BAD_VARIABLE);
    EXPECT_EQ(r.messages, "Error: Workplane(A|B|C) can not be used with \"workplane angles = machine tool\"\n");
    configuration_store.intsp[82] = 3000;
    r = evaluate("workplaneaz", 0);
    EXPECT_EQ(r.status, EXPR_BAD_VARIABLE);
    EXPECT_EQ(r.messages, "Error: Workplane(Az|El) can not be used with \"workplane angles = apparent\"\n");
}

TEST_F(ExpressionTest, CounterAdvancesOnEachRead) {
    derived_settings.counter = 5;
    configuration_store.intsp[62] = 2;
    result r = evaluate("counter + counter");
    EXPECT_DOUBLE_EQ(r.value, 12.0);
    EXPECT_EQ(derived_settings.counter, 9);
    r = evaluate("checkcounter");
    EXPECT_DOUBLE_EQ(r.value, 9.0);
    EXPECT_EQ(derived_settings.counter, 9);
    // Checking reads no value.
    evaluate("counter", 0);
    EXPECT_EQ(derived_settings.counter, 9);
}

TEST_F(ExpressionTest, WordValuesByNameAndIndex) {
    word_output_state.word_value[X_WORD] = 12345;
    word_output_state.word_value[1] = 77;
    word_output_state.word_text[2].set("T12");
    result r = evaluate("word{X}");
    EXPECT_EQ(r.status, EXPR_OK);
    EXPECT_DOUBLE_EQ(r.value, 12.345);
    r = evaluate("word[3] * 2");
    EXPECT_DOUBLE_EQ(r.value, 24.69);
    r = evaluate("word");  // no index: word 1's integer
    EXPECT_DOUBLE_EQ(r.value, 77.0);
    r = evaluate("wordstring[2] + \"-\" + wordstring[2]");
    EXPECT_EQ(r.text, "T12-T12");
}

TEST_F(ExpressionTest, ToolpathVariablesAndNil) {
    pass1_results.toolpath_count = 2;
    pass1_results.tool_count = 2;
    pass1_results.tool_first_toolpath[1] = 1;
    pass1_results.tool_first_toolpath[2] = 2;
    toolpath_tables.toolpath_tool_number[1] = 7;
    toolpath_tables.toolpath_tool_number[2] = 9;
    toolpath_tables.toolpath_index = 1;
    toolpath_tables.tool_index = 1;
    result r = evaluate("toolnumber[2]");
    EXPECT_DOUBLE_EQ(r.value, 9.0);
    EXPECT_EQ(r.type, VALUE_INTEGER);
    r = evaluate("toolnumber[3]");
    EXPECT_EQ(r.type, VALUE_NIL);
    EXPECT_EQ(r.status, EXPR_OK);
    r = evaluate("toolnumber");
    EXPECT_DOUBLE_EQ(r.value, 7.0);
    r = evaluate("nexttool");
    EXPECT_DOUBLE_EQ(r.value, 9.0);
    // As an index, nexttool names the first toolpath of the next tool.
    r = evaluate("toolnumber[nexttool]");
    EXPECT_DOUBLE_EQ(r.value, 9.0);
    r = evaluate("numbertoolpaths");
    EXPECT_DOUBLE_EQ(r.value, 2.0);
}

TEST_F(ExpressionTest, DateAndTimeTexts) {
    run_state.run_date_time.set("09 Jan 2026 14.05.33");
    EXPECT_EQ(evaluate("minutes").text, "05");
    EXPECT_EQ(evaluate("hours").text, "14");
    EXPECT_EQ(evaluate("seconds").text, "33");
    EXPECT_EQ(evaluate("day").text, "09");
    EXPECT_EQ(evaluate("month").text, "01");
    EXPECT_EQ(evaluate("year").text.size(), 2u);
}

TEST_F(ExpressionTest, SpecialRecordNotReceived) {
    const result r = evaluate("specialrecord[4321]");
    EXPECT_EQ(r.status, EXPR_BAD_VARIABLE);
    EXPECT_EQ(r.messages,
              "Error: problem with SpecialRecord, most likely this is caused by the record indexed not yet being "
              "output\n");
}

TEST_F(ExpressionTest, ErrorReportsStopUnlessContinuing) {
    struct Case {
        int status;
        const char* last_line;
    } cases[] = {
        {EXPR_NOT_OPERAND, "Error: expecting a numeric type or token\n"},
        {EXPR_DIVIDE_BY_ZERO, "Error: division by zero\n"},
        {EXPR_TYPE_MISMATCH, "Error: type mismatch\n"},
        {EXPR_BAD_OPERATOR, "Error: incorrect operator for type\n"},
        {EXPR_INCOMPLETE, "Error: incomplete expression\n"},
        {EXPR_BAD_CONDITION, ""},
    };
    const std::string head = "Error: invalid syntax in \"tape start\" block\nError: expression \"1 +\" is incorrect\n";
    for (const Case& c : cases) {
        int code = -1;
        testing::internal::CaptureStderr();
        try {
            report_expression_error(c.status, "1 +", "tape start  ");
        } catch (const run_stopped& s) {
            code = s.code;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), head + c.last_line) << c.status;
        EXPECT_EQ(code, 4);
    }
    command_switches.continue_after_error = 1;
    testing::internal::CaptureStderr();
    report_expression_error(EXPR_OK, "1", "tape start");
    report_expression_error(EXPR_INCOMPLETE, "1 +", "tape start");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), head + "Error: incomplete expression\n");
}

TEST(IntRemainder, TakesTheSignOfTheDividend) {
    EXPECT_EQ(int_remainder(7, 3), 1);
    EXPECT_EQ(int_remainder(-7, 3), -1);
    EXPECT_EQ(int_remainder(7, -3), 1);
}

TEST_F(ExpressionTest, ListSettingsAsTexts) {
    // Each list from its first row: "pcs origin" six values, the table centres
    // of the axis parameters three, the tool centres six.
    for (int i = 1; i <= 6; ++i) {
        avals(i, 1) = 1.0 + i;   // azimuth axis parameters
        avals(i, 2) = 10.0 + i;  // azimuth centre (rows 4..6 unused)
        avals(i, 3) = 20.0 + i;  // elevation axis parameters
        avals(i, 4) = 30.0 + i;  // elevation centre
        avals(i, 5) = 40.0 + i;  // pcs origin
    }
    for (int i = 4; i <= 6; ++i) avals(i, 2) = avals(i, 4) = 0.0;
    EXPECT_EQ(evaluate("pcs").text, " 41.00 42.00 43.00 44.00 45.00 46.00");
    EXPECT_EQ(evaluate("azimuth").text, "  2.00  3.00  4.00");
    EXPECT_EQ(evaluate("elevation").text, " 21.00 22.00 23.00");
    EXPECT_EQ(evaluate("toolcentre1").text, " 11.00 12.00 13.00  0.00  0.00  0.00");
    EXPECT_EQ(evaluate("toolcentre2").text, " 31.00 32.00 33.00  0.00  0.00  0.00");
}
