#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backupset/BackupSetFields.h"
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
    EXPECT_EQ(
        (std::vector<int>{set.backupType, set.backupFolderCount, set.backupFullPath,
                          set.backupAddComputerFolder, set.backupAddBackupSetFolder,
                          set.backupExcludeFromStartAll, set.preBackupEnabled, set.preBackupTimeout,
                          set.preBackupTimeoutMS, set.postBackupIgnoreStatus}),
        (std::vector<int>{DateTimeSubfolder, 6, 0, 0, 1, 1, 1, 1, 30000, 1}));
    EXPECT_EQ(set.preBackupProgram, TBString(L"/usr/local/bin/mount-backup-disk"));
    EXPECT_EQ(set.preBackupArgs, TBString(L"--wait \"Backup Disk\""));
    EXPECT_EQ(set.postBackupProgram, TBString(L"/usr/local/bin/unmount-backup-disk"));
    EXPECT_EQ(set.sourceFolders, (TBStringArray{L"/home/ann/Projects", L"/home/ann/Papers"}));
    EXPECT_EQ(set.excludeFolders, (TBStringArray{L"build", L".git"}));
    EXPECT_EQ(set.excludeFiles, (TBStringArray{L"*.o", L"*.tmp"}));
    EXPECT_EQ(set.includeFiles, (TBStringArray{L"*"}));
}

// A value unlike every default and unlike the other settings', and how a
// definition file writes it.
std::string fill(TBString& text, int n) {
    text = L"/setting " + TBString::valueOf(n);
    return text.narrow();
}
std::string fill(int32_t& number, int n) {
    number = 1000 + n;
    return std::to_string(number);
}
std::string fill(TBStringArray& list, int n) {
    list = TBStringArray{L"/entry " + TBString::valueOf(n), L"/entry"};
    return "<Entry>/entry " + std::to_string(n) + "</Entry><!-- between --><Entry>/entry</Entry>";
}

TEST(DefinitionFile, EverySettingWithAnElementIsReadFromIt) {
    // Settings nested below "PreBackup" or "PostBackup" share one such element.
    BackupSet expected;
    std::string top;
    std::map<std::string, std::string> nested;
    int n = 0;
    forEachSetting([&](const auto& setting) {
        ++n;
        if (setting.definitionPath == nullptr)
            return;
        const std::string path = TBString(setting.definitionPath).narrow();
        const size_t slash = path.find('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const std::string element =
            "<" + name + ">" + fill(expected.*setting.field, n) + "</" + name + ">";
        if (slash == std::string::npos)
            top += element;
        else
            nested[path.substr(0, slash)] += element;
    });
    for (const auto& [name, children] : nested)
        top += "<" + name + ">" + children + "</" + name + ">";
    ASSERT_EQ(nested.size(), 2u);

    BackupSet set;
    ASSERT_TRUE(runDefinitionFileInput("<backupset>" + top + "</backupset>", set));
    forEachSetting([&](const auto& setting) {
        EXPECT_EQ(set.*setting.field, expected.*setting.field) << TBString(setting.name).narrow();
    });
}

TEST(DefinitionFile, MissingElementsKeepDefaultsAndListsKeepEveryEntry) {
    BackupSet set;
    ASSERT_TRUE(runDefinitionFileInput(
        "<backupset><PreBackup><Enabled>1</Enabled></PreBackup><PostBackup/></backupset>", set));
    EXPECT_EQ((std::vector<int>{set.backupType, set.backupFullPath, set.backupCreateLog,
                                set.backupAddComputerFolder, set.preBackupWaitForCompletion,
                                set.postBackupWaitForCompletion, set.postBackupTimeoutMS}),
              (std::vector<int>{DateSubfolder, 1, 1, 1, 1, 0, 60000}));
    ASSERT_TRUE(runDefinitionFileInput(readFile(corpusFile("entities.xml")), set));
    EXPECT_EQ(set.sourceFolders,
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
