// Runs the built edgebin executable on bad files, unusual images, extreme tuning
// values and unwritable outputs: every run must end with a clear message and its
// status, never crash or hang, and never leave a partial or stray file behind.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <tuple>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::string;

cv::Mat Noise(int rows, int cols, int low, int high, std::uint64_t seed) {
    cv::Mat noise(rows, cols, CV_8UC1);
    cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, low, high);
    return noise;
}

Bytes Encode(const std::string& extension, const cv::Mat& image, double share = 1.0) {
    std::vector<std::uint8_t> bytes;
    cv::imencode(extension, image, bytes);
    bytes.resize(static_cast<size_t>(static_cast<double>(bytes.size()) * share));
    return Bytes(bytes.begin(), bytes.end());
}

// A big-endian BigTIFF whose one directory (at 16) declares 2^31 x 1 pixels in
// four entries: tag, type, count 1, value.
Bytes BigTiffBomb() {
    Bytes tiff("MM\0\x2b\0\x08\0\0", 8);
    const auto put = [&tiff](std::uint64_t value, int count) {
        while (count-- > 0) {
            tiff.push_back(static_cast<char>(value >> (8 * count)));
        }
    };
    put(16, 8);
    put(4, 8);
    const std::uint64_t entries[4][3] = {
        {256, 16, 1ull << 31}, {257, 3, 1ull << 48}, {273, 4, 0}, {279, 4, 0}};
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(1, 8);
        put(entry[2], 8);
    }
    put(0, 8);
    return tiff;
}

class RobustnessTest : public TempDirTest {
  protected:
    std::string Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return Path(name);
    }
};

// A run either binarizes (status 0, a same-sized 0/255 image written) or ends
// with a driver code and its message and writes nothing. No crash either way.
void ExpectBinarizedOrDriverFailure(const ShellRun& run, const std::string& outPath,
                                    const cv::Size& size) {
    SCOPED_TRACE(run.out + run.err);
    if (run.status == 0) {
        const cv::Mat result = cv::imread(outPath, cv::IMREAD_UNCHANGED);
        ASSERT_EQ(result.type(), CV_8UC1);
        EXPECT_EQ(result.size(), size);
        EXPECT_EQ(cv::countNonZero(result == 0) + cv::countNonZero(result == 255),
                  static_cast<int>(result.total()));
        return;
    }
    EXPECT_TRUE(run.status == 255 || run.status == 11 || run.status == 12) << run.status;
    EXPECT_NE(run.out.find("There is something wrong in the binarization process.\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(outPath));
}

}  // namespace

TEST_F(RobustnessTest, BadInputFilesEndWithTheLoadFailureLines) {
    const Bytes png = Encode(".png", StrokePage());
    Bytes badCrc = png;
    badCrc[badCrc.size() / 2] ^= 0x5A;  // inside the image data: its checksum no longer matches
    fs::create_directories(dir / "folder.png");
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    const std::string tooLarge = "image too large: ";
    const std::string limit = " pixels, the limit is 400000000 pixels.\n";
    const std::string cutJpeg = "damaged JPEG file: it ends before its end-of-image marker.\n";
    // The TIFF fuzzer's three-page seed, its first page declaring 65535 samples of
    // 14856 bits: a strip buffer of 93 GB, were it sized from the header.
    Bytes samples = ReadFile(std::string(EDGEBIN_SOURCE_DIR) + "/tests/fuzz/corpus/tiff/three.tif");
    samples.replace(180, 2, "\x08\x3a", 2).replace(228, 2, "\xff\xff", 2);
    const struct {
        std::string imgPath;
        std::string extraLine;  // printed before the load-failure lines
    } cases[] = {
        {Path("missing.png"), ""},
        {Path("folder.png"), ""},
        // Pipes and devices are refused without blocking or reading forever.
        {Path("pipe.png"), ""},
        {"/dev/zero", ""},
        {"/dev/null", ""},
        {Write("empty.png", ""), ""},
        {Write("garbage.png", "this is not an image at all\n"), ""},
        {Write("half.png", png.substr(0, png.size() / 2)), ""},
        {Write("crc.png", badCrc), ""},
        {Write("half.bmp", Encode(".bmp", StrokePage()).substr(0, 30)), ""},
        // libjpeg would decode the missing part of a JPEG as grey.
        {Write("head.jpg", Encode(".jpg", StrokePage()).substr(0, 20)), cutJpeg},
        {Write("cut.jpg", Encode(".jpg", StrokePage(), 0.6)), cutJpeg},
        {Write("samples.tif", samples),
         "damaged TIFF page: 65535 samples of 14856 bits a pixel, more than can be read.\n"},
        {Write("bomb.btf", BigTiffBomb()), tooLarge + "2147483648 x 1" + limit},
        {Write("over.pgm", "P5\n20001 20000\n255\n"), tooLarge + "20001 x 20000" + limit},
        // Exactly at the limit the header passes; the missing data then fails the decoder.
        {Write("limit.pgm", "P5\n20000 20000\n255\n"), ""},
    };
    for (const auto& c : cases) {
        const ShellRun run = Edgebin(Quote(c.imgPath) + " " + Quote(Path("out.png")) + " 1 2 3");
        EXPECT_EQ(run.status, 255) << c.imgPath;
        EXPECT_EQ(run.out, c.extraLine + "load image failed.\nimgPath:  " + c.imgPath + "\n");
        EXPECT_NE(run.err.find("edgebin: " + c.imgPath + ": "), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("out.png")));
    }
}

