// NC output engine: the word state, the block interpreter and writer with the
// number formatter, expressions and system variables, function codes, feed
// rate, motion output (rapid, linear, go home, circles, cycles, splines) and
// the tape files with their limits and splitting.
#pragma once

#include <span>
#include <string_view>

#include "control/control.h"
#include "runtime/runtime.h"

namespace kv {

// --- word state ------------------------------------------------------------------

// --- block writer and number formatting ---------------------------------------------

// --- block interpreter -----------------------------------------------------------------

// --- expressions and system variables --------------------------------------------------

// --- function codes and value tables ------------------------------------------------------

// --- feed rate output ------------------------------------------------------------------------

// --- motion dispatch and point handling --------------------------------------------------------

// --- linear, rapid and wire moves; go home -------------------------------------------------------

// --- tape files, limits and splitting ---------------------------------------------------------------

// --- circles, cycles and splines ----------------------------------------------------------------------

}  // namespace kv
