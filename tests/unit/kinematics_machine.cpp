// The machine model set-up: machine types and subtypes from the axis settings,
// the solver frame, the pole axis, the copied settings, and the rejected axis
// geometries with their messages and exit code 1.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

struct vec {
    double x, y, z;
};

void put_vector(int first, vec v) {
    real_option(first) = v.x;
    real_option(first + 1) = v.y;
    real_option(first + 2) = v.z;
}

// A control with the given rotary axes over the configuration defaults.
void load_axes(vec azimuth, vec elevation, vec tool, int azimuth_in_head, int elevation_in_head) {
    set_configuration_defaults();
    machine_model = machine_model_t{};
    multiaxis_motion_state = multiaxis_motion_state_t{};
    put_vector(44, azimuth);
    put_vector(74, elevation);
    put_vector(341, tool);
    configuration_store.intsp[49] = azimuth_in_head;
    configuration_store.intsp[50] = elevation_in_head;
}

void expect_vector(const vector3& v, vec want, const std::string& what) {
    EXPECT_NEAR(v[1], want.x, 1e-12) << what;
    EXPECT_NEAR(v[2], want.y, 1e-12) << what;
    EXPECT_NEAR(v[3], want.z, 1e-12) << what;
}

// The set-up as the run does it, with the messages it may issue on standard error.
void setup_with_messages() {
    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    setup_multiaxis_kinematics();
    std::exit(0);
}

const vec ZERO{0, 0, 0};
const vec X{1, 0, 0};
const vec Z{0, 0, 1};

}  // namespace

TEST(MachineModel, TypesFramesAndPoleAxes) {
    struct Case {
        const char* what;
        vec azimuth, elevation, tool;
        int azimuth_in_head, elevation_in_head;
        int type, subtype, four_axis;
        vec pole;
        double frame[9];
        vec frame_secondary, frame_tool;
    };
    const Case cases[] = {
        {"table-table, elevation along Z", X, Z, Z, 0, 0, 1, 0, 0, Z, {1, 0, 0, 0, 1, 0, 0, 0, 1}, X, Z},
        {"table-table, elevation along X: half turn about (1, 0, 1)", Z, X, {0, 1, 0}, 0, 0, 1, 0, 0, X,
         {0, 0, 1, 0, -1, 0, 1, 0, 0}, X, {0, -1, 0}},
        {"table-table, elevation along -Z: half turn about X", X, {0, 0, -1}, Z, 0, 0, 1, 0, 0, {0, 0, -1},
         {1, 0, 0, 0, -1, 0, 0, 0, -1}, X, {0, 0, -1}},
        {"table-table, four-axis about X", ZERO, {2, 0, 0}, Z, 0, 0, 1, 0, 1, X,
         {0, 0, 1, 0, -1, 0, 1, 0, 0}, ZERO, {1, 0, 0}},
        {"head-table, four-axis about Z", Z, ZERO, X, 1, 0, 2, 0, 1, ZERO, {1, 0, 0, 0, 1, 0, 0, 0, 1}, Z, X},
        {"head-head off the axis pairs", Z, X, Z, 1, 1, 3, 0, 0, Z, {1, 0, 0, 0, 1, 0, 0, 0, 1}, X, Z},
    };
    for (const Case& k : cases) {
        load_axes(k.azimuth, k.elevation, k.tool, k.azimuth_in_head, k.elevation_in_head);
        setup_multiaxis_kinematics();
        const machine_model_t& m = machine_model;
        EXPECT_EQ(m.machine_type, k.type) << k.what;
        EXPECT_EQ(m.machine_subtype, k.subtype) << k.what;
        EXPECT_EQ(m.four_axis_machine, k.four_axis) << k.what;
        expect_vector(m.pole_axis, k.pole, std::string(k.what) + ": pole axis");
        for (int i = 1; i <= 9; ++i) EXPECT_NEAR(m.rotary_axis_frame.matrix[i], k.frame[i - 1], 1e-12) << k.what << " frame " << i;
        expect_vector(m.rotary_axis_frame.secondary_axis, k.frame_secondary, std::string(k.what) + ": secondary");
        expect_vector(m.rotary_axis_frame.initial_tool_vector, k.frame_tool, std::string(k.what) + ": tool");
        expect_vector(multiaxis_motion_state.tool_axis, k.tool, std::string(k.what) + ": tool axis");
    }
}