// A TIFF whose chain of directories breaks (the file cut in its third directory's
// count or before its link, the last link past the end or back to the first page) is
// damaged in every form: the pages before the break come out, the status is 4,
// and one line on standard error names the file and the page at the break.
TEST_F(RobustnessTest, BrokenTiffChainsAreDamagedFilesInEveryForm) {
    // The three-page seed of the TIFF fuzzer: its third directory starts at byte
    // 706 and links on from byte 876.
    const Bytes three =
        ReadFile(std::string(EDGEBIN_SOURCE_DIR) + "/tests/fuzz/corpus/tiff/three.tif");
    ASSERT_EQ(three.size(), 880u);
    const auto linked = [&three](std::uint32_t offset) {
        Bytes file = three;
        for (int i = 0; i < 4; ++i) {
            file[876 + i] = static_cast<char>(offset >> (8 * i));
        }
        return file;
    };
    const std::tuple<std::string, Bytes, int> files[] = {{"cut.tif", three.substr(0, 707), 3},
                                                         {"link.tif", three.substr(0, 876), 4},
                                                         {"past.tif", linked(5000), 4},
                                                         {"loop.tif", linked(134), 4}};
    const std::string forms[] = {"F o/out.png", "--quiet F o/out.png",
                                 "--quiet --jobs 1 --out-dir o --report r.jsonl F"};
    for (const auto& [name, bytes, breakPage] : files) {
        Write(name, bytes);
        for (const std::string& form : forms) {
            SCOPED_TRACE(name + ": " + form);
            fs::remove_all(dir / "o");
            fs::create_directories(dir / "o");
            const ShellRun run =
                Edgebin(form.substr(0, form.find('F')) + name + form.substr(form.find('F') + 1));
            EXPECT_EQ(run.status, 4);
            std::istringstream err(run.err);
            std::vector<std::string> naming;
            for (std::string line; std::getline(err, line);) {
                if (line.find(name) != std::string::npos) {
                    naming.push_back(line);
                }
            }
            ASSERT_EQ(naming.size(), 1u) << run.err;
            EXPECT_NE(naming[0].find("page " + std::to_string(breakPage)), std::string::npos)
                << naming[0];
            const bool plain = form[0] == 'F';
            EXPECT_EQ(RunShell("find " + Quote(Path("o")) + " -type f | wc -l").out,
                      std::to_string(plain ? 1 : breakPage - 1) + "\n");
        }
        const std::string report = ReadFile(dir / "r.jsonl");
        EXPECT_NE(report.find("{\"input\":\"" + name + "\",\"page\":" + std::to_string(breakPage) +
                              ",\"pages\":" + std::to_string(breakPage) +
                              ",\"output\":null,\"status\":\"failed\""),
                  std::string::npos)
            << report;
    }
}

