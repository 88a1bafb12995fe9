// The machine model: the rotary axes of the machine taken from the control's
// settings, the machine type they make, the solver frame and the pole axis,
// and the start state of the multi-axis motion.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

angle_constants_t angle_constants;
machine_model_t machine_model;
multiaxis_motion_state_t multiaxis_motion_state;

namespace {

// Integer settings (intsp codes).
constexpr int TRANSFORM_SETTING = 1;          // "multiaxis coordinate transform"
constexpr int TAPE_HEADERS_SETTING = 3;       // "tape headers": keeps the angle at the pole
constexpr int AZIMUTH_UNITS_SETTING = 41;
constexpr int AZIMUTH_DIRECTION_SETTING = 42;
constexpr int ELEVATION_UNITS_SETTING = 43;
constexpr int ELEVATION_DIRECTION_SETTING = 44;
constexpr int AZIMUTH_IN_HEAD_SETTING = 49;   // "spindle azimuth rotation"
constexpr int ELEVATION_IN_HEAD_SETTING = 50; // "spindle elevation rotation"
constexpr int LINEARISE_SETTING = 64;         // "linearise multiaxis moves", -1 unset
constexpr int DEGREES_VALUE = 102;
constexpr int POSITIVE_VALUE = 100;

// Real settings (indices into R).
constexpr int DIAMETER_REAL = 11;
constexpr int WITHDRAWAL_REAL = 12;
constexpr int RETRACT_THRESHOLD_REAL = 19;
constexpr int TABLE_AZIMUTH_CENTRE_REAL = 41;
constexpr int AZIMUTH_VECTOR_REAL = 44;
constexpr int TOOL_AZIMUTH_CENTRE_REAL = 56;
constexpr int TABLE_ELEVATION_CENTRE_REAL = 71;
constexpr int ELEVATION_VECTOR_REAL = 74;
constexpr int TOOL_ELEVATION_CENTRE_REAL = 86;
constexpr int PCS_ORIGIN_REAL = 101;
constexpr int PCS_ANGLES_REAL = 104;
constexpr int LINEAR_LIMITS_REAL = 116;
constexpr int AZIMUTH_LIMITS_REAL = 131;
constexpr int ELEVATION_LIMITS_REAL = 133;
constexpr int LINEARISATION_TOLERANCE_REAL = 135;
constexpr int LINEARISE_SWITCH_REAL = 136;
constexpr int INITIAL_TOOL_VECTOR_REAL = 341;

constexpr int AXES_NOT_SENSIBLE = 116;
constexpr int FOUR_AXIS_PARALLEL = 298;
constexpr int FIVE_AXIS_AXIS_UNSET = 299;
constexpr int TOOL_ALONG_AXIS = 306;
constexpr int AXES_PARALLEL = 307;
// The machine set-up's own rejections of the axes end the run with this
// code: the control makes no machine at all. (Job set-up rejects a machine
// for a cutfile it cannot post as any failed job does, with exit code 4.)
constexpr int AXES_EXIT_CODE = 1;

void read_vector(int first, vector3& v) {
    for (int i = 1; i <= 3; ++i) v[i] = real_option(first + i - 1);
}

// u equals v or -v, every component within the angle tolerance.
int parallel_within_tolerance(const vector3& u, const vector3& v) {
    const double tol = angle_constants.angle_tolerance;
    int same = 1, opposite = 1;
    for (int i = 1; i <= 3; ++i) {
        if (!(std::fabs(u[i] - v[i]) <= tol)) same = 0;
        if (!(std::fabs(u[i] + v[i]) <= tol)) opposite = 0;
    }
    return same || opposite;
}

// The only non-zero component of v (1 x, 2 y, 3 z), or 0 for any other pattern.
int sole_axis(const vector3& v) {
    int axis = 0;
    for (int i = 1; i <= 3; ++i) {
        if (v[i] == 0.0) continue;
        if (axis != 0) return 0;
        axis = i;
    }
    return axis;
}

void copy_settings() {
    machine_model_t& m = machine_model;
    const auto& intsp = configuration_store.intsp;
    m.multiaxis_transform_on = intsp[TRANSFORM_SETTING] != 0 ? 1 : 0;
    m.keep_angle_at_pole = 0;
    if (intsp[TAPE_HEADERS_SETTING] == 1) m.keep_angle_at_pole = 1;
    m.rotary_axis_chars[1] = intsp[AZIMUTH_UNITS_SETTING] == DEGREES_VALUE ? 'D' : 'L';
    m.rotary_axis_chars[2] = intsp[ELEVATION_UNITS_SETTING] == DEGREES_VALUE ? 'D' : 'L';
    m.rotary_axis_chars[3] = intsp[AZIMUTH_DIRECTION_SETTING] == POSITIVE_VALUE ? '+' : '-';
    m.rotary_axis_chars[4] = intsp[ELEVATION_DIRECTION_SETTING] == POSITIVE_VALUE ? '+' : '-';
    m.spindle_motion_flags[5] = intsp[AZIMUTH_IN_HEAD_SETTING] != 0 ? 1 : 0;
    m.spindle_motion_flags[6] = intsp[ELEVATION_IN_HEAD_SETTING] != 0 ? 1 : 0;

    m.rotary_diameter = real_option(DIAMETER_REAL);
    m.withdrawal = std::fabs(real_option(WITHDRAWAL_REAL));
    m.reconfigure_angle_threshold = real_option(RETRACT_THRESHOLD_REAL);
    read_vector(TABLE_AZIMUTH_CENTRE_REAL, m.table_azimuth_centre);
    read_vector(AZIMUTH_VECTOR_REAL, m.azimuth_axis_vector);
    read_vector(TOOL_AZIMUTH_CENTRE_REAL, m.tool_azimuth_centre);
    read_vector(TABLE_ELEVATION_CENTRE_REAL, m.table_elevation_centre);
    read_vector(ELEVATION_VECTOR_REAL, m.elevation_axis_vector);
    read_vector(TOOL_ELEVATION_CENTRE_REAL, m.tool_elevation_centre);
    read_vector(PCS_ORIGIN_REAL, m.pcs_origin);
    read_vector(PCS_ANGLES_REAL, m.pcs_angles);
    for (int i = 1; i <= 6; ++i) m.xyz_limits[i] = real_option(LINEAR_LIMITS_REAL + i - 1);
    for (int i = 1; i <= 2; ++i) {
        m.azimuth_limits[i] = real_option(AZIMUTH_LIMITS_REAL + i - 1);
        m.elevation_limits[i] = real_option(ELEVATION_LIMITS_REAL + i - 1);
    }
    m.linearisation_tolerance = std::fabs(real_option(LINEARISATION_TOLERANCE_REAL));
    m.linearise_switch_value = truncate_to_int(real_option(LINEARISE_SWITCH_REAL));

    m.linearise_multiaxis = 0;
    const int linearise = intsp[LINEARISE_SETTING];
    if (linearise == 1) m.linearise_multiaxis = 1;
    if (linearise == -1)
        m.linearise_multiaxis = (m.linearise_switch_value == 0 || m.linearise_switch_value == 1) ? 0 : 1;
}

void set_start_state() {
    angle_constants.degrees_to_radians = std::atan(1.0) / 45.0;
    angle_constants.pi_value = 4.0 * std::atan(1.0);
    angle_constants.half_pi = 2.0 * std::atan(1.0);
    angle_constants.angle_tolerance = static_cast<double>(1e-4f);

    multiaxis_motion_state_t& s = multiaxis_motion_state;
    // The FROM point divided by MULT of the X word (key 8). The set-up runs
    // before pass 1, so this is the FROM point of an earlier job or (0, 0, 0).
    const int x_word = configuration_store.key[8];
    const int x_mult = x_word >= 1 && x_word < NO_WORD ? MULT(x_word) : 1;
    for (int k = 1; k <= 3; ++k) s.tool_tip[k] = pass1_results.from_position[k] / (x_mult != 0 ? x_mult : 1);
    s.tool_axis = machine_model.initial_tool_vector;
    s.contact_normal.fill(0.0);
    s.contact_normal[3] = 1.0;
    motion_state.previous_rotary_angles.fill(0.0);
    s.multiaxis_restart_state = 1;
    s.tool_vector_state = 0;
    s.reconfiguring = 0;
}

}  // namespace

