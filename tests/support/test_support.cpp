#include "support/test_support.h"

#include <iostream>
#include <random>
#include <sstream>

cv::Mat MaskFromText(const std::vector<std::string>& rows, unsigned char value, char on) {
    const int height = static_cast<int>(rows.size());
    const int width = height > 0 ? static_cast<int>(rows[0].size()) : 0;
    cv::Mat mask = cv::Mat::zeros(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width && x < static_cast<int>(rows[y].size()); ++x) {
            if (rows[y][x] == on) {
                mask.at<unsigned char>(y, x) = value;
            }
        }
    }
    return mask;
}

std::string CaptureStdout(const std::function<void()>& body) {
    std::ostringstream captured;
    std::streambuf* previous = std::cout.rdbuf(captured.rdbuf());
    try {
        body();
    } catch (...) {
        std::cout.rdbuf(previous);
        throw;
    }
    std::cout.rdbuf(previous);
    return captured.str();
}

cv::Mat RandomMask(int rows, int cols, double density, unsigned seed) {
    std::mt19937 generator(seed);
    std::bernoulli_distribution on(density);
    cv::Mat mask(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            mask.at<unsigned char>(y, x) = on(generator) ? 255 : 0;
        }
    }
    return mask;
}

double InkFMeasure(const cv::Mat& result, const cv::Mat& truth) {
    CV_Assert(result.size() == truth.size() && result.type() == CV_8UC1 && truth.type() == CV_8UC1);
    double truePositive = 0;
    double resultInk = 0;
    double truthInk = 0;
    for (int y = 0; y < result.rows; ++y) {
        for (int x = 0; x < result.cols; ++x) {
            const bool r = result.at<unsigned char>(y, x) == 0;
            const bool t = truth.at<unsigned char>(y, x) == 0;
            resultInk += r;
            truthInk += t;
            truePositive += r && t;
        }
    }
    if (resultInk == 0 || truthInk == 0 || truePositive == 0) {
        return 0.0;
    }
    const double precision = truePositive / resultInk;
    const double recall = truePositive / truthInk;
    return 200.0 * precision * recall / (precision + recall);
}
