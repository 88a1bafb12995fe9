// Splines: a GOTO record of points on a curve written as polynomial segments
// (coefficient words per axis), as a cubic B-spline (control points with
// knots) or as a B-spline of circular arcs (control points, knots, weights).
#include <algorithm>
#include <cmath>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

spline_state_t spline_state;

namespace {

constexpr int BLOCK_MOVE_LINEAR = 11;
constexpr int BLOCK_MOVE_SPLINE = 21;
constexpr int FUNCTION_SPLINE = 36;
constexpr int FUNCTION_SPLINE_START = 61;
constexpr int FUNCTION_SPLINE_END = 62;
constexpr int KEY_KNOT = 70;
constexpr int KEY_WEIGHT = 77;
constexpr int KEY_KNOT_FORGET = 78;
constexpr int POLYNOMIAL_SPLINE = 1;
constexpr int BSPLINE = 2;
constexpr double SPLINE_EPSILON = 0.0001;
constexpr double KINK_COSINE = 0.9999;

// Coefficient words of the polynomial form: [degree 0..5][axis 1..3].
constexpr int COEFFICIENT_KEYS[6][3] = {
    {58, 62, 66}, {59, 63, 67}, {60, 64, 68}, {61, 65, 69}, {71, 73, 75}, {72, 74, 76},
};

bool function_has_word(int n) { return has_word(fcode_word(n)); }

void start_spline_functions() {
    output_pending_codes();
    if (function_has_word(FUNCTION_SPLINE_START)) gset(FUNCTION_SPLINE_START, SETWRD_SET_REQUEST);
    if (function_has_word(FUNCTION_SPLINE)) gset(FUNCTION_SPLINE, SETWRD_SET_REQUEST);
}

void end_spline_function() {
    if (function_has_word(FUNCTION_SPLINE_END)) gset(FUNCTION_SPLINE_END, SETWRD_SET_REQUEST);
}

// Point p (1-based) of column 1 in output units.
void buffer_point(int p, array1<int, 3>& units, point3& out) {
    const point_column& column = point_buffer.column[POINT_COLUMN_RAW];
    point3 raw;
    for (int c = 1; c <= 3; ++c) raw[c] = column[3 * (p - 1) + c];
    to_machine_units(raw, units, out);
}

point3 output_point(const point3& raw) {
    array1<int, 3> units;
    point3 out;
    to_machine_units(raw, units, out);
    return out;
}

point3 raw_point(int p) {
    const point_column& column = point_buffer.column[POINT_COLUMN_RAW];
    point3 raw;
    for (int c = 1; c <= 3; ++c) raw[c] = column[3 * (p - 1) + c];
    return raw;
}

// The axis words set and requested at a point in output units; with forget
// their last values are forgotten first.
void set_axis_words(const point3& p, int forget) {
    for (int c = 1; c <= 3; ++c) {
        const int w = key_word(7 + c);
        if (!has_word(w)) continue;
        if (forget != 0) setwrd(w, 0, SETWRD_FORGET);
        setwrd(w, word_integer(p[c], axis_mult(c)), SETWRD_SET_REQUEST);
    }
}

void cancel_axis_words() {
    for (int c = 1; c <= 3; ++c) {
        const int w = key_word(7 + c);
        if (has_word(w)) setwrd(w, 0, SETWRD_CANCEL);
    }
}

void set_word(int key, int value) {
    const int w = key_word(key);
    if (has_word(w)) setwrd(w, value, SETWRD_SET_REQUEST);
}

double word_mult(int key) {
    const int w = key_word(key);
    return has_word(w) ? MULT(w) : 1.0;
}

void make_position(const point3& p) {
    std::array<double, 3> values = {p[1], p[2], p[3]};
    set_position_from_point(std::span<const double>(values.data(), values.size()), 1, 0);
}

void commit_move() {
    compute_increments();
    add_move_time();
    commit_current_position();
}

// A spline starts at its first point. When the machine stands elsewhere
// (the point differs from where the tape last put it, or an axis moved
// without a line), a linear move takes it there first: the spline's blocks
// start from that point and would not write it.
void move_to_spline_start() {
    array1<int, 3> units;
    point3 start;
    buffer_point(1, units, start);
    const motion_state_t& m = motion_state;
    for (int c = 1; c <= 3; ++c) {
        if (units[c] != m.previous_position_units[c] || m.unwritten_axes[c] != 0) {
            output_linear_move_to(1);
            return;
        }
    }
}

double distance(const point3& a, const point3& b) {
    return std::sqrt((a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]) + (a[3] - b[3]) * (a[3] - b[3]));
}

}  // namespace

