// Multi-axis dispatch and step output: the motion status reports, the rotary
// word values (head offsets, axis-vector offsets, linear units, directions,
// incremental mode), the repeated-point test, the principal tool axis, the
// commit of the angles and the tilted cycle without a datum shift block.
#include <cmath>
#include <string>

#include "kinematics/kinematics.h"
#include "output/output.h"
#include "output_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

class Steps : public DefaultWords {
protected:
    int azimuth_word = NO_WORD;
    int elevation_word = NO_WORD;

    void SetUp() override {
        DefaultWords::SetUp();
        // The default words have no rotary words: two of them stand in.
        azimuth_word = 22;
        elevation_word = 23;
        configuration_store.key[36] = azimuth_word;
        configuration_store.key[37] = elevation_word;
        // Three decimal places: MULT 1000 for both rotary words and X.
        for (int w : {azimuth_word, elevation_word, configuration_store.key[8]}) {
            configuration_store.word_formats[w][WRDPRN] = 3;
        }
        job_files.file_units.fill(-1);
        machine_model = machine_model_t{};
        machine_model.rotary_axis_chars.set("DD++");
        machine_model.azimuth_limits = array1<double, 2>{{-360.0, 360.0}};
        machine_model.elevation_limits = array1<double, 2>{{-90.0, 90.0}};
        committed_rotary_state = committed_rotary_state_t{};
        multiaxis_motion_state = multiaxis_motion_state_t{};
        set_status_flag(21, 1);  // absolute mode
    }

    // Runs f and returns what it wrote on standard error and its exit code
    // (-1 when it did not stop the run).
    template <class F>
    static std::pair<std::string, int> run_capturing(F f) {
        testing::internal::CaptureStderr();
        int code = -1;
        try {
            f();
        } catch (const run_stopped& s) {
            code = s.code;
        }
        return {testing::internal::GetCapturedStderr(), code};
    }
};

TEST_F(Steps, MotionStatusReportsAndStops) {
    struct report_case {
        int status;
        const char* message;  // nullptr: no message at all
        int exit_code;
    };
    const report_case cases[] = {
        {0, nullptr, -1},
        {17, nullptr, 4},
        {5003, "Error: unknown internal error", 4},
        {4001, "Error: the tool vector is impossible with this machine tool configuration", 4},
        {4005, "Error: linearisation has not converged", 4},
        {4006, "Error: can not interpolate anti-parallel vectors. Check the CLDATA file", 4},
        {4007, "Error: only expanded drill cycles are available for tool vector not aligned to axes", 4},
        {4008, "Error: HEAD-HEAD and HEAD-TABLE multiaxis drilling require a datum shift block to be defined", 4},
        {4009, "Error: internal error in Euler angle calculation", 4},
        {4003, "Error: an unknown 5-axis error has occurred.", 4},
        {2001, "Error: CLDATA error: arc is not in the same  plane as start point", 4},
        {2002, "Error: CLDATA error: arc start point does not  seem to lie on arc", 4},
        {2005, nullptr, 4},
    };
    for (const report_case& c : cases) {
        SCOPED_TRACE(c.status);
        const auto [err, code] = run_capturing([&] { report_motion_error(c.status); });
        EXPECT_EQ(code, c.exit_code);
        if (c.message == nullptr) {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_EQ(err, std::string(c.message) + "\n");
        }
    }
}

TEST_F(Steps, ReconfigureForbiddenNamesTheOption) {
    const auto [err, code] = run_capturing([] { report_motion_error(4004); });
    EXPECT_EQ(code, 4);
    EXPECT_EQ(err.rfind("Error: retract-and-reconfigure at angular limit is forbidden by option file.\n", 0), 0u)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
}

TEST_F(Steps, LimitStatusChecksTheGivenAngles) {
    // From the record handler the angles are 0 and 0: inside these limits,
    // only the limit message itself.
    auto [err, code] = run_capturing([] { report_motion_error(4002); });
    EXPECT_EQ(code, 4);
    EXPECT_EQ(err, "Error: limits have been exceeded for rotary  angles\n");
    // The move loop passes the failing step's angles: the elevation is out.
    std::tie(err, code) = run_capturing([] { report_multiaxis_error(4002, 10.0, 95.0); });
    EXPECT_EQ(code, -1);
    EXPECT_NE(err.find("Elevation of   95.0000 degrees is out of limit"), std::string::npos) << err;
    EXPECT_EQ(err.find("Azimuth of"), std::string::npos) << err;
}

