#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <future>

#include <gmock/gmock.h>

#include "backupset/RunRecords.h"
#include "foundation/TBLockableObject.h"
#include "foundation/TBRegistry.h"
#include "support/FaultySystem.h"
#include "tests/engine/RunFixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

// Puts a set in the catalogue for the rest of the scope, whatever the outcome.
struct InCatalogue {
    explicit InCatalogue(BackupSet* entry) : added(entry) {
        const terbin::TBWriteLock hold(theBaseApp.backupSets);
        theBaseApp.backupSets.add(added);
    }
    ~InCatalogue() {
        const terbin::TBWriteLock hold(theBaseApp.backupSets);
        if (const int at = theBaseApp.backupSets.indexOf(added); at >= 0)
            theBaseApp.backupSets.removeAt(at);
    }
    BackupSet* added;
};

class RunSequenceTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        writeTree();
    }
};

TEST_F(RunSequenceTest, DatedRunWithAllFoldersLogsEveryLineInOrder) {
    set.backupAddBackupSetFolder = 1;
    set.excludeFiles.add(L"*.tmp");
    set.excludeFolders.add(L"cache");
    run();

    const std::string top = target + "/pc/Docs";
    const std::string final = top + "/20261206";
    const std::string mirrored = final + source;  // full path below the final target
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(mirrored + "/sub/deeper/d.txt"), "delta");
    EXPECT_FALSE(exists(mirrored + "/b.tmp"));
    EXPECT_FALSE(exists(mirrored + "/cache"));
    EXPECT_EQ(set.logFilePath.narrow(), top + "/backup-Docs-20261206.log");
    EXPECT_THAT(
        log(),
        ElementsAre("backup set Docs started", "  top level backup target = " + top,
                    "  backup type 1 (Date SubFolder)", "  final backup target = " + final,
                    "  maximum backup subfolders = 4", "  full path creation = true",
                    "  source folder = " + source, "  exclude file = *.tmp",
                    "  exclude folder = cache", " copy folder " + source,
                    " skipped folder " + source + "/cache", " copy folder " + source + "/sub",
                    " copy folder " + source + "/sub/deeper", "backup set Docs ended - Complete",
                    "  3 folder(s) scanned", "  1 folder(s) skipped", "  0 folder(s) failed",
                    "  3 file(s) 18 bytes copied", "  0 file(s) unchanged", "  1 file(s) skipped",
                    "  0 file(s) failed"));
}

TEST_F(RunSequenceTest, RelativeAndWildcardSourcesWithFullPathLandUnderTheirAbsolutePaths) {
    plainLayout();
    set.backupFullPath = 1;
    set.sourceFolders.clear();
    set.sourceFolders.add(L"src/s?b");
    set.sourceFolders.add(L"./src/cache");
    const CurrentFolder inTest(dir.path());
    const std::string here = std::filesystem::current_path().string();  // begins with "/"
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + here + "/src/sub/c.txt"), "charlie!");
    EXPECT_EQ(readFile(target + here + "/src/cache/e.txt"), "cached");
    EXPECT_FALSE(exists(target + "/src")) << "not below the target as written";
    EXPECT_EQ(set.logFilePath.narrow(), target + "/backup-Docs.log");
    EXPECT_THAT(log(), Contains("  source folder = src/s?b")) << "logged as stored";
}

// A run over a tree that each test builds itself.
using UpdateRunTest = RunFixture;

