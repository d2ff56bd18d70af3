#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "foundation/TBArray.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBList.h"
#include "support/FaultySystem.h"
#include "support/TempDir.h"

using namespace terbin;

TEST(TBFilename, CleansTheFormsUsersTypeJoinsAndSplits) {
    // clang-format off
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Users\\ann\\", L"C:/Users/ann"}, {L"/a//b///c", L"/a/b/c"}, {L"/a/./b/.", L"/a/b"},
        {L"/a/b/../c", L"/a/c"}, {L"../x/../../y", L"../../y"}, {L"/../etc", L"/etc"},
        {L"//server/share", L"/server/share"}, {L"", L""}, {L".", L"."}, {L"/", L"/"}};
    // clang-format on
    for (const auto& [in, out] : cases)
        EXPECT_EQ(TBFilename::fix(in), TBString(out)) << TBString(in).narrow();
    EXPECT_EQ(TBFilename::concatPaths(L"/a/", L"b"), TBString(L"/a/b"));
    EXPECT_EQ(TBFilename::concatPaths(L"/a", L"b\\c"), TBString(L"/a/b\\c"));
    EXPECT_EQ(TBFilename::concatPaths(L"", L"b"), TBString(L"b"));
    EXPECT_EQ(TBFilename::dirname(L"/a/b/c"), TBString(L"/a/b"));
    EXPECT_EQ(TBFilename::dirname(L"/a"), TBString(L"/"));
    EXPECT_EQ(TBFilename::dirname(L"a"), TBString(L"."));
    EXPECT_EQ(TBFilename::basename(L"/a/b\\c"), TBString(L"b\\c"));
    EXPECT_EQ(tb_file_basename(L"D:\\data\\pro*"), TBString(L"pro*"));
    EXPECT_EQ(tb_file_dirname(L"D:\\data\\pro"), TBString(L"D:\\data"));
}

TEST(Containers, MisuseThrowsWithItsSourceLineAndTheIteratorRemovesTheCurrentElement) {
    TBArray<int> array{1, 2};
    try {
        array.get(2);
        FAIL() << "no exception";
    } catch (const TBIndexOutOfBoundsException& e) {
        EXPECT_STREQ(e.file(), "foundation/TBArray.h");
        EXPECT_GT(e.line(), 0);
    }
    TBList<int> list;
    EXPECT_THROW(list.getFirst(), TBNoSuchElementException);
    auto empty = list.iterator();
    EXPECT_THROW(empty.remove(), TBIllegalStateException);
    EXPECT_THROW(empty.next(), TBNoSuchElementException);

    for (int i = 0; i < 6; ++i) list.add(i);
    for (auto it = list.iterator(); it.hasNext();) {
        if (it.next() % 2 == 0)
            it.remove();
    }
    EXPECT_EQ(list.size(), 3);
    EXPECT_EQ(std::vector<int>(list.begin(), list.end()), (std::vector<int>{1, 3, 5}));
}

TEST(TBFolderListing, ClassifiesEntriesWithoutOpeningThem) {
    TempDir dir;
    writeFile(dir / "file", "x");
    makeDirs(dir / "sub");
    ASSERT_EQ(symlink("sub", (dir / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink("file", (dir / "filelink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(mknod((dir / "sock").c_str(), S_IFSOCK | 0600, 0), 0);

    TBFolder folder(TBString::fromBytes(dir.path()));
    ASSERT_TRUE(folder.isOpen());
    std::set<std::string> files, folders, other;
    TBFileInfo info;
    while (folder.read(info) == 0) {
        auto& bucket = info.isFile() ? files : info.isDirectory() ? folders : other;
        bucket.insert(info.getName().narrow() + (info.isSymbolicLink() ? "@" : ""));
    }
    EXPECT_EQ(files, (std::set<std::string>{"file", "filelink@"}));
    EXPECT_EQ(folders, (std::set<std::string>{".", "..", "sub", "dirlink@"}));
    EXPECT_EQ(other, (std::set<std::string>{"dangling@", "fifo", "sock"}));
}

TEST(TBFolderCreate, MakesParentsAndReportsFullDisk) {
    TempDir dir;
    const TBString deep = TBString::fromBytes(dir / "a/b/c");
    EXPECT_EQ(TBFolder::create(deep, true), 0u);
    EXPECT_TRUE(TBFileInfo::isFolder(deep));
    EXPECT_EQ(TBFolder::create(deep, true), 0u) << "an existing folder is fine";
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
    // clang-format off
    const std::tuple<const wchar_t*, const wchar_t*, bool> cases[] = {
        {L"pro*", L"Projects", true}, {L"b?", L"bY", true}, {L"b?", L"b", false},
        {L"[a-c]x", L"Bx", true}, {L"[!a-c]x", L"bx", false}, {L"*.\u00c4*", L"x.\u00e4rger", true},
        {L"a*b*c", L"aXXbYYbZc", true}, {L"a*b*c", L"aXXbYYbZ", false}};
    // clang-format on
    for (const auto& [pattern, name, matches] : cases)
        EXPECT_EQ(TBFilteredFolder::matches(pattern, name), matches) << TBString(pattern).narrow();
}
