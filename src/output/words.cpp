// The word state: values, requests and modal memory of the output words,
// their setting (setwrd, setwst), the status query wdstat, MULT, and the
// loading of the coordinate words from the current position.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

word_output_state_t word_output_state;

namespace {

constexpr int KEY_X = 8;
constexpr int KEY_Y = 9;
constexpr int KEY_Z = 10;
constexpr int KEY_AZIMUTH = 36;
constexpr int KEY_ELEVATION = 37;
constexpr int KEY_INCREMENTAL_X = 45;       // 46, 47 for Y and Z
constexpr int ABSOLUTE_COORDINATES_FLAG = 21;
constexpr int MESSAGE_VALUE_TOO_LARGE = 209;  // "Error : Real number too big to write"
constexpr int FUNCTION_ABSOLUTE_DATA = 14;
constexpr int FUNCTION_INCREMENTAL_DATA = 15;


// What an item that writes a word names (text-carrying forms included): a
// key (classes 1-9) or the word itself (classes 10-19), its number in
// `number`; NAMES_NOTHING for any other item.
enum item_target { NAMES_NOTHING, NAMES_KEY, NAMES_WORD };

item_target item_names(const block_item_t& item, int& number) {
    const int code = item.code;
    const int cls = (code / 1000) % 100;
    if (code < 0 || cls < 1 || cls > 19) return NAMES_NOTHING;
    number = code % 1000;
    return cls <= 9 ? NAMES_KEY : NAMES_WORD;
}

// Whether an item names the word of key k: a key item of the key, or a word
// item of the key's word.
bool item_names_key(const block_item_t& item, int k) {
    int n = 0;
    const item_target t = item_names(item, n);
    return t == NAMES_KEY ? n == k : t == NAMES_WORD && n == configuration_store.key[k];
}

// Whether an item names word w: a key item of a key that carries it, or an
// item of the word.
bool item_names_word(const block_item_t& item, int w) {
    int n = 0;
    const item_target t = item_names(item, n);
    return t == NAMES_KEY ? key_word(n) == w : t == NAMES_WORD && n == w;
}

// The items of block b (1..NUMBLOCKS), however many it holds, that a check
// may look at.
std::span<const block_item_t> block_items_of(int b) {
    if (b < 1 || b > NUMBLOCKS) return {};
    const configuration_store_t& cs = configuration_store;
    // Items past those laid down are empty ones, which name nothing.
    const std::span<const block_item_t> laid = cs.block_items[b].laid_entries();
    return laid.first(std::min(laid.size(), static_cast<std::size_t>(std::clamp(cs.blklen[b], 0, MAXITEMS))));
}

// The words a line names among those of the given keys are kept; the others
// lose their requests. The line runs from item start to the first item whose
// continuation digit is 0, or to item end.
void cancel_unnamed_words(block_items_view items, int end, int start,
                          std::span<const int> keys, bool (&named)[3]) {
    const configuration_store_t& cs = configuration_store;
    if (end > MAXITEMS) end = MAXITEMS;
    for (int k = start < 1 ? 1 : start; k <= end; ++k) {
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (item_names_key(items[k], keys[i])) named[i] = true;
        if (items[k].string_ref % 10 == 0) break;
    }
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (!named[i] && valid_word(cs.key[keys[i]])) setwrd(cs.key[keys[i]], 0, SETWRD_CANCEL);
}

}  // namespace

void init_word_state() {
    word_output_state_t& s = word_output_state;
    s.word_value.fill(0);
    s.word_value_type.fill(WORD_CARRIES_NUMBER);
    s.word_request.clear();
    s.word_next_request.fill(0);
    s.word_previous.fill(NO_PREVIOUS_VALUE);
    s.word_forced.fill(0);
    s.mode_code_owed = 0;
    s.tape_data_mode = DATA_MODE_UNKNOWN;
    s.absolute_move_written = 0;
    for (int w = 1; w <= MAXWORDS; ++w) {
        s.word_text[w].clear();
        s.word_previous_text[w].clear();
    }
}

