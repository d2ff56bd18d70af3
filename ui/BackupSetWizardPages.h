// The pages of the backup set wizard (ui/BackupSetWizard.h). Each page
// copies its part of the set into members when the sheet starts (LoadData),
// exchanges the members with its controls (DoDataExchange) and copies them
// back into the set on confirmation (SaveData, which also sets the set's
// modified flag). Every notification of a control 1000..2000 reaches one
// handler per notification code; a change first reads the controls back,
// which re-applies the page's enabling rules.
#pragma once

#include "backupset/BackupSet.h"
#include "foundation/TBString.h"
#include "mfc/MfcExt.h"

// Name, target folder and backup subfolders (template 131). The sheet's OK
// is available only with a name and, when a target of its own is asked for,
// a target folder.
class BackupSetWizardTarget : public CGenericPropertyPage {
public:
    static constexpr int IDC_NAME = 1008;
    static constexpr int IDC_TARGET_GIVEN = 1014;
    static constexpr int IDC_TARGET = 1005;
    static constexpr int IDC_CHOOSE_TARGET = 1006;
    static constexpr int IDC_SCHEME = 1009;
    static constexpr int IDC_FULL_PATH = 1010;
    static constexpr int IDC_LIMIT_COUNT = 1011;
    static constexpr int IDC_COUNT = 1012;
    static constexpr int IDC_ADD_COMPUTER = 1013;
    static constexpr int IDC_ADD_SET_FOLDER = 1015;

    BackupSetWizardTarget();
    ~BackupSetWizardTarget() override;

    void DoDataExchange(CDataExchange* pDX) override;
    // Also refuses to be left with a name that cannot be a folder name.
    BOOL OnKillActive() override;
    // Stores the values; then, when the target folder given is missing,
    // asks whether to make it once the set is saved.
    BOOL OnApply() override;
    void LoadData() override;
    void SaveData() override;

private:
    void applyRules();
    void onChange();
    void onClick(UINT id);
    void chooseTarget();
    void askToCreateMissingTarget();

    terbin::TBString name_;
    int targetGiven_ = 0;
    terbin::TBString target_;
    // Index into the scheme list: the set's BackupType.
    int scheme_ = DateSubfolder;
    int fullPath_ = 0;
    int limitCount_ = 0;
    int count_ = 0;
    int addComputer_ = 0;
    int addSetFolder_ = 0;
    CComboBox schemeList_;
};

// Source folders and the three exclusion lists, one entry per line
// (template 132).
class BackupSetWizardSource : public CGenericPropertyPage {
public:
    static constexpr int IDC_SOURCES = 1004;
    static constexpr int IDC_INCLUDE_FILES = 1005;
    static constexpr int IDC_EXCLUDE_FILES = 1006;
    static constexpr int IDC_EXCLUDE_FOLDERS = 1007;
    static constexpr int IDC_ADD_SOURCE = 1013;

    BackupSetWizardSource();
    ~BackupSetWizardSource() override;

    void DoDataExchange(CDataExchange* pDX) override;
    void LoadData() override;
    void SaveData() override;

private:
    void onChange();
    void onClick(UINT id);
    void addSourceFolder();

    terbin::TBString sources_;
    terbin::TBString includeFiles_;
    terbin::TBString excludeFiles_;
    terbin::TBString excludeFolders_;
};

// The program run before or after a backup (template 139, once for each).
class BackupSetWizardRun : public CGenericPropertyPage {
public:
    enum Script { PreBackup = 0, PostBackup = 1 };

    static constexpr int IDC_RUN = 1026;
    static constexpr int IDC_PROGRAM = 1007;
    static constexpr int IDC_ARGUMENTS = 1008;
    static constexpr int IDC_CHOOSE_PROGRAM = 1025;
    static constexpr int IDC_WAIT = 1022;
    static constexpr int IDC_IGNORE_STATUS = 1023;
    static constexpr int IDC_USE_TIMEOUT = 1024;
    static constexpr int IDC_TIMEOUT = 1019;
    static constexpr int IDC_ARGUMENTS_NOTE = 1027;
    static constexpr int IDC_TIMEOUT_UNIT = 1028;

    // The page of `script`; its tab caption is string 20005 or 20006.
    explicit BackupSetWizardRun(Script script);
    ~BackupSetWizardRun() override;

    // Labels the run check (string 20007 or 20008), then fills the controls.
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void LoadData() override;
    void SaveData() override;

private:
    void applyRules();
    void onChange();
    void onClick(UINT id);
    void chooseProgram();

    const Script script_;
    int enabled_ = 0;
    terbin::TBString program_;
    terbin::TBString arguments_;
    int wait_ = 0;
    int ignoreStatus_ = 0;
    int useTimeout_ = 0;
    int timeoutMs_ = 0;
};

// Links, log and "start all" (template 134).
class BackupSetWizardOptions : public CGenericPropertyPage {
public:
    static constexpr int IDC_FOLLOW_LINKS = 1016;
    static constexpr int IDC_CREATE_LOG = 1017;
    static constexpr int IDC_EXCLUDE_FROM_START_ALL = 1018;

    BackupSetWizardOptions();
    ~BackupSetWizardOptions() override;

    void DoDataExchange(CDataExchange* pDX) override;
    void LoadData() override;
    void SaveData() override;

private:
    void onChange();

    int followLinks_ = 0;
    int createLog_ = 0;
    int excludeFromStartAll_ = 0;
};
