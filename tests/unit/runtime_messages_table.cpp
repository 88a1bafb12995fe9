// The built-in message texts: their count and order, the line counts of the
// messages of several lines, and texts kept exactly as they stand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ppnsub/ppnsub.h"
#include "runtime/runtime.h"

using namespace kv;

TEST(BuiltinMessages, CountAndOrder) {
    const auto rows = builtin_messages();
    ASSERT_EQ(rows.size(), 299u);
    int messages = 0;
    int last = 10;
    for (const builtin_message_line& row : rows) {
        if (row.number == 0) continue;
        ++messages;
        EXPECT_GT(row.number, last) << "numbers ascend";
        last = row.number;
    }
    EXPECT_EQ(messages, 238);
    EXPECT_EQ(rows.front().number, 11);
    EXPECT_EQ(rows.back().number, 322);
    EXPECT_EQ(std::string(rows.back().text), "Warning(coolnt):  Coolant function code not set: %(A)");
    for (const builtin_message_line& row : rows) EXPECT_LE(std::string(row.text).size(), 132u) << row.text;
}

namespace {
std::string line_of(int n, int k) {
    const int line = message_table.message_first_line[n] + k - 1;
    return std::string(message_table.message_lines[line].view());
}
}  // namespace

TEST(BuiltinMessages, RegisteredTable) {
    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    EXPECT_EQ(message_table.message_next_line, 10 + 299 + 1);

    const struct { int n, lines; } multi[] = {{11, 16}, {12, 13}, {180, 10}, {218, 5}, {235, 11},
                                               {236, 5}, {251, 4}, {252, 2}, {271, 2}, {273, 2}, {276, 2}};
    for (const auto& m : multi) EXPECT_EQ(message_table.message_line_count[m.n], m.lines) << m.n;
    int defined = 0;
    for (int n = 11; n <= MAXMSG; ++n) defined += message_table.message_line_count[n] > 0;
    EXPECT_EQ(defined, 238);
    for (int n : {14, 30, 59, 100, 177, 178, 182, 185, 222, 230, 231, 313, 400})
        EXPECT_EQ(message_table.message_line_count[n], 0) << n;

    // Spacing, quotes and spelling stand as shipped; trailing blanks are stored.
    const struct { int n, k; const char* text; } texts[] = {
        {13, 1, "Quilor Kelvaron Version 1.1 "},
        {44, 1, "Enter part name "},
        {107, 1, "Warning(pass1):  No Units Record in cldata file"},
        {138, 1, "Warning(auxfun):  Auxillary function key not set"},
        {176, 1, " |   %(A-67)|"},
        {212, 1, "Error: expression \"%(A)\" is incorrect"},
        {226, 1, "Syntax error at or near \"%(A)\""},
        {235, 3, "  "},
        {252, 1, "Error: keyword \"%(A)\" is now obselete."},
        {262, 1, "Warning: axis direction reversal. Please refer to the \"What''s new document\""},
        {273, 2, " You may wish to reconsider your strategy."},
        {275, 1, "Error: limits have been exceeded for rotary  angles"},
        {276, 1, "Error: KELVaron upgrage required"},
        {285, 1, "\"call block\" is not allowed in user blocks"},
    };
    for (const auto& t : texts) {
        std::string want(t.text);
        want.resize(MSGLEN, ' ');
        EXPECT_EQ(line_of(t.n, t.k), want) << t.n;
    }
    EXPECT_EQ(message_table.message_line_format_pos[message_table.message_first_line[176]], 6);
    EXPECT_EQ(message_table.message_line_format_pos[message_table.message_first_line[31]], 0);
}

TEST(BuiltinMessages, WrittenBoxes) {
    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    set_message_int_arg(1, 1234);
    set_message_real_arg(1, 12.25);
    set_message_real_arg(2, 3.0);
    set_message_int_arg(2, 56789);
    ::testing::internal::CaptureStderr();
    issue_message(12);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "         *****************************************\n"
              "         *                                       *\n"
              "         *  POSTPROCESSING TERMINATED            *\n"
              "         *                                       *\n"
              "         *  NUMBER OF BLOCKS           1234      *\n"
              "         *                                       *\n"
              "         *  TOTAL TIME                 12.3      *\n"
              "         *                                       *\n"
              "         *  TAPE LENGTH (FEET)          3.0      *\n"
              "         *                                       *\n"
              "         *  NUMBER OF CHARACTERS      56789      *\n"
              "         *                                       *\n"
              "         *****************************************\n");
    ::testing::internal::CaptureStderr();
    issue_message(235);
    const std::string usage = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(usage.substr(0, 66), "To run kelvaron type :\n kelvaron <control> <cutfile> <switches>\n \n");
    std::size_t lines = 0;
    for (char ch : usage) lines += ch == '\n';
    EXPECT_EQ(lines, 11u);

    set_message_string_arg(1, "BRKT-A");
    ::testing::internal::CaptureStderr();
    issue_message(11);
    const std::string header = ::testing::internal::GetCapturedStderr();
    lines = 0;
    for (char ch : header) lines += ch == '\n';
    EXPECT_EQ(lines, 16u);
    EXPECT_NE(header.find("\n-----------------------------                            BRKT-A"), std::string::npos);
}

// The message file installed for users to start from holds every built-in
// text, line for line: read as a message file it gives the table that the
// built-in texts give.
TEST(BuiltinMessages, InstalledMessageFileMatchesBuiltinTexts) {
    int status = 0;
    init_units(status);
    init_message_table(status);
    register_builtin_messages();
    std::vector<std::vector<std::string>> builtin(MAXMSG + 1);
    for (int n = 1; n <= MAXMSG; ++n)
        for (int k = 1; k <= message_table.message_line_count[n]; ++k) builtin[n].push_back(line_of(n, k));

    int unit = -1;
    open_unit(unit, std::string(KELVARON_TEST_DATA) + "/../docs/kelvaron.msg", OPEN_READ, FORM_TEXT, status);
    ASSERT_EQ(status, 0);
    ::testing::internal::CaptureStderr();
    read_message_file(unit, status);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    filclo(unit, status);
    EXPECT_EQ(errors, "");
    for (int n = 1; n <= MAXMSG; ++n) {
        ASSERT_EQ(message_table.message_line_count[n], static_cast<int>(builtin[n].size())) << "message " << n;
        for (int k = 1; k <= message_table.message_line_count[n]; ++k)
            EXPECT_EQ(line_of(n, k), builtin[n][static_cast<std::size_t>(k - 1)]) << "message " << n << " line " << k;
    }
}
