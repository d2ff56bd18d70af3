// The backup set wizard as a person works it: through the scripted dialog
// driver, over the resource library's real templates, with the set saved
// by the application's edit command into a registry of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "backupset/BackupSetFields.h"
#include "base/ULVbase.h"
#include "foundation/TBRegistry.h"
#include "resource/resource.h"
#include "support/ScriptedDialogDriver.h"
#include "support/TempDir.h"
#include "ui/BackupSetWizard.h"
#include "ui/BackupSetWizardPages.h"

using terbin::TBString;
using terbin::TBStringArray;

namespace terbin {
static void PrintTo(const TBString& text, std::ostream* out) {
    *out << '"' << text.narrow() << '"';
}
}  // namespace terbin

namespace {

using Target = BackupSetWizardTarget;
using Source = BackupSetWizardSource;
using Run = BackupSetWizardRun;
using Shown = ScriptedDialogDriver::Shown;

constexpr int SourcePage = 1;
constexpr int PrePage = 2;
constexpr int PostPage = 3;

TBString wide(const std::string& text) {
    return TBString::fromBytes(text);
}

// Every setting of `set` as "name=value".
std::vector<std::string> settingsOf(const BackupSet& set) {
    std::vector<std::string> out;
    forEachSetting([&](const auto& setting) {
        const auto& value = set.*setting.field;
        std::string text;
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, TBStringArray>) {
            for (const TBString& entry : value) text += "[" + entry.narrow() + "]";
        } else if constexpr (std::is_same_v<std::decay_t<decltype(value)>, TBString>) {
            text = value.narrow();
        } else {
            text = std::to_string(value);
        }
        out.push_back(TBString(setting.name).narrow() + "=" + text);
    });
    return out;
}

// A set as the registry holds it under `key`.
struct Stored : BackupSet {
    explicit Stored(const TBString& key) { load(key); }
};

std::vector<std::string> storedKeys() {
    TBStringArray names;
    terbin::TBRegistryKey(terbin::TBHiveCurrentUser, BackupSet::setsKeyPath(), false)
        .keyNames(names);
    std::vector<std::string> out;
    for (const TBString& name : names) out.push_back(name.narrow());
    return out;
}

// Each test has a registry of its own and edits through the application's
// edit command, with the wizard installed as its editor.
class Wizard : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    void SetUp() override {
        useRegistry("registry.db");
        theBaseApp.backupSetEditor = &editor;
    }
    void TearDown() override {
        theBaseApp.backupSetEditor = nullptr;
        unsetenv("ULVAREN_REGISTRY");
    }
    void useRegistry(const std::string& name) {
        setenv("ULVAREN_REGISTRY", (dir / name).c_str(), 1);
    }
    // Runs the edit command on `edited`; the driver works through its steps.
    void edit(BackupSet& edited) {
        theBaseApp.editBackupSet(&edited);
        EXPECT_EQ(driver.unusedSteps(), 0u);
    }
    // `set` with every setting away from its default and an existing target,
    // saved under "4".
    void saveSetWithEverySettingChanged() {
        forEachSetting([&](const auto& setting) {
            auto& value = set.*setting.field;
            const TBString name = setting.name;
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, TBStringArray>)
                value = {name + L"-1", name + L"-2"};
            else if constexpr (std::is_same_v<std::decay_t<decltype(value)>, TBString>)
                value = name + L" text";
            else
                value = value == 0 ? 1 : value == 1 ? 0 : value + 7;
        });
        set.targetFolder = wide(dir.path());
        set.save(L"4");
        set.status = Failed;
    }
    const Shown& last() const { return driver.shown.back(); }

    TempDir dir;
    WizardEditor editor;
    ScriptedDialogDriver driver;
    BackupSet set;
};

// ------------------------------------------------------------ name and target

using TargetPage = Wizard;

