// The block interpreter: runs a control's output block item by item (words,
// function codes, literals, expressions, conditions, repeats and block
// variables) and hands each finished output line to the block writer.
#include <algorithm>
#include <cmath>

#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

block_interpreter_t block_interpreter;

namespace {

constexpr int KEY_BLOCK_NUMBER = 1;
constexpr int KEY_X = 8;
constexpr int KEY_Z = 10;
constexpr int KEY_AZIMUTH = 36;
constexpr int KEY_ELEVATION = 37;
constexpr int KEY_ERROR = 77;
constexpr int FORCED_ERROR_ALONE = 4077;     // "error" with nothing after it
constexpr int ABSOLUTE_COORDINATES_FLAG = 21;
constexpr int TEXT_SETS_WIDTH_FLAG = 24;     // a text assigned by an expression sets the word's width
constexpr int BLOCK_ORDER = 9;               // intsp: lines in the order of their items
constexpr int COUNTER_START = 61;            // intsp
constexpr int ABSOLUTE_SLOT = 14;            // function-code slots that switch the coordinate mode
constexpr int INCREMENTAL_SLOT = 15;
constexpr int RECORD_CLASS_COMMAND = 2000;
constexpr int BLOCK_NAME_LENGTH = 32;
constexpr int LABEL_MESSAGE_BASE = 30;       // reference labels are messages 31..55
constexpr int NUMBER_CARRYING_TYPES[] = {VALUE_INTEGER, VALUE_REAL_LITERAL, VALUE_REAL};
// Condition stacks: the top level and every nested "if" (the block checks
// allow ten; a block loaded unchecked may hold more, up to one per item).
constexpr int CONDITION_LEVELS = MAXITEMS + 1;


bool is_number_type(int type) {
    for (int t : NUMBER_CARRYING_TYPES)
        if (t == type) return true;
    return false;
}

// Item kinds, from the item code.
enum item_kind { ITEM_CONTROL, ITEM_TEXT, ITEM_FUNCTION, ITEM_KEY, ITEM_WORD };

item_kind classify_item(int code) {
    const int a = code < 0 ? -code : code;
    const int cls = (a / 1000) % 100;
    if (cls >= 20) return ITEM_CONTROL;
    if (a / 100000 == 999) return ITEM_TEXT;
    if (a < 1001 || code < 0) return ITEM_FUNCTION;
    if (cls >= 1 && cls <= 9) return ITEM_KEY;
    return ITEM_WORD;
}

std::string_view item_text(block_strings_view texts, const block_item_t& item) {
    const int s = item.string_ref / 10;
    if (s < 1 || s > MAXITEMS) return {};
    return texts[s].view();
}

void stop_on_overflow(int overflow) {
    if (overflow == 0) return;
    issue_message(265);
    stop_run(EXIT_RUN_ERROR);
}

int factor_of_key(int k) {
    const int w = key_word(k);
    return valid_word(w) ? MULT(w) : 0;
}

// Moves the known position of a coordinate or rotary axis to v (word units)
// without a move being output.
void place_axis(int k, int v) {
    motion_state_t& m = motion_state;
    const bool absolute = get_state_flag(ABSOLUTE_COORDINATES_FLAG) != 0;
    if (k >= KEY_X && k <= KEY_Z) {
        const int a = k - KEY_X + 1;
        m.position_units[a] = absolute ? v : word_integer(static_cast<double>(m.position_units[a]) + v, 1.0);
        m.previous_position_units[a] = m.position_units[a];
        // The word integer is at the axis's own resolution.
        const int factor = axis_mult(a);
        const double p = factor != 0 ? static_cast<double>(m.position_units[a]) / factor : 0.0;
        m.position[a] = p;
        m.previous_position[a] = p;
        m.position_known = 1;
        m.unwritten_axes[a] = 0;  // the line of this item writes the axis
        set_linear_set_by_block(1);
    } else if (k == KEY_AZIMUTH || k == KEY_ELEVATION) {
        // Element 7 and angle 1 belong to the elevation, 8 and 2 to the azimuth.
        const int unit_index = k == KEY_ELEVATION ? 7 : 8;
        const int angle_index = k == KEY_ELEVATION ? 1 : 2;
        const int factor = factor_of_key(k);
        if (absolute) m.position_units[unit_index] = v;
        else m.position_units[unit_index] += v;
        m.previous_position_units[unit_index] = m.position_units[unit_index];
        m.rotary_units[angle_index] = m.position_units[unit_index];
        m.previous_rotary_units[angle_index] = m.position_units[unit_index];
        const double angle = factor != 0 ? static_cast<double>(m.position_units[unit_index]) / factor : 0.0;
        m.rotary_angles[angle_index] = angle;
        m.previous_rotary_angles[angle_index] = angle;
        set_rotary_set_by_block(1);
    }
}

// The line's word order: the control's, up to its end.
void use_control_word_order() {
    block_interpreter_t& bi = block_interpreter;
    const int n = derived_settings.word_order_length;
    const int* const order = configuration_store.wrdrut.data();
    std::copy(order, order + n, bi.current_word_order.data());
    bi.current_word_order_length = n;
}

}  // namespace

