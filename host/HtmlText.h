// The formatted text of a dialog (an about box's body): as plain text for a
// terminal, or as the few pieces a page may show.
#pragma once

#include <string>
#include <vector>

// `html` (UTF-8) as readable lines: a line break or paragraph starts a new
// line (a paragraph after an empty one), a link shows its address after its
// text (only the address when both are the same), other tags are dropped and
// character references decoded. Control characters stay as they are: the
// caller escapes what it prints.
std::string htmlAsText(const std::string& html);

// One piece of formatted text. Only these survive: every other tag is
// dropped (its text kept) and nothing is ever passed on as markup.
struct HtmlSegment {
    enum class Kind { Text, LineBreak, Paragraph, Link };
    Kind kind = Kind::Text;
    // The characters, references decoded (Text and Link).
    std::string text;
    // A link's address as written, references decoded; may be empty.
    std::string address;
};

// `html` (UTF-8) cut into segments in order: text, a line break (br), a
// paragraph's start (p) and links (an a element with its text, closed by
// </a>, a line break or paragraph, or the end). Which addresses may be
// followed is for the caller to decide.
std::vector<HtmlSegment> htmlSegments(const std::string& html);
