// The option-file compiler: error messages with their line numbers, the stop
// with exit code 4, recovery with "-o", the end check, and two compiles in turn.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

struct run_stopped {
    int code;
};

void throw_on_stop(int code) { throw run_stopped{code}; }

struct compile_result {
    int exit_code = -1;  // -1: the compile returned
    std::string messages;
};

// Compiles the text as the file "t.opt" onto the defaults (or onto what the
// previous compile left when fresh is false).
compile_result compile(const std::string& contents, int continue_after_error = 0, bool fresh = true) {
    static bool ready = false;
    int status = 0;
    if (!ready) {
        init_units(status);
        init_message_table(status);
        register_builtin_messages();
        set_stop_hook(throw_on_stop);
        ready = true;
    }
    if (fresh) set_configuration_defaults();
    command_switches.continue_after_error = continue_after_error;
    const std::string name = "/tmp/kv_compiler_" + std::to_string(getpid()) + ".opt";
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
    int unit = -1;
    open_unit(unit, name, OPEN_READ, FORM_TEXT, status);
    EXPECT_EQ(status, 0);
    compile_result r;
    testing::internal::CaptureStderr();
    try {
        parse_option_file(unit, "t.opt");
    } catch (const run_stopped& s) {
        r.exit_code = s.code;
    }
    r.messages = testing::internal::GetCapturedStderr();
    filclo(unit, status);  // stop_run closes it already when the run stopped
    std::remove(name.c_str());
    command_switches.continue_after_error = 0;
    return r;
}

std::string at(int line) { return "Error reading option file t.opt, line " + std::to_string(line) + "\n"; }
std::string near(const std::string& text) { return "Syntax error at or near " + text + "\n"; }
const std::string after_end = "Error: text follows END in option file\n";

}  // namespace

TEST(OptionCompiler, ErrorsNameTheirLine) {
    struct Case {
        const char* name;
        std::string file;
        int continue_after_error;
        std::string messages;
        int exit_code;
    };
    const std::string overlong(PHYSICAL_LINE_LIMIT + 1, 'x');
    const std::string half(200, 'y');
    const Case cases[] = {
        {"clean", "machine m\nend\n", 0, "", -1},
        {"comment after end", "machine m\nend # done", 0, "", -1},
        {"comments and blank lines after end", "machine m\nend\n# c\n\n   \n", 0, "", -1},
        {"no end", "# lead\n\nmachine m\n", 0, "", -1},
        {"empty file", "", 0, "", -1},
        {"word after end", "machine m\nend x\n", 0, at(2) + after_end, 4},
        {"line after end", "machine m\nend\n\n  more\n", 0, at(4) + after_end, 4},
        {"first statement not machine", "\nfoo m\nmachine m\nend\n", 0, at(2) + near("foo"), 4},
        // With -o state 1 takes no end of line: every following line is
        // dropped with message 149 alone, which names the line whose end
        // was refused (the next line, already read, is the one dropped).
        {"first statement not machine, -o", "foo m\nmachine m\nend\n", 1, at(1) + near("foo") + at(1) + at(2), -1},
        // A setting alone on its line: the error is seen at the end of the
        // line and names that line; with -o the next line is dropped unread.
        {"setting without value, -o", "machine m\ntape headers\nblock order = true\nend\n", 1, at(2), -1},
        {"syntax error mid line", "machine m\n\ndefine word x y\nend\n", 0, at(3) + near("y"), 4},
        {"obsolete keyword", "machine m\nretract distance = 2\nend\n", 0,
         at(2) + "Error: keyword \"retract distance\" is now obselete.\n"
                 "Please refer to documentation for replacement keyword\n",
         4},
        {"overlong physical line", "machine m\n" + overlong + "\nend\n", 0,
         at(2) + near(std::string(OVERLONG_TEXT_LENGTH, 'x')), 4},
        {"overlong physical line, -o", "machine m\n" + overlong + "\nend\n", 1,
         at(2) + near(std::string(OVERLONG_TEXT_LENGTH, 'x')), -1},
        {"overlong logical line", "machine m\n" + half + "\\\n" + half + "\nend\n", 0,
         at(3) + near(std::string(OVERLONG_TEXT_LENGTH, 'y')), 4},
        {"line after end overlong", "machine m\nend\n" + overlong + "\n", 0,
         at(3) + near(std::string(OVERLONG_TEXT_LENGTH, 'x')), 4},
    };
    for (const Case& c : cases) {
        const compile_result r = compile(c.file, c.continue_after_error);
        EXPECT_EQ(r.messages, c.messages) << c.name;
        EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    }
}

