#include <gtest/gtest.h>

#include <memory>
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
        ASSERT_TRUE(idle());  // the sets must outlive their jobs
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
};

TEST_F(ApplicationTest, SetsStartedWhileBusyJoinTheBatchAndEachPostsOneDoneMessage) {
    ScriptGate gate(dir / "gate");
    const TBString before = localStamp();
    theBaseApp.startBackupSet(makeSet("first", &gate));
    const TBString stamp = theBaseApp.backupDateTime;
    EXPECT_TRUE(stamp == before || stamp == localStamp()) << stamp.narrow();
    EXPECT_EQ(theBaseApp.backupDate, stamp.left(8));
    // The first set's run is held in its script while the clock moves on.
    EXPECT_TRUE(eventually([&] { return localStamp() != stamp; }));
    for (const char* name : {"second", "third"}) theBaseApp.startBackupSet(makeSet(name));
    EXPECT_EQ(theBaseApp.backupDateTime, stamp);
    EXPECT_TRUE(gate.waitUntilReached());
    gate.open();
    ASSERT_TRUE(idle());
    for (const auto& set : sets) {
        EXPECT_EQ(set->status, Complete);
        EXPECT_TRUE(backedUpInto(set->backupName.narrow(), stamp)) << set->backupName.narrow();
    }
    MSG msg{};
    int count = 0;
    for (; mainWindow.peekMessage(msg); ++count) EXPECT_EQ(msg.message, WM_BACKUP_JOB_DONE);
    EXPECT_EQ(count, 3);
}

TEST_F(ApplicationTest, StopAllCancelsTheWholeBatchIncludingSetsJoiningIt) {
    ScriptGate gate(dir / "gate");
    BackupSet* running = makeSet("running", &gate);
    theBaseApp.startBackupSet(running);
    theBaseApp.startBackupSet(makeSet("queued"));
    EXPECT_TRUE(gate.waitUntilReached());
    EXPECT_EQ(running->status, RunningPreScript);
    theBaseApp.runAllowed = false;
    theBaseApp.startBackupSet(makeSet("joiner"));
    EXPECT_FALSE(theBaseApp.canClose());
    gate.open();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(theBaseApp.canClose());
    for (const auto& set : sets) EXPECT_EQ(set->status, Cancelled) << set->backupName.narrow();
    theBaseApp.busy = true;
    EXPECT_FALSE(theBaseApp.canClose());
}

}  // namespace
