// Tape limits and splitting: segments and numbered next tapes when a length or
// block count is reached, the split at a tool change and after a multi-axis
// block, the program end of a tape, and the cutting time per tool.
#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

tape_state_t tape_state;
next_tape_name_t next_tape_name;

namespace {

// Blocks run by the tape routines.
constexpr int BLOCK_TAPE_START = 1;
constexpr int BLOCK_TAPE_END = 2;
constexpr int BLOCK_MOVE_LINEAR = 11;
constexpr int BLOCK_MOVE_RAPID = 12;
constexpr int BLOCK_TAPE_SEGMENT = 15;
constexpr int BLOCK_TAPE_SPLIT_START = 16;
constexpr int BLOCK_TAPE_SPLIT_END = 17;
constexpr int BLOCK_TAPE_SPLIT_MOVE = 20;

// Segment types ("segment type", intsp 60).
constexpr int SEGMENT_BY_TAPE_LENGTH = 0;
constexpr int SEGMENT_BY_CUT_LENGTH = 1;
constexpr int SEGMENT_BY_BLOCKS = 2;
constexpr int SEGMENT_IN_CHARACTERS = 3;

// Functions, keys and flags.
constexpr int RAPID_FUNCTION = 1;
constexpr int LINEAR_FUNCTION = 2;
constexpr int ABSOLUTE_FUNCTION = 14;
constexpr int INCREMENTAL_FUNCTION = 15;
constexpr int COOLANT_OFF_FUNCTION = 53;
constexpr int TOOL_NUMBER_KEY = 20;
constexpr int TOOL_LENGTH_KEY = 24;
constexpr int ABSOLUTE_FLAG = 21;

constexpr double LIMIT_UNSET = 0.001;   // lengths at or below this set no limit
constexpr int RAPID_MAJOR_WORD = 5;
constexpr int TOOL_CHANGE_MAJOR_WORD = 1055;
constexpr int LABEL_PROGRAM_END = 13;   // reference label "PROGRAM END"
constexpr int NEXT_TAPE_NAME_SHOWN = 64;

int tape_unit() { return job_files.file_units[unit_slot(FILE_TAPE)]; }
int tape_has_default_extension() { return trimmed_length(job_files.file_extensions[FILE_TAPE].view()) > 0 ? 1 : 0; }
int blocks_items(int b) { return configuration_store.blklen[b]; }

// Whether tape length i has reached a limit given in characters, or in feet.
bool tape_reaches(int i, double limit, int in_characters) {
    if (in_characters) return static_cast<double>(tape_state.tape_characters[i]) >= limit;
    return tape_feet(i) >= limit;
}

// Retract before a segment or a split: Z up by the retract distance, or to
// the FROM point's Z when that distance is negative.
void retract_for_split(int d) {
    if (d == 0) return;
    const int z_word = key_word(10);
    int z = motion_state.position_units[3];
    if (d > 0) {
        z += d;
    } else {
        z = truncate_to_int(static_cast<double>(MULT(z_word)) * pass1_results.from_position[3]);
    }
    motion_state.position_units[3] = z;
    if (z != motion_state.previous_position_units[3]) {
        compute_increments();
        if (get_intsp(38) == 1) fedrat();
        set_xyz_words();
        gset(RAPID_FUNCTION, SETWRD_SET_REQUEST);
        run_block(BLOCK_MOVE_RAPID);
    }
}

// The feed word at the cutfile's feed in force, even where a rapid is
// pending: a move back into the cut goes at a feed a record gave.
void request_feed_in_force() {
    const int rapid_before = pending_move_flags.rapid_pending;
    pending_move_flags.rapid_pending = 0;
    fedrat();
    pending_move_flags.rapid_pending = rapid_before;
}

// A move to a point of the re-approach or back from a segment's retract, at
// rapid or at the feed in force; all three coordinates are written.
void move_to_kept(int x, int y, int z, int rapid) {
    motion_state_t& m = motion_state;
    m.output_mode_flags[FORCE_XYZ_FLAG] = 1;
    m.position_units[1] = x;
    m.position_units[2] = y;
    m.position_units[3] = z;
    if (rapid) {
        const int rapid_before = pending_move_flags.rapid_pending;
        pending_move_flags.rapid_pending = 1;
        request_rapid_code();
        compute_increments();
        set_xyz_words();
        run_block(BLOCK_MOVE_RAPID);
        pending_move_flags.rapid_pending = rapid_before;
    } else {
        request_feed_in_force();
        gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
        compute_increments();
        set_xyz_words();
        run_block(BLOCK_MOVE_LINEAR);
    }
}

// The move back down to the kept point after a retract.
void return_to_kept_point(const array1<int, 3>& kept) { move_to_kept(kept[1], kept[2], kept[3], 0); }

// After a segment or a split the machine stands at the kept point again,
// whatever the blocks of the tape end and start did on the way: the next
// move's increments are taken from there.
void back_at_kept_point(const array1<int, 3>& kept) {
    for (int i = 1; i <= 3; ++i) motion_state.previous_position_units[i] = kept[i];
}

void make_segment(int d, const array1<int, 3>& kept) {
    retract_for_split(d);
    run_block(BLOCK_TAPE_SEGMENT);
    if (d != 0) return_to_kept_point(kept);
    back_at_kept_point(kept);
}

// The end of one tape and the start of the next, as the split of the limit
// check and of a tool change share it; the new tape states its coordinate
// mode (absolute when `absolute`, else incremental).
void end_tape_and_start_next(int at_tool_change, int absolute) {
    // The tool change that splits has set the tool word for its own block,
    // which runs on the new tape: the blocks of the split must not lose it.
    const int tool_word = key_word(TOOL_NUMBER_KEY);
    const int has_tool_word = has_word(tool_word);
    const int tool_value = has_tool_word ? word_output_state.word_value[tool_word] : 0;
    const int tool_requested = has_tool_word ? word_output_state.word_request[tool_word] : 0;

    if (blocks_items(BLOCK_TAPE_SPLIT_END) > 0) {
        run_block(BLOCK_TAPE_SPLIT_END);
    } else {
        output_program_end();
    }
    start_next_tape();
    if (!at_tool_change) setwrd(tool_word, 0, SETWRD_SET);
    if (blocks_items(BLOCK_TAPE_SPLIT_START) > 0) {
        run_block(BLOCK_TAPE_SPLIT_START);
    } else {
        get_date_time_text(run_state.run_date_time.span());
        start_tape(run_state.run_date_time.view());
        run_block(BLOCK_MOVE_LINEAR);
    }
    write_coordinate_mode(absolute);
    if (at_tool_change && has_tool_word)
        setwrd(tool_word, tool_value, tool_requested ? SETWRD_SET_REQUEST : SETWRD_SET);
}

// The new tape starts where the machine has been sent back to its reference
// point: it goes to the kept point in absolute coordinates with the current
// tool's length offset. When the kept point lies below the start height of
// the current tool (its FROM point), a rapid to the kept X and Y at that
// height comes first, so that no rapid crosses the part. The tool then goes
// to the kept point the way it came there: at rapid when a rapid brought it,
// else at the cutfile's feed in force.
void reapproach_kept_point(const array1<int, 3>& kept) {
    // The tool index counts from 1 here, as it does for the cutting times.
    const int row = toolpath_row(current_tool_index());
    const int z_start = truncate_to_int(static_cast<double>(MULT(key_word(10))) *
                                        toolpath_tables.toolpath_start[row][3]);
    const int by_rapid = tape_state.last_move_cuts == 0;
    setwrd(key_word(TOOL_LENGTH_KEY), tool_state.tool_change_ints[2], SETWRD_SET);
    tool_state.tool_offset_ints[TOOL_CHANGED] = 1;
    output_tool_length_offset();
    if (kept[3] < z_start) {
        move_to_kept(kept[1], kept[2], z_start, 1);
        output_pending_codes();  // the coolant, with the move back into the cut
    }
    move_to_kept(kept[1], kept[2], kept[3], by_rapid);
}

void make_split(int d, const array1<int, 3>& kept) {
    tape_state.tape_characters[3] = 0;
    retract_for_split(d);
    const int own_move = blocks_items(BLOCK_TAPE_SPLIT_MOVE) > 0;
    const int job_absolute = get_state_flag(ABSOLUTE_FLAG) != 0;
    // Our own re-approach is written in absolute coordinates.
    end_tape_and_start_next(0, own_move ? job_absolute : 1);
    if (!own_move) set_status_flag(ABSOLUTE_FLAG, 1);
    restate_spindle_on_new_tape();

    // The spindle code and its speed go out again on the new tape, and so
    // does a coolant that was on: the old tape's program end stopped both,
    // and the new tape may be the first the machine runs after a restart.
    array1<int, 4>& codes = tool_state.pending_code_flags;
    codes[SPINDLE_STOPPED] = 1;
    codes[SPINDLE_PENDING] = 1;
    if (tool_state.spindle_values[1] != 0.0) tool_state.spindle_speed_owed = 1;
    if (codes[COOLANT_WRITTEN] != 0 && tool_state.pending_gfunction != COOLANT_OFF_FUNCTION) {
        codes[COOLANT_WRITTEN] = 0;
        codes[COOLANT_PENDING] = 1;
    }
    output_pending_codes();
    if (own_move) {
        request_feed_in_force();
        gset(LINEAR_FUNCTION, SETWRD_SET_REQUEST);
        run_block(BLOCK_TAPE_SPLIT_MOVE);
        back_at_kept_point(kept);
        return;
    }
    reapproach_kept_point(kept);
    back_at_kept_point(kept);
    if (!job_absolute) {
        set_status_flag(ABSOLUTE_FLAG, 0);
        write_coordinate_mode(0);
    }
}

}  // namespace

