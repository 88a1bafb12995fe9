// The list generator: compiles the option-file text of one built-in control
// (src/builtins/controls/NAME.opt) with the option compiler and writes the
// C++ source of its setting list, the assignments that lay the control over
// the default words, one a line in the notation of the difference dump.
//
// Usage: list_generator SOURCE.opt OUTPUT.cpp NAME
//
// The source is an option file. Lines that begin with "#=" are assignments
// in the list notation for what the option language cannot say: those
// before the "machine" statement are laid over the default words before the
// text is compiled (a default word given a new name, so that the text can
// call it by that name); those after "end" are applied after it (a repeated
// assignment, a control character in a string, a column no statement sets).
//
// The list holds, in a fixed order, every element that the text assigns (also
// where it assigns the value the default words already have, so that the
// list says what the text says), then the "#=" lines after "end". Which
// elements the text assigns is found by compiling it twice: onto the default
// words, and onto a copy in which every element the text could assign holds
// another value. An element the text assigns comes out the same from both.
// Word names, the word count and the word order, which the compiler looks
// up, are not disturbed; they are listed where the text changes them.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"
#include "runtime/runtime.h"

using namespace kv;

namespace {

constexpr int SHIFT = 100003;          // moves an integer element off any value a text gives
constexpr double REAL_SHIFT = 1.5e6;   // moves a real element
constexpr char SHIFT_MARK = '\x01';    // replaces a text element
constexpr int ZERO_FLAG_BITS = 3;      // the two bits "leading zeros" and "trailing zeros" set
// The word-format columns a list may set, in the order they are listed.
constexpr int LISTED_COLUMNS[] = {WRDCHL, WRDLEN, WRDPOS, ITPPOS, WRDMOD, SINREQ, WRDFAC, WRDPRN,
                                  WRDIMP, WRDMET, IZSUPI, IZSUPM, IDECI,  IDECM,  SCALE_DIVISOR};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "list_generator: %s\n", what.c_str());
    std::exit(1);
}

std::unique_ptr<configuration_store_t> copy_store() {
    return std::make_unique<configuration_store_t>(configuration_store);
}

// The default words, as a built-in list finds them.
void lay_default_words(const configuration_store_t& pristine) {
    configuration_store = pristine;
    set_configuration_defaults();
    set_default_words();
}

void apply_lines(const std::vector<std::string>& lines, const std::string& source) {
    for (const std::string& line : lines) {
        setting_assignment a;
        if (read_assignment(line, a) != 0) fail(source + ": not an assignment: " + line);
        apply_assignment(a);
    }
}

bool is_zero_flag_column(int c) { return c == IZSUPI || c == IZSUPM; }

// Every element that a text may assign gets a value that no text gives it.
// The zero-flag columns are set bit by bit: both bits are flipped, so that a
// text that sets both bits gives the same column, and one that sets only one
// bit does not.
void shift_assignable(configuration_store_t& s) {
    for (int w = 1; w <= MAXWORDS; ++w) {
        s.wrdch[w].set(std::string_view(&SHIFT_MARK, 1));
        for (int c = 1; c <= NFORMAT; ++c)
            s.word_formats[w][c] = is_zero_flag_column(c) ? s.word_formats[w][c] ^ ZERO_FLAG_BITS
                                                          : s.word_formats[w][c] + SHIFT;
        s.wperm[w] += SHIFT;
        s.wrdlnk[w] += SHIFT;
    }
    for (int k = 1; k <= NUMKEYS; ++k) s.key[k] += SHIFT;
    for (int n = 1; n <= NUMCODES; ++n) {
        s.icodes[1][n] += SHIFT;
        s.icodes[2][n] += SHIFT;
        s.scodes[n].set(std::string_view(&SHIFT_MARK, 1));
    }
    for (int n = 1; n <= NUMINTSP; ++n) s.intsp[n] += SHIFT;
    for (int n = 1; n <= NUMREALS; ++n) s.real_options[n] += REAL_SHIFT;
    for (int n = 1; n <= NUMSPCHAR; ++n) s.spchar[n].set(std::string_view(&SHIFT_MARK, 1));
    for (int b = 1; b <= NUMBLK + MAXSPB; ++b) s.blklen[b] += SHIFT;
}

// Compiles the source onto the store; the compiler stops the program with
// its messages on an error in the text.
void compile_source(const std::string& source) {
    int unit = NO_UNIT;
    int status = 0;
    open_unit(unit, source, OPEN_READ, FORM_TEXT, status);
    if (status != 0) fail("cannot read " + source);
    parse_option_file(unit, source);
    filclo(unit, status);
}

