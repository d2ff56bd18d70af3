// The backup set wizard as a person works it: through the scripted dialog
// driver, over the resource library's real templates, with the set saved
// by the application's edit command into a registry of the test's own.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "backupset/BackupSetFields.h"
#include "base/ULVbase.h"
#include "resource/resource.h"
#include "support/FaultySystem.h"
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
using Names = std::vector<std::string>;

constexpr int SourcePage = 1;
constexpr int PrePage = 2;
constexpr int PostPage = 3;
// Stands for the sheet's OK button among the controls of a rule table.
constexpr int OkButton = 0;

TBString wide(const std::string& text) {
    return TBString::fromBytes(text);
}

// The names of the settings in which `a` and `b` differ.
Names differences(const BackupSet& a, const BackupSet& b) {
    Names out;
    forEachSetting([&](const auto& setting) {
        if (!(a.*setting.field == b.*setting.field))
            out.push_back(TBString(setting.name).narrow());
    });
    return out;
}

// A set as the registry holds it under `key`.
struct Stored : BackupSet {
    explicit Stored(const TBString& key) { load(key); }
};

// After one change on the sheet, which groups of controls are enabled: one
// character a group, '1' all, '0' none, '?' some.
struct RuleRow {
    std::function<void()> change;
    std::string enabled;
};

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
    // `set` with every setting away from its default (so no subfolder, with a
    // count of 11) and an existing target, saved under "4", its last run failed.
    void saveSetWithEverySettingChanged() {
        set = BackupSet();
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
    // Works `rows` on `set` from the sheet's start, then confirms; `groups`
    // are the controls each row's `enabled` speaks of.
    void expectRules(const std::vector<RuleRow>& rows,
                     const std::vector<std::vector<int>>& groups) {
        for (const RuleRow& row : rows) row.change();
        driver.confirm();
        edit(set);
        ASSERT_EQ(driver.shown.size(), rows.size() + 2);
        for (size_t i = 0; i < rows.size(); ++i) {
            const auto& shown = driver.shown[i + 1];
            std::string enabled;
            for (const std::vector<int>& group : groups) {
                int on = 0;
                for (const int id : group)
                    on += id == OkButton ? shown.okEnabled : shown.control(id)->enabled;
                enabled += on == 0 ? '0' : on == static_cast<int>(group.size()) ? '1' : '?';
            }
            EXPECT_EQ(enabled, rows[i].enabled) << shown.step.narrow() << " (row " << i << ")";
        }
    }

    TempDir dir;
    WizardEditor editor;
    ScriptedDialogDriver driver;
    BackupSet set;
};

// ------------------------------------------------------------ name and target

// Confirmed on the first page: a count that is no number or below one, or a
// name that is no folder name, keeps the sheet open on the page, naming the value, until
// corrected. The pages never opened store nothing, so a source entry that
// the sources page would normalise stays as it was; the set keeps its key.
TEST_F(Wizard, FirstPageRefusesWhatItCannotStoreAndChangesNothingElse) {
    saveSetWithEverySettingChanged();
    set.sourceFolders.add(L"/srv//music/");
    set.backupType = DateSubfolder;
    set.save(L"4");
    BackupSet expected = set;
    expected.backupName = L"Photos 2024";
    expected.backupFolderCount = 6;
    driver.setText(Target::IDC_COUNT, L"five").confirm().setText(Target::IDC_COUNT, L"0").confirm();
    driver.setText(Target::IDC_COUNT, L" 6 ");
    driver.setText(Target::IDC_NAME, L"Photos/2024").confirm().next();
    driver.setText(Target::IDC_NAME, L"Photos 2024").confirm();
    edit(set);
    const std::vector<std::pair<size_t, const wchar_t*>> refusals = {
        {2, L"\"Number of backup subfolders to keep\""},
        {4, L"must be 1 or more"},
        {7, L"Photos/2024"},
        {8, L"Photos/2024"}};
    for (const auto& [step, named] : refusals) {
        const auto& refused = driver.shown.at(step);
        SCOPED_TRACE(refused.step.narrow());
        EXPECT_TRUE(!refused.taken && !refused.ended && refused.page == 0);
        EXPECT_GE(refused.message.indexOf(named), 0) << refused.message.narrow();
    }
    EXPECT_EQ(set.registryKeyName, L"4");
    EXPECT_EQ(set.status.load(), Ready);
    EXPECT_EQ(differences(Stored(L"4"), expected), Names{});
}

