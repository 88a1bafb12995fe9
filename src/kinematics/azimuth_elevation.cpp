// Azimuth and elevation heads (machine type 4, both rotations in the head on
// a fixed axis pair): one linear block per point with the head values of the
// rotary words, the collection of their circles, and the wire-mode linear block.
#include <cstdio>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int GOTO_CLASS = 5000;
constexpr int GOTO_SUBCLASS = 5;
constexpr int CONTINUATION_SUBCLASS = 6;
constexpr int FIRST_COORDINATE_WORD = 3;
constexpr int VALUES_A_POINT = 6;                 // x, y, z, i, j, k
constexpr int MAX_CIRCLE_VALUES = 1000;
constexpr int MULTIAXIS_FEED_SETTING = 71;
constexpr int WIRE_MODE_SETTING = 79;
constexpr int SUBTYPE_ANGLES_CHECKED = 21;        // the one pair whose angles have limits
constexpr int SUBTYPE_RUNNING_DIFFERENCES = 23;   // head values are changes from their running sums
constexpr int SUBTYPE_INCREMENTAL_HEAD = 25;      // rotary words follow incremental mode
constexpr int TOOL_LENGTH_KEY = 24;
constexpr int AZIMUTH_KEY = 36;
constexpr int ELEVATION_KEY = 37;
constexpr int LINEAR_FUNCTION = 2;
constexpr int COMPENSATION_OFF_FUNCTION = 9;
constexpr int MOVE_LINEAR_BLOCK = 11;
constexpr int ABSOLUTE_FLAG = 21;
constexpr int POINT_HEADING_MESSAGE = 56;
constexpr int TOO_MANY_POINTS_MESSAGE = 211;
constexpr int NO_LINEAR_BLOCK_MESSAGE = 132;
constexpr int PRINT_LINE_LENGTH = 132;

void print_point_line(const array1<double, VALUES_A_POINT>& v) {
    const int unit = job_files.file_units[unit_slot(FILE_PRINT)];
    if (unit < 0 || is_null_unit(unit)) return;
    write_message(unit, POINT_HEADING_MESSAGE);
    char line[PRINT_LINE_LENGTH + 1];
    std::snprintf(line, sizeof line, "%10.4f%10.4f%10.4f%10.4f%10.4f%10.4f", v[1], v[2], v[3], v[4], v[5], v[6]);
    write_line_or_stop(line, unit);
}

// Block "move linear" for the wire-mode routine: message 132 when the control
// has none (the move is then neither written nor committed).
int run_linear_block() {
    if (configuration_store.blklen[MOVE_LINEAR_BLOCK] <= 0) {
        issue_message(NO_LINEAR_BLOCK_MESSAGE);
        return 0;
    }
    run_block(MOVE_LINEAR_BLOCK);
    return 1;
}

// The head values of the tool vector at the current position into
// rotary_angles and onto the rotary words; the limits checked.
void set_head_words(vector3 tool_vector) {
    motion_state_t& m = motion_state;
    const machine_model_t& mm = machine_model;
    vector3 at;
    for (int i = 1; i <= 3; ++i) at[i] = m.position[i];
    double elevation = 0.0, azimuth = 0.0;
    int status = 0;
    azimuth_elevation_head_values(at, tool_vector, m.previous_rotary_angles[1], m.previous_rotary_angles[2],
                                  elevation, azimuth, status);
    if (status != 0) {
        report_multiaxis_error(status, azimuth, elevation);
        stop_run(4);
    }
    m.rotary_angles[1] = elevation;
    m.rotary_angles[2] = azimuth;
    int mode = mm.machine_subtype == SUBTYPE_ANGLES_CHECKED ? 0 : LIMITS_POSITION_ONLY;
    check_axis_limits(azimuth, elevation, mode);
    if (mode != 0) stop_run(4);

    const int elevation_word = key_word(ELEVATION_KEY);
    const int azimuth_word = key_word(AZIMUTH_KEY);
    m.position_units[7] = nearest_int(MULT(elevation_word) * elevation);
    m.position_units[8] = nearest_int(MULT(azimuth_word) * azimuth);
    m.rotary_units[1] = m.position_units[7];
    m.rotary_units[2] = m.position_units[8];
    // The words carry increments on the pair that follows incremental mode
    // when it is on, and on the pair whose values are running differences
    // always. An increment equal to the last one written is still a turn.
    int elevation_value = m.position_units[7];
    int azimuth_value = m.position_units[8];
    const bool follows_incremental = mm.machine_subtype == SUBTYPE_INCREMENTAL_HEAD && get_state_flag(ABSOLUTE_FLAG) == 0;
    if (follows_incremental) {
        elevation_value -= m.previous_position_units[7];
        azimuth_value -= m.previous_position_units[8];
    }
    const bool incremental_words = follows_incremental || mm.machine_subtype == SUBTYPE_RUNNING_DIFFERENCES;
    setwrd(elevation_word, elevation_value, SETWRD_SET_REQUEST);
    setwrd(azimuth_word, azimuth_value, SETWRD_SET_REQUEST);
    if (incremental_words && elevation_value != 0) setwrd(elevation_word, 0, SETWRD_FORGET);
    if (incremental_words && azimuth_value != 0) setwrd(azimuth_word, 0, SETWRD_FORGET);
    round_positions();
}

