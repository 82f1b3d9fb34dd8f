// Preconditions: `gray` is 8-bit with one or three channels (three are read as
// BGR) and not empty; 1 <= `window` <= 2048; `weight` >= 0. Ink is darker than paper.
//
// The page is divided by an estimate of its paper: pixels that a local mean/deviation
// test marks as likely ink are left out of the estimate, and the paper around them
// fills their place. Slow changes of the paper (illumination, shadows, stains wider
// than the window) divide out to white, while ink keeps its ratio to the paper.
//
// Around that division: a noisy page (measured from the median second difference)
// is smoothed by a 3x3 median first, dark regions connected to the page's edge
// and wider than any stroke become paper, and last every pixel darker than its
// surroundings is deepened by that difference.
//
// Every window sum is an exact integer, taken with running sums down the columns
// and prefix sums along each row, so the page never exists in floating point and
// the working memory beyond the 8-bit images is a few rows.
#include "global/enhance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>
#include <type_traits>
#include <vector>

#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

// A paper estimate needs this share of its window to be paper; otherwise a larger
// window is tried.
constexpr double kMinPaperShare = 0.05;

// Keeps N * Q (window^4 * 255^2) of the ink test within int64.
constexpr int kMaxWindow = 2048;

// Largest sides whose window sums fit in int32, so that the sums can run in 32
// bits: g^2 over the ink test's window (181^2 * 255^2 < 2^31) and g over the
// paper estimate's (2901^2 * 255 < 2^31).
constexpr int kNarrowInkWindow = 181;
constexpr int kNarrowPaperSide = 2901;

// Values of the paper image (the ink test's verdict) and of the resolved image
// (the pixel has its paper level). Two images rather than two bits of one, so that
// bands resolving their own rows never write a byte that another band reads.
constexpr unsigned char kPaper = 1;
constexpr unsigned char kResolved = 1;

cv::Mat SingleChannel(const cv::Mat& gray) {
    if (gray.channels() == 1) {
        return gray;
    }
    cv::Mat single;
    cv::cvtColor(gray, single, cv::COLOR_BGR2GRAY);
    return single;
}

// Index of the page pixel that virtual index `v` reads under BORDER_REFLECT
// (fedcba|abcdef|fedcba, repeated): the reflected line has period 2 * length.
int ReflectIndex(int64_t v, int length) {
    // Most reads lie within one reflection of the page, where no division is needed.
    if (v >= -static_cast<int64_t>(length) && v < 2 * static_cast<int64_t>(length)) {
        return static_cast<int>(v < 0 ? -v - 1 : v >= length ? 2 * int64_t{length} - 1 - v : v);
    }
    const int64_t period = 2 * static_cast<int64_t>(length);
    int64_t r = v % period;
    if (r < 0) {
        r += period;
    }
    return static_cast<int>(r < length ? r : period - 1 - r);
}

// Prefix sums wrap around in the unsigned type of the sums' width: a window sum,
// the difference of two of them, is still exact whenever it fits in Sum.
template <typename Sum>
using Wrapping = std::make_unsigned_t<Sum>;

// Sum of the reflected line over virtual indices [0, v) (negative v: minus the sum
// over [v, 0)), from the prefix sums prefix[0..length] of the page line.
template <typename U>
U ReflectedPrefix(const U* prefix, int length, int64_t v) {
    // Windows that reach at most one page length past either end, as nearly all do,
    // without the divisions of the general case.
    if (v >= 0 && v <= length) {
        return prefix[v];
    }
    if (v < 0 && v >= -static_cast<int64_t>(length)) {
        return static_cast<U>(U{0} - prefix[-v]);
    }
    if (v > length && v <= 2 * static_cast<int64_t>(length)) {
        return static_cast<U>(2 * prefix[length] - prefix[2 * static_cast<int64_t>(length) - v]);
    }
    const int64_t period = 2 * static_cast<int64_t>(length);
    int64_t cycles = v / period;
    int64_t r = v % period;
    if (r < 0) {
        r += period;
        --cycles;
    }
    const U total = prefix[length];
    const U part = r <= length ? prefix[r] : static_cast<U>(2 * total - prefix[period - r]);
    return static_cast<U>(static_cast<U>(cycles) * 2 * total + part);
}

// Row scratch for WindowSumsAlongRow: the prefix sums of kLines lines.
template <typename Sum, size_t kLines>
struct Prefixes {
    explicit Prefixes(size_t width) {
        for (std::vector<Wrapping<Sum>>& line : lines) {
            line.resize(width + 1);
        }
    }
    std::array<std::vector<Wrapping<Sum>>, kLines> lines;
};

template <typename Sum, size_t kLines>
using Lines = std::array<const Sum*, kLines>;

// prefix.lines[i][x + 1] = in[i][0] + ... + in[i][x], wrapping. The lines' prefix
// sums are independent chains that run interleaved.
template <typename Sum, size_t kLines>
void PrefixSums(const Lines<Sum, kLines>& in, int length, Prefixes<Sum, kLines>& prefix) {
    using U = Wrapping<Sum>;
    std::array<U*, kLines> out{};
    std::array<U, kLines> total{};
    for (size_t i = 0; i < kLines; ++i) {
        out[i] = prefix.lines[i].data();
        out[i][0] = 0;
    }
    int x = 0;
#if CV_SIMD128
    if constexpr (std::is_same_v<U, uint32_t>) {
        // Four at a time: a vector plus itself one lane on, plus that two lanes on,
        // holds the prefix sums of its four values; the total so far rides along in
        // every lane, so the serial chain is one addition and one shuffle a step.
        std::array<cv::v_uint32x4, kLines> carry{};
        for (cv::v_uint32x4& lane : carry) {
            lane = cv::v_setzero_u32();
        }
        for (; x + 4 <= length; x += 4) {
            for (size_t i = 0; i < kLines; ++i) {
                cv::v_uint32x4 sums = cv::v_reinterpret_as_u32(cv::v_load(in[i] + x));
                sums += cv::v_rotate_left<1>(sums);
                sums += cv::v_rotate_left<2>(sums);
                sums += carry[i];
                cv::v_store(out[i] + x + 1, sums);
                carry[i] = cv::v_broadcast_element<3>(sums);
            }
        }
        for (size_t i = 0; i < kLines; ++i) {
            total[i] = cv::v_extract_n<0>(carry[i]);
        }
    }
#endif
    for (; x < length; ++x) {
        for (size_t i = 0; i < kLines; ++i) {
            total[i] += static_cast<U>(in[i][x]);
            out[i][x + 1] = total[i];
        }
    }
}

// out[i][x] = sum of the reflected line in[i] over x - side/2 .. x - side/2 + side - 1.
template <typename Sum, typename Out, size_t kLines>
void WindowSumsAlongRow(const Lines<Sum, kLines>& in, int length, int side,
                        Prefixes<Sum, kLines>& prefix, const std::array<Out*, kLines>& out) {
    PrefixSums(in, length, prefix);
    using U = Wrapping<Sum>;
    const int anchor = side / 2;
    const int reach = side - anchor;
    const auto window = [](U high, U low) {
        return static_cast<Out>(static_cast<Sum>(static_cast<U>(high - low)));
    };
    const auto reflected = [&window, length, anchor, side](const U* linePrefix, int x) {
        const int64_t low = static_cast<int64_t>(x) - anchor;
        return window(ReflectedPrefix(linePrefix, length, low + side),
                      ReflectedPrefix(linePrefix, length, low));
    };
    // Windows inside the row read two prefixes; only the rest needs the reflection.
    const int innerBegin = std::min(anchor, length);
    const int innerEnd = std::max(innerBegin, length - reach + 1);
    // A window no longer than the row reaches at most its own length past either
    // end, where the reflected prefixes are plain sums of two page prefixes.
    const bool shortWindow = side <= length;
    // Over [length, x + reach): the whole row less the prefix up to 2 length - x - reach,
    // reflected.
    const auto pastEnd = [length, reach](const U* linePrefix, int x) {
        return static_cast<U>(2 * linePrefix[length] - linePrefix[2 * length - x - reach]);
    };
    for (size_t i = 0; i < kLines; ++i) {
        const U* linePrefix = prefix.lines[i].data();
        Out* sums = out[i];
        for (int x = 0; x < innerBegin; ++x) {
            // Over [x - anchor, 0): the prefix up to anchor - x, reflected.
            sums[x] = shortWindow ? window(linePrefix[x + reach], U{0} - linePrefix[anchor - x])
                                  : reflected(linePrefix, x);
        }
        for (int x = innerBegin; x < innerEnd; ++x) {
            sums[x] = window(linePrefix[x + reach], linePrefix[x - anchor]);
        }
        for (int x = innerEnd; x < length; ++x) {
            sums[x] = shortWindow ? window(pastEnd(linePrefix, x), linePrefix[x - anchor])
                                  : reflected(linePrefix, x);
        }
    }
}

// Column sums over the reflected rows y - side/2 .. y - side/2 + side - 1, built
// for one row with `add(row, times)` and carried down with `shift(enter, leave)`.
// A window taller than twice the page holds every page row twice per full period.
template <typename Add>
void StartColumnWindow(int rows, int side, int y, const Add& add) {
    const int64_t period = 2 * static_cast<int64_t>(rows);
    const int64_t low = static_cast<int64_t>(y) - side / 2;
    const int64_t cycles = side / period;
    if (cycles > 0) {
        for (int r = 0; r < rows; ++r) {
            add(r, static_cast<int>(2 * cycles));
        }
    }
    for (int64_t v = low + cycles * period; v < low + side; ++v) {
        add(ReflectIndex(v, rows), 1);
    }
}

