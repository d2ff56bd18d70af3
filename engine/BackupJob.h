// One complete backup of one BackupSet, run once on a worker thread of the
// application's pool, which owns the job and destroys it afterwards. The job
// points to its set without owning it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "backupset/BackupSet.h"
#include "backupset/RunRecords.h"
#include "engine/RunContext.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFileLock.h"
#include "foundation/TBFolder.h"
#include "foundation/TBList.h"
#include "foundation/TBLog.h"
#include "foundation/TBThreadPool.h"

struct FolderStep;

class BackupJob : public terbin::TBJob {
public:
    static constexpr int32_t CopyBufferSize = 65536;

    // A job of `set` that reads `context` (the installed run context when
    // none is given); both outlive the job.
    explicit BackupJob(BackupSet* set);
    BackupJob(BackupSet* set, RunContext& context);
    ~BackupJob() override;
    BackupJob(const BackupJob&) = delete;
    BackupJob& operator=(const BackupJob&) = delete;

    // Performs the whole backup of the set; the outcome is the set's status.
    // Always returns 0.
    uint32_t run() override;

    // True while the context's runAllowed is set and the set's
    // stopRequested is not. Read afresh at every call.
    bool runnable() const;
    // Writes `message` to the log at error level, unformatted.
    void error(const terbin::TBString& message);

    // Copies one source folder tree into `target`, incrementally: only files
    // that are new or differ in size or modification time are copied; nothing
    // that exists only in the target is touched. Returns the result of the
    // last file or subfolder copy made (0 if none), or the result of creating
    // the target folder when that failed.
    uint32_t copyFolder(const terbin::TBString& source, const terbin::TBString& target);
    // Lists `folder` into `folders` and `files` (both emptied first). With
    // `filter` on, excluded files and folders and unfollowed folder links are
    // skipped and counted.
    void scanFolder(const terbin::TBString& folder, terbin::TBList<terbin::TBFileInfo>& folders,
                    terbin::TBList<terbin::TBFileInfo>& files, bool filter);
    // Copies one file through the job's buffer. Returns 0 when copied or when
    // the job was stopped meanwhile, else errno of the failed open, read or
    // write. A failure appends the source to the set's failedFiles.
    uint32_t copyFile(const terbin::TBString& source, const terbin::TBString& target);
    // The same for the file `entry` that a listing of the open `sourceFolder`
    // gave, copied into the open `targetFolder` under the same name. The copy
    // is written under a temporary name and replaces an older copy only when
    // it is complete, so a failed or stopped copy leaves the older one as it
    // was. `source` and `target` are the two paths, for logs and reports.
    // A source that changes during its copy is copied once more from the
    // start; one that changes again is a failure with EBUSY.
    uint32_t copyFileAt(const terbin::TBFolder& sourceFolder, const terbin::TBFileInfo& entry,
                        const terbin::TBFolder& targetFolder, const terbin::TBString& source,
                        const terbin::TBString& target);
    // Whether `name` has the form of the temporary names copies are written
    // under (left behind only by a run that was killed).
    static bool isTemporaryName(const terbin::TBString& name);
    // 365 (0555) for a read-only file, else 511 (0777): a mode for _chmod.
    static int32_t filemode(const terbin::TBString& path);
    static int32_t filemode(const terbin::TBFileInfo& info);

    BackupSet* backupSet;
    RunContext& context;
    terbin::TBLog log;
    std::unique_ptr<unsigned char[]> copyBuffer;
    int32_t copyBufferSize;

    // Appends to `result` the existing folders that the path pattern names,
    // in depth-first listing order (unsorted); naming none is not a failure.
    // Only "/" separates components, "\" being part of a name. A component
    // holding "*", "?" or "[...]" matches the names in the folder found so far
    // as TBFilteredFolder does (letter case not counting; "." and ".." never);
    // a name found is taken literally from then on, so a folder named "*" or
    // "[2019]" is that folder. A link to a folder counts as the folder,
    // whatever the set's backupFollowSymLinks. A pattern without wildcards is
    // appended as written when it is a folder. Never empties `result`.
    void expandWildcards(const terbin::TBString& pattern, terbin::TBStringArray& result);
    // Whether a source entry holds "*", "?" or "[...]": a pattern.
    static bool hasWildcards(const terbin::TBString& entry);
    // The folder that holds a set's log files and dated backup subfolders:
    // its target (or the application's default target), then the computer
    // folder and the set's name where the set asks for them.
    static terbin::TBString topLevelTarget(const BackupSet& set, const RunContext& runContext);
    terbin::TBString topLevelTarget(const BackupSet& set) const {
        return topLevelTarget(set, context);
    }

