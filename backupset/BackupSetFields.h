// The settings of a backup set as one table: every field that describes what
// a set copies and how, as opposed to the run-time side that a job fills in.
// Assignment, registry persistence and definition files all walk this table,
// so a setting added here is copied, saved, loaded and read from files alike.
#pragma once

#include <cstdint>
#include <span>
#include <variant>

#include "backupset/BackupSet.h"
#include "foundation/TBString.h"
#include "foundation/TBStringArray.h"

// One setting of kind `Field`: terbin::TBString (a text), int32_t (a number
// or switch) or terbin::TBStringArray (a list).
template <typename Field>
struct BackupSetting {
    // Name of the registry value that holds it: the field's own name.
    const wchar_t* name;
    Field BackupSet::*field;
    // Element that sets it in a definition file, below "backupset", with "/"
    // between nested element names ("PreBackup/Program"); null when
    // definition files cannot set it.
    const wchar_t* definitionPath;
};

using TextSetting = BackupSetting<terbin::TBString>;
using NumberSetting = BackupSetting<int32_t>;
using ListSetting = BackupSetting<terbin::TBStringArray>;
using AnySetting = std::variant<TextSetting, NumberSetting, ListSetting>;

// Every setting, in the record's declaration order.
std::span<const AnySetting> backupSetSettings();

// Calls `visit` with each setting in declaration order, as the TextSetting,
// NumberSetting or ListSetting it is; `visit` must take all three (a generic
// lambda, or one overloaded on the field's type through `set.*setting.field`).
template <typename Visitor>
void forEachSetting(Visitor&& visit) {
    for (const AnySetting& setting : backupSetSettings()) std::visit(visit, setting);
}
