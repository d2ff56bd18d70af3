#include <cstdint>
#include <vector>

#include "engine/BackupJob.h"
#include "engine/TargetLister.h"
#include "foundation/TBFile.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

// A backupType outside the three known schemes is treated as NoSubfolder
// throughout: no dated subfolder and no pruning, so the backup's own folders
// are never taken for dated subfolders.
int32_t effectiveType(int32_t type) {
    return (type == DateSubfolder || type == DateTimeSubfolder) ? type : NoSubfolder;
}

bool allDigits(const TBString& s, int from, int count) {
    for (int i = from; i < from + count; ++i) {
        if (s[i] < L'0' || s[i] > L'9') return false;
    }
    return true;
}

// Pruning removes only folders named like dated backups ("YYYYMMDD" or
// "YYYYMMDD-HHMMSS"): a target folder shared with anything else must never
// lose that.
bool isDatedFolderName(const TBString& name) {
    if (name.length() == 8) return allDigits(name, 0, 8);
    if (name.length() == 15) return allDigits(name, 0, 8) && name[8] == L'-' && allDigits(name, 9, 6);
    return false;
}

const char* yesNo(int32_t flag) { return flag != 0 ? "true" : "false"; }

}  // namespace

uint32_t BackupJob::run() {
    BackupSet& set = *backupSet;
    if (!runnable()) {
        set.status = Cancelled;
        return 0;
    }
    set.initstats();
    set.status = Running;

    const int32_t type = effectiveType(set.backupType);
    // A negative count would empty the whole target; it keeps everything.
    const int32_t keep = set.backupFolderCount > 0 ? set.backupFolderCount : 0;

    const bool haveTarget =
        !set.targetFolder.isEmpty() || !context.defaultTargetFolder.isEmpty();
    const TBString topLevel = topLevelTarget(set);
    TBString finalTarget = topLevel;
    TBString logName = L"backup-" + set.backupName;
    if (type == DateSubfolder) {
        finalTarget = TBFilename::concatPaths(topLevel, context.backupDate);
        logName += L"-" + context.backupDate;
    } else if (type == DateTimeSubfolder) {
        finalTarget = TBFilename::concatPaths(topLevel, context.backupDateTime);
        logName += L"-" + context.backupDateTime;
    }
    logName += L".log";
    set.logFilePath = TBFilename::concatPaths(topLevel, logName);

    if (haveTarget) TBFolder::create(finalTarget, true);

    if (set.backupCreateLog != 0 && haveTarget) {
        log.setHandler(L"file:" + set.logFilePath + L";10000000;2");
        log.application(L"Ulvaren");
        if (terbin::TBLogMessageHandler* handler = log.getHandler()) handler->level(15);
    } else {
        log.removeAllHandlers();
    }

    log.info("backup set %s started", set.backupName.narrow().c_str());
    log.info("  top level backup target = %s", topLevel.narrow().c_str());
    log.info("  backup type %d (%s)", set.backupType, set.backupTypeName().narrow().c_str());
    log.info("  final backup target = %s", finalTarget.narrow().c_str());
    if (keep != 0 && type != NoSubfolder) {
        log.info("  maximum backup subfolders = %d", set.backupFolderCount);
    }
    log.info("  full path creation = %s", yesNo(set.backupFullPath));
    for (const TBString& source : set.sourceFolders) {
        log.info("  source folder = %s", source.narrow().c_str());
    }
    for (const TBString& pattern : set.excludeFiles) {
        log.info("  exclude file = %s", pattern.narrow().c_str());
    }
    for (const TBString& pattern : set.excludeFolders) {
        log.info("  exclude folder = %s", pattern.narrow().c_str());
    }

    if (!haveTarget) {
        // Without any target the copy would land in whatever the current
        // folder happens to be; refuse instead.
        log.error("no backup target folder is set");
        set.addFailedFolder(topLevel);
        set.status = Failed;
    }

    if (set.preBackupEnabled != 0 && set.status == Running) {
        if (runScript(true) != 0) {
            log.info("  pre-backup script failed");
            set.status = Failed;
        } else {
            log.info("  pre-backup script succeeded");
            set.status = Running;
        }
    }

    // The folders of this run are never walked into when they lie inside a source.
    ownTargets_.clear();
    const TBString base = set.targetFolder.isEmpty() ? context.defaultTargetFolder : set.targetFolder;
    for (const TBString& own : {base, topLevel, finalTarget}) {
        const TBFileInfo info(own);
        if (info.isDirectory()) ownTargets_.push_back({info.getDevice(), info.getInode()});
    }

    if (runnable() && set.status == Running &&
        keep != 0 && type != NoSubfolder) {
        pruneBackupFolders(topLevel, finalTarget, keep);
    }

    for (int i = 0; runnable() && set.status == Running && i < set.sourceFolders.size(); ++i) {
        TBStringArray expanded;
        expandWildcards(set.sourceFolders[i], expanded);
        if (!runnable()) break;
        for (const TBString& folder : expanded) {
            if (!runnable()) break;
            const TBString source = TBFilename::fix(folder, TBFilename::SlashPath);
            copySource(source, destinationFor(source, finalTarget));
        }
    }

    if (!runnable()) {
        set.status = Cancelled;
    } else if (set.status == Running) {
        const bool anyFailed = [&] {
            set.lock(-1);
            const bool failed = !set.failedFiles.isEmpty() || !set.failedFolders.isEmpty();
            set.unlock();
            return failed;
        }();
        set.status = anyFailed ? Failed : Complete;
    }

    if (runnable() && set.postBackupEnabled != 0) {
        const int32_t before = set.status;
        if (runScript(false) != 0) {
            log.info("  post-backup script FAILED");
            set.status = Failed;
        } else {
            log.info("  post-backup script SUCCEEDED");
            set.status = before;
        }
    }

    logSummary();
    return 0;
}

