// Cutfile layouts, their detection, the look-ahead ring and the record accessors.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "../tools/cutfile_writer.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

using namespace kv;
using namespace cutfile_writer;

namespace {

class Cutfile : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        int st = 0;
        init_units(st);
        dir = std::filesystem::temp_directory_path() /
              ("kv_cutfile_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        cldata_reader.unit = -1;
    }
    void TearDown() override {
        int st = 0;
        if (cldata_reader.unit >= 0) filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
        std::filesystem::remove_all(dir);
    }
    // Writes the bytes and opens them with the layout given (0: detect).
    void open_bytes(const std::string& bytes, int format, const char* name = "job.cut") {
        const std::string path = (dir / name).string();
        ASSERT_TRUE(write_file(path, bytes));
        int status = -1;
        open_cldata(path, format, status);
        ASSERT_EQ(status, 0);
    }
};

// Word j of record k ahead must hold w, read the way its kind says.
void expect_word(int k, int j, const word& w, const std::string& where) {
    switch (w.kind) {
    case 'i': EXPECT_EQ(record_int_word(k, j), w.i) << where << " word " << j; break;
    case 'r': EXPECT_EQ(record_real_word(k, j), w.r) << where << " word " << j; break;
    default: EXPECT_EQ(record_char_word(k, j), w.c) << where << " word " << j; break;
    }
}

void expect_record(int k, const record& r, const std::string& where) {
    ASSERT_EQ(record_int_word(k, 0), static_cast<int>(r.size())) << where;
    for (std::size_t j = 1; j <= r.size(); ++j) expect_word(k, static_cast<int>(j), r[j - 1], where);
}

// Reads the whole cutfile, checking each current record and, from each
// position, every record ahead that the ring holds.
void expect_records(const std::vector<record>& want, const std::string& where) {
    for (std::size_t n = 0; n < want.size(); ++n) {
        ASSERT_FALSE(next_cldata_record()) << where << " record " << n + 1;
        expect_record(0, want[n], where + " current " + std::to_string(n + 1));
        for (int k = 1; record_header_ahead(k) != 0 && record_int_word(k, 0) > 0; ++k)
            expect_record(k, want[n + static_cast<std::size_t>(k)], where + " ahead " + std::to_string(k));
    }
    EXPECT_TRUE(next_cldata_record()) << where;
    EXPECT_EQ(cldata_read_error(), 0) << where;
}

// Bytes of an n-byte value, least significant first or most significant first.
std::string le_bytes(std::uint64_t v, int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    return s;
}

std::string be_bytes(std::uint64_t v, int n) {
    std::string s;
    for (int k = n - 1; k >= 0; --k) s.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    return s;
}

std::string le32_bytes(std::uint32_t v) {
    std::string s;
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    return s;
}

}  // namespace

// The same records written in all six layouts read alike, whether the layout
// is detected or given; forcing ASCII and native works too.
TEST_F(Cutfile, SixLayoutsReadAlikeAndAreDetected) {
    const std::vector<record> records = sample_records();
    for (int layout = 1; layout <= 6; ++layout) {
        const std::string bytes = encode(records, layout);
        const std::string where = "layout " + std::to_string(layout);
        open_bytes(bytes, CLDATA_DETECT);
        EXPECT_EQ(cldata_reader.format, layout) << where;
        expect_records(records, where + " detected");
        open_bytes(bytes, layout);
        expect_records(records, where + " forced");
    }
}

TEST_F(Cutfile, DetectionOfTextShortAndUnknownFiles) {
    struct Case { std::string bytes; int want; };
    const Case cases[] = {
        {"$I5F52A1$\nI    1I    1$\n", CLDATA_ASCII},
        {std::string("\0\0\0\0\0\0", 6), 0},               // shorter than 12 bytes
        {std::string(12, '\0'), 0},                        // nothing recognisable
        {encode({make_record(7, 1000, 0)}, 2), 0},         // record number 7 first: undetermined
    };
    for (const Case& c : cases) {
        const std::string path = (dir / "d.cut").string();
        ASSERT_TRUE(write_file(path, c.bytes));
        int u = -1, st = 0;
        open_unit(u, path, OPEN_READ, FORM_BINARY, st);
        ASSERT_EQ(st, 0);
        EXPECT_EQ(detect_cldata_format(u), c.want);
        filclo(u, st);
    }
    // An undetermined file is read as the native layout.
    open_bytes(std::string(12, '\0'), CLDATA_DETECT);
    EXPECT_EQ(cldata_reader.format, CLDATA_NATIVE);
}

