// The semantic actions of the option-file parser: what each statement of a
// control's text stores in the configuration store and in the output blocks
// (words, formats, links, keys, codes, word order, settings, block items).
#include <cstdio>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

// Word start values and texts belong to the word state of the output engine.
void setwrd(int w, int v, int type);
void setwst(int w, std::string_view text);

option_compiler_t option_compiler;

namespace {

// Statement keywords by their code (symbol 96 + code).
constexpr int SYM_SEMICOLON = SYM_KEYWORD_BASE + 0;
constexpr int SYM_EQUALS = SYM_KEYWORD_BASE + 1;
constexpr int SYM_MODAL = SYM_KEYWORD_BASE + 19;
constexpr int SYM_NOT_MODAL = SYM_KEYWORD_BASE + 20;
constexpr int SYM_EQUALS_A = SYM_KEYWORD_BASE + 26;
constexpr int SYM_METRIC_FORMATS = SYM_KEYWORD_BASE + 27;
constexpr int SYM_PERMANENT = SYM_KEYWORD_BASE + 30;
constexpr int SYM_EVERY_BLOCK = SYM_KEYWORD_BASE + 31;
constexpr int SYM_EQUALS_C = SYM_KEYWORD_BASE + 50;
constexpr int SYM_EQUALS_P = SYM_KEYWORD_BASE + 51;
constexpr int SYM_NEXT = SYM_KEYWORD_BASE + 65;

// Nonterminals: the symbol of the action that produced them.
constexpr int NT_FORMAT_LIST = 58;
constexpr int NT_QUERY = 49;
constexpr int NT_CODE = 28;
constexpr int NT_KEY = 29;
constexpr int NT_INTEGER = 55;
constexpr int NT_NAME = 57;
constexpr int NT_INTEGER_INDEX = 35;
constexpr int NT_REAL_INDEX = 36;
constexpr int NT_CHARACTER_INDEX = 37;

constexpr int INT_FIELD = 12;         // integers are read as fields of 12 characters
constexpr int REAL_FIELD = 14;        // real settings and list elements
constexpr int WORD_ZERO_LENGTH = 16;
constexpr int PRINT_POSITION_CODE = 5; // "print position" writes column WRDPOS

// Highest index of each value type at the top level. Real setting keywords
// name any element of R (list elements above 40 among them); only the
// numbered statement "real n" is held to the 40 real settings.
constexpr int TOP_LIMIT_INTEGER = NUMINTSP;
constexpr int TOP_LIMIT_REAL_NUMBERED = NUMSPVAL;
constexpr int TOP_LIMIT_REAL_KEYWORD = NUMREALS;
constexpr int TOP_LIMIT_CHARACTER = NUMSPCHAR;
constexpr int TOP_LIMIT_CHARACTER_LIST = 99;
constexpr int TOP_LIMIT_REAL_LIST = AVALS_LISTS;
constexpr int NO_TYPE = -1;           // a query answer that is no value

option_compiler_t& oc = option_compiler;
configuration_store_t& cs = configuration_store;

// Stack entry k places below the top (0: the top).
const option_stack_entry& stack_entry(int k) {
    static const option_stack_entry none{};
    const int i = oc.stack_next - 1 - k;
    if (i < 1 || i > OPTION_STACK_DEPTH) return none;
    return oc.parse_stack[i];
}

std::string_view token_text() { return trimmed(oc.token.view()); }

// A word's name as a statement writes it: one trailing "_" dropped, so that
// a word may be named like a keyword.
std::string_view word_name(std::string_view name) {
    name = trimmed(name);
    if (!name.empty() && name.back() == '_') name.remove_suffix(1);
    return name;
}

// Reports an error in the control's text: message 149, then message n with
// its arguments; stops the run unless errors are passed over. Returns 1.
int option_error(int n, std::string_view a1 = {}, std::string_view a2 = {}) {
    report_option_error(oc.symbol_line);
    set_message_string_arg(1, a1);
    set_message_string_arg(2, a2);
    issue_message(n);
    abort_on_option_error();
    return 1;
}

// An error with message 149 alone (an unreadable number).
int option_error_149() {
    report_option_error(oc.symbol_line);
    abort_on_option_error();
    return 1;
}

// Reads an integer token; a number beyond 32 bits is a value of the wrong type.
int read_integer(std::string_view field, int& value) {
    int error = 0;
    value = read_int_field(field, INT_FIELD, error);
    oc.integer_unreadable = error != 0 ? 1 : 0;
    if (error != 0) {
        value = 0;
        return option_error(165);
    }
    return 0;
}

int keyword_index_of(int symbol_value) {
    const int i = symbol_value - KEYWORD_INDEX_OFFSET;
    return i >= 1 && i <= KEYWORD_ENTRIES ? i : 0;
}

int keyword_code_of(int symbol_value) {
    const int i = keyword_index_of(symbol_value);
    return i > 0 ? keyword_table.keyword_code[i] : 0;
}

void start_block(int b) {
    oc.current_block = b;
    oc.next_item_index = 1;
    oc.next_string_index = 1;
    oc.if_depth = 0;
    oc.definition_context = 5;
    oc.pending_item.code = 0;
}

// A block header that failed leaves no block current: its items and its
// "end define" store nothing.
int block_header_failed(std::string_view kind) {
    oc.definition_context = -1;
    oc.current_block = -1;
    return option_error(284, kind);
}

int block_is_current() { return oc.definition_context != -1 && oc.current_block >= 1 ? 1 : 0; }

void set_pending(int code, int value, std::string_view string) {
    oc.pending_item.code = code;
    oc.pending_item.value = value;
    oc.pending_item.string.set(string);
}

// The word named in a block item: "msg" is the message slot 99.
int item_word(std::string_view name) {
    if (name == "msg") return MSG_ROLE;
    return find_word(name);
}

// The modifier of a key or word item from the token after it.
int item_modifier(int symbol) {
    switch (symbol) {
    case NT_INTEGER: return MOD_VALUE;
    case SYM_EQUALS: return MOD_CURRENT;
    case SYM_NEXT: return MOD_NEXT;
    case SYM_EQUALS_C: return MOD_FORGET;
    case SYM_EQUALS_P: return MOD_CANCEL;
    case SYM_EQUALS_A: return MOD_TABLE;
    default: return MOD_ALONE;  // end of line, ";" or "=S"
    }
}

// Action 48: the code of the item whose last token is the lookahead.
int item_code(int symbol, int aux) {
    oc.pending_item.code = 0;
    const option_stack_entry& top = stack_entry(0);
    if (top.symbol == NT_KEY || top.symbol == NT_NAME) {
        int target;  // key role or word
        int base;    // key items from 0, word items from WORD_ITEM_BASE
        if (top.symbol == NT_KEY) {
            target = top.aux;
            if ((target < 1 || target > NUMKEYS) && target != MSG_ROLE) return option_error(162, "Key");
            base = 0;
        } else {
            const std::string_view name = word_name(oc.name_text.view());
            target = item_word(name);
            if (target == 0) return option_error(161, "Block output for", name);
            base = WORD_ITEM_BASE;
        }
        if (symbol == SYM_STRING) {
            set_pending((base ? WORD_TEXT_ITEM : KEY_TEXT_ITEM) + target, 0, token_text());
        } else if (symbol == SYM_WORD || symbol == SYM_PAREN || symbol == SYM_REAL) {
            set_pending((base ? WORD_EXPR_ITEM : KEY_EXPR_ITEM) + target, 0, token_text());
        } else {
            const int m = item_modifier(symbol);
            set_pending(base + m * 1000 + target, m == MOD_VALUE ? aux : 0, "");
        }
        return 0;
    }
    if (symbol == NT_CODE) {
        if (aux < 1 || aux > NUMCODES) return option_error(162, "Code");
        set_pending(aux, cs.icodes[2][aux], "");
        return 0;
    }
    set_pending(LITERAL_ITEM, 0, token_text());
    return 0;
}

// Action 8: "define word" selects one word, defining it when it is new.
int select_word() {
    const std::string_view name = word_name(oc.name_text.view());
    oc.selected_word_count = 1;
    int w = find_word(name);
    int status = 0;
    if (w == 0) {
        if (cs.NGPS >= MAXDEFWORDS) {
            oc.selected_word_count = -1;
            status = option_error(158);
        } else {
            w = ++cs.NGPS;
            cs.gpnams[w].set(name);
        }
    }
    if (w > 0) oc.selected_words[1] = w;
    oc.definition_context = 1;
    oc.format_units_selector = -1;
    return status;
}

// Action 14: "define format" selects all words or the words of a list.
int select_format(int is_list) {
    int status = 0;
    oc.selected_word_count = 0;
    if (!is_list) {
        for (int w = 1; w <= cs.NGPS; ++w) oc.selected_words[++oc.selected_word_count] = w;
    } else {
        text<OPTION_NAME_LENGTH> rest(oc.name_text.view());
        text<OPTION_NAME_LENGTH> name;
        int length = 0;
        while (tokenise_line(rest, name, length) != TOKEN_NONE) {
            const std::string_view n = word_name(name.view());
            const int w = find_word(n);
            if (w == 0) {
                status = option_error(160, n);
                continue;
            }
            // A list longer than the word table selects its first 95 names.
            if (oc.selected_word_count < MAXWORDS) oc.selected_words[++oc.selected_word_count] = w;
        }
    }
    oc.definition_context = 2;
    oc.format_units_selector = -1;
    return status;
}

// Action 21: a line of the codes section.
int assign_code() {
    const int n = stack_entry(3).aux;
    int value;
    std::string_view name;
    std::string_view string;
    if (stack_entry(0).symbol == NT_INTEGER) {
        value = stack_entry(0).aux;
        name = word_name(oc.name_text.view());
    } else {
        value = n + TEXT_CODE_BASE;
        name = word_name(oc.previous_name_text.view());
        string = trimmed(oc.name_text.view());
    }
    const int w = find_word(name);
    if (w == 0) return option_error(161, "code", name);
    if (n < 1 || n > NUMCODES) return option_error(162, "Code");
    cs.icodes[1][n] = w;
    cs.icodes[2][n] = value;
    if (value > TEXT_CODE_BASE) cs.scodes[n].set(string);
    return 0;
}

// Action 22: "word order =" replaces the order, or extends it after "+".
int assign_word_order() {
    int status = 0;
    text<OPTION_LINE_LENGTH> rest(oc.token.view());
    text<OPTION_LINE_LENGTH> name;
    int length = 0;
    bool addition = false;
    bool cleared = false;
    int position = 1;
    while (tokenise_line(rest, name, length) != TOKEN_NONE) {
        const std::string_view n = trimmed(name.view());
        if (n == "+") {
            addition = true;
            position = 1;
            while (position <= MAXWORDS && cs.wrdrut[position] != ORDER_END) ++position;
            continue;
        }
        if (!addition && !cleared) {
            cs.wrdrut.fill(ORDER_END);
            cleared = true;
            position = 1;
        }
        int entry;
        if (n == "msg") {
            entry = MSG_ROLE;
        } else {
            entry = find_word(word_name(n));
            if (entry == 0) {
                status = option_error(163, word_name(n));
                continue;
            }
        }
        if (position > MAXWORDS) return option_error(162, "Word order");
        cs.wrdrut[position++] = entry;
    }
    return status;
}

// Action 49: the value of an assignment read from the console. The answer's
// first token becomes the current token; its symbol goes back in aux.
int read_query_answer(int& aux) {
    const text<OPTION_LINE_LENGTH> prompt(oc.token.view());
    text<OPTION_LINE_LENGTH> answer;
    for (;;) {
        if (prompt_and_read_line(trimmed(prompt.view()), answer) == 0) {
            issue_message(101);
            // Standard input that has ended can never answer: stop rather
            // than ask for ever.
            std::FILE* in = unit_table.stream[static_cast<std::size_t>(input_unit())];
            if (in == nullptr || std::feof(in) || std::ferror(in)) stop_run(4);
            continue;
        }
        int length = 0;
        const int type = tokenise_line(answer, oc.token, length);
        if (type == TOKEN_NONE) continue;
        oc.token_length = trimmed_length(oc.token.view());
        aux = SYM_TOKEN_BASE + type;
        // A word that is exactly a value keyword ("true", "metric") counts as
        // that keyword, as it would in the file.
        if (type == TOKEN_WORD) {
            text<KEYWORD_WIDTH> word(token_text());
            int status = 0;
            const int i = match_keyword(word, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, status);
            if (i > 0 && text_equals(keyword_table.keyword_text[i].view(), token_text()) &&
                keyword_class(keyword_table.keyword_kind[i]) == KEYWORD_CLASS_VALUE) {
                aux = SYM_VALUE;
                oc.symbol_value = i + KEYWORD_INDEX_OFFSET;
            }
        }
        return 0;
    }
}

// The target of an assignment: scope, value type, index and full code.
struct setting_target {
    int scope;
    int type;
    int index;
    int code;
    int limit;  // highest index at the top level
};

setting_target assignment_target() {
    const option_stack_entry& t = stack_entry(1);  // below the "="
    switch (t.symbol) {
    case NT_INTEGER_INDEX:
        return {KEYWORD_SCOPE_GLOBAL, KEYWORD_TYPE_INTEGER, t.aux, t.aux, TOP_LIMIT_INTEGER};
    case NT_REAL_INDEX:
        return {KEYWORD_SCOPE_GLOBAL, KEYWORD_TYPE_REAL, t.aux, t.aux, TOP_LIMIT_REAL_NUMBERED};
    case NT_CHARACTER_INDEX:
        return {KEYWORD_SCOPE_GLOBAL, KEYWORD_TYPE_CHARACTER, t.aux, t.aux, TOP_LIMIT_CHARACTER};
    default: break;
    }
    const int i = keyword_index_of(t.value);
    const int kind = i > 0 ? keyword_table.keyword_kind[i] : 0;
    const int code = i > 0 ? keyword_table.keyword_code[i] : 0;
    const int type = keyword_value_type(kind);
    int limit = TOP_LIMIT_INTEGER;
    if (type == KEYWORD_TYPE_REAL) limit = TOP_LIMIT_REAL_KEYWORD;
    if (type == KEYWORD_TYPE_CHARACTER) limit = TOP_LIMIT_CHARACTER;
    if (type == KEYWORD_TYPE_CHARACTER_LIST) limit = TOP_LIMIT_CHARACTER_LIST;
    if (type == KEYWORD_TYPE_REAL_LIST) limit = TOP_LIMIT_REAL_LIST;
    return {keyword_scope(kind), type, code % 1000, code, limit};
}

// The type of the value token; NO_TYPE for a query answer that is no value.
int value_type(int vsym, bool query, int expected) {
    const bool list = expected == KEYWORD_TYPE_CHARACTER_LIST || expected == KEYWORD_TYPE_REAL_LIST;
    switch (vsym) {
    case SYM_INT: return KEYWORD_TYPE_INTEGER;
    case SYM_REAL: return KEYWORD_TYPE_REAL;
    case SYM_PAREN: return list ? expected : (query ? NO_TYPE : KEYWORD_TYPE_CHARACTER);
    case SYM_VALUE: {
        const int i = keyword_index_of(oc.symbol_value);
        return i > 0 ? keyword_value_type(keyword_table.keyword_kind[i]) : NO_TYPE;
    }
    case SYM_OPEN_STRING:
    case SYM_OPEN_PAREN: return query ? NO_TYPE : KEYWORD_TYPE_CHARACTER;
    default: return KEYWORD_TYPE_CHARACTER;  // a word, a string, or nothing (an empty text)
    }
}

// The elements of a list value, from the parenthesised text (or the text
// inside it when its first token is itself parenthesised).
int assign_list(const setting_target& t, std::string_view value_text) {
    text<OPTION_LINE_LENGTH> rest(value_text);
    text<OPTION_LINE_LENGTH> element;
    int length = 0;
    {
        text<OPTION_LINE_LENGTH> probe(value_text);
        const int first = tokenise_line(probe, element, length);
        if (first == TOKEN_PAREN || first == TOKEN_OPEN_PAREN) rest = element;
    }
    const int count = t.code / 1000;
    const int j = t.index;
    int status = 0;
    for (int i = 1; i <= count; ++i) {
        const int type = tokenise_line(rest, element, length);
        if (type == TOKEN_NONE) return option_error(166);
        if (t.type == KEYWORD_TYPE_REAL_LIST) {
            if (i > AVALS_ROWS) continue;
            int error = 0;
            double v = 0.0;
            if (type == TOKEN_INTEGER || type == TOKEN_REAL) v = read_real_field(element.view(), REAL_FIELD, 0, error, 0);
            if ((type != TOKEN_INTEGER && type != TOKEN_REAL) || error != 0) {
                v = 0.0;
                status = option_error(167);
            }
            avals(i, j) = v;
        } else if (j + i - 1 <= NUMSPCHAR) {
            cs.spchar[j + i - 1].set(trimmed(element.view()));
        }
    }
    return status;
}

// Action 27: an assignment to a setting, at the top level or for the
// selected words.
int assign_setting(int symbol, int aux) {
    const setting_target t = assignment_target();
    const int context = oc.definition_context;
    const int wanted_scope = context > 1 ? context - 1 : context;
    if (t.scope != wanted_scope) return option_error(164);

    const bool query = symbol == NT_QUERY;
    const int vsym = query ? aux : symbol;
    int l = value_type(vsym, query, t.type);
    if (l == NO_TYPE) return option_error(165);
    const std::string_view text_value = vsym == SYM_EOL ? std::string_view{} : token_text();
    const bool top = t.scope == KEYWORD_SCOPE_GLOBAL;
    if (!top && t.index == 99) {
        if (l != KEYWORD_TYPE_INTEGER && l != KEYWORD_TYPE_CHARACTER) return option_error(165);
    } else if (top && t.type == KEYWORD_TYPE_CHARACTER) {
        l = KEYWORD_TYPE_CHARACTER;
    } else if (l != t.type) {
        return option_error(165);
    }
    if (top && (t.index < 1 || t.index > t.limit)) return option_error(162, "Variable");

    int ivalue = 0;
    double rvalue = 0.0;
    if (l == KEYWORD_TYPE_INTEGER) {
        if (read_integer(text_value, ivalue)) return 1;
    } else if (l == KEYWORD_TYPE_REAL) {
        int error = 0;
        rvalue = read_real_field(text_value, REAL_FIELD, 0, error, 0);
        if (error != 0) return option_error_149();
        oc.pending_item.real = rvalue;
    } else if (l == KEYWORD_TYPE_LOGICAL || l == KEYWORD_TYPE_ENUMERATED) {
        ivalue = keyword_code_of(oc.symbol_value);
    }

    if (top) {
        switch (t.type) {
        case KEYWORD_TYPE_INTEGER:
        case KEYWORD_TYPE_LOGICAL:
        case KEYWORD_TYPE_ENUMERATED:
            // While intsp(52) is 1 the setting 52 keeps its value.
            if (t.index == 52 && cs.intsp[52] == 1) break;
            cs.intsp[t.index] = ivalue;
            if (t.index == 27) real_option(178) = ivalue;  // "full circle": circle output element 3
            if (t.index == 28) real_option(179) = ivalue;  // "incremental centre": element 4
            break;
        case KEYWORD_TYPE_REAL: real_option(t.index) = rvalue; break;
        case KEYWORD_TYPE_CHARACTER: cs.spchar[t.index].set(text_value); break;
        default: return assign_list(t, text_value);
        }
        return 0;
    }

    // Per-word settings, for every selected word.
    int column = t.index;
    if (column >= WRDIMP && column <= IDECM) {
        if (oc.format_units_selector == -1) oc.format_units_selector = 1;
        column += oc.format_units_selector;
    }
    if (column == PRINT_POSITION_CODE) column = WRDPOS;
    for (int s = 1; s <= oc.selected_word_count; ++s) {
        const int w = oc.selected_words[s];
        if (t.index == 99) {
            if (l == KEYWORD_TYPE_INTEGER) setwrd(w, ivalue, 0);
            else setwst(w, text_value);
        } else if (l == KEYWORD_TYPE_CHARACTER) {
            if (t.index == 22) cs.word_zero_text[w].set(text_value.substr(0, text_value.size() < WORD_ZERO_LENGTH ? text_value.size() : WORD_ZERO_LENGTH));
            else cs.wrdch[w].set(text_value);
        } else if (column >= 1 && column <= NFORMAT) {
            int& f = cs.word_formats[w][column];
            if (l == KEYWORD_TYPE_LOGICAL && (column == IZSUPI || column == IZSUPM)) {
                const int bit = 1 << (t.code / 1000);
                f = ivalue ? (f | bit) : (f & ~bit);
            } else {
                f = ivalue;
            }
        }
    }
    return 0;
}

// Action 32: "imperial formats" / "metric formats" alone or with "=".
void formats_selector(int symbol) {
    const option_stack_entry& top = stack_entry(0);
    if (top.symbol == SYM_EQUALS) {
        const int left = stack_entry(1).symbol == SYM_METRIC_FORMATS ? 1 : 0;
        const int right = symbol == SYM_METRIC_FORMATS ? 1 : 0;
        for (int s = 1; s <= oc.selected_word_count; ++s) {
            array1<int, NFORMAT>& f = cs.word_formats[oc.selected_words[s]];
            for (int c = WRDIMP; c <= IDECI; c += 2) f[c + left] = f[c + right];
        }
        oc.format_units_selector = -1;
        return;
    }
    oc.format_units_selector = top.symbol == SYM_METRIC_FORMATS ? 1 : 0;
}

// Actions 50..53: the "if" structure of a block.
int condition_item(int action) {
    oc.pending_item.code = 0;
    if (!block_is_current()) return 0;
    const std::string_view condition = trimmed(oc.name_text.view());
    switch (action) {
    case 50:
        if (oc.if_depth >= MAX_IF_DEPTH) {
            report_option_error(oc.symbol_line);
            set_message_string_arg(1, "if");
            issue_message(249);
            issue_message(250);
            abort_on_option_error();
            return 1;
        }
        oc.if_open[++oc.if_depth] = 1;
        set_pending(IF_ITEM, 0, condition);
        return 0;
    case 51:
        if (oc.if_depth < 1 || oc.if_open[oc.if_depth] != 1) return option_error(249, "else if");
        set_pending(ELSE_IF_ITEM, 0, condition);
        return 0;
    case 52:
        if (oc.if_depth < 1 || oc.if_open[oc.if_depth] != 1) return option_error(249, "else");
        oc.if_open[oc.if_depth] = 0;
        set_pending(ELSE_ITEM, 0, "");
        return 0;
    default:
        if (oc.if_depth < 1) return option_error(249, "end if");
        --oc.if_depth;
        set_pending(END_IF_ITEM, 0, "");
        return 0;
    }
}

// Action 45: the pending item goes into the current block.
int store_pending_item(int symbol) {
    pending_item_t& p = oc.pending_item;
    if (!block_is_current() || p.code == 0) {
        p.code = 0;
        return 0;
    }
    const int code = p.code;
    p.code = 0;
    if (oc.next_item_index > MAXITEMS) return option_error(169);
    store_block_item(oc.current_block, oc.next_item_index, code, p.value, p.real,
                     symbol == SYM_SEMICOLON ? 1 : 0, trimmed(p.string.view()), oc.next_string_index);
    ++oc.next_item_index;
    return 0;
}

}  // namespace

