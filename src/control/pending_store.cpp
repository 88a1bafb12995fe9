// TEMPORARY (store): stand-ins for the word-state routines of the output
// engine that the option-file actions call for a word's "value", until their
// owner's definitions land. Weak definitions, so the real ones replace them
// without a clash. Delete this file when the word state exists.
#include "control/control.h"

namespace kv {

__attribute__((weak)) void setwrd(int, int, int) {}
__attribute__((weak)) void setwst(int, std::string_view) {}

}  // namespace kv
