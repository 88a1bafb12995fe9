// The default word table, the defaults snapshot, the names of keys, codes,
// settings and blocks, and the "-f" difference dump over stores filled by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "control/control.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

// The store as a run has it before any control: static values, then defaults.
void fresh_store() {
    static const configuration_store_t* blank = new configuration_store_t();
    configuration_store = *blank;
    set_configuration_defaults();
}

// What a "-f" run has before its machine definition: defaults and the snapshot.
void fresh_snapshot() {
    fresh_store();
    save_default_configuration();
}

std::string dump() {
    testing::internal::CaptureStdout();
    print_configuration_differences();
    return testing::internal::GetCapturedStdout();
}

std::string name_of(int kind, int code) {
    text<KEYWORD_NAME_LENGTH> name("not touched");
    keyword_name(kind, code, name);
    return std::string(trimmed(name.view()));
}

// The dump lines from the line after the heading up to the next heading.
std::string section(const std::string& out, const std::string& heading) {
    const std::string start = heading + "\n";
    std::size_t a = out.find(start);
    if (a == std::string::npos) return "<no " + heading + ">";
    a += start.size();
    std::size_t b = out.find("C ... ", a);
    return out.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

// The headings, list lines, word count and empty blocks that every dump has.
std::string arrays_section() {
    std::string s;
    const char* labels[] = {"avals(1,8)",  "avals(2,8)",  "avals(1,9)",  "avals(2,9)",  "avals(3,9)",
                            "avals(4,9)",  "avals(1,10)", "avals(2,10)", "avals(3,10)", "avals(4,10)",
                            "avals(1,11)", "avals(2,11)", "avals(3,11)", "avals(4,11)"};
    for (const char* l : labels) s += std::string("      ") + l + "  =     1.000000\n";
    return s;
}

int count_lines(const std::string& out, const std::string& line) {
    std::istringstream in(out);
    std::string l;
    int n = 0;
    while (std::getline(in, l)) n += l == line;
    return n;
}

std::string empty_blocks() {
    std::string s;
    char line[64];
    for (int b = 1; b <= 21; ++b) {
        std::snprintf(line, sizeof line, "      blklen(%3d) =     0\n", b);
        s += line;
    }
    return s;
}

}  // namespace

