// The configuration store of one loaded control: its defaults, laid down
// before any control source is read, and the small accessors through which
// the other subsystems reach the settings and the run-time status flags.
#include "control/control.h"

namespace kv {

// The large block tables are zero-filled storage that costs nothing until a
// control writes them; constructing the store touches only the small tables.
configuration_store_t configuration_store;

namespace {

// Default of each word_formats column; 0 for the columns in force (9, 10),
// which set_configuration_defaults leaves as they are.
constexpr int FORMAT_DEFAULTS[NFORMAT + 1] = {
    0,
    1,  // address width
    2,  // field width
    1,  // print position
    0,  // tape position
    0,  // modal
    0,  // sign
    1,  // scale factor
    0,  // decimal places in force
    0,  // zero flags in force (not set)
    0,  // decimal point in force (not set)
    0,  // decimal places, imperial
    0,  // decimal places, metric
    2,  // zero flags, imperial: trailing zeros kept
    2,  // zero flags, metric
    0,  // decimal point, imperial
    0,  // decimal point, metric
    1,  // scale divisor
    0,  // exponent width
};

struct int_default {
    int value;
    int index;
};

// intsp defaults other than 0.
constexpr int_default INTSP_DEFAULTS[] = {
    {1, 1},   {1, 2},   {1, 3},   {1, 16},  {1, 19},  {1, 22},  {1, 23},  {1, 30},
    {1, 31},  {1, 32},  {1, 33},  {1, 47},  {1, 94},  {1, 96},  {1, 98},  {1, 101},
    {1, 104}, {1, 106},
    {-1, 6},  {-1, 7},  {-1, 10}, {-1, 11}, {-1, 12}, {-1, 13}, {-1, 20}, {-1, 26},
    {-1, 27}, {-1, 28}, {-1, 34}, {-1, 35}, {-1, 36}, {-1, 37}, {-1, 64},
    {50, 39},    // units = input
    {10, 40},    // coordinates = absolute
    {102, 41},   // azimuth axis units = degrees
    {102, 43},   // elevation axis units = degrees
    {100, 42},   // azimuth axis direction = positive
    {100, 44},   // elevation axis direction = positive
    {-999, 63},  // tape split retract distance
};

struct real_default {
    double value;
    int first;
    int last;
};

// R defaults other than 0 (ranges of R indices).
constexpr real_default REAL_DEFAULTS[] = {
    {99999.0, 1, 1},      // maximum feedrate
    {1.0, 2, 2},          // minimum feedrate
    {1.0, 11, 11},        // diameter
    {1.0, 136, 136},      // rotary axis limits, element 6
    {1.0, 146, 147},      // coolant output
    {1.0, 161, 164},      // spindle output
    {1.0, 176, 179},      // circle output
    {1.0, 191, 194},      // compensation output
    {1.0, 343, 343},      // initial tool vector k
    {9999.0, 3, 3},       // rapid feedrate
    {50.0, 12, 12},       // withdrawal amount
    {10000.0, 16, 16},    // arc radius limit
    {360.0, 19, 19},      // retraction threshhold angle
    {-99999.0, 116, 116}, {-99999.0, 118, 118}, {-99999.0, 120, 120},
    {-99999.0, 131, 131}, {-99999.0, 133, 133},
    {999999.0, 117, 117}, {999999.0, 119, 119}, {999999.0, 121, 121},
    {999999.0, 132, 132}, {999999.0, 134, 134},
    {999.0, 135, 135},    // linearisation tolerance
};

constexpr const char* SPCHAR_DEFAULTS[] = {
    "Quilor Postprocessor",
    "Version        1.2",
    ".",
    "0",
};

}  // namespace

void set_configuration_defaults() {
    configuration_store_t& cs = configuration_store;
    cs.block_count = NUMBLOCKS;

    for (int w = 1; w <= MAXWORDS; ++w) {
        for (int c = 1; c <= NFORMAT; ++c) {
            if (c == IZSUP_CURRENT || c == IDEC_CURRENT) continue;
            cs.word_formats[w][c] = FORMAT_DEFAULTS[c];
        }
        cs.wperm[w] = 0;
        cs.word_zero_text[w].set(" ");
        cs.word_upper_case[w] = 0;
        cs.wrdlnk[w] = NO_LINK;
    }

    for (int b = 1; b <= cs.block_count; ++b) {
        cs.block_texts.clear(b);
        cs.block_reals.clear(b);
        cs.block_items.clear(b);
        cs.blklen[b] = 0;
    }

    cs.spchar.clear();
    cs.special_block_count = 0;
    cs.blkspc.fill(-1);
    cs.ppfstr.clear();
    cs.user_block_names.clear();
    cs.block_counters[1] = 1;
    cs.block_counters[2] = 1;

    for (int n = 1; n <= NUMCODES; ++n) {
        cs.icodes[1][n] = 1;
        cs.icodes[2][n] = UNSET_CODE;
    }
    cs.icodes[1][0] = 0;  // slot 0: no code-base version yet
    cs.icodes[2][0] = 0;
    cs.key.fill(NO_WORD);

    cs.intsp.fill(0);
    for (const int_default& d : INTSP_DEFAULTS) cs.intsp[d.index] = d.value;
    cs.real_options.fill(0.0);
    for (const real_default& d : REAL_DEFAULTS)
        for (int c = d.first; c <= d.last; ++c) cs.real_options[c] = d.value;

    for (int i = 0; i < 4; ++i) cs.spchar[i + 1].set(SPCHAR_DEFAULTS[i]);
}

int get_intsp(int n) { return configuration_store.intsp[n]; }

double get_spval(int c) { return configuration_store.real_options[c]; }

void set_status_flag(int n, int value) { configuration_store.state_flags[n] = value; }

int get_state_flag(int n) { return configuration_store.state_flags[n]; }

void set_int_if_unset(double x, int& v) {
    if (v == -1) v = truncate_to_int(x);
}

int get_three_axis_flag() { return get_state_flag(101); }
void store_three_axis_flag(int value) { set_status_flag(101, value); }
int get_flag102() { return get_state_flag(102); }
void set_flag102(int value) { set_status_flag(102, value); }
int get_flag103() { return get_state_flag(103); }
void set_flag103(int value) { set_status_flag(103, value); }
int get_flag104() { return get_state_flag(104); }
void set_flag104(int value) { set_status_flag(104, value); }
int get_input_units_flag() { return get_state_flag(105); }
void set_input_units_flag(int value) { set_status_flag(105, value); }
int cutfile_has_contact_normals() { return get_state_flag(107); }
void set_cutfile_has_contact_normals(int value) { set_status_flag(107, value); }
int get_rotary_set_by_block() { return get_state_flag(108); }
void set_rotary_set_by_block(int value) { set_status_flag(108, value); }
int get_linear_set_by_block() { return get_state_flag(109); }
void set_linear_set_by_block(int value) { set_status_flag(109, value); }

int get_cutfile_new_style() { return configuration_store.cutfile_new_style; }
void set_cutfile_new_style(int value) { configuration_store.cutfile_new_style = value; }
int get_srat_defined() { return configuration_store.srat_defined; }
void set_srat_defined(int value) { configuration_store.srat_defined = value; }
int get_cutfile_has_workplane() { return configuration_store.cutfile_has_workplane; }
void set_cutfile_has_workplane(int value) { configuration_store.cutfile_has_workplane = value; }
int get_multax_record_seen() { return configuration_store.multax_record_seen; }
void set_multax_record_seen(int value) { configuration_store.multax_record_seen = value; }
int get_cutfile_multiaxis() { return configuration_store.cutfile_multiaxis; }
void set_cutfile_multiaxis(int value) { configuration_store.cutfile_multiaxis = value; }

int find_word(std::string_view name) {
    const std::string_view key = name.substr(0, name.size() < WORD_NAME_LENGTH ? name.size() : WORD_NAME_LENGTH);
    for (int w = 1; w <= configuration_store.NGPS; ++w)
        if (text_equals(configuration_store.gpnams[w].view(), key)) return w;
    return 0;
}

}  // namespace kv
