// What the backup set record needs from the application's configuration,
// which lies above it: the clean-up applied to every stored path and pattern,
// and the registry key below which the sets are kept. The configuration
// implements it and installs itself while it exists; the record never
// reaches upwards for it.
#pragma once

#include "foundation/TBString.h"

class BackupSetConfiguration {
public:
    virtual ~BackupSetConfiguration();

    // The normalised form of a stored path or pattern. Any thread.
    virtual terbin::TBString fix(const terbin::TBString& path) const = 0;
    // The "/"-separated key path (hive 2) below which "BackupSets" lies.
    virtual terbin::TBString getRegistryRoot() const = 0;

    // Makes `configuration` the one the records use (null removes it). Called
    // while only one thread runs: at start-up and shut-down.
    static void install(const BackupSetConfiguration* configuration);
    // The installed configuration. Using a record's paths or persistence with
    // none installed is a programming error: it throws TBIllegalStateException.
    static const BackupSetConfiguration& installed();
    // The installed configuration when it is `configuration`, so that it can
    // remove itself without removing another.
    static bool isInstalled(const BackupSetConfiguration* configuration);
};
