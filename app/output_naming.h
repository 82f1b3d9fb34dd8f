// Where the results of a batch run go: the input tree mirrored under the output
// folder, and the refusal of inputs whose results would overwrite each other.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace edgebin::cli {

// How results are named.
struct OutputNaming {
    std::filesystem::path outDir;
    std::string format = "png";  // extension of the results, without the dot
    // Every page of a multi-page input goes into one file (bilevel TIFF output);
    // otherwise such an input gives numbered files.
    bool multiPageFile = false;
};

// The path of `input` as written, lexically normalised and made relative (an
// absolute path loses its leading '/'), so that the same input always lands in
// the same place whichever other inputs a run has. Refuses with `error` a path
// that climbs above the working folder ("../x.png") or names no file.
bool MirrorPath(const std::string& input, std::filesystem::path& relative, std::string& error);

// The result of page `page` (from 0) of `pageCount` for the input mirrored as
// `relative`: DIR/relative with the format's extension, or for several pages in
// separate files DIR/relative-001.EXT, -002, ...
std::string OutputPath(const OutputNaming& naming, const std::filesystem::path& relative, int page,
                       int pageCount);

// True when the extension of `path` is .tif or .tiff (any case): only such inputs
// are asked for their page count.
bool IsTiffPath(const std::string& path);

// Checks, before any work, that no two inputs would write the same result: the
// same path without extension (scan.png and scan.tif), and a numbered page of a
// multi-page TIFF against another input (scan.tif of 3 pages and scan-002.png).
// Also refuses inputs that MirrorPath refuses. On failure returns false with the
// first problem found in `message`.
bool CheckOutputsDistinct(const std::vector<std::string>& inputs, const OutputNaming& naming,
                          std::string& message);

}  // namespace edgebin::cli
