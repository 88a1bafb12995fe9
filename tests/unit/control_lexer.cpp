// Option-file reader and lexer: logical lines, keywords of several words with
// put-back, and the parser symbols of a small file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "control/control.h"
#include "ppnsub/ppnsub.h"

using namespace kv;

namespace {

// A text file in a temporary folder, open on a unit for the test's lifetime.
struct unit_file {
    std::string name;
    int unit = -1;
    explicit unit_file(const std::string& contents) {
        static int serial = 0;
        int status = 0;
        init_units(status);
        name = "/tmp/kv_lexer_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + ".opt";
        std::FILE* f = std::fopen(name.c_str(), "wb");
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
        open_unit(unit, name, OPEN_READ, FORM_TEXT, status);
        EXPECT_EQ(status, 0);
    }
    ~unit_file() {
        int status = 0;
        filclo(unit, status);
        std::remove(name.c_str());
    }
};

struct keyword_result {
    int k;
    std::string token;
    std::string rest;
};

// read_next_keyword over one line held in the line field (no file needed
// unless the line runs out).
keyword_result keyword_of(const std::string& line_text) {
    unit_file f("");
    text<OPTION_LINE_LENGTH> line(line_text);
    text<OPTION_LINE_LENGTH> token;
    int counter = 0;
    keyword_result r;
    r.k = read_next_keyword(f.unit, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, line, token, counter);
    r.token = token.str();
    r.rest = line.str();
    return r;
}

std::string keyword_text_of(int k) { return keyword_table.keyword_text[k - KEYWORD_INDEX_OFFSET].str(); }

}  // namespace

TEST(OptionLexer, ContinuedLines) {
    struct Case {
        const char* file;
        std::vector<std::string> lines;  // logical lines in order
        std::vector<int> counters;       // the counter after each
    };
    const Case cases[] = {
        // The backslash and the blanks before it vanish; a continuation that
        // starts with a letter joins the word.
        {"abc \\\ndef\nnext\n", {"abcdef", "next"}, {1, 0}},
        {"abc\\\n  def\\\n ghi\n", {"abc  def ghi"}, {2}},
        // A last line that ends with a backslash is kept.
        {"one\ntwo \\", {"one", "two"}, {0, 0}},
        {"x\r\ny\r\n", {"x", "y"}, {0, 0}},
        {"\\\nalone\n", {"alone"}, {1}},
    };
    for (const Case& c : cases) {
        unit_file f(c.file);
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            text<OPTION_LINE_LENGTH> line;
            int counter = 0;
            EXPECT_EQ(read_continued_line(f.unit, line, counter), 0) << c.file;
            EXPECT_EQ(line.str(), c.lines[i]) << c.file;
            EXPECT_EQ(counter, c.counters[i]) << c.file;
        }
        text<OPTION_LINE_LENGTH> line;
        int counter = 0;
        EXPECT_EQ(read_continued_line(f.unit, line, counter), IO_END) << c.file;
    }
}

TEST(OptionLexer, OverlongLinesAreReportedAndPassedOver) {
    // A physical line over the reader's limit, and a logical line over the
    // field, come back blank as LINE_OVERLONG; reading resumes after them.
    const std::string huge(PHYSICAL_LINE_LIMIT + 10, 'h');
    const std::string wide(200, 'w');
    unit_file f(huge + "\nafter1\n" + wide + "\\\n" + wide + "\\\nstill part\nafter2\n");
    text<OPTION_LINE_LENGTH> line;
    int counter = 0;
    EXPECT_EQ(read_continued_line(f.unit, line, counter), LINE_OVERLONG);
    EXPECT_EQ(line.str(), "");
    EXPECT_EQ(lexer_buffers.overlong_text.str(), std::string(OVERLONG_TEXT_LENGTH, 'h'));
    EXPECT_EQ(read_continued_line(f.unit, line, counter), 0);
    EXPECT_EQ(line.str(), "after1");
    counter = 0;
    EXPECT_EQ(read_continued_line(f.unit, line, counter), LINE_OVERLONG);
    EXPECT_EQ(counter, 2);  // both continuation lines were passed over
    EXPECT_EQ(lexer_buffers.overlong_text.str(), std::string(OVERLONG_TEXT_LENGTH, 'w'));
    EXPECT_EQ(read_continued_line(f.unit, line, counter), 0);
    EXPECT_EQ(line.str(), "after2");
    // A single physical line too long for the field is the text of the
    // message, not the overlong line read before it; a blank one has none.
    unit_file h(huge + "\n" + std::string(300, 'v') + "\n" + std::string(300, ' ') + "x\n");
    EXPECT_EQ(read_continued_line(h.unit, line, counter), LINE_OVERLONG);
    EXPECT_EQ(read_continued_line(h.unit, line, counter), LINE_OVERLONG);
    EXPECT_EQ(lexer_buffers.overlong_text.str(), std::string(OVERLONG_TEXT_LENGTH, 'v'));
    EXPECT_EQ(read_continued_line(h.unit, line, counter), LINE_OVERLONG);
    EXPECT_EQ(lexer_buffers.overlong_text.str(), "");
    // Exactly the limit is still a line.
    unit_file g(std::string(PHYSICAL_LINE_LIMIT, 'x') + "\n");
    text<PHYSICAL_LINE_LIMIT> long_line;
    EXPECT_EQ(read_continued_line(g.unit, long_line, counter), 0);
    EXPECT_EQ(trimmed_length(long_line.view()), PHYSICAL_LINE_LIMIT);
}

