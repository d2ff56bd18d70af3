#include "foundation/TBFilename.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace terbin {

namespace {

// Only "/" separates; "\" is an ordinary character of a name.
int lastSeparator(const std::wstring& s, size_t end) {
    for (size_t i = end; i-- > 0;) {
        if (s[i] == L'/')
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

TBString TBFilename::concatPaths(const TBString& folder, const TBString& name, int /*pathType*/) {
    if (folder.isEmpty())
        return name;
    if (name.isEmpty())
        return folder;
    std::wstring out;
    out.reserve(static_cast<size_t>(folder.length() + name.length() + 1));
    out = folder.str();
    if (out.back() != L'/')
        out += L'/';
    size_t start = 0;
    while (start < name.str().size() && name.str()[start] == L'/') ++start;
    out.append(name.str(), start, std::wstring::npos);
    return TBString(std::move(out));
}

TBString TBFilename::dirname(const TBString& path) {
    const std::wstring& s = path.str();
    size_t end = s.size();
    while (end > 1 && s[end - 1] == L'/') --end;  // trailing separators
    const int pos = lastSeparator(s, end);
    if (pos < 0)
        return TBString(L".");
    size_t cut = static_cast<size_t>(pos);
    while (cut > 0 && s[cut - 1] == L'/') --cut;
    if (cut == 0)
        return TBString(s.substr(0, 1));
    return TBString(s.substr(0, cut));
}

TBString TBFilename::basename(const TBString& path) {
    const std::wstring& s = path.str();
    size_t end = s.size();
    while (end > 1 && s[end - 1] == L'/') --end;
    const int pos = lastSeparator(s, end);
    return TBString(s.substr(static_cast<size_t>(pos + 1), end - static_cast<size_t>(pos + 1)));
}

void TBFilename::split(const TBString& path, TBString& folder, TBString& name) {
    folder = dirname(path);
    name = basename(path);
}

TBString TBFilename::fix(const TBString& path, int /*pathType*/) {
    if (path.isEmpty())
        return path;
    const std::wstring& s = path.str();
    const bool absolute = s[0] == L'/';
    std::vector<std::wstring> parts;
    std::wstring component;
    auto flush = [&] {
        if (component.empty() || component == L".") {
            // nothing to keep
        } else if (component == L"..") {
            if (!parts.empty() && parts.back() != L"..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(component);  // cannot be resolved lexically
            }
            // ".." at the root stays at the root
        } else {
            parts.push_back(component);
        }
        component.clear();
    };
    for (wchar_t c : s) {
        if (c == L'/') {
            flush();
        } else {
            component += c;
        }
    }
    flush();
    std::wstring out;
    if (absolute)
        out = L"/";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += L'/';
        out += parts[i];
    }
    if (out.empty())
        out = L".";
    return TBString(std::move(out));
}

TBString TBFilename::absolute(const TBString& path) {
    if (path.startsWith(L"/"))
        return fix(path);
    char* cwd = getcwd(nullptr, 0);
    const TBString base = cwd ? TBString::fromBytes(cwd) : TBString(L"/");
    free(cwd);
    return fix(concatPaths(base, path));
}

}  // namespace terbin
