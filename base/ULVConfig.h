// The application configuration; one global instance, theAppConfig.
#pragma once

#include "foundation/TBString.h"

class ULVConfig {
public:
    ULVConfig() = default;
    virtual ~ULVConfig() = default;

    // The clean-up of `path` in forward-slash form (TBFilename::fix, path
    // type 2), with one "/" put back in front when the path began with "//"
    // or two backslashes, so that a network path keeps its double leading
    // separator. Reads no state of the configuration.
    terbin::TBString fix(const terbin::TBString& path) const;

    // Registry key path (keys separated by "/") below which the application
    // keeps its data: "Software/Dallonet/Ulvaren".
    terbin::TBString getRegistryRoot() const { return L"Software/Dallonet/Ulvaren"; }
};

extern ULVConfig theAppConfig;
