// Small helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <opencv2/core.hpp>
#include <random>
#include <string>
#include <vector>

#include "support/filled.h"

// A uniform integer in [low, high], and a uniform pick of one of `values`.
int Uniform(std::mt19937& rng, int low, int high);
template <typename T>
T Pick(std::mt19937& rng, const std::vector<T>& values) {
    return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(rng)];
}

// 8-bit mask from rows of text: `on` characters become `value`, anything else 0.
cv::Mat MaskFromText(const std::vector<std::string>& rows, unsigned char value = 255,
                     char on = '#');

// Random 0/255 mask with the given share of non-zero pixels, deterministic in seed.
cv::Mat RandomMask(int rows, int cols, double density, unsigned seed);

// A page of tools/evaluation/page_generator.h, and its ink when `truth` is given.
cv::Mat GeneratedPage(unsigned seed, int width, int height, double difficulty = 0.5,
                      cv::Mat* truth = nullptr);

// A grey page with dark strokes on a textured background: not two-level, and
// small enough to binarize in a fraction of a second.
cv::Mat StrokePage(int rows = 90, int cols = 140);

// ---- running the built executables ------------------------------------------------

// A shell command's exit status and what it wrote to standard output and error.
struct ShellRun {
    int status = -1000;
    std::string out;
    std::string err;
};

ShellRun RunShell(const std::string& command);

// `text` as one shell word.
std::string Quote(const std::string& text);

std::string ReadFile(const std::filesystem::path& path);

// Same size, type and bytes (so also the same sign of zero and the same NaNs).
::testing::AssertionResult SamePixels(const cv::Mat& expected, const cv::Mat& actual);

// Each test gets a fresh folder of its own, removed after it.
class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    // Runs a command in the folder.
    ShellRun Shell(const std::string& command) const {
        return RunShell("cd " + Quote(dir.string()) + " && " + command);
    }
    // Runs the built edgebin in the folder.
    ShellRun Edgebin(const std::string& arguments) const {
        return Shell(Quote(EDGEBIN_BINARY) + " " + arguments);
    }
    std::filesystem::path dir;
};
