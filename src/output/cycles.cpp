// Drilling cycles: the cycle's function codes and its dwell, feed, clearance,
// depth and peck words once per record, a "move cycle" or "move tap" block per
// hole; the variable-peck form and the helical cycles written as helix arcs.
#include <algorithm>
#include <array>
#include <cmath>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

cycle_state_t cycle_state;
cycle_parameters_t cycle_parameters;
cycle_values_t cycle_values;

// Minor word of the CYCLE record, and the preparatory function written for it.
const array1<cycle_table_row, CYCLE_TABLE_ROWS> cycle_table = {{{
    {163, 21},  // drill
    {288, 22},  // break chip
    {153, 23},  // deep drill
    {168, 24},  // tap
    {209, 25},  // bore 1
    {210, 26},  // bore 2
    {211, 27},  // bore 3
    {212, 28},  // bore 4
    {213, 29},  // bore 5
    {169, 74},  // rigid tap
    {200, 75},  // helical drill
    {201, 76},  // helical retract drill
    {154, 77},  // deep drill 2
}}};

namespace {

constexpr int BLOCK_MOVE_CIRCLE = 10;
constexpr int BLOCK_MOVE_LINEAR = 11;
constexpr int BLOCK_MOVE_RAPID = 12;
constexpr int BLOCK_MOVE_CYCLE = 13;
constexpr int BLOCK_MOVE_TAP = 14;
constexpr int BLOCK_CYCLE_START = 18;
constexpr int BLOCK_CYCLE_END = 19;
constexpr int LABEL_LINEAR = 1;            // "LINEAR MOVE"
constexpr int LABEL_RAPID = 2;             // "RAPID MOVE"
constexpr int LABEL_DRILL = 17;            // "DRILL"
constexpr int CYCLE_BREAK_CHIP = 2;
constexpr int CYCLE_DEEP_DRILL = 3;
constexpr int CYCLE_TAP = 4;
constexpr int CYCLE_BORE_1 = 5;
constexpr int CYCLE_BORE_5 = 9;
constexpr int CYCLE_RIGID_TAP = 10;
constexpr int CYCLE_DEEP_DRILL_2 = 13;
constexpr int CYCLE_AS_MOVES = 0;          // written_cycle_type: no cycle, the holes as moves
constexpr int WORD_FUNCTION_OFFSET = 62;   // "word drill" .. "word bore 5": type + 62
constexpr int FUNCTION_RAPID = 1;
constexpr int FUNCTION_LINEAR = 2;
constexpr int FUNCTION_ABSOLUTE_DATA = 14;
constexpr int FUNCTION_INCREMENTAL_DATA = 15;
constexpr int FUNCTION_END_OF_DRILL = 30;
constexpr int FUNCTION_REPEAT_HOLE = 31;
constexpr int FUNCTION_CYCLE_RETRACT = 34;
constexpr int FUNCTION_CIRCLE_CW = 3;
constexpr int FUNCTION_CIRCLE_CCW = 4;
constexpr int KEY_Y = 9;
constexpr int ABSOLUTE_FLAG = 21;
constexpr int VARIABLE_PECK_OUTPUT = 4;    // "cycle output" 4
constexpr double HELIX_EPSILON = 0.0001;

constexpr int MSG_CYCLE_CODE_NOT_SET = 142;
constexpr int MSG_CYCLE_RETRACT_NOT_SET = 143;
constexpr int MSG_MOVE_CYCLE_NOT_DEFINED = 144;
constexpr int MSG_CYCLE_WRITTEN_AS = 308;
constexpr int MSG_CYCLE_WRITTEN_AS_MOVES = 309;
constexpr int MSG_TAP_WITHOUT_CODE = 310;
constexpr int MSG_HOLES_WITHOUT_BLOCK = 311;
constexpr int MSG_HOLE_OFF_SPINDLE_AXIS = 312;

bool function_has_word(int n) { return has_word(fcode_word(n)); }

// Cycle words are truncated toward zero, set and requested.
void set_cycle_word(int key, double value) {
    const int w = key_word(key);
    if (!has_word(w)) return;
    setwrd(w, truncate_to_int(static_cast<double>(MULT(w)) * value), SETWRD_SET_REQUEST);
}

// One word has one value a line: a Z word that also carries the hole depth
// writes the depth in the record's first hole block, which would otherwise
// take the hole's Z (and leave it out).
void remember_depth_on_z() {
    cycle_state_t& cs = cycle_state;
    const int z = key_word(10);
    cs.depth_on_z = has_word(z) && key_word(27) == z ? 1 : 0;
    if (cs.depth_on_z != 0) cs.depth_on_z_value = word_output_state.word_value[z];
}

// Depth value k of the record; a cycle that names more pecks than it gave
// depths takes its last depth (0 when it gave none), never a stale value.
double depth_at(int k) {
    const int n = std::min(cycle_state.depth_count, MAXPECKS);
    if (n < 1) return 0.0;
    if (k < 1) k = 1;
    if (k > n) k = n;
    return cycle_parameters.depths[k];
}

void cycle_function_or_warning(int function, int type) {
    if (function_has_word(function)) {
        gset(function, SETWRD_SET_REQUEST);
    } else {
        set_message_int_arg(1, type);
        issue_message(MSG_CYCLE_CODE_NOT_SET);
    }
}

void end_cycle_output() {
    if (function_has_word(FUNCTION_END_OF_DRILL)) {
        gset(FUNCTION_END_OF_DRILL, SETWRD_SET_REQUEST);
        if (configuration_store.blklen[BLOCK_CYCLE_END] > 0) {
            run_block(BLOCK_CYCLE_END);
        } else {
            end_record_block(0);
            // Left for the next move to carry.
            motion_state.waiting_code_word = configuration_store.icodes[1][FUNCTION_END_OF_DRILL];
            motion_state.waiting_code_value = configuration_store.icodes[2][FUNCTION_END_OF_DRILL];
        }
    }
    // A cycle is a motion of its own: the move after it states its motion
    // code again, never axis words under the cycle's cancel code alone.
    setwrd(fcode_word(FUNCTION_RAPID), 0, SETWRD_FORGET);
    setwrd(fcode_word(FUNCTION_LINEAR), 0, SETWRD_FORGET);
}

// A cycle's feed is read in the feed mode the tape stands in, and a list's
// cycle lines seldom carry the feed-mode word: where the tape stands in the
// other mode than the cycle's feed and neither "cycle start" nor the hole's
// block can write that word, its code goes out now in a line of its own.
void state_cycle_feed_mode(int tap) {
    const int w = feed_mode_word_owed();
    if (w == 0) return;
    const array1<int, NUMBLOCKS>& length = configuration_store.blklen;
    const int hole = tap ? BLOCK_MOVE_TAP : BLOCK_MOVE_CYCLE;
    // An empty hole block writes every pending word.
    if (length[hole] < 1 || block_names_word(hole, w)) return;
    if (length[BLOCK_CYCLE_START] > 0 && block_names_word(BLOCK_CYCLE_START, w)) return;
    write_word_alone(w);
}

// One hole's block: "move tap" for the tap types, else "move cycle".
void hole_block(int tap) {
    cycle_state_t& cs = cycle_state;
    const int z = key_word(10);
    set_xyz_words();
    if (cs.depth_on_z != 0 && has_word(z) && key_word(27) == z) {
        setwrd(z, cs.depth_on_z_value, SETWRD_SET_REQUEST);
    } else {
        setwrd(z, 0, SETWRD_CANCEL);
    }
    cs.depth_on_z = 0;
    // The hole's Z is not written: the cycle leaves the tool at its retract
    // plane, so the move after the cycle writes Z whatever its value.
    motion_state.unwritten_axes[3] = 1;
    if (configuration_store.blklen[BLOCK_MOVE_CYCLE] == 0) {
        issue_message(MSG_MOVE_CYCLE_NOT_DEFINED);
    } else {
        run_block(tap ? BLOCK_MOVE_TAP : BLOCK_MOVE_CYCLE);
    }
}

// --- the kind a cycle is written as -----------------------------------------------------

bool cycle_has_code(int type) { return function_is_output(cycle_table[type].function) != 0; }

// The kind nearest to a cycle type, for a control without the type's code:
// deep drill 2 and break chip peck as the deep drill does, a rigid tap taps,
// the other bores bore as bore 1. 0 when there is none.
int nearest_cycle_kind(int type) {
    if (type == CYCLE_DEEP_DRILL_2 || type == CYCLE_BREAK_CHIP) return CYCLE_DEEP_DRILL;
    if (type == CYCLE_RIGID_TAP) return CYCLE_TAP;
    if (type > CYCLE_BORE_1 && type <= CYCLE_BORE_5) return CYCLE_BORE_1;
    return 0;
}

void set_cycle_args(int first, int type) {
    text<KEYWORD_NAME_LENGTH> name;
    keyword_name(KIND_CODE, cycle_table[type].function * 100, name.span());
    set_message_int_arg(first, type);
    set_message_string_arg(first, trimmed(name.view()));
}

[[noreturn]] void stop_at_record(int message) {
    set_message_int_arg(1, cldata_record_number());
    issue_message(message);
    stop_run(EXIT_RUN_ERROR);
}

// The type the holes of a cycle are written as: its own when the control
// has its code; else, with a warning naming both, the nearest kind it has a
// code for; else CYCLE_AS_MOVES, the holes written as rapid and feed moves.
// A tap needs the machine's synchronised spindle and reversal, which plain
// moves cannot give: a tap the control has no cycle for stops the run.
int written_cycle_type(int type) {
    if (cycle_has_code(type)) return type;
    set_message_int_arg(1, type);
    issue_message(MSG_CYCLE_CODE_NOT_SET);
    int kind = nearest_cycle_kind(type);
    while (kind != 0 && !cycle_has_code(kind)) kind = nearest_cycle_kind(kind);
    if (kind != 0) {
        set_cycle_args(1, type);
        set_cycle_args(2, kind);
        issue_message(MSG_CYCLE_WRITTEN_AS);
        return kind;
    }
    set_cycle_args(1, type);
    if (type == CYCLE_TAP || type == CYCLE_RIGID_TAP) {
        set_message_int_arg(2, cldata_record_number());
        issue_message(MSG_TAP_WITHOUT_CODE);
        stop_run(EXIT_RUN_ERROR);
    }
    issue_message(MSG_CYCLE_WRITTEN_AS_MOVES);
    return CYCLE_AS_MOVES;
}

// A control whose word order holds no Y word turns the part about Z: it can
// drill only on that axis.
void check_holes_on_spindle_axis(std::span<const double> points, int last) {
    const int y = key_word(KEY_Y);
    const derived_settings_t& d = derived_settings;
    for (int o = 1; o <= d.word_order_length; ++o)
        if (has_word(y) && configuration_store.wrdrut[o] == y) return;
    for (int i = 1; i <= last; i += 3) {
        array1<double, 3> raw, out;
        array1<int, 3> units;
        read_point(points, i, 1.0, raw);
        to_machine_units(raw, units, out);
        if (units[1] != 0 || units[2] != 0) stop_at_record(MSG_HOLE_OFF_SPINDLE_AXIS);
    }
}

// --- moves about the holes -----------------------------------------------------------

vector3 current_point() {
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = motion_state.position[i];
    return p;
}

vector3 committed_point() {
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = motion_state.previous_position[i];
    return p;
}

vector3 along_axis(const vector3& p, const point3& axis, double distance) {
    vector3 q;
    for (int i = 1; i <= 3; ++i) q[i] = p[i] + distance * axis[i];
    return q;
}

// Where a cycle leaves the tool, as far as the moves after it can tell: at
// most at the height it started from and at least at the R plane of its
// last hole, to which some controls return. The moves after it take the
// lower, so that a move split in two rises before it crosses.
void leave_at_last_r_plane(const point3& axis) {
    motion_state_t& m = motion_state;
    const vector3 r = along_axis(committed_point(), axis, -cycle_parameters.clearance);
    for (int i = 1; i <= 3; ++i) {
        m.position[i] = r[i];
        m.position_units[i] = word_integer(r[i], axis_mult(i));
        m.previous_position[i] = m.position[i];
        m.previous_position_units[i] = m.position_units[i];
    }
}

// Heights along the tool axis that the tape writes alike are one level.
bool same_level(double a, double b) { return word_integer(a, axis_mult(3)) == word_integer(b, axis_mult(3)); }

// A rapid or feed move to a point in output units, at the feed in force.
// An axis the tape has not followed since a cycle is written whatever its
// increment.
void straight_move(const vector3& target, int rapid) {
    std::array<double, 3> values = {target[1], target[2], target[3]};
    set_position_from_point(std::span<const double>(values.data(), values.size()), 1, 0);
    compute_increments();
    const motion_state_t& m = motion_state;
    bool moves = false;
    for (int a = 1; a <= 3; ++a) moves = moves || m.increments[a] != 0 || m.unwritten_axes[a] != 0;
    if (moves) {
        if (rapid) {
            output_pending_codes();
            request_rapid_code();
        } else {
            gset(FUNCTION_LINEAR, SETWRD_SET_REQUEST);
            fedrat();
            output_pending_codes();
        }
        set_xyz_words();
        add_move_time();
        set_reference_message(rapid ? LABEL_RAPID : LABEL_LINEAR);
        run_block(rapid ? BLOCK_MOVE_RAPID : BLOCK_MOVE_LINEAR);
    }
    commit_current_position();
}

// Up the tool axis to `level` where the tool stands below `lowest`: the
// rapid across to a hole then never passes below the hole's R plane.
void rise_to_level(double level, double lowest, const point3& axis) {
    const vector3 here = committed_point();
    const double height = height_along_tool_axis(here);
    if (height < lowest && !same_level(height, lowest)) straight_move(along_axis(here, axis, level - height), 1);
}

// A hole the control has no cycle for, as moves: up to the hole's level
// where the tool stands lower, across at rapid, down to the R plane at
// rapid, to the bottom at the cycle feed, the dwell when one is given, and
// back to the hole's point, at the feed out of the hole for a bore and at
// rapid otherwise.
void hole_as_moves(const vector3& hole, int type, const point3& axis) {
    const double top = height_along_tool_axis(hole);
    const double c = cycle_parameters.clearance;
    const double depth = depth_at(cycle_state.depth_count);
    rise_to_level(top, top, axis);
    const double above = height_along_tool_axis(committed_point()) - top;
    straight_move(along_axis(hole, axis, std::max(above, 0.0)), 1);
    straight_move(along_axis(hole, axis, -c), 1);
    // The feed moves go at the cycle's feed, not at the rapid feed that the
    // cycle record leaves pending.
    const double feedrate = feed_state.feedrate;
    const int rapid_pending = pending_move_flags.rapid_pending;
    int& per_minute = motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG];
    const int feed_mode = per_minute;
    feed_state.feedrate = cycle_parameters.feed;
    per_minute = cycle_parameters.feed_per_revolution ? 0 : 1;  // in the mode the cycle gives its feed
    pending_move_flags.rapid_pending = 0;
    straight_move(along_axis(hole, axis, -depth), 0);
    if (cycle_values.dwell_time > 0.0) dwellp(cycle_values.dwell_time);
    const bool bore = type >= CYCLE_BORE_1 && type <= CYCLE_BORE_5;
    if (bore) straight_move(along_axis(hole, axis, -c), 0);
    feed_state.feedrate = feedrate;
    per_minute = feed_mode;
    pending_move_flags.rapid_pending = rapid_pending;
    straight_move(hole, 1);
}

