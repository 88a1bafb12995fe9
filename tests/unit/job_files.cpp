// Job-file names: defaults and search paths under the installation roots, and
// the opening of one file along its path.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "unit_temp.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

void start_units() {
    static bool started = false;
    if (started) return;
    int st = 0;
    init_units(st);
    init_message_table(st);
    register_builtin_messages();
    started = true;
}

std::string path_of(int kind) { return job_files.search_paths[kind].str(); }

}  // namespace

TEST(FileDefaults, NamesExtensionsAndPaths) {
    unsetenv("KELVARON");
    set_file_defaults();
    const char* names[] = {"", "none", "", "", "", "", "startup", "", ""};
    const char* extensions[] = {"cut", "prt", "inf", "tap", "opt", "mcd", "", "msg", "tmp"};
    for (int k = 1; k <= NFILEKINDS; ++k) {
        EXPECT_EQ(job_files.file_names[k].str(), names[k - 1]) << k;
        EXPECT_EQ(job_files.file_extensions[k].str(), extensions[k - 1]) << k;
        EXPECT_EQ(job_files.extension_dots[k], '.');
    }
    for (int u = 1; u <= NFILEUNITS; ++u) EXPECT_EQ(job_files.file_units[u], -1);
    EXPECT_EQ(path_of(FILE_CUTFILE), ".");
    EXPECT_EQ(path_of(FILE_CONTROL), ".;/qlor/config/kelvaron/");
    EXPECT_EQ(path_of(FILE_MACHINE), ".;/qlor/product/kelvaron1516/lib/");
    EXPECT_EQ(path_of(FILE_STARTUP), ".;/qlor/config/kelvaron/;/qlor/product/kelvaron1516/sys/misc/");
    EXPECT_EQ(path_of(FILE_MESSAGE), ".;/qlor/product/kelvaron1516/sys/hci/");
}

TEST(FileDefaults, EnvironmentRootComesFirst) {
    setenv("KELVARON", "/opt/kv", 1);
    set_file_defaults();
    EXPECT_EQ(path_of(FILE_MACHINE), ".;/opt/kv/lib/;/qlor/product/kelvaron1516/lib/");
    EXPECT_EQ(path_of(FILE_MESSAGE), ".;/opt/kv/sys/hci/;/qlor/product/kelvaron1516/sys/hci/");
    setenv("KELVARON", "   ", 1);  // blank: not a root
    set_file_defaults();
    EXPECT_EQ(path_of(FILE_MACHINE), ".;/qlor/product/kelvaron1516/lib/");
    // A root too long for the path is left out whole, never cut.
    setenv("KELVARON", ("/" + std::string(300, 'r')).c_str(), 1);
    set_file_defaults();
    EXPECT_EQ(path_of(FILE_MACHINE), ".;/qlor/product/kelvaron1516/lib/");
    setenv("KELVARON", ("/" + std::string(240, 'r')).c_str(), 1);  // fits the machine path only
    set_file_defaults();
    EXPECT_EQ(path_of(FILE_MACHINE), ".;/" + std::string(240, 'r') + "/lib/");
    EXPECT_EQ(path_of(FILE_STARTUP), ".;/qlor/config/kelvaron/;/qlor/product/kelvaron1516/sys/misc/");
    unsetenv("KELVARON");
}

TEST(OpenFileOnPath, SearchSeparatorsAndSpecialNames) {
    start_units();
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(unit_temp_path("kv_open_file_on_path"));
    fs::remove_all(dir);
    fs::create_directories(dir / "lib");
    for (const char* f : {"lib/job_cut", "lib/jobcut", "lib/m.cfg"}) std::fclose(std::fopen((dir / f).c_str(), "w"));
    const std::string path = "/nowhere;" + (dir / "lib").string();

    struct Case {
        const char* name;
        const char* ext;
        char separator;
        const char* found;  // file name relative to dir, "" when not found
    };
    const Case cases[] = {
        {"job", "cut", '_', "lib/job_cut"},
        {"job", "cut", ' ', "lib/jobcut"},
        {"job", "cut", '.', ""},
        {"m", "cfg", '.', "lib/m.cfg"},
        {"m", "mcd", '.', ""},
    };
    for (const Case& c : cases) {
        text<FILE_NAME_LEN> name(c.name);
        int unit = 0;
        open_file_on_path(0, name, path, c.ext, c.separator, OPEN_READ_OLD, unit);
        if (*c.found) {
            EXPECT_GE(unit, FIRST_FREE_UNIT) << c.name << c.separator;
            EXPECT_EQ(name.str(), (dir / c.found).string());
            int st = 0;
            filclo(unit, st);
        } else {
            EXPECT_EQ(unit, -1) << c.name << c.ext;
            EXPECT_EQ(name.str(), "");
        }
    }
    int unit = 0;
    text<FILE_NAME_LEN> none("none");
    open_file_on_path(1, none, ".", "prt", '.', OPEN_WRITE, unit);
    EXPECT_EQ(is_null_unit(unit), 1);
    text<FILE_NAME_LEN> tty("tty");
    open_file_on_path(1, tty, ".", "prt", '.', OPEN_WRITE, unit);
    EXPECT_EQ(unit, tty_unit());
    // A file to write is found in the first folder where it could be created.
    text<FILE_NAME_LEN> out("out");
    open_file_on_path(0, out, (dir / "lib").string(), "tap", '.', OPEN_WRITE, unit);
    ASSERT_GE(unit, 0);
    EXPECT_EQ(out.str(), (dir / "lib" / "out.tap").string());
    int st = 0;
    filclo(unit, st);
    EXPECT_TRUE(fs::exists(dir / "lib" / "out.tap"));
    // A composed name too long for its field opens nothing.
    text<FILE_NAME_LEN> long_name(std::string(FILE_NAME_LEN - 2, 'z'));
    open_file_on_path(0, long_name, (dir / "lib").string(), "tap", '.', OPEN_WRITE, unit);
    EXPECT_EQ(unit, -1);
    fs::remove_all(dir);
}
