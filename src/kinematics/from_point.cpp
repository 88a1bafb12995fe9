// The first point of a multi-axis move at a FROM record: the rotary angles
// for its tool vector, its machine position and the block "move from".
#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int MOVE_FROM_BLOCK = 9;
constexpr int TOOL_CHANGE_LABEL = 10;   // message 40 "TOOL CHANGE"
constexpr int KEY_AZIMUTH_AXIS = 36;
constexpr int KEY_ELEVATION_AXIS = 37;

// Data word i of the record, 0 beyond the words it holds.
double record_word(int i) { return i <= cldata_data_count() ? cldata_real_word(i) : 0.0; }

// The word of a rotary key forgets its last value and is requested, so that
// the first block of the move writes it.
void force_rotary_word(int key) {
    const int w = configuration_store.key[key];
    setwrd(w, 0, SETWRD_FORGET);
    setwrd(w, 0, SETWRD_REQUEST);
}

}  // namespace

void output_multiaxis_from_point(double& azimuth, double& elevation, vector3& tip, vector3& tool_axis) {
    motion_state_t& ms = motion_state;
    azimuth = ms.previous_rotary_angles[2];
    elevation = ms.previous_rotary_angles[1];

    // The tip is a cutfile length, scaled once here where it is read: the
    // kinematics work in output units (the table and head centres are option
    // lengths), the tip handed back must match the converted tips of the move
    // lists, so the machine position is not scaled a second time below
    // (to_position_units, not to_machine_units). The tool vector turns into
    // the part frame.
    vector3 record_tip;
    for (int k = 1; k <= 3; ++k) record_tip[k] = record_word(2 + k) * pass1_results.unit_factor;
    pass1_results.from_position = record_tip;
    const point4 v{{record_word(6), record_word(7), record_word(8), 1.0}};
    point4 turned;
    transform_point4(v, turned, pcs_matrices.pcs_rotation);
    vector3 part_vector;
    for (int k = 1; k <= 3; ++k) part_vector[k] = turned[k];
    // A FROM without a tool vector (or a zero one) keeps the tool axis in
    // force, as a GOTO point without one does.
    const vector3 record_vector{{v[1], v[2], v[3]}};
    if (vector_length(record_vector) < VECTOR_GIVEN_LENGTH) part_vector = tool_axis;

    angle_pair radians, degrees;
    int status = 0;
    solve_rotary_angles(part_vector, radians, degrees, azimuth, elevation, status);
    if (status != 0) {
        report_multiaxis_error(status, degrees[1], degrees[2]);
        stop_run(EXIT_RUN_ERROR);
    }
    ms.rotary_angles[1] = degrees[2];
    ms.rotary_angles[2] = degrees[1];
    vector3 machine = record_tip;
    kinematic_transform_point(machine, radians[1], radians[2]);

    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    force_rotary_word(KEY_AZIMUTH_AXIS);
    force_rotary_word(KEY_ELEVATION_AXIS);

    array1<int, 3> units;
    array1<double, 3> out;
    to_position_units(machine, units, out);
    if (configuration_store.blklen[MOVE_FROM_BLOCK] > 0) {
        for (int k = 1; k <= 3; ++k) {
            ms.position[k] = out[k];
            ms.position_units[k] = units[k];
        }
        compute_increments();
        set_xyz_words();
        set_reference_message(TOOL_CHANGE_LABEL);
        force_zero_coordinate_words(out);
        run_block(MOVE_FROM_BLOCK);
        commit_current_position();
    } else {
        force_zero_coordinate_words(out);
    }

    // Written or not, the FROM is where the next move starts: its tip, tool
    // axis and angles (the caller puts the machine position there). Else a
    // new tool would start from the last point of the tool before.
    tool_axis = part_vector;
    tip = record_tip;
    azimuth = degrees[1];
    elevation = degrees[2];
}

}  // namespace kv
