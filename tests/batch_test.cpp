// Runs the built edgebin in batch mode on small generated pages: results against
// single-page runs, failures, refused collisions, stopped and resumed runs, and
// the GNU parallel recipe of tools/batch_parallel.sh.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <thread>

#include "tools/page_generator.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Every file below `root` (hidden ones too) by relative path, with its bytes.
std::map<std::string, std::string> Files(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
        }
    }
    return files;
}

// Results below `root`, leaving out temporary files (hidden until renamed).
int CountFiles(const fs::path& root) {
    std::error_code error;
    int files = 0;
    for (fs::recursive_directory_iterator entry(root, error), end; !error && entry != end;
         entry.increment(error)) {
        files += entry->path().filename().string()[0] != '.' && entry->is_regular_file();
    }
    return files;
}

class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("edgebin_batch_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string InDir(const std::string& command) const {
        return "cd '" + dir.string() + "' && " + command;
    }
    int Edgebin(const std::string& arguments) const {
        return Shell(InDir(std::string(EDGEBIN_BINARY) + " " + arguments + " 2>>stderr.txt"));
    }
    // Small generated pages, one seed each, in the format of each name's extension.
    void MakePages(const std::vector<std::string>& names) const {
        for (size_t i = 0; i < names.size(); ++i) {
            PageOptions options;
            options.seed = static_cast<std::uint32_t>(i + 1);
            options.width = 240;
            options.height = 180;
            cv::Mat page;
            cv::Mat truth;
            GeneratePage(options, page, truth);
            fs::create_directories((dir / names[i]).parent_path());
            ASSERT_TRUE(cv::imwrite((dir / names[i]).string(), page));
        }
    }
    std::vector<std::string> NumberedPages(int count) const {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("in/page" + std::to_string(100 + i) + ".png");
        }
        return names;
    }
    std::vector<nlohmann::json> Report(const std::string& name) const {
        std::vector<nlohmann::json> lines;
        std::istringstream text(ReadFile(dir / name));
        for (std::string line; std::getline(text, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }
    fs::path dir;
};

TEST_F(BatchTest, PixelsEqualThoseOfSinglePageRuns) {
    const std::vector<std::string> pages = {"in/a/p1.png", "in/a/b/p2.png", "in/p3.tif"};
    MakePages(pages);
    for (const std::string format : {"png", "tif"}) {
        const std::string out = "out-" + format;
        ASSERT_EQ(Edgebin("--out-dir " + out + " --format " + format + " --jobs 2 --report " + out +
                          ".jsonl in"),
                  0);
        const std::vector<nlohmann::json> report = Report(out + ".jsonl");
        ASSERT_EQ(report.size(), pages.size());
        for (const nlohmann::json& line : report) {
            EXPECT_EQ(line["status"], "ok") << line;
            EXPECT_EQ(line["width"], 240);
            EXPECT_EQ(line["height"], 180);
            EXPECT_TRUE(line["thresholds"]["final"].is_number()) << line;
            EXPECT_FALSE(line["stroke_widths"]["bands"].empty()) << line;
        }
        for (const std::string& page : pages) {
            const std::string result = (fs::path(out) / page).replace_extension(format).string();
            const std::string single = "single." + format;
            ASSERT_EQ(Edgebin("--quiet " + page + " " + single), 0);
            const cv::Mat batch = cv::imread((dir / result).string(), cv::IMREAD_UNCHANGED);
            const cv::Mat alone = cv::imread((dir / single).string(), cv::IMREAD_UNCHANGED);
            ASSERT_FALSE(batch.empty()) << result;
            ASSERT_EQ(batch.size(), alone.size()) << result;
            EXPECT_EQ(cv::countNonZero(batch != alone), 0) << result;
        }
    }
}

TEST_F(BatchTest, FailedPagesAreReportedAndTheRunGoesOn) {
    MakePages({"in/a.png", "in/c.png"});
    std::ofstream(dir / "in/b.png") << "not an image";
    std::ofstream(dir / "list.txt") << "in/missing.png\n";
    EXPECT_EQ(Edgebin("--out-dir out --jobs 1 --report r.jsonl --from-list list.txt in"), 4);
    // One job: the report follows the input order, sorted folder first, then the list.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"in/a.png", "ok"},
        {"in/b.png", "failed"},
        {"in/c.png", "ok"},
        {"in/missing.png", "failed"}};
    const std::vector<nlohmann::json> report = Report("r.jsonl");
    ASSERT_EQ(report.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(report[i]["input"], expected[i].first);
        EXPECT_EQ(report[i]["status"], expected[i].second);
        EXPECT_EQ(report[i]["output"].is_null(), expected[i].second == "failed");
        EXPECT_EQ(report[i]["message"].get<std::string>().empty(), expected[i].second == "ok");
    }
    std::map<std::string, std::string> written = Files(dir / "out");
    EXPECT_EQ(written.size(), 2u);
    EXPECT_EQ(written.count("in/a.png") + written.count("in/c.png"), 2u);
}

