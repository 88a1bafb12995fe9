// The configuration store: its defaults, the real settings seen as R, the
// flag accessors, the cldat slots, the "=C" form of items and the storing of
// block items with their strings.
#include <vector>

#include "store_printer.h"

using namespace kv;
using namespace kv_test;

TEST(ConfigurationStore, Defaults) {
    reset_store();
    const configuration_store_t& cs = configuration_store;
    EXPECT_EQ(cs.NGPS, 0);
    for (int k = 1; k <= NUMKEYS; ++k) EXPECT_EQ(cs.key[k], NO_WORD);
    for (int n = 1; n <= NUMCODES; ++n) EXPECT_EQ(cs.icodes[2][n], UNSET_CODE);
    EXPECT_EQ(cs.icodes[1][0], 0);
    EXPECT_EQ(cs.icodes[2][0], 0);
    EXPECT_EQ(cs.wrdrut[1], ORDER_END);
    EXPECT_EQ(cs.wrdlnk[MAXWORDS], NO_LINK);
    EXPECT_EQ(cs.blkspc[MAXSPB], -1);
    EXPECT_EQ(cs.block_counters[1], 1);
    EXPECT_EQ(cs.block_counters[2], 1);
    EXPECT_EQ(std::string(cs.word_zero_text[3].view()), std::string(16, ' '));

    const int format_defaults[NFORMAT] = {1, 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 2, 2, 0, 0, 1, 0};
    for (int c = 1; c <= NFORMAT; ++c) EXPECT_EQ(cs.word_formats[7][c], format_defaults[c - 1]) << c;

    struct IntCase { int index, value; };
    const IntCase ints[] = {{1, 1}, {9, 0}, {6, -1}, {39, 50}, {40, 10}, {41, 102}, {42, 100}, {63, -999},
                            {64, -1}, {106, 1}, {107, 0}, {150, 0}};
    for (const IntCase& k : ints) EXPECT_EQ(cs.intsp[k.index], k.value) << k.index;

    // The lists as the lists see them.
    struct ListCase { int list, count; std::vector<double> values; };
    const ListCase lists[] = {
        {7, 6, {-99999, 999999, -99999, 999999, 999, 1}},        // rotary axis limits
        {6, 6, {-99999, 999999, -99999, 999999, -99999, 999999}}, // linear axis limits
        {21, 3, {0, 0, 1}},                                       // initial tool vector
        {8, 2, {1, 1}},                                           // coolant output
        {9, 4, {1, 1, 1, 1}}, {10, 4, {1, 1, 1, 1}}, {11, 4, {1, 1, 1, 1}},
        {12, 4, {0, 0, 0, 0}},                                    // move safe angles
    };
    for (const ListCase& k : lists)
        for (int i = 1; i <= k.count; ++i) EXPECT_EQ(avals(i, k.list), k.values[i - 1]) << k.list << ":" << i;
    EXPECT_EQ(spval(1), 99999.0);
    EXPECT_EQ(spval(3), 9999.0);
    EXPECT_EQ(spval(19), 360.0);
    EXPECT_EQ(get_spval(16), 10000.0);

    EXPECT_EQ(cs.spchar[1].str(), "Quilor Postprocessor");
    EXPECT_EQ(cs.spchar[2].str(), "Version        1.2");
    EXPECT_EQ(cs.spchar[3].str(), ".");
    EXPECT_EQ(cs.spchar[4].str(), "0");
    EXPECT_EQ(cs.spchar[8].str(), "");
}

TEST(ConfigurationStore, RealViewsAndAccessors) {
    reset_store();
    // "maximum x value" (R 117) is element 2 of "linear axis limits" (list 6).
    real_option(117) = 42.0;
    EXPECT_EQ(avals(2, 6), 42.0);
    EXPECT_EQ(&avals(1, 1), &real_option(NUMSPVAL + 1));
    EXPECT_EQ(&avals(AVALS_ROWS, AVALS_LISTS), &real_option(NUMREALS));

    int v = -1;
    set_int_if_unset(2.9, v);
    EXPECT_EQ(v, 2);
    set_int_if_unset(7.0, v);
    EXPECT_EQ(v, 2);
    v = -1;
    set_int_if_unset(-3.7, v);
    EXPECT_EQ(v, -3);

    struct Flag { int number; int (*get)(); void (*set)(int); };
    const Flag flags[] = {
        {101, get_three_axis_flag, store_three_axis_flag}, {102, get_flag102, set_flag102},
        {103, get_flag103, set_flag103}, {104, get_flag104, set_flag104},
        {105, get_input_units_flag, set_input_units_flag},
        {107, cutfile_has_contact_normals, set_cutfile_has_contact_normals},
        {108, get_rotary_set_by_block, set_rotary_set_by_block},
        {109, get_linear_set_by_block, set_linear_set_by_block},
    };
    for (const Flag& f : flags) {
        f.set(5);
        EXPECT_EQ(get_state_flag(f.number), 5) << f.number;
        set_status_flag(f.number, 0);
        EXPECT_EQ(f.get(), 0) << f.number;
    }
    set_cutfile_multiaxis(1);
    set_srat_defined(1);
    EXPECT_EQ(get_cutfile_multiaxis() + get_srat_defined() + get_cutfile_new_style(), 2);
}

