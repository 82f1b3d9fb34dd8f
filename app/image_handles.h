// Owning handles for the C image libraries of the command line, so that every
// early return releases what it opened.
#pragma once

#include <leptonica/allheaders.h>

#include <cstdio>
#include <memory>
#include <string>

// libtiff's headers deprecate their own int64 names, which OpenCV's still use:
// OpenCV must be included before any file that includes this one.
#include <tiffio.h>

namespace edgebin::cli {

struct PixDeleter {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

// Memory that Leptonica allocated for an encoded file.
struct LeptonicaFree {
    void operator()(l_uint8* data) const { lept_free(data); }
};
using LeptonicaBytes = std::unique_ptr<l_uint8, LeptonicaFree>;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using TiffOptionsPtr = std::unique_ptr<TIFFOpenOptions, TiffOptionsFree>;

// Options for opening a TIFF file that keep libtiff's messages with libtiff: a file
// it cannot handle is reported by the command line in its own words. With
// `firstError`, the first error message is kept there (thread-safe: no
// process-wide handler is involved).
TiffOptionsPtr QuietTiffOptions(std::string* firstError);

}  // namespace edgebin::cli
