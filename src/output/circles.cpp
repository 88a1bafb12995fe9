// Circular moves: the plane from the circle's axis, arcs and helices cut into
// pieces (at quadrant boundaries, or half circles for a radius), end-point,
// centre, radius and angle words, straight moves within the chordal tolerance
// where a plane has no arcs, and the fall-back to linear moves; the plane
// geometry and helix blocks of the helical cycles.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

circle_state_t circle_state;
multiaxis_arc_values_t multiaxis_arc_values;

namespace {

constexpr int BLOCK_MOVE_CIRCLE = 10;
constexpr int BLOCK_MOVE_LINEAR = 11;
constexpr int LABEL_LINEAR_MOVE = 1;    // "LINEAR MOVE"
constexpr int LABEL_CIRCLE_CCW = 3;     // "CIRCLE CCW"
constexpr int LABEL_CIRCLE_CW = 4;      // "CIRCLE CW"
constexpr int FUNCTION_CIRCLE_CW = 3;
constexpr int FUNCTION_CIRCLE_CCW = 4;
constexpr int FUNCTION_XY_PLANE = 6;
constexpr int FUNCTION_ZY_PLANE = 7;
constexpr int FUNCTION_XZ_PLANE = 8;
constexpr int KEY_CIRCLE_ANGLE = 7;
constexpr int KEY_RADIUS = 32;
constexpr int FUNCTION_LINEAR = 2;
constexpr double PI = 3.14159265358979323846;
constexpr double EXACT_ANGLE = 1e-9;        // degrees: a piece end on a quadrant boundary or half a turn on
constexpr double MAX_CHORD_ANGLE = 90.0;     // degrees of arc of one straight move at most
// Straight moves of one arc written within the chordal tolerance at most: a
// huge radius against a fine resolution would otherwise give an endless tape.
constexpr int MAX_ARC_CHORDS = 10000;
constexpr double ROUNDING_SLACK = 1e-9;


double degrees_of(double radians) { return radians * 180.0 / PI; }

double wrap_degrees(double a) {
    a = std::fmod(a, 360.0);
    return a < 0.0 ? a + 360.0 : a;
}

// The angle of the current position about the centre, in degrees, from the
// integer positions; turned by half a circle for a clockwise arc.
double position_angle() {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<int, 8>& pu = motion_state.position_units;
    double angle = degrees_of(std::atan2(static_cast<double>(pu[a[2]]) - pu[a[4]],
                                         static_cast<double>(pu[a[1]]) - pu[a[3]]));
    if (circle_state.arc_reversed != 0) angle = angle >= 0.0 ? angle - 180.0 : angle + 180.0;
    return angle;
}

// Whether travel in the arc's sense turns from the plane's second axis
// towards its first: a clockwise arc, or a counter-clockwise one in a plane
// whose axes are taken in the other order (the wire routine's X, Z).
bool travel_turns_back() {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const bool cyclic = (a[1] == 1 && a[2] == 2) || (a[1] == 2 && a[2] == 3) || (a[1] == 3 && a[2] == 1);
    return (circle_state.arc_reversed != 0) == cyclic;
}

// The direction of a plane point (integers) from the centre, as travel from
// the plane's first axis in the arc's sense.
double travel_direction(int p1, int p2) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<int, 8>& pu = motion_state.position_units;
    const double angle =
        degrees_of(std::atan2(static_cast<double>(p2) - pu[a[4]], static_cast<double>(p1) - pu[a[3]]));
    return wrap_degrees(travel_turns_back() ? -angle : angle);
}

int x_word_mult() { return MULT(key_word(8)); }

// Point `index` of a record's values in machine units (integers and reals).
void machine_point(std::span<const double> points, int index, array1<int, 3>& units, point3& out) {
    point3 raw;
    read_point(points, index, 1.0, raw);
    to_machine_units(raw, units, out);
}

// The axial coordinate of a helix `done` of the way `whole` from its start
// to its end.
void set_helix_rise(int axial, double start, double end, double done, double whole) {
    const double a = start + (end - start) * done / whole;
    motion_state.position[axial] = a;
    motion_state.position_units[axial] = nearest_int(static_cast<double>(x_word_mult()) * a);
}

