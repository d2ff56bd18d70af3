// Pruning: removal of the oldest dated backup subfolders of a set beyond the
// number it keeps, each with its log file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBThread.h"

using terbin::tb_file_isDotEntry;
using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;
using terbin::TBThread;

void BackupJob::pruneBackupFolders(const TBString& topLevel, const TBString& finalTarget,
                                   int32_t keep) {
    TBFolder listing(topLevel);
    if (!listing.isOpen())
        return;
    // Only folders named like dated backups are counted: a target folder
    // shared with anything else must never lose that.
    std::vector<TBFileInfo> dated;
    TBFileInfo info;
    while (listing.read(info) == 0) {
        const TBString& name = info.getName();
        if (tb_file_isDotEntry(name))
            continue;
        if (!info.isDirectory() || info.isSymbolicLink() || !RunLog::isDatedFolderName(name)) {
            continue;
        }
        dated.push_back(info);
    }
    const TBString current = TBFilename::basename(finalTarget);
    while (static_cast<int32_t>(dated.size()) > keep) {
        // Oldest by creation time; among equal times the first listed. The
        // folder of this very run is never the one to go.
        size_t oldest = dated.size();
        for (size_t i = 0; i < dated.size(); ++i) {
            if (dated[i].getName() == current)
                continue;
            if (oldest == dated.size() ||
                dated[i].getCreateTime() < dated[oldest].getCreateTime()) {
                oldest = i;
            }
        }
        if (oldest == dated.size())
            break;
        const TBString& name = dated[oldest].getName();
        const TBString path = TBFilename::concatPaths(topLevel, name);
        RunLog::removingOldSubfolder(log, path);
        removeFolder(path, true);
        TBFile::remove(
            TBFilename::concatPaths(topLevel, RunLog::fileName(backupSet->backupName, name)));
        dated.erase(dated.begin() + static_cast<std::ptrdiff_t>(oldest));
    }
}

uint32_t BackupJob::removeFolder(const TBString& folder, bool recurse) {
    backupSet->setState(RemovingFolder, folder, TBString(), 0, 0);
    if (!recurse)
        return TBFolder::remove(folder);

    // A link is removed as a link: nothing it points to is ever deleted.
    if (TBFileInfo(folder).isSymbolicLink())
        return TBFile::remove(folder);

    uint32_t firstError = 0;
    {
        TBFolder listing(folder);
        TBFileInfo info;
        while (runnable()) {
            if (listing.read(info) != 0)
                break;
            while (runnable() && backupSet->pauseRequested.load()) TBThread::sleep(100);
            if (!runnable())
                break;
            const TBString& name = info.getName();
            if (tb_file_isDotEntry(name))
                continue;
            // The entry's path is not run through the path clean-up: a name
            // may hold a backslash here, which the clean-up would turn into a
            // separator.
            const TBString path = TBFilename::concatPaths(folder, name, TBFilename::NativePath);
            uint32_t removed;
            if (info.isDirectory() && !info.isSymbolicLink()) {
                removed = removeFolder(path, true);
            } else {
                backupSet->setState(RemovingFile, folder, TBString(), 0, 0);
                removed = TBFile::remove(path);
            }
            if (removed != 0 && firstError == 0)
                firstError = removed;
        }
    }
    const uint32_t own = TBFolder::remove(folder);
    return own != 0 ? own : firstError;
}
