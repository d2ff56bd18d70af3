#include "resource/resource.h"

namespace {

struct StringResource {
    unsigned id;
    const wchar_t* text;
};

constexpr StringResource strings[] = {
    {IDS_PRODUCT_TITLE, L"Ulvaren"},
    {IDS_BACKUPS_RUNNING,
     L"Backups are still running. Stop them or wait until they have finished before you "
     L"close Ulvaren."},
    {IDS_NO_BACKUP_SETS, L"There are no backup sets yet. Add one to start backing up."},
    {IDS_WIZARD_CAPTION, L"Backup Set"},
    {IDS_PRE_BACKUP_PAGE, L"Before the Backup"},
    {IDS_POST_BACKUP_PAGE, L"After the Backup"},
    {IDS_RUN_PRE_BACKUP, L"Run a program before the backup starts"},
    {IDS_RUN_POST_BACKUP, L"Run a program after the backup has ended"},
    {ID_BACKUP_START, L"Start all backup sets\nStart all"},
    {ID_BACKUP_STOP, L"Stop all running backups\nStop all"},
    {ID_START_SELECTED, L"Start the selected backup set\nStart"},
    {ID_STOP_SELECTED, L"Stop the selected backup set\nStop"},
    {ID_PAUSE_SELECTED, L"Pause or resume the selected backup set\nPause"},
    {ID_PAUSE_ALL, L"Pause or resume all running backups\nPause all"},
    {ID_ADD_BACKUP_SET, L"Create a new backup set\nAdd"},
    {ID_EDIT_BACKUP_SET, L"Change the selected backup set\nEdit"},
    {ID_REMOVE_BACKUP_SET, L"Remove the selected backup set\nRemove"},
    {ID_VIEW_LOG, L"Show the log of the selected backup set's last run\nView log"},
};

}  // namespace

extern "C" const wchar_t* ulv_resource_string(unsigned id) {
    for (const StringResource& entry : strings) {
        if (entry.id == id)
            return entry.text;
    }
    return nullptr;
}
