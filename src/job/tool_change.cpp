// Tool change, tool select, spindle and coolant commands: the tool state, the
// tool sheet of the setup file, and the coolant and spindle codes written now,
// with the next output line or with the next move as the control asks.
#include <cmath>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

tool_state_t tool_state;

namespace {

constexpr int KEY_SPINDLE = 19;
constexpr int KEY_TOOL_NUMBER = 20;
constexpr int KEY_TOOL_LENGTH = 24;
constexpr int KEY_TOOL_RADIUS = 25;

constexpr int BLOCK_TOOL_CHANGE_FIRST = 4;
constexpr int BLOCK_TOOL_CHANGE = 5;
constexpr int BLOCK_TOOL_CHANGE_CLEAR = 6;

constexpr int LABEL_SPINDLE_ON = 6;
constexpr int LABEL_SPINDLE_OFF = 7;
constexpr int LABEL_COOLANT_ON = 8;
constexpr int LABEL_COOLANT_OFF = 9;
constexpr int LABEL_TOOL_CHANGE = 10;

constexpr int FLAG_THREE_AXIS = 101;
constexpr int TOOL_TEXT_MARK = 3017;  // data word 9 of a tool record that carries a text
constexpr int RESTART_NEW_TOOLPATH = 2;

// Spindle functions and minor words.
constexpr int FUNCTION_SPINDLE_RPM = 19;
constexpr int FUNCTION_SURFACE_SPEED = 20;
constexpr int MINOR_RPM = 78;
constexpr int MINOR_CCLW = 59;
constexpr int MINOR_OFF = 72;
constexpr int SPINDLE_ON_CLW = 3;
constexpr int SPINDLE_ON_CCLW = 4;
constexpr int SPINDLE_OFF = 5;
constexpr int SPINDLE_WITH_COOLANT = 3;  // offset of the combined spindle-and-coolant functions
constexpr int CLASS_PPWORD = 2000;
constexpr int CLASS_MOTION = 5000;
constexpr int MW_COOLNT = 1030;
constexpr int MW_LOADTL = 1055;
constexpr int MW_SPINDL = 1031;

// Coolant functions.
constexpr int COOLANT_OFF_FUNCTION = 53;

constexpr int MSG_SPEED_FUNCTION_NOT_SET = 133;
constexpr int MSG_COOLANT_CODE_NOT_SET = 322;
constexpr int MSG_RULE = 179;
constexpr int MSG_BLOCK = 242;
constexpr int MSG_TOOL_NUMBER = 243;
constexpr int MSG_LENGTH_OFFSET = 244;
constexpr int MSG_RADIUS_OFFSET = 245;
constexpr int MSG_TOOL_LENGTH = 246;
constexpr int MSG_TOOL_DIAMETER = 247;
constexpr int MSG_TIP_RADIUS = 193;
constexpr int MSG_FEEDRATE = 194;
constexpr int MSG_PLUNGE_RATE = 195;
constexpr int MSG_RAPID_FEED = 259;
constexpr int MSG_SPINDLE_SPEED = 196;
constexpr int MSG_RAPID_HEIGHT = 197;
constexpr int MSG_SAFE_Z = 198;
constexpr int RAPID_FEEDRATE_REAL = 3;  // "rapid feedrate"

int has_items(int b) { return configuration_store.blklen[b] > 0 ? 1 : 0; }

// The spindle M function (3 clockwise, 4 counter-clockwise) of a code value
// that pass 1 kept for a toolpath: the code of function 4 names
// counter-clockwise unless functions 3 and 4 share one code; any other code
// is taken as clockwise.
int spindle_function_of_code(int code) {
    if (code == get_mcode_value(SPINDLE_ON_CCLW) && code != get_mcode_value(SPINDLE_ON_CLW)) return SPINDLE_ON_CCLW;
    return SPINDLE_ON_CLW;
}

// A word integer of a real quantity that cannot overflow the word.
int word_integer(double q, int w) { return truncate_to_int(q * MULT(w)); }

void write_int_line(int message, int value) {
    set_message_int_arg(1, value);
    write_message(job_unit(FILE_SETUP), message);
}

void write_real_line(int message, double value) {
    set_message_real_arg(1, value);
    write_message(job_unit(FILE_SETUP), message);
}

void write_tool_sheet(int tool_number, int length_offset) {
    const tool_state_t& t = tool_state;
    const toolpath_tables_t& p = toolpath_tables;
    const int row = toolpath_row(current_toolpath_index());
    write_message(job_unit(FILE_SETUP), MSG_RULE);
    write_int_line(MSG_BLOCK, derived_settings.sequence_number);
    write_int_line(MSG_TOOL_NUMBER, tool_number);
    write_int_line(MSG_LENGTH_OFFSET, length_offset);
    write_int_line(MSG_RADIUS_OFFSET, t.offset_number);
    write_real_line(MSG_TOOL_LENGTH, machine_model.tool_length);
    write_real_line(MSG_TOOL_DIAMETER, 2.0 * t.tool_values[2]);
    write_real_line(MSG_TIP_RADIUS, p.toolpath_tip_radius[row]);
    // The feeds the cutfile's FEDRAT text command gives, else those of the
    // toolpath's moves and the control's rapid feedrate.
    const int given = p.toolpath_fedrat_given[row];
    write_real_line(MSG_FEEDRATE, given ? p.toolpath_feedrate[row] : p.toolpath_move_feeds[row][1]);
    write_real_line(MSG_PLUNGE_RATE, given ? p.toolpath_plunge_rate[row] : p.toolpath_move_feeds[row][2]);
    write_real_line(MSG_RAPID_FEED, given ? p.toolpath_rapid_feed[row] : real_option(RAPID_FEEDRATE_REAL));
    write_real_line(MSG_SPINDLE_SPEED, p.toolpath_spindle_speed[row]);
    write_real_line(MSG_RAPID_HEIGHT, p.toolpath_rapid_height[row]);
    write_real_line(MSG_SAFE_Z, p.toolpath_start[row][3]);
}

// Two codes of one word cannot share a line (a control that writes spindle
// and coolant codes with one M word, for example): a code still waiting for
// its line is written on a line of its own before another code of code slot
// `slot` takes its word, so that neither is lost.
void write_code_waiting_on_word_of(int slot) {
    const int w = fcode_word(slot);
    if (!has_word(w) || get_gcode_value(slot) == UNSET_CODE) return;
    const word_output_state_t& ws = word_output_state;
    if (ws.word_request[w] != 0 && ws.word_value[w] != get_gcode_value(slot)) write_block_or_stop(WRITE_BLOCK_PENDING);
}

// The spindle codes requested when a tool change's blocks start: the speed
// word, and the spindle M function `function` with its code value.
struct spindle_codes {
    int speed = 0;
    int function = 0;
};

spindle_codes spindle_codes_requested(int function) {
    const word_output_state_t& s = word_output_state;
    spindle_codes due;
    const int w = key_word(KEY_SPINDLE);
    due.speed = has_word(w) && s.word_request[w] != 0 && s.word_value_type[w] == WORD_CARRIES_NUMBER;
    const int m = fcode_word(function + AUX_CODE_BASE);
    const int code = get_mcode_value(function);
    if (has_word(m) && s.word_request[m] != 0 && code > 0 && s.word_value[m] == code) due.function = function;
    return due;
}

// The requested spindle codes that the tool change's lines did not put on
// the tape (the tape's last value of the word is another) are owed to the
// next move: a block that does not name the speed word, or whose tool-change
// M code takes the word of the spindle code, would otherwise lose them.
void owe_spindle_codes_left_out(const spindle_codes& due) {
    const word_output_state_t& s = word_output_state;
    tool_state_t& t = tool_state;
    const int w = key_word(KEY_SPINDLE);
    if (due.speed && s.word_previous[w] != s.word_value[w]) t.spindle_speed_owed = 1;
    if (due.function != 0) {
        if (s.word_previous[fcode_word(due.function + AUX_CODE_BASE)] != get_mcode_value(due.function))
            t.spindle_function_owed = due.function;
        // The spindle runs, now or from the next move on: a spindle-off
        // record has something to stop.
        t.pending_code_flags[SPINDLE_STOPPED] = 0;
    }
}

// Blocks 4 or 5, then 6, of a tool change or tool select. An empty block 5
// is run only when `always` (it then writes the pending words).
void run_tool_change_blocks(int always, int spindle_function) {
    const spindle_codes due = spindle_codes_requested(spindle_function);
    int& first = tool_state.tool_offset_ints[FIRST_TOOL_PENDING];
    if (first == 1 && has_items(BLOCK_TOOL_CHANGE_FIRST)) {
        run_block(BLOCK_TOOL_CHANGE_FIRST);
    } else if (always || has_items(BLOCK_TOOL_CHANGE)) {
        run_block(BLOCK_TOOL_CHANGE);
    }
    first = 0;
    owe_spindle_codes_left_out(due);
}

void run_tool_change_clear() {
    if (!has_items(BLOCK_TOOL_CHANGE_CLEAR)) return;
    clear_modal_memory();
    run_block(BLOCK_TOOL_CHANGE_CLEAR);
}

// The spindle's start as the control writes it with its spindle record: in
// its block for the record (cldat 1031) when it has one, else as a line of
// the speed and the M function.
void write_spindle_start(int function, int speed) {
    tool_state_t& t = tool_state;
    const int w = key_word(KEY_SPINDLE);
    if (has_word(w)) setwrd(w, speed, SETWRD_SET_REQUEST);
    if (get_mcode_value(function) != 0) mset(function, SETWRD_SET_REQUEST);
    t.pending_code_flags[SPINDLE_STOPPED] = 0;
    t.pending_code_flags[SPINDLE_PENDING] = 0;
    t.spindle_speed_owed = 0;
    t.spindle_function_owed = 0;
    t.spindle_started_function = function;
    t.spindle_started_speed = speed;
    const int b = find_cldat_block(MW_SPINDL);
    if (configuration_store.special_block_count > 0 && b > 0 && configuration_store.blklen[b] > 0) {
        run_block(b);
    } else {
        write_block_or_stop(WRITE_BLOCK_PENDING);
    }
}

// A control whose tool change sets the spindle: a spindle record that starts
// it again after a stop, reverses it or changes its speed within the tool
// goes out with the record, so that no feed move runs with the spindle
// stopped or turning as the cutfile no longer turns it. The record that
// repeats what the tool change wrote writes nothing.
void restart_spindle_within_tool(int function) {
    const tool_state_t& t = tool_state;
    const int w = key_word(KEY_SPINDLE);
    const int speed = has_word(w) ? word_output_state.word_value[w] : 0;
    // Before the first tool, or for the next tool (its tool change comes
    // before the next move), the tool change starts the spindle itself.
    if (t.tool_offset_ints[FIRST_TOOL_PENDING] != 0) return;
    int k = 0;
    if (find_record_ahead(CLASS_PPWORD, MW_LOADTL, CLASS_MOTION, 0, k, SPINDLE_LOOKAHEAD) == 1) return;
    if (t.spindle_started_function == function && t.spindle_started_speed == speed) return;
    write_spindle_start(function, speed);
}

// The coolant functions by their names, for message 322.
struct coolant_kind {
    int function;
    const char* name;
};
constexpr coolant_kind COOLANT_KINDS[] = {
    {50, "coolant on mist"}, {51, "coolant on"},         {52, "coolant on flood"},  {53, "coolant off"},
    {73, "coolant on tap"},  {79, "coolant on air"},     {80, "coolant on double"}, {81, "coolant on through"},
};

// A coolant record of a kind the control has no code for is said once a run
// for each kind, naming it: the record writes nothing.
void coolant_code_or_warning(int function) {
    if (has_word(fcode_word(function)) && get_gcode_value(function) != UNSET_CODE) return;
    tool_state_t& t = tool_state;
    int bit = 1;
    for (const coolant_kind& k : COOLANT_KINDS) {
        if (k.function == function) {
            if ((t.coolant_kinds_warned & bit) != 0) return;
            t.coolant_kinds_warned |= bit;
            set_message_string_arg(1, k.name);
            issue_message(MSG_COOLANT_CODE_NOT_SET);
            return;
        }
        bit <<= 1;
    }
}

}  // namespace