void write_coordinate_mode(int absolute) {
    gset(absolute ? ABSOLUTE_FUNCTION : INCREMENTAL_FUNCTION, SETWRD_SET_REQUEST);
    write_block_or_stop(WRITE_BLOCK_PENDING);
}

double tape_feet(int i) { return static_cast<double>(tape_state.tape_characters[i]) / CHARACTERS_PER_FOOT; }

int tape_character_count(int i) {
    const std::int64_t c = tape_state.tape_characters[i];
    return c > INT_MAX ? INT_MAX : static_cast<int>(c);
}

namespace {

// Whether a move of the cutfile at feed is still to come: the current record
// is the last that cuts or one before it. After a move of the current
// record only what follows it counts: a later record, or further points of
// the same cutting move (points_follow).
int cutting_follows(int after_move, int points_follow) {
    const int r = cldata_records_taken();
    const int last = pass1_results.last_cutting_record;
    if (after_move) return r < last || (r == last && points_follow != 0);
    return r <= last;
}

// A split never leaves a tape without cutting: the tape it ends has cut
// since it began, and a move at feed is still to come for the next one.
// Until both hold, a limit that is reached stays reached, and the split is
// taken at the first check where they do: at the end of the job the last
// tape takes the last few lines beyond its limit rather than a new tape
// that would only go back to the cut and leave again.
int split_keeps_cutting(int after_move, int points_follow) {
    return tape_state.cut_on_tape != 0 && cutting_follows(after_move, points_follow);
}

void check_tape_limits(int after_move, int points_follow) {
    const double max_length = real_option(5);
    const double max_segment = real_option(8);
    int type = get_intsp(60);
    // Segment type 3 gives both lengths in characters: they are compared with
    // the characters written, and held to the unset limit in feet.
    const int in_characters = type == SEGMENT_IN_CHARACTERS ? 1 : 0;
    const double per_foot = in_characters ? CHARACTERS_PER_FOOT : 1.0;
    if (in_characters) type = SEGMENT_BY_TAPE_LENGTH;
    const int min_blocks = get_intsp(58);
    const int max_blocks = get_intsp(57);
    const int segment_set = max_segment / per_foot > LIMIT_UNSET;
    if (max_length / per_foot <= LIMIT_UNSET && !segment_set && max_blocks == 0) return;

    const int d = MULT(key_word(10)) * get_intsp(63);
    // Segments and splits start from the last point written, where the tape
    // has put the machine; the current position (which a FROM record or a
    // go home taken over without a line may have moved) is the next move's
    // again afterwards.
    motion_state_t& m = motion_state;
    array1<int, 3> kept;
    array1<int, 3> current;
    for (int i = 1; i <= 3; ++i) {
        kept[i] = m.previous_position_units[i];
        current[i] = m.position_units[i];
    }
    int made = 0;
    // A segment or a split (make) runs from the kept point.
    const auto cut_tape = [&](void (*make)(int, const array1<int, 3>&)) {
        for (int i = 1; i <= 3; ++i) m.position_units[i] = kept[i];
        make(d, kept);
        made = 1;
    };

    int& written = block_writer.block_lines_written;
    int n = 0;
    if (type == SEGMENT_BY_BLOCKS) {
        n = max_blocks - blocks_items(BLOCK_TAPE_SEGMENT);
        if (n > 0 && written >= n) {
            written = 0;
            cut_tape(make_segment);
        } else if (min_blocks > 0 && written >= min_blocks &&
                   (pending_move_flags.rapid_pending != 0 ||
                    (cldata_class() == 2000 && cldata_subclass() == TOOL_CHANGE_MAJOR_WORD))) {
            // The segment goes where no later rapid would serve. The search
            // reaches no further than the blocks left before the maximum and
            // the look-ahead: a limit of 0 searches without limit, and one
            // below 0 (no maximum left) finds nothing, so the segment is made.
            const int limit = std::min(3 * (n - written), 3 * get_intsp(65));
            int k = 0;
            if (find_record_ahead(2000, RAPID_MAJOR_WORD, 0, 0, k, limit) == 0) {
                written = 0;
                cut_tape(make_segment);
            }
        }
    } else {
        n = max_blocks - (blocks_items(BLOCK_TAPE_SPLIT_END) + blocks_items(BLOCK_TAPE_SPLIT_START));
        if (type == SEGMENT_BY_TAPE_LENGTH) {
            if (segment_set && tape_reaches(3, max_segment, in_characters)) {
                tape_state.tape_characters[3] = 0;
                cut_tape(make_segment);
            }
        } else if (type == SEGMENT_BY_CUT_LENGTH) {
            if (segment_set && motion_state.cut_length >= max_segment) {
                motion_state.cut_length = 0.0;
                cut_tape(make_segment);
            }
        }
    }

    const int blocks_full = n >= 1 && written >= n;
    const int length_full = !blocks_full && max_length != 0.0 && tape_reaches(2, max_length, in_characters);
    if ((blocks_full || length_full) && split_keeps_cutting(after_move, points_follow)) {
        if (blocks_full) written = 0;
        else tape_state.tape_characters[2] = 0;
        cut_tape(make_split);
    }
    if (made) {
        for (int i = 1; i <= 3; ++i) m.position_units[i] = current[i];
    }
}

}  // namespace