// Header variants, CR LF line ends, records over several lines, a last line
// without its line feed: the ASCII layout still gives the same records.
TEST_F(Cutfile, AsciiHeaderVariantsAndLineShapes) {
    const std::vector<record> records = sample_records();
    struct Case { int iw, ri, rd, cw; bool crlf; int limit; bool final_nl; const char* header; };
    const Case cases[] = {
        {5, 5, 2, 1, false, 72, true, "$I5F52A1$"},
        {10, 6, 3, 1, true, 80, true, "$I10F63A1$"},      // CR LF ends
        {8, 9, 12, 1, false, 40, false, "$I8F912A1$"},    // three F digits, no final line feed
        {6, 10, 4, 1, true, 250, true, "$I6F1004A1$"},    // four F digits
        {5, 5, 2, 12, false, 30, true, "$I5F52A12$"},     // two-digit A width
    };
    for (const Case& c : cases) {
        ascii_style s;
        s.int_width = c.iw;
        s.real_int_digits = c.ri;
        s.real_decimals = c.rd;
        s.char_width = c.cw;
        s.crlf = c.crlf;
        s.line_limit = c.limit;
        s.final_newline = c.final_nl;
        EXPECT_EQ(ascii_header(s), c.header);
        std::vector<record> want = records;
        if (c.cw > 1) {
            // Text records whose length is not a whole number of A fields cannot be written.
            want.clear();
            for (const record& r : records) {
                std::size_t chars = 0;
                for (const word& w : r) chars += w.kind == 'c';
                if (chars % static_cast<std::size_t>(c.cw) == 0) want.push_back(r);
            }
        }
        open_bytes(encode(want, 4, s), CLDATA_DETECT);
        EXPECT_EQ(cldata_reader.format, CLDATA_ASCII);
        expect_records(want, c.header);
        EXPECT_EQ(ascii_cldata_layout.real_width, c.ri + c.rd + 2);
    }
}

// Structural faults of an ASCII cutfile end the data with a read error; a
// file that simply ends between records does not.
TEST_F(Cutfile, AsciiFieldRules) {
    struct Case { const char* text; int records; int error; int last_good; };
    const Case cases[] = {
        {"I    1I    1I 1000I    0$\n", 0, 1, 0},                       // data before any header
        // Blank lines (empty, blanks, tabs) are passed over between records
        // and inside one; they end neither.
        {"$I5F52A1$\nI    1I    1I 1000I    0$\n\nI    2I    2$\n", 2, 0, 2},
        {"$I5F52A1$\nI    1I    1I 1000\n\nI    0$\n", 1, 0, 1},
        {"$I5F52A1$\n\r\n \t \nI    1I    1I 1000\n\t\nI    0$\n\n\n", 1, 0, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 20", 1, 1, 1},  // field cut off at the line end
        {"$I5F52A1$\nI    1I    3I 1000X$\n", 0, 1, 0},                // unknown field letter
        {"$I5F52A1$\nI    1I    3I 1x00$\n", 0, 1, 0},                 // unreadable integer
        {"$I5F5A1$\nI    1I    1$\n", 0, 1, 0},                        // one F digit
        {"$I5F52A1$\nI    1I    1I 1000I    0\nI    7$\n", 1, 0, 1},  // column-1 I of a later line is stored
        {"$I5F52A1$\nI    1I    1I 1000I    0 comment\nF    -1.50$\n", 1, 0, 1},
        {"$I5F52A1$\n$\nI    1I    1I 1000I    0$\n", 1, 0, 1},        // a record without words is passed over
        // An F field that is no number is a broken record, whatever the
        // conversion would have made of it; exponents still read.
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F      NAN$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F      INF$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F      nan$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F     -inf$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F  nan.000$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F    12ABC$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F      ABC$\n", 1, 1, 1},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F    1.5e2$\n", 1, 1, 1},  // lower case: a letter
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F    1E2E3$\n", 1, 1, 1},  // two exponents
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F    1.5E2$\n", 2, 0, 2},
        {"$I5F52A1$\nI    1I    1I 1000I    0$\nI    2I    2I 5000F    15D-1$\n", 2, 0, 2},
    };
    for (const Case& c : cases) {
        open_bytes(c.text, CLDATA_ASCII);
        int n = 0;
        while (!next_cldata_record()) ++n;
        EXPECT_EQ(n, c.records) << c.text;
        EXPECT_EQ(cldata_read_error(), c.error) << c.text;
        EXPECT_EQ(cldata_last_good_record(), c.last_good) << c.text;
    }
    open_bytes("$I5F52A1$\nI    1I    1I 1000I    0\nI    7$\n", CLDATA_ASCII);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_data_count(), 1);
    EXPECT_EQ(cldata_int_word(1), 7);
    open_bytes("$I5F52A1$\nI    1I    1I 1000I    0 comment\nF    -1.50$\n", CLDATA_ASCII);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_real_word(1), -1.5);
    // A point record's A field after its three words stands for one word 0;
    // implied decimals apply to an F field written without a point.
    open_bytes("$I5F52A1$\nI    1I    4I 5000I    5AXF    12345$\n", CLDATA_ASCII);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_data_count(), 2);
    EXPECT_EQ(cldata_int_word(1), 0);
    EXPECT_EQ(cldata_real_word(2), 123.45);
    // A line longer than 256 characters is an error; exactly 256 is not.
    const std::string header = "$I4F52A1$\n";
    std::string line = "I   1I   1I1000I   0";
    for (int i = 0; i < 115; ++i) line += "A.";
    line += "I   9$";
    ASSERT_EQ(line.size(), 256u);
    open_bytes(header + line + "\n", CLDATA_ASCII);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_data_count(), 116);
    EXPECT_EQ(cldata_int_word(116), 9);
    open_bytes(header + "A." + line + "\n", CLDATA_ASCII);
    EXPECT_TRUE(next_cldata_record());
    EXPECT_EQ(cldata_read_error(), 1);
    open_bytes(header + line + "\r\n", CLDATA_ASCII);  // the carriage return makes it 257
    EXPECT_TRUE(next_cldata_record());
    EXPECT_EQ(cldata_read_error(), 1);
}

