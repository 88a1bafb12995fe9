// TEMPORARY (tape): the wire-mode circle and the circles of azimuth/elevation
// heads are not written yet; a job that reaches them stops instead of writing
// a wrong tape. Delete this file when circles.cpp defines them.
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

__attribute__((weak)) void output_circle_move() {
    print_error_cstring("kelvaron: multi-axis motion is not built yet");
    stop_run(4);
}

}  // namespace kv
