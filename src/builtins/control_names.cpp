// The table of built-in control names and its listing for switch "-l".
// The names stand in their fixed order; several names share a setting list.
#include <array>

#include "builtins/builtins.h"
#include "ppnsub/ppnsub.h"

namespace kv {

control_names_t control_names;

namespace {

const std::array<const char*, NCONTROLS> CONTROL_NAME_TEXTS = {
    "ab84",
    "acra8",
    "agie",
    "anilam",
    "bosch",
    "boss",
    "bostom",
    "charm",
    "deckel11",
    "deckel3",
    "deckel4",
    "dyna",
    "dm",
    "eberle",
    "elexa",
    "fadal",
    "fanuc6t",
    "fanucot",
    "fanuc10t",
    "fanuc11m",
    "fanuc10m",
    "fanuc12m",
    "fanuc15m",
    "fagor",
    "fanuc",
    "fanuc6m",
    "fanucom",
    "fanucw",
    "fidia",
    "fidian",
    "ge2000m",
    "h155",
    "h33",
    "hauser",
    "heid",
    "heid400",
    "heidiso",
    "hurco",
    "incon",
    "japtw",
    "kryle",
    "maho",
    "matsura",
    "mazak",
    "mitsu",
    "mitsuw",
    "num",
    "okuma",
    "p28m",
    "ph432",
    "r2e3",
    "robofil",
    "roland",
    "siem850",
    "selca",
    "servo",
    "sodick",
    "tcomp",
    "tiger",
    "standard",
};

}  // namespace

void init_control_names() {
    for (int i = 1; i <= NCONTROLS; ++i) control_names.name[i].set(CONTROL_NAME_TEXTS[static_cast<std::size_t>(i - 1)]);
}

void list_builtin_controls() {
    for (int i = 1; i <= NCONTROLS; ++i) print_line(control_names.name[i]);
}

}  // namespace kv
