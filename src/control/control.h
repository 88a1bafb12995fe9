// Control definition: the configuration store of one control, the keyword and
// system-variable vocabularies, the option-file lexer and compiler, the MCD
// file and the configuration dumps.
#pragma once

#include <bit>
#include <span>
#include <string_view>

#include "runtime/runtime.h"

namespace kv {

// --- tokens: the shared token reader over a line of text ---------------------
// Token types of tokenise_line.
constexpr int TOKEN_NONE = 0;
constexpr int TOKEN_WORD = 1;
constexpr int TOKEN_INTEGER = 2;
constexpr int TOKEN_REAL = 3;
constexpr int TOKEN_STRING = 4;
constexpr int TOKEN_OPEN_STRING = 5;
constexpr int TOKEN_PAREN = 6;
constexpr int TOKEN_OPEN_PAREN = 7;

int tokenise_line(std::span<char> line, std::span<char> token, int& token_length);
int next_token(std::span<char> line, std::span<char> token);

// --- configuration store -------------------------------------------------------
// Fixed array indexed LO..HI as the design numbers it (for the few tables
// whose numbering starts at 0); bounds checked like array1.
template <class T, int LO, int HI>
struct array_range {
    std::array<T, HI - LO + 1> a{};
    T& operator[](int i) {
        KV_INDEX_CHECK(i >= LO && i <= HI);
        return a[static_cast<std::size_t>(i - LO)];
    }
    const T& operator[](int i) const {
        KV_INDEX_CHECK(i >= LO && i <= HI);
        return a[static_cast<std::size_t>(i - LO)];
    }
    void fill(const T& v) { a.fill(v); }
};

// A 1-based array with every entry v (for tables whose static value is not 0).
template <class T, int N>
constexpr array1<T, N> filled_array1(T v) {
    array1<T, N> r;
    r.a.fill(v);
    return r;
}

constexpr int MAXWORDS = 95;        // word numbers 1..MAXWORDS
constexpr int NO_WORD = 95;         // a key, link or code naming word 95 names nothing
constexpr int MAXDEFWORDS = 94;     // words a control may define
constexpr int NFORMAT = 18;         // columns of word_formats
constexpr int NUMKEYS = 80;         // key roles
constexpr int MSG_ROLE = 99;        // "msg": a key role and word-order entry of block items only
constexpr int NUMCODES = 95;        // function-code slots 1..NUMCODES (slot 0: code-base version)
constexpr int TEXT_CODE_BASE = 1000;// icodes value n + 1000 marks text code n
constexpr int NUMINTSP = 150;
constexpr int NUMSPVAL = 40;        // real settings R(1..40)
constexpr int AVALS_ROWS = 15;      // elements of one real list
constexpr int AVALS_LISTS = 30;     // real lists
constexpr int NUMREALS = NUMSPVAL + AVALS_ROWS * AVALS_LISTS;  // R(1..490)
constexpr int NUMSPCHAR = 20;
constexpr int SPCHAR_LENGTH = 132;
constexpr int NUMFLAGS = 200;       // state_flags
constexpr int WORD_NAME_LENGTH = 40;
constexpr int WORD_CHARS_LENGTH = 128;
constexpr int ORDER_END = -99;      // wrdrut: empty entry; the first one ends the order
constexpr int NO_LINK = -99;        // wrdlnk: no linked word
constexpr int UNSET_CODE = -1;      // icodes value of an unset function code

// A set of word numbers 1..MAXWORDS, one bit a word, walked in ascending
// order: what the block writer visits is then the members, not every word.
struct word_set {
    std::array<std::uint64_t, 2> bits{};  // bit w % 64 of bits[w / 64]: word w
    static_assert(MAXWORDS < 128, "the bits of two words hold every word number");

