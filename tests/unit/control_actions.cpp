// The option-file actions: each statement kind compiled onto a fresh store
// and compared, entry by entry, with the store's non-default entries; the
// errors of the actions with their messages, with and without "-o".
#include "store_printer.h"

using namespace kv;
using namespace kv_test;

namespace {

struct Case {
    const char* name;
    std::string body;  // between "machine mill" and "end"
    int continue_after_error;
    std::string entries;   // non-default entries besides NGPS, gpnams(0) and active_word_count
    std::string messages;
    int exit_code;
};

// Two words X and Y defined first, so that bodies can name them.
const std::string two_words = "define word X\nend define\ndefine word Y\nend define\n";

// The non-default entries without the lines that every case shares.
std::string entries_of_interest() {
    std::istringstream in(nondefault_entries());
    std::string line, out;
    while (std::getline(in, line)) {
        if (line.rfind("NGPS", 0) == 0 || line.rfind("active_word_count", 0) == 0 || line.rfind("gpnams(", 0) == 0)
            continue;
        out += line + "\n";
    }
    return out;
}

void run_cases(const Case* cases, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const Case& k = cases[i];
        const compile_result r = compile("machine mill\n" + k.body + "end\n", k.continue_after_error);
        EXPECT_EQ(r.exit_code, k.exit_code) << k.name;
        EXPECT_EQ(r.messages, k.messages) << k.name;
        EXPECT_EQ(entries_of_interest(), k.entries) << k.name;
    }
}

}  // namespace

TEST(OptionActions, MachineNameAndEnd) {
    compile("machine fanuc_lathe\n" + two_words + "end\n");
    EXPECT_EQ(nondefault_entries(),
              "NGPS = 2\nactive_word_count = 2\ngpnams(0) = \"fanuc_lathe\"\ngpnams(1) = \"X\"\ngpnams(2) = \"Y\"\n");
}

TEST(OptionActions, WordAndFormatSections) {
    const Case cases[] = {
        {"word statements",
         "define word X\n address letter = \"X\"\n field width = 7\n modal\n permanent\n upper case\n"
         " sign = always\n scale factor = 2\n zero character = \"0.\"\n print position = 12\n tape position = 3\n"
         "end define\n",
         0,
         "wrdch(1) = \"X\"\nword_formats(1,2) = 7\nword_formats(1,3) = 12\nword_formats(1,4) = 3\n"
         "word_formats(1,5) = 1\nword_formats(1,6) = 2\nword_formats(1,7) = 2\nwperm(1) = 1\n"
         "word_zero_text(1) = \"0.\"\nword_upper_case(1) = 1\n",
         "", -1},
        // Before any "imperial formats" or "metric formats" line the pair
        // settings go to the metric columns; a bit setting keeps the other bit.
        {"metric by default",
         two_words + "define word X\n decimal places = 3\n trailing zeros = false\n leading zeros = true\n"
                     " decimal point = true\nend define\n",
         0, "word_formats(1,12) = 3\nword_formats(1,14) = 1\nword_formats(1,16) = 1\n", "", -1},
        {"imperial selector",
         two_words + "define format (X Y_)\n imperial formats\n decimal places = 4\n metric formats\n"
                     " decimal places = 3\n every block\n not modal\nend define\n",
         0,
         "word_formats(1,11) = 4\nword_formats(1,12) = 3\nwperm(1) = 2\n"
         "word_formats(2,11) = 4\nword_formats(2,12) = 3\nwperm(2) = 2\n",
         "", -1},
        {"metric copied from imperial",
         two_words + "define format all\n imperial formats\n decimal places = 4\n decimal point = true\n"
                     " leading zeros = true\n metric formats = imperial formats\nend define\n",
         0,
         "word_formats(1,11) = 4\nword_formats(1,12) = 4\nword_formats(1,13) = 3\nword_formats(1,14) = 3\n"
         "word_formats(1,15) = 1\nword_formats(1,16) = 1\n"
         "word_formats(2,11) = 4\nword_formats(2,12) = 4\nword_formats(2,13) = 3\nword_formats(2,14) = 3\n"
         "word_formats(2,15) = 1\nword_formats(2,16) = 1\n",
         "", -1},
        {"link and a keyword as a word name",
         "define word feedrate\nend define\ndefine word end_\n link to feedrate_\nend define\n", 0,
         "wrdlnk(2) = 1\n", "", -1},
        {"unknown words", two_words + "define word X\n link to Q\nend define\ndefine format (X Q Y)\n modal\nend define\n",
         1, "word_formats(1,5) = 1\nword_formats(2,5) = 1\n",
         at(7) + "Can not set link to Q, word is not defined\n" + at(9) +
             "Can not set word format for Q, word not defined\n",
         -1},
        {"per-word setting at the top level", "field width = 3\n", 0, "",
         at(2) + "This variable cannot be assigned to here\n", 4},
    };
    run_cases(cases, std::size(cases));
}