// From a new set, each change, then confirmed with a target typed but its
// check off and the limit switched off: neither the target nor the count is
// stored, whatever their fields hold, and nothing is asked about the target.
// Groups: target field, limit check, count field, OK.
TEST_F(Wizard, TargetPageRulesFollowEveryChange) {
    const TBString typed = wide(dir / "typed");
    expectRules({{[&] { driver.goToPage(0); }, "0110"},  // already there: as it opens
                 {[&] { driver.setText(Target::IDC_NAME, L"Docs"); }, "0111"},
                 {[&] { driver.check(Target::IDC_TARGET_GIVEN, 1); }, "1110"},
                 {[&] { driver.setText(Target::IDC_TARGET, typed); }, "1111"},
                 {[&] { driver.select(Target::IDC_SCHEME, NoSubfolder); }, "1001"},
                 // Refused while disabled: the count comes back with the scheme.
                 {[&] { driver.check(Target::IDC_LIMIT_COUNT, 0); }, "1001"},
                 {[&] { driver.select(Target::IDC_SCHEME, DateTimeSubfolder); }, "1111"},
                 {[&] { driver.setText(Target::IDC_NAME, L""); }, "1110"},
                 {[&] { driver.setText(Target::IDC_NAME, L"D"); }, "1111"},
                 {[&] { driver.setText(Target::IDC_TARGET, L""); }, "1110"},
                 {[&] { driver.setText(Target::IDC_TARGET, typed); }, "1111"},
                 {[&] { driver.check(Target::IDC_TARGET_GIVEN, 0); }, "0111"},
                 {[&] { driver.setText(Target::IDC_COUNT, L"9"); }, "0111"},
                 {[&] { driver.click(Target::IDC_LIMIT_COUNT); }, "0101"}},
                {{Target::IDC_TARGET}, {Target::IDC_LIMIT_COUNT}, {Target::IDC_COUNT}, {OkButton}});
    EXPECT_TRUE(driver.questions.empty());
    const Stored stored(set.registryKeyName);
    EXPECT_EQ(stored.targetFolder, L"");
    EXPECT_EQ(stored.backupFolderCount, 0);
}

// ------------------------------------------------------------------ sources

// Three lines with an empty one between store two entries, each normalised;
// a chosen folder is added unless listed already but for letter case.
TEST_F(Wizard, SourcesPageStoresEachNonEmptyLineNormalised) {
    makeDirs(dir / "Photos");
    makeDirs(dir / "Music");
    const TBString typed = L"/data//photos/\r\n\r\n" + wide(dir / "MUSIC");
    set.backupName = L"Docs";
    driver.goToPage(SourcePage).setText(Source::IDC_SOURCES, typed);
    driver.click(Source::IDC_ADD_SOURCE).answerFolder(wide(dir / "Music/"));
    driver.click(Source::IDC_ADD_SOURCE).answerFolder(wide(dir / "Photos/"));
    driver.setText(Source::IDC_EXCLUDE_FOLDERS, L".cache/\n\nthumbs\r").confirm();
    edit(set);
    EXPECT_EQ(driver.folderRequests.at(0).flags, FOLDER_MUST_EXIST);
    const Stored stored(set.registryKeyName);
    EXPECT_EQ(stored.sourceFolders,
              (TBStringArray{L"/data/photos", wide(dir / "MUSIC"), wide(dir / "Photos")}));
    EXPECT_EQ(stored.excludeFolders, (TBStringArray{L".cache", L"thumbs"}));
}

// ------------------------------------------------------------------ scripts

// A new set: the pre-backup script waits by default, the post-backup one not.
// Groups: program and wait, time-out check and status, time-out field. The
// program chooser takes an existing file; a typed program is kept as typed,
// for it is a command, not a path.
TEST_F(Wizard, ScriptPagesFollowTheirRulesAndStoreTheirOwnScript) {
    writeFile(dir / "hooks/mount-disk", "#!/bin/sh\n");
    const TBString program = wide(dir / "hooks/mount-disk");
    set.backupName = L"Docs";
    expectRules(
        {{[&] { driver.goToPage(PrePage); }, "000"},
         {[&] { driver.check(Run::IDC_RUN, 1); }, "110"},
         {[&] { driver.click(Run::IDC_CHOOSE_PROGRAM).answerFile(program); }, "110"},
         // A missing file counts as cancelled.
         {[&] { driver.click(Run::IDC_CHOOSE_PROGRAM).answerFile(program + L".gone"); }, "110"},
         {[&] { driver.check(Run::IDC_USE_TIMEOUT, 1); }, "111"},
         {[&] { driver.check(Run::IDC_WAIT, 0); }, "100"},
         {[&] { driver.check(Run::IDC_WAIT, 1); }, "111"},
         {[&] { driver.click(Run::IDC_RUN); }, "000"},
         {[&] { driver.goToPage(PostPage); }, "000"},
         {[&] { driver.check(Run::IDC_RUN, 1); }, "100"},
         {[&] { driver.check(Run::IDC_WAIT, 1); }, "110"},
         {[&] { driver.setText(Run::IDC_PROGRAM, L"/opt//report"); }, "110"}},
        {{Run::IDC_CHOOSE_PROGRAM, Run::IDC_WAIT, Run::IDC_PROGRAM, Run::IDC_ARGUMENTS,
          Run::IDC_ARGUMENTS_NOTE},
         {Run::IDC_USE_TIMEOUT, Run::IDC_IGNORE_STATUS},
         {Run::IDC_TIMEOUT, Run::IDC_TIMEOUT_UNIT}});
    EXPECT_EQ(driver.shown[1].pageCaption, AfxLoadString(IDS_PRE_BACKUP_PAGE));
    EXPECT_EQ(driver.shown[1].control(Run::IDC_RUN)->label, AfxLoadString(IDS_RUN_PRE_BACKUP));
    EXPECT_EQ(driver.shown[9].pageCaption, AfxLoadString(IDS_POST_BACKUP_PAGE));
    EXPECT_EQ(driver.shown[9].control(Run::IDC_RUN)->label, AfxLoadString(IDS_RUN_POST_BACKUP));
    const Stored stored(set.registryKeyName);
    EXPECT_EQ(stored.preBackupProgram, program);
    EXPECT_EQ(stored.postBackupProgram, L"/opt//report");
    EXPECT_TRUE(stored.preBackupEnabled == 0 && stored.postBackupEnabled == 1 &&
                stored.postBackupWaitForCompletion == 1);
}

