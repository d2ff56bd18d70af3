#include "base/ULVbase.h"

#include "engine/BackupJob.h"
#include "foundation/TBLockableObject.h"
#include "foundation/TBTime.h"

using terbin::TBJob;
using terbin::TBLocalTime;
using terbin::TBStringArray;
using terbin::TBThreadPool;

ULVbase::ULVbase() : CWinApp(nullptr) {
    RunContext::install(this);
}

ULVbase::~ULVbase() {
    if (RunContext::isInstalled(this))
        RunContext::install(nullptr);
    // A job still finishing while the pool is torn down must not post to a
    // main window that may be gone already.
    threadPool.setNotificationFunction(nullptr);
    terbin::TBWriteLock guard(stringTables);
    for (terbin::TBIniFile* table : stringTables) delete table;
    stringTables.clear();
}

BOOL ULVbase::InitInstance() {
    CWinApp::InitInstance();
    instanceHandle = AfxGetInstanceHandle();
    // A missing resource library is not reported: its null handle simply
    // becomes the resource handle.
    resourceHandle = LoadLibraryW(L"ULVresource.dll");
    AfxSetResourceHandle(resourceHandle);
    registerResources(resourceHandle);
    threadPool.setNotificationFunction(&ULVbase::onJobNotification);
    return TRUE;
}

int ULVbase::ExitInstance() {
    {
        terbin::TBWriteLock guard(backupSets);
        for (BackupSet* set : backupSets) delete set;
        backupSets.clear();
    }
    return CWinApp::ExitInstance();
}

void ULVbase::shutdown() {
    threadPool.setNotificationFunction(nullptr);
    threadPool.shutdown();
    // Queued jobs are destroyed without notice.
    const std::lock_guard hold(jobsMutex_);
    jobsOfSet_.clear();
}

void ULVbase::startBackupSet(BackupSet* set) {
    // The dates are rewritten only while no job is queued or running to
    // read them. A finished job stops counting before its done message is
    // posted, so a set started on that message opens a new batch.
    if (threadPool.getTotalJobCount() == 0) {
        TBLocalTime now;
        now.update();
        runAllowed = true;
        backupDate = now.toString("%Y%m%d");
        backupDateTime = now.toString("%Y%m%d-%H%M%S");
    }
    set->status = NotStarted;
    set->pauseRequested = false;
    set->stopRequested = false;
    set->waitingForDiskSpace = false;
    auto* job = new BackupJob(set, *this);
    // Counted before it is queued: the job may end before add() returns.
    countJob(set, 1);
    // A pool that refuses the job (it has been shut down) leaves it with us;
    // the set then simply stays NotStarted.
    if (threadPool.add(job) != 0) {
        countJob(set, -1);
        delete job;
    }
}

bool ULVbase::hasJob(const BackupSet* set) {
    const std::lock_guard hold(jobsMutex_);
    return jobsOfSet_.contains(set);
}

void ULVbase::countJob(const BackupSet* set, int change) {
    const std::lock_guard hold(jobsMutex_);
    if ((jobsOfSet_[set] += change) <= 0)
        jobsOfSet_.erase(set);
}

bool ULVbase::canClose() {
    return !busy && threadPool.getTotalJobCount() == 0;
}

void ULVbase::onJobNotification(TBJob* job, int code) {
    if (code != TBThreadPool::JobFinished)
        return;
    // Before the done message: the window may reload the catalogue on it,
    // and a set removed elsewhere can go once no job holds it.
    if (auto* backupJob = dynamic_cast<BackupJob*>(job)) {
        if (auto* app = dynamic_cast<ULVbase*>(&backupJob->context))
            app->countJob(backupJob->backupSet, -1);
    }
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd)
        PostMessageW(app->m_pMainWnd->GetSafeHwnd(), WM_BACKUP_JOB_DONE, 0, 0);
}

TBStringArray ULVbase::topLevelTargets() const {
    TBStringArray targets;
    const terbin::TBReadLock hold(backupSets);
    for (const BackupSet* set : backupSets) targets.add(BackupJob::topLevelTarget(*set, *this));
    return targets;
}
