// The numbered message system: the line formatter, the error lines that
// replace a failing line, registration, the message file, progress output and
// the warning summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ppnsub/ppnsub.h"
#include "runtime/runtime.h"

using namespace kv;

namespace {
// A fresh table with the built-in texts, and the unit table behind it.
class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        int status = 0;
        init_units(status);
        init_message_table(status);
        register_builtin_messages();
        cldata_progress = cldata_progress_t{};
        clear_warning_summary();
    }
};

// Every line message n writes, as written.
std::string written(int n) {
    ::testing::internal::CaptureStderr();
    write_message(message_unit(), n);
    return ::testing::internal::GetCapturedStderr();
}

std::string first_line(int n, int length = MSGLEN) {
    std::string field(static_cast<std::size_t>(length), '#');
    format_message_first_line(n, {field.data(), field.size()});
    return trimmed_copy(field);
}

struct format_case {
    const char* line;
    int target_length;
    const char* want;  // the target without trailing blanks
    int result;
    std::vector<int> ints = {-5, 9999};  // integer arguments 1.. in item order
    double real = 3.14159;               // real argument 1
    const char* str = "ABCD";            // string argument 1
};
}  // namespace

TEST_F(Messages, FormatItems) {
    const format_case cases[] = {
        {"%(I)", 20, "-5", 0},
        {"[%(I3)]", 20, "[***]", 0, {-100}},
        {"[%(I7)]", 20, "[ ******]", 0, {12345678}},
        {"[%(I4)][%(I4)][%(I4)][%(I4)]", 40, "[9999][-999][****][****]", 0, {9999, -999, 10000, -1000}},
        {"[%(I2)][%(I5)]", 20, "[**][*****]", 0, {100, -10000}},
        {"[%(I10)]", 20, "[         7]", 0, {7}},
        {"50%", 20, "50", 0},
        {"a%b %%(I)", 20, "ab -5", 0},
        {"[%(F10.3)]", 20, "[     3.142]", 0},
        {"x%(F4.1)", 20, "x12345.7", 0, {}, 12345.67},  // a wider number is not cut
        {"[%(F6.0)]", 20, "[    3.]", 0, {}, 2.5},
        {"[%(F0.2)]", 20, "[3.14]", 0},  // a width of 0 is the number's own
        {"[%(A)]", 20, "[ABCD]", 0},
        {"[%(A.10)]", 20, "[   ABCD   ]", 0},
        {"[%(A.4)]", 20, "[ ABC]", 0},
        {"[%(A.1)]", 20, "[ ]", 0},
        {"[%(A3)]", 20, "[ABC]", 0, {}, 0, "ABCDE"},
        {"[%(A6)]", 20, "[  ABCD]", 0},
        {"[%(A-6)]", 20, "[ABCD  ]", 0},
        {"[%(A-3)]", 20, "[ABC]", 0},
        {"[%(A6x)]", 20, "[  ABCD]", 0},  // anything after the digits is ignored
        {"%(I) %(A) %(I)", 20, "-5 ABCD 9999", 0},
        // A missing terminator, bad items.
        {"abc %(I", 20, "", 7},
        {"%(Q)", 20, "", 8},
        {"%()", 20, "", 8},
        {"%(i)", 20, "", 8},
        {"%(I0)", 20, "", 8},
        {"%(I100)", 20, "", 8},
        {"%(I4x)", 20, "", 8},
        {"%(F10)", 20, "", 8},
        {"%(Fx.3)", 20, "", 8},
        {"%(F10.)", 20, "", 8},
        {"%(F-5.1)", 20, "", 8},
        {"%(A-)", 20, "", 8},
        {"%(A.0)", 20, "", 8},
        {"%(Ax)", 20, "", 8},
        // Room in the target.
        {"abcde", 5, "abcde", 0},
        {"abcdef", 5, "", 9},
        {"abcde%(A)", 5, "", 9},  // literal text must leave a column free
        {"abc%(I4)", 5, "", 9},
        {"ab%(A3)", 5, "abABC", 0, {}, 0, "ABCDE"},
        {"%(A.10)", 9, "", 9},
        {"%(F200.1)", 132, "", 9},  // a well-formed item too wide for the line
        {"%(F2.140)", 132, "", 9},
        {"%(F99999999999.1)", 132, "", 9},
    };
    for (const format_case& k : cases) {
        for (std::size_t i = 0; i < k.ints.size(); ++i) set_message_int_arg(static_cast<int>(i) + 1, k.ints[i]);
        set_message_real_arg(1, k.real);
        set_message_string_arg(1, k.str);
        array1<int, 3> cursors;
        cursors.fill(1);
        std::string target(static_cast<std::size_t>(k.target_length), '#');
        const int result = format_message_line(k.line, {target.data(), target.size()}, cursors);
        EXPECT_EQ(result, k.result) << k.line;
        if (k.result == 0) {
            EXPECT_EQ(trimmed_copy(target), k.want) << k.line;
            EXPECT_EQ(target.find('#'), std::string::npos) << "target blank-filled: " << k.line;
        }
    }
}

