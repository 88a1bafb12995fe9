// TEMPORARY (store): stand-ins for routines of other subsystems that the
// option-file actions call, until their owners' definitions land. Each is a
// weak definition, so the real one replaces it without a clash. Delete this
// file when the word state and the driver's switches exist.
#include "control/control.h"
#include "job/job.h"

namespace kv {

__attribute__((weak)) command_switches_t command_switches;

// Word state of the output engine: start values given by a word's "value".
__attribute__((weak)) void setwrd(int, int, int) {}
__attribute__((weak)) void setwst(int, std::string_view) {}

}  // namespace kv