// No plane code waits for the line: the arc goes out as straight moves.
void cancel_plane_codes() {
    gset(FUNCTION_XY_PLANE, SETWRD_CANCEL);
    gset(FUNCTION_ZY_PLANE, SETWRD_CANCEL);
    gset(FUNCTION_XZ_PLANE, SETWRD_CANCEL);
}

// A plane other than XY is written as arcs only where the control has the
// function code that selects it: without it every reader cuts the arc in
// the XY plane.
bool plane_code_set(int plane_function) {
    return plane_function == FUNCTION_XY_PLANE ||
           (has_word(fcode_word(plane_function)) && get_gcode_value(plane_function) != UNSET_CODE);
}

// One straight move to the current position, as part of an arc written
// as straight moves.
void output_arc_chord() {
    compute_increments();
    const array1<int, 8>& inc = motion_state.increments;
    if (inc[1] != 0 || inc[2] != 0 || inc[3] != 0) {
        set_xyz_words();
        gset(FUNCTION_LINEAR, SETWRD_SET_REQUEST);
        fedrat();
        output_pending_codes();
        add_move_time();
        set_reference_message(LABEL_LINEAR_MOVE);
        run_block(BLOCK_MOVE_LINEAR);
    }
    commit_current_position();
}

// The arc (or helix) as straight moves whose height over the arc stays
// within the chordal tolerance, ending at the record's last point.
void output_arc_chords(std::span<const double> points, int last_index, const arc_plan_t& plan, int axial,
                       double rise_start, double rise_end, int helix, double tolerance) {
    const double r = plan.start_radius;
    double step = MAX_CHORD_ANGLE;
    if (r > tolerance && tolerance > 0.0) step = std::min(step, 2.0 * degrees_of(std::acos(1.0 - tolerance / r)));
    const double wanted = std::ceil(plan.sweep / step - EXACT_ANGLE);
    const int n = static_cast<int>(std::clamp(wanted, 1.0, static_cast<double>(MAX_ARC_CHORDS)));
    for (int i = 1; i <= n; ++i) {
        if (i == n) {
            set_position_from_cutfile_point(points, last_index);
        } else {
            set_arc_position_at(plan, plan.sweep * i / n);
            if (helix) set_helix_rise(axial, rise_start, rise_end, i, n);
        }
        output_arc_chord();
    }
}

void clear_arc_centre() {
    const array1<int, 4>& axes = circle_state.arc_plane_axes;
    motion_state.position[axes[3]] = 0.0;
    motion_state.position[axes[4]] = 0.0;
    motion_state.position_units[axes[3]] = 0;
    motion_state.position_units[axes[4]] = 0;
}

}  // namespace

int arc_quadrant() {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<int, 8>& pu = motion_state.position_units;
    const int p1 = pu[a[1]], p2 = pu[a[2]], c1 = pu[a[3]], c2 = pu[a[4]];
    if (p1 >= c1 && p2 >= c2) return 1;
    if (p1 < c1 && p2 >= c2) return 2;
    if (p1 < c1) return 3;
    return 4;
}

void set_circle_reference_label() {
    set_reference_message(circle_state.arc_reversed != 0 ? LABEL_CIRCLE_CW : LABEL_CIRCLE_CCW);
}

double rounded_distance(double a, double b, double n) {
    return std::fabs(static_cast<double>(nearest_int(n * b)) - static_cast<double>(nearest_int(n * a))) / n;
}

double arc_point_travel(std::span<const double> points, int index, const arc_plan_t& plan) {
    array1<int, 3> units;
    point3 out;
    machine_point(points, index, units, out);
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    return wrap_degrees(travel_direction(units[a[1]], units[a[2]]) - plan.start_direction);
}