void setwrd(int w, int v, int type) {
    if (w == NO_WORD) return;
    if (!valid_word(w)) {
        set_message_int_arg(1, w);
        set_message_int_arg(2, v);
        issue_message(141);
        return;
    }
    word_output_state_t& s = word_output_state;
    switch (type) {
    case SETWRD_SET:
        s.word_value[w] = v;
        s.word_value_type[w] = WORD_CARRIES_NUMBER;
        break;
    case SETWRD_REQUEST:
        s.word_request.add(w);
        s.word_value_type[w] = WORD_CARRIES_NUMBER;
        break;
    case SETWRD_SET_REQUEST:
        s.word_value[w] = v;
        s.word_request.add(w);
        s.word_value_type[w] = WORD_CARRIES_NUMBER;
        break;
    case SETWRD_SET_REQUEST_FORGET:
        s.word_value[w] = v;
        s.word_request.add(w);
        s.word_value_type[w] = WORD_CARRIES_NUMBER;
        s.word_previous[w] = NO_PREVIOUS_VALUE;
        break;
    case SETWRD_PERMANENT:
        configuration_store.wperm[w] = 1;
        derived_settings.permanent_words.add(w);
        s.word_request.add(w);
        break;
    case SETWRD_NOT_PERMANENT:
        configuration_store.wperm[w] = 0;
        derived_settings.permanent_words.remove(w);
        s.word_request.remove(w);
        break;
    case SETWRD_CANCEL:
    case -2:
        s.word_request.remove(w);
        break;
    case SETWRD_REQUEST_TEXT:
        s.word_request.add(w);
        s.word_value_type[w] = WORD_CARRIES_TEXT;
        break;
    case SETWRD_FORGET:
        s.word_previous[w] = NO_PREVIOUS_VALUE;
        s.word_previous_text[w].clear();
        s.word_value_type[w] = WORD_CARRIES_NUMBER;
        break;
    default:
        break;
    }
}

void setwst(int w, std::string_view text) {
    if (w == NO_WORD) return;
    if (!valid_word(w)) {
        set_message_string_arg(1, "setwst");
        set_message_int_arg(1, w);
        issue_message(174);
        return;
    }
    word_output_state.word_text[w].set(text);
    word_output_state.word_value_type[w] = WORD_CARRIES_TEXT;
}

int bad_group_in_mult(int w) {
    // A caller's fault, not the user's: one direct line, no numbered message.
    char line[64];
    std::snprintf(line, sizeof line, "Error(Internal): Bad group in MULT (%3d)", w);
    print_error_cstring(line);
    return 0;
}

int wdstat(int w, int kind) {
    if (!valid_word(w)) {
        issue_message(216);
        return w;
    }
    const word_output_state_t& s = word_output_state;
    switch (kind) {
    case WDSTAT_TYPE:
        return s.word_value_type[w];
    case WDSTAT_REQUESTED:
        return s.word_request[w];
    case WDSTAT_WILL_WRITE:
        if (configuration_store.word_formats[w][WRDMOD] == 0) return s.word_request[w];
        if (s.word_value_type[w] == WORD_CARRIES_TEXT)
            return text_equals(s.word_text[w], s.word_previous_text[w]) ? 0 : 1;
        return s.word_value[w] != s.word_previous[w] ? 1 : 0;
    case WDSTAT_VALUE:
        return s.word_value[w];
    case WDSTAT_PERMANENCE:
        return configuration_store.wperm[w];
    default:
        return w;
    }
}

void clear_modal_memory() {
    const configuration_store_t& cs = configuration_store;
    const int count = cs.active_word_count < MAXWORDS ? cs.active_word_count : MAXWORDS;
    for (int w = 1; w <= count; ++w)
        if (cs.word_formats[w][WRDMOD] == 1 && cs.wperm[w] == 0) word_output_state.word_previous[w] = NO_PREVIOUS_VALUE;
}

