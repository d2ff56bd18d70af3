#include "base/BackupSetDefinition.h"

#include "foundation/TBStringArray.h"

using terbin::TBString;
using xml::XmlNode;

namespace {

void readText(XmlNode& parent, const wchar_t* name, TBString& field) {
    if (XmlNode* node = parent.findNode(name))
        field = node->toString();
}

void readInteger(XmlNode& parent, const wchar_t* name, int32_t& field) {
    if (XmlNode* node = parent.findNode(name))
        field = node->toString().toInt32();
}

void readList(XmlNode& parent, const wchar_t* name, terbin::TBStringArray& list) {
    XmlNode* node = parent.findNode(name);
    if (node == nullptr)
        return;
    // The blanks and comments between entries are children too.
    for (auto it = node->iterator(); it.hasNext();) {
        XmlNode* entry = it.next();
        if (entry->getType() == xml::XmlElementNode)
            list.add(entry->toString());
    }
}

struct ScriptFields {
    TBString& program;
    TBString& args;
    int32_t& enabled;
    int32_t& waitForCompletion;
    int32_t& ignoreStatus;
    int32_t& timeout;
    int32_t& timeoutMs;
};

void readScript(XmlNode& parent, const wchar_t* name, const ScriptFields& script) {
    XmlNode* node = parent.findNode(name);
    if (node == nullptr)
        return;
    readText(*node, L"Program", script.program);
    readText(*node, L"Args", script.args);
    readInteger(*node, L"Enabled", script.enabled);
    readInteger(*node, L"WaitForCompletion", script.waitForCompletion);
    readInteger(*node, L"IgnoreStatus", script.ignoreStatus);
    readInteger(*node, L"Timeout", script.timeout);
    readInteger(*node, L"TimeoutMS", script.timeoutMs);
}

}  // namespace

void readBackupSetDefinition(XmlNode& definition, BackupSet& set) {
    readText(definition, L"Name", set.backupName);
    readInteger(definition, L"Type", set.backupType);
    readInteger(definition, L"FolderCount", set.backupFolderCount);
    readInteger(definition, L"FullPath", set.backupFullPath);
    readInteger(definition, L"AddComputerFolder", set.backupAddComputerFolder);
    readInteger(definition, L"AddBackupSetFolder", set.backupAddBackupSetFolder);
    readInteger(definition, L"CreateLog", set.backupCreateLog);
    readInteger(definition, L"ExcludeFromStartAll", set.backupExcludeFromStartAll);
    readScript(definition, L"PreBackup",
               {set.preBackupProgram, set.preBackupArgs, set.preBackupEnabled,
                set.preBackupWaitForCompletion, set.preBackupIgnoreStatus, set.preBackupTimeout,
                set.preBackupTimeoutMS});
    readScript(definition, L"PostBackup",
               {set.postBackupProgram, set.postBackupArgs, set.postBackupEnabled,
                set.postBackupWaitForCompletion, set.postBackupIgnoreStatus, set.postBackupTimeout,
                set.postBackupTimeoutMS});
    readList(definition, L"SourceFolders", set.sourceFolders);
    readList(definition, L"ExcludeFolders", set.excludeFolders);
    readList(definition, L"ExcludeFiles", set.excludeFiles);
    readList(definition, L"IncludeFiles", set.includeFiles);
}