void begin_block_line(int build_order, int non_empty) {
    const configuration_store_t& cs = configuration_store;
    block_interpreter_t& bi = block_interpreter;
    if (build_order != 0 && non_empty != 0) {
        bi.current_word_order.fill(0);
    } else {
        use_control_word_order();
    }
    // Requested words bring their linked words; a link to a later word is
    // followed on from there.
    if (bi.links_suspended) return;
    word_set& requests = word_output_state.word_request;
    for (int w = requests.first_from(1); w != 0; w = requests.first_from(w + 1)) {
        const int l = cs.wrdlnk[w];
        if (l >= 1 && l <= MAXDEFWORDS && l >= w) requests.add(l);
    }
}

int find_block_item(block_items_view items, int from, int code, int count) {
    if (count > MAXITEMS) count = MAXITEMS;
    if (from <= 0 || from > count) return -1;
    for (int k = from + 1; k <= count; ++k)
        if (items[k].code == code) return k;
    return -1;
}

void set_block_variable(std::string_view name, double value, int mode) {
    block_interpreter_t& bi = block_interpreter;
    text<BLOCK_TEXT_LENGTH> lower(name);
    convert_case(lower.span(), 0);
    // Names are a prefix and one letter: "inta".."intn", "rna".."rnf", "swa".."swn".
    auto matches = [&](std::string_view prefix, int letter) {
        char candidate[4];
        std::size_t k = 0;
        for (char ch : prefix) candidate[k++] = ch;
        candidate[k++] = static_cast<char>('a' + letter - 1);
        return text_equals(lower, std::string_view(candidate, k)) != 0;
    };
    if (mode == EDIT_VARIABLE) {
        for (int i = 1; i <= BLOCK_INT_VARIABLES; ++i)
            if (matches("int", i)) {
                bi.int_variables[i] = truncate_to_int(value);
                return;
            }
        for (int i = 1; i <= BLOCK_REAL_VARIABLES; ++i)
            if (matches("rn", i)) {
                bi.real_variables[i] = value;
                return;
            }
    } else if (mode == SET_VARIABLE || mode == UNSET_VARIABLE) {
        for (int i = 1; i <= BLOCK_SWITCHES; ++i)
            if (matches("sw", i)) {
                bi.switches[i] = mode == SET_VARIABLE ? 1 : 0;
                return;
            }
    }
    issue_message(215);
}

void reset_block_variable(std::string_view name) {
    text<BLOCK_TEXT_LENGTH> lower(name);
    convert_case(lower.span(), 0);
    if (text_equals(lower, "counter")) {
        derived_settings.counter = configuration_store.intsp[COUNTER_START];
        return;
    }
    set_message_string_arg(1, trimmed(name));
    issue_message(266);
}

void set_reference_message(int n) {
    const int unit = job_files.file_units[unit_slot(FILE_PRINT)];
    if (unit < 0 || is_null_unit(unit)) return;
    text<MSGLEN> line;
    format_message_first_line(n + LABEL_MESSAGE_BASE, line.span());
    block_writer.reference_label.set(line.view().substr(0, REFERENCE_LABEL_LENGTH));
}

void write_line_or_stop(std::string_view text, int unit) {
    int status = 0;
    filwri(unit, text, status);
    if (status != 0) {
        issue_message(221);
        stop_run(EXIT_RUN_ERROR);
    }
}

void write_block_or_stop(int mode) {
    int overflow = 0;
    write_block(mode, overflow);
    stop_on_overflow(overflow);
}

void run_block(int b) {
    if (b < 1 || b > NUMBLOCKS) return;
    const configuration_store_t& cs = configuration_store;
    execute_block(cs.block_items[b], cs.block_texts[b], cs.block_reals[b], cs.blklen[b], b);
}

