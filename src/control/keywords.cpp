// The keyword and system-variable vocabularies: filling the tables at start-up,
// match_keyword (unique abbreviations, keywords of several words completed one
// word at a time) and the lookup from kind and code back to a keyword.
#include "control/control.h"

namespace kv {

keyword_table_t keyword_table;
variable_table_t variable_table;
array1<text<CYCLE_NAME_WIDTH>, CYCLE_TYPES> cycle_names;

namespace {
// The tables are in place before the driver starts: filled right after their
// definitions above, in the same translation unit, so no reader sees them blank.
const bool vocabularies_ready = (init_keyword_table(), init_variable_table(), init_cycle_names(), true);

// A filler fills its entry with 'z' to the full width; it only keeps the
// table at its fixed size and is never a match.
bool is_filler(std::string_view entry) {
    if (entry.empty() || entry[0] != 'z') return false;
    for (char ch : entry)
        if (ch != 'z') return false;
    return true;
}

// Whether the first n characters of entry equal text (n = text's length). A
// text longer than the entry never fits: its last character is not a blank.
bool begins_with(std::string_view entry, std::string_view text) {
    return text.size() <= entry.size() && entry.substr(0, text.size()) == text;
}

// Position (1-based) of the first blank after position from within the
// entry's trimmed length; 0 when none.
int blank_after(std::string_view entry, int from) {
    const int n = trimmed_length(entry);
    for (int i = from + 1; i <= n; ++i)
        if (entry[static_cast<std::size_t>(i - 1)] == ' ') return i;
    return 0;
}
}  // namespace

int add_keyword_entry(int i, std::string_view text, int code, int kind) {
    keyword_table.keyword_text[i + 1].set(text);
    keyword_table.keyword_code[i + 1] = code;
    keyword_table.keyword_kind[i + 1] = kind;
    return i + 1;
}

void init_keyword_table() {
    int i = 0;
    for (const keyword_entry& e : keyword_entries()) i = add_keyword_entry(i, e.text, e.code, e.kind);
    const std::string filler(KEYWORD_WIDTH, 'z');
    while (i < KEYWORD_ENTRIES) i = add_keyword_entry(i, filler, KEYWORD_FILLER_CODE, KIND_STATEMENT);
}

void add_variable_entry(int index, std::string_view name, int id, int indexable, int type) {
    variable_table.variable_names[index].set(name);
    variable_table.variable_id[index] = id;
    variable_table.variable_indexable[index] = indexable;
    variable_table.variable_type[index] = type;
}

void init_variable_table() {
    int i = 0;
    for (const variable_entry& e : variable_entries()) add_variable_entry(++i, e.name, e.id, e.indexable, e.type);
    const std::string filler(VARIABLE_WIDTH, 'z');
    while (i < VARIABLE_ENTRIES) add_variable_entry(++i, filler, 0, 0, -1);
}

void init_cycle_names() {
    int i = 0;
    for (const char* name : cycle_name_entries()) cycle_names[++i].set(name);
}

int match_keyword(std::span<char> text, std::string_view table, int width, int count, int& status) {
    status = MATCH_NONE;
    KV_INDEX_CHECK(width > 0 && count >= 0 &&
                   table.size() >= static_cast<std::size_t>(width) * static_cast<std::size_t>(count));
    const std::string_view field(text.data(), text.size());
    const int length = trimmed_length(field);
    const std::string_view word = field.substr(0, static_cast<std::size_t>(length));
    // No table entry holds "_": a name written with a trailing "_" is a name,
    // whatever table it is looked up in. A blank text names nothing.
    if (length == 0 || word.back() == '_') return 0;
    auto entry = [&](int i) {
        return table.substr(static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(width),
                            static_cast<std::size_t>(width));
    };
    auto continues = [&](int i) { return i <= count && !is_filler(entry(i)) && begins_with(entry(i), word); };

    int lo = 1;
    int hi = count;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        if (text_equals(word, entry(mid))) {
            if (is_filler(entry(mid))) return 0;
            status = continues(mid + 1) ? MATCH_FOUND_MAY_EXTEND : MATCH_FOUND;
            return mid;
        }
        if (compare_texts(word, entry(mid)) < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }

    // lo is the first entry greater than the text; past the last entry when
    // the text sorts after them all.
    const int p = lo;
    if (!continues(p)) return 0;
    const std::string_view first = entry(p);
    if (const int b = blank_after(first, length); b > 0) {
        assign_text(text, first.substr(0, static_cast<std::size_t>(b)));
        status = MATCH_WORD_COMPLETED;
        return 0;
    }
    if (!continues(p + 1)) {
        status = MATCH_FOUND;
        return p;
    }
    // Two entries begin with the text. When the next one is a keyword of
    // several words whose first word is this whole entry ("spindle" before
    // "spindle azimuth rotation"), the shorter keyword is meant.
    const std::string_view next = entry(p + 1);
    const int g = blank_after(next, 0);
    if (g > 0 && first.substr(0, static_cast<std::size_t>(g)) == next.substr(0, static_cast<std::size_t>(g))) {
        assign_text(text, first);
        status = MATCH_FOUND_MAY_EXTEND;
        return p;
    }
    status = MATCH_AMBIGUOUS;
    return 0;
}

int find_keyword(int kind, int code) {
    for (int i = 1; i <= KEYWORD_COUNT; ++i)
        if (keyword_table.keyword_kind[i] == kind && keyword_table.keyword_code[i] == code) return i;
    return 0;
}

}  // namespace kv
