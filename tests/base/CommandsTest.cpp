#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/ULVbase.h"
#include "foundation/TBFileLock.h"
#include "foundation/TBRegistry.h"
#include "support/CatalogueNames.h"
#include "support/Eventually.h"
#include "support/ScriptGate.h"
#include "support/TempDir.h"

using terbin::TBString;
using Strings = std::vector<std::string>;
using Command = void (ULVbase::*)();
using Update = void (ULVbase::*)(CCmdUI&);

namespace {

// Stands in for the wizard: names the set `name` and confirms.
struct ScriptedEditor : BackupSetEditor {
    void edit(BackupSet& set) override {
        ++calls;
        set.backupName = TBString::fromBytes(name);
        set.modified = true;
    }
    const char* name = "";
    int calls = 0;
};

// The commands on theBaseApp with a registry of their own, a scripted editor
// and a log viewer that records what it is given. The set `held`, outside
// the catalogue, keeps a backup in progress once hold() has queued it.
class Commands : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    void SetUp() override {
        setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1);
        writeFile(dir / "src/file.txt", "contents");
        makeDirs(dir / "target");
        theBaseApp.m_pMainWnd = &mainWindow;
        theBaseApp.backupSetEditor = &editor;
        theBaseApp.logViewer = [this](const TBString& line) { viewed.push_back(line.narrow()); };
    }
    void TearDown() override {
        gate.open();
        settle();
        clearCatalogue();
        theBaseApp.m_pMainWnd = nullptr;
        theBaseApp.backupSetEditor = nullptr;
        theBaseApp.logViewer = nullptr;
        theBaseApp.busy = theBaseApp.runAllowed = false;
        theBaseApp.selectedIndex = -1;
        unsetenv("ULVAREN_REGISTRY");
    }
    // Waits until every job has run and posted its done message, so that no
    // job outlives its set.
    void settle() {
        ASSERT_TRUE(eventually([] { return !theBaseApp.isBackupInProgress(); }));
        ASSERT_TRUE(eventually([&] {
            for (MSG msg{}; mainWindow.peekMessage(msg);)
                doneMessages += msg.message == WM_BACKUP_JOB_DONE;
            return doneMessages >= jobs;
        }));
    }
    static void clearCatalogue() {
        const terbin::TBWriteLock guard(theBaseApp.backupSets);
        for (BackupSet* set : theBaseApp.backupSets) delete set;
        theBaseApp.backupSets.clear();
    }
    // A set that backs up src; saved under `key` unless that is empty.
    BackupSet* makeSet(const std::string& name, const wchar_t* key = L"") {
        auto* set = new BackupSet;
        theBaseApp.backupSets.add(set);
        set->backupName = TBString::fromBytes(name);
        set->targetFolder = TBString::fromBytes(dir / "target");
        set->sourceFolders.add(TBString::fromBytes(dir / "src"));
        if (*key != 0)
            set->save(key);
        return set;
    }
    // Keeps a backup in progress until the gate opens: `held` waits at it in
    // its pre-backup script. Once held, holding again does nothing.
    void hold() {
        if (held.status != Ready)
            return;
        held.backupName = L"held";
        held.targetFolder = TBString::fromBytes(dir / "target");
        held.preBackupEnabled = 1;
        held.preBackupProgram = L"/bin/sh";
        held.preBackupArgs = TBString::fromBytes("-c '" + gate.shellCommand() + "'");
        theBaseApp.startBackupSet(&held);
        ++jobs;
        ASSERT_TRUE(gate.waitUntilReached());
    }

    TempDir dir;
    CWnd mainWindow;
    ScriptedEditor editor;
    Strings viewed;
    ScriptGate gate{dir / "gate"};
    BackupSet held;
    int jobs = 0;
    int doneMessages = 0;
};

// The calls an update made, as "E0,C1,E1": Enable off, SetCheck 1, Enable on.
std::string calls(Update update) {
    CCmdUI cmdUI;
    (theBaseApp.*update)(cmdUI);
    std::string out;
    for (const CCmdUI::Record& call : cmdUI.calls())
        out += (out.empty() ? "" : ",") + ("EC"[int(call.call)] + std::to_string(call.value));
    return out;
}

