// Straightforward page enhancement: the noise level from a sorted list of
// responses, a 3x3 median by sorting nine values, every window sum from a box
// filter over a double copy of the page (sums of 8-bit values, hence exact), the
// ink test, the paper estimate and the division pixel by pixel, then the dark
// borders by plain window minima and maxima and a breadth-first search, and the
// ink deepening from a separable filter in doubles, exact on these integers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "oracle/oracle.h"
#include "support/filled.h"

namespace reference {

namespace {

constexpr double kMinPaperShare = 0.05;

cv::Mat WindowSum(const cv::Mat& image, int side) {
    cv::Mat sum;
    cv::boxFilter(image, sum, CV_64F, cv::Size(side, side), cv::Point(-1, -1), false,
                  cv::BORDER_REFLECT);
    return sum;
}

// 1.0 where N*g - S >= 0 or S - N*g <= weight * sqrt(N*Q - S*S), 0.0 elsewhere.
cv::Mat PaperWeights(const cv::Mat& page, int window, double weight) {
    const cv::Mat sums = WindowSum(page, window);
    const cv::Mat squares = WindowSum(page.mul(page), window);
    const int64_t n = static_cast<int64_t>(window) * window;
    return Filled<double>(page.rows, page.cols, [&](int y, int x) {
        const int64_t g = static_cast<int64_t>(page.at<double>(y, x));
        const int64_t s = static_cast<int64_t>(sums.at<double>(y, x));
        const int64_t q = static_cast<int64_t>(squares.at<double>(y, x));
        const int64_t d = n * g - s;
        const double spread = static_cast<double>(n * q - s * s);
        return d >= 0 || static_cast<double>(-d) <= weight * std::sqrt(spread) ? 1.0 : 0.0;
    });
}

cv::Mat EstimatePaper(const cv::Mat& page, const cv::Mat& paper, int window) {
    const cv::Mat paperValues = page.mul(paper);
    cv::Mat background(page.size(), CV_64F, cv::Scalar(-1.0));
    int unresolved = static_cast<int>(page.total());
    const int largestSide = 2 * std::max(page.rows, page.cols) + 1;
    for (int side = window; unresolved > 0 && side <= largestSide; side *= 2) {
        const cv::Mat sums = WindowSum(paperValues, side);
        const cv::Mat counts = WindowSum(paper, side);
        const double minCount = std::max(1.0, kMinPaperShare * side * side);
        unresolved = 0;
        for (int y = 0; y < page.rows; ++y) {
            for (int x = 0; x < page.cols; ++x) {
                double& out = background.at<double>(y, x);
                if (out >= 0.0) {
                    continue;
                }
                const double count = counts.at<double>(y, x);
                if (count >= minCount) {
                    out = sums.at<double>(y, x) / count;
                } else {
                    ++unresolved;
                }
            }
        }
    }
    if (unresolved > 0) {
        const double paperCount = cv::sum(paper)[0];
        const double fallback =
            paperCount > 0.0 ? cv::sum(paperValues)[0] / paperCount : cv::mean(page)[0];
        background.setTo(fallback, background < 0.0);
    }
    return background;
}

// Above this noise level (grey levels of white noise) the page is smoothed first.
constexpr double kNoisySigma = 5.0;

// Median of the absolute 3x3 second difference over interior pixels of rows
// 1, 5, 9, ..., in grey levels of white noise (6 * 0.6745 per level).
double NoiseLevel(const cv::Mat& page) {
    std::vector<int> responses;
    for (int y = 1; y + 1 < page.rows; y += 4) {
        for (int x = 1; x + 1 < page.cols; ++x) {
            int response = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int weight = (dy == 0 ? 2 : -1) * (dx == 0 ? 2 : -1);
                    response += weight * page.at<unsigned char>(y + dy, x + dx);
                }
            }
            responses.push_back(std::abs(response));
        }
    }
    if (responses.empty()) {
        return 0.0;
    }
    std::sort(responses.begin(), responses.end());
    return responses[responses.size() / 2] / (6.0 * 0.6745);
}

