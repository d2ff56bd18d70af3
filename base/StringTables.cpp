#include "base/ULVbase.h"
#include "foundation/TBFileInfo.h"

using terbin::TBFileInfo;
using terbin::TBIniFile;
using terbin::TBString;

void ULVbase::addStringTable(const TBString& path, bool atEnd) {
    if (!TBFileInfo::isFile(path))
        return;
    auto* table = new TBIniFile(TBString(), false, false);
    // A file read only in part still counts: the table holds what was read.
    table->readFromFile(path);
    terbin::TBWriteLock guard(stringTables);
    if (atEnd) {
        stringTables.addLast(table);
    } else {
        stringTables.addFirst(table);
    }
}

TBString ULVbase::loadString(const TBString& section, const TBString& key,
                             const TBString& defaultText) {
    terbin::TBReadLock guard(stringTables);
    for (const TBIniFile* table : stringTables) {
        const terbin::TBConfigKey* found = table->findKey(section);
        if (found == nullptr)
            continue;
        if (const terbin::TBConfigValue* value = found->value(key))
            return value->toString();
    }
    return defaultText;
}
