// The keyword and system-variable tables, the cycle names, and match_keyword
// over them and over a small table of another width.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "control/control.h"

using namespace kv;

namespace {

int keyword_index(const char* text) {
    for (int i = 1; i <= KEYWORD_ENTRIES; ++i)
        if (text_equals(keyword_table.keyword_text[i], text)) return i;
    return 0;
}

int variable_index(const char* name) {
    for (int i = 1; i <= VARIABLE_ENTRIES; ++i)
        if (text_equals(variable_table.variable_names[i], name)) return i;
    return 0;
}

}  // namespace

TEST(KeywordTable, SortedWithFillersAfter) {
    const keyword_table_t& t = keyword_table;
    for (int i = 1; i < KEYWORD_COUNT; ++i)
        EXPECT_LT(compare_texts(t.keyword_text[i], t.keyword_text[i + 1]), 0) << t.keyword_text[i].str();
    const std::string filler(KEYWORD_WIDTH, 'z');
    EXPECT_LT(compare_texts(t.keyword_text[KEYWORD_COUNT], filler), 0);
    for (int i = KEYWORD_COUNT + 1; i <= KEYWORD_ENTRIES; ++i) {
        EXPECT_EQ(std::string(t.keyword_text[i].view()), filler);
        EXPECT_EQ(t.keyword_kind[i], 0);
        EXPECT_EQ(t.keyword_code[i], KEYWORD_FILLER_CODE);
    }
    // Signed-byte order: a digit and ";" sort before the letters, a blank
    // before any other character ("spin coolant off" before "spindle").
    EXPECT_EQ(t.keyword_text[1].str(), "3rd rotation axis");
    EXPECT_EQ(t.keyword_text[2].str(), ";");
    EXPECT_EQ(t.keyword_text[KEYWORD_COUNT].str(), "zy plane");
    EXPECT_LT(keyword_index("spin coolant off"), keyword_index("spindle"));
    // A name with a trailing "_" is never a keyword because none holds one.
    for (int i = 1; i <= KEYWORD_COUNT; ++i) EXPECT_EQ(find_char(t.keyword_text[i], '_'), 0);
}

TEST(KeywordTable, CountsByKind) {
    std::map<int, int> counts;
    for (int i = 1; i <= KEYWORD_COUNT; ++i) ++counts[keyword_table.keyword_kind[i]];
    const std::map<int, int> want = {
        {0, 55},   {1, 36},   {2, 76},  {3, 2},    {4, 18},   {196, 41}, {260, 11},
        {68, 38},  {132, 5},  {388, 21}, {324, 1}, {20, 9},   {148, 2},  {212, 3},
        {276, 1},  {200, 2},  {264, 18}, {10, 24},  {11, 1},
    };
    EXPECT_EQ(counts, want);
}

TEST(KeywordTable, RowsByText) {
    struct Row { const char* text; int code; int kind; };
    const Row rows[] = {
        {"word order =", 12, KIND_STATEMENT},
        {"end define", 9, KIND_STATEMENT},
        {"feedrate", 16, KIND_KEY},
        {"msg", 99, KIND_KEY},
        {"compensation on right", 1100, KIND_CODE},
        {"feedrate per revolution", 1817, KIND_KEY_CODE},
        {"rapid feed code", 38, KIND_INTEGER},
        {"special zero", 38, KIND_INTEGER},
        {"block order", 9, KIND_LOGICAL},
        {"units", 39, KIND_ENUMERATED},
        {"minimum x value", 116, KIND_REAL},
        {"linear axis limits", 6006, KIND_REAL_LIST},
        {"input values 4", 15019, KIND_REAL_LIST},
        {"tr", 2005, KIND_CHARACTER_LIST},
        {"machine name", 2, KIND_CHARACTER},
        {"trailing zeros", 1013, KIND_WORD_LOGICAL},
        {"address letter", 0, KIND_WORD_CHARACTER},
        {"sign", 6, KIND_WORD_ENUMERATED},
        {"true", 1, KIND_LOGICAL_VALUE},
        {"apparent", 3000, KIND_ENUMERATED_VALUE},
        {"special record", 24, KIND_BLOCK},
        {"retract distance", 0, KIND_OBSOLETE},
    };
    for (const Row& r : rows) {
        const int i = keyword_index(r.text);
        ASSERT_GT(i, 0) << r.text;
        EXPECT_EQ(keyword_table.keyword_code[i], r.code) << r.text;
        EXPECT_EQ(keyword_table.keyword_kind[i], r.kind) << r.text;
    }
    // Kind = class + 16 scope + 64 value type.
    EXPECT_EQ(keyword_class(KIND_WORD_LOGICAL), KEYWORD_CLASS_SETTING);
    EXPECT_EQ(keyword_scope(KIND_WORD_LOGICAL), KEYWORD_SCOPE_WORD);
    EXPECT_EQ(keyword_value_type(KIND_WORD_LOGICAL), KEYWORD_TYPE_LOGICAL);
    EXPECT_EQ(keyword_class(KIND_ENUMERATED_VALUE), KEYWORD_CLASS_VALUE);
    EXPECT_EQ(keyword_value_type(KIND_REAL_LIST), KEYWORD_TYPE_REAL_LIST);
    EXPECT_EQ(keyword_scope(KIND_REAL_LIST), KEYWORD_SCOPE_GLOBAL);
}