// The name of one element: table(a), table(a,b) or table(a,b,c).
std::string element(const std::string& table, int a, int b = 0, int c = 0) {
    char buffer[96];
    if (c != 0) std::snprintf(buffer, sizeof buffer, "%s(%d,%d,%d)", table.c_str(), a, b, c);
    else if (b != 0) std::snprintf(buffer, sizeof buffer, "%s(%d,%d)", table.c_str(), a, b);
    else std::snprintf(buffer, sizeof buffer, "%s(%d)", table.c_str(), a);
    return buffer;
}

// --- values as the list notation writes them ----------------------------------------

std::string int_text(int v) { return std::to_string(v); }

std::string real_text(double v) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (ec != std::errc()) fail("real value out of range");
    std::string s(buffer, end);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

// A text, trimmed, between single quotes (a quote doubled); a text of one
// control character is char(n).
std::string quoted_text(std::string_view t, const std::string& element) {
    const std::string_view s = trimmed(t);
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 32 || u > 126) {
            if (s.size() == 1) return "char(" + std::to_string(u) + ")";
            fail(element + " holds a control character among other text: give it in a \"#=\" line");
        }
    }
    std::string out = "'";
    for (char ch : s) {
        out += ch;
        if (ch == '\'') out += '\'';
    }
    return out + "'";
}

// --- the assignments of the compiled text -----------------------------------------------

struct list_writer {
    const configuration_store_t& base;      // the default words (and the "#=" lines before the text)
    const configuration_store_t& compiled;  // the text compiled onto them
    const configuration_store_t& shifted;   // the text compiled onto the shifted copy
    std::vector<std::string> lines;

    void add(const std::string& element, const std::string& value) { lines.push_back(element + " = " + value); }

    // Elements whose value the text gives whatever they held.
    void written_int(const std::string& element, int v, int b, int s) {
        if (v == s) {
            add(element, int_text(v));
        } else if (v != b) {
            fail(element + " is changed by the text but depends on its earlier value");
        }
    }
    void written_real(const std::string& element, double v, double b, double s) {
        if (v == s) {
            add(element, real_text(v));
        } else if (v != b) {
            fail(element + " is changed by the text but depends on its earlier value");
        }
    }
    void written_text(const std::string& element, std::string_view v, std::string_view b, std::string_view s) {
        if (text_equals(v, s)) {
            add(element, quoted_text(v, element));
        } else if (!text_equals(v, b)) {
            fail(element + " is changed by the text but depends on its earlier value");
        }
    }

    void words() {
        if (compiled.NGPS != base.NGPS) add("NGPS", int_text(compiled.NGPS));
        for (int w = 1; w <= MAXWORDS; ++w) {
            if (!text_equals(compiled.gpnams[w], base.gpnams[w]))
                add(element("gpnams", w), quoted_text(compiled.gpnams[w], element("gpnams", w)));
            written_text(element("wrdch", w), compiled.wrdch[w], base.wrdch[w], shifted.wrdch[w]);
            for (int c : LISTED_COLUMNS)
                written_int(element(WORD_COLUMN_NAMES[c], w), compiled.word_formats[w][c], base.word_formats[w][c],
                            shifted.word_formats[w][c]);
            written_int(element("wperm", w), compiled.wperm[w], base.wperm[w], shifted.wperm[w]);
        }
        for (int n = 1; n <= MAXWORDS; ++n)
            if (compiled.wrdrut[n] != base.wrdrut[n]) add(element("wrdrut", n), int_text(compiled.wrdrut[n]));
    }

    void keys_and_codes() {
        for (int k = 1; k <= NUMKEYS; ++k)
            written_int(element("key", k), compiled.key[k], base.key[k], shifted.key[k]);
        for (int n = 1; n <= NUMCODES; ++n) {
            for (int row = 1; row <= 2; ++row)
                written_int(element("icodes", row, n), compiled.icodes[row][n], base.icodes[row][n],
                            shifted.icodes[row][n]);
            written_text(element("scodes", n), compiled.scodes[n], base.scodes[n], shifted.scodes[n]);
        }
        for (int w = 1; w <= MAXWORDS; ++w)
            written_int(element("wrdlnk", w), compiled.wrdlnk[w], base.wrdlnk[w], shifted.wrdlnk[w]);
    }

