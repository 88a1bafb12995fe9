// Pass 1 over small cutfiles: units and their factor, the per-toolpath tables
// of classic and new-style cutfiles, text commands, the limits that fail the
// pass, and the record skip.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "../tools/cutfile_writer.h"
#include "control/control.h"
#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

using namespace kv;
using namespace cutfile_writer;

namespace {

struct stopped {
    int code;
};
[[noreturn]] void throw_on_stop(int code) { throw stopped{code}; }

record text_record(int n, const std::string& s) {
    // Data word 1 is not part of a text command's text.
    record r = make_record(n, 2000, 1079, {iw(0)});
    add_text(r, s);
    return r;
}

record tool_record(int n, int tool, double length, double diameter) {
    return make_record(n, 2000, 1055,
                       {rw(tool), rw(0), rw(length), rw(0), rw(diameter), rw(0), rw(3), rw(4)});
}

record goto_point(int n, double x, double y, double z) {
    return make_record(n, 5000, 5, {iw(0), iw(0), rw(x), rw(y), rw(z)});
}

record from_point(int n, double x, double y, double z) {
    return make_record(n, 5000, 3, {iw(0), iw(0), rw(x), rw(y), rw(z)});
}

record feed_record(int n, double f) { return make_record(n, 2000, 1009, {rw(f), iw(315)}); }
record units_record(int n, int code) { return make_record(n, 9000, 9, {iw(code)}); }
record toolpath_record(int n, double v) { return make_record(n, 2000, 1094, {rw(v)}); }
record end_record(int n) { return make_record(n, 14000, 0); }

class Pass1 : public ::testing::Test {
protected:
    std::filesystem::path dir;
    std::string messages;
    void SetUp() override {
        int st = 0;
        static bool ready = false;
        if (!ready) {
            init_units(st);
            init_message_table(st);
            register_builtin_messages();
            ready = true;
        }
        set_stop_hook(throw_on_stop);
        set_configuration_defaults();
        pass1_results = pass1_results_t{};
        record_loop_state = record_loop_state_t{};
        cycle_values = cycle_values_t{};
        dir = std::filesystem::temp_directory_path() /
              ("kv_pass1_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        int st = 0;
        if (cldata_reader.unit >= 0) filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
        set_stop_hook(nullptr);
        std::filesystem::remove_all(dir);
    }
    // Writes the records (double precision layout), runs pass 1 and returns its status.
    int run(const std::vector<record>& records, const std::string& extra_bytes = "") {
        const std::string path = (dir / "job.cut").string();
        EXPECT_TRUE(write_file(path, encode(records, 3) + extra_bytes));
        int status = -1;
        open_cldata(path, CLDATA_DOUBLE_LE, status);
        EXPECT_EQ(status, 0);
        testing::internal::CaptureStderr();
        try {
            run_pass1(status);
        } catch (...) {
            messages = testing::internal::GetCapturedStderr();
            throw;
        }
        messages = testing::internal::GetCapturedStderr();
        return status;
    }
};

TEST(UnitsFactor, ByCutfileUnitsAndOutputUnits) {
    struct row {
        const char* units;
        double imperial, metric;
    };
    const row rows[] = {
        {"MM", 0.03937007874015748, 1.0}, {"CM", 0.39370078740157477, 10.0}, {"IN", 1.0, 25.4},
        {"FT", 12.0, 304.8},              {"U", 0.03937007874015748, 1.0},
    };
    for (const row& r : rows) {
        EXPECT_EQ(units_factor(r.units, 30), r.imperial) << r.units;
        EXPECT_EQ(units_factor(r.units, 40), r.metric) << r.units;
    }
}

TEST_F(Pass1, ClassicInchCutfileWithMetricOutput) {
    configuration_store.intsp[39] = 40;
    const int status = run({units_record(1, 173), from_point(2, 1, 2, 3), tool_record(3, 7, 2, 0.5),
                            feed_record(4, 10), goto_point(5, 1, 2, 1), goto_point(6, 1, 2, 0.5),
                            goto_point(7, 3, 2, 0.5), end_record(8)});
    ASSERT_EQ(status, 0);
    EXPECT_EQ(get_cutfile_new_style(), 0);
    EXPECT_EQ(pass1_results.unit_factor, 25.4);
    EXPECT_TRUE(text_equals(pass1_results.cutfile_units, "IN"));
    EXPECT_EQ(pass1_results.toolpath_count, 1);
    EXPECT_EQ(pass1_results.tool_count, 1);
    const toolpath_tables_t& t = toolpath_tables;
    EXPECT_EQ(t.toolpath_tool_number[1], 7);
    EXPECT_DOUBLE_EQ(t.toolpath_tool_length[1], 50.8);
    EXPECT_DOUBLE_EQ(t.toolpath_tool_radius[1], 6.35);
    EXPECT_EQ(t.toolpath_length_offset[1], 3);
    EXPECT_EQ(t.toolpath_radius_offset[1], 4);
    EXPECT_DOUBLE_EQ(t.toolpath_first_feed[1], 254.0);
    // The first point moves in Z only (plunge); the third in X (feed).
    EXPECT_DOUBLE_EQ(t.toolpath_plunge_rate[1], 254.0);
    EXPECT_DOUBLE_EQ(t.toolpath_feedrate[1], 254.0);
    EXPECT_DOUBLE_EQ(t.toolpath_rapid_height[1], 25.4);
    EXPECT_DOUBLE_EQ(pass1_results.from_position[3], 76.2);
    // Classic extents always include the origin.
    EXPECT_DOUBLE_EQ(pass1_results.cutfile_extents[1], 76.2);  // maximum X
    EXPECT_DOUBLE_EQ(pass1_results.cutfile_extents[4], 0.0);   // minimum X
    EXPECT_DOUBLE_EQ(pass1_results.cutfile_extents[6], 0.0);   // minimum Z
    // The metric columns are in force.
    for (int w = 1; w <= MAXWORDS; ++w) ASSERT_EQ(word_format(w, WRDPRN), word_format(w, WRDMET)) << w;
}

TEST_F(Pass1, UnitsWarnings) {
    ASSERT_EQ(run({goto_point(1, 1, 1, 1), end_record(2)}), 0);
    EXPECT_NE(messages.find("No Units Record in cldata file"), std::string::npos) << messages;
    EXPECT_TRUE(text_equals(pass1_results.cutfile_units, "MM"));

    ASSERT_EQ(run({units_record(1, 175), goto_point(2, 1, 1, 1), end_record(3)}), 0);
    EXPECT_NE(messages.find("Unrecognised units in cldata file, assuming mm"), std::string::npos) << messages;
    EXPECT_EQ(pass1_results.unit_factor, 1.0);  // "units" input: millimetres stay millimetres
    EXPECT_EQ(configuration_store.intsp[39], 40);
}

TEST_F(Pass1, InputUnitsInFeetGiveImperialOutput) {
    ASSERT_EQ(run({units_record(1, 174), goto_point(2, 1, 1, 1), end_record(3)}), 0);
    EXPECT_EQ(configuration_store.intsp[39], 30);
    EXPECT_EQ(pass1_results.unit_factor, 12.0);
}

TEST_F(Pass1, ClassicToolWithoutMovesAndPrematureEnd) {
    const std::vector<record> records = {units_record(1, 171), tool_record(2, 1, 10, 5), tool_record(3, 2, 10, 5),
                                         goto_point(4, 1, 1, 1)};
    std::vector<record> whole = records;
    whole.push_back(end_record(5));
    ASSERT_EQ(run(whole), 0);
    EXPECT_NE(messages.find("No moves found for tool 1"), std::string::npos) << messages;
    EXPECT_EQ(pass1_results.toolpath_count, 2);
    EXPECT_EQ(toolpath_tables.toolpath_tool_number[2], 2);

    // Without its end record the cutfile was cut short: the run fails.
    try {
        run(records);
        ADD_FAILURE() << "pass 1 went on past the end of the data";
    } catch (const stopped& s) {
        EXPECT_EQ(s.code, 4);
    }
    EXPECT_NE(messages.find("Incomplete cldata file"), std::string::npos) << messages;
}

// The first feedrate record after a tool record is its toolpath's first
// feed, also when the toolpath's first (rapid) point comes before it.
TEST_F(Pass1, FirstFeedAfterTheFirstPoint) {
    ASSERT_EQ(run({units_record(1, 171), tool_record(2, 7, 10, 5), goto_point(3, 0, 0, 50), feed_record(4, 120),
                   goto_point(5, 0, 0, 5), feed_record(6, 80), tool_record(7, 8, 10, 5), feed_record(8, 300),
                   goto_point(9, 1, 1, 50), feed_record(10, 40), tool_record(11, 9, 10, 5), goto_point(12, 2, 2, 50),
                   end_record(13)}),
              0);
    EXPECT_DOUBLE_EQ(toolpath_tables.toolpath_first_feed[1], 120.0);
    EXPECT_DOUBLE_EQ(toolpath_tables.toolpath_first_feed[2], 300.0);
    // A toolpath without a feedrate record keeps the feed of the one before.
    EXPECT_DOUBLE_EQ(toolpath_tables.toolpath_first_feed[3], 300.0);
}

// A classic toolpath takes the spindle record in force at its first point,
// also one that came before its tool record; a later one does not count.
TEST_F(Pass1, ClassicSpindleInForceAtTheFirstPoint) {
    auto spindle = [](int n, double speed, int direction, double tip) {
        return make_record(n, 2000, 1031, {rw(speed), iw(78), iw(direction), iw(0), iw(0), iw(0), rw(tip)});
    };
    configuration_store.icodes[2][43] = 3;  // M functions 3 and 4
    configuration_store.icodes[2][44] = 4;
    ASSERT_EQ(run({units_record(1, 171), spindle(2, 1000, 60, 0.5), tool_record(3, 1, 10, 5),
                   goto_point(4, 1, 1, 1), spindle(5, 1500, 60, 0), spindle(6, 3000, 59, 2),
                   tool_record(7, 2, 10, 5), goto_point(8, 2, 2, 2), end_record(9)}),
              0);
    const toolpath_tables_t& t = toolpath_tables;
    EXPECT_DOUBLE_EQ(t.toolpath_spindle_speed[1], 1000.0);
    EXPECT_DOUBLE_EQ(t.toolpath_tip_radius[1], 0.5);
    EXPECT_EQ(t.toolpath_spindle_code[1], 3);
    EXPECT_DOUBLE_EQ(t.toolpath_spindle_speed[2], 3000.0);
    EXPECT_DOUBLE_EQ(t.toolpath_tip_radius[2], 2.0);
    EXPECT_EQ(t.toolpath_spindle_code[2], 4);
}

TEST_F(Pass1, MultiaxisRecordsWithAndWithoutToolVectors) {
    // After the multi-axis record a GOTO point is six values; a record of
    // whole triples that are not whole six-value points carries no vectors.
    const record multax = make_record(3, 9000, 2, {iw(1)});
    const record with_vectors = make_record(4, 5000, 5, {iw(0), iw(0), rw(1), rw(2), rw(3), rw(0), rw(0), rw(1),
                                                         rw(7), rw(-8), rw(9), rw(0), rw(0), rw(1)});
    const record without_vectors = make_record(5, 5000, 5, {iw(0), iw(0), rw(10), rw(10), rw(-2), rw(40), rw(10),
                                                            rw(-2), rw(20), rw(-30), rw(-2)});
    ASSERT_EQ(run({units_record(1, 171), tool_record(2, 7, 10, 5), multax, with_vectors, without_vectors,
                   end_record(6)}),
              0);
    const array1<double, 6>& e = pass1_results.cutfile_extents;
    EXPECT_DOUBLE_EQ(e[1], 40.0);   // maximum X: the middle point of the record without vectors
    EXPECT_DOUBLE_EQ(e[2], 10.0);   // maximum Y
    EXPECT_DOUBLE_EQ(e[5], -30.0);  // minimum Y: its last point
    EXPECT_DOUBLE_EQ(e[3], 9.0);    // maximum Z: a tip, not a tool vector
}

// Points are read as the record loop reads them: six values while
// multi-axis mode is on, three once it is off, and a contact normal after
// each point's values in a contact-normal record.
TEST_F(Pass1, StrideFollowsMultiaxisModeAndContactNormals) {
    auto point_record = [](int n, int cls, std::initializer_list<double> values) {
        std::vector<word> words = {iw(0), iw(0)};
        for (double v : values) words.push_back(rw(v));
        return make_record(n, cls, 5, words);
    };
    const int status = run({units_record(1, 171), toolpath_record(2, 1), tool_record(3, 1, 10, 5),
                            make_record(4, 9000, 2, {iw(1)}),
                            // Tip, tool vector and normal, twice.
                            point_record(5, 32000, {1, 2, 3, 0, 0, 1, 0.5, -7, 0.5, 4, 5, 6, 0, 0, 1, -9, 0, 0}),
                            make_record(6, 9000, 2, {iw(0)}),
                            // Tip and normal, twice; then two plain points.
                            point_record(7, 32000, {7, 8, 9, -8, 0, 0, 10, 11, 12, 0, -9, 0}),
                            point_record(8, 5000, {13, 14, 15, 20, 21, -22}), make_record(9, 2000, 17),
                            end_record(10)});
    ASSERT_EQ(status, 0) << messages;
    const array1<double, 6>& e = pass1_results.cutfile_extents;
    EXPECT_DOUBLE_EQ(e[1], 20.0);   // maximum X: the second point after the mode is off
    EXPECT_DOUBLE_EQ(e[2], 21.0);
    EXPECT_DOUBLE_EQ(e[6], -22.0);  // minimum Z
    EXPECT_DOUBLE_EQ(e[4], 1.0);    // minimum X: no normal or tool vector read as a point
    EXPECT_DOUBLE_EQ(e[5], 2.0);
}

TEST_F(Pass1, NewStyleToolpathsInheritAndReadTextCommands) {
    const int status = run({units_record(1, 171), toolpath_record(2, 5), tool_record(3, 4, 20, 6),
                            text_record(4, "FEDRAT 3000 200 1000"), text_record(5, "TOOLPATH Rough pocket"),
                            text_record(6, "CODEBASE 1050507"), from_point(7, 0, 0, 50),
                            goto_point(8, -5, 2, 1), toolpath_record(9, 7), goto_point(10, 4, 3, 2),
                            text_record(11, "CUTLEN 12.5"), text_record(12, "CUTTIM 4.5"),
                            text_record(13, "HOLETOP 3"), make_record(14, 2000, 17), end_record(15)});
    ASSERT_EQ(status, 0) << messages;
    EXPECT_EQ(get_cutfile_new_style(), 1);
    EXPECT_EQ(pass1_results.toolpath_count, 2);
    EXPECT_EQ(pass1_results.tool_count, 1);
    const toolpath_tables_t& t = toolpath_tables;
    EXPECT_EQ(t.toolpath_tool_number[2], 4);
    EXPECT_DOUBLE_EQ(t.toolpath_tool_length[2], 20.0);
    EXPECT_DOUBLE_EQ(t.toolpath_start[2][3], 50.0);
    EXPECT_DOUBLE_EQ(t.toolpath_record_value[1], 5.0);
    EXPECT_DOUBLE_EQ(t.toolpath_record_value[2], 7.0);
    EXPECT_DOUBLE_EQ(t.toolpath_rapid_feed[1], 3000.0);
    EXPECT_DOUBLE_EQ(t.toolpath_plunge_rate[1], 200.0);
    EXPECT_DOUBLE_EQ(t.toolpath_feedrate[1], 1000.0);
    EXPECT_EQ(get_srat_defined(), 1);
    EXPECT_EQ(t.toolpath_names[1].str(), "Rough pocket");
    EXPECT_DOUBLE_EQ(t.toolpath_cldata_values[2][2], 12.5);
    EXPECT_DOUBLE_EQ(t.toolpath_cldata_values[2][1], 4.5);
    // HOLETOP anywhere in the cutfile sets the one flag that the cycle output reads.
    EXPECT_EQ(cycle_values.holetop_given, 1);
    EXPECT_EQ(pass1_results.codebase_version[1], 10505);
    EXPECT_EQ(pass1_results.codebase_version[2], 7);
    // New-style extents: the points only; a toolpath's own extents too.
    EXPECT_DOUBLE_EQ(pass1_results.cutfile_extents[4], -5.0);
    EXPECT_DOUBLE_EQ(pass1_results.cutfile_extents[1], 4.0);
    EXPECT_DOUBLE_EQ(t.toolpath_extents[2][1], 4.0);
    EXPECT_DOUBLE_EQ(t.toolpath_extents[2][4], 4.0);
    EXPECT_EQ(t.toolpath_workplanes[1].kind, WORKPLANE_THREE_AXIS);
}

TEST_F(Pass1, CodebaseBelowThePackedForm) {
    int version = -1, revision = -1;
    parse_codebase_command("CODEBASE 1050", 13, version, revision);
    EXPECT_EQ(version, 1050);
    EXPECT_EQ(revision, 0);
}

TEST_F(Pass1, NewerVersionRequiredFailsThePass) {
    for (const double needed : {1516.0, 1517.0}) {
        const int status =
            run({toolpath_record(1, 0), make_record(2, 29000, 0, {iw(100), rw(needed)}), make_record(3, 2000, 17),
                 end_record(4)});
        if (needed > 1516.0) {
            EXPECT_EQ(status, 1);
            EXPECT_NE(messages.find("upgrage required"), std::string::npos) << messages;
            EXPECT_NE(messages.find(" 1517"), std::string::npos) << messages;
        } else {
            EXPECT_EQ(status, 0) << messages;
        }
    }
}

TEST_F(Pass1, TheToolpathLimit) {
    std::vector<record> records;
    int n = 0;
    for (int i = 0; i < TOOLPATH_LIMIT + 1; ++i) records.push_back(toolpath_record(++n, 0));
    records.push_back(end_record(++n));
    EXPECT_EQ(run(records), 1);
    EXPECT_NE(messages.find("number of toolpaths limited to 1000"), std::string::npos) << messages;
}

TEST_F(Pass1, IgnoreSkipsTheRecordsThatFollow) {
    // IGNORE for this version and 2 records: the next two tool records are not read.
    ASSERT_EQ(run({toolpath_record(1, 0), text_record(2, "IGNORE 1516 2"), tool_record(3, 8, 1, 1),
                   tool_record(4, 9, 1, 1), goto_point(5, 1, 1, 1), make_record(6, 2000, 17), end_record(7)}),
              0)
        << messages;
    EXPECT_EQ(pass1_results.tool_count, 0);
    EXPECT_EQ(toolpath_tables.toolpath_tool_number[1], 0);
    EXPECT_EQ(is_skipping(), 0);
}

TEST(RecordSkip, CountsDownAndIgnoresNonPositiveCounts) {
    record_loop_state = record_loop_state_t{};
    start_skipping_records(0);
    EXPECT_EQ(is_skipping(), 0);
    start_skipping_records(-2);
    EXPECT_EQ(is_skipping(), 0);
    start_skipping_records(2);
    EXPECT_EQ(is_skipping(), 1);
    count_down_skip();
    EXPECT_EQ(is_skipping(), 1);
    count_down_skip();
    EXPECT_EQ(is_skipping(), 0);
}

TEST_F(Pass1, CorruptRecordStopsWithExitCode4) {
    // A record marker that promises more bytes than the file holds, after a
    // last good record whose number is small, or wider than five digits.
    const std::string bad = std::string("\x40\x00\x00\x00\x03\x00\x00\x00", 8);
    for (int last : {2, 123456, -2147483647}) {
        try {
            run({units_record(1, 171), goto_point(last, 1, 1, 1)}, bad);
            FAIL() << "the run went on";
        } catch (const stopped& s) {
            EXPECT_EQ(s.code, 4);
        }
        const std::string number = std::to_string(last);
        const std::string shown = std::string(11 - number.size(), ' ') + number + " Class:";
        EXPECT_NE(messages.find("Error: reading CLDATA record number: " + shown), std::string::npos) << messages;
    }
}

}  // namespace
