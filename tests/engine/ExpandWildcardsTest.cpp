// Wildcard source entries expanded into the folders they name, on real trees.
#include <unistd.h>

#include <gmock/gmock.h>

#include "tests/engine/RunFixture.h"

using ::testing::UnorderedElementsAreArray;

namespace {

struct Expansion {
    std::string pattern;  // below the test's root, which "ROOT" stands for
    std::vector<std::string> folders;
};

class ExpandWildcardsTest : public ::testing::Test {
protected:
    // Folders (a name ending in "/") and files below the root.
    void build(const std::vector<std::string>& entries) {
        for (const std::string& entry : entries) {
            if (entry.ends_with("/")) {
                makeDirs(dir / entry);
            } else {
                writeFile(dir / entry, entry);
            }
        }
    }
    // The expansion of `pattern` with "ROOT" replaced by the root, and the
    // root taken off the results again, in the order they came; what the
    // list held before must stay.
    std::vector<std::string> expand(const std::string& pattern) {
        terbin::TBStringArray result;
        result.add(L"earlier");
        const std::string root = dir.path();
        const bool rooted = pattern.starts_with("ROOT");
        job.expandWildcards(
            terbin::TBString::fromBytes(rooted ? root + pattern.substr(4) : pattern), result);
        EXPECT_EQ(result[0], L"earlier") << pattern;
        std::vector<std::string> out;
        for (int i = 1; i < result.size(); ++i) {
            const std::string path = result[i].narrow();
            out.push_back(rooted ? "ROOT" + path.substr(root.size()) : path);
        }
        return out;
    }
    void expectAll(const std::vector<Expansion>& table) {
        for (const Expansion& row : table) {
            EXPECT_THAT(expand(row.pattern), UnorderedElementsAreArray(row.folders)) << row.pattern;
        }
    }

