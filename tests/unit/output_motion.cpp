// Motion output: feed values and limits, the current position in word
// integers, turning angles, the tangential C axis, the lines of linear,
// rapid, wire and go-home moves on the tape, and the cutting time per tool.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "unit_temp.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "output_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int FEED_WORD = 26;   // "F", keys 16 and 17 of the default words
constexpr int X_WORD = 10;
constexpr int Y_WORD = 11;
constexpr int Z_WORD = 12;
constexpr int U_WORD = 22;      // per-axis feed words in these tests
constexpr int V_WORD = 23;
constexpr int W_WORD = 24;
constexpr int C_WORD = 21;

class Motion : public DefaultWords {
protected:
    void SetUp() override {
        DefaultWords::SetUp();
        configuration_store_t& cs = configuration_store;
        cs.word_formats[FEED_WORD][WRDPRN] = 1;     // MULT 10
        for (int w : {X_WORD, Y_WORD, Z_WORD}) {
            cs.word_formats[w][WRDPRN] = 3;
            cs.word_formats[w][IZSUP_CURRENT] = 0;
            cs.word_formats[w][IDEC_CURRENT] = 1;
        }
        cs.icodes[1][FEED_FUNCTION_PER_MINUTE] = 8;
        cs.icodes[2][FEED_FUNCTION_PER_MINUTE] = 94;
        cs.icodes[1][FEED_FUNCTION_PER_REVOLUTION] = 8;
        cs.icodes[2][FEED_FUNCTION_PER_REVOLUTION] = 95;
        real_option(1) = 5000.0;   // maximum feedrate
        real_option(2) = 10.0;     // minimum feedrate
        real_option(3) = 20000.0;  // rapid feedrate
        for (int c = 116; c <= 121; ++c) real_option(c) = (c % 2 == 0) ? -99999.0 : 999999.0;
        toolpath_tables.toolpath_index = 0;
        toolpath_tables.tool_index = 0;
    }

    void TearDown() override {
        int status = 0;
        int& tape = job_files.file_units[unit_slot(FILE_TAPE)];
        if (tape >= 0) filclo(tape, status);
        tape = -1;
    }

    // A move from the current position to (x, y, z) in output units.
    static void move_to(double x, double y, double z) {
        motion_state.position[1] = x;
        motion_state.position[2] = y;
        motion_state.position[3] = z;
    }

    // Points committed as the previous position without any output; the
    // words forget what an earlier move wrote.
    static void start_at(double x, double y, double z) {
        init_word_state();
        set_points({x, y, z});
        set_move_point(1);
        commit_current_position();
    }