void handle_tool_change() {
    tool_state_t& t = tool_state;
    const double uf = pass1_results.unit_factor;
    const int unwind = get_state_flag(FLAG_THREE_AXIS) == 0 && get_intsp(84) != 0 &&
                       t.tool_offset_ints[FIRST_TOOL_PENDING] == 0;
    if (unwind) unwind_rotary_axes();

    if (get_cutfile_new_style() == 0) {
        ++toolpath_tables.toolpath_index;
        ++toolpath_tables.tool_index;
    }
    int tool_number = cldata_rounded_word(1);
    if (get_flag102() == 0) {
        machine_model.tool_length = cldata_real_word(3) * uf;
        t.tool_values[1] = machine_model.tool_length;
    }
    t.tool_values[2] = cldata_real_word(5) * uf * 0.5;
    const int length_offset = cldata_rounded_word(7);
    t.offset_number = cldata_rounded_word(8);
    if (tool_number == 0) tool_number = length_offset;
    t.tool_change_ints[1] = tool_number;
    t.tool_change_ints[2] = length_offset;
    setwrd(key_word(KEY_TOOL_NUMBER), tool_number, SETWRD_SET_REQUEST);
    setwrd(key_word(KEY_TOOL_LENGTH), length_offset, SETWRD_SET);
    setwrd(key_word(KEY_TOOL_RADIUS), t.offset_number, SETWRD_SET);

    t.tool_text.clear();
    const int n = cldata_data_count();
    if (cldata_int_word(9) == TOOL_TEXT_MARK && n >= 10) copy_record_chars(10, n, t.tool_text.span(), 1);

    split_tape_at_tool_change();
    t.pending_code_flags[SPINDLE_STOPPED] = 1;

    const int row = toolpath_row(current_toolpath_index());
    if (get_intsp(10) == 3) {
        const int w = key_word(KEY_SPINDLE);
        const double speed = truncate_to_int(toolpath_tables.toolpath_spindle_speed[row]);
        setwrd(w, word_integer(speed, w), SETWRD_SET_REQUEST);
        t.speed_in_force = std::fabs(toolpath_tables.toolpath_spindle_speed[row]);
    }
    int spindle_function = t.spindle_mfunction;
    if (get_intsp(12) == 3) {
        spindle_function = spindle_function_of_code(toolpath_tables.toolpath_spindle_code[row]);
        mset(spindle_function, SETWRD_SET_REQUEST);
        if (get_intsp(10) == 3) t.pending_code_flags[SPINDLE_STOPPED] = 0;
    }
    if (get_intsp(10) == 3) {
        t.spindle_started_speed = word_output_state.word_value[key_word(KEY_SPINDLE)];
        t.spindle_started_function = t.pending_code_flags[SPINDLE_STOPPED] == 0 ? spindle_function : 0;
    }

    set_reference_message(LABEL_TOOL_CHANGE);
    run_tool_change_blocks(0, spindle_function);
    move_output_state.first_move_after_tool_change = 1;
    run_tool_change_clear();

    t.tool_offset_ints[TOOL_CHANGED] = 1;
    t.tool_offset_ints[LENGTH_OFFSET_OUTPUT] = 0;
    t.pending_code_flags[COOLANT_WRITTEN] = 0;
    apply_tool_reset_coordinates();

    write_tool_sheet(tool_number, length_offset);
    setwrd(key_word(KEY_TOOL_LENGTH), length_offset, SETWRD_SET);
    setwrd(key_word(KEY_TOOL_RADIUS), t.offset_number, SETWRD_SET);
    multiaxis_motion_state.multiaxis_restart_state = RESTART_NEW_TOOLPATH;
    multiaxis_motion_state.tool_vector_state = 1;
    if (unwind) turn_back_to_tool_axis();
}

