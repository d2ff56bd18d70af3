#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/ULVbase.h"
#include "foundation/TBFileLock.h"
#include "foundation/TBRegistry.h"
#include "support/Eventually.h"
#include "support/ScriptGate.h"
#include "support/TempDir.h"

using terbin::TBString;

namespace {

// Stands in for the wizard: runs `script` on the set and confirms, or
// cancels when there is none.
struct ScriptedEditor : BackupSetEditor {
    void edit(BackupSet& set) override {
        ++calls;
        if (script) {
            script(set);
            set.modified = true;
        }
    }
    std::function<void(BackupSet&)> script;
    int calls = 0;
};

// Another process holding a run lock until released; the two sides meet
// through pipes.
class LockHolder {
public:
    explicit LockHolder(const TBString& path) {
        int ready[2];
        int release[2];
        // Close on exec: no program the tests start may keep a pipe open.
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            terbin::TBFileLock lock;
            char c = lock.acquire(path) == 0 ? 'y' : 'n';
            (void)!::write(ready[1], &c, 1);
            (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        char c = 0;
        held_ = ::read(ready[0], &c, 1) == 1 && c == 'y';
        ::close(ready[0]);
        releaseFd_ = release[1];
    }
    ~LockHolder() { release(); }
    bool held() const { return held_; }
    pid_t pid() const { return pid_; }
    void release() {
        if (releaseFd_ < 0)
            return;
        ::close(releaseFd_);  // the child reads end-of-file and ends
        releaseFd_ = -1;
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool held_ = false;
};

// The commands on theBaseApp with a registry of their own, a scripted editor
// and a log viewer that records what it is given. Sets in `outside` are not
// in the catalogue; a gated one among them keeps a backup in progress.
class Commands : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    void SetUp() override {
        setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1);
        writeFile(dir / "src/file.txt", "contents");
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
        theBaseApp.busy = false;
        theBaseApp.runAllowed = false;
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
        auto set = std::make_unique<BackupSet>();
        set->backupName = TBString::fromBytes(name);
        set->targetFolder = TBString::fromBytes(dir / ("targets/" + name));
        makeDirs(dir / ("targets/" + name));
        set->sourceFolders.add(TBString::fromBytes(dir / "src"));
        set->backupAddComputerFolder = 0;
        if (*key != 0)
            set->save(key);
        theBaseApp.backupSets.add(set.get());
        return set.release();
    }
    // Keeps a backup in progress until the test ends: a set outside the
    // catalogue waits at the gate in its pre-backup script.
    void holdABackupInProgress() {
        BackupSet* held = outside.emplace_back(std::make_unique<BackupSet>()).get();
        held->backupName = L"held";
        held->targetFolder = TBString::fromBytes(dir.path());
        held->preBackupEnabled = 1;
        held->preBackupProgram = L"/bin/sh";
        held->preBackupArgs = TBString::fromBytes("-c '" + gate.shellCommand() + "'");
        theBaseApp.startBackupSet(held);
        ++jobs;
        ASSERT_TRUE(gate.waitUntilReached());
    }
    static std::vector<std::string> storedKeys() {
        terbin::TBStringArray names;
        terbin::TBRegistryKey(2, BackupSet::setsKeyPath(), false).keyNames(names);
        std::vector<std::string> out;
        for (const TBString& name : names) out.push_back(name.narrow());
        return out;
    }
    static std::vector<std::string> catalogue() {
        std::vector<std::string> out;
        for (const BackupSet* set : theBaseApp.backupSets)
            out.push_back(set->registryKeyName.narrow() + " " + set->backupName.narrow());
        return out;
    }
    // Everything a command could change, in one text.
    std::string fingerprint() {
        std::string out = std::to_string(theBaseApp.threadPool.getTotalJobCount()) + " " +
                          std::to_string(editor.calls) + " " + std::to_string(viewed.size());
        for (const BackupSet* set : theBaseApp.backupSets) {
            out += " [" + set->backupName.narrow() + " " + set->registryKeyName.narrow() + " " +
                   std::to_string(set->status) + std::to_string(set->pauseRequested.load()) +
                   std::to_string(set->stopRequested.load()) + "]";
        }
        for (const std::string& key : storedKeys()) out += " " + key;
        return out + (mainWindow.isInvalidated() ? " invalid" : "");
    }

