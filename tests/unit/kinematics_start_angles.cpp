// The start of multi-axis motion: the committed angles for the committed tool
// axis, the tool-length warning of head machines, the stop when the machine
// cannot take the workplane's axis, and the first point at a FROM record.
#include "record_fixture.h"

#include <cmath>

#include "kinematics/kinematics.h"

using namespace kv;

namespace {

const double S = std::sqrt(0.5);

vector3 v3(double x, double y, double z) { return vector3{{x, y, z}}; }

class StartAngles : public kv_test::RecordJob {
protected:
    // A table-table machine: azimuth about X, elevation about Z, tool along Z,
    // with an identity pcs; moves running (no first move).
    void SetUp() override {
        RecordJob::SetUp();
        load({1, 0, 0}, {0, 0, 1}, 0);
    }
    void load(vector3 azimuth, vector3 elevation, int heads) {
        machine_model = machine_model_t{};
        multiaxis_motion_state = multiaxis_motion_state_t{};
        committed_rotary_state = committed_rotary_state_t{};
        for (int k = 1; k <= 3; ++k) {
            real_option(43 + k) = azimuth[k];
            real_option(73 + k) = elevation[k];
            real_option(340 + k) = k == 3 ? 1.0 : 0.0;
        }
        configuration_store.intsp[49] = heads;
        configuration_store.intsp[50] = heads;
        setup_multiaxis_kinematics();
        machine_model.multiaxis_transform_on = 1;
        multiaxis_motion_state.multiaxis_restart_state = 0;
        build_pcs_matrices(0, 0, 0);
    }
};

TEST_F(StartAngles, CommittedAnglesPointTheToolAlongTheCommittedAxis) {
    ASSERT_EQ(machine_model.machine_type, MACHINE_TABLE_TABLE);
    const vector3 axis = v3(S, 0, S);
    committed_rotary_state.tool_axis = axis;
    set_angles_for_tool_axis(v3(0, 0, 0));
    const committed_rotary_state_t& c = committed_rotary_state;
    const double d = angle_constants.degrees_to_radians;
    EXPECT_NEAR(c.azimuth * d, c.azimuth_radians, 1e-12);
    EXPECT_NEAR(c.elevation * d, c.elevation_radians, 1e-12);
    vector3 t;
    rotate_initial_tool_vector(c.azimuth_radians, c.elevation_radians, t);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_NEAR(t[k], axis[k], 1e-9) << k;
        EXPECT_EQ(multiaxis_motion_state.tool_axis[k], axis[k]);
    }
}

TEST_F(StartAngles, VerticalToolStartSetsTheCurrentAngles) {
    motion_state.rotary_angles[1] = motion_state.rotary_angles[2] = 99.0;
    set_start_angles_for_vertical_tool(v3(1, 2, 3));
    EXPECT_EQ(committed_rotary_state.tool_axis[3], 1.0);
    EXPECT_EQ(motion_state.rotary_angles[1], committed_rotary_state.elevation);
    EXPECT_EQ(motion_state.rotary_angles[2], committed_rotary_state.azimuth);
}

TEST_F(StartAngles, HeadMachineWarnsThatTheToolLengthCounts) {
    load({0, 0, 1}, {1, 0, 0}, 1);
    ASSERT_EQ(machine_model.machine_type, MACHINE_HEAD_HEAD);
    machine_model.tool_length = 75.5;
    committed_rotary_state.tool_axis = v3(0, 0, 1);
    testing::internal::CaptureStderr();
    set_angles_for_tool_axis(v3(0, 0, 0));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Tool length of   75.5000 will be taken into account"), std::string::npos) << err;
}

TEST_F(StartAngles, WorkplaneAxisTheMachineCannotTakeStopsTheRun) {
    machine_model.four_axis_machine = 1;
    machine_model.four_axis_rotary_axis = v3(1, 0, 0);
    configuration_store.intsp[82] = WORKPLANE_ANGLES_ROTARY;
    toolpath_tables.toolpath_from_axis[current_toolpath_index()] = v3(1, 0, 0);
    testing::internal::CaptureStderr();
    int code = 0;
    try {
        set_angles_for_tool_axis(v3(0, 0, 0));
    } catch (const kv_test::run_stopped& s) {
        code = s.code;
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 4);
    EXPECT_NE(err.find("the tool vector is impossible"), std::string::npos) << err;
}

TEST_F(StartAngles, FromRecordSolvesTheAnglesAndKeepsTheTip) {
    using namespace kv_test;
    open_records({make_record(1, 5000, 3, {iw(0), iw(0), rw(10), rw(0), rw(5), rw(0), rw(-S), rw(S)})});
    configuration_store.blklen[9] = 0;
    double azimuth = -1, elevation = -1;
    vector3 tip = v3(-1, -1, -1), axis = v3(-1, -1, -1);
    output_multiaxis_from_point(azimuth, elevation, tip, axis);
    // Turning the part 45 degrees about X brings the tool vector onto +Z.
    EXPECT_NEAR(motion_state.rotary_angles[2], 45.0, 1e-9);
    EXPECT_NEAR(motion_state.rotary_angles[1], 0.0, 1e-9);
    EXPECT_EQ(pass1_results.from_position[1], 10.0);
    EXPECT_EQ(pass1_results.from_position[3], 5.0);
    // Written or not (no "move from" block), the FROM is where the next move
    // starts: its angles, tip and tool axis.
    EXPECT_NEAR(azimuth, 45.0, 1e-9);
    EXPECT_NEAR(elevation, 0.0, 1e-9);
    EXPECT_EQ(tip[1], 10.0);
    EXPECT_EQ(tip[3], 5.0);
    EXPECT_NEAR(axis[2], -S, 1e-12);
    EXPECT_NEAR(axis[3], S, 1e-12);
    // The machine did not go there: the base of the increments stays.
    EXPECT_EQ(motion_state.previous_position_units[1], 0);
    EXPECT_EQ(motion_state.previous_position_units[8], 0);
}

TEST_F(StartAngles, FromRecordWithoutToolVectorKeepsTheToolAxis) {
    using namespace kv_test;
    open_records({make_record(1, 5000, 3, {iw(0), iw(0), rw(10), rw(0), rw(5)})});
    configuration_store.blklen[9] = 0;
    double azimuth = 0, elevation = 0;
    vector3 tip, axis = v3(0, -S, S);
    output_multiaxis_from_point(azimuth, elevation, tip, axis);
    EXPECT_NEAR(azimuth, 45.0, 1e-9);
    EXPECT_NEAR(axis[2], -S, 1e-12);
}

TEST_F(StartAngles, FromRecordTipIsScaledOnceToOutputUnits) {
    using namespace kv_test;
    pass1_results.unit_factor = 25.4;
    open_records({make_record(1, 5000, 3, {iw(0), iw(0), rw(10), rw(0), rw(5), rw(0), rw(0), rw(1)})});
    configuration_store.blklen[9] = 0;
    double azimuth = 0, elevation = 0;
    vector3 tip, axis;
    output_multiaxis_from_point(azimuth, elevation, tip, axis);
    EXPECT_DOUBLE_EQ(pass1_results.from_position[1], 254.0);
    EXPECT_DOUBLE_EQ(pass1_results.from_position[3], 127.0);
}

}  // namespace
