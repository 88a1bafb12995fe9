// Function codes into their words, the input/output value tables, the dwell,
// cutter radius compensation before a move and the coded feed.
#include "record_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

using FunctionCodes = RecordJob;

TEST_F(FunctionCodes, InvalidAndUnsetFunctionsChangeNothing) {
    const word_output_state_t before = word_output_state;
    ::testing::internal::CaptureStderr();
    gset(96, SETWRD_SET_REQUEST);
    gset(0, SETWRD_SET_REQUEST);
    mset(56, SETWRD_SET_REQUEST);
    gset(60, SETWRD_SET_REQUEST);  // unset code
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Invalid preparatory function code 96"), std::string::npos) << err;
    EXPECT_NE(err.find("Invalid preparatory function code 0"), std::string::npos) << err;
    EXPECT_NE(err.find("Invalid auxillary function code 56"), std::string::npos) << err;
    for (int w = 1; w <= MAXWORDS; ++w) {
        EXPECT_EQ(word_output_state.word_request[w], before.word_request[w]) << w;
        EXPECT_EQ(word_output_state.word_value[w], before.word_value[w]) << w;
    }
}

TEST_F(FunctionCodes, NumericAndTextCodes) {
    gset(10, SETWRD_SET_REQUEST);  // compensation left: G41 on word 4
    EXPECT_EQ(value_of(4), 41);
    EXPECT_EQ(requested(4), 1);
    mset(3, SETWRD_SET);           // spindle on: M3 on word 29, not requested
    EXPECT_EQ(value_of(29), 3);
    EXPECT_EQ(requested(29), 0);
    EXPECT_EQ(get_mcode_value(3), 3);
    EXPECT_EQ(get_gcode_value(14), 90);
    EXPECT_EQ(fcode_word(14), 7);

    // A text code: the word carries the first 16 characters of its text with
    // mode 2, the number itself with any other mode.
    configuration_store.icodes[1][60] = 9;
    configuration_store.icodes[2][60] = TEXT_CODE_BASE + 60;
    configuration_store.scodes[60].set("CYCLE800(1,2,3,4,5,6)");
    gset(60, SETWRD_SET_REQUEST);
    EXPECT_EQ(word_output_state.word_value_type[9], WORD_CARRIES_TEXT);
    EXPECT_EQ(requested(9), 1);
    EXPECT_EQ(word_output_state.word_text[9].str(), "CYCLE800(1,2,3,4");
    gset(60, SETWRD_REQUEST);
    EXPECT_EQ(word_output_state.word_value_type[9], WORD_CARRIES_NUMBER);
    gset(60, SETWRD_SET);
    EXPECT_EQ(value_of(9), TEXT_CODE_BASE + 60);
}

TEST_F(FunctionCodes, OutputValueTable) {
    avals(1, 13) = 100;
    avals(2, 13) = 200;
    avals(3, 13) = 300;
    avals(1, 14) = 1;
    avals(2, 14) = 2;
    avals(3, 14) = 3;
    EXPECT_EQ(output_value_table(150, 1), 1);  // on the midpoint: the lower entry
    EXPECT_EQ(output_value_table(151, 1), 2);
    EXPECT_EQ(output_value_table(-5, 1), 1);

    // The spindle word starts at the pair of its gear range; range 0 is range 1.
    const int s = key_word(19);
    avals(1, 15) = 1000;
    avals(2, 15) = 2000;
    avals(1, 16) = 7;
    avals(2, 16) = 8;
    tool_state.gear_range = 0;
    EXPECT_EQ(output_value_table(1400, s), 7);
    EXPECT_EQ(tool_state.gear_range, 1);
    tool_state.gear_range = 9;  // above 3: pair 1
    EXPECT_EQ(output_value_table(151, s), 2);
    // Above every midpoint of every pair: the last output of pair 4.
    avals(15, 20) = 42;
    tool_state.gear_range = 3;
    EXPECT_EQ(output_value_table(1e9, s), 42);
}

TEST_F(FunctionCodes, DwellSetsItsWordAndWritesTheLine) {
    configuration_store.key[21] = 32;              // cycle dwell on P
    configuration_store.word_formats[32][WRDPRN] = 1;
    open_records({make_record(1, 2000, 1010, {rw(2.5)})});
    dwellp(2.5);
    EXPECT_EQ(value_of(32), 25);
    EXPECT_NE(tape_text().find("G4"), std::string::npos);

    // A dwell code of 0 is reported and nothing is set.
    init_word_state();
    configuration_store.icodes[2][5] = 0;
    ::testing::internal::CaptureStderr();
    dwellp(1.0);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("dwell function code not set"), std::string::npos);
    EXPECT_EQ(value_of(32), 0);
}

TEST_F(FunctionCodes, CompensationBeforeAMove) {
    ppword_state.compensation_state = COMPENSATION_RIGHT;
    tool_state.offset_number = 7;
    configuration_store.intsp[35] = 1;
    set_status_flag(22, 1);

    // A rapid move leaves left and right pending; the offset register is
    // still set, since the compensation word will be written (nothing of it
    // was written yet).
    pending_move_flags.rapid_pending = 1;
    crc();
    EXPECT_EQ(requested(4), 0);
    EXPECT_EQ(get_state_flag(22), 1);
    EXPECT_EQ(value_of(key_word(25)), 7);
    setwrd(key_word(25), 0, SETWRD_SET);

    // A cutting move outputs G42 with the offset register.
    pending_move_flags.rapid_pending = 0;
    crc();
    EXPECT_EQ(value_of(4), 42);
    EXPECT_EQ(requested(4), 1);
    EXPECT_EQ(value_of(key_word(25)), 7);
    EXPECT_EQ(get_state_flag(22), 0);
    EXPECT_EQ(get_state_flag(23), 1);

    // With "compensation output" value 4 at 3, a rapid that does not go down
    // turns the active compensation off.
    configuration_store.intsp[37] = 3;
    pending_move_flags.rapid_pending = 1;
    motion_state.increments[3] = 0;
    crc();
    EXPECT_EQ(value_of(4), 40);
    EXPECT_EQ(ppword_state.compensation_state, COMPENSATION_OFF);
    EXPECT_EQ(get_state_flag(23), 0);
}

TEST_F(FunctionCodes, CodedFeed) {
    const int f = key_word(16);
    real_option(2) = 1.0;
    real_option(13) = real_option(14) = real_option(15) = 99999.0;
    struct {
        double feed;
        int code;
    } cases[] = {{5.55, 455}, {55.5, 555}, {555, 655}, {5550, 755}, {0.5, 410}};
    for (const auto& c : cases) {
        coded_feed(c.feed);
        EXPECT_EQ(value_of(f), c.code) << c.feed;
    }
    // The limit follows the count of moving axes.
    real_option(14) = 50.0;
    motion_state.position[1] = 1.0;
    motion_state.position[3] = -1.0;
    ppword_state.compensation_state = COMPENSATION_RIGHT;
    tool_state.offset_number = 3;
    coded_feed(555);
    EXPECT_EQ(value_of(f), 550);
    EXPECT_EQ(value_of(key_word(25)), 503);  // X and Z move
    configuration_store.intsp[78] = 1;
    ppword_state.compensation_state = COMPENSATION_LEFT;
    coded_feed(555);
    EXPECT_EQ(value_of(key_word(25)), 803);
}

}  // namespace
