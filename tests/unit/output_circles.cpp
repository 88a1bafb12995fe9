// Circles: quadrants and rounded distances, the plane geometry of the helix
// and offset arcs, and arcs written as pieces split at quadrant boundaries
// with their radius sign, or given to linear moves.
#include <cstdio>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <span>
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
constexpr int R_WORD = 16;
constexpr int G_MOTION_WORD = 4;   // "G2": the circle functions in these tests
constexpr int G_PLANE_WORD = 5;

point3 p3(double x, double y, double z) {
    point3 p;
    p[1] = x;
    p[2] = y;
    p[3] = z;
    return p;
}

class Circles : public DefaultWords {
protected:
    void SetUp() override {
        DefaultWords::SetUp();
        configuration_store_t& cs = configuration_store;
        for (int w : {10, 11, 12, 13, 14, 15, R_WORD}) cs.word_formats[w][WRDPRN] = 3;
        cs.key[32] = R_WORD;
        for (auto [slot, word, value] : {std::tuple{3, G_MOTION_WORD, 2}, {4, G_MOTION_WORD, 3}, {6, G_PLANE_WORD, 17},
                                         {7, G_PLANE_WORD, 19}, {8, G_PLANE_WORD, 18}}) {
            cs.icodes[1][slot] = word;
            cs.icodes[2][slot] = value;
        }
        cs.intsp[20] = 0;        // "circle output": plane words as they move,
        cs.intsp[27] = 0;        // quadrant pieces,
        cs.intsp[28] = 0;        // absolute centres
        set_status_flag(21, 1);  // absolute coordinates
        feed_state.feedrate = 100.0;
    }

    // The arc starts at (x, y, 0) about the origin, radius r, axis (i, j, k).
    static void circle_from(double x, double y, double r, double i, double j, double k) {
        set_points({x, y, 0.0});
        set_move_point(1);
        commit_current_position();
        circle_state.circle_record[1] = r;
        circle_state.circle_record[2] = i;
        circle_state.circle_record[3] = j;
        circle_state.circle_record[4] = k;
        for (int c = 4; c <= 6; ++c) {
            motion_state.position[c] = 0.0;
            motion_state.position_units[c] = 0;
        }
    }

    struct arc_result {
        std::vector<std::string> lines;
        std::vector<int> radius;   // the radius word at each circle line
        int status = -99;
    };

    arc_result run_arc(std::initializer_list<double> values) {
        return run_arc(std::vector<double>(values));
    }
    // arcmov over the given points, with the tape lines it wrote.
    arc_result run_arc(const std::vector<double>& values) {
        const std::string path = unit_temp_path("circles_tape.txt");
        int status = 0;
        int unit = -1;
        open_unit(unit, path, OPEN_WRITE, FORM_TEXT, status);
        job_files.file_units[unit_slot(FILE_TAPE)] = unit;
        set_points(values);
        arc_result r;
        arcmov(point_column_values(POINT_COLUMN_RAW), point_buffer.point_count, r.status);
        filclo(job_files.file_units[unit_slot(FILE_TAPE)], status);
        job_files.file_units[unit_slot(FILE_TAPE)] = -1;
        std::ifstream in(path);
        std::remove(path.c_str());  // the open stream still reads it
        for (std::string line; std::getline(in, line);) r.lines.push_back(line);
        return r;
    }
};

}  // namespace

TEST(CircleGeometry, RoundedDistance) {
    EXPECT_DOUBLE_EQ(rounded_distance(1.0004, 1.0, 1000.0), 0.0);
    EXPECT_DOUBLE_EQ(rounded_distance(1.0, 1.0006, 1000.0), 0.001);
    EXPECT_DOUBLE_EQ(rounded_distance(-2.5, 2.5, 1.0), 6.0);  // halves away from zero: -3 and 3
}

