#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/backupset/SettingValues.h"

using terbin::TBString;

namespace {

// The activity snapshot as "activity message|source|target copied/size".
std::string stateOf(BackupSet& set) {
    BackupSetState s;
    set.getState(s);
    return std::to_string(s.activity) + " " +
           (s.message + L"|" + s.sourcePath + L"|" + s.targetPath).narrow() + " " +
           std::to_string(s.fileBytesCopied) + "/" + std::to_string(s.fileSize);
}

// The counters, the failed lists and the status, which assignment copies and
// initstats resets.
std::vector<std::wstring> statistics(const BackupSet& set) {
    std::vector<std::wstring> out;
    for (const int64_t n :
         {int64_t{set.foldersScanned}, int64_t{set.foldersSkipped}, int64_t{set.filesCopied},
          int64_t{set.filesSkipped}, int64_t{set.filesUnchanged}, int64_t{set.bytesCopied}})
        out.push_back(std::to_wstring(n));
    out.push_back(std::to_wstring(set.status) + L" " + std::to_wstring(set.failedFiles.size()) +
                  L" " + std::to_wstring(set.failedFolders.size()));
    return out;
}

TEST(BackupSetCopy, TakesSettingsAndStatisticsButAssignmentKeepsItsOwnRunState) {
    BackupSet source;
    const auto settings = fillSettings(source, 1);
    source.registryKeyName = L"BackupSet3";
    source.foldersScanned = 1;
    source.foldersSkipped = 2;
    source.filesCopied = 3;
    source.filesSkipped = 4;
    source.filesUnchanged = 5;
    source.bytesCopied = 1ll << 40;
    source.failedFiles.add(L"/f");
    source.failedFolders.add(L"/d");
    source.status = Failed;
    source.stopRequested = true;
    source.setState(CopyingFile, L"/s", L"/t", 7, 9);
    BackupSet target;
    target.setState(ScanningFolder, L"/scanning", L"", 0, 0);
    target = source;
    const BackupSet copied(source);
    for (const BackupSet* copy : {static_cast<const BackupSet*>(&target), &copied}) {
        EXPECT_EQ(settingsOf(*copy), settings);
        EXPECT_EQ(statistics(*copy), statistics(source));
        EXPECT_EQ(copy->registryKeyName, source.registryKeyName);
    }
    EXPECT_FALSE(copied.stopRequested);
    EXPECT_FALSE(target.stopRequested);
    EXPECT_EQ(stateOf(target), "1 /scanning|| 0/0");

    source.initstats();
    EXPECT_EQ(statistics(source), statistics(BackupSet()));
    EXPECT_TRUE(source.stopRequested) << "a request outlives the statistics";
    EXPECT_EQ(stateOf(source), "3 |/s|/t 7/9");
}

}  // namespace