TEST_F(Messages, BlankTextArgumentPrintsNothing) {
    set_message_string_arg(2, "");
    array1<int, 3> cursors;
    cursors.fill(1);
    cursors[MSGARG_STRING] = 2;
    text<20> target;
    EXPECT_EQ(format_message_line("<%(A)>", target.span(), cursors), 0);
    EXPECT_EQ(target.str(), "<>");
    EXPECT_EQ(cursors[MSGARG_STRING], 3);
}

TEST_F(Messages, EachTypeHasTenArguments) {
    for (int i = 1; i <= MAXMSGARGS; ++i) set_message_int_arg(i, i);
    set_message_int_arg(11, 99);  // ignored, like index 0
    set_message_int_arg(0, 99);
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "%(I)";
    array1<int, 3> cursors;
    cursors.fill(1);
    text<MSGLEN> target;
    EXPECT_EQ(format_message_line(ten, target.span(), cursors), 0);
    EXPECT_EQ(target.str(), "12345678910");
    // An eleventh item of one type is a format error, for every type.
    for (const char* item : {"%(I)", "%(F5.1)", "%(A)"}) {
        std::string eleven;
        for (int i = 0; i < 11; ++i) eleven += item;
        cursors.fill(1);
        EXPECT_EQ(format_message_line(eleven, target.span(), cursors), 8) << item;
    }
}

TEST_F(Messages, CursorsCarryAcrossLinesOfAMessage) {
    register_message_text(390, "a%(I) %(A)");
    register_message_text(0, "b%(I) %(A) %(F4.1)");
    set_message_int_arg(1, 1);
    set_message_int_arg(2, 2);
    set_message_string_arg(1, "s1");
    set_message_string_arg(2, "s2");
    set_message_real_arg(1, 0.5);
    EXPECT_EQ(written(390), "a1 s1\nb2 s2  0.5\n");
    // The first line alone starts the cursors afresh.
    EXPECT_EQ(first_line(390), "a1 s1");
}

TEST_F(Messages, FailingLineIsReplacedAndTheRestDropped) {
    register_message_text(390, "first %(A-100)%(A-100)");
    register_message_text(0, "second");
    register_message_text(391, "ok");
    register_message_text(0, "bad %(Z)");
    register_message_text(0, "never");
    register_message_text(392, "open %(I");
    EXPECT_EQ(written(390), "Output buffer too small for message 390\n");
    EXPECT_EQ(written(391), "ok\nError in format for message 391\n");
    EXPECT_EQ(written(392), "Missing format terminator for message 392\n");
    EXPECT_EQ(written(399), "Message number 399 does not exist\n");
    EXPECT_EQ(written(0), "Message number 0 does not exist\n");
    EXPECT_EQ(written(401), "Message number 401 does not exist\n");
    EXPECT_EQ(first_line(399), "Message number 399 does not exist");
    // The integer argument 1 now holds the failing number.
    EXPECT_EQ(message_args.message_int_args[1], 399);
    // An error text that does not fit either gives message 10, cut.
    EXPECT_EQ(first_line(399, 20), "Unexpected fatal err");
}

TEST_F(Messages, LinesAreWrittenTrimmedButNeverEmpty) {
    register_message_text(390, "text   ");
    register_message_text(0, "");
    register_message_text(0, "  indented");
    EXPECT_EQ(written(390), "text\n \n  indented\n");
    set_message_string_arg(1, "abc");
    ::testing::internal::CaptureStderr();
    issue_message(226);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Syntax error at or near \"abc\"\n");
}

TEST_F(Messages, RegistrationErrors) {
    ::testing::internal::CaptureStderr();
    register_message_text(12, "again");
    register_message_text(401, "too high");
    register_message_text(-1, "negative");
    // A rejected line leaves the message before it open for continuations.
    register_message_text(0, "continues 322");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Duplication of message number 12\n"
              "Invalid message index 401\n"
              "Invalid message index -1\n");
    EXPECT_EQ(message_table.message_line_count[12], 13);
    EXPECT_EQ(message_table.message_line_count[322], 2);

    int status = -1;
    init_message_table(status);
    EXPECT_EQ(status, 0);
    ::testing::internal::CaptureStderr();
    register_message_text(0, "orphan");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Continuation without previous message\n");
}

