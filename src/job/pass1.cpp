// Pass 1: reads the whole cutfile once before any output, for the units and
// the factor of cutfile lengths, one row of tables per toolpath, the part
// number and the extents, then rewinds it for the record loop.
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

pass1_results_t pass1_results;
constinit toolpath_tables_t toolpath_tables;

namespace {

// Units codes of the units record, and the "units" setting values.
constexpr int UNITS_MM = 171;
constexpr int UNITS_CM = 172;
constexpr int UNITS_IN = 173;
constexpr int UNITS_FT = 174;
constexpr int OUTPUT_IMPERIAL = 30;
constexpr int OUTPUT_METRIC = 40;
constexpr int OUTPUT_AS_INPUT = 50;

// Function-code slots: compensation off, left, right; M function k is slot k + 40.
constexpr int FUNCTION_COMPENSATION_OFF = 9;
constexpr int FUNCTION_COMPENSATION_LEFT = 10;
constexpr int FUNCTION_COMPENSATION_RIGHT = 11;
constexpr int M_FUNCTION_BASE = 40;

int function_code_value(int slot) { return configuration_store.icodes[2][slot]; }

// A tool record waiting for the first GOTO point of its toolpath.
struct pending_tool_t {
    int pending = 0;
    int number = 0;
    double length = 0.0;
    double radius = 0.0;
    int length_offset = 0;
    int radius_offset = 0;
    text<TOOLPATH_TEXT_LEN> tool_text;
    double first_feed = 0.0;
    int first_feed_per_revolution = 0;
    int first_feed_seen = 1;  // set again by each tool record; none before the first
};

// The last spindle record read: a toolpath takes the one in force at its
// first point, also when it came before the toolpath's tool record.
struct spindle_in_force_t {
    double speed = 0.0;
    double tip_radius = 0.0;
    int code = 0;
};

// The reader's state for one pass.
struct pass1_scan_t {
    int new_style = 0;
    int s = 0;                 // current toolpath row (0 before the first toolpath)
    int stride = 3;            // values a GOTO point: 6 while multi-axis mode is on
    int multiaxis_on = 0;
    int multiaxis_on_seen = 0; // a multi-axis-on record has been met
    int first_tool_seen = 0;
    int toolpath_moved = 0;    // a GOTO point since the last tool or toolpath record
    int kind_set = 0;          // the current toolpath's workplane kind is set
    int spindle_seen = 0;      // the current toolpath has had its first spindle record
    int compensation_seen = 0; // ... its first cutter compensation record
    pending_tool_t tool;
    spindle_in_force_t spindle;
    // Classic: the feed in force and the movement tests.
    double feed = 0.0;
    int feed_known = 0;
    int feed_found = 0;
    int plunge_found = 0;
    // The feed the current toolpath gave itself (its own feed record, else
    // its first drilling cycle's feed): what its sheet shows for a field its
    // moves do not show. A feed left in force by an earlier tool is not it.
    double own_feed = 0.0;
    int own_feed_given = 0;
    int rapid_height_found = 0;
    int after_rapid = 0;
    int previous_known = 0;
    array1<double, 3> previous{};
    // How the next GOTO moves: sent at rapid (RAPID, GOHOME), or cutting
    // whatever else (a circle or a cycle goes before the rapid); and whether
    // the last GOTO cut, which its continuation records share.
    int next_goto_rapid = 0;
    int next_goto_special = 0;
    int goto_cuts = 0;
    // A drilling cycle: its last depth, for the GOTO record that follows it
    // (armed) and while that record's points are read, continuation records
    // included (holes).
    double cycle_depth = 0.0;
    double cycle_feed = 0.0;
    int cycle_armed = 0;
    int cycle_holes = 0;
    int failed = 0;
};

double uf() { return pass1_results.unit_factor; }

int row(const pass1_scan_t& p) { return toolpath_row(p.s); }

// Copies the format columns of the output units into the columns in force.
void select_unit_columns() {
    const int imperial = configuration_store.intsp[39] != OUTPUT_METRIC;
    for (int w = 1; w <= MAXWORDS; ++w) {
        word_format(w, WRDPRN) = word_format(w, imperial ? WRDIMP : WRDMET);
        word_format(w, IZSUP_CURRENT) = word_format(w, imperial ? IZSUPI : IZSUPM);
        word_format(w, IDEC_CURRENT) = word_format(w, imperial ? IDECI : IDECM);
    }
}

// With "units" input the output takes the cutfile's units (imperial_input:
// inches or feet); then the format columns of the output units come in force.
void select_output_units(const pass1_scan_t& p, bool imperial_input) {
    int& units = configuration_store.intsp[39];
    if (units == OUTPUT_AS_INPUT) {
        units = imperial_input ? OUTPUT_IMPERIAL : OUTPUT_METRIC;
        if (p.new_style) set_input_units_flag(1);
    }
    select_unit_columns();
}

void read_units_record(const pass1_scan_t& p) {
    pass1_results_t& r = pass1_results;
    r.cutfile_units.set("U");
    switch (cldata_int_word(1)) {
    case UNITS_MM: r.cutfile_units.set("MM"); break;
    case UNITS_CM: r.cutfile_units.set("CM"); break;
    case UNITS_IN: r.cutfile_units.set("IN"); break;
    case UNITS_FT: r.cutfile_units.set("FT"); break;
    default: break;
    }
    select_output_units(p, text_equals(r.cutfile_units, "IN") || text_equals(r.cutfile_units, "FT"));
    r.unit_factor = units_factor(r.cutfile_units, configuration_store.intsp[39]);
}

// A cutfile without a units record is taken to be in the output units: their
// columns are selected as a units record in those units would select them,
// and lengths keep the factor 1. With "units" input there are no output units
// of the control's own; the cutfile is then taken as millimetres, as the
// warning that follows says, and the output becomes metric.
void select_units_without_record(const pass1_scan_t& p) { select_output_units(p, false); }

// Points carry a tool axis while multi-axis mode is on, as the record loop
// reads them: three values a point again once it is switched off.
void read_multax_record(pass1_scan_t& p) {
    const bool on = cldata_int_word(1) != 0;
    p.stride = on ? 6 : 3;
    if (on) {
        set_cutfile_multiaxis(1);
        set_multax_record_seen(1);
        p.multiaxis_on = 1;
        p.multiaxis_on_seen = 1;
    } else if (p.new_style) {
        p.multiaxis_on = 0;
        // A five-axis toolpath whose multi-axis mode ends is a fixed-axis one.
        toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[static_cast<std::size_t>(row(p))];
        if (p.s >= 1 && wp.kind == WORKPLANE_FIVE_AXIS) wp.kind = WORKPLANE_FIXED_AXIS;
    }
}

void read_from_record(const pass1_scan_t& p) {
    toolpath_tables_t& t = toolpath_tables;
    array1<double, 3> point;
    for (int k = 1; k <= 3; ++k) point[k] = cldata_real_word(2 + k) * uf();
    if (p.s <= 1) {
        pass1_results.from_position = point;
        for (int i = 1; i <= 10; ++i) t.toolpath_start[i] = point;
    }
    if (p.s >= 1) {
        t.toolpath_start[row(p)] = point;
        if (!p.new_style) {
            t.toolpath_record_value[row(p)] = point[3];
        } else if (p.multiaxis_on) {
            for (int k = 1; k <= 3; ++k) t.toolpath_from_axis[row(p)][k] = cldata_real_word(5 + k);
        }
    }
}

// The pending tool goes into the row of the toolpath at its first point.
void place_pending_tool(pass1_scan_t& p) {
    if (!p.tool.pending) return;
    toolpath_tables_t& t = toolpath_tables;
    const int i = row(p);
    t.toolpath_tool_number[i] = p.tool.number;
    t.toolpath_tool_length[i] = p.tool.length;
    t.toolpath_tool_radius[i] = p.tool.radius;
    t.toolpath_length_offset[i] = p.tool.length_offset;
    t.toolpath_radius_offset[i] = p.tool.radius_offset;
    t.toolpath_tool_text[i] = p.tool.tool_text;
    t.toolpath_tip_radius[i] = p.spindle.tip_radius;
    t.toolpath_first_feed[i] = p.tool.first_feed;
    t.toolpath_first_feed_per_revolution[i] = p.tool.first_feed_per_revolution;
    t.toolpath_spindle_code[i] = p.spindle.code;
    p.tool.pending = 0;
}

void update_extents(const pass1_scan_t& p, const array1<double, 3>& q) {
    array1<double, 6>& e = pass1_results.cutfile_extents;
    for (int k = 1; k <= 3; ++k) {
        if (q[k] > e[k]) e[k] = q[k];
        if (q[k] < e[k + 3]) e[k + 3] = q[k];
    }
    if (!p.new_style) return;
    array1<double, 6>& t = toolpath_tables.toolpath_extents[row(p)];
    for (int k = 1; k <= 3; ++k) {
        if (q[k] < t[k]) t[k] = q[k];
        if (q[k] > t[k + 3]) t[k + 3] = q[k];
    }
}

// The feeds of a toolpath's moves from the movement of each point (the
// first move across, the first plunge), and the classic rapid height.
void point_feeds(pass1_scan_t& p, const array1<double, 3>& q) {
    toolpath_tables_t& t = toolpath_tables;
    const int i = row(p);
    if (!p.new_style && p.s >= 1 && !p.rapid_height_found && q[3] != t.toolpath_start[i][3]) {
        t.toolpath_rapid_height[i] = q[3];
        p.rapid_height_found = 1;
    }
    const int moved = p.previous_known && !p.after_rapid;
    const int xy_moved = moved && (q[1] != p.previous[1] || q[2] != p.previous[2]);
    const int z_moved = moved && !xy_moved && q[3] != p.previous[3];
    if (p.s >= 1 && p.cycle_holes) {
        // Holes are drilled at the cycle's feed; the moves between them are
        // no cut at the feed in force.
        array1<double, 2>& f = t.toolpath_move_feeds[i];
        if (!p.feed_found) f[1] = p.cycle_feed;
        if (!p.plunge_found) f[2] = p.cycle_feed;
        p.feed_found = p.plunge_found = 1;
    } else if (p.s >= 1 && p.feed_known) {
        if (xy_moved && !p.feed_found) {
            t.toolpath_move_feeds[i][1] = p.feed;
            p.feed_found = 1;
        } else if (z_moved && !p.plunge_found) {
            t.toolpath_move_feeds[i][2] = p.feed;
            p.plunge_found = 1;
        }
    }
    p.after_rapid = 0;
    p.previous = q;
    p.previous_known = 1;
}

// The end of a toolpath: a feed its moves did not show is the one it gave.
void close_toolpath_feeds(pass1_scan_t& p) {
    if (p.s < 1) return;
    array1<double, 2>& f = toolpath_tables.toolpath_move_feeds[row(p)];
    if (!p.feed_found) f[1] = p.own_feed;
    if (!p.plunge_found) f[2] = p.own_feed;
}

// The bottom of a drilled hole: the hole point moved down its tool axis (the
// point's tool vector in multi-axis mode, else +Z) by the cycle's last depth.
array1<double, 3> hole_bottom(const pass1_scan_t& p, const array1<double, 3>& hole, const double* axis) {
    double v[3] = {0.0, 0.0, 1.0};
    if (axis != nullptr) {
        const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        if (length > 1e-9) {
            for (int k = 0; k < 3; ++k) v[k] = axis[k] / length;
        }
    }
    array1<double, 3> b;
    for (int k = 1; k <= 3; ++k) b[k] = hole[k] - p.cycle_depth * v[k - 1];
    return b;
}

// A contact-normal record (with_normals) carries a normal after each point's
// values.
void read_goto_record(pass1_scan_t& p, int with_normals) {
    if (!p.new_style && !p.toolpath_moved && p.s >= 1)
        toolpath_tables.toolpath_spindle_speed[row(p)] = p.spindle.speed;
    p.toolpath_moved = 1;
    if (!p.kind_set) {
        p.kind_set = 1;
        if (p.new_style && p.s >= 1) {
            toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[static_cast<std::size_t>(row(p))];
            wp.kind = p.multiaxis_on ? WORKPLANE_FIVE_AXIS : p.multiaxis_on_seen ? WORKPLANE_FIXED_AXIS
                                                                                 : WORKPLANE_THREE_AXIS;
        }
    }
    place_pending_tool(p);
    const int n = cldata_data_count();
    // A multi-axis record whose values make whole x, y, z triples but not
    // whole six-value points carries no tool vectors: three values a point,
    // as the move output reads it.
    const int values = n - 2;
    int stride = p.stride;
    if (with_normals) {
        stride += 3;
    } else if (p.stride == 6 && values % 3 == 0 && values % 6 != 0) {
        stride = 3;
    }
    for (int j = 3; j <= n; j += stride) {
        double xyz[3];
        cldata_real_words(j, xyz);
        array1<double, 3> q;
        for (int k = 1; k <= 3; ++k) q[k] = xyz[k - 1] * uf();
        update_extents(p, q);
        // A drilled hole reaches below its point: the extents hold its bottom.
        if (p.cycle_holes && p.cycle_depth != 0.0) {
            double axis[3];
            const int has_axis = stride >= 6 && j + 5 <= n;
            if (has_axis) cldata_real_words(j + 3, axis);
            update_extents(p, hole_bottom(p, q, has_axis ? axis : nullptr));
        }
        point_feeds(p, q);
    }
}

void read_part_number_record() {
    pass1_results_t& r = pass1_results;
    const int n = cldata_data_count();
    r.part_number_length = n > 0 ? n : 0;
    if (r.part_number_length == 0) return;
    r.part_number.clear();
    for (int k = 1; k <= n && k <= PART_NUMBER_LEN; ++k) r.part_number[k] = translate_char(cldata_char_word(k));
}

void read_limits_record() {
    array1<double, 6>& e = pass1_results.pass1_extents;
    for (int k = 1; k <= 3; ++k) {
        e[k + 3] = cldata_real_word(k) * uf();
        e[k] = cldata_real_word(k + 3) * uf();
    }
}

// Message 173 for a tool still pending from an earlier tool record, with the
// count of toolpaths (classic) or tools (new style) before this record: the
// one that had no moves.
void warn_tool_without_moves(const pass1_scan_t& p) {
    if (!p.tool.pending) return;
    set_message_int_arg(1, p.new_style ? pass1_results.tool_count : pass1_results.toolpath_count);
    issue_message(173);
}

// The tool of a tool record (1055) or tool select record (1033) becomes pending.
void read_tool_record(pass1_scan_t& p, int major_word) {
    pending_tool_t& tool = p.tool;
    if (major_word == 1055) {
        tool.number = cldata_rounded_word(1);
        tool.length = cldata_real_word(3) * uf();
        tool.radius = cldata_real_word(5) * uf() * 0.5;
        tool.length_offset = cldata_rounded_word(7);
        tool.radius_offset = cldata_rounded_word(8);
        tool.tool_text.clear();
        if (cldata_int_word(9) == 3017) {
            const int n = cldata_data_count();
            for (int k = 10; k <= n && k - 9 <= TOOLPATH_TEXT_LEN; ++k)
                tool.tool_text[k - 9] = translate_char(cldata_char_word(k));
        }
    } else {
        tool.number = cldata_int_word(1);
        tool.length_offset = cldata_int_word(2);
    }
    tool.pending = 1;
    tool.first_feed_seen = 0;
    p.toolpath_moved = 0;
}

// The speed of a new-style toolpath is that of its first spindle record; a
// classic toolpath takes the speed in force at its first point.
void read_spindle_record(pass1_scan_t& p) {
    spindle_in_force_t& s = p.spindle;
    s.speed = cldata_real_word(1);
    s.tip_radius = cldata_real_word(7) * uf();
    s.code = cldata_int_word(3) == 59 ? function_code_value(M_FUNCTION_BASE + 4)
                                      : function_code_value(M_FUNCTION_BASE + 3);
    if (p.new_style && !p.spindle_seen) {
        toolpath_tables.toolpath_spindle_speed[row(p)] = s.speed;
        p.spindle_seen = 1;
    }
}

void read_feedrate_record(pass1_scan_t& p) {
    p.feed = cldata_real_word(1) * uf();
    p.feed_known = 1;
    p.own_feed = p.feed;
    p.own_feed_given = 1;
    // The first feedrate record after a tool record is its toolpath's first
    // feed, also when it comes after the toolpath's first point.
    if (!p.tool.first_feed_seen) {
        p.tool.first_feed = p.feed;
        p.tool.first_feed_per_revolution = feed_unit_per_revolution(cldata_int_word(2)) ? 1 : 0;
        p.tool.first_feed_seen = 1;
        if (!p.tool.pending) {
            toolpath_tables.toolpath_first_feed[row(p)] = p.feed;
            toolpath_tables.toolpath_first_feed_per_revolution[row(p)] = p.tool.first_feed_per_revolution;
        }
    }
}

void read_cutcom_record(pass1_scan_t& p) {
    if (p.compensation_seen || p.s < 1) return;
    int slot = 0;
    switch (cldata_int_word(1)) {
    case 8: slot = FUNCTION_COMPENSATION_LEFT; break;
    case 24:
    case 71: slot = FUNCTION_COMPENSATION_RIGHT; break;
    case 72: slot = FUNCTION_COMPENSATION_OFF; break;
    default: return;
    }
    toolpath_tables.toolpath_compensation[row(p)] = function_code_value(slot);
    p.compensation_seen = 1;
}

// Classic: a toolpath closes when the next tool record comes, and at the
// end; its feeds are those of its moves.
void close_classic_toolpath(pass1_scan_t& p) {
    if (p.s < 1) return;
    toolpath_tables_t& t = toolpath_tables;
    const int i = row(p);
    // A toolpath without points takes the spindle in force at its end.
    if (!p.toolpath_moved) t.toolpath_spindle_speed[i] = p.spindle.speed;
    close_toolpath_feeds(p);
    t.toolpath_feedrate[i] = t.toolpath_move_feeds[i][1];
    t.toolpath_plunge_rate[i] = t.toolpath_move_feeds[i][2];
    if (!p.compensation_seen) t.toolpath_compensation[i] = function_code_value(FUNCTION_COMPENSATION_OFF);
}

// A drilling cycle record: its last depth value (the data words between the
// cycle word and the feed unit, feed, an unread value and the clearance).
void read_cycle_record(pass1_scan_t& p) {
    const int depths = cldata_data_count() - 5;
    p.cycle_depth = depths >= 1 ? cldata_real_word(depths + 1) * uf() : 0.0;
    p.cycle_armed = 1;
    p.cycle_feed = depths >= 0 ? cldata_real_word(depths + 3) * uf() : 0.0;
    if (!p.own_feed_given && depths >= 0) {
        p.own_feed = p.cycle_feed;
        p.own_feed_given = 1;
    }
}

// Classic: every tool record starts a toolpath.
void start_classic_toolpath(pass1_scan_t& p) {
    close_classic_toolpath(p);
    if (p.s >= TOOLPATH_LIMIT) {
        set_message_int_arg(1, MAXTOOLPATHS);
        issue_message(261);
        p.failed = 1;
        return;
    }
    p.s += 1;
    pass1_results.toolpath_count = p.s;
    pass1_results.tool_first_toolpath[p.s] = p.s;
    p.feed_found = p.plunge_found = p.rapid_height_found = p.compensation_seen = 0;
    p.own_feed_given = 0;
    p.own_feed = 0.0;
}

// New style: a tool record whose tool differs from the current row's starts a new tool.
void count_new_style_tool(pass1_scan_t& p, int number) {
    pass1_results_t& r = pass1_results;
    if (p.first_tool_seen && number == toolpath_tables.toolpath_tool_number[row(p)]) return;
    p.first_tool_seen = 1;
    // Every tool record is held to the limit, not only the tool select: the
    // table of first toolpaths has no row beyond it.
    if (r.tool_count >= TOOLPATH_LIMIT) {
        set_message_int_arg(1, MAXTOOLPATHS);
        issue_message(261);
        p.failed = 1;
        return;
    }
    r.tool_count += 1;
    r.tool_first_toolpath[r.tool_count] = p.s;
}

void start_new_style_toolpath(pass1_scan_t& p) {
    toolpath_tables_t& t = toolpath_tables;
    if (p.s >= TOOLPATH_LIMIT) {
        set_message_int_arg(1, MAXTOOLPATHS);
        issue_message(261);
        p.failed = 1;
        return;
    }
    close_toolpath_feeds(p);
    const int i = p.s + 1;
    t.toolpath_record_value[i] = cldata_real_word(1) * uf();
    if (p.s >= 1) {
        const int o = p.s;
        t.toolpath_tool_number[i] = t.toolpath_tool_number[o];
        t.toolpath_tool_text[i] = t.toolpath_tool_text[o];
        t.toolpath_tool_length[i] = t.toolpath_tool_length[o];
        t.toolpath_tool_radius[i] = t.toolpath_tool_radius[o];
        t.toolpath_length_offset[i] = t.toolpath_length_offset[o];
        t.toolpath_radius_offset[i] = t.toolpath_radius_offset[o];
        t.toolpath_spindle_speed[i] = t.toolpath_spindle_speed[o];
        t.toolpath_tip_radius[i] = t.toolpath_tip_radius[o];
        t.toolpath_first_feed[i] = t.toolpath_first_feed[o];
        t.toolpath_first_feed_per_revolution[i] = t.toolpath_first_feed_per_revolution[o];
        t.toolpath_spindle_code[i] = t.toolpath_spindle_code[o];
        t.toolpath_start[i] = t.toolpath_start[o];
        t.toolpath_from_axis[i] = t.toolpath_from_axis[o];
    }
    p.s = i;
    p.toolpath_moved = 0;
    p.kind_set = 0;
    p.spindle_seen = 0;
    p.compensation_seen = 0;
    p.feed_found = p.plunge_found = 0;
    p.own_feed_given = 0;
    p.own_feed = 0.0;
}

void read_workplane_record(pass1_scan_t& p) {
    toolpath_workplane_t& job = toolpath_tables.toolpath_workplanes[0];
    if (cldata_subclass() == 1) {
        for (int k = 1; k <= 3; ++k) job.origin[k] = cldata_real_word(2 + k);
        for (int k = 1; k <= 9; ++k) job.matrix[k] = cldata_real_word(5 + k);
        return;
    }
    if (cldata_subclass() != 2) return;
    set_cutfile_has_workplane(1);
    matrix3 transposed;
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c) transposed[3 * (r - 1) + c] = job.matrix[3 * (c - 1) + r];
    int status = 0;
    read_toolpath_workplane(row(p), transposed, status);
    if (status != 0) {
        issue_message(286);
        p.failed = 1;
        return;
    }
    const toolpath_workplane_t& wp = toolpath_tables.toolpath_workplanes[static_cast<std::size_t>(row(p))];
    matrix3 m;
    for (int k = 1; k <= 9; ++k) m[k] = wp.matrix[k];
    vector3 axis;
    transform_initial_tool_vector(m, axis);
    for (int k = 1; k <= 3; ++k) toolpath_tables.toolpath_from_axis[row(p)][k] = axis[k];
}

