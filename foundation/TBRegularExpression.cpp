#include "foundation/TBRegularExpression.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

#include <bitset>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace terbin {

namespace {

// ICU's time limit, in its steps of some ten thousand backtracking states
// (here about a tenth of a second). Only repetitions that can split a name in
// very many ways take that long; such a match is given up rather than letting
// one pattern stall a backup.
constexpr int32_t IcuTimeLimit = 1000;

// Bounds for the shared compiled forms and the per-thread matchers. Backup
// sets hold a handful of patterns, so these are reached only by a program
// that builds expressions from changing data.
constexpr size_t CacheTrimSize = 1024;
constexpr size_t MatchersPerThread = 256;

constexpr uint32_t IgnoreCaseFlag = 1;
constexpr uint32_t MultiLineFlag = 2;

constexpr wchar_t CarriageReturn = L'\r';
constexpr wchar_t LineFeed = L'\n';

inline uint32_t codePoint(wchar_t c) {
    return static_cast<uint32_t>(c);
}

// A high surrogate would pair with a following low one in UTF-16 and change
// what ICU sees, and values beyond U+10FFFF have no UTF-16 form. Low
// surrogates stand alone (they carry the raw bytes of invalid UTF-8 names)
// and reach ICU unchanged.
inline bool isScalar(uint32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDBFF);
}

void appendUtf16(std::u16string& out, std::wstring_view text) {
    for (const wchar_t wc : text) {
        const uint32_t c = codePoint(wc);
        if (!isScalar(c)) {
            out += u'\uFFFD';
        } else if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(U16_LEAD(c));
            out += static_cast<char16_t>(U16_TRAIL(c));
        }
    }
}

