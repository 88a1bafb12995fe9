// Host services: the stored command line, environment values, the program's
// drive, login name, date and time text, long path names.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/runtime.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

char arg0[] = "/opt/kelvaron/bin/kelvaron";
char arg1[] = "opt1";
char arg2[] = "my part";
char arg3[] = "-p";
char* argv_example[] = {arg0, arg1, arg2, arg3, nullptr};

TEST(Host, CommandLineText) {
    store_command_line(4, argv_example);
    int count = 0;
    arg_count(count);
    EXPECT_EQ(count, 4);
    text<40> line("junk");
    int st = 9;
    get_command_line_text(line, st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(line.str(), "opt1 \"my part\" -p");
    // The last argument that starts inside the field is cut at its end.
    text<10> cut;
    get_command_line_text(cut, st);
    EXPECT_EQ(std::string(cut.view()), "opt1 \"my p");
}

TEST(Host, Arguments) {
    store_command_line(4, argv_example);
    struct Case { int i; int capacity; const char* want; };
    const Case cases[] = {
        {0, 64, "/opt/kelvaron/bin/kelvaron"},
        {2, 64, "my part"},
        {2, 4, "my "},   // cut to the capacity, terminator included
        {4, 64, ""},     // index equal to the count
        {-1, 64, ""},
        {1, 1, ""},
    };
    for (const Case& k : cases) {
        char out[64];
        int n = -1;
        get_arg(k.i, out, k.capacity, n);
        EXPECT_STREQ(out, k.want) << k.i;
        EXPECT_EQ(n, static_cast<int>(std::string(k.want).size())) << k.i;
    }
}

TEST(Host, QuoteIfBlanks) {
    struct Case { const char* in; int len; const char* want; };
    const Case cases[] = {
        {"my part", 12, "\"my part\"   "},
        {"plain", 8, "plain   "},
        {"a b", 5, "\"a b\""},
        {"a bcd", 5, "\"a b\""},   // no room for both quotes: the end is cut
    };
    for (const Case& k : cases) {
        std::string f(k.in);
        f.resize(static_cast<std::size_t>(k.len), ' ');
        quote_if_blanks(std::span<char>(f.data(), f.size()));
        EXPECT_EQ(f, k.want) << k.in;
    }
}

TEST(Host, EnvironmentText) {
    setenv("KV_TEST_EMPTY", "", 1);
    setenv("KV_TEST_LONG", "abcdefghij", 1);
    unsetenv("KV_TEST_UNSET");
    struct Case { const char* name; std::string want; };
    const Case cases[] = {
        {"KV_TEST_EMPTY   ", std::string("     \0", 6)},
        {"KV_TEST_UNSET", std::string("     \0", 6)},
        {"KV_TEST_LONG", std::string("abcde\0", 6)},  // one character less than the field
        {"", std::string("     \0", 6)},
    };
    for (const Case& k : cases) {
        text<6> f("junkju");
        get_env_text(k.name, f);
        EXPECT_EQ(std::string(f.view()), k.want) << k.name;
    }
}

TEST(Host, ProgramDriveLeavesNamesAlone) {
    for (const char* name : {"/lib/x", "//server/x", "lib/x"}) {
        text<16> r("junk");
        add_program_drive(r, name);
        EXPECT_EQ(r.str(), name);
    }
}

TEST(Host, LoginName) {
    const passwd* pw = getpwuid(geteuid());
    const std::string want = pw != nullptr ? pw->pw_name : "USERERROR";
    EXPECT_EQ(get_login_name(), want);
    text<4> f("....");
    get_user_name(f);
    EXPECT_EQ(f.str(), want.substr(0, 4));
}

TEST(Host, DateTimeText) {
    struct Case { const char* time_text; const char* want; };
    const Case cases[] = {
        {"Fri Jan  9 14:05:33 2026", "09 JAN 2026 14.05.33"},
        {"Fri Jan 09 14:05:33 2026\n", "09 JAN 2026 14.05.33"},
        {"Wed Dec 31 23:59:59 1999", "31 DEC 1999 23.59.59"},
    };
    for (const Case& k : cases) {
        text<24> f("junk");
        date_time_text_from(k.time_text, f);
        EXPECT_EQ(f.str(), k.want) << k.time_text;
    }
    text<8> small;
    date_time_text_from("Fri Jan  9 14:05:33 2026", small);
    EXPECT_EQ(small.str(), "09 JAN 2");

    setenv("TZ", "UTC", 1);
    tzset();
    setenv("SOURCE_DATE_EPOCH", "1767967533", 1);
    EXPECT_EQ(get_time_text(), "Fri Jan 09 14:05:33 2026");
    text<20> f;
    get_date_time_text(f);
    EXPECT_EQ(f.str(), "09 Jan 2026 14.05.33");
    unsetenv("SOURCE_DATE_EPOCH");
    get_date_time_text(f);
    EXPECT_EQ(f[3], ' ');
    EXPECT_EQ(f[15], '.');
}

TEST(Host, LongPathName) {
    char tmpl[] = "/tmp/kv_host_XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const fs::path real = fs::canonical(root);
    fs::create_directories(real / "dir");
    std::ofstream(real / "dir" / "part.cut") << "x";
    fs::create_directory_symlink(real / "dir", real / "link");
    struct Case { std::string path; std::string want; };
    const Case cases[] = {
        {(real / "link" / "." / "part.cut").string() + "  ", (real / "dir" / "part.cut").string()},
        {"/no/such/place", "/no/such/place"},
    };
    for (const Case& k : cases) {
        text<256> r;
        get_long_path_name(k.path, r);
        EXPECT_EQ(r.str(), k.want);
        EXPECT_EQ(r[256], '\0');
    }
    text<8> shortf;
    get_long_path_name("/no/such/place", shortf);
    EXPECT_EQ(std::string(shortf.view()), std::string("/no/suc\0", 8));
    fs::remove_all(root);
}

TEST(Host, ConcatStrings) {
    EXPECT_EQ(concat_strings({"a", "", "bc", "d"}), "abcd");
    EXPECT_EQ(concat_strings({"only"}), "only");
}

}  // namespace
