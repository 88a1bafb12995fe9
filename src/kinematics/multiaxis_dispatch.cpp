// Multi-axis motion dispatch: the GOTO dispatch of a rotary machine (with
// multi-axis mode off and on), the collection of tips, tool vectors and
// contact normals, the move loop, the FROM record, the go home and tilted cycles.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

repeated_point_state_t repeated_point_state;

namespace {

constexpr int GOTO_CLASS = 5000;
constexpr int CONTACT_NORMAL_CLASS = 32000;
constexpr int MULTAX_CLASS = 9000;
constexpr int MULTAX_SUBCLASS = 2;
constexpr int FROM_SUBCLASS = 3;
constexpr int CONTINUATION_SUBCLASS = 6;
constexpr int FIRST_COORDINATE_WORD = 3;
constexpr int FROM_WITH_VECTOR_WORDS = 8;
// Integer settings.
constexpr int GO_HOME_OUTPUT_SETTING = 30;
constexpr int MULTIAXIS_FEED_SETTING = 71;
constexpr int WIRE_MODE_SETTING = 79;
constexpr int WORKPLANE_ANGLES_SETTING = 82;
constexpr int PREVIOUS_RAPID_STYLE_SETTING = 90;  // "previous multax rapid style"
constexpr int MULTIAXIS_RAPIDS_SETTING = 102;     // "output rapids in multiaxis"
constexpr int ARCS_IN_FIVE_AXIS_SETTING = 108;    // "allow arcs in five axis"
constexpr int RAPID_FEEDRATE_REAL = 3;
constexpr int RAPID_STYLE_LAST_VERSION = 10505;   // cutfiles up to it keep rapid blocks
// Keys and functions.
constexpr int AZIMUTH_KEY = 36;
constexpr int ELEVATION_KEY = 37;
constexpr int RAPID_FUNCTION = 1;
// Blocks.
constexpr int GO_HOME_PREAMBLE_BLOCK = 3;
constexpr int GO_HOME_Z_BLOCK = 7;
constexpr int GO_HOME_XY_BLOCK = 8;
constexpr int MOVE_FROM_BLOCK = 9;
constexpr int DATUM_SHIFT_BLOCK = 22;
constexpr int MULTIAXIS_TRANSITION_BLOCK = 23;
constexpr int TOOL_CHANGE_LABEL = 10;             // message 40 "TOOL CHANGE"
// State flags.
constexpr int MULTIAXIS_MODE_FLAG = 20;
constexpr int CONTACT_NORMALS_FLAG = 31;
constexpr int ROTARY_WORD_SET_FLAG = 108;         // a block item set a rotary word
constexpr int LINEAR_WORD_SET_FLAG = 109;         // a block item set a linear word
// Messages.
constexpr int EXPANDED_CYCLE_MESSAGE = 255;
constexpr double REPEAT_TOLERANCE = 1e-5;
constexpr double AXIS_TOLERANCE = 1e-5;

int block_has_items(int b) { return configuration_store.blklen[b] > 0; }


int spline_pending() { return pending_move_flags.spline_a_pending || pending_move_flags.spline_b_pending; }

void clear_pending_flags() {
    pending_move_flags_t& f = pending_move_flags;
    f.go_home_pending = 0;
    f.circle_pending = 0;
    f.rapid_pending = 0;
    f.spline_a_pending = 0;
    f.spline_b_pending = 0;
    f.thread_pending = 0;
    f.cycle_pending = 0;
}

void output_feed_words() {
    if (get_intsp(MULTIAXIS_FEED_SETTING) == 1) {
        fedrat_multiaxis();
    } else {
        fedrat();
    }
}

vector3 triple(std::span<const double> values, int p) {
    vector3 v;
    for (int i = 1; i <= 3; ++i) v[i] = values[static_cast<std::size_t>(3 * (p - 1) + i - 1)];
    return v;
}

void put_triple(std::span<double> values, int p, const vector3& v) {
    for (int i = 1; i <= 3; ++i) values[static_cast<std::size_t>(3 * (p - 1) + i - 1)] = v[i];
}

vector3 previous_machine_position() {
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = motion_state.previous_position[i];
    return p;
}

// The previous rotary angles in the order (azimuth, elevation).
double previous_azimuth() { return motion_state.previous_rotary_angles[2]; }
double previous_elevation() { return motion_state.previous_rotary_angles[1]; }

void set_previous_angles(double azimuth, double elevation) {
    motion_state.previous_rotary_angles[1] = elevation;
    motion_state.previous_rotary_angles[2] = azimuth;
}

// position and position_units (1-3) from a point in cutfile units.
void set_position_in_output_units(const vector3& point) {
    array1<int, 3> units;
    array1<double, 3> out;
    to_machine_units(point, units, out);
    for (int i = 1; i <= 3; ++i) {
        motion_state.position[i] = out[i];
        motion_state.position_units[i] = units[i];
    }
}

void set_position(const vector3& p) {
    for (int i = 1; i <= 3; ++i) motion_state.position[i] = p[i];
}

// A rotary axis's reference angle for the go home: 0 when its range holds 0,
// else the middle of the range.
double reference_angle(double minimum, double maximum) {
    if (minimum <= AXIS_TOLERANCE && maximum >= -AXIS_TOLERANCE) return 0.0;
    return (minimum + maximum) / 2.0;
}

// The rapid of a multi-axis machine with multi-axis mode off: a rapid block,
// or a linear move at the rapid feedrate.
void output_rapid_of_rotary_machine() {
    const int old_style = get_intsp(WORKPLANE_ANGLES_SETTING) == 0 &&
                          pass1_results.codebase_version[1] <= RAPID_STYLE_LAST_VERSION;
    if (old_style || get_intsp(PREVIOUS_RAPID_STYLE_SETTING) == 1 || get_intsp(MULTIAXIS_RAPIDS_SETTING) == 1) {
        output_rapid_move();
        return;
    }
    const double kept = feed_state.feedrate;
    feed_state.feedrate = std::fabs(spval(RAPID_FEEDRATE_REAL));
    output_linear_move();
    feed_state.feedrate = kept;
}

// A tool vector turned by the pcs rotation, as the collection turns the
// vectors of a record.
vector3 pcs_rotated(const vector3& v) {
    point4 in{{v[1], v[2], v[3], 1.0}};
    point4 out;
    transform_point4(in, out, pcs_matrices.pcs_rotation);
    return vector3{{out[1], out[2], out[3]}};
}

// The tool axis that the points of a GOTO without tool vectors take, in the
// part frame: the first move of a toolpath (and after a set-up or a go home)
// takes the toolpath's own tool axis, the one its FROM record or workplane
// gave and for which its rotary workplane was solved; later moves keep the
// tool axis in force.
vector3 axis_of_points_without_vectors() {
    const multiaxis_motion_state_t& s = multiaxis_motion_state;
    if (s.multiaxis_restart_state == 0) return s.tool_axis;
    return pcs_rotated(toolpath_tables.toolpath_from_axis[current_toolpath_index()]);
}

}  // namespace

