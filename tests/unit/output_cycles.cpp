// Drilling cycles: the cycle table, truncated cycle words, the single-use
// cycle values, pecks that name more depths than the record gave, and the
// cutting time of the holes.
#include "output/output.h"
#include "output_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int DWELL_WORD = 32;   // "P"
constexpr int PECK_WORD = 18;    // "Q", key 26 of the default words
constexpr int DEPTH_WORD = 31;   // "L"

class Cycles : public DefaultWords {
protected:
    void SetUp() override {
        DefaultWords::SetUp();
        configuration_store_t& cs = configuration_store;
        for (int w : {10, 11, 12, DWELL_WORD, PECK_WORD, DEPTH_WORD}) cs.word_formats[w][WRDPRN] = 3;
        cs.key[21] = DWELL_WORD;
        cs.key[27] = DEPTH_WORD;
        cs.intsp[19] = 1;
        // "move cycle" names X and the depth word.
        cs.blklen[13] = 2;
        cs.block_items[13][1].code = 14000 + cs.key[8];
        cs.block_items[13][1].string_ref = 1;
        cs.block_items[13][2].code = 13000 + DEPTH_WORD;
        set_status_flag(21, 1);
        cycle_state = cycle_state_t{};
        cycle_parameters = cycle_parameters_t{};
        cycle_values = cycle_values_t{};
        job_files.file_units[unit_slot(FILE_TAPE)] = null_unit();
    }

    static void holes(std::initializer_list<double> values) {
        set_points(values);
        cycmov(point_column_values(POINT_COLUMN_RAW), point_buffer.point_count);
    }
};

}  // namespace

TEST(CycleTable, RowsAndFunctions) {
    EXPECT_EQ(cycle_table[1].minor_word, 163);
    EXPECT_EQ(cycle_table[1].function, 21);
    EXPECT_EQ(cycle_table[4].minor_word, 168);
    EXPECT_EQ(cycle_table[10].function, 74);
    EXPECT_EQ(cycle_table[13].minor_word, 154);
    EXPECT_EQ(cycle_table[13].function, 77);
}

TEST_F(Cycles, DwellIsTruncatedAndCycleValuesAreSingleUse) {
    cycle_state.cycle_type = 1;
    cycle_state.depth_count = 1;
    cycle_state.number_of_pecks = 1;
    cycle_parameters.depths[1] = -5.0;
    cycle_parameters.clearance = 2.0;
    cycle_values.dwell_time = 1.2345;
    cycle_values.holetop_given = 1;
    cycle_values.peckdepth_given = 1;
    holes({0, 0, 10});
    EXPECT_EQ(word_output_state.word_value[DWELL_WORD], 1234);
    // Depth distance h - d(n): 10 - (-5) in absolute mode.
    EXPECT_EQ(word_output_state.word_value[DEPTH_WORD], 15000);
    EXPECT_EQ(cycle_values.dwell_time, 0.0);
    EXPECT_EQ(cycle_values.holetop_given, 0);
    EXPECT_EQ(cycle_values.peckdepth_given, 0);
}

TEST_F(Cycles, PecksBeyondTheGivenDepthsUseTheLastDepth) {
    cycle_state.cycle_type = 3;
    cycle_state.depth_count = 1;
    cycle_state.number_of_pecks = 3;   // special record 11 asked for three
    cycle_parameters.depths[1] = -4.0;
    cycle_parameters.depths[2] = 99.0; // left from an earlier cycle
    holes({0, 0, 10});
    // d(2) - d(1) with d(2) taken as the last given depth: no peck of 103.
    EXPECT_EQ(word_output_state.word_value[PECK_WORD], 0);
}

TEST_F(Cycles, EachHoleAddsItsCuttingTime) {
    // Two holes with their bottom 12 and their R plane 2 below the point, at
    // 100 a minute with rapids at 1000: the moves to the holes (10 and 30)
    // at rapid, then for each hole 2 down and 2 up at rapid, 10 down at the
    // feed and 10 out at rapid (a drill) or at the feed (a tap); the same in
    // the variable-peck form.
    const double moves = 40.0 / 1000.0;
    const double hole = 4.0 / 1000.0 + 10.0 / 100.0;
    for (int output : {1, 4}) {
        for (int type : {1, 4}) {
            SetUp();
            real_option(3) = 1000.0;  // "rapid feedrate"
            configuration_store.intsp[19] = output;
            move_output_state.tool_cutting_times[1] = 0.0;
            cycle_state.cycle_type = type;
            cycle_state.depth_count = 1;
            cycle_state.number_of_pecks = 1;
            cycle_parameters.depths[1] = 12.0;
            cycle_parameters.clearance = 2.0;
            cycle_parameters.feed = 100.0;
            pending_move_flags.rapid_pending = 1;
            holes({0, 0, 10, 30, 0, 10});
            const double out = type == 4 ? 10.0 / 100.0 : 10.0 / 1000.0;
            EXPECT_NEAR(move_output_state.tool_cutting_times[1], moves + 2 * (hole + out), 1e-9)
                << "cycle output " << output << ", type " << type;
        }
    }
}