TEST_F(UpdateRunTest, SecondRunRewritesOnlyWhatChanged) {
    plainLayout();
    for (const char* name : {"same", "sized", "late", "close"}) {
        writeFile(source + "/" + name, "abcd");
        setMtime(source + "/" + name, 1700000000);
    }
    run();
    ASSERT_EQ(set.filesCopied, 4);
    writeFile(target + "/only-in-target", "keep me");

    const auto before = statOf(target + "/same");
    writeFile(source + "/sized", "abcde");
    setMtime(source + "/sized", 1700000000);
    setMtime(source + "/late", 1700000003);
    setMtime(source + "/close", 1700000002);
    run();
    EXPECT_EQ(set.filesCopied, 2);
    EXPECT_EQ(set.filesUnchanged, 2);
    EXPECT_EQ(readFile(target + "/sized"), "abcde");
    EXPECT_EQ(statOf(target + "/late").st_mtim.tv_sec, 1700000003);
    EXPECT_EQ(statOf(target + "/close").st_mtim.tv_sec, 1700000000) << "2 s counts as unchanged";
    const auto after = statOf(target + "/same");
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(readFile(target + "/only-in-target"), "keep me");
    EXPECT_EQ(set.status, Complete);
}

TEST_F(UpdateRunTest, TemporaryFilesOfAKilledRunGoButLookalikesAndTheSourcesOwnStay) {
    plainLayout();
    const std::string leftover = ".~ulvaren-0123456789abcdef.tmp";
    const std::string usersOwn = ".~ulvaren-fedcba9876543210.tmp";
    writeFile(source + "/sub/a.txt", "a");
    writeFile(source + "/" + usersOwn, "the user's");
    for (const std::string& name : {leftover, std::string(".~ulvaren-notes.tmp"), usersOwn})
        writeFile(target + "/" + name, "half a copy");
    writeFile(target + "/sub/" + leftover, "half a copy");
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_FALSE(exists(target + "/" + leftover));
    EXPECT_FALSE(exists(target + "/sub/" + leftover));
    EXPECT_EQ(readFile(target + "/.~ulvaren-notes.tmp"), "half a copy");
    EXPECT_EQ(readFile(target + "/" + usersOwn), "the user's") << "a source file is copied";
}

TEST_F(UpdateRunTest, TargetNamesakeDifferingInCaseCountsAsTheSameFile) {
    plainLayout();
    writeFile(source + "/Report.TXT", "data");
    setMtime(source + "/Report.TXT", 1700000000);
    writeFile(target + "/report.txt", "data");
    setMtime(target + "/report.txt", 1700000001);
    run();
    EXPECT_EQ(set.filesUnchanged, 1);
    EXPECT_FALSE(exists(target + "/Report.TXT"));

    // On a case-sensitive volume both spellings may exist; each takes its own.
    writeFile(source + "/report.txt", "other");
    setMtime(source + "/report.txt", 1700000000);
    writeFile(target + "/Report.TXT", "data");
    setMtime(target + "/Report.TXT", 1700000000);
    run();
    EXPECT_EQ(set.filesUnchanged, 1);
    EXPECT_EQ(set.filesCopied, 1);
    EXPECT_EQ(readFile(target + "/report.txt"), "other");
    EXPECT_EQ(readFile(target + "/Report.TXT"), "data");
}

TEST_F(UpdateRunTest, NamesakesOfTheOtherKindFailAndAreRecorded) {
    plainLayout();
    writeFile(source + "/clash", "file in source");
    writeFile(source + "/dir/inner", "x");
    writeFile(source + "/ok", "fine");
    makeDirs(target + "/clash");
    writeFile(target + "/dir", "file in target");
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(source + "/clash"));
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(target + "/dir"));
    EXPECT_EQ(readFile(target + "/ok"), "fine");
    EXPECT_EQ(readFile(target + "/dir"), "file in target");
}

TEST_F(RunSequenceTest, WhatARunWroteIsFlushedBeforeItEndsAndAFailedFlushFailsIt) {
    plainLayout();
    FaultySystem faults;
    std::atomic<int> flushes{0};
    faults.on(FaultySystem::Flush, target, [&](int) {
        flushes += 1;
        return FaultySystem::Outcome();
    });
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(flushes, 1);
    run();
    EXPECT_EQ(flushes, 1) << "a run that wrote nothing has nothing to flush";

    writeFile(source + "/a.txt", "changed");
    faults.fail(FaultySystem::Flush, target, EIO);
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(target));
}

