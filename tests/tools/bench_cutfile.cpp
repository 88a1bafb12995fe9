// Times reading a cutfile of a million GOTO records in each layout through the
// record ring: "bench_cutfile [records] [layout]". A benchmark, not a test.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "cutfile_writer.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

using namespace cutfile_writer;

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int only = argc > 2 ? std::atoi(argv[2]) : 0;
    int status = 0;
    kv::init_units(status);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("kv_bench_" + std::to_string(::getpid()) + ".cut")).string();
    ascii_style style;
    style.int_width = 8;  // record numbers up to the millions
    for (int layout = 1; layout <= 6; ++layout) {
        if (only != 0 && layout != only) continue;
        std::string bytes = layout == 4 ? ascii_header(style) + "\n" : std::string();
        for (int i = 1; i <= records; ++i) encode_record(bytes, goto_record(i, i), layout, i, style);
        encode_record(bytes, make_record(records + 1, 14000, 0), layout, records + 1, style);
        if (!write_file(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        kv::open_cldata(path, kv::CLDATA_DETECT, status);
        int n = 0;
        double sum = 0.0;
        while (!kv::next_cldata_record()) {
            ++n;
            sum += kv::cldata_real_word(3);
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("layout %d: %d records (%zu bytes) in %.1f ms, detected %d, read error %d, check %.2f\n", layout, n,
                    bytes.size(), ms, kv::cldata_reader.format, kv::cldata_read_error(), sum);
    }
    std::filesystem::remove(path);
    return 0;
}
