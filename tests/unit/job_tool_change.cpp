// Tool change, tool select, spindle and coolant commands on small cutfiles.
#include "kinematics/kinematics.h"
#include "record_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

using ToolCommands = RecordJob;

// A tool record: tool number, length, diameter, offsets, and optionally the
// 3017 text marker with a text.
std::vector<word> tool_record(double tool, double length, double diameter, double length_offset,
                              double radius_offset, int marker = 0, const std::string& text = "") {
    std::vector<word> w{rw(tool),          rw(0.0), rw(length), rw(0.0), rw(diameter), rw(0.0),
                        rw(length_offset), rw(radius_offset), iw(marker)};
    for (char ch : text) w.push_back(cw(ch));
    return w;
}

TEST_F(ToolCommands, ToolChangeWordsAndSheet) {
    pass1_results.unit_factor = 2.0;
    set_status_flag(101, 1);
    toolpath_tables.toolpath_tip_radius[1] = 0.5;
    toolpath_tables.toolpath_start[1][3] = 50.0;
    command(1055, tool_record(0, 10.0, 6.0, 12, 3, 3017, "DRILL 6"));
    handle_tool_change();
    EXPECT_EQ(value_of(key_word(20)), 12);  // tool number 0: the length offset
    EXPECT_EQ(value_of(key_word(24)), 12);
    EXPECT_EQ(value_of(key_word(25)), 3);
    EXPECT_DOUBLE_EQ(machine_model.tool_length, 20.0);  // the kinematics take the new tool's length
    EXPECT_DOUBLE_EQ(tool_state.tool_values[2], 6.0);
    EXPECT_EQ(tool_state.tool_text.str(), "DRILL 6");
    EXPECT_EQ(tool_state.tool_offset_ints[FIRST_TOOL_PENDING], 0);
    EXPECT_EQ(tool_state.tool_offset_ints[TOOL_CHANGED], 1);
    EXPECT_EQ(tool_state.pending_code_flags[SPINDLE_STOPPED], 1);
    EXPECT_EQ(move_output_state.first_move_after_tool_change, 1);
    const std::string sheet = setup_text();
    EXPECT_NE(sheet.find("Tool Number          12"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("Tool Diameter          12.000"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("Safe Z                 50.000"), std::string::npos) << sheet;

    // Without the text marker the tool text is blank.
    command(1055, tool_record(4, 10.0, 6.0, 4, 4));
    handle_tool_change();
    EXPECT_EQ(tool_state.tool_text.str(), "");
    EXPECT_EQ(value_of(key_word(20)), 4);
}

TEST_F(ToolCommands, ToolChangeRunsFirstThenRegularBlock) {
    set_status_flag(101, 1);
    enable_literals();
    configuration_store.blklen[4] = 1;
    configuration_store.block_items[4][1] = {LITERAL_ITEM, 0, 10};
    configuration_store.block_texts[4][1].set("FIRST");
    configuration_store.blklen[5] = 1;
    configuration_store.block_items[5][1] = {LITERAL_ITEM, 0, 10};
    configuration_store.block_texts[5][1].set("NEXT");
    open_records({make_record(1, 2000, 1055, tool_record(1, 1, 1, 1, 1)), make_record(2, 2000, 1055, tool_record(2, 1, 1, 2, 2))});
    handle_tool_change();
    ASSERT_FALSE(next_cldata_record());
    handle_tool_change();
    const std::string tape = tape_text();
    EXPECT_LT(tape.find("FIRST"), tape.find("NEXT")) << tape;
    EXPECT_EQ(tape.find("FIRST", tape.find("FIRST") + 1), std::string::npos) << tape;
}

TEST_F(ToolCommands, SpindleDirectionAndOff) {
    configuration_store.intsp[10] = 2;  // spindle words wait for the next move
    command(1031, {rw(1200.0), iw(78), iw(60), iw(59)});
    spindl();
    EXPECT_EQ(tool_state.spindle_mfunction, 4);
    // M4 carries the direction: the speed stays positive.
    EXPECT_EQ(value_of(key_word(19)), 1200 * MULT(key_word(19)));
    EXPECT_EQ(requested(key_word(19)), 0);
    EXPECT_EQ(tool_state.pending_code_flags[SPINDLE_PENDING], 1);
    EXPECT_EQ(tool_state.gear_range, 1);

    // Speed 0 and no minor word: off; the spindle counts as stopped already,
    // so nothing is written.
    command(1031, {rw(0.0)});
    spindl();
    EXPECT_EQ(tool_state.spindle_mfunction, 5);
    EXPECT_EQ(tool_state.pending_code_flags[SPINDLE_PENDING], 0);
    EXPECT_EQ(tape_text(), "");

    // A control that writes no spindle M function has only the sign of the
    // speed to say counter-clockwise.
    configuration_store.intsp[12] = 0;
    command(1031, {rw(1200.0), iw(78), iw(60), iw(59)});
    spindl();
    EXPECT_EQ(value_of(key_word(19)), -1200 * MULT(key_word(19)));
}

TEST_F(ToolCommands, SpindleOnNowWritesTheLine) {
    configuration_store.intsp[10] = 0;
    configuration_store.intsp[12] = 1;
    configuration_store.icodes[1][19] = 5;  // "spindle rpm" on word 5
    configuration_store.icodes[2][19] = 97;
    command(1031, {rw(800.0), iw(78)});
    spindl();
    EXPECT_EQ(tool_state.spindle_mfunction, 3);
    EXPECT_EQ(tool_state.pending_code_flags[SPINDLE_STOPPED], 0);
    const std::string tape = tape_text();
    EXPECT_EQ(value_of(key_word(19)), 800 * MULT(key_word(19)));
    EXPECT_NE(tape.find("S"), std::string::npos) << tape;
    EXPECT_NE(tape.find("M3"), std::string::npos) << tape;
    EXPECT_NE(tape.find("G97"), std::string::npos) << tape;
}

TEST_F(ToolCommands, SpindleWithCombinedCoolantFunction) {
    configuration_store.intsp[13] = 1;
    configuration_store.intsp[10] = 2;
    const std::vector<record> records = {make_record(1, 2000, 1031, {rw(500.0), iw(78)}),
                                         make_record(2, 2000, 1030, {iw(71)}),
                                         make_record(3, 5000, 5, {rw(0), rw(0), rw(0)})};
    // Without a code for the combined function the plain one stands.
    open_records(records);
    spindl();
    EXPECT_EQ(tool_state.spindle_mfunction, 3);

    configuration_store.icodes[1][6 + AUX_CODE_BASE] = 29;
    configuration_store.icodes[2][6 + AUX_CODE_BASE] = 13;
    open_records(records);
    spindl();
    EXPECT_EQ(tool_state.spindle_mfunction, 6);
}

TEST_F(ToolCommands, CoolantFunctions) {
    configuration_store.intsp[6] = 2;
    struct {
        int minor;
        int function;
    } cases[] = {{90, 50}, {71, 51}, {89, 52}, {91, 73}, {92, 81}, {93, 79}, {94, 80}, {72, 53}, {12, 51}};
    for (const auto& c : cases) {
        command(1030, {iw(c.minor)});
        handle_coolant();
        EXPECT_EQ(tool_state.pending_gfunction, c.function) << c.minor;
        EXPECT_EQ(tool_state.pending_code_flags[COOLANT_PENDING], 1) << c.minor;
    }
}

TEST_F(ToolCommands, CoolantOnNowOnlyOnce) {
    configuration_store.intsp[6] = 0;
    command(1030, {iw(71)});
    handle_coolant();
    EXPECT_EQ(tool_state.pending_code_flags[COOLANT_WRITTEN], 1);
    EXPECT_EQ(tool_state.pending_code_flags[COOLANT_PENDING], 0);
    command(1030, {iw(71)});
    handle_coolant();
    std::string tape = tape_text();
    EXPECT_EQ(tape, "M8\n") << tape;
}

}  // namespace
