// Times whole posts of a three-axis raster job of N points against the work
// floor: a minimal program that only parses the same GOTO fields and writes
// one modal "G1X..Y..Z.." line a point with three decimals. A benchmark, not a
// test:
//
//   bench_post [options] [N ...]          (N defaults to 1000000)
//     --controls standard,fanuc           built-in controls to post with
//     --layouts ascii,binary              ASCII layout 4 and binary layout 6
//     --records single,multi              one point a GOTO record, or 80
//     --repeat R                          best of R runs each (default 3)
//     --kelvaron PATH                     the program to time (default: the build's)
//     --keep DIR                          write the jobs and outputs there and keep them
//     --startup                           the start-up figure only
//
// First comes the start-up figure: the median wall and processor time of
// STARTUP_RUNS runs of "kelvaron -l" and of a job of STARTUP_JOB_RECORDS
// records with each control, and the largest peak memory of those runs. Most
// real jobs are small, so this is most of their time.
//
// For each N, layout and record shape it writes the job (part number, units,
// tool, FROM, FEDRAT, then the GOTO points), runs the floor and then kelvaron
// with each control on the same file as child processes, and prints wall
// and processor time, points a second, the ratios to the floor's times and
// the peak resident memory of each run. Several N show whether memory stays
// flat as the job grows.
//
// The floor ("floor", the reference of the ratio) is written the plain way:
// lines through fgets, fields through strtod, coordinates through printf's
// "%.3f". A second, hand-tuned floor ("floor-min": one big read buffer, its
// own digit loops, one buffered write) shows how close to the bare reading and
// writing a post could come.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cutfile_writer.h"

#ifndef KELVARON_EXE
#define KELVARON_EXE "kelvaron"
#endif

namespace {

using namespace cutfile_writer;
namespace fs = std::filesystem;

constexpr int POINTS_PER_MULTI_RECORD = 80;  // 5 + 3 x 80 = 245 words, the record maximum
constexpr int RASTER_ROW = 1000;             // points a raster row
constexpr int STARTUP_RUNS = 20;             // runs of each start-up figure, their median shown
constexpr long STARTUP_JOB_RECORDS = 10;     // the small job: 6 records around its GOTOs
constexpr long JOB_RECORDS_BESIDE_POINTS = 6;  // part number, units, tool, FROM, FEDRAT, FINI

// ---------------------------------------------------------------------------
// The job.

struct raster_point {
    double x, y, z;
};

double three_decimals(double v) { return static_cast<double>(std::llround(v * 1000.0)) / 1000.0; }

// A zig-zag raster over a gently curved surface: X changes at every point, Y
// at every row, Z at nearly every point.
raster_point raster(long p) {
    const long row = p / RASTER_ROW;
    const long col = p % RASTER_ROW;
    const double x = 0.1 * static_cast<double>(row % 2 == 0 ? col : RASTER_ROW - 1 - col);
    const double y = 0.25 * static_cast<double>(row % 400);
    const double z = -5.0 + 2.0 * std::sin(x / 7.0) * std::cos(y / 5.0);
    return {three_decimals(x), three_decimals(y), three_decimals(z)};
}

class job_writer {
public:
    job_writer(std::FILE* f, int layout, const ascii_style& style) : f_(f), layout_(layout), style_(style) {
        if (layout_ == 4) buffer_ = ascii_header(style_) + "\n";
    }
    void add(const record& r) {
        encode_record(buffer_, r, layout_, static_cast<int>(r[0].i), style_);
        if (buffer_.size() > (1u << 20)) flush();
    }
    bool flush() {
        const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), f_) == buffer_.size();
        buffer_.clear();
        return ok;
    }

private:
    std::FILE* f_;
    int layout_;
    ascii_style style_;
    std::string buffer_;
};

