// TBProcess: starting a program in a process group of its own.
#include "foundation/TBProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/TBResult.h"

namespace terbin {

namespace {

class SpawnSettings {
public:
    SpawnSettings() {
        error_ = posix_spawn_file_actions_init(&actions_);
        if (error_ != 0) {
            return;
        }
        hasActions_ = true;
        error_ = posix_spawnattr_init(&attributes_);
        if (error_ != 0) {
            return;
        }
        hasAttributes_ = true;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        // A script must be killable even when the engine's thread blocks or
        // ignores signals, and it must be signalled as a group of its own.
        const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        for (const int step :
             {posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0),
              posix_spawnattr_setflags(&attributes_, flags),
              posix_spawnattr_setpgroup(&attributes_, 0),
              posix_spawnattr_setsigmask(&attributes_, &none),
              posix_spawnattr_setsigdefault(&attributes_, &all)}) {
            if (error_ == 0) {
                error_ = step;
            }
        }
    }
    ~SpawnSettings() {
        if (hasAttributes_) {
            posix_spawnattr_destroy(&attributes_);
        }
        if (hasActions_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    // 0 and the child's id in `pid`, or the errno of the failure.
    int spawn(pid_t& pid, char* const argv[]) const {
        if (error_ != 0) {
            return error_;
        }
        const int result = posix_spawnp(&pid, argv[0], &actions_, &attributes_, argv, environ);
        if (result != ENOEXEC || std::strchr(argv[0], '/') == nullptr) {
            return result;
        }
        // A script without a "#!" line is run by the shell, as a shell
        // would run it.
        std::vector<char*> shell{const_cast<char*>("/bin/sh")};
        for (char* const* arg = argv; *arg != nullptr; ++arg) {
            shell.push_back(*arg);
        }
        shell.push_back(nullptr);
        return posix_spawn(&pid, "/bin/sh", &actions_, &attributes_, shell.data(), environ);
    }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool hasActions_ = false;
    bool hasAttributes_ = false;
    int error_ = 0;
};

}  // namespace

TBProcess::TBProcess() = default;

uint32_t TBProcess::create(const TBString& commandLine) {
    if (state_ == State::Running) {
        return tb_status_fail(TB_INVALID_PARAMETER);
    }
    std::vector<std::string> words;
    if (!splitCommandLine(commandLine, words) || words.empty() || words.front().empty()) {
        return tb_status_fail(TB_INVALID_PARAMETER);
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        // An embedded NUL would silently cut the word short on its way to the program.
        if (word.find('\0') != std::string::npos) {
            return tb_status_fail(TB_INVALID_PARAMETER);
        }
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error = SpawnSettings().spawn(pid, argv.data());
    if (error != 0) {
        return tb_status_fail(tb_result_fromErrno(error));
    }
    state_ = State::Running;
    pid_ = pid;
    exitCode_ = -1;
    endResult_ = TB_OK;
    return TB_OK;
}

}  // namespace terbin
