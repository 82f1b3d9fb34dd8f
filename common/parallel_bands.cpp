// Threads are started per call rather than kept in a pool: a stage runs for
// milliseconds to seconds, far longer than a thread takes to start, and the
// library keeps no state between calls.
#include "common/parallel_bands.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace edgebin::detail {

RowBand BandOf(int rows, int parts, int index) {
    const int height = rows / parts;
    const int taller = rows % parts;
    const int top = index * height + std::min(index, taller);
    return RowBand{top, top + height + (index < taller ? 1 : 0)};
}

int BandCount(int rows, int threads) {
    return std::max(1, std::min(threads, rows));
}

void ForEachBand(int rows, int threads, const std::function<void(RowBand, int)>& body) {
    const int parts = BandCount(rows, threads);
    std::vector<std::exception_ptr> failures(static_cast<size_t>(parts));
    const auto run = [&](int index) {
        try {
            body(BandOf(rows, parts, index), index);
        } catch (...) {
            failures[static_cast<size_t>(index)] = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(static_cast<size_t>(parts));
    for (int index = 1; index < parts; ++index) {
        try {
            workers.emplace_back(run, index);
        } catch (const std::system_error&) {
            run(index);  // no thread to be had: the band runs here instead
        }
    }
    run(0);
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

void ForEachTask(int tasks, int threads, const std::function<void(int)>& task) {
    std::atomic<int> next{0};
    ForEachBand(BandCount(tasks, threads), threads, [&](RowBand, int) {
        for (int index = next++; index < tasks; index = next++) {
            task(index);
        }
    });
}

cv::Mat ZerosInBands(int rows, int cols, int type, int threads) {
    cv::Mat image;
    ClearInBands(image, rows, cols, type, threads);
    return image;
}

void ClearInBands(cv::Mat& image, int rows, int cols, int type, int threads) {
    // A new large image gets its memory from the kernel only where first written,
    // and the kernel clears it then: written by one thread, a page-sized image
    // would spend a good part of a second clearing while the other cores wait.
    image.create(rows, cols, type);
    ForEachBand(rows, threads,
                [&](RowBand band, int) { image.rowRange(band.top, band.bottom).setTo(0); });
}

void SetNonZeroInBands(cv::Mat& image, unsigned char value, int threads) {
    CV_Assert(image.type() == CV_8UC1);
    if (image.empty()) {
        return;
    }
    ForEachBand(image.rows, threads, [&](RowBand band, int) {
        cv::Mat rows = image.rowRange(band.top, band.bottom);
        rows.setTo(value, rows);
    });
}

void CopyInBands(const cv::Mat& image, cv::Mat& copy, int threads) {
    // As for ZerosInBands: a new copy's memory is cleared by the kernel where first
    // written, so each thread writes its own rows.
    CV_Assert(image.dims <= 2 && (copy.empty() || copy.data != image.data));
    copy.create(image.rows, image.cols, image.type());
    ForEachBand(image.rows, threads, [&](RowBand band, int) {
        image.rowRange(band.top, band.bottom).copyTo(copy.rowRange(band.top, band.bottom));
    });
}

}  // namespace edgebin::detail
