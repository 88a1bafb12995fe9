// The record loop, the second pass over the cutfile: the tape-limit check and
// the IGNORE skip for every record, the handler of each record class, and the
// end of the job with its summary boxes.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

record_loop_state_t record_loop_state;

namespace {

constexpr int FLAG_MULTIAXIS_MODE = 20;
constexpr int FLAG_CONTACT_NORMALS = 31;
constexpr int WORKPLANE_ANGLES_MACHINE_TOOL = 4000;
constexpr int SURFACE_CIRCLE = 4;
constexpr int SURFACE_SPLINE_A = 126;
constexpr int SURFACE_SPLINE_B = 127;


// Class by class; returns 1 when the record ended the loop (status set).
int handle_record(int cls, int& status) {
    switch (cls) {
    case 2000: dispatch_ppword_record(); break;
    case 3000: handle_surface_record(); break;
    case 5000: handle_motion_record(); break;
    case 9000: handle_multax_record(); break;
    case 14000:
        finish_job();
        status = 0;
        return 1;
    case 20000: handle_record_20000(); break;
    case 28000:
        if (cldata_subclass() == 2) {
            handle_record_28000(status);
            if (status != 0) return 1;
        }
        break;
    case 29000: handle_special_record(); break;
    case 32000: handle_contact_normal_record(); break;
    default: break;  // 1000, 6000, 15000 and classes without a handler
    }
    return 0;
}


}  // namespace

// The end of the data before the end record: the cutfile was cut short (an
// interrupted CAM run or copy), or an IGNORE passed over its end record. A
// tape without its end is not a job done: the run fails and leaves the files
// of the run before.
void stop_on_incomplete_cutfile() {
    if (cldata_read_error()) stop_on_cldata_read_error();
    issue_message(109);
    stop_run(EXIT_RUN_ERROR);
}

void stop_on_cldata_read_error() {
    set_message_int_arg(1, cldata_last_good_record());
    set_message_int_arg(2, 0);
    set_message_int_arg(3, 0);
    issue_message(269);
    stop_run(EXIT_RUN_ERROR);
}

void process_cldata_records(int& status) {
    status = 0;
    if (next_cldata_record()) stop_on_incomplete_cutfile();
    for (;;) {
        const int cls = cldata_class();
        check_tape_split();
        if (is_skipping()) {
            count_down_skip();
        } else if (handle_record(cls, status)) {
            return;
        }
        if (next_cldata_record()) stop_on_incomplete_cutfile();
    }
}

void finish_job() {
    output_program_end();
    const double t = total_toolpath_time();
    const double feet = tape_feet(1);
    const auto set_args = [&]() {
        set_message_int_arg(1, block_writer.block_lines_written);
        set_message_int_arg(2, tape_character_count(1));
        set_message_real_arg(1, t);
        set_message_real_arg(2, feet);
    };
    const int print = job_unit(FILE_PRINT);
    if (print >= 0) {
        set_args();
        write_message(print, 12);
    }

    const int setup = job_unit(FILE_SETUP);
    if (setup >= 0) {
        const array1<double, 6>& e = pass1_results.cutfile_extents;
        // Maximum and minimum X, then Y, then Z.
        for (int k = 1; k <= 3; ++k) {
            set_message_real_arg(2 * k - 1, e[k]);
            set_message_real_arg(2 * k, e[k + 3]);
        }
        write_message(setup, 180);
    }
    print_tool_cutting_times();

    // The job's files are finished, and a file that did not reach the disk
    // whole stops the run, before the box on the console reports the job done.
    finish_job_outputs();
    set_args();
    issue_message(12);
}

void handle_motion_record() {
    int status = 0;
    const int m = get_state_flag(FLAG_MULTIAXIS_MODE);
    const int t = get_three_axis_flag();
    const int c = configuration_store.intsp[74] == 2 && (configuration_store.intsp[82] == 0 || m);
    if (t || c) {
        dispatch_goto_3axis(status);
    } else if (m) {
        dispatch_goto_multiaxis();
    } else {
        dispatch_goto(status);
    }
    report_motion_error(status);
}

