#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ULVConfig.h"
#include "base/ULVbase.h"
#include "foundation/TBRegistry.h"
#include "support/TempDir.h"

using terbin::TBString;
using terbin::TBStringArray;

namespace {

std::vector<std::string> narrowAll(const TBStringArray& texts) {
    std::vector<std::string> out;
    for (const TBString& text : texts) out.push_back(text.narrow());
    return out;
}

// theBaseApp is a global: every test starts and ends with an empty catalogue
// and a registry of its own in a temporary folder.
class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1);
        unsetenv("SystemDrive");
        clear();
    }
    void TearDown() override {
        clear();
        unsetenv("ULVAREN_REGISTRY");
        unsetenv("SystemDrive");
    }
    static void clear() {
        for (BackupSet* set : theBaseApp.backupSets) delete set;
        theBaseApp.backupSets.clear();
        theBaseApp.firstRun = false;
    }
    static BackupSet& set(int index) { return *theBaseApp.backupSets.get(index); }
    static std::vector<std::string> storedKeys() {
        TBStringArray names;
        terbin::TBRegistryKey(2, theAppConfig.getRegistryRoot() + L"/BackupSets", false)
            .keyNames(names);
        return narrowAll(names);
    }
    static std::unique_ptr<BackupSet> stored(const wchar_t* key) {
        auto loaded = std::make_unique<BackupSet>();
        loaded->load(key);
        return loaded;
    }
    static void store(const wchar_t* key, const wchar_t* name) {
        BackupSet record;
        record.backupName = name;
        record.save(key);
    }
    std::string writeDefinition(const std::string& text) {
        writeFile(dir / "set.xml", text);
        return dir / "set.xml";
    }

    TempDir dir;
};

TEST_F(Catalogue, LoadsStoredSetsInKeyOrderWithoutDefaults) {
    store(L"0", L"Zero");
    store(L"5", L"Five");
    makeDirs(dir / "drive/Users");
    setenv("SystemDrive", (dir / "drive").c_str(), 1);
    theBaseApp.loadBackupSets();
    ASSERT_EQ(theBaseApp.backupSets.size(), 2);
    EXPECT_EQ(set(0).registryKeyName, TBString(L"0"));
    EXPECT_EQ(set(0).backupName, TBString(L"Zero"));
    EXPECT_EQ(set(1).registryKeyName, TBString(L"5"));
    EXPECT_EQ(set(1).backupName, TBString(L"Five"));
    EXPECT_FALSE(theBaseApp.firstRun);
    EXPECT_EQ(storedKeys(), (std::vector<std::string>{"0", "5"}));
}

TEST_F(Catalogue, FirstRunWithUsersOnlyMakesUserFilesAndMail) {
    const std::string drive = dir / "drive";
    makeDirs(drive + "/Users");
    setenv("SystemDrive", drive.c_str(), 1);
    theBaseApp.loadBackupSets();
    EXPECT_TRUE(theBaseApp.firstRun);
    ASSERT_EQ(theBaseApp.backupSets.size(), 2);
    EXPECT_EQ(storedKeys(), (std::vector<std::string>{"1", "2"}));

    const std::unique_ptr<BackupSet> users = stored(L"1");
    EXPECT_EQ(users->backupName, TBString(L"User Files"));
    EXPECT_EQ(narrowAll(users->sourceFolders), std::vector<std::string>{drive + "/Users"});
    EXPECT_EQ(narrowAll(users->excludeFolders),
              (std::vector<std::string>{"Users/*/AppData", "Temp", "Tmp"}));
    EXPECT_EQ(narrowAll(users->excludeFiles),
              (std::vector<std::string>{"ntuser.dat*", "*.tmp", "*.log", "thumbs.db"}));
    EXPECT_EQ(users->backupType, DateSubfolder);
    EXPECT_EQ(users->backupFolderCount, 8);
    EXPECT_EQ(users->backupAddComputerFolder, 1);
    EXPECT_TRUE(users->targetFolder.isEmpty());

    const std::unique_ptr<BackupSet> mail = stored(L"2");
    EXPECT_EQ(mail->backupName, TBString(L"Mail and Contacts"));
    const std::vector<std::string> mailSources = narrowAll(mail->sourceFolders);
    ASSERT_EQ(mailSources.size(), 9u);
    EXPECT_EQ(mailSources[0], drive + "/Users/*/AppData/Local/Microsoft/Outlook");
    EXPECT_EQ(mailSources[5], drive + "/Users/*/Contacts");
    EXPECT_EQ(mailSources[8], drive +
                                  "/Documents and Settings/*/Local Settings/Application Data/"
                                  "Identities/*/Microsoft/Outlook Express");
    EXPECT_EQ(mailSources, narrowAll(set(1).sourceFolders));
    EXPECT_EQ(mail->backupFolderCount, 8);
    EXPECT_TRUE(mail->excludeFolders.isEmpty());
}

