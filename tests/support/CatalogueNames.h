// What the catalogue holds and what the registry stores, as "KEY NAME"
// lines, for tests that change both.
#pragma once

#include <string>
#include <vector>

#include "backupset/BackupSet.h"
#include "base/ULVbase.h"
#include "foundation/TBRegistry.h"

// Every set of theBaseApp's catalogue, in catalogue order.
inline std::vector<std::string> catalogueNames() {
    std::vector<std::string> out;
    for (const BackupSet* set : theBaseApp.backupSets)
        out.push_back(set->registryKeyName.narrow() + " " + set->backupName.narrow());
    return out;
}

// Every set stored under the sets' key, in key order.
inline std::vector<std::string> storedNames() {
    terbin::TBStringArray names;
    terbin::TBRegistryKey(terbin::TBHiveCurrentUser, BackupSet::setsKeyPath(), false)
        .keyNames(names);
    std::vector<std::string> out;
    for (const terbin::TBString& name : names) {
        BackupSet set;
        set.load(name);
        out.push_back(name.narrow() + " " + set.backupName.narrow());
    }
    return out;
}
