// The single stop routine through which every run ends: a run that succeeded
// has its outputs written out, checked and finished, a run that failed has
// them discarded; then the process exits with the run's exit code. Signals
// that end the run early remove the unfinished outputs first.
#include <csignal>
#include <cstdlib>

#include "ppnsub/ppnsub.h"

namespace kv {

namespace {
// Set only by test harnesses (set_stop_hook); the program never sets it.
void (*stop_hook)(int code) = nullptr;

// The signals from outside the program that end a run by default: each
// removes the unfinished outputs first. The real-time signals end it too;
// they follow these. SIGABRT is among them: another program (a supervisor,
// a debugger) sends it to end a run, as it sends SIGTERM. Faults of the
// program itself (SIGSEGV and the like) are left to end it as they are.
constexpr std::array<int, 15> INTERRUPTS = {SIGINT,  SIGTERM,   SIGPIPE, SIGHUP,  SIGQUIT, SIGUSR1,   SIGUSR2, SIGALRM,
                                            SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL, SIGPWR,  SIGSTKFLT, SIGABRT};

template <class F>
void for_each_interrupt(F f) {
    for (int sig : INTERRUPTS) f(sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) f(sig);
}

// Whether everything written to the outputs, standard output included, has
// reached them. Standard error is not judged: a message that cannot be shown
// cannot report anything either.
bool outputs_written() {
    bool ok = true;
    for (int u = 0; u <= MAXUNIT; ++u) {
        const std::size_t k = static_cast<std::size_t>(u);
        if (unit_table.access[k] != ACCESS_WRITE || unit_table.stream[k] == nullptr) continue;
        if (unit_table.stream[k] == stderr) continue;
        int status = IO_OK;
        flush_unit(u, status);
        if (status != IO_OK) ok = false;
    }
    return ok;
}

extern "C" void end_on_interrupt(int sig) {
    write_console_hold_on_signal();
    remove_unfinished_outputs();
    // The handler was reset on entry: the signal now ends the process as it
    // would have without one.
    std::raise(sig);
}

}  // namespace

void set_stop_hook(void (*hook)(int code)) { stop_hook = hook; }

void stop_run(int code) {
    if (code == 0 && !outputs_written()) {
        issue_message(221);
        code = EXIT_WRITE_FAILED;
    }
    for (int u = 0; u <= MAXUNIT; ++u) {
        const std::size_t k = static_cast<std::size_t>(u);
        const bool output = unit_table.status[k] == OPENED_UNIT && unit_table.access[k] == ACCESS_WRITE;
        int unit = u;
        int status = IO_OK;
        // Only units opened by open_unit close; the rest report -10, ignored.
        if (code != 0) {
            discard_unit(unit, status);
            continue;
        }
        filclo(unit, status);
        if (output && status != IO_OK) {
            // The outputs not yet finished are discarded with this one.
            issue_message(221);
            code = EXIT_WRITE_FAILED;
        }
    }
    // The outputs set aside (the tapes of a split) take their names with the
    // run's other outputs, or go with them.
    if (code == 0) {
        int status = IO_OK;
        finish_set_aside_outputs(status);
        if (status != IO_OK) {
            issue_message(221);
            code = EXIT_WRITE_FAILED;
        }
    } else {
        discard_set_aside_outputs();
    }
    flush_console_hold();
    if (stop_hook != nullptr) stop_hook(code);
    // std::exit flushes standard output and standard error.
    std::exit(code);
}

void install_interrupt_cleanup() {
    // While one signal cleans up, the others wait: the process ends before
    // they are delivered.
    struct sigaction action {};
    action.sa_handler = end_on_interrupt;
    sigemptyset(&action.sa_mask);
    for_each_interrupt([&](int sig) { sigaddset(&action.sa_mask, sig); });
    action.sa_flags = SA_RESETHAND;
    for_each_interrupt([&](int sig) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
        ::sigaction(sig, &action, nullptr);
    });
    // A file-size limit (ulimit -f) then fails the write that passes it, and
    // the run ends as for any output that cannot be written whole.
    std::signal(SIGXFSZ, SIG_IGN);
    // An exit that does not pass the stop routine (an assertion report) does
    // not leave unfinished files behind either.
    std::atexit(remove_unfinished_outputs);
}

}  // namespace kv