void check_tape_split() { check_tape_limits(0, 0); }

void check_tape_split_after_move(int points_follow) { check_tape_limits(1, points_follow); }

void note_tape_move() {
    const pending_move_flags_t& f = pending_move_flags;
    const int cuts = !f.rapid_pending || f.circle_pending || f.cycle_pending || f.spline_a_pending || f.spline_b_pending;
    tape_state.last_move_cuts = cuts;
    if (cuts) tape_state.cut_on_tape = 1;
}

void split_tape_when_full() {
    const double max_length = real_option(5);
    if (max_length == 0.0 || tape_feet(1) < max_length) return;
    // Only the moves of later records count here: the steps of the current
    // record stay on this tape.
    if (!split_keeps_cutting(1, 0)) return;

    const int x_word = key_word(8), y_word = key_word(9), z_word = key_word(10);
    const int azimuth_word = key_word(36), elevation_word = key_word(37);
    const int feed_word = key_word(16), spindle_word = key_word(19);
    auto value_of = [](int w) { return w >= 1 && w <= MAXWORDS ? word_output_state.word_value[w] : 0; };
    const int kept_x = value_of(x_word), kept_y = value_of(y_word), kept_z = value_of(z_word);
    const int kept_azimuth = value_of(azimuth_word), kept_elevation = value_of(elevation_word);
    const int kept_feed = value_of(feed_word), kept_spindle = value_of(spindle_word);

    // Retract along the tool axis by the withdrawal amount.
    vector3 displacement;
    tool_axis_machine_displacement(displacement);
    array1<int, 3> retract;
    for (int i = 1; i <= 3; ++i) {
        retract[i] = word_integer(motion_state.position[i] + machine_model.withdrawal * displacement[i], axis_mult(i));
    }
    gset(2, 2);
    setwrd(x_word, retract[1], 2);
    setwrd(y_word, retract[2], 2);
    setwrd(z_word, retract[3], 2);
    run_block(BLOCK_MOVE_LINEAR);

    output_program_end();
    start_next_tape();
    tape_state.tape_characters[1] = 0;
    tape_state.tape_counter += 1;
    configuration_store.intsp[32] = -1;
    run_block(BLOCK_TAPE_START);
    tape_state.tape_characters[2] = 0;

    gset(get_state_flag(21) != 0 ? 14 : 15, 3);
    end_record_block(1);
    setwrd(spindle_word, kept_spindle, 3);
    mset(tool_state.spindle_mfunction, 3);
    end_record_block(1);
    gset(1, 3);
    setwrd(azimuth_word, kept_azimuth, 3);
    setwrd(elevation_word, kept_elevation, 3);
    end_record_block(1);

    switch (machine_model.machine_type) {
    case MACHINE_TABLE_TABLE:
        setwrd(x_word, kept_x, 2);
        setwrd(y_word, kept_y, 2);
        gset(1, 2);
        run_block(BLOCK_MOVE_RAPID);
        setwrd(z_word, retract[3], 2);
        if (get_intsp(15) == 1) {
            setwrd(key_word(24), tool_state.tool_change_ints[2], 3);
            gset(35, 2);
        }
        end_record_block(1);
        setwrd(z_word, kept_z, 2);
        gset(2, 2);
        setwrd(feed_word, kept_feed, 3);
        break;
    case MACHINE_HEAD_TABLE:
    case MACHINE_HEAD_HEAD:
        setwrd(x_word, retract[1], 2);
        setwrd(y_word, retract[2], 2);
        setwrd(z_word, retract[3], 2);
        gset(1, 2);
        end_record_block(1);
        gset(2, 2);
        setwrd(feed_word, kept_feed, 3);
        setwrd(x_word, kept_x, 2);
        setwrd(y_word, kept_y, 2);
        setwrd(z_word, kept_z, 2);
        break;
    default:
        pending_move_flags.rapid_pending = 0;
        return;
    }
    end_record_block(1);
    pending_move_flags.rapid_pending = 0;
}

