// The extension classes the system's dialogs build on: a property sheet that
// owns its pages and runs their load and save, pages with a caption and a
// changed mark, the folder chooser, formatted and coloured static text, and
// pictures drawn as a dialog's background.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/TBString.h"
#include "mfc/afxdlgs.h"

class CGenericPropertyPage;

// Folder chooser flag: the chosen folder must exist.
constexpr UINT FOLDER_MUST_EXIST = 1;

// A property sheet that loads every page's values when it starts and lets
// only the pages the person opened save theirs on OK. A page never opened
// writes nothing, so its fields stay exactly as they were; Cancel saves
// nothing at all.
class CGenericPropertySheet : public CPropertySheet {
public:
    // `wizard`: the pages are filled in order and Finish sits on the last one
    // (see ModalSession); false gives a tabbed sheet. `captionId`: a string
    // of the resource library.
    CGenericPropertySheet(bool wizard, UINT captionId, CWnd* parent = nullptr);
    // Destroys the pages handed over with AddPage(page, true).
    ~CGenericPropertySheet() override;

    using CPropertySheet::AddPage;
    // Appends `page`, makes this its sheet and, when `owned`, takes it over.
    void AddPage(CGenericPropertyPage* page, bool owned);
    // Enables or disables OK; while it is disabled the sheet cannot be
    // confirmed.
    void EnableOKButton(bool enable) { okEnabled_ = enable; }

    // Runs LoadData of every page, then the base's.
    BOOL OnInitDialog() override;

private:
    std::vector<CGenericPropertyPage*> owned_;
};

// A page of a CGenericPropertySheet. LoadData copies the edited object's
// fields into the page's members; SaveData copies them back (run on OK, for
// opened pages only).
class CGenericPropertyPage : public CPropertyPage {
public:
    // `sheet` may be null (AddPage sets it); `captionId` a string of the
    // resource library (0: the template's caption); `flags`: none are defined
    // yet, pass 0.
    CGenericPropertyPage(CGenericPropertySheet* sheet, UINT templateId, UINT captionId = 0,
                         UINT flags = 0);

    // The tab caption: string `stringId` of the resource library; an unknown
    // string leaves the caption as it is.
    void SetCaption(UINT stringId);
    void SetCaption(const terbin::TBString& caption) { setCaption(caption); }
    CGenericPropertySheet* GetSheet() const { return sheet_; }

    // Runs SaveData. TRUE.
    BOOL OnApply() override;

    virtual void LoadData();
    virtual void SaveData();

private:
    friend class CGenericPropertySheet;
    CGenericPropertySheet* sheet_;
};

// The folder chooser: asks the installed driver for a folder.
class CFolderDialog {
public:
    // `startFolder`: where the chooser opens; `title`: its prompt; `flags`:
    // FOLDER_MUST_EXIST or 0.
    CFolderDialog(const terbin::TBString& startFolder, const terbin::TBString& title, CWnd* parent,
                  UINT flags);
    virtual ~CFolderDialog() = default;

    // IDOK (1) when the driver chose a folder, else IDCANCEL (also without a
    // driver). With FOLDER_MUST_EXIST a choice that names no existing folder
    // counts as cancelled.
    virtual INT_PTR DoModal();
    // The chosen folder; empty before a confirmed DoModal.
    terbin::TBString GetFolderPath() const { return path_; }

private:
    const terbin::TBString startFolder_;
    const terbin::TBString title_;
    const UINT flags_;
    terbin::TBString path_;
};

// Static text with colours and an inner margin. Its window text is the
// control's label.
class CColorStatic : public CDialogItem {
public:
    // CLR_DEFAULT for a colour leaves it to the dialog.
    explicit CColorStatic(COLORREF textColour = CLR_DEFAULT,
                          COLORREF backgroundColour = CLR_DEFAULT, UINT borderStyle = 0);

    void SetPadding(int padding) { padding_ = padding; }
    void SetTextColor(COLORREF colour) { textColour_ = colour; }
    // CLR_NONE: no background of its own (the dialog's shows through).
    void SetBackgroundColor(COLORREF colour) { backgroundColour_ = colour; }
    // Font face, size in points and weight (0 normal, 1 bold); `dc` is not
    // needed here and may be null.
    void SetFontInfo(const terbin::TBString& face, double size, int weight, CDC* dc = nullptr);

    int padding() const { return padding_; }
    COLORREF textColour() const { return textColour_; }
    COLORREF backgroundColour() const { return backgroundColour_; }
    UINT borderStyle() const { return borderStyle_; }
    const terbin::TBString& fontFace() const { return fontFace_; }
    double fontSize() const { return fontSize_; }
    int fontWeight() const { return fontWeight_; }

private:
    int padding_ = 0;
    COLORREF textColour_;
    COLORREF backgroundColour_;
    UINT borderStyle_;
    terbin::TBString fontFace_;
    double fontSize_ = 0;
    int fontWeight_ = 0;
};

// Static text holding HTML (line breaks, paragraphs and links at least); the
// HTML is its window text. Colours and margin as CColorStatic.
class CHtmlStatic : public CColorStatic {
public:
    using CColorStatic::CColorStatic;
    terbin::TBString html() const { return GetWindowText(); }
};

// A picture from the picture table (PNG images by resource id).
class CPicture {
public:
    CPicture() = default;
    virtual ~CPicture() = default;

    // Loads picture resource `resourceId`; `instance` and `type` are not
    // needed here. FALSE (and no image) when the table has no PNG image of
    // that id.
    BOOL Load(UINT resourceId, HINSTANCE instance = nullptr, LPCTSTR type = nullptr);
    // Draws the image stretched into `rect`; `bounds` (the frame of a scalable
    // picture) does not apply to PNG images. FALSE, drawing nothing, without
    // an image.
    BOOL Render(CDC* dc, const RECT& rect, const RECT* bounds = nullptr) const;
    // Drops the image.
    void Free();

    bool hasImage() const { return !bytes_.empty(); }
    UINT resourceId() const { return resourceId_; }

private:
    UINT resourceId_ = 0;
    std::vector<uint8_t> bytes_;
};

// Makes `bytes` the picture resource `id`, replacing an earlier one. Any
// thread.
void AfxRegisterPicture(UINT id, std::vector<uint8_t> bytes);
void AfxRemovePicture(UINT id);
// The bytes of picture resource `id`; empty when there is none. Any thread.
std::vector<uint8_t> AfxFindPicture(UINT id);
// Whether `bytes` hold a PNG image (start with its signature).
bool isPngImage(const std::vector<uint8_t>& bytes);
