#include "base/ULVConfig.h"

#include "base/ULVbase.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "mfc/afxwin.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBString;
using terbin::TBValue;

namespace {

// The running executable's path as the module file name gives it, cut at
// `size` - 1 characters as a buffer of that size would cut it.
TBString executablePath(DWORD size) {
    std::wstring buffer(size, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    buffer.resize(length < size ? length : size - 1);
    return TBString(std::move(buffer));
}

}  // namespace

ULVConfig::ULVConfig() : util::TBAppConfig(TBString()) {
    setProductValue(L"PRODUCT_NAME", TBValue(L"Ulvaren"));
    setProductValue(L"PRODUCT_MAJOR_VERSION", TBValue(1));
    setProductValue(L"PRODUCT_MINOR_VERSION", TBValue(1));
    setProductValue(L"PRODUCT_REVISION", TBValue(6));
    setProductValue(L"PRODUCT_BUILD", TBValue(126));
    setProductValue(L"PRODUCT_COMPANY", TBValue(L"Dallonet"));
    setProductValue(L"PRODUCT_COMPANY_URL", TBValue(L"https://www.dallonet.com"));
    setProductValue(L"PRODUCT_SUPPORT_NAME", TBValue(L"Dallonet Support"));
    setProductValue(L"PRODUCT_SUPPORT_URL", TBValue(L"https://www.dallonet.com/support"));
    setProductValue(L"PRODUCT_PURCHASE_URL", TBValue(L"https://www.dallonet.com/ulvaren/buy"));

    const TBString folder = TBFilename::dirname(executablePath(1024));
    TBString productFile = TBFilename::concatPaths(folder, L"product.bcf", TBFilename::NativePath);
    if (!TBFileInfo::isFile(productFile)) {
        productFile = TBFilename::concatPaths(TBFilename::dirname(folder), L"product.bcf",
                                              TBFilename::NativePath);
    }
    if (TBFileInfo::isFile(productFile))
        loadProductInfo(productFile);

    setProductInfo(util::TBAppInfo(getProductString(L"PRODUCT_TITLE"),
                                   static_cast<uint32_t>(getProductInt32(L"PRODUCT_MAJOR_VERSION")),
                                   static_cast<uint32_t>(getProductInt32(L"PRODUCT_MINOR_VERSION")),
                                   static_cast<uint32_t>(getProductInt32(L"PRODUCT_REVISION")),
                                   static_cast<uint32_t>(getProductInt32(L"PRODUCT_BUILD"))));
    TBAppConfig::init(L"Ulvaren");
    theBaseApp.addStringTable(getResourceFile(L"messages.ini"), true);
    BackupSetConfiguration::install(this);
}

ULVConfig::ULVConfig(ULVConfig& other) : util::TBAppConfig(other), BackupSetConfiguration() {}

ULVConfig& ULVConfig::operator=(const ULVConfig& other) {
    util::TBAppConfig::operator=(other);
    return *this;
}

ULVConfig::~ULVConfig() {
    if (BackupSetConfiguration::isInstalled(this))
        BackupSetConfiguration::install(nullptr);
}

bool ULVConfig::init(int /*unused*/) {
    AFX_MANAGE_STATE(AfxGetStaticModuleState());

    TBString folder;
    TBString name;
    TBFilename::split(executablePath(MAX_PATH), folder, name);
    // The name without its extension; a leading dot does not start one.
    const int dot = name.last(L'.');
    if (dot > 0)
        name = name.left(dot);
    theBaseApp.addStringTable(getResourceFile(name + L".ini"), true);

    if (getDataDir().isEmpty()) {
        wchar_t common[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
        const TBString company =
            TBFilename::concatPaths(common, L"Dallonet", TBFilename::NativePath);
        setDataDir(TBFilename::concatPaths(company, L"Ulvaren", TBFilename::NativePath));
    }
    terbin::TBFolder::create(getDataDir(), true);
    return true;
}

TBString ULVConfig::fix(const TBString& path) const {
    const TBString clean = TBFilename::fix(path, TBFilename::SlashPath);
    if (path.startsWith(L"//"))
        return L"/" + clean;
    return clean;
}
