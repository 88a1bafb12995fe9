// The MCD file: checksums, run packing and repeat lines, the three record
// kinds against hand-made lines, every record error, the file read back into
// a fresh store, and the failures of writing and reading a file.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store_printer.h"

using namespace kv;
using namespace kv_test;

namespace {

// A scratch folder, the working directory while a test runs.
struct scratch_folder {
    std::string path;
    char previous[4096];
    scratch_folder() {
        path = "/tmp/kv_mcd_" + std::to_string(getpid());
        mkdir(path.c_str(), 0700);
        EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
        EXPECT_EQ(chdir(path.c_str()), 0);
        compile("machine ready\nend\n");  // units, messages and the stop hook in place
    }
    ~scratch_folder() {
        EXPECT_EQ(chdir(previous), 0);
        std::string cmd = "rm -rf " + path;
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
};

void write_file(const std::string& name, const std::string& contents) {
    std::ofstream(name, std::ios::binary) << contents;
}

std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> file_lines(const std::string& name) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(name));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// The lines of a file as the writer ends it: its checksum line last.
std::string with_file_checksum(const std::vector<std::string>& lines) {
    const std::string body = join_lines(lines);
    char line[MCD_FILE_CHECKSUM_DIGITS + 3];
    std::snprintf(line, sizeof line, "%c%0*lu\n", MCD_FILE_CHECKSUM_MARK, MCD_FILE_CHECKSUM_DIGITS,
                  static_cast<unsigned long>(~continue_file_checksum(MCD_FILE_CHECKSUM_START, body)));
    return body + line;
}

int open_for(const std::string& name, int st) {
    int unit = -1, status = 0;
    open_unit(unit, name, st, FORM_TEXT, status);
    EXPECT_EQ(status, 0) << name;
    return unit;
}

void close_unit(int unit) {
    int status = 0;
    filclo(unit, status);
}

// Runs the writer on a fresh file and returns its lines.
template <class F>
std::vector<std::string> written(F write) {
    int unit = open_for("w.txt", OPEN_WRITE);
    reset_mcd_lines();
    write(unit);
    flush_mcd_repeats(unit);
    close_unit(unit);
    return file_lines("w.txt");
}

// Runs a reader over the given file text.
template <class F>
void reading(const std::string& contents, F read) {
    write_file("r.txt", contents);
    int unit = open_for("r.txt", OPEN_READ);
    reset_mcd_lines();
    read(unit);
    close_unit(unit);
}

std::string digits(long long v, int width) {
    char b[32];
    std::snprintf(b, sizeof b, "%0*lld", width, v);
    return b;
}

std::string packed(const std::string& line) {
    char out[MCD_LINE_LIMIT];
    const int n = pack_runs(line, out);
    EXPECT_GE(n, 0);
    return std::string(out, static_cast<std::size_t>(n));
}

// An integer line built by hand: sum, count, then the given values and unused fields.
std::string int_line(int sum, int count, const std::vector<int>& values) {
    std::string l = digits(sum, 8) + digits(count, 4);
    for (int v : values) l += digits(v < 0 ? 3 : 1, 2) + digits(std::llabs(v), 10);
    for (std::size_t k = values.size(); k < 6; ++k) l += "111111111111";
    return l;
}

// A string line built by hand for a text of up to 24 characters in a field of L.
std::string string_line(const std::string& text, int L) {
    std::string field = text;
    field.resize(static_cast<std::size_t>(L), ' ');
    const int t = static_cast<int>(trimmed(field).size());
    std::string l = digits(t + checksum_chars(field), 8) + digits(t, 4);
    for (int f = 0; f < 6; ++f) {
        long long v = 0;
        for (int c = 0; c < 4; ++c) {
            const int p = f * 4 + c;
            v = v * 256 + (p < L ? (static_cast<unsigned char>(field[static_cast<std::size_t>(p)]) ^ 64) : 5);
        }
        l += digits(v, 10);
    }
    return l;
}

}  // namespace

TEST(McdChecksum, KnownValues) {
    EXPECT_EQ(checksum_chars("abc"), 12254932);
    EXPECT_EQ(checksum_chars(""), 0);
    EXPECT_EQ(checksum_ints({}), 0);
    // Characters are signed bytes widened, as the integers are.
    const std::vector<int> abc = {'a', 'b', 'c'};
    EXPECT_EQ(checksum_ints(abc), 12254932);
    EXPECT_EQ(checksum_table[0], 0xFFFFFFFFu);
    EXPECT_EQ(checksum_table[31], 0xE7080DF5u);
}