// The characters of data words first..last into field, each through translate_char.
void record_chars(int first, int last, std::span<char> field) {
    assign_text(field, "");
    for (int k = first; k <= last && k - first < static_cast<int>(field.size()); ++k)
        field[static_cast<std::size_t>(k - first)] = translate_char(cldata_char_word(k));
}

void read_special_record(pass1_scan_t& p) {
    if (cldata_subclass() != 0) return;
    toolpath_tables_t& t = toolpath_tables;
    const int n = cldata_data_count();
    switch (cldata_int_word(1)) {
    case 1:
        t.toolpath_alt_tool_length[row(p)] = cldata_real_word(n) * uf();
        set_flag102(1);
        record_chars(2, n - 1, t.toolpath_special_text[row(p)]);
        break;
    case 3: record_chars(2, n - 1, t.toolpath_code3_text[row(p)]); break;
    case 20: record_chars(2, n - 1, pass1_results.cutfile_code20_text); break;
    case 100: {
        const int needed = cldata_rounded_word(n);
        if (needed > program_version_number()) {
            set_message_int_arg(1, needed);
            issue_message(276);
            p.failed = 1;
        }
        break;
    }
    default: break;
    }
}

// One record under the rules both readers share, and those of its style.
void read_record(pass1_scan_t& p, int& code4_seen) {
    const int cls = cldata_class();
    const int sub = cldata_subclass();
    // A cycle's holes are the points of the GOTO record after it and of that
    // record's continuation records.
    if (cls == 5000 && sub == 5) {
        p.cycle_holes = p.cycle_armed;
        p.cycle_armed = 0;
    } else if (!(cls == 5000 && sub == 6)) {
        p.cycle_holes = 0;
    }
    if (cls == 9000 && sub == 9) {
        read_units_record(p);
    } else if (cls == 9000 && sub == 2) {
        read_multax_record(p);
    } else if (cls == 5000 && sub == 3) {
        read_from_record(p);
    } else if (cls == 5000 || (p.new_style && cls == 32000)) {
        if (cls == 32000) set_cutfile_has_contact_normals(1);
        read_goto_record(p, cls == 32000 ? 1 : 0);
    } else if (cls == 6000 && sub == 4) {
        toolpath_tables.toolpath_value_6000[p.new_style ? row(p) : toolpath_row(p.s + 1)] = cldata_real_word(1) * uf();
    } else if (cls == 18000 && sub == 1) {
        toolpath_tables.toolpath_value_18000[p.new_style ? row(p) : toolpath_row(p.s + 1)] = cldata_real_word(1) * uf();
    } else if (cls == 2000) {
        switch (sub) {
        case 1045: read_part_number_record(); break;
        case 1014: read_limits_record(); break;
        case 1055:
        case 1033:
            warn_tool_without_moves(p);
            if (p.new_style) {
                count_new_style_tool(p, sub == 1055 ? cldata_rounded_word(1) : cldata_int_word(1));
            } else {
                start_classic_toolpath(p);
            }
            if (!p.failed) read_tool_record(p, sub);
            break;
        case 1009: read_feedrate_record(p); break;
        case 1054: read_cycle_record(p); break;
        case 1031: read_spindle_record(p); break;
        case 1007: read_cutcom_record(p); break;
        case 5: p.after_rapid = 1; break;
        case 1094:
            if (p.new_style) start_new_style_toolpath(p);
            break;
        case 1004:
            if (p.new_style && cldata_int_word(1) == 33)
                toolpath_tables.toolpath_rapid_height[row(p)] = cldata_real_word(2) * uf();
            break;
        case 17: pass1_results.go_home_seen = 1; break;
        case 1079:
            if (p.new_style) read_cldata_text_record(row(p));
            break;
        default: break;
        }
    } else if (p.new_style && cls == 28000) {
        read_workplane_record(p);
    } else if (p.new_style && cls == 29000) {
        if (sub == 0 && cldata_int_word(1) == 4 && !code4_seen) {
            code4_seen = 1;
            const char c = cldata_char_word(2);
            if (c == 'T' || c == 't') set_flag104(1);
            if (c == 'C' || c == 'c') set_flag104(0);
        }
        read_special_record(p);
    }
}