template <typename Shift>
void AdvanceColumnWindow(int rows, int side, int y, const Shift& shift) {
    const int64_t low = static_cast<int64_t>(y) - side / 2;
    const int enter = ReflectIndex(low + side, rows);
    const int leave = ReflectIndex(low, rows);
    if (enter != leave) {
        shift(enter, leave);
    }
}

// The ink test of one pixel from d = N*g - S < 0 and spread = N*Q - S*S, taken as
// defined, with the square root.
bool PaperByRoot(int64_t d, int64_t spread, double weight) {
    return static_cast<double>(-d) <= weight * std::sqrt(static_cast<double>(spread));
}

// The ink test's squares decide first where they are clear: (-d)^2 against weight^2 *
// spread with a relative margin far above the few rounding errors on either side. Only
// near-ties take the root.
constexpr double kBelow = 1.0 - 1e-9;
constexpr double kAbove = 1.0 + 1e-9;

#if CV_SIMD128_64F
// Relative margin of the single-precision screen, 16 units in the last place: far
// above its few roundings, far below the gaps it decides.
constexpr float kScreenMargin = 1.0F / (1 << 20);

// The ink test of four pixels in single precision, for windows up to
// kNarrowInkWindow: N*g and S stay below 2^24, so d = N*g - S is exact, while the
// spread N*Q - S*S loses up to a few 2^-24 of N*Q + S*S, here bounded by 2^-21 of
// it. A verdict is taken only where it holds for every spread within that bound and
// with `squaredBelow` / `squaredAbove` (weight^2 narrowed and widened by
// kScreenMargin), so exactly as well; returns false, with nothing decided, when
// some pixel lies nearer its tie. `paperBits` gets the sign mask of the paper.
bool SingleVerdicts(const cv::v_int32x4& grey, const cv::v_int32x4& sum,
                    const cv::v_int32x4& square, float n, float squaredBelow, float squaredAbove,
                    int& paperBits) {
    const cv::v_float32x4 s = cv::v_cvt_f32(sum);
    const cv::v_float32x4 d = cv::v_cvt_f32(grey) * cv::v_setall_f32(n) - s;
    const cv::v_float32x4 nq = cv::v_setall_f32(n) * cv::v_cvt_f32(square);
    const cv::v_float32x4 ss = s * s;
    const cv::v_float32x4 spread = nq - ss;
    const cv::v_float32x4 slack = (nq + ss) * cv::v_setall_f32(1.0F / (1 << 21));
    const cv::v_float32x4 dd = d * d;
    const cv::v_float32x4 zero = cv::v_setzero_f32();
    const cv::v_float32x4 surePaper =
        (d >= zero) | (dd < (spread - slack) * cv::v_setall_f32(squaredBelow));
    const cv::v_float32x4 sureInk =
        (d < zero) & (dd > (spread + slack) * cv::v_setall_f32(squaredAbove));
    if (cv::v_signmask(surePaper | sureInk) != 15) {
        return false;
    }
    paperBits = cv::v_signmask(surePaper);
    return true;
}
#endif

// The cheap verdicts of one row with sums that fit in 32 bits, whose d, spread and
// d^2 (below 2^47) are then exact in double precision: the loop runs on vectors
// without 64-bit products. Returns false when some pixel was a near-tie, which the
// caller then decides again with the root.
bool MarkClearPaper(const unsigned char* g, const int32_t* sum, const int32_t* square, int cols,
                    double n, double weightSquared, unsigned char* out) {
    int undecided = 0;
    int x = 0;
#if CV_SIMD128_64F
    // Four pixels a step, two to a vector; the verdicts leave as sign masks, one bit a
    // pixel, and a table spreads the four bits to four bytes.
    static constexpr std::array<uint32_t, 16> kBytesOfBits = [] {
        std::array<uint32_t, 16> table{};
        for (uint32_t bits = 0; bits < 16; ++bits) {
            for (uint32_t i = 0; i < 4; ++i) {
                table[bits] |= ((bits >> i) & 1U) * kPaper << (8 * i);
            }
        }
        return table;
    }();
    const cv::v_float64x2 windowArea = cv::v_setall_f64(n);
    const cv::v_float64x2 squared = cv::v_setall_f64(weightSquared);
    const cv::v_float64x2 below = cv::v_setall_f64(kBelow);
    const cv::v_float64x2 above = cv::v_setall_f64(kAbove);
    const cv::v_float64x2 zero = cv::v_setzero_f64();
    const auto verdicts = [&](const cv::v_float64x2& grey, const cv::v_float64x2& s,
                              const cv::v_float64x2& q, int& clear) {
        const cv::v_float64x2 d = windowArea * grey - s;
        const cv::v_float64x2 bound = squared * (windowArea * q - s * s);
        const cv::v_float64x2 surePaper = (d >= zero) | (d * d < bound * below);
        const cv::v_float64x2 sureInk = (d < zero) & (d * d > bound * above);
        clear = cv::v_signmask(surePaper | sureInk);
        return cv::v_signmask(surePaper);
    };
    // First in single precision, four to a vector (see SingleVerdicts); a negative
    // weight has no bound to screen against.
    const bool screen = weightSquared >= 0.0;
    const float screenArea = static_cast<float>(n);
    const float squaredBelow = static_cast<float>(weightSquared) * (1.0F - kScreenMargin);
    const float squaredAbove = static_cast<float>(weightSquared) * (1.0F + kScreenMargin);
    const auto quad = [&](int at, const cv::v_int32x4& grey) {
        const cv::v_int32x4 s = cv::v_load(sum + at);
        const cv::v_int32x4 q = cv::v_load(square + at);
        int paperBits = 0;
        if (screen &&
            SingleVerdicts(grey, s, q, screenArea, squaredBelow, squaredAbove, paperBits)) {
            const uint32_t bytes = kBytesOfBits[static_cast<size_t>(paperBits)];
            std::memcpy(out + at, &bytes, sizeof bytes);
            return;
        }
        int clearLow = 0;
        int clearHigh = 0;
        const int paperLow =
            verdicts(cv::v_cvt_f64(grey), cv::v_cvt_f64(s), cv::v_cvt_f64(q), clearLow);
        const int paperHigh = verdicts(cv::v_cvt_f64_high(grey), cv::v_cvt_f64_high(s),
                                       cv::v_cvt_f64_high(q), clearHigh);
        undecided |= (clearLow | clearHigh << 2) ^ 15;
        const uint32_t bytes = kBytesOfBits[static_cast<size_t>(paperLow | paperHigh << 2)];
        std::memcpy(out + at, &bytes, sizeof bytes);
    };
    // Eight grey values a load, widened in two steps.
    for (; x + 8 <= cols; x += 8) {
        cv::v_uint32x4 greyLow;
        cv::v_uint32x4 greyHigh;
        cv::v_expand(cv::v_load_expand(g + x), greyLow, greyHigh);
        quad(x, cv::v_reinterpret_as_s32(greyLow));
        quad(x + 4, cv::v_reinterpret_as_s32(greyHigh));
    }
    for (; x + 4 <= cols; x += 4) {
        // Set lane by lane: OpenCV's four-byte expanding load reads an int through a
        // byte pointer, which the undefined-behaviour sanitizer rejects.
        quad(x, cv::v_int32x4(g[x], g[x + 1], g[x + 2], g[x + 3]));
    }
#endif
    for (; x < cols; ++x) {
        const double s = sum[x];
        const double d = n * g[x] - s;
        const double bound = weightSquared * (n * square[x] - s * s);
        const int surePaper = (d >= 0.0) | (d * d < bound * kBelow);
        const int sureInk = (d < 0.0) & (d * d > bound * kAbove);
        undecided |= (surePaper | sureInk) ^ 1;
        out[x] = static_cast<unsigned char>(surePaper * kPaper);
    }
    return undecided == 0;
}