TEST_F(RunSequenceTest, SetNameThatIsNoPlainNameFailsAndWritesNothing) {
    set.backupAddBackupSetFolder = 1;
    for (const wchar_t* name : {L"..", L"a/b", L"", L"line\nbreak"}) {
        set.backupName = name;
        run();
        EXPECT_EQ(set.status, Failed) << terbin::TBString(name).narrow();
        EXPECT_TRUE(namesIn(target).empty()) << terbin::TBString(name).narrow();
    }
}

TEST_F(RunSequenceTest, MissingPlainSourceFailsAndCostsNoBackupWhileAnEmptyPatternIsFine) {
    set.backupFullPath = 0;
    set.backupType = DateTimeSubfolder;
    set.backupFolderCount = 1;
    const std::string top = target + "/pc";
    runAt("20250101-000000");
    runAt("20250102-000000");
    ASSERT_EQ(namesIn(top).size(), 4u) << "two complete backups and their logs";

    set.sourceFolders.clear();
    set.sourceFolders.add(terbin::TBString::fromBytes(dir / "gone"));
    set.sourceFolders.add(terbin::TBString::fromBytes(dir / "nothing*"));
    runAt("20250103-000000");
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(dir / "gone"));
    EXPECT_EQ(readFile(top + "/20250101-000000/a.txt"), "alpha") << "no source, no pruning";

    set.sourceFolders.removeAt(0);
    set.sourceFolders.add(terbin::TBString::fromBytes(source));
    runAt("20250104-000000");
    EXPECT_EQ(set.status, Complete);
    EXPECT_FALSE(exists(top + "/20250101-000000")) << "pruned once a source was there";
}

TEST_F(RunSequenceTest, NamesFoundBelowAPatternAreNamesNotPaths) {
    plainLayout();
    writeFile(outside + "/secret.txt", "not in the set");
    writeFile(source + "/..\\outside/mine.txt", "mine");
    set.sourceFolders.clear();
    set.sourceFolders.add(terbin::TBString::fromBytes(source + "/*"));
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + "/mine.txt"), "mine");
    EXPECT_FALSE(exists(target + "/secret.txt"));
}

TEST_F(RunSequenceTest, RunNotAllowedCancelsWithoutTouchingAnything) {
    set.filesCopied = 9;
    theBaseApp.runAllowed = false;
    run();
    EXPECT_EQ(set.status, Cancelled);
    EXPECT_EQ(set.filesCopied, 9) << "the previous run's figures stay visible";
    EXPECT_TRUE(namesIn(target).empty());

    theBaseApp.runAllowed = true;
    set.backupCreateLog = 0;
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_FALSE(exists(set.logFilePath.narrow())) << "no log file when logging is off";
}

TEST_F(RunSequenceTest, BackupsInsideTheSourceAreNotBackedUpButTheirNeighboursAre) {
    // This set's own target lies inside its source, and so does another's.
    set.targetFolder = terbin::TBString::fromBytes(source + "/backups");
    set.backupFullPath = 0;
    writeFile(source + "/backups/notes.txt", "mine");
    writeFile(source + "/backups/other/old.txt", "a backup");
    BackupSet other;
    other.backupName = L"Other";
    other.targetFolder = terbin::TBString::fromBytes(source + "/backups/other");
    other.backupAddComputerFolder = 0;
    const InCatalogue listed(&other);
    run();
    run();
    EXPECT_EQ(set.status, Complete);
    const std::string final = source + "/backups/pc/20261206";
    EXPECT_EQ(readFile(final + "/a.txt"), "alpha");
    EXPECT_EQ(readFile(final + "/backups/notes.txt"), "mine") << "a file beside the backups";
    EXPECT_FALSE(exists(final + "/backups/pc"));
    EXPECT_FALSE(exists(final + "/backups/other"));
    EXPECT_THAT(log(), Contains(" skipped folder " + source + "/backups/other"));
    EXPECT_EQ(set.foldersSkipped, 2);
    EXPECT_EQ(set.filesUnchanged, 6) << "the source's own six files, nothing from the backups";
}