TEST(CircleGeometry, CircleThroughThreePoints) {
    point2 centre;
    double radius = 0.0;
    int clockwise = -1, status = -1;
    circle_through_three_points_2d(p3(7, 2, 0), p3(2, 7, 0), p3(-3, 2, 0), centre, radius, clockwise, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(centre[1], 2.0, 1e-12);
    EXPECT_NEAR(centre[2], 2.0, 1e-12);
    EXPECT_NEAR(radius, 5.0, 1e-12);
    EXPECT_EQ(clockwise, 0);
    circle_through_three_points_2d(p3(-3, 2, 0), p3(2, 7, 0), p3(7, 2, 0), centre, radius, clockwise, status);
    EXPECT_EQ(clockwise, 1);
    // Points on a line, and three equal points, have no circle.
    circle_through_three_points_2d(p3(0, 0, 0), p3(1, 1, 0), p3(2, 2, 0), centre, radius, clockwise, status);
    EXPECT_EQ(status, 1);
    circle_through_three_points_2d(p3(1, 1, 0), p3(1, 1, 0), p3(1, 1, 0), centre, radius, clockwise, status);
    EXPECT_EQ(status, 1);
}

TEST(CircleGeometry, LinesAndChords) {
    point3 a, b;
    int status = 0;
    chord_line_2d(p3(0, 0, 0), p3(2, 2, 0), a, status);
    EXPECT_EQ(status, 1);
    EXPECT_DOUBLE_EQ(a[1], 1.0);
    EXPECT_DOUBLE_EQ(a[2], 1.0);
    EXPECT_NEAR(a[3], std::atan(1.0), 1e-15);
    chord_line_2d(p3(1, 1, 0), p3(1, 1.00005, 0), b, status);
    EXPECT_EQ(status, -1);

    point2 x;
    intersect_lines_2d(p3(0, 3, 0), p3(5, 0, std::atan(1.0) * 2), x, status);  // y = 3 and x = 5
    EXPECT_EQ(status, 1);
    EXPECT_NEAR(x[1], 5.0, 1e-12);
    EXPECT_NEAR(x[2], 3.0, 1e-12);
    intersect_lines_2d(p3(0, 0, 0.3), p3(4, 1, 0.3 + 0.00005), x, status);
    EXPECT_EQ(status, -1);

    point3 q;
    point_with_z(1, 2, 9, q);
    EXPECT_EQ(q[3], 9.0);
}

TEST(CircleGeometry, HelixQuarterPointsAndArcMidpoint) {
    double k, x1, y1, x2, y2;
    helix_quarter_points(0.5, 4.0, 2.0, k, x1, y1, x2, y2);  // a quarter turn done
    EXPECT_NEAR(k, std::sqrt(2.0) - 1.0, 1e-15);
    EXPECT_NEAR(x1, 0.0, 1e-12);
    EXPECT_NEAR(y1, 4.0, 1e-12);
    EXPECT_NEAR(x2, -4.0 * k * std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(y2, 4.0 * k * std::sqrt(0.5), 1e-12);

    // The arc from (1, 0) to (0, 1) leaving along +Y: the quarter of the unit circle.
    point3 m, n;
    arc_midpoint_from_tangent(p3(1, 0, 0), p3(1, 1, 0), p3(0, 1, 0), m, n);
    EXPECT_NEAR(m[1], std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(m[2], std::sqrt(0.5), 1e-12);
}

TEST_F(Circles, QuadrantsOfThePlane) {
    circle_state.arc_plane_axes = array1<int, 4>{{1, 2, 4, 5}};
    struct row {
        int x, y, quadrant;
    };
    for (const row& r : {row{5, 0, 1}, row{0, 5, 1}, row{-5, 0, 2}, row{-5, -1, 3}, row{0, -5, 4}, row{5, -5, 4}}) {
        motion_state.position_units[1] = r.x;
        motion_state.position_units[2] = r.y;
        EXPECT_EQ(arc_quadrant(), r.quadrant) << r.x << "," << r.y;
    }
}

TEST_F(Circles, QuarterCircleIsOneBlock) {
    circle_from(10, 0, 10, 0, 0, 1);
    const double s = 10 * std::sqrt(0.5);
    const arc_result r = run_arc({s, s, 0, 0, 10, 0});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(word_output_state.word_value[R_WORD], 10000);
    EXPECT_EQ(word_output_state.word_value[X_WORD], 0);
    EXPECT_EQ(word_output_state.word_value[Y_WORD], 10000);
    EXPECT_NE(r.lines[0].find("G3"), std::string::npos) << r.lines[0];
    // The centre is done with once the arc is written.
    EXPECT_EQ(motion_state.position_units[4], 0);
}

TEST_F(Circles, HalfCircleIsSplitAtTheQuadrantUnlessFullCircles) {
    circle_from(10, 0, 10, 0, 0, 1);
    arc_result r = run_arc({0, 10, 0, -10, 0, 0});
    ASSERT_EQ(r.lines.size(), 2u) << (r.lines.empty() ? "" : r.lines[0]);
    // The first piece ends on the quadrant boundary (0, 10), the second at (-10, 0).
    EXPECT_NE(r.lines[0].find("X0Y10000"), std::string::npos) << r.lines[0];
    EXPECT_NE(r.lines[1].find("X-10000Y0"), std::string::npos) << r.lines[1];
    EXPECT_EQ(word_output_state.word_value[R_WORD], 10000);  // exactly 180 degrees keeps R positive

    configuration_store.intsp[27] = 1;  // full circle
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    r = run_arc({0, 10, 0, -10, 0, 0});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(word_output_state.word_value[R_WORD], 10000);

    // Three quarters in one block: the radius word is negative.
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    r = run_arc({0, 10, 0, -10, 0, 0, 0, -10, 0});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(word_output_state.word_value[R_WORD], -10000);
}

TEST_F(Circles, ClockwiseArcAboutMinusZ) {
    circle_from(0, 10, 10, 0, 0, -1);
    const double s = 10 * std::sqrt(0.5);
    const arc_result r = run_arc({s, s, 0, 10, 0, 0});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("G2"), std::string::npos) << r.lines[0];
    EXPECT_EQ(circle_state.arc_reversed, 1);
}

TEST_F(Circles, TiltedArcIsGivenToLinearMoves) {
    circle_from(10, 0, 10, 0.6, 0.0, 0.8);
    const arc_result r = run_arc({0, 10, 0});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].find("G2"), std::string::npos) << r.lines[0];
    EXPECT_EQ(r.lines[0].find("G3"), std::string::npos) << r.lines[0];
    EXPECT_EQ(word_output_state.word_request[R_WORD], 0);
}

