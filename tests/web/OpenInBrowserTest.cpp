// How `ulvaren ui` hands its address to the person's browser: xdg-open gets
// a page only this user can read, never the token on its command line.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include <gmock/gmock.h>

#include "support/Eventually.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

class OpenInBrowserTest : public UlvarenTest {
protected:
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
    }

    pid_t child_ = -1;
};

TEST_F(OpenInBrowserTest, TheBrowserGetsAPrivatePageThatForwardsAndIsRemovedAtTheEnd) {
    // Stands in for xdg-open: records its arguments, then the mode, owner and
    // text of the file it was given, and lets the record appear at once.
    const std::string record = dir / "opened";
    writeFile(dir / "bin/xdg-open",
              "#!/bin/sh\n{ printf '%s\\n' \"$#\" \"$@\"; stat -c '%a %u' "
              "\"$1\"; cat \"$1\"; } > '" +
                  record + ".part' && mv '" + record + ".part' '" + record + "'\n");
    ASSERT_EQ(chmod((dir / "bin/xdg-open").c_str(), 0755), 0);
    makeDirs(dir / "runtime");
    ASSERT_EQ(chmod((dir / "runtime").c_str(), 0700), 0);

    const std::string command = "exec env -u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") +
                                " XDG_RUNTIME_DIR=" + quoted("runtime") + " PATH=" + quoted("bin") +
                                ":\"$PATH\" " + ULVAREN_BINARY + " ui --registry " +
                                quoted("reg.db") + " >" + quoted("out") + " 2>" + quoted("err");
    child_ = fork();
    if (child_ == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child_, 0);

    const std::regex printed(R"((http://127\.0\.0\.1:[0-9]+/\?token=([0-9a-f]+))\n)");
    std::smatch match;
    std::string out;
    ASSERT_TRUE(eventually([&] {
        out = readFile(dir / "out");
        return std::regex_search(out, match, printed);
    })) << readFile(dir / "err");
    const std::string tokenAddress = match[1];
    const std::string token = match[2];

    ASSERT_TRUE(eventually([&] { return exists(record); })) << readFile(dir / "err");
    std::istringstream opened(readFile(record));
    std::string count, page, modeAndOwner;
    std::getline(opened, count);
    std::getline(opened, page);
    std::getline(opened, modeAndOwner);
    const std::string text(std::istreambuf_iterator<char>(opened), {});

    EXPECT_EQ(count, "1");
    EXPECT_THAT(page, Not(HasSubstr(token)));
    EXPECT_THAT(page, StartsWith(dir / "runtime/"));
    EXPECT_EQ(modeAndOwner, "600 " + std::to_string(getuid()));
    EXPECT_THAT(text, HasSubstr("url=" + tokenAddress + "\""));

    // Ctrl-C: the window ends and takes the page with it.
    ASSERT_EQ(kill(child_, SIGINT), 0);
    int status = 0;
    ASSERT_TRUE(eventually([&] { return waitpid(child_, &status, WNOHANG) == child_; }));
    child_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_FALSE(exists(page)) << page;
}

}  // namespace