TEST(McdLines, PackAndExpand) {
    struct Case { std::string line, packed; };
    const Case cases[] = {
        {std::string(30, '0'), "[0C0"},
        {"12", "12"},
        {"1123", "B123"},
        {std::string(27, '5') + "5", "[55"},
        {std::string(54, '7'), "[7[7"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(packed(c.line), c.packed) << c.line;
        char out[MCD_LINE_LIMIT];
        const int n = expand_repeat_codes(c.packed, out);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(std::max(n, 0))), c.line);
    }
    // Not a packed digit line: a marker out of range, a marker without its
    // digit, a letter after a marker, anything that would overrun the buffer.
    for (const std::string bad : {"A1", "\\1", "12B", "Bx", "+1", " 1", "\x7f" "1"}) {
        char out[MCD_LINE_LIMIT];
        EXPECT_EQ(expand_repeat_codes(bad, out), -1) << bad;
    }
    char small[40];
    EXPECT_EQ(expand_repeat_codes("[0[0", small), -1);
}

TEST(McdLines, RepeatLines) {
    scratch_folder dir;
    // 1024 blank strings of 120: one line and a repeat of 1023.
    const auto lines = written([](int u) {
        for (int i = 0; i < 1024; ++i) write_mcd_string(u, text<120>());
    });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "+1023");
    EXPECT_EQ(lines[0], packed(string_line("", 120)));

    // A run longer than a four-column count goes on under a second repeat line,
    // and every copy reads back.
    const std::array<int, 1> one = {42};
    const auto many = written([&](int u) {
        for (int i = 0; i < MCD_REPEAT_MAX + 3; ++i) write_mcd_integers(u, one);
        write_mcd_integers(u, std::array<int, 1>{7});
    });
    ASSERT_EQ(many.size(), 4u);
    EXPECT_EQ(many[1], "+9999");
    EXPECT_EQ(many[2], "+   2");
    reading(join_lines(many), [](int u) {
        std::array<int, 1> v{};
        int status = 0;
        for (int i = 0; i < MCD_REPEAT_MAX + 3 && status == 0; ++i) {
            v[0] = 0;
            read_mcd_integers(u, v, status);
            ASSERT_EQ(v[0], 42) << i;
        }
        EXPECT_EQ(status, 0);
        read_mcd_integers(u, v, status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(v[0], 7);
        read_mcd_integers(u, v, status);
        EXPECT_EQ(status, MCD_BAD_FIELD);  // the end of the file
    });
}

TEST(McdRecords, WrittenAsTheLayoutSays) {
    scratch_folder dir;
    // Two integers: one line with four unused fields, each value with its own sign.
    const std::vector<int> two = {5, -7};
    EXPECT_EQ(written([&](int u) { write_mcd_integers(u, two); }),
              std::vector<std::string>{packed(int_line(2 + checksum_ints(two), 2, two))});
    // No integers still give one line.
    EXPECT_EQ(written([](int u) { write_mcd_integers(u, {}); }),
              std::vector<std::string>{packed(int_line(0, 0, {}))});

    // Reals: exponent code (1000 or 3000, a negative exponent biased by 200)
    // and a mantissa of |x| x 10^(8 - e); the sum covers the first four fields.
    const std::vector<double> reals = {0.0, 1.5, -2500.0, 0.05, 7.0};
    const std::vector<std::string> expected_fields = {"10000000000000", "10000150000000", "30030250000000",
                                                      "11990050000000", "10000700000000"};
    const auto real_lines = written([&](int u) { write_mcd_reals(u, reals); });
    ASSERT_EQ(real_lines.size(), 1u);
    char out[MCD_LINE_LIMIT];
    const int n = expand_repeat_codes(real_lines[0], out);
    const std::string line(out, static_cast<std::size_t>(n));
    ASSERT_EQ(line.size(), static_cast<std::size_t>(MCD_REAL_LINE_LENGTH));
    EXPECT_EQ(line.substr(8, 8), "00000005");
    for (int f = 0; f < 5; ++f) EXPECT_EQ(line.substr(16 + 14 * f, 14), expected_fields[static_cast<std::size_t>(f)]);
    const std::vector<int> summed = {1000, 0, 1000, 150000000, 3003, 250000000, 1199, 50000000};
    EXPECT_EQ(line.substr(0, 8), digits(5 + checksum_ints(summed), 8));
    // Ten reals fill two lines of five with no unused field; two leave three.
    EXPECT_EQ(written([](int u) { write_mcd_reals(u, std::vector<double>(10, 1.0)); }).size(), 2u);
    const auto short_reals = written([](int u) { write_mcd_reals(u, std::vector<double>{1.0, 2.0}); });
    ASSERT_EQ(short_reals.size(), 1u);
    const int m = expand_repeat_codes(short_reals[0], out);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(m)).substr(16 + 14 * 2), "22221222222222" "22221222222222" "22221222222222");

    // A string: bit 6 inverted, four characters to a field, 5 past the field.
    EXPECT_EQ(written([](int u) { write_mcd_string(u, text<6>("AB x")); }),
              std::vector<std::string>{packed(string_line("AB x", 6))});
    // 30 characters take two lines.
    EXPECT_EQ(written([](int u) { write_mcd_string(u, text<40>(std::string(30, 'q'))); }).size(), 2u);
}