TEST(DefaultWords, WordTable) {
    fresh_store();
    configuration_store.gpnams[40].set("kept");
    configuration_store.blklen[1] = 3;
    set_default_words();
    const configuration_store_t& cs = configuration_store;
    EXPECT_EQ(cs.NGPS, 39);
    struct Row { int w; const char* name; const char* letters; int modal; };
    const Row rows[] = {
        {1, "/", "/", 0},   {2, "N", "N", 0},    {3, "G1", "G", 1},  {8, "G6", "G", 1},   {9, "G7", "G7", 1},
        {12, "Z", "Z", 1},  {13, "I", "I", 0},   {17, "R2", "R", 0}, {25, "Z2", "Z", 0},  {26, "F", "F", 1},
        {29, "M1", "M", 0}, {37, "MS", "(", 0},  {38, "EM", ")", 0}, {39, "EOB", "*", 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(cs.gpnams[r.w].str(), r.name) << r.w;
        EXPECT_EQ(cs.wrdch[r.w].str(), r.letters) << r.w;
        EXPECT_EQ(cs.word_formats[r.w][WRDMOD], r.modal) << r.w;
    }
    for (int w = 1; w <= 39; ++w) EXPECT_EQ(cs.wrdrut[w], w);
    EXPECT_EQ(cs.wrdrut[40], ORDER_END);
    // Words beyond the table and the blocks keep what they held.
    EXPECT_EQ(cs.gpnams[40].str(), "kept");
    EXPECT_EQ(cs.blklen[1], 3);
    EXPECT_EQ(cs.wrdlnk[37], 38);
    EXPECT_EQ(cs.wrdlnk[38], NO_LINK);
    EXPECT_EQ(cs.intsp[39], 40);
    EXPECT_EQ(cs.intsp[40], 10);
}

TEST(DefaultWords, NumberFormatOfWords10To26) {
    fresh_store();
    set_default_words();
    const int changed[][2] = {{WRDLEN, 8}, {SINREQ, 1}, {WRDPRN, 1}, {WRDIMP, 3}, {WRDMET, 3},
                              {IZSUPI, 0}, {IZSUPM, 0}, {IDECI, 1},  {IDECM, 1}};
    for (int w : {10, 18, 26})
        for (const auto& c : changed) EXPECT_EQ(configuration_store.word_formats[w][c[0]], c[1]) << w << "," << c[0];
    // The neighbours keep the configuration defaults.
    for (int w : {9, 27}) {
        EXPECT_EQ(configuration_store.word_formats[w][WRDLEN], 2) << w;
        EXPECT_EQ(configuration_store.word_formats[w][IZSUPM], 2) << w;
        EXPECT_EQ(configuration_store.word_formats[w][SINREQ], 0) << w;
    }
    EXPECT_EQ(configuration_store.word_formats[10][WRDCHL], 1);
    EXPECT_EQ(configuration_store.word_formats[10][SCALE_DIVISOR], 1);
}

TEST(DefaultWords, KeysAndCodes) {
    fresh_store();
    set_default_words();
    const configuration_store_t& cs = configuration_store;
    int keys_set = 0;
    for (int k = 1; k <= NUMKEYS; ++k) keys_set += cs.key[k] != NO_WORD;
    EXPECT_EQ(keys_set, 18);
    struct Key { const char* name; int word; };
    const Key keys[] = {{"blocknumber", 2},  {"preparatory function", 3}, {"aux function", 29},
                        {"z coordinate", 12}, {"feedrate", 26},            {"feedrate per revolution", 26},
                        {"drill peck depth", 18}, {"tool radius", 33},     {"message start", 39},
                        {"message end", 40}};
    for (const Key& k : keys) {
        int role = 0;
        for (int r = 1; r <= NUMKEYS && role == 0; ++r)
            if (name_of(KIND_KEY, r) == k.name) role = r;
        ASSERT_GT(role, 0) << k.name;
        EXPECT_EQ(cs.key[role], k.word) << k.name;
    }
    int codes_set = 0;
    for (int s = 1; s <= NUMCODES; ++s) codes_set += cs.icodes[2][s] != UNSET_CODE;
    EXPECT_EQ(codes_set, 34);
    struct Code { const char* name; int word; int value; };
    const Code codes[] = {{"rapid", 3, 0},        {"dwell", 8, 4},        {"compensation on right", 4, 42},
                          {"from", 6, 92},        {"drill", 7, 81},       {"bore 5", 7, 89},
                          {"end of drill", 7, 80}, {"coolant on flood", 29, 8}, {"end of prog", 29, 30}};
    for (const Code& c : codes) {
        int slot = 0;
        for (int s = 1; s <= NUMCODES && slot == 0; ++s)
            if (name_of(KIND_CODE, 100 * s) == c.name) slot = s;
        ASSERT_GT(slot, 0) << c.name;
        EXPECT_EQ(cs.icodes[1][slot], c.word) << c.name;
        EXPECT_EQ(cs.icodes[2][slot], c.value) << c.name;
    }
    EXPECT_EQ(cs.icodes[2][17], UNSET_CODE);  // "feedrate per minute" stays unset
}

TEST(DefaultsSnapshot, KeepsTheDefaultsAndPresetsTheTexts) {
    fresh_store();
    configuration_store.wrdch[3].set(std::string(100, 'x'));
    save_default_configuration();
    const defaults_snapshot_t& d = defaults_snapshot;
    EXPECT_EQ(d.key_default[30], NO_WORD);
    EXPECT_EQ(d.icodes_default[2][1], UNSET_CODE);
    EXPECT_EQ(d.intsp_default[39], 50);
    EXPECT_EQ(d.spval_default[3], 9999.0);
    EXPECT_EQ(d.word_format_defaults[10][WRDLEN], 2);
    EXPECT_EQ(d.wrdrut_default[1], ORDER_END);
    EXPECT_EQ(d.wrdch_default[3].str(), std::string(40, 'x'));  // the first 40 of 128
    EXPECT_EQ(d.spchar_default[2].str(), "Version        1.2");
    EXPECT_EQ(configuration_store.spchar[1].str(), "Quilor Postprocessor");
    EXPECT_EQ(configuration_store.spchar[2].str(), "Version 1.200");
}

TEST(KeywordNames, ByKindAndCode) {
    fresh_store();
    configuration_store_t& cs = configuration_store;
    cs.key[50] = 7;
    cs.icodes[1][95] = 4;
    cs.icodes[2][95] = 12;
    cs.icodes[1][94] = 0;   // a value but no word: not in use
    cs.icodes[2][94] = 12;
    cs.intsp[120] = 3;
    cs.intsp[121] = 0;
    cs.real_options[30] = -0.5;
    cs.spchar[9].set("eob");
    cs.blkspc[3] = 2;
    cs.ppfstr[3].set("  my fun  ");
    cs.user_block_names[2].set("ub");
    struct Case { int kind; int code; const char* name; int in_use; };
    const Case cases[] = {
        {KIND_KEY, 22, "dwell", 1},                    // the key role of a key-and-code keyword
        {KIND_CODE, 500, "dwell", 1},                  // and its function code
        {KIND_KEY_CODE, 1817, "feedrate per revolution", 1},
        {KIND_KEY, 17, "feedrate per revolution", 1},
        {KIND_CODE, 100, "rapid", 1},
        {KIND_INTEGER, 38, "rapid feed code", 1},      // first of two keywords in table order
        {KIND_REAL, 116, "minimum x value", 1},
        {KIND_CHARACTER, 2, "machine name", 1},
        {KIND_BLOCK, 1, "tape start", 1},
        {KIND_KEY, 50, "key  50", 1},
        {KIND_KEY, 51, "", 0},
        {KIND_CODE, 9500, "code  95", 1},
        {KIND_CODE, 9400, "", 0},
        {KIND_CODE, 9550, "", 0},
        {KIND_INTEGER, 120, "integer 120", 1},
        {KIND_INTEGER, 121, "", 0},
        {KIND_REAL, 30, "real  30", 1},
        {KIND_CHARACTER, 9, "character   9", 1},
        {KIND_CHARACTER, 10, "", 0},
        {KIND_BLOCK, 27, "cldat     2", 1},
        {KIND_BLOCK, 26, "", 0},
        {KIND_BLOCK, 47, "ppfun \"  my fun\"", 1},
        {KIND_BLOCK, 66, "user \"ub\"", 1},
        {KIND_BLOCK, 67, "", 0},
        // Codes outside their tables are simply not in use.
        {KIND_KEY, 0, "", 0},
        {KIND_KEY, 81, "", 0},
        {KIND_CODE, 9600, "", 0},
        {KIND_INTEGER, 151, "", 0},
        {KIND_CHARACTER, 21, "", 0},
        {KIND_BLOCK, 115, "", 0},
        {KIND_BLOCK, -1, "", 0},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(name_of(k.kind, k.code), k.name) << k.kind << "," << k.code;
        EXPECT_EQ(keyword_in_use(k.kind, k.code), k.in_use) << k.kind << "," << k.code;
    }
    // A long ppfun name is cut to the caller's field, never beyond it.
    cs.ppfstr[4].set(std::string(120, 'p'));
    text<20> shortname;
    keyword_name(KIND_BLOCK, 48, shortname);
    EXPECT_EQ(std::string(shortname.view()), "ppfun \"ppppppppppppp");
}

TEST(DifferenceDump, NothingLoaded) {
    fresh_snapshot();
    const std::string want = "C ... Word order\n"
                             "C ... linked words\n"
                             "C ... integers\n"
                             "C ... arrays\n" +
                             arrays_section() +
                             "C ... reals\n"
                             "C ... characters\n"
                             "      spchar(  2) = 'Version 1.200'\n"
                             "C ... codes\n"
                             "C ... words\n"
                             "      NGPS =   0\n"
                             "C ... keys\n"
                             "C ... blocks\n" +
                             empty_blocks();
    EXPECT_EQ(dump(), want);
}

TEST(DifferenceDump, DefaultWordsShowAgainstTheSnapshot) {
    fresh_snapshot();
    set_default_words();
    const std::string out = dump();
    std::string order;
    char line[64];
    for (int w = 1; w <= 39; ++w) {
        std::snprintf(line, sizeof line, "      wrdrut(%3d) = %5d\n", w, w);
        order += line;
    }
    EXPECT_EQ(section(out, "C ... Word order"), order);
    EXPECT_EQ(section(out, "C ... linked words"), "      wrdlnk( 37) =    38\n");
    EXPECT_EQ(section(out, "C ... integers"), "      intsp( 39) =    40\n");
    EXPECT_EQ(section(out, "C ... reals"), "");
    const std::string codes = section(out, "C ... codes");
    EXPECT_EQ(codes.rfind("      icodes(1,  1) =     3\n      icodes(2,  1) =     0\n", 0), 0u);
    EXPECT_NE(codes.find("      icodes(1, 57) =    29\n      icodes(2, 57) =    30\n"), std::string::npos);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), '\n'), 2 * 34);
    const std::string words = section(out, "C ... words");
    EXPECT_EQ(words.rfind("C\n      gpnams(  1) = '/'\n      wrdch(  1) = '/'\nC\n", 0), 0u);
    EXPECT_NE(words.find("C\n      gpnams( 10) = 'X'\n      wrdch( 10) = 'X'\n      wrdlen( 10) =     8\n"
                         "      sinreq( 10) =     1\n      wrdmod( 10) =     1\n      wrdprn( 10) =     1\n"
                         "      wrdmet( 10) =     3\n      wrdimp( 10) =     3\n      izsupi( 10) =     0\n"
                         "      izsupm( 10) =     0\n      ideci( 10) =     1\n      idecm( 10) =     1\nC\n"),
              std::string::npos);
    EXPECT_NE(words.find("C\n      gpnams(  9) = 'G7'\n      wrdch(  9) = 'G7'\n      wrdmod(  9) =     1\nC\n"),
              std::string::npos);
    EXPECT_NE(words.find("C\n      gpnams( 39) = 'EOB'\n      wrdch( 39) = '*'\n      NGPS =  39\n"), std::string::npos);
    EXPECT_EQ(count_lines(words, "C"), 39);
    const std::string keys = section(out, "C ... keys");
    EXPECT_EQ(keys.rfind("      key(  1) =     2\n      key(  2) =     3\n      key(  3) =    29\n", 0), 0u);
    EXPECT_NE(keys.find("      key( 29) =    39\n      key( 30) =    40\n"), std::string::npos);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), '\n'), 18);
    EXPECT_EQ(section(out, "C ... blocks"), empty_blocks());
}

