// TEMPORARY (kinematics): stand-ins for values that pass 1 and the word state
// will provide; delete this file when `from_position` and `MULT` exist, and
// make the machine set-up read them directly.
#include "kinematics/kinematics.h"

namespace kv {

// The FROM point divided by MULT of the word of key 8 ("x coordinate"). The
// machine set-up runs before pass 1, when the FROM point is still (0, 0, 0).
void pending_scaled_from_point(vector3& tip) { tip.fill(0.0); }

// previous_rotary_angles := (0, 0); they are 0 from the configuration defaults.
void pending_clear_previous_rotary_angles() {}

}  // namespace kv
