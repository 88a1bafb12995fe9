// Workplanes: a toolpath workplane record read against the job workplane, the
// half turn of a machine whose tool is not along +Z, the apparent workplane of
// a tool axis, the point transforms and the origin offset of hole tops.
#include "record_fixture.h"

#include <cmath>

#include "kinematics/kinematics.h"

using namespace kv;

namespace {

vector3 v3(double x, double y, double z) { return vector3{{x, y, z}}; }

void expect_matrix(const array1<double, 9>& m, std::initializer_list<double> want, const std::string& what) {
    int k = 1;
    for (double w : want) {
        EXPECT_NEAR(m[k], w, 1e-12) << what << " element " << k;
        ++k;
    }
}

// A workplane record: origin, then the X, Y and Z axes.
kv_test::record workplane_record(int subclass, vector3 o, vector3 x, vector3 y, vector3 z) {
    using namespace kv_test;
    return make_record(1, 28000, subclass,
                       {iw(0), iw(0), rw(o[1]), rw(o[2]), rw(o[3]), rw(x[1]), rw(x[2]), rw(x[3]), rw(y[1]),
                        rw(y[2]), rw(y[3]), rw(z[1]), rw(z[2]), rw(z[3])});
}

const vector3 X = v3(1, 0, 0);
const vector3 Y = v3(0, 1, 0);
const vector3 Z = v3(0, 0, 1);

class Workplanes : public kv_test::RecordJob {
protected:
    void SetUp() override {
        RecordJob::SetUp();
        machine_model = machine_model_t{};
        machine_model.initial_tool_vector = Z;
        workplane_state = workplane_state_t{};
        toolpath_tables.toolpath_workplanes[0] = toolpath_workplane_t{};
        toolpath_tables.toolpath_workplanes[0].matrix = array1<double, 9>{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
        configuration_store.intsp[96] = 1;  // "workplane angle convention"
    }

    // Reads the record into toolpath 1 against the job workplane of entry 0.
    int read(const kv_test::record& r) {
        open_records({r});
        const toolpath_workplane_t& job = toolpath_tables.toolpath_workplanes[0];
        matrix3 transposed;
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 3; ++j) transposed[3 * (i - 1) + j] = job.matrix[3 * (j - 1) + i];
        int status = -1;
        read_toolpath_workplane(1, transposed, status);
        return status;
    }
    const toolpath_workplane_t& toolpath1() { return toolpath_tables.toolpath_workplanes[1]; }
};

TEST_F(Workplanes, WithoutJobWorkplaneTheRecordIsTakenAsRead) {
    EXPECT_EQ(read(workplane_record(2, v3(10, 20, 30), Y, v3(-1, 0, 0), Z)), 0);
    expect_matrix(toolpath1().matrix, {0, 1, 0, -1, 0, 0, 0, 0, 1}, "matrix");
    EXPECT_EQ(toolpath1().origin[1], 10.0);
    EXPECT_EQ(toolpath1().origin[2], 20.0);
    EXPECT_EQ(toolpath1().origin[3], 30.0);
    // A quarter turn about Z: the static XYZ convention gives (0, 0, 90).
    EXPECT_NEAR(toolpath1().angles[1], 0.0, 1e-12);
    EXPECT_NEAR(toolpath1().angles[2], 0.0, 1e-12);
    EXPECT_NEAR(toolpath1().angles[3], 90.0, 1e-12);
}

TEST_F(Workplanes, ToolpathOriginAndAxesAreTakenInJobAxes) {
    // The job workplane: origin (1, 1, 1), its X axis along world Y.
    toolpath_workplane_t& job = toolpath_tables.toolpath_workplanes[0];
    job.origin = array1<double, 3>{{1, 1, 1}};
    job.matrix = array1<double, 9>{{0, 1, 0, -1, 0, 0, 0, 0, 1}};
    // The same axes as the job: identity in job axes; 2 along world Y is 2 along job X.
    EXPECT_EQ(read(workplane_record(2, v3(1, 3, 1), Y, v3(-1, 0, 0), Z)), 0);
    expect_matrix(toolpath1().matrix, {1, 0, 0, 0, 1, 0, 0, 0, 1}, "matrix");
    EXPECT_NEAR(toolpath1().origin[1], 2.0, 1e-12);
    EXPECT_NEAR(toolpath1().origin[2], 0.0, 1e-12);
    EXPECT_NEAR(toolpath1().origin[3], 0.0, 1e-12);
}

TEST_F(Workplanes, OriginIsACutfileLength) {
    pass1_results.unit_factor = 25.4;
    EXPECT_EQ(read(workplane_record(2, v3(1, 2, 0), X, Y, Z)), 0);
    EXPECT_NEAR(toolpath1().origin[1], 25.4, 1e-12);
    EXPECT_NEAR(toolpath1().origin[2], 50.8, 1e-12);
}

TEST_F(Workplanes, ToolAlongXTurnsTheWorkplaneUnlessTheConventionKeepsZ) {
    machine_model.initial_tool_vector = X;
    EXPECT_EQ(read(workplane_record(2, v3(0, 0, 0), X, Y, Z)), 0);
    // The half turn about (0.5, 0, 0.5) normalised exchanges Z and X.
    expect_matrix(toolpath1().matrix, {0, 0, 1, 0, -1, 0, 1, 0, 0}, "turned");

    configuration_store.intsp[107] = 1;
    EXPECT_EQ(read(workplane_record(2, v3(0, 0, 0), X, Y, Z)), 0);
    expect_matrix(toolpath1().matrix, {1, 0, 0, 0, 1, 0, 0, 0, 1}, "kept");
}

TEST_F(Workplanes, AxesThatAreNoRotationFailTheRecord) {
    EXPECT_EQ(read(workplane_record(2, v3(0, 0, 0), v3(2, 0, 0), Y, Z)), 1);
}

TEST_F(Workplanes, ConventionOutsideTheRangeIsClamped) {
    struct row {
        int convention;
        int order;
    } rows[] = {{0, 0}, {1, 0}, {25, 23}, {24, 23}};
    for (const row& r : rows) {
        configuration_store.intsp[96] = r.convention;
        EXPECT_EQ(read(workplane_record(2, v3(0, 0, 0), Y, v3(-1, 0, 0), Z)), 0);
        matrix3 m;
        for (int k = 1; k <= 9; ++k) m[k] = toolpath1().matrix[k];
        vector3 want;
        int st = 0;
        matrix_to_euler_angles(m, want, r.order, st);
        for (int k = 1; k <= 3; ++k) EXPECT_EQ(toolpath1().angles[k], want[k]) << "convention " << r.convention;
    }
}

TEST_F(Workplanes, SelectingAToolpathMakesItsWorkplaneCurrent) {
    toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[3];
    wp.origin = array1<double, 3>{{1, 2, 3}};
    wp.matrix = array1<double, 9>{{0, 1, 0, -1, 0, 0, 0, 0, 1}};
    wp.angles = array1<double, 3>{{0, 0, 90}};
    int status = -1;
    select_workplane_transform(3, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(workplane_state.origin_shift[2], 2.0);
    EXPECT_EQ(workplane_state.origin[3], 3.0);
    EXPECT_EQ(workplane_state.euler_angles[3], 90.0);
    expect_matrix(workplane_state.matrix, {0, 1, 0, -1, 0, 0, 0, 0, 1}, "matrix");

    // Without "workplane angles" machine tool the machine workplane is left alone.
    configuration_store.intsp[82] = WORKPLANE_ANGLES_EULER;
    select_machine_workplane(3, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(workplane_state.azimuth, 0.0);
}

TEST_F(Workplanes, ToolpathWithoutWorkplaneRecordStaysInJobAxes) {
    toolpath_tables.toolpath_workplanes[4] = toolpath_workplane_t{};
    workplane_state.matrix.fill(5.0);
    int status = -1;
    select_workplane_transform(4, status);
    expect_matrix(workplane_state.matrix, {1, 0, 0, 0, 1, 0, 0, 0, 1}, "matrix");
    configuration_store.intsp[82] = WORKPLANE_ANGLES_EULER;
    vector3 p = v3(1, 2, 3);
    workplane_part_to_machine_point(p);
    EXPECT_EQ(p[2], 2.0);
}

TEST_F(Workplanes, PointTransformsRoundTripAndShiftOnlyWhenAsked) {
    workplane_state.matrix = array1<double, 9>{{0, 1, 0, -1, 0, 0, 0, 0, 1}};
    workplane_state.origin_shift = v3(10, 0, 5);
    configuration_store.intsp[98] = 1;
    vector3 p = v3(10, 3, 5);
    workplane_part_to_machine_point(p);
    // 3 along world Y from the origin is 3 along the workplane's X.
    EXPECT_NEAR(p[1], 3.0, 1e-12);
    EXPECT_NEAR(p[2], 0.0, 1e-12);
    EXPECT_NEAR(p[3], 0.0, 1e-12);
    workplane_machine_to_part(p);
    EXPECT_NEAR(p[1], 10.0, 1e-12);
    EXPECT_NEAR(p[2], 3.0, 1e-12);
    EXPECT_NEAR(p[3], 5.0, 1e-12);

    configuration_store.intsp[98] = 0;
    std::array<double, 6> pts{10, 3, 5, 1, 0, 0};
    workplane_part_to_machine_points(pts, 2);
    const std::array<double, 6> want{3, -10, 5, 0, -1, 0};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(pts[i], want[i], 1e-12) << i;
    configuration_store.intsp[82] = WORKPLANE_ANGLES_EULER;
    machine_to_part_points(pts, 2);
    const std::array<double, 6> back{10, 3, 5, 1, 0, 0};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(pts[i], back[i], 1e-12) << i;
}

TEST_F(Workplanes, ApparentWorkplaneOfAToolAxis) {
    struct row {
        vector3 axis;
        std::initializer_list<double> matrix;
    } rows[] = {
        {Z, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {v3(0, 0, 3), {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {v3(2, 0, 0), {0, 0, 1, 0, -1, 0, 1, 0, 0}},
        {v3(0, 0, -1), {1, 0, 0, 0, -1, 0, 0, 0, -1}},
    };
    for (const row& r : rows) {
        vector3 angles;
        matrix3 m;
        int status = -1;
        apparent_workplane_for_tool_axis(r.axis, angles, m, status);
        EXPECT_EQ(status, 0);
        expect_matrix(m, r.matrix, "axis");
        // The workplane's z axis is the tool axis.
        vector3 z;
        vector_times_matrix3(Z, z, m);
        vector3 unit = r.axis;
        normalize_vector(unit);
        for (int k = 1; k <= 3; ++k) EXPECT_NEAR(z[k], unit[k], 1e-12);
    }
}

TEST_F(Workplanes, TransformIsActiveByWorkplaneModeAndMachineType) {
    struct row {
        int angles, multiaxis_mode, type, want;
    } rows[] = {
        {0, 0, MACHINE_HEAD_HEAD, 0},
        {WORKPLANE_ANGLES_EULER, 0, MACHINE_TABLE_TABLE, 1},
        {WORKPLANE_ANGLES_EULER, 1, MACHINE_TABLE_TABLE, 0},
        {WORKPLANE_ANGLES_ROTARY, 1, MACHINE_HEAD_TABLE, 1},
        {WORKPLANE_ANGLES_ROTARY, 1, MACHINE_HEAD_HEAD, 1},
        {WORKPLANE_ANGLES_ROTARY, 1, MACHINE_HEAD_PAIR, 0},
    };
    for (const row& r : rows) {
        configuration_store.intsp[82] = r.angles;
        set_status_flag(20, r.multiaxis_mode);
        machine_model.machine_type = r.type;
        EXPECT_EQ(is_workplane_transform_active(), r.want) << r.angles << " " << r.multiaxis_mode << " " << r.type;
    }
    set_status_flag(20, 0);
}

TEST_F(Workplanes, OriginOffsetAlongTheWorkplaneToolAxis) {
    workplane_state.origin_shift = v3(1, 2, 3);
    configuration_store.intsp[82] = 0;
    EXPECT_EQ(workplane_origin_offset(), 0.0);

    configuration_store.intsp[82] = WORKPLANE_ANGLES_EULER;
    EXPECT_NEAR(workplane_origin_offset(), 3.0, 1e-12);
    // A workplane tilted onto X measures the shift along X.
    workplane_state.matrix = array1<double, 9>{{0, 0, -1, 0, 1, 0, 1, 0, 0}};
    EXPECT_NEAR(workplane_origin_offset(), 1.0, 1e-12);
}

}  // namespace

namespace {

// A table-table machine (azimuth about X, elevation about Z, tool along Z),
// set up as a control load does.
void load_table_table() {
    set_configuration_defaults();
    machine_model = machine_model_t{};
    multiaxis_motion_state = multiaxis_motion_state_t{};
    const double axes[] = {1, 0, 0, 0, 0, 1, 0, 0, 1};
    for (int k = 0; k < 3; ++k) {
        real_option(44 + k) = axes[k];
        real_option(74 + k) = axes[3 + k];
        real_option(341 + k) = axes[6 + k];
    }
    setup_multiaxis_kinematics();
    multiaxis_motion_state.multiaxis_restart_state = 0;
    build_pcs_matrices(0, 0, 0);
}

TEST_F(Workplanes, MachineToolWorkplaneTurnsTheAxesByTheSolvedAngles) {
    load_table_table();
    ASSERT_EQ(machine_model.machine_type, MACHINE_TABLE_TABLE);
    configuration_store.intsp[82] = WORKPLANE_ANGLES_ROTARY;
    const double s = std::sqrt(0.5);
    const vector3 axes[] = {Z, v3(0, -s, s), v3(s, 0, s), v3(0.48, 0.6, 0.64)};
    for (const vector3& axis : axes) {
        double azimuth = 0, elevation = 0;
        matrix3 m;
        vector3 origin = v3(1, 2, 3);
        int status = -1;
        machine_tool_workplane(axis, 0.0, 0.0, azimuth, elevation, m, origin, status);
        ASSERT_EQ(status, 0);
        // Column 3 is the tool axis: the turned initial tool vector (+Z).
        for (int r = 1; r <= 3; ++r) EXPECT_NEAR(m[3 * (r - 1) + 3], axis[r], 1e-9) << r;
        vector3 t;
        const double d = angle_constants.degrees_to_radians;
        rotate_initial_tool_vector(azimuth * d, elevation * d, t);
        for (int r = 1; r <= 3; ++r) EXPECT_NEAR(t[r], axis[r], 1e-9) << r;
        EXPECT_EQ(origin[1], 1.0);  // "transform workplane origin" is off
    }

    // One rotary axis along X cannot tilt the tool from +Z onto +X.
    machine_model.four_axis_machine = 1;
    machine_model.four_axis_rotary_axis = X;
    double azimuth = 0, elevation = 0;
    matrix3 m;
    vector3 origin;
    int status = -1;
    machine_tool_workplane(X, 0.0, 0.0, azimuth, elevation, m, origin, status);
    EXPECT_EQ(status, 1);
}

TEST_F(Workplanes, SelectedMachineWorkplaneSetsTheRotaryAngles) {
    load_table_table();
    configuration_store.intsp[82] = WORKPLANE_ANGLES_ROTARY;
    const double s = std::sqrt(0.5);
    toolpath_tables.toolpath_workplanes[2].origin = array1<double, 3>{{4, 5, 6}};
    toolpath_tables.toolpath_from_axis[2] = v3(0, -s, s);
    int status = -1;
    select_machine_workplane(2, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(workplane_state.origin_shift[3], 6.0);
    EXPECT_EQ(motion_state.rotary_angles[1], workplane_state.elevation);
    EXPECT_EQ(motion_state.rotary_angles[2], workplane_state.azimuth);
    EXPECT_NEAR(std::fabs(workplane_state.azimuth), 45.0, 1e-9);
}

}  // namespace
