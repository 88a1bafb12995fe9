// Job driver and cutfile input: the entry point and run driver, the command
// line, the startup file and job files, the cutfile reader and the record loop.
#pragma once

#include <span>
#include <string_view>

#include "runtime/runtime.h"

namespace kv {

// --- run driver ------------------------------------------------------------------
[[noreturn]] void run_postprocessor();

// --- command line ------------------------------------------------------------------

// --- startup file, file names and job files ---------------------------------------

// --- cutfile layouts and record ring -----------------------------------------------

}  // namespace kv
