// Checks the item program of every block of a loaded control ("if" and
// "repeat" structure, literals per output line, expression syntax) and
// replaces "call block" items by the items of the user blocks they name.
#include "control/control.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int USE_PARTID = 31;               // intsp: "use partid"
constexpr int COUNTER_START = 61;            // intsp: "counter start"
constexpr int CONTACT_NORMALS_FLAG = 107;    // state flag: the cutfile holds contact normals
constexpr int SHORT_NAME_LENGTH = 32;        // block name in the structure and call messages
constexpr int LONG_NAME_LENGTH = 152;        // block name in the literal and expression messages
constexpr int CONDITION_CLASS_MIN = 20;      // classes of if, else if, else, end if
constexpr int CONDITION_IF = 1;              // last digit of the class
constexpr int CONDITION_ELSE_IF = 2;
constexpr int CONDITION_ELSE = 3;
constexpr int CONDITION_END_IF = 4;
constexpr int CLASS_DIGIT_TEXT = 2;          // a key or word given a text
constexpr int CLASS_DIGIT_EXPRESSION = 5;
constexpr int CLASS_DIGIT_FORCED_EXPRESSION = 9;
constexpr int TEXT_ITEM_MARK = 999;          // code / 100000 of an item that carries a text

int continuation_digit(const block_item_t& item) { return item.string_ref % 10; }
int string_number(const block_item_t& item) { return item.string_ref / 10; }
bool is_text_item(int code) { return code / 100000 == TEXT_ITEM_MARK; }

// The string of an item; blank when the item refers to none.
std::string_view item_string(const block_item_t& item, block_strings_view strings) {
    static const text<BLOCK_TEXT_LENGTH> blank;
    const int s = string_number(item);
    return s >= 1 && s <= MAXITEMS ? strings[s].view() : blank.view();
}

// The block number of the user block a "call block" item names, or 0.
int called_user_block(std::string_view called) {
    const configuration_store_t& cs = configuration_store;
    int u = 0;
    for (int i = 1; i <= USER_SLOTS; ++i)
        if (compare_texts(called, cs.user_block_names[i].view()) == 0) u = i;
    return u == 0 ? 0 : USER_BASE + u;
}

bool block_holds_item(int block, int code) {
    const configuration_store_t& cs = configuration_store;
    for (int k = 1; k <= cs.blklen[block] && k <= MAXITEMS; ++k)
        if (cs.block_items[block][k].code == code) return true;
    return false;
}

template <std::size_t N>
void block_name(int block, text<N>& name) {
    text<KEYWORD_NAME_LENGTH> full;
    keyword_name(KIND_BLOCK, block, full.span());
    name.set(full.view());
}

// Message 254 with the block name, then message n, then the stop unless "-o".
template <std::size_t N>
void report_block_fault(const text<N>& name, int n) {
    set_message_string_arg(1, trimmed(name.view()));
    issue_message(254);
    issue_message(n);
    abort_on_option_error();
}

// An item that takes a literal slot of the output line when the block runs:
// a text item that is no block-variable, repeat or call item, no condition,
// no expression, and no text given to a key or word other than "msg".
bool takes_literal_slot(int code) {
    if (!is_text_item(code)) return false;
    if (code >= SET_ITEM && code <= CALL_BLOCK_ITEM) return false;
    const int cls = item_class(code);
    if (cls >= CONDITION_CLASS_MIN) return false;
    const int digit = cls % 10;
    if (digit == CLASS_DIGIT_EXPRESSION || digit == CLASS_DIGIT_FORCED_EXPRESSION) return false;
    if (digit == CLASS_DIGIT_TEXT && code % 1000 != MSG_ROLE) return false;
    return true;
}

// Work space of link_call_blocks: the expanded block before it replaces the old one.
laid_rows<block_item_t, 1, MAXITEMS> expanded_item_table;
laid_rows<double, 1, MAXITEMS> expanded_real_table;
laid_rows<text<BLOCK_TEXT_LENGTH>, 1, MAXITEMS> expanded_string_table;

}  // namespace

