#include "engine/BackupJob.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFileInfo;
using terbin::TBFilteredFolder;
using terbin::TBString;
using terbin::TBStringArray;

void BackupJob::expandWildcards(const TBString& pattern, TBStringArray& result) {
    const int wildcard = pattern.firstOf(L"*?[");
    if (wildcard < 0) {
        if (TBFileInfo::isFolder(pattern)) result.add(pattern);
        return;
    }
    const TBString prefix = pattern.left(wildcard);
    TBString folder = L".";
    TBString base;
    const int lastSeparator = prefix.firstOf(L"/\\") < 0 ? -1
                                                         : std::max(prefix.last(L'/'),
                                                                    prefix.last(L'\\'));
    if (lastSeparator >= 0) {
        folder = terbin::tb_file_dirname(prefix);
        base = prefix.left(lastSeparator + 1);
    }

    const int slash = pattern.first(L'/', wildcard);
    const int backslash = pattern.first(L'\\', wildcard);
    int end = -1;
    if (slash >= 0 && backslash >= 0) {
        end = std::min(slash, backslash);
    } else {
        end = std::max(slash, backslash);
    }
    TBString component;
    TBString rest;
    if (end < 0) {
        component = terbin::tb_file_basename(pattern);
    } else {
        component = terbin::tb_file_basename(pattern.left(end));
        rest = pattern.mid(end);
    }

    TBFilteredFolder listing(folder, component);
    TBFileInfo info;
    while (listing.read(info) == 0) {
        const TBString& name = info.getName();
        if (name == L"." || name == L"..") continue;
        const TBString candidate = base + name;
        if (rest.isEmpty()) {
            if (TBFileInfo::isFolder(candidate)) result.add(candidate);
        } else {
            expandWildcards(candidate + rest, result);
        }
    }
}