TEST(McdRecords, RoundTripValues) {
    scratch_folder dir;
    const std::vector<int> ints = {0, -999, -99, 2147483647, -2147483647 - 1, 1, 95, 120000, -1, 3, 4, 5, 6};
    const std::vector<double> reals = {0.0, -1.0, 5000.5, 0.001, -123456.75, 99999.0, 1e-5, -0.25, 360.0, 1e20};
    text<132> header("Shop mill \"A\" ~_%");
    text<24> long_text;  // exactly one line's worth
    long_text.set("abcdefghijklmnopqrstuvwx");
    const auto lines = written([&](int u) {
        write_mcd_integers(u, ints);
        write_mcd_reals(u, reals);
        write_mcd_string(u, header);
        write_mcd_string(u, long_text);
    });
    reading(join_lines(lines), [&](int u) {
        std::vector<int> iv(ints.size());
        std::vector<double> rv(reals.size());
        text<132> h("left over from an earlier source, all of it to be replaced");
        text<24> t;
        int s1 = -1, s2 = -1, s3 = -1, s4 = -1;
        read_mcd_integers(u, iv, s1);
        read_mcd_reals(u, rv, s2);
        read_mcd_string(u, h, s3);
        read_mcd_string(u, t, s4);
        EXPECT_EQ(s1, 0);
        EXPECT_EQ(s2, 0);
        EXPECT_EQ(s3, 0);
        EXPECT_EQ(s4, 0);
        EXPECT_EQ(iv, ints);
        for (std::size_t k = 0; k < reals.size(); ++k) EXPECT_NEAR(rv[k], reals[k], std::fabs(reals[k]) * 1e-8) << k;
        EXPECT_EQ(std::string(h.view()), std::string(header.view()));
        EXPECT_EQ(t.str(), "abcdefghijklmnopqrstuvwx");
    });
}

