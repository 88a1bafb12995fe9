// The title box that opens every run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/job.h"

using namespace kv;

namespace {

std::vector<std::string> banner(std::string_view p, std::string_view v, std::string_view r) {
    build_title_banner(p, v, r);
    std::vector<std::string> lines;
    for (int i = 1; i <= title_banner.line_count; ++i)
        lines.emplace_back(title_banner.lines[i].view().substr(0, static_cast<std::size_t>(title_banner.line_length[i])));
    return lines;
}

}  // namespace

TEST(TitleBanner, ReleaseAndPreRelease) {
    const std::string h(18, ' ');
    EXPECT_EQ(banner("KELVARON", "1.5", "16      "),
              (std::vector<std::string>{h + std::string(24, '*'), h + "* KELVARON VERSION 1.5 *",
                                        h + "*     Revision 16      *", h + std::string(24, '*')}));
    EXPECT_EQ(banner("KELVARON", "1.5", "16 BETA "),
              (std::vector<std::string>{h + std::string(24, '*'), h + "* KELVARON VERSION 1.5 *",
                                        h + "*   Revision 16 BETA   *", h + std::string(24, '*')}));
}

TEST(TitleBanner, MissingAndOverlongTexts) {
    EXPECT_TRUE(banner("  ", "", "   ").empty());
    EXPECT_EQ(banner(" AB ", "", ""),  // margin (60 - 2) / 2 - 2
              (std::vector<std::string>{std::string(27, ' ') + "******", std::string(27, ' ') + "* AB *",
                                        std::string(27, ' ') + "******"}));
    EXPECT_EQ(banner("", "2", ""),  // the version alone: "VERSION 2"
              (std::vector<std::string>{std::string(23, ' ') + std::string(13, '*'),
                                        std::string(23, ' ') + "* VERSION 2 *", std::string(23, ' ') + std::string(13, '*')}));
    // Lines are cut at column 60 and the margin is never negative.
    const std::vector<std::string> wide = banner(std::string(70, 'P'), "", "");
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[0], std::string(60, '*'));
    EXPECT_EQ(wide[1], "* " + std::string(58, 'P'));
    EXPECT_EQ(program_version_number(), 1516);
}

TEST(TitleBanner, NonblankSpan) {
    int first = 0, last = 0;
    EXPECT_EQ(find_nonblank_span("  ab c  ", first, last), 4);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(last, 5);
    EXPECT_EQ(find_nonblank_span("    ", first, last), 0);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(find_nonblank_span(std::string_view(), first, last), 0);
    EXPECT_EQ(last, -1);
}