// --- cycle blocks ----------------------------------------------------------------------------

// The clearance, peck and depth words and the cycle's distances for holes
// whose points stand at height h along the tool axis; the peck is returned.
double set_hole_words(int type, double h, double t, bool use_top) {
    cycle_values_t& cv = cycle_values;
    const double c = cycle_parameters.clearance;
    const int n = cycle_state.depth_count;
    const int pecks = cycle_state.number_of_pecks;
    const bool absolute = get_state_flag(ABSOLUTE_FLAG) != 0;

    cv.clearance_distance = h - c;
    double clear = absolute && get_intsp(54) != 1 ? h - c : c;
    if (use_top) clear = (h - c) - t;
    set_cycle_word(28, clear);

    double p = 0.0;
    bool peck_written = false;
    if (cv.peckdepth_given != 0) {
        p = cv.peck_depth;
        set_cycle_word(26, p);
        peck_written = true;
    } else {
        if (get_intsp(4) == 2) {
            p = depth_at(1) - c;
            set_cycle_word(26, p);
            peck_written = true;
        }
        if (pecks == 2) {
            p = depth_at(1) - h;
            set_cycle_word(26, p);
            peck_written = true;
        } else if (pecks >= 3) {
            p = depth_at(2) - depth_at(1);
            set_cycle_word(26, p);
            peck_written = true;
        }
    }
    if (pecks == 1 && use_top) {
        p = t - h + depth_at(n);
        set_cycle_word(26, p);
        peck_written = true;
    }
    // A pecking cycle given no peck pecks the whole depth: its controller
    // takes a missing peck word for none at all, or for the last one given.
    const bool pecking = type == CYCLE_BREAK_CHIP || type == CYCLE_DEEP_DRILL || type == CYCLE_DEEP_DRILL_2;
    if (!peck_written && pecking) {
        p = depth_at(n) - c;
        set_cycle_word(26, p);
    }
    cv.peck = p;

    cv.depth_distance = h - depth_at(n);
    cv.depth_below_clearance = depth_at(n) - c;
    double depth = absolute && get_intsp(55) != 1 ? h - depth_at(n) : depth_at(n) - c;
    if (use_top) depth = t - (h - depth_at(n));
    set_cycle_word(27, depth);
    remember_depth_on_z();
    return p;
}

