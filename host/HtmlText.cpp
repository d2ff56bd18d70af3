#include "host/HtmlText.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "foundation/TBString.h"

namespace {

// The tag's name in lower case, "/" kept for an end tag ("br", "/a").
std::string tagName(std::string_view tag) {
    std::string name;
    for (const char c : tag) {
        if (std::isspace(static_cast<unsigned char>(c)) || (c == '/' && !name.empty()) || c == '>')
            break;
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

// The value of attribute `attribute` in `tag`, quoted or not; empty when the
// tag has none.
std::string attributeValue(std::string_view tag, std::string_view attribute) {
    std::string lower(tag);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (size_t at = lower.find(attribute); at != std::string::npos;
         at = lower.find(attribute, at + 1)) {
        const bool startsWord = at > 0 && std::isspace(static_cast<unsigned char>(lower[at - 1]));
        size_t next = at + attribute.size();
        while (next < lower.size() && std::isspace(static_cast<unsigned char>(lower[next]))) ++next;
        if (!startsWord || next >= lower.size() || lower[next] != '=')
            continue;
        ++next;
        while (next < lower.size() && std::isspace(static_cast<unsigned char>(lower[next]))) ++next;
        if (next < tag.size() && (tag[next] == '"' || tag[next] == '\'')) {
            const size_t end = tag.find(tag[next], next + 1);
            return std::string(tag.substr(
                next + 1, end == std::string_view::npos ? std::string_view::npos : end - next - 1));
        }
        size_t end = next;
        while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end])) &&
               tag[end] != '>')
            ++end;
        return std::string(tag.substr(next, end - next));
    }
    return std::string();
}

// Decodes the character references of `text`; one that is not known stays
// as written.
std::string decodeReferences(std::string_view text) {
    struct Named {
        std::string_view name;
        uint32_t code;
    };
    constexpr Named Names[] = {{"amp", '&'},   {"lt", '<'},    {"gt", '>'},   {"quot", '"'},
                               {"apos", '\''}, {"nbsp", 0xA0}, {"copy", 0xA9}};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        uint32_t code = 0;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* stop = nullptr;
            const unsigned long value = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (!digits.empty() && *stop == '\0' && value > 0 && value <= 0x10FFFF)
                code = static_cast<uint32_t>(value);
        } else {
            for (const Named& known : Names) {
                if (known.name == name)
                    code = known.code;
            }
        }
        if (code == 0) {
            out += text[i];
            continue;
        }
        terbin::appendUtf8(out, code);
        i = end;
    }
    return out;
}

}  // namespace

std::vector<HtmlSegment> htmlSegments(const std::string& html) {
    std::vector<HtmlSegment> segments;
    bool inLink = false;
    const auto appendText = [&](std::string text) {
        // An open link is the last segment, and takes the text.
        if (text.empty())
            return;
        if (inLink || (!segments.empty() && segments.back().kind == HtmlSegment::Kind::Text))
            segments.back().text += text;
        else
            segments.push_back(HtmlSegment{HtmlSegment::Kind::Text, std::move(text), {}});
    };
    size_t i = 0;
    while (i < html.size()) {
        const size_t open = html.find('<', i);
        appendText(decodeReferences(std::string_view(html).substr(i, open - i)));
        if (open == std::string::npos)
            break;
        const size_t close = html.find('>', open);
        const std::string_view tag = std::string_view(html).substr(
            open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        const std::string name = tagName(tag);
        if (name == "br" || name == "p") {
            inLink = false;
            segments.push_back(HtmlSegment{
                name == "br" ? HtmlSegment::Kind::LineBreak : HtmlSegment::Kind::Paragraph,
                {},
                {}});
        } else if (name == "a") {
            inLink = true;
            segments.push_back(HtmlSegment{
                HtmlSegment::Kind::Link, {}, decodeReferences(attributeValue(tag, "href"))});
        } else if (name == "/a") {
            inLink = false;
        }
        if (close == std::string::npos)
            break;
        i = close + 1;
    }
    return segments;
}

std::string htmlAsText(const std::string& html) {
    std::string out;
    for (const HtmlSegment& segment : htmlSegments(html)) {
        switch (segment.kind) {
            case HtmlSegment::Kind::Text:
                out += segment.text;
                break;
            case HtmlSegment::Kind::LineBreak:
                out += '\n';
                break;
            case HtmlSegment::Kind::Paragraph:
                out += out.empty() || out.back() != '\n' ? "\n\n" : "\n";
                break;
            case HtmlSegment::Kind::Link:
                out += segment.text;
                if (segment.address.empty() || segment.text == segment.address)
                    break;
                out += segment.text.empty() ? segment.address : " <" + segment.address + ">";
                break;
        }
    }
    return out;
}