// Resets what both readers fill.
void begin_pass(pass1_scan_t& p, int new_style) {
    pass1_results_t& r = pass1_results;
    toolpath_tables_t& t = toolpath_tables;
    p = pass1_scan_t{};
    p.new_style = new_style;
    r.part_number_length = 0;
    r.cutfile_units.set("N");
    r.toolpath_count = r.tool_count = 0;
    r.go_home_seen = 0;
    r.last_cutting_record = 0;
    for (int i = 1; i <= MAXTOOLPATHS; ++i) {
        t.toolpath_value_6000[i] = t.toolpath_value_18000[i] = 0.0;
        t.toolpath_cldata_values[i][1] = t.toolpath_cldata_values[i][2] = 0.0;
        t.toolpath_tool_number[i] = 0;
        t.toolpath_fedrat_given[i] = 0;
        t.toolpath_move_feeds[i][1] = t.toolpath_move_feeds[i][2] = 0.0;
        // Every toolpath's tool axis is along +Z until a FROM record or a
        // workplane says otherwise (a classic cutfile never does).
        t.toolpath_from_axis[i][1] = t.toolpath_from_axis[i][2] = 0.0;
        t.toolpath_from_axis[i][3] = 1.0;
    }
    t.toolpath_index = t.tool_index = 0;
    set_cutfile_new_style(new_style);
}

