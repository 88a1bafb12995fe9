// Circular moves: the plane from the circle's axis, arcs and helices cut into
// pieces (at quadrant boundaries, a turn at most, or half circles for a
// radius), end-point, centre, radius and angle words, arcs whose ends the CAM
// rounded written about a centre that fits both, straight moves within the
// chordal tolerance where an arc cannot be written, and the fall-back to
// linear moves; the plane geometry and helix blocks of the helical cycles.
#include <algorithm>
#include <array>
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
constexpr int KEY_X = 8;                 // "x coordinate"; Y and Z follow
constexpr int FUNCTION_LINEAR = 2;
// "integer 125" = 1: the control's arc block takes no helix (a controller
// that programs one only in a form of its own), so a helix is written as
// straight moves within the chordal tolerance.
constexpr int HELIX_AS_LINES_SETTING = 125;
constexpr double PI = 3.14159265358979323846;
constexpr double EXACT_ANGLE = 1e-9;        // degrees: a piece end on a quadrant boundary or half a turn on
constexpr double MAX_CHORD_ANGLE = 90.0;     // degrees of arc of one straight move at most
constexpr double WHOLE_TURN = 360.0;
// Straight moves of one arc written within the chordal tolerance at most: a
// huge radius against a fine resolution would otherwise give an endless tape.
constexpr int MAX_ARC_CHORDS = 10000;
constexpr double ROUNDING_SLACK = 1e-9;
// The ends of an arc that lie at distances from its centre differing by more
// than the resolution, but by no more than this many resolutions or this
// part of the radius, are ends that the CAM rounded: the arc is written about
// a centre that fits both. Ends further apart are no arc about that centre.
constexpr double ROUNDED_ENDS_RESOLUTIONS = 5.0;
constexpr double ROUNDED_ENDS_PART_OF_RADIUS = 1e-4;


double degrees_of(double radians) { return radians * 180.0 / PI; }

// The chordal tolerance of the control (real 10), else the given resolution.
double chordal_tolerance(double resolution) { return real_option(10) > 0.0 ? real_option(10) : resolution; }

// Straight moves enough for an arc of sweep degrees and radius r to stay
// within the tolerance of it, each of MAX_CHORD_ANGLE degrees at most.
int chord_count(double sweep, double r, double tolerance) {
    double step = MAX_CHORD_ANGLE;
    if (r > tolerance && tolerance > 0.0) step = std::min(step, 2.0 * degrees_of(std::acos(1.0 - tolerance / r)));
    return static_cast<int>(std::clamp(std::ceil(sweep / step - EXACT_ANGLE), 1.0, static_cast<double>(MAX_ARC_CHORDS)));
}

double wrap_degrees(double a) {
    a = std::fmod(a, 360.0);
    return a < 0.0 ? a + 360.0 : a;
}

// Coordinate c (1, 2) of the plane of a word integer position, from the
// centre, in output units: each plane axis is kept at its own resolution.
double plane_offset(const array1<int, 8>& pu, int c) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    return (static_cast<double>(pu[a[c]]) - pu[a[c + 2]]) / axis_mult(a[c]);
}

// The angle of the current position about the centre, in degrees, from the
// integer positions; turned by half a circle for a clockwise arc.
double position_angle() {
    const array1<int, 8>& pu = motion_state.position_units;
    double angle = degrees_of(std::atan2(plane_offset(pu, 2), plane_offset(pu, 1)));
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

// A direction in the plane (its first and second coordinate from the
// centre) as travel from the plane's first axis in the arc's sense.
double travel_of_direction(double d1, double d2) {
    const double angle = degrees_of(std::atan2(d2, d1));
    return wrap_degrees(travel_turns_back() ? -angle : angle);
}

// The direction of a plane point (integers) from the centre.
double travel_direction(int p1, int p2) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<int, 8>& pu = motion_state.position_units;
    return travel_of_direction((static_cast<double>(p1) - pu[a[3]]) / axis_mult(a[1]),
                               (static_cast<double>(p2) - pu[a[4]]) / axis_mult(a[2]));
}

