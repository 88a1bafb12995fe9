// The block writer and the block interpreter over a small control laid into
// the store: which words a line holds, block numbers, modal memory, tape
// positions, literals, the print echo and tape length, and the items of a
// block (word modifiers, conditions, repeats, expressions, block variables).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

struct run_stopped {
    int code;
};
void throw_on_stop(int code) { throw run_stopped{code}; }

// Words of the fixture, in word order.
constexpr int N = 1, G = 2, X = 3, Y = 4, Z = 5, F = 6, M = 7, T = 8, C = 9;
constexpr int WORDS = 9;
constexpr int TEST_BLOCK = 11;  // "move linear"

std::string temp_name(const char* what) { return "/tmp/kv_blocks_" + std::to_string(getpid()) + "_" + what; }

std::vector<std::string> read_lines(const std::string& name) {
    std::ifstream in(name);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

class Blocks : public testing::Test {
protected:
    std::string tape_name = temp_name("tape");
    std::string print_name = temp_name("print");
    int tape = -1;
    int print = -1;
    int next_item = 1;
    int next_string = 1;

    static void SetUpTestSuite() {
        int status = 0;
        init_units(status);
        init_message_table(status);
        register_builtin_messages();
        set_stop_hook(throw_on_stop);
    }

    void word(int w, const char* letters, int decimals, int modal) {
        configuration_store_t& cs = configuration_store;
        cs.gpnams[w].set(letters);
        cs.wrdch[w].set(letters);
        word_format(w, WRDCHL) = 1;
        word_format(w, WRDLEN) = 8;
        word_format(w, ITPPOS) = 0;
        word_format(w, WRDMOD) = modal;
        word_format(w, SINREQ) = 1;
        word_format(w, WRDPRN) = decimals;
        word_format(w, IDEC_CURRENT) = decimals > 0 ? 1 : 0;
        // Words without a point keep their trailing zeros (10 stays 10).
        word_format(w, IZSUP_CURRENT) = decimals > 0 ? 0 : 2;
        word_format(w, EXPONENT_WIDTH) = 0;
        cs.wperm[w] = 0;
        cs.wrdlnk[w] = NO_LINK;
        cs.wrdrut[w] = w;
        derived_settings.word_scale[w] = 1.0;
    }

    void SetUp() override {
        set_configuration_defaults();
        configuration_store_t& cs = configuration_store;
        word(N, "N", 0, 0);
        word(G, "G", 0, 1);
        word(X, "X", 3, 1);
        word(Y, "Y", 3, 1);
        word(Z, "Z", 3, 1);
        word(F, "F", 1, 1);
        word(M, "M", 0, 0);
        word(T, "T", 0, 0);
        word(C, "(", 0, 0);
        cs.NGPS = WORDS;
        cs.active_word_count = WORDS;
        cs.key[1] = N;
        cs.key[2] = G;
        cs.key[8] = X;
        cs.key[9] = Y;
        cs.key[10] = Z;
        cs.key[16] = F;
        cs.key[20] = T;
        cs.spchar[3].set(".");
        cs.spchar[4].set("0.");
        cs.spchar[8].clear();
        cs.intsp[9] = 0;
        cs.intsp[22] = 1;
        cs.intsp[23] = 1;
        cs.intsp[51] = 0;
        cs.intsp[53] = 0;
        cs.intsp[66] = 0;
        for (int b = 1; b <= NUMBLK; ++b) cs.blklen[b] = 0;
        derive_output_settings();
        derived_settings.sequence_number = 1;
        derived_settings.sequence_number_max = 9999;
        init_word_state();
        block_interpreter = block_interpreter_t{};
        block_writer = block_writer_t{};
        tape_state.tape_characters.fill(0);
        motion_state = motion_state_t{};
        machine_model.machine_type = MACHINE_NO_ROTARY;
        set_status_flag(21, 1);
        command_switches.continue_after_error = 0;
        int status = 0;
        open_unit(tape, tape_name, OPEN_WRITE, FORM_TEXT, status);
        ASSERT_EQ(status, 0);
        job_files.file_units[unit_slot(FILE_TAPE)] = tape;
        job_files.file_units[unit_slot(FILE_PRINT)] = null_unit();
    }

    void TearDown() override {
        int status = 0;
        if (tape >= 0) filclo(tape, status);
        if (print >= 0) filclo(print, status);
        std::remove(tape_name.c_str());
        std::remove(print_name.c_str());
    }

    void open_print() {
        int status = 0;
        open_unit(print, print_name, OPEN_WRITE, FORM_TEXT, status);
        ASSERT_EQ(status, 0);
        job_files.file_units[unit_slot(FILE_PRINT)] = print;
    }

    std::vector<std::string> tape_lines() {
        int status = 0;
        filclo(tape, status);
        tape = -1;
        return read_lines(tape_name);
    }
    std::vector<std::string> print_lines() {
        int status = 0;
        filclo(print, status);
        print = -1;
        return read_lines(print_name);
    }

    // Items of the test block; `ends` 1 ends the output line.
    void item(int code, int value = 0, bool ends = true, std::string_view text = {}, double real = 0.0) {
        configuration_store.blklen[TEST_BLOCK] = next_item;
        ASSERT_EQ(store_block_item(TEST_BLOCK, next_item++, code, value, real, ends ? 0 : 1, text, next_string), 0);
    }
    void run() { run_block(TEST_BLOCK); }

    // write_block(mode) of the requested words in word order.
    void write(int mode = WRITE_BLOCK_PENDING) {
        block_interpreter.current_word_order_length = WORDS;
        for (int i = 1; i <= WORDS; ++i) block_interpreter.current_word_order[i] = i;
        write_block_or_stop(mode);
    }

    // Runs f and returns the exit code it stopped with, -1 when it returned.
    template <class F>
    int stop_code(F f, std::string* messages = nullptr) {
        int code = -1;
        testing::internal::CaptureStderr();
        try {
            f();
        } catch (const run_stopped& s) {
            code = s.code;
        }
        const std::string err = testing::internal::GetCapturedStderr();
        if (messages) *messages = err;
        return code;
    }
};

const word_output_state_t& ws = word_output_state;

}  // namespace