    TempDir dir;
    CWnd mainWindow;
    ScriptedEditor editor;
    std::vector<std::string> viewed;
    ScriptGate gate{dir / "gate"};
    std::vector<std::unique_ptr<BackupSet>> outside;
    int jobs = 0;
    int doneMessages = 0;
};

using Update = void (ULVbase::*)(CCmdUI&);
const std::pair<const char*, Update> Updates[] = {
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
    {"disallow", &ULVbase::OnUpdateDisallowWhenRunning},
};

std::string enabledCommands() {
    std::string out;
    for (const auto& [name, update] : Updates) {
        CCmdUI cmdUI;
        (theBaseApp.*update)(cmdUI);
        if (cmdUI.isEnabled())
            out += out.empty() ? name : std::string(" ") + name;
    }
    return out;
}

// The calls an update made, as "E1 C0": Enable on, SetCheck 0.
std::string calls(Update update) {
    CCmdUI cmdUI;
    (theBaseApp.*update)(cmdUI);
    std::string out;
    for (const CCmdUI::Record& call : cmdUI.calls()) {
        out += (out.empty() ? "" : " ") +
               std::string(call.call == CCmdUI::Call::Enable ? "E" : "C") +
               std::to_string(call.value);
    }
    return out;
}

TEST_F(Commands, UpdateRulesFollowBusyProgressAndTheSelectedSet) {
    constexpr int None = -1;
    struct Scene {
        bool inProgress;
        int status;  // of the selected set; None: the selection is past the end
        bool busy;
        bool logFile;
        const char* enabled;
    };
    const Scene scenes[] = {
        {false, Complete, false, true, "start-all start add edit remove log disallow"},
        {false, Complete, false, false, "start-all start add edit remove disallow"},
        {false, None, false, true, "start-all add disallow"},
        {false, Complete, true, true, ""},
        {true, Running, false, true, "stop-all stop pause pause-all"},
        {true, NotStarted, false, true, "stop-all start pause pause-all"},
        {true, RunningPreScript, false, false, "stop-all start"},
        {true, RunningPostScript, false, true, "stop-all start log"},
        {true, Running, true, true, ""},
    };
    makeSet("first");
    BackupSet* selected = makeSet("second");
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.enabled);
        if (scene.inProgress && outside.empty())
            holdABackupInProgress();
        selected->status = scene.status == None ? Ready : scene.status;
        theBaseApp.selectedIndex = scene.status == None ? 2 : 1;
        theBaseApp.busy = scene.busy;
        selected->logFilePath =
            TBString::fromBytes(dir / (scene.logFile ? "src/file.txt" : "none.log"));
        EXPECT_EQ(enabledCommands(), scene.enabled);
    }
    // The order of the calls: the check is set only when enabled, and last
    // shown while disabled otherwise.
    theBaseApp.busy = false;
    selected->status = Running;
    selected->pauseRequested = true;
    EXPECT_EQ(calls(&ULVbase::OnUpdatePauseSelected), "E0 C1 E1");
    EXPECT_EQ(calls(&ULVbase::OnUpdatePauseAll), "E1 C1");
    EXPECT_EQ(calls(&ULVbase::OnUpdateViewLog), "E0");
    selected->status = Complete;
    EXPECT_EQ(calls(&ULVbase::OnUpdatePauseSelected), "E0");
    EXPECT_EQ(calls(&ULVbase::OnUpdatePauseAll), "E0 C1") << "no active set: disabled, check on";
    EXPECT_EQ(calls(&ULVbase::OnUpdateViewLog), "E0 E1");
}

