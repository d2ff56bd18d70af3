// The backup set wizard as a person works it: through the scripted dialog
// driver, over the resource library's real templates, with the set saved
// by the application's edit command into a registry of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
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
// Texts in failure messages as text.
static void PrintTo(const TBString& text, std::ostream* out) {
    *out << '"' << text.narrow() << '"';
}
}  // namespace terbin

namespace {

using Target = BackupSetWizardTarget;
using Source = BackupSetWizardSource;
using Run = BackupSetWizardRun;
using Options = BackupSetWizardOptions;
using Shown = ScriptedDialogDriver::Shown;

constexpr int SourcePage = 1;
constexpr int PrePage = 2;
constexpr int PostPage = 3;
constexpr int OptionsPage = 4;

TBString wide(const std::string& text) {
    return TBString::fromBytes(text);
}

// Every setting of `set` as "name=value", in the record's order.
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
    explicit Stored(const wchar_t* key) { load(key); }
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
// edit command with the wizard installed as its editor.
class Wizard : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    void SetUp() override {
        useRegistry("registry.db");
        theBaseApp.backupSetEditor = &editor;
        theBaseApp.lastRefusal = TBString();
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

    // A set with every setting away from its default, saved under "4". Its
    // target folder exists.
    BackupSet& savedSet() {
        makeDirs(dir / "target");
        set.backupName = L"Photos";
        set.targetFolder = wide(dir / "target");
        set.sourceFolders = {L"/home/me/Photos", L"/srv/Shared Pictures"};
        set.includeFiles = {L"*.jpg", L"*.raw"};
        set.excludeFiles = {L"*.tmp"};
        set.excludeFolders = {L".cache", L"thumbs"};
        set.backupType = DateTimeSubfolder;
        set.backupFolderCount = 7;
        set.backupFullPath = 0;
        set.backupAddComputerFolder = 0;
        set.backupAddBackupSetFolder = 1;
        set.backupFollowSymLinks = 1;
        set.backupCreateLog = 0;
        set.backupExcludeFromStartAll = 1;
        set.preBackupEnabled = 1;
        set.preBackupWaitForCompletion = 1;
        set.preBackupIgnoreStatus = 1;
        set.preBackupTimeout = 1;
        set.preBackupTimeoutMS = 1234;
        set.preBackupProgram = L"/usr/local/bin/mount-backup";
        set.preBackupArgs = L"--disk \"Backup 2\"";
        set.postBackupEnabled = 1;
        set.postBackupWaitForCompletion = 1;
        set.postBackupIgnoreStatus = 0;
        set.postBackupTimeout = 1;
        set.postBackupTimeoutMS = 9000;
        set.postBackupProgram = L"/usr/bin/logger";
        set.postBackupArgs = L"backup done";
        set.save(L"4");
        set.status = Failed;
        return set;
    }

    const Shown& last() const { return driver.shown.back(); }

