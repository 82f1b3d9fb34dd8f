// Preconditions: `mask` is CV_8UC1 (a view is fine); a pixel is foreground when
// non-zero.
//
// The records are those of the contour-tracing labeller (8-connected components
// numbered in the raster order of their first pixel, with inclusive bounding box
// and pixel count), found from the runs of foreground pixels instead of a label
// per pixel: runs of neighbouring rows that touch (diagonals included) are joined
// in a union-find whose root is always the first run of the set in raster order,
// so that numbering the roots in run order numbers the components as the labeller
// does.
#include <algorithm>
#include <cstdint>
#include <numeric>

#include "common/labelling.h"
#include "common/non_zero_bits.h"
#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

// Horizontal runs of foreground pixels, in raster order.
struct Runs {
    std::vector<int> row;
    std::vector<int> first;
    std::vector<int> last;  // inclusive
    std::vector<int> parent;

    void Add(int y, int x0, int x1) {
        row.push_back(y);
        first.push_back(x0);
        last.push_back(x1);
        parent.push_back(static_cast<int>(parent.size()));
    }
    int Size() const { return static_cast<int>(row.size()); }
    void Reserve(size_t count) {
        row.reserve(count);
        first.reserve(count);
        last.reserve(count);
        parent.reserve(count);
    }
};

// Number of runs in rows band.top .. band.bottom - 1: the non-zero pixels whose
// left neighbour is zero or outside.
size_t CountBandRuns(const cv::Mat& mask, RowBand band) {
    size_t count = 0;
    for (int y = band.top; y < band.bottom; ++y) {
        const unsigned char* row = mask.ptr<unsigned char>(y);
        std::uint64_t carry = 0;
        for (int x = 0; x < mask.cols; x += 64) {
            const std::uint64_t bits = NonZeroBits(row + x, std::min(64, mask.cols - x));
            const std::uint64_t starts = bits & ~(bits << 1 | carry);
            // Most words start no run, and without a popcount instruction in the
            // portable build each count is a library call.
            if (starts != 0) {
                count += static_cast<size_t>(__builtin_popcountll(starts));
            }
            carry = bits >> 63;
        }
    }
    return count;
}

// Appends the runs of row y, 64 columns at a time from a bit mask.
void AddRowRuns(const unsigned char* row, int y, int cols, Runs& runs) {
    bool open = false;
    int runStart = 0;
    for (int x = 0; x < cols; x += 64) {
        const int width = std::min(64, cols - x);
        const std::uint64_t bits = NonZeroBits(row + x, width);
        int pos = 0;
        while (pos < width) {
            if (!open) {
                const std::uint64_t ahead = bits >> pos;
                if (ahead == 0) {
                    break;
                }
                pos += __builtin_ctzll(ahead);
                open = true;
                runStart = x + pos;
            }
            const std::uint64_t gaps = ~bits >> pos;
            if (gaps == 0) {
                break;  // the run goes on into the next word
            }
            pos += __builtin_ctzll(gaps);
            if (pos >= width) {
                break;
            }
            runs.Add(y, runStart, x + pos - 1);
            open = false;
        }
    }
    if (open) {
        runs.Add(y, runStart, cols - 1);
    }
}

