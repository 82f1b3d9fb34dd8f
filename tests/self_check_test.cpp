#include "pipeline/self_check.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

// Dark words on light paper and its Otsu result, a sound binarization, against
// results that each trip one reason.
TEST(CheckResultTest, NamesEachReasonToLookAtAPage) {
    cv::Mat grey(200, 300, CV_8UC1, cv::Scalar(210));
    for (int line = 0; line < 4; ++line) {
        cv::putText(grey, "words of line " + std::to_string(line), cv::Point(10, 40 + 45 * line),
                    cv::FONT_HERSHEY_SIMPLEX, 0.9, cv::Scalar(40), 2, cv::LINE_AA);
    }
    cv::Mat sound;
    cv::threshold(grey, sound, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::Mat thinned(grey.size(), CV_8UC1, cv::Scalar(255));  // a sliver of one line kept
    sound.rowRange(24, 30).copyTo(thinned.rowRange(24, 30));
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
        trace.mend = c.mendedFrom >= 0 ? edgebin::Mend::kNoText : edgebin::Mend::kNone;
        edgebin::detail::CheckResult(grey, c.binary, trace);
        EXPECT_EQ(trace.suspectReasons, c.reasons) << c.name;
        EXPECT_EQ(trace.suspect, !c.reasons.empty()) << c.name;
    }
}