bool write_job(const std::string& path, int layout, long points, bool multi) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    ascii_style style;
    // $I6F94A1$ while the record numbers fit in six digits, wider beyond.
    const long records = points + 8;
    style.int_width = records < 1000000 ? 6 : 8;
    style.real_int_digits = 9;
    style.real_decimals = 4;
    style.line_limit = 80;
    job_writer w(f, layout, style);
    int n = 0;
    record partno = make_record(++n, 2000, 1045);
    add_text(partno, "RASTER");
    w.add(partno);
    w.add(make_record(++n, 9000, 9, {iw(171)}));
    w.add(make_record(++n, 2000, 1055, {rw(1), rw(0), rw(50), rw(0), rw(6), rw(0), rw(1), rw(1)}));
    w.add(make_record(++n, 5000, 3, {iw(0), iw(0), rw(0), rw(0), rw(50)}));
    w.add(make_record(++n, 2000, 1009, {rw(2500), iw(315)}));
    const int per_record = multi ? POINTS_PER_MULTI_RECORD : 1;
    for (long p = 0; p < points;) {
        record r = make_record(++n, 5000, 5, {iw(0), iw(0)});
        for (int k = 0; k < per_record && p < points; ++k, ++p) {
            const raster_point q = raster(p);
            r.push_back(rw(q.x));
            r.push_back(rw(q.y));
            r.push_back(rw(q.z));
        }
        w.add(r);
    }
    w.add(make_record(++n, 14000, 0));
    const bool ok = w.flush();
    return std::fclose(f) == 0 && ok;
}

// ---------------------------------------------------------------------------
// The work floor: parse the GOTO fields, write modal G1 lines.

constexpr double TENS[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

class floor_output {
public:
    floor_output(std::FILE* f, bool plain) : f_(f), plain_(plain) {}
    ~floor_output() { flush(); }
    void point(double x, double y, double z) {
        const long long v[3] = {std::llround(x * 1000.0), std::llround(y * 1000.0), std::llround(z * 1000.0)};
        if (plain_) {
            // The plain way: each coordinate through printf's "%.3f", each line through fputs.
            const double q[3] = {x, y, z};
            char line[128];
            int len = 0;
            if (first_) len = std::snprintf(line, sizeof line, "G1");
            for (int a = 0; a < 3; ++a) {
                if (!first_ && v[a] == last_[a]) continue;
                last_[a] = v[a];
                len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "%c%.3f", "XYZ"[a], q[a]);
            }
            first_ = false;
            if (len == 0) return;
            line[len++] = '\n';
            line[len] = '\0';
            std::fputs(line, f_);
            ++lines;
            return;
        }
        if (size_ > sizeof buffer_ - 128) flush();
        char* p = buffer_ + size_;
        char* const start = p;
        if (first_) {
            *p++ = 'G';
            *p++ = '1';
        }
        static const char axis[3] = {'X', 'Y', 'Z'};
        for (int a = 0; a < 3; ++a) {
            if (!first_ && v[a] == last_[a]) continue;
            last_[a] = v[a];
            *p++ = axis[a];
            p = put_fixed3(p, v[a]);
        }
        first_ = false;
        if (p == start) return;  // nothing moved
        *p++ = '\n';
        size_ += static_cast<std::size_t>(p - start);
        ++lines;
    }
    void flush() {
        std::fwrite(buffer_, 1, size_, f_);
        size_ = 0;
    }
    long lines = 0;

private:
    static char* put_fixed3(char* p, long long v) {
        if (v < 0) {
            *p++ = '-';
            v = -v;
        }
        char digits[24];
        int n = 0;
        long long whole = v / 1000;
        do {
            digits[n++] = static_cast<char>('0' + whole % 10);
            whole /= 10;
        } while (whole != 0);
        while (n > 0) *p++ = digits[--n];
        const int frac = static_cast<int>(v % 1000);
        *p++ = '.';
        *p++ = static_cast<char>('0' + frac / 100);
        *p++ = static_cast<char>('0' + frac / 10 % 10);
        *p++ = static_cast<char>('0' + frac % 10);
        return p;
    }
    std::FILE* f_;
    bool plain_;
    char buffer_[1 << 16];
    std::size_t size_ = 0;
    bool first_ = true;
    long long last_[3] = {0, 0, 0};
};

