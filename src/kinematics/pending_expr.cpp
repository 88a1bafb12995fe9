// TEMPORARY (expr): the point transforms that the system variables read
// through, until the workplane and machine kinematics are built. Weak, so
// that the real definitions replace them; delete this file when they land.
#include "kinematics/kinematics.h"

namespace kv {

__attribute__((weak)) void part_to_current_frame_point(vector3&) { multiaxis_motion_not_built(); }
__attribute__((weak)) void current_frame_to_part_point(vector3&) { multiaxis_motion_not_built(); }

}  // namespace kv