    void settings() {
        for (int n = 1; n <= NUMINTSP; ++n)
            written_int(element("intsp", n), compiled.intsp[n], base.intsp[n], shifted.intsp[n]);
        for (int n = 1; n <= NUMSPVAL; ++n)
            written_real(element("spval", n), compiled.real_options[n], base.real_options[n], shifted.real_options[n]);
        for (int j = 1; j <= AVALS_LISTS; ++j) {
            for (int i = 1; i <= AVALS_ROWS; ++i) {
                const int r = NUMSPVAL + AVALS_ROWS * (j - 1) + i;
                written_real(element("avals", i, j), compiled.real_options[r], base.real_options[r],
                             shifted.real_options[r]);
            }
        }
        for (int n = 1; n <= NUMSPCHAR; ++n)
            written_text(element("spchar", n), compiled.spchar[n], base.spchar[n], shifted.spchar[n]);
    }

    // A block the text defines: its length, the item words that are not 0
    // and every string its items refer to. A cldat block's elements carry
    // its slot as their last index (0 for a regular block).
    void block(int b, const std::string& items, const std::string& strings, int slot) {
        const int count = compiled.blklen[b];
        int last_string = 0;
        for (int i = 1; i <= count; ++i) {
            const block_item_t& it = compiled.block_items[b][i];
            const int words[3] = {it.code, it.value, it.string_ref};
            for (int j = 1; j <= 3; ++j)
                if (words[j - 1] != 0)
                    add(element(items, j, i, slot), int_text(words[j - 1]));
            if (it.string_ref / 10 > last_string) last_string = it.string_ref / 10;
        }
        for (int s = 1; s <= last_string; ++s)
            add(element(strings, s, slot), quoted_text(compiled.block_texts[b][s], element(strings, s, slot)));
    }

    void blocks() {
        for (int b = 1; b <= DUMPED_BLOCKS; ++b) {
            if (compiled.blklen[b] != shifted.blklen[b]) {
                if (compiled.blklen[b] != base.blklen[b]) fail(element("blklen", b) + " depends on its earlier value");
                continue;
            }
            add(element("blklen", b), int_text(compiled.blklen[b]));
            block(b, BLOCK_ARRAY_NAMES[b - 1].items, BLOCK_ARRAY_NAMES[b - 1].strings, 0);
        }
        if (compiled.special_block_count != base.special_block_count)
            add("special_block_count", int_text(compiled.special_block_count));
        for (int s = 1; s <= MAXSPB; ++s) {
            if (compiled.blkspc[s] == base.blkspc[s]) continue;
            const int b = CLDAT_BASE + s;
            add(element("blklen", b), int_text(compiled.blklen[b]));
            add(element("blkspc", s), int_text(compiled.blkspc[s]));
            block(b, "blspec", "blsspc", s);
        }
    }
};

// What a list cannot hold must not be in the text: blocks 22 to 24, ppfun
// and user blocks, the zero character, upper case and the exponent width.
void check_nothing_else(const configuration_store_t& base, const configuration_store_t& compiled) {
    for (int w = 1; w <= MAXWORDS; ++w) {
        if (!text_equals(compiled.word_zero_text[w], base.word_zero_text[w]) ||
            compiled.word_upper_case[w] != base.word_upper_case[w] ||
            compiled.word_formats[w][EXPONENT_WIDTH] != base.word_formats[w][EXPONENT_WIDTH])
            fail("word " + std::to_string(w) + ": the zero character, upper case and exponent width are not held by a list");
    }
    for (int b = DUMPED_BLOCKS + 1; b <= NUMBLOCKS; ++b) {
        if (b > NUMBLK && b <= NUMBLK + MAXSPB) continue;
        if (compiled.blklen[b] != base.blklen[b]) fail("block " + std::to_string(b) + " is not held by a list");
    }
}