// --- block writer ---------------------------------------------------------------------

TEST_F(Blocks, BlockNumberAloneOrPermanentWordAloneWritesNoLine) {
    setwrd(N, 0, 1);
    write();
    EXPECT_EQ(derived_settings.sequence_number, 1);
    configuration_store.wperm[T] = 1;
    derive_output_settings();
    setwrd(T, 4, 2);
    write();
    EXPECT_EQ(ws.word_previous[T], 4);  // modal memory moves on all the same
    EXPECT_EQ(block_writer.block_lines_written, 0);
    setwrd(X, 1500, 2);
    write();
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"N1X1.5T4"});
}

TEST_F(Blocks, BlockNumbersRestartAfterTheirMaximum) {
    configuration_store.intsp[22] = 10;
    configuration_store.intsp[23] = 5;
    derived_settings.sequence_number = 10;
    derived_settings.sequence_number_max = 20;
    for (int i = 1; i <= 4; ++i) {
        setwrd(N, 0, 1);
        setwrd(M, i, 2);
        write();
    }
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"N10M1", "N15M2", "N20M3", "N10M4"}));
}

// A line with a real word and the block number requested but left out of
// the word order is still written.
TEST_F(Blocks, BlockNumberOutsideTheOrderDoesNotCancelAWord) {
    setwrd(N, 0, 1);
    setwrd(M, 3, 2);
    block_interpreter.current_word_order_length = 1;
    block_interpreter.current_word_order[1] = M;
    write_block_or_stop(WRITE_BLOCK_LINE);
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"M3"});
    EXPECT_EQ(derived_settings.sequence_number, 2);
}

TEST_F(Blocks, ModalWordsAreSuppressedUntilTheMemoryIsCleared) {
    setwrd(G, 1, 2);
    setwrd(X, 1000, 2);
    write();
    setwrd(G, 1, 2);
    setwrd(X, 1000, 2);
    setwrd(Y, 0, 2);
    write();
    setwrd(G, 1, 2);
    write();  // nothing left: no line, no request left either
    EXPECT_EQ(ws.word_request[G], 0);
    clear_modal_memory();
    setwrd(G, 1, 2);
    write();
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"G1X1.", "Y0.", "G1"}));
}

TEST_F(Blocks, TapePositionsAndRepeatedOrderEntries) {
    word_format(Y, ITPPOS) = 3;
    word_format(M, ITPPOS) = 3;
    word_format(T, ITPPOS) = -20;
    setwrd(M, 8, 2);
    write();  // M opens the line: no blanks
    setwrd(X, 1000, 2);
    setwrd(Y, 2000, 2);
    setwrd(T, 5, 2);
    block_interpreter.current_word_order_length = 5;
    const int order[] = {X, Y, X, T, Y};
    for (int i = 1; i <= 5; ++i) block_interpreter.current_word_order[i] = order[i - 1];
    write_block_or_stop(WRITE_BLOCK_LINE);
    // A column to the left of the line's end overwrites it, and the line
    // ends after what was written last.
    word_format(T, ITPPOS) = -2;
    setwrd(X, 123456, 2);
    setwrd(T, 7, 2);
    write();
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"M8", "X1.   Y2.          T5", "XT7"}));
}

