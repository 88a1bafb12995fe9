// The single stop routine through which every run ends: every unit opened by
// open_unit is closed, then the process exits with the run's exit code.
#include <cstdlib>

#include "ppnsub/ppnsub.h"

namespace kv {

namespace {
// Set only by test harnesses (set_stop_hook); the program never sets it.
void (*stop_hook)(int code) = nullptr;
}  // namespace

void set_stop_hook(void (*hook)(int code)) { stop_hook = hook; }

void stop_run(int code) {
    for (int u = 0; u <= MAXUNIT; ++u) {
        int unit = u;
        int status = IO_OK;
        // Only units opened by open_unit close; the rest report -10, ignored.
        filclo(unit, status);
    }
    if (stop_hook != nullptr) stop_hook(code);
    // std::exit flushes standard output and standard error.
    std::exit(code);
}

}  // namespace kv