// Structural faults of the binary layouts are read errors that name the last
// good record; a file that ends between records is a plain end of the data.
TEST_F(Cutfile, BinaryStructuralFaults) {
    const std::vector<record> two = {make_record(1, 1000, 0, {iw(5)}), make_record(2, 2000, 1009, {rw(2.5)})};
    const std::string l2 = encode(two, 2);
    const std::string first = encode({two[0]}, 2);
    std::string wrong_marker = l2;
    wrong_marker[wrong_marker.size() - 1] = 1;
    std::string big = le32_bytes(2 + 4 * 246) + std::string("\xF6\x00", 2) + std::string(4 * 246, '\0') + le32_bytes(2 + 4 * 246);
    const std::string zero_count = le32_bytes(2) + std::string("\x00\x00", 2) + le32_bytes(2);
    const std::string negative_count = le32_bytes(2) + std::string("\xFF\xFF", 2) + le32_bytes(2);
    const std::string l1 = encode({make_record(1, 1000, 0), sample_records()[4]}, 1);  // second record in two segments
    struct Case { int layout; std::string bytes; int records; int error; int last_good; const char* what; };
    const Case cases[] = {
        {2, l2, 2, 0, 2, "ends after a closing marker"},
        {2, l2.substr(0, l2.size() - 3), 1, 1, 1, "ends inside a record"},
        {2, wrong_marker, 1, 1, 1, "closing marker differs"},
        {2, first + big, 1, 1, 1, "246 words"},
        {2, first + zero_count + first, 1, 1, 1, "word count 0"},
        {2, first + negative_count + first, 1, 1, 1, "negative word count"},
        {5, encode(two, 5).substr(0, encode(two, 5).size() - 1), 1, 1, 1, "big-endian, short closing marker"},
        {1, l1, 2, 0, 5, "two segments"},
        {1, l1.substr(0, l1.size() - 10), 1, 1, 1, "segment chain broken by the end"},
        {1, std::string("\0\x02\x00\x00", 4), 0, 1, 0, "native word count 0"},
        {1, std::string("\0\x06\x03\x00\x01\x00\x00\x00", 8), 0, 1, 0, "native words missing"},
    };
    for (const Case& c : cases) {
        open_bytes(c.bytes, c.layout);
        int n = 0;
        while (!next_cldata_record()) ++n;
        EXPECT_EQ(n, c.records) << c.what;
        EXPECT_EQ(cldata_read_error(), c.error) << c.what;
        EXPECT_EQ(cldata_last_good_record(), c.last_good) << c.what;
    }
}