// The axis across the plane.
int axial_axis() {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    return 6 - a[1] - a[2];
}

// The coarser resolution of the plane's two axes.
double plane_resolution() {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    return std::max(1.0 / axis_mult(a[1]), 1.0 / axis_mult(a[2]));
}

// The distance of a point from the centre, in the plane.
double plane_radius(const array1<double, 3>& p) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<double, 6>& c = motion_state.position;
    return std::hypot(p[a[1]] - c[a[3]], p[a[2]] - c[a[4]]);
}

// Point `index` of a record's values in machine units (integers and reals).
void machine_point(std::span<const double> points, int index, array1<int, 3>& units, point3& out) {
    point3 raw;
    read_point(points, index, 1.0, raw);
    to_machine_units(raw, units, out);
}

// The turn in the arc's sense of a step from point p to point q.
double step_travel(const arc_plan_t& plan, const array1<double, 3>& p, const array1<double, 3>& q) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<double, 6>& c = motion_state.position;
    if (std::hypot(q[a[1]] - p[a[1]], q[a[2]] - p[a[2]]) <= plan.plane_slack) {
        const int k = axial_axis();
        return std::fabs(q[k] - p[k]) > plan.axial_slack ? WHOLE_TURN : 0.0;
    }
    const double from = travel_of_direction(p[a[1]] - c[a[3]], p[a[2]] - c[a[4]]);
    const double to = travel_of_direction(q[a[1]] - c[a[3]], q[a[2]] - c[a[4]]);
    return wrap_degrees(to - from);
}

// The axial coordinate of a helix `done` of the way `whole` from its start
// to its end.
void set_helix_rise(int axial, double start, double end, double done, double whole) {
    const double a = start + (end - start) * done / whole;
    motion_state.position[axial] = a;
    motion_state.position_units[axial] = word_integer(a, axis_mult(axial));
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
// within the chordal tolerance, ending at the record's last point. Their
// points run from the start's distance from the centre to the end's.
void output_arc_chords(std::span<const double> points, int last_index, const arc_plan_t& plan, int axial,
                       double rise_start, double rise_end, int helix, double tolerance) {
    const int n = chord_count(plan.sweep, std::max(plan.start_radius, plan.end_radius), tolerance);
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

// The ends of an arc that the CAM rounded: the centre moves across the chord
// onto the line halfway between the start and the end as written (their word
// integers), to the point of that line nearest the centre given, so that
// both ends lie on the arc written. The radius about it is returned.
double fit_centre_to_ends(const array1<int, 8>& start_units, const array1<int, 3>& end_units) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    motion_state_t& m = motion_state;
    double s[3], e[3], c[3];
    for (int k = 1; k <= 2; ++k) {
        const double mult = axis_mult(a[k]);
        s[k] = start_units[a[k]] / mult;
        e[k] = end_units[a[k]] / mult;
        c[k] = m.position[a[k + 2]];
    }
    const double d1 = e[1] - s[1], d2 = e[2] - s[2];
    const double chord = std::hypot(d1, d2);
    if (chord > 0.0) {
        // Along the chord's normal from its middle.
        const double n1 = -d2 / chord, n2 = d1 / chord;
        const double m1 = (s[1] + e[1]) / 2.0, m2 = (s[2] + e[2]) / 2.0;
        const double along = (c[1] - m1) * n1 + (c[2] - m2) * n2;
        c[1] = m1 + along * n1;
        c[2] = m2 + along * n2;
    }
    for (int k = 1; k <= 2; ++k) {
        m.position[a[k + 2]] = c[k];
        m.position_units[a[k + 2]] = word_integer(c[k], axis_mult(a[k]));
    }
    return std::hypot(s[1] - c[1], s[2] - c[2]);
}

}  // namespace

bool helix_as_lines() { return get_intsp(HELIX_AS_LINES_SETTING) == 1; }

int arc_centre_value(int w, int axis, int start_units, int centre_units, double centre) {
    if (circle_state.incremental_centre_mode != 0) return word_increment(start_units, centre_units, axis, w);
    return word_integer(centre, MULT(w));
}

