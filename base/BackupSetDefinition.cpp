#include "base/BackupSetDefinition.h"

#include <string_view>

#include "backupset/BackupSetFields.h"
#include "foundation/TBFilename.h"
#include "foundation/TBStringArray.h"

using terbin::TBString;
using xml::XmlNode;

namespace {

// The element at the "/"-separated `path` below `parent`, taking the first
// child of each name on the way; null when any step is missing.
XmlNode* findElement(XmlNode& parent, std::wstring_view path) {
    XmlNode* node = &parent;
    while (node != nullptr) {
        const size_t slash = path.find(L'/');
        node = node->findNode(TBString(path.substr(0, slash)));
        if (slash == std::wstring_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return node;
}

// One reader per kind of setting, chosen by the field's type.
void readElement(XmlNode& element, TBString& text) {
    text = element.toString();
}

void readElement(XmlNode& element, int32_t& number) {
    number = element.toString().toInt32();
}

void readElement(XmlNode& element, terbin::TBStringArray& list) {
    // The blanks and comments between entries are children too.
    for (auto it = element.iterator(); it.hasNext();) {
        XmlNode* entry = it.next();
        if (entry->getType() == xml::XmlElementNode)
            list.add(entry->toString());
    }
}

}  // namespace

void readBackupSetDefinition(XmlNode& definition, BackupSet& set) {
    forEachSetting([&](const auto& setting) {
        if (setting.definitionPath == nullptr)
            return;
        if (XmlNode* element = findElement(definition, setting.definitionPath))
            readElement(*element, set.*setting.field);
    });
}

void resolveSourceFolders(BackupSet& set, const TBString& folder) {
    for (TBString& entry : set.sourceFolders) {
        if (!entry.isEmpty() && !entry.startsWith(L"/"))
            entry = terbin::TBFilename::concatPaths(folder, entry, terbin::TBFilename::NativePath);
    }
}