// Sets kPaper in rows band.top .. band.bottom - 1 where the pixel is not darker
// than mean - weight * deviation of its window, else 0. Multiplied through by
// N = window^2 the test reads d = N*g - S >= 0 or -d <= weight * sqrt(N*Q - S*S),
// with S and Q the exact sums of g and g^2.
template <typename Sum>
void MarkPaper(const cv::Mat& grey, int window, double weight, RowBand band, cv::Mat& paperMap) {
    const int rows = grey.rows;
    const int cols = grey.cols;
    const size_t width = static_cast<size_t>(cols);
    std::vector<Sum> columnSums(width, 0);
    std::vector<Sum> columnSquares(width, 0);
    Prefixes<Sum, 2> prefix(width);
    std::vector<Sum> sums(width);
    std::vector<Sum> squares(width);
    // Raw pointers: stores through a vector's operator[] would make the compiler
    // reload its data pointer after every 8-bit read.
    Sum* sumsDown = columnSums.data();
    Sum* squaresDown = columnSquares.data();
    const auto add = [&grey, sumsDown, squaresDown, width](int r, int times) {
        const unsigned char* g = grey.ptr<unsigned char>(r);
        for (size_t x = 0; x < width; ++x) {
            sumsDown[x] += times * g[x];
            squaresDown[x] += times * g[x] * g[x];
        }
    };
    const auto shift = [&grey, sumsDown, squaresDown, width](int enter, int leave) {
        const unsigned char* in = grey.ptr<unsigned char>(enter);
        const unsigned char* out = grey.ptr<unsigned char>(leave);
        size_t x = 0;
#if CV_SIMD128
        if constexpr (std::is_same_v<Sum, int32_t>) {
            // Sixteen columns a step. The squares' difference is taken as
            // (in - out)(in + out), one widening product of 16-bit lanes.
            constexpr size_t kStep = cv::v_uint8x16::nlanes;
            for (; x + kStep <= width; x += kStep) {
                cv::v_uint16x8 inLow;
                cv::v_uint16x8 inHigh;
                cv::v_uint16x8 outLow;
                cv::v_uint16x8 outHigh;
                cv::v_expand(cv::v_load(in + x), inLow, inHigh);
                cv::v_expand(cv::v_load(out + x), outLow, outHigh);
                const std::array<cv::v_int16x8, 2> difference = {
                    cv::v_reinterpret_as_s16(cv::v_sub_wrap(inLow, outLow)),
                    cv::v_reinterpret_as_s16(cv::v_sub_wrap(inHigh, outHigh))};
                const std::array<cv::v_int16x8, 2> total = {
                    cv::v_reinterpret_as_s16(cv::v_add_wrap(inLow, outLow)),
                    cv::v_reinterpret_as_s16(cv::v_add_wrap(inHigh, outHigh))};
                for (size_t half = 0; half < 2; ++half) {
                    Sum* sumsAt = sumsDown + x + half * kStep / 2;
                    Sum* squaresAt = squaresDown + x + half * kStep / 2;
                    cv::v_int32x4 low;
                    cv::v_int32x4 high;
                    cv::v_expand(difference[half], low, high);
                    cv::v_store(sumsAt, cv::v_load(sumsAt) + low);
                    cv::v_store(sumsAt + 4, cv::v_load(sumsAt + 4) + high);
                    cv::v_mul_expand(difference[half], total[half], low, high);
                    cv::v_store(squaresAt, cv::v_load(squaresAt) + low);
                    cv::v_store(squaresAt + 4, cv::v_load(squaresAt + 4) + high);
                }
            }
        }
#endif
        for (; x < width; ++x) {
            sumsDown[x] += in[x] - out[x];
            squaresDown[x] += in[x] * in[x] - out[x] * out[x];
        }
    };

    // The square root is slow, so squares decide first where they are clear. A
    // negative or NaN weight marks every d < 0 as ink, as the root would.
    const double weightSquared = weight >= 0.0 ? weight * weight : -1.0;
    const int64_t n = static_cast<int64_t>(window) * window;
    StartColumnWindow(rows, window, band.top, add);
    for (int y = band.top; y < band.bottom; ++y) {
        if (y > band.top) {
            AdvanceColumnWindow(rows, window, y - 1, shift);
        }
        WindowSumsAlongRow<Sum, Sum, 2>({sumsDown, squaresDown}, cols, window, prefix,
                                        {sums.data(), squares.data()});
        const unsigned char* g = grey.ptr<unsigned char>(y);
        unsigned char* out = paperMap.ptr<unsigned char>(y);
        const Sum* sum = sums.data();
        const Sum* square = squares.data();
        if constexpr (std::is_same_v<Sum, int32_t>) {
            if (MarkClearPaper(g, sum, square, cols, static_cast<double>(n), weightSquared, out)) {
                continue;
            }
        }
        for (size_t x = 0; x < width; ++x) {
            const int64_t s = sum[x];
            const int64_t d = n * g[x] - s;
            const int64_t spread = n * square[x] - s * s;
            const double excess = static_cast<double>(-d);
            const double bound = weightSquared * static_cast<double>(spread);
            // The sign bit as a number: a comparison here would become a branch,
            // and on noisy paper the sign of d is a coin toss.
            const int negative = static_cast<int>(static_cast<uint64_t>(d) >> 63);
            const int surePaper = (negative ^ 1) | (excess * excess < bound * kBelow);
            const int sureInk = negative & (excess * excess > bound * kAbove);
            int paper = surePaper;
            if ((surePaper | sureInk) == 0) {
                paper = PaperByRoot(d, spread, weight);
            }
            out[x] = static_cast<unsigned char>(paper * kPaper);
        }
    }
}

struct PageOutputs {
    cv::Mat enhanced;
    cv::Mat background;
};

// Paper divides to 1 and maps to white; brighter-than-paper noise saturates.
unsigned char EnhancedValue(unsigned char grey, double paperLevel) {
    return cv::saturate_cast<unsigned char>((grey / std::max(paperLevel, 1.0)) * 255.0);
}

// The paper test and what is resolved so far, with the count of unresolved pixels
// per row.
struct PaperState {
    cv::Mat paper;
    cv::Mat resolved;
    std::vector<int> unresolvedInRow;
};

// Where one row of the paper estimate writes.
struct RowTargets {
    unsigned char* resolved;
    unsigned char* enhanced;
    unsigned char* background;
};

// Resolves pixels x .. cols - 1 of a row from its window sums of paper grey and paper
// count: every unresolved pixel with at least minCount paper takes their mean.
// Returns how many it resolved.
template <typename Sum>
int ResolveRowFrom(int x, const unsigned char* g, const Sum* sum, const Sum* count, int cols,
                   double minCount, const RowTargets& row) {
    int resolved = 0;
    for (; x < cols; ++x) {
        const double paperCount = static_cast<double>(count[x]);
        if (row.resolved[x] != 0 || paperCount < minCount) {
            continue;
        }
        const double level = static_cast<double>(sum[x]) / std::max(paperCount, 1.0);
        row.enhanced[x] = EnhancedValue(g[x], level);
        row.background[x] = cv::saturate_cast<unsigned char>(level);
        row.resolved[x] = kResolved;
        ++resolved;
    }
    return resolved;
}

#if CV_SIMD128_64F
// Windows up to this side have paper counts C below 2^15 and paper sums S below 2^24,
// exact in single precision, and so has the product g * C.
constexpr int kSingleQuotientSide = 181;
// Relative distance from a half-integer that single-precision rounding errors (a
// few 2^-24) cannot cross.
constexpr float kTieMargin = 1.0F / (1 << 20);

// The level round(S / C) and the value round(255 g / (S / C)) of four pixels from
// single-precision quotients, four to a vector rather than two. The value comes from
// the one quotient 255 g C / S: both it and the definition's two quotients stay far
// closer to the exact ratio than its distance from any half-integer (at least
// 1 / (2S) in the value, 1 / (2C) in the level) unless the ratio is a half-integer
// itself. Returns false where a lane of `take` may not round as the definition:
// the value near a half-integer, or paper darker than level 1, which the definition
// raises to 1. Lanes outside `take` may hold anything.
bool SingleQuotients(const cv::v_int32x4& grey, const cv::v_int32x4& paperSum,
                     const cv::v_int32x4& paperCount, const cv::v_int32x4& take,
                     cv::v_int32x4& level, cv::v_int32x4& value) {
    const cv::v_float32x4 s = cv::v_cvt_f32(paperSum);
    const cv::v_float32x4 c = cv::v_cvt_f32(paperCount);
    level = cv::v_round(s / c);
    const cv::v_float32x4 ratio = cv::v_cvt_f32(grey) * c * cv::v_setall_f32(255.0F) / s;
    value = cv::v_round(ratio);
    const cv::v_float32x4 fromTie =
        cv::v_abs(cv::v_abs(ratio - cv::v_cvt_f32(value)) - cv::v_setall_f32(0.5F));
    const cv::v_int32x4 nearTie =
        cv::v_reinterpret_as_s32(fromTie <= ratio * cv::v_setall_f32(kTieMargin));
    const cv::v_int32x4 doubtful = (nearTie | (paperSum < paperCount)) & take;
    return cv::v_check_all(doubtful == cv::v_setzero_s32());
}
#endif