TEST_F(Blocks, LiteralsTakeTheirPlacesAndAreBlankedAfterwards) {
    block_interpreter_t& bi = block_interpreter;
    bi.literal_text[1].set("(HELLO)");
    bi.literal_length[1] = 7;
    bi.literal_text[2].set("%");
    bi.literal_length[2] = 1;
    bi.literals_pending = 1;
    setwrd(M, 30, 2);
    bi.current_word_order_length = 3;
    bi.current_word_order[1] = 100;
    bi.current_word_order[2] = M;
    bi.current_word_order[3] = 99;
    write_block_or_stop(WRITE_BLOCK_LINE);
    EXPECT_EQ(trimmed_length(bi.literal_text[1]), 0);
    EXPECT_EQ(bi.literal_length[2], 0);
    EXPECT_EQ(bi.literals_pending, 0);
    // A literal entry without pending literals adds nothing, so nothing is written.
    write_block_or_stop(WRITE_BLOCK_LINE);
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"%M30(HELLO)"});
}

TEST_F(Blocks, LinkedPermanentAndTextWords) {
    configuration_store.wrdlnk[X] = C;  // X brings the comment word
    setwst(C, "abc");
    setwrd(C, 0, 6);
    setwrd(C, 0, -1);
    configuration_store.word_upper_case[C] = 1;
    word_format(C, WRDLEN) = 2;
    configuration_store.wperm[T] = 1;  // permanent: added for pending words only
    configuration_store.wperm[M] = 2;  // every block
    derive_output_settings();
    setwrd(T, 3, 0);
    setwrd(M, 6, 0);
    setwrd(X, 1000, 2);
    write(WRITE_BLOCK_LINE);
    setwrd(X, 2000, 2);
    write(WRITE_BLOCK_PENDING);
    EXPECT_EQ(ws.word_text[C].str(), "ABC");
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"X1.M6(AB", "X2.M6T3(AB"}));
}

TEST_F(Blocks, ZeroTextsAndEndOfBlock) {
    configuration_store.spchar[8].set(";");
    derive_output_settings();
    setwrd(X, 0, 2);
    write();
    configuration_store.spchar[4].clear();
    setwrd(Y, 0, 2);
    setwrd(M, 1, 2);
    write();
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"X0.;", "YM1;"}));
}

TEST_F(Blocks, TapeLengthCountsTheLineEnd) {
    block_interpreter.literal_text[1].set(std::string(119, 'A'));
    block_interpreter.literal_length[1] = 119;
    block_interpreter.literals_pending = 1;
    block_interpreter.current_word_order_length = 1;
    block_interpreter.current_word_order[1] = 99;
    write_block_or_stop(WRITE_BLOCK_LINE);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(tape_state.tape_characters[i], 120);
        EXPECT_DOUBLE_EQ(tape_feet(i), 1.0);
    }
    EXPECT_EQ(block_writer.block_lines_written, 1);
}

TEST_F(Blocks, OverflowWritesNothingAndKeepsRequests) {
    word_format(T, ITPPOS) = -250;
    setwrd(T, 123456789, 2);
    std::string messages;
    EXPECT_EQ(stop_code([&] { write(); }, &messages), 4);
    EXPECT_NE(messages.find("Error: internal error, output buffer overflow"), std::string::npos);
    EXPECT_EQ(ws.word_request[T], 1);
    EXPECT_EQ(block_writer.block_lines_written, 0);
    EXPECT_TRUE(tape_lines().empty());
}

