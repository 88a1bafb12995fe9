// NC output engine: the word state, the block interpreter and writer with the
// number formatter, expressions and system variables, function codes, feed
// rate, motion output (rapid, linear, go home, circles, cycles, splines) and
// the tape files with their limits and splitting.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "control/control.h"
#include "runtime/runtime.h"

namespace kv {

// --- word state ------------------------------------------------------------------
// The run-time state of every output word: its integer value (the real
// quantity times MULT), whether it carries a number or a text, its request
// for the next line and what was written last (the modal memory).
constexpr int NO_PREVIOUS_VALUE = -2147483647;  // word_previous: nothing remembered
constexpr int WORD_TEXT_LENGTH = 128;
constexpr int WORD_CARRIES_NUMBER = 1;          // word_value_type
constexpr int WORD_CARRIES_TEXT = 2;

// setwrd types.
constexpr int SETWRD_SET = 0;
constexpr int SETWRD_REQUEST = 1;
constexpr int SETWRD_SET_REQUEST = 2;
constexpr int SETWRD_SET_REQUEST_FORGET = 3;
constexpr int SETWRD_PERMANENT = 4;
constexpr int SETWRD_NOT_PERMANENT = 5;
constexpr int SETWRD_CANCEL = -1;
constexpr int SETWRD_REQUEST_TEXT = 6;
constexpr int SETWRD_FORGET = 7;

// wdstat kinds.
constexpr int WDSTAT_TYPE = 1;
constexpr int WDSTAT_REQUESTED = 2;
constexpr int WDSTAT_WILL_WRITE = 3;
constexpr int WDSTAT_VALUE = 4;
constexpr int WDSTAT_PERMANENCE = 5;

constexpr int DATA_MODE_UNKNOWN = -1;

struct word_output_state_t {
    array1<int, MAXWORDS> word_value;
    array1<int, MAXWORDS> word_value_type = filled_array1<int, MAXWORDS>(WORD_CARRIES_NUMBER);
    word_set word_request;                 // the words to write in the next line
    array1<int, MAXWORDS> word_next_request;
    array1<int, MAXWORDS> word_previous = filled_array1<int, MAXWORDS>(NO_PREVIOUS_VALUE);
    array1<text<WORD_TEXT_LENGTH>, MAXWORDS> word_text;
    array1<text<WORD_TEXT_LENGTH>, MAXWORDS> word_previous_text;
    // Set by a forced block item ("=C"): the line that writes the word
    // forgets it again, so the next line that requests it writes it too.
    array1<int, MAXWORDS> word_forced;
    // The function slot (absolute or incremental data) of a switch of the
    // coordinate mode whose code no line has written yet; 0 when none.
    int mode_code_owed = 0;
    // The coordinate mode whose code the tape's lines wrote last, by any
    // block (a list's tool change may write "G90" as a plain word value):
    // 1 absolute, 0 incremental, DATA_MODE_UNKNOWN before any on this tape.
    int tape_data_mode = DATA_MODE_UNKNOWN;
    // Set while a move of incremental output is written in absolute data
    // (settle_data_mode); the line that writes it ends it.
    int absolute_move_written = 0;
};
extern word_output_state_t word_output_state;

// Sets every word to its initial state (the state at program start).
void init_word_state();
void setwrd(int w, int v, int type);
void setwst(int w, std::string_view text);
// 10 to the word's decimal places: real quantity to word integer. A word
// number outside 1..95 is a caller's fault: one direct line on standard
// error (bad_group_in_mult) and the result 0.
int bad_group_in_mult(int w);
inline int MULT(int w) {
    if (w > MAXWORDS || w < 1) return bad_group_in_mult(w);
    return truncate_to_int(power_of_ten(word_format(w, WRDPRN)));
}
int wdstat(int w, int kind);
void clear_modal_memory();
// A word integer holds magnitudes below 2^31 - 1: a conversion that does not
// fit saturates at the ends of the range, so a value there never fitted its
// word (the no-value marker lies there too).
constexpr double WORD_VALUE_LIMIT = 2147483647.0;
inline bool word_value_fits(double v) { return v > -WORD_VALUE_LIMIT && v < WORD_VALUE_LIMIT; }
// A value too large for the word that carries it: message 209 and the end of
// the run with exit code 4. Nothing is clamped into the word.
[[noreturn]] void stop_value_beyond_word();
// q times mult rounded half away from zero, the word integer of a real
// quantity; a value that does not fit a word integer stops the run.
int word_integer(double q, double mult);
// The factor (MULT) at which coordinate a (1 X, 2 Y, 3 Z) is kept as a word
// integer: that of its own coordinate word (keys 8, 9, 10), so that each is
// written at its own resolution; an axis without a word takes the X word's.
int axis_mult(int a);
// Word integer `units` of coordinate a as a value of word w, which carries
// that coordinate at a resolution of its own (an incremental or a centre
// word); the same integer when both resolutions agree.
int axis_units_for_word(int units, int a, int w);
// The increment of coordinate a from word integer `from` to word integer `to`
// as word w carries it: the difference of both ends at the word's
// resolution, so that the increments a word writes add up to the positions.
// A difference that does not fit a word integer stops the run.
int word_increment(int to, int from, int a, int w);
// Absolute (1) or incremental (0) output from here on. On a change the
// coordinate and rotary words forget the values they wrote last, and the
// mode's code is owed to the tape: the first move asks for it again, so that
// a line of another record between the switch and the move cannot lose it.
void set_coordinate_mode(int absolute);
// The code of the coordinate mode (absolute or incremental) on a line of its
// own, unless a line has written it already, with the pending words.
void write_coordinate_mode(int absolute);
// The word that carries coordinate a (1 X, 2 Y, 3 Z) in the current mode:
// incremental output takes the incremental word where the control has one.
int coordinate_word(int a);
// The axis (1 X, 2 Y, 3 Z) whose absolute or incremental coordinate word w
// is, or 0.
int coordinate_axis_of_word(int w);
// Settles the coordinate mode of a move's line, where the machine would
// otherwise read its coordinates in the other mode: the line carries the
// other code (a block that runs into it, such as a tool change ending in
// "G90 ;"), the tape wrote the other code last, or a switch of mode has not
// been written. Under incremental output after a block's absolute code, the
// move is written in absolute data when absolute_move_allowed (returns
// true; incremental output resumes once its line is written); otherwise the
// code of the mode in force is asked for.
bool settle_data_mode(bool absolute_move_allowed);
// After a line is written: notes the coordinate mode whose code it carries,
// if any, and ends a move written in absolute data under incremental output.
void note_written_data_mode(const word_set& placed);
// The X, Y and Z words from the current position and the move's increments.
void set_xyz_words();
// set_xyz_words with all three words requested, as a home move names them.
void request_xyz_words();
// Whether an item of block b names the word of key k (a key item of k or an
// item of its word), wherever the item stands in the block.
int block_names_key(int b, int k);
// Whether an item of block b names word w (a key item of a key that carries
// it, or an item of the word), in any branch: the block may write that word.
int block_names_word(int b, int w);
// After a switch between absolute and incremental output: recompute the
// coordinate (rotary) words and keep requested only those that the output
// line of the running block starting at item `start` names.
void keep_line_xyz_words(block_items_view items, int end, int start);
void keep_line_rotary_words(block_items_view items, int end, int start);

// --- block writer and number formatting ---------------------------------------------
// One NC line from the requested words: word order, tape positions, address
// letters and formatted values, literals and the end-of-block text; echoed to
// the print file and counted in the tape length.
constexpr int BLOCK_LINE_LENGTH = 256;
constexpr int FORMAT_FIELD_LENGTH = 16;     // work field of format_word_value
constexpr int ZERO_TEXT_LENGTH = 10;        // characters of a zero text used
constexpr int REFERENCE_LABEL_LENGTH = 12;
constexpr int ECHO_LINE_LENGTH = 123;       // one-line print echo
constexpr int ECHO_SPLIT_LENGTH = 79;       // each line of the two-line echo
constexpr int ECHO_POSITION_LENGTH = 50;
constexpr double CHARACTERS_PER_FOOT = 120.0;
constexpr int WRITE_BLOCK_LINE = 1;         // write_block modes
constexpr int WRITE_BLOCK_PENDING = 2;

struct block_writer_t {
    text<BLOCK_LINE_LENGTH> block_line;     // the last line built
    int block_line_length = 0;
    text<REFERENCE_LABEL_LENGTH> reference_label;  // label of the next echo line
    int block_lines_written = 0;
};
extern block_writer_t block_writer;

// mode WRITE_BLOCK_LINE or WRITE_BLOCK_PENDING; overflow 1 when a field
// would pass column 256 (nothing is then written; the caller reports it).
void write_block(int mode, int& overflow);
// Places the value v at 1-based column of line; written receives the count
// of characters placed. Returns 1 when the field would pass the line's end
// (nothing placed), else 0.
int format_word_value(std::span<char> line, int column, int width, int& written, int v, int zero_flags,
                      int sign_mode, int point_flag, int decimals, int exponent_width,
                      std::string_view zero_text);

// --- block interpreter -----------------------------------------------------------------
// Runs a control's output block: words, literals, conditions, repeats and
// block variables, handing each finished line to the block writer.
constexpr int LITERAL_COUNT = 96;           // literal texts 1..LITERAL_COUNT of one line
constexpr int LITERAL_LENGTH = 256;
constexpr int LITERAL_ORDER_BASE = 98;      // word-order entry 98 + j: literal j
constexpr int BLOCK_SWITCHES = 14;          // swa..swn
constexpr int BLOCK_INT_VARIABLES = 14;     // inta..intn
constexpr int BLOCK_REAL_VARIABLES = 6;     // rna..rnf
constexpr int SET_VARIABLE = 8;             // set_block_variable modes
constexpr int UNSET_VARIABLE = 9;
constexpr int EDIT_VARIABLE = 10;
// word_previous_text after a forced expression item: no text a word holds.
constexpr std::string_view FORCED_PREVIOUS_TEXT = "JUNK_STRING_ZYXWVUTSRQPONMLKJIHGFEDCBA";

struct block_interpreter_t {
    array1<int, MAXWORDS> current_word_order;
    int current_word_order_length = 0;
    array1<text<LITERAL_LENGTH>, LITERAL_COUNT> literal_text;
    array1<int, LITERAL_COUNT> literal_length;
    int literals_pending = 0;
    // Set while a block with items runs: linked words are then not requested.
    int links_suspended = 0;
    int loop_counter = 0;
    array1<int, BLOCK_SWITCHES> switches;
    array1<int, BLOCK_INT_VARIABLES> int_variables;
    array1<double, BLOCK_REAL_VARIABLES> real_variables;
};
extern block_interpreter_t block_interpreter;

// Runs block b (1..NUMBLOCKS) of the loaded control; an empty block writes
// the pending words.
void run_block(int b);
// The same over given item, string and real tables of count items.
void execute_block(block_items_view items, block_strings_view texts,
                   block_reals_view reals, int count, int block_number);
// After a class-2000 record: its cldat block, or with flush 1 the pending words.
void end_record_block(int flush);
void begin_block_line(int build_order, int non_empty);
int find_block_item(block_items_view items, int from, int code, int count);
void set_block_variable(std::string_view name, double value, int mode);
void reset_block_variable(std::string_view name);
// The first line of message n + 30 becomes the label of the next echo line.
void set_reference_message(int n);
// filwri, with message 221 and a stop (exit code 4) on failure.
void write_line_or_stop(std::string_view text, int unit);
// Finishes the tape, print and setup files at the end of the job: all are
// written out and checked first, then each takes its name (filclo). A failure
// is message 221 and a stop (exit code 4), which leaves the files of an
// earlier run as they were. Standard output is flushed and checked in place
// of a file; the null device has nothing to finish. Their units become -1.
// The tapes of a run whose control cuts its tape take their names as one set
// (finish_output_set), which removes the further tapes of a longer run of
// the set before.
void finish_job_outputs();
// write_block, with message 265 and a stop (exit code 4) on overflow.
void write_block_or_stop(int mode);
// Word w alone (with the permanent words) in a line of its own, in the
// control's word order; the other requests stay for the next line.
void write_word_alone(int w);

// --- expressions and system variables --------------------------------------------------
// Expressions and conditions of block items stay text until the block runs;
// they are read left to right without precedence. Operands are numbers,
// quoted texts, "nil" and system variables (name, name[index], name{word}).
constexpr int EXPRESSION_LENGTH = 120;        // characters of an expression text
constexpr int CONDITION_LENGTH = 256;         // characters of a condition text
constexpr int EXPRESSION_RESULT_LENGTH = 256; // characters of a result text
constexpr int MAX_INDEX_LEVELS = 5;           // nested [index] levels of one operand
// Passes of one "repeat" of a block at most; a count above it is an error of
// the control (it would write lines for hours).
constexpr int MAX_REPEAT_COUNT = 100000;

// value_type of expression results and system variables.
constexpr int VALUE_NIL = -1;
constexpr int VALUE_INTEGER = 1;
constexpr int VALUE_TEXT = 2;
constexpr int VALUE_REAL_LITERAL = 3;
constexpr int VALUE_REAL = 4;
constexpr int VALUE_LOGICAL = 5;

// Statuses of the evaluator and of get_system_variable (0 success).
constexpr int EXPR_OK = 0;
constexpr int EXPR_BAD_INDEX = 2;       // "[" first, or a {word} index naming no word
constexpr int EXPR_NO_BRACKET = 5;      // "]" missing
constexpr int EXPR_TOO_DEEP = 7;        // more than MAX_INDEX_LEVELS index levels
constexpr int EXPR_BAD_CONDITION = 9;   // malformed condition, or a variable that takes no index
constexpr int EXPR_NOT_OPERAND = 11;    // a token that cannot be an operand
constexpr int EXPR_BAD_VARIABLE = 12;   // unknown name, wrong mode, wrong type, missing record
constexpr int EXPR_DIVIDE_BY_ZERO = 13;
constexpr int EXPR_TYPE_MISMATCH = 14;
constexpr int EXPR_BAD_OPERATOR = 15;
constexpr int EXPR_INCOMPLETE = 16;     // an operator without its right operand
constexpr int EXPR_REPEAT_TOO_LARGE = 17;  // a repeat count beyond MAX_REPEAT_COUNT (or not a number)

// evaluate 1 computes; 0 only checks operands, types and operators. The
// result text is blank-padded; value is 0 for a text.
void evaluate_expression(std::string_view text, int evaluate, std::span<char> result_text, double& value, int& type,
                         int& status);
void evaluate_operand(std::string_view token, int evaluate, std::span<char> result_text, double& value, int& type,
                      int& status);
// 1 true, 0 false (on error: the value reached so far).
int evaluate_condition(std::string_view text, int evaluate, int& status);
void evaluate_block_expression(std::string_view text, std::span<char> result_text, double& value, int& type,
                               int& status);
int evaluate_block_condition(std::string_view text, int& status);
void check_expression_syntax(std::string_view text, int& status);
int check_condition_syntax(std::string_view text, int& status);
// Messages 254 and 212 and the status's own message, then abort_on_option_error;
// nothing for status 0.
void report_expression_error(int status, std::string_view expression, std::string_view block_name);
// Messages 254 (with text) and 249 (with name), then abort_on_option_error.
void report_invalid_expression(std::string_view text, std::string_view name);
// The remainder of a by b with the sign of a.
int int_remainder(int a, int b);
// A name followed by a word name in braces becomes the name and that word's
// number as its index.
void resolve_word_name_index(std::span<char> name, int& index, int& status);

// What the system variables keep between reads: the once-per-run warnings and
// the answers the operator gave.
constexpr int PART_NAME_LENGTH = 132;
struct system_variable_state_t {
    int srat_warning_given = 0;           // message 256
    int axis_reversal_warning_given = 0;  // message 262
    int part_name_asked = 0;
    text<PART_NAME_LENGTH> part_name;     // the answer to message 44
    int program_number_asked = 0;
    int program_number = 0;               // the answer to message 102
};
extern system_variable_state_t system_variable_state;

// The value of a system variable. name: the name (any case); index 0 none;
// level: the operand nesting level (1 outermost).
void get_system_variable(std::string_view name, int index, int level, int evaluate, std::span<char> text_out,
                         double& value, int& type, int& status);

// --- function codes and value tables ------------------------------------------------------
constexpr int AUX_CODE_BASE = 40;         // auxiliary function k is code slot k + 40
constexpr int MAXAUXFUN = 55;             // auxiliary functions 1..MAXAUXFUN
constexpr int FUNCTION_TEXT_LENGTH = 16;  // characters of a text code that are output
constexpr int VALUE_TABLE_PAIRS = 4;      // input/output value table pairs
constexpr int VALUE_TABLE_FIRST_COLUMN = 13;  // list column of "input values"; "output values" follows

// Outputs preparatory function n (gset) or auxiliary function n (mset);
// mode as setwrd: 0 set, 2 set and request, -1 cancel.
void gset(int n, int mode);
void mset(int n, int mode);
int get_gcode_value(int n);
int get_mcode_value(int n);
// 1 when code slot n is the value its word wrote last and no request of that
// word is waiting: the code is on the tape already.
int function_code_on_tape(int n);
int fcode_word(int n);
text<FUNCTION_TEXT_LENGTH> function_code_text(int n);
// A word value taken through the control's input/output value tables.
int output_value_table(double v, int w);
void dwellp(double seconds);
void crc();
// The coded feed of a feed a minute (a code, never a value), with its offset word.
void coded_feed(double feed);

// --- feed rate output ------------------------------------------------------------------------
// The feed word and the feed-mode function of the next move, set before its
// block runs: fedrat from the programmed feed of a three-axis move,
// fedrat_multiaxis from the step feed and time of a multi-axis step.
constexpr int FEED_FUNCTION_PER_MINUTE = 17;
constexpr int FEED_FUNCTION_PER_REVOLUTION = 18;
// The programmed feed in output units, set by the feed record (1 at the start).
struct feed_state_t {
    double feedrate = 1.0;
    // 1 while the feed word is in its inverse-time format, with the decimal
    // places and decimal-point flag of its per-minute format kept aside.
    int inverse_time_format = 0;
    int per_minute_decimals = 0;
    int per_minute_point = 0;
    // The feed function written last (17 per minute, 18 per revolution; 0
    // none yet): a change of mode writes the feed word again, which the
    // machine's new mode has not read yet.
    int mode_written = 0;
    int conversion_warned = 0;  // message 320 is given once a run
};
extern feed_state_t feed_state;
void fedrat();
void fedrat_multiaxis();
// A feed as a length a minute: per minute as it stands, per revolution at the
// spindle speed in force (at a constant surface speed, at the move's mean
// distance from the spindle axis X).
double feed_per_minute_of(double feed);
// A cycle's feed into the feed word, in the mode the record gives it.
void cycle_feed(double feed, int per_revolution);
// Requests the word that carries the feed in the mode last set.
void request_feed_word();
// Where the control writes feeds per revolution as such, the tape can stand
// in either feed mode: the word of the mode the last feed was set in when
// the tape's last code in that word is another, else 0.
int feed_mode_word_owed();

// --- motion dispatch and point handling --------------------------------------------------------
// The points of a GOTO record and its joined continuation records, the move
// flags that earlier records leave for the next GOTO, and the position
// bookkeeping that every motion routine shares.
constexpr int POINT_BUFFER_VALUES = 60000;  // values a column holds for collection
// Room after the collected values for the look-ahead point (3 values) and
// the next point that set_move_point reads past the last one.
constexpr int POINT_BUFFER_SPARE = 8;
constexpr int POINT_COLUMNS = 5;
constexpr int POINT_COLUMN_RAW = 1;         // record values; machine coordinates after the transform
constexpr int POINT_COLUMN_COPY = 2;        // copy before the transform (contact normals)
constexpr int POINT_COLUMN_TIPS = 3;        // machine tips, compact triples
constexpr int POINT_COLUMN_VECTORS = 4;
constexpr int POINT_COLUMN_NORMALS = 5;
using point_column = array1<double, POINT_BUFFER_VALUES + POINT_BUFFER_SPARE>;

struct point_buffer_t {
    array1<point_column, POINT_COLUMNS> column;
    int point_count = 0;        // values collected in column 1
    int more_points_flag = 0;   // another GOTO point follows the collected ones
    int all_joined = 0;         // 0 when a continuation record was left for the next dispatch (set before each collection)
};
extern point_buffer_t point_buffer;

struct pending_move_flags_t {
    int rapid_pending = 0;
    int go_home_pending = 0;
    int cycle_pending = 0;
    int circle_pending = 0;
    int thread_pending = 0;
    int spline_a_pending = 0;     // surface record of type 126
    int spline_b_pending = 0;     // surface record of type 127
    int datum_shift_pending = 0;  // block "datum shift" before the next move
    int multiaxis_transition_pending = 0;
    int multiaxis_mode_copy = 0;  // state flag 20 as the last linear move saw it
};
extern pending_move_flags_t pending_move_flags;

// output_mode_flags elements: force flags read by set_xyz_words, and the
// modes that the record handlers switch. Elements 3 and 8 start at 1.
constexpr int OUTPUT_MODE_FLAGS = 10;
constexpr int FORCE_XYZ_FLAG = 1;
constexpr int FORCE_XY_FLAG = 2;
constexpr int FEED_PER_MINUTE_FLAG = 3;
constexpr int OPTIONAL_SKIP_FLAG = 4;

// Positions: 1-3 x, y, z in output units, 4-6 i, j, k or the circle centre.
// Word integers: 1-3 X, Y, Z and 4-6 the circle centre, each coordinate at
// its own axis resolution (axis_mult), 7 the tangential C angle (or the
// circle angle), 8 spare.
struct motion_state_t {
    array1<double, 6> position;
    array1<double, 6> previous_position;
    array1<double, 6> committed_position;   // the start of the previous move
    array1<int, 8> position_units;
    array1<int, 8> previous_position_units;
    array1<int, 8> increments;
    array1<double, 2> rotary_angles;        // (elevation, azimuth), degrees
    array1<double, 2> previous_rotary_angles;
    array1<double, 2> committed_rotary_angles;
    // The rotary words' integer values (elevation, azimuth) of the current
    // position and of the last committed line, where the tape last put the
    // rotary axes; kept apart from elements 7 and 8 of the word integers,
    // which the tangential C axis shares with the elevation.
    array1<int, 2> rotary_units;
    array1<int, 2> previous_rotary_units;
    // The points of the turning angles of the current move (the start of the
    // previous move, the start and the end of this one, the next point when
    // one follows), kept by set_move_point; each angle is worked out when it
    // is first read (end_turn_angle(), start_turn_angle()), as most moves
    // never read them.
    array1<array1<double, 3>, 4> turn_points;
    int turn_has_next = 0;
    int end_turn_known = 1;
    int start_turn_known = 1;
    double end_turn_value = 0.0;            // degrees, current move to the next
    double start_turn_value = 0.0;          // degrees, previous move to the current
    double cut_length = 0.0;                // feed moves so far, output units
    int position_known = 0;                 // 0 until the first commit
    array1<int, OUTPUT_MODE_FLAGS> output_mode_flags{{0, 0, 1, 0, 0, 0, 0, 1, 0, 0}};
    // 1 for an axis whose position the tape has not followed: moved without
    // a line (a FROM record, a go-home point taken over silently), or not
    // written yet on the current tape. The next move writes it and counts it
    // as moving; set_xyz_words clears the marks.
    array1<int, 3> unwritten_axes{{0, 0, 0}};
    // A function code left requested for the next move to carry (the end of
    // a cycle when the control has no "cycle end" block): its word and value;
    // word 0 when none waits.
    int waiting_code_word = 0;
    int waiting_code_value = 0;
};
extern motion_state_t motion_state;

// Dispatch of a GOTO record (class 5000, or 32000 with contact normals);
// status 0, or the circle status of arcmov.
void dispatch_goto_3axis(int& status);
void dispatch_goto(int& status);
void dispatch_goto_multiaxis();
void collect_goto_points(int last_word, int& all_joined);
int check_continuation_record(int count, int& more_points, int& last_word, int& all_joined);

// Current position from point `index` (its x value) of a point sequence;
// convert 1 scales by unit_factor.
void set_position_from_point(std::span<const double> points, int index, int convert);
void set_position_from_cutfile_point(std::span<const double> points, int index);
// stride: values a point in column 1 (3, or 6 with tool vectors or normals).
void set_move_point(int index, int stride = 3);
// Three values from `index` (1-based) of a point sequence, times `factor`; a
// value beyond the sequence reads 0.
void read_point(std::span<const double> points, int index, double factor, array1<double, 3>& out);
void to_machine_units(const array1<double, 3>& in, array1<int, 3>& units, array1<double, 3>& out);
void to_position_units(const array1<double, 3>& in, array1<int, 3>& units, array1<double, 3>& out);
void compute_increments();
void commit_current_position();
// The current position becomes the previous one, for the motion that
// follows, without a line written for it: the axes it changed are marked
// unwritten, and the word integers stay where the tape last put the machine
// (the base of the next increments), but at the first position of the run.
void take_position_without_output();
// A new tape: no axis position has been written on it yet.
void mark_axes_unwritten();
// The current word integers from the current position.
void round_positions();
void get_moving_axes(int& x_moves, int& y_moves, int& z_moves, int& z_not_rising);
double move_length();
double turning_angle(const array1<double, 3>& a, const array1<double, 3>& b, const array1<double, 3>& c);
// The turning angles of the current move in degrees: towards the next point
// (180 when none follows), and from the previous move.
double end_turn_angle();
double start_turn_angle();
void point_and_direction_to_machine(array1<double, 3>& point, array1<double, 3>& direction);
void output_from_move();
// The values of point column k (1-based) as a span, for the motion routines.
std::span<double> point_column_values(int k);

// --- linear, rapid and wire moves; go home -------------------------------------------------------
// Asks the operator for the initial C angle of a wire machine (real setting 9)
// and whether it goes on the tape now; the straight and the circular wire
// moves both ask through it.
void ask_initial_c_angle(int c_word);
// Straight moves of a GOTO record, the codes that wait for the next move, the
// wire-EDM compensation moves, the per-tool cutting time and the toolpath
// count; the go-home moves.
constexpr int MAXTOOLS = 1000;  // tool indexes with a cutting time

struct move_output_state_t {
    // Set at a tool change; the first move after it clears it (a wire move
    // then leaves compensation off).
    int first_move_after_tool_change = 0;
    // Minutes by tool index (toolpath_tables.tool_index, advanced with the
    // toolpath index by start_next_toolpath).
    array1<double, MAXTOOLS> tool_cutting_times;
};
extern move_output_state_t move_output_state;

void output_linear_move();
// The linear moves to the buffer's points from value `first` (the x of a point) on.
void output_linear_move_from(int first);
// The linear move to the one point of the buffer whose x is value `index`.
void output_linear_move_to(int index);
void output_rapid_move();
// Whether gset(n) sets anything: the function has a word and a code.
int function_is_output(int n);
// The rapid code of a line of its own (a home line, a move back to the cut),
// and the feed word with it where the control writes one on rapids.
void request_rapid_code();
void output_wire_move();
// A rapid or go-home record in wire mode: rapid_move (the dispatch's rapid)
// writes it, with compensation cancelled on its line.
void output_wire_rapid(void (*rapid_move)());
int split_move_axes(int line, int xy_first, int x_moves, int y_moves);
int output_tool_length_offset();
void output_pending_codes();
void add_move_time();
void accumulate_move_time();
// The cutting time of one drilled hole beyond the move to it: from the start
// height to the R plane and back at rapid, down to the bottom at the cycle's
// feed, and out at that feed (`out_at_feed`: taps and bores) or at rapid.
void add_hole_time(int out_at_feed);
int current_tool_index();
void start_next_toolpath();
// In wire mode, at a go home or after a compensation-off record: requests
// compensation off (and at a go home the end code) for the next line; 1 when
// it did.
int output_compensation_cancel_move();
// The same at a go home of an azimuth-elevation head in wire mode.
void output_home_position_block();
// A wire record that wrote no line while compensation off (and the end code)
// waited: they go out on a line of their own with move_function's code, a
// move of no length, so that the control does not go on compensating.
void write_compensation_cancel_line(int move_function);
void force_zero_coordinate_words(const array1<double, 3>& point);

void output_go_home();
void output_go_home_two_step();
void go_home_axis_first(double s, const array1<double, 3>& axial);
void go_home_axis_last(double s, const array1<double, 3>& across);

// --- tape files, limits and splitting ---------------------------------------------------------------
// The running tape file is measured in whole characters, the line end counted
// as one; its length in feet of punched tape is derived from them
// (CHARACTERS_PER_FOOT), so that no sum of fractions loses a character.
constexpr int MAX_SORTED_INTEGERS = 4000;   // sort_integers refuses longer lists
constexpr int TAPE_NAME_LENGTH = 256;       // a tape file name
constexpr int TAPE_NUMBER_WIDTH = 3;        // the number field of a numbered tape

// Lengths and counts of the tape being written. The block writer adds every
// written line to the three lengths (and counts it in
// block_writer.block_lines_written); the limit check resets what it compares.
struct tape_state_t {
    // Characters: 1 over all tapes (reset only by split_tape_when_full), 2
    // since the last split, 3 since the last segment.
    array1<std::int64_t, 3> tape_characters{};
    int tape_counter = 0;
    int tape_number = 1;        // the number the next split writes
    int tool_changes_seen = 0;  // tool changes so far; the first never splits
    int cut_on_tape = 0;        // a move at feed of the cutfile is on the current tape
    int last_move_cuts = 0;     // the last move of the cutfile went at feed (not at rapid)
};
extern tape_state_t tape_state;

// Tape length i (1..3 as tape_state.tape_characters) in feet.
double tape_feet(int i);
// Tape length i in characters, as a message shows it.
int tape_character_count(int i);

// The pieces of the tape name, taken at the first split and used by every
// later one.
struct next_tape_name_t {
    int analysed = 0;
    text<TAPE_NAME_LENGTH> first_name;    // the name as analysed: the run's first tape
    int fixed = 0;                        // numbered names keep the extension
    text<TAPE_NAME_LENGTH> base;          // the name (with fixed_tape: before the last '.')
    int base_length = 0;
    text<TAPE_NUMBER_WIDTH> extension;    // with fixed_tape: after the last '.'
    text<TAPE_NUMBER_WIDTH> number_field; // "t00": first letter of the extension, then digits
    int default_extension = 0;            // the tape's default extension is in force
};
extern next_tape_name_t next_tape_name;

// The limit check before a cutfile record is handled, and after a move of
// the record being handled (points_follow: further points of the same move
// at feed follow in it).
void check_tape_split();
void check_tape_split_after_move(int points_follow);
// Called for every move of the cutfile that is written (with its time): a
// move at feed counts for the tape it is on.
void note_tape_move();
void split_tape_when_full();
// Called at every tool change: 1 when "tape split on tool change" is set (the
// tape is then split, except at the first tool change of the job), else 0.
int split_tape_at_tool_change();
void start_next_tape();
// The name of the next numbered tape after `current` (analysed at the first
// call), and tape_number advanced; fixed: numbered names keep the extension.
void compose_next_tape_name(std::string_view current, int fixed, int default_extension,
                            std::span<char> result);
void output_program_end();
void apply_tool_reset_coordinates();
// Cutting time per tool, to the setup file, at the end of the job.
void print_tool_cutting_times();
double total_toolpath_time();
int count_distinct_tools();
int tool_number_by_rank(int n, int& status);
// The 1-based indices of the toolpaths of tool t into out; returns their count.
int list_toolpaths_of_tool(int tool, std::span<int> out);
void sort_integers(int count, std::span<const int> in, std::span<int> out, int& status);


// --- circles, cycles and splines ----------------------------------------------------------------------
// A piece of a wire or multi-axis arc whose height over its chord is within
// the chordal tolerance (circle_record[5]): the circle function is cancelled
// and, when the chord is longer than shortest_chord, the piece is written as a
// straight move (the record's points when it is the record's only piece, else
// one straight block to the piece's end). Returns 1 for a flat piece; sets
// committed when the straight moves committed the positions themselves.
int write_flat_arc_piece(double radius, int circle_function, int whole_record, double shortest_chord,
                         bool& committed);
// The centre words of an arc piece, set without request: incremental ones
// are differences of the rounded start and centre (at their axis resolution,
// carried over to the word's own), so that the centre a controller finds from
// the start written on the tape is the rounded centre; absolute ones the
// centre at the word's own resolution.
void set_integer_arc_centre_words(int centre_word1, int centre_word2);
// The value of centre word w for the centre along axis `axis` (its real
// coordinate, and its word integer at the axis's resolution), in the mode of
// circle_state.incremental_centre_mode: incremental, the word integer of the
// arc's start less the centre's, carried to the word's resolution; absolute,
// the centre at the word's own resolution.
int arc_centre_value(int w, int axis, int start_units, int centre_units, double centre);
using point3 = array1<double, 3>;   // x, y, z (the same type as kinematics' vector3)
using point2 = array1<double, 2>;

// Circular moves. The surface record handler sets circle_record (and the
// centre in position 4..6) before circle_pending; the routines below keep the
// plane and quadrant state of the arc being written.
struct circle_state_t {
    // Radius (cutfile units), unit axis x, y, z (machine orientation), and the
    // chordal tolerance of the current arc.
    array1<double, 5> circle_record;
    array1<int, 4> arc_plane_axes;        // plane axis 1, 2; centre coordinate 1, 2 (positions 4..6)
    int arc_reversed = 0;                 // clockwise about the positive axis
    int incremental_centre_mode = 0;
    // Start quadrant, current quadrant, boundary being written, circle function code value.
    array1<int, 4> arc_quadrant_state;
    int arc_last_piece = 0;
    point3 arc_plane_reals;               // tool offset at the end of the last multi-axis arc
};
extern circle_state_t circle_state;

// Arc values of machine subtype 25, read as system variables.
struct multiaxis_arc_values_t {
    double radius = 0.0;
    point2 centre;
    int circle_code = 0;
};
extern multiaxis_arc_values_t multiaxis_arc_values;

constexpr double ARC_AXIS_TOLERANCE = 0.99999;   // a circle axis along X, Y or Z
constexpr double WIRE_ARC_AXIS_TOLERANCE = 0.99; // the same in wire and multi-axis arcs
constexpr int ARC_OFF_PLANE = 2001;               // arcmov status: start point off the arc's plane

int arc_quadrant();
double rounded_distance(double a, double b, double n);
// The label of the next echo line: the arc's direction as its circle code
// writes it, "CIRCLE CW" for a reversed arc, else "CIRCLE CCW".
void set_circle_reference_label();

// How an arc is cut into pieces. Travel is measured in degrees from the
// arc's start in the arc's own sense (counter-clockwise about the circle's
// axis, clockwise for a reversed arc); directions are travel from the
// plane's first axis. plan_arc needs arc_plane_axes, arc_reversed and the
// centre in position 4..6, and takes the start from the current position.
struct arc_plan_t {
    double sweep = 0.0;            // the whole arc, every turn its points make
    double start_direction = 0.0;
    double step_angle = 0.0;       // travel of one resolution step along the arc
    int quadrant_pieces = 0;       // pieces end at every quadrant boundary crossed
    int halve_full_circles = 0;    // a whole turn is written as two half circles
    int stride = 3;                // values a point in the record
    double radius = 0.0;           // the record's, output units: the quadrant boundaries
    double start_radius = 0.0;     // the start's distance from the centre: points along the arc
    double end_radius = 0.0;       // the last point's: straight moves between run from one to the other
    double plane_slack = 0.0;      // a step shorter than this in the plane stays where it was
    double axial_slack = 0.0;      // a rise above this along the axis is a rise
    array1<int, 2> start_units;    // the start along the plane axes
    array1<double, 2> start_reals;
};
// Walking an arc's points in order. The travel of a point is the sum of the
// turns of the steps from the start to it, so the points of several turns
// (a helix) keep every turn. A step that stays where it was in the plane
// turns by nothing, or by a whole turn when it rises along the axis.
struct arc_walk_t {
    int next = 1;                  // the value index of the next point to walk
    double travel = 0.0;           // the travel of the point walked last (the start: 0)
    array1<double, 3> last;        // that point, output units
    // The next point and its travel, worked out once when the walk first
    // looks at it: a piece looks at a point before it walks it.
    int ahead_index = 0;           // the value index `ahead` belongs to (0: none yet)
    double ahead_travel = 0.0;
    array1<double, 3> ahead;
};
void plan_arc(std::span<const double> points, int last_index, int stride, double radius, int quadrant_pieces,
              int halve_full_circles, arc_plan_t& plan);
// A walk that starts at the current position (the arc's start).
void start_arc_walk(arc_walk_t& walk);
// The travel of the walk's next point, the walk staying where it is.
double peek_arc_walk(std::span<const double> points, const arc_plan_t& plan, arc_walk_t& walk);
// The walk moved on to its next point.
void advance_arc_walk(std::span<const double> points, const arc_plan_t& plan, arc_walk_t& walk);
// The travel at which the piece that starts at travel `from` ends: at a
// quadrant boundary, after a turn at most, or half a turn for a radius.
double next_arc_piece_end(const arc_plan_t& plan, double from);
// The plane axes of the current position (reals and integers) := the arc's point at travel t.
void set_arc_position_at(const arc_plan_t& plan, double t);
// Walks the points on that the piece ending at travel `to` passes, each a
// move of its own (cutting time, turning angles); the last piece
// (circle_state.arc_last_piece) takes the record's last point, any other
// ends at its point at `to`. The walk is left at the next piece's first
// point.
void walk_arc_piece(std::span<const double> points, int last_index, const arc_plan_t& plan, double to,
                    arc_walk_t& walk);
// The radius word of a piece: radius magnitude r_value (the radius word's
// integer), negative for a piece of more than half a circle, and never below
// half the chord between the piece's written end points.
int arc_piece_radius(int r_value, int radius_word, double piece_sweep);
// points: the values of column 1 of the point buffer (value n at points[n - 1]).
void arcmov(std::span<const double> points, int count, int& status);
void arcmov_wire();
void output_circle_move();

void arc_midpoint_from_tangent(const point3& a, const point3& b, const point3& c, point3& m, point3& n);
void circle_through_three_points_2d(const point3& p1, const point3& p2, const point3& p3, point2& centre,
                                    double& radius, int& clockwise, int& status);
void point_with_z(double x, double y, double value, point3& out);
// A line is (x, y, direction angle in radians); status 1 found, -1 parallel.
void intersect_lines_2d(const point3& line1, const point3& line2, point2& point, int& status);
void chord_line_2d(const point3& p1, const point3& p2, point3& line, int& status);
void helix_quarter_points(double a, double b, double c, double& k, double& x1, double& y1, double& x2,
                          double& y2);

// Whether the control's arcs take no helix ("integer 125" = 1): a helix is
// then written as straight moves within the chordal tolerance.
bool helix_as_lines();
// A helix piece about `centre` from the current position to `end`, turning
// counter-clockwise from plane axis `first` towards `second` (an end at the
// start's place: a whole turn), as straight moves within the chordal
// tolerance, each with its share of the rise along `axial`.
void output_helix_as_lines(const point3& centre, const point3& end, int first, int second, int axial);
// Helix blocks of the helical drilling cycles.
void output_helix_arc(const point3& point, double centre1, double centre2, int x_word, int y_word, int z_word,
                      int axis_word1, int axis_word2, int centre_word1, int centre_word2, int radius_word);
void set_helix_point_words(const point3& point, int x_word, int y_word, int z_word);
// The word of coordinate `axis` (1..3) of an arc's end, set without request
// and requested when the axis moves: absolute, the position; incremental, the
// increment, written even when it equals the one written last.
void set_arc_coordinate_word(int w, int axis);
// The two plane words of an arc piece (the axes of arc_plane_axes); with
// "circle output" value 2 both are written whether they moved or not, and a
// word that is not modal always is.
void set_arc_plane_words(int word1, int word2);
void request_arc_axis_words(int flag, int word1, int word2);
void request_arc_centre_words(int flag, int word1, int word2);

// Drilling cycles: the CYCLE record handler fills cycle_state and
// cycle_parameters; special records and text commands fill cycle_values.
constexpr int CYCLE_TABLE_ROWS = 13;
constexpr int MAXPECKS = 200;             // depth values a cycle record holds
constexpr int CYCLE_HELICAL_DRILL = 11;
constexpr int CYCLE_HELICAL_RETRACT_DRILL = 12;
struct cycle_table_row {
    int minor_word;
    int function;
};
// Rows 1..13: the CYCLE record's minor word and the function written for it.
extern const array1<cycle_table_row, CYCLE_TABLE_ROWS> cycle_table;

struct cycle_state_t {
    int cycle_type = 0;          // 0 none, else the row of cycle_table
    int number_of_pecks = 0;     // special record 11 when given, else depth_count
    int depth_count = 0;         // depth values stored
    int minor_word = 0;
    int last_cycle_type = 0;     // the type of the last cycle written
    // The depth of a record whose depth word is the Z word, for its first
    // hole's block (depth_on_z 1 until that block): the depth wins over the
    // hole's Z there.
    int depth_on_z = 0;
    int depth_on_z_value = 0;
};
extern cycle_state_t cycle_state;

struct cycle_parameters_t {
    double feed = 0.0;                    // f
    int feed_per_revolution = 0;          // the record gives f per revolution (a tap's pitch)
    double feed_written = 0.0;            // f as the tape takes it (per minute unless the control writes it per revolution)
    double feed_per_minute = 0.0;         // f as a length a minute, for the cutting time
    array1<double, MAXPECKS> depths;      // d(1..n)
    double clearance = 0.0;               // c, the record's last value
    double height = 0.0;                  // h, along the tool axis where the record arrived
};
extern cycle_parameters_t cycle_parameters;

struct cycle_values_t {
    double dwell_time = 0.0;              // DRILLDWELL
    double peck_depth = 0.0;              // special record 22
    double hole_top = 0.0;                // special record 6 or HOLETOP
    double hole_diameter = 0.0;           // special record 7
    double pitch = 0.0;
    double clearance_distance = 0.0;      // h - c
    double depth_distance = 0.0;          // h - d(n)
    double depth_below_clearance = 0.0;   // d(n) - c
    double peck = 0.0;                    // p
    int holetop_given = 0;
    int numberpecks_given = 0;
    int peckdepth_given = 0;
};
extern cycle_values_t cycle_values;

// The plane of a helix about a tool axis along X (1), Y (2) or Z (3).
struct cycle_plane_t {
    int first_axis = 1, second_axis = 2, axial = 3;
    int first_word = NO_WORD, second_word = NO_WORD;
    int first_centre_word = NO_WORD, second_centre_word = NO_WORD;
    int plane_function = 6;
};

void cycmov(std::span<const double> points, int count);
void cycmov_variable_peck();
double holetop_height();
void cycle_tool_axis(point3& axis);
void cycle_plane_words(int axis, cycle_plane_t& plane);
void output_helical_cycle(const point3& hole, double radius, double depth, double clearance,
                          const point3& tool_axis, double pitch, int type, int& status);

// Splines: the surface record handler keeps the point counts.
struct spline_state_t {
    array1<int, 2> spline_point_counts;   // type 126, type 127 (data word 4)
};
extern spline_state_t spline_state;

constexpr int MAX_ARC_SUBDIVISION = 2;    // arcs of one arc B-spline segment: at most 2^2
using spline_arc = array1<point3, 3>;     // start, midpoint, end
using spline_arcs = array1<spline_arc, 4>;

void dispatch_spline();
void output_polynomial_spline(double u0, double u1);
void output_cubic_bspline(double a, double b);
void output_arc_bspline();
// y(0..n) are values[1..n+1], start to end; u0 > u1 takes them reversed.
// Degrees 3 and 5 only; returns 0 when computed, 1 otherwise.
int polynomial_coefficients(double u0, double u1, std::span<const double> values, int n,
                            array1<double, 6>& coefficients);
double spline_knot_value(double accumulated, double step, double previous_step, int mode);
void arc_subdivision_level(const point3& c0, const point3& c1, const point3& c2, int& level, int& status);
void subdivide_into_arcs(const point3& start, const point3& end, const point3& middle, int level,
                         spline_arcs& arcs);
void arc_control_point(const point3& a, const point3& b, const point3& c, point3& control, double& weight,
                       int& status);


}  // namespace kv
