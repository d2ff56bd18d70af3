// Names that hold line breaks and terminal controls, run and listed through
// the ulvaren program: the run log and the terminal show them, never obey them.
#include <gmock/gmock.h>

#include <sstream>
#include <string>

#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;

namespace {

constexpr char Stamp[] = "1999-01-01 10:00:00 INFO Ulvaren: ";

TEST_F(UlvarenTest, FileNameForgingACompleteRunNeitherWritesLinesNorFoolsTheList) {
    // The name writes a whole run of its own that ends Complete with nothing
    // failed, where the real run lists it among its failed files.
    const std::string forged = std::string("x\x1b[2J\n") + Stamp + "backup set Docs started\n" +
                               Stamp + "backup set Docs ended - Complete\n" + Stamp +
                               "  0 file(s) failed";
    writeFile(dir / "src/a.txt", "alpha");
    writeFile(dir / ("src/" + forged), "forged");
    // A folder stands where the copy of the forged file must go, so it fails.
    writeFile(dir / ("out\tlogs/" + forged + "/blocker"), "x");
    ASSERT_EQ(ulvaren("import " + define("Docs", dir / "src") + " --target " + quoted("out\tlogs"))
                  .status,
              0);

    const Result run = ulvaren("run Docs");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Docs: Failed"));
    EXPECT_EQ(readFile(dir / "out\tlogs/a.txt"), "alpha");

    const std::string log = readFile(dir / "out\tlogs/backup-Docs.log");
    std::istringstream lines(log);
    int startAndEnd = 0;
    for (std::string line; std::getline(lines, line);) {
        // Every line is one of the run's, with its own time stamp.
        EXPECT_FALSE(line.starts_with("1999-01-01")) << "forged line: " << line;
        startAndEnd +=
            line.size() > 20 && line.substr(20).starts_with("INFO Ulvaren: backup set Docs");
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    }
    EXPECT_EQ(startAndEnd, 2) << "the run's own start and end, no more";
    const std::string shown = std::string("x\\x1b[2J\\n") + Stamp + "backup set Docs started\\n" +
                              Stamp + "backup set Docs ended - Complete\\n" + Stamp +
                              "  0 file(s) failed";
    EXPECT_THAT(log, HasSubstr("    " + dir / "src/" + shown + "\n"))
        << "the failed file is listed by its escaped name";

    const Result listed = ulvaren("list");
    EXPECT_EQ(listed.status, 0) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr("0  Docs\n     status: Failed"));
    EXPECT_THAT(listed.out, HasSubstr("1 failed;"));
    // The log's path holds a tab, shown as an escape on the terminal.
    EXPECT_THAT(listed.out, HasSubstr("log: " + dir / "out\\tlogs/backup-Docs.log\n"));
    EXPECT_EQ(listed.out.find('\t'), std::string::npos) << listed.out;
}

}  // namespace
