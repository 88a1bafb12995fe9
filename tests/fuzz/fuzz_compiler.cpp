// Feeds arbitrary text to the option-file compiler: as one file, or compiled
// twice in turn like a machine file and an option file, with errors stopping
// the run or passed over ("-o"). No input may crash, hang or write outside a
// table; a stop of the run unwinds back here through the stop hook.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

struct run_stopped {
    int code;
};

void throw_on_stop(int code) { throw run_stopped{code}; }

std::string file_name;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    set_stop_hook(throw_on_stop);
    // A "query" meets the end of its input at once; messages go nowhere.
    std::freopen("/dev/null", "r", stdin);
    unit_table.stream[static_cast<std::size_t>(unit_table.message_unit_number)] = std::fopen("/dev/null", "w");
    file_name = "/tmp/fuzz_compiler_" + std::to_string(getpid()) + ".opt";
    return 0;
}

// The first byte chooses the mode: bit 0 passes errors over, bit 1 compiles
// the text twice in turn; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int mode = data[0];
    std::FILE* f = std::fopen(file_name.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    set_configuration_defaults();
    command_switches.continue_after_error = mode & 1;
    const int compiles = (mode & 2) ? 2 : 1;
    for (int i = 0; i < compiles; ++i) {
        int status = 0;
        int unit = -1;
        open_unit(unit, file_name, OPEN_READ, FORM_TEXT, status);
        if (status != 0) break;
        try {
            parse_option_file(unit, "fuzz.opt");
        } catch (const run_stopped&) {
            break;  // the stop closed every unit
        }
        filclo(unit, status);
    }
    return 0;
}