int split_tape_at_tool_change() {
    tape_state.tool_changes_seen += 1;
    if (get_intsp(25) == 0) return 0;
    if (tape_state.tool_changes_seen > 1) end_tape_and_start_next(1, get_state_flag(ABSOLUTE_FLAG) != 0);
    return 1;
}

namespace {

// The name of numbered tape k from the pieces of the analysed name.
std::string numbered_tape_name(int k) {
    const next_tape_name_t& t = next_tape_name;
    // The number takes as many digits as it has: past 999 it grows a digit
    // (part.1000, part1000.tap) rather than wrap onto a name written before.
    const std::string number_text = std::to_string(k);
    std::string name;
    if (t.fixed != 0) {
        name.assign(t.base.view().substr(0, static_cast<std::size_t>(std::max(0, t.base_length))));
        name += number_text;
        if (trimmed_length(t.extension.view()) > 0) {
            name += '.';
            name += trimmed(t.extension.view());
        }
    } else if (t.default_extension != 0) {
        std::string field(t.number_field.view());
        if (number_text.size() >= field.size()) {
            field = number_text;
        } else {
            field.replace(field.size() - number_text.size(), number_text.size(), number_text);
        }
        name.assign(trimmed(t.base.view()));
        name.resize(static_cast<std::size_t>(std::max(0, t.base_length - 3)), ' ');
        name += field;
    } else {
        name.assign(t.base.view().substr(0, static_cast<std::size_t>(std::max(0, t.base_length))));
        while (!name.empty() && name.back() == ' ') name.pop_back();
        name += number_text;
    }
    return name;
}

// Analyses the tape name once: every numbered tape of the run takes its
// pieces.
void analyse_tape_name(std::string_view current, int fixed, int default_extension) {
    next_tape_name_t& t = next_tape_name;
    int& number = tape_state.tape_number;
    if (t.analysed != 0) return;
    t.analysed = 1;
    const std::string_view name = trimmed(current);
    t.first_name.set(name);
    t.fixed = fixed;
    int n = std::max(3, static_cast<int>(name.size()));
    t.base.set(name);
    t.extension.clear();
    t.number_field.set("t00");
    t.number_field[1] = n - 2 <= static_cast<int>(name.size()) && n - 2 >= 1 ? name[n - 3] : 't';
    t.default_extension = default_extension;
    if (fixed != 0) {
        const int dot = find_last_char(name, '.');
        if (dot > 0) {
            t.extension.set(name.substr(static_cast<std::size_t>(dot), 3));
            t.base.set(name.substr(0, static_cast<std::size_t>(dot - 1)));
            n = dot - 1;
        }
    }
    // The number field counts a short name as three characters; the name
    // itself keeps its own length.
    if (fixed == 0 || find_last_char(name, '.') == 0) n = static_cast<int>(name.size());
    t.base_length = n;
    // A name that ends in a digit continues its numbering.
    const int last = n;
    const char c = last >= 1 ? t.base[last] : ' ';
    if (c >= '1' && c <= '9') {
        number = c - '0' + 1;
        if (fixed != 0 || default_extension == 0) {
            t.base[last] = ' ';
            t.base_length = last - 1;
        }
    }
}

}  // namespace

