// The word state: setwrd types, invalid words, setwst, MULT, wdstat, the
// clearing of modal memory and the loading of the coordinate words.
#include <gtest/gtest.h>

#include <string>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

constexpr int W = 5;    // a plain word of the fixture
constexpr int X = 10;   // the words of keys 8..10
constexpr int Y = 11;
constexpr int Z = 12;
constexpr int IX = 20;  // incremental X, Y, Z (keys 45..47)
constexpr int IY = 21;
constexpr int IZ = 22;

class WordState : public testing::Test {
protected:
    static void SetUpTestSuite() {
        int status = 0;
        init_units(status);
        init_message_table(status);
        register_builtin_messages();
    }
    void SetUp() override {
        set_configuration_defaults();
        configuration_store_t& cs = configuration_store;
        cs.NGPS = 30;
        cs.active_word_count = 30;
        for (int w = 1; w <= MAXWORDS; ++w) {
            cs.wperm[w] = 0;
            cs.word_formats[w][WRDMOD] = 0;
            cs.word_formats[w][WRDPRN] = 3;
        }
        for (int w : {X, Y, Z, IX, IY, IZ}) cs.word_formats[w][WRDMOD] = 1;
        cs.key[8] = X;
        cs.key[9] = Y;
        cs.key[10] = Z;
        cs.key[45] = IX;
        cs.key[46] = IY;
        cs.key[47] = IZ;
        init_word_state();
        motion_state.increments.fill(0);
        motion_state.position_units.fill(0);
        motion_state.output_mode_flags[FORCE_XY_FLAG] = 0;
        motion_state.output_mode_flags[FORCE_XYZ_FLAG] = 0;
        set_status_flag(21, 1);
    }
    static std::string messages_of(void (*action)()) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        action();
        std::string out = testing::internal::GetCapturedStdout();
        return out + testing::internal::GetCapturedStderr();
    }
};

const word_output_state_t& ws = word_output_state;

}  // namespace

TEST_F(WordState, SetwrdTypes) {
    setwrd(W, 42, 0);
    EXPECT_EQ(ws.word_value[W], 42);
    EXPECT_EQ(ws.word_request[W], 0);
    setwrd(W, 7, 1);  // a request leaves the value alone
    EXPECT_EQ(ws.word_value[W], 42);
    EXPECT_EQ(ws.word_request[W], 1);
    setwrd(W, 0, -1);
    EXPECT_EQ(ws.word_request[W], 0);
    setwrd(W, 9, 2);
    EXPECT_EQ(ws.word_value[W], 9);
    EXPECT_EQ(ws.word_request[W], 1);
    word_output_state.word_previous[W] = 9;
    setwrd(W, 9, 3);
    EXPECT_EQ(ws.word_previous[W], NO_PREVIOUS_VALUE);
    setwrd(W, 0, 4);
    EXPECT_EQ(configuration_store.wperm[W], 1);
    setwrd(W, 0, 5);
    EXPECT_EQ(configuration_store.wperm[W], 0);
    EXPECT_EQ(ws.word_request[W], 0);
    setwrd(W, 0, 6);
    EXPECT_EQ(ws.word_value_type[W], WORD_CARRIES_TEXT);
    EXPECT_EQ(ws.word_request[W], 1);
    setwrd(W, 0, -2);
    EXPECT_EQ(ws.word_request[W], 0);
    // Type 1 makes a text word numeric again; type 7 forgets number and text.
    setwrd(W, 0, 1);
    EXPECT_EQ(ws.word_value_type[W], WORD_CARRIES_NUMBER);
    word_output_state.word_previous[W] = 9;
    word_output_state.word_previous_text[W].set("old");
    setwrd(W, 0, 6);
    setwrd(W, 0, 7);
    EXPECT_EQ(ws.word_previous[W], NO_PREVIOUS_VALUE);
    EXPECT_EQ(trimmed_length(ws.word_previous_text[W]), 0);
    EXPECT_EQ(ws.word_value_type[W], WORD_CARRIES_NUMBER);
    setwrd(W, 77, 8);  // unknown types change nothing
    EXPECT_EQ(ws.word_value[W], 9);
}

TEST_F(WordState, InvalidWordsAreReportedAndChangeNothing) {
    EXPECT_EQ(messages_of([] { setwrd(95, 5, 2); }), "");
    EXPECT_EQ(ws.word_request[95], 0);
    EXPECT_EQ(ws.word_value[95], 0);
    EXPECT_NE(messages_of([] { setwrd(0, 5, 2); }).find("Warning(setwrd):  Invalid word (0) (value = 5)"),
              std::string::npos);
    EXPECT_NE(messages_of([] { setwrd(96, 5, 2); }).find("Invalid word (96) (value = 5)"), std::string::npos);
    EXPECT_NE(messages_of([] { setwst(96, "abc"); }).find("Warning(setwst): Invalid word (96)"), std::string::npos);
    EXPECT_EQ(messages_of([] { setwst(95, "abc"); }), "");
    std::string out = messages_of([] { EXPECT_EQ(wdstat(0, 2), 0); });
    EXPECT_NE(out.find("Invalid group in wdstat"), std::string::npos);
    out = messages_of([] { EXPECT_EQ(MULT(96), 0); });
    EXPECT_NE(out.find("Error(Internal): Bad group in MULT ( 96)"), std::string::npos);
}