void arm_repeated_point_test(int armed) { repeated_point_state.armed = armed; }

int is_repeated_point(const vector3& tip, const vector3& tool_vector) {
    repeated_point_state_t& r = repeated_point_state;
    vector3 v = tool_vector;
    normalize_vector(v);
    int repeated = 0;
    if (r.armed) {
        r.armed = 0;
    } else {
        repeated = vector_angle(v, r.tool_vector) < REPEAT_TOLERANCE;
        for (int i = 1; i <= 3; ++i) {
            if (!(std::fabs(tip[i] - r.tip[i]) < REPEAT_TOLERANCE)) repeated = 0;
        }
    }
    r.tip = tip;
    r.tool_vector = v;
    return repeated;
}

void collect_multiaxis_points(int with_normals, int drop_repeats, int& count) {
    point_buffer_t& b = point_buffer;
    point_column& raw = b.column[POINT_COLUMN_RAW];
    const std::span<double> tips = point_column_values(POINT_COLUMN_TIPS);
    const std::span<double> vectors = point_column_values(POINT_COLUMN_VECTORS);
    const std::span<double> normals = point_column_values(POINT_COLUMN_NORMALS);
    const vector3 held_axis = axis_of_points_without_vectors();
    b.point_count = 0;
    b.all_joined = 1;
    count = 0;
    int last_word = cldata_data_count();
    for (;;) {
        const int first = b.point_count + 1;
        for (int i = FIRST_COORDINATE_WORD; i <= last_word && b.point_count < POINT_BUFFER_VALUES; ++i) {
            b.point_count += 1;
            raw[b.point_count] = cldata_real_word(i);
        }
        const int last = b.point_count;
        const int joined = check_continuation_record(b.point_count, b.more_points_flag, last_word, b.all_joined);
        // A record whose values make whole x, y, z triples but not whole
        // six-value points carries no tool vectors: three values a point.
        const int values = last - first + 1;
        const int without_vectors = !with_normals && values % 3 == 0 && values % 6 != 0;
        const int stride = with_normals ? 9 : (without_vectors ? 3 : 6);
        for (int p = first; p <= last; p += stride) {
            // A point cut short by the record's end takes 0 for its missing values.
            auto value = [&](int k) { return p + k <= last ? raw[p + k] : 0.0; };
            vector3 tip, tool_vector, normal;
            for (int i = 1; i <= 3; ++i) {
                tip[i] = value(i - 1);
                tool_vector[i] = value(i + 2);
                normal[i] = with_normals ? value(i + 5) : 0.0;
            }
            // No tool vector (or a zero one, which has no direction to solve
            // rotary angles for): the point keeps the held tool axis.
            const int vector_given = !without_vectors && vector_length(tool_vector) >= VECTOR_GIVEN_LENGTH;
            const vector3 axis = vector_given ? pcs_rotated(tool_vector) : held_axis;
            array1<int, 3> units;
            array1<double, 3> converted;
            to_machine_units(tip, units, converted);
            if (drop_repeats && is_repeated_point(converted, axis)) continue;
            count += 1;
            put_triple(tips, count, converted);
            put_triple(vectors, count, axis);
            if (with_normals) {
                put_triple(normals, count, pcs_rotated(normal));
            } else {
                put_triple(normals, count, multiaxis_motion_state.contact_normal);
            }
        }
        if (!joined) break;
    }
}

