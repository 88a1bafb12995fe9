// Runs kelvaron on damaged copies of end-to-end inputs for the robustness
// groups (tests/robustness/mutate_runs.sh prepares the entries): every run
// must end with one of the program's exit codes, never with a signal, a
// sanitizer report or a hang. The runs are made here, a few at a time, so
// that each costs one process, the program's own.
//
//   robust_runs <kelvaron> <e2e dir> <scratch dir> <keep dir> <mutations>
//               <stride> <jobs> <timeout s> <group> {<entry> <case> <file> <base> <seed base>}...
//
// Each entry runs once as it stands (copy 0), then with damaged copies
// 1..mutations, of which every stride-th is run; copy m of an entry has the
// seed <seed base> x 1000 + m, so "mutate_input <base> <copy> <seed>" makes
// the input of a failing run again.
//
// The cutfile group also runs copies that a cutfile still whole may have
// (blank lines put into a text cutfile) or that one cut short has (the
// copy ends early), numbered on from the damaged ones ("mutate_input <base>
// <copy> <seed> blank-lines | cut-short"): each must write the very files
// of the whole cutfile's run, or fail; never end well with less.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mutation.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The files a run wrote, by name.
using outputs = std::map<std::string, std::string>;

struct entry {
    std::string name, case_name, file, base;
    std::uint64_t seed_base = 0;
    std::vector<std::string> args, env;  // the case's arguments and NAME=VALUE lines
    bool text = false;                   // a text cutfile (its first four bytes are no zeros)
    int whole_code = -1;                 // the exit code and files of the run as it stands
    outputs whole_outputs;
};

struct run {
    std::size_t entry = 0;
    int copy = 0;
    mutation::copy_kind kind = mutation::copy_kind::damaged;
};

// Copies of each kind, whole or cut short, of every entry of the cutfile group.
constexpr int WHOLE_OR_CUT_COPIES = 8;

const char* kind_word(mutation::copy_kind kind) {
    switch (kind) {
    case mutation::copy_kind::blank_lines: return " blank-lines";
    case mutation::copy_kind::cut_short: return " cut-short";
    case mutation::copy_kind::damaged: break;
    }
    return "";
}

