// The backup set wizard: the property sheet in which a person creates or
// changes one backup set, and the editor that runs it for the application
// (ULVbase::editBackupSet). Its pages are in ui/BackupSetWizardPages.h.
//
// Values move between the set and the pages only at two moments: every
// page loads the set's fields when the sheet starts, and the pages the
// person opened store theirs when the sheet is confirmed. A cancelled sheet
// writes nothing into the set.
#pragma once

#include "backupset/BackupSet.h"
#include "base/BackupSetEditor.h"
#include "foundation/TBString.h"
#include "mfc/MfcExt.h"

class BackupSetWizard : public CGenericPropertySheet {
public:
    // A tabbed sheet (caption string 20000) over `set`, which the caller
    // keeps alive while the sheet lives. Its pages, in order: name and
    // target, sources, pre-backup script, post-backup script, options.
    explicit BackupSetWizard(BackupSet* set);
    ~BackupSetWizard() override;

    // The set being edited.
    BackupSet& backupSet() const { return *set_; }
    // The set edited by the sheet of `page`.
    static BackupSet& backupSetOf(const CGenericPropertyPage& page);

    // The target folder the person agreed to have made when the set is
    // saved; empty when none is to be made.
    const terbin::TBString& folderToCreate() const { return folderToCreate_; }
    void setFolderToCreate(const terbin::TBString& path) { folderToCreate_ = path; }

private:
    BackupSet* set_;
    terbin::TBString folderToCreate_;
};

// Creates and changes sets for the application through the wizard, shown
// modally by the installed dialog driver. Install it in
// ULVbase::backupSetEditor; user-interface thread only.
class WizardEditor : public BackupSetEditor {
public:
    // Runs the wizard over `set` with the library's own module state and
    // resources in force.
    void edit(BackupSet& set) override;
    // Makes the target folder the person agreed to in the last edit (only
    // the folder itself, never a missing parent). Empty, or why it could not
    // be made.
    terbin::TBString saved(const BackupSet& set) override;

private:
    terbin::TBString folderToCreate_;
};
