// GOTO dispatch: the points of a motion record and its continuation records
// are collected into the point buffer, and one motion routine is chosen from
// the move flags that earlier records left (FROM, spline, circle, cycle, wire,
// go home, rapid, linear). Also the FROM record of three-axis processing.
#include <algorithm>
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int GOTO_CLASS = 5000;
constexpr int CONTACT_NORMAL_CLASS = 32000;
constexpr int PPWORD_CLASS = 2000;
constexpr int TOOL_CHANGE_MAJOR_WORD = 1055;
constexpr int FROM_SUBCLASS = 3;
constexpr int GOTO_SUBCLASS = 5;
constexpr int CONTINUATION_SUBCLASS = 6;
constexpr int FIRST_COORDINATE_WORD = 3;   // data words 1 and 2 are no coordinates
constexpr int GOTO_SEARCH_LIMIT = 100;     // records searched for a further GOTO
constexpr int WIRE_MODE_SETTING = 79;
constexpr int TOOL_VECTOR_SETTING = 74;    // 2: tool-vector words are output
constexpr int X_VECTOR_KEY = 42;           // "x vector", "y vector", "z vector"
constexpr int MOVE_FROM_BLOCK = 9;
constexpr int TOOL_CHANGE_LABEL = 10;      // message 40 "TOOL CHANGE"
constexpr int MULTIAXIS_MODE_FLAG = 20;
constexpr int CONTACT_NORMALS_FLAG = 31;
constexpr double SHORT_VECTOR = 0.00001;

int is_goto_class(int c) { return c == GOTO_CLASS || c == CONTACT_NORMAL_CLASS; }

int spline_pending() { return pending_move_flags.spline_a_pending || pending_move_flags.spline_b_pending; }

// Appends data words first..last of the current record to column 1.
void append_values(int first, int last) {
    point_buffer_t& b = point_buffer;
    // check_continuation_record joins only what fits; this keeps a first
    // record that follows a kept spline point inside the column as well.
    const int n = std::min(last - first + 1, POINT_BUFFER_VALUES - b.point_count);
    if (n <= 0) return;
    double* const end = b.column[POINT_COLUMN_RAW].data() + b.point_count;
    cldata_real_words(first, std::span<double>(end, static_cast<std::size_t>(n)));
    b.point_count += n;
}

}  // namespace

int check_continuation_record(int count, int& more_points, int& last_word, int& all_joined) {
    int record_class = 0;
    int subclass = 0;
    int flag = 0;
    next_record_class(record_class, subclass, flag);
    if (is_goto_class(record_class) && subclass == CONTINUATION_SUBCLASS) {
        const int n = record_int_word(1, 0) - 3;
        if (n + count + 1 < POINT_BUFFER_VALUES) {
            next_cldata_record();
            last_word = n;
            return 1;
        }
        // Left for the record loop: it becomes the next GOTO, dispatched
        // with the same pending flags.
        all_joined = 0;
        more_points = 1;
        return 0;
    }
    if (is_goto_class(record_class)) {
        more_points = subclass == GOTO_SUBCLASS ? 1 : 0;
        return 0;
    }
    int k = 0;
    more_points = find_record_ahead(GOTO_CLASS, GOTO_SUBCLASS, PPWORD_CLASS, TOOL_CHANGE_MAJOR_WORD, k, GOTO_SEARCH_LIMIT);
    if (!more_points) {
        more_points = find_record_ahead(CONTACT_NORMAL_CLASS, GOTO_SUBCLASS, PPWORD_CLASS, TOOL_CHANGE_MAJOR_WORD, k,
                                        GOTO_SEARCH_LIMIT);
    }
    return 0;
}

void collect_goto_points(int last_word, int& all_joined) {
    point_buffer_t& b = point_buffer;
    for (;;) {
        append_values(FIRST_COORDINATE_WORD, last_word);
        if (!check_continuation_record(b.point_count, b.more_points_flag, last_word, all_joined)) break;
    }
    // The look-ahead point: data words 3-5 of the record just collected, in
    // the spare values after the buffer's count.
    if (b.more_points_flag) {
        for (int i = 0; i < 3; ++i) {
            b.column[POINT_COLUMN_RAW][b.point_count + 1 + i] = cldata_real_word(FIRST_COORDINATE_WORD + i);
        }
    }
}

