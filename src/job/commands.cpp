// Post-processor commands (class-2000 records): the handler of each major word,
// turning the command into word values, pending move flags, setup-file lines
// or the control's own block; and the text-command language.
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

ppword_state_t ppword_state;

namespace {

// Major words of the commands handled here.
constexpr int MW_END_OF_TAPE = 1;
constexpr int MW_STOP = 2;
constexpr int MW_OPSTOP = 3;
constexpr int MW_RAPID = 5;
constexpr int MW_GOHOME = 17;
constexpr int MW_CUTCOM = 1007;
constexpr int MW_FEDRAT = 1009;
constexpr int MW_DELAY = 1010;
constexpr int MW_OPSKIP = 1012;
constexpr int MW_LEADER = 1013;
constexpr int MW_SEQNO = 1019;
constexpr int MW_AUXFUN = 1022;
constexpr int MW_TOOL_LENGTH = 1025;
constexpr int MW_COOLNT = 1030;
constexpr int MW_SPINDL = 1031;
constexpr int MW_SELECT_TOOL = 1033;
constexpr int MW_THREAD = 1036;
constexpr int MW_IGNORED = 1037;
constexpr int MW_COMMENT = 1044;
constexpr int MW_PARTNO = 1045;
constexpr int MW_INSERT = 1046;
constexpr int MW_PREFUN = 1048;
constexpr int MW_CYCLE = 1054;
constexpr int MW_LOADTL = 1055;
constexpr int MW_TOOLNO = 1056;
constexpr int MW_TEXT = 1079;
constexpr int MW_TOOL_OFFSETS = 1083;
constexpr int MW_TOOLPATH = 1094;

// Key roles.
constexpr int KEY_BLOCKNUMBER = 1;
constexpr int KEY_PREPARATORY = 2;
constexpr int KEY_AUX = 3;
constexpr int KEY_TOOL_NUMBER = 20;
constexpr int KEY_TOOL_LENGTH = 24;
constexpr int KEY_TOOL_RADIUS = 25;
constexpr int KEY_MESSAGE_START = 29;
constexpr int KEY_MESSAGE_END = 30;
constexpr int KEY_OPSKIP = 31;
constexpr int KEY_LEADER = 39;

// Labels: message n + 30 heads the next print-file line.
constexpr int LABEL_MACHINE_STOP = 12;
constexpr int LABEL_INSERT = 15;
constexpr int LABEL_COMMENT = 18;
constexpr int LABEL_CUTCOM_OFF = 23;

// Minor words.
constexpr int MINOR_ON = 71;
constexpr int MINOR_OFF = 72;
constexpr int MINOR_LEFT = 8;
constexpr int MINOR_RIGHT = 24;

constexpr int FLAG_LEADER = 6;               // a leader block is being written
constexpr int FLAG_COMPENSATION_CHANGE = 22;
constexpr int FUNCTION_ABSOLUTE = 14;
constexpr int FUNCTION_INCREMENTAL = 15;
constexpr int MSG_TOO_MANY_PECKS = 113;
constexpr int MSG_UNKNOWN_CYCLE = 114;
constexpr int MSG_AUX_KEY_NOT_SET = 138;
constexpr int MSG_PREP_KEY_NOT_SET = 145;
constexpr int MSG_COMMENT_LINE = 176;
constexpr int MSG_PART_NUMBER = 199;
constexpr int CYCLE_TAP = 4;
constexpr double TAP_FEED_FACTOR = 0.95;     // tapping feed unless "cycle output" 69 is 2

// Data word i of a record that may be too short to hold it: 0 below word 1
// (the accessors would read the record's header there).
double data_real(int i) { return i >= 1 ? cldata_real_word(i) : 0.0; }
double unit_factor() { return pass1_results.unit_factor; }

// auxfun and prefun: the record's first value into the word of the key;
// a key that names no word is reported, one set to -1 turns the command off.
void function_word_command(int role, int message, int label) {
    const int v = cldata_rounded_word(1);
    const int w = key_word(role);
    if (w == 0) {
        issue_message(message);
        return;
    }
    if (w == -1) return;
    setwrd(w, v, SETWRD_SET_REQUEST);
    if (label != 0) set_reference_message(label);
    end_record_block(1);
}

// The text of a comment record (data words 1 to the last) into field; returns
// the count of characters placed.
int comment_text(std::span<char> field) {
    assign_text(field, "");
    const int n = cldata_data_count();
    return n > 0 ? copy_record_chars(1, n, field, 1) : 0;
}

// The characters that open and close a comment on the tape (the letters of
// the words of "message start" and "message end") become blanks in its
// text: a ")" in a comment would close it and let the rest run as NC words.
void keep_comment_delimiters_out(std::span<char> text) {
    const configuration_store_t& cs = configuration_store;
    for (int role : {KEY_MESSAGE_START, KEY_MESSAGE_END}) {
        const int w = key_word(role);
        if (!valid_word(w)) continue;
        int n = cs.word_formats[w][WRDCHL];
        if (n > WORD_CHARS_LENGTH) n = WORD_CHARS_LENGTH;
        const std::string_view letters = cs.wrdch[w].view().substr(0, n > 0 ? static_cast<std::size_t>(n) : 0);
        for (char& ch : text)
            if (ch != ' ' && letters.find(ch) != std::string_view::npos) ch = ' ';
    }
}

// Message 176 with the start of a comment, to the setup file.
void comment_to_setup(std::string_view comment) {
    const std::size_t shown = comment.size() < COMMENT_SETUP_LENGTH ? comment.size() : COMMENT_SETUP_LENGTH;
    set_message_string_arg(1, comment.substr(0, shown));
    write_message(job_unit(FILE_SETUP), MSG_COMMENT_LINE);
}

// The number after the command word of a text command: the token that
// follows it, read by parse_numeric_field.
void read_command_numbers(std::string_view command, int count, array1<int, 2>& ints, array1<double, 2>& reals) {
    text<TEXT_COMMAND_LENGTH> line;
    line.set(command);
    text<TEXT_COMMAND_LENGTH> token;
    next_token(line.span(), token.span());
    for (int i = 1; i <= count; ++i) {
        token.clear();
        next_token(line.span(), token.span());
        parse_numeric_field(token.view(), ints[i], reals[i]);
    }
}

}  // namespace