// A value that did not fit its word (saturated where it was converted), or
// one that its scale carries out of the range of a word integer, stops the
// run with message 209: it is never written clamped.
TEST_F(Blocks, ValuesBeyondTheirWordStopTheRun) {
    struct row {
        const char* what;
        int value;
        double scale;
    };
    for (const row& r : {row{"saturated", 2147483647, 1.0}, row{"saturated low", -2147483647 - 1, 1.0},
                         row{"scaled out of range", 1500000000, 2.0}}) {
        SetUp();  // the stop closed the tape
        derived_settings.word_scale[X] = r.scale;
        setwrd(X, r.value, 2);
        std::string messages;
        EXPECT_EQ(stop_code([&] { write(); }, &messages), 4) << r.what;
        EXPECT_NE(messages.find("Error : Real number too big to write"), std::string::npos) << r.what;
        EXPECT_TRUE(tape_lines().empty()) << r.what;
    }
    // The largest value that fits, scaled back into range, is written.
    SetUp();
    derived_settings.word_scale[X] = 0.5;
    setwrd(X, 2147483646, 2);
    write();
    ASSERT_EQ(tape_lines().size(), 1u);
    EXPECT_EQ(tape_lines()[0], "X1073741.823");
}

TEST_F(Blocks, PrintEchoOneLineAndTwoLineForms) {
    open_print();
    motion_state.position[1] = 12.5;
    motion_state.position_units[1] = 12500;
    motion_state.position[3] = -1.0;
    motion_state.position_units[3] = -1000;
    configuration_store.spchar[3].set(",");  // the echo always shows a point
    set_reference_message(1);
    setwrd(X, 12500, 2);
    setwrd(Z, -1000, 2);
    write();
    configuration_store.intsp[66] = 40;
    set_reference_message(2);
    setwrd(M, 5, 2);
    write();
    const std::vector<std::string> echo = print_lines();
    ASSERT_EQ(echo.size(), 3u);
    EXPECT_EQ(echo[0].size(), 123u);
    EXPECT_EQ(echo[0], "  LINEAR MOVE  X12,5Z-1," + std::string(64, ' ') + "+12.500" + std::string(16, ' ') + "-1.000" +
                           std::string(6, ' '));
    EXPECT_EQ(echo[1].size(), 79u);
    EXPECT_EQ(echo[1].substr(0, 20), "  RAPID MOVE   M5   ");
    EXPECT_EQ(echo[2], std::string(79, ' '));
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"X12,5Z-1,", "M5"}));
}

// --- block interpreter ----------------------------------------------------------------

TEST_F(Blocks, EmptyBlockWritesThePendingWordsOnce) {
    run();
    EXPECT_EQ(block_writer.block_lines_written, 0);
    configuration_store.wrdlnk[X] = F;
    configuration_store.wperm[T] = 1;
    derive_output_settings();
    setwrd(T, 2, 0);
    setwrd(F, 100, 0);
    setwrd(X, 1000, 2);
    run();
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"X1.F10.T2"});
}

// A block with items brings no linked words, and puts the links back for
// the pending words written after it; a word made permanent or not while the
// job runs is added to the pending words, or no longer.
TEST_F(Blocks, LinksInsideBlocksAndPermanenceWhileRunning) {
    configuration_store.wrdlnk[X] = F;
    setwrd(F, 100, 0);
    item(4000 + 8);  // x coordinate alone
    setwrd(X, 1000, 2);
    run();
    setwrd(X, 2000, 2);
    write();
    setwrd(T, 3, 0);
    setwrd(T, 0, 4);
    write();  // the permanent word alone: no line
    setwrd(X, 3000, 2);
    write();
    setwrd(T, 0, 5);
    setwrd(X, 4000, 2);
    write();
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"X1.", "X2.F10.", "X3.T3", "X4."}));
}

TEST_F(Blocks, BlockWritesOnlyTheWordsItsItemsName) {
    setwrd(X, 1000, 2);
    setwrd(Y, 2000, 2);
    item(4000 + 8, 0, false);  // x coordinate alone: its request comes back
    item(1000 + 20, 7);        // tool number 7
    run();
    EXPECT_EQ(ws.word_request[Y], 0);  // gone after the block
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"X1.T7"});
}

TEST_F(Blocks, WordModifiers) {
    word_format(F, WRDMOD) = 0;
    word_output_state.word_previous[G] = 1;
    setwrd(G, 1, 0);
    item(16000 + G, 0, false);  // G =C: written though unchanged
    item(15000 + F, 0);         // F next: written now, and next time alone
    item(4000 + 16);            // feedrate alone: the "next" flag requests it
    item(17000 + M);            // M =P: cancelled, M is not permanent
    item(19000 + Y, 2500);      // Y 2.5 =C
    setwrd(F, 55, 0);
    word_output_state.word_previous[Y] = 2500;
    run();
    EXPECT_EQ(ws.word_next_request[F], 0);
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"G1F5.5", "F5.5", "Y2.5"}));
}