// ResolveRowFrom(0, ...) for sums in 32 bits, eight pixels a step: the same divisions
// and roundings two to a vector (or four, checked, for windows up to
// kSingleQuotientSide), and the pixels that are resolved already or lack paper keep
// their bytes by a blend rather than a branch. `minCount` is the least whole count
// that passes. Returns how many it resolved; `x` ends where the scalar tail takes
// over.
int ResolveRowOnVectors(const unsigned char* g, const int32_t* sum, const int32_t* count, int cols,
                        int side, int minCount, const RowTargets& targets, int& end) {
    int resolved = 0;
#if CV_SIMD128_64F
    // Copies: the byte stores below may alias anything, and would make the compiler
    // reload the targets and the position after each of them.
    const RowTargets row = targets;
    int x = end;
    const bool single = side <= kSingleQuotientSide;
    const cv::v_float64x2 one = cv::v_setall_f64(1.0);
    const cv::v_float64x2 white = cv::v_setall_f64(255.0);
    const cv::v_int32x4 enough = cv::v_setall_s32(minCount);
    const cv::v_uint32x4 open = cv::v_setzero_u32();
    // The mean paper level and the enhanced value of four pixels, rounded as cvRound.
    const auto quad = [&](const cv::v_int32x4& grey, const cv::v_int32x4& paperSum,
                          const cv::v_int32x4& paperCount, cv::v_int32x4& level) {
        const cv::v_float64x2 levelLow =
            cv::v_cvt_f64(paperSum) / cv::v_max(cv::v_cvt_f64(paperCount), one);
        const cv::v_float64x2 levelHigh =
            cv::v_cvt_f64_high(paperSum) / cv::v_max(cv::v_cvt_f64_high(paperCount), one);
        level = cv::v_round(levelLow, levelHigh);
        return cv::v_round((cv::v_cvt_f64(grey) / cv::v_max(levelLow, one)) * white,
                           (cv::v_cvt_f64_high(grey) / cv::v_max(levelHigh, one)) * white);
    };
    cv::v_int32x4 taken = cv::v_setzero_s32();
    for (; x + 8 <= cols; x += 8) {
        // Which pixels take their level comes first: after the first window side few
        // do, and a step without any skips the divisions.
        const cv::v_int32x4 countLow = cv::v_load(count + x);
        const cv::v_int32x4 countHigh = cv::v_load(count + x + 4);
        cv::v_uint32x4 resolvedLow;
        cv::v_uint32x4 resolvedHigh;
        cv::v_expand(cv::v_load_expand(row.resolved + x), resolvedLow, resolvedHigh);
        const cv::v_int32x4 takeLow =
            (countLow >= enough) & cv::v_reinterpret_as_s32(resolvedLow == open);
        const cv::v_int32x4 takeHigh =
            (countHigh >= enough) & cv::v_reinterpret_as_s32(resolvedHigh == open);
        const cv::v_int16x8 takeWide = cv::v_pack(takeLow, takeHigh);
        const cv::v_uint8x16 take = cv::v_reinterpret_as_u8(cv::v_pack(takeWide, takeWide));
        if (cv::v_check_all(take == cv::v_setzero_u8())) {
            continue;
        }
        cv::v_uint32x4 greyLow;
        cv::v_uint32x4 greyHigh;
        cv::v_expand(cv::v_load_expand(g + x), greyLow, greyHigh);
        const cv::v_int32x4 sumLow = cv::v_load(sum + x);
        const cv::v_int32x4 sumHigh = cv::v_load(sum + x + 4);
        cv::v_int32x4 levelLow;
        cv::v_int32x4 levelHigh;
        cv::v_int32x4 valueLow;
        cv::v_int32x4 valueHigh;
        const bool settled = single &&
                             SingleQuotients(cv::v_reinterpret_as_s32(greyLow), sumLow, countLow,
                                             takeLow, levelLow, valueLow) &&
                             SingleQuotients(cv::v_reinterpret_as_s32(greyHigh), sumHigh, countHigh,
                                             takeHigh, levelHigh, valueHigh);
        if (!settled) {
            valueLow = quad(cv::v_reinterpret_as_s32(greyLow), sumLow, countLow, levelLow);
            valueHigh = quad(cv::v_reinterpret_as_s32(greyHigh), sumHigh, countHigh, levelHigh);
        }
        const cv::v_uint16x8 values = cv::v_pack_u(valueLow, valueHigh);
        const cv::v_uint16x8 levels = cv::v_pack_u(levelLow, levelHigh);
        cv::v_uint8x16 enhancedBytes = cv::v_pack(values, values);
        cv::v_uint8x16 backgroundBytes = cv::v_pack(levels, levels);
        cv::v_uint8x16 resolvedBytes = cv::v_setall_u8(kResolved);
        // In the first window side nearly every step takes all its pixels, and
        // then nothing is kept.
        if (!cv::v_check_all(take)) {
            enhancedBytes = cv::v_select(take, enhancedBytes, cv::v_load_low(row.enhanced + x));
            backgroundBytes =
                cv::v_select(take, backgroundBytes, cv::v_load_low(row.background + x));
            resolvedBytes = cv::v_select(take, resolvedBytes, cv::v_load_low(row.resolved + x));
        }
        cv::v_store_low(row.enhanced + x, enhancedBytes);
        cv::v_store_low(row.background + x, backgroundBytes);
        cv::v_store_low(row.resolved + x, resolvedBytes);
        // Taken lanes hold -1.
        taken += takeLow + takeHigh;
    }
    resolved -= cv::v_reduce_sum(taken);
    end = x;
#else
    static_cast<void>(g);
    static_cast<void>(sum);
    static_cast<void>(count);
    static_cast<void>(cols);
    static_cast<void>(side);
    static_cast<void>(minCount);
    static_cast<void>(targets);
    static_cast<void>(end);
#endif
    return resolved;
}

// The change of paper grey and paper count in one column as the row (gIn, sIn)
// enters the window and (gOut, sOut) leaves it. Paper grey is taken as a byte mask
// rather than a product: the difference of two bytes fits 16 bits, which the
// vectorised loops then widen once.
struct PaperChange {
    int16_t grey;
    int16_t count;
};

inline PaperChange PaperChangeAt(const unsigned char* gIn, const unsigned char* sIn,
                                 const unsigned char* gOut, const unsigned char* sOut, int x) {
    const unsigned char paperIn = sIn[x] & kPaper;
    const unsigned char paperOut = sOut[x] & kPaper;
    const auto greyIn = static_cast<unsigned char>(gIn[x] & (0U - paperIn));
    const auto greyOut = static_cast<unsigned char>(gOut[x] & (0U - paperOut));
    return {static_cast<int16_t>(greyIn - greyOut), static_cast<int16_t>(paperIn - paperOut)};
}

// Sums of paper grey and paper count down the columns of a window's rows, and
// their window sums along a row: `sums` and `counts`, one entry per column.
template <typename Sum>
class PaperColumnSums {
  public:
    PaperColumnSums(const cv::Mat& grey, const cv::Mat& paper)
        : grey_(grey),
          paper_(paper),
          columnSums_(static_cast<size_t>(grey.cols), 0),
          columnCounts_(static_cast<size_t>(grey.cols), 0),
          prefix_(static_cast<size_t>(grey.cols)),
          sums(static_cast<size_t>(grey.cols)),
          counts(static_cast<size_t>(grey.cols)) {}

    void Add(int r, int times) {
        const unsigned char* g = grey_.ptr<unsigned char>(r);
        const unsigned char* s = paper_.ptr<unsigned char>(r);
        // Raw pointers and a local bound: stores through a vector's operator[] or
        // beside the image would make the compiler reload them after every store.
        Sum* __restrict sumsDown = columnSums_.data();
        Sum* __restrict countsDown = columnCounts_.data();
        const int cols = grey_.cols;
        for (int x = 0; x < cols; ++x) {
            const int paper = s[x] & kPaper;
            sumsDown[x] += static_cast<Sum>(times) * (paper * g[x]);
            countsDown[x] += times * paper;
        }
    }

    void Shift(int enter, int leave) {
        const unsigned char* gIn = grey_.ptr<unsigned char>(enter);
        const unsigned char* sIn = paper_.ptr<unsigned char>(enter);
        const unsigned char* gOut = grey_.ptr<unsigned char>(leave);
        const unsigned char* sOut = paper_.ptr<unsigned char>(leave);
        Sum* __restrict sumsDown = columnSums_.data();
        Sum* __restrict countsDown = columnCounts_.data();
        const int cols = grey_.cols;
        for (int x = 0; x < cols; ++x) {
            const PaperChange change = PaperChangeAt(gIn, sIn, gOut, sOut, x);
            sumsDown[x] += change.grey;
            countsDown[x] += change.count;
        }
    }

    void TakeWindowSums(int side) {
        WindowSumsAlongRow<Sum, Sum, 2>({columnSums_.data(), columnCounts_.data()}, grey_.cols,
                                        side, prefix_, {sums.data(), counts.data()});
    }

  private:
    const cv::Mat& grey_;
    const cv::Mat& paper_;
    std::vector<Sum> columnSums_;
    std::vector<Sum> columnCounts_;
    Prefixes<Sum, 2> prefix_;

  public:
    std::vector<Sum> sums;
    std::vector<Sum> counts;
};

// Windows up to this side hold fewer than 2^kCountBits paper pixels whose grey sums
// to less than 2^(32 - kCountBits), so that sum * 2^kCountBits + count fits 32 bits:
// one line of column sums and one prefix per row carry both, with half the
// additions. Wrapping sums of such values stay exact in every window.
constexpr int kPackedSide = 63;
constexpr int kCountBits = 12;
static_assert(kPackedSide * kPackedSide < (1 << kCountBits) &&
              int64_t{kPackedSide} * kPackedSide * 255 < (int64_t{1} << (32 - kCountBits)));

// PaperColumnSums for sides up to kPackedSide, in one packed line.
class PackedPaperColumnSums {
  public:
    PackedPaperColumnSums(const cv::Mat& grey, const cv::Mat& paper)
        : grey_(grey),
          paper_(paper),
          columns_(static_cast<size_t>(grey.cols), 0),
          prefix_(static_cast<size_t>(grey.cols)),
          packed_(static_cast<size_t>(grey.cols)),
          sums(static_cast<size_t>(grey.cols)),
          counts(static_cast<size_t>(grey.cols)) {}

    void Add(int r, int times) {
        const unsigned char* g = grey_.ptr<unsigned char>(r);
        const unsigned char* s = paper_.ptr<unsigned char>(r);
        uint32_t* __restrict down = columns_.data();
        const int cols = grey_.cols;
        for (int x = 0; x < cols; ++x) {
            const uint32_t paper = s[x] & kPaper;
            down[x] += static_cast<uint32_t>(times) * paper * ((uint32_t{g[x]} << kCountBits) + 1);
        }
    }

    void Shift(int enter, int leave) {
        const unsigned char* gIn = grey_.ptr<unsigned char>(enter);
        const unsigned char* sIn = paper_.ptr<unsigned char>(enter);
        const unsigned char* gOut = grey_.ptr<unsigned char>(leave);
        const unsigned char* sOut = paper_.ptr<unsigned char>(leave);
        // Restricted pointers and a local bound: a store through a 32-bit pointer
        // might otherwise change the image's column count, and nothing vectorises.
        uint32_t* __restrict down = columns_.data();
        const int cols = grey_.cols;
        for (int x = 0; x < cols; ++x) {
            const PaperChange change = PaperChangeAt(gIn, sIn, gOut, sOut, x);
            down[x] += static_cast<uint32_t>(change.grey * (1 << kCountBits) + change.count);
        }
    }

    void TakeWindowSums(int side) {
        WindowSumsAlongRow<uint32_t, uint32_t, 1>({columns_.data()}, grey_.cols, side, prefix_,
                                                  {packed_.data()});
        const uint32_t* __restrict packed = packed_.data();
        int32_t* __restrict sumsOut = sums.data();
        int32_t* __restrict countsOut = counts.data();
        const int cols = grey_.cols;
        for (int x = 0; x < cols; ++x) {
            sumsOut[x] = static_cast<int32_t>(packed[x] >> kCountBits);
            countsOut[x] = static_cast<int32_t>(packed[x] & ((1U << kCountBits) - 1));
        }
    }

