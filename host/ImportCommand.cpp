#include <cstdio>
#include <cstring>

#include "base/BackupSetDefinition.h"
#include "base/ULVbase.h"
#include "foundation/TBFolder.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "foundation/XmlFile.h"
#include "host/Commands.h"

using terbin::TBString;

namespace {

// `name` as a terminal may show it: control characters, "\" and the bytes
// of invalid UTF-8 escaped, so a name can neither start a line nor drive the
// terminal.
std::string shownName(const TBString& name) {
    std::string shown;
    char code[16];
    for (const wchar_t c : name.view()) {
        if (c >= 0xDC80 && c <= 0xDCFF) {
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned>(c - 0xDC00));
            shown += code;
        } else if (c == L'\\') {
            shown += "\\\\";
        } else if (c == L'\n') {
            shown += "\\n";
        } else if (c == L'\t') {
            shown += "\\t";
        } else if (c == L'\r') {
            shown += "\\r";
        } else if (c >= 0x80 && c <= 0x9f) {
            std::snprintf(code, sizeof code, "\\xc2\\x%02x", static_cast<unsigned>(c));
            shown += code;
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned>(c));
            shown += code;
        } else {
            shown += TBString(std::wstring(1, c)).narrow();
        }
    }
    return shown;
}

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
    xml::XmlNode* definition = file.findNode(L"backupset");
    if (!definition)
        return "no <backupset> element";
    BackupSet set;
    readBackupSetDefinition(*definition, set);
    if (!BackupSet::isPlainName(set.backupName)) {
        return "the set name \"" + shownName(set.backupName) +
               "\" is not a plain name (it becomes a folder name: not empty, \".\" or \"..\","
               " and without \"/\" or control characters)";
    }
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
            std::printf("rejected %s: %s\n", TBString::escapeBytes(path).c_str(), why.c_str());
            ++rejected;
            continue;
        }
        const int before = theBaseApp.backupSets.size();
        theBaseApp.addBackupSet(TBString::fromBytes(absolutePath(path)));
        if (theBaseApp.backupSets.size() == before) {
            std::printf("rejected %s: the set could not be read\n",
                        TBString::escapeBytes(path).c_str());
            ++rejected;
            continue;
        }
        BackupSet* set = theBaseApp.backupSets[theBaseApp.backupSets.size() - 1];
        // A set that could not be saved has no key; one removed or replaced
        // by another program meanwhile refuses the second save.
        bool saved = !set->registryKeyName.isEmpty();
        if (saved && !target.empty()) {
            set->setTargetFolder(TBString::fromBytes(absolutePath(target)));
            saved = set->save(set->registryKeyName) == 0;
        }
        if (!saved) {
            throw HostError{
                "registry " + terbin::tb_registry_storePath(terbin::TBHiveCurrentUser).narrow() +
                ": the set from " + TBString::escapeBytes(path) + " could not be saved"};
        }
        std::printf("added %s as set %d \"%s\"", TBString::escapeBytes(path).c_str(),
                    theBaseApp.backupSets.size() - 1, set->backupName.escaped().c_str());
        if (!set->targetFolder.isEmpty()) {
            std::printf(", target %s", set->targetFolder.escaped().c_str());
        }
        std::printf("\n");
        // A run never makes the set's own target (a missing one is most
        // likely an unplugged drive); saving the set is the time to make it.
        // Only the folder itself: a missing parent may be the mount point of
        // a drive that is not plugged in, and is not rebuilt on the system disk.
        if (!set->targetFolder.isEmpty()) {
            if (const uint32_t made = terbin::TBFolder::create(set->targetFolder, false);
                made != 0) {
                std::printf(
                    "  the target folder cannot be made (error %u): runs of this set fail "
                    "until it is there\n",
                    made);
            }
        }
    }
    return rejected == 0 ? 0 : 1;
}