bool foldsToSeveral(UChar32 c) {
    UChar source[2];
    int32_t length = 0;
    U16_APPEND_UNSAFE(source, length, c);
    UChar folded[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t foldedLength =
        u_strFoldCase(folded, 8, source, length, U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return true;
    int32_t index = 0;
    UChar32 first = 0;
    U16_NEXT(folded, index, foldedLength, first);
    return index < foldedLength;
}

// Characters whose full case folding is longer than one character ("ß" to
// "ss"). ICU folds literal strings fully and single characters simply; for
// texts without these characters both foldings agree everywhere.
class ExpandingFolds {
public:
    ExpandingFolds() {
        for (UChar32 c = 0x80; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            if (foldsToSeveral(c))
                bmp_.set(static_cast<size_t>(c));
        }
    }
    bool contains(uint32_t c) const {
        return c < 0x10000 ? bmp_.test(c) : foldsToSeveral(static_cast<UChar32>(c));
    }

private:
    std::bitset<0x10000> bmp_;
};

const ExpandingFolds& expandingFolds() {
    static const ExpandingFolds table;
    return table;
}

inline wchar_t foldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
}

// The simple case fold of a valid, non-expanding character, as
// TBString::foldCase gives it.
inline wchar_t foldSimple(uint32_t c) {
    if (c < 0x80)
        return foldAscii(static_cast<wchar_t>(c));
    return static_cast<wchar_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

// ---- Plain wildcard expressions

enum class TokenKind : uint8_t { Char, AnyOne, AnyRun };

struct Token {
    TokenKind kind;
    wchar_t c;
};

bool isOperator(wchar_t c) {
    return std::wstring_view(L"\\^$.|?*+()[]{}").find(c) != std::wstring_view::npos;
}

// A character that ICU takes literally outside a class. Control characters
// are left to ICU: a literal line break would meet the rule that "." steps
// over a CR LF pair as one.
bool isLiteral(wchar_t wc) {
    const uint32_t c = codePoint(wc);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return false;
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    return c <= 0x10FFFF && !isOperator(wc);
}

// ICU gives a backslash before a letter or digit a meaning of its own; before
// ASCII punctuation it only quotes.
bool isQuotablePunctuation(wchar_t c) {
    return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

// Splits a plain wildcard expression into tokens, literals folded when
// `ignoreCase`. False for every other expression.
bool tokenize(std::wstring_view e, bool ignoreCase, std::vector<Token>& tokens) {
    const size_t n = e.size();
    size_t i = 0;
    if (n > 0 && e[0] == L'^')
        ++i;
    while (i < n) {
        const wchar_t c = e[i];
        wchar_t literal = 0;
        if (c == L'.') {
            if (e.substr(i, 2) == L".*") {
                // A run after a run adds nothing, and merging keeps "**" from
                // costing a power of the name's length.
                if (tokens.empty() || tokens.back().kind != TokenKind::AnyRun) {
                    tokens.push_back({TokenKind::AnyRun, 0});
                }
                i += 2;
            } else if (e.substr(i, 4) == L".{1}") {
                tokens.push_back({TokenKind::AnyOne, 0});
                i += 4;
            } else {
                tokens.push_back({TokenKind::AnyOne, 0});
                ++i;
            }
            continue;
        }
        if (c == L'$' && i + 1 == n)
            break;
        if (c == L'\\') {
            if (i + 1 >= n || !isQuotablePunctuation(e[i + 1]))
                return false;
            literal = e[i + 1];
            i += 2;
        } else if (isLiteral(c)) {
            literal = c;
            ++i;
        } else {
            return false;
        }
        if (ignoreCase) {
            if (expandingFolds().contains(codePoint(literal)))
                return false;
            literal = foldSimple(codePoint(literal));
        }
        tokens.push_back({TokenKind::Char, literal});
    }
    return true;
}

// Length of the character starting at `i` as ICU's "." sees it.
inline size_t unitAt(std::wstring_view text, size_t i) {
    return (text[i] == CarriageReturn && i + 1 < text.size() && text[i + 1] == LineFeed) ? 2 : 1;
}

// Whole-text match of plain wildcard tokens. When a token fails, the latest
// run takes one more character and matching resumes after it; trying the
// earlier runs again cannot help, as the latest run can absorb anything they
// would leave. Every position reached lies outside a CR LF pair (no literal
// is a line break), so stepping the run by "." units meets all of ICU's
// positions.
bool matchTokens(const std::vector<Token>& tokens, std::wstring_view text) {
    const size_t n = text.size();
    const size_t m = tokens.size();
    size_t s = 0;
    size_t t = 0;
    size_t runToken = m;
    size_t runEnd = 0;
    for (;;) {
        if (t < m) {
            const Token& token = tokens[t];
            if (token.kind == TokenKind::AnyRun) {
                runToken = t++;
                runEnd = s;
                continue;
            }
            if (s < n) {
                if (token.kind == TokenKind::AnyOne) {
                    s += unitAt(text, s);
                    ++t;
                    continue;
                }
                if (text[s] == token.c) {
                    ++s;
                    ++t;
                    continue;
                }
            }
        } else if (s == n) {
            return true;
        }
        if (runToken == m || runEnd >= n)
            return false;
        runEnd += unitAt(text, runEnd);
        s = runEnd;
        t = runToken + 1;
    }
}

}  // namespace

struct TBRegularExpression::Compiled {
    TBString expression;
    bool ignoreCase = false;
    uint64_t id = 0;
    // Null when the expression does not compile.
    std::unique_ptr<icu::RegexPattern> pattern;
    bool plain = false;
    std::vector<Token> tokens;
    // Literal tokens at the very start and end: every match begins and ends
    // with exactly these characters, so most subjects fail on them at once.
    size_t leadingChars = 0;
    size_t trailingChars = 0;

    bool matchPlain(std::wstring_view text) const {
        if (text.size() < leadingChars || text.size() < trailingChars)
            return false;
        for (size_t i = 0; i < leadingChars; ++i) {
            if (text[i] != tokens[i].c)
                return false;
        }
        const size_t textOffset = text.size() - trailingChars;
        const size_t tokenOffset = tokens.size() - trailingChars;
        for (size_t i = 0; i < trailingChars; ++i) {
            if (text[textOffset + i] != tokens[tokenOffset + i].c)
                return false;
        }
        return matchTokens(tokens, text);
    }

    static std::shared_ptr<const Compiled> get(const TBString& expression, uint32_t flags);
};

namespace {

struct CacheKey {
    TBString expression;
    uint32_t flags;
    friend bool operator==(const CacheKey&, const CacheKey&) = default;
};

struct CacheKeyHash {
    size_t operator()(const CacheKey& key) const noexcept {
        return std::hash<TBString>()(key.expression) ^ key.flags;
    }
};

}  // namespace

std::shared_ptr<const TBRegularExpression::Compiled> TBRegularExpression::Compiled::get(
    const TBString& expression, uint32_t flags) {
    // Never destroyed, so expressions stay usable from other objects'
    // destructors at exit.
    static auto& mutex = *new std::mutex;
    static auto& cache =
        *new std::unordered_map<CacheKey, std::shared_ptr<const Compiled>, CacheKeyHash>;
    static uint64_t nextId = 1;

    CacheKey key{expression, flags};
    const std::lock_guard<std::mutex> guard(mutex);
    const auto found = cache.find(key);
    if (found != cache.end())
        return found->second;

    if (cache.size() >= CacheTrimSize) {
        // Held only here, an entry is in use by no object and no matcher.
        std::erase_if(cache, [](const auto& entry) { return entry.second.use_count() == 1; });
    }

    auto compiled = std::make_shared<Compiled>();
    compiled->expression = expression;
    compiled->ignoreCase = (flags & IgnoreCaseFlag) != 0;
    compiled->id = nextId++;

    std::u16string utf16;
    appendUtf16(utf16, expression.view());
    uint32_t icuFlags = UREGEX_DOTALL;
    if (compiled->ignoreCase)
        icuFlags |= UREGEX_CASE_INSENSITIVE;
    if ((flags & MultiLineFlag) != 0)
        icuFlags |= UREGEX_MULTILINE;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    const icu::UnicodeString source(false, utf16.data(), static_cast<int32_t>(utf16.size()));
    compiled->pattern.reset(icu::RegexPattern::compile(source, icuFlags, parseError, status));
    if (U_FAILURE(status))
        compiled->pattern.reset();

    if (compiled->pattern && tokenize(expression.view(), compiled->ignoreCase, compiled->tokens)) {
        compiled->plain = true;
        const auto& tokens = compiled->tokens;
        while (compiled->leadingChars < tokens.size() &&
               tokens[compiled->leadingChars].kind == TokenKind::Char) {
            ++compiled->leadingChars;
        }
        while (compiled->trailingChars < tokens.size() &&
               tokens[tokens.size() - 1 - compiled->trailingChars].kind == TokenKind::Char) {
            ++compiled->trailingChars;
        }
    }

    cache.emplace(std::move(key), compiled);
    return compiled;
}

TBRegularExpression::Subject::Subject(const TBString& text) : text_(text.view()) {
    folded_.resize(text_.size());
    for (size_t i = 0; i < text_.size(); ++i) {
        const uint32_t c = codePoint(text_[i]);
        if (c < 0x80) {
            folded_[i] = foldAscii(text_[i]);
        } else if (!isScalar(c) || expandingFolds().contains(c)) {
            folded_[i] = text_[i];
            simple_ = false;
        } else {
            folded_[i] = foldSimple(c);
        }
    }
}

const std::u16string& TBRegularExpression::Subject::utf16() const {
    if (!haveUtf16_) {
        utf16_.reserve(text_.size());
        appendUtf16(utf16_, text_);
        haveUtf16_ = true;
    }
    return utf16_;
}

TBRegularExpression::TBRegularExpression(const TBString& expression, bool ignoreCase,
                                         bool multiLine)
    : compiled_(Compiled::get(
          expression, (ignoreCase ? IgnoreCaseFlag : 0) | (multiLine ? MultiLineFlag : 0))) {}

const TBString& TBRegularExpression::getExpression() const {
    return compiled_->expression;
}

bool TBRegularExpression::isValid() const {
    return compiled_->pattern != nullptr;
}

bool TBRegularExpression::isPlainWildcard() const {
    return compiled_->plain;
}

bool TBRegularExpression::matches(const TBString& subject) const {
    if (!isValid())
        return false;
    return matches(Subject(subject));
}

bool TBRegularExpression::matches(const Subject& subject) const {
    const Compiled& compiled = *compiled_;
    if (!compiled.pattern)
        return false;
    if (compiled.plain) {
        // For any other subject ICU's result is not one of per-character
        // comparison, so ICU decides.
        if (subject.simple_) {
            return compiled.matchPlain(compiled.ignoreCase ? std::wstring_view(subject.folded_)
                                                           : subject.text_);
        }
    }
    return matchWithIcu(subject);
}

bool TBRegularExpression::matchWithIcu(const Subject& subject) const {
    // Matchers carry match state and cannot be shared; each thread keeps one
    // per compiled form, and the slot keeps that form alive for it.
    struct MatcherSlot {
        std::shared_ptr<const Compiled> owner;
        std::unique_ptr<icu::RegexMatcher> matcher;
    };
    thread_local std::unordered_map<uint64_t, MatcherSlot> slots;

    auto slot = slots.find(compiled_->id);
    if (slot == slots.end()) {
        if (slots.size() >= MatchersPerThread)
            slots.clear();
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(status));
        if (U_FAILURE(status) || !matcher)
            return false;
        matcher->setTimeLimit(IcuTimeLimit, status);
        slot = slots.emplace(compiled_->id, MatcherSlot{compiled_, std::move(matcher)}).first;
    }

    const std::u16string& text = subject.utf16();
    UErrorCode status = U_ZERO_ERROR;
    UText input = UTEXT_INITIALIZER;
    utext_openUChars(&input, text.data(), static_cast<int64_t>(text.size()), &status);
    bool matched = false;
    if (U_SUCCESS(status)) {
        // The matcher keeps a shallow clone of `input`, pointing at the
        // subject's text; it is not read again before the next reset.
        slot->second.matcher->reset(&input);
        matched = slot->second.matcher->matches(status);
    }
    utext_close(&input);
    if (U_FAILURE(status)) {
        // A time-out or a full backtracking stack may leave the matcher in
        // an unusable state; the next match gets a fresh one.
        slots.erase(slot);
        return false;
    }
    return matched;
}

}  // namespace terbin