TEST_F(Blocks, ConditionsSkipItemsAndTheirLineEnds) {
    item(IF_ITEM, 0, true, "1 eq 2");
    item(11000 + M, 1);  // skipped with its line end
    item(ELSE_IF_ITEM, 0, true, "1 eq 1");
    item(11000 + M, 2, false);
    item(IF_ITEM, 0, true, "0 gt 1");
    item(11000 + T, 9);
    item(ELSE_ITEM);
    item(11000 + T, 8);
    item(END_IF_ITEM);
    item(ELSE_IF_ITEM, 0, true, "1 eq 1");  // a branch was taken: inactive
    item(11000 + M, 3);
    item(ELSE_ITEM);
    item(11000 + M, 4);
    item(IF_ITEM, 0, true, "nosuchvariable gt 1");  // inside an inactive branch: not evaluated
    item(END_IF_ITEM);
    item(END_IF_ITEM);
    item(11000 + M, 5);
    std::string messages;
    EXPECT_EQ(stop_code([&] { run(); }, &messages), -1) << messages;
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"M2T8", "M5"}));
}

TEST_F(Blocks, RepeatCounts) {
    struct row {
        const char* count;
        int lines;
        int last_counter;
    };
    const row rows[] = {{"3", 3, 3}, {"2.5", 3, 3}, {"0", 0, 1}, {"0 - 2", 0, 1}};
    for (const row& r : rows) {
        if (&r != rows) SetUp();
        item(REPEAT_ITEM, 0, true, r.count);
        item(11000 + M, 6);
        item(END_REPEAT_ITEM, 0, true, " ");
        item(11000 + T, 1);
        run();
        EXPECT_EQ(block_interpreter.loop_counter, r.last_counter) << r.count;
        EXPECT_EQ(tape_lines().size(), static_cast<std::size_t>(r.lines + 1)) << r.count;
        TearDown();
        next_item = next_string = 1;
    }
}

TEST_F(Blocks, LoopCounterInAnExpression) {
    item(REPEAT_ITEM, 0, true, "2");
    item(WORD_EXPR_ITEM + T, 0, true, "loopcounter * 10");
    item(END_REPEAT_ITEM, 0, true, " ");
    run();
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"T10", "T20"}));
}

TEST_F(Blocks, CoordinateExpressionMovesTheKnownPosition) {
    item(KEY_EXPR_ITEM + 8, 0, false, "12.5");
    item(1000 + 10, -500, false);  // z coordinate -0.5
    item(1000 + 20, 4);
    run();
    EXPECT_EQ(ws.word_value[X], 12500);
    EXPECT_DOUBLE_EQ(motion_state.position[1], 12.5);
    EXPECT_DOUBLE_EQ(motion_state.previous_position[1], 12.5);
    EXPECT_EQ(motion_state.position_units[3], -500);
    EXPECT_DOUBLE_EQ(motion_state.position[3], -0.5);
    EXPECT_EQ(motion_state.position_known, 1);
    EXPECT_EQ(get_linear_set_by_block(), 1);
    // Incremental output adds to the position.
    set_status_flag(21, 0);
    run();
    EXPECT_EQ(motion_state.position_units[1], 25000);
    // The modal coordinates are unchanged the second time.
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"X12.5Z-.5T4", "T4"}));
}

TEST_F(Blocks, TextExpressionMakesATextWord) {
    item(WORD_EXPR_ITEM + T, 0, true, "\"AB\" + \"CD\"");
    item(11000 + T, 5);  // a number item leaves the text alone
    run();
    EXPECT_EQ(ws.word_value_type[T], WORD_CARRIES_TEXT);
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"TABCD", "TABCD"}));
}

TEST_F(Blocks, ForcedExpressionIsWrittenEvenWhenUnchanged) {
    item(WORD_FORGET_ITEM + G, 0, true, "1");
    setwrd(G, 1, 0);
    word_output_state.word_previous[G] = 1;
    run();
    run();
    EXPECT_EQ(tape_lines(), (std::vector<std::string>{"G1", "G1"}));
}

TEST_F(Blocks, BlockOrderWritesALineInItemOrder) {
    configuration_store.intsp[9] = 1;
    item(11000 + M, 3, false);
    item(LITERAL_ITEM, 0, false, "(A)");
    item(KEY_EXPR_ITEM + 8, 0, false, "1");
    item(LITERAL_ITEM, 0, true, "%");
    run();
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"M3(A)X1.%"});
}

