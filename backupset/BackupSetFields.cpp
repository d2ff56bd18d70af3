#include "backupset/BackupSetFields.h"

namespace {

constexpr const wchar_t* NoElement = nullptr;

// The registry value name is spelt from the field itself, so the two cannot
// drift apart.
// clang-format off
#define WIDEN(text) L##text
#define SETTING(Kind, field, definitionPath) Kind{WIDEN(#field), &BackupSet::field, definitionPath}
// clang-format on

constexpr AnySetting Settings[] = {
    SETTING(TextSetting, backupName, L"Name"),
    SETTING(TextSetting, targetFolder, NoElement),
    SETTING(ListSetting, sourceFolders, L"SourceFolders"),
    SETTING(ListSetting, includeFiles, L"IncludeFiles"),
    SETTING(ListSetting, excludeFiles, L"ExcludeFiles"),
    SETTING(ListSetting, excludeFolders, L"ExcludeFolders"),
    SETTING(NumberSetting, backupType, L"Type"),
    SETTING(NumberSetting, backupFolderCount, L"FolderCount"),
    SETTING(NumberSetting, backupFullPath, L"FullPath"),
    SETTING(NumberSetting, backupAddComputerFolder, L"AddComputerFolder"),
    SETTING(NumberSetting, backupAddBackupSetFolder, L"AddBackupSetFolder"),
    SETTING(NumberSetting, backupFollowSymLinks, NoElement),
    SETTING(NumberSetting, backupCreateLog, L"CreateLog"),
    SETTING(NumberSetting, backupExcludeFromStartAll, L"ExcludeFromStartAll"),
    SETTING(NumberSetting, preBackupEnabled, L"PreBackup/Enabled"),
    SETTING(NumberSetting, preBackupWaitForCompletion, L"PreBackup/WaitForCompletion"),
    SETTING(NumberSetting, preBackupIgnoreStatus, L"PreBackup/IgnoreStatus"),
    SETTING(NumberSetting, preBackupTimeout, L"PreBackup/Timeout"),
    SETTING(NumberSetting, preBackupTimeoutMS, L"PreBackup/TimeoutMS"),
    SETTING(TextSetting, preBackupProgram, L"PreBackup/Program"),
    SETTING(TextSetting, preBackupArgs, L"PreBackup/Args"),
    SETTING(NumberSetting, postBackupEnabled, L"PostBackup/Enabled"),
    SETTING(NumberSetting, postBackupWaitForCompletion, L"PostBackup/WaitForCompletion"),
    SETTING(NumberSetting, postBackupIgnoreStatus, L"PostBackup/IgnoreStatus"),
    SETTING(NumberSetting, postBackupTimeout, L"PostBackup/Timeout"),
    SETTING(NumberSetting, postBackupTimeoutMS, L"PostBackup/TimeoutMS"),
    SETTING(TextSetting, postBackupProgram, L"PostBackup/Program"),
    SETTING(TextSetting, postBackupArgs, L"PostBackup/Args"),
};

#undef SETTING
#undef WIDEN

}  // namespace

std::span<const AnySetting> backupSetSettings() {
    return Settings;
}