    // Tape lines written by `output` into a fresh tape file.
    template <class F>
    std::vector<std::string> tape_lines(F output) {
        const std::string path = unit_temp_path("motion_tape.txt");
        int status = 0;
        int unit = -1;
        open_unit(unit, path, OPEN_WRITE, FORM_TEXT, status);
        EXPECT_EQ(status, 0);
        job_files.file_units[unit_slot(FILE_TAPE)] = unit;
        job_files.file_units[unit_slot(FILE_PRINT)] = null_unit();
        output();
        filclo(job_files.file_units[unit_slot(FILE_TAPE)], status);
        job_files.file_units[unit_slot(FILE_TAPE)] = -1;
        std::ifstream in(path);
        std::remove(path.c_str());  // the open stream still reads it
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

// --- feed ---------------------------------------------------------------------

TEST_F(Motion, FeedIsClampedAndScaledRapidIsNot) {
    struct row {
        double feed;
        int rapid;
        int expected;
    };
    for (const row& r : {row{6000.0, 0, 50000}, row{2.0, 0, 100}, row{250.0, 0, 2500}, row{250.0, 1, 200000}}) {
        init_word_state();
        feed_state.feedrate = r.feed;
        pending_move_flags.rapid_pending = r.rapid;
        fedrat();
        EXPECT_EQ(word_output_state.word_value[FEED_WORD], r.expected) << r.feed;
        EXPECT_EQ(word_output_state.word_request[FEED_WORD], 1);
        EXPECT_EQ(word_output_state.word_value[8], 94);  // feed per minute function
    }
}

TEST_F(Motion, FeedPerRevolutionUsesItsWordAndFunction) {
    configuration_store.key[17] = 27;
    configuration_store.word_formats[27][WRDPRN] = 3;
    motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = 0;
    feed_state.feedrate = 12.5;
    fedrat();
    // The feed word's decimal places, not those of the word that carries it.
    EXPECT_EQ(word_output_state.word_value[27], 125);
    EXPECT_EQ(word_output_state.word_request[27], 1);
    EXPECT_EQ(word_output_state.word_request[FEED_WORD], 0);
    EXPECT_EQ(word_output_state.word_value[8], 95);
}

TEST_F(Motion, PerAxisFeedWordsFollowTheMovingAxes) {
    configuration_store_t& cs = configuration_store;
    cs.intsp[70] = 2;
    cs.key[4] = U_WORD;
    cs.key[5] = V_WORD;
    cs.key[6] = W_WORD;
    for (int w : {U_WORD, V_WORD, W_WORD}) cs.word_formats[w][WRDPRN] = 0;
    feed_state.feedrate = 1000.0;
    move_to(5.0, 0.0, 0.0);
    fedrat();
    const word_output_state_t& s = word_output_state;
    EXPECT_EQ(s.word_value[U_WORD], 1000);
    EXPECT_EQ(s.word_request[U_WORD], 1);
    EXPECT_EQ(s.word_request[V_WORD], 0);
    EXPECT_EQ(s.word_request[W_WORD], 0);
    EXPECT_EQ(s.word_value[FEED_WORD], 10000);
    EXPECT_EQ(s.word_request[FEED_WORD], 1);

    // A Z-only move writes only the Z feed word.
    init_word_state();
    move_to(0.0, 0.0, -3.0);
    fedrat();
    EXPECT_EQ(s.word_request[W_WORD], 1);
    EXPECT_EQ(s.word_request[FEED_WORD], 0);
    EXPECT_EQ(s.word_request[U_WORD], 0);

    // A move too short for a direction sets nothing at all.
    init_word_state();
    move_to(0.00005, 0.0, 0.0);
    fedrat();
    for (int w : {U_WORD, V_WORD, W_WORD, FEED_WORD, 8}) EXPECT_EQ(s.word_request[w], 0) << w;
}

TEST_F(Motion, NineStepFeedCodes) {
    configuration_store.intsp[73] = 1;
    real_option(1) = 900.0;
    real_option(2) = 0.0;
    for (auto [feed, code] : {std::pair{50.0, 1}, {100.0, 2}, {850.0, 9}, {2000.0, 9}}) {
        multiaxis_feed.move_feed_values[1] = feed;
        fedrat_multiaxis();
        EXPECT_EQ(word_output_state.word_value[FEED_WORD], code) << feed;
    }
    EXPECT_DOUBLE_EQ(multiaxis_feed.move_feed_values[1], 900.0);  // the clamped feed is kept
    // No maximum: every feed is in the top step rather than a division by zero.
    real_option(1) = 0.0;
    multiaxis_feed.move_feed_values[1] = 10.0;
    fedrat_multiaxis();
    EXPECT_EQ(word_output_state.word_value[FEED_WORD], 9);
}

// An inverse-time feed is the reciprocal of the step's time: the per-minute
// limits (10 and 5000 here) do not bound it, and the feed word carries it
// with at least three decimal places and the decimal point.
TEST_F(Motion, InverseTimeFeed) {
    configuration_store.intsp[72] = 1;
    struct row {
        double minutes;
        int expected;  // thousandths
    } rows[] = {
        {0.02, 50000}, {3.0, 333}, {1.0 / 89580.0, 89580000}, {1.0 / 7.37, 7370},
        {10000.0, 1},  // a block of a week still has a feed
        {0.0, 5000000},  // no step time: the maximum feedrate
    };
    for (const row& r : rows) {
        multiaxis_feed.move_feed_values[2] = r.minutes;
        fedrat_multiaxis();
        EXPECT_EQ(word_output_state.word_value[FEED_WORD], r.expected) << r.minutes;
        EXPECT_EQ(word_format(FEED_WORD, WRDPRN), 3);
        EXPECT_EQ(word_format(FEED_WORD, IDEC_CURRENT), 1);
    }
    multiaxis_feed.move_feed_values[2] = 0.02;
    fedrat_multiaxis();
    EXPECT_DOUBLE_EQ(multiaxis_feed.move_feed_values[1], 50.0);

    // A feed per minute puts the word back into its own format, and the
    // value written last, kept in the other resolution, is forgotten.
    const int decimals = feed_state.per_minute_decimals, point = feed_state.per_minute_point;
    word_output_state.word_previous[FEED_WORD] = 2000;
    feed_state.feedrate = 200.0;
    fedrat();
    EXPECT_EQ(word_format(FEED_WORD, WRDPRN), decimals);
    EXPECT_EQ(word_format(FEED_WORD, IDEC_CURRENT), point);
    EXPECT_EQ(word_output_state.word_value[FEED_WORD], 2000);
    EXPECT_EQ(word_output_state.word_previous[FEED_WORD], NO_PREVIOUS_VALUE);

    // A feed word with more decimal places keeps them.
    word_format(FEED_WORD, WRDPRN) = 4;
    multiaxis_feed.move_feed_values[2] = 0.02;
    fedrat_multiaxis();
    EXPECT_EQ(word_output_state.word_value[FEED_WORD], 500000);
}

// --- positions ------------------------------------------------------------------

// Each coordinate is kept at its own word's resolution: Y and Z are not
// taken at the X word's and written at theirs (a tenfold coordinate).
TEST_F(Motion, PointsTakeTheirOwnWordResolutionAndTheUnitFactor) {
    configuration_store.word_formats[Y_WORD][WRDPRN] = 1;
    configuration_store.word_formats[Z_WORD][WRDPRN] = 4;
    pass1_results.unit_factor = 0.5;
    set_points({9.0, 9.0, 0.0, 1.0, 2.25, -3.0625});
    set_position_from_cutfile_point(point_column_values(POINT_COLUMN_RAW), 4);
    const motion_state_t& m = motion_state;
    EXPECT_DOUBLE_EQ(m.position[2], 1.125);
    EXPECT_EQ(m.position_units[1], 500);
    EXPECT_EQ(m.position_units[2], 11);
    EXPECT_EQ(m.position_units[3], -15313);
    // Taken as they are, without the unit factor; halves go away from zero.
    set_position_from_point(point_column_values(POINT_COLUMN_RAW), 4, 0);
    EXPECT_EQ(m.position_units[2], 23);
    EXPECT_EQ(m.position_units[3], -30625);
    // The move's length reads each increment at its axis's resolution.
    commit_current_position();
    set_position_from_point(point_column_values(POINT_COLUMN_RAW), 1, 0);
    compute_increments();
    EXPECT_NEAR(move_length(), std::sqrt(8.0 * 8.0 + 6.7 * 6.7 + 3.0625 * 3.0625), 1e-9);
}

TEST_F(Motion, AxisLimitWarnings) {
    real_option(116) = -1.0;   // x from -1 to 1
    real_option(117) = 1.0;
    real_option(120) = 5.0;    // z limits the wrong way round: both apply
    real_option(121) = -5.0;
    derived_settings.sequence_number = 40;
    set_points({1.0, 0.0, 0.0, 1.5, 0.0, 0.0});
    testing::internal::CaptureStderr();
    set_position_from_cutfile_point(point_column_values(POINT_COLUMN_RAW), 1);   // on the limit: x silent
    set_position_from_cutfile_point(point_column_values(POINT_COLUMN_RAW), 4);
    std::fflush(stderr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find(" x too small"), std::string::npos) << err;
    EXPECT_NE(err.find(" x too large in block         40"), std::string::npos) << err;
    // z = 0 lies below 5 and above -5: each point gets both z messages.
    std::size_t small = 0, large = 0;
    for (std::size_t at = 0; (at = err.find(" z too small", at)) != std::string::npos; ++at) ++small;
    for (std::size_t at = 0; (at = err.find(" z too large", at)) != std::string::npos; ++at) ++large;
    EXPECT_EQ(small, 2u) << err;
    EXPECT_EQ(large, 2u) << err;
}

TEST_F(Motion, IncompletePointReadsZeroNotTheLookAhead) {
    set_points({1.0, 2.0, 3.0, 4.0, 5.0});
    point_buffer.more_points_flag = 1;
    for (int i = 1; i <= 3; ++i) point_buffer.column[POINT_COLUMN_RAW][5 + i] = -7.0;  // look-ahead
    set_move_point(4);
    EXPECT_DOUBLE_EQ(motion_state.position[2], 5.0);
    EXPECT_DOUBLE_EQ(motion_state.position[3], 0.0);
}

TEST_F(Motion, CommitShiftsTheThreePositions) {
    start_at(1.0, 0.0, 0.0);
    start_at(2.0, 0.0, 0.0);
    set_points({3.0, 0.0, 0.0});
    set_move_point(1);
    compute_increments();
    const motion_state_t& m = motion_state;
    EXPECT_EQ(m.increments[1], 1000);
    EXPECT_DOUBLE_EQ(m.committed_position[1], 1.0);
    EXPECT_DOUBLE_EQ(start_turn_angle(), 0.0);
    commit_current_position();
    EXPECT_DOUBLE_EQ(m.committed_position[1], 2.0);
    EXPECT_DOUBLE_EQ(m.previous_position[1], 3.0);
    EXPECT_EQ(m.previous_position_units[1], 3000);
    EXPECT_EQ(m.position_known, 1);
}

TEST_F(Motion, TurningAngles) {
    const double pi = 4.0 * std::atan(1.0);
    struct row {
        array1<double, 3> a, b, c;
        double angle;
    };
    const row rows[] = {
        {{{0, 0, 0}}, {{1, 0, 0}}, {{2, 0, 0}}, 0.0},
        {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 0, 0}}, pi},
        {{{0, 0, 0}}, {{1, 0, 0}}, {{1, 1, 0}}, pi / 2},
        {{{0, 0, 0}}, {{0, 0, 0}}, {{1, 0, 0}}, pi},  // no previous move: a reversal
    };
    for (const row& r : rows) EXPECT_NEAR(turning_angle(r.a, r.b, r.c), r.angle, 1e-12);
}

