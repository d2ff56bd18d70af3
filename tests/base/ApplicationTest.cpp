#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "base/ULVbase.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBThread.h"
#include "foundation/TBTime.h"
#include "resource/resource.h"
#include "support/TempDir.h"

using terbin::TBJob;
using terbin::TBString;
using terbin::TBThread;

namespace {

bool eventually(const std::function<bool()>& done, int ms = 30000) {
    for (int i = 0; i < ms && !done(); ++i) TBThread::sleep(1);
    return done();
}

TBString localStamp() {
    terbin::TBLocalTime now;
    now.update();
    return now.toString("%Y%m%d-%H%M%S");
}

// Batches of real backup jobs on theBaseApp, whose main window is the
// fixture's window. Every set backs up the same one-file source.
class ApplicationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { started = AfxWinInit(); }
    void SetUp() override {
        writeFile(dir / "src/file.txt", "contents");
        theBaseApp.m_pMainWnd = &mainWindow;
    }
    void TearDown() override {
        ASSERT_TRUE(idle());  // the sets must outlive their jobs
        theBaseApp.m_pMainWnd = nullptr;
        theBaseApp.runAllowed = false;
        theBaseApp.busy = false;
    }

    // A set backing up into a date-time subfolder; its run first sleeps
    // `seconds` in a pre-backup script when given.
    BackupSet* makeSet(const std::string& name, const char* seconds = nullptr) {
        sets.push_back(std::make_unique<BackupSet>());
        BackupSet* set = sets.back().get();
        set->backupName = TBString::fromBytes(name);
        set->targetFolder = TBString::fromBytes(dir / name);
        set->sourceFolders.add(TBString::fromBytes(dir / "src"));
        set->backupType = DateTimeSubfolder;
        set->backupAddComputerFolder = 0;
        set->preBackupEnabled = seconds ? 1 : 0;
        set->preBackupProgram = L"/bin/sh";
        set->preBackupArgs = L"-c 'sleep " + TBString::fromBytes(seconds ? seconds : "0") + L"'";
        return set;
    }
    static bool idle() {
        return eventually([] { return theBaseApp.threadPool.getTotalJobCount() == 0; });
    }
    bool backedUpInto(const std::string& name, const TBString& stamp) {
        return terbin::TBFileInfo::isFile(TBString::fromBytes(dir / name + "/") + stamp +
                                          TBString::fromBytes(dir / "src/file.txt"));
    }
    // Waits until a new batch would get a date-time other than `stamp`.
    static void waitForNextSecond(const TBString& stamp) {
        ASSERT_TRUE(eventually([&] { return localStamp() != stamp; }, 3000));
    }

    static inline BOOL started = FALSE;
    TempDir dir;
    CWnd mainWindow;
    std::vector<std::unique_ptr<BackupSet>> sets;
};

TEST_F(ApplicationTest, InitInstanceMakesTheResourceLibraryTheResourceHandle) {
    EXPECT_EQ(started, TRUE);
    EXPECT_NE(theBaseApp.instanceHandle, nullptr);
    EXPECT_EQ(AfxGetResourceHandle(), theBaseApp.resourceHandle);
    wchar_t title[32];
    EXPECT_EQ(LoadStringW(theBaseApp.resourceHandle, IDS_PRODUCT_TITLE, title, 32), 7);
}

TEST_F(ApplicationTest, SetsStartedWhileBusyJoinTheRunningBatch) {
    const TBString before = localStamp();
    theBaseApp.startBackupSet(makeSet("first", "2"));
    const TBString stamp = theBaseApp.backupDateTime;
    EXPECT_TRUE(stamp == before || stamp == localStamp()) << stamp.narrow();
    EXPECT_EQ(theBaseApp.backupDate, stamp.left(8));
    waitForNextSecond(stamp);
    theBaseApp.startBackupSet(makeSet("second"));
    theBaseApp.startBackupSet(makeSet("third"));
    EXPECT_EQ(theBaseApp.backupDateTime, stamp);
    ASSERT_TRUE(idle());
    for (const auto& set : sets) {
        EXPECT_EQ(set->status, Complete);
        EXPECT_TRUE(backedUpInto(set->backupName.narrow(), stamp)) << set->backupName.narrow();
    }
}

