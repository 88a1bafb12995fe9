// Rotary-angle solutions and their choice, and the axis-limit check: angle
// equivalents, unwinding, fitting into limits (first moves and running moves),
// the five- and four-axis solvers, the choice between the two solutions, the
// job-start angles and the limit messages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

constexpr double RAD = 0.017453292519943295;
constexpr double S = 0.70710678118654752;   // sin 45 degrees

struct vec {
    double x, y, z;
};

// The difference of two angles (degrees) as the smallest turn between them:
// 180 and -180 are the same solver angle.
double turn_difference(double a, double b) { return std::remainder(a - b, 360.0); }

vector3 v3(vec v) { return vector3{{v.x, v.y, v.z}}; }

void put_vector(int first, vec v) {
    real_option(first) = v.x;
    real_option(first + 1) = v.y;
    real_option(first + 2) = v.z;
}

struct Rotary : testing::Test {
    void SetUp() override {
        static bool ready = false;
        if (!ready) {
            int status = 0;
            init_units(status);
            init_message_table(status);
            register_builtin_messages();
            ready = true;
        }
    }

    // A machine with the given rotary axes over the configuration defaults,
    // set up as a control load does; then a running move (not a first move).
    static void load(vec azimuth, vec elevation, vec tool = {0, 0, 1}, int azimuth_in_head = 0,
                     int elevation_in_head = 0) {
        set_configuration_defaults();
        machine_model = machine_model_t{};
        multiaxis_motion_state = multiaxis_motion_state_t{};
        put_vector(44, azimuth);
        put_vector(74, elevation);
        put_vector(341, tool);
        configuration_store.intsp[49] = azimuth_in_head;
        configuration_store.intsp[50] = elevation_in_head;
        setup_multiaxis_kinematics();
        multiaxis_motion_state.multiaxis_restart_state = 0;
        for (int i = 1; i <= 16; ++i) {
            pcs_matrices.pcs_rotation[i] = (i % 5 == 1) ? 1.0 : 0.0;
            pcs_matrices.pcs_placement[i] = pcs_matrices.pcs_rotation[i];
            pcs_matrices.pcs_inverse[i] = pcs_matrices.pcs_rotation[i];
        }
    }
    static void limits(double az_min, double az_max, double el_min, double el_max) {
        machine_model.azimuth_limits[1] = az_min;
        machine_model.azimuth_limits[2] = az_max;
        machine_model.elevation_limits[1] = el_min;
        machine_model.elevation_limits[2] = el_max;
    }
};

const vec X{1, 0, 0};
const vec Z{0, 0, 1};
const vec ZERO{0, 0, 0};

}  // namespace

TEST_F(Rotary, AngleEquivalentsAtOrAboveAndBelowAReference) {
    struct Case {
        double reference, angle, above, below;
    };
    const Case cases[] = {
        {-90, 270, -90, -90},       // the reference itself both ways
        {80, 100, 100, -260},
        {0, 0, 0, 0},
        {190, 10, 370, 10},
        {-800, 10, -710, -1070},    // far below zero
        {-710, 10, -710, -710},
        {355, -725, 355, 355},      // -725 is -5 modulo 360
        {0, 725, 5, -355},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(angle_at_or_above(c.reference, c.angle), c.above, 1e-9) << c.reference << " " << c.angle;
        EXPECT_NEAR(angle_at_or_below(c.reference, c.angle), c.below, 1e-9) << c.reference << " " << c.angle;
    }
    // An equivalent a hair below the reference counts as at the reference.
    const double hair = angle_at_or_above(0, 359.9999999999);
    EXPECT_LT(hair, 0.0);
    EXPECT_GT(hair, -1e-9);
}

