// The contour-length curve for all levels without thresholding the map 256 times.
//
// At level l the measured mask is the set of pixels above l with its specks (8-connected
// components of one or two pixels) removed; the curve is its outline length (pixels
// outside it that touch it along a side) over its number of components. Everything
// but the component count is local:
// - a pixel is in a kept component at level l exactly when it lies in a connected
//   triple of pixels above l, so it is kept for the levels below `keptBelow`, the best
//   minimum over such triples, which its 5x5 neighbourhood decides;
// - a pixel is outline for the levels from its own keptBelow up to the largest
//   keptBelow of its side neighbours;
// - one- and two-pixel components at each level follow from the neighbours' values.
// Each of these adds one to a range of levels, kept as differences.
//
// The number of components of the pixels above l is their count minus the number of
// 8-neighbour joins that merge two components, in a sweep from the top level down
// (an edge joins one level below the smaller of its two values). A union-find over the whole page
// visits pixels in value order, that is at random in memory, and on large pages it
// spends its time in cache misses. So the sweep runs tile by tile, where the
// union-find fits in the cache: a join inside a tile always merges two components
// unless both already reach the tile's border, since only border pixels have edges
// to other tiles. Those joins, and the edges between tiles, go to a second union-find
// over the border pixels only, replayed level by level.
//
// Preconditions: gradMap is CV_8UC1.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "common/parallel_bands.h"
#include "global/contour_curve.h"