    TempDir dir;
    BackupSet set;
    BackupJob job{&set};
};

TEST_F(ExpandWildcardsTest, PatternGivesTheFoldersItNamesOrNothing) {
    build({"ann/Documents/", "bob/Documents/", "cy/", "dee/Documents", "notes.txt", ".hidden/"});
    expectAll({
        // A wildcard starting a component lists the folder before it.
        {"ROOT/*", {"ROOT/ann", "ROOT/bob", "ROOT/cy", "ROOT/dee", "ROOT/.hidden"}},
        {"ROOT/*/", {"ROOT/ann", "ROOT/bob", "ROOT/cy", "ROOT/dee", "ROOT/.hidden"}},
        {"ROOT/*/Documents", {"ROOT/ann/Documents", "ROOT/bob/Documents"}},
        {"ROOT//*//Documents", {"ROOT/ann/Documents", "ROOT/bob/Documents"}},
        {"ROOT/.*", {"ROOT/.hidden"}},  // never "." or ".."
        // Without wildcards, a folder is kept as written.
        {"ROOT/ann/Documents", {"ROOT/ann/Documents"}},
        {"ROOT/ann//Documents/", {"ROOT/ann//Documents/"}},
        // Nothing matching, or not a folder.
        {"ROOT/*.txt", {}},
        {"ROOT/*/Documents/*", {}},
        {"ROOT/zz*", {}},
        {"ROOT/*/Music", {}},
        {"ROOT/missing/*", {}},
        {"ROOT/notes.txt/*", {}},
        {"ROOT/ann/Music", {}},
        {"ROOT/notes.txt", {}},
    });
}

TEST_F(ExpandWildcardsTest, WildcardsAtSeveralLevelsMustAllMatch) {
    build({"alpha/x1/2019/", "alpha/x1/old/", "alpha/x1/3.txt", "alpha/xy/7z/", "alpha/xyz/1/",
           "ab/x2/0/", "beta/x1/2020/", "a.txt"});
    expectAll({
        {"ROOT/a*/x?/[0-9]*", {"ROOT/alpha/x1/2019", "ROOT/alpha/xy/7z", "ROOT/ab/x2/0"}},
        {"ROOT/a*/x1", {"ROOT/alpha/x1"}},
        {"ROOT/a?p?a/x?", {"ROOT/alpha/x1", "ROOT/alpha/xy"}},
        {"ROOT/[!a]*/*/*", {"ROOT/beta/x1/2020"}},
    });
}

TEST_F(ExpandWildcardsTest, ResultsComeDepthFirstInListingOrder) {
    build({"p/1/", "p/2/", "p/3/", "q/1/", "q/2/", "r/", "s/1/", "s/2/", "s/3/", "s/4/"});
    // The same folders listed by the standard library, one level after the other.
    std::vector<std::string> expected;
    for (const auto& top : std::filesystem::directory_iterator(dir.path())) {
        for (const auto& below : std::filesystem::directory_iterator(top.path())) {
            expected.push_back("ROOT/" + top.path().filename().string() + "/" +
                               below.path().filename().string());
        }
    }
    ASSERT_EQ(expected.size(), 9u);
    EXPECT_EQ(expand("ROOT/*/*"), expected);
}

TEST_F(ExpandWildcardsTest, MatchedNamesAreTakenLiterallyBelowTheWildcard) {
    // As patterns, "*" would stand for every folder here and "[2019]" for
    // "1": each must stand for itself alone.
    build({"*/Documents/", "[2019]/Documents/", "Photos [2019]/Documents/", "1/Documents/",
           "ann/Documents/", "bob/", "*x/", "back\\slash/Documents/", "back/slow/"});
    expectAll({
        {"ROOT/*/Documents",
         {"ROOT/*/Documents", "ROOT/[2019]/Documents", "ROOT/Photos [2019]/Documents",
          "ROOT/1/Documents", "ROOT/ann/Documents", "ROOT/back\\slash/Documents"}},
        {"ROOT/*",
         {"ROOT/*", "ROOT/[2019]", "ROOT/Photos [2019]", "ROOT/1", "ROOT/ann", "ROOT/bob",
          "ROOT/*x", "ROOT/back\\slash", "ROOT/back"}},
        // A pattern names a bracket through a set holding it alone.
        {"ROOT/Photos [[]2019]", {"ROOT/Photos [2019]"}},
        {"ROOT/Photos ?2019?/Documents", {"ROOT/Photos [2019]/Documents"}},
        {"ROOT/?2019?/*", {"ROOT/[2019]/Documents"}},
        // Were "\" a separator, "back\sl*" would look for "sl*" inside "back".
        {"ROOT/back\\sl*", {"ROOT/back\\slash"}},
        {"ROOT/*\\*", {"ROOT/back\\slash"}},
        {"ROOT/back/sl*", {"ROOT/back/slow"}},
    });
}

TEST_F(ExpandWildcardsTest, FolderLinksCountAsFoldersOtherLinksDoNot) {
    build({"elsewhere/Documents/", "home/ann/Documents/", "home/file.txt"});
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "home/linked").c_str()), 0);
    ASSERT_EQ(symlink((dir / "home/file.txt").c_str(), (dir / "home/filelink").c_str()), 0);
    ASSERT_EQ(symlink((dir / "missing").c_str(), (dir / "home/dangling").c_str()), 0);
    expectAll({
        {"ROOT/home/*", {"ROOT/home/ann", "ROOT/home/linked"}},
        {"ROOT/home/*/Documents", {"ROOT/home/ann/Documents", "ROOT/home/linked/Documents"}},
    });
}

TEST_F(ExpandWildcardsTest, RelativePatternIsExpandedInTheCurrentFolder) {
    build({"data/", "dates/", "dat.txt", "other/"});
    const CurrentFolder inTest(dir.path());
    EXPECT_THAT(expand("dat*"), UnorderedElementsAreArray({"data", "dates"}));
}

}  // namespace
