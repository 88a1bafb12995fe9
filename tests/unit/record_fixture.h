// A small job for record-handler tests: the default words on a fresh store,
// the word state cleared, the tape and setup files in a temporary folder, and
// a cutfile of given records opened in the double-precision layout.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "../tools/cutfile_writer.h"
#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"
#include "store_printer.h"

namespace kv_test {

using namespace cutfile_writer;

class RecordJob : public ::testing::Test {
protected:
    std::filesystem::path dir;
    int tape = -1;
    int setup = -1;

    void SetUp() override {
        static bool ready = false;
        int st = 0;
        if (!ready) {
            init_units(st);
            init_message_table(st);
            register_builtin_messages();
            set_stop_hook(throw_on_stop);
            ready = true;
        }
        reset_store();
        set_default_words();
        derive_settings();
        init_word_state();
        tool_state = tool_state_t{};
        ppword_state = ppword_state_t{};
        special_record_store = special_record_store_t{};
        record_values = record_values_t{};
        cycle_state = cycle_state_t{};
        cycle_parameters = cycle_parameters_t{};
        cycle_values = cycle_values_t{};
        pending_move_flags = pending_move_flags_t{};
        motion_state = motion_state_t{};
        block_interpreter = block_interpreter_t{};
        feed_state = feed_state_t{};
        pass1_results.unit_factor = 1.0;
        record_loop_state.skip_records = 0;
        record_loop_state.skip_count = 0;

        dir = std::filesystem::temp_directory_path() /
              ("kv_records_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        open_unit(tape, (dir / "job.tap").string(), OPEN_WRITE, FORM_TEXT, st);
        open_unit(setup, (dir / "job.inf").string(), OPEN_WRITE, FORM_TEXT, st);
        job_files.file_units.fill(-1);
        job_files.file_units[unit_slot(FILE_TAPE)] = tape;
        job_files.file_units[unit_slot(FILE_SETUP)] = setup;
        cldata_reader.unit = -1;
    }

    void TearDown() override {
        int st = 0;
        if (cldata_reader.unit >= 0) filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
        if (tape >= 0) filclo(tape, st);
        if (setup >= 0) filclo(setup, st);
        job_files.file_units.fill(-1);
        std::filesystem::remove_all(dir);
    }

    // Opens a cutfile of the records and makes the first one current.
    void open_records(const std::vector<record>& records) {
        const std::string path = (dir / "job.cut").string();
        ASSERT_TRUE(write_file(path, encode(records, CLDATA_DOUBLE_LE)));
        int status = -1;
        open_cldata(path, CLDATA_DOUBLE_LE, status);
        ASSERT_EQ(status, 0);
        ASSERT_FALSE(next_cldata_record());
    }

    // A class-2000 record of the major word, made current.
    void command(int major, std::vector<word> data) { open_records({make_record(1, 2000, major, data)}); }

    static std::string read_file(const std::filesystem::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string tape_text() {
        int st = 0;
        filclo(tape, st);
        tape = -1;
        return read_file(dir / "job.tap");
    }
    std::string setup_text() {
        int st = 0;
        filclo(setup, st);
        setup = -1;
        return read_file(dir / "job.inf");
    }
};

// Lines carry literal texts only where the word order names them: the
// first literal goes first.
inline void enable_literals() { configuration_store.wrdrut[1] = LITERAL_ORDER_BASE + 1; }

inline int value_of(int w) { return word_output_state.word_value[w]; }
inline int requested(int w) { return word_output_state.word_request[w]; }

}  // namespace kv_test