// 3x3 median, rows and columns beyond the page repeating the nearest one.
cv::Mat Median3x3(const cv::Mat& page) {
    return Filled(page.rows, page.cols, [&](int y, int x) {
        std::vector<unsigned char> values;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                values.push_back(page.at<unsigned char>(std::clamp(y + dy, 0, page.rows - 1),
                                                        std::clamp(x + dx, 0, page.cols - 1)));
            }
        }
        std::sort(values.begin(), values.end());
        return values[4];
    });
}

// Minimum (erode) or maximum of `mask` over the side x side window, clipped to the
// page: the extreme along each row, then along each column of those.
cv::Mat WindowExtreme(const cv::Mat& mask, int side, bool minimum) {
    const auto along = [side, minimum](const cv::Mat& m, int y, int x, int dy, int dx) {
        int extreme = m.at<unsigned char>(y, x);
        for (int t = -(side / 2); t <= side / 2; ++t) {
            const int yy = y + t * dy;
            const int xx = x + t * dx;
            if (yy >= 0 && xx >= 0 && yy < m.rows && xx < m.cols) {
                const int value = m.at<unsigned char>(yy, xx);
                extreme = minimum ? std::min(extreme, value) : std::max(extreme, value);
            }
        }
        return extreme;
    };
    const cv::Mat rows =
        Filled(mask.rows, mask.cols, [&](int y, int x) { return along(mask, y, x, 0, 1); });
    return Filled(mask.rows, mask.cols, [&](int y, int x) { return along(rows, y, x, 1, 0); });
}

// Pixels darker than 0.45 of the page's median grey, opened by a 31 x 31 square,
// connected (8 ways) to the page's edge, then widened by a 7 x 7 square, become
// paper (255).
void FillDarkBorders(const cv::Mat& page, cv::Mat& enhanced) {
    std::vector<unsigned char> values(page.begin<unsigned char>(), page.end<unsigned char>());
    std::sort(values.begin(), values.end());
    const double level = 0.45 * values[values.size() / 2];
    const cv::Mat dark = Filled(page.rows, page.cols, [&](int y, int x) {
        return page.at<unsigned char>(y, x) < level ? 255 : 0;
    });
    const cv::Mat opened = WindowExtreme(WindowExtreme(dark, 31, true), 31, false);
    // Breadth-first from the dark pixels on the page's edge.
    cv::Mat border = cv::Mat::zeros(page.size(), CV_8UC1);
    std::deque<cv::Point> queue;
    const auto reach = [&](int y, int x) {
        if (y >= 0 && x >= 0 && y < page.rows && x < page.cols &&
            opened.at<unsigned char>(y, x) != 0 && border.at<unsigned char>(y, x) == 0) {
            border.at<unsigned char>(y, x) = 255;
            queue.emplace_back(x, y);
        }
    };
    for (int y = 0; y < page.rows; ++y) {
        reach(y, 0);
        reach(y, page.cols - 1);
    }
    for (int x = 0; x < page.cols; ++x) {
        reach(0, x);
        reach(page.rows - 1, x);
    }
    while (!queue.empty()) {
        const cv::Point p = queue.front();
        queue.pop_front();
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                reach(p.y + dy, p.x + dx);
            }
        }
    }
    enhanced.setTo(255, WindowExtreme(border, 7, false));
}

// The Gaussian taps 1 2 7 17 31 45 50 45 31 17 7 2 1 (sum 256) across and down,
// the page mirrored about its edges (fedcba|abcdef|fedcba): integers, exact in doubles.
cv::Mat WeightedSums(const cv::Mat& page) {
    const cv::Mat taps = (cv::Mat_<double>(13, 1) << 1, 2, 7, 17, 31, 45, 50, 45, 31, 17, 7, 2, 1);
    cv::Mat sums;
    cv::sepFilter2D(page, sums, CV_64F, taps, taps, cv::Point(-1, -1), 0.0, cv::BORDER_REFLECT);
    return sums;
}