    // Starts `program` (quoted) with `args`; with `wait` non-zero waits up to
    // `timeoutMs` (all bits set: no limit). 0 on success; else the start
    // error, the wait's error, or (unless `ignoreStatus`) the exit code. A
    // stop of the job (runnable() false) during the wait ends the script's
    // process group as a time-out does and gives TBProcess::TB_CANCELLED.
    uint32_t executeScript(const terbin::TBString& program, const terbin::TBString& args,
                           int32_t wait, uint64_t timeoutMs, int32_t ignoreStatus);
    // Removes `folder` (with everything in it when `recurse`), honouring pause
    // and stop. 0, or the error of the folder's own removal, or the first
    // error met inside when the folder itself went.
    uint32_t removeFolder(const terbin::TBString& folder, bool recurse);

    // Waits while the set is paused; false when the job may no longer run.
    // Safe from any thread.
    bool waitAndCheck() const;

    // A folder's identity.
    struct FolderId {
        uint64_t device = 0;
        uint64_t inode = 0;
    };

private:
    // Logs and counts what a source listing found besides files to compare.
    void reportListing(const FolderStep& step);
    // Creates the target folder of `step` in `parent` (a root with its
    // missing parents) and opens it as `created`; waits while the volume is
    // full. 0, or the result code of the failure (112 when stopped waiting).
    uint32_t createTargetFolder(const FolderStep& step, const terbin::TBFolder* parent,
                                std::shared_ptr<terbin::TBFolder>& created);
    // Removes the temporary files a killed run left in the step's target.
    void removeLeftovers(const FolderStep& step);
    terbin::TBString destinationFor(const terbin::TBString& source,
                                    const terbin::TBString& finalTarget) const;
    // The steps of run() between taking the set's run lock and recording
    // the outcome.
    void runSteps();
    // Takes the set's run lock (none for a set without a registry key): 0,
    // TB_LOCK_HELD when another run holds it, or why it could not be taken.
    uint32_t takeRunLock(terbin::TBFileLock& lock);
    // Whether the run may write into its target folder: the set's own one
    // must be there and on the volume of its last complete run; the default
    // target is made. False, with the set's failure reason, when not.
    bool checkTarget();
    // Records the run's dated folder `finalTarget` in `topLevel` with the
    // set, unless it was there before (`made` false) and no run recorded it.
    void recordBackupFolder(const terbin::TBString& topLevel, const terbin::TBString& finalTarget,
                            bool made);
    // Records how the run ended: its dated folder's outcome, the target's
    // volume after a complete run, and the last run.
    void finishRecords(LastRunRecord& outcome);
    // Ends the run Failed for `reason`, unless an earlier reason was given.
    void fail(const terbin::TBString& reason);
    static int64_t nowSeconds();
    // Removes the oldest of the set's recorded dated folders in `topLevel`
    // beyond `keep`, sparing the current run's folder, the newest complete
    // backup and any folder that is or holds one of `sources`.
    void pruneBackupFolders(const terbin::TBString& topLevel, const terbin::TBStringArray& sources,
                            int32_t keep);
    uint32_t runScript(bool pre);
    void logSummary();

    // The folders a source walk skips: the backups of every set.
    std::vector<FolderId> ownTargets_;
    // Whether this run made a folder (its files are counted in the set).
    bool wroteFolders_ = false;
    // The target folder the run checked, and its volume.
    terbin::TBString targetRoot_;
    VolumeIdentity targetVolume_;
    // The record of this run's dated folder (no id when there is none).
    BackupFolderRecord datedFolder_;
};
