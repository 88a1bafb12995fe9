// Multi-axis step output: each linearised step is checked against the axis
// limits, given its feed, turned into azimuth and elevation words (with head
// offsets, axis-vector offsets, linear units and directions) and written.
#include <cmath>
#include <cstdio>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

// Integer settings.
constexpr int COMPENSATION_PLANE_SETTING = 34;   // "compensation output" value 1
constexpr int COMPENSATION_MOVES_SETTING = 37;   // "compensation output" value 4
constexpr int MULTIAXIS_FEED_SETTING = 71;       // 1: multi-axis feed mode
constexpr int INVERSE_TIME_SETTING = 72;         // 1: inverse-time feed
constexpr int MULTIAXIS_RAPIDS_SETTING = 102;    // "output rapids in multiaxis"
constexpr int RAPID_FEEDRATE_REAL = 3;           // "rapid feedrate"
// Keys.
constexpr int TOOL_LENGTH_KEY = 24;
constexpr int AZIMUTH_KEY = 36;
constexpr int ELEVATION_KEY = 37;
constexpr int X_VECTOR_KEY = 42;                 // 43, 44: "y vector", "z vector"
// Functions and blocks.
constexpr int RAPID_FUNCTION = 1;
constexpr int LINEAR_FUNCTION = 2;
constexpr int MOVE_LINEAR_BLOCK = 11;
constexpr int MOVE_RAPID_BLOCK = 12;
constexpr int LINEAR_LABEL = 1;                  // message 31 "LINEAR MOVE"
constexpr int RAPID_LABEL = 2;                   // message 32 "RAPID MOVE"
// State flags.
constexpr int ABSOLUTE_FLAG = 21;
constexpr int CONTACT_NORMALS_FLAG = 31;
// Messages.
constexpr int TOOL_LENGTH_WARNING = 124;
constexpr int ROTARY_HEADING_MESSAGE = 58;
constexpr int PRINT_LINE_LENGTH = 132;
constexpr double SHORT_LENGTH = 1e-8;



int print_unit_open() {
    const int u = job_unit(FILE_PRINT);
    return u >= 0 && !is_null_unit(u);
}

void output_feed_words() {
    if (get_intsp(MULTIAXIS_FEED_SETTING) == 1) {
        fedrat_multiaxis();
    } else {
        fedrat();
    }
}

void cancel_tool_length_request() { setwrd(key_word(TOOL_LENGTH_KEY), 0, SETWRD_CANCEL); }

// The spindle and coolant codes that wait for the next move go out with the
// first multi-axis block too, as with a three-axis move; else a spindle
// started before a multi-axis move would never be switched on. The line
// carries the label of its kind of move.
void prepare_move_line(int label) {
    output_pending_codes();
    set_reference_message(label);
}

// The axis positions, the two rotary angles as output and the step's
// deviation, under the rotary heading.
void print_rotary_line(double elevation, double azimuth, double deviation) {
    if (!print_unit_open()) return;
    write_message(job_unit(FILE_PRINT), ROTARY_HEADING_MESSAGE);
    const motion_state_t& m = motion_state;
    char line[PRINT_LINE_LENGTH + 1];
    std::snprintf(line, sizeof line, "%10.4f%10.4f%10.4f%10.4f%10.4f%7.3f", m.position[1], m.position[2],
                  m.position[3], elevation, azimuth, deviation);
    write_line_or_stop(line, job_unit(FILE_PRINT));
}

// The integer value of one rotary angle as its word carries it: the angle
// (plus the head offset) in degrees, or as the arc length on the rotary
// diameter for an axis in linear units, then the axis-vector offset and the
// direction.
int rotary_word_value(double angle, double head_offset, int units_char_at, int direction_char_at,
                      const vector3& axis_vector, int word) {
    const machine_model_t& mm = machine_model;
    const double scale = MULT(word);
    int value = 0;
    if (mm.rotary_axis_chars[units_char_at] == 'L') {
        const double pi = angle_constants.pi_value;
        value = nearest_int(scale * angle * pi * mm.rotary_diameter / 360.0);
        if (head_offset != 0.0) value += nearest_int(scale * head_offset * pi * mm.rotary_diameter / 360.0);
    } else {
        value = nearest_int(scale * angle);
        if (head_offset != 0.0) value += nearest_int(scale * head_offset);
        add_axis_vector_offset(axis_vector[1], axis_vector[2], axis_vector[3], static_cast<int>(scale), value);
    }
    if (mm.rotary_axis_chars[direction_char_at] == '-') value = -value;
    return value;
}

// On a table-table machine the tool length offset that a tool change left
// waiting goes out with the first block that moves Z, rapid or not.
void output_waiting_tool_length_offset(int z_moves) {
    if (machine_model.machine_type == MACHINE_TABLE_TABLE && z_moves) output_tool_length_offset();
}