TEST_F(Catalogue, FirstRunMakesASetForEveryUserFolderThatOpens) {
    const std::string drive = dir / "drive";
    makeDirs(drive + "/Documents and Settings");
    makeDirs(drive + "/Users");
    writeFile(drive + "/Home", "a file, not a folder");
    setenv("SystemDrive", drive.c_str(), 1);
    theBaseApp.loadBackupSets();
    ASSERT_EQ(theBaseApp.backupSets.size(), 3);
    EXPECT_EQ(set(0).backupName, TBString(L"Documents and Settings"));
    EXPECT_EQ(set(0).excludeFolders.size(), 6);
    EXPECT_EQ(set(1).backupName, TBString(L"User Files"));
    EXPECT_EQ(set(2).backupName, TBString(L"Mail and Contacts"));
    EXPECT_EQ(storedKeys(), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(Catalogue, FirstRunWithoutSystemDriveStaysEmpty) {
    theBaseApp.loadBackupSets();
    EXPECT_TRUE(theBaseApp.firstRun);
    EXPECT_TRUE(theBaseApp.backupSets.isEmpty());
    setenv("SystemDrive", "", 1);
    theBaseApp.loadBackupSets();
    EXPECT_TRUE(theBaseApp.backupSets.isEmpty());
    EXPECT_TRUE(storedKeys().empty());
}

TEST_F(Catalogue, AddSourceFolderSkipsMissingAndHeldFolders) {
    makeDirs(dir / "a");
    makeDirs(dir / "b");
    const TBString a = TBString::fromBytes(dir / "a"), b = TBString::fromBytes(dir / "b");
    const TBString missing = TBString::fromBytes(dir / "missing");
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(nullptr, missing, false), nullptr);
    EXPECT_TRUE(theBaseApp.backupSets.isEmpty());

    BackupSet* first = theBaseApp.addBackupSourceFolder(nullptr, a, false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(first, missing, false), first);
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(first, b, false), first);
    EXPECT_EQ(first->sourceFolders, (TBStringArray{a, b}));

    BackupSet* second = theBaseApp.addBackupSourceFolder(nullptr, a, false);
    ASSERT_NE(second, first) << "a held folder still gets a new set";
    EXPECT_TRUE(second->sourceFolders.isEmpty());
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(second, b, true), second);
    EXPECT_TRUE(second->sourceFolders.isEmpty());
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(second, missing, true), second);
    EXPECT_EQ(second->sourceFolders, (TBStringArray{missing}));
    EXPECT_EQ(theBaseApp.backupSets.size(), 2);
    EXPECT_TRUE(second->registryKeyName.isEmpty());
    EXPECT_TRUE(storedKeys().empty()) << "nothing is saved";
}

TEST_F(Catalogue, AddBackupSetSavesUnderSmallestFreeKeyOnly) {
    store(L"1", L"One");
    store(L"2", L"Two");
    theBaseApp.loadBackupSets();
    theBaseApp.addBackupSet(
        TBString::fromBytes(writeDefinition("<backupset><Name>New</Name></backupset>")));
    ASSERT_EQ(theBaseApp.backupSets.size(), 3);
    EXPECT_EQ(set(2).registryKeyName, TBString(L"0"));
    EXPECT_EQ(stored(L"0")->backupName, TBString(L"New"));
    EXPECT_EQ(stored(L"1")->backupName, TBString(L"One"));
    EXPECT_EQ(stored(L"2")->backupName, TBString(L"Two"));
    const std::unique_ptr<BackupSet> saved = stored(L"0");
    EXPECT_EQ(saved->backupType, DateSubfolder);
    EXPECT_EQ(saved->backupFolderCount, 4);
    EXPECT_EQ(saved->preBackupWaitForCompletion, 1);
    EXPECT_TRUE(saved->sourceFolders.isEmpty());

    theBaseApp.addBackupSet(
        TBString::fromBytes(writeDefinition("<backupset><Type>2</Type><SourceFolders><f>/x</f> "
                                            "<g>/x</g></SourceFolders></backupset>")));
    EXPECT_EQ(set(3).registryKeyName, TBString(L"3"));
    EXPECT_EQ(stored(L"3")->backupType, DateTimeSubfolder);
    EXPECT_EQ(stored(L"3")->sourceFolders, (TBStringArray{L"/x", L"/x"}));
}

TEST_F(Catalogue, RejectedDefinitionFilesAddNothing) {
    for (const char* text : {"", "<backupset><Name>cut", "<other><Name>x</Name></other>"}) {
        theBaseApp.addBackupSet(TBString::fromBytes(writeDefinition(text)));
    }
    theBaseApp.addBackupSet(TBString::fromBytes(dir / "missing.xml"));
    EXPECT_TRUE(theBaseApp.backupSets.isEmpty());
    EXPECT_TRUE(storedKeys().empty());
}

}  // namespace