TEST_F(Commands, PauseAllPausesUnlessMostActiveSetsArePausedAndLeavesOthersAlone) {
    // One letter per set: R Running, N NotStarted (queued), C Complete,
    // P RunningPreScript; "+" when its pause is requested.
    struct Case {
        const char* before;
        const char* update;  // enabled and check state beforehand
        const char* after;
    };
    const Case cases[] = {
        {"R+ N-", "E1 C1", "R+ N+"},
        {"R+ N+", "E1 C1", "R- N-"},
        {"R- R- C+ P-", "E1 C0", "R+ R+ C+ P-"},
        {"R+ R+ N- C-", "E1 C1", "R- R- N- C-"},
        {"C+ P-", "E0 C1", "C+ P-"},
    };
    const std::pair<char, BackupStatus> letters[] = {
        {'R', Running}, {'N', NotStarted}, {'C', Complete}, {'P', RunningPreScript}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        clearCatalogue();
        const std::string before = c.before;
        for (size_t i = 0; i < before.size(); i += 3) {
            BackupSet* set = makeSet("set");
            for (const auto& [letter, status] : letters) {
                if (letter == before[i])
                    set->status = status;
            }
            set->pauseRequested = before[i + 1] == '+';
        }
        EXPECT_EQ(calls(&ULVbase::OnUpdatePauseAll), c.update);
        theBaseApp.OnPauseAll();
        std::string after = before;
        for (int i = 0; i < theBaseApp.backupSets.size(); ++i)
            after[size_t(i) * 3 + 1] = theBaseApp.backupSets[i]->pauseRequested ? '+' : '-';
        EXPECT_EQ(after, c.after);
    }
}

TEST_F(Commands, StartAllStartsEverySetNotExcludedAndIgnoresBusy) {
    BackupSet* excluded = makeSet("excluded");
    excluded->backupExcludeFromStartAll = 1;
    theBaseApp.OnBackupStart();
    EXPECT_FALSE(theBaseApp.isBackupInProgress());
    EXPECT_FALSE(theBaseApp.runAllowed.load()) << "no batch began";

    BackupSet* stopped = makeSet("stopped");
    stopped->status = Cancelled;
    stopped->stopRequested = true;
    BackupSet* second = makeSet("second");
    theBaseApp.busy = true;
    theBaseApp.OnBackupStart();
    jobs += 2;
    EXPECT_EQ(theBaseApp.waitCursorCount(), 0);
    settle();
    EXPECT_EQ(stopped->status, Complete);
    EXPECT_EQ(second->status, Complete);
    EXPECT_EQ(excluded->status, Ready);
}

TEST_F(Commands, WhileABackupRunsOnlySelectedSetsJoinAndStopReachesTheRunningOnly) {
    BackupSet* first = makeSet("first");
    BackupSet* queued = makeSet("queued");
    BackupSet* running = makeSet("running");
    holdABackupInProgress();
    const TBString batch = theBaseApp.backupDateTime;
    theBaseApp.OnBackupStart();
    EXPECT_EQ(first->status, Ready) << "start all is refused while a backup is in progress";

    theBaseApp.selectedIndex = 1;
    theBaseApp.OnStartSelected();
    ++jobs;
    EXPECT_EQ(queued->status, NotStarted);
    EXPECT_EQ(theBaseApp.backupDateTime, batch);
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
    running->status = Ready;

    theBaseApp.busy = true;
    theBaseApp.OnBackupStop();
    EXPECT_FALSE(theBaseApp.runAllowed.load());
    gate.open();
    settle();
    EXPECT_EQ(outside[0]->status, Cancelled);
    EXPECT_EQ(queued->status, Cancelled);
    theBaseApp.runAllowed = true;
    theBaseApp.OnBackupStop();
    EXPECT_TRUE(theBaseApp.runAllowed.load()) << "stop all acts only while a backup is in progress";
}

