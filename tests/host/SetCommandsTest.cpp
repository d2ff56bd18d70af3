// Creating, changing and removing sets with the built ulvaren program, and
// the set a first run makes.
#include <cstdlib>
#include <filesystem>
#include <set>

#include <gmock/gmock.h>

#include "foundation/TBRegistry.h"
#include "support/UlvarenProgram.h"

using terbin::TBRegistryKey;
using terbin::TBString;
using terbin::TBStringArray;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

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

std::vector<std::string> keyNamesOf(const std::string& path) {
    TBStringArray names;
    TBRegistryKey(terbin::TBHiveCurrentUser, TBString::fromBytes(path), false).keyNames(names);
    std::vector<std::string> out;
    for (const TBString& name : names) out.push_back(name.narrow());
    return out;
}

class SetCommandsTest : public UlvarenTest {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        writeFile(dir / "src/sub/b.txt", "bravo");
        writeFile(dir / "src/skip.tmp", "scratch");
        // The registry the program writes, for this process to read.
        setenv("ULVAREN_REGISTRY", (dir / "reg.db").c_str(), 1);
    }
    void TearDown() override { unsetenv("ULVAREN_REGISTRY"); }

    // Runs `ulvaren arguments` with `input` as its standard input.
    Result withInput(const std::string& arguments, const std::string& input,
                     const std::string& environment = "") {
        writeFile(dir / "input", input);
        return ulvaren(arguments + " <" + quoted("input"), environment);
    }

    // The path of the key that holds the sets, wherever the program's
    // registry root puts it; empty when there is none.
    static std::string setsKey(const std::string& path = "") {
        for (const std::string& name : keyNamesOf(path)) {
            const std::string below = path.empty() ? name : path + "/" + name;
            if (name == "BackupSets")
                return below;
            if (std::string found = setsKey(below); !found.empty())
                return found;
        }
        return std::string();
    }
};

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

TEST_F(SetCommandsTest, NewAndEditFromStandardInputMakeASetThatListAndRunUse) {
    // Every page in turn; a count that is no number is refused, naming the
    // field, and the sheet stays open until it is put right.
    const std::string input =
        "set 1008 Docs\nset 1012 many\nok\nset 1012 3\ncheck 1014 on\nset 1005 " + dir / "out" +
        "\nselect 1009 1\ncheck 1010 off\ncheck 1013 off\nnext\n"  // name and target
        "click 1013\n" +
        dir / "src" +
        "\nlines 1006\n*.tmp\n.\nnext\n"  // sources
        "next\nnext\nok\nyes\n";          // the scripts and options; make the target
    const Result created = withInput("new", input);
    EXPECT_EQ(created.status, 0) << created.out;
    EXPECT_THAT(created.out, HasSubstr("[5 Options"));
    EXPECT_THAT(created.out, HasSubstr("refused: \"Number of backup subfolders to keep\" needs a "
                                       "whole number"));
    EXPECT_THAT(created.out, HasSubstr("The target folder " + dir / "out" + " does not exist."));
    EXPECT_THAT(created.out, HasSubstr("added backup set 0 \"Docs\""));
    EXPECT_THAT(ulvaren("list").out, HasSubstr("0  Docs\n     status: Ready (never run)"));

    const Result ran = ulvaren("run Docs");
    EXPECT_EQ(ran.status, 0) << ran.out;
    EXPECT_EQ(readFile(dir / "out/sub/b.txt"), "bravo");
    EXPECT_FALSE(exists(dir / "out/skip.tmp"));

    // The wizard opens on the set's stored values; a new target that is not
    // there yet is made once the person agrees.
    const Result edited = withInput("edit Docs", "set 1005 " + dir / "out2" + "\nok\nyes\n");
    EXPECT_EQ(edited.status, 0) << edited.out;
    EXPECT_THAT(edited.out, HasSubstr("Name of the backup set: \"Docs\""));
    EXPECT_THAT(edited.out, HasSubstr("[x] Back up into this folder"));
    EXPECT_THAT(edited.out, HasSubstr("Subfolder for each backup: 1 "));
    EXPECT_THAT(edited.out, HasSubstr("does not exist. Make it"));
    EXPECT_THAT(edited.out, HasSubstr("saved backup set 0 \"Docs\""));

    const Result again = ulvaren("run 0");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(readFile(dir / "out2/a.txt"), "alpha");
    EXPECT_FALSE(exists(dir / "out2/skip.tmp")) << "the exclusion was kept";

    // The sources page shows the set's folders and patterns.
    const Result shown = withInput("edit Docs", "page 2\n");
    EXPECT_EQ(shown.status, 1) << "end of input cancels: " << shown.out;
    EXPECT_THAT(shown.out, HasSubstr("| " + dir / "src" + "\n"));
    EXPECT_THAT(shown.out, HasSubstr("| *.tmp\n"));
    EXPECT_THAT(shown.out, HasSubstr("cancelled: backup set \"Docs\" is unchanged"));
}

TEST_F(SetCommandsTest, ACancelledOrRefusedNewSetStoresNothing) {
    const Result cancelled = withInput("new", "set 1008 Half done\nnext\n");
    EXPECT_EQ(cancelled.status, 1) << cancelled.out;
    EXPECT_THAT(cancelled.out, HasSubstr("cancelled: no backup set was added"));

    const Result refused = withInput("new", "set 1008 a/b\nok\n");
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_THAT(refused.out, HasSubstr("refused: \"a/b\" cannot name a backup set"));
    EXPECT_THAT(ulvaren("list").out, HasSubstr("no backup sets"));
    EXPECT_TRUE(setsKey().empty() || keyNamesOf(setsKey()).empty());
}