void process_multiaxis_moves(std::span<const double> tips, std::span<const double> vectors,
                             std::span<const double> normals, int count, double& azimuth, double& elevation,
                             vector3& tip, vector3& axis, vector3& normal) {
    const int with_normals = get_state_flag(CONTACT_NORMALS_FLAG) != 0;
    for (int p = 1; p <= count; ++p) {
        output_feed_words();
        const vector3 end_tip = triple(tips, p);
        const vector3 end_axis = triple(vectors, p);
        const vector3 end_normal = with_normals ? triple(normals, p) : normal;
        int status = MULTIAXIS_OK;
        angle_pair last_step{{azimuth, elevation}};
        if (machine_model.linearise_multiaxis != 0 &&
            std::fabs(vector_angle(end_axis, axis) - angle_constants.pi_value) <= angle_constants.angle_tolerance) {
            status = MULTIAXIS_ANTI_PARALLEL;
        } else {
            angle_pair current{{azimuth, elevation}};
            linearise_multiaxis_move(tip, axis, normal, end_tip, end_axis, end_normal, last_step, current, status);
            azimuth = current[1];
            elevation = current[2];
        }
        if (status != MULTIAXIS_OK) {
            report_multiaxis_error(status, last_step[1], last_step[2]);
            stop_run(4);
        }
    }
    set_previous_angles(azimuth, elevation);
}

void machine_point_from_part(vector3& machine, const vector3& tip, double azimuth, double elevation,
                             vector3& axis) {
    const double tolerance = angle_constants.angle_tolerance;
    vector3 p = tip;
    kinematic_transform_point(p, radians(azimuth), radians(elevation));
    if (point_distance(p, machine) >= tolerance) machine = p;
    vector3 t;
    rotate_initial_tool_vector(radians(azimuth), radians(elevation), t);
    if (vector_angle(t, axis) >= tolerance) axis = t;
}

void part_point_from_machine(const vector3& machine, vector3& tip, double azimuth, double elevation,
                             vector3& axis) {
    const double tolerance = angle_constants.angle_tolerance;
    vector3 p = machine;
    inverse_kinematic_transform_point(p, radians(azimuth), radians(elevation));
    if (point_distance(p, tip) >= tolerance) tip = p;
    vector3 t;
    rotate_initial_tool_vector(radians(azimuth), radians(elevation), t);
    if (vector_angle(t, axis) >= tolerance) axis = t;
}