// The exit codes a run may end with.
bool accepted(int code) { return code == 0 || code == 1 || code == 4 || code == 5 || code == 7 || code == 8; }

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> read_lines(const fs::path& p) {
    std::vector<std::string> lines;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool write_file(const fs::path& p, const std::string& s) {
    std::ofstream out(p, std::ios::binary);
    out.write(s.data(), static_cast<std::streamsize>(s.size()));
    return static_cast<bool>(out);
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

struct settings {
    std::string exe, e2e, scratch, keep;
    int timeout = 5;
};

// The files of the work folder that are not the case's inputs (nor the
// record of a set of tapes, which notes when each was written).
outputs files_written(const fs::path& work, const fs::path& in, const std::string& input) {
    outputs written;
    std::error_code ec;
    for (const fs::directory_entry& f : fs::directory_iterator(work, ec)) {
        const std::string name = f.path().filename().string();
        if (name == input || fs::exists(in / name) || !f.is_regular_file() || name.ends_with(".kelvaron-set")) continue;
        written[name] = read_file(f.path());
    }
    return written;
}

// Why a run on a copy of a whole or cut-short cutfile failed its check, or
// empty: it failed, or it wrote what the whole cutfile's run wrote.
std::string whole_or_failed(const entry& e, int code, const outputs& written) {
    if (code != 0) return "";
    if (e.whole_code != 0) return "exit code 0 where the whole cutfile's run failed";
    for (const auto& [name, content] : e.whole_outputs) {
        const auto w = written.find(name);
        if (w == written.end()) return "exit code 0 without " + name;
        if (w->second != content) return "exit code 0 with " + name + " unlike the whole cutfile's";
    }
    return "";
}

// One whole run; the text of its failure, empty when it passed. The run of
// copy 0 keeps its exit code and files in the entry.
std::string make_run(const settings& set, entry& e, const run& r, std::size_t index) {
    const int copy = r.copy;
    const std::uint64_t seed = e.seed_base * 1000 + static_cast<std::uint64_t>(copy);
    const fs::path dir = fs::path(set.scratch) / ("run_" + std::to_string(index));
    const fs::path work = dir / "work";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(work, ec);
    fs::create_directories(dir / "home", ec);
    const fs::path in = fs::path(set.e2e) / e.case_name / "in";
    if (fs::is_directory(in)) fs::copy(in, work, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    const std::string base = read_file(e.base);
    if (!write_file(work / e.file, copy == 0 ? base : mutation::mutated(base, seed, r.kind)))
        return "FAIL " + e.name + " seed " + std::to_string(seed) + ": cannot write its input\n";

    // Everything the child needs is made before the fork.
    std::vector<std::string> env_text;
    for (char** v = environ; *v; ++v) {
        const std::string_view s(*v);
        const std::string_view name = s.substr(0, s.find('='));
        if (name == "KELVARON" || name == "QLOR_ASSERT" || name == "HOME" || name == "LC_ALL") continue;
        env_text.emplace_back(s);
    }
    env_text.push_back("HOME=" + (dir / "home").string());
    env_text.push_back("LC_ALL=C");
    // A fixed date and user, so that two runs of one job write the same files.
    env_text.push_back("SOURCE_DATE_EPOCH=1767225600");
    env_text.push_back("KELVARON_USER=tester");
    for (const std::string& line : e.env)
        if (!line.empty()) env_text.push_back(replaced(line, "@TMP@", dir.string()));
    std::vector<char*> envp;
    for (std::string& s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> arg_text{set.exe};
    arg_text.insert(arg_text.end(), e.args.begin(), e.args.end());
    std::vector<char*> argv;
    for (std::string& s : arg_text) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string work_dir = work.string();
    const std::string out_path = (dir / "stdout").string();
    const std::string err_path = (dir / "stderr").string();

    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit file_size{200000 * 1024, 200000 * 1024};
        setrlimit(RLIMIT_FSIZE, &file_size);
        const int in_fd = open("/dev/null", O_RDONLY);
        const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(work_dir.c_str()) != 0) _exit(126);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) return "FAIL " + e.name + " seed " + std::to_string(seed) + ": cannot start a run\n";

    // A hang is ended as "timeout -k 2" would: TERM at the limit, KILL two seconds later.
    using clock = std::chrono::steady_clock;
    const auto term_at = clock::now() + std::chrono::seconds(set.timeout);
    const auto kill_at = term_at + std::chrono::seconds(2);
    bool timed_out = false;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        const auto now = clock::now();
        if (!timed_out && now >= term_at) {
            timed_out = true;
            kill(pid, SIGTERM);
        } else if (timed_out && now >= kill_at) {
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::string why;
    const std::string err = read_file(err_path);
    if (timed_out) why = "timed out";
    else if (!accepted(code)) why = "exit code " + std::to_string(code);
    else if (err.find("runtime error") != std::string::npos || err.find("AddressSanitizer") != std::string::npos ||
             err.find("LeakSanitizer") != std::string::npos)
        why = "sanitizer report";
    else if (copy == 0) {
        e.whole_code = code;
        e.whole_outputs = files_written(work, in, e.file);
    } else if (r.kind != mutation::copy_kind::damaged)
        why = whole_or_failed(e, code, files_written(work, in, e.file));
    std::string report;
    if (!why.empty()) {
        const fs::path kept = fs::path(set.keep) / (e.case_name + "_" + e.file + "_" + std::to_string(seed));
        fs::copy_file(work / e.file, kept, fs::copy_options::overwrite_existing, ec);
        report = "FAIL " + e.name + " seed " + std::to_string(seed) + kind_word(r.kind) + ": " + why +
                 "\n  input kept as " + kept.string() + "\n  args:";
        for (const std::string& a : e.args) report += " " + a;
        report += "\n";
        std::istringstream lines(err);
        int shown = 0;
        for (std::string line; shown < 3 && std::getline(lines, line);)
            if (line.find("runtime error") != std::string::npos || line.find("ERROR") != std::string::npos ||
                line.find("SUMMARY") != std::string::npos) {
                report += "  " + line + "\n";
                ++shown;
            }
    }
    fs::remove_all(dir, ec);
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 10 || (argc - 10) % 5 != 0) {
        std::fprintf(stderr,
                     "usage: robust_runs <kelvaron> <e2e dir> <scratch> <keep> <mutations> <stride> <jobs> "
                     "<timeout> <group> {<entry> <case> <file> <base> <seed base>}...\n");
        return 2;
    }
    settings set{argv[1], argv[2], argv[3], argv[4], std::atoi(argv[8])};
    const int mutations = std::atoi(argv[5]);
    const int stride = std::max(1, std::atoi(argv[6]));
    const int jobs = std::max(1, std::atoi(argv[7]));
    const std::string group = argv[9];

    std::vector<entry> entries;
    for (int i = 10; i + 4 < argc; i += 5) {
        entry e;
        e.name = argv[i];
        e.case_name = argv[i + 1];
        e.file = argv[i + 2];
        e.base = argv[i + 3];
        e.seed_base = std::strtoull(argv[i + 4], nullptr, 10);
        const fs::path case_dir = fs::path(set.e2e) / e.case_name;
        e.args = read_lines(case_dir / "args");
        if (fs::exists(case_dir / "env")) e.env = read_lines(case_dir / "env");
        const std::string head = read_file(e.base).substr(0, 4);
        e.text = head.size() == 4 && head.find('\0') == std::string::npos;
        entries.push_back(std::move(e));
    }
    // The runs as the entries stand come first: the copies whole or cut
    // short are judged by them.
    std::vector<run> whole_runs, runs;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        whole_runs.push_back({k, 0});
        for (int m = stride; m <= mutations; m += stride) runs.push_back({k, m});
        if (group != "cutfile") continue;
        for (int j = 1; j <= WHOLE_OR_CUT_COPIES; j += stride) {
            if (entries[k].text) runs.push_back({k, mutations + j, mutation::copy_kind::blank_lines});
            runs.push_back({k, mutations + WHOLE_OR_CUT_COPIES + j, mutation::copy_kind::cut_short});
        }
    }

    std::mutex failures_lock;
    std::vector<std::string> failures;
    std::size_t index = 0;
    const auto run_all = [&](const std::vector<run>& list) {
        std::atomic<std::size_t> next{0};
        const std::size_t first = index;
        index += list.size();
        std::vector<std::thread> workers;
        for (int w = 0; w < jobs; ++w)
            workers.emplace_back([&] {
                for (std::size_t r; (r = next++) < list.size();) {
                    std::string failure = make_run(set, entries[list[r].entry], list[r], first + r);
                    if (failure.empty()) continue;
                    const std::lock_guard<std::mutex> hold(failures_lock);
                    failures.push_back(std::move(failure));
                }
            });
        for (std::thread& t : workers) t.join();
    };
    run_all(whole_runs);
    run_all(runs);

    if (!failures.empty()) {
        int lines = 0;
        for (const std::string& f : failures) {
            if (lines > 200) break;
            std::fputs(f.c_str(), stdout);
            for (char c : f) lines += c == '\n';
        }
        std::printf("%s: %zu of %zu runs failed\n", group.c_str(), failures.size(), whole_runs.size() + runs.size());
        return 1;
    }
    std::printf("%s: %zu runs, none failed\n", group.c_str(), whole_runs.size() + runs.size());
    return 0;
}