void execute_block(block_items_view items, block_strings_view texts,
                   block_reals_view reals, int count, int b) {
    configuration_store_t& cs = configuration_store;
    word_output_state_t& s = word_output_state;
    block_interpreter_t& bi = block_interpreter;
    if (count > MAXITEMS) count = MAXITEMS;

    bi.current_word_order_length = derived_settings.word_order_length;
    const int build_order = cs.intsp[BLOCK_ORDER] > 0 ? 1 : 0;
    // The block's name is looked up only when an expression fails.
    auto report = [b](int status, std::string_view expression) {
        text<KEYWORD_NAME_LENGTH> name_field;
        keyword_name(KIND_BLOCK, b, name_field.span());
        report_expression_error(status, trimmed(expression), name_field.view().substr(0, BLOCK_NAME_LENGTH));
    };

    if (count < 1) {
        begin_block_line(build_order, 0);
        write_block_or_stop(WRITE_BLOCK_PENDING);
        return;
    }
    // Linked words are not requested while a block runs.
    const int links_were_suspended = bi.links_suspended;
    bi.links_suspended = 1;
    begin_block_line(build_order, 1);

    // Only the words that the block's items name are written; word-alone
    // items give back the request saved here.
    const word_set saved_requests = s.word_request;
    s.word_request.clear();

    // Blocks never run inside blocks, so one set of condition stacks serves
    // every call; a level is written before it is read.
    static array1<int, CONDITION_LEVELS> parent;
    static array1<int, CONDITION_LEVELS> pending;
    int depth = 1;
    int active = 1;
    parent[1] = 1;
    pending[1] = 0;
    int line_index = 1;
    int literal_index = 1;
    int repeat_count = 0;
    int repeat_start = 0;
    text<EXPRESSION_RESULT_LENGTH> result;

    for (int k = 1; k <= count; ++k) {
        const block_item_t& item = items[k];
        const int code = item.code;
        const int a = code < 0 ? -code : code;
        const int cls = (a / 1000) % 100;
        const item_kind kind = classify_item(code);

        if (kind == ITEM_CONTROL) {
            const int which = (a / 1000) % 10;
            if (which == 1) {
                int r = 0;
                const int was_active = active;
                if (depth < CONDITION_LEVELS) ++depth;
                parent[depth] = was_active;
                if (was_active) {
                    int status = 0;
                    r = evaluate_block_condition(item_text(texts, item), status);
                    if (status != 0) report(status, item_text(texts, item));
                    active = r;
                }
                pending[depth] = r == 0 ? 1 : 0;
            } else if (which == 2) {
                if (parent[depth] == 0 || pending[depth] == 0) {
                    active = 0;
                } else {
                    int status = 0;
                    const int r = evaluate_block_condition(item_text(texts, item), status);
                    if (status != 0) report(status, item_text(texts, item));
                    active = r;
                    pending[depth] = r == 0 ? 1 : 0;
                }
            } else if (which == 3) {
                active = parent[depth] != 0 && pending[depth] != 0 ? 1 : 0;
            } else if (which == 4) {
                active = parent[depth];
                if (depth > 1) --depth;
            }
            continue;
        }
        if (!active) continue;

        int w = -1;
        int key_index = -1;
        int modifier = 0;
        if (kind == ITEM_KEY || (kind == ITEM_TEXT && cls >= 1 && cls <= 9)) {
            key_index = a % 1000;
            w = key_word(key_index);
            modifier = cls;
        } else if (kind == ITEM_WORD || (kind == ITEM_TEXT && cls >= 10 && cls <= 19)) {
            w = a % 1000;
            key_index = 0;
            modifier = cls % 10;
        }
        // "msg" names the comment slot, not a word.
        const bool msg_item = (key_index > 0 && key_index == MSG_ROLE) || (key_index == 0 && w == MSG_ROLE);
        int value = 0;

        if (key_index == KEY_ERROR && kind == ITEM_TEXT && cls < 10) {
            set_message_string_arg(1, trimmed(item_text(texts, item)));
            issue_message(263);
            stop_run(EXIT_RUN_ERROR);
        }
        if (code == FORCED_ERROR_ALONE) {
            issue_message(264);
            stop_run(EXIT_RUN_ERROR);
        }

        bool numeric_expression = false;
        double expression_value = 0.0;
        bool adds_to_order = true;
        bool may_end_line = true;  // set, unset, edit, reset and repeat never end a line
        int order_entry = w;

        if (kind == ITEM_TEXT) {
            const std::string_view t = item_text(texts, item);
            const int rest = a % 10000;
            if (code >= SET_ITEM && code <= EDIT_ITEM) {
                set_block_variable(t, reals[k], code - SET_ITEM + SET_VARIABLE);
                adds_to_order = false;
                may_end_line = false;
            } else if (code == RESET_ITEM) {
                reset_block_variable(t);
                adds_to_order = false;
                may_end_line = false;
            } else if (code == REPEAT_ITEM) {
                double v = 0.0;
                int type = 0;
                int status = 0;
                evaluate_block_expression(t, result.span(), v, type, status);
                if (status != 0) report(status, t);
                // A count beyond the limit (or not a number) is an error of
                // the control, passed over with "-o" as a repeat that does
                // not run.
                if (!(std::fabs(v) < MAX_REPEAT_COUNT + 0.5)) {
                    report(EXPR_REPEAT_TOO_LARGE, t);
                    v = 0.0;
                }
                bi.loop_counter = 1;
                repeat_count = nearest_int(v);
                repeat_start = k;
                if (repeat_count < 1) {
                    const int end = find_block_item(items, k, END_REPEAT_ITEM, count);
                    if (end > k) k = end - 1;  // the end repeat item runs next and closes the repeat
                }
                adds_to_order = false;
                may_end_line = false;
            } else if (code == END_REPEAT_ITEM) {
                if (bi.loop_counter < repeat_count) {
                    ++bi.loop_counter;
                    k = repeat_start;
                } else {
                    repeat_count = 0;
                }
                continue;
            } else if (code == CALL_BLOCK_ITEM) {
                // Replaced by the called block's items when the control was
                // loaded; one left over writes nothing.
                adds_to_order = false;
                may_end_line = false;
            } else if (!msg_item && ((rest >= 5000 && rest <= 5999) || (rest >= 9000 && rest <= 9999))) {
                double v = 0.0;
                int type = 0;
                int status = 0;
                evaluate_block_expression(t, result.span(), v, type, status);
                if (status != 0) report(status, t);
                if (valid_word(w) && w != NO_WORD) {
                    if (is_number_type(type)) {
                        value = word_integer(v, MULT(w));
                        setwrd(w, value, SETWRD_SET_REQUEST);
                        if (w == key_word(KEY_BLOCK_NUMBER)) derived_settings.sequence_number = value;
                        numeric_expression = true;
                        expression_value = v;
                    } else if (type == VALUE_TEXT) {
                        setwrd(w, 0, SETWRD_REQUEST_TEXT);
                        setwst(w, std::string_view(result.view()).substr(0, BLOCK_TEXT_LENGTH));
                        if (get_state_flag(TEXT_SETS_WIDTH_FLAG) != 0)
                            cs.word_formats[w][WRDLEN] = trimmed_length(result.view());
                    }
                    if (rest >= 9000) {
                        s.word_previous[w] = NO_PREVIOUS_VALUE;
                        s.word_previous_text[w].set(FORCED_PREVIOUS_TEXT);
                        s.word_forced[w] = 1;
                    }
                }
            } else if (!msg_item && modifier == MOD_TEXT) {
                setwrd(w, 0, SETWRD_REQUEST_TEXT);
                setwst(w, t);
            } else {
                // A literal; a "msg" item keeps what the comment handlers put in its place.
                if (literal_index <= LITERAL_COUNT) {
                    if (!msg_item) bi.literal_text[literal_index].set(t);
                    bi.literal_length[literal_index] = trimmed_length(bi.literal_text[literal_index]);
                    bi.literals_pending = 1;
                    order_entry = LITERAL_ORDER_BASE + literal_index;
                    ++literal_index;
                } else {
                    adds_to_order = false;
                }
            }
        } else if (kind == ITEM_FUNCTION) {
            const int n = a % 1000;
            const int fmod = (a / 1000) % 10;
            if (n >= 1 && n <= NUMCODES) {
                w = cs.icodes[1][n];
                if (item.value < 1001) {
                    setwrd(w, cs.icodes[2][n], SETWRD_SET_REQUEST);
                } else {
                    setwrd(w, 0, SETWRD_REQUEST_TEXT);
                    setwst(w, function_code_text(n).view());
                }
                if ((fmod == MOD_FORGET || fmod == MOD_VALUE_FORGET) && valid_word(w)) {
                    s.word_previous[w] = NO_PREVIOUS_VALUE;
                    s.word_forced[w] = 1;
                }
                order_entry = w;
                if (n == ABSOLUTE_SLOT || n == INCREMENTAL_SLOT) {
                    set_coordinate_mode(n == ABSOLUTE_SLOT ? 1 : 0);
                    keep_line_xyz_words(items, count, k);
                    keep_line_rotary_words(items, count, k);
                }
            } else {
                adds_to_order = false;
            }
        } else if (msg_item) {
            // "msg" alone: the comment slot as a literal, as for its text item.
            if (literal_index <= LITERAL_COUNT) {
                bi.literal_length[literal_index] = trimmed_length(bi.literal_text[literal_index]);
                bi.literals_pending = 1;
                order_entry = LITERAL_ORDER_BASE + literal_index;
                ++literal_index;
            } else {
                adds_to_order = false;
            }
        } else if (valid_word(w) && w != NO_WORD) {
            const bool was_number = s.word_value_type[w] == WORD_CARRIES_NUMBER;
            setwrd(w, 0, was_number ? SETWRD_REQUEST : SETWRD_REQUEST_TEXT);
            switch (modifier) {
            case MOD_VALUE_FORGET:
                s.word_previous[w] = NO_PREVIOUS_VALUE;
                s.word_forced[w] = 1;
                value = item.value;
                break;
            case MOD_TABLE:
                value = output_value_table(static_cast<double>(s.word_value[w]), w);
                setwrd(w, value, SETWRD_SET_REQUEST);
                break;
            case MOD_CANCEL:
                if (cs.wperm[w] == 0) setwrd(w, 0, SETWRD_CANCEL);
                value = s.word_value[w];
                break;
            case MOD_FORGET:
                s.word_previous[w] = NO_PREVIOUS_VALUE;
                s.word_forced[w] = 1;
                value = s.word_value[w];
                break;
            case MOD_NEXT:
                s.word_next_request[w] = 1;
                value = s.word_value[w];
                break;
            case MOD_ALONE:
                s.word_request.set(w, saved_requests.contains(w));
                if (s.word_next_request[w] != 0) {
                    s.word_request.add(w);
                    s.word_next_request[w] = 0;
                }
                if (cs.wperm[w] > 0) s.word_request.add(w);
                value = s.word_value[w];
                break;
            case MOD_VALUE:
                value = item.value;
                break;
            default:  // MOD_CURRENT, and modifiers the compiler does not write
                value = s.word_value[w];
                break;
            }
            if (was_number) {
                setwrd(w, value, SETWRD_SET);
                if (w == key_word(KEY_BLOCK_NUMBER) && modifier == MOD_VALUE) derived_settings.sequence_number = value;
            }
        }

        // Coordinates and rotary axes that a key item assigns move the known position.
        if (cls >= 1 && cls <= 9 && key_index > 0 && valid_word(w) && w != NO_WORD &&
            (kind == ITEM_KEY || numeric_expression)) {
            int v = 0;
            bool assigns = false;
            if (numeric_expression) {
                v = word_integer(expression_value, MULT(w));
                assigns = true;
            } else if (modifier == MOD_VALUE || modifier == MOD_VALUE_FORGET) {
                v = item.value;
                assigns = true;
            }
            if (assigns) place_axis(key_index, v);
        }

        if (build_order && adds_to_order) {
            if (line_index <= MAXWORDS) {
                bi.current_word_order[line_index] = order_entry;
                bi.current_word_order_length = line_index;
            }
            ++line_index;
        }

        if (may_end_line && item.string_ref % 10 == 0) {
            write_block_or_stop(WRITE_BLOCK_LINE);
            line_index = 1;
            literal_index = 1;
            bi.literals_pending = 0;
        }
    }
    bi.links_suspended = links_were_suspended;
}

void end_record_block(int flush) {
    const configuration_store_t& cs = configuration_store;
    use_control_word_order();
    if (cs.special_block_count > 0 && cldata_class() == RECORD_CLASS_COMMAND) {
        const int b = find_cldat_block(cldata_subclass());
        if (b > 0 && cs.blklen[b] > 0) {
            run_block(b);
            return;
        }
    }
    if (flush == 1) write_block_or_stop(WRITE_BLOCK_PENDING);
}

void write_word_alone(int w) {
    word_output_state_t& ws = word_output_state;
    const word_set others = ws.word_request;
    ws.word_request.clear();
    ws.word_request.add(w);
    use_control_word_order();
    write_block_or_stop(WRITE_BLOCK_PENDING);
    for (int v = others.first_from(1); v != 0; v = others.first_from(v + 1))
        if (v != w) ws.word_request.add(v);
}

}  // namespace kv
