// The unit table: numbered units over the platform's streams, with open,
// close, line and raw reads, line writes and rewind, each reporting an
// io_status; the special units for the console and the null device.
#include <unistd.h>

#include <cstring>

#include "ppnsub/ppnsub.h"

namespace kv {

unit_table_t unit_table;

namespace {

bool in_range(int u) { return u >= 0 && u <= MAXUNIT; }

std::size_t slot(int u) { return static_cast<std::size_t>(u); }

// Lines up to this length go to the stream in one write together with their
// line feed, so that an unbuffered console receives each line whole.
constexpr std::size_t JOINED_LINE_MAX = 4096;

// Adds text to the console hold, writing the hold out first when the text
// would not fit; false when the text alone is larger than the hold.
bool hold_text(std::string_view text) {
    if (text.size() > CONSOLE_HOLD_SIZE) return false;
    std::size_t held = static_cast<std::size_t>(unit_table.console_held);
    if (held + text.size() > CONSOLE_HOLD_SIZE) {
        flush_console_hold();
        held = 0;
    }
    std::memcpy(unit_table.console_hold.data() + held, text.data(), text.size());
    unit_table.console_held = static_cast<std::sig_atomic_t>(held + text.size());
    return true;
}

// Common part of filuwr and filwri; the site names the routine in an
// assertion report.
void write_unit_text(int u, std::string_view text, bool end_line, const char* site, int line,
                     int& status) {
    if (!in_range(u)) {
        status = IO_BAD_UNIT;
        return;
    }
    if (unit_table.access[slot(u)] != ACCESS_WRITE) {
        status = IO_NOT_WRITABLE;
        return;
    }
    if (u == unit_table.null_unit_number) {
        status = IO_OK;
        return;
    }
    std::FILE* f = unit_table.stream[slot(u)];
    if (f == nullptr) {
        assert_fail(site, line, "Attempting FORTRAN I/O");
        status = IO_FAILED;
        return;
    }
    if (f == stderr && !end_line && unit_table.console_hold_on && hold_text(text)) {
        status = IO_OK;
        return;
    }
    if (f == stdout || f == stderr) flush_console_hold();
    if (end_line && text.size() < JOINED_LINE_MAX) {
        char joined[JOINED_LINE_MAX];
        if (!text.empty()) std::memcpy(joined, text.data(), text.size());
        joined[text.size()] = '\n';
        const std::size_t n = text.size() + 1;
        status = write_stream_bytes(f, joined, n) == n ? IO_OK : IO_FAILED;
        return;
    }
    if (write_stream_bytes(f, text.data(), text.size()) != text.size()) {
        status = IO_FAILED;
        return;
    }
    if (end_line && std::fputc('\n', f) == EOF) {
        status = IO_FAILED;
        return;
    }
    status = IO_OK;
}

}  // namespace

void init_units(int& status) {
    for (int u = 0; u <= MAXUNIT; ++u) {
        unit_table.status[slot(u)] = u < FIRST_FREE_UNIT ? RESERVED_UNIT : FREE_UNIT;
        unit_table.access[slot(u)] = ACCESS_CLOSED;
        unit_table.stream[slot(u)] = nullptr;
    }
    unit_table.input_unit_number = 5;
    unit_table.tty_unit_number = 6;
    unit_table.message_unit_number = 7;
    unit_table.stream[5] = stdin;
    unit_table.access[5] = ACCESS_READ;
    unit_table.stream[6] = stdout;
    unit_table.access[6] = ACCESS_WRITE;
    unit_table.stream[7] = stderr;
    unit_table.access[7] = ACCESS_WRITE;
    unit_table.null_unit_number = NO_UNIT;
    unit_table.scanned_folder_count = 0;
    // On a terminal every dot shows as it is written; into a file or a pipe
    // nobody watches them one by one.
    unit_table.console_held = 0;
    unit_table.console_hold_on = ::isatty(STDERR_FILENO) == 0;
    status = IO_OK;
}

void flush_console_hold() {
    const std::size_t held = static_cast<std::size_t>(unit_table.console_held);
    if (held == 0) return;
    unit_table.console_held = 0;
    write_stream_bytes(stderr, unit_table.console_hold.data(), held);
}

void write_console_hold_on_signal() {
    const std::size_t held = static_cast<std::size_t>(unit_table.console_held);
    if (held == 0 || held > CONSOLE_HOLD_SIZE) return;
    unit_table.console_held = 0;
    // Nothing can be done about a console that takes no more.
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, unit_table.console_hold.data(), held);
}