    TempDir dir;
    WizardEditor editor;
    ScriptedDialogDriver driver;
    BackupSet set;
};

// ------------------------------------------------------------ name and target

using TargetPage = Wizard;

TEST_F(TargetPage, TextTypedBeforeTheTargetIsSwitchedOffIsNotStored) {
    set.backupName = L"Docs";
    set.save(L"3");
    driver.check(Target::IDC_TARGET_GIVEN, 1)
        .setText(Target::IDC_TARGET, wide(dir / "elsewhere"))
        .check(Target::IDC_TARGET_GIVEN, 0)
        .confirm();
    edit(set);
    const Shown& start = driver.shown.front();
    EXPECT_EQ(start.control(Target::IDC_TARGET_GIVEN)->check, 0);
    EXPECT_FALSE(start.control(Target::IDC_TARGET)->enabled);
    EXPECT_TRUE(set.modified);
    EXPECT_EQ(set.targetFolder, L"");
    EXPECT_EQ(Stored(L"3").targetFolder, L"");
    EXPECT_TRUE(driver.questions.empty());
}

TEST_F(TargetPage, CountIsKeptWhileItsCheckIsDisabledAndSetToZeroWhenSwitchedOff) {
    set.backupName = L"Flat";
    set.backupType = NoSubfolder;
    set.backupFolderCount = 5;
    driver.confirm();
    edit(set);
    const ControlRecord* limit = driver.shown.front().control(Target::IDC_LIMIT_COUNT);
    EXPECT_EQ(limit->check, 1);
    EXPECT_FALSE(limit->enabled);
    EXPECT_EQ(set.backupFolderCount, 5);
    EXPECT_EQ(set.backupType, NoSubfolder);

    set.backupType = DateSubfolder;
    driver.setText(Target::IDC_COUNT, L"9").check(Target::IDC_LIMIT_COUNT, 0).confirm();
    edit(set);
    EXPECT_EQ(set.backupFolderCount, 0);
    EXPECT_EQ(Stored(set.registryKeyName.c_str()).backupFolderCount, 0);
}

TEST_F(TargetPage, CountThatIsNoNumberIsRefusedNamingTheFieldAndTheSheetStaysOpen) {
    savedSet();
    driver.setText(Target::IDC_COUNT, L"five").confirm();
    driver.setText(Target::IDC_COUNT, L" 6 ").confirm();
    edit(set);
    const Shown& refused = driver.shown[2];
    EXPECT_EQ(refused.step, L"confirm");
    EXPECT_FALSE(refused.taken);
    EXPECT_FALSE(refused.ended);
    EXPECT_GE(refused.message.indexOf(L"Number of backup subfolders to keep"), 0)
        << refused.message.narrow();
    EXPECT_GE(refused.message.indexOf(L"five"), 0);
    EXPECT_TRUE(last().ended);
    EXPECT_EQ(set.backupFolderCount, 6);
    EXPECT_EQ(Stored(L"4").backupFolderCount, 6);
}

TEST_F(TargetPage, NameThatCannotBeAFolderNameIsRefusedAndTheSheetStaysOpen) {
    driver.setText(Target::IDC_NAME, L"Photos/2024").confirm();
    driver.next();
    driver.setText(Target::IDC_NAME, L"Photos 2024").confirm();
    edit(set);
    for (const size_t step : {2u, 3u}) {
        const Shown& refused = driver.shown[step];
        EXPECT_FALSE(refused.taken) << refused.step.narrow();
        EXPECT_EQ(refused.page, 0);
        EXPECT_GE(refused.message.indexOf(L"Photos/2024"), 0) << refused.message.narrow();
    }
    EXPECT_EQ(set.backupName, L"Photos 2024");
    EXPECT_EQ(Stored(set.registryKeyName.c_str()).backupName, L"Photos 2024");
}

// The page's rules after each change, on a set without a target of its own
// and without a limit.
TEST_F(TargetPage, EnablingRulesFollowEveryChange) {
    struct Row {
        const char* change;
        std::function<void()> act;
        bool targetField;
        bool limitCheck;
        bool countField;
        bool ok;
    };
    const TBString target = wide(dir / "target");
    const std::vector<Row> rows = {
        {"start", [] {}, false, true, false, true},
        {"target on", [&] { driver.check(Target::IDC_TARGET_GIVEN, 1); }, true, true, false, false},
        {"target typed", [&] { driver.setText(Target::IDC_TARGET, target); }, true, true, false,
         true},
        {"limit on", [&] { driver.check(Target::IDC_LIMIT_COUNT, 1); }, true, true, true, true},
        {"no subfolder", [&] { driver.select(Target::IDC_SCHEME, NoSubfolder); }, true, false,
         false, true},
        {"date and time", [&] { driver.select(Target::IDC_SCHEME, DateTimeSubfolder); }, true, true,
         true, true},
        {"limit clicked off", [&] { driver.click(Target::IDC_LIMIT_COUNT); }, true, true, false,
         true},
        {"name emptied", [&] { driver.setText(Target::IDC_NAME, L""); }, true, true, false, false},
        {"name typed", [&] { driver.setText(Target::IDC_NAME, L"D"); }, true, true, false, true},
        {"target emptied", [&] { driver.setText(Target::IDC_TARGET, L""); }, true, true, false,
         false},
        {"target off", [&] { driver.check(Target::IDC_TARGET_GIVEN, 0); }, false, true, false,
         true},
    };
    set.backupName = L"Docs";
    set.backupType = DateSubfolder;
    set.backupFolderCount = 0;
    for (const Row& row : rows) row.act();
    driver.cancel();
    edit(set);
    ASSERT_EQ(driver.shown.size(), rows.size() + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Shown& shown = driver.shown[i];
        SCOPED_TRACE(rows[i].change);
        EXPECT_TRUE(shown.taken);
        EXPECT_EQ(shown.control(Target::IDC_TARGET)->enabled, rows[i].targetField);
        EXPECT_EQ(shown.control(Target::IDC_LIMIT_COUNT)->enabled, rows[i].limitCheck);
        EXPECT_EQ(shown.control(Target::IDC_COUNT)->enabled, rows[i].countField);
        EXPECT_EQ(shown.okEnabled, rows[i].ok);
    }
    EXPECT_FALSE(set.modified);
}

TEST_F(TargetPage, ChosenFolderIsNormalisedAndACancelledChoiceChangesNothing) {
    makeDirs(dir / "chosen");
    set.backupName = L"Docs";
    set.targetFolder = L"/old/target";
    driver.click(Target::IDC_CHOOSE_TARGET)
        .answerFolder(std::nullopt)
        .click(Target::IDC_CHOOSE_TARGET)
        .answerFolder(wide(dir.path() + "//chosen/"))
        .confirm();
    edit(set);
    ASSERT_EQ(driver.folderRequests.size(), 2u);
    EXPECT_EQ(driver.folderRequests[0].startFolder, L"/old/target");
    EXPECT_EQ(driver.folderRequests[0].flags, FOLDER_MUST_EXIST);
    EXPECT_EQ(driver.shown[1].control(Target::IDC_TARGET)->text, L"/old/target");
    EXPECT_EQ(driver.shown[2].control(Target::IDC_TARGET)->text, wide(dir / "chosen"));
    EXPECT_EQ(set.targetFolder, wide(dir / "chosen"));
}

// ------------------------------------------------------------------ sources

using SourcesPage = Wizard;

TEST_F(SourcesPage, LinesAreShownOnePerEntryAndStoredNormalisedWithoutEmptyOnes) {
    set.backupName = L"Docs";
    set.sourceFolders = {L"/a", L"/b"};
    driver.goToPage(SourcePage)
        .setText(Source::IDC_SOURCES, L"/data//photos/\r\n\r\n/home/./me/docs")
        .setText(Source::IDC_EXCLUDE_FOLDERS, L".cache/\n\nthumbs\r")
        .setText(Source::IDC_INCLUDE_FILES, L"")
        .confirm();
    edit(set);
    EXPECT_EQ(driver.shown[1].control(Source::IDC_SOURCES)->text, L"/a\r\n/b");
    const TBStringArray sources{L"/data/photos", L"/home/me/docs"};
    const TBStringArray excluded{L".cache", L"thumbs"};
    EXPECT_EQ(set.sourceFolders, sources);
    EXPECT_EQ(set.excludeFolders, excluded);
    EXPECT_TRUE(set.includeFiles.isEmpty());
    const Stored stored(set.registryKeyName.c_str());
    EXPECT_EQ(stored.sourceFolders, sources);
    EXPECT_EQ(stored.excludeFolders, excluded);
}

TEST_F(SourcesPage, AddedFolderIsAppendedUnlessListedButForCase) {
    makeDirs(dir / "Photos");
    makeDirs(dir / "Music");
    const TBString listed = wide(dir / "PHOTOS");
    set.sourceFolders = {listed};
    {
        BackupSetWizard wizard(&set);
        driver.goToPage(SourcePage)
            .click(Source::IDC_ADD_SOURCE)
            .answerFolder(wide(dir / "Photos/"))
            .cancel();
        wizard.DoModal();
        EXPECT_EQ(last().control(Source::IDC_SOURCES)->text, listed);
        EXPECT_FALSE(wizard.GetPage(SourcePage)->isModified());
    }
    {
        BackupSetWizard wizard(&set);
        driver.goToPage(SourcePage)
            .click(Source::IDC_ADD_SOURCE)
            .answerFolder(wide(dir / "Music/"))
            .cancel();
        wizard.DoModal();
        EXPECT_EQ(last().control(Source::IDC_SOURCES)->text,
                  listed + L"\r\n" + wide(dir / "Music"));
        EXPECT_TRUE(wizard.GetPage(SourcePage)->isModified());
    }
    ASSERT_EQ(driver.folderRequests.size(), 2u);
    EXPECT_EQ(driver.folderRequests[0].startFolder, L"");
    EXPECT_EQ(driver.folderRequests[0].flags, FOLDER_MUST_EXIST);
    const TBStringArray unchanged{listed};
    EXPECT_EQ(set.sourceFolders, unchanged);
    EXPECT_FALSE(set.modified);
}

// ------------------------------------------------------------------ scripts

using ScriptPages = Wizard;

// A fresh set: the pre-backup script waits by default, the post-backup
// script does not.
TEST_F(ScriptPages, EnablingRulesFollowEveryChange) {
    struct Row {
        const char* change;
        std::function<void()> act;
        bool run;
        bool wait;
        bool timeout;
    };
    const std::vector<Row> rows = {
        {"pre page", [&] { driver.goToPage(PrePage); }, false, false, false},
        {"run on", [&] { driver.check(Run::IDC_RUN, 1); }, true, true, false},
        {"time-out on", [&] { driver.check(Run::IDC_USE_TIMEOUT, 1); }, true, true, true},
        {"wait off", [&] { driver.check(Run::IDC_WAIT, 0); }, true, false, false},
        {"wait on", [&] { driver.check(Run::IDC_WAIT, 1); }, true, true, true},
        {"run off", [&] { driver.click(Run::IDC_RUN); }, false, false, false},
        {"post page", [&] { driver.goToPage(PostPage); }, false, false, false},
        {"post run on", [&] { driver.check(Run::IDC_RUN, 1); }, true, false, false},
        {"post wait on", [&] { driver.check(Run::IDC_WAIT, 1); }, true, true, false},
    };
    set.backupName = L"Docs";
    for (const Row& row : rows) row.act();
    driver.cancel();
    edit(set);
    ASSERT_EQ(driver.shown.size(), rows.size() + 2);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Shown& shown = driver.shown[i + 1];
        SCOPED_TRACE(rows[i].change);
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

TEST_F(ScriptPages, EachPageHasItsCaptionAndLabelAndStoresItsOwnScript) {
    set.backupName = L"Docs";
    driver.goToPage(PrePage)
        .check(Run::IDC_RUN, 1)
        .setText(Run::IDC_PROGRAM, L"/opt/mount disk.sh")
        .setText(Run::IDC_ARGUMENTS, L"--quiet 'Backup 2'")
        .check(Run::IDC_USE_TIMEOUT, 1)
        .setText(Run::IDC_TIMEOUT, L"1500")
        .goToPage(PostPage)
        .check(Run::IDC_RUN, 1)
        .setText(Run::IDC_PROGRAM, L"/opt/report")
        .confirm();
    edit(set);
    const Shown& pre = driver.shown[1];
    const Shown& post = driver.shown[7];
    EXPECT_EQ(pre.pageCaption, AfxLoadString(IDS_PRE_BACKUP_PAGE));
    EXPECT_EQ(pre.control(Run::IDC_RUN)->label, AfxLoadString(IDS_RUN_PRE_BACKUP));
    EXPECT_EQ(post.pageCaption, AfxLoadString(IDS_POST_BACKUP_PAGE));
    EXPECT_EQ(post.control(Run::IDC_RUN)->label, AfxLoadString(IDS_RUN_POST_BACKUP));
    EXPECT_NE(pre.pageCaption, post.pageCaption);

    const Stored stored(set.registryKeyName.c_str());
    for (const BackupSet* saved :
         {static_cast<const BackupSet*>(&set), static_cast<const BackupSet*>(&stored)}) {
        EXPECT_EQ(saved->preBackupEnabled, 1);
        EXPECT_EQ(saved->preBackupProgram, L"/opt/mount disk.sh");
        EXPECT_EQ(saved->preBackupArgs, L"--quiet 'Backup 2'");
        EXPECT_EQ(saved->preBackupTimeout, 1);
        EXPECT_EQ(saved->preBackupTimeoutMS, 1500);
        EXPECT_EQ(saved->postBackupEnabled, 1);
        EXPECT_EQ(saved->postBackupProgram, L"/opt/report");
        EXPECT_EQ(saved->postBackupArgs, L"");
        EXPECT_EQ(saved->postBackupWaitForCompletion, 0);
        EXPECT_EQ(saved->postBackupTimeoutMS, 60000);
    }
}

TEST_F(ScriptPages, ProgramChooserTakesAnyExistingFileAndIgnoresOthers) {
    writeFile(dir / "hooks/mount-disk", "#!/bin/sh\n");
    const TBString chosen = wide(dir / "hooks/mount-disk");
    set.backupName = L"Docs";
    set.preBackupEnabled = 1;
    driver.goToPage(PrePage)
        .click(Run::IDC_CHOOSE_PROGRAM)
        .answerFile(chosen)
        .click(Run::IDC_CHOOSE_PROGRAM)
        .answerFile(wide(dir / "hooks/missing"))
        .click(Run::IDC_CHOOSE_PROGRAM)
        .answerFile(std::nullopt)
        .confirm();
    edit(set);
    ASSERT_EQ(driver.fileRequests.size(), 3u);
    EXPECT_TRUE(driver.fileRequests[0].open);
    EXPECT_EQ(driver.fileRequests[0].flags, OFN_LONGNAMES | OFN_FILEMUSTEXIST);
    EXPECT_EQ(driver.shown[2].control(Run::IDC_PROGRAM)->text, chosen);
    EXPECT_EQ(last().control(Run::IDC_PROGRAM)->text, chosen);
    EXPECT_EQ(set.preBackupProgram, chosen);
}

// ------------------------------------------------------------------ options

TEST_F(Wizard, OptionsPageShowsAndStoresItsChecks) {
    savedSet();
    driver.goToPage(OptionsPage)
        .click(Options::IDC_FOLLOW_LINKS)
        .click(Options::IDC_CREATE_LOG)
        .confirm();
    edit(set);
    const Shown& opened = driver.shown[1];
    EXPECT_EQ(opened.control(Options::IDC_FOLLOW_LINKS)->check, 1);
    EXPECT_EQ(opened.control(Options::IDC_CREATE_LOG)->check, 0);
    EXPECT_EQ(opened.control(Options::IDC_EXCLUDE_FROM_START_ALL)->check, 1);
    const Stored stored(L"4");
    EXPECT_EQ(stored.backupFollowSymLinks, 0);
    EXPECT_EQ(stored.backupCreateLog, 1);
    EXPECT_EQ(stored.backupExcludeFromStartAll, 1);
}

// A control id a page uses but its template lacks is recorded as a fault
// of the page.
TEST_F(Wizard, EveryPageUsesOnlyControlsOfItsTemplate) {
    savedSet();
    BackupSetWizard wizard(&set);
    driver.next().next().next().next().cancel();
    wizard.DoModal();
    ASSERT_EQ(wizard.GetPageCount(), 5);
    for (int page = 0; page < wizard.GetPageCount(); ++page) {
        for (const TBString& fault : wizard.GetPage(page)->faults())
            ADD_FAILURE() << "page " << page << ": " << fault.narrow();
    }
    EXPECT_EQ(last().page, OptionsPage);
}

// ------------------------------------------------------------------- saving

using Saving = Wizard;

TEST_F(Saving, NewSetTakesTheSmallestFreeKeyName) {
    struct Case {
        std::vector<const wchar_t*> taken;
        const wchar_t* expected;
    };
    const std::vector<Case> cases = {{{}, L"0"}, {{L"0", L"1", L"3"}, L"2"}, {{L"1"}, L"0"}};
    int registry = 0;
    for (const Case& c : cases) {
        useRegistry("registry-" + std::to_string(++registry) + ".db");
        for (const wchar_t* key : c.taken) {
            BackupSet other;
            other.backupName = L"Other";
            other.save(key);
        }
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Fresh").confirm();
        edit(fresh);
        SCOPED_TRACE(TBString(c.expected).narrow());
        EXPECT_EQ(fresh.registryKeyName, c.expected);
        EXPECT_EQ(fresh.status.load(), Ready);
        EXPECT_EQ(Stored(c.expected).backupName, L"Fresh");
        EXPECT_EQ(storedKeys().size(), c.taken.size() + 1);
    }
}

TEST_F(Saving, ExistingSetKeepsItsKeyAndEndsReady) {
    savedSet();
    driver.setText(Target::IDC_NAME, L"Holidays").confirm();
    edit(set);
    EXPECT_EQ(set.registryKeyName, L"4");
    EXPECT_EQ(set.status.load(), Ready);
    EXPECT_EQ(Stored(L"4").backupName, L"Holidays");
    EXPECT_EQ(storedKeys(), std::vector<std::string>{"4"});
}

TEST_F(Saving, CancelStoresNothing) {
    savedSet();
    const std::vector<std::string> before = settingsOf(set);
    driver.setText(Target::IDC_NAME, L"Holidays")
        .check(Target::IDC_TARGET_GIVEN, 0)
        .goToPage(SourcePage)
        .setText(Source::IDC_SOURCES, L"/elsewhere")
        .goToPage(OptionsPage)
        .click(Options::IDC_CREATE_LOG)
        .cancel();
    edit(set);
    EXPECT_FALSE(set.modified);
    EXPECT_EQ(set.status.load(), Failed);
    EXPECT_EQ(settingsOf(set), before);
    EXPECT_EQ(settingsOf(Stored(L"4")), before);

    BackupSet fresh;
    driver.setText(Target::IDC_NAME, L"Fresh").cancel();
    edit(fresh);
    EXPECT_FALSE(fresh.modified);
    EXPECT_EQ(fresh.registryKeyName, L"");
    EXPECT_EQ(storedKeys(), std::vector<std::string>{"4"});
}

TEST_F(Saving, OkIsUnavailableUntilTheSetHasAName) {
    BackupSet fresh;
    driver.confirm().setText(Target::IDC_NAME, L"Fresh").confirm();
    edit(fresh);
    EXPECT_FALSE(driver.shown[0].okEnabled);
    EXPECT_FALSE(driver.shown[1].taken);
    EXPECT_FALSE(driver.shown[1].ended);
    EXPECT_TRUE(driver.shown[2].okEnabled);
    EXPECT_TRUE(last().ended);
    EXPECT_EQ(storedKeys(), std::vector<std::string>{"0"});
}

// Only the first page is opened: the others store nothing, so even an entry
// that their saving would normalise stays as it was.
TEST_F(Saving, EditingOnlyTheNameKeepsEveryOtherField) {
    savedSet();
    set.sourceFolders.add(L"/srv//music/");
    set.save(L"4");
    std::vector<std::string> expected = settingsOf(set);
    driver.setText(Target::IDC_NAME, L"Holidays").confirm();
    edit(set);
    ASSERT_TRUE(set.modified);
    set.backupName = L"Photos";
    EXPECT_EQ(settingsOf(set), expected);
    Stored stored(L"4");
    EXPECT_EQ(stored.backupName, L"Holidays");
    stored.backupName = L"Photos";
    EXPECT_EQ(settingsOf(stored), expected);
}

TEST_F(Saving, OpeningEveryPageAndConfirmingKeepsEveryField) {
    savedSet();
    const std::vector<std::string> expected = settingsOf(set);
    driver.next().next().next().next().confirm();
    edit(set);
    ASSERT_TRUE(last().ended);
    EXPECT_TRUE(set.modified);
    EXPECT_EQ(settingsOf(set), expected);
    EXPECT_EQ(settingsOf(Stored(L"4")), expected);
}

// ---------------------------------------------------- a missing target folder

using MissingTarget = Wizard;

TEST_F(MissingTarget, IsMadeAfterSavingWhenThePersonAgreesAndOnlyThen) {
    for (const bool agree : {true, false}) {
        SCOPED_TRACE(agree ? "yes" : "no");
        const std::string folder = dir / (agree ? "made" : "declined");
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Docs")
            .check(Target::IDC_TARGET_GIVEN, 1)
            .setText(Target::IDC_TARGET, wide(folder))
            .confirm()
            .answerQuestion(agree);
        driver.questions.clear();
        edit(fresh);
        ASSERT_EQ(driver.questions.size(), 1u);
        EXPECT_GE(driver.questions[0].indexOf(wide(folder)), 0) << driver.questions[0].narrow();
        EXPECT_EQ(exists(folder), agree);
        EXPECT_EQ(Stored(fresh.registryKeyName.c_str()).targetFolder, wide(folder));
        EXPECT_EQ(theBaseApp.lastRefusal, L"");
    }
}

// Nothing to ask about: the folder is there, the path is relative (it would
// be made wherever the program runs), or the parent is missing (perhaps a
// drive that is not plugged in).
TEST_F(MissingTarget, IsNotAskedAboutWhenItCannotOrNeedNotBeMade) {
    makeDirs(dir / "there");
    for (const std::string& folder :
         {dir / "there", std::string("relative/backups"), dir / "unplugged/backups"}) {
        SCOPED_TRACE(folder);
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Docs")
            .check(Target::IDC_TARGET_GIVEN, 1)
            .setText(Target::IDC_TARGET, wide(folder))
            .confirm();
        edit(fresh);
        EXPECT_TRUE(fresh.modified);
        EXPECT_EQ(fresh.targetFolder, wide(folder));
    }
    EXPECT_TRUE(driver.questions.empty());
    EXPECT_FALSE(exists(dir / "unplugged"));
    EXPECT_FALSE(exists("relative"));
}

}  // namespace