// The codes and words a cycle starts with: the dwell, the cycle's function,
// the feed and the retract code, then the words of its first hole's level.
double begin_cycle(int type, double h, double t, bool use_top) {
    if (has_word(key_word(21))) set_cycle_word(21, cycle_values.dwell_time);
    // A type without its code was reported when its kind was chosen.
    if (type > 0 && type <= CYCLE_TABLE_ROWS) {
        if (cycle_has_code(type)) gset(cycle_table[type].function, SETWRD_SET_REQUEST);
        if (type <= 9 && function_has_word(type + WORD_FUNCTION_OFFSET)) {
            gset(type + WORD_FUNCTION_OFFSET, SETWRD_SET_REQUEST);
        }
    }
    cycle_feed(cycle_parameters.feed, cycle_parameters.feed_per_revolution);
    if (function_has_word(FUNCTION_CYCLE_RETRACT)) {
        gset(FUNCTION_CYCLE_RETRACT, SETWRD_SET_REQUEST);
    } else {
        issue_message(MSG_CYCLE_RETRACT_NOT_SET);
    }
    return set_hole_words(type, h, t, use_top);
}

double hole_height(std::span<const double> points, int i) {
    set_position_from_cutfile_point(points, i);
    return height_along_tool_axis(current_point());
}