namespace {

// The X and Y values (thousandths) that a tape line of these tests writes;
// a word the line leaves out keeps its value. False when it writes neither.
bool xy_values(const std::string& line, double& x, double& y) {
    const std::size_t i = line.find('X'), j = line.find('Y');
    if (i != std::string::npos) x = std::stod(line.substr(i + 1));
    if (j != std::string::npos) y = std::stod(line.substr(j + 1));
    return i != std::string::npos || j != std::string::npos;
}

}  // namespace

// Ends that the CAM rounded lie a few resolutions off one circle about the
// centre: the arc stays an arc, about a centre moved to fit both ends. Ends
// further off are no arc about that centre: straight moves within the
// chordal tolerance from the one distance to the other, never one chord.
TEST_F(Circles, EndsOffTheRadius) {
    // The end 0.002 beyond the radius: the centre moves to (-0.001, 0.001),
    // 10.001 from both ends.
    circle_from(10, 0, 10, 0, 0, 1);
    arc_result r = run_arc({0, 10.002, 0});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("G3"), std::string::npos) << r.lines[0];
    EXPECT_NE(r.lines[0].find("X0Y10002I-1J1"), std::string::npos) << r.lines[0];

    // The end 0.05 beyond it: 90 degrees in steps of 2 acos(1 - 0.001 / 10.05).
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    r = run_arc({0, 10.05, 0});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 56u);
    double x = 10000.0, y = 0.0;
    std::vector<double> radii;
    for (const std::string& line : r.lines) {
        EXPECT_EQ(line.find("G3"), std::string::npos) << line;
        ASSERT_TRUE(xy_values(line, x, y)) << line;
        const double radius = std::hypot(x, y) / 1000.0;
        EXPECT_GE(radius, 10.0 - 0.0015) << line;
        EXPECT_LE(radius, 10.05 + 0.0015) << line;
        radii.push_back(radius);
    }
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(y, 10050.0);
    EXPECT_NEAR(radii[27], 10.025, 0.002);
}