  private:
    const cv::Mat& grey_;
    const cv::Mat& paper_;
    std::vector<uint32_t> columns_;
    Prefixes<uint32_t, 1> prefix_;
    std::vector<uint32_t> packed_;

  public:
    std::vector<int32_t> sums;
    std::vector<int32_t> counts;
};

// One window side of the paper estimate, in the rows top .. bottom, with window
// sums from `columns`.
template <typename Sum, typename Columns>
void ResolveRowsWithSide(const cv::Mat& grey, int side, int top, int bottom, Columns& columns,
                         PaperState& state, PageOutputs& outputs) {
    std::vector<int>& unresolvedInRow = state.unresolvedInRow;
    const int rows = grey.rows;
    const int cols = grey.cols;
    const double minCount = std::max(1.0, kMinPaperShare * side * side);
    StartColumnWindow(rows, side, top, [&](int r, int times) { columns.Add(r, times); });
    for (int y = top; y <= bottom; ++y) {
        if (y > top) {
            AdvanceColumnWindow(rows, side, y - 1,
                                [&](int enter, int leave) { columns.Shift(enter, leave); });
        }
        int unresolved = unresolvedInRow[static_cast<size_t>(y)];
        if (unresolved == 0) {
            continue;
        }
        columns.TakeWindowSums(side);
        const Sum* sums = columns.sums.data();
        const Sum* counts = columns.counts.data();
        const unsigned char* g = grey.ptr<unsigned char>(y);
        const RowTargets row{state.resolved.ptr<unsigned char>(y),
                             outputs.enhanced.ptr<unsigned char>(y),
                             outputs.background.ptr<unsigned char>(y)};
        int x = 0;
        if constexpr (std::is_same_v<Sum, int32_t>) {
            unresolved -= ResolveRowOnVectors(g, sums, counts, cols, side,
                                              static_cast<int>(std::ceil(minCount)), row, x);
        }
        unresolved -= ResolveRowFrom(x, g, sums, counts, cols, minCount, row);
        unresolvedInRow[static_cast<size_t>(y)] = unresolved;
    }
}

// One window side of the paper estimate, in the rows of `band`: every unresolved
// pixel whose window holds enough paper takes the mean of that paper. Only rows
// from the first to the last one with unresolved pixels are visited.
template <typename Sum>
void ResolveWithSide(const cv::Mat& grey, int side, RowBand band, PaperState& state,
                     PageOutputs& outputs) {
    const std::vector<int>& unresolvedInRow = state.unresolvedInRow;
    int top = band.top;
    while (top < band.bottom && unresolvedInRow[static_cast<size_t>(top)] == 0) {
        ++top;
    }
    if (top == band.bottom) {
        return;
    }
    int bottom = band.bottom - 1;
    while (unresolvedInRow[static_cast<size_t>(bottom)] == 0) {
        --bottom;
    }
    if constexpr (std::is_same_v<Sum, int32_t>) {
        if (side <= kPackedSide) {
            PackedPaperColumnSums columns(grey, state.paper);
            ResolveRowsWithSide<Sum>(grey, side, top, bottom, columns, state, outputs);
            return;
        }
    }
    PaperColumnSums<Sum> columns(grey, state.paper);
    ResolveRowsWithSide<Sum>(grey, side, top, bottom, columns, state, outputs);
}

// Mean of all paper pixels, or of the whole page where none is paper.
double PaperMean(const cv::Mat& grey, const cv::Mat& paperMap) {
    int64_t sum = 0;
    int64_t count = 0;
    for (int y = 0; y < grey.rows; ++y) {
        const unsigned char* g = grey.ptr<unsigned char>(y);
        const unsigned char* s = paperMap.ptr<unsigned char>(y);
        for (int x = 0; x < grey.cols; ++x) {
            const int paper = s[x] & kPaper;
            sum += paper * g[x];
            count += paper;
        }
    }
    return count > 0 ? static_cast<double>(sum) / static_cast<double>(count) : cv::mean(grey)[0];
}

// Pixels that no window resolved take the mean of all paper. The brightest pixel
// of the page always passes the ink test, so the page mean is a guard.
void ResolveTheRest(const cv::Mat& grey, const PaperState& state, PageOutputs& outputs) {
    if (std::none_of(state.unresolvedInRow.begin(), state.unresolvedInRow.end(),
                     [](int count) { return count > 0; })) {
        return;
    }
    const double fallback = PaperMean(grey, state.paper);
    for (int y = 0; y < grey.rows; ++y) {
        const unsigned char* g = grey.ptr<unsigned char>(y);
        const unsigned char* s = state.resolved.ptr<unsigned char>(y);
        unsigned char* enhancedRow = outputs.enhanced.ptr<unsigned char>(y);
        unsigned char* backgroundRow = outputs.background.ptr<unsigned char>(y);
        for (int x = 0; x < grey.cols; ++x) {
            if (s[x] == 0) {
                enhancedRow[x] = EnhancedValue(g[x], fallback);
                backgroundRow[x] = cv::saturate_cast<unsigned char>(fallback);
            }
        }
    }
}

// The page divided by its paper, into `outputs`. Every window sum is exact, so
// bands that start their running sums at their own first row give the very
// values of one pass down the page.
void EstimatePaper(const cv::Mat& grey, int window, double weight, int threads,
                   PageOutputs& outputs) {
    PaperState state{cv::Mat(grey.size(), CV_8UC1),
                     ZerosInBands(grey.rows, grey.cols, CV_8UC1, threads),
                     std::vector<int>(static_cast<size_t>(grey.rows), grey.cols)};
    ForEachBand(grey.rows, threads, [&](RowBand band, int) {
        if (window <= kNarrowInkWindow) {
            MarkPaper<int32_t>(grey, window, weight, band, state.paper);
        } else {
            MarkPaper<int64_t>(grey, window, weight, band, state.paper);
        }
    });
    const int largestSide = 2 * std::max(grey.rows, grey.cols) + 1;
    for (int side = window; side <= largestSide; side *= 2) {
        ForEachBand(grey.rows, threads, [&](RowBand band, int) {
            if (side <= kNarrowPaperSide) {
                ResolveWithSide<int32_t>(grey, side, band, state, outputs);
            } else {
                ResolveWithSide<int64_t>(grey, side, band, state, outputs);
            }
        });
    }
    ResolveTheRest(grey, state, outputs);
}

// --- Noise ---------------------------------------------------------------------

// Rows sampled for the noise level: every fourth is plenty for a robust median.
constexpr int kNoiseRowStep = 4;
// The second-difference response of white noise has deviation 6 sigma, and the
// median of its absolute value is 0.6745 of that.
constexpr double kResponsePerSigma = 6.0 * 0.6745;

// Counts of values below `bins`, kept in four copies that take turns: runs of one
// value (paper) are common on a page, and an increment that waits for the one
// before it to be stored costs several cycles.
class LaneCounter {
  public:
    explicit LaneCounter(size_t bins) : bins_(bins), counts_(kLanes * bins, 0) {}

    template <typename Value>
    void Add(const Value* values, int count) {
        int64_t* const lane0 = counts_.data();
        int64_t* const lane1 = lane0 + bins_;
        int64_t* const lane2 = lane1 + bins_;
        int64_t* const lane3 = lane2 + bins_;
        int i = 0;
        for (; i + kLanes <= count; i += kLanes) {
            ++lane0[values[i]];
            ++lane1[values[i + 1]];
            ++lane2[values[i + 2]];
            ++lane3[values[i + 3]];
        }
        for (; i < count; ++i) {
            ++lane0[values[i]];
        }
    }

    void AddTo(std::vector<int64_t>& histogram) const {
        for (size_t value = 0; value < bins_; ++value) {
            for (int lane = 0; lane < kLanes; ++lane) {
                histogram[value] += counts_[static_cast<size_t>(lane) * bins_ + value];
            }
        }
    }

  private:
    static constexpr int kLanes = 4;
    size_t bins_;
    std::vector<int64_t> counts_;
};

// A histogram of `bins` values that `countRows` counts over `rows` rows, each band of
// rows into counts of its own: whole numbers, whose sum does not depend on how many
// threads counted them.
std::vector<int64_t> CountInBands(int rows, int threads, size_t bins,
                                  const std::function<void(RowBand, LaneCounter&)>& countRows) {
    std::vector<LaneCounter> bandCounts(static_cast<size_t>(BandCount(rows, threads)),
                                        LaneCounter(bins));
    ForEachBand(rows, threads, [&](RowBand band, int index) {
        countRows(band, bandCounts[static_cast<size_t>(index)]);
    });
    std::vector<int64_t> histogram(bins, 0);
    for (const LaneCounter& counts : bandCounts) {
        counts.AddTo(histogram);
    }
    return histogram;
}

// The smallest value with more than half of the `samples` counted at or below it.
size_t HistogramMedian(const std::vector<int64_t>& histogram, int64_t samples) {
    int64_t below = 0;
    size_t median = 0;
    while (below + histogram[median] <= samples / 2) {
        below += histogram[median];
        ++median;
    }
    return median;
}

// Largest absolute response of the second difference below.
constexpr int kLargestResponse = 16 * 255;

