// Angular limits: the wrap of a reference angle in a wide range, the root and
// bisection searches, where along a step an angle reaches its limit, and the
// choice of a solution by its margin to the limits.
#include <gtest/gtest.h>

#include <cmath>

#include "kinematics_fixture.h"

using namespace kv;
using kv_test::v3;

namespace {

constexpr double RAD = 0.017453292519943295;

double linear_100(double x) { return 100.0 * x; }
double cube(double x) { return x * x * x; }
int up_to_0_3(double x) { return x <= 0.3 ? 1 : 0; }

angle_pair radians_pair(double azimuth, double elevation) { return angle_pair{{azimuth * RAD, elevation * RAD}}; }

}  // namespace

TEST(AngularLimits, WrapNearTheMiddleOfAWideRange) {
    struct Case {
        double angle, minimum, maximum, want;
    };
    const Case cases[] = {
        {725, 0, 360, 725},      // a range under 1080 degrees: unchanged
        {725, -720, 720, 5},     // the equivalent at or above the middle
        {190, -720, 720, -170},  // more than 181 above the middle: at or below it
        {181, -720, 720, 181},
        {0, 0, 1080, 720},
    };
    for (const Case& k : cases)
        EXPECT_NEAR(wrap_angle_near_range_middle(k.angle, k.minimum, k.maximum), k.want, 1e-9)
            << k.angle << " in [" << k.minimum << ", " << k.maximum << "]";
}

TEST(AngularLimits, AngleRootAndBisection) {
    struct Case {
        const char* what;
        fraction_function g;
        double target;
        int found;
        double want;
    };
    const Case cases[] = {
        {"linear", linear_100, 30, 1, 0.3},
        {"cubic", cube, 0.125, 1, 0.5},
        {"target outside the range: not found, fraction 1", linear_100, 150, 0, 1.0},
    };
    for (const Case& k : cases) {
        double x = -1;
        int found = -1;
        find_angle_root(k.g, 0.0, 1.0, k.target, 20, x, found);
        EXPECT_EQ(found, k.found) << k.what;
        EXPECT_NEAR(x, k.want, 1e-9) << k.what;
    }
    // Three halvings: 0.5 fails, 0.25 holds, 0.375 fails.
    EXPECT_EQ(bisect_fraction(up_to_0_3, 0.0, 1.0, 3), 0.25);
    const double x = bisect_fraction(up_to_0_3, 0.0, 1.0, 100);
    EXPECT_LE(x, 0.3);
    EXPECT_GT(x, 0.3 - 1e-9);
}

TEST(AngularLimits, CrossingFractionWhereTheAzimuthReachesItsLimit) {
    kv_test::load_table_table_machine();
    kv_test::set_limits(-10, 45, -99999, 999999);
    // The tool tilts about X from azimuth 30 to 60 along the chord of the two
    // axes; the azimuth reaches 45 where tan 15 (1 - x + x cos 30) = x sin 30.
    const double t15 = std::tan(15 * RAD);
    const double want = t15 / (std::sin(30 * RAD) + t15 * (1 - std::cos(30 * RAD)));
    array1<int, 4> exceeded{{0, 1, 0, 0}};
    int exact = -1;
    const double x =
        limit_crossing_fraction(exceeded, kv_test::tilt(30), kv_test::tilt(60), angle_pair{{30, 0}}, exact);
    EXPECT_EQ(exact, 1);
    EXPECT_NEAR(x, want, 1e-9);
    EXPECT_NEAR(azimuth_at_fraction(x), 45.0, 1e-7);
    EXPECT_EQ(axis_within_limits_at(x * 0.99), 1);
    EXPECT_EQ(axis_within_limits_at(x * 1.01), 0);
}

TEST(AngularLimits, ChoiceByMarginToTheLimits) {
    kv_test::load_table_table_machine();
    kv_test::set_limits(-100, 100, -30, 90);
    struct Case {
        const char* what;
        double s1_az, s1_el, s2_az, s2_el;
        int restart_state, minimise_at_toolchange;
        int want;
        double want_az, want_el;
    };
    const Case cases[] = {
        // Margins 10 (elevation 80 to 90) and 50 (elevation -80 to -30).
        {"the larger margin", 10, 80, -170, -80, 0, 0, 2, -170, -80},
        {"equal margins: the smaller change", 0, 0, 50, 0, 0, 0, 1, 0, 0},
        {"equal margins, second nearer", 50, 0, 0, 0, 0, 0, 2, 0, 0},
        // A first move goes by the limits alone: -170 cannot be fitted into them.
        {"first move: within the limits", 10, 80, -170, -80, 1, 0, 1, 10, 80},
        {"first move with minimise retracts at toolchange", 10, 80, -170, -80, 1, 1, 2, -170, -80},
    };
    for (const Case& k : cases) {
        multiaxis_motion_state.multiaxis_restart_state = k.restart_state;
        configuration_store.intsp[110] = k.minimise_at_toolchange;
        angle_pair degrees, u1, u2;
        const int got = choose_by_limit_margin(radians_pair(k.s1_az, k.s1_el), radians_pair(k.s2_az, k.s2_el), 0.0,
                                               0.0, degrees, u1, u2);
        EXPECT_EQ(got, k.want) << k.what;
        EXPECT_NEAR(degrees[1], k.want_az, 1e-9) << k.what;
        EXPECT_NEAR(degrees[2], k.want_el, 1e-9) << k.what;
    }
}