void set_machine_subtype() {
    machine_model_t& m = machine_model;
    m.four_axis_machine = 0;
    const int azimuth_in_head = m.spindle_motion_flags[5];
    const int elevation_in_head = m.spindle_motion_flags[6];
    if (!elevation_in_head) return;
    if (!azimuth_in_head) {
        m.machine_subtype = 0;
        return;
    }
    const int a = sole_axis(m.azimuth_axis_vector);
    const int e = sole_axis(m.elevation_axis_vector);
    int subtype = 0;
    if (a == 1 && e == 3) subtype = 21;
    if (a == 2 && e == 3) subtype = 22;
    if (a == 3 && e == 3) subtype = 23;
    if (a == 1 && e == 1) subtype = 24;
    if (a == 2 && e == 2) subtype = 25;
    m.machine_subtype = subtype;
}

void reject_axes_configuration(int reason, int exit_code) {
    issue_message(AXES_NOT_SENSIBLE);
    issue_message(reason);
    stop_run(exit_code);
}

void set_up_rotary_axis_frame(const vector3& azimuth_axis, const vector3& elevation_axis,
                              const vector3& tool_vector) {
    machine_model_t& m = machine_model;
    const int elevation_primary = m.machine_type == MACHINE_TABLE_TABLE || m.machine_type == MACHINE_HEAD_TABLE;
    vector3 primary = elevation_primary ? elevation_axis : azimuth_axis;
    vector3 secondary = elevation_primary ? azimuth_axis : elevation_axis;
    vector3 tool = tool_vector;
    normalize_vector_fine(primary);

    // A half turn about the bisector of the primary axis and +Z takes the one
    // onto the other; an axis along -Z has no bisector and turns about X.
    vector3 z_axis;
    z_axis[3] = 1.0;
    vector3 b;
    for (int i = 1; i <= 3; ++i) b[i] = (primary[i] + z_axis[i]) / 2.0;
    if (!(vector_length_fine(b) > angle_constants.angle_tolerance)) {
        b.fill(0.0);
        b[1] = 1.0;
    }
    normalize_vector_fine(b);
    if (vector_angle_fine(b, z_axis) <= 1e-5) {
        axis_rotation_matrix_fine(b, 0.0, m.rotary_axis_frame.matrix);
    } else {
        rotate_about_axis(secondary, b, angle_constants.pi_value, secondary);
        rotate_about_axis(tool, b, angle_constants.pi_value, tool);
        rotate_about_axis(primary, b, angle_constants.pi_value, primary);
        axis_rotation_matrix_fine(b, angle_constants.pi_value, m.rotary_axis_frame.matrix);
    }
    normalize_vector_fine(secondary);
    normalize_vector_fine(tool);
    normalize_vector_fine(primary);
    m.rotary_axis_frame.secondary_axis = secondary;
    m.rotary_axis_frame.initial_tool_vector = tool;

    if (parallel_within_tolerance(primary, secondary)) reject_axes_configuration(AXES_PARALLEL, AXES_EXIT_CODE);
    if (parallel_within_tolerance(tool, secondary)) {
        set_message_string_arg(1, elevation_primary ? "azimuth" : "elevation");
        reject_axes_configuration(TOOL_ALONG_AXIS, AXES_EXIT_CODE);
    }
}

