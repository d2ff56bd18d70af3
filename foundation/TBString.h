// Wide-character string of the foundation layer. Every path and text of the
// system is a TBString. File names arrive as bytes; the conversion to and from
// bytes is lossless: valid UTF-8 decodes normally, and each byte of an invalid
// sequence becomes U+DC80 + byte, which encodes back to that same byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace terbin {

class TBString {
public:
    TBString() = default;
    TBString(const wchar_t* text) : value_(text ? text : L"") {}  // NOLINT: implicit by design
    TBString(const wchar_t* text, size_t count) : value_(text, count) {}
    TBString(std::wstring text) : value_(std::move(text)) {}  // NOLINT
    TBString(std::wstring_view text) : value_(text) {}        // NOLINT
    TBString(size_t count, wchar_t c) : value_(count, c) {}

    // Decodes bytes (a file name, a UTF-8 text) losslessly.
    static TBString fromBytes(std::string_view bytes);
    // The bytes this string stands for: UTF-8, with escaped bytes restored.
    std::string narrow() const;

    // `bytes` made fit to show on one line of a log or a terminal: "\\" for
    // a backslash; "\n", "\t" and "\r"; "\xNN" (two lower-case hex digits)
    // for every other control character (below 0x20, 0x7f, and the bytes of
    // the C1 controls U+0080..U+009F) and for every byte that is not part of
    // valid UTF-8. Valid UTF-8 otherwise stays as it is. The result is valid
    // UTF-8 without a control character, so it can neither start a line nor
    // drive a terminal, and distinct texts stay distinct.
    static std::string escapeBytes(std::string_view bytes);
    // escapeBytes() of the bytes this string stands for (see narrow()).
    std::string escaped() const { return escapeBytes(narrow()); }

    const wchar_t* c_str() const { return value_.c_str(); }
    const std::wstring& str() const { return value_; }
    std::wstring_view view() const { return value_; }
    int length() const { return static_cast<int>(value_.size()); }
    bool isEmpty() const { return value_.empty(); }
    wchar_t charAt(int index) const { return value_.at(static_cast<size_t>(index)); }
    wchar_t operator[](int index) const { return value_[static_cast<size_t>(index)]; }

    // 0 when the texts are equal but for letter case (Unicode simple case
    // folding), else the sign of the first folded difference.
    int compareNoCase(const TBString& other) const;
    bool equalsNoCase(const TBString& other) const { return compareNoCase(other) == 0; }
    // The text with every character replaced by its simple case fold.
    TBString foldCase() const;
    // The simple case fold of one character (escaped raw bytes have none).
    static wchar_t foldChar(wchar_t c);

    // Position of the first character that is one of `chars`, at or after
    // `start`; -1 when none.
    int firstOf(const TBString& chars, int start = 0) const;
    // Position of the first / last occurrence of a character; -1 when none.
    int first(wchar_t c, int start = 0) const;
    int last(wchar_t c) const;
    // Position of the first occurrence of `text` at or after `start`; -1 when none.
    int indexOf(const TBString& text, int start = 0) const;
    bool startsWith(const TBString& text) const { return value_.starts_with(text.value_); }
    bool endsWith(const TBString& text) const { return value_.ends_with(text.value_); }

    // The text without leading and trailing blanks and tabs.
    TBString trimmed() const;
    // The first `count` characters (all when the string is shorter).
    TBString left(int count) const;
    // `count` characters from `start` (the rest when count is negative).
    TBString mid(int start, int count = -1) const;
    // Every occurrence of `from` replaced by `to`, scanning left to right.
    TBString replace(const TBString& from, const TBString& to) const;

    // Encloses the text in `quoteChar`. With `always` false a text that holds
    // no blank and is not empty is returned unchanged. A text that is already
    // enclosed in the quote character is returned unchanged. `escape`, when
    // non-zero, is put before every quote character inside the text.
    TBString quote(wchar_t quoteChar, bool always, wchar_t escape) const;

    // Decimal value of the text (leading blanks and a sign allowed); 0 when the
    // text does not start with a number; clamped to the 32-bit range.
    int32_t toInt32() const;
    static TBString valueOf(int64_t value);

    TBString& operator+=(const TBString& other) {
        value_ += other.value_;
        return *this;
    }
    TBString& operator+=(wchar_t c) {
        value_ += c;
        return *this;
    }
    friend TBString operator+(TBString a, const TBString& b) { return a += b; }
    friend TBString operator+(TBString a, const wchar_t* b) { return a += TBString(b); }
    friend TBString operator+(const wchar_t* a, const TBString& b) { return TBString(a) += b; }
    friend TBString operator+(TBString a, wchar_t c) { return a += c; }
    friend bool operator==(const TBString& a, const TBString& b) = default;
    friend auto operator<=>(const TBString& a, const TBString& b) = default;

private:
    std::wstring value_;
};

// The length of the UTF-8 sequence that `lead` starts (1 for ASCII); 0 for a
// byte that cannot start one.
int utf8SequenceLength(unsigned char lead);
// Appends `codePoint` encoded as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace terbin

template <>
struct std::hash<terbin::TBString> {
    size_t operator()(const terbin::TBString& s) const noexcept {
        return std::hash<std::wstring>()(s.str());
    }
};
