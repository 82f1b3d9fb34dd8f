// edgebin-same-decoding FILE...: whether the command line's decoder reads every
// page of each file into the grey pixels that OpenCV's codecs give (a colour
// reading, then OpenCV's grey conversion), which is how the tool read images
// before it stopped linking them. One line a page; exit status 1 when any page
// differs or is read by the new decoder only (a page it refuses is reported).
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "app/image_decode.h"
#include "app/image_handles.h"
#include "app/image_input.h"

namespace {

cv::Mat OpenCvGrey(const std::string& path, int index) {
    cv::Mat colour;
    try {
        std::vector<cv::Mat> pages;
        if (index == 0) {
            colour = cv::imread(path, cv::IMREAD_COLOR);
        } else if (cv::imreadmulti(path, pages, index, 1, cv::IMREAD_COLOR) && pages.size() == 1) {
            colour = pages[0];
        }
    } catch (const cv::Exception&) {
    }
    cv::Mat grey;
    if (!colour.empty()) {
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    }
    return grey;
}

std::string Compare(const cv::Mat& old, const cv::Mat& now) {
    if (old.empty() || now.empty()) {
        return old.empty() && now.empty() ? "neither reads"
               : old.empty()              ? "DIFFERS: only the new decoder reads"
                                          : "refused, OpenCV read it";
    }
    if (old.size() != now.size()) {
        return "DIFFERS: size";
    }
    const int count = cv::countNonZero(old != now);
    return count == 0 ? "same" : "DIFFERS: " + std::to_string(count) + " pixels";
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        l_int32 format = IFF_UNKNOWN;
        findFileFormat(path.c_str(), &format);
        const int pages = std::max(1, edgebin::cli::CountPages(path));
        for (int page = 0; page < pages; ++page) {
            std::string refusal;
            const std::string verdict =
                Compare(OpenCvGrey(path, page),
                        edgebin::cli::DecodeGreyPage(path, page, format, refusal)) +
                (refusal.empty() ? "" : " (" + refusal + ")");
            std::printf("%s page %d: %s\n", path.c_str(), page + 1, verdict.c_str());
            status |= verdict.rfind("DIFFERS", 0) == 0 ? 1 : 0;
        }
    }
    return status;
}
