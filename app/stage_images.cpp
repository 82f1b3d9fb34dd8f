#include "app/stage_images.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "app/image_output.h"
#include "global/contour_curve.h"

namespace edgebin::cli {

namespace {

const cv::Scalar kBlue(200, 80, 0);
const cv::Scalar kRed(0, 0, 220);
const cv::Scalar kGreen(0, 160, 0);
const cv::Scalar kOrange(0, 140, 255);
const cv::Scalar kGrey(150, 150, 150);

// The page in colour, washed out so that marks drawn over it stand out.
cv::Mat FadedPage(const cv::Mat& grey) {
    cv::Mat faded;
    grey.convertTo(faded, CV_8U, 0.4, 153);
    cv::Mat colour;
    cv::cvtColor(faded, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

cv::Mat Inverted(const cv::Mat& mask) {
    cv::Mat picture;
    cv::compare(mask, 0, picture, cv::CMP_EQ);
    return picture;
}

cv::Mat Stretched(const cv::Mat& image) {
    cv::Mat picture;
    cv::normalize(image, picture, 0, 255, cv::NORM_MINMAX, CV_8U);
    return picture;
}

cv::Mat BandPicture(const cv::Mat& grey, const Trace& trace) {
    cv::Mat picture = FadedPage(grey);
    const double scale = std::max(0.4, grey.cols / 1500.0);
    for (const TextBand& band : trace.bands) {
        cv::line(picture, cv::Point(0, band.top), cv::Point(picture.cols - 1, band.top), kBlue);
        cv::putText(picture, "width " + std::to_string(band.strokeWidth),
                    cv::Point(4, std::min(band.bottom, band.top + static_cast<int>(30 * scale))),
                    cv::FONT_HERSHEY_SIMPLEX, scale, kRed, std::max(1, static_cast<int>(scale)));
    }
    return picture;
}

cv::Mat VoterPicture(const cv::Mat& grey, const detail::StageImages& stages) {
    cv::Mat picture = FadedPage(grey);
    picture.setTo(kBlue, stages.voters != 0);
    picture.setTo(kRed, stages.restoredMap != 0);
    return picture;
}

// Red where ink votes outnumber paper votes, green where paper wins, deeper with
// the size of the majority; white where no window reached.
cv::Mat VotePicture(const cv::Mat& balance) {
    double lowest = 0.0;
    double highest = 0.0;
    cv::minMaxLoc(balance, &lowest, &highest);
    const double range = std::max({-lowest, highest, 1.0});
    cv::Mat picture(balance.size(), CV_8UC3, cv::Scalar(255, 255, 255));
    for (int y = 0; y < balance.rows; ++y) {
        const int* votes = balance.ptr<int>(y);
        cv::Vec3b* pixels = picture.ptr<cv::Vec3b>(y);
        for (int x = 0; x < balance.cols; ++x) {
            const auto fade = static_cast<unsigned char>(
                255 - std::lround(200.0 * std::sqrt(std::abs(votes[x]) / range)));
            if (votes[x] < 0) {
                pixels[x] = cv::Vec3b(fade, fade, 255);
            } else if (votes[x] > 0) {
                pixels[x] = cv::Vec3b(fade, 255, fade);
            }
        }
    }
    return picture;
}

void MarkLevel(cv::Mat& plot, const cv::Rect& area, int level, const cv::Scalar& colour,
               const std::string& label, int row) {
    if (level < 0) {
        return;
    }
    const int x = area.x + level * area.width / 255;
    cv::line(plot, cv::Point(x, area.y), cv::Point(x, area.y + area.height), colour, 2);
    cv::putText(plot, label + " " + std::to_string(level), cv::Point(x + 4, area.y + 18 * row),
                cv::FONT_HERSHEY_SIMPLEX, 0.5, colour, 1, cv::LINE_AA);
}

// The curve spans orders of magnitude: the first levels count every noise speck,
// while the peaks that matter sit far to the right. On a log axis both show.
cv::Mat CurvePlot(const detail::ContourCurve& curve, const Trace& trace) {
    cv::Mat plot(420, 1080, CV_8UC3, cv::Scalar(255, 255, 255));
    const cv::Rect area(60, 20, 1000, 360);
    const double highest = std::max(*std::max_element(curve.begin(), curve.end()), 1e-9);
    const double top = std::log1p(highest);
    std::vector<cv::Point> points;
    for (int level = 0; level < 256; ++level) {
        points.emplace_back(
            area.x + level * area.width / 255,
            area.y + area.height -
                static_cast<int>(std::lround(std::log1p(curve[level]) / top * area.height)));
    }
    cv::rectangle(plot, area, kGrey);
    cv::polylines(plot, points, false, cv::Scalar(0, 0, 0), 1, cv::LINE_AA);
    for (int level = 0; level < 256; level += 32) {
        cv::putText(plot, std::to_string(level),
                    cv::Point(area.x + level * area.width / 255 - 8, area.y + area.height + 18),
                    cv::FONT_HERSHEY_SIMPLEX, 0.45, kGrey, 1, cv::LINE_AA);
    }
    cv::putText(
        plot,
        "mean contour length, log scale (max " + std::to_string(highest) + ") by gradient level",
        cv::Point(area.x, plot.rows - 8), cv::FONT_HERSHEY_SIMPLEX, 0.5, kGrey, 1, cv::LINE_AA);
    MarkLevel(plot, area, trace.mainPeak, kBlue, "main peak", 1);
    MarkLevel(plot, area, trace.secondPeak, kGreen, "second peak", 2);
    MarkLevel(plot, area, trace.finalThreshold, kRed, "threshold", 3);
    MarkLevel(plot, area, trace.reassignedThreshold, kOrange, "reassigned", 4);
    MarkLevel(plot, area, trace.mendedFrom, kOrange, "mended from", 5);
    if (trace.lowerPeak != trace.finalThreshold) {
        MarkLevel(plot, area, trace.lowerPeak, kGreen, "lower peak", 6);
    }
    return plot;
}

bool Write(const std::filesystem::path& path, const cv::Mat& picture, std::string& reason) {
    if (picture.empty()) {
        return true;
    }
    std::vector<unsigned char> bytes;
    if (EncodePng(picture, Resolution{}, bytes)) {
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (file.flush()) {
            return true;
        }
    }
    reason = "cannot write " + path.string();
    return false;
}

}  // namespace

bool WriteStageImages(const std::string& dir, const cv::Mat& grey,
                      const detail::StageImages& stages, const Result& result,
                      std::string& reason) {
    // The stages of a rescaled page saw its shrunk copy; their pictures are drawn on it.
    const cv::Mat& page = stages.workingPage.empty() ? grey : stages.workingPage;
    const std::filesystem::path folder(dir);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        reason = "cannot create " + dir + ": " + error.message();
        return false;
    }
    std::vector<std::pair<const char*, cv::Mat>> pictures = {
        {"1-enhanced.png", stages.enhanced},
        {"2-gradient.png", stages.gradMap.empty() ? cv::Mat() : Stretched(stages.gradMap)},
        {"3-edges.png", stages.edgeMask.empty() ? cv::Mat() : Inverted(stages.edgeMask)},
        {"7-result.png", result.image}};
    if (!result.trace.bands.empty()) {
        pictures.emplace_back("4-bands.png", BandPicture(page, result.trace));
    }
    if (!stages.voters.empty()) {
        pictures.emplace_back("5-voters.png", VoterPicture(page, stages));
        pictures.emplace_back("6-votes.png", VotePicture(stages.balance));
    }
    if (!stages.gradMap.empty()) {
        detail::ContourCurve curve{};
        detail::BuildContourCurve(stages.gradMap, curve);
        pictures.emplace_back("contour-curve.png", CurvePlot(curve, result.trace));
    }
    for (const auto& [name, picture] : pictures) {
        if (!Write(folder / name, picture, reason)) {
            return false;
        }
    }
    return true;
}

}  // namespace edgebin::cli
