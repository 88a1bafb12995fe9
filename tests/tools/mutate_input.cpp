// Writes a damaged copy of an input file for the robustness runs:
// "mutate_input <in> <out> <seed> [blank-lines | cut-short]". The same seed
// always gives the same copy (tests/tools/mutation.h); a failing robustness
// run names the command that makes its input again.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mutation.h"

int main(int argc, char** argv) {
    mutation::copy_kind kind = mutation::copy_kind::damaged;
    if (argc == 5 && std::string(argv[4]) == "blank-lines") kind = mutation::copy_kind::blank_lines;
    if (argc == 5 && std::string(argv[4]) == "cut-short") kind = mutation::copy_kind::cut_short;
    if (argc != 4 && (argc != 5 || kind == mutation::copy_kind::damaged)) {
        std::fprintf(stderr, "usage: mutate_input <in> <out> <seed> [blank-lines | cut-short]\n");
        return 2;
    }
    std::string s;
    if (std::FILE* f = std::fopen(argv[1], "rb")) {
        char buf[65536];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, got);
        std::fclose(f);
    } else {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    s = mutation::mutated(std::move(s), std::strtoull(argv[3], nullptr, 10), kind);
    std::FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(s.data(), 1, s.size(), f) != s.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
