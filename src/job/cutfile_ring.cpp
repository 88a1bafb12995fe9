// Opens the cutfile, reads its records ahead into the fixed look-ahead ring,
// moves the current record on, rewinds for the second pass, and gives every
// handler its view of the current record and of the records ahead.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

cldata_ring_t cldata_ring;
cldata_reader_t cldata_reader;

namespace {

// Header cell: a signed 16-bit word count in bytes 0-1 and a signed 16-bit
// link to the next record's header in bytes 2-3. A count of 0 or -1 marks the
// end of the data; the newest record links to itself.
int header_count(int h) {
    const cldata_cell& c = cldata_ring.cell[h];
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(c.b[0] | c.b[1] << 8));
}

int header_link(int h) {
    const cldata_cell& c = cldata_ring.cell[h];
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(c.b[2] | c.b[3] << 8));
}

void set_header_count(int h, int count) {
    cldata_cell& c = cldata_ring.cell[h];
    c.b[0] = static_cast<unsigned char>(count & 0xFF);
    c.b[1] = static_cast<unsigned char>((count >> 8) & 0xFF);
}

void set_header_link(int h, int link) {
    cldata_cell& c = cldata_ring.cell[h];
    c.b[2] = static_cast<unsigned char>(link & 0xFF);
    c.b[3] = static_cast<unsigned char>((link >> 8) & 0xFF);
}

// Bytes 4-7 of a record's header: the record number of the record read well
// before it (0 when none), the last good record should this one prove unreadable.
int header_previous_record(int h) {
    int v = 0;
    std::memcpy(&v, cldata_ring.cell[h].b.data() + 4, sizeof v);
    return v;
}

void set_header_previous_record(int h, int number) {
    std::memcpy(cldata_ring.cell[h].b.data() + 4, &number, sizeof number);
}

// A real word that is not a number, or too large for any word value to hold,
// cannot have come from a sound record: the record is unreadable, like one
// whose structure is broken, and the run stops there.
double checked_real(int h, double value) {
    if (std::fabs(value) <= MAX_CLDATA_REAL) return value;
    cldata_reader.read_error = 1;
    cldata_reader.last_good_record = header_previous_record(h);
    stop_on_cldata_read_error();
}

// Reads records ahead until the ring would come within its margin of the
// current record. A record never wraps: when it might run past the last
// cell, the cells up to the end stay empty and reading starts again at cell 1.
void read_ahead() {
    cldata_reader_t& r = cldata_reader;
    while (!r.at_end) {
        int free = r.current - r.next_free;
        if (free <= 0) free += CLDATA_RING_CELLS;
        if (free < CLDATA_RING_MARGIN) return;
        if (r.next_free + MAXCLW > CLDATA_RING_CELLS) {
            r.next_free = 1;
            continue;
        }
        const int h = r.next_free;
        std::span<cldata_cell> cells(cldata_ring.cell.data() + h, static_cast<std::size_t>(MAXCLW));
        int count = 0;
        read_cldata_record(r.unit, r.format, cells, count, MAXCLW);
        if (count > MAXCLW) count = -1;  // a reader never gives more; guard the ring all the same
        set_header_count(h, count);
        set_header_link(h, h);
        set_header_previous_record(h, r.last_good_record);
        set_header_link(r.tail, h);
        r.tail = h;
        // The end marker takes its header cell too, so that a rewind after a
        // read error can never make the next record land on the current one.
        r.next_free += (count > 0 ? count : 0) + 1;
        if (count > 0) {
            ++r.good_records;
            r.last_good_record = cell_int_value(cldata_ring.cell[h + 1], r.format);
        } else {
            if (count < 0) r.read_error = 1;
            r.at_end = 1;
        }
    }
}

// Cell j of the record whose header is h, read only when j lies within it.
bool word_in_record(int h, int j, int first) {
    return h != 0 && j >= first && j <= header_count(h);
}

// Record word of data word i; indices beyond any record are cut off so that
// the sum cannot overflow, and still read as absent.
int data_word_index(int i) {
    if (i > MAXCLW) return MAXCLW + 1;
    if (i < -3) return -1;
    return i + 3;
}

}  // namespace

void open_cldata(std::string_view name, int format, int& status) {
    cldata_reader_t& r = cldata_reader;
    // A cutfile opened before is closed, so that reopening never uses up units.
    if (r.unit >= 0) {
        int st = 0;
        filclo(r.unit, st);
    }
    r.unit = -1;
    // Each cutfile brings its own ASCII header: no widths carry over from another file.
    ascii_cldata_layout = ascii_cldata_layout_t{};
    drop_cutfile_block();
    // The placeholder links to itself until the first record is read, so a
    // look-ahead before then never meets cells of an earlier file.
    set_header_count(1, -1);
    set_header_link(1, 1);
    r.next_free = 2;
    r.current = r.tail = 1;
    r.at_end = 0;
    r.format = format;
    r.read_error = 0;
    r.good_records = 0;
    r.last_good_record = 0;
    r.records_taken = 0;
    status = 1;
    // Pass 1 reads the cutfile through and the record loop reads it again: a
    // pipe or a terminal, whose records are gone once read, is not opened
    // (nor waited on for a writer).
    if (!is_rereadable_file(name)) {
        r.at_end = 1;
        return;
    }
    int st = 0;
    if (format == CLDATA_DETECT || (format >= CLDATA_SINGLE_LE && format <= CLDATA_DOUBLE_BE)) {
        open_unit(r.unit, name, OPEN_READ, FORM_BINARY, st);
        if (st != 0) {
            r.unit = -1;
            r.at_end = 1;
            return;
        }
        if (format == CLDATA_DETECT) {
            r.format = detect_cldata_format(r.unit);
            if (r.format == CLDATA_DETECT) {
                filclo(r.unit, st);
                format = CLDATA_NATIVE;
                r.format = CLDATA_NATIVE;
            }
        }
    }
    if (format == CLDATA_NATIVE) {
        open_unit(r.unit, name, OPEN_READ_OLD, FORM_BINARY, st);
        if (st != 0) {
            r.unit = -1;
            r.at_end = 1;
            return;
        }
    } else if (format < CLDATA_DETECT || format > CLDATA_DOUBLE_BE) {
        r.at_end = 1;
        return;
    }
    status = 0;
}