namespace edgebin::detail {

namespace {

constexpr int kTileSide = 128;
constexpr int kLevels = 256;

using LevelCounts = std::array<long long, kLevels + 1>;

// Neighbour directions in ring order N, NE, E, SE, S, SW, W, NW; the opposite of
// direction d is (d + 4) % 8.
constexpr std::array<int, 8> kRingX = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::array<int, 8> kRingY = {-1, -1, 0, 1, 1, 1, 0, -1};

// The largest and second largest of the eight neighbour values of every framed
// pixel (0 on the frame). The largest of a pixel's neighbours other than neighbour
// x is then `second` when x holds the largest value, else `largest`: when several
// neighbours share the largest value, second equals it.
struct NeighbourMaxima {
    cv::Mat largest;
    cv::Mat second;
};

// Fills the page rows of `band` (rows band.top + 1 .. band.bottom of the framed map).
void FindNeighbourMaxima(const cv::Mat& framed, RowBand band, NeighbourMaxima& maxima) {
    const int cols = framed.cols - 2;
    for (int y = band.top + 1; y <= band.bottom; ++y) {
        const uint8_t* up = framed.ptr<uint8_t>(y - 1) + 1;
        const uint8_t* mid = framed.ptr<uint8_t>(y) + 1;
        const uint8_t* down = framed.ptr<uint8_t>(y + 1) + 1;
        uint8_t* largestRow = maxima.largest.ptr<uint8_t>(y) + 1;
        uint8_t* secondRow = maxima.second.ptr<uint8_t>(y) + 1;
        for (int x = 0; x < cols; ++x) {
            const std::array<uint8_t, 8> values = {up[x - 1],  up[x],       up[x + 1], mid[x - 1],
                                                   mid[x + 1], down[x - 1], down[x],   down[x + 1]};
            uint8_t largest = 0;
            uint8_t second = 0;
            for (const uint8_t value : values) {
                second = std::max(second, std::min(largest, value));
                largest = std::max(largest, value);
            }
            largestRow[x] = largest;
            secondRow[x] = second;
        }
    }
}

// Row pointers of the framed map and its neighbour maxima, from the pixel at (x, y).
struct FramedRows {
    const uint8_t* value;
    const uint8_t* largest;
    const uint8_t* second;
};

FramedRows RowsAt(const cv::Mat& framed, const NeighbourMaxima& maxima, int y, int x) {
    return {framed.ptr<uint8_t>(y) + x, maxima.largest.ptr<uint8_t>(y) + x,
            maxima.second.ptr<uint8_t>(y) + x};
}

// The largest value among a pixel's neighbours other than one of them, of value
// `otherValue`, from the pixel's largest and second largest neighbour values.
inline uint8_t LargestExcept(uint8_t largest, uint8_t second, uint8_t otherValue) {
    return otherValue == largest ? second : largest;
}

// keptBelow of the framed pixels of the page rows of `band`: the largest minimum
// value over the connected triples that contain it, either two of its neighbours or
// a neighbour and one of that neighbour's other neighbours.
void KeptBelowLevels(const cv::Mat& framed, const NeighbourMaxima& maxima, RowBand band,
                     cv::Mat& keptBelow) {
    const int cols = framed.cols - 2;
    for (int y = band.top + 1; y <= band.bottom; ++y) {
        const FramedRows centre = RowsAt(framed, maxima, y, 1);
        std::array<FramedRows, 8> around{};
        for (int d = 0; d < 8; ++d) {
            around[static_cast<size_t>(d)] = RowsAt(framed, maxima, y + kRingY[d], 1 + kRingX[d]);
        }
        uint8_t* out = keptBelow.ptr<uint8_t>(y) + 1;
        for (int x = 0; x < cols; ++x) {
            const uint8_t own = centre.value[x];
            uint8_t best = centre.second[x];
            for (const FramedRows& neighbour : around) {
                const uint8_t beyond =
                    LargestExcept(neighbour.largest[x], neighbour.second[x], own);
                best = std::max(best, std::min(neighbour.value[x], beyond));
            }
            out[x] = std::min(own, best);
        }
    }
}

// Neighbouring pixels often add to the same levels; spreading the updates over
// several copies of the counts keeps them from waiting on each other.
constexpr size_t kLanes = 4;
using LaneCounts = std::array<LevelCounts, kLanes>;

// Adds the range of levels [from[x], to[x]) of every pixel of a row, as differences;
// `to` must not be below `from`, and an empty range adds one and takes it off again,
// which spares a test per pixel.
void AddRowRanges(const uint8_t* from, const uint8_t* to, int cols, LaneCounts& lanes) {
    int x = 0;
    for (; x + static_cast<int>(kLanes) <= cols; x += static_cast<int>(kLanes)) {
        for (size_t lane = 0; lane < kLanes; ++lane) {
            const size_t at = static_cast<size_t>(x) + lane;
            ++lanes[lane][from[at]];
            --lanes[lane][to[at]];
        }
    }
    for (; x < cols; ++x) {
        ++lanes[0][from[x]];
        --lanes[0][to[x]];
    }
}

// Per level: specks (one- and two-pixel components) and outline pixels of the page
// rows of `band`, as differences over the levels.
void CountSpecksAndOutline(const cv::Mat& framed, const NeighbourMaxima& maxima,
                           const cv::Mat& keptBelow, RowBand band, LevelCounts& specks,
                           LevelCounts& outline) {
    const int cols = framed.cols - 2;
    // One offset serves the map and its maxima: all three share their layout.
    const int stride = static_cast<int>(framed.step1());
    CV_Assert(maxima.largest.step1() == framed.step1() && maxima.second.step1() == framed.step1());
    LaneCounts speckLanes{};
    LaneCounts outlineLanes{};
    size_t lane = 0;
    std::vector<uint8_t> to(static_cast<size_t>(cols));
    std::vector<int> listed(static_cast<size_t>(cols) + 1);
    for (int y = band.top + 1; y <= band.bottom; ++y) {
        const FramedRows centre = RowsAt(framed, maxima, y, 1);
        // A lone pixel is a speck from its largest neighbour value up to its own.
        for (int x = 0; x < cols; ++x) {
            to[static_cast<size_t>(x)] = std::max(centre.largest[x], centre.value[x]);
        }
        AddRowRanges(centre.largest, to.data(), cols, speckLanes);
        // A two-pixel component needs each of its pixels above all but one of its
        // neighbours, so only such pixels are looked at, each with its pairs
        // towards E, SE, S and SW. The list is gathered without branches, as most
        // pixels fail the test.
        size_t count = 0;
        for (int x = 0; x < cols; ++x) {
            listed[count] = x;
            count += static_cast<size_t>(centre.value[x] > centre.second[x]);
        }
        for (size_t i = 0; i < count; ++i) {
            const int x = listed[i];
            for (int d = 2; d <= 5; ++d) {
                const int offset = kRingY[d] * stride + kRingX[d];
                const uint8_t value = centre.value[x + offset];
                const uint8_t beyondCentre =
                    LargestExcept(centre.largest[x], centre.second[x], value);
                const uint8_t beyondOther = LargestExcept(
                    centre.largest[x + offset], centre.second[x + offset], centre.value[x]);
                const int from = std::max(beyondCentre, beyondOther);
                const int until = std::min(centre.value[x], value);
                if (from < until) {
                    LevelCounts& counts = speckLanes[lane++ % kLanes];
                    ++counts[static_cast<size_t>(from)];
                    --counts[static_cast<size_t>(until)];
                }
            }
        }
        // Outline: from a pixel's own keptBelow up to its side neighbours' largest.
        const uint8_t* up = keptBelow.ptr<uint8_t>(y - 1) + 1;
        const uint8_t* mid = keptBelow.ptr<uint8_t>(y) + 1;
        const uint8_t* down = keptBelow.ptr<uint8_t>(y + 1) + 1;
        for (int x = 0; x < cols; ++x) {
            to[static_cast<size_t>(x)] = std::max(
                std::max(std::max(up[x], down[x]), std::max(mid[x - 1], mid[x + 1])), mid[x]);
        }
        AddRowRanges(mid, to.data(), cols, outlineLanes);
    }
    for (size_t l = 0; l < kLanes; ++l) {
        for (size_t level = 0; level < specks.size(); ++level) {
            specks[level] += speckLanes[l][level];
            outline[level] += outlineLanes[l][level];
        }
    }
}

// Page rows counted at a time: a chunk's maxima and keptBelow are still in the
// cache when the next step reads them, and the page needs no copies of its own.
constexpr int kChunkRows = 32;
// Rows read around a chunk: its outline reads keptBelow a row out, which reads the
// maxima two rows out, which read the values three rows out.
constexpr int kChunkHalo = 3;

// The local terms of the page rows of `band`, a chunk of rows at a time. The rows
// around a chunk are worked out again for each chunk (the frame of zeros stands
// for rows beyond the page), so every count is the one of a whole-page pass.
void CountLocalTermsOfRows(const cv::Mat& gradMap, RowBand band, LevelCounts& specks,
                           LevelCounts& outline) {
    const int rows = gradMap.rows;
    const int cols = gradMap.cols;
    const int height = kChunkRows + 2 * kChunkHalo;
    const size_t framedCols = static_cast<size_t>(cols) + 2;
    cv::Mat framed = cv::Mat::zeros(height, cols + 2, CV_8UC1);
    NeighbourMaxima maxima{cv::Mat::zeros(height, cols + 2, CV_8UC1),
                           cv::Mat::zeros(height, cols + 2, CV_8UC1)};
    cv::Mat keptBelow = cv::Mat::zeros(height, cols + 2, CV_8UC1);
    for (int top = band.top; top < band.bottom; top += kChunkRows) {
        const int bottom = std::min(top + kChunkRows, band.bottom);
        const int firstRow = top - kChunkHalo;  // the page row of the chunk's row 0
        for (int i = 0; i < bottom - top + 2 * kChunkHalo; ++i) {
            const int y = firstRow + i;
            if (y < 0 || y >= rows) {
                for (cv::Mat* plane : {&framed, &maxima.largest, &maxima.second, &keptBelow}) {
                    std::memset(plane->ptr<uint8_t>(i), 0, framedCols);
                }
                continue;
            }
            std::memcpy(framed.ptr<uint8_t>(i) + 1, gradMap.ptr<uint8_t>(y),
                        static_cast<size_t>(cols));
        }
        // The steps take page rows [from, to) as framed rows from + 1 .. to; here
        // they are the chunk's rows, and cut to the page.
        const auto chunkRows = [&](int from, int to) {
            return RowBand{std::max(from, 0) - firstRow - 1, std::min(to, rows) - firstRow - 1};
        };
        FindNeighbourMaxima(framed, chunkRows(top - 2, bottom + 2), maxima);
        KeptBelowLevels(framed, maxima, chunkRows(top - 1, bottom + 1), keptBelow);
        CountSpecksAndOutline(framed, maxima, keptBelow, chunkRows(top, bottom), specks, outline);
    }
}

// The local terms over bands of rows; the bands' counts are integers and add up
// alike in any order.
void CountLocalTerms(const cv::Mat& gradMap, int threads, LevelCounts& specks,
                     LevelCounts& outline) {
    const int rows = gradMap.rows;
    std::vector<LevelCounts> bandSpecks(static_cast<size_t>(BandCount(rows, threads)));
    std::vector<LevelCounts> bandOutline(bandSpecks.size());
    ForEachBand(rows, threads, [&](RowBand band, int index) {
        const size_t at = static_cast<size_t>(index);
        bandSpecks[at].fill(0);
        bandOutline[at].fill(0);
        CountLocalTermsOfRows(gradMap, band, bandSpecks[at], bandOutline[at]);
    });
    for (size_t b = 0; b < bandSpecks.size(); ++b) {
        for (size_t level = 0; level < specks.size(); ++level) {
            specks[level] += bandSpecks[b][level];
            outline[level] += bandOutline[b][level];
        }
    }
}

// One neighbour (as a ring direction) of each group of mutually touching neighbours,
// for every pattern of present neighbours. Present neighbours that touch are already
// in one component, so one join per group is enough. Patterns hold their bits in the
// order in which they are gathered: NW, N, NE, W, E, SW, S, SE.
struct NeighbourGroups {
    int count = 0;
    std::array<int, 4> first{};
};
using NeighbourGroupTable = std::array<NeighbourGroups, 256>;

NeighbourGroupTable BuildNeighbourGroupTable() {
    // Neighbours touch when next to each other on the ring, or when both are side
    // neighbours (even directions) two steps apart.
    const auto touch = [](int i, int j) {
        const int gap = (j - i + 8) % 8;
        return gap == 1 || gap == 7 || ((gap == 2 || gap == 6) && i % 2 == 0);
    };
    constexpr std::array<int, 8> kGatheredDirection = {7, 0, 1, 6, 2, 5, 4, 3};
    NeighbourGroupTable table{};
    for (unsigned gathered = 0; gathered < 256; ++gathered) {
        unsigned pattern = 0;  // in ring order
        for (size_t bit = 0; bit < 8; ++bit) {
            pattern |= (gathered >> bit & 1U) << kGatheredDirection[bit];
        }
        std::array<int, 8> group{};
        group.fill(-1);
        NeighbourGroups& groups = table[gathered];
        for (int i = 0; i < 8; ++i) {
            if ((pattern >> i & 1U) == 0 || group[i] >= 0) {
                continue;
            }
            std::array<int, 8> stack{};
            int top = 0;
            stack[top++] = i;
            group[i] = groups.count;
            while (top > 0) {
                const int at = stack[--top];
                for (int j = 0; j < 8; ++j) {
                    if ((pattern >> j & 1U) != 0 && group[j] < 0 && touch(at, j)) {
                        group[j] = groups.count;
                        stack[top++] = j;
                    }
                }
            }
            groups.first[groups.count++] = i;
        }
    }
    return table;
}

// What a tile's raster pass does with a pixel, by its pattern of present
// neighbours and whether it lies on the tile's border (bit 8 of the index): the
// offset of the neighbour it hangs below (0 when it stays a root) and whether the
// value-ordered sweep must join its groups. A border pixel always stays a root, as
// its component must keep a border pixel to represent it.
struct RasterStep {
    int parentOffset = 0;
    int rootMask = ~0;  // all ones for a root, whose parent is ~0
    int attached = 0;
    int listed = 0;
};
using RasterStepTable = std::array<RasterStep, 512>;

RasterStepTable BuildRasterSteps(const NeighbourGroupTable& groups, int stride) {
    const std::array<int, 8> ring = {-stride, -stride + 1, 1,  stride + 1,
                                     stride,  stride - 1,  -1, -stride - 1};
    RasterStepTable steps{};
    for (size_t pattern = 0; pattern < groups.size(); ++pattern) {
        const NeighbourGroups& around = groups[pattern];
        RasterStep& inside = steps[pattern];
        if (around.count > 0) {
            inside.parentOffset = ring[static_cast<size_t>(around.first[0])];
            inside.rootMask = 0;
            inside.attached = 1;
        }
        inside.listed = static_cast<int>(around.count > 1);
        steps[pattern + 256].listed = static_cast<int>(around.count > 0);
    }
    return steps;
}

// Union-find by rank with path halving; roots hold ~rank.
class DisjointSets {
  public:
    void Reset(size_t size) { parent_.assign(size, ~0); }