TEST_F(Steps, RotaryWordValues) {
    struct word_case {
        const char* name;
        int machine_type;
        const char* chars;          // azimuth units, elevation units, directions
        double diameter;
        vector3 pcs_angles;
        vector3 azimuth_axis_vector;
        double azimuth, elevation;
        int azimuth_value, elevation_value;
    };
    const double pi = 3.141592653589793;
    const word_case cases[] = {
        {"table-table", 1, "DD++", 0.0, {{5, 7, 0}}, {{0, 0, 1}}, 30.0, -45.0, 30000, -45000},
        {"head-table adds the first pcs angle to the azimuth", 2, "DD++", 0.0, {{5, 7, 0}}, {{0, 0, 1}}, 30.0,
         -45.0, 35000, -45000},
        {"head-head adds both pcs angles", 3, "DD++", 0.0, {{5, 7, 0}}, {{0, 0, 1}}, 30.0, -45.0, 35000, -38000},
        {"negative azimuth direction", 1, "DD-+", 0.0, {{0, 0, 0}}, {{0, 0, 1}}, 30.0, -45.0, -30000, -45000},
        {"negative elevation direction", 1, "DD+-", 0.0, {{0, 0, 0}}, {{0, 0, 1}}, 30.0, -45.0, 30000, 45000},
        {"azimuth as arc length: two units a degree", 1, "LD++", 720.0 / pi, {{0, 0, 0}}, {{0, 0, 1}}, 30.0,
         -45.0, 60000, -45000},
        {"arc length with the head offset", 2, "LD++", 720.0 / pi, {{5, 0, 0}}, {{0, 0, 1}}, 30.0, -45.0, 70000,
         -45000},
        {"axis vector longer than 1 offsets the word", 1, "DD++", 0.0, {{0, 0, 0}}, {{0, 0, 5}}, 30.0, -45.0,
         35000, -45000},
        {"axis vector with two components: no offset", 1, "DD++", 0.0, {{0, 0, 0}}, {{0, 3, 5}}, 30.0, -45.0,
         30000, -45000},
        {"arc length ignores the axis vector offset", 1, "LD++", 720.0 / pi, {{0, 0, 0}}, {{0, 0, 5}}, 30.0,
         -45.0, 60000, -45000},
    };
    for (const word_case& c : cases) {
        SCOPED_TRACE(c.name);
        machine_model.machine_type = c.machine_type;
        machine_model.rotary_axis_chars.set(c.chars);
        machine_model.rotary_diameter = c.diameter;
        machine_model.pcs_angles = c.pcs_angles;
        machine_model.azimuth_axis_vector = c.azimuth_axis_vector;
        machine_model.elevation_axis_vector = vector3{{1, 0, 0}};
        int a = 0, e = 0;
        rotary_word_values(c.azimuth, c.elevation, a, e);
        EXPECT_EQ(a, c.azimuth_value);
        EXPECT_EQ(e, c.elevation_value);
    }
}

TEST_F(Steps, RotaryWordsAbsoluteAndIncremental) {
    machine_model.machine_type = MACHINE_HEAD_HEAD;
    machine_model.pcs_angles = vector3{{5, 7, 0}};
    machine_model.azimuth_axis_vector = vector3{{0, 0, 1}};
    machine_model.elevation_axis_vector = vector3{{1, 0, 0}};
    motion_state.rotary_angles = array1<double, 2>{{-45.0, 30.0}};          // (elevation, azimuth)
    // The tape last put the axes at elevation -40 and azimuth 10 (with the
    // head offsets); the previous angles were since taken over without a line.
    motion_state.previous_rotary_units[1] = -33000;
    motion_state.previous_rotary_units[2] = 15000;
    motion_state.previous_rotary_angles = array1<double, 2>{{-45.0, 30.0}};
    motion_state.position = array1<double, 6>{{1.25, -2.5, 3.0, 0, 0, 0}};
    int elevation_changed = 0, azimuth_changed = 0;

    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    EXPECT_EQ(motion_state.position_units[8], 35000);
    EXPECT_EQ(motion_state.position_units[7], -38000);
    EXPECT_EQ(motion_state.previous_position_units[8], 15000) << "the base stays where the tape left the axes";
    EXPECT_EQ(motion_state.previous_position_units[7], -33000);
    EXPECT_EQ(word_output_state.word_value[azimuth_word], 35000);
    EXPECT_EQ(word_output_state.word_value[elevation_word], -38000);
    EXPECT_EQ(azimuth_changed, 1);
    EXPECT_EQ(elevation_changed, 1);
    EXPECT_EQ(motion_state.position_units[1], 1250);
    EXPECT_EQ(motion_state.position_units[2], -25) << "Y at its own word's one decimal place";

    // Incremental: the head offsets cancel out of the differences.
    set_status_flag(21, 0);
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    EXPECT_EQ(word_output_state.word_value[azimuth_word], 20000);
    EXPECT_EQ(word_output_state.word_value[elevation_word], -5000);

    // No turn: neither word changes.
    set_status_flag(21, 1);
    init_word_state();
    commit_current_position();
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    EXPECT_EQ(azimuth_changed, 0);
    EXPECT_EQ(elevation_changed, 0);
    EXPECT_EQ(wdstat(azimuth_word, WDSTAT_REQUESTED), 0);
}

