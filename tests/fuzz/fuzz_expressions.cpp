// Fuzzes the expression and condition evaluator over any text: operands,
// index brackets and braces, quoted texts and relations must stay inside
// their fields whether the text is evaluated or only checked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "control/control.h"
#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace {
struct run_stopped {};
void throw_on_stop(int) { throw run_stopped{}; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = false;
    if (!started) {
        int st = 0;
        kv::init_units(st);
        kv::init_message_table(st);
        kv::register_builtin_messages();
        kv::unit_table.stream[static_cast<std::size_t>(kv::message_unit())] = std::fopen("/dev/null", "w");
        kv::set_configuration_defaults();
        kv::set_default_words();
        kv::set_stop_hook(throw_on_stop);
        started = true;
    }
    // No operator answers questions here: the part name and program number are known.
    kv::configuration_store.spchar[7].set("PART");
    kv::system_variable_state.program_number_asked = 1;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    kv::text<kv::EXPRESSION_RESULT_LENGTH> result;
    double value = 0.0;
    int type = kv::VALUE_NIL;
    int status = 0;
    try {
        for (int evaluate = 0; evaluate <= 1; ++evaluate) {
            kv::evaluate_expression(in, evaluate, result.span(), value, type, status);
            kv::evaluate_condition(in, evaluate, status);
        }
    } catch (const run_stopped&) {
    }
    return 0;
}
