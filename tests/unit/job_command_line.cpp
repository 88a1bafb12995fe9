// The command line: switches, their arguments and the positional names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

struct Parsed {
    int status = 0;
    std::string control, cutfile, print, setup, tape, startup, message;
    command_switches_t sw;
};

Parsed parse(std::vector<std::string> args) {
    static bool started = false;
    if (!started) {
        int st = 0;
        init_units(st);
        init_message_table(st);
        register_builtin_messages();
        started = true;
    }
    args.insert(args.begin(), "kelvaron");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    store_command_line(static_cast<int>(args.size()), argv.data());
    command_switches = command_switches_t{};
    set_file_defaults();
    Parsed p;
    parse_command_line(p.status);
    const auto& n = job_files.file_names;
    p.control = n[FILE_CONTROL].str();
    p.cutfile = n[FILE_CUTFILE].str();
    p.print = n[FILE_PRINT].str();
    p.setup = n[FILE_SETUP].str();
    p.tape = n[FILE_TAPE].str();
    p.startup = n[FILE_STARTUP].str();
    p.message = n[FILE_MESSAGE].str();
    p.sw = command_switches;
    return p;
}

}  // namespace

TEST(CommandLine, PositionalNames) {
    struct Case {
        std::vector<std::string> args;
        const char* control;
        const char* cutfile;
    };
    const Case cases[] = {
        {{"ctl", "job"}, "ctl", "job"},
        {{"-a", "ctl", "-n", "job"}, "ctl", "job"},       // names between switches
        {{"job"}, "", "job"},                             // one name is the cutfile
        {{}, "", ""},                                     // both asked for later
        {{"a", "b", "c"}, "a", "b"},                      // further names are not read
        {{"-x", "ctl"}, "ctl", "none"},                   // a mode switch reads no cutfile
        {{"ctl", "-c"}, "ctl", "none"},
        {{"-f", "ctl", "job"}, "ctl", "none"},
        {{"D:\\jobs\\a"}, "", "D:/jobs/a"},               // backslashes become slashes
        {{"my ctl", "my part"}, "my ctl", "my part"},     // words with blanks stay whole
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.status, 0);
        EXPECT_EQ(p.control, c.control) << ::testing::PrintToString(c.args);
        EXPECT_EQ(p.cutfile, c.cutfile) << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLine, FileNameSwitches) {
    Parsed p = parse({"ctl", "job", "-p"});
    EXPECT_EQ(p.print, "");  // named after the cutfile later
    p = parse({"-p", "out", "ctl", "job"});
    EXPECT_EQ(p.print, "out");
    EXPECT_EQ(p.control, "ctl");
    EXPECT_EQ(p.cutfile, "job");
    p = parse({"-p", "-a", "job"});  // -p has no argument; -a is acted on
    EXPECT_EQ(p.print, "");
    EXPECT_EQ(p.sw.force_ascii, 1);
    EXPECT_EQ(p.control, "");
    EXPECT_EQ(p.cutfile, "job");
    p = parse({"-i", "-t", "out tape", "-s", "site", "-m", "sub\\msgs", "c", "j"});
    EXPECT_EQ(p.setup, "");
    EXPECT_EQ(p.tape, "out tape");
    EXPECT_EQ(p.startup, "site");
    EXPECT_EQ(p.message, "sub/msgs");
    EXPECT_EQ(p.status, 0);
    p = parse({"ctl", "job"});
    EXPECT_EQ(p.print, "none");  // the null device unless asked for
    EXPECT_EQ(p.startup, "startup");
}

TEST(CommandLine, ModeSwitchesLastOneWins) {
    Parsed p = parse({"-f", "-w", "ctl"});
    EXPECT_EQ(p.sw.text_dump, 1);
    EXPECT_EQ(p.sw.difference_dump, 1);  // the driver tests text before differences
    p = parse({"-w", "-f", "ctl"});
    EXPECT_EQ(p.sw.text_dump, 0);
    EXPECT_EQ(p.sw.difference_dump, 1);
    p = parse({"-q", "ctl"});
    EXPECT_EQ(p.sw.text_dump_form, 1);
    p = parse({"-c", "-x", "ctl"});
    EXPECT_EQ(p.sw.cfg_dump, 0);
    EXPECT_EQ(p.sw.write_mcd, 1);
    p = parse({"-x", "-l"});
    EXPECT_EQ(p.sw.write_mcd, 0);
    EXPECT_EQ(p.sw.list_controls, 1);
    p = parse({"-a", "-n"});
    EXPECT_EQ(p.sw.force_ascii, 0);
    EXPECT_EQ(p.sw.force_native, 1);
    p = parse({"-o", "-r", "-:", "-;", "-?", "ctl", "job"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.sw.continue_after_error, 1);
    EXPECT_EQ(p.sw.usage, 1);
    EXPECT_EQ(p.cutfile, "job");
}

TEST(CommandLine, Errors) {
    const std::vector<std::vector<std::string>> bad = {
        {"ctl", "job", "-k"}, {"ctl", "-k", "job"}, {"-"}, {"-pp"}, {"-s"}, {"-m", "-a"},
        {"ctl", std::string(300, 'x')},  // longer than a name can be
        {std::string(250, 'a'), std::string(250, 'b'), std::string(250, 'c'), std::string(250, 'd'),
         std::string(250, 'e')},         // more than the command line holds
    };
    for (const auto& args : bad) EXPECT_EQ(parse(args).status, 8) << ::testing::PrintToString(args);
    // A switch met after a bad word is not acted on.
    const Parsed p = parse({"-k", "-l"});
    EXPECT_EQ(p.status, 8);
    EXPECT_EQ(p.sw.list_controls, 0);
    // The longest word that fits is taken whole.
    const Parsed q = parse({"ctl", std::string(256, 'y')});
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.cutfile, std::string(256, 'y'));
}

TEST(CommandLine, QuotedOperands) {
    text<16> b;
    append_quoted_operand(b, "ab");
    append_quoted_operand(b, "cde  ");
    EXPECT_EQ(std::string(b.view()), " \"ab\" \"cde\"     ");
    append_quoted_operand(b, "fghijk");  // cut at the end of the buffer
    EXPECT_EQ(std::string(b.view()), " \"ab\" \"cde\" \"fgh");
    text<8> n("a\\b\\ ");
    EXPECT_EQ(normalise_slashes(n), 4);
    EXPECT_EQ(std::string(n.view()), "a/b/    ");
}
