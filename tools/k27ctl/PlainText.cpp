#include "PlainText.h"

#include <regex>

namespace vantrel::ctl {

namespace {

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

std::string PlainText(const std::string& text) {
  if (!Has(text, "::")) return text;
  // The known failures of the frame code, most telling first.
  if (Has(text, "no 12V power")) return "no 12V power on the ccTalk bus: no device can answer";
  if (Has(text, "local echo expected - received unequivalent data"))
    return "the bus did not echo the request as sent (a fault on the line, or another sender)";
  if (Has(text, "local echo expected"))
    return "the bus did not echo the request (no 12 V power, or nothing attached)";
  if (Has(text, "unable to access device")) return "the board is not connected";
  if (Has(text, "checksum error")) return "the reply's checksum is wrong";
  if (Has(text, "incomplete message")) return "the reply is cut short";
  std::smatch call;
  static const std::regex kBoardCall("Vantrel\\.(\\w+) \\(\\} = error:\\s*(\\w+)");
  if (std::regex_search(text, call, kBoardCall)) return call.str(1) + ": " + call.str(2);
  // Anything else: the wording without the "Class::method () { ... }" around it.
  static const std::regex kWrapper("\\w+::\\w+ \\(\\) \\{ (error: )?|\\s*\\}\\s*");
  std::string plain = std::regex_replace(text, kWrapper, " ");
  plain = std::regex_replace(plain, std::regex("^ +| +$"), "");
  return plain.empty() ? text : plain;
}

}  // namespace vantrel::ctl
