#include "foundation/TBRegistry.h"

#include <cstring>

namespace terbin {

TBRegistryValue::TBRegistryValue(const TBString& name, const TBString& text)
    : TBValue(text), name_(name) {}

TBRegistryValue::TBRegistryValue(const TBString& name, int32_t number)
    : TBValue(number), name_(name) {}

TBRegistryValue::TBRegistryValue(const TBString& name, RegValueType type, const void* data,
                                 size_t size)
    : TBValue(type, data, size), name_(name) {}

TBMultiString::TBMultiString(const TBStringArray& entries) {
    for (const auto& entry : entries) {
        block_.insert(block_.end(), entry.str().begin(), entry.str().end());
        block_.push_back(L'\0');
    }
    block_.push_back(L'\0');
}

TBMultiString::TBMultiString(const TBValue& value) : block_(value.size() / sizeof(wchar_t)) {
    std::memcpy(block_.data(), value.data(), block_.size() * sizeof(wchar_t));
}

int TBMultiString::toStringArray(TBStringArray& entries) const {
    entries.clear();
    size_t end = block_.size();
    if (end > 0 && block_[end - 1] == L'\0')
        --end;  // the NUL that closes the block
    size_t start = 0;
    for (size_t i = 0; i < end; ++i) {
        if (block_[i] == L'\0') {
            entries.add(TBString(block_.data() + start, i - start));
            start = i + 1;
        }
    }
    if (start < end)
        entries.add(TBString(block_.data() + start, end - start));
    return entries.size();
}

}  // namespace terbin
