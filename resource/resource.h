// Identifiers of the resource library's resources: strings, the commands of
// the host's menus and toolbars, dialog templates and pictures. A command's
// string is its prompt: a description, then "\n" and a short tooltip text.
// The look-ups are plain C, so the library can be loaded by whoever needs
// its resources without sharing any class with it.
#pragma once

// Strings.
constexpr unsigned IDS_PRODUCT_TITLE = 101;
constexpr unsigned IDS_BACKUPS_RUNNING = 102;
constexpr unsigned IDS_NO_BACKUP_SETS = 103;
// The backup set wizard: its caption, the captions of the two script pages
// and the labels of their "run the script" checks.
constexpr unsigned IDS_WIZARD_CAPTION = 20000;
constexpr unsigned IDS_PRE_BACKUP_PAGE = 20005;
constexpr unsigned IDS_POST_BACKUP_PAGE = 20006;
constexpr unsigned IDS_RUN_PRE_BACKUP = 20007;
constexpr unsigned IDS_RUN_POST_BACKUP = 20008;

// Dialog templates: the about box and the wizard's pages.
constexpr unsigned IDD_ABOUT = 100;
constexpr unsigned IDD_WIZARD_TARGET = 131;
constexpr unsigned IDD_WIZARD_SOURCE = 132;
constexpr unsigned IDD_WIZARD_OPTIONS = 134;
constexpr unsigned IDD_WIZARD_RUN = 139;

// Pictures (PNG).
constexpr unsigned IDB_ABOUT_BACKGROUND = 250;

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

// The kinds of controls a template holds.
enum UlvControlKind : unsigned {
    UlvStatic = 0,         // a text to read
    UlvEdit = 1,           // one line of text
    UlvMultiLineEdit = 2,  // text of several lines
    UlvButton = 3,         // a push button
    UlvCheckBox = 4,
    UlvComboBox = 5,  // a drop-down list to choose from
    UlvHtml = 6,      // formatted text (line breaks, paragraphs, links)
};

// One control of a template: its id, kind and label (for a button or check
// box its own text, for the others the text that names it to a person).
struct UlvControlTemplate {
    unsigned id;
    unsigned kind;
    const wchar_t* label;
};

// A dialog template: its caption and its controls in tab order.
struct UlvDialogTemplate {
    unsigned id;
    const wchar_t* caption;
    const UlvControlTemplate* controls;
    unsigned count;
};

// The dialog template `id`; null when the library has none.
extern "C" __attribute__((visibility("default"))) const UlvDialogTemplate* ulv_resource_dialog(
    unsigned id);

// The bytes of picture `id` (a PNG file) with their count in `size`; null
// (and size 0) when the library has none.
extern "C" __attribute__((visibility("default"))) const unsigned char* ulv_resource_picture(
    unsigned id, unsigned long* size);