// ASCII fields: I (integer), F (real, implied decimals), A (characters).
// The plain way copies the field and converts it with strtod.
double floor_real_plain(const char* s, int width, int decimals) {
    char field[64];
    const int n = std::min(width, 63);
    std::memcpy(field, s, static_cast<std::size_t>(n));
    field[n] = '\0';
    const double v = std::strtod(field, nullptr);
    return std::memchr(field, '.', static_cast<std::size_t>(n)) != nullptr ? v : v / std::pow(10.0, decimals);
}

double floor_real(const char* s, int width, int decimals) {
    int i = 0;
    while (i < width && s[i] == ' ') ++i;
    bool negative = false;
    if (i < width && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    std::uint64_t digits = 0;
    int after = -1;
    for (; i < width; ++i) {
        if (s[i] == '.') {
            after = 0;
        } else {
            digits = digits * 10 + static_cast<std::uint64_t>(s[i] - '0');
            if (after >= 0) ++after;
        }
    }
    const double v = static_cast<double>(digits) / TENS[after >= 0 ? after : decimals];
    return negative ? -v : v;
}

long floor_int(const char* s, int width) {
    long v = 0;
    bool negative = false;
    for (int i = 0; i < width; ++i) {
        if (s[i] == '-') negative = true;
        if (s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i] - '0');
    }
    return negative ? -v : v;
}

struct floor_record {
    long ints[3] = {0, 0, 0};  // record number, class, subclass
    int words = 0;
    std::vector<double> reals;  // the real words in order
};

void floor_goto(const floor_record& r, floor_output& out) {
    if (r.ints[1] != 5000 || r.ints[2] != 5) return;
    for (std::size_t k = 0; k + 2 < r.reals.size(); k += 3) out.point(r.reals[k], r.reals[k + 1], r.reals[k + 2]);
}

long floor_ascii(std::FILE* in, floor_output& out, bool plain) {
    std::vector<char> data(1 << 20);
    std::size_t have = 0;
    int int_width = 0, real_width = 0, decimals = 0, char_width = 1;
    char delimiter = '$';
    bool header = true;
    floor_record r;
    r.reals.reserve(256);
    auto line = [&](const char* s, int len) {
        if (header) {
            // $I6F94A1$: I width, F digits before and after the point, A width.
            delimiter = s[0];
            int c = 2;
            auto number = [&](int& v) {
                v = 0;
                int n = 0;
                while (c < len && s[c] >= '0' && s[c] <= '9') v = v * 10 + (s[c++] - '0'), ++n;
                return n;
            };
            number(int_width);
            ++c;
            int f = 0;
            const int fn = number(f);
            const int div = fn == 2 ? 10 : 100;
            decimals = f % div;
            real_width = f / div + decimals + 2;
            ++c;
            number(char_width);
            header = false;
            return;
        }
        for (int c = 0; c < len;) {
            const char ch = s[c];
            if (ch == ' ') break;
            if (ch == delimiter) {
                floor_goto(r, out);
                r.words = 0;
                r.reals.clear();
                break;
            }
            if (ch == 'I') {
                if (!(r.words == 0 && c == 0)) {
                    if (r.words < 3) r.ints[r.words] = floor_int(s + c + 1, int_width);
                    ++r.words;
                }
                c += 1 + int_width;
            } else if (ch == 'F') {
                r.reals.push_back(plain ? floor_real_plain(s + c + 1, real_width, decimals)
                                        : floor_real(s + c + 1, real_width, decimals));
                ++r.words;
                c += 1 + real_width;
            } else {
                ++r.words;
                c += 1 + char_width;
            }
        }
    };
    if (plain) {
        // Line by line through fgets.
        char text[512];
        while (std::fgets(text, sizeof text, in) != nullptr) {
            int len = static_cast<int>(std::strlen(text));
            while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
            line(text, len);
        }
        return out.lines;
    }
    for (;;) {
        const std::size_t got = std::fread(data.data() + have, 1, data.size() - have, in);
        have += got;
        std::size_t start = 0;
        for (;;) {
            const void* nl = std::memchr(data.data() + start, '\n', have - start);
            if (nl == nullptr) break;
            const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nl) - data.data());
            line(data.data() + start, static_cast<int>(end - start));
            start = end + 1;
        }
        std::memmove(data.data(), data.data() + start, have - start);
        have -= start;
        if (got == 0) break;
    }
    return out.lines;
}

