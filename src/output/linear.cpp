// Linear, rapid and wire moves: one or two lines a point (the XY and Z parts
// of a split move), thread moves, the codes that wait for the next move, the
// wire-EDM compensation moves, the cutting time per tool and the toolpath count.
#include <algorithm>
#include <climits>
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

move_output_state_t move_output_state;

namespace {

// Integer settings.
constexpr int SPINDLE_WORD_TIMING_SETTING = 10;  // "spindle output" value 1
constexpr int SPINDLE_FUNCTION_SETTING = 12;     // "spindle output" value 3
constexpr int TLO_OUTPUT_SETTING = 15;
constexpr int TOOL_RESET_SETTING = 16;           // "tool reset coordinates"
constexpr int SPLIT_MOVE_SETTING = 24;
constexpr int COMPENSATION_PLANE_SETTING = 34;   // "compensation output" value 1
constexpr int COMPENSATION_MOVES_SETTING = 37;   // "compensation output" value 4
constexpr int RAPID_FEED_CODE_SETTING = 38;
constexpr int MULTIAXIS_FEED_SETTING = 71;
constexpr int TOOL_VECTOR_SETTING = 74;
constexpr int END_TURN_ANGLE_SETTING = 77;
constexpr int MOVE_SAFE_ANGLES_REAL = 206;       // four values
constexpr int RAPID_FEEDRATE_REAL = 3;           // "rapid feedrate"
// Keys.
constexpr int X_KEY = 8;
constexpr int SPINDLE_KEY = 19;
constexpr int TOOL_LENGTH_KEY = 24;
constexpr int AZIMUTH_KEY = 36;
constexpr int ELEVATION_KEY = 37;
constexpr int X_VECTOR_KEY = 42;
// Functions.
constexpr int RAPID_FUNCTION = 1;
constexpr int LINEAR_FUNCTION = 2;
constexpr int COMPENSATION_OFF_FUNCTION = 9;
constexpr int COMPENSATION_LEFT_FUNCTION = 10;
constexpr int THREAD_FUNCTION = 31;
constexpr int TOOL_LENGTH_OFFSET_FUNCTION = 35;
constexpr int CONTOUR_SPEED_FUNCTION = 61;
constexpr int CONTOUR_SPEED_2_FUNCTION = 62;
constexpr int END_OF_PROGRAM_AUX = 17;           // auxiliary function 17: slot 57
// Blocks and labels (message n + 30).
constexpr int MOVE_LINEAR_BLOCK = 11;
constexpr int MOVE_RAPID_BLOCK = 12;
constexpr int LINEAR_LABEL = 1;                  // "LINEAR MOVE"
constexpr int RAPID_LABEL = 2;                   // "RAPID MOVE"
// State flags.
constexpr int MULTIAXIS_MODE_FLAG = 20;
constexpr int TOOL_VALUES_FLAG = 102;
constexpr int CONTACT_NORMALS_FLAG = 31;
constexpr double MINIMUM_FEED_FOR_TIME = 0.001;
constexpr double ZERO_COORDINATE = 1e-9;


int function_has_word(int n) {
    const int w = fcode_word(n);
    return w != 0 && w != NO_WORD;
}

// The tool-vector words of a linear or rapid point from its values 4-6,
// truncated toward zero.
void set_tool_vector_words(int c) {
    const point_column& p = point_buffer.column[POINT_COLUMN_RAW];
    for (int i = 1; i <= 3; ++i) {
        const int w = key_word(X_VECTOR_KEY + i - 1);
        if (w == NO_WORD || w == 0) continue;
        setwrd(w, truncate_to_int(MULT(w) * p[c + 2 + i]), SETWRD_SET_REQUEST);
    }
}

int tool_vector_output(int multiaxis_mode) {
    return (get_intsp(TOOL_VECTOR_SETTING) == 2 && multiaxis_mode) || get_state_flag(CONTACT_NORMALS_FLAG) != 0;
}

// Whether the head word of key k goes out with the point's line while the
// rapid block leaves it out: an empty block writes every requested word, one
// with items only the words it names.
int rapid_block_drops_head_word(int k) {
    const int w = key_word(k);
    if (w == 0 || w == NO_WORD) return 0;
    if (configuration_store.blklen[MOVE_RAPID_BLOCK] < 1 || block_names_key(MOVE_RAPID_BLOCK, k)) return 0;
    return wdstat(w, WDSTAT_REQUESTED) && wdstat(w, WDSTAT_WILL_WRITE);
}

// How the point is written: one line, or two with the XY part first or last.
struct line_plan {
    int lines = 1;
    int xy_first = 1;
};

// "split move" splits a rapid move when it is non-zero, a feed move only
// when it is above 1.
line_plan plan_lines(int rapid, int x_moves, int y_moves, int z_moves, int z_not_rising) {
    line_plan plan;
    int& first_move = move_output_state.first_move_after_tool_change;
    if (first_move) {
        first_move = 0;
        const int reset = get_intsp(TOOL_RESET_SETTING);
        if (reset == 3 || reset == 4) {
            plan.lines = 2;
            plan.xy_first = reset == 3;
        }
        return plan;
    }
    const int split = rapid ? get_intsp(SPLIT_MOVE_SETTING) != 0 : get_intsp(SPLIT_MOVE_SETTING) > 1;
    if (split && (x_moves || y_moves) && z_moves) {
        plan.lines = 2;
        plan.xy_first = z_not_rising;
    }
    return plan;
}

// The straight moves to the points of the buffer whose x values lie from
// `first` to `last`, shared by the linear and the rapid form.
void output_straight_moves(int rapid_move, int first, int last) {
    point_buffer_t& b = point_buffer;
    motion_state_t& m = motion_state;
    const int multiaxis_mode = get_state_flag(MULTIAXIS_MODE_FLAG) != 0;
    if (!rapid_move) pending_move_flags.multiaxis_mode_copy = multiaxis_mode;
    const int stride = multiaxis_mode || get_state_flag(CONTACT_NORMALS_FLAG) != 0 ? 6 : 3;
    if (b.point_count == 0) return;
    // The turning angle is worked out only for a control that outputs a
    // contour speed function.
    const bool contour_speed =
        !rapid_move && (function_is_output(CONTOUR_SPEED_FUNCTION) || function_is_output(CONTOUR_SPEED_2_FUNCTION));
    for (int c = std::max(first, 1); c <= std::min(last, b.point_count); c += stride) {
        set_move_point(c, stride);
        if (tool_vector_output(multiaxis_mode)) set_tool_vector_words(c);
        if (contour_speed && (b.more_points_flag || c + stride <= b.point_count)) {
            const double a = get_intsp(END_TURN_ANGLE_SETTING) == 2 ? end_turn_angle() : start_turn_angle();
            const double s1 = real_option(MOVE_SAFE_ANGLES_REAL);
            const double s2 = real_option(MOVE_SAFE_ANGLES_REAL + 1);
            const double s3 = real_option(MOVE_SAFE_ANGLES_REAL + 2);
            const double s4 = real_option(MOVE_SAFE_ANGLES_REAL + 3);
            if (s1 <= a && a <= s2 && function_has_word(CONTOUR_SPEED_FUNCTION)) {
                gset(CONTOUR_SPEED_FUNCTION, SETWRD_SET_REQUEST);
            }
            if (s3 <= a && a <= s4 && function_has_word(CONTOUR_SPEED_2_FUNCTION)) {
                gset(CONTOUR_SPEED_2_FUNCTION, SETWRD_SET_REQUEST);
            }
        }
        compute_increments();
        // A rapid whose block cannot write a head word that turns goes out as
        // a linear move at the rapid feedrate, so that the head's turn is not lost.
        int rapid = rapid_move;
        if (machine_model.machine_type == MACHINE_HEAD_PAIR && !multiaxis_mode && get_three_axis_flag() == 0) {
            set_head_words_for_tool_axis();
            if (rapid && (rapid_block_drops_head_word(AZIMUTH_KEY) || rapid_block_drops_head_word(ELEVATION_KEY)))
                rapid = 0;
        }
        const double kept_feedrate = feed_state.feedrate;
        if (rapid_move && !rapid) feed_state.feedrate = std::fabs(real_option(RAPID_FEEDRATE_REAL));
        int x_moves = 0, y_moves = 0, z_moves = 0, z_not_rising = 0;
        get_moving_axes(x_moves, y_moves, z_moves, z_not_rising);
        if (get_intsp(COMPENSATION_MOVES_SETTING) > 0 &&
            (rapid || get_intsp(COMPENSATION_PLANE_SETTING) < 2 || x_moves || y_moves)) {
            crc();
        }
        if (m.output_mode_flags[FORCE_XYZ_FLAG]) {
            x_moves = 1;
            y_moves = 1;
            z_moves = 1;
        }
        set_xyz_words();
        const line_plan plan = plan_lines(rapid, x_moves, y_moves, z_moves, z_not_rising);
        // The move's time and length count once, whatever the lines it takes.
        int time_added = 0;
        for (int line = 1; line <= plan.lines; ++line) {
            int z_in_line = z_moves;
            int line_moves = x_moves || y_moves || z_moves;
            if (plan.lines == 2) {
                z_in_line = split_move_axes(line, plan.xy_first, x_moves, y_moves);
                line_moves = z_in_line ? z_moves : (x_moves || y_moves);
            }
            if (z_in_line) output_tool_length_offset();
            if (!line_moves && get_intsp(TOOL_VECTOR_SETTING) != 2) continue;
            if (rapid) {
                output_pending_codes();
                gset(RAPID_FUNCTION, SETWRD_SET_REQUEST);
            } else {
                const int thread = pending_move_flags.thread_pending && !rapid_move;
                gset(thread ? THREAD_FUNCTION : LINEAR_FUNCTION, SETWRD_SET_REQUEST);
                fedrat();
                output_pending_codes();
            }
            if (!time_added) add_move_time();
            time_added = 1;
            set_reference_message(rapid ? RAPID_LABEL : LINEAR_LABEL);
            if (rapid && get_intsp(RAPID_FEED_CODE_SETTING) == 1) fedrat();
            run_block(rapid ? MOVE_RAPID_BLOCK : MOVE_LINEAR_BLOCK);
        }
        feed_state.feedrate = kept_feedrate;
        if (!rapid_move) pending_move_flags.go_home_pending = 0;
        commit_current_position();
        check_tape_split_after_move(!rapid_move && c + stride <= b.point_count);
    }
}

}  // namespace

