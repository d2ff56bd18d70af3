#include "foundation/TBTime.h"

namespace terbin {

void TBTime::update() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    seconds_ = now.tv_sec;
    nanos_ = static_cast<int32_t>(now.tv_nsec);
}

TBString TBTime::format(const struct tm& parts, const char* fmt) {
    char buffer[256];
    const size_t n = strftime(buffer, sizeof buffer, fmt, &parts);
    return TBString::fromBytes(std::string_view(buffer, n));
}

TBString TBTime::toString(const char* fmt) const {
    const time_t t = static_cast<time_t>(seconds_);
    struct tm parts {};
    gmtime_r(&t, &parts);
    return format(parts, fmt);
}

TBString TBLocalTime::toString(const char* fmt) const {
    const time_t t = static_cast<time_t>(seconds_);
    struct tm parts {};
    localtime_r(&t, &parts);
    return format(parts, fmt);
}

}  // namespace terbin
