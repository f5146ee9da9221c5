#include "DictionaryText.h"

#include <limits>
#include <vector>

namespace {

std::string_view WithoutLeadingTabs(std::string_view line) {
  const auto first = line.find_first_not_of('\t');
  return first == std::string_view::npos ? std::string_view{} : line.substr(first);
}

}  // namespace

SplitText SplitDictionaryText(std::string_view text) {
  // A text written on the lines between its tags starts and ends with the
  // layout's line breaks and indentation, which are not part of it.
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  text = first == std::string_view::npos
             ? std::string_view{}
             : text.substr(first, text.find_last_not_of(kSpace) - first + 1);
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty()) lines.emplace_back();

  SplitText result;
  result.shortText = WithoutLeadingTabs(lines.front());
  if (lines.size() == 1) return result;
  result.shortText += " ...";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) result.fullText += "\r\n";
    result.fullText += WithoutLeadingTabs(lines[i]);
  }
  return result;
}

unsigned long LeadingNumber(std::string_view text) {
  constexpr auto kMax = std::numeric_limits<unsigned long>::max();
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    const auto digit = static_cast<unsigned long>(c - '0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}
