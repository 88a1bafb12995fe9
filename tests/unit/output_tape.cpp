// Tape files: numbered next-tape names, the limit check with its splits and
// segments, the program end, and the cutting time per tool on the setup file.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "unit_temp.h"
#include "output/output.h"
#include "record_fixture.h"
#include "output_fixture.h"

using namespace kv;
using namespace kv_test;

namespace {

std::vector<std::string> file_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Tape : public DefaultWords {
protected:
    void SetUp() override {
        DefaultWords::SetUp();
        for (int w : {10, 11, 12}) configuration_store.word_formats[w][WRDPRN] = 3;
        tape_state = tape_state_t{};
        next_tape_name = next_tape_name_t{};
        block_writer.block_lines_written = 0;
        toolpath_tables = toolpath_tables_t{};
        dir = unit_temp_path("kv_tape_" + std::to_string(++serial)) + "/";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }

    void TearDown() override {
        int status = 0;
        for (int kind : {FILE_TAPE, FILE_SETUP}) {
            int& u = job_files.file_units[unit_slot(kind)];
            if (u >= 0) filclo(u, status);
            u = -1;
        }
        discard_set_aside_outputs();
        std::filesystem::remove_all(dir);
    }

    // Opens the tape file dir + name as the running tape.
    void open_tape(const std::string& name, const char* extension) {
        job_files.file_names[FILE_TAPE].set(dir + name);
        job_files.file_extensions[FILE_TAPE].set(extension);
        job_files.fixed_tape = 0;
        int status = 0;
        int unit = -1;
        open_unit(unit, dir + name, OPEN_WRITE, FORM_TEXT, status);
        ASSERT_EQ(status, 0);
        job_files.file_units[unit_slot(FILE_TAPE)] = unit;
    }

    std::string dir;
    static inline int serial = 0;
};

std::string next_name(std::string_view current, int fixed, int default_extension) {
    text<TAPE_NAME_LENGTH> out;
    compose_next_tape_name(current, fixed, default_extension, out.span());
    return out.str();
}

}  // namespace

TEST_F(Tape, NumberedTapeNames) {
    // Default extension: the number field replaces the extension.
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) names.push_back(next_name("part.tap", 0, 1));
    EXPECT_EQ(names[0], "part.t01");
    EXPECT_EQ(names[1], "part.t02");
    EXPECT_EQ(names[8], "part.t09");
    EXPECT_EQ(names[9], "part.t10");
    tape_state.tape_number = 100;
    EXPECT_EQ(next_name("ignored", 0, 1), "part.100");

    struct row {
        const char* current;
        int fixed;
        int default_extension;
        const char* first;
        const char* second;
    };
    for (const row& r : {
             row{"part.tap", 1, 1, "part1.tap", "part2.tap"},
             row{"part.t05", 0, 1, "part.t06", "part.t07"},   // a given number continues
             row{"part3.tap", 1, 1, "part4.tap", "part5.tap"},
             row{"job", 0, 0, "job1", "job2"},                // no extension: digits appended
             row{"job7", 0, 0, "job8", "job9"},
             row{"ab", 1, 0, "ab1", "ab2"},                   // fixed without an extension: no dot
         }) {
        next_tape_name = next_tape_name_t{};
        tape_state.tape_number = 1;
        EXPECT_EQ(next_name(r.current, r.fixed, r.default_extension), r.first) << r.current;
        EXPECT_EQ(next_name(r.current, r.fixed, r.default_extension), r.second) << r.current;
    }
}

