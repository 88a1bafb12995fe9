// Feeds arbitrary bytes to the MCD file reader as a file of the control
// "standard", read onto a fresh store over the default words, as the driver
// loads it. No input may crash, hang or write outside a table; a stop of the
// run (a blank version text) unwinds back here through the stop hook.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "control/control.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

struct run_stopped {
    int code;
};

void throw_on_stop(int code) { throw run_stopped{code}; }

std::string file_name;
configuration_store_t* pristine = nullptr;  // static values, then the configuration defaults

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    set_stop_hook(throw_on_stop);
    unit_table.stream[static_cast<std::size_t>(unit_table.message_unit_number)] = std::fopen("/dev/null", "w");
    file_name = "/tmp/fuzz_mcd_" + std::to_string(getpid()) + ".mcd";
    set_configuration_defaults();
    pristine = new configuration_store_t(configuration_store);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(file_name.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    configuration_store = *pristine;
    mcd_reserved = mcd_reserved_t{};
    set_default_words();
    int status = 0;
    int unit = -1;
    open_unit(unit, file_name, OPEN_READ, FORM_TEXT, status);
    if (status != 0) return 0;
    status = -1;
    try {
        read_mcd_file(unit, "./standard.mcd", status);
    } catch (const run_stopped&) {
        return 0;  // the stop closed every unit
    }
    // The reader closes its unit, and answers with one of its codes.
    if (unit >= 0) __builtin_trap();
    const int group = status / MCD_GROUP_FACTOR, error = status % MCD_GROUP_FACTOR;
    const bool known = status == 0 || status == MCD_NAME_MISMATCH ||
                       (group >= 1 && group <= MCD_WHOLE_FILE_GROUP && (error == MCD_BAD_FIELD || error == MCD_BAD_CHECK));
    if (!known) __builtin_trap();
    // What was read stays inside the tables it bounds.
    const configuration_store_t& cs = configuration_store;
    if (status == 0) {
        if (cs.NGPS < 0 || cs.NGPS > MAXDEFWORDS || cs.active_word_count != cs.NGPS) __builtin_trap();
        for (int b = 1; b <= MCD_BLOCKS; ++b)
            if (cs.blklen[b] < 0 || cs.blklen[b] > MAXITEMS) __builtin_trap();
        for (int c = 1; c <= NUMREALS; ++c)
            if (!std::isfinite(cs.real_options[c])) __builtin_trap();
        for (int c = 1; c <= MCD_RESERVED_REALS; ++c)
            if (!std::isfinite(mcd_reserved.reals[c])) __builtin_trap();
    }
    return 0;
}
