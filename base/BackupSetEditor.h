// How the application lets a person create or change a backup set. The
// editor lies above the application core (the wizard, in ui/); a hosting
// program that shows windows installs one in ULVbase::backupSetEditor.
#pragma once

#include "backupset/BackupSet.h"

class BackupSetEditor {
public:
    virtual ~BackupSetEditor() = default;

    // Shows `set` to the person, modally, on the user-interface thread. When
    // they confirm, the edited values are stored into `set` and its modified
    // flag is set; when they cancel, `set` keeps every value it had.
    virtual void edit(BackupSet& set) = 0;
    // Called once the set confirmed in the last edit has been saved, to do
    // what the person asked for beyond the set's values (making its target
    // folder, say). Empty, or what could not be done, for the person to read.
    virtual terbin::TBString saved(const BackupSet& /*set*/) { return {}; }
};