void dispatch_ppword_record() {
    pending_move_flags_t& pending = pending_move_flags;
    switch (cldata_subclass()) {
        case MW_END_OF_TAPE: {
            output_program_end();
            start_next_tape();
            text<DATE_TIME_LENGTH> now;
            get_date_time_text(now.span());
            start_tape(now.view());
            break;
        }
        case MW_STOP:
        case MW_OPSTOP:
            mset(cldata_subclass() == MW_STOP ? 1 : 2, SETWRD_SET_REQUEST);
            set_reference_message(LABEL_MACHINE_STOP);
            end_record_block(1);
            break;
        case MW_RAPID:
            end_record_block(0);
            pending.rapid_pending = 1;
            break;
        case MW_GOHOME:
            end_record_block(0);
            pending.go_home_pending = 1;
            pending.rapid_pending = 1;
            break;
        case MW_CUTCOM: handle_cutcom(); break;
        case MW_FEDRAT: handle_feedrate(); break;
        case MW_DELAY: dwellp(cldata_real_word(1)); break;
        case MW_OPSKIP: handle_opskip(); break;
        case MW_LEADER:
            set_status_flag(FLAG_LEADER, 1);
            setwrd(key_word(KEY_LEADER), cldata_rounded_word(1), SETWRD_SET_REQUEST);
            end_record_block(1);
            set_status_flag(FLAG_LEADER, 0);
            break;
        case MW_SEQNO:
            setwrd(key_word(KEY_BLOCKNUMBER), cldata_rounded_word(1), SETWRD_SET);
            end_record_block(1);
            break;
        case MW_AUXFUN: auxfun(); break;
        case MW_TOOL_LENGTH:
            machine_model.tool_length = cldata_real_word(7);
            end_record_block(0);
            break;
        case MW_COOLNT: handle_coolant(); break;
        case MW_SPINDL: spindl(); break;
        case MW_SELECT_TOOL: handle_tool_select(); break;
        case MW_THREAD:
            end_record_block(0);
            pending.thread_pending = 1;
            break;
        case MW_IGNORED: break;
        case MW_COMMENT: handle_comment(); break;
        case MW_PARTNO: handle_part_number(); break;
        case MW_INSERT: handle_insert(); break;
        case MW_PREFUN: prefun(); break;
        case MW_CYCLE: handle_cycle(); break;
        case MW_LOADTL: handle_tool_change(); break;
        case MW_TOOLNO:
            setwrd(key_word(KEY_TOOL_NUMBER), cldata_rounded_word(1), SETWRD_SET_REQUEST);
            end_record_block(1);
            break;
        case MW_TEXT: handle_text_command(); break;
        case MW_TOOL_OFFSETS:
            setwrd(key_word(KEY_TOOL_LENGTH), cldata_rounded_word(1), SETWRD_SET_REQUEST);
            setwrd(key_word(KEY_TOOL_RADIUS), cldata_rounded_word(2), SETWRD_SET_REQUEST);
            end_record_block(1);
            break;
        case MW_TOOLPATH:
            start_next_toolpath();
            end_record_block(0);
            break;
        default: end_record_block(0); break;
    }
}

