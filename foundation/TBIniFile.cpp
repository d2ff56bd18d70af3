#include "foundation/TBIniFile.h"

#include <string>
#include <string_view>

#include "foundation/TBFile.h"

namespace terbin {

namespace {}  // namespace

TBConfigKey::TBConfigKey(const TBString& name, bool caseSensitive)
    : name_(name), caseSensitive_(caseSensitive) {}

TBConfigKey::~TBConfigKey() = default;

TBString TBConfigKey::lookupName(const TBString& name) const {
    return caseSensitive_ ? name : name.foldCase();
}

TBConfigKey* TBConfigKey::findKey(const TBString& name) const {
    const auto it = keyIndex_.find(lookupName(name));
    return it == keyIndex_.end() ? nullptr : it->second;
}

TBConfigValue* TBConfigKey::value(const TBString& name) const {
    const auto it = valueIndex_.find(lookupName(name));
    return it == valueIndex_.end() ? nullptr : it->second;
}

TBConfigKey* TBConfigKey::addKey(const TBString& name) {
    TBConfigKey*& slot = keyIndex_[lookupName(name)];
    if (slot == nullptr) {
        keys_.push_back(std::make_unique<TBConfigKey>(name, caseSensitive_));
        slot = keys_.back().get();
    }
    return slot;
}

TBConfigValue* TBConfigKey::addValue(const TBString& name, const TBString& text) {
    TBConfigValue*& slot = valueIndex_[lookupName(name)];
    if (slot == nullptr) {
        values_.push_back(std::make_unique<TBConfigValue>(name, text));
        slot = values_.back().get();
    }
    return slot;
}

TBIniFile::TBIniFile(const TBString& fileName, bool readNow, bool caseSensitive)
    : TBConfigKey(TBString(), caseSensitive), fileName_(fileName) {
    if (readNow && !fileName.isEmpty())
        readFromFile(fileName);
}

uint32_t TBIniFile::readFromFile(const TBString& path) {
    // String tables are small; anything larger than this is not one.
    constexpr int64_t MaxBytes = 16 << 20;
    std::string bytes;
    const uint32_t result = TBFile::readAll(path, bytes, MaxBytes);
    if (result != 0 && bytes.empty())
        return result;

    std::string_view rest(bytes);
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    TBConfigKey* section = this;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        parseLine(TBString::fromBytes(line), section);
    }
    return result;
}

void TBIniFile::parseLine(const TBString& rawLine, TBConfigKey*& section) {
    const TBString line = rawLine.trimmed();
    if (line.isEmpty() || line[0] == L';' || line[0] == L'#')
        return;
    if (line[0] == L'[') {
        const int close = line.first(L']');
        if (close > 0)
            section = addKey(line.mid(1, close - 1).trimmed());
        return;
    }
    const int equals = line.first(L'=');
    if (equals <= 0)
        return;
    const TBString key = line.left(equals).trimmed();
    if (key.isEmpty())
        return;
    TBString text = line.mid(equals + 1).trimmed();
    if (text.length() >= 2 && text[0] == L'"' && text[text.length() - 1] == L'"') {
        text = text.mid(1, text.length() - 2);
    }
    section->addValue(key, text);
}

}  // namespace terbin
