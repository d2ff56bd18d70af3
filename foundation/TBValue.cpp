#include "foundation/TBValue.h"

#include <cstring>
#include <string>
#include <utility>

namespace terbin {

TBValue::TBValue(const TBString& text) {
    setString(text);
}

TBValue::TBValue(int32_t number) {
    setInt32(number);
}

TBValue::TBValue(RegValueType type, const void* data, size_t size) {
    set(type, data, size);
}

void TBValue::set(RegValueType type, const void* data, size_t size) {
    type_ = type;
    const auto* p = static_cast<const unsigned char*>(data);
    if (p) {
        bytes_.assign(p, p + size);
    } else {
        bytes_.clear();
    }
}

void TBValue::setString(const TBString& text) {
    // Stored with its terminating NUL, as registry strings are.
    set(RegString, text.c_str(), (static_cast<size_t>(text.length()) + 1) * sizeof(wchar_t));
}

void TBValue::setInt32(int32_t number) {
    set(RegDWord, &number, sizeof number);
}

TBString TBValue::toString() const {
    switch (type_) {
        case RegString:
        case RegMultiString: {
            std::wstring text(bytes_.size() / sizeof(wchar_t), L'\0');
            std::memcpy(text.data(), bytes_.data(), text.size() * sizeof(wchar_t));
            const size_t nul = text.find(L'\0');
            if (nul != std::wstring::npos)
                text.resize(nul);
            return TBString(std::move(text));
        }
        case RegDWord:
            return TBString::valueOf(toInt32());
        default:
            return {};
    }
}

int32_t TBValue::toInt32() const {
    switch (type_) {
        case RegDWord: {
            int32_t number = 0;
            if (bytes_.size() >= sizeof number)
                std::memcpy(&number, bytes_.data(), sizeof number);
            return number;
        }
        case RegString:
            return toString().toInt32();
        default:
            return 0;
    }
}

}  // namespace terbin
