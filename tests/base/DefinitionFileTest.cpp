#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "fuzz/DefinitionFileInput.h"
#include "support/TempDir.h"

using terbin::TBString;
using terbin::TBStringArray;

namespace {

// The fuzzer's seed corpus doubles as the sample definition files here.
std::string corpusFile(const char* name) {
    return (std::filesystem::path(__FILE__).parent_path() / "../../fuzz/corpus" / name).string();
}

TEST(DefinitionFile, EveryElementSetsItsField) {
    BackupSet set;
    ASSERT_TRUE(runDefinitionFileInput(readFile(corpusFile("full.xml")), set));
    EXPECT_EQ(set.backupName, TBString(L"Projects & Papers"));
    EXPECT_EQ(set.backupType, DateTimeSubfolder);
    EXPECT_EQ(set.backupFolderCount, 6);
    EXPECT_EQ(set.backupFullPath, 0);
    EXPECT_EQ(set.backupAddComputerFolder, 0);
    EXPECT_EQ(set.backupAddBackupSetFolder, 1);
    EXPECT_EQ(set.backupExcludeFromStartAll, 1);
    EXPECT_EQ(set.preBackupProgram, TBString(L"/usr/local/bin/mount-backup-disk"));
    EXPECT_EQ(set.preBackupArgs, TBString(L"--wait \"Backup Disk\""));
    EXPECT_EQ(set.preBackupEnabled + set.preBackupTimeout, 2);
    EXPECT_EQ(set.preBackupTimeoutMS, 30000);
    EXPECT_EQ(set.postBackupProgram, TBString(L"/usr/local/bin/unmount-backup-disk"));
    EXPECT_EQ(set.postBackupIgnoreStatus, 1);
    EXPECT_EQ(set.sourceFolders, (TBStringArray{L"/home/ann/Projects", L"/home/ann/Papers"}));
    EXPECT_EQ(set.excludeFolders, (TBStringArray{L"build", L".git"}));
    EXPECT_EQ(set.excludeFiles, (TBStringArray{L"*.o", L"*.tmp"}));
    EXPECT_EQ(set.includeFiles, (TBStringArray{L"*"}));
}

TEST(DefinitionFile, MissingElementsKeepDefaultsAndListsKeepEveryEntry) {
    BackupSet set;
    ASSERT_TRUE(runDefinitionFileInput(readFile(corpusFile("minimal.xml")), set));
    EXPECT_EQ(set.backupName, TBString(L"Minimal"));
    EXPECT_EQ(set.backupType, DateSubfolder);
    EXPECT_EQ(set.backupFullPath + set.backupCreateLog + set.backupAddComputerFolder, 3);
    ASSERT_TRUE(runDefinitionFileInput(
        "<backupset><PreBackup><Enabled>1</Enabled></PreBackup><PostBackup/></backupset>", set));
    EXPECT_EQ(set.preBackupWaitForCompletion, 1);
    EXPECT_EQ(set.postBackupWaitForCompletion, 0);
    EXPECT_EQ(set.postBackupTimeoutMS, 60000);

    BackupSet listed;
    ASSERT_TRUE(runDefinitionFileInput(readFile(corpusFile("entities.xml")), listed));
    EXPECT_EQ(listed.sourceFolders,
              (TBStringArray{L"/home/ann/Music", L"/home/ann/Music", L"/home/ann/<odd>"}));
}

TEST(DefinitionFile, HostileInputsYieldNoSetOrNothingFromOutside) {
    TempDir dir;
    writeFile(dir / "secret", "TOPSECRET");
    // 1000 entries of 4000 bytes each from a document of a few kilobytes.
    std::string blowup = "<!DOCTYPE backupset [<!ENTITY a \"" + std::string(4000, 'a') +
                         "\">]><backupset><SourceFolders>";
    for (int i = 0; i < 1000; ++i) blowup += "<n>&a;</n>";
    blowup += "</SourceFolders></backupset>";
    BackupSet rejected;
    EXPECT_FALSE(runDefinitionFileInput(blowup, rejected));
    EXPECT_TRUE(rejected.sourceFolders.isEmpty());
    BackupSet set;
    ASSERT_TRUE(runDefinitionFileInput("<!DOCTYPE backupset [<!ENTITY s SYSTEM \"file://" +
                                           (dir / "secret") +
                                           "\">]><backupset><Name>[&s;]</Name></backupset>",
                                       set));
    EXPECT_EQ(set.backupName, TBString(L"[]"));
}

}  // namespace