TEST_F(TargetPage, StoresTheTargetAndCountOnlyWhileTheirChecksAreOn) {
    set.backupName = L"Flat";
    set.backupType = NoSubfolder;
    set.backupFolderCount = 5;
    // Kept while its check is on, though disabled for no subfolder.
    driver.check(Target::IDC_TARGET_GIVEN, 1)
        .setText(Target::IDC_TARGET, wide(dir / "typed"))
        .check(Target::IDC_TARGET_GIVEN, 0)
        .confirm();
    edit(set);
    const ControlRecord* limit = driver.shown.front().control(Target::IDC_LIMIT_COUNT);
    EXPECT_TRUE(limit->check == 1 && !limit->enabled);
    EXPECT_FALSE(driver.shown.front().control(Target::IDC_TARGET)->enabled);
    EXPECT_EQ(set.backupFolderCount, 5);
    EXPECT_EQ(Stored(set.registryKeyName).targetFolder, L"");
    EXPECT_TRUE(driver.questions.empty());

    set.backupType = DateSubfolder;
    driver.setText(Target::IDC_COUNT, L"9").check(Target::IDC_LIMIT_COUNT, 0).confirm();
    edit(set);
    EXPECT_EQ(Stored(set.registryKeyName).backupFolderCount, 0);
}

// A count that is no number, or a name that is no folder name: the sheet
// stays open on the page, says which value, and takes a corrected one.
TEST_F(TargetPage, RefusesValuesItCannotStoreAndStaysOpen) {
    saveSetWithEverySettingChanged();
    set.backupType = DateSubfolder;
    driver.setText(Target::IDC_COUNT, L"five").confirm().setText(Target::IDC_COUNT, L" 6 ");
    driver.setText(Target::IDC_NAME, L"Photos/2024").confirm().next();
    driver.setText(Target::IDC_NAME, L"Photos 2024").confirm();
    edit(set);
    const std::vector<std::pair<size_t, const wchar_t*>> refusals = {
        {2, L"\"Number of backup subfolders to keep\""}, {5, L"Photos/2024"}, {6, L"Photos/2024"}};
    for (const auto& [step, named] : refusals) {
        const Shown& refused = driver.shown[step];
        SCOPED_TRACE(refused.step.narrow());
        EXPECT_TRUE(!refused.taken && !refused.ended && refused.page == 0);
        EXPECT_GE(refused.message.indexOf(named), 0) << refused.message.narrow();
    }
    const Stored stored(L"4");
    EXPECT_EQ(stored.backupFolderCount, 6);
    EXPECT_EQ(stored.backupName, L"Photos 2024");
}

// Starting from a new set, the rules as they stand after each change.
TEST_F(TargetPage, EnablingRulesFollowEveryChange) {
    struct Row {
        std::function<void()> change;
        bool targetField, limitCheck, countField, ok;
    };
    const std::vector<Row> rows = {
        {[] {}, false, true, true, false},
        {[&] { driver.setText(Target::IDC_NAME, L"Docs"); }, false, true, true, true},
        {[&] { driver.check(Target::IDC_TARGET_GIVEN, 1); }, true, true, true, false},
        {[&] { driver.setText(Target::IDC_TARGET, L"/t"); }, true, true, true, true},
        {[&] { driver.select(Target::IDC_SCHEME, NoSubfolder); }, true, false, false, true},
        {[&] { driver.check(Target::IDC_LIMIT_COUNT, 0); }, true, false, false, true},
        {[&] { driver.select(Target::IDC_SCHEME, DateTimeSubfolder); }, true, true, true, true},
        {[&] { driver.click(Target::IDC_LIMIT_COUNT); }, true, true, false, true},
        {[&] { driver.check(Target::IDC_LIMIT_COUNT, 1); }, true, true, true, true},
        {[&] { driver.setText(Target::IDC_NAME, L""); }, true, true, true, false},
        {[&] { driver.setText(Target::IDC_NAME, L"D"); }, true, true, true, true},
        {[&] { driver.setText(Target::IDC_TARGET, L""); }, true, true, true, false},
        {[&] { driver.check(Target::IDC_TARGET_GIVEN, 0); }, false, true, true, true},
    };
    for (const Row& row : rows) row.change();
    driver.confirm();
    edit(set);
    ASSERT_EQ(driver.shown.size(), rows.size() + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Shown& shown = driver.shown[i];
        SCOPED_TRACE(shown.step.narrow() + " (row " + std::to_string(i) + ")");
        // Row 5 unchecks the limit while it is disabled.
        EXPECT_EQ(shown.taken, i != 5);
        EXPECT_EQ(shown.control(Target::IDC_TARGET)->enabled, rows[i].targetField);
        EXPECT_EQ(shown.control(Target::IDC_LIMIT_COUNT)->enabled, rows[i].limitCheck);
        EXPECT_EQ(shown.control(Target::IDC_COUNT)->enabled, rows[i].countField);
        EXPECT_EQ(shown.okEnabled, rows[i].ok);
    }
    EXPECT_TRUE(last().ended);
}

