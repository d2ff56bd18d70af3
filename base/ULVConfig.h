// The application configuration; one global instance, theAppConfig. It holds
// the product values (built in, replaced by a product file where one is
// found), the product information record, the data folder and the registry
// root, and it registers the library's string tables with theBaseApp.
#pragma once

#include "backupset/BackupSetConfiguration.h"
#include "foundation/TBAppConfig.h"
#include "foundation/TBString.h"

class ULVConfig : public util::TBAppConfig, public BackupSetConfiguration {
public:
    // Sets the built-in product values, loads "product.bcf" from the
    // executable's folder or else from its parent (only the first found),
    // builds the product information record, derives the registry root and
    // adds the resource file "messages.ini" at the end of theBaseApp's string
    // tables. Runs while the library is loaded, after theBaseApp exists.
    // Installs itself as the backup sets' configuration; a copy does not.
    ULVConfig();
    ULVConfig(ULVConfig& other);
    ULVConfig& operator=(const ULVConfig& other);
    ~ULVConfig() override;

    // Start-up step of the host, once, on its main thread: adds the resource
    // file named after the executable (".ini" for its extension) at the end
    // of theBaseApp's string tables, sets the data folder to
    // <all-users application data>/Dallonet/Ulvaren unless one is set, and
    // creates the data folder (failure ignored). The argument is not used;
    // always returns true.
    bool init(int unused);

    // The clean-up of `path` in forward-slash form (TBFilename::fix, path
    // type 2), with one "/" put back in front when the path began with "//",
    // so that a network path keeps its double leading
    // separator. Reads no state of the configuration; any thread.
    terbin::TBString fix(const terbin::TBString& path) const override;
    // The application's registry root, as util::TBAppConfig derives it.
    terbin::TBString getRegistryRoot() const override {
        return util::TBAppConfig::getRegistryRoot();
    }
};

extern ULVConfig theAppConfig;