std::uint64_t be(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// Layout 6: big-endian markers, a 32-bit count, 8-byte words.
long floor_binary(std::FILE* in, floor_output& out) {
    unsigned char head[8];
    std::vector<unsigned char> words(245 * 8 + 4);
    floor_record r;
    r.reals.reserve(256);
    while (std::fread(head, 1, 8, in) == 8) {
        const int count = static_cast<int>(be(head + 4, 4));
        if (count < 3 || count > 245) return -1;
        if (std::fread(words.data(), 1, static_cast<std::size_t>(count) * 8 + 4, in) != static_cast<std::size_t>(count) * 8 + 4)
            return -1;
        for (int k = 0; k < 3; ++k) r.ints[k] = static_cast<std::int32_t>(be(words.data() + 8 * k, 4));
        r.reals.clear();
        if (r.ints[1] == 5000 && r.ints[2] == 5) {
            for (int k = 5; k < count; ++k) r.reals.push_back(std::bit_cast<double>(be(words.data() + 8 * k, 8)));
            floor_goto(r, out);
        }
    }
    return out.lines;
}

int run_floor(const char* kind, const char* layout, const char* in_path, const char* out_path) {
    const bool plain = std::strcmp(kind, "plain") == 0;
    std::FILE* in = std::fopen(in_path, "rb");
    std::FILE* out = std::fopen(out_path, "wb");
    if (in == nullptr || out == nullptr) return 1;
    long lines = 0;
    {
        floor_output o(out, plain);
        lines = std::strcmp(layout, "ascii") == 0 ? floor_ascii(in, o, plain) : floor_binary(in, o);
    }
    std::fclose(in);
    return std::fclose(out) == 0 && lines > 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Timed child processes.

struct run_result {
    bool ok = false;
    double wall = 0.0;  // seconds
    double cpu = 0.0;   // user + system seconds
    long peak_kb = 0;
};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); }

// The child reads the file "stdin" of its folder (the program number that
// some controls ask for) and writes its standard output and error to files.
run_result run_child(const std::vector<std::string>& argv, const std::string& dir, const std::string& stdout_path,
                     const std::string& stderr_path) {
    run_result res;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return res;
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        const int in = open("stdin", O_RDONLY);
        const int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return res;
    res.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    res.cpu = seconds(ru.ru_utime) + seconds(ru.ru_stime);
    res.peak_kb = ru.ru_maxrss;
    res.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return res;
}

run_result best_of(int repeat, const std::vector<std::string>& argv, const std::string& dir, const std::string& out,
                   const std::string& err) {
    run_result best;
    for (int i = 0; i < repeat; ++i) {
        const run_result r = run_child(argv, dir, out, err);
        if (!r.ok) return r;
        if (i == 0 || r.wall < best.wall) best = r;
    }
    return best;
}

long count_lines(const fs::path& p) {
    std::FILE* f = std::fopen(p.c_str(), "rb");
    if (f == nullptr) return -1;
    char buf[1 << 16];
    long n = 0;
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) n += std::count(buf, buf + got, '\n');
    std::fclose(f);
    return n;
}

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> v;
    std::size_t pos = 0;
    while (pos <= s.size()) {
        const std::size_t comma = s.find(',', pos);
        const std::size_t end = comma == std::string::npos ? s.size() : comma;
        if (end > pos) v.push_back(s.substr(pos, end - pos));
        pos = end + 1;
    }
    return v;
}

void print_row(const char* layout, const char* shape, long n, const std::string& who, const run_result& r,
               const run_result& floor, long lines) {
    std::printf("%-6s %-6s %8ld  %-9s %7.3f %7.3f %10.0f %6.2f %6.2f %8.1f %9ld\n", layout, shape, n, who.c_str(),
                r.wall, r.cpu, static_cast<double>(n) / r.wall, r.wall / floor.wall, r.cpu / floor.cpu,
                static_cast<double>(r.peak_kb) / 1024.0, lines);
}

