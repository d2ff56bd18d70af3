#include "resource/resource.h"
#include "ui/BackupSetWizard.h"
#include "ui/BackupSetWizardPages.h"

BackupSetWizardOptions::BackupSetWizardOptions()
    : CGenericPropertyPage(nullptr, IDD_WIZARD_OPTIONS) {
    for (const UINT code : {EN_CHANGE, CBN_SELCHANGE, BN_CLICKED})
        onCommandRange(1000, 2000, code, [this](UINT) { onChange(); });
}

BackupSetWizardOptions::~BackupSetWizardOptions() = default;

void BackupSetWizardOptions::DoDataExchange(CDataExchange* pDX) {
    CGenericPropertyPage::DoDataExchange(pDX);
    DDX_Check(pDX, IDC_FOLLOW_LINKS, followLinks_);
    DDX_Check(pDX, IDC_CREATE_LOG, createLog_);
    DDX_Check(pDX, IDC_EXCLUDE_FROM_START_ALL, excludeFromStartAll_);
}

void BackupSetWizardOptions::LoadData() {
    const BackupSet& set = BackupSetWizard::backupSetOf(*this);
    followLinks_ = set.backupFollowSymLinks != 0 ? 1 : 0;
    createLog_ = set.backupCreateLog != 0 ? 1 : 0;
    excludeFromStartAll_ = set.backupExcludeFromStartAll != 0 ? 1 : 0;
}

void BackupSetWizardOptions::SaveData() {
    BackupSet& set = BackupSetWizard::backupSetOf(*this);
    set.backupFollowSymLinks = followLinks_;
    set.backupCreateLog = createLog_;
    set.backupExcludeFromStartAll = excludeFromStartAll_;
    set.modified = true;
}

void BackupSetWizardOptions::onChange() {
    UpdateData(TRUE);
    SetModified(TRUE);
}
