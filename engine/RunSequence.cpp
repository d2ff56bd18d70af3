#include <cstdint>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBLockableObject.h"
#include "foundation/TBProcess.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBProcess;
using terbin::TBReadLock;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

// A backupType outside the three known schemes is treated as NoSubfolder
// throughout: no dated subfolder and no pruning, so the backup's own folders
// are never taken for dated subfolders.
int32_t effectiveType(int32_t type) {
    return (type == DateSubfolder || type == DateTimeSubfolder) ? type : NoSubfolder;
}

}  // namespace

uint32_t BackupJob::run() {
    BackupSet& set = *backupSet;
    if (!runnable()) {
        set.status = Cancelled;
        return 0;
    }
    set.initstats();
    set.status = Running;
    wroteFolders_ = false;

    if (!BackupSet::isPlainName(set.backupName)) {
        // The name becomes a folder and file names; one that is not a plain
        // name could put them anywhere. Nothing is written, not even a log.
        log.removeAllHandlers();
        set.addFailedFolder(topLevelTarget(set));
        set.status = Failed;
        return 0;
    }

    const int32_t type = effectiveType(set.backupType);
    // A negative count would empty the whole target; it keeps everything.
    const int32_t keep = set.backupFolderCount > 0 ? set.backupFolderCount : 0;

    const bool haveTarget = !set.targetFolder.isEmpty() || !context.defaultTargetFolder.isEmpty();
    const TBString topLevel = topLevelTarget(set);
    TBString finalTarget = topLevel;
    if (type == NoSubfolder) {
        set.logFilePath = TBFilename::concatPaths(topLevel, RunLog::fileName(set.backupName));
    } else {
        const TBString& dated = type == DateSubfolder ? context.backupDate : context.backupDateTime;
        finalTarget = TBFilename::concatPaths(topLevel, dated);
        set.logFilePath =
            TBFilename::concatPaths(topLevel, RunLog::fileName(set.backupName, dated));
    }

    if (haveTarget)
        TBFolder::create(finalTarget, true);

    if (set.backupCreateLog != 0 && haveTarget) {
        RunLog::writeTo(log, set.logFilePath);
    } else {
        log.removeAllHandlers();
    }

    RunLog::started(log, set, topLevel, finalTarget, keep != 0 && type != NoSubfolder);

    if (!haveTarget) {
        // Without any target the copy would land in whatever the current
        // folder happens to be; refuse instead.
        RunLog::noTarget(log);
        set.addFailedFolder(topLevel);
        set.status = Failed;
    }

    if (set.preBackupEnabled != 0 && set.status == Running) {
        if (runScript(true) != 0) {
            RunLog::scriptEnded(log, true, false);
            set.status = Failed;
        } else {
            RunLog::scriptEnded(log, true, true);
            set.status = Running;
        }
    }

    // Backups are never backed up: the folders that hold the backups of
    // every set, this one's included, are skipped where a source holds them.
    ownTargets_.clear();
    TBStringArray backups = context.topLevelTargets();
    backups.add(topLevel);
    backups.add(finalTarget);
    for (const TBString& own : backups) {
        const TBFileInfo info(own);
        if (info.isDirectory())
            ownTargets_.push_back({info.getDevice(), info.getInode()});
    }

    // Every source entry is looked at before pruning, which only runs when
    // at least one source folder is there: a gone drive never costs a backup.
    // A folder the set names plainly must be there; a pattern may match
    // nothing. Matched names are used as found, never read as paths again.
    TBStringArray sources;
    for (int i = 0; runnable() && set.status == Running && i < set.sourceFolders.size(); ++i) {
        const TBString& entry = set.sourceFolders[i];
        if (hasWildcards(entry)) {
            expandWildcards(entry, sources);
            continue;
        }
        const TBFileInfo root(entry);
        if (!root.isDirectory() || (root.isSymbolicLink() && set.backupFollowSymLinks == 0)) {
            RunLog::folderUnreadable(log, entry);
            set.addFailedFolder(entry);
        } else {
            sources.add(entry);
        }
    }

    if (runnable() && set.status == Running && keep != 0 && type != NoSubfolder &&
        !sources.isEmpty()) {
        pruneBackupFolders(topLevel, finalTarget, keep);
    }

    for (const TBString& source : sources) {
        if (!runnable() || set.status != Running)
            break;
        copyFolder(source, destinationFor(source, finalTarget));
    }

    // Complete means on the disk: what this run wrote reaches the target's
    // storage before the run says how it ended, even when it was stopped.
    if (haveTarget && (set.filesCopied > 0 || wroteFolders_)) {
        const TBFolder written(finalTarget);
        if (const uint32_t flushed = written.flushFileSystem(); flushed != 0) {
            RunLog::flushFailed(log, finalTarget, flushed);
            set.addFailedFolder(finalTarget);
        }
    }

    if (!runnable()) {
        set.status = Cancelled;
    } else if (set.status == Running) {
        const bool anyFailed = [&] {
            const TBReadLock hold(set);
            return !set.failedFiles.isEmpty() || !set.failedFolders.isEmpty();
        }();
        set.status = anyFailed ? Failed : Complete;
    }

    if (runnable() && set.postBackupEnabled != 0) {
        const int32_t before = set.status;
        if (runScript(false) != 0) {
            RunLog::scriptEnded(log, false, false);
            // A stop during the script cancels the run as one before it does.
            set.status = runnable() ? Failed : Cancelled;
        } else {
            RunLog::scriptEnded(log, false, true);
            set.status = before;
        }
    }

    logSummary();
    return 0;
}

