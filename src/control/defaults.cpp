// The default word table that a built-in control or an MCD file is laid over,
// and the snapshot of the configuration defaults that the difference dump
// "-f" compares a loaded control against.
#include "control/control.h"

namespace kv {

defaults_snapshot_t defaults_snapshot;

namespace {

struct default_word {
    const char* name;     // gpnams
    const char* letters;  // wrdch
    int modal;            // wrdmod
};

// Word w is row w; it also stands at position w of the word order.
constexpr default_word DEFAULT_WORDS[] = {
    {"/", "/", 0},
    {"N", "N", 0},
    {"G1", "G", 1},
    {"G2", "G", 1},
    {"G3", "G", 1},
    {"G4", "G", 1},
    {"G5", "G", 1},
    {"G6", "G", 1},
    {"G7", "G7", 1},
    {"X", "X", 1},
    {"Y", "Y", 1},
    {"Z", "Z", 1},
    {"I", "I", 0},
    {"J", "J", 0},
    {"K", "K", 0},
    {"R", "R", 0},
    {"R2", "R", 0},
    {"Q", "Q", 0},
    {"A", "A", 0},
    {"B", "B", 0},
    {"C", "C", 0},
    {"U", "U", 0},
    {"V", "V", 0},
    {"W", "W", 0},
    {"Z2", "Z", 0},
    {"F", "F", 1},
    {"S", "S", 0},
    {"T", "T", 0},
    {"M1", "M", 0},
    {"M2", "M", 0},
    {"L", "L", 0},
    {"P", "P", 0},
    {"D", "D", 0},
    {"E", "E", 0},
    {"H", "H", 0},
    {"O", "O", 0},
    {"MS", "(", 0},
    {"EM", ")", 0},
    {"EOB", "*", 0},
};
static_assert(sizeof(DEFAULT_WORDS) / sizeof(DEFAULT_WORDS[0]) == DEFAULT_WORD_COUNT);

struct default_key {
    int role;
    int word;
};

// Every other key keeps "no word". "message end" names word 40, one beyond
// the words in use, and "message start" the end-of-block word 39.
constexpr default_key DEFAULT_KEYS[] = {
    {1, 2},  // blocknumber
    {2, 3},  // preparatory function
    {3, 29},  // aux function
    {8, 10},  // x coordinate
    {9, 11},  // y coordinate
    {10, 12},  // z coordinate
    {11, 13},  // key i
    {12, 14},  // key j
    {13, 15},  // key k
    {16, 26},  // feedrate
    {17, 26},  // feedrate per revolution
    {19, 27},  // spindle
    {20, 28},  // tool number
    {24, 35},  // tool length
    {25, 33},  // tool radius
    {26, 18},  // drill peck depth
    {29, 39},  // message start
    {30, 40},  // message end
};

struct default_code {
    int slot;
    int word;
    int value;
};

// Every other slot keeps its unset default.
constexpr default_code DEFAULT_CODES[] = {
    {1, 3, 0},  // rapid
    {2, 3, 1},  // linear
    {3, 3, 2},  // circle cw
    {4, 3, 3},  // circle ccw
    {5, 8, 4},  // dwell
    {9, 4, 40},  // compensation off
    {10, 4, 41},  // compensation on left
    {11, 4, 42},  // compensation on right
    {12, 8, 70},  // imperial data
    {13, 8, 71},  // metric data
    {14, 7, 90},  // absolute data
    {15, 7, 91},  // incremental data
    {16, 6, 92},  // from
    {21, 7, 81},  // drill
    {22, 7, 82},  // break chip
    {23, 7, 83},  // deep drill
    {24, 7, 84},  // tap
    {25, 7, 85},  // bore 1
    {26, 7, 86},  // bore 2
    {27, 7, 87},  // bore 3
    {28, 7, 88},  // bore 4
    {29, 7, 89},  // bore 5
    {30, 7, 80},  // end of drill
    {42, 29, 1},  // opt stop
    {43, 29, 3},  // spindle on cw
    {44, 29, 4},  // spindle on cc
    {45, 29, 5},  // spindle off
    {49, 29, 6},  // change tool
    {50, 29, 7},  // coolant on mist
    {51, 29, 8},  // coolant on
    {52, 29, 8},  // coolant on flood
    {53, 29, 9},  // coolant off
    {56, 29, 2},  // end of tape
    {57, 29, 30},  // end of prog
};

// The coordinate, centre, radius, rotary and feed words share one number format.
constexpr int FIRST_NUMBER_WORD = 10;
constexpr int LAST_NUMBER_WORD = 26;

struct format_value {
    int column;
    int value;
};
constexpr format_value NUMBER_FORMAT[] = {
    {WRDLEN, 8}, {SINREQ, 1}, {WRDPRN, 1}, {WRDIMP, 3}, {WRDMET, 3},
    {IZSUPI, 0}, {IZSUPM, 0}, {IDECI, 1},  {IDECM, 1},
};

constexpr int LINKED_WORD = 37;       // the message-start word "MS" ...
constexpr int LINKED_WORD_TARGET = 38;  // ... is written together with "EM"
constexpr int UNITS_METRIC = 40;
constexpr int COORDINATES_ABSOLUTE = 10;

// The texts a control keeps unless it sets its print header and machine name.
constexpr const char* PRESET_PRINT_HEADER = "Quilor Postprocessor";
constexpr const char* PRESET_MACHINE_NAME = "Version 1.200";

}  // namespace

void set_default_words() {
    configuration_store_t& cs = configuration_store;
    cs.NGPS = DEFAULT_WORD_COUNT;
    for (int w = 1; w <= DEFAULT_WORD_COUNT; ++w) {
        const default_word& d = DEFAULT_WORDS[w - 1];
        cs.gpnams[w].set(d.name);
        cs.wrdch[w].set(d.letters);
        cs.wrdrut[w] = w;
        if (d.modal != 0) cs.word_formats[w][WRDMOD] = d.modal;
    }
    for (const default_key& k : DEFAULT_KEYS) cs.key[k.role] = k.word;
    for (int w = FIRST_NUMBER_WORD; w <= LAST_NUMBER_WORD; ++w)
        for (const format_value& f : NUMBER_FORMAT) cs.word_formats[w][f.column] = f.value;
    cs.intsp[39] = UNITS_METRIC;
    cs.wrdlnk[LINKED_WORD] = LINKED_WORD_TARGET;
    cs.intsp[40] = COORDINATES_ABSOLUTE;
    for (const default_code& c : DEFAULT_CODES) {
        cs.icodes[1][c.slot] = c.word;
        cs.icodes[2][c.slot] = c.value;
    }
}

void save_default_configuration() {
    const configuration_store_t& cs = configuration_store;
    defaults_snapshot_t& s = defaults_snapshot;
    for (int w = 1; w <= MAXWORDS; ++w) {
        s.gpnams_default[w].set(cs.gpnams[w].view());
        s.wrdch_default[w].set(cs.wrdch[w].view());
        s.wrdrut_default[w] = cs.wrdrut[w];
        s.word_format_defaults[w] = cs.word_formats[w];
    }
    for (int n = 1; n <= NUMINTSP; ++n) s.intsp_default[n] = cs.intsp[n];
    for (int n = 1; n <= NUMSPVAL; ++n) s.spval_default[n] = cs.real_options[n];
    for (int n = 1; n <= NUMSPCHAR; ++n) s.spchar_default[n].set(cs.spchar[n].view());
    for (int n = 1; n <= NUMCODES; ++n) {
        s.icodes_default[1][n] = cs.icodes[1][n];
        s.icodes_default[2][n] = cs.icodes[2][n];
    }
    for (int k = 1; k <= NUMKEYS; ++k) s.key_default[k] = cs.key[k];

    // After the copies: the snapshot keeps the texts from before.
    configuration_store.spchar[1].set(PRESET_PRINT_HEADER);
    configuration_store.spchar[2].set(PRESET_MACHINE_NAME);
}

}  // namespace kv
