// Function codes of the control: preparatory and auxiliary functions put into
// their words, the input/output value tables, and the outputs built from codes
// (dwell, cutter radius compensation, the coded feed with its offset word).
#include <cmath>

#include "job/job.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int MSG_INVALID_MFUNCTION = 139;
constexpr int MSG_INVALID_GFUNCTION = 140;
constexpr int MSG_DWELL_NOT_SET = 136;
constexpr int MSG_COMPENSATION_NOT_SET = 137;

constexpr int FUNCTION_DWELL = 5;
constexpr int KEY_FEEDRATE = 16;
constexpr int KEY_SPINDLE = 19;
constexpr int KEY_CYCLE_DWELL = 21;
constexpr int KEY_TOOL_RADIUS = 25;
constexpr int LABEL_DWELL = 5;

constexpr int FLAG_COMPENSATION_CHANGE = 22;  // a compensation change waits for the next move
constexpr int FLAG_COMPENSATION_ACTIVE = 23;

constexpr double MOVING_AXIS_TOLERANCE = 0.001;  // coded feed: an axis that moves more than this
constexpr double CIRCLE_AXIS_TOLERANCE = 0.99;   // coded feed: a circle axis along X, Y or Z
constexpr int VALUE_TABLE_ROWS = 15;             // entries of one input or output list
constexpr int LEFT_OFFSET_BIAS = 800;            // coded feed offset word of left compensation

// Code slot `slot` into its word with setwrd mode `mode`.
void output_function_slot(int slot, int mode) {
    const int w = configuration_store.icodes[1][slot];
    const int v = configuration_store.icodes[2][slot];
    if (v > TEXT_CODE_BASE && mode == SETWRD_SET_REQUEST) {
        setwrd(w, 0, SETWRD_REQUEST_TEXT);
        setwst(w, function_code_text(slot).view());
        return;
    }
    if (v == UNSET_CODE) return;
    // A code left waiting for the next move on this word (the end of a
    // cycle) goes first, in a line of its own, when this code takes its word
    // with another value: the move cannot carry both.
    motion_state_t& m = motion_state;
    if (m.waiting_code_word != 0 && m.waiting_code_word == w) {
        const word_output_state_t& ws = word_output_state;
        if (ws.word_request[w] != 0 && ws.word_value[w] == m.waiting_code_value && v != m.waiting_code_value)
            write_word_alone(w);
        m.waiting_code_word = 0;
    }
    setwrd(w, v, mode);
}


}  // namespace

void gset(int n, int mode) {
    if (n < 1 || n > NUMCODES) {
        set_message_int_arg(1, n);
        issue_message(MSG_INVALID_GFUNCTION);
        return;
    }
    output_function_slot(n, mode);
}

void mset(int n, int mode) {
    if (n < 1 || n > MAXAUXFUN) {
        set_message_int_arg(1, n);
        issue_message(MSG_INVALID_MFUNCTION);
        return;
    }
    output_function_slot(n + AUX_CODE_BASE, mode);
}

// The getters take the slot as given; a slot outside the table reads as unset
// so that a bad number from a record or a block cannot index past it.
int get_gcode_value(int n) {
    if (n < 0 || n > NUMCODES) return UNSET_CODE;
    return configuration_store.icodes[2][n];
}

int get_mcode_value(int n) { return get_gcode_value(n + AUX_CODE_BASE); }

int function_code_on_tape(int n) {
    if (n < 1 || n > NUMCODES) return 0;
    const int w = configuration_store.icodes[1][n];
    const int v = configuration_store.icodes[2][n];
    if (!has_word(w) || v == UNSET_CODE || v > TEXT_CODE_BASE) return 0;
    const word_output_state_t& s = word_output_state;
    return s.word_request[w] == 0 && s.word_value_type[w] == WORD_CARRIES_NUMBER && s.word_previous[w] == v ? 1 : 0;
}

int fcode_word(int n) {
    if (n < 0 || n > NUMCODES) return NO_WORD;
    return configuration_store.icodes[1][n];
}

text<FUNCTION_TEXT_LENGTH> function_code_text(int n) {
    text<FUNCTION_TEXT_LENGTH> t;
    if (n >= 1 && n <= NUMCODES) t.set(configuration_store.scodes[n].view());
    return t;
}

int output_value_table(double v, int w) {
    tool_state_t& ts = tool_state;
    int pair = 1;
    if (w == key_word(KEY_SPINDLE)) {
        if (ts.gear_range == 0) {
            ts.gear_range = 1;
            pair = 2;
        } else if (ts.gear_range >= 1 && ts.gear_range <= 3) {
            pair = ts.gear_range + 1;
        }
    }
    for (; pair <= VALUE_TABLE_PAIRS; ++pair) {
        const int input = VALUE_TABLE_FIRST_COLUMN + 2 * (pair - 1);
        const int output = input + 1;
        for (int i = 1; i < VALUE_TABLE_ROWS; ++i) {
            const int midpoint = truncate_to_int((avals(i, input) + avals(i + 1, input)) * 0.5);
            if (v <= midpoint) return truncate_to_int(avals(i, output));
        }
    }
    return truncate_to_int(avals(VALUE_TABLE_ROWS, VALUE_TABLE_FIRST_COLUMN + 2 * VALUE_TABLE_PAIRS - 1));
}

