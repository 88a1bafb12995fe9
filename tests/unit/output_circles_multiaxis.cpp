// Circles of the azimuth/elevation heads: the offset arc of subtypes 22 and
// 23 written point by point, the cone angle of subtype 21, the offsets' own
// circle of subtype 25, the radius sign, and the circles that cannot be built.
#include <cstdio>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "unit_temp.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "output_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int R_WORD = 16;
constexpr int AZIMUTH_WORD = 19;
constexpr int ELEVATION_WORD = 20;
constexpr double S = 7.0711;   // 10 sin 45 degrees, as a cutfile gives it

class HeadCircles : public DefaultWords {
protected:
    void SetUp() override {
        DefaultWords::SetUp();
        configuration_store_t& cs = configuration_store;
        for (int w : {10, 11, 12, 13, 14, 15, R_WORD, AZIMUTH_WORD, ELEVATION_WORD}) cs.word_formats[w][WRDPRN] = 3;
        cs.key[32] = R_WORD;
        cs.key[36] = AZIMUTH_WORD;
        cs.key[37] = ELEVATION_WORD;
        cs.intsp[20] = 0;
        cs.intsp[27] = 0;        // quadrant pieces
        cs.intsp[28] = 1;        // incremental centres
        set_status_flag(21, 1);  // absolute coordinates
        pending_move_flags.circle_pending = 1;
        feed_state.feedrate = 100.0;
        multiaxis_arc_values = multiaxis_arc_values_t{};
        kinematics_values = kinematics_values_t{};
        machine_model.machine_type = 4;
        machine_model.tool_length = 50.0;
    }

    // Subtype `subtype`; the arc starts at (x, y, 0) with tool vector (i, 0, 1)
    // about (cx, 0), radius r, axis (0, 0, k).
    static void circle_from(int subtype, double x, double y, double i, double cx, double r, double k) {
        machine_model.machine_subtype = subtype;
        set_points({x, y, 0.0, i, 0.0, 1.0});
        set_move_point(1, 6);
        commit_current_position();
        circle_state.arc_plane_reals = point3{{i, 0.0, 1.0}};
        circle_state.circle_record[1] = r;
        circle_state.circle_record[4] = k;
        motion_state.position[4] = cx;
        motion_state.position_units[4] = static_cast<int>(cx * 1000.0);
    }

    // output_circle_move over the given points: the tape lines; the messages
    // and the exit code of a stop go to the out-parameters.
    static std::vector<std::string> run_arc(std::initializer_list<double> values, std::string* messages = nullptr,
                                            int* stopped = nullptr) {
        const std::string path = unit_temp_path("head_circles_tape.txt");
        int status = 0;
        int unit = -1;
        open_unit(unit, path, OPEN_WRITE, FORM_TEXT, status);
        job_files.file_units[unit_slot(FILE_TAPE)] = unit;
        set_points(values);
        testing::internal::CaptureStderr();
        try {
            output_circle_move();
        } catch (const run_stopped& s) {
            if (stopped != nullptr) *stopped = s.code;
        }
        const std::string err = testing::internal::GetCapturedStderr();
        if (messages != nullptr) *messages = err;
        filclo(job_files.file_units[unit_slot(FILE_TAPE)], status);
        job_files.file_units[unit_slot(FILE_TAPE)] = -1;
        std::ifstream in(path);
        std::remove(path.c_str());  // the open stream still reads it
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static std::string joined(const std::vector<std::string>& lines) {
        std::string all;
        for (const std::string& l : lines) all += l + "\n";
        return all;
    }
    static bool has(const std::string& line, const char* part) { return line.find(part) != std::string::npos; }
};

}  // namespace

