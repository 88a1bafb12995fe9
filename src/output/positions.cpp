// Position bookkeeping of the motion output: a cutfile point made the current
// position in output units and word integers, the axis-limit warnings, the
// tangential C axis, increments, turning angles, move length and the commit.
#include <algorithm>
#include <climits>
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

point_buffer_t point_buffer;
pending_move_flags_t pending_move_flags;
motion_state_t motion_state;

namespace {

constexpr int C_AXIS_KEY = 38;              // "3rd rotation axis"
constexpr int AXIS_LIMITS_REAL = 116;       // minimum x, maximum x, ..., maximum z
constexpr int INITIAL_C_ANGLE_REAL = 9;
constexpr double C_ANGLE_UNSET = -9998.0;   // at or below: ask the operator
constexpr int FIRST_LIMIT_MESSAGE = 186;    // " x too small in block ...", then too large, y, z
constexpr int C_AXIS_ELEMENT = 7;
constexpr double RADIANS_TO_DEGREES_TURN = 57.29577951307855;
constexpr double TANGENT_PI = 3.14159265359;
constexpr double TURN_LENGTH_MINIMUM = 1e-7;
constexpr int ANSWER_LENGTH = 80;
constexpr int C_ANGLE_FIELD_WIDTH = 6;      // typed without a point: thousandths
constexpr int C_ANGLE_DECIMALS = 3;
// The points of the turning angles (motion_state.turn_points).
constexpr int TURN_BEFORE = 1;              // the start of the previous move
constexpr int TURN_START = 2;               // the start of the current move
constexpr int TURN_END = 3;                 // its end, the current position
constexpr int TURN_NEXT = 4;                // the next point

// Asks until a line is read, as every console prompt does: a missing answer
// gives message 101, and standard input that has ended can never answer, so
// the run then ends as for any other unanswerable prompt.
void prompt_for_line(std::string_view prompt, std::span<char> answer) {
    while (!prompt_and_read_line(prompt, answer)) {
        issue_message(101);
        if (unit_at_end(input_unit())) stop_run(EXIT_ANSWER_EXIT);
    }
}

// The C axis kept tangential to the move in the XY plane.
void set_tangential_c_axis(int c_word) {
    motion_state_t& m = motion_state;
    if (real_option(INITIAL_C_ANGLE_REAL) <= C_ANGLE_UNSET) ask_initial_c_angle(c_word);
    // X and Y are each held at their own word's resolution.
    const double xm = axis_mult(1), ym = axis_mult(2);
    const double x0 = m.previous_position_units[1] / xm;
    const double x1 = m.position_units[1] / xm;
    const double y0 = m.previous_position_units[2] / ym;
    const double y1 = m.position_units[2] / ym;
    const double dx = x1 - x0;
    const double slope = dx != 0.0 ? (y1 - y0) / dx : 1.0;
    double a = std::atan(slope) * 180.0 / TANGENT_PI + 90.0;
    if (x0 > x1) a += 180.0;
    if (dx == 0.0) a = y0 <= y1 ? 180.0 : 0.0;
    a += real_option(INITIAL_C_ANGLE_REAL);
    const double cm = MULT(c_word);
    const double p = m.previous_position_units[C_AXIS_ELEMENT] / cm;
    if (a - p >= 180.0) a -= 360.0;
    if (a - p < -180.0) a += 360.0;
    a = std::fmod(a + 360.0, 360.0);
    const int c = nearest_int(cm * a);
    m.position_units[C_AXIS_ELEMENT] = c;
    m.previous_position_units[C_AXIS_ELEMENT] = c;
    setwrd(c_word, c, SETWRD_SET_REQUEST);
}

void warn_axis_limits() {
    const motion_state_t& m = motion_state;
    for (int axis = 1; axis <= 3; ++axis) {
        const double v = m.position[axis];
        const double minimum = real_option(AXIS_LIMITS_REAL + 2 * (axis - 1));
        const double maximum = real_option(AXIS_LIMITS_REAL + 2 * (axis - 1) + 1);
        // Each limit is tested on its own: limits given the wrong way round
        // report both.
        const int messages[2] = {v < minimum ? FIRST_LIMIT_MESSAGE + 2 * (axis - 1) : 0,
                                 v > maximum ? FIRST_LIMIT_MESSAGE + 2 * (axis - 1) + 1 : 0};
        for (int message : messages) {
            if (message == 0) continue;
            set_message_int_arg(1, derived_settings.sequence_number);
            set_message_real_arg(1, v);
            issue_message(message);
        }
    }
}

double to_degrees(double radians) { return radians * RADIANS_TO_DEGREES_TURN; }

array1<double, 3> first_three(const array1<double, 6>& p) {
    array1<double, 3> r;
    for (int i = 1; i <= 3; ++i) r[i] = p[i];
    return r;
}

// The current position and angles become the previous ones, and those the
// committed ones: the motion that follows starts here.
void shift_positions(motion_state_t& m) {
    m.committed_position = m.previous_position;
    m.previous_position = m.position;
    m.committed_rotary_angles = m.previous_rotary_angles;
    m.previous_rotary_angles = m.rotary_angles;
}

}  // namespace