void compose_next_tape_name(std::string_view current, int fixed, int default_extension, std::span<char> result) {
    next_tape_name_t& t = next_tape_name;
    int& number = tape_state.tape_number;
    analyse_tape_name(current, fixed, default_extension);

    // A number whose name is that of the run's first tape (part.t10 numbers
    // on from part.t01 up to its own name) is passed over: no tape of a run
    // takes the place of another.
    std::string name;
    do {
        name = numbered_tape_name(number);
        number += 1;
    } while (name == trimmed(t.first_name.view()));
    assign_text(result, name);
}

void start_next_tape() {
    tape_state.tape_counter += get_intsp(78);
    // A machine that starts the new tape is in no mode the tape has told it.
    word_output_state.tape_data_mode = DATA_MODE_UNKNOWN;
    derived_settings.sequence_number = get_intsp(22);
    tape_state.cut_on_tape = 0;

    text<FILE_NAME_LEN> next;
    compose_next_tape_name(job_files.file_names[FILE_TAPE].view(), job_files.fixed_tape, tape_has_default_extension(),
                           next.span());

    int& unit = job_files.file_units[unit_slot(FILE_TAPE)];
    int status = 0;
    text<FILE_NAME_LEN> full;
    if (unit == tty_unit() || is_null_unit(unit)) {
        // A tape on standard output or the null device goes on there: it has
        // no file to finish and no file to number.
        full = job_files.file_names[FILE_TAPE];
    } else {
        // The tape is closed and set aside under its unfinished name: the
        // tapes of a split take their names together when the run ends well
        // (finish_job_outputs), and a run that fails leaves the tapes of the
        // run before as they were. One that did not reach the disk whole
        // ends the run rather than leave a cut tape behind.
        set_unit_aside(unit, status);
        if (status != 0) issue_message(217);
        if (status == IO_FAILED) {
            issue_message(221);
            stop_run(EXIT_RUN_ERROR);
        }
        build_file_name(full.span(), next.view(), "", "", status);
        job_files.file_names[FILE_TAPE] = full;
        // A failing open is not reported here: the next line written stops the
        // run with its write message.
        open_unit(unit, trimmed(full.view()), OPEN_WRITE, FORM_TEXT, status);
    }

    // A new tape is a program of its own: its start writes its modal codes
    // and every axis again, whatever the last tape left in force.
    clear_modal_memory();
    mark_axes_unwritten();

    set_message_real_arg(1, tape_feet(1));
    set_message_int_arg(1, tape_character_count(1));
    set_message_string_arg(1, full.view().substr(0, NEXT_TAPE_NAME_SHOWN));
    issue_message(218);
}