void open_unit(int& u, std::string_view name, int st, int form, int& status) {
    const bool reading = st == OPEN_READ || st == OPEN_READ_OLD;
    const bool writing = st == OPEN_WRITE || st == OPEN_WRITE_NEW;
    if (reading && check_file_access(name, 0) != 0) {
        u = NO_UNIT;
        status = IO_MISSING;
        return;
    }
    int free_unit = NO_UNIT;
    for (int k = FIRST_FREE_UNIT; k <= MAXUNIT; ++k) {
        if (unit_table.status[slot(k)] == FREE_UNIT) {
            free_unit = k;
            break;
        }
    }
    if (free_unit == NO_UNIT) {
        u = NO_UNIT;
        status = IO_BAD_UNIT;
        return;
    }
    if (!reading && !writing) {
        u = NO_UNIT;
        status = IO_FAILED;
        return;
    }
    const int binary = form == FORM_BINARY ? 1 : 0;
    const int mode_index = reading ? 1 - binary : 3 - binary;
    std::FILE*& f = unit_table.stream[slot(free_unit)];
    const int opened = reading ? open_stream(f, name, mode_index) : open_output_stream(free_unit, name, mode_index);
    if (opened != 0) {
        u = NO_UNIT;
        status = IO_FAILED;
        return;
    }
    std::setvbuf(f, unit_table.buffer[slot(free_unit)].data(), _IOFBF, UNIT_BUFFER_SIZE);
    unit_table.status[slot(free_unit)] = OPENED_UNIT;
    unit_table.access[slot(free_unit)] = reading ? ACCESS_READ : ACCESS_WRITE;
    u = free_unit;
    status = IO_OK;
}

namespace {

// Common part of filclo and discard_unit: an output is finished or discarded.
void close_unit(int& u, int finish, int& status) {
    if (!in_range(u) || unit_table.status[slot(u)] != OPENED_UNIT) {
        status = IO_BAD_UNIT;
        return;
    }
    std::FILE*& f = unit_table.stream[slot(u)];
    if (f == nullptr) {
        assert_fail("ppnsub/filclo", 93, "Attempting FORTRAN I/O");
        status = IO_FAILED;
        return;
    }
    // A failed close still frees the unit: the stream is gone either way, and
    // a unit left opened without a stream could never be used or closed again.
    const int closed = unit_table.access[slot(u)] == ACCESS_WRITE ? close_output_stream(u, finish) : close_stream(f);
    f = nullptr;
    if (u == unit_table.null_unit_number) unit_table.null_unit_number = NO_UNIT;
    else if (u == unit_table.input_unit_number) unit_table.input_unit_number = NO_UNIT;
    else if (u == unit_table.tty_unit_number) unit_table.tty_unit_number = NO_UNIT;
    else if (u == unit_table.message_unit_number) unit_table.message_unit_number = NO_UNIT;
    unit_table.status[slot(u)] = FREE_UNIT;
    unit_table.access[slot(u)] = ACCESS_CLOSED;
    u = NO_UNIT;
    status = closed == 0 ? IO_OK : IO_FAILED;
}

}  // namespace

void filclo(int& u, int& status) { close_unit(u, CLOSE_FINISH, status); }

void discard_unit(int& u, int& status) { close_unit(u, CLOSE_DISCARD, status); }

void set_unit_aside(int& u, int& status) { close_unit(u, CLOSE_SET_ASIDE, status); }