// Every update in one text: a command one call enabled by its name, one that
// made other calls as name:calls; one that one call disabled is left out.
std::string updates() {
    const std::pair<std::string, Update> all[] = {
        {"start-all", &ULVbase::OnUpdateBackupStart},
        {"stop-all", &ULVbase::OnUpdateBackupStop},
        {"start", &ULVbase::OnUpdateStartSelected},
        {"stop", &ULVbase::OnUpdateStopSelected},
        {"pause", &ULVbase::OnUpdatePauseSelected},
        {"pause-all", &ULVbase::OnUpdatePauseAll},
        {"add", &ULVbase::OnUpdateAddBackupSet},
        {"edit", &ULVbase::OnUpdateEditBackupSet},
        {"remove", &ULVbase::OnUpdateRemoveBackupSet},
        {"log", &ULVbase::OnUpdateViewLog},
        {"disallow", &ULVbase::OnUpdateDisallowWhenRunning}};
    std::string out;
    for (const auto& [name, update] : all) {
        const std::string made = calls(update);
        if (made != "E0")
            out += (out.empty() ? "" : " ") + name + (made == "E1" ? "" : ":" + made);
    }
    return out;
}

// Pause sets its check only while enabled, keeping the last one otherwise;
// pause-all enables, then checks; log is disabled before it is enabled.
TEST_F(Commands, UpdateRulesFollowBusyProgressAndTheSelectedSet) {
    constexpr int None = -1;  // the selection is past the end
    struct Scene {
        bool inProgress, busy, logFile, paused;
        int status;  // of the selected set
        const char* updates;
    };
    const Scene scenes[] = {
        {false, false, true, false, Complete,
         "start-all start pause-all:E0,C1 add edit remove log:E0,E1 disallow"},
        {false, false, false, false, Complete,
         "start-all start pause-all:E0,C1 add edit remove disallow"},
        {false, false, true, false, None, "start-all pause-all:E0,C1 add disallow"},
        {false, true, true, false, Complete, "pause-all:E0,C1"},
        {true, false, true, true, Running, "stop-all stop pause:E0,C1,E1 pause-all:E1,C1"},
        {true, false, true, false, NotStarted, "stop-all start pause:E0,C0,E1 pause-all:E1,C0"},
        {true, false, false, false, RunningPreScript, "stop-all start pause-all:E0,C1"},
        {true, false, true, false, RunningPostScript, "stop-all start pause-all:E0,C1 log:E0,E1"},
        {true, true, true, false, Running, "pause-all:E0,C0"},
    };
    makeSet("first");
    BackupSet* selected = makeSet("second");
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.updates);
        if (scene.inProgress)
            hold();
        selected->status = scene.status == None ? Ready : scene.status;
        selected->pauseRequested = scene.paused;
        selected->logFilePath = TBString::fromBytes(dir / (scene.logFile ? "src/file.txt" : "no"));
        theBaseApp.selectedIndex = scene.status == None ? 2 : 1;
        theBaseApp.busy = scene.busy;
        EXPECT_EQ(updates(), scene.updates);
    }
}

TEST_F(Commands, PauseAllPausesUnlessMostActiveSetsArePausedAndLeavesOthersAlone) {
    // Per set its status, then "+" when its pause is requested: R Running,
    // N NotStarted (queued), C Complete, P RunningPreScript.
    const char* const cases[][3] = {
        // before, the update's calls, after
        {"R+ N-", "E1,C1", "R+ N+"},
        {"R+ N+", "E1,C1", "R- N-"},
        {"R- R- C+ P-", "E1,C0", "R+ R+ C+ P-"},
        {"R+ R+ N- C-", "E1,C1", "R- R- N- C-"},
        {"C+ P-", "E0,C1", "C+ P-"},
    };
    const BackupStatus statuses[] = {Running, NotStarted, Complete, RunningPreScript};
    for (const auto& [before, update, after] : cases) {
        SCOPED_TRACE(before);
        clearCatalogue();
        std::string sets = before;
        for (size_t i = 0; i < sets.size(); i += 3) {
            BackupSet* set = makeSet("set");
            set->status = statuses[std::string("RNCP").find(sets[i])];
            set->pauseRequested = sets[i + 1] == '+';
        }
        EXPECT_EQ(calls(&ULVbase::OnUpdatePauseAll), update);
        theBaseApp.OnPauseAll();
        for (int i = 0; i < theBaseApp.backupSets.size(); ++i)
            sets[size_t(i) * 3 + 1] = theBaseApp.backupSets[i]->pauseRequested ? '+' : '-';
        EXPECT_EQ(sets, after);
    }
}

