// edgebin-same-pixels A B: exit status 0 when the two image files decode to the
// same pixels (type, size and every value), 1 when they differ, 2 when either
// cannot be read. Files that differ only in what they say about the pixels (a
// resolution, the compression) count as the same.
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s A B\n", argv[0]);
        return 2;
    }
    const cv::Mat a = cv::imread(argv[1], cv::IMREAD_UNCHANGED);
    const cv::Mat b = cv::imread(argv[2], cv::IMREAD_UNCHANGED);
    if (a.empty() || b.empty()) {
        return 2;
    }
    const bool same =
        a.type() == b.type() && a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
    return same ? 0 : 1;
}