// The dump of a built-in control is in the notation of the lists: each of its
// assignment lines reads back and holds on the loaded store, and the lines
// alone, laid on the defaults, rebuild every value the list set and dump the same.
TEST(DifferenceDump, BuiltinListsReadBack) {
    for (const char* control : {"standard", "fanuc"}) {
        SCOPED_TRACE(control);
        fresh_snapshot();
        set_default_words();
        int status = -1;
        load_builtin_control(control, status);
        ASSERT_EQ(status, 0);
        const std::string out = dump();

        std::vector<setting_assignment> lines;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("C", 0) == 0) continue;
            setting_assignment a;
            ASSERT_EQ(read_assignment(line, a), 0) << line;
            EXPECT_EQ(assignment_holds(a), 1) << line;
            lines.push_back(a);
        }

        fresh_snapshot();
        for (const setting_assignment& a : lines) apply_assignment(a);
        for (const char* l : find_setting_list(control)) {
            setting_assignment a;
            ASSERT_EQ(read_assignment(l, a), 0) << l;
            EXPECT_EQ(assignment_holds(a), 1) << l;
        }
        EXPECT_EQ(dump(), out);
    }
}

// A store filled by hand with what no built-in list of this build sets.
TEST(DifferenceDump, HandFilledStore) {
    fresh_snapshot();
    configuration_store_t& cs = configuration_store;
    cs.NGPS = 2;
    cs.gpnams[1].set("X");
    cs.wrdch[1].set("X");
    cs.word_formats[1][SINREQ] = 2;
    cs.word_formats[1][EXPONENT_WIDTH] = 3;  // never shown, like the scale divisor
    cs.word_formats[1][SCALE_DIVISOR] = 4;
    cs.wperm[2] = 2;
    cs.wrdch[2].set(std::string(40, ' ') + "beyond 40");
    cs.intsp[63] = -999;                     // equal to the default: not shown
    cs.intsp[150] = 7;
    cs.real_options[1] = 99999.000001;       // within the tolerance
    cs.real_options[5] = 2450.0;
    cs.real_options[161] = 2.5;              // "spindle output" element 1
    cs.real_options[41] = 3.0;               // other list entries never show
    cs.spchar[1].set("Quilor Postprocessor" + std::string(30, ' ') + "tail");
    cs.spchar[3].set(",");
    cs.spchar[7].set("it's");
    cs.spchar[2].set("Version        1.2");  // back to the snapshot: not shown
    cs.icodes[1][3] = 5;
    cs.icodes[2][3] = 1003;
    cs.scodes[3].set("-");
    cs.icodes[1][6] = 1;                     // equal to the default
    cs.key[22] = 10;
    cs.blklen[1] = 2;
    cs.block_items[1][1] = {LITERAL_ITEM, 0, 10};
    cs.block_texts[1][1].set(std::string("\x04", 1));
    cs.block_items[1][2] = {LITERAL_ITEM, 0, 20};
    cs.block_texts[1][2].set("TOOL CALL 1234567890 abcdefgh");
    cs.blklen[22] = 1;                       // "datum shift": not dumped
    cs.block_items[22][1] = {14002, 0, 0};
    cs.blkspc[3] = 2;
    cs.blklen[27] = 1;
    cs.block_items[27][1] = {WORD_EXPR_ITEM + 40, 0, 10};
    cs.block_texts[27][1].set("FromZ");
    cs.ppfstr[2].set("probe");
    cs.blklen[46] = 1;
    cs.block_items[46][1] = {14002, 0, 1};

    const std::string out = dump();
    EXPECT_EQ(section(out, "C ... Word order"), "");
    EXPECT_EQ(section(out, "C ... integers"), "      intsp(150) =     7\n");
    EXPECT_EQ(section(out, "C ... arrays").rfind("      avals(1,8)  =     1.000000\n      avals(2,8)  =     1.000000\n"
                                                 "      avals(1,9)  =     2.500000\n      avals(2,9)  =     1.000000\n",
                                                 0),
              0u);
    EXPECT_EQ(section(out, "C ... reals"), "      spval(  5) =  2450.000000\n");
    EXPECT_EQ(section(out, "C ... characters"),
              "      spchar(  1) = 'Quilor Postprocessor                              tail'\n"
              "      spchar(  3) = ','\n"
              "      spchar(  7) = 'it''s'\n");
    EXPECT_EQ(section(out, "C ... codes"),
              "      icodes(1,  3) =     5\n      icodes(2,  3) =  1003\n      scodes(  3) = '-'\n");
    EXPECT_EQ(section(out, "C ... words"),
              "C\n      gpnams(  1) = 'X'\n      wrdch(  1) = 'X'\n      sinreq(  1) =     2\n"
              "C\n      wperm(  2) =     2\n      wrdch(  2) = '                                        beyond 40'\n"
              "      NGPS =   2\n");
    EXPECT_EQ(section(out, "C ... keys"), "      key( 22) =    10\n");
    std::string blocks = "      blklen(  1) =     2\n"
                         "      bltpst( 1,  1) = 99900000\n      bltpst( 3,  1) =       10\n"
                         "      bltpst( 1,  2) = 99900000\n      bltpst( 3,  2) =       20\n"
                         "      blstps(  1) = '\x04                       '\n"
                         "      blstps(  2) = 'TOOL CALL 1234567890 abc'\n";
    blocks += empty_blocks().substr(26);
    blocks += "      BLKLEN(NUMBLK+  3) = |   1\n"
              "      blkspc(  3) =     2\n"
              "      blspec( 1,  1,  3) = 99915040\n      blspec( 3,  1,  3) =       10\n"
              "      blsspc(  1,  3) = 'FromZ                   '\n"
              "      BLKLEN(NUMBLK+MAXSPB+  2) =    1\n"
              "      ppfstr(  2) = 'probe'\n"
              "      blmppf( 1,  1,  2) =    14002\n      blmppf( 3,  1,  2) =        1\n";
    EXPECT_EQ(section(out, "C ... blocks"), blocks);
}

