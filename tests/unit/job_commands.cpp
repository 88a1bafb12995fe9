// Post-processor command handlers, special records and record values, and
// the tool change, spindle and coolant commands, each on a small cutfile.
#include <algorithm>

#include "kinematics/kinematics.h"
#include "record_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

using Commands = RecordJob;

std::vector<word> text_words(const std::string& s) {
    std::vector<word> w;
    for (char ch : s) w.push_back(cw(ch));
    return w;
}

// A text command: the first data word is a placeholder, the text follows.
std::vector<word> text_command(const std::string& s) {
    std::vector<word> w{iw(0)};
    for (char ch : s) w.push_back(cw(ch));
    return w;
}

TEST(NumericField, Values) {
    struct {
        const char* text;
        int i;
        double r;
    } cases[] = {
        {"12.5", 125, 12.5},      {"-2.5", -25, -2.5},       {"abc", 0, 0.0},          {"X12Y3", 12, 12.0},
        {"  .5", 5, 0.5},         {"7-", -7, -7.0},          {"", 0, 0.0},             {"1234567890123456789", 2147483647, 123456789012345.0},
        {"0.001", 1, 0.001},
    };
    for (const auto& c : cases) {
        int i = -1;
        double r = -1.0;
        parse_numeric_field(c.text, i, r);
        EXPECT_EQ(i, c.i) << c.text;
        EXPECT_DOUBLE_EQ(r, c.r) << c.text;
    }
}

TEST_F(Commands, SpecialRecordsKeepOneSlotPerCode) {
    open_records({make_record(1, 29000, 0, {iw(5), rw(1.0)}), make_record(2, 29000, 0, {iw(5), cw('A'), cw('B'), rw(2.5)}),
                  make_record(3, 29000, 0, {iw(9), rw(7.0)}), make_record(4, 29000, 1, {iw(9), rw(8.0)})});
    for (int i = 0; i < 4; ++i) {
        handle_special_record();
        if (i < 3) {
            ASSERT_FALSE(next_cldata_record());
        }
    }
    const special_record_store_t& s = special_record_store;
    EXPECT_EQ(s.slots_used, 2);
    EXPECT_EQ(special_record_slot(5), 1);
    EXPECT_EQ(special_record_slot(9), 2);
    EXPECT_DOUBLE_EQ(s.values[1], 2.5);
    EXPECT_EQ(s.special_record_texts[1].str(), "AB");
    EXPECT_DOUBLE_EQ(s.values[2], 7.0);  // subclass 1 changes nothing
    EXPECT_EQ(s.current_code, 9);
}

TEST_F(Commands, SpecialRecordStoreStaysInItsTables) {
    store_special_record(0, 1.0, "x");
    store_special_record(MAX_SPECIAL_CODE + 1, 1.0, "x");
    EXPECT_EQ(special_record_store.slots_used, 0);
    EXPECT_EQ(special_record_slot(MAX_SPECIAL_CODE + 1), 0);
    for (int code = 1; code <= MAX_SPECIAL_SLOTS + 1; ++code) store_special_record(code, code, "");
    EXPECT_EQ(special_record_store.slots_used, MAX_SPECIAL_SLOTS);
    EXPECT_EQ(special_record_slot(MAX_SPECIAL_SLOTS + 1), 0);
    EXPECT_EQ(special_record_store.current_code, MAX_SPECIAL_SLOTS + 1);
    store_special_record(1, -3.0, "again");
    EXPECT_DOUBLE_EQ(special_record_store.values[1], -3.0);
}