// ------------------------------------------------------------------- saving

// From no "BackupSets" key at all, then with keys taken; a new set cancelled
// first takes none.
TEST_F(Wizard, NewSetTakesTheSmallestFreeKeyName) {
    const std::vector<std::pair<std::vector<const wchar_t*>, const wchar_t*>> cases = {
        {{}, L"0"}, {{L"0", L"1", L"3"}, L"2"}, {{L"1"}, L"0"}};
    for (const auto& [taken, expected] : cases) {
        useRegistry(TBString(expected).narrow() + std::to_string(taken.size()) + ".db");
        for (const wchar_t* key : taken) BackupSet().save(key);
        BackupSet cancelled;
        driver.setText(Target::IDC_NAME, L"Cancelled").cancel();
        edit(cancelled);
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Fresh").confirm();
        edit(fresh);
        EXPECT_EQ(fresh.registryKeyName, expected);
        EXPECT_EQ(Stored(expected).backupName, L"Fresh");
    }
}

// Cancelled after changes, or confirmed after opening every page unchanged:
// either way the set and the registry hold what they held, down to a count
// kept while its check is on but disabled for no subfolder.
TEST_F(Wizard, CancelOrConfirmingUnchangedPagesKeepsEveryField) {
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "confirmed");
        saveSetWithEverySettingChanged();
        const BackupSet before = set;
        if (cancel) {
            driver.setText(Target::IDC_NAME, L"Holidays").check(Target::IDC_TARGET_GIVEN, 0);
            driver.goToPage(SourcePage).setText(Source::IDC_SOURCES, L"/elsewhere").cancel();
        } else {
            driver.next().next().next().next().confirm();
        }
        edit(set);
        EXPECT_EQ(set.status.load(), cancel ? Failed : Ready);
        EXPECT_EQ(differences(set, before), Names{});
        EXPECT_EQ(differences(Stored(L"4"), before), Names{});
    }
}

// ---------------------------------------------------- a missing target folder

// It is asked about only with a full path whose parent is there: a relative
// path would be made wherever the program runs, and a missing parent may be
// a drive that is not plugged in. One the system refuses to make when the set
// is saved is reported.
TEST_F(Wizard, MissingTargetIsMadeAfterSavingOnlyWhenThePersonAgrees) {
    makeDirs(dir / "there");
    FaultySystem faults;
    faults.fail(FaultySystem::Mkdir, "refused", EACCES);
    // Folder, answer to the question when it is asked, whether it is there after.
    const std::vector<std::tuple<std::string, std::optional<bool>, bool>> cases = {
        {dir / "agreed", true, true},
        {dir / "declined", false, false},
        {dir / "refused", true, false},
        {dir / "there", std::nullopt, true},
        {"relative/backups", std::nullopt, false},
        {dir / "gone/backups", std::nullopt, false}};
    for (const auto& [folder, answer, made] : cases) {
        SCOPED_TRACE(folder);
        BackupSet fresh;
        driver.setText(Target::IDC_NAME, L"Docs").check(Target::IDC_TARGET_GIVEN, 1);
        driver.setText(Target::IDC_TARGET, wide(folder)).confirm();
        if (answer)
            driver.answerQuestion(*answer);
        driver.questions.clear();
        edit(fresh);
        EXPECT_EQ(driver.questions.size() == 1 && driver.questions[0].indexOf(wide(folder)) >= 0,
                  answer.has_value());
        EXPECT_EQ(exists(folder), made);
        EXPECT_EQ(theBaseApp.lastRefusal.indexOf(wide(folder)) >= 0,
                  answer.value_or(false) && !made);
    }
}

}  // namespace
