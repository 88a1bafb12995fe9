// Job set-up: pass 1 with its progress, the machine check, the conversion of
// option-file lengths into the output units, the start state of the first
// toolpath, the print and setup headers and the tape start.
#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int OUTPUT_IMPERIAL = 30;
constexpr int OUTPUT_METRIC = 40;
constexpr int WORKPLANE_ANGLES_APPARENT = 3000;
constexpr int KEY_X_COORDINATE = 8;
constexpr int TAPE_START_LABEL = 19;  // message 49 "TAPE START"
constexpr int PART_NUMBER_LINE = 120;
constexpr int PART_NUMBER_INDENT = 10;

// R codes of the real settings in option-file lengths.
constexpr int LENGTH_SETTINGS[] = {1, 2, 3, 11, 16, 20};  // feeds, diameter, arc radius limits
constexpr int PCS_ORIGIN = 101;                           // x, y, z; then the three angles
constexpr int LINEAR_AXIS_LIMITS = 116;                   // six values
constexpr int MSG_NO_ROTARY_AXIS = 305;  // multi-axis moves for a machine without rotary axes


void scale(vector3& v, double f) {
    for (int k = 1; k <= 3; ++k) v[k] *= f;
}

}  // namespace

void run_pass1(int& status) {
    status = 1;
    const int new_style = cutfile_has_toolpath_records();
    report_cldata_progress(1);
    if (new_style) {
        set_cutfile_new_style(1);
        pass1(status);
    } else {
        set_cutfile_new_style(0);
        pass1_classic(status);
    }
    report_cldata_progress(-1);
}

void check_multiaxis_machine() {
    if (machine_model.machine_type == MACHINE_NO_ROTARY && machine_model.machine_subtype == 0 &&
        get_cutfile_multiaxis()) {
        reject_axes_configuration(MSG_NO_ROTARY_AXIS, EXIT_RUN_ERROR);
    }
}

void set_three_axis_flag() {
    const configuration_store_t& cs = configuration_store;
    store_three_axis_flag(!get_cutfile_multiaxis() && cs.intsp[82] == 0 && cs.intsp[97] == 0 ? 1 : 0);
}

void convert_units_and_geometry() {
    convert_option_units();
    init_run_machine_state();
    feed_state.feedrate = toolpath_tables.toolpath_feedrate[1];
}

// Runs once per job: a second run would scale the settings again.
void convert_option_units() {
    const int u = configuration_store.intsp[88];
    const int c = configuration_store.intsp[39];
    double f = 1.0;
    if (u == OUTPUT_IMPERIAL && c == OUTPUT_METRIC) f = 25.4;
    if (u == OUTPUT_METRIC && c == OUTPUT_IMPERIAL) f = 0.03937007874015748;
    if (f == 1.0) return;
    for (int code : LENGTH_SETTINGS) real_option(code) *= f;
    for (int k = 0; k < 6; ++k) real_option(LINEAR_AXIS_LIMITS + k) *= f;
    for (int k = 0; k < 3; ++k) real_option(PCS_ORIGIN + k) *= f;
    machine_model_t& m = machine_model;
    scale(m.tool_azimuth_centre, f);
    scale(m.table_azimuth_centre, f);
    scale(m.tool_elevation_centre, f);
    scale(m.table_elevation_centre, f);
    m.linearisation_tolerance *= f;
    m.withdrawal *= f;
    for (int k = 1; k <= 6; ++k) m.xyz_limits[k] *= f;
    scale(m.pcs_origin, f);
}