// The initial C angle from the operator, and whether it goes on the tape now.
void ask_initial_c_angle(int c_word) {
    text<ANSWER_LENGTH> answer;
    prompt_for_line("Enter initial C angle", answer);
    int error = 0;
    const double angle = read_real_field(answer, C_ANGLE_FIELD_WIDTH, C_ANGLE_DECIMALS, error, 1);
    real_option(INITIAL_C_ANGLE_REAL) = angle;
    motion_state.previous_position_units[C_AXIS_ELEMENT] = nearest_int(angle * MULT(c_word));
    answer.clear();
    prompt_for_line("Is this to be on tape?", answer);
    if (answer[1] == 'Y' || answer[1] == 'y') {
        setwrd(c_word, motion_state.previous_position_units[C_AXIS_ELEMENT], SETWRD_SET_REQUEST);
        end_record_block(1);
    }
}


std::span<double> point_column_values(int k) {
    point_column& c = point_buffer.column[k];
    return {c.data(), static_cast<std::size_t>(point_column::size())};
}

void to_position_units(const array1<double, 3>& in, array1<int, 3>& units, array1<double, 3>& out) {
    for (int i = 1; i <= 3; ++i) {
        out[i] = in[i];
        units[i] = word_integer(out[i], axis_mult(i));
    }
}

void to_machine_units(const array1<double, 3>& in, array1<int, 3>& units, array1<double, 3>& out) {
    array1<double, 3> scaled;
    for (int i = 1; i <= 3; ++i) scaled[i] = in[i] * pass1_results.unit_factor;
    to_position_units(scaled, units, out);
}

void read_point(std::span<const double> points, int index, double factor, array1<double, 3>& out) {
    for (int i = 1; i <= 3; ++i) {
        const std::size_t at = static_cast<std::size_t>(index + i - 2);
        out[i] = index >= 1 && at < points.size() ? points[at] * factor : 0.0;
    }
}

void set_position_from_point(std::span<const double> points, int index, int convert) {
    motion_state_t& m = motion_state;
    array1<double, 3> raw;
    read_point(points, index, 1.0, raw);
    array1<int, 3> units;
    array1<double, 3> out;
    if (convert) {
        to_machine_units(raw, units, out);
    } else {
        to_position_units(raw, units, out);
    }
    for (int i = 1; i <= 3; ++i) {
        m.position[i] = out[i];
        m.position_units[i] = units[i];
    }
    warn_axis_limits();
    const int c_word = configuration_store.key[C_AXIS_KEY];
    if (c_word != NO_WORD && c_word != 0 && !pending_move_flags.circle_pending && !pending_move_flags.rapid_pending) {
        set_tangential_c_axis(c_word);
    }
}

void set_position_from_cutfile_point(std::span<const double> points, int index) {
    set_position_from_point(points, index, 1);
}

void set_move_point(int index, int stride) {
    motion_state_t& m = motion_state;
    const point_buffer_t& b = point_buffer;
    const std::span<double> points = point_column_values(POINT_COLUMN_RAW);
    // A point that the record leaves incomplete reads its missing
    // coordinates as 0, as pass 1 reads them, never the look-ahead point or
    // the values of an earlier record that lie beyond the collected count.
    set_position_from_cutfile_point(points.first(static_cast<std::size_t>(std::max(b.point_count, 0))), index);
    array1<array1<double, 3>, 4>& t = m.turn_points;
    t[TURN_BEFORE] = first_three(m.committed_position);
    t[TURN_START] = first_three(m.previous_position);
    t[TURN_END] = first_three(m.position);
    // The next point: the following one of this buffer, or the look-ahead
    // point placed after the collected values, in output units.
    m.turn_has_next = b.more_points_flag || index + stride <= b.point_count;
    if (m.turn_has_next) read_point(points, index + stride, pass1_results.unit_factor, t[TURN_NEXT]);
    m.end_turn_known = 0;
    m.start_turn_known = 0;
}