void process_multiaxis_first_point(double& azimuth, double& elevation, vector3& tip, vector3& axis) {
    const int multiaxis_off_follows = record_int_word(1, 2) == MULTAX_CLASS &&
                                      record_int_word(1, 3) == MULTAX_SUBCLASS &&
                                      record_int_word(1, 0) - 3 >= 1 && record_int_word(1, 4) == 0;
    if (cldata_data_count() == FROM_WITH_VECTOR_WORDS && multiaxis_off_follows) {
        process_from_record_multiaxis();
        return;
    }
    output_multiaxis_from_point(azimuth, elevation, tip, axis);
}

void process_from_record_multiaxis() {
    committed_rotary_state_t& c = committed_rotary_state;
    motion_state_t& m = motion_state;
    point_buffer.point_count = 0;
    point_buffer.all_joined = 1;
    collect_goto_points(cldata_data_count(), point_buffer.all_joined);
    const point_column& raw = point_buffer.column[POINT_COLUMN_RAW];
    auto value = [&](int k) { return point_buffer.point_count >= k ? raw[k] : 0.0; };
    for (int i = 1; i <= 3; ++i) {
        c.tip[i] = value(i);
        c.tool_axis[i] = value(i + 3);
    }
    multiaxis_motion_state.tool_axis = c.tool_axis;

    int status = 0;
    handle_record_28000(status);
    if (status != 0) stop_run(4);
    set_angles_for_tool_axis(c.tip);

    c.machine_point = c.tip;
    kinematic_transform_point(c.machine_point, c.azimuth_radians, c.elevation_radians);
    set_position_in_output_units(c.machine_point);
    m.rotary_angles[1] = c.elevation;
    m.rotary_angles[2] = c.azimuth;
    set_previous_angles(c.previous_azimuth, c.previous_elevation);

    compute_increments();
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    set_xyz_words();
    pass1_results.from_position = c.tip;
    if (block_has_items(MOVE_FROM_BLOCK)) {
        set_reference_message(TOOL_CHANGE_LABEL);
        run_block(MOVE_FROM_BLOCK);
        commit_current_position();
    } else {
        take_position_without_output();
    }
}