void set_integer_arc_centre_words(int centre_word1, int centre_word2) {
    const motion_state_t& m = motion_state;
    const array1<int, 4>& axes = circle_state.arc_plane_axes;
    const int centre_words[3] = {0, centre_word1, centre_word2};
    for (int c = 1; c <= 2; ++c) {
        const int w = centre_words[c];
        if (!has_word(w)) continue;
        setwrd(w,
               arc_centre_value(w, axes[c], m.previous_position_units[axes[c]], m.position_units[axes[c + 2]],
                                m.position[axes[c + 2]]),
               SETWRD_SET);
    }
}

void output_helix_as_lines(const point3& centre, const point3& end, int first, int second, int axial) {
    const array1<double, 6>& p = motion_state.position;
    const double start_angle = std::atan2(p[second] - centre[second], p[first] - centre[first]);
    const double sweep_degrees =
        wrap_degrees(degrees_of(std::atan2(end[second] - centre[second], end[first] - centre[first]) - start_angle));
    // An end at the start's place is a whole turn.
    const double sweep = (sweep_degrees < EXACT_ANGLE ? WHOLE_TURN : sweep_degrees) * PI / 180.0;
    const double r = std::hypot(p[first] - centre[first], p[second] - centre[second]);
    const double resolution = std::max(1.0 / axis_mult(first), 1.0 / axis_mult(second));
    const int n = chord_count(degrees_of(sweep), r, chordal_tolerance(resolution));
    const double start_axial = p[axial];
    std::array<double, 3> values{};
    for (int i = 1; i <= n; ++i) {
        if (i == n) {
            for (int k = 1; k <= 3; ++k) values[static_cast<std::size_t>(k - 1)] = end[k];
        } else {
            const double a = start_angle + sweep * i / n;
            values[static_cast<std::size_t>(first - 1)] = centre[first] + r * std::cos(a);
            values[static_cast<std::size_t>(second - 1)] = centre[second] + r * std::sin(a);
            values[static_cast<std::size_t>(axial - 1)] = start_axial + (end[axial] - start_axial) * i / n;
        }
        set_position_from_point(std::span<const double>(values.data(), values.size()), 1, 0);
        output_arc_chord();
    }
}

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

void start_arc_walk(arc_walk_t& walk) {
    walk.next = 1;
    walk.travel = 0.0;
    walk.ahead_index = 0;
    for (int k = 1; k <= 3; ++k) walk.last[k] = motion_state.position[k];
}

double peek_arc_walk(std::span<const double> points, const arc_plan_t& plan, arc_walk_t& walk) {
    if (walk.ahead_index != walk.next) {
        array1<int, 3> units;
        machine_point(points, walk.next, units, walk.ahead);
        walk.ahead_travel = walk.travel + step_travel(plan, walk.last, walk.ahead);
        walk.ahead_index = walk.next;
    }
    return walk.ahead_travel;
}

void advance_arc_walk(std::span<const double> points, const arc_plan_t& plan, arc_walk_t& walk) {
    walk.travel = peek_arc_walk(points, plan, walk);
    walk.last = walk.ahead;
    walk.next += plan.stride;
}