int function_is_output(int n) { return function_has_word(n) && get_gcode_value(n) != UNSET_CODE; }

void output_linear_move() { output_straight_moves(0, 1, INT_MAX); }

void output_linear_move_from(int first) { output_straight_moves(0, first, INT_MAX); }

void output_linear_move_to(int index) { output_straight_moves(0, index, index); }

void output_rapid_move() { output_straight_moves(1, 1, INT_MAX); }

void request_rapid_code() {
    gset(RAPID_FUNCTION, SETWRD_SET_REQUEST);
    if (get_intsp(RAPID_FEED_CODE_SETTING) == 1) fedrat();
}

int split_move_axes(int line, int xy_first, int x_moves, int y_moves) {
    const int xy_line = xy_first ? 1 : 2;
    if (line == xy_line) {
        if (x_moves) setwrd(coordinate_word(1), 0, SETWRD_REQUEST);
        if (y_moves) setwrd(coordinate_word(2), 0, SETWRD_REQUEST);
        setwrd(coordinate_word(3), 0, SETWRD_CANCEL);
        return 0;
    }
    setwrd(coordinate_word(3), 0, SETWRD_REQUEST);
    setwrd(coordinate_word(1), 0, SETWRD_CANCEL);
    setwrd(coordinate_word(2), 0, SETWRD_CANCEL);
    return 1;
}

