// The option-file text of the loaded control ("-w", "-q"): words, links, word
// order, keys, codes, settings, lists and blocks, written so that the option
// compiler reads them back into the same control.
#include <cstdio>
#include <cstring>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

configuration_store_t& cs = configuration_store;

// Columns of the layout.
constexpr int ITEM_FIRST_COLUMN = 5;      // block items, key and code names
constexpr int ITEM_LAST_COLUMN = 80;      // an item that would pass it starts a new line
constexpr int ASSIGN_COLUMN = 39;         // "=" or "not used" of keys and codes
constexpr int KEY_WORD_COLUMN = 41;
constexpr int CODE_WORD_COLUMN = 42;
constexpr int CODE_VALUE_COLUMN = 46;
constexpr int CODE_TEXT_COLUMN = 48;
constexpr int FORMAT_NAMES_COLUMN = 20;   // names of a format definition
constexpr int FORMAT_LAST_COLUMN = 79;    // a name that would pass it goes on a continuation line
constexpr int ORDER_FIRST_COLUMN = 23;    // word-order entries
constexpr int ORDER_ENTRY_WIDTH = 5;
constexpr int ORDER_ENTRIES_A_LINE = 7;
constexpr int PICTURE_OPTIONS_COLUMN = 60;
constexpr int INCH_SHIFT = 17;            // the imperial picture lies this far right of the metric one
constexpr int LIST_FIELD = 7;             // list entries; SHORT for lists of LONG_LIST entries or more
constexpr int LIST_FIELD_SHORT = 3;
constexpr int LONG_LIST = 8;
constexpr int REAL_FIELD_READ = 14;       // characters of a real that the compiler reads
constexpr int REAL_SETTING_DECIMALS = 4;  // "%10.4f", more only when four lose the value
constexpr int REAL_SETTING_WIDTH = 10;
constexpr int MAX_DECIMALS = 10;
// The compiler's line buffer: a logical line longer than this reads as blank.
constexpr int READ_LINE_LIMIT = OPTION_LINE_LENGTH;

// A line as it is built: columns are 1-based, trailing blanks are dropped
// when it is written.
struct dump_line {
    char c[DUMP_TEXT_LINE];
    int len = 0;
};

void append(dump_line& l, std::string_view s) {
    for (char ch : s) {
        if (l.len >= DUMP_TEXT_LINE) return;
        l.c[l.len++] = ch;
    }
}

void pad_to(dump_line& l, int column) {
    while (l.len < column - 1 && l.len < DUMP_TEXT_LINE) l.c[l.len++] = ' ';
}

// Places s from column; when the line already reaches that column, s goes
// one blank after the line's end instead, so that no two fields run together.
void place(dump_line& l, int column, std::string_view s) {
    if (l.len > 0 && column <= l.len + 1) column = l.len + 2;
    pad_to(l, column);
    append(l, s);
}

// Places s so that it ends in column last (right-aligned), with the same rule.
void place_right(dump_line& l, int last, std::string_view s) {
    place(l, last - static_cast<int>(s.size()) + 1, s);
}

void emit(dump_line& l) {
    print_line(std::string_view(l.c, static_cast<std::size_t>(l.len)));
    l.len = 0;
}

void emit_text(const char* s) { print_cstring_line(s); }

std::string_view view_of(const char* s, int n) { return std::string_view(s, static_cast<std::size_t>(n)); }

// A text between double quotes as the lexer reads it back: a quote or a
// backslash inside is preceded by a backslash.
int quote_into(std::string_view s, char* out, int capacity) {
    int n = 0;
    auto put = [&](char ch) {
        if (n < capacity - 1) out[n++] = ch;
    };
    put('"');
    for (char ch : s) {
        if (ch == '\0') ch = ' ';
        if (ch == '"' || ch == '\\') put('\\');
        put(ch);
    }
    put('"');
    out[n] = '\0';
    return n;
}

// Whether a word would be read as a keyword (or the start of one).
bool reads_as_keyword(std::string_view name) {
    text<LEXER_TEXT_LENGTH> probe(name);
    int status = MATCH_NONE;
    match_keyword(probe, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, status);
    return status == MATCH_FOUND || status == MATCH_WORD_COMPLETED || status == MATCH_FOUND_MAY_EXTEND;
}

// A word's name as a statement refers to it; "msg" for 99. A name that the
// lexer would take for a keyword, or that ends in "_", gets a trailing "_",
// which the compiler drops again. Blank for a word without a name.
int word_reference(int w, char* out, int capacity) {
    std::string_view name;
    if (w == MSG_ROLE) name = "msg";
    else if (w >= 1 && w < NO_WORD) name = trimmed(cs.gpnams[w].view());
    int n = 0;
    for (char ch : name)
        if (n < capacity - 2) out[n++] = ch;
    if (n > 0 && w != MSG_ROLE && (out[n - 1] == '_' || reads_as_keyword(name))) out[n++] = '_';
    out[n] = '\0';
    return n;
}

