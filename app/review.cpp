// The review page. The page itself is a fixed HTML file (review_page.html,
// compiled in) into which the merged report lines are put as JSON; everything a
// reader does with them happens in the browser. This side only gathers the lines
// and builds the images a browser needs: a thumbnail of each scan and result, and
// a full-size copy of those the browser cannot show (TIFF, PNM, JPEG 2000, pages
// of a multi-page file).
#include "app/review.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <tuple>
#include <utility>

#include "app/arguments.h"
#include "app/image_input.h"
#include "app/image_output.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace edgebin::cli {

// The page, from review_page.html (generated at build time).
extern const char kReviewPageTemplate[];

namespace {

// Longest side of a thumbnail: two of them side by side in a list row, sharp on
// a screen of twice the CSS resolution.
constexpr int kThumbnailSide = 200;
// Where the page takes its data: the summary and the first list page, and all.
constexpr const char* kHeadMarker = "REVIEW_HEAD_JSON";
constexpr const char* kDataMarker = "REVIEW_DATA_JSON";
// Entries of the first list page, which the page shows before it has read them all.
constexpr size_t kFirstScreen = 50;
// Warnings about images beyond this many are only counted.
constexpr size_t kWarningsShown = 20;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Formats every browser decodes in an <img>.
bool BrowserShows(const fs::path& file) {
    static const char* const kShown[] = {".png", ".jpg", ".jpeg", ".jpe",
                                         ".bmp", ".dib", ".webp", ".gif"};
    const std::string extension = Lower(file.extension().string());
    return std::any_of(std::begin(kShown), std::end(kShown),
                       [&extension](const char* shown) { return extension == shown; });
}

// A name for the images of one page that stays the same from run to run
// whatever other pages the reports hold (64-bit FNV-1a of input and page).
std::string PageKey(const std::string& input, int page) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : input + '\n' + std::to_string(page)) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string StringOr(const Json& record, const char* key, const std::string& fallback) {
    const auto found = record.find(key);
    return found != record.end() && found->is_string() ? found->get<std::string>() : fallback;
}

int IntOr(const Json& record, const char* key, int fallback) {
    const auto found = record.find(key);
    return found != record.end() && found->is_number_integer() ? found->get<int>() : fallback;
}

bool ReadReport(std::istream& in, const std::string& name, std::vector<Json>& records,
                std::map<std::pair<std::string, int>, size_t>& index, std::ostream& err) {
    std::string text;
    for (long number = 1; std::getline(in, text); ++number) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        Json record = Json::parse(text, nullptr, false);
        if (record.is_discarded() || !record.is_object() || !record.contains("input") ||
            !record["input"].is_string()) {
            err << "edgebin-review: " << name << ":" << number << ": not a report line, left out"
                << std::endl;
            continue;
        }
        const std::pair<std::string, int> key{record["input"].get<std::string>(),
                                              IntOr(record, "page", 1)};
        const auto [found, added] = index.emplace(key, records.size());
        if (added) {
            records.push_back(std::move(record));
        } else {
            records[found->second] = std::move(record);
        }
    }
    return !in.bad();
}

// A file's path as the page reaches it: relative to the page's folder, with '/'.
std::string PageRelative(const fs::path& file, const fs::path& pageFolder) {
    const fs::path relative = file.lexically_relative(pageFolder);
    return (relative.empty() ? file : relative).generic_string();
}

// True when `made` exists and is not older than `source`.
bool UpToDate(const fs::path& made, const fs::path& source) {
    std::error_code error;
    const auto madeTime = fs::last_write_time(made, error);
    if (error) {
        return false;
    }
    const auto sourceTime = fs::last_write_time(source, error);
    return !error && madeTime >= sourceTime;
}

cv::Mat Thumbnail(const cv::Mat& grey) {
    const double scale =
        std::min(1.0, static_cast<double>(kThumbnailSide) / std::max(grey.cols, grey.rows));
    cv::Mat small;
    cv::resize(
        grey, small,
        cv::Size(std::max(1, cvRound(grey.cols * scale)), std::max(1, cvRound(grey.rows * scale))),
        0, 0, cv::INTER_AREA);
    return small;
}

// One image of a page (the scan or the result) and what is made of it.
struct ImageJob {
    fs::path source;         // the file as the review reaches it
    int index = 0;           // its page in that file, from 0
    bool needsCopy = false;  // the browser cannot show the file itself
    fs::path thumbnail;      // made in the image folder
    fs::path copy;           // made in the image folder when needsCopy
};