int output_tool_length_offset() {
    tool_state_t& t = tool_state;
    if (!t.tool_offset_ints[TOOL_CHANGED]) return 0;
    t.tool_offset_ints[TOOL_CHANGED] = 0;
    if (get_intsp(TLO_OUTPUT_SETTING) == 1) {
        gset(TOOL_LENGTH_OFFSET_FUNCTION, SETWRD_SET_REQUEST);
        setwrd(key_word(TOOL_LENGTH_KEY), 0, SETWRD_REQUEST);
    }
    t.tool_offset_ints[LENGTH_OFFSET_OUTPUT] = 1;
    return 0;
}

void output_pending_codes() {
    tool_state_t& t = tool_state;
    array1<int, 4>& f = t.pending_code_flags;
    if (t.spindle_speed_owed) setwrd(key_word(SPINDLE_KEY), 0, SETWRD_REQUEST);
    if (t.spindle_function_owed != 0) mset(t.spindle_function_owed, SETWRD_SET_REQUEST);
    t.spindle_speed_owed = 0;
    t.spindle_function_owed = 0;
    if (f[SPINDLE_STOPPED] && f[SPINDLE_PENDING]) {
        if (get_intsp(SPINDLE_FUNCTION_SETTING) == 1) mset(t.spindle_mfunction, SETWRD_SET_REQUEST);
        if (get_intsp(SPINDLE_WORD_TIMING_SETTING) == 2) setwrd(key_word(SPINDLE_KEY), 0, SETWRD_REQUEST);
        f[SPINDLE_STOPPED] = 0;
        f[SPINDLE_PENDING] = 0;
        return;
    }
    if (f[COOLANT_PENDING] && !f[COOLANT_WRITTEN]) {
        // A code that waits for this line on the coolant code's word (the
        // spindle code) keeps it: the coolant goes with the next move.
        const int w = fcode_word(t.pending_gfunction);
        const word_output_state_t& ws = word_output_state;
        if (has_word(w) && ws.word_request[w] != 0 && ws.word_value[w] != get_gcode_value(t.pending_gfunction)) return;
        // A line since the coolant record (a comment, a code that had to go
        // first) may have carried the code already: it is not written twice.
        if (!function_code_on_tape(t.pending_gfunction)) gset(t.pending_gfunction, SETWRD_SET_REQUEST);
        f[COOLANT_PENDING] = 0;
        f[COOLANT_WRITTEN] = 1;
    }
}