// A real as the shortest fixed-point text with at least min_decimals
// decimals that the compiler reads back as the same value; the text with
// min_decimals when none fits the compiler's field.
int real_text(double v, int min_decimals, char* out, int capacity) {
    for (int d = min_decimals; d <= MAX_DECIMALS; ++d) {
        const int n = std::snprintf(out, static_cast<std::size_t>(capacity), "%.*f", d, v);
        if (n <= 0 || n > REAL_FIELD_READ) break;
        int error = 0;
        if (read_real_field(view_of(out, n), REAL_FIELD_READ, 0, error, 0) == v && error == 0) return n;
    }
    const int n = std::snprintf(out, static_cast<std::size_t>(capacity), "%.*f", min_decimals, v);
    return n < capacity ? n : capacity - 1;
}

// How a text of a block item is written so that the lexer reads it back as
// one token holding that same text.
enum class reading {
    expression,  // after a key or word: a string would read as a text item
    condition,   // "if", "else if", "repeat": a string reads as the text itself
    name,        // "set", "unset", "reset", "edit", "call block": likewise
};

// Whether a name written as a plain word, followed by the ";" or the end of
// the line of its item, reads back as a token of the same text. Where a name
// stands, a keyword is taken as the name of its text, but of its text as
// the lexer completes it ("feedr" reads as "feedrate").
bool name_reads_back(std::string_view name) {
    for (const char* after : {" ;", ""}) {
        char written[OPTION_LINE_LENGTH];
        const int n = std::snprintf(written, sizeof written, "%.*s%s", static_cast<int>(name.size()), name.data(), after);
        text<OPTION_LINE_LENGTH> line(view_of(written, n < OPTION_LINE_LENGTH ? n : OPTION_LINE_LENGTH - 1));
        text<OPTION_LINE_LENGTH> token;
        int counter = 0;
        const int k = read_next_keyword(-1, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, line.span(),
                                        token.span(), counter);
        if (k == 1) continue;
        if (k < 8 || trimmed(token.view()) != name) return false;
    }
    return true;
}

// Whether the text stands as a word of its own: not a number, a string, a
// parenthesised text or a comment, no blank or quote inside, no backslash at
// its end (which would join the next line when the word ends its line), and
// read back as itself: a name as above, an expression not a keyword or the
// start of one (after a key, "next" or "=" are items of their own).
bool reads_as_plain_word(std::string_view e, reading r) {
    if (e.empty() || std::strchr("0123456789+-.(\"#", e[0]) != nullptr) return false;
    for (char ch : e)
        if (ch == ' ' || ch == '\t' || ch == '"') return false;
    if (e.back() == '\\') return false;
    return r == reading::name ? name_reads_back(e) : !reads_as_keyword(e);
}

// Parentheses end at the first ")" outside a quoted part. closed: "(" e ")"
// reads back as e. open: "(" e left open at the end of its line does.
void parenthesised_reading(std::string_view e, bool& closed, bool& open) {
    bool in_quote = false;
    bool ends_early = false;
    for (char ch : e) {
        if (!in_quote && ch == ')') ends_early = true;
        if (ch == '"') in_quote = !in_quote;
    }
    closed = !ends_early && !in_quote;
    open = !ends_early;
}

// An expression, condition or name as a token that reads back as the same
// text: conditions and repeat counts in parentheses, expressions and names as
// a plain word where they can be one. A text whose parentheses would end
// early goes as a word, else between double quotes where the statement reads
// a string as the text, else as a parenthesised text left open when the item
// ends its line.
int token_into(std::string_view e, reading r, bool ends_line, char* out, int capacity) {
    bool closed = false;
    bool open = false;
    parenthesised_reading(e, closed, open);
    const bool plain = reads_as_plain_word(e, r);
    const char* form = "(%.*s)";
    if (plain && (r != reading::condition || !closed)) form = "%.*s";
    else if (closed) form = "(%.*s)";
    else if (r != reading::expression) return quote_into(e, out, capacity);
    else if (open && ends_line) form = "(%.*s";
    const int n = std::snprintf(out, static_cast<std::size_t>(capacity), form, static_cast<int>(e.size()), e.data());
    return n < capacity ? n : capacity - 1;
}

// The number of an "edit" item: the integer when the value is whole (read
// back as the same integer and real), else the shortest real that the edit
// field reads back as the same value.
int edit_number_text(int value, double real, char* out, int capacity) {
    int n = 0;
    if (real == static_cast<double>(value)) {
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "%d", value);
        return n < capacity ? n : capacity - 1;
    }
    for (int d = 1; d <= MAX_DECIMALS; ++d) {
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "%.*f", d, real);
        if (n <= 0 || n > EDIT_NUMBER_FIELD) break;
        int error = 0;
        if (read_real_field(view_of(out, n), EDIT_NUMBER_FIELD, EDIT_IMPLIED_DECIMALS, error, 0) == real && error == 0)
            return n;
    }
    n = std::snprintf(out, static_cast<std::size_t>(capacity), "%.4f", real);
    return n < capacity ? n : capacity - 1;
}