    int Find(int p) {
        while (parent_[static_cast<size_t>(p)] >= 0) {
            const int up = parent_[static_cast<size_t>(p)];
            const int upper = parent_[static_cast<size_t>(up)];
            if (upper >= 0) {
                parent_[static_cast<size_t>(p)] = upper;
            }
            p = up;
        }
        return p;
    }

    // Makes p a child of `parent`, or a new set when `parent` is ~0.
    void SetParent(int p, int parent) { parent_[static_cast<size_t>(p)] = parent; }

    // Links two distinct roots; returns the new root.
    int Link(int a, int b) {
        const int rankA = ~parent_[static_cast<size_t>(a)];
        const int rankB = ~parent_[static_cast<size_t>(b)];
        if (rankA < rankB) {
            std::swap(a, b);
        }
        parent_[static_cast<size_t>(b)] = a;
        if (rankA == rankB) {
            parent_[static_cast<size_t>(a)] = ~(rankA + 1);
        }
        return a;
    }

  private:
    std::vector<int> parent_;
};

// Pixels on the border of their tile, numbered tile by tile in raster order.
class TileBorders {
  public:
    TileBorders(int rows, int cols)
        : rows_(rows), cols_(cols), tilesX_((cols + kTileSide - 1) / kTileSide) {
        const int tilesY = (rows + kTileSide - 1) / kTileSide;
        first_.resize(static_cast<size_t>(tilesX_) * tilesY + 1, 0);
        for (int ty = 0; ty < tilesY; ++ty) {
            for (int tx = 0; tx < tilesX_; ++tx) {
                const size_t tile = static_cast<size_t>(ty) * tilesX_ + tx;
                first_[tile + 1] = first_[tile] + BorderCount(TileWidth(tx), TileHeight(ty));
            }
        }
    }

