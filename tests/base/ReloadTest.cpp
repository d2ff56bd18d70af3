#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "backupset/BackupSetConfiguration.h"
#include "base/ULVConfig.h"
#include "base/ULVbase.h"
#include "foundation/TBRegistry.h"
#include "support/CatalogueNames.h"
#include "support/Eventually.h"
#include "support/ScriptGate.h"
#include "support/TempDir.h"

using terbin::TBString;
using Strings = std::vector<std::string>;

namespace {

// Runs `change` in a child process, as another program changing the
// registry would, and waits for it to end.
void elsewhere(const std::function<void()>& change) {
    const pid_t child = ::fork();
    if (child == 0) {
        change();
        ::_exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// What another program does to the set stored under `key`.
void renameStored(const wchar_t* key, const wchar_t* name) {
    BackupSet set;
    set.load(key);
    set.backupName = name;
    set.save(key);
}

void removeStored(const wchar_t* key) {
    terbin::tb_registry_removeKey(terbin::TBHiveCurrentUser, BackupSet::registryKeyPath(key));
}

// Removes the set under `key` and saves another one under the same name.
void replaceStored(const wchar_t* key, const wchar_t* name) {
    removeStored(key);
    BackupSet newcomer;
    newcomer.backupName = name;
    newcomer.saveNew(key);
}

// Confirms each edit with the name `name`, after running `during` as if the
// window's loop ran while the editor was open.
struct ScriptedEditor : BackupSetEditor {
    void edit(BackupSet& set) override {
        if (during)
            during();
        set.backupName = name;
        set.modified = true;
    }
    std::function<void()> during;
    TBString name = L"edited";
};

// theBaseApp with a registry of its own, the catalogue emptied after each
// test once every job has ended.
class Reload : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    void SetUp() override {
        // A test before may have installed a configuration of its own and
        // left none behind.
        BackupSetConfiguration::install(&theAppConfig);
        setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1);
        writeFile(dir / "src/file.txt", "contents");
        makeDirs(dir / "target");
        theBaseApp.m_pMainWnd = &mainWindow;
        theBaseApp.backupSetEditor = &editor;
    }
    void TearDown() override {
        gate.open();
        waitForJobsToEnd();
        for (BackupSet* set : theBaseApp.backupSets) delete set;
        theBaseApp.backupSets.clear();
        theBaseApp.m_pMainWnd = nullptr;
        theBaseApp.backupSetEditor = nullptr;
        theBaseApp.runAllowed = false;
        theBaseApp.selectedIndex = -1;
        unsetenv("ULVAREN_REGISTRY");
    }
    // Until every job started has posted its done message: each job stops
    // holding its set before that.
    void waitForJobsToEnd() {
        ASSERT_TRUE(eventually([&] {
            for (MSG msg{}; mainWindow.peekMessage(msg);)
                doneMessages += msg.message == WM_BACKUP_JOB_DONE;
            return doneMessages >= jobs;
        }));
    }
    // A set of the catalogue that backs up src, saved under `key` unless empty.
    BackupSet* makeSet(const wchar_t* name, const wchar_t* key) {
        auto* set = new BackupSet;
        theBaseApp.backupSets.add(set);
        set->backupName = name;
        set->targetFolder = TBString::fromBytes(dir / "target");
        set->sourceFolders.add(TBString::fromBytes(dir / "src"));
        if (*key != 0) {
            EXPECT_EQ(set->save(key), 0u);
        }
        return set;
    }
    void start(BackupSet* set) {
        theBaseApp.startBackupSet(set);
        ++jobs;
    }

    TempDir dir;
    CWnd mainWindow;
    ScriptedEditor editor;
    ScriptGate gate{dir / "gate"};
    int jobs = 0;
    int doneMessages = 0;
};

}  // namespace