TBString BackupJob::topLevelTarget(const BackupSet& set, const RunContext& runContext) {
    TBString topLevel =
        set.targetFolder.isEmpty() ? runContext.defaultTargetFolder : set.targetFolder;
    if (set.backupAddComputerFolder != 0) {
        topLevel = TBFilename::concatPaths(topLevel, runContext.computerFolderName);
    }
    if (set.backupAddBackupSetFolder != 0) {
        topLevel = TBFilename::concatPaths(topLevel, set.backupName);
    }
    return topLevel;
}

uint32_t BackupJob::runScript(bool pre) {
    BackupSet& set = *backupSet;
    const TBString& program = pre ? set.preBackupProgram : set.postBackupProgram;
    const TBString& args = pre ? set.preBackupArgs : set.postBackupArgs;
    const int32_t wait = pre ? set.preBackupWaitForCompletion : set.postBackupWaitForCompletion;
    const int32_t bounded = pre ? set.preBackupTimeout : set.postBackupTimeout;
    const int32_t timeoutMs = pre ? set.preBackupTimeoutMS : set.postBackupTimeoutMS;
    const int32_t ignore = pre ? set.preBackupIgnoreStatus : set.postBackupIgnoreStatus;

    RunLog::scriptStarting(log, pre, program, args, wait, bounded, timeoutMs);
    backupSet->status = pre ? RunningPreScript : RunningPostScript;
    // The time-out widens with its sign; all bits set means no limit.
    const uint64_t limit =
        bounded != 0 ? static_cast<uint64_t>(static_cast<int64_t>(timeoutMs)) : UINT64_MAX;
    const uint32_t result = executeScript(program, args, wait, limit, ignore);
    if (result == TBProcess::TB_CANCELLED)
        RunLog::scriptStopped(log, pre);
    return result;
}

TBString BackupJob::destinationFor(const TBString& source, const TBString& finalTarget) const {
    if (backupSet->backupFullPath == 0)
        return finalTarget;
    if (source.length() > 2 && source[1] == L':') {
        const TBString drive = TBFilename::concatPaths(finalTarget, source.left(1));
        return TBFilename::concatPaths(drive, source.mid(2));
    }
    // Without a drive letter the source's absolute path, less its leading
    // separators, is reproduced below the final target.
    TBString absolute = TBFilename::absolute(source);
    int start = 0;
    while (start < absolute.length() && absolute[start] == L'/') ++start;
    return TBFilename::concatPaths(finalTarget, absolute.mid(start));
}

void BackupJob::logSummary() {
    const BackupSet& set = *backupSet;
    RunLog::ended(log, set);
    const int32_t status = set.status;
    if (status == Ready || status == NotStarted)
        return;
    TBStringArray failedFolders;
    TBStringArray failedFiles;
    {
        const TBReadLock hold(set);
        failedFolders = set.failedFolders;
        failedFiles = set.failedFiles;
    }
    RunLog::figures(log, set, failedFolders, failedFiles);
}
