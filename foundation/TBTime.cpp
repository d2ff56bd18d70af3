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

void TBDate::update() {
    const time_t now = time(nullptr);
    struct tm parts {};
    localtime_r(&now, &parts);
    year_ = parts.tm_year + 1900;
    month_ = parts.tm_mon + 1;
    day_ = parts.tm_mday;
}

int64_t TBDate::getTime() const {
    // Days from the civil date (proleptic Gregorian), without time zones.
    const int64_t y = year_ - (month_ <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month_ + (month_ > 2 ? -3 : 9)) + 2) / 5 + day_ - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

TBString TBDate::toString(const char* fmt) const {
    struct tm parts {};
    parts.tm_year = year_ - 1900;
    parts.tm_mon = month_ - 1;
    parts.tm_mday = day_;
    // Weekday and day of the year follow from the day count.
    const int64_t days = getTime();
    parts.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    const TBDate newYear(year_, 1, 1);
    parts.tm_yday = static_cast<int>(days - newYear.getTime());
    char buffer[256];
    const size_t n = strftime(buffer, sizeof buffer, fmt, &parts);
    return TBString::fromBytes(std::string_view(buffer, n));
}

}  // namespace terbin
