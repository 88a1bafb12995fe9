// The system variables of block expressions: looks a name up in the variable
// table and returns the value of the running job that it names (positions,
// tools and toolpaths of pass 1, cycle values, codes, texts of the job).
#include <cmath>
#include <cstdio>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

system_variable_state_t system_variable_state;

namespace {

// Settings read here.
constexpr int USE_PARTID_IN_WIDTH = 59;       // intsp: a text variable sets the width of its word
constexpr int COUNTER_INCREMENT = 62;
constexpr int LAST_TOOL_NUMBER = 67;          // intsp: nexttool after the last tool, -1 none
constexpr int WORKPLANE_ANGLES = 82;          // intsp: 0 none, 3000 apparent, 4000 machine tool
constexpr int WORKPLANE_APPARENT = 3000;
constexpr int WORKPLANE_MACHINE_TOOL = 4000;
constexpr int USE_HOLE_TOP = 81;
constexpr int USE_TOOLPATH_SAFE_HEIGHTS = 103;
constexpr int USE_TRUE_SAFEZ = 105;
constexpr int UNITS_SETTING = 39;             // 40 metric
constexpr int UNITS_METRIC = 40;
constexpr int RAPID_FEEDRATE = 3;             // real option
constexpr int PLUNGE_THRESHOLD_ANGLE = 6;     // real option, degrees
constexpr int PART_ID_CHARACTER = 7;          // spchar "partid"
constexpr int DEFAULT_CHARACTER = 10;         // spchar read without a valid index
constexpr int PART_ID_LENGTH = 80;
constexpr int MINOR_WORDS = 10;               // data words minorword reads
// List columns of the text variables (real lists): "pcs origin"; the table
// centres of "azimuth axis parameters" and "elevation axis parameters"; the
// tool centres of "azimuth centre" and "elevation centre".
constexpr int PCS_ORIGIN_LIST = 5;
constexpr int AZIMUTH_LIST = 1;
constexpr int ELEVATION_LIST = 3;
constexpr int TOOL_CENTRE1_LIST = 2;
constexpr int TOOL_CENTRE2_LIST = 4;
// State flags read here.
constexpr int SWITCH_X_FLAG = 32;             // swx, swy, swz: flags 32..34
constexpr int MULTIAXIS_MODE_FLAG = 20;
constexpr int ABSOLUTE_FLAG = 21;
constexpr int TEXT_WIDTH_FLAG = 24;
constexpr int ALT_TOOL_LENGTH_FLAG = 102;
constexpr int TIP_POINTS_FLAG = 104;
constexpr int CONTACT_NORMALS_FLAG = 107;
// Function-code slots read here.
constexpr int CODE_INCH = 12;
constexpr int CODE_METRIC = 13;
constexpr int CODE_ABSOLUTE = 14;
constexpr int CODE_INCREMENTAL = 15;

constexpr const char* MONTHS[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};

// The value being built: a number or a text and the type it really has.
struct variable_value {
    double number = 0.0;
    text<EXPRESSION_RESULT_LENGTH> chars;
    int type = VALUE_REAL;
    int status = EXPR_OK;
};

void set_number(variable_value& v, double x, int type = VALUE_REAL) {
    v.number = x;
    v.type = type;
}
void set_logical(variable_value& v, bool b) { set_number(v, b ? 1.0 : 0.0, VALUE_LOGICAL); }
void set_integer(variable_value& v, int x) { set_number(v, static_cast<double>(x), VALUE_INTEGER); }
void set_text(variable_value& v, std::string_view s) {
    v.chars.set(s);
    v.type = VALUE_TEXT;
}
void set_nil(variable_value& v) {
    v.number = 0.0;
    v.type = VALUE_NIL;
}

// The toolpath row a toolpath variable reads: row n for an index n >= 1 (0,
// nil, beyond the toolpaths), else the current toolpath's.
int toolpath_entry(int index) {
    if (index >= 1) return index > pass1_results.toolpath_count || index > MAXTOOLPATHS ? 0 : index;
    return current_toolpath_index();
}

// The points of the job are in the part frame; a workplane or a rotary
// machine puts them into the frame of the current transform.
bool transform_active() {
    return configuration_store.intsp[WORKPLANE_ANGLES] != 0 || machine_model.machine_type > 0;
}
void through_current_transform(vector3& p) {
    if (transform_active()) part_to_current_frame_point(p);
}
void back_to_part_frame(vector3& p) {
    if (transform_active()) current_frame_to_part_point(p);
}
vector3 make_point(double x, double y, double z) {
    vector3 p;
    p[1] = x;
    p[2] = y;
    p[3] = z;
    return p;
}

// The current tool axis: the multi-axis one once set, else along +Z.
vector3 current_tool_axis() {
    vector3 t = multiaxis_motion_state.tool_axis;
    if (vector_length(t) <= VECTOR_TOLERANCE) t = make_point(0.0, 0.0, 1.0);
    return t;
}

// An extents box (maxima 1..3, minima 4..6) taken through the current
// transform: the new extremes of its eight corners.
void transformed_extents(const array1<double, 6>& box, array1<double, 6>& out) {
    for (int a = 1; a <= 3; ++a) {
        out[a] = -NO_EXTENT;
        out[a + 3] = NO_EXTENT;
    }
    for (int corner = 0; corner < 8; ++corner) {
        vector3 p = make_point((corner & 1) ? box[1] : box[4], (corner & 2) ? box[2] : box[5],
                               (corner & 4) ? box[3] : box[6]);
        through_current_transform(p);
        for (int a = 1; a <= 3; ++a) {
            out[a] = std::fmax(out[a], p[a]);
            out[a + 3] = std::fmin(out[a + 3], p[a]);
        }
    }
}

// A rotary value in the sense of its axis: negated when the control reverses
// the axis direction, with the one warning of the run.
double rotary_sense(double v, int direction_char) {
    if (machine_model.rotary_axis_chars[direction_char] != '-') return v;
    if (system_variable_state.axis_reversal_warning_given == 0) {
        system_variable_state.axis_reversal_warning_given = 1;
        issue_message(262);
    }
    return -v;
}
constexpr int AZIMUTH_DIRECTION_CHAR = 3;
constexpr int ELEVATION_DIRECTION_CHAR = 4;

// A file name without its directory and extension.
void base_name(std::string_view name, variable_value& v) {
    std::string_view s = trimmed(name);
    const std::size_t slash = s.find_last_of('/');
    if (slash != std::string_view::npos) s = s.substr(slash + 1);
    const std::size_t dot = s.find_last_of('.');
    if (dot != std::string_view::npos) s = s.substr(0, dot);
    set_text(v, s);
}

// Texts that may set the field width of the word an expression gives them.
void mark_text_width() {
    if (configuration_store.intsp[USE_PARTID_IN_WIDTH] == 1) set_status_flag(TEXT_WIDTH_FLAG, 1);
}

void list_text(int list, int count, variable_value& v) {
    char buffer[8 * 6 + 1];
    int used = 0;
    for (int i = 1; i <= count; ++i)
        used += std::snprintf(buffer + used, sizeof buffer - static_cast<std::size_t>(used), "%6.2f",
                              avals(i, list));
    set_text(v, std::string_view(buffer, static_cast<std::size_t>(used)));
}

// Two characters of the run's date and time ("09 Jan 2026 14.05.33").
void date_part(int first, variable_value& v) {
    const text<20>& t = run_state.run_date_time;
    char s[2] = {t[first], t[first + 1]};
    set_text(v, std::string_view(s, 2));
}

void month_number(variable_value& v) {
    const text<20>& t = run_state.run_date_time;
    char m[3];
    for (int i = 0; i < 3; ++i) {
        const char c = t[4 + i];
        m[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    int n = 0;
    for (int i = 0; i < 12; ++i)
        if (std::string_view(m, 3) == MONTHS[i]) n = i + 1;
    char s[3];
    std::snprintf(s, sizeof s, "%02d", n);
    set_text(v, std::string_view(s, 2));
}

void part_name(int index, variable_value& v) {
    system_variable_state_t& s = system_variable_state;
    const text<SPCHAR_LENGTH>& setting = configuration_store.spchar[PART_ID_CHARACTER];
    std::string_view source = setting.view().substr(0, PART_ID_LENGTH);
    if (trimmed_length(source) == 0) {
        if (s.part_name_asked == 0) {
            s.part_name_asked = 1;
            text<MSGLEN> prompt;
            format_message_first_line(44, prompt.span());
            prompt_and_read_line(prompt.view(), s.part_name.span());
        }
        source = s.part_name.view().substr(0, PART_ID_LENGTH);
    }
    const int from = index >= 1 && index <= PART_ID_LENGTH ? index : 1;
    set_text(v, source.substr(static_cast<std::size_t>(from - 1)));
    mark_text_width();
}

int program_number() {
    system_variable_state_t& s = system_variable_state;
    while (s.program_number_asked == 0) {
        text<MSGLEN> answer;
        prompt_until_nonblank(answer.span(), 102);
        int error = 0;
        const int n = read_int_field(trimmed(answer.view()), trimmed_length(answer.view()), error);
        if (error == 0) {
            s.program_number = n;
            s.program_number_asked = 1;
        } else {
            issue_message(101);
        }
    }
    return s.program_number;
}

// The tool number of the k-th tool (tool changes counted), 0 when there is none.
int tool_of_rank(int k) {
    if (k < 1 || k > pass1_results.tool_count || k > MAXTOOLPATHS) return 0;
    return toolpath_tables.toolpath_tool_number[toolpath_row(pass1_results.tool_first_toolpath[k])];
}
int first_toolpath_of_rank(int k) {
    if (k < 1 || k > pass1_results.tool_count || k > MAXTOOLPATHS) return 0;
    return pass1_results.tool_first_toolpath[k];
}

// Start and safe heights: the toolpath's point with that height, taken
// through the current transform; inside a cycle the cycle's own heights.
void toolpath_height(int id, int index, variable_value& v) {
    const bool start = id == 21;
    if (cycle_state.cycle_type != 0 && configuration_store.intsp[USE_TRUE_SAFEZ] == 0) {
        set_number(v, start ? cycle_values.clearance_distance : cycle_parameters.height);
        return;
    }
    int row = 1;
    if (index >= 1) {
        row = toolpath_entry(index);
        if (row == 0) return set_nil(v);
    } else if (configuration_store.intsp[USE_TOOLPATH_SAFE_HEIGHTS] != 0) {
        row = current_toolpath_index();
    }
    const toolpath_tables_t& t = toolpath_tables;
    vector3 p = t.toolpath_start[row];
    if (start) p[3] = t.toolpath_rapid_height[row];
    through_current_transform(p);
    set_number(v, p[3]);
}

// The per-toolpath values, by id.
void toolpath_value(int id, int index, int level, variable_value& v) {
    const toolpath_tables_t& t = toolpath_tables;
    const int row = toolpath_entry(index);
    if (row == 0) return set_nil(v);
    const bool current = index < 1;
    switch (id) {
    case 14:  // toolnumber
        if (current && level > 1) return set_integer(v, current_toolpath_index());
        return set_integer(v, t.toolpath_tool_number[row]);
    case 13:  // toollength
        if (current) return set_number(v, machine_model.tool_length);
        return set_number(v, get_state_flag(ALT_TOOL_LENGTH_FLAG) != 0 ? t.toolpath_alt_tool_length[row]
                                                                      : t.toolpath_tool_length[row]);
    case 172:  // multaxtoollength
        if (current) return set_number(v, machine_model.tool_length);
        return set_number(v, t.toolpath_alt_tool_length[row]);
    case 176:  // compensationtoollength
        if (current) return set_number(v, tool_state.tool_values[1]);
        return set_number(v, t.toolpath_tool_length[row]);
    case 16:  // toolradius
        if (current) return set_number(v, tool_state.tool_values[2]);
        return set_number(v, t.toolpath_tool_radius[row]);
    case 33:  // tipradius
        return set_number(v, t.toolpath_tip_radius[row]);
    case 12:  // toollenoff
        if (current) return set_integer(v, tool_state.tool_change_ints[2]);
        return set_integer(v, t.toolpath_length_offset[row]);
    case 15:  // toolradoff
        if (current) return set_integer(v, tool_state.offset_number);
        return set_integer(v, t.toolpath_radius_offset[row]);
    case 17:  // toolspeed
        return set_number(v, t.toolpath_spindle_speed[row]);
    case 18:  // toolfeedr
        if (current) return set_number(v, feed_state.feedrate);
        return set_number(v, t.toolpath_first_feed[row]);
    case 129:  // toolname
        if (current) return set_text(v, trimmed(tool_state.tool_text.view()));
        return set_text(v, trimmed(t.toolpath_tool_text[row].view()));
    case 173:  // tooltype
        return set_text(v, trimmed(t.toolpath_special_text[row].view()));
    case 134:  // toolpathname
        return set_text(v, trimmed(t.toolpath_names[row].view()));
    case 186:  // toolpathworkplanename
        return set_text(v, trimmed(t.toolpath_code3_text[row].view()));
    case 65:  // toolcomp
        return set_number(v, t.toolpath_compensation[row]);
    case 72:  // spindlecode
        return set_number(v, t.toolpath_spindle_code[row]);
    case 123:  // toolpathtime
        return set_number(v, t.toolpath_cldata_values[row][1]);
    case 124:  // toolpathlength
        return set_number(v, t.toolpath_cldata_values[row][2]);
    case 121:  // thickness
        return set_number(v, t.toolpath_value_6000[row]);
    case 122:  // tolerance
        return set_number(v, t.toolpath_value_18000[row]);
    case 66:  // frat
        return set_number(v, t.toolpath_feedrate[row]);
    case 67:  // prat
        return set_number(v, t.toolpath_plunge_rate[row]);
    case 120:  // srat
        if (get_srat_defined() == 0 && system_variable_state.srat_warning_given == 0) {
            system_variable_state.srat_warning_given = 1;
            issue_message(256);
        }
        return set_number(v, t.toolpath_rapid_feed[row]);
    case 165:
    case 166:
    case 167: {  // toolpath3axis, toolpath3plus2, toolpath5axis
        const int kind = t.toolpath_workplanes[static_cast<std::size_t>(row)].kind;
        return set_logical(v, kind == id - 165);
    }
    case 209:
    case 210:
    case 211:  // toolpathworkplanea/b/c
        return set_number(v, t.toolpath_workplanes[static_cast<std::size_t>(row)].angles[id - 208]);
    case 212:
    case 213:
    case 214:  // toolpathworkplanex/y/z
        return set_number(v, t.toolpath_workplanes[static_cast<std::size_t>(row)].origin[id - 211]);
    case 147:
    case 148:
    case 149:  // toolpathmaxx/y/z: the table keeps minima first
        return set_number(v, t.toolpath_extents[row][id - 147 + 4]);
    case 150:
    case 151:
    case 152:  // toolpathminx/y/z
        return set_number(v, t.toolpath_extents[row][id - 150 + 1]);
    case 153:
    case 154:
    case 155:
    case 156:
    case 157:
    case 158: {  // transtoolpathmaxx .. transtoolpathminz
        array1<double, 6> box;
        for (int a = 1; a <= 3; ++a) {
            box[a] = t.toolpath_extents[row][a + 3];
            box[a + 3] = t.toolpath_extents[row][a];
        }
        array1<double, 6> out;
        transformed_extents(box, out);
        return set_number(v, out[id - 152]);
    }
    case 3:
    case 4:
    case 5: {  // fromx/y/z
        vector3 p = current ? pass1_results.from_position : t.toolpath_start[row];
        through_current_transform(p);
        return set_number(v, p[id - 2]);
    }
    case 144:
    case 145:
    case 146:  // worldfromx/y/z
        return set_number(v, t.toolpath_start[row][id - 143]);
    default:
        return;
    }
}

bool is_toolpath_variable(int id) {
    switch (id) {
    case 3: case 4: case 5: case 12: case 13: case 14: case 15: case 16: case 17: case 18: case 33:
    case 65: case 66: case 67: case 72: case 120: case 121: case 122: case 123: case 124: case 129:
    case 134: case 144: case 145: case 146: case 147: case 148: case 149: case 150: case 151: case 152:
    case 153: case 154: case 155: case 156: case 157: case 158: case 165: case 166: case 167: case 172:
    case 173: case 176: case 186: case 209: case 210: case 211: case 212: case 213: case 214:
        return true;
    default:
        return false;
    }
}

// The value of variable id; index 0 none, level the operand level.
void variable_by_id(int id, int index, int level, variable_value& v) {
    configuration_store_t& cs = configuration_store;
    const motion_state_t& m = motion_state;
    const pass1_results_t& p1 = pass1_results;
    derived_settings_t& d = derived_settings;
    block_interpreter_t& bi = block_interpreter;

    if (is_toolpath_variable(id)) return toolpath_value(id, index, level, v);

    switch (id) {
    // Block and run state.
    case 1:
        return set_number(v, d.sequence_number);
    case 19:
        set_number(v, d.counter);
        d.counter += cs.intsp[COUNTER_INCREMENT];
        return;
    case 180:
        return set_number(v, d.counter);
    case 182:
        return set_integer(v, bi.loop_counter);
    case 20:
        return set_number(v, ppword_state.text_command_argument);
    case 47: case 48: case 49: case 50: case 51: case 52:
        return set_logical(v, bi.switches[id - 46] != 0);
    case 114: case 115: case 116: case 117:
        return set_logical(v, bi.switches[id - 107] != 0);
    case 130: case 131:
        return set_logical(v, bi.switches[id - 119] != 0);
    case 227: case 228:
        return set_logical(v, bi.switches[id - 214] != 0);
    case 104: case 105: case 106:
        return set_logical(v, get_state_flag(SWITCH_X_FLAG + id - 104) != 0);
    case 53: case 54: case 55: case 56: case 57: case 58:
        return set_number(v, bi.int_variables[id - 52]);
    case 219: case 220: case 221: case 222: case 223: case 224: case 225: case 226:
        return set_number(v, bi.int_variables[id - 212]);
    case 59: case 60: case 61: case 62: case 63: case 64:
        return set_number(v, bi.real_variables[id - 58]);

    // Positions and motion.
    case 89: case 90: case 91:
        return set_number(v, m.position[id - 88]);
    case 27: case 28: case 29:
        return set_number(v, m.previous_position[id - 26]);
    case 43: case 44:
        return set_number(v, static_cast<double>(m.position_units[id - 42]) - m.previous_position_units[id - 42]);
    case 45:
        return set_number(v, m.position[3] - m.previous_position[3]);
    case 86: case 87: case 88:
        return set_number(v, m.position[id - 82]);
    case 92:
        return set_number(v, rotary_sense(m.rotary_angles[2], AZIMUTH_DIRECTION_CHAR));
    case 93:
        return set_number(v, rotary_sense(m.rotary_angles[1], ELEVATION_DIRECTION_CHAR));
    case 118:
        return set_number(v, m.previous_rotary_angles[2]);
    case 119:
        return set_number(v, m.previous_rotary_angles[1]);
    case 112:
        return set_number(v, rotary_sense(static_cast<double>(m.position_units[8]) - m.previous_position_units[8],
                                          AZIMUTH_DIRECTION_CHAR));
    case 111:
        return set_number(v, rotary_sense(static_cast<double>(m.position_units[7]) - m.previous_position_units[7],
                                          ELEVATION_DIRECTION_CHAR));
    case 69:
        return set_number(v, end_turn_angle());
    case 70:
        return set_number(v, start_turn_angle());
    case 95: case 96:  // distazi, distele: set by the forward kinematics
        return set_number(v, kinematics_values.rotary_axis_distances[id - 94]);
    case 200: case 201: case 202: {
        vector3 p = make_point(m.position[1], m.position[2], m.position[3]);
        back_to_part_frame(p);
        return set_number(v, p[id - 199]);
    }
    case 193: case 194: case 195:
        return set_number(v, current_tool_axis()[id - 192]);
    case 196: case 197: case 198:
        if (cutfile_has_contact_normals() == 0) {
            issue_message(292);
            v.status = EXPR_BAD_VARIABLE;
            return;
        }
        return set_number(v, multiaxis_motion_state.contact_normal[id - 195]);
    case 199:
        return set_logical(v, get_state_flag(CONTACT_NORMALS_FLAG) != 0);
    case 178:
        return set_logical(v, get_state_flag(TIP_POINTS_FLAG) != 0);
    case 168: {
        vector3 a = make_point(m.previous_position[1], m.previous_position[2], m.previous_position[3]);
        vector3 b = make_point(m.position[1], m.position[2], m.position[3]);
        through_current_transform(a);
        through_current_transform(b);
        vector3 move = make_point(b[1] - a[1], b[2] - a[2], b[3] - a[3]);
        if (vector_length(move) <= VECTOR_TOLERANCE) return set_logical(v, false);
        vector3 down = current_tool_axis();
        for (int i = 1; i <= 3; ++i) down[i] = -down[i];
        const double angle = vector_angle(move, down) * RADIANS_TO_DEGREES;
        return set_logical(v, angle <= real_option(PLUNGE_THRESHOLD_ANGLE));
    }
    case 174:
        return set_logical(v, get_state_flag(MULTIAXIS_MODE_FLAG) != 0);
    case 207:
        return set_logical(v, multiaxis_motion_state.reconfiguring != 0);
    case 189:
        return set_integer(v, record_values.move_type[1]);
    case 187:
        return set_integer(v, record_values.move_type[2]);
    case 188:
        return set_integer(v, record_values.move_type[3]);
    case 41: {
        const int n = index >= 1 ? index : 2;
        if (n > MINOR_WORDS) return set_nil(v);
        return set_number(v, n <= cldata_data_count() ? cldata_int_word(n) : 0);
    }

    // Extents.
    case 80: case 81: case 82: case 83: case 84: case 85:
        return set_number(v, p1.cutfile_extents[id - 79]);
    case 97: case 98: case 99: case 100: case 101: case 102:
        return set_number(v, p1.pass1_extents[id - 96]);
    case 159: case 160: case 161: case 162: case 163: case 164: {
        array1<double, 6> out;
        transformed_extents(p1.cutfile_extents, out);
        return set_number(v, out[id - 158]);
    }

    // Tools and toolpaths.
    case 6: {  // nexttool
        const int k = toolpath_tables.tool_index + 1;
        if (k <= p1.tool_count) {
            if (level > 1) return set_integer(v, first_toolpath_of_rank(k));
            return set_integer(v, tool_of_rank(k));
        }
        if (level > 1) return set_integer(v, p1.toolpath_count);
        const int last = cs.intsp[LAST_TOOL_NUMBER];
        if (last != -1) return set_integer(v, last);
        return set_integer(v, toolpath_tables.toolpath_tool_number[toolpath_row(p1.toolpath_count)]);
    }
    case 113: {  // prevtool
        const int k = toolpath_tables.tool_index - 1;
        if (level > 1) return set_integer(v, k >= 1 ? first_toolpath_of_rank(k) : 1);
        return set_integer(v, tool_of_rank(k >= 1 ? k : 1));
    }
    case 68:
        return set_number(v, p1.tool_count);
    case 42:
        return set_number(v, toolpath_tables.tool_index);
    case 185:
        return set_integer(v, count_distinct_tools());
    case 183:
        return set_integer(v, p1.toolpath_count);
    case 170: {
        const int next = current_toolpath_index() + 1;
        if (next <= p1.toolpath_count) return set_number(v, next);
        return set_number(v, level > 1 ? p1.toolpath_count : 0);
    }
    case 171: {
        const int previous = current_toolpath_index() - 1;
        if (previous >= 1 && toolpath_tables.toolpath_index >= 1) return set_number(v, previous);
        return set_number(v, level > 1 ? 1 : 0);
    }
    case 184: {  // toolpathfromtool
        if (index < 1 || index > count_distinct_tools()) return set_integer(v, 1);
        int status = 0;
        const int tool = tool_number_by_rank(index, status);
        for (int i = 1; status == 0 && i <= p1.toolpath_count && i <= MAXTOOLPATHS; ++i)
            if (toolpath_tables.toolpath_tool_number[i] == tool) return set_integer(v, i);
        v.status = EXPR_BAD_VARIABLE;
        return;
    }
    case 21:
    case 32:
        return toolpath_height(id, index, v);
    case 169: {
        const int i = current_toolpath_index();
        return set_logical(v, i >= 2 && toolpath_tables.toolpath_tool_number[i] ==
                                            toolpath_tables.toolpath_tool_number[i - 1]);
    }
    case 175:
        return set_number(v, total_toolpath_time());

    // Workplanes: the current workplane.
    case 138: case 139: case 140:
        return set_number(v, workplane_state.euler_angles[id - 137]);
    case 141: case 142: case 143:
        return set_number(v, workplane_state.origin[id - 140]);
    case 190:
        return set_number(v, workplane_state.azimuth);
    case 191:
        return set_number(v, workplane_state.elevation);
    case 192:
        return set_text(v, trimmed(p1.cutfile_code20_text.view()));
    case 73:
        return list_text(PCS_ORIGIN_LIST, 6, v);
    case 74:
        return list_text(AZIMUTH_LIST, 3, v);
    case 75:
        return list_text(ELEVATION_LIST, 3, v);
    case 76:
        return list_text(TOOL_CENTRE1_LIST, 6, v);
    case 77:
        return list_text(TOOL_CENTRE2_LIST, 6, v);

    // Cycles.
    case 46: {
        const int type = cycle_state.cycle_type;
        set_number(v, type);
        if (type >= 1 && type <= CYCLE_TYPES) v.chars.set(cycle_names[type].view());
        return;
    }
    case 218: {
        const int type = cycle_state.cycle_type;
        if (type < 1 || type > CYCLE_TABLE_ROWS) return set_integer(v, 0);
        return set_integer(v, cs.icodes[2][cycle_table[type].function]);
    }
    case 94:
        return set_number(v, cycle_parameters.feed_written);
    case 133:
        return set_number(v, cycle_values.dwell_time);
    case 22:
        return set_number(v, cycle_values.depth_distance);
    case 34:
        return set_number(v, cycle_values.depth_below_clearance);
    case 23:
    case 217:
        return set_number(v, cycle_values.clearance_distance);
    case 35:
        return set_number(v, cycle_parameters.clearance);
    case 36:
        return set_number(v, cycle_values.peck_depth);
    case 177:
        return set_number(v, cycle_values.hole_diameter);
    case 215:
        return set_number(v, cycle_values.pitch);
    case 216:
        return set_number(v, cycle_parameters.height);
    case 132:
        return set_number(v, holetop_height());
    case 30:
        return set_number(v, cycle_state.number_of_pecks);
    case 136:
        return set_logical(v, cycle_values.holetop_given != 0 && cs.intsp[USE_HOLE_TOP] != 0);

    // Codes, settings and words.
    case 2:
        return set_number(v, feed_state.feedrate);
    case 135:
        return set_number(v, real_option(RAPID_FEEDRATE));
    case 9:
        return set_number(v, tool_state.spindle_values[1]);
    case 71: {
        const int f = tool_state.pending_gfunction;
        return set_number(v, f >= 1 && f <= NUMCODES ? cs.icodes[2][f] : 0);
    }
    case 10:
        return set_integer(v, cs.icodes[2][get_state_flag(ABSOLUTE_FLAG) != 0 ? CODE_ABSOLUTE : CODE_INCREMENTAL]);
    case 11:
        return set_integer(v, cs.icodes[2][cs.intsp[UNITS_SETTING] == UNITS_METRIC ? CODE_METRIC : CODE_INCH]);
    case 78:
        if (index < 1 || index > MAXWORDS) return set_number(v, word_output_state.word_value[1]);
        return set_number(v, static_cast<double>(word_output_state.word_value[index]) / MULT(index));
    case 181:
        return set_text(v, trimmed(word_output_state.word_text[index >= 1 && index <= MAXWORDS ? index : 1].view()));
    case 79:
        set_text(v, trimmed(cs.spchar[index >= 1 && index <= NUMSPCHAR ? index : DEFAULT_CHARACTER].view()));
        mark_text_width();
        return;
    case 203:
        return set_integer(v, p1.codebase_version[1]);
    case 204:
        return set_integer(v, p1.codebase_version[2]);
    case 137:
        return set_integer(v, program_version_number());

    // Texts of the job.
    case 7:
        return part_name(index, v);
    case 8:
        return set_integer(v, program_number());
    case 31: {
        text<FILE_NAME_LEN> long_name;
        get_long_path_name(trimmed(job_files.file_names[FILE_TAPE].view()), long_name.span());
        base_name(long_name.view(), v);
        mark_text_width();
        return;
    }
    case 179: {
        // The option file's name; a control loaded without one (a machine
        // file, an MCD file, a built-in control) is named by its machine.
        const text<FILE_NAME_LEN>& option = job_files.file_names[FILE_CONTROL];
        base_name(trimmed_length(option) > 0 ? option.view() : job_files.file_names[FILE_MACHINE].view(), v);
        mark_text_width();
        return;
    }
    case 125: {
        text<MSGLEN> user;
        get_user_name(user.span());
        return set_text(v, trimmed(user.view()));
    }
    case 24:
        return date_part(1, v);
    case 25:
        return month_number(v);
    case 26:
        get_date_time_text(run_state.run_date_time.span());
        return date_part(10, v);
    case 126:
        return date_part(13, v);
    case 127:
        return date_part(16, v);
    case 128:
        return date_part(19, v);

    // Special records.
    case 205:
    case 206: {
        const int slot = index >= 1 ? special_record_slot(index) : 0;
        if (slot == 0) {
            issue_message(294);
            v.status = EXPR_BAD_VARIABLE;
            return;
        }
        if (id == 205) return set_number(v, special_record_store.values[slot]);
        return set_text(v, trimmed(special_record_store.special_record_texts[slot].view()));
    }
    case 208:
        return set_integer(v, special_record_store.current_code);

    default:
        // The operator signs and the tool-offset variables carry no value of the job.
        v.number = 0.0;
        return;
    }
}

}  // namespace

void get_system_variable(std::string_view name, int index, int level, int evaluate, std::span<char> text_out,
                         double& value, int& type, int& status) {
    status = EXPR_BAD_CONDITION;
    text<VARIABLE_WIDTH> key(trimmed(name));
    convert_case(key.span(), 0);
    const bool too_long = trimmed_length(name) > VARIABLE_WIDTH;
    int match = MATCH_NONE;
    const int entry = too_long ? 0 : match_keyword(key.span(), variable_texts(), VARIABLE_WIDTH, VARIABLE_ENTRIES, match);
    if (entry == 0 || (match != MATCH_FOUND && match != MATCH_FOUND_MAY_EXTEND)) {
        set_message_string_arg(1, trimmed(name));
        issue_message(213);
        status = EXPR_BAD_VARIABLE;
        return;
    }
    const variable_table_t& vt = variable_table;
    const int table_type = vt.variable_type[entry];
    type = table_type;
    if (index > 0 && vt.variable_indexable[entry] == 0) {
        set_message_string_arg(1, trimmed(name));
        issue_message(214);
        return;
    }

    const int id = vt.variable_id[entry];
    const int mode = configuration_store.intsp[WORKPLANE_ANGLES];
    if ((id >= 138 && id <= 140) || (id >= 209 && id <= 211)) {
        if (mode != WORKPLANE_APPARENT) {
            issue_message(300);
            status = EXPR_BAD_VARIABLE;
            return;
        }
    } else if (id == 190 || id == 191) {
        if (mode != WORKPLANE_MACHINE_TOOL) {
            issue_message(301);
            status = EXPR_BAD_VARIABLE;
            return;
        }
    }
    if (evaluate == 0) {
        status = EXPR_OK;
        return;
    }

    variable_value v;
    v.type = table_type;
    variable_by_id(id, index, level, v);
    if (v.status != EXPR_OK) {
        status = v.status;
        return;
    }
    value = v.number;
    assign_text(text_out, v.type == VALUE_TEXT || id == 46 ? v.chars.view() : std::string_view());
    status = EXPR_OK;
    if (v.type == table_type) return;
    if (v.type == VALUE_NIL) {
        type = VALUE_NIL;
        return;
    }
    status = EXPR_BAD_VARIABLE;
}

}  // namespace kv
