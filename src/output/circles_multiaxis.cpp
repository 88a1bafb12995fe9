// Circles of the azimuth/elevation heads (machine type 4): pieces planned as
// every arc's (quadrant boundaries, or half circles for a radius), with the
// tool offsets of the piece's ends turned into an offset arc, a cone angle or
// a second circle for the head's rotary words.
#include <cmath>
#include <cstdlib>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int BLOCK_MOVE_CIRCLE = 10;
constexpr int LABEL_LINEAR_MOVE = 1;     // "LINEAR MOVE"
constexpr int FUNCTION_LINEAR = 2;
constexpr int FUNCTION_CIRCLE_CW = 3;
constexpr int FUNCTION_CIRCLE_CCW = 4;
constexpr int FUNCTION_XY_PLANE = 6;
constexpr int FUNCTION_ZY_PLANE = 7;
constexpr int FUNCTION_XZ_PLANE = 8;
constexpr int FUNCTION_COMPENSATION_LEFT = 10;
constexpr int KEY_FEEDRATE = 16;
constexpr int KEY_RADIUS = 32;
constexpr int KEY_AZIMUTH = 36;
constexpr int KEY_ELEVATION = 37;
constexpr int FLAG_ABSOLUTE = 21;
constexpr int FULL_CIRCLE_SETTING = 27;        // "circle output" value 3
constexpr int INCREMENTAL_CENTRE_SETTING = 28;
constexpr int TOOL_LENGTH_REAL = 13;
constexpr int STRIDE = 6;                      // tip and tool vector per point
constexpr int ELEVATION_ELEMENT = 7;           // position_units of the rotary words
constexpr int AZIMUTH_ELEMENT = 8;
constexpr double CHORDAL_TOLERANCE = 0.001;
constexpr double SHORTEST_CHORD = 0.001;       // a flat piece shorter than this writes nothing
constexpr double OFFSET_ACROSS = 0.0001;       // an offset that leans in X
constexpr double OFFSETS_TURN = 0.001;         // subtype 21: the offsets turn against each other
constexpr double CENTRE_MATCH = 0.0001;        // subtype 21: tool lines meet at the circle's centre
constexpr double SUM_RESOLUTION = 1000.0;      // subtype 23 keeps its running offsets to 0.001
constexpr int MESSAGE_CIRCLE_CODE_NOT_SET = 129;
constexpr int MESSAGE_BAD_GEOMETRY = 210;
constexpr int SUBTYPE_CONE_ANGLE = 21;         // elevation word: the cone angle of the offsets
constexpr int SUBTYPE_RELATIVE_OFFSETS = 23;   // rotary words relative to the tip
constexpr int SUBTYPE_SECOND_CIRCLE = 25;      // the offsets' own circle for the block


// The head pairs whose circles are refused: on subtype 24 (both rotations
// about X) an arc would set its words but run no block, leaving them for
// whatever line comes next; the run stops rather than write a wrong tape.
bool circle_refused_for_subtype(int subtype) { return subtype == 24; }

// Offset geometry that cannot be built: message 210 and the run ends.
[[noreturn]] void stop_bad_geometry() {
    issue_message(MESSAGE_BAD_GEOMETRY);
    stop_run(4);
    std::abort();  // stop_run does not return
}

double tool_length() {
    double l = machine_model.tool_length;
    if (!(l > 0.0)) l = real_option(TOOL_LENGTH_REAL);
    if (!(l > 0.0)) l = 1.0;
    return l;
}

// The offset of a tool vector: scaled so that its axial part is the tool
// length. A vector without an axial part has none (returns false).
bool tool_offset(const point3& v, point3& offset) {
    const double z = std::fabs(v[3]);
    if (!(z > 0.0)) return false;
    const double s = tool_length() / z;
    for (int i = 1; i <= 3; ++i) offset[i] = v[i] * s;
    return true;
}

point3 required_offset(const point3& v) {
    point3 o;
    if (!tool_offset(v, o)) stop_bad_geometry();
    return o;
}

