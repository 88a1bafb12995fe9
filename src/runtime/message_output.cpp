// Writes numbered messages to units and the console: whole messages, the
// progress dots and counts of the two passes over the cutfile, and the
// warning summary printed at the end of a successful run.
#include <array>

#include "ppnsub/ppnsub.h"
#include "runtime/runtime.h"

namespace kv {

cldata_progress_t cldata_progress;
// The summary starts out cleared (blank text, nothing recorded) before the
// program's entry: its initial values are those of clear_warning_summary.
warning_summary_t warning_summary;

namespace {
constexpr int MSG_RECORDS_READ = 232;
constexpr int MSG_RECORDS_PROCESSED = 233;
constexpr int MSG_READING_RECORDS = 234;
constexpr int PROGRESS_FIELD_LEN = 80;   // a progress text is formatted into this
constexpr int DOT_EVERY = 20;            // records a progress dot
constexpr int COUNT_EVERY = 500;         // records a count line in pass 1
constexpr int REPORTS_PER_PASS = 20;     // count lines in pass 2, roughly

// A line at its trimmed length, but never empty.
std::string_view shown_line(std::string_view field) {
    return field.substr(0, static_cast<std::size_t>(trimmed_length_min1(field)));
}

// The first line of message n on the message unit, without an end of line.
void write_progress_text(int n) {
    text<PROGRESS_FIELD_LEN> field;
    format_message_first_line(n, field.span());
    int status = 0;
    filuwr(message_unit(), shown_line(field.view()), status);
}
}  // namespace

void write_message(int unit, int n) {
    text<MSGLEN> line;
    int remaining = 0;
    do {
        format_next_message_line(n, line.span(), remaining);
        int status = 0;
        filwri(unit, shown_line(line.view()), status);
    } while (remaining > 0);
}

void issue_message(int n) {
    set_progress_dots(0);
    write_message(message_unit(), n);
}

void set_progress_dots(int on) {
    int status = 0;
    if (on != 0) {
        filuwr(message_unit(), ".", status);
        cldata_progress.progress_line_open = 1;
    } else if (cldata_progress.progress_line_open != 0) {
        filwri(message_unit(), " ", status);
        cldata_progress.progress_line_open = 0;
    }
}

void report_cldata_progress(int mode) {
    cldata_progress_t& p = cldata_progress;
    if (mode == 1) {
        p.records_read = 0;
        p.records_processed = 0;
        p.next_report_at = 0;
        p.pass1_running = 1;
        p.progress_on = 1;
        write_progress_text(MSG_READING_RECORDS);
        set_progress_dots(1);
        return;
    }
    if (p.progress_on == 0 || (mode != 0 && mode != -1)) return;
    if ((p.records_read + p.records_processed) % DOT_EVERY == 0) set_progress_dots(1);
    if (mode == -1) {
        p.pass1_running = 0;
        if (p.records_read % COUNT_EVERY != 0) {
            set_progress_dots(0);
            set_message_int_arg(1, p.records_read);
            issue_message(MSG_RECORDS_READ);
        }
        return;
    }
    if (p.pass1_running != 0) {
        p.records_read += 1;
        if (p.records_read % COUNT_EVERY == 0) {
            set_progress_dots(0);
            set_message_int_arg(1, p.records_read);
            write_progress_text(MSG_RECORDS_READ);
            set_progress_dots(1);
        }
        return;
    }
    p.records_processed += 1;
    if (p.records_processed < p.next_report_at) return;
    const int step = p.records_read / REPORTS_PER_PASS + 1;
    p.next_report_at = p.next_report_at + step < p.records_read ? p.next_report_at + step : p.records_read;
    set_progress_dots(0);
    set_message_int_arg(1, p.records_processed);
    // A pass 1 that asked for no record leaves nothing to divide by: the
    // records processed are then all there is.
    const long long percent =
        p.records_read > 0 ? static_cast<long long>(p.records_processed) * 100 / p.records_read : 100;
    set_message_int_arg(2, static_cast<int>(percent));
    write_progress_text(MSG_RECORDS_PROCESSED);
    if (p.records_processed < p.records_read) {
        set_progress_dots(1);
    } else {
        int status = 0;
        filwri(message_unit(), " ", status);
    }
}

void record_warning(int n, int show) {
    if (show != 0) issue_message(n);
    append_warning_text(n);
}

void append_warning_text(int n) {
    if (n < 1 || n > MAXMSG) return;
    warning_summary_t& w = warning_summary;
    if (w.warning_recorded[n] == 0) {
        w.warning_text_start[n] = w.warning_text_used;
        text<MSGLEN> line;
        int remaining = 0;
        do {
            format_next_message_line(n, line.span(), remaining);
            // Characters beyond the end of the summary text are not kept.
            const int room = WARNING_TEXT_LEN - w.warning_text_used;
            int length = trimmed_length(line.view());
            if (length > room) length = room;
            for (int i = 1; i <= length; ++i) w.warning_text[w.warning_text_used + i] = line[i];
            w.warning_text_used += length;
        } while (remaining > 0);
        w.warning_recorded[n] = 1;
        w.warning_text_end[n] = w.warning_text_used;
    }
    w.warnings_issued = 1;
}

void print_warning_summary() {
    const warning_summary_t& w = warning_summary;
    if (w.warnings_issued == 0) return;
    const int unit = tty_unit();
    int status = 0;
    filwri(unit, " ", status);
    filwri(unit, "** WARNING: The following warnings have been issued: ", status);
    filwri(unit, " ", status);
    std::array<char, WARNING_TEXT_LEN + 1> line;
    for (int n = 1; n <= MAXMSG; ++n) {
        if (w.warning_recorded[n] == 0) continue;
        line[0] = ' ';
        int length = 1;
        for (int i = w.warning_text_start[n] + 1; i <= w.warning_text_end[n]; ++i)
            line[static_cast<std::size_t>(length++)] = w.warning_text[i];
        filwri(unit, shown_line({line.data(), static_cast<std::size_t>(length)}), status);
    }
}

void clear_warning_summary() {
    warning_summary_t& w = warning_summary;
    w.warnings_issued = 0;
    w.warning_text.clear();
    w.warning_text_used = 1;
    w.warning_recorded.fill(0);
    w.warning_text_start.fill(0);
    w.warning_text_end.fill(0);
}

}  // namespace kv
