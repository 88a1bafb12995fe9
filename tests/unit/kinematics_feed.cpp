// Multi-axis feed: the combined feed that moves the tool tip over the part at
// the programmed feed, the inverse-time step time, and the contact point of a
// tool with a tip radius.
#include <gtest/gtest.h>

#include <cmath>

#include "job/job.h"
#include "kinematics_fixture.h"

using namespace kv;
using kv_test::v3;

namespace {

struct Feed : testing::Test {
    void SetUp() override {
        kv_test::load_table_table_machine();
        feed_state.feedrate = 100.0;
        motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = 1;
        multiaxis_feed.move_feed_values = array1<double, 2>{{-1.0, -2.0}};
        tool_state = tool_state_t{};
    }
    static void expect_feed_values(double feed, double time, const char* what) {
        EXPECT_NEAR(multiaxis_feed.move_feed_values[1], feed, 1e-9) << what;
        EXPECT_NEAR(multiaxis_feed.move_feed_values[2], time, 1e-12) << what;
    }
};

angle_pair pair(double azimuth, double elevation) { return angle_pair{{azimuth, elevation}}; }

}  // namespace

TEST_F(Feed, TipSpeedFeedOnATableTableMachine) {
    // A straight move of 5 at feed 100: 0.05 minutes at feed 100.
    tip_speed_feed(v3(0, 0, 0), v3(3, 4, 0), pair(0, 0), pair(0, 0));
    expect_feed_values(100, 0.05, "straight move");

    // The machine stands at (10, 0, 0) while the elevation table (about Z)
    // turns 90 degrees: the tip runs a quarter circle of radius 10 over the
    // part, 5 pi at feed 100, while the axes cover 90 degree-lengths.
    tip_speed_feed(v3(10, 0, 0), v3(10, 0, 0), pair(0, 0), pair(0, 90));
    const double arc_time = 5 * M_PI / 100;
    expect_feed_values(90 / arc_time, arc_time, "table turn");
}

TEST_F(Feed, StepsThatGiveUpLeaveTheFeedValues) {
    // Nothing moves: the combined length is at most 1e-4.
    tip_speed_feed(v3(1, 1, 1), v3(1, 1, 1.00005), pair(0, 0), pair(0, 0));
    expect_feed_values(-1, -2, "nothing moves");
    // Feed per revolution with the spindle stopped: no programmed feed.
    motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = 0;
    tip_speed_feed(v3(0, 0, 0), v3(3, 4, 0), pair(0, 0), pair(0, 0));
    expect_feed_values(-1, -2, "spindle stopped");
    // Feed per revolution: 0.1 a turn at 1000 turns a minute.
    feed_state.feedrate = 0.1;
    tool_state.speed_in_force = 1000;
    tip_speed_feed(v3(0, 0, 0), v3(3, 4, 0), pair(0, 0), pair(0, 0));
    expect_feed_values(100, 0.05, "feed per revolution");
}

TEST_F(Feed, InverseTimeOfAStep) {
    // A tip length of 5 at feed 100: 0.05 minutes, feed value 20.
    motion_state.previous_position[1] = 1;
    motion_state.position[1] = 4;
    motion_state.position[2] = 4;
    set_step_start_fraction(0.0);
    set_step_time_inverse(1.0);
    expect_feed_values(20, 0.05, "tip moves");

    // The tip stands still while the tool turns from +Z to +Y: the point a
    // tenth of the tool radius (10) up the tool travels sqrt 2.
    motion_state.position = motion_state.previous_position;
    tool_state.tool_values[2] = 10;
    set_move_start_frame(v3(1, 0, 0), v3(0, 0, 1), v3(0, 0, 1));
    set_move_end_frame(v3(1, 0, 0), v3(0, 1, 0), v3(0, 0, 1));
    set_step_time_inverse(1.0);
    expect_feed_values(100 / std::sqrt(2.0), std::sqrt(2.0) / 100, "tip still");
}

TEST_F(Feed, ContactPointOfATorusTool) {
    struct Case {
        const char* what;
        vector3 normal;
        vector3 want;
    };
    // Tool radius 5, tip radius 1.
    const Case cases[] = {
        {"normal along -X", v3(-1, 0, 0), v3(5, 0, 1)},
        {"normal along +Z: the tip itself", v3(0, 0, 1), v3(0, 0, 0)},
        {"slanted normal", v3(0, -0.6, -0.8), v3(0, 4.6, 1.8)},
    };
    for (const Case& k : cases) {
        vector3 offset;
        contact_point_offset(1.0, 5.0, k.normal, offset);
        for (int i = 1; i <= 3; ++i) EXPECT_NEAR(offset[i], k.want[i], 1e-12) << k.what << " " << i;
    }

    tool_state.tool_values[2] = 5;
    tool_state.spindle_values[2] = 1;
    struct FrameCase {
        const char* what;
        vector3 axis;
        int tips;  // state flag 104: the cutfile's points are tool tips
        vector3 want;
    };
    const FrameCase frames[] = {
        {"tool along +Z, points are tips", v3(0, 0, 1), 1, v3(6, 2, 4)},
        {"tool along +Z, points are centres", v3(0, 0, 1), 0, v3(6, 2, 3)},
        {"tool along -Z: turned half about X and back", v3(0, 0, -1), 1, v3(6, 2, 2)},
    };
    for (const FrameCase& k : frames) {
        configuration_store.state_flags[104] = k.tips;
        vector3 c;
        frame_contact_point(v3(1, 2, 3), k.axis, v3(-1, 0, 0), c);
        for (int i = 1; i <= 3; ++i) EXPECT_NEAR(c[i], k.want[i], 1e-12) << k.what << " " << i;
    }
}