// Value n of the record (1-based), 0 beyond the collected values.
double point_value(std::span<const double> points, int n) {
    return n >= 1 && static_cast<std::size_t>(n) <= points.size() ? points[static_cast<std::size_t>(n - 1)] : 0.0;
}

// The tool vector of the point whose x value is value `index`.
point3 point_vector(std::span<const double> points, int index) {
    point3 v;
    for (int i = 1; i <= 3; ++i) v[i] = point_value(points, index + 2 + i);
    return v;
}

// The tip of the point whose x value is value `index`, in output units.
point3 point_tip(std::span<const double> points, int index) {
    point3 in;
    for (int i = 1; i <= 3; ++i) in[i] = point_value(points, index + i - 1);
    array1<int, 3> units;
    point3 out;
    to_machine_units(in, units, out);
    return out;
}

point3 tip_of(const array1<double, 6>& p) { return point3{{p[1], p[2], p[3]}}; }
point3 plus(const point3& a, const point3& b) { return point3{{a[1] + b[1], a[2] + b[2], a[3] + b[3]}}; }

// The offset arc of a head whose tool leans: its centre is where the lines
// through the offset start and end, parallel to the tip circle's radii at the
// start and end tips, meet; its radius is signed, negative when the centre
// lies beyond the offset start along the tip's radius. Status 1 found, -1
// when the radii are parallel or a tip lies on the centre.
void offset_arc(const point3& centre, const point3& start_tip, const point3& end_tip, const point3& offset_start,
                const point3& offset_end, point2& offset_centre, double& offset_radius, int& status) {
    offset_radius = 0.0;
    point3 radius1, radius2, line1, line2;
    int status1 = 0, status2 = 0;
    chord_line_2d(centre, start_tip, radius1, status1);
    chord_line_2d(centre, end_tip, radius2, status2);
    status = -1;
    if (status1 != 1 || status2 != 1) return;
    point_with_z(offset_start[1], offset_start[2], radius1[3], line1);
    point_with_z(offset_end[1], offset_end[2], radius2[3], line2);
    intersect_lines_2d(line1, line2, offset_centre, status);
    if (status != 1) return;
    const double dx = offset_start[1] - offset_centre[1], dy = offset_start[2] - offset_centre[2];
    offset_radius = std::hypot(dx, dy);
    if (dx * (start_tip[1] - centre[1]) + dy * (start_tip[2] - centre[2]) < 0.0) offset_radius = -offset_radius;
}

// The two rotary words from an offset point's X (azimuth) and Y (elevation),
// absolute or as differences from the offsets written before: on subtype 23
// those are the head's running offsets, which then follow what was written
// so that the next linear move continues from here.
void set_offset_words(double x, double y, int absolute, int subtype) {
    motion_state_t& m = motion_state;
    array1<double, 2>& sums = kinematics_values.special_angles;
    const int words[3] = {0, key_word(KEY_AZIMUTH), key_word(KEY_ELEVATION)};
    const int elements[3] = {0, AZIMUTH_ELEMENT, ELEVATION_ELEMENT};
    const double values[3] = {0.0, x, y};
    for (int c = 1; c <= 2; ++c) {
        const int w = words[c];
        const int e = elements[c];
        if (!has_word(w)) continue;
        const double f = MULT(w);
        int written = nearest_int(f * values[c]);
        if (subtype == SUBTYPE_RELATIVE_OFFSETS) {
            if (absolute == 0) written = nearest_int(f * (values[c] - sums[c]));
            sums[c] = nearest_int(values[c] * SUM_RESOLUTION) / SUM_RESOLUTION;
            m.position_units[e] = written;
        } else {
            m.position_units[e] = written;
            if (absolute == 0) written -= m.previous_position_units[e];
        }
        setwrd(w, written, SETWRD_SET_REQUEST);
        // An increment equal to the one written last is a turn all the same.
        if (absolute == 0 && written != 0) setwrd(w, 0, SETWRD_FORGET);
    }
}