void init_run_machine_state() {
    machine_model_t& m = machine_model;
    multiaxis_motion_state_t& s = multiaxis_motion_state;
    const toolpath_tables_t& t = toolpath_tables;
    set_pcs_transform(m.pcs_angles[3], m.pcs_angles[1], m.pcs_angles[2]);
    for (int k = 1; k <= 3; ++k) s.tool_tip[k] = t.toolpath_start[1][k];
    if (m.linearise_multiaxis) {
        const int x_word = configuration_store.key[KEY_X_COORDINATE];
        const double r = x_word >= 1 && x_word < NO_WORD ? 1.0 / MULT(x_word) : 1.0;
        m.tool_length = get_flag102() ? t.toolpath_alt_tool_length[1] : t.toolpath_tool_length[1];
        vector3 p;
        for (int k = 1; k <= 3; ++k) p[k] = s.tool_tip[k] + 2.0 * r;
        kinematic_transform_start_point(p);
        for (int k = 1; k <= 3; ++k) motion_state.previous_position[k] = p[k];
    }
    if (!get_cutfile_multiaxis() && configuration_store.intsp[97] != 0) {
        s.tool_axis[1] = s.tool_axis[2] = 0.0;
        s.tool_axis[3] = 1.0;
        vector3 p;
        for (int k = 1; k <= 3; ++k) p[k] = motion_state.previous_position[k];
        set_start_angles_for_vertical_tool(p);
    } else {
        s.tool_axis = m.initial_tool_vector;
    }
    if (rotary_machine(m.machine_type)) set_start_rotary_words();
    int status = 0;
    select_workplane_transform(1, status);
    select_machine_workplane(1, status);
}

void check_toolpath_workplanes(int& status) {
    status = 0;
    const int angles = configuration_store.intsp[82];
    if (angles == WORKPLANE_ANGLES_APPARENT && !get_cutfile_has_workplane()) {
        issue_message(268);
        status = 1;
        return;
    }
    if (!get_cutfile_has_workplane() || angles == 0) return;
    const toolpath_tables_t& t = toolpath_tables;
    for (int i = 1; i <= pass1_results.toolpath_count && i <= MAXTOOLPATHS; ++i) {
        const toolpath_workplane_t& wp = t.toolpath_workplanes[static_cast<std::size_t>(i)];
        if (wp.kind == WORKPLANE_FIVE_AXIS) continue;
        matrix3 m;
        for (int k = 1; k <= 9; ++k) m[k] = wp.matrix[k];
        vector3 axis;
        transform_initial_tool_vector(m, axis);
        if (!rotary_solution_exists(axis)) {
            set_message_string_arg(1, trimmed(t.toolpath_names[i].view()));
            issue_message(267);
            status = 1;
            return;
        }
    }
}

void write_listing_headers(std::string_view date_time) {
    pass1_results_t& r = pass1_results;
    if (r.part_number_length == 0) {
        text<MSGLEN> prompt;
        format_message_first_line(111, prompt);
        if (!prompt_and_read_line(prompt.view().substr(0, PART_NUMBER_LEN), r.part_number)) {
            issue_message(112);
            return;
        }
        r.part_number_length = 20;
    }
    const std::string_view date = date_time.substr(0, 12);
    const std::string_view time = date_time.substr(12, 8);
    text<12> user;
    get_user_name(user);
    const std::string_view machine = configuration_store.spchar[2].view().substr(0, 10);
    set_message_string_arg(1, configuration_store.spchar[1]);
    set_message_string_arg(2, date);
    set_message_string_arg(3, time);
    set_message_string_arg(4, user);
    set_message_string_arg(5, machine);
    const int print = job_unit(FILE_PRINT);
    if (print >= 0) write_message(print, 11);

    const int setup = job_unit(FILE_SETUP);
    if (setup < 0) return;
    write_message(setup, 236);
    const std::string_view values[] = {date, time, user.view(), machine};
    for (int k = 0; k < 4; ++k) {
        set_message_string_arg(1, values[k]);
        write_message(setup, 237 + k);
    }
    write_message(setup, 241);
}

void start_tape(std::string_view) {
    const pass1_results_t& r = pass1_results;
    const int print = job_unit(FILE_PRINT);
    if (r.part_number_length != 0 && print >= 0) {
        text<PART_NUMBER_LINE> line;
        int n = r.part_number_length - 1;
        if (n > PART_NUMBER_LEN) n = PART_NUMBER_LEN;
        for (int k = 1; k <= n; ++k) line[PART_NUMBER_INDENT + k] = r.part_number[k];
        write_line_or_stop(trimmed(line.view()), print);
    }
    // Whatever the tape start writes for X, Y and Z (a return to the
    // reference point, say), the first move writes every axis.
    mark_axes_unwritten();
    set_reference_message(TAPE_START_LABEL);
    run_block(1);
}

}  // namespace kv
