// The difference dump "-f": every value of the loaded control that differs
// from the defaults snapshot, as assignment lines table(indices) = value under
// comment headings, in the notation of the built-in setting lists.
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "control/control.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

// Regular blocks 1..DUMPED_BLOCKS are dumped; "datum shift", "multiaxis
// transition" and "special record" are not.

// Characters of a block string shown between its quotes: always this many,
// trailing blanks included, since a literal's blanks reach the tape.
constexpr int BLOCK_STRING_SHOWN = 24;

// Real settings are equal to their defaults within this.
constexpr double REAL_TOLERANCE = 0.00001;

// The list entries that are always shown: "coolant output" (list 8),
// "spindle output" (9), "circle output" (10), "compensation output" (11).
struct list_entry {
    int i;
    int j;
};
constexpr list_entry SHOWN_LIST_ENTRIES[] = {
    {1, 8},  {2, 8},  {1, 9},  {2, 9},  {3, 9},  {4, 9},  {1, 10},
    {2, 10}, {3, 10}, {4, 10}, {1, 11}, {2, 11}, {3, 11}, {4, 11},
};

// The word-format columns shown for each word, in this order, where they
// differ from the snapshot (the sign also wherever it is not 0).
constexpr int SHOWN_COLUMNS[] = {
    WRDCHL, WRDLEN, WRDPOS, ITPPOS, SINREQ, WRDMOD, WRDFAC, WRDPRN,
    WRDMET, WRDIMP, IZSUPI, IZSUPM, IDECI,  IDECM,
};

// Long enough for the longest line: the largest real in fixed notation (over
// 300 digits), or a 132-character setting of quotes, each doubled.
constexpr int DUMP_LINE_LENGTH = 512;

void print_formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

void print_formatted(const char* format, ...) {
    char line[DUMP_LINE_LENGTH];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    print_cstring_line(line);
}

// A text as it stands between the quotes of an assignment: a quote inside is
// doubled so that the closing quote stays unambiguous when the line is read
// back, and a NUL, which a text field counts as a blank, is shown as one.
void quote_text(std::string_view value, char* out, std::size_t capacity) {
    std::size_t n = 0;
    for (char ch : value) {
        if (ch == '\0') ch = ' ';
        const std::size_t need = ch == '\'' ? 2 : 1;
        if (n + need >= capacity) break;
        out[n++] = ch;
        if (ch == '\'') out[n++] = ch;
    }
    out[n] = '\0';
}

// A block string: its first BLOCK_STRING_SHOWN characters, blanks included.
void print_block_string(const char* name, int index, int slot, std::string_view value) {
    char quoted[2 * BLOCK_STRING_SHOWN + 1];
    quote_text(value.substr(0, BLOCK_STRING_SHOWN), quoted, sizeof quoted);
    if (slot == 0)
        print_formatted("      %s(%3d) = '%s'", name, index, quoted);
    else
        print_formatted("      %s(%3d,%3d) = '%s'", name, index, slot, quoted);
}

bool texts_differ(std::string_view a, std::string_view b) { return text_equals(a, b) == 0; }

}  // namespace

void print_int_line(const char* name, int index, int value) {
    print_formatted("      %s(%3d) = %5d", name, index, value);
}

void print_code_line(int slot, int word, int value) {
    print_formatted("      %s(1,%3d) = %5d", "icodes", slot, word);
    print_formatted("      %s(2,%3d) = %5d", "icodes", slot, value);
}

void print_real_line(const char* name, int index, double value) {
    print_formatted("      %s(%3d) = %12.6f", name, index, value);
}

void print_list_line(int i, int j, double value) {
    char label[32];
    std::snprintf(label, sizeof label, "avals(%d,%d)", i, j);
    print_formatted("      %s  = %12.6f", label, value);
}

// The value is shown trimmed: trailing blanks of a text field are padding.
void print_text_line(const char* name, int index, std::string_view value) {
    char quoted[2 * SPCHAR_LENGTH + 1];
    quote_text(trimmed(value), quoted, sizeof quoted);
    print_formatted("      %s(%3d) = '%s'", name, index, quoted);
}

void print_block_items(const char* items_name, const char* strings_name, int block, int count, int slot) {
    const configuration_store_t& cs = configuration_store;
    // A length beyond the table is not the control's to give; only real items are shown.
    const int n = count < 0 ? 0 : (count > MAXITEMS ? MAXITEMS : count);
    for (int i = 1; i <= n; ++i) {
        const block_item_t& item = cs.block_items[block][i];
        const int words[3] = {item.code, item.value, item.string_ref};
        for (int j = 1; j <= 3; ++j) {
            if (words[j - 1] == 0) continue;
            if (slot == 0)
                print_formatted("      %s(%2d,%3d) = %8d", items_name, j, i, words[j - 1]);
            else
                print_formatted("      %s(%2d,%3d,%3d) = %8d", items_name, j, i, slot, words[j - 1]);
        }
    }
    for (int s = 1; s <= n; ++s) {
        const std::string_view value = cs.block_texts[block][s].view();
        if (trimmed_length(value) > 0) print_block_string(strings_name, s, slot, value);
    }
}