TEST_F(Messages, TableOfFiveHundredLines) {
    int status = 0;
    init_message_table(status);
    for (int n = 11; n <= 400; ++n) register_message_text(n, "x");
    for (int i = 0; i < 100; ++i) register_message_text(0, "y");
    EXPECT_EQ(message_table.message_next_line, 501);
    ::testing::internal::CaptureStderr();
    register_message_text(0, "one too many");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Too many lines of messages\n");
    EXPECT_EQ(message_table.message_line_count[400], 101);

    init_message_table(status);
    for (int n = 11; n <= 400; ++n) register_message_text(n, "x");
    for (int i = 0; i < 99; ++i) register_message_text(0, "y");
    ::testing::internal::CaptureStderr();
    register_message_text(1, "duplicate of an own message");  // message 4, nothing stored
    register_message_text(0, "the last line");                // still extends message 400
    EXPECT_EQ(message_table.message_line_count[1], 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Duplication of message number 1\n");
    EXPECT_EQ(message_table.message_next_line, 501);
}

TEST_F(Messages, LateMessageStaysUndefined) {
    int status = 0;
    init_message_table(status);
    for (int i = 0; i < 490; ++i) register_message_text(i == 0 ? 11 : 0, "x");
    ::testing::internal::CaptureStderr();
    register_message_text(12, "no room");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Too many lines of messages\n");
    EXPECT_EQ(message_table.message_line_count[12], 0);
    EXPECT_EQ(first_line(12), "Message number 12 does not exist");
}

namespace {
// A message file in a temporary folder, opened on a unit for reading.
class MessageFile : public Messages {
protected:
    std::filesystem::path path;
    int unit = NO_UNIT;
    void TearDown() override {
        int status = 0;
        if (unit >= 0) filclo(unit, status);
        std::filesystem::remove(path);
    }
    int read_file(const std::string& content, std::string& errors) {
        path = std::filesystem::temp_directory_path() /
               ("kv_messages_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::ofstream(path, std::ios::binary) << content;
        int status = 0;
        open_unit(unit, path.string(), OPEN_READ, FORM_TEXT, status);
        EXPECT_EQ(status, 0);
        ::testing::internal::CaptureStderr();
        read_message_file(unit, status);
        errors = ::testing::internal::GetCapturedStderr();
        return status;
    }
};
}  // namespace

TEST_F(MessageFile, ReplacesTheBuiltInTexts) {
    std::string errors;
    const int status = read_file(
        "# messages of the shop\n"
        "\n"
        "12 \"Blocks: %(I5)  \"\n"
        "+ (second (line)\n"
        "+ more\n"
        "   13   version\n"
        "14 \"say \\\"hi\\\"\"\n"
        "15\n",
        errors);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "");
    set_message_int_arg(1, 42);
    EXPECT_EQ(written(12), "Blocks:    42\nsecond (line\nmore\n");
    EXPECT_EQ(written(13), "version\n");
    EXPECT_EQ(written(14), "say \"hi\"\n");
    EXPECT_EQ(written(15), " \n");
    // Only messages 1-10 stay besides those of the file.
    EXPECT_EQ(written(101), "Message number 101 does not exist\n");
    EXPECT_EQ(message_table.message_line_count[1], 1);
}

TEST_F(MessageFile, BadLinesAreReportedAndReadingGoesOn) {
    std::string errors;
    const int status = read_file(
        "12 \"first\"\n"
        "12 \"again\"\n"
        "twelve \"word\"\n"
        "4.5 \"real\"\n"
        "\"13\" \"string\"\n"
        "0 \"zero is no message\"\n"
        "401 \"too high\"\n"
        "13 \"after the bad lines\"\n",
        errors);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(errors,
              "Duplication of message number 12\n"
              "Error reading message file - line3\n"
              "Error reading message file - line4\n"
              "Error reading message file - line5\n"
              "Invalid message index 401\n");
    EXPECT_EQ(written(12), "first\nzero is no message\n");
    EXPECT_EQ(written(13), "after the bad lines\n");
}

TEST_F(MessageFile, LineAndTextLimits) {
    const std::string text140(140, 't');
    const std::string line256 = "20 " + std::string(253, 'u');
    std::string errors;
    const int status = read_file("11 " + text140 + "\n" + line256 + "\n" + "21 \"" + std::string(300, 'v') +
                                     "\"\n22 \"never read\"\n",
                                 errors);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(first_line(11), text140.substr(0, MSGLEN));
    EXPECT_EQ(first_line(20), std::string(MSGLEN, 'u'));
    // The overlong line ends the reading like the end of the file.
    EXPECT_EQ(message_table.message_line_count[21], 0);
    EXPECT_EQ(message_table.message_line_count[22], 0);
}

TEST_F(MessageFile, ContinuationBeforeAnyMessage) {
    std::string errors;
    const int status = read_file("+ \"orphan\"\n12 x\n", errors);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "Continuation without previous message\n");
    EXPECT_EQ(written(12), "x\n");
}

