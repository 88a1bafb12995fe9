// Reads one cutfile record of any of the six layouts into 8-byte word cells,
// detects the layout of an unknown cutfile from its first bytes, and says how
// a cell reads as an integer, a real or a character in each layout.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

ascii_cldata_layout_t ascii_cldata_layout;
cutfile_block_t cutfile_block;

// Stream-level piece of the binary readers: a segment read gives 0 on
// success, 1 on failure.
int read_record_segment(std::FILE* stream, unsigned char* destination, int& length, int& more);

namespace {

constexpr int SEGMENT_BYTES = 128;     // bytes of a segment that has more segments behind it
constexpr int SEGMENT_KEEP = 3;        // at most 3 bytes of a part word carry into the next segment
constexpr int ASCII_CLASS_POINT = 5000;  // class of a point record (its empty A field stores one 0)
constexpr int ASCII_DATA_ENDED = -2;  // next_ascii_line: the data ended with no line left

// The binary readers read the cutfile unit's stream directly: it must be a
// unit opened for reading, and the maximum must allow a word.
std::FILE* cutfile_stream(int unit, int maximum) {
    if (unit < 0 || unit > MAXUNIT || maximum < 1) return nullptr;
    if (unit_table.access[static_cast<std::size_t>(unit)] != OPEN_READ) return nullptr;
    return unit_table.stream[static_cast<std::size_t>(unit)];
}

// The unit's stream met a read error (the line reader ends a line there as at the end).
bool stream_failed(int unit) {
    if (unit < 0 || unit > MAXUNIT) return false;
    std::FILE* f = unit_table.stream[static_cast<std::size_t>(unit)];
    return f != nullptr && std::ferror(f) != 0;
}

// 0 when no byte is left before the next record: a clean end of the data.
// Anything that ends later inside a record is a structural error.
bool at_clean_end(std::FILE* f) {
    const int ch = std::getc(f);
    if (ch == EOF) return true;
    std::ungetc(ch, f);
    return false;
}

// The bytes of a word in reverse order.
std::uint64_t reversed_bytes(std::uint64_t v) {
    v = (v & 0x00FF00FF00FF00FFull) << 8 | (v >> 8 & 0x00FF00FF00FF00FFull);
    v = (v & 0x0000FFFF0000FFFFull) << 16 | (v >> 16 & 0x0000FFFF0000FFFFull);
    return v << 32 | v >> 32;
}

// Bytes of a cell in file order, or reversed as a whole for the big-endian layouts.
void put_word(cldata_cell& cell, const unsigned char* src, int size, bool reverse) {
    cell.b.fill(0);
    if (!reverse) {
        std::memcpy(cell.b.data(), src, static_cast<std::size_t>(size));
    } else if (size == 8) {
        // Reversing the bytes of the word as it lies in memory reverses them
        // in the cell, whatever the host's byte order.
        std::uint64_t v = 0;
        std::memcpy(&v, src, 8);
        v = reversed_bytes(v);
        std::memcpy(cell.b.data(), &v, 8);
    } else {
        for (int i = 0; i < size; ++i) cell.b[static_cast<std::size_t>(i)] = src[size - 1 - i];
    }
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

int le16_signed(const unsigned char* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
}

// A 4-byte marker or count in file order, byte-reversed for the big-endian layouts.
int stored_int32(const unsigned char* p, bool reverse) {
    if (!reverse) return static_cast<std::int32_t>(le32(p));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
                                     static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24);
}

int stored_int16(const unsigned char* p, bool reverse) {
    if (!reverse) return le16_signed(p);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[1] | p[0] << 8));
}

// The reader's block for the cutfile on `unit`: bytes read from another
// unit's stream are nothing to it.
cutfile_block_t& cutfile_block_of(int unit) {
    cutfile_block_t& blk = cutfile_block;
    if (blk.unit != unit) {
        blk.unit = unit;
        blk.begin = blk.end = 0;
    }
    return blk;
}

// Moves the bytes not yet used to the front of the block and reads from the
// stream behind them; returns how many came, 0 at the end of the data or
// after a failed read.
int refill_cutfile_block(std::FILE* f) {
    cutfile_block_t& blk = cutfile_block;
    const int have = blk.end - blk.begin;
    if (blk.begin > 0) std::memmove(blk.bytes.data(), blk.bytes.data() + blk.begin, static_cast<std::size_t>(have));
    blk.begin = 0;
    blk.end = have;
    const std::size_t read =
        std::fread(blk.bytes.data() + have, 1, static_cast<std::size_t>(CUTFILE_READ_BLOCK - have), f);
    blk.end += static_cast<int>(read);
    return static_cast<int>(read);
}

