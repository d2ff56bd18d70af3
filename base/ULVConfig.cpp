#include "base/ULVConfig.h"

#include "foundation/TBFilename.h"

using terbin::TBFilename;
using terbin::TBString;

TBString ULVConfig::fix(const TBString& path) const {
    const TBString clean = TBFilename::fix(path, TBFilename::SlashPath);
    if (path.startsWith(L"//") || path.startsWith(L"\\\\")) return L"/" + clean;
    return clean;
}