void auxfun() { function_word_command(KEY_AUX, MSG_AUX_KEY_NOT_SET, LABEL_INSERT); }

void prefun() { function_word_command(KEY_PREPARATORY, MSG_PREP_KEY_NOT_SET, 0); }

void handle_cutcom() {
    ppword_state_t& s = ppword_state;
    set_reference_message(LABEL_CUTCOM_OFF);
    end_record_block(0);
    switch (cldata_int_word(1)) {
        case MINOR_RIGHT:
            s.compensation_state = COMPENSATION_RIGHT;
            s.last_compensation_side = COMPENSATION_RIGHT;
            break;
        case MINOR_LEFT:
            s.compensation_state = COMPENSATION_LEFT;
            s.last_compensation_side = COMPENSATION_LEFT;
            break;
        case MINOR_OFF: s.compensation_state = COMPENSATION_OFF; break;
        case MINOR_ON:
            s.compensation_state = s.last_compensation_side == COMPENSATION_RIGHT ? COMPENSATION_RIGHT : COMPENSATION_LEFT;
            break;
        default: break;
    }
    if (get_intsp(34) == 2) {
        crc();
        end_record_block(1);
    } else {
        set_status_flag(FLAG_COMPENSATION_CHANGE, 1);
    }
}

void handle_feedrate() {
    const int minor = cldata_int_word(2);
    motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = feed_unit_per_revolution(minor) ? 0 : 1;
    feed_state.feedrate = cldata_real_word(1) * unit_factor();
    end_record_block(0);
}

void handle_opskip() {
    array1<int, OUTPUT_MODE_FLAGS>& flags = motion_state.output_mode_flags;
    flags[OPTIONAL_SKIP_FLAG] = 0;
    clear_modal_memory();
    if (cldata_int_word(1) == MINOR_ON) {
        setwrd(key_word(KEY_OPSKIP), 0, SETWRD_PERMANENT);
        flags[OPTIONAL_SKIP_FLAG] = 1;
    } else {
        setwrd(key_word(KEY_OPSKIP), 0, SETWRD_NOT_PERMANENT);
    }
    flags[FORCE_XYZ_FLAG] = flags[OPTIONAL_SKIP_FLAG] == 0 ? 1 : 0;
    end_record_block(1);
}

