// Exclusion matching of a backup set: its file and folder patterns, turned
// into case-insensitive regular expressions and remembered per thread.
#include "backupset/BackupSet.h"
#include "backupset/BackupSetConfiguration.h"

#include <unordered_map>

#include "foundation/TBRegularExpression.h"

using terbin::TBRegularExpression;
using terbin::TBString;

namespace {

enum PatternKind { FilePattern = 0, FolderPattern = 1 };

// The stored patterns of a set are few but are matched once per file of a
// run, so each thread remembers the expression built from each pattern text.
// Keyed by the text, an edited list simply finds other entries.
constexpr size_t RememberedPatterns = 1024;

// A backslash is an ordinary character of a name, matched as itself.
TBString convertPattern(const TBString& pattern) {
    return pattern.replace(L"\\", L"\\\\")
        .replace(L".", L"\\.")
        .replace(L"+", L"\\+")
        .replace(L"*", L".*")
        .replace(L"?", L".{1}")
        .replace(L"]", L"]{1}");
}

const TBRegularExpression& expressionFor(const TBString& pattern, PatternKind kind) {
    thread_local std::unordered_map<TBString, TBRegularExpression> remembered[2];
    auto& map = remembered[kind];
    const auto found = map.find(pattern);
    if (found != map.end())
        return found->second;
    if (map.size() >= RememberedPatterns)
        map.clear();
    const TBString converted = convertPattern(pattern);
    const TBString framed =
        kind == FilePattern ? L"^" + converted + L"$" : L".*/" + converted + L"$";
    return map.emplace(pattern, TBRegularExpression(framed, true, false)).first->second;
}

}  // namespace

void BackupSet::excludeFile(const TBString& pattern) {
    excludeFiles.add(BackupSetConfiguration::installed().fix(pattern));
}

void BackupSet::excludeFolder(const TBString& pattern) {
    excludeFolders.add(BackupSetConfiguration::installed().fix(pattern));
}

bool BackupSet::isFolderExcluded(const TBString& path) const {
    if (excludeFolders.isEmpty())
        return false;
    const TBRegularExpression::Subject subject(path);
    for (const TBString& pattern : excludeFolders) {
        if (expressionFor(pattern, FolderPattern).matches(subject))
            return true;
    }
    return false;
}

bool BackupSet::isFileExcluded(const TBString& name) const {
    if (includeFiles.isEmpty() && excludeFiles.isEmpty())
        return false;
    const TBRegularExpression::Subject subject(name);
    for (const TBString& pattern : includeFiles) {
        if (!expressionFor(pattern, FilePattern).matches(subject))
            return true;
    }
    for (const TBString& pattern : excludeFiles) {
        if (expressionFor(pattern, FilePattern).matches(subject))
            return true;
    }
    return false;
}