TEST(OptionActions, WordLimit) {
    std::string words;
    for (int i = 1; i <= MAXDEFWORDS; ++i) words += "define word W" + std::to_string(i) + "\nend define\n";
    // A 95th word, by "define word" and by a table row, is refused; the
    // message names the refused statement's own line.
    compile_result r = compile("machine mill\n" + words + "define word Extra\n field width = 5\nend define\nend\n", 1);
    EXPECT_EQ(r.messages, at(2 * MAXDEFWORDS + 2) + "Too many word format definitions\n");
    EXPECT_EQ(configuration_store.NGPS, MAXDEFWORDS);
    EXPECT_TRUE(text_equals(configuration_store.gpnams[NO_WORD], ""));
    EXPECT_EQ(configuration_store.word_formats[NO_WORD][WRDLEN], 2);

    r = compile("machine mill\n" + words + "define table\nExtra \"E\" 4 . 3\nW1 \"A\" 5\nend define\nend\n", 1);
    EXPECT_EQ(r.messages, at(2 * MAXDEFWORDS + 3) + "Too many word format definitions\n");
    EXPECT_EQ(configuration_store.NGPS, MAXDEFWORDS);
    EXPECT_TRUE(text_equals(configuration_store.wrdch[NO_WORD], ""));
    EXPECT_EQ(configuration_store.word_formats[1][WRDLEN], 5);  // the next row still applies
}

TEST(OptionActions, TableSection) {
    const Case cases[] = {
        {"rows",
         "define table\nX \"X\" +- 0 4 . 0 3\nF \"F\" 4 . 1 modal permanent spaces 6\n"
         "Z \"Z\" - 4 . 3 inch 3 . 4 x2 /10\nend define\n",
         0,
         "wrdch(1) = \"X\"\nword_formats(1,2) = 7\nword_formats(1,6) = 2\n"
         "word_formats(1,11) = 3\nword_formats(1,12) = 3\nword_formats(1,13) = 3\nword_formats(1,14) = 3\n"
         "word_formats(1,15) = 1\nword_formats(1,16) = 1\n"
         "wrdch(2) = \"F\"\nword_formats(2,2) = 5\nword_formats(2,4) = 6\nword_formats(2,5) = 1\n"
         "word_formats(2,11) = 1\nword_formats(2,12) = 1\nword_formats(2,13) = 0\nword_formats(2,14) = 0\n"
         "word_formats(2,15) = 1\nword_formats(2,16) = 1\nwperm(2) = 1\n"
         "wrdch(3) = \"Z\"\nword_formats(3,2) = 7\nword_formats(3,6) = 1\nword_formats(3,7) = 2\n"
         "word_formats(3,11) = 4\nword_formats(3,12) = 3\nword_formats(3,13) = 0\nword_formats(3,14) = 0\n"
         "word_formats(3,15) = 1\nword_formats(3,16) = 1\nword_formats(3,17) = 10\n",
         "", -1},
        // A table row keeps a trailing "_" in its name; fields after the
        // last position are ignored.
        {"names, reformatting and extra fields",
         "define table\nend_ \"E\" +- 0 4 . 0 3\nend_ \"EE\" 3 spaces 4 9 9 Q R\nend define\n", 0,
         "wrdch(1) = \"EE\"\nword_formats(1,1) = 2\nword_formats(1,2) = 3\nword_formats(1,4) = 4\n"
         "word_formats(1,11) = 3\nword_formats(1,12) = 3\nword_formats(1,13) = 0\nword_formats(1,14) = 0\n"
         "word_formats(1,15) = 1\nword_formats(1,16) = 1\n",
         "", -1},
    };
    run_cases(cases, std::size(cases));
    EXPECT_TRUE(text_equals(configuration_store.gpnams[1], "end_"));
    EXPECT_EQ(configuration_store.NGPS, 1);
}