// The next n bytes of the cutfile (n at most the block size), from the block
// and refilled from the stream as needed; got receives how many there are,
// fewer than n only at the end of the data or after a failed read.
const unsigned char* take_cutfile_bytes(std::FILE* f, int unit, int n, int& got) {
    cutfile_block_t& blk = cutfile_block_of(unit);
    while (blk.end - blk.begin < n) {
        if (refill_cutfile_block(f) == 0) break;
    }
    got = std::min(n, blk.end - blk.begin);
    const char* const taken = blk.bytes.data() + blk.begin;
    blk.begin += got;
    return reinterpret_cast<const unsigned char*>(taken);
}

// Layouts 2, 3, 5 and 6: an opening marker, a word count, the words and a
// closing marker equal to the opening one.
int read_marked_record(int unit, std::span<cldata_cell> cells, int maximum, int word_size, bool reverse) {
    std::FILE* f = cutfile_stream(unit, maximum);
    if (f == nullptr || static_cast<int>(cells.size()) < maximum) return -1;
    const int count_size = word_size == 4 ? 2 : 4;
    int got = 0;
    const unsigned char* head = take_cutfile_bytes(f, unit, 4 + count_size, got);
    if (got == 0) return std::ferror(f) ? -1 : 0;  // no byte left: the end of the data
    if (got != 4 + count_size) return -1;
    const int opening = stored_int32(head, reverse);
    const int count = count_size == 2 ? stored_int16(head + 4, reverse) : stored_int32(head + 4, reverse);
    // A count below 1 would end the data silently or move the ring backwards.
    if (count < 1 || count > maximum) return -1;
    // The words are taken a ring's record at a time; the closing marker comes
    // with the last piece.
    for (int done = 0; done < count;) {
        const int chunk = count - done < MAXCLW ? count - done : MAXCLW;
        const bool last = done + chunk == count;
        const int bytes = chunk * word_size;
        const int want = bytes + (last ? 4 : 0);
        const unsigned char* words = take_cutfile_bytes(f, unit, want, got);
        if (got != want) return -1;  // short inside the record or its marker
        if (last && stored_int32(words + bytes, reverse) != opening) return -1;
        for (int i = 0; i < chunk; ++i)
            put_word(cells[static_cast<std::size_t>(done + i)], words + i * word_size, word_size, reverse);
        done += chunk;
    }
    return count;
}

// The next line of the ASCII cutfile, as `irasc` reads it with the limit
// given: the line feed ends a line and a carriage return just before it is
// dropped; the end of the data ends the last line with what is left, and
// gives ASCII_DATA_ENDED when nothing is left; a line of more than `limit`
// stored bytes (the carriage return of a CR LF ending counts) gives -1. The
// lines come from the reader's block, so each byte is looked at by memchr and
// copied once, not read one at a time.
int next_ascii_line(int unit, int limit, const char*& line) {
    char* const bytes = cutfile_block.bytes.data();
    line = bytes;
    std::FILE* f = cutfile_stream(unit, 1);
    if (f == nullptr) return -1;
    cutfile_block_t& blk = cutfile_block_of(unit);
    for (;;) {
        const int have = blk.end - blk.begin;
        const char* start = bytes + blk.begin;
        const void* feed = std::memchr(start, '\n', static_cast<std::size_t>(have));
        if (feed != nullptr) {
            const int raw = static_cast<int>(static_cast<const char*>(feed) - start);
            if (raw > limit) return -1;
            blk.begin += raw + 1;
            line = start;
            return raw > 0 && start[raw - 1] == '\r' ? raw - 1 : raw;
        }
        if (have > limit) return -1;  // no line feed within the limit
        if (refill_cutfile_block(f) == 0) {
            // The end of the data (or a failed stream) ends the last line.
            blk.begin = blk.end;
            line = bytes;
            return have > 0 ? have : ASCII_DATA_ENDED;
        }
    }
}

// A record of the ASCII reader has failed or the data has ended: the widths
// go back so that no stale header survives into another file.
int ascii_reset(int result) {
    ascii_cldata_layout.int_width = 0;
    ascii_cldata_layout.char_width = 0;
    ascii_cldata_layout.delimiter = ' ';
    return result;
}

