#include "foundation/TBLog.h"

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/TBLogFileHandler.h"
#include "foundation/TBResult.h"

namespace terbin {

namespace {

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

// `message` with the line breaks left in it written as escapes. Formatted
// text has had its arguments escaped already; what remains comes from the
// format, and a record stays one line even so.
std::string oneLine(std::string message) {
    for (size_t at = message.find_first_of("\n\r"); at != std::string::npos;
         at = message.find_first_of("\n\r", at + 2)) {
        message.replace(at, 1, message[at] == '\n' ? "\\n" : "\\r");
    }
    return message;
}

std::string formatWithoutArguments(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = TBLog::format(fmt, args);
    va_end(args);
    return text;
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
        std::make_unique<TBLogFileHandler>(std::string(rest.substr(0, first)), maxBytes, keep);
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
    application_ = name.escaped();
}

void TBLog::logArguments(int level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    log(level, fmt, args);
    va_end(args);
}

void TBLog::logText(int level, const char* text) {
    // With no arguments to give, a text that asks for one would have the
    // formatter read past the end of them.
    if (text != nullptr && logformat::takesArguments(text)) {
        logArguments(level, "%s", text);
    } else {
        // Chosen at run time, the text may carry a name in its own letters.
        write(level, TBString::escapeBytes(formatWithoutArguments(text)));
    }
}

std::optional<TBLog::Line> TBLog::parseLine(std::string_view line, std::string_view application) {
    // "YYYY-MM-DD HH:MM:SS LEVEL message", the message perhaps led by "App: ".
    constexpr std::string_view stamp = "0000-00-00 00:00:00";
    if (line.size() <= stamp.size() || line[stamp.size()] != ' ') {
        return std::nullopt;
    }
    for (size_t i = 0; i < stamp.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (stamp[i] == '0' ? !digit : line[i] != stamp[i]) {
            return std::nullopt;
        }
    }
    std::string_view rest = line.substr(stamp.size() + 1);
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view level = rest.substr(0, blank);
    bool known = false;
    for (const int each : {Error, Warning, Info, Debug}) {
        known = known || level == levelWord(each);
    }
    if (!known) {
        return std::nullopt;
    }
    rest.remove_prefix(blank + 1);
    if (!application.empty() && rest.starts_with(application) &&
        rest.substr(application.size()).starts_with(": ")) {
        rest.remove_prefix(application.size() + 2);
    }
    return Line{std::string(line.substr(0, stamp.size())), std::string(level), std::string(rest)};
}

void TBLog::log(int level, const char* fmt, va_list args) {
    TBErrnoKeeper keeper;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (handlers_.empty()) {
            return;
        }
    }
    write(level, oneLine(format(fmt, args)));
}

void TBLog::write(int level, const std::string& message) {
    TBErrnoKeeper keeper;
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
    line += message;
    for (const auto& handler : handlers_) {
        if (handler->level() & level) {
            handler->write(level, line);
        }
    }
}
}  // namespace terbin
