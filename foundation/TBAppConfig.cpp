#include "foundation/TBAppConfig.h"

#include <string>
#include <string_view>

#include "foundation/TBEnvironment.h"
#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBString;
using terbin::TBValue;

namespace util {

namespace {

// The value of a whole decimal number within 32 bits; false for anything else.
bool parseInteger(const TBString& text, int32_t& number) {
    int i = 0;
    const bool negative = !text.isEmpty() && text[0] == L'-';
    if (!text.isEmpty() && (text[0] == L'-' || text[0] == L'+'))
        ++i;
    if (i == text.length())
        return false;
    int64_t value = 0;
    for (; i < text.length(); ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        value = value * 10 + (text[i] - L'0');
        if (value > int64_t{INT32_MAX} + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return false;
    number = static_cast<int32_t>(value);
    return true;
}

// A product file's value text: a quoted string, or the text up to a comment.
TBValue parseValue(const TBString& raw) {
    const TBString text = raw.trimmed();
    if (!text.isEmpty() && text[0] == L'"') {
        const int close = text.first(L'"', 1);
        if (close > 0)
            return TBValue(text.mid(1, close - 1));
    }
    const int hash = text.first(L'#');
    const TBString plain = (hash < 0 ? text : text.left(hash)).trimmed();
    int32_t number = 0;
    if (parseInteger(plain, number))
        return TBValue(number);
    return TBValue(plain);
}

}  // namespace

TBString TBAppInfo::version(const TBString& format) const {
    TBString out;
    for (int i = 0; i < format.length(); ++i) {
        const wchar_t c = format[i];
        const wchar_t next = i + 1 < format.length() ? format[i + 1] : L'\0';
        if (c != L'%') {
            out += c;
            continue;
        }
        switch (next) {
            case L't':
                out += title;
                break;
            case L'm':
                out += TBString::valueOf(majorVersion);
                break;
            case L'n':
                out += TBString::valueOf(minorVersion);
                break;
            case L'r':
                out += TBString::valueOf(revision);
                break;
            case L'b':
                out += TBString::valueOf(build);
                break;
            case L'%':
                out += L'%';
                break;
            default:
                out += c;
                continue;
        }
        ++i;
    }
    return out;
}

TBString TBAppInfo::version(const char* format) const {
    return version(TBString::fromBytes(format ? format : ""));
}

TBAppConfig::TBAppConfig(const TBString& productName) : productName_(productName) {}

TBAppConfig::~TBAppConfig() = default;

uint32_t TBAppConfig::loadProductInfo(const TBString& path) {
    // A product file is a few lines; anything larger than this is not one.
    constexpr int64_t MaxBytes = 1 << 20;
    std::string bytes;
    const uint32_t result = terbin::TBFile::readAll(path, bytes, MaxBytes);
    if (result != 0)
        return result;

    std::string_view rest(bytes);
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const TBString line =
            TBString::fromBytes(rest.substr(0, end)).replace(L"\r", L"").trimmed();
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.isEmpty() || line[0] == L'#')
            continue;
        const int equals = line.first(L'=');
        if (equals <= 0)
            continue;
        const TBString name = line.left(equals).trimmed();
        if (name.isEmpty())
            continue;
        const TBValue value = parseValue(line.mid(equals + 1));
        setProductValue(name, value);
        if (name.equalsNoCase(L"DATA_DIR"))
            setDataDir(value.toString());
    }
    return result;
}

void TBAppConfig::setProductValue(const TBString& name, const TBValue& value) {
    values_[name.foldCase()] = value;
}

bool TBAppConfig::getProductValue(const TBString& name, TBValue& value) const {
    const auto it = values_.find(name.foldCase());
    if (it == values_.end())
        return false;
    value = it->second;
    return true;
}

bool TBAppConfig::isProductValue(const TBString& name) const {
    return values_.contains(name.foldCase());
}

TBString TBAppConfig::getProductString(const TBString& name) const {
    TBValue value;
    return getProductValue(name, value) ? value.toString() : TBString();
}

int32_t TBAppConfig::getProductInteger(const TBString& name, int32_t defaultValue) const {
    TBValue value;
    return getProductValue(name, value) ? value.toInt32() : defaultValue;
}

int32_t TBAppConfig::getProductInt32(const TBString& name) const {
    return getProductInteger(name, 0);
}

uint32_t TBAppConfig::getProductUInt32(const TBString& name) const {
    const int32_t value = getProductInteger(name, 0);
    return value < 0 ? 0 : static_cast<uint32_t>(value);
}

void TBAppConfig::init(const TBString& productName) {
    productName_ = productName;
    const TBString company = getProductString(L"PRODUCT_COMPANY");
    registryRoot_ = company.isEmpty() ? L"Software/" + productName_
                                      : L"Software/" + company + L"/" + productName_;
}

TBString TBAppConfig::getRegistryRoot() const {
    return registryRoot_;
}

TBString TBAppConfig::getResourceFile(const TBString& name) const {
    const TBString exeFolder = TBFilename::dirname(terbin::tb_misc_getExecutablePath());
    TBString folders[3];
    int count = 0;
    const TBString fromEnvironment = terbin::tb_misc_getEnvironmentVariable(L"ULVAREN_RESOURCES");
    if (!fromEnvironment.isEmpty())
        folders[count++] = fromEnvironment;
    folders[count++] = TBFilename::concatPaths(exeFolder, L"resources");
    folders[count++] = TBFilename::fix(TBFilename::concatPaths(exeFolder, L"../share/ulvaren"));
    for (int i = 0; i < count; ++i) {
        const TBString path = TBFilename::concatPaths(folders[i], name, TBFilename::NativePath);
        if (TBFileInfo::isFile(path))
            return path;
    }
    return TBFilename::concatPaths(folders[0], name, TBFilename::NativePath);
}

}  // namespace util
