// Wire-mode circles: compensation left on every arc, integer quadrant pieces
// and incremental centres, the C axis and circle angle at the arc's end, an
// arc as the first move after a tool change, a missing circle code, and flat
// pieces given to straight moves.
#include <cstdio>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "unit_temp.h"
#include "output/output.h"
#include "output_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int X_WORD = 10;
constexpr int Y_WORD = 11;
constexpr int I_WORD = 13;
constexpr int J_WORD = 14;
constexpr int ANGLE_WORD = 18;   // "Q" as the circle-angle word
constexpr int C_WORD = 21;       // "C" as the third rotation axis
constexpr double S = 7.0710678118654752;   // 10 sin 45 degrees

class WireCircles : public DefaultWords {
protected:
    void SetUp() override {
        DefaultWords::SetUp();
        configuration_store_t& cs = configuration_store;
        // Words print with three decimals; circle codes G2/G3 in word 3,
        // compensation G40/G41 in word 4, planes G17.. in word 5.
        for (int w : {10, 11, 12, 13, 14, 15, 16, ANGLE_WORD, C_WORD}) cs.word_formats[w][WRDPRN] = 3;
        cs.key[32] = 16;
        for (auto [slot, word, value] : {std::tuple{6, 5, 17}, {7, 5, 19}, {8, 5, 18}}) {
            cs.icodes[1][slot] = word;
            cs.icodes[2][slot] = value;
        }
        cs.intsp[79] = 1;        // wire mode
        cs.intsp[20] = 0;
        cs.intsp[27] = 0;        // quadrant pieces
        cs.intsp[28] = 0;        // absolute centres
        real_option(10) = 0.0;   // chordal tolerance 0.001
        set_status_flag(21, 1);  // absolute coordinates
        pending_move_flags.circle_pending = 1;
        feed_state.feedrate = 100.0;
    }

    // The arc starts at (x, y, 0) about the origin, radius r, axis (0, 0, k).
    static void circle_from(double x, double y, double r, double k) {
        set_points({x, y, 0.0});
        set_move_point(1);
        commit_current_position();
        circle_state.circle_record[1] = r;
        circle_state.circle_record[2] = 0.0;
        circle_state.circle_record[3] = 0.0;
        circle_state.circle_record[4] = k;
        for (int c = 4; c <= 6; ++c) {
            motion_state.position[c] = 0.0;
            motion_state.position_units[c] = 0;
        }
    }

    // arcmov_wire over the given points: the tape lines and the messages.
    static std::vector<std::string> run_arc(std::initializer_list<double> values, std::string* messages = nullptr) {
        const std::string path = unit_temp_path("wire_circles_tape.txt");
        int status = 0;
        int unit = -1;
        open_unit(unit, path, OPEN_WRITE, FORM_TEXT, status);
        job_files.file_units[unit_slot(FILE_TAPE)] = unit;
        set_points(values);
        testing::internal::CaptureStderr();
        arcmov_wire();
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
};

}  // namespace