TEST_F(Messages, ProgressOfAShortCutfile) {
    ::testing::internal::CaptureStderr();
    report_cldata_progress(0);  // nothing before pass 1 starts
    report_cldata_progress(1);
    for (int i = 0; i < 4; ++i) report_cldata_progress(0);
    report_cldata_progress(-1);
    for (int i = 0; i < 4; ++i) report_cldata_progress(0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Reading cutfile records.. \n"
              "4 records read\n"
              "1 Records Processed (25 percent complete). \n"
              "2 Records Processed (50 percent complete). \n"
              "3 Records Processed (75 percent complete). \n"
              "4 Records Processed (100 percent complete) \n");
}

TEST_F(Messages, ProgressOfAThousandRecords) {
    ::testing::internal::CaptureStderr();
    report_cldata_progress(1);
    for (int i = 0; i < 1000; ++i) report_cldata_progress(0);
    report_cldata_progress(-1);
    flush_console_hold();  // what the console shows once the held dots go out
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Reading cutfile records." + std::string(25, '.') + " \n500 records read." + std::string(25, '.') +
                  " \n1000 records read..");
    // Pass 2 reports about every twentieth of the records.
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 1000; ++i) report_cldata_progress(0);
    const std::string pass2 = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(pass2.rfind(". \n1 Records Processed (0 percent complete).", 0), 0u) << pass2.substr(0, 80);
    EXPECT_NE(pass2.find(" \n51 Records Processed (5 percent complete)."), std::string::npos);
    EXPECT_TRUE(pass2.ends_with(". \n1000 Records Processed (100 percent complete) \n")) << pass2;
    int reports = 0;
    for (std::size_t p = pass2.find("Processed"); p != std::string::npos; p = pass2.find("Processed", p + 1)) ++reports;
    EXPECT_EQ(reports, 21);
}

TEST_F(Messages, ProgressWithoutRecordsInPass1) {
    ::testing::internal::CaptureStderr();
    report_cldata_progress(1);
    report_cldata_progress(-1);
    report_cldata_progress(0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Reading cutfile records... \n1 Records Processed (100 percent complete) \n");
}

TEST_F(Messages, MessageEndsALineOfDots) {
    ::testing::internal::CaptureStderr();
    set_progress_dots(1);
    set_progress_dots(1);
    issue_message(13);
    set_progress_dots(0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), ".. \nQuilor Kelvaron Version 1.1\n");
}

TEST_F(Messages, WarningSummary) {
    ::testing::internal::CaptureStdout();
    print_warning_summary();  // nothing recorded, nothing printed
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    ::testing::internal::CaptureStderr();
    record_warning(273, 0);
    record_warning(273, 0);
    record_warning(107, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Warning(pass1):  No Units Record in cldata file\n");
    ::testing::internal::CaptureStdout();
    print_warning_summary();
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              " \n"
              "** WARNING: The following warnings have been issued: \n"
              " \n"
              " Warning(pass1):  No Units Record in cldata file\n"
              " Warning: a retract-and-reconfigure at an angular limit has been performed."
              " You may wish to reconsider your strategy.\n");
}

TEST_F(Messages, WarningTextStaysWithinItsBound) {
    for (int n = 1; n <= MAXMSG; ++n) append_warning_text(n);
    EXPECT_EQ(warning_summary.warning_text_used, WARNING_TEXT_LEN);
    EXPECT_EQ(warning_summary.warning_text_end[MAXMSG], WARNING_TEXT_LEN);
    EXPECT_EQ(warning_summary.warning_text[1], ' ');
    ::testing::internal::CaptureStdout();
    print_warning_summary();
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    // The header, then one line a message; those beyond the text are blank.
    std::size_t lines = 0;
    for (char ch : out) lines += ch == '\n';
    EXPECT_EQ(lines, 3u + MAXMSG);
    EXPECT_TRUE(out.ends_with("\n \n \n")) << "messages beyond the bound show as a blank";
    EXPECT_NE(out.find("\n Error reading message file - line-99999\n Invalid message index -99999\n"),
              std::string::npos);
}
