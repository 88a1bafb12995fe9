// Assertion reports: routing by QLOR_ASSERT, the report text, the exit codes,
// and a failure raised while a report is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/runtime.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

const char* const REPORT = "Assertion failure: Attempting FORTRAN I/O\nFile: ppnsub/irasc Line: 86\n";

void raise_in(const fs::path& dir, const char* route) {
    if (route != nullptr) setenv("QLOR_ASSERT", route, 1);
    else unsetenv("QLOR_ASSERT");
    if (!dir.empty() && chdir(dir.c_str()) != 0) std::_Exit(9);
    assert_fail("ppnsub/irasc", 86, "Attempting FORTRAN I/O");
    std::_Exit(8);  // assert_fail must not return here
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Assertion, ConsoleRoutes) {
    const std::string want = std::string("^") + REPORT + "$";
    for (const char* route : {"stderr", "popup", static_cast<const char*>(nullptr), ""}) {
        EXPECT_EXIT(raise_in({}, route), ::testing::ExitedWithCode(1), want)
            << (route ? route : "unset");
    }
}

TEST(Assertion, FileRouteAppends) {
    char tmpl[] = "/tmp/kv_assert_XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const std::string log = (dir / "assert.log").string();
    EXPECT_EXIT(raise_in({}, log.c_str()), ::testing::ExitedWithCode(1), "^$");
    EXPECT_EXIT(raise_in({}, log.c_str()), ::testing::ExitedWithCode(1), "^$");
    EXPECT_EQ(read_file(log), std::string(REPORT) + REPORT);
    // The comparison is case-sensitive: "Stderr" names a file.
    EXPECT_EXIT(raise_in(dir, "Stderr"), ::testing::ExitedWithCode(1), "^$");
    EXPECT_EQ(read_file(dir / "Stderr"), REPORT);
    // An unwritable log loses the report; the exit code still tells.
    EXPECT_EXIT(raise_in({}, (dir / "no" / "such.log").c_str()), ::testing::ExitedWithCode(1), "^$");
    fs::remove_all(dir);
}

TEST(Assertion, FailureDuringAReport) {
    // While a file or standard error is written: exit code 2 at once.
    EXPECT_EXIT(
        {
            assertion_state.assert_state = 3;
            raise_in({}, "stderr");
        },
        ::testing::ExitedWithCode(2), "^$");
    // While a pop-up is shown: the call returns and the state is cleared.
    assertion_state.assert_state = 1;
    assert_fail("ppnsub/filclo", 93, "Attempting FORTRAN I/O");
    EXPECT_EQ(assertion_state.assert_state, 0);
}

TEST(Assertion, LongTextsAreCut) {
    const std::string longname(3000, 'n');
    setenv("QLOR_ASSERT", "stderr", 1);
    EXPECT_EXIT(report_assertion("Assertion failure:", "m", longname.c_str(), 1), ::testing::ExitedWithCode(1),
                "^Assertion failure: m\nFile: n+$");
    unsetenv("QLOR_ASSERT");
}

}  // namespace