TEST_F(ApplicationTest, BatchAfterThePoolEmptiedTakesNewStampsAndClearsOldRequests) {
    theBaseApp.startBackupSet(makeSet("early"));
    ASSERT_TRUE(idle());
    const TBString old = theBaseApp.backupDateTime;
    theBaseApp.runAllowed = false;  // as a stop of all sets leaves it
    waitForNextSecond(old);
    BackupSet* late = makeSet("late");
    late->stopRequested = true;
    late->pauseRequested = true;
    theBaseApp.startBackupSet(late);
    EXPECT_NE(theBaseApp.backupDateTime, old);
    EXPECT_TRUE(theBaseApp.runAllowed);
    ASSERT_TRUE(idle());
    EXPECT_EQ(late->status, Complete);
    EXPECT_TRUE(backedUpInto("late", theBaseApp.backupDateTime));
}

TEST_F(ApplicationTest, StopAllCancelsEveryJobInThePoolIncludingLaterStarts) {
    BackupSet* running = makeSet("running", "0.5");
    theBaseApp.startBackupSet(running);
    theBaseApp.startBackupSet(makeSet("queued"));
    ASSERT_TRUE(eventually([&] { return running->status == RunningPreScript; }));
    theBaseApp.runAllowed = false;
    theBaseApp.startBackupSet(makeSet("joiner"));
    EXPECT_FALSE(theBaseApp.runAllowed);
    EXPECT_FALSE(theBaseApp.canClose());
    ASSERT_TRUE(idle());
    EXPECT_TRUE(theBaseApp.canClose());
    for (const auto& set : sets) EXPECT_EQ(set->status, Cancelled) << set->backupName.narrow();

    theBaseApp.startBackupSet(makeSet("next"));
    EXPECT_TRUE(theBaseApp.runAllowed);
    ASSERT_TRUE(idle());
    EXPECT_EQ(sets.back()->status, Complete);
    theBaseApp.busy = true;
    EXPECT_FALSE(theBaseApp.canClose());
}

TEST_F(ApplicationTest, EachFinishedJobPostsOneDoneMessageToTheMainWindow) {
    CWnd otherWindow;
    for (const char* name : {"a", "b", "c"}) theBaseApp.startBackupSet(makeSet(name));
    ASSERT_TRUE(idle());
    MSG msg{};
    int count = 0;
    for (; mainWindow.peekMessage(msg); ++count) {
        EXPECT_TRUE(msg.hwnd == mainWindow.m_hWnd && msg.message == 0x8001 && msg.wParam == 0 &&
                    msg.lParam == 0);
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(otherWindow.pendingMessageCount(), 0u);
}

class EmptyJob : public TBJob {
public:
    uint32_t run() override { return 0; }
};

// Runs until its pool has begun to shut down, which it learns when the pool
// refuses a further job; so it is still running when the shutdown starts.
class UntilShutdownJob : public TBJob {
public:
    UntilShutdownJob(terbin::TBThreadPool& pool, std::atomic<bool>& started)
        : pool_(pool), started_(started) {}
    uint32_t run() override {
        started_ = true;
        for (;;) {
            auto* probe = new EmptyJob;
            if (pool_.add(probe) != 0) {
                delete probe;
                break;
            }
            TBThread::sleep(1);
        }
        return 0;
    }

private:
    terbin::TBThreadPool& pool_;
    std::atomic<bool>& started_;
};

TEST(ApplicationShutdown, JobEndingAfterShutdownPostsNothingAndNewStartsAreRefused) {
    ULVbase app;  // the current application while it lives
    CWnd window;
    app.m_pMainWnd = &window;
    ASSERT_EQ(app.InitInstance(), TRUE);
    app.threadPool.add(new EmptyJob);
    MSG msg{};
    ASSERT_TRUE(window.waitMessage(msg, 10000));
    EXPECT_EQ(msg.message, WM_BACKUP_JOB_DONE);

    std::atomic<bool> started{false};
    app.threadPool.add(new UntilShutdownJob(app.threadPool, started));
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    app.shutdown();
    EXPECT_EQ(window.pendingMessageCount(), 0u);
    BackupSet set;
    app.startBackupSet(&set);
    EXPECT_EQ(set.status, NotStarted);
}

class TrackedSet : public BackupSet {
public:
    explicit TrackedSet(int& deleted) : deleted_(deleted) {}
    ~TrackedSet() override { ++deleted_; }

private:
    int& deleted_;
};

TEST(ApplicationExit, ExitInstanceDeletesEverySetAndSkipsNullEntries) {
    ULVbase app;
    int deleted = 0;
    app.backupSets.add(new TrackedSet(deleted));
    app.backupSets.add(nullptr);
    app.backupSets.add(new TrackedSet(deleted));
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(app.backupSets.size(), 0);
}

}  // namespace
