// TEMPORARY (motion): stand-ins for the multi-axis motion that is not built
// yet. A three-axis job never reaches them; delete this file when the
// multi-axis dispatch, the point transforms and the step feed land.
#include <cstdio>

#include "kinematics/kinematics.h"
#include "ppnsub/ppnsub.h"

namespace kv {

multiaxis_feed_t multiaxis_feed;

void multiaxis_motion_not_built() {
    print_error_cstring("kelvaron: multi-axis motion is not built yet");
    stop_run(4);
}

}  // namespace kv
