// Job driver and cutfile input: the entry point and run driver, the command
// line, the startup file and job files, the cutfile reader and the record loop.
#pragma once

#include <span>
#include <string_view>

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
};
extern job_files_t job_files;

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
// Opens the cutfile, tape, print, setup, option, machine and temporary files
// before the control is loaded; exit_status 4 when the run cannot go on.
void open_job_files(std::span<char> machine_name, int& exit_status);
int prompt_until_nonblank(std::span<char> field, int message_number);
int prompt_and_read_line(std::string_view prompt, std::span<char> field);

// --- cutfile layouts and record ring -----------------------------------------------
constexpr int MAXCLW = 245;               // words a cutfile record holds at most
constexpr int CLDATA_RING_CELLS = 1000;   // cells of the look-ahead ring
constexpr int CLDATA_RING_MARGIN = 247;   // free cells kept: a 245-word record, its header, one spare
constexpr int ASCII_LINE_LENGTH = 256;    // longest line of an ASCII cutfile
constexpr int DETECT_BYTES = 12;          // bytes looked at to detect a layout

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
struct ascii_cldata_layout_t {
    int int_width = 10000;
    int real_width = 10000;
    int real_int_digits = 10000;
    int real_decimals = 10000;
    int char_width = 10000;
    char delimiter = ' ';
};
extern ascii_cldata_layout_t ascii_cldata_layout;

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
};
extern cldata_reader_t cldata_reader;

void open_cldata(std::string_view name, int format, int& status);
bool next_cldata_record();
void rewind_cldata(int& status);
int record_header_ahead(int k);
int record_int_word(int k, int j);
double record_real_word(int k, int j);
char record_char_word(int k, int j);
int cldata_record_number();
int cldata_class();
int cldata_subclass();
int cldata_data_count();
int cldata_int_word(int i);
double cldata_real_word(int i);
char cldata_char_word(int i);
int cldata_rounded_word(int i);
int find_minor_word_value(int code, int& index);
void next_record_class(int& record_class, int& subclass, int& flag);
int find_record_ahead(int a, int b, int c, int d, int& k, int limit);

// A read error ended the data: 1 when the last read met a structurally bad
// record (the caller reports it), and the record number of the last record
// read well before it (0 when there was none).
int cldata_read_error();
int cldata_last_good_record();

// --- pass 1 and job set-up ------------------------------------------------------------

// --- record loop and end of job -----------------------------------------------------------

// --- post-processor commands, special records, tool change, spindle and coolant -------------

}  // namespace kv