// Past the 999th tape the number grows a digit in every form of name, so no
// name of a run is written twice; nor is the name the run started with.
TEST_F(Tape, NumberedTapeNamesNeverRepeat) {
    struct row {
        const char* current;
        int fixed;
        int default_extension;
        int number;
        std::vector<std::string> names;
    };
    for (const row& r : {
             row{"part.tap", 0, 1, 999, {"part.999", "part.1000", "part.1001"}},
             row{"part.tap", 1, 1, 999, {"part999.tap", "part1000.tap"}},
             row{"job", 0, 0, 999, {"job999", "job1000"}},
             row{"part.t10", 0, 1, 9, {"part.t09", "part.t11"}},   // not over the run's first tape
             row{"part.100", 0, 1, 99, {"part.199", "part.101"}},  // nor at 100 (the field is "100")
         }) {
        next_tape_name = next_tape_name_t{};
        tape_state.tape_number = 1;
        next_name(r.current, r.fixed, r.default_extension);  // analyses the name
        tape_state.tape_number = r.number;
        for (const std::string& want : r.names) {
            EXPECT_EQ(next_name("ignored", r.fixed, r.default_extension), want) << r.current << " " << r.number;
        }
    }
}

TEST_F(Tape, BlockLimitSplitsAtTheNextCheckAndCountsAgain) {
    open_tape("part.tap", "tap");
    configuration_store.intsp[57] = 100;  // maximum tape blocks
    tape_state.cut_on_tape = 1;
    block_writer.block_lines_written = 99;
    check_tape_split();
    EXPECT_FALSE(std::filesystem::exists(dir + "part.t01"));
    EXPECT_EQ(tape_state.tape_number, 1);
    // A tape takes its name only when it is finished.
    EXPECT_FALSE(std::filesystem::exists(dir + "part.tap"));

    block_writer.block_lines_written = 100;
    try {
        check_tape_split();
    } catch (const run_stopped& s) {
        FAIL() << "stopped with " << s.code;
    }
    // The first tape is set aside: the tapes of a split take their names
    // together when the run ends well.
    EXPECT_FALSE(std::filesystem::exists(dir + "part.tap"));
    EXPECT_FALSE(std::filesystem::exists(dir + "part.t01"));
    int status = 0;
    set_unit_aside(job_files.file_units[unit_slot(FILE_TAPE)], status);
    job_files.file_units[unit_slot(FILE_TAPE)] = -1;
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "part.tap"));
    finish_set_aside_outputs(status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir + "part.tap"));
    EXPECT_TRUE(std::filesystem::exists(dir + "part.t01"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 2);
    EXPECT_EQ(tape_state.tape_number, 2);
    EXPECT_EQ(trimmed_copy(job_files.file_names[FILE_TAPE].view()), dir + "part.t01");
    // Only what the new tape got since the split is counted.
    EXPECT_LT(block_writer.block_lines_written, 100);
}

// After a split the new tape re-approaches the kept point from the start
// height of the current tool (tool index, at least 1), not of the toolpath.
TEST_F(Tape, SplitReapproachesFromTheStartHeightOfTheCurrentTool) {
    open_tape("up.tap", "tap");
    configuration_store.intsp[57] = 1;  // maximum tape blocks
    tape_state.last_move_cuts = 1;
    block_writer.block_lines_written = 1;
    motion_state.position_units[3] = 0;
    motion_state.previous_position_units[3] = 0;
    toolpath_tables.toolpath_start[1][3] = 50.0;
    toolpath_tables.toolpath_start[2][3] = 100.0;
    toolpath_tables.toolpath_index = 2;
    for (int tool_index : {0, 1}) {
        toolpath_tables.tool_index = tool_index;
        block_writer.block_lines_written = 1;
        tape_state.cut_on_tape = 1;
        check_tape_split();
        int status = 0;
        filclo(job_files.file_units[unit_slot(FILE_TAPE)], status);
        job_files.file_units[unit_slot(FILE_TAPE)] = -1;
        const std::string name = tool_index == 0 ? "up.t01" : "up.t02";
        const std::vector<std::string> lines = file_lines(dir + name);
        std::string all;
        for (const std::string& l : lines) all += l + "\n";
        // The default Z format writes 50 as Z50000 and 100 as Z100000. The
        // rapid names X and Y as well: the new tape has written no axis yet.
        // A feed move brought the tool to the kept point: it goes back down
        // at a feed.
        EXPECT_NE(all.find("G0X0Y0Z50000"), std::string::npos) << all;
        EXPECT_NE(all.find("\nG1X0Y0Z0F"), std::string::npos) << all;
        EXPECT_EQ(all.find("Z100000"), std::string::npos) << all;
        int unit = -1;
        open_unit(unit, dir + name, OPEN_WRITE, FORM_TEXT, status);
        job_files.file_units[unit_slot(FILE_TAPE)] = unit;
    }
}

