// Unit table: open, close, line writes and reads, raw reads, rewind, the
// special units, and the stop routine.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "ppnsub/ppnsub.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

class Units : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/kv_units_XXXXXX";
        dir = mkdtemp(tmpl);
        int st = -1;
        init_units(st);
        ASSERT_EQ(st, IO_OK);
    }
    void TearDown() override {
        for (int u = FIRST_FREE_UNIT; u <= MAXUNIT; ++u) {
            int v = u, st = 0;
            filclo(v, st);
        }
        fs::remove_all(dir);
    }
    std::string path(const char* name) const { return (dir / name).string(); }
    void write_file(const char* name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string read_file(const char* name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    int open(const std::string& name, int st, int form = FORM_TEXT) {
        int u = 0, status = -1;
        open_unit(u, name, st, form, status);
        EXPECT_EQ(status, IO_OK) << name;
        return u;
    }
};

// Console text without its end of line (progress dots, a prompt) is held
// back while standard error is not a terminal, and goes out, in order, before
// anything else reaches the console and before an answer is read.
TEST_F(Units, ConsoleTextIsHeldUntilTheNextWriteOrRead) {
    using ::testing::internal::CaptureStderr;
    using ::testing::internal::GetCapturedStderr;
    unit_table.console_hold_on = true;
    const int console = message_unit();
    int st = -1;
    CaptureStderr();
    filuwr(console, ".", st);
    filuwr(console, ".", st);
    EXPECT_EQ(st, IO_OK);
    EXPECT_EQ(GetCapturedStderr(), "");  // held
    CaptureStderr();
    print_error_line("Quilor");
    filuwr(console, "..", st);
    filwri(console, " ", st);
    EXPECT_EQ(GetCapturedStderr(), "..Quilor\n.. \n");

    // A full hold goes out whole; text longer than the hold goes straight out
    // after it.
    CaptureStderr();
    for (std::size_t i = 0; i <= CONSOLE_HOLD_SIZE; ++i) filuwr(console, ".", st);
    EXPECT_EQ(GetCapturedStderr(), std::string(CONSOLE_HOLD_SIZE, '.'));
    CaptureStderr();
    filuwr(console, std::string(CONSOLE_HOLD_SIZE + 1, '+'), st);
    EXPECT_EQ(GetCapturedStderr(), "." + std::string(CONSOLE_HOLD_SIZE + 1, '+'));

    // A prompt is shown before its answer is read, and at the end of the run.
    write_file("answers", "yes\n");
    std::FILE* answers = std::fopen(path("answers").c_str(), "rb");
    ASSERT_NE(answers, nullptr);
    unit_table.stream[static_cast<std::size_t>(input_unit())] = answers;
    CaptureStderr();
    filuwr(console, "Is this to be on tape?", st);
    std::array<char, 8> field{};
    const int n = irasc(input_unit(), field, 8);
    EXPECT_EQ(GetCapturedStderr(), "Is this to be on tape?");
    EXPECT_EQ(n, 3);
    unit_table.stream[static_cast<std::size_t>(input_unit())] = stdin;
    std::fclose(answers);

    // On a terminal nothing is held.
    unit_table.console_hold_on = false;
    CaptureStderr();
    filuwr(console, ".", st);
    EXPECT_EQ(GetCapturedStderr(), ".");
}

TEST_F(Units, LowestFreeUnitIsTakenAndReused) {
    write_file("a", "x\n");
    int u = open(path("a"), OPEN_READ);
    EXPECT_EQ(u, 11);
    EXPECT_EQ(open(path("b"), OPEN_WRITE_NEW), 12);
    int st = -1;
    filclo(u, st);
    EXPECT_EQ(st, IO_OK);
    EXPECT_EQ(u, NO_UNIT);
    EXPECT_EQ(open(path("a") + "   ", OPEN_READ_OLD), 11);  // trailing blanks do not count
}

TEST_F(Units, OpenFailures) {
    struct Case { std::string name; int st; int want; };
    fs::create_directory(dir / "sub");
    const Case cases[] = {
        {path("missing"), OPEN_READ, IO_MISSING},
        {"", OPEN_READ, IO_MISSING},
        {path("sub"), OPEN_READ, IO_FAILED},            // a directory is no file to read
        {path("nodir/x"), OPEN_WRITE, IO_FAILED},
        {path("new"), 34, IO_FAILED},                  // not an open status
        {std::string("ab\0cd", 5), OPEN_WRITE, IO_FAILED},
    };
    for (const Case& k : cases) {
        int u = 5, st = 0;
        open_unit(u, k.name, k.st, FORM_TEXT, st);
        EXPECT_EQ(st, k.want) << k.name;
        EXPECT_EQ(u, NO_UNIT) << k.name;
    }
    EXPECT_EQ(unit_table.status[11], FREE_UNIT);
}

TEST_F(Units, NoFreeUnit) {
    for (int u = FIRST_FREE_UNIT; u <= MAXUNIT; ++u) EXPECT_EQ(open(path("f"), OPEN_WRITE), u);
    int u = 0, st = 0;
    open_unit(u, path("g"), OPEN_WRITE, FORM_TEXT, st);
    EXPECT_EQ(st, IO_BAD_UNIT);
    EXPECT_EQ(u, NO_UNIT);
}

TEST_F(Units, CloseOnlyUnitsOpenedHere) {
    for (int bad : {6, 5, 7, 0, 100, -1, 50}) {
        int u = bad, st = 0;
        filclo(u, st);
        EXPECT_EQ(st, IO_BAD_UNIT) << bad;
        EXPECT_EQ(u, bad);
    }
    EXPECT_EQ(tty_unit(), 6);
    EXPECT_EQ(unit_table.access[6], ACCESS_WRITE);
}

TEST_F(Units, WritesAndTheirStatuses) {
    int u = open(path("out"), OPEN_WRITE_NEW);
    int st = -1;
    filuwr(u, "N10 G0", st);
    EXPECT_EQ(st, IO_OK);
    filwri(u, " X1.", st);
    EXPECT_EQ(st, IO_OK);
    filwri(u, "", st);
    const std::string long_line(5000, 'y');  // longer than one joined write
    filwri(u, long_line, st);
    EXPECT_EQ(st, IO_OK);

    write_file("in", "");
    int r = open(path("in"), OPEN_READ);
    struct Case { int unit; int want; };
    const Case cases[] = {{5, IO_NOT_WRITABLE}, {r, IO_NOT_WRITABLE}, {100, IO_BAD_UNIT},
                          {-999, IO_BAD_UNIT}, {40, IO_NOT_WRITABLE}};
    for (const Case& k : cases) {
        filwri(k.unit, "x", st);
        EXPECT_EQ(st, k.want) << k.unit;
        filuwr(k.unit, "x", st);
        EXPECT_EQ(st, k.want) << k.unit;
    }
    filclo(u, st);
    EXPECT_EQ(read_file("out"), "N10 G0 X1.\n\n" + long_line + "\n");
}

TEST_F(Units, NullUnitDiscardsAndReopens) {
    EXPECT_EQ(is_null_unit(NO_UNIT), 0);  // not yet opened: -999 is no unit
    int n = null_unit();
    EXPECT_EQ(n, 11);
    EXPECT_EQ(null_unit(), n);
    EXPECT_EQ(is_null_unit(n), 1);
    int st = -1;
    filwri(n, "thrown away", st);
    EXPECT_EQ(st, IO_OK);
    filclo(n, st);
    EXPECT_EQ(st, IO_OK);
    EXPECT_EQ(unit_table.null_unit_number, NO_UNIT);
    EXPECT_EQ(null_unit(), 11);
}

TEST_F(Units, ReadTextLines) {
    write_file("t", "first\r\n\nab\rc\nlast");
    int u = open(path("t"), OPEN_READ);
    struct Step { int n; int want_status; int want_n; std::string want; };
    const Step steps[] = {
        {0, IO_BAD_LENGTH, 0, ""},      // n outside 1..len: nothing read
        {9, IO_BAD_LENGTH, 0, ""},
        {8, IO_OK, 5, "first"},        // CR before LF dropped
        {8, IO_OK, 0, ""},             // an empty line in the middle
        {8, IO_OK, 4, "ab\rc"},        // a lone CR stays
        {8, IO_OK, 4, "last"},         // last line without a line feed
        {8, IO_END, 0, ""},
    };
    for (const Step& s : steps) {
        text<8> f("xxxxxxxx");
        int n = s.n, st = 0;
        read_text_line(u, f, n, st);
        EXPECT_EQ(st, s.want_status) << s.want;
        EXPECT_EQ(n, s.want_n) << s.want;
        EXPECT_EQ(f.str(), s.want);
        EXPECT_EQ(trimmed_length_blanks(f), static_cast<int>(s.want.size()));  // blank-filled
    }
    EXPECT_EQ(unit_at_end(u), 1);
}

TEST_F(Units, LineLengthLimit) {
    const std::string line(256, 'a');
    write_file("lf", line + "\n" + line + "b\n");
    write_file("crlf", line + "\r\n");
    text<300> f;
    int u = open(path("lf"), OPEN_READ);
    int n = 256, st = 0;
    read_text_line(u, f.span().first(256), n, st);
    EXPECT_EQ(st, IO_OK);
    EXPECT_EQ(n, 256);
    n = 256;
    read_text_line(u, f.span().first(256), n, st);
    EXPECT_EQ(st, IO_END);  // one byte too long
    int c = open(path("crlf"), OPEN_READ);
    n = 256;
    read_text_line(c, f.span().first(256), n, st);
    EXPECT_EQ(st, IO_END);
    // irasc never stores past the field it is given, whatever the limit.
    text<4> small("....");
    rewind_unit(u, st);
    EXPECT_EQ(irasc(u, small, 100), -1);
    EXPECT_EQ(irasc(100, small, 4), -1);
    EXPECT_EQ(irasc(6, small, 4), -1);
}

TEST_F(Units, RawReadsRewindAndEnd) {
    write_file("bin", std::string("\x01\x02\x03\x04\x05", 5));
    int u = open(path("bin"), OPEN_READ, FORM_BINARY);
    char buf[8] = {};
    EXPECT_EQ(read_unit_bytes(u, buf, 3), 3);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(unit_at_end(u), 0);
    EXPECT_EQ(read_unit_bytes(u, buf, 8), 2);
    EXPECT_EQ(unit_at_end(u), 1);
    int st = -1;
    rewind_unit(u, st);
    EXPECT_EQ(st, IO_OK);
    EXPECT_EQ(unit_at_end(u), 0);
    EXPECT_EQ(read_unit_bytes(u, buf, 8), 5);

    EXPECT_EQ(read_unit_bytes(u, buf, -1), -1);
    EXPECT_EQ(read_unit_bytes(100, buf, 1), -1);
    EXPECT_EQ(read_unit_bytes(6, buf, 1), -1);
    int w = open(path("w"), OPEN_WRITE);
    EXPECT_EQ(read_unit_bytes(w, buf, 1), -1);
    for (int bad : {6, 100, 40}) {
        rewind_unit(bad, st);
        EXPECT_EQ(st, IO_BAD_UNIT) << bad;
        EXPECT_EQ(unit_at_end(bad), 1) << bad;
    }
}

TEST_F(Units, FailedCloseFreesTheUnit) {
    int u = open(path("lost"), OPEN_WRITE);
    int st = -1;
    filuwr(u, "buffered", st);
    ::close(fileno(unit_table.stream[static_cast<std::size_t>(u)]));  // the flush at close fails
    filclo(u, st);
    EXPECT_EQ(st, IO_FAILED);
    EXPECT_EQ(u, NO_UNIT);
    EXPECT_EQ(unit_table.status[11], FREE_UNIT);
    EXPECT_EQ(unit_table.stream[11], nullptr);
    EXPECT_EQ(open(path("next"), OPEN_WRITE), 11);
}

TEST_F(Units, UnitWithoutStreamIsAnAssertion) {
    int u = open(path("x"), OPEN_WRITE);
    std::fclose(unit_table.stream[static_cast<std::size_t>(u)]);
    unit_table.stream[static_cast<std::size_t>(u)] = nullptr;
    setenv("QLOR_ASSERT", "stderr", 1);
    EXPECT_EXIT(
        {
            int v = u;
            int st = 0;
            filclo(v, st);
        },
        ::testing::ExitedWithCode(1),
        "^Assertion failure: Attempting FORTRAN I/O\nFile: ppnsub/filclo Line: 93\n$");
    EXPECT_EXIT(
        {
            int st = 0;
            filwri(u, "x", st);
        },
        ::testing::ExitedWithCode(1), "File: ppnsub/filwri Line: 96");
    unsetenv("QLOR_ASSERT");
    unit_table.status[static_cast<std::size_t>(u)] = FREE_UNIT;
    unit_table.access[static_cast<std::size_t>(u)] = ACCESS_CLOSED;
}

TEST_F(Units, StopRunFinishesOutputsOnlyOnSuccess) {
    // A run that succeeds finishes its outputs; one that fails leaves the
    // file of the run before as it was and no unfinished file behind.
    write_file("tape", "last good\n");
    EXPECT_EXIT(
        {
            int u = open(path("tape"), OPEN_WRITE);
            int st = 0;
            filuwr(u, "no line feed yet", st);
            stop_run(7);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(read_file("tape"), "last good\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_EXIT(
        {
            int u = open(path("tape"), OPEN_WRITE);
            int st = 0;
            filuwr(u, "no line feed yet", st);
            stop_run(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file("tape"), "no line feed yet");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Units, AnOutputTakesItsNameWhenFinished) {
    write_file("tape", "previous\n");
    fs::permissions(dir / "tape", fs::perms(0640));
    int u = open(path("tape"), OPEN_WRITE);
    int st = 0;
    filwri(u, "new", st);
    // Until then the previous file stays and the new one has a name that
    // says what it is.
    EXPECT_EQ(read_file("tape"), "previous\n");
    const std::string unfinished = unit_table.unfinished_name[static_cast<std::size_t>(u)].data();
    EXPECT_EQ(unfinished, path("tape") + ".kelvaron-unfinished-" + std::to_string(getpid()) + "-" +
                              std::to_string(unit_table.outputs_opened));
    EXPECT_TRUE(fs::exists(unfinished));
    filclo(u, st);
    EXPECT_EQ(st, IO_OK);
    EXPECT_EQ(read_file("tape"), "new\n");
    EXPECT_FALSE(fs::exists(unfinished));
    EXPECT_EQ(fs::status(dir / "tape").permissions() & fs::perms::all, fs::perms(0640));

    // Discarded: the previous file stays.
    u = open(path("tape"), OPEN_WRITE);
    filwri(u, "lost", st);
    discard_unit(u, st);
    EXPECT_EQ(read_file("tape"), "new\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // A symbolic link goes on naming the file it named.
    fs::create_symlink(dir / "tape", dir / "link");
    u = open(path("link"), OPEN_WRITE);
    filwri(u, "through the link", st);
    filclo(u, st);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(read_file("tape"), "through the link\n");

    // A device is written directly.
    u = open("/dev/null", OPEN_WRITE);
    EXPECT_EQ(unit_table.unfinished[static_cast<std::size_t>(u)], 0);
    filclo(u, st);
    EXPECT_EQ(st, IO_OK);
}

// Outputs set aside (the tapes of a split) keep their unfinished names and
// take their final names only with the run's success, together; a failed or
// interrupted run leaves every file of the run before.
TEST_F(Units, OutputsSetAsideTakeTheirNamesTogether) {
    write_file("a", "old a\n");
    write_file("b", "old b\n");
    const auto write_set = [this]() {
        int st = 0;
        for (const char* name : {"a", "b"}) {
            int u = open(path(name), OPEN_WRITE);
            filwri(u, std::string("new ") + name, st);
            set_unit_aside(u, st);
            EXPECT_EQ(st, IO_OK);
        }
        // Closed, but not finished: the files of the run before stay.
        EXPECT_EQ(read_file("a"), "old a\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
    };
    const auto kept_before = [this]() {
        EXPECT_EQ(read_file("a"), "old a\n");
        EXPECT_EQ(read_file("b"), "old b\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    };
    EXPECT_EXIT(
        {
            write_set();
            stop_run(4);
        },
        ::testing::ExitedWithCode(4), "");
    kept_before();
    EXPECT_EXIT(
        {
            install_interrupt_cleanup();
            write_set();
            std::raise(SIGTERM);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    kept_before();
    EXPECT_EXIT(
        {
            write_set();
            stop_run(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file("a"), "new a\n");
    EXPECT_EQ(read_file("b"), "new b\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(Units, UnfinishedFilesOfEndedRunsAreCleared) {
    // Left by runs that were killed outright: the next run writing in their
    // folder removes them. A run still going on keeps its file, and names
    // that are no unfinished names are not touched. The folder is read once
    // a run, not once an output.
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    int wstatus = 0;
    waitpid(gone, &wstatus, 0);
    const std::string mark = ".kelvaron-unfinished-";
    const std::string stale = "tape" + mark + std::to_string(gone) + "-11";
    const std::string other = "other" + mark + std::to_string(gone) + "-3";
    const std::string alive = "tape" + mark + "1-12";  // process 1 is always there
    const std::string odd = "tape" + mark + "x-11";
    for (const std::string& n : {stale, other, alive, odd}) write_file(n.c_str(), "half");
    int u = open(path("tape"), OPEN_WRITE);
    for (const std::string& n : {stale, other}) EXPECT_FALSE(fs::exists(dir / n)) << n;
    for (const std::string& n : {alive, odd}) EXPECT_TRUE(fs::exists(dir / n)) << n;
    write_file(stale.c_str(), "half");
    int v = open(path("tape2"), OPEN_WRITE);
    EXPECT_TRUE(fs::exists(dir / stale));
    int st = 0;
    filclo(u, st);
    filclo(v, st);
}

// The outputs of a set take their names under its record, which names them;
// a later run of the set removes those the record names that it does not
// write again, and only while each is still the file recorded.
TEST_F(Units, OutputSetRemovesOnlyWhatItsRecordNames) {
    const auto run_set = [this](std::initializer_list<const char*> names) {
        int st = 0;
        for (const char* name : names) {
            int u = open(path(name), OPEN_WRITE);
            filwri(u, std::string("new ") + name, st);
            set_unit_aside(u, st);
        }
        finish_output_set(path("p.tap"), st);
        EXPECT_EQ(st, IO_OK);
    };
    write_file("p.t03", "not of this set\n");
    run_set({"p.tap", "p.t01", "p.t02"});
    EXPECT_TRUE(fs::exists(dir / "p.tap.kelvaron-set"));
    EXPECT_EQ(read_file("p.t02"), "new p.t02\n");
    EXPECT_EQ(read_file("p.t03"), "not of this set\n");  // never by its name alone

    run_set({"p.tap", "p.t01"});
    EXPECT_FALSE(fs::exists(dir / "p.t02"));  // the set's own, not written again
    EXPECT_TRUE(fs::exists(dir / "p.t01"));
    EXPECT_TRUE(fs::exists(dir / "p.t03"));

    // A recorded file written since, in place: not the file recorded. A set
    // of one tape has no record.
    write_file("p.t01", "another job's\n");
    run_set({"p.tap"});
    EXPECT_EQ(read_file("p.t01"), "another job's\n");
    EXPECT_FALSE(fs::exists(dir / "p.tap.kelvaron-set"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
}

TEST_F(Units, FlushReportsAFullDevice) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
    int u = open("/dev/full", OPEN_WRITE);
    int st = 0;
    filwri(u, "short line", st);
    EXPECT_EQ(st, IO_OK);  // still in the buffer
    flush_unit(u, st);
    EXPECT_EQ(st, IO_FAILED);
    filclo(u, st);
    EXPECT_EQ(st, IO_FAILED);
    flush_unit(5, st);
    EXPECT_EQ(st, IO_NOT_WRITABLE);
    flush_unit(100, st);
    EXPECT_EQ(st, IO_BAD_UNIT);
}

void throwing_hook(int code) { throw std::runtime_error("stop " + std::to_string(code)); }

TEST_F(Units, StopHookUnwindsAfterClosing) {
    int u = open(path("hook"), OPEN_WRITE);
    int st = 0;
    filuwr(u, "kept", st);
    set_stop_hook(throwing_hook);
    try {
        stop_run(0);
        ADD_FAILURE() << "stop_run returned";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "stop 0");
    }
    set_stop_hook(nullptr);
    EXPECT_EQ(unit_table.status[static_cast<std::size_t>(u)], FREE_UNIT);
    EXPECT_EQ(read_file("hook"), "kept");
    EXPECT_EQ(unit_table.access[6], ACCESS_WRITE);  // the console units stay
}

}  // namespace
