// Built-in setting lists: their size, the reader of the assignment notation,
// what the standard and fanuc lists leave in the store, and the lookup by name.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

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
    // The assignments that the list texts compile to.
    EXPECT_EQ(standard_setting_list().size(), 121u);
    EXPECT_EQ(fanuc_setting_list().size(), 533u);

    // Order: the word order, then block by block; fanuc grouped by table.
    const auto standard = standard_setting_list();
    EXPECT_STREQ(standard[0], "wrdrut(38) = 99");
    EXPECT_STREQ(standard[3], "blklen(1) = 3");
    EXPECT_STREQ(standard[120], "blmcye(2,2) = 80");
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
    EXPECT_EQ(cs().blklen[10], 13);
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
        "heid4000",
        "tiger ab84",
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

namespace {

// What each list is stated to leave in the store: the words it adds or
// renames, the blocks that hold items (the other blocks 1..19 are empty),
// its cldat blocks (slot, record code, items) and its header texts. The
// count is of the assignments that the list's text compiles to: it changes
// with the text, and the summary table's figures are only a guide to it.
struct list_facts {
    const char* name;
    std::size_t assignments;
    int ngps;
    std::vector<std::pair<int, const char*>> words;
    std::set<int> blocks;
    std::vector<std::tuple<int, int, int>> cldat;
    const char* print_header;  // nullptr: not assigned
    const char* machine_name;
    std::vector<std::pair<int, const char*>> other_texts;
};

const std::vector<list_facts>& all_list_facts() {
    static const std::vector<list_facts> facts = {
        {"ab84", 515, 40, {{39, "OP"}, {40, "null"}}, {1, 2, 6, 7, 8, 10, 11, 12, 13, 16, 17, 19}, {}, nullptr, "Allen Bradley 8400 version 1.1", {}},
        {"acra8", 514, 43, {{39, "N2"}, {40, "OP"}, {41, "ID"}, {42, "P1"}, {43, "null"}}, {1, 2, 4, 5, 6, 7, 8, 10, 12, 13, 16, 17}, {}, nullptr, "Acramatic 850m   version 1.1", {}},
        {"agie", 362, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 5, 6, 7, 8, 10, 11, 12}, {}, "Quilor Agie Postprocessor", "Agie version 1.0", {}},
        {"anilam", 622, 42, {{39, "OP"}, {40, "F1"}, {41, "ID"}, {42, "null"}}, {1, 2, 4, 5, 6, 7, 8, 9, 10, 12, 13}, {}, nullptr, "Anilam           version 1.1", {}},
        {"bosch", 618, 44, {{39, "ID"}, {40, "PA"}, {41, "EI"}, {42, "OP"}, {43, "EC"}, {44, "null"}}, {1, 2, 3, 6, 7, 8, 10, 11, 12, 13, 18, 19}, {}, nullptr, "Bosch            version 1.1", {}},
        {"boss", 479, 41, {{39, "OP"}, {40, "DEF"}, {41, "null"}}, {1, 2, 5, 7, 8, 9, 10, 12, 13, 19}, {}, nullptr, "Boss             version 1.1", {}},
        {"bostom", 575, 40, {{39, "OP"}, {40, "null"}}, {1, 2, 6, 7, 8, 10, 12, 13, 19}, {{6, 1031, 6}}, "Quilor Bostomatic Postprocessor", "Bostomatic         version 1.2", {}},
        {"charm", 375, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 8, 10, 11, 12, 13}, {}, "Quilor KELVaron Robofil", "Robofil version 1.1", {{4, "0.0"}, {5, ":-"}, {6, ":-"}}},
        {"deckel11", 683, 45, {{39, "OP"}, {40, "ID"}, {41, "P1"}, {42, "P2"}, {43, "P3"}, {44, "P4"}, {45, "null"}}, {1, 2, 5, 6, 7, 8, 10, 11, 12, 13}, {}, nullptr, "Deckel 11      version 1.2", {}},
        {"deckel3", 676, 63, {{39, "N"}, {40, "N2"}, {41, "X"}, {42, "Y"}, {43, "P"}, {44, "Q"}, {45, "Z"}, {46, "I"}, {47, "J"}, {48, "K"}, {49, "R"}, {50, "F"}, {51, "S"}, {52, "T"}, {53, "OP"}, {54, "ID"}, {55, "ED"}, {56, "MS"}, {57, "EM"}, {58, "H"}, {59, "D"}, {60, "E"}, {61, "B"}, {62, "C"}, {63, "null"}}, {1, 2, 5, 10, 11, 12, 13}, {}, "Quilor Postprocessor Version 1.012", "Deckel 3 version 1.012", {{5, ":-"}, {6, ":-"}}},
        {"deckel4", 703, 42, {{39, "N2"}, {40, "OP"}, {41, "ID"}, {42, "ED"}}, {1, 2, 5, 6, 7, 8, 10, 11, 12, 13, 14, 16, 17, 18, 19}, {}, nullptr, "Deckel 4         version 1.1", {}},
        {"dyna", 492, 40, {{39, "OP"}, {40, "null"}}, {2, 4, 5, 7, 8, 10, 12, 13, 16, 17}, {}, nullptr, " Dynapath        version 1.1", {}},
        {"dm", 507, 42, {{39, "OP"}, {40, "Z3"}, {41, "null"}, {42, "RPM"}}, {1, 2, 3, 6, 7, 8, 10, 11, 12, 13, 18, 19}, {{5, 1030, 2}}, nullptr, "Dynamyte        version 1.2", {}},
        {"eberle", 561, 43, {{39, "N2"}, {40, "OP"}, {41, "ID"}, {42, "ED"}, {43, "null"}}, {1, 2, 5, 7, 8, 10, 12, 13}, {}, nullptr, "Eberle        version 1.1", {}},
        {"elexa", 633, 43, {{39, "OP"}, {40, "ID"}, {41, "QZ"}, {42, "PA"}, {43, "null"}}, {1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 16, 17}, {}, "Quilor Kelvaron", "Elexa                version 1.1", {}},
        {"fadal", 591, 42, {{39, "OP"}, {40, "ID"}, {41, "Q1"}, {42, "null"}}, {1, 2, 4, 5, 10, 12, 13, 16, 17, 19}, {}, "Quilor KELVaron Fadal", "Fadal           version 1.2", {}},
        {"fanuc6t", 316, 42, {{39, "OP"}, {40, "ID"}, {41, "P1"}, {42, "null"}}, {1, 2, 5, 10, 12}, {}, "Quilor KELVaron", "Fanuc10t        version 1.1", {}},
        {"fanuc11m", 667, 42, {{39, "OP"}, {40, "ID"}, {41, "Q1"}, {42, "null"}}, {1, 2, 4, 5, 10, 12, 13, 14, 16, 17, 18, 19}, {}, nullptr, "Fanuc11m         version 1.1", {}},
        {"fagor", 623, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 6, 7, 8, 10, 12, 13, 14, 16, 17, 19}, {}, "Quilor Fagor Postprocessor", "Fagor              version 1.1", {}},
        {"fanucw", 353, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 8, 9, 10, 13}, {}, "Quilor KELVaron Fanucw", "Fanucw version 1.007", {{5, ":-"}, {6, ":-"}}},
        {"fidia", 691, 39, {{39, "null"}}, {2, 5, 7, 8, 9, 10, 12, 13, 14, 16, 17, 18, 19}, {}, "Quilor Fidia KELVaron", "Fidia             version 1.1", {{4, "00"}}},
        {"ge2000m", 616, 40, {{39, "ID"}, {40, "null"}}, {1, 2, 5, 6, 7, 8, 10, 12, 13, 16, 17, 18, 19}, {}, nullptr, "GE2000M            version 1.1", {}},
        {"h155", 1207, 54, {{39, "FF"}, {40, "XXF"}, {41, "MP"}, {42, "T1"}, {43, "T2"}, {44, "TL"}, {45, "RR"}, {46, "null"}, {47, "Z3"}, {48, "ID"}, {49, "Z4"}, {50, "OP"}, {51, "DR"}, {52, "circ"}, {53, "DW"}, {54, "FMAX"}}, {1, 2, 5, 6, 7, 8, 10, 11, 12, 13, 16, 17, 18, 20}, {{3, 2, 2}, {4, 1010, 5}, {6, 1031, 9}, {16, 1022, 3}}, nullptr, "Heidenhain       version 1.2", {{3, ","}, {4, "0,000"}}},
        {"h33", 552, 40, {{39, "OP"}, {40, "null"}}, {1, 2, 6, 7, 8, 10, 11, 12, 13}, {}, "Quilor H33 Postprocessor", "H33           version 1.1", {}},
        {"hauser", 720, 27, {{1, "ID_"}, {2, "N_"}, {10, "C_"}, {11, "X_"}, {12, "Y_"}, {13, "Z_"}, {14, "I_"}, {15, "J_"}, {16, "K_"}, {17, "F_"}, {18, "S_"}, {19, "T_"}, {20, "M1"}, {21, "M2"}, {22, "OP_"}, {23, "Z2"}, {24, "R_"}, {25, "EM_"}, {26, "MS_"}, {27, "null"}}, {1, 2, 3, 6, 7, 8, 10, 11, 12, 13}, {}, "Quilor Hauser Postprocessor", "Hauser version 1.0", {{5, ":-"}, {6, ":-"}}},
        {"heid400", 1334, 52, {{39, "FF"}, {40, "T1"}, {41, "T2"}, {42, "TL"}, {43, "RR"}, {44, "null"}, {45, "Z3"}, {46, "ID"}, {47, "Z4"}, {48, "OP"}, {49, "DR"}, {50, "circ"}, {51, "DW"}, {52, "FMAX"}}, {1, 2, 5, 6, 7, 8, 10, 11, 12, 13, 16, 17, 18, 20}, {{3, 2, 2}, {4, 1010, 5}, {6, 1031, 9}, {16, 1022, 2}}, "Quilor Postprocessor Version 1.2", "Heidenhain           version 1.2", {{3, ","}, {4, "0,000"}}},
        {"heidiso", 887, 41, {{39, "CF"}, {40, "ID"}, {41, "null"}}, {1, 2, 5, 6, 7, 8, 10, 12, 13, 18}, {}, "Quilor KELVaron", "Heidiso        version 1.1", {{4, "0."}}},
        {"hurco", 583, 41, {{39, "OP"}, {40, "Z3"}, {41, "null"}}, {1, 2, 6, 7, 8, 10, 12, 13, 18, 19}, {}, nullptr, "Hurco              version 1.1", {}},
        {"incon", 588, 42, {{39, "OP"}, {40, "ID"}, {41, "P1"}, {42, "null"}}, {1, 2, 5, 7, 8, 10, 11, 12, 13, 16}, {}, nullptr, "Incon              version 1.1", {}},
        {"japtw", 351, 40, {{39, "OP"}, {40, "null"}}, {1, 2, 9, 10, 11, 12}, {}, nullptr, "Japax             version 1.1", {}},
        {"kryle", 616, 42, {{39, "OP"}, {40, "ID"}, {41, "Q1"}, {42, "null"}}, {1, 2, 4, 5, 10, 12, 13}, {}, "Quilor KELVaron", "Kryle              version 1.1", {}},
        {"maho", 606, 43, {{39, "K2"}, {40, "OP"}, {41, "ID"}, {42, "P1"}, {43, "null"}}, {1, 2, 4, 5, 7, 8, 10, 12, 13, 18, 19}, {}, nullptr, "Maho              version 1.1", {}},
        {"matsura", 602, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 5, 10, 11, 12, 13, 15}, {}, "Quilor KELVaron Matsura", "Matsura     version 1.2", {}},
        {"mazak", 628, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 5, 9, 10, 12, 13, 17, 19}, {}, nullptr, "Mazak              version 1.1", {}},
        {"mitsu", 572, 41, {{39, "OP"}, {40, "ID"}, {41, "Q1"}}, {1, 2, 4, 5, 10, 12, 13}, {}, "Quilor KELVaron Mitsubishi", "Mitsubishi version 1.1", {}},
        {"mitsuw", 311, 41, {{39, "SP"}, {40, "OP"}, {41, "null"}}, {2, 3, 4, 8, 10, 12}, {}, "Quilor Mitsubishi Postprocessor", "Mitsubishi wire spark version 1.1", {{4, "0.000"}}},
        {"num", 792, 42, {{39, "OP"}, {40, "ID"}, {41, "P1"}, {42, "null"}}, {1, 2, 5, 10, 11, 12, 13}, {}, "Quilor Postprocessor 1.2", " CNC NUM 760 version 1.2", {}},
        {"okuma", 573, 41, {{39, "OP"}, {40, "ID"}, {41, "Q1"}}, {1, 2, 4, 5, 10, 12, 13, 14, 16, 17, 18, 19}, {}, "Quilor KELVaron Okuma", "Okuma              version 1.1", {}},
        // p28m: "tool change" (5) and "move cycle" (13) hold items besides the
        // blocks its summary names: without them no tool is changed and no
        // hole drilled.
        {"p28m", 471, 41, {{39, "OP"}, {40, "space"}, {41, "null"}}, {1, 2, 5, 7, 8, 10, 12, 13}, {}, nullptr, "Posidata         version 1.1", {}},
        {"r2e3", 407, 42, {{39, "OP"}, {40, "Z3"}, {41, "null"}, {42, "ID"}}, {1, 2, 6, 7, 8, 10, 12, 13, 18, 19}, {}, nullptr, "Bridgeport R2E3  version 1.1", {}},
        {"roland", 596, 39, {{39, "null"}}, {1, 2, 7, 11, 12, 13}, {}, nullptr, "Roland           version 1.1", {}},
        {"siem850", 703, 42, {{39, "OP"}, {40, "ID"}, {41, "R11"}, {42, "null"}}, {1, 2, 4, 5, 10, 12, 13, 14}, {}, nullptr, "Siemens 850m     version 1.1", {}},
        {"selca", 594, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 5, 7, 8, 9, 10, 12, 13, 16}, {}, nullptr, "Selca            version 1.1", {}},
        {"servo", 623, 40, {{39, "OP"}, {40, "null"}}, {1, 2, 3, 6, 7, 8, 9, 10, 11, 12, 13}, {}, nullptr, "Servo            version 1.1", {}},
        {"sodick", 350, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 5, 10, 11, 12, 13}, {}, "Quilor KELVaron Sodick", "Sodick         version 1.1", {}},
        {"tcomp", 592, 42, {{39, "ID"}, {40, "OP"}, {41, "Z3"}, {42, "null"}}, {1, 2, 3, 6, 7, 8, 10, 11, 12, 13}, {{6, 1031, 9}}, nullptr, "Tcomp             version 1.2", {}},
        {"tiger", 646, 41, {{39, "OP"}, {40, "ID"}, {41, "null"}}, {1, 2, 4, 5, 10, 12, 13, 16, 17, 19}, {{5, 1030, 4}, {6, 1031, 4}}, nullptr, "Tiger            version 1.2", {}},
    };
    return facts;
}

