// Job driver and cutfile input: the entry point and run driver, the command
// line, the startup file and job files, the cutfile reader and the record loop.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "ppnsub/ppnsub.h"
#include "runtime/runtime.h"

namespace kv {

// --- run driver ------------------------------------------------------------------
// Version texts of this build. The revision text is "16" and a six-character
// release tag: six blanks in a release build, " BETA " in a pre-release build.
constexpr std::string_view PRODUCT_NAME = "KELVARON";
constexpr std::string_view VERSION_MAJOR = "1";
constexpr std::string_view VERSION_MINOR = "5";
constexpr std::string_view VERSION_TEXT = "1.5";
#if defined(KELVARON_BETA)
constexpr std::string_view REVISION_TEXT = "16 BETA ";
#else
constexpr std::string_view REVISION_TEXT = "16      ";
#endif

// Exit codes of a run.
constexpr int EXIT_OK = 0;
constexpr int EXIT_RUN_ERROR = 4;
constexpr int EXIT_NO_CONTROL = 5;
constexpr int EXIT_COMMAND_LINE = 7;
constexpr int EXIT_ANSWER_EXIT = 8;

// The flags of the command line, each an int used as a boolean.
struct command_switches_t {
    int force_ascii = 0;          // -a
    int force_native = 0;         // -n
    int text_dump = 0;            // -w or -q
    int text_dump_form = 0;       // 0 for -w, 1 for -q
    int difference_dump = 0;      // -f
    int list_controls = 0;        // -l
    int write_mcd = 0;            // -x
    int cfg_dump = 0;             // -c
    int usage = 0;                // -h or -?
    int continue_after_error = 0; // -o
};
extern command_switches_t command_switches;

// The driver's own state: the exit code handed to stop_run and the date and
// time of the run.
struct run_state_t {
    int exit_status = 0;
    text<20> run_date_time;
};
extern run_state_t run_state;

// Title box: at most TITLE_LINES lines of at most TITLE_WIDTH characters.
constexpr int TITLE_LINES = 20;
constexpr int TITLE_WIDTH = 60;
struct title_banner_t {
    array1<text<TITLE_WIDTH>, TITLE_LINES> lines;
    array1<int, TITLE_LINES> line_length{};
    int line_count = 0;  // lines started; the current line is the last one
    int finished = 0;
};
extern title_banner_t title_banner;

[[noreturn]] void run_postprocessor();
int program_version_number();
void build_title_banner(std::string_view product, std::string_view version, std::string_view revision);
void banner_begin_line(std::string_view text, int n);
void banner_append(std::string_view text, int n);
int banner_column();
void banner_finish();
int find_nonblank_span(std::string_view text, int& first, int& last);

// --- command line ------------------------------------------------------------------
// Switch letters; ':' after a letter: it needs an argument, ';': it takes an
// optional one.
constexpr std::string_view OPTION_STRING = "s:m:p;i;t;acnxwqlrfho?";
constexpr int COMMAND_LINE_LEN = 1024;  // the joined arguments, and the set-aside words
constexpr int COMMAND_WORD_LEN = 256;   // one word, and a switch argument

// Scanner buffers of the command line.
struct command_line_state_t {
    text<COMMAND_LINE_LEN> line;       // the arguments not yet scanned
    text<COMMAND_LINE_LEN> set_aside;  // words that are not switches, each quoted
    text<COMMAND_WORD_LEN> pending;    // the word in hand
    int pending_held = 0;              // 1 while pending holds a word (it may be a quoted blank)
    text<COMMAND_WORD_LEN> argument;   // the argument of the last switch
    int too_long = 0;                  // an argument does not fit the buffers (its index)
};
extern command_line_state_t command_line_state;

void parse_command_line(int& status);
void init_command_line();
void scan_command_option(std::string_view options, char& letter, int& status);
void get_option_argument(std::span<char> field, int& status);
void get_positional_argument(std::span<char> field, int& status);
void append_quoted_operand(std::span<char> buffer, std::string_view word);
int normalise_slashes(std::span<char> field);

// --- startup file, file names and job files ---------------------------------------
// File kinds, the index of file_names, file_extensions, extension_dots and
// search_paths.
constexpr int FILE_CUTFILE = 1;
constexpr int FILE_PRINT = 2;
constexpr int FILE_SETUP = 3;
constexpr int FILE_TAPE = 4;
constexpr int FILE_CONTROL = 5;   // the control name; its option file
constexpr int FILE_MACHINE = 6;
constexpr int FILE_STARTUP = 7;
constexpr int FILE_MESSAGE = 8;
constexpr int FILE_TEMPORARY = 9;
constexpr int NFILEKINDS = 9;
// file_units holds the units of the kinds print..temporary: slot 1 is the
// print unit, 3 the tape unit, 8 the temporary unit.
constexpr int NFILEUNITS = 8;
constexpr int unit_slot(int kind) { return kind - 1; }

constexpr int FILE_NAME_LEN = 256;
constexpr int FILE_EXTENSION_LEN = 8;
constexpr int SEARCH_PATH_LEN = 256;
constexpr int MACHINE_NAME_LEN = 40;

struct job_files_t {
    array1<text<FILE_NAME_LEN>, NFILEKINDS> file_names;
    array1<text<FILE_EXTENSION_LEN>, NFILEKINDS> file_extensions;
    array1<char, NFILEKINDS> extension_dots{};  // between name and extension; blank: none
    array1<text<SEARCH_PATH_LEN>, NFILEKINDS> search_paths;
    array1<int, NFILEUNITS> file_units{};         // -1 when not open
    int fixed_tape = 0;  // numbered tape files keep their extension
    // The control's machine, handed from open_job_files to the loading of the
    // control: the machine file's name without directory and extension, or
    // the built-in control to load when no machine file is found.
    text<MACHINE_NAME_LEN> machine_name;
    // The files read as input (startup file, message file, cutfile, option
    // file, machine file), by kind, once opened: no output may take the place
    // of one of them.
    array1<file_identity, NFILEKINDS> input_identities{};
    // 1 for a kind whose name, or folder, the startup file gave: an output
    // of that kind is named on the console, since it need not be where the
    // user looks.
    array1<int, NFILEKINDS> named_by_startup{};
};
extern job_files_t job_files;
// The unit of an open job file of kind print..temporary, -1 when not open.
inline int job_unit(int kind) { return job_files.file_units[unit_slot(kind)]; }

void set_file_defaults();
void open_file_on_path(int warn, std::span<char> name, std::string_view path, std::string_view extension,
                       char separator, int mode, int& unit);
void read_startup_file(int unit, int& status);
// Composes a job file's full name (home directory, default extension, the
// kind's separator) and searches the path for it with the access that mode
// needs. built receives the composed name; name the name found, blank when
// none was. status 0 when found.
void locate_file_on_path(std::span<char> name, std::string_view path, std::string_view extension,
                         char separator, int mode, std::span<char> built, int& status);
// Composes a job file's name as locate_file_on_path does and searches the
// path for a file of that name that exists, whether it can be read or not.
void locate_existing_file(std::span<char> name, std::string_view path, std::string_view extension,
                          char separator, std::span<char> built, int& status);
// Opens the cutfile, tape, print, setup, option, machine and temporary files
// before the control is loaded; exit_status 4 when the run cannot go on, 5
// when an option or machine file is there but cannot be read.
void open_job_files(std::span<char> machine_name, int& exit_status);
// Whether the file of this name is one the run reads: the startup file, the
// message file, the cutfile, the option file or the machine file.
bool is_job_input(std::string_view name);
int prompt_until_nonblank(std::span<char> field, int message_number);
int prompt_and_read_line(std::string_view prompt, std::span<char> field);

// --- cutfile layouts and record ring -----------------------------------------------
constexpr int MAXCLW = 245;               // words a cutfile record holds at most
constexpr int CLDATA_RING_CELLS = 1000;   // cells of the look-ahead ring
constexpr int CLDATA_RING_MARGIN = 247;   // free cells kept: a 245-word record, its header, one spare
constexpr int ASCII_LINE_LENGTH = 256;    // longest line of an ASCII cutfile
constexpr int CUTFILE_READ_BLOCK = 65536; // bytes the readers take from the cutfile's stream at a time
constexpr int DETECT_BYTES = 12;          // bytes looked at to detect a layout
// The largest magnitude of a real word: beyond it no word value (a 32-bit
// integer at the coarsest resolution) can hold the number, so a record that
// carries one, or one that is not a number at all, is unreadable.
constexpr double MAX_CLDATA_REAL = 2147483647.0;

// cldata_format: the layout of the open cutfile.
constexpr int CLDATA_DETECT = 0;
constexpr int CLDATA_NATIVE = 1;          // segmented records, 4-byte little-endian words
constexpr int CLDATA_SINGLE_LE = 2;
constexpr int CLDATA_DOUBLE_LE = 3;
constexpr int CLDATA_ASCII = 4;
constexpr int CLDATA_SINGLE_BE = 5;
constexpr int CLDATA_DOUBLE_BE = 6;

// One 8-byte word cell; how its bytes read as an integer, a real or a
// character depends on the cldata_format (cell_int_value and the rest).
struct cldata_cell {
    std::array<unsigned char, 8> b{};
};

// State of the ASCII reader, kept for the whole run. The initial widths fit
// no field on a line, so data before the first header line is an error.
// Opening and rewinding the cutfile reset it.
struct ascii_cldata_layout_t {
    int int_width = 10000;
    int real_width = 10000;
    int real_int_digits = 10000;
    int real_decimals = 10000;
    int char_width = 10000;
    char delimiter = ' ';
};
extern ascii_cldata_layout_t ascii_cldata_layout;

// The readers of the ASCII and the marked layouts (2 to 6) take the cutfile
// a block at a time rather than a few bytes at a time: bytes `begin` up to
// `end` of `bytes` are read from the stream of `unit` but not yet used.
// Opening and rewinding the cutfile drop them (drop_cutfile_block).
struct cutfile_block_t {
    int unit = -1;
    int begin = 0;
    int end = 0;
    std::array<char, CUTFILE_READ_BLOCK> bytes;
};
extern cutfile_block_t cutfile_block;
void drop_cutfile_block();

// Raw record reading. A reader fills cells 1..n (cells[0..n-1]) and returns
// n (above 0), 0 at the end of the file, -1 for a structurally bad record.
int read_cldata_record(int unit, int format, std::span<cldata_cell> cells, int& count, int maximum);
int read_segmented_record(int unit, std::span<cldata_cell> cells, int maximum);
int read_unformatted_words(int unit, std::span<cldata_cell> cells, int maximum);
int read_unformatted_doubles(int unit, std::span<cldata_cell> cells, int maximum);
int read_ascii_cldata_record(int unit, std::span<cldata_cell> cells, int maximum);
int read_unformatted_words_swapped(int unit, std::span<cldata_cell> cells, int maximum);
int read_unformatted_doubles_swapped(int unit, std::span<cldata_cell> cells, int maximum);
int detect_cldata_format(int unit);

// A cell read as an integer, a real or a character in the given layout.
int cell_int_value(const cldata_cell& cell, int format);
double cell_real_value(const cldata_cell& cell, int format);
// cell_real_value of the cells in a row into out (as many as there are cells).
void cell_real_values(std::span<const cldata_cell> cells, int format, std::span<double> out);
char cell_char_value(const cldata_cell& cell, int format);

// The look-ahead ring and its reader state. Only the routines below read
// them; every other part of the program goes through the accessors.
struct cldata_ring_t {
    array1<cldata_cell, CLDATA_RING_CELLS> cell;
};
extern cldata_ring_t cldata_ring;

struct cldata_reader_t {
    int tail = 1;        // header of the newest record read
    int next_free = 2;   // first free cell
    int current = 1;     // header of the current record
    int format = 0;      // cldata_format in use
    int at_end = 1;      // 1 once a read returned 0 or -1
    int unit = -1;       // the cutfile's unit, negative when none is open
    int read_error = 0;  // 1 when the data ended at a structurally bad record
    int good_records = 0;      // records read well since the open or the rewind
    int last_good_record = 0;  // record number (word 1) of the last of them, 0 when none
    int records_taken = 0;     // records made current since the open or the rewind
};
extern cldata_reader_t cldata_reader;

void open_cldata(std::string_view name, int format, int& status);
bool next_cldata_record();
void rewind_cldata(int& status);
int record_header_ahead(int k);
int record_int_word(int k, int j);
// A real word that is not finite or beyond MAX_CLDATA_REAL stops the run as
// an unreadable record (stop_on_cldata_read_error).
double record_real_word(int k, int j);
char record_char_word(int k, int j);
int cldata_record_number();
int cldata_class();
int cldata_subclass();
int cldata_data_count();
int cldata_int_word(int i);
double cldata_real_word(int i);
// cldata_real_word of data words first..first + out.size() - 1 into out,
// the current record looked up once.
void cldata_real_words(int first, std::span<double> out);
char cldata_char_word(int i);
int cldata_rounded_word(int i);
int find_minor_word_value(int code, int& index);
// Whether the unit word of a feed (FEDRAT's second word, a CYCLE's feed
// unit) gives the feed per revolution: IPR or PERREV.
inline bool feed_unit_per_revolution(int minor) { return minor == 74 || minor == 316; }
void next_record_class(int& record_class, int& subclass, int& flag);
int find_record_ahead(int a, int b, int c, int d, int& k, int limit);

// A read error ended the data: 1 when the last read met a structurally bad
// record (the caller reports it), and the record number of the last record
// read well before it (0 when there was none).
int cldata_read_error();
int cldata_last_good_record();
// The place of the current record in the cutfile: 1 for the first record made
// current since the open or the rewind, so that pass 1 and the record loop
// number the records alike.
int cldata_records_taken();

// --- pass 1 and job set-up ------------------------------------------------------------
// Pass 1 reads the whole cutfile once before any output: units and the factor
// of cutfile lengths, one row of tables per toolpath, the part number and the
// extents. Job set-up then checks the machine, converts the option-file units
// and writes the headers and the tape start.
constexpr int MAXTOOLPATHS = 1000;        // rows of the per-toolpath tables
constexpr int TOOLPATH_LIMIT = 997;       // toolpaths (and tools) a cutfile may hold
constexpr int TOOLPATH_TEXT_LEN = 256;    // names, tool texts, special-record texts
constexpr int PART_NUMBER_LEN = 80;
constexpr int RECORD_TEXT_LEN = 132;      // a record's characters as get_record_text gives them
constexpr int CLDATA_SCAN_RECORDS = 32;   // records looked at for the cutfile style
constexpr double NO_EXTENT = 999999.0;    // extents of a toolpath without points: minima at +, maxima at -

// Workplane kinds of a toolpath.
constexpr int WORKPLANE_THREE_AXIS = 0;
constexpr int WORKPLANE_FIXED_AXIS = 1;   // three-plus-two
constexpr int WORKPLANE_FIVE_AXIS = 2;

// The workplane of one toolpath (entry 0: the job workplane).
struct toolpath_workplane_t {
    int kind = WORKPLANE_THREE_AXIS;
    array1<double, 3> origin{};
    array1<double, 9> matrix{};           // row by row
    array1<double, 3> angles{};
};

// What pass 1 found in the whole cutfile.
struct pass1_results_t {
    text<2> cutfile_units;                // "N" none, "U" unknown, "MM", "CM", "IN", "FT"
    double unit_factor = 1.0;             // cutfile length to option-file length
    array1<double, 3> from_position{};    // the first FROM point
    text<PART_NUMBER_LEN> part_number;
    int part_number_length = 0;           // 0: no part number known
    array1<double, 6> cutfile_extents{};  // maximum X, Y, Z, then minimum X, Y, Z of every point
    array1<double, 6> pass1_extents{};    // the same from the limits record
    int toolpath_count = 0;
    int tool_count = 0;
    array1<int, 2> codebase_version{};    // version and revision of the CODEBASE command
    int axis_source_flag = 0;
    int go_home_seen = 0;                 // a go-home record (major word 17) occurs
    // The place (cldata_records_taken) of the last record that moves the tool
    // at feed: a GOTO (or a continuation of one) that no RAPID or GOHOME
    // record sends at rapid, or the points of a circle or a cycle; 0 when
    // none does. A tape split is taken only while such a move is to come.
    int last_cutting_record = 0;
    text<TOOLPATH_TEXT_LEN> cutfile_code20_text;
    array1<int, MAXTOOLPATHS> tool_first_toolpath{};
};
extern pass1_results_t pass1_results;

// One row per toolpath, row i = toolpath i, filled by pass 1.
struct toolpath_tables_t {
    array1<int, MAXTOOLPATHS> toolpath_tool_number{};
    array1<double, MAXTOOLPATHS> toolpath_tool_length{};
    array1<double, MAXTOOLPATHS> toolpath_alt_tool_length{};
    array1<double, MAXTOOLPATHS> toolpath_tool_radius{};
    array1<int, MAXTOOLPATHS> toolpath_length_offset{};
    array1<int, MAXTOOLPATHS> toolpath_radius_offset{};
    array1<double, MAXTOOLPATHS> toolpath_spindle_speed{};
    array1<int, MAXTOOLPATHS> toolpath_spindle_code{};
    array1<double, MAXTOOLPATHS> toolpath_tip_radius{};
    array1<double, MAXTOOLPATHS> toolpath_first_feed{};
    array1<int, MAXTOOLPATHS> toolpath_first_feed_per_revolution{};  // that feed's unit
    array1<double, MAXTOOLPATHS> toolpath_feedrate{};
    array1<double, MAXTOOLPATHS> toolpath_plunge_rate{};
    array1<double, MAXTOOLPATHS> toolpath_rapid_feed{};
    // The toolpath's FEDRAT text command gave its three feeds above; without
    // one, the feeds of its moves stand for them: that of its first move
    // across and that of its first plunge (the feed in force at its end when
    // it has no such move).
    array1<int, MAXTOOLPATHS> toolpath_fedrat_given{};
    array1<array1<double, 2>, MAXTOOLPATHS> toolpath_move_feeds{};
    array1<double, MAXTOOLPATHS> toolpath_rapid_height{};
    array1<int, MAXTOOLPATHS> toolpath_compensation{};
    array1<double, MAXTOOLPATHS> toolpath_record_value{};
    array1<array1<double, 3>, MAXTOOLPATHS> toolpath_start{};
    array1<array1<double, 3>, MAXTOOLPATHS> toolpath_from_axis{};
    array1<array1<double, 6>, MAXTOOLPATHS> toolpath_extents{};  // minimum X, Y, Z, then maximum
    array1<double, MAXTOOLPATHS> toolpath_value_6000{};
    array1<double, MAXTOOLPATHS> toolpath_value_18000{};
    array1<array1<double, 2>, MAXTOOLPATHS> toolpath_cldata_values{};  // CUTTIM, CUTLEN
    laid_array1<text<TOOLPATH_TEXT_LEN>, MAXTOOLPATHS> toolpath_tool_text;
    laid_array1<text<TOOLPATH_TEXT_LEN>, MAXTOOLPATHS> toolpath_names;
    laid_array1<text<TOOLPATH_TEXT_LEN>, MAXTOOLPATHS> toolpath_special_text;
    laid_array1<text<TOOLPATH_TEXT_LEN>, MAXTOOLPATHS> toolpath_code3_text;
    std::array<toolpath_workplane_t, MAXTOOLPATHS + 1> toolpath_workplanes{};  // [0] the job workplane
    // Run-time indexes, 0 after pass 1: the current toolpath (from 1 once the
    // first toolpath starts) and the count of distinct consecutive tools.
    int toolpath_index = 0;
    int tool_index = 0;
    // Minutes of the moves written so far for each toolpath; moves before
    // the first toolpath count with the first.
    array1<double, MAXTOOLPATHS> toolpath_move_minutes{};
};
extern toolpath_tables_t toolpath_tables;

// Row i of the per-toolpath tables, 1..MAXTOOLPATHS, for indexes that come from
// counters: an index outside the rows gives the nearest row.
int toolpath_row(int i);
// The current toolpath's row (1 before the first toolpath starts).
int current_toolpath_index();

int cutfile_has_toolpath_records();
void pass1_classic(int& status);
void pass1(int& status);
void read_cldata_text_record(int i);
void uses_go_home(int& status);
void get_record_text(std::span<char> field, int& length);
void get_record_keyword(std::span<char> field, int& length);
void parse_codebase_command(std::string_view text, int length, int& version, int& revision);
void parse_real_command(std::string_view text, int length, double& value);
void parse_fedrat_command(std::string_view text, int length, double& rapid, double& plunge, double& feed);
// The factor from cutfile lengths to output lengths for a units code and the
// output units (30 imperial, 40 metric).
double units_factor(std::string_view cutfile_units, int output_units);

// The call-block expansion (expand_all_blocks) runs first; it is declared with
// the derived settings.
void run_pass1(int& status);
void check_multiaxis_machine();
void set_three_axis_flag();
void convert_units_and_geometry();
void convert_option_units();
void init_run_machine_state();
void check_toolpath_workplanes(int& status);
void write_listing_headers(std::string_view date_time);
void start_tape(std::string_view date_time);

// --- record loop and end of job -----------------------------------------------------------
// The second pass: each record passes the tape-limit check, the IGNORE skip,
// then the handler of its class; the end record ends the job.
struct record_loop_state_t {
    int skip_records = 0;                 // 1 while an IGNORE skip runs
    int skip_count = 0;                   // records still to skip
};
extern record_loop_state_t record_loop_state;

void process_cldata_records(int& status);
void finish_job();
void handle_motion_record();
void handle_surface_record();
void handle_multax_record();
void handle_record_28000(int& status);
void handle_contact_normal_record();
// A read error that ended the cutfile's data, or a record holding a real word
// that is not a number or too large (record_real_word): message 269 with the
// last record read well, and the run stops with exit code 4.
[[noreturn]] void stop_on_cldata_read_error();
// The data ended before the end record was handled: a read error as above,
// else message 109 ("Incomplete cldata file") and exit code 4.
[[noreturn]] void stop_on_incomplete_cutfile();

void start_skipping_records(int n);
int is_skipping();
void count_down_skip();
void set_skipping(int value);

// --- post-processor commands, special records, tool change, spindle and coolant -------------
constexpr int MAX_SPECIAL_CODE = 10000;    // special-record codes 1..MAX_SPECIAL_CODE
constexpr int MAX_SPECIAL_SLOTS = 2000;    // distinct codes kept
constexpr int SPECIAL_TEXT_LENGTH = 256;
constexpr int TOOL_TEXT_LENGTH = 256;
constexpr int COMMENT_LENGTH = 132;        // a comment record's text on the print file
constexpr int COMMENT_SETUP_LENGTH = 35;   // of which the setup file shows the start
constexpr int TEXT_COMMAND_LENGTH = 80;    // characters of a text command kept
constexpr int NUMERIC_FIELD_CHARS = 15;    // characters parse_numeric_field looks at
constexpr int SPINDLE_LOOKAHEAD = 30;      // records searched for a coolant record after a spindle record

// compensation_state: the side of cutter radius compensation to output.
constexpr int COMPENSATION_NONE = -1;      // nothing pending
constexpr int COMPENSATION_OFF = 9;
constexpr int COMPENSATION_LEFT = 10;
constexpr int COMPENSATION_RIGHT = 11;

// State of the post-processor command handlers.
struct ppword_state_t {
    int compensation_state = COMPENSATION_NONE;      // 9 off, 10 left, 11 right, -1 nothing pending
    int last_compensation_side = COMPENSATION_LEFT;  // the side an "on" record takes
    double text_command_argument = 0.0;              // the number after a ppfun block name
};
extern ppword_state_t ppword_state;

// The CYCLE record's values (cycle_state, cycle_parameters, cycle_values)
// are declared with the cycle output.

// Special records (class 29000) received so far: a value and a text per code.
struct special_record_store_t {
    array1<double, MAX_SPECIAL_SLOTS> values{};
    laid_array1<text<SPECIAL_TEXT_LENGTH>, MAX_SPECIAL_SLOTS> special_record_texts;
    array1<int, MAX_SPECIAL_CODE> slot_of_code{};  // 0: the code has no slot yet
    int slots_used = 0;
    int current_code = 0;
};
extern special_record_store_t special_record_store;

// The move-type values of the last class-20000 record of subclass 0.
struct record_values_t {
    array1<int, 3> move_type{};  // "movetype", "movecomponenttype", "moveminortype"
};
extern record_values_t record_values;

// pending_code_flags entries.
constexpr int COOLANT_WRITTEN = 1;
constexpr int COOLANT_PENDING = 2;
constexpr int SPINDLE_STOPPED = 3;
constexpr int SPINDLE_PENDING = 4;
// tool_offset_ints entries.
constexpr int LENGTH_OFFSET_OUTPUT = 1;
constexpr int TOOL_CHANGED = 2;
constexpr int FIRST_TOOL_PENDING = 3;

// Tool, spindle and coolant state shared by their commands and the move output.
// The tool length for the kinematics is the machine model's one.
struct tool_state_t {
    array1<int, 2> tool_change_ints{};  // tool number, length offset number of the last tool record
    int offset_number = 0;              // its radius offset number
    array1<int, 3> tool_offset_ints{{0, 1, 1}};
    array1<double, 2> tool_values{};    // tool length, tool radius of the tool record
    text<TOOL_TEXT_LENGTH> tool_text;
    array1<int, 4> pending_code_flags{{0, 0, 1, 0}};
    int pending_gfunction = 48;         // coolant function to write
    int spindle_mfunction = 3;          // 3 on, 4 counter-clockwise, 5 off; + 3 combined with coolant
    int gear_range = 0;
    array1<double, 2> spindle_values{}; // speed as read, real data word 7 x unit_factor
    int surface_speed = 0;              // the speed is a surface speed, not revolutions a minute
    // The speed the spindle turns at now: the last spindle record's, 0 once a
    // record stops it; what a feed per revolution is converted with.
    double speed_in_force = 0.0;
    // A control whose tool change sets the spindle ("spindle output" 3): the
    // speed word value and the M function that the tape last started the
    // spindle with (function 0 while it is stopped).
    int spindle_started_speed = 0;
    int spindle_started_function = 0;
    // Spindle codes a tool change was to write but whose lines left out:
    // the speed word (1 owed) and the M function index (0 none), written
    // with the next move.
    int spindle_speed_owed = 0;
    int spindle_function_owed = 0;
    // The last spindle record wrote the combined spindle-and-coolant code:
    // the coolant-on record that follows it is on the tape already.
    int coolant_with_spindle = 0;
    int coolant_kinds_warned = 0;       // one bit a coolant kind that message 322 has named
};
extern tool_state_t tool_state;

// Class-2000 records: the handler of the record's major word.
void dispatch_ppword_record();
void auxfun();
void prefun();
void handle_cutcom();
void handle_feedrate();
void handle_opskip();
void handle_comment();
void handle_part_number();
void handle_insert();
void handle_cycle();
void handle_text_command();
// The number in the first NUMERIC_FIELD_CHARS characters of a field.
void parse_numeric_field(std::string_view field, int& integer_value, double& real_value);
// Each takes a whole text command and reads the numbers after its command word.
void parse_ignore_command(std::string_view command);
void parse_holetop_command(std::string_view command);
void parse_drilldwell_command(std::string_view command);
// Characters of data words first..last of the current record, each through
// translate_char, into field from position `at`; words past the field are dropped.
// Returns the number of characters placed.
int copy_record_chars(int first, int last, std::span<char> field, int at);

// Special records and record values.
void handle_special_record();
void handle_record_20000();
void store_special_record(int code, double value, std::string_view text);
// The slot of a received special-record code, 0 when it has none (or is out of range).
int special_record_slot(int code);
void set_holetop(double v);
void set_holediameter(double v);
void set_peckdepth(double v);
void set_pitch(double v);
void set_numberpecks(int n);
char translate_char(char c);

// Tool change, tool select, spindle and coolant commands.
void handle_tool_change();
void handle_tool_select();
void spindl();
void handle_coolant();
// After a tape split, on a control whose tool change sets the spindle: the
// new tape's start wrote the toolpath's spindle; a restart, reversal or new
// speed in force since goes out again.
void restate_spindle_on_new_tape();

}  // namespace kv
