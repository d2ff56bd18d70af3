// Points in time. A TBTime keeps seconds since the epoch and the nanoseconds
// within that second; ordering uses both, while the integer count used for
// differences (`getTime`) is whole seconds.
#pragma once

#include <cstdint>
#include <ctime>

#include "foundation/TBString.h"

namespace terbin {

class TBTime {
public:
    TBTime() = default;
    TBTime(int64_t seconds, int32_t nanoseconds = 0) : seconds_(seconds), nanos_(nanoseconds) {}
    static TBTime fromTimespec(const struct timespec& t) {
        return TBTime(t.tv_sec, static_cast<int32_t>(t.tv_nsec));
    }
    struct timespec toTimespec() const {
        struct timespec t {};
        t.tv_sec = seconds_;
        t.tv_nsec = nanos_;
        return t;
    }

    // Whole seconds since the epoch: the count for differences.
    int64_t getTime() const { return seconds_; }
    int32_t getNanoseconds() const { return nanos_; }
    // Sets the time to now.
    virtual void update();
    // strftime-style text of the time in UTC.
    virtual TBString toString(const char* format) const;

    virtual ~TBTime() = default;
    TBTime(const TBTime&) = default;
    TBTime& operator=(const TBTime&) = default;

    friend bool operator==(const TBTime& a, const TBTime& b) {
        return a.seconds_ == b.seconds_ && a.nanos_ == b.nanos_;
    }
    friend bool operator<(const TBTime& a, const TBTime& b) {
        return a.seconds_ != b.seconds_ ? a.seconds_ < b.seconds_ : a.nanos_ < b.nanos_;
    }

protected:
    static TBString format(const struct tm& parts, const char* format);

    int64_t seconds_ = 0;
    int32_t nanos_ = 0;
};

// A time shown in the local time zone.
class TBLocalTime : public TBTime {
public:
    using TBTime::TBTime;
    TBString toString(const char* format) const override;
};

// A calendar day in the local time zone. Days order by date; the integer
// count for differences (`getTime`) is whole days since 1970-01-01.
class TBDate {
public:
    TBDate() = default;
    TBDate(int year, int month, int day) : year_(year), month_(month), day_(day) {}
    // Sets the date to today's, in the local time zone.
    void update();
    int getYear() const { return year_; }
    int getMonth() const { return month_; }
    int getDay() const { return day_; }
    int64_t getTime() const;
    // strftime-style text of the date (time fields read as midnight).
    TBString toString(const char* format) const;

    friend bool operator==(const TBDate& a, const TBDate& b) { return a.getTime() == b.getTime(); }
    friend bool operator<(const TBDate& a, const TBDate& b) { return a.getTime() < b.getTime(); }

private:
    int year_ = 1970;
    int month_ = 1;
    int day_ = 1;
};

}  // namespace terbin