// Records written byte by byte as the layouts are described, not by the
// writer tool: record 1, class 2000, subclass 1009, then the integer 7, the
// real 2.5, the character 'A' and the integer -5. Words 4 and 5 are also read
// the other way round (an integer as a real, a real as an integer), which
// shows where each layout keeps the value in its cell.
TEST_F(Cutfile, HandWrittenBytesOfEachLayout) {
    const std::uint32_t f25 = std::bit_cast<std::uint32_t>(2.5f);
    const std::uint64_t d25 = std::bit_cast<std::uint64_t>(2.5);
    // 4-byte words: the integer in the first 2 bytes, the character in the first byte.
    auto words4 = [&](bool big) {
        auto b = [&](std::uint64_t v, int n) { return big ? be_bytes(v, n) : le_bytes(v, n); };
        const std::string zero2(2, '\0'), zero3(3, '\0');
        return b(1, 2) + zero2 + b(2000, 2) + zero2 + b(1009, 2) + zero2 + b(7, 2) + zero2 + b(f25, 4) +
               "A" + zero3 + b(0xFFFB, 2) + zero2;
    };
    // 8-byte words: the integer in the first 4 bytes.
    auto words8 = [&](bool big) {
        auto b = [&](std::uint64_t v, int n) { return big ? be_bytes(v, n) : le_bytes(v, n); };
        const std::string zero4(4, '\0'), zero7(7, '\0');
        return b(1, 4) + zero4 + b(2000, 4) + zero4 + b(1009, 4) + zero4 + b(7, 4) + zero4 + b(d25, 8) + "A" +
               zero7 + b(0xFFFFFFFB, 4) + zero4;
    };
    const std::string w2 = words4(false), w5 = words4(true), w3 = words8(false), w6 = words8(true);
    // Layout 1 in two segments: a first header byte that means nothing, a
    // length byte above 128 (128 bytes, more follow), then the 2 bytes left.
    const std::string body1 = le_bytes(7, 2) + w2;  // 30 bytes
    const std::string l1_one = std::string("\x5A\x1E", 2) + body1;
    // The same record as the second of a file, cut after byte 128 of its body:
    // a 40-word record fills 128 + 34 bytes.
    std::string body40 = le_bytes(40, 2) + le_bytes(2, 2) + std::string(2, '\0');
    for (int k = 2; k <= 40; ++k) body40 += le_bytes(static_cast<std::uint64_t>(k), 2) + std::string(2, '\0');
    ASSERT_EQ(body40.size(), 162u);
    const std::string l1 = l1_one + std::string("\x01\xFF", 2) + body40.substr(0, 128) + std::string("\x00\x22", 2) +
                           body40.substr(128);
    const std::string ascii =
        "$I5F52A1$\n"
        "I   12I    1I 2000I 1009I    7\n"          // the column-1 field numbers the line
        "I    7F      2.5AAI   -5$\n";               // a later line's column-1 I is a word
    struct Case { int layout; std::string bytes; double int_as_real; int real_as_int; };
    const Case cases[] = {
        {1, l1, std::ldexp(7.0, -149), 0},
        {2, le_bytes(30, 4) + le_bytes(7, 2) + w2 + le_bytes(30, 4), std::ldexp(7.0, -149), 0},
        {3, le_bytes(60, 4) + le_bytes(7, 4) + w3 + le_bytes(60, 4), std::ldexp(7.0, -1074), 0},
        {5, be_bytes(30, 4) + be_bytes(7, 2) + w5 + be_bytes(30, 4), std::ldexp(7.0, 16 - 149), 0x4020},
        {6, be_bytes(60, 4) + be_bytes(7, 4) + w6 + be_bytes(60, 4), std::ldexp(7.0, 32 - 1074), 0x40040000},
    };
    for (const Case& c : cases) {
        const std::string where = "layout " + std::to_string(c.layout);
        open_bytes(c.bytes, CLDATA_DETECT);
        EXPECT_EQ(cldata_reader.format, c.layout) << where;
        ASSERT_FALSE(next_cldata_record()) << where;
        EXPECT_EQ(cldata_record_number(), 1) << where;
        EXPECT_EQ(cldata_class(), 2000) << where;
        EXPECT_EQ(cldata_subclass(), 1009) << where;
        EXPECT_EQ(cldata_data_count(), 4) << where;
        EXPECT_EQ(cldata_int_word(1), 7) << where;
        EXPECT_EQ(cldata_real_word(2), 2.5) << where;
        EXPECT_EQ(cldata_char_word(3), 'A') << where;
        EXPECT_EQ(cldata_int_word(4), -5) << where;
        EXPECT_EQ(cldata_real_word(1), c.int_as_real) << where;
        EXPECT_EQ(cldata_int_word(2), c.real_as_int) << where;
        if (c.layout == 1) {
            ASSERT_FALSE(next_cldata_record()) << where;
            EXPECT_EQ(cldata_data_count(), 37);
            EXPECT_EQ(cldata_int_word(37), 40);
        }
        EXPECT_TRUE(next_cldata_record()) << where;
        EXPECT_EQ(cldata_read_error(), 0) << where;
    }
    // ASCII keeps integers in 32 bits and reals as doubles, like layout 3.
    open_bytes(ascii, CLDATA_DETECT);
    EXPECT_EQ(cldata_reader.format, CLDATA_ASCII);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_record_number(), 1);
    EXPECT_EQ(cldata_subclass(), 1009);
    EXPECT_EQ(cldata_data_count(), 5);
    EXPECT_EQ(cldata_int_word(1), 7);
    EXPECT_EQ(cldata_int_word(2), 7);
    EXPECT_EQ(cldata_real_word(3), 2.5);
    EXPECT_EQ(cldata_char_word(4), 'A');
    EXPECT_EQ(cldata_int_word(5), -5);
    EXPECT_EQ(cldata_real_word(1), std::ldexp(7.0, -1074));
    EXPECT_EQ(cldata_int_word(3), 0);
    EXPECT_TRUE(next_cldata_record());
    EXPECT_EQ(cldata_read_error(), 0);
}

