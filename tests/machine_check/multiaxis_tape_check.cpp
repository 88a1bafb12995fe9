// Puts every block of multi-axis tapes back through a model of the machine
// and compares the tool tip and the tool axis with the cutfile. The model is
// this file's own, written from the machine definition (axis vectors, table
// and head centres, tool length, directions, units and offsets of the rotary
// words); it shares no code with the post-processor, which runs as the built
// program on an option file and a cutfile written here.
//
// Run as "multiaxis_tape_check <kelvaron>".
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cutfile_writer.h"

namespace {

std::string kelvaron_path;

// --- vectors -------------------------------------------------------------------

struct vec {
    double x = 0, y = 0, z = 0;
};
vec operator+(vec a, vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
vec operator-(vec a, vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
vec operator*(double s, vec a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(vec a, vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
vec cross(vec a, vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double norm(vec a) { return std::sqrt(dot(a, a)); }
vec unit(vec a) {
    const double n = norm(a);
    return n > 0 ? (1.0 / n) * a : a;
}
double angle_between(vec a, vec b) { return std::atan2(norm(cross(unit(a), unit(b))), dot(unit(a), unit(b))); }
std::string show(vec a) {
    char b[96];
    std::snprintf(b, sizeof b, "(%.4f, %.4f, %.4f)", a.x, a.y, a.z);
    return b;
}

constexpr double PI = 3.14159265358979323846;

// v turned by `degrees` about the unit axis u, right-handed (Rodrigues).
vec turn(vec u, double degrees, vec v) {
    const double t = degrees * PI / 180.0;
    const vec k = unit(u);
    return std::cos(t) * v + std::sin(t) * cross(k, v) + (dot(k, v) * (1.0 - std::cos(t))) * k;
}

// --- the machine -------------------------------------------------------------

enum class kind { table_table, head_table, head_head, uv_head };

// One rotary axis as its word carries it.
struct rotary_axis {
    char letter = 'B';
    vec vector;                 // zero: the machine has no such axis
    bool negative = false;      // "axis direction = negative": the word is the negated angle
    double diameter = 0;        // above 0: the word is the arc length on this diameter
    double offset = 0;          // degrees the word carries at the axis's zero
    // The offset is given as the length of the axis vector (which must lie
    // along X, Y or Z and be longer than 1) rather than by the part origin's
    // angles, which only head words carry.
    bool offset_by_vector = false;
};

struct machine {
    const char* name;
    kind k;
    rotary_axis azimuth, elevation;
    vec table_azimuth_centre, table_elevation_centre;  // points on the table axes
    vec head_elevation_pivot;   // head-head: elevation pivot above the spindle's gauge point
    vec head_azimuth_pivot;     // head-table: azimuth pivot above the gauge point
    vec pcs_origin;             // the part origin in table coordinates
    std::string extra;          // further option lines
    double pcs_turn = 0;        // table-table: the part turned by -pcs_turn about the elevation axis

    // The option file that defines this machine.
    std::string option_file() const {
        std::ostringstream o;
        o.setf(std::ios::fixed);
        o.precision(6);
        o << "machine fanuc\n";
        o << "define keys\n azimuth axis = " << azimuth.letter << "\n elevation axis = " << elevation.letter
          << "\nend define\n";
        auto triple = [&](const char* what, vec v) {
            o << what << " x = " << v.x << "\n" << what << " y = " << v.y << "\n" << what << " z = " << v.z << "\n";
        };
        auto axis_vector = [](const rotary_axis& a) { return a.offset_by_vector ? a.offset * a.vector : a.vector; };
        triple("table azimuth vector", axis_vector(azimuth));
        triple("table elevation vector", axis_vector(elevation));
        triple("table azimuth centre", table_azimuth_centre);
        triple("table elevation centre", table_elevation_centre);
        if (k == kind::head_table || k == kind::head_head || k == kind::uv_head) o << "spindle azimuth rotation = true\n";
        if (k == kind::head_head || k == kind::uv_head) o << "spindle elevation rotation = true\n";
        if (k == kind::head_table) triple("tool azimuth centre", head_azimuth_pivot);
        if (k == kind::head_head) triple("tool elevation centre", head_elevation_pivot);
        if (azimuth.negative) o << "azimuth axis direction = negative\n";
        if (elevation.negative) o << "elevation axis direction = negative\n";
        if (azimuth.diameter > 0) o << "azimuth axis units = linear units\ndiameter = " << azimuth.diameter << "\n";
        if (elevation.diameter > 0) o << "elevation axis units = linear units\ndiameter = " << elevation.diameter << "\n";
        // The offsets of head words are the angles of the part origin.
        auto head_offset = [](const rotary_axis& a) { return a.offset_by_vector ? 0.0 : a.offset; };
        o << "pcs origin = ( " << pcs_origin.x << " " << pcs_origin.y << " " << pcs_origin.z << " "
          << head_offset(azimuth) << " " << head_offset(elevation) << " " << pcs_turn << " )\n";
        o << "go home output = true\nwithdrawal amount = 20.0\n" << extra << "end\n";
        return o.str();
    }
};

// The physical angle (degrees) of an axis from its word.
double angle_of_word(const rotary_axis& a, double word) {
    double w = a.negative ? -word : word;
    if (a.diameter > 0) w = w * 360.0 / (PI * a.diameter);
    return w - a.offset;
}

double word_of_angle(const rotary_axis& a, double angle) {
    double w = angle + a.offset;
    if (a.diameter > 0) w = w * PI * a.diameter / 360.0;
    return a.negative ? -w : w;
}

struct pose {
    vec tip, axis;
};

// Where the tool tip is in the part, and which way the tool points, when the
// machine's axes stand at X, Y, Z and the two rotary words. The spindle's
// direction at zero angles is +Z; the tip lies `length` below the gauge point.
pose part_pose(const machine& m, vec xyz, double azimuth_word, double elevation_word, double length) {
    const double a = angle_of_word(m.azimuth, azimuth_word);
    const double e = angle_of_word(m.elevation, elevation_word);
    const vec av = m.azimuth.vector, ev = m.elevation.vector;
    const vec t0{0, 0, 1};
    const bool has_a = norm(av) > 0, has_e = norm(ev) > 0;
    auto by_a = [&](double s, vec v) { return has_a ? turn(av, s * a, v) : v; };
    auto by_e = [&](double s, vec v) { return has_e ? turn(ev, s * e, v) : v; };
    pose p;
    switch (m.k) {
    case kind::table_table: {
        // The part sits on the elevation table, carried by the azimuth table;
        // a table that turns by +angle turns the part by -angle about its
        // axis line. Undo the azimuth table, then the elevation table.
        const vec on_elevation_table = m.table_azimuth_centre + by_a(1, xyz - m.table_azimuth_centre);
        p.tip = m.table_elevation_centre + by_e(1, on_elevation_table - m.table_elevation_centre) - m.pcs_origin;
        p.axis = by_e(1, by_a(1, t0));
        // The part's own frame, turned on the table.
        p.tip = turn(ev, m.pcs_turn, p.tip);
        p.axis = turn(ev, m.pcs_turn, p.axis);
        break;
    }
    case kind::head_table: {
        // X, Y, Z place the head's azimuth pivot; the tool hangs from it and
        // turns with the head by +angle. The part turns with the elevation table.
        const vec tip_machine = xyz - by_a(1, m.head_azimuth_pivot + length * t0);
        p.tip = m.table_elevation_centre + by_e(1, tip_machine - m.table_elevation_centre) - m.pcs_origin;
        p.axis = by_e(1, by_a(1, t0));
        break;
    }
    case kind::head_head:
        // X, Y, Z place the elevation pivot, through which the azimuth axis
        // runs; the elevation head hangs from the azimuth head.
        p.tip = xyz - by_a(1, by_e(1, m.head_elevation_pivot + length * t0)) - m.pcs_origin;
        p.axis = by_a(1, by_e(1, t0));
        break;
    case kind::uv_head:
        // The two head words place the upper end of the tool over the tip,
        // `length` above it: X and Y plus the tool's lean over that height.
        p.tip = xyz;
        p.axis = unit(vec{azimuth_word - xyz.x, elevation_word - xyz.y, length});
        break;
    }
    return p;
}

// The X, Y, Z that put the tool tip at a part point with the rotary words
// given: part_pose's tip moves with X, Y, Z as a rigid turn plus a shift,
// so the difference to the wanted tip is taken off until it vanishes.
vec machine_position_for(const machine& m, vec tip, double azimuth_word, double elevation_word, double length) {
    vec xyz = tip;
    for (int i = 0; i < 100; ++i) {
        const vec miss = tip - part_pose(m, xyz, azimuth_word, elevation_word, length).tip;
        if (norm(miss) < 1e-9) break;
        xyz = xyz + miss;
    }
    return xyz;
}

// --- the cutfile and the path it describes --------------------------------------

struct path_point {
    enum what { from, point, home } w;
    vec tip, axis;
    bool deviation_checked;  // the tip path between its blocks lies within the tolerance
    double feed;             // the feed of the move to this point; 0 for a rapid or a go home
    bool multiaxis = false;  // a point of the multi-axis mode
};

struct job {
    std::vector<cutfile_writer::record> records;
    std::vector<path_point> path;
    std::vector<double> tool_lengths = std::vector<double>(10, 0.0);
    vec axis{0, 0, 1};
    bool multiaxis = false;
    bool moved = false;
    bool home_pending = false;
    bool rapid_pending = false;
    double feedrate = 0;

    cutfile_writer::record& add(int cls, int sub, std::vector<cutfile_writer::word> data = {}) {
        records.push_back(cutfile_writer::make_record(static_cast<int>(records.size()) + 1, cls, sub, data));
        return records.back();
    }
    void start() {
        using namespace cutfile_writer;
        add_text(add(2000, 1045), "CHECK");
        add(9000, 9, {iw(171)});
    }
    void tool(int n, double length) {
        using namespace cutfile_writer;
        tool_lengths[static_cast<std::size_t>(n)] = length;
        add(2000, 1094, {rw(0)});
        add(2000, 1055, {rw(n), rw(0), rw(length), rw(0), rw(10), rw(0), rw(n), rw(n)});
        add(2000, 1031, {rw(1000), iw(78), iw(60)});
    }
    void feed(double f) {
        feedrate = f;
        add(2000, 1009, {cutfile_writer::rw(f), cutfile_writer::iw(315)});
    }
    void rapid() {
        rapid_pending = true;
        add(2000, 5);
    }
    void multax(bool on) {
        multiaxis = on;
        add(9000, 2, {cutfile_writer::iw(on ? 1 : 0)});
    }
    void incremental() {
        auto& r = add(2000, 1079, {cutfile_writer::iw(0)});
        cutfile_writer::add_text(r, "INC");
    }
    void gohome() {
        add(2000, 17);
        home_pending = true;
    }
    void from(vec t, vec a) {
        using namespace cutfile_writer;
        if (multiaxis) {
            add(5000, 3, {iw(0), iw(0), rw(t.x), rw(t.y), rw(t.z), rw(a.x), rw(a.y), rw(a.z)});
            axis = a;
        } else {
            add(5000, 3, {iw(0), iw(0), rw(t.x), rw(t.y), rw(t.z)});
        }
        path.push_back({path_point::from, t, axis, false, 0});
    }
    // A point of the multi-axis mode, or (without a vector) of the
    // three-axis mode, which keeps the tool axis in force.
    void go(vec t, vec a = {0, 0, 0}) {
        using namespace cutfile_writer;
        if (multiaxis) {
            add(5000, 5, {iw(0), iw(0), rw(t.x), rw(t.y), rw(t.z), rw(a.x), rw(a.y), rw(a.z)});
            axis = unit(a);
        } else {
            add(5000, 5, {iw(0), iw(0), rw(t.x), rw(t.y), rw(t.z)});
        }
        const bool home = home_pending;
        const bool at_feed = !home && !rapid_pending;
        home_pending = false;
        rapid_pending = false;
        // The first move of the run goes out in one block, whatever it turns.
        const bool checked = moved && multiaxis && !home;
        moved = true;
        path.push_back({home ? path_point::home : path_point::point, t, axis, checked, at_feed ? feedrate : 0, multiaxis});
    }
    std::string bytes() {
        add(14000, 0);
        return cutfile_writer::encode(records, 3);
    }
};

// --- the tape --------------------------------------------------------------------

struct tape_word {
    char letter;
    double value;
};

std::vector<tape_word> words_of(const std::string& line) {
    std::vector<tape_word> out;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c >= 'A' && c <= 'Z') {
            std::size_t j = i + 1;
            while (j < line.size() && (line[j] == '-' || line[j] == '+' || line[j] == '.' ||
                                       (line[j] >= '0' && line[j] <= '9')))
                ++j;
            out.push_back({c, j > i + 1 ? std::atof(line.substr(i + 1, j - i - 1).c_str()) : 0.0});
            i = j;
        } else {
            ++i;
        }
    }
    return out;
}

struct check_case {
    machine m;
    double tolerance;  // linearisation tolerance, 0 when the moves are not cut
    void (*script)(job&);
    // "rotary axis limits" in place of unset ones; with them the tape may
    // retract along the tool axis at a limit, turn to the other solution at
    // the retract point and plunge back along the axis.
    const char* rotary_limits = nullptr;
    // Multi-axis moves carry inverse-time feeds: the reciprocal of the
    // block's time in minutes at the cutfile's feed.
    bool inverse_time = false;
    // The toolpath can be finished on one rotary solution: the tape must not
    // withdraw the tool to change solutions.
    bool without_retract = false;
};

// Runs the post-processor on the case in a fresh folder; the tape's lines.
std::vector<std::string> run_case(const check_case& c, job& j, std::string& folder) {
    char pattern[] = "/tmp/kv_machine_check_XXXXXX";
    const char* dir = mkdtemp(pattern);
    EXPECT_NE(dir, nullptr);
    folder = dir ? dir : "";
    std::string options = c.m.option_file();
    if (c.tolerance > 0 || c.rotary_limits != nullptr) {
        char limits[224];
        std::snprintf(limits, sizeof limits, "%srotary axis limits = ( %s %f 1.0 )\n",
                      c.tolerance > 0 ? "linearise multiaxis moves = true\n" : "",
                      c.rotary_limits ? c.rotary_limits : "-99999.0 999999.0 -99999.0 999999.0",
                      c.tolerance > 0 ? c.tolerance : 999.0);
        options.insert(options.rfind("end"), limits);
    }
    if (c.inverse_time) options.insert(options.rfind("end"), "integer 71 = 1\ninteger 72 = 1\n");
    std::ofstream(folder + "/check.opt") << options;
    cutfile_writer::write_file(folder + "/job.cut", j.bytes());
    std::ofstream(folder + "/answers") << "1\n";
    const std::string command = "cd '" + folder + "' && env -u KELVARON -u QLOR_ASSERT HOME='" + folder +
                                "' '" + kelvaron_path + "' check job.cut < answers > out 2> err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << c.m.name << ": the run failed; see " << folder;
    std::vector<std::string> lines;
    std::ifstream tape(folder + "/job.tap");
    for (std::string line; std::getline(tape, line);) lines.push_back(line);
    return lines;
}

constexpr double TIP_TOLERANCE = 0.01;    // word rounding, turned through the rotary axes
constexpr double WITHDRAWAL = 20.0;       // "withdrawal amount" of every case
constexpr double AXIS_TOLERANCE = 0.002;  // radians
constexpr double HALFWAY_AXIS_ALLOWANCE = 25 * PI / 180;  // a move not cut into steps

// How far a pose lies from the straight move between two path points, the
// tool axis turning with the tip as the cutfile's moves turn it; the
// smallest of the larger of the two errors (each over its tolerance).
double distance_from_move(const pose& p, const path_point& a, const path_point& b) {
    auto error = [&](double s) {
        const vec tip = a.tip + s * (b.tip - a.tip);
        const vec axis = a.axis + s * (b.axis - a.axis);
        return std::max(norm(p.tip - tip) / TIP_TOLERANCE, angle_between(p.axis, axis) / AXIS_TOLERANCE);
    };
    constexpr int SAMPLES = 200;
    int best = 0;
    for (int i = 1; i <= SAMPLES; ++i)
        if (error(i / double(SAMPLES)) < error(best / double(SAMPLES))) best = i;
    double lo = std::max(0.0, (best - 1) / double(SAMPLES)), hi = std::min(1.0, (best + 1) / double(SAMPLES));
    for (int k = 0; k < 100; ++k) {
        const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
        if (error(m1) <= error(m2)) hi = m2;
        else lo = m1;
    }
    return error((lo + hi) / 2);
}

bool at_point(const pose& p, const path_point& a) {
    return norm(p.tip - a.tip) <= TIP_TOLERANCE && angle_between(p.axis, a.axis) <= AXIS_TOLERANCE;
}

// The largest distance of the tip from the straight move a-b while the
// machine's axes run linearly between the two blocks.
double tip_deviation(const machine& m, const std::array<double, 5>& from, const std::array<double, 5>& to,
                     double length, const path_point& a, const path_point& b) {
    double worst = 0;
    for (double s : {0.15, 0.35, 0.5, 0.65, 0.85}) {
        std::array<double, 5> q;
        for (int i = 0; i < 5; ++i) q[i] = from[i] + s * (to[i] - from[i]);
        const pose p = part_pose(m, vec{q[0], q[1], q[2]}, q[3], q[4], length);
        const vec d = b.tip - a.tip;
        const double len = norm(d);
        double t = len > 0 ? dot(p.tip - a.tip, d) / (len * len) : 0;
        t = std::clamp(t, 0.0, 1.0);
        worst = std::max(worst, norm(p.tip - (a.tip + t * d)));
    }
    return worst;
}

// Walks the tape: every motion block must put the tool on the cutfile's
// path, every point of the path (but a FROM, which is not written) must be
// reached in order, and a go home may only retract along the tool axis
// before it turns to the home point.
void check_tape(const check_case& c, const job& j, const std::vector<std::string>& tape, const std::string& folder) {
    const machine& m = c.m;
    const double nan = std::nan("");
    std::array<double, 5> state{nan, nan, nan, word_of_angle(m.azimuth, 0), word_of_angle(m.elevation, 0)};
    std::array<double, 5> last_state = state;
    bool incremental = false;
    bool started = false;
    int motion = 0;      // 0 rapid, 1 feed
    double feed = 0;
    double length = 0;
    int reached = -1;   // the last path point reached
    bool last_on_path = false;
    pose last{};
    pose last_path_pose{};  // the last block on the cutfile's path
    int motion_blocks = 0;
    int at_index = -1;            // the path point the last block put the tool on, or -1
    bool after_retract = false;   // the last block was withdrawn from the path at a limit
    for (const std::string& line : tape) {
        const std::vector<tape_word> words = words_of(line);
        bool reference = false, axes = false, tool_change = false;
        int tool = 0;
        for (const tape_word& w : words) {
            if (w.letter == 'G' && w.value == 90) incremental = false;
            if (w.letter == 'G' && w.value == 91) incremental = true;
            if (w.letter == 'G' && w.value == 28) reference = true;
            if (w.letter == 'G' && (w.value == 0 || w.value == 1)) motion = static_cast<int>(w.value);
            if (w.letter == 'F') feed = w.value;
            if (w.letter == 'T') tool = static_cast<int>(w.value);
            if (w.letter == 'M' && w.value == 6) tool_change = true;
        }
        if (tool_change) {
            length = j.tool_lengths[static_cast<std::size_t>(tool)];
            started = true;
        }
        for (const tape_word& w : words) {
            int k = -1;
            if (w.letter == 'X') k = 0;
            if (w.letter == 'Y') k = 1;
            if (w.letter == 'Z') k = 2;
            if (w.letter == m.azimuth.letter) k = 3;
            if (w.letter == m.elevation.letter) k = 4;
            if (k < 0) continue;
            axes = true;
            // A reference return leaves the axis at a place the tape does not know.
            if (reference) {
                state[static_cast<std::size_t>(k)] = nan;
                continue;
            }
            // An incremental tape counts from where the program starts, the
            // FROM point, on an axis that the tape has not placed.
            if (incremental && std::isnan(state[static_cast<std::size_t>(k)]) && k < 3 && !j.path.empty() &&
                j.path.front().w == path_point::from) {
                const vec start = machine_position_for(m, j.path.front().tip, state[3], state[4], length);
                state[static_cast<std::size_t>(k)] = k == 0 ? start.x : k == 1 ? start.y : start.z;
            }
            if (incremental) state[static_cast<std::size_t>(k)] += w.value;
            else state[static_cast<std::size_t>(k)] = w.value;
        }
        // The tape start moves before any tool is in the spindle.
        if (reference || !axes || !started) continue;
        ++motion_blocks;
        // The rotary limits are the range of the words, in degrees.
        if (c.rotary_limits != nullptr) {
            std::array<double, 4> limits{};
            std::sscanf(c.rotary_limits, "%lf %lf %lf %lf", &limits[0], &limits[1], &limits[2], &limits[3]);
            const rotary_axis* axes_of[2] = {&m.azimuth, &m.elevation};
            for (int k = 0; k < 2; ++k) {
                const double word = state[static_cast<std::size_t>(3 + k)];
                const double degrees = axes_of[k]->diameter > 0 ? word * 360.0 / (PI * axes_of[k]->diameter) : word;
                EXPECT_TRUE(degrees >= limits[2 * k] - 1e-3 && degrees <= limits[2 * k + 1] + 1e-3)
                    << m.name << ": \"" << line << "\" turns " << axes_of[k]->letter << " to " << degrees
                    << " degrees, outside its limits " << limits[2 * k] << " to " << limits[2 * k + 1];
            }
        }
        for (int k = 0; k < 3; ++k)
            ASSERT_FALSE(std::isnan(state[static_cast<std::size_t>(k)]))
                << m.name << ": \"" << line << "\" moves with an axis the tape never placed (" << folder << ")";
        const pose p = part_pose(m, vec{state[0], state[1], state[2]}, state[3], state[4], length);
        const std::size_t n = j.path.size();
        // A block that continues the path from the block before keeps the
        // tip, all the way between them, within the tolerance of the move a-b.
        auto check_deviation = [&](const path_point& a, const path_point& b) {
            if (!last_on_path || !b.deviation_checked) return;
            if (c.tolerance > 0) {
                const double d = tip_deviation(m, last_state, state, length, a, b);
                EXPECT_LE(d, c.tolerance + TIP_TOLERANCE)
                    << m.name << ": the tip leaves the move before \"" << line << "\"";
            } else {
                // A move that is not cut into steps bends the tip path, but
                // halfway through the block the tool axis still lies near
                // the move's: a block that changes to the other rotary
                // solution swings it far off.
                std::array<double, 5> half;
                for (int k = 0; k < 5; ++k) half[k] = (last_state[k] + state[k]) / 2;
                const pose h = part_pose(m, vec{half[0], half[1], half[2]}, half[3], half[4], length);
                double nearest = PI;
                for (int i = 0; i <= 50; ++i)
                    nearest = std::min(nearest, angle_between(h.axis, a.axis + (i / 50.0) * (b.axis - a.axis)));
                EXPECT_LE(nearest, HALFWAY_AXIS_ALLOWANCE)
                    << m.name << ": halfway to \"" << line << "\" the tool axis is " << nearest * 180 / PI
                    << " degrees off the move";
            }
        };
        bool accepted = false;
        bool reconfiguring = false;
        while (!accepted) {
            const std::size_t next = static_cast<std::size_t>(reached + 1);
            if (next < n && at_point(p, j.path[next])) {
                if (reached >= 0) check_deviation(j.path[static_cast<std::size_t>(reached)], j.path[next]);
                reached = static_cast<int>(next);
                // Repeated points are reached together.
                while (static_cast<std::size_t>(reached + 1) < n && at_point(p, j.path[static_cast<std::size_t>(reached + 1)]))
                    ++reached;
                accepted = true;
                last_on_path = true;
                break;
            }
            if (reached >= 0 && next < n) {
                const path_point& a = j.path[static_cast<std::size_t>(reached)];
                const path_point& b = j.path[next];
                if (b.w == path_point::home) {
                    // Up along the tool axis, or across to the home point, the
                    // rotary axes unchanged.
                    const vec up = p.tip - last.tip;
                    const bool along = norm(cross(up, last.axis)) <= TIP_TOLERANCE && dot(up, last.axis) >= -TIP_TOLERANCE;
                    const bool to_home = norm(p.tip - b.tip) <= TIP_TOLERANCE;
                    if (angle_between(p.axis, last.axis) <= AXIS_TOLERANCE && (along || to_home)) {
                        accepted = true;
                        last_on_path = false;
                        break;
                    }
                } else if (distance_from_move(p, a, b) <= 1.0) {
                    check_deviation(a, b);
                    accepted = true;
                    last_on_path = true;
                    break;
                }
            }
            // Withdrawn along the tool axis from the last point on the path,
            // within the withdrawal, the tool axis unchanged (the other
            // rotary solution of a limit gives the same axis): a retract,
            // a turn at the retract point or a plunge.
            if (c.rotary_limits != nullptr && reached >= 0) {
                const vec up = p.tip - last_path_pose.tip;
                const vec a = unit(last_path_pose.axis);
                const bool along = norm(cross(up, a)) <= TIP_TOLERANCE && dot(up, a) >= -TIP_TOLERANCE &&
                                   dot(up, a) <= WITHDRAWAL + TIP_TOLERANCE;
                if (along && angle_between(p.axis, a) <= AXIS_TOLERANCE) {
                    accepted = true;
                    reconfiguring = true;
                    last_on_path = false;
                    break;
                }
            }
            // A FROM is where the next move starts; the tape need not go there.
            if (next < n && j.path[next].w == path_point::from) {
                reached = static_cast<int>(next);
                last_on_path = false;
                continue;
            }
            break;
        }
        // A move at feed runs at the cutfile's feed, not at the rapid feed;
        // the return into the cut after a withdrawal may be slower, never
        // faster.
        const std::size_t toward = static_cast<std::size_t>(reached + 1);
        const bool on_point = last_on_path && at_point(p, j.path[static_cast<std::size_t>(reached)]);
        const std::size_t target = on_point ? static_cast<std::size_t>(reached) : toward;
        if (accepted && !reconfiguring && target < j.path.size() && j.path[target].feed > 0 && reached >= 0) {
            const double cut = j.path[target].feed;
            if (c.inverse_time && j.path[target].multiaxis) {
                // A block that makes a whole move of the cutfile takes its
                // length at the cutfile's feed.
                if (on_point && at_index >= 0 && at_index + 1 == reached && motion == 1) {
                    const double length = norm(j.path[target].tip - j.path[static_cast<std::size_t>(at_index)].tip);
                    const double expected = cut / length;
                    EXPECT_NEAR(feed, expected, 0.0006 + 1e-9 * expected)
                        << m.name << ": \"" << line << "\" has the inverse-time feed " << feed << " for a move of "
                        << length << " at feed " << cut;
                }
            } else if (after_retract) {
                EXPECT_TRUE(motion == 1 && feed <= cut)
                    << m.name << ": \"" << line << "\" returns into the cut at feed " << feed << ", faster than its feed "
                    << cut;
            } else {
                EXPECT_TRUE(motion == 1 && feed == cut)
                    << m.name << ": \"" << line << "\" moves at " << (motion == 1 ? "feed " : "rapid, feed ") << feed
                    << " where the cutfile says feed " << cut;
            }
        }
        if (reconfiguring) {
            EXPECT_FALSE(c.without_retract) << m.name << ": \"" << line << "\" withdraws the tool to change solutions";
        }
        after_retract = reconfiguring;
        at_index = on_point ? reached : -1;
        ASSERT_TRUE(accepted) << m.name << ": \"" << line << "\" puts the tip at " << show(p.tip) << " with the axis "
                              << show(p.axis) << ", off the cutfile's path after point " << reached + 1 << " "
                              << (reached >= 0 ? show(j.path[static_cast<std::size_t>(reached)].tip) : "")
                              << " (" << folder << ")";
        last = p;
        if (last_on_path) last_path_pose = p;
        last_state = state;
    }
    EXPECT_GT(motion_blocks, 0) << m.name;
    for (std::size_t i = static_cast<std::size_t>(reached + 1); i < j.path.size(); ++i)
        EXPECT_EQ(j.path[i].w, path_point::from)
            << m.name << ": the tape never reaches point " << i + 1 << " " << show(j.path[i].tip) << " (" << folder << ")";
}

// --- the jobs ------------------------------------------------------------------

const double S = std::sqrt(0.5);

// Every job starts so: tool 1, 50 long, from (0, 0, 100) with the tool
// vertical, feed 200, multi-axis mode on.
void first_tool(job& j) {
    j.start();
    j.tool(1, 50);
    j.from({0, 0, 100}, {0, 0, 1});
    j.feed(200);
    j.multax(true);
}

// Two tools: tilts and a sweep, a rapid, a go home with the tool tilted, the
// next move at feed from the home point, a second go home, a second tool from
// its FROM, three-axis moves, a toolpath without a FROM and a last go home.
void five_axis_job(job& j) {
    first_tool(j);
    j.go({10, 10, 5}, {0, 0, 1});
    j.go({10, 10, -2}, {0, 0, 1});
    j.go({20, 10, -2}, {0, -S, S});
    j.go({40, 10, -2}, {S, 0, S});
    j.go({40, 30, -2}, {0, S, S});
    j.rapid();
    j.go({40, 30, 40}, {0, S, S});
    j.gohome();
    j.go({0, 0, 100}, {0, -S, S});
    j.feed(300);
    j.go({20, 0, 5}, {0, 0, 1});
    j.go({25, 15, 3}, {0.5, 0, std::sqrt(0.75)});
    j.gohome();
    j.go({0, 0, 100}, {0, -S, S});
    j.go({20, 0, 5}, {0, -S, S});
    j.multax(false);
    j.tool(2, 60);
    j.multax(true);
    j.from({0, 0, 150}, {S, 0, S});
    j.go({-5, -5, 12}, {S, 0, S});
    j.go({-5, 20, 10}, {0, -S, S});
    j.multax(false);
    j.go({-5, 30, 10});
    j.go({10, 30, 10});
    // A new toolpath without a FROM starts where the last one ended.
    j.add(2000, 1094, {cutfile_writer::rw(0)});
    j.multax(true);
    j.go({15, 5, 8}, {0, S, S});
    j.go({15, 25, 8}, {0, 0, 1});
    j.multax(false);
    j.gohome();
    j.go({0, 0, 120});
}

// The same on a machine with one rotary axis: about X (tool axes in the YZ
// plane) or about Y (the XZ plane). lean(s, c) is the vertical axis turned
// about the rotary axis, right-handed, by the angle of sine s and cosine c.
void four_axis_job(job& j, bool about_x) {
    const auto lean = [about_x](double s, double c) { return about_x ? vec{0, -s, c} : vec{s, 0, c}; };
    first_tool(j);
    j.go({10, 10, 5}, {0, 0, 1});
    j.go({20, 10, -2}, lean(S, S));
    j.go({40, 10, -2}, lean(-0.5, std::sqrt(0.75)));
    j.gohome();
    j.go({0, 0, 100}, lean(S, S));
    j.feed(300);
    j.go({20, 0, 5}, {0, 0, 1});
    j.multax(false);
    j.tool(2, 60);
    j.multax(true);
    j.from({0, 0, 150}, lean(-S, S));
    j.go({-5, -5, 10}, lean(-S, S));
    j.go({-5, 20, 10}, lean(S, S));
    j.gohome();
    j.go({0, 0, 120}, {0, 0, 1});
}

void four_axis_x_job(job& j) { four_axis_job(j, true); }
void four_axis_y_job(job& j) { four_axis_job(j, false); }

// An incremental tape: G91 from the second point on (or from the first), through tilts, a go
// home and the moves after it, a new toolpath with a three-axis FROM and a
// last go home.
void incremental_job_from(job& j, bool from_first_move) {
    first_tool(j);
    if (from_first_move) j.incremental();
    j.go({10, 10, 5}, {0, 0, 1});
    if (!from_first_move) j.incremental();
    j.go({10, 10, -2}, {0, 0, 1});
    j.go({20, 10, -2}, {0, -S, S});
    j.go({40, 10, -2}, {S, 0, S});
    j.gohome();
    j.go({0, 0, 100}, {0, -S, S});
    j.feed(300);
    j.go({20, 0, 5}, {0, 0, 1});
    j.go({25, 15, 3}, {0, -S, S});
    j.multax(false);
    j.add(2000, 1094, {cutfile_writer::rw(0)});
    j.from({0, 0, 150}, {0, 0, 1});
    j.go({30, 40, 5});
    j.go({30, 40, -1});
    j.go({50, 40, -1});
    j.gohome();
    j.go({0, 0, 120});
}

void incremental_job(job& j) { incremental_job_from(j, false); }
// The same in incremental coordinates from the first move on: the first
// rotary increments count from where the axes stand when the tape starts.
void incremental_first_move_job(job& j) { incremental_job_from(j, true); }

// Points of a UV head in both modes: the head words follow X and Y in the
// three-axis moves too.
void uv_head_job(job& j) {
    first_tool(j);
    j.go({10, 10, 5}, {0, 0, 1});
    j.go({20, 10, 5}, {0.2, 0, 1});
    j.go({20, 30, 5}, {0, 0.1, 1});
    j.go({20, 30, 5}, {0, 0, 1});
    j.multax(false);
    j.go({40, 30, 5});
    j.go({40, 50, 5});
}

// A sweep of the tool axis about Z that drives the C table past its limit:
// the tape retracts, turns to the other solution and plunges back.
void limit_sweep_job(job& j) {
    first_tool(j);
    j.go({0, 0, 5}, {0, -S, S});
    j.go({0, 0, 0}, {0, -S, S});
    j.go({20, 0, 0}, {S * std::sin(PI * 2 / 3), -S * std::cos(PI * 2 / 3), S});
    j.rapid();
    j.go({20, 0, 50}, {S * std::sin(PI * 2 / 3), -S * std::cos(PI * 2 / 3), S});
    j.multax(false);
}

// The tool tilted by `degrees` about X, right-handed: (0, -sin, cos).
vec tilt_about_x(double degrees) {
    const double t = degrees * PI / 180.0;
    return {0, -std::sin(t), std::cos(t)};
}

// A cut that tilts the tool on, step by step, past the B limit of 50 on the
// solution it starts on: the FROM, tilted by 30 degrees, starts it there.
// It approaches at 300, the plunge at 300 making the toolpath's plunge rate,
// and cuts at 100.
void limit_switch_job(job& j) {
    j.start();
    j.tool(1, 50);
    j.multax(true);
    j.from({0, 0, 100}, tilt_about_x(30));
    j.feed(300);
    j.go({0, 10, 5}, tilt_about_x(40));
    j.go({0, 10, 0}, tilt_about_x(40));
    j.feed(100);
    j.go({0, 20, 0}, tilt_about_x(46));
    j.go({0, 30, 0}, tilt_about_x(53));
    j.go({0, 40, 0}, tilt_about_x(53));
    j.multax(false);
}

// A rapid that tilts the tool from -40 degrees through the vertical to 53
// degrees, past the B limit on the solution it starts on, then a cut.
void rapid_toward_limit_job(job& j) {
    first_tool(j);
    j.go({0, 10, 5}, tilt_about_x(-40));
    j.rapid();
    j.go({0, 30, 40}, tilt_about_x(53));
    j.go({0, 40, 0}, tilt_about_x(53));
    j.multax(false);
}

// Inverse-time feeds at their extremes: a long cut (a feed far below 1), a
// cut of 0.002 (one far above the maximum feedrate), an ordinary one, then a
// three-axis move at feed per minute.
void inverse_time_job(job& j) {
    first_tool(j);
    j.go({0, 0, 5}, {0, 0, 1});
    j.go({600, 0, 5}, tilt_about_x(10));
    j.go({600.002, 0, 5}, tilt_about_x(10));
    j.go({610, 0, 5}, tilt_about_x(10));
    j.multax(false);
    j.go({620, 0, 5});
}

// A flowline finish of a hull's side, generated here: passes along X over a
// side that leans from 20 to 70 degrees about X, the surface twisting about
// Z along the passes, 30 passes of 150 points, each pass the way back of the
// one before. The tool starts along the pole (vertical); only the solution
// of negative B keeps the whole finish within B -100..50.
void flowline_job(job& j) {
    first_tool(j);
    constexpr int PASSES = 30, POINTS = 150;
    for (int p = 0; p < PASSES; ++p) {
        const double lean = 20.0 + 50.0 * p / (PASSES - 1);
        for (int q = 0; q < POINTS; ++q) {
            const int k = p % 2 == 0 ? q : POINTS - 1 - q;
            const double x = k;
            const double twist = 10.0 * std::sin(x / 40.0);
            const vec normal = turn({0, 0, 1}, twist, tilt_about_x(lean));
            const double r = 60.0;
            const vec tip{x, -r * std::sin(lean * PI / 180.0), r * std::cos(lean * PI / 180.0) - r};
            j.go(tip, normal);
        }
    }
    j.multax(false);
}

rotary_axis axis(char letter, vec v) {
    rotary_axis a;
    a.letter = letter;
    a.vector = v;
    return a;
}

std::vector<check_case> cases() {
    std::vector<check_case> c;
    const vec none{0, 0, 0}, x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    // The control writes the rotary words B and C whatever axes they turn.
    // Table-table: B about X carries C about Z.
    c.push_back({{"table-table", kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {}, {}, ""}, 0.5,
                 five_axis_job});
    c.push_back({{"table-table without linearisation", kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {}, {}, ""},
                 0, five_axis_job});
    // With the axis lines off the origin and the part placed off the table centre.
    c.push_back({{"table-table with centres", kind::table_table, axis('B', x), axis('C', z), {0, 20, -40},
                  {10, -5, -30}, {}, {}, {5, -3, 2}, ""},
                 0.5, five_axis_job});
    // The part placed on the table turned by 30 degrees about the C axis.
    {
        check_case k{{"table-table with a turned part", kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {},
                      {5, -3, 2}, ""},
                     0.5, five_axis_job};
        k.m.pcs_turn = 30;
        c.push_back(k);
    }
    // Negative direction on B, C written as an arc length on a 100 mm diameter.
    {
        check_case k{{"table-table negative and linear units", kind::table_table, axis('B', x), axis('C', z), {}, {}, {},
                      {}, {}, ""},
                     0.5, five_axis_job};
        k.m.azimuth.negative = true;
        k.m.elevation.diameter = 100;
        c.push_back(k);
    }
    // Head-table: B in the head about Y, pivot 120 above the gauge point; C table about Z.
    c.push_back({{"head-table", kind::head_table, axis('B', y), axis('C', z), {}, {15, -10, 0}, {}, {0, 0, 120}, {}, ""},
                 0.5, five_axis_job});
    // Head-head: C about Z carries B about X, whose pivot is 100 above the gauge point.
    c.push_back({{"head-head", kind::head_head, axis('C', z), axis('B', x), {}, {}, {0, 0, 100}, {}, {}, ""}, 0.5,
                 five_axis_job});
    // Head-head whose head words carry offsets (30 and -10 degrees at the
    // axes' zeros), the elevation counted negative.
    {
        check_case k{{"head-head with word offsets", kind::head_head, axis('C', z), axis('B', x), {}, {}, {0, 0, 100}, {},
                      {}, ""},
                     0.5, five_axis_job};
        k.m.azimuth.offset = 30;
        k.m.elevation.offset = -10;
        k.m.elevation.negative = true;
        c.push_back(k);
    }
    // A nutating head: C about Z carries B about an axis at 45 degrees.
    c.push_back({{"nutating head", kind::head_head, axis('C', z), axis('B', {0, -S, S}), {}, {}, {0, 0, 80}, {}, {}, ""},
                 0.5, five_axis_job});
    // One rotary table about X; one head axis about Y.
    c.push_back({{"four-axis table", kind::table_table, axis('B', none), axis('C', x), {}, {0, 0, -20}, {}, {}, {}, ""},
                 0.5, four_axis_x_job});
    c.push_back({{"four-axis head", kind::head_table, axis('B', y), axis('C', none), {}, {}, {}, {0, 0, 80}, {}, ""}, 0.5,
                 four_axis_y_job});
    c.push_back({{"table-table incremental", kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {}, {}, ""}, 0.5,
                 incremental_job});
    c.push_back({{"head-head incremental", kind::head_head, axis('C', z), axis('B', x), {}, {}, {0, 0, 100}, {}, {}, ""},
                  0.5, incremental_job});
    // Incremental rotary words count from where the axes stand when the tape
    // starts: at the words of the start angles, offsets included.
    {
        check_case k{{"table-table incremental with a word offset", kind::table_table, axis('B', x), axis('C', z), {},
                      {}, {}, {}, {}, ""},
                     0.5, incremental_first_move_job};
        k.m.elevation.offset = 2;
        k.m.elevation.offset_by_vector = true;
        c.push_back(k);
    }
    {
        check_case k{{"head-head incremental with word offsets", kind::head_head, axis('C', z), axis('B', x), {}, {},
                      {0, 0, 100}, {}, {}, ""},
                     0.5, incremental_first_move_job};
        k.m.azimuth.offset = 30;
        k.m.elevation.offset = -10;
        c.push_back(k);
    }
    // The part turned by 30 degrees on a C table limited to -120..70
    // degrees: a sweep past 70 retracts along the tool axis, which the part
    // origin's turn must not tilt, turns C to the other solution and plunges.
    {
        check_case k{{"table-table retract at a limit with a turned part", kind::table_table, axis('B', x),
                      axis('C', z), {}, {}, {}, {}, {},
                      "retract at angular limit = true\nretract and reconfigure style = combine\n"},
                     0.5, limit_sweep_job, "-99999.0 999999.0 -120.0 70.0"};
        k.m.pcs_turn = 30;
        c.push_back(k);
    }
    c.push_back({{"UV head", kind::uv_head, axis('B', y), axis('C', z), {}, {}, {}, {}, {}, ""}, 0, uv_head_job});
    // Without linearisation, retractions to be minimised: a cut that leaves
    // the B range on its solution withdraws, changes solution and returns
    // no faster than it cut; it never changes solution in one block.
    c.push_back({{"table-table retract-minimising without linearisation", kind::table_table, axis('B', x), axis('C', z),
                  {}, {}, {}, {}, {},
                  "minimise multiaxis retractions = true\nretract at angular limit = true\n"
                  "retract and reconfigure style = combine\n"},
                 0, limit_switch_job, "-100.0 50.0 -99999.0 999999.0"});
    // A rapid toward the B limit, B counted negatively on its word (the
    // limits are the word's): the rapid changes solution on its way, turning
    // in place at the vertical.
    {
        check_case k{{"table-table rapid toward a limit", kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {},
                      {}, "retract at angular limit = true\n"},
                     0.05, rapid_toward_limit_job, "-50.0 100.0 -99999.0 999999.0"};
        k.m.azimuth.negative = true;
        c.push_back(k);
    }
    {
        check_case k{{"table-table inverse-time feed", kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {}, {},
                      ""},
                     0, inverse_time_job};
        k.inverse_time = true;
        c.push_back(k);
    }
    // A long flowline finish, block by block, with its moves cut into steps
    // and without; started on the right solution it needs no retract.
    for (double tolerance : {0.01, 0.0}) {
        check_case k{{tolerance > 0 ? "table-table flowline finish" : "table-table flowline finish without linearisation",
                      kind::table_table, axis('B', x), axis('C', z), {}, {}, {}, {}, {},
                      "minimise multiaxis retractions = true\nretract at angular limit = true\n"},
                     tolerance, flowline_job, "-100.0 50.0 -99999.0 999999.0"};
        k.without_retract = true;
        c.push_back(k);
    }
    return c;
}

class MultiaxisTapes : public testing::TestWithParam<std::size_t> {};

TEST_P(MultiaxisTapes, EveryBlockPutsTheToolOnTheCutfilePath) {
    ASSERT_FALSE(kelvaron_path.empty()) << "usage: multiaxis_tape_check <kelvaron>";
    const check_case c = cases()[GetParam()];
    job j;
    c.script(j);
    std::string folder;
    const std::vector<std::string> tape = run_case(c, j, folder);
    if (!HasFailure()) check_tape(c, j, tape, folder);
    if (!HasFailure()) std::system(("rm -rf '" + folder + "'").c_str());
}

std::string case_name(const testing::TestParamInfo<std::size_t>& info) {
    std::string name = cases()[info.param].m.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Machines, MultiaxisTapes, testing::Range<std::size_t>(0, cases().size()), case_name);

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        char* full = realpath(argv[1], nullptr);
        kelvaron_path = full != nullptr ? full : argv[1];
        std::free(full);
    }
    return RUN_ALL_TESTS();
}
