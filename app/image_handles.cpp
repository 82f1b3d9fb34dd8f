#include <opencv2/core.hpp>  // before libtiff, whose headers deprecate OpenCV's int64 names

#include "app/image_handles.h"

#include <cstdarg>
#include <cstdio>

namespace edgebin::cli {

namespace {

// Returning 1 keeps the process-wide handler from being called.
int IgnoreTiffMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

int KeepFirstTiffError(TIFF*, void* firstError, const char*, const char* format,
                       va_list arguments) {
    auto* kept = static_cast<std::string*>(firstError);
    if (kept->empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, arguments);
        *kept = text[0] != '\0' ? text : "unreadable data";
    }
    return 1;
}

}  // namespace

TiffOptionsPtr QuietTiffOptions(std::string* firstError) {
    TiffOptionsPtr options(TIFFOpenOptionsAlloc());
    if (firstError != nullptr) {
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepFirstTiffError, firstError);
    } else {
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), IgnoreTiffMessage, nullptr);
    }
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreTiffMessage, nullptr);
    return options;
}

}  // namespace edgebin::cli