int current_tool_index() {
    // Moves before the first toolpath record count with the first tool.
    return std::clamp(toolpath_tables.tool_index, 1, MAXTOOLS);
}

// A move's minutes count for the current tool and the current toolpath.
void add_cutting_minutes(double minutes) {
    move_output_state.tool_cutting_times[current_tool_index()] += minutes;
    toolpath_tables.toolpath_move_minutes[current_toolpath_index()] += minutes;
}

// A rapid move takes its time at the control's rapid feedrate, whatever feed
// the cutfile has in force.
void add_move_time() {
    note_tape_move();
    const double length = move_length();
    if (pending_move_flags.rapid_pending != 0) {
        const double rapid = real_option(RAPID_FEEDRATE_REAL);
        if (rapid >= MINIMUM_FEED_FOR_TIME) add_cutting_minutes(length / rapid);
        return;
    }
    const double feed = feed_per_minute_of(feed_state.feedrate);
    if (feed_state.feedrate >= MINIMUM_FEED_FOR_TIME && feed > 0.0) add_cutting_minutes(length / feed);
}

void add_hole_time(int out_at_feed) {
    const double rapid = real_option(RAPID_FEEDRATE_REAL);
    const double feed = cycle_parameters.feed_per_minute;
    const double approach = std::fabs(cycle_parameters.clearance);
    const double depth = std::fabs(cycle_values.depth_below_clearance);
    double minutes = 0.0;
    if (rapid >= MINIMUM_FEED_FOR_TIME) minutes += 2.0 * approach / rapid;
    if (feed >= MINIMUM_FEED_FOR_TIME) minutes += depth / feed;
    if (out_at_feed && feed >= MINIMUM_FEED_FOR_TIME) {
        minutes += depth / feed;
    } else if (!out_at_feed && rapid >= MINIMUM_FEED_FOR_TIME) {
        minutes += depth / rapid;
    }
    add_cutting_minutes(minutes);
}

void accumulate_move_time() {
    if (get_intsp(MULTIAXIS_FEED_SETTING) == 1) {
        note_tape_move();
        add_cutting_minutes(multiaxis_feed.move_feed_values[2]);
    } else {
        add_move_time();
    }
}

void start_next_toolpath() {
    toolpath_tables_t& t = toolpath_tables;
    const int previous = toolpath_row(t.toolpath_index >= 1 ? t.toolpath_index : 1);
    t.toolpath_index += 1;
    const int row = toolpath_row(t.toolpath_index);
    if (t.tool_index == 0 || t.toolpath_tool_number[row] != t.toolpath_tool_number[previous]) t.tool_index += 1;
    if (get_state_flag(TOOL_VALUES_FLAG) != 0) {
        machine_model.tool_length = t.toolpath_alt_tool_length[row];
        tool_state.tool_values[1] = t.toolpath_tool_length[row];
    } else {
        machine_model.tool_length = t.toolpath_tool_length[row];
    }
    pending_move_flags.datum_shift_pending = 1;
}

