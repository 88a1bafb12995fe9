// Writes cutfile records in each of the six layouts, byte for byte as the
// reader expects them; shared by the writer tool, the benchmark and the tests.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cutfile_writer {

// One record word: an integer, a real or a character.
struct word {
    char kind;  // 'i', 'r' or 'c'
    int i = 0;
    double r = 0.0;
    char c = ' ';
};
using record = std::vector<word>;

inline word iw(int v) { return {'i', v, 0.0, ' '}; }
inline word rw(double v) { return {'r', 0, v, ' '}; }
inline word cw(char v) { return {'c', 0, 0.0, v}; }

// Record number, class and subclass, then the data words.
inline record make_record(int number, int cls, int sub, std::vector<word> data = {}) {
    record r{iw(number), iw(cls), iw(sub)};
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

inline void add_text(record& r, const std::string& s) {
    for (char ch : s) r.push_back(cw(ch));
}

// The ASCII layout's header widths and line shape.
struct ascii_style {
    int int_width = 5;
    int real_int_digits = 5;
    int real_decimals = 2;
    int char_width = 1;  // each A field carries this many characters
    char delimiter = '$';
    bool crlf = false;
    int line_limit = 72;      // a record continues on further lines beyond this
    bool final_newline = true;
};

inline std::string ascii_header(const ascii_style& s) {
    std::string f = std::to_string(s.real_int_digits);
    const std::string d = std::to_string(s.real_decimals);
    f += (s.real_int_digits >= 10 || s.real_decimals >= 10) && d.size() < 2 ? "0" + d : d;
    return std::string(1, s.delimiter) + "I" + std::to_string(s.int_width) + "F" + f + "A" +
           std::to_string(s.char_width) + std::string(1, s.delimiter);
}

namespace detail {
inline void put_bytes(std::string& out, std::uint64_t v, int size, bool big) {
    for (int k = 0; k < size; ++k) {
        const int shift = big ? 8 * (size - 1 - k) : 8 * k;
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

// A stored word of `size` bytes: an integer in its first 2 (4-byte words) or
// 4 (8-byte words) bytes, a character in its first byte, a real filling it.
inline void put_word(std::string& out, const word& w, int size, bool big) {
    const int int_size = size == 4 ? 2 : 4;
    switch (w.kind) {
    case 'i':
        put_bytes(out, static_cast<std::uint32_t>(w.i) & (int_size == 2 ? 0xFFFFu : 0xFFFFFFFFu), int_size, big);
        out.append(static_cast<std::size_t>(size - int_size), '\0');
        break;
    case 'r':
        if (size == 4)
            put_bytes(out, std::bit_cast<std::uint32_t>(static_cast<float>(w.r)), 4, big);
        else
            put_bytes(out, std::bit_cast<std::uint64_t>(w.r), 8, big);
        break;
    default:
        out.push_back(w.c);
        out.append(static_cast<std::size_t>(size - 1), '\0');
        break;
    }
}

inline void put_marked(std::string& out, const record& r, int size, bool big) {
    const int count_size = size == 4 ? 2 : 4;
    const std::uint32_t marker = static_cast<std::uint32_t>(count_size + size * static_cast<int>(r.size()));
    put_bytes(out, marker, 4, big);
    put_bytes(out, r.size(), count_size, big);
    for (const word& w : r) put_word(out, w, size, big);
    put_bytes(out, marker, 4, big);
}

// Layout 1: the count and the 4-byte words as one byte stream, cut into
// segments of 128 bytes, each but the last with a length byte above 128.
inline void put_segmented(std::string& out, const record& r) {
    std::string body;
    put_bytes(body, r.size(), 2, false);
    for (const word& w : r) put_word(body, w, 4, false);
    std::size_t pos = 0;
    do {
        const std::size_t left = body.size() - pos;
        const bool more = left > 128;
        const std::size_t n = more ? 128 : left;
        out.push_back('\0');
        out.push_back(static_cast<char>(more ? 129 : n));
        out.append(body, pos, n);
        pos += n;
    } while (pos < body.size());
}

inline std::string ascii_field(const word& w, const ascii_style& s) {
    char buf[64];
    switch (w.kind) {
    case 'i': std::snprintf(buf, sizeof buf, "I%*d", s.int_width, w.i); break;
    case 'r':
        std::snprintf(buf, sizeof buf, "F%*.*f", s.real_int_digits + s.real_decimals + 2, s.real_decimals, w.r);
        break;
    default: std::snprintf(buf, sizeof buf, "A%c", w.c); break;
    }
    return buf;
}

inline void put_ascii(std::string& out, const record& r, int seq, const ascii_style& s) {
    const char* eol = s.crlf ? "\r\n" : "\n";
    char num[32];
    std::snprintf(num, sizeof num, "I%*d", s.int_width, seq % 10000);
    std::string line = num;  // the line number in column 1, not a record word
    for (std::size_t k = 0; k < r.size(); ++k) {
        std::string f;
        if (r[k].kind == 'c' && s.char_width > 1) {
            // Characters go in A fields of char_width, the last padded with blanks
            // only when the record ends there.
            f = "A";
            std::size_t j = k;
            for (; j < r.size() && j < k + static_cast<std::size_t>(s.char_width) && r[j].kind == 'c'; ++j) f += r[j].c;
            if (f.size() - 1 < static_cast<std::size_t>(s.char_width)) return;  // not representable
            k = j - 1;
        } else {
            f = ascii_field(r[k], s);
        }
        if (line.size() + f.size() > static_cast<std::size_t>(s.line_limit)) {
            out += line;
            out += eol;
            line.clear();
        }
        line += f;
    }
    out += line;
    out += s.delimiter;
    out += eol;
}
}  // namespace detail

// Appends one record in the layout (1..6); seq numbers the ASCII lines.
inline void encode_record(std::string& out, const record& r, int layout, int seq, const ascii_style& s = {}) {
    switch (layout) {
    case 1: detail::put_segmented(out, r); break;
    case 2: detail::put_marked(out, r, 4, false); break;
    case 3: detail::put_marked(out, r, 8, false); break;
    case 4: detail::put_ascii(out, r, seq, s); break;
    case 5: detail::put_marked(out, r, 4, true); break;
    case 6: detail::put_marked(out, r, 8, true); break;
    default: break;
    }
}

inline std::string encode(const std::vector<record>& records, int layout, const ascii_style& s = {}) {
    std::string out;
    if (layout == 4) out += ascii_header(s) + (s.crlf ? "\r\n" : "\n");
    int seq = 0;
    for (const record& r : records) encode_record(out, r, layout, ++seq, s);
    if (layout == 4 && !s.final_newline) {
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    }
    return out;
}

inline bool write_file(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// A GOTO record: three coordinates, exact in single precision and in F fields
// of two decimals.
inline record goto_record(int number, int i) {
    return make_record(number, 5000, 5, {iw(0), iw(0), rw(0.25 * (i % 4000)), rw(-1.5 - 0.25 * (i % 300)), rw(10.75)});
}

// Records of every kind of word: text, integers, reals of both signs, a
// record of 40 words (two native segments), one of the 245-word maximum (two
// ASCII lines and more), and the end record last.
inline std::vector<record> sample_records() {
    std::vector<record> v;
    int n = 0;
    record partno = make_record(++n, 2000, 1045);
    add_text(partno, "FLANGE MILL2");
    v.push_back(partno);
    v.push_back(make_record(++n, 9000, 9, {iw(171)}));
    v.push_back(make_record(++n, 2000, 1055, {rw(12.0), rw(0.0), rw(75.5), rw(0.0), rw(10.0), rw(0.0), rw(3.0), rw(3.0)}));
    v.push_back(make_record(++n, 5000, 3, {iw(0), iw(0), rw(0.0), rw(0.0), rw(50.0)}));
    record points = make_record(++n, 5000, 5, {iw(0), iw(0)});
    for (int k = 0; points.size() < 40; ++k) points.push_back(rw(-20.0 + 0.5 * k));
    v.push_back(points);
    v.push_back(make_record(++n, 2000, 1009, {iw(315), rw(250.0)}));
    record big = make_record(++n, 5000, 5, {iw(0), iw(0)});
    for (int k = 0; big.size() < 245; ++k) big.push_back(k % 7 == 3 ? iw(-k) : rw(1234.75 - 3.25 * k));
    v.push_back(big);
    record text = make_record(++n, 2000, 1079);
    add_text(text, "FEDRAT/ 5000, 200, 1000.");
    v.push_back(text);
    v.push_back(make_record(++n, 2000, 1, {iw(-9999), iw(32767)}));
    v.push_back(make_record(++n, 14000, 0));
    return v;
}

}  // namespace cutfile_writer
