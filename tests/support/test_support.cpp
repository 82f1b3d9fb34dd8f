#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <opencv2/imgproc.hpp>
#include <random>

#include "tools/evaluation/page_generator.h"

namespace fs = std::filesystem;

cv::Mat MaskFromText(const std::vector<std::string>& rows, unsigned char value, char on) {
    const int width = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    return Filled(static_cast<int>(rows.size()), width, [&](int y, int x) {
        return rows[y].size() > static_cast<size_t>(x) && rows[y][x] == on ? value : 0;
    });
}

int Uniform(std::mt19937& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

cv::Mat RandomMask(int rows, int cols, double density, unsigned seed) {
    std::mt19937 generator(seed);
    std::bernoulli_distribution on(density);
    return Filled(rows, cols, [&](int, int) { return on(generator) ? 255 : 0; });
}

cv::Mat GeneratedPage(unsigned seed, int width, int height, double difficulty, cv::Mat* truth) {
    cv::Mat page;
    cv::Mat ink;
    GeneratePage(PageOptions{seed, width, height, difficulty}, page,
                 truth != nullptr ? *truth : ink);
    return page;
}

cv::Mat StrokePage(int rows, int cols) {
    cv::Mat page = Filled(rows, cols, [](int y, int x) { return 195 + (x * 7 + y * 3) % 11; });
    for (int line = 0; 28 + 30 * line < rows; ++line) {
        cv::putText(page, "ink text", cv::Point(4, 24 + 30 * line), cv::FONT_HERSHEY_SIMPLEX, 0.7,
                    cv::Scalar(45), 2);
    }
    return page;
}

ShellRun RunShell(const std::string& command) {
    char errPath[] = "/tmp/edgebin_stderr_XXXXXX";
    close(mkstemp(errPath));
    ShellRun run;
    if (FILE* pipe = popen(("{ " + command + "\n} 2>" + errPath).c_str(), "r")) {
        char buffer[4096];
        for (size_t got = 0; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            run.out.append(buffer, got);
        }
        const int raw = pclose(pipe);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000;
    }
    run.err = ReadFile(errPath);
    fs::remove(errPath);
    return run;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

::testing::AssertionResult SamePixels(const cv::Mat& expected, const cv::Mat& actual) {
    if (expected.size() != actual.size() || expected.type() != actual.type()) {
        return ::testing::AssertionFailure() << "size or type differs";
    }
    for (int y = 0; y < expected.rows; ++y) {
        if (std::memcmp(expected.ptr(y), actual.ptr(y), expected.cols * expected.elemSize()) != 0) {
            return ::testing::AssertionFailure() << "first difference in row " << y;
        }
    }
    return ::testing::AssertionSuccess();
}

void TempDirTest::SetUp() {
    dir = fs::temp_directory_path() /
          ("edgebin_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
}

void TempDirTest::TearDown() {
    fs::remove_all(dir);
}
