// How `ulvaren ui` hands its address to the person's browser: xdg-open gets
// a page only this user can read, never the token on its command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <sstream>
#include <string>

#include <gmock/gmock.h>

#include "support/UiWindow.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

using OpenInBrowserTest = UiWindowTest;

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
    startWindow("XDG_RUNTIME_DIR=" + quoted("runtime") + " PATH=" + quoted("bin") + ":\"$PATH\"",
                "ui");

    ASSERT_TRUE(eventually([&] { return exists(record); })) << readFile(dir / "ui-err");
    std::istringstream opened(readFile(record));
    std::string count, page, modeAndOwner;
    std::getline(opened, count);
    std::getline(opened, page);
    std::getline(opened, modeAndOwner);
    const std::string text(std::istreambuf_iterator<char>(opened), {});

    EXPECT_EQ(count, "1");
    EXPECT_THAT(page, Not(HasSubstr(token_)));
    EXPECT_THAT(page, StartsWith(dir / "runtime/"));
    EXPECT_EQ(modeAndOwner, "600 " + std::to_string(getuid()));
    EXPECT_THAT(text, HasSubstr("url=http://" + host() + "/?token=" + token_ + "\""));

    // Ctrl-C: the window ends and takes the page with it.
    EXPECT_EQ(exitStatus(SIGINT), 130);
    EXPECT_FALSE(exists(page)) << page;
}

}  // namespace