// What the page gets about the images of one record, as bits: the page finds
// the files from the record's key and paths.
enum ImageFlags : int {
    kScanThumbnail = 1,    // FOLDER/KEY-scan.jpg
    kResultThumbnail = 2,  // FOLDER/KEY-result.jpg
    kScanCopy = 4,         // FOLDER/KEY-scan-full.jpg
    kResultCopy = 8,       // FOLDER/KEY-result-full.png
    kScanItself = 16,      // the input, which the browser shows
    kResultItself = 32,    // the output, which the browser shows
};

struct PageImages {
    int flags = 0;
    double ink = -1.0;  // share of the result in ink, -1 unknown
    std::vector<std::string> warnings;
};

// Everything the workers share, read-only but for the slot of each record.
struct ReviewRun {
    ReviewRun(const ReviewOptions& optionsIn, const std::vector<Json>& recordsIn,
              const std::map<std::string, double>& knownInkIn)
        : options(optionsIn), records(recordsIn), knownInk(knownInkIn), images(recordsIn.size()) {}

    const ReviewOptions& options;
    const std::vector<Json>& records;
    fs::path base, pageFolder, imageFolder;
    const std::map<std::string, double>& knownInk;  // from an earlier run
    std::vector<PageImages> images;
    std::atomic<size_t> next{0};
};

// Reads the page of `job` and writes its thumbnail (and copy); returns the
// grey page, empty when it could not be read (with the reason in `why`).
cv::Mat MakeImages(const ImageJob& job, std::string& why) {
    cv::Mat grey;
    Resolution resolution;
    std::string refusal;
    if (!LoadGreyPage(job.source.string(), job.index, grey, resolution, refusal)) {
        why = refusal.empty() ? "cannot be read as an image" : refusal;
        return grey;
    }
    // A result's copy holds two values: 1 bit per pixel keeps it small.
    OutputOptions copyOptions;
    copyOptions.bilevel = job.copy.extension() == ".png";
    std::string reason;
    if (!WriteImageAtomically(Thumbnail(grey), job.thumbnail.string(), reason) ||
        (job.needsCopy && !WriteImageAtomically(grey, job.copy.string(), copyOptions, reason))) {
        why = reason;
        return cv::Mat();
    }
    return grey;
}

bool Kept(const ReviewRun& run, const ImageJob& job) {
    return run.options.skipExisting && UpToDate(job.thumbnail, job.source) &&
           (!job.needsCopy || UpToDate(job.copy, job.source));
}

// Makes the images of `job` unless they are kept or not wanted, and returns the
// page read for them (empty when none was read). Sets in images.flags those of
// `bits` (thumbnail, copy, the file itself) whose file is there for the page.
cv::Mat Prepare(const ReviewRun& run, const ImageJob& job, const char* what, bool warn,
                const int (&bits)[3], PageImages& images) {
    cv::Mat grey;
    if (run.options.images && !Kept(run, job)) {
        std::string why;
        grey = MakeImages(job, why);
        if (grey.empty() && warn) {
            images.warnings.push_back(job.source.string() + ": no image of the " + what + ": " +
                                      why);
        }
    }
    std::error_code error;
    if (run.options.images && fs::exists(job.thumbnail, error)) {
        images.flags |= bits[0];
    }
    if (job.needsCopy && run.options.images && fs::exists(job.copy, error)) {
        images.flags |= bits[1];
    } else if (!job.needsCopy && fs::exists(job.source, error)) {
        images.flags |= bits[2];
    }
    return grey;
}

void ReviewRecord(ReviewRun& run, size_t i) {
    const Json& record = run.records[i];
    PageImages& images = run.images[i];
    const std::string input = record["input"].get<std::string>();
    const int page = IntOr(record, "page", 1);
    const int pageCount = IntOr(record, "pages", 1);
    const bool ok = StringOr(record, "status", "") == "ok";
    const std::string key = PageKey(input, page);
    const fs::path folder = run.imageFolder;

    ImageJob scan{(run.base / input).lexically_normal(), page - 1, false,
                  folder / (key + "-scan.jpg"), folder / (key + "-scan-full.jpg")};
    scan.needsCopy = pageCount > 1 || !BrowserShows(scan.source);
    Prepare(run, scan, "scan", ok, {kScanThumbnail, kScanCopy, kScanItself}, images);

    const std::string output = StringOr(record, "output", "");
    if (output.empty()) {
        return;
    }
    ImageJob result{(run.base / output).lexically_normal(), 0, false,
                    folder / (key + "-result.jpg"), folder / (key + "-result-full.png")};
    // A multi-page result holds the pages in order; numbered files hold one each.
    const bool oneFile = pageCount > 1 && CountPages(result.source.string()) > 1;
    result.index = oneFile ? page - 1 : 0;
    result.needsCopy = oneFile || !BrowserShows(result.source);
    const cv::Mat grey =
        Prepare(run, result, "result", ok, {kResultThumbnail, kResultCopy, kResultItself}, images);
    if (!grey.empty()) {
        images.ink = static_cast<double>(grey.total() - cv::countNonZero(grey >= 128)) /
                     static_cast<double>(grey.total());
    } else if (const auto known = run.knownInk.find(key);
               known != run.knownInk.end() && (images.flags & kResultThumbnail) != 0) {
        images.ink = known->second;
    }
}