TEST_F(Commands, AddAppendsASavedCopyOnlyWhenTheEditorConfirmedAPlainName) {
    struct Case {
        const char* what;
        std::function<void(BackupSet&)> script;
        std::vector<std::string> catalogue;
        bool refused;
    };
    const Case cases[] = {
        {"cancelled", nullptr, {}, false},
        {"a name that is no folder name",
         [](BackupSet& set) { set.backupName = L"a/b"; },
         {},
         true},
        {"confirmed", [](BackupSet& set) { set.backupName = L"Docs"; }, {"0 Docs"}, false},
        {"a second", [](BackupSet& set) { set.backupName = L"More"; }, {"0 Docs", "1 More"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        editor.script = c.script;
        theBaseApp.OnAddBackupSet();
        EXPECT_EQ(catalogue(), c.catalogue);
        std::vector<std::string> keys;
        for (const std::string& entry : c.catalogue) keys.push_back(entry.substr(0, 1));
        EXPECT_EQ(storedKeys(), keys);
        EXPECT_EQ(theBaseApp.lastRefusal.isEmpty(), !c.refused);
        EXPECT_EQ(mainWindow.isInvalidated(), !c.catalogue.empty());
    }
    EXPECT_EQ(theBaseApp.backupSets[0]->status, Ready);
    theBaseApp.backupSetEditor = nullptr;
    theBaseApp.OnAddBackupSet();
    EXPECT_EQ(theBaseApp.backupSets.size(), 2);
}

TEST_F(Commands, EditSavesTheChangedSetUnderItsOwnKeyAndKeepsACancelledOne) {
    BackupSet* set = makeSet("Old", L"5");
    set->status = Complete;
    theBaseApp.selectedIndex = 0;
    theBaseApp.OnEditBackupSet();
    EXPECT_EQ(catalogue(), std::vector<std::string>{"5 Old"});
    EXPECT_EQ(set->status, Complete);
    EXPECT_FALSE(mainWindow.isInvalidated());

    editor.script = [](BackupSet& edited) { edited.backupName = L"New"; };
    theBaseApp.OnEditBackupSet();
    EXPECT_EQ(catalogue(), std::vector<std::string>{"5 New"});
    EXPECT_EQ(set->status, Ready);
    BackupSet stored;
    stored.load(L"5");
    EXPECT_EQ(stored.backupName, L"New");
    EXPECT_EQ(storedKeys(), std::vector<std::string>{"5"});
}

TEST_F(Commands, RemoveDeletesOnlyTheSelectedSetsKeyAndKeepsTheIndex) {
    for (const wchar_t* key : {L"1", L"2", L"3"}) makeSet("set" + TBString(key).narrow(), key);
    terbin::TBRegistryKey(2, BackupSet::setsKeyPath(), false)
        .setValue(terbin::TBRegistryValue(L"Foreign", L"kept"));
    makeSet("never saved");
    makeSet("odd key")->registryKeyName = L"/";
    theBaseApp.selectedIndex = 1;
    theBaseApp.OnRemoveBackupSet();
    EXPECT_EQ(catalogue(),
              (std::vector<std::string>{"1 set1", "3 set3", " never saved", "/ odd key"}));
    EXPECT_EQ(storedKeys(), (std::vector<std::string>{"1", "3"}));
    EXPECT_TRUE(mainWindow.isInvalidated());

    theBaseApp.selectedIndex = 2;
    theBaseApp.OnRemoveBackupSet();
    theBaseApp.OnRemoveBackupSet();
    EXPECT_EQ(catalogue(), (std::vector<std::string>{"1 set1", "3 set3"}));
    EXPECT_EQ(storedKeys(), (std::vector<std::string>{"1", "3"}))
        << "a set without a key of its own deletes none";
    terbin::TBValue foreign;
    EXPECT_EQ(
        terbin::TBRegistryKey(2, BackupSet::setsKeyPath(), false).getValue(L"Foreign", foreign),
        0u);
    EXPECT_EQ(theBaseApp.selectedIndex, 2);
    EXPECT_EQ(enabledCommands(), "start-all add disallow") << "the selection is past the end";
}

TEST_F(Commands, EditAndRemoveRefuseASetThatAnotherProcessRuns) {
    makeSet("busy elsewhere", L"1");
    theBaseApp.selectedIndex = 0;
    editor.script = [](BackupSet& set) { set.backupName = L"changed"; };
    LockHolder other(BackupSet::runLockPath(L"1"));
    ASSERT_TRUE(other.held());
    for (void (ULVbase::*command)() : {&ULVbase::OnEditBackupSet, &ULVbase::OnRemoveBackupSet}) {
        (theBaseApp.*command)();
        EXPECT_EQ(editor.calls, 0);
        EXPECT_EQ(catalogue(), std::vector<std::string>{"1 busy elsewhere"});
        EXPECT_EQ(storedKeys(), std::vector<std::string>{"1"});
        EXPECT_NE(theBaseApp.lastRefusal.narrow().find(std::to_string(other.pid())),
                  std::string::npos)
            << theBaseApp.lastRefusal.narrow();
    }
    other.release();
    theBaseApp.OnEditBackupSet();
    EXPECT_EQ(catalogue(), std::vector<std::string>{"1 changed"});
    theBaseApp.OnRemoveBackupSet();
    EXPECT_TRUE(storedKeys().empty());
}

TEST_F(Commands, ViewLogOpensTheQuotedPathInTheInstalledViewerOrAProgramOnThePath) {
    BackupSet* set = makeSet("logged");
    theBaseApp.selectedIndex = 0;
    set->logFilePath = TBString::fromBytes(dir / "a log.log");
    writeFile(set->logFilePath.narrow(), "line\n");
    theBaseApp.OnViewLog();
    EXPECT_EQ(viewed, std::vector<std::string>{"notepad \"" + dir.path() + "/a log.log\""});

    // Without an installed viewer, a program found on the path is started on
    // the log and records the path it was given.
    theBaseApp.logViewer = nullptr;
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    struct Case {
        const char* program;
        const char* log;
    };
    const Case cases[] = {
        {"notepad", "a log.log"}, {"notepad", "say \"hi\\\" $x.log"}, {"xdg-open", "a log.log"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.log);
        const std::string bin = dir / ("bin" + std::to_string(&c - cases));
        writeFile(bin + "/" + c.program,
                  "#!/bin/sh\nprintf %s \"$1\" > \"$0.tmp\" && /bin/mv \"$0.tmp\" \"$0.seen\"\n");
        ::chmod((bin + "/" + c.program).c_str(), 0700);
        set->logFilePath = TBString::fromBytes(dir / c.log);
        writeFile(dir / c.log, "line\n");
        setenv("PATH", bin.c_str(), 1);
        theBaseApp.OnViewLog();
        setenv("PATH", path.c_str(), 1);
        const std::string seen = bin + "/" + c.program + ".seen";
        ASSERT_TRUE(eventually([&] { return exists(seen); }));
        EXPECT_EQ(readFile(seen), dir / c.log);
        EXPECT_TRUE(theBaseApp.lastRefusal.isEmpty());
    }
}

TEST_F(Commands, NothingActsWhileBusyWhereItWouldOtherwise) {
    using Command = void (ULVbase::*)();
    const std::pair<const char*, Command> cases[] = {
        {"start", &ULVbase::OnStartSelected},    {"pause all", &ULVbase::OnPauseAll},
        {"add", &ULVbase::OnAddBackupSet},       {"edit", &ULVbase::OnEditBackupSet},
        {"remove", &ULVbase::OnRemoveBackupSet}, {"view log", &ULVbase::OnViewLog},
        {"stop", &ULVbase::OnStopSelected},      {"pause", &ULVbase::OnPauseSelected},
    };
    editor.script = [](BackupSet& set) { set.backupName = L"edited"; };
    for (const auto& [name, command] : cases) {
        SCOPED_TRACE(name);
        // A scene in which the command acts: the selected set saved, with a
        // log, and a set that counts as active.
        if (outside.empty())
            settle();
        clearCatalogue();
        terbin::tb_registry_removeKey(2, BackupSet::setsKeyPath());
        mainWindow.validate();
        BackupSet* selected = makeSet("selected", L"1");
        selected->status = Complete;
        selected->logFilePath = TBString::fromBytes(dir / "src/file.txt");
        makeSet("queued")->status = NotStarted;
        theBaseApp.selectedIndex = 0;
        if (std::string(name) == "stop" || std::string(name) == "pause") {
            if (outside.empty())
                holdABackupInProgress();
            selected->status = Running;
        }
        theBaseApp.busy = true;
        const std::string before = fingerprint();
        (theBaseApp.*command)();
        EXPECT_EQ(fingerprint(), before);
        theBaseApp.busy = false;
        (theBaseApp.*command)();
        jobs += std::string(name) == "start";
        EXPECT_NE(fingerprint(), before) << "the scene lets the command act";
    }
}

}  // namespace
