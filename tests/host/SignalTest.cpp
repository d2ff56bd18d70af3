// Signals sent to a running ulvaren: Ctrl-C, a kill and a closed terminal
// stop the runs, and a reader that goes away does not end the program.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "support/Eventually.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Whether a process of group `group` still runs (one that has ended but is
// not yet reaped does not count).
bool groupRuns(pid_t group) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return true;
    bool found = false;
    while (const dirent* entry = readdir(proc)) {
        if (std::strspn(entry->d_name, "0123456789") != std::strlen(entry->d_name))
            continue;
        const std::string stat = readFile(std::string("/proc/") + entry->d_name + "/stat");
        const size_t nameEnd = stat.rfind(')');
        char state = 0;
        int parent = 0;
        int itsGroup = 0;
        if (nameEnd != std::string::npos &&
            std::sscanf(stat.c_str() + nameEnd + 1, " %c %d %d", &state, &parent, &itsGroup) == 3 &&
            itsGroup == group && state != 'Z' && state != 'X') {
            found = true;
        }
    }
    closedir(proc);
    return found;
}

class SignalTest : public UlvarenTest {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        // A pre-backup script that never ends by itself, with a child in its
        // group; it writes its id (its group's id) once both run.
        writeFile(dir / "hold.sh",
                  "#!/bin/sh\nsleep 1000 &\necho $$ > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\nwait\n");
        ::chmod((dir / "hold.sh").c_str(), 0755);
        const std::string held =
            define("Held", dir / "src",
                   "<PreBackup><Enabled>1</Enabled><Program>" + dir / "hold.sh" +
                       "</Program><Args>" + quoted("pid") + "</Args></PreBackup>");
        const std::string plain = define("Plain", dir / "src");
        const Result imported =
            ulvaren("import " + held + " " + plain + " --target " + quoted("out"));
        ASSERT_EQ(imported.status, 0) << imported.out;
    }

    // Starts `ulvaren run SET` with standard output to `output` (a file
    // descriptor, kept open only in the program) and standard error to the
    // file "err"; returns its id.
    pid_t start(const std::string& set, int output) {
        const std::string registry = dir / "reg.db";
        const std::string errors = dir / "err";
        // The environment is made before the fork: the child may only make
        // calls that are safe between fork and exec.
        std::vector<std::string> settings{"HOME=" + dir / "home"};
        for (char** setting = environ; *setting != nullptr; ++setting) {
            const std::string text = *setting;
            if (text.rfind("HOME=", 0) != 0 && text.rfind("ULVAREN_DEFAULT_TARGET=", 0) != 0)
                settings.push_back(text);
        }
        std::vector<char*> environment;
        for (std::string& setting : settings) environment.push_back(setting.data());
        environment.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execle(ULVAREN_BINARY, "ulvaren", "run", set.c_str(), "--registry", registry.c_str(),
                     static_cast<char*>(nullptr), environment.data());
            ::_exit(127);
        }
        ::close(output);
        return child;
    }

    // Waits up to `limit` for `child` to exit; its wait status, or -1 when it
    // had to be killed.
    static int exitOf(pid_t child, std::chrono::milliseconds limit) {
        int status = 0;
        if (eventually([&] { return waitpid(child, &status, WNOHANG) == child; }, limit))
            return status;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
};

TEST_F(SignalTest, InterruptTerminateAndHangUpEachStopAWaitedForScriptAndTheRun) {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signalNumber));
        ::unlink((dir / "pid").c_str());
        const pid_t child =
            start("Held", ::open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        const bool running = eventually([&] { return exists(dir / "pid"); });
        if (running)
            kill(child, signalNumber);
        // The script is sent SIGTERM at once, and needs nothing more.
        const int status = exitOf(child, std::chrono::seconds(10));
        ASSERT_TRUE(running) << readFile(dir / "err");
        const pid_t group = std::stoi(readFile(dir / "pid"));
        const bool leaderGone = kill(group, 0) == -1 && errno == ESRCH;
        const bool childGone = !groupRuns(group);
        kill(-group, SIGKILL);  // should the program have left any of it behind

        ASSERT_TRUE(status != -1 && WIFEXITED(status)) << "still running 10 s after the signal";
        EXPECT_EQ(WEXITSTATUS(status), 130) << readFile(dir / "err");
        EXPECT_THAT(readFile(dir / "out.txt"), HasSubstr("Held: Cancelled"));
        EXPECT_TRUE(leaderGone) << "the script is ended and reaped";
        EXPECT_TRUE(childGone) << "its child is ended too";
    }
    const std::string log = readFile(dir / "out/backup-Held.log");
    EXPECT_THAT(log, HasSubstr("stopped the pre-backup script\n"));
    EXPECT_THAT(log, Not(HasSubstr("backup set Held ended - Complete")));
    EXPECT_FALSE(exists(dir / "out/a.txt")) << "nothing is copied after the stop";
}

TEST_F(SignalTest, OutputNobodyReadsAnyMoreDoesNotEndTheRun) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ::close(ends[0]);  // the reader has gone before the first line
    const int status = exitOf(start("Plain", ends[1]), EventuallyLimit);
    ASSERT_TRUE(status != -1 && WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(dir / "err");
    EXPECT_EQ(readFile(dir / "out/a.txt"), "alpha");
}

}  // namespace