    int Count() const { return first_.back(); }

    int TileWidth(int tx) const { return std::min(kTileSide, cols_ - tx * kTileSide); }
    int TileHeight(int ty) const { return std::min(kTileSide, rows_ - ty * kTileSide); }

    // Number of the page pixel (x, y), or -1 inside its tile.
    int Id(int x, int y) const {
        const int tx = x / kTileSide;
        const int ty = y / kTileSide;
        return LocalId(tx, ty, x - tx * kTileSide, y - ty * kTileSide);
    }

    // The same for the pixel (x, y) of tile (tx, ty).
    int LocalId(int tx, int ty, int x, int y) const {
        const int local = BorderIndex(x, y, TileWidth(tx), TileHeight(ty));
        return local < 0 ? -1 : first_[static_cast<size_t>(ty) * tilesX_ + tx] + local;
    }

  private:
    static int Middle(int width) { return std::min(width, 2); }

    static int BorderCount(int width, int height) {
        return height == 1 ? width : 2 * width + (height - 2) * Middle(width);
    }

    static int BorderIndex(int x, int y, int width, int height) {
        if (y == 0) {
            return x;
        }
        if (y == height - 1) {
            return width + (height - 2) * Middle(width) + x;
        }
        if (x == 0) {
            return width + (y - 1) * Middle(width);
        }
        if (x == width - 1) {
            return width + (y - 1) * Middle(width) + 1;
        }
        return -1;
    }