// Notes the record if it moves the tool at feed (last_cutting_record), in
// the order the motion dispatch weighs the records before a GOTO.
void note_cutting_record(pass1_scan_t& p) {
    const int cls = cldata_class();
    const int sub = cldata_subclass();
    if (cls == 2000 && (sub == 5 || sub == 17)) {
        p.next_goto_rapid = 1;
    } else if (cls == 3000 || (cls == 2000 && sub == 1054 && cldata_int_word(1) != 72)) {
        p.next_goto_special = 1;
    } else if ((cls == 5000 && sub != 3) || cls == 32000) {
        if (sub != 6) {
            p.goto_cuts = p.next_goto_special || !p.next_goto_rapid;
            p.next_goto_rapid = 0;
            p.next_goto_special = 0;
        }
        if (p.goto_cuts) pass1_results.last_cutting_record = cldata_records_taken();
    }
}

// Reads records up to the end record; a read error stops the run.
void scan_records(pass1_scan_t& p) {
    int code4_seen = 0;
    while (!p.failed) {
        if (next_cldata_record()) stop_on_incomplete_cutfile();
        if (is_skipping()) {
            count_down_skip();
            continue;
        }
        if (cldata_class() == 14000) return;
        note_cutting_record(p);
        read_record(p, code4_seen);
    }
}

