// Circular moves in wire mode: arcs with compensation left, pieces split at
// quadrant boundaries (or half circles for a radius), and the tangential C
// axis and the circle angle at the arc's end.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int BLOCK_MOVE_CIRCLE = 10;
constexpr int BLOCK_MOVE_LINEAR = 11;
constexpr int LABEL_LINEAR_MOVE = 1;     // "LINEAR MOVE"
constexpr int FUNCTION_LINEAR = 2;
constexpr int FUNCTION_CIRCLE_CW = 3;
constexpr int FUNCTION_CIRCLE_CCW = 4;
constexpr int FUNCTION_XY_PLANE = 6;
constexpr int FUNCTION_ZY_PLANE = 7;
constexpr int FUNCTION_XZ_PLANE = 8;
constexpr int FUNCTION_COMPENSATION_LEFT = 10;
constexpr int KEY_CIRCLE_ANGLE = 7;
constexpr int KEY_FEEDRATE = 16;
constexpr int KEY_RADIUS = 32;
constexpr int KEY_C_AXIS = 38;           // "3rd rotation axis"
constexpr int FLAG_ABSOLUTE = 21;
constexpr int FLAG_CONTACT_NORMALS = 31;
constexpr int FULL_CIRCLE_SETTING = 27;  // "circle output" value 3
constexpr int INCREMENTAL_CENTRE_SETTING = 28;
constexpr int INITIAL_C_ANGLE_REAL = 9;
constexpr int CHORDAL_TOLERANCE_REAL = 10;
constexpr double WIRE_CHORDAL_TOLERANCE = 0.001;  // without real setting 10
constexpr double WIRE_SHORTEST_CHORD = 0.001;     // a flat piece shorter than this writes nothing
constexpr double C_ANGLE_UNSET = -9998.0;         // at or below: ask the operator
constexpr int C_AXIS_ELEMENT = 7;
constexpr int MESSAGE_CIRCLE_CODE_NOT_SET = 129;
constexpr double PI = 3.14159265358979323846;


// The C axis at the arc's end: the direction from the centre to the end
// point, turned for a counter-clockwise arc and by the initial C angle.
void set_arc_end_c_angle(int c_word) {
    if (real_option(INITIAL_C_ANGLE_REAL) <= C_ANGLE_UNSET) {
        ask_initial_c_angle(c_word);
        // The arc's C angle turns from the initial angle.
        motion_state.previous_rotary_angles[1] = real_option(INITIAL_C_ANGLE_REAL);
    }
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    const array1<int, 8>& pu = motion_state.position_units;
    const double dx = static_cast<double>(pu[a[1]]) - pu[a[3]];
    const double dy = static_cast<double>(pu[a[2]]) - pu[a[4]];
    double c;
    if (dx == 0.0) {
        c = dy >= 0.0 ? 90.0 : 270.0;
    } else {
        c = std::atan(dy / dx) * 180.0 / PI;
        if (dx < 0.0) c += 180.0;
    }
    if (circle_state.arc_reversed == 0) c += 180.0;
    c += real_option(INITIAL_C_ANGLE_REAL);
    if (c - motion_state.previous_rotary_angles[1] > 180.0) c -= 360.0;
    motion_state.rotary_angles[1] = c;
    motion_state.previous_rotary_angles[1] = c;
    setwrd(c_word, nearest_int(MULT(c_word) * c), SETWRD_SET_REQUEST);
}

// The circle-angle word at the arc's end: the direction of the end tangent,
// in whole degrees.
void set_arc_end_tangent_angle(int angle_word) {
    const array1<int, 4>& a = circle_state.arc_plane_axes;
    array1<int, 8>& pu = motion_state.position_units;
    const double p1 = pu[a[1]], p2 = pu[a[2]], c1 = pu[a[3]], c2 = pu[a[4]];
    const double slope = p2 == c2 ? (c1 - p1) * 100.0 : -(c1 - p1) / (c2 - p2);
    double g = std::atan(slope) * 180.0 / PI + 90.0;
    const int q = arc_quadrant();
    if ((q == 3 || q == 4) && g < 179.0) g += 180.0;
    pu[C_AXIS_ELEMENT] = MULT(angle_word) * nearest_int(g);
    const int value = get_state_flag(FLAG_ABSOLUTE) != 0
                          ? pu[C_AXIS_ELEMENT]
                          : pu[C_AXIS_ELEMENT] - motion_state.previous_position_units[C_AXIS_ELEMENT];
    setwrd(angle_word, value, SETWRD_SET_REQUEST);
}

}  // namespace

