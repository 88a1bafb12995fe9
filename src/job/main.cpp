// Process entry: standard descriptors that are surely open, unbuffered
// standard streams, the stored command line, and the run driver, which ends
// the process itself.
#include <cstdio>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

int main(int argc, char** argv) {
    kv::guard_standard_streams();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    kv::store_command_line(argc, argv);
    kv::run_postprocessor();
}