// The holes of a record as cycle blocks. A hole whose point stands at
// another level than the one before ends the cycle and starts it again for
// its own level, risen over the hole before to the new level first where
// the tool may stand below the new R plane: a cycle's levels and its start
// height then hold for every hole it drills, also where a control defines a
// cycle once and calls it at each hole. Returns the start height of the
// last cycle, where it leaves the tool (or above where it leaves it).
double write_cycle_holes(std::span<const double> points, int last, int type, const point3& axis) {
    cycle_state_t& cs = cycle_state;
    const double t = holetop_height();
    const bool use_top = cycle_values.holetop_given != 0 && get_intsp(81) != 0;
    double level = 0.0;
    double start = 0.0;
    for (int i = 1; i <= last; i += 3) {
        const double h = hole_height(points, i);
        const bool first = i == 1 || !same_level(h, level);
        if (first) {
            if (i > 1) {
                end_cycle_output();
                leave_at_last_r_plane(axis);
            }
            rise_to_level(h, h - cycle_parameters.clearance, axis);
            start = std::max(h, height_along_tool_axis(committed_point()));
            set_position_from_cutfile_point(points, i);
            begin_cycle(type, h, t, use_top);
            // "cycle output" 0 writes the pending words before the holes.
            if (get_intsp(19) == 0) {
                end_record_block(1);
            } else {
                state_cycle_feed_mode(type == CYCLE_TAP || type == CYCLE_RIGID_TAP);
            }
            level = h;
        }
        set_position_from_cutfile_point(points, i);
        compute_increments();
        set_reference_message(LABEL_DRILL);
        if (function_has_word(FUNCTION_REPEAT_HOLE) && (!first || type == cs.last_cycle_type)) {
            gset(FUNCTION_REPEAT_HOLE, SETWRD_SET_REQUEST);
        }
        cs.last_cycle_type = type;
        add_move_time();
        if (first && configuration_store.blklen[BLOCK_CYCLE_START] > 0) run_block(BLOCK_CYCLE_START);
        hole_block(type == CYCLE_TAP || type == CYCLE_RIGID_TAP);
        add_hole_time(type >= CYCLE_TAP && type <= CYCLE_RIGID_TAP);
        commit_current_position();
    }
    end_cycle_output();
    leave_at_last_r_plane(axis);
    return start;
}

