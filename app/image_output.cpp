// Image output of the command line: the result is encoded in memory, written to a
// temporary file beside the output and renamed over it only once complete.
#include "app/image_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace edgebin::cli {

namespace {

// Temporary names tried beside outPath before giving up.
constexpr int kTempNameAttempts = 100;

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    return path.substr(dot);
}

std::string Directory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// The temporary file is created private; give the result the mode of the file it
// replaces, or the usual mode of a new file.
mode_t OutputMode(const std::string& outPath) {
    struct stat existing {};
    if (stat(outPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        return existing.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes, std::string& reason) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            reason = wrote < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    if (fsync(fd) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

// Owns an open file descriptor.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now, reporting the error that a delayed write may only show here.
    bool Close(std::string& reason) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            reason = std::strerror(errno);
            return false;
        }
        return true;
    }

  private:
    int fd_;
};

// Writes `bytes` into an unnamed file in `directory` and gives it a temporary
// name (set in `tempPath`) only once complete, so that an interrupted write
// leaves nothing behind. Sets `unsupported` when the file system or the system
// offers no unnamed files.
bool WriteUnnamedThenLink(const std::string& directory, const std::string& extension,
                          const std::vector<unsigned char>& bytes, mode_t mode,
                          std::string& tempPath, bool& unsupported, std::string& reason) {
    FileDescriptor file(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (file.get() < 0) {
        unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        reason = std::strerror(errno);
        return false;
    }
    if (fchmod(file.get(), mode) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    if (!WriteAll(file.get(), bytes, reason)) {
        return false;
    }
    const std::string handle = "/proc/self/fd/" + std::to_string(file.get());
    const std::string stem = directory + ".edgebin-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        tempPath = stem + std::to_string(attempt) + extension;
        if (linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, tempPath.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (!file.Close(reason)) {
                unlink(tempPath.c_str());
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    unsupported = errno == ENOENT;  // no /proc to name the file through
    reason = std::strerror(errno);
    return false;
}

// Writes `bytes` to a fresh temporary file named after `pattern` and sets
// `tempPath`; removes the file again when writing fails.
bool WriteNamedTemporary(const std::string& pattern, int suffixLength,
                         const std::vector<unsigned char>& bytes, mode_t mode,
                         std::string& tempPath, std::string& reason) {
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FileDescriptor file(mkostemps(name.data(), suffixLength, O_CLOEXEC));
    if (file.get() < 0) {
        reason = std::strerror(errno);
        return false;
    }
    tempPath = name.data();
    if (fchmod(file.get(), mode) != 0) {
        reason = std::strerror(errno);
    }
    if (!reason.empty() || !WriteAll(file.get(), bytes, reason) || !file.Close(reason)) {
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool CanEncode(const std::string& outPath) {
    try {
        return !Extension(outPath).empty() && cv::haveImageWriter(outPath);
    } catch (const cv::Exception&) {
        return false;
    }
}

bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason) {
    const std::string extension = Extension(outPath);
    std::vector<unsigned char> encoded;
    try {
        if (!cv::imencode(extension, image, encoded, std::vector<int>())) {
            reason = "the encoder failed";
            return false;
        }
    } catch (const cv::Exception& error) {
        reason = error.err;
        return false;
    }
    const std::string directory = Directory(outPath);
    const mode_t mode = OutputMode(outPath);
    std::string tempPath;
    bool unsupported = false;
    bool written =
        WriteUnnamedThenLink(directory, extension, encoded, mode, tempPath, unsupported, reason);
    if (!written && unsupported) {
        reason.clear();
        written = WriteNamedTemporary(directory + ".edgebin-XXXXXX" + extension,
                                      static_cast<int>(extension.size()), encoded, mode, tempPath,
                                      reason);
    }
    if (!written) {
        return false;
    }
    if (std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        reason = std::strerror(errno);
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath,
                          const OutputOptions& options, std::string& reason) {
    if (options.bilevel) {
        reason = "bilevel output is not available yet";
        return false;
    }
    return WriteImageAtomically(image, outPath, reason);
}

bool WritePagesAtomically(const std::vector<cv::Mat>& pages, const std::string& outPath,
                          const OutputOptions& options, std::string& reason) {
    if (pages.size() != 1) {
        reason = "multi-page output is not available yet";
        return false;
    }
    return WriteImageAtomically(pages[0], outPath, options, reason);
}

}  // namespace edgebin::cli