// A constant lean of 5 in X (tool vector (0.1, 0, 1), length 50): the offset
// arc is the tip circle moved by 5 in X, centre (5, 0), radius 10; each point
// is a linear move carrying the offset point.
TEST_F(HeadCircles, OffsetArcOfSubtypes22And23) {
    struct row {
        int subtype;
        const char* middle;   // the rotary words (A, B) at the middle point and the end
        const char* end;
        int end_azimuth, end_elevation;
    };
    for (const row& c : {row{22, "A12071B7071", "A5000B10000", 5000, 10000}, row{23, "A5000B0", "A5000B0", 5000, 0}}) {
        SetUp();
        circle_from(c.subtype, 10, 0, 0.1, 0, 10, 1);
        const std::vector<std::string> lines = run_arc({S, S, 0, 0.1, 0, 1, 0, 10, 0, 0.1, 0, 1});
        ASSERT_EQ(lines.size(), 2u) << c.subtype << "\n" << joined(lines);
        EXPECT_TRUE(has(lines[0], c.middle)) << lines[0];
        EXPECT_TRUE(has(lines[0], "G1")) << lines[0];
        EXPECT_FALSE(has(lines[0], "G3")) << lines[0];
        EXPECT_TRUE(has(lines[1], c.end)) << lines[1];
        EXPECT_EQ(word_output_state.word_value[AZIMUTH_WORD], c.end_azimuth) << c.subtype;
        EXPECT_EQ(word_output_state.word_value[ELEVATION_WORD], c.end_elevation) << c.subtype;
        EXPECT_EQ(motion_state.previous_position_units[1], 0);
        EXPECT_EQ(motion_state.previous_position_units[2], 10000);
        // The end offset starts the next arc.
        EXPECT_DOUBLE_EQ(circle_state.arc_plane_reals[1], 5.0);
        EXPECT_DOUBLE_EQ(circle_state.arc_plane_reals[3], 50.0);
    }
    // Subtype 23 keeps the head's running offsets at what was written.
    EXPECT_DOUBLE_EQ(kinematics_values.special_angles[1], 5.0);

    // Without a lean in X the piece is an arc block.
    SetUp();
    circle_from(22, 10, 0, 0.0, 0, 10, 1);
    const std::vector<std::string> arc = run_arc({S, S, 0, 0, 0, 1, 0, 10, 0, 0, 0, 1});
    ASSERT_EQ(arc.size(), 1u) << joined(arc);
    EXPECT_TRUE(has(arc[0], "G3")) << arc[0];
}

// Subtype 21: the tool leans along the tangent, (0, 5) at (10, 0) and (-5, 0)
// at (0, 10). Its lines meet at (10, 10), away from the centre; the offset
// arc through (10, 5) and (-5, 10) has centre (-5, 5) and radius 15, so the
// elevation word is atan((15 - 10) / 50) = 5.711 degrees.
TEST_F(HeadCircles, ConeAngleOfSubtype21) {
    machine_model.machine_subtype = 21;
    set_points({10, 0, 0, 0, 0.1, 1});
    set_move_point(1, 6);
    commit_current_position();
    circle_state.arc_plane_reals = point3{{0.0, 0.1, 1.0}};
    circle_state.circle_record[1] = 10;
    circle_state.circle_record[4] = 1;
    const std::vector<std::string> lines = run_arc({0, 10, 0, -0.1, 0, 1});
    ASSERT_EQ(lines.size(), 1u) << joined(lines);
    EXPECT_TRUE(has(lines[0], "G3")) << lines[0];
    EXPECT_EQ(word_output_state.word_value[ELEVATION_WORD], 5711);
    EXPECT_EQ(word_output_state.word_value[R_WORD], 10000);

    // Offsets that do not turn against each other: elevation 0, compensation left.
    SetUp();
    circle_from(21, 10, 0, 0.0, 0, 10, 1);
    const std::vector<std::string> upright = run_arc({0, 10, 0, 0, 0, 1});
    ASSERT_EQ(upright.size(), 1u) << joined(upright);
    EXPECT_TRUE(has(upright[0], "G41")) << upright[0];
    EXPECT_EQ(word_output_state.word_value[ELEVATION_WORD], 0);
}