TEST_F(BatchTest, CollidingResultsAreRefusedBeforeAnyWork) {
    MakePages({"in/x.png", "in/x.tif"});
    std::ofstream(dir / "list.txt") << "in/x.png\n";
    const char* const cases[] = {"in/x.png in/x.tif", "in/x.png ./in/x.png", "in",
                                 "--from-list list.txt in", "in/x.png ../x.png"};
    for (const char* inputs : cases) {
        EXPECT_EQ(Edgebin("--out-dir out " + std::string(inputs)), 2) << inputs;
        EXPECT_FALSE(fs::exists(dir / "out")) << inputs;
    }
}

TEST_F(BatchTest, StoppedRunResumesWithSkipExisting) {
    const int count = 24;
    MakePages(NumberedPages(count));
    ASSERT_EQ(Edgebin("--out-dir clean --quiet in"), 0);
    const std::map<std::string, std::string> clean = Files(dir / "clean");
    for (const int signal : {SIGKILL, SIGINT}) {
        const std::string out = "out-" + std::to_string(signal);
        const std::string report = out + ".jsonl";
        const std::string command =
            InDir(std::string("exec ") + EDGEBIN_BINARY + " --out-dir " + out +
                  " --jobs 1 --quiet --report " + report + " in 2>/dev/null");
        const pid_t child = fork();
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Stop the run a third of the way through.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (CountFiles(dir / out) < count / 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        const size_t done = Files(dir / out).size();
        ASSERT_LT(done, static_cast<size_t>(count)) << "the run ended before the signal";
        if (signal == SIGINT) {
            // The pages in progress finish, and each finished page is reported.
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
            EXPECT_EQ(Report(report).size(), done);
        }
        ASSERT_EQ(
            Edgebin("--out-dir " + out + " --skip-existing --quiet --report " + report + " in"), 0);
        // Every result equal to the clean run's, and no temporary file left.
        EXPECT_EQ(Files(dir / out), clean) << "after " << signal;
        if (signal == SIGINT) {
            EXPECT_EQ(Report(report).size(), static_cast<size_t>(count));
        }
    }
}

TEST_F(BatchTest, ParallelRecipeOverTwoHostsEqualsOneProcess) {
    if (Shell("command -v parallel >/dev/null") != 0) {
        GTEST_SKIP() << "GNU parallel is not installed (tools/install_deps.sh installs it)";
    }
    const int count = 12;
    MakePages(NumberedPages(count));
    ASSERT_EQ(Edgebin("--out-dir single --quiet in"), 0);
    // GNU parallel merges repeated sshlogins, so ':' twice is one host. Two host
    // names served by a stand-in for ssh that runs the command here make two, and
    // take the remote path: quoting, --workdir and the list through ssh's stdin.
    std::ofstream(dir / "hosts") << "hostA\nhostB\n";
    std::ofstream(dir / "ssh") << "#!/bin/sh\necho \"$1\" >> '" << (dir / "ssh.log").string()
                               << "'\nshift\n[ \"$1\" = -- ] && shift\nexec sh -c \"$*\"\n";
    fs::permissions(dir / "ssh", fs::perms::owner_all);
    ASSERT_EQ(Shell(InDir("ls in/*.png | BLOCK=100 EDGEBIN=" + std::string(EDGEBIN_BINARY) +
                          " PARALLEL_SSH='" + (dir / "ssh").string() + "' bash " +
                          EDGEBIN_SOURCE_DIR + "/tools/batch_parallel.sh hosts spread")),
              0);
    const std::string hostsUsed = ReadFile(dir / "ssh.log");
    EXPECT_NE(hostsUsed.find("hostA"), std::string::npos) << hostsUsed;
    EXPECT_NE(hostsUsed.find("hostB"), std::string::npos) << hostsUsed;
    size_t reported = 0;
    for (const auto& entry : fs::directory_iterator(dir / "spread/reports")) {
        if (entry.path().extension() == ".jsonl") {
            reported += Report(fs::relative(entry.path(), dir).string()).size();
        }
    }
    EXPECT_EQ(reported, static_cast<size_t>(count));
    fs::remove_all(dir / "spread/reports");
    EXPECT_EQ(Files(dir / "spread"), Files(dir / "single"));
}

}  // namespace
