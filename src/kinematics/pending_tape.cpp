// TEMPORARY (tape): the multi-axis retract direction of a tape split is
// computed by the machine kinematics, which are not built yet; delete this
// file when they define tool_axis_machine_displacement.
#include "kinematics/kinematics.h"
#include "ppnsub/ppnsub.h"

namespace kv {

__attribute__((weak)) void tool_axis_machine_displacement(vector3& displacement) {
    displacement.fill(0.0);
    print_error_cstring("kelvaron: multi-axis motion is not built yet");
    stop_run(4);
}

}  // namespace kv

namespace kv {

// A three-axis job's tool axis is the initial tool vector (or +Z).
__attribute__((weak)) double height_along_tool_axis(const vector3& point) {
    vector3 axis = machine_model.initial_tool_vector;
    if (vector_length(axis) < 0.001) {
        axis.fill(0.0);
        axis[3] = 1.0;
    }
    return dot_product(point, axis);
}

// No workplane transforms are built yet: no offset.
__attribute__((weak)) double workplane_origin_offset() { return 0.0; }

}  // namespace kv