void process_go_home_multiaxis() {
    motion_state_t& m = motion_state;
    const machine_model_t& mm = machine_model;
    run_block(GO_HOME_PREAMBLE_BLOCK);
    vector3 home, record_axis;
    for (int i = 1; i <= 3; ++i) {
        home[i] = cldata_real_word(FIRST_COORDINATE_WORD + i - 1);
        record_axis[i] = cldata_real_word(FIRST_COORDINATE_WORD + i + 2);
    }
    // The home tool axis is a cutfile vector like those of a move.
    const vector3 home_axis = pcs_rotated(record_axis);
    const double azimuth0 = previous_azimuth();
    const double elevation0 = previous_elevation();
    m.rotary_angles[1] = elevation0;
    m.rotary_angles[2] = azimuth0;
    set_position_in_output_units(home);
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = m.position[i];
    kinematic_transform_point(p, radians(azimuth0), radians(elevation0));
    set_position(p);
    vector3 current_axis;
    rotate_initial_tool_vector(radians(azimuth0), radians(elevation0), current_axis);
    normalize_vector(current_axis);

    if (get_intsp(GO_HOME_OUTPUT_SETTING) == 0) {
        // Nothing is written: the motion goes on from the home point.
        round_positions();
        take_position_without_output();
        return;
    }
    const double azimuth_reference = reference_angle(azimuth_minimum(), azimuth_maximum());
    const double elevation_reference = reference_angle(elevation_minimum(), elevation_maximum());
    angle_pair solved_radians, solved;
    int status = 0;
    solve_rotary_angles(home_axis, solved_radians, solved, azimuth0, elevation0, status);
    double azimuth = solved[1];
    double elevation = solved[2];
    // Along the pole axis the rotation about it is free: it goes to 0.
    const double tolerance = angle_constants.angle_tolerance;
    int along = 1, against = 1;
    for (int i = 1; i <= 3; ++i) {
        if (std::fabs(home_axis[i] - mm.pole_axis[i]) > tolerance) along = 0;
        if (std::fabs(home_axis[i] + mm.pole_axis[i]) > tolerance) against = 0;
    }
    if (along || against) {
        if (mm.machine_type == MACHINE_TABLE_TABLE || mm.machine_type == MACHINE_HEAD_TABLE) elevation = 0.0;
        if (mm.machine_type == MACHINE_HEAD_HEAD) azimuth = 0.0;
    }
    // Each angle goes to its equivalent nearest the reference, whatever the
    // move before: the first-move rule would aim for the middle of the limit
    // range, some 450000 degrees away when the limits are unset.
    // A home angle with no equivalent inside its limits stops the run as a
    // move's would: the machine cannot turn there.
    int azimuth_status = 0, elevation_status = 0;
    fit_angle_near(azimuth, azimuth_reference, azimuth_minimum(), azimuth_maximum(), azimuth_status);
    fit_angle_near(elevation, elevation_reference, elevation_minimum(), elevation_maximum(), elevation_status);
    if (azimuth_status != 0 || elevation_status != 0) {
        report_multiaxis_error(ROTARY_OUTSIDE_LIMITS, azimuth, elevation);
        stop_run(EXIT_RUN_ERROR);
    }

    // Retract along the current tool axis unless it is vertical; the rotary
    // axes stay where they are.
    if (std::fabs(current_axis[1]) > AXIS_TOLERANCE || std::fabs(current_axis[2]) > AXIS_TOLERANCE) {
        vector3 r = previous_machine_position();
        inverse_kinematic_transform_point(r, radians(azimuth0), radians(elevation0));
        vector3 direction = current_axis;
        vector_to_tip_frame(direction);
        for (int i = 1; i <= 3; ++i) r[i] += mm.withdrawal * direction[i];
        kinematic_transform_point(r, radians(azimuth0), radians(elevation0));
        set_position(r);
    }
    round_positions();
    compute_increments();
    request_xyz_words();
    gset(RAPID_FUNCTION, SETWRD_SET_REQUEST);
    run_block(GO_HOME_Z_BLOCK);
    commit_current_position();

    // The home point at the home angles; the rotary words carry the angles
    // as every move's do (head offsets, linear units, directions,
    // incremental mode).
    m.rotary_angles[1] = elevation;
    m.rotary_angles[2] = azimuth;
    set_position_in_output_units(home);
    for (int i = 1; i <= 3; ++i) p[i] = m.position[i];
    kinematic_transform_point(p, radians(azimuth), radians(elevation));
    set_position(p);
    round_positions();
    compute_increments();
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    setwrd(key_word(AZIMUTH_KEY), 0, SETWRD_REQUEST);
    setwrd(key_word(ELEVATION_KEY), 0, SETWRD_REQUEST);
    request_xyz_words();
    run_block(GO_HOME_XY_BLOCK);
    commit_current_position();
}

void process_multiaxis_cycle(std::span<double> tips, int count, const vector3& axis, int& status) {
    status = MULTIAXIS_OK;
    const double azimuth = previous_azimuth();
    const double elevation = previous_elevation();
    const int workplane_angles = get_intsp(WORKPLANE_ANGLES_SETTING) != 0;
    if (machine_model.machine_type == MACHINE_TABLE_TABLE && !workplane_angles) {
        kinematic_transform_points(tips, count, radians(azimuth), radians(elevation));
        cycmov(tips, 3 * count);
        return;
    }
    if (workplane_angles) {
        workplane_for_tool_axis(axis, azimuth, elevation, status);
        if (status != 0) return;
        if (block_has_items(DATUM_SHIFT_BLOCK)) {
            run_block(DATUM_SHIFT_BLOCK);
            workplane_part_to_machine_points(tips, count);
            set_status_flag(MULTIAXIS_MODE_FLAG, 0);
            cycmov(tips, 3 * count);
            set_status_flag(MULTIAXIS_MODE_FLAG, 1);
            if (block_has_items(MULTIAXIS_TRANSITION_BLOCK)) run_block(MULTIAXIS_TRANSITION_BLOCK);
            return;
        }
    }
    status = MULTIAXIS_NO_DATUM_SHIFT;
}

// --- the GOTO dispatch of a rotary machine --------------------------------------------

