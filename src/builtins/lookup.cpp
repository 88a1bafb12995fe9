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

// The lines of the list known by the name at position p. The lists that are
// not built yet give no lines, so that their names are refused like unknown
// ones; this is the one place that says which lists exist.
std::span<const char* const> list_lines(int p) {
    switch (p) {
        case 25: return fanuc_setting_list();
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