    int rows_;
    int cols_;
    int tilesX_;
    std::vector<int> first_;
};

// Joins of two border-reaching components, to be replayed over the border pixels.
using BorderJoins = std::vector<std::vector<std::pair<int, int>>>;

// The level sweep inside one tile. Joins that certainly merge are counted in
// `merges`; the others go to `borderJoins` by level.
//
// Which neighbours a pixel finds present when it joins is local: in the sweep's
// order (value descending, then raster order within the tile) they are the
// neighbours of larger value and those of equal value before it in raster order.
// So one raster pass sees every pixel's neighbour groups. A pixel inside the tile
// with a single group only hangs below that group, and one with none starts a
// component; neither needs the union-find's roots, so the pass settles both at
// once. Only the pixels that join two or more groups, and the border pixels that
// touch one, are swept in value order; their roots are reached through parents
// that all point earlier in that order, so the forest they see is the one a full
// sweep would have built.
class TileSweep {
    // Offsets of the eight neighbours in the framed tile, in ring order.
    static constexpr int kStride = kTileSide + 2;
    static constexpr std::array<int, 8> kRing = {-kStride, -kStride + 1, 1,  kStride + 1,
                                                 kStride,  kStride - 1,  -1, -kStride - 1};

    // A pixel to sweep: its place in the framed tile, its pattern of present
    // neighbours and its value.
    struct ListedPixel {
        uint16_t at;
        uint8_t pattern;
        uint8_t value;
    };
    static_assert(kStride * kStride <= 1 << 16, "framed tile places fit 16 bits");

