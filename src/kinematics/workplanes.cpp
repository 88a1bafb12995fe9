// Workplanes: the per-toolpath workplanes read in pass 1, the current
// workplane (apparent Euler angles or machine-tool rotary angles), the point
// transforms between the part frame and the workplane frame, and the pcs.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

workplane_state_t workplane_state;
pcs_matrices_t pcs_matrices;

namespace {

// Integer settings (intsp codes).
constexpr int WORKPLANE_ANGLES = 82;
constexpr int TRANSFORM_WORKPLANE_ORIGIN = 89;
constexpr int WORKPLANE_ANGLE_CONVENTION = 96;
constexpr int WORKPLANE_ORIGIN_SHIFT = 98;
constexpr int WORKPLANE_Z_VECTOR_CONVENTION = 107;
constexpr int FLAG_MULTIAXIS_MODE = 20;

// An axis within this angle of +Z needs no half turn.
constexpr double HALF_TURN_ANGLE = 1e-5;

int workplane_angles() { return configuration_store.intsp[WORKPLANE_ANGLES]; }
int origin_shift_on() { return configuration_store.intsp[WORKPLANE_ORIGIN_SHIFT] != 0; }

// Euler order of "workplane angle convention" (1..24 in the settings).
int euler_order() { return configuration_store.intsp[WORKPLANE_ANGLE_CONVENTION] - 1; }

// An index into the workplane tables: 0 (the job workplane) to MAXTOOLPATHS.
std::size_t workplane_entry(int i) {
    if (i >= 0 && i <= MAXTOOLPATHS) return static_cast<std::size_t>(i);
    return static_cast<std::size_t>(toolpath_row(i));
}

vector3 unit_z() {
    vector3 z;
    z[3] = 1.0;
    return z;
}

// The bisector of an axis and +Z as a unit vector, (1, 0, 0) when the axis
// points along -Z; and whether a half turn about it is needed at all.
int half_turn_axis(const vector3& axis, vector3& b) {
    for (int k = 1; k <= 3; ++k) b[k] = (axis[k] + unit_z()[k]) / 2.0;
    vector3 u;
    double length;
    unit_vector_with_length(b, u, length);
    if (!(length > angle_constants.angle_tolerance)) {
        b.fill(0.0);
        b[1] = 1.0;
    } else {
        b = u;
    }
    return vector_angle(b, unit_z()) > HALF_TURN_ANGLE;
}

void set_identity(matrix3& m) {
    m.fill(0.0);
    m[1] = m[5] = m[9] = 1.0;
}

// A 3x3 rotation into the upper part of a 4x4 transform with a translation.
void to_matrix4(const matrix3& r, const vector3& translation, matrix4& out) {
    out.fill(0.0);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) out[4 * (i - 1) + j] = r[3 * (i - 1) + j];
    for (int j = 1; j <= 3; ++j) out[12 + j] = translation[j];
    out[16] = 1.0;
}

vector3 difference(const vector3& a, const vector3& b) {
    vector3 d;
    for (int k = 1; k <= 3; ++k) d[k] = a[k] - b[k];
    return d;
}

}  // namespace

void read_toolpath_workplane(int i, const matrix3& job_transposed, int& status) {
    toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[workplane_entry(i)];
    const toolpath_workplane_t& job = toolpath_tables.toolpath_workplanes[0];
    vector3 offset;
    matrix3 w;
    for (int k = 1; k <= 3; ++k) offset[k] = cldata_real_word(2 + k) - job.origin[k];
    for (int k = 1; k <= 9; ++k) w[k] = cldata_real_word(5 + k);
    // The offset is a cutfile length: both origins are read in cutfile units.
    vector3 origin;
    vector_times_matrix3(offset, origin, job_transposed);
    for (int k = 1; k <= 3; ++k) wp.origin[k] = origin[k] * pass1_results.unit_factor;

    matrix3 m;
    matrix3_product(job_transposed, w, m);  // W·J: the toolpath axes in job axes
    vector3 b;
    if (half_turn_axis(machine_model.initial_tool_vector, b) &&
        configuration_store.intsp[WORKPLANE_Z_VECTOR_CONVENTION] == 0) {
        // The half turn exchanges +Z and the initial tool vector, so that the
        // workplane's z axis is the machine's tool direction.
        matrix3 r;
        axis_rotation_matrix(b, angle_constants.pi_value, r);
        matrix3_product(m, r, m);  // R·M
    }
    for (int k = 1; k <= 9; ++k) wp.matrix[k] = m[k];
    vector3 angles;
    matrix_to_euler_angles(m, angles, euler_order(), status);
    for (int k = 1; k <= 3; ++k) wp.angles[k] = angles[k];
}

