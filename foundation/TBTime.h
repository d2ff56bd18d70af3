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

}  // namespace terbin