  public:
    TileSweep() : groups_(BuildNeighbourGroupTable()), steps_(BuildRasterSteps(groups_, kStride)) {
        const size_t framedSize = static_cast<size_t>(kStride) * kStride;
        values_.resize(framedSize);
        borderId_.resize(framedSize);
        representative_.resize(framedSize);
        sets_.Reset(framedSize);
        patterns_.resize(kTileSide);
        order_.reserve(framedSize);
    }

    // Also adds the tile's pixels to `histogram` by value.
    void Run(const cv::Mat& gradMap, const TileBorders& borders, int tx, int ty,
             LevelCounts& histogram, LevelCounts& merges, BorderJoins& borderJoins) {
        const int width = borders.TileWidth(tx);
        const int height = borders.TileHeight(ty);
        listed_.resize(static_cast<size_t>(kStride) * kStride);
        FrameTile(gradMap, tx * kTileSide, ty * kTileSide, width, height);
        MarkBorder(borders, tx, ty, width, height);
        // Counted per tile and without branches: whether a pixel is listed is
        // close to random.
        std::copy(borderId_.begin(), borderId_.end(), representative_.begin());
        std::array<int, kLevels> tileHistogram{};
        std::array<int, kLevels> attachedByValue{};
        std::array<int, kLevels> listedCount{};
        size_t listedSize = 0;
        const auto settle = [&](int p, uint8_t pattern, unsigned onBorder) {
            const uint8_t value = values_[static_cast<size_t>(p)];
            ++tileHistogram[value];
            const RasterStep& step = steps_[pattern | onBorder << 8];
            sets_.SetParent(p, (p + step.parentOffset) | step.rootMask);
            attachedByValue[value] += step.attached;
            listed_[listedSize] = ListedPixel{static_cast<uint16_t>(p), pattern, value};
            listedSize += static_cast<size_t>(step.listed);
            listedCount[value] += step.listed;
        };
        for (int y = 1; y <= height; ++y) {
            FindPatterns(y, width);
            const int row = y * kStride;
            if (y == 1 || y == height) {
                for (int x = 1; x <= width; ++x) {
                    settle(row + x, patterns_[static_cast<size_t>(x) - 1], 1);
                }
                continue;
            }
            settle(row + 1, patterns_[0], 1);
            for (int x = 2; x < width; ++x) {
                settle(row + x, patterns_[static_cast<size_t>(x) - 1], 0);
            }
            if (width > 1) {
                settle(row + width, patterns_[static_cast<size_t>(width) - 1], 1);
            }
        }
        histogram[0] += tileHistogram[0];
        for (size_t value = 1; value < kLevels; ++value) {
            histogram[value] += tileHistogram[value];
            merges[value - 1] += attachedByValue[value];
        }
        listed_.resize(listedSize);
        SortListed(listedCount);
        for (const ListedPixel& pixel : order_) {
            const int p = pixel.at;
            const NeighbourGroups& groups = groups_[pixel.pattern];
            const int first = static_cast<int>(borderId_[static_cast<size_t>(p)] < 0);
            for (int g = first; g < groups.count; ++g) {
                Join(p, p + kRing[static_cast<size_t>(groups.first[g])], pixel.value - 1, merges,
                     borderJoins);
            }
        }
    }

  private:
    // The tile with a frame of zeros, which no pixel above a level ever joins.
    void FrameTile(const cv::Mat& gradMap, int x0, int y0, int width, int height) {
        if (width < kTileSide || height < kTileSide) {
            std::fill(values_.begin(), values_.end(), uint8_t{0});
        } else {
            std::fill_n(values_.begin(), kStride, uint8_t{0});
            std::fill_n(values_.end() - kStride, kStride, uint8_t{0});
        }
        for (int y = 0; y < height; ++y) {
            uint8_t* row = values_.data() + static_cast<size_t>(y + 1) * kStride;
            row[0] = 0;
            std::memcpy(row + 1, gradMap.ptr<uint8_t>(y0 + y) + x0, static_cast<size_t>(width));
            row[width + 1] = 0;
        }
    }

    void MarkBorder(const TileBorders& borders, int tx, int ty, int width, int height) {
        std::fill(borderId_.begin(), borderId_.end(), -1);
        const auto mark = [&](int x, int y) {
            borderId_[static_cast<size_t>((y + 1) * kStride + x + 1)] =
                borders.LocalId(tx, ty, x, y);
        };
        for (int x = 0; x < width; ++x) {
            mark(x, 0);
            mark(x, height - 1);
        }
        for (int y = 1; y + 1 < height; ++y) {
            mark(0, y);
            mark(width - 1, y);
        }
    }