TEST_F(WordState, SetwstAloneDoesNotRequest) {
    setwst(W, "PROGRAM 7");
    EXPECT_EQ(ws.word_value_type[W], WORD_CARRIES_TEXT);
    EXPECT_EQ(ws.word_request[W], 0);
    EXPECT_EQ(ws.word_text[W].str(), "PROGRAM 7");
    const std::string long_text(200, 'x');
    setwst(W, long_text);
    EXPECT_EQ(trimmed_length(ws.word_text[W]), WORD_TEXT_LENGTH);
}

TEST_F(WordState, MultAndWdstat) {
    configuration_store.word_formats[W][WRDPRN] = 4;
    EXPECT_EQ(MULT(W), 10000);
    configuration_store.word_formats[W][WRDPRN] = 0;
    EXPECT_EQ(MULT(W), 1);
    EXPECT_EQ(MULT(95), 1000);  // the "no word" slot has a format too

    // A modal numeric word whose value equals the one written last will not
    // be written, requested or not; a word that is not modal follows its request.
    setwrd(X, 500, 2);
    word_output_state.word_previous[X] = 500;
    EXPECT_EQ(wdstat(X, 3), 0);
    EXPECT_EQ(wdstat(X, 2), 1);
    word_output_state.word_previous[X] = 0;
    EXPECT_EQ(wdstat(X, 3), 1);
    setwrd(W, 0, 0);
    EXPECT_EQ(wdstat(W, 3), wdstat(W, 2));
    setwrd(W, 0, 1);
    EXPECT_EQ(wdstat(W, 3), 1);
    setwrd(X, 0, 6);
    setwst(X, "A");
    word_output_state.word_previous_text[X].set("A");
    EXPECT_EQ(wdstat(X, 3), 0);
    EXPECT_EQ(wdstat(X, 1), WORD_CARRIES_TEXT);
    EXPECT_EQ(wdstat(X, 4), 500);
    configuration_store.wperm[X] = 2;
    EXPECT_EQ(wdstat(X, 5), 2);
    EXPECT_EQ(wdstat(X, 9), X);
}

TEST_F(WordState, ZeroIsRememberedUnlikeTheMarker) {
    setwrd(X, 0, 2);
    word_output_state.word_previous[X] = 0;
    EXPECT_EQ(wdstat(X, 3), 0);
    word_output_state.word_previous[X] = NO_PREVIOUS_VALUE;
    EXPECT_EQ(wdstat(X, 3), 1);
}

TEST_F(WordState, ClearModalMemoryOnlyForModalNotPermanentWords) {
    for (int w : {W, X, Y}) word_output_state.word_previous[w] = 100;
    configuration_store.wperm[Y] = 1;
    clear_modal_memory();
    EXPECT_EQ(ws.word_previous[W], 100);  // not modal
    EXPECT_EQ(ws.word_previous[X], NO_PREVIOUS_VALUE);
    EXPECT_EQ(ws.word_previous[Y], 100);  // permanent
}

TEST_F(WordState, SetXyzWordsAbsolute) {
    motion_state_t& m = motion_state;
    m.position_units[1] = 1000;
    m.position_units[2] = 2000;
    m.position_units[3] = 3000;
    m.increments[2] = 5;
    set_xyz_words();
    EXPECT_EQ(ws.word_value[X], 1000);
    EXPECT_EQ(ws.word_value[Y], 2000);
    EXPECT_EQ(ws.word_value[Z], 3000);
    EXPECT_EQ(ws.word_request[X], 0);  // modal and not moving
    EXPECT_EQ(ws.word_request[Y], 1);
    EXPECT_EQ(ws.word_request[Z], 0);

    // Force-XY forgets and requests X and Y once; the flags are cleared.
    word_output_state.word_previous[X] = 1000;
    m.output_mode_flags[FORCE_XY_FLAG] = 1;
    set_xyz_words();
    EXPECT_EQ(ws.word_request[X], 1);
    EXPECT_EQ(ws.word_previous[X], NO_PREVIOUS_VALUE);
    EXPECT_EQ(ws.word_request[Z], 0);
    EXPECT_EQ(m.output_mode_flags[FORCE_XY_FLAG], 0);
    m.output_mode_flags[FORCE_XYZ_FLAG] = 1;
    set_xyz_words();
    EXPECT_EQ(ws.word_request[Z], 1);
    EXPECT_EQ(m.output_mode_flags[FORCE_XYZ_FLAG], 0);

    // A coordinate word that is not modal is always requested.
    init_word_state();
    configuration_store.word_formats[Z][WRDMOD] = 0;
    m.increments.fill(0);
    set_xyz_words();
    EXPECT_EQ(ws.word_request[Z], 1);
}

