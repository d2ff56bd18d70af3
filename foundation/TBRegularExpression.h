// A compiled regular expression in ICU's syntax, matched against whole texts.
//
// "." always matches any character, a line break included (a file name may
// hold one here); as in ICU, a carriage return followed by a line feed counts
// as one character for "." and ".*". An expression that does not compile is
// kept as invalid and never matches.
//
// Compiled forms are shared process-wide by expression text and flags, so
// constructing the same expression again costs a lookup, not a compilation.
// Objects are cheap to copy; one object may be used from several threads at
// the same time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "foundation/TBString.h"

namespace terbin {

class TBRegularExpression {
public:
    // A text prepared once for matching against several expressions: its case
    // fold is made here, its UTF-16 form on first need. Refers to `text`,
    // which must outlive it. Used by one thread.
    class Subject {
    public:
        explicit Subject(const TBString& text);
        Subject(TBString&&) = delete;
        Subject(const Subject&) = delete;
        Subject& operator=(const Subject&) = delete;

    private:
        friend class TBRegularExpression;
        const std::u16string& utf16() const;

        std::wstring_view text_;
        std::wstring folded_;
        // False when some character folds to more than one (as "ß" to "ss")
        // or is not a valid code point; such texts are matched by ICU alone.
        bool simple_ = true;
        mutable std::u16string utf16_;
        mutable bool haveUtf16_ = false;
    };

    // Compiles `expression`. With `ignoreCase` letter case does not count
    // (Unicode case folding); with `multiLine` "^" and "$" also match at line
    // breaks inside the subject.
    TBRegularExpression(const TBString& expression, bool ignoreCase, bool multiLine);

    const TBString& getExpression() const;
    // False when the expression did not compile.
    bool isValid() const;
    // True when the expression consists only of literal characters other
    // than control characters (punctuation may be escaped with a backslash),
    // ".", ".*", ".{1}", a leading "^" and a trailing "$". Such an expression
    // is matched without ICU, with exactly ICU's result, whenever each of the
    // subject's characters folds to a single character.
    bool isPlainWildcard() const;

    // True when the expression matches the whole of `subject`. An invalid
    // expression never matches. A match that exceeds ICU's time limit (a
    // fraction of a second, reached only by repetitions that can split the
    // subject in very many ways, as "(a|aa)*") counts as no match.
    bool matches(const TBString& subject) const;
    bool matches(const Subject& subject) const;

private:
    struct Compiled;
    bool matchWithIcu(const Subject& subject) const;

    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace terbin