double end_turn_angle() {
    motion_state_t& m = motion_state;
    if (!m.end_turn_known) {
        const array1<array1<double, 3>, 4>& t = m.turn_points;
        m.end_turn_value = m.turn_has_next ? to_degrees(turning_angle(t[TURN_START], t[TURN_END], t[TURN_NEXT])) : 180.0;
        m.end_turn_known = 1;
    }
    return m.end_turn_value;
}

double start_turn_angle() {
    motion_state_t& m = motion_state;
    if (!m.start_turn_known) {
        const array1<array1<double, 3>, 4>& t = m.turn_points;
        m.start_turn_value = to_degrees(turning_angle(t[TURN_BEFORE], t[TURN_START], t[TURN_END]));
        m.start_turn_known = 1;
    }
    return m.start_turn_value;
}

double turning_angle(const array1<double, 3>& a, const array1<double, 3>& b, const array1<double, 3>& c) {
    vector3 u;
    vector3 v;
    for (int i = 1; i <= 3; ++i) {
        u[i] = b[i] - a[i];
        v[i] = c[i] - b[i];
    }
    const double lengths = vector_length(u) * vector_length(v);
    double cosine = -1.0;
    if (lengths > TURN_LENGTH_MINIMUM) cosine = std::clamp(dot_product(u, v) / lengths, -1.0, 1.0);
    return std::acos(cosine);
}

void compute_increments() {
    motion_state_t& m = motion_state;
    // Word integers saturate at the ends of their range, so their difference
    // may not fit: it saturates too instead of wrapping.
    for (int i = 1; i <= 6; ++i) {
        const long long d = static_cast<long long>(m.position_units[i]) - m.previous_position_units[i];
        m.increments[i] = static_cast<int>(std::clamp<long long>(d, INT_MIN, INT_MAX));
    }
}

void get_moving_axes(int& x_moves, int& y_moves, int& z_moves, int& z_not_rising) {
    const motion_state_t& m = motion_state;
    // An axis the tape has not followed moves on the machine even when the
    // position's increment is 0.
    x_moves = m.increments[1] != 0 || m.unwritten_axes[1] != 0;
    y_moves = m.increments[2] != 0 || m.unwritten_axes[2] != 0;
    z_moves = m.increments[3] != 0 || m.unwritten_axes[3] != 0;
    z_not_rising = m.increments[3] <= 0;
}

void commit_current_position() {
    motion_state_t& m = motion_state;
    shift_positions(m);
    m.previous_position_units = m.position_units;
    m.previous_rotary_units = m.rotary_units;
    m.position_known = 1;
}

void take_position_without_output() {
    motion_state_t& m = motion_state;
    compute_increments();
    for (int a = 1; a <= 3; ++a)
        if (m.increments[a] != 0) m.unwritten_axes[a] = 1;
    shift_positions(m);
    // The word integers stay where the tape last put the machine, the base
    // of the next increments; only the first position of the run, where the
    // tape starts, becomes their start.
    if (!m.position_known) {
        for (int i = 1; i <= 3; ++i) m.previous_position_units[i] = m.position_units[i];
        m.position_known = 1;
    }
}

void mark_axes_unwritten() { motion_state.unwritten_axes.fill(1); }

void round_positions() {
    motion_state_t& m = motion_state;
    // The previous word integers are where the tape last put the machine: a
    // previous position taken over without a line (take_position_without_output)
    // must not become the base of the next increments.
    for (int i = 1; i <= 3; ++i) m.position_units[i] = word_integer(m.position[i], axis_mult(i));
}

double move_length() {
    motion_state_t& m = motion_state;
    vector3 d;
    for (int i = 1; i <= 3; ++i) d[i] = static_cast<double>(m.increments[i]) / axis_mult(i);
    const double length = vector_length(d);
    if (!pending_move_flags.rapid_pending) m.cut_length += length;
    return length;
}

void point_and_direction_to_machine(array1<double, 3>& point, array1<double, 3>& direction) {
    if (get_intsp(82) == 0 && get_three_axis_flag() != 0) return;
    // The direction goes through the same transform as a point; the
    // transformed origin is taken off again.
    vector3 origin{{0.0, 0.0, 0.0}};
    if (get_state_flag(20) != 0) {
        const double d = angle_constants.degrees_to_radians;
        const double azimuth = motion_state.previous_rotary_angles[2] * d;
        const double elevation = motion_state.previous_rotary_angles[1] * d;
        kinematic_transform_point(point, azimuth, elevation);
        kinematic_transform_point(direction, azimuth, elevation);
        kinematic_transform_point(origin, azimuth, elevation);
    } else {
        part_to_machine_point(point);
        part_to_machine_point(direction);
        part_to_machine_point(origin);
    }
    for (int i = 1; i <= 3; ++i) direction[i] -= origin[i];
}

}  // namespace kv