TEST(McdRecords, ReadErrors) {
    scratch_folder dir;
    const std::vector<int> seven = {1, 2, 3, 4, 5, 6, 7};
    const int sum7 = 7 + checksum_ints(seven);
    const std::string l1 = int_line(sum7, 7, {1, 2, 3, 4, 5, 6});
    const std::string l2 = int_line(sum7, 7, {7});
    const std::vector<int> six = {1, 2, 3, 4, 5, 6};
    const std::string only6 = int_line(6 + checksum_ints(six), 6, six);
    struct Case { const char* what; std::vector<std::string> lines; int expected; };
    const Case int_cases[] = {
        {"good", {l1, l2}, 0},
        {"good, as written", {packed(l1), packed(l2)}, 0},
        {"second line missing", {l1}, MCD_BAD_FIELD},
        {"a value changed", {l1, int_line(sum7, 7, {8})}, MCD_BAD_CHECK},
        {"sum of line 2 differs", {l1, int_line(sum7 + 1, 7, {7})}, MCD_BAD_CHECK},
        {"count of line 2 differs", {l1, int_line(sum7, 8, {7})}, MCD_BAD_CHECK},
        {"count is not the one asked for", {only6}, MCD_BAD_CHECK},
        {"a letter in a field", {l1.substr(0, 20) + "x" + l1.substr(21), l2}, MCD_BAD_FIELD},
        {"a blank in a field", {l1.substr(0, 20) + " " + l1.substr(21), l2}, MCD_BAD_FIELD},
        {"line too short", {l1.substr(0, 83), l2}, MCD_BAD_FIELD},
        {"a sign code that makes no value", {l1.substr(0, 12) + "05" + l1.substr(14), l2}, MCD_BAD_CHECK},
        {"repeat line first", {"+   1", l1, l2}, MCD_BAD_FIELD},
        {"repeat count not a number", {l1, "+  x1"}, MCD_BAD_FIELD},
        {"a line over 256 characters", {std::string(300, '1'), l2}, MCD_BAD_FIELD},
        {"a marker that runs past the buffer", {std::string(20, '~') + "1", l2}, MCD_BAD_FIELD},
        {"empty file", {}, MCD_BAD_FIELD},
    };
    for (const Case& c : int_cases) {
        reading(join_lines(c.lines), [&](int u) {
            std::vector<int> v(7);
            int status = -1;
            read_mcd_integers(u, v, status);
            EXPECT_EQ(status, c.expected) << c.what;
            if (c.expected == 0) {
                EXPECT_EQ(v, seven) << c.what;
            }
        });
    }

    // Reals: each line carries its own sum over its first four fields.
    const auto reals = written([](int u) { write_mcd_reals(u, std::vector<double>{1, 2, 3, 4, 5, 6}); });
    ASSERT_EQ(reals.size(), 2u);
    char buf[MCD_LINE_LIMIT];
    const int n = expand_repeat_codes(reals[1], buf);
    std::string second(buf, static_cast<std::size_t>(n));
    std::string bad_sum = second;
    bad_sum[7] = bad_sum[7] == '9' ? '8' : static_cast<char>(bad_sum[7] + 1);
    std::string bad_count = second;
    bad_count[15] = '7';
    std::string bad_sign = second;
    bad_sign[16] = '2';  // exponent code 2xxx: no sign
    // The fifth field of a line is outside the line's sum: an exponent code
    // of 1999 there (10 to the power 799) makes no finite number.
    const int n1 = expand_repeat_codes(reals[0], buf);
    std::string huge_exponent(buf, static_cast<std::size_t>(n1));
    huge_exponent.replace(16 + 14 * 4, 4, "1999");
    const Case real_cases[] = {
        {"good", {reals[0], second}, 0},
        {"sum of line 2", {reals[0], bad_sum}, MCD_BAD_CHECK},
        {"count of line 2", {reals[0], bad_count}, MCD_BAD_CHECK},
        {"exponent code", {reals[0], bad_sign}, MCD_BAD_CHECK},
        {"exponent beyond any number", {huge_exponent, second}, MCD_BAD_CHECK},
    };
    for (const Case& c : real_cases) {
        reading(join_lines(c.lines), [&](int u) {
            std::vector<double> v(6);
            int status = -1;
            read_mcd_reals(u, v, status);
            EXPECT_EQ(status, c.expected) << c.what;
            if (c.expected == 0) {
                EXPECT_EQ(v, (std::vector<double>{1, 2, 3, 4, 5, 6})) << c.what;
            }
        });
    }

    // Strings: positions past the field hold 5, and the checksum covers the field.
    const std::string good = string_line("AB x", 6);
    std::string past = good;
    past[8 + 4 + 10 + 9] = '6';  // field 2, last byte: position 8 of a field of 6
    std::string changed = string_line("AB y", 6);
    changed.replace(0, 8, good.substr(0, 8));
    const Case string_cases[] = {
        {"good", {good}, 0},
        {"position past the field", {past}, MCD_BAD_CHECK},
        {"checksum", {changed}, MCD_BAD_CHECK},
        {"a packed field over 32 bits", {good.substr(0, 12) + "9999999999" + good.substr(22)}, MCD_BAD_CHECK},
    };
    for (const Case& c : string_cases) {
        reading(join_lines(c.lines), [&](int u) {
            text<6> f;
            int status = -1;
            read_mcd_string(u, f, status);
            EXPECT_EQ(status, c.expected) << c.what;
            if (c.expected == 0) {
                EXPECT_EQ(f.str(), "AB x");
            }
        });
    }
}