void plan_arc(std::span<const double> points, int last_index, double radius, int quadrant_pieces,
              int halve_full_circles, arc_plan_t& plan) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const motion_state_t& m = motion_state;
    plan.radius = radius;
    plan.quadrant_pieces = quadrant_pieces;
    plan.halve_full_circles = halve_full_circles;
    plan.step_angle = radius > 0.0 ? degrees_of(1.0 / x_word_mult() / radius) : 360.0;
    for (int c = 1; c <= 2; ++c) {
        plan.start_units[c] = m.position_units[a[c]];
        plan.start_reals[c] = m.position[a[c]];
    }
    plan.start_radius = std::hypot(plan.start_reals[1] - m.position[a[3]], plan.start_reals[2] - m.position[a[4]]);
    plan.start_direction = travel_direction(plan.start_units[1], plan.start_units[2]);
    // The sweep from the start to the last point in the arc's sense; the
    // record announces an arc, so a last point at the start (a zero chord)
    // closes a whole circle, unless the start is the centre itself.
    plan.sweep = arc_point_travel(points, last_index, plan);
    const bool at_centre = plan.start_units[1] == m.position_units[a[3]] && plan.start_units[2] == m.position_units[a[4]];
    if (plan.sweep <= 0.0 && !at_centre) plan.sweep = 360.0;
}

double next_arc_piece_end(const arc_plan_t& plan, double from) {
    const double slack = plan.step_angle;
    double to = plan.sweep;
    if (plan.quadrant_pieces != 0) {
        // The next quadrant boundary: a direction that is a multiple of 90.
        const double k = std::floor((plan.start_direction + from + slack) / 90.0) + 1.0;
        const double boundary = 90.0 * k - plan.start_direction;
        if (boundary < plan.sweep - slack) to = boundary;
    } else if (plan.halve_full_circles != 0 && to - from >= 360.0 - slack) {
        // A radius cannot describe a whole circle: two half circles.
        to = from + 180.0;
    }
    return to;
}

void set_arc_position_at(const arc_plan_t& plan, double t) {
    const circle_state_t& cs = circle_state;
    const array1<int, 4>& a = cs.arc_plane_axes;
    motion_state_t& m = motion_state;
    const int c1 = m.position_units[a[3]], c2 = m.position_units[a[4]];
    const double rc1 = m.position[a[3]], rc2 = m.position[a[4]];
    const double r = plan.radius;
    const double mult_x = x_word_mult();
    const double turn = wrap_degrees(t);
    const double direction = plan.start_direction + t;
    const double quarter = direction / 90.0;
    int q1 = 0, q2 = 0;
    double r1 = 0.0, r2 = 0.0;
    if (turn < EXACT_ANGLE || turn > 360.0 - EXACT_ANGLE) {
        q1 = plan.start_units[1];
        q2 = plan.start_units[2];
        r1 = plan.start_reals[1];
        r2 = plan.start_reals[2];
    } else if (std::fabs(turn - 180.0) < EXACT_ANGLE) {
        // Half a turn on: the point opposite the start, exactly.
        q1 = 2 * c1 - plan.start_units[1];
        q2 = 2 * c2 - plan.start_units[2];
        r1 = 2.0 * rc1 - plan.start_reals[1];
        r2 = 2.0 * rc2 - plan.start_reals[2];
    } else if (std::fabs(quarter - std::round(quarter)) < EXACT_ANGLE) {
        // A quadrant boundary, one radius along a plane axis from the centre.
        long long k = std::llround(quarter);
        if (travel_turns_back()) k = -k;
        k = ((k % 4) + 4) % 4;
        const int ri = nearest_int(mult_x * r);
        q1 = c1;
        q2 = c2;
        r1 = rc1;
        r2 = rc2;
        switch (k) {
        case 0: q1 = c1 + ri; r1 = rc1 + r; break;
        case 1: q2 = c2 + ri; r2 = rc2 + r; break;
        case 2: q1 = c1 - ri; r1 = rc1 - r; break;
        default: q2 = c2 - ri; r2 = rc2 - r; break;
        }
    } else {
        const double phi = (travel_turns_back() ? -direction : direction) * PI / 180.0;
        const double dx = plan.start_radius * std::cos(phi), dy = plan.start_radius * std::sin(phi);
        r1 = rc1 + dx;
        r2 = rc2 + dy;
        q1 = nearest_int(mult_x * r1);
        q2 = nearest_int(mult_x * r2);
    }
    m.position_units[a[1]] = q1;
    m.position_units[a[2]] = q2;
    m.position[a[1]] = r1;
    m.position[a[2]] = r2;
}