// Reads a run of 1..max_digits digits at column c (1-based) of the line into
// value, moving c past them; false when there are too few or too many.
bool header_digits(std::string_view line, int& c, int min_digits, int max_digits, int& value) {
    const int start = c;
    while (c <= static_cast<int>(line.size()) && line[static_cast<std::size_t>(c - 1)] >= '0' &&
           line[static_cast<std::size_t>(c - 1)] <= '9')
        ++c;
    const int n = c - start;
    if (n < min_digits || n > max_digits) return false;
    int error = 0;
    value = read_int_field(line.substr(static_cast<std::size_t>(start - 1)), n, error);
    return error == 0;
}

// A header line such as "$I5F52A1$": the delimiter, the I width, the F digits
// before and after the point, the A width and the delimiter again.
bool read_ascii_header(std::string_view line) {
    const char delimiter = line[0];
    int c = 2;
    auto letter = [&](char want) {
        if (c > static_cast<int>(line.size()) || line[static_cast<std::size_t>(c - 1)] != want) return false;
        ++c;
        return true;
    };
    int int_width = 0, real_digits = 0, char_width = 0;
    if (!letter('I') || !header_digits(line, c, 1, 2, int_width)) return false;
    const int f_start = c + 1;
    if (!letter('F') || !header_digits(line, c, 2, 4, real_digits)) return false;
    const int f_count = c - f_start;
    if (!letter('A') || !header_digits(line, c, 1, 2, char_width)) return false;
    if (!letter(delimiter)) return false;
    // Two digits: one before and one after the point; three: one and two; four: two and two.
    const int after_digits = f_count == 2 ? 1 : 2;
    int divisor = 1;
    for (int i = 0; i < after_digits; ++i) divisor *= 10;
    ascii_cldata_layout.delimiter = delimiter;
    ascii_cldata_layout.int_width = int_width;
    ascii_cldata_layout.real_int_digits = real_digits / divisor;
    ascii_cldata_layout.real_decimals = real_digits % divisor;
    ascii_cldata_layout.real_width = ascii_cldata_layout.real_int_digits + ascii_cldata_layout.real_decimals + 2;
    ascii_cldata_layout.char_width = char_width;
    return true;
}

bool is_ascii_header(std::string_view line) {
    const char first = line[0];
    if (first == 'I' || first == 'F' || first == 'A') return false;
    const int last = trimmed_length_min1(line);
    return last >= 9 && line[static_cast<std::size_t>(last - 1)] == first;
}

// The most digits whose value a double holds exactly.
constexpr int PLAIN_REAL_DIGITS = 15;

// The first character at or after p, before end, that is not a blank (end
// when there is none). Fields are padded with blanks on the left, so eight
// bytes are tested at a time; the bytes up to `readable` may be read, also
// where they lie beyond the field.
const char* skip_blanks(const char* p, const char* end, const char* readable) {
    if constexpr (std::endian::native == std::endian::little) {
        while (p < end && readable - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            const std::uint64_t other = word ^ 0x2020202020202020ull;  // non-zero bytes are not blanks
            if (other != 0) {
                const char* first = p + (std::countr_zero(other) >> 3);
                return first < end ? first : end;
            }
            p += 8;
        }
        if (p >= end) return end;
    }
    while (p < end && *p == ' ') ++p;
    return p;
}

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// The start of the number in a plain field: the blanks in front passed over
// and a sign read.
const char* number_start(std::string_view field, const char* readable, bool& negative) {
    const char* const end = field.data() + field.size();
    const char* p = skip_blanks(field.data(), end, readable);
    negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    return p;
}

// The digits from p on added to value, digit by digit; returns the first
// character that is not a digit (end when all are).
const char* add_digits(const char* p, const char* end, std::uint64_t& value) {
    while (p < end && is_digit(*p)) value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
    return p;
}

