// Circular moves: the plane from the circle's axis, pieces split at quadrant
// boundaries, end-point, centre, radius and angle words, and the fall-back to
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
constexpr int LABEL_CIRCLE = 3;         // "CIRCLE CCW", for every arc
constexpr int FUNCTION_CIRCLE_CW = 3;
constexpr int FUNCTION_CIRCLE_CCW = 4;
constexpr int FUNCTION_XY_PLANE = 6;
constexpr int FUNCTION_ZY_PLANE = 7;
constexpr int FUNCTION_XZ_PLANE = 8;
constexpr int KEY_CIRCLE_ANGLE = 7;
constexpr int KEY_RADIUS = 32;
constexpr double PI = 3.14159265358979323846;


double degrees_of(double radians) { return radians * 180.0 / PI; }

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

double rounded_distance(double a, double b, double n) {
    return std::fabs(static_cast<double>(nearest_int(n * b)) - static_cast<double>(nearest_int(n * a))) / n;
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

    auto point_at = [&](int index, array1<int, 3>& units, point3& out) {
        point3 in;
        for (int c = 1; c <= 3; ++c) in[c] = points[static_cast<std::size_t>(index + c - 2)];
        to_machine_units(in, units, out);
    };
    array1<int, 3> first_units, last_units;
    point3 first, last;
    point_at(1, first_units, first);
    point_at(last_index, last_units, last);

    // The plane from the circle's axis, first match.
    int plane_function = 0, axial = 0;
    int word1 = NO_WORD, word2 = NO_WORD, centre_word1 = NO_WORD, centre_word2 = NO_WORD;
    int suppressed = 0;
    if (std::fabs(record[4]) >= ARC_AXIS_TOLERANCE) {
        axes[1] = 1; axes[2] = 2; axes[3] = 4; axes[4] = 5; axial = 3;
        word1 = x_word; word2 = y_word; centre_word1 = i_word; centre_word2 = j_word;
        plane_function = FUNCTION_XY_PLANE;
        suppressed = get_intsp(85);
    } else if (std::fabs(record[2]) >= ARC_AXIS_TOLERANCE) {
        axes[1] = 2; axes[2] = 3; axes[3] = 5; axes[4] = 6; axial = 1;
        word1 = y_word; word2 = z_word; centre_word1 = j_word; centre_word2 = k_word;
        plane_function = FUNCTION_ZY_PLANE;
        suppressed = get_intsp(87);
    } else if (std::fabs(record[3]) >= ARC_AXIS_TOLERANCE) {
        axes[1] = 3; axes[2] = 1; axes[3] = 6; axes[4] = 4; axial = 2;
        word1 = z_word; word2 = x_word; centre_word1 = k_word; centre_word2 = i_word;
        plane_function = FUNCTION_XZ_PLANE;
        suppressed = get_intsp(86);
    }

    bool linear = plane_function == 0 || suppressed != 0;
    if (!linear) {
        const double rise = rounded_distance(last[axial], first[axial], mult_x);
        const double start_axial = motion_state.position[axial];
        const double d = rounded_distance(start_axial, first[axial], mult_x);
        const double exact = std::fabs(first[axial] - start_axial);
        if (d > e && exact > e) status = ARC_OFF_PLANE;
        if (d <= e && exact > e) linear = true;
        if (rise > e) linear = true;
        // The start and the end must lie on one circle about the centre.
        const array1<double, 6>& p = motion_state.position;
        const double start_radius = std::hypot(p[axes[1]] - p[axes[3]], p[axes[2]] - p[axes[4]]);
        const double end_radius =
            std::hypot(last[axes[1]] - p[axes[3]], last[axes[2]] - p[axes[4]]);
        if (std::fabs(start_radius - end_radius) > e) linear = true;
    }
    if (linear) {
        gset(FUNCTION_XY_PLANE, SETWRD_CANCEL);
        gset(FUNCTION_ZY_PLANE, SETWRD_CANCEL);
        gset(FUNCTION_XZ_PLANE, SETWRD_CANCEL);
        output_linear_move();
        status = 0;
        return;
    }
    if (status == ARC_OFF_PLANE) return;
    gset(plane_function, SETWRD_SET_REQUEST);

    cs.arc_reversed = (record[2] <= -ARC_AXIS_TOLERANCE || record[3] <= -ARC_AXIS_TOLERANCE ||
                       record[4] <= -ARC_AXIS_TOLERANCE)
                          ? 1
                          : 0;
    cs.incremental_centre_mode = get_intsp(28) == 1 ? 1 : 0;
    set_reference_message(LABEL_CIRCLE);
    const int radius_word = key_word(KEY_RADIUS);
    const int radius_value = nearest_int(static_cast<double>(MULT(radius_word)) * r);
    cs.circle_record[5] = real_option(10) > 0.0 ? real_option(10) : u;
    cs.arc_quadrant_state[2] = arc_quadrant();
    const double start_angle = position_angle();

    fedrat();
    setwrd(key_word(16), 0, SETWRD_REQUEST);
    const int circle_function = cs.arc_reversed != 0 ? FUNCTION_CIRCLE_CW : FUNCTION_CIRCLE_CCW;
    cs.arc_quadrant_state[4] = get_gcode_value(circle_function);
    if (cs.arc_quadrant_state[4] == UNSET_CODE && fcode_word(FUNCTION_CIRCLE_CW) == NO_WORD) issue_message(129);

    const int full_circle = get_intsp(27);
    const int absolute = get_state_flag(21);
    const int angle_word = key_word(KEY_CIRCLE_ANGLE);
    cs.arc_last_piece = 0;
    int from = 1;
    for (;;) {
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

        // Walk the points until the quadrant changes or the points end.
        int index = from;
        bool crossed = false;
        bool piece_ended = false;
        for (; index <= last_index; index += stride) {
            set_position_from_cutfile_point(points, index);
            compute_increments();
            add_move_time();
            commit_current_position();
            const int q = arc_quadrant();
            if (q == cs.arc_quadrant_state[2]) continue;
            crossed = true;
            if (full_circle != 0) continue;
            int boundary = cs.arc_quadrant_state[2];
            if (cs.arc_reversed != 0) boundary = boundary == 1 ? 4 : boundary - 1;
            cs.arc_quadrant_state[3] = boundary;
            array1<int, 8>& pu = motion_state.position_units;
            array1<double, 6>& p = motion_state.position;
            const int c1 = pu[axes[3]], c2 = pu[axes[4]];
            const double rc1 = p[axes[3]], rc2 = p[axes[4]];
            const int ri = nearest_int(mult_x * r);
            const int point1 = pu[axes[1]], point2 = pu[axes[2]];
            int b1 = c1, b2 = c2;
            double rb1 = rc1, rb2 = rc2;
            switch (boundary) {
            case 1: b2 = c2 + ri; rb2 = rc2 + r; break;
            case 2: b1 = c1 - ri; rb1 = rc1 - r; break;
            case 3: b2 = c2 - ri; rb2 = rc2 - r; break;
            default: b1 = c1 + ri; rb1 = rc1 + r; break;
            }
            pu[axes[1]] = b1;
            pu[axes[2]] = b2;
            p[axes[1]] = rb1;
            p[axes[2]] = rb2;
            if (index == last_index && std::abs(point1 - b1) < u && std::abs(point2 - b2) < u) cs.arc_last_piece = 1;
            piece_ended = true;
            break;
        }
        if (!piece_ended) cs.arc_last_piece = 1;

        double sweep = 0.0;
        if (cs.arc_last_piece != 0) {
            const double end_angle = position_angle();
            sweep = end_angle - start_angle;
            if (cs.arc_reversed != 0) sweep = -sweep;
            if (sweep < 0.0) sweep += 360.0;
            if (has_word(angle_word)) {
                const double m = MULT(angle_word);
                motion_state.position_units[7] = nearest_int(m * end_angle);
                setwrd(angle_word, absolute != 0 ? motion_state.position_units[7] : nearest_int(m * sweep),
                       SETWRD_SET_REQUEST);
            }
        }

        // The piece is one move from its start.
        for (int c = 1; c <= 3; ++c) {
            motion_state.previous_position[c] = kept_previous[c];
            motion_state.previous_position_units[c] = kept_previous_units[c];
        }
        compute_increments();

        bool flat = false;
        if (!(full_circle != 0 && crossed)) {
            const double chord = move_length();
            double h = r;
            const double root = 1.0 - chord * chord / 4.0 / r / r;
            if (r > 0.0 && root >= 0.0) h = (1.0 - std::sqrt(root)) * r;
            if (h <= cs.circle_record[5]) {
                flat = true;
                // A straight line carries no circle function.
                gset(circle_function, SETWRD_CANCEL);
                const array1<int, 8>& inc = motion_state.increments;
                if (chord >= u && (inc[1] != 0 || inc[2] != 0 || inc[3] != 0)) {
                    set_xyz_words();
                    gset(2, SETWRD_SET_REQUEST);
                    fedrat();
                    add_move_time();
                    set_reference_message(LABEL_LINEAR_MOVE);
                    run_block(BLOCK_MOVE_LINEAR);
                }
            }
        }
        if (!flat) {
            const int plane_words[3] = {0, word1, word2};
            for (int c = 1; c <= 2; ++c) {
                const int w = plane_words[c];
                if (!has_word(w)) continue;
                if (motion_state.increments[axes[c]] != 0) setwrd(w, 0, SETWRD_REQUEST);
                if (get_intsp(20) != 0) {
                    setwrd(w, 0, SETWRD_FORGET);
                    setwrd(w, 0, SETWRD_REQUEST);
                }
                setwrd(w,
                       absolute != 0 ? motion_state.position_units[axes[c]] : motion_state.increments[axes[c]],
                       SETWRD_SET);
            }
            // Centre words by the incremental-centre rule, axis words when not modal.
            request_arc_axis_words(cs.incremental_centre_mode, centre_word1, centre_word2);
            for (int w : {word1, word2}) {
                if (has_word(w) && !is_modal(w)) setwrd(w, 0, SETWRD_REQUEST);
            }
            fedrat();
            int radius = radius_value;
            if (cs.arc_last_piece != 0 && sweep > 180.0) radius = -radius;
            setwrd(radius_word, radius, SETWRD_SET);
            run_block(BLOCK_MOVE_CIRCLE);
        }

        commit_current_position();
        if (cs.arc_last_piece != 0) {
            motion_state.position[axes[3]] = 0.0;
            motion_state.position[axes[4]] = 0.0;
            motion_state.position_units[axes[3]] = 0;
            motion_state.position_units[axes[4]] = 0;
            status = 0;
            return;
        }
        // The next piece starts at the boundary and walks the point where the
        // quadrant changed again.
        set_position_from_cutfile_point(points, index);
        cs.arc_quadrant_state[2] = arc_quadrant();
        compute_increments();
        from = index;
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
    const int absolute = get_state_flag(21);
    const int words[4] = {0, x_word, y_word, z_word};
    for (int c = 1; c <= 3; ++c) {
        const int w = words[c];
        if (!has_word(w)) continue;
        if (motion_state.increments[c] != 0) setwrd(w, 0, SETWRD_REQUEST);
        setwrd(w, absolute != 0 ? motion_state.position_units[c] : motion_state.increments[c], SETWRD_SET);
    }
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
