// Completes a loaded control: the word count and scales, state flags, the
// record-text translation, the decimal point, the numbering starts, the
// integer settings that mirror list settings, and the machine model.
#include <cmath>
#include <limits>

#include "control/control.h"
#include "kinematics/kinematics.h"

namespace kv {

derived_settings_t derived_settings;

namespace {

// Settings read here (intsp indices and spchar entries).
constexpr int KNOT_VECTOR_TYPE = 5;
constexpr int BLOCK_START = 22;
constexpr int PROGRAM_ID_START = 33;
constexpr int COORDINATES = 40;
constexpr int MAXIMUM_BLOCK_NUMBER = 56;
constexpr int COUNTER_START = 61;
constexpr int ABSOLUTE_VALUE = 10;           // "coordinates" = "absolute"
constexpr int FLAGGED_KNOT_VECTOR_TYPE = 10;  // the knot vector type that state flag 5 marks
constexpr int POINT_CHARACTER = 3;
constexpr int END_OF_BLOCK = 8;
constexpr int TRANSLATE_FROM_CHARACTERS = 5;
constexpr int TRANSLATE_TO_CHARACTERS = 6;

// State flags cleared for a new control, and the two derived from settings.
constexpr int CLEARED_FLAGS[] = {20, 22, 23, 24, 31};
constexpr int ABSOLUTE_COORDINATES_FLAG = 21;
constexpr int KNOT_VECTOR_FLAG = 5;

// An integer setting that takes the value of a list element while it still
// holds -1 (a control may set the integer directly instead).
struct mirrored_setting {
    int intsp_index;
    int element;
    int list;
};
constexpr mirrored_setting MIRRORED_SETTINGS[] = {
    {6, 1, 8},   {7, 2, 8},                                   // coolant output
    {10, 1, 9},  {11, 2, 9},  {12, 3, 9},  {13, 4, 9},        // spindle output
    {26, 1, 10}, {20, 2, 10}, {27, 3, 10}, {28, 4, 10},       // circle output
    {34, 1, 11}, {35, 2, 11}, {36, 3, 11}, {37, 4, 11},       // compensation output
};

}  // namespace

void derive_settings() {
    configuration_store_t& cs = configuration_store;
    derived_settings_t& d = derived_settings;

    cs.active_word_count = cs.NGPS;
    setup_multiaxis_kinematics();

    for (int flag : CLEARED_FLAGS) set_status_flag(flag, 0);
    set_status_flag(ABSOLUTE_COORDINATES_FLAG, cs.intsp[COORDINATES] == ABSOLUTE_VALUE ? 1 : 0);
    set_status_flag(KNOT_VECTOR_FLAG, cs.intsp[KNOT_VECTOR_TYPE] == FLAGGED_KNOT_VECTOR_TYPE ? 1 : 0);

    d.translate_from.set(cs.spchar[TRANSLATE_FROM_CHARACTERS].view());
    d.translate_to.set(cs.spchar[TRANSLATE_TO_CHARACTERS].view());
    d.decimal_point_char = cs.spchar[POINT_CHARACTER][1];

    for (int w = 1; w <= MAXWORDS; ++w) {
        int& divisor = cs.word_formats[w][SCALE_DIVISOR];
        if (divisor == 0) divisor = 1;
        d.word_scale[w] = static_cast<double>(cs.word_formats[w][WRDFAC]) / static_cast<double>(divisor);
    }

    for (const mirrored_setting& m : MIRRORED_SETTINGS)
        set_int_if_unset(avals(m.element, m.list), cs.intsp[m.intsp_index]);

    d.sequence_number_max = cs.intsp[MAXIMUM_BLOCK_NUMBER] != 0 ? cs.intsp[MAXIMUM_BLOCK_NUMBER] : DEFAULT_SEQUENCE_MAX;
    d.counter = cs.intsp[COUNTER_START];
    d.sequence_number = cs.intsp[BLOCK_START];
    d.program_id_number = cs.intsp[PROGRAM_ID_START];
    derive_output_settings();
}

void derive_output_settings() {
    const configuration_store_t& cs = configuration_store;
    derived_settings_t& d = derived_settings;
    // The control's word order holds the "msg" slot besides the words, so it
    // may be longer than the word count: it runs to its first empty entry.
    int n = 0;
    while (n < MAXWORDS && cs.wrdrut[n + 1] != ORDER_END) ++n;
    d.word_order_length = n;
    d.end_of_block_length = trimmed_length(cs.spchar[END_OF_BLOCK]);
    d.permanent_words.clear();
    for (int w = 1; w <= MAXWORDS; ++w)
        if (cs.wperm[w] != 0) d.permanent_words.add(w);
}

}  // namespace kv
