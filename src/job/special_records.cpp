// Special records (class 29000) and their store, the move-type record (class
// 20000), the drilling-cycle values that records set, and the character
// translation that every record text passes through.
#include "job/job.h"
#include "output/output.h"

namespace kv {

constinit special_record_store_t special_record_store;
record_values_t record_values;

namespace {

constexpr int SPECIAL_RECORD_BLOCK = 24;   // block "special record"
// Special-record codes that set drilling-cycle values.
constexpr int CODE_HOLETOP = 6;
constexpr int CODE_HOLEDIAMETER = 7;
constexpr int CODE_NUMBERPECKS = 11;
constexpr int CODE_PITCH = 12;
constexpr int CODE_PECKDEPTH = 22;

}  // namespace

char translate_char(char c) {
    const std::string_view from = derived_settings.translate_from.view();
    const int p = find_char(from, c);
    const char t = p == 0 ? c : derived_settings.translate_to[p];
    // A control character (line feed, carriage return, NUL, escape...) would
    // end or break the NC line a text is written into: it becomes a blank.
    const unsigned char u = static_cast<unsigned char>(t);
    return u < 32 || u == 127 ? ' ' : t;
}

int copy_record_chars(int first, int last, std::span<char> field, int at) {
    int placed = 0;
    const int size = static_cast<int>(field.size());
    for (int i = first; i <= last && at >= 1 && at <= size; ++i, ++at) {
        field[static_cast<std::size_t>(at - 1)] = translate_char(cldata_char_word(i));
        ++placed;
    }
    return placed;
}

int special_record_slot(int code) {
    if (code < 1 || code > MAX_SPECIAL_CODE) return 0;
    return special_record_store.slot_of_code[code];
}

// A code outside 1..MAX_SPECIAL_CODE, or a new code once every slot is
// taken, becomes the current code but is not kept: the readers then report
// it as absent.
void store_special_record(int code, double value, std::string_view text) {
    special_record_store_t& s = special_record_store;
    s.current_code = code;
    if (code < 1 || code > MAX_SPECIAL_CODE) return;
    int slot = s.slot_of_code[code];
    if (slot == 0) {
        if (s.slots_used >= MAX_SPECIAL_SLOTS) return;
        slot = ++s.slots_used;
        s.slot_of_code[code] = slot;
    }
    s.values[slot] = value;
    s.special_record_texts[slot].set(text);
}

void set_holetop(double v) {
    cycle_values.hole_top = v * pass1_results.unit_factor;
    cycle_values.holetop_given = 1;
}

void set_holediameter(double v) { cycle_values.hole_diameter = v * pass1_results.unit_factor; }

void set_peckdepth(double v) {
    cycle_values.peck_depth = v * pass1_results.unit_factor;
    cycle_values.peckdepth_given = 1;
}

void set_pitch(double v) { cycle_values.pitch = v; }

void set_numberpecks(int n) {
    cycle_state.number_of_pecks = n;
    cycle_values.numberpecks_given = 1;
}

void handle_special_record() {
    const int n = cldata_data_count();
    if (n < 1) return;  // no code to keep
    const int code = cldata_int_word(1);
    const double value = cldata_real_word(n);
    const int k = nearest_int(value);
    text<SPECIAL_TEXT_LENGTH> record_text;
    copy_record_chars(2, n - 1, record_text.span(), 1);
    if (cldata_subclass() != 0) return;

    store_special_record(code, value, record_text.view());
    // The block sees the cycle values as they were before this record.
    if (configuration_store.blklen[SPECIAL_RECORD_BLOCK] > 0) run_block(SPECIAL_RECORD_BLOCK);
    switch (code) {
        case CODE_HOLETOP: set_holetop(value); break;
        case CODE_HOLEDIAMETER: set_holediameter(value); break;
        case CODE_NUMBERPECKS: set_numberpecks(k); break;
        case CODE_PITCH: set_pitch(value); break;
        case CODE_PECKDEPTH: set_peckdepth(value); break;
        default: break;
    }
}

void handle_record_20000() {
    if (cldata_subclass() != 0) return;
    for (int i = 1; i <= 3; ++i) record_values.move_type[i] = cldata_int_word(i);
}

}  // namespace kv