TEST_F(WireCircles, QuarterCircleWithCompensationAndEndTangent) {
    circle_from(10, 0, 10, 1);
    const std::vector<std::string> lines = run_arc({S, S, 0, 0, 10, 0});
    ASSERT_EQ(lines.size(), 1u) << joined(lines);
    EXPECT_NE(lines[0].find("G3"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("G41"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("G17"), std::string::npos) << lines[0];
    EXPECT_EQ(word_output_state.word_value[X_WORD], 0);
    EXPECT_EQ(word_output_state.word_value[Y_WORD], 10000);
    EXPECT_EQ(word_output_state.word_value[16], 10000);   // R, never signed
    EXPECT_EQ(motion_state.position_units[1], 0);
    EXPECT_EQ(motion_state.position_units[2], 10000);
    EXPECT_EQ(motion_state.position_units[4], 0);
    EXPECT_EQ(circle_state.arc_quadrant_state[1], 1);

    // Clockwise (axis -Z) from (0, 10) to (10, 0).
    SetUp();
    circle_from(0, 10, 10, -1);
    const std::vector<std::string> cw = run_arc({S, S, 0, 10, 0, 0});
    ASSERT_EQ(cw.size(), 1u) << joined(cw);
    EXPECT_NE(cw[0].find("G2"), std::string::npos) << cw[0];
    EXPECT_EQ(word_output_state.word_value[X_WORD], 10000);
    EXPECT_EQ(word_output_state.word_value[Y_WORD], 0);
}

TEST_F(WireCircles, HalfCircleSplitsWithIntegerIncrementalCentres) {
    configuration_store.intsp[28] = 1;   // incremental centres
    circle_from(10, 0, 10, 1);
    // Centre (0, 0.0004): the first piece's I, J are the start less the
    // centre in X-word integers.
    motion_state.position[5] = 0.0004;
    motion_state.position_units[5] = 0;
    const std::vector<std::string> lines = run_arc({0, 10, 0, -10, 0, 0});
    ASSERT_EQ(lines.size(), 2u) << joined(lines);
    // The second piece starts at the quadrant boundary (0, 10).
    EXPECT_EQ(word_output_state.word_value[I_WORD], 0);
    EXPECT_EQ(word_output_state.word_value[J_WORD], 10000);
    EXPECT_EQ(word_output_state.word_value[X_WORD], -10000);
    EXPECT_EQ(word_output_state.word_value[Y_WORD], 0);
    EXPECT_NE(lines[0].find("I1"), std::string::npos) << lines[0];
    // Only the centre integers are cleared at the end.
    EXPECT_EQ(motion_state.position_units[4], 0);
    EXPECT_EQ(motion_state.position[5], 0.0004);
}

TEST_F(WireCircles, MissingCircleCodeWritesNothing) {
    configuration_store.icodes[2][4] = 0;   // "circle ccw" code value 0
    circle_from(10, 0, 10, 1);
    std::string messages;
    const std::vector<std::string> lines = run_arc({S, S, 0, 0, 10, 0}, &messages);
    EXPECT_TRUE(lines.empty()) << joined(lines);
    EXPECT_EQ(messages, "Warning(arcmov):  Circle function code not set\n");
    EXPECT_EQ(motion_state.position_units[1], 10000);   // nothing committed
}

TEST_F(WireCircles, ArcAfterAToolChangeIsTheFirstMove) {
    // Written compensated and alone; the straight moves after it are no
    // longer the first move, so they stay compensated too.
    move_output_state.first_move_after_tool_change = 1;
    circle_from(10, 0, 10, 1);
    const std::vector<std::string> lines = run_arc({S, S, 0, 0, 10, 0});
    ASSERT_EQ(lines.size(), 1u) << joined(lines);
    EXPECT_NE(lines[0].find("G41"), std::string::npos) << lines[0];
    EXPECT_EQ(move_output_state.first_move_after_tool_change, 0);
}

TEST_F(WireCircles, CAxisAndCircleAngleAtTheArcsEnd) {
    configuration_store.key[38] = C_WORD;
    configuration_store.key[7] = ANGLE_WORD;
    real_option(9) = 0.0;   // initial C angle
    struct Case {
        const char* what;
        double start_x, start_y, k;
        std::initializer_list<double> points;
        double previous_c, initial_c;
        double c;           // degrees
        int angle_units;    // the circle-angle word (absolute)
    };
    const Case cases[] = {
        // End (0, 10) straight above the centre: 90, plus 180 counter-clockwise,
        // then one turn back as it is more than 180 past the previous 0.
        {"ccw to (0, 10)", 10, 0, 1, {S, S, 0, 0, 10, 0}, 0, 0, -90, 90000},
        {"ccw to (0, 10) from 200", 10, 0, 1, {S, S, 0, 0, 10, 0}, 200, 0, 270, 90000},
        {"ccw with an initial C of 15", 10, 0, 1, {S, S, 0, 0, 10, 0}, 200, 15, 285, 90000},
        // End (10, 0) right of the centre, clockwise: 0. Its tangent points
        // down: 0 degrees, in quadrant 1.
        {"cw to (10, 0)", 0, 10, -1, {S, S, 0, 10, 0, 0}, 0, 0, 0, 0},
        // End (-10, 0): 180 left of the centre, plus 180 counter-clockwise.
        {"ccw to (-10, 0)", 0, 10, 1, {-S, S, 0, -10, 0, 0}, 300, 0, 360, 180000},
    };
    for (const Case& c : cases) {
        SetUp();
        configuration_store.key[38] = C_WORD;
        configuration_store.key[7] = ANGLE_WORD;
        real_option(9) = c.initial_c;
        circle_from(c.start_x, c.start_y, 10, c.k);
        motion_state.previous_rotary_angles[1] = c.previous_c;
        motion_state.rotary_angles[1] = c.previous_c;
        run_arc(c.points);
        EXPECT_NEAR(motion_state.rotary_angles[1], c.c, 1e-9) << c.what;
        EXPECT_NEAR(motion_state.previous_rotary_angles[1], c.c, 1e-9) << c.what;
        EXPECT_EQ(word_output_state.word_value[C_WORD], nearest_int(MULT(C_WORD) * c.c)) << c.what;
        EXPECT_EQ(word_output_state.word_value[ANGLE_WORD], c.angle_units) << c.what;
    }
}

TEST_F(WireCircles, FlatArcsBecomeStraightMoves) {
    // A whole record that is flat: its points become straight moves.
    circle_from(100, 0, 100, 1);
    const std::vector<std::string> flat = run_arc({99.99995, 0.1, 0});
    ASSERT_EQ(flat.size(), 1u) << joined(flat);
    EXPECT_NE(flat[0].find("G1"), std::string::npos) << flat[0];
    EXPECT_EQ(flat[0].find("G3"), std::string::npos) << flat[0];
    EXPECT_EQ(motion_state.position_units[2], 100);

    // A flat first piece (just before the quadrant boundary) is one straight
    // move to the boundary; the rest of the arc follows once, as an arc.
    SetUp();
    circle_from(9.99999875, -0.005, 10, 1);
    const std::vector<std::string> lines = run_arc({S, S, 0, 0, 10, 0});
    ASSERT_EQ(lines.size(), 2u) << joined(lines);
    EXPECT_NE(lines[0].find("G1"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("G3"), std::string::npos) << lines[1];
    EXPECT_EQ(word_output_state.word_value[X_WORD], 0);
    EXPECT_EQ(word_output_state.word_value[Y_WORD], 10000);

    // A flat piece no longer than 0.001 writes nothing.
    SetUp();
    circle_from(100, 0, 100, 1);
    EXPECT_TRUE(run_arc({100, 0.0005, 0}).empty());
}

// A full circle given by its end point alone, and a 270-degree arc, are cut
// at every quadrant boundary; with full circles the circle is one block.
TEST_F(WireCircles, FullCirclesAndEveryQuadrantBoundary) {
    circle_from(10, 0, 10, -1);
    std::vector<std::string> lines = run_arc({10, 0, 0});
    ASSERT_EQ(lines.size(), 4u) << joined(lines);
    EXPECT_NE(lines[0].find("G2"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("X0Y-10000"), std::string::npos) << lines[0];
    EXPECT_NE(lines[3].find("X10000Y0"), std::string::npos) << lines[3];

    SetUp();
    circle_from(10, 0, 10, 1);
    lines = run_arc({0, -10, 0});
    ASSERT_EQ(lines.size(), 3u) << joined(lines);
    EXPECT_NE(lines[0].find("X0Y10000"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("X-10000Y0"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("X0Y-10000"), std::string::npos) << lines[2];

    SetUp();
    configuration_store.intsp[27] = 1;
    circle_from(10, 0, 10, 1);
    lines = run_arc({10, 0, 0});
    ASSERT_EQ(lines.size(), 1u) << joined(lines);
    EXPECT_NE(lines[0].find("G3"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("I0J0"), std::string::npos) << lines[0];
}