void handle_tool_select() {
    tool_state_t& t = tool_state;
    split_tape_at_tool_change();
    const int tool_number = cldata_int_word(1);
    const int length_offset = cldata_int_word(2);
    t.tool_change_ints[1] = tool_number;
    t.tool_change_ints[2] = length_offset;
    // Pass 1 starts a toolpath at every tool record of a classic cutfile, the
    // tool select included: the run counts it too, so that each later tool
    // sheet reads its own toolpath's row.
    if (get_cutfile_new_style() == 0) ++toolpath_tables.toolpath_index;
    ++toolpath_tables.tool_index;
    setwrd(key_word(KEY_TOOL_NUMBER), tool_number, SETWRD_SET_REQUEST);
    setwrd(key_word(KEY_TOOL_LENGTH), length_offset, SETWRD_SET_REQUEST);
    set_reference_message(LABEL_TOOL_CHANGE);
    run_tool_change_blocks(1, t.spindle_mfunction);
    run_tool_change_clear();
}

void spindl() {
    tool_state_t& t = tool_state;
    array1<int, 4>& flags = t.pending_code_flags;
    t.spindle_values[2] = cldata_real_word(7) * pass1_results.unit_factor;

    const int speed_function = cldata_int_word(2) == MINOR_RPM ? FUNCTION_SPINDLE_RPM : FUNCTION_SURFACE_SPEED;
    t.surface_speed = speed_function == FUNCTION_SURFACE_SPEED ? 1 : 0;
    const int speed_word = fcode_word(speed_function);
    if (speed_word > 0 && speed_word < NO_WORD) {
        gset(speed_function, SETWRD_SET_REQUEST);
    } else {
        issue_message(MSG_SPEED_FUNCTION_NOT_SET);
    }

    int c = 0;
    if (get_intsp(13) == 1) {
        int k = 0;
        if (find_record_ahead(CLASS_PPWORD, MW_COOLNT, CLASS_MOTION, 0, k, SPINDLE_LOOKAHEAD) == 1 ||
            flags[COOLANT_PENDING] != 0)
            c = SPINDLE_WITH_COOLANT;
    }

    t.spindle_values[1] = cldata_real_word(1);
    int s = nearest_int(t.spindle_values[1]);
    t.gear_range = cldata_int_word(5);
    if (t.gear_range == 0) t.gear_range = 1;

    int index = 0;
    int function = SPINDLE_ON_CLW;  // CLW, as a record without a direction is
    bool counter_clockwise = false;
    bool off = false;
    if (find_minor_word_value(MINOR_CCLW, index) != 0) {
        function = SPINDLE_ON_CCLW;
        counter_clockwise = true;
    }
    if (find_minor_word_value(MINOR_OFF, index) != 0 || s == 0) {
        function = SPINDLE_OFF;
        off = true;
    }
    // A control that gives the combined spindle-and-coolant function no code
    // starts and stops its spindle with the plain one; otherwise the spindle
    // would never be started.
    if (c != 0 && get_mcode_value(function + c) == UNSET_CODE) c = 0;
    function += c;
    t.spindle_mfunction = function;
    write_code_waiting_on_word_of(function + AUX_CODE_BASE);
    if (get_mcode_value(function) != 0) mset(function, SETWRD_SET);

    t.speed_in_force = off ? 0.0 : std::fabs(t.spindle_values[1]);
    const int w = key_word(KEY_SPINDLE);
    if (off) {
        // A spindle stopped before the next move starts owes nothing.
        t.spindle_speed_owed = 0;
        t.spindle_function_owed = 0;
        if (flags[SPINDLE_STOPPED] == 0) {
            flags[SPINDLE_STOPPED] = 1;
            set_reference_message(LABEL_SPINDLE_OFF);
            if (get_intsp(11) != 0) setwrd(w, 0, SETWRD_SET_REQUEST);
            // The stop code goes out with the record: a spindle left turning
            // through a tool change or the program end is not stopped by S0
            // on every controller.
            if (get_intsp(12) != 0 && get_mcode_value(function) != 0) mset(function, SETWRD_SET_REQUEST);
            end_record_block(1);
        }
        flags[SPINDLE_PENDING] = 0;
        t.spindle_started_function = 0;
        return;
    }

    // The direction goes in the sign of the speed only for a control that
    // writes no spindle M function: controllers reject a negative speed,
    // and M4 already says counter-clockwise.
    if (counter_clockwise && get_intsp(12) == 0) s = -s;
    setwrd(w, word_integer(s, w), SETWRD_SET);
    set_reference_message(LABEL_SPINDLE_ON);
    flags[SPINDLE_PENDING] = 1;
    // What this record writes itself replaces what a tool change owed.
    if (get_intsp(12) == 1) {
        mset(function, SETWRD_SET_REQUEST);
        t.spindle_function_owed = 0;
    }
    const int timing = get_intsp(10);
    if (timing <= 2) t.spindle_speed_owed = 0;
    if (timing == 0 || timing == 1) {
        setwrd(w, 0, SETWRD_REQUEST);
        flags[SPINDLE_STOPPED] = 0;
        if (c == SPINDLE_WITH_COOLANT) {
            flags[COOLANT_WRITTEN] = 1;
            t.coolant_with_spindle = 1;
        }
        flags[SPINDLE_PENDING] = 0;
        if (timing == 0) end_record_block(1);
    } else if (timing == 2) {
        // Both stay set for the next move, which writes them.
        setwrd(w, 0, SETWRD_CANCEL);
        mset(function, SETWRD_CANCEL);
    } else {
        restart_spindle_within_tool(function);
    }
}