// A plane whose arcs are suppressed, or which the control cannot select (no
// plane code, other than XY), is written as straight moves whose height over
// the arc stays within the chordal tolerance (here the resolution, 0.001).
TEST_F(Circles, ArcsWithoutTheirPlaneAreLinearisedWithinTheTolerance) {
    struct row {
        const char* what;
        double i, j, k;       // the circle's axis
        double end[3];        // a quarter from (10, 0, 0) about the origin
        int suppress_xy, zx_code;
    };
    for (const row& c : {row{"suppressed XY", 0, 0, 1, {0, 10, 0}, 1, 18},
                         row{"ZX without its code", 0, 1, 0, {0, 0, -10}, 0, UNSET_CODE}}) {
        init_word_state();
        configuration_store.intsp[85] = c.suppress_xy;
        configuration_store.icodes[2][8] = c.zx_code;
        circle_from(10, 0, 10, c.i, c.j, c.k);
        const arc_result r = run_arc({c.end[0], c.end[1], c.end[2]});
        EXPECT_EQ(r.status, 0) << c.what;
        // 90 degrees in steps of 2 acos(1 - 0.001 / 10) = 1.62 degrees.
        ASSERT_EQ(r.lines.size(), 56u) << c.what;
        for (const std::string& line : r.lines) {
            EXPECT_EQ(line.find("G2"), std::string::npos) << c.what << ": " << line;
            EXPECT_EQ(line.find("G3"), std::string::npos) << c.what << ": " << line;
            EXPECT_EQ(line.find("G18"), std::string::npos) << c.what << ": " << line;
        }
        // The last chord ends at the record's end.
        EXPECT_EQ(motion_state.previous_position_units[1], nearest_int(c.end[0] * 1000)) << c.what;
        EXPECT_EQ(motion_state.previous_position_units[2], nearest_int(c.end[1] * 1000)) << c.what;
        EXPECT_EQ(motion_state.previous_position_units[3], nearest_int(c.end[2] * 1000)) << c.what;
    }
    // With its plane code the ZX arc is one arc block.
    configuration_store.intsp[85] = 0;
    configuration_store.icodes[2][8] = 18;
    init_word_state();
    circle_from(10, 0, 10, 0, 1, 0);
    const arc_result r = run_arc({0, 0, -10});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("G18"), std::string::npos) << r.lines[0];
}

TEST_F(Circles, StartOffThePlaneIsReported) {
    circle_from(10, 0, 10, 0, 0, 1);
    const double s = 10 * std::sqrt(0.5);
    // The arc's first point lies 1 above the start, its end in the start's
    // plane: no helix, and no arc in one plane either.
    const arc_result r = run_arc({s, s, 1, 0, 10, 0});
    EXPECT_EQ(r.status, ARC_OFF_PLANE);
    EXPECT_TRUE(r.lines.empty());
}

TEST_F(Circles, FlatArcIsOneLinearBlock) {
    circle_from(10, 0, 1000, 0, 0, 1);
    circle_state.circle_record[1] = 1000.0;
    motion_state.position[4] = 10.0 - 1000.0;  // centre far to the left: a nearly straight arc
    motion_state.position_units[4] = nearest_int((10.0 - 1000.0) * 1000);
    const double y = 0.0005;
    const double x = -990.0 + std::sqrt(1000.0 * 1000.0 - y * y);
    const arc_result r = run_arc({x, y, 0});
    ASSERT_LE(r.lines.size(), 1u);
    for (const std::string& line : r.lines) EXPECT_EQ(line.find("G3"), std::string::npos) << line;
}

