// The dialogs and pictures of the resource library, handed to the UI
// stand-in's registries when the library is loaded. The library exports
// plain C look-ups, so nothing but this file knows both sides' shapes.
#include <cstdint>
#include <vector>

#include "base/ULVbase.h"
#include "mfc/DialogTemplate.h"
#include "mfc/MfcExt.h"
#include "resource/resource.h"

namespace {

// The dialogs this application shows, and the pictures they draw.
constexpr unsigned Dialogs[] = {IDD_ABOUT, IDD_WIZARD_TARGET, IDD_WIZARD_SOURCE, IDD_WIZARD_RUN,
                                IDD_WIZARD_OPTIONS};
constexpr unsigned Pictures[] = {IDB_ABOUT_BACKGROUND};

// The client area every page is drawn in, in the drivers' units.
constexpr long DialogWidth = 420;
constexpr long DialogHeight = 300;

ControlKind kindOf(unsigned kind) {
    switch (kind) {
        case UlvEdit:
            return ControlKind::Edit;
        case UlvMultiLineEdit:
            return ControlKind::MultiLineEdit;
        case UlvButton:
            return ControlKind::Button;
        case UlvCheckBox:
            return ControlKind::CheckBox;
        case UlvComboBox:
            return ControlKind::ComboBox;
        case UlvHtml:
            return ControlKind::Html;
        default:
            return ControlKind::Static;
    }
}

}  // namespace

void ULVbase::registerResources(HINSTANCE library) {
    using DialogLookup = const UlvDialogTemplate* (*)(unsigned);
    using PictureLookup = const unsigned char* (*)(unsigned, unsigned long*);
    const auto dialogs =
        reinterpret_cast<DialogLookup>(GetProcAddress(library, "ulv_resource_dialog"));
    const auto pictures =
        reinterpret_cast<PictureLookup>(GetProcAddress(library, "ulv_resource_picture"));
    for (const unsigned id : Dialogs) {
        const UlvDialogTemplate* found = dialogs ? dialogs(id) : nullptr;
        if (found == nullptr)
            continue;
        DialogTemplate dialog;
        dialog.id = id;
        dialog.caption = found->caption;
        dialog.width = DialogWidth;
        dialog.height = DialogHeight;
        for (unsigned i = 0; i < found->count; ++i) {
            ControlRecord control;
            control.id = static_cast<int>(found->controls[i].id);
            control.kind = kindOf(found->controls[i].kind);
            control.label = found->controls[i].label;
            dialog.controls.push_back(control);
        }
        AfxRegisterDialogTemplate(dialog);
    }
    for (const unsigned id : Pictures) {
        unsigned long size = 0;
        const unsigned char* bytes = pictures ? pictures(id, &size) : nullptr;
        if (bytes != nullptr)
            AfxRegisterPicture(id, std::vector<uint8_t>(bytes, bytes + size));
    }
}
