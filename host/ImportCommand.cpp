#include <cstdio>
#include <cstring>

#include "base/ULVbase.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "foundation/XmlFile.h"
#include "host/Commands.h"

using terbin::TBString;

namespace {

// Why a definition file cannot be used, or empty when it can.
std::string rejection(const std::string& path) {
    xml::XmlFile file;
    const uint32_t result = file.load(TBString::fromBytes(path));
    switch (result) {
        case 0:
            break;
        case terbin::TB_FILE_NOT_FOUND:
        case terbin::TB_PATH_NOT_FOUND:
            return "no such file";
        case terbin::TB_ACCESS_DENIED:
            return "permission denied";
        default:
            return "not a well-formed XML file, or over the size and entity limits";
    }
    if (!file.findNode(L"backupset"))
        return "no <backupset> element";
    return {};
}

}  // namespace

int importSets(const HostOptions& options, const std::vector<std::string>& files,
               const std::string& target) {
    HostSession session(options);
    int rejected = 0;
    for (const std::string& path : files) {
        const std::string why = rejection(path);
        if (!why.empty()) {
            std::printf("rejected %s: %s\n", path.c_str(), why.c_str());
            ++rejected;
            continue;
        }
        const int before = theBaseApp.backupSets.size();
        theBaseApp.addBackupSet(TBString::fromBytes(absolutePath(path)));
        if (theBaseApp.backupSets.size() == before) {
            std::printf("rejected %s: the set could not be read\n", path.c_str());
            ++rejected;
            continue;
        }
        BackupSet* set = theBaseApp.backupSets[theBaseApp.backupSets.size() - 1];
        if (!target.empty()) {
            set->setTargetFolder(TBString::fromBytes(absolutePath(target)));
            set->save(set->registryKeyName);
        }
        // Saving reports nothing itself: look for the set where it must be.
        const TBString key = BackupSet::registryKeyPath(set->registryKeyName);
        if (set->registryKeyName.isEmpty() ||
            !terbin::TBRegistryKey(terbin::TBHiveCurrentUser, key, false).isOpen()) {
            throw HostError{"registry " +
                            terbin::tb_registry_storePath(terbin::TBHiveCurrentUser).narrow() +
                            ": the set from " + path + " could not be saved"};
        }
        std::printf("added %s as set %d \"%s\"", path.c_str(), theBaseApp.backupSets.size() - 1,
                    set->backupName.narrow().c_str());
        if (!set->targetFolder.isEmpty()) {
            std::printf(", target %s", set->targetFolder.narrow().c_str());
        }
        std::printf("\n");
    }
    return rejected == 0 ? 0 : 1;
}