TEST_F(Rotary, UnwindingTakesTheEquivalentNearestThePreviousAngle) {
    struct Case {
        double azimuth, elevation;            // solved, degrees
        double previous_azimuth, previous_elevation;
        double want_azimuth, want_elevation;
    };
    const Case cases[] = {
        {10, 0, 350, 0, 370, 0},
        {180, 180, -170, 0, -180, -180},     // 180 from 0 goes the negative way
        {-90, 90, 725, -725, 630, -630},
        {0, 1e-13, 720, 0, 720, 0},
        {-10, 170, 0, -190, -10, -190},
    };
    for (const Case& c : cases) {
        angle_pair radians{{c.azimuth * RAD, c.elevation * RAD}}, degrees;
        unwind_angle_pair(radians, degrees, c.previous_azimuth, c.previous_elevation);
        EXPECT_NEAR(degrees[1], c.want_azimuth, 1e-9) << c.azimuth << " from " << c.previous_azimuth;
        EXPECT_NEAR(degrees[2], c.want_elevation, 1e-9) << c.elevation << " from " << c.previous_elevation;
    }
}

TEST_F(Rotary, FittingIntoLimitsOnFirstAndRunningMoves) {
    load(X, Z);
    struct Case {
        const char* what;
        int first_move, minimise_retractions;
        double angle, previous, minimum, maximum;
        double want;
        int status;
    };
    const Case cases[] = {
        {"first: -180 into [0, 360]", 1, 0, -180, 0, 0, 360, 180, 0},
        {"first: opposite the middle, f", 1, 0, 720, 0, -10, 370, 0, 0},
        {"first: opposite the middle, tie takes g", 1, 1, 720, 0, -10, 370, 360, 0},
        {"first: wide range, f", 1, 0, 0, 0, -180, 540, 0, 0},
        {"first: wide range, margins tie", 1, 1, 0, 0, -180, 540, 360, 0},
        {"first: larger margin wins", 1, 1, 30, 0, -100, 400, 30, 0},
        {"first: only g inside", 1, 0, 170, 0, 100, 200, 170, 0},
        {"first: nothing inside", 1, 0, 100, 0, 0, 90, 100, ROTARY_OUTSIDE_LIMITS},
        // A range open on one side: the fewest turns over the one limit.
        {"first: below a minimum alone", 1, 0, -90, 0, 100, 999999, 270, 0},
        {"first: above a maximum alone", 1, 1, 45, 0, -99999, 30, -315, 0},
        {"first: several turns below a minimum alone", 1, 0, -1000, 0, 0, 999999, 80, 0},
        {"first: inside a maximum alone is kept", 1, 0, -500, 0, -99999, 30, -500, 0},
        {"running: neither candidate inside", 0, 0, 100, 80, 0, 90, 100, ROTARY_OUTSIDE_LIMITS},
        {"running: the nearer candidate", 0, 0, 10, 350, 0, 720, 370, 0},
        {"running: the farther when the nearer is out", 0, 0, 10, 350, 0, 360, 10, 0},
        {"running: a hair beyond the maximum", 0, 0, 90.000000001, 80, 0, 90, 90.000000001, 0},
        {"running: a tie tries the one above first", 0, 0, 180, 0, -360, 360, 180, 0},
    };
    for (const Case& c : cases) {
        multiaxis_motion_state.multiaxis_restart_state = c.first_move;
        configuration_store.intsp[91] = c.minimise_retractions;
        double angle = c.angle;
        int status = -1;
        fit_angle_into_limits(angle, c.previous, c.minimum, c.maximum, status);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_NEAR(angle, c.want, 1e-9) << c.what;
    }
}