// The name of a key, code, setting or block; keyword_name, else the numbered
// statement that reaches it.
int name_of(int kind, int code, char* out, int capacity) {
    text<KEYWORD_NAME_LENGTH> name;
    keyword_name(kind, code, name);
    int n = 0;
    if (trimmed_length(name) > 0) {
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "%s", trimmed_copy(name.view()).c_str());
    } else if (kind == KIND_KEY) {
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "key %3d", code);
    } else if (kind == KIND_CODE) {
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "code %3d", code / 100);
    } else {
        out[0] = '\0';
    }
    return n < capacity ? n : capacity - 1;
}

// The name of a key or code in a block item. A block item takes a key or a
// function code but not a keyword that is both, so such a one goes by its
// numbered statement ("key 17", "code 18").
int item_name_of(int kind, int code, char* out, int capacity) {
    const int i = find_keyword(kind, code);
    const bool is_key = kind == KIND_KEY;
    const int n = i > 0 ? std::snprintf(out, static_cast<std::size_t>(capacity), "%s",
                                        trimmed_copy(keyword_table.keyword_text[i].view()).c_str())
                        : std::snprintf(out, static_cast<std::size_t>(capacity), is_key ? "key %3d" : "code %3d",
                                        is_key ? code : code / 100);
    return n < capacity ? n : capacity - 1;
}

void write_assignment(const char* lead, std::string_view keyword, int width, std::string_view value) {
    char line[DUMP_TEXT_LINE];
    format_assignment(keyword, width, value, line);
    dump_line l;
    append(l, lead);
    append(l, trimmed(std::string_view(line, sizeof line)));
    emit(l);
}

void write_int_assignment(const char* lead, std::string_view keyword, int width, const char* format, int v) {
    char value[32];
    std::snprintf(value, sizeof value, format, v);
    write_assignment(lead, keyword, width, value);
}

const char* true_false(int v) { return v != 0 ? "true" : "false"; }

int clamp_count(int n, int hi) { return n < 0 ? 0 : (n > hi ? hi : n); }

// --- words -----------------------------------------------------------------------

void write_word_definitions(int words) {
    for (int w = 1; w <= words; ++w) {
        char name[WORD_NAME_LENGTH + 2];
        word_reference(w, name, sizeof name);
        char letters[2 * WORD_CHARS_LENGTH + 3];
        quote_into(trimmed(cs.wrdch[w].view()), letters, sizeof letters);
        emit_text(" ");
        dump_line l;
        append(l, "   define word ");
        append(l, name);
        emit(l);
        append(l, "    address letter = ");
        append(l, letters);
        emit(l);
        emit_text("   end define");
    }
}

// One digit count of a picture. A count of 0 where an optional "0" mark may
// stand is written "00", which no mark position takes for its own.
void place_digits(dump_line& l, int last, int v, bool after_optional_zero) {
    char s[16];
    std::snprintf(s, sizeof s, (v == 0 && after_optional_zero) ? "00" : "%d", v);
    place_right(l, last, s);
}

// The picture of one word for "-q"; the imperial part only where it differs.
void write_picture_line(int w) {
    const array1<int, NFORMAT>& f = cs.word_formats[w];
    dump_line l;
    // The name: six characters as a rule, the whole name when it is longer,
    // so that the row names the same word when it is read back.
    place(l, 5, trimmed(cs.gpnams[w].view()));
    int width = f[WRDCHL] < 1 ? 1 : (f[WRDCHL] > WORD_CHARS_LENGTH ? WORD_CHARS_LENGTH : f[WRDCHL]);
    char letters[2 * WORD_CHARS_LENGTH + 3];
    quote_into(cs.wrdch[w].view().substr(0, static_cast<std::size_t>(width)), letters, sizeof letters);
    place(l, 12, letters);
    if (f[SINREQ] == 2) place(l, 25, "+-");
    else if (f[SINREQ] == 1) place(l, 26, "-");

    auto picture = [&](int shift, int zeros, int places, int point) {
        const bool leading = zeros == 1 || zeros == 3;
        const bool trailing = zeros > 1;
        if (leading) place(l, 28 + shift, "0");
        place_digits(l, 30 + shift, f[WRDLEN] - places, !leading);
        if (point == 1) place(l, 32 + shift, ".");
        if (trailing) place(l, 34 + shift, "0");
        place_digits(l, 36 + shift, places, !trailing);
    };
    picture(0, f[IZSUPM], f[WRDMET], f[IDECM]);
    // The decimal point is compared too: the metric part sets both points.
    if (f[IZSUPI] != f[IZSUPM] || f[WRDIMP] != f[WRDMET] || f[IDECI] != f[IDECM]) {
        place(l, 40, "inch");
        picture(INCH_SHIFT, f[IZSUPI], f[WRDIMP], f[IDECI]);
    }

    // Scale fields are one token each: the digits follow "x" and "/" directly.
    char s[32];
    int column = PICTURE_OPTIONS_COLUMN;
    if (f[WRDFAC] != 1) {
        std::snprintf(s, sizeof s, "x%-2d", f[WRDFAC]);
        place(l, column, s);
        column += 4;
    }
    if (f[SCALE_DIVISOR] > 1) {
        std::snprintf(s, sizeof s, "/%-2d", f[SCALE_DIVISOR]);
        place(l, column, s);
    }
    if (cs.wperm[w] == 1) place(l, column, "permanent");
    else if (cs.wperm[w] == 2) place(l, column, "every block");
    if (f[WRDMOD] != 0) place(l, column, "modal");
    if (f[ITPPOS] != 0) {
        std::snprintf(s, sizeof s, "spaces %2d", f[ITPPOS]);
        place(l, column, s);
    }
    emit(l);
}

