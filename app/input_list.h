// The inputs of a batch run: files named on the command line, image files found
// below folders, and paths read from a list.
#pragma once

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace edgebin::cli {

// True when the extension of `path` is one that folder searches take as an image
// (png, jpg, jpeg, jpe, jp2, tif, tiff, bmp, dib, pbm, pgm, ppm, pnm, webp; any case).
bool HasImageExtension(const std::filesystem::path& path);

// Appends what `argument` names to `inputs`: a folder gives the image files found
// recursively below it, sorted by path, leaving out hidden entries (names starting
// with '.') and the folder `outDir` so that results are never read back as inputs;
// anything else is taken as an image file as it is, to be reported if it cannot be
// read. Returns false with `error` set when a folder cannot be searched.
bool AddInputs(const std::string& argument, const std::filesystem::path& outDir,
               std::vector<std::string>& inputs, std::string& error);

// Appends the paths of `list`, one a line, to `inputs`, as image files: a list of
// millions of paths is not checked against the file system before the run. Empty
// lines are left out and a carriage return ending a line is dropped. A line that
// cannot be a path on this system (a NUL byte, a path or a name longer than the
// kernel takes) refuses the list: returns false with `error` "line N: why".
bool ReadInputList(std::istream& list, std::vector<std::string>& inputs, std::string& error);

}  // namespace edgebin::cli