TEST(OptionActions, KeysCodesAndWordOrder) {
    const Case cases[] = {
        {"keys", two_words + "define keys\nx coordinate = X\nkey 9 = \"Y\"\nfeedrate = Y\nfeedrate not used\nend define\n",
         0, "key(8) = 1\nkey(9) = 2\n", "", -1},
        {"codes",
         two_words + "define codes\nrapid = X 0\ncode 2 = X_ 1\ncircle cw = Y \"CW\"\ndwell = Y 4\n"
                     "linear not used\nend define\n",
         0, "icodes(1) = 1 0\nicodes(2) = 95 -1\nicodes(3) = 2 1003\nicodes(5) = 2 4\nscodes(3) = \"CW\"\n", "",
         -1},
        {"key and code errors",
         two_words + "define keys\nkey 81 = X\nkey 0 not used\nx coordinate = Q\nend define\n"
                     "define codes\ncode 96 = X 1\ncode 0 not used\nrapid = Q 1\nend define\n",
         1, "",
         at(7) + "Key index is out of range\n" + at(8) + "Key index is out of range\n" + at(9) +
             "Can not set key, word Q not defined\n" + at(12) + "Code index is out of range\n" + at(13) +
             "Code index is out of range\n" + at(14) + "Can not set code, word Q not defined\n",
         -1},
        {"word order", two_words + "word order = (Y msg X_)\n", 0, "wrdrut(1) = 2\nwrdrut(2) = 99\nwrdrut(3) = 1\n",
         "", -1},
        {"word order appended",
         two_words + "word order = (Y X)\nword order = (+ X)\nword order = (X)\nword order = (+ Y Y)\n", 0,
         "wrdrut(1) = 1\nwrdrut(2) = 2\nwrdrut(3) = 2\n", "", -1},
        {"word order unknown word", two_words + "word order = (X Q Y)\n", 1, "wrdrut(1) = 1\nwrdrut(2) = 2\n",
         at(6) + "Can not add Q to group order, word not defined\n", -1},
    };
    run_cases(cases, std::size(cases));

    // An order beyond its 95 entries stops the run instead of writing past it.
    std::string order = "(";
    for (int i = 0; i < MAXWORDS + 1; ++i) order += " X";
    const compile_result r = compile("machine mill\n" + two_words + "word order = " + order + ")\nend\n");
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.messages, at(6) + "Word order index is out of range\n");
    EXPECT_EQ(configuration_store.wrdrut[MAXWORDS], 1);
}

