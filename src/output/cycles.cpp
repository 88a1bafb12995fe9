// Drilling cycles: the cycle's function codes and its dwell, feed, clearance,
// depth and peck words once per record, a "move cycle" or "move tap" block per
// hole; the variable-peck form and the helical cycles written as helix arcs.
#include <algorithm>
#include <array>
#include <cmath>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

cycle_state_t cycle_state;
cycle_parameters_t cycle_parameters;
cycle_values_t cycle_values;

// Minor word of the CYCLE record, and the preparatory function written for it.
const array1<cycle_table_row, CYCLE_TABLE_ROWS> cycle_table = {{{
    {163, 21},  // drill
    {288, 22},  // break chip
    {153, 23},  // deep drill
    {168, 24},  // tap
    {209, 25},  // bore 1
    {210, 26},  // bore 2
    {211, 27},  // bore 3
    {212, 28},  // bore 4
    {213, 29},  // bore 5
    {169, 74},  // rigid tap
    {200, 75},  // helical drill
    {201, 76},  // helical retract drill
    {154, 77},  // deep drill 2
}}};

namespace {

constexpr int BLOCK_MOVE_CIRCLE = 10;
constexpr int BLOCK_MOVE_LINEAR = 11;
constexpr int BLOCK_MOVE_CYCLE = 13;
constexpr int BLOCK_MOVE_TAP = 14;
constexpr int BLOCK_CYCLE_START = 18;
constexpr int BLOCK_CYCLE_END = 19;
constexpr int LABEL_DRILL = 17;            // "DRILL"
constexpr int CYCLE_TAP = 4;
constexpr int CYCLE_RIGID_TAP = 10;
constexpr int WORD_FUNCTION_OFFSET = 62;   // "word drill" .. "word bore 5": type + 62
constexpr int FUNCTION_END_OF_DRILL = 30;
constexpr int FUNCTION_REPEAT_HOLE = 31;
constexpr int FUNCTION_CYCLE_RETRACT = 34;
constexpr int FUNCTION_CIRCLE_CW = 3;
constexpr int FUNCTION_CIRCLE_CCW = 4;
constexpr int VARIABLE_PECK_OUTPUT = 4;    // "cycle output" 4
constexpr double HELIX_EPSILON = 0.0001;

bool function_has_word(int n) { return has_word(fcode_word(n)); }

// Cycle words are truncated toward zero, set and requested.
void set_cycle_word(int key, double value) {
    const int w = key_word(key);
    if (!has_word(w)) return;
    setwrd(w, truncate_to_int(static_cast<double>(MULT(w)) * value), SETWRD_SET_REQUEST);
}

// Depth value k of the record; a cycle that names more pecks than it gave
// depths takes its last depth (0 when it gave none), never a stale value.
double depth_at(int k) {
    const int n = std::min(cycle_state.depth_count, MAXPECKS);
    if (n < 1) return 0.0;
    if (k < 1) k = 1;
    if (k > n) k = n;
    return cycle_parameters.depths[k];
}

void cycle_function_or_warning(int function, int type) {
    if (function_has_word(function)) {
        gset(function, SETWRD_SET_REQUEST);
    } else {
        set_message_int_arg(1, type);
        issue_message(142);
    }
}

void end_cycle_output() {
    if (function_has_word(FUNCTION_END_OF_DRILL)) {
        gset(FUNCTION_END_OF_DRILL, SETWRD_SET_REQUEST);
        if (configuration_store.blklen[BLOCK_CYCLE_END] > 0) {
            run_block(BLOCK_CYCLE_END);
        } else {
            end_record_block(0);
        }
    }
}

// One hole's block: "move tap" for the tap types, else "move cycle".
void hole_block(int tap) {
    set_xyz_words();
    setwrd(key_word(10), 0, SETWRD_CANCEL);
    // The hole's Z is not written: the cycle leaves the tool at its retract
    // plane, so the move after the cycle writes Z whatever its value.
    motion_state.unwritten_axes[3] = 1;
    if (configuration_store.blklen[BLOCK_MOVE_CYCLE] == 0) {
        issue_message(144);
    } else {
        run_block(tap ? BLOCK_MOVE_TAP : BLOCK_MOVE_CYCLE);
    }
}

}  // namespace

double holetop_height() {
    double top = cycle_values.hole_top;
    if (get_intsp(98) != 0) top -= workplane_origin_offset();
    return top;
}

void cycle_tool_axis(point3& axis) {
    axis = machine_model.initial_tool_vector;
    if (vector_length(axis) < 0.001) {
        axis.fill(0.0);
        axis[3] = 1.0;
    }
}

