// The default words on a fresh store for the motion-output tests: units and
// messages made ready once with a stop that throws, the settings derived, the
// word, point and motion state cleared, and the print file the null device.
// A test's SetUp calls this one first, then gives its own settings.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <span>

#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"
#include "store_printer.h"

namespace kv_test {

class DefaultWords : public ::testing::Test {
protected:
    void SetUp() override {
        using namespace kv;
        static int once = [] {
            int status = 0;
            init_units(status);
            init_message_table(status);
            register_builtin_messages();
            set_stop_hook(throw_on_stop);
            return 0;
        }();
        (void)once;
        reset_store();
        set_default_words();
        derive_settings();
        init_word_state();
        point_buffer.point_count = 0;
        point_buffer.more_points_flag = 0;
        pending_move_flags = pending_move_flags_t{};
        motion_state = motion_state_t{};
        circle_state = circle_state_t{};
        move_output_state = move_output_state_t{};
        feed_state = feed_state_t{};
        pass1_results.unit_factor = 1.0;
        job_files.file_units[unit_slot(FILE_PRINT)] = null_unit();
    }

    // A record's values (three a point, six with tool vectors) as the
    // collected points.
    static void set_points(std::span<const double> values) {
        kv::point_buffer_t& b = kv::point_buffer;
        b.point_count = 0;
        for (double v : values) b.column[kv::POINT_COLUMN_RAW][++b.point_count] = v;
    }
    static void set_points(std::initializer_list<double> values) {
        set_points(std::span<const double>(values.begin(), values.size()));
    }
};

}  // namespace kv_test
