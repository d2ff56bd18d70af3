#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/ULVbase.h"
#include "host/Commands.h"
#include "host/Figures.h"
#include "host/RawTerminal.h"
#include "host/Signals.h"
#include "resource/resource.h"

using terbin::TBString;

namespace {

// The set being worked on (running or in one of its scripts); null between
// sets.
BackupSet* currentSet(const std::vector<BackupSet*>& sets) {
    for (BackupSet* set : sets) {
        const int32_t status = set->status;
        if (status == Running || status == RunningPreScript || status == RunningPostScript)
            return set;
    }
    return nullptr;
}

// The keys of a run at a terminal, each the command a window's menu gives.
struct KeyCommand {
    char key;
    UINT id;
    void (ULVbase::*update)(CCmdUI&);
    void (ULVbase::*command)();
    // Whether it acts on the selected set: the one being worked on.
    bool onSelected;
    const char* name;
};

constexpr KeyCommand KeyCommands[] = {
    {'p', ID_PAUSE_ALL, &ULVbase::OnUpdatePauseAll, &ULVbase::OnPauseAll, false,
     "pause or resume all"},
    {'P', ID_PAUSE_SELECTED, &ULVbase::OnUpdatePauseSelected, &ULVbase::OnPauseSelected, true,
     "pause or resume this set"},
    {'s', ID_BACKUP_STOP, &ULVbase::OnUpdateBackupStop, &ULVbase::OnBackupStop, false, "stop all"},
    {'x', ID_STOP_SELECTED, &ULVbase::OnUpdateStopSelected, &ULVbase::OnStopSelected, true,
     "stop this set"},
};

// Carries out the command of `key` as a window would: the set being worked
// on is selected, the update operation says whether the command is
// available, and only then it acts. What happened, for the person; empty
// for a key that means nothing.
std::string onKey(char key, const std::vector<BackupSet*>& sets) {
    const KeyCommand* found = nullptr;
    for (const KeyCommand& entry : KeyCommands) {
        if (entry.key == key)
            found = &entry;
    }
    if (!found)
        return std::string();
    BackupSet* current = currentSet(sets);
    theBaseApp.selectedIndex = -1;
    for (int i = 0; current && i < theBaseApp.backupSets.size(); ++i) {
        if (theBaseApp.backupSets[i] == current)
            theBaseApp.selectedIndex = i;
    }
    const std::string prefix = std::string(1, key) + " (" + found->name + "): ";
    if (found->onSelected && !current)
        return prefix + "no set is being worked on";
    CCmdUI before(found->id);
    (theBaseApp.*found->update)(before);
    if (!before.isEnabled()) {
        return prefix + "not available now" +
               (found->onSelected ? " for " + current->backupName.escaped() + " (" +
                                        current->getStatusString().narrow() + ")"
                                  : std::string());
    }
    (theBaseApp.*found->command)();
    switch (key) {
        case 'p': {
            CCmdUI after(found->id);
            theBaseApp.OnUpdatePauseAll(after);
            return prefix + (after.checkState() ? "every set paused" : "every set resumed");
        }
        case 'P':
            return prefix + current->backupName.escaped() +
                   (current->pauseRequested ? " paused" : " resumed");
        case 's':
            return prefix + "stopping every set…";
        default:
            return prefix + "stopping " + current->backupName.escaped() + "…";
    }
}

int terminalWidth() {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 100;
}

// One line about the set that is being worked on.
class Progress {
public:
    explicit Progress(bool terminal) : terminal_(terminal), start_(Clock::now()) {}

    void show(const std::vector<BackupSet*>& sets) {
        BackupSet* current = currentSet(sets);
        if (!current)
            return;
        BackupSetState state;
        current->getState(state);
        // The job appends to the failure list under the set's lock.
        int failed = 0;
        {
            terbin::TBReadLock guard(*current);
            failed = current->failedFiles.size();
        }
        const int64_t copied = current->bytesCopied + state.fileBytesCopied;
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        std::string line =
            current->backupName.escaped() + ": " + current->getStatusString().narrow() +
            formatted(" | %d copied, %d unchanged, %d skipped, %d failed | ",
                      current->filesCopied.load(), current->filesUnchanged.load(),
                      current->filesSkipped.load(), failed) +
            byteText(copied) + ", " +
            byteText(seconds > 0 ? static_cast<int64_t>(copied / seconds) : 0) + "/s";
        if (current->pauseRequested)
            line += " | paused";
        if (current->waitingForDiskSpace)
            line += " | waiting for disk space";
        if (state.activity == CopyingFile) {
            line += " | " + state.sourcePath.escaped() + " (" + byteText(state.fileBytesCopied) +
                    " of " + byteText(state.fileSize) + ")";
        } else if (state.activity == ScanningFolder || state.activity == RemovingFolder) {
            line += " | " + state.message.escaped();
        }
        if (terminal_) {
            const size_t width = static_cast<size_t>(terminalWidth() - 1);
            if (line.size() > width)
                line = line.substr(0, width - 3) + "...";
            std::printf("\r%s\033[K", line.c_str());
            std::fflush(stdout);
            shown_ = true;
        } else if (line != last_) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            last_ = line;
        }
    }
    // Ends the refreshing line so that what follows starts on its own.
    void finish() {
        if (terminal_ && shown_)
            std::printf("\r\033[K");
    }

private:
    using Clock = std::chrono::steady_clock;
    bool terminal_;
    Clock::time_point start_;
    std::string last_;
    bool shown_ = false;
};