void dispatch_goto(int& status) {
    point_buffer_t& b = point_buffer;
    pending_move_flags_t& f = pending_move_flags;
    f.multiaxis_transition_pending = 1;
    status = 0;
    b.point_count = 0;
    b.all_joined = 1;
    if (spline_pending() && cldata_subclass() == CONTINUATION_SUBCLASS) b.point_count = 3;
    collect_goto_points(cldata_data_count(), b.all_joined);

    point_column& raw = b.column[POINT_COLUMN_RAW];
    point_column& copy = b.column[POINT_COLUMN_COPY];
    point_column& tips = b.column[POINT_COLUMN_TIPS];
    const int normals = get_state_flag(CONTACT_NORMALS_FLAG) != 0;
    int count = b.point_count;
    if (normals) {
        for (int i = 1; i <= b.point_count + 3; ++i) copy[i] = raw[i];
        count = b.point_count / 2;
    }
    move_to_workplane_tool_axis(vector3{{tips[1], tips[2], tips[3]}});

    // Only the tips are machine points: with contact normals the normals are
    // restored after the transform.
    const int triples = b.point_count / 3 + (b.more_points_flag ? 1 : 0);
    part_to_machine_points(point_column_values(POINT_COLUMN_RAW), triples);
    const int stride = normals ? 6 : 3;
    if (normals) {
        for (int g = 1; g + 5 <= b.point_count; g += 6) {
            for (int i = 3; i <= 5; ++i) raw[g + i] = copy[g + i];
        }
    }
    int n = 0;
    for (int g = 1; g + 2 <= b.point_count; g += stride) {
        for (int i = 0; i < 3; ++i) tips[n + 1 + i] = raw[g + i];
        n += 3;
    }
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    if (f.datum_shift_pending) {
        f.datum_shift_pending = 0;
        if (block_has_items(DATUM_SHIFT_BLOCK)) run_block(DATUM_SHIFT_BLOCK);
    }

    const std::span<double> machine_tips = point_column_values(POINT_COLUMN_TIPS);
    const int workplane_angles = get_intsp(WORKPLANE_ANGLES_SETTING) != 0;
    if (cldata_subclass() == FROM_SUBCLASS) {
        if (workplane_angles && get_state_flag(MULTIAXIS_MODE_FLAG) != 0) {
            process_from_record_multiaxis();
        } else {
            output_from_move();
        }
    } else if (spline_pending()) {
        dispatch_spline();
    } else if (f.circle_pending) {
        if (get_intsp(WIRE_MODE_SETTING) != 0) {
            arcmov_wire();
        } else {
            arcmov(machine_tips, count, status);
        }
    } else if (f.cycle_pending) {
        if (is_tool_axis_principal() || workplane_angles || machine_model.machine_type == MACHINE_TABLE_TABLE) {
            cycmov(machine_tips, count);
        } else {
            issue_message(EXPANDED_CYCLE_MESSAGE);
            stop_run(4);
        }
    } else if (get_intsp(WIRE_MODE_SETTING) != 0 && f.rapid_pending) {
        // A rapid or a go home (which sets the rapid too) is no cut.
        output_wire_rapid(output_rapid_of_rotary_machine);
    } else if (get_intsp(WIRE_MODE_SETTING) != 0) {
        output_wire_move();
    } else if (f.go_home_pending) {
        output_go_home_two_step();
    } else if (!f.rapid_pending) {
        output_linear_move();
    } else {
        output_rapid_of_rotary_machine();
    }

    vector3 tip = previous_machine_position();
    machine_to_part_point(tip);
    multiaxis_motion_state.tool_tip = tip;

    if (b.all_joined) {
        clear_pending_flags();
    } else if (spline_pending() && b.point_count >= 3) {
        for (int i = 1; i <= 3; ++i) raw[i] = raw[b.point_count - 3 + i];
    }
    multiaxis_motion_state.multiaxis_restart_state = 0;
}

