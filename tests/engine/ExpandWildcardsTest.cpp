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

TEST_F(ExpandWildcardsTest, WildcardStartingAComponentGivesTheFoldersItNamesOrNothing) {
    build({"ann/Documents/", "bob/Documents/", "cy/", "dee/Documents", "notes.txt", ".hidden/"});
    expectAll({
        {"ROOT/*", {"ROOT/ann", "ROOT/bob", "ROOT/cy", "ROOT/dee", "ROOT/.hidden"}},
        {"ROOT//*//Documents", {"ROOT/ann/Documents", "ROOT/bob/Documents"}},
        {"ROOT/.*", {"ROOT/.hidden"}},                       // never "." or ".."
        {"ROOT/ann//Documents/", {"ROOT/ann//Documents/"}},  // no wildcard: kept as written
        {"ROOT/*.txt", {}},
        {"ROOT/*/Music", {}},
        {"ROOT/notes.txt/*", {}},
        {"ROOT/ann/Music", {}},
    });
}

TEST_F(ExpandWildcardsTest, WildcardsAtSeveralLevelsMustAllMatch) {
    build({"alpha/x1/2019/", "alpha/x1/old/", "alpha/x1/3.txt", "alpha/xy/7z/", "alpha/xyz/1/",
           "ab/x2/0/", "beta/x1/2020/", "a.txt"});
    expectAll({
        {"ROOT/a*/x?/[0-9]*", {"ROOT/alpha/x1/2019", "ROOT/alpha/xy/7z", "ROOT/ab/x2/0"}},
        {"ROOT/[!a]*/*/*", {"ROOT/beta/x1/2020"}},
    });
}

TEST_F(ExpandWildcardsTest, MatchedNamesAreTakenLiterallyBelowTheWildcard) {
    // As patterns, "*" would stand for every folder here and "[2019]" for
    // "1": each must stand for itself alone.
    build({"*/Documents/", "[2019]/Documents/", "1/Documents/", "bob/", "back\\slash/Documents/"});
    expectAll({
        {"ROOT/*/Documents",
         {"ROOT/*/Documents", "ROOT/[2019]/Documents", "ROOT/1/Documents",
          "ROOT/back\\slash/Documents"}},
        {"ROOT/?2019?/*", {"ROOT/[2019]/Documents"}},
        {"ROOT/*\\*", {"ROOT/back\\slash"}},  // a backslash is no separator
    });
}

}  // namespace
