// The commands a person gives from the host's menus and toolbars, and the
// rules that enable them. Every command tests its own rule again: a host may
// call it without asking the update first, and then it must do nothing.
//
// Threads: all of this runs on the user-interface thread. The flags it writes
// (runAllowed, stopRequested, pauseRequested) are polled by the worker
// without a lock; the catalogue changes only while no job is queued or
// running, so no job can hold a set that is removed.
#include <memory>
#include <string>
#include <vector>

#include "base/ULVbase.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFileLock.h"
#include "foundation/TBProcess.h"
#include "foundation/TBRegistry.h"

using terbin::TBFileLock;
using terbin::TBProcess;
using terbin::TBString;

namespace {

// Shows the wait cursor for as long as it lives, however its scope is left.
class WaitCursor {
public:
    explicit WaitCursor(CWinApp& app) : app_(app) { app_.BeginWaitCursor(); }
    ~WaitCursor() { app_.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    CWinApp& app_;
};

bool isActive(const BackupSet& set) {
    return set.status == NotStarted || set.status == Running;
}

struct PauseCount {
    int paused = 0;
    int running = 0;
    int active() const { return paused + running; }
    // Pause all pauses on a tie and with no paused set, resumes otherwise.
    bool pausesAll() const { return paused <= running; }
};

PauseCount countActiveSets(ULVbase& app) {
    PauseCount count;
    const terbin::TBReadLock hold(app.backupSets);
    for (const BackupSet* set : app.backupSets) {
        if (set == nullptr || !isActive(*set))
            continue;
        ++(set->pauseRequested ? count.paused : count.running);
    }
    return count;
}

// The rules shared by each command and its update operation.
bool mayStartSelected(ULVbase& app) {
    const BackupSet* set = app.selectedSet();
    return !app.busy && set != nullptr && set->status != Running;
}

bool mayStopSelected(ULVbase& app) {
    const BackupSet* set = app.selectedSet();
    return !app.busy && app.isBackupInProgress() && set != nullptr && set->isRunning();
}

bool mayPauseSelected(ULVbase& app) {
    const BackupSet* set = app.selectedSet();
    return !app.busy && app.isBackupInProgress() && set != nullptr && isActive(*set);
}

// Busy is false and no job is queued or running. Sets are created, changed
// and removed only then: no job can hold one.
bool isIdle(ULVbase& app) {
    return !app.busy && !app.isBackupInProgress();
}

bool mayChangeSelected(ULVbase& app) {
    return isIdle(app) && app.selectedSet() != nullptr;
}

bool mayViewLog(ULVbase& app) {
    const BackupSet* set = app.selectedSet();
    return !app.busy && set != nullptr && !isActive(*set) &&
           terbin::TBFileInfo::isFile(set->logFilePath);
}

// Whether `set` has a key of its own below "BackupSets". Empty components
// of a key path are skipped, so a key name holding "/" could name
// "BackupSets" itself, or another set's key.
bool hasOwnKey(const BackupSet& set) {
    return !set.registryKeyName.isEmpty() && set.registryKeyName.first(L'/') < 0;
}

// Takes the run lock of a saved set, so that no other process starts it
// while it is edited or removed. False, with `refusal` saying why, when
// another process runs the set. Any other failure to take the lock lets the
// change go on: a run needs the same lock file and fails the same way.
bool holdRunLock(const BackupSet& set, TBFileLock& lock, TBString& refusal) {
    if (!hasOwnKey(set))
        return true;
    const TBString path = BackupSet::runLockPath(set.registryKeyName);
    if (path.isEmpty() || lock.acquire(path) != terbin::TB_LOCK_HELD)
        return true;
    refusal = L"backup set " + set.backupName + L" is being run by " +
              (lock.holder() > 0 ? L"process " + TBString::valueOf(lock.holder())
                                 : TBString(L"another process"));
    return false;
}

void invalidateMainWindow(CWinApp& app) {
    if (app.m_pMainWnd != nullptr)
        InvalidateRect(app.m_pMainWnd->GetSafeHwnd(), nullptr, TRUE);
}

// `path` in single quotes, which the command-line splitter takes literally.
TBString singleQuoted(const TBString& path) {
    return L"'" + path.replace(L"'", L"'\\''") + L"'";
}

// Starts a viewer on the log at `path` and lets it run. The usual command
// line is tried as it is; where the splitter would not give the path back
// whole (a double quote or a backslash in it), the path goes in single
// quotes, so no other file is opened. Where "notepad" is missing, the
// desktop's own opener shows the file.
bool startLogViewer(const TBString& commandLine, const TBString& path) {
    std::vector<std::string> words;
    const bool whole = TBProcess::splitCommandLine(commandLine, words) && words.size() == 2 &&
                       words[1] == path.narrow();
    const TBString argument = whole ? path.quote(L'"', true, 0) : singleQuoted(path);
    for (const wchar_t* program : {L"notepad", L"xdg-open"}) {
        TBProcess viewer;
        if (viewer.create(program + (L" " + argument)) == 0) {
            viewer.detach();
            return true;
        }
    }
    return false;
}

}  // namespace

BackupSet* ULVbase::selectedSet() {
    const terbin::TBReadLock hold(backupSets);
    if (selectedIndex < 0 || selectedIndex >= backupSets.size())
        return nullptr;
    return backupSets[selectedIndex];
}

bool ULVbase::isBackupInProgress() {
    return threadPool.getTotalJobCount() != 0;
}

void ULVbase::OnBackupStart() {
    if (isBackupInProgress())
        return;
    const WaitCursor wait(*this);
    const terbin::TBReadLock hold(backupSets);
    for (BackupSet* set : backupSets) {
        if (set == nullptr || set->backupExcludeFromStartAll != 0)
            continue;
        set->status = NotStarted;
        set->stopRequested = false;
        startBackupSet(set);
    }
}

void ULVbase::OnUpdateBackupStart(CCmdUI& cmdUI) {
    cmdUI.Enable(isIdle(*this));
}

void ULVbase::OnBackupStop() {
    if (isBackupInProgress())
        runAllowed = false;
}

void ULVbase::OnUpdateBackupStop(CCmdUI& cmdUI) {
    cmdUI.Enable(!busy && isBackupInProgress());
}

void ULVbase::OnStartSelected() {
    if (mayStartSelected(*this))
        startBackupSet(selectedSet());
}

void ULVbase::OnUpdateStartSelected(CCmdUI& cmdUI) {
    cmdUI.Enable(mayStartSelected(*this));
}

void ULVbase::OnStopSelected() {
    if (mayStopSelected(*this))
        selectedSet()->stopRequested = true;
}

void ULVbase::OnUpdateStopSelected(CCmdUI& cmdUI) {
    cmdUI.Enable(mayStopSelected(*this));
}

void ULVbase::OnPauseSelected() {
    if (!mayPauseSelected(*this))
        return;
    std::atomic<bool>& pause = selectedSet()->pauseRequested;
    pause = !pause;
}

void ULVbase::OnUpdatePauseSelected(CCmdUI& cmdUI) {
    // The check keeps its last state while the command is disabled.
    cmdUI.Enable(FALSE);
    if (!mayPauseSelected(*this))
        return;
    cmdUI.SetCheck(selectedSet()->pauseRequested ? 1 : 0);
    cmdUI.Enable(TRUE);
}

void ULVbase::OnPauseAll() {
    if (busy)
        return;
    const bool pause = countActiveSets(*this).pausesAll();
    const terbin::TBReadLock hold(backupSets);
    for (BackupSet* set : backupSets) {
        if (set != nullptr && isActive(*set))
            set->pauseRequested = pause;
    }
}

void ULVbase::OnUpdatePauseAll(CCmdUI& cmdUI) {
    const PauseCount count = countActiveSets(*this);
    cmdUI.Enable(!busy && count.active() > 0);
    cmdUI.SetCheck(count.paused >= count.running ? 1 : 0);
}

void ULVbase::OnAddBackupSet() {
    if (!isIdle(*this))
        return;
    auto draft = std::make_unique<BackupSet>();
    editBackupSet(draft.get());
    if (!draft->modified)
        return;
    auto set = std::make_unique<BackupSet>(*draft);
    const terbin::TBWriteLock guard(backupSets);
    backupSets.add(set.get());
    set.release();
}

void ULVbase::OnUpdateAddBackupSet(CCmdUI& cmdUI) {
    cmdUI.Enable(isIdle(*this) && !backupSets.isEmpty());
}

void ULVbase::OnEditBackupSet() {
    if (!mayChangeSelected(*this))
        return;
    BackupSet* set = selectedSet();
    lastRefusal = TBString();
    TBFileLock lock;
    if (holdRunLock(*set, lock, lastRefusal))
        editBackupSet(set);
}

void ULVbase::OnUpdateEditBackupSet(CCmdUI& cmdUI) {
    cmdUI.Enable(mayChangeSelected(*this));
}

void ULVbase::OnRemoveBackupSet() {
    if (!mayChangeSelected(*this))
        return;
    BackupSet* set = selectedSet();
    lastRefusal = TBString();
    TBFileLock lock;
    if (!holdRunLock(*set, lock, lastRefusal))
        return;
    // A key that cannot be deleted does not keep the set in the list: it
    // comes back at the next start.
    if (hasOwnKey(*set)) {
        terbin::tb_registry_removeKey(terbin::TBHiveCurrentUser,
                                      BackupSet::registryKeyPath(set->registryKeyName));
    }
    {
        const terbin::TBWriteLock guard(backupSets);
        backupSets.removeAt(selectedIndex);
    }
    delete set;
    invalidateMainWindow(*this);
}

void ULVbase::OnUpdateRemoveBackupSet(CCmdUI& cmdUI) {
    cmdUI.Enable(mayChangeSelected(*this));
}

void ULVbase::OnViewLog() {
    if (!mayViewLog(*this))
        return;
    lastRefusal = TBString();
    const TBString& path = selectedSet()->logFilePath;
    const TBString commandLine = L"notepad " + path.quote(L'"', true, 0);
    if (logViewer)
        logViewer(commandLine);
    else if (!startLogViewer(commandLine, path))
        lastRefusal = L"no text viewer could be started for " + path;
}

void ULVbase::OnUpdateViewLog(CCmdUI& cmdUI) {
    cmdUI.Enable(FALSE);
    if (mayViewLog(*this))
        cmdUI.Enable(TRUE);
}

void ULVbase::OnUpdateDisallowWhenRunning(CCmdUI& cmdUI) {
    OnUpdateBackupStart(cmdUI);
}

void ULVbase::editBackupSet(BackupSet* set) {
    // A reload while the editor is open must not delete the set under it.
    editedSet_ = set;
    editAndSave(set);
    editedSet_ = nullptr;
}

void ULVbase::editAndSave(BackupSet* set) {
    // The editor shows the library's own windows and resources.
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    lastRefusal = TBString();
    set->modified = false;
    if (backupSetEditor == nullptr)
        return;
    // The editor works on a copy, so that a set whose values cannot be
    // saved keeps the values the registry holds for it.
    BackupSet draft(*set);
    backupSetEditor->edit(draft);
    if (!draft.modified)
        return;
    if (!BackupSet::isPlainName(draft.backupName)) {
        lastRefusal = L"a backup set cannot be named \"" + draft.backupName + L"\"";
        return;
    }
    if (draft.registryKeyName.isEmpty()) {
        // The key name is chosen and the set written in one transaction, so
        // another process creating a set cannot take the same key.
        if (draft.saveNew(TBString()).isEmpty()) {
            lastRefusal = L"backup set " + draft.backupName + L" could not be saved";
            return;
        }
    } else if (const uint32_t result = draft.save(draft.registryKeyName); result != 0) {
        // The set stays as it was; the next reload of the catalogue drops
        // one that was removed.
        lastRefusal = L"backup set " + set->backupName +
                      (result == terbin::TB_KEY_DELETED
                           ? TBString(L" was removed or replaced by another program, so the "
                                      L"changes were not saved")
                           : L" could not be saved - error=" + TBString::valueOf(result));
        return;
    }
    *set = draft;
    set->status = Ready;
    lastRefusal = backupSetEditor->saved(*set);
    invalidateMainWindow(*this);
}