TEST(MachineModel, HeadAxisPairsAndMachinesWithoutRotaryAxes) {
    struct Case {
        const char* what;
        vec azimuth, elevation;
        int azimuth_in_head, elevation_in_head;
        int type, subtype;
    };
    const Case cases[] = {
        {"no axis vectors", ZERO, ZERO, 1, 1, -1, 0},
        {"vectors within the angle tolerance", {5e-5, 0, 0}, {0, -9e-5, 0}, 0, 0, -1, 0},
        {"pair 21", {3, 0, 0}, {0, 0, 1}, 1, 1, 4, 21},
        {"pair 22", {0, -1, 0}, {0, 0, 2}, 1, 1, 4, 22},
        {"pair 23, signs do not count", {0, 0, 5}, {0, 0, -2}, 1, 1, 4, 23},
        {"pair 24", {1, 0, 0}, {-1, 0, 0}, 1, 1, 4, 24},
        {"pair 25", {0, 1, 0}, {0, 1, 0}, 1, 1, 4, 25},
        {"only the elevation in the head", X, Z, 0, 1, -1, 0},
    };
    for (const Case& k : cases) {
        load_axes(k.azimuth, k.elevation, X, k.azimuth_in_head, k.elevation_in_head);
        setup_multiaxis_kinematics();
        const machine_model_t& m = machine_model;
        EXPECT_EQ(m.machine_type, k.type) << k.what;
        EXPECT_EQ(m.machine_subtype, k.subtype) << k.what;
        EXPECT_EQ(m.four_axis_machine, 0) << k.what;
        // These types read no initial tool vector and build no frame or pole axis.
        expect_vector(m.initial_tool_vector, ZERO, k.what);
        expect_vector(m.pole_axis, ZERO, k.what);
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(m.rotary_axis_frame.matrix[i], 0.0) << k.what;
    }
}