// Reads an F field of the plain form "[blanks][sign]digits[.digits]" of at
// most 15 digits to the same double as read_real_field, without its text
// copies: the digits and the power of ten are both exact, so the one division
// rounds once, as the decimal conversion does. Any other form (a blank inside,
// an exponent, more digits, fewer digits than the implied decimals) gives
// false and is left to read_real_field.
bool read_plain_real(std::string_view field, int decimals, const char* readable, double& value) {
    const char* const end = field.data() + field.size();
    bool negative = false;
    const char* p = number_start(field, readable, negative);
    // Digits beyond 15 may wrap the sum; such a field is refused below.
    std::uint64_t digits_value = 0;
    const char* const first = p;
    p = add_digits(p, end, digits_value);
    int digits = static_cast<int>(p - first);
    int scale = -1;  // digits after the point; -1 while there is no point
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        p = add_digits(p, end, digits_value);
        scale = static_cast<int>(p - fraction);
        digits += scale;
    }
    if (p != end || digits == 0 || digits > PLAIN_REAL_DIGITS) return false;
    if (scale < 0) {
        // Without a point the last `decimals` digits are the fraction.
        scale = decimals < 0 ? 0 : decimals;
        if (digits < scale) return false;
    }
    value = static_cast<double>(digits_value) / power_of_ten(scale);
    if (negative) value = -value;
    return true;
}

// Whether an F field that is not of the plain form holds only what a number
// is written with: blanks, digits, signs, a point and at most one exponent
// letter (D or E). The field conversion stops silently at the first
// character that cannot go on with a number, so NAN, INF or a field with
// letters in it would read as some number; in a cutfile such a field is a
// broken record.
bool real_field_is_number(std::string_view field) {
    int exponent_letters = 0;
    for (const char ch : field) {
        if (ch == 'D' || ch == 'E') {
            if (++exponent_letters > 1) return false;
        } else if (!is_digit(ch) && ch != ' ' && ch != '+' && ch != '-' && ch != '.') {
            return false;
        }
    }
    return true;
}

// Reads an I field of the plain form "[blanks][sign]digits" of at most 9
// digits to the value read_int_field gives it; any other form gives false and
// is left to read_int_field.
bool read_plain_int(std::string_view field, const char* readable, int& value) {
    const char* const end = field.data() + field.size();
    bool negative = false;
    const char* p = number_start(field, readable, negative);
    if (p == end || end - p > 9) return false;
    std::uint64_t digits_value = 0;
    if (add_digits(p, end, digits_value) != end) return false;
    const int v = static_cast<int>(digits_value);
    value = negative ? -v : v;
    return true;
}

void store_int32(cldata_cell& cell, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    cell.b.fill(0);
    for (int i = 0; i < 4; ++i) cell.b[static_cast<std::size_t>(i)] = static_cast<unsigned char>(u >> (8 * i));
}

void store_double(cldata_cell& cell, double v) {
    const auto u = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) cell.b[static_cast<std::size_t>(i)] = static_cast<unsigned char>(u >> (8 * i));
}

}  // namespace

void drop_cutfile_block() {
    cutfile_block.unit = -1;
    cutfile_block.begin = 0;
    cutfile_block.end = 0;
}

int read_record_segment(std::FILE* stream, unsigned char* destination, int& length, int& more) {
    unsigned char header[2];
    length = 0;
    more = 0;
    if (std::fread(header, 1, 2, stream) != 2) return 1;
    length = header[1];  // the first header byte carries nothing the reader needs
    if (length > SEGMENT_BYTES) {
        length = SEGMENT_BYTES;
        more = 1;
    }
    if (std::fread(destination, 1, static_cast<std::size_t>(length), stream) != static_cast<std::size_t>(length)) return 1;
    return 0;
}

int read_segmented_record(int unit, std::span<cldata_cell> cells, int maximum) {
    std::FILE* f = cutfile_stream(unit, maximum);
    if (f == nullptr || static_cast<int>(cells.size()) < maximum) return -1;
    if (at_clean_end(f)) return std::ferror(f) ? -1 : 0;
    unsigned char buffer[SEGMENT_KEEP + SEGMENT_BYTES];
    int length = 0, more = 0;
    if (read_record_segment(f, buffer, length, more) != 0) return -1;
    if (length < 2) return -1;  // no room for the word count
    const int count = buffer[0] | buffer[1] << 8;
    if (count < 1 || count > maximum) return -1;
    int pos = 2, n = 0;
    for (;;) {
        while (n < count && length - pos >= 4) {
            put_word(cells[static_cast<std::size_t>(n)], buffer + pos, 4, false);
            pos += 4;
            ++n;
        }
        if (n == count) return count;  // words left over in the segment are not used
        // A record that needs more words than its segments hold is broken,
        // whether the chain says so or the file ends inside it.
        if (!more) return -1;
        const int keep = length - pos;  // the bytes of a part word, carried in front
        std::memmove(buffer, buffer + pos, static_cast<std::size_t>(keep));
        int next = 0;
        if (read_record_segment(f, buffer + keep, next, more) != 0) return -1;
        length = keep + next;
        pos = 0;
    }
}