void walk_arc_piece(std::span<const double> points, int last_index, int stride, const arc_plan_t& plan, double to,
                    int& walk) {
    const int last_piece = circle_state.arc_last_piece;
    for (; walk <= last_index; walk += stride) {
        if (last_piece == 0 && (walk == last_index || arc_point_travel(points, walk, plan) > to)) break;
        if (walk == 1)
            set_move_point(1, stride);
        else
            set_position_from_cutfile_point(points, walk);
        compute_increments();
        add_move_time();
        commit_current_position();
    }
    if (last_piece == 0) {
        set_arc_position_at(plan, to);
        compute_increments();
        add_move_time();
        commit_current_position();
    }
}

int arc_piece_radius(int r_value, int radius_word, double piece_sweep) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<int, 8>& inc = motion_state.increments;
    const double chord = std::hypot(static_cast<double>(inc[a[1]]), static_cast<double>(inc[a[2]])) / x_word_mult();
    const double mult_r = has_word(radius_word) ? MULT(radius_word) : 1.0;
    // The rounded end points may lie further apart than the radius allows:
    // no controller builds an arc whose radius is below half its chord.
    const double least = std::ceil(chord / 2.0 * mult_r - ROUNDING_SLACK);
    double magnitude = std::fabs(static_cast<double>(r_value));
    if (magnitude < least) magnitude = least;
    const int r = static_cast<int>(std::min(magnitude, static_cast<double>(INT_MAX)));
    return piece_sweep > 180.0 ? -r : r;
}

void set_arc_coordinate_word(int w, int axis) {
    if (!has_word(w)) return;
    const motion_state_t& m = motion_state;
    const int increment = m.increments[axis];
    if (increment != 0) setwrd(w, 0, SETWRD_REQUEST);
    if (get_state_flag(21) != 0) {
        setwrd(w, m.position_units[axis], SETWRD_SET);
        return;
    }
    // An increment equal to the one written last is a move all the same:
    // the word forgets it, as the straight moves' words do.
    if (increment != 0) setwrd(w, 0, SETWRD_FORGET);
    setwrd(w, increment, SETWRD_SET);
}