void set_coordinate_mode(int absolute) {
    const int was_absolute = get_state_flag(ABSOLUTE_COORDINATES_FLAG) != 0 ? 1 : 0;
    set_status_flag(ABSOLUTE_COORDINATES_FLAG, absolute != 0 ? 1 : 0);
    if (was_absolute == (absolute != 0 ? 1 : 0)) return;
    word_output_state.mode_code_owed = absolute != 0 ? FUNCTION_ABSOLUTE_DATA : FUNCTION_INCREMENTAL_DATA;
    // The values these words wrote last are of the other mode: a position
    // equal to an increment written before is still a move to be written.
    static constexpr int keys[] = {KEY_X, KEY_Y, KEY_Z, KEY_INCREMENTAL_X, KEY_INCREMENTAL_X + 1,
                                   KEY_INCREMENTAL_X + 2, KEY_AZIMUTH, KEY_ELEVATION};
    for (int k : keys) {
        const int w = configuration_store.key[k];
        if (valid_word(w)) setwrd(w, 0, SETWRD_FORGET);
    }
}

int coordinate_word(int a) {
    const configuration_store_t& cs = configuration_store;
    if (get_state_flag(ABSOLUTE_COORDINATES_FLAG) == 0) {
        const int incremental = cs.key[KEY_INCREMENTAL_X + a - 1];
        if (incremental != 0 && incremental != NO_WORD) return incremental;
    }
    return cs.key[KEY_X + a - 1];
}

namespace {

// The coordinate mode (1 absolute, 0 incremental) whose code word w carries
// for the next line, or DATA_MODE_UNKNOWN when it carries neither.
int data_mode_of_word(int w) {
    const configuration_store_t& cs = configuration_store;
    const word_output_state_t& s = word_output_state;
    if (s.word_value_type[w] != WORD_CARRIES_NUMBER) return DATA_MODE_UNKNOWN;
    for (int slot : {FUNCTION_ABSOLUTE_DATA, FUNCTION_INCREMENTAL_DATA})
        if (cs.icodes[1][slot] == w && cs.icodes[2][slot] != UNSET_CODE && s.word_value[w] == cs.icodes[2][slot])
            return slot == FUNCTION_ABSOLUTE_DATA ? 1 : 0;
    return DATA_MODE_UNKNOWN;
}

}  // namespace

void note_written_data_mode(const word_set& placed) {
    const configuration_store_t& cs = configuration_store;
    word_output_state_t& s = word_output_state;
    for (int slot : {FUNCTION_ABSOLUTE_DATA, FUNCTION_INCREMENTAL_DATA}) {
        const int w = cs.icodes[1][slot];
        if (!valid_word(w) || !placed.contains(w)) continue;
        const int mode = data_mode_of_word(w);
        if (mode == DATA_MODE_UNKNOWN) continue;
        s.tape_data_mode = mode;
        // The tape now says which mode it is in: a code owed since a switch
        // gives way to what the line wrote.
        s.mode_code_owed = 0;
    }
    // A move written in absolute data within incremental output is done:
    // incremental output resumes, its code owed to the next move.
    if (s.absolute_move_written) {
        s.absolute_move_written = 0;
        set_coordinate_mode(0);
    }
}

