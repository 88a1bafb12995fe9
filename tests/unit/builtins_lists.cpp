// Built-in setting lists: their size, the reader of the assignment notation,
// what the standard and fanuc lists leave in the store, and the lookup by name.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "builtins/builtins.h"
#include "control/control.h"

using namespace kv;

namespace {

// A store as a built-in list finds it: static values, the configuration
// defaults, then the default words.
class BuiltinLists : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::unique_ptr<configuration_store_t> pristine = std::make_unique<configuration_store_t>();
        configuration_store = *pristine;
        set_configuration_defaults();
        set_default_words();
        init_control_names();
    }
    static const configuration_store_t& cs() { return configuration_store; }
    static const block_item_t& item(int b, int i) { return configuration_store.block_items[b][i]; }
};

}  // namespace

TEST(BuiltinListData, AssignmentCounts) {
    EXPECT_EQ(standard_setting_list().size(), 116u);
    EXPECT_EQ(fanuc_setting_list().size(), 533u);

    // Order: the word order, then block by block; fanuc grouped by table.
    const auto standard = standard_setting_list();
    EXPECT_STREQ(standard[0], "wrdrut(37) = 37");
    EXPECT_STREQ(standard[4], "blklen(1) = 3");
    EXPECT_STREQ(standard[115], "blmcye(2,2) = 80");
    const auto fanuc = fanuc_setting_list();
    EXPECT_STREQ(fanuc[0], "NGPS = 42");
    EXPECT_STREQ(fanuc[213], "spchar(2) = 'Fanuc6m          version 1.2'");
    EXPECT_STREQ(fanuc[214], "blklen(1) = 17");
    EXPECT_STREQ(fanuc[532], "blmcye(2,2) = 80");
}

TEST_F(BuiltinLists, StandardSetsOnlyWordOrderAndBlocks) {
    // Words, keys, codes and settings stay those of the default words.
    const auto before = std::make_unique<configuration_store_t>(cs());
    ASSERT_EQ(apply_setting_list(standard_setting_list()), 0);
    EXPECT_EQ(cs().NGPS, 39);
    for (int w = 1; w <= MAXWORDS; ++w) {
        EXPECT_EQ(cs().gpnams[w].view(), before->gpnams[w].view()) << w;
        EXPECT_EQ(cs().wrdch[w].view(), before->wrdch[w].view()) << w;
        EXPECT_EQ(cs().wperm[w], before->wperm[w]) << w;
        for (int c = 1; c <= NFORMAT; ++c) EXPECT_EQ(cs().word_formats[w][c], before->word_formats[w][c]) << w;
        if (w < 37 || w > 40) {
            EXPECT_EQ(cs().wrdrut[w], before->wrdrut[w]) << w;
        }
    }
    for (int k = 1; k <= NUMKEYS; ++k) EXPECT_EQ(cs().key[k], before->key[k]) << k;
    for (int n = 0; n <= NUMCODES; ++n) {
        EXPECT_EQ(cs().icodes[1][n], before->icodes[1][n]) << n;
        EXPECT_EQ(cs().icodes[2][n], before->icodes[2][n]) << n;
    }
    for (int n = 1; n <= NUMINTSP; ++n) EXPECT_EQ(cs().intsp[n], before->intsp[n]) << n;
    for (int n = 1; n <= NUMREALS; ++n) EXPECT_EQ(cs().real_options[n], before->real_options[n]) << n;
    for (int n = 1; n <= NUMSPCHAR; ++n) EXPECT_EQ(cs().spchar[n].view(), before->spchar[n].view()) << n;

    EXPECT_EQ(cs().wrdrut[37], 37);
    EXPECT_EQ(cs().wrdrut[38], MSG_ROLE);
    EXPECT_EQ(cs().wrdrut[40], 39);
    EXPECT_EQ(cs().wrdrut[41], ORDER_END);

    // "tape start" writes "%" first, then the absolute-data code on its own line.
    EXPECT_EQ(cs().blklen[1], 3);
    EXPECT_EQ(item(1, 1).code, LITERAL_ITEM);
    EXPECT_EQ(item(1, 1).string_ref, 10);
    EXPECT_EQ(cs().block_texts[1][1].str(), "%");
    EXPECT_EQ(item(1, 3).code, 14);
    EXPECT_EQ(item(1, 3).value, 90);
    EXPECT_EQ(item(1, 3).string_ref, 0);
    EXPECT_EQ(cs().blklen[10], 12);
    EXPECT_EQ(cs().blklen[11], 0);
    // The last item of "cycle start" continues its output line.
    EXPECT_EQ(cs().blklen[18], 3);
    EXPECT_EQ(item(18, 3).code, 16026);
    EXPECT_EQ(item(18, 3).string_ref, 1);
    EXPECT_EQ(item(19, 2).value, 80);
}

