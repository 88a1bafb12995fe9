// Built-in controls: the table of control names and the setting list that
// each name lays over the default words.
#pragma once

#include <string_view>

#include "runtime/runtime.h"

namespace kv {

}  // namespace kv