namespace {

// Whether the run's tapes are a set: its control cuts its tape (a tape
// limit, a split at tool changes) or it split it. A set is finished with its
// record, by which a later run of the set removes the numbered tapes it does
// not write again; a run whose control never cuts its tape owns no numbered
// names, and files that look like them are none of its business.
int tapes_form_a_set() {
    return next_tape_name.analysed != 0 || real_option(5) > LIMIT_UNSET || get_intsp(57) > 0 || get_intsp(25) != 0;
}

}  // namespace

void finish_job_outputs() {
    static constexpr std::array<int, 3> kinds = {FILE_TAPE, FILE_PRINT, FILE_SETUP};
    const auto stop_unwritten = [](int status) {
        if (status == 0) return;
        issue_message(221);
        stop_run(EXIT_RUN_ERROR);
    };
    // Written out first, all of them: a full disk then leaves none finished.
    for (int kind : kinds) {
        const int unit = job_unit(kind);
        if (unit < 0 || is_null_unit(unit)) continue;
        int status = 0;
        flush_unit(unit, status);
        stop_unwritten(status);
    }
    // The tape joins the tapes of a split set aside before it, and all take
    // their names together.
    for (int kind : kinds) {
        int& unit = job_files.file_units[unit_slot(kind)];
        if (unit < 0 || is_null_unit(unit) || unit == tty_unit()) continue;
        int status = 0;
        if (kind == FILE_TAPE) {
            set_unit_aside(unit, status);
            unit = -1;
            stop_unwritten(status);
            if (tapes_form_a_set()) {
                // The set is named after its first tape.
                const text<FILE_NAME_LEN>& first =
                    next_tape_name.analysed != 0 ? next_tape_name.first_name : job_files.file_names[FILE_TAPE];
                finish_output_set(trimmed(first.view()), status);
            } else {
                finish_set_aside_outputs(status);
            }
            stop_unwritten(status);
            continue;
        }
        filclo(unit, status);
        unit = -1;
        stop_unwritten(status);
    }
}

