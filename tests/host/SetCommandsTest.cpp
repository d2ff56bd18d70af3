// Creating, changing and removing sets with the built ulvaren program, and
// the set a first run makes.
#include <filesystem>
#include <set>

#include <gmock/gmock.h>

#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;

namespace {

// The names of the regular files below `root`, wherever they lie.
std::set<std::string> fileNamesBelow(const std::string& root) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            names.insert(entry.path().filename().string());
    }
    return names;
}

class SetCommandsTest : public UlvarenTest {};

TEST_F(SetCommandsTest, FirstRunMakesTheHomeSetThatLeavesOutCachesTrashAndScratchFiles) {
    writeFile(dir / "home/letter.txt", "dear");
    writeFile(dir / "home/draft.tmp", "scratch");
    writeFile(dir / "home/.cache/thumbs/t.png", "cache");
    writeFile(dir / "home/.local/share/Trash/files/old.txt", "thrown away");
    writeFile(dir / "home/.local/share/notes.txt", "kept");

    const Result listed = ulvaren("list");
    EXPECT_EQ(listed.status, 0) << listed.out;
    EXPECT_EQ(listed.out, "0  Home\n     status: Ready (never run)\n");
    const Result imported = ulvaren("import " + define("Docs", dir / "home"));
    EXPECT_THAT(imported.out, HasSubstr("as set 1 \"Docs\"")) << "after the Home set";

    const Result run = ulvaren("run Home --default-target " + quoted("out"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Home: Complete"));
    const std::set<std::string> copied = fileNamesBelow(dir / "out");
    EXPECT_TRUE(copied.count("letter.txt")) << run.out;
    EXPECT_TRUE(copied.count("notes.txt")) << run.out;
    for (const char* left : {"draft.tmp", "t.png", "old.txt"})
        EXPECT_FALSE(copied.count(left)) << left;
}

TEST_F(SetCommandsTest, WithoutAHomeFolderTheFirstRunMakesNoSet) {
    const Result listed = ulvaren("list");
    EXPECT_EQ(listed.status, 0) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr("no backup sets"));
}

}  // namespace
