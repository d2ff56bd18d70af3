// Signals sent to a running ulvaren: Ctrl-C, a kill and a closed terminal
// stop the runs, and a reader that goes away does not end the program.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include <gmock/gmock.h>

#include "support/Eventually.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

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
        ASSERT_EQ(importInto(held + " " + define("Plain", dir / "src"), "out"), 0);
    }

    // Starts `ulvaren run SET` with standard output to `output` (a file
    // descriptor, kept open only in the program) and standard error to the
    // file "err"; returns its id (the shell and env exec into it).
    pid_t start(const std::string& set, int output) {
        const std::string command = "exec env -u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") +
                                    " " + ULVAREN_BINARY + " run " + set + " --registry " +
                                    quoted("reg.db") + " 2> " + quoted("err");
        const pid_t child = fork();
        if (child == 0) {
            ::dup2(output, STDOUT_FILENO);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
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
        // The script and its child are ended; init reaps what the program left.
        const bool groupGone = eventually([group] { return kill(-group, 0) != 0; });
        kill(-group, SIGKILL);  // should the program have left any of it behind

        ASSERT_TRUE(status != -1 && WIFEXITED(status)) << "still running 10 s after the signal";
        EXPECT_EQ(WEXITSTATUS(status), 130) << readFile(dir / "err");
        EXPECT_THAT(readFile(dir / "out.txt"), HasSubstr("Held: Cancelled"));
        EXPECT_TRUE(groupGone) << "the script or its child is left running";
    }
    const std::string log = readFile(dir / "out/backup-Held.log");
    EXPECT_THAT(log, HasSubstr("stopped the pre-backup script\n"));
    EXPECT_THAT(log, Not(HasSubstr("backup set Held ended - Complete")));
    EXPECT_FALSE(exists(dir / "out/a.txt")) << "nothing is copied after the stop";
    EXPECT_THAT(ulvaren("list").out, HasSubstr("Held\n     status: Cancelled"));
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