// Unusual images and extreme accepted tuning values: the parameter line shows the
// values read (by the position rule), and the run ends binarized or with the
// driver's message.
TEST_F(RobustnessTest, UnusualImagesAndExtremeValuesBinarizeOrFailWithTheDriverMessage) {
    const cv::Mat page = StrokePage();
    cv::Mat colour;
    cv::cvtColor(page, colour, cv::COLOR_GRAY2BGR);
    colour.col(5).setTo(cv::Scalar(0, 0, 200));
    cv::Mat deep;
    page.convertTo(deep, CV_16U, 257.0);
    cv::Mat rgba;
    cv::cvtColor(colour, rgba, cv::COLOR_BGR2BGRA);
    rgba(cv::Rect(0, 0, 20, 20)).setTo(cv::Scalar(0, 0, 0, 0));
    const cv::Mat ramp = Filled(60, 256, [](int, int x) { return x; });
    // Pages of fewer than 50 rows are measured as one band whose stroke width can
    // reach the page width; every window scaled from it is then far larger than
    // the page, and with the largest alpha the voting window no longer fits an int.
    const auto wide = [](int cols) {
        cv::Mat strip(3, cols, CV_8UC1, cv::Scalar(220));
        strip.colRange(100, 110).setTo(20);
        strip.colRange(cols - 1000, cols - 990).setTo(20);
        strip.at<std::uint8_t>(0, 5) = 100;
        return strip;
    };
    const std::string corpus = std::string(EDGEBIN_SOURCE_DIR) + "/tests/fuzz/corpus/decode/";
    const Bytes p = Encode(".png", page);
    const struct {
        std::string name;  // the file's extension is the format
        Bytes file;
        cv::Size size;
        std::string arguments = "";
        std::string values = "2 0.6 0.05";  // alpha, k and Rthre as printed
    } cases[] = {
        {"deep.png", Encode(".png", deep), page.size()},
        {"rgba.png", Encode(".png", rgba), page.size()},
        {"palette.png", ReadFile(corpus + "palette.png"), cv::Size(16, 12)},
        {"colour.tif", Encode(".tif", colour), page.size()},
        {"page.bmp", Encode(".bmp", page), page.size()},
        // The content decides the format, not the extension.
        {"png.jpg", p, page.size()},
        {"row.png", Encode(".png", Noise(1, 300, 0, 256, 1)), cv::Size(300, 1)},
        {"column.png", Encode(".png", Noise(300, 1, 0, 256, 2)), cv::Size(1, 300)},
        {"two.png", Encode(".png", Noise(2, 2, 0, 256, 4)), cv::Size(2, 2)},
        {"strip.png", Encode(".png", StrokePage(2, 200)), cv::Size(200, 2)},
        {"small.png", Encode(".png", StrokePage(49, 49)), cv::Size(49, 49)},
        {"fifty.png", Encode(".png", StrokePage(50, 50)), cv::Size(50, 50)},
        {"noise.png", Encode(".png", Noise(90, 120, 0, 256, 6)), cv::Size(120, 90)},
        {"ink.png", Encode(".png", Noise(80, 80, 0, 4, 3)), cv::Size(80, 80)},
        {"ramp.png", Encode(".png", ramp), ramp.size()},
        {"wide.png", Encode(".png", wide(3000)), cv::Size(3000, 3)},
        {"wide.png", Encode(".png", wide(3000)), cv::Size(3000, 3), "10000", "10000 0.6 0.05"},
        {"wider.png", Encode(".png", wide(200000)), cv::Size(200000, 3)},
        {"wider.png", Encode(".png", wide(200000)), {200000, 3}, "10000", "10000 0.6 0.05"},
        {"p.png", p, page.size(), "1.5", "1.5 0.6 0.05"},
        {"p.png", p, page.size(), "1.5 0.3x 0.1", "1.5 0.3 0.1"},
        {"p.png", p, page.size(), "' +2.5e0junk' 0.3x", "2.5 0.3 0.05"},
        {"p.png", p, page.size(), "1.5 0.4 0.1 extra"},  // six or more arguments: none is read
        {"p.png", p, page.size(), "0", "0 0.6 0.05"},
        {"p.png", p, page.size(), "-10000", "-10000 0.6 0.05"},
        {"p.png", p, page.size(), "10000 -1e6", "10000 -1e+06 0.05"},
        {"p.png", p, page.size(), "1e4 1e6 1e6", "10000 1e+06 1e+06"},
        {"p.png", p, page.size(), "2 0.6 -1e6", "2 0.6 -1e+06"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " " + c.arguments);
        const ShellRun run = Edgebin(Quote(Write(c.name, c.file)) + " " + Quote(Path("out.png")) +
                                     " " + c.arguments);
        std::istringstream values(c.values);
        std::string alpha, k, rthre;
        values >> alpha >> k >> rthre;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
                  "//******* alpha = " + alpha + " ******* k = " + k + " ******* Rthre = " + rthre +
                      " *******//");
        ExpectBinarizedOrDriverFailure(run, Path("out.png"), c.size);
        fs::remove(Path("out.png"));
    }
}