void cycle_plane_words(int axis, cycle_plane_t& plane) {
    const int x = key_word(8), y = key_word(9), z = key_word(10);
    const int i = key_word(11), j = key_word(12), k = key_word(13);
    if (axis == 1) {
        plane = {2, 3, 1, y, z, j, k, 7};
    } else if (axis == 2) {
        plane = {3, 1, 2, z, x, k, i, 8};
    } else {
        plane = {1, 2, 3, x, y, i, j, 6};
    }
}

void cycmov(std::span<const double> points, int count) {
    if (get_intsp(104) != 0) clear_modal_memory();
    if (get_intsp(19) == VARIABLE_PECK_OUTPUT) {
        cycmov_variable_peck();
    } else if (count >= 3 && static_cast<std::size_t>(count) <= points.size()) {
        cycle_state_t& cs = cycle_state;
        cycle_values_t& cv = cycle_values;
        const int type = cs.cycle_type;
        const double c = cycle_parameters.clearance;
        const int n = cs.depth_count;
        const int pecks = cs.number_of_pecks;

        set_position_from_cutfile_point(points, 1);
        output_pending_codes();
        end_record_block(1);
        output_pending_codes();
        output_tool_length_offset();

        if (has_word(key_word(21))) set_cycle_word(21, cv.dwell_time);
        const double t = holetop_height();
        const bool use_top = cv.holetop_given != 0 && get_intsp(81) != 0;

        if (type > 0 && type <= CYCLE_TABLE_ROWS) {
            cycle_function_or_warning(cycle_table[type].function, type);
            if (type <= 9 && function_has_word(type + WORD_FUNCTION_OFFSET)) {
                gset(type + WORD_FUNCTION_OFFSET, SETWRD_SET_REQUEST);
            }
        }
        cycle_feed(cycle_parameters.feed, cycle_parameters.feed_per_revolution);
        if (function_has_word(FUNCTION_CYCLE_RETRACT)) {
            gset(FUNCTION_CYCLE_RETRACT, SETWRD_SET_REQUEST);
        } else {
            issue_message(143);
        }

        // Clearance plane.
        vector3 here;
        for (int i = 1; i <= 3; ++i) here[i] = motion_state.position[i];
        const double h = height_along_tool_axis(here);
        cv.clearance_distance = h - c;
        double clear = get_state_flag(21) != 0 && get_intsp(54) != 1 ? h - c : c;
        if (use_top) clear = (h - c) - t;
        set_cycle_word(28, clear);

        // Peck.
        double p = 0.0;
        if (cv.peckdepth_given != 0) {
            p = cv.peck_depth;
            set_cycle_word(26, p);
        } else {
            if (get_intsp(4) == 2) {
                p = depth_at(1) - c;
                set_cycle_word(26, p);
            }
            if (pecks == 2) {
                p = depth_at(1) - h;
                set_cycle_word(26, p);
            } else if (pecks >= 3) {
                p = depth_at(2) - depth_at(1);
                set_cycle_word(26, p);
            }
        }
        if (pecks == 1 && use_top) {
            p = t - h + depth_at(n);
            set_cycle_word(26, p);
        }
        cv.peck = p;

        // Depth.
        cv.depth_distance = h - depth_at(n);
        cv.depth_below_clearance = depth_at(n) - c;
        double depth = get_state_flag(21) != 0 && get_intsp(55) != 1 ? h - depth_at(n) : depth_at(n) - c;
        if (use_top) depth = t - (h - depth_at(n));
        set_cycle_word(27, depth);

        const bool helix = (type == CYCLE_HELICAL_DRILL || type == CYCLE_HELICAL_RETRACT_DRILL) && get_intsp(99) != 0;
        if (get_intsp(19) == 0) end_record_block(1);
        const int last = ((count - 3) / 3) * 3 + 1;
        for (int i = 1; i <= last; i += 3) {
            const bool first = i == 1;
            if (!helix) {
                set_position_from_cutfile_point(points, i);
                compute_increments();
                set_reference_message(LABEL_DRILL);
                if (function_has_word(FUNCTION_REPEAT_HOLE) && (!first || type == cs.last_cycle_type)) {
                    gset(FUNCTION_REPEAT_HOLE, SETWRD_SET_REQUEST);
                }
                cs.last_cycle_type = type;
                add_move_time();
                if (first && configuration_store.blklen[BLOCK_CYCLE_START] > 0) run_block(BLOCK_CYCLE_START);
                hole_block(type == CYCLE_TAP || type == CYCLE_RIGID_TAP);
                add_hole_time(type >= CYCLE_TAP && type <= CYCLE_RIGID_TAP);
                commit_current_position();
            } else {
                if (first && configuration_store.blklen[BLOCK_CYCLE_START] > 0) run_block(BLOCK_CYCLE_START);
                set_xyz_words();
                point3 raw, hole;
                array1<int, 3> units;
                for (int k = 1; k <= 3; ++k) raw[k] = points[static_cast<std::size_t>(i + k - 2)];
                to_machine_units(raw, units, hole);
                const double radius = std::fabs(cv.hole_diameter / 2.0 - tool_state.tool_values[2]);
                point3 axis;
                cycle_tool_axis(axis);
                int status = 0;
                output_helical_cycle(hole, radius, depth_at(n) - c, h - c, axis, p, type, status);
            }
        }
        end_cycle_output();
    }
    cycle_values.holetop_given = 0;
    cycle_values.peckdepth_given = 0;
    cycle_values.numberpecks_given = 0;
    cycle_values.dwell_time = 0.0;
}