TEST_F(RunSequenceTest, PruningRemovesOnlyThisSetsBackupsUnfinishedFirstAndNeverTheLastComplete) {
    set.backupFullPath = 0;
    set.backupType = DateTimeSubfolder;
    set.backupFolderCount = 1;
    const std::string top = target + "/pc";
    // Another set shares the target folder, and a folder with a dated name
    // was put there by hand: neither is this set's to remove.
    BackupSet other(set);
    other.backupName = L"Other";
    ASSERT_FALSE(other.saveNew(L"").isEmpty());
    const auto runOther = [&](const wchar_t* stamp) {
        BackupJob job(&other);
        theBaseApp.backupDateTime = stamp;
        job.run();
        ASSERT_EQ(other.status, Complete);
    };
    runOther(L"20250100-000000");
    writeFile(top + "/20240101-000000/mine.txt", "not a backup");

    runAt("20250101-000000");
    set.sourceFolders.add(terbin::TBString::fromBytes(dir / "gone"));
    runAt("20250102-000000");
    EXPECT_EQ(set.status, Failed);
    EXPECT_TRUE(exists(top + "/20250101-000000")) << "the last complete backup stays";
    set.sourceFolders.removeAt(1);
    writeFile(top + "/backup-Docs-20250102-000000.log.1", "an older part of its log");
    runAt("20250103-000000");
    EXPECT_THAT(logLines(" removing old backup subfolder "), ElementsAre(top + "/20250102-000000"))
        << "the failed one goes first; the last complete one is kept until this one is";
    EXPECT_FALSE(exists(top + "/backup-Docs-20250102-000000.log"));
    EXPECT_FALSE(exists(top + "/backup-Docs-20250102-000000.log.1"));

    // A backup that holds one of the set's source folders is kept.
    set.sourceFolders.add(terbin::TBString::fromBytes(top + "/20250101-000000/a-folder"));
    makeDirs(top + "/20250101-000000/a-folder");
    runAt("20250104-000000");
    EXPECT_EQ(set.status, Complete);
    EXPECT_TRUE(logLines(" removing old backup subfolder ").empty());
    set.sourceFolders.removeAt(1);

    // Links inside an old backup go, and what they point to stays. The other
    // set ran into one of this set's backups on the same day: that folder
    // stops counting for this set, and stays for the other.
    writeFile(outside + "/keep.txt", "mine");
    ASSERT_EQ(symlink(outside.c_str(), (top + "/20250101-000000/outside").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), (top + "/20250101-000000/file").c_str()), 0);
    runOther(L"20250103-000000");
    // A dated folder made by hand before the run writes into it is never
    // taken for a backup of the set.
    writeFile(top + "/20250105-000000/mine.txt", "made by hand");
    runAt("20250105-000000");
    EXPECT_EQ(set.status, Complete);
    EXPECT_THAT(logLines(" removing old backup subfolder "), ElementsAre(top + "/20250101-000000"));
    EXPECT_FALSE(exists(top + "/20250101-000000"));
    EXPECT_EQ(readFile(outside + "/keep.txt"), "mine");
    EXPECT_EQ(readFile(top + "/20250103-000000/a.txt"), "alpha") << "the other set's too";
    EXPECT_EQ(readFile(top + "/20250100-000000/a.txt"), "alpha") << "the other set's backup";
    EXPECT_EQ(readFile(top + "/20240101-000000/mine.txt"), "not a backup");
    runAt("20250106-000000");
    runAt("20250107-000000");
    EXPECT_EQ(readFile(top + "/20250105-000000/mine.txt"), "made by hand");
    EXPECT_THAT(logLines(" removing old backup subfolder "), ElementsAre(top + "/20250104-000000"));
}