// F fields read to the very same double as read_real_field gives for the
// field text, whatever their form: points or implied decimals, signs, leading
// zeros, inner blanks, exponents, more digits than a double holds.
TEST_F(Cutfile, AsciiRealsMatchFieldConversion) {
    constexpr int WIDTH = 16;  // F1004: ten digits before the point, four after, sign and point
    std::uint64_t seed = 12345;
    auto next = [&](int n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((seed >> 33) % static_cast<std::uint64_t>(n));
    };
    std::vector<std::string> fields = {"             0.1", "            -0.0", "            1234", "               5",
                                       "           1.5E2", "          1 2.50", "  12345678901234", " 123456789012.34",
                                       "   9007199254740993", "               .", "            +.25", "           7.   "};
    for (int n = 0; n < 3000; ++n) {
        std::string f;
        const int digits = 1 + next(17);
        const int point = next(3) == 0 ? -1 : next(digits + 1);
        if (next(3) == 0) f += next(2) ? '-' : '+';
        for (int k = 0; k < digits; ++k) {
            if (k == point) f += '.';
            f += static_cast<char>('0' + next(10));
        }
        if (point == digits) f += '.';
        if (next(40) == 0) f.insert(f.size() / 2, 1, next(2) ? ' ' : 'E');
        if (f.size() > static_cast<std::size_t>(WIDTH)) f.resize(WIDTH);
        fields.push_back(std::string(static_cast<std::size_t>(WIDTH) - f.size(), ' ') + f);
    }
    std::string text = "$I5F1004A1$\n";
    for (std::size_t n = 0; n < fields.size(); ++n) {
        fields[n].resize(WIDTH, ' ');
        text += "I    1I    1I 5000I    5F" + fields[n] + "$\n";
    }
    open_bytes(text, CLDATA_ASCII);
    for (const std::string& f : fields) {
        ASSERT_FALSE(next_cldata_record()) << f;
        int error = 0;
        const double want = read_real_field(f, WIDTH, 4, error, 0);
        ASSERT_EQ(error, 0) << f;
        // Read from the cell itself: values beyond what a word can hold are
        // refused by the accessor, but stored all the same.
        const double stored = cell_real_value(cldata_ring.cell[cldata_reader.current + 4], CLDATA_ASCII);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(stored), std::bit_cast<std::uint64_t>(want)) << "[" << f << "]";
    }
    EXPECT_TRUE(next_cldata_record());
    EXPECT_EQ(cldata_read_error(), 0);
}

// I fields read to the value read_int_field gives for the field text, in
// every form it accepts: blanks before, inside and after the digits, signs,
// ten digits, the limits of the 32-bit range.
TEST_F(Cutfile, AsciiIntegersMatchFieldConversion) {
    constexpr int WIDTH = 11;
    const std::vector<std::string> fields = {"          0", "        -42", "         +7", "      1 0  ",
                                             "           ", "          -", " 2147483647", "-2147483648",
                                             "-0000000012", "    123    ", "1234567890 ", "     -  5  "};
    std::string text = "$I11F52A1$\n";
    for (const std::string& f : fields) text += "I          1I          1I       5000I" + f + "$\n";
    open_bytes(text, CLDATA_ASCII);
    for (const std::string& f : fields) {
        ASSERT_FALSE(next_cldata_record()) << f;
        int error = 0;
        const int want = read_int_field(f, WIDTH, error, 0);
        ASSERT_EQ(error, 0) << f;
        EXPECT_EQ(cldata_subclass(), want) << "[" << f << "]";
    }
    EXPECT_TRUE(next_cldata_record());
    EXPECT_EQ(cldata_read_error(), 0);
}

// The ASCII reader takes the file a block at a time: lines that straddle two
// blocks, CR LF endings and a last line without a line feed read as ever, and
// a line of 257 characters that straddles two blocks is still an error.
TEST_F(Cutfile, AsciiLinesAcrossReadBlocks) {
    std::vector<record> many;
    for (int n = 1; n <= 4000; ++n) {
        record r = goto_record(n, n);
        if (n % 7 == 0) add_text(r, "LONGER TEXT RECORD");
        many.push_back(r);
    }
    ascii_style s;
    s.int_width = 6;
    s.crlf = true;
    s.final_newline = false;
    s.line_limit = 200;
    const std::string bytes = encode(many, 4, s);
    ASSERT_GT(bytes.size(), 3u * CUTFILE_READ_BLOCK);
    open_bytes(bytes, CLDATA_ASCII);
    expect_records(many, "blocks");
    // The overlong line starts shortly before the end of the first block.
    std::string text = "$I5F52A1$\n";
    while (text.size() < static_cast<std::size_t>(CUTFILE_READ_BLOCK) - 100) text += "I    1I    1I 1000I    0$\n";
    const std::size_t good = (text.size() - 10) / 26;
    text += "I    1I    1I 1000" + std::string(238, 'A') + "$\n";  // 257 characters
    open_bytes(text, CLDATA_ASCII);
    std::size_t n = 0;
    while (!next_cldata_record()) ++n;
    EXPECT_EQ(n, good);
    EXPECT_EQ(cldata_read_error(), 1);
}