void dispatch_spline() {
    const int form = std::abs(get_intsp(76)) / 1000;
    if (form == POLYNOMIAL_SPLINE) {
        output_polynomial_spline(real_option(17), real_option(18));
    } else if (form == BSPLINE && pending_move_flags.spline_a_pending != 0) {
        output_cubic_bspline(real_option(17), real_option(18));
    } else if (form == BSPLINE && pending_move_flags.spline_b_pending != 0) {
        output_arc_bspline();
    } else if (form != BSPLINE) {
        output_linear_move();
    }
}

int polynomial_coefficients(double u0, double u1, std::span<const double> values, int n,
                            array1<double, 6>& coefficients) {
    coefficients.fill(0.0);
    if ((n != 3 && n != 5) || values.size() < static_cast<std::size_t>(n + 1)) return 1;
    double y[6] = {};
    for (int j = 0; j <= n; ++j) y[j] = u0 <= u1 ? values[static_cast<std::size_t>(j)] : values[static_cast<std::size_t>(n - j)];
    array1<double, 6>& c = coefficients;
    if (n == 3) {
        c[1] = y[0];
        c[2] = (2 * y[3] - 9 * y[2] + 18 * y[1] - 11 * y[0]) / 2;
        c[3] = 4.5 * (2 * y[0] - 5 * y[1] + 4 * y[2] - y[3]);
        c[4] = 4.5 * (y[3] - 3 * y[2] + 3 * y[1] - y[0]);
    } else {
        c[1] = y[0];
        c[2] = (300 * y[1] - 137 * y[0] - 300 * y[2] + 200 * y[3] - 75 * y[4] + 12 * y[5]) / 12;
        c[3] = (1125 * y[0] - 3850 * y[1] + 5350 * y[2] - 3900 * y[3] + 1525 * y[4] - 250 * y[5]) / 24;
        c[4] = (8875 * y[1] - 2125 * y[0] - 14750 * y[2] + 12250 * y[3] - 5125 * y[4] + 875 * y[5]) / 24;
        c[5] = (1875 * y[0] - 8750 * y[1] + 16250 * y[2] - 15000 * y[3] + 6875 * y[4] - 1250 * y[5]) / 24;
        c[6] = (3125 * y[1] - 625 * y[0] - 6250 * y[2] + 6250 * y[3] - 3125 * y[4] + 625 * y[5]) / 24;
    }
    return 0;
}

void output_polynomial_spline(double u0, double u1) {
    const int count = point_buffer.point_count;
    const int n = spline_state.spline_point_counts[1];
    move_to_spline_start();
    array1<int, 3> start_units;
    point3 start;
    buffer_point(1, start_units, start);
    start_spline_functions();

    // A segment needs n points after its start, all collected: a count below
    // 1 ends the spline, and a short last segment is not read past the points.
    int s = 3;
    for (; n >= 1 && s < count && s + 3 * n <= count; s += 3 * n) {
        // The spline ends with the last whole segment.
        const bool last = s + 6 * n > count;
        if (last) end_spline_function();
        const int first_point = s / 3 + 1;  // the segment's start is point s / 3
        array1<array1<int, 3>, 5> interior_units;
        array1<point3, 5> interior;
        for (int j = 1; j <= n - 1 && j <= 5; ++j) buffer_point(first_point + j - 1, interior_units[j], interior[j]);
        const int end_value = s + 3 * n - 2;
        set_position_from_cutfile_point(point_column_values(POINT_COLUMN_RAW), end_value);
        point3 end;
        for (int c = 1; c <= 3; ++c) end[c] = motion_state.position[c];

        int any_moves = 0;
        for (int axis = 1; axis <= 3; ++axis) {
            const int e = motion_state.position_units[axis];
            bool still = e == start_units[axis] && e == motion_state.previous_position_units[axis];
            const int checked = n == 5 ? 4 : 2;
            for (int j = 1; j <= checked && j <= n - 1; ++j) still = still && e == interior_units[j][axis];
            const int moves = still ? 0 : 1;
            set_status_flag(31 + axis, moves);
            const int word = key_word(7 + axis);
            if (moves != 0) {
                any_moves = 1;
                if (has_word(word)) {
                    setwrd(word, 0, SETWRD_FORGET);
                    setwrd(word, e, SETWRD_SET_REQUEST);
                }
                std::array<double, 6> values{};
                values[0] = start[axis];
                for (int j = 1; j <= n - 1 && j <= 4; ++j) values[static_cast<std::size_t>(j)] = interior[j][axis];
                if (n <= 5) values[static_cast<std::size_t>(n)] = end[axis];
                array1<double, 6> c;
                if (polynomial_coefficients(u0, u1, std::span<const double>(values.data(), values.size()), n, c) == 0) {
                    for (int j = 0; j <= n; ++j) {
                        const int w = key_word(COEFFICIENT_KEYS[j][axis - 1]);
                        if (has_word(w)) setwrd(w, nearest_int(MULT(w) * c[j + 1]), SETWRD_SET_REQUEST_FORGET);
                    }
                }
            } else {
                if (has_word(word)) setwrd(word, 0, SETWRD_CANCEL);
                for (int j = 0; j <= n && j <= 5; ++j) {
                    const int w = key_word(COEFFICIENT_KEYS[j][axis - 1]);
                    if (has_word(w)) setwrd(w, 0, SETWRD_CANCEL);
                }
            }
        }
        if (any_moves != 0) {
            fedrat();
            run_block(BLOCK_MOVE_SPLINE);
        }
        start = end;
        for (int c = 1; c <= 3; ++c) start_units[c] = motion_state.position_units[c];
        commit_move();
    }
    // The points that make no whole segment (a short last segment, or all of
    // them when the count per segment is below 1) lie on the curve too: they
    // are written as linear moves, so that none is lost.
    if (s < count) {
        output_linear_move_from(s + 1);
        return;  // the linear moves have checked the tape limits
    }
    check_tape_split_after_move(0);
}

