#include "base/ULVbase.h"
#include "foundation/TBFileInfo.h"

using terbin::TBFileInfo;
using terbin::TBIniFile;
using terbin::TBString;

namespace {

// Holds an object's lock for reading for the guard's lifetime.
class ReadLock {
public:
    explicit ReadLock(terbin::TBLockableObject& object) : object_(object) {
        object_.lockForReading(terbin::TBLockableObject::WaitForever);
    }
    ~ReadLock() { object_.unlock(); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    terbin::TBLockableObject& object_;
};

}  // namespace

void ULVbase::addStringTable(const TBString& path, bool atEnd) {
    if (!TBFileInfo::isFile(path))
        return;
    auto* table = new TBIniFile(TBString(), false, false);
    // A file read only in part still counts: the table holds what was read.
    table->readFromFile(path);
    stringTables.lockForWriting(terbin::TBLockableObject::WaitForever);
    if (atEnd) {
        stringTables.addLast(table);
    } else {
        stringTables.addFirst(table);
    }
    stringTables.unlock();
}

TBString ULVbase::loadString(const TBString& section, const TBString& key,
                             const TBString& defaultText) {
    ReadLock guard(stringTables);
    for (const TBIniFile* table : stringTables) {
        const terbin::TBConfigKey* found = table->findKey(section);
        if (found == nullptr)
            continue;
        if (const terbin::TBConfigValue* value = found->value(key))
            return value->toString();
    }
    return defaultText;
}
