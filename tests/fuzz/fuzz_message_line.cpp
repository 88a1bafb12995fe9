// Feeds arbitrary message lines to the line formatter and arbitrary text lines
// to the token reader, in targets and token fields of several widths.
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/control.h"
#include "runtime/runtime.h"

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte chooses the target width (1..160), the second the token
    // field width (1..64); the rest is the line.
    const std::size_t width = 1 + data[0] % 160;
    const std::size_t token_width = 1 + data[1] % 64;
    const std::string line(reinterpret_cast<const char*>(data + 2), size - 2);

    static const bool ready = [] {
        for (int i = 1; i <= MAXMSGARGS; ++i) {
            set_message_int_arg(i, i % 2 ? -2147483647 - 1 : 2147483647);
            set_message_real_arg(i, i % 2 ? -1e300 : 123456.789);
            set_message_string_arg(i, std::string(static_cast<std::size_t>(i * 13), 'a' + i));
        }
        return true;
    }();
    (void)ready;

    std::string target(width, '#');
    array1<int, 3> cursors;
    cursors.fill(1);
    const int result = format_message_line(line, {target.data(), target.size()}, cursors);
    if (result != 0 && result != 7 && result != 8 && result != 9) __builtin_trap();
    for (int i = 1; i <= 3; ++i)
        if (cursors[i] < 1 || cursors[i] > MAXMSGARGS + 1) __builtin_trap();
    if (result == 0 && target.find('#') != std::string::npos && line.find('#') == std::string::npos) __builtin_trap();

    // Cut the whole line into tokens: each call consumes something until none is left.
    std::string field = line;
    std::string token(token_width, ' ');
    for (std::size_t calls = 0; calls <= field.size() + 1; ++calls) {
        int length = -1;
        const int type = tokenise_line({field.data(), field.size()}, {token.data(), token.size()}, length);
        if (type < TOKEN_NONE || type > TOKEN_OPEN_PAREN) __builtin_trap();
        if (length < 0 || static_cast<std::size_t>(length) > token_width) __builtin_trap();
        if (type == TOKEN_NONE) return 0;
    }
    __builtin_trap();  // the reader made no progress
}