void restate_spindle_on_new_tape() {
    tool_state_t& t = tool_state;
    if (get_intsp(10) != 3 || t.spindle_started_function == 0) return;
    const int function = t.spindle_started_function;
    const int speed = t.spindle_started_speed;
    // What the new tape's start wrote (it may have written the toolpath's
    // spindle, as a tool change does, or none): its words' last values.
    const word_output_state_t& ws = word_output_state;
    const int w = key_word(KEY_SPINDLE);
    const int m = fcode_word(function + AUX_CODE_BASE);
    const bool function_written = get_mcode_value(function) == 0 ||
                                  (has_word(m) && ws.word_previous[m] == get_mcode_value(function));
    const bool speed_written = !has_word(w) || ws.word_previous[w] == speed;
    if (!function_written || !speed_written) write_spindle_start(function, speed);
}

void handle_coolant() {
    tool_state_t& t = tool_state;
    array1<int, 4>& flags = t.pending_code_flags;
    set_reference_message(LABEL_COOLANT_ON);
    const int m = cldata_int_word(1);
    int function = 51;
    switch (m) {
        case 71: function = 51; break;   // "coolant on"
        case 89: function = 52; break;   // flood
        case 90: function = 50; break;   // mist
        case 91: function = 73; break;   // tap
        case 92: function = 81; break;   // through
        case 93: function = 79; break;   // air
        case 94: function = 80; break;   // double
        case MINOR_OFF: function = COOLANT_OFF_FUNCTION; break;
        default: break;
    }
    coolant_code_or_warning(function);
    // Another coolant function is still to be written, unless the spindle
    // record before this one wrote it with its combined code.
    const int carried = t.coolant_with_spindle && m != MINOR_OFF;
    t.coolant_with_spindle = 0;
    if (function != t.pending_gfunction && !carried) flags[COOLANT_WRITTEN] = 0;
    t.pending_gfunction = function;
    flags[COOLANT_PENDING] = 1;

    if (m == MINOR_OFF) {
        const int timing = get_intsp(7);
        // A code still waiting for a line on the same word goes out first,
        // also when the next move carries this one.
        write_code_waiting_on_word_of(COOLANT_OFF_FUNCTION);
        if (timing >= 2) return;
        gset(COOLANT_OFF_FUNCTION, SETWRD_SET_REQUEST);
        if (timing != 0) return;
        set_reference_message(LABEL_COOLANT_OFF);
        end_record_block(1);
        flags[COOLANT_WRITTEN] = 0;
        flags[COOLANT_PENDING] = 0;
        return;
    }
    const int timing = get_intsp(6);
    if (flags[COOLANT_WRITTEN] == 1) return;
    write_code_waiting_on_word_of(function);
    if (timing >= 2) return;
    gset(function, SETWRD_SET_REQUEST);
    if (timing != 0) return;
    end_record_block(1);
    flags[COOLANT_PENDING] = 0;
    flags[COOLANT_WRITTEN] = 1;
}

}  // namespace kv