// ------------------------------------------------------------------ sources

using SourcesPage = Wizard;

TEST_F(SourcesPage, StoresEachNonEmptyLineNormalised) {
    set.backupName = L"Docs";
    set.sourceFolders = {L"/a", L"/b"};
    driver.goToPage(SourcePage)
        .setText(Source::IDC_SOURCES, L"/data//photos/\r\n\r\n/home/./me/docs")
        .setText(Source::IDC_EXCLUDE_FOLDERS, L".cache/\n\nthumbs\r")
        .confirm();
    edit(set);
    EXPECT_EQ(driver.shown[1].control(Source::IDC_SOURCES)->text, L"/a\r\n/b");
    const Stored stored(set.registryKeyName);
    EXPECT_EQ(stored.sourceFolders, (TBStringArray{L"/data/photos", L"/home/me/docs"}));
    EXPECT_EQ(stored.excludeFolders, (TBStringArray{L".cache", L"thumbs"}));
}

TEST_F(SourcesPage, AddedFolderIsAppendedUnlessListedButForCase) {
    makeDirs(dir / "Photos");
    makeDirs(dir / "Music");
    const TBString listed = wide(dir / "PHOTOS");
    set.sourceFolders = {listed};
    for (const std::string& chosen : {dir / "Photos/", dir / "Music/"}) {
        BackupSetWizard wizard(&set);
        driver.goToPage(SourcePage).click(Source::IDC_ADD_SOURCE).answerFolder(wide(chosen));
        driver.cancel();
        wizard.DoModal();
        const bool added = chosen.find("Music") != std::string::npos;
        EXPECT_EQ(last().control(Source::IDC_SOURCES)->text,
                  added ? listed + L"\r\n" + wide(dir / "Music") : listed);
        EXPECT_EQ(wizard.GetPage(SourcePage)->isModified(), added);
    }
    EXPECT_EQ(driver.folderRequests.at(0).flags, FOLDER_MUST_EXIST);
}

// ------------------------------------------------------------------ scripts

using ScriptPages = Wizard;

// A new set: the pre-backup script waits by default, the post-backup one not.
TEST_F(ScriptPages, EnablingRulesFollowEveryChange) {
    struct Row {
        std::function<void()> change;
        bool run, wait, timeout;
    };
    const std::vector<Row> rows = {
        {[&] { driver.goToPage(PrePage); }, false, false, false},
        {[&] { driver.check(Run::IDC_RUN, 1); }, true, true, false},
        {[&] { driver.check(Run::IDC_USE_TIMEOUT, 1); }, true, true, true},
        {[&] { driver.check(Run::IDC_WAIT, 0); }, true, false, false},
        {[&] { driver.check(Run::IDC_WAIT, 1); }, true, true, true},
        {[&] { driver.click(Run::IDC_RUN); }, false, false, false},
        {[&] { driver.goToPage(PostPage); }, false, false, false},
        {[&] { driver.check(Run::IDC_RUN, 1); }, true, false, false},
        {[&] { driver.check(Run::IDC_WAIT, 1); }, true, true, false},
    };
    for (const Row& row : rows) row.change();
    driver.cancel();
    edit(set);
    ASSERT_EQ(driver.shown.size(), rows.size() + 2);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Shown& shown = driver.shown[i + 1];
        SCOPED_TRACE(shown.step.narrow() + " (row " + std::to_string(i) + ")");
        EXPECT_TRUE(shown.taken);
        for (const int id : {Run::IDC_CHOOSE_PROGRAM, Run::IDC_WAIT, Run::IDC_PROGRAM,
                             Run::IDC_ARGUMENTS, Run::IDC_ARGUMENTS_NOTE})
            EXPECT_EQ(shown.control(id)->enabled, rows[i].run) << id;
        for (const int id : {Run::IDC_USE_TIMEOUT, Run::IDC_IGNORE_STATUS})
            EXPECT_EQ(shown.control(id)->enabled, rows[i].wait) << id;
        for (const int id : {Run::IDC_TIMEOUT, Run::IDC_TIMEOUT_UNIT})
            EXPECT_EQ(shown.control(id)->enabled, rows[i].timeout) << id;
    }
}

