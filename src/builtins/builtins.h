// Built-in controls: the table of control names and the setting list that
// each name lays over the default words.
#pragma once

#include <span>
#include <string_view>

#include "control/control.h"
#include "runtime/runtime.h"

namespace kv {

// --- control names ---------------------------------------------------------------
constexpr int NCONTROLS = 60;          // built-in control names
constexpr int CONTROL_NAME_LEN = 12;   // characters a name

// The built-in control names in their fixed order ("ab84" first, "standard"
// last); filled once at start-up and only read afterwards.
struct control_names_t {
    array1<text<CONTROL_NAME_LEN>, NCONTROLS> name;
};
extern control_names_t control_names;

void init_control_names();
void list_builtin_controls();

// --- setting lists ---------------------------------------------------------------
// A built-in control is a list of constant assignments to the configuration
// store, one a line, in the notation that the difference dump prints:
// table(indices) = value, with 1-based indices. A value is an integer, a real,
// a quoted text ('' stands for one quote) or char(n), a text holding the one
// character of code n. Texts are cut or padded with blanks to the element.
constexpr int ASSIGNMENT_INDICES = 3;              // indices an element takes at most
constexpr int ASSIGNMENT_TEXT_LENGTH = SPCHAR_LENGTH;  // the widest text element
constexpr int ASSIGNED_INTEGER = 1;
constexpr int ASSIGNED_REAL = 2;
constexpr int ASSIGNED_TEXT = 3;

// One assignment as read from its line: the table, the element and the value.
struct setting_assignment {
    int table = 0;                                 // row of the applier's table of names
    int index_count = 0;
    array1<int, ASSIGNMENT_INDICES> index;
    int value_type = 0;                            // VALUE_*
    int int_value = 0;
    double real_value = 0.0;
    text<ASSIGNMENT_TEXT_LENGTH> text_value;
};

// Reads one assignment line. Returns 0, or 1 when the line is not an
// assignment to a known element (unknown name, wrong number of indices, an
// index out of the element's bounds, or a value of the wrong type or range).
int read_assignment(std::string_view line, setting_assignment& a);
void apply_assignment(const setting_assignment& a);
// 1 when the store holds the assignment's value (texts compared blank-padded,
// reals to half a unit in the sixth decimal, as the dump prints them).
int assignment_holds(const setting_assignment& a);
// Applies the lines in order. Returns 0, or the number of the first line that
// does not read; the lines before it stay applied.
int apply_setting_list(std::span<const char* const> lines);

// The 49 lists, each known by the first name in the table of control names
// that selects it. Each is written as option-file text in
// src/builtins/controls/NAME.opt and compiled into its assignment lines when
// the program is built (src/builtins/generate/list_generator.cpp).
std::span<const char* const> standard_setting_list();
std::span<const char* const> ab84_setting_list();
std::span<const char* const> acra8_setting_list();
std::span<const char* const> agie_setting_list();
std::span<const char* const> anilam_setting_list();
std::span<const char* const> bosch_setting_list();
std::span<const char* const> boss_setting_list();
std::span<const char* const> bostom_setting_list();
std::span<const char* const> charm_setting_list();
std::span<const char* const> deckel11_setting_list();
std::span<const char* const> deckel3_setting_list();
std::span<const char* const> deckel4_setting_list();
std::span<const char* const> dyna_setting_list();
std::span<const char* const> dm_setting_list();
std::span<const char* const> eberle_setting_list();
std::span<const char* const> elexa_setting_list();
std::span<const char* const> fadal_setting_list();
std::span<const char* const> fanuc6t_setting_list();
std::span<const char* const> fanuc11m_setting_list();
std::span<const char* const> fagor_setting_list();
std::span<const char* const> fanuc_setting_list();
std::span<const char* const> fanucw_setting_list();
std::span<const char* const> fidia_setting_list();
std::span<const char* const> ge2000m_setting_list();
std::span<const char* const> h155_setting_list();
std::span<const char* const> h33_setting_list();
std::span<const char* const> hauser_setting_list();
std::span<const char* const> heid400_setting_list();
std::span<const char* const> heidiso_setting_list();
std::span<const char* const> hurco_setting_list();
std::span<const char* const> incon_setting_list();
std::span<const char* const> japtw_setting_list();
std::span<const char* const> kryle_setting_list();
std::span<const char* const> maho_setting_list();
std::span<const char* const> matsura_setting_list();
std::span<const char* const> mazak_setting_list();
std::span<const char* const> mitsu_setting_list();
std::span<const char* const> mitsuw_setting_list();
std::span<const char* const> num_setting_list();
std::span<const char* const> okuma_setting_list();
std::span<const char* const> p28m_setting_list();
std::span<const char* const> r2e3_setting_list();
std::span<const char* const> roland_setting_list();
std::span<const char* const> siem850_setting_list();
std::span<const char* const> selca_setting_list();
std::span<const char* const> servo_setting_list();
std::span<const char* const> sodick_setting_list();
std::span<const char* const> tcomp_setting_list();
std::span<const char* const> tiger_setting_list();

// The list that a control name selects; empty when the name selects none.
std::span<const char* const> find_setting_list(std::string_view name);
// Applies the list of a control name: status 0 when a list was applied, 1
// when the name has none (nothing is assigned).
void load_builtin_control(std::string_view name, int& status);

}  // namespace kv