void write_word_table(int words) {
    emit_text("   define table");
    for (int w = 1; w <= words; ++w) write_picture_line(w);
    emit_text("  end define");
}

void write_format_groups(int words) {
    array1<int, MAXWORDS> taken;
    array1<int, MAXWORDS> group;
    for (int w = 1; w <= words; ++w) {
        if (taken[w]) continue;
        const int count = format_group_words(w, group, taken);
        emit_text(" ");
        write_format_definition(group, count);
    }
}

// "link to" is a statement of a format section: each linked word is selected
// by a format definition of its own, which changes nothing else.
void write_links(int words) {
    emit_text(" ");
    emit_text("# linked words");
    for (int i = 1; i <= words; ++i) {
        const int v = cs.wrdlnk[i];
        if (v == NO_LINK) continue;
        char from[WORD_NAME_LENGTH + 2];
        char to[WORD_NAME_LENGTH + 2];
        if (word_reference(i, from, sizeof from) == 0) continue;
        if (v < 1 || v > words || word_reference(v, to, sizeof to) == 0) continue;
        dump_line l;
        append(l, "   define format ( ");
        append(l, from);
        append(l, " )");
        emit(l);
        append(l, "     link to ");
        append(l, to);
        emit(l);
        emit_text("   end define");
    }
}

// The word order, seven entries a line; lines after the first add to it.
void write_word_order(int words) {
    emit_text(" ");
    dump_line l;
    int entries = 0;
    bool first_line = true;
    auto close_line = [&]() {
        if (entries == 0) return;
        append(l, ")");
        emit(l);
        entries = 0;
        first_line = false;
    };
    for (int n = 1; n <= MAXWORDS; ++n) {
        const int v = cs.wrdrut[n];
        if (v <= 0) continue;
        char name[WORD_NAME_LENGTH + 2] = "";
        if (v == MSG_ROLE || (v >= 1 && v <= words)) word_reference(v, name, sizeof name);
        const int length = static_cast<int>(std::strlen(name));
        const int field = length < ORDER_ENTRY_WIDTH ? ORDER_ENTRY_WIDTH : length + 1;
        if (entries > 0 && (entries == ORDER_ENTRIES_A_LINE || l.len + field > ITEM_LAST_COLUMN)) close_line();
        if (entries == 0) {
            append(l, first_line ? "    word order = (" : "    word order = ( +  ");
            pad_to(l, ORDER_FIRST_COLUMN);
        }
        // Each entry fills its five columns; a longer name is followed by a blank.
        const int start = l.len;
        append(l, name);
        pad_to(l, start + field + 1);
        ++entries;
    }
    close_line();
}

void write_keys(int words) {
    emit_text(" ");
    emit_text("  define keys");
    for (int k = 1; k <= NUMKEYS; ++k) {
        if (!keyword_in_use(KIND_KEY, k)) continue;
        char name[KEYWORD_NAME_LENGTH + 1];
        name_of(KIND_KEY, k, name, sizeof name);
        char word[WORD_NAME_LENGTH + 2] = "";
        const int w = cs.key[k];
        // A key that names a word the control does not define cannot be
        // written; left out, it keeps the machine definition's value.
        if (w != NO_WORD && (w < 1 || w > words)) continue;
        if (w != NO_WORD) word_reference(w, word, sizeof word);
        dump_line l;
        place(l, ITEM_FIRST_COLUMN, name);
        if (word[0] == '\0') {
            place(l, ASSIGN_COLUMN, "not used");
        } else {
            place(l, ASSIGN_COLUMN, "=");
            place(l, KEY_WORD_COLUMN, word);
        }
        emit(l);
    }
    emit_text("  end define");
}

// A code held by a word named "null" is written like any other, and so is an
// unset code (-1) that still names a word: the control read back then holds
// the same word and value. "not used" stands for an unset code of no word.
// A code that names a word the control does not define is left out, as for
// keys.
void write_code_line(int s, int words, int value, std::string_view name) {
    const int w = cs.icodes[1][s];
    char word[WORD_NAME_LENGTH + 2] = "";
    if (w != NO_WORD && (w < 1 || w > words)) return;
    if (w != NO_WORD) word_reference(w, word, sizeof word);
    dump_line l;
    place(l, ITEM_FIRST_COLUMN, name);
    if ((value == UNSET_CODE && w == NO_WORD) || word[0] == '\0') {
        place(l, ASSIGN_COLUMN, "not used");
    } else {
        place(l, ASSIGN_COLUMN, "=");
        place(l, CODE_WORD_COLUMN, word);
        char v[2 * 24 + 16];
        if (value >= TEXT_CODE_BASE) {
            quote_into(trimmed(cs.scodes[s].view()), v, sizeof v);
            place(l, CODE_TEXT_COLUMN, v);
        } else {
            std::snprintf(v, sizeof v, "%3d", value);
            place_right(l, CODE_VALUE_COLUMN + 2, trimmed(std::string_view(v)).substr(0));
        }
    }
    emit(l);
}