// The helical cycles written as helix arcs and straight moves. Where the
// control has no code for the cycle (`as_moves`) nothing of a cycle goes
// out: no cycle words, no "cycle start" and no cycle end.
void write_helical_holes(std::span<const double> points, int last, int type, const point3& axis, bool as_moves) {
    const double t = holetop_height();
    const bool use_top = cycle_values.holetop_given != 0 && get_intsp(81) != 0;
    const double c = cycle_parameters.clearance;
    const int n = cycle_state.depth_count;
    const double h = hole_height(points, 1);
    double p = 0.0;
    if (as_moves) {
        p = set_hole_words(type, h, t, use_top);
        for (int key : {26, 27, 28}) setwrd(key_word(key), 0, SETWRD_CANCEL);
    } else {
        p = begin_cycle(type, h, t, use_top);
        if (get_intsp(19) == 0) end_record_block(1);
    }
    for (int i = 1; i <= last; i += 3) {
        if (i == 1 && !as_moves && configuration_store.blklen[BLOCK_CYCLE_START] > 0) run_block(BLOCK_CYCLE_START);
        set_xyz_words();
        point3 raw, hole;
        array1<int, 3> units;
        for (int k = 1; k <= 3; ++k) raw[k] = points[static_cast<std::size_t>(i + k - 2)];
        to_machine_units(raw, units, hole);
        const double radius = std::fabs(cycle_values.hole_diameter / 2.0 - tool_state.tool_values[2]);
        int status = 0;
        output_helical_cycle(hole, radius, depth_at(n) - c, h - c, axis, p, type, status);
    }
    if (!as_moves) end_cycle_output();
}

void write_cycle_record(std::span<const double> points, int count) {
    cycle_state_t& cs = cycle_state;
    const int type = cs.cycle_type;
    const int last = ((count - 3) / 3) * 3 + 1;
    check_holes_on_spindle_axis(points, last);
    // Helical cycles expanded into arcs need no code of their own.
    const bool helical = type == CYCLE_HELICAL_DRILL || type == CYCLE_HELICAL_RETRACT_DRILL;
    const bool expanded = helical && get_intsp(99) != 0;
    const int kind = type >= 1 && type <= CYCLE_TABLE_ROWS && !expanded ? written_cycle_type(type) : type;
    const bool expand = expanded || (helical && kind == CYCLE_AS_MOVES);
    if (kind != CYCLE_AS_MOVES && !expand && configuration_store.blklen[BLOCK_MOVE_CYCLE] == 0) {
        issue_message(MSG_MOVE_CYCLE_NOT_DEFINED);
        stop_at_record(MSG_HOLES_WITHOUT_BLOCK);
    }
    point3 axis;
    cycle_tool_axis(axis);

    set_position_from_cutfile_point(points, 1);
    output_pending_codes();
    end_record_block(1);
    output_pending_codes();
    output_tool_length_offset();

    if (kind == CYCLE_AS_MOVES && !expand) {
        for (int i = 1; i <= last; i += 3) {
            set_position_from_cutfile_point(points, i);
            set_reference_message(LABEL_DRILL);
            hole_as_moves(current_point(), type, axis);
        }
        return;
    }
    if (expand) {
        write_helical_holes(points, last, type, axis, !expanded);
        return;
    }
    // Under incremental output a cycle's levels would be read from the
    // start height and the R plane, which the machine knows and the program
    // does not: where the control can switch, the cycle is written in
    // absolute data, the tool brought back to the last hole's point, and
    // incremental data resumed.
    const bool switch_mode = get_state_flag(ABSOLUTE_FLAG) == 0 && function_is_output(FUNCTION_ABSOLUTE_DATA) &&
                             function_is_output(FUNCTION_INCREMENTAL_DATA);
    if (switch_mode) {
        set_coordinate_mode(1);
        write_coordinate_mode(1);
    }
    // Blocks and the cycle variable see the kind written.
    cs.cycle_type = kind;
    const double start = write_cycle_holes(points, last, kind, axis);
    cs.cycle_type = type;
    if (switch_mode) {
        const vector3 r = committed_point();
        straight_move(along_axis(r, axis, start - height_along_tool_axis(r)), 1);
        set_coordinate_mode(0);
        write_coordinate_mode(0);
    }
}

}  // namespace