void handle_comment() {
    if (get_intsp(2) != 1) {
        // The comment goes to the setup and print files only, never to the tape.
        text<COMMENT_LENGTH> comment;
        comment_text(comment.span());
        comment_to_setup(comment.view());
        if (job_unit(FILE_PRINT) >= 0) write_line_or_stop(comment.view().substr(0, trimmed_length_min1(comment.view())), job_unit(FILE_PRINT));
        return;
    }
    write_block_or_stop(WRITE_BLOCK_PENDING);
    set_reference_message(LABEL_COMMENT);
    setwrd(key_word(KEY_MESSAGE_START), 0, SETWRD_REQUEST);
    block_interpreter_t& b = block_interpreter;
    b.literals_pending = 1;
    const int length = comment_text(b.literal_text[1].span());
    keep_comment_delimiters_out(b.literal_text[1].span().subspan(0, static_cast<std::size_t>(length)));
    comment_to_setup(b.literal_text[1].view().substr(0, static_cast<std::size_t>(length)));
    b.literal_length[1] = length;
    end_record_block(1);
}

void handle_part_number() {
    const std::string_view number = pass1_results.part_number.view();
    set_message_string_arg(1, number.substr(0, trimmed_length_min1(number)));
    write_message(job_unit(FILE_SETUP), MSG_PART_NUMBER);
    end_record_block(0);
}

void handle_insert() {
    block_interpreter_t& b = block_interpreter;
    int n = cldata_data_count();
    if (n < 0) n = 0;
    if (n > LITERAL_LENGTH) n = LITERAL_LENGTH;  // the literal holds no more
    b.literal_text[1].clear();
    b.literal_length[1] = n;
    int start = 1;
    const bool deferred = n > 0 && translate_char(cldata_char_word(1)) == '&';
    if (deferred) {
        b.literal_length[1] = n - 1;
        start = 2;
    }
    // Positions past the record's last word stay blank.
    copy_record_chars(start, cldata_data_count(), b.literal_text[1].span().subspan(0, static_cast<std::size_t>(n)), 1);
    b.literals_pending = 1;
    if (!deferred) {
        end_record_block(1);
        b.literals_pending = 0;
    }
}

void handle_cycle() {
    cycle_state_t& cs = cycle_state;
    cycle_parameters_t& cp = cycle_parameters;
    const double uf = unit_factor();
    const int n = cldata_data_count();
    int pecks = n - 5;
    if (pecks < 0) pecks = 0;  // a record too short to carry pecks
    cs.depth_count = pecks;
    if (cycle_values.numberpecks_given == 0) cs.number_of_pecks = pecks;
    if (pecks > MAXPECKS) {
        issue_message(MSG_TOO_MANY_PECKS);
        cs.depth_count = MAXPECKS;
    }

    cs.minor_word = cldata_int_word(1);
    cs.cycle_type = 0;
    for (int r = 1; r <= CYCLE_TABLE_ROWS; ++r)
        if (cycle_table[r].minor_word == cs.minor_word) cs.cycle_type = r;
    if (cs.cycle_type == 0) {
        // CYCLE/OFF ends the cycle mode; a cycle this system does not know
        // is reported. Either way no cycle is pending: the points that follow
        // are written as the moves they would be without the record.
        if (cs.minor_word != MINOR_OFF) issue_message(MSG_UNKNOWN_CYCLE);
        pending_move_flags.cycle_pending = 0;
        return;
    }
    pending_move_flags.cycle_pending = 1;

    for (int j = 1; j <= cs.depth_count; ++j) cp.depths[j] = cldata_real_word(j + 1) * uf;
    cp.feed = data_real(n - 2) * uf;
    const int unit = n >= 4 ? cldata_int_word(n - 3) : 0;
    cp.feed_per_revolution = feed_unit_per_revolution(unit) ? 1 : 0;
    pending_move_flags.rapid_pending = 1;
    if (cs.cycle_type == CYCLE_TAP && get_intsp(69) != 2) cp.feed *= TAP_FEED_FACTOR;
    cp.feed_written = cp.feed;
    cp.clearance = data_real(n) * uf;
    const vector3 here{{motion_state.position[1], motion_state.position[2], motion_state.position[3]}};
    cp.height = height_along_tool_axis(here);
}

