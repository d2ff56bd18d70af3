// The run log's file names and the reading of runs back from a log file
// written through a real logger.
#include <gtest/gtest.h>

#include "backupset/BackupSet.h"
#include "engine/RunLog.h"
#include "foundation/TBLog.h"
#include "support/TempDir.h"

using terbin::TBLog;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

TEST(RunLogNameTest, RecognisesTheLogsOfOneSetAndTheNamesOfDatedFolders) {
    for (const wchar_t* name :
         {L"backup-Docs.log", L"backup-Docs-20261206.log", L"backup-Docs-20261206-101500.log"}) {
        EXPECT_TRUE(RunLog::isFileOf(name, L"Docs")) << TBString(name).narrow();
    }
    for (const wchar_t* name :
         {L"backup-docs.log", L"backup-Docs.log.1", L"backup-Docs-20261206.log.2",
          L"backup-Docs-2026120a.log", L"backup-Docs-.log", L"backup-Docs 2.log",
          L"backup-Docs-old.log", L"Docs.log", L"backup-Docs"}) {
        EXPECT_FALSE(RunLog::isFileOf(name, L"Docs")) << TBString(name).narrow();
    }
    // A set whose name ends like a date: its plain log is its own, and the
    // dated log of the shorter name is the shorter set's as well.
    EXPECT_TRUE(RunLog::isFileOf(L"backup-Docs-20261206.log", L"Docs-20261206"));
    EXPECT_FALSE(RunLog::isFileOf(L"backup-Docs.log", L"Docs-20261206"));

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
    // A run that ends with `status`; one that ended Ready logs no figures.
    void logRun(int32_t status, const TBStringArray& failedFolders = {},
                const TBStringArray& failedFiles = {}) {
        start();
        set.status = status;
        RunLog::ended(log, set);
        if (status != Ready)
            RunLog::figures(log, set, failedFolders, failedFiles);
    }

    TempDir dir;
    TBLog log;
    BackupSet set;
};

TEST_F(RunLogReadTest, LastRunWithFiguresGivesItsStatusAndFigures) {
    // A run without figures counts only while no run has them.
    logRun(Ready);
    auto run = RunLog::readLastRun(path(), L"Docs");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, "Ready");
    EXPECT_EQ(run->bytesCopied, "");

    set.foldersScanned = 1;
    logRun(Complete);
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
    logRun(Failed, folders, files);
    // Neither a run cut off before its end line nor one without figures counts.
    set.filesCopied = 99;
    start();
    logRun(Ready);

    run = RunLog::readLastRun(path(), L"Docs");
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

}  // namespace