void check_if_nesting(block_items_view items, block_strings_view, int count, int block) {
    if (count <= 0) return;
    text<SHORT_NAME_LENGTH> name;
    block_name(block, name);
    // marks[d]: 1 while an "else" is still allowed in the "if" that opened depth d.
    array1<int, MAX_IF_DEPTH + 1> marks;
    int spare_mark = 0;  // stands for levels beyond the table when "-o" lets a block go on
    auto mark = [&](int depth) -> int& { return depth >= 1 && depth <= MAX_IF_DEPTH + 1 ? marks[depth] : spare_mark; };
    int depth = 1;
    for (int k = 1; k <= count && k <= MAXITEMS; ++k) {
        const int cls = item_class(items[k].code);
        if (cls < CONDITION_CLASS_MIN) continue;
        switch (cls % 10) {
        case CONDITION_IF:
            ++depth;
            mark(depth) = 1;
            if (depth > MAX_IF_DEPTH) {
                issue_message(250);
                report_invalid_expression(name.view(), "if");
            }
            break;
        case CONDITION_ELSE_IF:
            if (depth <= 1 || mark(depth) == 0) report_invalid_expression(name.view(), "elseif");
            break;
        case CONDITION_ELSE:
            if (depth > 1 && mark(depth) == 1) {
                mark(depth) = 0;
            } else {
                report_invalid_expression(name.view(), "else");
            }
            break;
        case CONDITION_END_IF:
            --depth;
            break;
        default:
            break;
        }
    }
    if (depth != 1) {
        set_message_string_arg(1, trimmed(name.view()));
        issue_message(254);
        issue_message(253);
        abort_on_option_error();
    }
}

void check_repeat_blocks(block_items_view items, block_strings_view strings, int count, int block) {
    if (count <= 0) return;
    int open = 0;
    for (int k = 1; k <= count && k <= MAXITEMS; ++k) {
        if (items[k].code == REPEAT_ITEM) {
            const std::string_view expression = item_string(items[k], strings);
            text<EXPRESSION_RESULT_LENGTH> result;
            double value = 0.0;
            int type = VALUE_NIL;
            int status = EXPR_OK;
            evaluate_block_expression(expression, result.span(), value, type, status);
            ++open;
            if (status != EXPR_OK || !(type == VALUE_INTEGER || type == VALUE_REAL_LITERAL || type == VALUE_REAL)) {
                set_message_string_arg(1, expression);
                issue_message(212);
                abort_on_option_error();
            }
        } else if (items[k].code == END_REPEAT_ITEM) {
            --open;
        } else if (items[k].code == CALL_BLOCK_ITEM && open > 0) {
            // The called block's items take the call's place when the job
            // starts: a repeat among them would run inside this one.
            const int user = called_user_block(item_string(items[k], strings));
            if (user != 0 && block_holds_item(user, REPEAT_ITEM)) ++open;
        }
        if (open > 1) break;  // a "repeat" inside a "repeat"
    }
    if (open != 0) {
        text<SHORT_NAME_LENGTH> name;
        block_name(block, name);
        report_block_fault(name, 280);
    }
}

void check_block_string_literals(block_items_view items, block_strings_view, int count, int block) {
    if (count <= 0) return;
    int literals = 0;
    for (int k = 1; k <= count && k <= MAXITEMS; ++k) {
        if (takes_literal_slot(items[k].code)) {
            ++literals;
            if (literals == MAX_LINE_LITERALS + 1) {
                text<LONG_NAME_LENGTH> name;
                block_name(block, name);
                report_block_fault(name, 295);
            }
        }
        if (continuation_digit(items[k]) == 0) literals = 0;
    }
}

void check_block_expressions(block_items_view items, block_strings_view strings, int count, int block) {
    if (count <= 0) return;
    text<LONG_NAME_LENGTH> name;
    bool named = false;
    for (int k = 1; k <= count && k <= MAXITEMS; ++k) {
        const int code = items[k].code;
        if (!is_text_item(code)) continue;
        const int cls = item_class(code);
        const int digit = cls % 10;
        int status = EXPR_OK;
        if (cls < CONDITION_CLASS_MIN && (digit == CLASS_DIGIT_EXPRESSION || digit == CLASS_DIGIT_FORCED_EXPRESSION)) {
            check_expression_syntax(item_string(items[k], strings), status);
        } else if (cls >= CONDITION_CLASS_MIN && (digit == CONDITION_IF || digit == CONDITION_ELSE_IF)) {
            check_condition_syntax(item_string(items[k], strings), status);
        } else {
            continue;
        }
        if (status == EXPR_OK) continue;
        if (!named) {
            block_name(block, name);
            named = true;
        }
        report_expression_error(status, item_string(items[k], strings), name.view());
    }
}