void print_configuration_differences() {
    const configuration_store_t& cs = configuration_store;
    const defaults_snapshot_t& d = defaults_snapshot;

    print_cstring_line("C ... Word order");
    for (int n = 1; n <= MAXWORDS; ++n)
        if (cs.wrdrut[n] != d.wrdrut_default[n]) print_int_line("wrdrut", n, cs.wrdrut[n]);

    print_cstring_line("C ... linked words");
    for (int n = 1; n <= MAXWORDS; ++n)
        if (cs.wrdlnk[n] != NO_LINK) print_int_line("wrdlnk", n, cs.wrdlnk[n]);

    print_cstring_line("C ... integers");
    for (int n = 1; n <= NUMINTSP; ++n)
        if (cs.intsp[n] != d.intsp_default[n]) print_int_line("intsp", n, cs.intsp[n]);

    print_cstring_line("C ... arrays");
    for (const list_entry& e : SHOWN_LIST_ENTRIES)
        print_list_line(e.i, e.j, cs.real_options[NUMSPVAL + AVALS_ROWS * (e.j - 1) + e.i]);

    print_cstring_line("C ... reals");
    for (int n = 1; n <= NUMSPVAL; ++n)
        if (std::fabs(cs.real_options[n] - d.spval_default[n]) >= REAL_TOLERANCE)
            print_real_line("spval", n, cs.real_options[n]);

    print_cstring_line("C ... characters");
    for (int n = 1; n <= NUMSPCHAR; ++n)
        if (texts_differ(cs.spchar[n], d.spchar_default[n])) print_text_line("spchar", n, cs.spchar[n]);

    print_cstring_line("C ... codes");
    for (int s = 1; s <= NUMCODES; ++s) {
        if (cs.icodes[1][s] != d.icodes_default[1][s] || cs.icodes[2][s] != d.icodes_default[2][s])
            print_code_line(s, cs.icodes[1][s], cs.icodes[2][s]);
        if (cs.icodes[2][s] >= TEXT_CODE_BASE) print_text_line("scodes", s, cs.scodes[s]);
    }

    print_cstring_line("C ... words");
    // NGPS never passes MAXDEFWORDS when a control source set it; the bound
    // keeps a bad count from reading past the word tables.
    const int words = cs.NGPS < 0 ? 0 : (cs.NGPS > MAXWORDS ? MAXWORDS : cs.NGPS);
    for (int i = 1; i <= words; ++i) {
        print_cstring_line("C");
        if (cs.wperm[i] != 0) print_int_line("wperm", i, cs.wperm[i]);
        if (texts_differ(cs.gpnams[i], d.gpnams_default[i])) print_text_line("gpnams", i, cs.gpnams[i]);
        if (texts_differ(cs.wrdch[i], d.wrdch_default[i])) print_text_line("wrdch", i, cs.wrdch[i]);
        for (const int column : SHOWN_COLUMNS) {
            const int value = cs.word_formats[i][column];
            const bool shown = column == SINREQ ? value != 0 : value != d.word_format_defaults[i][column];
            if (shown) print_int_line(WORD_COLUMN_NAMES[column], i, value);
        }
    }
    print_formatted("      NGPS = %3d", cs.NGPS);

    print_cstring_line("C ... keys");
    for (int k = 1; k <= NUMKEYS; ++k)
        if (cs.key[k] != d.key_default[k]) print_int_line("key", k, cs.key[k]);

    print_cstring_line("C ... blocks");
    for (int b = 1; b <= DUMPED_BLOCKS; ++b) {
        print_int_line("blklen", b, cs.blklen[b]);
        print_block_items(BLOCK_ARRAY_NAMES[b - 1].items, BLOCK_ARRAY_NAMES[b - 1].strings, b, cs.blklen[b], 0);
    }
    for (int s = 1; s <= MAXSPB; ++s) {
        if (cs.blkspc[s] == -1) continue;
        const int b = CLDAT_BASE + s;
        print_formatted("      BLKLEN(NUMBLK+%3d) = |%4d", s, cs.blklen[b]);
        print_int_line("blkspc", s, cs.blkspc[s]);
        print_block_items("blspec", "blsspc", b, cs.blklen[b], s);
    }
    for (int s = 1; s <= PPFUN_SLOTS; ++s) {
        if (trimmed_length(cs.ppfstr[s]) == 0) continue;
        const int b = PPFUN_BASE + s;
        print_formatted("      BLKLEN(NUMBLK+MAXSPB+%3d) = %4d", s, cs.blklen[b]);
        print_text_line("ppfstr", s, cs.ppfstr[s]);
        print_block_items("blmppf", "blsppf", b, cs.blklen[b], s);
    }
}

}  // namespace kv