void set_pcs_transform(double a3, double a1, double a2) {
    const machine_model_t& m = machine_model;
    switch (m.machine_type) {
    case MACHINE_TABLE_TABLE:
        if (m.four_axis_machine)
            build_pcs_matrices(0.0, 0.0, a2);
        else
            build_pcs_matrices(a3, a1, a2);
        return;
    case MACHINE_HEAD_TABLE:
        if (m.four_axis_machine)
            build_pcs_matrices(0.0, 0.0, 0.0);
        else
            build_pcs_matrices(0.0, 0.0, a2);
        return;
    case MACHINE_HEAD_HEAD:
    case MACHINE_HEAD_PAIR:
        build_pcs_matrices(0.0, 0.0, 0.0);
        return;
    default:
        return;  // no rotary configuration: the pcs stays unbuilt
    }
}

// A rotation about the elevation axis, one about the azimuth axis, and one
// about the elevation axis again, each about its table centre.
void build_pcs_matrices(double a, double b, double c) {
    const machine_model_t& m = machine_model;
    const double d = angle_constants.degrees_to_radians;
    matrix3 re_a, ra_b, re_c;
    axis_rotation_matrix(m.elevation_unit_axis, a * d, re_a);
    axis_rotation_matrix(m.azimuth_unit_axis, b * d, ra_b);
    axis_rotation_matrix(m.elevation_unit_axis, c * d, re_c);

    matrix3 q;
    matrix3_product(ra_b, re_a, q);  // Re(a)·Ra(b)
    matrix3_product(re_c, q, q);     // ·Re(c)
    to_matrix4(q, vector3{}, pcs_matrices.pcs_rotation);

    matrix4 m1, m2, m3;
    to_matrix4(re_a, difference(m.pcs_origin, m.table_azimuth_centre), m1);
    to_matrix4(ra_b, difference(m.table_azimuth_centre, m.table_elevation_centre), m2);
    to_matrix4(re_c, m.table_elevation_centre, m3);
    matrix4 p;
    matrix4_product(m2, m1, p);  // M1·M2: a point goes through M1 first
    matrix4_product(m3, p, p);   // ·M3
    pcs_matrices.pcs_placement = p;
    matrix4_inverse(p, pcs_matrices.pcs_inverse);
}

void select_workplane_transform(int i, int& status) {
    const toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[workplane_entry(i)];
    workplane_state_t& s = workplane_state;
    for (int k = 1; k <= 3; ++k) s.origin[k] = s.origin_shift[k] = wp.origin[k];
    for (int k = 1; k <= 9; ++k) s.matrix[k] = wp.matrix[k];
    // A toolpath without a workplane record has no matrix (all zeros, which
    // would put every point at the origin): it stays in the job's axes.
    int empty = 1;
    for (int k = 1; k <= 9; ++k)
        if (s.matrix[k] != 0.0) empty = 0;
    if (empty) set_identity(s.matrix);
    for (int k = 1; k <= 3; ++k) s.euler_angles[k] = wp.angles[k];
    status = 0;
}

void select_machine_workplane(int i, int& status) {
    status = 0;
    if (workplane_angles() != WORKPLANE_ANGLES_ROTARY) return;
    const std::size_t e = workplane_entry(i);
    const toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[e];
    workplane_state_t& s = workplane_state;
    for (int k = 1; k <= 3; ++k) s.origin[k] = s.origin_shift[k] = wp.origin[k];
    // Row 0 (the job workplane) has no tool axis of its own: the initial one.
    const vector3 axis = e == 0 ? machine_model.initial_tool_vector
                                : toolpath_tables.toolpath_from_axis[static_cast<int>(e)];
    double azimuth = 0.0, elevation = 0.0;
    machine_tool_workplane(axis, motion_state.previous_rotary_angles[2], motion_state.previous_rotary_angles[1],
                           azimuth, elevation, s.matrix, s.origin, status);
    if (status != 0) return;
    s.azimuth = azimuth;
    s.elevation = elevation;
    motion_state.rotary_angles[1] = elevation;
    motion_state.rotary_angles[2] = azimuth;
}

void machine_tool_workplane(const vector3& axis, double previous_azimuth, double previous_elevation,
                            double& azimuth, double& elevation, matrix3& matrix, vector3& origin, int& status) {
    status = 0;
    if (workplane_angles() != WORKPLANE_ANGLES_ROTARY) return;
    angle_pair radians, degrees;
    int st = 0;
    solve_rotary_angles(axis, radians, degrees, previous_azimuth, previous_elevation, st);
    if (st != 0) {
        status = 1;
        return;
    }
    azimuth = degrees[1];
    elevation = degrees[2];
    for (int c = 1; c <= 3; ++c) {
        vector3 unit;
        unit[c] = 1.0;
        vector3 turned;
        rotate_vector_by_rotary_angles(radians[1], radians[2], unit, turned);
        for (int r = 1; r <= 3; ++r) matrix[3 * (r - 1) + c] = turned[r];
    }
    if (configuration_store.intsp[TRANSFORM_WORKPLANE_ORIGIN] != 0)
        kinematic_transform_point(origin, radians[1], radians[2]);
}

