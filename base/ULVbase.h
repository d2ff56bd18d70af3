// The application object; one global instance, theBaseApp. It owns the
// catalogue of backup sets, the pool that runs backup jobs, the date stamps
// of the current batch, the application-wide run flag and the string tables.
//
// It is the run context of every job it starts (runAllowed, the batch's
// dates, the computer folder and the default target).
//
// Threads: every operation runs on the user-interface thread except
// onJobNotification, which the pool calls on its worker thread. runAllowed,
// backupDate and backupDateTime are read by running jobs without a lock; the
// dates are rewritten only while the pool is empty.
#pragma once

#include <atomic>
#include <cstdint>

#include "backupset/BackupSet.h"
#include "base/BackupSetEditor.h"
#include "engine/RunContext.h"
#include "foundation/TBIniFile.h"
#include "foundation/TBLockableArray.h"
#include "foundation/TBLockableList.h"
#include "foundation/TBString.h"
#include "foundation/TBThreadPool.h"
#include "mfc/afxwin.h"

// Posted (both parameters 0) to the main window each time a backup job ends.
constexpr UINT WM_BACKUP_JOB_DONE = 0x8001;

class ULVbase : public CWinApp, public RunContext {
public:
    // Installs itself as the run context of jobs made without one.
    ULVbase();
    // Releases the fields; the sets themselves are deleted by ExitInstance.
    ~ULVbase() override;
    ULVbase(const ULVbase&) = delete;
    ULVbase& operator=(const ULVbase&) = delete;

    // Loads the resource library and registers the pool's notification.
    BOOL InitInstance() override;
    // The top-level targets of every set in the catalogue.
    terbin::TBStringArray topLevelTargets() const override;
    // Deletes every set of the catalogue (null entries skipped).
    int ExitInstance() override;
    // Removes the pool's notification function and stops the pool.
    void shutdown();

    // Queues a job for `set`. When the pool is empty a new batch begins: new
    // date stamps are taken and runAllowed is set.
    void startBackupSet(BackupSet* set);
    // True when busy is false and no job is queued or running.
    bool canClose();
    // The pool's notification: posts WM_BACKUP_JOB_DONE to the main window
    // for code 3 (a job has finished); other codes are ignored.
    static void onJobNotification(terbin::TBJob* job, int code);

    // Catalogue. Loads every stored set; on a first run (none stored) sets
    // firstRun and creates and saves the default sets.
    void loadBackupSets();
    // Creates a set from a definition file, makes its relative sources
    // absolute against the file's folder, appends it and saves it under the
    // smallest free key name (chosen and saved in one transaction). A file
    // that does not load, has no "backupset" element, or names the set with
    // no plain name (BackupSet::isPlainName) changes nothing.
    void addBackupSet(const terbin::TBString& path);
    // Adds `path` to `set`, or to a new set appended to the catalogue when
    // `set` is null, unless some set holds it already. Without `force` a
    // folder that cannot be listed changes nothing. Returns the set added to
    // (or `set` unchanged, or null).
    BackupSet* addBackupSourceFolder(BackupSet* set, const terbin::TBString& path, bool force);

    // String tables. Adds the INI file at `path` at the end (or, with
    // `atEnd` false, the front) of the search order; a path that is not an
    // existing file is ignored.
    void addStringTable(const terbin::TBString& path, bool atEnd);
    // The text of `key` in `section` from the first table that has it, else
    // `defaultText`.
    terbin::TBString loadString(const terbin::TBString& section, const terbin::TBString& key,
                                const terbin::TBString& defaultText);

    HINSTANCE instanceHandle = nullptr;
    HINSTANCE resourceHandle = nullptr;
    // The catalogue, in catalogue order; owns every set. Appends take its
    // write lock.
    terbin::TBLockableArray<BackupSet*> backupSets{8};
    // One worker: queued sets run one after another in the order queued.
    terbin::TBThreadPool threadPool{1};
    // The editor that creates and changes sets; installed by the host, not
    // owned. Null where the host shows no windows.
    BackupSetEditor* backupSetEditor = nullptr;
    // Set by the host; while true canClose is false.
    std::atomic<bool> busy{false};
    // Set by loadBackupSets when no set was stored.
    bool firstRun = false;
    // Index into backupSets of the selected set; -1 for none. Kept by the host.
    int32_t selectedIndex = -1;
    // Search order of the string tables; the application object owns them.
    terbin::TBLockableList<terbin::TBIniFile*> stringTables;
};

extern ULVbase theBaseApp;
