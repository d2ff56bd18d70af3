// The formatted text of a dialog (an about box's body) as plain text for a
// terminal.
#pragma once

#include <string>

// `html` (UTF-8) as readable lines: a line break or paragraph starts a new
// line (a paragraph after an empty one), a link shows its address after its
// text (only the address when both are the same), other tags are dropped and
// character references decoded. Control characters stay as they are: the
// caller escapes what it prints.
std::string htmlAsText(const std::string& html);
