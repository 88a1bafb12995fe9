// Fuzzes file-name composition, name parts, argument quoting and line reads:
// every result must stay inside its field, whatever the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "ppnsub/ppnsub.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    // name '\n' extension '\n' directory '\n' line data
    std::string_view part[4];
    std::size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t nl = in.find('\n', from);
        if (nl == std::string_view::npos) {
            part[i] = in.substr(from);
            from = in.size();
            break;
        }
        part[i] = in.substr(from, nl - from);
        from = nl + 1;
    }
    part[3] = in.substr(from);

    kv::text<24> small;
    kv::text<256> large;
    int st = 0;
    kv::build_file_name(small, part[0], part[1], part[2], st);
    kv::build_file_name(large, part[0], part[1], part[2], st);
    kv::build_unc_file_name(small, part[0], part[1], part[2], st);
    kv::file_name_part(small, part[0]);
    kv::strip_extension(small, part[0]);
    std::string q(part[0]);
    kv::quote_if_blanks(std::span<char>(q.data(), q.size()));

    kv::init_units(st);
    std::string bytes(part[3]);
    std::FILE* f = bytes.empty() ? nullptr : fmemopen(bytes.data(), bytes.size(), "r");
    if (f != nullptr) {
        kv::unit_table.stream[11] = f;
        kv::unit_table.status[11] = kv::OPENED_UNIT;
        kv::unit_table.access[11] = kv::ACCESS_READ;
        kv::text<16> line;
        for (int k = 0; k < 64; ++k) {
            int n = 1 + k % 16;
            kv::read_text_line(11, line, n, st);
            if (st == kv::IO_END) break;
        }
        int u = 11;
        kv::filclo(u, st);
    }
    return 0;
}
