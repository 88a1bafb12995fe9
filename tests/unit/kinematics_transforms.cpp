// Machine kinematics: the forward and inverse transforms of the three rotary
// machine types, the pcs placement, the tool axis of a pair of angles, the
// head values of the fixed-pair heads and the axis-vector offset.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

using namespace kv;

namespace {

constexpr double PI = 3.141592653589793;
constexpr double HALF_PI = PI / 2.0;

vector3 v3(double x, double y, double z) { return vector3{{x, y, z}}; }

void expect_near(const vector3& v, const vector3& want, const std::string& what, double tol = 1e-12) {
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(v[k], want[k], tol) << what << " component " << k;
}

// A machine of the type with azimuth and elevation axes, table and head
// centres, and the pcs built from pcs angles (degrees).
struct machine_case {
    const char* name;
    int type;
    vector3 azimuth_axis, elevation_axis;
    vector3 table_azimuth_centre, table_elevation_centre;
    vector3 tool_azimuth_centre, tool_elevation_centre;
    double tool_length;
    vector3 pcs_origin, pcs_angles;
};

void load_machine(const machine_case& c) {
    set_configuration_defaults();
    configuration_store.intsp[94] = 1;  // "multiaxis toollength used"
    machine_model = machine_model_t{};
    machine_model_t& m = machine_model;
    m.machine_type = c.type;
    m.azimuth_axis_vector = m.azimuth_unit_axis = c.azimuth_axis;
    m.elevation_axis_vector = m.elevation_unit_axis = c.elevation_axis;
    m.table_azimuth_centre = c.table_azimuth_centre;
    m.table_elevation_centre = c.table_elevation_centre;
    m.tool_azimuth_centre = c.tool_azimuth_centre;
    m.tool_elevation_centre = c.tool_elevation_centre;
    m.tool_length = c.tool_length;
    m.initial_tool_vector = v3(0, 0, 1);
    m.multiaxis_transform_on = 1;
    m.pcs_origin = c.pcs_origin;
    build_pcs_matrices(c.pcs_angles[1], c.pcs_angles[2], c.pcs_angles[3]);
}

const vector3 ZERO = v3(0, 0, 0);
const vector3 X = v3(1, 0, 0);
const vector3 Y = v3(0, 1, 0);
const vector3 Z = v3(0, 0, 1);

machine_case plain_table_table() { return {"table-table", MACHINE_TABLE_TABLE, Z, X, ZERO, ZERO, ZERO, ZERO, 0, ZERO, ZERO}; }

TEST(Kinematics, TableTableTurnsTheTipAgainstTheAngles) {
    load_machine(plain_table_table());
    vector3 p = v3(3, -4, 5);
    forward_kinematics(p, 0.0, 0.0);
    expect_near(p, v3(3, -4, 5), "zero angles");

    // The table turns +90 degrees about Z: the part point (1, 0, 0) is then
    // seen by the machine at (0, -1, 0).
    p = X;
    forward_kinematics(p, HALF_PI, 0.0);
    expect_near(p, v3(0, -1, 0), "azimuth");

    vector3 axis;
    rotate_initial_tool_vector(HALF_PI, 0.0, axis);
    expect_near(axis, Z, "tool axis");
}

TEST(Kinematics, TableTableTurnsAboutTheCentresAndRecordsTheirDistances) {
    machine_case c = plain_table_table();
    c.table_elevation_centre = v3(0, 0, 10);
    load_machine(c);
    vector3 p = v3(0, 5, 10);
    forward_kinematics(p, 0.0, HALF_PI);
    // (0, 5, 0) from the elevation centre turned by -90 degrees about X.
    expect_near(p, v3(0, 0, 5), "tip");
    EXPECT_NEAR(kinematics_values.rotary_axis_distances[2], 5.0, 1e-12);
    EXPECT_NEAR(kinematics_values.rotary_axis_distances[1], 0.0, 1e-12);
}

TEST(Kinematics, HeadTableAddsTheTurnedHeadOffset) {
    load_machine({"head-table", MACHINE_HEAD_TABLE, Z, X, ZERO, ZERO, X, ZERO, 0, ZERO, ZERO});
    vector3 p = v3(2, 3, 4);
    forward_kinematics(p, HALF_PI, 0.0);
    // The head offset (1, 0, 0) turned by +90 degrees about Z.
    expect_near(p, v3(2, 4, 4), "tip");
    EXPECT_NEAR(kinematics_values.rotary_axis_distances[1], 1.0, 1e-12);
}

TEST(Kinematics, HeadHeadAtZeroAnglesAddsTheHeadCentres) {
    load_machine({"head-head", MACHINE_HEAD_HEAD, Z, Y, ZERO, ZERO, v3(1, 2, 3), v3(4, 6, 10), 0, ZERO, ZERO});
    vector3 p = v3(10, 20, 30);
    forward_kinematics(p, 0.0, 0.0);
    // P + (hc_e.x - hc_a.x, hc_e.y - hc_a.y, hc_a.z)
    expect_near(p, v3(13, 24, 33), "tip");
}

TEST(Kinematics, PcsPlacementTurnsAndShiftsThePart) {
    machine_case c = plain_table_table();
    c.pcs_origin = v3(1, 2, 3);
    c.pcs_angles = v3(90, 0, 0);
    load_machine(c);
    vector3 p = Y;
    forward_kinematics(p, 0.0, 0.0);
    // (0, 1, 0) turned by -90 degrees about X, then moved by the pcs origin.
    expect_near(p, v3(1, 2, 2), "tip");
    vector3 t;
    for (int k = 1; k <= 3; ++k) t[k] = pcs_matrices.pcs_rotation[4 + k];
    expect_near(t, v3(0, 0, -1), "rotation row 2");
    EXPECT_EQ(pcs_matrices.pcs_rotation[13], 0.0);
    EXPECT_EQ(pcs_matrices.pcs_rotation[16], 1.0);
}

TEST(Kinematics, InverseUndoesForwardOnEveryRotaryType) {
    const machine_case cases[] = {
        {"table-table", MACHINE_TABLE_TABLE, Z, X, v3(10, 20, 0), v3(0, 5, -3), ZERO, ZERO, 0, v3(1, 2, 3),
         v3(10, 20, 30)},
        {"table-table tilted axes", MACHINE_TABLE_TABLE, v3(0, 0.6, 0.8), Y, v3(1, -2, 3), v3(-4, 5, 6), ZERO, ZERO,
         0, v3(7, 8, 9), v3(-15, 40, 5)},
        {"head-table", MACHINE_HEAD_TABLE, Z, X, ZERO, v3(0, 5, -3), v3(0, 0, 50), ZERO, 100, v3(1, 2, 3),
         v3(0, 0, 25)},
        {"head-head", MACHINE_HEAD_HEAD, Z, Y, ZERO, ZERO, v3(1, 2, 3), v3(4, 5, 60), 80, ZERO, ZERO},
    };
    const vector3 angles[] = {v3(0.3, -1.1, 0), v3(-2.5, 0.7, 0), v3(PI, HALF_PI, 0)};
    for (const machine_case& c : cases) {
        load_machine(c);
        for (const vector3& a : angles) {
            const vector3 tip = v3(12.5, -7.25, 40);
            vector3 p = tip;
            kinematic_transform_point(p, a[1], a[2]);
            inverse_kinematic_transform_point(p, a[1], a[2]);
            expect_near(p, tip, c.name, 1e-9);

            std::array<double, 6> pts{1, 2, 3, -4, 5, -6};
            std::array<double, 6> copy = pts;
            kinematic_transform_points(pts, 2, a[1], a[2]);
            inverse_kinematic_transform_points(pts, 2, a[1], a[2]);
            for (std::size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(pts[i], copy[i], 1e-9) << c.name;
        }
    }
}

TEST(Kinematics, TransformOffLeavesPointsButNotDisplacements) {
    load_machine({"head-table", MACHINE_HEAD_TABLE, Z, X, ZERO, ZERO, X, ZERO, 0, ZERO, ZERO});
    machine_model.multiaxis_transform_on = 0;
    vector3 p = v3(2, 3, 4);
    kinematic_transform_point(p, HALF_PI, 0.0);
    expect_near(p, v3(2, 3, 4), "forward");
    inverse_kinematic_transform_point(p, HALF_PI, 0.0);
    expect_near(p, v3(2, 3, 4), "inverse");

    // The displacement of a vector ignores the head offset and still turns.
    load_machine(plain_table_table());
    machine_model.multiaxis_transform_on = 0;
    vector3 d = X;
    machine_displacement_of_vector(HALF_PI, 0.0, d);
    expect_near(d, v3(0, -1, 0), "displacement");
}

TEST(Kinematics, MachinesWithoutRotaryKinematicsLeaveTipsUnchanged) {
    for (int type : {MACHINE_NO_ROTARY, MACHINE_HEAD_PAIR}) {
        machine_case c = plain_table_table();
        c.type = type;
        load_machine(c);
        vector3 p = v3(1, 2, 3);
        kinematic_transform_point(p, 0.5, 0.5);
        inverse_kinematic_transform_point(p, 0.5, 0.5);
        expect_near(p, v3(1, 2, 3), "type " + std::to_string(type));
        vector3 t;
        rotate_vector_by_rotary_angles(0.5, 0.5, X, t);
        expect_near(t, X, "vector");
    }
}

TEST(Kinematics, ToolAxisTurnsTablesAzimuthFirstAndHeadsElevationFirst) {
    machine_case c = plain_table_table();
    load_machine(c);
    vector3 t;
    rotate_vector_by_rotary_angles(HALF_PI, HALF_PI, Z, t);
    expect_near(t, v3(0, -1, 0), "table-table");

    c.type = MACHINE_HEAD_HEAD;
    load_machine(c);
    rotate_vector_by_rotary_angles(HALF_PI, HALF_PI, Z, t);
    expect_near(t, X, "head-head");
}

TEST(Kinematics, PcsIsBuiltWithTheAnglesTheMachineRealises) {
    load_machine(plain_table_table());
    machine_model.machine_type = MACHINE_NO_ROTARY;
    pcs_matrices = pcs_matrices_t{};
    set_pcs_transform(30, 40, 50);
    for (int k = 1; k <= 16; ++k) EXPECT_EQ(pcs_matrices.pcs_placement[k], 0.0);

    struct row {
        int type, four_axis;
        double a, b, c;  // the angles build_pcs_matrices should see
    } rows[] = {
        {MACHINE_TABLE_TABLE, 0, 30, 40, 50}, {MACHINE_TABLE_TABLE, 1, 0, 0, 50},
        {MACHINE_HEAD_TABLE, 0, 0, 0, 50},    {MACHINE_HEAD_TABLE, 1, 0, 0, 0},
        {MACHINE_HEAD_HEAD, 0, 0, 0, 0},      {MACHINE_HEAD_PAIR, 0, 0, 0, 0},
    };
    for (const row& r : rows) {
        machine_model.machine_type = r.type;
        machine_model.four_axis_machine = r.four_axis;
        build_pcs_matrices(r.a, r.b, r.c);
        const pcs_matrices_t want = pcs_matrices;
        pcs_matrices = pcs_matrices_t{};
        set_pcs_transform(30, 40, 50);  // third, first, second "pcs origin" angle
        for (int k = 1; k <= 16; ++k)
            EXPECT_EQ(pcs_matrices.pcs_placement[k], want.pcs_placement[k]) << "type " << r.type << " four " << r.four_axis;
    }
}

TEST(Kinematics, AxisVectorOffset) {
    struct row {
        double x, y, z;
        int factor, want;
    } rows[] = {
        {0, 0, 2.4, 1000, 2400}, {-3, 0, 0, 10, -30}, {0, 1, 0, 1000, 0},
        {0, 1.5, 2, 1000, 0},    {0, 0, 0, 1000, 0},  {0, -1.0004, 0, 1000, -1000},
    };
    for (const row& r : rows) {
        int acc = 0;
        add_axis_vector_offset(r.x, r.y, r.z, r.factor, acc);
        EXPECT_EQ(acc, r.want) << r.x << " " << r.y << " " << r.z;
    }
}

class HeadValues : public ::testing::Test {
protected:
    void SetUp() override {
        set_configuration_defaults();
        machine_model = machine_model_t{};
        machine_model.machine_type = MACHINE_HEAD_PAIR;
        machine_model.tool_length = 10.0;
        kinematics_values = kinematics_values_t{};
        motion_state = motion_state_t{};
    }
    double elevation = -1, azimuth = -1;
    int status = -1;
    void values(vector3 position, vector3 v, double prev_el = 7, double prev_az = 8) {
        azimuth_elevation_head_values(position, v, prev_el, prev_az, elevation, azimuth, status);
    }
};

TEST_F(HeadValues, SubtypesOfTheScaledToolVector) {
    machine_model.machine_subtype = 24;
    values(v3(100, 200, 0), v3(0.1, 0.2, 0.5));
    // Scaled so that z is the tool length: times 20.
    EXPECT_DOUBLE_EQ(azimuth, 2.0);
    EXPECT_DOUBLE_EQ(elevation, 4.0);

    EXPECT_EQ(status, 0);

    machine_model.machine_subtype = 22;
    values(v3(100, 200, 0), v3(0.1, 0.2, 0.5));
    EXPECT_DOUBLE_EQ(azimuth, 102.0);
    EXPECT_DOUBLE_EQ(elevation, 204.0);
}

TEST_F(HeadValues, SubtypeTwentyThreeWritesIncrementsOfTheRoundedSums) {
    machine_model.machine_subtype = 23;
    values(ZERO, v3(0.12345, 0, 10));
    EXPECT_NEAR(azimuth, 0.12345, 1e-15);
    values(ZERO, v3(0.12345, 0, 10));
    EXPECT_NEAR(azimuth, 0.00045, 1e-15);
    EXPECT_NEAR(kinematics_values.special_angles[1], 0.123, 1e-15);
}

TEST_F(HeadValues, ToolLengthFallsBackToTheSettingThenOne) {
    machine_model.machine_subtype = 24;
    machine_model.tool_length = 0.0;
    real_option(13) = -5.0;
    values(ZERO, v3(0.5, 0, 0.5));
    EXPECT_EQ(machine_model.tool_length, 1.0);
    EXPECT_DOUBLE_EQ(azimuth, 1.0);

    machine_model.tool_length = 0.0;
    real_option(13) = 4.0;
    values(ZERO, v3(0.5, 0, 0.5));
    EXPECT_EQ(machine_model.tool_length, 4.0);
}

// The head writes the tool's lean over the tool length above the tip: a
// vector in the XY plane has none, and one below it would come out as its
// mirror above. Neither can be reached, on any pair.
TEST_F(HeadValues, ToolVectorAtOrBelowTheHorizontalIsUnreachable) {
    const vector3 unreachable[] = {v3(1, 0, 0), v3(0.1, 0.2, -0.5), v3(0, 0, -1), v3(1, 0, 1e-7), ZERO};
    for (int subtype : {21, 22, 23, 24, 25}) {
        machine_model.machine_subtype = subtype;
        for (const vector3& u : unreachable) {
            vector3 v = u;
            azimuth_elevation_head_values(ZERO, v, 7, 8, elevation, azimuth, status);
            EXPECT_EQ(status, ROTARY_VECTOR_IMPOSSIBLE) << subtype << " " << u[1] << " " << u[2] << " " << u[3];
            EXPECT_EQ(elevation, 7.0);
            EXPECT_EQ(azimuth, 8.0);
        }
        values(ZERO, v3(1, 0, 1e-3));
        EXPECT_EQ(status, 0) << subtype << ": a steep lean is still reachable";
    }
}

TEST_F(HeadValues, SubtypeTwentyOneLeansAcrossAndAlongTheMove) {
    machine_model.machine_subtype = 21;
    const int xw = configuration_store.key[8];
    const double mx = MULT(xw);
    // No XY motion yet: the previous angles.
    values(ZERO, v3(0.1, 0, 1));
    EXPECT_EQ(elevation, 7.0);
    EXPECT_EQ(azimuth, 8.0);

    // A move along +X with the tool leaning 1 along X (tool length 10):
    // azimuth atan(1/10) along the move, no lean across it.
    motion_state.increments[1] = static_cast<int>(5 * mx);
    motion_state.increments[2] = 0;
    values(ZERO, v3(0.1, 0, 1));
    EXPECT_NEAR(azimuth, std::atan2(1.0, 10.0) * 57.29577951308232, 1e-9);
    EXPECT_NEAR(elevation, 0.0, 1e-12);

    // Then no motion: the kept move direction still serves; a lean along Y is across it.
    motion_state.increments[1] = 0;
    values(ZERO, v3(0, 0.2, 1));
    EXPECT_NEAR(azimuth, 0.0, 1e-12);
    EXPECT_NEAR(elevation, std::atan2(-2.0, 10.0) * 57.29577951308232, 1e-9);
}

}  // namespace