TBString BackupJob::topLevelTarget(const BackupSet& set, const RunContext& runContext) {
    TBString topLevel = set.targetFolder.isEmpty() ? runContext.defaultTargetFolder : set.targetFolder;
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

    log.info(pre ? "  executing pre-backup script" : "  executing post-backup script");
    log.info("    program           = %s", program.narrow().c_str());
    log.info("    args              = %s", args.narrow().c_str());
    log.info("    waitForCompletion = %d", wait);
    log.info("    waitTimeout\t      = %d", bounded);
    log.info("    waitTimeoutMS     = %d", timeoutMs);
    backupSet->status = pre ? RunningPreScript : RunningPostScript;
    // The time-out widens with its sign; all bits set means no limit.
    const uint64_t limit =
        bounded != 0 ? static_cast<uint64_t>(static_cast<int64_t>(timeoutMs)) : UINT64_MAX;
    return executeScript(program, args, wait, limit, ignore);
}

TBString BackupJob::destinationFor(const TBString& source, const TBString& finalTarget) const {
    if (backupSet->backupFullPath == 0) return finalTarget;
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

void BackupJob::copySource(const TBString& source, const TBString& destination) {
    folderPath_.clear();
    const TBFileInfo root(source);
    folderPath_.push_back({root.getDevice(), root.getInode()});
    copyFolder(source, destination);
    folderPath_.clear();
    // Listings asked for but never entered (after a stop, say) are of no use
    // to the next source.
    if (targetLister_) targetLister_->reset();
}

void BackupJob::pruneBackupFolders(const TBString& topLevel, const TBString& finalTarget,
                                   int32_t keep) {
    TBFolder listing(topLevel);
    if (!listing.isOpen()) return;
    std::vector<TBFileInfo> dated;
    TBFileInfo info;
    while (listing.read(info) == 0) {
        const TBString& name = info.getName();
        if (name == L"." || name == L"..") continue;
        if (!info.isDirectory() || info.isSymbolicLink() || !isDatedFolderName(name)) continue;
        dated.push_back(info);
    }
    const TBString current = TBFilename::basename(finalTarget);
    while (static_cast<int32_t>(dated.size()) > keep) {
        // Oldest by creation time; among equal times the first listed. The
        // folder of this very run is never the one to go.
        size_t oldest = dated.size();
        for (size_t i = 0; i < dated.size(); ++i) {
            if (dated[i].getName() == current) continue;
            if (oldest == dated.size() ||
                dated[i].getCreateTime() < dated[oldest].getCreateTime()) {
                oldest = i;
            }
        }
        if (oldest == dated.size()) break;
        const TBString& name = dated[oldest].getName();
        const TBString path = TBFilename::concatPaths(topLevel, name);
        log.info(" removing old backup subfolder %s", path.narrow().c_str());
        removeFolder(path, true);
        TBFile::remove(TBFilename::concatPaths(
            topLevel, L"backup-" + backupSet->backupName + L"-" + name + L".log"));
        dated.erase(dated.begin() + static_cast<std::ptrdiff_t>(oldest));
    }
}

void BackupJob::logSummary() {
    BackupSet& set = *backupSet;
    log.info("backup set %s ended - %s", set.backupName.narrow().c_str(),
             set.getStatusString().narrow().c_str());
    const int32_t status = set.status;
    if (status == Ready || status == NotStarted) return;
    set.lock(-1);
    const TBStringArray failedFolders = set.failedFolders;
    const TBStringArray failedFiles = set.failedFiles;
    set.unlock();
    log.info("  %d folder(s) scanned", set.foldersScanned.load());
    log.info("  %d folder(s) skipped", set.foldersSkipped.load());
    log.info("  %d folder(s) failed", failedFolders.size());
    for (const TBString& path : failedFolders) log.info("    %s", path.narrow().c_str());
    log.info("  %d file(s) %llk copied", set.filesCopied.load(),
             static_cast<long long>(set.bytesCopied.load()));
    log.info("  %d file(s) unchanged", set.filesUnchanged.load());
    log.info("  %d file(s) skipped", set.filesSkipped.load());
    log.info("  %d file(s) failed", failedFiles.size());
    for (const TBString& path : failedFiles) log.info("    %s", path.narrow().c_str());
}