void plan_arc(std::span<const double> points, int last_index, int stride, double radius, int quadrant_pieces,
              int halve_full_circles, arc_plan_t& plan) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const motion_state_t& m = motion_state;
    plan.radius = radius;
    plan.quadrant_pieces = quadrant_pieces;
    plan.halve_full_circles = halve_full_circles;
    plan.stride = stride;
    const double resolution = plane_resolution();
    plan.step_angle = radius > 0.0 ? degrees_of(resolution / radius) : 360.0;
    plan.plane_slack = 0.99 * resolution;
    plan.axial_slack = 0.99 / axis_mult(axial_axis());
    for (int c = 1; c <= 2; ++c) {
        plan.start_units[c] = m.position_units[a[c]];
        plan.start_reals[c] = m.position[a[c]];
    }
    plan.start_radius = std::hypot(plan.start_reals[1] - m.position[a[3]], plan.start_reals[2] - m.position[a[4]]);
    plan.start_direction = travel_direction(plan.start_units[1], plan.start_units[2]);
    // The sweep: every turn from the start through the points to the last.
    arc_walk_t walk;
    start_arc_walk(walk);
    while (walk.next <= last_index) advance_arc_walk(points, plan, walk);
    plan.sweep = walk.travel;
    plan.end_radius = plane_radius(walk.last);
    // An arc that ends where it started on the tape makes whole turns: the
    // record announces an arc, so points that never leave the start (a zero
    // chord) close a whole circle, unless the start is the centre itself.
    // Points that move less than the resolution from the start to an end
    // apart from it turn by the direction between the two.
    array1<int, 3> end_units;
    point3 end;
    machine_point(points, last_index, end_units, end);
    const bool at_centre = plan.start_units[1] == m.position_units[a[3]] && plan.start_units[2] == m.position_units[a[4]];
    const bool closed = end_units[a[1]] == plan.start_units[1] && end_units[a[2]] == plan.start_units[2];
    if (!at_centre && closed) {
        plan.sweep = WHOLE_TURN * std::max(1.0, std::round(plan.sweep / WHOLE_TURN));
    } else if (!at_centre && plan.sweep <= 0.0) {
        plan.sweep = wrap_degrees(travel_direction(end_units[a[1]], end_units[a[2]]) - plan.start_direction);
    }
}

double next_arc_piece_end(const arc_plan_t& plan, double from) {
    const double slack = plan.step_angle;
    double to = plan.sweep;
    if (plan.quadrant_pieces != 0) {
        // The next quadrant boundary: a direction that is a multiple of 90.
        const double k = std::floor((plan.start_direction + from + slack) / 90.0) + 1.0;
        const double boundary = 90.0 * k - plan.start_direction;
        if (boundary < plan.sweep - slack) to = boundary;
    } else {
        // No block turns more than once: a helix or an arc of several turns
        // is written a turn at a time.
        if (to - from > WHOLE_TURN + slack) to = from + WHOLE_TURN;
        // A radius cannot describe a whole circle: two half circles.
        if (plan.halve_full_circles != 0 && to - from >= WHOLE_TURN - slack) to = from + 180.0;
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
        q1 = word_integer(2.0 * c1 - plan.start_units[1], 1.0);
        q2 = word_integer(2.0 * c2 - plan.start_units[2], 1.0);
        r1 = 2.0 * rc1 - plan.start_reals[1];
        r2 = 2.0 * rc2 - plan.start_reals[2];
    } else if (std::fabs(quarter - std::round(quarter)) < EXACT_ANGLE) {
        // A quadrant boundary, one radius along a plane axis from the centre.
        long long k = std::llround(quarter);
        if (travel_turns_back()) k = -k;
        k = ((k % 4) + 4) % 4;
        q1 = c1;
        q2 = c2;
        r1 = rc1;
        r2 = rc2;
        switch (k) {
        case 0: q1 = word_integer(c1 + static_cast<double>(word_integer(r, axis_mult(a[1]))), 1.0); r1 = rc1 + r; break;
        case 1: q2 = word_integer(c2 + static_cast<double>(word_integer(r, axis_mult(a[2]))), 1.0); r2 = rc2 + r; break;
        case 2: q1 = word_integer(c1 - static_cast<double>(word_integer(r, axis_mult(a[1]))), 1.0); r1 = rc1 - r; break;
        default: q2 = word_integer(c2 - static_cast<double>(word_integer(r, axis_mult(a[2]))), 1.0); r2 = rc2 - r; break;
        }
    } else {
        // Between the start's distance from the centre and the end's.
        const double radius = plan.sweep > 0.0
                                  ? plan.start_radius + (plan.end_radius - plan.start_radius) * std::min(t / plan.sweep, 1.0)
                                  : plan.start_radius;
        const double phi = (travel_turns_back() ? -direction : direction) * PI / 180.0;
        r1 = rc1 + radius * std::cos(phi);
        r2 = rc2 + radius * std::sin(phi);
        q1 = word_integer(r1, axis_mult(a[1]));
        q2 = word_integer(r2, axis_mult(a[2]));
    }
    m.position_units[a[1]] = q1;
    m.position_units[a[2]] = q2;
    m.position[a[1]] = r1;
    m.position[a[2]] = r2;
}