// The marked layouts are taken from the read blocks too: records of every
// length that straddle the blocks' ends read as written, and a file cut
// short inside its last record, beyond the first block, is a read error
// after the records before it.
TEST_F(Cutfile, MarkedRecordsAcrossReadBlocks) {
    std::vector<record> many;
    for (int n = 1; many.size() < 3000; ++n) {
        record r = make_record(n, 5000, 5, {iw(0), iw(0)});
        for (int k = 0; k < n % 81; ++k) r.push_back(rw(0.5 * n + k));
        many.push_back(r);
    }
    for (int layout : {2, 3, 5, 6}) {
        const std::string where = "layout " + std::to_string(layout);
        const std::string bytes = encode(many, layout);
        ASSERT_GT(bytes.size(), 3u * CUTFILE_READ_BLOCK) << where;
        open_bytes(bytes, layout);
        expect_records(many, where);
        open_bytes(bytes.substr(0, bytes.size() - 5), layout);
        int n = 0;
        while (!next_cldata_record()) ++n;
        EXPECT_EQ(n, static_cast<int>(many.size()) - 1) << where;
        EXPECT_EQ(cldata_read_error(), 1) << where;
    }
}

// An empty cutfile has no record; after the last record every further call
// says so and the current record reads as empty.
struct run_stopped {
    int code;
};
void throw_on_stop(int code) { throw run_stopped{code}; }

TEST_F(Cutfile, RealsThatAreNoNumbersOrTooLargeAreUnreadable) {
    int st = 0;
    init_message_table(st);
    register_builtin_messages();
    set_stop_hook(throw_on_stop);
    const double big = 2147483647.0;
    struct Case {
        int layout;
        double value;
        bool readable;
    };
    const Case cases[] = {
        {CLDATA_DOUBLE_LE, big, true},       {CLDATA_DOUBLE_BE, -big, true},
        {CLDATA_DOUBLE_LE, std::nan(""), false}, {CLDATA_DOUBLE_BE, -HUGE_VAL, false},
        {CLDATA_SINGLE_LE, HUGE_VAL, false},  {CLDATA_SINGLE_BE, std::nan(""), false},
        {CLDATA_NATIVE, -3e9, false},         {CLDATA_DOUBLE_LE, 1e300, false},
        {CLDATA_DOUBLE_BE, -big - 1.0, false},
    };
    for (const Case& c : cases) {
        const std::string where = std::to_string(c.layout) + " " + std::to_string(c.value);
        const std::vector<record> records = {
            make_record(7, 5000, 5, {iw(0), iw(0), rw(1.0), rw(2.0), rw(3.0)}),
            make_record(8, 5000, 5, {iw(0), iw(0), rw(1.0), rw(c.value), rw(3.0)}),
        };
        open_bytes(encode(records, c.layout), c.layout);
        ASSERT_FALSE(next_cldata_record()) << where;
        EXPECT_EQ(cldata_real_word(3), 1.0) << where;
        int stopped = 0;
        try {
            // Seen ahead or as the current record, it is the same record.
            (void)record_real_word(1, 8);
            ASSERT_FALSE(next_cldata_record()) << where;
            EXPECT_EQ(cldata_real_word(4), c.value) << where;
        } catch (const run_stopped& s) {
            stopped = s.code;
        }
        EXPECT_EQ(stopped, c.readable ? 0 : 4) << where;
        if (!c.readable) {
            EXPECT_EQ(cldata_read_error(), 1) << where;
            EXPECT_EQ(cldata_last_good_record(), 7) << where;
        }
    }
    set_stop_hook(nullptr);
}

TEST_F(Cutfile, EmptyFileAndEnd) {
    open_bytes("", CLDATA_SINGLE_LE);
    EXPECT_EQ(cldata_data_count(), -4);  // the placeholder before the first record
    EXPECT_TRUE(next_cldata_record());
    EXPECT_EQ(cldata_read_error(), 0);
    open_bytes(encode({make_record(1, 1000, 0)}, 3), CLDATA_DETECT);
    EXPECT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_data_count(), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(next_cldata_record());
        EXPECT_EQ(cldata_class(), 0);
        EXPECT_EQ(cldata_data_count(), -3);
    }
}

