#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "backupset/BackupSet.h"
#include "foundation/TBRegistry.h"
#include "support/TempDir.h"

using namespace terbin;

namespace {

const TBString SetsKey = L"Software/Dallonet/Ulvaren/BackupSets";

// Every setting that save writes, backupFollowSymLinks aside.
using B = BackupSet;
using Text = TBString B::*;
using Number = int32_t B::*;
using List = TBStringArray B::*;
const Text Texts[] = {&B::backupName,    &B::targetFolder,      &B::preBackupProgram,
                      &B::preBackupArgs, &B::postBackupProgram, &B::postBackupArgs};
const auto Numbers = std::to_array<Number>(
    {&B::backupType, &B::backupFolderCount, &B::backupFullPath, &B::backupAddComputerFolder,
     &B::backupAddBackupSetFolder, &B::backupCreateLog, &B::backupExcludeFromStartAll,
     &B::preBackupEnabled, &B::preBackupWaitForCompletion, &B::preBackupIgnoreStatus,
     &B::preBackupTimeout, &B::preBackupTimeoutMS, &B::postBackupEnabled,
     &B::postBackupWaitForCompletion, &B::postBackupIgnoreStatus, &B::postBackupTimeout,
     &B::postBackupTimeoutMS});
const List Lists[] = {&B::sourceFolders, &B::includeFiles, &B::excludeFiles, &B::excludeFolders};

// The settings as lines, so a failed comparison shows what differs.
std::vector<std::wstring> settingsOf(const BackupSet& set) {
    std::vector<std::wstring> lines;
    for (Text text : Texts) lines.push_back((set.*text).str());
    for (Number number : Numbers) lines.push_back(TBString::valueOf(set.*number).str());
    for (List list : Lists) {
        lines.push_back(L"list of " + TBString::valueOf((set.*list).size()).str());
        for (const TBString& entry : set.*list) lines.push_back(entry.str());
    }
    return lines;
}

// Settings unlike the defaults and unlike other variants in every field and
// in the length of every list; texts hold non-ASCII letters and raw bytes.
// Returns them as settingsOf gives them.
std::vector<std::wstring> fillSettings(BackupSet& set, int variant) {
    int n = 100 * variant;
    const TBString odd = TBString::fromBytes("/m\xc3\xbcll/\xff\xfe \xe6\x97\xa5 ") + L"\U0001F600";
    for (Text text : Texts) set.*text = odd + TBString::valueOf(n++);
    for (Number number : Numbers) set.*number = n++;
    for (List list : Lists) {
        (set.*list).clear();
        for (int i = 0; i < variant + (n++ % 3); ++i) (set.*list).add(odd + TBString::valueOf(i));
    }
    set.excludeFolders.add(L"");
    return settingsOf(set);
}

std::vector<std::wstring> loaded(const TBString& keyName) {
    BackupSet set;
    set.load(keyName);
    return settingsOf(set);
}

}  // namespace

class BackupSetPersistence : public ::testing::Test {
protected:
    void SetUp() override { setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1); }
    void TearDown() override { unsetenv("ULVAREN_REGISTRY"); }

    TempDir dir;
};

TEST_F(BackupSetPersistence, LoadGivesBackEverySavedSettingAndReadsAFollowSymLinksLeftAlone) {
    BackupSet saved;
    const auto settings = fillSettings(saved, 3);
    saved.backupFollowSymLinks = 1;
    saved.save(L"7");
    BackupSet copy;
    copy.load(L"7");
    EXPECT_EQ(settingsOf(copy), settings);
    EXPECT_EQ(copy.backupFollowSymLinks, 0) << "never written, so the record keeps its own";
    // A value save does not write stays, and load reads it.
    TBRegistryKey(TBHiveCurrentUser, SetsKey + L"/7", false)
        .setValue(TBRegistryValue(L"backupFollowSymLinks", 1));
    saved.save(L"7");
    copy.load(L"7");
    EXPECT_EQ(copy.backupFollowSymLinks, 1);
    BackupSet().save(L"7");
    copy.load(L"7");
    for (List list : Lists) EXPECT_TRUE((copy.*list).isEmpty()) << "empty lists come back empty";
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
        usleep(std::random_device{}() % 30000);
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