// A block length beyond the item table shows the items there are, and a word
// count beyond the word tables the words there are.
TEST(DifferenceDump, CountsBeyondTheirTables) {
    fresh_snapshot();
    configuration_store.blklen[1] = MAXITEMS + 5;
    configuration_store.NGPS = MAXWORDS + 5;
    const std::string out = dump();
    EXPECT_EQ(count_lines(out, "C"), MAXWORDS);
    EXPECT_NE(out.find("      NGPS = 100\n"), std::string::npos);
    EXPECT_NE(out.find("      blklen(  1) =  1029\n      blklen(  2) =     0\n"), std::string::npos);
}

// The widest values come out whole: the largest real and a setting of quotes.
TEST(DifferenceDump, WidestValues) {
    fresh_snapshot();
    configuration_store.real_options[4] = -1.0e308;
    configuration_store.spchar[9].set(std::string(SPCHAR_LENGTH, '\''));
    const std::string out = dump();
    char real[400];
    std::snprintf(real, sizeof real, "      spval(  4) = %12.6f\n", -1.0e308);
    EXPECT_EQ(section(out, "C ... reals"), real);
    EXPECT_NE(out.find("      spchar(  9) = '" + std::string(2 * SPCHAR_LENGTH, '\'') + "'\n"), std::string::npos);
}