// The passes that follow read the cutfile again from its start: a cutfile
// that cannot be rewound is reported like an unreadable record.
void rewind_for_next_pass() {
    int st = 0;
    rewind_cldata(st);
    if (st != 0) stop_on_cldata_read_error();
}

// The end of both readers: rewind, the units warnings, the counts.
void end_pass(pass1_scan_t& p) {
    // A skip that ran past the end of pass 1 does not carry into the record
    // loop, which reads the IGNORE command again.
    set_skipping(0);
    pass1_results_t& r = pass1_results;
    if (text_equals(r.cutfile_units, "N")) {
        select_units_without_record(p);
        issue_message(107);
        r.cutfile_units.set("MM");
    } else if (text_equals(r.cutfile_units, "U")) {
        issue_message(171);
        r.cutfile_units.set("MM");
    }
    r.toolpath_count = p.s;
}

}  // namespace

int toolpath_row(int i) {
    if (i < 1) return 1;
    if (i > MAXTOOLPATHS) return MAXTOOLPATHS;
    return i;
}

int current_toolpath_index() { return toolpath_row(toolpath_tables.toolpath_index); }

double units_factor(std::string_view cutfile_units, int output_units) {
    const int imperial = output_units == OUTPUT_IMPERIAL;
    if (text_equals(cutfile_units, "CM")) return imperial ? 0.39370078740157477 : 10.0;
    if (text_equals(cutfile_units, "IN")) return imperial ? 1.0 : 25.4;
    if (text_equals(cutfile_units, "FT")) return imperial ? 12.0 : 304.8;
    return imperial ? 0.03937007874015748 : 1.0;
}

