#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backupset/BackupSet.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "support/TempDir.h"

using namespace terbin;

namespace {

const TBString SetsKey = L"Software/Dallonet/Ulvaren/BackupSets";

// Every setting that save writes, backupFollowSymLinks aside.
using Text = TBString BackupSet::*;
using Number = int32_t BackupSet::*;
using List = TBStringArray BackupSet::*;
const Text Texts[] = {&BackupSet::backupName,        &BackupSet::targetFolder,
                      &BackupSet::preBackupProgram,  &BackupSet::preBackupArgs,
                      &BackupSet::postBackupProgram, &BackupSet::postBackupArgs};
const Number Numbers[] = {&BackupSet::backupType,
                          &BackupSet::backupFolderCount,
                          &BackupSet::backupFullPath,
                          &BackupSet::backupAddComputerFolder,
                          &BackupSet::backupAddBackupSetFolder,
                          &BackupSet::backupCreateLog,
                          &BackupSet::backupExcludeFromStartAll,
                          &BackupSet::preBackupEnabled,
                          &BackupSet::preBackupWaitForCompletion,
                          &BackupSet::preBackupIgnoreStatus,
                          &BackupSet::preBackupTimeout,
                          &BackupSet::preBackupTimeoutMS,
                          &BackupSet::postBackupEnabled,
                          &BackupSet::postBackupWaitForCompletion,
                          &BackupSet::postBackupIgnoreStatus,
                          &BackupSet::postBackupTimeout,
                          &BackupSet::postBackupTimeoutMS};
const List Lists[] = {&BackupSet::sourceFolders, &BackupSet::includeFiles, &BackupSet::excludeFiles,
                      &BackupSet::excludeFolders};

// Settings unlike the defaults and unlike other variants in every field and
// in the length of every list; texts hold non-ASCII letters and raw bytes.
void fillSettings(BackupSet& set, int variant) {
    int n = 100 * variant;
    const TBString odd = TBString::fromBytes("/m\xc3\xbcll/\xff\xfe \xe6\x97\xa5 ") + L"\U0001F600";
    for (Text text : Texts) set.*text = odd + TBString::valueOf(n++);
    for (Number number : Numbers) set.*number = n++;
    for (List list : Lists) {
        (set.*list).clear();
        for (int i = 0; i < variant + (n++ % 3); ++i) (set.*list).add(odd + TBString::valueOf(i));
    }
    set.excludeFolders.add(L"");
}

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

std::vector<std::wstring> variant(int n) {
    BackupSet set;
    fillSettings(set, n);
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

TEST_F(BackupSetPersistence, LoadGivesBackEverySavedSettingButFollowSymLinks) {
    BackupSet saved;
    fillSettings(saved, 3);
    saved.backupFollowSymLinks = 1;
    saved.save(L"7");
    EXPECT_EQ(saved.registryKeyName, TBString(L"7"));
    EXPECT_TRUE(TBRegistryKey(TBHiveCurrentUser, SetsKey + L"/7", false).isOpen());
    BackupSet copy;
    copy.load(L"7");
    EXPECT_EQ(settingsOf(copy), settingsOf(saved));
    EXPECT_EQ(copy.registryKeyName, TBString(L"7"));
    EXPECT_EQ(copy.backupFollowSymLinks, 0) << "never written, so the record keeps its own";
}

TEST_F(BackupSetPersistence, ValuesSaveDoesNotWriteStayAndLoadReadsThem) {
    TBRegistryKey key(TBHiveCurrentUser, SetsKey + L"/2", true);
    key.setValue(TBRegistryValue(L"backupFollowSymLinks", 1));
    key.setValue(TBRegistryValue(L"comment", L"kept"));
    BackupSet set;
    set.save(L"2");
    TBValue value;
    ASSERT_EQ(key.getValue(L"comment", value), TB_OK);
    EXPECT_EQ(value.toString(), TBString(L"kept"));
    set.load(L"2");
    EXPECT_EQ(set.backupFollowSymLinks, 1);
}

TEST_F(BackupSetPersistence, MissingOrMistypedValuesLeaveTheirFieldsAlone) {
    BackupSet saved;
    fillSettings(saved, 1);
    saved.save(L"5");
    TBRegistryKey key(TBHiveCurrentUser, SetsKey + L"/5", false);
    key.setValue(TBRegistryValue(L"includeFiles", L"*.doc"));  // a list as a plain string
    key.removeValue(L"excludeFolders");
    key.removeValue(L"postBackupTimeoutMS");
    // A holder kept from the read before must not fill a missing value.
    BackupSet set;
    set.includeFiles = TBStringArray{L"mine"};
    set.excludeFolders = TBStringArray{L"also mine"};
    set.load(L"5");
    EXPECT_EQ(set.includeFiles, TBStringArray{L"mine"});
    EXPECT_EQ(set.excludeFolders, TBStringArray{L"also mine"});
    EXPECT_EQ(set.postBackupTimeoutMS, 60000);
    EXPECT_EQ(set.excludeFiles, saved.excludeFiles);
    EXPECT_EQ(set.postBackupTimeout, saved.postBackupTimeout);
}

TEST_F(BackupSetPersistence, EmptyListsComeBackEmpty) {
    BackupSet empty;
    empty.save(L"0");
    BackupSet set;
    fillSettings(set, 2);
    set.load(L"0");
    for (List list : Lists) EXPECT_TRUE((set.*list).isEmpty());
}

TEST_F(BackupSetPersistence, UnusableStoreStillSetsTheKeyNameAndStaysUntouched) {
    writeFile(dir / "registry.db", "garbage");
    BackupSet set;
    fillSettings(set, 1);
    set.save(L"4");
    EXPECT_EQ(set.registryKeyName, TBString(L"4"));
    set.load(L"5");
    EXPECT_EQ(set.registryKeyName, TBString(L"5"));
    EXPECT_EQ(settingsOf(set), variant(1));
    EXPECT_EQ(readFile(dir / "registry.db"), "garbage");
}

TEST_F(BackupSetPersistence, SaveKilledMidwayLeavesEverySetWhollyOldOrWhollyNew) {
    std::mt19937 random(std::random_device{}());
    BackupSet old;
    fillSettings(old, 1);
    old.save(L"k");
    const std::vector<std::vector<std::wstring>> versions{variant(1), variant(2), variant(3)};
    for (int round = 0; round < 4; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            BackupSet next[2];
            fillSettings(next[0], 2);
            fillSettings(next[1], 3);
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
        if (started)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(ready[0]);
        ASSERT_TRUE(started);

        TBRegistryKey sets(TBHiveCurrentUser, SetsKey, false);
        TBStringArray names;
        sets.keyNames(names);
        for (const TBString& name : names) {
            const auto found = loaded(name);
            EXPECT_TRUE(std::find(versions.begin(), versions.end(), found) != versions.end())
                << "set " << name.narrow() << " in round " << round;
        }
    }
    old.save(L"k");
    EXPECT_EQ(loaded(L"k"), versions[0]);
}