TEST(MachineModel, CopiedSettingsAndStartState) {
    load_axes(X, Z, {0, 3, 4}, 0, 0);
    configuration_store.intsp[1] = 5;
    configuration_store.intsp[3] = 2;
    configuration_store.intsp[41] = 0;
    configuration_store.intsp[42] = 0;
    real_option(11) = 120;
    real_option(12) = -50;
    real_option(19) = 45;
    put_vector(41, {1, 2, 3});
    put_vector(56, {4, 5, 6});
    put_vector(71, {7, 8, 9});
    put_vector(86, {10, 11, 12});
    put_vector(101, {13, 14, 15});
    put_vector(104, {30, 0, 90});
    real_option(131) = -30;
    real_option(134) = 110;
    real_option(135) = -0.5;
    real_option(136) = 2.7;
    setup_multiaxis_kinematics();

    const machine_model_t& m = machine_model;
    EXPECT_EQ(m.multiaxis_transform_on, 1);
    EXPECT_EQ(m.keep_angle_at_pole, 0);
    EXPECT_EQ(std::string(m.rotary_axis_chars.view()), "LD-+");
    EXPECT_EQ(m.rotary_diameter, 120);
    EXPECT_EQ(m.withdrawal, 50);
    EXPECT_EQ(m.reconfigure_angle_threshold, 45);
    expect_vector(m.table_azimuth_centre, {1, 2, 3}, "table azimuth centre");
    expect_vector(m.tool_azimuth_centre, {4, 5, 6}, "tool azimuth centre");
    expect_vector(m.table_elevation_centre, {7, 8, 9}, "table elevation centre");
    expect_vector(m.tool_elevation_centre, {10, 11, 12}, "tool elevation centre");
    expect_vector(m.pcs_origin, {13, 14, 15}, "pcs origin");
    expect_vector(m.pcs_angles, {30, 0, 90}, "pcs angles");
    // The azimuth word counts the angle negatively: its limits -30 and unset
    // bound the machine angle to 30 and below.
    EXPECT_EQ(m.azimuth_limits[1], -99999);
    EXPECT_EQ(m.azimuth_limits[2], 30);
    EXPECT_EQ(m.elevation_limits[1], -99999);
    EXPECT_EQ(m.elevation_limits[2], 110);
    EXPECT_EQ(m.xyz_limits[1], -99999);
    EXPECT_EQ(m.xyz_limits[6], 999999);
    EXPECT_EQ(m.linearisation_tolerance, 0.5);
    EXPECT_EQ(m.linearise_switch_value, 2);
    EXPECT_EQ(m.linearise_multiaxis, 1);  // "linearise multiaxis moves" unset: the switch decides
    expect_vector(m.initial_tool_vector, {0, 0.6, 0.8}, "initial tool vector made a unit vector");
    expect_vector(m.azimuth_unit_axis, X, "azimuth unit axis");

    const multiaxis_motion_state_t& s = multiaxis_motion_state;
    expect_vector(s.tool_axis, {0, 0.6, 0.8}, "tool axis");
    expect_vector(s.contact_normal, Z, "contact normal");
    expect_vector(s.tool_tip, ZERO, "tool tip");
    EXPECT_EQ(s.multiaxis_restart_state, 1);
    EXPECT_EQ(s.tool_vector_state, 0);
    EXPECT_EQ(s.reconfiguring, 0);
    EXPECT_DOUBLE_EQ(angle_constants.angle_tolerance, 9.999999747378752e-05);
    EXPECT_DOUBLE_EQ(angle_constants.pi_value, 4 * std::atan(1.0));

    // The defaults: keep the angle at the pole, degrees, positive, no linearisation.
    load_axes(X, Z, Z, 0, 0);
    setup_multiaxis_kinematics();
    EXPECT_EQ(machine_model.keep_angle_at_pole, 1);
    EXPECT_EQ(std::string(machine_model.rotary_axis_chars.view()), "DD++");
    EXPECT_EQ(machine_model.linearise_multiaxis, 0);
    EXPECT_EQ(machine_model.linearisation_tolerance, 999);

    struct Switch {
        int setting;
        double value;
        int switch_value, linearise;
    };
    const Switch switches[] = {
        {1, 0, 0, 1}, {0, 5, 5, 0}, {-1, 0, 0, 0}, {-1, -3.9, -3, 1}, {-1, 1e20, INT_MAX, 1}, {-1, NAN, 0, 0},
    };
    for (const Switch& w : switches) {
        load_axes(X, Z, Z, 0, 0);
        configuration_store.intsp[64] = w.setting;
        real_option(136) = w.value;
        setup_multiaxis_kinematics();
        EXPECT_EQ(machine_model.linearise_switch_value, w.switch_value) << w.value;
        EXPECT_EQ(machine_model.linearise_multiaxis, w.linearise) << w.setting << " " << w.value;
    }
}

TEST(MachineModel, HeadHeadAboutTheToolTakesTheElevationCentreHeight) {
    load_axes(Z, X, Z, 1, 1);
    put_vector(56, {1, 2, 3});
    put_vector(86, {4, 5, 6});
    setup_multiaxis_kinematics();
    EXPECT_EQ(machine_model.machine_type, 3);
    expect_vector(machine_model.tool_azimuth_centre, {1, 2, 6}, "azimuth centre");

    load_axes(Z, X, {0, 1, 0}, 1, 1);  // the tool off the azimuth axis keeps the centre
    put_vector(56, {1, 2, 3});
    put_vector(86, {4, 5, 6});
    setup_multiaxis_kinematics();
    expect_vector(machine_model.tool_azimuth_centre, {1, 2, 3}, "azimuth centre");
}

