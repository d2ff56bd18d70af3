// Ordered array of strings, kept in insertion order.
#pragma once

#include "foundation/TBArray.h"
#include "foundation/TBString.h"

namespace terbin {

using TBStringArray = TBArray<TBString>;

}  // namespace terbin