TEST(KeywordTable, FindByKindAndCode) {
    auto name = [](int kind, int code) {
        const int i = find_keyword(kind, code);
        return i > 0 ? keyword_table.keyword_text[i].str() : std::string("-");
    };
    EXPECT_EQ(name(KIND_KEY, 16), "feedrate");
    EXPECT_EQ(name(KIND_INTEGER, 38), "rapid feed code");  // first of two in table order
    EXPECT_EQ(name(KIND_BLOCK, 1), "tape start");
    EXPECT_EQ(name(KIND_CODE, 3100), "macro start");       // "thread" shares the slot
    EXPECT_EQ(name(KIND_STATEMENT, KEYWORD_FILLER_CODE), "-");  // fillers name nothing
    EXPECT_EQ(name(KIND_KEY, 80), "-");
}

TEST(VariableTable, SortedRowsAndCycleNames) {
    const variable_table_t& t = variable_table;
    for (int i = 1; i < VARIABLE_COUNT; ++i)
        EXPECT_LT(compare_texts(t.variable_names[i], t.variable_names[i + 1]), 0) << t.variable_names[i].str();
    for (int i = VARIABLE_COUNT + 1; i <= VARIABLE_ENTRIES; ++i) {
        EXPECT_EQ(std::string(t.variable_names[i].view()), std::string(VARIABLE_WIDTH, 'z'));
        EXPECT_EQ(t.variable_id[i], 0);
        EXPECT_EQ(t.variable_indexable[i], 0);
        EXPECT_EQ(t.variable_type[i], -1);
    }
    struct Row { const char* name; int index; int id; int indexable; int type; };
    const Row rows[] = {
        {"%", 1, 103, 0, 4},
        {"/", 5, 40, 0, 4},
        {"compensationtoollength", 0, 176, 1, 4},
        {"safez", 0, 32, 1, 4},
        {"safz", 0, 32, 1, 4},
        {"gotcontactnormals", 0, 199, 0, 5},
        {"toolpathworkplanename", 0, 186, 1, 2},
        {"kvversion", 0, 137, 0, 1},
        {"zmove", VARIABLE_COUNT, 45, 0, 4},
    };
    for (const Row& r : rows) {
        const int i = variable_index(r.name);
        ASSERT_GT(i, 0) << r.name;
        if (r.index > 0) {
            EXPECT_EQ(i, r.index) << r.name;
        }
        EXPECT_EQ(t.variable_id[i], r.id) << r.name;
        EXPECT_EQ(t.variable_indexable[i], r.indexable) << r.name;
        EXPECT_EQ(t.variable_type[i], r.type) << r.name;
    }
    const char* cycles[] = {"drill", "brkch", "deep", "tap", "bore1", "bore2", "bore3", "bore4", "bore5"};
    for (int c = 1; c <= CYCLE_TYPES; ++c) EXPECT_EQ(cycle_names[c].str(), cycles[c - 1]);
}

namespace {

struct MatchCase {
    const char* text;
    int status;
    const char* found;  // the entry at the result index; "" for result 0
    const char* after;  // the text field afterwards
};

// Runs each case through match_keyword with a field of 128 characters.
void check_matches(std::string_view table, int width, int count, std::span<const MatchCase> cases) {
    for (const MatchCase& c : cases) {
        text<128> field(c.text);
        int status = -1;
        const int i = match_keyword(field, table, width, count, status);
        EXPECT_EQ(status, c.status) << '"' << c.text << '"';
        const std::string found =
            i > 0 ? trimmed_copy(table.substr(static_cast<std::size_t>((i - 1) * width), static_cast<std::size_t>(width)))
                  : std::string();
        EXPECT_EQ(found, c.found) << '"' << c.text << '"';
        EXPECT_EQ(field.str(), c.after) << '"' << c.text << '"';
    }
}

}  // namespace

