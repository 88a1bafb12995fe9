// Writes the same cutfile records in any of the six layouts, for trying the
// reader by hand: "write_cutfile <layout 1..6 | all> <file> [gotos N] [crlf]".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cutfile_writer.h"

using namespace cutfile_writer;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: write_cutfile <layout 1..6 | all> <file> [gotos N] [crlf]\n");
        return 2;
    }
    ascii_style style;
    int gotos = 0;
    for (int a = 3; a < argc; ++a) {
        if (std::strcmp(argv[a], "crlf") == 0) style.crlf = true;
        if (std::strcmp(argv[a], "gotos") == 0 && a + 1 < argc) gotos = std::atoi(argv[++a]);
    }
    std::vector<record> records;
    if (gotos > 0) {
        records.reserve(static_cast<std::size_t>(gotos) + 1);
        for (int i = 1; i <= gotos; ++i) records.push_back(goto_record(i, i));
        records.push_back(make_record(gotos + 1, 14000, 0));
    } else {
        records = sample_records();
    }
    const bool all = std::strcmp(argv[1], "all") == 0;
    for (int layout = 1; layout <= 6; ++layout) {
        if (!all && layout != std::atoi(argv[1])) continue;
        const std::string path = all ? std::string(argv[2]) + "." + std::to_string(layout) : argv[2];
        if (!write_file(path, encode(records, layout, style))) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