TEST_F(Commands, SpecialRecordsSetCycleValuesAfterTheirBlock) {
    pass1_results.unit_factor = 2.0;
    // Block 24 sets X from the hole top as it stands before the record.
    configuration_store.blklen[24] = 1;
    configuration_store.block_items[24][1] = {KEY_EXPR_ITEM + 8, 0, 10};
    configuration_store.block_texts[24][1].set("holetop");
    cycle_values.hole_top = 1.5;
    open_records({make_record(1, 29000, 0, {iw(6), rw(3.0)}), make_record(2, 29000, 0, {iw(11), rw(3.5)}),
                  make_record(3, 29000, 0, {iw(22), rw(0.25)}), make_record(4, 29000, 0, {iw(12), rw(1.25)})});
    handle_special_record();
    EXPECT_EQ(value_of(key_word(8)), nearest_int(1.5 * MULT(key_word(8))));  // the previous hole top
    EXPECT_DOUBLE_EQ(cycle_values.hole_top, 6.0);
    EXPECT_EQ(cycle_values.holetop_given, 1);
    configuration_store.blklen[24] = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(next_cldata_record());
        handle_special_record();
    }
    EXPECT_EQ(cycle_state.number_of_pecks, 4);
    EXPECT_EQ(cycle_values.numberpecks_given, 1);
    EXPECT_DOUBLE_EQ(cycle_values.peck_depth, 0.5);
    EXPECT_EQ(cycle_values.peckdepth_given, 1);
    EXPECT_DOUBLE_EQ(cycle_values.pitch, 1.25);  // not scaled
}

TEST_F(Commands, TranslatedCommentGoesToSetupAndPrint) {
    configuration_store.spchar[5].set("{");
    configuration_store.spchar[6].set("(");
    configuration_store.intsp[2] = 0;  // comments to the setup and print files only
    derive_settings();
    EXPECT_EQ(translate_char('{'), '(');
    EXPECT_EQ(translate_char('x'), 'x');
    command(1044, text_words("{HELLO}"));
    handle_comment();
    EXPECT_NE(setup_text().find("(HELLO}"), std::string::npos);
    EXPECT_EQ(tape_text(), "");
}

TEST_F(Commands, ControlCharactersOfRecordTextsBecomeBlanks) {
    configuration_store.spchar[5].set("~");
    configuration_store.spchar[6].set("\x1b");  // a translation into a control character
    derive_settings();
    for (char c : {'\n', '\r', '\0', '\x1b', '\t', '\x7f', '~'}) EXPECT_EQ(translate_char(c), ' ') << int(c);
    for (char c : {'A', '(', ')', ' ', '\xe9'}) EXPECT_EQ(translate_char(c), c) << int(c);
}

// A comment on the tape between "(" and ")": neither delimiter, nor a line
// end, may come from its text.
TEST_F(Commands, CommentTextCannotCloseItsCommentOrEndTheLine) {
    configuration_store_t& cs = configuration_store;
    cs.intsp[2] = 1;
    cs.key[29] = 37;  // message start "("
    cs.key[30] = 38;  // message end ")", linked to it
    cs.wrdrut[38] = LITERAL_ORDER_BASE + 1;
    cs.wrdrut[39] = 38;
    cs.word_formats[37][WRDLEN] = 0;  // the delimiters carry no value
    cs.word_formats[38][WRDLEN] = 0;
    command(1044, text_words("HELLO) G0 Z-99 (\nM30"));
    handle_comment();
    const std::string tape = tape_text();
    EXPECT_NE(tape.find("(HELLO  G0 Z-99   M30)"), std::string::npos) << tape;
    EXPECT_EQ(std::count(tape.begin(), tape.end(), '\n'), 1) << tape;
    EXPECT_NE(setup_text().find("HELLO  G0 Z-99   M30"), std::string::npos);
}

TEST_F(Commands, InsertWithAmpersandWaitsForTheNextLine) {
    command(1046, text_words("&G5"));
    handle_insert();
    const block_interpreter_t& b = block_interpreter;
    EXPECT_EQ(b.literals_pending, 1);
    EXPECT_EQ(b.literal_length[1], 2);
    EXPECT_EQ(b.literal_text[1].str(), "G5");
    EXPECT_EQ(tape_text(), "");
}

TEST_F(Commands, InsertWritesAtOnce) {
    enable_literals();
    command(1046, text_words("M99"));
    handle_insert();
    EXPECT_EQ(block_interpreter.literals_pending, 0);
    EXPECT_NE(tape_text().find("M99"), std::string::npos);
}

