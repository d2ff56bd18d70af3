// Identifiers of the resource library's resources: strings and the commands
// of the host's menus and toolbars. A command's string is its prompt: a
// description, then "\n" and a short tooltip text.
#pragma once

// Strings.
constexpr unsigned IDS_PRODUCT_TITLE = 101;
constexpr unsigned IDS_BACKUPS_RUNNING = 102;
constexpr unsigned IDS_NO_BACKUP_SETS = 103;

// Commands.
constexpr unsigned ID_BACKUP_START = 32771;
constexpr unsigned ID_BACKUP_STOP = 32772;
constexpr unsigned ID_START_SELECTED = 32773;
constexpr unsigned ID_STOP_SELECTED = 32774;
constexpr unsigned ID_PAUSE_SELECTED = 32775;
constexpr unsigned ID_PAUSE_ALL = 32776;
constexpr unsigned ID_ADD_BACKUP_SET = 32777;
constexpr unsigned ID_EDIT_BACKUP_SET = 32778;
constexpr unsigned ID_REMOVE_BACKUP_SET = 32779;
constexpr unsigned ID_VIEW_LOG = 32780;

// The string resource `id`; null when the library has none. The texts live as
// long as the library stays loaded.
extern "C" __attribute__((visibility("default"))) const wchar_t* ulv_resource_string(unsigned id);
