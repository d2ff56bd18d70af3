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
};

extern ULVConfig theAppConfig;
