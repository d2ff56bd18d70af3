#include <chrono>
#include <cstdint>
#include <optional>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "foundation/TBFileLock.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBLockableObject.h"
#include "foundation/TBProcess.h"
#include "foundation/TBResult.h"

using terbin::TB_LOCK_HELD;
using terbin::TB_PATH_NOT_FOUND;
using terbin::TBFileInfo;
using terbin::TBFileLock;
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
    // Only one process runs a set at a time, and one that cannot tell
    // whether another does, does not run it either. The lock comes before
    // anything of the set is touched: a job of this very process may be
    // running it.
    TBFileLock lock;
    const uint32_t locked = takeRunLock(lock);
    const int32_t before = set.status;
    if (locked == TB_LOCK_HELD &&
        (before == Running || before == RunningPreScript || before == RunningPostScript)) {
        log.removeAllHandlers();
        return 0;
    }
    set.initstats();
    set.status = Running;
    set.logFilePath = TBString();
    wroteFolders_ = false;
    datedFolder_ = BackupFolderRecord();
    targetRoot_ = TBString();
    LastRunRecord outcome;
    outcome.started = nowSeconds();

    if (locked != 0) {
        log.removeAllHandlers();
        const TBString path = BackupSet::runLockPath(set.registryKeyName);
        if (locked == TB_LOCK_HELD) {
            // The set's log and records belong to the run that holds it.
            const pid_t holder = lock.holder();
            fail(holder > 0 ? L"it is being run by process " + TBString::valueOf(holder)
                            : TBString(L"it is being run by another process"));
            return 0;
        }
        fail(L"its run lock " + path + L" cannot be taken - error=" + TBString::valueOf(locked));
    } else {
        runSteps();
    }
    finishRecords(outcome);
    return 0;
}

void BackupJob::runSteps() {
    BackupSet& set = *backupSet;
    if (!BackupSet::isPlainName(set.backupName)) {
        // The name becomes a folder and file names; one that is not a plain
        // name could put them anywhere. Nothing is written, not even a log.
        log.removeAllHandlers();
        set.addFailedFolder(topLevelTarget(set));
        fail(L"its name cannot be a folder name");
        return;
    }

    const int32_t type = effectiveType(set.backupType);
    // A negative count would empty the whole target; it keeps everything.
    const int32_t keep = set.backupFolderCount > 0 ? set.backupFolderCount : 0;

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

    // Nothing is written before the target is known to be the one of the
    // set: neither the folders below it nor the log.
    if (!checkTarget()) {
        log.removeAllHandlers();
        set.logFilePath = TBString();
        set.addFailedFolder(topLevel);
        set.status = Failed;
        return;
    }

    // A dated folder that was there before and that no run recorded is not
    // one this set may ever prune, though this run writes into it.
    const bool madeNow = !TBFileInfo(finalTarget).isDirectory();
    TBFolder::create(finalTarget, true);
    if (set.backupCreateLog != 0) {
        RunLog::writeTo(log, set.logFilePath);
    } else {
        log.removeAllHandlers();
        set.logFilePath = TBString();
    }
    RunLog::started(log, set, topLevel, finalTarget, keep != 0 && type != NoSubfolder);
    if (type != NoSubfolder)
        recordBackupFolder(topLevel, finalTarget, madeNow);

    if (set.preBackupEnabled != 0) {
        if (runScript(true) != 0) {
            RunLog::scriptEnded(log, true, false);
            set.status = Failed;
            fail(L"the pre-backup script failed");
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
        pruneBackupFolders(topLevel, sources, keep);
    }

    for (const TBString& source : sources) {
        if (!runnable() || set.status != Running)
            break;
        copyFolder(source, destinationFor(source, finalTarget));
    }

    // Complete means on the disk: what this run wrote reaches the target's
    // storage before the run says how it ended, even when it was stopped.
    if (set.filesCopied > 0 || wroteFolders_) {
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
            set.setFailureReason(L"the post-backup script failed");
        } else {
            RunLog::scriptEnded(log, false, true);
            set.status = before;
        }
    }

    logSummary();
}

uint32_t BackupJob::takeRunLock(TBFileLock& lock) {
    const BackupSet& set = *backupSet;
    // A set that was never saved cannot be met by another process.
    if (set.registryKeyName.isEmpty())
        return 0;
    const TBString path = BackupSet::runLockPath(set.registryKeyName);
    return path.isEmpty() ? TB_PATH_NOT_FOUND : lock.acquire(path);
}

