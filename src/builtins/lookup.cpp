// Finds the setting list of a built-in control by its name and lays it over
// the default words. Several names share a list; a list is known by the
// first name in the table of control names that selects it.
#include <array>

#include "builtins/builtins.h"

namespace kv {

namespace {

constexpr int STANDARD_POSITION = NCONTROLS;  // "standard" stands last

// For each position in control_names, the position of the name that its list
// is known by: "fanucot" and "fanuc10t" use the list of "fanuc6t", and so on.
constexpr std::array<int, NCONTROLS> LIST_OF_NAME = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10,   // ab84 .. deckel3
    11, 12, 13, 14, 15, 16, 17, 17, 17, 20,   // deckel4 .. fanuc6t, fanucot, fanuc10t, fanuc11m
    20, 20, 20, 24, 25, 25, 25, 28, 29, 29,   // fanuc10m .. fanuc15m, fagor, fanuc, fanuc6m, fanucom, fanucw, fidia, fidian
    31, 32, 33, 34, 32, 36, 37, 38, 39, 40,   // ge2000m, h155, h33, hauser, heid, heid400 .. japtw
    41, 42, 43, 44, 45, 46, 47, 48, 49, 42,   // kryle, maho .. p28m, ph432
    51, 8,  53, 54, 55, 56, 57, 58, 59, 60,   // r2e3, robofil, roland .. tiger, standard
};

// The lines of the list known by the name at position p; this is the one
// place that says which list each position stands for.
std::span<const char* const> list_lines(int p) {
    switch (p) {
        case 1: return ab84_setting_list();
        case 2: return acra8_setting_list();
        case 3: return agie_setting_list();
        case 4: return anilam_setting_list();
        case 5: return bosch_setting_list();
        case 6: return boss_setting_list();
        case 7: return bostom_setting_list();
        case 8: return charm_setting_list();
        case 9: return deckel11_setting_list();
        case 10: return deckel3_setting_list();
        case 11: return deckel4_setting_list();
        case 12: return dyna_setting_list();
        case 13: return dm_setting_list();
        case 14: return eberle_setting_list();
        case 15: return elexa_setting_list();
        case 16: return fadal_setting_list();
        case 17: return fanuc6t_setting_list();
        case 20: return fanuc11m_setting_list();
        case 24: return fagor_setting_list();
        case 25: return fanuc_setting_list();
        case 28: return fanucw_setting_list();
        case 29: return fidia_setting_list();
        case 31: return ge2000m_setting_list();
        case 32: return h155_setting_list();
        case 33: return h33_setting_list();
        case 34: return hauser_setting_list();
        case 36: return heid400_setting_list();
        case 37: return heidiso_setting_list();
        case 38: return hurco_setting_list();
        case 39: return incon_setting_list();
        case 40: return japtw_setting_list();
        case 41: return kryle_setting_list();
        case 42: return maho_setting_list();
        case 43: return matsura_setting_list();
        case 44: return mazak_setting_list();
        case 45: return mitsu_setting_list();
        case 46: return mitsuw_setting_list();
        case 47: return num_setting_list();
        case 48: return okuma_setting_list();
        case 49: return p28m_setting_list();
        case 51: return r2e3_setting_list();
        case 53: return roland_setting_list();
        case 54: return siem850_setting_list();
        case 55: return selca_setting_list();
        case 56: return servo_setting_list();
        case 57: return sodick_setting_list();
        case 58: return tcomp_setting_list();
        case 59: return tiger_setting_list();
        case STANDARD_POSITION: return standard_setting_list();
        default: return {};
    }
}

}  // namespace

std::span<const char* const> find_setting_list(std::string_view name) {
    // The lookup walks the table of names; fill it if start-up has not yet,
    // since a blank table would let a blank name select the first list.
    if (trimmed_length(control_names.name[STANDARD_POSITION]) == 0) init_control_names();

    // Compared blank-padded and case-sensitive, in table order; "standard"
    // and the blank name are tested only after every other name.
    for (int i = 1; i < STANDARD_POSITION; ++i)
        if (text_equals(name, control_names.name[i])) return list_lines(LIST_OF_NAME[static_cast<std::size_t>(i - 1)]);
    if (text_equals(name, " ") || text_equals(name, control_names.name[STANDARD_POSITION]))
        return list_lines(STANDARD_POSITION);
    return {};
}

void load_builtin_control(std::string_view name, int& status) {
    status = 0;
    const std::span<const char* const> lines = find_setting_list(name);
    if (lines.empty()) {
        status = 1;
        return;
    }
    // The lists are constant data checked by the unit tests; a line that does
    // not read is a fault of the program, not of the user's control.
    if (apply_setting_list(lines) != 0) {
        assert_fail(__FILE__, __LINE__, "built-in setting list line unreadable");
        status = 1;
    }
}

}  // namespace kv