void Work(ReviewRun& run) {
    for (size_t i = run.next++; i < run.records.size(); i = run.next++) {
        try {
            ReviewRecord(run, i);
        } catch (const std::exception& exception) {
            // A codec fault or exhausted memory costs the images of this page only.
            run.images[i].warnings.push_back(run.records[i]["input"].get<std::string>() +
                                             ": internal error: " + exception.what());
        }
    }
}

std::map<std::string, double> ReadInk(const fs::path& file) {
    std::map<std::string, double> ink;
    std::ifstream in(file);
    const Json known = Json::parse(in, nullptr, false);
    if (known.is_object()) {
        for (const auto& [key, value] : known.items()) {
            if (value.is_number()) {
                ink[key] = value.get<double>();
            }
        }
    }
    return ink;
}

// 0 failed, 1 suspect, 2 ok: the order in which the page lists them.
int Rank(const Json& record) {
    return StringOr(record, "status", "") != "ok"         ? 0
           : StringOr(record, "verdict", "") == "suspect" ? 1
                                                          : 2;
}

// `value` to `decimals` places, which JSON then writes short (0.0457, not
// 0.045700000000000005).
Json Rounded(const Json& value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return value.is_number() ? Json(std::round(value.get<double>() * scale) / scale) : value;
}

Json Member(const Json& record, const char* key) {
    const auto found = record.find(key);
    return found != record.end() ? *found : Json();
}

// The index of each reason in `reasons`, added as first met.
Json ReasonIndexes(const Json& record, std::map<std::string, int>& reasons) {
    std::vector<std::string> texts;
    if (StringOr(record, "status", "") != "ok") {
        texts.push_back(StringOr(record, "message", "failed"));
    } else if (StringOr(record, "verdict", "") == "suspect" &&
               record["suspect_reasons"].is_array()) {
        for (const Json& reason : record["suspect_reasons"]) {
            texts.push_back(reason.is_string() ? reason.get<std::string>() : reason.dump());
        }
    }
    Json indexes = Json::array();
    for (const std::string& text : texts) {
        indexes.push_back(reasons.emplace(text, static_cast<int>(reasons.size())).first->second);
    }
    return indexes;
}

// One record as the page reads it: an array whose order the page's entryOf
// knows, without the measurements, so that a report of 100,000 lines stays a
// page of some 15 MB.
Json PageEntry(const Json& record, const PageImages& images, std::map<std::string, int>& reasons) {
    Json thresholds;
    if (const Json t = Member(record, "thresholds"); t.is_object()) {
        thresholds = {Member(t, "main_peak"),         Member(t, "second_peak"),
                      Rounded(Member(t, "ratio"), 4), Member(t, "final"),
                      Member(t, "reassigned"),        Member(t, "mended_from")};
    }
    Json bands;
    if (const Json widths = Member(record, "stroke_widths"); widths.is_object()) {
        bands = Json::array();
        for (const Json& band : Member(widths, "bands")) {
            bands.push_back(Member(band, "width"));
        }
    }
    const std::string redo = RedoOutput(record);
    return {Member(record, "input"),
            IntOr(record, "page", 1),
            IntOr(record, "pages", 1),
            Member(record, "output"),
            Rank(record),
            ReasonIndexes(record, reasons),
            Member(record, "width"),
            Member(record, "height"),
            Rounded(Member(record, "seconds"), 3),
            thresholds,
            bands,
            images.ink < 0 ? Json() : Json(std::round(images.ink * 1e5) / 1e5),
            PageKey(StringOr(record, "input", ""), IntOr(record, "page", 1)),
            images.flags | (Member(record, "copied_input") == Json(true) ? 64 : 0),
            redo == StringOr(record, "output", "") ? Json() : Json(redo)};
}

