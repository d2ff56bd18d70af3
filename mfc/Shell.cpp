#include <algorithm>

#include "foundation/TBEnvironment.h"
#include "foundation/TBFolder.h"
#include "foundation/TBResult.h"
#include "mfc/afxwin.h"

using terbin::TBString;

HRESULT SHGetFolderPathW(HWND /*owner*/, int csidl, HANDLE /*token*/, DWORD /*flags*/,
                         LPWSTR path) {
    if (!path)
        return E_INVALIDARG;
    path[0] = L'\0';
    // The high bits carry flags such as "create", which change nothing here.
    if ((csidl & 0xff) != CSIDL_COMMON_APPDATA)
        return E_INVALIDARG;
    TBString folder = terbin::tb_misc_getEnvironmentVariable(L"ULVAREN_COMMON_APPDATA");
    if (folder.isEmpty())
        folder = L"/var/lib";
    if (folder.length() >= static_cast<int>(MAX_PATH))
        return E_FAIL;
    std::copy_n(folder.c_str(), folder.length() + 1, path);
    return S_OK;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    if (!path) {
        SetLastError(terbin::TB_INVALID_PARAMETER);
        return FALSE;
    }
    // TBFolder::remove leaves its failure in the shared last error.
    return terbin::TBFolder::remove(TBString(path)) == 0 ? TRUE : FALSE;
}

DWORD GetLastError() {
    return tb_status_getLastError();
}

void SetLastError(DWORD code) {
    tb_status_setLastError(code);
}