void setup_multiaxis_kinematics() {
    machine_model_t& m = machine_model;
    copy_settings();
    set_start_state();
    const double tol = angle_constants.angle_tolerance;

    int all_zero = 1;
    for (int i = 1; i <= 3; ++i)
        if (std::fabs(m.azimuth_axis_vector[i]) > tol || std::fabs(m.elevation_axis_vector[i]) > tol) all_zero = 0;
    if (all_zero) {
        // No rotary axes is no error: the multi-axis routines see no rotary configuration.
        m.machine_subtype = 0;
        m.machine_type = MACHINE_NO_ROTARY;
        return;
    }

    set_machine_subtype();
    const int azimuth_in_head = m.spindle_motion_flags[5];
    const int elevation_in_head = m.spindle_motion_flags[6];
    if (!azimuth_in_head && !elevation_in_head) {
        m.machine_type = MACHINE_TABLE_TABLE;
    } else if (azimuth_in_head && !elevation_in_head) {
        m.machine_type = MACHINE_HEAD_TABLE;
    } else if (azimuth_in_head && elevation_in_head) {
        m.machine_type = m.machine_subtype >= 21 && m.machine_subtype <= 41 ? MACHINE_HEAD_PAIR : MACHINE_HEAD_HEAD;
    } else {
        m.machine_type = MACHINE_NO_ROTARY;
    }

    m.azimuth_unit_axis = m.azimuth_axis_vector;
    normalize_vector(m.azimuth_unit_axis);
    m.elevation_unit_axis = m.elevation_axis_vector;
    normalize_vector(m.elevation_unit_axis);

    const int azimuth_short = vector_length(m.azimuth_axis_vector) < tol;
    const int elevation_short = vector_length(m.elevation_axis_vector) < tol;
    m.four_axis_machine = 0;
    if (m.machine_type == MACHINE_TABLE_TABLE && azimuth_short && !elevation_short) {
        m.four_axis_machine = 1;
        m.four_axis_rotary_axis = m.elevation_unit_axis;
    }
    if (m.machine_type == MACHINE_HEAD_TABLE && elevation_short && !azimuth_short) {
        m.four_axis_machine = 1;
        m.four_axis_rotary_axis = m.azimuth_unit_axis;
    }

    if (m.machine_type == MACHINE_TABLE_TABLE || m.machine_type == MACHINE_HEAD_TABLE ||
        m.machine_type == MACHINE_HEAD_HEAD) {
        read_vector(INITIAL_TOOL_VECTOR_REAL, m.initial_tool_vector);
        normalize_vector(m.initial_tool_vector);
        set_up_rotary_axis_frame(m.azimuth_unit_axis, m.elevation_unit_axis, m.initial_tool_vector);
        // A head-head machine whose azimuth turns about the tool itself pivots
        // at the height of the elevation centre.
        if (m.machine_type == MACHINE_HEAD_HEAD && vector_angle(m.azimuth_unit_axis, m.initial_tool_vector) <= tol)
            m.tool_azimuth_centre[3] = m.tool_elevation_centre[3];
    }

    multiaxis_motion_state.tool_axis = m.initial_tool_vector;
    multiaxis_motion_state.contact_normal.fill(0.0);
    multiaxis_motion_state.contact_normal[3] = 1.0;

    if (m.four_axis_machine) {
        if (parallel_within_tolerance(m.initial_tool_vector, m.four_axis_rotary_axis))
            reject_axes_configuration(FOUR_AXIS_PARALLEL, AXES_EXIT_CODE);
    } else if (m.machine_type != MACHINE_HEAD_PAIR && (azimuth_short || elevation_short)) {
        reject_axes_configuration(FIVE_AXIS_AXIS_UNSET, AXES_EXIT_CODE);
    }

    if (m.machine_type == MACHINE_TABLE_TABLE || m.machine_type == MACHINE_HEAD_TABLE)
        m.pole_axis = m.elevation_unit_axis;
    if (m.machine_type == MACHINE_HEAD_HEAD) m.pole_axis = m.azimuth_unit_axis;
    set_rotary_limits_as_machine_angles();
}

}  // namespace kv