TEST_F(Motion, EndTurnAngleLooksAtTheNextPoint) {
    start_at(0.0, 0.0, 0.0);
    set_points({1.0, 0.0, 0.0, 1.0, 1.0, 0.0});
    set_move_point(1);
    EXPECT_NEAR(end_turn_angle(), 90.0, 1e-9);
    commit_current_position();
    set_move_point(4);
    EXPECT_DOUBLE_EQ(end_turn_angle(), 180.0);  // the last point
    EXPECT_NEAR(start_turn_angle(), 90.0, 1e-9);
}

TEST_F(Motion, TangentialCAxisFollowsTheMoveDirection) {
    configuration_store.key[38] = C_WORD;
    configuration_store.word_formats[C_WORD][WRDPRN] = 3;
    real_option(9) = 0.0;
    struct row {
        double x, y;
        int c;
    };
    // From (10, 10): along +X, +Y, -Y, -X.
    for (const row& r : {row{20, 10, 90000}, row{10, 20, 180000}, row{10, 0, 0}, row{0, 10, 270000}}) {
        motion_state = motion_state_t{};
        start_at(10.0, 10.0, 0.0);
        set_points({r.x, r.y, 0.0});
        set_move_point(1);
        EXPECT_EQ(motion_state.position_units[7], r.c) << r.x << " " << r.y;
        EXPECT_EQ(word_output_state.word_value[C_WORD], r.c);
    }
    // The initial angle is added; a rapid leaves C alone.
    real_option(9) = 10.0;
    motion_state = motion_state_t{};
    start_at(10.0, 10.0, 0.0);
    set_points({20.0, 10.0, 0.0});
    set_move_point(1);
    EXPECT_EQ(motion_state.position_units[7], 100000);
    pending_move_flags.rapid_pending = 1;
    init_word_state();
    set_points({20.0, 20.0, 0.0});
    set_move_point(1);
    EXPECT_EQ(word_output_state.word_request[C_WORD], 0);
}