// A stream that fails while a cutfile is read gives a read error, not the
// end of the data. The failing device is a stream open only for writing put
// in the cutfile unit's place: every read on it fails.
TEST_F(Cutfile, StreamFailureIsAReadError) {
    for (int layout : {1, 2, 4}) {
        open_bytes(encode(sample_records(), layout), layout);
        std::FILE*& stream = unit_table.stream[static_cast<std::size_t>(cldata_reader.unit)];
        std::fclose(stream);
        stream = std::fopen((dir / "unreadable").string().c_str(), "wb");
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(next_cldata_record()) << layout;
        EXPECT_EQ(cldata_read_error(), 1) << layout;
    }
}

TEST_F(Cutfile, Accessors) {
    std::vector<record> rs;
    record first = make_record(1, 2000, 1007, {iw(5), iw(72), iw(9), iw(72), iw(3), rw(-4.5)});
    rs.push_back(first);
    for (int n = 2; n <= 40; ++n) rs.push_back(make_record(n, n == 20 ? 5000 : 3000, n == 30 ? 1030 : 2, {rw(2.5)}));
    rs[30 - 1][1] = iw(2000);
    rs.push_back(make_record(41, 2000, 1030));
    record text = make_record(42, 2000, 1079);
    add_text(text, "AB");
    rs.push_back(text);
    for (int layout : {2, 6}) {
        open_bytes(encode(rs, layout), layout);
        ASSERT_FALSE(next_cldata_record());
        EXPECT_EQ(cldata_record_number(), 1);
        EXPECT_EQ(cldata_class(), 2000);
        EXPECT_EQ(cldata_subclass(), 1007);
        EXPECT_EQ(cldata_data_count(), 6);
        EXPECT_EQ(record_real_word(0, 3), 0.0);  // words 1-3 are never reals or characters
        EXPECT_EQ(record_char_word(0, 2), ' ');
        EXPECT_EQ(record_int_word(0, 10), 0);
        EXPECT_EQ(record_int_word(0, -1), 0);
        // Data word i is record word i + 3 by the record rules, below 1 too:
        // the integer reads reach the leading words and the count, the real
        // and character reads never do; far indices read as absent.
        EXPECT_EQ(cldata_int_word(0), 1007);
        EXPECT_EQ(cldata_int_word(-1), 2000);
        EXPECT_EQ(cldata_int_word(-2), 1);
        EXPECT_EQ(cldata_int_word(-3), 9);
        EXPECT_EQ(cldata_int_word(-4), 0);
        EXPECT_EQ(cldata_real_word(0), 0.0);
        EXPECT_EQ(cldata_char_word(-1), ' ');
        EXPECT_EQ(cldata_int_word(7), 0);
        EXPECT_EQ(cldata_int_word(INT_MAX), 0);
        EXPECT_EQ(cldata_int_word(INT_MIN), 0);
        EXPECT_EQ(cldata_real_word(INT_MAX), 0.0);
        EXPECT_EQ(cldata_real_word(6), -4.5);
        EXPECT_EQ(cldata_rounded_word(6), -5);
        // A run of real words reads as the words one by one, beyond the
        // record's ends too.
        for (int from : {-5, 0, 1, 4, 6, 7, INT_MAX - 2}) {
            double run[4];
            cldata_real_words(from, run);
            for (int i = 0; i < 4; ++i) {
                const long long word = static_cast<long long>(from) + i;
                const double one = word <= INT_MAX ? cldata_real_word(static_cast<int>(word)) : 0.0;
                EXPECT_EQ(run[i], one) << layout << " from " << from << " + " << i;
            }
        }
        int index = -1;
        EXPECT_EQ(find_minor_word_value(72, index), 5);
        EXPECT_EQ(index, 5);
        EXPECT_EQ(find_minor_word_value(8, index), 0);
        int cls = 0, sub = 0, flag = 0;
        next_record_class(cls, sub, flag);
        EXPECT_EQ(cls, 3000);
        EXPECT_EQ(sub, 2);
        EXPECT_EQ(flag, 1);
        int k = 0;
        // The class-2000 record of major word 1030 is record 30, 29 ahead; the
        // class-5000 record 19 ahead stops a search for it.
        EXPECT_EQ(find_record_ahead(2000, 1030, 0, 0, k, 30), 1);
        EXPECT_EQ(k, 29);
        EXPECT_EQ(find_record_ahead(2000, 1030, 5000, 0, k, 30), 0);
        EXPECT_EQ(k, 19);
        EXPECT_EQ(find_record_ahead(2000, 1030, 0, 0, k, 28), 0);
        EXPECT_EQ(find_record_ahead(2000, 9999, 0, 0, k, 0), 0);  // runs out of records
        EXPECT_EQ(find_record_ahead(2000, 1079, 0, 0, k, 0), 1);
        EXPECT_EQ(k, 41);
        EXPECT_EQ(record_char_word(41, 4), 'A');
        EXPECT_EQ(record_char_word(41, 5), 'B');
        EXPECT_EQ(record_int_word(42, 0), 0);  // the end of the data
        EXPECT_EQ(record_header_ahead(43), 0);
    }
}

