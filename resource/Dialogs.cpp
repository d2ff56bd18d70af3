// The dialog templates: for each control its id (which the dialog's code
// uses), its kind and the label a person reads.
#include <iterator>

#include "resource/resource.h"

namespace {

constexpr UlvControlTemplate About[] = {
    {1018, UlvStatic, L"Product"},
    {1019, UlvHtml, L"About this program"},
    {1, UlvButton, L"OK"},
};

constexpr UlvControlTemplate Target[] = {
    {1008, UlvEdit, L"Name of the backup set"},
    {1014, UlvCheckBox, L"Back up into this folder (else into the default target)"},
    {1005, UlvEdit, L"Target folder"},
    {1006, UlvButton, L"Choose…"},
    {1009, UlvComboBox, L"Subfolder for each backup"},
    {1010, UlvCheckBox, L"Recreate the full path of each source folder"},
    {1011, UlvCheckBox, L"Keep only a number of backup subfolders"},
    {1012, UlvEdit, L"Number of backup subfolders to keep"},
    {1013, UlvCheckBox, L"Add a folder named after this computer"},
    {1015, UlvCheckBox, L"Add a folder named after the backup set"},
};

constexpr UlvControlTemplate Source[] = {
    {1004, UlvMultiLineEdit, L"Source folders (one per line; * and ? allowed)"},
    {1013, UlvButton, L"Add a folder…"},
    {1005, UlvMultiLineEdit, L"Back up only files named (one pattern per line; empty: all)"},
    {1006, UlvMultiLineEdit, L"Leave out files named (one pattern per line)"},
    {1007, UlvMultiLineEdit, L"Leave out folders named (one pattern per line)"},
};

constexpr UlvControlTemplate Run[] = {
    {1026, UlvCheckBox, L"Run a program"},
    {1007, UlvEdit, L"Program"},
    {1025, UlvButton, L"Choose…"},
    {1008, UlvEdit, L"Arguments"},
    {1027, UlvStatic, L"Arguments are split as a shell would, without expanding anything."},
    {1022, UlvCheckBox, L"Wait until the program has ended"},
    {1023, UlvCheckBox, L"Go on even when the program reports a failure"},
    {1024, UlvCheckBox, L"Stop waiting after a time"},
    {1019, UlvEdit, L"Time to wait"},
    {1028, UlvStatic, L"milliseconds"},
};

constexpr UlvControlTemplate Options[] = {
    {1016, UlvCheckBox, L"Follow links to folders"},
    {1017, UlvCheckBox, L"Write a log of each backup"},
    {1018, UlvCheckBox, L"Leave this set out when all sets are started"},
};

template <size_t N>
constexpr UlvDialogTemplate dialog(unsigned id, const wchar_t* caption,
                                   const UlvControlTemplate (&controls)[N]) {
    return {id, caption, controls, static_cast<unsigned>(N)};
}

constexpr UlvDialogTemplate Dialogs[] = {
    dialog(IDD_ABOUT, L"About Ulvaren", About),
    dialog(IDD_WIZARD_TARGET, L"Name and Target", Target),
    dialog(IDD_WIZARD_SOURCE, L"Sources", Source),
    dialog(IDD_WIZARD_RUN, L"Program", Run),
    dialog(IDD_WIZARD_OPTIONS, L"Options", Options),
};

}  // namespace

extern "C" const UlvDialogTemplate* ulv_resource_dialog(unsigned id) {
    for (const UlvDialogTemplate& entry : Dialogs) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}