TEST_F(Motion, MoveLengthCountsFeedMovesOnly) {
    start_at(0.0, 0.0, 0.0);
    set_points({3.0, 4.0, 0.0});
    set_move_point(1);
    compute_increments();
    EXPECT_DOUBLE_EQ(move_length(), 5.0);
    EXPECT_DOUBLE_EQ(motion_state.cut_length, 5.0);
    pending_move_flags.rapid_pending = 1;
    EXPECT_DOUBLE_EQ(move_length(), 5.0);
    EXPECT_DOUBLE_EQ(motion_state.cut_length, 5.0);
}

// --- moves on the tape -------------------------------------------------------------

TEST_F(Motion, SplitMoveSettingSplitsRapidsFirstThenLinearMoves) {
    configuration_store.intsp[24] = 1;
    start_at(0.0, 0.0, 10.0);
    set_points({5.0, 0.0, 2.0});
    auto linear = tape_lines([] { output_linear_move(); });
    EXPECT_EQ(linear.size(), 1u);

    start_at(0.0, 0.0, 10.0);
    set_points({5.0, 0.0, 2.0});
    pending_move_flags.rapid_pending = 1;
    auto rapid = tape_lines([] { output_rapid_move(); });
    ASSERT_EQ(rapid.size(), 2u) << (rapid.empty() ? "" : rapid[0]);
    // Z falls: XY first, then Z.
    EXPECT_NE(rapid[0].find("X5."), std::string::npos) << rapid[0];
    EXPECT_EQ(rapid[0].find("Z"), std::string::npos) << rapid[0];
    EXPECT_NE(rapid[1].find("Z2."), std::string::npos) << rapid[1];
    EXPECT_EQ(rapid[1].find("X"), std::string::npos) << rapid[1];

    // Any non-zero "split move" splits a rapid move, a negative one too.
    configuration_store.intsp[24] = -1;
    start_at(0.0, 0.0, 10.0);
    set_points({5.0, 0.0, 2.0});
    EXPECT_EQ(tape_lines([] { output_rapid_move(); }).size(), 2u);
    start_at(0.0, 0.0, 10.0);
    set_points({5.0, 0.0, 2.0});
    pending_move_flags.rapid_pending = 0;
    EXPECT_EQ(tape_lines([] { output_linear_move(); }).size(), 1u);

    // "split move" 2 splits the linear move too; rising Z goes first.
    configuration_store.intsp[24] = 2;
    pending_move_flags.rapid_pending = 0;
    start_at(0.0, 0.0, 0.0);
    set_points({5.0, 0.0, 2.0});
    auto rising = tape_lines([] { output_linear_move(); });
    ASSERT_EQ(rising.size(), 2u);
    EXPECT_NE(rising[0].find("Z2."), std::string::npos) << rising[0];
    EXPECT_NE(rising[1].find("X5."), std::string::npos) << rising[1];
}