int Find(std::vector<int>& parent, int i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

// The earlier run becomes the root, so a root is the first run of its set.
void Join(std::vector<int>& parent, int a, int b) {
    a = Find(parent, a);
    b = Find(parent, b);
    if (a < b) {
        parent[b] = a;
    } else if (b < a) {
        parent[a] = b;
    }
}

// Joins the runs of one row (begin..end) with those of the row above
// (aboveBegin..aboveEnd) that touch them, diagonals included.
void JoinWithRowAbove(int aboveBegin, int aboveEnd, int begin, int end, Runs& runs) {
    int i = aboveBegin;
    int j = begin;
    while (i < aboveEnd && j < end) {
        if (runs.last[i] + 1 < runs.first[j]) {
            ++i;
        } else if (runs.last[j] + 1 < runs.first[i]) {
            ++j;
        } else {
            Join(runs.parent, i, j);
            if (runs.last[i] < runs.last[j]) {
                ++i;
            } else {
                ++j;
            }
        }
    }
}

// The runs of the rows of `band`, joined where they touch within it; their parents
// are numbered from the band's first run.
void CollectBandRuns(const cv::Mat& mask, RowBand band, Runs& runs) {
    int aboveBegin = 0;
    int aboveEnd = 0;
    for (int y = band.top; y < band.bottom; ++y) {
        const int begin = runs.Size();
        AddRowRuns(mask.ptr<unsigned char>(y), y, mask.cols, runs);
        const int end = runs.Size();
        JoinWithRowAbove(aboveBegin, aboveEnd, begin, end, runs);
        aboveBegin = begin;
        aboveEnd = end;
    }
}

// Appends the runs of the band below `runs` and joins those of its first row with
// those of the last row above. A set's root stays its first run whatever the
// order of the joins, so the bands give the sets a single pass would.
void AppendBandBelow(Runs& below, Runs& runs) {
    const int offset = runs.Size();
    int aboveBegin = offset;
    while (aboveBegin > 0 && runs.row[static_cast<size_t>(aboveBegin) - 1] == runs.row.back()) {
        --aboveBegin;
    }
    runs.row.insert(runs.row.end(), below.row.begin(), below.row.end());
    runs.first.insert(runs.first.end(), below.first.begin(), below.first.end());
    runs.last.insert(runs.last.end(), below.last.begin(), below.last.end());
    for (const int parent : below.parent) {
        runs.parent.push_back(parent + offset);
    }
    below = Runs{};
    if (offset == 0 || runs.Size() == offset ||
        runs.row[static_cast<size_t>(offset)] != runs.row[static_cast<size_t>(offset) - 1] + 1) {
        return;
    }
    int end = offset;
    while (end < runs.Size() &&
           runs.row[static_cast<size_t>(end)] == runs.row[static_cast<size_t>(offset)]) {
        ++end;
    }
    JoinWithRowAbove(aboveBegin, offset, offset, end, runs);
}

}  // namespace

int FindMaskComponents(const cv::Mat& mask, std::vector<ComponentRecord>& records, int threads) {
    CV_Assert(mask.type() == CV_8UC1);
    records.clear();
    // The runs are counted first, so that their lists are made once at their size:
    // grown as the runs are found, and joined afterwards, they would be copied
    // several times over.
    const size_t parts = static_cast<size_t>(BandCount(mask.rows, threads));
    std::vector<size_t> counts(parts, 0);
    ForEachBand(mask.rows, threads, [&](RowBand band, int index) {
        counts[static_cast<size_t>(index)] = CountBandRuns(mask, band);
    });
    std::vector<Runs> bandRuns(parts);
    bandRuns.front().Reserve(std::accumulate(counts.begin(), counts.end(), size_t{0}));
    ForEachBand(mask.rows, threads, [&](RowBand band, int index) {
        Runs& runs = bandRuns[static_cast<size_t>(index)];
        if (index > 0) {
            runs.Reserve(counts[static_cast<size_t>(index)]);
        }
        CollectBandRuns(mask, band, runs);
    });
    Runs runs = std::move(bandRuns.front());
    for (size_t band = 1; band < bandRuns.size(); ++band) {
        AppendBandBelow(bandRuns[band], runs);
    }

    // Roots come before the rest of their set, so each set's record exists by the
    // time its other runs are added.
    std::vector<int> recordOf(static_cast<size_t>(runs.Size()), -1);
    for (int i = 0; i < runs.Size(); ++i) {
        const int root = Find(runs.parent, i);
        if (root == i) {
            recordOf[i] = static_cast<int>(records.size());
            const int label = static_cast<int>(records.size()) + 1;
            records.push_back(ComponentRecord{mask.cols, 0, mask.rows, 0, label, 0, 1, 0});
        }
        ComponentRecord& record = records[static_cast<size_t>(recordOf[root])];
        record.xMin = std::min(record.xMin, runs.first[i]);
        record.xMax = std::max(record.xMax, runs.last[i]);
        record.yMin = std::min(record.yMin, runs.row[i]);
        record.yMax = std::max(record.yMax, runs.row[i]);
        record.pixelCount += runs.last[i] - runs.first[i] + 1;
    }
    return static_cast<int>(records.size());
}

}  // namespace edgebin::detail