// The median of STARTUP_RUNS runs (wall and processor time each on its own)
// and the largest peak memory among them.
run_result median_of_runs(const std::vector<std::string>& argv, const std::string& dir) {
    std::vector<double> wall, cpu;
    run_result res;
    for (int i = 0; i < STARTUP_RUNS; ++i) {
        const run_result r = run_child(argv, dir, dir + "/stdout", dir + "/stderr");
        if (!r.ok) return r;
        wall.push_back(r.wall);
        cpu.push_back(r.cpu);
        res.peak_kb = std::max(res.peak_kb, r.peak_kb);
    }
    const auto median = [](std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
    };
    res.ok = true;
    res.wall = median(wall);
    res.cpu = median(cpu);
    return res;
}

// "kelvaron -l" and a job of STARTUP_JOB_RECORDS records with each control.
int startup_figure(const std::string& kelvaron, const std::vector<std::string>& controls, const fs::path& root) {
    const fs::path dir = root / "startup";
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!write_job((dir / "job.cut").string(), 4, STARTUP_JOB_RECORDS - JOB_RECORDS_BESIDE_POINTS, false)) {
        std::fprintf(stderr, "bench_post: cannot write %s\n", (dir / "job.cut").c_str());
        return 1;
    }
    if (std::FILE* answers = std::fopen((dir / "stdin").c_str(), "w")) {
        std::fputs("1234\n", answers);
        std::fclose(answers);
    }
    std::printf("start-up: median of %d runs, wall and processor (user + system) time; peak = the largest\n"
                "peak resident memory of those runs\n\n%-24s %9s %9s %8s\n",
                STARTUP_RUNS, "run", "wall ms", "cpu ms", "peak MB");
    int failures = 0;
    const auto row = [&](const std::string& label, const std::vector<std::string>& argv) {
        const run_result r = median_of_runs(argv, dir.string());
        if (!r.ok) {
            std::printf("%-24s failed: see %s\n", label.c_str(), (dir / "stderr").c_str());
            ++failures;
            return;
        }
        std::printf("%-24s %9.2f %9.2f %8.1f\n", label.c_str(), 1000.0 * r.wall, 1000.0 * r.cpu,
                    static_cast<double>(r.peak_kb) / 1024.0);
    };
    row("-l", {kelvaron, "-l"});
    for (const std::string& control : controls)
        row(control + ", " + std::to_string(STARTUP_JOB_RECORDS) + " records", {kelvaron, control, "job.cut"});
    std::printf("\n");
    std::fflush(stdout);
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--floor") == 0) return run_floor(argv[2], argv[3], argv[4], argv[5]);

    std::vector<std::string> controls{"standard", "fanuc"};
    std::vector<std::string> layouts{"ascii", "binary"};
    std::vector<std::string> shapes{"single", "multi"};
    std::vector<long> sizes;
    int repeat = 3;
    std::string kelvaron = KELVARON_EXE;
    std::string keep;
    bool startup_only = false;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        const bool has_value = a + 1 < argc;
        if (arg == "--controls" && has_value) controls = split(argv[++a]);
        else if (arg == "--layouts" && has_value) layouts = split(argv[++a]);
        else if (arg == "--records" && has_value) shapes = split(argv[++a]);
        else if (arg == "--repeat" && has_value) repeat = std::max(1, std::atoi(argv[++a]));
        else if (arg == "--kelvaron" && has_value) kelvaron = argv[++a];
        else if (arg == "--keep" && has_value) keep = argv[++a];
        else if (arg == "--startup") startup_only = true;
        else if (!arg.empty() && arg[0] != '-' && std::atol(arg.c_str()) > 0) sizes.push_back(std::atol(arg.c_str()));
        else {
            std::fprintf(stderr, "bench_post: unknown argument %s (see the comment at the top of bench_post.cpp)\n", arg.c_str());
            return 2;
        }
    }
    if (sizes.empty() && !startup_only) sizes.push_back(1000000);
    kelvaron = fs::absolute(kelvaron).string();
    const std::string self = fs::canonical("/proc/self/exe").string();

    fs::path root = keep.empty() ? fs::temp_directory_path() / ("kv_bench_post_" + std::to_string(getpid())) : fs::path(keep);
    std::error_code ec;
    fs::create_directories(root, ec);
    root = fs::absolute(root);

    std::printf("kelvaron: %s\n\n", kelvaron.c_str());
    int failures = startup_figure(kelvaron, controls, root);
    if (startup_only) {
        if (keep.empty()) fs::remove_all(root, ec);
        return failures == 0 ? 0 : 1;
    }
    std::printf("best of %d runs (by wall time); x floor = time / the plain floor's time, wall and\n"
                "processor (user + system); peak = peak resident memory; lines = lines of the tape or floor output\n\n",
                repeat);
    std::printf("%-6s %-6s %8s  %-9s %7s %7s %10s %6s %6s %8s %9s\n", "layout", "record", "points", "run", "wall s",
                "cpu s", "points/s", "x wall", "x cpu", "peak MB", "lines");
    for (const long n : sizes) {
        for (const std::string& layout : layouts) {
            const bool ascii = layout == "ascii";
            if (!ascii && layout != "binary") {
                std::fprintf(stderr, "bench_post: unknown layout %s\n", layout.c_str());
                return 2;
            }
            for (const std::string& shape : shapes) {
                const bool multi = shape == "multi";
                const fs::path dir = root / (layout + "_" + shape + "_" + std::to_string(n));
                fs::create_directories(dir, ec);
                const fs::path job = dir / "job.cut";
                if (!write_job(job.string(), ascii ? 4 : 6, n, multi)) {
                    std::fprintf(stderr, "bench_post: cannot write %s\n", job.c_str());
                    return 1;
                }
                if (std::FILE* answers = std::fopen((dir / "stdin").c_str(), "w")) std::fclose(answers);
                run_result fl;
                for (const char* kind : {"plain", "tight"}) {
                    const run_result r =
                        best_of(repeat, {self, "--floor", kind, layout, job.string(), (dir / "floor.nc").string()},
                                dir.string(), (dir / "floor.out").string(), (dir / "floor.err").string());
                    if (!r.ok) {
                        std::fprintf(stderr, "bench_post: the %s floor failed on %s\n", kind, job.c_str());
                        return 1;
                    }
                    if (std::strcmp(kind, "plain") == 0) fl = r;
                    print_row(layout.c_str(), shape.c_str(), n, std::strcmp(kind, "plain") == 0 ? "floor" : "floor-min", r,
                              fl, count_lines(dir / "floor.nc"));
                }
                for (const std::string& control : controls) {
                    // Each control writes into a folder of its own.
                    const fs::path cdir = dir / control;
                    fs::create_directories(cdir, ec);
                    fs::remove(cdir / "job.cut", ec);
                    fs::create_symlink(job, cdir / "job.cut", ec);
                    if (std::FILE* answers = std::fopen((cdir / "stdin").c_str(), "w")) {
                        std::fputs("1234\n", answers);
                        std::fclose(answers);
                    }
                    const run_result r = best_of(repeat, {kelvaron, control, "job.cut"}, cdir.string(),
                                                 (cdir / "stdout").string(), (cdir / "stderr").string());
                    if (!r.ok) {
                        std::printf("%-6s %-6s %8ld  %-9s failed: see %s\n", layout.c_str(), shape.c_str(), n,
                                    control.c_str(), (cdir / "stderr").c_str());
                        ++failures;
                        continue;
                    }
                    print_row(layout.c_str(), shape.c_str(), n, control, r, fl, count_lines(cdir / "job.tap"));
                }
                std::fflush(stdout);
                if (keep.empty()) fs::remove_all(dir, ec);
            }
        }
    }
    if (keep.empty()) fs::remove_all(root, ec);
    return failures == 0 ? 0 : 1;
}
