#include "foundation/TBString.h"

#include <unicode/uchar.h>

#include <climits>
#include <cwctype>

namespace terbin {

namespace {

// A byte b (0x80..0xFF) that is not part of valid UTF-8 becomes U+DC00 + b,
// i.e. U+DC80..U+DCFF: lone surrogates, which valid text never holds.
constexpr char32_t EscapeBase = 0xDC00;

// Decodes one well-formed sequence; returns 0 when it is malformed (overlong,
// a surrogate, beyond U+10FFFF or a missing continuation byte).
char32_t decodeSequence(const unsigned char* p, int n) {
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    char32_t cp = 0;
    switch (n) {
        case 2:
            cp = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
            break;
        case 3:
            cp = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
                return 0;
            break;
        case 4:
            cp = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) |
                 (p[3] & 0x3Fu);
            if (cp < 0x10000 || cp > 0x10FFFF)
                return 0;
            break;
        default:
            return 0;
    }
    return cp;
}

inline wchar_t fold(wchar_t c) {
    // ASCII is by far the commonest case in file names; skip ICU for it.
    if (c < 0x80)
        return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    if (c >= 0xDC80 && c <= 0xDCFF)
        return c;  // escaped raw byte: no case
    return static_cast<wchar_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

}  // namespace

int utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

wchar_t TBString::foldChar(wchar_t c) {
    return fold(c);
}

TBString TBString::fromBytes(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        const int n = utf8SequenceLength(lead);
        char32_t cp = 0;
        if (n > 1 && i + static_cast<size_t>(n) <= size)
            cp = decodeSequence(p + i, n);
        if (cp != 0) {
            out += static_cast<wchar_t>(cp);
            i += static_cast<size_t>(n);
        } else {
            out += static_cast<wchar_t>(EscapeBase + lead);
            ++i;
        }
    }
    return TBString(std::move(out));
}

std::string TBString::narrow() const {
    std::string out;
    out.reserve(value_.size());
    for (wchar_t wc : value_) {
        const auto cp = static_cast<char32_t>(wc);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp >= EscapeBase + 0x80 && cp <= EscapeBase + 0xFF) {
            out += static_cast<char>(cp - EscapeBase);
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            appendUtf8(out, 0xFFFD);  // cannot be encoded; never produced by fromBytes
        } else {
            appendUtf8(out, cp);
        }
    }
    return out;
}

std::string TBString::escapeBytes(std::string_view bytes) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    auto escapeByte = [&out](unsigned char b) {
        out += "\\x";
        out += Hex[b >> 4];
        out += Hex[b & 0xF];
    };
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char b = p[i];
        if (b >= 0x80) {
            const int n = utf8SequenceLength(b);
            const char32_t cp =
                n > 1 && i + static_cast<size_t>(n) <= size ? decodeSequence(p + i, n) : 0;
            if (cp == 0) {
                escapeByte(b);
                ++i;
            } else if (cp < 0xA0) {
                // A C1 control: some terminals obey U+009B as they obey ESC [.
                escapeByte(p[i]);
                escapeByte(p[i + 1]);
                i += 2;
            } else {
                out.append(bytes.substr(i, static_cast<size_t>(n)));
                i += static_cast<size_t>(n);
            }
            continue;
        }
        switch (b) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (b < 0x20 || b == 0x7F) {
                    escapeByte(b);
                } else {
                    out += static_cast<char>(b);
                }
        }
        ++i;
    }
    return out;
}

int TBString::compareNoCase(const TBString& other) const {
    const size_t n = std::min(value_.size(), other.value_.size());
    for (size_t i = 0; i < n; ++i) {
        const wchar_t a = fold(value_[i]);
        const wchar_t b = fold(other.value_[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (value_.size() == other.value_.size())
        return 0;
    return value_.size() < other.value_.size() ? -1 : 1;
}

TBString TBString::foldCase() const {
    std::wstring out(value_);
    for (auto& c : out) c = fold(c);
    return TBString(std::move(out));
}

int TBString::firstOf(const TBString& chars, int start) const {
    if (start < 0)
        start = 0;
    const size_t pos = value_.find_first_of(chars.value_, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int TBString::first(wchar_t c, int start) const {
    if (start < 0)
        start = 0;
    const size_t pos = value_.find(c, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int TBString::last(wchar_t c) const {
    const size_t pos = value_.rfind(c);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int TBString::indexOf(const TBString& text, int start) const {
    if (start < 0)
        start = 0;
    if (static_cast<size_t>(start) > value_.size())
        return -1;
    const size_t pos = value_.find(text.value_, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

TBString TBString::trimmed() const {
    const size_t start = value_.find_first_not_of(L" \t");
    if (start == std::wstring::npos)
        return {};
    const size_t end = value_.find_last_not_of(L" \t");
    return TBString(value_.substr(start, end - start + 1));
}

TBString TBString::left(int count) const {
    if (count <= 0)
        return {};
    return TBString(value_.substr(0, static_cast<size_t>(count)));
}

TBString TBString::mid(int start, int count) const {
    if (start < 0)
        start = 0;
    if (static_cast<size_t>(start) >= value_.size())
        return {};
    if (count < 0)
        return TBString(value_.substr(static_cast<size_t>(start)));
    return TBString(value_.substr(static_cast<size_t>(start), static_cast<size_t>(count)));
}

TBString TBString::replace(const TBString& from, const TBString& to) const {
    if (from.isEmpty())
        return *this;
    std::wstring out;
    out.reserve(value_.size());
    size_t pos = 0;
    for (;;) {
        const size_t hit = value_.find(from.value_, pos);
        if (hit == std::wstring::npos)
            break;
        out.append(value_, pos, hit - pos);
        out += to.value_;
        pos = hit + from.value_.size();
    }
    out.append(value_, pos, std::wstring::npos);
    return TBString(std::move(out));
}

TBString TBString::quote(wchar_t quoteChar, bool always, wchar_t escape) const {
    if (value_.size() >= 2 && value_.front() == quoteChar && value_.back() == quoteChar) {
        return *this;
    }
    if (!always && !value_.empty() && value_.find_first_of(L" \t") == std::wstring::npos) {
        return *this;
    }
    std::wstring out;
    out.reserve(value_.size() + 2);
    out += quoteChar;
    for (wchar_t c : value_) {
        if (c == quoteChar && escape != 0)
            out += escape;
        out += c;
    }
    out += quoteChar;
    return TBString(std::move(out));
}

int32_t TBString::toInt32() const {
    size_t i = 0;
    while (i < value_.size() && std::iswspace(static_cast<wint_t>(value_[i]))) ++i;
    bool negative = false;
    if (i < value_.size() && (value_[i] == L'-' || value_[i] == L'+')) {
        negative = value_[i] == L'-';
        ++i;
    }
    int64_t result = 0;
    for (; i < value_.size() && value_[i] >= L'0' && value_[i] <= L'9'; ++i) {
        result = result * 10 + (value_[i] - L'0');
        if (result > static_cast<int64_t>(INT32_MAX) + 1)
            break;
    }
    if (negative)
        result = -result;
    if (result > INT32_MAX)
        return INT32_MAX;
    if (result < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(result);
}

TBString TBString::valueOf(int64_t value) {
    return TBString(std::to_wstring(value));
}

}  // namespace terbin
