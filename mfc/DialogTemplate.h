// Dialog templates: what a dialog is built from. A dialog's controls are plain
// records (kind, label, value, enabled), so any driver (a test script, the
// terminal, a web page) can show and change them without knowing the dialog's
// class. The resource library registers its templates at load; tests register
// their own.
#pragma once

#include <optional>
#include <vector>

#include "foundation/TBString.h"
#include "foundation/TBStringArray.h"

enum class ControlKind {
    Static,         // a label; `label` is its text
    Edit,           // one line of text in `text`
    MultiLineEdit,  // lines of text in `text`, separated by "\r\n"
    Button,         // a push button; `label` is its caption
    CheckBox,       // `check` 0 off, 1 on; `label` is its caption
    ComboBox,       // a drop-down list: `items`, `selection` (-1 none), `text` the chosen item
    Picture,        // an image drawn by the dialog
    Html,           // formatted text; `label` holds the HTML
    Group,          // a frame around other controls; `label` is its title
};

// One control of a dialog. `label` is what a person reads on or beside the
// control (a button's caption, an edit field's prompt); `text` is the value
// typed into an edit field or shown by a combo box.
struct ControlRecord {
    int id = 0;
    ControlKind kind = ControlKind::Static;
    terbin::TBString label;
    terbin::TBString text;
    int check = 0;
    int selection = -1;
    terbin::TBStringArray items;
    bool enabled = true;
    bool visible = true;
};

// Whether the window text of a control of `kind` is its value (`text`) rather
// than its caption (`label`).
inline bool windowTextIsValue(ControlKind kind) {
    return kind == ControlKind::Edit || kind == ControlKind::MultiLineEdit ||
           kind == ControlKind::ComboBox;
}

struct DialogTemplate {
    unsigned id = 0;
    terbin::TBString caption;
    // The client area, in the units the drivers draw in.
    long width = 0;
    long height = 0;
    std::vector<ControlRecord> controls;
};

// Makes `dialogTemplate` the template of its id, replacing an earlier one.
// Any thread.
void AfxRegisterDialogTemplate(DialogTemplate dialogTemplate);
// Forgets the template `id`; nothing happens when there is none.
void AfxRemoveDialogTemplate(unsigned id);
// A copy of the template `id`; nothing when none is registered.
std::optional<DialogTemplate> AfxFindDialogTemplate(unsigned id);