void reset_option_actions() {
    oc.current_block = -1;
    oc.pending_item = pending_item_t{};
}

int option_parser_action(int action, int& symbol, int& aux) {
    switch (action) {
    case 1:
        cs.active_word_count = cs.NGPS;
        return 0;
    case 2:
        cs.gpnams[0].set(token_text());
        oc.definition_context = 0;
        return 0;
    case 4:
        if (cs.block_counters[1] > MAXPPFUN) return block_header_failed("ppfun");
        cs.ppfstr[cs.block_counters[1]].set(token_text());
        start_block(PPFUN_BASE + cs.block_counters[1]++);
        return 0;
    case 5:
        oc.definition_context = 0;
        return 0;
    case 6:
        oc.definition_context = 4;
        oc.table_row_word = cs.NGPS + 1;
        oc.table_field_position = 0;
        return 0;
    case 8:
        return select_word();
    case 9:
        if (parse_word_format(symbol, token_text(), oc.table_field_position, aux, oc.table_row_word) != 0)
            return option_error(158);
        return 0;
    case 10:
        oc.table_row_word = cs.NGPS + 1;
        oc.table_field_position = 0;
        return 0;
    case 11: {
        const std::string_view name = word_name(token_text());
        const int w = find_word(name);
        if (w == 0) return option_error(159, name);
        for (int s = 1; s <= oc.selected_word_count; ++s) cs.wrdlnk[oc.selected_words[s]] = w;
        return 0;
    }
    case 12:
        if (symbol != SYM_MODAL && symbol != SYM_NOT_MODAL) {
            issue_message(205);
            return 1;
        }
        for (int s = 1; s <= oc.selected_word_count; ++s)
            cs.word_formats[oc.selected_words[s]][WRDMOD] = symbol == SYM_MODAL ? 1 : 0;
        return 0;
    case 14:
        return select_format(stack_entry(0).aux);
    case 15:
        aux = symbol == NT_FORMAT_LIST ? 1 : 0;
        return 0;
    case 17: {
        const option_stack_entry& e = stack_entry(1);
        if (e.symbol == NT_KEY) {
            if (e.aux < 1 || e.aux > NUMKEYS) return option_error(162, "Key");
            cs.key[e.aux] = NO_WORD;
        } else {
            if (e.aux < 1 || e.aux > NUMCODES) return option_error(162, "Code");
            cs.icodes[1][e.aux] = NO_WORD;
            cs.icodes[2][e.aux] = UNSET_CODE;
        }
        return 0;
    }
    case 18: {
        const std::string_view name = word_name(oc.name_text.view());
        const int w = find_word(name);
        const int role = stack_entry(2).aux;
        if (w == 0) return option_error(161, "key", name);
        if (role < 1 || role > NUMKEYS) return option_error(162, "Key");
        cs.key[role] = w;
        return 0;
    }
    case 21:
        return assign_code();
    case 22:
        return assign_word_order();
    case 24:
        if (block_is_current()) {
            cs.blklen[oc.current_block] = 0;
            oc.next_item_index = 0;
        }
        return 0;
    case 25:
        oc.name_text.set(token_text());
        aux = trimmed_length(token_text());
        return 0;
    case 44:
    case 57:
    case 58:
        oc.previous_name_text = oc.name_text;
        oc.name_text.set(token_text());
        aux = trimmed_length(token_text());
        return 0;
    case 27:
        return assign_setting(symbol, aux);
    case 28:
        if (symbol != NT_INTEGER) aux = keyword_code_of(oc.symbol_value) / 100;
        return 0;
    case 29:
        if (symbol != NT_INTEGER) aux = keyword_code_of(oc.symbol_value) % 100;
        return 0;
    case 30:
        oc.definition_context = 3;
        return 0;
    case 31:
        oc.definition_context = 4;
        return 0;
    case 32:
        formats_selector(symbol);
        return 0;
    case 33:
        oc.pending_item.code = SET_ITEM;
        oc.pending_item.string.set(trimmed(oc.name_text.view()));
        return 0;
    case 34:
        oc.pending_item.code = UNSET_ITEM;
        oc.pending_item.string.set(trimmed(oc.name_text.view()));
        return 0;
    case 59:
        oc.pending_item.code = RESET_ITEM;
        oc.pending_item.string.set(trimmed(oc.name_text.view()));
        return 0;
    case 35:
    case 36:
    case 37:
    case 55:
        return read_integer(token_text(), aux);
    case 38:
        set_pending(REPEAT_ITEM, 0, trimmed(oc.name_text.view()));
        return 0;
    case 39: {
        const int perm = symbol == SYM_PERMANENT ? 1 : symbol == SYM_EVERY_BLOCK ? 2 : 0;
        for (int s = 1; s <= oc.selected_word_count; ++s) cs.wperm[oc.selected_words[s]] = perm;
        return 0;
    }
    case 40:
        if (block_is_current()) cs.blklen[oc.current_block] = oc.next_item_index - 1;
        return 0;
    case 41:
        start_block(keyword_code_of(oc.symbol_value));
        return 0;
    case 42: {
        oc.pending_item.code = 0;
        int v = 0;
        if (read_integer(token_text(), v)) return 1;
        set_pending(EDIT_ITEM, v, trimmed(oc.name_text.view()));
        oc.pending_item.real = v;
        return 0;
    }
    case 43:
        oc.name_text.set(" ");
        set_pending(END_REPEAT_ITEM, 0, " ");
        return 0;
    case 45:
        return store_pending_item(symbol);
    case 46: {
        const int major = aux;
        if (oc.integer_unreadable) {
            // The major word could not be read (message 165 was given): with
            // errors passed over, the block is not defined for a made-up 0.
            oc.definition_context = -1;
            oc.current_block = -1;
            return 1;
        }
        if (cs.special_block_count >= MAXCLDAT) return block_header_failed("cldat");
        if (major < 0) {
            oc.definition_context = -1;
            oc.current_block = -1;
            return option_error(162, "Cldat");
        }
        const int slot = cldat_slot(major);
        if (slot == 0) return block_header_failed("cldat");
        ++cs.special_block_count;
        cs.blkspc[slot] = major;
        start_block(CLDAT_BASE + slot);
        return 0;
    }
    case 47: {
        oc.pending_item.code = 0;
        int error = 0;
        const double r = read_real_field(token_text(), EDIT_NUMBER_FIELD, EDIT_IMPLIED_DECIMALS, error, 0);
        if (error != 0) return option_error_149();
        // The integer value is the number truncated, held within 32 bits.
        const double clamped = r > 2147483647.0 ? 2147483647.0 : (r < -2147483647.0 ? -2147483647.0 : r);
        set_pending(EDIT_ITEM, static_cast<int>(clamped), trimmed(oc.name_text.view()));
        oc.pending_item.real = r;
        return 0;
    }
    case 48: {
        if (symbol == SYM_EQUALS_C && stack_entry(0).symbol != NT_KEY && stack_entry(0).symbol != NT_NAME) {
            // "=C" after a complete item changes the pending item's code.
            if (oc.pending_item.code != 0) oc.pending_item.code = forget_previous_code(oc.pending_item.code);
            return 0;
        }
        return item_code(symbol, aux);
    }
    case 49:
        return read_query_answer(aux);
    case 50:
    case 51:
    case 52:
    case 53:
        return condition_item(action);
    case 54:
        for (int s = 1; s <= oc.selected_word_count; ++s) cs.word_upper_case[oc.selected_words[s]] = 1;
        return 0;
    case 61:
        if (cs.block_counters[2] > MAXUSER) return block_header_failed("user");
        cs.user_block_names[cs.block_counters[2]].set(token_text());
        start_block(USER_BASE + cs.block_counters[2]++);
        return 0;
    case 62:
        oc.pending_item.code = 0;
        if (oc.current_block > USER_BASE) return option_error(285);
        set_pending(CALL_BLOCK_ITEM, 0, trimmed(oc.name_text.view()));
        return 0;
    default:  // 3, 7, 13, 16, 19, 20, 23, 26, 56, 60: section ends and the like
        return 0;
    }
}

}  // namespace kv
