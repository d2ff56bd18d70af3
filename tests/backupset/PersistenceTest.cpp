#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "support/Seed.h"
#include "support/TempDir.h"
#include "tests/backupset/SettingValues.h"

using namespace terbin;

namespace {

const TBString SetsKey = L"Software/Dallonet/Ulvaren/BackupSets";

// How the registry and definition files spell each setting, in the record's
// declaration order: value name, value type (String, Multi-string, Dword) and
// element below "backupset" ("-" where definition files have none). Sets
// stored by earlier versions and definition files written by users use these
// names, so they are written out here rather than taken from the table they check.
// clang-format off
const wchar_t* const Spellings[] = {
    L"backupName S Name", L"targetFolder S -", L"sourceFolders M SourceFolders",
    L"includeFiles M IncludeFiles", L"excludeFiles M ExcludeFiles",
    L"excludeFolders M ExcludeFolders", L"backupType D Type", L"backupFolderCount D FolderCount",
    L"backupFullPath D FullPath", L"backupAddComputerFolder D AddComputerFolder",
    L"backupAddBackupSetFolder D AddBackupSetFolder", L"backupFollowSymLinks D -",
    L"backupCreateLog D CreateLog", L"backupExcludeFromStartAll D ExcludeFromStartAll",
    L"preBackupEnabled D PreBackup/Enabled",
    L"preBackupWaitForCompletion D PreBackup/WaitForCompletion",
    L"preBackupIgnoreStatus D PreBackup/IgnoreStatus", L"preBackupTimeout D PreBackup/Timeout",
    L"preBackupTimeoutMS D PreBackup/TimeoutMS", L"preBackupProgram S PreBackup/Program",
    L"preBackupArgs S PreBackup/Args", L"postBackupEnabled D PostBackup/Enabled",
    L"postBackupWaitForCompletion D PostBackup/WaitForCompletion",
    L"postBackupIgnoreStatus D PostBackup/IgnoreStatus", L"postBackupTimeout D PostBackup/Timeout",
    L"postBackupTimeoutMS D PostBackup/TimeoutMS", L"postBackupProgram S PostBackup/Program",
    L"postBackupArgs S PostBackup/Args"};
// clang-format on

// The value name, type and element of a line of Spellings.
std::vector<std::wstring> spelling(const wchar_t* line) {
    std::vector<std::wstring> words(3);
    std::wistringstream(line) >> words[0] >> words[1] >> words[2];
    return words;
}

// A stored value as show gives the field it was written from.
std::wstring showStored(const TBValue& value) {
    if (value.getType() == RegString)
        return show(value.toString());
    if (value.getType() == RegDWord)
        return show(value.toInt32());
    TBStringArray entries;
    TBMultiString(value).toStringArray(entries);
    return show(entries);
}

std::vector<std::wstring> loaded(const TBString& keyName) {
    BackupSet set;
    set.load(keyName);
    return settingsOf(set);
}

}  // namespace

TEST(BackupSetSettings, TableSpellsEveryNameAsTheRegistryAndDefinitionFilesDo) {
    std::vector<std::wstring> table, expected;
    forEachSetting([&](const auto& setting) {
        table.push_back(std::wstring(setting.name) + L" " +
                        (setting.definitionPath ? setting.definitionPath : L"-"));
    });
    for (const wchar_t* line : Spellings)
        expected.push_back(spelling(line)[0] + L" " + spelling(line)[2]);
    EXPECT_EQ(table, expected);
}

class BackupSetPersistence : public ::testing::Test {
protected:
    void SetUp() override { setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1); }
    void TearDown() override { unsetenv("ULVAREN_REGISTRY"); }

    TempDir dir;
};