namespace {

// A run in a folder holding p.png (a one-value page: copied, so every run reaches
// the write) and big.png (a page that takes a while): `script` runs there with $E
// the tool, $N a prefix that runs it as an unprivileged user and $U that user's
// id; its output must be `expected`, and `result`, when named, must hold p.png's pixels.
struct FileSystemCase {
    const char* name;
    std::string script;
    std::string expected;
    std::string result = "";
};

class FileSystemTest : public TempDirTest {
  protected:
    void RunCases(const std::vector<FileSystemCase>& cases, bool privateMounts) {
        const cv::Mat page(20, 20, CV_8UC1, cv::Scalar(9));
        cv::imwrite(Path("p.png"), page);
        cv::imwrite(Path("big.png"), StrokePage(900, 1200));
        // Root ignores folder permissions, so closed folders are tried as user nobody.
        const bool root = geteuid() == 0;
        const std::string setup =
            "E=" + Quote(EDGEBIN_BINARY) + "; U=" + (root ? "65534" : "$(id -u)") + "; N='" +
            (root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "") + "'; ";
        for (const FileSystemCase& c : cases) {
            SCOPED_TRACE(c.name);
            const std::string script = setup + c.script;
            const ShellRun run = Shell(privateMounts ? "unshare -m sh -c " + Quote(script)
                                                     : "sh -c " + Quote(script));
            EXPECT_EQ(run.out, c.expected) << run.err;
            if (!c.result.empty()) {
                EXPECT_TRUE(SamePixels(cv::imread(Path(c.result), cv::IMREAD_UNCHANGED), page));
            }
            RunShell("chmod -R u+w " + Quote(dir.string()) + "; rm -rf " + Quote(dir.string()) +
                     "/[!pb]*");
        }
    }
};

}  // namespace