void handle_text_command() {
    text<TEXT_COMMAND_LENGTH> t1;
    text<TEXT_COMMAND_LENGTH> t2;
    const int n = cldata_data_count();
    if (n >= 2) {
        copy_record_chars(2, n, t1.span(), 2);
        copy_record_chars(2, n, t2.span(), 2);
    }
    text<TEXT_COMMAND_LENGTH> command;
    text<TEXT_COMMAND_LENGTH> argument;
    next_token(t1.span(), command.span());
    next_token(t1.span(), argument.span());

    if (text_equals(command.view(), "INC")) {
        set_coordinate_mode(0);
        gset(FUNCTION_INCREMENTAL, SETWRD_SET_REQUEST);
    } else if (text_equals(command.view(), "ABS")) {
        set_coordinate_mode(1);
        gset(FUNCTION_ABSOLUTE, SETWRD_SET_REQUEST);
    } else if (text_equals(command.view(), "IGNORE")) {
        parse_ignore_command(t2.view());
    } else if (text_equals(command.view(), "HOLETOP")) {
        parse_holetop_command(t2.view());
    } else if (text_equals(command.view(), "DRILLDWELL")) {
        parse_drilldwell_command(t2.view());
    } else {
        int ignored = 0;
        parse_numeric_field(argument.view(), ignored, ppword_state.text_command_argument);
        convert_case(command.span(), 0);
        for (int i = 1; i <= PPFUN_SLOTS; ++i) {
            if (!text_equals(configuration_store.ppfstr[i].view(), command.view())) continue;
            if (configuration_store.blklen[PPFUN_BASE + i] < 1) continue;
            run_block(PPFUN_BASE + i);
            break;
        }
    }
}

void parse_numeric_field(std::string_view field, int& integer_value, double& real_value) {
    const std::size_t length = field.size() < NUMERIC_FIELD_CHARS ? field.size() : NUMERIC_FIELD_CHARS;
    bool negative = false;
    bool point = false;
    bool digits = false;
    int decimals = 0;
    // Fifteen digits fit a 64-bit integer; the integer value saturates.
    long long number = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char ch = field[i];
        if (ch == '-') {
            negative = true;
        } else if (ch == '.') {
            point = true;
        } else if (ch >= '0' && ch <= '9') {
            number = number * 10 + (ch - '0');
            digits = true;
            if (point) ++decimals;
        } else if (digits) {
            break;
        }
    }
    if (!digits) {
        integer_value = 0;
        real_value = 0.0;
        return;
    }
    if (negative) number = -number;
    integer_value = truncate_to_int(static_cast<double>(number));
    real_value = static_cast<double>(number) / real_int_power(10.0, decimals);
}

void parse_ignore_command(std::string_view command) {
    array1<int, 2> ints{};
    array1<double, 2> reals{};
    read_command_numbers(command, 2, ints, reals);
    // A command meant for a later version of the program leaves the records alone.
    if (program_version_number() < ints[1]) return;
    if (ints[2] > 0) start_skipping_records(ints[2]);
}

void parse_holetop_command(std::string_view command) {
    array1<int, 2> ints{};
    array1<double, 2> reals{};
    read_command_numbers(command, 1, ints, reals);
    set_holetop(reals[1]);
}

void parse_drilldwell_command(std::string_view command) {
    array1<int, 2> ints{};
    array1<double, 2> reals{};
    read_command_numbers(command, 1, ints, reals);
    cycle_values.dwell_time = reals[1];
}

}  // namespace kv