double holetop_height() {
    double top = cycle_values.hole_top;
    if (get_intsp(98) != 0) top -= workplane_origin_offset();
    return top;
}

void cycle_tool_axis(point3& axis) {
    axis = machine_model.initial_tool_vector;
    if (vector_length(axis) < 0.001) {
        axis.fill(0.0);
        axis[3] = 1.0;
    }
}

void cycle_plane_words(int axis, cycle_plane_t& plane) {
    // The coordinate words of the mode (incremental words where the control
    // has them), as for the arcs of a circle record.
    const int x = coordinate_word(1), y = coordinate_word(2), z = coordinate_word(3);
    const int i = key_word(11), j = key_word(12), k = key_word(13);
    if (axis == 1) {
        plane = {2, 3, 1, y, z, j, k, 7};
    } else if (axis == 2) {
        plane = {3, 1, 2, z, x, k, i, 8};
    } else {
        plane = {1, 2, 3, x, y, i, j, 6};
    }
}

void cycmov(std::span<const double> points, int count) {
    if (get_intsp(104) != 0) clear_modal_memory();
    if (get_intsp(19) == VARIABLE_PECK_OUTPUT) {
        cycmov_variable_peck();
    } else if (count >= 3 && static_cast<std::size_t>(count) <= points.size()) {
        write_cycle_record(points, count);
    }
    cycle_values.holetop_given = 0;
    cycle_values.peckdepth_given = 0;
    cycle_values.numberpecks_given = 0;
    cycle_values.dwell_time = 0.0;
}

void cycmov_variable_peck() {
    cycle_state_t& cs = cycle_state;
    const int type = cs.cycle_type;
    const int pecks = cs.number_of_pecks;
    const double c = cycle_parameters.clearance;
    const int count = point_buffer.point_count;
    if (count < 3) {
        cs.cycle_type = 0;
        return;
    }
    set_move_point(1);
    output_pending_codes();
    output_tool_length_offset();
    clear_modal_memory();
    set_xyz_words();
    cycle_function_or_warning(20 + type, type);
    cycle_feed(cycle_parameters.feed, cycle_parameters.feed_per_revolution);
    state_cycle_feed_mode(type == CYCLE_TAP);
    const double h = motion_state.position[3] - c;
    set_cycle_word(28, h);
    double depth = h - depth_at(pecks);
    if (pecks > 2) {
        const double m = 5.0 * tool_state.tool_values[2];
        depth = h - m;
        const double r = depth_at(pecks) - c;
        set_cycle_word(26, pecks - 2);
        const double s = 2.0 * m / (pecks - 1) - 2.0 * r / (static_cast<double>(pecks) * pecks - pecks);
        set_cycle_word(41, m - s);
        set_cycle_word(51, s);
    }
    set_cycle_word(27, depth);
    remember_depth_on_z();
    cycle_values.depth_below_clearance = depth_at(pecks) - c;  // for the holes' cutting time
    const int last = ((count - 3) / 3) * 3 + 1;
    for (int i = 1; i <= last; i += 3) {
        set_move_point(i);
        compute_increments();
        set_reference_message(LABEL_DRILL);
        add_move_time();
        if (i == 1 && configuration_store.blklen[BLOCK_CYCLE_START] > 0) run_block(BLOCK_CYCLE_START);
        hole_block(type == CYCLE_TAP);
        add_hole_time(type >= CYCLE_TAP && type <= CYCLE_RIGID_TAP);
        commit_current_position();
    }
    end_cycle_output();
    cs.cycle_type = 0;
}

// --- helical cycles ------------------------------------------------------------------

