// Argument reading of the command line.
//
// Two forms. The plain form, `edgebin imgPath [outPath] [alpha] [k] [Rthre]`, reads
// its numbers only when three to five arguments are given and reports on standard
// output. Any argument that starts with "--" selects the long form, which adds
// options (`--name value` or `--name=value`, `--` ends them) to the same positional
// arguments, or with `--out-dir` turns them into a list of inputs for a batch run.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

// Exit statuses of the command line besides 0 and the pipeline's codes.
constexpr int kExitLoadFailed = -1;
constexpr int kExitInternalError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWriteFailed = 3;
// A batch run in which some page failed, and one stopped by a signal.
constexpr int kExitSomePagesFailed = 4;
constexpr int kExitInterrupted = 130;

enum class Mode { kPlain, kSinglePage, kBatch };

struct CommandLine {
    Mode mode = Mode::kPlain;
    // Plain and single page: imgPath [outPath] [alpha] [k] [Rthre]; batch: the inputs.
    std::vector<std::string> positionals;
    Parameters parameters;
    bool bilevel = false;        // write 1 bit per pixel
    double dpi = 0.0;            // resolution to write, dots per inch; 0 keeps the input's
    std::string debugDir;        // folder for the stage images, empty for none
    bool quiet = false;          // no report lines (single page) or no progress (batch)
    bool threadsGiven = false;   // --threads was given (its value is in parameters)
    std::string outDir;          // batch: folder of the results
    std::string fromList;        // batch: file of input paths, one per line, "-" for stdin
    std::string format = "png";  // batch: png, tif or pbm
    std::string report;          // batch: JSON Lines report file, empty for none
    int jobs = 0;                // batch: worker threads, 0 for one per core
    bool skipExisting = false;   // batch: keep results that already exist
};

void PrintUsage(std::ostream& out);
void PrintHelp(std::ostream& out);

// True when some argument (args[0] is the program name) starts with "--".
bool IsLongForm(const std::vector<std::string>& args);

// Reads the long form into `line`. Returns nothing when the run should go on,
// or the status to exit with at once: 0 after --help or --version, kExitUsage
// after a message on `err` for a bad command line.
std::optional<int> ReadLongForm(const std::vector<std::string>& args, CommandLine& line,
                                std::ostream& out, std::ostream& err);

// Reads alpha, k and Rthre from args[3..5] (args[0] is the program name) when
// three to five arguments are given; with fewer or more all keep their defaults.
// A number may be followed by other text ("0.3x" reads as 0.3). Text that is no
// number, nan, inf and values beyond the library's bounds are refused with a line
// on `out`.
bool ReadTuningArguments(const std::vector<std::string>& args, Parameters& parameters,
                         std::ostream& out);

}  // namespace edgebin::cli
