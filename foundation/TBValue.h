// A typed block of bytes, as the registry stores a value's data and as the
// application configuration keeps a product value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/TBString.h"

namespace terbin {

// How a value's bytes are to be read.
enum RegValueType : int32_t {
    RegNone = 0,         // no data
    RegString = 1,       // wchar_t text ended by one NUL
    RegDWord = 2,        // one int32_t in the machine's byte order
    RegBinary = 3,       // bytes of no given meaning
    RegMultiString = 4,  // wchar_t entries, each ended by a NUL, and one more NUL (TBMultiString)
};

// A typed block of bytes: a registry value's data, or a product setting.
class TBValue {
public:
    // An empty value of type RegNone.
    TBValue() = default;
    explicit TBValue(const TBString& text);
    explicit TBValue(int32_t number);
    TBValue(RegValueType type, const void* data, size_t size);

    RegValueType getType() const { return type_; }
    const void* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

    // RegString and RegMultiString: the text up to the first NUL (for a
    // multi-string its first entry). RegDWord: the number in decimal. Other
    // types: empty.
    TBString toString() const;
    // RegDWord: the number (0 when fewer than four bytes are held). RegString:
    // the decimal number the text starts with (TBString::toInt32). Other
    // types: 0.
    int32_t toInt32() const;
    uint32_t toUInt32() const { return static_cast<uint32_t>(toInt32()); }

    // Replaces type and data.
    void set(RegValueType type, const void* data, size_t size);
    void setString(const TBString& text);
    void setInt32(int32_t number);

    friend bool operator==(const TBValue& a, const TBValue& b) = default;

private:
    RegValueType type_ = RegNone;
    std::vector<unsigned char> bytes_;
};

}  // namespace terbin