TEST_F(Commands, CycleRecordKeepsAtMost200Pecks) {
    pass1_results.unit_factor = 10.0;
    std::vector<word> data{iw(153)};
    for (int j = 1; j <= 205; ++j) data.push_back(rw(-0.1 * j));
    data.push_back(rw(0.0));
    data.push_back(rw(250.0));  // feed, data word n - 2
    data.push_back(rw(0.0));
    data.push_back(rw(0.5));    // clearance, the last word
    ASSERT_EQ(data.size(), 210u);
    command(1054, data);
    ::testing::internal::CaptureStderr();
    handle_cycle();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Too many pecks"), std::string::npos);
    EXPECT_EQ(cycle_state.depth_count, 200);
    EXPECT_EQ(cycle_state.number_of_pecks, 205);
    EXPECT_EQ(cycle_state.cycle_type, 3);
    EXPECT_DOUBLE_EQ(cycle_parameters.depths[200], -200.0);
    EXPECT_DOUBLE_EQ(cycle_parameters.feed, 2500.0);
    EXPECT_DOUBLE_EQ(cycle_parameters.clearance, 5.0);
    EXPECT_EQ(pending_move_flags.cycle_pending, 1);
    EXPECT_EQ(pending_move_flags.rapid_pending, 1);
}

TEST_F(Commands, CycleRecordTypes) {
    cycle_values.numberpecks_given = 1;
    cycle_state.number_of_pecks = 9;
    command(1054, {iw(168), rw(-1.0), rw(-2.0), rw(0.0), rw(100.0), rw(0.0), rw(2.0)});
    handle_cycle();
    EXPECT_EQ(cycle_state.cycle_type, 4);
    EXPECT_EQ(cycle_state.depth_count, 2);
    EXPECT_EQ(cycle_state.number_of_pecks, 9);  // given by a special record
    EXPECT_DOUBLE_EQ(cycle_parameters.feed, 95.0);  // tapping feed

    command(1054, {iw(999), rw(-1.0), rw(100.0), rw(0.0), rw(0.0), rw(0.0), rw(2.0)});
    ::testing::internal::CaptureStderr();
    handle_cycle();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Unrecognised cycle"), std::string::npos);
    EXPECT_EQ(cycle_state.cycle_type, 0);
    EXPECT_EQ(pending_move_flags.cycle_pending, 0);  // its points are ordinary moves

    // CYCLE/OFF cancels a pending cycle without a message.
    command(1054, {iw(163), rw(5.0), rw(100.0), rw(0.0), rw(0.0), rw(2.0)});
    handle_cycle();
    EXPECT_EQ(pending_move_flags.cycle_pending, 1);
    command(1054, {iw(72)});
    ::testing::internal::CaptureStderr();
    handle_cycle();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(cycle_state.cycle_type, 0);
    EXPECT_EQ(pending_move_flags.cycle_pending, 0);

    // A record too short for its feed and clearance reads them as 0, not
    // from the record's header.
    command(1054, {iw(163), rw(5.0)});
    handle_cycle();
    EXPECT_EQ(cycle_state.depth_count, 0);
    EXPECT_DOUBLE_EQ(cycle_parameters.feed, 0.0);
    EXPECT_DOUBLE_EQ(cycle_parameters.clearance, 5.0);
}

TEST_F(Commands, TextCommands) {
    pass1_results.unit_factor = 2.0;
    command(1079, text_command("HOLETOP -2.5"));
    handle_text_command();
    EXPECT_DOUBLE_EQ(cycle_values.hole_top, -5.0);
    EXPECT_EQ(cycle_values.holetop_given, 1);

    command(1079, text_command("DRILLDWELL 1.5"));
    handle_text_command();
    EXPECT_DOUBLE_EQ(cycle_values.dwell_time, 1.5);

    command(1079, text_command("IGNORE 9999 3"));
    handle_text_command();
    EXPECT_EQ(record_loop_state.skip_records, 0);
    command(1079, text_command("IGNORE 1 3"));
    handle_text_command();
    EXPECT_EQ(record_loop_state.skip_records, 1);
    EXPECT_EQ(record_loop_state.skip_count, 3);

    set_status_flag(21, 1);
    command(1079, text_command("Inc"));
    handle_text_command();
    EXPECT_EQ(get_state_flag(21), 1);
    command(1079, text_command("INC"));
    handle_text_command();
    EXPECT_EQ(get_state_flag(21), 0);
    EXPECT_EQ(value_of(7), 91);
    command(1079, text_command("ABS"));
    handle_text_command();
    EXPECT_EQ(get_state_flag(21), 1);
    EXPECT_EQ(value_of(7), 90);
}