void output_cubic_bspline(double a, double b) {
    const int count = point_buffer.point_count;
    const int segments = (count - 3) / 9;
    // Too few points for a segment: they are written as linear moves.
    if (segments <= 0) {
        output_linear_move();
        return;
    }
    move_to_spline_start();
    const double lo = std::min(std::fabs(a), std::fabs(b));
    const double hi = std::max(std::fabs(a), std::fabs(b));
    const double knot_mult = word_mult(KEY_KNOT);
    double knot = 0.0, step = 0.0, previous_length = 0.0;
    int knot_value = 0;
    point3 tangent;
    start_spline_functions();

    for (int s = 0; s < segments; ++s) {
        const int base = 3 * s + 1;  // P0 is point base; P1, P2, P3 follow
        const point3 r0 = raw_point(base), r1 = raw_point(base + 1), r2 = raw_point(base + 2), r3 = raw_point(base + 3);
        point3 q1_raw, q2_raw;
        for (int c = 1; c <= 3; ++c) {
            q1_raw[c] = (-5 * r0[c] + 18 * r1[c] - 9 * r2[c] + 2 * r3[c]) / 6;
            q2_raw[c] = (2 * r0[c] - 9 * r1[c] + 18 * r2[c] - 5 * r3[c]) / 6;
        }
        const point3 p0 = output_point(r0), q1 = output_point(q1_raw), q2 = output_point(q2_raw);
        const point3 p3 = output_point(r3);
        make_position(p0);

        vector3 d;
        for (int c = 1; c <= 3; ++c) d[c] = p0[c] - q1[c];
        const double length = vector_length(d);
        bool kink = length <= SPLINE_EPSILON || previous_length <= SPLINE_EPSILON;
        double ratio = 0.0;
        if (!kink) {
            ratio = length * step / previous_length;
            kink = ratio <= lo || ratio >= hi || dot_product(d, tangent) < previous_length * length * KINK_COSINE;
        }
        fedrat();
        if (kink) {
            set_word(KEY_KNOT, knot_value);
            set_axis_words(p0, 1);
            run_block(BLOCK_MOVE_SPLINE);
            knot += step;
            knot_value = truncate_to_int(knot * knot_mult);
        }
        compute_increments();
        add_move_time();
        commit_current_position();

        set_word(KEY_KNOT, knot_value);
        set_axis_words(q1, 0);
        run_block(BLOCK_MOVE_SPLINE);
        if (kink) {
            step = std::min(std::max(lo, 1.0), hi);
        } else {
            knot += step;
            knot_value = truncate_to_int(knot * knot_mult);
            step = ratio;
        }
        set_word(KEY_KNOT, knot_value);
        set_axis_words(q2, 0);
        run_block(BLOCK_MOVE_SPLINE);

        if (s + 1 < segments) {
            for (int c = 1; c <= 3; ++c) tangent[c] = q2[c] - p3[c];
            previous_length = vector_length(tangent);
        } else {
            set_word(KEY_KNOT, knot_value);
            make_position(p3);
            set_axis_words(p3, 0);
            run_block(BLOCK_MOVE_SPLINE);
            commit_move();
            for (int k = 1; k <= 4; ++k) {
                set_word(KEY_KNOT, truncate_to_int((knot + step) * knot_mult));
                cancel_axis_words();
                run_block(BLOCK_MOVE_SPLINE);
            }
            end_spline_function();
            check_tape_split_after_move(9 * segments + 3 < count);
        }
    }
    // The points after the last whole segment lie on the curve too: they
    // are written as linear moves, so that none is lost.
    if (9 * segments + 3 < count) output_linear_move_from(9 * segments + 4);
}