void output_program_end() {
    end_record_block(0);
    set_reference_message(LABEL_PROGRAM_END);
    run_block(BLOCK_TAPE_END);
    const int code = get_intsp(73);
    if (code >= 1 && code <= 255) {
        const char c = static_cast<char>(code);
        write_line_or_stop(std::string_view(&c, 1), tape_unit());
    }
}

void apply_tool_reset_coordinates() {
    const int reset = get_intsp(16);
    if (reset == 1 || reset > 2) motion_state.output_mode_flags[FORCE_XYZ_FLAG] = 1;
    if (reset == 2) motion_state.output_mode_flags[FORCE_XY_FLAG] = 1;
}

// --- cutting times -------------------------------------------------------------------

void sort_integers(int count, std::span<const int> in, std::span<int> out, int& status) {
    if (count > MAX_SORTED_INTEGERS || count < 0 || static_cast<std::size_t>(count) > in.size() ||
        static_cast<std::size_t>(count) > out.size()) {
        status = 1;
        return;
    }
    status = 0;
    for (int i = 0; i < count; ++i) out[i] = in[i];
    for (int i = 0; i < count; ++i) {
        int smallest = i;
        for (int j = i + 1; j < count; ++j) {
            if (out[j] < out[smallest]) smallest = j;
        }
        std::swap(out[i], out[smallest]);
    }
}

