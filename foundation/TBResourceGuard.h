// Keeps a stretch of code that switches the process's resource lookup (to a
// library's own resources, say) to one thread at a time. The resource handle
// a dialog loads its template and strings from is process-wide: two threads
// each switching it would load from each other's libraries. Guards nest on
// one thread.
#pragma once

#include <mutex>

namespace terbin {

class TBResourceGuard {
public:
    TBResourceGuard();
    ~TBResourceGuard();
    TBResourceGuard(const TBResourceGuard&) = delete;
    TBResourceGuard& operator=(const TBResourceGuard&) = delete;

private:
    std::unique_lock<std::recursive_mutex> hold_;
};

}  // namespace terbin