TEST_F(SetCommandsTest, RemoveDeletesTheSetsKeyAndNothingElse) {
    ASSERT_EQ(importInto(define("First", dir / "src") + " " + define("Second", dir / "src") + " " +
                             define("Third", dir / "src"),
                         "out"),
              0);
    ASSERT_EQ(ulvaren("run First Second").status, 0);
    const std::string sets = setsKey();
    ASSERT_FALSE(sets.empty());
    ASSERT_EQ(keyNamesOf(sets), (std::vector<std::string>{"0", "1", "2"}));
    // Values the program never writes stay where they are.
    {
        TBRegistryKey key(terbin::TBHiveCurrentUser, TBString::fromBytes(sets), false);
        ASSERT_EQ(key.setValue(terbin::TBRegistryValue(L"Note", L"mine")), 0u);
        TBRegistryKey first(key, L"0", false);
        ASSERT_EQ(first.setValue(terbin::TBRegistryValue(L"Kept", 7)), 0u);
    }
    const std::vector<std::string> firstRecords = keyNamesOf(sets + "/0");
    ASSERT_FALSE(firstRecords.empty()) << "a run keeps records below its set's key";

    const Result removed = ulvaren("remove Second");
    EXPECT_EQ(removed.status, 0) << removed.out;
    EXPECT_THAT(removed.out, HasSubstr("removed backup set \"Second\""));
    EXPECT_EQ(keyNamesOf(sets), (std::vector<std::string>{"0", "2"}));
    EXPECT_EQ(keyNamesOf(sets + "/0"), firstRecords);
    TBRegistryKey key(terbin::TBHiveCurrentUser, TBString::fromBytes(sets), false);
    TBRegistryKey first(key, L"0", false);
    terbin::TBValue kept;
    EXPECT_EQ(key.getValue(L"Note", kept), 0u);
    EXPECT_EQ(first.getValue(L"Kept", kept), 0u);
    EXPECT_EQ(readFile(dir / "out/a.txt"), "alpha") << "the backups stay";

    // The last set of the catalogue, then a set that is no more.
    const Result last = ulvaren("remove 1");
    EXPECT_EQ(last.status, 0) << last.out;
    EXPECT_THAT(last.out, HasSubstr("\"Third\""));
    EXPECT_EQ(keyNamesOf(sets), std::vector<std::string>{"0"});
    const Result gone = ulvaren("remove Second");
    EXPECT_EQ(gone.status, 1);
    EXPECT_THAT(gone.out, HasSubstr("no backup set Second"));
    const Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("0  First\n     status: Complete"));
    EXPECT_THAT(listed.out, Not(HasSubstr("1  ")));
}

TEST_F(SetCommandsTest, AddFolderMakesOrExtendsASetAndRefusesAFolderAnotherSetHolds) {
    ASSERT_EQ(importInto(define("Docs", dir / "src"), "out"), 0);
    const Result held = ulvaren("add-folder " + quoted("src"));
    EXPECT_EQ(held.status, 1) << held.out;
    EXPECT_THAT(held.out,
                HasSubstr("folder " + dir / "src" + " is already in backup set \"Docs\""));

    writeFile(dir / "Pictures/p.jpg", "picture");
    const Result made = ulvaren("add-folder " + quoted("Pictures"));
    EXPECT_EQ(made.status, 0) << made.out;
    EXPECT_THAT(made.out, HasSubstr("added backup set 1 \"Pictures\""));
    const Result extended = ulvaren("add-folder " + quoted("src/sub") + " --set Pictures");
    EXPECT_EQ(extended.status, 0) << extended.out;
    EXPECT_THAT(ulvaren("add-folder " + quoted("src/sub")).out,
                HasSubstr("is already in backup set \"Pictures\""));
    EXPECT_THAT(ulvaren("add-folder " + quoted("missing")).out, HasSubstr("cannot open folder"));

    const Result ran = ulvaren("run Pictures --default-target " + quoted("pics"));
    EXPECT_EQ(ran.status, 0) << ran.out;
    const std::set<std::string> copied = fileNamesBelow(dir / "pics");
    EXPECT_TRUE(copied.count("p.jpg") && copied.count("b.txt")) << ran.out;
}

TEST_F(SetCommandsTest, LogShowsTheLastRunsLogInTheChosenViewerAndAboutShowsTheProduct) {
    ASSERT_EQ(importInto(define("Docs", dir / "src"), "out"), 0);
    const Result early = withInput("log Docs", "");
    EXPECT_EQ(early.status, 1);
    EXPECT_THAT(early.out, HasSubstr("backup set \"Docs\" has no log yet"));

    ASSERT_EQ(ulvaren("run Docs").status, 0);
    const Result shown = withInput("log Docs", "", "ULVAREN_TEXT_VIEWER=cat PAGER=false");
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_THAT(shown.out, HasSubstr("backup set Docs ended - Complete"));
    const Result paged = withInput("log 0", "", "PAGER='grep -c started'");
    EXPECT_EQ(paged.out, "1\n") << "the pager, given the log";
    const Result missing = withInput("log 0", "", "ULVAREN_TEXT_VIEWER=no-such-viewer");
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.out, HasSubstr("no-such-viewer"));

    const Result about = withInput("about", "ok\n");
    EXPECT_EQ(about.status, 0) << about.out;
    EXPECT_THAT(about.out, HasSubstr("== About Ulvaren"));
    EXPECT_THAT(about.out, ContainsRegex("Copyright .* All rights reserved"));
    EXPECT_THAT(about.out, ContainsRegex("visit https?://[^ <>]+\\.")) << "the link as its address";
    EXPECT_THAT(about.out, Not(HasSubstr("<a"))) << "no markup";
}

}  // namespace
