#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <set>

#include <gtest/gtest.h>

#include "foundation/TBArray.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBList.h"
#include "support/FaultySystem.h"
#include "support/TempDir.h"

using namespace terbin;

TEST(TBFilenameFix, CleansTheFormsUsersType) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Users\\ann\\", L"C:/Users/ann"},
        {L"/a//b///c", L"/a/b/c"},
        {L"/a/./b/.", L"/a/b"},
        {L"/a/b/../c", L"/a/c"},
        {L"../x/../../y", L"../../y"},
        {L"/../etc", L"/etc"},
        {L"//server/share", L"/server/share"},
        {L"", L""},
        {L".", L"."},
        {L"/", L"/"}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(TBFilename::fix(in), TBString(out)) << TBString(in).narrow();
    }
}

TEST(TBFilenameParts, JoinAndSplit) {
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

TEST(Containers, MisuseThrowsWithSourceFileAndLine) {
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
    auto it = list.iterator();
    EXPECT_THROW(it.remove(), TBIllegalStateException);
    EXPECT_THROW(it.next(), TBNoSuchElementException);
}

TEST(Containers, IteratorRemovesCurrentElement) {
    TBList<int> list;
    for (int i = 0; i < 6; ++i) list.add(i);
    for (auto it = list.iterator(); it.hasNext();) {
        if (it.next() % 2 == 0)
            it.remove();
    }
    EXPECT_EQ(list.size(), 3);
    std::vector<int> left(list.begin(), list.end());
    EXPECT_EQ(left, (std::vector<int>{1, 3, 5}));
}

TEST(TBFolderListing, ClassifiesEntriesWithoutOpeningThem) {
    TempDir dir;
    writeFile(dir / "file", "x");
    makeDirs(dir / "sub");
    ASSERT_EQ(symlink("sub", (dir / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink("file", (dir / "filelink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir / "sock";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    TBFolder folder(TBString::fromBytes(dir.path()));
    ASSERT_TRUE(folder.isOpen());
    std::set<std::string> files, folders, other;
    TBFileInfo info;
    while (folder.read(info) == 0) {
        auto& bucket = info.isFile() ? files : info.isDirectory() ? folders : other;
        bucket.insert(info.getName().narrow() + (info.isSymbolicLink() ? "@" : ""));
    }
    close(sock);
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
    EXPECT_TRUE(TBFilteredFolder::matches(L"pro*", L"Projects"));
    EXPECT_TRUE(TBFilteredFolder::matches(L"b?", L"bY"));
    EXPECT_FALSE(TBFilteredFolder::matches(L"b?", L"b"));
    EXPECT_TRUE(TBFilteredFolder::matches(L"[a-c]x", L"Bx"));
    EXPECT_FALSE(TBFilteredFolder::matches(L"[!a-c]x", L"bx"));
    EXPECT_TRUE(TBFilteredFolder::matches(L"*.\u00c4*", L"x.\u00e4rger"));
    EXPECT_TRUE(TBFilteredFolder::matches(L"a*b*c", L"aXXbYYbZc"));
    EXPECT_FALSE(TBFilteredFolder::matches(L"a*b*c", L"aXXbYYbZ"));
}