TEST_F(Rotary, KeepingOrBringingAnAngleIntoItsLimits) {
    struct Case {
        const char* what;
        double angle, reference, minimum, maximum;
        double near_want, bring_want;
        int status;
    };
    // fit_angle_near: the equivalent nearest the reference, on a first move
    // too; bring_angle_into_limits: kept when inside, else the fewest turns.
    const Case cases[] = {
        {"unset limits, inside", 90, 0, -99999, 999999, 90, 90, 0},
        {"unset limits, a wound angle", 765, 0, -99999, 999999, 45, 765, 0},
        {"below the minimum", -45, 0, 0, 360, 315, 315, 0},
        {"above the maximum", 400, 0, -90, 90, 40, 40, 0},
        {"several turns below", -1000, 0, 0, 360, 80, 80, 0},
        {"no turn brings it in", 100, 0, 0, 90, 100, 100, ROTARY_OUTSIDE_LIMITS},
    };
    for (int first = 0; first <= 1; ++first) {
        multiaxis_motion_state.multiaxis_restart_state = first;
        for (const Case& c : cases) {
            double near = c.angle, kept = c.angle;
            int near_status = -1, kept_status = -1;
            fit_angle_near(near, c.reference, c.minimum, c.maximum, near_status);
            bring_angle_into_limits(kept, c.minimum, c.maximum, kept_status);
            EXPECT_NEAR(near, c.near_want, 1e-9) << c.what;
            EXPECT_NEAR(kept, c.bring_want, 1e-9) << c.what;
            EXPECT_EQ(near_status, c.status) << c.what;
            EXPECT_EQ(kept_status, c.status) << c.what;
        }
    }
}