// Where the pieces of an arc end, as travel from its start: at every
// quadrant boundary crossed without full circles; with them at most a whole
// turn a piece, and a whole turn in two halves where the radius is written.
TEST(CirclePieces, PieceEnds) {
    struct row {
        double start_direction, sweep;
        int quadrants, halves;
        std::vector<double> ends;
    };
    const row rows[] = {
        {0, 270, 1, 0, {90, 180, 270}},          // (10,0) to (0,-10) counter-clockwise
        {90, 180, 1, 0, {90, 180}},              // starts on a boundary
        {45, 360, 1, 0, {45, 135, 225, 315, 360}},
        {0, 360, 1, 0, {90, 180, 270, 360}},
        {0, 90, 1, 0, {90}},                     // ends on a boundary
        {10, 60, 1, 0, {60}},
        {0, 360, 0, 0, {360}},
        {0, 360, 0, 1, {180, 360}},
        {0, 200, 0, 1, {200}},
    };
    for (const row& r : rows) {
        arc_plan_t plan;
        plan.start_direction = r.start_direction;
        plan.sweep = r.sweep;
        plan.quadrant_pieces = r.quadrants;
        plan.halve_full_circles = r.halves;
        plan.step_angle = 0.0057;  // one resolution step of a radius 10
        std::vector<double> ends;
        for (double from = 0.0; from < plan.sweep && ends.size() < 10;) {
            from = next_arc_piece_end(plan, from);
            ends.push_back(from);
        }
        ASSERT_EQ(ends.size(), r.ends.size()) << r.start_direction << " " << r.sweep;
        for (std::size_t i = 0; i < ends.size(); ++i) EXPECT_NEAR(ends[i], r.ends[i], 1e-9) << r.start_direction;
    }
}

namespace {

// The X, Y (and with z the Z) words of a tape line, in thousandths.
std::string xy_of(const std::string& line) {
    const std::size_t x = line.find('X'), i = line.find('I');
    return x == std::string::npos ? "" : line.substr(x, i - x);
}

}  // namespace

// Quadrant pieces end at every boundary crossed: a 270-degree arc is three
// quarters, not a quarter and a half.
TEST_F(Circles, QuadrantPiecesEndAtEveryBoundary) {
    struct row {
        double start_x, start_y;
        std::initializer_list<double> points;
        std::vector<std::string> ends;
    };
    const row rows[] = {
        {10, 0, {0, -10, 0}, {"X0Y10000", "X-10000Y0", "X0Y-10000"}},
        {0, 10, {0, -10, 0}, {"X-10000Y0", "X0Y-10000"}},
        // A point on the way changes nothing.
        {10, 0, {-10, 0, 0, 0, -10, 0}, {"X0Y10000", "X-10000Y0", "X0Y-10000"}},
    };
    for (const row& c : rows) {
        init_word_state();
        circle_from(c.start_x, c.start_y, 10, 0, 0, 1);
        const arc_result r = run_arc(c.points);
        ASSERT_EQ(r.lines.size(), c.ends.size()) << c.start_x;
        EXPECT_NE(r.lines[0].find("G3"), std::string::npos) << r.lines[0];  // modal afterwards
        for (std::size_t i = 0; i < c.ends.size(); ++i) EXPECT_EQ(xy_of(r.lines[i]), c.ends[i]) << r.lines[i];
        EXPECT_EQ(word_output_state.word_value[R_WORD], 10000);  // no piece is over half a circle
    }
}

// A circle whose record gives only its end, at the start: a whole circle.
TEST_F(Circles, FullCircleByItsEndPoint) {
    // Quadrant pieces, clockwise from (10, 0).
    circle_from(10, 0, 10, 0, 0, -1);
    arc_result r = run_arc({10, 0, 0});
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(xy_of(r.lines[0]), "X0Y-10000");
    EXPECT_EQ(xy_of(r.lines[3]), "X10000Y0");
    EXPECT_NE(r.lines[0].find("G2"), std::string::npos) << r.lines[0];

    // One block with full circles: the centre words carry it, the end is the start.
    configuration_store.intsp[27] = 1;
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    r = run_arc({10, 0, 0});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("G3"), std::string::npos) << r.lines[0];
    EXPECT_NE(r.lines[0].find("I0J0"), std::string::npos) << r.lines[0];
}