void check_loaded_blocks() {
    configuration_store_t& cs = configuration_store;
    // Values that a job gives later are made present, so that expressions
    // naming them pass the checks.
    const int saved_use_partid = cs.intsp[USE_PARTID];
    cs.intsp[USE_PARTID] = 1;
    set_srat_defined(1);
    set_status_flag(CONTACT_NORMALS_FLAG, 1);

    for (int b = 1; b <= NUMBLOCKS; ++b) check_if_nesting(cs.block_items[b], cs.block_texts[b], cs.blklen[b], b);
    for (int b = 1; b <= NUMBLOCKS; ++b) check_repeat_blocks(cs.block_items[b], cs.block_texts[b], cs.blklen[b], b);
    for (int b = 1; b <= NUMBLOCKS; ++b)
        check_block_string_literals(cs.block_items[b], cs.block_texts[b], cs.blklen[b], b);
    for (int b = 1; b <= NUMBLOCKS; ++b)
        check_block_expressions(cs.block_items[b], cs.block_texts[b], cs.blklen[b], b);

    // Repeat counts were evaluated: "counter" may have moved.
    derived_settings.counter = cs.intsp[COUNTER_START];
    set_srat_defined(0);
    set_status_flag(CONTACT_NORMALS_FLAG, 0);
    cs.intsp[USE_PARTID] = saved_use_partid;
}

void link_call_blocks(block_items_row items, block_reals_row reals, block_strings_row strings, int& count, int block) {
    const int n = count < MAXITEMS ? count : MAXITEMS;
    bool has_call = false;
    for (int k = 1; k <= n && !has_call; ++k) has_call = items[k].code == CALL_BLOCK_ITEM;
    if (!has_call) return;

    configuration_store_t& cs = configuration_store;
    text<SHORT_NAME_LENGTH> name;
    block_name(block, name);
    int new_count = 0;
    int new_strings = 0;
    bool overflow_reported = false;
    const block_items_row expanded_items = expanded_item_table[1];
    const block_reals_row expanded_reals = expanded_real_table[1];
    const block_strings_row expanded_strings = expanded_string_table[1];

    // Appends one item with its real and its string renumbered.
    auto append = [&](const block_item_t& item, double real, block_strings_view from) {
        if (new_count >= MAXITEMS) {
            if (!overflow_reported) {
                overflow_reported = true;
                report_block_fault(name, 169);
            }
            return;
        }
        block_item_t copy = item;
        if (string_number(item) > 0) {
            expanded_strings[++new_strings].set(item_string(item, from));
            copy.string_ref = 10 * new_strings + continuation_digit(item);
        }
        expanded_items[++new_count] = copy;
        expanded_reals[new_count] = real;
    };

    for (int k = 1; k <= n; ++k) {
        if (items[k].code != CALL_BLOCK_ITEM) {
            append(items[k], reals[k], strings);
            continue;
        }
        const std::string_view called = item_string(items[k], strings);
        const int user = called_user_block(called);
        if (user == 0) {
            set_message_string_arg(1, trimmed(name.view()));
            issue_message(254);
            set_message_string_arg(1, trimmed(called));
            issue_message(283);
            abort_on_option_error();
            continue;
        }
        const int user_count = cs.blklen[user] < MAXITEMS ? cs.blklen[user] : MAXITEMS;
        for (int i = 1; i <= user_count; ++i)
            append(cs.block_items[user][i], cs.block_reals[user][i], cs.block_texts[user]);
    }

    for (int k = 1; k <= new_count; ++k) {
        items[k] = expanded_items[k];
        reals[k] = expanded_reals[k];
    }
    for (int s = 1; s <= new_strings; ++s) strings[s] = expanded_strings[s];
    count = new_count;
}

void expand_all_blocks() {
    configuration_store_t& cs = configuration_store;
    for (int b = 1; b <= USER_BASE; ++b)
        link_call_blocks(cs.block_items[b], cs.block_reals[b], cs.block_texts[b], cs.blklen[b], b);
}

}  // namespace kv
