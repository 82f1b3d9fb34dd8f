// Binarizes one page through the installed library: edgebin-example IN OUT
#include <edgebin/edgebin.hpp>
#include <iostream>
#include <opencv2/imgcodecs.hpp>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: edgebin-example IN OUT\n";
        return 2;
    }
    const cv::Mat page = cv::imread(argv[1], cv::IMREAD_COLOR);
    const edgebin::Result result =
        edgebin::Binarize(page, {/*alpha*/ 2.0, /*k*/ 0.6, /*rthre*/ 0.05});
    if (result.status != edgebin::kStatusOk) {
        std::cerr << argv[1] << ": " << result.message << " (status " << result.status << ")\n";
        return 1;
    }
    std::cout << "global threshold " << result.trace.finalThreshold << ", "
              << result.trace.bands.size() << " text bands\n";
    return cv::imwrite(argv[2], result.image) ? 0 : 1;
}