bool settle_data_mode(bool absolute_move_allowed) {
    const configuration_store_t& cs = configuration_store;
    word_output_state_t& s = word_output_state;
    if (s.absolute_move_written) {
        // The move before wrote no line: incremental output resumes first.
        s.absolute_move_written = 0;
        set_coordinate_mode(0);
    }
    const int absolute = get_state_flag(ABSOLUTE_COORDINATES_FLAG) != 0 ? 1 : 0;
    const int slot = absolute != 0 ? FUNCTION_ABSOLUTE_DATA : FUNCTION_INCREMENTAL_DATA;
    const int other_slot = absolute != 0 ? FUNCTION_INCREMENTAL_DATA : FUNCTION_ABSOLUTE_DATA;
    const int w = cs.icodes[1][slot];
    const int other = cs.icodes[1][other_slot];
    const bool owed = s.mode_code_owed != 0;
    s.mode_code_owed = 0;
    if (!valid_word(w) || cs.icodes[2][slot] == UNSET_CODE) return false;
    // Where incremental coordinates have words of their own, the words say
    // the mode: its code goes out after a switch only.
    bool own_words = false;
    for (int k = KEY_INCREMENTAL_X; k <= KEY_INCREMENTAL_X + 2; ++k)
        own_words = own_words || (valid_word(cs.key[k]) && cs.key[k] != NO_WORD);
    if (own_words) {
        if (owed && s.word_previous[w] != cs.icodes[2][slot] && !s.word_request.contains(w))
            gset(slot, SETWRD_SET_REQUEST);
        return false;
    }

    // The code the line carries already: a block that runs into it (such as
    // a tool change ending in "G90 ;") may have asked for either.
    int line_mode = DATA_MODE_UNKNOWN;
    if (s.word_request.contains(w)) line_mode = data_mode_of_word(w);
    if (valid_word(other) && s.word_request.contains(other) && data_mode_of_word(other) == 1 - absolute)
        line_mode = 1 - absolute;
    if (line_mode == absolute) return false;
    // Else the machine reads the line in the mode whose code the tape wrote
    // last.
    const bool contrary = line_mode == 1 - absolute || (line_mode == DATA_MODE_UNKNOWN && s.tape_data_mode == 1 - absolute);
    if (!contrary && (s.tape_data_mode == absolute || !owed)) return false;

    // A block left the machine in absolute data within incremental output:
    // the move is written in absolute data, which also brings the machine
    // back where the program has it after a return to the reference point
    // that such a block may make; incremental output resumes after it (the
    // resumption owes its code, so the next move is incremental).
    if (contrary && absolute == 0 && absolute_move_allowed && (line_mode == 1 || !owed)) {
        set_coordinate_mode(1);
        s.mode_code_owed = 0;
        s.absolute_move_written = 1;
        return true;
    }
    // The code of the mode in force, in place of the other one where the
    // line carries it; a word that carries another code of the list for
    // this line keeps it.
    if (line_mode == 1 - absolute && other != w) setwrd(other, 0, SETWRD_CANCEL);
    if (s.word_request.contains(w) && line_mode == DATA_MODE_UNKNOWN) return false;
    gset(slot, SETWRD_SET_REQUEST);
    return false;
}

void set_xyz_words() {
    settle_data_mode(true);
    const configuration_store_t& cs = configuration_store;
    motion_state_t& m = motion_state;
    const int absolute = get_state_flag(ABSOLUTE_COORDINATES_FLAG) != 0;
    int words[3];
    for (int a = 1; a <= 3; ++a) words[a - 1] = coordinate_word(a);
    // The increments as the words carry them: an incremental word of a
    // resolution of its own takes the difference of both ends at that
    // resolution, so that its increments add up to the positions.
    int increments[3];
    for (int a = 1; a <= 3; ++a) {
        const int w = words[a - 1];
        increments[a - 1] = m.increments[a];
        if (!absolute && has_word(w) && MULT(w) != axis_mult(a))
            increments[a - 1] = word_increment(m.position_units[a], m.previous_position_units[a], a, w);
    }
    const int force_xyz = m.output_mode_flags[FORCE_XYZ_FLAG] != 0;
    const int force_xy = m.output_mode_flags[FORCE_XY_FLAG] != 0;
    // An axis the tape has not followed is written like a forced one: what
    // the tape sent last is not where the machine is.
    int force[3];
    for (int a = 1; a <= 3; ++a) force[a - 1] = force_xyz || (force_xy && a < 3) || m.unwritten_axes[a] != 0;
    for (int a = 1; a <= 3; ++a)
        if (force[a - 1]) setwrd(words[a - 1], 0, SETWRD_FORGET);
    // The modal test reads the words of the absolute keys also in incremental mode.
    auto not_modal = [&](int key) {
        const int w = cs.key[key];
        return valid_word(w) && cs.word_formats[w][WRDMOD] == 0;
    };
    if (increments[0] != 0 || force[0] || not_modal(KEY_X)) setwrd(words[0], 0, SETWRD_REQUEST);
    if (increments[1] != 0 || force[1] || not_modal(KEY_Y)) setwrd(words[1], 0, SETWRD_REQUEST);
    if (increments[2] != 0 || force[2] || not_modal(KEY_Z)) setwrd(words[2], 0, SETWRD_REQUEST);
    m.output_mode_flags[FORCE_XY_FLAG] = 0;
    m.output_mode_flags[FORCE_XYZ_FLAG] = 0;
    m.unwritten_axes.fill(0);
    for (int a = 1; a <= 3; ++a) {
        if (absolute) {
            setwrd(words[a - 1], m.position_units[a], SETWRD_SET);
        } else {
            setwrd(words[a - 1], increments[a - 1], SETWRD_SET);
            // An increment equal to the last one written is still a move.
            if (increments[a - 1] != 0) setwrd(words[a - 1], 0, SETWRD_FORGET);
        }
    }
}