int cutfile_has_toolpath_records() {
    int found = 0;
    for (int k = 1; k <= CLDATA_SCAN_RECORDS && !found; ++k) {
        if (next_cldata_record()) break;
        const int cls = cldata_class();
        if ((cls == 2000 && cldata_subclass() == 1094) || cls == 28000 || cls == 29000) found = 1;
    }
    rewind_for_next_pass();
    return found;
}

void pass1_classic(int& status) {
    status = 1;
    pass1_scan_t p;
    begin_pass(p, 0);
    pass1_results.cutfile_extents.fill(0.0);
    pass1_results.pass1_extents.fill(0.0);
    scan_records(p);
    if (p.failed) return;
    close_classic_toolpath(p);
    rewind_for_next_pass();
    end_pass(p);
    pass1_results.tool_count = p.s;
    status = 0;
}

void pass1(int& status) {
    status = 1;
    pass1_scan_t p;
    begin_pass(p, 1);
    toolpath_tables_t& t = toolpath_tables;
    const int off = function_code_value(FUNCTION_COMPENSATION_OFF);
    for (int i = 1; i <= MAXTOOLPATHS; ++i) {
        t.toolpath_alt_tool_length[i] = 0.0;
        t.toolpath_workplanes[static_cast<std::size_t>(i)].kind = WORKPLANE_THREE_AXIS;
        t.toolpath_compensation[i] = off;
        for (int k = 1; k <= 3; ++k) {
            t.toolpath_extents[i][k] = NO_EXTENT;
            t.toolpath_extents[i][k + 3] = -NO_EXTENT;
        }
    }
    t.toolpath_tool_text.clear();
    t.toolpath_names.clear();
    t.toolpath_code3_text.clear();
    array1<double, 6>& e = pass1_results.cutfile_extents;
    array1<double, 6>& l = pass1_results.pass1_extents;
    for (int k = 1; k <= 3; ++k) {
        e[k] = l[k] = -NO_EXTENT;
        e[k + 3] = l[k + 3] = NO_EXTENT;
    }
    toolpath_workplane_t& job = t.toolpath_workplanes[0];
    job = toolpath_workplane_t{};
    job.matrix[1] = job.matrix[5] = job.matrix[9] = 1.0;
    pass1_results.codebase_version.fill(0);
    cycle_values.holetop_given = 0;

    scan_records(p);
    if (p.failed) return;
    close_toolpath_feeds(p);

    if (p.multiaxis_on_seen || configuration_store.intsp[82] != 0 || configuration_store.intsp[97] != 0) {
        for (int i = 1; i <= p.s; ++i) {
            toolpath_workplane_t& wp = t.toolpath_workplanes[static_cast<std::size_t>(i)];
            if (wp.kind == WORKPLANE_THREE_AXIS) wp.kind = WORKPLANE_FIXED_AXIS;
        }
        pass1_results.axis_source_flag = 1;
    }
    rewind_for_next_pass();
    int st = 0;
    if (!pass1_results.go_home_seen) {
        uses_go_home(st);
        if (st == 1) {
            issue_message(272);
            return;
        }
    }
    if (configuration_store.intsp[92] != 0 && !cutfile_has_contact_normals()) {
        issue_message(287);
        return;
    }
    end_pass(p);
    status = 0;
}

void uses_go_home(int& status) {
    const configuration_store_t& cs = configuration_store;
    status = 0;
    if (cs.blklen[3] > 0) {
        status = 1;
        return;
    }
    if (cs.intsp[30] == 0) return;
    for (int b : {8, 7}) {
        for (int i = 1; i <= cs.blklen[b] && i <= MAXITEMS; ++i) {
            const block_item_t& item = cs.block_items[b][i];
            const int magnitude = item.code < 0 ? -item.code : item.code;
            if (item.value != 0 || magnitude / 100000 == 999) {
                status = 1;
                return;
            }
        }
    }
}

}  // namespace kv
