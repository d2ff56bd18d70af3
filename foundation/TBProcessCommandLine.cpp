// TBProcess: splitting a command line into a program and its arguments.
#include "foundation/TBProcess.h"

#include <string>
#include <utility>
#include <vector>

namespace terbin {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool escapableInDoubleQuotes(char c) {
    return c == '"' || c == '\\' || c == '$' || c == '`' || c == '\n';
}

}  // namespace

bool TBProcess::splitCommandLine(const TBString& commandLine, std::vector<std::string>& words) {
    const std::string text = commandLine.narrow();
    const size_t size = text.size();
    words.clear();
    std::string word;
    bool inWord = false;  // distinguishes an empty word ("") from no word
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (isBlank(c)) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else if (c == '\\') {
            if (i + 1 == size) {
                word += c;  // a trailing backslash stands for itself
                inWord = true;
            } else if (text[++i] != '\n') {
                word += text[i];
                inWord = true;
            }
        } else if (c == '\'') {
            const size_t close = text.find('\'', i + 1);
            if (close == std::string::npos) {
                return false;
            }
            word.append(text, i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == '"') {
            inWord = true;
            for (++i; i < size && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < size && escapableInDoubleQuotes(text[i + 1])) {
                    ++i;
                    if (text[i] == '\n') {
                        continue;
                    }
                }
                word += text[i];
            }
            if (i == size) {
                return false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return true;
}

}  // namespace terbin
