// Machine kinematics: the forward and inverse transforms between a tool tip in
// the part frame and the machine's linear axes at given rotary angles, the tool
// axis the rotary angles produce, and the start angles of a job.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

rotary_matrices_t rotary_matrices;
kinematics_values_t kinematics_values;

namespace {

// Integer settings (intsp codes).
constexpr int WORKPLANE_ANGLES = 82;
constexpr int TOOL_LENGTH_USED = 94;   // "multiaxis toollength used"
constexpr int FLAG_MULTIAXIS_MODE = 20;
constexpr int TOOL_LENGTH_WARNING = 124;
constexpr double TOOL_AXIS_MINIMUM = 1e-5;

// The tool length that the kinematics add to a head's offsets.
double tool_length_used() {
    return configuration_store.intsp[TOOL_LENGTH_USED] != 0 ? machine_model.tool_length : 0.0;
}

void rotation4(const vector3& axis, double angle, matrix4& out) {
    matrix3 r;
    axis_rotation_matrix_fine(axis, angle, r);
    out.fill(0.0);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) out[4 * (i - 1) + j] = r[3 * (i - 1) + j];
    out[16] = 1.0;
}

// v·M (the row-vector turn of a rotary matrix).
vector3 turn_row(const matrix4& m, const vector3& v) {
    vector3 r;
    for (int c = 1; c <= 3; ++c) r[c] = v[1] * m[c] + v[2] * m[4 + c] + v[3] * m[8 + c];
    return r;
}

// M·v: the turn back of turn_row.
vector3 turn_column(const matrix4& m, const vector3& v) {
    vector3 r;
    for (int c = 1; c <= 3; ++c) r[c] = m[4 * (c - 1) + 1] * v[1] + m[4 * (c - 1) + 2] * v[2] + m[4 * (c - 1) + 3] * v[3];
    return r;
}

// centre + turn(p - centre).
vector3 turn_about(const matrix4& m, const vector3& centre, const vector3& p, bool back) {
    vector3 d;
    for (int k = 1; k <= 3; ++k) d[k] = p[k] - centre[k];
    const vector3 t = back ? turn_column(m, d) : turn_row(m, d);
    vector3 r;
    for (int k = 1; k <= 3; ++k) r[k] = centre[k] + t[k];
    return r;
}

vector3 through(const matrix4& m, const vector3& p) {
    point4 q{{p[1], p[2], p[3], 1.0}};
    point4 r;
    transform_point4(q, r, m);
    vector3 out;
    for (int k = 1; k <= 3; ++k) out[k] = r[k];
    return out;
}

// hc_a + L·t0: the tool tip seen from the azimuth head centre at zero angles.
vector3 azimuth_head_offset() {
    const machine_model_t& m = machine_model;
    const double l = tool_length_used();
    vector3 w;
    for (int k = 1; k <= 3; ++k) w[k] = m.tool_azimuth_centre[k] + l * m.initial_tool_vector[k];
    return w;
}

// The head-head offset of the tip from the azimuth pivot, the elevation head
// turned by E (the rotary matrices must be built).
vector3 head_head_offset() {
    const machine_model_t& m = machine_model;
    const double l = tool_length_used();
    vector3 h;
    for (int k = 1; k <= 3; ++k) h[k] = m.tool_elevation_centre[k] + l * m.initial_tool_vector[k];
    vector3 w = turn_row(rotary_matrices.elevation_matrix, h);
    w[1] -= m.tool_azimuth_centre[1];
    w[2] -= m.tool_azimuth_centre[2];
    w[3] -= m.tool_elevation_centre[3] - m.tool_azimuth_centre[3];
    return w;
}

vector3 point_at(std::span<const double> points, int n) {
    vector3 p;
    for (int k = 1; k <= 3; ++k) p[k] = points[3 * static_cast<std::size_t>(n) + static_cast<std::size_t>(k) - 1];
    return p;
}

