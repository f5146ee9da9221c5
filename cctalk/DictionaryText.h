// Text rules of the transaction dictionaries.
#pragma once

#include <string>
#include <string_view>

struct SplitText {
  std::string shortText;  // first line, " ..." appended when there are more
  std::string fullText;   // empty for one line; else every line joined by CR LF
};

// Reduces a description or data layout: blanks, tabs and line breaks around
// the whole text are dropped, lines end at a line feed, tabs at the start of
// each line are dropped.
SplitText SplitDictionaryText(std::string_view text);

// The leading decimal number of a code or length text; 0 when the text does
// not start with a digit. Saturates instead of overflowing.
unsigned long LeadingNumber(std::string_view text);
