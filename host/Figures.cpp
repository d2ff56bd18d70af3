#include "host/Figures.h"

#include <cstdarg>
#include <ctime>

#include "foundation/TBLog.h"

std::string formatted(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = terbin::TBLog::format(fmt, args);
    va_end(args);
    return text;
}

std::string byteText(int64_t count) {
    return formatted("%llk", static_cast<long long>(count));
}

std::string timeText(int64_t seconds) {
    const std::time_t at = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&at, &local) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}