void store_point(std::span<double> points, int n, const vector3& p) {
    for (int k = 1; k <= 3; ++k) points[3 * static_cast<std::size_t>(n) + static_cast<std::size_t>(k) - 1] = p[k];
}

int points_in(std::span<const double> points, int count) {
    const int room = static_cast<int>(points.size() / 3);
    return count < room ? count : room;
}

}  // namespace

// The signs make each matrix, applied to a row vector, turn the way its
// machine type's transform needs: on head axes the turn is the other way.
void build_rotary_matrices(double elevation, double azimuth) {
    const machine_model_t& m = machine_model;
    const int type = m.machine_type;
    const double a = type == MACHINE_HEAD_TABLE || type == MACHINE_HEAD_HEAD ? -azimuth : azimuth;
    const double e = type == MACHINE_HEAD_HEAD ? -elevation : elevation;
    rotation4(m.azimuth_unit_axis, a, rotary_matrices.azimuth_matrix);
    rotation4(m.elevation_unit_axis, e, rotary_matrices.elevation_matrix);
}

void forward_kinematics(vector3& tip, double azimuth, double elevation) {
    const machine_model_t& m = machine_model;
    const int type = m.machine_type;
    if (!rotary_machine(type)) return;
    build_rotary_matrices(elevation, azimuth);
    const rotary_matrices_t& r = rotary_matrices;
    array1<double, 2>& distances = kinematics_values.rotary_axis_distances;
    const vector3 p = through(pcs_matrices.pcs_placement, tip);
    if (type == MACHINE_TABLE_TABLE) {
        distances[2] = distance_from_line(tip, m.table_elevation_centre, m.elevation_axis_vector);
        vector3 q = turn_about(r.elevation_matrix, m.table_elevation_centre, p, false);
        distances[1] = distance_from_line(q, m.table_azimuth_centre, m.azimuth_axis_vector);
        tip = turn_about(r.azimuth_matrix, m.table_azimuth_centre, q, false);
    } else if (type == MACHINE_HEAD_TABLE) {
        distances[2] = distance_from_line(tip, m.table_elevation_centre, m.elevation_axis_vector);
        const vector3 q = turn_about(r.elevation_matrix, m.table_elevation_centre, p, false);
        vector3 h = azimuth_head_offset();
        vector3 minus_h;
        for (int k = 1; k <= 3; ++k) minus_h[k] = -h[k];
        distances[1] = distance_from_line(minus_h, vector3{}, m.azimuth_axis_vector);
        const vector3 w = turn_row(r.azimuth_matrix, h);
        for (int k = 1; k <= 3; ++k) tip[k] = q[k] + w[k];
    } else {
        const vector3 w = turn_row(r.azimuth_matrix, head_head_offset());
        for (int k = 1; k <= 3; ++k) tip[k] = p[k] + w[k];
    }
}

void kinematic_transform_point(vector3& point, double azimuth, double elevation) {
    if (machine_model.multiaxis_transform_on == 0) return;
    forward_kinematics(point, azimuth, elevation);
}

void kinematic_transform_points(std::span<double> points, int count, double azimuth, double elevation) {
    if (machine_model.multiaxis_transform_on == 0) return;
    const int n = points_in(points, count);
    for (int i = 0; i < n; ++i) {
        vector3 p = point_at(points, i);
        forward_kinematics(p, azimuth, elevation);
        store_point(points, i, p);
    }
}