void cycmov_variable_peck() {
    cycle_state_t& cs = cycle_state;
    const int type = cs.cycle_type;
    const int pecks = cs.number_of_pecks;
    const double c = cycle_parameters.clearance;
    const int count = point_buffer.point_count;
    if (count < 3) {
        cs.cycle_type = 0;
        return;
    }
    set_move_point(1);
    output_pending_codes();
    output_tool_length_offset();
    clear_modal_memory();
    set_xyz_words();
    cycle_function_or_warning(20 + type, type);
    cycle_feed(cycle_parameters.feed, cycle_parameters.feed_per_revolution);
    const double h = motion_state.position[3] - c;
    set_cycle_word(28, h);
    double depth = h - depth_at(pecks);
    if (pecks > 2) {
        const double m = 5.0 * tool_state.tool_values[2];
        depth = h - m;
        const double r = depth_at(pecks) - c;
        set_cycle_word(26, pecks - 2);
        const double s = 2.0 * m / (pecks - 1) - 2.0 * r / (static_cast<double>(pecks) * pecks - pecks);
        set_cycle_word(41, m - s);
        set_cycle_word(51, s);
    }
    set_cycle_word(27, depth);
    cycle_values.depth_below_clearance = depth_at(pecks) - c;  // for the holes' cutting time
    const int last = ((count - 3) / 3) * 3 + 1;
    for (int i = 1; i <= last; i += 3) {
        set_move_point(i);
        compute_increments();
        set_reference_message(LABEL_DRILL);
        add_move_time();
        if (i == 1 && configuration_store.blklen[BLOCK_CYCLE_START] > 0) run_block(BLOCK_CYCLE_START);
        hole_block(type == CYCLE_TAP);
        add_hole_time(type >= CYCLE_TAP && type <= CYCLE_RIGID_TAP);
        commit_current_position();
    }
    end_cycle_output();
    cs.cycle_type = 0;
}

// --- helical cycles ------------------------------------------------------------------

