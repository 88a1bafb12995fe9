// File names: composition with default directory and extension, home
// directory, server names, path search, access tests and name parts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ppnsub/ppnsub.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

struct BuildCase {
    const char* name;
    const char* ext;
    const char* dir;
    int want_status;
    const char* want;  // "~" at the start stands for HOME
};

TEST(FileNames, BuildFileName) {
    setenv("HOME", "/home/op", 1);
    const BuildCase cases[] = {
        {"part", "cut", "/data/jobs", IO_OK, "/data/jobs/part.cut"},
        {"part.x", "cut", "/data/jobs", IO_OK, "/data/jobs/part.x"},    // own extension wins
        {"sub/part", "cut", "/data/jobs", IO_OK, "sub/part.cut"},       // own directory wins
        {"~/part", "cut", "/data/jobs", IO_OK, "/home/op/part.cut"},
        {"~part", "cut", "", IO_OK, "/home/op/part.cut"},
        {"part", "cut", "~/jobs", IO_OK, "/home/op/jobs/part.cut"},
        {".cut", "cut", "/data", IO_MISSING, ""},                       // no base name
        {"   ", "cut", "/data", IO_MISSING, ""},
        {"sub/", "cut", "", IO_MISSING, ""},
        {"part", "cut", ".", IO_OK, "./part.cut"},
        {"part", ".cut", "", IO_OK, "part.cut"},                        // extension given with its dot
        {"part", "", "", IO_OK, "part"},
        {"part.", "cut", "", IO_OK, "part."},
        {"dir.v2/part", "cut", "", IO_OK, "dir.v2/part.cut"},           // a dot in the directory is no extension
        {"a\\b\\part", "cut", "", IO_OK, "a/b/part.cut"},               // foreign separators are turned
        {"part", "cut", "/data/jobs/", IO_OK, "/data/jobs/part.cut"},   // repeated separators collapse
        {"C:part", "cut", "/data", IO_OK, "C:part.cut"},
        {"part  ", "cut  ", "/d  ", IO_OK, "/d/part.cut"},
    };
    for (const BuildCase& k : cases) {
        text<64> r("junk");
        int st = 99;
        build_file_name(r, k.name, k.ext, k.dir, st);
        EXPECT_EQ(st, k.want_status) << k.name << " in " << k.dir;
        EXPECT_EQ(r.str(), k.want) << k.name << " in " << k.dir;
    }
}

TEST(FileNames, BuildFileNameStaysInsideTheField) {
    setenv("HOME", "/a/very/long/home/directory/name", 1);
    struct Case { const char* name; const char* ext; const char* dir; int want; const char* result; };
    const Case cases[] = {
        {"abcdefgh", "", "", IO_OK, "abcdefgh"},          // 8 of 10 columns, the 9th before the last
        {"abcdefghi", "", "", IO_MISSING, ""},
        {"abcd.efgh", "", "", IO_OK, "abcd.efgh"},        // with its own extension up to column 9
        {"abcd.efghi", "", "", IO_MISSING, ""},
        {"abc", "cut", "", IO_OK, "abc.cut"},
        {"abcde", "cut", "", IO_MISSING, ""},
        {"abc", "", "/data/x", IO_MISSING, ""},
        {"~/a", "", "", IO_MISSING, ""},                  // the home directory leaves no room
    };
    for (const Case& k : cases) {
        text<10> r;
        int st = 0;
        build_file_name(r, k.name, k.ext, k.dir, st);
        EXPECT_EQ(st, k.want) << k.name;
        EXPECT_EQ(r.str(), k.result) << k.name;
    }
}

TEST(FileNames, ServerNames) {
    struct Case { const char* name; const char* ext; int want; const char* result; };
    const Case cases[] = {
        {"//server/share/part", "cut", IO_OK, "//server/share/part.cut"},
        {"\\\\server\\share\\part", "cut", IO_OK, "//server/share/part.cut"},
        {"//server/share/part.x", "cut", IO_OK, "//server/share/part.x"},
        {"//server/part", "", IO_OK, "//server/part."},
        {"//server/part", ".cut", IO_OK, "//server/part.cut"},
        {"//server/a_very_long_name", "cut", IO_MISSING, ""},  // checked against the field
    };
    for (const Case& k : cases) {
        text<24> r;
        int st = 0;
        build_file_name(r, k.name, k.ext, "/ignored", st);
        EXPECT_EQ(st, k.want) << k.name;
        EXPECT_EQ(r.str(), k.result) << k.name;
    }
}

