// Keys pressed during a run at a terminal: the built program in a pseudo
// terminal, a run held at a pre-backup script gate.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <regex>

#include <gmock/gmock.h>

#include "support/Eventually.h"
#include "support/ScriptGate.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;

namespace {

class RunKeysTest : public UlvarenTest {
protected:
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        if (terminal_ >= 0)
            close(terminal_);
    }

    // Starts `ulvaren run` with `sets` at a new pseudo terminal.
    void startRun(const std::vector<std::string>& sets) {
        child_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            const std::string registry = dir / "reg.db";
            std::vector<char*> argv{const_cast<char*>("ulvaren"), const_cast<char*>("run")};
            for (const std::string& set : sets) argv.push_back(const_cast<char*>(set.c_str()));
            argv.push_back(const_cast<char*>("--registry"));
            argv.push_back(const_cast<char*>(registry.c_str()));
            argv.push_back(nullptr);
            execv(ULVAREN_BINARY, argv.data());
            _exit(127);
        }
        fcntl(terminal_, F_SETFL, O_NONBLOCK);
    }

    // Whether the terminal showed `text`, waiting for it.
    bool shows(const std::string& text) {
        return eventually([&] {
            read();
            return shown.find(text) != std::string::npos;
        });
    }

    void press(char key) { ASSERT_EQ(write(terminal_, &key, 1), 1); }

    // The run's exit status; -1 when it did not end by itself in time.
    int waitForEnd() {
        int status = 0;
        const bool ended = eventually([&] {
            read();
            return waitpid(child_, &status, WNOHANG) == child_;
        });
        if (!ended)
            return -1;
        child_ = -1;
        read();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The mode the terminal is in now.
    termios terminalMode() const {
        termios mode{};
        const int slave = open(ptsname(terminal_), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave, 0);
        tcgetattr(slave, &mode);
        close(slave);
        return mode;
    }

    void read() {
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminal_, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, n);
    }

    std::string shown;

private:
    pid_t child_ = -1;
    int terminal_ = -1;
};

TEST_F(RunKeysTest, KeysPauseAndStopThroughTheCommandsAndTheTerminalModeComesBack) {
    writeFile(dir / "src/a.txt", "alpha");
    writeFile(dir / "other/o.txt", "other");
    ScriptGate gate(dir / "gate");
    ASSERT_EQ(importInto(defineHeld("Held", dir / "src", gate), "out-held"), 0);
    ASSERT_EQ(importInto(define("Plain", dir / "other"), "out"), 0);
    startRun({"Held", "Plain"});
    const termios before = terminalMode();

    ASSERT_TRUE(gate.waitUntilReached()) << shown;
    ASSERT_TRUE(shows("keys: p pause")) << shown;
    EXPECT_FALSE(terminalMode().c_lflag & ICANON) << "keys are taken one by one";
    // In its script the set can be neither stopped nor paused by itself.
    press('x');
    EXPECT_TRUE(shows("x (stop this set): not available now for Held (Running pre-backup script)"))
        << shown;
    press('P');
    EXPECT_TRUE(shows("P (pause or resume this set): not available now for Held")) << shown;
    // Pause all pauses the active set: Plain, waiting its turn.
    press('p');
    EXPECT_TRUE(shows("p (pause or resume all): every set paused")) << shown;
    gate.open();
    // Held runs to its end; Plain starts and waits, paused.
    EXPECT_TRUE(eventually([&] {
        read();
        return std::regex_search(shown, std::regex("Plain: Running[^\r\n]*\\| paused"));
    })) << shown;
    EXPECT_FALSE(exists(dir / "out/o.txt")) << "nothing is copied while paused";
    press('p');
    EXPECT_TRUE(shows("every set resumed")) << shown;

    EXPECT_EQ(waitForEnd(), 0) << shown;
    EXPECT_THAT(shown, HasSubstr("Held: Complete"));
    EXPECT_THAT(shown, HasSubstr("Plain: Complete"));
    EXPECT_EQ(readFile(dir / "out/o.txt"), "other");
    const termios after = terminalMode();
    EXPECT_TRUE(after.c_lflag & ICANON) << "line editing is back";
    EXPECT_TRUE(after.c_lflag & ECHO) << "echo is back";
    EXPECT_EQ(after.c_cc[VSUSP], before.c_cc[VSUSP]) << "Ctrl-Z is back";
}

TEST_F(RunKeysTest, StopAllEndsTheRunAndRestoresTheTerminal) {
    writeFile(dir / "src/a.txt", "alpha");
    ScriptGate gate(dir / "gate");
    ASSERT_EQ(importInto(defineHeld("Held", dir / "src", gate), "out"), 0);
    ASSERT_EQ(importInto(define("Next", dir / "src"), "next"), 0);
    startRun({"Held", "Next"});
    ASSERT_TRUE(gate.waitUntilReached()) << shown;
    ASSERT_TRUE(shows("keys: p pause")) << shown;
    // Taken at once, without a line end, while the first set is in its
    // script and the second waits its turn.
    press('s');
    EXPECT_TRUE(shows("s (stop all): stopping every set")) << shown;
    gate.open();
    EXPECT_EQ(waitForEnd(), 1) << shown;
    EXPECT_THAT(shown, HasSubstr("Held: Cancelled"));
    EXPECT_THAT(shown, HasSubstr("Next: Cancelled"));
    EXPECT_FALSE(exists(dir / "next/a.txt"));
    EXPECT_TRUE(terminalMode().c_lflag & ICANON);
    EXPECT_TRUE(terminalMode().c_lflag & ECHO);
}

}  // namespace
