// Go home: the control's go-home preamble, then each home point as at most
// two lines from the blocks "go home z move" and "go home xy move"; the
// two-step form splits the move along the tool axis on multi-axis machines.
#include <cmath>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int GO_HOME_OUTPUT_SETTING = 30;
constexpr int SPLIT_MOVE_SETTING = 24;
constexpr int COMPENSATION_MOVES_SETTING = 37;   // "compensation output" value 4
constexpr int GO_HOME_PREAMBLE_BLOCK = 3;
constexpr int GO_HOME_Z_BLOCK = 7;
constexpr int GO_HOME_XY_BLOCK = 8;
constexpr int MOVE_RAPID_BLOCK = 12;
constexpr int RAPID_LABEL = 2;                   // message 32 "RAPID MOVE": home lines are rapids
constexpr int X_KEY = 8;
constexpr int INCREMENTAL_X_KEY = 45;            // 46, 47 for Y and Z
constexpr double AXIAL_TRAVEL_MINIMUM = 0.00001;


// Whether block b writes coordinate `axis` (1..3) when it is requested: an
// empty block writes every requested word, one with items only those it
// names.
int block_writes_axis(int b, int axis) {
    if (configuration_store.blklen[b] < 1) return 1;
    return block_names_key(b, X_KEY + axis - 1) || block_names_key(b, INCREMENTAL_X_KEY + axis - 1);
}

int block_writes_axes(int b, int x, int y, int z) {
    return (!x || block_writes_axis(b, 1)) && (!y || block_writes_axis(b, 2)) && (!z || block_writes_axis(b, 3));
}

// The block of a go-home line: the control's own block for it when that
// block writes every axis moving in the line, else the rapid block when
// that one does; 0 when neither does, and the line's words are then written
// as they stand when the line ends.
int home_line_block(int own, int x, int y, int z) {
    if (block_writes_axes(own, x, y, z)) return own;
    if (block_writes_axes(MOVE_RAPID_BLOCK, x, y, z)) return MOVE_RAPID_BLOCK;
    return 0;
}


// Without go-home output the home point only becomes the current position.
int take_home_point_silently() {
    if (get_intsp(GO_HOME_OUTPUT_SETTING) != 0) return 0;
    if (point_buffer.point_count >= 3) {
        set_move_point(1);
        take_position_without_output();
    }
    return 1;
}

// A home line that moves is a rapid and is labelled so before its block
// writes it.
void request_home_rapid() {
    request_rapid_code();
    set_reference_message(RAPID_LABEL);
}

void end_home_line() { end_record_block(1); }

// position := p, with the word integers truncated toward zero.
void place_position(const array1<double, 3>& p) {
    motion_state_t& m = motion_state;
    for (int i = 1; i <= 3; ++i) {
        const double units = std::trunc(axis_mult(i) * p[i]);
        if (!word_value_fits(units)) stop_value_beyond_word();
        m.position[i] = p[i];
        m.position_units[i] = static_cast<int>(units);
    }
}

array1<double, 3> previous_plus(const array1<double, 3>& d) {
    array1<double, 3> p;
    for (int i = 1; i <= 3; ++i) p[i] = motion_state.previous_position[i] + d[i];
    return p;
}

array1<double, 3> current_target() {
    array1<double, 3> p;
    for (int i = 1; i <= 3; ++i) p[i] = motion_state.position[i];
    return p;
}

// One part of a two-step home move: a rapid, as the one-step home move is,
// whichever move code the last cut left in force.
void write_home_part(int block) {
    compute_increments();
    set_xyz_words();
    const array1<int, 8>& d = motion_state.increments;
    if (d[1] != 0 || d[2] != 0 || d[3] != 0) request_home_rapid();
    run_block(block);
}