TEST_F(BuiltinLists, FanucValuesByTableAndIndex) {
    ASSERT_EQ(apply_setting_list(fanuc_setting_list()), 0);

    EXPECT_EQ(cs().NGPS, 42);
    EXPECT_EQ(cs().gpnams[41].str(), "Q1");
    EXPECT_EQ(cs().gpnams[42].str(), "null");
    EXPECT_EQ(cs().wrdch[9].str(), "G");
    EXPECT_EQ(word_format(2, WRDLEN), 4);
    EXPECT_EQ(cs().wperm[2], 1);
    EXPECT_EQ(word_format(8, WRDMOD), 0);   // modal among the default words
    EXPECT_EQ(word_format(10, WRDLEN), 8);  // left as the default words have it
    EXPECT_EQ(cs().gpnams[10].str(), "X");
    EXPECT_EQ(cs().key[8], 10);
    EXPECT_EQ(word_format(14, WRDFAC), -1);
    EXPECT_EQ(word_format(26, IZSUPM), 2);
    EXPECT_EQ(word_format(41, WRDMET), 3);
    EXPECT_EQ(word_format(42, WRDCHL), 0);
    EXPECT_EQ(word_format(41, WRDCHL), 1);  // a cell the list leaves empty keeps its default

    EXPECT_EQ(cs().wrdrut[1], 39);
    EXPECT_EQ(cs().wrdrut[26], MSG_ROLE);
    EXPECT_EQ(cs().wrdrut[33], 26);
    EXPECT_EQ(cs().wrdrut[39], ORDER_END);
    EXPECT_EQ(cs().key[22], 10);
    EXPECT_EQ(cs().key[38], 42);
    EXPECT_EQ(cs().key[34], NO_WORD);

    EXPECT_EQ(cs().icodes[1][21], 6);
    EXPECT_EQ(cs().icodes[2][21], 81);
    EXPECT_EQ(cs().icodes[2][29], 89);
    EXPECT_EQ(cs().icodes[1][19], 42);
    EXPECT_EQ(cs().icodes[2][19], UNSET_CODE);
    EXPECT_EQ(cs().icodes[2][41], 0);

    EXPECT_EQ(cs().intsp[39], 50);
    EXPECT_EQ(cs().intsp[63], -999);
    EXPECT_EQ(spval(1), 9999.0);
    EXPECT_EQ(avals(1, 8), 2.0);
    EXPECT_EQ(avals(4, 9), 0.0);
    EXPECT_EQ(avals(4, 11), 2.0);
    EXPECT_EQ(cs().spchar[2].str(), "Fanuc6m          version 1.2");
    EXPECT_EQ(cs().spchar[1].str(), "Quilor Postprocessor");

    // "tool change": 21 items; item 16 is the expression "ToolNumber" of word
    // 28, string 1, continued on the same line.
    EXPECT_EQ(cs().blklen[5], 21);
    EXPECT_EQ(item(5, 16).code, 99915028);
    EXPECT_EQ(item(5, 16).string_ref, 11);
    EXPECT_EQ(cs().block_texts[5][1].str(), "ToolNumber");
    EXPECT_EQ(item(5, 17).code, 49);
    EXPECT_EQ(item(5, 17).value, 6);
    EXPECT_EQ(item(5, 17).string_ref, 0);
    EXPECT_EQ(cs().block_texts[1][3].str(), "FromZ");
    EXPECT_EQ(cs().blklen[16], 2);
    EXPECT_EQ(cs().blklen[7], 0);
    EXPECT_EQ(item(18, 14).string_ref, 1);
    EXPECT_EQ(item(18, 15).code, 0);

    // No later line of the list overrides an earlier one with another value.
    setting_assignment a;
    for (const char* line : fanuc_setting_list()) {
        ASSERT_EQ(read_assignment(line, a), 0) << line;
        EXPECT_EQ(assignment_holds(a), 1) << line;
    }
}

TEST_F(BuiltinLists, SharedNamesSelectOneList) {
    const struct {
        const char* name;
        const char* list;
    } shared[] = {
        {"fanuc6m", "fanuc"}, {"fanucom", "fanuc"}, {"", "standard"}, {"   ", "standard"},
    };
    for (const auto& s : shared) {
        EXPECT_FALSE(find_setting_list(s.list).empty()) << s.list;
        EXPECT_EQ(find_setting_list(s.name).data(), find_setting_list(s.list).data()) << s.name;
    }
    EXPECT_EQ(find_setting_list("fanuc").data(), fanuc_setting_list().data());
    EXPECT_EQ(find_setting_list("standard").data(), standard_setting_list().data());

    // The driver passes its 40-character field: trailing blanks do not count.
    text<40> field("fanucom");
    int status = -1;
    load_builtin_control(field, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cs().NGPS, 42);
}

