// Multi-axis services: the motion status reports, the commit of the rotary
// angles, part-to-machine points, the principal-axis test, and the tool-axis
// moves to a workplane and around a tool change.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int WORKPLANE_ANGLES_SETTING = 82;
constexpr int TOOL_CHANGE_BEFORE_LINEARISED_SETTING = 106;  // "tool change before linearised"
constexpr int WORKPLANE_Z_CONVENTION_SETTING = 107;         // "workplane z vector convention"
constexpr int WORKPLANE_TOOL_AXIS_VERSION = 10710;          // cutfiles from it move to the workplane axis
constexpr double UNWIND_OVERSHOOT = 1.01;

// Messages of the status reports.
constexpr int IMPOSSIBLE_VECTOR_MESSAGE = 118;
constexpr int LIMITS_EXCEEDED_MESSAGE = 275;
constexpr int RECONFIGURE_FORBIDDEN_MESSAGE = 271;
constexpr int NOT_CONVERGED_MESSAGE = 260;
constexpr int ANTI_PARALLEL_MESSAGE = 270;
constexpr int EXPANDED_CYCLE_MESSAGE = 255;
constexpr int DATUM_SHIFT_MESSAGE = 296;
constexpr int EULER_FAILURE_MESSAGE = 297;
constexpr int UNKNOWN_MULTIAXIS_MESSAGE = 274;
constexpr int UNKNOWN_INTERNAL_MESSAGE = 277;
constexpr int ARC_OFF_PLANE_MESSAGE = 278;
constexpr int ARC_START_OFF_ARC_MESSAGE = 279;


// One move of the move loop to a single tool position, from the previous
// angles and the current start state.
void move_to_one_tool_position(const vector3& tip, const vector3& tool_vector) {
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    vector3 tips = tip, vectors = tool_vector, normals = s.contact_normal;
    double azimuth = motion_state.previous_rotary_angles[2];
    double elevation = motion_state.previous_rotary_angles[1];
    process_multiaxis_moves(std::span<const double>(tips.data(), 3), std::span<const double>(vectors.data(), 3),
                            std::span<const double>(normals.data(), 3), 1, azimuth, elevation, s.tool_tip,
                            s.tool_axis, s.contact_normal);
}

}  // namespace

void report_multiaxis_error(int status, double azimuth, double elevation) {
    switch (status) {
    case MULTIAXIS_IMPOSSIBLE_VECTOR:
        issue_message(IMPOSSIBLE_VECTOR_MESSAGE);
        break;
    case MULTIAXIS_NO_SOLUTION: {
        issue_message(LIMITS_EXCEEDED_MESSAGE);
        int mode = LIMITS_ANGLES_ONLY;
        check_axis_limits(azimuth, elevation, mode);
        break;
    }
    case MULTIAXIS_RECONFIGURE_FORBIDDEN:
        issue_message(RECONFIGURE_FORBIDDEN_MESSAGE);
        break;
    case MULTIAXIS_NOT_CONVERGED:
        issue_message(NOT_CONVERGED_MESSAGE);
        break;
    case MULTIAXIS_ANTI_PARALLEL:
        issue_message(ANTI_PARALLEL_MESSAGE);
        break;
    case MULTIAXIS_EXPANDED_CYCLE:
        issue_message(EXPANDED_CYCLE_MESSAGE);
        break;
    case MULTIAXIS_NO_DATUM_SHIFT:
        issue_message(DATUM_SHIFT_MESSAGE);
        break;
    case MULTIAXIS_EULER_FAILURE:
        issue_message(EULER_FAILURE_MESSAGE);
        break;
    case MULTIAXIS_OK:
        break;
    default:
        issue_message(UNKNOWN_MULTIAXIS_MESSAGE);
        break;
    }
}

void report_arc_error(int status) {
    if (status == ARC_OFF_PLANE) issue_message(ARC_OFF_PLANE_MESSAGE);
    if (status == ARC_START_OFF_ARC) issue_message(ARC_START_OFF_ARC_MESSAGE);
}

void report_motion_error(int status) {
    if (status == 0) return;
    const int thousands = status / 1000;
    if (thousands == 2) {
        report_arc_error(status);
    } else if (thousands == 4) {
        report_multiaxis_error(status, 0.0, 0.0);
    } else if (thousands != 0) {
        issue_message(UNKNOWN_INTERNAL_MESSAGE);
    }
    stop_run(4);
}