// Whether the noise level, in grey levels of white noise, exceeds `sigma`. The level
// is the median absolute response of the 3x3 second difference [1 -2 1; -2 4 -2;
// 1 -2 1] over interior pixels of rows 1, 5, 9, ..., scaled. Text edges are too
// few to move a median, so this reads the paper's grain. Only the side of the
// median matters: it is at least the least response whose level exceeds `sigma`
// when at most half of the samples lie below that response, so one count of them
// takes the place of a histogram.
bool NoisierThan(const cv::Mat& grey, double sigma, int threads) {
    if (grey.rows < 3 || grey.cols < 3) {
        return 0.0 > sigma;
    }
    int limit = 0;
    while (limit <= kLargestResponse && !(static_cast<double>(limit) / kResponsePerSigma > sigma)) {
        ++limit;
    }
    if (limit > kLargestResponse) {
        return false;
    }
    // Rows 1, 1 + kNoiseRowStep, ... are sampled.
    const int sampledRows = (grey.rows - 3) / kNoiseRowStep + 1;
    std::vector<int64_t> belowInBand(static_cast<size_t>(BandCount(sampledRows, threads)), 0);
    ForEachBand(sampledRows, threads, [&](RowBand band, int index) {
        int64_t below = 0;
        for (int sample = band.top; sample < band.bottom; ++sample) {
            const int y = 1 + sample * kNoiseRowStep;
            const unsigned char* up = grey.ptr<unsigned char>(y - 1);
            const unsigned char* mid = grey.ptr<unsigned char>(y);
            const unsigned char* down = grey.ptr<unsigned char>(y + 1);
            // A row's count fits 32 bits, which the vectorizer runs eight to a step.
            int rowBelow = 0;
            for (int x = 1; x + 1 < grey.cols; ++x) {
                const int response = up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1] -
                                     2 * (up[x] + down[x] + mid[x - 1] + mid[x + 1]) + 4 * mid[x];
                rowBelow += static_cast<int>(std::abs(response) < limit);
            }
            below += rowBelow;
        }
        belowInBand[static_cast<size_t>(index)] = below;
    });
    const int64_t below = std::accumulate(belowInBand.begin(), belowInBand.end(), int64_t{0});
    const int64_t samples = static_cast<int64_t>(sampledRows) * (grey.cols - 2);
    return below <= samples / 2;
}

// --- Dark borders -----------------------------------------------------------------

// Dark means darker than this share of the page's median grey (most of a page is
// paper, so the median is a paper level).
constexpr double kBorderDarkShare = 0.45;
// Only dark regions that hold a square of this side are borders, never strokes.
constexpr int kBorderCore = 31;
// The filled region grows by this square so that its soft rim goes too.
constexpr int kBorderRim = 7;

unsigned char MedianGrey(const cv::Mat& grey, int threads) {
    const std::vector<int64_t> histogram =
        CountInBands(grey.rows, threads, 256, [&](RowBand band, LaneCounter& counts) {
            for (int y = band.top; y < band.bottom; ++y) {
                counts.Add(grey.ptr<unsigned char>(y), grey.cols);
            }
        });
    return static_cast<unsigned char>(
        HistogramMedian(histogram, static_cast<int64_t>(grey.total())));
}

// The darkest pixel of the page's first and last rows and columns.
unsigned char DarkestOnPageEdge(const cv::Mat& grey) {
    double darkest = 255.0;
    for (const cv::Mat& edge :
         {grey.row(0), grey.row(grey.rows - 1), grey.col(0), grey.col(grey.cols - 1)}) {
        double lowest = 0.0;
        cv::minMaxLoc(edge, &lowest);
        darkest = std::min(darkest, lowest);
    }
    return static_cast<unsigned char>(darkest);
}

bool TouchesPageEdge(const cv::Mat& mask) {
    const int last = mask.rows - 1;
    return cv::countNonZero(mask.row(0)) > 0 || cv::countNonZero(mask.row(last)) > 0 ||
           cv::countNonZero(mask.col(0)) > 0 || cv::countNonZero(mask.col(mask.cols - 1)) > 0;
}

// Scanner lids, tables and book edges around a page are not ink, and their edges
// against the paper would outshine every stroke in the gradient map: dark regions
// wide enough to hold a kBorderCore square and connected to the page's edge take
// the value of paper.
void FillDarkBorders(const cv::Mat& grey, cv::Mat& enhanced, int threads) {
    // A region touches the page's edge only where some pixel of the edge is dark.
    // The median is at most 255, so most pages, whose edges are paper, are done
    // before the page is counted or compared.
    const unsigned char darkestEdge = DarkestOnPageEdge(grey);
    if (darkestEdge >= kBorderDarkShare * 255.0) {
        return;
    }
    const double level = kBorderDarkShare * MedianGrey(grey, threads);
    if (darkestEdge >= level) {
        return;
    }
    // From here the darkest edge pixel lies below the level, so the dark pixels
    // touch the edge until the opening below.
    cv::Mat dark;
    cv::compare(grey, cv::Scalar(level), dark, cv::CMP_LT);
    cv::morphologyEx(dark, dark, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kBorderCore, kBorderCore)));
    if (!TouchesPageEdge(dark)) {
        return;
    }
    // Flooding the dark regions from the page's edge costs only their own pixels,
    // where labelling every region would cost the whole page and an image of labels.
    constexpr unsigned char kEdgeDark = 128;
    const auto floodFrom = [&dark](int y, int x) {
        if (dark.at<unsigned char>(y, x) == 255) {
            cv::floodFill(dark, cv::Point(x, y), cv::Scalar(kEdgeDark), nullptr, cv::Scalar(),
                          cv::Scalar(), 8);
        }
    };
    for (int x = 0; x < dark.cols; ++x) {
        floodFrom(0, x);
        floodFrom(dark.rows - 1, x);
    }
    for (int y = 0; y < dark.rows; ++y) {
        floodFrom(y, 0);
        floodFrom(y, dark.cols - 1);
    }
    cv::Mat fill;
    cv::compare(dark, cv::Scalar(kEdgeDark), fill, cv::CMP_EQ);
    cv::dilate(fill, fill,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kBorderRim, kBorderRim)));
    enhanced.setTo(255, fill);
}

// --- Ink deepening ------------------------------------------------------------------

// A Gaussian of deviation 2 in integers: 13 symmetric taps that sum to 256, so the
// 13x13 weights sum to 2^16.
constexpr int kDeepenRadius = 6;
constexpr int kDeepenTaps[kDeepenRadius + 1] = {50, 45, 31, 17, 7, 2, 1};  // centre outwards
constexpr int kDeepenShift = 16;

// Row sums are stored less this bias: at most 255 * 256, they then fit int16, the
// operand of the vectors' multiply-add of 16-bit pairs into 32 bits.
constexpr int kRowSumBias = 1 << 15;

int16_t Biased(int rowSum) {
    return static_cast<int16_t>(rowSum - kRowSumBias);
}

// Sum of the taps times the row's values around x, the row mirrored at its ends:
// below 2^31 for 8- and 16-bit values, as the taps sum to 256.
template <typename Value>
int MirroredRowSum(const Value* row, int cols, int x) {
    int sum = kDeepenTaps[0] * row[x];
    for (int k = 1; k <= kDeepenRadius; ++k) {
        sum += kDeepenTaps[k] * (row[ReflectIndex(x - k, cols)] + row[ReflectIndex(x + k, cols)]);
    }
    return sum;
}

// The taps factor as [1 2 1] * [1 0 6 5 15 10 15 5 6 0 1]: a row of [1 2 1] sums
// first, then the second kernel on them, with four multiplications where the taps
// take six. Both steps stay below 2^16 (the taps sum to 256), so the vectorizer
// runs eight or sixteen pixels to an instruction.
constexpr int kOuterTaps[] = {10, 15, 5, 6, 0, 1};  // centre outwards; the zero is skipped
// Tap k of the product: outer taps k - 1, k and k + 1 weighted 1, 2 and 1.
constexpr int ProductTap(int k) {
    const auto outer = [](int i) {
        const int at = i < 0 ? -i : i;
        return at < 6 ? kOuterTaps[at] : 0;
    };
    return outer(k - 1) + 2 * outer(k) + outer(k + 1);
}
static_assert(ProductTap(0) == kDeepenTaps[0] && ProductTap(1) == kDeepenTaps[1] &&
              ProductTap(2) == kDeepenTaps[2] && ProductTap(3) == kDeepenTaps[3] &&
              ProductTap(4) == kDeepenTaps[4] && ProductTap(5) == kDeepenTaps[5] &&
              ProductTap(6) == kDeepenTaps[6] && ProductTap(7) == 0);

void InnerRowSums(const unsigned char* __restrict row, int begin, int end,
                  std::vector<uint16_t>& scratch, int16_t* __restrict sums) {
    // pairs[x] = row[x - 1] + 2 row[x] + row[x + 1], for x in begin - 5 .. end + 4.
    uint16_t* __restrict pairs = scratch.data();
    for (int x = begin - 5; x < end + 5; ++x) {
        pairs[x] = static_cast<uint16_t>(row[x - 1] + 2 * row[x] + row[x + 1]);
    }
    for (int x = begin; x < end; ++x) {
        sums[x] = Biased(static_cast<uint16_t>(kOuterTaps[0] * pairs[x] +
                                               kOuterTaps[1] * (pairs[x - 1] + pairs[x + 1]) +
                                               kOuterTaps[2] * (pairs[x - 2] + pairs[x + 2]) +
                                               kOuterTaps[3] * (pairs[x - 3] + pairs[x + 3]) +
                                               kOuterTaps[5] * (pairs[x - 5] + pairs[x + 5])));
    }
}