// Many records of mixed sizes: the ring wraps many times, keeps its margin,
// and every look-ahead matches reading straight through.
TEST_F(Cutfile, LookAheadAcrossWrapAround) {
    std::vector<record> rs;
    for (int n = 1; n <= 1500; ++n) {
        record r = make_record(n, 5000, 5);
        const int words = n % 97 == 0 ? 242 : n % 11;  // now and then a near-maximum record
        for (int j = 0; j < words; ++j) r.push_back(j % 2 ? iw(n * 10 + j) : rw(n + 0.25 * j));
        rs.push_back(r);
    }
    rs.push_back(make_record(1501, 14000, 0));
    for (int layout : {1, 4}) {
        open_bytes(encode(rs, layout), layout);
        std::size_t n = 0;
        int min_ahead = 1 << 30;
        while (!next_cldata_record()) {
            ASSERT_LT(n, rs.size());
            expect_record(0, rs[n], "current");
            int k = 1;
            for (; record_int_word(k, 0) > 0; ++k) {
                ASSERT_LT(n + static_cast<std::size_t>(k), rs.size());
                expect_record(k, rs[n + static_cast<std::size_t>(k)], "ahead");
            }
            if (n + 300 < rs.size()) min_ahead = std::min(min_ahead, k - 1);
            // The margin: free cells between the newest record and the current one.
            int free = cldata_reader.current - cldata_reader.next_free;
            if (free <= 0) free += CLDATA_RING_CELLS;
            EXPECT_GE(free, 1);
            ++n;
        }
        EXPECT_EQ(n, rs.size());
        EXPECT_GE(min_ahead, 1);  // even behind near-maximum records something is ahead
        EXPECT_EQ(cldata_read_error(), 0);
    }
}

// Short records are read ahead until fewer than 247 cells would stay free:
// with 4 cells a record, 188 records stand behind the first; a record never
// starts where its 245-word maximum could run past the last cell.
TEST_F(Cutfile, ReadAheadStopsAtTheMargin) {
    std::vector<record> rs;
    for (int n = 1; n <= 400; ++n) rs.push_back(make_record(n, 3000, 2));
    open_bytes(encode(rs, 2), CLDATA_SINGLE_LE);
    ASSERT_FALSE(next_cldata_record());
    int k = 0;
    while (record_int_word(k + 1, 0) > 0) ++k;
    EXPECT_EQ(k, 188);
    EXPECT_EQ(cldata_reader.next_free, 2 + 189 * 4);
    ASSERT_FALSE(next_cldata_record());  // 244 cells free: nothing more is read
    EXPECT_EQ(cldata_reader.next_free, 2 + 189 * 4);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_reader.next_free, 1);  // the cells up to the end stay empty
    EXPECT_EQ(record_int_word(186, 1), 189);
    EXPECT_EQ(record_header_ahead(187), 0);
}

// A rewind starts the file again from record 1: after the end, part way
// through, after a read error, and for ASCII with its header read again.
TEST_F(Cutfile, Rewind) {
    const std::vector<record> records = sample_records();
    for (int layout : {1, 4, 6}) {
        open_bytes(encode(records, layout), layout);
        while (!next_cldata_record()) {}
        int status = -1;
        rewind_cldata(status);
        EXPECT_EQ(status, 0);
        expect_records(records, "after the end, layout " + std::to_string(layout));
        rewind_cldata(status);
        ASSERT_FALSE(next_cldata_record());
        ASSERT_FALSE(next_cldata_record());
        rewind_cldata(status);
        expect_records(records, "part way, layout " + std::to_string(layout));
    }
    std::string broken = encode(records, 2);
    broken.resize(broken.size() - 2);
    open_bytes(broken, CLDATA_SINGLE_LE);
    while (!next_cldata_record()) {}
    EXPECT_EQ(cldata_read_error(), 1);
    EXPECT_EQ(cldata_last_good_record(), static_cast<int>(records.size()) - 1);
    int status = -1;
    rewind_cldata(status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cldata_read_error(), 0);
    ASSERT_FALSE(next_cldata_record());
    EXPECT_EQ(cldata_record_number(), 1);
    EXPECT_EQ(cldata_subclass(), 1045);
}

TEST_F(Cutfile, OpenFailures) {
    int status = 0;
    open_cldata((dir / "missing.cut").string(), CLDATA_DETECT, status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(next_cldata_record());
    open_cldata((dir / "missing.cut").string(), CLDATA_NATIVE, status);
    EXPECT_EQ(status, 1);
    open_bytes(encode(sample_records(), 2), CLDATA_SINGLE_LE);
    open_cldata((dir / "job.cut").string(), 7, status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(next_cldata_record());
    rewind_cldata(status);
    EXPECT_EQ(status, 1);
}
