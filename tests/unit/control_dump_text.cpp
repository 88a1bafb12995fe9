// The option-file text of a control: item texts, assignment columns, format
// groups, and the round trip of a written text through the compiler.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "store_printer.h"

using namespace kv;
using namespace kv_test;

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string e2e(const std::string& rest) { return std::string(KELVARON_TEST_DATA) + "/e2e/" + rest; }

std::string text_of_control() {
    job_files.file_names[FILE_MACHINE].set("standard");
    testing::internal::CaptureStdout();
    write_option_file_text(TEXT_DUMP_WORDS);
    return testing::internal::GetCapturedStdout();
}

// The store without what a text cannot carry: the control name after
// "machine", and the real that the compiler leaves on items that have none.
std::string comparable_entries() {
    std::istringstream in(nondefault_entries());
    std::ostringstream out;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("gpnams(0)", 0) == 0) continue;
        if (line.rfind("item(", 0) == 0) {
            // code value string_ref real ["string"]: drop the real.
            std::istringstream f(line);
            std::string head, code, value, ref, real, rest;
            f >> head >> code >> value >> ref >> real;
            std::getline(f, rest);
            line = head + " " + code + " " + value + " " + ref + rest;
        }
        out << line << "\n";
    }
    return out.str();
}

std::string item_of(int code, int value, int string_ref, const char* string = nullptr, double real = 0.0) {
    reset_store();
    configuration_store.NGPS = 2;
    configuration_store.gpnams[1].set("X");
    configuration_store.gpnams[2].set("fee");  // the start of the keyword "feedrate"
    configuration_store.block_items[1][1] = block_item_t{code, value, string_ref};
    configuration_store.block_reals[1][1] = real;
    if (string != nullptr) configuration_store.block_texts[1][string_ref / 10].set(string);
    int open = 0;
    char out[ITEM_TEXT_LENGTH];
    const int n = item_text(1, 1, open, out);
    return std::string(out, static_cast<std::size_t>(n));
}

}  // namespace

// Every item reads back as the same code, value and string: "next", "=",
// "=A", "=C" and function codes with "=C" keep their own forms, texts are
// escaped, and expressions with blanks are parenthesised.
TEST(ItemText, EachItemKindReadsBackAsItself) {
    struct row {
        int code, value, ref;
        const char* string;
        const char* expected;
    };
    const row rows[] = {
        {LITERAL_ITEM, 0, 10, "say \"hi\"", "\"say \\\"hi\\\"\""},
        {IF_ITEM, 0, 10, "tool > 1", "if (tool > 1)"},
        {ELSE_IF_ITEM, 0, 10, "flag", "else if (flag)"},
        {ELSE_ITEM, 0, 0, nullptr, "else"},
        {END_IF_ITEM, 0, 0, nullptr, "end if"},
        {WORD_ITEM_BASE + MOD_VALUE * 1000 + 1, 5, 0, nullptr, "X   5"},
        {WORD_ITEM_BASE + MOD_VALUE * 1000 + 1, 12345, 0, nullptr, "X  12345"},
        {WORD_ITEM_BASE + MOD_NEXT * 1000 + 1, 0, 0, nullptr, "X next"},
        {WORD_ITEM_BASE + MOD_CURRENT * 1000 + 1, 0, 0, nullptr, "X ="},
        {WORD_ITEM_BASE + MOD_TABLE * 1000 + 1, 0, 0, nullptr, "X =A"},
        {WORD_ITEM_BASE + MOD_FORGET * 1000 + 1, 0, 0, nullptr, "X =C"},
        {WORD_ITEM_BASE + MOD_CANCEL * 1000 + 1, 0, 0, nullptr, "X =P"},
        {WORD_ITEM_BASE + MOD_VALUE_FORGET * 1000 + 1, 7, 0, nullptr, "X   7 =C"},
        {WORD_ITEM_BASE + MOD_ALONE * 1000 + 2, 0, 0, nullptr, "fee_"},
        {WORD_EXPR_ITEM + 1, 0, 10, "X + 2", "X (X + 2)"},
        {WORD_EXPR_ITEM + 1, 0, 10, "qq", "X qq"},
        // A ")" inside a quoted part does not end the parentheses.
        {WORD_EXPR_ITEM + 1, 0, 10, "\"JOB \" + jobname + \")\"", "X (\"JOB \" + jobname + \")\")"},
        {WORD_EXPR_ITEM + 1, 0, 10, "next", "X (next)"},
        {WORD_EXPR_ITEM + 1, 0, 10, "\"a) b", "X (\"a) b"},
        {IF_ITEM, 0, 10, "a eq \")\"", "if (a eq \")\")"},
        {IF_ITEM, 0, 10, "a) b", "if \"a) b\""},
        {SET_ITEM, 0, 10, "feedr", "set (feedr)"},
        {SET_ITEM, 0, 10, "feedrate", "set feedrate"},
        {WORD_TEXT_ITEM + 1, 0, 10, "T1", "X \"T1\""},
        {14, 90, 0, nullptr, "absolute data"},
        {-(CODE_FORGET_ITEM + 1), 0, 0, nullptr, "rapid =C"},
        {MOD_ALONE * 1000 + 16, 0, 0, nullptr, "feedrate"},
        {REPEAT_ITEM, 0, 10, "n + 1", "repeat (n + 1)"},
        {END_REPEAT_ITEM, 0, 10, " ", "end repeat"},
        {SET_ITEM, 0, 10, "flag", "set flag"},
        {CALL_BLOCK_ITEM, 0, 10, "helper", "call block helper"},
    };
    for (const row& r : rows) EXPECT_EQ(item_of(r.code, r.value, r.ref, r.string), r.expected) << r.code;
    EXPECT_EQ(item_of(EDIT_ITEM, 2, 10, "counter", 2.5), "edit counter 2.5");
    EXPECT_EQ(item_of(EDIT_ITEM, 123456789, 10, "inta", 123456789.0), "edit inta 123456789");
    EXPECT_EQ(item_of(EDIT_ITEM, 0, 10, "rna", 0.0001), "edit rna 0.0001");
    // ";" lands at column ((t + 1) / 5 + 1) * 5, moved right past column 5.
    EXPECT_EQ(item_of(WORD_ITEM_BASE + MOD_ALONE * 1000 + 1, 0, 1), "X   ;");
    EXPECT_EQ(item_of(WORD_ITEM_BASE + MOD_VALUE * 1000 + 1, 5, 1), "X   5     ;");
}