// The name each list is known by, and every name that selects it.
const std::vector<std::vector<const char*>> SHARED_NAMES = {
    {"fanuc6t", "fanucot", "fanuc10t"},
    {"fanuc11m", "fanuc10m", "fanuc12m", "fanuc15m"},
    {"fanuc", "fanuc6m", "fanucom"},
    {"fidia", "fidian"},
    {"h155", "heid"},
    {"maho", "ph432"},
    {"charm", "robofil"},
    {"standard", " ", ""},
};

}  // namespace

TEST_F(BuiltinLists, EveryNameLoads) {
    // Each of the 60 names selects a list that reads to its last line.
    std::set<const char* const*> lists;
    for (int i = 1; i <= NCONTROLS; ++i) {
        const std::string name = control_names.name[i].str();
        const auto lines = find_setting_list(name);
        ASSERT_FALSE(lines.empty()) << name;
        lists.insert(lines.data());
        setting_assignment a;
        for (const char* line : lines) EXPECT_EQ(read_assignment(line, a), 0) << name << ": " << line;
    }
    EXPECT_EQ(lists.size(), 49u);

    for (int i = 1; i <= NCONTROLS; ++i) {
        SetUp();
        int status = -1;
        load_builtin_control(control_names.name[i].view(), status);
        EXPECT_EQ(status, 0) << control_names.name[i].str();
    }
}