namespace {

// A straight move of a helical cycle to a point in output units.
void helix_linear_move(const point3& target) {
    std::array<double, 3> values = {target[1], target[2], target[3]};
    set_position_from_point(std::span<const double>(values.data(), values.size()), 1, 0);
    compute_increments();
    const array1<int, 8>& inc = motion_state.increments;
    if (inc[1] != 0 || inc[2] != 0 || inc[3] != 0) {
        if (get_intsp(37) > 0) crc();
        gset(2, SETWRD_SET_REQUEST);
        set_xyz_words();
        fedrat();
        add_move_time();
        run_block(BLOCK_MOVE_LINEAR);
    }
    commit_current_position();
}

point3 plane_point(const cycle_plane_t& pl, double first, double second, double axial) {
    point3 p;
    p[pl.first_axis] = first;
    p[pl.second_axis] = second;
    p[pl.axial] = axial;
    return p;
}

void set_radius_word(int value) {
    const int w = key_word(32);
    if (has_word(w)) setwrd(w, value, SETWRD_SET);
}

// Helical drilling: down k full turns from the clearance, a partial turn,
// the exit arcs and the move back to the centre. The retract form enters
// with a lead-in quarter arc at the bottom and climbs instead.
void output_helix(const point3& hole, double a, double b, const point3& v, double c, const point3& start,
                  const cycle_plane_t& pl, int retract, int& status) {
    status = -1;
    (void)v;  // the tool axis lies along the helix's axial index
    ppword_state_t& pw = ppword_state;
    if (pw.compensation_state != COMPENSATION_OFF) set_status_flag(22, 1);
    circle_state.incremental_centre_mode = get_intsp(28) == 1 ? 1 : 0;
    circle_state.arc_reversed = 0;
    if (get_gcode_value(FUNCTION_CIRCLE_CCW) == UNSET_CODE && !function_has_word(FUNCTION_CIRCLE_CW)) {
        issue_message(129);
    }
    const int x = key_word(8), y = key_word(9), z = key_word(10);
    const double mult = MULT(x);
    const double mult_r = MULT(key_word(32));
    const double h1 = hole[pl.first_axis], h2 = hole[pl.second_axis];
    const double s_axial = start[pl.axial];
    // A pitch of 0 makes no full turns: the whole depth is the partial turn.
    const int turns = c != 0.0 ? truncate_to_int(std::fabs(b) / std::fabs(c)) : 0;

    const double programmed = feed_state.feedrate;
    const int row = toolpath_row(current_toolpath_index());
    const int keep_compensation = pw.compensation_state;
    feed_state.feedrate = toolpath_tables.toolpath_first_feed[row];
    fedrat();
    setwrd(key_word(16), 0, SETWRD_REQUEST);

    double axial_now = s_axial;
    double step = std::fabs(c);
    if (retract == 0) {
        helix_linear_move(plane_point(pl, h1, h2, s_axial));
        feed_state.feedrate = cycle_parameters.feed;
        fedrat();
        setwrd(key_word(16), 0, SETWRD_REQUEST);
        helix_linear_move(start);
    } else {
        const double u = 1.0 / mult;
        helix_linear_move(plane_point(pl, h1 + 2 * u, h2 - 2 * u, s_axial));
        helix_linear_move(plane_point(pl, h1, h2, s_axial));
        helix_linear_move(plane_point(pl, h1, h2, s_axial - std::fabs(b) + a));
        feed_state.feedrate = programmed;
        fedrat();
        // Lead-in quarter arc in the plane of the tool axis and the first
        // plane axis, from the plunge point down onto the helix radius.
        cycle_plane_t side;
        cycle_plane_words(pl.second_axis, side);
        gset(side.plane_function, SETWRD_SET_REQUEST);
        gset(FUNCTION_CIRCLE_CW, SETWRD_SET_REQUEST);
        const point3 p = plane_point(pl, h1, h2, s_axial - std::fabs(b) + a);
        const point3 centre = plane_point(pl, h1 + a, h2, s_axial - std::fabs(b) + a);
        const point3 end = plane_point(pl, h1 + a, h2, s_axial - std::fabs(b));
        const int centre_words[4] = {0, key_word(11), key_word(12), key_word(13)};
        for (int k = 1; k <= 3; ++k) {
            if (!has_word(centre_words[k])) continue;
            const double m = MULT(centre_words[k]);
            const int value = circle_state.incremental_centre_mode != 0 ? word_integer(p[k] - centre[k], m)
                                                                         : word_integer(centre[k], m);
            setwrd(centre_words[k], value, SETWRD_SET);
        }
        request_arc_centre_words(circle_state.incremental_centre_mode, side.first_centre_word,
                                 side.second_centre_word);
        request_arc_axis_words(get_intsp(20), side.first_word, side.second_word);
        set_radius_word(nearest_int(mult_r * a));
        set_helix_point_words(end, x, y, z);
        fedrat();
        run_block(BLOCK_MOVE_CIRCLE);
        commit_current_position();
        gset(pl.plane_function, SETWRD_SET_REQUEST);
        axial_now = s_axial - std::fabs(b);
        step = -std::fabs(c);
    }
    gset(FUNCTION_CIRCLE_CCW, SETWRD_SET_REQUEST);

    // Centre values of the arcs about the hole, each at its centre word's
    // resolution.
    const double mult1 = has_word(pl.first_centre_word) ? MULT(pl.first_centre_word) : mult;
    const double mult2 = has_word(pl.second_centre_word) ? MULT(pl.second_centre_word) : mult;
    const double inc1 = (start[pl.first_axis] - h1) * mult1, inc2 = (start[pl.second_axis] - h2) * mult2;
    const bool incremental = circle_state.incremental_centre_mode != 0;
    auto arc_to = [&](double first, double second, double axial, double centre1, double centre2, int radius) {
        if (helix_as_lines() && word_integer(axial, axis_mult(pl.axial)) != motion_state.position_units[pl.axial]) {
            // A turn that rises, for a control whose arcs take no helix:
            // straight moves about the hole, then arcs again.
            gset(FUNCTION_CIRCLE_CCW, SETWRD_CANCEL);
            output_helix_as_lines(plane_point(pl, h1, h2, axial), plane_point(pl, first, second, axial),
                                  pl.first_axis, pl.second_axis, pl.axial);
            gset(FUNCTION_CIRCLE_CCW, SETWRD_SET_REQUEST);
            return;
        }
        set_radius_word(radius);
        output_helix_arc(plane_point(pl, first, second, axial), centre1, centre2, x, y, z, pl.first_word,
                         pl.second_word, pl.first_centre_word, pl.second_centre_word, key_word(32));
        commit_current_position();
    };
    const double abs1 = word_integer(h1, mult1), abs2 = word_integer(h2, mult2);
    for (int k = 1; k <= turns; ++k) {
        axial_now -= step;
        arc_to(h1 + a, h2, axial_now, incremental ? inc1 : abs1, incremental ? inc2 : abs2,
               -nearest_int(mult_r * a));
    }
    const double target = retract == 0 ? s_axial - b : s_axial;
    double rest = std::fabs(std::fabs(b) - std::fabs(c) * turns);
    double g = 0.0, x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
    helix_quarter_points(rest, a, c != 0.0 ? c : 1.0, g, x1, y1, x2, y2);
    if (c == 0.0) {
        // Without a pitch the partial turn is no turn at all.
        x1 = a;
        y1 = 0.0;
        x2 = a * g;
        y2 = 0.0;
    }
    if (rest > HELIX_EPSILON) {
        int radius = nearest_int(mult_r * a);
        if (c != 0.0 && rest / c > 0.5) radius = -radius;
        arc_to(h1 + x1, h2 + y1, target, incremental ? inc1 : abs1, incremental ? inc2 : abs2, radius);
    }
    // Exit arcs: half a turn over, back, and a small arc off the wall.
    arc_to(h1 - x1, h2 - y1, target, incremental ? word_integer(x1, mult1) : abs1,
           incremental ? word_integer(y1, mult2) : abs2, word_integer(a, mult_r));
    arc_to(h1 + x1, h2 + y1, target, incremental ? -word_integer(x1, mult1) : abs1,
           incremental ? -word_integer(y1, mult2) : abs2, word_integer(a, mult_r));
    arc_to(h1 + x2, h2 + y2, target, incremental ? word_integer(g * x1, mult1) : word_integer((1 - g) * x1 + h1, mult1),
           incremental ? word_integer(g * y1, mult2) : word_integer((1 - g) * y1 + h2, mult2),
           word_integer(a * g, mult_r));

    // Back to the centre with compensation off.
    pw.compensation_state = COMPENSATION_OFF;
    set_status_flag(22, 1);
    helix_linear_move(plane_point(pl, h1, h2, target));
    if (retract == 0) {
        feed_state.feedrate = toolpath_tables.toolpath_first_feed[row];
        fedrat();
        helix_linear_move(plane_point(pl, h1, h2, s_axial));
    }
    feed_state.feedrate = programmed;
    pw.compensation_state = keep_compensation;
    status = 0;
}

}  // namespace

void output_helical_cycle(const point3& hole, double radius, double depth, double clearance,
                          const point3& tool_axis, double pitch, int type, int& status) {
    status = -1;
    pending_move_flags.rapid_pending = 0;
    int axis = 2;
    if (std::fabs(tool_axis[3]) >= ARC_AXIS_TOLERANCE) {
        axis = 3;
    } else if (std::fabs(tool_axis[1]) >= ARC_AXIS_TOLERANCE) {
        axis = 1;
    }
    cycle_plane_t plane;
    cycle_plane_words(axis, plane);
    gset(plane.plane_function, SETWRD_SET_REQUEST);
    point3 start;
    start[plane.first_axis] = hole[plane.first_axis] + radius;
    start[plane.second_axis] = hole[plane.second_axis];
    start[plane.axial] = clearance;
    point3 v;
    for (int i = 1; i <= 3; ++i) v[i] = std::fabs(tool_axis[i]);
    if (type == CYCLE_HELICAL_DRILL) {
        output_helix(hole, radius, depth, v, pitch, start, plane, 0, status);
    } else if (type == CYCLE_HELICAL_RETRACT_DRILL) {
        output_helix(hole, radius, depth, v, pitch, start, plane, 1, status);
    }
}

}  // namespace kv