TEST(MatchKeyword, KeywordTable) {
    const std::string zz(KEYWORD_WIDTH, 'z');
    const MatchCase cases[] = {
        // exact matches; 4 when a longer keyword follows
        {"word order =", MATCH_FOUND, "word order =", "word order ="},
        {"retract distance", MATCH_FOUND, "retract distance", "retract distance"},
        {"spindle", MATCH_FOUND_MAY_EXTEND, "spindle", "spindle"},
        {"coolant on", MATCH_FOUND_MAY_EXTEND, "coolant on", "coolant on"},
        {"tap", MATCH_FOUND_MAY_EXTEND, "tap", "tap"},
        {"spindle   ", MATCH_FOUND_MAY_EXTEND, "spindle", "spindle"},
        // completed to the end of the first keyword's word that the text began
        {"not", MATCH_WORD_COMPLETED, "", "not"},  // field now "not " (blank-padded)
        {"coolant", MATCH_WORD_COMPLETED, "", "coolant"},
        {"spi", MATCH_WORD_COMPLETED, "", "spin"},
        {"word o", MATCH_WORD_COMPLETED, "", "word order"},
        {"minimum x", MATCH_WORD_COMPLETED, "", "minimum x"},
        {"x", MATCH_WORD_COMPLETED, "", "x"},
        // a one-word keyword before keywords that continue its word
        {"spind", MATCH_FOUND_MAY_EXTEND, "spindle", "spindle"},
        {"feed", MATCH_FOUND_MAY_EXTEND, "feedrate", "feedrate"},
        {"spindle o", MATCH_FOUND_MAY_EXTEND, "spindle off", "spindle off"},
        {"coolant o", MATCH_FOUND_MAY_EXTEND, "coolant off", "coolant off"},
        // unique abbreviations keep the text as written
        {"retract d", MATCH_FOUND, "retract distance", "retract d"},
        {"blockn", MATCH_FOUND, "blocknumber", "blockn"},
        {"trail", MATCH_WORD_COMPLETED, "", "trailing"},
        {"3", MATCH_WORD_COMPLETED, "", "3rd"},
        // ambiguous
        {"al", MATCH_AMBIGUOUS, "", "al"},
        {"inc", MATCH_AMBIGUOUS, "", "inc"},
        // nothing
        {"Spindle", MATCH_NONE, "", "Spindle"},
        {"spindle_", MATCH_NONE, "", "spindle_"},
        {"end_", MATCH_NONE, "", "end_"},
        {"{", MATCH_NONE, "", "{"},          // sorts after every entry
        {"~abc", MATCH_NONE, "", "~abc"},
        {"zz", MATCH_NONE, "", "zz"},        // fillers are never matched
        {zz.c_str(), MATCH_NONE, "", zz.c_str()},
        {"", MATCH_NONE, "", ""},
        {"multiaxis coordinate transform xx", MATCH_NONE, "", "multiaxis coordinate transform xx"},
    };
    check_matches(keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, cases);

    // The completion keeps its trailing blank: the lexer appends the next word after it.
    text<128> field("not");
    int status = -1;
    EXPECT_EQ(match_keyword(field, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, status), 0);
    EXPECT_EQ(std::string(field.view().substr(0, 4)), "not ");
    // A word completed in a field too short for it is cut, never overrun.
    text<3> small("spi");
    EXPECT_EQ(match_keyword(small, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, status), 0);
    EXPECT_EQ(status, MATCH_WORD_COMPLETED);
    EXPECT_EQ(std::string(small.view()), "spi");
}

TEST(MatchKeyword, VariableTable) {
    const MatchCase cases[] = {
        {"feed", MATCH_FOUND, "feedrate", "feed"},
        {"tool", MATCH_AMBIGUOUS, "", "tool"},
        {"safe", MATCH_FOUND, "safez", "safe"},
        {"saf", MATCH_AMBIGUOUS, "", "saf"},
        {"safz", MATCH_FOUND, "safz", "safz"},
        {"%", MATCH_FOUND, "%", "%"},
        {"swa", MATCH_FOUND, "swa", "swa"},
        {"sw", MATCH_AMBIGUOUS, "", "sw"},
        {"z", MATCH_AMBIGUOUS, "", "z"},
        {"zm", MATCH_FOUND, "zmove", "zm"},
        {"zzz", MATCH_NONE, "", "zzz"},
        {"toolpathworkplanename", MATCH_FOUND, "toolpathworkplanename", "toolpathworkplanename"},
        {"Feedrate", MATCH_NONE, "", "Feedrate"},
    };
    check_matches(variable_texts(), VARIABLE_WIDTH, VARIABLE_ENTRIES, cases);
}

TEST(MatchKeyword, SmallTableWithoutFillers) {
    // Eighteen entries of twenty characters, as a startup-file vocabulary.
    const char* words[] = {"=", "ascii", "binary", "cldata", "dot", "extension", "file", "format", "machine",
                           "message", "native", "none", "off", "on", "path", "print", "setup", "tape"};
    std::string table;
    for (const char* w : words) {
        text<20> t(w);
        table.append(t.view());
    }
    const MatchCase cases[] = {
        {"ext", MATCH_FOUND, "extension", "ext"},
        {"of", MATCH_FOUND, "off", "of"},
        {"on", MATCH_FOUND, "on", "on"},
        {"o", MATCH_AMBIGUOUS, "", "o"},
        {"m", MATCH_AMBIGUOUS, "", "m"},
        {"=", MATCH_FOUND, "=", "="},
        {"tape", MATCH_FOUND, "tape", "tape"},
        {"zebra", MATCH_NONE, "", "zebra"},  // past the last entry
        {"a", MATCH_FOUND, "ascii", "a"},
    };
    check_matches(table, 20, 18, cases);
}