// The program chooser takes any existing file; a missing one counts as
// cancelled.
TEST_F(ScriptPages, EachPageShowsAndStoresItsOwnScript) {
    writeFile(dir / "hooks/mount-disk", "#!/bin/sh\n");
    const TBString program = wide(dir / "hooks/mount-disk");
    set.backupName = L"Docs";
    driver.goToPage(PrePage).check(Run::IDC_RUN, 1).click(Run::IDC_CHOOSE_PROGRAM);
    driver.answerFile(program).click(Run::IDC_CHOOSE_PROGRAM).answerFile(program + L".gone");
    driver.setText(Run::IDC_ARGUMENTS, L"--quiet 'Backup 2'").check(Run::IDC_USE_TIMEOUT, 1);
    driver.setText(Run::IDC_TIMEOUT, L"1500").goToPage(PostPage).check(Run::IDC_RUN, 1);
    driver.setText(Run::IDC_PROGRAM, L"/opt/report").confirm();
    edit(set);
    const Shown& pre = driver.shown[1];
    const Shown& post = driver.shown[8];
    EXPECT_EQ(pre.pageCaption, AfxLoadString(IDS_PRE_BACKUP_PAGE));
    EXPECT_EQ(pre.control(Run::IDC_RUN)->label, AfxLoadString(IDS_RUN_PRE_BACKUP));
    EXPECT_EQ(post.pageCaption, AfxLoadString(IDS_POST_BACKUP_PAGE));
    EXPECT_EQ(post.control(Run::IDC_RUN)->label, AfxLoadString(IDS_RUN_POST_BACKUP));
    EXPECT_NE(pre.pageCaption, post.pageCaption);
    EXPECT_EQ(driver.fileRequests.at(0).flags, OFN_LONGNAMES | OFN_FILEMUSTEXIST);
    EXPECT_EQ(driver.shown[4].control(Run::IDC_PROGRAM)->text, program);

    const Stored stored(set.registryKeyName);
    EXPECT_EQ(stored.preBackupEnabled, 1);
    EXPECT_EQ(stored.preBackupProgram, program);
    EXPECT_EQ(stored.preBackupArgs, L"--quiet 'Backup 2'");
    EXPECT_EQ(stored.preBackupTimeout, 1);
    EXPECT_EQ(stored.preBackupTimeoutMS, 1500);
    EXPECT_EQ(stored.postBackupEnabled, 1);
    EXPECT_EQ(stored.postBackupProgram, L"/opt/report");
    EXPECT_EQ(stored.postBackupTimeoutMS, 60000);
}

// ------------------------------------------------------------------- saving

using Saving = Wizard;

TEST_F(Saving, NewSetTakesTheSmallestFreeKeyName) {
    const std::vector<std::pair<std::vector<const wchar_t*>, const wchar_t*>> cases = {
        {{}, L"0"}, {{L"0", L"1", L"3"}, L"2"}, {{L"1"}, L"0"}};
    for (const auto& [taken, expected] : cases) {
        useRegistry(TBString(expected).narrow() + std::to_string(taken.size()) + ".db");
        for (const wchar_t* key : taken) BackupSet().save(key);
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Fresh").confirm();
        edit(fresh);
        EXPECT_EQ(fresh.registryKeyName, expected);
        EXPECT_EQ(fresh.status.load(), Ready);
        EXPECT_EQ(Stored(expected).backupName, L"Fresh");
        EXPECT_EQ(storedKeys().size(), taken.size() + 1);
    }
}

