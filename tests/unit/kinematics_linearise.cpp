// Linearisation to tolerance: the tip deviation of a step, the tool-end term,
// the bracketing search for the longest step within the tolerance, and the
// cutting of a move into such steps on a table-table machine.
#include <gtest/gtest.h>

#include <cmath>

#include "kinematics_fixture.h"

using namespace kv;
using kv_test::v3;

namespace {

constexpr double RAD = 0.017453292519943295;

struct Linearise : testing::Test {
    void SetUp() override {
        kv_test::load_table_table_machine();
        machine_model.linearise_multiaxis = 1;
        machine_model.linearisation_tolerance = 0.01;
        linearisation_state.first_multiaxis_move = 0;
    }
};

angle_pair pair(double azimuth, double elevation) { return angle_pair{{azimuth, elevation}}; }

// Functions of a fraction for the search.
double linear_10(double x) { return 10.0 * x; }
double half(double x) { return 0.5 * x; }
double constant_5(double) { return 5.0; }
double square_steep(double x) { return 40.0 * x * x; }

}  // namespace

TEST(LineariseGeometry, PointLineDistanceUsesTheInfiniteLine) {
    struct Case {
        const char* what;
        vector3 p, a, b;
        double want;
    };
    const Case cases[] = {
        {"beside the segment", v3(1, 2, 0), v3(0, 0, 0), v3(4, 0, 0), 2.0},
        {"beyond its end", v3(9, -3, 0), v3(0, 0, 0), v3(4, 0, 0), 3.0},
        {"slanted line", v3(0, 2, 0), v3(0, 0, 0), v3(1, 1, 0), std::sqrt(2.0)},
        {"a line of no length: distance to its point", v3(3, 4, 0), v3(0, 0, 0), v3(0, 0, 0), 5.0},
    };
    for (const Case& k : cases) EXPECT_NEAR(point_line_distance(k.p, k.a, k.b), k.want, 1e-12) << k.what;
}

TEST(LineariseSearch, FindsAFractionInTheAcceptanceWindow) {
    // Window for bounds 0.5 and 1: g(x) within [0.475, 0.975].
    struct Case {
        const char* what;
        fraction_function g;
        int found;
        double fraction;  // < 0: any fraction whose deviation lies in the window
    };
    const Case cases[] = {
        {"the whole step is within: fraction 1", half, 1, 1.0},
        {"linear deviation", linear_10, 1, -1},
        {"steep deviation", square_steep, 1, -1},
        {"no bracket: not found, fraction 1", constant_5, 0, 1.0},
    };
    for (const Case& k : cases) {
        double x = -1, deviation = -1;
        int found = -1;
        find_deviation_fraction(k.g, 0.0, 1.0, 0.5, 1.0, 100, x, deviation, found);
        EXPECT_EQ(found, k.found) << k.what;
        EXPECT_NEAR(deviation, k.g(x), 1e-12) << k.what;
        if (k.fraction >= 0) {
            EXPECT_DOUBLE_EQ(x, k.fraction) << k.what;
        } else {
            EXPECT_GE(k.g(x), 0.475 - 1e-12) << k.what;
            EXPECT_LE(k.g(x), 0.975 + 1e-12) << k.what;
        }
    }
}

TEST_F(Linearise, StepDeviationOfATableTurnUnderAFixedTip) {
    // The tip (1, 0, 0) stays put on the part while the elevation table turns
    // a quarter about Z: the machine moves on the chord from (1, 0, 0) to
    // (0, -1, 0), and halfway the tip lies 1 - cos 45 inside its place.
    const vector3 tip = v3(1, 0, 0);
    vector3 m0 = tip, m1 = tip;
    kinematic_transform_point(m1, 0.0, 90 * RAD);
    EXPECT_NEAR(m1[2], -1.0, 1e-12);
    const double want = 1.0 - std::sqrt(0.5);
    EXPECT_NEAR(step_deviation(tip, tip, m0, m1, pair(0, 0), pair(0, 90), 0), want, 1e-12);
    // The tool axis (+Z) does not move under that turn: no tool-end term.
    machine_model.tool_length = 50;
    EXPECT_NEAR(step_deviation(tip, tip, m0, m1, pair(0, 0), pair(0, 90), 1), want, 1e-12);
    // Angles that do not change (within the angle tolerance): no deviation.
    EXPECT_EQ(step_deviation(tip, v3(5, 5, 5), m0, m1, pair(0, 0), pair(5e-5, -5e-5), 1), 0.0);
}

TEST_F(Linearise, ToolEndDeviationComparesTheChordWithTheTurnedAxis) {
    // Azimuth 0 -> 90 turns the tool from +Z to -Y. At the samples 0.15 and
    // 0.85 the chord direction lags the turned axis by 13.5 degrees less
    // atan(0.15 / 0.85); halfway they agree.
    const double lag = 13.5 * RAD - std::atan2(0.15, 0.85);
    const double d = 7.0;
    EXPECT_NEAR(tool_end_deviation(d, pair(0, 0), pair(90, 0)), 2 * d * std::sin(lag / 2), 1e-12);
    EXPECT_EQ(tool_end_deviation(d, pair(10, 20), pair(10, 20)), 0.0);
}