void stop_value_beyond_word() {
    issue_message(MESSAGE_VALUE_TOO_LARGE);
    stop_run(EXIT_RUN_ERROR);
}

int word_integer(double q, double mult) {
    const double v = q * mult;
    const double rounded = std::trunc(v >= 0.0 ? v + 0.5 : v - 0.5);
    if (!word_value_fits(rounded)) stop_value_beyond_word();
    return static_cast<int>(rounded);
}

int axis_mult(int a) {
    const configuration_store_t& cs = configuration_store;
    int w = cs.key[KEY_X + a - 1];
    if (!has_word(w)) w = cs.key[KEY_X];
    return MULT(w);
}

int axis_units_for_word(int units, int a, int w) {
    if (!has_word(w)) return units;
    const int word_mult = MULT(w);
    const int own_mult = axis_mult(a);
    if (word_mult == own_mult || own_mult <= 0 || word_mult <= 0) return units;
    // Both factors are powers of ten: the finer one is a whole multiple of
    // the coarser, so the change is exact, halves rounded away from zero.
    long long v = units;
    if (word_mult > own_mult) {
        v *= word_mult / own_mult;
    } else {
        const long long k = own_mult / word_mult;
        const long long rest = v % k;
        v /= k;
        if (2 * (rest < 0 ? -rest : rest) >= k) v += units < 0 ? -1 : 1;
    }
    if (!word_value_fits(static_cast<double>(v))) stop_value_beyond_word();
    return static_cast<int>(v);
}

int word_increment(int to, int from, int a, int w) {
    const long long d = static_cast<long long>(axis_units_for_word(to, a, w)) - axis_units_for_word(from, a, w);
    if (!word_value_fits(static_cast<double>(d))) stop_value_beyond_word();
    return static_cast<int>(d);
}

int coordinate_axis_of_word(int w) {
    if (!has_word(w)) return 0;
    const configuration_store_t& cs = configuration_store;
    for (int a = 1; a <= 3; ++a)
        if (cs.key[KEY_X + a - 1] == w || cs.key[KEY_INCREMENTAL_X + a - 1] == w) return a;
    return 0;
}

int block_names_key(int b, int k) {
    for (const block_item_t& item : block_items_of(b))
        if (item_names_key(item, k)) return 1;
    return 0;
}

int block_names_word(int b, int w) {
    if (!has_word(w)) return 0;
    for (const block_item_t& item : block_items_of(b))
        if (item_names_word(item, w)) return 1;
    return 0;
}

void request_xyz_words() {
    set_xyz_words();
    for (int a = 1; a <= 3; ++a) setwrd(coordinate_word(a), 0, SETWRD_REQUEST);
}

void keep_line_xyz_words(block_items_view items, int end, int start) {
    motion_state_t& m = motion_state;
    const array1<int, 3> unwritten = m.unwritten_axes;
    set_xyz_words();
    static constexpr int keys[] = {KEY_X, KEY_Y, KEY_Z};
    bool named[3] = {false, false, false};
    cancel_unnamed_words(items, end, start, keys, named);
    // An axis the line leaves out is still to be written by the next move.
    for (int a = 1; a <= 3; ++a)
        if (!named[a - 1]) m.unwritten_axes[a] = unwritten[a];
}

void keep_line_rotary_words(block_items_view items, int end, int start) {
    // A machine without rotary axes has no rotary words to recompute.
    if (machine_model.machine_type != MACHINE_NO_ROTARY && machine_model.machine_type != MACHINE_NOT_SET) {
        int elevation_changed = 0, azimuth_changed = 0;
        set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    }
    static constexpr int keys[] = {KEY_AZIMUTH, KEY_ELEVATION};
    bool named[3] = {false, false, false};
    cancel_unnamed_words(items, end, start, keys, named);
}

}  // namespace kv
