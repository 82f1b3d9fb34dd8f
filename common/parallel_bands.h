// Work on a page split into horizontal bands, one thread per band.
#pragma once

#include <functional>
#include <opencv2/core.hpp>

namespace edgebin::detail {

// The band of `rows` rows that part `index` of `parts` gets: rows [top, bottom),
// the heights differing by at most one, the first bands the taller ones.
struct RowBand {
    int top = 0;
    int bottom = 0;
};
RowBand BandOf(int rows, int parts, int index);

// Number of bands ForEachBand makes: `threads` (at least 1), but no more than there
// are rows, so that no band is empty (1 for a page without rows).
int BandCount(int rows, int threads);

// Calls body(band, index) for each of the BandCount(rows, threads) bands, band 0 on
// the calling thread and the others on threads of their own, and returns once all
// have ended. The body must write only what its band owns. An exception thrown by
// a band is rethrown here, the first band's first, after every band has ended.
void ForEachBand(int rows, int threads, const std::function<void(RowBand, int)>& body);

// Calls task(index) for each index 0 .. tasks - 1 on BandCount(tasks, threads)
// threads, the calling one among them, each taking the next index none has taken,
// and returns once all have ended: tasks of unequal length keep every thread busy.
// Exceptions as in ForEachBand; a thread whose task threw takes no more.
void ForEachTask(int tasks, int threads, const std::function<void(int)>& task);

// An all-zero image of `rows` x `cols` of `type`, cleared in the bands ForEachBand
// makes for `threads`.
cv::Mat ZerosInBands(int rows, int cols, int type, int threads);

// The same in `image`, whose memory is kept when it already has that size and
// type, so that memory faulted in once serves again.
void ClearInBands(cv::Mat& image, int rows, int cols, int type, int threads);

// Sets every non-zero pixel of the 8-bit one-channel `image` to `value`, in the
// bands ForEachBand makes for `threads`.
void SetNonZeroInBands(cv::Mat& image, unsigned char value, int threads);

// A copy of `image` into `copy`, written in the bands ForEachBand makes for
// `threads`. The memory of `copy` is kept when it already has the image's size and
// type (it must not be `image` itself).
void CopyInBands(const cv::Mat& image, cv::Mat& copy, int threads);

}  // namespace edgebin::detail
