#include "foundation/TBLog.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "foundation/SystemInterface.h"
#include "foundation/TBResult.h"

namespace terbin {

namespace {

// Puts errno back as the caller left it, however the log call ends.
class ErrnoKeeper {
  public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

  private:
    int saved_;
};

class FileHandler final : public TBLogMessageHandler {
  public:
    FileHandler(std::string path, int64_t maxBytes, int keep)
        : path_(std::move(path)), maxBytes_(maxBytes), keep_(keep) {}
    ~FileHandler() override { closeFile(); }

    // Opens (creating) the file for appending; 0 or the errno of the failure.
    int openFile() {
        fd_ = tb_system().open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        return fd_ < 0 ? errno : 0;
    }

    void write(int, const std::string& line) override {
        if (fd_ < 0 && openFile() != 0) {
            return;
        }
        std::string record = line;
        record += '\n';
        if (maxBytes_ > 0) {
            // The size is asked for each time rather than counted, so that a
            // file emptied or appended to by someone else is measured right.
            struct stat info {};
            if (tb_system().fstat(fd_, &info) == 0 && info.st_size > 0 &&
                static_cast<uint64_t>(info.st_size) + record.size() >
                    static_cast<uint64_t>(maxBytes_)) {
                rotate();
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
                return;
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
    }

  private:
    std::string numbered(int n) const { return path_ + "." + std::to_string(n); }

    bool exists(const std::string& path) const {
        struct statx info {};
        return tb_system().statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &info) ==
               0;
    }

    void rotate() {
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

    void closeFile() {
        if (fd_ >= 0) {
            tb_system().close(fd_);
            fd_ = -1;
        }
    }

    std::string path_;
    int64_t maxBytes_;
    int keep_;
    int fd_ = -1;
};

template <typename T>
bool parseCount(std::string_view text, T& value) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

const char* levelWord(int level) {
    if (level & TBLog::Error) {
        return "ERROR";
    }
    if (level & TBLog::Warning) {
        return "WARNING";
    }
    if (level & TBLog::Info) {
        return "INFO";
    }
    return "DEBUG";
}

// snprintf of a single conversion, appended to `out`.
template <typename T>
void appendConversion(std::string& out, const std::string& directive, T value) {
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
        return;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(out.data() + at, static_cast<size_t>(n) + 1, directive.c_str(), value);
    out.resize(at + static_cast<size_t>(n));
}

std::string byteCount(int64_t value) {
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    constexpr int lastUnit = 5;
    const std::string sign = value < 0 ? "-" : "";
    // Unsigned magnitude, so that the most negative count has one too.
    const uint64_t magnitude =
        value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (magnitude < 1024) {
        return sign + std::to_string(magnitude) + " bytes";
    }
    int unit = 0;
    uint64_t divisor = 1024;
    while (unit < lastUnit && magnitude / divisor >= 1024) {
        divisor *= 1024;
        ++unit;
    }
    // Rounded tenths of the unit, split so that nothing overflows.
    auto tenthsOf = [magnitude](uint64_t d) {
        return magnitude / d * 10 + (magnitude % d * 10 + d / 2) / d;
    };
    uint64_t tenths = tenthsOf(divisor);
    if (tenths >= 10240 && unit < lastUnit) {
        // 1023.96 KB rounds to 1024.0 KB, which people read as 1.0 MB.
        divisor *= 1024;
        ++unit;
        tenths = tenthsOf(divisor);
    }
    return sign + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " +
           units[unit];
}

enum class Length { None, Char, Short, Long, LongLong, Max, Size, PtrDiff, LongDouble, Invalid };

Length parseLength(const std::string& text) {
    if (text.empty()) {
        return Length::None;
    }
    if (text == "hh") {
        return Length::Char;
    }
    if (text == "h") {
        return Length::Short;
    }
    if (text == "l") {
        return Length::Long;
    }
    if (text == "ll" || text == "q") {
        return Length::LongLong;
    }
    if (text == "j") {
        return Length::Max;
    }
    if (text == "z") {
        return Length::Size;
    }
    if (text == "t") {
        return Length::PtrDiff;
    }
    if (text == "L") {
        return Length::LongDouble;
    }
    return Length::Invalid;
}

// The argument of a signed integer conversion, as the caller passed it.
int64_t signedArgument(va_list& args, Length length) {
    switch (length) {
        case Length::Char:
            return static_cast<signed char>(va_arg(args, int));
        case Length::Short:
            return static_cast<short>(va_arg(args, int));
        case Length::Long:
            return va_arg(args, long);
        case Length::LongLong:
        case Length::LongDouble:
            return va_arg(args, long long);
        case Length::Max:
            return va_arg(args, intmax_t);
        case Length::Size:
            return va_arg(args, ssize_t);
        case Length::PtrDiff:
            return va_arg(args, ptrdiff_t);
        default:
            return va_arg(args, int);
    }
}

uint64_t unsignedArgument(va_list& args, Length length) {
    switch (length) {
        case Length::Char:
            return static_cast<unsigned char>(va_arg(args, unsigned));
        case Length::Short:
            return static_cast<unsigned short>(va_arg(args, unsigned));
        case Length::Long:
            return va_arg(args, unsigned long);
        case Length::LongLong:
        case Length::LongDouble:
            return va_arg(args, unsigned long long);
        case Length::Max:
            return va_arg(args, uintmax_t);
        case Length::Size:
            return va_arg(args, size_t);
        case Length::PtrDiff:
            return static_cast<uint64_t>(va_arg(args, ptrdiff_t));
        default:
            return va_arg(args, unsigned);
    }
}

bool isOneOf(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// One parsed conversion: the text between '%' and the conversion letter,
// with any '*' already replaced by its argument.
struct Conversion {
    std::string flags;
    std::string width;
    std::string precision;  // with its '.', empty when none
    Length length = Length::None;

    std::string directive(const char* suffix) const {
        return "%" + flags + width + precision + suffix;
    }
    // For text made here: only alignment and width still apply.
    std::string textDirective() const {
        return std::string("%") + (flags.find('-') != std::string::npos ? "-" : "") + width + "s";
    }
    // The precision as a count; -1 when none.
    long count() const { return precision.empty() ? -1 : std::atol(precision.c_str() + 1); }
};

void appendWide(std::string& out, const Conversion& c, std::wstring text) {
    const long limit = c.count();
    if (limit >= 0 && text.size() > static_cast<size_t>(limit)) {
        text.resize(static_cast<size_t>(limit));
    }
    appendConversion(out, c.textDirective(), TBString(std::move(text)).narrow().c_str());
}

// Formats the conversion `type`; false when it is not one this formatter knows.
bool appendArgument(std::string& out, const Conversion& c, char type, va_list& args) {
    const char letter[] = {type, '\0'};
    switch (type) {
        case 'd':
        case 'i':
            appendConversion(out, c.directive("ll") + letter,
                             static_cast<long long>(signedArgument(args, c.length)));
            return true;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            appendConversion(out, c.directive("ll") + letter,
                             static_cast<unsigned long long>(unsignedArgument(args, c.length)));
            return true;
        case 'k':
            appendConversion(out, c.textDirective(),
                             byteCount(signedArgument(args, c.length)).c_str());
            return true;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (c.length == Length::LongDouble) {
                appendConversion(out, c.directive("L") + letter, va_arg(args, long double));
            } else {
                appendConversion(out, c.directive(letter), va_arg(args, double));
            }
            return true;
        case 'c':
            if (c.length == Length::Long) {
                appendWide(out, c, std::wstring(1, static_cast<wchar_t>(va_arg(args, wint_t))));
            } else {
                appendConversion(out, c.directive("c"), va_arg(args, int));
            }
            return true;
        case 's':
            if (c.length == Length::Long) {
                const wchar_t* text = va_arg(args, const wchar_t*);
                appendWide(out, c, text ? std::wstring(text) : std::wstring(L"(null)"));
            } else {
                const char* text = va_arg(args, const char*);
                appendConversion(out, c.directive("s"), text ? text : "(null)");
            }
            return true;
        case 'p':
            appendConversion(out, c.directive("p"), va_arg(args, void*));
            return true;
        case 'n':
            // Writing through a pointer taken from a log format is not
            // something a log line should be able to do.
            va_arg(args, void*);
            return true;
        default:
            return false;
    }
}

}  // namespace

TBLogMessageHandler::~TBLogMessageHandler() = default;

TBLog::TBLog(const TBString& name) : name_(name) {}

TBLog::~TBLog() = default;

uint32_t TBLog::setHandler(const TBString& description) {
    const std::string text = description.narrow();
    constexpr std::string_view prefix = "file:";
    if (!text.starts_with(prefix)) {
        return TB_INVALID_PARAMETER;
    }
    const std::string_view rest = std::string_view(text).substr(prefix.size());
    const size_t second = rest.rfind(';');
    if (second == std::string_view::npos || second == 0) {
        return TB_INVALID_PARAMETER;
    }
    const size_t first = rest.rfind(';', second - 1);
    if (first == std::string_view::npos || first == 0) {
        return TB_INVALID_PARAMETER;
    }
    int64_t maxBytes = 0;
    int keep = 0;
    if (!parseCount(rest.substr(first + 1, second - first - 1), maxBytes) ||
        !parseCount(rest.substr(second + 1), keep)) {
        return TB_INVALID_PARAMETER;
    }
    auto handler =
        std::make_unique<FileHandler>(std::string(rest.substr(0, first)), maxBytes, keep);
    if (int error = handler->openFile()) {
        return tb_status_fail(tb_result_fromErrno(error));
    }
    std::lock_guard<std::mutex> guard(mutex_);
    handlers_.push_back(std::move(handler));
    return TB_OK;
}

TBLogMessageHandler* TBLog::getHandler() {
    std::lock_guard<std::mutex> guard(mutex_);
    return handlers_.empty() ? nullptr : handlers_.back().get();
}

void TBLog::removeAllHandlers() {
    std::lock_guard<std::mutex> guard(mutex_);
    handlers_.clear();
}

void TBLog::application(const TBString& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    application_ = name.narrow();
}

void TBLog::error(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log(Error, fmt, args);
    va_end(args);
}

void TBLog::warning(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log(Warning, fmt, args);
    va_end(args);
}

void TBLog::info(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log(Info, fmt, args);
    va_end(args);
}

void TBLog::debug(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log(Debug, fmt, args);
    va_end(args);
}

void TBLog::log(int level, const char* fmt, va_list args) {
    ErrnoKeeper keeper;
    // Everything happens under the lock, so the lines of several threads
    // reach each handler in the order of their time stamps.
    std::lock_guard<std::mutex> guard(mutex_);
    if (handlers_.empty()) {
        return;
    }
    const time_t now = std::time(nullptr);
    struct tm parts {};
    localtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);

    std::string line = stamp;
    line += ' ';
    line += levelWord(level);
    line += ' ';
    if (!application_.empty()) {
        line += application_;
        line += ": ";
    }
    line += format(fmt, args);
    for (const auto& handler : handlers_) {
        if (handler->level() & level) {
            handler->write(level, line);
        }
    }
}

std::string TBLog::format(const char* fmt, va_list args) {
    std::string out;
    if (fmt == nullptr) {
        return out;
    }
    va_list ap;
    va_copy(ap, args);
    const char* p = fmt;
    while (*p != '\0') {
        if (*p != '%') {
            const char* next = std::strchr(p, '%');
            const size_t n = next ? static_cast<size_t>(next - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        Conversion c;
        while (isOneOf(*p, "-+ #0'")) {
            c.flags += *p++;
        }
        if (*p == '*') {
            ++p;
            c.width = std::to_string(va_arg(ap, int));
        } else {
            while (isDigit(*p)) {
                c.width += *p++;
            }
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                // A negative precision counts as none.
                const int precision = va_arg(ap, int);
                if (precision >= 0) {
                    c.precision.push_back('.');
                    c.precision.append(std::to_string(precision));
                }
            } else {
                c.precision.push_back('.');
                while (isDigit(*p)) {
                    c.precision += *p++;
                }
            }
        }
        std::string length;
        while (isOneOf(*p, "hljztLq")) {
            length += *p++;
        }
        c.length = parseLength(length);
        const char type = *p;
        if (type == '\0') {
            out.append(start);
            break;
        }
        ++p;
        if (c.length == Length::Invalid || !appendArgument(out, c, type, ap)) {
            out.append(start, p);
        }
    }
    va_end(ap);
    return out;
}

}  // namespace terbin
