// TBProcess: waiting for a started program, ending its group after a time-out,
// and reaping it, in the foreground or in the background.
#include "foundation/TBProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/TBResult.h"

namespace terbin {

namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // empty: wait for ever

// How long SIGKILL may take before the process is left to the background reaper.
constexpr auto KillGrace = std::chrono::seconds(2);
// Time-outs beyond this are treated as none, which keeps the deadline
// arithmetic far from the clock's range.
constexpr uint64_t LongestTimeoutMs = 100ULL * 366 * 24 * 60 * 60 * 1000;

int exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

Deadline deadlineAfter(uint64_t timeoutMs) {
    if (timeoutMs == TBProcess::INFINITE_WAIT || timeoutMs > LongestTimeoutMs) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Rounded up, so that poll does not wake just before the deadline and spin.
int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

// True once the child has ended. It is left a zombie, so neither its id nor its
// process group id can be given to another process meanwhile.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) {
            return true;  // reaped behind our back (ECHILD): gone all the same
        }
    }
    return info.si_pid == pid;
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Why a wait for a child ended.
enum class WaitEnd { Ended, TimedOut, CalledOff };

using KeepWaiting = std::function<bool()>;

// Why the wait ends now (the deadline passed, or `keepWaiting` answered
// false), or nothing while it goes on. A child that ended meanwhile wins.
std::optional<WaitEnd> waitEndsNow(pid_t pid, Deadline deadline, const KeepWaiting* keepWaiting) {
    std::optional<WaitEnd> end;
    if (deadline && Clock::now() >= *deadline) {
        end = WaitEnd::TimedOut;
    } else if (keepWaiting != nullptr && !(*keepWaiting)()) {
        end = WaitEnd::CalledOff;
    }
    if (end && hasEnded(pid)) {
        return WaitEnd::Ended;
    }
    return end;
}

// The longest the next pause may last in milliseconds: up to the deadline,
// and no longer than the check interval while there is a question to ask;
// -1 for no limit.
int nextPauseMs(Deadline deadline, bool asking) {
    int limit = deadline ? msUntil(*deadline) : -1;
    if (asking) {
        const int check = static_cast<int>(TBProcess::CheckInterval.count());
        limit = limit < 0 ? check : std::min(limit, check);
    }
    return limit;
}

// Waits until the child has ended (without reaping it), the deadline passes
// or `keepWaiting`, when given, answers false.
WaitEnd waitForEnd(pid_t pid, Deadline deadline, const KeepWaiting* keepWaiting = nullptr) {
    const bool asking = keepWaiting != nullptr;
    if (const int pidfd = openPidfd(pid); pidfd >= 0) {
        std::optional<WaitEnd> end;
        while (!end) {
            pollfd entry{pidfd, POLLIN, 0};
            const int ready = poll(&entry, 1, nextPauseMs(deadline, asking));
            if (ready > 0) {
                end = WaitEnd::Ended;
            } else if (ready < 0 && errno != EINTR) {
                break;
            } else {
                end = waitEndsNow(pid, deadline, keepWaiting);
            }
        }
        close(pidfd);
        if (end) {
            return *end;
        }
    }
    // Older kernels and some sandboxes refuse pidfds: look at the child every
    // few milliseconds instead, backing off to keep an idle wait cheap.
    auto pause = std::chrono::milliseconds(2);
    while (!hasEnded(pid)) {
        if (const std::optional<WaitEnd> end = waitEndsNow(pid, deadline, keepWaiting)) {
            return *end;
        }
        const int limit = nextPauseMs(deadline, asking);
        std::this_thread::sleep_for(limit < 0 ? pause
                                              : std::min(pause, std::chrono::milliseconds(limit)));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return WaitEnd::Ended;
}

bool runsInGroup(const char* pid, pid_t pgid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;  // ended while we looked
    }
    char text[512];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) {
        return false;
    }
    text[length] = '\0';
    // The command name in parentheses may itself hold blanks and parentheses;
    // the fields after the last ')' are "state ppid pgrp ...".
    const char* nameEnd = std::strrchr(text, ')');
    char state = 0;
    int parent = 0;
    int group = 0;
    if (nameEnd == nullptr || std::sscanf(nameEnd + 1, " %c %d %d", &state, &parent, &group) != 3) {
        return false;
    }
    return group == pgid && state != 'Z' && state != 'X';
}