namespace {

// The distinct tool numbers in ascending order: the first toolpath's always
// counts, later zero entries (no toolpath) do not.
int distinct_tools(array1<int, MAXTOOLPATHS>& tools) {
    array1<int, MAXTOOLPATHS> found;
    int count = 0;
    for (int i = 1; i <= MAXTOOLPATHS; ++i) {
        const int t = toolpath_tables.toolpath_tool_number[i];
        if (i > 1 && t == 0) continue;
        bool seen = false;
        for (int j = 1; j <= count && !seen; ++j) seen = found[j] == t;
        if (!seen) found[++count] = t;
    }
    int status = 0;
    sort_integers(count, std::span<const int>(found.data(), MAXTOOLPATHS), std::span<int>(tools.data(), MAXTOOLPATHS),
                  status);
    return count;
}

}  // namespace

int count_distinct_tools() {
    array1<int, MAXTOOLPATHS> tools;
    return distinct_tools(tools);
}

int tool_number_by_rank(int n, int& status) {
    array1<int, MAXTOOLPATHS> tools;
    const int count = distinct_tools(tools);
    if (n < 1 || n > count) {
        status = 1;
        return 0;
    }
    status = 0;
    return tools[n];
}

int list_toolpaths_of_tool(int tool, std::span<int> out) {
    int count = 0;
    for (int i = 1; i <= MAXTOOLPATHS; ++i) {
        if (toolpath_tables.toolpath_tool_number[i] != tool) continue;
        if (static_cast<std::size_t>(count) < out.size()) out[static_cast<std::size_t>(count)] = i;
        ++count;
    }
    return count;
}

namespace {

// A toolpath's machining time in minutes: the time its CUTTIM text command
// gives, else that of the moves written for it.
double toolpath_machining_time(int i) {
    const toolpath_tables_t& t = toolpath_tables;
    return t.toolpath_cldata_values[i][1] != 0.0 ? t.toolpath_cldata_values[i][1] : t.toolpath_move_minutes[i];
}

}  // namespace

void print_tool_cutting_times() {
    const int unit = job_files.file_units[unit_slot(FILE_SETUP)];
    array1<int, MAXTOOLPATHS> tools;
    const int count = distinct_tools(tools);
    for (int n = 1; n <= count; ++n) {
        double minutes = 0.0;
        for (int i = 1; i <= MAXTOOLPATHS; ++i) {
            if (toolpath_tables.toolpath_tool_number[i] == tools[n]) {
                minutes += toolpath_machining_time(i);
            }
        }
        set_message_int_arg(1, tools[n]);
        set_message_int_arg(2, nearest_int(minutes));
        write_message(unit, 251);
    }
    write_message(unit, 175);
}

double total_toolpath_time() {
    double total = 0.0;
    for (int i = 1; i <= MAXTOOLPATHS; ++i) total += toolpath_machining_time(i);
    return total;
}

}  // namespace kv
