// Text commands (major word 1079) as pass 1 reads them: the record's text and
// command word, the FEDRAT feeds, CUTTIM, CUTLEN, TOOLPATH names, HOLETOP,
// CODEBASE and the IGNORE skip.
#include "control/control.h"
#include "job/job.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int CODEBASE_PACKED = 1000000;  // above it, a version and a two-digit revision

// The command text with its first word cut off, and the next number after it.
struct command_numbers {
    text<RECORD_TEXT_LEN> rest;
    text<RECORD_TEXT_LEN> token;

    explicit command_numbers(std::string_view command) {
        rest.set(command);
        next_token(rest, token);
    }
    double next_real() {
        next_token(rest, token);
        int integer_value = 0;
        double real_value = 0.0;
        parse_numeric_field(token, integer_value, real_value);
        return real_value;
    }
    int next_int() {
        next_token(rest, token);
        int integer_value = 0;
        double real_value = 0.0;
        parse_numeric_field(token, integer_value, real_value);
        return integer_value;
    }
};

std::string_view field_view(std::string_view text, int length) {
    if (length < 0) length = 0;
    if (length > static_cast<int>(text.size())) length = static_cast<int>(text.size());
    return text.substr(0, static_cast<std::size_t>(length));
}

}  // namespace

void get_record_text(std::span<char> field, int& length) {
    assign_text(field, "");
    int n = cldata_data_count();
    const int capacity = static_cast<int>(field.size());
    if (n > capacity) n = capacity;
    for (int k = 2; k <= n; ++k) field[static_cast<std::size_t>(k - 1)] = translate_char(cldata_char_word(k));
    length = n > 0 ? n : 0;
}

void get_record_keyword(std::span<char> field, int& length) {
    text<RECORD_TEXT_LEN> line;
    int n = 0;
    get_record_text(line, n);
    length = 0;
    tokenise_line(line, field, length);
}

void parse_codebase_command(std::string_view text, int length, int& version, int& revision) {
    command_numbers c(field_view(text, length));
    const int n = c.next_int();
    version = n;
    revision = 0;
    if (n > CODEBASE_PACKED) {
        version = n / 100;
        revision = n % 100;
    }
}

void parse_real_command(std::string_view text, int length, double& value) {
    command_numbers c(field_view(text, length));
    value = c.next_real();
}

void parse_fedrat_command(std::string_view text, int length, double& rapid, double& plunge, double& feed) {
    command_numbers c(field_view(text, length));
    rapid = c.next_real();
    plunge = c.next_real();
    feed = c.next_real();
}

void read_cldata_text_record(int i) {
    i = toolpath_row(i);
    text<RECORD_TEXT_LEN> line;
    int n = 0;
    get_record_text(line, n);
    text<RECORD_TEXT_LEN> keyword;
    int k = 0;
    get_record_keyword(keyword, k);
    const std::string_view command = line.view();
    const double uf = pass1_results.unit_factor;
    toolpath_tables_t& t = toolpath_tables;
    if (text_equals(keyword, "IGNORE")) {
        parse_ignore_command(command);
    } else if (text_equals(keyword, "FEDRAT")) {
        double r = 0.0, p = 0.0, f = 0.0;
        parse_fedrat_command(command, n, r, p, f);
        t.toolpath_rapid_feed[i] = r * uf;
        t.toolpath_plunge_rate[i] = p * uf;
        t.toolpath_feedrate[i] = f * uf;
        t.toolpath_fedrat_given[i] = 1;
        set_srat_defined(1);
    } else if (text_equals(keyword, "CUTTIM")) {
        parse_real_command(command, n, t.toolpath_cldata_values[i][1]);
    } else if (text_equals(keyword, "CUTLEN")) {
        double v = 0.0;
        parse_real_command(command, n, v);
        t.toolpath_cldata_values[i][2] = v * uf;
    } else if (text_equals(keyword, "TOOLPATH")) {
        // The text after the word TOOLPATH, from its first non-blank character.
        text<RECORD_TEXT_LEN> rest = line;
        text<RECORD_TEXT_LEN> word;
        next_token(rest, word);
        t.toolpath_names[i].set(trimmed(rest.view()));
    } else if (text_equals(keyword, "HOLETOP")) {
        // The same flag that a special record of code 6 and the HOLETOP command
        // set at run time, and that every cycle output clears.
        cycle_values.holetop_given = 1;
    } else if (text_equals(keyword, "CODEBASE")) {
        parse_codebase_command(command, n, pass1_results.codebase_version[1], pass1_results.codebase_version[2]);
    }
}

}  // namespace kv
