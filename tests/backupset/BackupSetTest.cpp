#include <gtest/gtest.h>

#include "backupset/BackupSet.h"

using terbin::TBString;

namespace {

// Every field that assignment copies, each with a value unlike its default.
#define COPIED_SCALARS(X)                                                                          \
    X(backupType, DateTimeSubfolder)                                                               \
    X(backupFolderCount, 7) X(backupFullPath, 0) X(backupAddComputerFolder, 0)                     \
        X(backupAddBackupSetFolder, 1) X(backupFollowSymLinks, 1) X(backupCreateLog, 0)            \
            X(backupExcludeFromStartAll, 1) X(preBackupEnabled, 1)                                 \
                X(preBackupWaitForCompletion, 0) X(preBackupIgnoreStatus, 1)                       \
                    X(preBackupTimeout, 1) X(preBackupTimeoutMS, 5) X(postBackupEnabled, 1)        \
                        X(postBackupWaitForCompletion, 1) X(postBackupIgnoreStatus, 1)             \
                            X(postBackupTimeout, 1) X(postBackupTimeoutMS, 6) X(foldersScanned, 1) \
                                X(foldersSkipped, 2) X(filesCopied, 3) X(filesSkipped, 4)          \
                                    X(filesUnchanged, 5) X(bytesCopied, 1ll << 40)                 \
                                        X(status, Failed) X(modified, true)
#define COPIED_TEXTS(X)                                                                   \
    X(backupName, L"Docs")                                                                \
    X(targetFolder, L"/backups") X(preBackupProgram, L"/bin/pre") X(preBackupArgs, L"-a") \
        X(postBackupProgram, L"/bin/post") X(postBackupArgs, L"-b")                       \
            X(registryKeyName, L"BackupSet3")
#define COPIED_LISTS(X)                                                             \
    X(sourceFolders, L"/home/ann")                                                  \
    X(includeFiles, L"*.doc") X(excludeFiles, L"*.tmp") X(excludeFolders, L"cache") \
        X(failedFiles, L"/f") X(failedFolders, L"/d")

void fillEveryField(BackupSet& set) {
#define SET_VALUE(field, value) set.field = value;
#define ADD_VALUE(field, value) set.field.add(value);
    COPIED_SCALARS(SET_VALUE)
    COPIED_TEXTS(SET_VALUE)
    COPIED_LISTS(ADD_VALUE)
    set.pauseRequested = true;
    set.stopRequested = true;
    set.waitingForDiskSpace = true;
    set.logFilePath = L"/backups/backup-Docs.log";
    set.setState(CopyingFile, L"/s", L"/t", 7, 9);
}

void expectSameSettingsAndStatistics(const BackupSet& a, const BackupSet& b) {
#define EXPECT_SAME(field, value) EXPECT_EQ(a.field, b.field) << #field;
    COPIED_SCALARS(EXPECT_SAME)
    COPIED_TEXTS(EXPECT_SAME)
    COPIED_LISTS(EXPECT_SAME)
}

TEST(BackupSetCopy, CopyConstructorTakesSettingsButNotRunState) {
    BackupSet source;
    fillEveryField(source);
    BackupSet copy(source);
    expectSameSettingsAndStatistics(copy, source);
    EXPECT_FALSE(copy.pauseRequested);
    EXPECT_FALSE(copy.stopRequested);
    EXPECT_FALSE(copy.waitingForDiskSpace);
    EXPECT_TRUE(copy.logFilePath.isEmpty());
    BackupSetState state;
    copy.getState(state);
    EXPECT_TRUE(state.sourcePath.isEmpty());
}

TEST(BackupSetCopy, AssignmentKeepsTheTargetsOwnRunState) {
    BackupSet source;
    fillEveryField(source);
    BackupSet target;
    target.stopRequested = true;
    target.logFilePath = L"/old.log";
    target.setState(ScanningFolder, L"/scanning", L"", 0, 0);
    target = source;
    expectSameSettingsAndStatistics(target, source);
    EXPECT_TRUE(target.stopRequested);
    EXPECT_FALSE(target.pauseRequested);
    EXPECT_EQ(target.logFilePath, TBString(L"/old.log"));
    BackupSetState state;
    target.getState(state);
    EXPECT_EQ(state.activity, ScanningFolder);
    EXPECT_EQ(state.message, TBString(L"/scanning"));
}

TEST(BackupSetState, SetStateKeepsFieldsItDoesNotName) {
    BackupSet set;
    set.setState(CopyingFile, L"s", L"t", 0, 100);
    set.setState(ScanningFolder, L"a", L"b", 5, 6);
    BackupSetState state;
    set.getState(state);
    EXPECT_EQ(state.activity, ScanningFolder);
    EXPECT_EQ(state.message, TBString(L"a"));
    EXPECT_EQ(state.sourcePath, TBString(L"s"));
    EXPECT_EQ(state.targetPath, TBString(L"t"));
    EXPECT_EQ(state.fileBytesCopied, 0);
    EXPECT_EQ(state.fileSize, 100);

    set.setState(6, L"x", L"y", 1, 2);
    set.getState(state);
    EXPECT_EQ(state.activity, 6);
    EXPECT_EQ(state.message, TBString(L"a"));
    EXPECT_EQ(state.sourcePath, TBString(L"s"));

    set.setState(CopyingFile, L"s2", L"t2", 0, 9000);
    set.setCopyProgress(4096);
    set.getState(state);
    EXPECT_EQ(state.activity, CopyingFile);
    EXPECT_EQ(state.fileBytesCopied, 4096);
    EXPECT_EQ(state.fileSize, 9000);
}

TEST(BackupSetState, InitstatsResetsStatisticsOnly) {
    BackupSet set;
    fillEveryField(set);
    set.status = Complete;
    set.initstats();
    EXPECT_EQ(set.status, Ready);
    EXPECT_TRUE(set.failedFiles.isEmpty());
    EXPECT_TRUE(set.failedFolders.isEmpty());
    EXPECT_EQ(set.filesCopied + set.filesSkipped + set.filesUnchanged + set.foldersScanned +
                  set.foldersSkipped,
              0);
    EXPECT_EQ(set.bytesCopied, 0);
    EXPECT_FALSE(set.waitingForDiskSpace);
    EXPECT_TRUE(set.stopRequested);
    EXPECT_TRUE(set.pauseRequested);
    EXPECT_FALSE(set.logFilePath.isEmpty());
    BackupSetState state;
    set.getState(state);
    EXPECT_EQ(state.sourcePath, TBString(L"/s"));
}

TEST(BackupSetTexts, DisplayTextsForKnownAndUnknownValues) {
    BackupSet set;
    const std::pair<int, const wchar_t*> types[] = {{0, L"No subfolder"},
                                                    {1, L"Date SubFolder"},
                                                    {2, L"Date-Time SubFolder"},
                                                    {3, L"No subfolder"},
                                                    {-1, L"No subfolder"}};
    for (const auto& [value, text] : types) {
        set.backupType = value;
        EXPECT_EQ(set.backupTypeName(), TBString(text)) << value;
    }
    const std::pair<int, const wchar_t*> statuses[] = {{0, L"Ready"},
                                                       {1, L"Not Started"},
                                                       {2, L"Running"},
                                                       {3, L"Complete"},
                                                       {4, L"Failed"},
                                                       {5, L"Cancelled"},
                                                       {6, L"Running pre-backup script"},
                                                       {7, L"Running post-backup script"},
                                                       {8, L"Unknown"},
                                                       {-1, L"Unknown"}};
    for (const auto& [value, text] : statuses) {
        set.status = value;
        EXPECT_EQ(set.getStatusString(), TBString(text)) << value;
        EXPECT_EQ(set.isRunning(), value == Running) << value;
    }
}

TEST(BackupSetTarget, NetworkPathKeepsDoubleSeparator) {
    BackupSet set;
    set.setTargetFolder(L"\\\\server\\share\\\\backups\\");
    EXPECT_EQ(set.targetFolder, TBString(L"//server/share/backups"));
    set.setTargetFolder(L"/mnt//disk/./b/");
    EXPECT_EQ(set.targetFolder, TBString(L"/mnt/disk/b"));
}

}  // namespace
