#include "foundation/TBFolder.h"

#include <cerrno>
#include <cstring>

#include "foundation/SystemInterface.h"
#include "foundation/TBResult.h"

namespace terbin {

TBFolder::TBFolder(const TBString& path) : path_(path) {
    dir_ = tb_system().opendir(path.isEmpty() ? "." : path.narrow().c_str());
    if (!dir_)
        tb_status_setLastError(tb_result_fromErrno(errno));
}

TBFolder::~TBFolder() {
    if (dir_)
        tb_system().closedir(dir_);
}

uint32_t TBFolder::read(TBFileInfo& info) {
    return readNext(info);
}

uint32_t TBFolder::readNext(TBFileInfo& info) {
    if (!dir_)
        return TB_INVALID_PARAMETER;
    SystemInterface& sys = tb_system();
    for (;;) {
        errno = 0;
        struct dirent* entry = sys.readdir(dir_);
        if (!entry) {
            return tb_status_fail(errno ? tb_result_fromErrno(errno) : TB_FILE_NOT_FOUND);
        }
        const char* name = entry->d_name;
        if (info.query(dirfd(dir_), name, TBString::fromBytes(std::string_view(name))))
            return 0;
    }
}

uint32_t TBFolder::create(const TBString& path, bool parents) {
    SystemInterface& sys = tb_system();
    // The path is taken as it is: a folder name may hold a backslash here.
    const TBString& clean = path;
    std::string bytes = clean.narrow();
    while (bytes.size() > 1 && bytes.back() == '/') bytes.pop_back();
    if (sys.mkdir(bytes.c_str(), 0700) == 0)
        return 0;
    int error = errno;
    if (error == EEXIST)
        return TBFileInfo::isFolder(clean) ? 0 : TB_ALREADY_EXISTS;
    if (error != ENOENT || !parents)
        return tb_result_fromErrno(error);
    // Create the missing ancestors from the top down.
    for (size_t i = 1; i < bytes.size(); ++i) {
        if (bytes[i] != '/')
            continue;
        const std::string prefix = bytes.substr(0, i);
        if (sys.mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            error = errno;
            return tb_result_fromErrno(error);
        }
    }
    if (sys.mkdir(bytes.c_str(), 0700) == 0)
        return 0;
    error = errno;
    if (error == EEXIST && TBFileInfo::isFolder(clean))
        return 0;
    return tb_result_fromErrno(error);
}

uint32_t TBFolder::remove(const TBString& path) {
    if (tb_system().rmdir(path.narrow().c_str()) == 0)
        return 0;
    return tb_status_fail(tb_result_fromErrno(errno == EEXIST ? ENOTEMPTY : errno));
}

TBFilteredFolder::TBFilteredFolder(const TBString& path, const TBString& pattern)
    : TBFolder(path), pattern_(pattern.foldCase()) {}

uint32_t TBFilteredFolder::read(TBFileInfo& info) {
    for (;;) {
        const uint32_t result = readNext(info);
        if (result != 0)
            return result;
        if (pattern_.isEmpty() || matches(pattern_, info.getName()))
            return 0;
    }
}

namespace {

// Matches s[si..] against p[pi..]; both already case folded.
bool matchFolded(const std::wstring& p, size_t pi, const std::wstring& s, size_t si) {
    size_t starP = std::wstring::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == L'*') {
            starP = pi++;
            starS = si;
            continue;
        }
        if (pi < p.size() && p[pi] == L'[') {
            size_t j = pi + 1;
            bool negate = false;
            if (j < p.size() && (p[j] == L'!' || p[j] == L'^')) {
                negate = true;
                ++j;
            }
            bool found = false;
            bool first = true;
            while (j < p.size() && (p[j] != L']' || first)) {
                first = false;
                wchar_t lo = p[j];
                wchar_t hi = lo;
                if (j + 2 < p.size() && p[j + 1] == L'-' && p[j + 2] != L']') {
                    hi = p[j + 2];
                    j += 2;
                }
                if (s[si] >= lo && s[si] <= hi)
                    found = true;
                ++j;
            }
            if (j < p.size() && found != negate) {  // well-formed class that matched
                pi = j + 1;
                ++si;
                continue;
            }
            if (j >= p.size() && s[si] == L'[') {  // unterminated: a literal "["
                ++pi;
                ++si;
                continue;
            }
        } else if (pi < p.size() && (p[pi] == L'?' || p[pi] == s[si])) {
            ++pi;
            ++si;
            continue;
        }
        if (starP == std::wstring::npos)
            return false;
        pi = starP + 1;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == L'*') ++pi;
    return pi == p.size();
}

}  // namespace

bool TBFilteredFolder::matches(const TBString& pattern, const TBString& name) {
    return matchFolded(pattern.foldCase().str(), 0, name.foldCase().str(), 0);
}

}  // namespace terbin