void RowSums(const unsigned char* row, int cols, std::vector<uint16_t>& scratch, int16_t* sums) {
    const int innerBegin = std::min(kDeepenRadius, cols);
    const int innerEnd = std::max(innerBegin, cols - kDeepenRadius);
    for (int x = 0; x < innerBegin; ++x) {
        sums[x] = Biased(MirroredRowSum(row, cols, x));
    }
    if (innerBegin < innerEnd) {
        InnerRowSums(row, innerBegin, innerEnd, scratch, sums);
    }
    for (int x = innerEnd; x < cols; ++x) {
        sums[x] = Biased(MirroredRowSum(row, cols, x));
    }
}

// The thirteen biased row sums around a row, from row y - kDeepenRadius down.
using DeepenRowSums = std::array<const int16_t*, 2 * kDeepenRadius + 1>;

constexpr int kTapTotal = 256;

// The weighted 13x13 sum of pixel x, below 2^24.
int WeightedSum(const DeepenRowSums& around, int x) {
    int sum = kDeepenTaps[0] * around[kDeepenRadius][x] + kTapTotal * kRowSumBias;
    for (int k = 1; k <= kDeepenRadius; ++k) {
        sum += kDeepenTaps[k] * (around[static_cast<size_t>(kDeepenRadius - k)][x] +
                                 around[static_cast<size_t>(kDeepenRadius + k)][x]);
    }
    return sum;
}

// With s = e * 2^16 and m the weighted sum, min(e, round(max(2s - m, 0) / 2^16)) is e
// wherever s >= m (then 2s - m >= s) and the deepened value elsewhere: no branches.
unsigned char DeepenedValue(int value, int sum) {
    const int deepened = std::max(2 * (value << kDeepenShift) - sum, 0);
    return static_cast<unsigned char>(
        std::min(value, (deepened + (1 << (kDeepenShift - 1))) >> kDeepenShift));
}

// DeepenedValue in bytes: with c = (m + 2^15 - 1) >> 16, the weighted mean rounded
// half down, round((2s - m) / 2^16) half up is 2e - c, so the value is
// min(e, max(2e - c, 0)) = e - (c - e) with both differences clipped at 0.
// Eight pixels a step: rows k above and below pair up lane by lane, and one
// multiply-add of 16-bit pairs weighs both with their tap into 32 bits; the centre
// pairs with a constant whose product restores the bias of the thirteen rows (the
// taps sum to 256) and adds the 2^15 - 1 of the rounding. Only the written row may
// share memory with others, so only it needs to be told apart.
constexpr int kRoundingAddend = kTapTotal * kRowSumBias + (1 << (kDeepenShift - 1)) - 1;
constexpr int kAddendWeight = 1321;
constexpr int kAddendPartner = 6375;
static_assert(kAddendWeight * kAddendPartner == kRoundingAddend);

void DeepenRow(const DeepenRowSums& around, int cols, unsigned char* __restrict row) {
    int x = 0;
#if CV_SIMD128
    const cv::v_int16x8 partner = cv::v_setall_s16(kAddendPartner);
    const cv::v_int16x8 centreWeights(kDeepenTaps[0], kAddendWeight, kDeepenTaps[0], kAddendWeight,
                                      kDeepenTaps[0], kAddendWeight, kDeepenTaps[0], kAddendWeight);
    for (; x + 8 <= cols; x += 8) {
        cv::v_int16x8 pairsLow;
        cv::v_int16x8 pairsHigh;
        cv::v_zip(cv::v_load(around[kDeepenRadius] + x), partner, pairsLow, pairsHigh);
        cv::v_int32x4 sumLow = cv::v_dotprod(pairsLow, centreWeights);
        cv::v_int32x4 sumHigh = cv::v_dotprod(pairsHigh, centreWeights);
        for (int k = 1; k <= kDeepenRadius; ++k) {
            const cv::v_int16x8 tap = cv::v_setall_s16(static_cast<short>(kDeepenTaps[k]));
            cv::v_zip(cv::v_load(around[static_cast<size_t>(kDeepenRadius - k)] + x),
                      cv::v_load(around[static_cast<size_t>(kDeepenRadius + k)] + x), pairsLow,
                      pairsHigh);
            sumLow += cv::v_dotprod(pairsLow, tap);
            sumHigh += cv::v_dotprod(pairsHigh, tap);
        }
        const cv::v_int16x8 means = cv::v_pack(sumLow >> kDeepenShift, sumHigh >> kDeepenShift);
        const cv::v_uint8x16 mean = cv::v_pack_u(means, means);
        const cv::v_uint8x16 value = cv::v_load_low(row + x);
        // OpenCV's byte subtraction saturates.
        cv::v_store_low(row + x, value - (mean - value));
    }
#endif
    for (; x < cols; ++x) {
        row[x] = DeepenedValue(row[x], WeightedSum(around, x));
    }
}

// The rows within kDeepenRadius of a band that belong to the bands next to it, as
// they were before any band deepened them.
struct BandMargins {
    cv::Mat above;
    cv::Mat below;
};

BandMargins MarginsOf(const cv::Mat& enhanced, RowBand band) {
    const int aboveTop = std::max(band.top - kDeepenRadius, 0);
    const int belowBottom = std::min(band.bottom + kDeepenRadius, enhanced.rows);
    return {enhanced.rowRange(aboveTop, band.top).clone(),
            enhanced.rowRange(band.bottom, belowBottom).clone()};
}

// Deepens rows band.top .. band.bottom - 1 of `enhanced`. The row sums of the
// 2 * kDeepenRadius + 1 rows around the current one live in a ring, row r in slot
// r mod its size: each row's sums are taken once, before the row itself is
// deepened, so the page never needs a second image of sums.
void DeepenBand(const BandMargins& margins, RowBand band, cv::Mat& enhanced) {
    constexpr int kRingRows = 2 * kDeepenRadius + 1;
    const int rows = enhanced.rows;
    const int cols = enhanced.cols;
    cv::Mat ring(kRingRows, cols, CV_16SC1);
    std::vector<uint16_t> scratch(static_cast<size_t>(cols));
    const auto takeRowSums = [&](int r) {
        const unsigned char* source =
            r < band.top ? margins.above.ptr<unsigned char>(margins.above.rows - (band.top - r))
            : r >= band.bottom ? margins.below.ptr<unsigned char>(r - band.bottom)
                               : enhanced.ptr<unsigned char>(r);
        RowSums(source, cols, scratch, ring.ptr<int16_t>(r % kRingRows));
    };
    const int firstTaken = std::max(band.top - kDeepenRadius, 0);
    const int lastTaken = std::min(band.top + kDeepenRadius, rows - 1);
    for (int r = firstTaken; r <= lastTaken; ++r) {
        takeRowSums(r);
    }
    for (int y = band.top; y < band.bottom; ++y) {
        if (y > band.top && y + kDeepenRadius < rows) {
            takeRowSums(y + kDeepenRadius);
        }
        // Rows y - k and y + k, mirrored at the page's ends: always rows within
        // kDeepenRadius of y, so in the ring.
        DeepenRowSums around{};
        for (int k = -kDeepenRadius; k <= kDeepenRadius; ++k) {
            around[static_cast<size_t>(k + kDeepenRadius)] =
                ring.ptr<int16_t>(ReflectIndex(y + k, rows) % kRingRows);
        }
        DeepenRow(around, cols, enhanced.ptr<unsigned char>(y));
    }
}

// Where the ink is wider than the deepening's kernel, the kernel darkens a rim along
// each edge and doubles the mottling of the stroke's core: both make edges a few
// pixels inside the strokes, at any resolution, which shrink the measured stroke
// width and pull the global level down towards the ink's texture. Bold print and
// pages at twice the benchmark's resolution are such pages; a kernel twice as wide
// did worse on them than no deepening at all, so they are left undeepened.
// The share is sampled on every kCoreStride-th row and column. Ink: half as deep below
// the paper as the deepest ink (the depth of rank 99.5 % among the samples) or deeper.
// Core: the weighted mean of its 13x13 surroundings lies less than a tenth of its own
// depth above it, and paper (less than a quarter as deep as the deepest ink) lies within
// kCorePaperReach rows and columns of it. The limit was measured on the benchmark's
// pages at 0.5, 1 and 2 times their resolution and under gamma, contrast, noise and
// JPEG: leave-one-set-out chose 0.28 to 0.33; from 0.37 to 0.42 no condition's mean F or
// DRD gets worse.
// A filled dark area (a photo, a table's header band) keeps only a rim as dark as ink
// after the division, about half the paper window wide, or stays dark around light
// lettering; either is as flat inside as a wide stroke's core, and on such pages the
// deepening is what sets the text apart from them. The middle of the area lies farther
// from paper than a stroke's core: a reach of 9 was chosen in six of seven
// leave-one-set-out folds (the seventh 10), over the benchmark's pages under the same
// conditions and generated pages with photos and header bands at three scales.
constexpr int kCoreStride = 4;
constexpr int kDeepestInkPermille = 995;
constexpr int kInkDepthDivisor = 2;
constexpr int kCoreGapDivisor = 10;
constexpr int kPaperDepthDivisor = 4;
constexpr int kCorePaperReach = 9;
constexpr double kMaxCoreShare = 0.37;

