#include "foundation/TBLogFileHandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <utility>

#include "foundation/SystemInterface.h"

namespace terbin {

TBLogFileHandler::TBLogFileHandler(std::string path, int64_t maxBytes, int keep)
    : path_(std::move(path)), maxBytes_(maxBytes), keep_(keep) {}

TBLogFileHandler::~TBLogFileHandler() {
    closeFile();
}

int TBLogFileHandler::openFile() {
    size_ = -1;
    fd_ = tb_system().open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    return fd_ < 0 ? errno : 0;
}

void TBLogFileHandler::write(int, const std::string& line) {
    if (fd_ < 0 && openFile() != 0) {
        return;
    }
    std::string record = line;
    record += '\n';
    if (maxBytes_ > 0) {
        const int64_t length = static_cast<int64_t>(record.size());
        // The size is counted, and asked for again whenever the count comes
        // near the limit and every so many lines, so that a file emptied or
        // appended to by someone else is measured right before it matters.
        if (size_ < 0 || size_ + length > maxBytes_ || ++linesCounted_ >= MeasureEvery) {
            struct stat info {};
            size_ = tb_system().fstat(fd_, &info) == 0 ? info.st_size : -1;
            linesCounted_ = 0;
        }
        if (size_ > 0 && size_ + length > maxBytes_) {
            rotate();
            size_ = -1;
            if (fd_ < 0) {
                return;
            }
        }
    }
    // One call carries the whole line, so lines appended by several
    // writers never mix; only a short write needs a second call.
    const char* data = record.data();
    size_t left = record.size();
    while (left > 0) {
        ssize_t n = tb_system().write(fd_, data, left);
        if (n <= 0) {
            size_ = -1;
            return;
        }
        if (size_ >= 0)
            size_ += n;
        data += n;
        left -= static_cast<size_t>(n);
    }
}

std::string TBLogFileHandler::numbered(int n) const {
    return path_ + "." + std::to_string(n);
}

bool TBLogFileHandler::exists(const std::string& path) const {
    struct statx info {};
    return tb_system().statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &info) == 0;
}

void TBLogFileHandler::rotate() {
    if (keep_ > 0) {
        // Only the files up to the first missing number need to move up;
        // when none is missing the oldest, PATH.KEEP, is overwritten.
        int gap = 1;
        while (gap < keep_ && exists(numbered(gap))) {
            ++gap;
        }
        for (int i = gap; i > 1; --i) {
            tb_system().rename(numbered(i - 1).c_str(), numbered(i).c_str());
        }
        if (tb_system().rename(path_.c_str(), numbered(1).c_str()) == 0) {
            closeFile();
            openFile();
            return;
        }
    }
    // Without old files to keep, or when the file cannot be renamed, the
    // size limit still holds: the file starts again empty.
    tb_system().ftruncate(fd_, 0);
}

void TBLogFileHandler::closeFile() {
    if (fd_ >= 0) {
        tb_system().close(fd_);
        fd_ = -1;
    }
}

}  // namespace terbin
