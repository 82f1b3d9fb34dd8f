#include "oracle/oracle.h"

namespace reference {

// Counts how many bands cover each row: a description fits when every row is
// covered exactly once, by bands listed top to bottom.
bool DescribesEveryRow(int rows, int cols, const std::vector<LineBand>& lineBands,
                       const std::vector<int>& bandStrokeWidths,
                       const std::vector<int>& rowStrokeWidths) {
    if (rows < 0 || cols < 0 || static_cast<int>(rowStrokeWidths.size()) != rows ||
        bandStrokeWidths.size() != lineBands.size()) {
        return false;
    }
    if (rows == 0 || cols == 0) {
        return lineBands.empty();
    }
    std::vector<int> cover(static_cast<size_t>(rows), 0);
    int previousBottom = -1;
    for (size_t i = 0; i < lineBands.size(); ++i) {
        const LineBand& band = lineBands[i];
        if (band.left != 0 || band.right != cols - 1 || bandStrokeWidths[i] < 1 ||
            band.top <= previousBottom || band.top > band.bottom || band.bottom >= rows) {
            return false;
        }
        for (int row = band.top; row <= band.bottom; ++row) {
            ++cover[static_cast<size_t>(row)];
        }
        previousBottom = band.bottom;
    }
    for (int covered : cover) {
        if (covered != 1) {
            return false;
        }
    }
    return true;
}

}  // namespace reference