TEST_F(BuiltinLists, SharedNamesLoadTheSameStore) {
    for (const auto& group : SHARED_NAMES) {
        SetUp();
        int status = -1;
        load_builtin_control(group[0], status);
        ASSERT_EQ(status, 0) << group[0];
        const auto first = std::make_unique<configuration_store_t>(cs());
        for (std::size_t n = 1; n < group.size(); ++n) {
            SetUp();
            load_builtin_control(group[n], status);
            ASSERT_EQ(status, 0) << group[n];
            EXPECT_EQ(find_setting_list(group[n]).data(), find_setting_list(group[0]).data()) << group[n];
            EXPECT_EQ(std::memcmp(first.get(), &cs(), sizeof(configuration_store_t)), 0) << group[n];
        }
    }
}

TEST_F(BuiltinLists, ListsHoldTheirStatedFacts) {
    ASSERT_EQ(all_list_facts().size(), 47u);
    for (const list_facts& f : all_list_facts()) {
        SetUp();
        const std::string header_before = cs().spchar[1].str();
        const auto lines = find_setting_list(f.name);
        EXPECT_EQ(lines.size(), f.assignments) << f.name;
        ASSERT_EQ(apply_setting_list(lines), 0) << f.name;

        EXPECT_EQ(cs().NGPS, f.ngps) << f.name;
        for (const auto& [w, name] : f.words) EXPECT_EQ(cs().gpnams[w].str(), name) << f.name << " word " << w;
        if (f.print_header != nullptr) {
            EXPECT_EQ(cs().spchar[1].str(), f.print_header) << f.name;
        } else {
            EXPECT_EQ(cs().spchar[1].str(), header_before) << f.name;  // left as it was
        }
        EXPECT_EQ(cs().spchar[2].str(), f.machine_name) << f.name;
        for (const auto& [n, text] : f.other_texts) EXPECT_EQ(cs().spchar[n].str(), text) << f.name << " spchar " << n;

        for (int b = 1; b <= 19; ++b) {
            if (f.blocks.count(b) != 0) {
                EXPECT_GT(cs().blklen[b], 0) << f.name << " block " << b;
            } else {
                EXPECT_EQ(cs().blklen[b], 0) << f.name << " block " << b;
            }
        }
        EXPECT_EQ(cs().blklen[20] > 0, f.blocks.count(20) != 0) << f.name;
        EXPECT_EQ(cs().blklen[21], 0) << f.name;

        int defined = 0;
        for (int slot = 1; slot <= MAXSPB; ++slot) defined += cs().blkspc[slot] != -1 ? 1 : 0;
        EXPECT_EQ(defined, static_cast<int>(f.cldat.size())) << f.name;
        if (!f.cldat.empty()) {
            EXPECT_EQ(cs().special_block_count, static_cast<int>(f.cldat.size())) << f.name;
        }
        for (const auto& [slot, code, items] : f.cldat) {
            EXPECT_EQ(cs().blkspc[slot], code) << f.name;
            EXPECT_EQ(code % 19 + 1, slot) << f.name;  // the slot the record code finds at run time
            EXPECT_EQ(cs().blklen[NUMBLK + slot], items) << f.name;
        }

        // Every list sets the 14 output list entries.
        const std::set<std::string> seen = [&] {
            std::set<std::string> names;
            for (const char* line : lines) names.insert(std::string(line).substr(0, std::string(line).find(" =")));
            return names;
        }();
        for (const char* entry : {"avals(1,8)", "avals(2,8)", "avals(1,9)", "avals(4,9)", "avals(1,10)",
                                  "avals(4,10)", "avals(1,11)", "avals(4,11)"})
            EXPECT_EQ(seen.count(entry), 1u) << f.name << " " << entry;

        // Every value stands in the store but where the list assigns an
        // element again: then the last assignment stands.
        std::map<std::string, const char*> last;
        for (const char* line : lines) last[std::string(line).substr(0, std::string(line).find(" ="))] = line;
        setting_assignment a;
        for (const auto& [element, line] : last) {
            ASSERT_EQ(read_assignment(line, a), 0) << line;
            EXPECT_EQ(assignment_holds(a), 1) << f.name << ": " << line;
        }
    }
}