// One point of a piece of subtype 22 or 23 as a linear move: the rotary
// words carry the point on the offset arc along the tip's radius (subtype 23:
// relative to the tip).
void output_offset_point(const point3& centre, const point2& offset_centre, double offset_radius, int subtype,
                         int absolute) {
    motion_state_t& m = motion_state;
    compute_increments();
    const double dx = m.position[1] - centre[1], dy = m.position[2] - centre[2];
    const double d = std::hypot(dx, dy);
    if (!(d > 0.0)) stop_bad_geometry();
    double x = offset_centre[1] + offset_radius * dx / d;
    double y = offset_centre[2] + offset_radius * dy / d;
    if (subtype == SUBTYPE_RELATIVE_OFFSETS) {
        x -= m.position[1];
        y -= m.position[2];
    }
    set_offset_words(x, y, absolute, subtype);
    gset(FUNCTION_LINEAR, SETWRD_SET_REQUEST);
    output_linear_fiveaxis();
    m.output_mode_flags[FORCE_XYZ_FLAG] = 0;
    commit_current_position();
}

}  // namespace

void output_circle_move() {
    circle_state_t& cs = circle_state;
    motion_state_t& m = motion_state;
    array1<int, 4>& axes = cs.arc_plane_axes;
    const array1<double, 5>& record = cs.circle_record;
    const int count = point_buffer.point_count;
    if (count < 3) return;
    const std::span<const double> points =
        std::span<const double>(point_column_values(POINT_COLUMN_RAW)).first(static_cast<std::size_t>(count));
    const int subtype = machine_model.machine_subtype;
    if (circle_refused_for_subtype(subtype)) stop_bad_geometry();
    // The first value of the last point: the value count minus 5 when the
    // record's points are complete.
    const int last_index = ((count - 1) / STRIDE) * STRIDE + 1;
    // The middle point of the record (of two points, the first).
    const int point_total = (last_index - 1) / STRIDE + 1;
    const int middle_index = ((point_total + 1) / 2 - 1) * STRIDE + 1;

    const int x_word = coordinate_word(1), y_word = coordinate_word(2), z_word = coordinate_word(3);
    const int i_word = key_word(11), j_word = key_word(12), k_word = key_word(13);
    const double r = pass1_results.unit_factor * record[1];

    // The plane from the circle's axis; a later match overrides an earlier one.
    int plane_function = 0, axial = 3;
    int word1 = NO_WORD, word2 = NO_WORD, centre_word1 = NO_WORD, centre_word2 = NO_WORD;
    if (std::fabs(record[4]) >= WIRE_ARC_AXIS_TOLERANCE) {
        axes[1] = 1; axes[2] = 2; axes[3] = 4; axes[4] = 5; axial = 3;
        word1 = x_word; word2 = y_word; centre_word1 = i_word; centre_word2 = j_word;
        plane_function = FUNCTION_XY_PLANE;
    }
    if (std::fabs(record[3]) >= WIRE_ARC_AXIS_TOLERANCE) {
        axes[1] = 1; axes[2] = 3; axes[3] = 4; axes[4] = 6; axial = 2;
        word1 = x_word; word2 = z_word; centre_word1 = i_word; centre_word2 = k_word;
        plane_function = FUNCTION_XZ_PLANE;
    }
    if (std::fabs(record[2]) >= WIRE_ARC_AXIS_TOLERANCE) {
        axes[1] = 2; axes[2] = 3; axes[3] = 5; axes[4] = 6; axial = 1;
        word1 = y_word; word2 = z_word; centre_word1 = j_word; centre_word2 = k_word;
        plane_function = FUNCTION_ZY_PLANE;
    }
    // The surface record sets a circle only about a principal axis; should
    // one come without, there is no plane to measure it in.
    if (plane_function == 0) stop_bad_geometry();

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
    const int elevation_word = key_word(KEY_ELEVATION);
    cs.circle_record[5] = CHORDAL_TOLERANCE;
    cs.arc_quadrant_state[1] = arc_quadrant();
    cs.arc_quadrant_state[2] = cs.arc_quadrant_state[1];

    fedrat();
    setwrd(key_word(KEY_FEEDRATE), 0, SETWRD_REQUEST);

    const int full_circle = get_intsp(FULL_CIRCLE_SETTING);
    const int absolute = get_state_flag(FLAG_ABSOLUTE);
    arc_plan_t plan;
    plan_arc(points, last_index, STRIDE, r, full_circle == 0 ? 1 : 0,
             block_names_word(BLOCK_MOVE_CIRCLE, radius_word), plan);
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

        const int piece_first = walk.next;
        walk_arc_piece(points, last_index, plan, to, walk);
        // The point whose tool vector ends the piece, the points before it
        // lying inside: the last one, or the first beyond the boundary.
        const int end_index = cs.arc_last_piece != 0 ? last_index : walk.next;
        const array1<double, 6> end_position = m.position;
        const array1<int, 8> end_units = m.position_units;

        // The piece is one move from its start.
        for (int c = 1; c <= 3; ++c) {
            m.previous_position[c] = kept_previous[c];
            m.previous_position_units[c] = kept_previous_units[c];
        }
        compute_increments();

        // The distance from the piece's start to the centre, output units,
        // from the word integers of each plane axis at its own resolution.
        const array1<int, 8>& pu = m.position_units;
        const double di =
            (static_cast<double>(kept_previous_units[axes[1]]) - pu[axes[3]]) / axis_mult(axes[1]);
        const double dj =
            (static_cast<double>(kept_previous_units[axes[2]]) - pu[axes[4]]) / axis_mult(axes[2]);
        const double start_radius = std::sqrt(di * di + dj * dj);

        const point3 start_tip = tip_of(kept_previous);
        const point3 end_tip = tip_of(end_position);
        const point3 centre{{m.position[4], m.position[5], m.position[6]}};
        const point3 end_vector = point_vector(points, end_index);

        bool committed = false;
        const bool flat = piece_sweep <= 180.0 &&
                          write_flat_arc_piece(r, circle_function, from == 0.0 && cs.arc_last_piece != 0,
                                               SHORTEST_CHORD, committed);

        if (!flat) {
            const point3 start_offset = required_offset(cs.arc_plane_reals);
            const point3 end_offset = required_offset(end_vector);
            const point3 offset_start = plus(start_tip, start_offset);
            const point3 offset_end = plus(end_tip, end_offset);
            const bool leaning = std::fabs(start_offset[1]) > OFFSET_ACROSS || std::fabs(end_offset[1]) > OFFSET_ACROSS;
            if ((subtype == 22 || subtype == SUBTYPE_RELATIVE_OFFSETS) && leaning) {
                // The piece's points as linear moves along the offset arc.
                point2 offset_centre;
                double offset_radius = 0.0;
                int status = 0;
                offset_arc(centre, start_tip, end_tip, offset_start, offset_end, offset_centre, offset_radius,
                           status);
                if (status != 1) stop_bad_geometry();
                gset(circle_function, SETWRD_CANCEL);
                set_reference_message(LABEL_LINEAR_MOVE);
                for (int k = piece_first; k < end_index; k += STRIDE) {
                    if (k == 1)
                        set_move_point(1, STRIDE);
                    else
                        set_position_from_cutfile_point(points, k);
                    output_offset_point(centre, offset_centre, offset_radius, subtype, absolute);
                }
                for (int c = 1; c <= 3; ++c) {
                    m.position[c] = end_position[c];
                    m.position_units[c] = end_units[c];
                }
                output_offset_point(centre, offset_centre, offset_radius, subtype, absolute);
                set_circle_reference_label();
                committed = true;
            } else {
                set_arc_plane_words(word1, word2);
                // Centre words by the incremental-centre rule.
                request_arc_axis_words(cs.incremental_centre_mode, centre_word1, centre_word2);
                fedrat();
                // The radius from the piece's start to the centre, negative
                // for a piece of more than half a circle.
                if (has_word(radius_word)) {
                    const int radius = word_integer(start_radius, MULT(radius_word));
                    setwrd(radius_word, arc_piece_radius(radius, radius_word, piece_sweep), SETWRD_SET);
                }

                if (subtype == SUBTYPE_CONE_ANGLE) {
                    vector3 across;
                    cross_product(start_offset, end_offset, across);
                    if (vector_length(across) > OFFSETS_TURN) {
                        // Where the tool's lines in the plane meet.
                        point3 line1, line2;
                        int status1 = 0, status2 = 0;
                        chord_line_2d(start_tip, offset_start, line1, status1);
                        chord_line_2d(end_tip, offset_end, line2, status2);
                        point2 meet;
                        int status = -1;
                        if (status1 == 1 && status2 == 1) intersect_lines_2d(line1, line2, meet, status);
                        if (status != 1) stop_bad_geometry();
                        if (std::hypot(meet[1] - centre[1], meet[2] - centre[2]) > CENTRE_MATCH) {
                            point2 offset_centre;
                            double offset_radius = 0.0;
                            offset_arc(centre, start_tip, end_tip, offset_start, offset_end, offset_centre,
                                       offset_radius, status);
                            if (status != 1) stop_bad_geometry();
                            const double z = end_offset[axial];
                            if (!(std::fabs(z) > 0.0)) stop_bad_geometry();
                            const double t =
                                std::atan((std::fabs(offset_radius) - start_radius) / z) /
                                angle_constants.degrees_to_radians;
                            if (has_word(elevation_word)) {
                                m.position_units[ELEVATION_ELEMENT] = nearest_int(MULT(elevation_word) * t);
                                setwrd(elevation_word, m.position_units[ELEVATION_ELEMENT], SETWRD_SET_REQUEST);
                            }
                        }
                    } else {
                        if (has_word(elevation_word)) {
                            m.position_units[ELEVATION_ELEMENT] = 0;
                            setwrd(elevation_word, 0, SETWRD_SET_REQUEST);
                        }
                        gset(FUNCTION_COMPENSATION_LEFT, SETWRD_SET_REQUEST);
                    }
                } else if (subtype == SUBTYPE_SECOND_CIRCLE) {
                    const point3 offset_middle =
                        plus(point_tip(points, middle_index), required_offset(point_vector(points, middle_index)));
                    multiaxis_arc_values_t& a = multiaxis_arc_values;
                    point2 second_centre;
                    double second_radius = 0.0;
                    int clockwise = 0, status = 1;
                    circle_through_three_points_2d(offset_start, offset_middle, offset_end, second_centre,
                                                   second_radius, clockwise, status);
                    if (status == 0) {
                        a.circle_code = get_gcode_value(clockwise != 0 ? FUNCTION_CIRCLE_CW : FUNCTION_CIRCLE_CCW);
                        a.radius = second_radius;
                        for (int c = 1; c <= 2; ++c)
                            a.centre[c] = cs.incremental_centre_mode != 0 ? offset_start[c] - second_centre[c]
                                                                          : second_centre[c];
                    } else {
                        a.circle_code = get_gcode_value(FUNCTION_LINEAR);
                        a.radius = 0.0;
                    }
                    set_offset_words(offset_end[1], offset_end[2], absolute, subtype);
                }
                run_block(BLOCK_MOVE_CIRCLE);
            }
        }

        if (!committed) commit_current_position();
        // The end offset starts the next piece (and the next arc).
        point3 kept_offset;
        cs.arc_plane_reals = tool_offset(end_vector, kept_offset) ? kept_offset : end_vector;
        if (cs.arc_last_piece != 0) {
            m.position_units[axes[3]] = 0;
            m.position_units[axes[4]] = 0;
            return;
        }
        from = to;
    }
}

}  // namespace kv
