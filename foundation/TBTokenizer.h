// Splits a text into tokens at any of a set of delimiter characters.
#pragma once

#include "foundation/TBString.h"

namespace terbin {

class TBTokenizer {
public:
    // Tokens end at any character of `delimiters`. With `skipEmpty`, the
    // empty tokens between two delimiters in a row (and at either end) are
    // not given; with `returnDelimiters`, each delimiter is a token of its
    // own. A `maxTokens` above 0 makes the last token the whole rest of the
    // text.
    TBTokenizer(const TBString& delimiters, bool skipEmpty, bool returnDelimiters, int maxTokens);

    // Starts over on `text`.
    void setString(const TBString& text);
    bool hasMoreTokens();
    // The next token; empty when there is none.
    TBString nextToken();

private:
    bool isDelimiter(wchar_t c) const;
    // Moves past empty tokens when they are skipped.
    void skipEmptyTokens();

    TBString delimiters_;
    bool skipEmpty_;
    bool returnDelimiters_;
    int maxTokens_;
    TBString text_;
    int position_ = 0;
    int given_ = 0;
    // Whether the text ended with a delimiter whose empty token is still due.
    bool trailingEmpty_ = false;
};

}  // namespace terbin