namespace {

// A straight move of a helical cycle to a point in output units.
void helix_linear_move(const point3& target) {
    std::array<double, 3> values = {target[1], target[2], target[3]};
    set_position_from_point(std::span<const double>(values.data(), values.size()), 1, 0);
    compute_increments();
    const array1<int, 8>& inc = motion_state.increments;
    if (inc[1] != 0 || inc[2] != 0 || inc[3] != 0) {
        if (get_intsp(37) > 0) crc();
        gset(2, SETWRD_SET_REQUEST);
        set_xyz_words();
        fedrat();
        add_move_time();
        run_block(BLOCK_MOVE_LINEAR);
    }
    commit_current_position();
}

point3 plane_point(const cycle_plane_t& pl, double first, double second, double axial) {
    point3 p;
    p[pl.first_axis] = first;
    p[pl.second_axis] = second;
    p[pl.axial] = axial;
    return p;
}

// The feed of the helix's next moves in the unit the cutfile gives it, so
// that their feed words, any conversion and their times follow that unit.
void use_helix_feed(double feed, int per_revolution) {
    feed_state.feedrate = feed;
    motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = per_revolution ? 0 : 1;
    fedrat();
}

void set_radius_word(int value) {
    const int w = key_word(32);
    if (has_word(w)) setwrd(w, value, SETWRD_SET);
}

// The centre of the helix arc about to be written, kept where the arcs of a
// circle record keep theirs (elements 4..6 of the position), so that a
// block reads it as xcentre, ycentre and zcentre.
void place_helix_arc_centre(const point3& centre) {
    motion_state_t& m = motion_state;
    for (int k = 1; k <= 3; ++k) {
        m.position[k + 3] = centre[k];
        m.position_units[k + 3] = word_integer(centre[k], axis_mult(k));
    }
}

// Helical drilling: down k full turns from the clearance, a partial turn,
// the exit arcs and the move back to the centre. The retract form enters
// with a lead-in quarter arc at the bottom and climbs instead.
// The value of a centre word of a helix arc that starts at the current
// position, about the centre's coordinate `centre` along axis `axis`.
int helix_centre_value(int w, int axis, double centre) {
    if (!has_word(w)) return 0;
    return arc_centre_value(w, axis, motion_state.position_units[axis], word_integer(centre, axis_mult(axis)), centre);
}

void output_helix(const point3& hole, double a, double b, const point3& v, double c, const point3& start,
                  const cycle_plane_t& pl, int retract, int& status) {
    status = -1;
    (void)v;  // the tool axis lies along the helix's axial index
    ppword_state_t& pw = ppword_state;
    if (pw.compensation_state != COMPENSATION_OFF) set_status_flag(22, 1);
    circle_state.incremental_centre_mode = get_intsp(28) == 1 ? 1 : 0;
    circle_state.arc_reversed = 0;
    if (get_gcode_value(FUNCTION_CIRCLE_CCW) == UNSET_CODE && !function_has_word(FUNCTION_CIRCLE_CW)) {
        issue_message(129);
    }
    const int x = coordinate_word(1), y = coordinate_word(2), z = coordinate_word(3);
    const double mult = MULT(key_word(8));
    const double mult_r = MULT(key_word(32));
    const double h1 = hole[pl.first_axis], h2 = hole[pl.second_axis];
    const double s_axial = start[pl.axial];
    // A pitch of 0 makes no full turns: the whole depth is the partial turn.
    const int turns = c != 0.0 ? truncate_to_int(std::fabs(b) / std::fabs(c)) : 0;

    // The centre the cycle's arcs place is the cycle's own: the one held
    // before comes back after them.
    const motion_state_t kept = motion_state;

    // Three feeds, each in its own unit: the feed in force, the toolpath's
    // first feed (the way in and out) and the cycle's feed.
    int& per_minute = motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG];
    const double programmed = feed_state.feedrate;
    const int programmed_per_minute = per_minute;
    const int row = toolpath_row(current_toolpath_index());
    const double first_feed = toolpath_tables.toolpath_first_feed[row];
    const int first_per_revolution = toolpath_tables.toolpath_first_feed_per_revolution[row];
    const int keep_compensation = pw.compensation_state;
    use_helix_feed(first_feed, first_per_revolution);
    request_feed_word();

    double axial_now = s_axial;
    double step = std::fabs(c);
    if (retract == 0) {
        helix_linear_move(plane_point(pl, h1, h2, s_axial));
        use_helix_feed(cycle_parameters.feed, cycle_parameters.feed_per_revolution);
        request_feed_word();
        helix_linear_move(start);
    } else {
        const double u = 1.0 / mult;
        helix_linear_move(plane_point(pl, h1 + 2 * u, h2 - 2 * u, s_axial));
        helix_linear_move(plane_point(pl, h1, h2, s_axial));
        helix_linear_move(plane_point(pl, h1, h2, s_axial - std::fabs(b) + a));
        use_helix_feed(programmed, programmed_per_minute == 0);
        // Lead-in quarter arc in the plane of the tool axis and the first
        // plane axis, from the plunge point down onto the helix radius.
        cycle_plane_t side;
        cycle_plane_words(pl.second_axis, side);
        gset(side.plane_function, SETWRD_SET_REQUEST);
        gset(FUNCTION_CIRCLE_CW, SETWRD_SET_REQUEST);
        const point3 centre = plane_point(pl, h1 + a, h2, s_axial - std::fabs(b) + a);
        const point3 end = plane_point(pl, h1 + a, h2, s_axial - std::fabs(b));
        const int centre_words[4] = {0, key_word(11), key_word(12), key_word(13)};
        for (int k = 1; k <= 3; ++k) {
            if (!has_word(centre_words[k])) continue;
            setwrd(centre_words[k], helix_centre_value(centre_words[k], k, centre[k]), SETWRD_SET);
        }
        request_arc_centre_words(circle_state.incremental_centre_mode, side.first_centre_word,
                                 side.second_centre_word);
        request_arc_axis_words(get_intsp(20), side.first_word, side.second_word);
        set_radius_word(nearest_int(mult_r * a));
        set_helix_point_words(end, x, y, z);
        fedrat();
        place_helix_arc_centre(centre);
        run_block(BLOCK_MOVE_CIRCLE);
        commit_current_position();
        gset(pl.plane_function, SETWRD_SET_REQUEST);
        axial_now = s_axial - std::fabs(b);
        step = -std::fabs(c);
    }
    gset(FUNCTION_CIRCLE_CCW, SETWRD_SET_REQUEST);