TEST_F(WordState, SetXyzWordsIncremental) {
    motion_state_t& m = motion_state;
    set_status_flag(21, 0);
    m.position_units[1] = 1000;
    m.increments[1] = 0;
    m.increments[2] = 250;
    word_output_state.word_previous[IY] = 250;  // the same increment as last time
    set_xyz_words();
    EXPECT_EQ(ws.word_request[IX], 0);
    EXPECT_EQ(ws.word_value[IX], 0);
    EXPECT_EQ(ws.word_request[IY], 1);
    EXPECT_EQ(ws.word_value[IY], 250);
    EXPECT_EQ(ws.word_previous[IY], NO_PREVIOUS_VALUE);  // written again
    EXPECT_EQ(ws.word_request[Y], 0);                    // the absolute words are untouched
    // Without incremental words the absolute words carry the increments.
    configuration_store.key[46] = NO_WORD;
    set_xyz_words();
    EXPECT_EQ(ws.word_value[Y], 250);
    EXPECT_EQ(ws.word_request[Y], 1);
}

// A word integer of a coordinate (kept at its axis's resolution) carried to
// a word of a resolution of its own: exact, halves away from zero.
TEST_F(WordState, CoordinateUnitsForAWordOfItsOwnResolution) {
    struct row {
        int units, places, value;
    };
    for (const row& r : {row{1004, 2, 100}, row{1005, 2, 101}, row{-1005, 2, -101}, row{1500, 0, 2},
                         row{1234, 3, 1234}, row{-1234, 5, -123400}}) {
        configuration_store.word_formats[IX][WRDPRN] = r.places;
        EXPECT_EQ(axis_units_for_word(r.units, 1, IX), r.value) << r.units << " at " << r.places;
    }
}

// An incremental word of a resolution of its own writes the differences of
// both ends at that resolution, so that its increments add up to the
// positions; a move below its resolution is no move for it.
TEST_F(WordState, IncrementalWordOfItsOwnResolution) {
    motion_state_t& m = motion_state;
    set_status_flag(21, 0);
    configuration_store.word_formats[IX][WRDPRN] = 2;
    struct row {
        int from, to, increment, requested;
    };
    // 1.004 to 1.006 is 1.00 to 1.01 at two places; 1.006 to 1.014 stays 1.01.
    for (const row& r : {row{1004, 1006, 1, 1}, row{1006, 1014, 0, 0}, row{1014, 985, -2, 1}}) {
        word_output_state.word_request.clear();
        m.previous_position_units[1] = r.from;
        m.position_units[1] = r.to;
        m.increments[1] = r.to - r.from;
        set_xyz_words();
        EXPECT_EQ(ws.word_value[IX], r.increment) << r.from << " to " << r.to;
        EXPECT_EQ(ws.word_request[IX], r.requested) << r.from << " to " << r.to;
    }
}

TEST_F(WordState, KeepLineWordsCancelsCoordinatesTheLineDoesNotName) {
    machine_model.machine_type = -1;
    // Items: X alone (word item) ; absolute ; Z 5 (key item), then a new line with Y.
    static laid_rows<block_item_t, 1, MAXITEMS> table;
    const block_items_row items = table[1];
    items[1] = block_item_t{14000 + Y, 0, 1};  // word item of Y: a different line below
    items[2] = block_item_t{14000 + X, 0, 1};
    items[3] = block_item_t{14, 0, 1};
    items[4] = block_item_t{1010, 5, 0};       // key 10 (Z) with a value, ends the line
    items[5] = block_item_t{14000 + Y, 0, 0};
    motion_state.increments[1] = 1;
    motion_state.increments[2] = 1;
    motion_state.increments[3] = 1;
    keep_line_xyz_words(items, 5, 2);
    EXPECT_EQ(ws.word_request[X], 1);
    EXPECT_EQ(ws.word_request[Y], 0);  // named only on another line
    EXPECT_EQ(ws.word_request[Z], 1);
    // A line that names only Z keeps Z and cancels X and Y.
    keep_line_xyz_words(items, 5, 4);
    EXPECT_EQ(ws.word_request[X], 0);
    EXPECT_EQ(ws.word_request[Y], 0);
    EXPECT_EQ(ws.word_request[Z], 1);
}
