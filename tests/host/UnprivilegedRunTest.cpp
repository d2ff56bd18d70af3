// The ulvaren program run by an ordinary user on a tree that user can list
// but not wholly examine. The tests run as root, whom no permission stops,
// so the program is run as the user nobody.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <gmock/gmock.h>

#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;

namespace {

TEST_F(UlvarenTest, EntriesTheUserCannotExamineFailTheRunAndAreNamed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "running the program as another user takes root";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr)
        GTEST_SKIP() << "there is no user nobody";
    if (std::system("command -v runuser > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "runuser is missing";

    // The test's folder is nobody's, so the registry, home and target can be
    // made there; the source stays root's.
    ASSERT_EQ(chown(dir.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    writeFile(dir / "src/open.txt", "readable");
    writeFile(dir / "src/locked/one.txt", "1");
    writeFile(dir / "src/locked/two.txt", "2");
    // Listable, but without search permission its entries cannot be examined.
    ASSERT_EQ(chmod((dir / "src/locked").c_str(), 0444), 0);
    const std::string asNobody = "runuser -u nobody --";

    const Result imported = ulvaren(
        "import " + define("Docs", dir / "src") + " --target " + quoted("out"), "", asNobody);
    ASSERT_EQ(imported.status, 0) << imported.out;
    const Result run = ulvaren("run Docs", "", asNobody);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Docs: Failed"));
    EXPECT_THAT(run.out, HasSubstr("failed file: " + dir / "src/locked/one.txt"));
    EXPECT_THAT(run.out, HasSubstr("failed file: " + dir / "src/locked/two.txt"));
    EXPECT_EQ(readFile(dir / "out/open.txt"), "readable");
    EXPECT_FALSE(exists(dir / "out/locked/one.txt"));
}

}  // namespace