// Machine types without rotary kinematics (head pairs, no rotary
// configuration) leave the position unchanged, as the forward transform does.
void inverse_kinematic_transform_point(vector3& point, double azimuth, double elevation) {
    const machine_model_t& m = machine_model;
    if (m.multiaxis_transform_on == 0 || !rotary_machine(m.machine_type)) return;
    build_rotary_matrices(elevation, azimuth);
    const rotary_matrices_t& r = rotary_matrices;
    vector3 q;
    if (m.machine_type == MACHINE_TABLE_TABLE) {
        q = turn_about(r.azimuth_matrix, m.table_azimuth_centre, point, true);
        q = turn_about(r.elevation_matrix, m.table_elevation_centre, q, true);
    } else if (m.machine_type == MACHINE_HEAD_TABLE) {
        const vector3 w = turn_row(r.azimuth_matrix, azimuth_head_offset());
        for (int k = 1; k <= 3; ++k) q[k] = point[k] - w[k];
        q = turn_about(r.elevation_matrix, m.table_elevation_centre, q, true);
    } else {
        const vector3 w = turn_row(r.azimuth_matrix, head_head_offset());
        for (int k = 1; k <= 3; ++k) q[k] = point[k] - w[k];
    }
    point = through(pcs_matrices.pcs_inverse, q);
}

void inverse_kinematic_transform_points(std::span<double> points, int count, double azimuth, double elevation) {
    if (machine_model.multiaxis_transform_on == 0) return;
    const int n = points_in(points, count);
    for (int i = 0; i < n; ++i) {
        vector3 p = point_at(points, i);
        inverse_kinematic_transform_point(p, azimuth, elevation);
        store_point(points, i, p);
    }
}

// Table axes turn the part: the azimuth turn first, then the elevation. Head
// axes turn the tool: the elevation head sits on the azimuth head.
void rotate_vector_by_rotary_angles(double azimuth, double elevation, const vector3& v, vector3& out) {
    const machine_model_t& m = machine_model;
    vector3 t;
    switch (m.machine_type) {
    case MACHINE_TABLE_TABLE:
    case MACHINE_HEAD_TABLE:
        rotate_about_axis(v, m.azimuth_unit_axis, azimuth, t);
        rotate_about_axis(t, m.elevation_unit_axis, elevation, out);
        return;
    case MACHINE_HEAD_HEAD:
        rotate_about_axis(v, m.elevation_unit_axis, elevation, t);
        rotate_about_axis(t, m.azimuth_unit_axis, azimuth, out);
        return;
    default:
        out = v;
        return;
    }
}

void rotate_initial_tool_vector(double azimuth, double elevation, vector3& out) {
    rotate_vector_by_rotary_angles(azimuth, elevation, machine_model.initial_tool_vector, out);
}

void machine_displacement_of_vector(double azimuth, double elevation, vector3& v) {
    vector3 zero;
    forward_kinematics(v, azimuth, elevation);
    forward_kinematics(zero, azimuth, elevation);
    for (int k = 1; k <= 3; ++k) v[k] -= zero[k];
}

void vector_to_tip_frame(vector3& v) {
    const point4 direction{{v[1], v[2], v[3], 0.0}};
    point4 turned;
    transform_point4(direction, turned, pcs_matrices.pcs_inverse);
    for (int k = 1; k <= 3; ++k) v[k] = turned[k];
}

void set_angles_for_tool_axis(const vector3& tip) {
    const machine_model_t& m = machine_model;
    committed_rotary_state_t& c = committed_rotary_state;
    if ((m.machine_type == MACHINE_HEAD_TABLE || m.machine_type == MACHINE_HEAD_HEAD) && m.tool_length != 0.0 &&
        m.multiaxis_transform_on != 0) {
        set_message_real_arg(1, m.tool_length);
        issue_message(TOOL_LENGTH_WARNING);
    }
    angle_pair radians, degrees;
    if (configuration_store.intsp[WORKPLANE_ANGLES] == WORKPLANE_ANGLES_ROTARY) {
        const vector3 axis = toolpath_tables.toolpath_from_axis[current_toolpath_index()];
        int status = 0;
        solve_rotary_angles(axis, radians, degrees, motion_state.previous_rotary_angles[2],
                            motion_state.previous_rotary_angles[1], status);
        if (status != 0) {
            // The solver only returns its status: the report names the failure.
            report_multiaxis_error(status, degrees[1], degrees[2]);
            stop_run(EXIT_RUN_ERROR);
        }
    } else {
        int fail = 0;
        angles_for_tool_axis(c.tool_axis, tip, radians, degrees, fail);
        if (fail != 0) stop_run(EXIT_RUN_ERROR);
    }
    c.azimuth = degrees[1];
    c.elevation = degrees[2];
    c.azimuth_radians = radians[1];
    c.elevation_radians = radians[2];
    multiaxis_motion_state.tool_axis = c.tool_axis;
}