TEST_F(Motion, ToolResetCoordinatesFourWritesZFirst) {
    configuration_store.intsp[16] = 4;
    start_at(0.0, 0.0, 10.0);
    move_output_state.first_move_after_tool_change = 1;
    set_points({5.0, 5.0, 2.0});
    auto lines = tape_lines([] { output_linear_move(); });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("Z2."), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("X"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("X5."), std::string::npos) << lines[1];
    EXPECT_EQ(move_output_state.first_move_after_tool_change, 0);
}

TEST_F(Motion, RepeatedPointWritesNoLineButIsCommitted) {
    start_at(1.0, 2.0, 3.0);
    set_points({1.0, 2.0, 3.0, 4.0, 2.0, 3.0});
    auto lines = tape_lines([] { output_linear_move(); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("X4."), std::string::npos) << lines[0];
    EXPECT_DOUBLE_EQ(motion_state.committed_position[1], 1.0);
    EXPECT_DOUBLE_EQ(motion_state.previous_position[1], 4.0);
}

TEST_F(Motion, CuttingTimeOncePerMoveRapidsAtTheRapidFeedrate) {
    configuration_store.intsp[24] = 2;
    toolpath_tables.tool_index = 1;
    feed_state.feedrate = 100.0;
    const double rapid = real_option(3);
    ASSERT_GT(rapid, 100.0);
    const double length = std::sqrt(2600.0);
    start_at(0.0, 0.0, 0.0);
    pending_move_flags.rapid_pending = 1;
    set_points({30.0, 40.0, 10.0});  // two lines, one move of length sqrt(2600)
    tape_lines([] { output_rapid_move(); });
    EXPECT_NEAR(move_output_state.tool_cutting_times[1], length / rapid, 1e-12);
    EXPECT_DOUBLE_EQ(motion_state.cut_length, 0.0);  // a rapid is no cut

    // The way back at the programmed feed; then a feed below 0.001 adds none.
    pending_move_flags.rapid_pending = 0;
    set_points({0.0, 0.0, 0.0});
    tape_lines([] { output_linear_move(); });
    EXPECT_NEAR(move_output_state.tool_cutting_times[1], length / rapid + length / 100.0, 1e-12);
    feed_state.feedrate = 0.0005;
    set_points({30.0, 40.0, 10.0});
    tape_lines([] { output_linear_move(); });
    EXPECT_NEAR(move_output_state.tool_cutting_times[1], length / rapid + length / 100.0, 1e-12);
}

TEST_F(Motion, ToolIndexGrowsOnlyWhenTheToolChanges) {
    toolpath_tables_t& t = toolpath_tables;
    t.toolpath_tool_number[1] = 5;
    t.toolpath_tool_number[2] = 5;
    t.toolpath_tool_number[3] = 7;
    t.toolpath_tool_length[3] = 42.0;
    for (int expected : {1, 1, 2}) {
        start_next_toolpath();
        EXPECT_EQ(t.tool_index, expected);
    }
    EXPECT_EQ(t.toolpath_index, 3);
    EXPECT_DOUBLE_EQ(machine_model.tool_length, 42.0);
    EXPECT_EQ(pending_move_flags.datum_shift_pending, 1);
}

TEST_F(Motion, GoHome) {
    configuration_store.intsp[30] = 1;
    start_at(5.0, 5.0, 2.0);
    set_points({5.0, 5.0, 50.0});
    pending_move_flags.go_home_pending = 1;
    pending_move_flags.rapid_pending = 1;
    auto above = tape_lines([] { output_go_home(); });
    ASSERT_EQ(above.size(), 1u);
    EXPECT_NE(above[0].find("Z50."), std::string::npos) << above[0];

    // Without go-home output the point is only taken over.
    configuration_store.intsp[30] = 0;
    set_points({0.0, 0.0, 100.0});
    auto silent = tape_lines([] { output_go_home(); });
    EXPECT_TRUE(silent.empty());
    EXPECT_DOUBLE_EQ(motion_state.previous_position[3], 100.0);
    // The base of the increments stays where the tape left the machine; the
    // axes the go home changed are written by the next move.
    EXPECT_EQ(motion_state.previous_position_units[3], 50000);
    EXPECT_EQ(motion_state.unwritten_axes[1], 1);
    EXPECT_EQ(motion_state.unwritten_axes[3], 1);
}

TEST_F(Motion, WireCompensationCancelGoesOnAMoveNeverARepeatedOne) {
    configuration_store.intsp[79] = 1;
    // G0, G1, G40, G41 and M30 in words of two digits.
    for (auto [slot, code] : {std::pair{1, 0}, {2, 1}, {9, 40}, {10, 41}, {57, 30}}) {
        configuration_store.icodes[2][slot] = code;
        configuration_store.word_formats[fcode_word(slot)][WRDLEN] = 2;
        configuration_store.word_formats[fcode_word(slot)][IZSUP_CURRENT] = 2;   // trailing zeros kept
    }
    ppword_state.compensation_state = COMPENSATION_OFF;
    start_at(10.0, 0.0, 0.0);
    set_points({10.0, 5.0, 0.0});
    auto off = tape_lines([] { output_wire_move(); });
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off[0], "G1G40Y5.");
    EXPECT_EQ(ppword_state.compensation_state, COMPENSATION_NONE);

    // A go home where the wire already stands: the cancel and the end code
    // on a line of their own.
    pending_move_flags.go_home_pending = 1;
    pending_move_flags.rapid_pending = 1;
    set_points({10.0, 5.0, 0.0});
    auto home = tape_lines([] { output_wire_rapid(output_rapid_move); });
    ASSERT_EQ(home.size(), 1u);
    EXPECT_EQ(home[0], "G0G40M30");

    // The first move after a tool change leaves compensation off, the next
    // turns it on; a rapid cancels it on its own line.
    pending_move_flags = pending_move_flags_t{};
    start_at(10.0, 5.0, 0.0);
    move_output_state.first_move_after_tool_change = 1;
    set_points({10.0, 0.0, 0.0, 20.0, 0.0, 0.0});
    auto contour = tape_lines([] { output_wire_move(); });
    ASSERT_EQ(contour.size(), 2u);
    EXPECT_EQ(contour[0], "G1G40Y0");
    EXPECT_EQ(contour[1], "G41X20.");
    pending_move_flags.rapid_pending = 1;
    set_points({30.0, 0.0, 0.0});
    auto rapid = tape_lines([] { output_wire_rapid(output_rapid_move); });
    ASSERT_EQ(rapid.size(), 1u);
    EXPECT_EQ(rapid[0], "G0G40X30.");
    // A rapid of no length with compensation already off writes nothing.
    EXPECT_TRUE(tape_lines([] { output_wire_rapid(output_rapid_move); }).empty());
}

}  // namespace