// The committed tool axis as a machine displacement (the axis is a tool
// vector, turned back into the frame of the tips first).
void committed_machine_tool_axis(vector3& axis) {
    const committed_rotary_state_t& c = committed_rotary_state;
    axis = c.tool_axis;
    vector_to_tip_frame(axis);
    machine_displacement_of_vector(c.azimuth_radians, c.elevation_radians, axis);
}

}  // namespace

void output_go_home() {
    run_block(GO_HOME_PREAMBLE_BLOCK);
    if (take_home_point_silently()) return;
    const point_buffer_t& b = point_buffer;
    for (int c = 1; c <= b.point_count; c += 3) {
        set_move_point(c);
        compute_increments();
        int x_moves = 0, y_moves = 0, z_moves = 0, z_not_rising = 0;
        get_moving_axes(x_moves, y_moves, z_moves, z_not_rising);
        if (get_intsp(COMPENSATION_MOVES_SETTING) > 0) crc();
        set_xyz_words();
        // A move along Z and across goes out as two lines when the control
        // asks for it, and also when the Z block would leave X or Y out: no
        // axis of the home point may be lost. The tool goes up first, then
        // across, or across first when it goes down.
        const int xy_moves = x_moves || y_moves;
        const int split = get_intsp(SPLIT_MOVE_SETTING) != 0 || !block_writes_axes(GO_HOME_Z_BLOCK, x_moves, y_moves, 1);
        const int lines = split && xy_moves && z_moves ? 2 : 1;
        for (int line = 1; line <= lines; ++line) {
            int z_in_line = z_moves;
            int line_moves = xy_moves || z_moves;
            int x_in_line = x_moves, y_in_line = y_moves;
            if (lines == 2) {
                z_in_line = split_move_axes(line, z_not_rising, x_moves, y_moves);
                line_moves = z_in_line ? z_moves : xy_moves;
                if (z_in_line) x_in_line = y_in_line = 0;
            }
            if (line_moves) {
                request_home_rapid();
                const int own = z_in_line ? GO_HOME_Z_BLOCK : GO_HOME_XY_BLOCK;
                const int block = home_line_block(own, x_in_line, y_in_line, z_in_line);
                if (block != 0) run_block(block);
            }
            // The move's time counts once, whatever the lines it takes.
            if (line == 1) add_move_time();
            end_home_line();
        }
        commit_current_position();
    }
}

void output_go_home_two_step() {
    run_block(GO_HOME_PREAMBLE_BLOCK);
    if (take_home_point_silently()) return;
    const point_buffer_t& b = point_buffer;
    for (int c = 1; c <= b.point_count; c += 3) {
        set_move_point(c);
        vector3 move;
        for (int i = 1; i <= 3; ++i) move[i] = motion_state.position[i] - motion_state.previous_position[i];
        vector3 axis;
        committed_machine_tool_axis(axis);
        vector3 along;
        vector3 across;
        double s = 0.0;
        split_vector_along_axis(move, axis, along, across, s);
        if (s >= 0.0) {
            go_home_axis_first(s, along);
        } else {
            go_home_axis_last(s, across);
        }
    }
}

void go_home_axis_first(double s, const array1<double, 3>& axial) {
    const array1<double, 3> target = current_target();
    place_position(previous_plus(axial));
    if (std::fabs(s) > AXIAL_TRAVEL_MINIMUM) write_home_part(GO_HOME_Z_BLOCK);
    commit_current_position();
    place_position(target);
    write_home_part(GO_HOME_XY_BLOCK);
    add_move_time();
    end_home_line();
    commit_current_position();
}

void go_home_axis_last(double s, const array1<double, 3>& across) {
    const array1<double, 3> target = current_target();
    place_position(previous_plus(across));
    write_home_part(GO_HOME_XY_BLOCK);
    commit_current_position();
    place_position(target);
    if (std::fabs(s) > AXIAL_TRAVEL_MINIMUM) write_home_part(GO_HOME_Z_BLOCK);
    add_move_time();
    end_home_line();
    commit_current_position();
}

}  // namespace kv