TEST(OptionCompiler, RecoveryGoesOnWithTheNextStatement) {
    // The failed statement stores nothing; recovery pops back to the top
    // level, and the next line compiles.
    const compile_result r = compile(
        "machine m\n"
        "define word x y\n"
        "block order = true\n"
        "end\n",
        1);
    EXPECT_EQ(r.messages, at(2) + near("y"));
    EXPECT_EQ(r.exit_code, -1);
    EXPECT_EQ(find_word("x"), 0);
    EXPECT_EQ(configuration_store.intsp[9], 1);
}

TEST(OptionCompiler, StatementsReachTheStore) {
    const compile_result r = compile(
        "machine mill_3 # a comment\n"
        "block ord = true\n"
        "define word end_\n"
        "  modal\n"
        "end define\n"
        "define word feedrate\n"
        "end define\n"
        "end\n");
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(configuration_store.gpnams[0].str(), "mill_3");
    EXPECT_EQ(configuration_store.intsp[9], 1);  // an abbreviation completed
    const int w = find_word("end");              // a name that is a keyword, written with "_"
    ASSERT_GT(w, 0);
    EXPECT_EQ(word_format(w, WRDMOD), 1);
    EXPECT_EQ(find_word("feedrate"), w + 1);     // a keyword where only a name fits
}

TEST(OptionCompiler, MachineFileThenOptionFile) {
    // Words defined by the machine file stay defined; the option file's new
    // words follow them.
    compile("machine m\ndefine word first\nend define\nend\n");
    const int before = configuration_store.NGPS;
    const compile_result r = compile("machine m\ndefine word second\nend define\ndefine word first\nend define\nend\n",
                                     0, false);
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(configuration_store.NGPS, before + 1);
    EXPECT_EQ(find_word("second"), before + 1);
    EXPECT_EQ(find_word("first"), before);
}

TEST(OptionCompiler, RecoveryPopsBackToTheSection) {
    // With -o a syntax error deep in a statement of a section pops exactly the
    // statement's entries: the section goes on, and its next line compiles.
    struct Case {
        const char* name;
        std::string file;
        std::string messages;
    };
    const std::string head = "machine m\ndefine word G\nend define\n";
    const Case cases[] = {
        // a code line complete but for its end of line: four entries
        {"codes", head + "define codes\n  rapid = G 0 x\n  linear = G 1\nend define\nend\n", at(5) + near("x")},
        // a key line complete but for its end of line: three entries
        {"keys", head + "define keys\n  feedrate = G x\n  spindle = G\nend define\nend\n", at(5) + near("x")},
        // an item followed by a second value: one entry
        {"block", head + "define block tape start\n  G 1 2\n  G 5\nend define\nend\n", at(5) + near("2")},
    };
    for (const Case& c : cases) {
        const compile_result r = compile(c.file, 1);
        EXPECT_EQ(r.messages, c.messages) << c.name;
        EXPECT_EQ(r.exit_code, -1) << c.name;
    }
    const int g = find_word("G");
    ASSERT_GT(g, 0);
    // The last compile was the block: its second line is the block's only item.
    EXPECT_EQ(configuration_store.blklen[1], 1);
    EXPECT_EQ(configuration_store.block_items[1][1].code, WORD_ITEM_BASE + MOD_VALUE * 1000 + g);
    EXPECT_EQ(configuration_store.block_items[1][1].value, 5);
    compile(cases[0].file, 1);
    EXPECT_EQ(configuration_store.icodes[2][1], UNSET_CODE);  // "rapid" was dropped
    EXPECT_EQ(configuration_store.icodes[1][2], g);  // "linear" compiled
    EXPECT_EQ(configuration_store.icodes[2][2], 1);
    compile(cases[1].file, 1);
    EXPECT_NE(configuration_store.key[16], g);       // "feedrate" was dropped
    EXPECT_EQ(configuration_store.key[19], g);       // "spindle" compiled
}
