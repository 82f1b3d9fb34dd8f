// The public API as another program uses it: what it refuses and how, what it
// returns, and calls from several threads at once.
#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "app/trace_report.h"
#include "edgebin/edgebin.hpp"
#include "support/test_support.h"

namespace {

// Status, pixels and trace (the lines the command line prints of it, and the bands)
// the same.
bool SameResult(const edgebin::Result& a, const edgebin::Result& b) {
    const auto describe = [](const edgebin::Result& result) {
        std::ostringstream text;
        text << result.status << "\n";
        edgebin::cli::PrintTrace(result, text);
        for (const edgebin::TextBand& band : result.trace.bands) {
            text << band.top << " " << band.bottom << " " << band.strokeWidth << "\n";
        }
        return text.str();
    };
    return describe(a) == describe(b) && SamePixels(a.image, b.image);
}

}  // namespace

TEST(LibraryTest, RefusesBadImagesAndParametersWithAStatus) {
    const cv::Mat page = GeneratedPage(1, 120, 90, 0.3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int sizes[] = {4, 4, 4};
    const struct {
        const char* name;
        cv::Mat image;
        edgebin::Parameters parameters;
        int status;
    } cases[] = {
        {"empty", cv::Mat(), {}, edgebin::kStatusEmptyImage},
        {"no columns", cv::Mat(5, 0, CV_8UC1), {}, edgebin::kStatusEmptyImage},
        {"16-bit", cv::Mat(20, 20, CV_16UC1, cv::Scalar(7)), {}, edgebin::kStatusUnsupportedImage},
        {"float", cv::Mat(20, 20, CV_32FC1, cv::Scalar(7)), {}, edgebin::kStatusUnsupportedImage},
        {"two channels", cv::Mat(20, 20, CV_8UC2), {}, edgebin::kStatusUnsupportedImage},
        {"four channels", cv::Mat(20, 20, CV_8UC4), {}, edgebin::kStatusUnsupportedImage},
        {"three dimensions",
         cv::Mat(3, sizes, CV_8UC1, cv::Scalar(1)),
         {},
         edgebin::kStatusUnsupportedImage},
        {"alpha nan", page, {nan, 0.6, 0.05}, edgebin::kStatusInvalidParameter},
        {"alpha too large", page, {1.0e4 + 1, 0.6, 0.05}, edgebin::kStatusInvalidParameter},
        {"k infinite", page, {2.0, INFINITY, 0.05}, edgebin::kStatusInvalidParameter},
        {"rthre too small", page, {2.0, 0.6, -2.0e6}, edgebin::kStatusInvalidParameter},
        {"flat page", cv::Mat(60, 80, CV_8UC1, cv::Scalar(200)), {}, edgebin::kStatusOk},
    };
    for (const auto& c : cases) {
        const edgebin::Result result = edgebin::Binarize(c.image, c.parameters);
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(result.message.empty(), c.status == edgebin::kStatusOk) << c.name;
        EXPECT_EQ(result.image.empty(), c.status != edgebin::kStatusOk) << c.name;
    }
    // The bounds themselves are accepted.
    EXPECT_EQ(edgebin::Binarize(page, {-1.0e4, 1.0e6, -1.0e6}).status, edgebin::kStatusOk);
}

TEST(LibraryTest, ColourViewsAndTwoLevelPagesGiveTheCommandLinesResult) {
    const cv::Mat page = GeneratedPage(2, 300, 200, 0.4);
    const edgebin::Result grey = edgebin::Binarize(page);
    ASSERT_EQ(grey.status, edgebin::kStatusOk);
    ASSERT_EQ(grey.image.type(), CV_8UC1);
    ASSERT_EQ(grey.image.size(), page.size());
    EXPECT_EQ(cv::countNonZero(grey.image == 0) + cv::countNonZero(grey.image == 255),
              page.rows * page.cols);
    EXPECT_FALSE(grey.trace.copiedInput);
    ASSERT_FALSE(grey.trace.bands.empty());
    EXPECT_EQ(grey.trace.bands.front().top, 0);
    EXPECT_EQ(grey.trace.bands.back().bottom, page.rows - 1);

    // Three equal channels in BGR order convert back to the same grey page.
    cv::Mat colour;
    cv::cvtColor(page, colour, cv::COLOR_GRAY2BGR);
    EXPECT_TRUE(SameResult(edgebin::Binarize(colour), grey));

    // A view inside a wider image reads only its own pixels.
    cv::Mat wide(page.rows, page.cols + 37, CV_8UC1, cv::Scalar(0));
    page.copyTo(wide.colRange(20, 20 + page.cols));
    EXPECT_TRUE(SameResult(edgebin::Binarize(wide.colRange(20, 20 + page.cols)), grey));

    cv::Mat twoLevel(40, 50, CV_8UC1, cv::Scalar(200));
    twoLevel(cv::Rect(5, 5, 10, 10)).setTo(30);
    const edgebin::Result copy = edgebin::Binarize(twoLevel);
    EXPECT_EQ(copy.status, edgebin::kStatusOk);
    EXPECT_TRUE(copy.trace.copiedInput);
    EXPECT_EQ(copy.trace.mainPeak, -1);
    EXPECT_EQ(cv::norm(copy.image, twoLevel, cv::NORM_INF), 0.0);
    EXPECT_NE(copy.image.data, twoLevel.data);
}

TEST(LibraryTest, IsAlreadyBinaryCountsDistinctValuesOnly) {
    cv::Mat two(3, 3, CV_8UC1, cv::Scalar(30));
    two.at<unsigned char>(1, 1) = 200;
    cv::Mat three = two.clone();
    three.at<unsigned char>(2, 2) = 128;
    // A view with a row stride wider than its width reads only its own pixels.
    cv::Mat wide(3, 6, CV_8UC1, cv::Scalar(0));
    wide.colRange(3, 6).setTo(99);
    wide.at<unsigned char>(0, 1) = 255;
    EXPECT_TRUE(edgebin::IsAlreadyBinary(cv::Mat(4, 4, CV_8UC1, cv::Scalar(77))));
    EXPECT_TRUE(edgebin::IsAlreadyBinary(two));
    EXPECT_FALSE(edgebin::IsAlreadyBinary(three));
    EXPECT_TRUE(edgebin::IsAlreadyBinary(wide.colRange(0, 3)));
}

// Four threads binarize eight different pages, each page twice, all at once; every
// result must equal the sequential one exactly.
TEST(LibraryTest, ConcurrentCallsGiveTheSequentialResults) {
    std::vector<cv::Mat> pages;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        pages.push_back(GeneratedPage(seed, 200 + 40 * static_cast<int>(seed % 4),
                                      150 + 30 * static_cast<int>(seed % 3), 0.1 * seed));
    }
    std::vector<edgebin::Result> sequential;
    for (const cv::Mat& page : pages) {
        sequential.push_back(edgebin::Binarize(page, {1.5 + 0.1 * sequential.size(), 0.6, 0.05}));
    }
    constexpr int kThreads = 4;
    const size_t runs = 2 * pages.size();
    std::vector<edgebin::Result> concurrent(runs);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t r = static_cast<size_t>(t); r < runs; r += kThreads) {
                const size_t i = r % pages.size();
                concurrent[r] = edgebin::Binarize(pages[i], {1.5 + 0.1 * i, 0.6, 0.05});
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (size_t r = 0; r < runs; ++r) {
        EXPECT_EQ(concurrent[r].status, edgebin::kStatusOk) << r;
        EXPECT_TRUE(SameResult(concurrent[r], sequential[r % pages.size()])) << "run " << r;
    }
}