void walk_arc_piece(std::span<const double> points, int last_index, const arc_plan_t& plan, double to,
                    arc_walk_t& walk) {
    const int last_piece = circle_state.arc_last_piece;
    while (walk.next <= last_index) {
        if (last_piece == 0 && (walk.next == last_index || peek_arc_walk(points, plan, walk) > to)) break;
        if (walk.next == 1)
            set_move_point(1, plan.stride);
        else
            set_position_from_cutfile_point(points, walk.next);
        advance_arc_walk(points, plan, walk);
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
    const double chord = std::hypot(static_cast<double>(inc[a[1]]) / axis_mult(a[1]),
                                    static_cast<double>(inc[a[2]]) / axis_mult(a[2]));
    const double mult_r = has_word(radius_word) ? MULT(radius_word) : 1.0;
    // The rounded end points may lie further apart than the radius allows:
    // no controller builds an arc whose radius is below half its chord.
    const double least = std::ceil(chord / 2.0 * mult_r - ROUNDING_SLACK);
    double magnitude = std::fabs(static_cast<double>(r_value));
    if (magnitude < least) magnitude = least;
    if (!word_value_fits(magnitude)) stop_value_beyond_word();
    const int r = static_cast<int>(magnitude);
    return piece_sweep > 180.0 ? -r : r;
}

void set_arc_coordinate_word(int w, int axis) {
    if (!has_word(w)) return;
    // An arc's words are set one by one: it takes the mode in force.
    settle_data_mode(false);
    const motion_state_t& m = motion_state;
    const int increment = m.increments[axis];
    if (increment != 0) setwrd(w, 0, SETWRD_REQUEST);
    if (get_state_flag(21) != 0) {
        setwrd(w, m.position_units[axis], SETWRD_SET);
        return;
    }
    // An increment equal to the one written last is a move all the same:
    // the word forgets it, as the straight moves' words do. A word of a
    // resolution of its own takes the difference of both ends at it.
    if (increment != 0) setwrd(w, 0, SETWRD_FORGET);
    setwrd(w,
           MULT(w) != axis_mult(axis)
               ? word_increment(m.position_units[axis], m.previous_position_units[axis], axis, w)
               : increment,
           SETWRD_SET);
}

namespace {

// The modal test of a coordinate word reads the word of its absolute key,
// also for an incremental word, as the straight moves' words do.
bool coordinate_word_modal(int w) {
    const int a = coordinate_axis_of_word(w);
    return is_modal(a != 0 ? key_word(KEY_X + a - 1) : w);
}

}  // namespace

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
        if (!coordinate_word_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
    }
}