TEST(OptionActions, Settings) {
    const Case cases[] = {
        {"typed settings",
         "block order = true\nunits = metric\nmaximum feedrate = 5000.\nmachine name = \"Mill 3\"\n"
         "integer 120 = -4\nreal 40 = .5\ncharacter 8 = \";\"\nprint header = 12\n",
         0,
         "intsp(9) = 1\nintsp(39) = 40\nintsp(120) = -4\nR(1) = 5000\nR(40) = 0.5\nspchar(1) = \"12\"\n"
         "spchar(2) = \"Mill 3\"\nspchar(8) = \";\"\n",
         "", -1},
        {"lists",
         "linear axis limits = (-5 5 -6. 6 -7 7 99)\ntr = (\"ab\" xy)\ncircle output = ((2 3 5 1)\n"
         "full circle = false\n",
         0,
         "intsp(27) = 0\nR(116) = -5\nR(117) = 5\nR(118) = -6\nR(119) = 6\nR(120) = -7\nR(121) = 7\n"
         "R(176) = 2\nR(177) = 3\nR(178) = 0\nspchar(5) = \"ab\"\nspchar(6) = \"xy\"\n",
         "", -1},
        // Real keywords name any element of R; only "real n" keeps to 40.
        {"list element keyword", "minimum x value = -12.5\npcs origin y = 3.\nreal 41 = 1.\n", 1,
         "R(102) = 3\nR(116) = -12.5\n", at(4) + "Variable index is out of range\n", -1},
        {"indices below 1",
         "integer 0 = 1\nreal -3 = 1.\ncharacter 0 = \"x\"\ninteger 151 = 1\ncharacter 21 = \"x\"\n", 1, "",
         at(2) + "Variable index is out of range\n" + at(3) + "Variable index is out of range\n" + at(4) +
             "Variable index is out of range\n" + at(5) + "Variable index is out of range\n" + at(6) +
             "Variable index is out of range\n",
         -1},
        {"wrong types",
         "tape headers = true\nmaximum feedrate = 5000\nblock order = 1\nunits = (a b)\ncoolant output = 1\n"
         "integer 5 = 99999999999\n",
         1, "",
         at(2) + "The type of value is not that expected for this variable\n" + at(3) +
             "The type of value is not that expected for this variable\n" + at(4) +
             "The type of value is not that expected for this variable\n" + at(5) +
             "The type of value is not that expected for this variable\n" + at(6) +
             "The type of value is not that expected for this variable\n" + at(7) +
             "The type of value is not that expected for this variable\n",
         -1},
        {"short and bad lists", "pcs origin = (1 2)\ninitial tool vector = (1 x 3)\n", 1,
         "R(101) = 1\nR(102) = 2\nR(341) = 1\nR(343) = 3\n",
         at(2) + "Too few elements in array\n" + at(3) + "Invalid value in array\n", -1},
        {"empty value", "machine name =\nunits =\n", 1, "spchar(2) = \"\"\n",
         at(3) + "The type of value is not that expected for this variable\n", -1},
        {"type error stops the run", "tape headers = true\nblock order = true\n", 0, "",
         at(2) + "The type of value is not that expected for this variable\n", 4},
    };
    run_cases(cases, std::size(cases));
}

TEST(OptionActions, Blocks) {
    const Case cases[] = {
        {"items",
         two_words +
             "define block move linear\nX\nX 12 ; Y = ; x coordinate \"T\"\nY (a+b) =C\nrapid\n\"lit\"\n"
             "key 9 next\nmsg =A\nX =P\nY =S\nrapid =C\nend define\n",
         0,
         "blklen(11) = 12\nitem(11,1) = 14001 0 0 0\nitem(11,2) = 11001 12 1 0\nitem(11,3) = 13002 0 1 0\n"
         "item(11,4) = 99902008 0 10 0 \"T\"\nitem(11,5) = 99919002 0 20 0 \"a+b\"\nitem(11,6) = 1 -1 0 0\n"
         "item(11,7) = 99900000 0 30 0 \"lit\"\nitem(11,8) = 5009 0 0 0\nitem(11,9) = 8099 0 0 0\n"
         "item(11,10) = 17001 0 0 0\nitem(11,11) = 14002 0 0 0\nitem(11,12) = -9001 -1 0 0\n",
         "", -1},
        {"control items",
         "define block tape start\nif (a > 1)\nset flag\nelse if (b)\nedit n 5\nelse\nedit r 2.5\nend if\n"
         "repeat 3\nreset flag\nend repeat\nunset flag\nend define\n",
         0,
         "blklen(1) = 11\nitem(1,1) = 99921000 0 10 0 \"a > 1\"\nitem(1,2) = 99900008 0 20 0 \"flag\"\n"
         "item(1,3) = 99922000 0 30 0 \"b\"\nitem(1,4) = 99900010 5 40 5 \"n\"\nitem(1,5) = 23000 0 0 5\n"
         "item(1,6) = 99900010 2 50 2.5 \"r\"\nitem(1,7) = 24000 0 0 2.5\nitem(1,8) = 99900012 0 60 2.5 \"3\"\n"
         "item(1,9) = 99900011 0 70 2.5 \"flag\"\nitem(1,10) = 99900013 0 80 2.5 \"\"\n"
         "item(1,11) = 99900009 0 90 2.5 \"flag\"\n",
         "", -1},
        {"block kinds",
         "define block cldat 1019\n\"a\"\nend define\ndefine block cldat 0\n\"b\"\nend define\n"
         "define block ppfun OPSTOP\ncall block sub\nend define\ndefine block user sub\n\"c\"\nend define\n"
         "define block tape end\nnot used\nend define\n",
         0,
         "blkspc(1) = 0\nblkspc(13) = 1019\nspecial_block_count = 2\nppfstr(1) = \"OPSTOP\"\n"
         "user_block_names(1) = \"sub\"\nblock_counters(1) = 2\nblock_counters(2) = 2\n"
         "blklen(25) = 1\nitem(25,1) = 99900000 0 10 0 \"b\"\nblklen(37) = 1\nitem(37,1) = 99900000 0 10 0 \"a\"\n"
         "blklen(45) = 1\nitem(45,1) = 99900014 0 10 0 \"sub\"\nblklen(65) = 1\nitem(65,1) = 99900000 0 10 0 \"c\"\n",
         "", -1},
        // With "-o" a failed item is not stored and the block goes on.
        {"item errors",
         "define block user sub\ncall block other\nQ 1\nelse\nend if\n\"kept\"\nend define\n"
         "define block cldat -3\n\"x\"\nend define\n"
         "define block cldat 99999999999\n\"y\"\nend define\n",
         1,
         "user_block_names(1) = \"sub\"\nblock_counters(2) = 2\nblklen(65) = 1\n"
         "item(65,1) = 99900000 0 10 0 \"kept\"\n",
         at(3) + "\"call block\" is not allowed in user blocks\n" + at(4) +
             "Can not set Block output for, word Q not defined\n" + at(5) + "Invalid \"else\" expression\n" + at(6) +
             "Invalid \"end if\" expression\n" + at(9) + "Cldat index is out of range\n" + at(12) +
             "The type of value is not that expected for this variable\n",
         -1},
    };
    run_cases(cases, std::size(cases));
}