void dispatch_goto_multiaxis() {
    point_buffer_t& b = point_buffer;
    pending_move_flags_t& f = pending_move_flags;
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    const machine_model_t& mm = machine_model;
    b.point_count = 0;
    int transition = 0;
    if (f.multiaxis_transition_pending) {
        f.multiaxis_transition_pending = 0;
        if (block_has_items(MULTIAXIS_TRANSITION_BLOCK)) run_block(MULTIAXIS_TRANSITION_BLOCK);
        transition = 1;
    }

    if (cldata_subclass() == FROM_SUBCLASS) {
        if (mm.machine_type == MACHINE_HEAD_PAIR) {
            process_azimuth_elevation_moves();
            return;
        }
        double azimuth = previous_azimuth();
        double elevation = previous_elevation();
        process_multiaxis_first_point(azimuth, elevation, s.tool_tip, s.tool_axis);
        // A new toolpath starts at its FROM: its first move is a first move
        // from the FROM's angles, which are not set back to 0.
        if (s.multiaxis_restart_state == 2) s.multiaxis_restart_state = 1;
        if (get_state_flag(ROTARY_WORD_SET_FLAG) == 0) set_previous_angles(azimuth, elevation);
        if (get_state_flag(LINEAR_WORD_SET_FLAG) == 0) {
            vector3 p = s.tool_tip;
            kinematic_transform_point(p, radians(azimuth), radians(elevation));
            for (int i = 1; i <= 3; ++i) motion_state.previous_position[i] = p[i];
        }
        return;
    }

    if (mm.machine_type == MACHINE_HEAD_PAIR) {
        process_azimuth_elevation_moves();
    } else if (f.go_home_pending) {
        process_go_home_multiaxis();
        f.go_home_pending = 0;
        f.rapid_pending = 0;
        s.multiaxis_restart_state = 1;
        // The machine stays at the home angles: the next move starts from
        // the home point with the tool axis of those angles.
        vector3 home;
        for (int i = 1; i <= 3; ++i) home[i] = cldata_real_word(FIRST_COORDINATE_WORD + i - 1);
        array1<int, 3> units;
        to_machine_units(home, units, s.tool_tip);
        rotate_initial_tool_vector(radians(previous_azimuth()), radians(previous_elevation()), s.tool_axis);
        normalize_vector(s.tool_axis);
        setwrd(key_word(AZIMUTH_KEY), 0, SETWRD_FORGET);
        setwrd(key_word(ELEVATION_KEY), 0, SETWRD_FORGET);
        commit_rotary_angles();
        return;
    } else {
        int count = 0;
        // Every tool change starts a new toolpath: its first point is never
        // taken for a repeat of the last point of the tool before.
        if (s.multiaxis_restart_state == 2) arm_repeated_point_test(1);
        const int drop_repeats = !(f.circle_pending || f.cycle_pending || f.spline_a_pending);
        collect_multiaxis_points(get_state_flag(CONTACT_NORMALS_FLAG) != 0, drop_repeats, count);
        const int workplane_angles = get_intsp(WORKPLANE_ANGLES_SETTING) != 0;
        if (s.multiaxis_restart_state == 2) {
            s.multiaxis_restart_state = 1;
            if (!(mm.linearise_multiaxis != 0 && !workplane_angles)) {
                set_previous_angles(0.0, 0.0);
                if (workplane_angles) s.tool_axis = mm.initial_tool_vector;
            }
        }
        const std::span<double> tips = point_column_values(POINT_COLUMN_TIPS);
        const std::span<double> vectors = point_column_values(POINT_COLUMN_VECTORS);
        const std::span<double> normals = point_column_values(POINT_COLUMN_NORMALS);
        if (f.cycle_pending) {
            const vector3 axis = count > 0 ? triple(vectors, 1) : s.tool_axis;
            int status = 0;
            process_multiaxis_cycle(tips, count, axis, status);
            if (status != 0) {
                report_multiaxis_error(status, 0.0, 0.0);
                stop_run(4);
            }
        } else if (f.circle_pending && get_intsp(ARCS_IN_FIVE_AXIS_SETTING) != 0) {
            kinematic_transform_points(tips, count, radians(previous_azimuth()), radians(previous_elevation()));
            int status = 0;
            arcmov(tips, 3 * count, status);
            report_motion_error(status);
        } else {
            double azimuth = previous_azimuth();
            double elevation = previous_elevation();
            vector3 machine = previous_machine_position();
            if (transition) {
                machine_point_from_part(machine, s.tool_tip, azimuth, elevation, s.tool_axis);
                for (int i = 1; i <= 3; ++i) motion_state.previous_position[i] = machine[i];
            } else {
                part_point_from_machine(machine, s.tool_tip, azimuth, elevation, s.tool_axis);
            }
            process_multiaxis_moves(tips, vectors, normals, count, azimuth, elevation, s.tool_tip, s.tool_axis,
                                    s.contact_normal);
        }
    }

    f.rapid_pending = 0;
    commit_rotary_angles();
    int record_class = 0, subclass = 0, flag = 0;
    next_record_class(record_class, subclass, flag);
    const int continuation =
        (record_class == GOTO_CLASS || record_class == CONTACT_NORMAL_CLASS) && subclass == CONTINUATION_SUBCLASS;
    if (!continuation) clear_pending_flags();
}

}  // namespace kv
