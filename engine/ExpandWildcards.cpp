#include <cstddef>
#include <vector>

#include "engine/BackupJob.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFilteredFolder;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

const wchar_t* const WildcardCharacters = L"*?[";

bool hasWildcard(const TBString& text) {
    return text.firstOf(WildcardCharacters) >= 0;
}

// The components of `pattern` between its "/" separators, in order. Empty ones
// (from a repeated or trailing separator) are left out. "\" is part of a name.
std::vector<TBString> componentsOf(const TBString& pattern) {
    std::vector<TBString> components;
    int start = 0;
    while (start <= pattern.length()) {
        int end = pattern.first(L'/', start);
        if (end < 0)
            end = pattern.length();
        if (end > start)
            components.push_back(pattern.mid(start, end - start));
        start = end + 1;
    }
    return components;
}

// The separators that open an absolute pattern, as written ("/" or "//"), or
// empty for a pattern relative to the current folder.
TBString rootOf(const TBString& pattern) {
    int length = 0;
    while (length < pattern.length() && pattern[length] == L'/') ++length;
    return pattern.left(length);
}

// Appends to `result` the folders that `components[next...]` name below
// `folder`. `folder` is a path found on the disk (empty for the current
// folder); it is joined to, never parsed again, so a name such as "*" or
// "[2019]" that a listing gave stays that name.
void expandBelow(const TBString& folder, const std::vector<TBString>& components, size_t next,
                 TBStringArray& result) {
    if (next == components.size()) {
        result.add(folder);
        return;
    }
    const TBString& component = components[next];
    if (!hasWildcard(component)) {
        const TBString path = TBFilename::concatPaths(folder, component);
        if (TBFileInfo::isFolder(path))
            expandBelow(path, components, next + 1, result);
        return;
    }
    // The matches are gathered before descending into any of them, so only
    // one listing is open at a time however many wildcard levels there are.
    std::vector<TBString> names;
    {
        TBFilteredFolder listing(folder, component);
        TBFileInfo info;
        while (listing.read(info) == 0) {
            // A link to a folder counts as the folder it points to.
            if (terbin::tb_file_isDotEntry(info.getName()) || !info.isDirectory())
                continue;
            names.push_back(info.getName());
        }
    }
    for (const TBString& name : names) {
        expandBelow(TBFilename::concatPaths(folder, name), components, next + 1, result);
    }
}

}  // namespace

bool BackupJob::hasWildcards(const TBString& entry) {
    return hasWildcard(entry);
}

void BackupJob::expandWildcards(const TBString& pattern, TBStringArray& result) {
    if (!hasWildcard(pattern)) {
        if (TBFileInfo::isFolder(pattern))
            result.add(pattern);
        return;
    }
    expandBelow(rootOf(pattern), componentsOf(pattern), 0, result);
}