// Subtype 25: the circle through the offset start (15, 0), the offset middle
// (12.071, 7.071) and the offset end (5, 10) is centre (5, 0), radius 10,
// counter-clockwise; the rotary words carry the offset end.
TEST_F(HeadCircles, OffsetCircleOfSubtype25) {
    circle_from(25, 10, 0, 0.1, 0, 10, 1);
    const std::vector<std::string> lines = run_arc({S, S, 0, 0.1, 0, 1, 0, 10, 0, 0.1, 0, 1});
    ASSERT_EQ(lines.size(), 1u) << joined(lines);
    const multiaxis_arc_values_t& a = multiaxis_arc_values;
    EXPECT_EQ(a.circle_code, get_gcode_value(4));
    EXPECT_NEAR(a.radius, 10.0, 1e-3);
    EXPECT_NEAR(a.centre[1], 10.0, 1e-3);   // incremental centre: offset start minus centre
    EXPECT_NEAR(a.centre[2], 0.0, 1e-3);
    EXPECT_EQ(word_output_state.word_value[AZIMUTH_WORD], 5000);
    EXPECT_EQ(word_output_state.word_value[ELEVATION_WORD], 10000);

    // Absolute centre; a one-point record has no middle of its own, so the
    // three points are not a circle: the code of "linear" and radius 0.
    SetUp();
    configuration_store.intsp[28] = 0;
    circle_from(25, 10, 0, 0.1, 0, 10, 1);
    run_arc({S, S, 0, 0.1, 0, 1, 0, 10, 0, 0.1, 0, 1});
    EXPECT_NEAR(multiaxis_arc_values.centre[1], 5.0, 1e-3);
    SetUp();
    circle_from(25, 10, 0, 0.1, 0, 10, 1);
    run_arc({0, 10, 0, 0.1, 0, 1});
    EXPECT_EQ(multiaxis_arc_values.circle_code, get_gcode_value(2));
    EXPECT_EQ(multiaxis_arc_values.radius, 0.0);
}

// Three-quarter full circles either way round get -R; the radius is measured
// from the start to the centre also with absolute centre words (centre 20
// off the origin).
TEST_F(HeadCircles, RadiusSignAndSize) {
    struct row {
        double k;
        std::initializer_list<double> points;
    };
    for (const row& c : {row{1, {20, 10, 0, 0, 0, 1, 10, 0, 0, 0, 0, 1, 20, -10, 0, 0, 0, 1}},
                         row{-1, {20, -10, 0, 0, 0, 1, 10, 0, 0, 0, 0, 1, 20, 10, 0, 0, 0, 1}}}) {
        SetUp();
        configuration_store.intsp[27] = 1;   // full circles
        configuration_store.intsp[28] = 0;   // absolute centres
        circle_from(21, 30, 0, 0.0, 20, 10, c.k);
        const std::vector<std::string> lines = run_arc(c.points);
        ASSERT_EQ(lines.size(), 1u) << joined(lines);
        EXPECT_EQ(word_output_state.word_value[R_WORD], -10000) << c.k;
    }
}

TEST_F(HeadCircles, CirclesThatCannotBeWritten) {
    // No circle code: message 129 and nothing written or committed.
    configuration_store.icodes[2][4] = 0;
    circle_from(22, 10, 0, 0.1, 0, 10, 1);
    std::string messages;
    int stopped = 0;
    std::vector<std::string> lines = run_arc({0, 10, 0, 0.1, 0, 1}, &messages, &stopped);
    EXPECT_TRUE(lines.empty()) << joined(lines);
    EXPECT_EQ(messages, "Warning(arcmov):  Circle function code not set\n");
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(motion_state.position_units[1], 10000);

    // A leaning half circle: the radii at its ends are parallel.
    SetUp();
    configuration_store.intsp[27] = 1;
    circle_from(22, 10, 0, 0.1, 0, 10, 1);
    lines = run_arc({-10, 0, 0, 0.1, 0, 1}, &messages, &stopped);
    EXPECT_TRUE(lines.empty()) << joined(lines);
    EXPECT_EQ(messages, "Error: cannot process this geometry\n");
    EXPECT_EQ(stopped, 4);

    // Subtype 24 circles are refused before anything is written.
    SetUp();
    stopped = 0;
    circle_from(24, 10, 0, 0.1, 0, 10, 1);
    lines = run_arc({0, 10, 0, 0.1, 0, 1}, &messages, &stopped);
    EXPECT_TRUE(lines.empty()) << joined(lines);
    EXPECT_EQ(messages, "Error: cannot process this geometry\n");
    EXPECT_EQ(stopped, 4);
}