TEST_F(Tape, SegmentByCharactersAndByLength) {
    open_tape("seg.tap", "tap");
    configuration_store.intsp[60] = 3;     // lengths in characters
    real_option(8) = 1200.0;               // a segment every 10 feet
    tape_state.tape_characters[3] = 1199;
    check_tape_split();
    EXPECT_EQ(tape_state.tape_characters[3], 1199);
    tape_state.tape_characters[3] = 1200;
    check_tape_split();
    EXPECT_LT(tape_state.tape_characters[3], 120);   // reset by the segment
    EXPECT_EQ(tape_state.tape_number, 1);        // a segment is no split

    // Segments by cutting length reset the cut length.
    configuration_store.intsp[60] = 1;
    real_option(8) = 50.0;
    motion_state.cut_length = 60.0;
    check_tape_split();
    EXPECT_DOUBLE_EQ(motion_state.cut_length, 0.0);
}

TEST_F(Tape, NoLimitsNoCheck) {
    open_tape("none.tap", "tap");
    tape_state.tape_characters[2] = 120000000;
    block_writer.block_lines_written = 1000000;
    check_tape_split();
    EXPECT_EQ(tape_state.tape_number, 1);
    EXPECT_EQ(block_writer.block_lines_written, 1000000);
}

TEST_F(Tape, ProgramEndWritesTheEndOfTapeCharacter) {
    open_tape("end.tap", "tap");
    configuration_store.intsp[73] = '%';
    output_program_end();
    int status = 0;
    filclo(job_files.file_units[unit_slot(FILE_TAPE)], status);
    job_files.file_units[unit_slot(FILE_TAPE)] = -1;
    const std::vector<std::string> lines = file_lines(dir + "end.tap");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "%");
}

TEST_F(Tape, SplitAtToolChangeNeverAtTheFirst) {
    open_tape("tc.tap", "tap");
    EXPECT_EQ(split_tape_at_tool_change(), 0);   // not asked for
    tape_state.tool_changes_seen = 0;
    configuration_store.intsp[25] = 1;
    EXPECT_EQ(split_tape_at_tool_change(), 1);
    EXPECT_FALSE(std::filesystem::exists(dir + "tc.tap"));
    EXPECT_EQ(split_tape_at_tool_change(), 1);
    EXPECT_FALSE(std::filesystem::exists(dir + "tc.tap"));  // set aside at the split
    EXPECT_EQ(trimmed_copy(job_files.file_names[FILE_TAPE].view()), dir + "tc.t01");
}

TEST_F(Tape, SortAndToolRanks) {
    const int in[] = {5, 3, 9, -1, 3};
    int out[5] = {};
    int status = -1;
    sort_integers(5, in, out, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::vector<int>(out, out + 5), (std::vector<int>{-1, 3, 3, 5, 9}));
    std::vector<int> big(MAX_SORTED_INTEGERS + 1, 1), big_out(MAX_SORTED_INTEGERS + 1, 7);
    sort_integers(MAX_SORTED_INTEGERS + 1, big, big_out, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(big_out[0], 7);  // nothing sorted

    toolpath_tables.toolpath_tool_number[1] = 5;
    toolpath_tables.toolpath_tool_number[2] = 3;
    toolpath_tables.toolpath_tool_number[3] = 5;
    EXPECT_EQ(count_distinct_tools(), 2);
    EXPECT_EQ(tool_number_by_rank(1, status), 3);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tool_number_by_rank(2, status), 5);
    tool_number_by_rank(3, status);
    EXPECT_EQ(status, 1);
    int paths[4] = {};
    EXPECT_EQ(list_toolpaths_of_tool(5, paths), 2);
    EXPECT_EQ(paths[0], 1);
    EXPECT_EQ(paths[1], 3);
}