TEST_F(BuiltinLists, RepeatedAssignmentsKeepTheLast) {
    const struct {
        const char* name;
        int wperm2;
        int assigned;
    } cases[] = {{"fadal", 0, 2}, {"mitsu", 1, 2}, {"agie", 1, 2}};
    for (const auto& c : cases) {
        SetUp();
        int count = 0;
        for (const char* line : find_setting_list(c.name)) count += std::string(line).rfind("wperm(2) =", 0) == 0;
        EXPECT_EQ(count, c.assigned) << c.name;
        int status = -1;
        load_builtin_control(c.name, status);
        EXPECT_EQ(cs().wperm[2], c.wperm2) << c.name;
    }
}

TEST_F(BuiltinLists, HauserRenamesItsWords) {
    const auto before = std::make_unique<configuration_store_t>(cs());
    ASSERT_EQ(apply_setting_list(find_setting_list("hauser")), 0);
    EXPECT_EQ(cs().NGPS, 27);
    EXPECT_EQ(cs().gpnams[1].str(), "ID_");
    EXPECT_EQ(cs().gpnams[11].str(), "X_");
    EXPECT_EQ(cs().gpnams[27].str(), "null");
    for (int w = 28; w <= 38; ++w) EXPECT_EQ(cs().gpnams[w].view(), before->gpnams[w].view()) << w;
    // The only list that sets print positions and print decimals; and every
    // function code up to slot 80.
    for (int w = 1; w <= 27; ++w) EXPECT_GT(word_format(w, WRDPOS), 0) << w;
    EXPECT_EQ(cs().key[8], 11);
    EXPECT_EQ(cs().key[10], 13);
    int codes = 0;
    for (const char* line : find_setting_list("hauser")) codes += std::string(line).rfind("icodes(1,", 0) == 0;
    EXPECT_EQ(codes, 80);
}

