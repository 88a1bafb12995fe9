// Assertion reports: an internal consistency failure ends the run with a short
// report on standard error or appended to a log file, as QLOR_ASSERT says.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ppnsub/ppnsub.h"
#include "runtime/runtime.h"

namespace kv {

assertion_state_t assertion_state;

namespace {
constexpr int ASSERT_NONE = 0;
constexpr int ASSERT_POPUP = 1;
constexpr int ASSERT_FILE = 2;
constexpr int ASSERT_STDERR = 3;
}  // namespace

void clear_assert_handlers() {
    assertion_state.plain_handler = nullptr;
    assertion_state.located_handler = nullptr;
}

void assert_fail(const char* file, int line, const char* message) {
    if (assertion_state.located_handler != nullptr) {
        assertion_state.located_handler(file, line, message);
        return;
    }
    if (assertion_state.plain_handler != nullptr) {
        assertion_state.plain_handler();
        return;
    }
    report_assertion("Assertion failure:", message, file, line);
}

void report_assertion(const char* prefix, const char* message, const char* file, int line) {
    if (assertion_state.assert_state != ASSERT_NONE) {
        // A failure while a report is written: give up at once, without
        // flushing anything that might fail again.
        if (assertion_state.assert_state == ASSERT_POPUP) {
            assertion_state.assert_state = ASSERT_NONE;
            return;
        }
        std::_Exit(2);
    }
    char report[ASSERT_REPORT_LENGTH];
    std::snprintf(report, sizeof report, "%s %s\nFile: %s Line: %d\n", prefix ? prefix : "",
                  message ? message : "", file ? file : "", line);
    assertion_state.assert_state = ASSERT_POPUP;

    const char* route = std::getenv("QLOR_ASSERT");
    // An empty value names no file; it routes like an unset variable.
    if (route != nullptr && route[0] != '\0') {
        if (std::strcmp(route, "stderr") == 0) assertion_state.assert_state = ASSERT_STDERR;
        else if (std::strcmp(route, "popup") != 0) assertion_state.assert_state = ASSERT_FILE;
    }
    const std::size_t n = std::strlen(report);
    flush_console_hold();
    if (assertion_state.assert_state == ASSERT_FILE) {
        // An unwritable log loses the report; the exit code still tells.
        std::FILE* log = std::fopen(route, "a+b");
        if (log != nullptr) {
            std::fwrite(report, 1, n, log);
            std::fclose(log);
        }
    } else {
        // A console program has no pop-up: the pop-up route writes to
        // standard error as well.
        std::fwrite(report, 1, n, stderr);
        std::fflush(stderr);
    }
    std::exit(1);
}

}  // namespace kv