// The list applied to the default words must give the store the text gives.
void check_list(const configuration_store_t& pristine, const std::vector<std::string>& lines,
                const configuration_store_t& expected, const std::string& source) {
    lay_default_words(pristine);
    apply_lines(lines, source);
    const configuration_store_t& s = configuration_store;
    bool same = s.NGPS == expected.NGPS && s.special_block_count == expected.special_block_count &&
                s.key.a == expected.key.a && s.intsp.a == expected.intsp.a && s.wrdrut.a == expected.wrdrut.a &&
                s.wrdlnk.a == expected.wrdlnk.a && s.wperm.a == expected.wperm.a && s.blkspc.a == expected.blkspc.a;
    for (int n = 1; same && n <= NUMCODES; ++n)
        same = s.icodes[1][n] == expected.icodes[1][n] && s.icodes[2][n] == expected.icodes[2][n] &&
               text_equals(s.scodes[n], expected.scodes[n]);
    for (int w = 1; same && w <= MAXWORDS; ++w) {
        same = text_equals(s.gpnams[w], expected.gpnams[w]) && text_equals(s.wrdch[w], expected.wrdch[w]);
        for (int c : LISTED_COLUMNS) same = same && s.word_formats[w][c] == expected.word_formats[w][c];
    }
    for (int n = 1; same && n <= NUMREALS; ++n) same = s.real_options[n] == expected.real_options[n];
    for (int n = 1; same && n <= NUMSPCHAR; ++n) same = text_equals(s.spchar[n], expected.spchar[n]);
    for (int b = 1; same && b <= NUMBLK + MAXSPB; ++b) {
        same = s.blklen[b] == expected.blklen[b];
        for (int i = 1; same && i <= s.blklen[b]; ++i) {
            const block_item_t& x = s.block_items[b][i];
            const block_item_t& y = expected.block_items[b][i];
            same = x.code == y.code && x.value == y.value && x.string_ref == y.string_ref;
        }
        for (int t = 1; same && t <= MAXITEMS; ++t) same = text_equals(s.block_texts[b][t], expected.block_texts[b][t]);
    }
    if (!same) fail(source + ": the list does not give the control the text gives");
}

// The assignment of a "#=" line: what follows "#=" (at `from`), up to a "#"
// outside quotes that begins a comment after it.
std::string list_line_assignment(const std::string& line, std::size_t from, const std::string& source) {
    std::string a = line.substr(from);
    std::size_t end = 0;
    bool in_text = false;
    for (; end < a.size(); ++end) {
        if (a[end] == '\'') in_text = !in_text;
        if (a[end] == '#' && !in_text) break;
    }
    a = a.substr(0, end);
    const std::size_t start = a.find_first_not_of(" \t");
    if (start == std::string::npos) fail(source + ": an empty \"#=\" line");
    return std::string(trimmed(std::string_view(a).substr(start)));
}

// The "#=" lines of the source: those before its first statement (the
// "machine" statement), and those after it, which apply after the text.
void read_list_lines(const std::string& source, std::vector<std::string>& before, std::vector<std::string>& after) {
    std::ifstream in(source);
    if (!in) fail("cannot read " + source);
    std::string line;
    bool text_started = false;
    while (std::getline(in, line)) {
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        if (line.compare(first, 2, "#=") == 0) {
            (text_started ? after : before).push_back(list_line_assignment(line, first + 2, source));
        } else if (line[first] != '#') {
            text_started = true;
        }
    }
}

std::string cpp_string(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        if (ch == '"' || ch == '\\') out += '\\';
        out += ch;
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) fail("usage: list_generator SOURCE.opt OUTPUT.cpp NAME");
    const std::string source = argv[1];
    const std::string output = argv[2];
    const std::string name = argv[3];

    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    command_switches.continue_after_error = 0;

    std::vector<std::string> before;
    std::vector<std::string> after;
    read_list_lines(source, before, after);

    static const auto pristine = std::make_unique<configuration_store_t>();
    lay_default_words(*pristine);
    apply_lines(before, source);
    const auto base = copy_store();

    shift_assignable(configuration_store);
    compile_source(source);
    const auto shifted = copy_store();

    configuration_store = *base;
    compile_source(source);
    const auto compiled = copy_store();
    check_nothing_else(*base, *compiled);

    lay_default_words(*pristine);
    const auto defaults = copy_store();
    list_writer writer{*defaults, *compiled, *shifted, {}};
    writer.words();
    writer.keys_and_codes();
    writer.settings();
    writer.blocks();
    std::vector<std::string> lines = writer.lines;
    lines.insert(lines.end(), after.begin(), after.end());

    configuration_store = *compiled;
    apply_lines(after, source);
    const auto expected = copy_store();
    check_list(*pristine, lines, *expected, source);

    std::ostringstream out;
    out << "// Generated by the list generator from the option-file text of the built-in\n"
        << "// control " << name << " (src/builtins/controls/" << name << ".opt); do not edit.\n"
        << "#include \"builtins/builtins.h\"\n\nnamespace kv {\n\nnamespace {\n\nconst char* const LINES[] = {\n";
    for (const std::string& line : lines) out << "    " << cpp_string(line) << ",\n";
    out << "};\n\n}  // namespace\n\nstd::span<const char* const> " << name
        << "_setting_list() { return LINES; }\n\n}  // namespace kv\n";
    std::ofstream file(output, std::ios::binary);
    file << out.str();
    if (!file) fail("cannot write " + output);
    return 0;
}