void write_codes(int words) {
    emit_text("  define codes");
    for (int s = 1; s <= NUMCODES; ++s) {
        if (!keyword_in_use(KIND_CODE, 100 * s)) continue;
        char name[KEYWORD_NAME_LENGTH + 1];
        name_of(KIND_CODE, 100 * s, name, sizeof name);
        write_code_line(s, words, cs.icodes[2][s], name);
    }
    emit_text("  end define");
}

// A function-code item keeps the code's value of the time it was compiled.
// in_force holds each code's value as the text read so far sets it: where an
// item of block b differs from it (the code was changed after the block), a
// codes section before the block sets the item's value; set_codes_back puts
// the control's own values back after the last block.
void write_item_time_codes(int b, int words, array1<int, NUMCODES>& in_force) {
    bool any = false;
    const int count = clamp_count(cs.blklen[b], MAXITEMS);
    for (int i = 1; i <= count; ++i) {
        const block_item_t& it = cs.block_items[b][i];
        const int s = it.code > 0 ? it.code : -it.code % 1000;
        if (!(it.code <= NUMCODES && s >= 1 && s <= NUMCODES) || it.value == in_force[s]) continue;
        in_force[s] = it.value;
        if (!any) emit_text("  define codes");
        any = true;
        char name[KEYWORD_NAME_LENGTH + 1];
        item_name_of(KIND_CODE, 100 * s, name, sizeof name);
        write_code_line(s, words, it.value, name);
    }
    if (any) emit_text("  end define");
}

void set_codes_back(int words, const array1<int, NUMCODES>& in_force) {
    bool any = false;
    for (int s = 1; s <= NUMCODES; ++s) {
        if (in_force[s] == cs.icodes[2][s]) continue;
        if (!any) emit_text("  define codes");
        any = true;
        char name[KEYWORD_NAME_LENGTH + 1];
        item_name_of(KIND_CODE, 100 * s, name, sizeof name);
        write_code_line(s, words, cs.icodes[2][s], name);
    }
    if (any) emit_text("  end define");
}

// A setting whose value no value keyword names is written by its number, so
// that the control read back holds the same value.
void write_numbered_integer(int n, int v) {
    char name[32];
    std::snprintf(name, sizeof name, "integer %3d", n);
    write_int_assignment("  ", name, SETTING_NAME_WIDTH, "%5d", v);
}

void write_settings() {
    emit_text(" ");
    char name[KEYWORD_NAME_LENGTH + 1];
    for (int n = 1; n <= NUMSPCHAR; ++n) {
        if (!keyword_in_use(KIND_CHARACTER, n) || trimmed_length(cs.spchar[n]) == 0) continue;
        name_of(KIND_CHARACTER, n, name, sizeof name);
        char value[2 * SPCHAR_LENGTH + 3];
        quote_into(trimmed(cs.spchar[n].view()), value, sizeof value);
        write_assignment("  ", name, SETTING_NAME_WIDTH, value);
    }
    for (int n = 1; n <= NUMINTSP; ++n) {
        if (!keyword_in_use(KIND_INTEGER, n)) continue;
        if (find_keyword(KIND_LOGICAL, n) > 0 || find_keyword(KIND_ENUMERATED, n) > 0) continue;
        name_of(KIND_INTEGER, n, name, sizeof name);
        write_int_assignment("  ", name, SETTING_NAME_WIDTH, "%5d", cs.intsp[n]);
    }
    for (int n = 1; n <= NUMINTSP; ++n) {
        const int i = find_keyword(KIND_LOGICAL, n);
        if (i == 0) continue;
        const int v = cs.intsp[n];
        if (v != 0 && v != 1) {
            write_numbered_integer(n, v);
            continue;
        }
        write_assignment("  ", trimmed(keyword_table.keyword_text[i].view()), SETTING_NAME_WIDTH, true_false(v));
    }
    for (int n = 1; n <= NUMINTSP; ++n) {
        const int i = find_keyword(KIND_ENUMERATED, n);
        if (i == 0) continue;
        const int j = find_keyword(KIND_ENUMERATED_VALUE, cs.intsp[n]);
        if (j == 0) {
            write_numbered_integer(n, cs.intsp[n]);
            continue;
        }
        write_assignment("  ", trimmed(keyword_table.keyword_text[i].view()), SETTING_NAME_WIDTH,
                         trimmed(keyword_table.keyword_text[j].view()));
    }
    for (int n = 1; n <= NUMSPVAL; ++n) {
        if (!keyword_in_use(KIND_REAL, n)) continue;
        name_of(KIND_REAL, n, name, sizeof name);
        char number[64];
        const int length = real_text(spval(n), REAL_SETTING_DECIMALS, number, sizeof number);
        char value[64];
        std::snprintf(value, sizeof value, "%*.*s", REAL_SETTING_WIDTH, length, number);
        write_assignment("  ", name, SETTING_NAME_WIDTH, value);
    }
}

