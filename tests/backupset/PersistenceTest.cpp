#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "backupset/BackupSet.h"
#include "backupset/BackupSetFields.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "support/Seed.h"
#include "support/TempDir.h"

using namespace terbin;

namespace {

const TBString SetsKey = L"Software/Dallonet/Ulvaren/BackupSets";

// How the registry and definition files spell each setting, in the record's
// declaration order: value name, value type, element below "backupset" (null
// where definition files have none). Sets stored by earlier versions and
// definition files written by users use these names, so they are written out
// here rather than taken from the settings table they check.
struct Spelling {
    const wchar_t* valueName;
    RegValueType valueType;
    const wchar_t* element;
};
const Spelling Spellings[] = {
    {L"backupName", RegString, L"Name"},
    {L"targetFolder", RegString, nullptr},
    {L"sourceFolders", RegMultiString, L"SourceFolders"},
    {L"includeFiles", RegMultiString, L"IncludeFiles"},
    {L"excludeFiles", RegMultiString, L"ExcludeFiles"},
    {L"excludeFolders", RegMultiString, L"ExcludeFolders"},
    {L"backupType", RegDWord, L"Type"},
    {L"backupFolderCount", RegDWord, L"FolderCount"},
    {L"backupFullPath", RegDWord, L"FullPath"},
    {L"backupAddComputerFolder", RegDWord, L"AddComputerFolder"},
    {L"backupAddBackupSetFolder", RegDWord, L"AddBackupSetFolder"},
    {L"backupFollowSymLinks", RegDWord, nullptr},
    {L"backupCreateLog", RegDWord, L"CreateLog"},
    {L"backupExcludeFromStartAll", RegDWord, L"ExcludeFromStartAll"},
    {L"preBackupEnabled", RegDWord, L"PreBackup/Enabled"},
    {L"preBackupWaitForCompletion", RegDWord, L"PreBackup/WaitForCompletion"},
    {L"preBackupIgnoreStatus", RegDWord, L"PreBackup/IgnoreStatus"},
    {L"preBackupTimeout", RegDWord, L"PreBackup/Timeout"},
    {L"preBackupTimeoutMS", RegDWord, L"PreBackup/TimeoutMS"},
    {L"preBackupProgram", RegString, L"PreBackup/Program"},
    {L"preBackupArgs", RegString, L"PreBackup/Args"},
    {L"postBackupEnabled", RegDWord, L"PostBackup/Enabled"},
    {L"postBackupWaitForCompletion", RegDWord, L"PostBackup/WaitForCompletion"},
    {L"postBackupIgnoreStatus", RegDWord, L"PostBackup/IgnoreStatus"},
    {L"postBackupTimeout", RegDWord, L"PostBackup/Timeout"},
    {L"postBackupTimeoutMS", RegDWord, L"PostBackup/TimeoutMS"},
    {L"postBackupProgram", RegString, L"PostBackup/Program"},
    {L"postBackupArgs", RegString, L"PostBackup/Args"},
};
// The one value that load reads but save leaves alone.
const TBString NotSaved = L"backupFollowSymLinks";

std::wstring show(const TBString& text) {
    return text.str();
}
std::wstring show(int32_t number) {
    return TBString::valueOf(number).str();
}
std::wstring show(const TBStringArray& list) {
    std::wstring out = L"list of " + TBString::valueOf(list.size()).str();
    for (const TBString& entry : list) out += L"\n  " + entry.str();
    return out;
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

// The settings that save writes as "name: value" lines, so a failed
// comparison shows what differs.
std::vector<std::wstring> settingsOf(const BackupSet& set) {
    std::vector<std::wstring> lines;
    forEachSetting([&](const auto& setting) {
        if (setting.saved)
            lines.push_back(std::wstring(setting.name) + L": " + show(set.*setting.field));
    });
    return lines;
}

// Texts hold non-ASCII letters and raw bytes.
const TBString Odd = TBString::fromBytes("/m\xc3\xbcll/\xff\xfe \xe6\x97\xa5 ") + L"\U0001F600";

void fill(TBString& text, int n, int) {
    text = Odd + TBString::valueOf(n);
}
void fill(int32_t& number, int n, int) {
    number = n;
}
void fill(TBStringArray& list, int n, int variant) {
    list.clear();
    for (int i = 0; i < variant + n % 3; ++i) list.add(Odd + TBString::valueOf(i));
}

// Gives every setting that save writes a value unlike the defaults, unlike
// the other settings and unlike other variants, lists also in their length.
// Returns them as settingsOf gives them.
std::vector<std::wstring> fillSettings(BackupSet& set, int variant) {
    int n = 100 * variant;
    forEachSetting([&](const auto& setting) {
        if (setting.saved)
            fill(set.*setting.field, n++, variant);
    });
    set.excludeFolders.add(L"");
    return settingsOf(set);
}

std::vector<std::wstring> loaded(const TBString& keyName) {
    BackupSet set;
    set.load(keyName);
    return settingsOf(set);
}

}  // namespace

TEST(BackupSetSettings, TableSpellsEveryNameAsTheRegistryAndDefinitionFilesDo) {
    const auto line = [](const wchar_t* name, const wchar_t* element) {
        return std::wstring(name) + L" " + (element != nullptr ? element : L"(no element)");
    };
    std::vector<std::wstring> table, expected;
    forEachSetting(
        [&](const auto& setting) { table.push_back(line(setting.name, setting.definitionPath)); });
    for (const Spelling& spelling : Spellings)
        expected.push_back(line(spelling.valueName, spelling.element));
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
    saved.backupFollowSymLinks = 1;
    saved.save(L"7");
    EXPECT_EQ(BackupSet::registryKeyPath(L"7"), SetsKey + L"/7");
    TBRegistryKey key(TBHiveCurrentUser, SetsKey + L"/7", false);
    std::vector<std::wstring> stored;
    for (const Spelling& spelling : Spellings) {
        TBValue value;
        const uint32_t result = key.getValue(spelling.valueName, value);
        if (spelling.valueName == NotSaved) {
            EXPECT_EQ(result, TB_FILE_NOT_FOUND) << "save leaves backupFollowSymLinks out";
            continue;
        }
        ASSERT_EQ(result, TB_OK) << TBString(spelling.valueName).narrow();
        ASSERT_EQ(value.getType(), spelling.valueType) << TBString(spelling.valueName).narrow();
        stored.push_back(std::wstring(spelling.valueName) + L": " + showStored(value));
    }
    EXPECT_EQ(stored, settings);

    BackupSet copy;
    copy.load(L"7");
    EXPECT_EQ(settingsOf(copy), settings);
    EXPECT_EQ(copy.backupFollowSymLinks, 0) << "never written, so the record keeps its own";
    // A value save does not write stays, and load reads it.
    key.setValue(TBRegistryValue(NotSaved, 1));
    saved.save(L"7");
    copy.load(L"7");
    EXPECT_EQ(copy.backupFollowSymLinks, 1);
    BackupSet().save(L"7");
    copy.load(L"7");
    EXPECT_EQ(settingsOf(copy), settingsOf(BackupSet())) << "empty lists come back empty";
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

TEST_F(BackupSetPersistence, UnusableStoreStillSetsTheKeyNameAndStaysUntouched) {
    writeFile(dir / "registry.db", "garbage");
    BackupSet set;
    const auto settings = fillSettings(set, 1);
    set.save(L"4");
    EXPECT_EQ(set.registryKeyName, TBString(L"4"));
    set.load(L"5");
    EXPECT_EQ(set.registryKeyName, TBString(L"5"));
    EXPECT_EQ(settingsOf(set), settings);
    EXPECT_EQ(readFile(dir / "registry.db"), "garbage");
}

TEST_F(BackupSetPersistence, SaveKilledMidwayLeavesEverySetWhollyOldOrWhollyNew) {
    BackupSet old, next[2];
    const std::vector<std::vector<std::wstring>> versions{
        fillSettings(old, 1), fillSettings(next[0], 2), fillSettings(next[1], 3)};
    old.save(L"k");
    // When in each round the writer is killed.
    std::mt19937 moments(testSeed());
    for (int round = 0; round < 4; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            for (int i = 0;; ++i) {
                next[i % 2].save(L"k");
                next[i % 2].save(L"n" + TBString::valueOf(round) + L"-" + TBString::valueOf(i));
                if (i == 0)
                    (void)!write(ready[1], "r", 1);
            }
        }
        close(ready[1]);
        char byte = 0;
        const bool started = read(ready[0], &byte, 1) == 1;
        usleep(moments() % 30000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(ready[0]);
        ASSERT_TRUE(started);

        TBStringArray names;
        TBRegistryKey(TBHiveCurrentUser, SetsKey, false).keyNames(names);
        for (const TBString& name : names) {
            EXPECT_NE(std::ranges::find(versions, loaded(name)), versions.end())
                << "set " << name.narrow() << " in round " << round;
        }
    }
    old.save(L"k");
    EXPECT_EQ(loaded(L"k"), versions[0]);
}