TEST_F(BuiltinLists, RefusedNamesAssignNothing) {
    const char* refused[] = {
        "FANUC",          // case counts
        " fanuc",         // so do leading blanks
        "fanuc6mxxxxxx",  // longer than any name
        "fanuc6",
        "standard2",
        "ab84",           // its list is not built yet
        "fanuc6t",
        "heid",
    };
    for (const char* name : refused) {
        int status = -1;
        load_builtin_control(name, status);
        EXPECT_EQ(status, 1) << name;
    }
    EXPECT_EQ(cs().NGPS, 39);
    EXPECT_EQ(cs().gpnams[39].str(), "EOB");
    EXPECT_EQ(cs().blklen[1], 0);
    EXPECT_EQ(cs().wrdrut[38], 38);
    EXPECT_EQ(cs().wrdrut[40], ORDER_END);
}

TEST_F(BuiltinLists, ReaderTakesTheDumpNotation) {
    const char* lines[] = {
        "      icodes(1, 14) =     7",
        "      spval(  2) =     0.010000",
        "      gpnams( 39) = 'OP'",
        "wrdch(40) = 'it''s'",
        "blstps(8) = char(4)",
        "avals(3,1) = 1",
        "special_block_count = 3",
        "blkspc(4) = 1010",
        "blspec(1,2,4) = 99900000",
        "blsspc(1,4) = ' CYCL CALL M'",
        "scale_divisor(27) = 40",
    };
    for (const char* line : lines) {
        setting_assignment a;
        ASSERT_EQ(read_assignment(line, a), 0) << line;
        apply_assignment(a);
        EXPECT_EQ(assignment_holds(a), 1) << line;
    }
    EXPECT_EQ(cs().icodes[1][14], 7);
    EXPECT_DOUBLE_EQ(spval(2), 0.01);
    EXPECT_EQ(cs().gpnams[39].str(), "OP");
    EXPECT_EQ(cs().wrdch[40].str(), "it's");
    // One control character followed by blanks.
    EXPECT_EQ(cs().block_texts[1][8][1], '\x04');
    EXPECT_EQ(trimmed_length(cs().block_texts[1][8]), 1);
    EXPECT_EQ(avals(3, 1), 1.0);
    EXPECT_EQ(cs().special_block_count, 3);
    EXPECT_EQ(cs().blkspc[4], 1010);
    EXPECT_EQ(item(CLDAT_BASE + 4, 2).code, 99900000);
    EXPECT_EQ(cs().block_texts[CLDAT_BASE + 4][1].str(), " CYCL CALL M");
    EXPECT_EQ(word_format(27, SCALE_DIVISOR), 40);

    // A value the store does not hold.
    setting_assignment a;
    ASSERT_EQ(read_assignment("spchar(2) = 'Fanuc'", a), 0);
    EXPECT_EQ(assignment_holds(a), 0);
}

TEST(BuiltinListData, ReaderRefusesBadLines) {
    const char* bad[] = {
        "",
        "nosuch(1) = 1",
        "WRDLEN(2) = 4",          // names are case-sensitive
        "wrdlen = 4",             // index missing
        "wrdlen(2,3) = 4",        // one index too many
        "wrdlen(0) = 4",
        "wrdlen(96) = 4",
        "icodes(3,1) = 4",
        "bltpst(4,1) = 1",        // an item has three words
        "bltpst(1,1025) = 1",
        "blklen(45) = 0",         // ppfun and user blocks are not set by a list
        "blspec(1,1,21) = 1",
        "NGPS = 95",              // more words than a control may define
        "blklen(1) = 1025",       // more items than a block holds
        "special_block_count = 20",
        "key(1) = 0",
        "wrdlen(2) = 4.5",        // a real for an integer
        "wrdlen(2) = 'x'",
        "gpnams(39) = 5",         // a number for a text
        "gpnams(39) = 'OP",       // unterminated
        "gpnams(39) = char(256)",
        "wrdlen(2) = 4 5",
        "wrdlen(2) 4",
        "wrdlen(2) = ",
        "wrdlen(2) = 99999999999",
        "spval(1) = 1e999",
    };
    for (const char* line : bad) {
        setting_assignment a;
        EXPECT_EQ(read_assignment(line, a), 1) << line;
    }
    const char* const list[] = {"wrdlen(2) = 4", "wrdlen(2) = x", "wrdlen(3) = 4"};
    EXPECT_EQ(apply_setting_list(list), 2);
}