// Every real list that a keyword names. Besides the axis lists this takes the
// output lists ("coolant output" and the rest), the value tables and the
// initial tool vector: without them their values would be lost on reading back.
void write_lists() {
    emit_text(" ");
    for (int k = 1; k <= AVALS_LISTS; ++k) {
        const int count = list_length(k);
        if (count == 0) continue;
        const int field = count >= LONG_LIST ? LIST_FIELD_SHORT : LIST_FIELD;
        dump_line value;
        append(value, "(");
        for (int i = 1; i <= count && i <= AVALS_ROWS; ++i) {
            char number[64];
            const int n = real_text(avals(i, k), 0, number, sizeof number);
            place_right(value, value.len + field, view_of(number, n));
        }
        append(value, " )");
        const int i = find_keyword(KIND_REAL_LIST, count * 1000 + k);
        write_assignment("  ", trimmed(keyword_table.keyword_text[i].view()), SETTING_NAME_WIDTH,
                         view_of(value.c, value.len));
    }
}

// --- blocks ----------------------------------------------------------------------

void write_block(int b) {
    char name[KEYWORD_NAME_LENGTH + 1];
    keyword_name(KIND_BLOCK, b, std::span<char>(name, KEYWORD_NAME_LENGTH));
    dump_line l;
    append(l, "  define block ");
    append(l, trimmed(std::string_view(name, KEYWORD_NAME_LENGTH)));
    emit(l);

    const int count = clamp_count(cs.blklen[b], MAXITEMS);
    int open = 0;
    bool line_has_items = false;
    auto end_line = [&](int shift) {
        dump_line shifted;
        for (int s = 0; s < shift; ++s) append(shifted, " ");
        append(shifted, view_of(l.c, l.len));
        emit(shifted);
        l.len = 0;
        line_has_items = false;
    };
    for (int i = 1; i <= count; ++i) {
        const int code = cs.block_items[b][i].code;
        const int cls = ((code < 0 ? -code : code) / 1000) % 100;
        const int open_before = open;
        char item[ITEM_TEXT_LENGTH];
        const int n = item_text(b, i, open, item);
        if (n == 0) continue;
        const int column = line_has_items ? l.len + 2 : ITEM_FIRST_COLUMN;
        if (line_has_items && column + n + 2 * open_before > ITEM_LAST_COLUMN)
            end_line(indent_item_line(open_before, cls, code == END_IF_ITEM));
        if (line_has_items) append(l, " ");
        else pad_to(l, ITEM_FIRST_COLUMN);
        append(l, view_of(item, n));
        line_has_items = true;
        if (cs.block_items[b][i].string_ref % 10 == 0) end_line(indent_item_line(open, cls, code == END_IF_ITEM));
    }
    if (line_has_items) end_line(0);
    emit_text("  end define");
}

}  // namespace

void format_assignment(std::string_view keyword, int width, std::string_view value, std::span<char> line) {
    const int w = width < MIN_NAME_WIDTH ? MIN_NAME_WIDTH : width;
    dump_line l;
    append(l, trimmed(keyword));
    place(l, w + 3, "=");
    place(l, w + 5, value);
    assign_text(line, view_of(l.c, l.len));
}

int indent_item_line(int open, int item_class_of_line, int is_end_if) {
    int shift = 0;
    if (open > 0 && item_class_of_line < 20) shift += 1;
    if (open - 1 > 0) shift += open - 1;
    if (is_end_if && open != 0) shift += 1;
    return shift;
}