bool next_cldata_record() {
    cldata_reader_t& r = cldata_reader;
    report_cldata_progress(0);
    read_ahead();
    set_header_count(r.current, 0);
    const int next = header_link(r.current);
    // Before any open the ring holds no chain: the current record stays put.
    if (next >= 1 && next <= CLDATA_RING_CELLS) r.current = next;
    if (header_count(r.current) <= 0) return true;
    ++r.records_taken;
    return false;
}

void rewind_cldata(int& status) {
    cldata_reader_t& r = cldata_reader;
    int st = 0;
    rewind_unit(r.unit, st);
    if (st != 0) {
        status = 1;
        return;
    }
    // The records read ahead are dropped: the tail becomes an empty current
    // record whose link the next read sets.
    set_header_count(r.tail, 0);
    r.current = r.tail;
    // The second pass reads the header again from the initial widths, as the first did.
    ascii_cldata_layout = ascii_cldata_layout_t{};
    drop_cutfile_block();
    r.at_end = 0;
    r.read_error = 0;
    r.good_records = 0;
    r.last_good_record = 0;
    r.records_taken = 0;
    status = 0;
}

int record_header_ahead(int k) {
    // A record behind the current one is never in the ring: 0, not the
    // current record that zero steps along the links would give.
    if (k < 0) return 0;
    int h = cldata_reader.current;
    for (int step = 0; step < k; ++step) {
        const int next = header_link(h);
        if (next == h || next < 1 || next > CLDATA_RING_CELLS) return 0;
        h = next;
    }
    return h;
}

int record_int_word(int k, int j) {
    const int h = record_header_ahead(k);
    if (h == 0) return 0;
    if (j == 0) return header_count(h);
    return word_in_record(h, j, 1) ? cell_int_value(cldata_ring.cell[h + j], cldata_reader.format) : 0;
}

double record_real_word(int k, int j) {
    const int h = record_header_ahead(k);
    return word_in_record(h, j, 4) ? checked_real(h, cell_real_value(cldata_ring.cell[h + j], cldata_reader.format))
                                   : 0.0;
}

char record_char_word(int k, int j) {
    const int h = record_header_ahead(k);
    return word_in_record(h, j, 4) ? cell_char_value(cldata_ring.cell[h + j], cldata_reader.format) : ' ';
}

int cldata_record_number() { return record_int_word(0, 1); }
int cldata_class() { return record_int_word(0, 2); }
int cldata_subclass() { return record_int_word(0, 3); }

// The word count less the three leading words: -3 once the data has ended,
// -4 before the first record, so callers test for a count above 0.
int cldata_data_count() { return record_int_word(0, 0) - 3; }

// Data word i is record word i + 3 under the rules of the record accessors:
// i = 0 reads the subclass, -1 and -2 the class and the record number, -3 the
// word count.
int cldata_int_word(int i) { return record_int_word(0, data_word_index(i)); }
double cldata_real_word(int i) { return record_real_word(0, data_word_index(i)); }
char cldata_char_word(int i) { return record_char_word(0, data_word_index(i)); }

void cldata_real_words(int first, std::span<double> out) {
    std::fill(out.begin(), out.end(), 0.0);
    const int h = record_header_ahead(0);
    if (h == 0) return;
    // Data words 1..count - 3 are the record's words 4..count.
    const long long last = first + static_cast<long long>(out.size()) - 1;
    const long long from = std::max<long long>(first, 1);
    const long long to = std::min<long long>(last, header_count(h) - 3);
    if (from > to) return;
    const std::size_t n = static_cast<std::size_t>(to - from + 1);
    const std::span<double> values = out.subspan(static_cast<std::size_t>(from - first), n);
    cell_real_values(std::span<const cldata_cell>(&cldata_ring.cell[h + static_cast<int>(from) + 3], n),
                     cldata_reader.format, values);
    for (double v : values) checked_real(h, v);
}
int cldata_rounded_word(int i) { return nearest_int(cldata_real_word(i)); }

int find_minor_word_value(int code, int& index) {
    index = 0;
    const int n = cldata_data_count();
    for (int i = n; i >= 1; --i) {
        if (cldata_int_word(i) == code) {
            index = i + 1;
            break;
        }
    }
    return index;
}

void next_record_class(int& record_class, int& subclass, int& flag) {
    record_class = record_int_word(1, 2);
    subclass = record_int_word(1, 3);
    flag = 1;
}

int find_record_ahead(int a, int b, int c, int d, int& k, int limit) {
    for (k = 1; (limit == 0 || k <= limit) && record_int_word(k, 0) != 0; ++k) {
        const int cls = record_int_word(k, 2);
        const int sub = record_int_word(k, 3);
        if (a != 0 && cls == a && (b == 0 || sub == b)) return 1;
        if (c != 0 && cls == c && (d == 0 || sub == d)) return 0;
    }
    return 0;
}

int cldata_read_error() { return cldata_reader.read_error; }
int cldata_last_good_record() { return cldata_reader.last_good_record; }
int cldata_records_taken() { return cldata_reader.records_taken; }

}  // namespace kv
