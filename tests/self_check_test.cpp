#include "pipeline/self_check.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace {

// Dark words on light paper, and its Otsu result: a sound binarization.
cv::Mat WordsPage() {
    cv::Mat page(200, 300, CV_8UC1, cv::Scalar(210));
    for (int line = 0; line < 4; ++line) {
        cv::putText(page, "words of line " + std::to_string(line), cv::Point(10, 40 + 45 * line),
                    cv::FONT_HERSHEY_SIMPLEX, 0.9, cv::Scalar(40), 2, cv::LINE_AA);
    }
    return page;
}

cv::Mat Otsu(const cv::Mat& grey) {
    cv::Mat binary;
    cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    return binary;
}

}  // namespace

TEST(CheckResultTest, NamesEachReasonToLookAtAPage) {
    const cv::Mat grey = WordsPage();
    const cv::Mat sound = Otsu(grey);
    cv::Mat thinned = sound.clone();  // one ink row in twenty kept
    for (int y = 0; y < thinned.rows; ++y) {
        if (y % 20 != 0) {
            thinned.row(y).setTo(255);
        }
    }
    cv::Mat shifted;  // as much ink, in the wrong places
    cv::hconcat(sound.colRange(150, 300), sound.colRange(0, 150), shifted);
    const struct {
        const char* name;
        cv::Mat binary;
        int mendedFrom;
        std::vector<std::string> reasons;
    } cases[] = {
        {"sound", sound, -1, {}},
        {"mended", sound, 120, {"the global level was mended"}},
        {"blank", cv::Mat(grey.size(), CV_8UC1, cv::Scalar(255)), -1, {"almost no ink"}},
        {"thinned", thinned, -1, {"far less ink than a global threshold finds"}},
        {"black",
         cv::Mat::zeros(grey.size(), CV_8UC1),
         -1,
         {"far more ink than a global threshold finds", "ink and paper overlap in grey"}},
        {"shifted", shifted, -1, {"ink and paper overlap in grey"}},
    };
    for (const auto& c : cases) {
        edgebin::Trace trace;
        trace.mendedFrom = c.mendedFrom;
        edgebin::detail::CheckResult(grey, c.binary, trace);
        EXPECT_EQ(trace.suspectReasons, c.reasons) << c.name;
        EXPECT_EQ(trace.suspect, !c.reasons.empty()) << c.name;
    }
}