void flush_unit(int u, int& status) {
    if (!in_range(u)) {
        status = IO_BAD_UNIT;
        return;
    }
    std::FILE* f = unit_table.stream[slot(u)];
    if (unit_table.access[slot(u)] != ACCESS_WRITE || f == nullptr) {
        status = IO_NOT_WRITABLE;
        return;
    }
    if (f == stderr) flush_console_hold();
    status = std::fflush(f) == 0 && std::ferror(f) == 0 ? IO_OK : IO_FAILED;
}

void filuwr(int u, std::string_view text, int& status) {
    write_unit_text(u, text, false, "ppnsub/filuwr", 87, status);
}

void filwri(int u, std::string_view text, int& status) {
    write_unit_text(u, text, true, "ppnsub/filwri", 96, status);
}

int irasc(int u, std::span<char> field, int limit) {
    if (!in_range(u) || unit_table.access[slot(u)] != ACCESS_READ) return -1;
    std::FILE* f = unit_table.stream[slot(u)];
    if (f == nullptr) {
        assert_fail("ppnsub/irasc", 86, "Attempting FORTRAN I/O");
        return -1;
    }
    // A prompt is on the console before its answer is awaited.
    if (u == unit_table.input_unit_number) flush_console_hold();
    // Never store past the caller's field, whatever limit it asks for.
    if (limit > static_cast<int>(field.size())) limit = static_cast<int>(field.size());
    if (limit < 0) limit = 0;
    int n = 0;
    for (;;) {
        const int ch = getc_unlocked(f);
        if (ch == EOF) return n;
        if (ch == '\n') {
            if (n > 0 && field[static_cast<std::size_t>(n - 1)] == '\r') --n;
            return n;
        }
        // The carriage return of a CR LF ending is stored like any byte until
        // the line feed shows it to be part of the ending; so a line of exactly
        // `limit` characters fits only with a bare line feed.
        if (n >= limit) return -1;
        field[static_cast<std::size_t>(n++)] = static_cast<char>(ch);
    }
}

void read_text_line(int u, std::span<char> field, int& n, int& status) {
    const int len = static_cast<int>(field.size());
    if (n < 1 || n > len) {
        status = IO_BAD_LENGTH;
    } else {
        const int c = irasc(u, field, n);
        if (c < 0 || (c == 0 && unit_at_end(u) == 1)) {
            status = IO_END;
        } else {
            for (int i = c; i < n; ++i) field[static_cast<std::size_t>(i)] = ' ';
            n = c;
            status = IO_OK;
            return;
        }
    }
    for (char& ch : field) ch = ' ';
    n = 0;
}

int read_unit_bytes(int u, void* buffer, int count) {
    if (!in_range(u) || unit_table.access[slot(u)] != ACCESS_READ) return -1;
    if (count < 0 || unit_table.stream[slot(u)] == nullptr) return -1;
    return static_cast<int>(read_stream_bytes(unit_table.stream[slot(u)], buffer, static_cast<std::size_t>(count)));
}

int unit_at_end(int u) {
    if (!in_range(u) || unit_table.status[slot(u)] != OPENED_UNIT) return 1;
    std::FILE* f = unit_table.stream[slot(u)];
    return f == nullptr || std::feof(f) ? 1 : 0;
}

void rewind_unit(int u, int& status) {
    if (!in_range(u) || unit_table.status[slot(u)] != OPENED_UNIT) {
        status = IO_BAD_UNIT;
        return;
    }
    status = rewind_stream(unit_table.stream[slot(u)]) == 0 ? IO_OK : IO_FAILED;
}

int tty_unit() { return unit_table.tty_unit_number; }

int null_unit() {
    if (unit_table.null_unit_number < 0) {
        int u = NO_UNIT;
        int status = IO_OK;
        open_unit(u, NULL_DEVICE_NAME, OPEN_WRITE_NEW, FORM_TEXT, status);
        unit_table.null_unit_number = status == IO_OK ? u : NO_UNIT;
    }
    return unit_table.null_unit_number;
}

// A closed unit variable (-999) is not the null unit, even before the null
// unit has been opened.
int is_null_unit(int u) { return u >= 0 && u == unit_table.null_unit_number ? 1 : 0; }

int message_unit() { return unit_table.message_unit_number; }

int input_unit() { return unit_table.input_unit_number; }

}  // namespace kv