void request_arc_axis_words(int flag, int word1, int word2) {
    for (int w : {word1, word2}) {
        if (!has_word(w)) continue;
        const int value = word_output_state.word_value[w];
        if (flag != 0 ? value != 0 : value != word_output_state.word_previous[w]) setwrd(w, 0, SETWRD_REQUEST);
        if (!coordinate_word_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
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
    // The coordinate words of the mode: an incremental program of a control
    // with incremental words writes the arc's increments in those, as its
    // straight moves do.
    const int x_word = coordinate_word(1), y_word = coordinate_word(2), z_word = coordinate_word(3);
    const int i_word = key_word(11), j_word = key_word(12), k_word = key_word(13);
    double r = pass1_results.unit_factor * record[1];
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
    bool chords = false;          // no arc about the centre: straight moves along it
    bool rounded_ends = false;    // an arc whose ends the CAM rounded
    int helix = 0;
    const array1<double, 6>& p = motion_state.position;
    const double start_axial = axial != 0 ? p[axial] : 0.0;
    if (!linear) {
        const double axial_mult = axis_mult(axial);
        const double e_axial = 0.99 / axial_mult;
        helix = rounded_distance(start_axial, last[axial], axial_mult) > e_axial ? 1 : 0;
        if (helix == 0) {
            const double d = rounded_distance(start_axial, first[axial], axial_mult);
            const double exact = std::fabs(first[axial] - start_axial);
            if (d > e_axial && exact > e_axial) status = ARC_OFF_PLANE;
            if (d <= e_axial && exact > e_axial) linear = true;
        }
        // The start and the end must lie on one circle about the centre;
        // ends a few resolutions off it are ends the CAM rounded.
        point3 start;
        for (int k = 1; k <= 3; ++k) start[k] = p[k];
        const double start_radius = plane_radius(start), end_radius = plane_radius(last);
        const double mismatch = std::fabs(start_radius - end_radius);
        if (mismatch > 0.99 * plane_resolution()) {
            const double rounding = std::max(ROUNDED_ENDS_RESOLUTIONS * plane_resolution(),
                                             ROUNDED_ENDS_PART_OF_RADIUS * std::max(start_radius, end_radius));
            if (mismatch <= rounding)
                rounded_ends = true;
            else
                chords = true;
        }
    }
    const bool arcs_allowed = !linear && !chords && suppressed == 0 && plane_code_set(plane_function) &&
                              !(helix != 0 && helix_as_lines());
    if (status == ARC_OFF_PLANE && !arcs_allowed) linear = true;
    if (linear) {
        cancel_plane_codes();
        output_linear_move();
        status = 0;
        return;
    }
    if (status == ARC_OFF_PLANE) return;

    if (rounded_ends && arcs_allowed) r = fit_centre_to_ends(motion_state.position_units, last_units);
    cs.incremental_centre_mode = get_intsp(28) == 1 ? 1 : 0;
    cs.circle_record[5] = chordal_tolerance(plane_resolution());
    const int radius_word = key_word(KEY_RADIUS);
    const int full_circle = get_intsp(27);
    arc_plan_t plan;
    plan_arc(points, last_index, stride, r, full_circle == 0 ? 1 : 0,
             block_names_word(BLOCK_MOVE_CIRCLE, radius_word), plan);

    // A suppressed plane, one the control cannot select, a helix the control
    // writes no arcs for, or ends that lie on no circle about the centre:
    // straight moves within the chordal tolerance.
    if (!arcs_allowed) {
        cancel_plane_codes();
        output_arc_chords(points, last_index, plan, axial, start_axial, last[axial], helix, cs.circle_record[5]);
        clear_arc_centre();
        status = 0;
        return;
    }
    gset(plane_function, SETWRD_SET_REQUEST);

    set_circle_reference_label();
    const int radius_value = word_integer(r, MULT(radius_word));
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
    arc_walk_t walk;
    start_arc_walk(walk);
    for (;;) {
        const double to = next_arc_piece_end(plan, from);
        cs.arc_last_piece = to >= plan.sweep ? 1 : 0;
        const double piece_sweep = to - from;
        gset(circle_function, SETWRD_SET_REQUEST);
        array1<double, 6> kept_previous = motion_state.previous_position;
        array1<int, 8> kept_previous_units = motion_state.previous_position_units;

        set_integer_arc_centre_words(centre_word1, centre_word2);

        // Walk the points that the piece passes; the record's last point
        // ends the last piece.
        while (walk.next < last_index) {
            if (cs.arc_last_piece == 0 && peek_arc_walk(points, plan, walk) > to) break;
            set_position_from_cutfile_point(points, walk.next);
            advance_arc_walk(points, plan, walk);
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
        const double chord = std::hypot(static_cast<double>(inc[axes[1]]) / axis_mult(axes[1]),
                                        static_cast<double>(inc[axes[2]]) / axis_mult(axes[2]));
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
            if (inc[1] != 0 || inc[2] != 0 || inc[3] != 0) {
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
                if (!coordinate_word_modal(axial_word)) setwrd(axial_word, 0, SETWRD_REQUEST);
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
        if (has_word(w) && !coordinate_word_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
    }
    fedrat();
    run_block(BLOCK_MOVE_CIRCLE);
}

}  // namespace kv