TEST_F(Blocks, FunctionCodesAndTheAbsoluteSwitch) {
    configuration_store_t& cs = configuration_store;
    cs.icodes[1][15] = G;
    cs.icodes[2][15] = 91;
    cs.icodes[1][20] = M;
    cs.icodes[2][20] = 1008;
    cs.scodes[20].set("M08 COOLANT");
    motion_state.increments[1] = 100;
    motion_state.increments[2] = 200;
    item(15, 91, false);         // incremental: only the coordinates this line names stay
    item(3000 + 9, 0, false);    // y coordinate "=": requested at its value
    item(20, 1008);              // a text code, cut to the word's width
    setwrd(X, 0, 1);
    run();
    EXPECT_EQ(get_state_flag(21), 0);
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"G91Y.2MM08 COOL"});
}

TEST_F(Blocks, BlockVariablesAndCounter) {
    set_block_variable("inta", 2.9, EDIT_VARIABLE);
    set_block_variable("RNB", 2.9, EDIT_VARIABLE);
    set_block_variable("swn", 0, SET_VARIABLE);
    EXPECT_EQ(block_interpreter.int_variables[1], 2);
    EXPECT_DOUBLE_EQ(block_interpreter.real_variables[2], 2.9);
    EXPECT_EQ(block_interpreter.switches[14], 1);
    set_block_variable("swn", 0, UNSET_VARIABLE);
    EXPECT_EQ(block_interpreter.switches[14], 0);
    std::string messages;
    stop_code([] { set_block_variable("swz", 0, SET_VARIABLE); }, &messages);
    EXPECT_NE(messages.find("unable to set flag"), std::string::npos);
    stop_code([] { set_block_variable("inta", 1, SET_VARIABLE); }, &messages);  // a switch name is needed
    EXPECT_NE(messages.find("unable to set flag"), std::string::npos);
    configuration_store.intsp[61] = 40;
    derived_settings.counter = 3;
    reset_block_variable("Counter");
    EXPECT_EQ(derived_settings.counter, 40);
    stop_code([] { reset_block_variable("inta"); }, &messages);
    EXPECT_NE(messages.find("Warning: cannot reset inta"), std::string::npos);
}

TEST_F(Blocks, ForcedErrorsStopTheRunEvenWithContinue) {
    command_switches.continue_after_error = 1;
    item(KEY_TEXT_ITEM + 77, 0, true, "no tool");
    std::string messages;
    EXPECT_EQ(stop_code([&] { run(); }, &messages), 4);
    EXPECT_NE(messages.find("Error: forced error \"no tool\" encountered in option file"), std::string::npos);
    next_item = 1;
    item(4077);
    EXPECT_EQ(stop_code([&] { run(); }, &messages), 4);
    EXPECT_NE(messages.find("Error: forced error encountered in option file"), std::string::npos);
}

TEST_F(Blocks, FailedConditionStopsUnlessContinuing) {
    item(IF_ITEM, 0, true, "nosuchvariable gt 1");
    item(11000 + M, 1);
    item(END_IF_ITEM);
    std::string messages;
    EXPECT_EQ(stop_code([&] { run(); }, &messages), 4);
    EXPECT_NE(messages.find("invalid syntax in \"move linear\" block"), std::string::npos);
    command_switches.continue_after_error = 1;
    EXPECT_EQ(stop_code([&] { run(); }, &messages), -1);
    EXPECT_TRUE(tape_lines().empty());
}

TEST_F(Blocks, FindBlockItem) {
    item(REPEAT_ITEM, 0, true, "1");
    item(END_REPEAT_ITEM, 0, true, " ");
    item(END_REPEAT_ITEM, 0, true, " ");
    const auto& items = configuration_store.block_items[TEST_BLOCK];
    EXPECT_EQ(find_block_item(items, 1, END_REPEAT_ITEM, 3), 2);
    EXPECT_EQ(find_block_item(items, 2, END_REPEAT_ITEM, 3), 3);
    EXPECT_EQ(find_block_item(items, 3, END_REPEAT_ITEM, 3), -1);
    EXPECT_EQ(find_block_item(items, 0, END_REPEAT_ITEM, 3), -1);
    EXPECT_EQ(find_block_item(items, 4, END_REPEAT_ITEM, 3), -1);
}

// Outside a command record the pending words are written only when asked.
TEST_F(Blocks, EndRecordBlockFlushesPendingWords) {
    setwrd(M, 9, 2);
    end_record_block(0);
    EXPECT_EQ(ws.word_request[M], 1);
    end_record_block(1);
    EXPECT_EQ(tape_lines(), std::vector<std::string>{"M9"});
}
