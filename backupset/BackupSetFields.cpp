#include "backupset/BackupSetFields.h"

namespace {

constexpr bool Saved = true;
// backupFollowSymLinks is read back but never written: only a value already
// in a set's key changes it.
constexpr bool NotSaved = false;
constexpr const wchar_t* NoElement = nullptr;

// The registry value name is spelt from the field itself, so the two cannot
// drift apart.
// clang-format off
#define WIDEN(text) L##text
#define SETTING(Kind, field, definitionPath, saved) \
    Kind{WIDEN(#field), &BackupSet::field, definitionPath, saved}
// clang-format on

constexpr AnySetting Settings[] = {
    SETTING(TextSetting, backupName, L"Name", Saved),
    SETTING(TextSetting, targetFolder, NoElement, Saved),
    SETTING(ListSetting, sourceFolders, L"SourceFolders", Saved),
    SETTING(ListSetting, includeFiles, L"IncludeFiles", Saved),
    SETTING(ListSetting, excludeFiles, L"ExcludeFiles", Saved),
    SETTING(ListSetting, excludeFolders, L"ExcludeFolders", Saved),
    SETTING(NumberSetting, backupType, L"Type", Saved),
    SETTING(NumberSetting, backupFolderCount, L"FolderCount", Saved),
    SETTING(NumberSetting, backupFullPath, L"FullPath", Saved),
    SETTING(NumberSetting, backupAddComputerFolder, L"AddComputerFolder", Saved),
    SETTING(NumberSetting, backupAddBackupSetFolder, L"AddBackupSetFolder", Saved),
    SETTING(NumberSetting, backupFollowSymLinks, NoElement, NotSaved),
    SETTING(NumberSetting, backupCreateLog, L"CreateLog", Saved),
    SETTING(NumberSetting, backupExcludeFromStartAll, L"ExcludeFromStartAll", Saved),
    SETTING(NumberSetting, preBackupEnabled, L"PreBackup/Enabled", Saved),
    SETTING(NumberSetting, preBackupWaitForCompletion, L"PreBackup/WaitForCompletion", Saved),
    SETTING(NumberSetting, preBackupIgnoreStatus, L"PreBackup/IgnoreStatus", Saved),
    SETTING(NumberSetting, preBackupTimeout, L"PreBackup/Timeout", Saved),
    SETTING(NumberSetting, preBackupTimeoutMS, L"PreBackup/TimeoutMS", Saved),
    SETTING(TextSetting, preBackupProgram, L"PreBackup/Program", Saved),
    SETTING(TextSetting, preBackupArgs, L"PreBackup/Args", Saved),
    SETTING(NumberSetting, postBackupEnabled, L"PostBackup/Enabled", Saved),
    SETTING(NumberSetting, postBackupWaitForCompletion, L"PostBackup/WaitForCompletion", Saved),
    SETTING(NumberSetting, postBackupIgnoreStatus, L"PostBackup/IgnoreStatus", Saved),
    SETTING(NumberSetting, postBackupTimeout, L"PostBackup/Timeout", Saved),
    SETTING(NumberSetting, postBackupTimeoutMS, L"PostBackup/TimeoutMS", Saved),
    SETTING(TextSetting, postBackupProgram, L"PostBackup/Program", Saved),
    SETTING(TextSetting, postBackupArgs, L"PostBackup/Args", Saved),
};

#undef SETTING
#undef WIDEN

}  // namespace

std::span<const AnySetting> backupSetSettings() {
    return Settings;
}
