// The application object; one global instance, theBaseApp. It holds the run
// context that every backup job reads: the application-wide run flag, the
// date stamps of the current batch, the computer folder name and the default
// target folder.
#pragma once

#include <atomic>

#include "foundation/TBString.h"

class ULVbase {
public:
    ULVbase() = default;
    virtual ~ULVbase() = default;
    ULVbase(const ULVbase&) = delete;
    ULVbase& operator=(const ULVbase&) = delete;

    // False at construction; true when a batch begins; false after stop all.
    // While false every job's runnable() is false.
    std::atomic<bool> runAllowed{false};
    // Local date ("%Y%m%d") and date-time ("%Y%m%d-%H%M%S") at the start of
    // the current batch: the names of the dated backup subfolders.
    terbin::TBString backupDate;
    terbin::TBString backupDateTime;
    // Folder put below a set's target when its backupAddComputerFolder is set;
    // filled by the host.
    terbin::TBString computerFolderName;
    // Target of a set whose targetFolder is empty; filled by the host.
    terbin::TBString defaultTargetFolder;
};

extern ULVbase theBaseApp;