// The weighted sums down the 13 rows around row y, the page mirrored at its edges,
// for every column: at most 255 * 256, so 16 bits hold them and the vectorizer runs
// the columns eight or sixteen to an instruction.
void ColumnSumsAround(const cv::Mat& enhanced, int y, std::vector<uint16_t>& sums) {
    std::array<const unsigned char*, 2 * kDeepenRadius + 1> rows{};
    for (int k = -kDeepenRadius; k <= kDeepenRadius; ++k) {
        rows[static_cast<size_t>(k + kDeepenRadius)] =
            enhanced.ptr<unsigned char>(ReflectIndex(y + k, enhanced.rows));
    }
    // One pass per pair of rows: each is a plain loop the vectorizer takes.
    uint16_t* __restrict out = sums.data();
    const unsigned char* __restrict centre = rows[kDeepenRadius];
    for (int x = 0; x < enhanced.cols; ++x) {
        out[x] = static_cast<uint16_t>(kDeepenTaps[0] * centre[x]);
    }
    for (int k = 1; k <= kDeepenRadius; ++k) {
        const unsigned char* __restrict above = rows[static_cast<size_t>(kDeepenRadius - k)];
        const unsigned char* __restrict below = rows[static_cast<size_t>(kDeepenRadius + k)];
        const auto tap = static_cast<uint16_t>(kDeepenTaps[k]);
        for (int x = 0; x < enhanced.cols; ++x) {
            out[x] = static_cast<uint16_t>(out[x] + tap * (above[x] + below[x]));
        }
    }
}

// The 13x13 weighted sum around column x from the column sums of its row.
int64_t WeightedSumAt(const std::vector<uint16_t>& columnSums, int x) {
    const int cols = static_cast<int>(columnSums.size());
    if (x < kDeepenRadius || x + kDeepenRadius >= cols) {
        return MirroredRowSum(columnSums.data(), cols, x);
    }
    // No mirrored index: the reflection's two divisions a tap would cost more than
    // the sum.
    const uint16_t* at = columnSums.data() + x;
    int64_t sum = static_cast<int64_t>(kDeepenTaps[0]) * at[0];
    for (int k = 1; k <= kDeepenRadius; ++k) {
        sum += static_cast<int64_t>(kDeepenTaps[k]) * (at[-k] + at[k]);
    }
    return sum;
}

// Whether a pixel of value `paper` or lighter lies within kCorePaperReach rows and
// columns of (x, y), the box clipped to the page.
bool PaperWithinReach(const cv::Mat& enhanced, int y, int x, unsigned char paper) {
    const int left = std::max(x - kCorePaperReach, 0);
    const int right = std::min(x + kCorePaperReach + 1, enhanced.cols);
    const int bottom = std::min(y + kCorePaperReach + 1, enhanced.rows);
    for (int r = std::max(y - kCorePaperReach, 0); r < bottom; ++r) {
        const unsigned char* row = enhanced.ptr<unsigned char>(r);
        unsigned char lightest = 0;
        for (int c = left; c < right; ++c) {
            lightest = std::max(lightest, row[c]);
        }
        if (lightest >= paper) {
            return true;
        }
    }
    return false;
}

// The samples of sampled rows band.top .. band.bottom - 1 (page row kCoreStride times
// the sampled row) by depth below white.
std::array<int64_t, 256> SampleDepths(const cv::Mat& enhanced, RowBand band) {
    // Most samples are paper of one depth: four counts in turn, so that an
    // increment need not wait for the one before it to be stored.
    std::array<std::array<int64_t, 256>, 4> lanes{};
    for (int y = band.top * kCoreStride; y < band.bottom * kCoreStride; y += kCoreStride) {
        const unsigned char* row = enhanced.ptr<unsigned char>(y);
        int x = 0;
        for (; x + 3 * kCoreStride < enhanced.cols; x += 4 * kCoreStride) {
            ++lanes[0][static_cast<size_t>(255 - row[x])];
            ++lanes[1][static_cast<size_t>(255 - row[x + kCoreStride])];
            ++lanes[2][static_cast<size_t>(255 - row[x + 2 * kCoreStride])];
            ++lanes[3][static_cast<size_t>(255 - row[x + 3 * kCoreStride])];
        }
        for (; x < enhanced.cols; x += kCoreStride) {
            ++lanes[0][static_cast<size_t>(255 - row[x])];
        }
    }
    std::array<int64_t, 256> depths{};
    for (size_t depth = 0; depth < depths.size(); ++depth) {
        depths[depth] = lanes[0][depth] + lanes[1][depth] + lanes[2][depth] + lanes[3][depth];
    }
    return depths;
}

struct CoreCounts {
    int64_t ink = 0;
    int64_t cores = 0;
};

// The ink samples and the cores among them in sampled rows band.top .. band.bottom - 1.
CoreCounts CountCores(const cv::Mat& enhanced, RowBand band, int deepest, unsigned char paper) {
    CoreCounts counts;
    constexpr int64_t kWeightTotal = int64_t{1} << kDeepenShift;
    std::vector<uint16_t> columnSums(static_cast<size_t>(enhanced.cols));
    for (int y = band.top * kCoreStride; y < band.bottom * kCoreStride; y += kCoreStride) {
        const unsigned char* row = enhanced.ptr<unsigned char>(y);
        bool summed = false;  // a row without ink samples needs no sums
        for (int x = 0; x < enhanced.cols; x += kCoreStride) {
            const int depth = 255 - row[x];
            if (kInkDepthDivisor * depth < deepest) {
                continue;
            }
            if (!summed) {
                ColumnSumsAround(enhanced, y, columnSums);
                summed = true;
            }
            ++counts.ink;
            const int64_t gap = WeightedSumAt(columnSums, x) - kWeightTotal * row[x];
            counts.cores += kCoreGapDivisor * gap < kWeightTotal * depth &&
                            PaperWithinReach(enhanced, y, x, paper);
        }
    }
    return counts;
}

// Bands of sampled rows share the work; their counts are integers, whose sums do not
// depend on the bands.
double StrokeCoreShare(const cv::Mat& enhanced, int threads) {
    const int sampledRows = (enhanced.rows + kCoreStride - 1) / kCoreStride;
    const size_t parts = static_cast<size_t>(BandCount(sampledRows, threads));
    std::vector<std::array<int64_t, 256>> bandDepths(parts);
    ForEachBand(sampledRows, threads, [&](RowBand band, int index) {
        bandDepths[static_cast<size_t>(index)] = SampleDepths(enhanced, band);
    });
    std::array<int64_t, 256> depths{};
    int64_t samples = 0;
    for (const std::array<int64_t, 256>& band : bandDepths) {
        for (size_t depth = 0; depth < depths.size(); ++depth) {
            depths[depth] += band[depth];
            samples += band[depth];
        }
    }
    const int64_t rank = kDeepestInkPermille * (samples - 1) / 1000;
    int deepest = 0;
    for (int64_t below = depths[0]; below <= rank; below += depths[static_cast<size_t>(deepest)]) {
        ++deepest;
    }
    if (deepest == 0) {
        return 0.0;
    }
    // Paper: kPaperDepthDivisor * depth < deepest, that is a value of at least this.
    const auto paper = static_cast<unsigned char>(255 - (deepest - 1) / kPaperDepthDivisor);
    std::vector<CoreCounts> bandCounts(parts);
    ForEachBand(sampledRows, threads, [&](RowBand band, int index) {
        bandCounts[static_cast<size_t>(index)] = CountCores(enhanced, band, deepest, paper);
    });
    CoreCounts counts;
    for (const CoreCounts& band : bandCounts) {
        counts.ink += band.ink;
        counts.cores += band.cores;
    }
    return static_cast<double>(counts.cores) / static_cast<double>(counts.ink);
}

// e' = e - (m - e) where the pixel e lies below the weighted mean m of its 13x13
// surroundings (the page mirrored at its edges), rounded half up and clipped at 0;
// other pixels keep their value. A light halo would be the same step on the paper
// side, which is what thickens the edge bands, so only the darkening half is taken.
// Each band first gets a copy of the rows of its neighbours that it reads, so that
// no band reads a row that another has deepened already.
void DeepenInk(cv::Mat& enhanced, int threads) {
    const int rows = enhanced.rows;
    const int parts = BandCount(rows, threads);
    std::vector<BandMargins> margins;
    margins.reserve(static_cast<size_t>(parts));
    for (int index = 0; index < parts; ++index) {
        margins.push_back(MarginsOf(enhanced, BandOf(rows, parts, index)));
    }
    ForEachBand(rows, threads, [&](RowBand band, int index) {
        DeepenBand(margins[static_cast<size_t>(index)], band, enhanced);
    });
}

}  // namespace

bool EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background, int threads, InkDeepening deepening) {
    EnhanceSettings settings;
    settings.deepening = deepening;
    return EnhancePageWith(gray, window, weight, settings, enhanced, background, threads);
}

bool EnhancePageWith(const cv::Mat& gray, int window, double weight,
                     const EnhanceSettings& settings, cv::Mat& enhanced, cv::Mat& background,
                     int threads) {
    CV_Assert(!gray.empty() && gray.depth() == CV_8U &&
              (gray.channels() == 1 || gray.channels() == 3) && window >= 1 &&
              window <= kMaxWindow);
    const cv::Mat page = SingleChannel(gray);
    // A 3x3 median takes out grain and keeps strokes of two pixels and more.
    cv::Mat smoothed;
    if (NoisierThan(page, settings.noisySigma, threads)) {
        cv::medianBlur(page, smoothed, 3);
    }
    const cv::Mat& grey = smoothed.empty() ? page : smoothed;
    // Written aside so that the outputs may share memory with `gray`.
    PageOutputs outputs{cv::Mat(grey.size(), CV_8UC1), cv::Mat(grey.size(), CV_8UC1)};
    EstimatePaper(grey, window, weight, threads, outputs);
    if (settings.fillBorders) {
        FillDarkBorders(page, outputs.enhanced, threads);
    }
    const bool deepen = settings.deepening == InkDeepening::kAlways ||
                        (settings.deepening == InkDeepening::kUnlessWideCores &&
                         StrokeCoreShare(outputs.enhanced, threads) <= kMaxCoreShare);
    if (deepen) {
        DeepenInk(outputs.enhanced, threads);
    }
    enhanced = outputs.enhanced;
    background = outputs.background;
    return deepen;
}

}  // namespace edgebin::detail
