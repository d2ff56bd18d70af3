#include <gtest/gtest.h>

#include "backupset/BackupSet.h"
#include "backupset/BackupSetFields.h"

using terbin::TBString;

namespace {

// Values unlike every default and unlike each other.
void fill(TBString& text, int n) {
    text = L"/setting " + TBString::valueOf(n);
}
void fill(int32_t& number, int n) {
    number = 1000 + n;
}
void fill(terbin::TBStringArray& list, int n) {
    list = terbin::TBStringArray{L"/entry " + TBString::valueOf(n), L"/entry"};
}

// Every setting and every statistic that assignment copies gets a value
// unlike its default; the run state that it leaves alone is set too.
void fillEveryField(BackupSet& set) {
    int n = 0;
    forEachSetting([&](const auto& setting) { fill(set.*setting.field, n++); });
    set.modified = true;
    set.registryKeyName = L"BackupSet3";
    set.foldersScanned = 1;
    set.foldersSkipped = 2;
    set.filesCopied = 3;
    set.filesSkipped = 4;
    set.filesUnchanged = 5;
    set.bytesCopied = 1ll << 40;
    set.failedFiles.add(L"/f");
    set.failedFolders.add(L"/d");
    set.status = Failed;
    set.pauseRequested = true;
    set.stopRequested = true;
    set.waitingForDiskSpace = true;
    set.logFilePath = L"/backups/backup-Docs.log";
    set.setState(CopyingFile, L"/s", L"/t", 7, 9);
}

void expectSameSettingsAndStatistics(const BackupSet& a, const BackupSet& b) {
    forEachSetting([&](const auto& setting) {
        EXPECT_EQ(a.*setting.field, b.*setting.field) << TBString(setting.name).narrow();
    });
    EXPECT_EQ(a.modified.load(), b.modified.load());
    EXPECT_EQ(a.registryKeyName, b.registryKeyName);
    EXPECT_EQ(a.foldersScanned.load(), b.foldersScanned.load());
    EXPECT_EQ(a.foldersSkipped.load(), b.foldersSkipped.load());
    EXPECT_EQ(a.filesCopied.load(), b.filesCopied.load());
    EXPECT_EQ(a.filesSkipped.load(), b.filesSkipped.load());
    EXPECT_EQ(a.filesUnchanged.load(), b.filesUnchanged.load());
    EXPECT_EQ(a.bytesCopied.load(), b.bytesCopied.load());
    EXPECT_EQ(a.failedFiles, b.failedFiles);
    EXPECT_EQ(a.failedFolders, b.failedFolders);
    EXPECT_EQ(a.status.load(), b.status.load());
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
