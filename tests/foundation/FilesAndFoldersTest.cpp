#include <sys/stat.h>

#include <tuple>

#include <gtest/gtest.h>

#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "support/FaultySystem.h"
#include "support/TempDir.h"

using namespace terbin;

TEST(TBFilename, CleansTheFormsUsersType) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"/home/a\\..\\..\\etc/", L"/home/a\\..\\..\\etc"},
        {L"/a//b/./c/..", L"/a/b"},
        {L"../x/../../y", L"../../y"},
        {L"//server/share", L"/server/share"},
        {L"/", L"/"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(TBFilename::fix(in), TBString(out)) << TBString(in).narrow();
}

TEST(TBFolderCreate, MakesParentsAndReportsFullDisk) {
    TempDir dir;
    const TBString deep = TBString::fromBytes(dir / "a/b/c");
    EXPECT_EQ(TBFolder::create(deep, true), 0u);
    EXPECT_TRUE(TBFileInfo::isFolder(deep));
    writeFile(dir / "file", "x");
    EXPECT_EQ(TBFolder::create(TBString::fromBytes(dir / "file"), true), 183u);
    EXPECT_EQ(TBFolder::create(TBString::fromBytes(dir / "x/y"), false), 2u);

    struct FullDisk : FaultySystem {
        int mkdir(const char*, mode_t) override {
            errno = ENOSPC;
            return -1;
        }
    } full;
    EXPECT_EQ(TBFolder::create(TBString::fromBytes(dir / "new"), true), 112u);
}

TEST(TBFilteredFolderMatch, WildcardsIgnoreCase) {
    const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
        {L"pro*", L"Projects", true},
        {L"b?", L"b", false},
        {L"[!a-c]x", L"bx", false},
        {L"*.\u00c4*", L"x.\u00e4rger", true},
        {L"a*b*c", L"aXXbYYbZ", false}};
    for (const auto& [pattern, name, matches] : cases)
        EXPECT_EQ(TBFilteredFolder::matches(pattern, name), matches) << TBString(pattern).narrow();
}