int read_unformatted_words(int unit, std::span<cldata_cell> cells, int maximum) {
    return read_marked_record(unit, cells, maximum, 4, false);
}

int read_unformatted_doubles(int unit, std::span<cldata_cell> cells, int maximum) {
    return read_marked_record(unit, cells, maximum, 8, false);
}

int read_unformatted_words_swapped(int unit, std::span<cldata_cell> cells, int maximum) {
    return read_marked_record(unit, cells, maximum, 4, true);
}

int read_unformatted_doubles_swapped(int unit, std::span<cldata_cell> cells, int maximum) {
    return read_marked_record(unit, cells, maximum, 8, true);
}

int read_ascii_cldata_record(int unit, std::span<cldata_cell> cells, int maximum) {
    if (maximum < 1 || static_cast<int>(cells.size()) < maximum) return ascii_reset(-1);
    const ascii_cldata_layout_t& lay = ascii_cldata_layout;
    int n = 0;
    for (;;) {
        const char* text = nullptr;
        const int len = next_ascii_line(unit, ASCII_LINE_LENGTH, text);
        // The end of the file ends the data between records; a stream that
        // failed has not ended cleanly, whatever the read saw.
        if (len == ASCII_DATA_ENDED) return ascii_reset(n == 0 && !stream_failed(unit) ? 0 : -1);
        if (len < 0) return ascii_reset(-1);
        const std::string_view line(text, static_cast<std::size_t>(len));
        // A blank line (empty, or blanks and tabs alone), wherever it stands,
        // holds no field: an editor or a copy between systems may have left
        // it, and it ends neither the record nor the data.
        if (len == 0 || (line[0] == '\t' && line.find_first_not_of(" \t") == std::string_view::npos)) continue;
        // The line lies in the reader's block: field reads may look past its end.
        const char* const readable = cutfile_block.bytes.data() + cutfile_block.bytes.size();
        if (n == 0 && is_ascii_header(line)) {
            if (!read_ascii_header(line)) return ascii_reset(-1);
            continue;
        }
        bool ends = false;
        int c = 1;
        while (c <= len) {
            const char ch = line[static_cast<std::size_t>(c - 1)];
            if (ch == ' ') break;  // the record goes on with the next line
            if (ch == lay.delimiter) {
                ends = true;
                break;
            }
            int width = 0;
            if (ch == 'I' || ch == 'F') {
                width = ch == 'I' ? lay.int_width : lay.real_width;
                if (c + width > len) return ascii_reset(-1);
                const std::string_view field = line.substr(static_cast<std::size_t>(c), static_cast<std::size_t>(width));
                // A leading I field in column 1 numbers the line and is not a word.
                if (!(ch == 'I' && n == 0 && c == 1)) {
                    if (n >= maximum) return ascii_reset(-1);
                    int error = 0;
                    cldata_cell& cell = cells[static_cast<std::size_t>(n)];
                    if (ch == 'I') {
                        int v = 0;
                        if (!read_plain_int(field, readable, v)) v = read_int_field(field, width, error);
                        store_int32(cell, v);
                    } else {
                        double v = 0.0;
                        if (!read_plain_real(field, lay.real_decimals, readable, v)) {
                            if (!real_field_is_number(field)) return ascii_reset(-1);
                            v = read_real_field(field, width, lay.real_decimals, error, 0);
                        }
                        store_double(cell, v);
                    }
                    if (error != 0) return ascii_reset(-1);
                    ++n;
                }
            } else if (ch == 'A') {
                width = lay.char_width;
                if (n == 3 && cell_int_value(cells[1], CLDATA_ASCII) == ASCII_CLASS_POINT) {
                    // A point record's text field stands for one empty data word.
                    if (n >= maximum) return ascii_reset(-1);
                    cells[static_cast<std::size_t>(n)].b.fill(0);
                    ++n;
                } else {
                    for (int k = 1; k <= width; ++k) {
                        if (n >= maximum) return ascii_reset(-1);
                        const int col = c + k;
                        cldata_cell& cell = cells[static_cast<std::size_t>(n)];
                        cell.b.fill(0);
                        cell.b[0] = static_cast<unsigned char>(col <= len ? line[static_cast<std::size_t>(col - 1)] : ' ');
                        ++n;
                    }
                }
            } else {
                return ascii_reset(-1);
            }
            c += 1 + width;
        }
        if (ends && n > 0) return n;
        // A delimiter line without words is passed over.
    }
}

