// A program started from a command line, as the engine runs users' pre- and
// post-backup scripts. One object is used by one thread; different objects may
// be used from different threads at the same time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/TBString.h"

namespace terbin {

class TBProcess {
public:
    // Result of waitUntilStopped when the process outlived its time-out.
    static constexpr uint32_t TB_TIMEOUT = 1460;
    // Result of waitUntilStopped when the caller called the wait off.
    static constexpr uint32_t TB_CANCELLED = 1223;
    // Time-out of waitUntilStopped that never expires.
    static constexpr uint64_t INFINITE_WAIT = UINT64_MAX;
    // How long a process group sent SIGTERM gets to end before SIGKILL.
    static constexpr std::chrono::seconds TermGrace{5};
    // Longest time between two questions of waitUntilStopped's keepWaiting.
    static constexpr std::chrono::milliseconds CheckInterval{100};

    TBProcess();
    // Never blocks and never ends the process: one that was started and neither
    // reaped nor detached runs on and is reaped in the background when it ends.
    ~TBProcess();
    TBProcess(const TBProcess&) = delete;
    TBProcess& operator=(const TBProcess&) = delete;

    // Splits `commandLine` into words (see splitCommandLine) and starts the
    // first word as the program, searched on PATH when it holds no '/'; the
    // words are its arguments. The program reads /dev/null as standard input,
    // shares standard output and error with the caller, leads a process group
    // of its own and starts with no signal blocked and every signal at its
    // default action. Returns 0 when the program started; TB_INVALID_PARAMETER
    // for an unterminated quote, a line without a program or while a process
    // started earlier is still held (neither waited for nor detached); else the
    // result code of the start's errno (2 for a missing program, 5 for one that
    // may not be run). A failure also sets the thread's last error.
    uint32_t create(const TBString& commandLine);

    // Waits up to `timeoutMs` milliseconds (INFINITE_WAIT: no limit) for the
    // process to end. Returns 0 when it ended in time; getExitCode then gives
    // its exit code. Otherwise its process group is sent SIGTERM, then SIGKILL
    // if any of it still runs TermGrace later, the process is reaped (the exit
    // code tells how it ended) and the result is TB_TIMEOUT. Once the process
    // has been reaped, further calls repeat the result of the call that
    // reaped it. TB_INVALID_PARAMETER when no process was started or it was
    // detached.
    uint32_t waitUntilStopped(uint64_t timeoutMs);
    // The same, asking `keepWaiting` (on the calling thread) at least every
    // CheckInterval while the process runs. Once it answers false the process
    // group is ended as after a time-out and the result is TB_CANCELLED. A
    // process that ends by itself is never ended for want of a question.
    uint32_t waitUntilStopped(uint64_t timeoutMs, const std::function<bool()>& keepWaiting);

    // Lets the process run on unobserved; it is reaped in the background when
    // it ends. Returns 0, or TB_INVALID_PARAMETER when no process is held.
    uint32_t detach();

    // The exit status of a process that ended and was reaped, 128 + N for one
    // ended by signal N; -1 while unknown (running, detached, not started).
    int getExitCode() const { return exitCode_; }

    // The id of the last process started, which is also its process group id;
    // -1 before the first successful create.
    int getProcessId() const { return pid_; }

    // Splits a command line into words as a POSIX shell does, without any
    // expansion, redirection or globbing. Blanks (space, tab, newline) separate
    // words. Single quotes keep everything up to the next single quote
    // literally. Double quotes group blanks and single quotes; inside them a
    // backslash escapes only " \ $ ` and newline and is kept before any other
    // character. Outside quotes a backslash makes the next character literal.
    // Backslash-newline is removed altogether. Adjacent quoted and unquoted
    // pieces form one word; "" and '' make an empty word. The words are the
    // UTF-8 bytes of the text; `words` is replaced. Returns false when a quote
    // is not closed, and `words` then holds only the words before it.
    static bool splitCommandLine(const TBString& commandLine, std::vector<std::string>& words);

private:
    enum class State { Idle, Running, Ended, Detached };

    // Reaps the ended process and records its exit code; 0 or a result code.
    uint32_t reap();
    // Ends the process group of a process that outlived its time-out (or whose
    // wait was called off) and reaps the process, or leaves it to the
    // background reaper when even SIGKILL does not end it soon.
    void terminateGroup();

    State state_ = State::Idle;
    int pid_ = -1;
    int exitCode_ = -1;
    uint32_t endResult_ = 0;  // result of the wait that reaped the process
};

}  // namespace terbin