namespace {

// Every table that the file holds, as text, for comparing two stores.
std::string held_tables() {
    const configuration_store_t& cs = configuration_store;
    std::ostringstream o;
    o << "NGPS " << cs.NGPS << " active " << cs.active_word_count << " cldat " << cs.special_block_count << "\n";
    o << "name " << quoted(cs.gpnams[0]) << "\n";
    for (int w = 1; w <= cs.NGPS; ++w) {
        o << "word " << w << " " << quoted(cs.gpnams[w]) << " " << quoted(cs.wrdch[w]) << " perm " << cs.wperm[w]
          << " link " << cs.wrdlnk[w] << " formats";
        for (int c = 1; c <= MCD_WORD_COLUMNS; ++c) o << " " << cs.word_formats[w][c];
        o << "\n";
    }
    o << "order";
    for (int i = 1; i <= MAXWORDS; ++i) o << " " << cs.wrdrut[i];
    o << "\nkeys";
    for (int k = 1; k <= NUMKEYS; ++k) o << " " << cs.key[k];
    o << "\n";
    for (int n = 1; n <= NUMCODES; ++n)
        o << "code " << n << " " << cs.icodes[1][n] << " " << cs.icodes[2][n] << " " << quoted(cs.scodes[n]) << "\n";
    for (int n = 1; n <= NUMINTSP; ++n) o << "intsp " << n << " " << cs.intsp[n] << "\n";
    char b[64];
    for (int c = 1; c <= NUMSPVAL; ++c) {
        std::snprintf(b, sizeof b, "R %d %.8g\n", c, cs.real_options[c]);
        o << b;
    }
    for (int j = 1; j <= AVALS_LISTS; ++j)
        for (int i = 1; i <= MCD_LIST_ENTRIES; ++i) {
            std::snprintf(b, sizeof b, "avals %d %d %.8g\n", i, j, avals(i, j));
            o << b;
        }
    for (int n = 1; n <= NUMSPCHAR; ++n) o << "spchar " << n << " " << quoted(cs.spchar[n]) << "\n";
    for (int bl = 1; bl <= MCD_BLOCKS; ++bl) {
        o << "block " << bl << " length " << cs.blklen[bl] << "\n";
        for (int i = 1; i <= MAXITEMS; ++i) {
            const block_item_t& it = cs.block_items[bl][i];
            if (it.code != 0 || it.value != 0 || it.string_ref != 0)
                o << "  item " << i << " " << it.code << " " << it.value << " " << it.string_ref << "\n";
            if (trimmed_length(cs.block_texts[bl][i]) > 0) o << "  text " << i << " " << quoted(cs.block_texts[bl][i]) << "\n";
        }
    }
    return o.str();
}

// The first line where two texts differ, for a failure message.
std::string first_difference(const std::string& a, const std::string& b) {
    std::istringstream x(a), y(b);
    std::string l1, l2;
    while (true) {
        const bool m1 = static_cast<bool>(std::getline(x, l1));
        const bool m2 = static_cast<bool>(std::getline(y, l2));
        if (!m1 && !m2) return "";
        if (!m1 || !m2 || l1 != l2) return "before: " + (m1 ? l1 : "<end>") + "\nafter:  " + (m2 ? l2 : "<end>");
    }
}

const char* const RICH_CONTROL =
    "machine ctl\n"
    "define word X\n address letter = \"X\"\n field width = 7\n sign = always\n modal\n decimal places = 3\nend define\n"
    "define word Y_\n link to X\n every block\nend define\n"
    "define table\n Z \"Z\" +- 0 4 . 0 3 modal spaces 2\n F \"F\" 4 . 1 inch 3 . 2 x2 /10\nend define\n"
    "define keys\n x coordinate = X\n feedrate = F\nend define\n"
    "define codes\n rapid = Y 0\n absolute data = Z \"G90\"\nend define\n"
    "word order = (F msg X Y Z)\n"
    "units = metric\nmaximum feedrate = 5000.5\nminimum x value = -12.5\nprint header = \"Shop mill\"\n"
    "integer 120 = -4\nreal 30 = 2.5\ncharacter 8 = \";\"\n"
    "linear axis limits = (-5 5 -6. 6 -7.5 7.5)\ntr = (\"ab\" xy)\n"
    "define block tape start\n\"%\"\nX 12 ; Y = ; \"T\"\nif (a > 1)\nset flag\nelse\nedit n 2.5\nend if\nrapid =C\nend define\n"
    "define block move linear\nY (a+b) =C ; msg \"hello\"\nend define\n"
    "define block cldat 1019\nX next\nend define\n"
    "define block ppfun OPSTOP\nmsg \"stop\"\nend define\n"
    "end\n";

}  // namespace