TEST_F(BackupSetPersistence, SaveWritesEachSettingUnderItsOwnNameAndTypeAndLoadGivesItBack) {
    BackupSet saved;
    const auto settings = fillSettings(saved, 3);
    saved.save(L"7");
    TBRegistryKey key(TBHiveCurrentUser, SetsKey + L"/7", false);
    std::vector<std::wstring> stored;
    for (const wchar_t* line : Spellings) {
        const std::vector<std::wstring> named = spelling(line);
        TBValue value;
        const uint32_t result = key.getValue(named[0], value);
        ASSERT_EQ(result, TB_OK) << TBString(named[0]).narrow();
        EXPECT_EQ(value.getType(), named[1] == L"S"   ? RegString
                                   : named[1] == L"M" ? RegMultiString
                                                      : RegDWord);
        stored.push_back(named[0] + L": " + showStored(value));
    }
    EXPECT_EQ(stored, settings);

    BackupSet copy;
    copy.load(L"7");
    EXPECT_EQ(settingsOf(copy), settings);
}

TEST_F(BackupSetPersistence, MissingOrMistypedListsLeaveTheirFieldsAlone) {
    BackupSet saved;
    fillSettings(saved, 1);
    saved.save(L"5");
    TBRegistryKey key(TBHiveCurrentUser, SetsKey + L"/5", false);
    key.setValue(TBRegistryValue(L"includeFiles", L"*.doc"));  // a list as a plain string
    key.removeValue(L"excludeFolders");
    // A holder kept from the read before must not fill a missing value.
    BackupSet set;
    set.includeFiles = TBStringArray{L"mine"};
    set.excludeFolders = TBStringArray{L"also mine"};
    set.load(L"5");
    EXPECT_EQ(set.includeFiles, TBStringArray{L"mine"});
    EXPECT_EQ(set.excludeFolders, TBStringArray{L"also mine"});
    EXPECT_EQ(set.excludeFiles, saved.excludeFiles) << "the values after a mistyped one load";
}

TEST_F(BackupSetPersistence, SaveKilledMidwayLeavesEverySetWhollyOldOrWhollyNew) {
    BackupSet old, next[2];
    const std::vector<std::vector<std::wstring>> versions{
        fillSettings(old, 1), fillSettings(next[0], 2), fillSettings(next[1], 3)};
    old.save(L"k");
    // Each round the writer reports every save it completes and is killed
    // right after the k-th report, while the saves that follow are under way.
    std::mt19937 moments(testSeed());
    for (int round = 0; round < 4; ++round) {
        const int k = 1 + static_cast<int>(moments() % 12);
        int saved[2];
        ASSERT_EQ(pipe(saved), 0);
        const pid_t child = fork();
        if (child == 0) {
            close(saved[0]);
            for (int i = 0;; ++i) {
                next[i % 2].save(L"k");
                (void)!write(saved[1], "k", 1);
                next[i % 2].save(L"n" + TBString::valueOf(round) + L"-" + TBString::valueOf(i));
                (void)!write(saved[1], "n", 1);
            }
        }
        close(saved[1]);
        int reports = 0;
        for (char byte = 0; reports < k && read(saved[0], &byte, 1) == 1;) ++reports;
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(saved[0]);
        ASSERT_EQ(reports, k) << "round " << round;

        TBStringArray names;
        TBRegistryKey(TBHiveCurrentUser, SetsKey, false).keyNames(names);
        for (const TBString& name : names) {
            EXPECT_NE(std::ranges::find(versions, loaded(name)), versions.end())
                << "set " << name.narrow() << " in round " << round;
        }
    }
    // "k" holds a set the killed writer saved, which the old one may not
    // overwrite; once it is removed, the store takes the old one again.
    EXPECT_EQ(old.save(L"k"), TB_KEY_DELETED);
    ASSERT_EQ(tb_registry_removeKey(TBHiveCurrentUser, SetsKey + L"/k"), TB_OK);
    EXPECT_EQ(old.saveNew(L"k"), L"k");
    EXPECT_EQ(loaded(L"k"), versions[0]);
}
