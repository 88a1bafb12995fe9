// Retract-and-reconfigure on the tape: the retract along the tool axis at the
// rapid value, the rotation in each style, the plunge with its final approach
// at the plunge feed, and the warning it leaves in the summary.
#include <cmath>
#include <string>

#include "kinematics/kinematics.h"
#include "kinematics_fixture.h"
#include "record_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int A_WORD = 19;  // azimuth in these tests
constexpr int C_WORD = 21;  // elevation

class Reconfigure : public RecordJob {
protected:
    void SetUp() override {
        RecordJob::SetUp();
        // Table-table: azimuth about X carried by the elevation table about Z.
        const double axes[][4] = {{44, 1, 0, 0}, {74, 0, 0, 1}, {341, 0, 0, 1}};
        for (const auto& a : axes)
            for (int i = 0; i < 3; ++i) real_option(static_cast<int>(a[0]) + i) = a[i + 1];
        configuration_store.intsp[1] = 1;  // "multiaxis coordinate transform"
        real_option(3) = 5000.0;           // rapid feedrate
        real_option(1) = 9000.0;           // maximum feedrate
        configuration_store.key[36] = A_WORD;
        configuration_store.key[37] = C_WORD;
        // Three decimals with the point and without suppressed zeros; the feed whole.
        for (int w : {10, 11, 12, A_WORD, C_WORD, 26}) {
            configuration_store.word_formats[w][WRDPRN] = w == 26 ? 0 : 3;
            configuration_store.word_formats[w][IZSUP_CURRENT] = 0;
            configuration_store.word_formats[w][IDEC_CURRENT] = 1;
        }
        init_word_state();
        machine_model = machine_model_t{};
        multiaxis_motion_state = multiaxis_motion_state_t{};
        setup_multiaxis_kinematics();
        multiaxis_motion_state.multiaxis_restart_state = 0;
        for (int i = 1; i <= 16; ++i) {
            pcs_matrices.pcs_rotation[i] = (i % 5 == 1) ? 1.0 : 0.0;
            pcs_matrices.pcs_placement[i] = pcs_matrices.pcs_rotation[i];
            pcs_matrices.pcs_inverse[i] = pcs_matrices.pcs_rotation[i];
        }
        machine_model.withdrawal = 10.0;
        machine_model.linearisation_tolerance = 0.01;
        toolpath_tables.toolpath_index = 0;
        toolpath_tables.toolpath_plunge_rate[1] = 250.0;
        toolpath_tables.toolpath_tool_radius[1] = 0.0;
        feed_state.feedrate = 800.0;
        clear_warning_summary();
        // The tool stands at the tip (10, 0, 5) with both angles 0.
        motion_state.position[1] = 10;
        motion_state.position[3] = 5;
        round_positions();
        commit_current_position();
    }

    // The tool stays along +Z (the pole axis) while the elevation table turns
    // a half turn: the other solution for the same tool axis.
    std::string reconfigure(int style) {
        configuration_store.intsp[100] = style;
        angle_pair current{{0.0, 0.0}};
        retract_and_reconfigure(vector3{{0, 0, 1}}, angle_pair{{0.0, 180.0}}, current);
        return tape_text();
    }
};

}  // namespace

TEST_F(Reconfigure, StylesOnTheTape) {
    // Retract 10 along +Z at the rapid value, turn, come back to 1 above the
    // tip at the rapid value (a tenth of the withdrawal: no tool radius), and
    // the last 1 at the toolpath's plunge feed.
    struct Case {
        const char* what;
        int style;
        double withdrawal;
        const char* tape;
    };
    const Case cases[] = {
        {"style 0: turn in place, then move the linear axes", 0, 10,
         "G1Z15.F5000.\nC180.\nX-10.\nZ6.\nZ5.F250.\n"},
        {"combined: one block", 5000, 10, "G1Z15.F5000.\nX-10.C180.\nZ6.\nZ5.F250.\n"},
        // The retract point, radius 10 from the table axis, leaves its place
        // by at most 1 (1000 X resolutions) in each step: 43.5, 48.0, 50.4
        // and the rest, 38.2 degrees.
        {"linearised: steps about the retract point", 6000, 10,
         "G1Z15.F5000.\nX7.254Y-6.884C43.502\nX-.254Y-9.997C91.455\nX-7.864Y-6.177C141.848\n"
         "X-10.Y0C180.\nZ6.\nZ5.F250.\n"},
        {"another style: no rotation block", 1, 10, "G1Z15.F5000.\nX-10.Z6.\nZ5.F250.\n"},
        {"no withdrawal: only the rotation blocks", 0, 0, "G1C180.F800.\nX-10.F5000.\n"},
    };
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        machine_model.withdrawal = k.withdrawal;
        EXPECT_EQ(reconfigure(k.style), k.tape) << k.what;
        EXPECT_EQ(multiaxis_motion_state.reconfiguring, 0) << k.what;
        EXPECT_EQ(feed_state.feedrate, 800.0) << k.what;  // the programmed feed is kept
        EXPECT_EQ(warning_summary.warning_recorded[273], 1) << k.what;
        // Every stage is committed: the tool ends at the tip at the new angles.
        EXPECT_NEAR(motion_state.previous_position[1], -10.0, 1e-9) << k.what;
        EXPECT_NEAR(motion_state.previous_position[3], 5.0, 1e-9) << k.what;
    }
}

TEST_F(Reconfigure, TiltAcrossTheAzimuthLimit) {
    // The tip (0, 0, 10) stays put while the tool tilts about X from azimuth
    // 30 to 60; the machine starts there at azimuth 30.
    const double r30 = 30 * 0.017453292519943295;
    motion_state.position[1] = 0;
    motion_state.position[2] = 10 * std::sin(r30);
    motion_state.position[3] = 10 * std::cos(r30);
    motion_state.rotary_angles = array1<double, 2>{{0.0, 30.0}};
    round_positions();
    commit_current_position();
    motion_state.previous_rotary_angles = motion_state.rotary_angles;
    machine_model.linearise_multiaxis = 1;
    linearisation_state.first_multiaxis_move = 0;
    vector3 tip{{0, 0, 10}}, axis{{0, -std::sin(r30), std::cos(r30)}}, normal{{0, 0, 1}};
    const vector3 end_axis{{0, -std::sin(2 * r30), std::cos(2 * r30)}};
    angle_pair last, current{{30.0, 0.0}};
    int status = -1;
    for (int limited : {0, 1}) {
        printf("limited %d\n", limited);
    }
    kv_test::set_limits(-90, 45, -99999, 999999);
    configuration_store.intsp[83] = 1;
    configuration_store.intsp[100] = 5000;
    linearise_multiaxis_move(tip, axis, normal, vector3{{0, 0, 10}}, end_axis, normal, last, current, status);
    printf("status %d last %f %f current %f %f\n%s", status, last[1], last[2], current[1], current[2],
           tape_text().c_str());
}
