// The run log's file names and the reading of runs back from a log file,
// against files written through a real logger.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "backupset/BackupSet.h"
#include "engine/RunLog.h"
#include "foundation/TBLog.h"
#include "support/TempDir.h"

using terbin::TBLog;
using terbin::TBString;
using terbin::TBStringArray;
using ::testing::ElementsAre;

namespace {

TEST(RunLogNameTest, RecognisesTheLogsOfOneSetOnly) {
    const TBString set = L"Docs";
    for (const wchar_t* name :
         {L"backup-Docs.log", L"backup-Docs-20261206.log", L"backup-Docs-20261206-101500.log"}) {
        EXPECT_TRUE(RunLog::isFileOf(name, set)) << TBString(name).narrow();
    }
    for (const wchar_t* name :
         {L"backup-docs.log", L"backup-Docs.log.1", L"backup-Docs-20261206.log.2",
          L"backup-Docs-2026120.log", L"backup-Docs-202612061.log", L"backup-Docs-2026120a.log",
          L"backup-Docs-20261206-10150.log", L"backup-Docs-20261206_101500.log",
          L"backup-Docs-.log", L"backup-Docs 2.log", L"backup-Docs-old.log", L"Docs.log",
          L"backup-Docs"}) {
        EXPECT_FALSE(RunLog::isFileOf(name, set)) << TBString(name).narrow();
    }
    // A set whose name ends like a date: its plain log is its own, and the
    // dated log of the shorter name is the shorter set's as well.
    EXPECT_TRUE(RunLog::isFileOf(L"backup-Docs-20261206.log", L"Docs-20261206"));
    EXPECT_FALSE(RunLog::isFileOf(L"backup-Docs.log", L"Docs-20261206"));
}

TEST(RunLogNameTest, NamesLogsAfterTheSetAndItsDatedFolder) {
    EXPECT_EQ(RunLog::fileName(L"Docs"), TBString(L"backup-Docs.log"));
    EXPECT_EQ(RunLog::fileName(L"My Docs", L"20261206-101500"),
              TBString(L"backup-My Docs-20261206-101500.log"));
    EXPECT_TRUE(RunLog::isDatedFolderName(L"20261206"));
    EXPECT_TRUE(RunLog::isDatedFolderName(L"20261206-101500"));
    for (const wchar_t* name : {L"", L"2026120", L"202612060", L"2026-12-06", L"20261206-10150",
                                L"20261206 101500", L"20261206-1015001", L"2026120x"}) {
        EXPECT_FALSE(RunLog::isDatedFolderName(name)) << TBString(name).narrow();
    }
}

TEST(RunLogNameTest, NewestLogOfTheSetIsFoundAmongOthers) {
    TempDir dir;
    writeFile(dir / "backup-Docs-20261205.log", "a");
    setMtime(dir / "backup-Docs-20261205.log", 1700000100);
    writeFile(dir / "backup-Docs-20261206.log", "b");
    setMtime(dir / "backup-Docs-20261206.log", 1700000000);
    // Newer, but not a log of Docs.
    writeFile(dir / "backup-Docs-20261206.log.1", "c");
    writeFile(dir / "backup-Photos.log", "d");
    makeDirs(dir / "backup-Docs.log");
    const TBString folder = TBString::fromBytes(dir.path());
    EXPECT_EQ(RunLog::newestFileOf(folder, L"Docs").narrow(), dir / "backup-Docs-20261205.log");
    EXPECT_EQ(RunLog::newestFileOf(folder, L"Music"), TBString());
    EXPECT_EQ(RunLog::newestFileOf(TBString::fromBytes(dir / "missing"), L"Docs"), TBString());
}

// Runs written to one log file through the run log's own writer.
class RunLogReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        set.backupName = L"Docs";
        RunLog::writeTo(log, path());
    }
    TBString path() const { return TBString::fromBytes(dir / "backup-Docs.log"); }

    void start() { RunLog::started(log, set, L"/t", L"/t/20261206", true); }
    // A finished run with the given figures and failures.
    void finish(int32_t status, const TBStringArray& failedFolders,
                const TBStringArray& failedFiles) {
        set.status = status;
        RunLog::ended(log, set);
        RunLog::figures(log, set, failedFolders, failedFiles);
    }

    TempDir dir;
    TBLog log;
    BackupSet set;
};

TEST_F(RunLogReadTest, LastCompleteRunGivesItsStatusAndFigures) {
    start();
    set.foldersScanned = 1;
    finish(Complete, {}, {});

    start();
    set.foldersScanned = 7;
    set.foldersSkipped = 2;
    set.filesCopied = 12;
    set.bytesCopied = 1536;
    set.filesUnchanged = 30;
    set.filesSkipped = 4;
    // Failures whose paths read like figure lines must not pass for them.
    TBStringArray folders;
    folders.add(L"/src/3 file(s) failed");
    TBStringArray files;
    files.add(L"/src/a");
    files.add(L"/src/  9 file(s) unchanged");
    finish(Failed, folders, files);

    // A run cut off before its end line does not count.
    start();

    const auto run = RunLog::readLastRun(path(), L"Docs");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, "Failed");
    EXPECT_EQ(run->foldersScanned, 7);
    EXPECT_EQ(run->foldersFailed, 1);
    EXPECT_EQ(run->filesCopied, 12);
    EXPECT_EQ(run->bytesCopied, "1.5 KB");
    EXPECT_EQ(run->filesUnchanged, 30);
    EXPECT_EQ(run->filesSkipped, 4);
    EXPECT_EQ(run->filesFailed, 2);
    EXPECT_EQ(run->started.size(), 19u) << run->started;

    EXPECT_FALSE(RunLog::readLastRun(path(), L"Doc"));
    EXPECT_FALSE(RunLog::readLastRun(path(), L"Docs 2"));
    EXPECT_FALSE(RunLog::readLastRun(TBString::fromBytes(dir / "missing.log"), L"Docs"));
}

TEST_F(RunLogReadTest, RunEndedWithoutFiguresCountsOnlyWhenNoneHasThem) {
    start();
    set.status = Ready;
    RunLog::ended(log, set);
    auto run = RunLog::readLastRun(path(), L"Docs");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, "Ready");
    EXPECT_EQ(run->filesCopied, 0);
    EXPECT_EQ(run->bytesCopied, "");

    start();
    set.filesCopied = 3;
    finish(Complete, {}, {});
    start();
    set.status = Ready;
    RunLog::ended(log, set);
    run = RunLog::readLastRun(path(), L"Docs");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, "Complete");
    EXPECT_EQ(run->filesCopied, 3);
}

TEST_F(RunLogReadTest, MessagesComeBackAsWritten) {
    RunLog::scriptStarting(log, true, L"/bin/my script", L"", 1, 0, 5000);
    RunLog::scriptEnded(log, true, false);
    RunLog::folderNotCreated(log, L"/t/a", 183);
    RunLog::copyCancelled(log, L"/t/b");
    EXPECT_THAT(
        RunLog::readMessages(path()),
        ElementsAre("  executing pre-backup script", "    program           = /bin/my script",
                    "    args              = ", "    waitForCompletion = 1",
                    "    waitTimeout\t      = 0", "    waitTimeoutMS     = 5000",
                    "  pre-backup script failed",
                    " failed to create folder /t/a - res = 183 (0xb7)", "Copy to /t/b cancelled"));
}

}  // namespace