    // The neighbours present when each pixel of framed row y joins, as bits in the
    // group table's order: NW, N, NE, W before it in raster order count from its
    // own value up, E, SW, S, SE only above it; none for a pixel of value 0, which
    // never joins. Written so that it vectorises.
    void FindPatterns(int y, int width) {
        const uint8_t* up = values_.data() + static_cast<size_t>(y - 1) * kStride + 1;
        const uint8_t* mid = up + kStride;
        const uint8_t* down = mid + kStride;
        uint8_t* out = patterns_.data();
        for (int x = 0; x < width; ++x) {
            const uint8_t v = mid[x];
            const auto ifAbove = static_cast<uint8_t>(-static_cast<int>(v != 0));
            out[x] = ifAbove & static_cast<uint8_t>(static_cast<unsigned>(up[x - 1] >= v) |
                                                    static_cast<unsigned>(up[x] >= v) << 1 |
                                                    static_cast<unsigned>(up[x + 1] >= v) << 2 |
                                                    static_cast<unsigned>(mid[x - 1] >= v) << 3 |
                                                    static_cast<unsigned>(mid[x + 1] > v) << 4 |
                                                    static_cast<unsigned>(down[x - 1] > v) << 5 |
                                                    static_cast<unsigned>(down[x] > v) << 6 |
                                                    static_cast<unsigned>(down[x + 1] > v) << 7);
        }
    }

    // The listed pixels by value descending, in raster order within a value.
    void SortListed(const std::array<int, kLevels>& listedCount) {
        std::array<int, kLevels> next{};
        int start = 0;
        for (int value = kLevels - 1; value >= 0; --value) {
            next[static_cast<size_t>(value)] = start;
            start += listedCount[static_cast<size_t>(value)];
        }
        order_.resize(listed_.size());
        for (const ListedPixel& pixel : listed_) {
            order_[static_cast<size_t>(next[pixel.value]++)] = pixel;
        }
    }

    void Join(int p, int q, int level, LevelCounts& merges, BorderJoins& borderJoins) {
        const int a = sets_.Find(p);
        const int b = sets_.Find(q);
        if (a == b) {
            return;
        }
        const int borderA = representative_[static_cast<size_t>(a)];
        const int borderB = representative_[static_cast<size_t>(b)];
        if (borderA >= 0 && borderB >= 0) {
            borderJoins[static_cast<size_t>(level)].emplace_back(borderA, borderB);
        } else {
            ++merges[static_cast<size_t>(level)];
        }
        const int root = sets_.Link(a, b);
        representative_[static_cast<size_t>(root)] = borderA >= 0 ? borderA : borderB;
    }

