// A named logger. Lines go to the handlers installed on it; a logger without
// handlers drops them. A line reads
//     YYYY-MM-DD HH:MM:SS LEVEL message
// or, once an application name is set,
//     YYYY-MM-DD HH:MM:SS LEVEL App: message
// in local time, LEVEL being ERROR, WARNING, INFO or DEBUG. The message is
// kept exactly as formatted, leading blanks included; the line is UTF-8.
// A record is always one line: text that comes from outside the format (the
// arguments of %s, %ls, %c and %lc, a message text chosen at run time, the
// application name) is escaped as TBString::escapeBytes() describes, so a
// name with a line break or a terminal control in it is shown, never obeyed,
// and a line break in the format itself is written as "\n" or "\r".
//
// Messages are printf-style formats (see format()), checked against their
// arguments when the program is compiled (see TBLogFormat.h). A logger may be
// used from any thread, and a log call leaves errno as it found it, so a
// caller can log a failure and then read errno.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "foundation/TBLogFormat.h"
#include "foundation/TBString.h"

namespace terbin {

// Where a logger's lines go.
class TBLogMessageHandler {
public:
    TBLogMessageHandler() = default;
    virtual ~TBLogMessageHandler();
    TBLogMessageHandler(const TBLogMessageHandler&) = delete;
    TBLogMessageHandler& operator=(const TBLogMessageHandler&) = delete;

    // The levels (TBLog::Error | TBLog::Warning | …) the handler takes; all
    // four unless set.
    void level(int mask) { levels_.store(mask); }
    int level() const { return levels_.load(); }

    // Takes one complete line (without its end of line) of level `level`.
    // Called with the logger's lock held; failures are the handler's own
    // business and are not reported.
    virtual void write(int level, const std::string& line) = 0;

private:
    std::atomic<int> levels_{15};
};

class TBLog {
public:
    static constexpr int Error = 1;
    static constexpr int Warning = 2;
    static constexpr int Info = 4;
    static constexpr int Debug = 8;

    explicit TBLog(const TBString& name = TBString());
    ~TBLog();
    TBLog(const TBLog&) = delete;
    TBLog& operator=(const TBLog&) = delete;

    const TBString& name() const { return name_; }

    // Adds a handler described by `description`. The one kind is
    //     file:PATH;MAXBYTES;KEEP
    // (split at the last two ';', so PATH may hold ';'): lines are appended
    // to PATH, created readable and writable by its owner alone. Before a
    // line would make a non-empty PATH larger than MAXBYTES, PATH becomes
    // PATH.1, PATH.1 becomes PATH.2 and so on up to PATH.KEEP (the oldest
    // is dropped) and a new PATH is started; with KEEP 0 PATH is emptied
    // instead, as it is when it cannot be renamed. MAXBYTES 0 means no limit.
    // A single line longer than MAXBYTES is still written whole.
    // Returns 0; 87 for text of another form; the result code of the failed
    // open of PATH (also left in tb_status_getLastError()).
    uint32_t setHandler(const TBString& description);
    // The handler added last; null when there is none.
    TBLogMessageHandler* getHandler();
    // Removes and destroys every handler.
    void removeAllHandlers();

    // Names the application in every line from now on; empty for none.
    void application(const TBString& name);

    // Write a line of their level. `fmt` is a format (see format()) that is
    // checked against the arguments' types when the program is compiled (see
    // TBLogFormat.h), so it is a string literal or a constexpr pointer to one.
    // A text chosen at run time goes to the one-argument form and takes no
    // arguments; should it ask for any, it is written as it stands.
    template <typename... Args>
    void error(TBLogFormat<std::type_identity_t<Args>...> fmt, Args... args) {
        logArguments(Error, fmt.get(), args...);
    }
    template <TBLogRuntimeText Text>
    void error(Text&& message) {
        logText(Error, message);
    }
    template <typename... Args>
    void warning(TBLogFormat<std::type_identity_t<Args>...> fmt, Args... args) {
        logArguments(Warning, fmt.get(), args...);
    }
    template <TBLogRuntimeText Text>
    void warning(Text&& message) {
        logText(Warning, message);
    }
    template <typename... Args>
    void info(TBLogFormat<std::type_identity_t<Args>...> fmt, Args... args) {
        logArguments(Info, fmt.get(), args...);
    }
    template <TBLogRuntimeText Text>
    void info(Text&& message) {
        logText(Info, message);
    }
    template <typename... Args>
    void debug(TBLogFormat<std::type_identity_t<Args>...> fmt, Args... args) {
        logArguments(Debug, fmt.get(), args...);
    }
    template <TBLogRuntimeText Text>
    void debug(Text&& message) {
        logText(Debug, message);
    }
    // Writes a line of `level` (one of Error, Warning, Info, Debug). The
    // format is not checked: the arguments must be what it asks for.
    void log(int level, const char* fmt, va_list args);

    // printf-style formatting: flags, widths and precisions ('*' included),
    // the length modifiers hh h l ll j z t L, and the conversions d i u o x X
    // c s p f F e E g G a A and %%. %s and %c take bytes, %ls and %lc wide
    // text; what they give is escaped (TBString::escapeBytes: control
    // characters, '\\' and bytes of invalid UTF-8 become "\n", "\t", "\r",
    // "\\" or "\xNN"; valid UTF-8 stays), and only then padded to the width.
    // The text of the format itself is copied as it stands. %n writes nothing. One extension: %llk
    // takes a 64-bit signed byte count and shows it for people: "512 bytes" below 1024, else one
    // decimal in the largest fitting unit of 1024: "1.5 KB", "23.4 MB",
    // "1.2 GB", "3.0 TB" (then PB, EB). An unknown conversion is copied as it
    // stands and takes no argument.
    static std::string format(const char* fmt, va_list args);

    // One line as a logger writes it, taken apart.
    struct Line {
        std::string time;     // "YYYY-MM-DD HH:MM:SS", local time
        std::string level;    // "ERROR", "WARNING", "INFO" or "DEBUG"
        std::string message;  // as formatted, without the application name
    };
    // Takes apart `line` (without its end of line) as a logger writes it. A
    // message that begins with `application` and ": " loses that prefix; an
    // empty `application` takes nothing off. Empty for text of another layout.
    static std::optional<Line> parseLine(std::string_view line, std::string_view application);

private:
    // The variadic end of the checked operations.
    void logArguments(int level, const char* fmt, ...);
    // `text` as a format without arguments, or as it stands when it asks for
    // some; either way escaped whole.
    void logText(int level, const char* text);
    // Writes the line of `message`, which holds no line break, to the handlers.
    void write(int level, const std::string& message);

    TBString name_;
    std::mutex mutex_;
    std::string application_;
    std::vector<std::unique_ptr<TBLogMessageHandler>> handlers_;
};

}  // namespace terbin