void commit_rotary_angles() {
    committed_rotary_state_t& c = committed_rotary_state;
    c.previous_azimuth = c.azimuth;
    c.previous_elevation = c.elevation;
    c.tool_axis = multiaxis_motion_state.tool_axis;
    c.elevation = motion_state.rotary_angles[1];
    c.azimuth = motion_state.rotary_angles[2];
    c.azimuth_radians = c.azimuth * angle_constants.degrees_to_radians;
    c.elevation_radians = c.elevation * angle_constants.degrees_to_radians;
}

void part_to_machine_points(std::span<double> points, int count) {
    if (get_intsp(WORKPLANE_ANGLES_SETTING) != 0) {
        workplane_part_to_machine_points(points, count);
        return;
    }
    const committed_rotary_state_t& c = committed_rotary_state;
    kinematic_transform_points(points, count, c.azimuth_radians, c.elevation_radians);
}

void part_to_machine_point(vector3& point) {
    if (get_intsp(WORKPLANE_ANGLES_SETTING) != 0) {
        workplane_part_to_machine_point(point);
        return;
    }
    const committed_rotary_state_t& c = committed_rotary_state;
    kinematic_transform_point(point, c.azimuth_radians, c.elevation_radians);
}

int is_tool_axis_principal() {
    const vector3& t = committed_rotary_state.tool_axis;
    const double tolerance = angle_constants.angle_tolerance;
    for (int axis = 1; axis <= 3; ++axis) {
        for (const double sign : {1.0, -1.0}) {
            int along = 1;
            for (int i = 1; i <= 3; ++i) {
                const double want = i == axis ? sign : 0.0;
                if (std::fabs(t[i] - want) > tolerance) along = 0;
            }
            if (along) return 1;
        }
    }
    return 0;
}

void move_to_workplane_tool_axis(const vector3& tip) {
    if (pass1_results.codebase_version[1] < WORKPLANE_TOOL_AXIS_VERSION) return;
    machine_model_t& mm = machine_model;
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    vector3 reference = mm.initial_tool_vector;
    if (get_intsp(WORKPLANE_Z_CONVENTION_SETTING) != 0) reference = vector3{{0.0, 0.0, 1.0}};
    vector3 target;
    vector_times_matrix3(reference, target, workplane_state.matrix);
    const double tolerance = angle_constants.angle_tolerance;
    if (vector_angle(target, s.tool_axis) <= tolerance || vector_length(target) <= tolerance) return;
    const int kept = mm.linearise_multiaxis;
    if (get_intsp(TOOL_CHANGE_BEFORE_LINEARISED_SETTING) == 0) mm.linearise_multiaxis = 0;
    move_to_one_tool_position(tip, target);
    mm.linearise_multiaxis = kept;
    commit_rotary_angles();
}

void unwind_rotary_axes() {
    machine_model_t& mm = machine_model;
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    const vector3 kept_axis = s.tool_axis;
    move_to_one_tool_position(s.tool_tip, mm.initial_tool_vector);
    // Just past the initial tool vector, so that the solution nearest zero
    // is the one the axes unwind to.
    vector3 second_target;
    for (int i = 1; i <= 3; ++i) {
        second_target[i] = s.tool_axis[i] + UNWIND_OVERSHOOT * (mm.initial_tool_vector[i] - s.tool_axis[i]);
    }
    move_to_one_tool_position(s.tool_tip, second_target);
    angle_pair radians_solved, degrees_solved;
    int status = 0;
    solve_rotary_angles(second_target, radians_solved, degrees_solved, 0.0, 0.0, status);
    const double kept_withdrawal = mm.withdrawal;
    mm.withdrawal = 0.0;
    angle_pair current{{0.0, 0.0}};
    retract_and_reconfigure(second_target, degrees_solved, current);
    mm.withdrawal = kept_withdrawal;
    s.tool_axis = kept_axis;
    commit_rotary_angles();
}

void turn_back_to_tool_axis() {
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    const vector3 kept_axis = s.tool_axis;
    s.tool_axis = machine_model.initial_tool_vector;
    move_to_one_tool_position(s.tool_tip, kept_axis);
    commit_rotary_angles();
}

}  // namespace kv