class PathSearch : public ::testing::Test {
protected:
    fs::path root;
    void SetUp() override {
        char tmpl[] = "/tmp/kv_names_XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root / "a");
        fs::create_directories(root / "b");
        std::ofstream(root / "b" / "fanuc.opt") << "x";
        std::ofstream(root / "a" / "both.opt") << "x";
        std::ofstream(root / "b" / "both.opt") << "x";
    }
    void TearDown() override { fs::remove_all(root); }
};

TEST_F(PathSearch, EntriesInOrder) {
    const std::string a = (root / "a").string();
    const std::string b = (root / "b").string();
    const std::string list = " ;  " + a + "  ;;" + b + "   ";
    struct Case { const char* name; int mode; int want; std::string result; };
    const Case cases[] = {
        {"fanuc.opt", 4, IO_OK, b + "/fanuc.opt"},
        {"both.opt", 4, IO_OK, a + "/both.opt"},
        {"none.opt", 4, IO_NOT_FOUND, ""},
        {"none.opt", 2, IO_OK, a + "/none.opt"},   // a file to write need not exist
        {"fanuc.opt", 8, IO_NOT_FOUND, ""},        // no such access mode
        {"fanuc.opt", -1, IO_NOT_FOUND, ""},
    };
    for (const Case& k : cases) {
        text<256> r("junk");
        int st = 99;
        find_file_on_path(k.name, list, k.mode, r, st);
        EXPECT_EQ(st, k.want) << k.name << " mode " << k.mode;
        EXPECT_EQ(r.str(), k.result) << k.name << " mode " << k.mode;
    }
    text<256> r("junk");
    int st = 0;
    find_file_on_path("fanuc.opt", "    ", 4, r, st);
    EXPECT_EQ(st, IO_NOT_FOUND);
    EXPECT_EQ(r.str(), "");
}

TEST_F(PathSearch, AccessTests) {
    const std::string f = (root / "b" / "fanuc.opt").string();
    EXPECT_EQ(check_file_access(f + "   ", 0), 0);
    EXPECT_EQ(check_file_access(f, 6), 0);
    EXPECT_EQ(check_file_access((root / "b" / "nope").string(), 0), -1);
    EXPECT_EQ(check_file_access("", 0), -1);
    EXPECT_EQ(check_file_access(f, 9), -1);
    int st = 0;
    file_usable_for(f, 4, st);
    EXPECT_EQ(st, IO_OK);
    file_usable_for((root / "b" / "nope").string(), 4, st);
    EXPECT_EQ(st, IO_NOT_FOUND);
}

TEST(FileNames, NameParts) {
    struct Case { const char* name; const char* part; const char* stem; };
    const Case cases[] = {
        {"dir/sub/fanuc.mcd", "fanuc.mcd", "dir/sub/fanuc"},
        {"fanuc", "fanuc", "fanuc"},
        {"c:\\lib\\x.cfg", "x.cfg", "c:\\lib\\x"},
        {"../ctl/fanuc", "fanuc", "../ctl/fanuc"},   // directory dots are no extension
        {"./fanuc.opt", "fanuc.opt", "./fanuc"},
        {".profile", ".profile", ""},                 // a dot in column 1 leaves nothing
        {"a.b.c", "a.b.c", "a.b"},
    };
    for (const Case& k : cases) {
        text<32> part("junk"), stem("junk");
        file_name_part(part, k.name);
        strip_extension(stem, k.name);
        EXPECT_EQ(part.str(), k.part) << k.name;
        EXPECT_EQ(stem.str(), k.stem) << k.name;
    }
    text<8> part("junk");
    file_name_part(part, std::string_view("dir/", 4));  // separator in the last column
    EXPECT_EQ(part.str(), "");
}

}  // namespace