    // Each arc about the hole, or about the point (centre1, centre2) of the
    // plane for the last of the exit arcs.
    auto arc_to = [&](double first, double second, double axial, double centre1, double centre2, int radius) {
        if (helix_as_lines() && word_integer(axial, axis_mult(pl.axial)) != motion_state.position_units[pl.axial]) {
            // A turn that rises, for a control whose arcs take no helix:
            // straight moves about the hole, then arcs again.
            gset(FUNCTION_CIRCLE_CCW, SETWRD_CANCEL);
            output_helix_as_lines(plane_point(pl, h1, h2, axial), plane_point(pl, first, second, axial),
                                  pl.first_axis, pl.second_axis, pl.axial);
            gset(FUNCTION_CIRCLE_CCW, SETWRD_SET_REQUEST);
            return;
        }
        set_radius_word(radius);
        place_helix_arc_centre(plane_point(pl, centre1, centre2, axial));
        output_helix_arc(plane_point(pl, first, second, axial),
                         helix_centre_value(pl.first_centre_word, pl.first_axis, centre1),
                         helix_centre_value(pl.second_centre_word, pl.second_axis, centre2), x, y, z, pl.first_word,
                         pl.second_word, pl.first_centre_word, pl.second_centre_word, key_word(32));
        commit_current_position();
    };
    for (int k = 1; k <= turns; ++k) {
        axial_now -= step;
        arc_to(h1 + a, h2, axial_now, h1, h2, -nearest_int(mult_r * a));
    }
    const double target = retract == 0 ? s_axial - b : s_axial;
    double rest = std::fabs(std::fabs(b) - std::fabs(c) * turns);
    double g = 0.0, x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
    helix_quarter_points(rest, a, c != 0.0 ? c : 1.0, g, x1, y1, x2, y2);
    if (c == 0.0) {
        // Without a pitch the partial turn is no turn at all.
        x1 = a;
        y1 = 0.0;
        x2 = a * g;
        y2 = 0.0;
    }
    if (rest > HELIX_EPSILON) {
        int radius = nearest_int(mult_r * a);
        if (c != 0.0 && rest / c > 0.5) radius = -radius;
        arc_to(h1 + x1, h2 + y1, target, h1, h2, radius);
    }
    // Exit arcs: half a turn over, back, and a small arc off the wall.
    arc_to(h1 - x1, h2 - y1, target, h1, h2, word_integer(a, mult_r));
    arc_to(h1 + x1, h2 + y1, target, h1, h2, word_integer(a, mult_r));
    arc_to(h1 + x2, h2 + y2, target, (1 - g) * x1 + h1, (1 - g) * y1 + h2, word_integer(a * g, mult_r));

    // Back to the centre with compensation off.
    pw.compensation_state = COMPENSATION_OFF;
    set_status_flag(22, 1);
    helix_linear_move(plane_point(pl, h1, h2, target));
    if (retract == 0) {
        use_helix_feed(first_feed, first_per_revolution);
        helix_linear_move(plane_point(pl, h1, h2, s_axial));
    }
    feed_state.feedrate = programmed;
    per_minute = programmed_per_minute;
    pw.compensation_state = keep_compensation;
    motion_state_t& m = motion_state;
    for (int k = 4; k <= 6; ++k) {
        m.position[k] = kept.position[k];
        m.previous_position[k] = kept.previous_position[k];
        m.committed_position[k] = kept.committed_position[k];
        m.position_units[k] = kept.position_units[k];
        m.previous_position_units[k] = kept.previous_position_units[k];
        m.increments[k] = kept.increments[k];
    }
    status = 0;
}

}  // namespace

void output_helical_cycle(const point3& hole, double radius, double depth, double clearance,
                          const point3& tool_axis, double pitch, int type, int& status) {
    status = -1;
    pending_move_flags.rapid_pending = 0;
    int axis = 2;
    if (std::fabs(tool_axis[3]) >= ARC_AXIS_TOLERANCE) {
        axis = 3;
    } else if (std::fabs(tool_axis[1]) >= ARC_AXIS_TOLERANCE) {
        axis = 1;
    }
    cycle_plane_t plane;
    cycle_plane_words(axis, plane);
    gset(plane.plane_function, SETWRD_SET_REQUEST);
    point3 start;
    start[plane.first_axis] = hole[plane.first_axis] + radius;
    start[plane.second_axis] = hole[plane.second_axis];
    start[plane.axial] = clearance;
    point3 v;
    for (int i = 1; i <= 3; ++i) v[i] = std::fabs(tool_axis[i]);
    if (type == CYCLE_HELICAL_DRILL) {
        output_helix(hole, radius, depth, v, pitch, start, plane, 0, status);
    } else if (type == CYCLE_HELICAL_RETRACT_DRILL) {
        output_helix(hole, radius, depth, v, pitch, start, plane, 1, status);
    }
}

}  // namespace kv