TEST_F(Tape, CuttingTimesPerToolOnTheSetupFile) {
    toolpath_tables.toolpath_tool_number[1] = 5;
    toolpath_tables.toolpath_tool_number[2] = 3;
    toolpath_tables.toolpath_tool_number[3] = 5;
    toolpath_tables.toolpath_cldata_values[1][1] = 2.4;
    toolpath_tables.toolpath_cldata_values[2][1] = 1.5;
    toolpath_tables.toolpath_cldata_values[3][1] = 4.3;
    EXPECT_DOUBLE_EQ(total_toolpath_time(), 8.2);

    const std::string path = dir + "setup.txt";
    int status = 0;
    int unit = -1;
    open_unit(unit, path, OPEN_WRITE, FORM_TEXT, status);
    job_files.file_units[unit_slot(FILE_SETUP)] = unit;
    print_tool_cutting_times();
    filclo(job_files.file_units[unit_slot(FILE_SETUP)], status);
    job_files.file_units[unit_slot(FILE_SETUP)] = -1;

    std::vector<std::string> tool_lines;
    for (const std::string& line : file_lines(path)) {
        if (line.find("Tool Number:") != std::string::npos) tool_lines.push_back(line);
    }
    ASSERT_EQ(tool_lines.size(), 2u);
    EXPECT_NE(tool_lines[0].find("Tool Number:     3     Cutting time:      2 min"), std::string::npos)
        << tool_lines[0];
    EXPECT_NE(tool_lines[1].find("Tool Number:     5     Cutting time:      7 min"), std::string::npos)
        << tool_lines[1];
}

// Segments by blocks: once "minimum tape blocks" lines are written, a tool
// change (or rapid) record makes a segment unless a rapid record follows
// within the search limit, min(3 x blocks left before the maximum,
// 3 x the look-ahead); 0 searches without limit, below 0 finds nothing.
class SegmentAhead : public RecordJob {};

TEST_F(SegmentAhead, TheNextRapidWithinTheSearchLimitDefersTheSegment) {
    struct row {
        int max_blocks;
        int look_ahead;
        int rapid_at;  // records after the tool change
        bool segment;
    };
    for (const row& r : {
             row{0, 0, 1, true},      // no maximum: nothing is searched
             row{0, 10, 1, true},
             row{6, 0, 5, false},     // look-ahead 0: the whole ring is searched
             row{6, 10, 5, true},     // one block left: 3 records searched
             row{6, 10, 3, false},
             row{100, 1, 3, false},   // look-ahead 1: 3 records searched
             row{100, 1, 4, true},
         }) {
        std::vector<record> records = {make_record(1, 2000, 1055, {rw(1)})};
        for (int k = 1; k <= 8; ++k) {
            records.push_back(k == r.rapid_at ? make_record(k + 1, 2000, 5) : make_record(k + 1, 2000, 1009, {rw(100)}));
        }
        records.push_back(make_record(10, 14000, 0));
        open_records(records);
        configuration_store.intsp[60] = 2;       // segments by blocks
        configuration_store.intsp[57] = r.max_blocks;
        configuration_store.intsp[58] = 2;       // minimum tape blocks
        configuration_store.intsp[65] = r.look_ahead;
        real_option(8) = 100.0;                  // a limit is set, so the check runs
        block_writer.block_lines_written = 5;
        check_tape_split();
        if (r.segment) {
            EXPECT_LE(block_writer.block_lines_written, 1) << r.max_blocks << " " << r.look_ahead << " " << r.rapid_at;
        } else {
            EXPECT_EQ(block_writer.block_lines_written, 5) << r.max_blocks << " " << r.look_ahead << " " << r.rapid_at;
        }
        int st = 0;
        filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
    }
}
