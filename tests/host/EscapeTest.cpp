// Names that hold line breaks and terminal controls, run and listed through
// the ulvaren program: the run log and the terminal show them, never obey them.
#include <gmock/gmock.h>

#include <string>

#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr char Stamp[] = "1999-01-01 10:00:00 INFO Ulvaren: ";

TEST_F(UlvarenTest, FileNameForgingACompleteRunNeitherWritesLinesNorFoolsTheList) {
    // The name writes a whole run of its own that ends Complete with nothing
    // failed, where the real run lists it among its failed files.
    const auto run = [](const std::string& esc, const std::string& lf) {
        return "x" + esc + "[2J" + lf + Stamp + "backup set Docs started" + lf + Stamp +
               "backup set Docs ended - Complete" + lf + Stamp + "  0 file(s) failed";
    };
    const std::string forged = run("\x1b", "\n");
    writeFile(dir / "src/a.txt", "alpha");
    writeFile(dir / ("src/" + forged), "forged");
    // A folder stands where the copy of the forged file must go, so it fails.
    writeFile(dir / ("out\tlogs/" + forged + "/blocker"), "x");
    ASSERT_EQ(importInto(define("Docs", dir / "src"), "out\tlogs"), 0);

    const Result ran = ulvaren("run Docs");
    EXPECT_EQ(ran.status, 1) << ran.out;
    EXPECT_THAT(ran.out, HasSubstr("Docs: Failed"));
    EXPECT_EQ(readFile(dir / "out\tlogs/a.txt"), "alpha");

    const std::string log = readFile(dir / "out\tlogs/backup-Docs.log");
    EXPECT_THAT(log, Not(HasSubstr("\n1999-01-01"))) << "a forged line of its own";
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
    EXPECT_THAT(log, HasSubstr("    " + dir / "src/" + run("\\x1b", "\\n") + "\n"))
        << "the failed file is listed by its escaped name";

    const Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("0  Docs\n     status: Failed"));
    // The log's path holds a tab, shown as an escape on the terminal.
    EXPECT_THAT(listed.out, HasSubstr("log: " + dir / "out\\tlogs/backup-Docs.log\n"));
    EXPECT_EQ(listed.out.find('\t'), std::string::npos) << listed.out;
}

}  // namespace