int write_flat_arc_piece(double radius, int circle_function, int whole_record, double shortest_chord,
                         bool& committed) {
    circle_state_t& cs = circle_state;
    const double chord = move_length();
    double h = radius;
    const double root = 1.0 - chord * chord / 4.0 / radius / radius;
    if (radius > 0.0 && root >= 0.0) h = (1.0 - std::sqrt(root)) * radius;
    if (h > cs.circle_record[5]) return 0;
    gset(circle_function, SETWRD_CANCEL);
    if (chord > shortest_chord) {
        if (whole_record) {
            // The whole record is one flat piece: its points become straight moves.
            output_linear_move();
            committed = true;
        } else {
            // One piece of several: a straight move to the end of this piece
            // only, so that the pieces before and after are neither repeated
            // nor skipped.
            set_xyz_words();
            gset(FUNCTION_LINEAR, SETWRD_SET_REQUEST);
            fedrat();
            set_reference_message(LABEL_LINEAR_MOVE);
            run_block(BLOCK_MOVE_LINEAR);
        }
        set_circle_reference_label();
    }
    return 1;
}

void arcmov_wire() {
    circle_state_t& cs = circle_state;
    motion_state_t& m = motion_state;
    array1<int, 4>& axes = cs.arc_plane_axes;
    const array1<double, 5>& record = cs.circle_record;
    const int count = point_buffer.point_count;
    const int stride = get_state_flag(FLAG_CONTACT_NORMALS) != 0 ? 6 : 3;
    if (count < 3) return;
    const std::span<const double> points =
        std::span<const double>(point_column_values(POINT_COLUMN_RAW)).first(static_cast<std::size_t>(count));
    const int last_index = ((count - 3) / stride) * stride + 1;

    const int x_word = coordinate_word(1), y_word = coordinate_word(2), z_word = coordinate_word(3);
    const int i_word = key_word(11), j_word = key_word(12), k_word = key_word(13);
    const double r = pass1_results.unit_factor * record[1];

    // The plane from the circle's axis; a later match overrides an earlier one.
    int plane_function = 0;
    int word1 = NO_WORD, word2 = NO_WORD, centre_word1 = NO_WORD, centre_word2 = NO_WORD;
    if (std::fabs(record[4]) >= WIRE_ARC_AXIS_TOLERANCE) {
        axes[1] = 1; axes[2] = 2; axes[3] = 4; axes[4] = 5;
        word1 = x_word; word2 = y_word; centre_word1 = i_word; centre_word2 = j_word;
        plane_function = FUNCTION_XY_PLANE;
    }
    if (std::fabs(record[3]) >= WIRE_ARC_AXIS_TOLERANCE) {
        axes[1] = 1; axes[2] = 3; axes[3] = 4; axes[4] = 6;
        word1 = x_word; word2 = z_word; centre_word1 = i_word; centre_word2 = k_word;
        plane_function = FUNCTION_XZ_PLANE;
    }
    if (std::fabs(record[2]) >= WIRE_ARC_AXIS_TOLERANCE) {
        axes[1] = 2; axes[2] = 3; axes[3] = 5; axes[4] = 6;
        word1 = y_word; word2 = z_word; centre_word1 = j_word; centre_word2 = k_word;
        plane_function = FUNCTION_ZY_PLANE;
    }
    // The surface record sets a circle only about a principal axis; should
    // one come without, the points are written as straight wire moves rather
    // than measured in a plane that was never chosen.
    if (plane_function == 0) {
        output_wire_move();
        return;
    }

    cs.arc_reversed = (record[2] <= -WIRE_ARC_AXIS_TOLERANCE || record[3] <= -WIRE_ARC_AXIS_TOLERANCE ||
                       record[4] <= -WIRE_ARC_AXIS_TOLERANCE)
                          ? 1
                          : 0;
    const int circle_function = cs.arc_reversed != 0 ? FUNCTION_CIRCLE_CW : FUNCTION_CIRCLE_CCW;
    cs.arc_quadrant_state[4] = get_gcode_value(circle_function);
    if (cs.arc_quadrant_state[4] == 0) {
        issue_message(MESSAGE_CIRCLE_CODE_NOT_SET);
        return;
    }
    gset(plane_function, SETWRD_SET_REQUEST);
    cs.incremental_centre_mode = get_intsp(INCREMENTAL_CENTRE_SETTING) == 1 ? 1 : 0;
    set_circle_reference_label();
    const int radius_word = key_word(KEY_RADIUS);
    const int radius_value = nearest_int(static_cast<double>(MULT(radius_word)) * r);
    const double chordal = real_option(CHORDAL_TOLERANCE_REAL);
    cs.circle_record[5] = chordal != 0.0 ? chordal : WIRE_CHORDAL_TOLERANCE;
    cs.arc_quadrant_state[1] = arc_quadrant();
    cs.arc_quadrant_state[2] = cs.arc_quadrant_state[1];

    fedrat();
    setwrd(key_word(KEY_FEEDRATE), 0, SETWRD_REQUEST);

    const int full_circle = get_intsp(FULL_CIRCLE_SETTING);
    const int angle_word = key_word(KEY_CIRCLE_ANGLE);
    const int c_word = key_word(KEY_C_AXIS);
    arc_plan_t plan;
    plan_arc(points, last_index, stride, r, full_circle == 0 ? 1 : 0,
             block_names_word(BLOCK_MOVE_CIRCLE, radius_word), plan);
    // An arc that follows a tool change is the first move: it is written
    // compensated, and the straight moves after it stay so.
    move_output_state.first_move_after_tool_change = 0;
    cs.arc_last_piece = 0;
    double from = 0.0;
    arc_walk_t walk;
    start_arc_walk(walk);
    for (;;) {
        const double to = next_arc_piece_end(plan, from);
        cs.arc_last_piece = to >= plan.sweep ? 1 : 0;
        const double piece_sweep = to - from;
        gset(circle_function, SETWRD_SET_REQUEST);
        const array1<double, 6> kept_previous = m.previous_position;
        const array1<int, 8> kept_previous_units = m.previous_position_units;

        set_integer_arc_centre_words(centre_word1, centre_word2);

        walk_arc_piece(points, last_index, plan, to, walk);

        if (cs.arc_last_piece != 0) {
            if (has_word(c_word)) set_arc_end_c_angle(c_word);
            if (has_word(angle_word)) set_arc_end_tangent_angle(angle_word);
        }

        // The piece is one move from its start.
        for (int c = 1; c <= 3; ++c) {
            m.previous_position[c] = kept_previous[c];
            m.previous_position_units[c] = kept_previous_units[c];
        }
        compute_increments();

        bool committed = false;
        const bool flat = piece_sweep <= 180.0 &&
                          write_flat_arc_piece(r, circle_function, from == 0.0 && cs.arc_last_piece != 0,
                                               WIRE_SHORTEST_CHORD, committed);
        if (!flat) {
            set_arc_plane_words(word1, word2);
            // Centre words by the incremental-centre rule.
            request_arc_axis_words(cs.incremental_centre_mode, centre_word1, centre_word2);
            fedrat();
            setwrd(radius_word, arc_piece_radius(radius_value, radius_word, piece_sweep), SETWRD_SET);
            gset(FUNCTION_COMPENSATION_LEFT, SETWRD_SET_REQUEST);
            run_block(BLOCK_MOVE_CIRCLE);
        }

        if (!committed) commit_current_position();
        if (cs.arc_last_piece != 0) {
            m.position_units[axes[3]] = 0;
            m.position_units[axes[4]] = 0;
            return;
        }
        from = to;
    }
}

}  // namespace kv
