// Builds an image pixel by pixel from a function of the position; shared by the
// tests and the straightforward stages of tests/oracle.
#pragma once

#include <opencv2/core.hpp>

// A rows x cols image of type T whose pixel (y, x) is value(y, x), saturated; the
// pixels are filled row by row, so random values always land in the same places.
template <typename T = unsigned char, typename Value>
cv::Mat Filled(int rows, int cols, Value value) {
    cv::Mat image(rows, cols, cv::DataType<T>::type);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            image.at<T>(y, x) = cv::saturate_cast<T>(value(y, x));
        }
    }
    return image;
}