TEST(OutputBlocks, CldatSlots) {
    reset_store();
    configuration_store_t& cs = configuration_store;
    EXPECT_EQ(cldat_slot(1019), 13);
    cs.blkspc[13] = 1019;
    EXPECT_EQ(find_cldat_block(1019), 37);
    EXPECT_EQ(cldat_slot(1019 + 19), 14);  // same first slot: the next one
    EXPECT_EQ(find_cldat_block(1019 + 19), 0);
    // From slot 20 the search wraps to slot 1.
    EXPECT_EQ(cldat_slot(18), 19);
    cs.blkspc[19] = 18;
    cs.blkspc[20] = 500;
    EXPECT_EQ(cldat_slot(37), 1);
    EXPECT_EQ(cldat_slot(-1), 0);
    // Every slot taken by another major word: no slot, no endless search.
    cs.blkspc.fill(7);
    EXPECT_EQ(cldat_slot(8), 0);
    EXPECT_EQ(find_cldat_block(8), 0);
    EXPECT_EQ(find_cldat_block(7), CLDAT_BASE + 8);
}

TEST(OutputBlocks, ItemCodes) {
    struct Case { int code, forget, cls; };
    const Case cases[] = {
        {1008, 9008, 1},           // key with a value: modifier 1 becomes 9
        {4010, 9010, 4},           // key alone
        {13002, 19002, 13},        // word "="
        {11005, 19005, 11},
        {99902008, 99909008, 2},   // key with a text
        {99915003, 99919003, 15},  // word with an expression
        {7, -9007, 0},             // function code 7
        {95, -9095, 0},
        {-9007, -9007, 9},         // already marked
        {99900000, 99900000, 0},   // control items keep their code
        {99921000, 99921000, 21},
        {23000, 23000, 23},
        {99900014, 99900014, 0},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(forget_previous_code(k.code), k.forget) << k.code;
        EXPECT_EQ(item_class(k.code), k.cls) << k.code;
    }
    EXPECT_EQ(item_carries_string(99900000), 1);
    EXPECT_EQ(item_carries_string(STRING_ITEM_MAX), 1);
    EXPECT_EQ(item_carries_string(24000), 0);
    EXPECT_EQ(item_carries_string(-9001), 0);
}

TEST(OutputBlocks, StoreItems) {
    reset_store();
    const configuration_store_t& cs = configuration_store;
    int next_string = 1;
    EXPECT_EQ(store_block_item(5, 1, 14001, 0, 0.5, 1, "", next_string), 0);
    EXPECT_EQ(store_block_item(5, 2, LITERAL_ITEM, 0, 0.5, 0, std::string(130, 'a'), next_string), 0);
    EXPECT_EQ(store_block_item(5, 3, IF_ITEM, 0, 0.0, 0, "x > 1", next_string), 0);
    EXPECT_EQ(store_block_item(5, MAXITEMS + 1, LITERAL_ITEM, 0, 0.0, 0, "no", next_string), 1);
    EXPECT_EQ(next_string, 3);  // string numbers count only items that carry one
    EXPECT_EQ(cs.block_items[5][1].string_ref, 1);
    EXPECT_EQ(cs.block_items[5][2].string_ref, 10);
    EXPECT_EQ(cs.block_items[5][3].string_ref, 20);
    EXPECT_EQ(std::string(cs.block_texts[5][1].view()), std::string(BLOCK_TEXT_LENGTH, 'a'));
    EXPECT_EQ(cs.block_texts[5][2].str(), "x > 1");
    EXPECT_EQ(cs.block_reals[5][2], 0.5);
}

TEST(WordFormats, RowFields) {
    // A row's fields one at a time, as the table section hands them over.
    reset_store();
    const configuration_store_t& cs = configuration_store;
    int position = 0;
    int word = 1;
    const struct { int symbol; const char* text; int value; } row[] = {
        {57, "X", 1}, {57, "X", 1}, {57, "+-", 2}, {55, "0", 0}, {55, "4", 4},
        {57, ".", 1}, {55, "0", 0}, {55, "3", 3}, {57, "x12", 3}, {SYM_KEYWORD_BASE + 31, "every block", 11},
    };
    for (const auto& f : row) EXPECT_EQ(parse_word_format(f.symbol, f.text, position, f.value, word), 0);
    EXPECT_EQ(word, 1);
    EXPECT_EQ(cs.NGPS, 1);
    EXPECT_EQ(cs.wrdch[1].str(), "X");
    const int want[][2] = {{WRDCHL, 1}, {SINREQ, 2}, {IZSUPM, 3}, {IZSUPI, 3}, {WRDLEN, 7}, {IDECM, 1},
                           {IDECI, 1},  {WRDMET, 3}, {WRDIMP, 3}, {WRDFAC, 12}, {WRDMOD, 0}};
    for (const auto& w : want) EXPECT_EQ(cs.word_formats[1][w[0]], w[1]) << w[0];
    EXPECT_EQ(cs.wperm[1], 2);
}