// `value` as JSON that can stand inside a <script> element: every '<' escaped,
// so that no "</script>" or "<!--" in a file name can end it.
std::string ScriptJson(const Json& value) {
    const std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        escaped += c == '<' ? std::string("\\u003c") : std::string(1, c);
    }
    return escaped;
}

Json Summary(const std::vector<Json>& records) {
    long written = 0, failed = 0, suspect = 0;
    double seconds = 0.0, writtenSeconds = 0.0, pixels = 0.0;
    for (const Json& record : records) {
        const double time =
            Member(record, "seconds").is_number() ? record["seconds"].get<double>() : 0.0;
        seconds += time;
        const int rank = Rank(record);
        failed += rank == 0;
        suspect += rank == 1;
        if (rank > 0) {
            ++written;
            writtenSeconds += time;
            pixels += static_cast<double>(IntOr(record, "width", 0)) * IntOr(record, "height", 0);
        }
    }
    return {{"pages", records.size()},   {"written", written}, {"failed", failed},
            {"suspect", suspect},        {"seconds", seconds}, {"written_seconds", writtenSeconds},
            {"megapixels", pixels / 1e6}};
}

// The page's two blocks of data: the head (summary, shared tables and the
// first list page, shown while the browser still reads the rest) and every
// entry, failed first, then suspect, then the rest, each by name and page.
std::pair<std::string, std::string> PageData(const ReviewRun& run,
                                             const std::vector<std::string>& reports) {
    std::vector<size_t> order(run.records.size());
    std::iota(order.begin(), order.end(), 0);
    const auto sortKey = [&run](size_t i) {
        const Json& record = run.records[i];
        return std::make_tuple(Rank(record), StringOr(record, "input", ""),
                               IntOr(record, "page", 1));
    };
    std::stable_sort(order.begin(), order.end(),
                     [&sortKey](size_t a, size_t b) { return sortKey(a) < sortKey(b); });
    std::map<std::string, int> reasons;
    Json entries = Json::array();
    for (const size_t i : order) {
        entries.push_back(PageEntry(run.records[i], run.images[i], reasons));
    }
    std::vector<std::string> reasonTexts(reasons.size());
    for (const auto& [text, index] : reasons) {
        reasonTexts[index] = text;
    }
    // Paths for the page to prefix: the image folder and the reports' base.
    std::string base = PageRelative(run.base, run.pageFolder);
    base = base == "." ? "" : base + "/";
    const Json head = {
        {"reports", reports},
        {"reasons", reasonTexts},
        {"folder", PageRelative(run.imageFolder, run.pageFolder) + "/"},
        {"base", base},
        {"summary", Summary(run.records)},
        {"first",
         Json(entries.begin(), entries.begin() + std::min<size_t>(entries.size(), kFirstScreen))}};
    return {ScriptJson(head), ScriptJson(entries)};
}

void PrintWarnings(const std::vector<PageImages>& images, std::ostream& err) {
    size_t count = 0;
    for (const PageImages& page : images) {
        for (const std::string& warning : page.warnings) {
            if (++count <= kWarningsShown) {
                err << "edgebin-review: " << warning << std::endl;
            }
        }
    }
    if (count > kWarningsShown) {
        err << "edgebin-review: and " << count - kWarningsShown << " more pages without images"
            << std::endl;
    }
}

int RunWorkers(ReviewRun& run) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t jobs = std::max<size_t>(
        1, std::min<size_t>(run.options.jobs > 0 ? run.options.jobs : cores, run.records.size()));
    std::vector<std::thread> workers;
    for (size_t i = 0; i + 1 < jobs; ++i) {
        workers.emplace_back(Work, std::ref(run));
    }
    Work(run);
    for (std::thread& worker : workers) {
        worker.join();
    }
    return static_cast<int>(jobs);
}

}  // namespace

