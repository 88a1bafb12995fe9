// The option-file parser's state table: its count, its order and a few rows,
// and the filled table that the parser looks entries up in.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "control/control.h"

using namespace kv;

namespace {

int entry_of(int action, int y, int z) { return action * 1000000 + y * 1000 + z; }

}  // namespace

TEST(ParserTable, CountAndOrder) {
    const auto rows = parse_table_rows();
    // 256 transitions and 42 non-zero recovery counts: the listing fixes
    // every entry. A state whose recovery count is 0 leaves column 70 empty;
    // an explicit 0 there would read the same, since no symbol 70 is ever
    // read, so the table holds no such entries.
    ASSERT_EQ(rows.size(), 298u);
    int recoveries = 0;
    std::set<std::pair<int, int>> seen;
    std::set<int> states;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const parse_table_row& r = rows[i];
        if (i > 0) {
            EXPECT_LE(rows[i - 1].state, r.state) << i;
        }
        EXPECT_TRUE(seen.insert({r.state, r.symbol}).second) << r.state << " " << r.symbol;
        EXPECT_GE(r.symbol, 0);
        EXPECT_LT(r.symbol, PARSE_SYMBOLS);
        EXPECT_TRUE(r.action == PARSE_SHIFT || r.action == PARSE_REDUCE || r.action == PARSE_REDUCE_KEEP ||
                    r.action == PARSE_GOTO);
        if (r.symbol == PARSE_RECOVERY_COLUMN) ++recoveries;
        states.insert(r.state);
    }
    EXPECT_EQ(recoveries, 42);
    EXPECT_EQ(states.size(), 54u);  // states 1..55, 41 empty
    EXPECT_EQ(*states.begin(), 1);
    EXPECT_EQ(*states.rbegin(), 55);
    EXPECT_EQ(states.count(41), 0u);
}

TEST(ParserTable, Rows) {
    const auto rows = parse_table_rows();
    const parse_table_row& first = rows[0];
    EXPECT_EQ(first.state, 1);
    EXPECT_EQ(first.symbol, 1);          // N1
    EXPECT_EQ(first.z, PARSE_ACCEPT_STATE);
    const parse_table_row& last = rows[rows.size() - 1];
    EXPECT_EQ(last.state, 55);           // "call block" name: WORD R57/0
    EXPECT_EQ(last.symbol, SYM_WORD);
    EXPECT_EQ(last.action, PARSE_REDUCE);
    EXPECT_EQ(last.y, 57);
    EXPECT_EQ(last.z, 0);
}

TEST(ParserTable, FilledTable) {
    init_option_parse_table();
    const auto& t = option_parser.parse_table;
    struct Case {
        int state, symbol, entry;
    };
    const Case cases[] = {
        {1, SYM_KEYWORD_BASE + 7, entry_of(PARSE_SHIFT, 0, 4)},         // "machine" S4
        {2, SYM_KEYWORD_BASE + 8, entry_of(PARSE_REDUCE_KEEP, 3, 0)},   // "end" R3/0 keep
        {2, SYM_EOL, entry_of(PARSE_GOTO, 0, 2)},                      // EOL G2
        {12, SYM_VALUE, entry_of(PARSE_REDUCE, 27, 2)},                 // VALUE R27/2
        {12, PARSE_RECOVERY_COLUMN, 2},
        {29, PARSE_RECOVERY_COLUMN, 4},
        {39, SYM_KEYWORD_BASE + 0, entry_of(PARSE_REDUCE_KEEP, 48, 1)}, // ";" R48/1 keep
        {48, SYM_REAL, entry_of(PARSE_REDUCE, 47, 2)},                  // REAL R47/2
        {1, SYM_EOL, PARSE_ERROR},                                      // state 1 takes no end of line
        // Recovery count 0: the column stays empty, whose last digits read 0.
        {1, PARSE_RECOVERY_COLUMN, PARSE_ERROR},
        {18, PARSE_RECOVERY_COLUMN, PARSE_ERROR},
        {36, PARSE_RECOVERY_COLUMN, PARSE_ERROR},
        {41, SYM_WORD, PARSE_ERROR},
        {PARSE_STATES, SYM_WORD, PARSE_ERROR},
    };
    for (const Case& c : cases) EXPECT_EQ(t[c.state][static_cast<std::size_t>(c.symbol)], c.entry) << c.state;
    int listed = 0;
    for (int s = 1; s <= PARSE_STATES; ++s)
        for (int v : t[s]) listed += v != PARSE_ERROR;
    EXPECT_EQ(listed, 298);
}