TEST(OptionLexer, KeywordsOfSeveralWords) {
    struct Case {
        const char* line;
        const char* keyword;  // nullptr: not a keyword
        int k;                // expected result when not a keyword
        const char* token;
        const char* rest;
    };
    const Case cases[] = {
        {"spindle azimuth rotation = 1", "spindle azimuth rotation", 0, "spindle azimuth rotation", "= 1"},
        {"spindle 5", "spindle", 0, "spindle", "5"},
        {"spindle (x + 1)", "spindle", 0, "spindle", "(x + 1)"},
        {"spindle o", "spindle off", 0, "spindle off", ""},
        {"coolant o", "coolant off", 0, "coolant off", ""},
        {"not used", "not used", 0, "not used", ""},
        // "coolant" alone is only the first word of longer keywords.
        {"coolant xyz 5", nullptr, TOKEN_WORD, "coolant", "xyz 5"},
        {"end_ x", nullptr, TOKEN_WORD, "end_", "x"},
        {"\"a # b\" c", nullptr, TOKEN_STRING, "a # b", " c"},
        {"12 x", nullptr, TOKEN_INTEGER, "12", "x"},
        {"Spindle", nullptr, TOKEN_WORD, "Spindle", ""},
    };
    for (const Case& c : cases) {
        const keyword_result r = keyword_of(c.line);
        if (c.keyword != nullptr) {
            ASSERT_GT(r.k, KEYWORD_INDEX_OFFSET) << c.line;
            EXPECT_EQ(keyword_text_of(r.k), c.keyword) << c.line;
        } else {
            EXPECT_EQ(r.k, c.k) << c.line;
        }
        EXPECT_EQ(r.token, c.token) << c.line;
        EXPECT_EQ(r.rest, c.rest) << c.line;
    }
    EXPECT_EQ(keyword_of("e").k, -1);  // ambiguous abbreviation
}

TEST(OptionLexer, PutBackKeepsTheLineAsWritten) {
    // "=" may begin "=A", "=C", ...; the value after it goes back exactly, a
    // long string whole and an escaped quote still escaped.
    const std::string value(200, 'v');
    const keyword_result r = keyword_of("= \"" + value + "\\\"q\" tail");
    EXPECT_EQ(keyword_text_of(r.k), "=");
    text<OPTION_LINE_LENGTH> line(r.rest);
    text<OPTION_LINE_LENGTH> token;
    EXPECT_EQ(next_token(line, token), TOKEN_STRING);
    EXPECT_EQ(token.str(), value + "\"q");
    EXPECT_EQ(line.str(), " tail");
}

TEST(OptionLexer, ParserSymbolsOfAFile) {
    unit_file f(
        "\n"
        "# heading\n"
        "machine m1\n"
        "\n"
        "tape headers = true # comment joins the next line\n"
        "x = \"s\"\n"
        "end # done");
    std::vector<int> symbols;
    std::vector<int> lines;
    text<OPTION_LINE_LENGTH> line;
    text<OPTION_LINE_LENGTH> token;
    int line_number = 0;
    for (int guard = 0; guard < 50; ++guard) {
        int value = 0;
        int symbol = -1;
        next_parser_symbol(f.unit, line, token, line_number, value, symbol);
        symbols.push_back(symbol);
        lines.push_back(line_number);
        if (symbol == SYM_EOF) break;
    }
    const int machine = SYM_KEYWORD_BASE + 7;
    const int equals = SYM_KEYWORD_BASE + 1;
    const int end = SYM_KEYWORD_BASE + 8;
    const std::vector<int> want = {machine, SYM_WORD, SYM_EOL, SYM_EOL, SYM_SETTING, equals, SYM_VALUE,
                                   SYM_WORD, equals, SYM_STRING, SYM_EOL, end, SYM_EOF};
    EXPECT_EQ(symbols, want);
    const std::vector<int> want_lines = {3, 3, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7, 7};
    EXPECT_EQ(lines, want_lines);
}

TEST(OptionLexer, SkipToNextToken) {
    unit_file f("# c1\n\n  # c2\n  value 1\n");
    text<OPTION_LINE_LENGTH> line;
    text<OPTION_LINE_LENGTH> token;
    int counter = 0;
    EXPECT_EQ(skip_to_next_token(f.unit, line, token, counter), TOKEN_WORD);
    EXPECT_EQ(token.str(), "value");
    EXPECT_EQ(counter, 4);
    EXPECT_EQ(skip_to_next_token(f.unit, line, token, counter), TOKEN_INTEGER);
    EXPECT_EQ(skip_to_next_token(f.unit, line, token, counter), TOKEN_NONE);
}