TEST_F(Saving, CancelStoresNothing) {
    saveSetWithEverySettingChanged();
    const std::vector<std::string> before = settingsOf(set);
    driver.setText(Target::IDC_NAME, L"Holidays").check(Target::IDC_TARGET_GIVEN, 0);
    driver.goToPage(SourcePage).setText(Source::IDC_SOURCES, L"/elsewhere").cancel();
    edit(set);
    EXPECT_FALSE(set.modified);
    EXPECT_EQ(set.status.load(), Failed);
    EXPECT_EQ(settingsOf(set), before);
    EXPECT_EQ(settingsOf(Stored(L"4")), before);

    BackupSet fresh;
    driver.setText(Target::IDC_NAME, L"Fresh").cancel();
    edit(fresh);
    EXPECT_EQ(storedKeys(), std::vector<std::string>{"4"});
}

// Confirmed on the first page: the pages never opened store nothing, so an
// entry that the sources page would normalise stays as it was. The set
// keeps its key and ends Ready.
TEST_F(Saving, EditingOnlyTheNameKeepsEveryOtherField) {
    saveSetWithEverySettingChanged();
    set.sourceFolders.add(L"/srv//music/");
    set.save(L"4");
    std::vector<std::string> expected = settingsOf(set);
    driver.setText(Target::IDC_NAME, L"Holidays").confirm();
    edit(set);
    EXPECT_EQ(set.registryKeyName, L"4");
    EXPECT_EQ(set.status.load(), Ready);
    Stored stored(L"4");
    EXPECT_EQ(stored.backupName, L"Holidays");
    stored.backupName = L"backupName text";
    EXPECT_EQ(settingsOf(stored), expected);
    EXPECT_EQ(storedKeys(), std::vector<std::string>{"4"});
}

TEST_F(Saving, OpeningEveryPageAndConfirmingKeepsEveryField) {
    saveSetWithEverySettingChanged();
    const std::vector<std::string> expected = settingsOf(set);
    driver.next().next().next().next().confirm();
    edit(set);
    ASSERT_TRUE(set.modified);
    EXPECT_EQ(settingsOf(Stored(L"4")), expected);
}

// ---------------------------------------------------- a missing target folder

using MissingTarget = Wizard;

// It is asked about only with a full path whose parent is there: a relative
// path would be made wherever the program runs, and a missing parent may be
// a drive that is not plugged in.
TEST_F(MissingTarget, IsMadeAfterSavingOnlyWhenThePersonAgrees) {
    makeDirs(dir / "there");
    const std::vector<std::pair<std::string, std::optional<bool>>> cases = {
        {dir / "agreed", true},
        {dir / "declined", false},
        {dir / "there", std::nullopt},
        {"relative/backups", std::nullopt},
        {dir / "gone/backups", std::nullopt}};
    for (const auto& [folder, answer] : cases) {
        SCOPED_TRACE(folder);
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Docs").check(Target::IDC_TARGET_GIVEN, 1);
        driver.setText(Target::IDC_TARGET, wide(folder)).confirm();
        if (answer)
            driver.answerQuestion(*answer);
        driver.questions.clear();
        edit(fresh);
        EXPECT_EQ(driver.questions.size(), answer ? 1u : 0u);
        if (answer) {
            EXPECT_GE(driver.questions[0].indexOf(wide(folder)), 0);
        }
        EXPECT_EQ(exists(folder), answer.value_or(false) || folder == dir / "there");
        EXPECT_EQ(Stored(fresh.registryKeyName).targetFolder, wide(folder));
        EXPECT_EQ(theBaseApp.lastRefusal, L"");
    }
    EXPECT_FALSE(exists("relative") || exists(dir / "gone"));
}

// Something took the folder's name between the question and the save.
TEST_F(MissingTarget, ThatCannotBeMadeAfterAllIsReported) {
    const std::string folder = dir / "taken";
    set.backupName = L"Docs";
    driver.check(Target::IDC_TARGET_GIVEN, 1).setText(Target::IDC_TARGET, wide(folder));
    driver.confirm().answerQuestion(true);
    editor.edit(set);
    ASSERT_TRUE(set.modified);
    writeFile(folder, "not a folder");
    EXPECT_GE(editor.saved(set).indexOf(wide(folder)), 0);
    EXPECT_EQ(readFile(folder), "not a folder");
}

}  // namespace