TEST_F(Rotary, FiveAxisSolutionsOfTableAndHeadMachines) {
    struct Case {
        const char* what;
        vec azimuth, elevation;
        int heads;                 // both rotations in the head
        vec tool;
        double previous_azimuth, previous_elevation;
        int status;
        double a1, e1, a2, e2;     // degrees
    };
    const Case cases[] = {
        {"table-table, tool tilted toward +X", X, Z, 0, {S, 0, S}, 0, 0, 0, 45, 90, -45, -90},
        {"table-table, tool toward -Y", X, Z, 0, {0, -S, S}, 0, 0, 0, 45, 0, -45, 180},
        {"table-table, tool along +Z: one point, the pole", X, Z, 0, Z, 0, 725, 0, 0, 5, 0, 5},
        {"head-head: the azimuth is the primary axis", Z, X, 1, {S, 0, S}, 0, 0, 0, 90, 45, -90, -45},
        {"head-head at the pole keeps the previous azimuth", Z, X, 1, Z, 400, 0, 0, 40, 0, 40, 0},
        {"tilted azimuth axis cannot point the tool down", {0, 1, 1}, Z, 0, {0, 0, -1}, 0, 0,
         ROTARY_VECTOR_IMPOSSIBLE, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        load(c.azimuth, c.elevation, Z, c.heads, c.heads);
        angle_pair s1{{-1, -1}}, s2{{-1, -1}};
        int status = -1;
        compute_rotary_solutions(v3(c.tool), s1, s2, c.previous_azimuth, c.previous_elevation, status);
        EXPECT_EQ(status, c.status) << c.what;
        if (status != 0) continue;
        EXPECT_NEAR(turn_difference(s1[1] / RAD, c.a1), 0, 1e-9) << c.what;
        EXPECT_NEAR(turn_difference(s1[2] / RAD, c.e1), 0, 1e-9) << c.what;
        EXPECT_NEAR(turn_difference(s2[1] / RAD, c.a2), 0, 1e-9) << c.what;
        EXPECT_NEAR(turn_difference(s2[2] / RAD, c.e2), 0, 1e-9) << c.what;
    }
}

TEST_F(Rotary, PoleAngleFollowsTapeHeaders) {
    load(X, Z);
    machine_model.keep_angle_at_pole = 1;
    EXPECT_NEAR(pole_angle(725) / RAD, 5, 1e-9);
    EXPECT_NEAR(pole_angle(-370) / RAD, -10, 1e-9);
    machine_model.keep_angle_at_pole = 0;
    EXPECT_EQ(pole_angle(725), 0.0);
}

TEST_F(Rotary, SolveChoosesTheSmallestChangeThenTheLimits) {
    load(X, Z);
    const vector3 tool = v3({S, 0, S});   // solutions (45, 90) and (-45, -90)
    constexpr double NO_MIN = LIMIT_MINIMUM_UNSET, NO_MAX = LIMIT_MAXIMUM_UNSET;
    struct Case {
        const char* what;
        double az_min, az_max, el_min, el_max;
        double previous_azimuth, previous_elevation;
        int status;
        double radians_azimuth;      // degrees of the chosen solver pair
        double azimuth, elevation;   // chosen degrees, unwound and fitted
    };
    const Case cases[] = {
        {"equal changes: solution 1", NO_MIN, NO_MAX, NO_MIN, NO_MAX, 0, 0, 0, 45, 45, 90},
        {"the smaller change: solution 2", NO_MIN, NO_MAX, NO_MIN, NO_MAX, 0, 270, 0, -45, -45, 270},
        {"solution 2 out of limits: solution 1", -30, 120, NO_MIN, NO_MAX, 0, 270, 0, 45, 45, 450},
        {"solution 2 fitted one turn up", 0, 360, 180, 360, 10, 270, 0, -45, 315, 270},
        {"neither fits", 50, 60, NO_MIN, NO_MAX, 0, 0, ROTARY_OUTSIDE_LIMITS, 0, 0, 0},
    };
    for (const Case& c : cases) {
        limits(c.az_min, c.az_max, c.el_min, c.el_max);
        angle_pair radians, degrees;
        int status = -1;
        solve_rotary_angles(tool, radians, degrees, c.previous_azimuth, c.previous_elevation, status);
        EXPECT_EQ(status, c.status) << c.what;
        if (status != 0) continue;
        EXPECT_NEAR(radians[1] / RAD, c.radians_azimuth, 1e-9) << c.what;
        EXPECT_NEAR(degrees[1], c.azimuth, 1e-9) << c.what;
        EXPECT_NEAR(degrees[2], c.elevation, 1e-9) << c.what;
    }
}

TEST_F(Rotary, FirstMoveChoosesByTheLimits) {
    load(X, Z);
    multiaxis_motion_state.multiaxis_restart_state = 1;
    // Elevation limits [0, 360]: solution 2's -90 comes in as 270 but turns
    // further than solution 1 (45, 90).
    limits(LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, 0, 360);
    angle_pair radians, degrees;
    int status = -1;
    solve_rotary_angles(v3({S, 0, S}), radians, degrees, 0, 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(degrees[1], 45, 1e-9);
    EXPECT_NEAR(degrees[2], 90, 1e-9);
    // Elevation limits [-180, -10]: only solution 2 fits.
    limits(LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, -180, -10);
    solve_rotary_angles(v3({S, 0, S}), radians, degrees, 0, 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(radians[2] / RAD, -90, 1e-9);
    EXPECT_NEAR(degrees[1], -45, 1e-9);
    EXPECT_NEAR(degrees[2], -90, 1e-9);
}

TEST_F(Rotary, FourAxisSolutions) {
    struct Case {
        const char* what;
        vec azimuth, elevation;
        int azimuth_in_head;
        vec tool;
        double el_min, el_max, previous_elevation;
        int status;
        double azimuth_degrees, elevation_degrees;
    };
    const Case cases[] = {
        {"table about X, tool to +Y", ZERO, X, 0, {0, 1, 0}, LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, 0, 0, 0, -90},
        {"table about X, tool to -Y", ZERO, X, 0, {0, -1, 0}, LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, 0, 0, 0, 90},
        {"unwound to the previous elevation", ZERO, X, 0, {0, 1, 0}, LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, 300,
         0, 0, 270},
        {"fitted one turn up into [0, 360]", ZERO, X, 0, {0, 1, 0}, 0, 360, 0, 0, 0, 270},
        {"no equivalent in [0, 90]", ZERO, X, 0, {0, 1, 0}, 0, 90, 0, ROTARY_OUTSIDE_LIMITS, 0, 0},
        {"the tool cannot leave its cone about the axis", ZERO, X, 0, {1, 0, 0}, LIMIT_MINIMUM_UNSET,
         LIMIT_MAXIMUM_UNSET, 0, ROTARY_VECTOR_IMPOSSIBLE, 0, 0},
        // An axis square to (1, 1, 1) makes the spread system singular; the
        // direction is reachable all the same.
        {"table about (1, -1, 0)", ZERO, {1, -1, 0}, 0, {-S, -S, 0}, LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, 0, 0, 0,
         90},
    };
    for (const Case& c : cases) {
        load(c.azimuth, c.elevation, Z, c.azimuth_in_head, 0);
        ASSERT_EQ(machine_model.four_axis_machine, 1) << c.what;
        limits(LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET, c.el_min, c.el_max);
        angle_pair radians, degrees;
        int status = -1;
        solve_rotary_angles(v3(c.tool), radians, degrees, 0, c.previous_elevation, status);
        EXPECT_EQ(status, c.status) << c.what;
        if (status != 0) continue;
        EXPECT_NEAR(degrees[1], c.azimuth_degrees, 1e-9) << c.what;
        EXPECT_NEAR(degrees[2], c.elevation_degrees, 1e-9) << c.what;
    }
    // A head-table machine turns its azimuth alone: about Z, the tool tilted
    // by the head's initial vector.
    load({0, 0, 1}, ZERO, {S, 0, S}, 1, 0);
    ASSERT_EQ(machine_model.four_axis_machine, 1);
    double azimuth = 0, elevation = 1;
    int status = -1;
    four_axis_solution(v3({0, S, S}), azimuth, elevation, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(azimuth / RAD, 90, 1e-9);
    EXPECT_EQ(elevation, 0.0);
}

TEST_F(Rotary, ChoiceWithinLimitsWeighsChangeAndFit) {
    load(X, Z);
    limits(0, 90, LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET);
    struct Case {
        const char* what;
        double a1, e1, a2, e2;
        int result;
        double azimuth, elevation;
    };
    const Case cases[] = {
        {"both fit, 1 changes less", 10, 10, 20, 20, 1, 10, 10},
        {"both fit, equal change", 10, 0, 0, 10, 1, 10, 0},
        {"1 changes more: 2", 30, 30, 20, 20, 2, 20, 20},
        {"1 changes less but does not fit", 100, 0, 20, 20, 2, 20, 20},
        {"2 changes less but does not fit", 80, 80, -100, 0, 1, 80, 80},
        {"neither fits", 100, 0, 120, 0, -1, 0, 0},
        {"fitted one turn back", 370, 5, 80, 80, 1, 10, 5},
    };
    for (const Case& c : cases) {
        angle_pair s1{{c.a1, c.e1}}, s2{{c.a2, c.e2}}, degrees{{0, 0}};
        const int result = choose_solution_within_limits(s1, s2, 0, 0, degrees);
        EXPECT_EQ(result, c.result) << c.what;
        if (result == -1) continue;
        EXPECT_NEAR(degrees[1], c.azimuth, 1e-9) << c.what;
        EXPECT_NEAR(degrees[2], c.elevation, 1e-9) << c.what;
    }
}

TEST_F(Rotary, JobStartAnglesChooseTheLargerClearance) {
    load(X, Z);
    machine_model.multiaxis_transform_on = 1;
    // Tip (10, 0, 0): solution 1 (45, 90) puts it at (0, -7.07, 7.07),
    // solution 2 (-45, -90) at (0, 7.07, 7.07). The Y minimum -8 is 0.93
    // from the first.
    machine_model.xyz_limits[3] = -8;
    angle_pair radians, degrees;
    int fail = -1;
    testing::internal::CaptureStderr();
    angles_for_tool_axis(v3({S, 0, S}), v3({10, 0, 0}), radians, degrees, fail);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fail, 0);
    EXPECT_NEAR(degrees[1], -45, 1e-9);
    EXPECT_NEAR(degrees[2], -90, 1e-9);
    // The radians are those of the chosen pair too.
    EXPECT_NEAR(radians[1] / RAD, -45, 1e-9);
    EXPECT_NEAR(radians[2] / RAD, -90, 1e-9);

    // Equal clearances: the smaller change from (0, 0), a tie takes solution 1.
    machine_model.xyz_limits[3] = LIMIT_MINIMUM_UNSET;
    angles_for_tool_axis(v3({S, 0, S}), v3({0, 0, 0}), radians, degrees, fail);
    EXPECT_EQ(fail, 0);
    EXPECT_NEAR(degrees[1], 45, 1e-9);
    EXPECT_NEAR(radians[1] / RAD, 45, 1e-9);
}

TEST_F(Rotary, JobStartAnglesReportImpossibleAndOutOfLimitAxes) {
    load({0, 1, 1}, Z);
    angle_pair radians, degrees;
    int fail = 0;
    testing::internal::CaptureStderr();
    angles_for_tool_axis(v3({0, 0, -1}), v3({0, 0, 0}), radians, degrees, fail);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: the tool vector is impossible with this machine tool configuration\n");
    EXPECT_EQ(fail, 1);

    load(X, Z);
    multiaxis_motion_state.multiaxis_restart_state = 1;
    limits(50, 60, LIMIT_MINIMUM_UNSET, LIMIT_MAXIMUM_UNSET);
    testing::internal::CaptureStderr();
    angles_for_tool_axis(v3({S, 0, S}), v3({0, 0, 0}), radians, degrees, fail);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: the tool vector is impossible with this machine tool configuration\n"
              "Azimuth of   45.0000 degrees is out of limit\n");
    EXPECT_EQ(fail, 1);
}

TEST_F(Rotary, AxisLimitMessages) {
    load(X, Z);
    limits(0, 360, -10, 100);
    machine_model.xyz_limits[1] = -50;
    machine_model.xyz_limits[2] = 50;
    machine_model.xyz_limits[6] = 20;
    struct Case {
        const char* what;
        double azimuth, elevation, x, z;
        int mode, result;
        const char* messages;
    };
    const Case cases[] = {
        {"inside the tolerance", 360.000005, 0, 0, 0, 0, 0, ""},
        {"azimuth beyond the tolerance", 360.0001, 0, 0, 0, 0, 1, "Azimuth of  360.0001 degrees is out of limit\n"},
        {"elevation below", 0, -10.5, 0, 0, 0, 1, "Elevation of  -10.5000 degrees is out of limit\n"},
        {"X at its maximum", 0, 0, 50, 0, 0, 0, ""},
        {"X a hair beyond", 0, 0, 50 + 1e-9, 0, 0, 1, "Overtravel: X   50.0000 is out of limit\n"},
        {"angles only", 0, 0, 60, 0, LIMITS_ANGLES_ONLY, 0, ""},
        {"position only", 400, 0, 0, 0, LIMITS_POSITION_ONLY, 0, ""},
        {"azimuth and Z", 400, 0, 0, 21, 0, 1,
         "Azimuth of  400.0000 degrees is out of limit\nOvertravel: Z   21.0000 is out of limit\n"},
        {"all in order", -1, 101, -51, 21, 7, 1,
         "Azimuth of   -1.0000 degrees is out of limit\nElevation of  101.0000 degrees is out of limit\n"
         "Overtravel: X  -51.0000 is out of limit\nOvertravel: Z   21.0000 is out of limit\n"},
    };
    for (const Case& c : cases) {
        motion_state.position[1] = c.x;
        motion_state.position[2] = 0;
        motion_state.position[3] = c.z;
        int mode = c.mode;
        testing::internal::CaptureStderr();
        check_axis_limits(c.azimuth, c.elevation, mode);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages) << c.what;
        EXPECT_EQ(mode, c.result) << c.what;
    }
    EXPECT_EQ(azimuth_minimum(), 0);
    EXPECT_EQ(azimuth_maximum(), 360);
    EXPECT_EQ(elevation_minimum(), -10);
    EXPECT_EQ(elevation_maximum(), 100);
}
