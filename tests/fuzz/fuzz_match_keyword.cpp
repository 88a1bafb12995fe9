// Feeds arbitrary words to match_keyword over the keyword and system-variable
// tables and over a short table without fillers, in fields of several widths.
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/control.h"

using namespace kv;

namespace {
void check_result(int index, int status, int count) {
    if (index < 0 || index > count) __builtin_trap();
    if (status < MATCH_NONE || status > MATCH_FOUND_MAY_EXTEND) __builtin_trap();
    if ((index > 0) != (status == MATCH_FOUND || status == MATCH_FOUND_MAY_EXTEND)) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the field width (1..128), the rest is the text.
    const std::size_t width = 1 + data[0] % 128;
    const std::string word(reinterpret_cast<const char*>(data + 1), size - 1);
    static const std::string small_table = [] {
        std::string t;
        for (const char* w : {"=", "file", "machine", "message", "off", "on", "tape"}) t.append(text<20>(w).view());
        return t;
    }();
    std::string field(width, ' ');
    int status = -1;
    auto run = [&](std::string_view table, int w, int count) {
        field.assign(width, ' ');
        field.replace(0, word.size() < width ? word.size() : width, word, 0, width);
        check_result(match_keyword(field, table, w, count, status), status, count);
    };
    run(keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES);
    run(variable_texts(), VARIABLE_WIDTH, VARIABLE_ENTRIES);
    run(small_table, 20, 7);
    return 0;
}