void workplane_for_tool_axis(const vector3& axis, double previous_azimuth, double previous_elevation,
                             int& status) {
    status = 0;
    workplane_state_t& s = workplane_state;
    s.origin = s.origin_shift;
    if (workplane_angles() == WORKPLANE_ANGLES_EULER) {
        apparent_workplane_for_tool_axis(axis, s.euler_angles, s.matrix, status);
    } else if (workplane_angles() == WORKPLANE_ANGLES_ROTARY) {
        machine_tool_workplane(axis, previous_azimuth, previous_elevation, s.azimuth, s.elevation, s.matrix,
                               s.origin, status);
    }
}

void apparent_workplane_for_tool_axis(const vector3& axis, vector3& euler_angles, matrix3& matrix, int& status) {
    status = 0;
    vector3 unit = axis;
    normalize_vector(unit);
    vector3 b;
    if (half_turn_axis(unit, b))
        axis_rotation_matrix(b, angle_constants.pi_value, matrix);
    else
        set_identity(matrix);
    int st = 0;
    matrix_to_euler_angles(matrix, euler_angles, euler_order(), st);
    if (st != 0) status = MULTIAXIS_EULER_FAILURE;
}

// Into the workplane frame: p := (p - S)·Mᵀ.
void workplane_part_to_machine_point(vector3& point) {
    const workplane_state_t& s = workplane_state;
    vector3 p = point;
    if (origin_shift_on())
        for (int k = 1; k <= 3; ++k) p[k] -= s.origin_shift[k];
    for (int r = 1; r <= 3; ++r)
        point[r] = p[1] * s.matrix[3 * (r - 1) + 1] + p[2] * s.matrix[3 * (r - 1) + 2] + p[3] * s.matrix[3 * (r - 1) + 3];
}

void workplane_part_to_machine_points(std::span<double> points, int count) {
    for (int n = 0; n < count && 3 * static_cast<std::size_t>(n) + 3 <= points.size(); ++n) {
        vector3 p;
        for (int k = 1; k <= 3; ++k) p[k] = points[3 * static_cast<std::size_t>(n) + k - 1];
        workplane_part_to_machine_point(p);
        for (int k = 1; k <= 3; ++k) points[3 * static_cast<std::size_t>(n) + k - 1] = p[k];
    }
}

// Back to the part frame: p := p·M + S.
void workplane_machine_to_part(vector3& point) {
    const workplane_state_t& s = workplane_state;
    vector_times_matrix3(point, point, s.matrix);
    if (origin_shift_on())
        for (int k = 1; k <= 3; ++k) point[k] += s.origin_shift[k];
}

void machine_to_part_point(vector3& point) {
    if (workplane_angles() != 0) {
        workplane_machine_to_part(point);
        return;
    }
    const committed_rotary_state_t& c = committed_rotary_state;
    inverse_kinematic_transform_point(point, c.azimuth_radians, c.elevation_radians);
}

void machine_to_part_points(std::span<double> points, int count) {
    for (int n = 0; n < count && 3 * static_cast<std::size_t>(n) + 3 <= points.size(); ++n) {
        vector3 p;
        for (int k = 1; k <= 3; ++k) p[k] = points[3 * static_cast<std::size_t>(n) + k - 1];
        machine_to_part_point(p);
        for (int k = 1; k <= 3; ++k) points[3 * static_cast<std::size_t>(n) + k - 1] = p[k];
    }
}

int is_workplane_transform_active() {
    if (workplane_angles() == 0) return 0;
    if (get_state_flag(FLAG_MULTIAXIS_MODE) == 0) return 1;
    const int type = machine_model.machine_type;
    return type == MACHINE_HEAD_TABLE || type == MACHINE_HEAD_HEAD ? 1 : 0;
}

// The origin shift along the workplane's tool axis: how far a hole top given
// in the part frame lies from the workplane's origin plane. Nothing when no
// workplane transform is active.
double workplane_origin_offset() {
    if (!is_workplane_transform_active()) return 0.0;
    vector3 u;
    transform_initial_tool_vector(workplane_state.matrix, u);
    normalize_vector(u);
    return dot_product(u, workplane_state.origin_shift);
}

// The points that the system variables read, through the transform in force:
// the workplane frame with "workplane angles", else the machine at the
// committed angles.
void part_to_current_frame_point(vector3& point) {
    if (workplane_angles() != 0) {
        workplane_part_to_machine_point(point);
        return;
    }
    const committed_rotary_state_t& c = committed_rotary_state;
    kinematic_transform_point(point, c.azimuth_radians, c.elevation_radians);
}

void current_frame_to_part_point(vector3& point) { machine_to_part_point(point); }

}  // namespace kv
