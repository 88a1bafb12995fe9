// The block writer: puts the requested words in word order into one NC line
// (tape positions, address letters, formatted values, literals, end-of-block
// text), numbers it, writes it to the tape, echoes it to the print file and
// counts it in the tape lengths.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

block_writer_t block_writer;

namespace {

constexpr int KEY_BLOCK_NUMBER = 1;
constexpr int KEY_X = 8;
constexpr int POINT_CHARACTER = 3;       // spchar
constexpr int ZERO_CHARACTER = 4;        // spchar
constexpr int END_OF_BLOCK = 8;          // spchar
constexpr int BLOCK_START = 22;          // intsp
constexpr int BLOCK_INCREMENT = 23;      // intsp
constexpr int ECHO_WIDTH = 66;           // intsp: 1..80 gives the two-line echo
constexpr int BLOCK_NUMBER_SENTINEL = -99;  // word_previous of the block number: never "unchanged"
constexpr int ECHO_LINE_CHARS = 70;      // block-line characters the echo shows
constexpr int ECHO_SPLIT_FIRST = 36;     // of which the first echo line of two shows
constexpr int ECHO_POSITION_SHOWN = 36;  // position-field characters shown
constexpr int ECHO_MIN_WIDTH = 8;        // width of an echoed coordinate
constexpr int ECHO_WIDE_FROM = 9;        // X word widths used as they are
// Word-order entries 99 and up are literals; 95 + the literal count entries
// can be named at most.
constexpr int ORDER_ENTRY_LIMIT = LITERAL_ORDER_BASE + LITERAL_COUNT;


// Whether a setting's text is blank (blanks and NULs); a setting that has
// its first character, the common case, is known at once.
bool blank_text(std::string_view t) {
    return (t.empty() || t[0] == ' ' || t[0] == '\0') && trimmed_length(t) == 0;
}

void request_by_type(int w) {
    setwrd(w, 0, word_output_state.word_value_type[w] == WORD_CARRIES_TEXT ? SETWRD_REQUEST_TEXT : SETWRD_REQUEST);
}

// Copies n characters of src into line at column c; 1 when they pass its end.
int place(std::span<char> line, int& c, std::string_view src) {
    const int n = static_cast<int>(src.size());
    if (static_cast<long long>(c) - 1 + n > static_cast<long long>(line.size())) return 1;
    for (int i = 0; i < n; ++i) line[static_cast<std::size_t>(c - 1 + i)] = src[static_cast<std::size_t>(i)];
    c += n;
    return 0;
}

int place_blanks(std::span<char> line, int& c, int n) {
    if (n <= 0) return 0;
    // Tape positions near the integer limit must not wrap the sum.
    if (static_cast<long long>(c) - 1 + n > static_cast<long long>(line.size())) return 1;
    for (int i = 0; i < n; ++i) line[static_cast<std::size_t>(c - 1 + i)] = ' ';
    c += n;
    return 0;
}

// The 50-character field of the absolute X, Y and Z positions of the axes
// that moved, in the X word's format with a decimal point.
void build_echo_positions(std::span<char> p) {
    const configuration_store_t& cs = configuration_store;
    const motion_state_t& m = motion_state;
    for (char& ch : p) ch = ' ';
    const int x = cs.key[KEY_X];
    if (!valid_word(x)) return;
    const int decimals = cs.word_formats[x][WRDPRN];
    const int exponent_width = cs.word_formats[x][EXPONENT_WIDTH];
    const int width = cs.word_formats[x][WRDLEN] >= ECHO_WIDE_FROM ? cs.word_formats[x][WRDLEN] : ECHO_MIN_WIDTH;
    static constexpr int columns[3] = {1, 13, 23};
    for (int i = 1; i <= 3; ++i) {
        if (m.position[i] == m.previous_position[i]) continue;
        // Each coordinate is kept at its own resolution; the echo shows all
        // three at the X word's, and leaves out one too wide for it.
        const double at_x = std::round(static_cast<double>(m.position_units[i]) * MULT(x) / axis_mult(i));
        if (!word_value_fits(at_x)) continue;
        const int v = static_cast<int>(at_x);
        const double magnitude = std::fabs(static_cast<double>(v));
        int column = columns[i - 1];
        if (magnitude < power_of_ten(decimals + 2)) ++column;
        if (magnitude < power_of_ten(decimals + 1)) ++column;
        int written = 0;
        // A coordinate too wide for its place is left out of the echo.
        (void)format_word_value(p, column, width, written, v, 2, 2, 1, decimals, exponent_width,
                                cs.spchar[ZERO_CHARACTER].view().substr(0, ZERO_TEXT_LENGTH));
    }
}

void echo_line(std::string_view line, int length) {
    const int unit = job_files.file_units[unit_slot(FILE_PRINT)];
    if (unit < 0 || is_null_unit(unit)) return;
    text<ECHO_POSITION_LENGTH> positions;
    const char saved_point = derived_settings.decimal_point_char;
    derived_settings.decimal_point_char = '.';
    build_echo_positions(positions.span());
    derived_settings.decimal_point_char = saved_point;

    auto line_char = [&](int i) { return i <= length ? line[static_cast<std::size_t>(i - 1)] : ' '; };
    text<ECHO_LINE_LENGTH> echo;
    int k = 1;
    auto put = [&](char ch) {
        if (k <= echo.size()) echo[k] = ch;
        ++k;
    };
    const int width = configuration_store.intsp[ECHO_WIDTH];
    put(' ');
    put(' ');
    for (int i = 1; i <= REFERENCE_LABEL_LENGTH; ++i) put(block_writer.reference_label[i]);
    put(' ');
    if (width >= 1 && width <= 80) {
        for (int i = 1; i <= ECHO_SPLIT_FIRST; ++i) put(line_char(i));
        put(' ');
        put(' ');
        for (int i = 1; i <= ECHO_POSITION_SHOWN; ++i) put(positions[i]);
        write_line_or_stop(echo.view().substr(0, ECHO_SPLIT_LENGTH), unit);
        block_writer.reference_label.clear();
        echo.clear();
        k = 1;
        for (int i = 1; i <= 2 + REFERENCE_LABEL_LENGTH + 1; ++i) put(' ');
        for (int i = ECHO_SPLIT_FIRST + 1; i <= ECHO_LINE_CHARS; ++i) put(line_char(i));
        write_line_or_stop(echo.view().substr(0, ECHO_SPLIT_LENGTH), unit);
        return;
    }
    for (int i = 1; i <= ECHO_LINE_CHARS; ++i) put(line_char(i));
    put(' ');
    put(' ');
    for (int i = 1; i <= ECHO_POSITION_SHOWN; ++i) put(positions[i]);
    write_line_or_stop(echo.view(), unit);
    block_writer.reference_label.clear();
}

}  // namespace

