#include "tools/page_generator.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

namespace {

struct Generated {
    cv::Mat page;
    cv::Mat truth;
};

Generated Generate(std::uint32_t seed, double difficulty) {
    PageOptions options;
    options.seed = seed;
    options.width = 360;
    options.height = 280;
    options.difficulty = difficulty;
    Generated g;
    GeneratePage(options, g.page, g.truth);
    return g;
}

bool Same(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

}  // namespace

TEST(PageGeneratorTest, SeedFixesThePageAndDifficultyChangesOnlyThePage) {
    const Generated first = Generate(11, 0.7);
    const Generated again = Generate(11, 0.7);
    EXPECT_TRUE(Same(first.page, again.page));
    EXPECT_TRUE(Same(first.truth, again.truth));
    EXPECT_FALSE(Same(first.truth, Generate(12, 0.7).truth));
    const Generated clean = Generate(11, 0.0);
    EXPECT_FALSE(Same(clean.page, first.page));
    EXPECT_TRUE(Same(clean.truth, first.truth));
}

TEST(PageGeneratorTest, TruthIsTwoLevelAndInkIsDarker) {
    for (const double difficulty : {0.0, 0.5, 1.0}) {
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
            const Generated g = Generate(seed, difficulty);
            SCOPED_TRACE(testing::Message() << "seed " << seed << " difficulty " << difficulty);
            ASSERT_EQ(g.page.type(), CV_8UC1);
            ASSERT_EQ(g.page.size(), cv::Size(360, 280));
            ASSERT_TRUE(Same(g.truth, (g.truth != 0) & 255));
            const cv::Mat ink = g.truth == 0;
            const double inkShare = cv::countNonZero(ink) / static_cast<double>(ink.total());
            EXPECT_GT(inkShare, 0.01);
            EXPECT_LT(inkShare, 0.5);
            EXPECT_LT(cv::mean(g.page, ink)[0] + 20.0, cv::mean(g.page, ~ink)[0]);
        }
    }
}
