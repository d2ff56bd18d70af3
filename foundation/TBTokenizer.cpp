#include "foundation/TBTokenizer.h"

namespace terbin {

TBTokenizer::TBTokenizer(const TBString& delimiters, bool skipEmpty, bool returnDelimiters,
                         int maxTokens)
    : delimiters_(delimiters),
      skipEmpty_(skipEmpty),
      returnDelimiters_(returnDelimiters),
      maxTokens_(maxTokens) {}

void TBTokenizer::setString(const TBString& text) {
    text_ = text;
    position_ = 0;
    given_ = 0;
    trailingEmpty_ = false;
}

bool TBTokenizer::isDelimiter(wchar_t c) const {
    return delimiters_.view().find(c) != std::wstring_view::npos;
}

void TBTokenizer::skipEmptyTokens() {
    if (!skipEmpty_ || returnDelimiters_)
        return;
    while (position_ < text_.length() && isDelimiter(text_[position_])) ++position_;
}

bool TBTokenizer::hasMoreTokens() {
    skipEmptyTokens();
    return position_ < text_.length() || trailingEmpty_;
}

TBString TBTokenizer::nextToken() {
    if (!hasMoreTokens())
        return TBString();
    if (trailingEmpty_) {
        trailingEmpty_ = false;
        ++given_;
        return TBString();
    }
    const int start = position_;
    if (maxTokens_ > 0 && given_ + 1 >= maxTokens_) {
        position_ = text_.length();
        ++given_;
        return text_.mid(start);
    }
    if (returnDelimiters_ && isDelimiter(text_[start])) {
        ++position_;
        ++given_;
        return text_.mid(start, 1);
    }
    int end = start;
    while (end < text_.length() && !isDelimiter(text_[end])) ++end;
    position_ = end;
    if (!returnDelimiters_ && end < text_.length()) {
        ++position_;  // the delimiter that ends this token
        trailingEmpty_ = !skipEmpty_ && position_ == text_.length();
    }
    ++given_;
    return text_.mid(start, end - start);
}

}  // namespace terbin