// The tool axis in force; vertical before any multi-axis point gave one.
vector3 held_tool_axis() {
    const vector3& axis = multiaxis_motion_state.tool_axis;
    if (vector_length(axis) < VECTOR_GIVEN_LENGTH) return vector3{{0.0, 0.0, 1.0}};
    return axis;
}

}  // namespace

void set_head_words_for_tool_axis() { set_head_words(held_tool_axis()); }

void process_azimuth_elevation_moves() {
    if (pending_move_flags.circle_pending) {
        process_azimuth_elevation_circle();
        return;
    }
    motion_state_t& m = motion_state;
    const int n = cldata_data_count();
    for (int g = FIRST_COORDINATE_WORD; g + 1 <= n; g += VALUES_A_POINT) {
        array1<double, VALUES_A_POINT> v;
        for (int k = 1; k <= VALUES_A_POINT; ++k) v[k] = g + k - 1 <= n ? cldata_real_word(g + k - 1) : 0.0;
        const array1<double, 3> tip{{v[1], v[2], v[3]}};
        array1<int, 3> units;
        array1<double, 3> out;
        to_machine_units(tip, units, out);
        for (int i = 1; i <= 3; ++i) {
            m.position[i] = out[i];
            m.position_units[i] = units[i];
        }
        print_point_line(v);
        compute_increments();

        // A point without a tool vector (or with a zero one) keeps the tool
        // axis in force, as on the other machines.
        vector3 axis{{v[4], v[5], v[6]}};
        if (vector_length(axis) < VECTOR_GIVEN_LENGTH) axis = held_tool_axis();
        set_head_words(axis);
        normalize_vector(axis);
        multiaxis_motion_state.tool_axis = axis;

        gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
        if (configuration_store.intsp[WIRE_MODE_SETTING] != 0) {
            linear();
        } else {
            output_linear_fiveaxis();
        }
        m.output_mode_flags[FORCE_XYZ_FLAG] = 0;
        commit_current_position();
        for (int i = 1; i <= 3; ++i) circle_state.arc_plane_reals[i] = v[3 + i];
    }
}

void process_azimuth_elevation_circle() {
    point_buffer_t& b = point_buffer;
    point_column& raw = b.column[POINT_COLUMN_RAW];
    b.point_count = 0;
    b.more_points_flag = 0;
    for (;;) {
        const int n = cldata_data_count();
        for (int i = FIRST_COORDINATE_WORD; i <= n; ++i) {
            if (b.point_count >= MAX_CIRCLE_VALUES) {
                issue_message(TOO_MANY_POINTS_MESSAGE);
                stop_run(4);
            }
            b.point_count += 1;
            raw[b.point_count] = cldata_real_word(i);
        }
        int record_class = 0, subclass = 0, flag = 0;
        next_record_class(record_class, subclass, flag);
        if (record_class != GOTO_CLASS) break;
        if (subclass == CONTINUATION_SUBCLASS) {
            next_cldata_record();
            continue;
        }
        if (subclass == GOTO_SUBCLASS) {
            // The next GOTO's first point, after the collected values and not counted.
            for (int i = 1; i <= 3; ++i) raw[b.point_count + i] = record_real_word(1, FIRST_COORDINATE_WORD + 3 + i - 1);
            b.more_points_flag = 1;
        }
        break;
    }
    output_circle_move();
    pending_move_flags.circle_pending = 0;
}

void linear() {
    move_output_state_t& w = move_output_state;
    const int home = pending_move_flags.go_home_pending;
    if (home) output_home_position_block();
    set_xyz_words();
    if (configuration_store.intsp[MULTIAXIS_FEED_SETTING] == 1) {
        fedrat_multiaxis();
    } else {
        fedrat();
    }
    compute_increments();
    int x_moves = 0, y_moves = 0, z_moves = 0, z_not_rising = 0;
    get_moving_axes(x_moves, y_moves, z_moves, z_not_rising);
    if (!x_moves && !y_moves) {
        if (home) write_compensation_cancel_line(LINEAR_FUNCTION);
        return;
    }

    set_xyz_words();
    gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
    if (w.first_move_after_tool_change) {
        // The approach from the start hole: written in its place, with
        // compensation off.
        w.first_move_after_tool_change = 0;
        gset(COMPENSATION_OFF_FUNCTION, SETWRD_SET_REQUEST);
    }
    if (!run_linear_block()) return;
    accumulate_move_time();
    commit_current_position();
    setwrd(key_word(TOOL_LENGTH_KEY), 0, SETWRD_CANCEL);
}

}  // namespace kv