TEST_F(Steps, RepeatedPoints) {
    const vector3 tip{{1, 2, 3}};
    const vector3 z{{0, 0, 1}};
    arm_repeated_point_test(1);
    EXPECT_EQ(is_repeated_point(tip, z), 0) << "the first point after a tool change is never a repeat";
    EXPECT_EQ(is_repeated_point(tip, z), 1);
    EXPECT_EQ(is_repeated_point(tip, vector3{{0, 0, 2}}), 1) << "the vector is compared as a direction";
    EXPECT_EQ(is_repeated_point(vector3{{1, 2, 3.00002}}, z), 0);
    EXPECT_EQ(is_repeated_point(vector3{{1, 2, 3.00002}}, vector3{{0, 0.001, 1}}), 0);
    EXPECT_EQ(is_repeated_point(vector3{{1, 2, 3.000025}}, vector3{{0, 0.001, 1}}), 1);
}

TEST_F(Steps, PrincipalToolAxis) {
    struct axis_case {
        vector3 axis;
        int principal;
    };
    const axis_case cases[] = {
        {{{0, 0, 1}}, 1},        {{{0, 0, -1}}, 1},  {{{-1, 0, 0}}, 1},
        {{{0, 1, 0}}, 1},        {{{0, 5e-5, 1}}, 1}, {{{0, 2e-4, 1}}, 0},
        {{{0, 0.70710678, 0.70710678}}, 0},
    };
    for (const axis_case& c : cases) {
        committed_rotary_state.tool_axis = c.axis;
        EXPECT_EQ(is_tool_axis_principal(), c.principal) << c.axis[1] << " " << c.axis[2] << " " << c.axis[3];
    }
}

TEST_F(Steps, CommitKeepsThePairBefore) {
    multiaxis_motion_state.tool_axis = vector3{{0, 1, 0}};
    motion_state.rotary_angles = array1<double, 2>{{20.0, 30.0}};
    commit_rotary_angles();
    motion_state.rotary_angles = array1<double, 2>{{-10.0, 90.0}};
    commit_rotary_angles();
    const committed_rotary_state_t& c = committed_rotary_state;
    EXPECT_EQ(c.azimuth, 90.0);
    EXPECT_EQ(c.elevation, -10.0);
    EXPECT_EQ(c.previous_azimuth, 30.0);
    EXPECT_EQ(c.previous_elevation, 20.0);
    EXPECT_NEAR(c.azimuth_radians, std::atan(1.0) * 2.0, 1e-15);
    EXPECT_NEAR(c.elevation_radians, -std::atan(1.0) / 4.5, 1e-15);
    EXPECT_EQ(c.tool_axis[2], 1.0);
}

TEST_F(Steps, TiltedCycleWithoutDatumShiftBlock) {
    machine_model.machine_type = MACHINE_HEAD_HEAD;
    array1<double, 6> tips{{1, 2, 3, 4, 5, 6}};
    int status = 0;
    process_multiaxis_cycle(std::span<double>(tips.data(), 6), 2, vector3{{0, 1, 0}}, status);
    EXPECT_EQ(status, MULTIAXIS_NO_DATUM_SHIFT);
    EXPECT_EQ(tips[4], 4.0) << "the points are left as they were";
}

}  // namespace
