// Applies a built-in setting list: reads each line "table(indices) = value"
// in the notation of the difference dump and assigns the value to that
// element of the configuration store, or tells whether the store holds it.
#include <charconv>
#include <climits>
#include <cmath>

#include "builtins/builtins.h"

namespace kv {

namespace {

// How an element is found in the store.
enum element_kind : int {
    E_NGPS,            // scalar
    E_CLDAT_COUNT,     // scalar: cldat blocks defined
    E_GPNAMS,          // (word)
    E_WRDCH,           // (word)
    E_FORMAT,          // (word), column = param
    E_WPERM,           // (word)
    E_WRDLNK,          // (word)
    E_WRDRUT,          // (position)
    E_KEY,             // (role)
    E_ICODES,          // (1 word / 2 value, slot)
    E_SCODES,          // (slot)
    E_INTSP,           // (n)
    E_SPVAL,           // (n)
    E_AVALS,           // (i, list)
    E_SPCHAR,          // (n)
    E_BLKLEN,          // (block)
    E_BLKSPC,          // (cldat slot)
    E_ITEMS,           // (item word, item) of block param
    E_STRINGS,         // (string) of block param
    E_CLDAT_ITEMS,     // (item word, item, cldat slot)
    E_CLDAT_STRINGS,   // (string, cldat slot)
};

// One assignable table under the name the dump prints. Integer values are
// bounded where an out-of-range value would later index past a table.
struct element_row {
    const char* name;
    int kind;
    int param;
    int value_type;
    int index_count;
    int lo[ASSIGNMENT_INDICES];
    int hi[ASSIGNMENT_INDICES];
    int value_lo;
    int value_hi;
};

constexpr int ANY_LO = INT_MIN;
constexpr int ANY_HI = INT_MAX;

#define KV_WORD_COLUMN(column) \
    {WORD_COLUMN_NAMES[column], E_FORMAT, column, ASSIGNED_INTEGER, 1, {1, 0, 0}, {MAXWORDS, 0, 0}, ANY_LO, ANY_HI}
#define KV_BLOCK(block)                                                                              \
    {BLOCK_ARRAY_NAMES[block - 1].items, E_ITEMS, block, ASSIGNED_INTEGER, 2, {1, 1, 0}, {3, MAXITEMS, 0}, ANY_LO, ANY_HI},         \
    {BLOCK_ARRAY_NAMES[block - 1].strings, E_STRINGS, block, ASSIGNED_TEXT, 1, {1, 0, 0}, {MAXITEMS, 0, 0}, 0, 0}

const element_row ELEMENTS[] = {
    {"NGPS", E_NGPS, 0, ASSIGNED_INTEGER, 0, {0, 0, 0}, {0, 0, 0}, 0, MAXDEFWORDS},
    {"special_block_count", E_CLDAT_COUNT, 0, ASSIGNED_INTEGER, 0, {0, 0, 0}, {0, 0, 0}, 0, MAXCLDAT},
    {"gpnams", E_GPNAMS, 0, ASSIGNED_TEXT, 1, {1, 0, 0}, {MAXWORDS, 0, 0}, 0, 0},
    {"wrdch", E_WRDCH, 0, ASSIGNED_TEXT, 1, {1, 0, 0}, {MAXWORDS, 0, 0}, 0, 0},
    KV_WORD_COLUMN(WRDCHL),
    KV_WORD_COLUMN(WRDLEN),
    KV_WORD_COLUMN(WRDPOS),
    KV_WORD_COLUMN(ITPPOS),
    KV_WORD_COLUMN(WRDMOD),
    KV_WORD_COLUMN(SINREQ),
    KV_WORD_COLUMN(WRDFAC),
    KV_WORD_COLUMN(WRDPRN),
    KV_WORD_COLUMN(WRDIMP),
    KV_WORD_COLUMN(WRDMET),
    KV_WORD_COLUMN(IZSUPI),
    KV_WORD_COLUMN(IZSUPM),
    KV_WORD_COLUMN(IDECI),
    KV_WORD_COLUMN(IDECM),
    KV_WORD_COLUMN(SCALE_DIVISOR),
    {"wperm", E_WPERM, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {MAXWORDS, 0, 0}, ANY_LO, ANY_HI},
    {"wrdlnk", E_WRDLNK, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {MAXWORDS, 0, 0}, ANY_LO, ANY_HI},
    {"wrdrut", E_WRDRUT, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {MAXWORDS, 0, 0}, ANY_LO, ANY_HI},
    {"key", E_KEY, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {NUMKEYS, 0, 0}, 1, NO_WORD},
    {"icodes", E_ICODES, 0, ASSIGNED_INTEGER, 2, {1, 1, 0}, {2, NUMCODES, 0}, ANY_LO, ANY_HI},
    {"scodes", E_SCODES, 0, ASSIGNED_TEXT, 1, {1, 0, 0}, {NUMCODES, 0, 0}, 0, 0},
    {"intsp", E_INTSP, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {NUMINTSP, 0, 0}, ANY_LO, ANY_HI},
    {"spval", E_SPVAL, 0, ASSIGNED_REAL, 1, {1, 0, 0}, {NUMSPVAL, 0, 0}, 0, 0},
    {"avals", E_AVALS, 0, ASSIGNED_REAL, 2, {1, 1, 0}, {AVALS_ROWS, AVALS_LISTS, 0}, 0, 0},
    {"spchar", E_SPCHAR, 0, ASSIGNED_TEXT, 1, {1, 0, 0}, {NUMSPCHAR, 0, 0}, 0, 0},
    {"blklen", E_BLKLEN, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {NUMBLK + MAXSPB, 0, 0}, 0, MAXITEMS},
    {"blkspc", E_BLKSPC, 0, ASSIGNED_INTEGER, 1, {1, 0, 0}, {MAXSPB, 0, 0}, ANY_LO, ANY_HI},
    KV_BLOCK(1),
    KV_BLOCK(2),
    KV_BLOCK(3),
    KV_BLOCK(4),
    KV_BLOCK(5),
    KV_BLOCK(6),
    KV_BLOCK(7),
    KV_BLOCK(8),
    KV_BLOCK(9),
    KV_BLOCK(10),
    KV_BLOCK(11),
    KV_BLOCK(12),
    KV_BLOCK(13),
    KV_BLOCK(14),
    KV_BLOCK(15),
    KV_BLOCK(16),
    KV_BLOCK(17),
    KV_BLOCK(18),
    KV_BLOCK(19),
    KV_BLOCK(20),
    KV_BLOCK(21),
    {"blspec", E_CLDAT_ITEMS, 0, ASSIGNED_INTEGER, 3, {1, 1, 1}, {3, MAXITEMS, MAXSPB}, ANY_LO, ANY_HI},
    {"blsspc", E_CLDAT_STRINGS, 0, ASSIGNED_TEXT, 2, {1, 1, 0}, {MAXITEMS, MAXSPB, 0}, 0, 0},
};

#undef KV_WORD_COLUMN
#undef KV_BLOCK

constexpr int ELEMENT_ROWS = static_cast<int>(sizeof(ELEMENTS) / sizeof(ELEMENTS[0]));

const element_row& row_of(const setting_assignment& a) { return ELEMENTS[a.table - 1]; }

// The store element an assignment names: exactly one of the three is set.
struct element_ref {
    int* i = nullptr;
    double* r = nullptr;
    std::span<char> t;
};

int& item_word(int block, int item, int word) {
    block_item_t& it = configuration_store.block_items[block][item];
    return word == 1 ? it.code : word == 2 ? it.value : it.string_ref;
}

element_ref element_of(const setting_assignment& a) {
    configuration_store_t& cs = configuration_store;
    const element_row& row = row_of(a);
    const int x = a.index[1];
    const int y = a.index[2];
    element_ref e;
    switch (row.kind) {
        case E_NGPS: e.i = &cs.NGPS; break;
        case E_CLDAT_COUNT: e.i = &cs.special_block_count; break;
        case E_GPNAMS: e.t = cs.gpnams[x].span(); break;
        case E_WRDCH: e.t = cs.wrdch[x].span(); break;
        case E_FORMAT: e.i = &cs.word_formats[x][row.param]; break;
        case E_WPERM: e.i = &cs.wperm[x]; break;
        case E_WRDLNK: e.i = &cs.wrdlnk[x]; break;
        case E_WRDRUT: e.i = &cs.wrdrut[x]; break;
        case E_KEY: e.i = &cs.key[x]; break;
        case E_ICODES: e.i = &cs.icodes[x][y]; break;
        case E_SCODES: e.t = cs.scodes[x].span(); break;
        case E_INTSP: e.i = &cs.intsp[x]; break;
        case E_SPVAL: e.r = &spval(x); break;
        case E_AVALS: e.r = &avals(x, y); break;
        case E_SPCHAR: e.t = cs.spchar[x].span(); break;
        case E_BLKLEN: e.i = &cs.blklen[x]; break;
        case E_BLKSPC: e.i = &cs.blkspc[x]; break;
        case E_ITEMS: e.i = &item_word(row.param, y, x); break;
        case E_STRINGS: e.t = cs.block_texts[row.param][x].span(); break;
        case E_CLDAT_ITEMS: e.i = &item_word(CLDAT_BASE + a.index[3], y, x); break;
        case E_CLDAT_STRINGS: e.t = cs.block_texts[CLDAT_BASE + y][x].span(); break;
        default: break;
    }
    return e;
}

// A small reader over one line.
struct line_reader {
    std::string_view s;
    std::size_t p = 0;
    void skip_blanks() {
        while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
    }
    bool take(char ch) {
        skip_blanks();
        if (p < s.size() && s[p] == ch) {
            ++p;
            return true;
        }
        return false;
    }
    bool at_end() {
        skip_blanks();
        return p >= s.size();
    }
    bool read_int(int& v) {
        skip_blanks();
        const char* first = s.data() + p;
        const auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), v);
        if (ec != std::errc() || ptr == first) return false;
        p += static_cast<std::size_t>(ptr - first);
        return true;
    }
};

