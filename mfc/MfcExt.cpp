#include "mfc/MfcExt.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "foundation/TBFileInfo.h"
#include "mfc/DialogDriver.h"

using terbin::TBString;

// ------------------------------------------------------------------- sheet

CGenericPropertySheet::CGenericPropertySheet(bool wizard, UINT captionId, CWnd* parent)
    : CPropertySheet(captionId, parent) {
    wizard_ = wizard;
}

CGenericPropertySheet::~CGenericPropertySheet() {
    for (CGenericPropertyPage* page : owned_) delete page;
}

void CGenericPropertySheet::AddPage(CGenericPropertyPage* page, bool owned) {
    if (!page)
        return;
    page->sheet_ = this;
    CPropertySheet::AddPage(page);
    if (owned)
        owned_.push_back(page);
}

BOOL CGenericPropertySheet::OnInitDialog() {
    for (int i = 0; i < GetPageCount(); ++i) {
        if (auto* page = dynamic_cast<CGenericPropertyPage*>(GetPage(i)))
            page->LoadData();
    }
    return CPropertySheet::OnInitDialog();
}

// -------------------------------------------------------------------- page

CGenericPropertyPage::CGenericPropertyPage(CGenericPropertySheet* sheet, UINT templateId,
                                           UINT captionId, UINT /*flags*/)
    : CPropertyPage(templateId, captionId), sheet_(sheet) {}

void CGenericPropertyPage::SetCaption(UINT stringId) {
    const TBString caption = AfxLoadString(stringId);
    if (!caption.isEmpty())
        setCaption(caption);
}

BOOL CGenericPropertyPage::OnApply() {
    SaveData();
    return TRUE;
}

void CGenericPropertyPage::LoadData() {}

void CGenericPropertyPage::SaveData() {}

// ---------------------------------------------------------- folder chooser

CFolderDialog::CFolderDialog(const TBString& startFolder, const TBString& title, CWnd* /*parent*/,
                             UINT flags)
    : startFolder_(startFolder), title_(title), flags_(flags) {}

INT_PTR CFolderDialog::DoModal() {
    DialogDriver* driver = AfxGetDialogDriver();
    if (!driver)
        return IDCANCEL;
    const std::optional<TBString> chosen =
        driver->chooseFolder(FolderChoice{startFolder_, title_, flags_});
    if (!chosen || chosen->isEmpty())
        return IDCANCEL;
    if ((flags_ & FOLDER_MUST_EXIST) && !terbin::TBFileInfo::isFolder(*chosen))
        return IDCANCEL;
    path_ = *chosen;
    return IDOK;
}

// ------------------------------------------------------------- static text

CColorStatic::CColorStatic(COLORREF textColour, COLORREF backgroundColour, UINT borderStyle)
    : textColour_(textColour), backgroundColour_(backgroundColour), borderStyle_(borderStyle) {}

void CColorStatic::SetFontInfo(const TBString& face, double size, int weight, CDC* /*dc*/) {
    fontFace_ = face;
    fontSize_ = size;
    fontWeight_ = weight;
}

// ---------------------------------------------------------------- pictures

namespace {

struct PictureTable {
    std::mutex mutex;
    std::map<UINT, std::vector<uint8_t>> pictures;
};

PictureTable& pictureTable() {
    static PictureTable table;
    return table;
}

}  // namespace

void AfxRegisterPicture(UINT id, std::vector<uint8_t> bytes) {
    PictureTable& table = pictureTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.pictures[id] = std::move(bytes);
}

void AfxRemovePicture(UINT id) {
    PictureTable& table = pictureTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.pictures.erase(id);
}

std::vector<uint8_t> AfxFindPicture(UINT id) {
    PictureTable& table = pictureTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    const auto it = table.pictures.find(id);
    return it == table.pictures.end() ? std::vector<uint8_t>() : it->second;
}

bool isPngImage(const std::vector<uint8_t>& bytes) {
    static constexpr std::array<uint8_t, 8> signature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return bytes.size() > signature.size() &&
           std::equal(signature.begin(), signature.end(), bytes.begin());
}

BOOL CPicture::Load(UINT resourceId, HINSTANCE /*instance*/, LPCTSTR /*type*/) {
    Free();
    std::vector<uint8_t> bytes;
    {
        PictureTable& table = pictureTable();
        std::lock_guard<std::mutex> guard(table.mutex);
        const auto it = table.pictures.find(resourceId);
        if (it == table.pictures.end())
            return FALSE;
        bytes = it->second;
    }
    if (!isPngImage(bytes))
        return FALSE;
    resourceId_ = resourceId;
    bytes_ = std::move(bytes);
    return TRUE;
}

BOOL CPicture::Render(CDC* dc, const RECT& rect, const RECT* /*bounds*/) const {
    if (!dc || !hasImage())
        return FALSE;
    dc->drawPicture(resourceId_, rect);
    return TRUE;
}

void CPicture::Free() {
    resourceId_ = 0;
    bytes_.clear();
}
