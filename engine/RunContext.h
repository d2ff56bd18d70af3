// What a backup job reads of the application, which lies above the engine:
// the application-wide run flag, the date stamps of the current batch and the
// two folders the hosting program fills in. The application object is a run
// context (it derives from this class); a test may give jobs one of its own.
//
// Threads: running jobs read runAllowed without a lock. The texts are written
// only while no job exists to read them.
#pragma once

#include <atomic>

#include "foundation/TBString.h"
#include "foundation/TBStringArray.h"

class RunContext {
public:
    RunContext() = default;
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;
    virtual ~RunContext();

    // The top-level targets of every set the application knows: folders of
    // backups, which a run never backs up. None unless the context knows sets.
    virtual terbin::TBStringArray topLevelTargets() const;

    // The context of jobs made without one: the last installed (null
    // removes it). Called while only one thread runs.
    static void install(RunContext* context);
    // The installed context; with none installed, making a job without a
    // context is a programming error: it throws TBIllegalStateException.
    static RunContext& installed();
    static bool isInstalled(const RunContext* context);

    // False at construction; true when a batch begins; false after stop all.
    // While false every job's runnable() is false.
    std::atomic<bool> runAllowed{false};
    // Local date ("%Y%m%d") and date-time ("%Y%m%d-%H%M%S") at the start of
    // the current batch: the names of the dated backup subfolders.
    terbin::TBString backupDate;
    terbin::TBString backupDateTime;
    // Folder put below a set's target when its backupAddComputerFolder is
    // set; filled by the host.
    terbin::TBString computerFolderName;
    // Target of a set whose targetFolder is empty; filled by the host.
    terbin::TBString defaultTargetFolder;
};