TEST_F(RunSequenceTest, TargetOnAnotherVolumeIsRefusedWritingNothingUntilTheTargetChanges) {
    set.backupFullPath = 0;
    const RunRecords records(set);
    runAt("20250101-000000");
    ASSERT_EQ(set.status, Complete);
    std::optional<TargetRecord> known = records.target();
    ASSERT_TRUE(known);
    EXPECT_EQ(known->folder.narrow(), target);
    // A drive that comes back under another device number is still the
    // drive; the folder on a volume the set has not seen there (an empty
    // mount point, to the run) is not.
    TargetRecord moved = *known;
    moved.volume.device += 1;
    ASSERT_EQ(records.saveTarget(moved), 0u);
    runAt("20250101-000000");
    EXPECT_EQ(set.status, Complete);
    moved.volume.fileSystem += 1;
    ASSERT_EQ(records.saveTarget(moved), 0u);
    const auto before = namesIn(target + "/pc");
    runAt("20250102-000000");
    EXPECT_EQ(set.status, Failed);
    EXPECT_EQ(namesIn(target + "/pc"), before);
    const std::optional<LastRunRecord> last = records.lastRun();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->status, Failed);
    EXPECT_EQ(last->reason.narrow(),
              "its target folder " + target + " is not on the drive of its last complete run");
    EXPECT_TRUE(last->logFile.isEmpty());

    // Given another target, the set runs again.
    intoFreshTarget("new-drive");
    runAt("20250103-000000");
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(records.lastRun()->filesCopied, 5);

    // Removed elsewhere, its key name given to a new set: the run that was
    // going on records nothing for the newcomer.
    ASSERT_EQ(terbin::tb_registry_removeKey(terbin::TBHiveCurrentUser,
                                            BackupSet::registryKeyPath(set.registryKeyName)),
              0u);
    BackupSet newcomer;
    newcomer.backupName = L"New";
    ASSERT_EQ(newcomer.saveNew(set.registryKeyName), set.registryKeyName);
    runAt("20250104-000000");
    EXPECT_FALSE(RunRecords(newcomer).lastRun());
    EXPECT_FALSE(RunRecords(newcomer).target());
    EXPECT_TRUE(RunRecords(newcomer).backupFolders().empty());
}

class ScriptRunTest : public RunSequenceTest {
protected:
    void SetUp() override {
        RunSequenceTest::SetUp();
        set.backupFullPath = 0;
        set.backupFolderCount = 1;
        set.postBackupEnabled = 1;
        set.postBackupWaitForCompletion = 1;
        set.postBackupProgram = L"/bin/sh";
        set.postBackupArgs = terbin::TBString::fromBytes("-c 'echo ran > " + dir / "post" + "'");
    }
    void preScript(const std::string& args, const std::string& program = "/bin/sh") {
        set.preBackupEnabled = 1;
        set.preBackupProgram = terbin::TBString::fromBytes(program);
        set.preBackupArgs = terbin::TBString::fromBytes(args);
    }
};

TEST_F(ScriptRunTest, FailingPreScriptStopsTheCopyButNotThePostScript) {
    preScript("-c 'exit 2'");
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_FALSE(exists(target + "/pc/20261206/a.txt"));
    EXPECT_EQ(readFile(dir / "post"), "ran\n");
    const auto lines = log();
    const std::vector<std::string> expected = {
        "  executing pre-backup script",       "    program           = /bin/sh",
        "    args              = -c 'exit 2'", "    waitForCompletion = 1",
        "    waitTimeout\t      = 0",          "    waitTimeoutMS     = 60000",
        "  pre-backup script failed",          "  executing post-backup script"};
    auto at = std::find(lines.begin(), lines.end(), expected[0]);
    ASSERT_GE(lines.end() - at, 8) << "the script lines are missing or cut short";
    EXPECT_EQ(std::vector<std::string>(at, at + 8), expected);
    EXPECT_THAT(lines, Contains("  post-backup script SUCCEEDED"));
    EXPECT_THAT(lines, Contains("backup set Docs ended - Failed"));
    EXPECT_THAT(lines, Contains("  0 file(s) 0 bytes copied"));
}

