// Feeds arbitrary bytes to cutfile layout detection, record reading, the
// look-ahead ring and its accessors. The first byte picks the layout (0
// detects it); the rest is the cutfile. A real word that is no number, or too
// large, stops the run when it is read (a case of its own in the unit tests);
// such words are passed over here, so that reading goes on to the end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace {

std::string fuzz_path() { return "/tmp/kv_fuzz_cutfile_" + std::to_string(::getpid()) + ".cut"; }

// Whether word j of record k ahead may be read as a real without stopping the
// run: absent words read as 0, and present ones must be numbers in range.
bool real_readable(int k, int j) {
    const int h = kv::record_header_ahead(k);
    if (h == 0 || j < 4 || j > kv::record_int_word(k, 0)) return true;
    return std::fabs(kv::cell_real_value(kv::cldata_ring.cell[h + j], kv::cldata_reader.format)) <= kv::MAX_CLDATA_REAL;
}

// Reads the whole cutfile, looking ahead from every record; returns the
// number of records delivered.
int read_through() {
    int n = 0;
    while (!kv::next_cldata_record() && n < 1000000) {
        ++n;
        int k = 0, index = 0, cls = 0, sub = 0, flag = 0;
        kv::find_record_ahead(kv::cldata_class(), 0, 14000, 0, k, 0);
        kv::find_minor_word_value(kv::cldata_int_word(1), index);
        kv::next_record_class(cls, sub, flag);
        for (int ahead = 0; ahead <= 3; ++ahead) {
            const int count = kv::record_int_word(ahead, 0);
            if (count > kv::MAXCLW) __builtin_trap();
            for (int j = -1; j <= count + 1; ++j) {
                (void)kv::record_int_word(ahead, j);
                if (real_readable(ahead, j)) (void)kv::record_real_word(ahead, j);
                (void)kv::record_char_word(ahead, j);
            }
        }
        if (real_readable(0, 5)) (void)kv::cldata_rounded_word(2);
        const kv::cldata_reader_t& r = kv::cldata_reader;
        if (r.current < 1 || r.current > kv::CLDATA_RING_CELLS || r.next_free < 1 ||
            r.next_free > kv::CLDATA_RING_CELLS || r.current == r.next_free)
            __builtin_trap();
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = false;
    if (!ready) {
        int st = 0;
        kv::init_units(st);
        ready = true;
    }
    if (size == 0) return 0;
    const int format = data[0] % 7;
    const std::string path = fuzz_path();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    int status = 0;
    kv::open_cldata(path, format, status);
    if (status == 0) {
        const int first = read_through();
        const int error = kv::cldata_read_error();
        kv::rewind_cldata(status);
        // A second pass over the same bytes gives the same records.
        if (status == 0 && (read_through() != first || kv::cldata_read_error() != error)) __builtin_trap();
    }
    int st = 0;
    if (kv::cldata_reader.unit >= 0) kv::filclo(kv::cldata_reader.unit, st);
    kv::cldata_reader.unit = -1;
    std::remove(path.c_str());
    return 0;
}
