// Multi-axis moves on the tape: the retract-and-reconfigure in each style
// (retract along the tool axis at the rapid value, rotation, plunge with its
// final approach at the plunge feed), a linearised tilt across an azimuth
// limit, and a move that starts at the pole.
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
    // 30 to 60, with the azimuth limited to 45. Each step leaves the tip at
    // most 0.01 inside its place; at 45 the tool retracts along its axis, the
    // axes turn to the other solution (azimuth -45, elevation a half turn) and
    // the tilt goes on to -60.
    struct Case {
        const char* what;
        int retract_at_limit;
        int rapid;
        int status;
        const char* tape;
    };
    const Case cases[] = {
        {"retract and reconfigure", 1, 0, 0,
         "G1Y5.685Z8.227A34.643F800.\nY6.385Z7.696A39.678\nY7.027Z7.115A44.641\nY7.071Z7.071A45.\n"
         "Z17.071F5000.\nY-7.071A-45.C-180.\nZ8.071\nZ7.071F250.\n"
         "Y-7.576Z6.527A-49.254F800.\nY-8.118Z5.84A-54.269\nY-8.55Z5.186A-58.761\nY-8.66Z5.A-60.\n"},
        {"forbidden: the move stops at the limit", 0, 0, MULTIAXIS_RECONFIGURE_FORBIDDEN,
         "G1Y5.685Z8.227A34.643F800.\nY6.385Z7.696A39.678\nY7.027Z7.115A44.641\nY7.071Z7.071A45.\n"},
        // A rapid changes to the other solution without a retract, turning in
        // place with the tip held where the two solutions lie closest (here
        // at its start), and tilts on to the end on that solution.
        {"rapid: turned onto the other solution in place", 0, 1, 0,
         "G1Y4.218Z9.067A24.948C-15.157F5000.\nY3.409Z9.401A19.935C-30.196\nY2.58Z9.661A14.953C-45.142\n"
         "Y1.969Z9.804A11.354C-55.939\nY1.309Z9.914A7.524C-67.429\nY.597Z9.982A3.42C-79.74\n"
         "Y-.176Z9.998A-1.009C-93.028\nY-1.015Z9.948A-5.823C-107.47\nY-1.88Z9.822A-10.836C-122.508\n"
         "Y-2.723Z9.622A-15.803C-137.408\nY-3.44Z9.39A-20.121C-150.363\nY-4.253Z9.051A-25.169C-165.506\n"
         "Y-5.Z8.66A-30.C-180.\nY-5.685Z8.227A-34.643\nY-6.385Z7.696A-39.678\nY-7.027Z7.115A-44.641\n"
         "Y-7.528Z6.583A-48.833\nY-8.067Z5.909A-53.776\nY-8.473Z5.31A-57.924\nY-8.66Z5.A-60.\n"},
    };
    const double r30 = 30 * 0.017453292519943295;
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        motion_state.position[1] = 0;
        motion_state.position[2] = 10 * std::sin(r30);
        motion_state.position[3] = 10 * std::cos(r30);
        motion_state.rotary_angles = array1<double, 2>{{0.0, 30.0}};
        round_positions();
        commit_current_position();
        motion_state.previous_rotary_angles = motion_state.rotary_angles;
        machine_model.linearise_multiaxis = 1;
        linearisation_state.first_multiaxis_move = 0;
        kv_test::set_limits(-90, 45, -99999, 999999);
        configuration_store.intsp[83] = k.retract_at_limit;
        configuration_store.intsp[100] = 5000;
        pending_move_flags.rapid_pending = k.rapid;

        vector3 tip{{0, 0, 10}}, axis{{0, -std::sin(r30), std::cos(r30)}}, normal{{0, 0, 1}};
        const vector3 end_axis{{0, -std::sin(2 * r30), std::cos(2 * r30)}};
        angle_pair last, current{{30.0, 0.0}};
        int status = -1;
        linearise_multiaxis_move(tip, axis, normal, vector3{{0, 0, 10}}, end_axis, normal, last, current, status);
        EXPECT_EQ(status, k.status) << k.what;
        EXPECT_EQ(tape_text(), k.tape) << k.what;
        if (k.status != 0) continue;
        EXPECT_NEAR(current[1], -60.0, 1e-9) << k.what;
        EXPECT_NEAR(tip[3], 10.0, 1e-9) << k.what;
        for (int i = 1; i <= 3; ++i) EXPECT_NEAR(axis[i], end_axis[i], 1e-9) << k.what;
    }
}

