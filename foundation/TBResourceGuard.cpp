#include "foundation/TBResourceGuard.h"

namespace terbin {

namespace {

std::recursive_mutex& resourceLookup() {
    static std::recursive_mutex lookup;
    return lookup;
}

}  // namespace

TBResourceGuard::TBResourceGuard() : hold_(resourceLookup()) {}

TBResourceGuard::~TBResourceGuard() = default;

}  // namespace terbin
