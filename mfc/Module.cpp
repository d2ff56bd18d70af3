#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <vector>

#include "foundation/TBEnvironment.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "mfc/ModuleLookup.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBString;

namespace {

// The shared object a module name stands for: "NAME.dll" is "libNAME.so".
TBString sharedObjectName(const TBString& name) {
    TBString base = name;
    if (base.length() > 4 && base.mid(base.length() - 4).equalsNoCase(L".dll")) {
        base = base.left(base.length() - 4);
    } else if (base.endsWith(L".so")) {
        return base;
    }
    return base.startsWith(L"lib") ? base + L".so" : L"lib" + base + L".so";
}

HMODULE openModule(const TBString& path) {
    return static_cast<HMODULE>(dlopen(path.narrow().c_str(), RTLD_NOW | RTLD_LOCAL));
}

HMODULE loadLibrary(const TBString& name, const void* caller) {
    if (name.first(L'/') >= 0)
        return openModule(name);
    const TBString file = sharedObjectName(name);
    std::vector<TBString> folders;
    for (const TBString& owner : {terbin::tb_misc_getExecutablePath(), afxModulePathOf(caller),
                                  afxModulePathOf(reinterpret_cast<const void*>(&loadLibrary))}) {
        if (owner.isEmpty())
            continue;
        const TBString folder = TBFilename::dirname(owner);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    for (const TBString& folder : folders) {
        const TBString path = TBFilename::concatPaths(folder, file, TBFilename::NativePath);
        if (!TBFileInfo::isFile(path))
            continue;
        if (HMODULE module = openModule(path))
            return module;
    }
    return openModule(file);
}

}  // namespace

TBString afxModulePathOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return TBString();
    return TBString::fromBytes(info.dli_fname);
}

HMODULE afxModuleOf(const void* address) {
    const TBString path = afxModulePathOf(address);
    void* handle =
        path.isEmpty() ? nullptr : dlopen(path.narrow().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    return static_cast<HMODULE>(handle ? handle : dlopen(nullptr, RTLD_LAZY));
}

HMODULE afxThisModule() {
    static const HMODULE module = afxModuleOf(reinterpret_cast<const void*>(&afxThisModule));
    return module;
}

// Not inlined: the return address must be the caller's, whose folder is searched.
__attribute__((noinline)) HMODULE LoadLibraryW(LPCWSTR name) {
    const void* caller = __builtin_return_address(0);
    HMODULE module = name ? loadLibrary(TBString(name), caller) : nullptr;
    if (!module)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

BOOL FreeLibrary(HMODULE module) {
    return module && dlclose(module) == 0 ? TRUE : FALSE;
}

void* GetProcAddress(HMODULE module, const char* name) {
    return module && name ? dlsym(module, name) : nullptr;
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
    using Lookup = const wchar_t* (*)(unsigned);
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = L'\0';
    const auto lookup = reinterpret_cast<Lookup>(GetProcAddress(module, "ulv_resource_string"));
    const wchar_t* text = lookup ? lookup(id) : nullptr;
    if (!text)
        return 0;
    const std::wstring_view view(text);
    const size_t count = std::min(view.size(), static_cast<size_t>(size - 1));
    std::copy_n(view.data(), count, buffer);
    buffer[count] = L'\0';
    return static_cast<int>(count);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    TBString path;
    if (module == nullptr) {
        path = terbin::tb_misc_getExecutablePath();
    } else {
        struct link_map* map = nullptr;
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
            // The program's own entry has no name.
            path = map->l_name && map->l_name[0] ? TBString::fromBytes(map->l_name)
                                                 : terbin::tb_misc_getExecutablePath();
        }
    }
    if (path.isEmpty() || buffer == nullptr || size == 0) {
        if (size == 0)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(path.length());
    const DWORD count = std::min(length, size - 1);
    std::copy_n(path.c_str(), count, buffer);
    buffer[count] = L'\0';
    if (count < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return count;
}
