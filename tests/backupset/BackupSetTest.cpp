#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

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

// The activity snapshot as "activity message|source|target copied/size".
std::string stateOf(BackupSet& set) {
    BackupSetState s;
    set.getState(s);
    return std::to_string(s.activity) + " " +
           (s.message + L"|" + s.sourcePath + L"|" + s.targetPath).narrow() + " " +
           std::to_string(s.fileBytesCopied) + "/" + std::to_string(s.fileSize);
}

// The counters and the status, which assignment copies and initstats resets.
std::vector<int64_t> statistics(const BackupSet& set) {
    return {set.foldersScanned, set.foldersSkipped, set.filesCopied, set.filesSkipped,
            set.filesUnchanged, set.bytesCopied,    set.status};
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
    EXPECT_EQ(statistics(a), statistics(b));
    EXPECT_EQ(a.modified.load(), b.modified.load());
    EXPECT_EQ(a.registryKeyName, b.registryKeyName);
    EXPECT_EQ(a.failedFiles, b.failedFiles);
    EXPECT_EQ(a.failedFolders, b.failedFolders);
}

TEST(BackupSetCopy, TakesSettingsAndStatisticsButANewCopyHasNoRunStateAndAnAssignedOneItsOwn) {
    BackupSet source;
    fillEveryField(source);
    BackupSet copy(source);
    BackupSet target;
    target.stopRequested = true;
    target.logFilePath = L"/old.log";
    target.setState(ScanningFolder, L"/scanning", L"", 0, 0);
    target = source;
    expectSameSettingsAndStatistics(copy, source);
    expectSameSettingsAndStatistics(target, source);
    EXPECT_FALSE(copy.pauseRequested || copy.stopRequested || copy.waitingForDiskSpace);
    EXPECT_TRUE(copy.logFilePath.isEmpty());
    EXPECT_EQ(stateOf(copy), "0 || 0/0");
    EXPECT_TRUE(target.stopRequested && !target.pauseRequested && !target.waitingForDiskSpace);
    EXPECT_EQ(target.logFilePath, TBString(L"/old.log"));
    EXPECT_EQ(stateOf(target), "1 /scanning|| 0/0");
}

TEST(BackupSetState, SetStateKeepsFieldsItDoesNotName) {
    BackupSet set;
    set.setState(CopyingFile, L"s", L"t", 0, 100);
    set.setState(ScanningFolder, L"a", L"b", 5, 6);
    EXPECT_EQ(stateOf(set), "1 a|s|t 0/100");
    set.setState(6, L"x", L"y", 1, 2);
    EXPECT_EQ(stateOf(set), "6 a|s|t 0/100");
    set.setState(CopyingFile, L"s2", L"t2", 0, 9000);
    set.setCopyProgress(4096);
    EXPECT_EQ(stateOf(set), "3 a|s2|t2 4096/9000");
}

TEST(BackupSetState, InitstatsResetsStatisticsOnly) {
    BackupSet set;
    fillEveryField(set);
    set.initstats();
    EXPECT_EQ(statistics(set), (std::vector<int64_t>{0, 0, 0, 0, 0, 0, Ready}));
    EXPECT_TRUE(set.failedFiles.isEmpty() && set.failedFolders.isEmpty());
    EXPECT_FALSE(set.waitingForDiskSpace);
    EXPECT_TRUE(set.stopRequested && set.pauseRequested && set.modified);
    EXPECT_FALSE(set.logFilePath.isEmpty());
    EXPECT_EQ(stateOf(set), "3 |/s|/t 7/9");
}

TEST(BackupSetTexts, EveryStatusHasATextOfItsOwnAndUnknownValuesReadAsUnknownOrNoSubfolder) {
    BackupSet set;
    std::set<std::wstring> texts;
    for (set.status = -1; set.status <= RunningPostScript + 1; ++set.status) {
        texts.insert(set.getStatusString().str());
        EXPECT_EQ(set.isRunning(), set.status == Running) << set.status;
    }
    EXPECT_EQ(texts.size(), 9u) << "eight statuses and one text for the rest";
    EXPECT_EQ(BackupSet::statusString(-1), TBString(L"Unknown"));
    EXPECT_EQ(BackupSet::statusString(RunningPostScript + 1), TBString(L"Unknown"));
    for (const int32_t type : {0, 3, -1})
        EXPECT_EQ(BackupSet::backupTypeName(type), TBString(L"No subfolder")) << type;
}

TEST(BackupSetTarget, NetworkPathKeepsDoubleSeparator) {
    BackupSet set;
    set.setTargetFolder(L"\\\\server\\share\\\\backups\\");
    EXPECT_EQ(set.targetFolder, TBString(L"//server/share/backups"));
    set.setTargetFolder(L"/mnt//disk/./b/");
    EXPECT_EQ(set.targetFolder, TBString(L"/mnt/disk/b"));
}

}  // namespace