// One held run keeps a backup in progress while the selected set is started,
// stopped and paused; after it, start all starts what it had refused.
TEST_F(Commands, StartAndStopActOnlyWhereTheirRulesLetThem) {
    BackupSet* excluded = makeSet("excluded");
    excluded->backupExcludeFromStartAll = 1;
    theBaseApp.OnBackupStart();
    EXPECT_FALSE(theBaseApp.runAllowed.load()) << "no batch began";

    BackupSet* queued = makeSet("queued");
    BackupSet* running = makeSet("running");
    hold();
    theBaseApp.OnBackupStart();
    EXPECT_EQ(queued->status, Ready) << "start all is refused while a backup is in progress";
    theBaseApp.selectedIndex = 1;
    theBaseApp.OnStartSelected();
    ++jobs;
    EXPECT_EQ(queued->status, NotStarted);
    theBaseApp.OnStopSelected();
    theBaseApp.OnPauseSelected();
    EXPECT_FALSE(queued->stopRequested.load()) << "a queued set is reached by stop all only";
    EXPECT_TRUE(queued->pauseRequested.load());
    theBaseApp.OnPauseSelected();
    EXPECT_FALSE(queued->pauseRequested.load());

    theBaseApp.selectedIndex = 2;
    running->status = Running;
    theBaseApp.OnStartSelected();
    theBaseApp.OnStopSelected();
    EXPECT_TRUE(running->stopRequested.load());
    EXPECT_EQ(theBaseApp.threadPool.getTotalJobCount(), 2) << "a running set is not started again";

    theBaseApp.busy = true;  // which neither stop all nor start all asks
    theBaseApp.OnBackupStop();
    EXPECT_FALSE(theBaseApp.runAllowed.load());
    gate.open();
    settle();
    theBaseApp.runAllowed = true;
    theBaseApp.OnBackupStop();
    EXPECT_TRUE(theBaseApp.runAllowed.load()) << "stop all acts only while a backup is in progress";

    // Start all clears the stop request and the Cancelled status left behind.
    theBaseApp.OnBackupStart();
    jobs += 2;
    EXPECT_EQ(theBaseApp.waitCursorCount(), 0);
    settle();
    EXPECT_EQ(queued->status, Complete);
    EXPECT_EQ(running->status, Complete);
    EXPECT_EQ(excluded->status, Ready);
}

// Add works on an empty catalogue, which its update rule disables, and
// refuses a name that is no folder name from any editor. (A cancelled new
// set is seen adding nothing through the host's new command.)
TEST_F(Commands, AddAppendsOnlyASavedSetEvenToAnEmptyCatalogue) {
    EXPECT_EQ(calls(&ULVbase::OnUpdateAddBackupSet), "E0");
    editor.name = "a/b";
    theBaseApp.OnAddBackupSet();
    EXPECT_TRUE(catalogueNames().empty() && storedNames().empty());
    EXPECT_FALSE(theBaseApp.lastRefusal.isEmpty() || mainWindow.isInvalidated());
    editor.name = "Docs";
    theBaseApp.OnAddBackupSet();
    EXPECT_EQ(catalogueNames(), Strings{"0 Docs"});
    EXPECT_EQ(storedNames(), Strings{"0 Docs"});
    EXPECT_TRUE(mainWindow.isInvalidated());
}

// Only a key of the set's own is deleted: a set never saved has none, and
// "/" would name "BackupSets" itself.
TEST_F(Commands, RemoveDeletesNoKeyForASetWithoutOneOfItsOwn) {
    makeSet("saved", L"1");
    makeSet("never saved");
    makeSet("odd key")->registryKeyName = L"/";
    theBaseApp.selectedIndex = 1;
    theBaseApp.OnRemoveBackupSet();
    theBaseApp.OnRemoveBackupSet();
    EXPECT_EQ(catalogueNames(), Strings{"1 saved"});
    EXPECT_EQ(storedNames(), Strings{"1 saved"});
    EXPECT_TRUE(mainWindow.isInvalidated());
}

