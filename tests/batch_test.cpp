// Runs the built edgebin in batch mode on small generated pages: results against
// single-page runs, failures, refused collisions, stopped and resumed runs, and
// the GNU parallel recipe of batch/batch_parallel.sh.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <thread>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

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

class BatchTest : public TempDirTest {
  protected:
    int Status(const std::string& arguments) const { return Edgebin(arguments).status; }
    // Small generated pages, one seed each, in the format of each name's extension;
    // with a count only, `count` numbered pages in folder in.
    void MakePages(std::vector<std::string> names, int count = 0) const {
        for (int i = 0; i < count; ++i) {
            names.push_back("in/page" + std::to_string(100 + i) + ".png");
        }
        for (size_t i = 0; i < names.size(); ++i) {
            fs::create_directories((dir / names[i]).parent_path());
            ASSERT_TRUE(cv::imwrite(Path(names[i]), GeneratedPage(i + 1, 240, 180)));
        }
    }
    std::vector<nlohmann::json> Report(const fs::path& path) const {
        std::vector<nlohmann::json> lines;
        std::istringstream text(ReadFile(dir / path));
        for (std::string line; std::getline(text, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }
};

TEST_F(BatchTest, PixelsEqualThoseOfSinglePageRuns) {
    const std::vector<std::string> pages = {"in/a/p1.png", "in/a/b/p2.png", "in/p3.tif"};
    MakePages(pages);
    for (const std::string format : {"png", "tif"}) {
        const std::string out = "out-" + format;
        ASSERT_EQ(Status("--out-dir " + out + " --format " + format + " --jobs 2 --report " + out +
                         ".jsonl in"),
                  0);
        const std::vector<nlohmann::json> report = Report(out + ".jsonl");
        ASSERT_EQ(report.size(), pages.size());
        for (const nlohmann::json& line : report) {
            EXPECT_EQ(line["status"], "ok") << line;
            EXPECT_TRUE(line["thresholds"]["final"].is_number()) << line;
        }
        for (const std::string& page : pages) {
            const std::string result = (fs::path(out) / page).replace_extension(format).string();
            ASSERT_EQ(Status("--quiet " + page + " single." + format), 0);
            EXPECT_TRUE(SamePixels(cv::imread(Path(result), cv::IMREAD_UNCHANGED),
                                   cv::imread(Path("single." + format), cv::IMREAD_UNCHANGED)))
                << result;
        }
    }
}

TEST_F(BatchTest, FailedPagesAreReportedAndTheRunGoesOn) {
    MakePages({"in/a.png", "in/c.png"});
    std::ofstream(dir / "in/b.png") << "not an image";
    std::ofstream(dir / "list.txt") << "in/missing.png\n";
    EXPECT_EQ(Status("--out-dir out --jobs 1 --report r.jsonl --from-list list.txt in"), 4);
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
    const std::map<std::string, std::string> written = Files(dir / "out");
    EXPECT_EQ(written.size(), 2u);
    EXPECT_EQ(written.count("in/a.png") + written.count("in/c.png"), 2u);
}

TEST_F(BatchTest, CollidingResultsAreRefusedBeforeAnyWork) {
    MakePages({"in/x.png", "in/x.tif"});
    std::ofstream(dir / "list.txt") << "in/x.png\n";
    for (const std::string inputs : {"in/x.png in/x.tif", "in/x.png ./in/x.png", "in",
                                     "--from-list list.txt in", "in/x.png ../x.png"}) {
        EXPECT_EQ(Status("--out-dir out " + inputs), 2) << inputs;
        EXPECT_FALSE(fs::exists(dir / "out")) << inputs;
    }
    // A list line that names no file is refused with its number.
    std::ofstream(dir / "nul.txt") << "in/x.png\r\n" << std::string("in/x.png\0evil\n", 14);
    const ShellRun nul = Edgebin("--out-dir out --from-list nul.txt");
    EXPECT_EQ(nul.status, 2);
    EXPECT_EQ(nul.err, "edgebin: nul.txt: line 2: holds a NUL byte, which no path can\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
    // A two-page TIFF writes m-001 and m-002; only a TIFF has numbered pages.
    MakePages({"more/m-002.png", "more/m-003.png", "more/q.png", "more/q-001.png"});
    ASSERT_TRUE(cv::imwritemulti(
        Path("more/m.tif"),
        std::vector<cv::Mat>{GeneratedPage(1, 240, 180), GeneratedPage(2, 240, 180)}));
    for (const auto& [inputs, status] :
         std::vector<std::pair<std::string, int>>{{"more/m.tif more/m-002.png", 2},
                                                  {"more/m.tif more/m-003.png", 0},
                                                  {"more/q.png more/q-001.png", 0}}) {
        EXPECT_EQ(Status("--quiet --out-dir out-more " + inputs), status) << inputs;
    }
}

TEST_F(BatchTest, StoppedRunResumesWithSkipExisting) {
    const size_t count = 24;
    MakePages({}, count);
    ASSERT_EQ(Status("--out-dir clean --quiet in"), 0);
    const std::map<std::string, std::string> clean = Files(dir / "clean");
    for (const int signal : {SIGKILL, SIGINT}) {
        const std::string out = "out-" + std::to_string(signal);
        const std::string report = out + ".jsonl";
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(dir.c_str()) == 0) {
                execl(EDGEBIN_BINARY, EDGEBIN_BINARY, "--out-dir", out.c_str(), "--jobs", "1",
                      "--quiet", "--report", report.c_str(), "in", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        // Stop the run a third of the way through (finished results are not hidden).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        const auto finished = [&] {
            size_t files = 0;
            std::error_code error;
            for (fs::recursive_directory_iterator at(dir / out, error), end; !error && at != end;
                 at.increment(error)) {
                files += at->path().filename().string()[0] != '.' && at->is_regular_file();
            }
            return files;
        };
        while (finished() < count / 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        const size_t done = Files(dir / out).size();
        ASSERT_LT(done, count) << "the run ended before the signal";
        if (signal == SIGINT) {
            // The pages in progress finish, and each finished page is reported.
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
            EXPECT_EQ(Report(report).size(), done);
        }
        ASSERT_EQ(
            Status("--out-dir " + out + " --skip-existing --quiet --report " + report + " in"), 0);
        // Every result equal to the clean run's, and no temporary file left.
        EXPECT_EQ(Files(dir / out), clean) << "after " << signal;
        if (signal == SIGINT) {
            EXPECT_EQ(Report(report).size(), count);
        }
    }
}

TEST_F(BatchTest, ParallelRecipeOverTwoHostsEqualsOneProcess) {
    if (RunShell("command -v parallel").status != 0) {
        GTEST_SKIP() << "GNU parallel is not installed (scripts/install_deps.sh installs it)";
    }
    const size_t count = 12;
    MakePages({}, count);
    ASSERT_EQ(Status("--out-dir single --quiet in"), 0);
    // GNU parallel merges repeated sshlogins, so ':' twice is one host. Two host
    // names served by a stand-in for ssh that runs the command here make two, and
    // take the remote path: quoting, --workdir and the list through ssh's stdin.
    std::ofstream(dir / "hosts") << "hostA\nhostB\n";
    std::ofstream(dir / "ssh") << "#!/bin/sh\necho \"$1\" >> '" << Path("ssh.log")
                               << "'\nshift\n[ \"$1\" = -- ] && shift\nexec sh -c \"$*\"\n";
    fs::permissions(dir / "ssh", fs::perms::owner_all);
    ASSERT_EQ(Shell("ls in/*.png | BLOCK=100 EDGEBIN=" + std::string(EDGEBIN_BINARY) +
                    " PARALLEL_SSH=" + Path("ssh") + " bash " + EDGEBIN_SOURCE_DIR +
                    "/batch/batch_parallel.sh hosts spread")
                  .status,
              0);
    EXPECT_EQ(RunShell("sort -u " + Path("ssh.log")).out, "hostA\nhostB\n");
    EXPECT_EQ(Shell("cat spread/reports/*.jsonl | wc -l").out, std::to_string(count) + "\n");
    fs::remove_all(dir / "spread/reports");
    EXPECT_EQ(Files(dir / "spread"), Files(dir / "single"));
}

}  // namespace