TEST(McdFile, WriteAndReadBackEveryHeldTable) {
    scratch_folder dir;
    const compile_result r = compile(RICH_CONTROL);
    ASSERT_EQ(r.exit_code, -1) << r.messages;
    configuration_store.active_word_count = configuration_store.NGPS;
    mcd_reserved = mcd_reserved_t{};
    int status = -1;
    testing::internal::CaptureStderr();
    write_mcd_file(status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(status, 0);
    const std::string before = held_tables();
    const std::string file = read_file("ctl.mcd");
    ASSERT_FALSE(file.empty());

    // Into a fresh store over the default words, as the driver loads it.
    reset_store();
    set_default_words();
    int unit = open_for("ctl.mcd", OPEN_READ);
    testing::internal::CaptureStderr();
    read_mcd_file(unit, "./ctl.mcd", status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(MCD_VERSION_TEXT) + "\n");
    ASSERT_EQ(status, 0);
    EXPECT_LT(unit, 0);  // closed
    const std::string after = held_tables();
    EXPECT_TRUE(after == before) << first_difference(before, after);
    // A name written with "_" is the name without it; the ppfun name stays blank.
    EXPECT_EQ(configuration_store.gpnams[2].str(), "Y");
    EXPECT_EQ(configuration_store.ppfstr[1].str(), "");

    // Written again from what was read (with the ppfun name, which is not
    // read back): the same file.
    configuration_store.ppfstr[1].set("OPSTOP");
    write_mcd_file(status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(read_file("ctl.mcd") == file);
}

TEST(McdFile, StaleWordOrderEndsAtTheOrderRead) {
    scratch_folder dir;
    ASSERT_EQ(compile("machine two\ndefine word A\nend define\ndefine word B\nend define\nword order = (B A)\nend\n").exit_code, -1);
    int status = -1;
    write_mcd_file(status);
    ASSERT_EQ(status, 0);
    reset_store();
    set_default_words();  // an order of 39 words
    int unit = open_for("two.mcd", OPEN_READ);
    testing::internal::CaptureStderr();
    read_mcd_file(unit, "two", status);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0);
    EXPECT_EQ(configuration_store.wrdrut[1], 2);
    EXPECT_EQ(configuration_store.wrdrut[2], 1);
    EXPECT_EQ(configuration_store.wrdrut[3], ORDER_END);
}

namespace {

// Finds the first line of the record whose count field reads `count` on an
// unpacked line of the given length, changes one digit of its first value
// and writes the file back packed.
void damage_record(const std::string& name, int length, const std::string& count, int count_at, int digit_at) {
    std::vector<std::string> lines = file_lines(name);
    for (std::string& l : lines) {
        char buf[MCD_LINE_LIMIT];
        const int n = expand_repeat_codes(l, buf);
        if (n != length) continue;
        std::string u(buf, static_cast<std::size_t>(n));
        if (u.substr(static_cast<std::size_t>(count_at), count.size()) != count) continue;
        u[static_cast<std::size_t>(digit_at)] = u[static_cast<std::size_t>(digit_at)] == '1' ? '2' : '1';
        l = packed(u);
        write_file(name, join_lines(lines));
        return;
    }
    ADD_FAILURE() << "record not found";
}

struct read_outcome {
    int status = -1;
    int stopped = -1;
    std::string messages;
};

read_outcome read_back(const std::string& file, const std::string& name) {
    read_outcome r;
    reset_store();
    set_default_words();
    int unit = open_for(file, OPEN_READ);
    testing::internal::CaptureStderr();
    try {
        read_mcd_file(unit, name, r.status);
    } catch (const run_stopped& s) {
        r.stopped = s.code;
    }
    r.messages = testing::internal::GetCapturedStderr();
    if (unit >= 0) close_unit(unit);
    return r;
}

}  // namespace

TEST(McdFile, ReadFailures) {
    scratch_folder dir;
    ASSERT_EQ(compile(RICH_CONTROL).exit_code, -1);
    int status = -1;
    write_mcd_file(status);
    ASSERT_EQ(status, 0);
    const std::string good = read_file("ctl.mcd");
    const std::string version_line = std::string(MCD_VERSION_TEXT) + "\n";

    // The control looked for is another one.
    read_outcome r = read_back("ctl.mcd", "lib/other.mcd");
    EXPECT_EQ(r.status, MCD_NAME_MISMATCH);
    EXPECT_EQ(r.messages, version_line + "Error(init): MCD file name mismatch\n");
    EXPECT_EQ(read_back("ctl.mcd", "lib/ctl.cfg").status, 0);

    // A blank version text stops the run.
    write_file("empty.mcd", "");
    r = read_back("empty.mcd", "ctl");
    EXPECT_EQ(r.stopped, 5);
    EXPECT_EQ(r.messages, "Error: Read zero length MCD version string\n");

    // A changed value in the intsp record (150 values): group 2, checksum.
    damage_record("ctl.mcd", MCD_INT_LINE_LENGTH, "0150", 8, 8 + 4 + 2 + 9);
    r = read_back("ctl.mcd", "ctl");
    EXPECT_EQ(r.status, 2010);
    EXPECT_EQ(r.messages, version_line);

    // A file that lost its checksum line (its last) is refused as one cut short.
    write_file("ctl.mcd", good.substr(0, good.rfind(MCD_FILE_CHECKSUM_MARK)));
    EXPECT_EQ(read_back("ctl.mcd", "ctl").status, MCD_WHOLE_FILE_GROUP * 1000 + MCD_BAD_CHECK);

    // A file cut short in the middle of the blocks: group 15 or 16, a missing line.
    write_file("ctl.mcd", good.substr(0, good.size() / 2));
    r = read_back("ctl.mcd", "ctl");
    EXPECT_TRUE(r.status == 15008 || r.status == 16008) << r.status;

    // A word count beyond the word tables: group 18.
    write_file("ctl.mcd", good);
    std::vector<std::string> lines = file_lines("ctl.mcd");
    const std::vector<int> counts = {MAXWORDS, 0};
    // Records 1 and 2 take two lines and one line here; record 3 is line 4.
    char buf[MCD_LINE_LIMIT];
    ASSERT_EQ(expand_repeat_codes(lines[3], buf), MCD_INT_LINE_LENGTH);
    lines[3] = packed(int_line(2 + checksum_ints(counts), 2, counts));
    write_file("ctl.mcd", join_lines(lines));
    EXPECT_EQ(read_back("ctl.mcd", "ctl").status, 18010);

    // A block length beyond the items a block holds: group 14.
    write_file("ctl.mcd", good);
    lines = file_lines("ctl.mcd");
    bool found = false;
    for (std::string& l : lines) {
        const int n = expand_repeat_codes(l, buf);
        std::string u(buf, static_cast<std::size_t>(std::max(n, 0)));
        if (n != MCD_INT_LINE_LENGTH || u.substr(8, 4) != "0064") continue;
        std::vector<int> lengths(64, 0);
        lengths[2] = MAXITEMS + 1;
        const std::vector<std::string> record = written([&](int u) { write_mcd_integers(u, lengths); });
        // The old record's eleven lines, a repeat line counting its copies,
        // give way to the new record.
        const std::size_t at = static_cast<std::size_t>(&l - &lines[0]);
        std::vector<std::string> rebuilt(lines.begin(), lines.begin() + static_cast<long>(at));
        std::size_t k = at, consumed = 0;
        while (consumed < 11) {
            const std::string& old = lines[k++];
            consumed += old[0] == '+' ? static_cast<std::size_t>(std::stoi(old.substr(1))) : 1;
        }
        rebuilt.insert(rebuilt.end(), record.begin(), record.end());
        rebuilt.insert(rebuilt.end(), lines.begin() + static_cast<long>(k), lines.end());
        write_file("ctl.mcd", join_lines(rebuilt));
        found = true;
        break;
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(read_back("ctl.mcd", "ctl").status, 14010);
}

// A file whose checksums are all correct can still name a word, a link, a
// string or an order entry outside its table: each such value is refused with
// its record's group, as a damaged record is. The files are written from a
// store patched after compiling, so every record carries a correct checksum.
TEST(McdFile, IndicesOutsideTheirTables) {
    scratch_folder dir;
    configuration_store_t& cs = configuration_store;
    struct index_case {
        const char* what;
        void (*patch)(configuration_store_t&);
        int status;
    };
    const index_case cases[] = {
        {"link past the words", [](configuration_store_t& s) { s.wrdlnk[1] = MAXWORDS + 1; }, 6010},
        {"link to word 0", [](configuration_store_t& s) { s.wrdlnk[2] = 0; }, 6010},
        {"link to no word", [](configuration_store_t& s) { s.wrdlnk[1] = NO_WORD; }, 0},
        {"order entry past the words", [](configuration_store_t& s) { s.wrdrut[3] = MAXWORDS + 1; }, 8010},
        {"order entry 0", [](configuration_store_t& s) { s.wrdrut[1] = 0; }, 8010},
        {"order entry -1", [](configuration_store_t& s) { s.wrdrut[5] = -1; }, 8010},
        {"key of word 0", [](configuration_store_t& s) { s.key[8] = 0; }, 10010},
        {"key past the words", [](configuration_store_t& s) { s.key[NUMKEYS] = MAXWORDS + 1; }, 10010},
        {"key of no word", [](configuration_store_t& s) { s.key[8] = NO_WORD; }, 0},
        {"code of word 0", [](configuration_store_t& s) { s.icodes[1][1] = 0; }, 11010},
        {"code past the words", [](configuration_store_t& s) { s.icodes[1][NUMCODES] = MAXWORDS + 1; }, 11010},
        {"code of no word", [](configuration_store_t& s) { s.icodes[1][2] = NO_WORD; }, 0},
        {"string past the block's strings",
         [](configuration_store_t& s) { s.block_items[1][1].string_ref = 10 * (MAXITEMS + 1); }, 16010},
        {"negative string reference", [](configuration_store_t& s) { s.block_items[2][1].string_ref = -10; }, 16010},
        {"string of an unused item",
         [](configuration_store_t& s) { s.block_items[64][MAXITEMS].string_ref = 10 * (MAXITEMS + 1) + 1; }, 16010},
        {"last string, line continues",
         [](configuration_store_t& s) { s.block_items[1][1].string_ref = 10 * MAXITEMS + 1; }, 0},
    };
    for (const index_case& c : cases) {
        ASSERT_EQ(compile(RICH_CONTROL).exit_code, -1);
        cs.active_word_count = cs.NGPS;
        c.patch(cs);
        int status = -1;
        write_mcd_file(status);
        ASSERT_EQ(status, 0) << c.what;
        const read_outcome r = read_back("ctl.mcd", "ctl");
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.stopped, -1) << c.what;
        EXPECT_EQ(r.messages, std::string(MCD_VERSION_TEXT) + "\n") << c.what;
    }
}

TEST(McdFile, OlderLayout) {
    scratch_folder dir;
    // An older file: 20 list columns, 17 blocks of 64 strings and items, and
    // (version ending in 16) 622 reserved integers. The first item's string
    // reference is given.
    auto older_file = [](int first_ref) {
        return written([first_ref](int u) {
            write_mcd_string(u, text<38>("Quilor Kelvaron MCD File Version 1.016"));
            write_mcd_string(u, text<40>("old"));
            write_mcd_integers(u, std::vector<int>{1, 0});
            for (int i = 1; i <= 20; ++i) write_mcd_string(u, text<132>(i == 2 ? "Old machine" : ""));
            std::vector<int> intsp(150, 0);
            intsp[22] = 7;
            write_mcd_integers(u, intsp);
            write_mcd_reals(u, std::vector<double>(40, 2.0));
            for (int j = 1; j <= 20; ++j) write_mcd_reals(u, std::vector<double>(10, j));
            for (int c = 1; c <= 17; ++c) write_mcd_integers(u, std::vector<int>{c});
            write_mcd_integers(u, std::vector<int>{-99});
            write_mcd_integers(u, std::vector<int>{1});
            write_mcd_integers(u, std::vector<int>{1});
            write_mcd_string(u, text<128>("Q"));
            write_mcd_integers(u, std::vector<int>(80, 95));
            write_mcd_integers(u, std::vector<int>(95, 1));
            write_mcd_integers(u, std::vector<int>(95, -1));
            for (int n = 1; n <= 95; ++n) write_mcd_string(u, text<24>());
            std::vector<int> lengths(17, 0);
            lengths[0] = 1;
            write_mcd_integers(u, lengths);
            for (int b = 1; b <= 17; ++b) {
                for (int s = 1; s <= 64; ++s) write_mcd_string(u, text<120>(b == 1 && s == 1 ? "%" : ""));
                std::vector<int> code(64, 0), value(64, 0), ref(64, 0);
                if (b == 1) {
                    code[0] = LITERAL_ITEM;
                    ref[0] = first_ref;
                }
                write_mcd_integers(u, code);
                write_mcd_integers(u, value);
                write_mcd_integers(u, ref);
            }
            write_mcd_string(u, text<40>("Q_"));
            write_mcd_integers(u, std::vector<int>(622, 3));
            write_mcd_reals(u, std::vector<double>(80, 0.0));
        });
    };
    write_file("old.mcd", with_file_checksum(older_file(10)));
    const read_outcome r = read_back("old.mcd", "old");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.messages, "Quilor Kelvaron MCD File Version 1.016\n");
    const configuration_store_t& cs = configuration_store;
    EXPECT_EQ(cs.NGPS, 1);
    EXPECT_EQ(cs.gpnams[1].str(), "Q");
    EXPECT_EQ(cs.spchar[2].str(), "Old machine");
    EXPECT_EQ(cs.intsp[23], 7);
    EXPECT_EQ(avals(10, 20), 20.0);
    EXPECT_EQ(avals(1, 21), 0.0);  // not in an older file: as the defaults left it
    EXPECT_EQ(cs.word_formats[1][17], 17);
    EXPECT_EQ(cs.blklen[1], 1);
    EXPECT_EQ(cs.block_items[1][1].code, LITERAL_ITEM);
    EXPECT_EQ(cs.block_texts[1][1].str(), "%");
    EXPECT_EQ(mcd_reserved.ints[622], 3);

    // A block of an older file holds 64 strings: string 65 is not in it.
    write_file("old.mcd", with_file_checksum(older_file(10 * (MCD_OLD_ITEMS + 1))));
    EXPECT_EQ(read_back("old.mcd", "old").status, 16010);
}