// Another process, forked here, holds the set's run lock until the pipe
// `release` is closed; it says through `ready` whether it got the lock.
TEST_F(Commands, EditAndRemoveRefuseASetThatAnotherProcessRuns) {
    makeSet("busy elsewhere", L"1");
    theBaseApp.selectedIndex = 0;
    editor.name = "changed";
    int ready[2], release[2];
    // Close on exec: no program the tests start may keep a pipe open.
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC) | ::pipe2(release, O_CLOEXEC), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        ::close(release[1]);
        terbin::TBFileLock lock;
        char c = lock.acquire(BackupSet::runLockPath(L"1")) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);  // end-of-file once released
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char got = 0;
    EXPECT_TRUE(::read(ready[0], &got, 1) == 1 && got == 'y');
    for (const Command command : {&ULVbase::OnEditBackupSet, &ULVbase::OnRemoveBackupSet}) {
        (theBaseApp.*command)();
        EXPECT_EQ(editor.calls, 0);
        EXPECT_EQ(catalogueNames(), Strings{"1 busy elsewhere"});
        EXPECT_EQ(storedNames(), Strings{"1 busy elsewhere"});
        EXPECT_NE(theBaseApp.lastRefusal.narrow().find(std::to_string(other)), std::string::npos)
            << theBaseApp.lastRefusal.narrow();
    }
    ::close(release[1]);
    ::close(ready[0]);
    ::waitpid(other, nullptr, 0);
    theBaseApp.OnEditBackupSet();
    EXPECT_EQ(storedNames(), Strings{"1 changed"});
    theBaseApp.OnRemoveBackupSet();
    EXPECT_TRUE(storedNames().empty());
}

// The installed viewer is handed the command line. Without one (the host
// always installs its own), the desktop's opener on the path stands in for a
// missing notepad and is given the path whole, quotes and backslash included.
TEST_F(Commands, ViewLogHandsTheQuotedPathToTheInstalledViewerOrTheOpener) {
    const std::string log = dir / "say \"hi\\\" $x.log";
    writeFile(log, "line\n");
    makeSet("logged")->logFilePath = TBString::fromBytes(log);
    theBaseApp.selectedIndex = 0;
    theBaseApp.OnViewLog();
    EXPECT_EQ(viewed, Strings{"notepad \"" + log + "\""});

    theBaseApp.logViewer = nullptr;
    const std::string opener = dir / "bin/xdg-open", path = getenv("PATH") ? getenv("PATH") : "";
    writeFile(opener,
              "#!/bin/sh\nprintf %s \"$1\" > \"$0.tmp\" && /bin/mv \"$0.tmp\" \"$0.seen\"\n");
    ::chmod(opener.c_str(), 0700);
    setenv("PATH", (dir / "bin").c_str(), 1);
    theBaseApp.OnViewLog();
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(eventually([&] { return exists(opener + ".seen"); }));
    EXPECT_EQ(readFile(opener + ".seen"), log);
    EXPECT_TRUE(theBaseApp.lastRefusal.isEmpty());
}

// Each command in a scene where it acts once busy is cleared: the selected
// set Failed (so that a run of it shows) with a log, and a queued set beside
// it; stop and pause, last, with the selected set Running in a held backup.
TEST_F(Commands, NothingActsWhileBusyWhereItWouldOtherwise) {
    const struct {
        const char* name;
        Command command;
        bool inProgress;
    } cases[] = {
        {"start", &ULVbase::OnStartSelected, false},    {"pause all", &ULVbase::OnPauseAll, false},
        {"add", &ULVbase::OnAddBackupSet, false},       {"edit", &ULVbase::OnEditBackupSet, false},
        {"remove", &ULVbase::OnRemoveBackupSet, false}, {"view log", &ULVbase::OnViewLog, false},
        {"stop", &ULVbase::OnStopSelected, true},       {"pause", &ULVbase::OnPauseSelected, true}};
    // Everything a command could change, in one text.
    const auto fingerprint = [&] {
        std::string out = std::to_string(editor.calls) + " " + std::to_string(viewed.size());
        for (const BackupSet* set : theBaseApp.backupSets)
            out += " " + std::to_string(set->status) + std::to_string(set->pauseRequested) +
                   std::to_string(set->stopRequested);
        return out;
    };
    editor.name = "edited";
    for (const auto& [name, command, inProgress] : cases) {
        SCOPED_TRACE(name);
        if (!inProgress)
            settle();
        clearCatalogue();
        BackupSet* selected = makeSet("selected");
        selected->status = inProgress ? Running : Failed;
        selected->logFilePath = TBString::fromBytes(dir / "src/file.txt");
        makeSet("queued")->status = NotStarted;
        theBaseApp.selectedIndex = 0;
        if (inProgress)
            hold();
        theBaseApp.busy = true;
        const std::string before = fingerprint();
        (theBaseApp.*command)();
        EXPECT_EQ(fingerprint(), before);
        theBaseApp.busy = false;
        (theBaseApp.*command)();
        jobs += command == &ULVbase::OnStartSelected;
        EXPECT_NE(fingerprint(), before) << "the scene lets the command act";
    }
}

}  // namespace
