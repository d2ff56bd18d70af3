// The application object; one global instance, theBaseApp. It owns the
// catalogue of backup sets, the pool that runs backup jobs, the date stamps
// of the current batch, the application-wide run flag and the string tables.
//
// It is the run context of every job it starts (runAllowed, the batch's
// dates, the computer folder and the default target).
//
// Threads: every operation runs on the user-interface thread except
// onJobNotification, which the pool calls on its worker thread, and hasJob.
// runAllowed, backupDate and backupDateTime are read by running jobs without
// a lock; the dates are rewritten only while the pool is empty.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>

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
    // The pool's notification: for code 3 (a job has finished) the job stops
    // counting for its set (hasJob), then WM_BACKUP_JOB_DONE is posted to the
    // main window; other codes are ignored.
    static void onJobNotification(terbin::TBJob* job, int code);

    // Catalogue. Loads every stored set; on a first run (none stored) sets
    // firstRun and creates and saves the default sets.
    void loadBackupSets();
    // Brings the catalogue in line with the registry after another process
    // changed it; writes nothing. A set whose key still holds its identity
    // keeps its object, and unless it is held (a job of it queued or running,
    // or being edited) its settings are read again. A stored set that is not
    // in the catalogue is appended, in key order. A set whose key is gone or
    // holds another set leaves the catalogue and is deleted, unless it is
    // held: then it stays until a reload after that. A set never saved stays.
    // selectedIndex follows the selected set, -1 when it left. A registry
    // that cannot be read changes nothing. Takes the catalogue's write lock
    // for each change, so jobs reading it meanwhile see whole sets.
    void reloadBackupSets();
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

    // Commands and their update rules, called by the host for its menus and
    // toolbars (Commands.cpp). An update operation calls Enable on `cmdUI`
    // (and SetCheck for the two pause commands); a command whose rule does
    // not hold returns without any effect. "In progress" means the pool
    // holds a job, queued or running; an active set is one whose status is
    // NotStarted or Running.
    //
    // Start all: when nothing is in progress (busy is not asked), starts every
    // set not excluded from start all, in catalogue order, as one batch.
    void OnBackupStart();
    void OnUpdateBackupStart(CCmdUI& cmdUI);
    // Stop all: while a backup is in progress (busy is not asked), clears
    // runAllowed, so every queued and running job ends Cancelled.
    void OnBackupStop();
    void OnUpdateBackupStop(CCmdUI& cmdUI);
    // Starts the selected set unless it is Running; it joins a batch in progress.
    void OnStartSelected();
    void OnUpdateStartSelected(CCmdUI& cmdUI);
    // Asks the selected set to stop while it is Running (not while queued
    // or in a script: stop all reaches those).
    void OnStopSelected();
    void OnUpdateStopSelected(CCmdUI& cmdUI);
    // Inverts the pause request of the selected set while it is active.
    // The check shows its pause request.
    void OnPauseSelected();
    void OnUpdatePauseSelected(CCmdUI& cmdUI);
    // Pauses every active set when no more of them are paused than not,
    // else resumes them all. Enabled while some set is active; the check is
    // on when at least as many active sets are paused as not (so also when
    // none is active).
    void OnPauseAll();
    void OnUpdatePauseAll(CCmdUI& cmdUI);
    // Edits a new set (editBackupSet) and appends a copy of it when it was
    // saved. Enabled only on a catalogue that holds a set; the command
    // itself works on an empty one.
    void OnAddBackupSet();
    void OnUpdateAddBackupSet(CCmdUI& cmdUI);
    // Edits the selected set (editBackupSet) while holding its run lock.
    // Refused, with lastRefusal saying why, while another process runs it.
    void OnEditBackupSet();
    void OnUpdateEditBackupSet(CCmdUI& cmdUI);
    // Deletes the selected set's registry key (a set never saved has none),
    // removes it from the catalogue, deletes it and invalidates the main
    // window; selectedIndex stays, now naming the set that followed. Holds
    // the set's run lock meanwhile; refused, with lastRefusal saying why,
    // while another process runs the set.
    void OnRemoveBackupSet();
    void OnUpdateRemoveBackupSet(CCmdUI& cmdUI);
    // Opens the selected set's log: hands "notepad " and the quoted log
    // path to logViewer, or without one starts a text viewer itself.
    // Enabled when the set is not active and its log file exists.
    void OnViewLog();
    void OnUpdateViewLog(CCmdUI& cmdUI);
    // The rule of any further command that must wait until no backup runs:
    // enabled when busy is false and nothing is in progress.
    void OnUpdateDisallowWhenRunning(CCmdUI& cmdUI);

    // Lets the person edit `set` in the installed backupSetEditor (nothing
    // happens without one). The set's modified flag is cleared first; when
    // the editor sets it, the set is saved (under the smallest free key
    // name when it has none), its status becomes Ready and the main window
    // is invalidated. The editor works on a copy: a cancelled edit, a name
    // that is no plain name (BackupSet::isPlainName) or a failed first save
    // leaves `set` as it was, with modified false and lastRefusal saying why.
    // After a save the editor finishes what else the person asked for
    // (BackupSetEditor::saved); what it could not do is in lastRefusal. A set
    // whose key another process removed or gave to another set meanwhile is
    // not saved (nor its key made again), and a save that fails is refused
    // like a first one. While the editor is open a reload keeps the set.
    void editBackupSet(BackupSet* set);
    // Registers the dialog templates and pictures of the resource `library`
    // with the UI stand-in; a library without them registers nothing.
    static void registerResources(HINSTANCE library);
    // The selected set; null when selectedIndex names none.
    BackupSet* selectedSet();
    // Whether the pool holds a job, queued or running.
    bool isBackupInProgress();
    // Whether the pool holds a job of `set`, queued or running. Any thread.
    bool hasJob(const BackupSet* set);

    HINSTANCE instanceHandle = nullptr;
    HINSTANCE resourceHandle = nullptr;
    // The catalogue, in catalogue order; owns every set. Appends take its
    // write lock.
    terbin::TBLockableArray<BackupSet*> backupSets{8};

private:
    // Counts the jobs of `set` in the pool up or down.
    void countJob(const BackupSet* set, int change);
    void editAndSave(BackupSet* set);

    // Declared before the pool, which may still end jobs while it is destroyed.
    std::mutex jobsMutex_;
    std::unordered_map<const BackupSet*, int> jobsOfSet_;
    // The set editBackupSet is working on; null when none.
    const BackupSet* editedSet_ = nullptr;

public:
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
    // Shows a log file, given the command line "notepad " + quoted path;
    // installed by the host. Without one OnViewLog starts "notepad", or where
    // that is missing "xdg-open", on the log file and does not wait for it.
    std::function<void(const terbin::TBString& commandLine)> logViewer;
    // Why the last edit, removal or log view that passed its rule did not
    // act, for the host to tell the person; empty when it acted.
    terbin::TBString lastRefusal;
    // Search order of the string tables; the application object owns them.
    terbin::TBLockableList<terbin::TBIniFile*> stringTables;
};

extern ULVbase theBaseApp;