double spline_knot_value(double accumulated, double step, double previous_step, int mode) {
    if (get_state_flag(5) != 0) {
        switch (mode) {
        case 0: return accumulated;
        case 1: return accumulated + previous_step;
        case 1000: return accumulated;
        case 9999: return accumulated + step;
        default: return accumulated;
        }
    }
    return mode == 1 ? step : 0.0;
}

void arc_subdivision_level(const point3& c0, const point3& c1, const point3& c2, int& level, int& status) {
    vector3 a, b;
    for (int i = 1; i <= 3; ++i) {
        a[i] = c1[i] - c0[i];
        b[i] = c2[i] - c0[i];
    }
    const double x = 2.0 * std::atan2(std::sqrt(std::max(0.0, dot_product(a, a) * dot_product(b, b) -
                                                          dot_product(a, b) * dot_product(a, b))),
                                      dot_product(a, b)) *
                     RADIANS_TO_DEGREES;
    level = 0;
    if (x > 360.0) {
        status = 1;
        return;
    }
    status = 0;
    if (x >= 300.0) {
        level = 2;
    } else if (x >= 150.0) {
        level = 1;
    }
}

void subdivide_into_arcs(const point3& start, const point3& end, const point3& middle, int level,
                         spline_arcs& arcs) {
    point3 m, n;
    arc_midpoint_from_tangent(start, middle, end, m, n);
    arcs[1][1] = start;
    arcs[1][2] = m;
    arcs[1][3] = end;
    int count = 1;
    level = std::clamp(level, 0, MAX_ARC_SUBDIVISION);
    for (int l = 1; l <= level; ++l) {
        // Each arc in two: the halves' midpoints from the tangents at the
        // arc's ends, which meet in its control point.
        for (int k = count; k >= 1; --k) {
            const spline_arc arc = arcs[k];
            point3 control;
            double weight = 0.0;
            int status = 0;
            arc_control_point(arc[1], arc[2], arc[3], control, weight, status);
            point3 m1 = arc[2], m2 = arc[2], unused;
            if (status == 0) {
                arc_midpoint_from_tangent(arc[1], control, arc[2], m1, unused);
                arc_midpoint_from_tangent(arc[3], control, arc[2], m2, unused);
            }
            arcs[2 * k - 1][1] = arc[1];
            arcs[2 * k - 1][2] = m1;
            arcs[2 * k - 1][3] = arc[2];
            arcs[2 * k][1] = arc[2];
            arcs[2 * k][2] = m2;
            arcs[2 * k][3] = arc[3];
        }
        count *= 2;
    }
}

void arc_control_point(const point3& a, const point3& b, const point3& c, point3& control, double& weight,
                       int& status) {
    vector3 ab, ac, mid_to_b;
    for (int i = 1; i <= 3; ++i) {
        ab[i] = b[i] - a[i];
        ac[i] = c[i] - a[i];
        mid_to_b[i] = b[i] - (a[i] + c[i]) / 2.0;
    }
    const double cross_len = std::sqrt(std::max(0.0, dot_product(ab, ab) * dot_product(ac, ac) -
                                                     dot_product(ab, ac) * dot_product(ab, ac)));
    const double angle = std::atan2(cross_len, dot_product(ab, ac));
    status = 1;
    weight = 1.0;
    for (int i = 1; i <= 3; ++i) control[i] = (a[i] + c[i]) / 2.0;
    if (angle >= angle_constants.half_pi - 0.00001) return;
    status = 0;
    weight = std::fabs(std::cos(2.0 * angle));
    const double lift = vector_length(mid_to_b);
    if (lift <= 0.0) return;  // a straight piece: the control point is the chord's middle
    const double reach = vector_length(ac) / 2.0 * std::tan(2.0 * angle);
    for (int i = 1; i <= 3; ++i) control[i] += reach * mid_to_b[i] / lift;
}