int output_compensation_cancel_move() {
    if (ppword_state.compensation_state != COMPENSATION_OFF && !pending_move_flags.go_home_pending) return 0;
    // The cancel goes on the move that follows, never on a repeated move of
    // its own: a repeat would take the wire past the point it reached.
    ppword_state.compensation_state = COMPENSATION_NONE;
    gset(COMPENSATION_OFF_FUNCTION, SETWRD_SET_REQUEST_FORGET);
    if (pending_move_flags.go_home_pending) mset(END_OF_PROGRAM_AUX, SETWRD_SET_REQUEST_FORGET);
    return 1;
}

void write_compensation_cancel_line(int move_function) {
    for (int axis = 1; axis <= 3; ++axis) setwrd(coordinate_word(axis), 0, SETWRD_CANCEL);
    setwrd(key_word(AZIMUTH_KEY), 0, SETWRD_CANCEL);
    setwrd(key_word(ELEVATION_KEY), 0, SETWRD_CANCEL);
    gset(move_function, SETWRD_SET_REQUEST);
    set_reference_message(move_function == RAPID_FUNCTION ? RAPID_LABEL : LINEAR_LABEL);
    end_record_block(1);
}

void output_wire_move() {
    point_buffer_t& b = point_buffer;
    move_output_state_t& s = move_output_state;
    const int cancel = output_compensation_cancel_move();
    const int lines_before = block_writer.block_lines_written;
    for (int c = 1; c <= b.point_count; c += 3) {
        set_move_point(c);
        compute_increments();
        int x_moves = 0, y_moves = 0, z_moves = 0, z_not_rising = 0;
        get_moving_axes(x_moves, y_moves, z_moves, z_not_rising);
        // A point without XY travel ends the record's output.
        if (!x_moves && !y_moves) break;
        set_xyz_words();
        gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
        if (s.first_move_after_tool_change) {
            // The approach from the start hole: written in its place, with
            // compensation off; the contour's first move turns it on.
            s.first_move_after_tool_change = 0;
            gset(COMPENSATION_OFF_FUNCTION, SETWRD_SET_REQUEST);
        } else if (!cancel) {
            gset(COMPENSATION_LEFT_FUNCTION, SETWRD_SET_REQUEST);
        }
        add_move_time();
        set_reference_message(LINEAR_LABEL);
        run_block(MOVE_LINEAR_BLOCK);
        pending_move_flags.go_home_pending = 0;
        commit_current_position();
    }
    if (cancel && block_writer.block_lines_written == lines_before) write_compensation_cancel_line(LINEAR_FUNCTION);
}

void output_wire_rapid(void (*rapid_move)()) {
    // Compensation is cancelled on the rapid itself; a go home or a cancel
    // record forces the code out, and a go home adds the end code.
    const int forced = output_compensation_cancel_move();
    if (!forced) gset(COMPENSATION_OFF_FUNCTION, SETWRD_SET_REQUEST);
    const int lines_before = block_writer.block_lines_written;
    rapid_move();
    if (block_writer.block_lines_written != lines_before) return;
    // A rapid of no length: the cancel still goes out when it is due.
    if (forced || (function_has_word(COMPENSATION_OFF_FUNCTION) &&
                   wdstat(fcode_word(COMPENSATION_OFF_FUNCTION), WDSTAT_WILL_WRITE) == 1)) {
        write_compensation_cancel_line(RAPID_FUNCTION);
    }
}

void output_home_position_block() {
    // The move home that follows carries compensation off and the end code.
    gset(COMPENSATION_OFF_FUNCTION, SETWRD_SET_REQUEST_FORGET);
    mset(END_OF_PROGRAM_AUX, SETWRD_SET_REQUEST_FORGET);
}

void force_zero_coordinate_words(const array1<double, 3>& point) {
    if (motion_state.position_known) return;
    for (int i = 1; i <= 3; ++i) {
        if (std::fabs(point[i]) > ZERO_COORDINATE) continue;
        const int w = key_word(X_KEY + i - 1);
        setwrd(w, 0, SETWRD_REQUEST);
        setwrd(w, 0, SETWRD_FORGET);
    }
}

}  // namespace kv