bool is_name_char(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_';
}

// The value after "=": a quoted text, char(n), or a number.
int read_value(line_reader& r, setting_assignment& a) {
    r.skip_blanks();
    const std::string_view s = r.s;
    if (r.p < s.size() && s[r.p] == '\'') {
        // Quoted text; a doubled quote stands for one quote. Characters beyond
        // the widest element are dropped, as the assignment would cut them.
        a.text_value.clear();
        int n = 0;
        std::size_t p = r.p + 1;
        for (;;) {
            if (p >= s.size()) return 1;  // unterminated
            if (s[p] == '\'') {
                if (p + 1 < s.size() && s[p + 1] == '\'') {
                    ++p;
                } else {
                    break;
                }
            }
            if (n < ASSIGNMENT_TEXT_LENGTH) a.text_value[++n] = s[p];
            ++p;
        }
        r.p = p + 1;
        a.value_type = ASSIGNED_TEXT;
        return 0;
    }
    if (s.substr(r.p, 5) == "char(") {
        r.p += 5;
        int code = 0;
        if (!r.read_int(code) || code < 0 || code > 255 || !r.take(')')) return 1;
        a.text_value.clear();
        a.text_value[1] = static_cast<char>(static_cast<unsigned char>(code));
        a.value_type = ASSIGNED_TEXT;
        return 0;
    }
    std::size_t end = r.p;
    if (end < s.size() && (s[end] == '-' || s[end] == '+')) ++end;
    bool real = false;
    while (end < s.size() && ((s[end] >= '0' && s[end] <= '9') || s[end] == '.' || s[end] == 'e' || s[end] == 'E' ||
                              ((s[end] == '-' || s[end] == '+') && (s[end - 1] == 'e' || s[end - 1] == 'E')))) {
        if (s[end] == '.' || s[end] == 'e' || s[end] == 'E') real = true;
        ++end;
    }
    // from_chars takes no leading '+'.
    std::size_t start = r.p;
    if (start < end && s[start] == '+') ++start;
    const char* first = s.data() + start;
    const char* last = s.data() + end;
    if (first == last) return 1;
    if (real) {
        const auto [ptr, ec] = std::from_chars(first, last, a.real_value);
        if (ec != std::errc() || ptr != last || !std::isfinite(a.real_value)) return 1;
        a.value_type = ASSIGNED_REAL;
    } else {
        const auto [ptr, ec] = std::from_chars(first, last, a.int_value);
        if (ec != std::errc() || ptr != last) return 1;
        a.value_type = ASSIGNED_INTEGER;
    }
    r.p = end;
    return 0;
}

}  // namespace