TEST_F(Commands, TextCommandRunsTheFirstPpfunBlockWithItems) {
    // "Myfun" is looked up in lower case; the first entry of that name is
    // empty and passed over.
    enable_literals();
    configuration_store.ppfstr[1].set("myfun");
    configuration_store.ppfstr[2].set("myfun");
    configuration_store.blklen[PPFUN_BASE + 2] = 1;
    configuration_store.block_items[PPFUN_BASE + 2][1] = {LITERAL_ITEM, 0, 10};
    configuration_store.block_texts[PPFUN_BASE + 2][1].set("CALLED");
    command(1079, text_command("Myfun 12.5"));
    handle_text_command();
    EXPECT_DOUBLE_EQ(ppword_state.text_command_argument, 12.5);
    EXPECT_NE(tape_text().find("CALLED"), std::string::npos);
}

TEST_F(Commands, CompensationRecords) {
    struct {
        int minor;
        int state;
    } steps[] = {{24, COMPENSATION_RIGHT}, {72, COMPENSATION_OFF}, {71, COMPENSATION_RIGHT}, {8, COMPENSATION_LEFT},
                 {72, COMPENSATION_OFF}, {71, COMPENSATION_LEFT}, {5, COMPENSATION_LEFT}};
    for (const auto& s : steps) {
        command(1007, {iw(s.minor)});
        handle_cutcom();
        EXPECT_EQ(ppword_state.compensation_state, s.state) << s.minor;
        EXPECT_EQ(get_state_flag(22), 1);
    }
}

TEST_F(Commands, FeedAndOpskip) {
    pass1_results.unit_factor = 25.4;
    command(1009, {rw(10.0), iw(315)});
    handle_feedrate();
    EXPECT_DOUBLE_EQ(feed_state.feedrate, 254.0);
    EXPECT_EQ(motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG], 1);
    command(1009, {rw(0.1), iw(74)});
    handle_feedrate();
    EXPECT_EQ(motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG], 0);

    configuration_store.key[31] = 1;  // opskip on word "/"
    command(1012, {iw(71)});
    handle_opskip();
    EXPECT_EQ(motion_state.output_mode_flags[OPTIONAL_SKIP_FLAG], 1);
    EXPECT_EQ(motion_state.output_mode_flags[FORCE_XYZ_FLAG], 0);
    EXPECT_EQ(configuration_store.wperm[1], 1);
    command(1012, {iw(72)});
    handle_opskip();
    EXPECT_EQ(motion_state.output_mode_flags[OPTIONAL_SKIP_FLAG], 0);
    EXPECT_EQ(motion_state.output_mode_flags[FORCE_XYZ_FLAG], 1);
    EXPECT_EQ(configuration_store.wperm[1], 0);
}

// The tool length record reaches the kinematics' tool length, unscaled.
TEST_F(Commands, ToolLengthRecordSetsTheMachineToolLength) {
    pass1_results.unit_factor = 25.4;
    command(1025, {rw(0), rw(0), rw(0), rw(0), rw(0), rw(0), rw(75.5)});
    dispatch_ppword_record();
    EXPECT_DOUBLE_EQ(machine_model.tool_length, 75.5);
}

TEST_F(Commands, AuxfunWithoutKeyWarns) {
    configuration_store.key[3] = 0;
    command(1022, {iw(8)});
    ::testing::internal::CaptureStderr();
    auxfun();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Auxillary function key not set"), std::string::npos);
    EXPECT_EQ(tape_text(), "");
}

}  // namespace