bool BackupJob::checkTarget() {
    BackupSet& set = *backupSet;
    const bool own = !set.targetFolder.isEmpty();
    const TBString& root = own ? set.targetFolder : context.defaultTargetFolder;
    if (root.isEmpty()) {
        // Without any target the copy would land in whatever the current
        // folder happens to be; refuse instead.
        fail(L"it has no target folder");
        return false;
    }
    // The default target belongs to the application and is made on first
    // use. A set's own target is never made by a run: a missing one is most
    // likely a drive that is not plugged in, and a backup made in its place
    // would fill the system disk.
    if (!own)
        TBFolder::create(root, true);
    const TBFolder target(root);
    if (!target.isOpen()) {
        const uint32_t error = target.getError();
        fail(error == terbin::TB_FILE_NOT_FOUND
                 ? L"its target folder " + root + L" is not there"
                 : L"its target folder " + root + L" cannot be opened - error=" +
                       TBString::valueOf(error));
        return false;
    }
    targetVolume_ = {target.getDevice(), target.fileSystemId()};
    targetRoot_ = root;
    const std::optional<TargetRecord> last = RunRecords(set).target();
    if (last && last->folder == root && !last->volume.sameVolumeAs(targetVolume_)) {
        // The folder is there but on another drive than at the last complete
        // run: most likely the empty mount point of an unplugged drive.
        fail(L"its target folder " + root + L" is not on the drive of its last complete run");
        return false;
    }
    return true;
}

void BackupJob::recordBackupFolder(const TBString& topLevel, const TBString& finalTarget,
                                   bool made) {
    const RunRecords records(*backupSet);
    const TBFolder folder(finalTarget, TBFileInfo::Fields::ChangeTest);
    if (!folder.isOpen())
        return;
    BackupFolderRecord record;
    record.topLevel = topLevel;
    record.name = TBFilename::basename(finalTarget);
    record.volume = {folder.getDevice(), folder.fileSystemId()};
    record.inode = folder.getInode();
    record.status = Running;
    record.started = nowSeconds();
    // A second run into the same dated folder (one a day) takes over its
    // record.
    for (const BackupFolderRecord& known : records.backupFolders()) {
        if (known.topLevel == topLevel && known.name == record.name &&
            known.inode == record.inode && known.volume.sameVolumeAs(record.volume)) {
            record.id = known.id;
            if (records.updateBackupFolder(record) == 0)
                datedFolder_ = record;
            return;
        }
    }
    // Another set sharing the target made it today: this set's backup is in
    // it too. One that nobody's run made is someone's folder.
    if (!made && !RunRecords::recordedByAnotherSet(backupSet->registryKeyName, record))
        return;
    if (records.addBackupFolder(record) == 0)
        datedFolder_ = record;
}

void BackupJob::finishRecords(LastRunRecord& outcome) {
    BackupSet& set = *backupSet;
    const RunRecords records(set);
    if (!datedFolder_.id.isEmpty()) {
        datedFolder_.status = set.status;
        records.updateBackupFolder(datedFolder_);
    }
    if (set.status == Complete && !targetRoot_.isEmpty())
        records.saveTarget({targetRoot_, targetVolume_});

    outcome.status = set.status;
    outcome.ended = nowSeconds();
    outcome.foldersScanned = set.foldersScanned;
    outcome.filesCopied = set.filesCopied;
    outcome.filesUnchanged = set.filesUnchanged;
    outcome.filesSkipped = set.filesSkipped;
    outcome.bytesCopied = set.bytesCopied;
    {
        const TBReadLock hold(set);
        outcome.filesFailed = set.failedFiles.size();
        outcome.foldersFailed = set.failedFolders.size();
    }
    // Without an earlier reason, the reason is what the run ended with.
    if (set.status == Cancelled) {
        set.setFailureReason(L"it was stopped");
    } else if (set.status != Complete && outcome.filesFailed + outcome.foldersFailed > 0) {
        set.setFailureReason(TBString::valueOf(outcome.foldersFailed) + L" folder(s) and " +
                             TBString::valueOf(outcome.filesFailed) + L" file(s) failed");
    }
    outcome.reason = set.getFailureReason();
    outcome.logFile = set.logFilePath;
    records.saveLastRun(outcome);
}

void BackupJob::fail(const TBString& reason) {
    backupSet->setFailureReason(reason);
    backupSet->status = Failed;
}

int64_t BackupJob::nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
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