// Whether Z moves in the coming block, read before set_xyz_words clears the
// marks of the axes the tape has not followed.
int z_moves_in_block() {
    int x_moves = 0, y_moves = 0, z_moves = 0, z_not_rising = 0;
    get_moving_axes(x_moves, y_moves, z_moves, z_not_rising);
    return z_moves;
}

// The head offsets of the two words: the part origin's first angle on the
// azimuth of a head machine, its second on the elevation of a head-head one.
double head_offset(int k) {
    const machine_model_t& mm = machine_model;
    if (k == 1) return mm.machine_type == MACHINE_HEAD_TABLE || mm.machine_type == MACHINE_HEAD_HEAD ? mm.pcs_angles[1] : 0.0;
    return mm.machine_type == MACHINE_HEAD_HEAD ? mm.pcs_angles[2] : 0.0;
}

}  // namespace

double rotary_word_offset(int k) {
    const machine_model_t& mm = machine_model;
    double offset = head_offset(k);
    // rotary_axis_chars 1 and 2: the units of the azimuth and the elevation.
    if (mm.rotary_axis_chars[k] != 'L') {
        const vector3& v = k == 1 ? mm.azimuth_axis_vector : mm.elevation_axis_vector;
        offset += axis_vector_offset(v[1], v[2], v[3]);
    }
    return offset;
}

void rotary_word_values(double azimuth, double elevation, int& azimuth_value, int& elevation_value) {
    const machine_model_t& mm = machine_model;
    const double azimuth_offset = head_offset(1);
    const double elevation_offset = head_offset(2);
    // rotary_axis_chars: azimuth units, elevation units, azimuth direction,
    // elevation direction.
    azimuth_value = rotary_word_value(azimuth, azimuth_offset, 1, 3, mm.azimuth_axis_vector, key_word(AZIMUTH_KEY));
    elevation_value =
        rotary_word_value(elevation, elevation_offset, 2, 4, mm.elevation_axis_vector, key_word(ELEVATION_KEY));
}

void set_rotary_axis_words(double deviation, int& elevation_changed, int& azimuth_changed) {
    motion_state_t& m = motion_state;
    const int azimuth_word = key_word(AZIMUTH_KEY);
    const int elevation_word = key_word(ELEVATION_KEY);
    int a = 0, e = 0;
    rotary_word_values(m.rotary_angles[2], m.rotary_angles[1], a, e);
    m.position_units[7] = e;
    m.position_units[8] = a;
    m.rotary_units[1] = e;
    m.rotary_units[2] = a;

    const double me = MULT(elevation_word);
    const double ma = MULT(azimuth_word);
    print_rotary_line(me != 0.0 ? e / me : 0.0, ma != 0.0 ? a / ma : 0.0, deviation);

    // The base of the increments, and of the test whether a word changes, is
    // where the tape last put the rotary axes: the values of the last
    // committed line. The previous angles may have been taken over without a
    // line (a FROM that is not written, a new toolpath), and the machine
    // still stands where the tape left it.
    const int ep = m.previous_rotary_units[1];
    const int ap = m.previous_rotary_units[2];
    m.previous_position_units[7] = ep;
    m.previous_position_units[8] = ap;

    if (get_state_flag(ABSOLUTE_FLAG) != 0) {
        setwrd(elevation_word, e, SETWRD_SET);
        setwrd(azimuth_word, a, SETWRD_SET);
    } else {
        setwrd(elevation_word, e - ep, SETWRD_SET);
        setwrd(azimuth_word, a - ap, SETWRD_SET);
        // An increment equal to the last one written is still a turn.
        if (e != ep) setwrd(elevation_word, 0, SETWRD_FORGET);
        if (a != ap) setwrd(azimuth_word, 0, SETWRD_FORGET);
    }
    elevation_changed = e != ep;
    azimuth_changed = a != ap;
    if (elevation_changed) setwrd(elevation_word, 0, SETWRD_REQUEST);
    if (azimuth_changed) setwrd(azimuth_word, 0, SETWRD_REQUEST);

    round_positions();
}

void set_contact_normal_words() {
    if (get_state_flag(CONTACT_NORMALS_FLAG) == 0) return;
    const linearisation_state_t& l = linearisation_state;
    const vector3& start = l.start_frame.contact_normal;
    const vector3& end = l.end_frame.contact_normal;
    const double fraction = l.step_fraction[2];
    vector3 normal;
    for (int i = 1; i <= 3; ++i) normal[i] = start[i] + (end[i] - start[i]) * fraction;
    normalize_vector(normal);
    // The contact normal goes out on the tool-vector words, as at a FROM
    // record with contact normals.
    for (int i = 1; i <= 3; ++i) {
        const int w = key_word(X_VECTOR_KEY + i - 1);
        setwrd(w, nearest_int(MULT(w) * normal[i]), SETWRD_SET_REQUEST);
    }
}