bool ReadReports(const std::vector<std::string>& paths, std::vector<Json>& records,
                 std::ostream& err, std::string& error) {
    std::map<std::pair<std::string, int>, size_t> index;
    for (const std::string& path : paths) {
        std::ifstream file;
        if (path != "-") {
            file.open(path);
        }
        std::istream& in = path == "-" ? std::cin : file;
        if (!in || !ReadReport(in, path, records, index, err)) {
            error = "cannot read the report " + path +
                    (path == "-" ? std::string() : ": " + std::string(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

std::string ImageFolder(const std::string& page) {
    const fs::path path(page);
    return (path.parent_path() / (path.stem().string() + "-files")).string();
}

std::string RedoOutput(const Json& record) {
    const std::string output = StringOr(record, "output", "");
    const int page = IntOr(record, "page", 1);
    if (output.empty() || IntOr(record, "pages", 1) < 2) {
        return output;
    }
    const fs::path path(output);
    const std::string stem = path.stem().string();
    if (stem.size() > 4) {
        const std::string unnumbered =
            (path.parent_path() / (stem.substr(0, stem.size() - 4) + path.extension().string()))
                .string();
        if (NumberedPagePath(unnumbered, page) == output) {
            return unnumbered;
        }
    }
    return output;
}

int BuildReview(const ReviewOptions& options, std::ostream& err) {
    std::vector<Json> records;
    std::string message;
    if (!ReadReports(options.reports, records, err, message)) {
        err << "edgebin-review: " << message << std::endl;
        return kExitUsage;
    }
    const fs::path page = fs::absolute(options.page).lexically_normal();
    const fs::path imageFolder = ImageFolder(page.string());
    std::error_code error;
    if (options.images) {
        fs::create_directories(imageFolder, error);
        if (error) {
            err << "edgebin-review: cannot create " << imageFolder.string() << ": "
                << error.message() << std::endl;
            return kExitWriteFailed;
        }
    }
    const std::map<std::string, double> knownInk = ReadInk(imageFolder / "ink.json");
    ReviewRun run(options, records, knownInk);
    run.base = fs::absolute(options.base).lexically_normal();
    run.pageFolder = page.parent_path();
    run.imageFolder = imageFolder;
    RunWorkers(run);
    PrintWarnings(run.images, err);

    std::string text = kReviewPageTemplate;
    const auto [head, data] = PageData(run, options.reports);
    text.replace(text.find(kHeadMarker), std::strlen(kHeadMarker), head);
    text.replace(text.find(kDataMarker), std::strlen(kDataMarker), data);
    Json ink = Json::object();
    for (size_t i = 0; i < records.size(); ++i) {
        if (run.images[i].ink >= 0) {
            ink[PageKey(records[i]["input"].get<std::string>(), IntOr(records[i], "page", 1))] =
                run.images[i].ink;
        }
    }
    std::string reason;
    if (options.images &&
        !WriteTextAtomically(ink.dump(), (imageFolder / "ink.json").string(), reason)) {
        err << "edgebin-review: cannot write " << (imageFolder / "ink.json").string() << ": "
            << reason << std::endl;
        return kExitWriteFailed;
    }
    if (!WriteTextAtomically(text, page.string(), reason)) {
        err << "edgebin-review: cannot write " << options.page << ": " << reason << std::endl;
        return kExitWriteFailed;
    }
    return 0;
}

int RunReview(const std::vector<std::string>& args) {
    ReviewOptions options;
    bool noImages = false;
    CLI::App app(
        "Writes one HTML page to review batch runs from their --report files: failed and\n"
        "suspect pages first, thumbnails of scan and result, a compare view at full size.\n"
        "It works offline from file://. Thumbnails and copies of images a browser cannot\n"
        "show (TIFF, PNM, pages of multi-page files) go to PAGE-files/ beside the page.\n"
        "Exit status: 0 done; 2 bad command line or unreadable report; 3 the page or its\n"
        "folder could not be written.",
        "edgebin-review");
    app.add_option("reports", options.reports, "report files (JSON Lines), - for standard input")
        ->required();
    app.add_option("-o,--output", options.page, "the HTML page to write")->required();
    app.add_option("--base", options.base,
                   "folder the reports' paths are relative to: where the batch ran (default .)");
    app.add_flag("--skip-existing", options.skipExisting,
                 "keep thumbnails and copies not older than their images");
    app.add_flag("--no-images", noImages, "no thumbnails or copies; the page links the files");
    app.add_option("--jobs", options.jobs, "threads for the images (default: one per core)")
        ->check(CLI::Range(1, 4096));
    app.set_version_flag("--version",
                         std::string("edgebin-review ") + std::to_string(kVersionMajor) + "." +
                             std::to_string(kVersionMinor) + "." + std::to_string(kVersionPatch));
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << std::endl;
        return 0;
    } catch (const CLI::ParseError& error) {
        std::cerr << "edgebin-review: " << error.what() << "\n"
                  << "usage: edgebin-review -o PAGE.html REPORT... (--help for more)" << std::endl;
        return kExitUsage;
    }
    options.images = !noImages;
    return BuildReview(options, std::cerr);
}

}  // namespace edgebin::cli