TEST_F(ScriptRunTest, IgnoredStatusOrNoWaitCompleteLeavingNoZombieButFailedPostScriptFails) {
    preScript("-c 'exit 2'");
    set.preBackupIgnoreStatus = 1;
    run();
    EXPECT_EQ(set.status, Complete);
    set.preBackupIgnoreStatus = 0;
    set.preBackupWaitForCompletion = 0;
    set.postBackupWaitForCompletion = 0;
    set.postBackupArgs = terbin::TBString::fromBytes("-c 'echo $$ > " + dir / "pid" + "'");
    run();
    EXPECT_EQ(set.status, Complete);
    ASSERT_TRUE(eventually([&] { return readFile(dir / "pid").size() > 1; }));
    const std::string proc = "/proc/" + std::to_string(std::stoi(readFile(dir / "pid")));
    EXPECT_TRUE(eventually([&] { return !exists(proc); })) << "reaped, not left as a zombie";

    set.postBackupWaitForCompletion = 1;
    set.postBackupArgs = L"-c 'exit 1'";
    run();
    EXPECT_EQ(set.status, Failed) << "a failing post-backup script fails a complete run";
    EXPECT_THAT(log(), Contains("  post-backup script FAILED"));
}

TEST_F(ScriptRunTest, TimedOutScriptIsEndedAndFailsTheRun) {
    preScript("-c 'echo $$ > " + dir / "pid" + "; exec sleep 30'");
    set.preBackupTimeout = 1;
    set.preBackupTimeoutMS = 300;
    const auto started = std::chrono::steady_clock::now();
    run();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(set.status, Failed);
    const pid_t pid = std::stoi(readFile(dir / "pid"));
    EXPECT_EQ(kill(pid, 0), -1) << "the script's process is gone";
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(ScriptRunTest, StopDuringAWaitedForScriptEndsItLogsWhyAndCancelsTheRun) {
    // Neither script ever ends by itself; each writes its id once running.
    const std::string pidFile = dir / "pid";
    const std::string holds =
        "-c 'echo $$ > " + pidFile + ".tmp; mv " + pidFile + ".tmp " + pidFile + "; sleep 1000'";
    preScript(holds);
    // The pre-backup script is stopped by a stop of the set, the post-backup
    // script by a stop of every run.
    for (const bool pre : {true, false}) {
        SCOPED_TRACE(pre ? "pre-backup script" : "post-backup script");
        ::unlink(pidFile.c_str());
        theBaseApp.runAllowed = true;
        set.stopRequested = false;
        set.preBackupArgs = terbin::TBString::fromBytes(pre ? holds : "-c 'exit 0'");
        set.postBackupArgs = terbin::TBString::fromBytes(pre ? "-c 'exit 0'" : holds);
        std::future<void> worker = std::async(std::launch::async, [&] { run(); });
        const bool running = eventually([&] { return exists(pidFile); });
        if (pre)
            set.stopRequested = true;
        else
            theBaseApp.runAllowed = false;
        const bool ended = worker.wait_for(EventuallyLimit) == std::future_status::ready;
        if (running && !ended)
            kill(-std::stoi(readFile(pidFile)), SIGKILL);  // releases the run
        worker.wait();
        ASSERT_TRUE(running);
        ASSERT_TRUE(ended) << "the run waited for the script after the stop";

        EXPECT_EQ(set.status, Cancelled);
        const pid_t group = std::stoi(readFile(pidFile));
        // The script is ended and reaped; its child is left to init, which
        // reaps it in its own time.
        EXPECT_TRUE(eventually([group] { return kill(-group, 0) != 0 && errno == ESRCH; }));
        const std::string which = pre ? "pre" : "post";
        const std::string stopThenFailure[] = {
            "  stopped the " + which + "-backup script",
            "  " + which + "-backup script " + (pre ? "failed" : "FAILED")};
        const auto lines = log();
        EXPECT_TRUE(std::search(lines.begin(), lines.end(), std::begin(stopThenFailure),
                                std::end(stopThenFailure)) != lines.end());
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "  executing post-backup script"),
                  pre ? 0 : 1)
            << "no script runs after a stop";
        EXPECT_EQ(lines.back().rfind("  0 file(s) failed", 0), 0u);
    }
}

}  // namespace
