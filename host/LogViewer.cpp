#include "host/LogViewer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/ULVbase.h"
#include "foundation/TBProcess.h"

extern char** environ;

using terbin::TBString;

namespace {

constexpr const wchar_t* ViewerCommand = L"notepad ";

// The path in "notepad \"PATH\"". The command quotes the path without
// escaping anything inside it, so the text between the outer quotes is the
// path exactly, whatever it holds.
std::optional<std::string> logPathOf(const TBString& commandLine) {
    if (!commandLine.startsWith(ViewerCommand))
        return std::nullopt;
    const std::string quoted = commandLine.mid(TBString(ViewerCommand).length()).narrow();
    if (quoted.size() < 3 || quoted.front() != '"' || quoted.back() != '"')
        return std::nullopt;
    return quoted.substr(1, quoted.size() - 2);
}

// Starts `words` (the program searched on PATH) with the caller's terminal
// and every signal at its default action; with `wait`, waits for it while
// Ctrl-C and Ctrl-\ go to the viewer alone. 0 or the errno of the start.
int runViewer(const std::vector<std::string>& words, bool wait) {
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signalNumber : {SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGHUP})
        sigaddset(&defaults, signalNumber);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction oldInterrupt {};
    struct sigaction oldQuit {};
    if (wait) {
        sigaction(SIGINT, &ignore, &oldInterrupt);
        sigaction(SIGQUIT, &ignore, &oldQuit);
    }
    pid_t child = -1;
    const int started = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (started == 0 && wait) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (wait) {
        sigaction(SIGINT, &oldInterrupt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
    }
    return started;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::optional<std::string> logFileNamedIn(const TBString& commandLine) {
    std::optional<std::string> path = logPathOf(commandLine);
    if (!path)
        theBaseApp.lastRefusal = L"no log file named in " + commandLine;
    return path;
}

void showLogOnTerminal(const TBString& commandLine) {
    const std::optional<std::string> path = logFileNamedIn(commandLine);
    if (!path)
        return;
    std::vector<std::string> words;
    std::string source;
    for (const char* name : {"ULVAREN_TEXT_VIEWER", "PAGER"}) {
        const std::string value = environmentValue(name);
        if (value.find_first_not_of(" \t\n") == std::string::npos)
            continue;
        source = name;
        if (!terbin::TBProcess::splitCommandLine(TBString::fromBytes(value), words)) {
            theBaseApp.lastRefusal = TBString::fromBytes("$" + source + " (" + value +
                                                         ") has a quote that is not closed");
            return;
        }
        break;
    }
    const bool wait = !words.empty();
    if (!wait)
        words = {"xdg-open"};
    words.push_back(*path);
    if (const int error = runViewer(words, wait); error != 0) {
        theBaseApp.lastRefusal = TBString::fromBytes(
            "the text viewer " + words.front() + (source.empty() ? "" : " ($" + source + ")") +
            " could not be started: " + std::strerror(error));
    }
}