// The radius word describes each piece written: its sign from the piece's
// own sweep, a whole circle in two halves when the block writes the radius,
// and never below half the chord of the rounded end points.
TEST_F(Circles, RadiusWordsDescribeTheArcWritten) {
    configuration_store_t& cs = configuration_store;
    cs.intsp[27] = 1;  // full circles
    // "move circle" names G, X, Y and R.
    const int items[] = {14000 + G_MOTION_WORD, 14000 + X_WORD, 14000 + Y_WORD, 13000 + R_WORD};
    cs.blklen[10] = 4;
    for (int k = 1; k <= 4; ++k) {
        cs.block_items[10][k].code = items[k - 1];
        cs.block_items[10][k].string_ref = k < 4 ? 1 : 0;
    }
    circle_from(10, 0, 10, 0, 0, 1);
    arc_result r = run_arc({10, 0, 0});
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0], "G3X-10000R10000");
    EXPECT_EQ(r.lines[1], "X10000R10000");

    // A 200-degree arc in one block: R negative.
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    const double a = 200.0 * std::atan(1.0) / 45.0;
    r = run_arc({10 * std::cos(a), 10 * std::sin(a), 0});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("R-10000"), std::string::npos) << r.lines[0];

    // A half circle whose rounded ends lie 20.001 apart about a radius that
    // rounds to 10: R is raised to reach.
    init_word_state();
    circle_from(10.0008, 0, 10.0004, 0, 0, 1);
    motion_state.position[4] = 0.0004;
    circle_state.circle_record[1] = 10.0004;
    r = run_arc({-9.9996, 0, 0});
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "G3X-10000R10001");
}

// A helix given by its end point alone rises from the current position.
TEST_F(Circles, HelixByItsEndPoint) {
    const int z_word = key_word(10);
    circle_from(10, 0, 10, 0, 0, 1);
    arc_result r = run_arc({0, 10, -2});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("G3"), std::string::npos) << r.lines[0];
    EXPECT_EQ(word_output_state.word_value[z_word], -2000);

    // A whole turn down by 4 in quadrant pieces: a quarter of the rise each.
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    r = run_arc({10, 0, -4});
    ASSERT_EQ(r.lines.size(), 4u);
    const char* z[] = {"Z-1000", "Z-2000", "Z-3000", "Z-4000"};
    EXPECT_NE(r.lines[0].find("G3"), std::string::npos) << r.lines[0];
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NE(r.lines[i].find(z[i]), std::string::npos) << r.lines[i];

    // Where the plane is suppressed: straight moves down the helix.
    configuration_store.intsp[85] = 1;
    init_word_state();
    circle_from(10, 0, 10, 0, 0, 1);
    r = run_arc({0, 10, -2});
    ASSERT_EQ(r.lines.size(), 56u);
    EXPECT_NE(r.lines[27].find("Z-1000"), std::string::npos) << r.lines[27];
    EXPECT_EQ(motion_state.previous_position_units[3], -2000);
}

