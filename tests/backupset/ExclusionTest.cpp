#include <gtest/gtest.h>

#include <string>

#include "backupset/BackupSet.h"
#include "support/TempDir.h"

using terbin::TBString;

namespace {

class Exclusion : public ::testing::Test {
protected:
    BackupSet set;
};

TEST_F(Exclusion, WildcardsMatchWholeNamesIgnoringCaseAndLineBreaks) {
    for (const wchar_t* pattern : {L"*.tmp", L"thumbs.db", L"ntuser.dat*", L"a?c", L"c++.txt",
                                   L"Ärger*.txt", L"*straße.doc"})
        set.excludeFile(pattern);
    for (const wchar_t* name :
         {L"a.tmp", L"A.TMP", L"Thumbs.db", L"NTUSER.DAT", L"ntuser.dat.LOG1", L"abc", L"a\nc",
          L"C++.TXT", L"ärger 2024.TXT", L"ÄRGER\nzwei.txt", L"HAUPTSTRASSE.DOC"})
        EXPECT_TRUE(set.isFileExcluded(name)) << TBString(name).narrow();
    for (const wchar_t* name : {L"a.tmpx", L"atmp", L"thumbsXdb", L"ntuser.da", L"ac", L"abbc",
                                L"cc.txt", L"a.tmp\n", L"Arger.txt"})
        EXPECT_FALSE(set.isFileExcluded(name)) << TBString(name).narrow();
}

TEST_F(Exclusion, ClassesMatchOneCharacterAndInvalidPatternsNothing) {
    set.excludeFile(L"file[0-9].log");
    set.excludeFile(L"[abc");
    set.excludeFile(L"log[0-9]{2}.txt");
    EXPECT_TRUE(set.isFileExcluded(L"FILE7.LOG"));
    EXPECT_FALSE(set.isFileExcluded(L"file10.log"));
    EXPECT_FALSE(set.isFileExcluded(L"[abc"));
    EXPECT_FALSE(set.isFileExcluded(L"log12.txt")) << "\"]\" already carries a count of one";
    set.includeFiles.add(L"(x");
    EXPECT_TRUE(set.isFileExcluded(L"(x")) << "an include that never matches excludes all";
}

TEST_F(Exclusion, EveryIncludePatternMustMatchBeforeExcludesApply) {
    set.includeFiles.add(L"*.doc");
    set.excludeFile(L"~*");
    EXPECT_FALSE(set.isFileExcluded(L"Report.DOC"));
    EXPECT_TRUE(set.isFileExcluded(L"~Report.doc"));
    EXPECT_TRUE(set.isFileExcluded(L"sheet.xls"));
    set.includeFiles.add(L"*.xls");
    EXPECT_TRUE(set.isFileExcluded(L"Report.doc"));
    EXPECT_TRUE(set.isFileExcluded(L"sheet.xls"));
}

TEST_F(Exclusion, EachCallFollowsTheStoredTexts) {
    BackupSet other;
    set.excludeFile(L"Temp");
    set.excludeFolder(L"Temp");
    other.excludeFile(L"*.bak");
    EXPECT_FALSE(other.isFileExcluded(L"Temp"));
    EXPECT_TRUE(set.isFolderExcluded(L"/x/temp"));
    EXPECT_FALSE(set.isFileExcluded(L"/x/temp")) << "a file pattern has no leading \".*/\"";
    EXPECT_TRUE(set.isFileExcluded(L"temp"));
    set.excludeFiles[0] = L"*.bak";
    EXPECT_FALSE(set.isFileExcluded(L"temp"));
    EXPECT_TRUE(set.isFileExcluded(L"a.bak"));
}

TEST_F(Exclusion, PlainNameExcludesThatFolderAtAnyDepthAndParenthesesGroup) {
    set.excludeFolder(L"Temp");
    set.excludeFolder(L"Program Files (x86)");
    for (const wchar_t* path : {L"C:/Users/x/Temp", L"C:/TEMP", L"C:/Program Files x86"})
        EXPECT_TRUE(set.isFolderExcluded(path)) << TBString(path).narrow();
    for (const wchar_t* path :
         {L"C:/Temporary", L"C:/MyTemp", L"Temp", L"C:/Temp/sub", L"C:/Program Files (x86)"})
        EXPECT_FALSE(set.isFolderExcluded(path)) << TBString(path).narrow();
}

TEST_F(Exclusion, SlashOrBackslashPatternNamesTrailingComponentsAndIsStoredWithSlashes) {
    for (const wchar_t* pattern : {L"Users/*/AppData", L"Users\\*\\AppData"}) {
        set.excludeFolders.clear();
        set.excludeFolders.add(pattern);
        EXPECT_TRUE(set.isFolderExcluded(L"C:/Users/joe/AppData"));
        EXPECT_TRUE(set.isFolderExcluded(L"C:/Users/joe/old/AppData"));
        EXPECT_FALSE(set.isFolderExcluded(L"C:/Users/joe/AppData/Local"));
        EXPECT_FALSE(set.isFolderExcluded(L"C:/Users/AppData"));
    }
    set.excludeFolders.clear();
    set.excludeFolder(L"Users\\*\\AppData\\");
    set.excludeFolder(L"Users/*/AppData");
    set.excludeFile(L"logs\\*.tmp");
    EXPECT_EQ(set.excludeFolders, terbin::TBStringArray({L"Users/*/AppData", L"Users/*/AppData"}));
    EXPECT_EQ(set.excludeFiles, terbin::TBStringArray({L"logs/*.tmp"}));
}

class SourceFolderList : public ::testing::Test {
protected:
    TBString path(const std::string& relative) const { return TBString::fromBytes(dir / relative); }
    TempDir dir;
    BackupSet set;
};

TEST_F(SourceFolderList, AddsExistingOrForcedFoldersNormalisedOnceIgnoringCase) {
    makeDirs(dir / "Docs");
    set.addSourceFolder(path("Docs//./"), false);
    set.addSourceFolder(path("DOCS"), true);
    set.addSourceFolder(path("Docs"), false);
    set.addSourceFolder(path("gone"), false);
    set.addSourceFolder(L"D:\\Data\\", true);
    EXPECT_EQ(set.sourceFolders, terbin::TBStringArray({path("Docs"), L"D:/Data"}));
    // Lookups ignore case but do not normalise.
    EXPECT_TRUE(set.containsSourceFolder(L"d:/DATA"));
    EXPECT_FALSE(set.containsSourceFolder(L"D:\\Data"));
    EXPECT_FALSE(set.containsSourceFolder(L"D:/Data/"));
}

}  // namespace