TEST_F(Linearise, AMoveWithoutRotationIsOneStep) {
    const vector3 axis = kv_test::tilt(30);
    vector3 end_tip = v3(5, 6, 7), end_axis = axis, machine = v3(0, 0, 0), step_machine;
    angle_pair step, current = pair(30, 0);
    int done = -1, status = -1;
    double deviation = -1, fraction = 0;
    next_linearised_step(v3(0, 0, 0), end_tip, axis, end_axis, machine, step_machine, step, current, done,
                         deviation, fraction, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(fraction, 1.0);
    EXPECT_EQ(deviation, 0.0);
    EXPECT_NEAR(step[1], 30.0, 1e-9);
    // The machine position of (5, 6, 7) with the part turned back 30 degrees about X.
    const double c = std::cos(30 * RAD), sn = std::sin(30 * RAD);
    EXPECT_NEAR(step_machine[1], 5, 1e-12);
    EXPECT_NEAR(step_machine[2], 6 * c + 7 * sn, 1e-12);
    EXPECT_NEAR(step_machine[3], -6 * sn + 7 * c, 1e-12);
}

TEST_F(Linearise, ATiltIsCutIntoTheLongestStepWithinTheTolerance) {
    // The tip (0, 0, 10) stays put while the tool tilts about X from azimuth
    // 30 to 60. A step that tilts by d leaves the tip 10 (1 - cos(d / 2))
    // inside its place halfway.
    const vector3 start_tip = v3(0, 0, 10), start_axis = kv_test::tilt(30);
    struct Case {
        const char* what;
        int first_move, linearise, linearise_first;
        int done;
    };
    const Case cases[] = {
        {"cut to the tolerance", 0, 1, 0, 0},
        {"first move of the run: one step", 1, 1, 0, 1},
        {"first move with linearise first move: cut", 1, 1, 1, 0},
        {"linearisation off: one step", 0, 0, 0, 1},
    };
    for (const Case& k : cases) {
        linearisation_state.first_multiaxis_move = k.first_move;
        machine_model.linearise_multiaxis = k.linearise;
        configuration_store.intsp[101] = k.linearise_first;
        vector3 end_tip = start_tip, end_axis = kv_test::tilt(60), machine = start_tip, step_machine;
        kinematic_transform_point(machine, 30 * RAD, 0.0);
        angle_pair step, current = pair(30, 0);
        int done = -1, status = -1;
        double deviation = -1, fraction = 0;
        next_linearised_step(start_tip, end_tip, start_axis, end_axis, machine, step_machine, step, current, done,
                             deviation, fraction, status);
        EXPECT_EQ(status, 0) << k.what;
        EXPECT_EQ(done, k.done) << k.what;
        EXPECT_EQ(linearisation_state.first_multiaxis_move, 0) << k.what;
        EXPECT_NEAR(deviation, 10 * (1 - std::cos((step[1] - 30) * RAD / 2)), 1e-9) << k.what;
        EXPECT_NEAR(step[2], 0.0, 1e-9) << k.what;
        if (k.done) {
            EXPECT_EQ(fraction, 1.0) << k.what;
            EXPECT_NEAR(step[1], 60.0, 1e-9) << k.what;
            continue;
        }
        EXPECT_GE(deviation, 0.475 * 0.01) << k.what;
        EXPECT_LE(deviation, 0.975 * 0.01) << k.what;
        // The step's axis is the chord between the two axes at the fraction.
        const double turned = std::atan2(fraction * std::sin(30 * RAD), 1 - fraction + fraction * std::cos(30 * RAD));
        EXPECT_NEAR((step[1] - 30) * RAD, turned, 1e-9) << k.what;
        for (int i = 1; i <= 3; ++i)
            EXPECT_NEAR(end_axis[i], start_axis[i] + fraction * (kv_test::tilt(60)[i] - start_axis[i]), 1e-12)
                << k.what;
        EXPECT_EQ(end_tip[3], 10.0) << k.what;
    }
}

TEST_F(Linearise, ASearchThatCannotReachTheWindowFailsToConverge) {
    // A zero tolerance leaves no step but one of no length.
    machine_model.linearisation_tolerance = 0.0;
    const vector3 start_tip = v3(0, 0, 10);
    vector3 end_tip = start_tip, end_axis = kv_test::tilt(60), machine = start_tip, step_machine;
    kinematic_transform_point(machine, 30 * RAD, 0.0);
    angle_pair step, current = pair(30, 0);
    int done = -1, status = -1;
    double deviation = -1, fraction = 0;
    next_linearised_step(start_tip, end_tip, kv_test::tilt(30), end_axis, machine, step_machine, step, current, done,
                         deviation, fraction, status);
    EXPECT_EQ(status, MULTIAXIS_NOT_CONVERGED);
}
