// Operations on the calling thread.
#pragma once

#include <cstdint>

namespace terbin {

class TBThread {
public:
    // Suspends the calling thread for at least `milliseconds`; a value of 0 or
    // less only gives other threads a chance to run.
    static void sleep(int64_t milliseconds);
};

}  // namespace terbin
