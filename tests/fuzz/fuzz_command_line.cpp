// Fuzzes the command line and the startup file: arguments of any length and
// content, and any startup text, must stay inside their fields.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = false;
    if (!started) {
        int st = 0;
        kv::init_units(st);
        kv::init_message_table(st);
        kv::register_builtin_messages();
        // Messages of bad words and lines go nowhere; the fuzzer keeps stderr.
        kv::unit_table.stream[static_cast<std::size_t>(kv::message_unit())] = std::fopen("/dev/null", "w");
        started = true;
    }
    // Arguments one a line up to a line "@@", then the startup file's text.
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t split = in.find("\n@@\n");
    const std::string_view args_text = in.substr(0, split);
    const std::string_view startup = split == std::string_view::npos ? std::string_view() : in.substr(split + 4);

    std::vector<std::string> args{"kelvaron"};
    std::size_t from = 0;
    while (from <= args_text.size()) {
        const std::size_t nl = args_text.find('\n', from);
        args.emplace_back(args_text.substr(from, nl == std::string_view::npos ? std::string_view::npos : nl - from));
        if (nl == std::string_view::npos) break;
        from = nl + 1;
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    kv::store_command_line(static_cast<int>(args.size()), argv.data());
    kv::command_switches = kv::command_switches_t{};
    kv::set_file_defaults();
    int status = 0;
    kv::parse_command_line(status);

    if (!startup.empty()) {
        char name[] = "/tmp/kv_fuzz_startup_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) return 0;
        std::FILE* f = fdopen(fd, "w");
        std::fwrite(startup.data(), 1, startup.size(), f);
        std::fclose(f);
        int unit = kv::NO_UNIT;
        kv::open_unit(unit, name, kv::OPEN_READ_OLD, kv::FORM_TEXT, status);
        if (unit >= 0) {
            kv::read_startup_file(unit, status);
            kv::filclo(unit, status);
        }
        std::remove(name);
    }
    return 0;
}