TEST(McdFile, WriteFailures) {
    scratch_folder dir;
    // No control name: no file name to write to.
    ASSERT_EQ(compile("machine x\nend\n").exit_code, -1);
    configuration_store.gpnams[0].clear();
    int status = 0;
    testing::internal::CaptureStderr();
    write_mcd_file(status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not open MCD file for writing\n");
    EXPECT_NE(status, 0);

    // A name that is taken by a folder.
    ASSERT_EQ(mkdir("taken.mcd", 0755), 0);
    configuration_store.gpnams[0].set("taken");
    testing::internal::CaptureStderr();
    write_mcd_file(status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not open MCD file for writing\n");
    EXPECT_NE(status, 0);

    // A control name that would put the file in another folder is refused,
    // whatever that folder holds.
    for (const char* name : {"missing/ctl", "../ctl", "/tmp/ctl", "~/ctl", "sub\\ctl", "c:ctl"}) {
        configuration_store.gpnams[0].set(name);
        testing::internal::CaptureStderr();
        write_mcd_file(status);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Error: control name \"" + std::string(name) +
                      "\" holds a folder; an MCD file is written in the current folder only\n");
        EXPECT_NE(status, 0);
    }

    // A file that opens but cannot take the data: not reported as written.
    ASSERT_EQ(symlink("/dev/full", "full.mcd"), 0);
    configuration_store.gpnams[0].set("full");
    testing::internal::CaptureStderr();
    write_mcd_file(status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to write character string to unit\n");
    EXPECT_NE(status, 0);
}