// The contour-length curve in one sweep over the levels.
//
// Thresholding the map at every level and labelling it twice per level costs 512
// labellings. Instead the levels are visited from 254 down to 0; each step adds the
// pixels whose value is exactly level + 1 and joins them to their 8-neighbours with
// union-find. Only components of at least three pixels survive the speck removal,
// and a pixel becomes part of such a component exactly once, so the outline count
// (pixels outside every kept component that touch one along a side) is maintained
// with constant work per pixel and per 4-neighbour. The curve is the same, level for
// level, as thresholding, removing specks and measuring each mask.
//
// Preconditions: gradMap is CV_8UC1 with fewer than 2^31 pixels.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "global/contour_curve.h"

namespace {

// Components with fewer pixels are specks and are not part of the measured mask.
constexpr int kKeptSize = 3;

class LevelSweep {
  public:
    LevelSweep(int rows, int cols)
        : rows_(rows),
          cols_(cols),
          parent_(static_cast<size_t>(rows) * cols),
          partner_(parent_.size()),
          size_(parent_.size(), 0),
          kept_(parent_.size(), 0),
          keptNeighbours_(parent_.size(), 0) {}

    // Adds pixel p to the foreground and joins it to its foreground 8-neighbours.
    void Add(int p) {
        parent_[p] = p;
        partner_[p] = p;
        size_[p] = 1;
        const int y = p / cols_;
        const int x = p - y * cols_;
        const int yFirst = y > 0 ? y - 1 : y;
        const int yLast = y + 1 < rows_ ? y + 1 : y;
        const int xFirst = x > 0 ? x - 1 : x;
        const int xLast = x + 1 < cols_ ? x + 1 : x;
        for (int ny = yFirst; ny <= yLast; ++ny) {
            for (int nx = xFirst; nx <= xLast; ++nx) {
                const int q = ny * cols_ + nx;
                if (q != p && size_[q] != 0) {
                    Join(p, q);
                }
            }
        }
    }

    // Mean outline length of the kept components, as the measurement defines it.
    double MeanOutline() const {
        return keptComponents_ > 0
                   ? static_cast<double>(outline_) / static_cast<double>(keptComponents_)
                   : 0.0;
    }

  private:
    int Find(int p) {
        while (parent_[p] != p) {
            parent_[p] = parent_[parent_[p]];
            p = parent_[p];
        }
        return p;
    }

    // Sizes saturate at kKeptSize: only "speck or not" matters. A two-pixel
    // component remembers its second pixel in partner_ of its root, so that both
    // pixels can be marked when it grows into a kept component.
    void Join(int p, int q) {
        int a = Find(p);
        int b = Find(q);
        if (a == b) {
            return;
        }
        if (size_[a] < size_[b]) {
            std::swap(a, b);
        }
        parent_[b] = a;
        const bool keptA = size_[a] >= kKeptSize;
        const bool keptB = size_[b] >= kKeptSize;
        const int joined = size_[a] + size_[b];
        if (joined >= kKeptSize) {
            keptComponents_ += 1 - static_cast<int>(keptA) - static_cast<int>(keptB);
            if (!keptA) {
                MarkComponentKept(a);
            }
            if (!keptB) {
                MarkComponentKept(b);
            }
            size_[a] = kKeptSize;
        } else {
            partner_[a] = b;  // two single pixels
            size_[a] = static_cast<uint8_t>(joined);
        }
    }

    void MarkComponentKept(int root) {
        MarkPixelKept(root);
        if (partner_[root] != root) {
            MarkPixelKept(partner_[root]);
        }
    }

    void MarkPixelKept(int p) {
        kept_[p] = 1;
        if (keptNeighbours_[p] > 0) {
            --outline_;  // it was outline; now it is part of the shape
        }
        const int y = p / cols_;
        const int x = p - y * cols_;
        if (x > 0) {
            TouchOutline(p - 1);
        }
        if (x + 1 < cols_) {
            TouchOutline(p + 1);
        }
        if (y > 0) {
            TouchOutline(p - cols_);
        }
        if (y + 1 < rows_) {
            TouchOutline(p + cols_);
        }
    }

    void TouchOutline(int q) {
        if (kept_[q] == 0 && keptNeighbours_[q]++ == 0) {
            ++outline_;
        }
    }

    int rows_;
    int cols_;
    std::vector<int> parent_;
    std::vector<int> partner_;
    std::vector<uint8_t> size_;  // 0 while the pixel is not foreground
    std::vector<uint8_t> kept_;
    std::vector<uint8_t> keptNeighbours_;
    long long outline_ = 0;
    long long keptComponents_ = 0;
};

// Pixel indices sorted by value (counting sort, raster order within a value);
// pixels of value v occupy order[start[v] .. start[v + 1]).
void SortPixelsByValue(const cv::Mat& gradMap, std::vector<int>& order,
                       std::array<int, 257>& start) {
    start.fill(0);
    for (int y = 0; y < gradMap.rows; ++y) {
        const uint8_t* row = gradMap.ptr<uint8_t>(y);
        for (int x = 0; x < gradMap.cols; ++x) {
            ++start[static_cast<size_t>(row[x]) + 1];
        }
    }
    for (size_t v = 0; v < 256; ++v) {
        start[v + 1] += start[v];
    }
    std::array<int, 256> next{};
    std::copy(start.begin(), start.begin() + 256, next.begin());
    order.resize(gradMap.total());
    for (int y = 0; y < gradMap.rows; ++y) {
        const uint8_t* row = gradMap.ptr<uint8_t>(y);
        for (int x = 0; x < gradMap.cols; ++x) {
            order[static_cast<size_t>(next[row[x]]++)] = y * gradMap.cols + x;
        }
    }
}

}  // namespace

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve) {
    CV_Assert(gradMap.type() == CV_8UC1);
    contourCurve.fill(0.0);
    if (gradMap.empty()) {
        return;
    }
    std::vector<int> order;
    std::array<int, 257> start{};
    SortPixelsByValue(gradMap, order, start);
    LevelSweep sweep(gradMap.rows, gradMap.cols);
    // Level 255 keeps no pixel; level l keeps the pixels above l.
    for (int level = 254; level >= 0; --level) {
        const size_t value = static_cast<size_t>(level) + 1;
        for (int i = start[value]; i < start[value + 1]; ++i) {
            sweep.Add(order[static_cast<size_t>(i)]);
        }
        contourCurve[static_cast<size_t>(level)] = sweep.MeanOutline();
    }
}
