#include "app/arguments.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <limits>
#include <sstream>

namespace edgebin::cli {

namespace {

const char* const kUsage = "usage: edgebin imgPath [outPath] [alpha] [k] [Rthre]";

// Reads the longest leading decimal number of `text`, ignoring what follows.
// `overflow` tells a number too large for a double from text that is none.
bool ReadNumber(const std::string& text, double& value, bool& overflow) {
    std::stringstream stream;
    stream << text << "\n";
    double parsed = 0.0;
    stream >> parsed;
    overflow = stream.fail() && std::fabs(parsed) == std::numeric_limits<double>::max();
    if (stream.fail()) {
        return false;
    }
    value = parsed;
    return true;
}

bool ReadTuning(const std::string& name, const std::string& text, double bound, double& value,
                std::ostream& out) {
    double parsed = 0.0;
    bool overflow = false;
    if (!ReadNumber(text, parsed, overflow) && !overflow) {
        out << "invalid " << name << ": '" << text << "' is not a number." << std::endl;
        return false;
    }
    if (overflow || !std::isfinite(parsed) || std::fabs(parsed) > bound) {
        out << "invalid " << name << ": " << text << " is outside [-" << bound << ", " << bound
            << "]." << std::endl;
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace

void PrintUsage(std::ostream& out) {
    out << kUsage << std::endl;
}

void PrintHelp(std::ostream& out) {
    out << kUsage << "\n"
        << "       edgebin [OPTIONS] imgPath [outPath] [alpha] [k] [Rthre]\n"
        << "       edgebin --out-dir DIR [OPTIONS] [INPUT...]\n"
        << "\n"
        << "Binarizes document images: ink becomes 0, paper 255.\n"
        << "\n"
        << "  imgPath  image to read (any format OpenCV reads; converted to grey)\n"
        << "  outPath  image to write, format from its extension (.png, .tif, .bmp, ...)\n"
        << "  alpha    window scale of the local vote (default 2)\n"
        << "  k        weight of the deviation in the local threshold (default 0.6)\n"
        << "  Rthre    ratio threshold of the global stage (default 0.05)\n"
        << "\n"
        << "The numbers are read only when three to five arguments are given; a number\n"
        << "may be followed by other text (0.3x reads as 0.3). Refused: text that is no\n"
        << "number, nan, inf, |alpha| > 1e4, |k| > 1e6, |Rthre| > 1e6.\n"
        << "Images above 400 megapixels are refused, from the file header where the\n"
        << "format allows (PNG, JPEG, TIFF, BMP, PNM), before anything is decoded.\n"
        << "\n"
        << "Options (any argument starting with -- selects them; --name=value works too,\n"
        << "and -- ends the options):\n"
        << "  --alpha A, --k K, --rthre R  tuning values, as the positional numbers\n"
        << "  --polarity auto|dark-ink|light-ink  auto (the default): told from the page,\n"
        << "                   which is kept as it is when unsure (then suspect); dark-ink:\n"
        << "                   dark writing on light paper; light-ink: light writing on a\n"
        << "                   dark page, as in film negatives, inverted (255 - grey) first.\n"
        << "                   The result is always ink 0 on paper 255. A two-level input\n"
        << "                   is copied inverted under light-ink, as it is otherwise\n"
        << "  --bilevel        write 1 bit per pixel: 1-bit PNG (.png), CCITT G4 TIFF\n"
        << "                   (.tif, .tiff) or PBM (.pbm)\n"
        << "  --dpi N          resolution to write; by default the input's is kept\n"
        << "  --working-dpi N  resolution the defaults suit (default 300; 0: never\n"
        << "                   rescale). A page whose file declares at least 1.5 times N\n"
        << "                   dpi is binarized shrunk to N dpi and brought back to its\n"
        << "                   own size; --dpi does not count here\n"
        << "  --debug-dir DIR  also write the stage images of the run as PNG files\n"
        << "  --quiet          no report lines (single page) or no progress (batch)\n"
        << "  --threads N      split each page over N threads, 1 to 1024 (default 1); the\n"
        << "                   result is the same for every N. A single page also gives\n"
        << "                   OpenCV's own functions N threads.\n"
        << "  --help, --version\n"
        << "With options, every page of a multi-page TIFF is binarized: with --bilevel\n"
        << "and a .tif output into one multi-page G4 TIFF, otherwise into numbered files\n"
        << "(out.png gives out-001.png, out-002.png, ...). A page that fails is reported\n"
        << "and the others still come out, with status 4. Without options only the first\n"
        << "page is read, and standard error says how many were left out. A TIFF whose\n"
        << "chain of pages breaks is damaged: status 4, the pages before the break written.\n"
        << "The output keeps the input's resolution (PNG, TIFF, JPEG, BMP) unless --dpi\n"
        << "sets one.\n"
        << "\n"
        << "Batch (with --out-dir): each INPUT is an image or a folder searched recursively\n"
        << "for image files (sorted; hidden entries and DIR left out). Each result goes to\n"
        << "DIR/<input path as given>, with the format's extension: in/a/p.tif gives\n"
        << "DIR/in/a/p.png; an absolute path loses its leading /.\n"
        << "  --out-dir DIR      folder of the results\n"
        << "  --from-list FILE   also read input paths from FILE, one per line (- for stdin)\n"
        << "  --format png|tif|pbm  format of the results (default png)\n"
        << "  --jobs N           worker threads (default: one per core)\n"
        << "  --report FILE      one JSON object per page (JSON Lines), - for stdout\n"
        << "  --skip-existing    keep results that already exist (resume a run); the\n"
        << "                     report is then appended to\n"
        << "Progress goes to standard error (--quiet: none); a failed page is reported and\n"
        << "the run goes on. On SIGINT or SIGTERM the pages in progress are finished.\n"
        << "\n"
        << "Exit status: 0 success; 255 (-1) image not loadable or no stroke structure\n"
        << "found; 11 image without rows or columns; 12 unsupported channel count;\n"
        << "1 internal error; 2 bad command line; 3 output could not be written;\n"
        << "4 some pages failed (of a batch or a multi-page TIFF), the others were\n"
        << "written; 130 batch stopped by a signal.\n"
        << "The output is written to a temporary file beside outPath and renamed over it\n"
        << "only once complete, so a failed run leaves no partial file. A write-protected\n"
        << "output is refused (3); a symbolic link is followed to its target. In a folder\n"
        << "where no file may be created, an existing writable output is overwritten in\n"
        << "place, which is not atomic." << std::endl;
}

bool IsLongForm(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0) {
            return true;
        }
    }
    return false;
}

std::optional<int> ReadLongForm(const std::vector<std::string>& args, CommandLine& line,
                                std::ostream& out, std::ostream& err) {
    CLI::App app("edgebin");
    app.set_help_flag();  // -h stays an ordinary argument unless it stands alone
    bool help = false;
    bool version = false;
    Parameters tuning;
    app.add_flag("--help", help);
    app.add_flag("--version", version);
    const CLI::Option* tuningOptions[] = {app.add_option("--alpha", tuning.alpha),
                                          app.add_option("--k", tuning.k),
                                          app.add_option("--rthre", tuning.rthre)};
    std::string polarity = PolarityName(line.parameters.polarity);
    app.add_option("--polarity", polarity)->check(CLI::IsMember({"auto", "dark-ink", "light-ink"}));
    app.add_flag("--bilevel", line.bilevel);
    app.add_option("--dpi", line.dpi)->check(CLI::Range(1.0, 1.0e6));
    app.add_option("--working-dpi", line.parameters.workingResolution)
        ->check(CLI::Range(0.0, kMaxResolution));
    app.add_option("--debug-dir", line.debugDir);
    app.add_flag("--quiet", line.quiet);
    const CLI::Option* threads =
        app.add_option("--threads", line.parameters.threads)->check(CLI::Range(1, kMaxThreads));
    CLI::Option* outDir = app.add_option("--out-dir", line.outDir);
    const CLI::Option* batchOnly[] = {
        app.add_option("--from-list", line.fromList),
        app.add_option("--format", line.format)->check(CLI::IsMember({"png", "tif", "pbm"})),
        app.add_option("--report", line.report),
        app.add_option("--jobs", line.jobs)->check(CLI::Range(1, 4096)),
        app.add_flag("--skip-existing", line.skipExisting)};
    app.add_option("arguments", line.positionals);

    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        err << "edgebin: " << error.what() << "\n";
        PrintUsage(err);
        return kExitUsage;
    }
    if (help || version) {
        if (help) {
            PrintHelp(out);
        } else {
            out << "edgebin " << kVersionMajor << "." << kVersionMinor << "." << kVersionPatch
                << std::endl;
        }
        return 0;
    }
    ParsePolarity(polarity, line.parameters.polarity);
    line.mode = outDir->count() > 0 ? Mode::kBatch : Mode::kSinglePage;
    line.threadsGiven = threads->count() > 0;
    for (const CLI::Option* option : batchOnly) {
        if (line.mode != Mode::kBatch && option->count() > 0) {
            err << "edgebin: " << option->get_name() << " needs --out-dir\n";
            return kExitUsage;
        }
    }
    if (line.mode == Mode::kSinglePage) {
        std::vector<std::string> plain{args[0]};
        plain.insert(plain.end(), line.positionals.begin(), line.positionals.end());
        if (!ReadTuningArguments(plain, line.parameters, err)) {
            return kExitUsage;
        }
    }
    // A tuning option wins over the positional number.
    double* values[] = {&line.parameters.alpha, &line.parameters.k, &line.parameters.rthre};
    const double given[] = {tuning.alpha, tuning.k, tuning.rthre};
    for (int i = 0; i < 3; ++i) {
        if (tuningOptions[i]->count() > 0) {
            *values[i] = given[i];
        }
    }
    std::string message;
    if (!CheckParameters(line.parameters, message)) {
        err << "edgebin: invalid " << message << ".\n";
        return kExitUsage;
    }
    return std::nullopt;
}

bool ReadTuningArguments(const std::vector<std::string>& args, Parameters& parameters,
                         std::ostream& out) {
    const size_t given = args.size() - 1;
    if (given < 3 || given > 5) {
        return true;
    }
    return ReadTuning("alpha", args[3], kMaxAbsAlpha, parameters.alpha, out) &&
           (given < 4 || ReadTuning("k", args[4], kMaxAbsK, parameters.k, out)) &&
           (given < 5 || ReadTuning("Rthre", args[5], kMaxAbsRthre, parameters.rthre, out));
}

}  // namespace edgebin::cli