void printSummary(const BackupSet& set) {
    std::printf("%s: %s\n", set.backupName.escaped().c_str(),
                set.getStatusString().narrow().c_str());
    if (set.status != Complete && !set.failureReason.isEmpty())
        std::printf("  why: %s\n", set.failureReason.escaped().c_str());
    std::printf("  %d folder(s) scanned, %d skipped, %d failed\n", set.foldersScanned.load(),
                set.foldersSkipped.load(), static_cast<int>(set.failedFolders.size()));
    std::printf("  %d file(s) %s copied, %d unchanged, %d skipped, %d failed\n",
                set.filesCopied.load(), byteText(set.bytesCopied).c_str(),
                set.filesUnchanged.load(), set.filesSkipped.load(),
                static_cast<int>(set.failedFiles.size()));
    const int shown = std::min(10, set.failedFolders.size());
    for (int i = 0; i < shown; ++i) {
        std::printf("    failed folder: %s\n", set.failedFolders[i].escaped().c_str());
    }
    const int files = std::min(10, set.failedFiles.size());
    for (int i = 0; i < files; ++i) {
        std::printf("    failed file: %s\n", set.failedFiles[i].escaped().c_str());
    }
    if (set.failedFiles.size() > files) {
        std::printf("    … and %d more (see the log)\n", set.failedFiles.size() - files);
    }
    if (!set.logFilePath.isEmpty())
        std::printf("  log: %s\n", set.logFilePath.escaped().c_str());
}

}  // namespace

int runSets(const HostOptions& options, bool all, const std::vector<std::string>& names) {
    stopOnSignals();
    HostSession session(options);
    std::vector<BackupSet*> chosen;
    if (all) {
        for (BackupSet* set : theBaseApp.backupSets) {
            if (set && set->backupExcludeFromStartAll == 0)
                chosen.push_back(set);
        }
    }
    for (const std::string& name : names) {
        const int index = findSetIndex(name);
        if (index < 0) {
            std::fprintf(stderr, "ulvaren: no backup set %s (see: ulvaren list)\n",
                         TBString::escapeBytes(name).c_str());
            return 2;
        }
        BackupSet* set = theBaseApp.backupSets[index];
        if (std::find(chosen.begin(), chosen.end(), set) == chosen.end())
            chosen.push_back(set);
    }
    if (chosen.empty()) {
        std::printf("no backup set to run\n");
        return 0;
    }

    if (interruptRequested()) {
        std::printf("stopped before any set started\n");
        return 130;
    }
    for (BackupSet* set : chosen) {
        set->status = NotStarted;
        set->stopRequested = false;
        theBaseApp.startBackupSet(set);
    }

    // Keys act only where a person types them: standard input a terminal.
    RawTerminal keys;
    if (keys.active())
        std::printf("keys: p pause or resume all, P this set, s stop all, x stop this set\n");
    Progress progress(isatty(STDOUT_FILENO) != 0);
    bool stopping = false;
    const auto interval = std::chrono::milliseconds(isatty(STDOUT_FILENO) ? 200 : 1000);
    auto next = std::chrono::steady_clock::now();
    // The pool counts a job until its run has returned, so an empty pool
    // means every run has ended (shutdown() below waits for the worker to
    // let go of the last job). Each end is also posted to the main window;
    // waiting on its queue keeps the loop from spinning.
    while (theBaseApp.threadPool.getTotalJobCount() > 0) {
        MSG message{};
        session.mainWindow().waitMessage(message, 20);
        if (interruptRequested() && !stopping) {
            // Stop every set, as the stop-all command does; the jobs end at
            // their next check and the loop waits for them.
            stopping = true;
            theBaseApp.runAllowed = false;
            for (BackupSet* set : chosen) set->stopRequested = true;
            progress.finish();
            std::printf("stopping…\n");
        }
        while (const std::optional<char> key = keys.nextKey()) {
            const std::string said = onKey(*key, chosen);
            if (said.empty())
                continue;
            progress.finish();
            std::printf("%s\n", said.c_str());
            std::fflush(stdout);
            next = std::chrono::steady_clock::now();
        }
        if (std::chrono::steady_clock::now() >= next) {
            progress.show(chosen);
            next = std::chrono::steady_clock::now() + interval;
        }
    }
    progress.finish();

    bool allComplete = true;
    for (BackupSet* set : chosen) {
        printSummary(*set);
        if (set->status != Complete)
            allComplete = false;
    }
    if (interruptRequested())
        return 130;
    return allComplete ? 0 : 1;
}
