// Wildcard source entries expanded into the folders they name, on real trees.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/BackupJob.h"
#include "support/TempDir.h"

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
    // root taken off the results again, in the order they came.
    std::vector<std::string> expand(const std::string& pattern) {
        terbin::TBStringArray result;
        job.expandWildcards(terbin::TBString::fromBytes(rooted(pattern)), result);
        std::vector<std::string> out;
        for (const terbin::TBString& folder : result) out.push_back(unrooted(folder.narrow()));
        return out;
    }
    std::string rooted(const std::string& pattern) const {
        return pattern.starts_with("ROOT") ? dir.path() + pattern.substr(4) : pattern;
    }
    std::string unrooted(const std::string& path) const {
        return path.starts_with(dir.path()) ? "ROOT" + path.substr(dir.path().size()) : path;
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

TEST_F(ExpandWildcardsTest, WildcardStartingAComponentListsTheFolderBeforeIt) {
    build({"ann/Documents/", "bob/Documents/", "cy/", "dee/Documents", "notes.txt", ".hidden/"});
    expectAll({
        {"ROOT/*", {"ROOT/ann", "ROOT/bob", "ROOT/cy", "ROOT/dee", "ROOT/.hidden"}},
        {"ROOT/*/", {"ROOT/ann", "ROOT/bob", "ROOT/cy", "ROOT/dee", "ROOT/.hidden"}},
        {"ROOT/*/Documents", {"ROOT/ann/Documents", "ROOT/bob/Documents"}},
        {"ROOT//*//Documents", {"ROOT/ann/Documents", "ROOT/bob/Documents"}},
        {"ROOT/.*", {"ROOT/.hidden"}},  // never "." or ".."
        {"ROOT/*.txt", {}},
        {"ROOT/*/Documents/*", {}},
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
            expected.push_back(unrooted(below.path().string()));
        }
    }
    ASSERT_EQ(expected.size(), 9u);
    EXPECT_EQ(expand("ROOT/*/*"), expected);
}

TEST_F(ExpandWildcardsTest, PatternMatchingNothingAddsNothingAndKeepsWhatWasThere) {
    build({"ann/Documents/", "notes.txt"});
    for (const char* pattern :
         {"ROOT/zz*", "ROOT/*/Music", "ROOT/missing/*", "ROOT/notes.txt/*", "ROOT/*/*/*"}) {
        terbin::TBStringArray result;
        result.add(L"earlier");
        job.expandWildcards(terbin::TBString::fromBytes(rooted(pattern)), result);
        ASSERT_EQ(result.size(), 1) << pattern;
        EXPECT_EQ(result[0], L"earlier") << pattern;
    }
}

TEST_F(ExpandWildcardsTest, PatternWithoutWildcardsIsKeptAsWrittenWhenItIsAFolder) {
    build({"ann/Documents/", "notes.txt"});
    expectAll({
        {"ROOT/ann/Documents", {"ROOT/ann/Documents"}},
        {"ROOT/ann//Documents/", {"ROOT/ann//Documents/"}},
        {"ROOT/ann/Music", {}},
        {"ROOT/notes.txt", {}},
    });
}

TEST_F(ExpandWildcardsTest, MatchedNamesAreTakenLiterallyBelowTheWildcard) {
    // As patterns, "*" would stand for every folder here and "[2019]" for
    // "1": each must stand for itself alone.
    build({"*/Documents/", "[2019]/Documents/", "Photos [2019]/Documents/", "1/Documents/",
           "ann/Documents/", "bob/", "*x/", "back\\slash/Documents/"});
    expectAll({
        {"ROOT/*/Documents",
         {"ROOT/*/Documents", "ROOT/[2019]/Documents", "ROOT/Photos [2019]/Documents",
          "ROOT/1/Documents", "ROOT/ann/Documents", "ROOT/back\\slash/Documents"}},
        {"ROOT/*",
         {"ROOT/*", "ROOT/[2019]", "ROOT/Photos [2019]", "ROOT/1", "ROOT/ann", "ROOT/bob",
          "ROOT/*x", "ROOT/back\\slash"}},
        // A pattern names a bracket through a set holding it alone.
        {"ROOT/Photos [[]2019]", {"ROOT/Photos [2019]"}},
        {"ROOT/Photos ?2019?/Documents", {"ROOT/Photos [2019]/Documents"}},
        {"ROOT/?2019?/*", {"ROOT/[2019]/Documents"}},
    });
}

TEST_F(ExpandWildcardsTest, BackslashIsAnOrdinaryCharacter) {
    // Were "\" a separator, "back\sl*" would look for "sl*" inside "back".
    build({"back\\slash/", "back/slow/", "plain/"});
    expectAll({
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
    const std::string previous = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const std::vector<std::string> found = expand("dat*");
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_THAT(found, UnorderedElementsAreArray({"data", "dates"}));
}

}  // namespace