TEST_F(BuiltinLists, ConversationalListsUseTextCodes) {
    for (const char* name : {"h155", "heid", "heid400"}) {
        SetUp();
        ASSERT_EQ(apply_setting_list(find_setting_list(name)), 0);
        EXPECT_EQ(cs().special_block_count, 4) << name;
        EXPECT_EQ(cs().blkspc[3], 2) << name;
        EXPECT_EQ(cs().blkspc[4], 1010) << name;
        EXPECT_EQ(cs().blkspc[6], 1031) << name;
        EXPECT_EQ(cs().blkspc[16], 1022) << name;
        EXPECT_GT(cs().blklen[20], 0) << name;  // "tape split move"
        EXPECT_EQ(cs().intsp[56], 65500) << name;
        EXPECT_EQ(cs().intsp[38], 1) << name;
        const struct {
            int slot;
            const char* text;
        } texts[] = {{3, "-"}, {4, "+"}, {9, "0"}, {10, "L"}, {11, "R"}, {12, "INCH"}, {13, "MM"}};
        for (const auto& t : texts) {
            EXPECT_EQ(cs().icodes[2][t.slot], 1000 + t.slot) << name;
            EXPECT_EQ(cs().scodes[t.slot].str(), t.text) << name;
        }
        EXPECT_EQ(cs().wrdch[6].str(), "CYCL DEF") << name;
    }
    SetUp();
    ASSERT_EQ(apply_setting_list(find_setting_list("h155")), 0);
    EXPECT_EQ(cs().wrdch[43].str(), "TOOL CALL");
    EXPECT_EQ(cs().wrdch[53].str(), "DWELL");
    EXPECT_EQ(cs().wrdch[53][6], ' ');
    EXPECT_EQ(cs().blklen[NUMBLK + 16], 3);
    const std::pair<int, int> links[] = {{3, 39}, {29, 39}, {30, 39}, {40, 39}, {51, 39}, {37, 38}, {39, 41}, {41, 45}};
    for (const auto& [w, to] : links) EXPECT_EQ(cs().wrdlnk[w], to) << w;
}