// Whether some pixel less than a quarter as deep as `deepest` lies in the 19x19 box
// around (x, y), within the page.
bool PaperInBox(const cv::Mat& page, int y, int x, int deepest) {
    double lightest = 0.0;
    cv::minMaxLoc(page(cv::Rect(x - 9, y - 9, 19, 19) & cv::Rect(0, 0, page.cols, page.rows)),
                  nullptr, &lightest);
    return 4 * (255 - lightest) < deepest;
}

// Of the pixels on every fourth row and column, those at least half as deep as the
// one of rank floor(995 (n - 1) / 1000) in increasing depth are ink; the share of
// them whose weighted mean is less than a tenth of their depth above them and that
// have paper in their 19x19 box.
double CoreShare(const cv::Mat& page, const cv::Mat& weighted) {
    std::vector<int> depths;
    for (int y = 0; y < page.rows; y += 4) {
        for (int x = 0; x < page.cols; x += 4) {
            depths.push_back(255 - page.at<unsigned char>(y, x));
        }
    }
    std::sort(depths.begin(), depths.end());
    const int deepest = depths[995 * (depths.size() - 1) / 1000];
    int ink = 0;
    int cores = 0;
    for (int y = 0; deepest > 0 && y < page.rows; y += 4) {
        for (int x = 0; x < page.cols; x += 4) {
            const int depth = 255 - page.at<unsigned char>(y, x);
            const double gap = weighted.at<double>(y, x) - 65536.0 * (255 - depth);
            ink += 2 * depth >= deepest;
            cores += 2 * depth >= deepest && 10 * gap < 65536.0 * depth &&
                     PaperInBox(page, y, x, deepest);
        }
    }
    return ink == 0 ? 0.0 : static_cast<double>(cores) / ink;
}

// Always, never, or unless more than 37 % of the ink is core: every pixel below the
// Gaussian mean m of its surroundings becomes e - (m - e), rounded half up, no lower
// than 0. Returns whether it did.
bool DeepenInk(cv::Mat& enhanced, InkDeepening deepening) {
    if (deepening == InkDeepening::kNever) {
        return false;
    }
    const cv::Mat weighted = WeightedSums(enhanced);
    if (deepening == InkDeepening::kUnlessWideCores && CoreShare(enhanced, weighted) > 0.37) {
        return false;
    }
    const int64_t scale = 256 * 256;
    Filled(enhanced.rows, enhanced.cols, [&](int y, int x) {
        const auto sum = static_cast<int64_t>(weighted.at<double>(y, x));
        const int64_t e = enhanced.at<unsigned char>(y, x);
        const int64_t deepened = std::max<int64_t>(0, 2 * e * scale - sum);
        return e * scale < sum ? (deepened + scale / 2) / scale : e;
    }).copyTo(enhanced);
    return true;
}

}  // namespace

bool EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background, InkDeepening deepening) {
    CV_Assert(!gray.empty() && gray.depth() == CV_8U &&
              (gray.channels() == 1 || gray.channels() == 3) && window >= 1 && window <= 2048);
    // A copy: the outputs may share memory with `gray`, which the border fill reads last.
    cv::Mat single = gray.clone();
    if (gray.channels() == 3) {
        cv::cvtColor(gray, single, cv::COLOR_BGR2GRAY);
    }
    const cv::Mat smoothed = NoiseLevel(single) > kNoisySigma ? Median3x3(single) : single;
    cv::Mat page;
    smoothed.convertTo(page, CV_64F);
    const cv::Mat paper = PaperWeights(page, window, weight);
    const cv::Mat paperLevel = EstimatePaper(page, paper, window);

    // Not convertTo with a scale: from double to 8 bits it scales in single
    // precision on all but the shortest rows, which rounds some halves otherwise.
    Filled(page.rows, page.cols, [&](int y, int x) {
        return page.at<double>(y, x) / std::max(paperLevel.at<double>(y, x), 1.0) * 255.0;
    }).copyTo(enhanced);
    FillDarkBorders(single, enhanced);
    const bool deepened = DeepenInk(enhanced, deepening);
    paperLevel.convertTo(background, CV_8U);
    return deepened;
}

}  // namespace reference