// Sets added, removed and renamed by another program show; the sets that
// stay are the same objects with their last run kept, and the selection stays
// on its set. A set never saved is left alone, and a registry that cannot be
// read takes nothing away.
TEST_F(Reload, ShowsWhatAnotherProgramChangedAndKeepsObjectsAndSelection) {
    makeSet(L"one", L"1");
    BackupSet* two = makeSet(L"two", L"2");
    BackupSet* three = makeSet(L"three", L"3");
    makeSet(L"unsaved", L"");
    three->status = Complete;
    theBaseApp.selectedIndex = 1;
    elsewhere([] {
        removeStored(L"1");
        renameStored(L"3", L"three renamed");
        BackupSet added;
        added.backupName = L"added";
        added.saveNew(L"");
    });
    theBaseApp.reloadBackupSets();
    EXPECT_EQ(catalogueNames(), (Strings{"2 two", "3 three renamed", " unsaved", "0 added"}));
    EXPECT_EQ(theBaseApp.backupSets[0], two);
    EXPECT_EQ(theBaseApp.backupSets[1], three);
    EXPECT_EQ(three->status, Complete);
    EXPECT_EQ(theBaseApp.selectedSet(), two);

    theBaseApp.reloadBackupSets();  // nothing changed since
    EXPECT_EQ(catalogueNames(), (Strings{"2 two", "3 three renamed", " unsaved", "0 added"}));

    setenv("ULVAREN_REGISTRY", (dir / "missing.db").c_str(), 1);
    theBaseApp.reloadBackupSets();
    EXPECT_EQ(catalogueNames(), (Strings{"2 two", "3 three renamed", " unsaved", "0 added"}));
    EXPECT_FALSE(exists(dir / "missing.db"));
}

// A set removed elsewhere while its job runs, and one renamed elsewhere
// while its job waits in the queue, keep their objects and values until the
// jobs have ended; the next reload then drops the one and renames the other.
// The removed set's key, reused meanwhile, shows as a set of its own.
TEST_F(Reload, ASetHeldByAJobStaysAsItWasUntilTheJobEnded) {
    BackupSet* running = makeSet(L"running", L"1");
    BackupSet* queued = makeSet(L"queued", L"2");
    running->preBackupEnabled = 1;
    running->preBackupProgram = L"/bin/sh";
    running->preBackupArgs = TBString::fromBytes("-c '" + gate.shellCommand() + "'");
    theBaseApp.runAllowed = true;
    start(running);
    start(queued);
    ASSERT_TRUE(gate.waitUntilReached());
    theBaseApp.selectedIndex = 0;
    elsewhere([] {
        replaceStored(L"1", L"newcomer");
        renameStored(L"2", L"queued renamed");
    });
    theBaseApp.reloadBackupSets();
    EXPECT_EQ(catalogueNames(), (Strings{"1 running", "2 queued", "1 newcomer"}));
    EXPECT_EQ(theBaseApp.selectedSet(), running);

    gate.open();
    waitForJobsToEnd();
    theBaseApp.reloadBackupSets();
    EXPECT_EQ(catalogueNames(), (Strings{"2 queued renamed", "1 newcomer"}));
    EXPECT_EQ(theBaseApp.backupSets[0], queued);
    EXPECT_EQ(theBaseApp.selectedIndex, -1);
    EXPECT_EQ(storedNames(), (Strings{"2 queued renamed", "1 newcomer"}));
}

// An edit of a set that another program removed, or removed and replaced
// under the same key, while the editor was open is refused: the key is not
// made again, the newcomer is not overwritten, and the set is neither
// deleted under the editor by a reload nor changed.
TEST_F(Reload, AnEditOfASetRemovedElsewhereIsRefusedAndWritesNothing) {
    const struct {
        std::function<void()> change;
        Strings stored;
    } cases[] = {
        {[] { removeStored(L"1"); }, {}},
        {[] { replaceStored(L"1", L"newcomer"); }, {"1 newcomer"}},
    };
    for (const auto& row : cases) {
        BackupSet* mine = makeSet(L"mine", L"1");
        theBaseApp.selectedIndex = 0;
        editor.during = [&] {
            elsewhere(row.change);
            theBaseApp.reloadBackupSets();
            EXPECT_EQ(theBaseApp.selectedSet(), mine);
        };
        theBaseApp.OnEditBackupSet();
        EXPECT_NE(theBaseApp.lastRefusal.narrow().find("removed or replaced"), std::string::npos)
            << theBaseApp.lastRefusal.narrow();
        EXPECT_EQ(catalogueNames().front(), "1 mine");
        EXPECT_FALSE(mine->modified);
        EXPECT_EQ(storedNames(), row.stored);

        theBaseApp.reloadBackupSets();
        EXPECT_EQ(catalogueNames(), row.stored);
        for (BackupSet* set : theBaseApp.backupSets) delete set;
        theBaseApp.backupSets.clear();
        removeStored(L"1");
    }
}
