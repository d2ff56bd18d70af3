#include <gtest/gtest.h>

#include <string>

#include "backupset/BackupSet.h"

using terbin::TBString;

namespace {

class Exclusion : public ::testing::Test {
protected:
    void expectExcluded(bool (BackupSet::*test)(const TBString&) const, bool excluded,
                        std::initializer_list<const wchar_t*> names) {
        for (const wchar_t* name : names)
            EXPECT_EQ((set.*test)(name), excluded) << TBString(name).narrow();
    }
    BackupSet set;
};

TEST_F(Exclusion, WildcardsMatchWholeNamesIgnoringCaseAndLineBreaks) {
    for (const wchar_t* pattern :
         {L"*.tmp", L"ntuser.dat*", L"a?c", L"c++.txt", L"\u00c4rger*", L"file[0-9].log", L"[abc"})
        set.excludeFile(pattern);
    expectExcluded(
        &BackupSet::isFileExcluded, true,
        {L"A.TMP", L"ntuser.dat.LOG1", L"a\nc", L"C++.TXT", L"\u00e4RGER\nzwei", L"FILE7.LOG"});
    expectExcluded(
        &BackupSet::isFileExcluded, false,
        {L"a.tmpx", L"ntuser.da", L"abbc", L"cc.txt", L"a.tmp\n", L"file10.log", L"[abc"});
}

TEST_F(Exclusion, EveryIncludePatternMustMatchBeforeExcludesApply) {
    set.includeFiles.add(L"*.doc");
    set.excludeFile(L"~*");
    EXPECT_FALSE(set.isFileExcluded(L"Report.DOC"));
    EXPECT_TRUE(set.isFileExcluded(L"~Report.doc"));
    EXPECT_TRUE(set.isFileExcluded(L"sheet.xls"));
    set.includeFiles.add(L"*.xls");
    EXPECT_TRUE(set.isFileExcluded(L"Report.doc"));
}

TEST_F(Exclusion, EachCallFollowsTheStoredTexts) {
    set.excludeFile(L"Temp");
    EXPECT_TRUE(set.isFileExcluded(L"temp"));
    set.excludeFiles[0] = L"*.bak";
    EXPECT_FALSE(set.isFileExcluded(L"temp"));
    EXPECT_TRUE(set.isFileExcluded(L"a.bak"));
}

TEST_F(Exclusion, FolderPatternsNameTrailingComponentsAtAnyDepth) {
    set.excludeFolder(L"Temp");
    set.excludeFolder(L"Users/*/AppData/");
    // A backslash is part of a name: this pattern names one folder "a\b".
    set.excludeFolder(L"a\\b");
    EXPECT_EQ(set.excludeFolders, terbin::TBStringArray({L"Temp", L"Users/*/AppData", L"a\\b"}));
    expectExcluded(
        &BackupSet::isFolderExcluded, true,
        {L"C:/Users/x/TEMP", L"C:/Users/joe/AppData", L"C:/Users/joe/old/AppData", L"/home/a\\b"});
    expectExcluded(&BackupSet::isFolderExcluded, false,
                   {L"C:/MyTemp", L"C:/Temp/sub", L"C:/Users/joe/AppData/Local",
                    L"C:/Users/AppData", L"/home/a/b"});
}

}  // namespace