void dwellp(double seconds) {
    // An unset dwell code (-1) is not reported: only the dwell word is then
    // written, the function itself being left out by gset.
    if (get_gcode_value(FUNCTION_DWELL) == 0) {
        issue_message(MSG_DWELL_NOT_SET);
        return;
    }
    set_reference_message(LABEL_DWELL);
    gset(FUNCTION_DWELL, SETWRD_SET_REQUEST);
    const int w = key_word(KEY_CYCLE_DWELL);
    setwrd(w, nearest_int(seconds * MULT(w)), SETWRD_SET_REQUEST);
    end_record_block(1);
}

void crc() {
    int& state = ppword_state.compensation_state;
    const int option = get_intsp(37);
    const int rapid = pending_move_flags.rapid_pending;
    if (get_state_flag(FLAG_COMPENSATION_ACTIVE) != 0 && option >= 2 && motion_state.increments[3] >= 0 &&
        rapid != 0) {
        gset(COMPENSATION_OFF, SETWRD_SET_REQUEST);
        state = COMPENSATION_OFF;
        if (option == 2) end_record_block(1);
        set_status_flag(FLAG_COMPENSATION_CHANGE, 0);
        set_status_flag(FLAG_COMPENSATION_ACTIVE, 0);
        return;
    }
    if (get_state_flag(FLAG_COMPENSATION_CHANGE) == 0 || state == COMPENSATION_NONE) return;
    // The state is 9, 10 or 11 when set by the compensation handler; any
    // other value names no compensation function.
    if (state < COMPENSATION_OFF || state > COMPENSATION_RIGHT) return;
    const int w = fcode_word(state);
    if (!has_word(w)) {
        // Reported once for the record that asked for it: the change cannot
        // be written, and every later move would report it again.
        issue_message(MSG_COMPENSATION_NOT_SET);
        set_status_flag(FLAG_COMPENSATION_CHANGE, 0);
        return;
    }
    if (rapid != 0) {
        // A rapid move only turns compensation off; left and right stay
        // pending for the next cutting move.
        if (state == COMPENSATION_OFF) {
            gset(COMPENSATION_OFF, SETWRD_SET_REQUEST);
            set_status_flag(FLAG_COMPENSATION_CHANGE, 0);
            set_status_flag(FLAG_COMPENSATION_ACTIVE, 0);
        }
    } else {
        gset(state, SETWRD_SET_REQUEST);
        set_status_flag(FLAG_COMPENSATION_CHANGE, 0);
        set_status_flag(FLAG_COMPENSATION_ACTIVE, 1);
    }
    if (wdstat(w, WDSTAT_WILL_WRITE) != 1) return;
    const int radius_option = get_intsp(35);
    if (state == COMPENSATION_OFF) {
        if (radius_option >= 2) setwrd(key_word(KEY_TOOL_RADIUS), 0, SETWRD_SET_REQUEST);
    } else if (radius_option == 1 || radius_option == 3) {
        setwrd(key_word(KEY_TOOL_RADIUS), tool_state.offset_number, SETWRD_SET_REQUEST);
    }
}

void coded_feed(double feed) {
    const motion_state_t& m = motion_state;
    int x = 0, y = 0, z = 0;
    if (pending_move_flags.circle_pending != 0) {
        const double i = std::fabs(circle_state.circle_record[2]);
        const double j = std::fabs(circle_state.circle_record[3]);
        const double k = std::fabs(circle_state.circle_record[4]);
        if (k >= CIRCLE_AXIS_TOLERANCE) {
            x = y = 1;
        } else if (j >= CIRCLE_AXIS_TOLERANCE) {
            x = z = 1;
        } else if (i >= CIRCLE_AXIS_TOLERANCE) {
            y = z = 1;
        }
    } else {
        x = std::fabs(m.position[1] - m.previous_position[1]) > MOVING_AXIS_TOLERANCE ? 1 : 0;
        y = std::fabs(m.position[2] - m.previous_position[2]) > MOVING_AXIS_TOLERANCE ? 1 : 0;
        z = std::fabs(m.position[3] - m.previous_position[3]) > MOVING_AXIS_TOLERANCE ? 1 : 0;
    }

    const int state = ppword_state.compensation_state;
    if (state == COMPENSATION_LEFT || state == COMPENSATION_RIGHT) {
        const int offset = tool_state.offset_number;
        int value = 0;
        if (get_intsp(78) == 0) {
            int axes = x + 2 * y + 4 * z;
            if (axes == 0) axes = 1;
            value = offset + 100 * axes;
        } else {
            value = state == COMPENSATION_RIGHT ? offset : offset + LEFT_OFFSET_BIAS;
        }
        setwrd(key_word(KEY_TOOL_RADIUS), value, SETWRD_SET_REQUEST);
    }

    const int moving = x + y + z;
    const double limit = moving <= 1 ? real_option(13) : (moving == 2 ? real_option(14) : real_option(15));
    double f = feed;
    if (f < real_option(2)) f = real_option(2);
    if (f > limit) f = limit;
    int code = 0;
    if (f < 10.0) {
        code = 400 + truncate_to_int(10.0 * f);
    } else if (f < 100.0) {
        code = 500 + truncate_to_int(f);
    } else if (f < 1000.0) {
        code = 600 + truncate_to_int(f / 10.0);
    } else {
        code = 700 + truncate_to_int(f / 100.0);
    }
    setwrd(key_word(KEY_FEEDRATE), code, SETWRD_SET_REQUEST);
}

}  // namespace kv
