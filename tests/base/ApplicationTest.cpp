#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/ULVbase.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBTime.h"
#include "support/Eventually.h"
#include "support/ScriptGate.h"
#include "support/TempDir.h"

using terbin::TBString;

namespace {

TBString localStamp() {
    terbin::TBLocalTime now;
    now.update();
    return now.toString("%Y%m%d-%H%M%S");
}

// Batches of real backup jobs on theBaseApp, whose main window is the
// fixture's window. Every set backs up the same one-file source.
class ApplicationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    void SetUp() override {
        writeFile(dir / "src/file.txt", "contents");
        theBaseApp.m_pMainWnd = &mainWindow;
    }
    void TearDown() override {
        // The sets and the window must outlive their jobs' runs and done
        // messages; a job stops counting before its message is posted.
        ASSERT_TRUE(idle());
        ASSERT_TRUE(awaitDone());
        MSG extra{};
        EXPECT_FALSE(mainWindow.peekMessage(extra)) << "more done messages than jobs";
        theBaseApp.m_pMainWnd = nullptr;
        theBaseApp.runAllowed = false;
        theBaseApp.busy = false;
    }

    // A set backing up into a date-time subfolder; when given a gate, its
    // run first waits at it in a pre-backup script.
    BackupSet* makeSet(const std::string& name, const ScriptGate* gate = nullptr) {
        BackupSet* set = sets.emplace_back(std::make_unique<BackupSet>()).get();
        set->backupName = TBString::fromBytes(name);
        set->targetFolder = TBString::fromBytes(dir / name);
        makeDirs(dir / name);
        set->sourceFolders.add(TBString::fromBytes(dir / "src"));
        set->backupType = DateTimeSubfolder;
        set->backupAddComputerFolder = 0;
        if (gate) {
            set->preBackupEnabled = 1;
            set->preBackupProgram = L"/bin/sh";
            set->preBackupArgs = TBString::fromBytes("-c '" + gate->shellCommand() + "'");
        }
        return set;
    }
    void start(BackupSet* set) {
        theBaseApp.startBackupSet(set);
        ++started;
    }
    // Takes done messages from the main window until there is one for every
    // set started; false when one does not come in time. It keeps asking,
    // as a busy window would, so that it reacts to a message at once.
    bool awaitDone() {
        const auto deadline = std::chrono::steady_clock::now() + EventuallyLimit;
        for (MSG msg{}; done < started; std::this_thread::yield()) {
            if (mainWindow.peekMessage(msg)) {
                EXPECT_EQ(msg.message, WM_BACKUP_JOB_DONE);
                ++done;
            } else if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
        }
        return true;
    }
    static bool idle() {
        return eventually([] { return theBaseApp.threadPool.getTotalJobCount() == 0; });
    }
    bool backedUpInto(const std::string& name, const TBString& stamp) {
        return terbin::TBFileInfo::isFile(TBString::fromBytes(dir / name + "/") + stamp +
                                          TBString::fromBytes(dir / "src/file.txt"));
    }

    TempDir dir;
    CWnd mainWindow;
    std::vector<std::unique_ptr<BackupSet>> sets;
    int started = 0;
    int done = 0;
};

TEST_F(ApplicationTest, SetsStartedWhileBusyJoinTheBatchAndEachPostsOneDoneMessage) {
    ScriptGate gate(dir / "gate");
    const TBString before = localStamp();
    start(makeSet("first", &gate));
    const TBString stamp = theBaseApp.backupDateTime;
    EXPECT_TRUE(stamp == before || stamp == localStamp()) << stamp.narrow();
    EXPECT_EQ(theBaseApp.backupDate, stamp.left(8));
    // The first set's run is held in its script while the clock moves on.
    EXPECT_TRUE(eventually([&] { return localStamp() != stamp; }));
    for (const char* name : {"second", "third"}) start(makeSet(name));
    EXPECT_EQ(theBaseApp.backupDateTime, stamp);
    EXPECT_TRUE(gate.waitUntilReached());
    gate.open();
    ASSERT_TRUE(idle());
    for (const auto& set : sets) {
        EXPECT_EQ(set->status, Complete);
        EXPECT_TRUE(backedUpInto(set->backupName.narrow(), stamp)) << set->backupName.narrow();
    }
    EXPECT_TRUE(awaitDone()) << "one done message for each of the three sets";
}

TEST_F(ApplicationTest, StopAllCancelsTheWholeBatchIncludingSetsJoiningIt) {
    ScriptGate gate(dir / "gate");
    BackupSet* running = makeSet("running", &gate);
    start(running);
    start(makeSet("queued"));
    EXPECT_TRUE(gate.waitUntilReached());
    EXPECT_EQ(running->status, RunningPreScript);
    theBaseApp.runAllowed = false;
    start(makeSet("joiner"));
    EXPECT_FALSE(theBaseApp.canClose());
    gate.open();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(theBaseApp.canClose());
    for (const auto& set : sets) EXPECT_EQ(set->status, Cancelled) << set->backupName.narrow();
    theBaseApp.busy = true;
    EXPECT_FALSE(theBaseApp.canClose());
}

// The window reacts to a batch's last done message by starting another set,
// even after a stop of all sets: that set opens a new batch, with fresh dates
// and the run flag set again, and runs. The message races with the job's end
// in the pool, so the case is repeated to give the race its chances.
TEST_F(ApplicationTest, SetStartedOnTheLastDoneMessageOpensANewBatch) {
    BackupSet* stopped = makeSet("stopped");
    BackupSet* next = makeSet("next");
    for (int round = 0; round < 200 && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        start(stopped);
        theBaseApp.runAllowed = false;  // stop all
        ASSERT_TRUE(awaitDone());
        // The stopped run has returned, so nothing reads the dates now; mark
        // them as the ended batch's.
        theBaseApp.backupDate = theBaseApp.backupDateTime = L"ended";
        start(next);
        EXPECT_TRUE(theBaseApp.runAllowed.load());
        EXPECT_FALSE(theBaseApp.backupDateTime == L"ended" || theBaseApp.backupDate == L"ended");
        ASSERT_TRUE(awaitDone());
        EXPECT_EQ(next->status, Complete);
    }
}

}  // namespace
