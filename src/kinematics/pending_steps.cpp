// TEMPORARY (steps): stand-in for the retract-and-reconfigure that the
// unwinding at a tool change calls, until it lands; weak, so that the real
// definition replaces it. Delete this file when it does.
#include "kinematics/kinematics.h"
#include "ppnsub/ppnsub.h"

namespace kv {

__attribute__((weak)) void retract_and_reconfigure(const vector3&, const angle_pair&, angle_pair&) {
    print_error_cstring("kelvaron: multi-axis motion is not built yet");
    stop_run(4);
}

}  // namespace kv