void handle_contact_normal_record() {
    set_status_flag(FLAG_CONTACT_NORMALS, 1);
    handle_motion_record();
    set_status_flag(FLAG_CONTACT_NORMALS, 0);
    report_motion_error(0);
}

void handle_multax_record() {
    if (cldata_subclass() != 2) return;
    if (cldata_int_word(1) != 0) {
        pass1_results.axis_source_flag = 0;
        set_status_flag(FLAG_MULTIAXIS_MODE, 1);
    } else {
        pass1_results.axis_source_flag = get_cutfile_multiaxis();
        set_status_flag(FLAG_MULTIAXIS_MODE, 0);
    }
}

void handle_record_28000(int& status) {
    status = 0;
    const int i = current_toolpath_index();
    const int k = toolpath_tables.toolpath_workplanes[static_cast<std::size_t>(i)].kind;
    if (configuration_store.intsp[82] == WORKPLANE_ANGLES_MACHINE_TOOL) {
        select_machine_workplane(i, status);
        if (status != 0) {
            if (k != WORKPLANE_FIVE_AXIS) return;
            status = 0;
        }
    }
    select_workplane_transform(i, status);
}

void handle_surface_record() {
    pending_move_flags_t& f = pending_move_flags;
    f.circle_pending = f.spline_a_pending = f.spline_b_pending = 0;
    spline_state.spline_point_counts.fill(0);
    switch (cldata_int_word(2)) {
    case SURFACE_CIRCLE: {
        if (configuration_store.intsp[26] != 1) return;
        const double radius = cldata_real_word(12);
        const double limit = real_option(16);
        if (limit != 0.0 && (std::abs(radius) < real_option(20) || std::abs(radius) > limit)) return;
        array1<double, 3> centre;
        array1<double, 3> axis;
        for (int k = 1; k <= 3; ++k) {
            centre[k] = cldata_real_word(5 + k);
            axis[k] = cldata_real_word(8 + k);
        }
        point_and_direction_to_machine(centre, axis);
        if (!(std::abs(axis[1]) > ARC_AXIS_TOLERANCE || std::abs(axis[2]) > ARC_AXIS_TOLERANCE ||
              std::abs(axis[3]) > ARC_AXIS_TOLERANCE))
            return;
        array1<int, 3> units;
        array1<double, 3> out;
        to_machine_units(centre, units, out);
        for (int k = 1; k <= 3; ++k) {
            motion_state.position[3 + k] = out[k];
            motion_state.position_units[3 + k] = units[k];
        }
        // The centre and the axis give the arc; a radius written negative
        // by the cutfile means the same circle.
        circle_state.circle_record[1] = std::abs(radius);
        for (int k = 1; k <= 3; ++k) circle_state.circle_record[1 + k] = axis[k];
        f.circle_pending = 1;
        break;
    }
    case SURFACE_SPLINE_A:
        f.spline_a_pending = 1;
        spline_state.spline_point_counts[1] = cldata_int_word(4);
        break;
    case SURFACE_SPLINE_B:
        f.spline_b_pending = 1;
        spline_state.spline_point_counts[2] = cldata_int_word(4);
        break;
    default: break;
    }
}

void start_skipping_records(int n) {
    if (n <= 0) return;
    record_loop_state.skip_count = n;
    record_loop_state.skip_records = 1;
}

int is_skipping() { return record_loop_state.skip_records; }

void count_down_skip() {
    record_loop_state_t& s = record_loop_state;
    if (s.skip_count > 0) {
        --s.skip_count;
        if (s.skip_count == 0) s.skip_records = 0;
    }
}

void set_skipping(int value) {
    record_loop_state.skip_records = value;
    if (!value) record_loop_state.skip_count = 0;
}

}  // namespace kv