TEST(OptionActions, BlockLimits) {
    // Eleven nested "if" and a 1025th item.
    std::string ifs, items;
    for (int i = 0; i < 11; ++i) ifs += "if (c)\n";
    for (int i = 0; i < MAXITEMS + 1; ++i) items += "\"t\"\n";
    compile_result r = compile("machine mill\ndefine block tape start\n" + ifs + "end define\nend\n", 1);
    EXPECT_EQ(r.messages, at(13) + "Invalid \"if\" expression\nMaximum depth exceeded\n");
    EXPECT_EQ(configuration_store.blklen[1], 10);

    r = compile("machine mill\ndefine block tape start\n" + items + "end define\nend\n");
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.messages, at(MAXITEMS + 3) + "Too many output words in block\n");

    // Nineteen ppfun and cldat blocks, then one more of each.
    std::string blocks;
    for (int i = 1; i <= MAXPPFUN + 1; ++i) blocks += "define block ppfun P" + std::to_string(i) + "\n\"p\"\nend define\n";
    for (int i = 1; i <= MAXCLDAT + 1; ++i) blocks += "define block cldat " + std::to_string(i) + "\n\"c\"\nend define\n";
    r = compile("machine mill\n" + blocks + "end\n", 1);
    EXPECT_EQ(r.messages, at(3 * MAXPPFUN + 2) + "Too many ppfun blocks defined\n" + at(6 * MAXPPFUN + 5) +
                              "Too many cldat blocks defined\n");
    EXPECT_EQ(configuration_store.block_counters[1], MAXPPFUN + 1);
    EXPECT_EQ(configuration_store.blklen[64], 0);  // the refused block stored nothing
    EXPECT_EQ(configuration_store.blklen[63], 1);
    EXPECT_EQ(configuration_store.special_block_count, MAXCLDAT);
}

TEST(OptionActions, Query) {
    // The answer is read as if written in the file; a blank line asks again.
    compile_result r = compile("machine mill\nunits = query \"Units? \"\n"
                               "define word X\n field width = query \"W\"\nend define\nend\n",
                               0, true, "\n   \nmetric\n3\n");
    EXPECT_EQ(r.exit_code, -1);
    EXPECT_EQ(r.messages, "Units?Error in input - Please try again\nUnits?Units?W");
    EXPECT_EQ(configuration_store.intsp[39], 40);
    EXPECT_EQ(configuration_store.word_formats[1][WRDLEN], 3);

    // Standard input at its end: one message 101 and the run stops.
    r = compile("machine mill\nunits = query \"Units? \"\nend\n", 1, true, "");
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.messages, "Units?Error in input - Please try again\n");
}
