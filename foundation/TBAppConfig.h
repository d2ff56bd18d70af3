// The application configuration of the util library: named product values,
// the product information record, the data folder, the registry root and the
// place of the application's resource files.
#pragma once

#include <cstdint>
#include <map>

#include "foundation/TBString.h"
#include "foundation/TBValue.h"

namespace util {

// The product information record: title and four version numbers.
class TBAppInfo {
public:
    TBAppInfo() = default;
    TBAppInfo(const terbin::TBString& productTitle, uint32_t major, uint32_t minor,
              uint32_t revisionNumber, uint32_t buildNumber)
        : title(productTitle),
          majorVersion(major),
          minorVersion(minor),
          revision(revisionNumber),
          build(buildNumber) {}

    // `format` with %t replaced by the title, %m, %n, %r and %b by the major,
    // minor, revision and build numbers in decimal, and %% by "%". Any other
    // character, including a "%" before another letter, is copied unchanged.
    // So "%t v%m.%n.%r build %b" gives "Ulvaren v1.1.6 build 126".
    terbin::TBString version(const terbin::TBString& format) const;
    // The same for a UTF-8 format.
    terbin::TBString version(const char* format) const;

    terbin::TBString title;
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t revision = 0;
    uint32_t build = 0;
};

// Product values are named case-insensitively. A value is a string
// (RegString) or a 32-bit integer (RegDWord), kept as a terbin::TBValue.
// Copying copies everything.
// Used on the thread that set it up; reading it from other threads is safe
// while nobody changes it.
class TBAppConfig {
public:
    // `productName` is the product's name until init gives another.
    explicit TBAppConfig(const terbin::TBString& productName);
    virtual ~TBAppConfig();
    TBAppConfig(const TBAppConfig&) = default;
    TBAppConfig& operator=(const TBAppConfig&) = default;

    // Reads a product file: UTF-8 lines "NAME = value". A line whose first
    // non-blank character is "#" is a comment, and so is everything from a
    // "#" outside double quotes to the end of the line. A value that is a
    // whole decimal number (optional sign, within 32 bits) becomes an
    // integer; any other value a string, with one pair of enclosing double
    // quotes removed (so a quoted number stays a string). Each value replaces
    // one of the same name. DATA_DIR also sets the data folder. Lines without
    // "=" or without a name are skipped. Returns 0, or the result code of
    // opening or reading the file.
    virtual uint32_t loadProductInfo(const terbin::TBString& path);
    // Sets (or replaces) the value called `name`.
    virtual void setProductValue(const terbin::TBString& name, const terbin::TBValue& value);
    // Stores the value called `name` in `value` and returns true; returns
    // false and leaves `value` alone when there is none.
    virtual bool getProductValue(const terbin::TBString& name, terbin::TBValue& value) const;
    virtual bool isProductValue(const terbin::TBString& name) const;
    // The value as text; empty when it was never set.
    virtual terbin::TBString getProductString(const terbin::TBString& name) const;
    // The value as integer (a string by its decimal value); `defaultValue`
    // when it was never set.
    virtual int32_t getProductInteger(const terbin::TBString& name, int32_t defaultValue) const;
    // The value as integer; 0 when it was never set.
    virtual int32_t getProductInt32(const terbin::TBString& name) const;
    // The value as unsigned integer; 0 when it was never set or is negative.
    virtual uint32_t getProductUInt32(const terbin::TBString& name) const;

    void setProductInfo(const TBAppInfo& info) { product_ = info; }
    const TBAppInfo& product() const { return product_; }

    // The application's data folder; empty until set.
    void setDataDir(const terbin::TBString& path) { dataDir_ = path; }
    const terbin::TBString& getDataDir() const { return dataDir_; }

    // Sets the product name and derives the registry root from it and the
    // value PRODUCT_COMPANY.
    void init(const terbin::TBString& productName);
    const terbin::TBString& getProductName() const { return productName_; }
    // "Software/" + company + "/" + product name ("Software/" + product name
    // without a company), as init derived it; empty before init.
    terbin::TBString getRegistryRoot() const;

    // Full path of the resource file `name`. The folders searched, in order:
    // $ULVAREN_RESOURCES when set, <exe folder>/resources and
    // <exe folder>/../share/ulvaren. The first that holds a file of that name
    // gives the path; when none does, the path names it in the first folder.
    terbin::TBString getResourceFile(const terbin::TBString& name) const;

private:
    std::map<terbin::TBString, terbin::TBValue> values_;  // keyed by folded name
    TBAppInfo product_;
    terbin::TBString dataDir_;
    terbin::TBString productName_;
    terbin::TBString registryRoot_;
};

}  // namespace util
