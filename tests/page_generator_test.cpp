#include "tools/page_generator.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

namespace {

PageOptions SmallPage(std::uint32_t seed, double difficulty) {
    PageOptions options;
    options.seed = seed;
    options.width = 360;
    options.height = 280;
    options.difficulty = difficulty;
    return options;
}

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

TEST(PageGeneratorTest, SameSeedGivesSamePageOtherSeedAnother) {
    cv::Mat page1, truth1, page2, truth2, page3, truth3;
    GeneratePage(SmallPage(11, 0.7), page1, truth1);
    GeneratePage(SmallPage(11, 0.7), page2, truth2);
    GeneratePage(SmallPage(12, 0.7), page3, truth3);
    EXPECT_TRUE(SameImage(page1, page2));
    EXPECT_TRUE(SameImage(truth1, truth2));
    EXPECT_FALSE(SameImage(truth1, truth3));
}

TEST(PageGeneratorTest, DifficultyChangesThePageButNotTheTruth) {
    cv::Mat cleanPage, cleanTruth, hardPage, hardTruth;
    GeneratePage(SmallPage(5, 0.0), cleanPage, cleanTruth);
    GeneratePage(SmallPage(5, 1.0), hardPage, hardTruth);
    EXPECT_FALSE(SameImage(cleanPage, hardPage));
    EXPECT_TRUE(SameImage(cleanTruth, hardTruth));
}

TEST(PageGeneratorTest, TruthIsTwoLevelAndInkIsDarker) {
    for (const double difficulty : {0.0, 0.5, 1.0}) {
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
            const PageOptions options = SmallPage(seed, difficulty);
            cv::Mat page, truth;
            GeneratePage(options, page, truth);
            SCOPED_TRACE(testing::Message() << "seed " << seed << " difficulty " << difficulty);
            ASSERT_EQ(page.type(), CV_8UC1);
            ASSERT_EQ(truth.type(), CV_8UC1);
            ASSERT_EQ(page.size(), cv::Size(options.width, options.height));
            ASSERT_EQ(truth.size(), page.size());

            const cv::Mat ink = truth == 0;
            const cv::Mat paper = truth == 255;
            EXPECT_EQ(cv::countNonZero(ink) + cv::countNonZero(paper),
                      static_cast<int>(truth.total()));
            const double inkShare = cv::countNonZero(ink) / static_cast<double>(truth.total());
            EXPECT_GT(inkShare, 0.01);
            EXPECT_LT(inkShare, 0.5);
            EXPECT_LT(cv::mean(page, ink)[0] + 20.0, cv::mean(page, paper)[0]);
        }
    }
}

}  // namespace
