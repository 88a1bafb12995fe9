// TEMPORARY (commands): stand-ins for the multi-axis routines of the tool
// change and the cycle record until the multi-axis motion is built; delete
// this file when the real ones land.
#include <cstdio>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int FLAG_MULTIAXIS_MODE = 20;

[[noreturn]] void multiaxis_not_built() {
    std::fputs("kelvaron: multi-axis motion is not built yet\n", stderr);
    stop_run(4);
}

}  // namespace

// A three-axis job (multi-axis mode off, no multi-axis moves in the cutfile)
// measures heights along Z.
__attribute__((weak)) double height_along_tool_axis(const vector3& point) {
    if (get_state_flag(FLAG_MULTIAXIS_MODE) == 0 && get_cutfile_multiaxis() == 0) return point[3];
    multiaxis_not_built();
}

__attribute__((weak)) void unwind_rotary_axes() { multiaxis_not_built(); }

__attribute__((weak)) void turn_back_to_tool_axis() { multiaxis_not_built(); }

}  // namespace kv