void output_arc_bspline() {
    const int count = point_buffer.point_count;
    const int segments = (count - 3) / 6;
    // Too few points for a segment: they are written as linear moves.
    if (segments <= 0) {
        output_linear_move();
        return;
    }
    move_to_spline_start();
    const int absolute_knots = get_state_flag(5);
    const double knot_mult = word_mult(KEY_KNOT);
    const double weight_mult = word_mult(KEY_WEIGHT);

    start_spline_functions();
    point3 first = output_point(raw_point(1));
    make_position(first);
    if (absolute_knots != 0) {
        const int w = key_word(KEY_KNOT_FORGET);
        if (has_word(w)) setwrd(w, 0, SETWRD_FORGET);
    } else {
        const int w = fcode_word(FUNCTION_SPLINE);
        if (has_word(w) && word_output_state.word_value[w] == 1) run_block(BLOCK_MOVE_LINEAR);
    }
    commit_current_position();

    double accumulated = 0.0, step = 1.0, previous_step = 0.0, previous_span = 0.0;
    point3 last_end = first;
    for (int i = 1; i <= segments; ++i) {
        const point3 c0 = raw_point(2 * i - 1), c1 = raw_point(2 * i), c2 = raw_point(2 * i + 1);
        int level = 0, status = 0;
        arc_subdivision_level(c0, c1, c2, level, status);
        spline_arcs arcs;
        subdivide_into_arcs(c0, c2, c1, level, arcs);
        const int pieces = 1 << level;
        for (int k = 1; k <= pieces; ++k) {
            point3 control;
            double weight = 1.0;
            arc_control_point(arcs[k][1], arcs[k][2], arcs[k][3], control, weight, status);
            const point3 start = output_point(arcs[k][1]);
            const point3 t = output_point(control);
            const point3 end = output_point(arcs[k][3]);
            make_position(start);
            const double length = distance(start, t);
            if (length > SPLINE_EPSILON && previous_span > SPLINE_EPSILON) {
                previous_step = step;
                step = length * step / previous_span;
            }
            fedrat();
            set_word(KEY_KNOT, 0);
            set_word(KEY_KNOT, nearest_int(spline_knot_value(accumulated, step, previous_step, 0) * knot_mult));
            set_word(KEY_WEIGHT, truncate_to_int(weight_mult));
            set_axis_words(start, 0);
            if (!(i == 1 && absolute_knots == 0)) run_block(BLOCK_MOVE_SPLINE);
            commit_move();

            accumulated = spline_knot_value(accumulated, step, previous_step, 1);
            set_word(KEY_KNOT, nearest_int(accumulated * knot_mult));
            set_word(KEY_WEIGHT, truncate_to_int(weight_mult * weight));
            set_axis_words(t, 0);
            run_block(BLOCK_MOVE_SPLINE);
            previous_span = distance(t, end);
            last_end = end;
        }
    }
    set_word(KEY_WEIGHT, truncate_to_int(weight_mult));
    set_word(KEY_KNOT, nearest_int(spline_knot_value(accumulated, step, previous_step, 1000) * knot_mult));
    make_position(last_end);
    set_axis_words(last_end, 0);
    run_block(BLOCK_MOVE_SPLINE);
    commit_move();
    if (absolute_knots != 0) {
        for (int k = 1; k <= 3; ++k) {
            set_word(KEY_KNOT, nearest_int(spline_knot_value(accumulated, step, previous_step, 9999) * knot_mult));
            cancel_axis_words();
            run_block(BLOCK_MOVE_SPLINE);
        }
    }
    gset(FUNCTION_SPLINE, SETWRD_SET_REQUEST_FORGET);
    end_spline_function();
    check_tape_split_after_move(6 * segments + 3 < count);
    // A point after the last whole segment (a curve point without its
    // control point) is written as a linear move, so that none is lost.
    if (6 * segments + 3 < count) output_linear_move_from(6 * segments + 4);
}

}  // namespace kv
