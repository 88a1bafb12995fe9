// Built-in controls: the table of control names and the setting list that
// each name lays over the default words.
#pragma once

#include <string_view>

#include "runtime/runtime.h"

namespace kv {

// --- control names ---------------------------------------------------------------
constexpr int NCONTROLS = 60;          // built-in control names
constexpr int CONTROL_NAME_LEN = 12;   // characters a name

// The built-in control names in their fixed order ("ab84" first, "standard"
// last); filled once at start-up and only read afterwards.
struct control_names_t {
    array1<text<CONTROL_NAME_LEN>, NCONTROLS> name;
};
extern control_names_t control_names;

void init_control_names();
void list_builtin_controls();

}  // namespace kv