// The ways the file system shapes a write: a write-protected output is refused and
// kept; a symbolic link is followed to its target; in a folder closed to new files
// an existing writable output is written in place; a replaced file keeps its owner
// and mode; a new file has the mode the umask gives; a failed run says why with its
// status, and it or an interrupted run leaves the old output and no temporary file.
TEST_F(FileSystemTest, OutputsAreWrittenAsTheFileSystemAllows) {
    const std::string line = "//******* alpha = 2 ******* k = 0.6 ******* Rthre = 0.05 *******//";
    const std::string usage = "usage: edgebin imgPath [outPath] [alpha] [k] [Rthre]\n";
    const std::string unknown =
        ": unknown image format (use an extension such as .png, .tif or .bmp).\n";
    RunCases(
        {{"write-protected",
          "printf old >o.png; chmod 444 o.png; $E p.png o.png; echo $?; "
          "cat o.png; stat -c %a o.png",
          "cannot write o.png: the file is write-protected.\n3\nold444\n"},
         {"symbolic link",
          "mkdir r; printf old >r/t.png; ln -s t.png r/l.png; "
          "$E p.png r/l.png >/dev/null; echo $?; test -L r/l.png && ls -A r",
          "0\nl.png\nt.png\n", "r/t.png"},
         {"closed folder",
          "mkdir c; printf old >c/o.png; chmod 666 c/o.png; chmod 555 c; "
          "$N $E p.png c/o.png >/dev/null; echo $?; ls -A c",
          "0\no.png\n", "c/o.png"},
         {"another owner's file, its mode",
          "printf old >o.png; chown $U o.png; chmod 664 o.png; "
          "$E p.png o.png >/dev/null; echo $?; [ $(stat -c %u o.png) = $U ] && stat -c %a o.png",
          "0\n664\n", "o.png"},
         {"new file, umask 027", "umask 027; $E p.png o.png >/dev/null; echo $?; stat -c %a o.png",
          "0\n640\n", "o.png"},
         {"the input as its own output",
          "cp p.png o.png; $E o.png o.png >/dev/null; echo $?; ls -A", "0\nbig.png\no.png\np.png\n",
          "o.png"},
         // Each failure's status and last line, tuning values refused before any work;
         // the old output stays.
         {"failed runs",
          "printf old >o.png; mkdir d.png; for a in '' 'm.png o.png' p.png 'p.png n/o.png' "
          "'p.png o.xyz' 'p.png o' 'p.png d.png' 'p.png p.png/o.png' 'p.png o.png nan' "
          "'p.png o.png abc' \"p.png o.png ''\" 'p.png o.png 1e400' 'p.png o.png 10000.5' "
          "'p.png o.png 2 1e7' 'p.png o.png 2 0.6 x' 'p.png o.png 2 0.6 -2e6'; "
          "do eval \"$E $a\" >l; s=$?; echo \"$s $(tail -n 1 l)\"; done; rm l; cat o.png; ls -A",
          "2 " + usage + "255 imgPath:  m.png\n2 " + usage +
              "3 cannot write n/o.png: No such file or directory.\n"
              "3 cannot write o.xyz" +
              unknown + "3 cannot write o" + unknown +
              "3 cannot write d.png: Is a directory.\n"
              "3 cannot write p.png/o.png: Not a directory.\n"
              "2 invalid alpha: 'nan' is not a number.\n"
              "2 invalid alpha: 'abc' is not a number.\n"
              "2 invalid alpha: '' is not a number.\n"
              "2 invalid alpha: 1e400 is outside [-10000, 10000].\n"
              "2 invalid alpha: 10000.5 is outside [-10000, 10000].\n"
              "2 invalid k: 1e7 is outside [-1e+06, 1e+06].\n"
              "2 invalid Rthre: 'x' is not a number.\n"
              "2 invalid Rthre: -2e6 is outside [-1e+06, 1e+06].\n"
              "oldbig.png\nd.png\no.png\np.png\n"},
         // Killed once the parameter line is out, that is while the pipeline works.
         {"interrupted run",
          "printf old >o.png; mkfifo f; $E big.png o.png >f & p=$!; "
          "{ read -r l; kill -9 $p; wait $p; echo \"$? $l\"; } <f; rm f; cat o.png; ls -A",
          "137 " + line + "\noldbig.png\no.png\np.png\n"}},
        false);
}

// Full disks and read-only folders need a private mount, which only privileged
// runs get; elsewhere they are skipped.
TEST_F(FileSystemTest, FullDisksAndReadOnlyFoldersFailTheWriteAndKeepTheOldOutput) {
    if (RunShell("unshare -m true").status != 0) {
        GTEST_SKIP() << "no private mounts here (needs root and unshare)";
    }
    RunCases({{"full disk",
               "mkdir m; mount -t tmpfs -o size=64k tmpfs m; printf old >m/o.png; "
               "dd if=/dev/zero of=m/fill bs=4k 2>/dev/null; "
               "$E p.png m/o.png >l; s=$?; tail -n 1 l; echo $s; cat m/o.png; ls -A m",
               "cannot write m/o.png: No space left on device.\n3\noldfill\no.png\n"},
              {"read-only folder",
               "mkdir m; printf old >m/o.png; mount --bind m m; mount -o remount,bind,ro m; "
               "$E p.png m/o.png >l; s=$?; tail -n 1 l; echo $s; cat m/o.png; ls -A m",
               "cannot write m/o.png: Read-only file system.\n3\noldo.png\n"}},
             true);
}