int read_assignment(std::string_view line, setting_assignment& a) {
    a = setting_assignment{};
    line_reader r{line};
    r.skip_blanks();
    const std::size_t name_start = r.p;
    while (r.p < line.size() && is_name_char(line[r.p])) ++r.p;
    const std::string_view name = line.substr(name_start, r.p - name_start);
    for (int t = 1; t <= ELEMENT_ROWS; ++t) {
        if (name == ELEMENTS[t - 1].name) {
            a.table = t;
            break;
        }
    }
    if (a.table == 0) return 1;
    const element_row& row = row_of(a);

    if (r.take('(')) {
        do {
            if (a.index_count == ASSIGNMENT_INDICES) return 1;
            if (!r.read_int(a.index[++a.index_count])) return 1;
        } while (r.take(','));
        if (!r.take(')')) return 1;
    }
    if (a.index_count != row.index_count) return 1;
    for (int k = 1; k <= row.index_count; ++k)
        if (a.index[k] < row.lo[k - 1] || a.index[k] > row.hi[k - 1]) return 1;

    if (!r.take('=')) return 1;
    if (read_value(r, a) != 0 || !r.at_end()) return 1;

    // A real element takes an integer too; otherwise the types must agree.
    if (row.value_type == ASSIGNED_REAL && a.value_type == ASSIGNED_INTEGER) {
        a.real_value = a.int_value;
        a.value_type = ASSIGNED_REAL;
    }
    if (a.value_type != row.value_type) return 1;
    if (a.value_type == ASSIGNED_INTEGER && (a.int_value < row.value_lo || a.int_value > row.value_hi)) return 1;
    return 0;
}

void apply_assignment(const setting_assignment& a) {
    const element_ref e = element_of(a);
    if (e.i != nullptr) {
        *e.i = a.int_value;
    } else if (e.r != nullptr) {
        *e.r = a.real_value;
    } else {
        assign_text(e.t, a.text_value.view());
    }
}

int assignment_holds(const setting_assignment& a) {
    const element_ref e = element_of(a);
    if (e.i != nullptr) return *e.i == a.int_value ? 1 : 0;
    if (e.r != nullptr) return std::fabs(*e.r - a.real_value) <= 0.5e-6 ? 1 : 0;
    // The element holds the text as the assignment would have cut it.
    const std::string_view value = a.text_value.view().substr(0, e.t.size());
    return text_equals(std::string_view(e.t.data(), e.t.size()), value);
}

int apply_setting_list(std::span<const char* const> lines) {
    setting_assignment a;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (read_assignment(lines[n], a) != 0) return static_cast<int>(n) + 1;
        apply_assignment(a);
    }
    return 0;
}

}  // namespace kv