namespace {

// The points of a helix about the origin from (r, 0, 0): `turns` turns
// counter-clockwise in steps of `step` degrees, falling `pitch` a turn.
std::vector<double> helix_points(double r, double turns, double step, double pitch) {
    std::vector<double> v;
    const int n = static_cast<int>(std::lround(turns * 360.0 / step));
    for (int i = 1; i <= n; ++i) {
        const double a = i * step * std::atan(1.0) / 45.0;
        v.insert(v.end(), {r * std::cos(a), r * std::sin(a), -pitch * i * step / 360.0});
    }
    return v;
}

int lines_with(const std::vector<std::string>& lines, const char* text) {
    int n = 0;
    for (const std::string& line : lines) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

}  // namespace

// The sweep of an arc is every turn its points make, and no block turns
// more than once: a helix of 2.5 turns given by 30 points is written a turn
// (or a quadrant, or half a turn for a radius) at a time, each piece with
// its share of the fall; a control whose arcs take no helix gets straight
// moves within the chordal tolerance.
TEST_F(Circles, HelixOfSeveralTurnsKeepsItsTurns) {
    struct row {
        const char* what;
        int full_circle, radius_block, helix_as_lines;
        std::vector<const char*> falls;  // the Z word of each line, in order
        int lines;
    };
    const row rows[] = {
        {"quadrants", 0, 0, 0, {"Z-250", "Z-500", "Z-750", "Z-1000", "Z-1250", "Z-1500", "Z-1750", "Z-2000", "Z-2250", "Z-2500"}, 10},
        {"whole turns", 1, 0, 0, {"Z-1000", "Z-2000", "Z-2500"}, 3},
        {"half turns for a radius", 1, 1, 0, {"Z-500", "Z-1000", "Z-1500", "Z-2000", "Z-2500"}, 5},
        // 900 degrees in steps of 2 acos(1 - 0.001 / 10) = 1.62 degrees.
        {"straight moves", 1, 0, 1, {}, 556},
    };
    configuration_store_t& cs = configuration_store;
    for (const row& c : rows) {
        init_word_state();
        cs.intsp[27] = c.full_circle;
        cs.intsp[125] = c.helix_as_lines;
        cs.blklen[10] = 0;
        if (c.radius_block != 0) {
            const int items[] = {14000 + G_MOTION_WORD, 14000 + X_WORD, 14000 + Y_WORD, 14000 + key_word(10),
                                 13000 + R_WORD};
            cs.blklen[10] = 5;
            for (int k = 1; k <= 5; ++k) {
                cs.block_items[10][k].code = items[k - 1];
                cs.block_items[10][k].string_ref = k < 5 ? 1 : 0;
            }
        }
        circle_from(10, 0, 10, 0, 0, 1);
        const arc_result r = run_arc(helix_points(10, 2.5, 30, 1));
        EXPECT_EQ(r.status, 0) << c.what;
        ASSERT_EQ(r.lines.size(), static_cast<std::size_t>(c.lines)) << c.what;
        for (std::size_t i = 0; i < c.falls.size(); ++i)
            EXPECT_NE(r.lines[i].find(c.falls[i]), std::string::npos) << c.what << ": " << r.lines[i];
        EXPECT_EQ(lines_with(r.lines, "G3"), c.helix_as_lines != 0 ? 0 : 1) << c.what;
        EXPECT_EQ(motion_state.previous_position_units[1], -10000) << c.what;
        EXPECT_EQ(motion_state.previous_position_units[3], -2500) << c.what;
    }
}

// Steps that stay in the plane but fall a pitch are whole turns; a point
// repeated is no turn; a circle gone round twice is two blocks. (Words that
// do not change are left out.)
TEST_F(Circles, TurnsOfPointsThatReturnToTheirPlace) {
    struct row {
        const char* what;
        std::vector<double> points;
        std::vector<std::string> lines;
    };
    const row rows[] = {
        {"a point each turn", {10, 0, -1, 10, 0, -2}, {"G3G17Z-1000I0J0F1000", "Z-2000I0J0"}},
        {"a point repeated", {0, 10, 0, 0, 10, 0, -10, 0, 0}, {"G3G17X-10000I0J0F1000"}},
        {"twice round", {0, 10, 0, -10, 0, 0, 10, 0, 0, -10, 0, 0, 10, 0, 0}, {"G3G17I0J0F1000", "I0J0"}},
    };
    configuration_store.intsp[27] = 1;  // full circles
    for (const row& c : rows) {
        init_word_state();
        circle_from(10, 0, 10, 0, 0, 1);
        EXPECT_EQ(run_arc(c.points).lines, c.lines) << c.what;
    }
}