TEST(MachineModelDeathTest, AxisGeometriesThatCannotWork) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string not_sensible = "Axes configuration not sensible\\.\n";
    const std::string parallel =
        not_sensible + "Error: a 4-axis machine has a rotary axis and initial tool vector set as parallel\\.\n$";
    const std::string unset = not_sensible + "Error: a 5-axis machine has one axis that is not set\\.";
    const std::string tool_along_azimuth =
        "^" + not_sensible + "Error: the initial tool vector is set parallel to the azimuth axis\\.\n$";
    const std::string axes_parallel =
        "^" + not_sensible + "Error: the azimuth and elevation axes are set as parallel\\.\n$";
    struct Case {
        const char* what;
        vec azimuth, elevation, tool;
        int azimuth_in_head, elevation_in_head;
        std::string messages;
    };
    const Case cases[] = {
        {"tool along the secondary axis", Z, X, Z, 0, 0, tool_along_azimuth},
        {"tool along the four-axis rotary axis", ZERO, X, X, 0, 0, parallel},
        {"tool against the four-axis rotary axis", ZERO, X, {-1, 0, 0}, 0, 0, parallel},
        {"head-table four-axis, tool against its axis: caught by the frame", {0, 0, 3}, ZERO, {0, 1e-5, -1}, 1, 0, tool_along_azimuth},
        {"table-table without an elevation axis", X, ZERO, Z, 0, 0, unset},
        {"only the elevation in the head, one axis unset", X, ZERO, Z, 0, 1, unset},
        {"head-table with the two axes parallel", Z, {0, 0, -3}, X, 1, 0, axes_parallel},
    };
    for (const Case& k : cases) {
        load_axes(k.azimuth, k.elevation, k.tool, k.azimuth_in_head, k.elevation_in_head);
        EXPECT_EXIT(setup_with_messages(), testing::ExitedWithCode(1), k.messages) << k.what;
    }
    // The same machines with a sound tool vector set up without a word.
    load_axes(ZERO, X, Z, 0, 0);
    EXPECT_EXIT(setup_with_messages(), testing::ExitedWithCode(0), "^$");
}

// "rotary axis limits" bound the angle as its word counts it: the machine
// angle limits follow from the word's direction and offsets, and the limit
// messages name the angle as the word counts it.
TEST(MachineModel, RotaryLimitsBoundTheWordsAngles) {
    struct row {
        const char* what;
        vec azimuth, elevation;
        int azimuth_in_head, elevation_in_head, azimuth_negative, elevation_linear;
        double pcs_first, pcs_second;
        double limits[4];  // azimuth minimum, maximum, elevation minimum, maximum as given
        double want[4];    // as machine angles
    } rows[] = {
        {"positive", X, Z, 0, 0, 0, 0, 0, 0, {-100, 50, -10, 20}, {-100, 50, -10, 20}},
        {"negative azimuth", X, Z, 0, 0, 1, 0, 0, 0, {-100, 50, -10, 20}, {-50, 100, -10, 20}},
        {"negative, one end unset", X, Z, 0, 0, 1, 0, 0, 0, {-100, 999999, -99999, 20}, {-99999, 100, -99999, 20}},
        {"axis-vector offset", X, {0, 0, 2}, 0, 0, 0, 0, 0, 0, {-100, 50, -10, 20}, {-100, 50, -12, 18}},
        {"linear units take no vector offset", X, {0, 0, 2}, 0, 0, 0, 1, 0, 0, {-100, 50, -10, 20}, {-100, 50, -10, 20}},
        {"head offsets", Z, X, 1, 1, 0, 0, 30, -10, {-100, 50, -10, 20}, {-130, 20, 0, 30}},
        {"head offset and negative", Z, X, 1, 1, 1, 0, 30, 0, {-100, 50, -10, 20}, {-80, 70, -10, 20}},
        {"a table takes no head offset", X, Z, 0, 0, 0, 0, 30, -10, {-100, 50, -10, 20}, {-100, 50, -10, 20}},
    };
    for (const row& r : rows) {
        load_axes(r.azimuth, r.elevation, Z, r.azimuth_in_head, r.elevation_in_head);
        configuration_store.intsp[42] = r.azimuth_negative ? 0 : 100;
        configuration_store.intsp[43] = r.elevation_linear ? 0 : 102;
        real_option(104) = r.pcs_first;
        real_option(105) = r.pcs_second;
        for (int i = 0; i < 4; ++i) real_option(131 + i) = r.limits[i];
        setup_multiaxis_kinematics();
        const machine_model_t& m = machine_model;
        EXPECT_EQ(m.azimuth_limits[1], r.want[0]) << r.what;
        EXPECT_EQ(m.azimuth_limits[2], r.want[1]) << r.what;
        EXPECT_EQ(m.elevation_limits[1], r.want[2]) << r.what;
        EXPECT_EQ(m.elevation_limits[2], r.want[3]) << r.what;
        // The ends of the machine range are the ends of the word's range again.
        if (r.want[1] < 999999) {
            const double end = word_degrees(1, r.want[1]);
            EXPECT_EQ(end, r.azimuth_negative ? r.limits[0] : r.limits[1]) << r.what;
        }
    }
}
