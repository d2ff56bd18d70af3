// Source folders of a backup set.
#include "backupset/BackupSet.h"
#include "backupset/BackupSetConfiguration.h"

#include "foundation/TBFileInfo.h"

using terbin::TBFileInfo;
using terbin::TBString;

bool BackupSet::containsSourceFolder(const TBString& path) const {
    for (const TBString& folder : sourceFolders) {
        if (folder.equalsNoCase(path))
            return true;
    }
    return false;
}

void BackupSet::addSourceFolder(const TBString& path, bool force) {
    const TBString fixed = BackupSetConfiguration::installed().fix(path);
    if (!force && !TBFileInfo::isFolder(fixed))
        return;
    if (containsSourceFolder(fixed))
        return;
    sourceFolders.add(fixed);
}