void write_block(int mode, int& overflow) {
    configuration_store_t& cs = configuration_store;
    word_output_state_t& s = word_output_state;
    block_interpreter_t& bi = block_interpreter;
    derived_settings_t& d = derived_settings;
    overflow = 0;
    int reasons = 0;
    int c = 1;
    std::span<char> line = block_writer.block_line.span();
    const int number_word = cs.key[KEY_BLOCK_NUMBER];
    const bool has_number_word = valid_word(number_word) && number_word != NO_WORD;
    if (has_number_word) s.word_previous[number_word] = BLOCK_NUMBER_SENTINEL;

    if (blank_text(cs.spchar[POINT_CHARACTER])) cs.spchar[POINT_CHARACTER].set(".");
    d.decimal_point_char = cs.spchar[POINT_CHARACTER][1];

    // Only requested and permanent words have anything to do here, visited in
    // ascending word order; a link may add a later word to the visit.
    const int count = cs.active_word_count < MAXWORDS ? cs.active_word_count : MAXWORDS;
    auto next_to_visit = [&](int from) { return first_in_either(s.word_request, d.permanent_words, from, count); };
    for (int w = next_to_visit(1); w != 0; w = next_to_visit(w + 1)) {
        if (cs.wperm[w] == 2 || (cs.wperm[w] == 1 && mode == WRITE_BLOCK_PENDING)) request_by_type(w);
        if (cs.word_formats[w][WRDMOD] == 1) {
            const bool unchanged = s.word_value_type[w] == WORD_CARRIES_TEXT
                                       ? text_equals(s.word_text[w], s.word_previous_text[w]) != 0
                                       : s.word_value[w] == s.word_previous[w];
            if (unchanged) setwrd(w, 0, SETWRD_CANCEL);
        }
        // Inside a block with items, words bring no linked words.
        const int link = bi.links_suspended ? NO_LINK : cs.wrdlnk[w];
        if (s.word_request[w] != 0 && link > 0 && link <= MAXWORDS) request_by_type(link);
    }

    const bool had_number = has_number_word && s.word_request[number_word] != 0;
    if (has_number_word) setwrd(number_word, d.sequence_number, SETWRD_SET);
    bool number_placed = false;

    // Each word and literal is written once, at its first entry in the
    // order; once the requested words are all placed and no literal waits,
    // the rest of the order has nothing to give.
    word_set placed;
    int unplaced = s.word_request.size();
    const bool literals = bi.literals_pending != 0;
    bool literal_placed[LITERAL_COUNT + 1];
    if (literals) std::fill(std::begin(literal_placed), std::end(literal_placed), false);
    const int order_length = bi.current_word_order_length < MAXWORDS ? bi.current_word_order_length : MAXWORDS;
    for (int o = 1; o <= order_length && (literals || unplaced > 0); ++o) {
        const int e = bi.current_word_order[o];
        if (e >= 1 && e <= MAXWORDS) {
            if (!s.word_request.contains(e) || placed.contains(e)) continue;
            placed.add(e);
            --unplaced;
            const bool text_word = s.word_value_type[e] == WORD_CARRIES_TEXT;
            if (s.word_forced[e] != 0) {
                // A forced word is not remembered as written: the next line
                // that requests it writes it again, whatever its value.
                s.word_previous[e] = NO_PREVIOUS_VALUE;
                s.word_previous_text[e].set(FORCED_PREVIOUS_TEXT);
                s.word_forced[e] = 0;
                // A forced coordinate ("G91 G28 Z0") sends the machine
                // somewhere other than the position: the next move writes
                // that axis even when the position did not change.
                const int axis = coordinate_axis_of_word(e);
                if (axis > 0) motion_state.unwritten_axes[axis] = 1;
            } else if (text_word) {
                s.word_previous_text[e] = s.word_text[e];
                s.word_previous[e] = NO_PREVIOUS_VALUE;
            } else {
                s.word_previous[e] = s.word_value[e];
                s.word_previous_text[e].clear();
            }
            if (cs.wperm[e] == 0) {
                ++reasons;
                if (e == number_word) number_placed = true;
            }
            const int t = cs.word_formats[e][ITPPOS];
            if (t > 0) {
                if (c != 1 && place_blanks(line, c, t)) return void(overflow = 1);
            } else if (t < 0) {
                if (t < -BLOCK_LINE_LENGTH) return void(overflow = 1);
                const int start = -t;
                if (c < start) {
                    if (place_blanks(line, c, start - c)) return void(overflow = 1);
                } else {
                    c = start;
                }
            }
            int address = cs.word_formats[e][WRDCHL];
            if (address > WORD_CHARS_LENGTH) address = WORD_CHARS_LENGTH;
            if (address > 0 && place(line, c, cs.wrdch[e].view().substr(0, static_cast<std::size_t>(address))))
                return void(overflow = 1);
            const int width = cs.word_formats[e][WRDLEN];
            if (!text_word) {
                // A value that did not fit the word reaches here saturated; a
                // scale may carry one out of range: neither is written clamped.
                const double scaled = std::trunc(static_cast<double>(s.word_value[e]) * d.word_scale[e]);
                if (!word_value_fits(static_cast<double>(s.word_value[e])) || !word_value_fits(scaled))
                    stop_value_beyond_word();
                const int v = static_cast<int>(scaled);
                // The zero text is read only for the value 0.
                std::string_view zero;
                if (v == 0) {
                    zero = !blank_text(cs.word_zero_text[e]) ? cs.word_zero_text[e].view()
                                                             : cs.spchar[ZERO_CHARACTER].view();
                    if (zero.size() > ZERO_TEXT_LENGTH) zero = zero.substr(0, ZERO_TEXT_LENGTH);
                }
                int written = 0;
                if (format_word_value(line, c, width, written, v, cs.word_formats[e][IZSUP_CURRENT],
                                      cs.word_formats[e][SINREQ], cs.word_formats[e][IDEC_CURRENT] == 1 ? 1 : 0,
                                      cs.word_formats[e][WRDPRN], cs.word_formats[e][EXPONENT_WIDTH], zero))
                    return void(overflow = 1);
                c += written;
            } else {
                if (cs.word_upper_case[e] > 0) convert_case(s.word_text[e].span(), 1);
                int n = trimmed_length(s.word_text[e]);
                const long long limit = width < 0 ? -static_cast<long long>(width) : width;
                if (n > limit) n = static_cast<int>(limit);
                if (place(line, c, s.word_text[e].view().substr(0, static_cast<std::size_t>(n))))
                    return void(overflow = 1);
            }
        } else if (literals && e > LITERAL_ORDER_BASE && e <= ORDER_ENTRY_LIMIT) {
            const int j = e - LITERAL_ORDER_BASE;
            if (literal_placed[j]) continue;
            literal_placed[j] = true;
            int n = bi.literal_length[j];
            if (n > LITERAL_LENGTH) n = LITERAL_LENGTH;
            // An empty text (a comment of no characters) gives no reason to
            // write the line: alone it would leave a bare block number.
            if (n > 0) ++reasons;
            if (n > 0 && place(line, c, bi.literal_text[j].view().substr(0, static_cast<std::size_t>(n))))
                return void(overflow = 1);
            bi.literal_text[j].clear();
            bi.literal_length[j] = 0;
        }
    }

    const int end_length = d.end_of_block_length;
    if (end_length > 0 && place(line, c, cs.spchar[END_OF_BLOCK].view().substr(0, static_cast<std::size_t>(end_length))))
        return void(overflow = 1);

    const int length = c - 1;
    block_writer.block_line_length = length;
    // The block number alone never causes a line. Only a block number that
    // was placed (and so counted) is taken off again: one requested but
    // absent from the word order would otherwise cancel the reason of
    // another word and lose that word's line.
    if (had_number && number_placed && cs.wperm[number_word] == 0) --reasons;

    if (reasons > 0) {
        ++block_writer.block_lines_written;
        if (had_number) {
            d.sequence_number += cs.intsp[BLOCK_INCREMENT];
            if (d.sequence_number > d.sequence_number_max) d.sequence_number = cs.intsp[BLOCK_START];
        }
        const std::string_view written_line = block_writer.block_line.view().substr(0, static_cast<std::size_t>(length));
        echo_line(written_line, length);
        write_line_or_stop(written_line, job_files.file_units[unit_slot(FILE_TAPE)]);
        for (int i = 1; i <= 3; ++i) tape_state.tape_characters[i] += length + 1;
        note_written_data_mode(placed);
        s.word_request.remove_through(count);
    }
    bi.literals_pending = 0;
}

}  // namespace kv