void dispatch_goto_3axis(int& status) {
    point_buffer_t& b = point_buffer;
    pending_move_flags_t& f = pending_move_flags;
    status = 0;
    b.point_count = 0;
    b.all_joined = 1;
    if (spline_pending() && cldata_subclass() == CONTINUATION_SUBCLASS) b.point_count = 3;
    collect_goto_points(cldata_data_count(), b.all_joined);

    const std::span<double> raw = point_column_values(POINT_COLUMN_RAW);
    const int wire_mode = get_intsp(WIRE_MODE_SETTING) != 0;
    if (cldata_subclass() == FROM_SUBCLASS) {
        output_from_move();
    } else if (spline_pending()) {
        dispatch_spline();
    } else if (f.circle_pending) {
        if (wire_mode) {
            arcmov_wire();
        } else {
            arcmov(raw, b.point_count, status);
        }
    } else if (f.cycle_pending) {
        cycmov(raw, b.point_count);
    } else if (wire_mode && f.rapid_pending) {
        // A rapid or a go home (which sets the rapid too) is no cut.
        output_wire_rapid(output_rapid_move);
    } else if (wire_mode) {
        output_wire_move();
    } else if (f.go_home_pending) {
        output_go_home();
    } else if (f.rapid_pending) {
        output_rapid_move();
    } else {
        output_linear_move();
    }

    if (b.all_joined) {
        f.go_home_pending = 0;
        f.circle_pending = 0;
        f.rapid_pending = 0;
        f.spline_a_pending = 0;
        f.spline_b_pending = 0;
        f.thread_pending = 0;
        f.cycle_pending = 0;
    } else if (spline_pending() && b.point_count >= 3) {
        point_column& c = b.column[POINT_COLUMN_RAW];
        for (int i = 1; i <= 3; ++i) c[i] = c[b.point_count - 3 + i];
    }
}

void output_from_move() {
    motion_state_t& m = motion_state;
    const point_column& c = point_buffer.column[POINT_COLUMN_RAW];
    array1<double, 3> raw;
    for (int i = 1; i <= 3; ++i) raw[i] = point_buffer.point_count >= i ? c[i] : 0.0;
    array1<int, 3> units;
    array1<double, 3> out;
    to_machine_units(raw, units, out);
    for (int i = 1; i <= 3; ++i) {
        m.position[i] = out[i];
        m.position_units[i] = units[i];
    }
    // The FROM point is where the tool stands; a line goes to it only when
    // block "move from" writes one.
    if (configuration_store.blklen[MOVE_FROM_BLOCK] > 0) {
        compute_increments();
        commit_current_position();
    } else {
        take_position_without_output();
    }
    // Kept in output units like the FROM point of pass 1, which the tape
    // retract and the re-approach read beside position values.
    for (int i = 1; i <= 3; ++i) pass1_results.from_position[i] = out[i];

    const int vector_output = get_intsp(TOOL_VECTOR_SETTING) == 2;
    const int multiaxis_mode = get_state_flag(MULTIAXIS_MODE_FLAG) != 0;
    const int normals = get_state_flag(CONTACT_NORMALS_FLAG) != 0;
    array1<int, 3> values;
    if ((vector_output && multiaxis_mode) || normals) {
        for (int i = 1; i <= 3; ++i) {
            const int w = configuration_store.key[X_VECTOR_KEY + i - 1];
            const double v = point_buffer.point_count >= 3 + i ? c[3 + i] : 0.0;
            values[i] = nearest_int(MULT(w) * v);
        }
    }
    if (vector_output && !multiaxis_mode) {
        const double z_mult = MULT(configuration_store.key[X_VECTOR_KEY + 2]);
        const vector3& t = machine_model.initial_tool_vector;
        if (vector_length(t) < SHORT_VECTOR) {
            values[1] = 0;
            values[2] = 0;
            values[3] = nearest_int(z_mult);
        } else {
            for (int i = 1; i <= 3; ++i) values[i] = nearest_int(t[i] * z_mult);
        }
    }
    if (vector_output || normals) {
        for (int i = 1; i <= 3; ++i) setwrd(configuration_store.key[X_VECTOR_KEY + i - 1], values[i], SETWRD_SET_REQUEST);
    }
    if (configuration_store.blklen[MOVE_FROM_BLOCK] > 0) {
        set_reference_message(TOOL_CHANGE_LABEL);
        run_block(MOVE_FROM_BLOCK);
    }
}

}  // namespace kv
