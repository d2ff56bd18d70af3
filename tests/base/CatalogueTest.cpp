#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ULVbase.h"
#include "foundation/TBRegistry.h"
#include "support/TempDir.h"

using terbin::TBString;
using terbin::TBStringArray;

namespace {

using Names = std::vector<std::string>;

Names narrowAll(const TBStringArray& texts) {
    Names out;
    for (const TBString& text : texts) out.push_back(text.narrow());
    return out;
}

// A set as the registry holds it under `key`.
struct Stored : BackupSet {
    explicit Stored(const wchar_t* key) { load(key); }
};

// theBaseApp is a global: every test starts and ends with an empty catalogue
// and a registry of its own in a temporary folder.
class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1);
        unsetenv("SystemDrive");
        // The first run without a system drive backs up the home folder:
        // never the real one here.
        if (const char* current = std::getenv("HOME"))
            savedHome = current;
        setenv("HOME", home.c_str(), 1);
        clear();
    }
    void TearDown() override {
        clear();
        unsetenv("ULVAREN_REGISTRY");
        unsetenv("SystemDrive");
        if (savedHome)
            setenv("HOME", savedHome->c_str(), 1);
        else
            unsetenv("HOME");
    }
    static void clear() {
        for (BackupSet* set : theBaseApp.backupSets) delete set;
        theBaseApp.backupSets.clear();
        theBaseApp.firstRun = false;
    }
    // The sets in memory as "key name".
    static Names catalogue() {
        Names out;
        for (const BackupSet* set : theBaseApp.backupSets)
            out.push_back(set->registryKeyName.narrow() + " " + set->backupName.narrow());
        return out;
    }
    static Names storedKeys() {
        TBStringArray names;
        terbin::TBRegistryKey(2, BackupSet::setsKeyPath(), false).keyNames(names);
        return narrowAll(names);
    }
    static void store(const wchar_t* key, const wchar_t* name) {
        BackupSet record;
        record.backupName = name;
        record.save(key);
    }
    void addDefinition(const std::string& text) {
        writeFile(dir / "set.xml", text);
        theBaseApp.addBackupSet(TBString::fromBytes(dir / "set.xml"));
    }
    void useDrive(const std::vector<std::string>& folders) {
        for (const std::string& folder : folders) makeDirs(drive + "/" + folder);
        setenv("SystemDrive", drive.c_str(), 1);
    }

    TempDir dir;
    const std::string drive = dir / "drive";
    const std::string home = dir / "home";
    std::optional<std::string> savedHome;
};

TEST_F(Catalogue, FirstRunWithoutASystemDriveMakesTheHomeSetWhenHomeIsAFolder) {
    setenv("SystemDrive", "", 1);
    theBaseApp.loadBackupSets();
    EXPECT_TRUE(theBaseApp.firstRun);
    EXPECT_TRUE(theBaseApp.backupSets.isEmpty()) << "no home folder: no set of a missing source";
    EXPECT_TRUE(storedKeys().empty());

    makeDirs(home);
    theBaseApp.loadBackupSets();
    EXPECT_EQ(catalogue(), Names{"1 Home"});
    EXPECT_EQ(storedKeys(), Names{"1"});
    // Its source and what it leaves out are seen in a run of the set.
    const Stored stored(L"1");
    EXPECT_EQ(stored.backupType, DateSubfolder);
    EXPECT_EQ(stored.backupFolderCount, 8);
    EXPECT_EQ(stored.backupAddComputerFolder, 1);
    EXPECT_TRUE(stored.targetFolder.isEmpty()) << "into the default target";
}

TEST_F(Catalogue, FirstRunMakesASetForEveryUserFolderThatOpensOnTheSystemDrive) {
    makeDirs(home);
    useDrive({"Documents and Settings", "Users"});
    writeFile(drive + "/Home", "a file, not a folder");
    theBaseApp.loadBackupSets();
    EXPECT_EQ(catalogue(),
              (Names{"1 Documents and Settings", "2 User Files", "3 Mail and Contacts"}));
    EXPECT_EQ(narrowAll(Stored(L"2").sourceFolders), Names{drive + "/Users"});
    EXPECT_EQ(storedKeys(), (Names{"1", "2", "3"}));
}

TEST_F(Catalogue, AddSourceFolderSkipsMissingAndHeldFoldersAndSavesNothing) {
    makeDirs(dir / "a");
    const TBString a = TBString::fromBytes(dir / "a");
    const TBString missing = TBString::fromBytes(dir / "missing");
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(nullptr, missing, false), nullptr);
    BackupSet* first = theBaseApp.addBackupSourceFolder(nullptr, a, false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(first, missing, false), first);
    BackupSet* second = theBaseApp.addBackupSourceFolder(nullptr, a, false);
    ASSERT_NE(second, first) << "a held folder still gets a new set";
    EXPECT_EQ(theBaseApp.addBackupSourceFolder(second, missing, true), second);
    EXPECT_EQ(first->sourceFolders, TBStringArray{a});
    EXPECT_EQ(second->sourceFolders, TBStringArray{missing});
    EXPECT_TRUE(storedKeys().empty());
}

TEST_F(Catalogue, AddBackupSetSavesUnderSmallestFreeKeyOnlyAndRejectedSetsAddNothing) {
    store(L"1", L"One");
    store(L"2", L"Two");
    theBaseApp.loadBackupSets();
    EXPECT_FALSE(theBaseApp.firstRun) << "stored sets get no defaults";
    for (const char* text : {"<backupset><Name>cut", "<other><Name>x</Name></other>"})
        addDefinition(text);
    theBaseApp.addBackupSet(TBString::fromBytes(dir / "missing.xml"));
    EXPECT_EQ(storedKeys(), (Names{"1", "2"}));
    addDefinition("<backupset><Name>New</Name></backupset>");
    EXPECT_EQ(catalogue(), (Names{"1 One", "2 Two", "0 New"}));
    EXPECT_EQ(Stored(L"0").backupName, TBString(L"New"));

    // A set whose name cannot be a folder name is neither added nor saved.
    for (const char* name : {"", "..", "a/b"})
        addDefinition("<backupset><Name>" + std::string(name) + "</Name></backupset>");
    EXPECT_EQ(storedKeys(), (Names{"1", "2", "0"}));
}

}  // namespace