void output_multiaxis_step(double azimuth, double elevation, double fraction, double deviation) {
    motion_state_t& m = motion_state;
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    const machine_model_t& mm = machine_model;
    set_step_end_fraction(fraction);
    m.rotary_angles[1] = elevation;
    m.rotary_angles[2] = azimuth;

    int mode = 0;
    check_axis_limits(azimuth, elevation, mode);
    if (mode != 0) stop_run(4);

    if (get_intsp(MULTIAXIS_FEED_SETTING) == 1) {
        if (get_intsp(INVERSE_TIME_SETTING) == 1) {
            set_step_time_inverse(fraction);
        } else {
            set_step_feed_by_tip_speed(fraction);
        }
    }
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(deviation, elevation_changed, azimuth_changed);
    set_contact_normal_words();
    compute_increments();

    if (s.multiaxis_restart_state == 1 &&
        (mm.machine_type == MACHINE_HEAD_TABLE || mm.machine_type == MACHINE_HEAD_HEAD) && mm.tool_length != 0.0 &&
        mm.multiaxis_transform_on != 0) {
        set_message_real_arg(1, mm.tool_length);
        issue_message(TOOL_LENGTH_WARNING);
    }
    output_feed_words();

    if (!pending_move_flags.rapid_pending) {
        gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
        output_multiaxis_linear_block();
        m.output_mode_flags[FORCE_XYZ_FLAG] = 0;
        commit_current_position();
    } else if (get_intsp(MULTIAXIS_RAPIDS_SETTING) != 0) {
        gset(RAPID_FUNCTION, SETWRD_SET_REQUEST);
        output_multiaxis_rapid_block();
        commit_current_position();
    } else {
        output_multiaxis_rapid_at_rapid_feed();
    }
    if (s.multiaxis_restart_state == 1) s.multiaxis_restart_state = 0;
}

void output_multiaxis_linear_block() {
    compute_increments();
    // An axis the tape has not followed moves too; set_xyz_words clears
    // those marks, so they are read first.
    int x_moves = 0, y_moves = 0, z_moves = 0, z_not_rising = 0;
    get_moving_axes(x_moves, y_moves, z_moves, z_not_rising);
    set_xyz_words();
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    output_feed_words();
    output_waiting_tool_length_offset(z_moves);
    if (get_intsp(COMPENSATION_MOVES_SETTING) >= 1 &&
        !(get_intsp(COMPENSATION_PLANE_SETTING) >= 2 && !x_moves && !y_moves)) {
        crc();
    }
    if (x_moves || y_moves || z_moves || elevation_changed || azimuth_changed ||
        multiaxis_motion_state.multiaxis_restart_state > 0) {
        prepare_move_line(LINEAR_LABEL);
        run_block(MOVE_LINEAR_BLOCK);
    }
    accumulate_move_time();
    cancel_tool_length_request();
    split_tape_when_full();
}

void output_multiaxis_rapid_block() {
    const int z_moves = z_moves_in_block();
    set_xyz_words();
    output_feed_words();
    output_waiting_tool_length_offset(z_moves);
    prepare_move_line(RAPID_LABEL);
    run_block(MOVE_RAPID_BLOCK);
    accumulate_move_time();
    cancel_tool_length_request();
    split_tape_when_full();
}

void output_multiaxis_rapid_at_rapid_feed() {
    motion_state_t& m = motion_state;
    // The words are set by the linear block below.
    if (print_unit_open()) write_line_or_stop("RAPID ", job_unit(FILE_PRINT));
    const double kept_feedrate = feed_state.feedrate;
    const double rapid = std::fabs(spval(RAPID_FEEDRATE_REAL));
    feed_state.feedrate = rapid;
    if (get_intsp(INVERSE_TIME_SETTING) == 1 && get_intsp(MULTIAXIS_FEED_SETTING) == 1) {
        array1<double, 2>& values = multiaxis_feed.move_feed_values;
        const double length = part_tip_move_length();
        values[2] = 0.0;
        if (length > SHORT_LENGTH) {
            values[1] = rapid / length;
            if (values[1] > SHORT_LENGTH) values[2] = 1.0 / values[1];
        }
        fedrat_multiaxis();
    }
    gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
    output_linear_fiveaxis();
    m.output_mode_flags[FORCE_XYZ_FLAG] = 0;
    commit_current_position();
    feed_state.feedrate = kept_feedrate;
}

void output_linear_fiveaxis() {
    const int z_moves = z_moves_in_block();
    set_xyz_words();
    output_feed_words();
    output_waiting_tool_length_offset(z_moves);
    prepare_move_line(LINEAR_LABEL);
    run_block(MOVE_LINEAR_BLOCK);
    accumulate_move_time();
    cancel_tool_length_request();
    split_tape_when_full();
}

}  // namespace kv