int item_text(int b, int i, int& open, std::span<char> out) {
    const block_item_t& it = cs.block_items[b][i];
    const int code = it.code;
    const int a = code < 0 ? -code : code;
    const int cls = (a / 1000) % 100;
    const int n = (a / 1000) % 10;
    const int s = it.string_ref / 10;
    const bool carries = a / 100000 == 999;
    std::string_view str;
    if (carries && s >= 1 && s <= MAXITEMS) str = trimmed(cs.block_texts[b][s].view());

    char t[ITEM_TEXT_LENGTH];
    int len = 0;
    const int cap = static_cast<int>(sizeof t);
    auto add = [&](std::string_view x) {
        for (char ch : x)
            if (len < cap - 1) t[len++] = ch;
    };
    auto add_value = [&](int v) {
        char num[16];
        const char* format = (v >= -99 && v <= 999) ? "%3d" : ((v >= -99999 && v <= 999999) ? "%6d" : "%10d");
        std::snprintf(num, sizeof num, format, v);
        add(num);
    };
    char work[ITEM_TEXT_LENGTH];
    const bool ends_line = it.string_ref % 10 == 0;
    auto name = [&] { return view_of(work, token_into(str, reading::name, ends_line, work, sizeof work)); };

    if (a == LITERAL_ITEM) {
        add(view_of(work, quote_into(str, work, sizeof work)));
    } else if ((carries && (cls == 21 || cls == 22)) || (!carries && (cls == 23 || cls == 24))) {
        if (cls == 21 || cls == 22) {
            add(cls == 21 ? "if " : "else if ");
            add(view_of(work, token_into(str, reading::condition, ends_line, work, sizeof work)));
            if (cls == 21) ++open;
        } else if (cls == 23) {
            add("else");
        } else {
            add("end if");
            if (open > 0) --open;
        }
    } else if ((code >= 1 && code < NO_WORD + 1) || code < 0) {
        // A function-code item; "=C" is one token.
        const int slot = a % 1000;
        item_name_of(KIND_CODE, 100 * slot, work, sizeof work);
        add(work);
        if (code < 0) add(" =C");
    } else if (cls >= 1 && cls <= 19) {
        const int target = a % 1000;
        if (cls <= 9) item_name_of(KIND_KEY, target, work, sizeof work);
        else word_reference(target, work, sizeof work);
        add(work);
        if (carries && s > 0) {
            add(" ");
            if (n == MOD_TEXT) {
                add(view_of(work, quote_into(str, work, sizeof work)));
            } else {
                add(view_of(work, token_into(str, reading::expression, ends_line, work, sizeof work)));
                if (n == MOD_VALUE_FORGET) add(" =C");
            }
        } else {
            switch (n) {
            case MOD_VALUE:
            case MOD_TEXT:
                add(" ");
                add_value(it.value);
                break;
            case MOD_VALUE_FORGET:
                add(" ");
                add_value(it.value);
                add(" =C");
                break;
            case MOD_NEXT: add(" next"); break;
            case MOD_ALONE:
                if (it.value > 0) {
                    add(" ");
                    add_value(it.value);
                }
                break;
            case MOD_FORGET: add(" =C"); break;
            case MOD_CANCEL: add(" =P"); break;
            case MOD_CURRENT: add(" ="); break;
            case MOD_TABLE: add(" =A"); break;
            default: {
                char num[8];
                std::snprintf(num, sizeof num, "%3d", n);
                add(num);
            }
            }
        }
    } else if (a >= SET_ITEM && a <= CALL_BLOCK_ITEM) {
        switch (a) {
        case SET_ITEM: add("set "); add(name()); break;
        case UNSET_ITEM: add("unset "); add(name()); break;
        case RESET_ITEM: add("reset "); add(name()); break;
        case CALL_BLOCK_ITEM: add("call block "); add(name()); break;
        case EDIT_ITEM: {
            add("edit ");
            add(name());
            add(" ");
            add(view_of(work, edit_number_text(it.value, cs.block_reals[b][i], work, sizeof work)));
            break;
        }
        case REPEAT_ITEM:
            add("repeat ");
            add(view_of(work, token_into(str, reading::condition, ends_line, work, sizeof work)));
            ++open;
            break;
        default:
            add("end repeat");
            if (open > 0) --open;
        }
    }
    // An item the language has no text for is left out.
    if (len == 0) {
        assign_text(out, "");
        return 0;
    }

    // ";" when the output line goes on with the next item.
    if (it.string_ref % 10 == 1) {
        const int tl = len;
        int c = ((tl + 1) / 5 + 1) * 5;
        if (c > 5) c = c - 1 + c / 5;
        while (len < c - 1 && len < cap - 2) t[len++] = ' ';
        if (len < cap - 1) t[len++] = ';';
    }
    const int n_out = len < static_cast<int>(out.size()) ? len : static_cast<int>(out.size());
    std::memcpy(out.data(), t, static_cast<std::size_t>(n_out));
    for (std::size_t k = static_cast<std::size_t>(n_out); k < out.size(); ++k) out[k] = ' ';
    return n_out;
}

int same_word_format(int w, int v) {
    static constexpr int COMPARED[] = {1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 14, 15, 16, 17, 18};
    // The scale divisor is compared as well: the group's definition writes it.
    for (int c : COMPARED)
        if (cs.word_formats[w][c] != cs.word_formats[v][c]) return 0;
    if (cs.wperm[w] != cs.wperm[v]) return 0;
    if (cs.word_upper_case[w] != cs.word_upper_case[v]) return 0;
    if (!text_equals(cs.word_zero_text[w], cs.word_zero_text[v])) return 0;
    return 1;
}

int format_group_words(int w, array1<int, MAXWORDS>& group, array1<int, MAXWORDS>& taken) {
    const int words = clamp_count(cs.NGPS, MAXDEFWORDS);
    int count = 0;
    for (int v = w; v <= words; ++v) {
        if (taken[v] || !same_word_format(w, v)) continue;
        taken[v] = 1;
        group[++count] = v;
    }
    return count;
}

int list_length(int k) {
    for (int i = 1; i <= KEYWORD_COUNT; ++i)
        if (keyword_table.keyword_kind[i] == KIND_REAL_LIST && keyword_table.keyword_code[i] % 1000 == k)
            return keyword_table.keyword_code[i] / 1000;
    return 0;
}