double axis_vector_offset(double x, double y, double z) {
    const int non_zero = (x != 0.0) + (y != 0.0) + (z != 0.0);
    if (non_zero != 1) return 0.0;
    const double v = x != 0.0 ? x : (y != 0.0 ? y : z);
    return std::fabs(v) > 1.0 ? v : 0.0;
}

void add_axis_vector_offset(double x, double y, double z, int factor, int& accumulator) {
    const double v = axis_vector_offset(x, y, z);
    if (v != 0.0) accumulator += nearest_int(v * factor);
}

// --- services of the tape split, the cycles and the job set-up ---

// The direction a multi-axis tape split retracts in: the tool axis at the
// current rotary angles as a machine displacement.
void tool_axis_machine_displacement(vector3& displacement) {
    const double d = angle_constants.degrees_to_radians;
    const double azimuth = motion_state.rotary_angles[2] * d;
    const double elevation = motion_state.rotary_angles[1] * d;
    rotate_initial_tool_vector(azimuth, elevation, displacement);
    machine_displacement_of_vector(azimuth, elevation, displacement);
}

double height_along_tool_axis(const vector3& point) {
    const machine_model_t& m = machine_model;
    const multiaxis_motion_state_t& s = multiaxis_motion_state;
    if (vector_length(m.initial_tool_vector) > TOOL_AXIS_MINIMUM && is_workplane_transform_active())
        return dot_product(m.initial_tool_vector, point);
    if (get_state_flag(FLAG_MULTIAXIS_MODE) != 0) return dot_product(s.tool_axis, s.tool_tip);
    if (get_cutfile_multiaxis() == 0) return point[3];
    vector3 p = point;
    const committed_rotary_state_t& c = committed_rotary_state;
    inverse_kinematic_transform_point(p, c.azimuth_radians, c.elevation_radians);
    return dot_product(s.tool_axis, p);
}

// 1 when the rotary axes reach a tool direction given in the cutfile's frame.
int rotary_solution_exists(const vector3& tool_vector) {
    const point4 v{{tool_vector[1], tool_vector[2], tool_vector[3], 1.0}};
    point4 p;
    transform_point4(v, p, pcs_matrices.pcs_rotation);
    vector3 axis;
    for (int k = 1; k <= 3; ++k) axis[k] = p[k];
    angle_pair radians, degrees;
    int status = 0;
    solve_rotary_angles(axis, radians, degrees, 0.0, 0.0, status);
    return status == 0 ? 1 : 0;
}

void set_start_angles_for_vertical_tool(const vector3& point) {
    committed_rotary_state_t& c = committed_rotary_state;
    c.tool_axis.fill(0.0);
    c.tool_axis[3] = 1.0;
    set_angles_for_tool_axis(point);
    motion_state.rotary_angles[1] = c.elevation;
    motion_state.rotary_angles[2] = c.azimuth;
}

void set_start_rotary_words() {
    motion_state_t& m = motion_state;
    int azimuth = 0, elevation = 0;
    rotary_word_values(m.previous_rotary_angles[2], m.previous_rotary_angles[1], azimuth, elevation);
    m.rotary_units[1] = elevation;
    m.rotary_units[2] = azimuth;
    m.previous_rotary_units = m.rotary_units;
}

void kinematic_transform_start_point(vector3& point) {
    const double d = angle_constants.degrees_to_radians;
    kinematic_transform_point(point, motion_state.previous_rotary_angles[2] * d,
                              motion_state.previous_rotary_angles[1] * d);
}

}  // namespace kv
