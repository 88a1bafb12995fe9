// TEMPORARY (job): stand-ins for the workplane transforms and rotary-angle
// solution of job set-up until the workplane kinematics are built; delete this
// file when they define the routines below. A three-axis job keeps the
// identity transforms; every path that needs the kinematics stops the run.
#include <string>

#include "kinematics/kinematics.h"
#include "ppnsub/ppnsub.h"

namespace kv {

__attribute__((weak)) void read_toolpath_workplane(int, const matrix3&, int& status) {
    status = 1;
    multiaxis_motion_not_built();
}

__attribute__((weak)) void set_pcs_transform(double, double, double) {}

__attribute__((weak)) void select_workplane_transform(int, int& status) { status = 0; }

__attribute__((weak)) void select_machine_workplane(int, int& status) { status = 0; }

__attribute__((weak)) int rotary_solution_exists(const vector3&) { multiaxis_motion_not_built(); }

__attribute__((weak)) void set_start_angles_for_vertical_tool(const vector3&) { multiaxis_motion_not_built(); }

__attribute__((weak)) void kinematic_transform_start_point(vector3&) { multiaxis_motion_not_built(); }

__attribute__((weak)) void report_motion_error(int status) {
    if (status == 0) return;
    const std::string line = "kelvaron: motion status " + std::to_string(status) + " (its report is not built yet)";
    print_error_cstring(line.c_str());
    stop_run(4);
}

}  // namespace kv