TEST_F(Reconfigure, PoleStartTurnsInPlaceFirst) {
    // The tool starts along +Z, the pole, at the tip (5, 0, 10) and ends
    // tilted 30 degrees towards +X: the elevation table (free at the pole)
    // first turns 90 degrees with the tip and the tool axis in place, in steps
    // that move the tip at most 0.01 (5 (1 - cos(d / 2)), d at most 7.25
    // degrees); the azimuth then tilts the tool.
    motion_state.position[1] = 5;
    motion_state.position[3] = 10;
    round_positions();
    commit_current_position();
    machine_model.linearise_multiaxis = 1;
    machine_model.reconfigure_angle_threshold = 180;  // no retract for the turn
    linearisation_state.first_multiaxis_move = 0;
    vector3 tip{{5, 0, 10}}, axis{{0, 0, 1}}, normal{{0, 0, 1}};
    const vector3 end_axis{{0.5, 0, std::sqrt(0.75)}};
    angle_pair last, current{{0.0, 0.0}};
    int status = -1;
    linearise_multiaxis_move(tip, axis, normal, vector3{{5, 0, 10}}, end_axis, normal, last, current, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(current[1], 30.0, 1e-9);
    EXPECT_NEAR(current[2], 90.0, 1e-9);
    EXPECT_EQ(tape_text(),
              "G1X4.962Y-.613C7.04F800.\nX4.848Y-1.223C14.158\nX4.661Y-1.81C21.223\nX4.404Y-2.367C28.259\n"
              "X4.169Y-2.761C33.514\nX3.88Y-3.154C39.113\nX3.528Y-3.543C45.121\nX3.105Y-3.919C51.615\n"
              "X2.599Y-4.271C58.678\nX2.056Y-4.558C65.722\nX1.617Y-4.731C71.129\nX1.085Y-4.881C77.462\n"
              "X.475Y-4.977C84.549\nX0Y-5.C90.\n"
              "Y-4.247Z10.342A4.24\nY-3.386Z10.655A8.938\nY-2.5Z10.897A13.643\nY-1.8Z11.035A17.302\n"
              "Y-.969Z11.138A21.592\nY-.047Z11.18A26.326\nY.67Z11.16A30.\n");
}

TEST_F(Reconfigure, PoleStartBeyondTheRetractionThreshold) {
    // As above, but the 90 degree turn of the free angle exceeds the
    // retraction threshold (45): a retract-and-reconfigure turns it, or,
    // when that is not allowed, the move fails with nothing written.
    struct Case {
        const char* what;
        int retract_at_limit;
        int status;
        const char* tape;
    };
    const Case cases[] = {
        {"retract, turn, plunge, then tilt", 1, 0,
         "G1Z20.F5000.\nX0Y-5.C90.\nZ11.\nZ10.F250.\n"
         "Y-4.247Z10.342A4.24F800.\nY-3.386Z10.655A8.938\nY-2.5Z10.897A13.643\nY-1.8Z11.035A17.302\n"
         "Y-.969Z11.138A21.592\nY-.047Z11.18A26.326\nY.67Z11.16A30.\n"},
        {"retract not allowed", 0, MULTIAXIS_RECONFIGURE_FORBIDDEN, ""},
    };
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        motion_state.position[1] = 5;
        motion_state.position[3] = 10;
        round_positions();
        commit_current_position();
        machine_model.linearise_multiaxis = 1;
        machine_model.reconfigure_angle_threshold = 45;
        linearisation_state.first_multiaxis_move = 0;
        configuration_store.intsp[83] = k.retract_at_limit;
        configuration_store.intsp[100] = 5000;
        vector3 tip{{5, 0, 10}}, axis{{0, 0, 1}}, normal{{0, 0, 1}};
        const vector3 end_axis{{0.5, 0, std::sqrt(0.75)}};
        angle_pair last, current{{0.0, 0.0}};
        int status = -1;
        linearise_multiaxis_move(tip, axis, normal, vector3{{5, 0, 10}}, end_axis, normal, last, current, status);
        EXPECT_EQ(status, k.status) << k.what;
        EXPECT_EQ(tape_text(), k.tape) << k.what;
    }
}