    bool contains(int w) const {
        KV_INDEX_CHECK(w >= 1 && w <= MAXWORDS);
        return (bits[static_cast<std::size_t>(w >> 6)] >> (w & 63) & 1u) != 0;
    }
    // 1 for a member, else 0, as the int tables that the set stands for read.
    int operator[](int w) const { return contains(w) ? 1 : 0; }
    void add(int w) {
        KV_INDEX_CHECK(w >= 1 && w <= MAXWORDS);
        bits[static_cast<std::size_t>(w >> 6)] |= std::uint64_t{1} << (w & 63);
    }
    void remove(int w) {
        KV_INDEX_CHECK(w >= 1 && w <= MAXWORDS);
        bits[static_cast<std::size_t>(w >> 6)] &= ~(std::uint64_t{1} << (w & 63));
    }
    void set(int w, bool member) { member ? add(w) : remove(w); }
    void clear() { bits = {}; }
    int size() const { return std::popcount(bits[0]) + std::popcount(bits[1]); }
    // Removes the members 1..n.
    void remove_through(int n) {
        for (std::size_t i = 0; i < bits.size(); ++i) {
            const int first = static_cast<int>(64 * i);
            if (n >= first + 63) {
                bits[i] = 0;
            } else if (n >= first) {
                bits[i] &= ~std::uint64_t{0} << (n - first + 1);
            }
        }
    }
    // The smallest member from w up to last, or 0 when there is none.
    int first_from(int w, int last = MAXWORDS) const;
};

// The smallest word from w up to last that is in a or in b, or 0: a walk
// over the union of two sets without building it.
inline int first_in_either(const word_set& a, const word_set& b, int w, int last) {
    if (w < 1) w = 1;
    for (int i = w >> 6; i < static_cast<int>(a.bits.size()); ++i) {
        std::uint64_t m = a.bits[static_cast<std::size_t>(i)] | b.bits[static_cast<std::size_t>(i)];
        if (i == w >> 6) m &= ~std::uint64_t{0} << (w & 63);
        if (m != 0) {
            const int found = 64 * i + std::countr_zero(m);
            return found <= last ? found : 0;
        }
    }
    return 0;
}

// A set is its union with itself.
inline int word_set::first_from(int w, int last) const { return first_in_either(*this, *this, w, last); }

// Columns of word_formats (the codes of the per-word setting keywords).
constexpr int WRDCHL = 1;           // address width
constexpr int WRDLEN = 2;           // field width
constexpr int WRDPOS = 3;           // print position
constexpr int ITPPOS = 4;           // tape position
constexpr int WRDMOD = 5;           // modal flag
constexpr int SINREQ = 6;           // sign: 0 none, 1 if negative, 2 always
constexpr int WRDFAC = 7;           // scale factor
constexpr int WRDPRN = 8;           // decimal places in force
constexpr int IZSUP_CURRENT = 9;    // zero flags in force
constexpr int IDEC_CURRENT = 10;    // decimal-point flag in force
constexpr int WRDIMP = 11;          // decimal places, imperial
constexpr int WRDMET = 12;          // decimal places, metric
constexpr int IZSUPI = 13;          // zero flags, imperial: bit 0 leading, bit 1 trailing
constexpr int IZSUPM = 14;          // zero flags, metric
constexpr int IDECI = 15;           // decimal point, imperial
constexpr int IDECM = 16;           // decimal point, metric
constexpr int SCALE_DIVISOR = 17;
constexpr int EXPONENT_WIDTH = 18;

// Output block layout (item codes and routines: next section).
constexpr int NUMBLK = 24;          // regular blocks 1..NUMBLK
constexpr int NUMBLOCKS = 114;      // block slots
constexpr int MAXITEMS = 1024;      // items a block
constexpr int MAXSPB = 20;          // cldat block slots (blocks 25..44)
constexpr int MAXCLDAT = 19;        // cldat blocks a control may define
constexpr int PPFUN_SLOTS = 20;     // ppfstr entries (blocks 45..64)
constexpr int MAXPPFUN = 19;        // ppfun blocks a control may define (45..63)
constexpr int USER_SLOTS = 50;      // user_block_names entries (blocks 65..114)
constexpr int MAXUSER = 49;         // user blocks a control may define (65..113)
constexpr int CLDAT_BASE = 24;      // cldat slot i is block 24 + i
constexpr int PPFUN_BASE = 44;      // ppfun block i is block 44 + i
constexpr int USER_BASE = 64;       // user block i is block 64 + i
constexpr int BLOCK_TEXT_LENGTH = 120;

// One item of a block: code, integer value, string number * 10 + continuation digit.
struct block_item_t {
    int code = 0;
    int value = 0;
    int string_ref = 0;
};

// The items, reals and strings of one block, to read and to write.
using block_items_view = laid_row_view<block_item_t, MAXITEMS>;
using block_reals_view = laid_row_view<double, MAXITEMS>;
using block_strings_view = laid_row_view<text<BLOCK_TEXT_LENGTH>, MAXITEMS>;
using block_items_row = laid_row<block_item_t, MAXITEMS>;
using block_reals_row = laid_row<double, MAXITEMS>;
using block_strings_row = laid_row<text<BLOCK_TEXT_LENGTH>, MAXITEMS>;

struct configuration_store_t {
    // Words.
    int NGPS = 0;                                        // words 1..NGPS in use
    laid_array1<text<WORD_NAME_LENGTH>, MAXWORDS + 1, 0> gpnams;  // 0: control name after "machine"
    laid_array1<text<WORD_CHARS_LENGTH>, MAXWORDS> wrdch;        // address letters or literal text
    array1<array1<int, NFORMAT>, MAXWORDS> word_formats;  // [word][column]
    array1<int, MAXWORDS> wperm;                         // 0 not permanent, 1 permanent, 2 every block
    array1<int, MAXWORDS> wrdlnk;                        // linked word, NO_LINK none
    array1<int, MAXWORDS> wrdrut = filled_array1<int, MAXWORDS>(ORDER_END);  // word order; 99 "msg", ORDER_END empty
    laid_array1<text<16>, MAXWORDS> word_zero_text;
    array1<int, MAXWORDS> word_upper_case;
    int active_word_count = 0;
    // Keys and function codes.
    array1<int, NUMKEYS> key;                            // word of each key role, NO_WORD none
    array1<array_range<int, 0, NUMCODES>, 2> icodes;     // [1][n] word, [2][n] value
    laid_array1<text<24>, NUMCODES> scodes;              // texts of text codes
    // Settings.
    array1<int, NUMINTSP> intsp;
    array1<double, NUMREALS> real_options;               // R: spval(1..40), then avals by list
    laid_array1<text<SPCHAR_LENGTH>, NUMSPCHAR> spchar;
    // Output blocks.
    int block_count = NUMBLOCKS;
    array1<int, NUMBLOCKS> blklen;
    laid_rows<block_item_t, NUMBLOCKS, MAXITEMS> block_items;             // [block][item]
    laid_rows<double, NUMBLOCKS, MAXITEMS> block_reals;                   // [block][item]
    laid_rows<text<BLOCK_TEXT_LENGTH>, NUMBLOCKS, MAXITEMS> block_texts;  // [block][string]
    array1<int, MAXSPB> blkspc;                          // major word of cldat slot, -1 empty
    int special_block_count = 0;
    laid_array1<text<BLOCK_TEXT_LENGTH>, PPFUN_SLOTS> ppfstr;
    laid_array1<text<BLOCK_TEXT_LENGTH>, USER_SLOTS> user_block_names;
    array1<int, 2> block_counters;                       // next ppfun, next user block
    // Run-time status flags and the cutfile flags.
    array1<int, NUMFLAGS> state_flags;
    int cutfile_new_style = 0;
    int srat_defined = 0;
    int cutfile_has_workplane = 0;
    int multax_record_seen = 0;
    int cutfile_multiaxis = 0;
};
extern configuration_store_t configuration_store;

// R(c) and its two names: spval(c) for c <= 40, avals(i, j) for list j element i.
inline double& real_option(int c) { return configuration_store.real_options[c]; }
inline double& spval(int c) {
    KV_INDEX_CHECK(c >= 1 && c <= NUMSPVAL);
    return configuration_store.real_options[c];
}
inline double& avals(int i, int j) {
    KV_INDEX_CHECK(i >= 1 && i <= AVALS_ROWS && j >= 1 && j <= AVALS_LISTS);
    return configuration_store.real_options[NUMSPVAL + AVALS_ROWS * (j - 1) + i];
}
inline int& word_format(int w, int column) { return configuration_store.word_formats[w][column]; }

void set_configuration_defaults();
int get_intsp(int n);
double get_spval(int c);
void set_status_flag(int n, int value);
int get_state_flag(int n);
void set_int_if_unset(double x, int& v);

int get_three_axis_flag();
void store_three_axis_flag(int value);
int get_flag102();
void set_flag102(int value);
int get_flag103();
void set_flag103(int value);
int get_flag104();
void set_flag104(int value);
int get_input_units_flag();
void set_input_units_flag(int value);
int cutfile_has_contact_normals();
void set_cutfile_has_contact_normals(int value);
int get_rotary_set_by_block();
void set_rotary_set_by_block(int value);
int get_linear_set_by_block();
void set_linear_set_by_block(int value);

int get_cutfile_new_style();
void set_cutfile_new_style(int value);
int get_srat_defined();
void set_srat_defined(int value);
int get_cutfile_has_workplane();
void set_cutfile_has_workplane(int value);
int get_multax_record_seen();
void set_multax_record_seen(int value);
int get_cutfile_multiaxis();
void set_cutfile_multiaxis(int value);

// The word that key role k names (NO_WORD for none); a role outside
// 1..NUMKEYS names no word.
inline int key_word(int k) { return k >= 1 && k <= NUMKEYS ? configuration_store.key[k] : NO_WORD; }
// A word number within the word tables: 1..MAXWORDS.
inline bool valid_word(int w) { return w >= 1 && w <= MAXWORDS; }
// A word number that names a word: 1..94 (0 and NO_WORD name none).
inline bool has_word(int w) { return w >= 1 && w < NO_WORD; }
// A word written only when its value changes.
inline bool is_modal(int w) { return has_word(w) && word_format(w, WRDMOD) == 1; }

// The word named by a text (40 characters compared) among words 1..NGPS, or 0.
int find_word(std::string_view name);

// --- output blocks and block items ---------------------------------------------
// Item codes. The class of an item is |code| / 1000 mod 100; for key and word
// items the class mod 10 is the modifier.
constexpr int MOD_VALUE = 1;        // an integer given
constexpr int MOD_TEXT = 2;         // a text given
constexpr int MOD_CURRENT = 3;      // "="
constexpr int MOD_ALONE = 4;        // nothing, ";" or "=S"
constexpr int MOD_NEXT = 5;         // "next"
constexpr int MOD_FORGET = 6;       // "=C"
constexpr int MOD_CANCEL = 7;       // "=P"
constexpr int MOD_TABLE = 8;        // "=A"
constexpr int MOD_VALUE_FORGET = 9; // an item followed by "=C"
constexpr int WORD_ITEM_BASE = 10000;       // word item: 10000 + m * 1000 + w
constexpr int STRING_ITEM_MIN = 99900000;   // codes from here on carry a string
constexpr int STRING_ITEM_MAX = 99999999;
constexpr int KEY_TEXT_ITEM = 99902000;     // + key role
constexpr int KEY_EXPR_ITEM = 99905000;
constexpr int KEY_FORGET_ITEM = 99909000;
constexpr int WORD_TEXT_ITEM = 99912000;    // + word
constexpr int WORD_EXPR_ITEM = 99915000;
constexpr int WORD_FORGET_ITEM = 99919000;
constexpr int CODE_FORGET_ITEM = 9000;      // function code n followed by "=C": -(9000 + n)
constexpr int LITERAL_ITEM = 99900000;
constexpr int SET_ITEM = 99900008;
constexpr int UNSET_ITEM = 99900009;
constexpr int EDIT_ITEM = 99900010;
constexpr int RESET_ITEM = 99900011;
constexpr int REPEAT_ITEM = 99900012;
constexpr int END_REPEAT_ITEM = 99900013;
constexpr int CALL_BLOCK_ITEM = 99900014;
constexpr int IF_ITEM = 99921000;
constexpr int ELSE_IF_ITEM = 99922000;
constexpr int ELSE_ITEM = 23000;
constexpr int END_IF_ITEM = 24000;

int item_class(int code);
int item_carries_string(int code);
// The code of an item followed by "=C".
int forget_previous_code(int code);
// The cldat slot (1..MAXSPB) for a major word: its own slot, else the first
// empty one on its probe path; 0 when every slot holds another major word.
int cldat_slot(int major_word);
// The cldat block serving a major word at run time, or 0 when there is none.
int find_cldat_block(int major_word);
// Stores item i of block b; string numbers count only items that carry one.
// Returns 0, or 1 when i is beyond MAXITEMS (nothing stored).
int store_block_item(int b, int i, int code, int value, double real, int continuation,
                     std::string_view string, int& next_string);

// --- keyword and system-variable tables ----------------------------------------
// The option-file vocabulary (keyword_table) and the names of the system
// variables of block expressions (variable_table): sorted tables of
// blank-padded texts, filled once during static initialisation and never
// changed, searched by match_keyword.
constexpr int KEYWORD_WIDTH = 32;    // characters of a keyword entry
constexpr int KEYWORD_ENTRIES = 400; // entries, fillers included
constexpr int KEYWORD_COUNT = 364;   // real keywords; the rest are fillers
constexpr int KEYWORD_FILLER_CODE = 60;
constexpr int VARIABLE_WIDTH = 24;
constexpr int VARIABLE_ENTRIES = 290;
constexpr int VARIABLE_COUNT = 230;
constexpr int CYCLE_TYPES = 9;       // drilling cycles with a short name
constexpr int CYCLE_NAME_WIDTH = 6;

// Keyword kind = class + 16 x scope + 64 x value type.
constexpr int KEYWORD_CLASS_STATEMENT = 0;  // statement or syntax word
constexpr int KEYWORD_CLASS_KEY = 1;
constexpr int KEYWORD_CLASS_CODE = 2;       // function code
constexpr int KEYWORD_CLASS_KEY_CODE = 3;   // key and function code
constexpr int KEYWORD_CLASS_SETTING = 4;
constexpr int KEYWORD_CLASS_VALUE = 8;
constexpr int KEYWORD_CLASS_BLOCK = 10;
constexpr int KEYWORD_CLASS_OBSOLETE = 11;
constexpr int KEYWORD_SCOPE_GLOBAL = 0;
constexpr int KEYWORD_SCOPE_WORD = 1;       // applies to the words being defined
constexpr int KEYWORD_TYPE_INTEGER = 0;
constexpr int KEYWORD_TYPE_REAL = 1;
constexpr int KEYWORD_TYPE_CHARACTER = 2;
constexpr int KEYWORD_TYPE_LOGICAL = 3;
constexpr int KEYWORD_TYPE_ENUMERATED = 4;
constexpr int KEYWORD_TYPE_CHARACTER_LIST = 5;
constexpr int KEYWORD_TYPE_REAL_LIST = 6;
constexpr int keyword_class(int kind) { return kind % 16; }
constexpr int keyword_scope(int kind) { return (kind / 16) % 4; }
constexpr int keyword_value_type(int kind) { return (kind / 64) % 8; }

// The kinds in use. Codes by class: statement number (statement), key role
// (key), 100 x function-code slot (code), 100 x slot + key role (key and
// code), setting index (setting; a list: element count x 1000 + list
// number), the value itself (value), block number (block).
constexpr int KIND_STATEMENT = 0;
constexpr int KIND_KEY = 1;
constexpr int KIND_CODE = 2;
constexpr int KIND_KEY_CODE = 3;
constexpr int KIND_INTEGER = 4;
constexpr int KIND_BLOCK = 10;
constexpr int KIND_OBSOLETE = 11;
constexpr int KIND_WORD_INTEGER = 20;
constexpr int KIND_REAL = 68;               // R(code); codes above 40 name list elements
constexpr int KIND_CHARACTER = 132;
constexpr int KIND_WORD_CHARACTER = 148;
constexpr int KIND_LOGICAL = 196;
constexpr int KIND_LOGICAL_VALUE = 200;
constexpr int KIND_WORD_LOGICAL = 212;
constexpr int KIND_ENUMERATED = 260;
constexpr int KIND_ENUMERATED_VALUE = 264;
constexpr int KIND_WORD_ENUMERATED = 276;
constexpr int KIND_CHARACTER_LIST = 324;
constexpr int KIND_REAL_LIST = 388;

// Statuses of match_keyword.
constexpr int MATCH_NONE = 0;             // no entry begins with the text
constexpr int MATCH_FOUND = 1;            // exact, or a unique abbreviation
constexpr int MATCH_AMBIGUOUS = 2;
constexpr int MATCH_WORD_COMPLETED = 3;   // text completed to the end of a keyword's word
constexpr int MATCH_FOUND_MAY_EXTEND = 4; // found; a longer keyword may follow

struct keyword_table_t {
    array1<text<KEYWORD_WIDTH>, KEYWORD_ENTRIES> keyword_text;
    array1<int, KEYWORD_ENTRIES> keyword_kind;
    array1<int, KEYWORD_ENTRIES> keyword_code;
};
extern keyword_table_t keyword_table;

struct variable_table_t {
    array1<text<VARIABLE_WIDTH>, VARIABLE_ENTRIES> variable_names;
    array1<int, VARIABLE_ENTRIES> variable_id;         // the evaluator's case; 0 for fillers
    array1<int, VARIABLE_ENTRIES> variable_indexable;  // 1 when it takes a subscript
    array1<int, VARIABLE_ENTRIES> variable_type;       // value_type; -1 for fillers
};
extern variable_table_t variable_table;

// Short names of the drilling cycles, by cycle type 1..CYCLE_TYPES.
extern array1<text<CYCLE_NAME_WIDTH>, CYCLE_TYPES> cycle_names;

// The rows of the data files, in table order.
struct keyword_entry {
    const char* text;
    int code;
    int kind;
};
struct variable_entry {
    const char* name;
    int id;
    int indexable;
    int type;
};
std::span<const keyword_entry> keyword_entries();
std::span<const variable_entry> variable_entries();
std::span<const char* const> cycle_name_entries();

void init_keyword_table();
int add_keyword_entry(int i, std::string_view text, int code, int kind);  // i 0-based; returns i + 1
void init_variable_table();
void add_variable_entry(int index, std::string_view name, int id, int indexable, int type);  // index 1-based
void init_cycle_names();

// Searches a sorted table of count blank-padded entries of width characters,
// laid end to end in table. Returns the entry's index 1..count or 0 and sets
// status (MATCH_*); statuses 3 and 4 may rewrite text (completion).
int match_keyword(std::span<char> text, std::string_view table, int width, int count, int& status);

// A table of text fields seen as the entries laid end to end.
template <std::size_t W, int C>
std::string_view text_table_view(const array1<text<W>, C>& t) {
    static_assert(sizeof(text<W>) == W, "text fields of a table lie end to end");
    return {reinterpret_cast<const char*>(t.data()), W * static_cast<std::size_t>(C)};
}
inline std::string_view keyword_texts() { return text_table_view(keyword_table.keyword_text); }
inline std::string_view variable_texts() { return text_table_view(variable_table.variable_names); }

// The first entry, in table order, of that kind and code; 0 when none.
int find_keyword(int kind, int code);

// --- lexer ---------------------------------------------------------------------
// Option-file text to parser symbols, in layers: logical lines (backslash
// continuation), keywords of one or several words, parser symbols.
constexpr int PHYSICAL_LINE_LIMIT = 2048;  // characters of one physical line
constexpr int LEXER_TEXT_LENGTH = 255;     // work texts of read_next_keyword
// read_continued_line status of a physical line over PHYSICAL_LINE_LIMIT or a
// logical line longer than the line field: the line comes back blank, and the
// reader stands at the start of the next physical line.
constexpr int LINE_OVERLONG = -30;
constexpr int OVERLONG_TEXT_LENGTH = 64;   // start of an overlong line kept for messages

// Parser symbols of next_parser_symbol (a statement keyword of code c is
// SYM_KEYWORD_BASE + c; a keyword of class k is SYM_CLASS_BASE + k).
constexpr int SYM_TOKEN_BASE = 70;  // a token that is not a keyword: 70 + token type
constexpr int SYM_CLASS_BASE = 80;
constexpr int KEYWORD_INDEX_OFFSET = 7;  // read_next_keyword: keyword index + 7

struct lexer_buffers_t {
    text<PHYSICAL_LINE_LIMIT> physical;       // one physical line as read
    text<LEXER_TEXT_LENGTH> match_text;       // the words being matched
    text<LEXER_TEXT_LENGTH> next;             // the token after them
    text<LEXER_TEXT_LENGTH> pending_text;     // the longest keyword found so far
    // The unread line after the first word and after the pending keyword;
    // restoring one of them puts back every word consumed after it.
    text<PHYSICAL_LINE_LIMIT> line_after_first;
    text<PHYSICAL_LINE_LIMIT> line_after_pending;
    text<PHYSICAL_LINE_LIMIT> line_before_next;
    int last_read_status = 0;                 // of the last read_continued_line
    // The physical line the last parser symbol belongs to; for an end of
    // line, the line it ends (the buffer then already holds the next one).
    // Compile errors name this line.
    int symbol_line = 0;
    text<OVERLONG_TEXT_LENGTH> overlong_text; // start of the last overlong line
};
extern lexer_buffers_t lexer_buffers;

// Reads one logical line into line; returns 0, LINE_OVERLONG, or the failed
// status of the last physical read (end of file). line_counter counts each
// joined continuation line (the caller counts the first).
int read_continued_line(int unit, std::span<char> line, int& line_counter);
// The next keyword or token: keyword index + 7; 2..7 a token that is no word;
// 1 a word that is no keyword; 0 the file ended while comments were skipped;
// -1 an ambiguous abbreviation. table holds count entries of width characters.
int read_next_keyword(int unit, std::string_view table, int width, int count, std::span<char> line,
                      std::span<char> token, int& line_counter);
// The type of the next token that is not a comment; 0 at end of file.
int skip_to_next_token(int unit, std::span<char> line, std::span<char> token, int& line_counter);
// The next parser symbol of the option file and its value.
void next_parser_symbol(int unit, std::span<char> line, std::span<char> token, int& line_number,
                        int& symbol_value, int& symbol);

// --- compiler and semantic actions ---------------------------------------------
// Compiler state shared by the parser loop and the semantic actions. The
// instance is defined with the actions (actions.cpp); the parser fills the
// stack, the current token and its symbol value, and the line number.
constexpr int OPTION_STACK_DEPTH = 100;    // parse stack entries 1..OPTION_STACK_DEPTH
constexpr int OPTION_LINE_LENGTH = 255;    // line buffer and token field
constexpr int OPTION_NAME_LENGTH = 256;    // name_text and previous_name_text
constexpr int MAX_IF_DEPTH = 10;           // nested "if" in one block
constexpr int EDIT_NUMBER_FIELD = 10;      // characters read of the number of an "edit" item
constexpr int EDIT_IMPLIED_DECIMALS = 3;   // implied decimals of such a number without a point

struct option_stack_entry {
    int symbol = 0;  // symbol shifted
    int state = 0;   // state it was shifted from
    int aux = 0;     // auxiliary value kept beside the symbol
    int value = 0;   // symbol value (keyword index + 7 for a keyword)
};

// The item being built by the actions of a block section.
struct pending_item_t {
    int code = 0;         // 0: no item (a failed item is not stored)
    int value = 0;
    double real = 0.0;    // also the last real number read by an assignment or edit
    text<120> string;     // the item's string, when its code carries one
};

struct option_compiler_t {
    array1<option_stack_entry, OPTION_STACK_DEPTH> parse_stack;
    int stack_next = 1;             // next free stack entry; the top is stack_next - 1
    int line_number = 0;            // physical lines read in this compile
    int symbol_line = 0;            // the line of the current lookahead symbol, named by errors
    text<OPTION_LINE_LENGTH> line;  // unread rest of the current logical line
    text<OPTION_LINE_LENGTH> token; // text of the current token
    int token_length = 0;
    int symbol_value = 0;           // value of the current lookahead symbol
    text<OPTION_NAME_LENGTH> file_name;  // file being compiled, for message 149
    int definition_context = 0;     // 0 top, 1 word, 2 format, 3 keys, 4 codes/table, 5 block, -1 failed block
    int integer_unreadable = 0;     // 1 when the last integer read gave message 165
    array1<int, 95> selected_words;
    int selected_word_count = 0;
    int format_units_selector = -1; // -1 not chosen, 0 imperial, 1 metric
    int current_block = -1;
    int next_item_index = 1;
    int next_string_index = 1;
    int if_depth = 0;
    array1<int, MAX_IF_DEPTH> if_open;
    pending_item_t pending_item;
    text<OPTION_NAME_LENGTH> name_text;
    text<OPTION_NAME_LENGTH> previous_name_text;
    int table_field_position = 0;
    int table_row_word = 1;         // the word of the current table row
};
extern option_compiler_t option_compiler;

// Parser symbols that the actions look at (statement keywords are 96 + code).
constexpr int SYM_EOF = 0;
constexpr int SYM_WORD = 71;
constexpr int SYM_INT = 72;
constexpr int SYM_REAL = 73;
constexpr int SYM_STRING = 74;
constexpr int SYM_OPEN_STRING = 75;
constexpr int SYM_PAREN = 76;
constexpr int SYM_OPEN_PAREN = 77;
constexpr int SYM_EOL = 79;
constexpr int SYM_KEY = 81;
constexpr int SYM_CODE = 82;
constexpr int SYM_KEYCODE = 83;
constexpr int SYM_SETTING = 84;
constexpr int SYM_VALUE = 88;
constexpr int SYM_BLOCK = 90;
constexpr int SYM_OBSOLETE = 91;
constexpr int SYM_KEYWORD_BASE = 96;  // statement keyword of code c: 96 + c

// Runs semantic action 1..62 of the option-file parser. symbol is the
// lookahead (in and out), aux the auxiliary value kept beside it (in and
// out); the statement's earlier tokens are read from option_compiler's stack.
// Returns 0, or 1 when the action reported an error (already issued).
int option_parser_action(int action, int& symbol, int& aux);
// Resets the action state at the start of each compile.
void reset_option_actions();
// Applies one field of a "define table" row to the row's word (position and
// word in and out; position 0 is the name). value is the integer of an INT
// field, else the field's trimmed length. Returns 0, or 158 when the row
// would define a word beyond MAXDEFWORDS (the row's fields are then dropped).
int parse_word_format(int symbol, std::string_view field, int& position, int value, int& word);

// The option-file compiler: a table-driven LR parser over the symbols of the
// lexer. An entry of parse_table is action x 1000000 + y x 1000 + z.
constexpr int PARSE_STATES = 80;              // states 1..PARSE_STATES
constexpr int PARSE_SYMBOLS = 200;            // symbols 0..PARSE_SYMBOLS - 1
constexpr int PARSE_ERROR = 99000000;         // the entry of every pair not listed
constexpr int PARSE_ACCEPT_STATE = 99;        // reached by shifting the whole file
constexpr int PARSE_RECOVERY_COLUMN = 70;     // entry: entries popped by error recovery
constexpr int PARSE_SHIFT = 0;                // push, go to state z, read on
constexpr int PARSE_REDUCE = 1;               // action y, pop z, continue with symbol y
constexpr int PARSE_REDUCE_KEEP = 2;          // as reduce; the lookahead is read again
constexpr int PARSE_GOTO = 4;                 // go to state z, read on
constexpr int PARSE_FAIL = 99;

struct parse_table_row {
    int state;
    int symbol;
    int action;
    int y;
    int z;
};
// The listed entries of the state table, state by state (parser_table.cpp).
std::span<const parse_table_row> parse_table_rows();

struct option_parser_t {
    array1<std::array<int, PARSE_SYMBOLS>, PARSE_STATES> parse_table;
    int state = 1;
    int symbol = 0;                         // the lookahead
    int aux = 0;                            // auxiliary value beside it
    // A lookahead kept by a reduction, delivered by the next read.
    int saved_symbol = -1;                  // -1: none
    int saved_value = 0;
    int saved_line = 0;
    text<OPTION_LINE_LENGTH> saved_token;
};
extern option_parser_t option_parser;

void init_option_parse_table();
// Compiles the file on unit (a negative unit: nothing) onto the store.
void parse_option_file(int unit, std::string_view file_name);
// After "end": anything but comments that follows is an error (message 156).
void check_end_of_option_file(int unit, std::span<char> line, std::span<char> token, int& line_counter);
// Message 149 with "option", the file being compiled and the line number.
void report_option_error(int line);
// Stops the run with exit code 4 unless errors in the control's text are
// passed over (switch "-o").
void abort_on_option_error();

// --- defaults and dumps --------------------------------------------------------
// The default word table laid under a built-in control or an MCD file, the
// snapshot of the configuration defaults that "-f" compares against, the
// names of keys, codes, settings and blocks, and the "-f" difference dump.
constexpr int DEFAULT_WORD_COUNT = 39;   // words of the default word table
constexpr int SNAPSHOT_TEXT_LENGTH = 40; // characters kept of a word name, letters or setting text
constexpr int KEYWORD_NAME_LENGTH = 132; // a name field long enough for every keyword_name text
constexpr int DUMPED_BLOCKS = 21;        // regular blocks with array names of their own

// Names of the store's tables in the assignment notation, table(indices) =
// value, that the "-f" dump prints and the built-in setting lists are written
// in: the word-format columns by column number, and the item and string
// arrays of the regular blocks 1..DUMPED_BLOCKS.
inline constexpr const char* WORD_COLUMN_NAMES[NFORMAT + 1] = {
    "",       "wrdchl", "wrdlen", "wrdpos", "itppos", "wrdmod", "sinreq",        "wrdfac",        "wrdprn", "izsup_current",
    "idec_current", "wrdimp", "wrdmet", "izsupi", "izsupm", "ideci", "idecm", "scale_divisor", "exponent_width",
};
struct block_array_names {
    const char* items;
    const char* strings;
};
inline constexpr block_array_names BLOCK_ARRAY_NAMES[DUMPED_BLOCKS] = {
    {"bltpst", "blstps"},  // tape start
    {"bltpen", "blstpe"},  // tape end
    {"blgohm", "blsgoh"},  // go home preamble
    {"bltofi", "blstfi"},  // tool change first
    {"bltolc", "blstlc"},  // tool change
    {"bltocl", "blstcl"},  // tool change clear
    {"blgzmv", "blsgzm"},  // go home z move
    {"blgxym", "blsgxm"},  // go home xy move
    {"blm3fr", "bls3fr"},  // move from
    {"blm3cr", "bls3cr"},  // move circle
    {"blm3ln", "bls3ln"},  // move linear
    {"blm3rp", "bls3rp"},  // move rapid
    {"blm3cy", "bls3cy"},  // move cycle
    {"blm3tp", "bls3tp"},  // move tap
    {"bltpsg", "blspsg"},  // tape segment
    {"bltpsp", "blspsp"},  // tape split start
    {"bltesp", "blsesp"},  // tape split end
    {"blmcys", "blscys"},  // cycle start
    {"blmcye", "blscye"},  // cycle end
    {"bltmsp", "blsmsp"},  // tape split move
    {"blm3sp", "bls3sp"},  // move spline
};

// Copies taken before any control is loaded; only the difference dump reads them.
struct defaults_snapshot_t {
    array1<text<SNAPSHOT_TEXT_LENGTH>, MAXWORDS> gpnams_default;
    array1<text<SNAPSHOT_TEXT_LENGTH>, MAXWORDS> wrdch_default;
    array1<int, MAXWORDS> wrdrut_default;
    array1<array1<int, NFORMAT>, MAXWORDS> word_format_defaults;  // [word][column]
    array1<int, NUMINTSP> intsp_default;
    array1<double, NUMSPVAL> spval_default;
    array1<text<SNAPSHOT_TEXT_LENGTH>, NUMSPCHAR> spchar_default;
    array1<array1<int, NUMCODES>, 2> icodes_default;              // [1][slot] word, [2][slot] value
    array1<int, NUMKEYS> key_default;
};
extern defaults_snapshot_t defaults_snapshot;

// Lays the 39 default words, their keys, formats and function codes.
void set_default_words();
// Takes the snapshot, then presets the print header and machine name.
void save_default_configuration();

// Whether a key (kind 1), function code (2, code 100 x slot), integer (4),
// real (68) or character (132) setting, or block (10) is named by a keyword
// or holds something; 0 or 1.
int keyword_in_use(int kind, int code);
// The text of a kind and code: its keyword, else a made-up name when it is in
// use ("key  12", "cldat  1010", "ppfun \"name\"" ...), else blank.
void keyword_name(int kind, int code, std::span<char> name);

// "-f": every value that differs from the snapshot, as assignment lines under
// comment headings, on standard output.
void print_configuration_differences();
// Its line writers; a slot of 0 is a regular block.
void print_int_line(const char* name, int index, int value);
void print_code_line(int slot, int word, int value);
void print_real_line(const char* name, int index, double value);
void print_list_line(int i, int j, double value);
void print_text_line(const char* name, int index, std::string_view value);
void print_block_items(const char* items_name, const char* strings_name, int block, int count, int slot);

// --- derived settings ----------------------------------------------------------
// Run-time values that a loaded control's settings give, derived once after
// the option file; later changes (a "reset" item on counter) start from them.
constexpr int TRANSLATE_LENGTH = 256;       // characters of the translation texts
constexpr int DEFAULT_SEQUENCE_MAX = 9999;  // largest block number when the control sets none

struct derived_settings_t {
    array1<double, MAXWORDS> word_scale;    // wrdfac / scale divisor, per word
    // What the block writer reads of the control on every line, known once
    // per control (derive_output_settings): the entries of the word order
    // up to its first empty one, the trimmed length of the end-of-block text,
    // and every word whose wperm is not 0 (setwrd keeps this set when it
    // makes a word permanent or not).
    int word_order_length = 0;
    int end_of_block_length = 0;
    word_set permanent_words;
    text<TRANSLATE_LENGTH> translate_from;  // record-text characters to translate
    text<TRANSLATE_LENGTH> translate_to;    // and their replacements
    char decimal_point_char = '.';
    int sequence_number_max = DEFAULT_SEQUENCE_MAX;
    int sequence_number = 0;
    int counter = 0;
    int program_id_number = 0;
};
extern derived_settings_t derived_settings;

// Derives the values above, the word count, state flags and the integer
// settings that mirror list settings, and builds the machine model (which
// stops the run with exit code 1 on an impossible axis configuration).
void derive_settings();
// The block writer's part of the values above; derive_settings calls it, and
// whatever changes the word order, the permanence of words or the
// end-of-block text of a loaded control calls it again.
void derive_output_settings();
// Checks the item program of every loaded block.
void check_loaded_blocks();
// Refuses, before a job, a control in which a word that writes a value has a
// format that cannot write a length: decimal places outside 0 to 9 (in
// either units) or a scale factor of 0. Message 183 names the word; the run
// stops with exit code 4.
void check_word_formats();

constexpr int MAX_LINE_LITERALS = 95; // text literals in one output line
// The four checks of one block (count: its blklen; 0 or less: nothing).
void check_if_nesting(block_items_view items, block_strings_view strings, int count, int block);
void check_repeat_blocks(block_items_view items, block_strings_view strings, int count, int block);
void check_block_string_literals(block_items_view items, block_strings_view strings, int count, int block);
void check_block_expressions(block_items_view items, block_strings_view strings, int count, int block);
// Replaces the "call block" items of one block by the items of the user
// blocks they name; count becomes the new item count.
void link_call_blocks(block_items_row items, block_reals_row reals, block_strings_row strings, int& count, int block);
// link_call_blocks over blocks 1..64, before pass 1 of a normal job.
void expand_all_blocks();

// --- MCD file ------------------------------------------------------------------
// The compiled control as a text file: one record per table or table column,
// each written as digit lines of one kind (integer, real, string) that carry
// the record's count and checksum, packed into runs, with repeat lines for
// copies of the line above.
constexpr std::string_view MCD_VERSION_TEXT = "Quilor Kelvaron MCD File Version 1.019";
constexpr int MCD_VERSION_LENGTH = 38;
constexpr int MCD_LINE_LIMIT = 256;        // characters of a line in the file
constexpr int MCD_REPEAT_MAX = 9999;       // copies one repeat line ("+%4d") counts
constexpr int MCD_INT_FIELDS = 6;          // values of an integer line
constexpr int MCD_REAL_FIELDS = 5;         // values of a real line
constexpr int MCD_REAL_SUMMED_FIELDS = 4;  // of which the line's sum covers the first four
constexpr int MCD_STRING_FIELDS = 6;       // fields of four characters on a string line
constexpr int MCD_STRING_LINE_CHARS = 24;  // characters of a field that one string line holds
constexpr int MCD_INT_LINE_LENGTH = 84;
constexpr int MCD_REAL_LINE_LENGTH = 86;
constexpr int MCD_STRING_LINE_LENGTH = 72;
constexpr int MCD_BLOCKS = 64;             // blocks held: regular, cldat and ppfun
constexpr int MCD_LIST_ENTRIES = 10;       // entries held of each real list
constexpr int MCD_WORD_COLUMNS = 17;       // word_formats columns held
constexpr int MCD_RESERVED_INTS = 584;
constexpr int MCD_OLD_RESERVED_INTS = 625; // the most that a file of the older layout holds
constexpr int MCD_RESERVED_REALS = 80;
// Older layout: what its records hold.
constexpr int MCD_OLD_LISTS = 20;
constexpr int MCD_OLD_BLOCKS = 17;
constexpr int MCD_OLD_ITEMS = 64;
// Record errors, and the status of read_mcd_file for a name mismatch; a
// record error reaches the driver as 1000 x its group + the error.
constexpr int MCD_BAD_FIELD = 8;           // a line that is missing or not digits of its kind
constexpr int MCD_BAD_CHECK = 10;          // a count, sum or checksum that does not match
constexpr int MCD_NAME_MISMATCH = 8;
constexpr int MCD_GROUP_FACTOR = 1000;
// The error group of the whole file's checksum, after the records' groups.
constexpr int MCD_WHOLE_FILE_GROUP = 21;
// The last line of a file: this mark and the checksum of every line before
// it, in order, repeat lines included, as MCD_FILE_CHECKSUM_DIGITS digits.
constexpr char MCD_FILE_CHECKSUM_MARK = '=';
constexpr int MCD_FILE_CHECKSUM_DIGITS = 10;

// Reserved records: carried through a read and a write, used by nothing else.
struct mcd_reserved_t {
    array1<int, MCD_OLD_RESERVED_INTS> ints;
    array1<double, MCD_RESERVED_REALS> reals;
};
extern mcd_reserved_t mcd_reserved;

constexpr std::uint32_t MCD_FILE_CHECKSUM_START = 0xFFFFFFFFu;
// The line layer's state for the one file written or read in a run.
struct mcd_line_state_t {
    text<MCD_LINE_LIMIT> previous_packed;  // the writer's last packed line
    int previous_packed_length = -1;       // -1: no line written yet
    int write_repeats = 0;                 // copies of it not yet written
    int write_failed = 0;                  // a line could not be written
    text<MCD_LINE_LIMIT> previous_line;    // the reader's last unpacked line
    int previous_line_length = -1;         // -1: no line read yet
    int read_repeats = 0;                  // copies of it still to return
    // The checksum so far of the lines written or read, each as it stands in
    // the file (packed, or a repeat line) with its end of line.
    std::uint32_t file_checksum = MCD_FILE_CHECKSUM_START;
};
extern mcd_line_state_t mcd_line_state;

// Index 0..31; entry 0 is 0xFFFFFFFF. Constant data, in place before main runs.
extern const std::array<std::uint32_t, 32> checksum_table;

// 24-bit checksums of 32-bit integers, or of characters as signed bytes.
int checksum_ints(std::span<const int> values);
int checksum_chars(std::string_view chars);

// Line layer. pack_runs returns the packed length, -1 when it does not fit;
// expand_repeat_codes the unpacked length, -1 for a line that is not packed
// digits or does not fit. read_mcd_line returns 0, or 1 at the end of the
// file and for a line that is too long or malformed.
void reset_mcd_lines();
int pack_runs(std::string_view line, std::span<char> packed);
int expand_repeat_codes(std::string_view packed, std::span<char> line);
void write_mcd_line(int unit, std::string_view line);
void flush_mcd_repeats(int unit);
int read_mcd_line(int unit, std::span<char> line, int& length);
// The checksum of the whole file (a 32-bit cyclic redundancy check) over
// text, continued from the checksum so far; mcd_file_checksum gives the
// value of the lines so far.
std::uint32_t continue_file_checksum(std::uint32_t so_far, std::string_view text);
std::uint32_t mcd_file_checksum();
// Writes the file's last line, its checksum line.
void write_mcd_file_checksum(int unit);
// Reads the lines after the last record read, up to the checksum line, and
// compares the checksum: 0 when it matches; MCD_BAD_FIELD for a checksum
// line that is not its digits, MCD_BAD_CHECK for a checksum that differs, a
// line after it, or a file that ends without one.
int check_mcd_file_checksum(int unit);

// Records. A reader's status is 0, MCD_BAD_FIELD or MCD_BAD_CHECK; a record's
// count must be the count asked for (read_mcd_integers accepts up to
// values.size() values from a record of at least `at_least` and returns the
// count read in `count`).
void write_mcd_integers(int unit, std::span<const int> values);
void write_mcd_reals(int unit, std::span<const double> values);
void write_mcd_string(int unit, std::string_view field);
void read_mcd_integers(int unit, std::span<int> values, int at_least, int& count, int& status);
void read_mcd_integers(int unit, std::span<int> values, int& status);
void read_mcd_reals(int unit, std::span<double> values, int& status);
void read_mcd_string(int unit, std::span<char> field, int& status);

// One unpacked line cut into its fields; status 0 or MCD_BAD_FIELD.
struct mcd_int_line {
    long long sum = 0, count = 0;
    std::array<long long, MCD_INT_FIELDS> sign{}, magnitude{};
};
struct mcd_real_line {
    long long sum = 0, count = 0;
    std::array<long long, MCD_REAL_FIELDS> code{}, mantissa{};
};
struct mcd_string_line {
    long long sum = 0, length = 0;
    std::array<long long, MCD_STRING_FIELDS> packed{};
};
int split_mcd_integers_line(std::string_view line, mcd_int_line& out);
int split_mcd_reals_line(std::string_view line, mcd_real_line& out);
int split_mcd_string_line(std::string_view line, mcd_string_line& out);

// "-x": the loaded control to the file named after gpnams(0) with the
// extension "mcd"; status 0 when it was written whole.
void write_mcd_file(int& status);
// Reads an open MCD file into the store and closes it: status 0,
// MCD_NAME_MISMATCH after message 155, or 1000 x group + record error.
// name: the control the driver looked for. A blank version text stops the
// run (message 208, exit code 5).
void read_mcd_file(int& unit, std::string_view name, int& status);

// --- text and compact dumps ----------------------------------------------------
// "-w" and "-q": the loaded control as option-file text on standard output
// (form 0 word definitions and format groups, form 1 a table of pictures);
// "-c": the compact column dump, written to the temporary file.
constexpr int TEXT_DUMP_WORDS = 0;       // "-w"
constexpr int TEXT_DUMP_TABLE = 1;       // "-q"
constexpr int SETTING_NAME_WIDTH = 80;   // keyword field of settings and format attributes
constexpr int FLAG_NAME_WIDTH = 32;      // keyword field of the zero and decimal-point flags
constexpr int MIN_NAME_WIDTH = 25;
constexpr int DUMP_TEXT_LINE = 1024;     // an assignment or item line as built
constexpr int ITEM_TEXT_LENGTH = 512;    // one item as text (a 120-character string, escaped)

void write_option_file_text(int form);
// An assignment line: the keyword from column 1, "=" at column w + 3 and the
// value from column w + 5, w being width but at least MIN_NAME_WIDTH.
void format_assignment(std::string_view keyword, int width, std::string_view value, std::span<char> line);
// The text of one item of block b; open is the count of open "if" and
// "repeat", updated by the item. Returns the text's length.
int item_text(int b, int i, int& open, std::span<char> out);
// Blanks put before a line ended by an item of that class at that open count.
int indent_item_line(int open, int item_class_of_line, int is_end_if);
// Whether words w and v have the same output format (the columns and
// settings a format definition writes).
int same_word_format(int w, int v);
// The words whose format equals word w's, from w on, that no earlier group took.
int format_group_words(int w, array1<int, MAXWORDS>& group, array1<int, MAXWORDS>& taken);
// Entries of real list column k (0 when no list keyword names it).
int list_length(int k);
void write_format_definition(array1<int, MAXWORDS>& group, int count);

// "-c": one compact dump of the loaded configuration to the temporary file.
void write_cfg_dump();

}  // namespace kv