// One format definition per part of the group: the names go on continuation
// lines past column 79, and a group whose joined line would not fit the
// compiler's line is split into several definitions of the same format.
void write_format_definition(array1<int, MAXWORDS>& group, int count) {
    if (count <= 0) return;
    const int w = group[1];
    const array1<int, NFORMAT>& f = cs.word_formats[w];
    int k = 1;
    while (k <= count) {
        dump_line l;
        append(l, "   define format (");
        pad_to(l, FORMAT_NAMES_COLUMN);
        int joined = l.len;
        bool has_name = false;
        while (k <= count) {
            char name[WORD_NAME_LENGTH + 2];
            const int n = word_reference(group[k], name, sizeof name);
            const int closing = 2;
            if (has_name && l.len + 1 + n > FORMAT_LAST_COLUMN) {
                if (joined + (FORMAT_NAMES_COLUMN - 1) + n + closing > READ_LINE_LIMIT) break;
                append(l, "\\");
                emit(l);
                pad_to(l, FORMAT_NAMES_COLUMN);
                joined += FORMAT_NAMES_COLUMN - 1;
                has_name = false;
            } else if (has_name && joined + 1 + n + closing > READ_LINE_LIMIT) {
                break;
            }
            if (has_name) {
                append(l, " ");
                ++joined;
            }
            append(l, view_of(name, n));
            joined += n;
            has_name = true;
            ++k;
        }
        append(l, " )");
        emit(l);

        const char* lead = "    ";
        write_int_assignment(lead, "address width", SETTING_NAME_WIDTH, "%3d", f[WRDCHL]);
        write_int_assignment(lead, "field width", SETTING_NAME_WIDTH, "%3d", f[WRDLEN]);
        write_int_assignment(lead, "exponent width", SETTING_NAME_WIDTH, "%3d", f[EXPONENT_WIDTH]);
        write_int_assignment(lead, "scale factor", SETTING_NAME_WIDTH, "%3d", f[WRDFAC]);
        write_int_assignment(lead, "scale divisor", SETTING_NAME_WIDTH, "%3d", f[SCALE_DIVISOR]);
        write_int_assignment(lead, "tape position", SETTING_NAME_WIDTH, "%3d", f[ITPPOS]);
        write_int_assignment(lead, "print position", SETTING_NAME_WIDTH, "%3d", f[WRDPOS]);
        const int sign = find_keyword(KIND_ENUMERATED_VALUE, f[SINREQ]);
        if (sign > 0)
            write_assignment(lead, "sign", SETTING_NAME_WIDTH, trimmed(keyword_table.keyword_text[sign].view()));
        emit_text(cs.wperm[w] == 1 ? "    permanent" : (cs.wperm[w] == 2 ? "    every block" : "    not permanent"));
        emit_text(f[WRDMOD] != 0 ? "    modal" : "    not modal");
        // The zero character and upper case are the word's too; without them
        // they would be lost on reading back.
        if (trimmed_length(cs.word_zero_text[w]) > 0) {
            char zero[40];
            quote_into(trimmed(cs.word_zero_text[w].view()), zero, sizeof zero);
            write_assignment(lead, "zero character", SETTING_NAME_WIDTH, zero);
        }
        if (cs.word_upper_case[w] != 0) emit_text("    upper case");
        auto unit_formats = [&](int zeros, int point, int places) {
            if (zeros >= 0 && zeros <= 3) {
                write_assignment(lead, "leading zeros", FLAG_NAME_WIDTH, true_false(zeros & 1));
                write_assignment(lead, "trailing zeros", FLAG_NAME_WIDTH, true_false(zeros & 2));
            }
            write_assignment(lead, "decimal point", FLAG_NAME_WIDTH, true_false(point));
            write_int_assignment(lead, "decimal places", SETTING_NAME_WIDTH, "%3d", places);
        };
        emit_text("    metric formats");
        unit_formats(f[IZSUPM], f[IDECM], f[WRDMET]);
        emit_text("   imperial formats");
        unit_formats(f[IZSUPI], f[IDECI], f[WRDIMP]);
        emit_text("    end define");
    }
}

void write_option_file_text(int form) {
    const job_files_t& jf = job_files;
    std::string_view machine = trimmed(jf.file_names[FILE_MACHINE].view());
    if (machine.empty()) machine = trimmed(jf.machine_name.view());
    dump_line l;
    append(l, "machine ");
    if (machine.find(' ') != std::string_view::npos) {
        char quoted[2 * FILE_NAME_LEN + 3];
        append(l, view_of(quoted, quote_into(machine, quoted, sizeof quoted)));
    } else {
        append(l, machine);
    }
    emit(l);

    const int words = clamp_count(cs.NGPS, MAXDEFWORDS);
    if (form == TEXT_DUMP_TABLE) {
        write_word_table(words);
    } else {
        write_word_definitions(words);
        write_format_groups(words);
    }
    write_links(words);
    write_word_order(words);
    write_keys(words);
    write_codes(words);
    write_settings();
    write_lists();
    emit_text(" ");
    array1<int, NUMCODES> in_force;
    for (int s = 1; s <= NUMCODES; ++s) in_force[s] = cs.icodes[2][s];
    for (int b = 1; b <= NUMBLOCKS; ++b) {
        if (!keyword_in_use(KIND_BLOCK, b)) continue;
        write_item_time_codes(b, words, in_force);
        write_block(b);
    }
    set_codes_back(words, in_force);
    emit_text("end");
}

}  // namespace kv