TEST(ItemText, OpenCountFollowsIfAndRepeat) {
    int open = 0;
    char out[ITEM_TEXT_LENGTH];
    item_of(IF_ITEM, 0, 10, "a");
    item_text(1, 1, open, out);
    EXPECT_EQ(open, 1);
    configuration_store.block_items[1][1] = block_item_t{END_IF_ITEM, 0, 0};
    item_text(1, 1, open, out);
    item_text(1, 1, open, out);  // a stray "end if" does not go below 0
    EXPECT_EQ(open, 0);
    EXPECT_EQ(indent_item_line(1, 11, 0), 1);
    EXPECT_EQ(indent_item_line(1, 21, 0), 0);
    EXPECT_EQ(indent_item_line(2, 11, 0), 2);
    EXPECT_EQ(indent_item_line(1, 24, 1), 1);
}

// A line ended because the next item no longer fits is shifted by that
// item's class and the open count; an "end if" adds its blank there too, so
// the items inside the "if" stand one column in.
TEST(BlockLines, EndIfThatNoLongerFitsShiftsTheLineBeforeIt) {
    item_of(IF_ITEM, 0, 10, "a");  // block 1, item 1: "if (a)"
    configuration_store.blklen[1] = 14;
    for (int i = 2; i <= 13; ++i)
        configuration_store.block_items[1][i] = block_item_t{WORD_ITEM_BASE + MOD_ALONE * 1000 + 1, 0, 1};
    configuration_store.block_items[1][14] = block_item_t{END_IF_ITEM, 0, 0};
    const std::string text = text_of_control();
    std::string xs = "     X   ;";
    for (int i = 2; i <= 12; ++i) xs += " X   ;";
    const std::string expected = "  define block tape start\n    if (a)\n" + xs + "\n    end if\n  end define\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(FormatAssignment, ColumnsFollowTheKeywordField) {
    char line[200];
    format_assignment("sign", SETTING_NAME_WIDTH, "none", line);
    const std::string s = trimmed_copy(std::string_view(line, sizeof line));
    EXPECT_EQ(s.find('='), 82u);                  // column 83
    EXPECT_EQ(s.substr(84), "none");              // from column 85
    format_assignment("decimal point", FLAG_NAME_WIDTH, "true", line);
    EXPECT_EQ(std::string(line, 40).find('='), 34u);
    format_assignment("x", 3, "1", line);          // at least 25
    EXPECT_EQ(std::string(line, 40).find('='), 27u);
}

