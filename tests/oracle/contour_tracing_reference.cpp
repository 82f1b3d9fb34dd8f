#include "oracle/contour_tracing.h"

#include <algorithm>

namespace edgebin::detail {

namespace {

// Steps of the tracer's eight directions, clockwise on screen (y grows downwards).
constexpr int kStepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kStepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};

}  // namespace

void TraceContour(const unsigned char* pixels, int cols, int rows, int* labels, int label,
                  int startX, int startY, bool outer) {
    int direction = outer ? 7 : 3;
    int x = startX;
    int y = startY;
    bool haveSecond = false;
    int secondX = 0;
    int secondY = 0;
    for (;;) {
        int found = -1;
        int nextX = 0;
        int nextY = 0;
        for (int turn = 0; turn < 8; ++turn) {
            const int d = (direction + turn) % 8;
            const int qx = x + kStepX[d];
            const int qy = y + kStepY[d];
            if (qx < 0 || qx >= cols || qy < 0 || qy >= rows) {
                continue;
            }
            const size_t at = static_cast<size_t>(qy) * cols + qx;
            if (pixels[at] != 0) {
                labels[at] = -1;
                continue;
            }
            found = d;
            nextX = qx;
            nextY = qy;
            break;
        }
        if (found < 0) {
            return;  // isolated pixel
        }
        labels[static_cast<size_t>(nextY) * cols + nextX] = label;
        if (!haveSecond) {
            haveSecond = true;
            secondX = nextX;
            secondY = nextY;
        } else if (x == startX && y == startY && nextX == secondX && nextY == secondY) {
            return;
        }
        x = nextX;
        y = nextY;
        direction = (found + 6) % 8;
    }
}

int LabelComponents(const unsigned char* pixels, int cols, int rows, int* labels) {
    if (cols <= 0 || rows <= 0) {
        return 0;
    }
    std::fill(labels, labels + static_cast<size_t>(rows) * cols, 0);
    int next = 1;
    for (int y = 0; y < rows; ++y) {
        const size_t rowStart = static_cast<size_t>(y) * cols;
        for (int x = 0; x < cols; ++x) {
            const size_t at = rowStart + x;
            if (pixels[at] != 0) {
                continue;
            }
            if (labels[at] == 0 && (y == 0 || pixels[at - cols] != 0)) {
                labels[at] = next;
                TraceContour(pixels, cols, rows, labels, next, x, y, true);
                ++next;
            }
            if (y + 1 < rows && pixels[at + cols] != 0 && labels[at + cols] == 0) {
                if (labels[at] == 0) {
                    labels[at] = labels[at - 1];
                }
                TraceContour(pixels, cols, rows, labels, labels[at], x, y, false);
            } else if (labels[at] == 0) {
                labels[at] = labels[at - 1];
            }
        }
    }
    return next - 1;
}

void CollectComponentStats(const int* labels, int cols, int rows, int n,
                           std::vector<ComponentRecord>& records) {
    records.clear();
    records.reserve(static_cast<size_t>(std::max(n, 0)));
    for (int i = 1; i <= n; ++i) {
        records.push_back(ComponentRecord{cols, 0, rows, 0, i, 0, 1, 0});
    }
    for (int y = 0; y < rows; ++y) {
        const int* row = labels + static_cast<size_t>(y) * cols;
        for (int x = 0; x < cols; ++x) {
            const int label = row[x];
            if (label <= 0) {
                continue;
            }
            ComponentRecord& record = records[static_cast<size_t>(label) - 1];
            record.xMin = std::min(record.xMin, x);
            record.xMax = std::max(record.xMax, x);
            record.yMin = std::min(record.yMin, y);
            record.yMax = std::max(record.yMax, y);
            ++record.pixelCount;
        }
    }
}

}  // namespace edgebin::detail