void set_arc_plane_words(int word1, int word2) {
    const array1<int, 4>& axes = circle_state.arc_plane_axes;
    const int plane_words[3] = {0, word1, word2};
    for (int c = 1; c <= 2; ++c) {
        const int w = plane_words[c];
        if (!has_word(w)) continue;
        set_arc_coordinate_word(w, axes[c]);
        if (get_intsp(20) != 0) {
            setwrd(w, 0, SETWRD_FORGET);
            setwrd(w, 0, SETWRD_REQUEST);
        }
        if (!is_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
    }
}

void request_arc_axis_words(int flag, int word1, int word2) {
    for (int w : {word1, word2}) {
        if (!has_word(w)) continue;
        const int value = word_output_state.word_value[w];
        if (flag != 0 ? value != 0 : value != word_output_state.word_previous[w]) setwrd(w, 0, SETWRD_REQUEST);
        if (!is_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
    }
}

void request_arc_centre_words(int flag, int word1, int word2) {
    for (int w : {word1, word2}) {
        if (!has_word(w)) continue;
        if (flag != 0) {
            setwrd(w, 0, SETWRD_FORGET);
            setwrd(w, 0, SETWRD_REQUEST);
        }
        if (!is_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
    }
}

void arcmov(std::span<const double> points, int count, int& status) {
    status = -1;
    circle_state_t& cs = circle_state;
    array1<int, 4>& axes = cs.arc_plane_axes;
    const array1<double, 5>& record = cs.circle_record;
    const int x_word = key_word(8), y_word = key_word(9), z_word = key_word(10);
    const int i_word = key_word(11), j_word = key_word(12), k_word = key_word(13);
    const double mult_x = MULT(x_word);
    const double u = 1.0 / mult_x;
    const double e = 0.99 * u;
    const double r = pass1_results.unit_factor * record[1];
    const int stride = get_state_flag(31) != 0 ? 6 : 3;
    if (count < 3 || static_cast<std::size_t>(count) > points.size()) {
        status = 0;
        return;
    }
    const int last_index = ((count - 3) / stride) * stride + 1;

    array1<int, 3> first_units, last_units;
    point3 first, last;
    machine_point(points, 1, first_units, first);
    machine_point(points, last_index, last_units, last);

    // The plane from the circle's axis, first match; the axial word carries
    // the rise of a helix.
    int plane_function = 0, axial = 0;
    int word1 = NO_WORD, word2 = NO_WORD, axial_word = NO_WORD, centre_word1 = NO_WORD, centre_word2 = NO_WORD;
    int suppressed = 0;
    if (std::fabs(record[4]) >= ARC_AXIS_TOLERANCE) {
        axes[1] = 1; axes[2] = 2; axes[3] = 4; axes[4] = 5; axial = 3;
        word1 = x_word; word2 = y_word; axial_word = z_word; centre_word1 = i_word; centre_word2 = j_word;
        plane_function = FUNCTION_XY_PLANE;
        suppressed = get_intsp(85);
    } else if (std::fabs(record[2]) >= ARC_AXIS_TOLERANCE) {
        axes[1] = 2; axes[2] = 3; axes[3] = 5; axes[4] = 6; axial = 1;
        word1 = y_word; word2 = z_word; axial_word = x_word; centre_word1 = j_word; centre_word2 = k_word;
        plane_function = FUNCTION_ZY_PLANE;
        suppressed = get_intsp(87);
    } else if (std::fabs(record[3]) >= ARC_AXIS_TOLERANCE) {
        axes[1] = 3; axes[2] = 1; axes[3] = 6; axes[4] = 4; axial = 2;
        word1 = z_word; word2 = x_word; axial_word = y_word; centre_word1 = k_word; centre_word2 = i_word;
        plane_function = FUNCTION_XZ_PLANE;
        suppressed = get_intsp(86);
    }
    cs.arc_reversed = (record[2] <= -ARC_AXIS_TOLERANCE || record[3] <= -ARC_AXIS_TOLERANCE ||
                       record[4] <= -ARC_AXIS_TOLERANCE)
                          ? 1
                          : 0;

    // A helix rises from the current position to the last point. An arc in
    // its plane must start in the plane of its first point.
    bool linear = plane_function == 0;
    int helix = 0;
    const array1<double, 6>& p = motion_state.position;
    const double start_axial = axial != 0 ? p[axial] : 0.0;
    if (!linear) {
        helix = rounded_distance(start_axial, last[axial], mult_x) > e ? 1 : 0;
        if (helix == 0) {
            const double d = rounded_distance(start_axial, first[axial], mult_x);
            const double exact = std::fabs(first[axial] - start_axial);
            if (d > e && exact > e) status = ARC_OFF_PLANE;
            if (d <= e && exact > e) linear = true;
        }
        // The start and the end must lie on one circle about the centre.
        const double start_radius = std::hypot(p[axes[1]] - p[axes[3]], p[axes[2]] - p[axes[4]]);
        const double end_radius =
            std::hypot(last[axes[1]] - p[axes[3]], last[axes[2]] - p[axes[4]]);
        if (std::fabs(start_radius - end_radius) > e) linear = true;
    }
    const bool arcs_allowed = !linear && suppressed == 0 && plane_code_set(plane_function);
    if (status == ARC_OFF_PLANE && !arcs_allowed) linear = true;
    if (linear) {
        cancel_plane_codes();
        output_linear_move();
        status = 0;
        return;
    }
    if (status == ARC_OFF_PLANE) return;

    cs.incremental_centre_mode = get_intsp(28) == 1 ? 1 : 0;
    cs.circle_record[5] = real_option(10) > 0.0 ? real_option(10) : u;
    const int radius_word = key_word(KEY_RADIUS);
    const int full_circle = get_intsp(27);
    arc_plan_t plan;
    plan_arc(points, last_index, r, full_circle == 0 ? 1 : 0, block_names_word(BLOCK_MOVE_CIRCLE, radius_word),
             plan);

    // A suppressed plane, or one the control cannot select: straight moves
    // within the chordal tolerance.
    if (!arcs_allowed) {
        cancel_plane_codes();
        output_arc_chords(points, last_index, plan, axial, start_axial, last[axial], helix, cs.circle_record[5]);
        clear_arc_centre();
        status = 0;
        return;
    }
    gset(plane_function, SETWRD_SET_REQUEST);

    set_circle_reference_label();
    const int radius_value = nearest_int(static_cast<double>(MULT(radius_word)) * r);
    cs.arc_quadrant_state[1] = arc_quadrant();
    cs.arc_quadrant_state[2] = cs.arc_quadrant_state[1];

    fedrat();
    setwrd(key_word(16), 0, SETWRD_REQUEST);
    const int circle_function = cs.arc_reversed != 0 ? FUNCTION_CIRCLE_CW : FUNCTION_CIRCLE_CCW;
    cs.arc_quadrant_state[4] = get_gcode_value(circle_function);
    if (cs.arc_quadrant_state[4] == UNSET_CODE && fcode_word(FUNCTION_CIRCLE_CW) == NO_WORD) issue_message(129);

    const int absolute = get_state_flag(21);
    const int angle_word = key_word(KEY_CIRCLE_ANGLE);
    cs.arc_last_piece = 0;
    double from = 0.0;
    int walk = 1;  // the next point to walk
    for (;;) {
        const double to = next_arc_piece_end(plan, from);
        cs.arc_last_piece = to >= plan.sweep ? 1 : 0;
        const double piece_sweep = to - from;
        gset(circle_function, SETWRD_SET_REQUEST);
        array1<double, 6> kept_previous = motion_state.previous_position;
        array1<int, 8> kept_previous_units = motion_state.previous_position_units;

        // Centre words, set without request.
        const int centre_words[3] = {0, centre_word1, centre_word2};
        for (int c = 1; c <= 2; ++c) {
            const int w = centre_words[c];
            if (!has_word(w)) continue;
            const double m = MULT(w);
            const int value =
                cs.incremental_centre_mode != 0
                    ? nearest_int((motion_state.previous_position[axes[c]] - motion_state.position[axes[c + 2]]) * m)
                    : nearest_int(m * motion_state.position[axes[c + 2]]);
            setwrd(w, value, SETWRD_SET);
        }

        // Walk the points that the piece passes; the record's last point
        // ends the last piece.
        for (; walk < last_index; walk += stride) {
            if (cs.arc_last_piece == 0 && arc_point_travel(points, walk, plan) > to) break;
            set_position_from_cutfile_point(points, walk);
            compute_increments();
            add_move_time();
            commit_current_position();
        }
        if (cs.arc_last_piece != 0) {
            set_position_from_cutfile_point(points, last_index);
        } else {
            set_arc_position_at(plan, to);
            if (helix != 0) set_helix_rise(axial, start_axial, last[axial], to, plan.sweep);
        }
        compute_increments();
        add_move_time();
        commit_current_position();

        if (cs.arc_last_piece != 0 && has_word(angle_word)) {
            const double end_angle = position_angle();
            const double m = MULT(angle_word);
            motion_state.position_units[7] = nearest_int(m * end_angle);
            setwrd(angle_word, absolute != 0 ? motion_state.position_units[7] : nearest_int(m * piece_sweep),
                   SETWRD_SET_REQUEST);
        }

        // The piece is one move from its start.
        for (int c = 1; c <= 3; ++c) {
            motion_state.previous_position[c] = kept_previous[c];
            motion_state.previous_position_units[c] = kept_previous_units[c];
        }
        compute_increments();

        // Flatness: the height of the piece over its chord in the plane.
        const array1<int, 8>& inc = motion_state.increments;
        const double chord = std::hypot(static_cast<double>(inc[axes[1]]), static_cast<double>(inc[axes[2]])) / mult_x;
        const double root = 1.0 - chord * chord / 4.0 / r / r;
        double h = r;
        if (piece_sweep > 180.0) {
            h = r * (1.0 + std::sqrt(std::max(root, 0.0)));
        } else if (r > 0.0 && root >= 0.0) {
            h = (1.0 - std::sqrt(root)) * r;
        }
        if (h <= cs.circle_record[5]) {
            // A straight line carries no circle function.
            gset(circle_function, SETWRD_CANCEL);
            const double length =
                std::sqrt(static_cast<double>(inc[1]) * inc[1] + static_cast<double>(inc[2]) * inc[2] +
                          static_cast<double>(inc[3]) * inc[3]) /
                mult_x;
            if (length >= u && (inc[1] != 0 || inc[2] != 0 || inc[3] != 0)) {
                set_xyz_words();
                gset(FUNCTION_LINEAR, SETWRD_SET_REQUEST);
                fedrat();
                add_move_time();
                set_reference_message(LABEL_LINEAR_MOVE);
                run_block(BLOCK_MOVE_LINEAR);
            }
        } else {
            set_arc_plane_words(word1, word2);
            // A helix piece also writes its rise.
            if (helix != 0 && has_word(axial_word)) {
                set_arc_coordinate_word(axial_word, axial);
                if (!is_modal(axial_word)) setwrd(axial_word, 0, SETWRD_REQUEST);
            }
            // Centre words by the incremental-centre rule.
            request_arc_axis_words(cs.incremental_centre_mode, centre_word1, centre_word2);
            fedrat();
            setwrd(radius_word, arc_piece_radius(radius_value, radius_word, piece_sweep), SETWRD_SET);
            run_block(BLOCK_MOVE_CIRCLE);
        }

        commit_current_position();
        if (cs.arc_last_piece != 0) {
            clear_arc_centre();
            status = 0;
            return;
        }
        from = to;
    }
}

// --- plane geometry -------------------------------------------------------------------

void arc_midpoint_from_tangent(const point3& a, const point3& b, const point3& c, point3& m, point3& n) {
    vector3 chord, tangent, normal, across, bc;
    for (int i = 1; i <= 3; ++i) {
        chord[i] = c[i] - a[i];
        tangent[i] = b[i] - a[i];
        bc[i] = b[i] - c[i];
    }
    cross_product(chord, tangent, normal);
    normalize_vector(normal);
    // Towards the side the start tangent turns to.
    cross_product(normal, chord, across);
    normalize_vector(across);
    const double k = vector_length(chord) / 2.0 * std::tan(vector_angle(chord, tangent) / 2.0);
    vector3 side;
    cross_product(bc, normal, side);
    for (int i = 1; i <= 3; ++i) {
        m[i] = (a[i] + c[i]) / 2.0 + k * across[i];
        n[i] = ((b[i] + c[i]) / 2.0 + k * side[i]) / 2.0;
    }
}

void circle_through_three_points_2d(const point3& p1, const point3& p2, const point3& p3, point2& centre,
                                    double& radius, int& clockwise, int& status) {
    const double gx = (p1[1] + p2[1] + p3[1]) / 3.0;
    const double gy = (p1[2] + p2[2] + p3[2]) / 3.0;
    const double x1 = p1[1] - gx, y1 = p1[2] - gy;
    const double x2 = p2[1] - gx, y2 = p2[2] - gy;
    const double x3 = p3[1] - gx, y3 = p3[2] - gy;
    const double s = (x2 - x1) * (y3 - y1) - (x3 - x1) * (y2 - y1);
    const double m = std::max({x1 * x1 + y1 * y1, x2 * x2 + y2 * y2, x3 * x3 + y3 * y3});
    status = 1;
    clockwise = 0;
    radius = 0.0;
    if (m <= 0.0 || s / m == 0.0) return;
    const double q1 = x1 * x1 + y1 * y1, q2 = x2 * x2 + y2 * y2, q3 = x3 * x3 + y3 * y3;
    const double d = 2.0 * (x1 * (y2 - y3) + x2 * (y3 - y1) + x3 * (y1 - y2));
    const double cx = (q1 * (y2 - y3) + q2 * (y3 - y1) + q3 * (y1 - y2)) / d;
    const double cy = (q1 * (x3 - x2) + q2 * (x1 - x3) + q3 * (x2 - x1)) / d;
    centre[1] = cx + gx;
    centre[2] = cy + gy;
    radius = (std::hypot(x1 - cx, y1 - cy) + std::hypot(x2 - cx, y2 - cy) + std::hypot(x3 - cx, y3 - cy)) / 3.0;
    clockwise = s < 0.0 ? 1 : 0;
    status = 0;
}

void point_with_z(double x, double y, double value, point3& out) {
    out[1] = x;
    out[2] = y;
    out[3] = value;
}

void intersect_lines_2d(const point3& line1, const point3& line2, point2& point, int& status) {
    const double s = std::sin(line1[3] - line2[3]);
    if (std::fabs(s) <= 0.0001) {
        status = -1;
        return;
    }
    const double c1 = std::cos(line1[3]), s1 = std::sin(line1[3]);
    const double c2 = std::cos(line2[3]), s2 = std::sin(line2[3]);
    const double dx = line2[1] - line1[1], dy = line2[2] - line1[2];
    // Parameters along either line; the one with the larger numerator is
    // taken for the better conditioned result.
    const double n1 = dx * s2 - dy * c2;
    const double n2 = dx * s1 - dy * c1;
    const double den = c1 * s2 - s1 * c2;
    if (std::fabs(n1) >= std::fabs(n2)) {
        const double t = n1 / den;
        point[1] = line1[1] + t * c1;
        point[2] = line1[2] + t * s1;
    } else {
        const double t = n2 / den;
        point[1] = line2[1] + t * c2;
        point[2] = line2[2] + t * s2;
    }
    status = 1;
}

void chord_line_2d(const point3& p1, const point3& p2, point3& line, int& status) {
    line[1] = (p1[1] + p2[1]) / 2.0;
    line[2] = (p1[2] + p2[2]) / 2.0;
    line[3] = std::atan2(p2[2] - p1[2], p2[1] - p1[1]);
    status = std::hypot(p2[1] - p1[1], p2[2] - p1[2]) <= 0.0001 ? -1 : 1;
}

void helix_quarter_points(double a, double b, double c, double& k, double& x1, double& y1, double& x2,
                          double& y2) {
    k = std::sqrt(2.0) - 1.0;
    const double w = 2.0 * PI * a / c;
    x1 = b * std::cos(w);
    y1 = b * std::sin(w);
    x2 = b * k * std::cos(w + PI / 4.0);
    y2 = b * k * std::sin(w + PI / 4.0);
}

// --- helix blocks -----------------------------------------------------------------------

void set_helix_point_words(const point3& point, int x_word, int y_word, int z_word) {
    std::array<double, 3> values = {point[1], point[2], point[3]};
    set_position_from_point(std::span<const double>(values.data(), values.size()), 1, 0);
    compute_increments();
    const int words[4] = {0, x_word, y_word, z_word};
    for (int c = 1; c <= 3; ++c) set_arc_coordinate_word(words[c], c);
}

void output_helix_arc(const point3& point, double centre1, double centre2, int x_word, int y_word, int z_word,
                      int axis_word1, int axis_word2, int centre_word1, int centre_word2, int radius_word) {
    (void)radius_word;  // set by the caller before the block
    circle_state.incremental_centre_mode = get_intsp(28) == 1 ? 1 : 0;
    if (has_word(centre_word1)) setwrd(centre_word1, nearest_int(centre1), SETWRD_SET);
    if (has_word(centre_word2)) setwrd(centre_word2, nearest_int(centre2), SETWRD_SET);
    set_helix_point_words(point, x_word, y_word, z_word);
    request_arc_centre_words(circle_state.incremental_centre_mode, centre_word1, centre_word2);
    request_arc_axis_words(get_intsp(20), axis_word1, axis_word2);
    for (int w : {x_word, y_word, z_word}) {
        if (has_word(w) && !is_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
    }
    fedrat();
    run_block(BLOCK_MOVE_CIRCLE);
}

}  // namespace kv
