// Importing definition files with the built ulvaren program: several
// importers at once, names that cannot be names, sources relative to the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include <gmock/gmock.h>

#include "support/Eventually.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class ImportTest : public UlvarenTest {};

TEST_F(ImportTest, ConcurrentImportsIntoOneRegistryKeepEverySet) {
    constexpr int Importers = 8;
    writeFile(dir / "src/a.txt", "alpha");
    // Every importer opens the start line, says so, and waits on it; closing
    // the test's end (its only writer) gives all of them end-of-file at once.
    const std::string start = dir / "start";
    ASSERT_EQ(::mkfifo(start.c_str(), 0600), 0);
    const int line = ::open(start.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(line, 0);
    std::vector<FILE*> importers;
    for (int i = 0; i < Importers; ++i) {
        const std::string file = define("Set" + std::to_string(i), dir / "src");
        const std::string command =
            "exec 3< '" + start + "'; echo >> " + quoted("ready") +
            "; read -r _ <&3; exec 3<&-; env -u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") +
            " " + ULVAREN_BINARY + " import " + file + " --registry " + quoted("reg.db") + " 2>&1";
        if (FILE* importer = popen(command.c_str(), "r"))
            importers.push_back(importer);
    }
    EXPECT_EQ(importers.size(), size_t{Importers});
    const bool allReady =
        eventually([&] { return readFile(dir / "ready").size() == importers.size(); });
    ::close(line);
    ASSERT_TRUE(allReady);
    for (FILE* importer : importers) {
        std::string out;
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, importer)) out.append(buffer, n);
        const int status = pclose(importer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    }

    const std::string listed = ulvaren("list").out;
    for (int i = 0; i < Importers; ++i)
        EXPECT_THAT(listed, HasSubstr("  Set" + std::to_string(i) + "\n")) << listed;
    EXPECT_THAT(listed, Not(HasSubstr(std::to_string(Importers) + "  Set")));
}

// One import of several files: those that are no definition or whose set
// name is no plain name are refused and not saved, and the kept set's
// relative source is taken from its definition file's folder, not from where
// the commands run.
TEST_F(ImportTest, NoPlainNameIsRefusedAndRelativeSourceIsTakenFromTheFilesFolder) {
    writeFile(dir / "defs/data/kept.txt", "kept");
    writeFile(dir / "defs/set.xml",
              "<backupset><Name>Rel</Name><Type>0</Type><FullPath>0</FullPath>"
              "<AddComputerFolder>0</AddComputerFolder>"
              "<SourceFolders><F>data</F></SourceFolders></backupset>");
    writeFile(dir / "control.xml", "<backupset><Name>a&#10;b</Name><SourceFolders><F>" +
                                       dir / "defs/data" + "</F></SourceFolders></backupset>");
    writeFile(dir / "broken.xml", "<backupset><Name>x</Name>");
    writeFile(dir / "elsewhere/data/wrong.txt", "wrong");  // a decoy beside the commands
    const std::string inElsewhere = "cd " + quoted("elsewhere") + " &&";
    const Result imported =
        ulvaren("import " + define("..", dir / "defs/data") + " " + quoted("control.xml") + " " +
                    quoted("broken.xml") + " ../defs/set.xml --target " + quoted("out"),
                "", inElsewhere);
    EXPECT_EQ(imported.status, 1) << imported.out;
    EXPECT_THAT(imported.out, HasSubstr("rejected " + dir / "...xml" +
                                        ": the set name \"..\" is not a plain name"));
    EXPECT_THAT(imported.out, HasSubstr("rejected " + dir / "control.xml" +
                                        ": the set name \"a\\nb\" is not a plain name"))
        << "the name is shown escaped, never obeyed";
    EXPECT_THAT(imported.out,
                HasSubstr("rejected " + dir / "broken.xml" + ": not a well-formed XML file"));
    EXPECT_THAT(imported.out, HasSubstr("added ../defs/set.xml as set 0 \"Rel\""));

    const Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("0  Rel\n"));
    EXPECT_THAT(listed.out, Not(HasSubstr("1  "))) << "only the plain-named set was saved";
    const Result ran = ulvaren("run Rel", "", inElsewhere);
    EXPECT_EQ(ran.status, 0) << ran.out;
    EXPECT_EQ(readFile(dir / "out/kept.txt"), "kept");
    EXPECT_NE(::access((dir / "out/wrong.txt").c_str(), F_OK), 0);
}

}  // namespace