// True while a process other than the leader still runs in process group
// `pgid`. A zombie has ended: whoever inherited it reaps it. Without /proc
// the answer is true, so the group is then ended by force.
bool othersRunInGroup(pid_t pgid) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return true;
    }
    bool found = false;
    while (!found) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (*end == '\0' && id > 0 && id != pgid) {
            found = runsInGroup(entry->d_name, pgid);
        }
    }
    closedir(proc);
    return found;
}

void signalGroup(pid_t pgid, int signalNumber) {
    // The leader cannot leave its own group, but every member may have; then
    // only the leader itself is left to signal.
    if (kill(-pgid, signalNumber) != 0) {
        kill(pgid, signalNumber);
    }
}

// Children whose reaper thread could not be started; each later hand-off
// tries them again. Never destroyed, as a hand-off may happen during exit.
struct Strays {
    std::mutex mutex;
    std::vector<pid_t> pids;
};

Strays& strays() {
    static Strays* const instance = new Strays;
    return *instance;
}

void reapInBackground(pid_t pid) {
    Strays& pending = strays();
    std::lock_guard lock(pending.mutex);
    std::erase_if(pending.pids, [](pid_t stray) {
        int status = 0;
        return waitpid(stray, &status, WNOHANG) != 0;
    });
    try {
        // A thread blocked in waitpid costs nothing while the child runs and
        // reaps it the moment it ends; it only touches its own copy of the id.
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        pending.pids.push_back(pid);
    }
}

}  // namespace

TBProcess::~TBProcess() {
    if (state_ == State::Running) {
        reapInBackground(pid_);
    }
}

uint32_t TBProcess::waitUntilStopped(uint64_t timeoutMs) {
    return waitUntilStopped(timeoutMs, nullptr);
}

uint32_t TBProcess::waitUntilStopped(uint64_t timeoutMs, const std::function<bool()>& keepWaiting) {
    if (state_ == State::Ended) {
        return endResult_;
    }
    if (state_ != State::Running) {
        return tb_status_fail(TB_INVALID_PARAMETER);
    }
    const WaitEnd end =
        waitForEnd(pid_, deadlineAfter(timeoutMs), keepWaiting ? &keepWaiting : nullptr);
    if (end == WaitEnd::Ended) {
        endResult_ = reap();
        return endResult_ == TB_OK ? TB_OK : tb_status_fail(endResult_);
    }
    terminateGroup();
    endResult_ = end == WaitEnd::TimedOut ? TB_TIMEOUT : TB_CANCELLED;
    return tb_status_fail(endResult_);
}

uint32_t TBProcess::detach() {
    if (state_ != State::Running) {
        return tb_status_fail(TB_INVALID_PARAMETER);
    }
    reapInBackground(pid_);
    state_ = State::Detached;
    return TB_OK;
}

uint32_t TBProcess::reap() {
    int status = 0;
    pid_t reaped = -1;
    do {
        reaped = waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    state_ = State::Ended;
    if (reaped != pid_) {
        return tb_result_fromErrno(errno);
    }
    exitCode_ = exitCodeOf(status);
    return TB_OK;
}

void TBProcess::terminateGroup() {
    // The leader is reaped only after the group has been dealt with: as long
    // as it is a zombie the group id cannot be reused, so no signal here can
    // reach a stranger's group.
    signalGroup(pid_, SIGTERM);
    const Clock::time_point graceEnd = Clock::now() + TermGrace;
    bool groupEnded = false;
    if (waitForEnd(pid_, graceEnd) == WaitEnd::Ended) {
        // Children of the script may still be cleaning up after SIGTERM.
        groupEnded = !othersRunInGroup(pid_);
        while (!groupEnded && Clock::now() < graceEnd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            groupEnded = !othersRunInGroup(pid_);
        }
    }
    if (!groupEnded) {
        signalGroup(pid_, SIGKILL);
    }
    if (waitForEnd(pid_, Clock::now() + KillGrace) == WaitEnd::Ended) {
        reap();
    } else {
        // Stuck in the kernel (a hung network mount, say): SIGKILL takes
        // effect when it returns, and the reaper collects it then.
        reapInBackground(pid_);
        state_ = State::Ended;
    }
}

}  // namespace terbin