// A word that differs only in its current-unit columns joins the group; one
// with another scale divisor does not, since the definition writes it.
TEST(FormatGroups, CompareWhatTheDefinitionWrites) {
    reset_store();
    configuration_store.NGPS = 3;
    configuration_store.word_formats[2][IZSUP_CURRENT] = 3;
    configuration_store.word_formats[2][WRDPRN] = 4;
    configuration_store.word_formats[3][SCALE_DIVISOR] = 10;
    EXPECT_EQ(same_word_format(1, 2), 1);
    EXPECT_EQ(same_word_format(1, 3), 0);
    array1<int, MAXWORDS> group;
    array1<int, MAXWORDS> taken;
    EXPECT_EQ(format_group_words(1, group, taken), 2);
    EXPECT_EQ(group[2], 2);
    EXPECT_EQ(list_length(7), 6);   // rotary axis limits
    EXPECT_EQ(list_length(29), 0);  // no keyword
}

// A compiled control, written as text and compiled again onto the same
// defaults, is the same store.
TEST(TextRoundTrip, CompiledControlComesBackUnchanged) {
    const std::string source = read_file(e2e("dump_text_option_file/in/rich.opt"));
    // "machine standard" names no words here: the text is compiled onto the
    // defaults alone, with words of its own.
    const std::string words =
        "machine m\ndefine table\nX \"X\" - 4 . 3 modal\nY \"Y\" - 4 . 3\nG1 \"G\" 2\nM1 \"M\" 2\nN \"N\" 4\n"
        "F \"F\" 5 . 1\nT \"T\" 2\nS \"S\" 5\nZ \"Z\" 0 4 . 0 3 inch 3 . 4\nEOB \"*\" 1\nM2 \"M\" 2\n"
        "G5 \"G\" 2\nend define\n";
    const std::string body = source.substr(source.find('\n') + 1);
    ASSERT_EQ(compile(words + body).exit_code, -1);
    const std::string before = comparable_entries();
    const std::string written = text_of_control();
    const compile_result again = compile(written);
    ASSERT_EQ(again.exit_code, -1) << again.messages;
    EXPECT_EQ(again.messages, "");
    EXPECT_EQ(comparable_entries(), before) << written;
}

// The round-trip cases compile the "-w" text of the cases beside them; the
// text they hold must be that text, and the difference dump they give must
// be the original's. The one line allowed to differ: "-f" presets the
// machine name before loading, and a text written by a "-w" run names the
// machine name that such a run has.
TEST(TextRoundTrip, CaseFilesMatchTheTextsAndTheirDifferences) {
    auto without_machine_name = [](std::string s) {
        const std::string line = "      spchar(  2) = 'Version 1.200'\n";
        const std::size_t at = s.find(line);
        if (at != std::string::npos) s.erase(at, line.size());
        return s;
    };
    struct pair {
        const char* text_case;
        const char* differences_case;
        const char* round_trip_case;
    };
    const pair pairs[] = {
        {"dump_text_standard", "dump_difference_standard", "dump_text_roundtrip_standard"},
        {nullptr, "dump_difference_fanuc", "dump_text_roundtrip_fanuc"},
        {"dump_text_option_file", "dump_text_option_file_differences", "dump_text_roundtrip_option_file"},
    };
    for (const pair& p : pairs) {
        const std::string rt = p.round_trip_case;
        if (p.text_case != nullptr) {
            EXPECT_EQ(read_file(e2e(rt + "/in/ctl.opt")), read_file(e2e(std::string(p.text_case) + "/expected/stdout")))
                << rt;
        }
        EXPECT_EQ(read_file(e2e(rt + "/expected/stdout")),
                  without_machine_name(read_file(e2e(std::string(p.differences_case) + "/expected/stdout"))))
            << rt;
    }
}