TEST_F(BuiltinLists, RareSettingsBelongToTheirLists) {
    // Roland's feed word has no divisor of 60: its ISO NC code reads the feed
    // per minute, as the trace tests check. Bostomatic's spindle word has no
    // divisor of 40 either: the speed is written in revolutions per minute.
    const struct {
        const char* name;
        const char* line;
    } cases[] = {
        {"agie", "intsp(79) = 1"},          {"agie", "intsp(40) = 20"},       {"fidia", "intsp(56) = 32766"},
        {"num", "intsp(56) = 32767"},       {"bostom", "intsp(38) = 2"},      {"dyna", "intsp(5) = 2"},
        {"p28m", "intsp(33) = 0"},          {"fidia", "intsp(38) = 2"},
        {"matsura", "intsp(43) = 102"},     {"num", "spval(2) = 0.01"},       {"num", "spval(12) = 100"},
        {"h33", "spval(14) = 1200"},        {"mitsuw", "spval(13) = 30"},     {"mitsuw", "wperm(39) = 1"},
        {"dyna", "wperm(34) = 2"},          {"heidiso", "wperm(34) = 2"},     {"dyna", "wrdlnk(3) = 4"},
        {"dm", "wrdlnk(27) = 42"},          {"tiger", "wrdlnk(21) = 6"},      {"charm", "avals(4,1) = 1"},
        {"mitsuw", "avals(6,3) = 1"},       {"servo", "key(6) = 26"},         {"japtw", "intsp(50) = 1"},
    };
    for (const auto& c : cases) {
        SetUp();
        ASSERT_EQ(apply_setting_list(find_setting_list(c.name)), 0) << c.name;
        setting_assignment a;
        ASSERT_EQ(read_assignment(c.line, a), 0) << c.line;
        EXPECT_EQ(assignment_holds(a), 1) << c.name << ": " << c.line;
    }
}

TEST_F(BuiltinLists, Deckel11WritesAControlCharacter) {
    ASSERT_EQ(apply_setting_list(find_setting_list("deckel11")), 0);
    for (const auto& [b, s] : {std::pair{1, 8}, std::pair{2, 4}}) {
        EXPECT_EQ(cs().block_texts[b][s][1], '\x04') << b;
        EXPECT_EQ(trimmed_length(cs().block_texts[b][s]), 1) << b;
    }
    // The string belongs to a literal item of the block.
    bool found = false;
    for (int i = 1; i <= cs().blklen[2]; ++i)
        found = found || (item(2, i).code == LITERAL_ITEM && item(2, i).string_ref / 10 == 4);
    EXPECT_TRUE(found);
}
