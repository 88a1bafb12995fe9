// Process entry: unbuffered standard streams, the stored command line, and the
// run driver, which ends the process itself.
#include <cstdio>

#include "job/job.h"

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    kv::store_command_line(argc, argv);
    kv::run_postprocessor();
}