    NeighbourGroupTable groups_;
    RasterStepTable steps_;
    std::vector<uint8_t> values_;      // framed tile; the frame stays zero
    std::vector<int> borderId_;        // border pixel numbers of the tile, -1 inside
    std::vector<int> representative_;  // at roots: a border pixel of the component, or -1
    DisjointSets sets_;
    std::vector<uint8_t> patterns_;    // of the current row
    std::vector<ListedPixel> listed_;  // pixels to sweep, in raster order
    std::vector<ListedPixel> order_;   // the same by value, descending
};

// Edges between 8-neighbours in different tiles, by the level at which both ends
// are above it, from the pixels of rows [rows.top, rows.bottom).
void CollectTileEdges(const cv::Mat& gradMap, const TileBorders& borders, RowBand rows,
                      BorderJoins& borderJoins) {
    const auto addEdge = [&](int x, int y, int nx, int ny) {
        if (nx < 0 || nx >= gradMap.cols || ny >= gradMap.rows ||
            (nx / kTileSide == x / kTileSide && ny / kTileSide == y / kTileSide)) {
            return;
        }
        const int low = std::min(gradMap.at<uint8_t>(y, x), gradMap.at<uint8_t>(ny, nx));
        if (low > 0) {
            borderJoins[static_cast<size_t>(low - 1)].emplace_back(borders.Id(x, y),
                                                                   borders.Id(nx, ny));
        }
    };
    const auto forwardEdges = [&](int x, int y) {
        addEdge(x, y, x + 1, y);
        addEdge(x, y, x + 1, y + 1);
        addEdge(x, y, x, y + 1);
        addEdge(x, y, x - 1, y + 1);
    };
    for (int y = rows.top; y < rows.bottom; ++y) {
        if (y % kTileSide == kTileSide - 1) {
            for (int x = 0; x < gradMap.cols; ++x) {
                forwardEdges(x, y);
            }
            continue;
        }
        for (int x0 = 0; x0 < gradMap.cols; x0 += kTileSide) {
            forwardEdges(x0, y);
            const int last = std::min(x0 + kTileSide, gradMap.cols) - 1;
            if (last != x0) {
                forwardEdges(last, y);
            }
        }
    }
}

// Joins that merge two components, by level, and the histogram of the map. The
// tiles are swept by bands of tile rows, each band with its own counts and joins,
// and the edges leaving its rows. How many of a level's joins merge does not
// depend on their order (the components after the level are the same), so the
// bands' joins are replayed one band after the other.
void CountMerges(const cv::Mat& gradMap, int threads, LevelCounts& histogram, LevelCounts& merges) {
    const TileBorders borders(gradMap.rows, gradMap.cols);
    const int tileRows = (gradMap.rows + kTileSide - 1) / kTileSide;
    const size_t bands = static_cast<size_t>(BandCount(tileRows, threads));
    std::vector<LevelCounts> bandHistograms(bands);
    std::vector<LevelCounts> bandMerges(bands);
    std::vector<BorderJoins> bandJoins(bands, BorderJoins(kLevels));
    ForEachBand(tileRows, threads, [&](RowBand band, int index) {
        const size_t at = static_cast<size_t>(index);
        bandHistograms[at].fill(0);
        bandMerges[at].fill(0);
        TileSweep sweep;
        for (int ty = band.top; ty < band.bottom; ++ty) {
            for (int tx = 0; tx * kTileSide < gradMap.cols; ++tx) {
                sweep.Run(gradMap, borders, tx, ty, bandHistograms[at], bandMerges[at],
                          bandJoins[at]);
            }
        }
        const RowBand pageRows{band.top * kTileSide,
                               std::min(band.bottom * kTileSide, gradMap.rows)};
        CollectTileEdges(gradMap, borders, pageRows, bandJoins[at]);
    });
    for (size_t band = 0; band < bands; ++band) {
        for (size_t level = 0; level < merges.size(); ++level) {
            histogram[level] += bandHistograms[band][level];
            merges[level] += bandMerges[band][level];
        }
    }
    DisjointSets sets;
    sets.Reset(static_cast<size_t>(borders.Count()));
    for (int level = kLevels - 1; level >= 0; --level) {
        for (const BorderJoins& joins : bandJoins) {
            for (const auto& [p, q] : joins[static_cast<size_t>(level)]) {
                const int a = sets.Find(p);
                const int b = sets.Find(q);
                if (a != b) {
                    sets.Link(a, b);
                    ++merges[static_cast<size_t>(level)];
                }
            }
        }
    }
}

}  // namespace

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve, int threads) {
    CV_Assert(gradMap.type() == CV_8UC1);
    contourCurve.fill(0.0);
    if (gradMap.empty()) {
        return;
    }
    LevelCounts histogram{};
    LevelCounts merges{};
    CountMerges(gradMap, threads, histogram, merges);
    LevelCounts specks{};
    LevelCounts outline{};
    CountLocalTerms(gradMap, threads, specks, outline);

    // Components at each level: pixels above it less the merges at or above it.
    std::array<long long, kLevels> components{};
    long long pixelsAbove = 0;
    long long mergesAbove = 0;
    for (int level = kLevels - 1; level >= 0; --level) {
        pixelsAbove += histogram[static_cast<size_t>(level) + 1];
        mergesAbove += merges[static_cast<size_t>(level)];
        components[static_cast<size_t>(level)] = pixelsAbove - mergesAbove;
    }
    long long speckCount = 0;
    long long outlineCount = 0;
    for (int level = 0; level < kLevels; ++level) {
        speckCount += specks[static_cast<size_t>(level)];
        outlineCount += outline[static_cast<size_t>(level)];
        const long long kept = components[static_cast<size_t>(level)] - speckCount;
        contourCurve[static_cast<size_t>(level)] =
            kept > 0 ? static_cast<double>(outlineCount) / static_cast<double>(kept) : 0.0;
    }
}

}  // namespace edgebin::detail