int read_cldata_record(int unit, int format, std::span<cldata_cell> cells, int& count, int maximum) {
    switch (format) {
    case CLDATA_NATIVE: count = read_segmented_record(unit, cells, maximum); break;
    case CLDATA_SINGLE_LE: count = read_unformatted_words(unit, cells, maximum); break;
    case CLDATA_DOUBLE_LE: count = read_unformatted_doubles(unit, cells, maximum); break;
    case CLDATA_ASCII: count = read_ascii_cldata_record(unit, cells, maximum); break;
    case CLDATA_SINGLE_BE: count = read_unformatted_words_swapped(unit, cells, maximum); break;
    case CLDATA_DOUBLE_BE: count = read_unformatted_doubles_swapped(unit, cells, maximum); break;
    default: count = -1; break;
    }
    return count > 0 ? 1 : 0;
}

int detect_cldata_format(int unit) {
    unsigned char b[DETECT_BYTES];
    if (read_unit_bytes(unit, b, DETECT_BYTES) < DETECT_BYTES) return 0;
    int status = 0;
    rewind_unit(unit, status);
    if (status != 0) return 0;
    const int w2 = le16_signed(b + 4), w3 = le16_signed(b + 6), w4 = le16_signed(b + 8), w5 = le16_signed(b + 10);
    // Record number 1 in the first word of the first record stands in a
    // different place in each layout.
    if (b[0] != 0 && b[1] != 0 && b[2] != 0 && b[3] != 0) return CLDATA_ASCII;
    if (w2 != 0 && w3 != 0) {
        if (w3 == 1) return CLDATA_SINGLE_LE;
        if (w3 == 256) return CLDATA_SINGLE_BE;
    } else {
        if (w4 == 1 || w5 == 1) return CLDATA_DOUBLE_LE;
        if (w4 == 256 || w5 == 256) return CLDATA_DOUBLE_BE;
    }
    return w2 == 1 ? CLDATA_NATIVE : 0;
}

int cell_int_value(const cldata_cell& cell, int format) {
    const unsigned char* p = cell.b.data();
    switch (format) {
    case CLDATA_NATIVE:
    case CLDATA_SINGLE_LE: return le16_signed(p);
    case CLDATA_DOUBLE_LE:
    case CLDATA_ASCII: return static_cast<std::int32_t>(le32(p));
    case CLDATA_SINGLE_BE: return le16_signed(p + 2);
    case CLDATA_DOUBLE_BE: return static_cast<std::int32_t>(le32(p + 4));
    default: return 0;
    }
}

double cell_real_value(const cldata_cell& cell, int format) {
    const unsigned char* p = cell.b.data();
    switch (format) {
    case CLDATA_NATIVE:
    case CLDATA_SINGLE_LE:
    case CLDATA_SINGLE_BE: return static_cast<double>(std::bit_cast<float>(le32(p)));
    case CLDATA_DOUBLE_LE:
    case CLDATA_ASCII:
    case CLDATA_DOUBLE_BE: return std::bit_cast<double>(le64(p));
    default: return 0.0;
    }
}

void cell_real_values(std::span<const cldata_cell> cells, int format, std::span<double> out) {
    const std::size_t n = std::min(cells.size(), out.size());
    switch (format) {
    case CLDATA_NATIVE:
    case CLDATA_SINGLE_LE:
    case CLDATA_SINGLE_BE:
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<double>(std::bit_cast<float>(le32(cells[i].b.data())));
        break;
    case CLDATA_DOUBLE_LE:
    case CLDATA_ASCII:
    case CLDATA_DOUBLE_BE:
        for (std::size_t i = 0; i < n; ++i) out[i] = std::bit_cast<double>(le64(cells[i].b.data()));
        break;
    default:
        for (std::size_t i = 0; i < n; ++i) out[i] = 0.0;
        break;
    }
}

char cell_char_value(const cldata_cell& cell, int format) {
    switch (format) {
    case CLDATA_SINGLE_BE: return static_cast<char>(cell.b[3]);
    case CLDATA_DOUBLE_BE: return static_cast<char>(cell.b[7]);
    case CLDATA_NATIVE:
    case CLDATA_SINGLE_LE:
    case CLDATA_DOUBLE_LE:
    case CLDATA_ASCII: return static_cast<char>(cell.b[0]);
    default: return ' ';
    }
}

}  // namespace kv
